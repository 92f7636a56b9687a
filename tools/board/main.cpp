// ostakka-board / ostakka-board-devnet: prints this week's board. See board_cli.h.
#include <curl/curl.h>

#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "tools/board/board_cli.h"

int main(int argc, char** argv) {
  try {
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
      std::fputs("error: could not start libcurl\n", stderr);
      return board_tool::kExitFailed;
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string out;
    std::string err;
    const int code =
        board_tool::run_board_cli(args, static_cast<int64_t>(std::time(nullptr)), out, err);
    std::fputs(out.c_str(), stdout);
    std::fputs(err.c_str(), stderr);
    curl_global_cleanup();
    return code;
  } catch (const std::exception& e) {
    // Only resource exhaustion can get here.
    std::fprintf(stderr, "error: %s\n", e.what());
    return board_tool::kExitFailed;
  }
}
