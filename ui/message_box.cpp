#include "ui/message_box.h"

#include <QMessageBox>
#include <mutex>

#include "ui/message_box_testing.h"

namespace ui {
namespace {

std::mutex& answerer_mutex() {
  static std::mutex mutex;
  return mutex;
}

MessageAnswerer& answerer() {
  static MessageAnswerer* stored = new MessageAnswerer;
  return *stored;
}

QMessageBox::Icon qt_icon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::question:
      return QMessageBox::Question;
    case MessageIcon::warning:
      return QMessageBox::Warning;
    case MessageIcon::error:
      return QMessageBox::Critical;
    case MessageIcon::information:
      break;
  }
  return QMessageBox::Information;
}

MessageAnswer show_box(QWidget* owner, const QString& caption, const QString& text,
                       MessageIcon icon, MessageButtons buttons) {
  QMessageBox box(qt_icon(icon), caption, text, QMessageBox::NoButton, owner);
  box.setTextFormat(Qt::PlainText);
  switch (buttons) {
    case MessageButtons::ok:
      box.setStandardButtons(QMessageBox::Ok);
      box.setDefaultButton(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Ok);
      break;
    case MessageButtons::ok_cancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    case MessageButtons::yes_no:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      box.setEscapeButton(QMessageBox::No);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Ok:
      return MessageAnswer::ok;
    case QMessageBox::Yes:
      return MessageAnswer::yes;
    case QMessageBox::No:
      return MessageAnswer::no;
    default:
      break;
  }
  return buttons == MessageButtons::yes_no ? MessageAnswer::no
         : buttons == MessageButtons::ok   ? MessageAnswer::ok
                                           : MessageAnswer::cancel;
}

}  // namespace

MessageAnswer show_message(QWidget* owner, const QString& caption, const QString& text,
                           MessageIcon icon, MessageButtons buttons) {
  MessageAnswerer replacement;
  {
    std::lock_guard lock(answerer_mutex());
    replacement = answerer();
  }
  if (replacement) return replacement({owner, caption, text, icon, buttons});
  return show_box(owner, caption, text, icon, buttons);
}

void set_message_answerer_for_testing(MessageAnswerer replacement) {
  std::lock_guard lock(answerer_mutex());
  answerer() = std::move(replacement);
}

}  // namespace ui
