#include "sound/tune.h"

namespace sound {

// Five sections. The theme climbs an A minor arpeggio; its answer turns to C major and lands high
// on C at the half-way point; the middle drops an octave into D minor and stops on F then E,
// which pulls back to the theme; the theme comes home to A; the break lets the bass walk up in
// octaves under short calls and ends F, G, E so the loop falls back onto the opening A.
// One row per half bar, so the table reads as music.
// clang-format off
const std::array<TuneStep, kTuneSteps> kTune = {{
    // Theme (steps 0-31), ending on a held A and a breath.
    {69, 45, 2}, {72, 45, 2}, {76, 45, 2}, {72, 45, 2},
    {74, 41, 2}, {76, 41, 2}, {81, 41, 2}, {76, 41, 2},
    {79, 43, 2}, {77, 43, 2}, {76, 43, 2}, {74, 43, 2},
    {76, 40, 2}, {74, 40, 2}, {72, 40, 2}, {74, 40, 2},
    {69, 45, 2}, {72, 45, 2}, {76, 45, 2}, {72, 45, 2},
    {74, 41, 2}, {76, 41, 2}, {81, 41, 2}, {84, 41, 2},
    {86, 43, 2}, {84, 43, 2}, {81, 43, 2}, {79, 43, 2},
    {81, 45, 4}, {79, 43, 2}, {76, 40, 2}, {0, 40, 2},
    // Answer in C major (steps 32-63), ending on a held high C.
    {72, 48, 2}, {76, 48, 2}, {79, 48, 2}, {76, 48, 2},
    {77, 41, 2}, {81, 41, 2}, {84, 41, 2}, {81, 41, 2},
    {79, 43, 2}, {76, 43, 2}, {74, 43, 2}, {79, 43, 2},
    {76, 45, 2}, {72, 45, 2}, {69, 45, 2}, {72, 45, 2},
    {72, 48, 2}, {76, 48, 2}, {79, 48, 2}, {84, 48, 2},
    {86, 38, 2}, {84, 38, 2}, {81, 38, 2}, {77, 38, 2},
    {79, 40, 2}, {76, 40, 2}, {74, 40, 2}, {72, 40, 2},
    {74, 43, 2}, {76, 43, 2}, {79, 43, 2}, {84, 48, 4},
    // Middle, an octave down (steps 64-95), stopping on F and E.
    {62, 38, 2}, {65, 38, 2}, {69, 38, 2}, {65, 38, 2},
    {62, 38, 2}, {65, 38, 2}, {69, 38, 2}, {72, 38, 2},
    {74, 41, 2}, {72, 41, 2}, {69, 41, 2}, {65, 41, 2},
    {67, 36, 2}, {65, 36, 2}, {64, 36, 2}, {62, 36, 2},
    {64, 33, 2}, {69, 33, 2}, {72, 33, 2}, {69, 33, 2},
    {65, 38, 2}, {69, 38, 2}, {74, 38, 2}, {69, 38, 2},
    {67, 36, 2}, {72, 36, 2}, {76, 36, 2}, {72, 36, 2},
    {72, 41, 2}, {74, 41, 2}, {77, 41, 4}, {76, 40, 4},
    // Theme again (steps 96-111), home on A.
    {69, 45, 2}, {72, 45, 2}, {76, 45, 2}, {72, 45, 2},
    {74, 41, 2}, {76, 41, 2}, {81, 41, 2}, {76, 41, 2},
    {79, 43, 2}, {77, 43, 2}, {76, 43, 2}, {74, 43, 2},
    {76, 40, 2}, {74, 40, 2}, {72, 40, 2}, {69, 45, 4},
    // Break (steps 112-127): calls between rests over the walking bass, then F, G, E.
    {0, 33, 2}, {76, 45, 2}, {0, 33, 2}, {77, 45, 2},
    {0, 36, 2}, {79, 48, 2}, {0, 38, 2}, {81, 40, 2},
    {84, 38, 2}, {81, 38, 2}, {79, 40, 2}, {76, 40, 2},
    {74, 41, 2}, {77, 41, 4}, {79, 43, 4}, {76, 40, 4},
}};
// clang-format on

}  // namespace sound
