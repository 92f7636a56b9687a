// The Korb window: the wallets with their names and addresses, Create and Restore, a paymail
// name for the selected wallet, and the games' pending connect requests with a wallet chooser,
// Approve and Deny. It looks for new requests and wallet changes once a second.
#pragma once

#include <functional>

#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace korb_app {

// The window has a fixed size and places its widgets at fixed rectangles (window coordinates,
// without the frame), so scripts that click Approve or Deny by position keep working whatever
// the fonts. Keep these stable: the end-to-end tests click them.
inline constexpr QSize korb_window_size{720, 560};
inline constexpr QRect requests_list_rect{12, 260, 696, 110};
inline constexpr QRect approve_button_rect{492, 456, 104, 32};
inline constexpr QRect deny_button_rect{604, 456, 104, 32};

// Every question and message the window puts to the player goes through these, so tests can
// answer them without a modal dialog. The defaults use QInputDialog and QMessageBox.
struct WindowPrompts {
  // Asks for one line of text; false when the player cancels.
  std::function<bool(QWidget* parent, const QString& title, const QString& label, QString& answer)>
      ask_text;
  // Shows a message the player must read (the new mnemonic, an error).
  std::function<void(QWidget* parent, const QString& title, const QString& text)> show_text;
};
WindowPrompts dialog_prompts();

class KorbWindow : public QWidget {
  Q_OBJECT

 public:
  explicit KorbWindow(WindowPrompts prompts = dialog_prompts(), QWidget* parent = nullptr);

  // Reloads the wallets and the pending requests, keeping the player's selections.
  void refresh();
  // Shows the window in front, restored if it was minimised (a second launch asks for this).
  void bring_to_front();

 private:
  void create_wallet();
  void restore_wallet();
  void set_paymail();
  void approve_selected();
  void deny_selected();
  void update_buttons();
  void show_status(const QString& text);
  void complain(const QString& text);
  QString selected_request_id() const;
  QString chosen_wallet_id() const;
  QString selected_wallet_id() const;

  WindowPrompts prompts_;
  QListWidget* wallets_ = nullptr;
  QPushButton* create_ = nullptr;
  QPushButton* restore_ = nullptr;
  QLineEdit* paymail_name_ = nullptr;
  QPushButton* set_paymail_ = nullptr;
  QListWidget* requests_ = nullptr;
  QComboBox* wallet_chooser_ = nullptr;
  QPushButton* approve_ = nullptr;
  QPushButton* deny_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer poll_timer_;
};

}  // namespace korb_app
