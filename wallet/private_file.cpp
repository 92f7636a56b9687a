#include "wallet/private_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "wallet/secret.h"

namespace wallet {

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

// Makes a rename or link durable: without it a power cut may bring back the old name.
void sync_dir(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// A name nobody can guess ahead of us, so a planted entry cannot make every write fail; the
// counter keeps names apart even if the random source is unavailable.
std::string temp_name(const std::string& stem) {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t random = 0;
  if (::getrandom(&random, sizeof(random), GRND_NONBLOCK) != sizeof(random)) random = 0;
  random ^= (static_cast<std::uint64_t>(::getpid()) << 32) ^ ++counter;
  char suffix[24];
  std::snprintf(suffix, sizeof(suffix), ".%016llx.tmp", static_cast<unsigned long long>(random));
  return stem + suffix;
}

// Writes `content` to a new temporary file next to `stem` and flushes it. Never opens an
// existing entry, so a symlink or file planted under the name is never written through.
bool write_temp_file(const std::string& stem, const std::string& content, std::string& temp,
                     std::string& error) {
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = temp_name(stem);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = errno_text("could not create temporary file");
    return false;
  }
  // The umask may have taken bits away; it must not leave the file readable by others either.
  if (::fchmod(fd, 0600) != 0 || !write_all(fd, content) || ::fsync(fd) != 0) {
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
  return true;
}

}  // namespace

bool read_regular_file(const std::string& path, std::string& out, std::size_t max_bytes,
                       bool own_only) {
  out.clear();
  // O_NONBLOCK so a FIFO planted under our name cannot hang the reader; regular files ignore it.
  int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
  if (own_only) flags |= O_NOFOLLOW;
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<unsigned long long>(st.st_size) > max_bytes ||
      (own_only && st.st_uid != ::geteuid())) {
    ::close(fd);
    return false;
  }
  // The file may be a wallet file: whatever was read is wiped however the read ends.
  SecretString read_so_far;
  std::string& data = read_so_far.str();
  data.reserve(static_cast<std::size_t>(st.st_size));
  SecretBytes<16384> buf;
  for (;;) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(reinterpret_cast<const char*>(buf.data()), static_cast<std::size_t>(n));
    if (data.size() > max_bytes) {  // grew while we read
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  out = std::move(data);
  return true;
}

bool replace_file(const std::string& path, const std::string& content, std::string& error,
                  const std::string& temp_stem) {
  error.clear();
  std::string temp;
  if (!write_temp_file(temp_stem.empty() ? path : temp_stem, content, temp, error)) return false;
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = errno_text("could not replace file");
    ::unlink(temp.c_str());
    return false;
  }
  sync_dir(parent_dir(path));
  return true;
}

CreateOnce create_file_once(const std::string& path, const std::string& content,
                            std::string& error) {
  error.clear();
  std::string temp;
  if (!write_temp_file(path, content, temp, error)) return CreateOnce::failed;
  // link(2) never replaces an existing entry: of two writers exactly one wins.
  const int linked = ::link(temp.c_str(), path.c_str());
  const int link_errno = errno;
  ::unlink(temp.c_str());
  if (linked != 0) {
    errno = link_errno;
    if (link_errno == EEXIST) {
      error = "already exists";
      return CreateOnce::exists;
    }
    error = errno_text("could not create file");
    return CreateOnce::failed;
  }
  sync_dir(parent_dir(path));
  return CreateOnce::created;
}

bool make_private_directories(const std::string& path) {
  if (path.empty()) return false;
  // Walk down from the first component, making what is missing.
  std::size_t pos = path.find_first_not_of('/');
  while (pos != std::string::npos) {
    std::size_t next = path.find('/', pos);
    const std::string prefix = path.substr(0, next);
    struct stat st {};
    if (::mkdir(prefix.c_str(), 0700) == 0) {
      (void)::chmod(prefix.c_str(), 0700);  // the umask may have taken the owner's bits
    } else if (errno != EEXIST && (::stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
      return false;
    }
    pos = next == std::string::npos ? next : path.find_first_not_of('/', next);
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace wallet
