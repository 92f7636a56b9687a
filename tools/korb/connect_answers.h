// Answering games' connect requests: which requests are still worth answering, approving one
// with a wallet, denying one, and the unattended approver behind `korb watch`.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "korb/connect.h"
#include "tools/korb/printable_text.h"

namespace korb_app {

// A game polls for its reply for about a minute and then gives up. A request older than this
// has nobody waiting for it any more; answering it would only bind a game that has moved on.
inline constexpr std::int64_t request_live_seconds = 120;

// True while a game may still be waiting: the request is at most request_live_seconds old (a
// time stamp from the future counts as live, clocks drift).
bool is_request_live(const korb::ConnectRequest& request, std::int64_t now_seconds);

// Unanswered requests that are still live, oldest first.
std::vector<korb::ConnectRequest> live_requests(std::int64_t now_seconds);

// Approves `request_id` with `wallet_id`: the request must exist and be unanswered, and the
// wallet must be listed and load as an HD wallet. The reply appears in one step.
[[nodiscard]] bool approve_request(const std::string& request_id, const std::string& wallet_id,
                                   std::string& error);

// Denies `request_id`: the request must exist and be unanswered.
[[nodiscard]] bool deny_request(const std::string& request_id, std::string& error);

// One round of `korb watch`: approves every live unanswered request with `wallet_id`, telling
// `report` one line per answer (or failure). A request that could not be answered goes into
// `failed` and is not tried again, so one bad request is reported once, not every round.
// Returns how many were approved.
int approve_all_live(const std::string& wallet_id, std::int64_t now_seconds,
                     std::set<std::string>& failed,
                     const std::function<void(const std::string&)>& report);

std::int64_t unix_seconds_now();

// How much of a request's "app" and "instance" we show (through printable_field).
inline constexpr size_t shown_app_bytes = 64;
inline constexpr size_t shown_instance_bytes = 160;

}  // namespace korb_app
