#include "tools/replay/replay_cli.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "engine/random_player.h"
#include "engine/replay.h"
#include "engine/tape.h"
#include "mangle.h"

extern char** environ;

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kZeroTxid =
    "0000000000000000000000000000000000000000000000000000000000000000";

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

std::string slurp(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class ReplayProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("ostakka-replay-test-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs the built program with `args`, capturing its exit code and both outputs.
  Outcome run(const std::vector<std::string>& args) {
    const std::string program = std::string(OSTAKKA_BIN_DIR) + "/ostakka-replay";
    const std::string out_path = (dir / "stdout").string();
    const std::string err_path = (dir / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    Outcome outcome;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
      // Bounded: a program stuck on its input is killed and fails the test instead of hanging.
      int status = 0;
      for (int waited_ms = 0; waitpid(pid, &status, WNOHANG) == 0; waited_ms += 5) {
        if (waited_ms >= 30000) {
          kill(pid, SIGKILL);
          waitpid(pid, &status, 0);
          break;
        }
        usleep(5000);
      }
      outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    outcome.out = slurp(out_path);
    outcome.err = slurp(err_path);
    return outcome;
  }

  // Expects a refusal with `code` and one "error: " line mentioning `reason`.
  void expect_error(const std::vector<std::string>& args, int code, const std::string& reason) {
    const Outcome outcome = run(args);
    EXPECT_EQ(outcome.code, code) << reason << ": " << outcome.err;
    EXPECT_EQ(outcome.err.rfind("error: ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(reason), std::string::npos) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_TRUE(outcome.out.empty()) << outcome.out;
  }

  std::string write(const std::string& name, const std::string& text) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  fs::path dir;
};

// A finished run recorded through the run layer by the test player.
struct Recorded {
  engine::RunRecord run;
  uint64_t clock = 1;
  size_t spawns = 0;
};

const Recorded& recorded_run() {
  static Recorded* recorded = [] {
    auto* made = new Recorded;
    made->run.entry_txid = "9f" + std::string(60, '1') + "ab";
    made->run.callbacks.tick_count = [made] { return made->clock; };
    made->run.hooks.on_lock = [made] { ++made->spawns; };
    engine::start_run(made->run);
    std::mt19937 random(11);
    engine_test::PlayerStyle style;
    style.noise = 20;
    engine_test::play_run(made->run, made->clock, made->spawns, random, style);
    return made;
  }();
  return *recorded;
}

std::string recorded_hex(const engine::InputTape& tape) {
  return engine::tape_hex(engine::TapeHeader{}, tape);
}

json payload_for(const Recorded& recorded) {
  const std::string hex = recorded_hex(recorded.run.tape);
  return json{{"entry", recorded.run.entry_txid},
              {"tape", hex},
              {"tape_hash", engine::tape_hash(hex)},
              {"score", recorded.run.final_score},
              {"type", "arcade_score"}};
}

TEST_F(ReplayProgram, lists_the_deal_for_an_entry) {
  const Outcome outcome = run({"--entry", kZeroTxid, "--pieces", "14"});
  ASSERT_EQ(outcome.code, 0) << outcome.err;
  const json result = json::parse(outcome.out);
  EXPECT_EQ(result["seed"], 3512459360u);
  EXPECT_EQ(result["pieces"], json({5, 3, 4, 2, 6, 1, 0, 6, 0, 1, 3, 5, 4, 2}));
  for (const char* bad : {"x", "-1", "1000001", "", "3 "}) {
    expect_error({"--entry", kZeroTxid, "--pieces", bad}, 2, "--pieces must be");
  }
}

// The program reports exactly the run the game recorded.
TEST_F(ReplayProgram, replays_a_recorded_tape) {
  const Recorded& recorded = recorded_run();
  const engine::GameState& game = recorded.run.game;
  const Outcome outcome =
      run({"--entry", recorded.run.entry_txid, "--tape", recorded_hex(recorded.run.tape)});
  ASSERT_EQ(outcome.code, 0) << outcome.err;
  const json result = json::parse(outcome.out);
  EXPECT_EQ(result["seed"], engine::seed_from_txid(recorded.run.entry_txid));
  EXPECT_EQ(result["score"], recorded.run.final_score);
  EXPECT_EQ(result["lines"], game.lines);
  EXPECT_EQ(result["height"], game.height);
  EXPECT_EQ(result["lives"], 0);
  EXPECT_EQ(result["ticks"], recorded.run.sim_clock);
  EXPECT_EQ(result["game_over"], true);
  EXPECT_EQ(result["entries"], recorded.run.tape.size());
  EXPECT_EQ(result["pieces"],
            json(engine::deal_pieces(engine::seed_from_txid(recorded.run.entry_txid),
                                     2 + recorded.spawns)));
  ASSERT_EQ(result["board"].size(), 20u);
  for (int y = 0; y < 20; ++y) {
    const std::string row = result["board"][static_cast<size_t>(y)];
    ASSERT_EQ(row.size(), 10u);
    for (int x = 0; x < 10; ++x) {
      const uint32_t cell = game.cell_plane[static_cast<size_t>(y * 10 + x)];
      EXPECT_EQ(row[static_cast<size_t>(x)], cell == 0 ? '.' : static_cast<char>('0' + cell));
    }
  }
  EXPECT_GT(recorded.run.game.lines, 0);
}

// A full tape is about 2 MB of hex, more than one command-line argument may carry, so it comes
// from a file. 199999 moves at time 0 and then gravity ends the game: RunEnd is record 200000.
TEST_F(ReplayProgram, replays_a_full_tape_from_a_file) {
  engine::RunRecord full;
  full.entry_txid = kZeroTxid;
  uint64_t clock = 1;
  full.callbacks.tick_count = [&clock] { return clock; };
  engine::start_run(full);
  for (size_t i = 0; i + 1 < engine::kTapeLimit; ++i) {
    engine::apply_action(full, i % 2 ? engine::MoveRight : engine::MoveLeft);
  }
  clock += 3600000;
  engine::run_tick(full);
  ASSERT_EQ(full.tape.size(), engine::kTapeLimit);
  ASSERT_EQ(full.tape.back().action, engine::RunEnd);
  const std::string path = write("full.hex", recorded_hex(full.tape) + "\n");
  const Outcome outcome = run({"--entry", kZeroTxid, "--tape-file", path});
  ASSERT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(json::parse(outcome.out)["entries"], engine::kTapeLimit);
}

TEST_F(ReplayProgram, refuses_unreadable_tapes_with_exit_2) {
  const std::string good = recorded_hex(recorded_run().run.tape);
  const std::string entry = recorded_run().run.entry_txid;
  expect_error({"--entry", entry, "--tape", good.substr(1)}, 2, "odd number of digits");
  expect_error({"--entry", entry, "--tape", "zz" + good.substr(2)}, 2, "not a hex digit");
  std::string miscounted = good;
  miscounted[12] = miscounted[12] == '0' ? '1' : '0';  // the count's low byte
  expect_error({"--entry", entry, "--tape", miscounted}, 2, "records but holds");
  expect_error({"--entry", entry, "--tape-file", (dir / "missing.hex").string()}, 2, "cannot read");
  // Far more than any tape can be: refused after a bounded read, not loaded whole.
  const std::string huge = write("huge.hex", std::string(size_t{9} << 20, '0'));
  expect_error({"--entry", entry, "--tape-file", huge}, 2, "is larger than");
  expect_error({"--payload", huge}, 2, "is larger than");
  // A FIFO never ends and blocks its reader until someone writes: only regular files are read.
  const std::string fifo = (dir / "tape.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  expect_error({"--entry", entry, "--tape-file", fifo}, 2, "not a regular file");
  expect_error({"--payload", fifo}, 2, "not a regular file");
}

TEST_F(ReplayProgram, refuses_tapes_that_are_not_a_finished_run_with_exit_1) {
  const engine::InputTape& tape = recorded_run().run.tape;
  const std::string entry = recorded_run().run.entry_txid;
  ASSERT_GE(tape.size(), 8u);
  const auto refuse = [&](engine::InputTape changed, const std::string& reason) {
    expect_error({"--entry", entry, "--tape", recorded_hex(changed)}, 1, reason);
  };
  engine::InputTape changed = tape;
  size_t later = 1;
  while (tape[later].time < 16) ++later;
  changed[later + 1].time = tape[later].time - 16;
  refuse(changed, "goes back");
  changed = tape;
  changed[1].time += 4;
  refuse(changed, "not a multiple of 16");
  changed = tape;
  changed[1].action = 9;
  refuse(changed, "unknown action code 9");
  changed = tape;
  changed.pop_back();
  refuse(changed, "ends before game over");
  changed = tape;
  changed.insert(changed.end() - 1, {changed.back().time, engine::RotateCW});
  refuse(changed, "after the game ended");
}

TEST_F(ReplayProgram, refuses_bad_arguments_with_exit_2) {
  expect_error({}, 2, "exactly one of");
  expect_error({"--entry", kZeroTxid}, 2, "exactly one of");
  expect_error({"--tape", "00"}, 2, "--entry TXID is required");
  expect_error({"--entry", "12ab", "--pieces", "3"}, 2, "64-digit hex txid");
  expect_error({"--entry", kZeroTxid, "--pieces", "3", "--tape", "00"}, 2, "exactly one of");
  expect_error({"--entry", kZeroTxid, "--pieces"}, 2, "needs a value");
  expect_error({"--entry", kZeroTxid, "--entry", kZeroTxid, "--pieces", "1"}, 2, "given twice");
  expect_error({"--frobnicate"}, 2, "unknown argument");
  const Outcome help = run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("--payload FILE"), std::string::npos);
}

// A payload holds up only when its hash covers its tape, the tape replays to its RunEnd, and the
// replay scores what the payload claims.
TEST_F(ReplayProgram, checks_score_payloads) {
  json payload = payload_for(recorded_run());
  const Outcome good = run({"--payload", write("good.json", payload.dump())});
  EXPECT_EQ(good.code, 0) << good.err;
  EXPECT_EQ(json::parse(good.out)["score"], recorded_run().run.final_score);

  json inflated = payload;
  inflated["score"] = recorded_run().run.final_score + 1;
  expect_error({"--payload", write("inflated.json", inflated.dump())}, 1,
               "does not match the replayed score");

  json swapped = payload;
  swapped["tape_hash"] = engine::tape_hash(recorded_hex({{0, engine::RunEnd}}));
  expect_error({"--payload", write("swapped.json", swapped.dump())}, 1,
               "\"tape_hash\" does not match");

  engine::InputTape cut = recorded_run().run.tape;
  cut.pop_back();
  json unfinished = payload;
  unfinished["tape"] = recorded_hex(cut);
  unfinished["tape_hash"] = engine::tape_hash(unfinished["tape"].get<std::string>());
  expect_error({"--payload", write("cut.json", unfinished.dump())}, 1, "ends before game over");

  json untyped = payload;
  untyped["score"] = "12";
  expect_error({"--payload", write("untyped.json", untyped.dump())}, 1, "\"score\"");
  json missing = payload;
  missing.erase("tape");
  expect_error({"--payload", write("missing.json", missing.dump())}, 1, "no \"tape\"");

  expect_error({"--payload", write("broken.json", "{\"entry\": ")}, 2, "not a JSON object");
  expect_error({"--payload", write("array.json", "[1,2]")}, 2, "not a JSON object");
  expect_error({"--payload", (dir / "absent.json").string()}, 2, "cannot read");
}

// One run has one signed form: a tape header other than 1, 0, 0 or an entry spelt in any other way
// than 64 lower-case hex digits is refused, although the seed rule would replay it.
TEST_F(ReplayProgram, refuses_payloads_not_in_the_canonical_form) {
  const json payload = payload_for(recorded_run());
  const std::string entry = payload["entry"].get<std::string>();
  std::string upper = entry;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  json odd_header = payload;
  odd_header["tape"] = engine::tape_hex(engine::TapeHeader{1, 7, 0}, recorded_run().run.tape);
  odd_header["tape_hash"] = engine::tape_hash(odd_header["tape"].get<std::string>());
  expect_error({"--payload", write("header.json", odd_header.dump())}, 1, "tape header");
  for (const std::string& spelling :
       {upper, entry + " ", " " + entry, entry + std::string(1, '\0')}) {
    json respelt = payload;
    respelt["entry"] = spelling;
    expect_error({"--payload", write("entry.json", respelt.dump())}, 1, "\"entry\"");
  }
}

// Mangled payloads never crash the reader and always get one of the three answers.
TEST_F(ReplayProgram, mangled_payloads_never_crash) {
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const std::string original = payload_for(recorded_run()).dump();
  const std::string path = (dir / "mangled.json").string();
  int accepted = 0;
  for (int round = 0; round < 300; ++round) {
    std::string text = original;
    test_mangle::mangle(text, random, "{}[]\",:0f");
    if (text.empty()) text = "{";
    write("mangled.json", text);
    std::string out;
    std::string err;
    const int code = replay_tool::run_replay_cli({"--payload", path}, out, err);
    ASSERT_TRUE(code == 0 || code == 1 || code == 2) << code;
    if (code == 0) {
      ++accepted;
    } else {
      EXPECT_EQ(err.rfind("error: ", 0), 0u);
    }
  }
  EXPECT_LT(accepted, 300);
}

}  // namespace
