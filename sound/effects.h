// Sound effects: short note sequences on channel 1, each played by a thread of its own so that
// effects may overlap and the window never waits. One function per game event, for the engine's
// hooks.
#pragma once

namespace sound {

// If the sound switch is on and the device is open, copies the lists and starts a detached
// thread that plays `count` notes, each for its length in milliseconds; returns at once. Answers
// whether a thread started: with the switch off or no device nothing happens.
bool play_effect(const int* notes, const int* lengths_ms, int count);

void play_lock_effect();            // a piece locks and no row is full
void play_lines_effect(int count);  // `count` rows full: one to three, or four
void play_drop_effect();            // a fast drop or a cascade begins
void play_rotate_effect();          // a rotation succeeded
void play_game_over_effect();       // the run has ended

}  // namespace sound
