// The lexer over a stream read in blocks must see exactly what it sees over the same string.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/CRParser.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

namespace {

const TLexemList& ComparisonSymbols() {
  static const TLexemList list{{"<", 1}, {"<=", 2}, {"<>", 3}, {"=", 4}, {">", 5}, {">=", 6}, {"(", 7}, {")", 8}};
  return list;
}

class TStreamTestParser : public TParser {
public:
  TStreamTestParser(std::string text, TCharsetKind cs) : TParser(std::move(text), cs) { Setup(); }
  TStreamTestParser(TStream& stream, TCharsetKind cs) : TParser(stream, cs) { Setup(); }
  bool IsIdentQuote(char c) const override { return c == '`'; }

private:
  void Setup() { SetLists(ComparisonSymbols(), DefaultKeywordList()); }
};

struct Seen {
  int code;
  std::string text;
  int64_t prevPos, currPos, currCol, prevCol;
  int64_t line;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{" << s.code << ", \"" << s.text << "\" at " << s.prevPos << ".." << s.currPos << " line " << s.line
            << "}";
}

enum class Options { KeepAll, Defaults };

void Configure(TParser& p, Options options) {
  if (options == Options::KeepAll) {
    p.OmitBlank = false;
    p.OmitComment = false;
    p.KeepStringQuotes = true;
    p.UppercaseKeywords = false;
    p.TrackLinesInStrings = true;
  } else {
    p.OmitComment = true;
  }
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
      "select", "AND", "or", "Not", "_x1", "\x81\x5C\xB0\x7C", "\x81\x7D" "a", "12", "3.25", "1.", "<=", "<>", "<",
      ">=", "=", "(", ")", ",", ";", "!", "'it''s'", "\"d q\"", "'\x81\x5C'", "`\xC4\x60 n`", "\x81'q'", "// line\r\n",
      "/* block\r\n spans */", "#", " ", "\t", "\r\n", "\n", "\r",
  };
  std::string text;
  while (text.size() < minSize) {
    const unsigned pick = rng() % 100;
    if (pick < 1) {
      // Long lexemes: a string, a comment and an identifier of a few kilobytes.
      const size_t n = 500 + rng() % 4000;
      const int kind = static_cast<int>(rng() % 3);
      std::string body;
      for (size_t i = 0; i < n; ++i) body += kind == 2 ? 'z' : static_cast<char>('a' + rng() % 26);
      if (kind == 0) text += "'" + body + "\r\n\x81\x5C'";
      if (kind == 1) text += "/*" + body + "\r\n*/";
      if (kind == 2) text += body + "\xB0\x7C";
    } else {
      text += pieces[rng() % pieces.size()];
    }
    text += rng() % 2 ? " " : "";
  }
  return text;
}

TEST(CRParserStreamTest, StreamLexesLikeString) {
  const std::string text = GenerateText(300 * 1024);
  for (Options options : {Options::KeepAll, Options::Defaults}) {
    const bool withLines = options == Options::KeepAll;
    TStreamTestParser fromString(text, TCharsetKind::Gbk);
    Configure(fromString, options);
    const std::vector<Seen> expected = LexAll(fromString, withLines);
    ASSERT_GT(expected.size(), 5000u);
    for (size_t blockSize : {1u, 2u, 3u, 7u, 4093u, 65536u}) {
      SCOPED_TRACE(testing::Message() << "block size " << blockSize << ", options " << static_cast<int>(options));
      TStringStream stream(text);
      TStreamTestParser fromStream(stream, TCharsetKind::Gbk);
      fromStream.SetBlockSize(blockSize);
      Configure(fromStream, options);
      const std::vector<Seen> got = LexAll(fromStream, withLines);
      ASSERT_EQ(got.size(), expected.size());
      auto diff = std::mismatch(got.begin(), got.end(), expected.begin());
      if (diff.first != got.end()) FAIL() << "lexeme " << (diff.first - got.begin()) << ": " << *diff.first
                                          << " instead of " << *diff.second;
    }
  }
}

// Hands out at most 3 bytes per read and may claim more bytes than it has.
class TShortStream : public TStream {
public:
  TShortStream(std::string data, int64_t claimedSize) : FData(std::move(data)), FClaimed(claimedSize) {}
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = std::clamp<int64_t>(std::min<int64_t>(count, 3), 0,
                                          std::max<int64_t>(0, static_cast<int64_t>(FData.size()) - FPos));
    if (n > 0) std::memcpy(buffer, FData.data() + FPos, static_cast<size_t>(n));
    FPos += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    FPos = origin == soFromBeginning ? offset : origin == soFromCurrent ? FPos + offset : FClaimed + offset;
    return FPos;
  }
  int64_t Size() override { return FClaimed; }
  void SetSize(int64_t) override {}

private:
  std::string FData;
  int64_t FClaimed;
  int64_t FPos = 0;
};

TEST(CRParserStreamTest, ShortReadsAndShortStreams) {
  const std::string text = "select a<=b, 'x\r\ny' /* c */ from t -- \x81\x5C";
  TStreamTestParser fromString(text, TCharsetKind::Gbk);
  Configure(fromString, Options::KeepAll);
  const std::vector<Seen> expected = LexAll(fromString, true);
  for (int64_t claimed : {static_cast<int64_t>(text.size()), static_cast<int64_t>(text.size()) + 1000}) {
    SCOPED_TRACE(claimed);
    TShortStream stream(text, claimed);
    TStreamTestParser p(stream, TCharsetKind::Gbk);
    p.SetBlockSize(5);
    Configure(p, Options::KeepAll);
    EXPECT_EQ(LexAll(p, true), expected);
    EXPECT_EQ(p.TextLength(), static_cast<int64_t>(text.size()));
    EXPECT_EQ(p.GetNextCode(), lcEnd);
  }
}

TEST(CRParserStreamTest, StartsAtTheStreamPositionAndRereads) {
  TStringStream stream("junk;a = 'b' c");
  stream.SetPosition(5);
  TParser p(stream, TCharsetKind::Gbk);
  p.SetBlockSize(2);
  std::string text;
  EXPECT_EQ(p.GetNext(text), lcIdent);
  EXPECT_EQ(text, "a");
  EXPECT_EQ(p.GetPrevPos(), 0);
  EXPECT_TRUE(p.ToLexemText("C"));
  p.ToBegin();  // reads the stream again from where the text began
  EXPECT_EQ(p.GetNext(text), lcIdent);
  EXPECT_EQ(text, "a");
  EXPECT_EQ(p.GetNext(text), 19);
  p.Back();
  EXPECT_EQ(p.GetNext(text), 19);
}

TEST(CRParserStreamTest, ReleasedBlocksAreOutOfReach) {
  std::string text(40, 'a');
  text += " b 'long string across blocks' c";
  TStringStream stream(text);
  TParser p(stream, TCharsetKind::Gbk);
  p.SetBlockSize(4);
  std::string lexem;
  EXPECT_EQ(p.GetNext(lexem), lcIdent);
  EXPECT_EQ(p.GetNext(lexem), lcIdent);  // b
  EXPECT_EQ(p.GetNext(lexem), lcString);
  EXPECT_EQ(lexem, "long string across blocks");
  p.Back();  // the string's blocks are kept for it
  EXPECT_EQ(p.GetNext(lexem), lcString);
  EXPECT_EQ(lexem, "long string across blocks");
  EXPECT_EQ(p.GetNext(lexem), lcIdent);
  EXPECT_EQ(p.GetChar(1 + static_cast<int64_t>(text.size()) - 1), 'c');
  EXPECT_THROW(p.GetChar(1), EAssertionFailed);
}

}  // namespace
