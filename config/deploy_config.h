#pragma once
// Deployment values, compiled in. Each program links exactly one of the generated
// libraries: ostakka_config_main (the real services) or ostakka_config_devnet (the local
// devnet on loopback). Values come from config/<network>.json.
#include <string_view>

namespace config {

struct DeployConfig {
  std::string_view network;                // "main" or "devnet"
  std::string_view service_host;           // the maker's service host name
  std::string_view service_ip;             // the IPv4 address that host name is pinned to
  int service_port;                        // 443 on the main network
  std::string_view paymail_domain;         // the service's paymail domain
  std::string_view woc_base;               // WhatsOnChain host base; paths begin "/v1/bsv/main"
  std::string_view ordinals_api_base;      // GorillaPool API base; paths begin "/txos"
  std::string_view ordinals_content_base;  // GorillaPool content host; paths begin "/content/"
  std::string_view arc_base;               // ARC base; path "/v1/tx"
  std::string_view house_address;
  std::string_view pot_address;
  std::string_view oracle_address;  // arcade oracle (watch) address
  std::string_view report_fee_address;
  std::string_view report_oracle_address;
  std::string_view architect_handle;             // "hollin"
  std::string_view architect_encryption_pubkey;  // 66 hex, compressed
  std::string_view download_page;
  std::string_view maker_site;
  std::string_view maker_site_name;
  std::string_view credit_line;
  int build_number;
  // Certificate authority file to trust instead of the system store. Empty on the main
  // network; a relative path is taken inside the Orbweave data directory.
  std::string_view ca_file;
  // WhatsOnChain requests a second this process sends at most (every caller, every thread): the
  // keyless service answers 429 above about 3. 0 leaves them unpaced.
  int woc_requests_per_second;
};

const DeployConfig& deploy_config();

}  // namespace config
