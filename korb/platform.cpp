#include "korb/platform.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "korb/data_directory.h"

namespace korb::platform {

int open_lock_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

namespace {

// fcntl on byte 0 only: the wallet application locks exactly that byte too.
int lock_byte0(int fd, short type, int command) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  return ::fcntl(fd, command, &fl);
}

}  // namespace

bool lock_first_byte(int fd) {
  for (;;) {
    if (lock_byte0(fd, F_WRLCK, F_SETLKW) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void unlock_first_byte(int fd) {
  lock_byte0(fd, F_UNLCK, F_SETLK);
}

void close_file(int fd) {
  if (fd >= 0) ::close(fd);
}

std::string executable_dir() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<std::size_t>(n));
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string instance_socket_path(const std::string& name) {
  const char* runtime_value = std::getenv("XDG_RUNTIME_DIR");
  std::string dir = runtime_value != nullptr ? runtime_value : "";
  // Without the trailing slash, so lstat sees a symlink as a symlink.
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  struct stat st {};
  if (dir.empty() || dir[0] != '/' || ::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      st.st_uid != ::geteuid() || (st.st_mode & 0777) != 0700) {
    dir = korb_data_dir() + "/run";
    std::string ignored;
    if (!private_folder(dir, ignored)) return {};
  }
  std::string path = dir + "/" + name;
  if (path.size() >= sizeof(sockaddr_un::sun_path)) return {};
  return path;
}

bool raise_running_instance(const std::string& name) {
  const std::string socket_path = instance_socket_path(name);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socket_path.empty() || socket_path.size() >= sizeof(addr.sun_path)) return false;
  std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
    static const char line[] = "raise\n";
    std::size_t sent = 0;
    while (sent < sizeof(line) - 1) {
      ssize_t n = ::send(fd, line + sent, sizeof(line) - 1 - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    ok = sent == sizeof(line) - 1;
    if (ok) {
      // Give the instance a moment to read the line before the connection closes; a server
      // that reads on "readyRead" still gets the data after our close, so this is a courtesy.
      ::shutdown(fd, SHUT_WR);
      pollfd pfd{fd, POLLIN, 0};
      ::poll(&pfd, 1, 500);
    }
  }
  ::close(fd);
  return ok;
}

bool is_executable_file(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool start_detached(const std::string& executable, const std::string& working_dir) {
  // Everything the children need is prepared before fork: after fork in a threaded process
  // only async-signal-safe calls are allowed.
  std::string exe = executable;
  std::string dir = working_dir;
  char* argv[] = {exe.data(), nullptr};
  int status_pipe[2];
  if (::pipe2(status_pipe, O_CLOEXEC) != 0) return false;

  pid_t child = ::fork();
  if (child < 0) {
    ::close(status_pipe[0]);
    ::close(status_pipe[1]);
    return false;
  }
  if (child == 0) {
    // First child: new session, then fork again so the program is adopted by init and never
    // becomes our zombie.
    ::close(status_pipe[0]);
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
      if (devnull > 2) ::close(devnull);
    }
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) {
      // Start anyway: the working folder is a convenience, not a requirement.
    }
    ::execv(exe.c_str(), argv);
    int err = errno;
    ssize_t ignored = ::write(status_pipe[1], &err, sizeof(err));
    (void)ignored;
    ::_exit(127);
  }
  ::close(status_pipe[1]);
  int wstatus = 0;
  while (::waitpid(child, &wstatus, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes on a successful exec (close-on-exec); an exec failure writes errno first.
  int exec_errno = 0;
  ssize_t n;
  do {
    n = ::read(status_pipe[0], &exec_errno, sizeof(exec_errno));
  } while (n < 0 && errno == EINTR);
  ::close(status_pipe[0]);
  return WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0 && n == 0;
}

}  // namespace korb::platform
