#include "core/CLRClasses.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/runtime/Charset.h"

namespace {

TBytes Bytes(std::initializer_list<int> values) {
  TBytes b;
  for (int v : values) b.push_back(static_cast<uint8_t>(v));
  return b;
}

// ---- BitConverter -----------------------------------------------------------------------------

TEST(BitConverterTest, ReadsLittleEndianAtAnOffset) {
  TBytes b = Bytes({0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88});
  EXPECT_EQ(BitConverter::ToUInt16(b, 1), 0x0201);
  EXPECT_EQ(BitConverter::ToInt32(b, 1), 0x04030201);
  EXPECT_EQ(BitConverter::ToUInt32(b, 5), 0x88070605u);
  EXPECT_EQ(BitConverter::ToInt64(b, 1), int64_t{-0x77f8f9fafbfcfdff});
  EXPECT_EQ(BitConverter::GetBytes(0x0102030405060708), Bytes({8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(BitConverter::Int64BitsToDouble(BitConverter::DoubleToInt64Bits(-2.5)), -2.5);
  EXPECT_EQ(BitConverter::DoubleToInt64Bits(1.0), 0x3FF0000000000000);
}

TEST(BitConverterTest, ReadersRefuseBytesOutsideTheArray) {
  TBytes b = Bytes({1, 2, 3, 4, 5, 6, 7});  // sized exactly: an over-read would also trip ASan
  EXPECT_THROW(BitConverter::ToInt64(b, 0), ArgumentException);
  EXPECT_THROW(BitConverter::ToInt32(b, 4), ArgumentException);
  EXPECT_THROW(BitConverter::ToUInt32(b, -1), ArgumentException);
  EXPECT_THROW(BitConverter::ToUInt16(b, 6), ArgumentException);
  EXPECT_THROW(BitConverter::ToUInt16(TBytes{}, 0), ArgumentException);
  EXPECT_EQ(BitConverter::ToUInt16(b, 5), 0x0706);
}

// ---- Marshal ----------------------------------------------------------------------------------

TEST(MarshalTest, UnalignedFieldsRoundTrip) {
  auto block = std::unique_ptr<void, void (*)(void*)>(Marshal::AllocHGlobal(32), Marshal::FreeHGlobal);
  char* p = static_cast<char*>(block.get());
  std::memset(p, 0, 32);
  int marker = 0;
  Marshal::WriteInt16(p, 1, int16_t{-2});
  Marshal::WriteInt32(p, 3, -3);
  Marshal::WriteInt64(p, 7, INT64_MIN + 5);
  Marshal::WriteIntPtr(p, 15, &marker);
  Marshal::WriteByte(p, 23, uint8_t{0xFE});
  Marshal::WriteByte(p, uint8_t{9});
  EXPECT_EQ(Marshal::ReadByte(p), 9);
  EXPECT_EQ(Marshal::ReadInt16(p, 1), -2);
  EXPECT_EQ(Marshal::ReadInt32(p, 3), -3);
  EXPECT_EQ(Marshal::ReadInt64(p, 7), INT64_MIN + 5);
  EXPECT_EQ(Marshal::ReadIntPtr(p, 15), &marker);
  EXPECT_EQ(Marshal::ReadByte(p, 23), 0xFE);
  EXPECT_EQ(Marshal::ReadInt32(p + 3), -3);

  void* grown = Marshal::ReAllocHGlobal(block.release(), 4096);
  block.reset(grown);
  EXPECT_EQ(Marshal::ReadInt64(grown, 7), INT64_MIN + 5);  // contents survive the move
}

TEST(MarshalTest, PtrToStringTakesLengthOrStopsAtZero) {
  const char ansi[] = {'a', 'b', 0, 'c', 'd'};
  EXPECT_EQ(Marshal::PtrToStringAnsi(ansi, 5), std::string("ab\0cd", 5));
  EXPECT_EQ(Marshal::PtrToStringAnsi(ansi, 0), "ab");
  EXPECT_EQ(Marshal::PtrToStringAnsi(ansi, -1), "ab");
  EXPECT_EQ(Marshal::PtrToStringAnsi(nullptr, 3), "");

  // Wide text at an odd address: read without assuming alignment.
  alignas(2) uint8_t raw[9] = {0xFF, 'h', 0, 'i', 0, 0, 0, 'x', 0};
  EXPECT_EQ(Marshal::PtrToStringUni(raw + 1, 0), u"hi");
  EXPECT_EQ(Marshal::PtrToStringUni(raw + 1, 4), std::u16string(u"hi\0x", 4));
}

TEST(MarshalTest, StringToCoTaskMemGivesTheStringsOwnCharacters) {
  std::string s = "abc";
  std::string empty;
  std::u16string w = u"xy";
  EXPECT_EQ(Marshal::StringToCoTaskMemAnsi(s), s.data());
  EXPECT_STREQ(Marshal::StringToCoTaskMemAnsi(empty), "");
  EXPECT_EQ(Marshal::StringToCoTaskMemUni(w), w.data());
}

TEST(MarshalTest, CopyChecksTheArraySide) {
  TBytes src = Bytes({1, 2, 3, 4});
  uint8_t out[4] = {};
  Marshal::Copy(src, 1, out, 3);
  EXPECT_EQ(out[2], 4);
  EXPECT_THROW(Marshal::Copy(src, 2, out, 3), ArgumentException);
  Marshal::Copy(src, 4, nullptr, 0);  // length 0 touches nothing

  TBytes dst(3);
  Marshal::Copy(out, dst, 1, 2);
  EXPECT_EQ(dst, Bytes({0, 2, 3}));
  EXPECT_THROW(Marshal::Copy(out, dst, 2, 2), ArgumentException);
  EXPECT_THROW(Marshal::Copy(out, dst, 0, -1), ArgumentException);
}

TEST(BufferTest, BlockCopyIsOverlapSafeAndBounded) {
  TBytes b = Bytes({1, 2, 3, 4, 5});
  Buffer::BlockCopy(b, 0, b, 1, 4);
  EXPECT_EQ(b, Bytes({1, 1, 2, 3, 4}));
  TBytes small(2);
  EXPECT_THROW(Buffer::BlockCopy(b, 0, small, 1, 2), ArgumentException);
  EXPECT_THROW(Buffer::BlockCopy(b, 4, small, 0, 2), ArgumentException);
  EXPECT_EQ(small, TBytes(2));
}

// ---- Encoding ---------------------------------------------------------------------------------

class EncodingTest : public ::testing::Test {
 protected:
  void SetUp() override { SetAnsiCodePage(936); }
  const std::string gbk = "\xD3\xCE\xCF\xB7\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF";  // 游戏管理工具
  const std::u16string wide = u"游戏管理工具";
};

TEST_F(EncodingTest, AnsiAndUnicodeObjectsDecodeThroughTheirOwnClass) {
  const Encoding* ansi = Encoding::Default();
  const Encoding* uni = Encoding::Unicode();
  TBytes gbkBytes = ansi->GetBytes(gbk);
  TBytes utf16 = uni->GetBytes(wide);
  ASSERT_EQ(utf16.size(), 12u);
  EXPECT_EQ(utf16[0], 0x38);  // 游 = U+6E38, low byte first
  EXPECT_EQ(utf16[1], 0x6E);

  EXPECT_EQ(ansi->GetString(gbkBytes), gbk);
  EXPECT_EQ(ansi->GetWideString(gbkBytes), wide);
  EXPECT_EQ(uni->GetWideString(utf16), wide);
  EXPECT_EQ(uni->GetString(utf16), gbk);
  EXPECT_EQ(ansi->GetString(gbkBytes, 2, 4), gbk.substr(2, 4));
  EXPECT_EQ(uni->GetWideString(utf16, 2, 4), wide.substr(1, 2));
}

TEST_F(EncodingTest, UnicodeDropsAnOddTrailingByte) {
  TBytes five = Bytes({'a', 0, 'b', 0, 'c'});
  EXPECT_EQ(Encoding::Unicode()->GetWideString(five), u"ab");
  EXPECT_EQ(Encoding::Unicode()->GetWideString(five, 1, 0), u"");
  EXPECT_EQ(Encoding::Default()->GetString(five, 5, 0), "");
}

TEST_F(EncodingTest, WritesNeverPassTheDestinationsEnd) {
  const Encoding* e = Encoding::Default();
  TBytes dst(4);  // sized exactly
  EXPECT_EQ(e->GetBytes("abcdef", 1, 3, dst, 1), 3);
  EXPECT_EQ(dst, Bytes({0, 'b', 'c', 'd'}));
  struct Case {
    const char* name;
    int charIndex, charCount, byteIndex;
  };
  const Case ansiCases[] = {{"past the end", 0, 3, 2},
                            {"start past the end", 0, 1, 4},
                            {"negative index", 0, 1, -1},
                            {"source too short", 4, 3, 0}};
  for (const auto& c : ansiCases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(e->GetBytes("abcdef", c.charIndex, c.charCount, dst, c.byteIndex), ArgumentException);
  }
  EXPECT_EQ(dst, Bytes({0, 'b', 'c', 'd'}));
  EXPECT_EQ(e->GetBytes("abc", 0, 0, dst, 99), 0);  // count < 1: nothing copied

  EXPECT_EQ(e->GetBytes(u"xyz", 1, 2, dst, 0), 4);
  EXPECT_EQ(dst, Bytes({'y', 0, 'z', 0}));
  EXPECT_THROW(e->GetBytes(u"xyz", 0, 2, dst, 1), ArgumentException);
  EXPECT_THROW(e->GetBytes(u"xyz", 2, 2, dst, 0), ArgumentException);

  EXPECT_THROW(e->GetString(dst, 3, 2), ArgumentException);
  EXPECT_THROW(Encoding::Unicode()->GetWideString(dst, -2, 2), ArgumentException);
}

// ---- StringBuilder ----------------------------------------------------------------------------

TEST(StringBuilderTest, AppendGrowsAndKeepsText) {
  StringBuilder sb("ab", 1);
  sb.Append('c');
  sb.Append("xdefx", 1, 3);
  sb.Append("");
  sb.Append("xyz", 3, 0);
  for (int i = 0; i < 1000; ++i) sb.Append('.');
  EXPECT_EQ(sb.Length(), 1006);
  EXPECT_EQ(sb.ToString().substr(0, 7), "abcdef.");
  EXPECT_THROW(sb.Append("xyz", 2, 2), ArgumentException);
  EXPECT_THROW(sb.Append("xyz", -1, 1), ArgumentException);
}

TEST(StringBuilderTest, SetLengthCutsAndExtendsWithZeros) {
  StringBuilder sb("secret", 6);
  sb.SetLength(2);
  EXPECT_EQ(sb.ToString(), "se");
  sb.SetLength(4);  // the cut characters must not come back
  EXPECT_EQ(sb.ToString(), std::string("se\0\0", 4));
  sb.SetLength(40);
  EXPECT_EQ(sb.ToString(), std::string("se") + std::string(38, '\0'));
  EXPECT_THROW(sb.SetLength(-1), ArgumentException);
}

TEST(StringBuilderTest, Replace) {
  struct Case {
    const char* text;
    const char* oldValue;
    const char* newValue;
    const char* want;
  };
  const Case cases[] = {
      {"aaa", "a", "aa", "aaaaaa"},  // replaced text is not searched again
      {"abab", "ab", "", ""},
      {"abc", "", "x", "abc"},  // empty old value: unchanged, no endless loop
      {"abc", "zz", "x", "abc"},
      {"x=:p, y=:p", ":p", "?", "x=?, y=?"},
      {"abcabc", "bc", "BCD", "aBCDaBCD"},
      {"abc", "abc", "xyz", "xyz"},
      {"", "a", "b", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.oldValue + " -> " + c.newValue);
    StringBuilder sb(c.text, 0);
    sb.Replace(c.oldValue, c.newValue);
    EXPECT_EQ(sb.ToString(), c.want);
    EXPECT_EQ(sb.Length(), static_cast<int>(std::strlen(c.want)));
  }
}

TEST(StringBuilderTest, ReplaceSeesOnlyTheUsedText) {
  StringBuilder sb("abab", 8);
  sb.SetLength(2);
  sb.Replace("b", "bb");
  EXPECT_EQ(sb.ToString(), "abb");
  sb.Append('!');
  EXPECT_EQ(sb.ToString(), "abb!");
}

// ---- MemoryStream -----------------------------------------------------------------------------

TEST(MemoryStreamTest, WriteReadAndPosition) {
  MemoryStream ms(4);
  ms.Write(Bytes({1, 2, 3}), 0, 3);
  ms.WriteByte(4);
  ms.Write("\x05\x06", 0, 2);
  EXPECT_EQ(ms.Length(), 6);
  EXPECT_EQ(ms.Position(), 6);
  ms.SetPosition(1);
  TBytes out(4);
  EXPECT_EQ(ms.Read(out, 1, 3), 3);
  EXPECT_EQ(out, Bytes({0, 2, 3, 4}));
  EXPECT_EQ(ms.ReadByte(), 5);
  ms.SetPosition(9);  // past the end: the stream grows with zeros
  EXPECT_EQ(ms.Length(), 9);
  ms.SetPosition(6);
  EXPECT_EQ(ms.ReadByte(), 0);
}

// The packet buffer is reused: after a long packet, a short one must not expose the long one's tail.
TEST(MemoryStreamTest, ReadStopsAtTheLogicalEnd) {
  MemoryStream ms(0);
  ms.Write(std::string(100, 'L').data(), 0, 100);
  ms.SetLength(0);
  ms.SetPosition(0);
  ms.Write("short", 0, 5);
  ms.SetPosition(0);
  EXPECT_GE(ms.GetBuffer().size(), 100u);  // the array is kept...
  TBytes out(50, 0xEE);
  EXPECT_EQ(ms.Read(out, 0, 50), 5);  // ...but only the stream's bytes are read
  EXPECT_EQ(out[5], 0xEE);
  EXPECT_EQ(ms.Read(out, 0, 50), 0);
  EXPECT_THROW(ms.ReadByte(), ArgumentException);
  EXPECT_EQ(ms.Position(), 5);

  ms.SetLength(20);  // growing again shows zeros, not the old packet
  ms.SetPosition(5);
  EXPECT_EQ(ms.ReadByte(), 0);
}

TEST(MemoryStreamTest, ReadAndWriteCheckTheirArrays) {
  MemoryStream ms(0);
  ms.Write(Bytes({1, 2, 3}), 0, 3);
  ms.SetPosition(0);
  TBytes out(2);
  EXPECT_THROW(ms.Read(out, 1, 2), ArgumentException);
  EXPECT_THROW(ms.Read(out, -1, 1), ArgumentException);
  EXPECT_THROW(ms.Write(out, 1, 2), ArgumentException);
  EXPECT_THROW(ms.SetLength(-1), ArgumentException);
  EXPECT_THROW(ms.SetPosition(-1), ArgumentException);
  EXPECT_EQ(ms.Position(), 0);
  EXPECT_EQ(ms.Length(), 3);
}

TEST(MemoryStreamTest, SetLengthKeepsSmallArraysAndTrimsLargeOnes) {
  MemoryStream small(100);
  small.SetLength(10);
  EXPECT_EQ(small.GetBuffer().size(), 100u);

  MemoryStream large(100000);
  large.SetLength(10);
  EXPECT_EQ(large.GetBuffer().size(), 10u);
  EXPECT_LT(large.GetBuffer().capacity(), 100000u);

  large.Write(std::string(70000, 'x').data(), 0, 70000);
  EXPECT_EQ(large.Length(), 70000);
  large.Close();
  EXPECT_EQ(large.Length(), 0);
  EXPECT_TRUE(large.GetBuffer().empty());
}

}  // namespace
