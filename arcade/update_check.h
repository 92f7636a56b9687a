// The once-per-start look at the maker's download page: which build is current there, and
// whether it is newer than this one. It only informs; nothing is downloaded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace arcade {

// This build's number, in thousandths of a version (the deployment value, 1).
[[nodiscard]] int64_t this_build();

// "%.3f" of n / 1000; a negative n counts as 1.
[[nodiscard]] std::string format_build(int64_t n);

// The version line: "Update available, <download page>" when a newer build exists, else
// "Version " and this build.
[[nodiscard]] std::string version_text(bool newer);

// A build number from its text: "0.002" is 2, "1.5" is 1500, "2" is 2; -1 for nothing readable
// or a negative number. Independent of the process locale.
[[nodiscard]] int64_t parse_build(std::string_view text);

// The current build a download page names ("Current build: Version 0.002"), read from its last
// 24000 characters with the markup removed; -1 when it names none.
[[nodiscard]] int64_t find_latest_build(std::string_view page);

// The update worker's job: fetches the download page and reads the latest build, -1 on failure.
[[nodiscard]] int64_t check_for_update();

// True when `latest` is newer than this build.
[[nodiscard]] bool is_newer_build(int64_t latest);

// The question put to the player when a newer build exists.
[[nodiscard]] std::string update_question(int64_t latest);

}  // namespace arcade
