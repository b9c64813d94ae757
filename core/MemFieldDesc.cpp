#include "core/MemFieldDesc.h"

#include <algorithm>
#include <climits>
#include <map>
#include <set>
#include <string_view>
#include <unordered_set>

#include "core/DAConsts.h"
#include "core/MemFieldValues.h"
#include "core/MemUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/FMTBcd.h"
#include "platform/runtime/LocaleCompare.h"

// ---- TObjectType ------------------------------------------------------------------------------

TObjectType::TObjectType(std::string name, std::vector<TAttribute> attributes)
    : FName(std::move(name)), FAttributes(std::move(attributes)) {
  for (TAttribute& a : FAttributes)
    if (a.ObjectType != nullptr) a.ObjectType->AddRef();
}

TObjectType::~TObjectType() {
  for (TAttribute& a : FAttributes)
    if (a.ObjectType != nullptr) a.ObjectType->Release();
}

const TAttribute& TObjectType::GetAttributes(int index) const {
  if (index < 0 || index >= GetAttributeCount())
    throw EListError(Format("List index out of bounds (%d)", {index}));
  return FAttributes[static_cast<size_t>(index)];
}

// ---- TFieldDesc -------------------------------------------------------------------------------

TFieldDesc::~TFieldDesc() {
  if (FObjectType) FObjectType->Release();
}

void TFieldDesc::SetObjectType(TObjectType* value) {
  if (value == FObjectType) return;
  if (value) value->AddRef();
  if (FObjectType) FObjectType->Release();
  FObjectType = value;
}

std::string TFieldDesc::FullName() const {
  if (!ParentField) return Name;
  std::string parent = ParentField->FullName();
  if (!Name.empty() && Name.front() == '[') return parent + Name;
  return parent + "." + Name;
}

// ---- TFieldDescs ------------------------------------------------------------------------------

namespace {

bool SameText(std::string_view a, std::string_view b) {
  return AnsiCompareTextS(a, b) == 0;
}

struct TextLess {
  bool operator()(const std::string& a, const std::string& b) const { return AnsiCompareTextS(a, b) < 0; }
};

}  // namespace

void TFieldDescs::RaiseIndexOutOfRange(int index) const {
  RaiseAssertion(__FILE__, __LINE__, "index >= 0 && index < Count()",
                 "Field index " + std::to_string(index) + " out of range");
}

TFieldDesc* TFieldDescs::Add(std::unique_ptr<TFieldDesc> desc) {
  DA_ASSERT(desc != nullptr);
  FItems.push_back(std::move(desc));
  return FItems.back().get();
}

void TFieldDescs::Clear() noexcept {
  FItems.clear();
}

TFieldDesc* TFieldDescs::FindField(std::string_view name) const {
  const bool path = name.find_first_of(".[") != std::string_view::npos;
  if (!path) {
    for (const auto& f : FItems)
      if (!f->HasParent() && SameText(f->Name, name)) return f.get();
  }
  for (const auto& f : FItems) {
    if (path) {
      if (SameText(f->FullName(), name)) return f.get();
    } else if (f->HasParent() && SameText(f->Name, name)) {
      return f.get();
    }
  }
  return nullptr;
}

TFieldDesc* TFieldDescs::FieldByName(std::string_view name) const {
  TFieldDesc* f = FindField(name);
  if (!f) throw EDatabaseError(MessageFmt(SFieldNotFound, {name}));
  return f;
}

// ---- Layout -----------------------------------------------------------------------------------

uint16_t MinFieldSize(const TFieldDesc& field) noexcept {
  switch (field.DataType) {
    case dtString:
    case dtGuid:
      return 1;  // the terminator
    case dtInt8:
      return 1;
    case dtInt16:
    case dtUInt16:
    case dtBoolean:
    case dtWideString:
      return 2;
    case dtInt32:
    case dtUInt32:
      return 4;
    case dtFloat:
    case dtCurrency:
    case dtDate:
    case dtTime:
    case dtDateTime:
    case dtInt64:
    case dtBCD:
    case dtUInt64:
    case dtDateTimeUs:
    case dtTimeUs:
      return 8;
    case dtBlob:
    case dtMemo:
    case dtWideMemo:
    case dtVariant:
    case dtExtString:
    case dtExtVarBytes:
    case dtExtWideString:
      return RefFieldSize;
    case dtFmtBCD:
      return sizeof(TBcd);
    case dtBytes:
      return field.Length;
    case dtVarBytes:
      return field.Length > UINT16_MAX - 2 ? UINT16_MAX : static_cast<uint16_t>(field.Length + 2);
    default:
      return 0;  // unknown, object, reference, array and table fields: Size bytes as they are
  }
}

namespace {

void CheckField(const TFieldDesc& f, int index) {
  DA_ASSERT_MSG(f.FieldNo == index + 1, "Field " + f.Name + " has FieldNo " + std::to_string(f.FieldNo) +
                                            " at position " + std::to_string(index + 1));
  bool sizeOk = f.Size >= MinFieldSize(f);
  if (f.DataType == dtInt8) sizeOk = f.Size == 1 || f.Size == 2;
  if (f.DataType == dtVarBytes && f.Length > UINT16_MAX - 2) sizeOk = false;
  DA_ASSERT_MSG(sizeOk, "Field " + f.Name + " of data type " + std::to_string(f.DataType) +
                            " cannot have Size " + std::to_string(f.Size));
}

int32_t RoundUpEven(uint64_t n) {
  return static_cast<int32_t>((n + 1) & ~uint64_t{1});
}

}  // namespace

TRecordLayout LayoutFields(const TFieldDescs& fields) {
  TRecordLayout layout;
  uint64_t data = 0;
  for (int i = 0; i < fields.Count(); ++i) {
    TFieldDesc& f = *fields[i];
    CheckField(f, i);
    if (f.FieldDescKind == fdkCalculated) continue;
    if (f.DataType == dtWideString && (data & 1) != 0) ++data;
    f.Offset = static_cast<uint32_t>(data);
    data += FieldSlotSize(f);
  }
  const uint64_t record = data + static_cast<uint64_t>(fields.Count());
  DA_ASSERT_MSG(record < INT32_MAX - 1, "Record size exceeds 2 GiB");
  layout.DataSize = static_cast<int32_t>(data);
  layout.RecordSize = RoundUpEven(record);

  uint64_t calc = 0;
  for (const auto& f : fields) {
    if (f->FieldDescKind != fdkCalculated) continue;
    if (f->DataType == dtWideString && (calc & 1) != 0) ++calc;
    f->Offset = static_cast<uint32_t>(static_cast<uint64_t>(layout.RecordSize) + calc);
    calc += FieldSlotSize(*f);
  }
  DA_ASSERT_MSG(static_cast<uint64_t>(layout.RecordSize) + calc < INT32_MAX - 1, "Record size exceeds 2 GiB");
  layout.CalcDataSize = static_cast<int32_t>(calc);
  layout.CalcRecordSize = RoundUpEven(calc);
  return layout;
}

// ---- Unique names -----------------------------------------------------------------------------

namespace {

// True when every name is ASCII and no two are equal ignoring case. For ASCII the locale comparison
// finds two names equal exactly when their ASCII lower cases are, so such names need no renaming
// whatever their order: the usual case, told apart without the locale sort each open would pay.
bool DistinctAsciiNames(const std::vector<TFieldDesc*>& top) {
  // A result of a few dozen columns is checked pair by pair: cheaper than a set of lower-case copies.
  if (top.size() <= 64) {
    for (const TFieldDesc* f : top)
      for (char c : f->Name)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    for (size_t i = 0; i < top.size(); ++i)
      for (size_t j = i + 1; j < top.size(); ++j)
        if (SameAsciiCaseless(top[i]->Name, top[j]->Name)) return false;
    return true;
  }
  std::unordered_set<std::string> seen;
  seen.reserve(top.size());
  std::string lower;
  for (const TFieldDesc* f : top) {
    lower = f->Name;
    for (char& c : lower) {
      if (static_cast<unsigned char>(c) >= 0x80) return false;
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (!seen.insert(lower).second) return false;
  }
  return true;
}

}  // namespace

void MakeUniqueFieldNames(const TFieldDescs& fields) {
  std::vector<TFieldDesc*> top;
  top.reserve(static_cast<size_t>(fields.Count()));
  for (const auto& f : fields)
    if (!f->HasParent()) top.push_back(f.get());
  if (DistinctAsciiNames(top)) return;
  std::stable_sort(top.begin(), top.end(), [](const TFieldDesc* a, const TFieldDesc* b) {
    int c = AnsiCompareTextS(a->Name, b->Name);
    return c != 0 ? c < 0 : a->FieldNo < b->FieldNo;
  });

  std::set<std::string, TextLess> taken;
  std::map<std::string, int, TextLess> nextSuffix;  // per clashing name: the next counter to try
  for (TFieldDesc* f : top) {
    if (taken.insert(f->Name).second) continue;
    int& counter = nextSuffix.try_emplace(f->Name, 1).first->second;
    std::string candidate;
    do {
      candidate = f->Name + "_" + std::to_string(counter++);
    } while (!taken.insert(candidate).second);
    f->Name = std::move(candidate);
  }
}
