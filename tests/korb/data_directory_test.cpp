// Where the shared folder is: both programs must agree on it, or they never meet.
#include "korb/data_directory.h"

#include <sys/stat.h>

#include "korb/atomic_file.h"
#include "korb/connect.h"
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

mode_t mode_of(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 01;
}

// Under a loose umask the folders came out 0777, and another local user could swap a wallet
// folder. Everything we make is private whatever the umask, and an open data folder of ours
// from an earlier version is closed again.
TEST_F(data_directory, folders_and_files_are_private_whatever_the_umask) {
  const mode_t saved = umask(0);
  setenv("LOCALAPPDATA", (root_ + "/fresh").c_str(), 1);
  const std::string dir = korb::korb_data_dir();
  (void)korb::connect_dir();
  (void)korb::bind_file_path();
  std::string error;
  EXPECT_TRUE(korb::check_wallet_folder("w1", true, error)) << error;
  EXPECT_TRUE(korb::write_file_atomic(dir + "/wallets/w1/wallet.json", "{}", error)) << error;
  umask(saved);
  for (const std::string& folder :
       {root_ + "/fresh", dir, dir + "/connect", dir + "/binds", dir + "/wallets/w1"}) {
    EXPECT_EQ(mode_of(folder), 0700u) << folder;
  }
  EXPECT_EQ(mode_of(dir + "/wallets/w1/wallet.json"), 0600u);

  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  (void)korb::korb_data_dir();
  EXPECT_EQ(mode_of(dir), 0700u);
}

}  // namespace
