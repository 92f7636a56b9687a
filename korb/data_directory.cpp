#include "korb/data_directory.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

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

}  // namespace

bool make_directories(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

std::string korb_data_dir() {
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
  std::string dir = without_trailing_slashes(base) + "/Orbweave";
  make_directories(dir);
  return dir;
}

}  // namespace korb
