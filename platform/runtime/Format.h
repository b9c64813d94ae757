// Type-safe formatting of message texts: %s, %d, %u, %x, %f, %e, %g, %n, %c, %%,
// with optional argument index ("%1:s"), left alignment ("-"), width and precision.
// A directive that does not match its argument raises EConvertError; nothing is read past
// the argument list.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

class FormatArg {
 public:
  enum class Kind { Int, UInt, Float, Text };

  template <typename T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
  FormatArg(T v) : FKind(Kind::Int), FInt(v) {}
  template <
      typename T,
      std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> && !std::is_same_v<T, bool>, int> = 0>
  FormatArg(T v) : FKind(Kind::UInt), FUInt(v) {}
  FormatArg(bool v) : FKind(Kind::Int), FInt(v ? 1 : 0) {}
  FormatArg(double v) : FKind(Kind::Float), FFloat(v) {}
  FormatArg(float v) : FKind(Kind::Float), FFloat(v) {}
  FormatArg(const char* v) : FKind(Kind::Text), FText(v ? v : "") {}
  FormatArg(const std::string& v) : FKind(Kind::Text), FText(v) {}
  FormatArg(std::string_view v) : FKind(Kind::Text), FText(v) {}

  Kind kind() const { return FKind; }
  int64_t asInt() const { return FInt; }
  uint64_t asUInt() const { return FUInt; }
  double asFloat() const { return FFloat; }
  std::string_view asText() const { return FText; }

 private:
  Kind FKind;
  int64_t FInt = 0;
  uint64_t FUInt = 0;
  double FFloat = 0;
  std::string_view FText;
};

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args);
inline std::string Format(std::string_view fmt) {
  return Format(fmt, {});
}

// Locale-independent number text ("." as decimal separator).
std::string IntToStr(int64_t value);
std::string UIntToStr(uint64_t value);
std::string FloatToStr(double value);  // shortest text that reads back to the same value
