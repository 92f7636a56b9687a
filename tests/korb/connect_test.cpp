// The connect handshake through request and reply files. A test thread plays the wallet
// application: it waits for the request file and writes the reply the way korb does.
#include "korb/connect.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "korb/atomic_file.h"
#include "korb/connect_testing.h"
#include "korb_test_support.h"

namespace {

namespace fs = std::filesystem;
using korb_test::event_text;
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

// A denial ends the connect; an approval of a wallet that does not load keeps the binding (the
// player chose it) and says why the game is still not connected.
TEST_F(connect_handshake, a_denial_binds_nothing_and_an_unloadable_approval_says_so) {
  answer_with(R"({"ok": false})");
  EXPECT_EQ(korb::connect(), "error: connect denied in Korb.");
  vault_.join();
  EXPECT_EQ(korb::bound_wallet_id(), "");
  const auto said = korb_test::said();
  EXPECT_NE(std::find(said.begin(), said.end(), event_text({"connect-denied", "denied"})),
            said.end());
  fs::remove_all(data_dir() + "/connect");  // the answer goes to the new request
  answer_with(R"({"ok": true, "wallet_id": "w1"})");
  EXPECT_EQ(korb::connect(), korb::connect_load_failed);
  EXPECT_EQ(korb::read_bound_wallet_id(), "w1");
}

TEST_F(connect_handshake, an_unwritable_connect_folder_fails_before_waiting) {
  write_text(data_dir() + "/connect", "a file where the folder belongs");
  EXPECT_EQ(korb::connect(), "error: could not write connect request.");
  const auto said = korb_test::said();
  EXPECT_EQ(std::find(said.begin(), said.end(), "Waiting for Korb to approve this app...\n"),
            said.end());
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
  std::lock_guard<std::recursive_mutex> g(wallet::session_mutex());
  EXPECT_TRUE(wallet::session().mnemonic.empty());
  EXPECT_EQ(wallet::session().seed, (std::array<unsigned char, 64>{}));
}

}  // namespace
