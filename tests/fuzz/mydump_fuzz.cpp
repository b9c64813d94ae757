// The restore's reading of a dump: the script splitter reading the file from a stream, a block of
// 1 to 32 bytes at a time, against the same text held whole. Checks: both give the same
// statements, each starting on the same line, column and position, and both end the same way (a
// text that fails does so with the same error, held whole no later than read in blocks).
//
// Input: one selector byte (character set; stream block size), then the text.
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

size_t BlockSize = 1;

// The MySQL lexer reading a stream in small blocks.
class TSmallBlockParser : public TMyParser {
 public:
  TSmallBlockParser(std::string text, TCharsetKind cs) : TMyParser(std::move(text), cs) {}
  TSmallBlockParser(TStream& stream, TCharsetKind cs) : TMyParser(stream, cs) { SetBlockSize(BlockSize); }
};

class TFuzzScript : public TMyScript {
 public:
  explicit TFuzzScript(TCharsetKind cs) : FCharset(cs) {}

 protected:
  TCharsetKind TextCharset() const override { return FCharset; }
  TParserClass GetParserClass() const override { return ParserClassOf<TSmallBlockParser>(); }

 private:
  TCharsetKind FCharset;
};

struct TStatementSeen {
  std::string Text;
  int64_t Pos, Line, Col;
  bool operator==(const TStatementSeen&) const = default;
};

struct TReading {
  std::vector<TStatementSeen> Statements;
  bool Failed = false;
  std::string Error;
};

TReading Read(const std::string& input, TCharsetKind cs, bool fromStream) {
  TFuzzScript script(cs);
  // As a restore reads a dump: the statements as written, sent as their bytes.
  script.ExpandMacros = false;
  script.SendTextAsIs = true;
  TReading r;
  script.BeforeExecute = [&](TComponent*, std::string& sql, bool& omit) {
    r.Statements.push_back({sql, script.StartPos(), script.StartLine(), script.StartCol()});
    omit = true;
  };
  TStringStream stream(input);
  try {
    if (fromStream) {
      script.SetSourceStream(&stream);
    } else {
      TStringList text;
      text.SetKeepLineBreaks(true);
      text.SetText(input);
      script.SetSQL(text);
    }
    while (script.ExecuteNext()) {
    }
  } catch (const EAssertionFailed&) {
    std::abort();
  } catch (const Exception& e) {
    r.Failed = true;
    r.Error = e.Message();
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  constexpr size_t kSets = sizeof kCharsets / sizeof kCharsets[0];
  const TCharsetKind cs = kCharsets[data[0] % kSets];
  BlockSize = 1 + (data[0] / kSets) % 32;
  // Blanks and control characters at the end included: both ways pass over them.
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const TReading whole = Read(input, cs, false);
  const TReading blocks = Read(input, cs, true);
  Check(whole.Failed == blocks.Failed);
  Check(whole.Error == blocks.Error);
  if (!whole.Failed) {
    Check(whole.Statements == blocks.Statements);
  } else {
    // A text held whole is scanned for macros as it is set: a byte the lexer refuses fails it
    // there already, before the statements ahead of that byte are split.
    Check(whole.Statements.size() <= blocks.Statements.size());
    Check(std::equal(whole.Statements.begin(), whole.Statements.end(), blocks.Statements.begin()));
  }
  return 0;
}
