// Files private to the user: a creation that only the first writer wins, reads that refuse a
// file that is not the user's own, and modes that no umask can change.
#include "wallet/private_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

struct Folder {
  std::string path = [] {
    std::string pattern = (fs::temp_directory_path() / "private-file-XXXXXX").string();
    return std::string(mkdtemp(pattern.data()) != nullptr ? pattern.c_str() : "");
  }();
  ~Folder() { fs::remove_all(path); }
};

mode_t mode_of(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 01;
}

// Of two answers to one request the second must learn that it lost, and change nothing.
TEST(private_file, only_the_first_creation_counts) {
  Folder dir;
  const std::string path = dir.path + "/w1.rep.json";
  std::string error;
  EXPECT_EQ(wallet::create_file_once(path, "first", error), wallet::CreateOnce::created) << error;
  EXPECT_EQ(wallet::create_file_once(path, "second", error), wallet::CreateOnce::exists);
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "first");
  EXPECT_EQ(wallet::create_file_once(dir.path + "/no/x", "x", error), wallet::CreateOnce::failed);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 1) << "a temporary file is left";
}

// A wallet file another user owns (or a symlink) is never read as our own; other readers take it.
TEST(private_file, own_only_refuses_another_users_file_and_symlinks) {
  Folder dir;
  const std::string path = dir.path + "/wallet.json", link = dir.path + "/link.json";
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
TEST(private_file, modes_are_private_whatever_the_umask) {
  Folder dir;
  for (mode_t mask : {mode_t{0}, mode_t{0277}}) {
    const std::string top = dir.path + "/m" + std::to_string(mask), folder = top + "/a";
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
