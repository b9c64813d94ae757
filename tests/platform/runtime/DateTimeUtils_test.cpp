#include "platform/runtime/DateTimeUtils.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <iomanip>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/runtime/Exceptions.h"

namespace {

TEST(DateTimeTest, EncodeDecodeRoundTrips) {
  struct Case {
    int y, m, d, h, n, s, ms;
    double want;  // NAN: only the round trip is checked
  };
  const Case cases[] = {
      {1899, 12, 30, 0, 0, 0, 0, 0.0},      {1899, 12, 30, 12, 0, 0, 0, 0.5},
      {1899, 12, 29, 12, 0, 0, 0, -1.5},  // before the epoch the fraction is subtracted
      {1899, 12, 29, 6, 0, 0, 0, -1.25},    {1900, 1, 1, 0, 0, 0, 0, 2.0},
      {2000, 2, 29, 18, 0, 0, 0, 36585.75}, {1, 1, 1, 0, 0, 0, 0, -693593.0},
      {1, 1, 1, 23, 59, 59, 999, NAN},      {1600, 3, 1, 8, 30, 15, 250, NAN},
      {9999, 12, 31, 23, 59, 59, 999, NAN}, {2024, 12, 31, 0, 0, 1, 0, NAN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.y << "-" << c.m << "-" << c.d << " " << c.h << ":" << c.n << ":"
                                    << c.s << "." << c.ms);
    TDateTime v = 0;
    ASSERT_TRUE(TryEncodeDateTime(c.y, c.m, c.d, c.h, c.n, c.s, c.ms, v));
    if (!std::isnan(c.want)) {
      EXPECT_DOUBLE_EQ(v, c.want);
    }
    int y, m, d, h, n, s, ms;
    DecodeDateTime(v, y, m, d, h, n, s, ms);
    EXPECT_EQ((std::array{y, m, d, h, n, s, ms}), (std::array{c.y, c.m, c.d, c.h, c.n, c.s, c.ms}));
    TTimeStamp ts = DateTimeToTimeStamp(v);
    EXPECT_EQ(TimeStampToDateTime(ts), v);
  }
}

// Every day from 0001-01-01 to 9999-12-31 decodes to the calendar day after the one before it.
TEST(DateTimeTest, EveryDayDecodesInCalendarOrder) {
  int y = 1, m = 1, d = 1;
  for (TDateTime value = MinDateTime; value < MaxDateTime; value += 1) {
    int gy, gm, gd;
    DecodeDate(value, gy, gm, gd);
    ASSERT_EQ((std::array{gy, gm, gd}), (std::array{y, m, d})) << value;
    if (++d > DaysInMonth(y, m)) {
      d = 1;
      if (++m > 12) m = 1, ++y;
    }
  }
  EXPECT_EQ(y, 10000);
}

TEST(DateTimeTest, InvalidPartsAreRefused) {
  struct Case {
    const char* name;
    int y, m, d;
  };
  const Case dates[] = {
      {"1900 is no leap year", 1900, 2, 29},
      {"year 0", 0, 1, 1},
      {"year 10000", 10000, 1, 1},
      {"month 13", 2000, 13, 1},
      {"day 0", 2000, 1, 0},
      {"April 31", 2001, 4, 31},
      {"2100 is no leap year", 2100, 2, 29},
      {"month 0", 2000, 0, 10},
  };
  for (const auto& c : dates) {
    SCOPED_TRACE(c.name);
    TDateTime v = 123;
    EXPECT_FALSE(TryEncodeDate(c.y, c.m, c.d, v));
    EXPECT_EQ(v, 123);  // untouched
    EXPECT_THROW(EncodeDate(c.y, c.m, c.d), EConvertError);
  }
  TDateTime v;
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, v));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, v));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, v));
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
}

TEST(DateTimeTest, TimeStampsAndValidation) {
  TTimeStamp half{43200000, 693594};
  EXPECT_EQ(TimeStampToDateTime(half), 0.5);
  EXPECT_EQ(TimeStampToDateTime(TTimeStamp{21600000, 693593}), -1.25);
  try {
    TimeStampToDateTime(TTimeStamp{5, 0});
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'0.5' is not a valid timestamp");
  }
  EXPECT_THROW(ValidateTimeStamp(TTimeStamp{-1, 10}), EConvertError);
  EXPECT_THROW(ValidateTimeStamp(TTimeStamp{86400000, 10}), EConvertError);
  TTimeStamp ts = DateTimeToTimeStamp(-1.25);
  EXPECT_EQ(ts.Date, 693593);
  EXPECT_EQ(ts.Time, 21600000);
  EXPECT_EQ(TimeStampToMSecs(TTimeStamp{1000, 1}), 86401000.0);
  TTimeStamp back = MSecsToTimeStamp(86401000.0);
  EXPECT_EQ(back.Date, 1);
  EXPECT_EQ(back.Time, 1000);
  EXPECT_THROW(MSecsToTimeStamp(-5), EConvertError);
  // Values that round outside the range raise rather than give day 0 or 10000-01-01.
  for (double bad : {0.3, 3652060.0 * MSecsPerDay - 0.5}) EXPECT_THROW(MSecsToTimeStamp(bad), EConvertError);
  EXPECT_EQ(MSecsToTimeStamp(3652060.0 * MSecsPerDay - 0.6).Date, 3652059);
  // Milliseconds round half away from zero (std::llround), a fraction just below a half down.
  const double halves[] = {86400000.5, 86400001.5, std::nextafter(86400000.5, 0.0), 3.1e14 + 0.5,
                           3.1e14 + 0.25};
  for (double msecs : halves) {
    SCOPED_TRACE(msecs);
    const TTimeStamp r = MSecsToTimeStamp(msecs);
    EXPECT_EQ(static_cast<int64_t>(r.Date) * MSecsPerDay + r.Time, std::llround(msecs));
  }
}

// The record store's one-step conversions give what the two steps give, bit for bit, and raise
// where they raise: around midnight, the epoch, the first and last days, and at the edges of the
// range.
TEST(DateTimeTest, OneStepMillisecondFormsMatchTheTimeStampSteps) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const TDateTime values[] = {0.0,
                              0.5,
                              1.0 - 1e-10,
                              1.0 - 6e-9,
                              45000.0 + 12345 / 86400.0,
                              45000.999999999,
                              -1.25,
                              -2.0 + 1e-10,
                              MinDateTime,
                              MinDateTime - 0.5,
                              2958464.0,
                              2958465.5,
                              MaxDateTime,
                              2958465.9999999999,
                              2958466.0,
                              -693594.0,
                              nan,
                              std::numeric_limits<double>::infinity(),
                              1e300,
                              -1e300};
  for (TDateTime value : values) {
    SCOPED_TRACE(testing::Message() << std::setprecision(17) << value);
    double twoSteps = 0;
    bool raises = false;
    try {
      twoSteps = TimeStampToMSecs(DateTimeToTimeStamp(value));
    } catch (const EConvertError&) {
      raises = true;
    }
    if (raises) {
      EXPECT_THROW(MSecsOfDateTime(value), EConvertError);
    } else {
      EXPECT_EQ(std::bit_cast<uint64_t>(MSecsOfDateTime(value)), std::bit_cast<uint64_t>(twoSteps));
    }
  }
  const double msecs[] = {1.0,
                          0.5,
                          0.3,
                          86399999.4,
                          86400000.0,
                          86400000.5,
                          693594.0 * MSecsPerDay,
                          693594.0 * MSecsPerDay - 0.5,
                          (45000.0 + 693594) * MSecsPerDay + 12345678.5,
                          3652059.0 * MSecsPerDay + 86399999.0,
                          3652060.0 * MSecsPerDay - 0.5,
                          -5.0,
                          nan};
  for (double ms : msecs) {
    SCOPED_TRACE(testing::Message() << std::setprecision(17) << ms);
    TDateTime twoSteps = 0;
    std::string error;
    try {
      twoSteps = TimeStampToDateTime(MSecsToTimeStamp(ms));
    } catch (const EConvertError& e) {
      error = e.what();
    }
    if (!error.empty()) {
      try {
        DateTimeOfMSecs(ms);
        ADD_FAILURE() << "no exception";
      } catch (const EConvertError& e) {
        EXPECT_EQ(e.what(), error);
      }
    } else {
      EXPECT_EQ(std::bit_cast<uint64_t>(DateTimeOfMSecs(ms)), std::bit_cast<uint64_t>(twoSteps));
    }
  }
}

// MSecsOfDateTime reads most values from their bits; it must still give the two steps' result bit
// for bit. Dense over the days where the scale of the fraction changes (each power of two) and
// typical ones: stored times of whole milliseconds, the half milliseconds between them where the
// rounding is decided, and their neighbouring doubles; then random values over the whole range.
TEST(DateTimeTest, MillisecondsOfStoredValuesMatchTheTimeStampStepsDensely) {
  std::vector<TDateTime> values;
  const int32_t days[] = {1,     2,     3,       1023,    1024,    45000,   45363,
                          65535, 65536, 1048575, 1048576, 2097151, 2097152, 2958464};
  for (int32_t day : days)
    for (int64_t ms = 0; ms < MSecsPerDay; ms += 7919) {
      for (double t : {static_cast<double>(ms), ms + 0.5}) {
        double v = day + t / MSecsPerDay;
        for (int i = 0; i < 3; ++i) v = std::nextafter(v, 0.0);
        for (int i = 0; i < 7; ++i, v = std::nextafter(v, 1e7)) values.push_back(v);
      }
    }
  std::mt19937_64 rng(51);
  std::uniform_int_distribution<uint64_t> bits(std::bit_cast<uint64_t>(1.0),
                                               std::bit_cast<uint64_t>(2958465.0));
  for (int i = 0; i < 200000; ++i) values.push_back(std::bit_cast<double>(bits(rng)));
  int mismatches = 0;
  for (TDateTime value : values) {
    const double twoSteps = TimeStampToMSecs(DateTimeToTimeStamp(value));
    if (std::bit_cast<uint64_t>(MSecsOfDateTime(value)) != std::bit_cast<uint64_t>(twoSteps) &&
        ++mismatches <= 5)
      ADD_FAILURE() << std::setprecision(17) << value << ": " << MSecsOfDateTime(value) << " against "
                    << twoSteps;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(DateTimeTest, RoundingCarriesIntoTheNextDayAndBadValuesRaise) {
  int h, n, s, ms, y, m, d;
  TDateTime almost = 1.0 - 1e-10;  // rounds to 24:00 of day 0, which is 00:00 of day 1
  DecodeDateTime(almost, y, m, d, h, n, s, ms);
  EXPECT_EQ((std::array{y, m, d, h, n, s, ms}), (std::array{1899, 12, 31, 0, 0, 0, 0}));
  DecodeDateTime(-2.0 + 1e-10, y, m, d, h, n, s, ms);  // 23:59:59.99999 of 1899-12-29
  EXPECT_EQ((std::array{y, m, d, h, n, s, ms}), (std::array{1899, 12, 30, 0, 0, 0, 0}));
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -693594.0, 2958466.0, 1e300}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(DecodeDate(bad, y, m, d), EConvertError);
    EXPECT_THROW(DateTimeToTimeStamp(bad), EConvertError);
  }
}

TEST(DateTimeTest, Text) {
  TDateTime v = EncodeDateTime(2024, 3, 5, 7, 8, 9, 10);
  EXPECT_EQ(DateTimeToStr(v), "2024-03-05 07:08:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5)), "2024-03-05");
  EXPECT_EQ(DateToStr(v), "2024-03-05");
  EXPECT_EQ(TimeToStr(v), "07:08:09");
  EXPECT_EQ(FormatDateTime("YYYYMMDDHHmmss", v), "20240305070809");
  EXPECT_EQ(FormatDateTime("yymmddhhmmss", v), "240305070809");
  EXPECT_EQ(FormatDateTime("d/m/yyyy h:n:s.zzz 'at' \"mm\"", v), "5/3/2024 7:8:9.010 at mm");

  struct Case {
    const char* text;
    bool ok;
    double want;
  };
  const Case cases[] = {
      {"1899-12-30", true, 0.0},
      {" 1899-12-30 12:00 ", true, 0.5},
      {"1899-12-29 06:00:00", true, -1.25},
      {"12:00:00", true, 0.5},
      {"1899-12-30 00:00:00.5", true, 500.0 / 86400000},
      {"1899-12-30 00:00:00.123456", true, 123.0 / 86400000},
      {"1900-02-29", false, 0},
      {"2024-03-05x", false, 0},
      {"2024-03-05 25:00:00", false, 0},
      {"", false, 0},
      {"abc", false, 0},
      {"2024--05", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TDateTime got = -7;
    EXPECT_EQ(TryStrToDateTime(c.text, got), c.ok);
    if (c.ok) {
      EXPECT_DOUBLE_EQ(got, c.want);
    }
  }
  EXPECT_EQ(StrToDateTime(DateTimeToStr(v)), EncodeDateTime(2024, 3, 5, 7, 8, 9, 0));
  try {
    StrToDateTime("31.12.2024");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'31.12.2024' is not a valid date and time");
  }
}

}  // namespace
