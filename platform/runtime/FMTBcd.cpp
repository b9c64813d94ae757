#include "platform/runtime/FMTBcd.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

// value = (Negative ? -1 : 1) * Digits * 10^-Places; Digits.size() >= Places.
struct Decimal {
  bool Negative = false;
  std::string Digits;
  int Places = 0;
};

bool IsZero(const Decimal& d) {
  return std::all_of(d.Digits.begin(), d.Digits.end(), [](char c) { return c == '0'; });
}

// Leading zeros of the integer part go; at least one digit stays; zero has no sign.
void Normalize(Decimal& d) {
  if (static_cast<int>(d.Digits.size()) < d.Places)
    d.Digits = std::string(static_cast<size_t>(d.Places) - d.Digits.size(), '0') + d.Digits;
  size_t intLen = d.Digits.size() - static_cast<size_t>(d.Places);
  size_t lead = 0;
  while (lead < intLen && d.Digits[lead] == '0') ++lead;
  d.Digits.erase(0, lead);
  if (d.Digits.empty()) d.Digits.push_back('0');
  if (IsZero(d)) d.Negative = false;
}

// Rounds half away from zero to at most `places` digits after the point.
void RoundTo(Decimal& d, int places) {
  if (d.Places <= places) return;
  size_t keep = d.Digits.size() - static_cast<size_t>(d.Places - places);
  bool up = d.Digits[keep] >= '5';
  d.Digits.erase(keep);
  d.Places = places;
  if (up) {
    size_t i = d.Digits.size();
    while (i > 0 && d.Digits[i - 1] == '9') d.Digits[--i] = '0';
    if (i == 0)
      d.Digits = '1' + d.Digits;
    else
      ++d.Digits[i - 1];
  }
  Normalize(d);
}

bool ParseExponent(std::string_view t, size_t& pos, int& exponent) {
  bool neg = false;
  if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) neg = t[pos++] == '-';
  size_t start = pos;
  exponent = 0;
  while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') {
    if (exponent > 1000) return false;
    exponent = exponent * 10 + (t[pos++] - '0');
  }
  if (neg) exponent = -exponent;
  return pos > start;
}

bool ParseDecimal(std::string_view t, Decimal& d) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  size_t pos = 0;
  d = Decimal{};
  if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) d.Negative = t[pos++] == '-';
  bool point = false;
  for (; pos < t.size(); ++pos) {
    char c = t[pos];
    if (c >= '0' && c <= '9') {
      if (d.Digits.size() > 4096) return false;
      d.Digits += c;
      if (point) ++d.Places;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (d.Digits.empty()) return false;
  if (pos < t.size() && (t[pos] == 'e' || t[pos] == 'E')) {
    int exponent;
    if (!ParseExponent(t, ++pos, exponent) || exponent > 200 || exponent < -200) return false;
    d.Places -= exponent;
    if (d.Places < 0) {
      d.Digits.append(static_cast<size_t>(-d.Places), '0');
      d.Places = 0;
    }
  }
  if (pos != t.size()) return false;
  Normalize(d);
  RoundTo(d, MaxFMTBcdFractionSize - 1);
  return d.Digits.size() <= MaxFMTBcdFractionSize;
}

TBcd ToBcd(const Decimal& d) {
  DA_ASSERT(!d.Digits.empty() && d.Digits.size() <= MaxFMTBcdFractionSize);
  TBcd r{};
  r.Precision = static_cast<uint8_t>(d.Digits.size());
  r.SignSpecialPlaces = static_cast<uint8_t>((d.Negative ? 0x80 : 0) | d.Places);
  for (size_t i = 0; i < d.Digits.size(); ++i) {
    auto nibble = static_cast<uint8_t>(d.Digits[i] - '0');
    r.Fraction[i / 2] |= static_cast<uint8_t>(i % 2 == 0 ? nibble << 4 : nibble);
  }
  return r;
}

Decimal FromBcd(const TBcd& b) {
  if (!IsValidBcd(b)) throw EConvertError("Invalid BCD value");
  Decimal d;
  d.Negative = (b.SignSpecialPlaces & 0x80) != 0;
  d.Places = b.SignSpecialPlaces & 0x3F;
  for (int i = 0; i < b.Precision; ++i) {
    uint8_t byte = b.Fraction[i / 2];
    d.Digits += static_cast<char>('0' + (i % 2 == 0 ? byte >> 4 : byte & 0x0F));
  }
  Normalize(d);
  return d;
}

std::string ToText(const Decimal& d) {
  std::string_view digits = d.Digits;
  size_t intLen = digits.size() - static_cast<size_t>(d.Places);
  std::string out = d.Negative ? "-" : "";
  out.append(intLen == 0 ? std::string_view("0") : digits.substr(0, intLen));
  if (d.Places > 0) {
    out += '.';
    out.append(digits.substr(intLen));
  }
  return out;
}

// Magnitude comparison of two normalized decimals.
int CompareMagnitude(const Decimal& a, const Decimal& b) {
  int places = std::max(a.Places, b.Places);
  std::string x = a.Digits + std::string(static_cast<size_t>(places - a.Places), '0');
  std::string y = b.Digits + std::string(static_cast<size_t>(places - b.Places), '0');
  auto strip = [](std::string& s) {
    size_t n = s.find_first_not_of('0');
    s.erase(0, n == std::string::npos ? s.size() : n);
  };
  strip(x);
  strip(y);
  if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
  int r = x.compare(y);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

// The rounded integer value; false when it does not fit int64.
bool ToInt64(Decimal d, int64_t& result) {
  RoundTo(d, 0);
  unsigned __int128 v = 0;
  for (char c : d.Digits) {
    v = v * 10 + static_cast<unsigned>(c - '0');
    if (v > static_cast<unsigned __int128>(INT64_MAX) + 1) return false;
  }
  if (!d.Negative && v > static_cast<unsigned __int128>(INT64_MAX)) return false;
  result = d.Negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(v)) : static_cast<int64_t>(v);
  return true;
}

}  // namespace

bool IsValidBcd(const TBcd& value) noexcept {
  int places = value.SignSpecialPlaces & 0x3F;
  if (value.Precision < 1 || value.Precision > MaxFMTBcdFractionSize || places > value.Precision)
    return false;
  if (value.SignSpecialPlaces & 0x40) return false;
  for (int i = 0; i < value.Precision; ++i) {
    uint8_t byte = value.Fraction[i / 2];
    if ((i % 2 == 0 ? byte >> 4 : byte & 0x0F) > 9) return false;
  }
  return true;
}

int BcdPrecision(const TBcd& value) {
  return static_cast<int>(FromBcd(value).Digits.size());
}
int BcdScale(const TBcd& value) {
  return FromBcd(value).Places;
}
bool IsBcdNegative(const TBcd& value) {
  return FromBcd(value).Negative;
}

bool TryStrToBcd(std::string_view text, TBcd& value) noexcept {
  Decimal d;
  if (!ParseDecimal(text, d)) return false;
  value = ToBcd(d);
  return true;
}

TBcd StrToBcd(std::string_view text) {
  TBcd r;
  if (!TryStrToBcd(text, r)) throw EConvertError(Format("'%s' is not a valid BCD value", {text}));
  return r;
}

std::string BcdToStr(const TBcd& value) {
  return ToText(FromBcd(value));
}

TBcd DoubleToBcd(double value) {
  if (!std::isfinite(value)) throw EConvertError("Invalid floating point value for BCD");
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return StrToBcd(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

double BcdToDouble(const TBcd& value) {
  std::string text = BcdToStr(value);
  double r = 0;
  std::from_chars(text.data(), text.data() + text.size(), r);
  return r;
}

TBcd Int64ToBcd(int64_t value) {
  return StrToBcd(IntToStr(value));
}

int64_t BcdToInt64(const TBcd& value) {
  int64_t r;
  if (!ToInt64(FromBcd(value), r)) throw EConvertError("BCD overflow");
  return r;
}

TBcd CurrToBcd(Currency value) {
  return StrToBcd(CurrToStr(value));
}

Currency BcdToCurr(const TBcd& value) {
  Decimal d = FromBcd(value);
  RoundTo(d, 4);
  d.Digits.append(static_cast<size_t>(4 - d.Places), '0');
  d.Places = 0;
  int64_t scaled;
  if (!ToInt64(d, scaled)) throw EConvertError("BCD overflow");
  return Currency::FromScaled(scaled);
}

int BcdCompare(const TBcd& a, const TBcd& b) {
  Decimal x = FromBcd(a), y = FromBcd(b);
  if (x.Negative != y.Negative) return x.Negative ? -1 : 1;
  int m = CompareMagnitude(x, y);
  return x.Negative ? -m : m;
}

bool NormalizeBcd(const TBcd& value, TBcd& result, int precision, int places) {
  if (precision < 1 || precision > MaxFMTBcdFractionSize || places < 0 || places > precision) return false;
  Decimal d = FromBcd(value);
  RoundTo(d, places);
  d.Digits.append(static_cast<size_t>(places - d.Places), '0');
  d.Places = places;
  size_t intLen = d.Digits.size() - static_cast<size_t>(places);
  if (intLen == 1 && d.Digits[0] == '0' && places > 0) {
    d.Digits.erase(0, 1);  // "0.50" keeps no integer digit
    intLen = 0;
  }
  if (intLen > static_cast<size_t>(precision - places)) return false;
  result = ToBcd(d);
  return true;
}
