#include "arcade/ui_settings.h"

#include "korb/atomic_file.h"
#include "korb/data_directory.h"
#include "sound/sound_settings.h"

namespace arcade {
namespace {

using nlohmann::json;

// The document itself; only touched with ui_settings_mutex() held.
json& document() {
  static json value = json::object();
  return value;
}

// A volume is taken when it is a JSON integer whose low 32 bits, read unsigned, are at most 100.
// Floating values never count, whatever they hold.
bool volume_value(const json& value, int32_t& out) {
  if (!value.is_number_integer()) return false;
  const auto low = static_cast<uint32_t>(value.is_number_unsigned() ? value.get<uint64_t>()
                                                                    : value.get<int64_t>());
  if (low > 100) return false;
  out = static_cast<int32_t>(low);
  return true;
}

// Called with the mutex held.
bool save_locked() {
  json& doc = document();
  if (!doc.is_object()) return false;
  const sound::SoundSettings& sound = sound::sound_settings();
  doc["music"] = sound.music.load();
  doc["sfx"] = sound.sfx.load();
  doc["music_vol"] = sound.music_vol.load();
  doc["sfx_vol"] = sound.sfx_vol.load();
  std::string error;
  return korb::write_file_atomic(ui_settings_path(), korb::json_text(doc, 2, false), error);
}

}  // namespace

std::mutex& ui_settings_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::string ui_settings_path() {
  return korb::korb_data_dir() + "/arcade_ui.json";
}

void copy_sound_values_from(const json& doc) {
  if (!doc.is_object()) return;
  sound::SoundSettings& sound = sound::sound_settings();
  for (auto [key, flag] : {std::pair{"music", &sound.music}, std::pair{"sfx", &sound.sfx}}) {
    const auto it = doc.find(key);
    if (it != doc.end() && it->is_boolean()) flag->store(it->get<bool>());
  }
  for (auto [key, volume] :
       {std::pair{"music_vol", &sound.music_vol}, std::pair{"sfx_vol", &sound.sfx_vol}}) {
    const auto it = doc.find(key);
    int32_t value = 0;
    if (it != doc.end() && volume_value(*it, value)) volume->store(value);
  }
}

void load_ui_settings() {
  // read_json_file refuses oversized and too deeply nested files and never throws.
  json loaded = korb::read_json_file(ui_settings_path());
  if (!loaded.is_object()) loaded = json::object();
  std::lock_guard<std::mutex> lock(ui_settings_mutex());
  document() = std::move(loaded);
  copy_sound_values_from(document());
}

bool save_ui_settings() {
  std::lock_guard<std::mutex> lock(ui_settings_mutex());
  return save_locked();
}

json ui_settings_copy() {
  std::lock_guard<std::mutex> lock(ui_settings_mutex());
  return document();
}

bool change_ui_settings(const std::function<void(json& document)>& change) {
  std::lock_guard<std::mutex> lock(ui_settings_mutex());
  if (change) change(document());
  return save_locked();
}

}  // namespace arcade
