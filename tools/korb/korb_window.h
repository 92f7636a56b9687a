// The Korb window: the wallets with their names, payment addresses (copyable) and balances,
// Create and Restore, a paymail name for the selected wallet, and the games' pending connect
// requests with what each one is, a wallet chooser, Approve and Deny. It looks for new requests
// and wallet changes once a second, comes to the front when a game asks to connect, and reads
// the balances on a worker thread every 30 seconds, after an approval and on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "korb/connect.h"
#include "tools/korb/wallet_balance.h"
#include "tools/korb/wallet_store.h"

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

// What the window reads from outside: the clock (request ages, the highlight of a new request)
// and an address's balance. Tests give their own; live_sources() reads the system clock and the
// configured services.
struct WindowSources {
  std::function<std::int64_t()> now_seconds;
  // Called on a worker thread, never on the window's.
  std::function<BalanceReading(const std::string& address)> read_balance;
};
WindowSources live_sources();

// How long a new connect request stays marked, fading out, after it arrived.
inline constexpr std::int64_t new_request_mark_seconds = 6;

// Balance readings still running on worker threads, across all windows. A program that ends
// with some out must leave without tearing down what they use.
[[nodiscard]] int balance_workers_running();

struct BalanceMailbox;

class KorbWindow : public QWidget {
  Q_OBJECT

 public:
  explicit KorbWindow(WindowPrompts prompts = dialog_prompts(),
                      WindowSources sources = live_sources(), QWidget* parent = nullptr);
  ~KorbWindow() override;

  // Reloads the wallets and the pending requests, keeping the player's selections.
  void refresh();
  // Shows the window in front, restored if it was minimised (a second launch asks for this).
  void bring_to_front();
  // Reads every wallet's balance again on a worker thread; one round at a time, a request during
  // a round runs one more round after it.
  void refresh_balances();

 protected:
  void customEvent(QEvent* event) override;

 private:
  void refresh_wallets();
  void refresh_requests();
  void mark_new_requests(std::int64_t now);
  void show_selected_wallet();
  void show_selected_request();
  void copy_address();
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
  const StoredWallet* selected_wallet() const;

  WindowPrompts prompts_;
  WindowSources sources_;
  std::vector<StoredWallet> shown_wallets_;
  std::vector<korb::ConnectRequest> shown_requests_;
  // Latest reading per address; none yet shows "...".
  std::map<std::string, BalanceReading> balances_;
  std::set<std::string> balances_asked_;
  bool balance_round_running_ = false;
  bool balance_round_again_ = false;
  std::shared_ptr<BalanceMailbox> mailbox_;
  // Requests already seen, and when each new one arrived (for its fading mark).
  std::set<std::string> seen_requests_;
  std::map<std::string, std::int64_t> request_arrivals_;

  QListWidget* wallets_ = nullptr;
  QLabel* wallet_address_ = nullptr;
  QPushButton* create_ = nullptr;
  QPushButton* restore_ = nullptr;
  QPushButton* copy_address_ = nullptr;
  QPushButton* refresh_balances_ = nullptr;
  QLineEdit* paymail_name_ = nullptr;
  QPushButton* set_paymail_ = nullptr;
  QListWidget* requests_ = nullptr;
  QLabel* request_details_ = nullptr;
  QComboBox* wallet_chooser_ = nullptr;
  QPushButton* approve_ = nullptr;
  QPushButton* deny_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer poll_timer_;
  QTimer balance_timer_;
};

}  // namespace korb_app
