#include "tools/korb/commands.h"

#include <csignal>
#include <thread>

#include <nlohmann/json.hpp>

#include "korb/data_directory.h"
#include "korb/registry.h"
#include "tools/korb/connect_answers.h"
#include "tools/korb/printable_text.h"
#include "tools/korb/wallet_store.h"
#include "wallet/secret.h"
#include "wallet/signatures.h"

namespace korb_app {
namespace {

volatile std::sig_atomic_t stop_watching = 0;

extern "C" void on_stop_signal(int) {
  stop_watching = 1;
}

// How often `korb watch` looks for new requests. Games poll every half second, so this keeps
// the answer well inside one of their polls.
constexpr std::chrono::milliseconds watch_interval{200};

// Error texts quote ids, names and paths that came from files; they reach the terminal only in
// printable form.
int fail(std::ostream& err, const std::string& error) {
  err << "korb: " << printable_field(error, 4096) << "\n";
  return exit_failed;
}

int create_or_restore(Command& command, std::ostream& out, std::ostream& err) {
  std::string name, error;
  wallet::SecretString mnemonic;
  if (!clean_wallet_name(command.name, name, error)) return fail(err, error);
  const bool creating = command.verb == Verb::create;
  if (creating) {
    if (!generate_mnemonic(mnemonic)) return fail(err, "the random source failed");
  } else {
    mnemonic = normalized_mnemonic(command.mnemonic);
    wipe_command(command);
    if (mnemonic.empty()) {
      return fail(err,
                  "that is not a valid mnemonic: it needs 12 words from the English BIP39 list "
                  "with a matching checksum");
    }
  }
  std::string id;
  const bool added = add_wallet(name, mnemonic, id, error);
  if (!added) return fail(err, error);
  WalletDetails details;
  const bool shown = wallet_details(id, details, error);
  out << (creating ? "Created" : "Restored") << " wallet " << id << " \"" << name << "\"\n";
  if (shown) out << "Payment address: " << details.address << "\n";
  if (creating) {
    out << "\nWrite down these 12 words now. They are the only way to restore this wallet,\n"
           "and korb will not show them again:\n\n  "
        << mnemonic.str() << "\n\n";
  }
  out.flush();
  return exit_ok;
}

int list(std::ostream& out, std::ostream& err) {
  std::vector<StoredWallet> wallets;
  std::string error;
  if (!list_stored_wallets(wallets, error)) return fail(err, error);
  if (wallets.empty()) {
    out << "No wallets yet. Make one with: korb create --name NAME\n";
    return exit_ok;
  }
  for (const StoredWallet& stored : wallets) {
    out << printable_id(stored.id) << "\t" << printable_field(stored.name, max_wallet_name_bytes)
        << "\t" << (stored.address.empty() ? "(wallet file unusable)" : stored.address) << "\n";
  }
  return exit_ok;
}

nlohmann::json details_json(const WalletDetails& details) {
  return nlohmann::json{{"id", details.id},
                        {"name", details.name},
                        {"hd", details.hd},
                        {"address", details.address},
                        {"identity_public_key", details.identity_public_key},
                        {"identity_address", details.identity_address},
                        {"encryption_public_key", details.encryption_public_key},
                        {"ordinals_address", details.ordinals_address},
                        {"paymail", details.paymail},
                        {"recv", details.recv},
                        {"show", details.show}};
}

int show(const Command& command, std::ostream& out, std::ostream& err) {
  WalletDetails details;
  std::string error;
  if (!wallet_details(command.wallet_id, details, error)) return fail(err, error);
  const nlohmann::json document = details_json(details);
  if (command.json) {
    out << document.dump(2) << "\n";
    return exit_ok;
  }
  for (const auto& [key, value] : document.items()) {
    out << key << ": "
        << printable_field(value.is_string() ? value.get<std::string>() : value.dump(), 4096)
        << "\n";
  }
  return exit_ok;
}

int paymail(const Command& command, std::ostream& out, std::ostream& err) {
  std::string name, error;
  if (!set_wallet_paymail(command.wallet_id, command.handle, name, error)) {
    return fail(err, error);
  }
  out << "Wallet " << command.wallet_id << " now has the paymail name " << name << "\n";
  return exit_ok;
}

int sign_message(const Command& command, std::ostream& out, std::ostream& err) {
  std::string public_key, signature, error;
  if (!sign_with_wallet(command.wallet_id, command.message, public_key, signature, error)) {
    return fail(err, error);
  }
  out << public_key << "\n" << signature << "\n";
  return exit_ok;
}

int verify_message(const Command& command, std::ostream& out) {
  const bool valid = wallet::verify_message(command.message, command.public_key, command.signature);
  out << (valid ? "valid" : "invalid") << "\n";
  return valid ? exit_ok : exit_failed;
}

int requests(std::ostream& out, std::ostream& err) {
  std::string error;
  if (!korb::check_data_dir(error)) return fail(err, error);
  const auto pending = korb::list_connect_requests();
  if (pending.empty()) {
    out << "No pending connect requests.\n";
    return exit_ok;
  }
  const std::int64_t now = unix_seconds_now();
  for (const korb::ConnectRequest& request : pending) {
    out << printable_id(request.id) << "\t" << printable_field(request.app, shown_app_bytes) << "\t"
        << printable_field(request.instance, shown_instance_bytes) << "\t"
        << (is_request_live(request, now) ? "waiting" : "expired") << "\n";
  }
  return exit_ok;
}

int answer(const Command& command, std::ostream& out, std::ostream& err) {
  std::string error;
  if (command.verb == Verb::approve) {
    if (!approve_request(command.request_id, command.wallet_id, error)) return fail(err, error);
    out << "Approved " << printable_id(command.request_id) << " with wallet "
        << printable_id(command.wallet_id) << "\n";
  } else {
    if (!deny_request(command.request_id, error)) return fail(err, error);
    out << "Denied " << printable_id(command.request_id) << "\n";
  }
  return exit_ok;
}

int watch(const Command& command, std::ostream& out, std::ostream& err) {
  std::string error;
  if (!check_wallet_usable(command.wallet_id, error)) return fail(err, error);
  err << "korb: WARNING: watching for connect requests and APPROVING EVERY ONE with wallet "
      << printable_id(command.wallet_id) << ".\n"
      << "korb: Any program that asks gets this wallet. Stop with Ctrl+C.\n";
  err.flush();
  stop_watching = 0;
  std::signal(SIGINT, on_stop_signal);
  std::signal(SIGTERM, on_stop_signal);
  std::set<std::string> failed;
  while (stop_watching == 0) {
    approve_all_live(
        command.wallet_id, unix_seconds_now(), failed,
        [&out](const std::string& line) { out << printable_field(line, 4096) << std::endl; });
    std::this_thread::sleep_for(watch_interval);
  }
  err << "korb: stopped watching.\n";
  return exit_ok;
}

int repair(std::ostream& out, std::ostream& err) {
  korb::RepairReport report;
  std::string error;
  const bool repaired = korb::repair_registry(report, error);
  for (const std::string& line : report.lines) out << printable_field(line, 4096) << "\n";
  if (!repaired) return fail(err, error);
  out << (report.added == 0 ? "Nothing to repair.\n"
                            : "Listed " + std::to_string(report.added) + " wallet(s) again.\n");
  return exit_ok;
}

}  // namespace

int run_command(Command& command, std::ostream& out, std::ostream& err) {
  switch (command.verb) {
    case Verb::window:
    case Verb::help:
      out << usage_text();
      return exit_ok;
    case Verb::create:
    case Verb::restore:
      return create_or_restore(command, out, err);
    case Verb::list:
      return list(out, err);
    case Verb::show:
      return show(command, out, err);
    case Verb::paymail:
      return paymail(command, out, err);
    case Verb::sign_message:
      return sign_message(command, out, err);
    case Verb::verify_message:
      return verify_message(command, out);
    case Verb::requests:
      return requests(out, err);
    case Verb::repair:
      return repair(out, err);
    case Verb::approve:
    case Verb::deny:
      return answer(command, out, err);
    case Verb::watch:
      return watch(command, out, err);
  }
  return exit_usage;
}

}  // namespace korb_app
