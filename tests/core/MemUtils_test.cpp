#include "core/MemUtils.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

TEST(VarEqualTest, CasesAcrossTypes) {
  const struct {
    const char* name;
    Variant a, b;
    bool equal;
  } cases[] = {
      {"null with null", Variant::Null(), Variant::Null(), true},
      {"null with 0", Variant::Null(), Variant(0), false},
      {"null with empty", Variant::Null(), Variant(), false},
      {"null with empty wide string", Variant::Null(), Variant(u""), false},
      {"wide with ansi", Variant(u"\u4E2D\u6587"), Variant("\xD6\xD0\xCE\xC4"), true},
      {"ansi case", Variant("abc"), Variant("ABC"), false},
      {"5 with \"5\"", Variant(5), Variant("5"), true},
      {"\"5\" with 5.0", Variant("5"), Variant(5.0), true},
      {"int with int64", Variant(7), Variant(int64_t{7}), true},
      {"equal byte arrays", Variant::FromBytes({0, 1, 2}), Variant::FromBytes({0, 1, 2}), true},
      {"byte arrays, different bytes", Variant::FromBytes({0, 1, 2}), Variant::FromBytes({0, 1, 3}), false},
      {"byte arrays, different length", Variant::FromBytes({0, 1}), Variant::FromBytes({0, 1, 2}), false},
      {"byte array with string", Variant::FromBytes({'a'}), Variant("a"), false},
      {"byte array with null", Variant::FromBytes({}), Variant::Null(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VarEqual(c.a, c.b), c.equal);
    EXPECT_EQ(VarEqual(c.b, c.a), c.equal);
  }
  EXPECT_THROW(VarEqual(Variant(5), Variant("five")), EConvertError);
}

TEST(MemUtilsTest, TimeStampsAndDateEncoding) {
  EXPECT_EQ(TimeStampToDateTimeValue(TTimeStamp{43200000, 693594}), 0.5);
  EXPECT_EQ(TimeStampToDateTimeValue(TTimeStamp{43200000, 693593}), -1.5);  // sign rule before 1899-12-30
  try {
    TimeStampToDateTimeValue(TTimeStamp{-1, 12});
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'12.-1' is not a valid timestamp");
  }
  TDateTime v;
  EXPECT_TRUE(TryEncodeDateValue(2000, 2, 29, v));
  EXPECT_FALSE(TryEncodeDateValue(1900, 2, 29, v));
  EXPECT_FALSE(TryEncodeDateValue(10000, 1, 1, v));
  EXPECT_TRUE(TryEncodeDateTimeValue(1899, 12, 29, 12, 0, 0, 0, v));
  EXPECT_EQ(v, -1.5);
  EXPECT_FALSE(TryEncodeTimeValue(23, 59, 59, 1000, v));
}

TEST(MemUtilsTest, BufferHelpersStayInBounds) {
  char buf[8] = "abcdef";
  CopyBuffer(buf, buf + 2, 4);  // overlapping
  EXPECT_STREQ(buf, "ababcd");
  char16_t w[4] = {};
  EXPECT_THROW(CopyBufferUni(u"xy", w, 5), EAssertionFailed);  // the source is shorter than asked
  EXPECT_THROW(CopyBufferAnsi("ab", buf, 3), EAssertionFailed);
}

TEST(LocaleCompareTest, CaseAndZeroBytes) {
  EXPECT_EQ(AnsiCompareTextS("abc", "ABC"), 0);
  EXPECT_NE(AnsiCompareStrS("abc", "ABC"), 0);
  EXPECT_EQ(WideStrICompS(u"\u00C4", u"\u00E4"), 0);  // beyond ASCII too
  EXPECT_EQ(WideStrLICompS(u"abcX", u"ABCy", 3), 0);
  EXPECT_EQ(WideStrLCompS(u"ab", u"abc", 10), -1);  // stops at the terminator
  // The full-length forms see past embedded zeros; the zero-terminated forms stop there.
  using namespace std::string_view_literals;
  EXPECT_NE(AnsiCompareStrS("a\0b"sv, "a\0c"sv), 0);
  EXPECT_NE(AnsiCompareStrS("a\0"sv, "a"sv), 0);
  EXPECT_EQ(AnsiCompareTextS("A\0b"sv, "a\0B"sv), 0);
  EXPECT_NE(WideStrCompS(u"a\0b"sv, u"a"sv), 0);
  EXPECT_EQ(AnsiStrCompS("a\0b", "a\0c"), 0);
  EXPECT_EQ(AnsiCompareStrS("a\0b"sv, "a\0c"sv), -AnsiCompareStrS("a\0c"sv, "a\0b"sv));
}

TEST(LocaleCompareTest, GbkStringsSortInAStableOrder) {
  // 阿 (a), 李 (li), 王 (wang), 张 (zhang), 赵 (zhao): the order Chinese readers expect.
  const std::vector<std::string> want = {"\xB0\xA2", "\xC0\xEE", "\xCD\xF5", "\xD5\xC5", "\xD5\xD4"};
  std::vector<std::string> names = want;
  std::mt19937 rng(12345);
  for (int round = 0; round < 10; ++round) {
    std::shuffle(names.begin(), names.end(), rng);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return AnsiCompareStrS(a, b) < 0; });
    ASSERT_EQ(names, want) << "round " << round;
  }
  // Invalid GBK bytes all decode to the same replacement character but stay distinct and ordered.
  EXPECT_EQ(AnsiCompareStrS("\x81", "\x82"), -1);
  EXPECT_EQ(AnsiCompareStrS("\x82", "\x81"), 1);
  EXPECT_NE(AnsiCompareTextS("\x81", "\x82"), 0);
}

TEST(CompressionTest, RoundTripAndReportedFailures) {
  std::vector<uint8_t> plain(5000), packed(5000), out;
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>((i * 7) % 13);
  int len = static_cast<int>(packed.size());
  CompressBlock(packed.data(), len, plain.data(), static_cast<int>(plain.size()));
  packed.resize(static_cast<size_t>(len));
  EXPECT_LT(packed.size(), plain.size());
  // Uncompresses `n` bytes of `src` into `size` bytes; returns the produced length.
  auto unpack = [&](const std::vector<uint8_t>& src, size_t n, size_t size) {
    out.assign(size, 0xEE);
    int produced = static_cast<int>(size);
    UncompressBlock(out.data(), produced, src.data(), static_cast<int>(n));
    return produced;
  };
  std::vector<uint8_t> check(plain.size());  // any zlib reader takes the stream
  uLongf checkLen = check.size();
  ASSERT_EQ(uncompress(check.data(), &checkLen, packed.data(), packed.size()), Z_OK);
  EXPECT_EQ(check, plain);
  EXPECT_EQ(unpack(packed, packed.size(), plain.size()), static_cast<int>(plain.size()));
  EXPECT_EQ(out, plain);

  std::vector<uint8_t> small(10);
  len = static_cast<int>(small.size());
  try {
    CompressBlock(small.data(), len, plain.data(), static_cast<int>(plain.size()));
    FAIL() << "no exception";
  } catch (const EZlibError& e) {
    EXPECT_STREQ(e.what(), "ZLib error: target buffer may be too small");
  }
  EXPECT_THROW(unpack(packed, packed.size(), plain.size() - 1), EZlibError);  // one byte short
  // A complete stream holding fewer bytes than the caller expects: the produced length says so.
  EXPECT_EQ(unpack(packed, packed.size(), plain.size() + 100), static_cast<int>(plain.size()));
  EXPECT_THROW(unpack(packed, packed.size() / 2, plain.size()), EZlibError);  // cut short
  EXPECT_THROW(unpack(std::vector<uint8_t>(64, 0x5A), 64, plain.size()), EDecompressionError);
}

}  // namespace
