// MySQL provider routines every MySQL-side unit shares: the provider exception, escaping and quoting of
// values into SQL literals, and quoting of identifiers.
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

#include "core/CLRClasses.h"
#include "core/CRAccess.h"
#include "core/DAError.h"
#include "core/MemFieldDesc.h"
#include "mysql/MySqlProtocol.h"
#include "mysql/MyTableInfo.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Variant.h"

// The provider exception: the server's or the client's error number and text.
class EMyError : public EDAError {
 public:
  // For the server's syntax error 1064, LineNumber is the last run of digits in the message
  // (its "at line N"); otherwise, or when the message has no such number, 0.
  EMyError(int errorCode, std::string msg);

  int32_t LineNumber = 0;
};

// ---- escaping and quoting ------------------------------------------------------------------

// Escapes `length` bytes of `src` (in character set `charset`) into `dest`, which has room for
// 2 x length + 1 bytes, and stores a 0 byte after them. Returns the number of bytes written
// (without the 0). NUL, LF, CR, Ctrl-Z, both quotes and "\" are escaped; so is a lead byte of a
// multi-byte set that has no valid trail, so that the byte after it cannot pair with an inserted
// backslash. `dest` and `src` must not overlap. With `noBackslashEscapes` (a session whose
// sql_mode has NO_BACKSLASH_ESCAPES, where a backslash is a plain character) only the single
// quote is escaped, by doubling it; every other byte is written as it is.
size_t EscapeString(char* dest, const char* src, size_t length, TCharsetKind charset,
                    bool noBackslashEscapes = false);

// The same for UTF-16 code units (no character set: every escaped character is one unit).
// `dest` has room for 2 x length + 1 units; returns the units written before the 0 unit.
size_t EscapeWideString(char16_t* dest, const char16_t* src, size_t length);

// A single quote, the escaped bytes, a single quote.
std::string QuoteString(std::string_view src, TCharsetKind charset, bool noBackslashEscapes = false);
std::u16string QuoteWideString(std::u16string_view src);

// A literal for raw bytes (blob data, byte arrays) in SQL text sent with the connection's
// character set `connCharset`: on a multi-byte set the hex literal X'..' (empty bytes give ''),
// so that no byte can pair with its neighbour; on a single-byte set the quoted, escaped bytes.
std::string QuoteBinary(std::string_view bytes, TCharsetKind connCharset, bool noBackslashEscapes = false);

// ---- identifiers -----------------------------------------------------------------------------

// Identifiers are read by the server in the connection's character set: a multi-byte character
// may end in a backquote byte, which is then no quote. The routines that write backquotes take
// that set; those that only remove quotes take the set of the text (the ANSI code page).

// Quotes an identifier with backquotes where needed (a character outside the plain name
// characters, or a reserved word; always with `force`); a dotted name
// db.name is quoted part by part (force applies to a name without a point). A name already
// quoted correctly is kept. Backquotes inside a name that gets quoted are doubled, so no name can
// end the identifier early. A name ending in a lead byte that the closing backquote would
// complete raises EDatabaseError: it cannot be written as an identifier in `charset`.
std::string BackquoteName(std::string_view name, bool force, TCharsetKind charset);

// Removes the quotes of an identifier (part by part in a dotted name) where the bare name needs
// none; names shorter than 3 characters and names that need their quotes are kept. A reserved
// word loses them too: the result is a name to match, not text for a statement.
std::string UnquoteName(std::string_view name, TCharsetKind charset = AnsiCharsetKind());

// Splits "db.name" at its first point outside quotes into the unquoted database part and the
// unquoted name part; without a point the database part is empty.
void SplitObjectName(std::string_view name, std::string& database, std::string& objName,
                     TCharsetKind charset = AnsiCharsetKind());

// A name enclosed in backquotes, double or single quotes keeps its enclosing characters; inside,
// a backquote is doubled unless it is the first or the last inner character or a backquote
// stands directly before or after it (so a name whose backquotes are already doubled is kept).
std::string EscapeBackquotes(std::string_view name, TCharsetKind charset);

// The table name of the column's table info; empty for a description without one (a computed
// column, or a description that is not a provider's).
std::string GetFieldDescTableName(const TFieldDesc* fieldDesc);

// True for parameters of the blob types dtBlob, dtMemo and dtWideMemo.
bool IsBlobParamType(const TParamDesc& param) noexcept;

// ---- values as SQL literals ------------------------------------------------------------------

// How DECIMAL columns are held (the connection option NumericType).
enum TDANumericType : uint8_t { ntFloat = 0, ntBCD = 1, ntFmtBCD = 2 };

// The character set for literals named by a connection's settings: UTF-8 under UseUnicode;
// otherwise the set Charset names (empty: latin1, see CharsetKindByName). An open connection
// knows its session's real set (TMySQLConnection::GetTextCharset), which is what literals use.
TCharsetKind SQLTextCharset(std::string_view connectionCharset, bool useUnicode);

// The quoted literal of a text, byte-array or blob value (a TBlob passed as an object reference;
// a missing object fails an assertion). `connCharset` is how the server reads the statement
// (SQLTextCharset). `binary` marks blob content as bytes rather than text: bytes, byte arrays and
// compressed blob content are written by QuoteBinary. Text under UseUnicode is converted to
// UTF-8 (ANSI text from the ANSI code page, wide text from UTF-16) and then escaped as UTF-8;
// otherwise it is escaped for `connCharset`. With
// `compress`, a blob of more than 50 bytes is sent compressed. Compression errors pass through.
// `noBackslashEscapes` as for EscapeString: how the session reads the statement.
std::string StringValueToSQL(const Variant& value, bool useUnicode, bool compress, TCharsetKind connCharset,
                             bool binary = false, bool noBackslashEscapes = false);

// Appends the literal of a parameter value of data type `dataType`: NULL, a quoted text or
// binary literal, a number with "." as decimal separator whatever the locale, a quoted date,
// time or date-time, or a Boolean ("1"/"0" before server version 5, b'1'/b'0' from 5 on).
// The zero date MySQLZeroDate is written '0000-00-00 00:00:00'. dtUInt64 is written unsigned;
// dtDateTimeUs and dtTimeUs keep their microseconds (their text or date-time value read as
// MicrosOfVariant does; DateTimeUsZero is the zero date). Raises EConvertError for a
// value that is not of the type (a non-number for an integer type, say) and for a float that
// is not finite.
void AppendSQLValue(StringBuilder& sb, TDataType dataType, const Variant& value, int serverMajorVersion,
                    bool compress, bool useUnicode, bool isNull, TCharsetKind connCharset,
                    bool noBackslashEscapes = false);

// The literal as a string (AppendSQLValue on a temporary builder).
std::string ValueToSQLText(TDataType dataType, const Variant& value, bool isNull, int serverMajorVersion,
                           bool compress, bool useUnicode, TCharsetKind connCharset,
                           bool noBackslashEscapes = false);

// ---- column types ----------------------------------------------------------------------------

// The character set of binary strings (BINARY, VARBINARY, BLOB, binary expressions).
inline constexpr uint16_t BinaryCharsetNr = 63;

// The record store's data type for a column. Sets `fixed` for fixed-length strings (CHAR).
// BIGINT UNSIGNED and BIT are dtUInt64, every value of 0..2^64-1 exactly.
// Under UseUnicode dtString becomes dtWideString and dtMemo dtWideMemo. False for a type without
// a data type (NEWDATE, JSON and the unassigned codes): a server may send any of them.
bool MySQLTypeToDataType(int fieldType, uint32_t length, bool binary, bool& fixed, TDataType& dataType,
                         TDANumericType numericType, bool useUnicode, bool enableBoolean, bool isUnsigned);
