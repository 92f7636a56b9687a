// The HTTP client against a local server: rate-limit retries and their pauses, the WhatsOnChain
// pacer, the accepted 404, the user-visible error texts, the service pin and the response size
// limit.
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

long gap_ms(const Request& earlier, const Request& later) {
  return static_cast<long>(
      std::chrono::duration_cast<milliseconds>(later.arrived - earlier.arrived).count());
}

class HttpClientTest : public ::testing::Test {
 protected:
  void TearDown() override { wallet::clear_network_endpoints_for_test(); }
};

// A service that keeps answering 429 must be asked exactly four times with growing pauses, and
// the caller must see the rate-limit text rather than the server's body.
TEST_F(HttpClientTest, get_retries_429_four_times_with_growing_pauses) {
  LocalHttpServer server([](const Request&) { return Response{429, "Rate limit exceeded"}; });
  std::string body, error;
  EXPECT_FALSE(wallet::wallet_http_get(server.base() + "/busy", body, error, 10, false));
  EXPECT_EQ(error, wallet::kRateLimitText);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  const long expected[] = {400, 800, 1600};
  for (int i = 0; i < 3; ++i) {
    const long gap = gap_ms(requests[i], requests[i + 1]);
    EXPECT_GE(gap, expected[i] - 20) << "pause " << i;
    EXPECT_LT(gap, expected[i] + 1500) << "pause " << i;
  }
}

// A rate limit that clears lets the request through with the real body.
TEST_F(HttpClientTest, get_succeeds_after_a_passing_rate_limit) {
  int calls = 0;
  LocalHttpServer server([&calls](const Request&) {
    return ++calls == 1 ? Response{429, "slow down"} : Response{200, "[1,2]"};
  });
  std::string body, error;
  EXPECT_TRUE(wallet::wallet_http_get(server.base() + "/list", body, error, 10, false));
  EXPECT_EQ(body, "[1,2]");
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(server.requests().size(), 2u);
}

// The POST honours its attempt budget: zero sends nothing, one sends once, two pause 400 ms.
TEST_F(HttpClientTest, post_attempt_budget_on_429) {
  LocalHttpServer server([](const Request&) { return Response{429, ""}; });
  std::string body, error;
  EXPECT_FALSE(wallet::wallet_http_post_json(server.base() + "/a", "{}", body, error, 10, 0));
  EXPECT_EQ(error, wallet::kRateLimitText);
  EXPECT_EQ(server.requests().size(), 0u);

  EXPECT_FALSE(wallet::wallet_http_post_json(server.base() + "/b", "{}", body, error, 10, 1));
  EXPECT_EQ(error, wallet::kRateLimitText);
  EXPECT_EQ(server.requests_to("/b").size(), 1u);

  EXPECT_FALSE(
      wallet::wallet_http_post_json(server.base() + "/c", "{\"x\":1}", body, error, 10, 2));
  const auto second = server.requests_to("/c");
  ASSERT_EQ(second.size(), 2u);
  EXPECT_GE(gap_ms(second[0], second[1]), 380);
  EXPECT_EQ(second[0].method, "POST");
  EXPECT_EQ(second[0].body, "{\"x\":1}");
}

// Every WhatsOnChain request of the process takes its turn on one pacer, whichever function sends
// it and from whichever thread: no second holds more than the configured number of them. Other
// hosts (a base that merely starts alike included) are not held back, and a 429 that gets through
// all the same makes the next turn wait a second.
TEST_F(HttpClientTest, whatsonchain_requests_share_one_pacer) {
  std::atomic<bool> answer_429_once{true};
  LocalHttpServer server([&](const Request& r) {
    if (r.target == "/woc/busy" && answer_429_once.exchange(false)) return Response{429, ""};
    return Response{200, "{}"};
  });
  auto endpoints = test_server::endpoints_for(server, kPinnedHost);
  endpoints.woc_requests_per_second = 10;
  wallet::set_network_endpoints_for_test(endpoints);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        std::string body, error;
        nlohmann::json json;
        const std::string url = server.base() + "/woc/" + std::to_string(t);
        if (t == 0) (void)wallet::app_http_get_json(url, json);
        if (t == 1) (void)wallet::wallet_http_post_json(url, "{}", body, error, 10, 1);
        if (t == 2) (void)wallet::wallet_http_get(url + "?x", body, error, 10, false);
      }
    });
  }
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) {
    std::string body, error;
    EXPECT_TRUE(wallet::wallet_http_get(server.base() + "/wocx/" + std::to_string(i), body, error,
                                        10, false));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000))
      << "ten turns of the pacer would take over a second";
  for (auto& thread : threads) thread.join();
  const auto paced = server.requests_to("/woc/");
  ASSERT_EQ(paced.size(), 15u);
  for (std::size_t i = 0; i + 10 < paced.size(); ++i)
    EXPECT_GE(gap_ms(paced[i], paced[i + 10]), 1000) << "eleven requests within a second at " << i;

  std::string body, error;
  EXPECT_TRUE(wallet::wallet_http_get(server.base() + "/woc/busy", body, error, 10, false));
  const auto busy = server.requests_to("/woc/busy");
  ASSERT_EQ(busy.size(), 2u);
  EXPECT_GE(gap_ms(busy[0], busy[1]), 990) << "the retry did not wait for the pacer's pause";
}

// Readers that treat "not found" as "empty" ask for it; everyone else gets the error text.
TEST_F(HttpClientTest, accept_404_returns_the_body_otherwise_an_error_text) {
  LocalHttpServer server([](const Request& r) {
    if (r.target == "/html") return Response{404, "<html><body>gone</body></html>", "text/html"};
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

// Error texts are shown in one status line: bodies are trimmed at the end and cut to 120 bytes,
// pages are not shown at all.
TEST(describe_http_error, trims_cuts_and_hides_pages) {
  std::string long_body(298, 'e');
  long_body[0] = '{';
  long_body += "\r\n";
  EXPECT_EQ(wallet::describe_http_error(400, long_body),
            "HTTP 400 " + kDash + " " + long_body.substr(0, 120));
  EXPECT_EQ(wallet::describe_http_error(500, "Missing inputs \r\n \n"),
            "HTTP 500 " + kDash + " Missing inputs");
  EXPECT_EQ(wallet::describe_http_error(500, "\t tabs stay\t"),
            "HTTP 500 " + kDash + " \t tabs stay\t");
  EXPECT_EQ(wallet::describe_http_error(502, "<!DOCTYPE html><p>bad gateway</p>"), "HTTP 502");
  EXPECT_EQ(wallet::describe_http_error(503, "x<HTML>"), "HTTP 503");
  EXPECT_EQ(wallet::describe_http_error(400, ""), "HTTP 400");
  EXPECT_EQ(wallet::describe_http_error(400, "\r\n"), "HTTP 400 " + kDash + " ");
  EXPECT_EQ(wallet::describe_http_error(429, "{\"message\":\"slow\"}"), wallet::kRateLimitText);
}

// The error text reaches the caller through the GET and the POST alike.
TEST_F(HttpClientTest, post_reports_the_node_text_of_a_refusal) {
  LocalHttpServer server([](const Request&) {
    return Response{400, "unexpected response code 500: 258: txn-mempool-conflict\n"};
  });
  std::string body, error;
  EXPECT_FALSE(wallet::wallet_http_post_json(server.base() + "/tx/raw", "{}", body, error, 10, 2));
  EXPECT_EQ(error,
            "HTTP 400 " + kDash + " unexpected response code 500: 258: txn-mempool-conflict");
  EXPECT_EQ(server.requests().size(), 1u);
}

// The service host name resolves only through the pin, for the bare and the "www." name.
TEST_F(HttpClientTest, service_host_reaches_the_pinned_address) {
  LocalHttpServer server([](const Request& r) { return Response{200, "host=" + r.host}; });
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
  nlohmann::json document;
  EXPECT_FALSE(wallet::service_get_json("http://svc.pin.test:" + port + "/plain", document));
  // Another name under the same test domain has no pin and does not resolve.
  EXPECT_FALSE(
      wallet::wallet_http_get("http://other.pin.test:" + port + "/", body, error, 5, false));
  EXPECT_FALSE(error.empty());
}

// The pin is a plain substring test: a URL that names the service host only in its query still
// carries the pin, and one that does not name it carries none.
TEST_F(HttpClientTest, pin_applies_to_a_url_naming_the_host_only_in_its_query) {
  LocalHttpServer server([](const Request&) { return Response{200, "{}"}; });
  pin_service_to(server);
  CURL* handle = curl_easy_init();
  ASSERT_NE(handle, nullptr);
  curl_slist* list =
      wallet::apply_service_resolve(handle, "https://gate.example/go?next=svc.pin.test/oi");
  ASSERT_NE(list, nullptr);
  const std::string tail = ":" + std::to_string(server.port()) + ":127.0.0.1";
  EXPECT_EQ(std::string(list->data), std::string(kPinnedHost) + tail);
  ASSERT_NE(list->next, nullptr);
  EXPECT_EQ(std::string(list->next->data), "www." + std::string(kPinnedHost) + tail);
  EXPECT_EQ(list->next->next, nullptr);
  EXPECT_EQ(wallet::apply_service_resolve(handle, "https://api.example/v1"), nullptr);
  EXPECT_EQ(wallet::apply_service_resolve(handle, "svc"), nullptr);
  EXPECT_EQ(wallet::apply_service_resolve(nullptr, "https://svc.pin.test/"), nullptr);
  curl_easy_cleanup(handle);
  curl_slist_free_all(list);

  // And the request itself still goes where its own host says.
  std::string body, error;
  EXPECT_TRUE(
      wallet::wallet_http_get(server.base() + "/x?back=svc.pin.test", body, error, 10, false));
  EXPECT_EQ(body, "{}");
}

// A body over the limit is refused with its own text instead of filling memory; a body of
// exactly the limit is still read whole.
TEST_F(HttpClientTest, response_body_limit) {
  LocalHttpServer server([](const Request& r) {
    Response response;
    response.filler_bytes =
        r.target == "/over" ? wallet::kMaxResponseBody + 1 : wallet::kMaxResponseBody;
    return response;
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

// The game's JSON GET wants a document (object or array); scalars and non-JSON are failures.
TEST_F(HttpClientTest, app_json_get_accepts_only_objects_and_arrays) {
  LocalHttpServer server([](const Request& r) {
    if (r.target == "/number") return Response{200, "42"};
    if (r.target == "/array") return Response{200, "[]"};
    if (r.target == "/object") return Response{200, "{\"a\":1}"};
    if (r.target == "/broken") return Response{200, "{\"a\":"};
    if (r.target == "/empty") return Response{200, ""};
    return Response{500, "{\"a\":1}"};
  });
  nlohmann::json document;
  EXPECT_FALSE(wallet::app_http_get_json(server.base() + "/number", document));
  EXPECT_TRUE(wallet::app_http_get_json(server.base() + "/array", document));
  EXPECT_TRUE(document.is_array());
  EXPECT_TRUE(wallet::app_http_get_json(server.base() + "/object", document));
  EXPECT_EQ(document.value("a", 0), 1);
  EXPECT_FALSE(wallet::app_http_get_json(server.base() + "/broken", document));
  EXPECT_FALSE(wallet::app_http_get_json(server.base() + "/empty", document));
  EXPECT_FALSE(wallet::app_http_get_json(server.base() + "/fail", document));
  std::string text;
  EXPECT_FALSE(wallet::app_http_get_text(server.base() + "/empty", text));
  EXPECT_FALSE(wallet::app_http_get_text(server.base() + "/fail", text));
  EXPECT_TRUE(wallet::app_http_get_text(server.base() + "/number", text));
  EXPECT_EQ(text, "42");
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

// The service GET wants exactly 200 and any JSON, and is pinned whatever its URL names.
TEST_F(HttpClientTest, service_json_get_is_always_pinned) {
  LocalHttpServer server([](const Request& r) {
    if (r.target == "/created") return Response{201, "{}"};
    return Response{200, "\"02abc\""};
  });
  pin_service_to(server);
  const std::string base = "http://svc.pin.test:" + std::to_string(server.port());
  nlohmann::json document = 5;
  ASSERT_TRUE(wallet::service_get_json(base + "/key", document));
  EXPECT_EQ(document, "02abc");
  EXPECT_FALSE(wallet::service_get_json(base + "/created", document));
  EXPECT_TRUE(document.is_null()) << "the value is cleared first";
}

// The local GET makes one attempt and reports the bare status; transport failures carry
// libcurl's own text and are not retried.
TEST_F(HttpClientTest, local_get_and_transport_errors) {
  LocalHttpServer server([](const Request&) { return Response{429, "quota"}; });
  std::string body, error;
  EXPECT_FALSE(wallet::local_http_get(server.base() + "/quota", body, error));
  EXPECT_EQ(error, "HTTP 429");
  EXPECT_EQ(server.requests().size(), 1u);

  int closed_port = 0;
  {
    LocalHttpServer gone([](const Request&) { return Response{}; });
    closed_port = gone.port();
  }
  EXPECT_FALSE(wallet::wallet_http_get("http://127.0.0.1:" + std::to_string(closed_port) + "/",
                                       body, error, 5, false));
  EXPECT_EQ(error, curl_easy_strerror(CURLE_COULDNT_CONNECT));
}

// The service base carries the port only when it is not the standard one.
TEST_F(HttpClientTest, service_base_url_names_a_non_standard_port) {
  wallet::NetworkEndpoints endpoints;
  endpoints.service_host = "svc.example";
  endpoints.service_port = 443;
  endpoints.woc_base = "https://woc.example";
  wallet::set_network_endpoints_for_test(endpoints);
  EXPECT_EQ(wallet::service_base_url(), "https://svc.example");
  EXPECT_EQ(wallet::woc_api_base(), "https://woc.example/v1/bsv/main");
  endpoints.service_port = 47823;
  wallet::set_network_endpoints_for_test(endpoints);
  EXPECT_EQ(wallet::service_base_url(), "https://svc.example:47823");
}

std::string g_data_dir;

// A deployment with its own certificate authority names the file relative to the Korb data
// directory; the request must load exactly that file (a missing one is a certificate error,
// never a silent fall-back to the system store).
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
