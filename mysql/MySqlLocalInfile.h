// Which local file a statement may hand to the server. A server can ask for any file at any
// time; the session sends one only when the statement it just sent is a LOAD ... LOCAL INFILE
// that names exactly that file.
#pragma once

#include <string_view>

#include "platform/runtime/Charset.h"

// True when one of the statements in `sql` (a batch may hold several, separated by ";") is
// LOAD DATA|XML [LOW_PRIORITY|CONCURRENT] LOCAL INFILE '<name>' whose literal, unescaped, equals
// `fileName` byte for byte. `cs` is the character set of the text: a multi-byte character's
// trail byte is never taken for a backslash or a quote. Raises nothing.
bool MySqlStatementNamesLocalFile(std::string_view sql, std::string_view fileName, TCharsetKind cs) noexcept;
