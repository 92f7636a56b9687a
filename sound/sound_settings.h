// The sound switches and volumes as the music and effect threads read them: live, without a lock.
// The settings document copies its values in at start-up and out again on every save; the
// settings window changes them directly.
#pragma once

#include <atomic>
#include <cstdint>

namespace sound {

inline constexpr bool kDefaultMusic = true;
inline constexpr bool kDefaultSfx = true;
inline constexpr int32_t kDefaultMusicVolume = 70;
inline constexpr int32_t kDefaultSfxVolume = 85;

struct SoundSettings {
  std::atomic<bool> music{kDefaultMusic};
  std::atomic<bool> sfx{kDefaultSfx};
  std::atomic<int32_t> music_vol{kDefaultMusicVolume};  // 0..100
  std::atomic<int32_t> sfx_vol{kDefaultSfxVolume};      // 0..100
};

// The process's one set of sound values.
[[nodiscard]] SoundSettings& sound_settings();

}  // namespace sound
