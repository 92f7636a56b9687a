// Keys reach the run through the main window exactly as a player's do: each key its action on
// the tape, P pausing whatever is under way and never taped, keys dropped while paused or while
// rows flash, auto-repeats counted, nothing taped outside a run. The engine's hooks sound
// through the MIDI device, and the 16 ms timer drives the run.
#include "app/game_keys.h"

#include <gtest/gtest.h>

#include "sound/music.h"
#include "tests/app/app_test_support.h"
#include "tests/sound/recording_output.h"

namespace {

using app_test::Game;
using engine::TapeEntry;

void start_run(Game& game) {
  game.run().entry_txid = std::string(64, '0');
  engine::start_run(game.run());
}

TEST(game_keys, each_key_tapes_its_action_and_only_during_a_run) {
  Game game;
  const struct {
    int key;
    uint8_t action;
  } cases[] = {
      {Qt::Key_Left, engine::MoveLeft},
      {Qt::Key_Right, engine::MoveRight},
      {Qt::Key_Down, engine::SoftDrop},
      {Qt::Key_Up, engine::RotateCW},
      {Qt::Key_X, engine::RotateCW},
      {Qt::Key_Z, engine::RotateCCW},
      {Qt::Key_Space, engine::FastDrop},
      {Qt::Key_A, 0},
      {Qt::Key_Return, 0},
  };
  for (const auto& c : cases) {
    game.run().arcade_state = engine::ArcadeState::Recorded;  // no run under way
    game.run().tape.clear();
    game.key(c.key);
    EXPECT_TRUE(game.run().tape.empty()) << c.key;
    start_run(game);
    game.clock += 48;
    game.key(c.key);
    game.key(c.key, /*auto_repeat=*/true);
    const engine::InputTape want =
        c.action ? engine::InputTape{{48, c.action}, {48, c.action}} : engine::InputTape{};
    EXPECT_EQ(game.run().tape, want) << c.key;
  }
}

// P pauses during a clear too; while paused, or while rows flash, every other key is dropped
// without a trace; paused time never reaches the run.
TEST(game_keys, pause_and_drops_leave_no_trace) {
  Game game;
  start_run(game);
  game.run().game.clearing = 1;  // rows flashing
  game.key(Qt::Key_Space);
  EXPECT_TRUE(game.run().tape.empty());
  game.key(Qt::Key_P);
  EXPECT_EQ(game.status(), "Paused.");
  EXPECT_TRUE(game.run().game.paused);
  game.run().game.clearing = 0;
  for (int key : {Qt::Key_Space, Qt::Key_Left, Qt::Key_Up}) game.key(key);
  game.clock += 5000;
  (void)app_test::pump_until([] { return false; }, 60);  // the timer runs, the run does not
  game.key(Qt::Key_P, /*auto_repeat=*/true);
  EXPECT_EQ(game.status(), "Back.");
  EXPECT_FALSE(game.run().game.paused);
  EXPECT_TRUE(game.run().tape.empty()) << "P and the dropped keys are not taped";
  EXPECT_EQ(game.run().sim_clock, 0u) << "the pause's 5 s never reached the run";
  // The 16 ms timer drives the run from the window's clock.
  game.clock += 160;
  EXPECT_TRUE(app_test::pump_until([&] { return game.run().sim_clock == 160; }, 2000));
}

// The engine's events sound on the effect channel, and a run played to its end with real keys
// plays the game-over notes and arms Record score.
class game_keys_sound : public sound_test::SoundTest {};

TEST_F(game_keys_sound, hooks_play_their_effects_and_a_run_ends_by_keys) {
  sound_test::install_recording_output();
  sound::music_running() = true;
  Game game;
  start_run(game);
  game.key(Qt::Key_Up);
  EXPECT_TRUE(sound_test::wait_until(
      [](const sound_test::Log& log) { return sound_test::count(log, "on 1 84 112") == 1; }));
  for (int i = 0; i < 200 && game.run().arcade_state == engine::ArcadeState::Playing; ++i) {
    game.key(Qt::Key_Space);
    game.clock += 400;
  }
  game.key(Qt::Key_Space);  // the catch-up that finds the blocked spawn
  ASSERT_EQ(game.run().arcade_state, engine::ArcadeState::GameOver);
  EXPECT_EQ(game.status(), "Game over. Record this score on-chain (1 sat).");
  EXPECT_TRUE(game.w().button(app::kRecordScoreId)->isEnabled());
  EXPECT_TRUE(game.w().button(app::kPlayId)->isEnabled());
  EXPECT_EQ(game.run().tape.back().action, engine::RunEnd);
  EXPECT_TRUE(sound_test::wait_until([](const sound_test::Log& log) {
    return sound_test::count(log, "on 1 40 112") > 0 && sound_test::count(log, "on 1 48 112") > 0 &&
           // Effects overlap on their own threads, so only the notes are certain, not their order.
           sound_test::count(log, "on 1 72 112") > 0 && sound_test::count(log, "on 1 57 112") > 0;
  }));
}

}  // namespace
