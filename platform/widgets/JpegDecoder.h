// JPEG decoding with libjpeg. Any data, however broken, gives either a picture or an error:
// libjpeg's fatal errors return here instead of ending the process, and the picture's size is
// capped before anything is allocated for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TJpegPicture {
  uint32_t Width = 0;
  uint32_t Height = 0;
  // Width * Height pixels, row by row, each 0xFFRRGGBB.
  std::vector<uint32_t> Pixels;
};

// Largest picture decoded: width and height each, and their product.
inline constexpr uint32_t JpegMaxSide = 16384;
inline constexpr uint64_t JpegMaxPixels = 32ull * 1024 * 1024;

// Decodes data into picture. False for data that is no JPEG, is cut before any row, or whose
// picture exceeds the caps; error then says why (libjpeg's text or the cap), and picture is
// left empty. A stream cut after its first rows decodes with the missing rows grey, as
// libjpeg fills them.
bool DecodeJpeg(std::string_view data, TJpegPicture& picture, std::string& error);
