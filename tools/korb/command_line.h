// Turns korb's command-line arguments into one command record. Arguments come from whoever
// starts the program (players, scripts, tests), so every value is bounded here before any
// command sees it.
#pragma once

#include <string>
#include <vector>

namespace korb_app {

enum class Verb {
  window,  // no arguments: open the window
  help,
  create,
  restore,
  list,
  repair,
  show,
  paymail,
  sign_message,
  verify_message,
  requests,
  approve,
  deny,
  watch,
};

struct Command {
  Verb verb = Verb::window;
  std::string name;        // create, restore: the wallet's display name
  std::string mnemonic;    // restore (secret: wiped by whoever holds the command)
  std::string wallet_id;   // show, paymail, sign-message, approve --wallet, watch --approve-with
  std::string request_id;  // approve, deny
  std::string handle;      // paymail
  std::string message;     // sign-message, verify-message
  std::string public_key;  // verify-message
  std::string signature;   // verify-message
  bool json = false;       // show --json
};

struct ParsedCommand {
  bool ok = false;
  Command command;
  std::string error;  // set when !ok: what was wrong, in words for the user
};

// The longest value any single argument may carry; the longest message sign-message accepts
// (the signed-message length field tops out there).
inline constexpr size_t max_argument_bytes = 1024;
inline constexpr size_t max_message_bytes = 65535;

// args excludes the program name.
[[nodiscard]] ParsedCommand parse_command_line(const std::vector<std::string>& args);

// The usage text printed by "korb help" and after a parse error.
std::string usage_text();

// Cleanses the secret a command may carry (the restore mnemonic).
void wipe_command(Command& command);

}  // namespace korb_app
