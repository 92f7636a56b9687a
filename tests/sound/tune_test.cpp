// The tune is hand-written data; these are the rules it has to keep to sound like the game's.
#include "sound/tune.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const std::set<int> kPitchClasses = {9, 0, 2, 4, 5, 7};  // A C D E F G
const std::set<int> kLongSteps = {28, 63, 94, 95, 111, 125, 126, 127};
const std::set<int> kMelodyRests = {31, 112, 114, 116, 118};

// Key, ranges, rests and lengths, step by step, so a slip in any one row names the row.
TEST(tune, every_step_keeps_the_key_ranges_rests_and_lengths) {
  int units = 0;
  for (int i = 0; i < sound::kTuneSteps; ++i) {
    const sound::TuneStep& step = sound::kTune[i];
    SCOPED_TRACE("step " + std::to_string(i));
    units += step.units;
    EXPECT_EQ(step.units, kLongSteps.count(i) ? 4 : 2);
    if (kMelodyRests.count(i)) {
      EXPECT_EQ(step.melody, 0);
    } else {
      EXPECT_GE(step.melody, 45);
      EXPECT_LE(step.melody, 88);
      EXPECT_TRUE(kPitchClasses.count(step.melody % 12)) << int(step.melody);
    }
    EXPECT_GE(step.bass, 33);
    EXPECT_LE(step.bass, 48);
    EXPECT_TRUE(kPitchClasses.count(step.bass % 12)) << int(step.bass);
  }
  EXPECT_EQ(units, 272);
  EXPECT_EQ(units * sound::kUnitMs, 32096);
}

// The opening is the game's signature and must stay as it was written.
TEST(tune, opens_with_the_given_bar) {
  const int opening[8][3] = {{69, 45, 2}, {72, 45, 2}, {76, 45, 2}, {72, 45, 2},
                             {74, 41, 2}, {76, 41, 2}, {81, 41, 2}, {76, 41, 2}};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(sound::kTune[i].melody, opening[i][0]) << i;
    EXPECT_EQ(sound::kTune[i].bass, opening[i][1]) << i;
    EXPECT_EQ(sound::kTune[i].units, opening[i][2]) << i;
  }
}

}  // namespace
