// Our SQL literals and names, read back the way the server reads them, for random bytes in each
// character set. Checks: the MySQL lexer finds our literal as one string ending at our closing
// quote (in string and in stream mode), the server's reading of its content gives the input
// back, hex literals and wide literals read back likewise, a forced backquoted name is one
// identifier, and lexing the raw bytes fails only with the unknown-symbol exception.
//
// Input: one selector byte (character set, stream block size), then the value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mysql/MyClasses.h"
#include "mysql/MyParser.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"
#include "tests/support/MyLiteralModel.h"

namespace {

constexpr TCharsetKind kCharsets[] = {TCharsetKind::SingleByte, TCharsetKind::Utf8,  TCharsetKind::Gbk,
                                      TCharsetKind::Gb2312,     TCharsetKind::Big5,  TCharsetKind::Sjis,
                                      TCharsetKind::Gb18030,    TCharsetKind::EucKr, TCharsetKind::Ujis};

void Check(bool ok) {
  if (!ok) std::abort();
}

// The literal followed by ";" lexes as exactly that string and the semicolon.
void CheckLexesAsOneString(TMyParser& p, const std::string& literal) {
  p.KeepStringQuotes = true;
  std::string text;
  Check(p.GetNext(text) == lcString && text == literal);
  Check(p.GetNext(text) == lxMySemicolon);
  Check(p.GetNext(text) == lcEnd);
}

void CheckLiteral(const std::string& value, TCharsetKind cs, size_t blockSize) {
  const std::string literal = QuoteString(value, cs);
  auto lit = ServerReadLiteral(literal, cs);
  Check(lit && lit->Value == value && lit->Length == literal.size());

  TMyParser p(literal + ";", cs);
  CheckLexesAsOneString(p, literal);

  TMemoryStream stream;
  stream.WriteBuffer(literal.data(), static_cast<int64_t>(literal.size()));
  stream.WriteBuffer(";", 1);
  stream.SetPosition(0);
  TMyParser ps(stream, cs);
  ps.SetBlockSize(blockSize);
  CheckLexesAsOneString(ps, literal);

  auto bin = ServerReadAnyLiteral(QuoteBinary(value, cs), cs);
  Check(bin && bin->Value == value);
}

void CheckWide(const std::string& value) {
  std::u16string wide(value.size() / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<char16_t>(static_cast<unsigned char>(value[2 * i]) |
                                    static_cast<unsigned char>(value[2 * i + 1]) << 8);
  auto lit = ServerReadLiteral(WideToUtf8(QuoteWideString(wide)), TCharsetKind::Utf8);
  Check(lit && lit->Value == WideToUtf8(wide));
}

void CheckName(const std::string& value, TCharsetKind cs) {
  if (value.empty() || value.find('.') != std::string::npos) return;
  std::string quoted;
  try {
    quoted = BackquoteName(value, true, cs);
  } catch (const EDatabaseError&) {
    return;  // ends in a lead byte the closing backquote would complete
  }
  if (quoted.front() != '`') return;  // a name in correct quotes of another kind is kept
  TMyParser p(quoted, cs);
  p.OmitKeywords = true;
  std::string text;
  Check(p.GetNext(text) == lcIdent && text == quoted);
  Check(p.GetNext(text) == lcEnd);
}

void CheckRawLexing(const std::string& value, TCharsetKind cs) {
  TMyParser p(value, cs);
  p.OmitComment = false;
  std::string text;
  try {
    for (int i = 0; p.GetNext(text) != lcEnd; ++i) Check(i <= static_cast<int>(value.size()));
  } catch (const EAssertionFailed&) {
    std::abort();
  } catch (const Exception& e) {
    Check(e.Message().rfind("Parser: The unknown symbol", 0) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t selector = data[0];
  const TCharsetKind cs = kCharsets[selector % 9];
  const size_t blockSize = 1 + (selector >> 4);
  const std::string value(reinterpret_cast<const char*>(data + 1), size - 1);
  CheckLiteral(value, cs, blockSize);
  CheckWide(value);
  CheckName(value, cs);
  CheckRawLexing(value, cs);
  return 0;
}
