#include "korb/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace korb {

namespace {

std::string errno_text(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool write_all(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string parent_dir(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes the rename itself durable: without it a power cut may bring back the old name.
void sync_dir(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool read_file_capped(const std::string& path, std::string& out, std::size_t max_bytes) {
  out.clear();
  // O_NONBLOCK so a FIFO planted under our name cannot hang the reader; regular files ignore it.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<unsigned long long>(st.st_size) > max_bytes) {
    ::close(fd);
    return false;
  }
  std::string data;
  data.reserve(static_cast<std::size_t>(st.st_size));
  char buf[16384];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    if (data.size() > max_bytes) {  // grew while we read
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  out = std::move(data);
  return true;
}

bool write_file_atomic(const std::string& path, const std::string& content, std::string& error,
                       const std::string& temp_path) {
  error.clear();
  static std::atomic<unsigned long> counter{0};
  std::string temp = temp_path;
  if (temp.empty()) {
    temp = path + "." + std::to_string(::getpid()) + "." + std::to_string(++counter) + ".tmp";
  }
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = errno_text("could not create temporary file");
    return false;
  }
  if (!write_all(fd, content) || ::fsync(fd) != 0) {
    error = errno_text("could not write temporary file");
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  if (::close(fd) != 0) {
    error = errno_text("could not close temporary file");
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = errno_text("could not replace file");
    ::unlink(temp.c_str());
    return false;
  }
  sync_dir(parent_dir(path));
  return true;
}

bool json_nesting_within(const std::string& text, int max_depth) {
  int depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max_depth) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

nlohmann::json read_json_file(const std::string& path) {
  std::string text;
  nlohmann::json value(nlohmann::json::value_t::discarded);
  if (read_file_capped(path, text) && json_nesting_within(text, max_json_depth)) {
    value = nlohmann::json::parse(text, nullptr, false);
  }
  // The text may be a wallet file holding a mnemonic or a private key.
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
  return value;
}

std::string json_text(const nlohmann::json& value, int indent, bool final_newline) {
  std::string text = value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
  if (final_newline) text += '\n';
  return text;
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace korb
