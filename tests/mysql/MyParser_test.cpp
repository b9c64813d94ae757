#include "mysql/MyParser.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "mysql/MyClasses.h"
#include "platform/runtime/Classes.h"
#include "support/MyLiteralModel.h"

namespace {

using Lexemes = std::vector<std::pair<int, std::string>>;

Lexemes LexAll(TMyParser& p) {
  Lexemes out;
  std::string text;
  for (int code; (code = p.GetNext(text)) != lcEnd;) out.emplace_back(code, text);
  return out;
}

Lexemes Lex(const std::string& sql, TCharsetKind cs = TCharsetKind::SingleByte) {
  TMyParser p(sql, cs);
  p.OmitComment = false;
  return LexAll(p);
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

TEST(MyParserTest, Lexemes) {
  struct Case {
    const char* name;
    std::string sql;
    TCharsetKind cs;
    Lexemes want;
  };
  const Case cases[] = {
      {"escaped quote inside", "'it\\'s' x", TCharsetKind::SingleByte,
       {{lcString, "it\\'s"}, {lcIdent, "x"}}},
      {"two backslashes end the escape", "'a\\\\' b", TCharsetKind::SingleByte,
       {{lcString, "a\\\\"}, {lcIdent, "b"}}},
      {"double-quoted string", "\"a'b\"", TCharsetKind::SingleByte, {{lcString, "a'b"}}},
      {"backquoted keyword", "`select` select", TCharsetKind::SingleByte,
       {{lcIdent, "`select`"}, {lxSELECT, "SELECT"}}},
      {"backslash in a quoted identifier", "`a\\` b", TCharsetKind::SingleByte,
       {{lcIdent, "`a\\`"}, {lcIdent, "b"}}},
      {"doubled backquote", "`a``b` c", TCharsetKind::SingleByte, {{lcIdent, "`a``b`"}, {lcIdent, "c"}}},
      {"dollar identifier", "$abc my$t", TCharsetKind::SingleByte, {{lcIdent, "$abc"}, {lcIdent, "my$t"}}},
      {"hash comment", "a # rest\nb", TCharsetKind::SingleByte,
       {{lcIdent, "a"}, {lcComment, "# rest"}, {lcIdent, "b"}}},
      {"dash dash blank", "a -- rest\nb", TCharsetKind::SingleByte,
       {{lcIdent, "a"}, {lcComment, "-- rest"}, {lcIdent, "b"}}},
      {"dash dash tab", "a --\trest", TCharsetKind::SingleByte, {{lcIdent, "a"}, {lcComment, "--\trest"}}},
      {"dash dash line feed", "a --\nb", TCharsetKind::SingleByte,
       {{lcIdent, "a"}, {lcComment, "--"}, {lcIdent, "b"}}},
      {"dash dash at the end", "a --", TCharsetKind::SingleByte, {{lcIdent, "a"}, {lcComment, "--"}}},
      {"dash dash letter is no comment", "a --b", TCharsetKind::SingleByte,
       {{lcIdent, "a"}, {lcSymbol, "-"}, {lcSymbol, "-"}, {lcIdent, "b"}}},
      {"block comment", "a /* x\ny */ b", TCharsetKind::SingleByte,
       {{lcIdent, "a"}, {lcComment, "/* x\ny */"}, {lcIdent, "b"}}},
      {"double slash is no comment", "a // b", TCharsetKind::SingleByte,
       {{lcIdent, "a"}, {lxMySlash, "/"}, {lxMySlash, "/"}, {lcIdent, "b"}}},
      {"symbols", "*=:,./;", TCharsetKind::SingleByte,
       {{lxMyStar, "*"}, {lxMyEqual, "="}, {lxMyColon, ":"}, {lxMyComma, ","}, {lxMyPoint, "."},
        {lxMySlash, "/"}, {lxMySemicolon, ";"}}},
      {"other symbol", "?", TCharsetKind::SingleByte, {{lcSymbol, "?"}}},
      // 乗 (81 5C) before the closing quote is one character, not an escape.
      {"gbk 5C trail before the quote", Bytes({'\'', 0x81, 0x5C, '\'', ' ', 'x'}), TCharsetKind::Gbk,
       {{lcString, Bytes({0x81, 0x5C})}, {lcIdent, "x"}}},
      {"the same bytes on latin1", Bytes({'\'', 0x81, 0x5C, '\'', ' ', 'x', '\''}), TCharsetKind::SingleByte,
       {{lcString, Bytes({0x81, 0x5C, '\'', ' ', 'x'})}}},
      {"escaped lone lead", Bytes({'\'', '\\', 0xBF, '\\', '\'', '\'', ';'}), TCharsetKind::Gbk,
       {{lcString, Bytes({'\\', 0xBF, '\\', '\''})}, {lxMySemicolon, ";"}}},
      // The server takes the one byte after a backslash: its 81 cannot pair with the 5C.
      {"backslash before a lead", Bytes({'\'', '\\', 0x81, 0x5C, '\'', 'a', '\'', 'b'}), TCharsetKind::Gbk,
       {{lcString, Bytes({'\\', 0x81, 0x5C, '\'', 'a'})}, {lcIdent, "b"}}},
      {"unterminated", "'abc\\", TCharsetKind::SingleByte, {{lcString, "abc\\"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Lex(c.sql, c.cs), c.want);
  }
}

TEST(MyParserTest, ClausePositions) {
  TMyParser p("SELECT a FROM t WHERE a = 1 ORDER BY a");
  std::vector<std::pair<int, int>> clauses;  // code, index
  std::string text;
  for (int code; (code = p.GetNext(text)) != lcEnd;)
    if (p.IsClauseLexem(code)) clauses.emplace_back(code, p.ClauseIndex(code));
  EXPECT_EQ(clauses, (std::vector<std::pair<int, int>>{{lxWHERE, 0}, {lxORDER, 3}}));
  EXPECT_EQ(p.ClauseIndex(lxSELECT), -1);
  EXPECT_EQ(p.ClauseIndex(lxLOCK), 7);
  EXPECT_TRUE(p.IsSemicolon(lxMySemicolon));
  EXPECT_FALSE(p.IsSemicolon(lxMyComma));
}

TEST(MyParserTest, PlaceholderInsideAStringIsNoSymbol) {
  TMyParser p("SELECT '?', \"a?\" FROM t WHERE x = ?");
  std::string text;
  int marks = 0;
  for (int code; (code = p.GetNext(text)) != lcEnd;)
    if (code == lcSymbol && text == "?") ++marks;
  EXPECT_EQ(marks, 1);
}

TEST(MyParserTest, LineTrackingInStringsCountsEveryLineBreak) {
  for (bool track : {false, true}) {
    SCOPED_TRACE(track);
    TMyParser p("'a\r\nb\\\nc\\'' x");
    p.TrackLinesInStrings = track;
    std::string text;
    EXPECT_EQ(p.GetNext(text), lcString);
    EXPECT_EQ(text, "a\r\nb\\\nc\\'");
    EXPECT_EQ(p.GetNext(text), lcIdent);
    EXPECT_EQ(text, "x");
    if (track) EXPECT_EQ(p.GetCurrLine(), 2);
  }
}

TEST(MyParserTest, StreamModeReadsStringsAcrossBlocks) {
  const std::string sql = Bytes({'S', 'E', 'L', 'E', 'C', 'T', ' ', '\'', 0x81, 0x5C, '\\', '\'', 0xBB, 0x5C,
                                 '\'', ' ', '#', 'c', '\n', '`', 'w', 'h', 'e', 'r', 'e', '`'});
  for (size_t block : {1u, 2u, 3u, 7u, 64u}) {
    SCOPED_TRACE(block);
    TMemoryStream stream;
    stream.Write(sql.data(), static_cast<int64_t>(sql.size()));
    stream.SetPosition(0);
    TMyParser p(stream, TCharsetKind::Gbk);
    p.SetBlockSize(block);
    p.OmitComment = false;
    Lexemes want = {{lxSELECT, "SELECT"},
                    {lcString, Bytes({0x81, 0x5C, '\\', '\'', 0xBB, 0x5C})},
                    {lcComment, "#c"},
                    {lcIdent, "`where`"}};
    EXPECT_EQ(LexAll(p), want);
  }
}

// The lexer reads our literals back whole in every character set: the string ends at our closing
// quote and the server's reading of its content gives the bytes quoted.
TEST(MyParserTest, FindsTheEndOfEveryQuotedBytePair) {
  const TCharsetKind sets[] = {TCharsetKind::SingleByte, TCharsetKind::Utf8, TCharsetKind::Gbk,
                               TCharsetKind::Gb2312, TCharsetKind::Big5, TCharsetKind::Sjis};
  for (TCharsetKind cs : sets) {
    SCOPED_TRACE(static_cast<int>(cs));
    for (int a = 0; a < 256; ++a)
      for (int b = 0; b < 256; b += (a >= 0x80 ? 1 : 7)) {
        std::string value = Bytes({a, b});
        std::string literal = QuoteString(value, cs);
        TMyParser p(literal + ";", cs);
        p.KeepStringQuotes = true;
        std::string text;
        ASSERT_EQ(p.GetNext(text), lcString) << a << " " << b;
        ASSERT_EQ(text, literal) << a << " " << b;
        ASSERT_EQ(p.GetNext(text), lxMySemicolon) << a << " " << b;
        auto lit = ServerReadLiteral(literal, cs);
        ASSERT_TRUE(lit);
        ASSERT_EQ(lit->Value, value);
      }
  }
}

}  // namespace
