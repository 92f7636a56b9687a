// The bounded parallel runner: all work done once, never more at a time than asked.
#include "arcade/bounded_parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(BoundedParallel, does_every_index_once_within_its_width) {
  for (const int width : {0, 1, 3, 8}) {
    std::vector<std::atomic<int>> done(40);
    std::atomic<int> running{0}, most{0};
    arcade::run_bounded_parallel(done.size(), width, [&](std::size_t i) {
      const int now = ++running;
      for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ++done[i];
      --running;
    });
    for (const auto& count : done) EXPECT_EQ(count, 1) << width;
    EXPECT_LE(most, std::max(width, 1));
    if (width == 8) {
      EXPECT_GT(most, 1);
    }
  }
}

}  // namespace
