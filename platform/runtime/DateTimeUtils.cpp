#include "platform/runtime/DateTimeUtils.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <ctime>

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

constexpr int32_t MaxDayNumber = 3652059;  // 9999-12-31

// Day number counting 0001-01-01 as 1 (proleptic Gregorian calendar).
int32_t DayNumber(int year, int month, int day) noexcept {
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<int32_t>(era * 146097 + doe - 719468 + 719163);
}

// Valid days in 32-bit unsigned steps: divisions by constants become multiplications, and the
// year, month and day each come from one product (days counted from a March 1 far enough back
// that every count is positive; a year of the count starts in March, so that the leap day ends it).
void CivilFromValidDayNumber(uint32_t dayNumber, int& year, int& month, int& day) noexcept {
  constexpr uint32_t kEras = 2;                          // 800 years before 0001-03-01
  constexpr uint32_t kShift = 306 + kEras * 146097 - 1;  // 0001-01-01 is day 306 of the year from 0000-03-01
  const uint32_t n = 4 * (dayNumber + kShift) + 3;
  const uint32_t century = n / 146097;
  const uint32_t ofCentury = n % 146097 / 4;  // days into the century
  const uint64_t p = uint64_t{2939745} * (4 * ofCentury + 3);
  const auto yearOfCentury = static_cast<uint32_t>(p >> 32);
  const uint32_t dayOfYear = static_cast<uint32_t>(p) / 2939745 / 4;  // 0 is March 1
  const uint32_t m = 2141 * dayOfYear + 197913;
  const bool january = dayOfYear >= 306;  // January or February: the next calendar year
  year = static_cast<int>(100 * century + yearOfCentury + (january ? 1 : 0)) - static_cast<int>(kEras * 400);
  month = static_cast<int>(january ? (m >> 16) - 12 : m >> 16);
  day = static_cast<int>((m & 0xFFFF) / 2141 + 1);
}

void CivilFromDayNumber(int32_t dayNumber, int& year, int& month, int& day) noexcept {
  if (dayNumber >= 1 && dayNumber <= MaxDayNumber)
    return CivilFromValidDayNumber(static_cast<uint32_t>(dayNumber), year, month, day);
  int64_t z = static_cast<int64_t>(dayNumber) - 719163 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

// std::llround for 0 <= x < 2^63, without the library call: the fraction of a double is exact.
int64_t RoundHalfUp(double x) noexcept {
  const auto whole = static_cast<int64_t>(x);
  return whole + (x - static_cast<double>(whole) >= 0.5 ? 1 : 0);
}

// Day number and milliseconds of the day of a value; the time is rounded to the millisecond,
// carrying into the next day, but never past 9999-12-31.
TTimeStamp Split(TDateTime value) {
  if (!std::isfinite(value) || value <= MinDateTime - 1 || value >= MaxDayNumber - DateDelta + 1)
    throw EConvertError("Invalid date-time value");
  double whole = std::trunc(value);
  int64_t ms = RoundHalfUp(std::fabs(value - whole) * MSecsPerDay);
  auto date = static_cast<int32_t>(whole) + DateDelta;
  if (ms >= MSecsPerDay) {
    if (date < MaxDayNumber) {
      ++date;  // one day later in time, for negative values too
      ms = 0;
    } else {
      ms = MSecsPerDay - 1;
    }
  }
  return TTimeStamp{static_cast<int32_t>(ms), date};
}

void Append2(std::string& out, int v) {
  out += static_cast<char>('0' + v / 10 % 10);
  out += static_cast<char>('0' + v % 10);
}

void AppendN(std::string& out, int v, int digits) {
  std::string s = std::to_string(v);
  if (static_cast<int>(s.size()) < digits) out.append(static_cast<size_t>(digits) - s.size(), '0');
  out += s;
}

}  // namespace

bool IsLeapYear(int year) noexcept {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) noexcept {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  date = DayNumber(year, month, day) - DateDelta;
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& time) noexcept {
  if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 || msec >= 1000)
    return false;
  time = static_cast<double>(((hour * 60 + min) * 60 + sec) * 1000 + msec) / MSecsPerDay;
  return true;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec,
                       TDateTime& value) noexcept {
  TDateTime date, time;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, min, sec, msec, time)) return false;
  value = date >= 0 ? date + time : date - time;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime r;
  if (!TryEncodeTime(hour, min, sec, msec, r)) throw EConvertError("Invalid argument to time encode");
  return r;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  TDateTime date = EncodeDate(year, month, day);
  TDateTime time = EncodeTime(hour, min, sec, msec);
  return date >= 0 ? date + time : date - time;
}

namespace {

void TimeParts(int32_t ms, int& hour, int& min, int& sec, int& msec) noexcept {
  msec = ms % 1000;
  sec = ms / 1000 % 60;
  min = ms / 60000 % 60;
  hour = ms / 3600000;
}

}  // namespace

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  CivilFromDayNumber(Split(value).Date, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
  TimeParts(Split(value).Time, hour, min, sec, msec);
}

// One split serves both halves: the day and the time of the day come from the same rounding.
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec) {
  const TTimeStamp ts = Split(value);
  CivilFromDayNumber(ts.Date, year, month, day);
  TimeParts(ts.Time, hour, min, sec, msec);
}

void ValidateTimeStamp(const TTimeStamp& ts) {
  if (ts.Time < 0 || ts.Time >= MSecsPerDay || ts.Date <= 0)
    throw EConvertError(Format("'%d.%d' is not a valid timestamp", {ts.Date, ts.Time}));
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  return Split(value);
}

TDateTime TimeStampToDateTime(const TTimeStamp& ts) {
  ValidateTimeStamp(ts);
  double d = static_cast<double>(ts.Date) - DateDelta;
  double t = static_cast<double>(ts.Time) / MSecsPerDay;
  return d >= 0 ? d + t : d - t;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  // The rounded value is the one that must be in range (0.5 rounds up, away from zero).
  if (!std::isfinite(msecs) || msecs < 0.5 || msecs >= (MaxDayNumber + 1.0) * MSecsPerDay - 0.5)
    throw EConvertError("Invalid date-time value");
  const int64_t ms = RoundHalfUp(msecs);
  return TTimeStamp{static_cast<int32_t>(ms % MSecsPerDay), static_cast<int32_t>(ms / MSecsPerDay)};
}

namespace {

// MSecsOfDateTime for a value from one day after 1899-12-30 up to the last day, from its bits
// alone: the value is its 53-bit mantissa scaled by a power of two, so its fraction of the day,
// taken as 64 fraction bits, is exact, and one integer product gives the milliseconds without
// converting back and forth. The double steps round that product to 53 bits before rounding it to
// the millisecond, which moves it by at most 2^37 of these units: the result can differ only
// when the product lies that close to a half millisecond, and then false leaves the value to them.
bool MSecsFromBits(uint64_t bits, int64_t& msecs) noexcept {
  constexpr uint64_t kOne = std::bit_cast<uint64_t>(1.0);
  constexpr uint64_t kEnd = std::bit_cast<uint64_t>(static_cast<double>(MaxDayNumber - DateDelta));
  if (bits - kOne >= kEnd - kOne) return false;               // also catches negative values and NaNs
  const int wholeBits = static_cast<int>(bits >> 52) - 1011;  // 12..33: 12 + the exponent
  const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const uint64_t fraction = mantissa << wholeBits;  // the whole days leave at the top
  const unsigned __int128 product = static_cast<unsigned __int128>(fraction) * MSecsPerDay;
  const auto low = static_cast<uint64_t>(product);
  constexpr uint64_t kHalf = uint64_t{1} << 63, kMargin = uint64_t{1} << 38;
  if (low + kHalf + kMargin < 2 * kMargin) return false;
  auto ms = static_cast<int64_t>(static_cast<uint64_t>(product >> 64) + (low >> 63));  // half up
  int64_t date = static_cast<int64_t>(mantissa >> (64 - wholeBits)) + DateDelta;
  if (ms >= MSecsPerDay) {  // rounded up to the next midnight
    ++date;
    ms = 0;
  }
  msecs = date * MSecsPerDay + ms;
  return true;
}

// The values MSecsFromBits leaves. Out of line, so that the others need no stack frame.
[[gnu::noinline]] double MSecsOfOtherDateTime(TDateTime value) {
  // Days from 1899-12-30 on, short of the last: Split's steps without its checks and signs.
  if (value >= 0 && value < MaxDayNumber - DateDelta) {
    const auto days = static_cast<int64_t>(value);
    int64_t ms = RoundHalfUp((value - static_cast<double>(days)) * MSecsPerDay);
    int64_t date = days + DateDelta;
    if (ms >= MSecsPerDay) {  // rounded up to the next midnight
      ++date;
      ms = 0;
    }
    return static_cast<double>(date) * MSecsPerDay + static_cast<double>(ms);
  }
  return TimeStampToMSecs(Split(value));
}

}  // namespace

double MSecsOfDateTime(TDateTime value) {
  if (int64_t msecs; MSecsFromBits(std::bit_cast<uint64_t>(value), msecs)) return static_cast<double>(msecs);
  return MSecsOfOtherDateTime(value);
}

TDateTime DateTimeOfMSecs(double msecs) {
  const TTimeStamp ts = MSecsToTimeStamp(msecs);
  // The time is within the day already; only the day can be out of range (a count below a day).
  if (ts.Date <= 0) ValidateTimeStamp(ts);
  const double d = static_cast<double>(ts.Date) - DateDelta;
  const double t = static_cast<double>(ts.Time) / MSecsPerDay;
  return d >= 0 ? d + t : d - t;
}

std::string DateToStr(TDateTime value) {
  return FormatDateTime("yyyy-mm-dd", value);
}
std::string TimeToStr(TDateTime value) {
  return FormatDateTime("hh:nn:ss", value);
}

std::string DateTimeToStr(TDateTime value) {
  return Split(value).Time == 0 ? DateToStr(value) : FormatDateTime("yyyy-mm-dd hh:nn:ss", value);
}

namespace {

// Length of the run of c (any case) starting at i.
size_t RunLength(std::string_view f, size_t i) {
  char c = static_cast<char>(std::tolower(static_cast<unsigned char>(f[i])));
  size_t n = 0;
  while (i + n < f.size() && std::tolower(static_cast<unsigned char>(f[i + n])) == c) ++n;
  return n;
}

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  std::string out;
  bool afterHour = false;
  size_t i = 0;
  while (i < format.size()) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(format[i])));
    if (c == '\'' || c == '"') {
      size_t end = format.find(format[i], i + 1);
      if (end == std::string_view::npos) end = format.size();
      out += format.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    size_t run = std::string_view("ymdhnsz").find(c) != std::string_view::npos ? RunLength(format, i) : 1;
    switch (c) {
      case 'y':
        run >= 3 ? AppendN(out, y, 4) : Append2(out, y % 100);
        break;
      case 'm':
        if (afterHour)
          run >= 2 ? Append2(out, mi) : AppendN(out, mi, 1);
        else
          run >= 2 ? Append2(out, mo) : AppendN(out, mo, 1);
        break;
      case 'd':
        run >= 2 ? Append2(out, d) : AppendN(out, d, 1);
        break;
      case 'h':
        run >= 2 ? Append2(out, h) : AppendN(out, h, 1);
        break;
      case 'n':
        run >= 2 ? Append2(out, mi) : AppendN(out, mi, 1);
        break;
      case 's':
        run >= 2 ? Append2(out, s) : AppendN(out, s, 1);
        break;
      case 'z':
        run >= 3 ? AppendN(out, ms, 3) : AppendN(out, ms, 1);
        break;
      default:
        out += format[i];
        break;
    }
    if (c == 'h')
      afterHour = true;
    else if (std::isalpha(static_cast<unsigned char>(c)))
      afterHour = false;
    i += run;
  }
  return out;
}

namespace {

// Reads 1..maxDigits digits at pos into v.
bool ReadNumber(std::string_view t, size_t& pos, size_t maxDigits, int& v) {
  size_t start = pos;
  v = 0;
  while (pos < t.size() && pos - start < maxDigits && t[pos] >= '0' && t[pos] <= '9')
    v = v * 10 + (t[pos++] - '0');
  return pos > start;
}

bool ParseDate(std::string_view t, size_t& pos, TDateTime& date) {
  int y, m, d;
  if (!ReadNumber(t, pos, 4, y) || pos >= t.size() || t[pos++] != '-') return false;
  if (!ReadNumber(t, pos, 2, m) || pos >= t.size() || t[pos++] != '-') return false;
  return ReadNumber(t, pos, 2, d) && TryEncodeDate(y, m, d, date);
}

bool ParseTime(std::string_view t, size_t& pos, TDateTime& time) {
  int h, n, s = 0, ms = 0;
  if (!ReadNumber(t, pos, 2, h) || pos >= t.size() || t[pos++] != ':') return false;
  if (!ReadNumber(t, pos, 2, n)) return false;
  if (pos < t.size() && t[pos] == ':') {
    ++pos;
    if (!ReadNumber(t, pos, 2, s)) return false;
    if (pos < t.size() && t[pos] == '.') {
      ++pos;
      size_t start = pos;
      int digits;
      if (!ReadNumber(t, pos, 3, digits)) return false;
      for (size_t k = pos - start; k < 3; ++k) digits *= 10;
      ms = digits;
      int ignored;
      ReadNumber(t, pos, 6, ignored);  // finer fractions are cut to the millisecond
    }
  }
  return TryEncodeTime(h, n, s, ms, time);
}

}  // namespace

bool TryStrToDateTime(std::string_view text, TDateTime& value) noexcept {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  size_t pos = 0;
  TDateTime date = 0, time = 0;
  bool hasDate = text.find('-') != std::string_view::npos;
  if (hasDate) {
    if (!ParseDate(text, pos, date)) return false;
    if (pos < text.size()) {
      if (text[pos] != ' ') return false;
      while (pos < text.size() && text[pos] == ' ') ++pos;
      if (!ParseTime(text, pos, time)) return false;
    }
  } else if (!ParseTime(text, pos, time)) {
    return false;
  }
  if (pos != text.size()) return false;
  value = date >= 0 ? date + time : date - time;
  return true;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime r;
  if (!TryStrToDateTime(text, r)) throw EConvertError(Format("'%s' is not a valid date and time", {text}));
  return r;
}

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec > 59 ? 59 : local.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

// ---- Microsecond values -------------------------------------------------------------------------

bool TryEncodeDateTimeUs(int year, int month, int day, int hour, int min, int sec, int usec,
                         int64_t& value) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || usec < 0 || usec > 999999)
    return false;
  const int64_t secs = int64_t{hour} * 3600 + min * 60 + sec;
  value = int64_t{DayNumber(year, month, day)} * USecsPerDay + secs * 1000000 + usec;
  return true;
}

void DecodeDateTimeUs(int64_t value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                      int& usec) {
  if (value == DateTimeUsZero) {
    year = month = day = hour = min = sec = usec = 0;
    return;
  }
  if (value < USecsPerDay || value / USecsPerDay > MaxDayNumber)
    throw EConvertError("Invalid date-time value");
  CivilFromDayNumber(static_cast<int32_t>(value / USecsPerDay), year, month, day);
  const int64_t us = value % USecsPerDay;
  hour = static_cast<int>(us / 3600000000);
  min = static_cast<int>(us / 60000000 % 60);
  sec = static_cast<int>(us / 1000000 % 60);
  usec = static_cast<int>(us % 1000000);
}

namespace {

void AppendFraction(std::string& out, int usec, int scale) {
  if (scale < 1) return;
  std::string digits;
  AppendN(digits, usec, MaxFractionDigits);
  out += '.';
  out += digits.substr(0, static_cast<size_t>(std::min(scale, MaxFractionDigits)));
}

// ".f..." at pos: 1 to 6 digits, scaled to microseconds. No fraction leaves usec 0.
bool ReadFraction(std::string_view t, size_t& pos, int& usec) {
  usec = 0;
  if (pos >= t.size() || t[pos] != '.') return true;
  ++pos;
  int digits = 0;
  while (pos < t.size() && std::isdigit(static_cast<unsigned char>(t[pos]))) {
    if (++digits > MaxFractionDigits) return false;
    usec = usec * 10 + (t[pos++] - '0');
  }
  if (digits == 0) return false;
  for (int i = digits; i < MaxFractionDigits; ++i) usec *= 10;
  return true;
}

std::string_view TrimBlanks(std::string_view t) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  return t;
}

}  // namespace

std::string DateTimeUsToStr(int64_t value, int scale) {
  int y, mo, d, h, mi, s, us;
  DecodeDateTimeUs(value, y, mo, d, h, mi, s, us);
  std::string out;
  AppendN(out, y, 4);
  out += '-';
  Append2(out, mo);
  out += '-';
  Append2(out, d);
  out += ' ';
  Append2(out, h);
  out += ':';
  Append2(out, mi);
  out += ':';
  Append2(out, s);
  AppendFraction(out, us, scale);
  return out;
}

bool TryStrToDateTimeUs(std::string_view text, int64_t& value) noexcept {
  const std::string_view t = TrimBlanks(text);
  size_t pos = 0;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, us = 0;
  if (!ReadNumber(t, pos, 4, y) || pos != 4 || pos >= t.size() || t[pos++] != '-') return false;
  if (!ReadNumber(t, pos, 2, mo) || pos >= t.size() || t[pos++] != '-' || !ReadNumber(t, pos, 2, d))
    return false;
  if (pos < t.size()) {
    if (t[pos] != ' ' && t[pos] != 'T') return false;
    ++pos;
    if (!ReadNumber(t, pos, 2, h) || pos >= t.size() || t[pos++] != ':' || !ReadNumber(t, pos, 2, mi))
      return false;
    if (pos < t.size() && t[pos] == ':') {
      ++pos;
      if (!ReadNumber(t, pos, 2, s) || !ReadFraction(t, pos, us)) return false;
    }
    if (pos != t.size()) return false;
  }
  if (y == 0 && mo == 0 && d == 0 && h == 0 && mi == 0 && s == 0 && us == 0) {
    value = DateTimeUsZero;
    return true;
  }
  return TryEncodeDateTimeUs(y, mo, d, h, mi, s, us, value);
}

int64_t DateTimeToDateTimeUs(TDateTime value) {
  const TTimeStamp ts = Split(value);
  return int64_t{ts.Date} * USecsPerDay + int64_t{ts.Time} * 1000;
}

TDateTime DateTimeUsToDateTime(int64_t value) {
  if (value < USecsPerDay || value / USecsPerDay > MaxDayNumber)
    throw EConvertError("Invalid date-time value");
  const int64_t ms = (value + 500) / 1000;
  return TimeStampToDateTime(
      TTimeStamp{static_cast<int32_t>(ms % MSecsPerDay), static_cast<int32_t>(ms / MSecsPerDay)});
}

std::string TimeUsToStr(int64_t value, int scale) {
  const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const uint64_t secs = magnitude / 1000000;
  std::string out = value < 0 ? "-" : "";
  const std::string hours = std::to_string(secs / 3600);
  if (hours.size() < 2) out += '0';
  out += hours;
  out += ':';
  Append2(out, static_cast<int>(secs / 60 % 60));
  out += ':';
  Append2(out, static_cast<int>(secs % 60));
  AppendFraction(out, static_cast<int>(magnitude % 1000000), scale);
  return out;
}

bool TryStrToTimeUs(std::string_view text, int64_t& value) noexcept {
  const std::string_view t = TrimBlanks(text);
  size_t pos = 0;
  const bool negative = !t.empty() && t[0] == '-';
  if (negative) ++pos;
  int h = 0, mi = 0, s = 0, us = 0;
  if (!ReadNumber(t, pos, 6, h) || pos >= t.size() || t[pos++] != ':' || !ReadNumber(t, pos, 2, mi))
    return false;
  if (pos < t.size() && t[pos] == ':') {
    ++pos;
    if (!ReadNumber(t, pos, 2, s) || !ReadFraction(t, pos, us)) return false;
  }
  if (pos != t.size() || mi > 59 || s > 59) return false;
  const int64_t magnitude = (int64_t{h} * 3600 + mi * 60 + s) * 1000000 + us;
  value = negative ? -magnitude : magnitude;
  return true;
}
