// The settings window: music and sound switches with their volumes, the maker's site and the
// credit line. It keeps nothing of its own: every change goes straight into the live sound
// values, takes effect at once, and is saved to the settings file.
#pragma once

#include "ui/companion_window.h"

class QLabel;
class QSlider;

namespace ui {

class PaintedButton;

inline constexpr int kSettingsWidth = 540;
inline constexpr int kSettingsHeight = 320;
inline constexpr int kMusicButtonId = 1301;
inline constexpr int kSoundButtonId = 1302;
inline constexpr int kSettingsCloseId = 1307;

class SettingsWindow : public CompanionWindow {
  Q_OBJECT

 public:
  SettingsWindow(QWidget* owner, const AppImages* images);

  [[nodiscard]] PaintedButton* music_button() const { return music_; }
  [[nodiscard]] PaintedButton* sound_button() const { return sound_; }
  [[nodiscard]] QSlider* music_slider() const { return music_volume_; }
  [[nodiscard]] QSlider* sound_slider() const { return sound_volume_; }
  [[nodiscard]] QLabel* site_line() const { return site_; }

  // Sets the switch captions from the live sound values.
  void refresh_captions();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  PaintedButton* music_;
  PaintedButton* sound_;
  QSlider* music_volume_;
  QSlider* sound_volume_;
  QLabel* site_;
};

// Opens the settings window owned by `main`, or brings the open one to the front.
SettingsWindow* open_settings_window(QWidget* main, const AppImages* images);
[[nodiscard]] SettingsWindow* settings_window();

// "Music  On" / "Music  Off", "Sound  On" / "Sound  Off" on the open settings window's switches;
// nothing when it is closed.
void refresh_sound_captions();

}  // namespace ui
