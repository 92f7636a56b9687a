// Shared pieces of the ui tests: one application object and the pixel questions asked of images.
#pragma once

#include <QApplication>
#include <QImage>
#include <QRect>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace ui_test {

inline QApplication& application() {
  static int argc = 1;
  static char name[] = "ui_test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: Qt's own thread storage must outlive it at process exit.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The colour at (x, y) as 0xRRGGBB.
inline QRgb rgb(const QImage& image, int x, int y) {
  return image.pixel(x, y) & 0xFFFFFF;
}

// How many pixels of rect are within tolerance of colour on every channel. Texts are checked this
// way: antialiased glyphs reach their full colour only inside their strokes, and where those fall
// depends on the installed font.
inline int count_near(const QImage& image, const QRect& rect, QRgb colour, int tolerance = 10) {
  int count = 0;
  const QRect r = rect.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) {
      const QRgb p = image.pixel(x, y);
      count += std::abs(qRed(p) - qRed(colour)) <= tolerance &&
               std::abs(qGreen(p) - qGreen(colour)) <= tolerance &&
               std::abs(qBlue(p) - qBlue(colour)) <= tolerance;
    }
  }
  return count;
}

// A fresh Korb data directory for the life of the scope: LOCALAPPDATA points into a new temporary
// folder, and XDG_RUNTIME_DIR too, so single-instance sockets live there and never meet a
// running game's.
class ScopedDataDir {
 public:
  ScopedDataDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostakka-ui-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) root_ = pattern;
    std::filesystem::create_directories(root_ + "/runtime");
    std::filesystem::permissions(root_ + "/runtime", std::filesystem::perms::owner_all);
    setenv("LOCALAPPDATA", root_.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root_ + "/runtime").c_str(), 1);
  }
  ~ScopedDataDir() {
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
  }
  ScopedDataDir(const ScopedDataDir&) = delete;
  ScopedDataDir& operator=(const ScopedDataDir&) = delete;

  [[nodiscard]] const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace ui_test
