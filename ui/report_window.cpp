#include "ui/report_window.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>

#include <nlohmann/json.hpp>

#include "arcade/score_record.h"
#include "config/deploy_config.h"
#include "korb/report_encryption.h"
#include "korb/session.h"
#include "ui/app_image.h"
#include "ui/button.h"
#include "ui/fonts.h"
#include "ui/message_box.h"
#include "ui/palette.h"
#include "ui/placement.h"
#include "ui/well_painter.h"

namespace ui {
namespace {

const QString kCaption = QStringLiteral("Report");
// The edit text is read up to this many UTF-16 units before trimming.
constexpr int kReadLimit = 2200;

QPointer<ReportWindow>& open_report() {
  static QPointer<ReportWindow> window;
  return window;
}

// At most `count` UTF-16 units of text, never ending inside a surrogate pair.
QString head(const QString& text, int count) {
  if (count <= 0) return {};
  if (text.size() <= count) return text;
  if (text.at(count - 1).isHighSurrogate()) --count;
  return text.left(count);
}

}  // namespace

LimitedTextEdit::LimitedTextEdit(int limit, QWidget* parent)
    : QPlainTextEdit(parent), limit_(limit) {}

int LimitedTextEdit::room() const {
  const QTextCursor cursor = textCursor();
  return limit_ - (document()->characterCount() - 1) +
         (cursor.selectionEnd() - cursor.selectionStart());
}

void LimitedTextEdit::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  const bool inserts = !text.isEmpty() && (text.at(0).isPrint() || text == "\r" || text == "\t");
  if (inserts && room() < text.size()) return;
  QPlainTextEdit::keyPressEvent(event);
}

void LimitedTextEdit::insertFromMimeData(const QMimeData* source) {
  if (source == nullptr || !source->hasText()) return;
  insertPlainText(head(source->text(), room()));
}

ReportWindow::ReportWindow(QWidget* owner, ReportHost host, const AppImages* images)
    : CompanionWindow(owner, kCaption, kReportWidth, kReportHeight, images),
      host_(std::move(host)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  if (images != nullptr) app_image_ = images->image;
  edit_ = new LimitedTextEdit(kReportEditLimit, this);
  edit_->setGeometry(24, 402, 552, 148);
  edit_->setFont(ui_fonts().body);
  edit_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  edit_->setFrameShape(QFrame::StyledPanel);
  QPalette colours = edit_->palette();
  colours.setColor(QPalette::Text, QColor(kCream));
  colours.setColor(QPalette::Base, QColor(kPanel));
  edit_->setPalette(colours);
  style_scroll_bar(edit_->verticalScrollBar());
  PaintedButton* send_button =
      create_button(this, QStringLiteral("Send report"), kReportSendId, 24, 568, 150, 36);
  PaintedButton* close =
      create_button(this, QStringLiteral("Close"), kReportCloseId, 184, 568, 110, 36);
  connect(send_button, &PaintedButton::clicked, this, &ReportWindow::send);
  connect(close, &PaintedButton::clicked, this, &QWidget::close);
  edit_->setFocus();
}

void ReportWindow::refuse(const QString& text, bool warning) {
  (void)show_message(this, kCaption, text,
                     warning ? MessageIcon::warning : MessageIcon::information);
}

void ReportWindow::send() {
  if (host_.busy && host_.busy()) {
    if (host_.set_status) host_.set_status(QStringLiteral("Already working..."));
    return;
  }
  if (!korb::is_connected() || session_handle().empty()) {
    const std::string_view domain = config::deploy_config().paymail_domain;
    refuse(QStringLiteral("Connect Korb and publish a @") +
               QString::fromUtf8(domain.data(), static_cast<qsizetype>(domain.size())) +
               QStringLiteral(" name first."),
           false);
    return;
  }
  const QByteArray text = head(edit_->toPlainText(), kReadLimit).trimmed().toUtf8();
  if (text.isEmpty() || text.size() > kReportByteLimit) {
    refuse(QStringLiteral("Write a report (max 2000 characters)."), false);
    return;
  }
  const std::string handle = session_handle();
  const std::string architect(config::deploy_config().architect_handle);
  const int64_t now = host_.now ? host_.now() : QDateTime::currentSecsSinceEpoch();
  nlohmann::json payload = {
      {"protocol", "RQT-Wire"}, {"type", "report"},     {"app", "O-Stakka"}, {"handle", handle},
      {"to_handle", architect}, {"location", "arcade"}, {"game", "stakka"},  {"ts", now},
  };
  std::string error;
  korb::MessageParts parts;
  parts[0] = text.toStdString();
  if (!korb::encrypt_direct_message(parts, handle, architect, payload, error)) {
    refuse(error.empty() ? QStringLiteral("Could not encrypt the report.")
                         : QString::fromStdString(error),
           true);
    return;
  }
  if (!arcade::sign_claim(payload, error)) {
    refuse(error.empty() ? QStringLiteral("Could not sign the report.")
                         : QString::fromStdString(error),
           true);
    return;
  }
  if (host_.set_busy) host_.set_busy(true);
  if (host_.set_status) host_.set_status(QStringLiteral("Sending report in Korb..."));
  const ReportHost host = host_;
  close();
  if (host.start_worker) (void)host.start_worker(payload.dump());
}

void ReportWindow::paintEvent(QPaintEvent*) {
  const int w = width();
  QPainter painter(this);
  painter.fillRect(rect(), QColor(kBackground));
  draw_sheet_header(painter, w, app_image_);
  const QRect what = ltrb(24, 88, w - 24, 216);
  draw_section_card(painter, what, QStringLiteral("What this is"));
  draw_card_lines(painter, 44, what.top() + kCardContentTop, w - 44,
                  {QStringLiteral("Bug reports and abuse. Not email."),
                   QStringLiteral("Encrypted to the architect.")});
  const QRect include = ltrb(24, 232, w - 24, 386);
  draw_section_card(painter, include, QStringLiteral("What to include"));
  draw_card_lines(painter, 44, include.top() + kCardContentTop, w - 44,
                  {QStringLiteral("What broke, or who abused."),
                   QStringLiteral("A score txid if you have one."),
                   QStringLiteral("2,000 characters at most.")});
  painter.setFont(ui_fonts().small);
  draw_line(painter, ltrb(310, 568, w - 24, 604), Qt::AlignLeft | Qt::AlignVCenter, QColor(kAmber),
            QStringLiteral("Report spam protection fee."));
}

ReportWindow* open_report_window(QWidget* main, ReportHost host, const AppImages* images) {
  QPointer<ReportWindow>& slot = open_report();
  if (!slot) {
    slot = new ReportWindow(main, std::move(host), images);
    if (main != nullptr) place_beside_main(slot, main, kReportWidth, kReportHeight);
  }
  raise_window(slot);
  return slot;
}

ReportWindow* report_window() {
  return open_report();
}

}  // namespace ui
