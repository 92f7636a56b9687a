// The score record: the signed row that carries a finished run on-chain, how every copy of the
// game checks such a row, and how it is found again inside a transaction read back from the chain.
//
// A row is a JSON object with sorted keys, written compactly. Its claim message ("OW1|...") is
// signed with the player's identity key, and a reader accepts the row only when the signature
// verifies against the key the maker's paymail service publishes for the player. Everything read
// from outside (payload texts, scripts, transactions, service answers) is untrusted: the readers
// here are bounded, never throw, and read a missing or mistyped field as empty or 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "engine/run.h"
#include "engine/tape.h"

namespace arcade {

// There is one tape serialiser, the engine's: the score record uses it as it stands.
using engine::serialize_tape;
using engine::tape_hash;
using engine::tape_hex;

using ScorePayload = nlohmann::json;

inline constexpr const char* kScoreProtocol = "RQT-Wire";
inline constexpr const char* kScoreType = "arcade_score";
inline constexpr const char* kScoreLocation = "arcade";
inline constexpr const char* kGameName = "stakka";

// The twelve builder keys of a score row for `run` at Unix time `now`: the constants, the
// session's paymail handle and current receive address (read under the session mutex after a
// refresh; empty without a wallet), the score, the week, the entry txid and the tape.
[[nodiscard]] ScorePayload build_score_payload(const engine::RunRecord& run, int64_t now);
// The same for the program's current run and the wall clock.
[[nodiscard]] ScorePayload build_score_payload();

// Completes a payload in place with "actor", "paymail", "pubkey" and "sig" (and "ts" when it holds
// no number), signing its claim message with the session's identity key, then checks the result
// the way every reader will. On false `error` holds the reason ("Connect Korb", the signer's text,
// or "identity signature did not verify against <domain> PKI").
[[nodiscard]] bool sign_claim(ScorePayload& payload, std::string& error);

// "OW1|type|place|handle|actor|ts|fields", the text the identity key signs.
[[nodiscard]] std::string claim_message(const nlohmann::json& payload);

// The whole check of a signed payload, including the lookup of the published identity key.
[[nodiscard]] bool verify_claim(const nlohmann::json& payload);

// Surrounding white space removed, then one leading "@" or "$", then white space again.
[[nodiscard]] std::string normalize_handle(std::string_view text);

// The string at `key`, else the string at `alternative` (when given), else "".
[[nodiscard]] std::string json_string_field(const nlohmann::json& object, const char* key,
                                            const char* alternative = nullptr);
// The number at `key`: integers as they are, floating values truncated toward zero, decimal texts
// by their longest leading numeric part (blanks and a sign may lead); 0 when absent, unreadable or
// out of the signed 64-bit range.
[[nodiscard]] int64_t json_int_field(const nlohmann::json& object, const char* key);

// True, with the object in `out`, when `text` parses as a JSON object whose "type" is exactly
// "arcade_score".
[[nodiscard]] bool is_score_payload(std::string_view text, nlohmann::json& out);
// The data of the first push after OP_RETURN (optionally led by OP_FALSE) in a script given as
// hex. Only pushes of 1 to 65535 bytes in their direct, OP_PUSHDATA1 or OP_PUSHDATA2 forms count.
[[nodiscard]] bool op_return_text(std::string_view script_hex, std::string& out);
// The first output of a decoded transaction that carries a score row.
[[nodiscard]] bool find_score_payload(const nlohmann::json& transaction, nlohmann::json& out);

// The identity key (compressed lower-case hex) the service publishes for `actor`, or "". A
// "paymail" that names the same alias at another domain gives "". Found keys are cached for 30
// minutes; failures are not cached.
[[nodiscard]] std::string lookup_identity_key(const std::string& actor, const std::string& paymail);
// Forgets every cached identity key (tests and benchmarks measure cold loads with it).
void clear_identity_key_cache();

// ---- The two halves of verify_claim, for the board scan --------------------------------------
// The scan checks every signature first (in parallel), then looks up each distinct signer once.

// What verify_claim needs from the network after the local checks passed.
struct ClaimCheck {
  std::string pubkey;      // the signer's key, compressed lower-case hex
  std::string lookup_key;  // alias@domain to look up; "" when no lookup can succeed
};
// Everything of verify_claim except the lookup (steps up to the key normalisation).
[[nodiscard]] bool check_claim_locally(const nlohmann::json& payload, ClaimCheck& out);
// The lookup itself by its "alias@domain" text, through the cache.
[[nodiscard]] std::string fetch_identity_key(const std::string& lookup_key);
// The "alias@domain" text lookup_identity_key asks the service for, or "" when it would give "".
[[nodiscard]] std::string identity_lookup_key(const std::string& actor, const std::string& paymail);

// A text made safe as one URL path segment: everything but letters, digits and "-._~" is
// percent-encoded. Names from chain data go into request paths only through this.
[[nodiscard]] std::string url_path_segment(std::string_view text);

}  // namespace arcade
