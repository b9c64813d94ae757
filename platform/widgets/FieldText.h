// Field text between the dataset and the widgets. Fields hold the server's bytes: GBK, or UTF-8
// when the connection's character set is utf8; the widgets show and take QString.
#pragma once

#include <QString>
#include <string>
#include <string_view>

enum class TFieldCharset : uint8_t { Gbk, Utf8 };

// Text of a server character set name: Utf8 for "utf8", "utf8mb3" and "utf8mb4", else Gbk.
TFieldCharset FieldCharsetOf(std::string_view serverCharset);

// Invalid or cut sequences become U+FFFD; nothing is dropped silently.
QString DecodeFieldText(std::string_view bytes, TFieldCharset charset);
// A character the charset lacks becomes "?".
std::string EncodeFieldText(const QString& text, TFieldCharset charset);

// The first character of wide (a whole surrogate pair counts as one) that the charset cannot hold
// and EncodeFieldText would turn into "?"; kNoUnencodable when it holds them all.
inline constexpr char32_t kNoUnencodable = static_cast<char32_t>(-1);
char32_t FirstUnencodable(std::u16string_view wide, TFieldCharset charset);

class TField;
// The bytes an editor stores in field: EDatabaseError, naming the character ("U+1F600"), when
// the charset cannot hold one of text's characters, and naming the length when the bytes (or the
// characters of a wide text field) are more than the field holds. Nothing is replaced or cut.
std::string FieldTextToStore(const TField& field, const QString& text, TFieldCharset charset);
