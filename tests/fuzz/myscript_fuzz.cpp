// The script splitter on random text in each character set. Checks: nothing but the lexer's
// unknown-symbol exception escapes; each statement found is the text itself, in order, so that
// the statements joined with what lies between them (blanks, comments, delimiters) give the text
// back; and no statement ends inside a quoted string, a quoted name or a block comment, as the
// server reads them (up to a DELIMITER whose argument itself holds quotes or comment marks).
//
// The MySQL lexer's runs of plain lexemes, which the splitter takes a statement's bulk with, are
// checked against reading the same text lexeme by lexeme: with a run tried before every lexeme
// (in string mode and in small stream blocks, with and without a limit), every lexeme a run may
// not take is read at the same place, line and column, and the text comes back whole.
//
// Input: one selector byte (character set; stream block size and run limit), then the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "components/MyScript.h"
#include "mysql/MyParser.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

namespace {

constexpr TCharsetKind kCharsets[] = {TCharsetKind::SingleByte, TCharsetKind::Utf8, TCharsetKind::Gbk,
                                      TCharsetKind::Big5, TCharsetKind::Sjis};

void Check(bool ok) {
  if (!ok) std::abort();
}

class TFuzzScript : public TMyScript {
 public:
  explicit TFuzzScript(TCharsetKind cs) : FCharset(cs) {}

 protected:
  TCharsetKind TextCharset() const override { return FCharset; }

 private:
  TCharsetKind FCharset;
};

enum class TState : uint8_t { Normal, Quote, Block, Line };

// The state after each byte of the text, read as the server reads it.
std::vector<TState> ServerStates(const std::string& text, TCharsetKind cs) {
  std::vector<TState> after(text.size() + 1, TState::Normal);
  TState st = TState::Normal;
  char quote = 0;
  const char* base = text.data();
  const size_t n = text.size();
  size_t i = 0;
  auto at = [&](size_t k) { return k < n ? text[k] : '\0'; };
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t step = 1;
    if (c >= 0x80 && st != TState::Line) {
      step = MbCharLen(cs, base + i, base + n);
    } else if (st == TState::Normal) {
      if (c == '\'' || c == '"' || c == '`') {
        st = TState::Quote;
        quote = static_cast<char>(c);
      } else if (c == '#') {
        st = TState::Line;
      } else if (c == '-' && at(i + 1) == '-') {
        const auto next = static_cast<unsigned char>(at(i + 2));
        if (i + 2 >= n || next == ' ' || next < 0x20 || next == 0x7F) st = TState::Line, step = 2;
      } else if (c == '/' && at(i + 1) == '*') {
        st = TState::Block;
        step = 2;
      }
    } else if (st == TState::Quote) {
      if (c == static_cast<unsigned char>(quote)) {
        if (quote == '`' && at(i + 1) == '`')
          step = 2;
        else
          st = TState::Normal;
      } else if (c == '\\' && quote != '`') {
        step = 2;
      }
    } else if (st == TState::Block) {
      if (c == '*' && at(i + 1) == '/') st = TState::Normal, step = 2;
    } else if (c == '\n' || c == '\r') {
      st = TState::Normal;
    }
    for (size_t k = i + 1; k <= i + step && k <= n; ++k) after[k] = st;
    i += step;
  }
  return after;
}

// The command's word anywhere (it may follow comments and stray symbols).
bool IsDelimiterCommand(const std::string& statement) {
  static const char kWord[] = "DELIMITER";
  const size_t n = sizeof kWord - 1;
  for (size_t at = 0; at + n <= statement.size(); ++at) {
    size_t i = 0;
    while (i < n && (statement[at + i] & ~0x20) == kWord[i]) ++i;
    if (i == n) return true;
  }
  return false;
}

bool PlainDelimiter(const std::string& statement) {
  for (char c : statement)
    if (c == '\'' || c == '"' || c == '`' || c == '#' || c == '-' || c == '/' || c == '*' || c == '\\' ||
        static_cast<unsigned char>(c) >= 0x80)
      return false;
  return true;
}

void Run(const std::string& input, TCharsetKind cs) {
  TFuzzScript script(cs);
  std::vector<std::string> found;
  std::vector<size_t> starts;  // where the script says each starts (a comment before it may lie between)
  script.BeforeExecute = [&](TComponent*, std::string& sql, bool& omit) {
    found.push_back(sql);
    starts.push_back(static_cast<size_t>(script.StartPos()));
    omit = true;
  };
  try {
    // Setting the text scans it for macros: the lexer may refuse it there already.
    script.SetSQLText(input);
    while (script.ExecuteNext()) {
    }
  } catch (const Exception& e) {
    Check(e.Message().rfind("Parser: The unknown symbol", 0) == 0);
    return;
  }
  std::string text = script.SQL().Text();
  while (!text.empty() && static_cast<unsigned char>(text.back()) < 33) text.pop_back();
  const std::vector<TState> states = ServerStates(text, cs);
  size_t from = 0;
  bool checking = true;
  for (size_t k = 0; k < found.size(); ++k) {
    const std::string& statement = found[k];
    const size_t at = text.find(statement, starts[k]);
    if (IsDelimiterCommand(statement)) {
      // Its argument may be taken from the next line, past a "/" that is no part of it: the
      // command is not sent, and its delimiter is an odd one.
      if (!PlainDelimiter(statement)) checking = false;
      if (at != starts[k]) continue;
    }
    Check(at != std::string::npos && at >= from);
    const size_t end = at + statement.size();
    Check(!checking || states[at] != TState::Quote);
    const bool last = k + 1 == found.size() && end == text.size();
    if (checking && !last) Check(states[end] != TState::Quote && states[end] != TState::Block);
    from = end;
  }
}

struct TSeen {
  int Code;
  std::string Text;
  int64_t Pos, End, Line, PrevCol, Col;
  bool operator==(const TSeen&) const = default;
};

struct TReading {
  std::vector<TSeen> Significant;  // the lexemes a run may not take
  std::string Text;                // everything read, runs included
  bool Failed = false;
  int64_t FailPos = 0;
  bool operator==(const TReading& o) const {
    return Significant == o.Significant && Failed == o.Failed && FailPos == o.FailPos;
  }
};

bool IsPlainLexeme(int code, const std::string& text) {
  if (code == lcBlank || code == lcNumber || code == lcString) return true;
  return code != lcComment && text.size() == 1 && std::string(",().+-").find(text[0]) != std::string::npos;
}

TReading Read(TMyParser& p, bool runs, size_t limit) {
  p.OmitBlank = false;
  p.OmitComment = false;
  p.UppercaseKeywords = false;
  p.KeepStringQuotes = true;
  p.TrackLinesInStrings = true;
  TReading r;
  std::string lexem;
  try {
    for (;;) {
      if (runs) {
        std::string taken;
        p.TakePlainLexemes(taken, limit);
        r.Text += taken;
      }
      const int code = p.GetNext(lexem);
      if (code == lcEnd) break;
      r.Text += lexem;
      if (!IsPlainLexeme(code, lexem))
        r.Significant.push_back(
            {code, lexem, p.GetPrevPos(), p.GetCurrPos(), p.GetCurrLine(), p.GetPrevCol(), p.GetCurrCol()});
    }
  } catch (const EAssertionFailed&) {
    std::abort();
  } catch (const Exception&) {
    r.Failed = true;
    r.FailPos = p.GetCurrPos();
  }
  return r;
}

void CheckPlainRuns(const std::string& input, TCharsetKind cs, size_t blockSize, size_t limit) {
  TMyParser byLexeme(input, cs);
  const TReading reference = Read(byLexeme, false, 0);
  TMyParser fromString(input, cs);
  const TReading inString = Read(fromString, true, limit);
  Check(inString == reference);
  Check(inString.Text == reference.Text);
  TStringStream stream(input);
  TMyParser fromStream(stream, cs);
  fromStream.SetBlockSize(blockSize);
  const TReading inStream = Read(fromStream, true, limit);
  Check(inStream == reference);
  Check(inStream.Text == reference.Text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  constexpr size_t kSets = sizeof kCharsets / sizeof kCharsets[0];
  const TCharsetKind cs = kCharsets[data[0] % kSets];
  const size_t rest = data[0] / kSets;  // 0..51
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  Run(input, cs);
  CheckPlainRuns(input, cs, 1 + rest % 8, rest / 8 == 0 ? 0 : rest / 8 * 3);
  return 0;
}
