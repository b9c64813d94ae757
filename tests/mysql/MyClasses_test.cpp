#include "mysql/MyClasses.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "support/MyLiteralModel.h"

namespace {

const std::array<std::pair<const char*, TCharsetKind>, 9> AllCharsets = {
    {{"latin1", TCharsetKind::SingleByte},
     {"utf8", TCharsetKind::Utf8},
     {"gbk", TCharsetKind::Gbk},
     {"gb2312", TCharsetKind::Gb2312},
     {"big5", TCharsetKind::Big5},
     {"sjis", TCharsetKind::Sjis},
     {"gb18030", TCharsetKind::Gb18030},
     {"euckr", TCharsetKind::EucKr},
     {"ujis", TCharsetKind::Ujis}}};
const TCharsetKind L = TCharsetKind::SingleByte, G = TCharsetKind::Gbk;

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

// The forms written; that every input reads back: below, and MyLiteral_dbtest.
TEST(MyEscapeTest, QuotesTextAsTheServerExpects) {
  const std::tuple<const char*, std::string, TCharsetKind, std::string> cases[] = {
      {"quote and line break", "It's\r\n", L, "'It\\'s\\r\\n'"},
      {"nul", std::string("a\0b", 3), L, "'a\\0b'"},
      {"ctrl-z, double quote, backslash", "\x1A\"\\", L, "'\\Z\\\"\\\\'"},
      {"tab stays", "a\tb", L, "'a\tb'"},
      // 乗 is 81 5C in GBK: one character there, two bytes on latin1.
      {"gbk 5C trail kept whole", Bytes({0x81, 0x5C, 'n'}), G, Bytes({'\'', 0x81, 0x5C, 'n', '\''})},
      {"5C trail escaped on latin1", Bytes({0x81, 0x5C, 'n'}), L, Bytes({'\'', 0x81, 0x5C, 0x5C, 'n', '\''})},
      // A lone lead before a quote: an inserted backslash would become its trail.
      {"gbk lone lead before quote", Bytes({0xBF, 0x27}), G, Bytes({'\'', '\\', 0xBF, '\\', 0x27, '\''})},
  };
  for (const auto& [name, src, cs, want] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(QuoteString(src, cs), want);
  }
}

TEST(MyEscapeTest, EscapeStringFitsTwiceTheLengthAndEndsWithZero) {
  const std::string src = Bytes({'\'', 0x81, '\\', 0, 0xFF, 0xFE, '"'});
  std::string dest(2 * src.size() + 1, '\x7F');
  const size_t n = EscapeString(dest.data(), src.data(), src.size(), G);
  ASSERT_LE(n, 2 * src.size());
  EXPECT_EQ(dest[n], '\0');
  const auto lit = ServerReadLiteral("'" + dest.substr(0, n) + "'", G);
  EXPECT_TRUE(lit && lit->Value == src);
}

// Every pair of bytes, and every run of four among the bytes around leads, quotes and
// backslashes, reads back exactly and the literal ends at our closing quote, in every character
// set.
TEST(MyEscapeTest, EveryBytePairAndRunRoundTripsThroughTheServerReading) {
  const int interesting[] = {0x00, 0x0A, 0x22, 0x27, 0x30, 0x39, 0x40, 0x5C, 0x7E, 0x7F, 0x80,
                             0x81, 0x8E, 0x8F, 0xA1, 0xBB, 0xDF, 0xE0, 0xF7, 0xFC, 0xFE, 0xFF};
  std::vector<std::string> inputs;
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) inputs.push_back(Bytes({a, b}));
  for (int a : interesting)
    for (int b : interesting)
      for (int c : interesting)
        for (int d : interesting) inputs.push_back(Bytes({a, b, c, d}));
  for (auto [name, cs] : AllCharsets) {
    SCOPED_TRACE(name);
    int failures = 0;
    for (size_t i = 0; i < inputs.size() && failures < 5; ++i) {
      const std::string q = QuoteString(inputs[i], cs);
      const auto lit = ServerReadLiteral(q + " OR 1", cs);
      if (!lit || lit->Value != inputs[i] || lit->Length != q.size()) {
        ++failures;
        ADD_FAILURE() << "input " << i;
      }
    }
  }
}

// A session under NO_BACKSLASH_ESCAPES: only the quote is escaped, by doubling it, and every
// input still reads back whole up to our closing quote.
TEST(MyEscapeTest, WithoutBackslashEscapesOnlyQuotesAreDoubled) {
  EXPECT_EQ(QuoteString(std::string("It's\\\r\n\0", 8), L, true), std::string("'It''s\\\r\n\0'", 11));
  EXPECT_EQ(QuoteBinary(Bytes({0x27, 0x5C}), L, true), "'''\\'");
  std::vector<std::string> inputs;
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) inputs.push_back(Bytes({a, b, 0x27}));
  for (auto [name, cs] : AllCharsets) {
    SCOPED_TRACE(name);
    int failures = 0;
    for (size_t i = 0; i < inputs.size() && failures < 5; ++i) {
      const std::string q = QuoteString(inputs[i], cs, true);
      const auto lit = ServerReadLiteral(q + " OR 1", cs, true);
      if (!lit || lit->Value != inputs[i] || lit->Length != q.size()) {
        ++failures;
        ADD_FAILURE() << "input " << i;
      }
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
  EXPECT_EQ(QuoteBinary(bytes, G), "X'005C27FF'");
  EXPECT_EQ(QuoteBinary(bytes, TCharsetKind::Utf8), "X'005C27FF'");
  EXPECT_EQ(QuoteBinary(bytes, L), Bytes({'\'', '\\', '0', '\\', '\\', '\\', '\'', 0xFF, '\''}));
  EXPECT_EQ(QuoteBinary("", G), "''");
}

TEST(MyErrorTest, SyntaxErrorsCarryTheirLineNumber) {
  const std::tuple<int, const char*, int> cases[] = {
      {1064, "You have an error in your SQL syntax; check the manual near 'x' at line 12", 12},
      {1064, "near 'SELEC 5' at line 3 ", 3},
      {1064, "no number here", 0},
      {1064, "at line 99999999999", 0},  // does not fit: not a line number
      {1146, "Table 'a.t12' doesn't exist", 0}};
  for (const auto& [code, message, line] : cases) {
    SCOPED_TRACE(message);
    const EMyError e(code, message);
    EXPECT_EQ(e.LineNumber, line);
    EXPECT_EQ(e.Message(), message);
  }
}

// Every kind of the family, raised as the library raises it: what() holds the message's text, from
// its first line with text (a server's error starts with CR LF).
TEST(MyErrorTest, WhatCarriesTheMessageOfEveryKind) {
  const auto whatOf = [](const std::function<void()>& raise) -> std::pair<std::string, std::string> {
    try {
      raise();
    } catch (const std::exception& e) {
      const auto* own = dynamic_cast<const Exception*>(&e);
      return {e.what(), own != nullptr ? own->Message() : "not of the family"};
    }
    return {"nothing raised", ""};
  };
  const std::string server = "You have an error in your SQL syntax; check the manual near 'from' at line 2";
  const struct {
    const char* Name;
    std::function<void()> Raise;
    std::string What;
  } cases[] = {
      {"server error as the connection raises it",
       [&] { throw EMyError(1064, MySqlErrorMessage(1064, {}, server)); }, server},
      {"server error of the protocol layer",
       [&] { throw EMySqlException(1146, MySqlErrorMessage(1146, {}, "Table 't' doesn't exist")); },
       "Table 't' doesn't exist"},
      {"client error with its detail", [] { RaiseMySqlClientError(2013, {}, "read timed out"); },
       std::string(MySqlClientErrorText(2013)) + "\r\nread timed out"},
      {"data-access error", [] { throw EDAError(1, "Update failed. Found 0 records"); },
       "Update failed. Found 0 records"},
      {"message set after construction",
       [] {
         EDAError e(1062, "");
         e.SetMessage("\r\n\r\nDuplicate entry '1'");
         throw e;
       },
       "Duplicate entry '1'"},
      {"copied while propagating",
       [&] {
         try {
           throw EMyError(1064, "\r\n" + server);
         } catch (const EDAError& e) {
           const EDAError copy = e;
           throw copy;
         }
       },
       server},
      {"operating-system error", [] { throw EOSError(2, "No such file"); }, "No such file"},
      {"assertion", [] { DA_ASSERT_MSG(false, "state"); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto [what, message] = whatOf(c.Raise);
    EXPECT_FALSE(what.empty());
    if (!c.What.empty()) {
      EXPECT_EQ(what, c.What);
    }
    EXPECT_NE(message.find(what), std::string::npos) << "what() is the message's own text";
  }
}

TEST(MyNamesTest, BackquoteName) {
  const std::tuple<const char*, std::string, bool, TCharsetKind, std::string> cases[] = {
      {"db and name", "db.my table", false, L, "db.`my table`"},
      {"plain", "tbl", false, L, "tbl"},
      {"dollar and hash", "my$t#1", false, L, "my$t#1"},
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
      // A reserved word would be read as the keyword; a keyword the server allows as a name stays bare.
      {"reserved word", "from", false, L, "`from`"},
      {"reserved word in mixed case", "oRdEr", false, L, "`oRdEr`"},
      {"db and reserved name", "zoneA.key", false, L, "zoneA.`key`"},
      {"keyword allowed as a name", "user", false, L, "user"},
  };
  for (const auto& [name, src, force, cs, want] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(BackquoteName(src, force, cs), want);
  }
  // 81 then the closing backquote would be one GBK character: the name cannot be quoted.
  EXPECT_THROW(BackquoteName(Bytes({'a', 0x81}), true, G), EDatabaseError);
  EXPECT_THROW(BackquoteName(Bytes({'a', 0x81, '.', 'b'}), false, G), EDatabaseError);
  EXPECT_EQ(BackquoteName(Bytes({'a', 0x81}), true, L), Bytes({'`', 'a', 0x81, '`'}));
  EXPECT_EQ(BackquoteName(Bytes({'a', 0xC3}), true, TCharsetKind::Utf8), Bytes({'`', 'a', 0xC3, '`'}));
}

TEST(MyNamesTest, UnquoteAndSplit) {
  const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
      {"`tbl`", "tbl", "", "tbl"},
      {"`my table`", "`my table`", "", "`my table`"},
      {"``", "``", "", "``"},
      {"`db`.`t`", "db.t", "db", "t"},
      {"\"db\".'t$1'", "db.t$1", "db", "t$1"},
      {"`my.db`.t", "`my.db`.t", "`my.db`", "t"},
      {"a.b.`c`", "a.b.c", "a", "b.c"},
  };
  for (const auto& [name, unquoted, db, obj] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(UnquoteName(name, L), unquoted);
    std::string gotDb, gotObj;
    SplitObjectName(name, gotDb, gotObj, L);
    EXPECT_EQ(gotDb + "|" + gotObj, std::string(db) + "|" + obj);
  }
  // The 60 trail of a GBK character does not close the quoted part.
  std::string db, obj;
  SplitObjectName(Bytes({'`', 0x81, 0x60, '.', 'x', '`', '.', 't'}), db, obj, G);
  EXPECT_EQ(db + "|" + obj, Bytes({'`', 0x81, 0x60, '.', 'x', '`', '|', 't'}));
}

TEST(MyNamesTest, EscapeBackquotes) {
  const std::tuple<const char*, std::string, TCharsetKind, std::string> cases[] = {
      {"inner", "a`b", L, "a``b"},
      {"enclosed", "`a`b`", L, "`a``b`"},
      {"double quotes", "\"a`b\"", L, "\"a``b\""},
      {"already doubled", "a``b", L, "a``b"},
      {"first and last", "`a", L, "`a"},
      {"gbk 60 trail", Bytes({'a', 0x81, 0x60, 'b'}), G, Bytes({'a', 0x81, 0x60, 'b'})},
      {"gbk 60 trail on latin1", Bytes({'a', 0x81, 0x60, 'b'}), L, Bytes({'a', 0x81, 0x60, 0x60, 'b'})}};
  for (const auto& [name, src, cs, want] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(EscapeBackquotes(src, cs), want);
  }
}

}  // namespace
