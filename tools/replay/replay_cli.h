// The ostakka-replay command line: replays a tape, lists the deal for an entry txid, or checks a
// score payload against its own tape. Exit codes: 0 success, 1 the tape or payload does not hold
// up, 2 unusable arguments or unreadable input.
#pragma once

#include <string>
#include <vector>

namespace replay_tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRejected = 1;
inline constexpr int kExitUnreadable = 2;

// Runs the program on its arguments (without the program name). Standard output goes to `out`,
// the one-line error to `err`.
[[nodiscard]] int run_replay_cli(const std::vector<std::string>& args, std::string& out,
                                 std::string& err);

}  // namespace replay_tool
