#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/runtime/LocaleCompare.h"

// The ANSI code page of the tests is 936 (GBK).
TEST(UpperCaseTest, AnsiKeepsMultiByteCharactersWhole) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"abc xyz 09_", "ABC XYZ 09_"},
      {"", ""},
      // B0 61 and B0 41 are two different characters: the trail byte is no letter.
      {"\xb0\x61", "\xb0\x61"},
      {"a\xb0\x61z", "A\xb0\x61Z"},
      // Full-width a becomes full-width A.
      {"\xa3\xe1", "\xa3\xc1"},
      // A8 A1 (a with macron) has no upper-case form in GBK: it stays, the rest is upper-cased.
      {"x\xa8\xa1y", "X\xa8\xa1Y"},
      // A lead byte without a valid trail stands alone and stays.
      {"a\x81", "A\x81"},
      {"\x81 z", "\x81 Z"},
      // ... but 81 7A is one character, whose trail byte is no "z".
      {"\x81z", "\x81z"},
  };
  for (const auto& [text, upper] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(AnsiUpperCase(text), upper);
  }
}

TEST(UpperCaseTest, Wide) {
  EXPECT_EQ(WideUpperCase(u"abc\u00e9"), u"ABC\u00c9");
  EXPECT_EQ(WideUpperCase(u"stra\u00dfe"), u"STRASSE");
  EXPECT_EQ(WideUpperCase(u"\u5f20"), u"\u5f20");
}
