// Lexes arbitrary bytes in each character set. Checks: no over-read (sanitizers), the lexemes'
// texts concatenate back to the input when the lexer keeps all text, the only failure is the
// unknown-symbol exception at a control character, and a stream read in small blocks lexes
// exactly like the string.
//
// Input: one selector byte (character set, options, block size), then the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/CRParser.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

namespace {

constexpr TCharsetKind kCharsets[] = {TCharsetKind::SingleByte, TCharsetKind::Utf8,  TCharsetKind::Gbk,
                                      TCharsetKind::Gb2312,     TCharsetKind::Big5,  TCharsetKind::Sjis,
                                      TCharsetKind::Gb18030,    TCharsetKind::EucKr, TCharsetKind::Ujis};

struct Seen {
  int code;
  std::string text;
  int64_t prevPos, currPos;
  int64_t line;
  bool operator==(const Seen&) const = default;
};

struct Run {
  std::vector<Seen> lexemes;
  bool failed = false;
  int64_t failPos = 0;
  bool operator==(const Run&) const = default;
};

void Check(bool ok) {
  if (!ok) std::abort();
}

Run LexKeepingAll(TParser& p, bool quotePrefix) {
  p.OmitBlank = false;
  p.OmitComment = false;
  p.KeepStringQuotes = true;
  p.UppercaseKeywords = false;
  p.TrackLinesInStrings = true;
  p.QuotePrefixStrings = quotePrefix;
  Run run;
  std::string text;
  try {
    for (int code; (code = p.GetNext(text)) != lcEnd;)
      run.lexemes.push_back({code, text, p.GetPrevPos(), p.GetCurrPos(), p.GetCurrLine()});
  } catch (const EAssertionFailed&) {
    std::abort();
  } catch (const Exception&) {
    run.failed = true;
    run.failPos = p.GetCurrPos();
  }
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const TCharsetKind cs = kCharsets[(selector & 0x0F) % std::size(kCharsets)];
  const bool quotePrefix = (selector & 0x10) != 0;
  const size_t blockSize = 1 + (selector >> 5);
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);

  TParser fromString(input, cs);
  const Run run = LexKeepingAll(fromString, quotePrefix);
  std::string joined;
  for (const Seen& s : run.lexemes) joined += s.text;
  if (run.failed) {
    // Everything before the offending byte was returned; the byte is a control character.
    Check(run.failPos >= 0 && static_cast<size_t>(run.failPos) < input.size());
    const auto bad = static_cast<unsigned char>(input[static_cast<size_t>(run.failPos)]);
    Check(bad < 32 || bad == 127);
    Check(joined == input.substr(0, static_cast<size_t>(run.failPos)));
  } else {
    Check(joined == input);
  }

  TStringStream stream(input);
  TParser fromStream(stream, cs);
  fromStream.SetBlockSize(blockSize);
  Check(LexKeepingAll(fromStream, quotePrefix) == run);

  // The default options and the searching path must hold up as well.
  TParser defaults(input, cs);
  try {
    defaults.ToLexemText("select");
    defaults.ToBegin();
    while (defaults.GetNextCode() != lcEnd) {
    }
  } catch (const EAssertionFailed&) {
    std::abort();
  } catch (const Exception&) {
  }
  return 0;
}
