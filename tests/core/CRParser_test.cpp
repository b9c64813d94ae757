#include "core/CRParser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "platform/runtime/Exceptions.h"

namespace {

struct Lex {
  int code;
  std::string text;
  bool operator==(const Lex&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Lex& l) {
  return os << "{" << l.code << ", \"" << l.text << "\"}";
}

std::vector<Lex> LexAll(TParser& parser) {
  std::vector<Lex> out;
  std::string text;
  for (int code; (code = parser.GetNext(text)) != lcEnd;) out.push_back({code, text});
  return out;
}

// A subclass as later lexers build them: multi-character symbols, keywords, a back-quoted
// identifier, clause codes.
class TTestParser : public TParser {
 public:
  explicit TTestParser(std::string text, TCharsetKind cs = TCharsetKind::Gbk) : TParser(std::move(text), cs) {
    static const TLexemList symbols{{"=", 1}, {">", 2}, {"<", 3}, {">=", 4}, {"<=", 5}, {"<>", 6}};
    static const TLexemList keywords{{"AND", 13}, {"LIKE", 16}, {"OR", 19}};
    SetLists(symbols, keywords);
    SetClauseCodes({19, 13});
  }
  bool IsIdentQuote(char c) const override { return c == '`'; }
};

constexpr int kLt = 18, kEq = 19, kDot = 14;

TEST(CRParserTest, DefaultLexemes) {
  const struct {
    const char* name;
    std::string text;
    std::vector<Lex> expected;
    bool omitComment = true, omitBlank = true, uppercase = true, keepQuotes = false;
  } cases[] = {
      {"empty text", "", {}},
      {"a<=b is two symbols", "a<=b", {{lcIdent, "a"}, {kLt, "<"}, {kEq, "="}, {lcIdent, "b"}}},
      {"inline comment ends at the line",
       "x//w\ny",
       {{lcIdent, "x"}, {lcComment, "//w"}, {lcIdent, "y"}},
       false},
      {"block comment",
       "a/* b\r\n c */d",
       {{lcIdent, "a"}, {lcComment, "/* b\r\n c */"}, {lcIdent, "d"}},
       false},
      {"unterminated block comment", "a /* b", {{lcIdent, "a"}, {lcComment, "/* b"}}, false},
      {"omitted comments", "a /* b */ // c\n d", {{lcIdent, "a"}, {lcIdent, "d"}}},
      {"doubled quotes are two strings", "'it''s'", {{lcString, "it"}, {lcString, "s"}}},
      {"kept quotes", "'a' \"b", {{lcString, "'a'"}, {lcString, "\"b"}}, true, true, true, true},
      {"unterminated string", "'abc", {{lcString, "abc"}}},
      {"decimal number", "1.5", {{lcNumber, "1.5"}}},
      {"point without digit", "1.x", {{lcNumber, "1"}, {kDot, "."}, {lcIdent, "x"}}},
      {"comma never separates decimals",
       "IN (1,2)",
       {{lcIdent, "IN"}, {8, "("}, {lcNumber, "1"}, {12, ","}, {lcNumber, "2"}, {9, ")"}}},
      {"no sign or exponent", "-1e5", {{13, "-"}, {lcNumber, "1"}, {lcIdent, "e5"}}},
      {"keyword upper-cased", "and Or", {{29, "AND"}, {31, "OR"}}},
      {"keyword case kept", "and Or", {{29, "and"}, {31, "Or"}}, true, true, false},
      {"keyword prefix is an identifier", "android", {{lcIdent, "android"}}},
      {"blank lexemes", "a  \r\nb", {{lcIdent, "a"}, {lcBlank, "  \r\n"}, {lcIdent, "b"}}, true, false},
      {"high bytes are letters in latin1", "\xE9t\xE9", {{lcIdent, "\xE9t\xE9"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TParser p(c.text, TCharsetKind::SingleByte);
    p.OmitComment = c.omitComment;
    p.OmitBlank = c.omitBlank;
    p.UppercaseKeywords = c.uppercase;
    p.KeepStringQuotes = c.keepQuotes;
    EXPECT_EQ(LexAll(p), c.expected);
    EXPECT_EQ(p.GetNextCode(), lcEnd);  // stays at the end
  }
  TTestParser sub("a<=b<>c<d `x y`and like'z'!");  // "!" is a symbol character missing from the list
  EXPECT_EQ(LexAll(sub), (std::vector<Lex>{{lcIdent, "a"},
                                           {5, "<="},
                                           {lcIdent, "b"},
                                           {6, "<>"},
                                           {lcIdent, "c"},
                                           {3, "<"},
                                           {lcIdent, "d"},
                                           {lcIdent, "`x y`"},
                                           {13, "AND"},
                                           {16, "LIKE"},
                                           {lcString, "z"},
                                           {lcSymbol, "!"}}));
}

TEST(CRParserTest, UnknownSymbolMessage) {
  for (const std::string& text : {std::string("a \x01", 3), std::string("a\x7F"), std::string("\0", 1)}) {
    TParser p(text, TCharsetKind::Gbk);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned char>(text.back()));
    const std::string message = "Parser: The unknown symbol '" + text.substr(text.size() - 1) + "'  $" + hex;
    EXPECT_THAT([&] { LexAll(p); },
                testing::Throws<Exception>(testing::Property(&Exception::Message, message)));
    EXPECT_EQ(p.GetCurrPos(), static_cast<int64_t>(text.size()) - 1);
  }
}

TEST(CRParserTest, PositionsLinesAndBack) {
  TParser p("ab  cd\r\n  ef\ngh\r\rij", TCharsetKind::Gbk);
  const struct {
    const char* text;
    int64_t prevPos, currPos, line, prevCol, currCol;
  } steps[] = {
      {"ab", 0, 2, 0, 0, 2},   {"cd", 2, 6, 0, 2, 6},   {"ef", 6, 12, 1, 6, 4},
      {"gh", 12, 15, 2, 4, 2}, {"ij", 15, 19, 4, 2, 2},
  };
  std::string text;
  for (const auto& s : steps) {
    SCOPED_TRACE(s.text);
    EXPECT_EQ(p.GetNext(text), lcIdent);
    EXPECT_EQ(std::vector<int64_t>(
                  {p.GetPrevPos(), p.GetCurrPos(), p.GetCurrLine(), p.GetPrevCol(), p.GetCurrCol()}),
              std::vector<int64_t>({s.prevPos, s.currPos, s.line, s.prevCol, s.currCol}));
  }
  p.Back();  // re-reading counts its lines once only
  EXPECT_EQ(p.GetNext(text), lcIdent);
  EXPECT_EQ(p.GetCurrLine(), 4);
  for (bool track : {false, true}) {
    SCOPED_TRACE(track);
    TParser s("'a\r\nb\nc' x", TCharsetKind::Gbk);
    s.TrackLinesInStrings = track;
    EXPECT_EQ(LexAll(s).size(), 2u);
    EXPECT_EQ(s.GetCurrLine(), track ? 2 : 0);
  }
}

TEST(CRParserTest, SeekingLexemesAndClauses) {
  TParser p("select 'from' a, From x", TCharsetKind::Gbk);
  EXPECT_TRUE(p.ToLexemText("from"));  // not the string; case of a-z ignored
  EXPECT_EQ(p.GetPrevPos(), 16);
  EXPECT_FALSE(p.ToLexemText("nothing"));
  p.ToBegin();
  EXPECT_EQ(p.ToLexem(12), 12);
  EXPECT_EQ(p.ToLexem(99), lcEnd);
  TTestParser clauses("a");
  EXPECT_EQ(clauses.ClauseIndex(13), 1);
  EXPECT_EQ(clauses.ClauseIndex(16), -1);
  EXPECT_THROW(p.ClauseIndex(1), EAssertionFailed);              // TParser has no clause codes
  const TLexemList unsorted{{"OR", 3}, {"AND", 1}, {"NOT", 2}};  // looked up by halving: sorted on creation
  EXPECT_EQ(unsorted.Find("NOT")->Code, 2);
  EXPECT_EQ(unsorted.Find("NO"), nullptr);
  const TLexemList doubled{{"<", 5}, {"<=", 6}, {"X", 1}, {"<", 7}};  // equal texts: the first given wins
  EXPECT_EQ(doubled.Find("<")->Code, 5);
  EXPECT_EQ(doubled.Find("<=")->Code, 6);
  for (const char* absent : {"", "Y", "\xC3", "="}) EXPECT_EQ(doubled.Find(absent), nullptr) << absent;
}

TEST(CRParserTest, QuotePrefixStrings) {
  const struct {
    const char* name;
    std::string text;
    bool keep;
    std::vector<Lex> expected;
  } cases[] = {
      {"brackets", "q'[a]b]' x", false, {{lcString, "a]b"}, {lcIdent, "x"}}},
      {"parentheses kept", "q'(a)'", true, {{lcString, "q'(a)'"}}},
      {"quote at the end", "q'", false, {{lcString, ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TParser p(c.text, TCharsetKind::Gbk);
    p.QuotePrefixStrings = true;
    p.KeepStringQuotes = c.keep;
    EXPECT_EQ(LexAll(p), c.expected);
  }
  TParser off("q'a'", TCharsetKind::Gbk);
  EXPECT_EQ(LexAll(off), (std::vector<Lex>{{lcIdent, "q"}, {lcString, "a"}}));
}

TEST(CRParserTest, MultiByteCharactersStayWhole) {
  // GBK pairs whose trail bytes are "\", "|", "}" and "`".
  const std::string bs = "\x81\x5C", bar = "\xB0\x7C", brace = "\x81\x7D", tick = "\xC4\x60";
  const struct {
    const char* name;
    TCharsetKind cs;
    std::string text;
    std::vector<Lex> expected;
  } cases[] = {
      {"gbk identifier",
       TCharsetKind::Gbk,
       bs + bar + brace + " a" + bs,
       {{lcIdent, bs + bar + brace}, {lcIdent, "a" + bs}}},
      {"gbk string", TCharsetKind::Gbk, "'" + bs + bar + brace + "'", {{lcString, bs + bar + brace}}},
      {"gbk quoted identifier",
       TCharsetKind::Gbk,
       "`" + tick + "`x",
       {{lcIdent, "`" + tick + "`"}, {lcIdent, "x"}}},
      {"lone lead before a quote", TCharsetKind::Gbk, "\x81'x'", {{lcIdent, "\x81"}, {lcString, "x"}}},
      {"lone lead at the end", TCharsetKind::Gbk, "a\x81", {{lcIdent, "a\x81"}}},
      {"latin1 splits the same bytes",
       TCharsetKind::SingleByte,
       bs + bar,
       {{lcIdent, "\x81"}, {lcSymbol, "\\"}, {lcIdent, "\xB0"}, {lcSymbol, "|"}}},
      {"big5 trail backslash", TCharsetKind::Big5, "'\xA5\x5C'", {{lcString, "\xA5\x5C"}}},
      {"utf8 identifier", TCharsetKind::Utf8, "\xE6\xB8\xB8x", {{lcIdent, "\xE6\xB8\xB8x"}}},
      {"gb18030 four bytes", TCharsetKind::Gb18030, "\x81\x30\x81\x30", {{lcIdent, "\x81\x30\x81\x30"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TTestParser p(c.text, c.cs);
    EXPECT_EQ(LexAll(p), c.expected);
  }
  // Folding for keyword and text searches leaves trail bytes alone: 0x81 0x61 is not 0x81 0x41.
  TParser p("\x81\x61", TCharsetKind::Gbk);
  EXPECT_FALSE(p.ToLexemText("\x81\x41"));
  p.ToBegin();
  EXPECT_TRUE(p.ToLexemText("\x81\x61"));
}

}  // namespace
