#pragma once

#include <QByteArray>
#include <QImage>

namespace zeplo {

// Decodes a JPEG picture with libjpeg. Data that is not a complete, sound
// JPEG stream (garbage, a truncated file, a corrupt scan, a picture too large
// to hold) gives a null image; the decoder never ends the program and keeps
// its memory bounded.
QImage decodeJpeg(const QByteArray &data);

// The largest picture decodeJpeg accepts, in pixels.
inline constexpr int kJpegMaxSide = 8192;
inline constexpr qint64 kJpegMaxPixels = 16LL * 1024 * 1024;

} // namespace zeplo
