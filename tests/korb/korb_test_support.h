#pragma once
// Shared by the bridge tests: a fresh data directory per test, small file helpers, sinks that
// record what the bridge reports, and a mutator for the fuzz-style reader tests.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "korb/data_directory.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "wallet/encoding.h"
#include "wallet/hd_keys.h"
#include "wallet/keys.h"
#include "wallet/mnemonic.h"
#include "wallet/ow_korb_wallet.h"

namespace korb_test {

namespace fs = std::filesystem;

// Valid 12-word BIP39 phrases (vectors published with BIP39).
inline const char* const mnemonic_abandon =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
inline const char* const mnemonic_legal =
    "legal winner thank year wave sausage worth useful legal winner thank yellow";

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void write_text(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// What the sinks received, for assertions.
struct Recorded {
  std::mutex mutex;
  std::vector<std::string> lines;
  std::vector<std::string> events;
};
inline Recorded& recorded() {
  static Recorded r;
  return r;
}
inline void record_line(const std::string& line) {
  std::lock_guard<std::mutex> g(recorded().mutex);
  recorded().lines.push_back(line);
}
inline void record_event(const std::string& event) {
  std::lock_guard<std::mutex> g(recorded().mutex);
  recorded().events.push_back(event);
}
inline std::vector<std::string> recorded_lines() {
  std::lock_guard<std::mutex> g(recorded().mutex);
  return recorded().lines;
}
inline std::vector<std::string> recorded_events() {
  std::lock_guard<std::mutex> g(recorded().mutex);
  return recorded().events;
}
// "[OW-KORB]" then each field behind a unit separator.
inline std::string event_text(const std::vector<std::string>& fields) {
  std::string text = "[OW-KORB]";
  for (const std::string& f : fields) text += "\x1f" + f;
  return text;
}

struct PathKeys {
  std::string private_key, public_key, address;
};

// Derives a path straight from the phrase, without the session and its cache, so the session's
// choice of index is checked against an independent derivation.
inline PathKeys derive_independently(const std::string& mnemonic,
                                     const wallet::DerivationPath& path) {
  wallet::Digest64 seed{};
  EXPECT_TRUE(wallet::mnemonic_to_seed(mnemonic, "", seed));
  wallet::ExtendedKey key;
  EXPECT_TRUE(wallet::master_key_from_seed(seed.data(), seed.size(), key));
  for (uint32_t index : path) {
    wallet::ExtendedKey child;
    EXPECT_TRUE(wallet::derive_child_private(key, index, child));
    key = child;
  }
  PathKeys out;
  out.private_key = wallet::hex_encode(key.key.data(), key.key.size());
  EXPECT_TRUE(wallet::public_key_from_private(out.private_key, out.public_key));
  out.address = wallet::address_from_public_key(out.public_key);
  return out;
}

// Every test gets its own LOCALAPPDATA (and TMPDIR, so no real wallet application is found).
class KorbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const std::string base = [] {
      const char* t = std::getenv("TMPDIR");
      return std::string(t != nullptr && t[0] != '\0' ? t : "/tmp");
    }();
    std::string pattern = base + "/korb-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(root_ + "/tmp");
    setenv("LOCALAPPDATA", root_.c_str(), 1);
    setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
    // Sockets go to the test's data directory, never to the real runtime folder.
    unsetenv("XDG_RUNTIME_DIR");
    (void)korb::korb_data_dir();
    korb::clear_session();
    korb::use_wallet("");
    {
      std::lock_guard<std::mutex> g(recorded().mutex);
      recorded().lines.clear();
      recorded().events.clear();
    }
    wallet::set_text_sink(&record_line);
    wallet::set_event_sink(&record_event);
  }
  void TearDown() override {
    korb::clear_session();
    wallet::set_text_sink(nullptr);
    wallet::set_event_sink(nullptr);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string data_dir() const { return root_ + "/Orbweave"; }
  std::string wallet_path(const std::string& id) const {
    return data_dir() + "/wallets/" + id + "/wallet.json";
  }
  void write_registry(const nlohmann::json& registry) const {
    write_text(data_dir() + "/wallets.json", registry.dump(2));
  }
  // An HD wallet file in the registry's folder layout.
  void write_hd_wallet(const std::string& id, const std::string& mnemonic,
                       nlohmann::json extra = nlohmann::json::object()) const {
    extra["mnemonic"] = mnemonic;
    if (!extra.contains("recv")) extra["recv"] = {0, 0, 0, 0, 0, 0};
    write_text(wallet_path(id), extra.dump(2));
  }

  std::string root_;
};

// The unprivileged user the other-user cases act as.
inline constexpr uid_t other_uid = 65534;

// Runs `body` in a child process as `other_uid` and answers its exit code, or -1 when it did
// not finish within ten seconds (it is killed and reaped either way). Only root can change
// user: callers skip with a reason otherwise. The child makes no allocations of its own before
// `body`, and `body` should stick to plain system calls.
inline int run_as_other_user(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(other_uid) != 0 || setuid(other_uid) != 0) _exit(98);
    _exit(body());
  }
  if (pid < 0) return -1;
  int status = 0;
  for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 5) {
    if (waited > 10000) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#define SKIP_UNLESS_ROOT() \
  if (geteuid() != 0)      \
  GTEST_SKIP() << "acting as another local user needs root (this runs as uid " << geteuid() << ")"

// Mutations of a valid document for the reader fuzz tests: flipped and dropped bytes,
// truncations, spliced JSON tokens and swapped member types. The seed is printed by the caller
// and can be given back through OSTAKKA_FUZZ_SEED.
inline std::uint32_t fuzz_seed() {
  const char* s = std::getenv("OSTAKKA_FUZZ_SEED");
  return s != nullptr ? static_cast<std::uint32_t>(std::strtoul(s, nullptr, 10))
                      : std::random_device{}();
}

inline std::string mutate(const std::string& doc, std::mt19937& rng) {
  static const char* const tokens[] = {"null",
                                       "true",
                                       "[]",
                                       "{}",
                                       "\"\"",
                                       "-1",
                                       "1e999",
                                       "\"..\"",
                                       "\"a/b\"",
                                       "[[[[",
                                       "\"\\u0000\"",
                                       "\xff\xfe",
                                       "18446744073709551616",
                                       "{\"wallets\":5}",
                                       ",",
                                       ":"};
  std::string out = doc;
  int steps = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < steps; ++i) {
    std::size_t pos = out.empty() ? 0 : rng() % (out.size() + 1);
    switch (rng() % 5) {
      case 0:
        if (!out.empty() && pos < out.size()) out[pos] = static_cast<char>(rng() & 0xff);
        break;
      case 1:
        if (pos < out.size()) out.erase(pos, 1 + rng() % 8);
        break;
      case 2:
        out.resize(pos);
        break;
      case 3:
        out.insert(pos, tokens[rng() % (sizeof(tokens) / sizeof(tokens[0]))]);
        break;
      default: {
        // Replace a value after a colon with a token of another type.
        std::size_t colon = out.find(':', pos);
        if (colon != std::string::npos) {
          std::size_t end = out.find_first_of(",}", colon);
          if (end == std::string::npos) end = out.size();
          out.replace(colon + 1, end - colon - 1, tokens[rng() % 8]);
        }
      }
    }
  }
  return out;
}

}  // namespace korb_test
