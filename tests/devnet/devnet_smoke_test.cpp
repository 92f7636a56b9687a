// The fixture's devnet is reachable the way the game reaches it: HTTPS verified against the
// devnet's own CA, on 127.0.0.1 and on the service host name pinned to 127.0.0.1.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "devnet/devnet_info.h"

namespace {

struct Answer {
  long status = 0;
  std::string body;
  std::string error;
};

size_t collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

Answer request(const devnet::DevnetInfo& info, const std::string& url,
               const std::string* post = nullptr) {
  Answer answer;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    answer.error = "curl init failed";
    return answer;
  }
  curl_slist* resolve = curl_slist_append(nullptr, info.resolve_entry().c_str());
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, info.ca.c_str());
  curl_easy_setopt(curl, CURLOPT_RESOLVE, resolve);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  if (post != nullptr) {
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post->c_str());
  }
  const CURLcode rc = curl_easy_perform(curl);
  if (rc != CURLE_OK) answer.error = curl_easy_strerror(rc);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_easy_cleanup(curl);
  curl_slist_free_all(resolve);
  curl_slist_free_all(headers);
  return answer;
}

class DevnetSmoke : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    auto found = devnet::read_devnet_info(&error);
    ASSERT_TRUE(found.has_value()) << error;
    info = *found;
  }
  devnet::DevnetInfo info;
};

// The admin state answers over a certificate chain that only the devnet's CA vouches for.
TEST_F(DevnetSmoke, admin_state_answers_with_verified_tls) {
  const Answer a = request(info, info.admin + "/state");
  ASSERT_EQ(a.error, "");
  ASSERT_EQ(a.status, 200);
  const auto doc = nlohmann::json::parse(a.body, nullptr, false);
  ASSERT_TRUE(doc.is_object());
  EXPECT_TRUE(doc["height"].is_number_integer());
  EXPECT_EQ(doc["addresses"]["house_address"].get<std::string>().substr(0, 1), "1");
}

// The service host name, pinned to 127.0.0.1, is in the certificate and serves the paymail routes.
TEST_F(DevnetSmoke, service_host_serves_the_architect_identity) {
  const Answer a = request(info, info.service_base() + "/api/bsvalias/id/hollin@orbweave.test");
  ASSERT_EQ(a.error, "");
  ASSERT_EQ(a.status, 200);
  const auto doc = nlohmann::json::parse(a.body, nullptr, false);
  ASSERT_TRUE(doc.is_object());
  EXPECT_EQ(doc.value("handle", ""), "hollin@orbweave.test");
  EXPECT_EQ(doc.value("pubkey", "").size(), 66u);
}

// Funding through the admin shows up in the WhatsOnChain view of the address.
TEST_F(DevnetSmoke, funding_reaches_the_unspent_list) {
  const std::string address = "1BoatSLRHtKNngkdXEeobR76b53LETtpyT";
  const std::string body = R"({"address":")" + address + R"(","satoshis":1234})";
  const Answer funded = request(info, info.admin + "/fund", &body);
  ASSERT_EQ(funded.status, 200) << funded.body << funded.error;
  const std::string txid = nlohmann::json::parse(funded.body, nullptr, false).value("txid", "");
  ASSERT_EQ(txid.size(), 64u);
  const Answer list =
      request(info, info.base() + "/woc/v1/bsv/main/address/" + address + "/unspent/all");
  ASSERT_EQ(list.status, 200);
  EXPECT_NE(list.body.find(txid), std::string::npos);
}

// A client that does not trust the devnet's CA is refused, as it must be.
TEST_F(DevnetSmoke, an_untrusting_client_is_refused) {
  devnet::DevnetInfo untrusting = info;
  untrusting.ca = "/dev/null";
  const Answer a = request(untrusting, info.admin + "/state");
  EXPECT_NE(a.error, "");
}

}  // namespace
