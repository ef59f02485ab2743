#pragma once

#include <QByteArrayView>
#include <QImage>

namespace quelm {

// Reads a binary portable pixmap (P6, 8 bits a channel) into an RGB888 image; a null image when
// the bytes are not one. The window's art is kept in this form because it needs no image
// plugin: the first picture a process decodes through QImageReader costs milliseconds of
// plugin discovery before any pixel is read.
QImage readPortablePixmap(QByteArrayView bytes);

} // namespace quelm
