#pragma once
// JPEG pictures decoded with libjpeg, so they do not depend on Qt's image plugins.
#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtGui/QImage>

namespace kalvo {

// RGB888, or Grayscale8 for a grey picture. A damaged or truncated file gives a null image.
QImage DecodeJpeg(const QByteArray& bytes);

// A picture compiled into the program, e.g. ":/pictures/about_ru.jpg"; null when missing or damaged.
QImage LoadJpegResource(const QString& path);

}  // namespace kalvo
