#include "core/CRTableInfo.h"

#include <algorithm>
#include <utility>

#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

// Walks a name character by character in the ANSI code page.
class TNameScanner {
 public:
  explicit TNameScanner(std::string_view text) noexcept : FText(text), FCharset(AnsiCharsetKind()) {}

  bool AtEnd() const noexcept { return FPos >= FText.size(); }
  size_t Pos() const noexcept { return FPos; }
  // The current character's bytes.
  std::string_view Current() const noexcept { return FText.substr(FPos, CurrentLength()); }
  // True when the current character is the single byte c.
  bool Is(char c) const noexcept { return !AtEnd() && FText[FPos] == c && CurrentLength() == 1; }
  void Next() noexcept { FPos += CurrentLength(); }

 private:
  size_t CurrentLength() const noexcept {
    return MbCharLen(FCharset, FText.data() + FPos, FText.data() + FText.size());
  }

  std::string_view FText;
  TCharsetKind FCharset;
  size_t FPos = 0;
};

// More than one character, the first leftQuote, the last the single byte rightQuote.
bool IsEnclosed(std::string_view name, char leftQuote, char rightQuote) {
  if (name.size() < 2 || name.front() != leftQuote) return false;
  TNameScanner scan(name);
  size_t last = 0;
  for (; !scan.AtEnd(); scan.Next()) last = scan.Pos();
  return last > 0 && last == name.size() - 1 && name[last] == rightQuote;
}

// Enclosed, and every rightQuote inside is doubled.
bool IsQuotedCorrectly(std::string_view name, char leftQuote, char rightQuote) {
  if (!IsEnclosed(name, leftQuote, rightQuote)) return false;
  TNameScanner scan(name.substr(1, name.size() - 2));
  while (!scan.AtEnd()) {
    if (scan.Is(rightQuote)) {
      scan.Next();
      if (!scan.Is(rightQuote)) return false;
    }
    scan.Next();
  }
  return true;
}

std::string QuoteWith(std::string_view bare, char leftQuote, char rightQuote) {
  std::string out(1, leftQuote);
  for (TNameScanner scan(bare); !scan.AtEnd(); scan.Next()) {
    out += scan.Current();
    if (scan.Is(rightQuote)) out += rightQuote;
  }
  out += rightQuote;
  return out;
}

std::string UnQuoteWith(std::string_view name, char leftQuote, char rightQuote) {
  if (!IsEnclosed(name, leftQuote, rightQuote)) return std::string(name);
  std::string out;
  TNameScanner scan(name.substr(1, name.size() - 2));
  while (!scan.AtEnd()) {
    bool quote = scan.Is(rightQuote);
    out += scan.Current();
    scan.Next();
    if (quote && scan.Is(rightQuote)) scan.Next();
  }
  return out;
}

// The parts of a dotted name; a point inside quotes of either pair does not split.
std::vector<std::string_view> SplitDotted(std::string_view name, const char (&pairs)[2][2]) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  char closing = 0;
  TNameScanner scan(name);
  while (!scan.AtEnd()) {
    if (closing != 0) {
      if (scan.Is(closing)) {
        scan.Next();
        if (!scan.Is(closing))
          closing = 0;  // else a doubled quote inside the name
        else
          scan.Next();
        continue;
      }
    } else if (scan.Is('.')) {
      parts.push_back(name.substr(start, scan.Pos() - start));
      start = scan.Pos() + 1;
    } else {
      for (const auto& pair : pairs) {
        if (scan.Is(pair[0])) {
          closing = pair[1];
          break;
        }
      }
    }
    scan.Next();
  }
  parts.push_back(name.substr(start));
  return parts;
}

bool HoldsAnyOf(std::string_view bare, std::string_view chars) {
  // ASCII bytes are whole characters in every code page: a byte search finds them.
  if (std::all_of(bare.begin(), bare.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return bare.find_first_of(chars) != std::string_view::npos;
  for (TNameScanner scan(bare); !scan.AtEnd(); scan.Next())
    for (char c : chars)
      if (scan.Is(c)) return true;
  return false;
}

bool IsPlainNameChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

// ---- TCRTableInfoClass ------------------------------------------------------------------------

std::unique_ptr<TCRTableInfo> TCRTableInfoClass::Create(TCRTablesInfo* owner) const {
  return std::make_unique<TCRTableInfo>(owner);
}

bool TCRTableInfoClass::IsQuotedName(std::string_view name) const {
  return IsEnclosed(name, LeftQuote(), RightQuote());
}

bool TCRTableInfoClass::IsBracketNeeds(std::string_view name) const {
  for (char c : UnQuote(name))
    if (!IsPlainNameChar(static_cast<unsigned char>(c))) return true;
  return false;
}

std::string TCRTableInfoClass::UnQuote(std::string_view name) const {
  if (!IsQuotedName(name)) return std::string(name);
  // A subclass may accept more than one kind of quotes: undouble the one that closes the name.
  return UnQuoteWith(name, name.front(), name.back());
}

std::string TCRTableInfoClass::Quote(std::string_view name) const {
  if (IsQuotedCorrectly(name, LeftQuote(), RightQuote())) return std::string(name);
  return QuoteWith(name, LeftQuote(), RightQuote());
}

std::string TCRTableInfoClass::NormalizeNameEx(std::string_view name, char leftQuote, char rightQuote,
                                               bool quoteNames) const {
  // The usual name: ASCII bytes (one character each in every code page) without a point or a
  // quote is one part, bare already.
  bool plain = true;
  for (char c : name)
    if (static_cast<unsigned char>(c) >= 0x80 || c == '.' || c == leftQuote || c == rightQuote ||
        c == LeftQuote() || c == RightQuote()) {
      plain = false;
      break;
    }
  if (plain) return QuoteIfNeeded(name, leftQuote, rightQuote, quoteNames);
  const char pairs[2][2] = {{leftQuote, rightQuote}, {LeftQuote(), RightQuote()}};
  std::string out;
  bool first = true;
  for (std::string_view part : SplitDotted(name, pairs)) {
    std::string bare;
    if (IsEnclosed(part, leftQuote, rightQuote))
      bare = UnQuoteWith(part, leftQuote, rightQuote);
    else
      bare = UnQuoteWith(part, LeftQuote(), RightQuote());
    if (!first) out += '.';
    first = false;
    out += QuoteIfNeeded(bare, leftQuote, rightQuote, quoteNames);
  }
  return out;
}

std::string TCRTableInfoClass::NormalizeIdentifier(std::string_view bare, bool quoteNames) const {
  return QuoteIfNeeded(bare, LeftQuote(), RightQuote(), quoteNames);
}

std::string TCRTableInfoClass::QuoteIfNeeded(std::string_view bare, char leftQuote, char rightQuote,
                                             bool quoteNames) const {
  // A point or a quote character always needs quotes; IsBracketNeeds is asked only about names
  // free of both, which every server's rule can judge. A reserved word written bare would be read
  // as the keyword.
  const char special[] = {'.', leftQuote, rightQuote, LeftQuote(), RightQuote()};
  bool needsQuotes = quoteNames || HoldsAnyOf(bare, std::string_view(special, sizeof special)) ||
                     IsBracketNeeds(bare) || IsReservedWord(bare);
  return needsQuotes ? QuoteWith(bare, leftQuote, rightQuote) : std::string(bare);
}

std::string TCRTableInfoClass::NormalizeName(std::string_view name, bool quoteNames) const {
  return NormalizeNameEx(name, LeftQuote(), RightQuote(), quoteNames);
}

// ---- TCRTableInfo -----------------------------------------------------------------------------

const TCRTableInfoClass& TCRTableInfo::Class() {
  static const TCRTableInfoClass instance;
  return instance;
}

void TCRTableInfo::SetTableName(std::string value) {
  FTableName = std::move(value);
  if (FOwner != nullptr && FIndex >= 0) FOwner->IndexChanged(TCRTablesInfo::TIndexKind::Name);
}

void TCRTableInfo::SetTableAlias(std::string value) {
  FTableAlias = std::move(value);
  if (FOwner != nullptr && FIndex >= 0) FOwner->IndexChanged(TCRTablesInfo::TIndexKind::Alias);
}

// ---- TCRTablesInfo ----------------------------------------------------------------------------

TCRTablesInfo::TCRTablesInfo(const TCRTableInfoClass& itemClass) : FItemClass(&itemClass) {
  for (TStringList* index : {&FNameIndex, &FAliasIndex}) {
    index->SetDuplicates(dupAccept);
    index->SetSorted(true);
  }
}

TCRTablesInfo::~TCRTablesInfo() = default;

TCRTableInfo* TCRTablesInfo::Add() {
  std::unique_ptr<TCRTableInfo> item = FItemClass->Create(this);
  DA_ASSERT(item != nullptr && item->Owner() == this);
  item->FIndex = GetCount();
  FItems.push_back(std::move(item));
  IndexChanged(TIndexKind::Name);
  IndexChanged(TIndexKind::Alias);
  return FItems.back().get();
}

void TCRTablesInfo::Clear() {
  FNameIndex.Clear();
  FAliasIndex.Clear();
  FIndexStale[0] = FIndexStale[1] = false;
  FItems.clear();
  FNamesNormalized = false;
}

void TCRTablesInfo::EndUpdate() {
  DA_ASSERT(FUpdateCount > 0);
  if (--FUpdateCount > 0) return;
  IndexChanged(TIndexKind::Name);
  IndexChanged(TIndexKind::Alias);
}

void TCRTablesInfo::IndexChanged(TIndexKind kind) noexcept {
  FIndexStale[static_cast<int>(kind)] = true;
}

void TCRTablesInfo::RebuildIndex(TIndexKind kind) const {
  TStringList& index = kind == TIndexKind::Name ? FNameIndex : FAliasIndex;
  index.Clear();
  for (const auto& item : FItems)
    index.AddObject(kind == TIndexKind::Name ? item->FTableName : item->FTableAlias, item.get());
  FIndexStale[static_cast<int>(kind)] = false;
}

int TCRTablesInfo::Lookup(TIndexKind kind, std::string_view key) const {
  const TStringList& index = kind == TIndexKind::Name ? FNameIndex : FAliasIndex;
  if (FNamesNormalized) key = NormalizedName(key);
  // A few items are compared one by one, as they are while the index may be stale: the first equal
  // one is the answer either way.
  constexpr size_t kIndexedFrom = 16;
  if (FUpdateCount > 0 || (FIndexStale[static_cast<int>(kind)] && FItems.size() < kIndexedFrom)) {
    for (const auto& item : FItems)
      if (index.CompareStrings(kind == TIndexKind::Name ? item->FTableName : item->FTableAlias, key) == 0)
        return item->FIndex;
    return -1;
  }
  if (FIndexStale[static_cast<int>(kind)]) RebuildIndex(kind);
  int pos;
  if (!index.Find(key, pos)) return -1;
  // Equal keys sit together in no particular order: answer the first item.
  int found = -1;
  for (; pos < index.Count() && index.CompareStrings(index[pos], key) == 0; ++pos) {
    int itemIndex = static_cast<const TCRTableInfo*>(index.Objects(pos))->FIndex;
    if (found < 0 || itemIndex < found) found = itemIndex;
  }
  return found;
}

const std::string& TCRTablesInfo::NormalizedName(std::string_view name) const {
  for (const TNormalizedMemo& memo : FNormalizedMemo)
    if (memo.Valid && memo.Name == name) return memo.Normalized;
  std::string normalized = FItemClass->NormalizeName(name);
  const bool ascii =
      std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  TNormalizedMemo& memo = FNormalizedMemo[FNextMemo];
  memo.Valid = false;
  memo.Name.assign(name);  // name may be a view of the other slot: that one stays as it is
  memo.Normalized = std::move(normalized);
  memo.Valid = ascii;
  FNextMemo ^= 1;
  return memo.Normalized;
}

int TCRTablesInfo::IndexByName(std::string_view name) const {
  return Lookup(TIndexKind::Name, name);
}

int TCRTablesInfo::IndexByAlias(std::string_view alias) const {
  return Lookup(TIndexKind::Alias, alias);
}

int TCRTablesInfo::IndexOf(const TCRTableInfo* item) const noexcept {
  return item != nullptr && item->FOwner == this && item->FIndex >= 0 ? item->FIndex : -1;
}

TCRTableInfo* TCRTablesInfo::GetItem(int index) const {
  if (index < 0 || index >= GetCount()) throw EListError(Format("List index out of bounds (%d)", {index}));
  return FItems[static_cast<size_t>(index)].get();
}

void TCRTablesInfo::NormalizeNames() {
  BeginUpdate();
  try {
    for (const auto& item : FItems) {
      item->SetTableName(NormalizedName(item->FTableName));
      item->SetTableAlias(NormalizedName(item->FTableAlias));
      item->SetTableNameFull(NormalizedName(item->GetTableNameFull()));
    }
    FNamesNormalized = true;
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

// ---- TCRFieldDesc -----------------------------------------------------------------------------

void TCRFieldDesc::SetTableInfoClass(const TCRTableInfoClass& value) noexcept {
  if (FTableInfoClass == &value) return;
  FTableInfoClass = &value;
  for (TCachedName& cached : FNormalized) cached.Valid = false;
}

std::string TCRFieldDesc::GetNormalizedName(bool quote) {
  TCachedName& cached = FNormalized[quote ? 1 : 0];
  if (!cached.Valid || cached.Source != Name) {
    cached.Normalized = FTableInfoClass->NormalizeIdentifier(Name, quote);
    cached.Source = Name;
    cached.Valid = true;
  }
  return cached.Normalized;
}
