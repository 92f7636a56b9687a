#include "arcade/arcade_jobs.h"

#include <vector>

#include "config/deploy_config.h"
#include "korb/connect.h"
#include "korb/session.h"
#include "wallet/arcade_payments.h"
#include "wallet/unspent.h"

namespace arcade {
namespace {

std::atomic<bool>& balance_refresh_flag() {
  static std::atomic<bool> flag{false};
  return flag;
}

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string deployed(std::string_view value) {
  return std::string(value);
}

}  // namespace

ConnectResult run_connect_job() {
  return {korb::connect()};
}

PaymentResult run_entry_job() {
  const auto& cfg = config::deploy_config();
  return {PaymentKind::enter,
          wallet::pay_arcade_entry(deployed(cfg.house_address), deployed(cfg.pot_address))};
}

PaymentResult run_score_job(const std::string& payload_text) {
  return {PaymentKind::score,
          wallet::pay_arcade_score(deployed(config::deploy_config().oracle_address), payload_text)};
}

PaymentResult run_report_job(const std::string& payload_text) {
  return {PaymentKind::report, wallet::pay_arcade_report(payload_text)};
}

bool is_success_result(std::string_view text) {
  return text.substr(0, 7) == "success";
}

std::string txid_from_result(std::string_view text) {
  if (text.size() < 64) return {};
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    run = is_hex_digit(text[i]) ? run + 1 : 0;
    if (run == 64) return std::string(text.substr(i + 1 - 64, 64));
  }
  return {};
}

PotResult run_pot_job(const std::string& pot_address) {
  PotResult result;
  if (pot_address.size() < 25 || pot_address.size() > 35) {
    result.error = "address looks wrong.";
    return result;
  }
  std::vector<wallet::UtxoRef> outputs;
  bool confirmed = false;
  if (!wallet::fetch_unspent_balance_source(pot_address, outputs, result.error, confirmed)) {
    return result;
  }
  int64_t sum = 0;
  for (const wallet::UtxoRef& output : outputs) {
    // Listed values are bounded by the coin supply; a sum past 64 bits is no pot anyone holds.
    if (__builtin_add_overflow(sum, output.value, &sum)) {
      result.error = "pot total out of range.";
      return result;
    }
  }
  result.satoshis = sum;
  result.error.clear();
  return result;
}

PotResult run_pot_job() {
  return run_pot_job(deployed(config::deploy_config().pot_address));
}

BalanceResult run_balance_job() {
  korb::StatusSnapshot snapshot;
  korb::status_snapshot(snapshot);
  return {snapshot.balance_read, snapshot.balance};
}

bool begin_balance_refresh() {
  bool expected = false;
  return balance_refresh_flag().compare_exchange_strong(expected, true);
}

void end_balance_refresh() {
  (void)balance_refresh_flag().exchange(false);
}

}  // namespace arcade
