#include "engine/tape.h"

#include <gtest/gtest.h>

#include <random>

#include "mangle.h"

namespace {

using namespace engine;

// The byte layout is carried on-chain; any change breaks every stored tape. The hash (as
// sha256sum gives it for the 15 bytes) covers the decoded bytes, so padding and case do not count.
TEST(tape, layout_and_hash_of_a_known_tape) {
  const InputTape tape{{0x12345670u, RunEnd}};
  EXPECT_EQ(serialize_tape(TapeHeader{1, 0x0201, 0x0403}, tape),
            (std::vector<uint8_t>{1, 1, 1, 2, 3, 4, 1, 0, 0, 0, 0x70, 0x56, 0x34, 0x12, 0xff}));
  const std::string hex = tape_hex(TapeHeader{}, tape);
  EXPECT_EQ(hex, "0101000000000100000070563412ff");
  const std::string hash = "14e7deb3191e9bd9ed0b23e46c474b62a443ead37dfeec03d2b9f056421bd6c1";
  const std::pair<std::string, std::string> cases[] = {
      {hex, hash},     {" \t" + hex + "\r\n", hash}, {"0101000000000100000070563412FF", hash},
      {hex + "0", ""}, {hex.substr(2) + "fg", ""},   {"01 01", ""}};
  for (const auto& [text, want] : cases) EXPECT_EQ(tape_hash(text), want) << text;
}

TEST(tape, parse_refuses_bad_layouts) {
  const std::string good = tape_hex(TapeHeader{}, {{16, MoveLeft}, {32, RunEnd}});
  TapeHeader header;
  InputTape tape;
  std::string error;
  const std::pair<std::string, std::string> bad[] = {
      {good.substr(1), "odd"},
      {good.substr(0, 20) + "zz" + good.substr(22), "not a hex digit"},
      {"0101000000", "shorter"},
      {"02" + good.substr(2), "format"},
      {"0102" + good.substr(4), "version"},
      {"0100" + good.substr(4), "version"},
      {good.substr(0, good.size() - 10), "holds 1"},
      {good.substr(0, good.size() - 2), "partial"},
      {good + "1000000001", "holds 3"},
      {std::string(kTapeHexLimit + 2, '0'), "longer"},
  };
  for (const auto& [text, reason] : bad) {
    error.clear();
    EXPECT_FALSE(parse_tape(text, header, tape, error)) << reason;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
}

// Any damaged text the reader accepts must be exactly the serialisation of what it read.
TEST(tape, round_trip_and_fuzz) {
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 300; ++round) {
    InputTape tape(random() % 50);
    for (TapeEntry& entry : tape) {
      entry = {static_cast<uint32_t>(random()), static_cast<uint8_t>(random())};
    }
    const TapeHeader header{1, static_cast<uint16_t>(random()), static_cast<uint16_t>(random())};
    const std::string hex = tape_hex(header, tape);
    TapeHeader read_header;
    InputTape read;
    std::string error;
    ASSERT_TRUE(parse_tape(hex, read_header, read, error)) << error;
    EXPECT_EQ(read_header, header);
    EXPECT_EQ(read, tape);

    std::string damaged = hex;
    test_mangle::mangle(damaged, random, "0123456789abcdef");
    if (parse_tape(damaged, read_header, read, error)) {
      EXPECT_EQ(tape_hash(tape_hex(read_header, read)), tape_hash(damaged));
    }
  }
}

}  // namespace
