// The one way every window of the game asks the player something or tells them something in a
// box of its own. Going through one function keeps the look the same everywhere and lets tests
// answer a question without a dialog ever waiting on a person.
#pragma once

#include <QString>

class QWidget;

namespace ui {

enum class MessageIcon { information, question, warning, error };
enum class MessageButtons { ok, ok_cancel, yes_no };
enum class MessageAnswer { ok, cancel, yes, no };

// A modal box owned by `owner` (may be null) with the caption, the plain text (never read as
// markup: texts from a wallet or a server pass through here), the icon and the buttons. The first
// button is the default. Closing the box without a button answers cancel (ok_cancel), no
// (yes_no) or ok (ok).
[[nodiscard]] MessageAnswer show_message(QWidget* owner, const QString& caption,
                                         const QString& text, MessageIcon icon,
                                         MessageButtons buttons = MessageButtons::ok);

}  // namespace ui
