#include "ui/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "arcade/ui_settings.h"

namespace ui {
namespace {

using nlohmann::json;

constexpr int kSmallestSide = 80;
constexpr int kTallEnough = 400;
constexpr int kGap = 8;

// The integer at `key` when it fits an int; nothing when absent. A value of another type, or one
// out of range, makes the whole read fail.
bool read_int(const json& settings, const char* key, std::optional<int>& out) {
  const auto it = settings.find(key);
  if (it == settings.end()) return true;
  if (!it->is_number_integer()) return false;
  if (it->is_number_unsigned()) {
    const auto value = it->get<uint64_t>();
    if (value > static_cast<uint64_t>(std::numeric_limits<int>::max())) return false;
    out = static_cast<int>(value);
    return true;
  }
  const auto value = it->get<int64_t>();
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
    return false;
  }
  out = static_cast<int>(value);
  return true;
}

bool touches_a_screen(int64_t x, int64_t y, int64_t w, int64_t h, const QList<QRect>& screens) {
  for (const QRect& s : screens) {
    if (x < s.left() + int64_t{s.width()} && s.left() < x + w &&
        y < s.top() + int64_t{s.height()} && s.top() < y + h) {
      return true;
    }
  }
  return false;
}

QList<QRect> screen_geometries() {
  QList<QRect> rects;
  for (const QScreen* screen : QGuiApplication::screens()) rects.append(screen->geometry());
  return rects;
}

}  // namespace

RestoredPlacement placement_from_settings(const json& settings, const QList<QRect>& screens) {
  RestoredPlacement none;
  if (!settings.is_object()) return none;
  std::optional<int> x, y, w, h;
  if (!read_int(settings, "x", x) || !read_int(settings, "y", y) || !read_int(settings, "w", w) ||
      !read_int(settings, "h", h)) {
    return none;
  }
  const auto max = settings.find("max");
  const bool maximised = max != settings.end() && max->is_boolean() && max->get<bool>();
  if (!x || !y) return none;
  const int saved_w = w.value_or(kMainWidth);
  const int saved_h = h.value_or(kMainHeight);
  const int test_w = saved_w > kSmallestSide ? saved_w : kMainWidth;
  const int test_h = saved_h > kSmallestSide ? saved_h : kMainHeight;
  if (!touches_a_screen(*x, *y, test_w, test_h, screens)) return none;
  const int height = saved_h >= kTallEnough
                         ? std::clamp(saved_h, kMainHeight, kLargestRestoredHeight)
                         : kMainHeight;
  return {true, QRect(*x, *y, kMainWidth, height), maximised};
}

QPoint beside_main_position(const QRect& main, const QRect& work_area, int width, int height) {
  // Sums in 64 bits: a window far off in a huge virtual desktop must not wrap.
  const int64_t work_right = int64_t{work_area.left()} + work_area.width();
  const int64_t work_bottom = int64_t{work_area.top()} + work_area.height();
  int64_t x = int64_t{main.left()} + main.width() + kGap;
  if (x + width > work_right) x = int64_t{main.left()} - width - kGap;
  int64_t y = main.top();
  if (y + height > work_bottom) y = work_bottom - height;
  x = std::max<int64_t>(x, work_area.left());
  y = std::max<int64_t>(y, work_area.top());
  return {static_cast<int>(std::min<int64_t>(x, std::numeric_limits<int>::max())),
          static_cast<int>(std::min<int64_t>(y, std::numeric_limits<int>::max()))};
}

void save_placement(QWidget* main) {
  if (main == nullptr || main->isMinimized()) return;
  const QRect normal = main->normalGeometry();
  if (normal.width() < kSmallestSide || normal.height() < kSmallestSide) return;
  const bool maximised = main->isMaximized();
  arcade::change_ui_settings([&](json& doc) {
    if (!doc.is_object()) return;
    doc["x"] = normal.x();
    doc["y"] = normal.y();
    doc["w"] = normal.width();
    doc["h"] = normal.height();
    doc["max"] = maximised;
  });
}

void restore_placement(QWidget* main) {
  if (main == nullptr) return;
  const RestoredPlacement placement =
      placement_from_settings(arcade::ui_settings_copy(), screen_geometries());
  if (!placement.accepted) {
    main->resize(kMainWidth, kMainHeight);
    return;
  }
  main->setGeometry(placement.rect);
  if (placement.maximised) main->setWindowState(main->windowState() | Qt::WindowMaximized);
}

void place_beside_main(QWidget* window, const QWidget* main, int width, int height) {
  if (window == nullptr) return;
  QRect main_rect;
  QRect work_area;
  if (main != nullptr) {
    main_rect = main->frameGeometry();
    const QScreen* screen = QGuiApplication::screenAt(main_rect.center());
    if (screen == nullptr) screen = main->screen();
    if (screen != nullptr) work_area = screen->availableGeometry();
  }
  if (work_area.isEmpty() && QGuiApplication::primaryScreen() != nullptr) {
    work_area = QGuiApplication::primaryScreen()->geometry();
  }
  const QPoint at = beside_main_position(main_rect, work_area, width, height);
  window->setGeometry(at.x(), at.y(), width, height);
}

}  // namespace ui
