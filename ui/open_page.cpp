#include "ui/open_page.h"

#include <QDesktopServices>
#include <QUrl>
#include <functional>
#include <mutex>

#include "ui/open_page_testing.h"

namespace ui {
namespace {

std::mutex& opener_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<bool(const QString&)>& opener() {
  static auto* stored = new std::function<bool(const QString&)>;
  return *stored;
}

}  // namespace

bool open_page(const QString& address) {
  const QUrl url(address, QUrl::StrictMode);
  if (!url.isValid() || url.scheme() != "https" || url.host().isEmpty()) return false;
  std::function<bool(const QString&)> replacement;
  {
    std::lock_guard lock(opener_mutex());
    replacement = opener();
  }
  if (replacement) return replacement(url.toString());
  return QDesktopServices::openUrl(url);
}

void set_page_opener_for_testing(std::function<bool(const QString&)> replacement) {
  std::lock_guard lock(opener_mutex());
  opener() = std::move(replacement);
}

}  // namespace ui
