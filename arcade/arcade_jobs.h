// What the arcade's worker threads do: connect a Korb wallet, the three payments, the weekly pot
// and the wallet balance. Each job is a plain function that takes its argument and returns its
// result record; the window wraps it in a detached thread that posts the record back, so a job
// never touches a window and a window never waits for a job.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace arcade {

// The connect handshake (up to about a minute); its result text ("success" or an "error: " text).
struct ConnectResult {
  std::string text;
};
[[nodiscard]] ConnectResult run_connect_job();

// Which payment a result belongs to (the window's message carries it as 1, 2 or 3).
enum class PaymentKind : int { enter = 1, score = 2, report = 3 };

struct PaymentResult {
  PaymentKind kind = PaymentKind::enter;
  std::string text;  // "success: <txid>" or an "error: " text
};
// The entry fee to the deployment's house and pot addresses.
[[nodiscard]] PaymentResult run_entry_job();
// The score row (the compact payload text) to the deployment's oracle address.
[[nodiscard]] PaymentResult run_score_job(const std::string& payload_text);
// The encrypted report (the compact payload text).
[[nodiscard]] PaymentResult run_report_job(const std::string& payload_text);

// A payment result counts as success when its text begins with "success".
[[nodiscard]] bool is_success_result(std::string_view text);
// The first run of 64 hex digits in a result text, searched from the start, only when the text is
// at least 64 long; "" when there is none.
[[nodiscard]] std::string txid_from_result(std::string_view text);

// The weekly pot: the sum of the pot address's unspent outputs, or -1 with the reason.
struct PotResult {
  int64_t satoshis = -1;
  std::string error;
};
[[nodiscard]] PotResult run_pot_job(const std::string& pot_address);
// The same for the deployment's pot address.
[[nodiscard]] PotResult run_pot_job();

// The wallet's balance as the status lines show it; `ok` is false when no unspent list of the
// wallet could be read.
struct BalanceResult {
  bool ok = false;
  int64_t satoshis = 0;
};
[[nodiscard]] BalanceResult run_balance_job();

// At most one balance look-up runs at a time. The window takes the flag before it starts the
// worker (false: one is already running, start none); the worker gives it back after it posted.
[[nodiscard]] bool begin_balance_refresh();
void end_balance_refresh();

}  // namespace arcade
