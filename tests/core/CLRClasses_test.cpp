#include "core/CLRClasses.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "platform/runtime/Charset.h"

namespace {

TBytes Bytes(std::initializer_list<int> values) {
  return TBytes(values.begin(), values.end());
}

// Every call here reaches outside its array: each must raise, none may read or write a byte.
TEST(CLRClassesTest, RangeChecksRaiseArgumentException) {
  TBytes seven = Bytes({1, 2, 3, 4, 5, 6, 7});  // sized exactly: an over-read would also trip ASan
  TBytes out(2), dst(3), four = Bytes({0, 'b', 'c', 'd'});
  uint8_t raw[4] = {};
  MemoryStream ms(0);
  ms.Write(Bytes({1, 2, 3}), 0, 3);
  ms.SetPosition(0);
  const Encoding* e = Encoding::Default();
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"ToInt64 past the end", [&] { BitConverter::ToInt64(seven, 0); }},
      {"ToUInt32 before the start", [&] { BitConverter::ToUInt32(seven, -1); }},
      {"ToUInt16 of nothing", [&] { BitConverter::ToUInt16(TBytes{}, 0); }},
      {"Marshal.Copy from past the array", [&] { Marshal::Copy(seven, 5, raw, 3); }},
      {"Marshal.Copy into past the array", [&] { Marshal::Copy(raw, dst, 2, 2); }},
      {"Marshal.Copy of a negative length", [&] { Marshal::Copy(raw, dst, 0, -1); }},
      {"BlockCopy into a short array", [&] { Buffer::BlockCopy(seven, 0, out, 1, 2); }},
      {"BlockCopy from past the array", [&] { Buffer::BlockCopy(seven, 6, out, 0, 2); }},
      {"Read into past the array", [&] { ms.Read(out, 1, 2); }},
      {"Read at a negative offset", [&] { ms.Read(out, -1, 1); }},
      {"Write from past the array", [&] { ms.Write(out, 1, 2); }},
      {"negative position", [&] { ms.SetPosition(-1); }},
      {"encode past the end", [&] { e->GetBytes("abcdef", 0, 3, four, 2); }},
      {"encode at the end", [&] { e->GetBytes("abcdef", 0, 1, four, 4); }},
      {"encode at a negative index", [&] { e->GetBytes("abcdef", 0, 1, four, -1); }},
      {"encode past the source", [&] { e->GetBytes("abcdef", 4, 3, four, 0); }},
      {"encode wide past the end", [&] { e->GetBytes(u"xyz", 0, 2, four, 1); }},
      {"decode past the bytes", [&] { e->GetString(seven, 6, 2); }},
      {"decode wide before the bytes", [&] { Encoding::Unicode()->GetWideString(seven, -2, 2); }},
      {"StringBuilder append past the text", [] { StringBuilder("", 0).Append("xyz", 2, 2); }},
  };
  for (const auto& [name, call] : cases) {
    SCOPED_TRACE(name);
    EXPECT_THROW(call(), ArgumentException);
  }
  EXPECT_EQ(out, TBytes(2));
  EXPECT_EQ(dst, TBytes(3));
  EXPECT_EQ(four, Bytes({0, 'b', 'c', 'd'}));
  EXPECT_EQ(ms.Position(), 0);
  EXPECT_EQ(BitConverter::ToUInt16(seven, 5), 0x0706);  // the last whole value still reads
}

TEST(CLRClassesTest, LittleEndianValuesAndOverlappingCopies) {
  TBytes b = Bytes({0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88});
  EXPECT_EQ(BitConverter::ToInt32(b, 1), 0x04030201);
  EXPECT_EQ(BitConverter::ToInt64(b, 1), int64_t{-0x77f8f9fafbfcfdff});
  EXPECT_EQ(BitConverter::GetBytes(0x0102030405060708), Bytes({8, 7, 6, 5, 4, 3, 2, 1}));
  Buffer::BlockCopy(b, 0, b, 1, 4);
  EXPECT_EQ(b, Bytes({0xAA, 0xAA, 0x01, 0x02, 0x03, 0x05, 0x06, 0x07, 0x88}));
}

TEST(CLRClassesTest, EncodingsRoundTripAndWriteInsideTheDestination) {
  SetAnsiCodePage(936);
  const std::string gbk = "\xD3\xCE\xCF\xB7\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF";  // 游戏管理工具
  const std::u16string wide = u"游戏管理工具";
  const Encoding* ansi = Encoding::Default();
  const Encoding* uni = Encoding::Unicode();
  TBytes utf16 = uni->GetBytes(wide);
  ASSERT_EQ(utf16.size(), 12u);
  EXPECT_EQ(utf16[0], 0x38);  // 游 = U+6E38, low byte first
  EXPECT_EQ(ansi->GetWideString(ansi->GetBytes(gbk)), wide);
  EXPECT_EQ(uni->GetString(utf16), gbk);
  EXPECT_EQ(uni->GetWideString(utf16, 2, 4), wide.substr(1, 2));
  EXPECT_EQ(uni->GetWideString(Bytes({'a', 0, 'b', 0, 'c'})), u"ab");  // an odd last byte is dropped
  TBytes dst(4);
  EXPECT_EQ(ansi->GetBytes("abcdef", 1, 3, dst, 1), 3);
  EXPECT_EQ(dst, Bytes({0, 'b', 'c', 'd'}));
  EXPECT_EQ(ansi->GetBytes("abc", 0, 0, dst, 99), 0);  // count < 1: nothing copied
  EXPECT_EQ(ansi->GetBytes(u"xyz", 1, 2, dst, 0), 4);
  EXPECT_EQ(dst, Bytes({'y', 0, 'z', 0}));
}

TEST(CLRClassesTest, StringBuilderReplaceAndLength) {
  const struct {
    const char *text, *oldValue, *newValue, *want;
  } cases[] = {
      {"aaa", "a", "aa", "aaaaaa"},  // replaced text is not searched again
      {"abab", "ab", "", ""},
      {"abc", "", "x", "abc"},  // empty old value: unchanged, no endless loop
      {"abcabc", "bc", "BCD", "aBCDaBCD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.oldValue + " -> " + c.newValue);
    StringBuilder sb(c.text, 0);
    sb.Replace(c.oldValue, c.newValue);
    EXPECT_EQ(sb.ToString(), c.want);
    EXPECT_EQ(sb.Length(), static_cast<int>(std::strlen(c.want)));
  }
  StringBuilder sb("secret", 6);
  sb.SetLength(2);
  sb.Replace("e", "ee");  // sees only the used text
  sb.SetLength(5);        // the cut characters must not come back
  EXPECT_EQ(sb.ToString(), std::string("see\0\0", 5));
  for (int i = 0; i < 1000; ++i) sb.Append('.');
  sb.Append("xdefx", 1, 3);
  EXPECT_EQ(sb.ToString().substr(1003), "..def");
}

// The packet buffer is reused: after a long packet, a short one must not expose the long one's tail.
TEST(CLRClassesTest, MemoryStreamReadsStopAtTheLogicalEnd) {
  MemoryStream ms(0);
  ms.Write(std::string(100, 'L').data(), 0, 100);
  ms.SetLength(0);
  ms.SetPosition(0);
  ms.Write("short", 0, 5);
  ms.SetPosition(1);
  TBytes out(50, 0xEE);
  EXPECT_EQ(ms.Read(out, 1, 49), 4);
  EXPECT_EQ(out[5], 0xEE);
  EXPECT_EQ(ms.Read(out, 0, 50), 0);
  EXPECT_THROW(ms.ReadByte(), ArgumentException);
  ms.SetLength(20);  // growing again shows zeros, not the old packet
  EXPECT_EQ(ms.ReadByte(), 0);
  ms.SetPosition(30);  // so does a position past the end
  ms.SetPosition(25);
  EXPECT_EQ(ms.ReadByte(), 0);
}

}  // namespace
