// The input tape as bytes: a 0x01 format byte, the tape header (version byte, two 16-bit words),
// a 32-bit record count and 5 bytes per record (32-bit time, action code), all little-endian.
// The score record carries these bytes as hex together with their SHA-256.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run.h"

namespace engine {

inline constexpr uint8_t kTapeFormat = 0x01;
inline constexpr size_t kTapePrefixBytes = 10;
inline constexpr size_t kTapeRecordBytes = 5;
// The longest hex text a tape of kTapeLimit records can have.
inline constexpr size_t kTapeHexLimit = 2 * (kTapePrefixBytes + kTapeRecordBytes * kTapeLimit);

[[nodiscard]] std::vector<uint8_t> serialize_tape(const TapeHeader& header, const InputTape& tape);
[[nodiscard]] std::string tape_hex(const TapeHeader& header, const InputTape& tape);

// The same for the current run.
[[nodiscard]] std::vector<uint8_t> serialize_tape();
[[nodiscard]] std::string tape_hex();

// Lower-case hex SHA-256 of the bytes a tape hex text decodes to. Surrounding bytes <= 32 are
// ignored and both digit cases are accepted; an odd length or a non-hex digit gives "".
[[nodiscard]] std::string tape_hash(std::string_view hex);

// Reads a tape hex text back into its header and records. Checks the layout only (format byte,
// version, count against length, the record limit), not whether the records make a valid run.
[[nodiscard]] bool parse_tape(std::string_view hex, TapeHeader& header, InputTape& tape,
                              std::string& error);

}  // namespace engine
