#include "tools/replay/replay_cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "engine/known_run.h"
#include "engine/replay.h"
#include "engine/tape.h"
#include "mangle.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

Outcome cli(const std::vector<std::string>& args) {
  Outcome outcome;
  outcome.code = replay_tool::run_replay_cli(args, outcome.out, outcome.err);
  return outcome;
}

const json kKnownPayload = {{"entry", engine_test::kKnownEntry},
                            {"tape", engine_test::kKnownTape},
                            {"tape_hash", engine_test::kKnownTapeHash},
                            {"score", engine_test::kKnownScore},
                            {"type", "arcade_score"}};

class ReplayCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("ostakka-replay-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string write(const std::string& name, const std::string& text) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  fs::path dir;
};

TEST_F(ReplayCli, reports_the_run_a_tape_records) {
  const Outcome outcome =
      cli({"--entry", engine_test::kKnownEntry, "--tape", engine_test::kKnownTape});
  ASSERT_EQ(outcome.code, 0) << outcome.err;
  const uint32_t seed = engine::seed_from_txid(engine_test::kKnownEntry);
  const json expected = {{"board", engine_test::kKnownBoard},
                         {"entries", engine_test::kKnownRecords},
                         {"game_over", true},
                         {"height", engine_test::kKnownHeight},
                         {"lines", engine_test::kKnownLines},
                         {"lives", 0},
                         {"pieces", engine::deal_pieces(seed, engine_test::kKnownPieces)},
                         {"score", engine_test::kKnownScore},
                         {"seed", seed},
                         {"ticks", engine_test::kKnownTicks}};
  EXPECT_EQ(json::parse(outcome.out), expected);
}

// A FIFO would block the reader forever and a huge file must be refused after a bounded read;
// but a full tape, about 2 MB of hex, is read from its file in full.
TEST_F(ReplayCli, refuses_what_it_cannot_use_with_its_exit_code) {
  const std::string entry = engine_test::kKnownEntry;
  const std::string huge = write("huge.hex", std::string(size_t{9} << 20, '0'));
  const std::string full =
      write("full.hex",
            engine::tape_hex({}, engine::InputTape(engine::kTapeLimit, {0, engine::MoveLeft})));
  const std::string fifo = (dir / "tape.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string tape = engine_test::kKnownTape;
  json payload = kKnownPayload;
  payload["score"] = engine_test::kKnownScore + 1;
  const std::string inflated = write("inflated.json", payload.dump());
  payload["score"] = "12";
  const std::string untyped = write("untyped.json", payload.dump());
  payload.erase("tape");
  const std::string missing = write("missing.json", payload.dump());
  const struct {
    std::vector<std::string> args;
    int code;
    std::string reason;
  } cases[] = {
      {{"--entry", "12ab", "--pieces", "3"}, 2, "64-digit hex txid"},
      {{"--entry", engine_test::kZeroTxid, "--pieces", "1000001"}, 2, "--pieces must be"},
      {{"--entry", entry, "--tape", tape.substr(1)}, 2, "odd number of digits"},
      {{"--entry", entry, "--tape-file", (dir / "absent.hex").string()}, 2, "cannot read"},
      {{"--entry", entry, "--tape-file", huge}, 2, "is larger than"},
      {{"--payload", fifo}, 2, "not a regular file"},
      {{"--payload", write("broken.json", "{\"entry\": ")}, 2, "not a JSON object"},
      {{"--entry", entry, "--tape-file", full}, 1, "tape is full"},
      {{"--payload", inflated}, 1, "does not match the replayed score"},
      {{"--payload", untyped}, 1, "\"score\""},
      {{"--payload", missing}, 1, "no \"tape\""},
  };
  for (const auto& c : cases) {
    const Outcome outcome = cli(c.args);
    EXPECT_EQ(outcome.code, c.code) << c.reason << ": " << outcome.err;
    EXPECT_EQ(outcome.err.rfind("error: ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(c.reason), std::string::npos) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_EQ(outcome.out, "");
  }
}

// Mangled payloads never crash the reader and always get one of the three answers.
TEST_F(ReplayCli, survives_mangled_payloads) {
  const std::string original = kKnownPayload.dump();
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  int accepted = 0;
  for (int round = 0; round < 300; ++round) {
    std::string text = original;
    test_mangle::mangle(text, random, "{}[]\",:0f");
    if (text.empty()) text = "{";
    const Outcome outcome = cli({"--payload", write("mangled.json", text)});
    ASSERT_TRUE(outcome.code == 0 || outcome.code == 1 || outcome.code == 2) << outcome.code;
    if (outcome.code == 0) {
      ++accepted;
    } else {
      EXPECT_EQ(outcome.err.rfind("error: ", 0), 0u);
    }
  }
  EXPECT_LT(accepted, 300);
}

}  // namespace
