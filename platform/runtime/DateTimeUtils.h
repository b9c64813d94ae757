// Date-time values: days since 1899-12-30 plus the fraction of the day.
//
// A negative value counts days before 1899-12-30 and its fraction is still the time of that day:
// -1.25 is 1899-12-29 06:00. Valid values lie between MinDateTime (0001-01-01) and the end of
// 9999-12-31. Text is always yyyy-mm-dd hh:nn:ss, independent of the locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using TDateTime = double;

constexpr int64_t MSecsPerDay = 86400000;
constexpr int32_t DateDelta = 693594;                // days from 0001-01-01 (day 1) to 1899-12-30
constexpr TDateTime MinDateTime = -693593.0;         // 0001-01-01 00:00
constexpr TDateTime MaxDateTime = 2958465.99999999;  // 9999-12-31 23:59:59.999
// The zero date 0000-00-00: day 0, the day before MinDateTime, which no routine here takes for a
// date. The record store keeps it as millisecond 0 and day 0.
constexpr TDateTime ZeroDateTime = MinDateTime - 1;

// Time: milliseconds since midnight; Date: days since 0001-01-01, that day counting as 1.
struct TTimeStamp {
  int32_t Time;
  int32_t Date;
};

bool IsLeapYear(int year) noexcept;
// 0 for a month outside 1..12.
int DaysInMonth(int year, int month) noexcept;

// The Try forms return false for out-of-range parts (year 1..9999, month 1..12, day within the
// month, hour < 24, min < 60, sec < 60, msec < 1000) and never raise. The others raise
// EConvertError "Invalid argument to date encode" / "Invalid argument to time encode".
bool TryEncodeDate(int year, int month, int day, TDateTime& date) noexcept;
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& time) noexcept;
// The time fraction is added to a non-negative date and subtracted from a negative one.
bool TryEncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec,
                       TDateTime& value) noexcept;
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);

// A value that is not finite or lies outside MinDateTime..MaxDateTime raises EConvertError
// "Invalid date-time value". Times are rounded to the nearest millisecond.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec);

// Raises EConvertError "'%d.%d' is not a valid timestamp" (Date, Time) unless Time >= 0 and
// Date > 0 (and Time is less than a day).
void ValidateTimeStamp(const TTimeStamp& ts);
// Out-of-range values raise as DecodeDate does.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
// Validates first; the fraction is subtracted for dates before 1899-12-30.
TDateTime TimeStampToDateTime(const TTimeStamp& ts);
// Milliseconds since 0000-12-31 (Date * MSecsPerDay + Time), as the record store keeps them.
inline double TimeStampToMSecs(const TTimeStamp& ts) noexcept {
  return static_cast<double>(ts.Date) * MSecsPerDay + ts.Time;
}
// Rounded to the millisecond. Raises EConvertError "Invalid date-time value" for a value that is
// not finite or does not round to a positive count before 10000-01-01.
TTimeStamp MSecsToTimeStamp(double msecs);
// TimeStampToMSecs(DateTimeToTimeStamp(value)) and TimeStampToDateTime(MSecsToTimeStamp(msecs)),
// each in one step with the same result and errors: the record store converts every date-time
// field it reads or writes.
double MSecsOfDateTime(TDateTime value);
TDateTime DateTimeOfMSecs(double msecs);

// "yyyy-mm-dd hh:nn:ss"; the time is left out when it is midnight (as the platform does).
std::string DateTimeToStr(TDateTime value);
std::string DateToStr(TDateTime value);  // "yyyy-mm-dd"
std::string TimeToStr(TDateTime value);  // "hh:nn:ss"

// Format patterns: yyyy yy m mm d dd h hh n nn s ss z zzz (any case; "m"/"mm" right after an
// hour means minutes), text in single or double quotes copied as it is, other characters too.
std::string FormatDateTime(std::string_view format, TDateTime value);

// Accept "yyyy-mm-dd", "hh:nn[:ss[.zzz]]" and "yyyy-mm-dd hh:nn[:ss[.zzz]]" (blanks around are
// ignored); StrToDateTime raises EConvertError "'%s' is not a valid date and time".
bool TryStrToDateTime(std::string_view text, TDateTime& value) noexcept;
TDateTime StrToDateTime(std::string_view text);

// ---- Microsecond values ------------------------------------------------------------------------
// Date-times and times with fractional seconds, held exactly as 64-bit microsecond counts.
// A date-time is day * USecsPerDay + microseconds of the day, the day counting 0001-01-01 as 1
// (as TTimeStamp.Date); the value 0 is the zero date "0000-00-00 00:00:00" and orders before every
// real date. A time is a signed duration in microseconds (hours may exceed 24).

constexpr int64_t USecsPerDay = MSecsPerDay * 1000;
constexpr int64_t DateTimeUsZero = 0;
constexpr int MaxFractionDigits = 6;

// False for parts out of range (as TryEncodeDateTime; usec < 1,000,000).
bool TryEncodeDateTimeUs(int year, int month, int day, int hour, int min, int sec, int usec,
                         int64_t& value) noexcept;
// The parts of a date-time value; the zero date gives all parts 0. EConvertError "Invalid
// date-time value" for a value between the zero date and 0001-01-01 or after 9999-12-31.
void DecodeDateTimeUs(int64_t value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                      int& usec);
// "yyyy-mm-dd hh:nn:ss", then "." and `scale` fraction digits when scale is 1..6 (the fraction
// is cut, never rounded: a value read from a column of that scale has no more digits). The zero
// date is "0000-00-00 00:00:00". Errors as DecodeDateTimeUs.
std::string DateTimeUsToStr(int64_t value, int scale);
// "yyyy-mm-dd", "yyyy-mm-dd hh:nn[:ss[.f...]]" (1 to 6 fraction digits; blanks around are
// ignored; "T" may stand for the blank) and the zero date "0000-00-00[ 00:00:00[.0...]]". False
// for anything else.
bool TryStrToDateTimeUs(std::string_view text, int64_t& value) noexcept;
// The same for a platform date-time (to the millisecond); EConvertError for an invalid one.
int64_t DateTimeToDateTimeUs(TDateTime value);
// The nearest millisecond; EConvertError for the zero date.
TDateTime DateTimeUsToDateTime(int64_t value);

// "[-]hh:nn:ss" (at least two hour digits), then "." and `scale` digits when scale is 1..6.
std::string TimeUsToStr(int64_t value, int scale);
// "[-]h...:nn[:ss[.f...]]" with minutes and seconds below 60 and at most 6 fraction digits;
// false for anything else or a magnitude of 10^6 hours or more.
bool TryStrToTimeUs(std::string_view text, int64_t& value) noexcept;

// The current local date-time.
TDateTime Now();
