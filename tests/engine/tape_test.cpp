#include "engine/tape.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace {

using namespace engine;

uint32_t test_seed() {
  const char* text = std::getenv("OSTAKKA_SEED");
  return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : std::random_device{}();
}

// The byte layout is what score records carry on-chain; any change breaks every stored tape.
TEST(tape, run_end_only_tape_is_fifteen_bytes_with_known_hash) {
  const InputTape tape{{0x12345670u, RunEnd}};
  EXPECT_EQ(serialize_tape(TapeHeader{}, tape),
            (std::vector<uint8_t>{1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0x70, 0x56, 0x34, 0x12, 0xff}));
  const std::string hex = tape_hex(TapeHeader{}, tape);
  EXPECT_EQ(hex,
            "010100000000010000007056341"
            "2ff");
  EXPECT_EQ(tape_hash(hex), "14e7deb3191e9bd9ed0b23e46c474b62a443ead37dfeec03d2b9f056421bd6c1");
  EXPECT_EQ(tape_hash(tape_hex(TapeHeader{}, {})),
            "627d256f1d5abaa3a870e08d021ec18b8112b3e6ff0ef4a15a948eac307b20dd");
}

TEST(tape, header_words_are_written_little_endian) {
  const TapeHeader header{1, 0x0201, 0x0403};
  const std::vector<uint8_t> bytes = serialize_tape(header, {{1, MoveLeft}, {2, FastDrop}});
  EXPECT_EQ(bytes.size(), 20u);
  EXPECT_EQ((std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10)),
            (std::vector<uint8_t>{1, 1, 1, 2, 3, 4, 2, 0, 0, 0}));
}

// The hash is taken over the decoded bytes, so padding and digit case do not change it, and a
// text that does not decode has no hash at all.
TEST(tape, hash_ignores_padding_and_case_and_rejects_bad_text) {
  const std::string hex = "0101000000000100000070563412ff";
  const std::string expected = tape_hash(hex);
  EXPECT_EQ(tape_hash(" \t" + hex + "\r\n"), expected);
  EXPECT_EQ(tape_hash("0101000000000100000070563412FF"), expected);
  EXPECT_EQ(tape_hash(hex + "0"), "");
  EXPECT_EQ(tape_hash("0101000000000100000070563412fg"), "");
  EXPECT_EQ(tape_hash("01 01"), "");
}

TEST(tape, serialise_without_arguments_reads_the_current_run) {
  RunRecord& run = current_run();
  run.tape = {{32, RotateCW}, {48, RunEnd}};
  run.tape_header = TapeHeader{};
  EXPECT_EQ(serialize_tape(), serialize_tape(run.tape_header, run.tape));
  EXPECT_EQ(tape_hex(),
            "0101000000000200000020000000043000000"
            "0ff");
  run = RunRecord{};
}

// Reading a tape back checks its layout: anything that does not describe exactly `count`
// records of a known format is refused with a reason.
TEST(tape, parse_refuses_bad_layouts) {
  const std::string good = tape_hex(TapeHeader{}, {{16, MoveLeft}, {32, RunEnd}});
  TapeHeader header;
  InputTape tape;
  std::string error;
  ASSERT_TRUE(parse_tape(good, header, tape, error)) << error;
  ASSERT_EQ(tape.size(), 2u);
  EXPECT_EQ(tape[1].time, 32u);
  EXPECT_EQ(tape[1].action, RunEnd);

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
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

// Random tapes survive the round trip, and random or mutated texts never crash the reader; any
// text it accepts is exactly the serialisation of what it read.
TEST(tape, round_trip_and_fuzz) {
  const uint32_t seed = test_seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 300; ++round) {
    InputTape tape(random() % 50);
    for (TapeEntry& entry : tape)
      entry = {static_cast<uint32_t>(random()), static_cast<uint8_t>(random())};
    const TapeHeader header{1, static_cast<uint16_t>(random()), static_cast<uint16_t>(random())};
    const std::string hex = tape_hex(header, tape);
    TapeHeader read_header;
    InputTape read;
    std::string error;
    ASSERT_TRUE(parse_tape(hex, read_header, read, error)) << error;
    EXPECT_EQ(tape_hex(read_header, read), hex);

    std::string mutated = hex;
    for (unsigned flips = 1 + random() % 4; flips > 0; --flips) {
      switch (random() % 3) {
        case 0:
          mutated[random() % mutated.size()] = "0123456789abcdefXZ "[random() % 19];
          break;
        case 1:
          mutated.erase(random() % mutated.size(), 1 + random() % 6);
          break;
        default:
          mutated.insert(random() % mutated.size(), std::string(1 + random() % 6, '0'));
      }
      if (mutated.empty()) mutated = "0";
    }
    if (parse_tape(mutated, read_header, read, error)) {
      EXPECT_EQ(tape_hash(tape_hex(read_header, read)), tape_hash(mutated));
    }
  }
}

}  // namespace
