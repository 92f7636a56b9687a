#include "wallet/transaction.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>

#include "wallet/broadcast.h"
#include "wallet/encoding.h"
#include "wallet/keys.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/signatures.h"

namespace wallet {
namespace {

constexpr uint32_t kSequenceFinal = 0xFFFFFFFFu;
constexpr uint32_t kSighashAllForkid = 0x41;
constexpr uint32_t kSighashNone = 2;
constexpr uint32_t kSighashSingle = 3;
constexpr uint32_t kSighashOriginalDigest = 0x20;
constexpr uint32_t kSighashAnyoneCanPay = 0x80;
constexpr unsigned char kEstimatedScriptByte = 0x6b;
constexpr int64_t kChangeOutputBytes = 34;
constexpr int kSendAttempts = 3;

void put_u32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void put_u64(Bytes& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void put_compact_size(Bytes& out, uint64_t value) {
  if (value < 0xFD) {
    out.push_back(static_cast<unsigned char>(value));
  } else if (value <= 0xFFFF) {
    out.push_back(0xFD);
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
  } else if (value <= 0xFFFFFFFFu) {
    out.push_back(0xFE);
    put_u32(out, static_cast<uint32_t>(value));
  } else {
    out.push_back(0xFF);
    put_u64(out, value);
  }
}

void put_script(Bytes& out, const Bytes& script) {
  put_compact_size(out, script.size());
  out.insert(out.end(), script.begin(), script.end());
}

// The 32 internal-order bytes of a display-order txid, then the index. False when the txid does
// not decode to 32 bytes.
bool put_outpoint(Bytes& out, const std::string& txid, uint32_t vout) {
  Bytes hash = hex_decode(txid);
  if (hash.size() != 32) return false;
  out.insert(out.end(), hash.rbegin(), hash.rend());
  put_u32(out, vout);
  return true;
}

void put_output(Bytes& out, const TxOutput& output) {
  put_u64(out, static_cast<uint64_t>(output.amount));
  put_script(out, output.script);
}

// The one serializer behind both public forms. `scripts` null means estimate mode.
struct InputView {
  const std::string* txid;
  uint32_t vout;
  const Bytes* script;
  uint32_t sequence;
};

Bytes serialize_parts(uint32_t version, const std::vector<InputView>& inputs,
                      const std::vector<TxOutput>& outputs, uint32_t lock_time, bool estimate) {
  Bytes out;
  put_u32(out, version);
  put_compact_size(out, inputs.size());
  for (const InputView& input : inputs) {
    if (!put_outpoint(out, *input.txid, input.vout)) return {};
    if (estimate) {
      out.push_back(kEstimatedScriptByte);
    } else {
      put_script(out, *input.script);
    }
    put_u32(out, input.sequence);
  }
  put_compact_size(out, outputs.size());
  for (const TxOutput& output : outputs) put_output(out, output);
  put_u32(out, lock_time);
  return out;
}

// Bounded reader over untrusted bytes.
struct ByteReader {
  const Bytes& data;
  std::size_t pos = 0;

  std::size_t left() const { return data.size() - pos; }
  bool read_u32(uint32_t& value) {
    if (left() < 4) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(data[pos + i]) << (8 * i);
    pos += 4;
    return true;
  }
  bool read_u64(uint64_t& value) {
    if (left() < 8) return false;
    value = 0;
    for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(data[pos + i]) << (8 * i);
    pos += 8;
    return true;
  }
  bool read_compact_size(uint64_t& value) {
    if (left() < 1) return false;
    const unsigned char first = data[pos++];
    if (first < 0xFD) {
      value = first;
      return true;
    }
    if (first == 0xFD) {
      if (left() < 2) return false;
      value = static_cast<uint64_t>(data[pos]) | (static_cast<uint64_t>(data[pos + 1]) << 8);
      pos += 2;
      return true;
    }
    if (first == 0xFE) {
      uint32_t v32 = 0;
      if (!read_u32(v32)) return false;
      value = v32;
      return true;
    }
    return read_u64(value);
  }
  bool read_bytes(uint64_t size, Bytes& out) {
    if (size > left()) return false;
    out.assign(data.begin() + static_cast<std::ptrdiff_t>(pos),
               data.begin() + static_cast<std::ptrdiff_t>(pos + size));
    pos += static_cast<std::size_t>(size);
    return true;
  }
};

std::size_t compact_size_length(uint64_t value) {
  return value < 0xFD ? 1 : value <= 0xFFFF ? 3 : value <= 0xFFFFFFFFu ? 5 : 9;
}

// The outputs' share of an estimated serialization: their count and each amount and script.
int64_t estimated_outputs_size(const std::vector<TxOutput>& outputs) {
  std::size_t size = compact_size_length(outputs.size());
  for (const TxOutput& output : outputs) {
    size += 8 + compact_size_length(output.script.size()) + output.script.size();
  }
  return static_cast<int64_t>(size);
}

// What serialize_transaction(inputs, outputs, true).size() gives for that many inputs: version,
// input count, 41 bytes an input, the outputs, lock time.
int64_t estimated_size(std::size_t input_count, int64_t outputs_size) {
  return static_cast<int64_t>(4 + compact_size_length(input_count) + 41 * input_count + 4) +
         outputs_size;
}

Digest32 sha256d_of(const Bytes& bytes) {
  return sha256d(bytes.data(), bytes.size());
}

bool checked_add(int64_t& total, int64_t value) {
  return !__builtin_add_overflow(total, value, &total);
}

std::vector<InputView> candidate_views(const std::vector<SpendCandidate>& inputs) {
  std::vector<InputView> views;
  views.reserve(inputs.size());
  for (const SpendCandidate& input : inputs) {
    views.push_back({&input.txid, input.vout, &input.unlocking_script, kSequenceFinal});
  }
  return views;
}

Transaction transaction_of(const std::vector<SpendCandidate>& inputs,
                           const std::vector<TxOutput>& outputs) {
  Transaction tx;
  for (const SpendCandidate& input : inputs) {
    tx.inputs.push_back({input.txid, input.vout, input.unlocking_script, kSequenceFinal});
  }
  tx.outputs = outputs;
  return tx;
}

bool is_zero(const Hash160& hash) {
  return std::all_of(hash.begin(), hash.end(), [](unsigned char b) { return b == 0; });
}

// The session is there when it is loaded, or when the Korb bridge can load it now.
bool ensure_session_loaded() {
  if (session_loaded()) return true;
  const auto& hooks = bridge_hooks();
  if (hooks.is_connected) (void)hooks.is_connected();
  return session_loaded();
}

bool tx_known(const std::string& txid) {
  return is_txid_hex(txid) && is_tx_known(txid);
}

// One broadcast attempt's transaction, kept so that a success concluded later (the network knows
// it after all) can still record what it spent and created.
struct SentAttempt {
  std::string txid;
  std::vector<SpendCandidate> inputs;
  std::vector<TxOutput> outputs;
  int64_t spent = 0;  // what left the wallet: the requested outputs and the fee
  bool recorded = false;
};

int64_t outputs_total(const std::vector<TxOutput>& outputs) {
  int64_t total = 0;
  for (const TxOutput& output : outputs) total += output.amount;
  return total;
}

// After a successful payment: settles the balance to show and, for a supervising process reading
// our standard output through a pipe, writes one machine-readable balance line.
void balance_notice(int64_t spent) {
  const int64_t balance = settle_balance(wallet_balance(), spent);
  if (isatty(fileno(stdout))) return;
  const auto& hooks = bridge_hooks();
  const std::string wallet_id = hooks.bound_wallet_id ? hooks.bound_wallet_id() : std::string();
  const std::string line = "[OW-BALANCE]\x1F" + std::to_string(balance) + "\x1F" + wallet_id + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

// Finishes a payment with the txid of an earlier attempt that the network knows.
std::string finish_known(SentAttempt& attempt) {
  if (!attempt.recorded) {
    record_sent_transaction(attempt.inputs, attempt.outputs, attempt.txid, nullptr);
    set_last_broadcast_txid(attempt.txid);
    attempt.recorded = true;
  }
  balance_notice(attempt.spent);
  return "success: " + attempt.txid;
}

void mark_inputs_spent(const std::vector<SpendCandidate>& inputs) {
  for (const SpendCandidate& input : inputs) mark_outpoint_spent(input.txid, input.vout);
  drop_spent_outputs();
}

}  // namespace

Bytes p2pkh_script(const Hash160& hash) {
  Bytes script{0x76, 0xa9, 0x14};
  script.insert(script.end(), hash.begin(), hash.end());
  script.push_back(0x88);
  script.push_back(0xac);
  return script;
}

void append_push(Bytes& script, const unsigned char* data, std::size_t size) {
  if (size < 76) {
    script.push_back(static_cast<unsigned char>(size));
  } else if (size < 256) {
    script.push_back(0x4c);
    script.push_back(static_cast<unsigned char>(size));
  } else if (size <= 0xFFFF) {
    script.push_back(0x4d);
    script.push_back(static_cast<unsigned char>(size));
    script.push_back(static_cast<unsigned char>(size >> 8));
  } else {
    script.push_back(0x4e);
    put_u32(script, static_cast<uint32_t>(size));
  }
  script.insert(script.end(), data, data + size);
}

bool is_p2pkh_script(const Bytes& script, Hash160& hash) {
  if (script.size() != 25 || script[0] != 0x76 || script[1] != 0xa9 || script[2] != 0x14 ||
      script[23] != 0x88 || script[24] != 0xac) {
    return false;
  }
  std::copy(script.begin() + 3, script.begin() + 23, hash.begin());
  return true;
}

Bytes data_script(const Bytes& payload) {
  Bytes script{0x00, 0x6a};
  append_push(script, payload.data(), payload.size());
  return script;
}

Bytes data_script(std::string_view payload) {
  Bytes script{0x00, 0x6a};
  append_push(script, reinterpret_cast<const unsigned char*>(payload.data()), payload.size());
  return script;
}

Bytes serialize_transaction(const std::vector<SpendCandidate>& inputs,
                            const std::vector<TxOutput>& outputs, bool estimate) {
  return serialize_parts(1, candidate_views(inputs), outputs, 0, estimate);
}

Bytes serialize_transaction(const Transaction& tx) {
  std::vector<InputView> views;
  views.reserve(tx.inputs.size());
  for (const TxInput& input : tx.inputs) {
    views.push_back({&input.txid, input.vout, &input.script, input.sequence});
  }
  return serialize_parts(tx.version, views, tx.outputs, tx.lock_time, false);
}

bool parse_transaction(const Bytes& raw, Transaction& tx) {
  tx = Transaction{};
  ByteReader reader{raw};
  uint64_t count = 0;
  if (!reader.read_u32(tx.version) || !reader.read_compact_size(count)) return false;
  // Every input takes at least 41 bytes and every output 9, so a count larger than what is left
  // is refused before anything is allocated for it.
  if (count > reader.left() / 41) return false;
  for (uint64_t i = 0; i < count; ++i) {
    Bytes hash;
    TxInput input;
    uint64_t script_size = 0;
    if (!reader.read_bytes(32, hash) || !reader.read_u32(input.vout) ||
        !reader.read_compact_size(script_size) || !reader.read_bytes(script_size, input.script) ||
        !reader.read_u32(input.sequence)) {
      return false;
    }
    std::reverse(hash.begin(), hash.end());
    input.txid = hex_encode(hash);
    tx.inputs.push_back(std::move(input));
  }
  if (!reader.read_compact_size(count) || count > reader.left() / 9) return false;
  for (uint64_t i = 0; i < count; ++i) {
    TxOutput output;
    uint64_t amount = 0;
    uint64_t script_size = 0;
    if (!reader.read_u64(amount) || !reader.read_compact_size(script_size) ||
        !reader.read_bytes(script_size, output.script)) {
      return false;
    }
    output.amount = static_cast<int64_t>(amount);
    tx.outputs.push_back(std::move(output));
  }
  if (!reader.read_u32(tx.lock_time)) return false;
  return reader.left() == 0;
}

bool parse_transaction_hex(std::string_view hex, const std::string& txid, Transaction& tx) {
  tx = Transaction{};
  auto is_padding = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"';
  };
  while (!hex.empty() && is_padding(hex.front())) hex.remove_prefix(1);
  while (!hex.empty() && is_padding(hex.back())) hex.remove_suffix(1);
  if (hex.empty() || hex.size() > kMaxRawTransactionHex) return false;
  const Bytes raw = hex_decode(hex);
  if (raw.empty() || !parse_transaction(raw, tx)) {
    tx = Transaction{};
    return false;
  }
  std::string wanted = txid;
  std::transform(wanted.begin(), wanted.end(), wanted.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (!wanted.empty() && transaction_txid(raw) != wanted) {
    tx = Transaction{};
    return false;
  }
  return true;
}

bool raw_output_script(std::string_view hex, const std::string& txid, uint32_t vout,
                       Bytes& script) {
  script.clear();
  Transaction tx;
  if (!parse_transaction_hex(hex, txid, tx) || vout >= tx.outputs.size()) return false;
  script = std::move(tx.outputs[vout].script);
  return true;
}

std::string transaction_txid(const Bytes& serialized) {
  if (serialized.empty()) return {};
  Digest32 hash = sha256d_of(serialized);
  std::reverse(hash.begin(), hash.end());
  return hex_encode(hash.data(), hash.size());
}

bool signature_hash_forkid(const Transaction& tx, std::size_t input_index, const Bytes& script_code,
                           int64_t amount, uint32_t sighash_type, Digest32& digest) {
  if (input_index >= tx.inputs.size()) return false;
  // The node signs types with this bit by its original algorithm, not by this digest; we never
  // make such signatures, so refuse rather than hand out a digest nobody checks against.
  if ((sighash_type & kSighashOriginalDigest) != 0) return false;
  const uint32_t base_type = sighash_type & 0x1f;
  const bool anyone_can_pay = (sighash_type & kSighashAnyoneCanPay) != 0;
  Digest32 hash_prevouts{};
  Digest32 hash_sequence{};
  Digest32 hash_outputs{};
  if (!anyone_can_pay) {
    Bytes prevouts;
    for (const TxInput& input : tx.inputs) {
      if (!put_outpoint(prevouts, input.txid, input.vout)) return false;
    }
    hash_prevouts = sha256d_of(prevouts);
  }
  if (!anyone_can_pay && base_type != kSighashSingle && base_type != kSighashNone) {
    Bytes sequences;
    for (const TxInput& input : tx.inputs) put_u32(sequences, input.sequence);
    hash_sequence = sha256d_of(sequences);
  }
  if (base_type != kSighashSingle && base_type != kSighashNone) {
    Bytes outputs;
    for (const TxOutput& output : tx.outputs) put_output(outputs, output);
    hash_outputs = sha256d_of(outputs);
  } else if (base_type == kSighashSingle && input_index < tx.outputs.size()) {
    Bytes output;
    put_output(output, tx.outputs[input_index]);
    hash_outputs = sha256d_of(output);
  }
  const TxInput& input = tx.inputs[input_index];
  Bytes preimage;
  put_u32(preimage, tx.version);
  preimage.insert(preimage.end(), hash_prevouts.begin(), hash_prevouts.end());
  preimage.insert(preimage.end(), hash_sequence.begin(), hash_sequence.end());
  if (!put_outpoint(preimage, input.txid, input.vout)) return false;
  put_script(preimage, script_code);
  put_u64(preimage, static_cast<uint64_t>(amount));
  put_u32(preimage, input.sequence);
  preimage.insert(preimage.end(), hash_outputs.begin(), hash_outputs.end());
  put_u32(preimage, tx.lock_time);
  put_u32(preimage, sighash_type);
  digest = sha256d_of(preimage);
  return true;
}

bool build_transaction(std::vector<SpendCandidate>& candidates, std::vector<TxOutput>& outputs,
                       const Hash160& change_hash160, const std::vector<TxOutput>& requested,
                       int64_t& fee, std::string& error) {
  fee = 0;
  error.clear();
  outputs = requested;
  if (outputs.empty()) {
    error = "nothing to pay.";
    return false;
  }
  int64_t target = 0;
  for (const TxOutput& output : outputs) {
    if (output.amount < 0 || output.script.empty() || !checked_add(target, output.amount)) {
      error = "invalid inscription output.";
      return false;
    }
  }

  // Walk the candidates in their given order until the selection covers the outputs, the fee for
  // its size and room for a change output. The size is counted rather than serialized for every
  // step, so a wallet with thousands of small outputs does not make this quadratic.
  const int64_t outputs_size = estimated_outputs_size(outputs);
  std::vector<SpendCandidate> selection;
  int64_t selected = 0;
  auto covers = [&]() {
    const int64_t size = estimated_size(selection.size(), outputs_size);
    return selected - target >= std::max<int64_t>(size + kChangeOutputBytes, 1);
  };
  bool enough = covers();
  for (SpendCandidate& candidate : candidates) {
    if (enough) break;
    int64_t with = selected;
    if (candidate.value < 0 || !checked_add(with, candidate.value)) continue;
    if (hex_decode(candidate.txid).size() != 32) continue;  // would make the serialization empty
    selection.push_back(candidate);
    selected = with;
    enough = covers();
  }
  wipe_candidates(candidates);
  candidates = std::move(selection);

  const Bytes estimate = serialize_transaction(candidates, outputs, true);
  if (estimate.empty()) {
    error = "failed to build transaction.";
    return false;
  }
  const int64_t size_without_change = std::max<int64_t>(static_cast<int64_t>(estimate.size()), 1);
  fee = size_without_change;
  if (selected - fee - target >= 1) {
    outputs.push_back({0, p2pkh_script(change_hash160)});
    const int64_t size_with_change = std::max<int64_t>(
        static_cast<int64_t>(serialize_transaction(candidates, outputs, true).size()), 1);
    const int64_t change = selected - size_with_change - target;
    if (change < 1) {
      // Too little left for a change output: the rest goes to the fee, which still has to
      // cover the transaction without change.
      outputs.pop_back();
      fee = std::max(selected - target, size_without_change);
    } else {
      outputs.back().amount = change;
      fee = size_with_change;
    }
  }
  if (selected - target >= fee) return true;
  int64_t need = target;
  if (!checked_add(need, fee)) {
    // No wallet can hold an amount that, with its fee, is past 64 bits.
    error = "invalid inscription output.";
    return false;
  }
  error = "insufficient funds. Need " + std::to_string(need) + " sats, you have " +
          std::to_string(selected) + " in your Korb wallet.";
  return false;
}

bool sign_input(SpendCandidate& input, const std::vector<SpendCandidate>& inputs,
                const std::vector<TxOutput>& outputs, const Hash160& default_owner,
                const std::string& private_key_hex, const std::string& public_key_hex) {
  const Transaction tx = transaction_of(inputs, outputs);
  std::size_t index = inputs.size();
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (&inputs[i] == &input || (inputs[i].txid == input.txid && inputs[i].vout == input.vout)) {
      index = i;
      break;
    }
  }
  const Bytes public_key = hex_decode(public_key_hex);
  if (index == inputs.size() || public_key.empty()) return false;
  const Bytes script_code = input.previous_locking_script.empty() ? p2pkh_script(default_owner)
                                                                  : input.previous_locking_script;
  Digest32 digest{};
  if (!signature_hash_forkid(tx, index, script_code, input.value, kSighashAllForkid, digest)) {
    return false;
  }
  Bytes signature;
  if (!sign_digest_der(private_key_hex, digest, signature)) return false;
  signature.push_back(static_cast<unsigned char>(kSighashAllForkid));
  Bytes unlocking;
  append_push(unlocking, signature.data(), signature.size());
  append_push(unlocking, public_key.data(), public_key.size());
  input.unlocking_script = std::move(unlocking);
  return true;
}

void record_sent_transaction(const std::vector<SpendCandidate>& inputs,
                             const std::vector<TxOutput>& outputs, const std::string& txid,
                             const Hash160* extra_own_hash) {
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  if (is_txid_hex(txid)) set_last_sent_txid(txid);
  mark_inputs_spent(inputs);

  std::vector<OwnedOutpoint> spent_owners;
  for (const SpendCandidate& input : inputs) {
    spent_owners.push_back({input.txid, input.vout, input.owner_hash160});
  }
  for (std::size_t index = 0; index < outputs.size(); ++index) {
    const TxOutput& output = outputs[index];
    Hash160 owner{};
    if (output.amount < 1 || !is_p2pkh_script(output.script, owner)) continue;
    if (!is_own_hash160(owner, spent_owners, extra_own_hash)) continue;
    const auto vout = static_cast<uint32_t>(index);
    if (is_pending_outpoint(txid, vout)) continue;
    PendingOutput pending;
    pending.txid = txid;
    pending.vout = vout;
    pending.value = output.amount;
    pending.owner_hash160 = owner;
    const auto same_owner = std::find_if(inputs.begin(), inputs.end(), [&](const auto& input) {
      return input.owner_hash160 == owner && !input.private_key_hex.empty();
    });
    if (same_owner != inputs.end()) {
      pending.private_key_hex = same_owner->private_key_hex;
      pending.public_key_hex = same_owner->public_key_hex;
    } else {
      pending.private_key_hex = session().payment_private_key;
      pending.public_key_hex = session().payment_public_key;
    }
    add_pending_output(pending, address_from_hash160(owner));
  }
}

std::string send_outputs(const std::vector<TxOutput>& outputs) {
  std::lock_guard<std::recursive_mutex> lock(session_mutex());
  if (!ensure_session_loaded()) return "error: no Orbweave Korb wallet. Use korb create first.";
  if (!session().hd) return "error: need an HD Korb wallet.";
  Hash160 change_hash{};
  if (!address_to_hash160(session().payment_address, change_hash)) {
    return "error: korb address decode failed.";
  }

  SentAttempt last;  // the most recent attempt that reached the broadcaster
  auto finish = [&](std::string result) {
    wipe_candidates(last.inputs);
    return result;
  };
  // The mutex is let go around every network fetch, the refetch after missing inputs included,
  // and another wallet may be loaded meanwhile: never pay from it with the change going to the
  // address taken above. (The payment address alone may move on within the same wallet; the
  // identity address does not.)
  const std::string identity_address = session().identity_address;
  const std::string key = wallet_key();
  auto same_wallet = [&] {
    return ensure_session_loaded() && session().hd &&
           session().identity_address == identity_address && wallet_key() == key;
  };
  for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
    std::string error;
    if (!ensure_fresh_unspent(error)) return finish("error: " + error);
    if (!same_wallet()) return finish("error: wallet changed.");

    std::vector<SpendCandidate> inputs;
    int64_t total = 0;
    const bool gathered = gather_spend_candidates(inputs, total, error);
    if (!same_wallet()) {
      wipe_candidates(inputs);
      return finish("error: wallet changed.");
    }
    if (!gathered) {
      wipe_candidates(inputs);
      if (tx_known(last.txid)) return finish(finish_known(last));
      std::string result = "error: you have 0 in your Korb wallet.";
      if (!error.empty()) result += " (" + error + ")";
      return finish(result);
    }

    std::vector<TxOutput> signed_outputs;
    int64_t fee = 0;
    if (!build_transaction(inputs, signed_outputs, change_hash, outputs, fee, error)) {
      wipe_candidates(inputs);
      if (tx_known(last.txid)) return finish(finish_known(last));
      if (attempt == kSendAttempts - 1) return finish("error: " + error);
      continue;
    }

    bool signed_all = true;
    for (SpendCandidate& input : inputs) {
      const bool own_keys = !input.private_key_hex.empty();
      const std::string& private_key =
          own_keys ? input.private_key_hex : session().payment_private_key;
      const std::string& public_key =
          own_keys ? input.public_key_hex : session().payment_public_key;
      Hash160 owner = own_keys ? input.owner_hash160 : change_hash;
      if (is_zero(owner)) {
        const Bytes key = hex_decode(public_key);
        owner = hash160(key.data(), key.size());
      }
      if (!sign_input(input, inputs, signed_outputs, owner, private_key, public_key)) {
        signed_all = false;
        break;
      }
    }

    std::string result = "error: signing failed.";
    if (signed_all) {
      std::string txid;
      result = broadcast_transaction(inputs, signed_outputs, txid);
      wipe_candidates(last.inputs);
      last = SentAttempt{txid, inputs, signed_outputs, outputs_total(outputs) + fee,
                         result.rfind("success", 0) == 0};
    }
    if (result.rfind("success", 0) == 0) {
      wipe_candidates(inputs);
      balance_notice(last.spent);
      return finish(result);
    }
    if (tx_known(last.txid)) {
      wipe_candidates(inputs);
      return finish(finish_known(last));
    }
    if (result.rfind(kArcRefusal, 0) == 0) {
      // ARC says the network does not have the transaction (an orphan, a refusal): the payment
      // ends with its words, and nothing is recorded or marked spent, since an input ARC cannot
      // find may only be unknown to it. The lists it was built from may be stale: the next
      // payment reads them again.
      invalidate_unspent_cache();
      wipe_candidates(inputs);
      return finish(result);
    }
    if (result.find("mempool-conflict") != std::string::npos) {
      mark_inputs_spent(inputs);
      wipe_candidates(inputs);
      continue;
    }
    if (is_missing_inputs(result)) {
      mark_inputs_spent(inputs);
      wipe_candidates(inputs);
      refresh_spendable();
      continue;
    }
    wipe_candidates(inputs);
    return finish(result);
  }
  if (tx_known(last.txid)) return finish(finish_known(last));
  return finish("error: broadcast failed after retry.");
}

}  // namespace wallet
