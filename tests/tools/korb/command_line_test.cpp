// Reading korb's arguments: every verb takes exactly what it documents, options in any order,
// and nothing a caller types can make the parser misbehave.
#include <gtest/gtest.h>

#include <random>

#include "tools/korb/command_line.h"

namespace {

using korb_app::parse_command_line;
using korb_app::Verb;

TEST(command_line, verbs_take_their_arguments_and_options) {
  EXPECT_EQ(parse_command_line({}).command.verb, Verb::window);
  EXPECT_TRUE(parse_command_line({}).ok);

  auto create = parse_command_line({"create", "--name", "Main purse"});
  ASSERT_TRUE(create.ok) << create.error;
  EXPECT_EQ(create.command.verb, Verb::create);
  EXPECT_EQ(create.command.name, "Main purse");

  auto restore = parse_command_line({"restore", "--mnemonic=a b c", "--name", "R"});
  ASSERT_TRUE(restore.ok) << restore.error;
  EXPECT_EQ(restore.command.mnemonic, "a b c");
  EXPECT_EQ(restore.command.name, "R");
  korb_app::wipe_command(restore.command);
  EXPECT_TRUE(restore.command.mnemonic.empty());

  auto show = parse_command_line({"show", "w1", "--json"});
  ASSERT_TRUE(show.ok);
  EXPECT_EQ(show.command.wallet_id, "w1");
  EXPECT_TRUE(show.command.json);

  auto approve = parse_command_line({"approve", "--wallet", "w2", "w9"});
  ASSERT_TRUE(approve.ok) << approve.error;
  EXPECT_EQ(approve.command.request_id, "w9");
  EXPECT_EQ(approve.command.wallet_id, "w2");

  auto verify = parse_command_line({"verify-message", "--", "--odd message", "02ab", "sig"});
  ASSERT_TRUE(verify.ok) << verify.error;
  EXPECT_EQ(verify.command.message, "--odd message");
  EXPECT_EQ(verify.command.public_key, "02ab");
  EXPECT_EQ(verify.command.signature, "sig");

  auto watch = parse_command_line({"watch", "--approve-with", "w3"});
  ASSERT_TRUE(watch.ok);
  EXPECT_EQ(watch.command.wallet_id, "w3");
  EXPECT_EQ(parse_command_line({"--help"}).command.verb, Verb::help);
}

TEST(command_line, mistakes_are_named) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"frobnicate"}, "unknown command \"frobnicate\""},
      {{"create"}, "create needs --name"},
      {{"create", "--name"}, "--name needs a value"},
      {{"create", "--name", "a", "--name", "b"}, "--name given twice"},
      {{"create", "--name", "a", "extra"}, "too many arguments for create"},
      {{"list", "--json"}, "unknown option --json for list"},
      {{"show"}, "missing arguments for show"},
      {{"approve", "w1"}, "approve needs --wallet"},
      {{"deny", "--wallet", "w1", "w2"}, "unknown option --wallet for deny"},
      {{"create", "--name", std::string(1025, 'x')}, "--name is too long"},
  };
  for (const auto& [args, error] : cases) {
    const auto parsed = parse_command_line(args);
    EXPECT_FALSE(parsed.ok) << args[0];
    EXPECT_EQ(parsed.error, error);
  }
  // A message may be long (up to what can be signed), an id may not.
  EXPECT_TRUE(parse_command_line({"sign-message", "w1", std::string(65535, 'm')}).ok);
  EXPECT_FALSE(parse_command_line({"sign-message", "w1", std::string(65536, 'm')}).ok);
  EXPECT_FALSE(parse_command_line({"sign-message", std::string(1025, 'w'), "m"}).ok);
}

// Random argument lists built from the real words and junk: the parser always answers, an
// accepted command never carries more than the bounds allow, and errors stay short.
TEST(command_line, random_arguments_are_answered_within_bounds) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const std::vector<std::string> words = {
      "create",         "restore", "list", "show",    "paymail", "sign-message", "verify-message",
      "requests",       "approve", "deny", "watch",   "--name",  "--mnemonic",   "--wallet",
      "--approve-with", "--json",  "--",   "--name=", "-",       "w1",           ""};
  std::uniform_int_distribution<int> count(0, 7), pick(0, static_cast<int>(words.size())),
      byte(0, 255), length(0, 2000);
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::string> args(static_cast<size_t>(count(random)));
    for (std::string& arg : args) {
      const int which = pick(random);
      if (which < static_cast<int>(words.size())) {
        arg = words[static_cast<size_t>(which)];
      } else {
        arg.resize(static_cast<size_t>(length(random)));
        for (char& c : arg) c = static_cast<char>(byte(random));
      }
    }
    const auto parsed = parse_command_line(args);
    if (parsed.ok) {
      const auto& c = parsed.command;
      for (const std::string* value : {&c.name, &c.mnemonic, &c.wallet_id, &c.request_id, &c.handle,
                                       &c.public_key, &c.signature}) {
        EXPECT_LE(value->size(), korb_app::max_argument_bytes);
      }
      EXPECT_LE(c.message.size(), korb_app::max_message_bytes);
    } else {
      EXPECT_FALSE(parsed.error.empty());
      EXPECT_LE(parsed.error.size(), 200u);
    }
  }
}

}  // namespace
