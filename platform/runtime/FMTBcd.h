// The platform's packed decimal record (34 bytes), as exact DECIMAL values travel in records.
//
// Precision is the number of digits (1..64), the low 6 bits of SignSpecialPlaces the number of
// them after the point (0..63, at most Precision), bit 7 the sign; Fraction holds the digits as
// nibbles, high nibble first, from the first byte on. Every function that reads a TBcd checks it
// and raises EConvertError "Invalid BCD value" for a malformed one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/Currency.h"

#pragma pack(push, 1)
struct TBcd {
  uint8_t Precision;
  uint8_t SignSpecialPlaces;
  uint8_t Fraction[32];
};
#pragma pack(pop)
static_assert(sizeof(TBcd) == 34);

constexpr int MaxFMTBcdFractionSize = 64;

bool IsValidBcd(const TBcd& value) noexcept;
int BcdPrecision(const TBcd& value);
int BcdScale(const TBcd& value);
bool IsBcdNegative(const TBcd& value);

// Decimal text with "." as separator, optional sign and exponent ("-12.50", "1e-5"), blanks
// around ignored. More than 63 digits after the point are rounded half away from zero; more
// than 64 digits in all raise. StrToBcd raises EConvertError "'%s' is not a valid BCD value".
bool TryStrToBcd(std::string_view text, TBcd& value) noexcept;
TBcd StrToBcd(std::string_view text);
// "-12.50": the digits after the point as the value holds them, no exponent.
std::string BcdToStr(const TBcd& value);

// Not-finite doubles raise EConvertError.
TBcd DoubleToBcd(double value);
double BcdToDouble(const TBcd& value);
TBcd Int64ToBcd(int64_t value);
// Rounded half away from zero; a value outside int64 raises EConvertError.
int64_t BcdToInt64(const TBcd& value);
TBcd CurrToBcd(Currency value);
// Rounded to 4 places half away from zero; out of range raises EConvertError.
Currency BcdToCurr(const TBcd& value);

// -1, 0, 1 by value (1.50 equals 1.5).
int BcdCompare(const TBcd& a, const TBcd& b);

// Rounds value to `places` digits after the point (half away from zero) and checks that it fits
// `precision` digits; false when it does not.
bool NormalizeBcd(const TBcd& value, TBcd& result, int precision, int places);
