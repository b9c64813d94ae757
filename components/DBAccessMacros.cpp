#include "components/DBAccessMacros.h"

#include <algorithm>
#include <vector>

#include "components/DBAccessText.h"
#include "core/DAConsts.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/LocaleCompare.h"

// ---- TMacro -------------------------------------------------------------------------------------

void TMacro::SetValue(const std::string& value) {
  FSet = true;
  if (value == FValue) return;
  FValue = value;
  if (auto* list = dynamic_cast<TMacros*>(Collection())) list->NotifyOwner(this, TMacroChange::Value);
}

void TMacro::SetActive(bool value) {
  if (value == FActive) return;
  FActive = value;
  if (auto* list = dynamic_cast<TMacros*>(Collection())) list->NotifyOwner(this, TMacroChange::Active);
}

void TMacro::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TMacro*>(source);
  if (other == nullptr) return TCollectionItem::Assign(source);
  FName = other->FName;
  SetValue(other->FValue);
  FSet = other->FSet;
  SetActive(other->FActive);
}

std::string TMacro::DisplayName() const {
  return FName.empty() ? TCollectionItem::DisplayName() : FName;
}

// ---- TMacros ------------------------------------------------------------------------------------

TMacros::TMacros(TPersistent* owner) : TCollection(owner), ParserClass(ParserClassOf<TParser>()) {}

void TMacros::NotifyOwner(TMacro* macro, TMacroChange change) {
  if (FQuiet || UpdateCount() > 0 || !OnChanged) return;
  OnChanged(macro, change);
}

void TMacros::Update(TCollectionItem* /*item*/) {
  // Reached at the end of an update (and after additions and removals outside one).
  NotifyOwner(nullptr, TMacroChange::List);
}

void TMacros::Scan(std::string_view sql) {
  const std::vector<std::string> names = ScanMacroNames(sql, ParserClass);
  bool same = static_cast<int>(names.size()) == Count();
  for (int i = 0; same && i < Count(); ++i)
    same = LocaleCompareAnsi(Items(i)->Name(), names[static_cast<size_t>(i)], true) == 0;
  if (same) return;
  // The new list: the settings of macros already listed, new names with their name only.
  struct TKept {
    std::string Name, Value;
    bool Active, Set;
  };
  std::vector<TKept> kept;
  for (const std::string& name : names) {
    const TMacro* old = FindMacro(name);
    kept.push_back(old != nullptr ? TKept{old->Name(), old->Value(), old->Active(), old->IsSet()}
                                  : TKept{name, {}, true, false});
  }
  FQuiet = true;
  BeginUpdate();
  Clear();
  for (const TKept& k : kept) {
    auto* m = static_cast<TMacro*>(Add());
    m->SetName(k.Name);
    if (k.Set) m->SetValue(k.Value);
    m->SetActive(k.Active);
  }
  EndUpdate();
  FQuiet = false;
}

void TMacros::Expand(std::string& sql) const {
  if (Count() == 0) return;
  sql = ExpandMacroRefs(sql, ParserClass, [this](const std::string& name) -> const std::string* {
    const TMacro* m = FindMacro(name);
    return m != nullptr && m->Active() ? &m->Value() : nullptr;
  });
}

TMacro* TMacros::FindMacro(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (LocaleCompareAnsi(Items(i)->Name(), name, true) == 0) return Items(i);
  return nullptr;
}

TMacro* TMacros::MacroByName(std::string_view name) const {
  TMacro* m = FindMacro(name);
  if (m == nullptr) throw EDatabaseError(MessageFmt(SMacroNotFound, {name}));
  return m;
}

bool TMacros::IsEqual(const TMacros& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (!Items(i)->IsEqual(*other.Items(i))) return false;
  return true;
}

namespace {

std::string ReadCapped(TStream& stream, size_t length) {
  std::string bytes(length, '\0');
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(length));
  bytes.resize(std::min<size_t>(length, 1000));
  return bytes;
}

}  // namespace

void TMacros::ReadData(TStream& stream) {
  uint8_t version = 0;
  stream.ReadBuffer(&version, 1);
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    uint8_t nameLength = 0;
    stream.ReadBuffer(&nameLength, 1);
    const std::string name = ReadCapped(stream, nameLength);
    uint8_t valueLength[2] = {0, 0};
    stream.ReadBuffer(valueLength, 2);
    const std::string value = ReadCapped(stream, static_cast<size_t>(valueLength[0] | (valueLength[1] << 8)));
    uint8_t active = 1;
    if (version == 100) stream.ReadBuffer(&active, 1);
    TMacro* m = MacroByName(name);
    m->SetValue(value);
    m->SetActive(active != 0);
  }
}
