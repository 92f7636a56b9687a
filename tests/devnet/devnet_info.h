// Where the devnet of this test run listens: read from the JSON file named by OSTAKKA_DEVNET_INFO,
// which the CTest fixture writes (tests/devnet/devnet_fixture.cmake). Never throws.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

namespace devnet {

inline constexpr const char* kServiceHost = "svc.orbweave.test";

struct DevnetInfo {
  int port = 0;
  std::string ca;     // the devnet's CA certificate (PEM): trust only this
  std::string state;  // its state folder
  std::string admin;  // https://127.0.0.1:PORT/admin
  // WhatsOnChain requests a second the devnet answers before 429 (--woc-rate-limit); 0: no limit.
  int woc_rate_limit = 0;

  // https://127.0.0.1:PORT, the base of every path prefix ("/woc", "/arc", "/gorillapool", ...).
  std::string base() const { return "https://127.0.0.1:" + std::to_string(port); }
  // https://svc.orbweave.test:PORT, the maker's service host; pin it with resolve_entry().
  std::string service_base() const {
    return std::string("https://") + kServiceHost + ":" + std::to_string(port);
  }
  // A CURLOPT_RESOLVE entry that sends the service host name to 127.0.0.1.
  std::string resolve_entry() const {
    return std::string(kServiceHost) + ":" + std::to_string(port) + ":127.0.0.1";
  }
};

// The devnet of this run, or nothing (with the reason in *error when given) when the variable is
// unset or the file is missing or malformed.
inline std::optional<DevnetInfo> read_devnet_info(std::string* error = nullptr) {
  auto fail = [&](const std::string& why) -> std::optional<DevnetInfo> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  const char* path = std::getenv("OSTAKKA_DEVNET_INFO");
  if (path == nullptr || *path == '\0')
    return fail("OSTAKKA_DEVNET_INFO is not set (run the test through ctest)");
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(std::string("cannot read ") + path);
  std::ostringstream text;
  text << in.rdbuf();
  const nlohmann::json doc = nlohmann::json::parse(text.str(), nullptr, false);
  if (!doc.is_object()) return fail(std::string(path) + " is not a JSON object");
  DevnetInfo info;
  const auto port = doc.find("port");
  if (port == doc.end() || !port->is_number_integer() || port->get<int64_t>() < 1 ||
      port->get<int64_t>() > 65535) {
    return fail(std::string(path) + " has no valid \"port\"");
  }
  info.port = static_cast<int>(port->get<int64_t>());
  for (auto [key, field] : {std::pair{"ca", &info.ca}, std::pair{"state", &info.state},
                            std::pair{"admin", &info.admin}}) {
    const auto it = doc.find(key);
    if (it == doc.end() || !it->is_string() || it->get<std::string>().empty()) {
      return fail(std::string(path) + " has no \"" + key + "\"");
    }
    *field = it->get<std::string>();
  }
  // Optional: a file written before the devnet reported its limit has none.
  const auto limit = doc.find("woc_rate_limit");
  if (limit != doc.end() && !limit->is_null()) {
    if (!limit->is_number_integer() || limit->get<int64_t>() < 0 ||
        limit->get<int64_t>() > 1000000) {
      return fail(std::string(path) + " has a bad \"woc_rate_limit\"");
    }
    info.woc_rate_limit = static_cast<int>(limit->get<int64_t>());
  }
  return info;
}

}  // namespace devnet
