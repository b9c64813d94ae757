#include "core/CLRClasses.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/runtime/Charset.h"

// Byte arrays and record buffers share the host's order; packets are little-endian.
static_assert(std::endian::native == std::endian::little, "little-endian hosts only");
static_assert(sizeof(void*) == 8, "record layouts assume 8-byte references");

namespace {

// [index, index + count) must lie inside an object of `size` bytes or characters.
void CheckRange(size_t size, int64_t index, int64_t count, const char* what) {
  if (index < 0 || count < 0 || static_cast<uint64_t>(index) + static_cast<uint64_t>(count) > size)
    throw ArgumentException(std::string(what) + ": index or count outside the buffer");
}

template <typename T>
T ReadLE(const TBytes& bytes, int startIndex) {
  CheckRange(bytes.size(), startIndex, sizeof(T), "BitConverter");
  T v;
  std::memcpy(&v, bytes.data() + startIndex, sizeof v);
  return v;
}

}  // namespace

// ---- BitConverter ---------------------------------------------------------------------------

TBytes BitConverter::GetBytes(int64_t value) {
  TBytes b(sizeof value);
  std::memcpy(b.data(), &value, sizeof value);
  return b;
}

int64_t BitConverter::ToInt64(const TBytes& bytes, int startIndex) {
  return ReadLE<int64_t>(bytes, startIndex);
}
int32_t BitConverter::ToInt32(const TBytes& bytes, int startIndex) {
  return ReadLE<int32_t>(bytes, startIndex);
}
uint32_t BitConverter::ToUInt32(const TBytes& bytes, int startIndex) {
  return ReadLE<uint32_t>(bytes, startIndex);
}
uint16_t BitConverter::ToUInt16(const TBytes& bytes, int startIndex) {
  return ReadLE<uint16_t>(bytes, startIndex);
}

// ---- Marshal --------------------------------------------------------------------------------

void* Marshal::AllocHGlobal(size_t cb) {
  void* p = std::malloc(cb ? cb : 1);
  if (!p) throw EOutOfMemory("Out of memory");
  return p;
}

void* Marshal::ReAllocHGlobal(void* ptr, size_t cb) {
  void* p = std::realloc(ptr, cb ? cb : 1);
  if (!p) throw EOutOfMemory("Out of memory");
  return p;
}

void Marshal::FreeHGlobal(void* ptr) noexcept {
  std::free(ptr);
}

std::string Marshal::PtrToStringAnsi(const void* ptr, int len) {
  if (!ptr) return {};
  const char* p = static_cast<const char*>(ptr);
  return len >= 1 ? std::string(p, static_cast<size_t>(len)) : std::string(p);
}

std::u16string Marshal::PtrToStringUni(const void* ptr, int len) {
  if (!ptr) return {};
  const char* p = static_cast<const char*>(ptr);
  size_t n = 0;
  if (len >= 1) {
    n = static_cast<size_t>(len);
  } else {
    while (Load<char16_t>(p, static_cast<ptrdiff_t>(2 * n)) != 0) ++n;
  }
  std::u16string s(n, u'\0');
  std::memcpy(s.data(), p, 2 * n);
  return s;
}

void Marshal::Copy(const TBytes& source, int startIndex, void* destination, int length) {
  CheckRange(source.size(), startIndex, length, "Marshal.Copy");
  if (length > 0) std::memcpy(destination, source.data() + startIndex, static_cast<size_t>(length));
}

void Marshal::Copy(const void* source, TBytes& destination, int startIndex, int length) {
  CheckRange(destination.size(), startIndex, length, "Marshal.Copy");
  if (length > 0) std::memcpy(destination.data() + startIndex, source, static_cast<size_t>(length));
}

// ---- Buffer ---------------------------------------------------------------------------------

void Buffer::BlockCopy(const TBytes& src, int srcOffset, TBytes& dst, int dstOffset, int count) {
  CheckRange(src.size(), srcOffset, count, "Buffer.BlockCopy");
  CheckRange(dst.size(), dstOffset, count, "Buffer.BlockCopy");
  if (count > 0) std::memmove(dst.data() + dstOffset, src.data() + srcOffset, static_cast<size_t>(count));
}

// ---- Encoding -------------------------------------------------------------------------------

const Encoding* Encoding::Default() noexcept {
  static const Encoding ansi;
  return &ansi;
}

const Encoding* Encoding::Unicode() noexcept {
  static const UnicodeEncoding unicode;
  return &unicode;
}

TBytes Encoding::GetBytes(std::string_view s) const {
  return TBytes(s.begin(), s.end());
}

int Encoding::GetBytes(std::string_view s, int charIndex, int charCount, TBytes& bytes, int byteIndex) const {
  if (charCount < 1) return charCount;
  CheckRange(s.size(), charIndex, charCount, "Encoding.GetBytes");
  CheckRange(bytes.size(), byteIndex, charCount, "Encoding.GetBytes");
  std::memcpy(bytes.data() + byteIndex, s.data() + charIndex, static_cast<size_t>(charCount));
  return charCount;
}

TBytes Encoding::GetBytes(std::u16string_view s) const {
  TBytes b(2 * s.size());
  if (!s.empty()) std::memcpy(b.data(), s.data(), b.size());
  return b;
}

int Encoding::GetBytes(std::u16string_view s, int charIndex, int charCount, TBytes& bytes,
                       int byteIndex) const {
  if (charCount < 1) return 2 * charCount;
  CheckRange(s.size(), charIndex, charCount, "Encoding.GetBytes");
  CheckRange(bytes.size(), byteIndex, 2 * int64_t{charCount}, "Encoding.GetBytes");
  std::memcpy(bytes.data() + byteIndex, s.data() + charIndex, 2 * static_cast<size_t>(charCount));
  return 2 * charCount;
}

std::string Encoding::GetString(const TBytes& bytes) const {
  return GetString(bytes, 0, static_cast<int>(std::min<size_t>(bytes.size(), INT_MAX)));
}

std::string Encoding::GetString(const TBytes& bytes, int index, int count) const {
  if (count == 0) return {};
  CheckRange(bytes.size(), index, count, "Encoding.GetString");
  return std::string(reinterpret_cast<const char*>(bytes.data()) + index, static_cast<size_t>(count));
}

std::u16string Encoding::GetWideString(const TBytes& bytes) const {
  return AnsiToWide(GetString(bytes));
}

std::u16string Encoding::GetWideString(const TBytes& bytes, int index, int count) const {
  return AnsiToWide(GetString(bytes, index, count));
}

std::string UnicodeEncoding::GetString(const TBytes& bytes) const {
  return WideToAnsi(GetWideString(bytes));
}

std::string UnicodeEncoding::GetString(const TBytes& bytes, int index, int count) const {
  return WideToAnsi(GetWideString(bytes, index, count));
}

std::u16string UnicodeEncoding::GetWideString(const TBytes& bytes) const {
  return GetWideString(bytes, 0, static_cast<int>(std::min<size_t>(bytes.size(), INT_MAX)));
}

std::u16string UnicodeEncoding::GetWideString(const TBytes& bytes, int index, int count) const {
  if (count == 0) return {};
  CheckRange(bytes.size(), index, count, "Encoding.GetWideString");
  std::u16string s(static_cast<size_t>(count) / 2, u'\0');
  if (!s.empty()) std::memcpy(s.data(), bytes.data() + index, 2 * s.size());
  return s;
}

// ---- StringBuilder --------------------------------------------------------------------------

StringBuilder::StringBuilder(int capacity) {
  if (capacity < 0) throw ArgumentException("StringBuilder: negative capacity");
  FBuffer.resize(static_cast<size_t>(capacity));
}

StringBuilder::StringBuilder(std::string_view value, int capacity) : StringBuilder(capacity) {
  Append(value);
}

// Makes room for n more characters: capacity becomes used + n + capacity div 2.
void StringBuilder::Reserve(size_t n) {
  size_t capacity = FBuffer.size();
  if (n <= capacity - static_cast<size_t>(FLength)) return;
  if (n > static_cast<size_t>(INT_MAX) - static_cast<size_t>(FLength))
    throw EOutOfMemory("StringBuilder: text longer than 2 GB");
  size_t grown = static_cast<size_t>(FLength) + n + capacity / 2;
  FBuffer.resize(std::min<size_t>(grown, INT_MAX));
}

void StringBuilder::SetLength(int n) {
  if (n < 0) throw ArgumentException("StringBuilder: negative length");
  if (n > FLength) {
    Reserve(static_cast<size_t>(n - FLength));
    std::fill(FBuffer.begin() + FLength, FBuffer.begin() + n, '\0');
  }
  FLength = n;
}

void StringBuilder::Append(std::string_view value) {
  if (value.empty()) return;
  Reserve(value.size());
  FBuffer.replace(static_cast<size_t>(FLength), value.size(), value);
  FLength += static_cast<int>(value.size());
}

void StringBuilder::Append(std::string_view value, int startIndex, int count) {
  CheckRange(value.size(), startIndex, count, "StringBuilder.Append");
  Append(value.substr(static_cast<size_t>(startIndex), static_cast<size_t>(count)));
}

void StringBuilder::Append(char value) {
  Reserve(1);
  FBuffer[static_cast<size_t>(FLength++)] = value;
}

void StringBuilder::Replace(std::string_view oldValue, std::string_view newValue) {
  if (oldValue.empty() || FLength == 0) return;
  std::string_view text(FBuffer.data(), static_cast<size_t>(FLength));
  size_t hit = text.find(oldValue);
  if (hit == std::string_view::npos) return;
  // One pass into a new text: the same result as replacing in place hit by hit, without moving
  // the tail once per hit.
  std::string result;
  size_t from = 0;
  for (; hit != std::string_view::npos; hit = text.find(oldValue, from)) {
    result.append(text, from, hit - from);
    result.append(newValue);
    from = hit + oldValue.size();
  }
  result.append(text, from);
  if (result.size() > text.size()) Reserve(result.size() - text.size());
  FBuffer.replace(0, result.size(), result);
  FLength = static_cast<int>(result.size());
}

// ---- MemoryStream ---------------------------------------------------------------------------

MemoryStream::MemoryStream(int capacity) {
  if (capacity < 0) throw ArgumentException("MemoryStream: negative capacity");
  FData.resize(static_cast<size_t>(capacity));
}

void MemoryStream::Close() noexcept {
  TBytes().swap(FData);
  FPosition = 0;
  FLength = 0;
}

void MemoryStream::SetLength(int n) {
  if (n < 0) throw ArgumentException("MemoryStream: negative length");
  const size_t size = static_cast<size_t>(n);
  const size_t kept = std::min(static_cast<size_t>(FLength), size);
  // Bytes past the old length may hold an earlier, longer packet: clear them before they become
  // part of the stream.
  std::fill(FData.begin() + static_cast<ptrdiff_t>(kept),
            FData.begin() + static_cast<ptrdiff_t>(std::min(size, FData.size())), 0);
  if (size > FData.size()) {
    FData.resize(size);  // amortised growth: a stream written piece by piece is not copied per piece
  } else if (FData.size() >= 65536) {
    FData.resize(size);
    FData.shrink_to_fit();
  }
  FLength = n;
}

void MemoryStream::ResetForOverwrite(int n) {
  if (n < 0) throw ArgumentException("MemoryStream: negative length");
  const size_t size = static_cast<size_t>(n);
  if (size > FData.size()) {
    FData.resize(size);
  } else if (FData.size() >= 65536 && size < 65536) {
    TBytes(size).swap(FData);  // a buffer grown by one huge packet is not kept for small ones
  }
  FPosition = 0;
  FLength = n;
}

void MemoryStream::SetPosition(int p) {
  if (p < 0) throw ArgumentException("MemoryStream: negative position");
  if (p > FLength) SetLength(p);
  FPosition = p;
}

int MemoryStream::Read(void* buffer, int offset, int count) {
  if (offset < 0 || count < 0) throw ArgumentException("MemoryStream.Read: negative offset or count");
  int n = std::min(count, std::max(FLength - FPosition, 0));
  if (n > 0) {
    std::memcpy(static_cast<char*>(buffer) + offset, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
  }
  return n;
}

int MemoryStream::Read(TBytes& buffer, int offset, int count) {
  CheckRange(buffer.size(), offset, count, "MemoryStream.Read");
  return Read(buffer.data(), offset, count);
}

uint8_t MemoryStream::ReadByte() {
  if (FPosition >= FLength) throw ArgumentException("MemoryStream.ReadByte: end of stream");
  return FData[static_cast<size_t>(FPosition++)];
}

void MemoryStream::Write(const void* buffer, int offset, int count) {
  if (offset < 0 || count < 0) throw ArgumentException("MemoryStream.Write: negative offset or count");
  if (count == 0) return;
  const int64_t end = int64_t{FPosition} + count;
  if (end > INT_MAX) throw ArgumentException("MemoryStream.Write: stream longer than 2 GB");
  if (end > FLength) SetLength(static_cast<int>(end));
  std::memcpy(FData.data() + FPosition, static_cast<const char*>(buffer) + offset,
              static_cast<size_t>(count));
  FPosition = static_cast<int>(end);
}

void MemoryStream::Write(const TBytes& buffer, int offset, int count) {
  CheckRange(buffer.size(), offset, count, "MemoryStream.Write");
  Write(buffer.data(), offset, count);
}

void MemoryStream::WriteByte(uint8_t b) {
  Write(&b, 0, 1);
}
