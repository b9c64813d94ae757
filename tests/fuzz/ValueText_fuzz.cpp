// Value text and bytes that arrive from servers and stored blobs: decimal and date-time text,
// packed decimal records, compressed blob streams and text split into lines.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/MemUtils.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/FMTBcd.h"
#include "platform/runtime/Variant.h"

namespace {

void Decimal(std::string_view text) {
  TBcd b;
  if (!TryStrToBcd(text, b)) return;
  TBcd back = StrToBcd(BcdToStr(b));
  if (BcdCompare(b, back) != 0) __builtin_trap();
  try {
    BcdToInt64(b);
  } catch (const EConvertError&) {
  }
  BcdToDouble(b);
}

void DateTime(std::string_view text) {
  TDateTime v;
  if (!TryStrToDateTime(text, v)) return;
  int y, m, d, h, n, s, ms;
  DecodeDateTime(v, y, m, d, h, n, s, ms);
  TDateTime again;
  if (!TryEncodeDateTime(y, m, d, h, n, s, ms, again)) __builtin_trap();
}

void VariantText(std::string_view text) {
  Variant v{std::string(text)};
  try {
    v.AsInt64();
  } catch (const EConvertError&) {
  }
  try {
    v.AsCurrency();
  } catch (const EConvertError&) {
  }
  try {
    (void)(v == Variant(5));
  } catch (const EConvertError&) {
  }
}

void RawBcd(const uint8_t* data, size_t size) {
  TBcd b{};
  std::memcpy(&b, data, std::min(size, sizeof b));
  try {
    BcdToStr(b);
  } catch (const EConvertError&) {
  }
}

void Inflate(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out(4096);
  int len = static_cast<int>(out.size());
  try {
    UncompressBlock(out.data(), len, data, static_cast<int>(size));
    if (len < 0 || len > 4096) __builtin_trap();
  } catch (const EZlibError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 6) {
    case 0:
      Decimal(text);
      break;
    case 1:
      DateTime(text);
      break;
    case 2:
      VariantText(text);
      break;
    case 3:
      RawBcd(data + 1, size - 1);
      break;
    case 4:
      Inflate(data + 1, size - 1);
      break;
    default: {
      TStringList list;
      list.SetText(text);
      list.SetSorted(true);
      list.IndexOf(text.substr(0, 3));
      break;
    }
  }
  return 0;
}
