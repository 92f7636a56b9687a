// ostakka-replay: headless replay of a recorded run. See replay_cli.h for the exit codes.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/replay/replay_cli.h"

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string out;
    std::string err;
    const int code = replay_tool::run_replay_cli(args, out, err);
    std::fputs(out.c_str(), stdout);
    std::fputs(err.c_str(), stderr);
    return code;
  } catch (const std::exception& e) {
    // Only resource exhaustion can get here; report it as unreadable input.
    std::fprintf(stderr, "error: %s\n", e.what());
    return replay_tool::kExitUnreadable;
  }
}
