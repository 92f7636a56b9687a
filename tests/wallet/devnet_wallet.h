// Shared by the devnet tests and benchmarks: the devnet's endpoints and admin routes, and a fresh
// wallet the game is bound to, as the Korb wallet application leaves one behind.
#pragma once

#include <curl/curl.h>
#include <openssl/rand.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "config/deploy_config.h"
#include "korb/atomic_file.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "tests/devnet/devnet_info.h"
#include "wallet/encoding.h"
#include "wallet/http_client.h"
#include "wallet/http_test_seam.h"
#include "wallet/keys.h"
#include "wallet/mnemonic.h"

namespace devnet_wallet {

using DevnetInfo = devnet::DevnetInfo;

// POST to an admin route; the parsed answer, or a discarded value with `error` set.
inline nlohmann::json admin(const DevnetInfo& info, const std::string& route,
                            const nlohmann::json& body, std::string* error = nullptr) {
  std::string answer, failure;
  if (!wallet::wallet_http_post_json(info.base() + "/admin/" + route, body.dump(), answer, failure,
                                     30, 1)) {
    if (error) *error = failure;
    return nlohmann::json::value_t::discarded;
  }
  return nlohmann::json::parse(answer, nullptr, false);
}

// Pays `satoshis` from the devnet's faucet to `address`; the funding txid or "".
inline std::string fund(const DevnetInfo& info, const std::string& address, int64_t satoshis) {
  const auto answer = admin(info, "fund", {{"address", address}, {"satoshis", satoshis}});
  return answer.is_object() && answer.contains("txid") && answer["txid"].is_string()
             ? answer["txid"].get<std::string>()
             : std::string();
}

inline bool mine(const DevnetInfo& info) {
  return admin(info, "mine", nlohmann::json::object()).is_object();
}

// A decoded transaction as WhatsOnChain serves it, or a discarded value when it is unknown.
inline nlohmann::json decoded_tx(const DevnetInfo& info, const std::string& txid) {
  std::string body, error;
  if (!wallet::wallet_http_get(info.base() + "/woc/v1/bsv/main/tx/" + txid, body, error, 20, false))
    return nlohmann::json::value_t::discarded;
  return nlohmann::json::parse(body, nullptr, false);
}

inline std::string random_mnemonic() {
  std::array<unsigned char, 16> entropy{};
  if (RAND_bytes(entropy.data(), static_cast<int>(entropy.size())) != 1) return {};
  return wallet::mnemonic_from_entropy(entropy);
}

// Writes a new HD wallet (receive counter `recv1`) into the registry, binds the game to it and
// loads it. Returns the wallet id, or "" on failure.
inline std::string create_bound_wallet(const std::string& mnemonic, uint32_t recv1 = 0) {
  const std::string id = korb::new_wallet_id();
  std::filesystem::create_directories(korb::wallet_dir_path(id));
  const nlohmann::json file = {
      {"address", ""}, {"backup", true}, {"mnemonic", mnemonic}, {"recv", {0, recv1, 0, 0, 0, 0}},
      {"show", 0},     {"version", 2}};
  std::string error;
  if (!korb::write_file_atomic(korb::wallet_dir_path(id) + "/wallet.json", file.dump(2), error))
    return {};
  {
    korb::RegistryLock lock;
    nlohmann::json registry = korb::load_registry();
    registry["wallets"].push_back({{"id", id}, {"name", "Test " + id}});
    if (!korb::save_registry(registry)) return {};
  }
  korb::clear_session();
  korb::bind_wallet(id);
  return korb::ensure_session() && korb::is_connected() ? id : std::string();
}

// What a test or benchmark process does first: libcurl, the devnet's endpoints and a fresh data
// directory attached as the game. False with a reason when there is no devnet.
inline bool start_devnet_process(DevnetInfo& info, std::string& data_dir, std::string& error) {
  if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
    error = "curl_global_init failed";
    return false;
  }
  const auto found = devnet::read_devnet_info(&error);
  if (!found) return false;
  info = *found;
  // Every service of the devnet on its one port; the service host name stays pinned to 127.0.0.1.
  wallet::NetworkEndpoints endpoints;
  endpoints.service_scheme = "https";
  endpoints.service_host = std::string(config::deploy_config().service_host);
  endpoints.service_ip = "127.0.0.1";
  endpoints.service_port = info.port;
  endpoints.woc_base = info.base() + "/woc";
  endpoints.ordinals_api_base = info.base() + "/gorillapool/api";
  endpoints.ordinals_content_base = info.base() + "/gorillapool";
  endpoints.arc_base = info.base() + "/arc";
  endpoints.download_page = info.base() + "/download/ostakka";
  endpoints.ca_file = info.ca;
  // A devnet that plays WhatsOnChain's rate limit is met the way the shipped game meets the real
  // one: every WhatsOnChain request paced to it.
  endpoints.woc_requests_per_second = info.woc_rate_limit;
  wallet::set_network_endpoints_for_test(endpoints);
  // LOCALAPPDATA at a fresh folder, before anything else touches the Korb data directory.
  data_dir = (std::filesystem::temp_directory_path() / "ostakka-pay-XXXXXX").string();
  if (mkdtemp(data_dir.data()) == nullptr) {
    error = "could not make a data directory";
    data_dir.clear();
    return false;
  }
  setenv("LOCALAPPDATA", data_dir.c_str(), 1);
  korb::attach_app(data_dir + "/game", "O-Stakka");
  return true;
}

inline void end_devnet_process(const std::string& data_dir) {
  wallet::clear_network_endpoints_for_test();
  if (!data_dir.empty()) std::filesystem::remove_all(data_dir);
  curl_global_cleanup();
}

}  // namespace devnet_wallet
