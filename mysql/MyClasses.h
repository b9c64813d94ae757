// MySQL provider routines every MySQL-side unit shares: the provider exception, the zero date,
// escaping and quoting of values into SQL literals, and quoting of identifiers.
//
// Escaping is done for the character set of the bytes being escaped: a valid multi-byte
// character of that set is copied whole (its trail byte may be "\" or a quote), every other byte
// is escaped alone. Binary values sent on a connection with a multi-byte character set are
// written as hex literals X'..', which the server reads back byte-exactly whatever the set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/DAError.h"
#include "platform/runtime/Charset.h"

// The provider exception: the server's or the client's error number and text.
class EMyError : public EDAError {
 public:
  // For the server's syntax error 1064, LineNumber is the last run of digits in the message
  // (its "at line N"); otherwise, or when the message has no such number, 0.
  EMyError(int errorCode, std::string msg);

  int32_t LineNumber = 0;
};

// 0001-01-01 00:00:00 (days since 1899-12-30): stands for the zero date "0000-00-00 00:00:00".
inline constexpr double MySQLZeroDate = -693593.0;

// ---- escaping and quoting ------------------------------------------------------------------

// Escapes `length` bytes of `src` (in character set `charset`) into `dest`, which has room for
// 2 x length + 1 bytes, and stores a 0 byte after them. Returns the number of bytes written
// (without the 0). NUL, LF, CR, Ctrl-Z, both quotes and "\" are escaped; so is a lead byte of a
// multi-byte set that has no valid trail, so that the byte after it cannot pair with an inserted
// backslash. `dest` and `src` must not overlap.
size_t EscapeString(char* dest, const char* src, size_t length, TCharsetKind charset);

// The same for UTF-16 code units (no character set: every escaped character is one unit).
// `dest` has room for 2 x length + 1 units; returns the units written before the 0 unit.
size_t EscapeWideString(char16_t* dest, const char16_t* src, size_t length);

// A single quote, the escaped bytes, a single quote.
std::string QuoteString(std::string_view src, TCharsetKind charset);
std::u16string QuoteWideString(std::u16string_view src);

// A literal for raw bytes (blob data, byte arrays) in SQL text sent with the connection's
// character set `connCharset`: on a multi-byte set the hex literal X'..' (empty bytes give ''),
// so that no byte can pair with its neighbour; on a single-byte set the quoted, escaped bytes.
std::string QuoteBinary(std::string_view bytes, TCharsetKind connCharset);

// ---- identifiers -----------------------------------------------------------------------------

// The MySQL name rules of the table-info class.
class TMyTableInfo {
 public:
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
};

// Identifiers are read by the server in the connection's character set: a multi-byte character
// may end in a backquote byte, which is then no quote. The routines that write backquotes take
// that set; those that only remove quotes take the set of the text (the ANSI code page).

// Quotes an identifier with backquotes where needed (always with `force`); a dotted name
// db.name is quoted part by part (force applies to a name without a point). A name already
// quoted correctly is kept. Backquotes inside a name that gets quoted are doubled, so no name can
// end the identifier early. A name ending in a lead byte that the closing backquote would
// complete raises EDatabaseError: it cannot be written as an identifier in `charset`.
std::string BackquoteName(std::string_view name, bool force, TCharsetKind charset);

// Removes the quotes of an identifier (part by part in a dotted name) where the bare name needs
// none; names shorter than 3 characters and names that need their quotes are kept.
std::string UnquoteName(std::string_view name, TCharsetKind charset = AnsiCharsetKind());

// Splits "db.name" at its first point outside quotes into the unquoted database part and the
// unquoted name part; without a point the database part is empty.
void SplitObjectName(std::string_view name, std::string& database, std::string& objName,
                     TCharsetKind charset = AnsiCharsetKind());

// A name enclosed in backquotes, double or single quotes keeps its enclosing characters; inside,
// a backquote is doubled unless it is the first or the last inner character or a backquote
// stands directly before or after it (so a name whose backquotes are already doubled is kept).
std::string EscapeBackquotes(std::string_view name, TCharsetKind charset);
