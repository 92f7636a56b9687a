#pragma once
// Whole-file reads with a size cap and whole-file replacement that never leaves a torn file:
// the new content goes to a temporary file in the same folder, is flushed to disk, and is
// renamed over the target in one step. A reader therefore sees the old file or the new one.
#include <cstddef>
#include <string>

namespace korb {

// Largest file any reader of the data directory accepts. Our files are a few kilobytes; a
// bigger one is not ours and is treated as unreadable.
inline constexpr std::size_t max_data_file_bytes = 4u * 1024u * 1024u;

// Reads the whole file into `out`. False (and `out` empty) when it is missing, unreadable,
// not a regular file, or larger than `max_bytes`.
[[nodiscard]] bool read_file_capped(const std::string& path, std::string& out,
                                    std::size_t max_bytes = max_data_file_bytes);

// Replaces `path` with `content`: writes a temporary file beside it ("<path>.<pid>.<n>.tmp",
// unique per call so two writers never share one, or `temp_path` when given; it must be in the
// same folder), fsyncs it, renames it over `path` and fsyncs the folder. On failure the
// previous file is untouched, the temporary file is removed, `error` says why, and false.
[[nodiscard]] bool write_file_atomic(const std::string& path, const std::string& content,
                                     std::string& error, const std::string& temp_path = {});

// True when any directory entry (file, folder, anything) exists at `path`.
bool path_exists(const std::string& path);

}  // namespace korb
