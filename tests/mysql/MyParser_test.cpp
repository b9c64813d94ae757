#include "mysql/MyParser.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "mysql/MyClasses.h"
#include "platform/runtime/Classes.h"

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
  const TCharsetKind L = TCharsetKind::SingleByte, G = TCharsetKind::Gbk;
  const std::tuple<const char*, std::string, TCharsetKind, Lexemes> cases[] = {
      {"escaped quote inside", "'it\\'s' x", L, {{lcString, "it\\'s"}, {lcIdent, "x"}}},
      {"two backslashes end the escape", "'a\\\\' b", L, {{lcString, "a\\\\"}, {lcIdent, "b"}}},
      {"double-quoted string", "\"a'b\"", L, {{lcString, "a'b"}}},
      {"backquoted keyword", "`select` select", L, {{lcIdent, "`select`"}, {lxSELECT, "SELECT"}}},
      {"backslash in a quoted identifier", "`a\\` b", L, {{lcIdent, "`a\\`"}, {lcIdent, "b"}}},
      {"doubled backquote", "`a``b` c", L, {{lcIdent, "`a``b`"}, {lcIdent, "c"}}},
      {"dollar identifier", "$abc my$t", L, {{lcIdent, "$abc"}, {lcIdent, "my$t"}}},
      {"hash comment", "a # rest\nb", L, {{lcIdent, "a"}, {lcComment, "# rest"}, {lcIdent, "b"}}},
      {"dash dash blank", "a -- rest\nb", L, {{lcIdent, "a"}, {lcComment, "-- rest"}, {lcIdent, "b"}}},
      {"dash dash tab", "a --\trest", L, {{lcIdent, "a"}, {lcComment, "--\trest"}}},
      {"dash dash line feed", "a --\nb", L, {{lcIdent, "a"}, {lcComment, "--"}, {lcIdent, "b"}}},
      {"dash dash at the end", "a --", L, {{lcIdent, "a"}, {lcComment, "--"}}},
      {"dash dash letter is no comment",
       "a --b",
       L,
       {{lcIdent, "a"}, {lcSymbol, "-"}, {lcSymbol, "-"}, {lcIdent, "b"}}},
      {"block comment", "a /* x\ny */ b", L, {{lcIdent, "a"}, {lcComment, "/* x\ny */"}, {lcIdent, "b"}}},
      {"double slash is no comment",
       "a // b",
       L,
       {{lcIdent, "a"}, {lxMySlash, "/"}, {lxMySlash, "/"}, {lcIdent, "b"}}},
      {"symbols",
       "*=:,./;",
       L,
       {{lxMyStar, "*"},
        {lxMyEqual, "="},
        {lxMyColon, ":"},
        {lxMyComma, ","},
        {lxMyPoint, "."},
        {lxMySlash, "/"},
        {lxMySemicolon, ";"}}},
      {"other symbol", "?", L, {{lcSymbol, "?"}}},
      // 乗 (81 5C) before the closing quote is one character, not an escape.
      {"gbk 5C trail before the quote",
       Bytes({'\'', 0x81, 0x5C, '\'', ' ', 'x'}),
       G,
       {{lcString, Bytes({0x81, 0x5C})}, {lcIdent, "x"}}},
      {"the same bytes on latin1",
       Bytes({'\'', 0x81, 0x5C, '\'', ' ', 'x', '\''}),
       L,
       {{lcString, Bytes({0x81, 0x5C, '\'', ' ', 'x'})}}},
      {"escaped lone lead",
       Bytes({'\'', '\\', 0xBF, '\\', '\'', '\'', ';'}),
       G,
       {{lcString, Bytes({'\\', 0xBF, '\\', '\''})}, {lxMySemicolon, ";"}}},
      // The server takes the one byte after a backslash: its 81 cannot pair with the 5C.
      {"backslash before a lead",
       Bytes({'\'', '\\', 0x81, 0x5C, '\'', 'a', '\'', 'b'}),
       G,
       {{lcString, Bytes({'\\', 0x81, 0x5C, '\'', 'a'})}, {lcIdent, "b"}}},
      {"unterminated", "'abc\\", L, {{lcString, "abc\\"}}},
  };
  for (const auto& [name, sql, cs, want] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Lex(sql, cs), want);
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
}

// Error positions count every line break, inside strings too when asked.
TEST(MyParserTest, LineTrackingInStringsCountsEveryLineBreak) {
  for (bool track : {false, true}) {
    SCOPED_TRACE(track);
    TMyParser p("'a\r\nb\\\nc\\'' x");
    p.TrackLinesInStrings = track;
    EXPECT_EQ(LexAll(p), (Lexemes{{lcString, "a\r\nb\\\nc\\'"}, {lcIdent, "x"}}));
    EXPECT_EQ(p.GetCurrLine(), track ? 2 : 0);
  }
}

TEST(MyParserTest, StreamModeReadsStringsAcrossBlocks) {
  const std::string sql = Bytes({'S',  'E',  'L', 'E', 'C', 'T',  ' ', '\'', 0x81, 0x5C, '\\', '\'', 0xBB,
                                 0x5C, '\'', ' ', '#', 'c', '\n', '`', 'w',  'h',  'e',  'r',  'e',  '`'});
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

// The lexer finds the end of our literals in every character set: the string ends at our closing
// quote. (That the content reads back: MyClasses_test.)
TEST(MyParserTest, FindsTheEndOfEveryQuotedBytePair) {
  for (TCharsetKind cs : {TCharsetKind::SingleByte, TCharsetKind::Utf8, TCharsetKind::Gbk,
                          TCharsetKind::Gb2312, TCharsetKind::Big5, TCharsetKind::Sjis}) {
    SCOPED_TRACE(static_cast<int>(cs));
    for (int a = 0; a < 256; ++a)
      for (int b = 0; b < 256; b += (a >= 0x80 ? 1 : 7)) {
        const std::string literal = QuoteString(Bytes({a, b}), cs);
        TMyParser p(literal + ";", cs);
        p.KeepStringQuotes = true;
        ASSERT_EQ(LexAll(p), (Lexemes{{lcString, literal}, {lxMySemicolon, ";"}})) << a << " " << b;
      }
  }
}

}  // namespace
