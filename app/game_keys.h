// The keys of a run: arrows move and drop, Up or X and Z rotate, Space starts a fast drop, P
// pauses. What a key does depends on the run only, so it is decided here, away from the window.
#pragma once

#include <cstdint>

#include "engine/run.h"

namespace app {

// The action code a key stands for (Qt key numbers), or 0 for P and every other key.
[[nodiscard]] uint8_t action_for_key(int qt_key);

enum class KeyOutcome {
  not_playing,  // no run under way: the key is not the game's
  paused,       // P paused the run
  resumed,      // P resumed it
  dropped,      // paused, or a clear or cascade under way: the key leaves no trace
  applied,      // handed to the run (which may still find it has no effect)
  unmapped,     // a key the game does not use
};

// One key press (auto-repeats count as presses). P toggles the pause whatever else is under way
// and never reaches the tape; any other key is dropped while paused or while a clear or cascade
// is under way, so it leaves no tape entry; a game key goes through apply_action.
KeyOutcome press_game_key(engine::RunRecord& run, int qt_key);

}  // namespace app
