#include "tools/korb/wallet_balance.h"

#include <vector>

#include "ui/amount_format.h"
#include "wallet/unspent.h"

namespace korb_app {

BalanceReading read_address_balance(const std::string& address) {
  BalanceReading reading;
  reading.address = address;
  std::vector<wallet::UtxoRef> outputs;
  bool confirmed = false;
  if (!wallet::fetch_unspent_balance_source(address, outputs, reading.error, confirmed)) {
    return reading;
  }
  for (const wallet::UtxoRef& output : outputs) {
    if (__builtin_add_overflow(reading.satoshis, output.value, &reading.satoshis)) {
      reading.satoshis = 0;
      reading.error = "the service listed more coins than can exist";
      return reading;
    }
  }
  reading.ok = true;
  return reading;
}

std::string balance_text(const BalanceReading* reading) {
  if (reading == nullptr) return "...";
  if (!reading->ok) return "balance unavailable";
  return ui::format_bsv(reading->satoshis) + " BSV";
}

}  // namespace korb_app
