// What the korb application's tests share besides the bridge tests' data-directory fixture:
// running the real `korb` program as a child process with every wait bounded.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/korb/korb_test_support.h"

namespace korb_test {

struct RunResult {
  int exit_code = -1;  // -1 when it had to be killed or did not start
  std::string out, err;
};

// Runs korb with `args`, killing it once `timeout` has passed (exit code -1).
RunResult run_korb(const std::vector<std::string>& args,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Parses a file; a discarded value when missing or broken.
nlohmann::json read_json(const std::string& path);

// Creates a wallet through the korb program and returns its id (on failure "" and a test failure).
// `words` receives the mnemonic it showed.
std::string create_wallet(const std::string& name, std::string* words = nullptr);

// Makes a wallet in this process, the way korb create does: its id ("" on failure).
std::string add_wallet(const std::string& name);

// Writes the connect request a game makes and answers the path its reply will have.
std::string write_request(const std::string& id, std::int64_t ts,
                          const std::string& app = "O-Stakka",
                          const std::string& instance = "/games/ostakka");

}  // namespace korb_test
