// Names go into the registry as JSON and are shown in games and terminals: only trimmed, bounded,
// printable UTF-8 gets in. The rest of the store is checked through the program (commands test).
#include "tools/korb/wallet_store.h"

#include <gtest/gtest.h>

#include <random>

#include <nlohmann/json.hpp>

#include "mangle.h"

namespace {

TEST(wallet_names, only_bounded_printable_utf8_is_accepted) {
  std::string cleaned, error;
  EXPECT_TRUE(
      korb_app::clean_wallet_name("  Zo\xc3\xab's purse \xf0\x9f\x91\x9b ", cleaned, error));
  EXPECT_EQ(cleaned, "Zo\xc3\xab's purse \xf0\x9f\x91\x9b");
  EXPECT_TRUE(korb_app::clean_wallet_name(std::string(64, 'x'), cleaned, error));
  for (const std::string& bad :
       {std::string("   "), std::string(65, 'x'), std::string("tab\there"), std::string("a\nb"),
        std::string("\xff"), std::string("\xc0\xaf"), std::string("\xed\xa0\x80"),
        std::string("cut \xe2\x82"), std::string("del\x7f")}) {
    EXPECT_FALSE(korb_app::clean_wallet_name(bad, cleaned, error)) << bad;
  }

  // Whatever bytes arrive, what the check lets through can be written as strict JSON.
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 20000; ++round) {
    std::string name(random() % 80, '\0');
    for (char& c : name) c = static_cast<char>(random());
    if (korb_app::clean_wallet_name(name, cleaned, error)) {
      EXPECT_NO_THROW((void)nlohmann::json(cleaned).dump(-1, ' ', false,
                                                         nlohmann::json::error_handler_t::strict))
          << name;
    }
  }
}

}  // namespace
