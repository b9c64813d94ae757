// Client-side ordering in the record store: comparison of field values per type group, the
// parser of index field names, and the stable merge sort of a linked item chain.
//
// Field values compare within their group: text by the locale order (LocaleCompare.h), numbers
// by value (dates and times chronologically), Booleans false before true, bytes
// lexicographically (a prefix first), variants by the variant order. A null field sorts before
// every value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/MemData.h"
#include "platform/runtime/FMTBcd.h"
#include "platform/runtime/Variant.h"

// Comparison options (a bit set).
inline constexpr int coCaseInsensitive = 1;
inline constexpr int coPartialKey = 2;       // the field value only has to start with the key
inline constexpr int coPartialCompare = 32;  // the key may occur anywhere in the field value

// ---- Bytes ------------------------------------------------------------------------------------

// -1, 0, 1: the first differing byte (unsigned) decides.
int CompareBinary(const void* a, const void* b, size_t length) noexcept;
// Key a against field value b. coPartialCompare: 0 when a occurs in b (an empty key occurs
// everywhere), else 1. coPartialKey: b's first lenA bytes against a, 1 when b is shorter.
// Otherwise lexicographic, a proper prefix before the longer value.
int CompareBinaryValues(const void* a, size_t lenA, int options, const void* b, size_t lenB) noexcept;

// ---- Text -------------------------------------------------------------------------------------

// The string comparisons of a record store, virtual so that a record set can order text its own
// way. All return -1, 0 or 1 and are case-insensitive under coCaseInsensitive.
class TStringComparer {
 public:
  virtual ~TStringComparer() = default;
  // The locale order.
  virtual int CompareStrings(std::string_view a, std::string_view b, int options);
  virtual int CompareWideStrings(std::u16string_view a, std::u16string_view b, int options);
  // a against b cut to a's length (at a character boundary).
  virtual int CompareStringsLen(std::string_view a, std::string_view b, int options);
  virtual int CompareWideStringsLen(std::u16string_view a, std::u16string_view b, int options);
  // Key against field text under the locate options. coPartialCompare: 0 when the key occurs in
  // the text (both upper-cased under coCaseInsensitive), else 1. coPartialKey: the text cut to
  // the key's length against the key (an empty key keeps the whole text), 1 when the text is
  // shorter than the key. Otherwise CompareStrings.
  virtual int CompareStrValues(std::string_view key, std::string_view fieldText, int options);
  virtual int CompareWideStrValues(std::u16string_view key, std::u16string_view fieldText, int options);
};

// ---- Values -----------------------------------------------------------------------------------

// A key or a field value prepared for comparison. Text and byte views point into the record
// buffer, the key, or the value's own copies, so a value is filled in place and never moved.
struct TCompareValue {
  enum TGroup : uint8_t {
    cgText,
    cgWideText,
    cgInteger,
    cgFloat,
    cgDateTime,
    cgBcd,
    cgFmtBcd,
    cgBoolean,
    cgBytes,
    cgVariant,
    cgUInt64,  // Integer holds the bits of an unsigned value
    cgMicros   // Integer holds microseconds (dtDateTimeUs or dtTimeUs, as DataType says)
  };

  TCompareValue() = default;
  TCompareValue(const TCompareValue&) = delete;
  TCompareValue& operator=(const TCompareValue&) = delete;

  TDataType DataType = dtUnknown;
  TGroup Group = cgInteger;
  int64_t Integer = 0;  // cgInteger, cgBcd (scaled by 10,000), cgBoolean (0 or 1)
  double Float = 0;     // cgFloat; cgDateTime: days, the time of day always counting forward
  TBcd Bcd{};
  std::string_view Text;
  std::u16string WideText;
  std::span<const uint8_t> Bytes;
  Variant Value;
  std::string OwnText;            // content of a memo
  std::vector<uint8_t> OwnBytes;  // content of a binary blob
};

// The form a key takes for CompareFields, by its ValueType (unaligned pointers are fine):
//   dtString, dtGuid, dtMemo: zero-terminated ANSI text; dtExtString: an int32 count, then the
//   bytes of ANSI text (zero bytes included);
//   dtWideString, dtExtWideString, dtWideMemo: zero-terminated UTF-16;
//   dtInt8, dtInt16, dtUInt16, dtInt32: int32; dtUInt32: uint32; dtInt64: int64;
//   dtBoolean: one byte, true when not 0;
//   dtFloat, dtCurrency, dtDate, dtTime, dtDateTime: the 8-byte double a record stores;
//   dtBCD: int64 scaled by 10,000; dtFmtBCD: the 34-byte TBcd;
//   dtBytes, dtVarBytes, dtExtVarBytes, dtBlob: a 16-bit count, then the bytes;
//   dtVariant: a Variant object; dtUInt64: uint64; dtDateTimeUs, dtTimeUs: int64 microseconds.
// Other types 1..33 raise EConvertError "Cannot convert type"; a code outside 1..33 is the
// assertion failure "Unknown ValueType = <code>".
void KeyCompareValue(const void* valuePtr, TDataType valueType, TCompareValue& out);
// The value of a non-null field of the record (calculated fields read from the calculated area
// after the record). Strings lose their trailing blanks when the store trims the field's kind.
// EConvertError "Cannot convert type" for object, reference, array and table fields.
void FieldCompareValue(TData& data, const void* recBuf, const TFieldDesc& field, TCompareValue& out);

// A value (key) against a field value, -1/0/1. Equal groups compare as the header says; text
// under the options (CompareStrValues with a partial option, else CompareStrings); bytes by
// CompareBinaryValues. Across groups: a text key against any other field turns the field value
// into text (integers in decimal, numbers by FloatToStr, dates by DateToStr, TimeToStr or
// DateTimeToStr, Booleans as True or False); numbers of any group compare by value; a variant
// compares by the variant order with the other side as a variant. Other pairs raise
// EConvertError "Cannot convert type".
int CompareValues(TStringComparer& strings, const TCompareValue& value, const TCompareValue& field,
                  int options);

// The field in two records: null before any value, two nulls equal, else CompareValues.
int CompareFieldValues(TData& data, TStringComparer& strings, const void* recBuf1, const void* recBuf2,
                       int options, const TFieldDesc& field);

// Whether records can be ordered by a field of the type.
bool IsSortableType(TDataType dataType) noexcept;

// ---- Index field names ------------------------------------------------------------------------

// Parses "Name [DESC|ASC] [CIS|CS] {; or , ...}" into sort columns (cleared first). A name is an
// identifier, a quoted string or any text in "[" "]". Raises EDatabaseError "Field %s not found"
// for an unknown name, EConvertError "Cannot convert type" for a field that cannot be ordered and
// Exception "Invalid IndexFieldNames format!" for anything else; the columns are then empty.
void ParseIndexFieldNames(std::string_view text, const TData& data, TSortColumns& columns);

// ---- Sorting a chain --------------------------------------------------------------------------

// Sorts the chain first..last of items linked through their Prev and Next members, stably, with
// O(n log n) comparisons at worst and n - 1 for a chain already in order. compare(a, b) returns
// a negative number when a goes before b. Items are relinked, never copied; an item already in
// place keeps its links. When compare throws, the chain stays whole (every item linked once, in
// some order) and the exception propagates. The chain's ends are updated.
template <class Item, class Compare>
void MergeSortChain(Item*& first, Item*& last, Compare&& compare);

namespace mem_data_sort_detail {

// Natural runs merged as in a binary counter: Pending[k] holds a sorted chain built from about
// 2^k runs, higher slots holding earlier items, so every item takes part in at most
// log2(runs) + 1 merges. Every chain here ends in a nil Next whenever compare may run, which
// lets Restore relink all of them after an exception.
template <class Item, class Compare>
class TChainSorter {
 public:
  explicit TChainSorter(Compare& compare) : FCompare(compare) {}

  Item* Sort(Item* head) {
    FRest = head;
    try {
      while (FRest) AddRun(TakeRun());
      Item* sorted = nullptr;
      for (Item*& slot : FPending) {
        if (!slot) continue;
        Item* earlier = slot;
        slot = nullptr;
        sorted = sorted ? Merge(earlier, sorted) : earlier;
        FCarry = sorted;
      }
      return sorted;
    } catch (...) {
      FRestored = Restore();
      throw;
    }
  }
  Item* Restored() const noexcept { return FRestored; }

 private:
  // Cuts the longest non-descending run off the front of the rest.
  Item* TakeRun() {
    Item* head = FRest;
    Item* tail = head;
    while (tail->Next && FCompare(tail, tail->Next) <= 0) tail = tail->Next;
    FRest = tail->Next;
    tail->Next = nullptr;
    FCarry = head;
    return head;
  }

  void AddRun(Item* run) {
    size_t k = 0;
    for (; FPending[k]; ++k) {
      Item* earlier = FPending[k];
      FPending[k] = nullptr;
      run = Merge(earlier, run);
      FCarry = run;
    }
    FPending[k] = run;
    FCarry = nullptr;
  }

  // Merges two sorted chains, a's items going first on ties.
  Item* Merge(Item* a, Item* b) {
    FCarry = nullptr;
    FA = a;
    FB = b;
    FOutHead = FOutTail = nullptr;
    while (FA && FB) {
      Item*& from = FCompare(FB, FA) < 0 ? FB : FA;
      Item* x = from;
      from = x->Next;
      x->Next = nullptr;
      if (FOutTail)
        FOutTail->Next = x;
      else
        FOutHead = x;
      FOutTail = x;
    }
    FOutTail->Next = FA ? FA : FB;
    Item* out = FOutHead;
    FA = FB = FOutHead = FOutTail = nullptr;
    return out;
  }

  // Joins every chain the sorter holds into one.
  Item* Restore() noexcept {
    Item* head = nullptr;
    Item* tail = nullptr;
    auto join = [&](Item* chain) {
      if (!chain) return;
      if (tail)
        tail->Next = chain;
      else
        head = chain;
      for (tail = chain; tail->Next; tail = tail->Next) {
      }
    };
    for (size_t k = FPending.size(); k-- > 0;) join(FPending[k]);
    join(FCarry);
    join(FOutHead);
    join(FA);
    join(FB);
    join(FRest);
    return head;
  }

  Compare& FCompare;
  std::array<Item*, 64> FPending{};
  Item* FCarry = nullptr;  // the run being added, or the merge result being carried up
  Item* FA = nullptr;
  Item* FB = nullptr;
  Item* FOutHead = nullptr;
  Item* FOutTail = nullptr;
  Item* FRest = nullptr;  // items not yet cut into runs
  Item* FRestored = nullptr;
};

template <class Item>
void RelinkPrev(Item* head, Item*& first, Item*& last) noexcept {
  Item* prev = nullptr;
  for (Item* x = head; x; x = x->Next) {
    x->Prev = prev;
    prev = x;
  }
  first = head;
  last = prev;
}

}  // namespace mem_data_sort_detail

template <class Item, class Compare>
void MergeSortChain(Item*& first, Item*& last, Compare&& compare) {
  if (!first || first == last) return;
  DA_ASSERT(first->Prev == nullptr && last->Next == nullptr);
  mem_data_sort_detail::TChainSorter<Item, std::remove_reference_t<Compare>> sorter(compare);
  Item* head;
  try {
    head = sorter.Sort(first);
  } catch (...) {
    mem_data_sort_detail::RelinkPrev(sorter.Restored(), first, last);
    throw;
  }
  mem_data_sort_detail::RelinkPrev(head, first, last);
}
