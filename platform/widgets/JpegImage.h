// A JPEG picture as a QImage, for the data-aware image and the console's artwork.
#pragma once

#include <QImage>
#include <string_view>

// The decoded picture, or a null image for data that does not decode (see DecodeJpeg).
QImage JpegToImage(std::string_view data);
