// The tune is hand-written data; these are the rules it has to keep to sound like the game's.
#include "sound/tune.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// Key, ranges, rests, lengths and the given opening, step by step, so a slip names its row.
TEST(tune, every_step_keeps_the_key_ranges_rests_and_lengths) {
  const std::set<int> pitch_classes = {9, 0, 2, 4, 5, 7};  // A C D E F G
  const std::set<int> long_steps = {28, 63, 94, 95, 111, 125, 126, 127};
  const std::set<int> melody_rests = {31, 112, 114, 116, 118};
  const int opening[8][2] = {{69, 45}, {72, 45}, {76, 45}, {72, 45},
                             {74, 41}, {76, 41}, {81, 41}, {76, 41}};
  int units = 0;
  for (int i = 0; i < sound::kTuneSteps; ++i) {
    const sound::TuneStep& step = sound::kTune[i];
    SCOPED_TRACE("step " + std::to_string(i));
    units += step.units;
    EXPECT_EQ(step.units, long_steps.count(i) ? 4 : 2);
    if (i < 8) {
      EXPECT_EQ(step.melody, opening[i][0]);
      EXPECT_EQ(step.bass, opening[i][1]);
    }
    if (melody_rests.count(i)) {
      EXPECT_EQ(step.melody, 0);
    } else {
      EXPECT_TRUE(step.melody >= 45 && step.melody <= 88) << int(step.melody);
      EXPECT_TRUE(pitch_classes.count(step.melody % 12)) << int(step.melody);
    }
    EXPECT_TRUE(step.bass >= 33 && step.bass <= 48) << int(step.bass);
    EXPECT_TRUE(pitch_classes.count(step.bass % 12)) << int(step.bass);
  }
  EXPECT_EQ(units, 272);
}

}  // namespace
