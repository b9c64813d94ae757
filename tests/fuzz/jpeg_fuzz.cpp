// JPEG bytes into the decoder: any input gives a picture or an error, never a crash, an
// over-read or an allocation beyond the caps; a decoded picture has exactly its pixels.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/widgets/JpegDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TJpegPicture picture;
  std::string error;
  bool ok = DecodeJpeg({reinterpret_cast<const char*>(data), size}, picture, error);
  if (ok != error.empty()) std::abort();
  if (ok && picture.Pixels.size() != static_cast<size_t>(picture.Width) * picture.Height) std::abort();
  if (ok && (picture.Width > JpegMaxSide || picture.Height > JpegMaxSide)) std::abort();
  return 0;
}
