// The app image and the window icons made from it, and the header band that shows the image.
//
// The image ships on a dark background; every pixel darker than the band it sits on is made
// transparent when it is loaded, so the same art works on any band and as an icon.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>

class QPainter;

namespace ui {

inline constexpr char kAppImagePath[] = ":/ostakka/app_image.png";  // resource 102
inline constexpr char kAppIconPath[] = ":/ostakka/icon101.png";     // icon 101, 32 x 32

struct AppImages {
  QImage image;    // dark background made transparent; null when the image is missing
  QPixmap icon32;  // never null once loaded: falls back to icon 101, then the stock icon
  QPixmap icon16;  // null when there is no image; windows then use icon32
  QIcon icon;      // both sizes, for setWindowIcon
};

// Pixels whose largest colour channel is below this become fully transparent.
inline constexpr int kDarkLimit = 38;

// The image at path (a PNG of at most 4096 x 4096) with its dark pixels made transparent, or a
// null image when it is missing or unreadable.
[[nodiscard]] QImage load_app_image(const QString& path = kAppImagePath);

// A copy of image with every pixel whose largest channel is below kDarkLimit made transparent.
[[nodiscard]] QImage clear_dark_pixels(const QImage& image);

// The whole image smoothly scaled into an n x n transparent square.
[[nodiscard]] QImage icon_image(const QImage& image, int n);

// Loads the image and makes the 32 and 16 pixel icons, with the fallbacks above. Needs the
// application object.
[[nodiscard]] AppImages load_app_images(const QString& image_path = kAppImagePath,
                                        const QString& icon_path = kAppIconPath);

// The image scaled into target, smoothed and antialiased; nothing when the image is null.
void draw_app_image(QPainter& painter, const QImage& image, const QRect& target);

// The main window's background: the client area in the background colour, the header band from
// the top to y = 86 across the full width, the app image at (12, 8) scaled to 68 x 68.
void draw_main_background(QPainter& painter, const QSize& client, const QImage& image);

}  // namespace ui
