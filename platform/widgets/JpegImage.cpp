#include "platform/widgets/JpegImage.h"

#include <cstring>

#include "platform/widgets/JpegDecoder.h"

QImage JpegToImage(std::string_view data) {
  TJpegPicture picture;
  std::string error;
  if (!DecodeJpeg(data, picture, error)) return QImage();
  QImage image(static_cast<int>(picture.Width), static_cast<int>(picture.Height), QImage::Format_RGB32);
  if (image.isNull()) return QImage();
  const size_t rowBytes = picture.Width * sizeof(uint32_t);
  for (uint32_t y = 0; y < picture.Height; ++y) {
    std::memcpy(image.scanLine(static_cast<int>(y)),
                picture.Pixels.data() + static_cast<size_t>(y) * picture.Width, rowBytes);
  }
  return image;
}
