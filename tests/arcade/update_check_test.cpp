// The update check: reading the current build from a download page, and (UpdateDevnet.*, under
// the devnet fixture) the whole check against the devnet's download page.
#include "arcade/update_check.h"

#include <gtest/gtest.h>

#include "arcade/arcade_devnet.h"

namespace {

TEST(UpdateCheck, build_numbers_read_print_and_are_found_on_the_page) {
  const std::pair<const char*, int64_t> parsed[] = {{"0.002", 2},
                                                    {"1.5", 1500},
                                                    {" 2 ", 2},
                                                    {"1.0", 1000},
                                                    {"+3", 3},
                                                    {"-1", -1},
                                                    {"", -1},
                                                    {".", -1},
                                                    {"1.2.3", 1200},
                                                    {"7x", 7},
                                                    {"x7", -1},
                                                    {"1e400.", -1},
                                                    {"99999999999999999999", -1},
                                                    {"0.0005", 1}};
  for (const auto& [text, build] : parsed) EXPECT_EQ(arcade::parse_build(text), build) << text;
  EXPECT_EQ(arcade::format_build(1500), "1.500");
  EXPECT_EQ(arcade::format_build(-4), "0.001");
  EXPECT_EQ(arcade::version_text(false), "Version 0.001");

  const std::pair<std::string, int64_t> pages[] = {
      {"<p>Current build: Version 0.002</p>", 2},
      {"<b>Version</b> 1", 1},
      {"Version 9 <i>current build</i> notes", 9},  // no version after it: the last one
      {"Version 3 Current Build: <span>VERSION</span>=\t0.004", 4},
      {"version&nbsp;0.003", 3},
      {"version&#160;0.005", 5},
      {"version&Nbsp;0.003", -1},
      {"version&Nbsp;0.003 version 6", 6},
      {"Version: soon", -1},
      {"Version 9 " + std::string(24000, 'x') + " Version 4", 4},
      {"Version 8 " + std::string(24000, 'y'), -1}};  // only the last 24000 characters count
  for (const auto& [page, build] : pages) {
    EXPECT_EQ(arcade::find_latest_build(page), build) << page.substr(0, 80);
  }
}

// The check against the devnet's download page for a newer, the same, and a missing build.
TEST(UpdateDevnet, reads_the_download_page) {
  (void)arcade_devnet::devnet();
  arcade_devnet::admin("download-build", {{"build", 2}});
  EXPECT_EQ(arcade::check_for_update(), 2);
  EXPECT_TRUE(arcade::is_newer_build(2));
  EXPECT_NE(arcade::update_question(2).find("Latest:      0.002"), std::string::npos);
  EXPECT_EQ(arcade::version_text(true),
            "Update available, " + arcade_devnet::devnet().base() + "/download/ostakka");
  arcade_devnet::admin("download-build", {{"build", 1}});
  EXPECT_EQ(arcade::check_for_update(), 1);
  EXPECT_FALSE(arcade::is_newer_build(1));
  arcade_devnet::admin("fault", {{"route", "/download/"}, {"kind", "status"}, {"status", 404}});
  EXPECT_EQ(arcade::check_for_update(), -1);
  arcade_devnet::admin("fault/clear", nlohmann::json::object());
}

}  // namespace
