// Files private to the user: a creation that only the first writer wins, reads that refuse a
// file that is not the user's own, and modes that no umask can change.
#include "wallet/private_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

class private_file : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "private-file-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string dir_;
};

mode_t mode_of(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 01;
}

// Of two answers to one request the second must learn that it lost, and change nothing.
TEST_F(private_file, only_the_first_creation_counts) {
  const std::string path = dir_ + "/w1.rep.json";
  std::string error, text;
  EXPECT_EQ(wallet::create_file_once(path, "first", error), wallet::CreateOnce::created) << error;
  EXPECT_EQ(wallet::create_file_once(path, "second", error), wallet::CreateOnce::exists);
  ASSERT_TRUE(wallet::read_regular_file(path, text, 100, true));
  EXPECT_EQ(text, "first");
  EXPECT_EQ(wallet::create_file_once(dir_ + "/no/x", "x", error), wallet::CreateOnce::failed);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "a temporary file is left";
}

// A wallet file another user owns (or a symlink) is never read as our own; other readers take it.
TEST_F(private_file, own_only_refuses_another_users_file_and_symlinks) {
  const std::string path = dir_ + "/wallet.json", link = dir_ + "/link.json";
  std::string error, text;
  ASSERT_TRUE(wallet::replace_file(path, "{}", error)) << error;
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
  EXPECT_FALSE(wallet::read_regular_file(link, text, 100, true));
  EXPECT_TRUE(wallet::read_regular_file(link, text, 100, false));
  EXPECT_EQ(text, "{}");
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(wallet::read_regular_file(path, text, 100, true));
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(wallet::read_regular_file(path, text, 100, false));
}

// A loose umask (0) or a strict one (0277) changes nothing: folders 0700, files 0600.
TEST_F(private_file, modes_are_private_whatever_the_umask) {
  for (mode_t mask : {mode_t{0}, mode_t{0277}}) {
    const std::string top = dir_ + "/m" + std::to_string(mask), folder = top + "/a";
    const mode_t saved = umask(mask);
    const bool made = wallet::make_private_directories(folder);
    std::string error;
    const bool written = wallet::replace_file(folder + "/f", "x", error);
    umask(saved);
    ASSERT_TRUE(made && written) << error;
    EXPECT_EQ(mode_of(top), 0700u);
    EXPECT_EQ(mode_of(folder), 0700u);
    EXPECT_EQ(mode_of(folder + "/f"), 0600u);
  }
}

}  // namespace
