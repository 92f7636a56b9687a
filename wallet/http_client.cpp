#include "wallet/http_client.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>

#include "config/deploy_config.h"
#include "wallet/http_test_seam.h"
#include "wallet/ow_korb_wallet.h"

namespace wallet {
namespace {

constexpr const char* kWalletUserAgent = "Orbweave-Korb/0.1";
constexpr const char* kAppUserAgent = "O-Stakka/1";
constexpr int kWalletGetMaxRetries = 3;  // four attempts in all
constexpr long kRetryBaseMs = 400;

// The one response collector: appends each chunk to the caller's string and refuses to grow it
// past kMaxResponseBody (answering fewer bytes than offered makes libcurl abort the transfer).
struct BodySink {
  std::string* body = nullptr;
  bool too_large = false;
};

size_t collect_body(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const size_t bytes = size * count;
  if (bytes > kMaxResponseBody - sink->body->size()) {
    sink->too_large = true;
    return 0;
  }
  sink->body->append(data, bytes);
  return bytes;
}

// Which options a request sets besides the URL and the collector (a zero or null leaves libcurl's
// default in place).
struct RequestOptions {
  curl_slist* headers = nullptr;
  const std::string* post_fields = nullptr;
  long connect_timeout = 0;
  long timeout = 0;
  bool no_signal = false;
  bool follow_location = false;
  long max_redirects = 0;
  const char* user_agent = nullptr;
  bool skip_verification = false;
};

struct TransferResult {
  CURLcode code = CURLE_OK;
  long status = 0;
  bool too_large = false;
};

std::string ca_file_path(const std::string& ca_file) {
  if (ca_file.empty() || ca_file.front() == '/') return ca_file;
  const auto& hooks = bridge_hooks();
  std::string directory = hooks.data_directory ? hooks.data_directory() : std::string();
  if (directory.empty()) return ca_file;
  return directory + "/" + ca_file;
}

void set_common_options(CURL* handle, const std::string& url, BodySink& sink,
                        const RequestOptions& options, const std::string& ca_path) {
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  if (options.headers) curl_easy_setopt(handle, CURLOPT_HTTPHEADER, options.headers);
  if (options.post_fields) {
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(options.post_fields->size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, options.post_fields->c_str());
  }
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collect_body);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
  if (options.connect_timeout > 0) {
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, options.connect_timeout);
  }
  if (options.timeout > 0) curl_easy_setopt(handle, CURLOPT_TIMEOUT, options.timeout);
  if (options.no_signal) curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  if (options.follow_location) curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  if (options.max_redirects > 0) curl_easy_setopt(handle, CURLOPT_MAXREDIRS, options.max_redirects);
  if (options.user_agent) curl_easy_setopt(handle, CURLOPT_USERAGENT, options.user_agent);
  if (options.skip_verification) {
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  // A deployment that runs its own certificate authority (the devnet) trusts only that one.
  if (!ca_path.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, ca_path.c_str());
}

// ---- The WhatsOnChain pacer ---------------------------------------------------------------------
// Request starts are spread (1000 + guard) / rate milliseconds apart, so any second the service
// measures holds at most `rate` of them. The time kept is when the last request really started,
// so a thread that wakes late (a busy machine) pushes the ones after it back instead of letting
// them bunch up behind it; the guard covers a connection that takes a little longer to arrive
// than the next one. A 429 all the same means the service counts differently from us (another
// program on this address, a lower limit): nothing starts for a second after it.
constexpr long kPacerGuardMs = 200;
constexpr auto kPacerBackoff = std::chrono::seconds(1);

struct WocPacer {
  std::mutex mutex;  // a leaf: nothing else is taken while it is held; released while waiting
  std::condition_variable wake;
  std::chrono::steady_clock::time_point last_start{};
  std::chrono::steady_clock::time_point not_before{};
};

WocPacer& woc_pacer() {
  static WocPacer pacer;
  return pacer;
}

// Waits until this request may start and records it as started.
void wait_for_woc_turn(int rate) {
  const auto spacing = std::chrono::microseconds((1000 + kPacerGuardMs) * 1000 / rate);
  auto& pacer = woc_pacer();
  std::unique_lock<std::mutex> lock(pacer.mutex);
  for (;;) {
    const auto earliest = std::max(pacer.not_before, pacer.last_start + spacing);
    const auto now = std::chrono::steady_clock::now();
    if (now >= earliest) {
      pacer.last_start = now;
      return;
    }
    pacer.wake.wait_until(lock, earliest);
  }
}

void woc_answered_rate_limit() {
  auto& pacer = woc_pacer();
  std::lock_guard<std::mutex> lock(pacer.mutex);
  pacer.not_before = std::max(pacer.not_before, std::chrono::steady_clock::now() + kPacerBackoff);
}

enum class PinMode { when_named, bare_host_always };

// One request on a fresh handle. False only when no handle could be made.
bool perform_request(const std::string& url, std::string& body, const RequestOptions& options,
                     PinMode pin, TransferResult& result) {
  result = TransferResult{};
  const NetworkEndpoints endpoints = network_endpoints();
  const bool paced = endpoints.woc_requests_per_second > 0 && is_whatsonchain_url(url, endpoints);
  CURL* handle = curl_easy_init();
  if (!handle) return false;
  const std::string ca_path = ca_file_path(endpoints.ca_file);
  BodySink sink{&body};
  set_common_options(handle, url, sink, options, ca_path);
  curl_slist* resolve = nullptr;
  if (pin == PinMode::when_named) {
    resolve = apply_service_resolve(handle, url);
  } else {
    const std::string entry = endpoints.service_host + ":" +
                              std::to_string(endpoints.service_port) + ":" + endpoints.service_ip;
    resolve = curl_slist_append(nullptr, entry.c_str());
    if (resolve) curl_easy_setopt(handle, CURLOPT_RESOLVE, resolve);
  }
  if (paced) wait_for_woc_turn(endpoints.woc_requests_per_second);
  result.code = curl_easy_perform(handle);
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &result.status);
  if (paced && result.status == 429) woc_answered_rate_limit();
  result.too_large = sink.too_large;
  curl_easy_cleanup(handle);
  if (resolve) curl_slist_free_all(resolve);
  if (result.too_large) body.clear();
  return true;
}

// One pinned request of the wallet functions; a handle that cannot be made or a failed transfer
// becomes the error text (transfer failures are never retried).
bool wallet_transfer(const std::string& url, std::string& body, const RequestOptions& options,
                     TransferResult& result, std::string& error) {
  if (!perform_request(url, body, options, PinMode::when_named, result)) {
    error = "curl init failed";
    return false;
  }
  if (result.code != CURLE_OK) {
    error = result.too_large ? kResponseTooLargeText : curl_easy_strerror(result.code);
    return false;
  }
  return true;
}

// Parses an untrusted body without throwing; one that does not parse, or that nests deeper than
// memory allows (the failed allocation is the one exception left), reads as discarded.
nlohmann::json parse_body(const std::string& body) {
  try {
    return nlohmann::json::parse(body, nullptr, false);
  } catch (...) {
    return nlohmann::json::value_t::discarded;
  }
}

bool is_success_status(long status) {
  return status >= 200 && status <= 299;
}

void retry_pause(int attempt) {
  std::this_thread::sleep_for(std::chrono::milliseconds(kRetryBaseMs << attempt));
}

bool starts_with(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

NetworkEndpoints network_endpoints() {
  NetworkEndpoints endpoints;
  if (network_endpoints_override(endpoints)) return endpoints;
  const config::DeployConfig& deployed = config::deploy_config();
  endpoints.service_host = std::string(deployed.service_host);
  endpoints.service_ip = std::string(deployed.service_ip);
  endpoints.service_port = deployed.service_port;
  endpoints.woc_base = std::string(deployed.woc_base);
  endpoints.ordinals_api_base = std::string(deployed.ordinals_api_base);
  endpoints.ordinals_content_base = std::string(deployed.ordinals_content_base);
  endpoints.arc_base = std::string(deployed.arc_base);
  endpoints.download_page = std::string(deployed.download_page);
  endpoints.ca_file = std::string(deployed.ca_file);
  endpoints.woc_requests_per_second = deployed.woc_requests_per_second;
  return endpoints;
}

bool is_whatsonchain_url(const std::string& url, const NetworkEndpoints& endpoints) {
  const std::string& base = endpoints.woc_base;
  if (base.empty() || url.compare(0, base.size(), base) != 0) return false;
  return url.size() == base.size() || url[base.size()] == '/' || url[base.size()] == '?';
}

std::string service_base_url() {
  const NetworkEndpoints endpoints = network_endpoints();
  std::string url = endpoints.service_scheme + "://" + endpoints.service_host;
  if (endpoints.service_port != 443) url += ":" + std::to_string(endpoints.service_port);
  return url;
}

std::string woc_api_base() {
  return network_endpoints().woc_base + "/v1/bsv/main";
}

curl_slist* apply_service_resolve(CURL* handle, const std::string& url) {
  const NetworkEndpoints endpoints = network_endpoints();
  const std::string& host = endpoints.service_host;
  if (!handle || host.empty() || url.size() < host.size()) return nullptr;
  if (url.find(host) == std::string::npos) return nullptr;
  // The port is the deployment's: 443 on the main network, the devnet's own port on loopback.
  const std::string tail =
      ":" + std::to_string(endpoints.service_port) + ":" + endpoints.service_ip;
  curl_slist* list = curl_slist_append(nullptr, (host + tail).c_str());
  if (!list) return nullptr;
  curl_slist* both = curl_slist_append(list, ("www." + host + tail).c_str());
  if (!both) {
    curl_slist_free_all(list);
    return nullptr;
  }
  curl_easy_setopt(handle, CURLOPT_RESOLVE, both);
  curl_easy_setopt(handle, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
  return both;
}

std::string describe_http_error(long status, const std::string& body) {
  if (status == 429) return kRateLimitText;
  const std::string head = "HTTP " + std::to_string(status);
  if (body.empty() || body.find("<html") != std::string::npos ||
      body.find("<HTML") != std::string::npos || body.find("<!DOCTYPE") != std::string::npos) {
    return head;
  }
  size_t end = body.size();
  while (end > 0 && (body[end - 1] == '\n' || body[end - 1] == '\r' || body[end - 1] == ' ')) {
    --end;
  }
  if (end > 120) end = 120;
  return head + " \xE2\x80\x93 " + body.substr(0, end);
}

bool wallet_http_get(const std::string& url, std::string& body, std::string& error,
                     long timeout_seconds, bool accept_404) {
  RequestOptions options;
  options.connect_timeout = 8;
  options.timeout = timeout_seconds;
  options.no_signal = true;
  options.follow_location = true;
  options.max_redirects = 5;
  options.user_agent = kWalletUserAgent;
  for (int attempt = 0;; ++attempt) {
    body.clear();
    error.clear();
    TransferResult result;
    if (!wallet_transfer(url, body, options, result, error)) return false;
    if (result.status == 429 && attempt < kWalletGetMaxRetries) {
      retry_pause(attempt);
      continue;
    }
    if (is_success_status(result.status)) return true;
    if (result.status == 404 && accept_404) return true;
    error = describe_http_error(result.status, body);
    return false;
  }
}

bool wallet_http_post_json(const std::string& url, const std::string& json_text, std::string& body,
                           std::string& error, long timeout_seconds, int max_attempts) {
  if (max_attempts < 1) {
    body.clear();
    error = kRateLimitText;
    return false;
  }
  for (int attempt = 0;; ++attempt) {
    body.clear();
    error.clear();
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    RequestOptions options;
    options.headers = headers;
    options.post_fields = &json_text;
    options.connect_timeout = 8;
    options.timeout = timeout_seconds;
    options.user_agent = kWalletUserAgent;
    if (!headers) {
      error = "curl init failed";
      return false;
    }
    TransferResult result;
    const bool done = wallet_transfer(url, body, options, result, error);
    curl_slist_free_all(headers);
    if (!done) return false;
    if (result.status == 429 && attempt + 1 < max_attempts) {
      retry_pause(attempt);
      continue;
    }
    if (is_success_status(result.status)) return true;
    error = describe_http_error(result.status, body);
    return false;
  }
}

bool local_http_get(const std::string& url, std::string& body, std::string& error) {
  body.clear();
  error.clear();
  RequestOptions options;
  options.timeout = 12;
  options.follow_location = true;
  // A service on this machine serves a certificate no authority signed; only loopback URLs
  // skip the check.
  options.skip_verification =
      starts_with(url, "https://127.0.0.1") || starts_with(url, "https://localhost");
  TransferResult result;
  if (!wallet_transfer(url, body, options, result, error)) return false;
  if (is_success_status(result.status)) return true;
  error = "HTTP " + std::to_string(result.status);
  return false;
}

namespace {

// The game's own GETs: a finished transfer, a status below 400 and a body. A 429 from
// WhatsOnChain means "later", not "no": it gets the wallet GET's retries, or the board's fallback
// reads would drop rows whenever the service's limit is met. Other hosts get one attempt.
bool app_get(const std::string& url, std::string& body, long timeout) {
  RequestOptions options;
  options.timeout = timeout;
  options.follow_location = true;
  options.user_agent = kAppUserAgent;
  const bool woc = is_whatsonchain_url(url, network_endpoints());
  for (int attempt = 0;; ++attempt) {
    body.clear();
    TransferResult result;
    if (!perform_request(url, body, options, PinMode::when_named, result)) return false;
    if (woc && result.code == CURLE_OK && result.status == 429 && attempt < kWalletGetMaxRetries) {
      retry_pause(attempt);
      continue;
    }
    return result.code == CURLE_OK && result.status < 400 && !body.empty();
  }
}

}  // namespace

bool app_http_get_text(const std::string& url, std::string& body) {
  body.clear();
  return app_get(url, body, 12);
}

bool app_http_get_json(const std::string& url, nlohmann::json& out) {
  std::string body;
  if (!app_get(url, body, 14)) return false;
  nlohmann::json document = parse_body(body);
  if (document.is_discarded() || !(document.is_object() || document.is_array())) return false;
  out = std::move(document);
  return true;
}

bool service_get_json(const std::string& url, nlohmann::json& out) {
  out = nlohmann::json();
  std::string body;
  RequestOptions options;
  options.timeout = 15;
  options.follow_location = true;
  TransferResult result;
  if (!perform_request(url, body, options, PinMode::bare_host_always, result)) return false;
  if (result.code != CURLE_OK || result.status != 200 || body.empty()) return false;
  nlohmann::json document = parse_body(body);
  if (document.is_discarded()) return false;
  out = std::move(document);
  return true;
}

}  // namespace wallet
