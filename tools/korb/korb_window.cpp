#include "tools/korb/korb_window.h"

#include <openssl/crypto.h>

#include <QApplication>
#include <QBrush>
#include <QClipboard>
#include <QColor>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "tools/korb/connect_answers.h"
#include "tools/korb/window_model.h"

namespace korb_app {

// Where a balance worker leaves its answers: the window while it lives, nothing after. Posting
// happens under the mutex the window's destructor takes, so a worker never posts to a window in
// the middle of being destroyed.
struct BalanceMailbox {
  std::mutex mutex;
  QObject* target = nullptr;
};

namespace {

constexpr int poll_interval_ms = 1000;
// WhatsOnChain answers 429 to more than a few requests a second; every wallet costs a few.
constexpr int balance_interval_ms = 30000;
constexpr size_t shown_error_bytes = 160;

std::atomic<int> balance_workers{0};

QEvent::Type balance_event_type() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

// One address's reading, or (empty) the end of a round.
class BalanceEvent : public QEvent {
 public:
  explicit BalanceEvent(std::optional<BalanceReading> reading)
      : QEvent(balance_event_type()), reading(std::move(reading)) {}
  std::optional<BalanceReading> reading;
};

void post_balance(BalanceMailbox& mailbox, std::optional<BalanceReading> reading) {
  std::lock_guard lock(mailbox.mutex);
  if (mailbox.target != nullptr) {
    QCoreApplication::postEvent(mailbox.target, new BalanceEvent(std::move(reading)));
  }
}

// Reads the addresses one after another (the service paces us anyway) on a detached thread,
// posting each answer as it comes so the first wallets fill in early. False when the system
// would not make a thread.
bool start_balance_worker(std::shared_ptr<BalanceMailbox> mailbox,
                          std::function<BalanceReading(const std::string&)> read,
                          std::vector<std::string> addresses) {
  ++balance_workers;
  try {
    std::thread([mailbox = std::move(mailbox), read = std::move(read),
                 addresses = std::move(addresses)] {
      for (const std::string& address : addresses) {
        BalanceReading reading = read(address);
        reading.address = address;
        post_balance(*mailbox, std::move(reading));
      }
      post_balance(*mailbox, std::nullopt);
      --balance_workers;
    }).detach();
  } catch (const std::system_error&) {
    --balance_workers;
    return false;
  }
  return true;
}

struct Row {
  QString id;
  QString text;
};

// Puts `rows` into the list. When the same ids are already shown only their texts change, so
// the player's selection and scroll position survive the once-a-second refresh.
void fill_list(QListWidget* list, const std::vector<Row>& rows, int select) {
  bool same_ids = list->count() == static_cast<int>(rows.size());
  for (int i = 0; same_ids && i < list->count(); ++i) {
    same_ids = list->item(i)->data(Qt::UserRole).toString() == rows[static_cast<size_t>(i)].id;
  }
  if (same_ids) {
    for (int i = 0; i < list->count(); ++i) {
      list->item(i)->setText(rows[static_cast<size_t>(i)].text);
    }
    return;
  }
  list->clear();
  for (const Row& row : rows) {
    auto* item = new QListWidgetItem(row.text, list);
    item->setData(Qt::UserRole, row.id);
  }
  list->setCurrentRow(select);
}

QString to_q(const std::string& text) {
  return QString::fromStdString(text);
}

void wipe_qstring(QString& text) {
  if (!text.isEmpty())
    OPENSSL_cleanse(text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
  text.clear();
}

}  // namespace

int balance_workers_running() {
  return balance_workers.load();
}

WindowSources live_sources() {
  return WindowSources{unix_seconds_now, read_address_balance};
}

WindowPrompts dialog_prompts() {
  WindowPrompts prompts;
  prompts.ask_text = [](QWidget* parent, const QString& title, const QString& label,
                        QString& answer) {
    bool accepted = false;
    answer = QInputDialog::getText(parent, title, label, QLineEdit::Normal, {}, &accepted);
    return accepted;
  };
  prompts.show_text = [](QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
  };
  return prompts;
}

KorbWindow::KorbWindow(WindowPrompts prompts, WindowSources sources, QWidget* parent)
    : QWidget(parent),
      prompts_(std::move(prompts)),
      sources_(std::move(sources)),
      mailbox_(std::make_shared<BalanceMailbox>()) {
  mailbox_->target = this;
  setWindowTitle("Korb");

  wallets_ = new QListWidget(this);
  wallets_->setObjectName("wallets");
  wallet_address_ = new QLabel(this);
  wallet_address_->setObjectName("wallet_address");
  wallet_address_->setTextFormat(Qt::PlainText);
  wallet_address_->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                           Qt::TextSelectableByKeyboard);
  create_ = new QPushButton("Create", this);
  create_->setObjectName("create");
  restore_ = new QPushButton("Restore", this);
  restore_->setObjectName("restore");
  copy_address_ = new QPushButton("Copy address", this);
  copy_address_->setObjectName("copy_address");
  refresh_balances_ = new QPushButton("Refresh balances", this);
  refresh_balances_->setObjectName("refresh_balances");
  paymail_name_ = new QLineEdit(this);
  paymail_name_->setObjectName("paymail_name");
  paymail_name_->setPlaceholderText("paymail name for the selected wallet");
  paymail_name_->setMaxLength(64);
  set_paymail_ = new QPushButton("Set paymail name", this);
  set_paymail_->setObjectName("set_paymail");
  requests_ = new QListWidget(this);
  requests_->setObjectName("requests");
  request_details_ = new QLabel(this);
  request_details_->setObjectName("request_details");
  // Plain text: a request file could hold markup meant to dress up as something else.
  request_details_->setTextFormat(Qt::PlainText);
  request_details_->setWordWrap(true);
  request_details_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  request_details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  wallet_chooser_ = new QComboBox(this);
  wallet_chooser_->setObjectName("wallet_chooser");
  approve_ = new QPushButton("Approve", this);
  approve_->setObjectName("approve");
  deny_ = new QPushButton("Deny", this);
  deny_->setObjectName("deny");
  status_ = new QLabel(this);
  status_->setObjectName("status");
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(true);

  // Fixed places rather than layouts: see korb_window_size in the header.
  setFixedSize(korb_window_size);
  auto* wallets_title = new QLabel("<b>Wallets</b>", this);
  wallets_title->setGeometry(12, 8, 696, 20);
  wallets_->setGeometry(12, 30, 696, 100);
  wallet_address_->setGeometry(12, 134, 696, 20);
  create_->setGeometry(12, 158, 100, 30);
  restore_->setGeometry(120, 158, 100, 30);
  copy_address_->setGeometry(228, 158, 120, 30);
  refresh_balances_->setGeometry(356, 158, 140, 30);
  paymail_name_->setGeometry(12, 196, 540, 30);
  set_paymail_->setGeometry(560, 196, 148, 30);
  auto* requests_title = new QLabel("<b>Connect requests</b>", this);
  requests_title->setGeometry(12, 238, 696, 20);
  requests_->setGeometry(requests_list_rect);
  request_details_->setGeometry(12, 376, 696, 74);
  auto* chooser_label = new QLabel("Use wallet:", this);
  chooser_label->setGeometry(12, 456, 88, 32);
  wallet_chooser_->setGeometry(104, 456, 380, 32);
  approve_->setGeometry(approve_button_rect);
  deny_->setGeometry(deny_button_rect);
  status_->setGeometry(12, 496, 696, 56);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  connect(create_, &QPushButton::clicked, this, &KorbWindow::create_wallet);
  connect(restore_, &QPushButton::clicked, this, &KorbWindow::restore_wallet);
  connect(copy_address_, &QPushButton::clicked, this, &KorbWindow::copy_address);
  connect(refresh_balances_, &QPushButton::clicked, this, &KorbWindow::refresh_balances);
  connect(set_paymail_, &QPushButton::clicked, this, &KorbWindow::set_paymail);
  connect(approve_, &QPushButton::clicked, this, &KorbWindow::approve_selected);
  connect(deny_, &QPushButton::clicked, this, &KorbWindow::deny_selected);
  connect(requests_, &QListWidget::currentRowChanged, this, &KorbWindow::update_buttons);
  connect(wallets_, &QListWidget::currentRowChanged, this, &KorbWindow::update_buttons);
  connect(wallet_chooser_, &QComboBox::currentIndexChanged, this, &KorbWindow::update_buttons);
  connect(&poll_timer_, &QTimer::timeout, this, &KorbWindow::refresh);
  connect(&balance_timer_, &QTimer::timeout, this, &KorbWindow::refresh_balances);

  refresh();
  poll_timer_.start(poll_interval_ms);
  balance_timer_.start(balance_interval_ms);
}

KorbWindow::~KorbWindow() {
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->target = nullptr;
}

void KorbWindow::refresh() {
  refresh_wallets();
  refresh_requests();
  update_buttons();
}

void KorbWindow::refresh_wallets() {
  std::vector<StoredWallet> wallets;
  std::string error;
  if (!list_stored_wallets(wallets, error)) {
    show_status(to_q(error));
    return;
  }
  shown_wallets_ = std::move(wallets);
  std::vector<Row> rows;
  bool unread = false;
  for (const StoredWallet& stored : shown_wallets_) {
    std::string text = wallet_row_text(stored);
    if (!stored.address.empty()) {
      const auto reading = balances_.find(stored.address);
      text += "  \u2014  " + balance_text(reading != balances_.end() ? &reading->second : nullptr);
      unread = unread || !balances_asked_.contains(stored.address);
    }
    rows.push_back({to_q(stored.id), to_q(text)});
  }
  fill_list(wallets_, rows, kept_selection(shown_wallets_, selected_wallet_id().toStdString()));

  const std::string chosen = chosen_wallet_id().toStdString();
  wallet_chooser_->blockSignals(true);
  wallet_chooser_->clear();
  for (const StoredWallet& stored : shown_wallets_) {
    wallet_chooser_->addItem(to_q(stored.name + " (" + stored.id + ")"), to_q(stored.id));
  }
  wallet_chooser_->setCurrentIndex(kept_selection(shown_wallets_, chosen));
  wallet_chooser_->blockSignals(false);
  // A wallet just created or restored gets its balance without waiting for the next round.
  if (unread) refresh_balances();
}

void KorbWindow::refresh_requests() {
  const std::int64_t now = sources_.now_seconds();
  shown_requests_ = live_requests(now);
  std::vector<Row> rows;
  for (const korb::ConnectRequest& request : shown_requests_) {
    rows.push_back({to_q(request.id), to_q(request_row_text(request, now))});
  }
  fill_list(requests_, rows, kept_selection(shown_requests_, selected_request_id().toStdString()));
  mark_new_requests(now);
}

// A new request selects itself and brings the window forward: the player has just clicked
// Connect in a game and is looking for us. Its row stays marked for a few seconds, fading.
void KorbWindow::mark_new_requests(std::int64_t now) {
  std::set<std::string> current;
  const korb::ConnectRequest* newest = nullptr;
  for (const korb::ConnectRequest& request : shown_requests_) {
    current.insert(request.id);
    if (seen_requests_.insert(request.id).second) {
      request_arrivals_[request.id] = now;
      newest = &request;
    }
  }
  std::erase_if(seen_requests_, [&](const std::string& id) { return !current.contains(id); });
  std::erase_if(request_arrivals_, [&](const auto& entry) {
    return !current.contains(entry.first) || now - entry.second >= new_request_mark_seconds;
  });

  for (int i = 0; i < requests_->count(); ++i) {
    QListWidgetItem* item = requests_->item(i);
    const auto arrival = request_arrivals_.find(item->data(Qt::UserRole).toString().toStdString());
    QFont font = item->font();
    font.setBold(arrival != request_arrivals_.end());
    item->setFont(font);
    if (arrival == request_arrivals_.end()) {
      item->setBackground(QBrush());
      continue;
    }
    const std::int64_t left =
        new_request_mark_seconds - std::max<std::int64_t>(0, now - arrival->second);
    item->setBackground(
        QColor(255, 200, 60, static_cast<int>(40 + 180 * left / new_request_mark_seconds)));
  }

  if (newest == nullptr) return;
  for (int i = 0; i < requests_->count(); ++i) {
    if (requests_->item(i)->data(Qt::UserRole).toString().toStdString() == newest->id) {
      requests_->setCurrentRow(i);
    }
  }
  const std::string app =
      newest->app.empty() ? "A game" : printable_field(newest->app, shown_app_bytes);
  show_status(to_q(app + " asks to connect. Check the program and folder below, then Approve "
                         "or Deny."));
  bring_to_front();
}

void KorbWindow::bring_to_front() {
  showNormal();
  raise();
  activateWindow();
  // Desktops that refuse to hand over the focus still flash the task bar entry.
  QApplication::alert(this);
}

void KorbWindow::create_wallet() {
  QString name;
  if (!prompts_.ask_text(this, "Create wallet", "Name of the new wallet:", name)) return;
  std::string cleaned, error, mnemonic, id;
  if (!clean_wallet_name(name.toStdString(), cleaned, error)) return complain(to_q(error));
  if (!generate_mnemonic(mnemonic)) return complain("The random source failed.");
  const bool added = add_wallet(cleaned, mnemonic, id, error);
  QString words = to_q(mnemonic);
  OPENSSL_cleanse(mnemonic.data(), mnemonic.size());
  if (!added) {
    wipe_qstring(words);
    return complain(to_q(error));
  }
  prompts_.show_text(this, "Your new wallet",
                     "Write down these 12 words now. They are the only way to restore the wallet "
                     "\"" +
                         to_q(cleaned) + "\", and Korb will not show them again:\n\n" + words);
  wipe_qstring(words);
  show_status("Created wallet " + to_q(id) + ".");
  refresh();
}

void KorbWindow::restore_wallet() {
  QString name, words;
  if (!prompts_.ask_text(this, "Restore wallet", "Name of the restored wallet:", name)) return;
  std::string cleaned, error;
  if (!clean_wallet_name(name.toStdString(), cleaned, error)) return complain(to_q(error));
  if (!prompts_.ask_text(this, "Restore wallet", "The wallet's 12 words:", words)) return;
  std::string typed = words.toStdString();
  wipe_qstring(words);
  std::string mnemonic = normalized_mnemonic(typed);
  OPENSSL_cleanse(typed.data(), typed.size());
  if (mnemonic.empty()) {
    return complain("Those are not 12 valid words of a wallet (English list, with checksum).");
  }
  std::string id;
  const bool added = add_wallet(cleaned, mnemonic, id, error);
  OPENSSL_cleanse(mnemonic.data(), mnemonic.size());
  if (!added) return complain(to_q(error));
  show_status("Restored wallet " + to_q(id) + ".");
  refresh();
}

void KorbWindow::set_paymail() {
  const QString id = selected_wallet_id();
  if (id.isEmpty()) return complain("Select a wallet first.");
  std::string name, error;
  if (!set_wallet_paymail(id.toStdString(), paymail_name_->text().toStdString(), name, error)) {
    return complain(to_q(error));
  }
  paymail_name_->clear();
  show_status("Wallet " + id + " now has the paymail name " + to_q(name) + ".");
  refresh();
}

void KorbWindow::approve_selected() {
  const QString request = selected_request_id();
  const QString wallet = chosen_wallet_id();
  if (request.isEmpty() || wallet.isEmpty()) return;
  std::string error;
  if (!approve_request(request.toStdString(), wallet.toStdString(), error)) {
    complain(to_q(error));
  } else {
    show_status("Approved " + request + " with wallet " + wallet + ".");
    // The game usually pays right away; show the player what is left soon after.
    refresh_balances();
  }
  refresh();
}

void KorbWindow::deny_selected() {
  const QString request = selected_request_id();
  if (request.isEmpty()) return;
  std::string error;
  if (!deny_request(request.toStdString(), error)) {
    complain(to_q(error));
  } else {
    show_status("Denied " + request + ".");
  }
  refresh();
}

void KorbWindow::refresh_balances() {
  if (balance_round_running_) {
    balance_round_again_ = true;
    return;
  }
  std::vector<std::string> addresses;
  for (const StoredWallet& stored : shown_wallets_) {
    if (!stored.address.empty() &&
        std::find(addresses.begin(), addresses.end(), stored.address) == addresses.end()) {
      addresses.push_back(stored.address);
    }
  }
  if (addresses.empty()) return;
  balances_asked_.insert(addresses.begin(), addresses.end());
  balance_round_running_ = true;
  if (!start_balance_worker(mailbox_, sources_.read_balance, std::move(addresses))) {
    balance_round_running_ = false;
    show_status("Could not read the balances: the system would not start another thread.");
  }
}

void KorbWindow::customEvent(QEvent* event) {
  if (event->type() != balance_event_type()) return QWidget::customEvent(event);
  auto* answer = static_cast<BalanceEvent*>(event);
  if (!answer->reading) {
    balance_round_running_ = false;
    if (balance_round_again_) {
      balance_round_again_ = false;
      refresh_balances();
    }
    return;
  }
  balances_[answer->reading->address] = std::move(*answer->reading);
  refresh_wallets();
  show_selected_wallet();
}

void KorbWindow::show_selected_wallet() {
  const StoredWallet* wallet = selected_wallet();
  copy_address_->setEnabled(wallet != nullptr && !wallet->address.empty());
  if (wallet == nullptr) {
    wallet_address_->setText("Create or restore a wallet to see its payment address.");
    return;
  }
  if (wallet->address.empty()) {
    wallet_address_->setText(to_q(wallet->name + ": the wallet file is unusable."));
    return;
  }
  const auto found = balances_.find(wallet->address);
  const BalanceReading* reading = found != balances_.end() ? &found->second : nullptr;
  std::string balance = "Balance: " + balance_text(reading);
  if (reading != nullptr && !reading->ok) {
    balance = "Balance unavailable: " + printable_field(reading->error, shown_error_bytes);
  }
  wallet_address_->setText(to_q("Payment address: " + wallet->address + "    " + balance));
}

void KorbWindow::show_selected_request() {
  const QString id = selected_request_id();
  for (const korb::ConnectRequest& request : shown_requests_) {
    if (to_q(request.id) == id) {
      request_details_->setText(to_q(request_details_text(request, sources_.now_seconds())));
      return;
    }
  }
  request_details_->setText(
      "No game is asking to connect. Click Connect in a game to pair it "
      "with a wallet here.");
}

void KorbWindow::copy_address() {
  const StoredWallet* wallet = selected_wallet();
  if (wallet == nullptr || wallet->address.empty()) return;
  QGuiApplication::clipboard()->setText(to_q(wallet->address));
  show_status(to_q("Copied the payment address of " + wallet->name + ": " + wallet->address +
                   ". Coins sent there are this wallet's."));
}

void KorbWindow::update_buttons() {
  const AnswerButtons buttons =
      answer_buttons(!selected_request_id().isEmpty(), !chosen_wallet_id().isEmpty());
  approve_->setEnabled(buttons.approve);
  deny_->setEnabled(buttons.deny);
  set_paymail_->setEnabled(!selected_wallet_id().isEmpty());
  show_selected_wallet();
  show_selected_request();
}

void KorbWindow::show_status(const QString& text) {
  status_->setText(text);
}

void KorbWindow::complain(const QString& text) {
  show_status(text);
  prompts_.show_text(this, "Korb", text);
}

QString KorbWindow::selected_request_id() const {
  const QListWidgetItem* item = requests_->currentItem();
  return item != nullptr ? item->data(Qt::UserRole).toString() : QString();
}

QString KorbWindow::chosen_wallet_id() const {
  return wallet_chooser_->currentData().toString();
}

QString KorbWindow::selected_wallet_id() const {
  const QListWidgetItem* item = wallets_->currentItem();
  return item != nullptr ? item->data(Qt::UserRole).toString() : QString();
}

const StoredWallet* KorbWindow::selected_wallet() const {
  const std::string id = selected_wallet_id().toStdString();
  for (const StoredWallet& wallet : shown_wallets_) {
    if (wallet.id == id) return &wallet;
  }
  return nullptr;
}

}  // namespace korb_app
