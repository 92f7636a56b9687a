// Child processes of a test, stopped and reaped on every way out of it: an assertion that ends a
// test early must not leave a paused or looping child behind for CTest to wait on.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace test_children {

// Kills `pid` and reaps it. SIGCONT first, so a child stopped by the test still goes away at once.
inline void kill_and_reap(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGCONT);
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

class Guard {
 public:
  Guard() = default;
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
  ~Guard() {
    for (pid_t pid : pids_) kill_and_reap(pid);
  }
  // Watches `pid` (from fork or spawn) and answers it.
  pid_t add(pid_t pid) {
    if (pid > 0) pids_.push_back(pid);
    return pid;
  }
  // Kills and reaps `pid` now.
  void kill_now(pid_t pid) {
    std::erase(pids_, pid);
    kill_and_reap(pid);
  }

 private:
  std::vector<pid_t> pids_;
};

}  // namespace test_children
