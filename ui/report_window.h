// The report window: a bug or abuse report to the arcade's architect. The text is encrypted so
// only the architect and the sender can read it, signed with the sender's identity key, and paid
// on-chain by the report worker. Nothing is paid unless encryption and signing both succeeded;
// a refusal leaves the window open with the text as it was.
#pragma once

#include <QPlainTextEdit>
#include <cstdint>
#include <functional>
#include <string>

#include "ui/companion_window.h"

namespace ui {

inline constexpr int kReportWidth = 600;
inline constexpr int kReportHeight = 640;
inline constexpr int kReportSendId = 1402;
inline constexpr int kReportCloseId = 1403;
// The edit takes at most this many characters from the keyboard or a paste.
inline constexpr int kReportEditLimit = 2000;
// A report's text may have at most this many bytes of UTF-8.
inline constexpr int kReportByteLimit = 2000;

// What the report window needs of the main window: the arcade's busy flag, the status line and
// the report worker (started with the compact payload; false when no thread could start it, and
// the main window has then cleared the busy flag again).
struct ReportHost {
  std::function<bool()> busy;
  std::function<void(bool)> set_busy;
  std::function<void(const QString&)> set_status;
  std::function<bool(std::string payload_text)> start_worker;
  std::function<int64_t()> now;  // Unix seconds; empty means the wall clock
};

// A plain-text edit whose keyboard and paste input stops at a number of characters, the way the
// report's text box always has. Text set by the program is not cut.
class LimitedTextEdit : public QPlainTextEdit {
  Q_OBJECT

 public:
  LimitedTextEdit(int limit, QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  [[nodiscard]] int room() const;
  int limit_;
};

class ReportWindow : public CompanionWindow {
  Q_OBJECT

 public:
  ReportWindow(QWidget* owner, ReportHost host, const AppImages* images);

  [[nodiscard]] LimitedTextEdit* edit() const { return edit_; }
  // The send steps: busy check, connection and name, length, payload, encryption, signature;
  // then the busy flag, the status line, the window closes and the worker starts.
  void send();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void refuse(const QString& text, bool warning);

  ReportHost host_;
  QImage app_image_;
  LimitedTextEdit* edit_;
};

// Opens the report window owned by `main` (beside it), or brings the open one to the front.
ReportWindow* open_report_window(QWidget* main, ReportHost host, const AppImages* images);
[[nodiscard]] ReportWindow* report_window();

}  // namespace ui
