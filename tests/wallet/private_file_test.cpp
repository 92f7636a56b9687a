// Files private to the user: a creation that only the first writer wins, replacement that never
// writes through what stands under a temporary name, and modes that no umask can widen.
#include "wallet/private_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

class PrivateFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "private-file-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static mode_t mode_of(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 01;
  }
  std::string dir_;
};

// Two answers to one request: the second must learn that it lost, and change nothing.
TEST_F(PrivateFile, only_the_first_creation_counts) {
  const std::string path = dir_ + "/w1.rep.json";
  std::string error;
  EXPECT_EQ(wallet::create_file_once(path, "first", error), wallet::CreateOnce::created) << error;
  EXPECT_EQ(wallet::create_file_once(path, "second", error), wallet::CreateOnce::exists);
  EXPECT_EQ(read(path), "first");
  EXPECT_EQ(wallet::create_file_once(dir_ + "/missing/x", "x", error), wallet::CreateOnce::failed);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "no temporary file is left";
}

// A loose umask (0) or a strict one (0277) changes nothing: folders 0700, files 0600.
TEST_F(PrivateFile, modes_are_private_whatever_the_umask) {
  for (mode_t mask : {mode_t{0}, mode_t{0277}}) {
    const std::string folder = dir_ + "/m" + std::to_string(mask) + "/a/b";
    const mode_t saved = umask(mask);
    const bool made = wallet::make_private_directories(folder);
    std::string error;
    const bool written = wallet::replace_file(folder + "/f", "x", error);
    umask(saved);
    ASSERT_TRUE(made);
    ASSERT_TRUE(written) << error;
    EXPECT_EQ(mode_of(folder), 0700u);
    EXPECT_EQ(mode_of(dir_ + "/m" + std::to_string(mask)), 0700u);
    EXPECT_EQ(mode_of(folder + "/f"), 0600u);
  }
}

// Secret files are read only when they are the user's own regular files.
TEST_F(PrivateFile, own_only_reads_refuse_symlinks_and_other_users_files) {
  const std::string real = dir_ + "/wallet.json", link = dir_ + "/link.json";
  std::ofstream(real) << "{}";
  fs::create_symlink(real, link);
  std::string text;
  EXPECT_TRUE(wallet::read_regular_file(link, text, 100));
  EXPECT_FALSE(wallet::read_regular_file(link, text, 100, true));
  EXPECT_TRUE(wallet::read_regular_file(real, text, 100, true));
  if (geteuid() == 0) {
    ASSERT_EQ(chown(real.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(wallet::read_regular_file(real, text, 100, true));
  }
}

}  // namespace
