// The player's settings document, "arcade_ui.json" in the Korb data directory: the sound switches
// and volumes, the main window's last placement ("x", "y", "w", "h", "max") and the local board
// cache ("week_scores", "best_ever"), plus any key someone added by hand, which a save keeps.
//
// The document is one process-wide JSON object behind one mutex. The window thread changes it and
// the board worker reads the board cache from it at the same time, so every access goes through
// the functions below, which take the mutex; the file is written while it is held, so two saves
// never interleave and a save never writes a half-made change. The mutex is a leaf: nothing else
// is locked while it is held.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace arcade {

// Guards the settings document and its file.
[[nodiscard]] std::mutex& ui_settings_mutex();

// "<Korb data directory>/arcade_ui.json".
[[nodiscard]] std::string ui_settings_path();

// Start-up: reads the file into the document (missing, unreadable, oversized, too deeply nested or
// not an object: an empty object) and copies the sound values that pass their checks into
// sound::sound_settings(). The others keep their defaults.
void load_ui_settings();

// Copies the four sound values from sound::sound_settings() into the document and writes it whole
// (two-space indent, sorted keys, mode 0600, atomically). Failures are silent: the in-memory
// document stays as it is. True when the file was written.
bool save_ui_settings();

// A copy of the document, for readers on any thread.
[[nodiscard]] nlohmann::json ui_settings_copy();

// Runs `change` on the document under the lock, then saves it while still holding the lock, so
// the file always holds a whole change. True when the file was written.
bool change_ui_settings(const std::function<void(nlohmann::json& document)>& change);

// The sound checks of the load: music and sfx only as booleans, volumes only as integers whose
// low 32 bits, read unsigned, are at most 100. Exposed for the settings tests.
void copy_sound_values_from(const nlohmann::json& document);

}  // namespace arcade
