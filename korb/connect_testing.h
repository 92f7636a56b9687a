#pragma once
// Test-only seam: tests shorten the reply polling so a time-out takes milliseconds, not a
// minute. The shipped programs never call this; there is no option or variable behind it.
#include <chrono>

namespace korb {

// Sets the sleep before each poll and the number of polls. Call before `connect`.
void set_connect_polling_for_testing(std::chrono::milliseconds interval, int limit);

// Back to the shipped values: 500 ms, 120 polls.
void reset_connect_polling_for_testing();

}  // namespace korb
