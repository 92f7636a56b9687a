// Text from files and other programs on its way to a terminal: ids, wallet names, request
// fields and the error texts that quote them. Any program can write a request or a registry
// entry, and a terminal obeys the escape codes hidden in what it prints, so nothing untrusted
// is printed as it stands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korb_app {

// Reads one UTF-8 character at `pos` (shortest form, no surrogates, at most U+10FFFF) into
// `code_point` and moves `pos` past it. False, `pos` unchanged, for anything else.
[[nodiscard]] bool next_utf8(std::string_view text, size_t& pos, uint32_t& code_point);

bool is_valid_utf8(std::string_view text);

// A name or free text as we show it: control characters (C0, DEL, C1), the invisible
// direction overrides that reorder what a terminal shows, and bytes that are not UTF-8 each
// become "?"; letters of any script stay. Cut to `max_bytes` at a character boundary and
// marked with "...".
std::string printable_field(std::string_view text, size_t max_bytes);

// An id as we show it: printable ASCII only, everything else "?", at most 64 characters.
std::string printable_id(std::string_view id);

}  // namespace korb_app
