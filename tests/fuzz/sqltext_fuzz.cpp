// The SQL text helpers of the components on random statement text in each character set. Checks:
// nothing but the lexer's unknown-symbol exception escapes, a text without parameters comes back
// unchanged from the parameter scan and one "?" stands for each parameter found, a text without
// macro references comes back unchanged from expansion, an added condition appears in the
// result whenever the text changed, and a text without backslashes is edited alike under both
// readings of the backslash.
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
#include "mysql/MyStatementText.h"
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
  const std::string added = MyAddWhere(sql, "zz_cond = 1", cs, noBackslashEscapes);
  if (added != sql) Check(added.find("zz_cond = 1") != std::string::npos);
  // Without a backslash the two readings of a string agree, and so must every edit.
  const bool plain = sql.find('\\') == std::string::npos;
  if (plain && noBackslashEscapes) Check(added == MyAddWhere(sql, "zz_cond = 1", cs, false));
  const std::string set = MySetWhere(sql, "zz_cond = 2", cs, noBackslashEscapes);
  const std::string deleted = MyDeleteWhere(sql, cs, noBackslashEscapes);
  const std::string ordered = MySetOrderBy(sql, "a;b", cs, noBackslashEscapes);
  MySetOrderBy(sql, "", cs, noBackslashEscapes);
  const std::string order = MyGetOrderBy(sql, cs, noBackslashEscapes);
  if (plain && noBackslashEscapes) {
    Check(set == MySetWhere(sql, "zz_cond = 2", cs, false));
    Check(deleted == MyDeleteWhere(sql, cs, false));
    Check(ordered == MySetOrderBy(sql, "a;b", cs, false));
    Check(order == MyGetOrderBy(sql, cs, false));
  }
  if (cs == TCharsetKind::SingleByte) {
    // The record set's own readings work on ANSI text.
    std::vector<int> positions;
    const std::string limited = RewriteMyLimitZero(sql, positions, noBackslashEscapes);
    AnalyseMyStatement(sql, 5, noBackslashEscapes);
    ParseMyTableRefs(sql, false, noBackslashEscapes);
    if (plain && noBackslashEscapes) Check(limited == RewriteMyLimitZero(sql, positions, false));
  }
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
