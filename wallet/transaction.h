// Bitcoin SV transactions: the two script forms we create, serialization and txid, input selection
// with the fee, BIP143-style signing with SIGHASH_ALL|FORKID, and send_outputs, the one payment
// operation of the wallet (select, sign, broadcast, retry on stale unspent data, record).
//
// Our transactions are version 1, every input has sequence 0xFFFFFFFF and the lock time is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wallet/hashes.h"
#include "wallet/unspent.h"  // SpendCandidate

namespace wallet {

// One output: amount in satoshis (0 is allowed for data outputs) and its locking script.
struct TxOutput {
  int64_t amount = 0;
  Bytes script;
};

// A general transaction as read from raw bytes (any version, sequences, lock time).
struct TxInput {
  std::string txid;  // display order
  uint32_t vout = 0;
  Bytes script;
  uint32_t sequence = 0xFFFFFFFFu;
};
struct Transaction {
  uint32_t version = 1;
  std::vector<TxInput> inputs;
  std::vector<TxOutput> outputs;
  uint32_t lock_time = 0;
};

// 76 a9 14 <hash160> 88 ac.
Bytes p2pkh_script(const Hash160& hash);
// True for exactly 76 a9 14 <hash160> 88 ac; the hash160 goes to `hash`.
[[nodiscard]] bool is_p2pkh_script(const Bytes& script, Hash160& hash);
// 00 6a followed by one push of the payload.
Bytes data_script(const Bytes& payload);
Bytes data_script(std::string_view payload);
// Appends one push of `size` bytes: a length byte below 76, 4c + 1 byte below 256, 4d + 2 bytes up
// to 65535, 4e + 4 bytes beyond (little-endian), then the bytes.
void append_push(Bytes& script, const unsigned char* data, std::size_t size);

// Serialization of our own transaction. In estimate mode every unlocking script counts as the one
// byte 0x6b, so each input is 41 bytes whatever its signature. Empty when an input's txid does not
// decode to 32 bytes.
Bytes serialize_transaction(const std::vector<SpendCandidate>& inputs,
                            const std::vector<TxOutput>& outputs, bool estimate);
// Serialization of a general transaction; empty when an input's txid does not decode.
Bytes serialize_transaction(const Transaction& tx);
// Reads raw transaction bytes (untrusted: every count and length is checked against what is left,
// trailing bytes are refused). False on any malformed input; never throws.
[[nodiscard]] bool parse_transaction(const Bytes& raw, Transaction& tx);
// The longest raw transaction text read back from a service: a body the HTTP client accepts.
inline constexpr std::size_t kMaxRawTransactionHex = 32u * 1024u * 1024u;
// Reads a raw transaction given as hex text, as WhatsOnChain's "/tx/<txid>/hex" serves it (white
// space and double quotes around it are ignored). True only when the whole text parses and, when
// `txid` is not empty, the transaction hashes to it (either case): a service cannot hand us
// another transaction than the one asked for. Untrusted input: bounded, never throws.
[[nodiscard]] bool parse_transaction_hex(std::string_view hex, const std::string& txid,
                                         Transaction& tx);
// The locking script of output `vout` of a raw transaction's hex (read as parse_transaction_hex
// does); false when the text is not that transaction or it has no such output. For outputs whose
// script a decoded answer cut short ("isTruncated").
[[nodiscard]] bool raw_output_script(std::string_view hex, const std::string& txid, uint32_t vout,
                                     Bytes& script);
// SHA-256d of the serialization, byte-reversed, as 64 lowercase hex characters ("" for no bytes).
std::string transaction_txid(const Bytes& serialized);

// BIP143 signature hash with the fork-id flag for input `input_index` of `tx`, honouring the
// NONE, SINGLE and ANYONECANPAY bits of `sighash_type`; the type is written as its full 32 bits.
// False when the index is out of range, or when the type carries 0x20 (the node then signs by its
// original pre-fork algorithm, which this wallet never uses).
[[nodiscard]] bool signature_hash_forkid(const Transaction& tx, std::size_t input_index,
                                         const Bytes& script_code, int64_t amount,
                                         uint32_t sighash_type, Digest32& digest);

// Selects inputs from `candidates` in their order until they cover the outputs plus the fee (1
// satoshi per estimated byte), appends change to `change_hash160` when it is at least 1 satoshi.
// On return `candidates` holds the selected inputs and `outputs` the outputs to sign. Errors:
// "nothing to pay.", "invalid inscription output.", "failed to build transaction.",
// "insufficient funds. Need N sats, you have M in your Korb wallet.".
[[nodiscard]] bool build_transaction(std::vector<SpendCandidate>& candidates,
                                     std::vector<TxOutput>& outputs, const Hash160& change_hash160,
                                     const std::vector<TxOutput>& requested, int64_t& fee,
                                     std::string& error);

// Signs `input` (one of `inputs`) with SIGHASH_ALL|FORKID (0x41) and fills its unlocking script
// with push(DER || 41) push(public key). The script code is the input's previous locking script,
// else P2PKH of `default_owner`.
[[nodiscard]] bool sign_input(SpendCandidate& input, const std::vector<SpendCandidate>& inputs,
                              const std::vector<TxOutput>& outputs, const Hash160& default_owner,
                              const std::string& private_key_hex,
                              const std::string& public_key_hex);

// Pays the outputs from the connected wallet: "success: <txid>" or an "error: " text. The caller
// holds the session mutex; it is released only around network fetches.
std::string send_outputs(const std::vector<TxOutput>& outputs);

// Records a successful transaction: remembers it as the last sent one (set_last_sent_txid), marks
// its inputs spent, and keeps its outputs that pay the wallet as pending outputs (and in the
// address cache) so the next payment can spend the change before any service lists it.
// `extra_own_hash` may be null.
void record_sent_transaction(const std::vector<SpendCandidate>& inputs,
                             const std::vector<TxOutput>& outputs, const std::string& txid,
                             const Hash160* extra_own_hash);

}  // namespace wallet
