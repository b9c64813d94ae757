#include "platform/runtime/FMTBcd.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/runtime/Currency.h"
#include "platform/runtime/Exceptions.h"

namespace {

TEST(BcdTest, TextRoundTripsAndLayout) {
  struct Case {
    const char* text;
    const char* want;
    int precision, scale;
  };
  const Case cases[] = {
      {"12.34", "12.34", 4, 2},
      {"-12.50", "-12.50", 4, 2},  // places are kept as the value holds them
      {"0.5", "0.5", 1, 1},
      {"0", "0", 1, 0},
      {"-0.00", "0.00", 2, 2},  // zero has no sign
      {"+007", "7", 1, 0},
      {" 1e3 ", "1000", 4, 0},
      {"1.5e-3", "0.0015", 4, 4},
      {".25", "0.25", 2, 2},
      {"12345678901234567890123456789012.123456789012345678901234567890",
       "12345678901234567890123456789012.123456789012345678901234567890", 62, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TBcd b = StrToBcd(c.text);
    EXPECT_EQ(BcdToStr(b), c.want);
    EXPECT_EQ(BcdPrecision(b), c.precision);
    EXPECT_EQ(BcdScale(b), c.scale);
  }
  TBcd b = StrToBcd("-12.34");
  EXPECT_EQ(b.Precision, 4);
  EXPECT_EQ(b.SignSpecialPlaces, 0x82);
  EXPECT_EQ(b.Fraction[0], 0x12);
  EXPECT_EQ(b.Fraction[1], 0x34);
  EXPECT_EQ(b.Fraction[2], 0);
}

TEST(BcdTest, BadTextAndMalformedRecordsRaise) {
  for (const char* bad : {"", "abc", "1.2.3", "1e", "--1", "1,5", "inf", "nan", "12 3",
                          "12345678901234567890123456789012345678901234567890123456789012345"}) {
    SCOPED_TRACE(bad);
    TBcd b;
    EXPECT_FALSE(TryStrToBcd(bad, b));
    EXPECT_THROW(StrToBcd(bad), EConvertError);
  }
  TBcd b = StrToBcd("12");
  TBcd badNibble = b;
  badNibble.Fraction[0] = 0x1A;
  TBcd badPrecision = b;
  badPrecision.Precision = 65;
  TBcd badPlaces = b;
  badPlaces.SignSpecialPlaces = 3;  // more places than digits
  for (const TBcd* p : {&badNibble, &badPrecision, &badPlaces}) {
    EXPECT_FALSE(IsValidBcd(*p));
    EXPECT_THROW(BcdToStr(*p), EConvertError);
    EXPECT_THROW(BcdCompare(*p, b), EConvertError);
  }
}

TEST(BcdTest, ConversionsAndComparison) {
  EXPECT_EQ(BcdToStr(DoubleToBcd(0.1)), "0.1");
  EXPECT_EQ(BcdToDouble(StrToBcd("-2.5")), -2.5);
  EXPECT_THROW(DoubleToBcd(1.0 / 0.0), EConvertError);
  EXPECT_EQ(BcdToInt64(StrToBcd("2.5")), 3);  // half away from zero
  EXPECT_EQ(BcdToInt64(StrToBcd("-2.5")), -3);
  EXPECT_EQ(BcdToInt64(StrToBcd("-9223372036854775808")), INT64_MIN);
  EXPECT_THROW(BcdToInt64(StrToBcd("9223372036854775808")), EConvertError);
  EXPECT_EQ(BcdToStr(Int64ToBcd(INT64_MIN)), "-9223372036854775808");
  EXPECT_EQ(BcdToCurr(StrToBcd("1.23456")).Scaled, 12346);
  EXPECT_EQ(BcdToStr(CurrToBcd(Currency::FromScaled(-15000))), "-1.5");

  EXPECT_EQ(BcdCompare(StrToBcd("1.50"), StrToBcd("1.5")), 0);
  EXPECT_EQ(BcdCompare(StrToBcd("-1"), StrToBcd("0.001")), -1);
  EXPECT_EQ(BcdCompare(StrToBcd("-1"), StrToBcd("-2")), 1);
  EXPECT_EQ(BcdCompare(StrToBcd("10"), StrToBcd("9.999")), 1);

  TBcd r;
  ASSERT_TRUE(NormalizeBcd(StrToBcd("123.456"), r, 5, 2));
  EXPECT_EQ(BcdToStr(r), "123.46");
  ASSERT_TRUE(NormalizeBcd(StrToBcd("0.5"), r, 2, 2));
  EXPECT_EQ(BcdToStr(r), "0.50");
  EXPECT_FALSE(NormalizeBcd(StrToBcd("999.996"), r, 5, 2));  // rounds to 1000.00: 6 digits
}

TEST(CurrencyTest, TextAndDoubles) {
  struct Case {
    const char* text;
    int64_t scaled;
    const char* back;
  };
  const Case cases[] = {
      {"1.5", 15000, "1.5"},           {"-0.0001", -1, "-0.0001"},
      {"12.34565", 123457, "12.3457"}, {"0.00005", 1, "0.0001"},
      {"100", 1000000, "100"},         {"-922337203685477.5808", INT64_MIN, "-922337203685477.5808"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Currency v = StrToCurr(c.text);
    EXPECT_EQ(v.Scaled, c.scaled);
    EXPECT_EQ(CurrToStr(v), c.back);
  }
  EXPECT_THROW(StrToCurr("922337203685477.5808"), EConvertError);
  EXPECT_THROW(StrToCurr("x"), EConvertError);
  EXPECT_EQ(DoubleToCurr(1.23456).Scaled, 12346);
  EXPECT_EQ(DoubleToCurr(-0.1).Scaled, -1000);
  EXPECT_THROW(DoubleToCurr(1e300), EConvertError);
  EXPECT_EQ(CurrToDouble(Currency::FromScaled(25000)), 2.5);
  EXPECT_THROW(Int64ToCurr(INT64_MAX), EConvertError);
}

}  // namespace
