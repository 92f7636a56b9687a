// The command-line side of korb: runs one parsed command, writes its results to `out` and its
// complaints to `err`, and answers with the process exit code (0 done, 1 refused or failed,
// 2 bad usage).
#pragma once

#include <ostream>

#include "tools/korb/command_line.h"

namespace korb_app {

inline constexpr int exit_ok = 0;
inline constexpr int exit_failed = 1;
inline constexpr int exit_usage = 2;

// Runs every verb except Verb::window, which main() handles with Qt.
[[nodiscard]] int run_command(Command& command, std::ostream& out, std::ostream& err);

}  // namespace korb_app
