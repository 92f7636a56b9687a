#include "wallet/broadcast.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include <nlohmann/json.hpp>

#include "wallet/encoding.h"
#include "wallet/http_client.h"

namespace wallet {
namespace {

constexpr long kOwnSubmitTimeout = 2;
constexpr long kMirrorTimeout = 15;
constexpr long kWocBroadcastTimeout = 60;
constexpr long kArcTimeout = 60;
constexpr long kKnownCheckTimeout = 25;
// Error details taken from an answer body are cut like the HTTP error texts, so a status line
// never shows a whole page.
constexpr std::size_t kMaxDetail = 120;

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::string to_lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool same_txid(const std::string& a, const std::string& b) {
  return to_lower(a) == to_lower(b);
}

// A string member of an object, or "" for anything else.
std::string string_member(const nlohmann::json& document, const char* key) {
  if (!document.is_object()) return {};
  const auto found = document.find(key);
  if (found == document.end() || !found->is_string()) return {};
  return found->get<std::string>();
}

// Parses an untrusted answer without throwing; a body that does not parse, or that nests deeper
// than memory allows (the failed allocation is the one exception left), reads as discarded.
nlohmann::json parse_answer(const std::string& body) {
  try {
    return nlohmann::json::parse(body, nullptr, false);
  } catch (...) {
    return nlohmann::json::value_t::discarded;
  }
}

std::string one_member_body(const char* key, const std::string& hex) {
  nlohmann::json body = nlohmann::json::object();
  body[key] = hex;
  return body.dump();
}

// Sends nothing in this build: the wallet keeps no paymail payment destinations, so no
// transaction ever has anyone to be told about it.
void send_paymail_payment_notice(const std::string& /*txid*/) {}

std::string succeed(const std::vector<SpendCandidate>& inputs, const std::vector<TxOutput>& outputs,
                    const std::string& txid) {
  set_last_broadcast_txid(txid);
  record_sent_transaction(inputs, outputs, txid, nullptr);
  send_paymail_payment_notice(txid);
  return "success: " + txid;
}

struct BackgroundSends {
  std::mutex mutex;
  std::condition_variable finished;
  int running = 0;
};
// Never destroyed, so a copy still on its way at exit finds it whole.
BackgroundSends& background_sends() {
  static auto* sends = new BackgroundSends;
  return *sends;
}

void mirror_to_whatsonchain(const std::string& body) {
  BackgroundSends& sends = background_sends();
  {
    std::lock_guard<std::mutex> lock(sends.mutex);
    ++sends.running;
  }
  try {
    std::thread([url = woc_api_base() + "/tx/raw", body, &sends]() {
      std::string answer;
      std::string error;
      (void)wallet_http_post_json(url, body, answer, error, kMirrorTimeout, 1);
      std::lock_guard<std::mutex> lock(sends.mutex);
      --sends.running;
      sends.finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread, no copy: the broadcast itself already went through.
    std::lock_guard<std::mutex> lock(sends.mutex);
    --sends.running;
  }
}

// ARC's documented txStatus values (ARC's "Transaction lifecycle" documentation) and what each
// means for a payment. From STORED on, ARC keeps the transaction and sends it again until the
// network has it (STORED, ANNOUNCED_TO_NETWORK, REQUESTED_BY_NETWORK, SENT_TO_NETWORK), or the
// network has it (ACCEPTED_BY_NETWORK, SEEN_ON_NETWORK, MINED): those are a success. Before STORED
// (UNKNOWN, QUEUED, RECEIVED) nothing promises it will ever be sent; SEEN_IN_ORPHAN_MEMPOOL means
// its parents were not found (inputs unknown, or already spent in a block); MINED_IN_STALE_BLOCK
// means only a block off the longest chain holds it; DOUBLE_SPEND_ATTEMPTED and REJECTED are
// refusals. A status not in the list is not a success either. nullptr: a success.
const char* arc_status_refusal(const std::string& status) {
  static constexpr std::string_view kTaken[] = {"STORED",
                                                "ANNOUNCED_TO_NETWORK",
                                                "REQUESTED_BY_NETWORK",
                                                "SENT_TO_NETWORK",
                                                "ACCEPTED_BY_NETWORK",
                                                "SEEN_ON_NETWORK",
                                                "MINED"};
  if (std::find(std::begin(kTaken), std::end(kTaken), status) != std::end(kTaken)) return nullptr;
  if (status == "SEEN_IN_ORPHAN_MEMPOOL") return "its inputs are unknown or already spent";
  if (status == "MINED_IN_STALE_BLOCK") return "only a block off the longest chain holds it";
  if (status == "DOUBLE_SPEND_ATTEMPTED") return "another transaction already spends its inputs";
  if (status == "REJECTED") return "the network rejected it";
  if (status == "UNKNOWN" || status == "QUEUED" || status == "RECEIVED")
    return "ARC has not stored it, so nothing will send it";
  return "not a status that says the network has it";
}

}  // namespace

bool is_missing_inputs(std::string_view text) {
  return contains(text, "Missing inputs") || contains(text, "missing inputs") ||
         contains(text, "missingorspent");
}

bool own_submission_accepted(const std::string& body) {
  const nlohmann::json document = parse_answer(body);
  if (document.is_discarded() || !document.is_object()) return true;
  const auto ok = document.find("ok");
  return !(ok != document.end() && ok->is_boolean() && !ok->get<bool>());
}

std::string read_broadcast_txid(const std::string& body) {
  std::size_t begin = 0;
  std::size_t end = body.size();
  while (begin < end && (body[begin] == '"' || body[begin] == ' ' || body[begin] == '\n')) ++begin;
  while (end > begin && (body[end - 1] == '"' || body[end - 1] == ' ' || body[end - 1] == '\n' ||
                         body[end - 1] == '\r')) {
    --end;
  }
  const std::string bare = body.substr(begin, end - begin);
  if (is_txid_hex(bare)) return to_lower(bare);
  const nlohmann::json document = parse_answer(body);
  std::string answer;
  if (document.is_string()) {
    answer = document.get<std::string>();
  } else {
    answer = string_member(document, "txid");
  }
  return is_txid_hex(answer) ? to_lower(answer) : std::string();
}

bool read_arc_answer(const std::string& body, const std::string& own_txid, std::string& error) {
  error.clear();
  const nlohmann::json document = parse_answer(body);
  if (document.is_discarded()) {
    error = body.empty() ? "bad arc response" : body.substr(0, kMaxDetail);
    return false;
  }
  const std::string status = string_member(document, "txStatus");
  const std::string extra = string_member(document, "extraInfo");
  const char* refusal = arc_status_refusal(status);
  if (!refusal && is_missing_inputs(extra)) refusal = "its inputs are unknown or already spent";
  if (refusal) {
    const bool named = !status.empty() && status.size() <= 40 &&
                       std::all_of(status.begin(), status.end(), [](unsigned char c) {
                         return std::isupper(c) || std::isdigit(c) || c == '_';
                       });
    error = std::string(kArcAnswered) + (named ? status : "an unknown status") + ": " + refusal;
    if (!extra.empty()) error += " (" + extra.substr(0, kMaxDetail) + ")";
    return false;
  }
  if (is_txid_hex(string_member(document, "txid")) || is_txid_hex(own_txid)) return true;
  error = "arc did not return a txid";
  return false;
}

bool broadcast_arc(const std::string& hex, const std::string& own_txid, std::string& error) {
  std::string answer;
  if (!wallet_http_post_json(network_endpoints().arc_base + "/v1/tx", one_member_body("rawTx", hex),
                             answer, error, kArcTimeout, 2)) {
    return false;
  }
  return read_arc_answer(answer, own_txid, error);
}

bool wait_for_background_sends(std::chrono::milliseconds timeout) {
  BackgroundSends& sends = background_sends();
  std::unique_lock<std::mutex> lock(sends.mutex);
  return sends.finished.wait_for(lock, timeout, [&] { return sends.running == 0; });
}

bool is_tx_known(const std::string& txid) {
  if (!is_txid_hex(txid)) return false;
  const std::string base = woc_api_base() + "/tx/" + txid;
  std::string body;
  std::string error;
  if (wallet_http_get(base + "/hex", body, error, kKnownCheckTimeout, false) && body.size() > 20) {
    return true;
  }
  return wallet_http_get(base, body, error, kKnownCheckTimeout, false) && contains(body, "txid");
}

std::string broadcast_transaction(const std::vector<SpendCandidate>& inputs,
                                  const std::vector<TxOutput>& outputs, std::string& txid) {
  txid.clear();
  const Bytes raw = serialize_transaction(inputs, outputs, false);
  if (raw.empty()) return "error: serialize failed.";
  txid = transaction_txid(raw);
  const std::string hex = hex_encode(raw);
  const std::string body = one_member_body("txhex", hex);

  std::string answer;
  std::string error;
  if (wallet_http_post_json(service_base_url() + "/oi/submit", body, answer, error,
                            kOwnSubmitTimeout, 1) &&
      own_submission_accepted(answer) && is_txid_hex(txid)) {
    mirror_to_whatsonchain(body);
    return succeed(inputs, outputs, txid);
  }

  if (wallet_http_post_json(woc_api_base() + "/tx/raw", body, answer, error, kWocBroadcastTimeout,
                            2)) {
    // A txid in the answer that is not ours would have us record change under a transaction that
    // does not exist, so only our own txid counts; otherwise ask whether the network has it.
    const std::string answered = read_broadcast_txid(answer);
    if (!answered.empty() && same_txid(answered, txid)) return succeed(inputs, outputs, txid);
    if (is_tx_known(txid)) return succeed(inputs, outputs, txid);
    return "error: broadcast did not confirm. Wait a few seconds and try again.";
  }

  const bool already_sent = contains(error, "mempool-conflict") || contains(error, "txn-already") ||
                            contains(error, "already have");
  if (already_sent && is_tx_known(txid)) return succeed(inputs, outputs, txid);
  if (is_missing_inputs(error)) {
    std::string arc_error;
    if (broadcast_arc(hex, txid, arc_error)) return succeed(inputs, outputs, txid);
    // ARC looked at the transaction and named a status that does not mean the network has it:
    // that is the clearer answer, and the one that tells the payment not to take the inputs for
    // spent (to ARC an input it cannot find is an orphan's, not necessarily a spent one).
    if (arc_error.rfind(kArcAnswered, 0) == 0) return "error: broadcast failed: " + arc_error;
  }
  return "error: broadcast failed: " + error;
}

}  // namespace wallet
