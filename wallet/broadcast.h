// Getting a signed transaction into the network: the maker's own submission endpoint first (with a
// detached copy to WhatsOnChain), then WhatsOnChain, then ARC when WhatsOnChain reports missing
// inputs. Where an answer is unclear, WhatsOnChain is asked whether it knows the transaction.
//
// The answer readers below take untrusted network text; they never throw.
#pragma once

#include <chrono>

#include <string>
#include <string_view>
#include <vector>

#include "wallet/transaction.h"

namespace wallet {

// Every ARC answer whose txStatus does not mean the network has (or is taking) the transaction is
// read as "ARC answered <STATUS>: <what it means>[ (<extraInfo>)]".
inline constexpr std::string_view kArcAnswered = "ARC answered ";
// The result of a broadcast that ARC answered so: nothing was recorded, and the inputs are not
// known to be spent (an orphan's inputs may be merely unknown to ARC), so they are not marked.
inline constexpr std::string_view kArcRefusal = "error: broadcast failed: ARC answered ";

// Broadcasts the signed transaction. `txid` receives its own txid (set before any request).
// Result: "success: <txid>", "error: serialize failed.", "error: broadcast did not confirm. Wait a
// few seconds and try again." or "error: broadcast failed: <detail>", where the detail is ARC's
// answer (beginning kArcAnswered) when WhatsOnChain reported missing inputs and ARC answered
// with a status, else WhatsOnChain's error. On success the transaction is recorded
// (record_sent_transaction) and its txid becomes the last broadcast txid (set_last_broadcast_txid).
std::string broadcast_transaction(const std::vector<SpendCandidate>& inputs,
                                  const std::vector<TxOutput>& outputs, std::string& txid);

// Waits up to `timeout` for the copies of broadcast transactions still being sent to WhatsOnChain
// in the background; true when none is left. A program that ends by returning from main calls it
// first: those copies use the HTTP client's process-wide state, which is torn down at exit.
[[nodiscard]] bool wait_for_background_sends(std::chrono::milliseconds timeout);

// True when WhatsOnChain knows the transaction (its hex, else its decoded form).
[[nodiscard]] bool is_tx_known(const std::string& txid);

// Posts the transaction hex to ARC. False with the error ("bad arc response", "arc did not return
// a txid", a status refusal beginning kArcAnswered, or the request's error text).
[[nodiscard]] bool broadcast_arc(const std::string& hex, const std::string& own_txid,
                                 std::string& error);

// True when a text reports missing or already spent inputs.
bool is_missing_inputs(std::string_view text);

// Answer readers, exposed for tests.
// The own submission accepts unless the answer is a JSON object whose "ok" is false.
bool own_submission_accepted(const std::string& body);
// The txid in a WhatsOnChain broadcast answer (bare, quoted, a JSON string or {"txid":...}), or "".
std::string read_broadcast_txid(const std::string& body);
// Reads an ARC answer as broadcast_arc does after a successful request. Only a txStatus that
// means the network has the transaction or ARC holds it on its way there is a success; see the
// list in broadcast.cpp.
[[nodiscard]] bool read_arc_answer(const std::string& body, const std::string& own_txid,
                                   std::string& error);

}  // namespace wallet
