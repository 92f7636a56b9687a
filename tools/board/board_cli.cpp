#include "tools/board/board_cli.h"

#include <ctime>
#include <iomanip>
#include <sstream>

#include "arcade/ui_settings.h"
#include "korb/atomic_file.h"
#include "korb/session.h"

namespace board_tool {
namespace {

using nlohmann::json;

constexpr const char* kUsage =
    "usage: ostakka-board [--text]\n"
    "Loads this week's board from the chain as the game does and prints it as JSON\n"
    "(or as a table with --text). The local scores of the Korb data directory are merged in.\n";

json row_json(const arcade::BoardRow& row) {
  return json{{"entry", row.entry},
              {"game", row.game},
              {"handle", row.handle},
              {"pay_addr", row.pay_addr},
              {"paymail", row.paymail},
              {"pubkey", row.pubkey},
              {"replay", engine::run_verdict_name(row.replay)},
              {"replay_note", row.replay_note},
              {"score", row.score},
              {"ts", row.ts},
              {"txid", row.txid},
              {"week", row.week}};
}

std::string utc_day(int64_t t) {
  const auto seconds = static_cast<std::time_t>(t);
  std::tm parts{};
  if (gmtime_r(&seconds, &parts) == nullptr) return "?";
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
  return text;
}

// Names come from chain data: control characters must not reach the operator's terminal.
std::string printable(const std::string& text) {
  std::string out;
  for (const char c : text) out += static_cast<unsigned char>(c) < 32 || c == 127 ? '?' : c;
  return out;
}

void text_line(std::ostringstream& out, const std::string& rank, const arcade::BoardRow& row) {
  out << std::setw(4) << rank << "  " << std::setw(10) << row.score << "  " << std::left
      << std::setw(20) << printable(arcade::display_name(row)) << "  " << std::setw(8)
      << engine::run_verdict_name(row.replay) << "  " << std::right
      << (row.txid.empty() ? "(local)" : row.txid) << "\n";
}

}  // namespace

json board_json(const arcade::BoardResult& result) {
  json rows = json::array();
  for (std::size_t i = 0; i < result.rows.size(); ++i) {
    json row = row_json(result.rows[i]);
    row["rank"] = i + 1;
    rows.push_back(std::move(row));
  }
  return json{{"best", result.has_best ? row_json(result.best) : json()},
              {"has_best", result.has_best},
              {"message", result.message},
              {"rows", rows},
              {"week_start", result.week_start}};
}

std::string board_text(const arcade::BoardResult& result) {
  std::ostringstream out;
  out << "Week of " << utc_day(result.week_start) << " (UTC)\n";
  if (!result.message.empty()) out << result.message << "\n";
  if (!result.rows.empty()) {
    out << "Rank       Score  Player                Replay    Txid\n";
    for (std::size_t i = 0; i < result.rows.size(); ++i) {
      text_line(out, std::to_string(i + 1), result.rows[i]);
    }
  }
  if (result.has_best) {
    out << "Best ever:\n";
    text_line(out, "-", result.best);
  }
  return out.str();
}

int run_board_cli(const std::vector<std::string>& args, int64_t now, std::string& out,
                  std::string& err) {
  bool as_text = false;
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      out = kUsage;
      return kExitOk;
    }
    if (arg != "--text" || as_text) {
      err = "error: unexpected argument \"" + printable(arg) + "\" (see --help)\n";
      return kExitUsage;
    }
    as_text = true;
  }
  // The devnet build trusts the certificate authority kept in the data directory.
  korb::install_korb_hooks();
  arcade::load_ui_settings();
  arcade::BoardLoadArgs load;
  load.now = now;
  load.prefetch_avatars = false;  // nothing here shows a picture
  const arcade::BoardResult result = arcade::load_board(load);
  out = as_text ? board_text(result) : korb::json_text(board_json(result), 2, true);
  return kExitOk;
}

}  // namespace board_tool
