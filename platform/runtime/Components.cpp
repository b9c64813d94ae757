#include "platform/runtime/Components.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <span>
#include <typeinfo>

#include "platform/runtime/Format.h"

namespace {

[[noreturn]] void IndexError(int index) {
  throw EListError(Format("List index out of bounds (%d)", {index}));
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

// ---- TPersistent ----------------------------------------------------------------------------

std::string TPersistent::ClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && plain ? plain : mangled;
  std::free(plain);
  return name;
}

void TPersistent::Assign(TPersistent* source) {
  if (source) {
    source->AssignTo(this);
    return;
  }
  AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* dest) {
  dest->AssignError(this);
}

void TPersistent::AssignError(TPersistent* source) {
  std::string from = source ? source->ClassName() : "nil";
  throw EConvertError(Format("Cannot assign a %s to a %s", {from, ClassName()}));
}

// ---- TComponent -----------------------------------------------------------------------------

TComponent::TComponent(TComponent* owner) : TComponent(owner, false) {}

TComponent::TComponent(TComponent* owner, bool baseNotification) : FBaseNotification(baseNotification) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Those that refer to this component forget it first, while they are all still alive.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    ChangeHearing([this] { FFreeNotifies.pop_back(); });
    other->RemoveNotification(this);
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) IndexError(index);
  return FComponents[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (!FOwner) return -1;
  auto& list = FOwner->FComponents;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameName(c->FName, name)) return c;
  return nullptr;
}

void TComponent::ChangeOwner(TComponent* newOwner) {
  if (newOwner == FOwner) return;
  if (FOwner) FOwner->RemoveComponent(this);
  if (newOwner) newOwner->InsertComponent(this);
}

void TComponent::SetName(const std::string& value) {
  if (value == FName) return;
  if (FOwner && !value.empty()) {
    TComponent* other = FOwner->FindComponent(value);
    if (other && other != this) throw EComponentError(Format("A component named %s already exists", {value}));
  }
  FName = value;
}

void TComponent::BeginLoading() {
  FComponentState |= csLoading | csReading;
  for (TComponent* c : FComponents) c->BeginLoading();
}

void TComponent::EndLoading() {
  FComponentState &= ~csReading;
  for (TComponent* c : FComponents) c->EndLoading();
  Loaded();
}

void TComponent::Loaded() {
  FComponentState &= ~csLoading;
}

void TComponent::SetComponentStateFlag(TComponentState flag, bool on) {
  if (on)
    FComponentState |= flag;
  else
    FComponentState &= ~flag;
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  auto add = [](TComponent* to, TComponent* c) {
    auto& list = to->FFreeNotifies;
    if (std::find(list.begin(), list.end(), c) == list.end()) to->ChangeHearing([&] { list.push_back(c); });
  };
  add(component, this);
  add(this, component);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  RemoveNotification(component);
  component->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* component) {
  auto it = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component);
  if (it != FFreeNotifies.end()) ChangeHearing([&] { FFreeNotifies.erase(it); });
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    RemoveComponent(c);
    delete c;  // the owner owns its components
  }
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  FComponentState |= csDestroying;
  for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  // The links are kept on both sides (FreeNotification): without any of its own, this component
  // is on no other's list either.
  if (operation == opRemove && component && !FFreeNotifies.empty()) RemoveFreeNotification(component);
  // A dataset tells each of its fields of every field made or freed, and fields mostly hear
  // nothing: without a hearer (counted as they change, not searched for) nothing is copied or
  // called.
  if (FHearers == 0) return;
  // A copy: a component told of another's removal may itself change the list. While the list
  // stays as it was, every copied component is still owned; after a change each is looked up.
  // A dataset tells each of its fields of every field made or freed: the usual copy stays on the
  // stack.
  constexpr size_t kInline = 32;
  TComponent* inlineCopy[kInline];
  std::vector<TComponent*> heapCopy;
  std::span<TComponent* const> owned;
  if (FComponents.size() <= kInline) {
    std::copy(FComponents.begin(), FComponents.end(), inlineCopy);
    owned = std::span<TComponent* const>(inlineCopy, FComponents.size());
  } else {
    heapCopy = FComponents;
    owned = heapCopy;
  }
  const uint64_t version = FComponentsVersion;
  for (TComponent* c : owned) {
    if (FComponentsVersion != version &&
        std::find(FComponents.begin(), FComponents.end(), c) == FComponents.end())
      continue;
    // A dataset's fields hear of every sibling made or freed: most have nothing to do with it.
    if (c->Hears()) c->Notification(component, operation);
  }
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component->FName.empty() && FindComponent(component->FName))
    throw EComponentError(Format("A component named %s already exists", {component->FName}));
  ChangeHearing([&] { FComponents.push_back(component); });
  ++FComponentsVersion;
  component->FOwner = this;
  if (component->Hears()) ++FHearers;
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  // Components mostly go last first (DestroyComponents, a dataset's fields): the search starts
  // at the end.
  auto it = std::find(FComponents.rbegin(), FComponents.rend(), component);
  if (it != FComponents.rend()) {
    ChangeHearing([&] { FComponents.erase(std::next(it).base()); });
    if (component->Hears()) --FHearers;
  }
  ++FComponentsVersion;
  component->FOwner = nullptr;
  Notification(component, opRemove);
}

// ---- TCollectionItem ------------------------------------------------------------------------

int TCollectionItem::Index() const {
  if (!FCollection) return -1;
  auto& items = FCollection->FItems;
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].get() == this) return static_cast<int>(i);
  return -1;
}

void TCollectionItem::SetIndex(int value) {
  int current = Index();
  if (current >= 0 && current != value) FCollection->MoveItem(current, value);
}

std::string TCollectionItem::DisplayName() const {
  return ClassName();
}

void TCollectionItem::Changed(bool allItems) {
  if (FCollection && FCollection->FUpdateCount == 0) FCollection->ItemChanged(allItems ? nullptr : this);
}

// ---- TCollection ----------------------------------------------------------------------------

TCollection::~TCollection() {
  FUpdateCount = 1;  // no notifications while the items go
  while (!FItems.empty()) FItems.pop_back();
}

TCollectionItem* TCollection::Items(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return FItems[static_cast<size_t>(index)].get();
}

TCollectionItem* TCollection::Add() {
  return Insert(Count());
}

TCollectionItem* TCollection::Insert(int index) {
  if (index < 0 || index > Count()) IndexError(index);
  std::unique_ptr<TCollectionItem> item = CreateItem();
  item->FCollection = this;
  TCollectionItem* raw = item.get();
  FItems.insert(FItems.begin() + index, std::move(item));
  Notify(raw, cnAdded);
  Changed();
  return raw;
}

void TCollection::Delete(int index) {
  TCollectionItem* item = Items(index);
  Notify(item, cnDeleting);
  FItems.erase(FItems.begin() + index);
  Changed();
}

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  try {
    while (!FItems.empty()) Delete(Count() - 1);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TCollection*>(source);
  if (!other) {
    TPersistent::Assign(source);
    return;
  }
  BeginUpdate();
  try {
    Clear();
    for (auto& item : other->FItems) Add()->Assign(item.get());
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::BeginUpdate() {
  ++FUpdateCount;
}

void TCollection::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) Changed();
}

void TCollection::Changed() {
  if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Notify(TCollectionItem*, TCollectionNotification) {}

void TCollection::ItemChanged(TCollectionItem* item) {
  Update(item);
}

void TCollection::MoveItem(int from, int to) {
  if (to < 0 || to >= Count()) IndexError(to);
  std::unique_ptr<TCollectionItem> item = std::move(FItems[static_cast<size_t>(from)]);
  FItems.erase(FItems.begin() + from);
  FItems.insert(FItems.begin() + to, std::move(item));
  Changed();
}
