#include "platform/widgets/JpegDecoder.h"

#include <csetjmp>
#include <cstdio>
// clang-format off: jpeglib.h needs stdio's declarations first.
#include <jpeglib.h>
// clang-format on

namespace {

// libjpeg's error manager with a way back: error_exit jumps to the setjmp in Decode instead
// of calling exit().
struct TErrorManager {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->Message);
  std::longjmp(err->Jump, 1);
}

// Warnings (corrupt data that libjpeg works round) are not printed to stderr.
void OutputMessage(j_common_ptr) {}

// Memory libjpeg may take for one picture beyond the output rows (progressive coefficients).
constexpr long MaxDecoderMemory = 512L * 1024 * 1024;

inline uint32_t Rgb(unsigned r, unsigned g, unsigned b) {
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

// Turns one decoded row, in the output colour space, into 0xFFRRGGBB pixels. rgba rows are
// written in place (they already are 4 bytes a pixel).
void ConvertRow(const jpeg_decompress_struct& cinfo, const JSAMPLE* in, uint32_t* out) {
  const uint32_t width = cinfo.output_width;
  if (cinfo.out_color_space == JCS_GRAYSCALE) {
    for (uint32_t x = 0; x < width; ++x) out[x] = Rgb(in[x], in[x], in[x]);
  } else if (cinfo.out_color_space == JCS_CMYK) {
    // Adobe writes CMYK inverted; others store it plainly.
    const bool inverted = cinfo.saw_Adobe_marker;
    for (uint32_t x = 0; x < width; ++x) {
      unsigned c = in[4 * x], m = in[4 * x + 1], y = in[4 * x + 2], k = in[4 * x + 3];
      if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
      out[x] = Rgb(c * k / 255, m * k / 255, y * k / 255);
    }
  } else {
    for (uint32_t x = 0; x < width; ++x) out[x] = Rgb(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
  }
}

bool SizeAllowed(const jpeg_decompress_struct& cinfo) {
  const uint64_t w = cinfo.output_width, h = cinfo.output_height;
  return w > 0 && h > 0 && w <= JpegMaxSide && h <= JpegMaxSide && w * h <= JpegMaxPixels;
}

enum class TDecodeResult { Ok, LibraryError, TooLarge };

// Everything between setjmp and the last libjpeg call lives here: no object with a destructor
// is created in this frame after setjmp, so the jump back skips no cleanup of ours.
// Nothing here touches a std::string: its temporaries would be locals the jump clobbers.
TDecodeResult Decode(jpeg_decompress_struct& cinfo, TErrorManager& err, std::string_view data,
                     TJpegPicture& picture) {
  if (setjmp(err.Jump)) return TDecodeResult::LibraryError;
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = MaxDecoderMemory;
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.data()),
               static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
    cinfo.out_color_space = JCS_CMYK;
  } else if (cinfo.jpeg_color_space != JCS_GRAYSCALE) {
    cinfo.out_color_space = JCS_RGB;
  }
  jpeg_calc_output_dimensions(&cinfo);
  picture.Width = cinfo.output_width;
  picture.Height = cinfo.output_height;
  if (!SizeAllowed(cinfo)) return TDecodeResult::TooLarge;
  jpeg_start_decompress(&cinfo);
  picture.Pixels.resize(static_cast<size_t>(picture.Width) * picture.Height);
  JSAMPARRAY row =
      (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                 cinfo.output_width * static_cast<JDIMENSION>(cinfo.output_components), 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    const JDIMENSION y = cinfo.output_scanline;
    if (jpeg_read_scanlines(&cinfo, row, 1) != 1) break;
    ConvertRow(cinfo, row[0], picture.Pixels.data() + static_cast<size_t>(y) * picture.Width);
  }
  jpeg_finish_decompress(&cinfo);
  return TDecodeResult::Ok;
}

}  // namespace

bool DecodeJpeg(std::string_view data, TJpegPicture& picture, std::string& error) {
  picture = TJpegPicture();
  error.clear();
  jpeg_decompress_struct cinfo{};
  TErrorManager err{};
  cinfo.err = jpeg_std_error(&err.Pub);
  err.Pub.error_exit = ErrorExit;
  err.Pub.output_message = OutputMessage;
  bool ok = false;
  try {
    switch (Decode(cinfo, err, data, picture)) {
      case TDecodeResult::Ok:
        ok = true;
        break;
      case TDecodeResult::LibraryError:
        error = err.Message;
        break;
      case TDecodeResult::TooLarge:
        error = "JPEG picture of " + std::to_string(picture.Width) + " x " + std::to_string(picture.Height) +
                " pixels exceeds the limit";
        break;
    }
  } catch (...) {
    // Only the pixel vector can throw (std::bad_alloc); libjpeg's state is still destroyed.
    error = "out of memory for the JPEG picture";
  }
  jpeg_destroy_decompress(&cinfo);
  if (!ok) picture = TJpegPicture();
  return ok;
}
