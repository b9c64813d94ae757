// Unit MyAccess: the MySQL forms of the components. This part holds the SQL text helpers bound to
// the MySQL lexer and the name-list helpers used by the dump component.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/db/FieldTypes.h"
#include "platform/runtime/Charset.h"

class TStringList;

// The clause helpers of components/DBAccessText.h with TMyParser and its keyword codes; with
// `noBackslashEscapes` the text is read as a session with NO_BACKSLASH_ESCAPES reads it.
std::string MyAddWhere(std::string_view sql, std::string_view condition,
                       TCharsetKind charset = AnsiCharsetKind(), bool noBackslashEscapes = false);
std::string MySetWhere(std::string_view sql, std::string_view condition,
                       TCharsetKind charset = AnsiCharsetKind(), bool noBackslashEscapes = false);
// MySetWhere with an empty condition: the WHERE clause goes, keyword included.
std::string MyDeleteWhere(std::string_view sql, TCharsetKind charset = AnsiCharsetKind(),
                          bool noBackslashEscapes = false);
std::string MySetOrderBy(std::string_view sql, std::string_view fields,
                         TCharsetKind charset = AnsiCharsetKind(), bool noBackslashEscapes = false);
std::string MyGetOrderBy(std::string_view sql, TCharsetKind charset = AnsiCharsetKind(),
                         bool noBackslashEscapes = false);

// The items, each back-quoted where it needs it, joined by ", ".
std::string NamesToText(const TStringList& list, TCharsetKind charset = AnsiCharsetKind());
// Clears the list and adds the pieces of the text split at "," and ";", each trimmed and
// unquoted; empty pieces are skipped.
void TextToNames(std::string_view text, TStringList& list, TCharsetKind charset = AnsiCharsetKind());

// The field type of a MySQL record-store column: the small integers, Boolean, 64-bit and currency
// columns as the MySQL dataset shows them; every other type as the general map gives it.
TFieldType MyDataTypeToFieldType(uint16_t dataType);
