// Text the game master typed, turned into the bytes a statement sends.
#pragma once

#include <QString>
#include <string>

#include "platform/widgets/FieldText.h"

// How the bytes of a login whose character-set choice is charsetText read as text: "utf8" (and
// "utf8mb4") as UTF-8, every other choice ("默认", gbk, gb2312, latin1) as GBK.
TFieldCharset FieldCharsetOfChoice(const QString& charsetText);

// The message naming the first character of text that charset cannot hold (U+1F600), with what
// names the edit it was typed in; empty when charset holds every character.
QString UnencodableText(const QString& text, TFieldCharset charset, const QString& what);

// text in charset's bytes; EConvertError with UnencodableText when a character would become "?"
// on the way: the statement would then read or write something nobody typed.
std::string TypedBytes(const QString& text, TFieldCharset charset, const QString& what);

// text as an exception message carries it: in the desktop's code page, which the error box reads
// (UTF-8 bytes there showed Chinese paths and typed text garbled).
std::string MessageBytes(const QString& text);
