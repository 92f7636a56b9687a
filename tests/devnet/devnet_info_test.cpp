// The info reader must turn any file the fixture did not write properly into "no devnet" with a
// reason, never into a crash or a half-filled answer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "devnet/devnet_info.h"
#include "fuzz_files.h"

namespace {

class DevnetInfoFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path = ::testing::TempDir() + "devnet_info_test.json";
    ::setenv("OSTAKKA_DEVNET_INFO", path.c_str(), 1);
  }
  void TearDown() override { std::remove(path.c_str()); }
  void write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  std::string path;
};

TEST_F(DevnetInfoFile, reads_what_the_fixture_writes) {
  write(R"({"port":47823,"ca":"/s/ca.pem","state":"/s","admin":"https://127.0.0.1:47823/admin",)"
        R"("woc_rate_limit":3})");
  const auto info = devnet::read_devnet_info();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->port, 47823);
  EXPECT_EQ(info->woc_rate_limit, 3);
  EXPECT_EQ(info->ca, "/s/ca.pem");
  EXPECT_EQ(info->base(), "https://127.0.0.1:47823");
  EXPECT_EQ(info->service_base(), "https://svc.orbweave.test:47823");
  EXPECT_EQ(info->resolve_entry(), "svc.orbweave.test:47823:127.0.0.1");
}

TEST_F(DevnetInfoFile, refuses_missing_variable_file_and_fields_with_a_reason) {
  std::string error;
  ::unsetenv("OSTAKKA_DEVNET_INFO");
  EXPECT_FALSE(devnet::read_devnet_info(&error).has_value());
  EXPECT_NE(error.find("OSTAKKA_DEVNET_INFO"), std::string::npos);
  ::setenv("OSTAKKA_DEVNET_INFO", path.c_str(), 1);
  EXPECT_FALSE(devnet::read_devnet_info(&error).has_value());  // no file yet
  for (const char* text :
       {"", "[]", "{\"port\":\"1\",\"ca\":\"a\",\"state\":\"b\",\"admin\":\"c\"}",
        "{\"port\":0,\"ca\":\"a\",\"state\":\"b\",\"admin\":\"c\"}",
        "{\"port\":70000,\"ca\":\"a\",\"state\":\"b\",\"admin\":\"c\"}",
        "{\"port\":5,\"ca\":\"\",\"state\":\"b\",\"admin\":\"c\"}",
        "{\"port\":5,\"ca\":\"a\",\"state\":\"b\"}",
        "{\"port\":5.5,\"ca\":\"a\",\"state\":\"b\",\"admin\":\"c\"}",
        "{\"port\":5,\"ca\":\"a\",\"state\":\"b\",\"admin\":\"c\",\"woc_rate_limit\":-1}"}) {
    write(text);
    error.clear();
    EXPECT_FALSE(devnet::read_devnet_info(&error).has_value()) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST_F(DevnetInfoFile, damaged_files_never_throw_or_give_a_half_filled_answer) {
  test_fuzz::fuzz_files(
      {{path,
        R"({"port":47823,"ca":"/s/ca.pem","state":"/s","admin":"https://127.0.0.1:47823/admin"})",
        [] {
          const auto info = devnet::read_devnet_info();
          if (info) {
            ASSERT_TRUE(info->port > 0 && !info->ca.empty() && !info->admin.empty());
          }
        }}},
      300);
}

}  // namespace
