#include "ui/tick_clock.h"

#include <chrono>

namespace ui {

uint64_t tick_count_ms() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

}  // namespace ui
