// The arcade's three payments from the connected wallet: the entry fee, the score record and the
// paid report. Each is one send_outputs call with a fixed list of outputs, in a fixed order that
// the board scan and the devnet rely on; change, if any, follows them.
//
// Result texts are those of send_outputs ("success: <txid>" or "error: ..."), or one of the
// checks' own "error: " texts below. Payloads are byte strings, carried unchanged in a zero-value
// data output (00 6a and one push).
#pragma once

#include <string>

namespace wallet {

// 2000 sat to the house address, 3000 sat to the pot address.
std::string pay_arcade_entry(const std::string& house_address, const std::string& pot_address);
// 1 sat to the oracle (watch) address, then the score row in a data output.
std::string pay_arcade_score(const std::string& oracle_address, const std::string& payload);
// 1000 sat to the report fee address, 1 sat to the report oracle address (both from the
// deployment values), then the encrypted report in a data output.
std::string pay_arcade_report(const std::string& payload);

}  // namespace wallet
