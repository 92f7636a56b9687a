// The GoogleTest environment of the devnet-backed payment and paymail tests: libcurl, the
// devnet's endpoints and a fresh data directory attached as the game, for the whole test binary.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/wallet/devnet_wallet.h"

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
  void TearDown() override { end_devnet_process(data_dir); }
  std::string data_dir;
};

}  // namespace devnet_wallet
