// The window's decisions without a window: row texts and kept selections.
#include "tools/korb/window_model.h"

#include <gtest/gtest.h>

namespace {

TEST(window_model, request_rows_say_who_asks) {
  const korb::ConnectRequest request{"w1700000000000", "O-Stakka", "/games/ostakka", 1000};
  EXPECT_EQ(korb_app::request_row_text(request, 1012),
            "O-Stakka asks to connect \u2014 /games/ostakka (12 s ago)");
  // Any program can write a request: escapes and line breaks are defused, long texts cut.
  const korb::ConnectRequest hostile{"w2", "Evil\x1b[2J\napp", std::string(500, 'p'), 1000};
  const std::string row = korb_app::request_row_text(hostile, 1000);
  EXPECT_TRUE(row.starts_with("Evil?[2J?app asks to connect \u2014 ppp")) << row;
  EXPECT_TRUE(row.ends_with("p... (just now)")) << row;
  EXPECT_LT(row.size(), 250u);
}

// The once-a-second refresh must not move the player's choice to another wallet when the rows
// above it go away.
TEST(window_model, selections_follow_the_id_not_the_row) {
  std::vector<korb_app::StoredWallet> wallets = {{"w1", "A", ""}, {"w2", "B", ""}, {"w3", "C", ""}};
  EXPECT_EQ(korb_app::kept_selection(wallets, "w2"), 1);
  wallets.erase(wallets.begin());
  EXPECT_EQ(korb_app::kept_selection(wallets, "w2"), 0);
  EXPECT_EQ(korb_app::kept_selection(wallets, "gone"), 0);
}

}  // namespace
