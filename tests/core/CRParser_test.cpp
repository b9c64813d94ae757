#include "core/CRParser.h"

#include <gtest/gtest.h>

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

std::ostream& operator<<(std::ostream& os, const Lex& l) { return os << "{" << l.code << ", \"" << l.text << "\"}"; }

std::vector<Lex> LexAll(TParser& parser) {
  std::vector<Lex> out;
  std::string text;
  for (int code; (code = parser.GetNext(text)) != lcEnd;) out.push_back({code, text});
  return out;
}

// The filter lexer's lists: multi-character comparison symbols.
const TLexemList& FilterSymbols() {
  static const TLexemList list{{"=", 1}, {">", 2},  {"<", 3},  {">=", 4}, {"<=", 5}, {"<>", 6},
                               {"(", 7}, {")", 8},  {"-", 9},  {"+", 10}, {"[", 11}, {"]", 12}};
  return list;
}
const TLexemList& FilterKeywords() {
  static const TLexemList list{{"AND", 13}, {"LIKE", 16}, {"OR", 19}};
  return list;
}

// A subclass as later lexers build them: own lists, a back-quoted identifier, clause codes.
class TTestParser : public TParser {
public:
  explicit TTestParser(std::string text, TCharsetKind cs = TCharsetKind::Gbk) : TParser(std::move(text), cs) {
    SetLists(FilterSymbols(), FilterKeywords());
    SetClauseCodes({19, 13});
  }
  TTestParser(TStream& stream, TCharsetKind cs) : TParser(stream, cs) { SetLists(FilterSymbols(), FilterKeywords()); }
  bool IsIdentQuote(char c) const override { return c == '`'; }
};

constexpr int kLt = 18, kEq = 19, kSlash = 15, kDot = 14;

struct LexCase {
  const char* name;
  std::string text;
  std::vector<Lex> expected;
  bool omitComment = true;
  bool omitBlank = true;
  bool uppercase = true;
  bool keepQuotes = false;
};

TEST(CRParserTest, DefaultLexemes) {
  const std::vector<LexCase> cases = {
      {"empty text", "", {}},
      {"blanks only", " \t\r\n ", {}},
      {"a<=b is two symbols", "a<=b", {{lcIdent, "a"}, {kLt, "<"}, {kEq, "="}, {lcIdent, "b"}}},
      {"inline comment", "x //word", {{lcIdent, "x"}, {lcComment, "//word"}}, false},
      {"inline comment ends at the line", "x//w\ny", {{lcIdent, "x"}, {lcComment, "//w"}, {lcIdent, "y"}}, false},
      {"trailing slashes are symbols", "x //", {{lcIdent, "x"}, {kSlash, "/"}, {kSlash, "/"}}, false},
      {"block comment", "a/* b\r\n c */d", {{lcIdent, "a"}, {lcComment, "/* b\r\n c */"}, {lcIdent, "d"}}, false},
      {"unterminated block comment", "a /* b", {{lcIdent, "a"}, {lcComment, "/* b"}}, false},
      {"omitted comments", "a /* b */ // c\n d", {{lcIdent, "a"}, {lcIdent, "d"}}},
      {"doubled quotes are two strings", "'it''s'", {{lcString, "it"}, {lcString, "s"}}},
      {"double-quoted string", "\"a b\"", {{lcString, "a b"}}},
      {"kept quotes", "'a' \"b", {{lcString, "'a'"}, {lcString, "\"b"}}, true, true, true, true},
      {"unterminated string", "'abc", {{lcString, "abc"}}},
      {"decimal number", "1.5", {{lcNumber, "1.5"}}},
      {"point without digit", "1.x", {{lcNumber, "1"}, {kDot, "."}, {lcIdent, "x"}}},
      {"comma never separates decimals", "IN (1,2)",
       {{lcIdent, "IN"}, {8, "("}, {lcNumber, "1"}, {12, ","}, {lcNumber, "2"}, {9, ")"}}},
      {"no sign or exponent", "-1e5", {{13, "-"}, {lcNumber, "1"}, {lcIdent, "e5"}}},
      {"keyword upper-cased", "and Or", {{29, "AND"}, {31, "OR"}}},
      {"keyword case kept", "and Or", {{29, "and"}, {31, "Or"}}, true, true, false},
      {"identifiers", "_a1 b_2 x1y", {{lcIdent, "_a1"}, {lcIdent, "b_2"}, {lcIdent, "x1y"}}},
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
}

TEST(CRParserTest, SubclassListsAndQuotes) {
  TTestParser p("a<=b<>c<d `x y`and like'z'");
  EXPECT_EQ(LexAll(p), (std::vector<Lex>{{lcIdent, "a"},
                                         {5, "<="},
                                         {lcIdent, "b"},
                                         {6, "<>"},
                                         {lcIdent, "c"},
                                         {3, "<"},
                                         {lcIdent, "d"},
                                         {lcIdent, "`x y`"},
                                         {13, "AND"},
                                         {16, "LIKE"},
                                         {lcString, "z"}}));
  TTestParser q("a!b");  // "!" is a symbol character missing from the list
  EXPECT_EQ(LexAll(q), (std::vector<Lex>{{lcIdent, "a"}, {lcSymbol, "!"}, {lcIdent, "b"}}));
}

TEST(CRParserTest, UnknownSymbolMessage) {
  auto message = [](char c, const char* hex) {
    return std::string("Parser: The unknown symbol '") + c + "'  $" + hex;
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string("a \x01", 3), message('\x01', "0001")},
      {"a\x7F", message('\x7F', "007F")},
      {std::string("\0", 1), message('\0', "0000")},
      {"\x1F", message('\x1F', "001F")},
  };
  for (const auto& [text, expected] : cases) {
    TParser p(text, TCharsetKind::Gbk);
    try {
      LexAll(p);
      ADD_FAILURE() << "no exception";
    } catch (const EAssertionFailed&) {
      ADD_FAILURE() << "assertion instead of the parser's exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), expected);
      EXPECT_EQ(p.GetCurrPos(), static_cast<int64_t>(text.size()) - 1);
    }
  }
}

TEST(CRParserTest, PositionsLinesAndBack) {
  TParser p("ab  cd\r\n  ef\ngh\r\rij", TCharsetKind::Gbk);
  struct Step {
    const char* text;
    int64_t prevPos, currPos;
    int64_t line;
    int64_t prevCol, currCol;
  };
  const std::vector<Step> steps = {
      {"ab", 0, 2, 0, 0, 2}, {"cd", 2, 6, 0, 2, 6}, {"ef", 6, 12, 1, 6, 4},
      {"gh", 12, 15, 2, 4, 2}, {"ij", 15, 19, 4, 2, 2},
  };
  std::string text;
  for (const auto& s : steps) {
    SCOPED_TRACE(s.text);
    EXPECT_EQ(p.GetNext(text), lcIdent);
    EXPECT_EQ(text, s.text);
    EXPECT_EQ(p.GetPrevPos(), s.prevPos);
    EXPECT_EQ(p.GetCurrPos(), s.currPos);
    EXPECT_EQ(p.GetCurrLine(), s.line);
    EXPECT_EQ(p.GetPrevCol(), s.prevCol);
    EXPECT_EQ(p.GetCurrCol(), s.currCol);
  }
  EXPECT_EQ(p.GetPrevPrevPos(), 12);
  p.Back();  // re-reading counts its lines once only
  EXPECT_EQ(p.GetNext(text), lcIdent);
  EXPECT_EQ(text, "ij");
  EXPECT_EQ(p.GetCurrLine(), 4);
  EXPECT_EQ(p.GetChar(1), 'a');
  EXPECT_EQ(p.GetChar(19), 'j');
  EXPECT_EQ(p.GetChar(20), '\0');
  EXPECT_EQ(p.GetChar(0), '\0');
  p.ToBegin();
  EXPECT_EQ(p.GetNext(text), lcIdent);
  EXPECT_EQ(text, "ab");
  p.SetText("x");
  EXPECT_EQ(p.GetNext(text), lcIdent);
  EXPECT_EQ(text, "x");
}

TEST(CRParserTest, LinesInStringsOnlyWhenTracked) {
  for (bool track : {false, true}) {
    SCOPED_TRACE(track);
    TParser p("'a\r\nb\nc' x", TCharsetKind::Gbk);
    p.TrackLinesInStrings = track;
    EXPECT_EQ(LexAll(p).size(), 2u);
    EXPECT_EQ(p.GetCurrLine(), track ? 2 : 0);
  }
}

TEST(CRParserTest, SeekingLexemes) {
  TParser p("select 'from' a, From x", TCharsetKind::Gbk);
  EXPECT_TRUE(p.ToLexemText("from"));  // not the string; case of a-z ignored
  EXPECT_EQ(p.GetPrevPos(), 16);
  std::string text;
  EXPECT_EQ(p.GetNext(text), lcIdent);
  EXPECT_EQ(text, "x");
  p.ToBegin();
  EXPECT_TRUE(p.ToLexemText(","));
  EXPECT_FALSE(p.ToLexemText("nothing"));
  p.ToBegin();
  EXPECT_EQ(p.ToLexem(12), 12);
  EXPECT_EQ(p.ToLexem(99), lcEnd);

  TTestParser clauses("a");
  EXPECT_EQ(clauses.ClauseIndex(13), 1);
  EXPECT_TRUE(clauses.IsClauseLexem(19));
  EXPECT_EQ(clauses.ClauseIndex(16), -1);
  EXPECT_THROW(p.ClauseIndex(1), EAssertionFailed);  // TParser has no clause codes
}

TEST(CRParserTest, QuotePrefixStrings) {
  struct Case {
    const char* name;
    std::string text;
    bool keep;
    std::vector<Lex> expected;
  };
  const std::vector<Case> cases = {
      {"brackets", "q'[a]b]' x", false, {{lcString, "a]b"}, {lcIdent, "x"}}},
      {"same delimiter", "Q'!it's!'", false, {{lcString, "it's"}}},
      {"parentheses kept", "q'(a)'", true, {{lcString, "q'(a)'"}}},
      {"empty body", "q'<>'", false, {{lcString, ""}}},
      {"unterminated keeps its text", "q'{abc", false, {{lcString, "abc"}}},
      {"quote at the end", "q'", false, {{lcString, ""}}},
      {"q alone is an identifier", "q x", false, {{lcIdent, "q"}, {lcIdent, "x"}}},
      {"longer identifier", "qq'a'", false, {{lcIdent, "qq"}, {lcString, "a"}}},
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
  struct Case {
    const char* name;
    TCharsetKind cs;
    std::string text;
    std::vector<Lex> expected;
  };
  const std::vector<Case> cases = {
      {"gbk identifier", TCharsetKind::Gbk, bs + bar + brace + " a" + bs,
       {{lcIdent, bs + bar + brace}, {lcIdent, "a" + bs}}},
      {"gbk string", TCharsetKind::Gbk, "'" + bs + bar + brace + "'", {{lcString, bs + bar + brace}}},
      {"gbk quoted identifier", TCharsetKind::Gbk, "`" + tick + "`x", {{lcIdent, "`" + tick + "`"}, {lcIdent, "x"}}},
      {"lone lead before a quote", TCharsetKind::Gbk, "\x81'x'", {{lcIdent, "\x81"}, {lcString, "x"}}},
      {"lone lead at the end", TCharsetKind::Gbk, "a\x81", {{lcIdent, "a\x81"}}},
      {"latin1 splits the same bytes", TCharsetKind::SingleByte, bs + bar,
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

TEST(CRParserTest, ListsAreCheckedAndSorted) {
  EXPECT_THROW(TLexemList({{"A", 0}}), EAssertionFailed);
  EXPECT_THROW(TLexemList({{"and", 1}}), EAssertionFailed);
  EXPECT_THROW(TLexemList({{"", 1}}), EAssertionFailed);
  const TLexemList list{{"OR", 3}, {"AND", 1}, {"NOT", 2}};
  EXPECT_EQ(list[0].Text, "AND");
  EXPECT_EQ(list[2].Text, "OR");
  ASSERT_NE(list.Find("NOT"), nullptr);
  EXPECT_EQ(list.Find("NOT")->Code, 2);
  EXPECT_EQ(list.Find("NO"), nullptr);
  const TLexemList& symbols = DefaultSymbolList();
  ASSERT_EQ(symbols.Count(), 28u);
  EXPECT_EQ(symbols.Find("\\")->Code, 24);
  EXPECT_EQ(symbols.Find("`")->Code, 28);
}

TEST(CRParserTest, ParserClassCreatesTheSubclass) {
  TParserClass cls = ParserClassOf<TTestParser>();
  auto p = cls.Create("a<=b", TCharsetKind::Gbk);
  std::string text;
  p->GetNext(text);
  EXPECT_EQ(p->GetNext(text), 5);
}

}  // namespace
