// Where the shared folder is: both programs must agree on it, or they never meet.
#include "korb/data_directory.h"

#include "korb_test_support.h"

namespace {

namespace fs = std::filesystem;
using korb_test::KorbTest;

using data_directory = KorbTest;

TEST_F(data_directory, localappdata_wins_and_the_folder_is_created) {
  EXPECT_EQ(korb::korb_data_dir(), root_ + "/Orbweave");
  EXPECT_TRUE(fs::is_directory(root_ + "/Orbweave"));
  setenv("LOCALAPPDATA", (root_ + "/deeper/still/").c_str(), 1);
  EXPECT_EQ(korb::korb_data_dir(), root_ + "/deeper/still/Orbweave");
  EXPECT_TRUE(fs::is_directory(root_ + "/deeper/still/Orbweave"));
}

TEST_F(data_directory, without_localappdata_the_xdg_data_folder_then_home_is_used) {
  std::string saved_home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  const char* saved_xdg_c = std::getenv("XDG_DATA_HOME");
  std::string saved_xdg = saved_xdg_c != nullptr ? saved_xdg_c : "";

  setenv("LOCALAPPDATA", "", 1);  // empty counts as unset
  setenv("XDG_DATA_HOME", (root_ + "/xdg").c_str(), 1);
  EXPECT_EQ(korb::korb_data_dir(), root_ + "/xdg/Orbweave");

  setenv("XDG_DATA_HOME", "relative/path", 1);  // relative values are ignored
  setenv("HOME", (root_ + "/home").c_str(), 1);
  EXPECT_EQ(korb::korb_data_dir(), root_ + "/home/.local/share/Orbweave");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(korb::korb_data_dir(), root_ + "/home/.local/share/Orbweave");
  EXPECT_TRUE(fs::is_directory(root_ + "/home/.local/share/Orbweave"));

  setenv("HOME", saved_home.c_str(), 1);
  if (saved_xdg_c != nullptr) setenv("XDG_DATA_HOME", saved_xdg.c_str(), 1);
}

}  // namespace
