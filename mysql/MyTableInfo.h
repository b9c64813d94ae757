// The MySQL table info: the tables of a query as the MySQL record set knows them, with the
// server's name rules (backquotes; names may also arrive in double or single quotes).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/CRTableInfo.h"

class TMyTableInfo : public TCRTableInfo {
 public:
  explicit TMyTableInfo(TCRTablesInfo* owner) : TCRTableInfo(owner) {}

  // The MySQL name rules as a class object (for TCRTablesInfo and the field descriptions).
  static const TCRTableInfoClass& Class();
  const TCRTableInfoClass& ClassType() const override { return Class(); }

  // The name as the statement wrote it, database prefix included; empty until set.
  std::string GetTableNameFull() const override { return FTableNameFull; }
  void SetTableNameFull(const std::string& value) override { FTableNameFull = value; }

  // The newest TIMESTAMP value read from the table's rows (days since 1899-12-30); 0 when none.
  double MaxTimestamp = 0;

  // ---- name rules ----
  static char LeftQuote() noexcept { return '`'; }
  static char RightQuote() noexcept { return '`'; }
  // True when the value has 2 or more characters and starts and ends with the same quote
  // character: backquote, double quote or single quote. A value with a point that is not
  // enclosed in such quotes fails an assertion (dotted names are split by the caller).
  static bool IsQuotedName(std::string_view value);
  // True when the value, unquoted, holds any character outside A-Z, a-z, 0-9, "_", "$", "#"
  // and "@" (bytes of 128 and above need quoting). A point fails an assertion as above.
  static bool IsBracketNeeds(std::string_view value);
  // A quoted name without its first and last character; any other name unchanged.
  static std::string UnQuote(std::string_view value);

  // The same rules without the check for points, for callers that have split the name
  // themselves: a quote character of names, a value enclosed in one, a value that needs quotes.
  static bool IsNameQuote(char c) noexcept { return c == '`' || c == '"' || c == '\''; }
  static bool IsEnclosed(std::string_view value) noexcept {
    return value.size() >= 2 && IsNameQuote(value.front()) && value.back() == value.front();
  }
  static bool NeedsQuotes(std::string_view value) noexcept;
  // True when the server reads the bare value as a reserved word (`from`, `order`, `key`, ...),
  // in any letter case: a generated statement must back-quote it.
  static bool IsReservedWord(std::string_view value) noexcept;

 private:
  std::string FTableNameFull;
};
