#include "mysql/MyClasses.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/MyLiteralModel.h"

namespace {

const std::array<std::pair<const char*, TCharsetKind>, 9> AllCharsets = {{
    {"latin1", TCharsetKind::SingleByte},
    {"utf8", TCharsetKind::Utf8},
    {"gbk", TCharsetKind::Gbk},
    {"gb2312", TCharsetKind::Gb2312},
    {"big5", TCharsetKind::Big5},
    {"sjis", TCharsetKind::Sjis},
    {"gb18030", TCharsetKind::Gb18030},
    {"euckr", TCharsetKind::EucKr},
    {"ujis", TCharsetKind::Ujis},
}};

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

TEST(MyEscapeTest, QuotesTextAsTheServerExpects) {
  struct Case {
    const char* name;
    std::string src;
    TCharsetKind cs;
    std::string want;
  };
  const Case cases[] = {
      {"quote and line break", "It's\r\n", TCharsetKind::SingleByte, "'It\\'s\\r\\n'"},
      {"nul", std::string("a\0b", 3), TCharsetKind::SingleByte, "'a\\0b'"},
      {"ctrl-z, double quote, backslash", "\x1A\"\\", TCharsetKind::SingleByte, "'\\Z\\\"\\\\'"},
      {"tab stays", "a\tb", TCharsetKind::SingleByte, "'a\tb'"},
      {"empty", "", TCharsetKind::Gbk, "''"},
      // 乗 is 81 5C in GBK: one character there, two bytes on latin1.
      {"gbk 5C trail kept whole", Bytes({0x81, 0x5C, 'n'}), TCharsetKind::Gbk, Bytes({'\'', 0x81, 0x5C, 'n', '\''})},
      {"5C trail escaped on latin1", Bytes({0x81, 0x5C, 'n'}), TCharsetKind::SingleByte,
       Bytes({'\'', 0x81, 0x5C, 0x5C, 'n', '\''})},
      // A lone lead before a quote: an inserted backslash would become its trail.
      {"gbk lone lead before quote", Bytes({0xBF, 0x27}), TCharsetKind::Gbk,
       Bytes({'\'', '\\', 0xBF, '\\', 0x27, '\''})},
      // BB 5C is GBK only: on gb2312 the 5C is a backslash.
      {"gb2312 lead with gbk-only trail", Bytes({0xBB, 0x5C}), TCharsetKind::Gb2312,
       Bytes({'\'', '\\', 0xBB, '\\', '\\', '\''})},
      {"gb2312 pair", Bytes({0xB0, 0xA1}), TCharsetKind::Gb2312, Bytes({'\'', 0xB0, 0xA1, '\''})},
      {"utf8 pair", "\xC3\xA9'", TCharsetKind::Utf8, "'\xC3\xA9\\''"},
      {"sjis 5C trail", Bytes({0x95, 0x5C}), TCharsetKind::Sjis, Bytes({'\'', 0x95, 0x5C, '\''})},
      {"lead at the end", Bytes({'a', 0x81}), TCharsetKind::Gbk, Bytes({'\'', 'a', '\\', 0x81, '\''})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(QuoteString(c.src, c.cs), c.want);
  }
}

TEST(MyEscapeTest, EscapeStringFitsTwiceTheLengthAndEndsWithZero) {
  const std::string src = Bytes({'\'', 0x81, '\\', 0, 0xFF, 0xFE, '"'});
  std::string dest(2 * src.size() + 1, '\x7F');
  size_t n = EscapeString(dest.data(), src.data(), src.size(), TCharsetKind::Gbk);
  ASSERT_LE(n, 2 * src.size());
  EXPECT_EQ(dest[n], '\0');
  auto lit = ServerReadLiteral("'" + dest.substr(0, n) + "'", TCharsetKind::Gbk);
  ASSERT_TRUE(lit);
  EXPECT_EQ(lit->Value, src);
}

// Every pair of bytes, and every byte between the interesting ones, read back exactly and the
// literal ends at our closing quote, in every character set.
TEST(MyEscapeTest, EveryBytePairRoundTripsThroughTheServerReading) {
  for (auto [name, cs] : AllCharsets) {
    SCOPED_TRACE(name);
    int failures = 0;
    for (int a = 0; a < 256 && failures < 5; ++a)
      for (int b = 0; b < 256 && failures < 5; ++b) {
        std::string src = Bytes({a, b});
        std::string q = QuoteString(src, cs);
        auto lit = ServerReadLiteral(q + " OR 1", cs);
        if (!lit || lit->Value != src || lit->Length != q.size()) {
          ++failures;
          ADD_FAILURE() << "bytes " << a << " " << b;
        }
      }
  }
}

TEST(MyEscapeTest, TriplesAroundLeadsQuotesAndBackslashesRoundTrip) {
  const int interesting[] = {0x00, 0x0A, 0x22, 0x27, 0x30, 0x39, 0x40, 0x5C, 0x7E, 0x7F, 0x80,
                             0x81, 0x8E, 0x8F, 0xA1, 0xBB, 0xDF, 0xE0, 0xF7, 0xFC, 0xFE, 0xFF};
  for (auto [name, cs] : AllCharsets) {
    SCOPED_TRACE(name);
    for (int a : interesting)
      for (int b : interesting)
        for (int c : interesting)
          for (int d : interesting) {
            std::string src = Bytes({a, b, c, d});
            std::string q = QuoteString(src, cs);
            auto lit = ServerReadLiteral(q, cs);
            ASSERT_TRUE(lit) << a << " " << b << " " << c << " " << d;
            ASSERT_EQ(lit->Value, src);
            ASSERT_EQ(lit->Length, q.size());
          }
  }
}

TEST(MyEscapeTest, WideTextIsEscapedByUnit) {
  EXPECT_EQ(QuoteWideString(u"It's\r\n"), u"'It\\'s\\r\\n'");
  EXPECT_EQ(QuoteWideString(std::u16string(u"\0\x1A\"\\\u4E57", 5)), u"'\\0\\Z\\\"\\\\\u4E57'");
  EXPECT_EQ(QuoteWideString(u""), u"''");
}

TEST(MyEscapeTest, BinaryIsHexOnMultiByteSets) {
  const std::string bytes = Bytes({0x00, 0x5C, 0x27, 0xFF});
  EXPECT_EQ(QuoteBinary(bytes, TCharsetKind::Gbk), "X'005C27FF'");
  EXPECT_EQ(QuoteBinary(bytes, TCharsetKind::Utf8), "X'005C27FF'");
  EXPECT_EQ(QuoteBinary(bytes, TCharsetKind::SingleByte), Bytes({'\'', '\\', '0', '\\', '\\', '\\', '\'', 0xFF, '\''}));
  EXPECT_EQ(QuoteBinary("", TCharsetKind::Gbk), "''");
  auto lit = ServerReadHexLiteral(QuoteBinary(bytes, TCharsetKind::Gb2312));
  ASSERT_TRUE(lit);
  EXPECT_EQ(lit->Value, bytes);
}

TEST(MyErrorTest, SyntaxErrorsCarryTheirLineNumber) {
  struct Case {
    int code;
    const char* msg;
    int line;
  };
  const Case cases[] = {
      {1064, "You have an error in your SQL syntax; check the manual near 'x' at line 12", 12},
      {1064, "near 'SELEC 5' at line 3 ", 3},
      {1064, "no number here", 0},
      {1064, "at line 99999999999", 0},  // does not fit: not a line number
      {1146, "Table 'a.t12' doesn't exist", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.msg);
    EMyError e(c.code, c.msg);
    EXPECT_EQ(e.LineNumber, c.line);
    EXPECT_EQ(e.ErrorCode, c.code);
    EXPECT_EQ(e.Message(), c.msg);
  }
}

TEST(MyNamesTest, NameRules) {
  EXPECT_FALSE(TMyTableInfo::IsBracketNeeds("my$table"));
  EXPECT_FALSE(TMyTableInfo::IsBracketNeeds("`a_b#c@1`"));
  EXPECT_TRUE(TMyTableInfo::IsBracketNeeds("my-table"));
  EXPECT_TRUE(TMyTableInfo::IsBracketNeeds("\xB1\xED"));  // GBK 表
  EXPECT_TRUE(TMyTableInfo::IsQuotedName("\"x\""));
  EXPECT_TRUE(TMyTableInfo::IsQuotedName("''"));
  EXPECT_FALSE(TMyTableInfo::IsQuotedName("`x'"));
  EXPECT_FALSE(TMyTableInfo::IsQuotedName("`"));
  EXPECT_TRUE(TMyTableInfo::IsQuotedName("`a.b`"));  // a point inside quotes is part of the name
  EXPECT_THROW(TMyTableInfo::IsQuotedName("a.b"), EAssertionFailed);
  EXPECT_THROW(TMyTableInfo::IsBracketNeeds("a.b"), EAssertionFailed);
}

TEST(MyNamesTest, BackquoteName) {
  struct Case {
    const char* name;
    std::string src;
    bool force;
    TCharsetKind cs;
    std::string want;
  };
  const TCharsetKind L = TCharsetKind::SingleByte, G = TCharsetKind::Gbk;
  const Case cases[] = {
      {"db and name", "db.my table", false, L, "db.`my table`"},
      {"plain", "tbl", false, L, "tbl"},
      {"forced", "tbl", true, L, "`tbl`"},
      {"quoted, forced", "`tbl`", true, L, "`tbl`"},
      {"double-quoted", "\"my table\"", false, L, "\"my table\""},
      {"leading point", ".tbl", false, L, "`.tbl`"},
      {"trailing point", "db.", false, L, "`db.`"},
      {"three parts", "a.b.c d", false, L, "a.b.`c d`"},
      {"point inside quotes", "`my.db`.t", false, L, "`my.db`.t"},
      {"empty", "", false, L, ""},
      // Backquotes inside are doubled; a badly quoted name is quoted afresh, never trusted.
      {"inner backquote", "a`b", false, L, "`a``b`"},
      {"crafted", "`a`;DROP TABLE t;`", false, L, "```a``;DROP TABLE t;```"},
      {"already doubled", "`a``b`", false, L, "`a``b`"},
      {"backslash in string quotes", "'a\\'", false, L, "`'a\\'`"},
      {"quote then text", "`a.b`c", false, L, "```a.b``c`"},
      // GBK 81 60 is one character whose trail is a backquote byte: doubled on latin1 only.
      {"gbk 60 trail", Bytes({0x81, 0x60}), false, G, Bytes({'`', 0x81, 0x60, '`'})},
      {"gbk 60 trail on latin1", Bytes({0x81, 0x60}), false, L, Bytes({'`', 0x81, 0x60, 0x60, '`'})},
      {"gbk name with a point", Bytes({0xB1, 0xED, '.', 0x81, 0x60}), false, G,
       Bytes({'`', 0xB1, 0xED, '`', '.', '`', 0x81, 0x60, '`'})},
      {"quoted gbk name kept", Bytes({'`', 0x81, 0x60, '`'}), false, G, Bytes({'`', 0x81, 0x60, '`'})},
      {"lone lead inside", Bytes({'a', 0x81, '-', 'b'}), false, G, Bytes({'`', 'a', 0x81, '-', 'b', '`'})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(BackquoteName(c.src, c.force, c.cs), c.want);
  }
  // 81 then the closing backquote would be one GBK character: the name cannot be quoted.
  EXPECT_THROW(BackquoteName(Bytes({'a', 0x81}), true, G), EDatabaseError);
  EXPECT_THROW(BackquoteName(Bytes({'a', 0x81, '.', 'b'}), false, G), EDatabaseError);
  EXPECT_EQ(BackquoteName(Bytes({'a', 0x81}), true, L), Bytes({'`', 'a', 0x81, '`'}));
  EXPECT_EQ(BackquoteName(Bytes({'a', 0xC3}), true, TCharsetKind::Utf8), Bytes({'`', 'a', 0xC3, '`'}));
}

TEST(MyNamesTest, UnquoteAndSplit) {
  struct Case {
    const char* name;
    const char* unquoted;
    const char* db;
    const char* obj;
  };
  const Case cases[] = {
      {"`tbl`", "tbl", "", "tbl"},
      {"`my table`", "`my table`", "", "`my table`"},
      {"``", "``", "", "``"},
      {"`db`.`t`", "db.t", "db", "t"},
      {"\"db\".'t$1'", "db.t$1", "db", "t$1"},
      {"`my.db`.t", "`my.db`.t", "`my.db`", "t"},
      {"a.b.`c`", "a.b.c", "a", "b.c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UnquoteName(c.name, TCharsetKind::SingleByte), c.unquoted);
    std::string db, obj;
    SplitObjectName(c.name, db, obj, TCharsetKind::SingleByte);
    EXPECT_EQ(db, c.db);
    EXPECT_EQ(obj, c.obj);
  }
  // The 60 trail of a GBK character does not close the quoted part.
  std::string db, obj;
  SplitObjectName(Bytes({'`', 0x81, 0x60, '.', 'x', '`', '.', 't'}), db, obj, TCharsetKind::Gbk);
  EXPECT_EQ(db, Bytes({'`', 0x81, 0x60, '.', 'x', '`'}));
  EXPECT_EQ(obj, "t");
}

TEST(MyNamesTest, EscapeBackquotes) {
  struct Case {
    const char* name;
    std::string src;
    TCharsetKind cs;
    std::string want;
  };
  const TCharsetKind L = TCharsetKind::SingleByte;
  const Case cases[] = {
      {"inner", "a`b", L, "a``b"},
      {"enclosed", "`a`b`", L, "`a``b`"},
      {"double quotes", "\"a`b\"", L, "\"a``b\""},
      {"already doubled", "a``b", L, "a``b"},
      {"first", "`a", L, "`a"},
      {"last", "a`", L, "a`"},
      {"plain", "plain", L, "plain"},
      {"empty", "", L, ""},
      {"gbk 60 trail", Bytes({'a', 0x81, 0x60, 'b'}), TCharsetKind::Gbk, Bytes({'a', 0x81, 0x60, 'b'})},
      {"gbk 60 trail on latin1", Bytes({'a', 0x81, 0x60, 'b'}), L, Bytes({'a', 0x81, 0x60, 0x60, 'b'})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EscapeBackquotes(c.src, c.cs), c.want);
  }
}

}  // namespace
