// Stateless helpers the record store, the blobs and the providers share: time stamps, the
// variant equality of key and parameter values, buffer copies, zero-terminated wide text, locale
// comparisons returning -1/0/1, date encoding that reports failure instead of raising, and the
// compression hooks through which compressed blobs reach zlib.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Variant.h"

// ---- time stamps and dates ------------------------------------------------------------------

// ValidateTimeStamp (DateTimeUtils.h) raises EConvertError "'%d.%d' is not a valid timestamp".
// Validates, then days since 1899-12-30 with the time fraction (subtracted for earlier days).
inline TDateTime TimeStampToDateTimeValue(const TTimeStamp& ts) {
  return TimeStampToDateTime(ts);
}

// Never raise; false for parts out of range (see TryEncodeDate / TryEncodeTime).
inline bool TryEncodeDateValue(int year, int month, int day, TDateTime& date) noexcept {
  return TryEncodeDate(year, month, day, date);
}
inline bool TryEncodeTimeValue(int hour, int min, int sec, int msec, TDateTime& time) noexcept {
  return TryEncodeTime(hour, min, sec, msec, time);
}
inline bool TryEncodeDateTimeValue(int year, int month, int day, int hour, int min, int sec, int msec,
                                   TDateTime& value) noexcept {
  return TryEncodeDateTime(year, month, day, hour, min, sec, msec, value);
}

// ---- values ---------------------------------------------------------------------------------

// Equality of key, parameter and locate values:
// a wide string against a wide or ANSI string compares as wide text, exactly (case counts);
// Null equals only Null; byte arrays equal byte arrays of the same length and bytes and nothing
// else; everything else is the standard variant equality (5 equals "5"; a number against a
// non-numeric string raises EConvertError).
bool VarEqual(const Variant& a, const Variant& b);

// Is obj an instance of Cls or of a descendant (nullptr is not).
template <class Cls, class T>
bool IsClass(const T* obj) {
  return dynamic_cast<const Cls*>(obj) != nullptr;
}

inline uint32_t ByteSwap32(uint32_t value) noexcept {
  return __builtin_bswap32(value);
}

// ---- buffers and zero-terminated text -------------------------------------------------------

// Overlap-safe copy of count bytes.
void CopyBuffer(const void* source, void* dest, size_t count) noexcept;
// Copy count bytes of the string's characters; count beyond the string is an assertion failure.
void CopyBufferAnsi(const std::string& source, void* dest, size_t count);
void CopyBufferUni(const std::u16string& source, void* dest, size_t count);
void FillBuffer(void* dest, size_t count, uint8_t value) noexcept;

// Copy a zero-terminated wide text (StrLCopyW: at most maxLen characters), then a terminator;
// dest must hold them. Return dest.
char16_t* StrCopyW(char16_t* dest, const char16_t* source) noexcept;
char16_t* StrLCopyW(char16_t* dest, const char16_t* source, size_t maxLen) noexcept;
size_t StrLenW(const char16_t* text) noexcept;
// Replace trailing blanks and zero characters of the first `length` characters (-1: up to the
// terminator) by zeros.
void StrTrimRight(char* buffer, int length) noexcept;
void StrTrimRightW(char16_t* buffer, int length) noexcept;

// ---- locale comparisons (-1, 0, 1; LocaleCompare.h says how text is ordered) ----------------

// First len characters of zero-terminated wide texts (fewer when a terminator comes first).
int WideStrLCompS(const char16_t* a, const char16_t* b, size_t len);
int WideStrLICompS(const char16_t* a, const char16_t* b, size_t len);
// Whole wide strings, embedded zeros included.
int WideStrCompS(std::u16string_view a, std::u16string_view b);
int WideStrICompS(std::u16string_view a, std::u16string_view b);
// Zero-terminated ANSI texts.
int AnsiStrCompS(const char* a, const char* b);
int AnsiStrICompS(const char* a, const char* b);
// Whole ANSI strings over their full lengths, embedded zeros included.
int AnsiCompareStrS(std::string_view a, std::string_view b);
int AnsiCompareTextS(std::string_view a, std::string_view b);

// ---- compression ----------------------------------------------------------------------------

class EZlibError : public Exception {
 public:
  using Exception::Exception;
};
class ECompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};
class EDecompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

// destLen: on entry the capacity of dest, on return the bytes produced.
using TCompressProc = void (*)(void* dest, int& destLen, const void* source, int sourceLen);

// One deflate stream (zlib format, default level) of the whole source. A destination too small
// for it raises EZlibError "ZLib error: target buffer may be too small"; other zlib failures
// ECompressionError "Error".
void CompressBlock(void* dest, int& destLen, const void* source, int sourceLen);
// Inflates one zlib stream into dest and sets destLen to the bytes produced: callers compare it
// with the size they expect (a complete stream may hold fewer bytes). A stream that needs more
// room or is cut short raises EZlibError "ZLib error: target buffer may be too small"; corrupt
// data EDecompressionError "Error".
void UncompressBlock(void* dest, int& destLen, const void* source, int sourceLen);

// The hooks, CompressBlock and UncompressBlock unless replaced (replace them at start-up only,
// before other threads run).
extern TCompressProc CompressProc;
extern TCompressProc UncompressProc;

// Raises Exception with message 65095 when CompressProc is unset, else 65096 when
// UncompressProc is unset.
void CheckCompressProcs();
// Call the hook; an unset hook is an assertion failure naming message 65095 / 65096.
void DoCompress(void* dest, int& destLen, const void* source, int sourceLen);
void DoUncompress(void* dest, int& destLen, const void* source, int sourceLen);
