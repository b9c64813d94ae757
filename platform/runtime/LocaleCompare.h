// Locale string comparison and case mapping: the one place that orders text the way users read it.
//
// Text is compared by the "zh" collation (ICU) on UTF-16, punctuation and blanks significant.
// The case-insensitive forms fold case first. Strings the collation finds equal but whose code
// units differ (for example with embedded zero characters, which the collation ignores) are
// ordered by their code units, so the order is total and deterministic and 0 means equal text
// (for the case-insensitive forms: equal after case folding).
#pragma once

#include <string>
#include <string_view>

// -1, 0 or 1. Every character counts, embedded zeros included.
int LocaleCompareWide(std::u16string_view a, std::u16string_view b, bool ignoreCase);
// ANSI text (the process's code page) through UTF-16. The case-sensitive form returns 0 only for
// equal bytes.
int LocaleCompareAnsi(std::string_view a, std::string_view b, bool ignoreCase);

// Upper case by the Unicode rules (root locale); the text may grow (a sharp s becomes SS).
std::u16string WideUpperCase(std::u16string_view text);
// ANSI text (the process's code page) upper-cased character by character: a multi-byte character
// is changed only as a whole and only when the code page holds its upper-case form, and a byte
// that forms no character stays as it is, so trail bytes are never touched.
std::string AnsiUpperCase(std::string_view text);

// Equal but for the case of ASCII letters; every other byte must match. For names known to be
// ASCII it agrees with the case-insensitive locale comparison at a fraction of the cost.
inline bool SameAsciiCaseless(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}
