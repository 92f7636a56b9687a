// Seed of the randomised wallet tests. OSTAKKA_TEST_SEED=<number> repeats a run; otherwise a fresh
// seed is drawn. Either way it is printed once, and every randomised test names it on failure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace wallet_test {

inline uint64_t test_seed() {
  static const uint64_t seed = [] {
    uint64_t value = 0;
    if (const char* text = std::getenv("OSTAKKA_TEST_SEED"); text != nullptr && *text != '\0') {
      value = std::strtoull(text, nullptr, 10);
    } else {
      std::random_device device;
      value = (uint64_t{device()} << 32) | device();
    }
    std::printf("random seed: OSTAKKA_TEST_SEED=%llu\n", static_cast<unsigned long long>(value));
    return value;
  }();
  return seed;
}

inline std::string seed_note() {
  return "OSTAKKA_TEST_SEED=" + std::to_string(test_seed());
}

}  // namespace wallet_test
