// ostakka-art OUTPUT_DIR: writes the app image, icon 101 and the desktop icons into OUTPUT_DIR
// (the repository's resources/ folder). Run through tools/art/make-art.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>

#include "tools/art/art_scene.h"

namespace {

bool write_png(const QImage& image, const QString& path) {
  if (!QDir().mkpath(QFileInfo(path).path()) || !image.save(path, "PNG")) {
    std::fprintf(stderr, "ostakka-art: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: ostakka-art OUTPUT_DIR\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const auto icon = art::icon_shapes();
  bool ok = write_png(art::render(art::app_image_shapes(), 256), out + "/app_image.png") &&
            write_png(art::render(icon, 32), out + "/icon101.png");
  for (int n : art::kIconSizes) {
    ok = ok &&
         write_png(
             art::render(icon, n),
             QString("%1/icons/hicolor/%2x%2/apps/%3.png").arg(out).arg(n).arg(art::kIconName));
  }
  const QString svg_path =
      QString("%1/icons/hicolor/scalable/apps/%2.svg").arg(out, art::kIconName);
  QDir().mkpath(QFileInfo(svg_path).path());
  QFile svg(svg_path);
  if (!ok || !svg.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      svg.write(art::to_svg(icon).toUtf8()) < 0) {
    std::fprintf(stderr, "ostakka-art: writing the icons failed\n");
    return 1;
  }
  return 0;
}
