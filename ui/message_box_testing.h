// Test-only seam of ui/message_box: a test answers every box itself and sees what was asked. The
// shipped programs never call this.
#pragma once

#include <QString>
#include <functional>

#include "ui/message_box.h"

namespace ui {

struct MessageRequest {
  QWidget* owner = nullptr;
  QString caption;
  QString text;
  MessageIcon icon = MessageIcon::information;
  MessageButtons buttons = MessageButtons::ok;
};

using MessageAnswerer = std::function<MessageAnswer(const MessageRequest&)>;

// From now on show_message asks `answerer` instead of showing a box; an empty one restores the
// real boxes.
void set_message_answerer_for_testing(MessageAnswerer answerer);

}  // namespace ui
