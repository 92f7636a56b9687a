#include "tools/korb/printable_text.h"

namespace korb_app {

namespace {

// Code points a terminal acts on or that change what the rest of the line looks like.
bool is_hidden_control(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

}  // namespace

bool next_utf8(std::string_view text, size_t& pos, uint32_t& code_point) {
  if (pos >= text.size()) return false;
  const auto first = static_cast<unsigned char>(text[pos]);
  size_t extra = 0;
  uint32_t point = 0;
  if (first < 0x80) {
    code_point = first;
    ++pos;
    return true;
  } else if ((first & 0xE0) == 0xC0) {
    extra = 1;
    point = first & 0x1F;
  } else if ((first & 0xF0) == 0xE0) {
    extra = 2;
    point = first & 0x0F;
  } else if ((first & 0xF8) == 0xF0) {
    extra = 3;
    point = first & 0x07;
  } else {
    return false;
  }
  if (pos + extra >= text.size()) return false;
  for (size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(text[pos + k]);
    if ((next & 0xC0) != 0x80) return false;
    point = (point << 6) | (next & 0x3F);
  }
  static constexpr uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
  if (point < smallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
    return false;
  }
  code_point = point;
  pos += extra + 1;
  return true;
}

bool is_valid_utf8(std::string_view text) {
  size_t pos = 0;
  uint32_t ignored = 0;
  while (pos < text.size()) {
    if (!next_utf8(text, pos, ignored)) return false;
  }
  return true;
}

std::string printable_field(std::string_view text, size_t max_bytes) {
  std::string shown;
  size_t pos = 0;
  bool cut = false;
  while (pos < text.size()) {
    const size_t start = pos;
    uint32_t code_point = 0;
    if (!next_utf8(text, pos, code_point)) {
      pos = start + 1;
      code_point = 0;  // shown as "?" like a control
    }
    if (pos > max_bytes) {
      cut = true;
      break;
    }
    if (code_point == 0 || is_hidden_control(code_point)) {
      shown.push_back('?');
    } else {
      shown.append(text.substr(start, pos - start));
    }
  }
  if (cut) shown += "...";
  return shown;
}

std::string printable_id(std::string_view id) {
  std::string shown;
  for (char c : id.substr(0, 64)) shown.push_back(c > 0x20 && c < 0x7F ? c : '?');
  return shown;
}

}  // namespace korb_app
