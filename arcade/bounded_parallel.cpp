#include "arcade/bounded_parallel.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace arcade {

void run_bounded_parallel(std::size_t count, int width,
                          const std::function<void(std::size_t)>& work) {
  if (width <= 1 || count <= 1) {
    for (std::size_t i = 0; i < count; ++i) work(i);
    return;
  }
  std::atomic<std::size_t> next{0};
  const auto drain = [&] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  const std::size_t helpers = std::min(count, static_cast<std::size_t>(width)) - 1;
  std::vector<std::thread> threads;
  threads.reserve(helpers);
  for (std::size_t i = 0; i < helpers; ++i) {
    try {
      threads.emplace_back(drain);
    } catch (const std::system_error&) {
      break;  // out of threads: the ones running (and this one) take the rest
    }
  }
  drain();
  for (std::thread& thread : threads) thread.join();
}

}  // namespace arcade
