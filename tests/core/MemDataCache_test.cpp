#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/runtime/Exceptions.h"
#include "tests/core/MemDataStoreTestStore.h"

namespace {

constexpr uint16_t R = RefFieldSize;

// One call of the apply callback: what was sent and the record in the two buffers.
struct Call {
  TUpdateKind kind;
  int id;
  std::string name;     // NAME of the new buffer
  std::string oldName;  // NAME of the old buffer
  bool last;
};

class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.Open();
    for (int id = 1; id <= 5; ++id)
      store.Append({{"ID", Variant(id)},
                    {"NAME", Variant("n" + std::to_string(id))},
                    {"MEMO", Variant("memo " + std::to_string(id))},
                    {"NOTE", Variant("note")}});
    store.SetCachedUpdates(true);
    newBuf = store.AllocRecBuf();
    oldBuf = store.AllocRecBuf();
    store.SetCacheRecBuf(newBuf, oldBuf);
    store.OnApplyRecord = [this](TUpdateKind kind, TUpdateAction& action, bool last) {
      calls.push_back({kind, Field(newBuf, "ID").AsInteger(), Field(newBuf, "NAME").AsString(),
                       Field(oldBuf, "NAME").AsString(), last});
      std::deque<uint8_t>& answers = script[calls.back().id];
      action = static_cast<TUpdateAction>(answers.empty() ? uint8_t{uaApplied} : answers.front());
      if (answers.size() > 1) answers.pop_front();  // the last answer repeats
      if (onCall) onCall(calls.back());
    };
  }
  void TearDown() override {
    store.Close();
    TData::FreeRecBuf(newBuf);
    TData::FreeRecBuf(oldBuf);
  }

  Variant Field(void* buf, const char* name) { return store.GetFieldAsVariant(store.No(name), buf); }
  // The item holding record `id`, hidden ones included; nil when there is none.
  PItemHeader Item(int id) {
    for (PItemHeader p = store.FirstItem(); p; p = p->Next)
      if (Field(TBlockManager::GetRecordPtr(p), "ID").AsInteger() == id) return p;
    return nullptr;
  }
  void GoTo(int id) {
    store.SetToBegin();
    for (store.GetNextRecord(nullptr); !store.GetEof(); store.GetNextRecord(nullptr))
      if (store.Value("ID").AsInteger() == id) return;
    FAIL() << "record " << id << " is not visible";
  }
  void Edit(int id, const std::vector<std::pair<std::string, Variant>>& values) {
    GoTo(id);
    store.Update(values);
  }
  void Delete(int id) {
    GoTo(id);
    store.DeleteRecord();
  }
  void InsertAt(int before, int id) {
    GoTo(before);
    store.Insert({{"ID", Variant(id)}, {"NAME", Variant("n" + std::to_string(id))}});
  }
  void ExpectVisible(const std::vector<int>& ids) { store.ExpectNumbering(ids); }
  std::vector<std::pair<TUpdateKind, int>> Sent() const {
    std::vector<std::pair<TUpdateKind, int>> out;
    for (const Call& c : calls) out.emplace_back(c.kind, c.id);
    return out;
  }

  TTestMemData store{
      {{"ID", dtInt32, 4}, {"NAME", dtString, 21, 20}, {"MEMO", dtMemo, R}, {"NOTE", dtExtString, R, 40}}};
  void* newBuf = nullptr;
  void* oldBuf = nullptr;
  std::vector<Call> calls;
  std::map<int, std::deque<uint8_t>> script;  // answers by record ID; applied when none
  std::function<void(const Call&)> onCall;
};

TEST_F(CacheTest, AScriptedApplyGivesEachChangeItsAnswer) {
  Edit(2, {{"NAME", Variant("two")}});
  InsertAt(3, 10);
  Delete(3);
  Edit(4, {{"NAME", Variant("four")}});
  InsertAt(5, 11);
  script = {{10, {uaSkip}}, {3, {uaFail}}, {4, {uaRetry, uaApplied}}, {2, {uaApplied}}};
  GoTo(5);
  store.ApplyUpdates();
  EXPECT_EQ(store.Value("ID").AsInteger(), 5);  // the cursor is back
  EXPECT_EQ(Sent(),
            (std::vector<std::pair<TUpdateKind, int>>{
                {ukModify, 2}, {ukInsert, 10}, {ukDelete, 3}, {ukModify, 4}, {ukModify, 4}, {ukInsert, 11}}));
  EXPECT_EQ(calls[0].name, "two");
  EXPECT_EQ(calls[0].oldName, "n2");
  EXPECT_EQ(calls[2].name, "n3");
  for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].last, i + 1 == calls.size()) << i;
  struct Want {
    int id;
    TItemStatus status;
    uint8_t result;
  };
  auto expectItems = [&](std::vector<Want> wants) {
    for (const Want& w : wants) {
      SCOPED_TRACE(w.id);
      PItemHeader item = Item(w.id);
      ASSERT_NE(item, nullptr);
      EXPECT_EQ(item->Status, w.status);
      EXPECT_EQ(item->UpdateResult, w.result);
    }
  };
  expectItems({{2, isModified, uaApplied},
               {10, isInserted, uaSkip},
               {3, isDeleted, uaFail},
               {4, isModified, uaApplied},
               {11, isInserted, uaApplied},
               {1, isUnmodified, UpdateResultNone}});
  EXPECT_TRUE(store.GetUpdatesPending());
  GoTo(10);
  EXPECT_EQ(store.GetUpdateStatus(), isInserted);
  EXPECT_EQ(store.GetUpdateResult(), uaSkip);

  // Commit sends what is pending again (skip and fail answer the same), then forgets the rest.
  calls.clear();
  store.CommitUpdates();
  EXPECT_EQ(Sent(), (std::vector<std::pair<TUpdateKind, int>>{{ukInsert, 10}, {ukDelete, 3}}));
  expectItems({{2, isUnmodified, UpdateResultNone},
               {10, isInserted, uaSkip},
               {3, isDeleted, uaFail},
               {4, isUnmodified, UpdateResultNone},
               {11, isUnmodified, UpdateResultNone}});
  EXPECT_TRUE(store.GetUpdatesPending());
  ExpectVisible({1, 2, 10, 4, 11, 5});
  script[3] = {uaApplied};
  store.CommitUpdates();
  EXPECT_EQ(Item(3), nullptr);
  ExpectVisible({1, 2, 10, 4, 11, 5});
}

TEST_F(CacheTest, RestoreUpdatesSendsAppliedChangesAgain) {
  Edit(1, {{"NAME", Variant("x")}});
  store.ApplyUpdates();
  store.RestoreUpdates();
  EXPECT_TRUE(store.GetUpdatesPending());
  store.ApplyUpdates();
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(CacheTest, InsertingThenDeletingLeavesNothing) {
  InsertAt(2, 10);
  store.DeleteRecord();
  EXPECT_EQ(Item(10), nullptr);
  EXPECT_FALSE(store.GetUpdatesPending());
  store.ApplyUpdates();
  EXPECT_TRUE(calls.empty());
  ExpectVisible({1, 2, 3, 4, 5});
}

TEST_F(CacheTest, UpdatingTwiceThenCancellingRestoresTheOriginalsMemoIncluded) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Variant>> first, second;
  } cases[] = {
      {"both change both",
       {{"NAME", Variant("a")}, {"MEMO", Variant("memo a")}},
       {{"NAME", Variant("b")}, {"MEMO", Variant("memo b")}}},
      {"the memo changes only the second time", {{"NAME", Variant("a")}}, {{"MEMO", Variant("memo b")}}},
      {"the memo changes only the first time", {{"MEMO", Variant("memo a")}}, {{"NOTE", Variant("other")}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Edit(2, c.first);
    Edit(2, c.second);
    void* old = store.AllocRecBuf();
    store.GetOldRecord(old);
    EXPECT_EQ(Field(old, "NAME").AsString(), "n2");
    TData::FreeRecBuf(old);
    EXPECT_EQ(
        store.GetBlob(store.No("MEMO"), TBlockManager::GetRecordPtr(store.BlockManager().Rollback(Item(2))))
            ->GetAsString(),
        "memo 2");
    store.CancelUpdates();
    GoTo(2);
    EXPECT_EQ(store.Value("NAME").AsString(), "n2");
    EXPECT_EQ(store.Value("MEMO").AsString(), "memo 2");
    EXPECT_EQ(store.Value("NOTE").AsString(), "note");
    EXPECT_EQ(store.GetUpdateStatus(), isUnmodified);
    EXPECT_FALSE(store.GetUpdatesPending());
  }
  ExpectVisible({1, 2, 3, 4, 5});
}

TEST_F(CacheTest, CancelUndoesInsertsDeletesAndChanges) {
  Edit(1, {{"NAME", Variant("x")}});
  Delete(2);
  InsertAt(4, 10);
  InsertAt(1, 11);
  Delete(11);
  Edit(5, {{"NAME", Variant("y")}});
  Delete(5);  // a modified record goes back to its old values, hidden
  ExpectVisible({1, 3, 10, 4});
  store.ApplyUpdates();
  EXPECT_EQ(calls.back().kind, ukDelete);
  EXPECT_EQ(calls.back().name, "n5");  // the values before the update
  store.CancelUpdates();
  ExpectVisible({1, 2, 3, 4, 5});
  GoTo(1);
  EXPECT_EQ(store.Value("NAME").AsString(), "n1");
  GoTo(5);
  EXPECT_EQ(store.Value("NAME").AsString(), "n5");
}

// An insert the server has (applied, not yet committed) is deleted there on the next apply.
TEST_F(CacheTest, DeletingAnAppliedInsertSendsADelete) {
  InsertAt(3, 10);
  store.ApplyUpdates();
  ASSERT_EQ(Sent(), (std::vector<std::pair<TUpdateKind, int>>{{ukInsert, 10}}));
  Delete(10);
  EXPECT_TRUE(store.GetUpdatesPending());
  store.ApplyUpdates();
  EXPECT_EQ(Sent(), (std::vector<std::pair<TUpdateKind, int>>{{ukInsert, 10}, {ukDelete, 10}}));
  store.CommitUpdates();
  EXPECT_EQ(Item(10), nullptr);
  ExpectVisible({1, 2, 3, 4, 5});
}

// After an applied update the server holds the new values: a further change is sent against them.
TEST_F(CacheTest, ChangingAnAppliedUpdateStartsFromTheServersValues) {
  Edit(2, {{"ID", Variant(20)}, {"NAME", Variant("a")}});
  store.ApplyUpdates();
  Edit(20, {{"NAME", Variant("b")}});
  store.ApplyUpdates();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].oldName, "a");
  Delete(20);
  store.ApplyUpdates();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].kind, ukDelete);
  EXPECT_EQ(calls[2].id, 20);  // not the 2 it had before the first update
  EXPECT_EQ(calls[2].name, "b");
}

TEST_F(CacheTest, RevertRecordForgetsTheChangeAndRenumbers) {
  Edit(2, {{"NAME", Variant("x")}});
  store.RevertRecord();
  EXPECT_EQ(store.Value("NAME").AsString(), "n2");
  EXPECT_EQ(store.GetUpdateStatus(), isUnmodified);
  EXPECT_FALSE(store.GetUpdatesPending());

  InsertAt(2, 10);
  ExpectVisible({1, 10, 2, 3, 4, 5});
  GoTo(10);
  store.RevertRecord();
  EXPECT_EQ(Item(10), nullptr);
  EXPECT_FALSE(store.GetUpdatesPending());
  ExpectVisible({1, 2, 3, 4, 5});

  Delete(3);
  store.SetFilterItemTypes(15);  // show deleted records too
  GoTo(3);
  EXPECT_EQ(store.GetUpdateStatus(), isDeleted);
  void* buf = store.AllocRecBuf();
  store.EditRecord(buf);
  EXPECT_THROW(store.UpdateRecord(buf), EAssertionFailed);  // a delete never turns into an update
  store.FreeComplexFields(buf, false);
  TData::FreeRecBuf(buf);
  EXPECT_EQ(store.GetUpdateStatus(), isDeleted);
  store.RevertRecord();
  store.SetFilterItemTypes(ItemTypesUnmodifiedModifiedInserted);
  ExpectVisible({1, 2, 3, 4, 5});
  store.ApplyUpdates();
  EXPECT_TRUE(calls.empty());
}

TEST_F(CacheTest, BatchesTakeTheAnswerThatClosesThem) {
  for (int id : {1, 2, 3}) Edit(id, {{"NAME", Variant("x")}});
  script = {{1, {UpdateResultDeferred}}, {2, {UpdateResultDeferred}}, {3, {uaRetry, uaApplied}}};
  store.ApplyUpdates();
  // 1 and 2 deferred, 3 asks to retry the batch: the batch starts again from 1.
  std::vector<int> ids;
  for (const Call& c : calls) ids.push_back(c.id);
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 1, 2, 3}));
  for (int id : {1, 2, 3}) EXPECT_EQ(Item(id)->UpdateResult, uaApplied) << id;
}

TEST_F(CacheTest, TheCallbackMayRevertCancelOrCloseWhileApplying) {
  Edit(1, {{"NAME", Variant("x")}});
  Edit(2, {{"NAME", Variant("y")}});
  InsertAt(3, 10);
  onCall = [this](const Call& c) {
    if (c.id == 1) store.RevertRecord();
    if (c.id == 2) store.CommitUpdates();  // a nested apply does nothing
  };
  store.ApplyUpdates();
  EXPECT_EQ(Sent(), (std::vector<std::pair<TUpdateKind, int>>{{ukModify, 1}, {ukModify, 2}, {ukInsert, 10}}));
  EXPECT_EQ(Item(1)->Status, isUnmodified);

  calls.clear();
  onCall = [this](const Call&) { store.CancelUpdates(); };
  Edit(4, {{"NAME", Variant("z")}});
  InsertAt(5, 11);
  store.ApplyUpdates();
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(Item(11), nullptr);

  calls.clear();
  onCall = [this](const Call&) { store.Close(); };
  Edit(4, {{"NAME", Variant("z")}});
  InsertAt(5, 12);
  store.ApplyUpdates();
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_FALSE(store.Active());
}

TEST_F(CacheTest, AnErrorOfTheCallbackLeavesTheChangePending) {
  Edit(1, {{"NAME", Variant("x")}});
  Edit(2, {{"NAME", Variant("y")}});
  onCall = [](const Call& c) {
    if (c.id == 2) throw EDatabaseError("lost connection");
  };
  GoTo(4);
  EXPECT_THROW(store.ApplyUpdates(), EDatabaseError);
  EXPECT_EQ(store.Value("ID").AsInteger(), 4);
  EXPECT_EQ(Item(1)->UpdateResult, uaApplied);
  EXPECT_EQ(Item(2)->UpdateResult, UpdateResultNone);
  onCall = nullptr;
  calls.clear();
  store.ApplyUpdates();
  EXPECT_EQ(Sent(), (std::vector<std::pair<TUpdateKind, int>>{{ukModify, 2}}));
}

TEST_F(CacheTest, ASortedStoreKeepsItsOrderThroughChangesAndCancel) {
  store.SetIndexFieldNames("NAME DESC");
  ExpectVisible({5, 4, 3, 2, 1});
  Edit(2, {{"NAME", Variant("n9")}});
  ExpectVisible({2, 5, 4, 3, 1});
  Edit(4, {{"NAME", Variant("n0")}});
  ExpectVisible({2, 5, 3, 1, 4});
  GoTo(4);
  store.RevertRecord();
  ExpectVisible({2, 5, 4, 3, 1});
  store.CancelUpdates();
  ExpectVisible({5, 4, 3, 2, 1});
}

TEST_F(CacheTest, ClosingWithPendingChangesReleasesEverything) {
  Edit(1, {{"NAME", Variant("x")}, {"MEMO", Variant("changed")}, {"NOTE", Variant("changed too")}});
  InsertAt(2, 10);
  Edit(3, {{"MEMO", Variant("m")}});
  Delete(3);
  store.Close();  // LeakSanitizer checks that rollback records and their blobs are gone
  EXPECT_FALSE(store.GetUpdatesPending());
}

}  // namespace
