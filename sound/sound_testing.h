// Test-only seams of the sound library. The shipped programs never call these; no option or
// variable reaches them.
#pragma once

#include <chrono>

namespace sound {

// Replaces the sleep of the music and effect threads; null restores the real one.
void set_sound_sleep_for_testing(void (*sleep)(std::chrono::milliseconds));

// Waits until every thread started by `start_sound_thread` has ended. False on time-out.
[[nodiscard]] bool wait_for_sound_threads_for_testing(std::chrono::milliseconds deadline);

}  // namespace sound
