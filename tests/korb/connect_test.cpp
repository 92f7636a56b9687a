// The connect handshake through request and reply files. Denial and approval through the real
// wallet window are the end-to-end runs' (korb_answers); here are the replies no window writes.
#include "korb/connect.h"

#include "korb/atomic_file.h"
#include "korb_test_support.h"

namespace {

using korb_test::write_text;

class connect_handshake : public korb_test::KorbTest {
 protected:
  void SetUp() override {
    KorbTest::SetUp();
    korb::attach_app("/games/ostakka", "O-Stakka");
  }
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

// The window and a command line may answer at once: the second answer must fail, not report
// success over a reply it did not write.
TEST_F(connect_handshake, a_second_answer_fails_and_the_first_stands) {
  std::string error;
  ASSERT_TRUE(korb::write_connect_reply("w200", false, "", error)) << error;
  EXPECT_FALSE(korb::write_connect_reply("w200", true, "w1", error));
  EXPECT_EQ(error, "connect request w200 was already answered");
  EXPECT_EQ(korb::poll_connect_reply("w200"), "denied");
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

TEST_F(connect_handshake, disconnect_removes_the_binding_and_wipes_the_session) {
  load_wallet();
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
