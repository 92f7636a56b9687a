#pragma once
// Whole-file reads with a size cap and whole-file replacement that never leaves a torn file:
// the new content goes to a fresh temporary file in the same folder, is flushed to disk, and is
// renamed over the target in one step. A reader therefore sees the old file or the new one.
// The file work itself is wallet/private_file; this adds the data directory's limits and JSON.
#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

namespace korb {

// Largest file any reader of the data directory accepts. Our files are a few kilobytes; a
// bigger one is not ours and is treated as unreadable.
inline constexpr std::size_t max_data_file_bytes = 4u * 1024u * 1024u;

// Reads the whole file into `out`. False (and `out` empty) when it is missing, unreadable,
// not a regular file, or larger than `max_bytes`.
[[nodiscard]] bool read_file_capped(const std::string& path, std::string& out,
                                    std::size_t max_bytes = max_data_file_bytes);

// The same for files that hold secrets: also false for a symlink and for a file that another
// user owns, which could only be there to make us use someone else's keys.
[[nodiscard]] bool read_own_file(const std::string& path, std::string& out,
                                 std::size_t max_bytes = max_data_file_bytes);

// Replaces `path` with `content`: writes a new temporary file beside it ("<stem>.<random>.tmp",
// stem `path` or `temp_path` when given, which must be in the same folder; created with
// O_EXCL|O_NOFOLLOW, so nothing planted under that name is ever written through), 0600, fsyncs
// it, renames it over `path` and fsyncs the folder. Content larger than max_data_file_bytes is
// refused: no reader would accept it back. On failure the previous file is untouched, the
// temporary file is removed, `error` says why, and false.
[[nodiscard]] bool write_file_atomic(const std::string& path, const std::string& content,
                                     std::string& error, const std::string& temp_path = {});

// Our files nest three levels deep. Deeper documents are refused before parsing: writing or
// comparing a value nested a million levels deep would exhaust the stack.
inline constexpr int max_json_depth = 64;

// True when no array or object in `text` is nested deeper than `max_depth` (strings skipped).
bool json_nesting_within(const std::string& text, int max_depth);

// Parses a data-directory JSON file without throwing. Missing, oversized or corrupt files give
// a discarded value (is_discarded()); so do documents nested deeper than max_json_depth.
// Callers check the type they expect. The file text is wiped after parsing.
nlohmann::json read_json_file(const std::string& path);
// The same through read_own_file, for wallet files.
nlohmann::json read_own_json_file(const std::string& path);

// Text of a JSON value with sorted keys, `indent` spaces (-1: compact) and an optional final
// line break. Bytes that are not valid UTF-8 are replaced (U+FFFD) instead of failing, so a
// folder name in a legacy code page can still be written.
std::string json_text(const nlohmann::json& value, int indent, bool final_newline);

// True when any directory entry (file, folder, anything) exists at `path`.
bool path_exists(const std::string& path);

}  // namespace korb
