#include "tools/korb/korb_test_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "korb/connect.h"
#include "tools/korb/wallet_store.h"

namespace korb_test {

namespace {

pid_t spawn(const std::vector<std::string>& args, int out_fd, int err_fd) {
  const std::string binary = std::string(OSTAKKA_BIN_DIR) + "/korb";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_fd, STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

int temp_file(const char* stem, std::string& path) {
  path = (std::filesystem::temp_directory_path() / stem).string() + ".XXXXXX";
  return mkstemp(path.data());
}

int wait_korb(pid_t pid, std::chrono::milliseconds timeout) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

RunResult run_korb(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
  RunResult result;
  std::string out_path, err_path;
  const int out_fd = temp_file("korbout", out_path);
  const int err_fd = temp_file("korberr", err_path);
  const pid_t pid = spawn(args, out_fd, err_fd);
  close(out_fd);
  close(err_fd);
  if (pid > 0) result.exit_code = wait_korb(pid, timeout);
  result.out = read_text(out_path);
  result.err = read_text(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  return result;
}

nlohmann::json read_json(const std::string& path) {
  return nlohmann::json::parse(read_text(path), nullptr, false);
}

std::string create_wallet(const std::string& name, std::string* words) {
  const RunResult run = run_korb({"create", "--name", name});
  std::smatch match;
  if (run.exit_code != 0 ||
      !std::regex_search(run.out, match, std::regex("^Created wallet (w[0-9]+)"))) {
    ADD_FAILURE() << "korb create failed: " << run.err;
    return {};
  }
  std::smatch phrase;
  if (words != nullptr &&
      std::regex_search(run.out, phrase, std::regex("\n  ([a-z]+( [a-z]+){11})\n"))) {
    *words = phrase[1];
  }
  return match[1];
}

std::string add_wallet(const std::string& name) {
  std::string words, id, error;
  EXPECT_TRUE(korb_app::generate_mnemonic(words));
  EXPECT_TRUE(korb_app::add_wallet(name, words, id, error)) << error;
  return id;
}

std::string write_request(const std::string& id, std::int64_t ts, const std::string& app,
                          const std::string& instance) {
  write_text(korb::connect_request_path(id),
             nlohmann::json{{"app", app}, {"id", id}, {"instance", instance}, {"ts", ts}}.dump());
  return korb::connect_reply_path(id);
}

}  // namespace korb_test
