#include "platform/runtime/Currency.h"

#include <cmath>

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/FMTBcd.h"
#include "platform/runtime/Format.h"

bool TryDoubleToCurr(double value, Currency& result) noexcept {
  double scaled = std::nearbyint(value * CurrencyScale);
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (!std::isfinite(scaled) || scaled >= 9223372036854775808.0 || scaled < -9223372036854775808.0)
    return false;
  result = Currency::FromScaled(static_cast<int64_t>(scaled));
  return true;
}

Currency DoubleToCurr(double value) {
  Currency r;
  if (!TryDoubleToCurr(value, r)) throw EConvertError("Floating point overflow");
  return r;
}

double CurrToDouble(Currency value) noexcept {
  return static_cast<double>(value.Scaled) / CurrencyScale;
}

Currency Int64ToCurr(int64_t value) {
  int64_t scaled;
  if (__builtin_mul_overflow(value, CurrencyScale, &scaled)) throw EConvertError("Floating point overflow");
  return Currency::FromScaled(scaled);
}

std::string CurrToStr(Currency value) {
  uint64_t mag =
      value.Scaled < 0 ? 0 - static_cast<uint64_t>(value.Scaled) : static_cast<uint64_t>(value.Scaled);
  std::string out = value.Scaled < 0 ? "-" : "";
  out += UIntToStr(mag / CurrencyScale);
  uint64_t frac = mag % CurrencyScale;
  if (frac != 0) {
    std::string f = UIntToStr(frac);
    f.insert(0, 4 - f.size(), '0');
    f.erase(f.find_last_not_of('0') + 1);
    out += "." + f;
  }
  return out;
}

// Text goes through the BCD record's exact decimal parsing.
bool TryStrToCurr(std::string_view text, Currency& value) noexcept {
  TBcd b;
  if (!TryStrToBcd(text, b)) return false;
  try {
    value = BcdToCurr(b);
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

Currency StrToCurr(std::string_view text) {
  Currency r;
  if (!TryStrToCurr(text, r)) throw EConvertError(Format("'%s' is not a valid floating point value", {text}));
  return r;
}
