// The check of which local file a statement names, against the server's own reading of the
// literal (the literal model, which a db test holds to the real server on this target's seeds).
// Checks: a LOAD ... LOCAL INFILE whose literal the server reads whole names exactly the value
// the server reads, and no other name (not one byte more or less); a literal the server ends
// earlier, or never, names nothing but what the server read.
//
// Input: one selector byte (character set; statement form; quote), then the literal's content.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "mysql/MySqlLocalInfile.h"
#include "platform/runtime/Charset.h"
#include "tests/support/MyLiteralModel.h"

namespace {

constexpr TCharsetKind kCharsets[] = {TCharsetKind::SingleByte, TCharsetKind::Utf8, TCharsetKind::Gbk,
                                      TCharsetKind::Big5, TCharsetKind::Sjis};
constexpr const char* kHeads[] = {"LOAD DATA LOCAL INFILE ", "load xml concurrent local infile ",
                                  "/* c */ LOAD DATA LOW_PRIORITY LOCAL INFILE",
                                  "SELECT 1; LOAD DATA LOCAL INFILE "};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  constexpr size_t kSets = sizeof kCharsets / sizeof kCharsets[0];
  constexpr size_t kForms = sizeof kHeads / sizeof kHeads[0];
  const TCharsetKind cs = kCharsets[data[0] % kSets];
  const size_t rest = data[0] / kSets;
  const char quote = rest % 2 == 0 ? '\'' : '"';
  const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string literal = quote + content + quote;
  const std::string sql = kHeads[(rest / 2) % kForms] + literal + " INTO TABLE t";
  const std::optional<TServerLiteral> read = ServerReadLiteral(literal, cs);
  const bool whole = read && read->Length == literal.size();
  if (whole) {
    Check(MySqlStatementNamesLocalFile(sql, read->Value, cs));
    Check(!MySqlStatementNamesLocalFile(sql, read->Value + "x", cs));
    if (!read->Value.empty())
      Check(!MySqlStatementNamesLocalFile(
          sql, std::string_view(read->Value).substr(0, read->Value.size() - 1), cs));
  }
  // The content as a name: named only when it is what the server reads (a ";" in it may start a
  // statement of its own, which names its own file).
  if (content.find(';') == std::string::npos && MySqlStatementNamesLocalFile(sql, content, cs))
    Check(read && content == read->Value);
  return 0;
}
