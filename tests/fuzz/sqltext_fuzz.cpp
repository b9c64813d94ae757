// The SQL text helpers of the components on random statement text in each character set. Checks:
// nothing but the lexer's unknown-symbol exception escapes, a text without parameters comes back
// unchanged from the parameter scan and one "?" stands for each parameter found, a text without
// macro references comes back unchanged from expansion, and an added condition appears in the
// result whenever the text changed.
//
// Input: one selector byte (character set, and whether the session reads backslashes as plain
// characters), then the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "components/DBAccessText.h"
#include "components/MyAccess.h"
#include "mysql/MyParser.h"
#include "mysql/MySQLCommand.h"
#include "platform/runtime/Exceptions.h"

namespace {

constexpr TCharsetKind kCharsets[] = {TCharsetKind::SingleByte, TCharsetKind::Utf8, TCharsetKind::Gbk,
                                      TCharsetKind::Big5, TCharsetKind::Sjis};

void Check(bool ok) {
  if (!ok) std::abort();
}

void Run(const std::string& sql, TCharsetKind cs, bool noBackslashEscapes) {
  const TParserClass cls = ParserClassOf<TMyParser>();
  std::vector<std::string> names;
  TParseSQLOptions options;
  options.NoBackslashEscapes = noBackslashEscapes;
  const std::string parsed = ParseSQLParams(sql, cls, &names, options, {}, cs);
  if (names.empty()) Check(parsed == sql);
  Check(std::count(parsed.begin(), parsed.end(), '?') >= static_cast<long>(names.size()));
  // Read the same way, each parameter's "?" is a placeholder.
  Check(FindPlaceholders(parsed, cs, noBackslashEscapes).size() >= names.size());
  if (ScanMacroNames(sql, cls, cs).empty())
    Check(ExpandMacroRefs(
              sql, cls, [](const std::string&) { return nullptr; }, cs) == sql);
  const std::string added = MyAddWhere(sql, "zz_cond = 1", cs);
  if (added != sql) Check(added.find("zz_cond = 1") != std::string::npos);
  MySetWhere(sql, "zz_cond = 2", cs);
  MyDeleteWhere(sql, cs);
  MySetOrderBy(sql, "a;b", cs);
  MySetOrderBy(sql, "", cs);
  MyGetOrderBy(sql, cs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  constexpr size_t sets = sizeof kCharsets / sizeof kCharsets[0];
  const TCharsetKind cs = kCharsets[data[0] % sets];
  const bool noBackslashEscapes = data[0] / sets % 2 == 1;
  const std::string sql(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    Run(sql, cs, noBackslashEscapes);
  } catch (const Exception& e) {
    // Control characters are refused by the lexer; nothing else may fail.
    Check(e.Message().rfind("Parser: The unknown symbol", 0) == 0);
  }
  return 0;
}
