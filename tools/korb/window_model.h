// The Korb window's decisions as plain functions, so they can be checked without a screen: what
// each row says, which wallet the chooser keeps across refreshes, which buttons may act.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korb/connect.h"
#include "tools/korb/wallet_store.h"

namespace korb_app {

// "Main — 1Abc... (w1700000000000)"; a wallet whose file is unusable says so.
std::string wallet_row_text(const StoredWallet& wallet);

// "O-Stakka asks to connect — /games/ostakka (12 s ago)".
std::string request_row_text(const korb::ConnectRequest& request, std::int64_t now_seconds);

// "12 s ago"; "just now" for a time stamp of this second or from the future (clocks drift).
std::string request_age_text(std::int64_t ts, std::int64_t now_seconds);

// What the player reads before Approve: which program asks, from which installation folder,
// how long ago, and what approving allows. Request fields are shown only through
// printable_field: any program can write a request file.
std::string request_details_text(const korb::ConnectRequest& request, std::int64_t now_seconds);

// The row to select after a list (wallets or requests, anything with an `id`) was refreshed:
// the one selected before when it is still there, otherwise the first; -1 for an empty list.
// Refreshes run every second, so keeping the player's choice matters.
template <class Row>
int kept_selection(const std::vector<Row>& rows, const std::string& previous_id) {
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].id == previous_id) return static_cast<int>(i);
  }
  return rows.empty() ? -1 : 0;
}

struct AnswerButtons {
  bool approve = false;
  bool deny = false;
};

// Deny needs a selected request; Approve also needs a chosen wallet.
AnswerButtons answer_buttons(bool request_selected, bool wallet_chosen);

}  // namespace korb_app
