// Answering games' connect requests with korb programs, as a player or a script would run them.
// The window test refuses an unusable wallet; the race below refuses a second answer.
#include "tools/korb/connect_answers.h"

#include <gtest/gtest.h>

#include <future>

#include "tools/korb/korb_test_support.h"

namespace {

using namespace std::chrono_literals;
using korb_test::read_json;

using Answers = korb_test::KorbTest;
using korb_test::add_wallet;
using korb_test::write_request;

// `korb watch` as a program warns that it approves everything and answers a waiting request
// within a game's poll. A game polls for about a minute, so a request older than the live window
// is left alone (one from the future counts: clocks drift).
TEST_F(Answers, korb_watch_approves_live_requests) {
  const korb::ConnectRequest asked{"w1", "O-Stakka", "", 1000};
  EXPECT_TRUE(korb_app::is_request_live(asked, 1000 + korb_app::request_live_seconds));
  EXPECT_FALSE(korb_app::is_request_live(asked, 1001 + korb_app::request_live_seconds));
  EXPECT_TRUE(korb_app::is_request_live(asked, 970));

  const std::string wallet = add_wallet("Main");
  const std::int64_t now = korb_app::unix_seconds_now();
  const std::string fresh = write_request("w1001", now), stale = write_request("w1000", now - 600);
  // Watch runs until stopped: the timeout ends it long after a game's first poll.
  const auto watched = korb_test::run_korb({"watch", "--approve-with", wallet}, 3s);
  EXPECT_EQ(read_json(fresh), (nlohmann::json{{"ok", true}, {"wallet_id", wallet}}));
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_NE(watched.err.find("APPROVING EVERY ONE"), std::string::npos) << watched.err;
}

// `korb approve` and `korb deny` started at once on one request, round after round, as real
// programs: exactly one answer counts, the other fails saying so, and the reply is the winner's.
TEST_F(Answers, of_two_answers_at_once_exactly_one_counts) {
  const std::string wallet = add_wallet("Racer");
  for (int i = 0; i < 20; ++i) {
    const std::string id = "w" + std::to_string(1000 + i);
    write_request(id, korb_app::unix_seconds_now());
    const std::vector<std::string> approve = {"approve", id, "--wallet", wallet};
    const std::vector<std::string> deny = {"deny", id};
    // Alternate which starts first, so neither side is always ahead.
    auto one = std::async(std::launch::async, korb_test::run_korb, i % 2 ? deny : approve, 30s);
    auto two = std::async(std::launch::async, korb_test::run_korb, i % 2 ? approve : deny, 30s);
    const korb_test::RunResult first = one.get(), second = two.get();
    ASSERT_EQ((first.exit_code == 0) + (second.exit_code == 0), 1) << id;
    const korb_test::RunResult& loser = first.exit_code == 0 ? second : first;
    EXPECT_EQ(loser.exit_code, 1);
    EXPECT_NE(loser.err.find("connect request " + id + " was already answered"), std::string::npos)
        << loser.err;
    const bool approved = (i % 2 ? second : first).exit_code == 0;
    EXPECT_EQ(read_json(korb::connect_reply_path(id))["ok"], approved);
  }
}

}  // namespace
