// The platform's fixed-point currency: a 64-bit integer scaled by 10,000.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct Currency {
  int64_t Scaled = 0;  // value * 10,000

  static constexpr Currency FromScaled(int64_t scaled) { return Currency{scaled}; }
  friend constexpr bool operator==(Currency a, Currency b) { return a.Scaled == b.Scaled; }
  friend constexpr auto operator<=>(Currency a, Currency b) { return a.Scaled <=> b.Scaled; }
};

constexpr int64_t CurrencyScale = 10000;

// Rounds half to even (as the floating-point unit does); false for values out of range or not
// finite. DoubleToCurr raises EConvertError "Floating point overflow" for those.
bool TryDoubleToCurr(double value, Currency& result) noexcept;
Currency DoubleToCurr(double value);
double CurrToDouble(Currency value) noexcept;
Currency Int64ToCurr(int64_t value);  // out of range raises EConvertError

// "-12.5": up to four digits after the point, no trailing zeros, "." as separator.
std::string CurrToStr(Currency value);
// Decimal text as StrToBcd reads it; more than 4 places are rounded half away from zero.
// StrToCurr raises EConvertError "'%s' is not a valid floating point value".
bool TryStrToCurr(std::string_view text, Currency& value) noexcept;
Currency StrToCurr(std::string_view text);
