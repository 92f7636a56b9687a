// Where the devnet of this test run listens: read from the JSON file named by OSTAKKA_DEVNET_INFO,
// which the CTest fixture writes (tests/devnet/devnet_fixture.cmake). Never throws.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

namespace devnet {

struct DevnetInfo {
  int port = 0;
  std::string ca;          // the devnet's CA certificate (PEM): trust only this
  std::string admin;       // https://127.0.0.1:PORT/admin
  int woc_rate_limit = 0;  // requests a second before 429 (--woc-rate-limit); 0: no limit

  // https://127.0.0.1:PORT, the base of every path prefix ("/woc", "/arc", "/gorillapool", ...).
  std::string base() const { return "https://127.0.0.1:" + std::to_string(port); }
};

// The devnet of this run, or nothing (with the reason in *error when given) when the variable is
// unset or the file is missing or malformed.
inline std::optional<DevnetInfo> read_devnet_info(std::string* error = nullptr) {
  const char* path = std::getenv("OSTAKKA_DEVNET_INFO");
  std::ifstream in(path != nullptr ? path : "", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const nlohmann::json doc = nlohmann::json::parse(text.str(), nullptr, false);
  // Wrong types read as out of range below, never as an exception.
  auto number = [&](const char* key, std::int64_t missing) -> std::int64_t {
    const auto it = doc.find(key);
    if (it == doc.end() || it->is_null()) return missing;
    return it->is_number_integer() ? it->get<std::int64_t>() : -1;
  };
  auto text_of = [&](const char* key) {
    const auto it = doc.find(key);
    return it != doc.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  const std::int64_t port = number("port", 0), limit = number("woc_rate_limit", 0);
  if (port < 1 || port > 65535 || limit < 0 || limit > 1000000 || text_of("ca").empty() ||
      text_of("admin").empty()) {
    if (error != nullptr) {
      *error = std::string(path != nullptr ? path : "OSTAKKA_DEVNET_INFO (unset)") +
               " is missing or not a devnet info file (run the test through ctest)";
    }
    return std::nullopt;
  }
  return DevnetInfo{static_cast<int>(port), text_of("ca"), text_of("admin"),
                    static_cast<int>(limit)};
}

}  // namespace devnet
