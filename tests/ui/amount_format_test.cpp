// Amounts on the status lines: eight decimals always, the sign in front, and no overflow at the
// ends of the 64-bit range (a corrupt balance answer must not break the line that shows it).
#include "ui/amount_format.h"

#include <gtest/gtest.h>

#include <limits>

TEST(format_bsv, shows_coins_with_eight_decimals) {
  const struct {
    int64_t satoshis;
    const char* text;
  } cases[] = {
      {0, "0.00000000"},
      {5000, "0.00005000"},
      {100000000, "1.00000000"},
      {-1, "-0.00000001"},
      {-150000000, "-1.50000000"},
      {std::numeric_limits<int64_t>::max(), "92233720368.54775807"},
      {std::numeric_limits<int64_t>::min(), "-92233720368.54775808"},
  };
  for (const auto& c : cases) EXPECT_EQ(ui::format_bsv(c.satoshis), c.text) << c.satoshis;
}
