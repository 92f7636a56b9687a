// Satoshi amounts as the status lines show them.
#pragma once

#include <cstdint>
#include <string>

namespace ui {

// Coins with exactly eight decimals, a leading "-" when negative: 5000 -> "0.00005000",
// -150000000 -> "-1.50000000". The caller appends " BSV".
[[nodiscard]] std::string format_bsv(int64_t satoshis);

}  // namespace ui
