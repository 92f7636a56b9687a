#include "sound/sound_settings.h"

namespace sound {

SoundSettings& sound_settings() {
  static SoundSettings settings;
  return settings;
}

}  // namespace sound
