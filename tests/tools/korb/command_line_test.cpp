// Reading korb's arguments: every verb takes exactly what it documents, options in any order,
// and nothing a caller types can make the parser misbehave.
#include "tools/korb/command_line.h"

#include <gtest/gtest.h>

#include <random>

#include "mangle.h"

namespace {

using korb_app::parse_command_line;
using korb_app::Verb;

korb_app::Command parsed(const std::vector<std::string>& args) {
  const auto result = parse_command_line(args);
  EXPECT_TRUE(result.ok) << args.size() << ": " << result.error;
  return result.command;
}

// The forms the program-level tests do not use, and the wipe of the one secret a command carries.
TEST(command_line, option_forms_and_the_secret_wipe) {
  EXPECT_EQ(parsed({}).verb, Verb::window);
  auto restore = parsed({"restore", "--mnemonic=a b c", "--name", "R"});
  EXPECT_EQ(restore.mnemonic, "a b c");
  EXPECT_EQ(restore.name, "R");
  korb_app::wipe_command(restore);
  EXPECT_TRUE(restore.mnemonic.empty());

  const auto approve = parsed({"approve", "--wallet", "w2", "w9"});
  EXPECT_EQ(approve.request_id, "w9");
  EXPECT_EQ(approve.wallet_id, "w2");
  EXPECT_EQ(parsed({"sign-message", "w1", "--", "--odd message"}).message, "--odd message");
}

TEST(command_line, mistakes_are_named) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"frobnicate"}, "unknown command \"frobnicate\""},
      {{"create"}, "create needs --name"},
      {{"create", "--name"}, "--name needs a value"},
      {{"create", "--name", "a", "--name", "b"}, "--name given twice"},
      {{"create", "--name", "a", "extra"}, "too many arguments for create"},
      {{"show"}, "missing arguments for show"},
      {{"approve", "w1"}, "approve needs --wallet"},
      {{"deny", "--wallet", "w1", "w2"}, "unknown option --wallet for deny"},
      {{"create", "--name", std::string(1025, 'x')}, "--name is too long"},
  };
  for (const auto& [args, error] : cases) {
    const auto result = parse_command_line(args);
    EXPECT_FALSE(result.ok) << args[0];
    EXPECT_EQ(result.error, error);
  }
  // A message may be long (up to what can be signed), an id may not.
  EXPECT_TRUE(parse_command_line({"sign-message", "w1", std::string(65535, 'm')}).ok);
  EXPECT_FALSE(parse_command_line({"sign-message", "w1", std::string(65536, 'm')}).ok);
  EXPECT_FALSE(parse_command_line({"sign-message", std::string(1025, 'w'), "m"}).ok);
}

// Random argument lists built from the real words and junk: the parser always answers, an
// accepted command never carries more than the bounds allow.
TEST(command_line, random_arguments_are_answered_within_bounds) {
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const std::vector<std::string> words = {
      "create",         "restore", "list", "show",    "paymail", "sign-message", "verify-message",
      "requests",       "approve", "deny", "watch",   "--name",  "--mnemonic",   "--wallet",
      "--approve-with", "--json",  "--",   "--name=", "-",       "w1",           ""};
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::string> args(random() % 8);
    for (std::string& arg : args) {
      const size_t which = random() % (words.size() + 1);
      if (which < words.size()) {
        arg = words[which];
      } else {
        arg.resize(random() % 2000);
        for (char& c : arg) c = static_cast<char>(random());
      }
    }
    const auto result = parse_command_line(args);
    const auto& c = result.command;
    for (const std::string* value : {&c.name, &c.mnemonic, &c.wallet_id, &c.request_id, &c.handle,
                                     &c.public_key, &c.signature}) {
      EXPECT_LE(value->size(), korb_app::max_argument_bytes);
    }
    EXPECT_LE(c.message.size(), korb_app::max_message_bytes);
    EXPECT_EQ(result.ok, result.error.empty());
  }
}

}  // namespace
