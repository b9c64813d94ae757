#include "platform/runtime/LocaleCompare.h"

#include <unicode/locid.h>
#include <unicode/ucol.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>

#include "platform/runtime/Charset.h"

namespace {

struct CollatorCloser {
  void operator()(UCollator* c) const { ucol_close(c); }
};

// Opened once; ICU collators are safe to share between threads for comparisons.
// Without the "zh" data the root collation serves; without any, code-unit order.
const UCollator* Collator() {
  static const std::unique_ptr<UCollator, CollatorCloser> collator = [] {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* c = ucol_open("zh", &status);
    if (U_FAILURE(status)) {
      status = U_ZERO_ERROR;
      c = ucol_open("", &status);
    }
    if (U_FAILURE(status)) c = nullptr;
    return std::unique_ptr<UCollator, CollatorCloser>(c);
  }();
  return collator.get();
}

int CodeUnitOrder(std::u16string_view a, std::u16string_view b) {
  int r = a.compare(b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int CompareExact(std::u16string_view a, std::u16string_view b) {
  if (const UCollator* c = Collator()) {
    UCollationResult r =
        ucol_strcoll(c, a.data(), static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size()));
    if (r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
  }
  return CodeUnitOrder(a, b);
}

std::u16string Folded(std::u16string_view s) {
  icu::UnicodeString u(s.data(), static_cast<int32_t>(s.size()));
  u.foldCase();
  return std::u16string(u.getBuffer(), static_cast<size_t>(u.length()));
}

// ASCII is the same in every supported ANSI code page; skip the codec for it.
std::u16string Widen(std::string_view s) {
  if (std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::u16string(s.begin(), s.end());
  return AnsiToWide(s);
}

}  // namespace

int LocaleCompareWide(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  if (ignoreCase) return CompareExact(Folded(a), Folded(b));
  return CompareExact(a, b);
}

int LocaleCompareAnsi(std::string_view a, std::string_view b, bool ignoreCase) {
  std::u16string wa = Widen(a), wb = Widen(b);
  int r = LocaleCompareWide(wa, wb, ignoreCase);
  if (r != 0) return r;
  // Distinct invalid byte sequences all decode to U+FFFD: they are told apart by their bytes.
  bool replaced = wa.find(u'\uFFFD') != std::u16string::npos || wb.find(u'\uFFFD') != std::u16string::npos;
  if (!ignoreCase || replaced) {
    r = a.compare(b);
  } else if (a.find('\0') != std::string_view::npos || b.find('\0') != std::string_view::npos) {
    // The collation ignores U+0000: "a\0b" and "ab" are told apart by their bytes, case aside.
    std::string ua(a), ub(b);
    for (std::string* s : {&ua, &ub})
      for (char& c : *s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    r = ua.compare(ub);
  }
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

std::u16string WideUpperCase(std::u16string_view text) {
  icu::UnicodeString u(text.data(), static_cast<int32_t>(text.size()));
  u.toUpper(icu::Locale::getRoot());
  return std::u16string(u.getBuffer(), static_cast<size_t>(u.length()));
}

namespace {

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void AsciiUpper(std::string& s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

// The upper-case bytes of `text` when it is whole characters that survive the trip through
// UTF-16 both ways; false otherwise.
bool UpperThroughWide(std::string_view text, std::string& out) {
  const std::u16string wide = AnsiToWide(text);
  if (WideToAnsi(wide) != text) return false;
  const std::u16string upper = WideUpperCase(wide);
  out = WideToAnsi(upper);
  return AnsiToWide(out) == upper;
}

}  // namespace

std::string AnsiUpperCase(std::string_view text) {
  std::string out;
  if (IsAscii(text)) {
    out.assign(text);
    AsciiUpper(out);
    return out;
  }
  if (UpperThroughWide(text, out)) return out;
  // Some character does not convert: go character by character, keeping those as they are.
  out.clear();
  out.reserve(text.size());
  const TCharsetKind cs = AnsiCharsetKind();
  const char* p = text.data();
  const char* end = p + text.size();
  std::string piece;
  while (p < end) {
    const size_t n = MbCharLen(cs, p, end);
    const std::string_view ch(p, n);
    if (n == 1 && static_cast<unsigned char>(*p) < 0x80) {
      out += (*p >= 'a' && *p <= 'z') ? static_cast<char>(*p - 'a' + 'A') : *p;
    } else if (UpperThroughWide(ch, piece)) {
      out += piece;
    } else {
      out += ch;
    }
    p += n;
  }
  return out;
}
