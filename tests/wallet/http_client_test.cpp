// The HTTP client against a local server: rate-limit retries and their pauses, the accepted 404,
// the service pin, the certificate file and the response size limit.
#include "wallet/http_client.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "wallet/http_test_seam.h"
#include "wallet/local_http_server.h"
#include "wallet/ow_korb_wallet.h"

namespace {

using std::chrono::milliseconds;
using test_server::LocalHttpServer;
using test_server::Request;
using test_server::Response;

constexpr const char* kPinnedHost = "svc.pin.test";
const std::string kDash = "\xE2\x80\x93";

const auto* const curl_environment =
    ::testing::AddGlobalTestEnvironment(new test_server::CurlEnvironment);  // NOLINT: gtest owns it

// Points the service pin at the test server (plain HTTP on its own port).
void pin_service_to(const LocalHttpServer& server) {
  wallet::set_network_endpoints_for_test(test_server::endpoints_for(server, kPinnedHost));
}

class HttpClientTest : public ::testing::Test {
 protected:
  void TearDown() override { wallet::clear_network_endpoints_for_test(); }
};

// A service that keeps answering 429 is asked four times with growing pauses, then the caller sees
// the rate-limit text; a limit that clears lets the request through.
TEST_F(HttpClientTest, get_retries_429_four_times_with_growing_pauses) {
  std::atomic<int> passing{0};
  LocalHttpServer server([&](const Request& r) {
    if (r.target == "/passing" && ++passing > 1) return Response{200, "[1,2]"};
    return Response{429, "Rate limit exceeded"};
  });
  std::string body, error;
  EXPECT_FALSE(wallet::wallet_http_get(server.base() + "/busy", body, error, 10, false));
  EXPECT_EQ(error, wallet::kRateLimitText);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  const long expected[] = {400, 800, 1600};
  for (int i = 0; i < 3; ++i) {
    const auto gap =
        std::chrono::duration_cast<milliseconds>(requests[i + 1].arrived - requests[i].arrived)
            .count();
    EXPECT_GE(gap, expected[i] - 20) << "pause " << i;
    EXPECT_LT(gap, expected[i] + 1500) << "pause " << i;
  }
  EXPECT_TRUE(wallet::wallet_http_get(server.base() + "/passing", body, error, 10, false));
  EXPECT_EQ(body, "[1,2]");
  EXPECT_EQ(passing.load(), 2);
}

// Readers that treat "not found" as "empty" ask for it; everyone else gets the error text.
TEST_F(HttpClientTest, accept_404_returns_the_body_otherwise_an_error_text) {
  LocalHttpServer server([](const Request& r) {
    if (r.target == "/html") return Response{404, "<html><body>gone</body></html>"};
    if (r.target == "/empty") return Response{404, ""};
    return Response{404, "{\"error\":\"unknown txid\"}\r\n"};
  });
  std::string body, error;
  EXPECT_TRUE(wallet::wallet_http_get(server.base() + "/json", body, error, 10, true));
  EXPECT_EQ(body, "{\"error\":\"unknown txid\"}\r\n");
  EXPECT_FALSE(wallet::wallet_http_get(server.base() + "/json", body, error, 10, false));
  EXPECT_EQ(error, "HTTP 404 " + kDash + " {\"error\":\"unknown txid\"}");
  EXPECT_FALSE(wallet::wallet_http_get(server.base() + "/html", body, error, 10, false));
  EXPECT_EQ(error, "HTTP 404");
  EXPECT_FALSE(wallet::wallet_http_get(server.base() + "/empty", body, error, 10, false));
  EXPECT_EQ(error, "HTTP 404");
}

// The service host name resolves only through the pin, for the bare and the "www." name.
TEST_F(HttpClientTest, service_host_reaches_the_pinned_address) {
  LocalHttpServer server([](const Request& r) {
    return Response{200, r.target == "/json" ? "\"host=" + r.host + "\"" : "host=" + r.host};
  });
  pin_service_to(server);
  const std::string port = std::to_string(server.port());
  std::string body, error;
  ASSERT_TRUE(
      wallet::wallet_http_get("http://svc.pin.test:" + port + "/oi/x", body, error, 10, false))
      << error;
  EXPECT_EQ(body, "host=svc.pin.test:" + port);
  ASSERT_TRUE(wallet::wallet_http_post_json("http://www.svc.pin.test:" + port + "/oi/submit", "{}",
                                            body, error, 10, 1))
      << error;
  EXPECT_EQ(body, "host=www.svc.pin.test:" + port);
  ASSERT_TRUE(wallet::app_http_get_text("http://svc.pin.test:" + port + "/page", body));
  // The service GET is pinned too, and wants JSON: any that parses, nothing else.
  nlohmann::json document = 5;
  EXPECT_TRUE(wallet::service_get_json("http://svc.pin.test:" + port + "/json", document));
  EXPECT_EQ(document, "host=svc.pin.test:" + port);
  EXPECT_FALSE(wallet::service_get_json("http://svc.pin.test:" + port + "/plain", document));
  EXPECT_TRUE(document.is_null()) << "the value is cleared first";
  // Another name under the same test domain has no pin and does not resolve.
  EXPECT_FALSE(
      wallet::wallet_http_get("http://other.pin.test:" + port + "/", body, error, 5, false));
  EXPECT_FALSE(error.empty());
}

// A body over the limit is refused with its own text instead of filling memory; a body of
// exactly the limit is still read whole.
TEST_F(HttpClientTest, response_body_limit) {
  const std::string full(wallet::kMaxResponseBody, 'x');
  LocalHttpServer server([&full](const Request& r) {
    return Response{200, r.target == "/over" ? full + "x" : full};
  });
  std::string body, error;
  EXPECT_FALSE(wallet::wallet_http_get(server.base() + "/over", body, error, 30, false));
  EXPECT_EQ(error, wallet::kResponseTooLargeText);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(server.requests().size(), 1u) << "an oversized body is not retried";

  EXPECT_TRUE(wallet::wallet_http_get(server.base() + "/full", body, error, 30, false)) << error;
  EXPECT_EQ(body.size(), wallet::kMaxResponseBody);
  nlohmann::json document;
  EXPECT_FALSE(wallet::app_http_get_json(server.base() + "/over", document));
}

// A body within the size limit can still nest deeper than memory allows: the JSON GETs must
// answer false, as for any body that does not parse, instead of ending the program.
[[noreturn]] void json_gets_of_a_too_deep_body_with_little_memory() {
  const std::string deep(24u << 20, '[');
  LocalHttpServer server([&deep](const Request&) { return Response{200, deep}; });
  pin_service_to(server);
  const rlimit limit{768u << 20, 768u << 20};
  setrlimit(RLIMIT_AS, &limit);
  nlohmann::json document;
  const bool app = wallet::app_http_get_json(server.base() + "/deep", document);
  const bool service = wallet::service_get_json(
      "http://" + std::string(kPinnedHost) + ":" + std::to_string(server.port()) + "/deep",
      document);
  std::_Exit(!app && !service ? 0 : 1);
}

TEST_F(HttpClientTest, json_gets_survive_a_body_too_deep_for_memory) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(json_gets_of_a_too_deep_body_with_little_memory(), ::testing::ExitedWithCode(0), "");
}

std::string g_data_dir;

// A deployment's own certificate authority file, relative to the Korb data directory: a missing
// one is a certificate error, never a silent fall-back to the system store.
TEST_F(HttpClientTest, ca_file_is_taken_inside_the_data_directory) {
  namespace fs = std::filesystem;
  char pattern[] = "/tmp/ostakka-ca-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  g_data_dir = pattern;
  wallet::BridgeHooks hooks;
  hooks.data_directory = [] { return g_data_dir; };
  wallet::install_bridge_hooks(hooks);
  LocalHttpServer server([](const Request&) { return Response{200, "plain"}; });
  wallet::NetworkEndpoints endpoints;
  endpoints.service_host = kPinnedHost;
  endpoints.service_ip = "127.0.0.1";
  endpoints.ca_file = "devnet/ca.pem";
  wallet::set_network_endpoints_for_test(endpoints);
  const std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/";

  std::string body, error;
  EXPECT_FALSE(wallet::wallet_http_get(url, body, error, 5, false));
  EXPECT_EQ(error, curl_easy_strerror(CURLE_SSL_CACERT_BADFILE));

  fs::create_directories(g_data_dir + "/devnet");
  fs::copy_file("/etc/ssl/certs/ca-certificates.crt", g_data_dir + "/devnet/ca.pem");
  EXPECT_FALSE(wallet::wallet_http_get(url, body, error, 5, false));
  EXPECT_NE(error, curl_easy_strerror(CURLE_SSL_CACERT_BADFILE)) << "the file was found";
  EXPECT_FALSE(error.empty());

  endpoints.ca_file = g_data_dir + "/elsewhere.pem";  // absolute paths stay as they are
  wallet::set_network_endpoints_for_test(endpoints);
  EXPECT_FALSE(wallet::wallet_http_get(url, body, error, 5, false));
  EXPECT_EQ(error, curl_easy_strerror(CURLE_SSL_CACERT_BADFILE));

  wallet::install_bridge_hooks({});
  fs::remove_all(g_data_dir);
}

}  // namespace
