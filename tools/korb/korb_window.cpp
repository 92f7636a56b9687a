#include "tools/korb/korb_window.h"

#include <openssl/crypto.h>

#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

#include "tools/korb/connect_answers.h"
#include "tools/korb/window_model.h"

namespace korb_app {
namespace {

constexpr int poll_interval_ms = 1000;

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

KorbWindow::KorbWindow(WindowPrompts prompts, QWidget* parent)
    : QWidget(parent), prompts_(std::move(prompts)) {
  setWindowTitle("Korb");

  wallets_ = new QListWidget(this);
  wallets_->setObjectName("wallets");
  create_ = new QPushButton("Create", this);
  create_->setObjectName("create");
  restore_ = new QPushButton("Restore", this);
  restore_->setObjectName("restore");
  paymail_name_ = new QLineEdit(this);
  paymail_name_->setObjectName("paymail_name");
  paymail_name_->setPlaceholderText("paymail name for the selected wallet");
  paymail_name_->setMaxLength(64);
  set_paymail_ = new QPushButton("Set paymail name", this);
  set_paymail_->setObjectName("set_paymail");
  requests_ = new QListWidget(this);
  requests_->setObjectName("requests");
  wallet_chooser_ = new QComboBox(this);
  wallet_chooser_->setObjectName("wallet_chooser");
  approve_ = new QPushButton("Approve", this);
  approve_->setObjectName("approve");
  deny_ = new QPushButton("Deny", this);
  deny_->setObjectName("deny");
  status_ = new QLabel(this);
  status_->setObjectName("status");
  status_->setWordWrap(true);

  // Fixed places rather than layouts: see korb_window_size in the header.
  setFixedSize(korb_window_size);
  auto* wallets_title = new QLabel("<b>Wallets</b>", this);
  wallets_title->setGeometry(12, 8, 696, 20);
  wallets_->setGeometry(12, 30, 696, 120);
  create_->setGeometry(12, 158, 100, 30);
  restore_->setGeometry(120, 158, 100, 30);
  paymail_name_->setGeometry(12, 196, 540, 30);
  set_paymail_->setGeometry(560, 196, 148, 30);
  auto* requests_title = new QLabel("<b>Connect requests</b>", this);
  requests_title->setGeometry(12, 238, 696, 20);
  requests_->setGeometry(requests_list_rect);
  auto* chooser_label = new QLabel("Use wallet:", this);
  chooser_label->setGeometry(12, 456, 88, 32);
  wallet_chooser_->setGeometry(104, 456, 380, 32);
  approve_->setGeometry(approve_button_rect);
  deny_->setGeometry(deny_button_rect);
  status_->setGeometry(12, 496, 696, 56);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  connect(create_, &QPushButton::clicked, this, &KorbWindow::create_wallet);
  connect(restore_, &QPushButton::clicked, this, &KorbWindow::restore_wallet);
  connect(set_paymail_, &QPushButton::clicked, this, &KorbWindow::set_paymail);
  connect(approve_, &QPushButton::clicked, this, &KorbWindow::approve_selected);
  connect(deny_, &QPushButton::clicked, this, &KorbWindow::deny_selected);
  connect(requests_, &QListWidget::currentRowChanged, this, &KorbWindow::update_buttons);
  connect(wallets_, &QListWidget::currentRowChanged, this, &KorbWindow::update_buttons);
  connect(wallet_chooser_, &QComboBox::currentIndexChanged, this, &KorbWindow::update_buttons);
  connect(&poll_timer_, &QTimer::timeout, this, &KorbWindow::refresh);

  refresh();
  poll_timer_.start(poll_interval_ms);
}

void KorbWindow::refresh() {
  std::vector<StoredWallet> wallets;
  std::string error;
  if (list_stored_wallets(wallets, error)) {
    std::vector<Row> rows;
    for (const StoredWallet& stored : wallets) {
      rows.push_back({to_q(stored.id), to_q(wallet_row_text(stored))});
    }
    fill_list(wallets_, rows, kept_selection(wallets, selected_wallet_id().toStdString()));

    const std::string chosen = chosen_wallet_id().toStdString();
    wallet_chooser_->blockSignals(true);
    wallet_chooser_->clear();
    for (const StoredWallet& stored : wallets) {
      wallet_chooser_->addItem(to_q(stored.name + " (" + stored.id + ")"), to_q(stored.id));
    }
    wallet_chooser_->setCurrentIndex(kept_selection(wallets, chosen));
    wallet_chooser_->blockSignals(false);
  } else {
    show_status(to_q(error));
  }

  const std::int64_t now = unix_seconds_now();
  const std::vector<korb::ConnectRequest> requests = live_requests(now);
  std::vector<Row> rows;
  for (const korb::ConnectRequest& request : requests) {
    rows.push_back({to_q(request.id), to_q(request_row_text(request, now))});
  }
  fill_list(requests_, rows, kept_selection(requests, selected_request_id().toStdString()));
  update_buttons();
}

void KorbWindow::bring_to_front() {
  showNormal();
  raise();
  activateWindow();
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

void KorbWindow::update_buttons() {
  const AnswerButtons buttons =
      answer_buttons(!selected_request_id().isEmpty(), !chosen_wallet_id().isEmpty());
  approve_->setEnabled(buttons.approve);
  deny_->setEnabled(buttons.deny);
  set_paymail_->setEnabled(!selected_wallet_id().isEmpty());
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

}  // namespace korb_app
