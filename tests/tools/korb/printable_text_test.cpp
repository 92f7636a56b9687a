// What korb prints of ids, names and request fields: anything a terminal would act on, or that
// would make the rest of the line look different, is shown as "?"; letters of any script stay.
#include "tools/korb/printable_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "mangle.h"

namespace {

TEST(printable_text, controls_overrides_and_broken_utf8_become_question_marks) {
  struct Case {
    std::string text;
    size_t max;
    std::string shown;
  };
  for (const Case& c : {
           Case{"Geldb\u00f6rse", 64, "Geldb\u00f6rse"},
           Case{"a\tb\x1b[2J\r\n\x7f", 64, "a?b?[2J???"},
           Case{"csi\u009b31m", 64, "csi?31m"},
           Case{"ab\u202ecd\u202a", 64, "ab?cd?"},  // direction overrides
           Case{std::string("\xff\xc3(") + "\xed\xa0\x80", 64,
                "?\?(???"},                       // not UTF-8, a surrogate
           Case{"\u00e9\u00e9", 3, "\u00e9..."},  // never cut inside a character
           Case{"\u00e9\u00e9", 4, "\u00e9\u00e9"},
       }) {
    EXPECT_EQ(korb_app::printable_field(c.text, c.max), c.shown) << c.text;
  }
  EXPECT_EQ(korb_app::printable_id("w1\x1b]0;x\x07 \u00e9"), "w1?]0;x????");
}

// Whatever bytes come in, what goes out is valid UTF-8 without a control byte.
TEST(printable_text, random_bytes_come_out_printable) {
  const uint32_t seed = test_mangle::seed();
  SCOPED_TRACE("OSTAKKA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 40, '\0');
    for (char& c : text) c = static_cast<char>(random());
    const std::string shown = korb_app::printable_field(text, 32);
    ASSERT_TRUE(korb_app::is_valid_utf8(shown)) << text;
    ASSERT_FALSE(std::any_of(shown.begin(), shown.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    })) << text;
  }
}

}  // namespace
