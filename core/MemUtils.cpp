#include "core/MemUtils.h"

#include <zlib.h>

#include <cstring>

#include "core/DAConsts.h"
#include "platform/runtime/LocaleCompare.h"

// ---- values ---------------------------------------------------------------------------------

bool VarEqual(const Variant& a, const Variant& b) {
  if ((a.VarType() == varOleStr && b.IsString()) || (b.VarType() == varOleStr && a.IsString()))
    return a.AsWideString() == b.AsWideString();
  if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
  if (!a.IsByteArray() && !b.IsByteArray()) return a == b;
  if (!a.IsByteArray() || !b.IsByteArray()) return false;
  return a.AsBytes() == b.AsBytes();
}

// ---- buffers and zero-terminated text -------------------------------------------------------

void CopyBuffer(const void* source, void* dest, size_t count) noexcept {
  if (count > 0) std::memmove(dest, source, count);
}

void CopyBufferAnsi(const std::string& source, void* dest, size_t count) {
  DA_ASSERT(count <= source.size());
  CopyBuffer(source.data(), dest, count);
}

void CopyBufferUni(const std::u16string& source, void* dest, size_t count) {
  DA_ASSERT(count <= source.size() * sizeof(char16_t));
  CopyBuffer(source.data(), dest, count);
}

void FillBuffer(void* dest, size_t count, uint8_t value) noexcept {
  if (count > 0) std::memset(dest, value, count);
}

char16_t* StrCopyW(char16_t* dest, const char16_t* source) noexcept {
  size_t n = StrLenW(source);
  std::memmove(dest, source, n * sizeof(char16_t));
  dest[n] = 0;
  return dest;
}

char16_t* StrLCopyW(char16_t* dest, const char16_t* source, size_t maxLen) noexcept {
  size_t n = 0;
  while (n < maxLen && source[n] != 0) ++n;
  std::memmove(dest, source, n * sizeof(char16_t));
  dest[n] = 0;
  return dest;
}

size_t StrLenW(const char16_t* text) noexcept {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

namespace {

template <typename Char>
void TrimRight(Char* buffer, int length) noexcept {
  size_t n = 0;
  if (length < 0) {
    while (buffer[n] != 0) ++n;
  } else {
    n = static_cast<size_t>(length);
  }
  while (n > 0 && (buffer[n - 1] == Char(' ') || buffer[n - 1] == Char(0))) buffer[--n] = 0;
}

// Characters before the terminator, at most len.
std::u16string_view Bounded(const char16_t* s, size_t len) {
  size_t n = 0;
  while (n < len && s[n] != 0) ++n;
  return std::u16string_view(s, n);
}

}  // namespace

void StrTrimRight(char* buffer, int length) noexcept {
  TrimRight(buffer, length);
}
void StrTrimRightW(char16_t* buffer, int length) noexcept {
  TrimRight(buffer, length);
}

// ---- locale comparisons ---------------------------------------------------------------------

int WideStrLCompS(const char16_t* a, const char16_t* b, size_t len) {
  return LocaleCompareWide(Bounded(a, len), Bounded(b, len), false);
}

int WideStrLICompS(const char16_t* a, const char16_t* b, size_t len) {
  return LocaleCompareWide(Bounded(a, len), Bounded(b, len), true);
}

int WideStrCompS(std::u16string_view a, std::u16string_view b) {
  return LocaleCompareWide(a, b, false);
}
int WideStrICompS(std::u16string_view a, std::u16string_view b) {
  return LocaleCompareWide(a, b, true);
}

int AnsiStrCompS(const char* a, const char* b) {
  return LocaleCompareAnsi(a ? a : "", b ? b : "", false);
}

int AnsiStrICompS(const char* a, const char* b) {
  return LocaleCompareAnsi(a ? a : "", b ? b : "", true);
}

int AnsiCompareStrS(std::string_view a, std::string_view b) {
  return LocaleCompareAnsi(a, b, false);
}
int AnsiCompareTextS(std::string_view a, std::string_view b) {
  return LocaleCompareAnsi(a, b, true);
}

// ---- compression ----------------------------------------------------------------------------

namespace {

constexpr const char* kTargetTooSmall = "ZLib error: target buffer may be too small";

// zlib's one-call result: Z_STREAM_END is success; not reaching it (Z_OK or Z_BUF_ERROR after
// Z_FINISH) means the output ran out or the input ended early; other codes are failures.
template <typename Error>
void CheckFinish(int result) {
  if (result == Z_STREAM_END) return;
  if (result == Z_OK || result == Z_BUF_ERROR) throw EZlibError(kTargetTooSmall);
  throw Error("Error");
}

void SetBuffers(z_stream& zs, void* dest, int destLen, const void* source, int sourceLen) {
  DA_ASSERT(destLen >= 0 && sourceLen >= 0);
  DA_ASSERT(dest != nullptr || destLen == 0);
  // zlib refuses a null output pointer even for no room; with avail_out 0 it never writes.
  static Bytef noRoom;
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(source));
  zs.avail_in = static_cast<uInt>(sourceLen);
  zs.next_out = dest ? static_cast<Bytef*>(dest) : &noRoom;
  zs.avail_out = static_cast<uInt>(destLen);
}

}  // namespace

void CompressBlock(void* dest, int& destLen, const void* source, int sourceLen) {
  z_stream zs{};
  if (deflateInit(&zs, Z_DEFAULT_COMPRESSION) != Z_OK) throw ECompressionError("Error");
  SetBuffers(zs, dest, destLen, source, sourceLen);
  int result = deflate(&zs, Z_FINISH);
  deflateEnd(&zs);
  CheckFinish<ECompressionError>(result);
  destLen = static_cast<int>(zs.total_out);
}

void UncompressBlock(void* dest, int& destLen, const void* source, int sourceLen) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw EDecompressionError("Error");
  SetBuffers(zs, dest, destLen, source, sourceLen);
  int result = inflate(&zs, Z_FINISH);
  inflateEnd(&zs);
  CheckFinish<EDecompressionError>(result);
  destLen = static_cast<int>(zs.total_out);
}

TCompressProc CompressProc = CompressBlock;
TCompressProc UncompressProc = UncompressBlock;

void CheckCompressProcs() {
  if (!CompressProc) throw Exception(MessageText(SCompressorNotLinked));
  if (!UncompressProc) throw Exception(MessageText(SUncompressorNotLinked));
}

void DoCompress(void* dest, int& destLen, const void* source, int sourceLen) {
  DA_ASSERT_MSG(CompressProc != nullptr, MessageText(SCompressorNotLinked));
  CompressProc(dest, destLen, source, sourceLen);
}

void DoUncompress(void* dest, int& destLen, const void* source, int sourceLen) {
  DA_ASSERT_MSG(UncompressProc != nullptr, MessageText(SUncompressorNotLinked));
  UncompressProc(dest, destLen, source, sourceLen);
}
