// What the MySQL record set reads from its SQL text with the MySQL lexer: the kind of statement,
// the text that fetches a SELECT's field descriptions without its rows, and the tables a SELECT
// names. Texts are ANSI; the lexer's Exception for a control character outside strings and
// comments passes to the caller. With `noBackslashEscapes` a backslash in a string is a plain
// character, as a session with NO_BACKSLASH_ESCAPES reads it.
#pragma once

#include <string>
#include <vector>

struct TMyStatementShape {
  bool HasSelect = false;
  bool SingleSelect = false;  // starts with SELECT and has no ";" after it
  bool IsShow = false;
  bool IsExplain = false;   // EXPLAIN, on servers before 5
  bool IsDescribe = false;  // starts with DESC or DESCRIBE
  bool ShowPrivileges = false;
  bool ShowSlaveStatus = false;
  bool ShowCreate = false;
  bool ShowColumns = false;
};

TMyStatementShape AnalyseMyStatement(const std::string& sql, int serverMajor,
                                     bool noBackslashEscapes = false);

// The text of a SELECT that returns no rows: the row count of its outermost LIMIT becomes 0
// ("LIMIT 10" and "LIMIT 5, 10" both read no row); without a LIMIT, "LIMIT 0 " goes before
// PROCEDURE, else FOR, else LOCK, else " LIMIT 0 " before a ";" after the SELECT, else " LIMIT 0"
// at the end. A text without SELECT, or whose LIMIT takes no number, comes back unchanged.
// positions (1-based parameter positions in the text) are moved with the text.
std::string RewriteMyLimitZero(const std::string& sql, std::vector<int>& positions,
                               bool noBackslashEscapes = false);

// A table a SELECT reads, as written: the name with its quotes and database prefix, and the
// alias (empty without one).
struct TMyTableRef {
  std::string Name;
  std::string Alias;
};

// The tables after the outermost FROM of a SELECT: comma-separated items and joins, each a name
// with an optional alias (with or without AS); derived tables are skipped. With `handler`, the
// table of a HANDLER statement.
std::vector<TMyTableRef> ParseMyTableRefs(const std::string& sql, bool handler,
                                          bool noBackslashEscapes = false);

// The bare table name of a reference: unquoted, without its database prefix.
std::string MyTableRefName(const std::string& written);
