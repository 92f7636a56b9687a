#include "tools/korb/command_line.h"

#include <openssl/crypto.h>

#include <optional>
#include <string_view>

namespace korb_app {
namespace {

// What one verb expects: its positional values in order, the options that take a value, and
// which of those options are required. Flags without a value are only "--json".
struct VerbRule {
  std::string_view word;
  Verb verb;
  std::vector<std::string Command::*> positionals;
  std::vector<std::pair<std::string_view, std::string Command::*>> options;
  std::vector<std::string_view> required;
  bool allows_json = false;
};

const std::vector<VerbRule>& verb_rules() {
  static const std::vector<VerbRule> rules = {
      {"help", Verb::help, {}, {}, {}},
      {"create", Verb::create, {}, {{"--name", &Command::name}}, {"--name"}},
      {"restore",
       Verb::restore,
       {},
       {{"--name", &Command::name}, {"--mnemonic", &Command::mnemonic}},
       {"--name", "--mnemonic"}},
      {"list", Verb::list, {}, {}, {}},
      {"repair", Verb::repair, {}, {}, {}},
      {"show", Verb::show, {&Command::wallet_id}, {}, {}, true},
      {"paymail", Verb::paymail, {&Command::wallet_id, &Command::handle}, {}, {}},
      {"sign-message", Verb::sign_message, {&Command::wallet_id, &Command::message}, {}, {}},
      {"verify-message",
       Verb::verify_message,
       {&Command::message, &Command::public_key, &Command::signature},
       {},
       {}},
      {"requests", Verb::requests, {}, {}, {}},
      {"approve",
       Verb::approve,
       {&Command::request_id},
       {{"--wallet", &Command::wallet_id}},
       {"--wallet"}},
      {"deny", Verb::deny, {&Command::request_id}, {}, {}},
      {"watch", Verb::watch, {}, {{"--approve-with", &Command::wallet_id}}, {"--approve-with"}},
  };
  return rules;
}

const VerbRule* find_rule(std::string_view word) {
  for (const VerbRule& rule : verb_rules()) {
    if (rule.word == word) return &rule;
  }
  return nullptr;
}

ParsedCommand failure(std::string text) {
  ParsedCommand parsed;
  parsed.error = std::move(text);
  return parsed;
}

bool is_message_field(const VerbRule& rule, std::string Command::*field) {
  return (rule.verb == Verb::sign_message || rule.verb == Verb::verify_message) &&
         field == &Command::message;
}

}  // namespace

ParsedCommand parse_command_line(const std::vector<std::string>& args) {
  ParsedCommand parsed;
  if (args.empty()) {
    parsed.ok = true;
    return parsed;
  }
  std::string_view word = args[0];
  if (word == "--help" || word == "-h") word = "help";
  const VerbRule* rule = find_rule(word);
  if (rule == nullptr) {
    if (word.size() > 64) return failure("unknown command");
    return failure("unknown command \"" + std::string(word) + "\"");
  }
  parsed.command.verb = rule->verb;

  size_t next_positional = 0;
  std::vector<std::string_view> seen;
  bool only_positionals = false;  // after "--", so a message may itself start with "--"
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--" && !only_positionals) {
      only_positionals = true;
      continue;
    }
    std::string_view option;
    std::optional<std::string> value;
    if (!only_positionals && arg.size() > 2 && arg.starts_with("--")) {
      const size_t eq = arg.find('=');
      option = std::string_view(arg).substr(0, eq);
      if (eq != std::string::npos) value = arg.substr(eq + 1);
    }
    if (!option.empty()) {
      if (option == "--json" && rule->allows_json && !value) {
        parsed.command.json = true;
        continue;
      }
      std::string Command::*field = nullptr;
      for (const auto& [known, target] : rule->options) {
        if (known == option) field = target;
      }
      if (field == nullptr) {
        if (option.size() > 64) return failure("unknown option for " + std::string(rule->word));
        return failure("unknown option " + std::string(option) + " for " + std::string(rule->word));
      }
      for (std::string_view earlier : seen) {
        if (earlier == option) return failure(std::string(option) + " given twice");
      }
      seen.push_back(option);
      if (!value) {
        if (i + 1 >= args.size()) return failure(std::string(option) + " needs a value");
        value = args[++i];
      }
      if (value->size() > max_argument_bytes) {
        return failure(std::string(option) + " is too long");
      }
      parsed.command.*field = std::move(*value);
      continue;
    }
    if (next_positional >= rule->positionals.size()) {
      return failure("too many arguments for " + std::string(rule->word));
    }
    std::string Command::*field = rule->positionals[next_positional++];
    const size_t limit = is_message_field(*rule, field) ? max_message_bytes : max_argument_bytes;
    if (arg.size() > limit)
      return failure("an argument of " + std::string(rule->word) + " is too long");
    parsed.command.*field = arg;
  }
  if (next_positional < rule->positionals.size()) {
    return failure("missing arguments for " + std::string(rule->word));
  }
  for (std::string_view option : rule->required) {
    bool given = false;
    for (std::string_view earlier : seen) given = given || earlier == option;
    if (!given) return failure(std::string(rule->word) + " needs " + std::string(option));
  }
  parsed.ok = true;
  return parsed;
}

std::string usage_text() {
  return "Korb: the Orbweave wallet application\n"
         "\n"
         "  korb                                   open the Korb window\n"
         "  korb create --name NAME                make a new wallet (shows its words once)\n"
         "  korb restore --name NAME --mnemonic \"WORDS\"\n"
         "                                         restore a wallet from its 12 words\n"
         "  korb list                              list the wallets\n"
         "  korb repair                            list wallet folders the registry lost\n"
         "  korb show ID [--json]                  show a wallet's addresses and keys\n"
         "  korb paymail ID HANDLE                 give a wallet its paymail name\n"
         "  korb sign-message ID MESSAGE           sign with the wallet's identity key\n"
         "  korb verify-message MESSAGE PUBKEY SIGNATURE\n"
         "  korb requests                          list pending connect requests\n"
         "  korb approve REQUEST_ID --wallet ID    approve a connect request\n"
         "  korb deny REQUEST_ID                   deny a connect request\n"
         "  korb watch --approve-with ID           approve EVERY connect request until stopped\n";
}

void wipe_command(Command& command) {
  if (!command.mnemonic.empty()) OPENSSL_cleanse(command.mnemonic.data(), command.mnemonic.size());
  command.mnemonic.clear();
}

}  // namespace korb_app
