// Random damage to a text, for the fuzz-style tests of the readers of outside data: the seed comes
// from OSTAKKA_SEED when set (print it with SCOPED_TRACE so a failure can be repeated).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

namespace test_mangle {

inline uint32_t seed() {
  const char* text = std::getenv("OSTAKKA_SEED");
  return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : std::random_device{}();
}

// One to four edits: a byte overwritten, a run erased, or a run of one `alphabet` character put in.
inline void mangle(std::string& text, std::mt19937& random, std::string_view alphabet) {
  for (unsigned n = 1 + random() % 4; n > 0 && !text.empty(); --n) {
    const size_t at = random() % text.size();
    switch (random() % 3) {
      case 0:
        text[at] = static_cast<char>(random());
        break;
      case 1:
        text.erase(at, 1 + random() % 16);
        break;
      default:
        text.insert(at, std::string(1 + random() % 5, alphabet[random() % alphabet.size()]));
    }
  }
}

}  // namespace test_mangle
