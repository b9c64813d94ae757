// Text operations of unit DBAccess that need no component: editing the WHERE and ORDER BY clauses
// of a SELECT, finding ":name" parameters, and finding and expanding "&name" macros.
//
// Every operation reads the text with a lexer of the class the caller names (the MySQL forms in
// components/MyAccess.h bind TMyParser), so that a keyword inside a string, a comment or a
// parenthesised subquery is never taken for a clause. The input is never changed; the result is a
// new text. The lexer raises Exception "Parser: The unknown symbol ..." for a control character in
// the text; nothing else fails.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/CRParser.h"

// The macro character: "&" followed by a name is a macro reference.
extern std::string MacroChar;

// The condition trimmed of characters below 33 at both ends.
std::string TrimSQLBlanks(std::string_view text);

// Adds `condition` to the WHERE clause of the first SELECT: "WHERE (old) AND condition", or a new
// "\rWHERE condition " before the first later clause (GROUP, ORDER, LIMIT, ...), before a final
// statement separator, or at the end. A condition holding OR or XOR outside parentheses is
// parenthesised when it joins an existing condition. A line break that would otherwise follow a
// line comment is CR LF, so that the server ends the comment there. An empty condition or a text
// without SELECT is returned unchanged. `omitComment` false lets the scan see comments.
// The clause helpers read the text in `charset`; with `noBackslashEscapes` a backslash in a string
// is a plain character, as a session with NO_BACKSLASH_ESCAPES reads it.
std::string AddWhere(std::string_view sql, std::string_view condition, const TParserClass& parserClass,
                     int whereCode, int selectCode, bool omitComment,
                     TCharsetKind charset = AnsiCharsetKind(), bool noBackslashEscapes = false);

// Replaces the condition of the first SELECT's WHERE clause; an empty condition removes the
// clause with its keyword, a text without one gets " WHERE condition" before the next clause.
std::string SetWhere(std::string_view sql, std::string_view condition, const TParserClass& parserClass,
                     int whereCode, int selectCode, TCharsetKind charset = AnsiCharsetKind(),
                     bool noBackslashEscapes = false);

// Replaces the ORDER BY list ("a;b" is written "a,b"); an empty list removes the clause.
std::string SetOrderBy(std::string_view sql, std::string_view fields, const TParserClass& parserClass,
                       int byCode, int orderCode, int selectCode, TCharsetKind charset = AnsiCharsetKind(),
                       bool noBackslashEscapes = false);

// The text after "ORDER BY" (from the character right after BY) up to the blanks before the next
// clause, a statement separator or the end; empty without an ORDER BY.
std::string GetOrderBy(std::string_view sql, const TParserClass& parserClass, int selectCode, int byCode,
                       int orderCode, TCharsetKind charset = AnsiCharsetKind(),
                       bool noBackslashEscapes = false);

// ---- Parameters ---------------------------------------------------------------------------------

struct TParseSQLOptions {
  // Quote characters that may enclose a parameter name (":"name""); the name loses them.
  char NameQuoteBegin = '"';
  char NameQuoteEnd = '"';
  // When not empty, each parameter is written as prefix + name instead of "?".
  std::string RenamePrefix;
  // The session reads a backslash in a string as a plain character (NO_BACKSLASH_ESCAPES).
  bool NoBackslashEscapes = false;
};

// Finds the parameters of `sql`: ":" followed directly by an identifier that is not a keyword of
// the lexer, a number, a quoted name, or "@" + name (":@v" is the parameter "@v"). Each occurrence
// is appended to `names` (when given; duplicates are kept) and written as "?". Every other ":"
// (":=", ": x", ":" before a keyword or symbol) and everything inside strings and comments is
// copied unchanged. `onParam`, when set, is told each name with the length of the text built so
// far, just after its placeholder was written.
std::string ParseSQLParams(
    std::string_view sql, const TParserClass& parserClass, std::vector<std::string>* names,
    const TParseSQLOptions& options = {},
    const std::function<void(const std::string& name, size_t builtLength)>& onParam = {},
    TCharsetKind charset = AnsiCharsetKind());

// ---- Macros -------------------------------------------------------------------------------------

// The names of the macro references in `sql`, each once (compared without case), in order of first
// appearance. A name is an identifier or a keyword right after the macro character, or a number
// directly followed by one (the name is then both); a quoted name or anything else makes no
// reference.
std::vector<std::string> ScanMacroNames(std::string_view sql, const TParserClass& parserClass,
                                        TCharsetKind charset = AnsiCharsetKind());

// `sql` with every macro reference replaced by what `valueOf` answers for its name (nothing when it
// answers null: an unknown or inactive macro). Strings and comments are copied as they are.
std::string ExpandMacroRefs(std::string_view sql, const TParserClass& parserClass,
                            const std::function<const std::string*(const std::string& name)>& valueOf,
                            TCharsetKind charset = AnsiCharsetKind());
