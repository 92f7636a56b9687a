#include "korb/data_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "wallet/private_file.h"

namespace korb {

namespace {

std::string env_value(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string without_trailing_slashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string data_dir_path() {
  std::string base = env_value("LOCALAPPDATA");
  if (base.empty()) {
    // XDG asks that relative values be ignored.
    std::string xdg = env_value("XDG_DATA_HOME");
    if (!xdg.empty() && xdg.front() == '/') {
      base = xdg;
    } else {
      std::string home = env_value("HOME");
      base = home.empty() ? std::string(".") : home + "/.local/share";
    }
  }
  return without_trailing_slashes(base) + "/Orbweave";
}

// Closes a folder of ours to group and others. Someone else's folder is left alone.
void close_to_others(const std::string& path, const struct stat& st) {
  if (st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) (void)::chmod(path.c_str(), 0700);
}

}  // namespace

bool make_directories(const std::string& path) {
  return wallet::make_private_directories(path);
}

bool private_folder(const std::string& path, std::string& error) {
  make_directories(path);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    error = "cannot open the folder " + path + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
    error = path + " is not a folder (a symlink or a file stands there); refusing to use it";
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    error = "the folder " + path + " belongs to another user; refusing to use it";
    return false;
  }
  close_to_others(path, st);
  return true;
}

std::string korb_data_dir() {
  std::string dir = data_dir_path();
  make_directories(dir);
  // The data folder itself may be a symlink the user made (to another disk); follow it here.
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) close_to_others(dir, st);
  return dir;
}

bool check_data_dir(std::string& error) {
  const std::string dir = korb_data_dir();
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) {
    error = "cannot open the data folder " + dir + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = "the data folder " + dir + " is not a folder";
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    error = "the data folder " + dir + " belongs to another user";
    return false;
  }
  if (::access(dir.c_str(), R_OK | W_OK | X_OK) != 0) {
    error = "cannot read the data folder " + dir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace korb
