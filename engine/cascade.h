// Sticky gravity: after a lock or a clear, every piece (or piece fragment) left hanging falls as
// a rigid group, one row per step, until it rests on something. Groups are told apart by the
// piece serial of their cells, so two touching pieces of one colour never merge.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace engine {

// Starts a cascade when something floats, otherwise checks for full rows.
void settle(GameState& game, uint64_t now);

// Moves every floating group one row down. Returns false when nothing floats.
bool cascade_step(GameState& game);

}  // namespace engine
