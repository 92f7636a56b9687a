#include "arcade/score_record.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <map>
#include <mutex>

#include "arcade/board.h"
#include "config/deploy_config.h"
#include "korb/atomic_file.h"
#include "korb/paymail.h"
#include "korb/session.h"
#include "wallet/encoding.h"
#include "wallet/http_client.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/signatures.h"

namespace arcade {
namespace {

using nlohmann::json;

constexpr auto kIdentityCacheLife = std::chrono::minutes(30);
// Each load meets at most 250 signers; a cache this size never drops one a load still needs.
constexpr size_t kIdentityCacheLimit = 4096;
// Paymail aliases are short; anything longer is not one and is never sent to the service.
constexpr size_t kMaxAliasBytes = 256;
// A score row fits one push of at most 65535 bytes; nothing longer is parsed.
constexpr size_t kMaxPayloadText = 65535;

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string paymail_domain() {
  return std::string(config::deploy_config().paymail_domain);
}

// Parses an untrusted text without throwing; too deep or unparsable reads as discarded.
json parse_untrusted(std::string_view text) {
  if (text.size() > kMaxPayloadText || !korb::json_nesting_within(std::string(text), 64)) {
    return json::value_t::discarded;
  }
  try {
    return json::parse(text, nullptr, false);
  } catch (...) {
    return json::value_t::discarded;
  }
}

// The session's paymail handle after a refresh and a quiet paymail step; "" without a wallet.
std::string session_handle() {
  std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
  if (!wallet::session_loaded()) return {};
  korb::refresh_session();
  korb::paymail_step(false);
  return wallet::session().paymail_handle;
}

// "channel", or "location" when that is empty; trimmed and lowered.
std::string claim_place(const json& payload) {
  std::string place = json_string_field(payload, "channel");
  if (place.empty()) place = json_string_field(payload, "location");
  return lower(trim(place));
}

std::string claim_name(const json& payload, const char* key) {
  return lower(normalize_handle(json_string_field(payload, key)));
}

struct CachedKey {
  std::string key;
  std::chrono::steady_clock::time_point fetched;
};

std::mutex& identity_key_cache_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, CachedKey>& identity_key_cache() {
  static std::map<std::string, CachedKey> cache;
  return cache;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string url_path_segment(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0x0f];
    }
  }
  return out;
}

std::string normalize_handle(std::string_view text) {
  text = trim(text);
  if (!text.empty() && (text.front() == '@' || text.front() == '$')) text.remove_prefix(1);
  return std::string(trim(text));
}

std::string json_string_field(const json& object, const char* key, const char* alternative) {
  if (!object.is_object()) return {};
  auto it = object.find(key);
  if (it != object.end() && it->is_string()) return it->get<std::string>();
  if (alternative != nullptr) {
    it = object.find(alternative);
    if (it != object.end() && it->is_string()) return it->get<std::string>();
  }
  return {};
}

int64_t json_int_field(const json& object, const char* key) {
  if (!object.is_object()) return 0;
  const auto it = object.find(key);
  if (it == object.end()) return 0;
  const json& value = *it;
  if (value.is_number_unsigned()) {
    const uint64_t number = value.get<uint64_t>();
    return number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
               ? 0
               : static_cast<int64_t>(number);
  }
  if (value.is_number_integer()) return value.get<int64_t>();
  if (value.is_number_float()) {
    const double number = std::trunc(value.get<double>());
    // 2^63 itself is out of range; everything strictly inside converts exactly.
    if (!(number > -9223372036854775808.0 && number < 9223372036854775808.0)) return 0;
    return static_cast<int64_t>(number);
  }
  if (!value.is_string()) return 0;
  std::string_view text = value.get_ref<const std::string&>();
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (error != std::errc() || end == text.data()) return 0;
  const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + negative;
  if (magnitude > limit) return 0;
  if (negative)
    return magnitude == limit ? std::numeric_limits<int64_t>::min()
                              : -static_cast<int64_t>(magnitude);
  return static_cast<int64_t>(magnitude);
}

ScorePayload build_score_payload(const engine::RunRecord& run, int64_t now) {
  ScorePayload payload = json::object();
  payload["protocol"] = kScoreProtocol;
  payload["type"] = kScoreType;
  payload["location"] = kScoreLocation;
  std::string pay_addr;
  {
    std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
    payload["handle"] = session_handle();
    if (wallet::session_loaded()) pay_addr = wallet::session().payment_address;
  }
  payload["game"] = kGameName;
  payload["score"] = run.final_score;
  payload["week"] = week_start(now);
  payload["entry"] = run.entry_txid;
  payload["pay_addr"] = pay_addr;
  const std::string hex = engine::tape_hex(run.tape_header, run.tape);
  payload["tape"] = hex;
  payload["tape_hash"] = engine::tape_hash(hex);
  payload["ts"] = now;
  return payload;
}

ScorePayload build_score_payload() {
  return build_score_payload(engine::current_run(), static_cast<int64_t>(std::time(nullptr)));
}

std::string claim_message(const json& payload) {
  const std::string type(trim(json_string_field(payload, "type")));
  std::string message = "OW1|" + type + "|" + claim_place(payload) + "|" +
                        claim_name(payload, "handle") + "|" + claim_name(payload, "actor") + "|" +
                        std::to_string(json_int_field(payload, "ts")) + "|";
  if (type == kScoreType) {
    message += lower(json_string_field(payload, "game")) + "|" +
               std::to_string(json_int_field(payload, "score")) + "|" +
               std::to_string(json_int_field(payload, "week")) + "|" +
               lower(json_string_field(payload, "entry")) + "|" +
               json_string_field(payload, "pay_addr");
    const std::string hash = json_string_field(payload, "tape_hash");
    if (!hash.empty()) message += "|" + lower(hash);
  } else {
    message += lower(json_string_field(payload, "enc_pub"));
  }
  return message;
}

bool sign_claim(ScorePayload& payload, std::string& error) {
  error.clear();
  const std::string type = json_string_field(payload, "type");
  // The site-gate claims belong to a feature this program does not have.
  if (!payload.is_object() || type == "web_gate" || type == "n_button") {
    error = "cannot sign this kind of claim";
    return false;
  }
  const std::string handle = session_handle();
  if (handle.empty()) {
    error = "Connect Korb";
    return false;
  }
  payload["actor"] = handle;
  const std::string paymail = korb::full_paymail_address(handle);
  if (!paymail.empty()) payload["paymail"] = paymail;
  const auto ts = payload.find("ts");
  if (ts == payload.end() || !ts->is_number()) {
    payload["ts"] = static_cast<int64_t>(std::time(nullptr));
  }
  std::string pubkey;
  std::string signature;
  if (!korb::identity_sign(claim_message(payload), pubkey, signature, error)) return false;
  payload["pubkey"] = pubkey;
  payload["sig"] = signature;
  if (!verify_claim(payload)) {
    error = "identity signature did not verify against " + paymail_domain() + " PKI";
    return false;
  }
  return true;
}

bool check_claim_locally(const json& payload, ClaimCheck& out) {
  out = ClaimCheck{};
  if (!payload.is_object()) return false;
  const std::string protocol = json_string_field(payload, "protocol");
  if (protocol != "RQT-Wire" && protocol != "OW-Art") return false;
  const std::string type = json_string_field(payload, "type");
  if (type == "web_gate" || type == "n_button") return false;
  const std::string place = claim_place(payload);
  const std::string handle = json_string_field(payload, "handle");
  const std::string actor = json_string_field(payload, "actor");
  const std::string pubkey = json_string_field(payload, "pubkey", "publicKey");
  const std::string signature = json_string_field(payload, "sig", "signature");
  if (type.empty() || handle.empty() || actor.empty()) return false;
  if (place.empty() && type != "whisper") return false;
  if (pubkey.empty() || signature.empty()) return false;
  if ((type == "message" || type == "thread_reply" || type == "whisper") &&
      claim_name(payload, "actor") != claim_name(payload, "handle")) {
    return false;
  }
  if (json_int_field(payload, "ts") < 1) return false;
  if (!wallet::verify_message(claim_message(payload), pubkey, signature)) return false;
  wallet::Bytes key;
  if (!wallet::hex_decode_lenient(pubkey, key)) return false;
  out.pubkey = wallet::normalize_public_key(key);
  if (out.pubkey.empty()) return false;
  out.lookup_key = identity_lookup_key(actor, json_string_field(payload, "paymail"));
  return true;
}

bool verify_claim(const json& payload) {
  ClaimCheck check;
  if (!check_claim_locally(payload, check) || check.lookup_key.empty()) return false;
  const std::string published = fetch_identity_key(check.lookup_key);
  return !published.empty() && published == check.pubkey;
}

std::string identity_lookup_key(const std::string& actor, const std::string& paymail) {
  const std::string alias = lower(normalize_handle(actor));
  if (alias.empty() || alias.size() > kMaxAliasBytes) return {};
  const std::string domain = paymail_domain();
  if (!paymail.empty()) {
    const size_t at = paymail.find('@');
    std::string name;
    std::string other_domain;
    if (at != std::string::npos && at != 0 && at + 1 != paymail.size()) {
      name = std::string(trim(std::string_view(paymail).substr(0, at)));
      other_domain = std::string(trim(std::string_view(paymail).substr(at + 1)));
    }
    // The same alias claimed at another domain is another person.
    if (lower(normalize_handle(name)) == alias && lower(other_domain) != domain) return {};
  }
  return alias + "@" + domain;
}

std::string fetch_identity_key(const std::string& lookup_key) {
  const size_t at = lookup_key.rfind('@');
  if (lookup_key.empty() || at == std::string::npos) return {};
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> lock(identity_key_cache_mutex());
    const auto it = identity_key_cache().find(lookup_key);
    if (it != identity_key_cache().end() && now - it->second.fetched < kIdentityCacheLife) {
      return it->second.key;
    }
  }
  // The alias comes from chain data: it is escaped so it can only ever name one path segment.
  const std::string url = wallet::service_base_url() + "/api/bsvalias/id/" +
                          url_path_segment(lookup_key.substr(0, at)) + "@" +
                          url_path_segment(lookup_key.substr(at + 1));
  json answer;
  if (!wallet::service_get_json(url, answer)) return {};
  wallet::Bytes bytes;
  if (!wallet::hex_decode_lenient(json_string_field(answer, "pubkey", "publicKey"), bytes)) {
    return {};
  }
  const std::string key = wallet::normalize_public_key(bytes);
  if (key.empty()) return {};
  std::lock_guard<std::mutex> lock(identity_key_cache_mutex());
  auto& cache = identity_key_cache();
  if (cache.size() >= kIdentityCacheLimit && cache.find(lookup_key) == cache.end()) cache.clear();
  cache[lookup_key] = {key, std::chrono::steady_clock::now()};
  return key;
}

std::string lookup_identity_key(const std::string& actor, const std::string& paymail) {
  return fetch_identity_key(identity_lookup_key(actor, paymail));
}

void clear_identity_key_cache() {
  std::lock_guard<std::mutex> lock(identity_key_cache_mutex());
  identity_key_cache().clear();
}

bool is_score_payload(std::string_view text, json& out) {
  json parsed = parse_untrusted(text);
  if (!parsed.is_object()) return false;
  const auto type = parsed.find("type");
  if (type == parsed.end() || !type->is_string() ||
      type->get_ref<const std::string&>() != kScoreType) {
    return false;
  }
  out = std::move(parsed);
  return true;
}

bool op_return_text(std::string_view hex, std::string& out) {
  if (hex.size() < 4 || hex.size() % 2 != 0) return false;
  for (const char c : hex) {
    if (hex_digit(c) < 0) return false;
  }
  const size_t size = hex.size() / 2;
  const auto byte = [hex](size_t index) {
    return static_cast<uint8_t>(hex_digit(hex[2 * index]) << 4 | hex_digit(hex[2 * index + 1]));
  };
  size_t at = 0;
  if (byte(at) == 0x00) ++at;
  if (at >= size || byte(at) != 0x6a || at + 1 >= size) return false;
  ++at;
  const uint8_t opcode = byte(at++);
  size_t length = 0;
  if (opcode < 76) {
    length = opcode;
  } else if (opcode == 76) {
    if (at + 1 > size) return false;
    length = byte(at);
    at += 1;
  } else if (opcode == 77) {
    if (at + 2 > size) return false;
    length = static_cast<size_t>(byte(at)) | static_cast<size_t>(byte(at + 1)) << 8;
    at += 2;
  } else {
    return false;
  }
  if (length < 1 || length > size - at) return false;
  std::string data(length, '\0');
  for (size_t i = 0; i < length; ++i) data[i] = static_cast<char>(byte(at + i));
  out = std::move(data);
  return true;
}

bool find_score_payload(const json& transaction, json& out) {
  if (!transaction.is_object()) return false;
  const auto outputs = transaction.find("vout");
  if (outputs == transaction.end() || !outputs->is_array()) return false;
  for (const json& output : *outputs) {
    if (!output.is_object()) continue;
    std::string script;
    const auto spk = output.find("scriptPubKey");
    const bool spk_object = spk != output.end() && spk->is_object();
    const auto spk_hex = spk_object ? spk->find("hex") : output.end();
    if (spk_object && spk_hex != spk->end() && spk_hex->is_string()) {
      script = spk_hex->get<std::string>();
    } else if (spk != output.end() && spk->is_string()) {
      script = spk->get<std::string>();
    } else {
      script = json_string_field(output, "hex");
    }
    std::string text;
    if (op_return_text(script, text) && is_score_payload(text, out)) return true;
  }
  return false;
}

}  // namespace arcade
