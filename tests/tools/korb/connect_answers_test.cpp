// Connect handshakes between two real processes: the game's side of the bridge runs in this
// test, the korb program answers from a child process, and what the game ends up bound to and
// loaded with is checked, for approval, denial and silence.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <future>
#include <iostream>
#include <mutex>
#include <regex>
#include <thread>

#include "korb/atomic_file.h"
#include "korb/connect.h"
#include "korb/connect_testing.h"
#include "korb/registry.h"
#include "korb/session.h"
#include "tools/korb/connect_answers.h"
#include "tools/korb/korb_test_support.h"

namespace {

using namespace std::chrono_literals;
using korb_test::read_json;
using korb_test::read_text;
using korb_test::run_korb;

std::mutex lines_mutex;
std::vector<std::string> lines;

void capture_line(const std::string& line) {
  std::lock_guard<std::mutex> lock(lines_mutex);
  lines.push_back(line);
}

bool saw_line(const std::string& line) {
  std::lock_guard<std::mutex> lock(lines_mutex);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Handshake : public ::testing::Test {
 protected:
  korb_test::TempDataDir dir;
  std::string first, second;

  void SetUp() override {
    first = korb_test::create_wallet("First");
    second = korb_test::create_wallet("Second");
    ASSERT_FALSE(first.empty() || second.empty());
    // Two wallets: nothing binds automatically, the game has to ask.
    korb::clear_session();
    korb::attach_app(dir.root() + "/game", "O-Stakka");
    ASSERT_TRUE(korb::read_bound_wallet_id().empty());
    // Up to ten seconds for an answer, in steps short enough to keep the tests quick.
    korb::set_connect_polling_for_testing(50ms, 200);
    {
      std::lock_guard<std::mutex> lock(lines_mutex);
      lines.clear();
    }
    wallet::set_text_sink(capture_line);
  }

  void TearDown() override {
    (void)korb::disconnect();
    korb::reset_connect_polling_for_testing();
    wallet::set_text_sink(nullptr);
  }

  // The id of the one request `korb requests` reports as waiting, once it appears.
  std::string waiting_request() {
    std::string id;
    korb_test::wait_until(
        [&] {
          const auto run = run_korb({"requests"});
          std::smatch match;
          if (std::regex_search(run.out, match,
                                std::regex("(w[0-9]+)\tO-Stakka\t[^\t]*\twaiting"))) {
            id = match[1];
          }
          return !id.empty();
        },
        10s);
    return id;
  }

  std::string bind_file_wallet() {
    const auto bind = read_json(korb::bind_file_path());
    return bind.is_object() && bind.contains("wallet_id") ? bind["wallet_id"].get<std::string>()
                                                          : std::string();
  }

  std::string address_of(const std::string& id) {
    return read_json(dir.data_dir() + "/wallets/" + id + "/wallet.json")["address"];
  }
};

// `korb watch` approves the game's request with its wallet; a request nobody waits for any more
// is left alone.
TEST_F(Handshake, watch_approves_and_the_game_loads_that_wallet) {
  const std::int64_t stale_ts = korb_app::unix_seconds_now() - 600;
  korb_test::write_text(dir.data_dir() + "/connect/w1000.req.json",
                        "{\"app\": \"O-Stakka\", \"id\": \"w1000\", \"instance\": \"/old\", "
                        "\"ts\": " +
                            std::to_string(stale_ts) + "}");
  const std::string log = dir.root() + "/watch.log";
  const pid_t watcher = korb_test::start_korb({"watch", "--approve-with", second}, log);
  ASSERT_GT(watcher, 0);

  const std::string result = korb::connect();
  const int watch_exit = korb_test::stop_process(watcher, SIGTERM);

  EXPECT_EQ(result, "success");
  EXPECT_EQ(korb::read_bound_wallet_id(), second);
  EXPECT_EQ(bind_file_wallet(), second);
  EXPECT_TRUE(korb::is_connected());
  {
    std::lock_guard<std::recursive_mutex> lock(wallet::session_mutex());
    EXPECT_EQ(wallet::session().payment_address, address_of(second));
  }
  EXPECT_TRUE(saw_line("Waiting for Korb to approve this app...\n"));
  EXPECT_TRUE(saw_line("Connected to Korb wallet Second\n"));
  EXPECT_EQ(watch_exit, 0);
  const std::string said = read_text(log);
  EXPECT_NE(said.find("APPROVING EVERY ONE"), std::string::npos) << said;
  EXPECT_NE(said.find("approved w"), std::string::npos) << said;
  EXPECT_FALSE(std::filesystem::exists(dir.data_dir() + "/connect/w1000.rep.json"));

  // Connected already: the next connect answers at once and asks nothing.
  const auto requests_before =
      std::distance(std::filesystem::directory_iterator(dir.data_dir() + "/connect"), {});
  EXPECT_EQ(korb::connect(), "success");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.data_dir() + "/connect"), {}),
            requests_before);
}

// `korb approve` answers one request; it refuses a wallet that does not exist and a second
// answer to the same request, and neither refusal writes a reply.
TEST_F(Handshake, approve_binds_the_chosen_wallet_once) {
  auto connecting = std::async(std::launch::async, [] { return korb::connect(); });
  const std::string request = waiting_request();
  ASSERT_FALSE(request.empty());
  const std::string reply = dir.data_dir() + "/connect/" + request + ".rep.json";

  const auto unknown = run_korb({"approve", request, "--wallet", "w42"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_NE(unknown.err.find("no wallet with id w42"), std::string::npos) << unknown.err;
  EXPECT_FALSE(std::filesystem::exists(reply));

  const auto approved = run_korb({"approve", request, "--wallet", first});
  EXPECT_EQ(approved.exit_code, 0) << approved.err;
  ASSERT_EQ(connecting.wait_for(15s), std::future_status::ready);
  EXPECT_EQ(connecting.get(), "success");
  EXPECT_EQ(korb::read_bound_wallet_id(), first);
  EXPECT_EQ(bind_file_wallet(), first);
  EXPECT_TRUE(saw_line("Connected to Korb wallet First\n"));

  const std::string answer = read_text(reply);
  const auto again = run_korb({"deny", request});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find("already answered"), std::string::npos) << again.err;
  EXPECT_EQ(read_text(reply), answer);
  EXPECT_EQ(run_korb({"approve", "../" + request, "--wallet", first}).exit_code, 1);
}

// With nobody answering, the game gives up with the time-out text and the request is still
// listed, but as one nobody waits for once it has aged.
TEST_F(Handshake, silence_times_out) {
  korb::set_connect_polling_for_testing(10ms, 5);
  EXPECT_EQ(korb::connect(), korb::connect_timed_out);
  EXPECT_TRUE(korb::read_bound_wallet_id().empty());
  const auto listed = run_korb({"requests"});
  EXPECT_NE(listed.out.find("\tO-Stakka\t"), std::string::npos) << listed.out;

  const auto requests = korb::list_connect_requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::int64_t asked = requests[0].ts;
  EXPECT_TRUE(korb_app::is_request_live(requests[0], asked + korb_app::request_live_seconds));
  EXPECT_FALSE(korb_app::is_request_live(requests[0], asked + korb_app::request_live_seconds + 1));
  EXPECT_TRUE(korb_app::is_request_live(requests[0], asked - 30));
  EXPECT_EQ(korb_app::live_requests(asked + korb_app::request_live_seconds + 1).size(), 0u);
}

// `korb approve` and `korb deny` started at once on one request, round after round, as real
// programs: exactly one answer counts and the other fails saying so, the reply is the winner's,
// and a game polling all the while never catches a reply half written.
TEST(connect_race, of_two_answers_at_once_exactly_one_counts) {
  korb_test::TempDataDir dir;
  const std::string wallet = korb_test::create_wallet("Racer");
  ASSERT_FALSE(wallet.empty());
  constexpr int rounds = 20;
  const std::string connect = dir.data_dir() + "/connect/";
  for (int i = 0; i < rounds; ++i) {
    korb_test::write_text(
        connect + "w" + std::to_string(1000 + i) + ".req.json",
        "{\"app\": \"O-Stakka\", \"ts\": " + std::to_string(korb_app::unix_seconds_now()) + "}");
  }
  std::atomic<int> torn{0};
  // Declared before the children: on an early return they are killed first, then this stops.
  std::jthread game([&](std::stop_token stop) {
    while (!stop.stop_requested()) {
      for (int i = 0; i < rounds; ++i) {
        const std::string path = connect + "w" + std::to_string(1000 + i) + ".rep.json";
        if (!korb::path_exists(path)) continue;
        const nlohmann::json reply = korb::read_json_file(path);
        if (!reply.is_object() || !reply.contains("ok")) ++torn;
      }
    }
  });
  korb_test::Children children;
  int approvals = 0;
  for (int i = 0; i < rounds; ++i) {
    const std::string id = "w" + std::to_string(1000 + i);
    const std::string log_a = dir.root() + "/approve.log", log_d = dir.root() + "/deny.log";
    pid_t approve = 0, deny = 0;
    if (i % 2 == 0) {
      approve = children.start({"approve", id, "--wallet", wallet}, log_a);
      deny = children.start({"deny", id}, log_d);
    } else {
      deny = children.start({"deny", id}, log_d);
      approve = children.start({"approve", id, "--wallet", wallet}, log_a);
    }
    const int approved = children.wait(approve), denied = children.wait(deny);
    ASSERT_EQ((approved == 0) + (denied == 0), 1) << id << ": " << approved << " " << denied;
    const std::string loser = read_text(approved == 0 ? log_d : log_a);
    EXPECT_EQ(approved == 0 ? denied : approved, 1);
    EXPECT_NE(loser.find("connect request " + id + " was already answered"), std::string::npos)
        << loser;
    EXPECT_EQ(read_json(connect + id + ".rep.json")["ok"], approved == 0);
    approvals += approved == 0;
  }
  game.request_stop();
  game.join();
  EXPECT_EQ(torn, 0) << "a reply was read half written";
  std::cout << "approve won " << approvals << " of " << rounds << " rounds\n";
}

}  // namespace
