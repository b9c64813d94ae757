// Character sets: which bytes form one multi-byte character (mirroring the server's own rule
// for each set), and conversion between the ANSI code page and UTF-16.
//
// Every scan, cut and escape of text uses the predicate of the text's character set:
// a trail byte may be 0x5C ('\'), a quote-free letter or a symbol, and a lead byte without a
// valid trail is a byte of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class TCharsetKind : uint8_t {
  SingleByte,  // latin1, ascii, binary, cp1252 ...: every byte is one character
  Utf8,        // utf8 / utf8mb3 / utf8mb4
  Gbk,
  Gb2312,
  Big5,
  Sjis,  // also cp932
  Gb18030,
  EucKr,
  Ujis,  // also eucjpms
};

// Charset kind of a server character set name ("gbk", "utf8mb4", "latin1", ...).
// An empty name is latin1 (the login's character set 8). Unknown names count as single-byte.
TCharsetKind CharsetKindByName(std::string_view name);

// Length in bytes (2 to 4) of the valid multi-byte character that starts at p, or 1 when the
// byte at p stands alone (single-byte character, lone lead, or a sequence cut by `end`).
// Never reads at or past `end`; p < end is required.
size_t MbCharLen(TCharsetKind cs, const char* p, const char* end) noexcept;

// True when the byte can start a multi-byte character of the set (a lead byte).
bool IsMbLead(TCharsetKind cs, unsigned char c) noexcept;

// Longest prefix of `text` of at most maxBytes bytes that does not split a character of `cs`.
size_t MbCutLength(TCharsetKind cs, std::string_view text, size_t maxBytes) noexcept;

// ---- ANSI code page -------------------------------------------------------------------------

// The process's ANSI code page: 936 (GBK) unless set otherwise. Known pages: 936, 54936 (GB18030),
// 950 (Big5), 932 (Shift-JIS), 949 (EUC-KR), 1252, 28591 (latin1), 65001 (UTF-8).
int GetAnsiCodePage() noexcept;
void SetAnsiCodePage(int codePage);
TCharsetKind CharsetKindOfCodePage(int codePage) noexcept;
// The charset kind of the current ANSI code page.
TCharsetKind AnsiCharsetKind() noexcept;
// True when the ANSI code page has multi-byte characters.
bool IsAnsiMultiByte() noexcept;

// ANSI (current code page) to UTF-16. An invalid or lone byte becomes U+FFFD.
std::u16string AnsiToWide(std::string_view text);
// UTF-16 to ANSI. A character the code page lacks, or a lone surrogate, becomes "?".
std::string WideToAnsi(std::u16string_view text);

// The same for a given code page.
std::u16string CodePageToWide(std::string_view text, int codePage);
std::string WideToCodePage(std::u16string_view text, int codePage);

// The byte-order mark an editor may put before a text saved as UTF-8.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// UTF-8 <-> UTF-16 (invalid input as above).
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

// ANSI <-> UTF-8 through UTF-16.
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);
