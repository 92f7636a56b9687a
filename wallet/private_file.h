// Files and folders private to the user, safe against a racing process and another local user:
// whole-file reads that refuse anything but a small regular file, replacement through a fresh
// temporary file that can never be a planted symlink, creation that only the first writer wins,
// and folders made 0700 whatever the umask.
#pragma once

#include <cstddef>
#include <string>

namespace wallet {

// Reads the whole file into `out`. False (and `out` empty) when it is missing, unreadable, not a
// regular file or larger than `max_bytes`. A FIFO or device under the name never blocks.
// `own_only` also refuses a symlink and a file another user owns (for wallet files).
[[nodiscard]] bool read_regular_file(const std::string& path, std::string& out,
                                     std::size_t max_bytes, bool own_only = false);

// Replaces `path` with `content`: a temporary file named "<stem>.<random>.tmp" (stem: `path`
// unless given; it must be in the same folder) is created with O_CREAT|O_EXCL|O_NOFOLLOW, made
// 0600, flushed to disk and renamed over `path`; the folder is flushed too. A reader sees the old
// file or the new one. On failure the old file stays, the temporary file is removed, `error`
// says why.
[[nodiscard]] bool replace_file(const std::string& path, const std::string& content,
                                std::string& error, const std::string& temp_stem = {});

enum class CreateOnce { created, exists, failed };

// Creates `path` with `content` only when no entry of that name exists. The content is written
// and flushed under a temporary name first and then linked to `path`, so the file appears
// complete, and of two racing writers exactly one gets `created`.
[[nodiscard]] CreateOnce create_file_once(const std::string& path, const std::string& content,
                                          std::string& error);

// Creates `path` and its missing parents; every folder made here is 0700 whatever the umask.
// Existing folders are left as they are. True when `path` is a folder afterwards.
bool make_private_directories(const std::string& path);

}  // namespace wallet
