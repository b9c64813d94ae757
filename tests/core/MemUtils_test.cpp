#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <random>
#include <vector>

#include "core/MemUtils.h"

namespace {

// ---- values ---------------------------------------------------------------------------------

TEST(VarEqualTest, CasesAcrossTypes) {
  struct Case {
    const char* name;
    Variant a, b;
    bool equal;
  };
  const Case cases[] = {
      {"null with null", Variant::Null(), Variant::Null(), true},
      {"null with 0", Variant::Null(), Variant(0), false},
      {"null with empty", Variant::Null(), Variant(), false},
      {"null with empty wide string", Variant::Null(), Variant(u""), false},
      {"wide with ansi", Variant(u"\u4E2D\u6587"), Variant("\xD6\xD0\xCE\xC4"), true},
      {"wide with ansi differing in case", Variant(u"Abc"), Variant("abc"), false},
      {"wide with wide", Variant(u"x"), Variant(u"x"), true},
      {"ansi case", Variant("abc"), Variant("ABC"), false},
      {"ansi equal", Variant("abc"), Variant("abc"), true},
      {"5 with \"5\"", Variant(5), Variant("5"), true},
      {"\"5\" with 5.0", Variant("5"), Variant(5.0), true},
      {"int with int64", Variant(7), Variant(int64_t{7}), true},
      {"equal byte arrays", Variant::FromBytes({0, 1, 2}), Variant::FromBytes({0, 1, 2}), true},
      {"byte arrays, different bytes", Variant::FromBytes({0, 1, 2}), Variant::FromBytes({0, 1, 3}), false},
      {"byte arrays, different length", Variant::FromBytes({0, 1}), Variant::FromBytes({0, 1, 2}), false},
      {"empty byte arrays", Variant::FromBytes({}), Variant::FromBytes({}), true},
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
  EXPECT_EQ(ByteSwap32(0x11223344u), 0x44332211u);
}

TEST(MemUtilsTest, BuffersAndWideText) {
  char buf[8] = "abcdef";
  CopyBuffer(buf, buf + 2, 4);  // overlapping
  EXPECT_STREQ(buf, "ababcd");
  FillBuffer(buf, 3, 'z');
  EXPECT_STREQ(buf, "zzzbcd");
  std::u16string wide = u"xy";
  char16_t w[4] = {};
  CopyBufferUni(wide, w, 4);
  EXPECT_EQ(std::u16string(w), u"xy");
  EXPECT_THROW(CopyBufferUni(wide, w, 5), EAssertionFailed);
  EXPECT_THROW(CopyBufferAnsi("ab", buf, 3), EAssertionFailed);

  char16_t dest[6];
  EXPECT_EQ(StrCopyW(dest, u"hello"), dest);
  EXPECT_EQ(std::u16string(dest), u"hello");
  StrLCopyW(dest, u"hello", 3);
  EXPECT_EQ(std::u16string(dest), u"hel");
  EXPECT_EQ(StrLenW(u"hel\0lo"), 3u);

  char trim[8] = {'a', 'b', ' ', '\0', ' ', 'c', ' ', '\0'};
  StrTrimRight(trim, 5);  // only the first five characters count
  EXPECT_EQ(std::string(trim, 8), std::string("ab\0\0\0c \0", 8));
  char16_t wtrim[] = u"ab  ";
  StrTrimRightW(wtrim, -1);
  EXPECT_EQ(std::u16string(wtrim, 4), std::u16string(u"ab\0\0", 4));
}

struct Base {
  virtual ~Base() = default;
};
struct Derived : Base {};

TEST(MemUtilsTest, IsClassFollowsInheritance) {
  Derived d;
  Base b;
  EXPECT_TRUE(IsClass<Base>(static_cast<Base*>(&d)));
  EXPECT_TRUE(IsClass<Derived>(static_cast<Base*>(&d)));
  EXPECT_FALSE(IsClass<Derived>(&b));
  EXPECT_FALSE(IsClass<Base>(static_cast<Base*>(nullptr)));
}

// ---- locale comparisons ---------------------------------------------------------------------

TEST(LocaleCompareTest, CaseAndZeroBytes) {
  EXPECT_EQ(AnsiCompareTextS("abc", "ABC"), 0);
  EXPECT_NE(AnsiCompareStrS("abc", "ABC"), 0);
  EXPECT_EQ(AnsiStrICompS("abc", "ABC"), 0);
  EXPECT_EQ(WideStrICompS(u"abc", u"ABC"), 0);
  EXPECT_EQ(WideStrICompS(u"\u00C4", u"\u00E4"), 0);  // beyond ASCII too
  EXPECT_EQ(WideStrLICompS(u"abcX", u"ABCy", 3), 0);
  EXPECT_EQ(WideStrLCompS(u"ab", u"abc", 10), -1);  // stops at the terminator
  EXPECT_EQ(AnsiCompareStrS("a", "b"), -1);
  EXPECT_EQ(AnsiCompareStrS("b", "a"), 1);
  EXPECT_EQ(AnsiCompareStrS("", ""), 0);

  // The full-length forms see past embedded zeros; the zero-terminated forms stop there.
  using namespace std::string_view_literals;
  EXPECT_NE(AnsiCompareStrS("a\0b"sv, "a\0c"sv), 0);
  EXPECT_NE(AnsiCompareStrS("a\0b"sv, "ab"sv), 0);
  EXPECT_NE(AnsiCompareStrS("a\0"sv, "a"sv), 0);
  EXPECT_EQ(AnsiCompareStrS("a\0b"sv, "a\0b"sv), 0);
  EXPECT_NE(AnsiCompareTextS("A\0b"sv, "a\0c"sv), 0);
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
  for (int round = 0; round < 20; ++round) {
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

// ---- compression ----------------------------------------------------------------------------

std::vector<uint8_t> Compressed(const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> out(plain.size() + plain.size() / 5 + 32);
  int len = static_cast<int>(out.size());
  CompressBlock(out.data(), len, plain.data(), static_cast<int>(plain.size()));
  out.resize(static_cast<size_t>(len));
  return out;
}

std::vector<uint8_t> Sample() {
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 7) % 13);
  return data;
}

TEST(CompressionTest, RoundTripInZlibFormat) {
  std::vector<uint8_t> plain = Sample();
  std::vector<uint8_t> packed = Compressed(plain);
  EXPECT_LT(packed.size(), plain.size());
  // Any zlib reader takes the stream.
  std::vector<uint8_t> check(plain.size());
  uLongf checkLen = check.size();
  ASSERT_EQ(uncompress(check.data(), &checkLen, packed.data(), packed.size()), Z_OK);
  EXPECT_EQ(check, plain);

  std::vector<uint8_t> back(plain.size());
  int len = static_cast<int>(back.size());
  DoUncompress(back.data(), len, packed.data(), static_cast<int>(packed.size()));
  EXPECT_EQ(len, static_cast<int>(plain.size()));
  EXPECT_EQ(back, plain);

  std::vector<uint8_t> empty = Compressed({});
  int emptyLen = 0;
  UncompressBlock(nullptr, emptyLen, empty.data(), static_cast<int>(empty.size()));
  EXPECT_EQ(emptyLen, 0);
}

TEST(CompressionTest, TooSmallDestinationRaises) {
  std::vector<uint8_t> plain = Sample();
  std::vector<uint8_t> small(10);
  int len = static_cast<int>(small.size());
  try {
    CompressBlock(small.data(), len, plain.data(), static_cast<int>(plain.size()));
    FAIL() << "no exception";
  } catch (const EZlibError& e) {
    EXPECT_STREQ(e.what(), "ZLib error: target buffer may be too small");
  }
  std::vector<uint8_t> packed = Compressed(plain);
  std::vector<uint8_t> out(plain.size() - 1);  // one byte short
  len = static_cast<int>(out.size());
  EXPECT_THROW(UncompressBlock(out.data(), len, packed.data(), static_cast<int>(packed.size())), EZlibError);
}

TEST(CompressionTest, ShortStreamsAreReportedNotPassedOff) {
  std::vector<uint8_t> plain = Sample();
  std::vector<uint8_t> packed = Compressed(plain);
  // A complete stream holding fewer bytes than the caller expects: the produced length says so.
  std::vector<uint8_t> out(plain.size() + 100, 0xEE);
  int len = static_cast<int>(out.size());
  UncompressBlock(out.data(), len, packed.data(), static_cast<int>(packed.size()));
  EXPECT_EQ(len, static_cast<int>(plain.size()));
  // A stream cut short raises.
  out.assign(plain.size(), 0);
  len = static_cast<int>(out.size());
  EXPECT_THROW(UncompressBlock(out.data(), len, packed.data(), static_cast<int>(packed.size()) / 2), EZlibError);
  // Not a zlib stream at all.
  std::vector<uint8_t> garbage(64, 0x5A);
  len = static_cast<int>(out.size());
  EXPECT_THROW(UncompressBlock(out.data(), len, garbage.data(), static_cast<int>(garbage.size())),
               EDecompressionError);
}

TEST(CompressionTest, UnsetHooksAreReported) {
  struct Restore {
    ~Restore() {
      CompressProc = CompressBlock;
      UncompressProc = UncompressBlock;
    }
  } restore;
  EXPECT_NO_THROW(CheckCompressProcs());
  UncompressProc = nullptr;
  try {
    CheckCompressProcs();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Uncompressor function is not linked");
  }
  CompressProc = nullptr;
  try {
    CheckCompressProcs();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Compressor function is not linked");
  }
  int len = 0;
  EXPECT_THROW(DoCompress(nullptr, len, nullptr, 0), EAssertionFailed);
  EXPECT_THROW(DoUncompress(nullptr, len, nullptr, 0), EAssertionFailed);
}

}  // namespace
