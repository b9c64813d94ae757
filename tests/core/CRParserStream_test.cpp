// The lexer over a stream read in blocks must see exactly what it sees over the same string.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/CRParser.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

namespace {

class TStreamTestParser : public TParser {
 public:
  template <class Source>
  TStreamTestParser(Source&& source, bool keepAll)
      : TParser(std::forward<Source>(source), TCharsetKind::Gbk) {
    static const TLexemList symbols{{"<", 1}, {"<=", 2}, {"<>", 3}, {"=", 4}, {">", 5}, {">=", 6}};
    SetLists(symbols, DefaultKeywordList());
    OmitComment = !keepAll;
    OmitBlank = !keepAll;
    KeepStringQuotes = TrackLinesInStrings = keepAll;
    UppercaseKeywords = !keepAll;
  }
  bool IsIdentQuote(char c) const override { return c == '`'; }
};

struct Seen {
  int code;
  std::string text;
  int64_t prevPos, currPos, currCol, prevCol, line;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{" << s.code << ", \"" << s.text << "\" at " << s.prevPos << " line " << s.line << "}";
}

// Lines are compared only where both modes count them alike (stream mode counts lines in strings).
std::vector<Seen> LexAll(TParser& p, bool withLines) {
  std::vector<Seen> out;
  std::string text;
  for (int code; (code = p.GetNext(text)) != lcEnd;)
    out.push_back({code, text, p.GetPrevPos(), p.GetCurrPos(), withLines ? p.GetCurrCol() : 0,
                   withLines ? p.GetPrevCol() : 0, withLines ? p.GetCurrLine() : 0});
  return out;
}

// A few hundred kilobytes of SQL-like GBK text: every kind of lexeme, long strings and comments
// that cross any block size, multi-byte characters with ASCII trail bytes, CR LF line breaks.
std::string GenerateText(size_t minSize) {
  std::mt19937 rng(20240611);
  const std::vector<std::string> pieces = {
      "select",
      "AND",
      "or",
      "_x1",
      "\x81\x5C\xB0\x7C",
      "\x81\x7D"
      "a",
      "12",
      "3.25",
      "1.",
      "<=",
      "<>",
      "<",
      ">=",
      "(",
      ",",
      "!",
      "'it''s'",
      "\"d q\"",
      "'\x81\x5C'",
      "`\xC4\x60 n`",
      "\x81'q'",
      "// line\r\n",
      "/* block\r\n spans */",
      "#",
      " ",
      "\t",
      "\r\n",
      "\n",
      "\r",
  };
  std::string text;
  while (text.size() < minSize) {
    if (rng() % 100 == 0) {  // long lexemes: a string, a comment or an identifier of a few kilobytes
      const size_t n = 500 + rng() % 4000;
      const int kind = static_cast<int>(rng() % 3);
      std::string body;
      for (size_t i = 0; i < n; ++i) body += kind == 2 ? 'z' : static_cast<char>('a' + rng() % 26);
      text += kind == 0   ? "'" + body + "\r\n\x81\x5C'"
              : kind == 1 ? "/*" + body + "\r\n*/"
                          : body + "\xB0\x7C";
    } else {
      text += pieces[rng() % pieces.size()];
    }
    text += rng() % 2 ? " " : "";
  }
  return text;
}

TEST(CRParserStreamTest, StreamLexesLikeString) {
  const std::string text = GenerateText(300 * 1024);
  for (bool keepAll : {true, false}) {
    TStreamTestParser fromString(text, keepAll);
    const std::vector<Seen> expected = LexAll(fromString, keepAll);
    ASSERT_GT(expected.size(), 5000u);
    for (size_t blockSize : {1u, 2u, 7u, 4093u, 65536u}) {
      SCOPED_TRACE(testing::Message() << "block size " << blockSize << ", keep all " << keepAll);
      TStringStream stream(text);
      TStreamTestParser fromStream(stream, keepAll);
      fromStream.SetBlockSize(blockSize);
      const std::vector<Seen> got = LexAll(fromStream, keepAll);
      ASSERT_EQ(got.size(), expected.size());
      auto diff = std::mismatch(got.begin(), got.end(), expected.begin());
      if (diff.first != got.end())
        FAIL() << "lexeme " << (diff.first - got.begin()) << ": " << *diff.first << " instead of "
               << *diff.second;
    }
  }
}

// Hands out at most 3 bytes per read and may claim more bytes than it has.
class TShortStream : public TStringStream {
 public:
  TShortStream(const std::string& data, int64_t claimedSize) : TStringStream(data), FClaimed(claimedSize) {}
  int64_t Read(void* buffer, int64_t count) override {
    return TStringStream::Read(buffer, std::min<int64_t>({count, 3, TMemoryStream::Size() - Position()}));
  }
  int64_t Size() override { return FClaimed; }

 private:
  int64_t FClaimed;
};

TEST(CRParserStreamTest, ShortReadsAndShortStreams) {
  const std::string text = "select a<=b, 'x\r\ny' /* c */ from t -- \x81\x5C";
  TStreamTestParser fromString(text, true);
  const std::vector<Seen> expected = LexAll(fromString, true);
  for (int64_t claimed : {static_cast<int64_t>(text.size()), static_cast<int64_t>(text.size()) + 1000}) {
    SCOPED_TRACE(claimed);
    TShortStream stream(text, claimed);
    TStreamTestParser p(stream, true);
    p.SetBlockSize(5);
    EXPECT_EQ(LexAll(p, true), expected);
    EXPECT_EQ(p.TextLength(), static_cast<int64_t>(text.size()));
    EXPECT_EQ(p.GetNextCode(), lcEnd);
  }
}

TEST(CRParserStreamTest, StartsAtTheStreamPositionKeepsWhatBackNeedsAndReleasesTheRest) {
  const std::string text = "junk;" + std::string(40, 'a') + " = 'long string across blocks' c";
  TStringStream stream(text);
  stream.SetPosition(5);
  TParser p(stream, TCharsetKind::Gbk);
  p.SetBlockSize(4);
  std::string lexem;
  EXPECT_EQ(p.GetNext(lexem), lcIdent);
  EXPECT_EQ(p.GetPrevPos(), 0);
  EXPECT_EQ(p.GetNext(lexem), 19);
  EXPECT_EQ(p.GetNext(lexem), lcString);
  p.Back();  // the string's blocks are kept for it
  EXPECT_EQ(p.GetNext(lexem), lcString);
  EXPECT_EQ(lexem, "long string across blocks");
  EXPECT_EQ(p.GetNext(lexem), lcIdent);
  EXPECT_EQ(p.GetChar(static_cast<int64_t>(text.size()) - 5), 'c');
  EXPECT_THROW(p.GetChar(1), EAssertionFailed);  // released
  p.ToBegin();                                   // reads the stream again from where the text began
  EXPECT_EQ(p.GetNext(lexem), lcIdent);
  EXPECT_EQ(lexem, std::string(40, 'a'));
}

// A mark taken between lexemes and rewound to after reading on (and after the set changed) reads
// on as a lexer that never read ahead: also when the blocks holding the mark were released.
TEST(CRParserStreamTest, RewindToAMarkReadsTheTextAgainInTheNewSet) {
  const std::string text = GenerateText(60 * 1024);
  struct Case {
    const char* Name;
    size_t BlockSize;  // 0: string mode
    size_t MarkAt;     // lexemes read before the mark
    size_t ReadAhead;  // lexemes read after it before rewinding
  };
  const Case cases[] = {
      {"string", 0, 700, 3000},
      {"stream, mark in a kept block", 65536, 700, 3},
      {"stream, mark's block released", 4093, 700, 3000},
      {"stream, byte blocks", 1, 700, 50},
      {"stream, nothing read ahead", 7, 700, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TStreamTestParser plain(text, true);
    std::string lexem;
    for (size_t i = 0; i < k.MarkAt; ++i) plain.GetNext(lexem);
    plain.SetCharset(TCharsetKind::SingleByte);
    const std::vector<Seen> expected = LexAll(plain, true);
    TStringStream stream(text);
    std::unique_ptr<TStreamTestParser> p = k.BlockSize == 0
                                               ? std::make_unique<TStreamTestParser>(text, true)
                                               : std::make_unique<TStreamTestParser>(stream, true);
    if (k.BlockSize != 0) p->SetBlockSize(k.BlockSize);
    for (size_t i = 0; i < k.MarkAt; ++i) p->GetNext(lexem);
    const TParser::TMark mark = p->Mark();
    for (size_t i = 0; i < k.ReadAhead; ++i) p->GetNext(lexem);
    p->Rewind(mark);
    p->SetCharset(TCharsetKind::SingleByte);
    EXPECT_EQ(LexAll(*p, true), expected);
  }
}

}  // namespace
