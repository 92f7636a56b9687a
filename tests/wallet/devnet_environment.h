// The GoogleTest environment of the devnet-backed payment and paymail tests: libcurl, the
// devnet's endpoints and a fresh data directory attached as the game, for the whole test binary.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tests/wallet/devnet_wallet.h"
#include "wallet/broadcast.h"

namespace devnet_wallet {

// The devnet of this run, filled in before the first test.
inline DevnetInfo& test_devnet() {
  static DevnetInfo info;
  return info;
}

struct DevnetEnvironment : ::testing::Environment {
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(start_devnet_process(test_devnet(), data_dir, error)) << error;
  }
  void TearDown() override {
    EXPECT_TRUE(wallet::wait_for_background_sends(std::chrono::seconds(30)));
    // The pacer keeps requests under the devnet's rate limit. A stray 429 (a connection held up on
    // a loaded machine) is retried; more than that means the pacer is not working (unpaced, a run
    // meets dozens).
    if (test_devnet().woc_rate_limit > 0) {
      std::string state, error;
      EXPECT_TRUE(wallet::wallet_http_get(test_devnet().admin + "/state", state, error, 20, false))
          << error;
      const auto answered = nlohmann::json::parse(state, nullptr, false).value("rate_limited", -1);
      std::printf("WhatsOnChain rate limit answers (429) in this run: %d\n", answered);
      EXPECT_GE(answered, 0);
      EXPECT_LE(answered, 2) << "the pacer let requests through faster than the limit";
    }
    end_devnet_process(data_dir);
  }
  std::string data_dir;
};

}  // namespace devnet_wallet
