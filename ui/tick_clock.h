// The millisecond tick count the flash and banner phases are taken from. Widgets read time only
// through a replaceable source, so tests can hold a flash in either phase.
#pragma once

#include <cstdint>
#include <functional>

namespace ui {

using TickSource = std::function<uint64_t()>;

// Monotonic milliseconds from an arbitrary start; never goes back when the wall clock is set.
[[nodiscard]] uint64_t tick_count_ms();

}  // namespace ui
