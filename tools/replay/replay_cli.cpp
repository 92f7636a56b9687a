#include "tools/replay/replay_cli.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <map>

#include "engine/replay.h"
#include "engine/tape.h"

namespace replay_tool {
namespace {

using nlohmann::json;

constexpr size_t kMaxPieces = 1000000;
// A payload holds the tape hex (at most about 2 MB) and a few short fields.
constexpr size_t kMaxFileBytes = 8u << 20;

constexpr const char* kUsage =
    "usage: ostakka-replay --entry TXID --tape HEX\n"
    "       ostakka-replay --entry TXID --tape-file FILE\n"
    "       ostakka-replay --entry TXID --pieces N\n"
    "       ostakka-replay --payload FILE\n";

struct Failure {
  int code = kExitOk;
  std::string reason;
};

json result_json(const engine::ReplayResult& result) {
  const engine::GameState& game = result.game;
  json board = json::array();
  for (int row = 0; row < engine::kWellRows; ++row) {
    std::string line(engine::kWellColumns, '.');
    for (int x = 0; x < engine::kWellColumns; ++x) {
      const uint32_t cell = game.cell_plane[static_cast<size_t>(row * engine::kWellColumns + x)];
      if (cell != 0) line[static_cast<size_t>(x)] = static_cast<char>('0' + cell);
    }
    board.push_back(line);
  }
  return json{
      {"board", board},          {"entries", result.entries}, {"game_over", game.game_over != 0},
      {"height", game.height},   {"lines", game.lines},       {"lives", game.lives},
      {"pieces", result.pieces}, {"score", game.score},       {"seed", result.seed},
      {"ticks", result.ticks}};
}

// Only regular files: a FIFO or a device named on the command line would block the read, or
// never end.
bool read_file(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    error = "cannot read " + path + (fd >= 0 ? ": not a regular file" : "");
    return false;
  }
  char buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxFileBytes) {
      ::close(fd);
      error = path + " is larger than " + std::to_string(kMaxFileBytes) + " bytes";
      return false;
    }
  }
  ::close(fd);
  if (n < 0) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

// Layout errors make the tape unreadable; a readable tape that does not replay to its end is
// rejected.
Failure replay_hex(const std::string& entry, const std::string& hex, engine::ReplayResult& result) {
  engine::TapeHeader header;
  engine::InputTape tape;
  std::string error;
  if (!engine::parse_tape(hex, header, tape, error)) return {kExitUnreadable, error};
  if (!engine::replay_tape(entry, tape, result, error)) return {kExitRejected, error};
  return {};
}

Failure check_payload(const std::string& path, engine::ReplayResult& result) {
  std::string text;
  std::string error;
  if (!read_file(path, text, error)) return {kExitUnreadable, error};
  const json payload = json::parse(text, nullptr, false);
  if (payload.is_discarded() || !payload.is_object()) {
    return {kExitUnreadable, path + " is not a JSON object"};
  }
  for (const char* key : {"entry", "tape", "tape_hash"}) {
    const auto it = payload.find(key);
    if (it == payload.end() || !it->is_string()) {
      return {kExitRejected, std::string("payload has no \"") + key + "\" text"};
    }
  }
  const auto score = payload.find("score");
  if (score == payload.end() || !score->is_number_integer()) {
    return {kExitRejected, "payload has no whole-number \"score\""};
  }
  engine::RunCheck run;
  const engine::RunVerdict verdict = engine::check_recorded_run(
      payload["entry"].get<std::string>(), payload["tape"].get<std::string>(),
      payload["tape_hash"].get<std::string>(), score->get<int64_t>(), run, error);
  // An unsigned score above the signed range reads back negative, which no replay scores.
  if (verdict != engine::RunVerdict::verified) return {kExitRejected, error};
  result = std::move(run.replay);
  return {};
}

Failure usage(const std::string& reason) {
  return {kExitUnreadable, reason};
}

}  // namespace

int run_replay_cli(const std::vector<std::string>& args, std::string& out, std::string& err) {
  std::map<std::string, std::string> options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") {
      out = kUsage;
      return kExitOk;
    }
    if (name != "--entry" && name != "--tape" && name != "--tape-file" && name != "--pieces" &&
        name != "--payload") {
      err = "error: unknown argument \"" + name + "\" (see --help)\n";
      return kExitUnreadable;
    }
    if (i + 1 >= args.size()) {
      err = "error: " + name + " needs a value\n";
      return kExitUnreadable;
    }
    if (!options.emplace(name, args[++i]).second) {
      err = "error: " + name + " given twice\n";
      return kExitUnreadable;
    }
  }

  const auto has = [&options](const char* name) { return options.count(name) != 0; };
  const int sources = has("--tape") + has("--tape-file") + has("--pieces") + has("--payload");
  Failure failure;
  engine::ReplayResult result;
  json output;
  if (sources != 1) {
    failure = usage("give exactly one of --tape, --tape-file, --pieces or --payload (see --help)");
  } else if (has("--payload")) {
    if (has("--entry")) {
      failure = usage("--payload takes its entry txid from the payload");
    } else {
      failure = check_payload(options["--payload"], result);
      if (failure.code == kExitOk) output = result_json(result);
    }
  } else if (!has("--entry")) {
    failure = usage("--entry TXID is required");
  } else if (!engine::is_txid(options["--entry"])) {
    failure = usage("--entry must be a 64-digit hex txid");
  } else if (has("--pieces")) {
    const std::string& text = options["--pieces"];
    size_t count = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (ec != std::errc() || end != text.data() + text.size() || count > kMaxPieces) {
      failure = usage("--pieces must be a whole number from 0 to " + std::to_string(kMaxPieces));
    } else {
      const uint32_t seed = engine::seed_from_txid(options["--entry"]);
      output = json{{"pieces", engine::deal_pieces(seed, count)}, {"seed", seed}};
    }
  } else {
    std::string hex = options["--tape"];
    std::string error;
    if (has("--tape-file") && !read_file(options["--tape-file"], hex, error)) {
      failure = usage(error);
    } else {
      failure = replay_hex(options["--entry"], hex, result);
      if (failure.code == kExitOk) output = result_json(result);
    }
  }
  if (failure.code != kExitOk) {
    err = "error: " + failure.reason;
    if (err.back() != '\n') err += '\n';
    return failure.code;
  }
  out = output.dump() + "\n";
  return kExitOk;
}

}  // namespace replay_tool
