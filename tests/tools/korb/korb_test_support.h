// What the korb application's tests share: a fresh data directory per test, and running the
// real `korb` program as a child process with every wait bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace korb_test {

// Makes a fresh temporary folder, points LOCALAPPDATA (the data directory, which also holds
// the single-instance sockets once XDG_RUNTIME_DIR is unset) and TMPDIR at it for this process
// and its children, and removes it again.
class TempDataDir {
 public:
  TempDataDir();
  ~TempDataDir();
  TempDataDir(const TempDataDir&) = delete;
  TempDataDir& operator=(const TempDataDir&) = delete;

  const std::string& root() const { return root_; }
  std::string data_dir() const { return root_ + "/Orbweave"; }

 private:
  std::string root_;
  std::string old_tmpdir_, old_localappdata_, old_runtime_;
  bool had_tmpdir_ = false, had_localappdata_ = false, had_runtime_ = false;
};

struct RunResult {
  int exit_code = -1;  // -1 when it had to be killed or did not start
  std::string out, err;
};

std::string korb_binary();

// Runs korb with `args` and waits at most `timeout`.
RunResult run_korb(const std::vector<std::string>& args,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Starts korb in the background; its output goes to `output_path` (stdout and stderr).
pid_t start_korb(const std::vector<std::string>& args, const std::string& output_path);

// Sends `signal` and reaps the child, escalating to SIGKILL after `grace`. Returns the exit
// code (or -1 when it was killed).
int stop_process(pid_t pid, int signal, std::chrono::milliseconds grace = std::chrono::seconds(5));

// Children started by a test, killed and reaped when it goes out of scope, so an assertion
// that ends a test early leaves nothing running for CTest to wait on.
class Children {
 public:
  ~Children();
  pid_t start(const std::vector<std::string>& args, const std::string& output_path);
  // Waits for `pid` to end (killing it after `timeout`) and answers its exit code, -1 if killed.
  int wait(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(30));

 private:
  std::vector<pid_t> running_;
};

// The whole file, or "" when it cannot be read.
std::string read_text(const std::string& path);
// Parses a file; a discarded value when missing or broken.
nlohmann::json read_json(const std::string& path);
void write_text(const std::string& path, const std::string& text);

// Creates a wallet through the korb program and returns its id ("" on failure). `words`
// receives the mnemonic it showed.
std::string create_wallet(const std::string& name, std::string* words = nullptr);

// Polls `condition` every 10 ms until it holds or `timeout` passes.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace korb_test
