// The window's decisions without a window: kept selections.
#include "tools/korb/window_model.h"

#include <gtest/gtest.h>

namespace {

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
