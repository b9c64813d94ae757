#include "platform/runtime/Charset.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/runtime/Exceptions.h"

namespace {

struct MbCase {
  const char* name;
  TCharsetKind cs;
  std::string bytes;
  size_t expected;
};

TEST(CharsetTest, MultiByteCharacterLengths) {
  const std::vector<MbCase> cases = {
      {"ascii", TCharsetKind::Gbk, "A", 1},
      {"gbk pair with 5C trail", TCharsetKind::Gbk, "\x81\x5C", 2},
      {"gbk pair with 7C trail", TCharsetKind::Gbk, "\xB0\x7C", 2},
      {"gbk lead then quote is lone", TCharsetKind::Gbk, "\x81\x27", 1},
      {"gbk lead at end is lone", TCharsetKind::Gbk, "\x81", 1},
      {"gbk lead FF is no lead", TCharsetKind::Gbk, "\xFF\x40", 1},
      {"gb2312 has no 5C trail", TCharsetKind::Gb2312, "\xBB\x5C", 1},
      {"gb2312 pair", TCharsetKind::Gb2312, "\xD3\xCE", 2},
      {"big5 pair with 5C trail", TCharsetKind::Big5, "\xA5\x5C", 2},
      {"sjis pair with 5C trail", TCharsetKind::Sjis, "\x95\x5C", 2},
      {"sjis half-width kana alone", TCharsetKind::Sjis, "\xB1\x41", 1},
      {"gb18030 four bytes", TCharsetKind::Gb18030, "\x81\x30\x81\x30", 4},
      {"gb18030 cut four bytes", TCharsetKind::Gb18030, "\x81\x30\x81", 1},
      {"utf8 three bytes", TCharsetKind::Utf8, "\xE6\xB8\xB8", 3},
      {"utf8 truncated", TCharsetKind::Utf8, "\xE6\xB8", 1},
      {"utf8 overlong", TCharsetKind::Utf8, "\xC0\xAF", 1},
      {"latin1 high byte", TCharsetKind::SingleByte, "\x81\x5C", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Exactly sized heap copy so the sanitizer catches an over-read.
    std::vector<char> buf(c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(MbCharLen(c.cs, buf.data(), buf.data() + buf.size()), c.expected);
  }
}

TEST(CharsetTest, CutNeverSplitsACharacter) {
  std::string text = "a\xD3\xCE\xCF\xB7";  // a + two GBK characters
  EXPECT_EQ(MbCutLength(TCharsetKind::Gbk, text, 2), 1u);
  EXPECT_EQ(MbCutLength(TCharsetKind::Gbk, text, 3), 3u);
  EXPECT_EQ(MbCutLength(TCharsetKind::Gbk, text, 10), 5u);
  EXPECT_EQ(MbCutLength(TCharsetKind::SingleByte, text, 2), 2u);
}

TEST(CharsetTest, CharsetNames) {
  EXPECT_EQ(CharsetKindByName("GBK"), TCharsetKind::Gbk);
  EXPECT_EQ(CharsetKindByName("utf8mb3"), TCharsetKind::Utf8);
  EXPECT_EQ(CharsetKindByName("cp932"), TCharsetKind::Sjis);
  EXPECT_EQ(CharsetKindByName(""), TCharsetKind::SingleByte);
  EXPECT_EQ(CharsetKindByName("latin1"), TCharsetKind::SingleByte);
}

TEST(CodecTest, GbkRoundTripsThroughUtf16) {
  ASSERT_EQ(GetAnsiCodePage(), 936);
  // "游戏管理工具" in GBK.
  const std::string gbk = "\xD3\xCE\xCF\xB7\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF";
  std::u16string wide = AnsiToWide(gbk);
  EXPECT_EQ(wide, u"游戏管理工具");
  EXPECT_EQ(WideToAnsi(wide), gbk);
  EXPECT_EQ(WideToUtf8(wide), "游戏管理工具");
  EXPECT_EQ(AnsiToUtf8(gbk), "游戏管理工具");
  EXPECT_EQ(Utf8ToAnsi("游戏管理工具"), gbk);
}

TEST(CodecTest, InvalidBytesDecodeToReplacementWithoutOverRead) {
  std::vector<char> lone = {'a', '\x81'};  // lead byte cut by the end
  EXPECT_EQ(AnsiToWide(std::string_view(lone.data(), lone.size())), u"a\xFFFD");
  std::vector<char> badTrail = {'\x81', '\x27', 'b'};  // lead followed by a quote
  EXPECT_EQ(AnsiToWide(std::string_view(badTrail.data(), badTrail.size())), u"\xFFFD'b");
  std::vector<char> ff = {'\xFF'};
  EXPECT_EQ(AnsiToWide(std::string_view(ff.data(), ff.size())), u"\xFFFD");
  EXPECT_EQ(Utf8ToWide("x\xC3"), u"x\xFFFD");
}

TEST(CodecTest, UnmappableCharactersEncodeAsQuestionMark) {
  EXPECT_EQ(WideToAnsi(u"a\u0E01b"), "a?b");  // Thai letter: not in GBK
  const char16_t lone[] = {u'x', 0xD800, u'y'};
  EXPECT_EQ(WideToAnsi(std::u16string_view(lone, 3)), "x?y");
  EXPECT_EQ(WideToCodePage(u"\U0001F600", 1252), "?");  // a pair counts once
  EXPECT_EQ(AnsiToWide(""), u"");
}

TEST(CodecTest, CodePageIsSettable) {
  SetAnsiCodePage(1252);
  EXPECT_EQ(AnsiToWide("\xE9"), u"\u00E9");
  EXPECT_FALSE(IsAnsiMultiByte());
  SetAnsiCodePage(936);
  EXPECT_TRUE(IsAnsiMultiByte());
  EXPECT_THROW(SetAnsiCodePage(12345), EConvertError);
}

}  // namespace
