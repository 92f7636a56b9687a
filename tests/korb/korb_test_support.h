#pragma once
// Shared by the bridge tests: a fresh data directory per test, small file helpers, sinks that
// record what the bridge reports, and keys worked out by an outside implementation.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "korb/data_directory.h"
#include "korb/registry.h"
#include "korb/session.h"
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
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The permission bits of `path` itself, a link not followed; 01, which no check expects, when it
// is missing.
inline mode_t mode_of(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 01;
}

// What the text and event sinks received, in order.
inline std::mutex said_mutex;
inline std::vector<std::string> said_list;
inline void record(const std::string& text) {
  std::lock_guard<std::mutex> g(said_mutex);
  said_list.push_back(text);
}
inline std::vector<std::string> said() {
  std::lock_guard<std::mutex> g(said_mutex);
  return said_list;
}

// Public keys in canonical form, for tests that store and compare keys without using them.
inline const std::string key_a = "02" + std::string(64, 'a');
inline const std::string key_b = "03" + std::string(64, 'b');

struct PathKeys {
  const char* private_key;
  const char* public_key;
  const char* address;
};

// Keys of the two phrases on the session's paths (m/44'/236'/1'/0/n receive, 100' identity, 101'
// encryption, 5' ordinals), worked out with the @bsv/sdk HD wallet, an implementation apart from
// ours, so the session's choice of path and index is checked against outside answers.
namespace abandon_keys {
inline const char* const receive_0_address = "18pBoqRpHUYf9udsab5G9LT3vQUPxEyMFf";
inline const char* const receive_1_address = "15QVfsvs8n6eoZgjH4e48A9BxLS7EMeWq6";
inline const char* const receive_last_address = "13zaNBG4HrVRXRUsz13nkt1xMfkoAEx92z";  // 2^31 - 1
inline const char* const identity_public_key =
    "02ded4e1e697bc768d79dd3f5c95cd56f332fdcf483c2a36933ba6c81d29bcf8b4";
inline const char* const ordinals_3_address = "1PyJ5VxnafEVS3Bfr8pvaYYZvanULpRjMD";
inline const PathKeys encryption{
    "a90296c62fa6d7cc8a8813d3d18e4c4ea82c9f9420bdad446b26de813c9c1b13",
    "0343bdc4700d96c8084bff1ac971ecfd505e2c606e56b158e92b232a2af92b56ad", ""};
}  // namespace abandon_keys
namespace legal_keys {
inline const PathKeys receive_0{
    "67376a8d83c314188e28185a9964a10545ebec366ba2fc22dfd67cd55805bebd",
    "030f5d47f42f086e92848e75a76d45cae11b39b25dac3a4b4ea38b3b3cc5986d90",
    "17DVtuwtBZigbx1rNRR9HYBXV2MPLMcsAe"};
inline const char* const identity_public_key =
    "038130bb72791d1d196c0c4c5bc971f1317f6f810b6f8381fd66bd0943926e4578";
inline const PathKeys encryption{
    "d506c53846a7120f6b15e2c6834e6db2bc016293857a3eca86a2c9cad2f8d25a",
    "02ea3a73a39a79bd0fc361c113498b68491f435b12e307f81e1b5ecf532892fe62",
    "1MaK5p7Q1HFzMYuoRCSJtrnbXJ5v1iC6cg"};
}  // namespace legal_keys

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
      std::lock_guard<std::mutex> g(said_mutex);
      said_list.clear();
    }
    wallet::set_text_sink(&record);
    wallet::set_event_sink(&record);
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
  void write_registry(const std::string& registry) const {
    write_text(data_dir() + "/wallets.json", registry);
  }
  // An HD wallet file in the registry's folder layout.
  void write_hd_wallet(const std::string& id, const std::string& mnemonic,
                       nlohmann::json extra = nlohmann::json::object()) const {
    extra["mnemonic"] = mnemonic;
    if (!extra.contains("recv")) extra["recv"] = {0, 0, 0, 0, 0, 0};
    write_text(wallet_path(id), extra.dump(2));
  }
  // Lists, binds and loads the single wallet w1 as the game does at start-up.
  void load_wallet(nlohmann::json extra = nlohmann::json::object(),
                   const char* mnemonic = mnemonic_abandon) const {
    write_registry(R"({"wallets": [{"id": "w1", "name": "Wallet 1"}]})");
    write_hd_wallet("w1", mnemonic, std::move(extra));
    korb::attach_app("/games/ostakka", "O-Stakka");
    ASSERT_TRUE(korb::ensure_session());
  }

  std::string root_;
};

}  // namespace korb_test
