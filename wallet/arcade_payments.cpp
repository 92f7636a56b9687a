#include "wallet/arcade_payments.h"

#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "config/deploy_config.h"
#include "wallet/keys.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/transaction.h"

namespace wallet {
namespace {

constexpr const char* kNotConnected =
    "error: Korb wallet not connected. Create or Restore in Korb, then Connect in the app.";

bool connected() {
  const auto& hooks = bridge_hooks();
  return hooks.is_connected && hooks.is_connected();
}

// One paid output: the address it pays, its amount, and the text when the address is unusable.
struct PaidOutput {
  std::string_view address;
  int64_t amount;
  const char* decode_error;
};

// Decodes the addresses in order (the first failure answers) and pays them, then the data output
// when there is a payload. The caller holds the session mutex.
std::string pay(const std::vector<PaidOutput>& paid, const std::string* payload) {
  std::vector<TxOutput> outputs;
  for (const auto& output : paid) {
    Hash160 hash{};
    if (!address_to_hash160(output.address, hash)) return output.decode_error;
    outputs.push_back({output.amount, p2pkh_script(hash)});
  }
  if (payload) outputs.push_back({0, data_script(std::string_view(*payload))});
  return send_outputs(outputs);
}

}  // namespace

std::string pay_arcade_entry(const std::string& house_address, const std::string& pot_address) {
  if (!connected()) return kNotConnected;
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  return pay({{house_address, 2000, "error: arcade house address decode failed."},
              {pot_address, 3000, "error: arcade pot address decode failed."}},
             nullptr);
}

std::string pay_arcade_score(const std::string& oracle_address, const std::string& payload) {
  if (!connected()) return kNotConnected;
  if (payload.empty()) return "error: empty arcade score payload.";
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  return pay({{oracle_address, 1, "error: arcade oracle decode failed."}}, &payload);
}

std::string pay_arcade_report(const std::string& payload) {
  if (!connected()) return kNotConnected;
  if (payload.empty()) return "error: empty report payload.";
  const auto& config = config::deploy_config();
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  return pay({{config.report_fee_address, 1000, "error: report fee address decode failed."},
              {config.report_oracle_address, 1, "error: report oracle decode failed."}},
             &payload);
}

}  // namespace wallet
