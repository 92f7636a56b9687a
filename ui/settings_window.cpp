#include "ui/settings_window.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QSlider>

#include "arcade/ui_settings.h"
#include "config/deploy_config.h"
#include "sound/midi.h"
#include "sound/sound_settings.h"
#include "ui/button.h"
#include "ui/fonts.h"
#include "ui/open_page.h"
#include "ui/palette.h"

namespace ui {
namespace {

QPointer<SettingsWindow>& open_settings() {
  static QPointer<SettingsWindow> window;
  return window;
}

QString qstring(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* make_label(QWidget* parent, const QString& text, const QFont& font, QRgb colour,
                   const QRect& place) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  label->setTextFormat(Qt::PlainText);
  label->setStyleSheet(
      QStringLiteral("color: %1; background: transparent;").arg(QColor(colour).name()));
  label->setGeometry(place);
  return label;
}

QSlider* make_volume_slider(QWidget* parent, int value, const QRect& place) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setRange(0, 100);
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setTickInterval(10);
  slider->setPageStep(10);
  slider->setValue(value);
  slider->setGeometry(place);
  // The style's own groove, handle and ticks, in the game's colours.
  QPalette colours = slider->palette();
  colours.setColor(QPalette::Highlight, QColor(kOrange));
  colours.setColor(QPalette::Button, QColor(0x241A0A));
  colours.setColor(QPalette::Window, QColor(kBackground));
  colours.setColor(QPalette::WindowText, QColor(kBronze));
  colours.setColor(QPalette::Dark, QColor(kBronze));
  colours.setColor(QPalette::Shadow, QColor(0x0E0A04));
  colours.setColor(QPalette::Light, QColor(kAmber));
  colours.setColor(QPalette::Midlight, QColor(kAmber));
  slider->setPalette(colours);
  return slider;
}

// Flips a switch that the music thread reads without a lock; answers what it was.
bool flip(std::atomic<bool>& value) {
  bool was = value.load();
  while (!value.compare_exchange_weak(was, !was)) {
  }
  return was;
}

}  // namespace

SettingsWindow::SettingsWindow(QWidget* owner, const AppImages* images)
    : CompanionWindow(owner, QStringLiteral("Settings"), kSettingsWidth, kSettingsHeight, images) {
  setAutoFillBackground(true);
  const UiFonts& fonts = ui_fonts();
  sound::SoundSettings& values = sound::sound_settings();
  music_ = create_button(this, QString(), kMusicButtonId, 24, 24, 140, 36);
  make_label(this, QStringLiteral("Volume"), fonts.button, kAmber, QRect(180, 30, 70, 24));
  music_volume_ = make_volume_slider(this, values.music_vol.load(), QRect(250, 26, 260, 32));
  sound_ = create_button(this, QString(), kSoundButtonId, 24, 82, 140, 36);
  make_label(this, QStringLiteral("Volume"), fonts.button, kAmber, QRect(180, 88, 70, 24));
  sound_volume_ = make_volume_slider(this, values.sfx_vol.load(), QRect(250, 84, 260, 32));
  PaintedButton* close =
      create_button(this, QStringLiteral("Close"), kSettingsCloseId, 400, 200, 110, 36);
  const config::DeployConfig& config = config::deploy_config();
  site_ = make_label(this, qstring(config.maker_site_name), fonts.small, kOrange,
                     QRect(24, 148, 200, 20));
  site_->setCursor(Qt::PointingHandCursor);
  site_->installEventFilter(this);
  make_label(this, qstring(config.credit_line), fonts.small, kAmber, QRect(24, 172, 320, 20));
  refresh_captions();

  connect(music_, &PaintedButton::clicked, this, [this] {
    // Turning music off silences the tune now, not when the music thread next looks.
    if (flip(sound::sound_settings().music)) sound::all_notes_off();
    refresh_captions();
    (void)arcade::save_ui_settings();
  });
  connect(sound_, &PaintedButton::clicked, this, [this] {
    (void)flip(sound::sound_settings().sfx);
    refresh_captions();
    (void)arcade::save_ui_settings();
  });
  // Every step of a drag is heard and saved, so the file always holds what the player last heard.
  connect(music_volume_, &QSlider::valueChanged, this, [](int value) {
    sound::sound_settings().music_vol.store(value);
    sound::set_channel_volume(sound::kMelodyChannel, value);
    sound::set_channel_volume(sound::kBassChannel, value);
    (void)arcade::save_ui_settings();
  });
  connect(sound_volume_, &QSlider::valueChanged, this, [](int value) {
    sound::sound_settings().sfx_vol.store(value);
    (void)arcade::save_ui_settings();
  });
  connect(close, &PaintedButton::clicked, this, &QWidget::close);
}

void SettingsWindow::refresh_captions() {
  const sound::SoundSettings& values = sound::sound_settings();
  music_->set_text(values.music.load() ? QStringLiteral("Music  On")
                                       : QStringLiteral("Music  Off"));
  sound_->set_text(values.sfx.load() ? QStringLiteral("Sound  On") : QStringLiteral("Sound  Off"));
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == site_ && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    (void)open_page(qstring(config::deploy_config().maker_site));
    return true;
  }
  return CompanionWindow::eventFilter(watched, event);
}

SettingsWindow* open_settings_window(QWidget* main, const AppImages* images) {
  QPointer<SettingsWindow>& slot = open_settings();
  if (!slot) slot = new SettingsWindow(main, images);
  raise_window(slot);
  return slot;
}

SettingsWindow* settings_window() {
  return open_settings();
}

void refresh_sound_captions() {
  if (SettingsWindow* window = open_settings()) window->refresh_captions();
}

}  // namespace ui
