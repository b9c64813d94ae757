#include "platform/runtime/LocaleCompare.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

#include <algorithm>

#include "platform/runtime/Charset.h"
#include "platform/runtime/DynLib.h"

namespace {

// ICU is loaded at its first use, not at the program's start: most runs (a dump, a restore, a
// console that sorts nothing) never compare text by locale, and its libraries are the largest part
// of what a start would otherwise map and touch. The entry points carry the version suffix of the
// headers built against (ucol_open_72 ...), which the stringised names below expand to.
#define DA_ICU_NAME2(x) #x
#define DA_ICU_NAME(x) DA_ICU_NAME2(x)

class TIcu {
 public:
  // Kept for the life of the process, never unloaded: ICU's own caches live in its libraries'
  // memory, and text may be compared while other static objects are destroyed.
  static const TIcu& Get() {
    static const TIcu* const icu = new TIcu;
    return *icu;
  }
  TIcu(const TIcu&) = delete;
  TIcu& operator=(const TIcu&) = delete;

  // The "zh" collator (the root one without its data), or null without ICU; shared between
  // threads, which ICU allows for comparisons.
  const UCollator* Collator() const { return FCollator; }
  decltype(&ucol_strcoll) StrColl = nullptr;
  decltype(&u_strFoldCase) Fold = nullptr;
  decltype(&u_strToUpper) Upper = nullptr;

 private:
  TIcu() {
    if (!FCommon.Load("libicuuc.so." U_ICU_VERSION_SHORT)) return;
    Fold = FCommon.Function<decltype(&u_strFoldCase)>(DA_ICU_NAME(u_strFoldCase));
    Upper = FCommon.Function<decltype(&u_strToUpper)>(DA_ICU_NAME(u_strToUpper));
    if (!FCollation.Load("libicui18n.so." U_ICU_VERSION_SHORT)) return;
    const auto open = FCollation.Function<decltype(&ucol_open)>(DA_ICU_NAME(ucol_open));
    StrColl = FCollation.Function<decltype(&ucol_strcoll)>(DA_ICU_NAME(ucol_strcoll));
    if (!open || !StrColl) return;
    UErrorCode status = U_ZERO_ERROR;
    UCollator* c = open("zh", &status);
    if (U_FAILURE(status)) {
      status = U_ZERO_ERROR;
      c = open("", &status);
    }
    FCollator = U_FAILURE(status) ? nullptr : c;
  }

  TDynLib FCommon, FCollation;
  UCollator* FCollator = nullptr;
};

// ASCII letters alone mapped (from 'A' to 'a' or back): the case mapping without ICU.
std::u16string AsciiMapped(std::u16string_view s, char16_t from, char16_t to) {
  std::u16string out(s);
  for (char16_t& c : out)
    if (c >= from && c < from + 26) c = static_cast<char16_t>(c - from + to);
  return out;
}

// The whole text through one of ICU's case mappings, which fills a buffer and says the length it
// needs (the text may grow); nothing when the mapping fails.
template <typename Map>
bool CaseMapped(std::u16string_view s, Map map, std::u16string& out) {
  out.assign(s.size() + 8, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n =
      map(out.data(), static_cast<int32_t>(out.size()), s.data(), static_cast<int32_t>(s.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<size_t>(n), u'\0');
    status = U_ZERO_ERROR;
    n = map(out.data(), static_cast<int32_t>(out.size()), s.data(), static_cast<int32_t>(s.size()), &status);
  }
  if (U_FAILURE(status)) return false;
  out.resize(static_cast<size_t>(n));
  return true;
}

int CodeUnitOrder(std::u16string_view a, std::u16string_view b) {
  int r = a.compare(b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int CompareExact(std::u16string_view a, std::u16string_view b) {
  const TIcu& icu = TIcu::Get();
  if (const UCollator* c = icu.Collator()) {
    UCollationResult r =
        icu.StrColl(c, a.data(), static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size()));
    if (r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
  }
  return CodeUnitOrder(a, b);
}

std::u16string Folded(std::u16string_view s) {
  std::u16string out;
  if (const auto fold = TIcu::Get().Fold;
      fold && CaseMapped(
                  s,
                  [fold](UChar* d, int32_t dn, const UChar* src, int32_t sn, UErrorCode* st) {
                    return fold(d, dn, src, sn, U_FOLD_CASE_DEFAULT, st);
                  },
                  out))
    return out;
  return AsciiMapped(s, u'A', u'a');
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
  std::u16string out;
  if (const auto upper = TIcu::Get().Upper;
      upper && CaseMapped(
                   text,
                   [upper](UChar* d, int32_t dn, const UChar* src, int32_t sn, UErrorCode* st) {
                     return upper(d, dn, src, sn, "", st);
                   },  // the root locale
                   out))
    return out;
  return AsciiMapped(text, u'a', u'A');
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
