// Seed of the randomised tests: OSTAKKA_TEST_SEED=<number> repeats a run, otherwise a fresh seed
// is drawn. It is printed once, and every randomised test names it on failure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace wallet_test {

inline uint64_t test_seed() {
  static const uint64_t seed = [] {
    const char* text = std::getenv("OSTAKKA_TEST_SEED");
    const uint64_t value = text != nullptr && *text != '\0'
                               ? std::strtoull(text, nullptr, 10)
                               : uint64_t{std::random_device{}()} << 32 | std::random_device{}();
    std::printf("random seed: OSTAKKA_TEST_SEED=%llu\n", static_cast<unsigned long long>(value));
    return value;
  }();
  return seed;
}

inline std::string seed_note() {
  return "OSTAKKA_TEST_SEED=" + std::to_string(test_seed());
}

}  // namespace wallet_test
