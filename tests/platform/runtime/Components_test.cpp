#include "platform/runtime/Components.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/Classes.h"

namespace {

// Records its destruction in a shared log.
class Tracked : public TComponent {
 public:
  Tracked(TComponent* owner, std::string name, std::vector<std::string>* log) : TComponent(owner), FLog(log) {
    SetName(name);
  }
  ~Tracked() override { FLog->push_back(Name()); }

  // A reference cleared when the referred component goes.
  TComponent* Ref = nullptr;
  void Refer(TComponent* c) {
    Ref = c;
    FreeNotification(c);
  }

 protected:
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove && c == Ref) Ref = nullptr;
  }

 private:
  std::vector<std::string>* FLog;
};

TEST(ComponentTest, OwnerDestroysOwnedComponentsLastFirst) {
  std::vector<std::string> log;
  auto owner = std::make_unique<Tracked>(nullptr, "owner", &log);
  new Tracked(owner.get(), "a", &log);
  auto* b = new Tracked(owner.get(), "b", &log);
  new Tracked(b, "b1", &log);
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(owner->FindComponent("B"), b);
  owner.reset();
  EXPECT_EQ(log, (std::vector<std::string>{"owner", "b", "b1", "a"}));
}

TEST(ComponentTest, OwnedComponentDestroyedFirstLeavesItsOwner) {
  std::vector<std::string> log;
  Tracked owner(nullptr, "owner", &log);
  auto* a = new Tracked(&owner, "a", &log);
  delete a;
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_THROW(owner.Components(0), EListError);
}

TEST(ComponentTest, FreeNotifiedReferenceIsClearedWhicheverGoesFirst) {
  std::vector<std::string> log;
  {
    SCOPED_TRACE("target goes first");
    auto holder = std::make_unique<Tracked>(nullptr, "holder", &log);
    auto target = std::make_unique<Tracked>(nullptr, "target", &log);
    holder->Refer(target.get());
    target.reset();
    EXPECT_EQ(holder->Ref, nullptr);
  }
  {
    SCOPED_TRACE("holder goes first: the target must not notify a dead holder");
    auto holder = std::make_unique<Tracked>(nullptr, "holder", &log);
    auto target = std::make_unique<Tracked>(nullptr, "target", &log);
    holder->Refer(target.get());
    holder.reset();
    target.reset();
  }
  {
    SCOPED_TRACE("siblings of one owner hear of each other's removal");
    Tracked owner(nullptr, "owner", &log);
    auto* holder = new Tracked(&owner, "holder", &log);
    auto* target = new Tracked(&owner, "target", &log);
    holder->Ref = target;  // no free notification asked: the owner passes the notice on
    delete target;
    EXPECT_EQ(holder->Ref, nullptr);
  }
}

// Frees a sibling when it hears of a removal; counts the removals it hears of.
class SiblingFreer : public TComponent {
 public:
  using TComponent::TComponent;
  TComponent* Victim = nullptr;
  int Removals = 0;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op != opRemove) return;
    ++Removals;
    if (Victim != nullptr && c != Victim) {
      TComponent* victim = Victim;
      Victim = nullptr;
      delete victim;
    }
  }
};

TEST(ComponentTest, ASiblingFreedWhileTheOwnerPassesANoticeOnHearsNoMore) {
  // A few siblings and more than the owner copies on the stack.
  for (int count : {4, 40}) {
    SCOPED_TRACE(count);
    TComponent owner(nullptr);
    std::vector<SiblingFreer*> kids;
    for (int i = 0; i < count; ++i) kids.push_back(new SiblingFreer(&owner));
    kids[1]->Victim = kids[2];  // freed while the owner's notice is on its way to it
    delete kids[0];
    EXPECT_EQ(owner.ComponentCount(), count - 2);
    // Every sibling left heard of both removals, and the freed one of none after it went.
    EXPECT_EQ(kids[1]->Removals, 2);
    for (int i = 3; i < count; ++i) EXPECT_EQ(kids[i]->Removals, 2) << "sibling " << i;
  }
}

// Has only the base's Notification, as a dataset's fields have: an owner may pass over it while it
// has nothing to hear.
class BaseNotified : public TComponent {
 public:
  explicit BaseNotified(TComponent* owner) : TComponent(owner) { SetBaseNotification(); }
};

TEST(ComponentTest, AComponentWithTheBaseNotificationStillPassesNoticesToItsOwn) {
  std::vector<std::string> log;
  TComponent owner(nullptr);
  auto* middle = new BaseNotified(&owner);
  new BaseNotified(&owner);
  auto* listener = new Tracked(middle, "listener", &log);
  auto* target = new Tracked(&owner, "target", &log);
  listener->Ref = target;
  delete target;
  EXPECT_EQ(listener->Ref, nullptr);
}

// Whether a component with the base notification hears anything changes with what it owns: its
// owner must pass notices on while it does, and to its new owner after a move.
TEST(ComponentTest, NoticesReachAComponentOnlyWhileItHasSomethingToHear) {
  std::vector<std::string> log;
  TComponent owner(nullptr), other(nullptr);
  auto* middle = new BaseNotified(&owner);  // owns nothing yet
  auto* first = new Tracked(middle, "first", &log);
  delete first;  // deaf again
  auto* listener = new Tracked(middle, "listener", &log);
  struct Step {
    const char* Name;
    TComponent* TargetOwner;
    bool Heard;
  };
  const Step steps[] = {
      {"a sibling after the listener came back", &owner, true},
      {"a sibling at the old owner after a move", &owner, false},
      {"a sibling at the new owner", &other, true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.Name);
    if (step.TargetOwner == &owner && !step.Heard) middle->ChangeOwner(&other);
    auto* target = new Tracked(step.TargetOwner, "target", &log);
    listener->Ref = target;
    delete target;
    EXPECT_EQ(listener->Ref == nullptr, step.Heard);
  }
}

TEST(ComponentTest, NamesAreUniqueAmongSiblingsIgnoringCase) {
  std::vector<std::string> log;
  Tracked owner(nullptr, "owner", &log);
  new Tracked(&owner, "qry1", &log);
  auto* other = new Tracked(&owner, "qry2", &log);
  EXPECT_THROW(other->SetName("QRY1"), EComponentError);
  EXPECT_EQ(other->Name(), "qry2");
}

class Item : public TCollectionItem {
 public:
  using TCollectionItem::TCollectionItem;
  int Value = 0;
  void SetValue(int v) {
    Value = v;
    Changed(false);
  }
  void Assign(TPersistent* source) override {
    if (auto* other = dynamic_cast<Item*>(source)) return SetValue(other->Value);
    TCollectionItem::Assign(source);
  }
};

class Items : public TCollection {
 public:
  std::vector<TCollectionItem*> Updates;  // nil: the whole collection
  Item* At(int i) const { return static_cast<Item*>(TCollection::Items(i)); }

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override { return std::make_unique<Item>(this); }
  void Update(TCollectionItem* item) override { Updates.push_back(item); }
};

TEST(CollectionTest, ChangesReportOnceAfterTheOutermostEndUpdate) {
  Items items;
  auto* first = static_cast<Item*>(items.Add());
  first->SetValue(1);
  EXPECT_EQ(items.Updates, (std::vector<TCollectionItem*>{nullptr, first}));
  items.Updates.clear();

  items.BeginUpdate();
  items.BeginUpdate();
  items.Add();
  first->SetValue(2);
  items.EndUpdate();
  EXPECT_TRUE(items.Updates.empty());
  items.EndUpdate();
  EXPECT_EQ(items.Updates, (std::vector<TCollectionItem*>{nullptr}));
}

TEST(CollectionTest, AssignCopiesItemsAndMoveKeepsThem) {
  Items a, b;
  for (int v : {1, 2, 3}) static_cast<Item*>(a.Add())->SetValue(v);
  b.Add();
  b.Assign(&a);
  ASSERT_EQ(b.Count(), 3);
  EXPECT_EQ(b.At(2)->Value, 3);
  b.At(2)->SetIndex(0);
  EXPECT_EQ(b.At(0)->Value, 3);
  EXPECT_EQ(b.At(0)->Index(), 0);
  EXPECT_THROW(b.Delete(3), EListError);
  EXPECT_THROW(a.Assign(nullptr), EConvertError);
}

TEST(StringListValuesTest, NameValueEntries) {
  TStringList list;
  list.SetText("Server=db1\r\nPort=3306\r\nplain\r\n");
  EXPECT_EQ(list.Values("server"), "db1");
  EXPECT_EQ(list.Names(1), "Port");
  EXPECT_EQ(list.ValueFromIndex(1), "3306");
  EXPECT_EQ(list.IndexOfName("plain"), -1);
  list.SetValues("Port", "3307");
  list.SetValues("User", "gm");
  list.SetValues("Server", "");
  EXPECT_EQ(list.Text(), "Port=3307\r\nplain\r\nUser=gm\r\n");
}

}  // namespace
