#include "engine/tape.h"

#include <openssl/sha.h>

namespace engine {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void put_u16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void put_u32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t get_u32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view trim_controls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

// Decodes trimmed hex; false on an odd length or a non-hex digit.
bool decode_hex(std::string_view hex, std::vector<uint8_t>& out) {
  hex = trim_controls(hex);
  if (hex.size() % 2 != 0) return false;
  out.clear();
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = hex_value(hex[i]);
    const int low = hex_value(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

std::string encode_hex(const uint8_t* bytes, size_t size) {
  std::string hex(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    hex[2 * i] = kHexDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kHexDigits[bytes[i] & 0x0f];
  }
  return hex;
}

}  // namespace

std::vector<uint8_t> serialize_tape(const TapeHeader& header, const InputTape& tape) {
  std::vector<uint8_t> out;
  out.reserve(kTapePrefixBytes + kTapeRecordBytes * tape.size());
  out.push_back(kTapeFormat);
  out.push_back(header.version);
  put_u16(out, header.word1);
  put_u16(out, header.word2);
  put_u32(out, static_cast<uint32_t>(tape.size()));
  for (const TapeEntry& entry : tape) {
    put_u32(out, entry.time);
    out.push_back(entry.action);
  }
  return out;
}

std::string tape_hex(const TapeHeader& header, const InputTape& tape) {
  const std::vector<uint8_t> bytes = serialize_tape(header, tape);
  return encode_hex(bytes.data(), bytes.size());
}

std::vector<uint8_t> serialize_tape() {
  const RunRecord& run = current_run();
  return serialize_tape(run.tape_header, run.tape);
}

std::string tape_hex() {
  const RunRecord& run = current_run();
  return tape_hex(run.tape_header, run.tape);
}

std::string tape_hash(std::string_view hex) {
  std::vector<uint8_t> bytes;
  if (!decode_hex(hex, bytes)) return "";
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(bytes.data(), bytes.size(), digest);
  return encode_hex(digest, sizeof digest);
}

bool parse_tape(std::string_view hex, TapeHeader& header, InputTape& tape, std::string& error) {
  hex = trim_controls(hex);
  // Check the size before decoding anything, so a huge text costs nothing.
  if (hex.size() > kTapeHexLimit) {
    error = "tape is longer than " + std::to_string(kTapeLimit) + " records allow";
    return false;
  }
  if (hex.size() % 2 != 0) {
    error = "tape hex has an odd number of digits";
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!decode_hex(hex, bytes)) {
    error = "tape hex contains a character that is not a hex digit";
    return false;
  }
  if (bytes.size() < kTapePrefixBytes) {
    error = "tape is shorter than its 10-byte header";
    return false;
  }
  if (bytes[0] != kTapeFormat) {
    error = "unknown tape format byte " + std::to_string(bytes[0]);
    return false;
  }
  if (bytes[1] != 1) {
    error = "unknown tape version " + std::to_string(bytes[1]);
    return false;
  }
  const uint32_t count = get_u32(&bytes[6]);
  const size_t body = bytes.size() - kTapePrefixBytes;
  if (body % kTapeRecordBytes != 0 || body / kTapeRecordBytes != count) {
    error = "tape says " + std::to_string(count) + " records but holds " +
            std::to_string(body / kTapeRecordBytes) +
            (body % kTapeRecordBytes != 0 ? " and a partial one" : "");
    return false;
  }
  header.version = bytes[1];
  header.word1 = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
  header.word2 = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
  tape.clear();
  tape.reserve(count);
  for (size_t offset = kTapePrefixBytes; offset < bytes.size(); offset += kTapeRecordBytes) {
    tape.push_back({get_u32(&bytes[offset]), bytes[offset + 4]});
  }
  return true;
}

}  // namespace engine
