// Persistent objects, components and collections: ownership (an owner destroys what it owns),
// free notification (a component tells those that refer to it when it goes), component state,
// and owned item lists that report their changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Exceptions.h"

// ---- TPersistent ----------------------------------------------------------------------------

// An object that can copy its state from another. Assign asks the source to AssignTo this
// object; when neither knows the other, EConvertError "Cannot assign a %s to a %s".
class TPersistent {
 public:
  virtual ~TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;

  virtual void Assign(TPersistent* source);
  // The dynamic class name, for messages ("TIntegerField").
  std::string ClassName() const;

 protected:
  TPersistent() = default;
  virtual void AssignTo(TPersistent* dest);
  [[noreturn]] void AssignError(TPersistent* source);
};

// ---- TComponent -----------------------------------------------------------------------------

enum TOperation { opInsert, opRemove };

// Component state flags (a set).
using TComponentState = uint32_t;
inline constexpr TComponentState csLoading = 0x01;     // properties are being read
inline constexpr TComponentState csReading = 0x02;     // the reader is setting properties
inline constexpr TComponentState csWriting = 0x04;     // properties are being written
inline constexpr TComponentState csDestroying = 0x08;  // the destructor is running
inline constexpr TComponentState csDesigning = 0x10;   // in a designer (never at run time here)
inline constexpr TComponentState csUpdating = 0x20;    // a batch of changes is in progress

// A component belongs to its owner, which destroys it; it can ask any other component to tell it
// (Notification with opRemove) when that one is destroyed, so that it clears its reference.
//
// The owner's own destructor body has run before the owned components are destroyed (C++ order);
// an owner whose components call back into it while they go calls DestroyComponents first.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;

  TComponent* Owner() const noexcept { return FOwner; }
  int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
  // EListError "List index out of bounds (%d)" outside 0..ComponentCount-1.
  TComponent* Components(int index) const;
  int ComponentIndex() const;  // position in the owner's list, -1 without owner
  // An owned component by name, ignoring case; nil when absent or the name is empty.
  TComponent* FindComponent(std::string_view name) const;
  // Moves this component to another owner (nil: none).
  void ChangeOwner(TComponent* newOwner);

  const std::string& Name() const noexcept { return FName; }
  // EComponentError "Component name "%s" is not unique" when a sibling already has it.
  virtual void SetName(const std::string& value);
  intptr_t Tag = 0;

  TComponentState ComponentState() const noexcept { return FComponentState; }
  bool IsLoading() const noexcept { return (FComponentState & csLoading) != 0; }
  bool IsDestroying() const noexcept { return (FComponentState & csDestroying) != 0; }
  bool IsDesigning() const noexcept { return (FComponentState & csDesigning) != 0; }
  // Reading from a stored form: BeginLoading sets csLoading and csReading; EndLoading clears
  // them and calls Loaded, for this component and every owned one.
  void BeginLoading();
  void EndLoading();

  // Asks component to notify this one when it is destroyed (both sides keep the link, so that
  // whichever goes first the other forgets it).
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);
  // Destroys the owned components, last first.
  void DestroyComponents();
  // Sets csDestroying on this component and its owned ones.
  void Destroying();

 protected:
  // A component was inserted into or removed from this owner, or a free-notified component is
  // going. The base forgets a removed component's free notification and passes the notice on
  // to the owned components.
  virtual void Notification(TComponent* component, TOperation operation);
  // For a class whose Notification does only what the base does (it overrides it final to say
  // so): an owner passes over such a component while it owns none and has no free-notification
  // links, as it would hear nothing.
  void SetBaseNotification() noexcept {
    ChangeHearing([this] { FBaseNotification = true; });
  }
  // The same, said before the owner tells its components of this one: a dataset making its
  // fields then passes over each new one as over the others.
  TComponent(TComponent* owner, bool baseNotification);
  // Properties are all read.
  virtual void Loaded();
  void SetComponentStateFlag(TComponentState flag, bool on);

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  void RemoveNotification(TComponent* component);
  // Whether a notice passed on to this component could do anything.
  bool Hears() const noexcept { return !FBaseNotification || !FComponents.empty() || !FFreeNotifies.empty(); }
  // Runs a change that may alter Hears, keeping the owner's count of hearers true.
  template <class F>
  void ChangeHearing(F&& change) {
    const bool before = Hears();
    change();
    if (FOwner && before != Hears()) {
      if (before)
        --FOwner->FHearers;
      else
        ++FOwner->FHearers;
    }
  }

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;    // owned, destroyed with this component
  uint64_t FComponentsVersion = 0;         // counts the changes of FComponents
  size_t FHearers = 0;                     // owned components that Hear: with none a notice stops here
  std::vector<TComponent*> FFreeNotifies;  // told when this component goes
  std::string FName;
  TComponentState FComponentState = 0;
  bool FBaseNotification = false;
};

class EComponentError : public Exception {
 public:
  using Exception::Exception;
};

// ---- TCollection ----------------------------------------------------------------------------

class TCollection;

// One item of a collection; the collection owns it.
class TCollectionItem : public TPersistent {
 public:
  explicit TCollectionItem(TCollection* collection) : FCollection(collection) {}

  TCollection* Collection() const noexcept { return FCollection; }
  int Index() const;
  // Moves the item within its collection.
  void SetIndex(int value);
  virtual std::string DisplayName() const;

 protected:
  // Tells the collection that this item (AllItems: every item) changed.
  void Changed(bool allItems);

 private:
  friend class TCollection;
  TCollection* FCollection;
};

enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

// An ordered list of owned items. Changes report through Update (the item, or nil for the whole
// collection), held back between BeginUpdate and EndUpdate, which reports once at the end.
class TCollection : public TPersistent {
 public:
  explicit TCollection(TPersistent* owner = nullptr) : FOwner(owner) {}
  ~TCollection() override;

  TPersistent* Owner() const noexcept { return FOwner; }
  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  // EListError "List index out of bounds (%d)" outside 0..Count-1.
  TCollectionItem* Items(int index) const;
  // A new item of the collection's class (CreateItem) at the end / at index.
  TCollectionItem* Add();
  TCollectionItem* Insert(int index);
  void Delete(int index);
  void Clear();
  // Copies items through their Assign: the collection then holds as many items as source.
  void Assign(TPersistent* source) override;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const noexcept { return FUpdateCount; }

 protected:
  // A new item of this collection's item class.
  virtual std::unique_ptr<TCollectionItem> CreateItem() = 0;
  // item changed (nil: the whole collection); called outside BeginUpdate/EndUpdate only.
  virtual void Update(TCollectionItem* item);
  virtual void Notify(TCollectionItem* item, TCollectionNotification action);
  void Changed();

 private:
  friend class TCollectionItem;
  void ItemChanged(TCollectionItem* item);
  void MoveItem(int from, int to);

  TPersistent* FOwner;
  std::vector<std::unique_ptr<TCollectionItem>> FItems;
  int FUpdateCount = 0;
};
