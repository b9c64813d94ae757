#include "platform/runtime/Variant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(VariantTest, ConversionsToText) {
  struct Case {
    const char* name;
    Variant v;
    std::string want;
  };
  const Case cases[] = {
      {"int", Variant(-42), "-42"},
      {"uint64 max", Variant(UINT64_MAX), "18446744073709551615"},
      {"double", Variant(0.1), "0.1"},
      {"single", Variant(0.1f), "0.1"},
      {"currency", Variant(StrToCurr("-1.25")), "-1.25"},
      {"bool", Variant(true), "True"},
      {"date", Variant::FromDateTime(EncodeDateTime(2024, 1, 2, 3, 4, 5, 0)), "2024-01-02 03:04:05"},
      {"bcd", Variant(StrToBcd("3.140")), "3.140"},
      {"wide", Variant(u"\u4E2D"), "\xD6\xD0"},  // GBK bytes of the same character
      {"empty", Variant(), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.v.AsString(), c.want);
  }
  EXPECT_EQ(Variant("\xD6\xD0").AsWideString(), u"\u4E2D");
  EXPECT_THROW(Variant::Null().AsString(), EVariantTypeCastError);
  EXPECT_EQ(VarToStr(Variant::Null()), "");
  EXPECT_THROW(Variant::FromBytes({1}).AsString(), EVariantTypeCastError);
}

TEST(VariantTest, ConversionsToNumbers) {
  EXPECT_EQ(Variant(" 12 ").AsInteger(), 12);
  EXPECT_EQ(Variant("2.5").AsInteger(), 2);  // half to even
  EXPECT_EQ(Variant(3.5).AsInteger(), 4);
  EXPECT_EQ(Variant(StrToCurr("2.5")).AsInteger(), 2);
  EXPECT_EQ(Variant(StrToCurr("-3.5")).AsInteger(), -4);
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_EQ(Variant().AsInteger(), 0);
  EXPECT_EQ(Variant(u"-7").AsInt64(), -7);
  EXPECT_EQ(Variant("18446744073709551615").AsUInt64(), UINT64_MAX);
  EXPECT_EQ(Variant("1e3").AsDouble(), 1000.0);
  EXPECT_EQ(Variant("-0.5").AsCurrency().Scaled, -5000);
  EXPECT_EQ(BcdToStr(Variant(int64_t{-12}).AsBcd()), "-12");
  EXPECT_TRUE(Variant("TRUE").AsBoolean());
  EXPECT_FALSE(Variant(" false").AsBoolean());
  EXPECT_TRUE(Variant("2").AsBoolean());
  EXPECT_DOUBLE_EQ(Variant("2000-01-01 12:00:00").AsDateTime(), 36526.5);

  for (const char* bad : {"abc", "", "1x", "inf", "0x10"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(Variant(bad).AsInteger(), EConvertError);
    EXPECT_THROW(Variant(bad).AsDouble(), EConvertError);
  }
  EXPECT_THROW(Variant("yes").AsBoolean(), EConvertError);
  EXPECT_THROW(Variant::Null().AsInteger(), EVariantTypeCastError);
  EXPECT_THROW(Variant(int64_t{1} << 40).AsInteger(), EVariantOverflowError);
  EXPECT_THROW(Variant(1e30).AsInt64(), EVariantOverflowError);
  EXPECT_THROW(Variant(-1).AsUInt64(), EVariantOverflowError);
  EXPECT_THROW(Variant(UINT64_MAX).AsInt64(), EVariantOverflowError);
  EXPECT_THROW(Variant(1e300).AsCurrency(), EVariantOverflowError);
  try {
    Variant("abc").AsDouble();
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Could not convert variant of type (String) into type (Double)");
  }
}

TEST(VariantTest, ChangeTypeChecksTheTargetRange) {
  EXPECT_EQ(Variant("200").ChangeType(varByte).VarType(), varByte);
  EXPECT_THROW(Variant(300).ChangeType(varByte), EVariantOverflowError);
  EXPECT_THROW(Variant(-1).ChangeType(varWord), EVariantOverflowError);
  EXPECT_THROW(Variant(1e39).ChangeType(varSingle), EVariantOverflowError);
  Variant d = Variant("2000-01-01").ChangeType(varDate);
  EXPECT_EQ(d.VarType(), varDate);
  EXPECT_EQ(d.AsDouble(), 36526.0);
  EXPECT_TRUE(Variant(5).ChangeType(varNull).IsNull());
  EXPECT_THROW(Variant(5).ChangeType(varArray | varByte), EVariantTypeCastError);
}

TEST(VariantTest, EqualityAcrossTypes) {
  struct Case {
    const char* name;
    Variant a, b;
    bool equal;
  };
  const Case cases[] = {
      {"null with null", Variant::Null(), Variant::Null(), true},
      {"null with 0", Variant::Null(), Variant(0), false},
      {"null with empty", Variant::Null(), Variant(), false},
      {"empty with 0", Variant(), Variant(0), true},
      {"empty with empty string", Variant(), Variant(""), true},
      {"5 with \"5\"", Variant(5), Variant("5"), true},
      {"5 with \" 5.0 \"", Variant(5), Variant(" 5.0 "), true},
      {"5 with wide \"5\"", Variant(5), Variant(u"5"), true},
      {"int with double", Variant(2), Variant(2.0), true},
      {"int64 with uint64", Variant(int64_t{-1}), Variant(UINT64_MAX), false},
      {"currency with double", Variant(StrToCurr("0.1")), Variant(0.1), true},
      {"currency with text", Variant(StrToCurr("0.1")), Variant("0.10"), true},
      {"bcd with int", Variant(StrToBcd("12.00")), Variant(12), true},
      {"wide with ansi", Variant(u"\u4E2D\u6587"), Variant("\xD6\xD0\xCE\xC4"), true},
      {"case of strings", Variant("abc"), Variant("ABC"), false},
      {"case of wide and ansi", Variant(u"abc"), Variant("ABC"), false},
      {"trailing blank", Variant("a"), Variant("a "), false},
      {"true with -1", Variant(true), Variant(-1), true},
      {"true with \"True\"", Variant(true), Variant("true"), true},
      {"false with 0", Variant(false), Variant(0), true},
      {"date with text", Variant::FromDateTime(36526.5), Variant("2000-01-01 12:00"), true},
      {"date with number", Variant::FromDateTime(2), Variant(2), true},
      {"equal bytes", Variant::FromBytes({1, 2, 3}), Variant::FromBytes({1, 2, 3}), true},
      {"bytes of different length", Variant::FromBytes({1, 2}), Variant::FromBytes({1, 2, 0}), false},
      {"empty byte arrays", Variant::FromBytes({}), Variant::FromBytes(nullptr, 0), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b == c.a, c.equal);  // symmetric
    EXPECT_EQ(c.a != c.b, !c.equal);
  }
}

TEST(VariantTest, MismatchedOperandsRaise) {
  int object = 0;
  EXPECT_THROW((void)(Variant(5) == Variant("abc")), EConvertError);
  EXPECT_THROW((void)(Variant("abc") < Variant(5.5)), EConvertError);
  EXPECT_THROW((void)(Variant(StrToCurr("1")) == Variant("x")), EConvertError);
  EXPECT_THROW((void)(Variant::FromBytes({1}) == Variant(1)), EVariantTypeCastError);
  EXPECT_THROW((void)(Variant::FromObject(&object) == Variant(1)), EVariantTypeCastError);
  EXPECT_TRUE(Variant::FromObject(&object) == Variant::FromObject(&object));
  EXPECT_FALSE(Variant::Null() == Variant::FromBytes({1}));  // Null compares with anything
}

TEST(VariantTest, OrderingIsStable) {
  std::vector<Variant> values = {Variant(10),
                                 Variant("9"),
                                 Variant::Null(),
                                 Variant(-1.5),
                                 Variant(UINT64_MAX),
                                 Variant(StrToBcd("9.5")),
                                 Variant(int64_t{INT64_MIN})};
  std::sort(values.begin(), values.end());
  std::vector<std::string> got;
  for (const auto& v : values) got.push_back(VarToStr(v));
  EXPECT_EQ(got, (std::vector<std::string>{"", "-9223372036854775808", "-1.5", "9", "9.5", "10",
                                           "18446744073709551615"}));
  EXPECT_TRUE(Variant("a") < Variant("b"));
  EXPECT_TRUE(Variant(false) < Variant(true));
  EXPECT_TRUE(Variant::FromBytes({1, 2}) < Variant::FromBytes({1, 2, 0}));
  EXPECT_TRUE(Variant::FromDateTime(-1.25) < Variant::FromDateTime(0));
}

}  // namespace
