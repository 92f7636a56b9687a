// Blocking HTTPS requests on the libcurl easy interface. Every call makes its own easy handle and
// frees it before returning, so nothing (connections, cookies) is shared between requests and the
// functions may run on several worker threads at once. libcurl itself is initialised once by the
// program's start-up (curl_global_init), never here.
//
// WhatsOnChain allows a keyless client about 3 requests a second and answers 429 beyond that.
// The board, the unspent refresh, the pot lookup and the broadcast mirror all ask it from their
// own threads, so every request to it, from any of these functions on any thread, waits for its
// turn on one process-wide pacer (guarded by its own leaf mutex, never held while waiting).
//
// The maker's service host is pinned to its configured IPv4 address on every request whose URL
// names it. The endpoints come from the compiled-in deployment values (config/deploy_config.h), so
// every program or test that links this module also links one ostakka_config_* library.
#pragma once

#include <cstddef>
#include <string>

#include <curl/curl.h>
#include <nlohmann/json.hpp>

namespace wallet {

// No answer we read comes anywhere near this; a larger body is refused so a hostile or broken
// server cannot make us buffer without end.
inline constexpr std::size_t kMaxResponseBody = 32u * 1024u * 1024u;
// The error text of a refused oversized body.
inline constexpr const char* kResponseTooLargeText = "response too large (over 32 MiB)";
// describe_http_error's fixed text for status 429 (the dash is U+2013).
inline constexpr const char* kRateLimitText =
    "HTTP 429 \xE2\x80\x93 WhatsOnChain is rate-limiting. Wait a few seconds and try again.";

// Where requests go: the deployment values, or what a test installed (wallet/http_test_seam.h).
struct NetworkEndpoints {
  std::string service_scheme = "https";  // the maker's service host is always HTTPS when shipped
  std::string service_host;              // host name of the maker's service
  std::string service_ip;                // dotted IPv4 address the host name is pinned to
  int service_port = 443;
  std::string woc_base;               // WhatsOnChain host base; API paths begin "/v1/bsv/main"
  std::string ordinals_api_base;      // GorillaPool API base; paths begin "/txos"
  std::string ordinals_content_base;  // GorillaPool content host; paths begin "/content/"
  std::string arc_base;               // ARC base; path "/v1/tx"
  std::string download_page;          // the maker's download page (the update check reads it)
  // Certificate authority file to trust instead of the system store. Empty: the system store.
  // A relative path is taken inside the Korb data directory.
  std::string ca_file;
  // Every request to woc_base is paced to at most this many a second, process-wide; 0: unpaced.
  int woc_requests_per_second = 0;
};

// A copy of the endpoints in force.
NetworkEndpoints network_endpoints();
// "https://" + service host, with ":" + port appended when the port is not 443.
std::string service_base_url();
// WhatsOnChain main-network API root: woc_base + "/v1/bsv/main".
std::string woc_api_base();

// True when the URL goes to WhatsOnChain (begins with woc_base followed by "/", "?" or nothing).
[[nodiscard]] bool is_whatsonchain_url(const std::string& url, const NetworkEndpoints& endpoints);

// GET with the rate-limit retry (429: up to four attempts, pauses 400, 800, 1600 ms). True for a
// 2xx status, or 404 when accept_404 is set; body and error are cleared at every attempt.
[[nodiscard]] bool wallet_http_get(const std::string& url, std::string& body, std::string& error,
                                   long timeout_seconds, bool accept_404);
// POST of a JSON text (sent verbatim) with up to max_attempts attempts on 429. True for 2xx.
[[nodiscard]] bool wallet_http_post_json(const std::string& url, const std::string& json_text,
                                         std::string& body, std::string& error,
                                         long timeout_seconds, int max_attempts);
// One GET for URLs that may point at a service on this machine; certificate checks are off for
// "https://127.0.0.1" and "https://localhost" URLs only. Errors are "HTTP <status>" without body.
[[nodiscard]] bool local_http_get(const std::string& url, std::string& body, std::string& error);
// The game's light GETs: true for a transfer with status below 400 and a non-empty body. A 429
// from WhatsOnChain is retried as wallet_http_get does; other hosts get one attempt.
[[nodiscard]] bool app_http_get_text(const std::string& url, std::string& body);
// As app_http_get_text, and the body must parse to a JSON object or array (moved into out).
[[nodiscard]] bool app_http_get_json(const std::string& url, nlohmann::json& out);
// GET for the maker's service (always pinned, bare host only): status exactly 200 and a body that
// parses as JSON of any type. out is cleared first.
[[nodiscard]] bool service_get_json(const std::string& url, nlohmann::json& out);

// Installs the service pin (bare and "www." host name to the pinned address, IPv4 only) on a
// prepared handle when the URL names the service host anywhere (plain substring search). Returns
// the list, or nullptr when nothing was installed; the caller frees it with curl_slist_free_all
// after curl_easy_cleanup.
curl_slist* apply_service_resolve(CURL* handle, const std::string& url);

// The error text of a failed status: the fixed rate-limit text for 429; "HTTP <status>" for an
// empty or HTML body; otherwise "HTTP <status> – " and the body without trailing CR, LF and spaces,
// cut to 120 bytes.
std::string describe_http_error(long status, const std::string& body);

}  // namespace wallet
