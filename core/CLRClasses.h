// Memory, byte and text helpers: the one vocabulary for raw memory (record buffers, blob pieces,
// string-heap blocks), byte arrays (packets) and text buffers (SQL, dump text, lexemes).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Exceptions.h"

using TBytes = std::vector<uint8_t>;

// Malformed data or an index outside a buffer.
class ArgumentException : public Exception {
 public:
  ArgumentException() : Exception("Invalid argument") {}
  explicit ArgumentException(std::string message) : Exception(std::move(message)) {}
};

// An operation the object does not offer.
class NotSupportedException : public Exception {
 public:
  NotSupportedException() : Exception("Operation is not supported") {}
};

// Little-endian values in byte arrays. Every reader checks that its bytes lie inside the array
// and raises ArgumentException otherwise.
class BitConverter {
 public:
  BitConverter() = delete;

  static TBytes GetBytes(int64_t value);
  static double Int64BitsToDouble(int64_t value) noexcept { return std::bit_cast<double>(value); }
  static int64_t DoubleToInt64Bits(double value) noexcept { return std::bit_cast<int64_t>(value); }

  static int64_t ToInt64(const TBytes& bytes, int startIndex);
  static int32_t ToInt32(const TBytes& bytes, int startIndex);
  static uint32_t ToUInt32(const TBytes& bytes, int startIndex);
  static uint16_t ToUInt16(const TBytes& bytes, int startIndex);
};

// Loads and stores at an address plus a byte offset. Fields may sit unaligned, so every access
// goes through memcpy; pointers are stored with their native size (8 bytes).
class Marshal {
 public:
  Marshal() = delete;

  // Program-heap blocks. Raise EOutOfMemory when the heap refuses.
  static void* AllocHGlobal(size_t cb);
  static void* ReAllocHGlobal(void* ptr, size_t cb);  // may move; the old block stays valid on failure
  static void FreeHGlobal(void* ptr) noexcept;

  static uint8_t ReadByte(const void* ptr, ptrdiff_t ofs = 0) noexcept { return Load<uint8_t>(ptr, ofs); }
  static int16_t ReadInt16(const void* ptr, ptrdiff_t ofs = 0) noexcept { return Load<int16_t>(ptr, ofs); }
  static int32_t ReadInt32(const void* ptr, ptrdiff_t ofs = 0) noexcept { return Load<int32_t>(ptr, ofs); }
  static int64_t ReadInt64(const void* ptr, ptrdiff_t ofs = 0) noexcept { return Load<int64_t>(ptr, ofs); }
  static void* ReadIntPtr(const void* ptr, ptrdiff_t ofs = 0) noexcept { return Load<void*>(ptr, ofs); }

  static void WriteByte(void* ptr, uint8_t value) noexcept { Store(ptr, 0, value); }
  static void WriteByte(void* ptr, ptrdiff_t ofs, uint8_t value) noexcept { Store(ptr, ofs, value); }
  static void WriteInt16(void* ptr, int16_t value) noexcept { Store(ptr, 0, value); }
  static void WriteInt16(void* ptr, ptrdiff_t ofs, int16_t value) noexcept { Store(ptr, ofs, value); }
  static void WriteInt32(void* ptr, int32_t value) noexcept { Store(ptr, 0, value); }
  static void WriteInt32(void* ptr, ptrdiff_t ofs, int32_t value) noexcept { Store(ptr, ofs, value); }
  static void WriteInt64(void* ptr, int64_t value) noexcept { Store(ptr, 0, value); }
  static void WriteInt64(void* ptr, ptrdiff_t ofs, int64_t value) noexcept { Store(ptr, ofs, value); }
  static void WriteIntPtr(void* ptr, const void* value) noexcept { Store(ptr, 0, value); }
  static void WriteIntPtr(void* ptr, ptrdiff_t ofs, const void* value) noexcept { Store(ptr, ofs, value); }

  // len >= 1: exactly len bytes (zero bytes included); len < 1: the zero-terminated text at ptr.
  // A null ptr gives the empty text.
  static std::string PtrToStringAnsi(const void* ptr, int len = 0);
  // The same in UTF-16 characters (2 bytes each, read unaligned).
  static std::u16string PtrToStringUni(const void* ptr, int len = 0);

  // The string's own characters, no copy: valid while the string lives unchanged.
  static const char* StringToCoTaskMemAnsi(const std::string& s) noexcept { return s.c_str(); }
  static const char16_t* StringToCoTaskMemUni(const std::u16string& s) noexcept { return s.c_str(); }
  static const char* StringToCoTaskMemAnsi(std::string&&) = delete;  // would dangle
  static const char16_t* StringToCoTaskMemUni(std::u16string&&) = delete;
  static void FreeCoTaskMem(const void*) noexcept {}  // the two above allocate nothing

  // Copy length bytes between an array and an address. Length 0 does nothing; a range outside the
  // array or a negative index or length raises ArgumentException.
  static void Copy(const TBytes& source, int startIndex, void* destination, int length);
  static void Copy(const void* source, TBytes& destination, int startIndex, int length);

 private:
  template <typename T>
  static T Load(const void* ptr, ptrdiff_t ofs) noexcept {
    T v;
    std::memcpy(&v, static_cast<const char*>(ptr) + ofs, sizeof v);
    return v;
  }
  template <typename T>
  static void Store(void* ptr, ptrdiff_t ofs, T v) noexcept {
    std::memcpy(static_cast<char*>(ptr) + ofs, &v, sizeof v);
  }
};

class Buffer {
 public:
  Buffer() = delete;
  // Copies count bytes, overlap-safe (src and dst may be the same array). Raises ArgumentException
  // when either range lies outside its array.
  static void BlockCopy(const TBytes& src, int srcOffset, TBytes& dst, int dstOffset, int count);
};

// A text encoding. The objects are the two singletons Encoding::Default() (ANSI text in the
// process code page, bytes as they are) and Encoding::Unicode() (UTF-16LE); callers hold a
// `const Encoding*` and call through it. Every index/count pair outside its array or string
// raises ArgumentException; nothing is written past a destination's end.
class Encoding {
 public:
  static const Encoding* Default() noexcept;
  static const Encoding* Unicode() noexcept;

  Encoding(const Encoding&) = delete;
  Encoding& operator=(const Encoding&) = delete;

  TBytes GetBytes(std::string_view s) const;
  // Copies charCount bytes of s from charIndex to bytes[byteIndex]; returns charCount.
  // charCount < 1 copies nothing and returns charCount.
  int GetBytes(std::string_view s, int charIndex, int charCount, TBytes& bytes, int byteIndex) const;
  TBytes GetBytes(std::u16string_view s) const;  // UTF-16LE
  // Copies 2 x charCount bytes; returns 2 x charCount.
  int GetBytes(std::u16string_view s, int charIndex, int charCount, TBytes& bytes, int byteIndex) const;

  virtual std::string GetString(const TBytes& bytes) const;
  virtual std::string GetString(const TBytes& bytes, int index, int count) const;
  virtual std::u16string GetWideString(const TBytes& bytes) const;
  virtual std::u16string GetWideString(const TBytes& bytes, int index, int count) const;

 protected:
  Encoding() = default;
  virtual ~Encoding() = default;
};

// UTF-16LE: decoding reads count div 2 characters; GetString converts them to ANSI.
class UnicodeEncoding : public Encoding {
 public:
  std::string GetString(const TBytes& bytes) const override;
  std::string GetString(const TBytes& bytes, int index, int count) const override;
  std::u16string GetWideString(const TBytes& bytes) const override;
  std::u16string GetWideString(const TBytes& bytes, int index, int count) const override;

 private:
  friend class Encoding;
  UnicodeEncoding() = default;
};

// A growing ANSI text buffer. Lengths and indexes are 0-based character (byte) counts.
class StringBuilder {
 public:
  explicit StringBuilder(int capacity = 16);
  StringBuilder(std::string_view value, int capacity);

  int Length() const noexcept { return FLength; }
  // Grows the buffer when needed; characters gained this way are zero. Negative n raises
  // ArgumentException.
  void SetLength(int n);

  void Append(std::string_view value);
  // count characters of value from startIndex; a range outside value raises ArgumentException.
  void Append(std::string_view value, int startIndex, int count);
  void Append(char value);

  // Replaces every occurrence of oldValue, scanning left to right; replaced text is never searched
  // again. An empty oldValue leaves the text unchanged.
  void Replace(std::string_view oldValue, std::string_view newValue);

  std::string ToString() const { return FBuffer.substr(0, static_cast<size_t>(FLength)); }

 private:
  void Reserve(size_t n);

  std::string FBuffer;  // its length is the capacity
  int FLength = 0;
};

// A byte stream over a growable array; the MySQL packet layer keeps its packets in one.
// Position and length are 32-bit; the array may be longer than the stream (GetBuffer).
class MemoryStream {
 public:
  explicit MemoryStream(int capacity = 0);

  void Close() noexcept;  // releases the array

  int Length() const noexcept { return FLength; }
  // Keeps the array while it holds at least n bytes and is below 64 KiB (a packet buffer refilled
  // for every packet is not reallocated); otherwise reallocates it to exactly n bytes. Bytes
  // gained are zero. Negative n raises ArgumentException.
  void SetLength(int n);

  // SetLength for a caller that overwrites all n bytes at once (a packet read whole): position 0,
  // the content unspecified until written, and nothing cleared that is about to be overwritten.
  void ResetForOverwrite(int n);

  int Position() const noexcept { return FPosition; }
  void SetPosition(int p);  // extends the stream when p is past its end

  // Copies at most Length - Position bytes to buffer + offset, advances the position and
  // returns the number copied. The TBytes overload raises ArgumentException when
  // [offset, offset + count) lies outside buffer.
  int Read(void* buffer, int offset, int count);
  int Read(TBytes& buffer, int offset, int count);
  // The byte at the position; raises ArgumentException at the end of the stream.
  uint8_t ReadByte();

  // Writes count bytes at the position, extending the stream when needed. The TBytes overload
  // raises ArgumentException when [offset, offset + count) lies outside buffer.
  void Write(const void* buffer, int offset, int count);
  void Write(const TBytes& buffer, int offset, int count);
  void WriteByte(uint8_t b);

  TBytes& GetBuffer() noexcept { return FData; }
  const TBytes& GetBuffer() const noexcept { return FData; }

 private:
  TBytes FData;
  int FPosition = 0;
  int FLength = 0;
};
