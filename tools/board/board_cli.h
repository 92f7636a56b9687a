// ostakka-board: the weekly board exactly as the game loads it (chain scan, replay verdicts and
// the local cache of the data directory it finds; no wallet session), printed as one JSON object
// or as a table. Operators pay the weekly pot from it; tests use it as a seam.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "arcade/board.h"

namespace board_tool {

inline constexpr int kExitOk = 0;      // a completed load, an empty board included
inline constexpr int kExitFailed = 1;  // the load could not run at all
inline constexpr int kExitUsage = 2;

// The JSON form: "rows" (each row's fields plus "week", "rank" and "replay"), "best" (null
// without one), "has_best", "message" and "week_start".
[[nodiscard]] nlohmann::json board_json(const arcade::BoardResult& result);
// The readable table of --text.
[[nodiscard]] std::string board_text(const arcade::BoardResult& result);

// Runs the tool with its arguments (without the program name) at Unix time `now`. The caller has
// initialised libcurl.
[[nodiscard]] int run_board_cli(const std::vector<std::string>& args, int64_t now, std::string& out,
                                std::string& err);

}  // namespace board_tool
