// The connect handshake through request and reply files. A test thread plays the wallet
// application: it waits for the request file and writes the reply the way korb does.
#include "korb/connect.h"

#include <chrono>
#include <thread>

#include "korb/atomic_file.h"
#include "korb/connect_testing.h"
#include "korb_test_support.h"

namespace {

namespace fs = std::filesystem;
using korb_test::event_text;
using korb_test::events_seen;
using korb_test::lines_seen;
using korb_test::recorded;
using korb_test::write_text;

class connect_handshake : public korb_test::KorbTest {
 protected:
  void SetUp() override {
    KorbTest::SetUp();
    korb::set_connect_polling_for_testing(std::chrono::milliseconds(5), 100);
    korb::attach_app("/games/ostakka", "O-Stakka");
  }
  void TearDown() override {
    if (vault_.joinable()) vault_.join();
    korb::reset_connect_polling_for_testing();
    KorbTest::TearDown();
  }
  // Answers the first request that appears with `reply`.
  void answer_with(const std::string& reply) {
    const std::string dir = data_dir() + "/connect";
    vault_ = std::thread([dir, reply] {
      for (int i = 0; i < 2000; ++i) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec)) {
          const std::string name = e.path().filename().string();
          if (name.ends_with(".req.json")) {
            std::string error;
            ASSERT_TRUE(korb::write_file_atomic(
                dir + "/" + name.substr(0, name.size() - 9) + ".rep.json", reply, error));
            return;
          }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  std::thread vault_;
};

TEST_F(connect_handshake, each_reply_reads_as_pending_ok_or_denied) {
  EXPECT_EQ(korb::poll_connect_reply("w100"), "pending");
  const std::string reply = data_dir() + "/connect/w100.rep.json";
  const std::pair<const char*, const char*> cases[] = {
      {R"({"ok": false})", "denied"},
      {R"({"ok": "yes"})", "denied"},
      {R"({"wallet_id": "w1"})", "denied"},
      {R"({"ok": true, "wallet_id": 5})", "denied"},
      {"[true]", "denied"},
      {R"({"ok": true})", "ok"},
  };
  for (const auto& [text, expected] : cases) {
    write_text(reply, text);
    EXPECT_EQ(korb::poll_connect_reply("w100"), expected) << text;
  }
  EXPECT_EQ(korb::bound_wallet_id(), "") << "an approval without a wallet binds nothing";

  write_text(reply, R"({"ok": true, "wallet_id": "w1"})");
  EXPECT_EQ(korb::poll_connect_reply("w100"), "ok");
  EXPECT_EQ(korb::read_bound_wallet_id(), "w1");
  // A wallet id that would leave wallets/ is not followed; the previous binding stays.
  write_text(reply, R"({"ok": true, "wallet_id": "../../elsewhere"})");
  EXPECT_EQ(korb::poll_connect_reply("w100"), "ok");
  EXPECT_EQ(korb::read_bound_wallet_id(), "w1");
  EXPECT_EQ(korb::poll_connect_reply("../w100"), "denied");
}

// Request ids come from the clock. After the clock was set back, a new id can equal one whose
// reply is still on disk (neither program deletes them); that old answer must not approve or deny
// the new request.
TEST_F(connect_handshake, a_new_request_never_takes_an_id_that_already_has_a_reply) {
  const long long next = std::stoll(korb::new_wallet_id().substr(1)) + 1;
  for (long long ms = next; ms < next + 3000; ++ms) {
    write_text(data_dir() + "/connect/w" + std::to_string(ms) + ".rep.json",
               R"({"ok": true, "wallet_id": "w1"})");
  }
  const std::string id = korb::write_connect_request();
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(korb::poll_connect_reply(id), "pending");
  EXPECT_EQ(korb::bound_wallet_id(), "");
}

TEST_F(connect_handshake, approved_and_loaded_binds_loads_and_greets_the_wallet_by_name) {
  write_registry(R"({"wallets": [{"id": "w1", "name": "Savings"}, {"id": "w2"}]})");
  write_hd_wallet("w2", korb_test::mnemonic_abandon);
  write_hd_wallet("w1", korb_test::mnemonic_legal);
  answer_with(R"({"ok": true, "wallet_id": "w1"})");
  EXPECT_EQ(korb::connect(), "success");
  EXPECT_EQ(korb::read_bound_wallet_id(), "w1");
  {
    std::lock_guard<std::recursive_mutex> g(wallet::session_mutex());
    EXPECT_EQ(wallet::session().mnemonic, korb_test::mnemonic_legal);
  }
  const auto lines = recorded(lines_seen);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "Waiting for Korb to approve this app...\n");
  EXPECT_EQ(lines.back(), "Connected to Korb wallet Savings\n");
  EXPECT_EQ(recorded(events_seen).front(),
            event_text({"connect-pending", "Approve the connect in Korb."}));
}

TEST_F(connect_handshake, approved_but_unloadable_keeps_the_binding_and_says_so) {
  answer_with(R"({"ok": true, "wallet_id": "w1"})");
  EXPECT_EQ(korb::connect(), korb::connect_load_failed);
  EXPECT_EQ(korb::read_bound_wallet_id(), "w1");
}

TEST_F(connect_handshake, a_denial_ends_the_connect_and_binds_nothing) {
  answer_with(R"({"ok": false})");
  EXPECT_EQ(korb::connect(), "error: connect denied in Korb.");
  const auto events = recorded(events_seen);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[events.size() - 2], event_text({"connect-denied", "denied"}));
  EXPECT_EQ(korb::bound_wallet_id(), "");
}

TEST_F(connect_handshake, no_answer_times_out_and_an_unwritable_folder_fails_before_waiting) {
  korb::set_connect_polling_for_testing(std::chrono::milliseconds(1), 30);
  EXPECT_EQ(korb::connect(),
            "error: Korb did not approve in time. Open Korb.exe and try Connect again.");
  const auto events = recorded(events_seen);
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2], event_text({"connect-denied", "timeout"}));
  EXPECT_EQ(korb::list_connect_requests().size(), 1u) << "the request stays for the wallet app";

  fs::remove_all(data_dir() + "/connect");
  write_text(data_dir() + "/connect", "a file where the folder belongs");
  EXPECT_EQ(korb::connect(), "error: could not write connect request.");
}

TEST_F(connect_handshake, disconnect_removes_the_binding_and_wipes_the_session) {
  write_registry(R"({"wallets": [{"id": "w1"}]})");
  write_hd_wallet("w1", korb_test::mnemonic_abandon);
  korb::attach_app("/games/ostakka", "O-Stakka");
  ASSERT_TRUE(korb::is_connected());
  EXPECT_EQ(korb::disconnect(), "success");
  EXPECT_FALSE(korb::path_exists(korb::bind_file_path()));
  EXPECT_EQ(korb::bound_wallet_id(), "");
  EXPECT_FALSE(wallet::session_loaded());
}

TEST_F(connect_handshake, the_wallet_application_side_lists_open_requests_and_answers_them) {
  const std::string first = korb::write_connect_request();
  const std::string second = korb::write_connect_request();
  write_text(data_dir() + "/connect/broken.req.json", "{");
  auto requests = korb::list_connect_requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].id, first);
  EXPECT_EQ(requests[1].id, second);
  EXPECT_EQ(requests[0].app, "O-Stakka");
  EXPECT_EQ(requests[0].instance, "/games/ostakka");

  std::string error;
  EXPECT_FALSE(korb::write_connect_reply(first, true, "../w1", error));
  EXPECT_FALSE(korb::write_connect_reply("../x", false, "", error));
  ASSERT_TRUE(korb::write_connect_reply(first, true, "w1", error)) << error;
  ASSERT_TRUE(korb::write_connect_reply(second, false, "", error)) << error;
  EXPECT_TRUE(korb::list_connect_requests().empty());
  EXPECT_EQ(korb::poll_connect_reply(second), "denied");
  EXPECT_EQ(korb::poll_connect_reply(first), "ok");
  EXPECT_EQ(korb::bound_wallet_id(), "w1");
}

// The wallet application never attaches; a connect from it is refused. The attached flag is
// never cleared in a process, so this runs in a fresh child.
using connect_from_the_vault = korb_test::KorbTest;

TEST_F(connect_from_the_vault, is_refused_without_a_request) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(korb::connect() == korb::connect_not_for_vault &&
                                korb::write_connect_request().empty()
                            ? 0
                            : 1),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
