// The shared fuzz table for readers of JSON files that other programs (or other users) can write:
// each round damages every document of the table, writes it to its file and runs its reader. A
// reader passes when it neither crashes nor lets a bad value through its own checks.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "mangle.h"

namespace test_fuzz {

struct FuzzedFile {
  std::string path;
  std::string document;        // a valid file the damage starts from
  std::function<void()> read;  // reads the file and asserts what must still hold
};

// Byte damage from test_mangle, or a value swapped for one of another type, which reaches the
// type checks that byte damage seldom does.
inline std::string damaged_json(std::string text, std::mt19937& random) {
  static const char* const tokens[] = {"null",
                                       "true",
                                       "[]",
                                       "{}",
                                       "\"\"",
                                       "-1",
                                       "1e999",
                                       "\"..\"",
                                       "\"a/b\"",
                                       "[[[[",
                                       "18446744073709551616"};
  if (random() % 2 == 0) {
    const size_t colon = text.find(':', random() % (text.size() + 1));
    if (colon != std::string::npos) {
      size_t end = text.find_first_of(",}", colon);
      if (end == std::string::npos) end = text.size();
      text.replace(colon + 1, end - colon - 1, tokens[random() % std::size(tokens)]);
      return text;
    }
  }
  test_mangle::mangle(text, random, "{}[]\",:0");
  return text;
}

inline void fuzz_files(const std::vector<FuzzedFile>& table, int rounds) {
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < rounds && !::testing::Test::HasFatalFailure(); ++round) {
    for (const FuzzedFile& file : table) {
      std::filesystem::create_directories(std::filesystem::path(file.path).parent_path());
      std::ofstream(file.path, std::ios::binary | std::ios::trunc)
          << damaged_json(file.document, random);
      SCOPED_TRACE(file.path);
      file.read();
    }
  }
}

}  // namespace test_fuzz
