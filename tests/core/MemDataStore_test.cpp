#include <gtest/gtest.h>

#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "core/DAConsts.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"
#include "tests/core/MemDataStoreTestStore.h"

namespace {

constexpr uint16_t R = RefFieldSize;

std::vector<StoreField> Fields() {
  return {
      {"ID", dtInt32, 4},      {"NAME", dtString, 21, 20}, {"NOTE", dtExtString, R, 64},    {"V", dtInt32, 4},
      {"WHEN", dtDateTime, 8}, {"MEMO", dtMemo, R},        {"Guild Name", dtString, 11, 10}};
}

using Row = std::vector<std::pair<std::string, Variant>>;

Row IdV(int id, int v) {
  return {{"ID", Variant(id)}, {"V", Variant(v)}};
}

std::vector<int> Ints(const std::vector<Variant>& values) {
  std::vector<int> out;
  for (const Variant& v : values) out.push_back(v.IsNull() ? -1 : v.AsInteger());
  return out;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { store.Open(); }
  // Appends records with ID 1..n and V = ID.
  void Fill(int n) {
    for (int i = 1; i <= n; ++i) store.Append(IdV(i, i));
  }
  void ExpectNumbering(const std::vector<int>& ids) { store.ExpectNumbering(ids); }

  TTestMemData store{Fields()};
};

TEST_F(StoreTest, InsertingNearTheFrontRenumbersOnlyTheFront) {
  Fill(1000);
  store.SetRecordNo(2);
  store.Insert(IdV(5000, 0));
  EXPECT_EQ(store.GetRecordNo(), 2);
  EXPECT_EQ(store.RecordNoOffset(), 1);
  // The records behind kept their Order: the 1000th record's Order is still 1000 - 1 + 1.
  EXPECT_EQ(store.LastItem()->Order, 1000);
  std::vector<int> ids{1, 5000};
  for (int i = 2; i <= 1000; ++i) ids.push_back(i);
  ExpectNumbering(ids);
  // A record appended now is numbered after the last one, offset and all.
  store.Append(IdV(6000, 0));
  EXPECT_EQ(store.GetRecordNo(), 1002);
  ids.push_back(6000);
  ExpectNumbering(ids);
  // Deleting the first record takes the offset back.
  store.SetRecordNo(1);
  store.DeleteRecord();
  EXPECT_EQ(store.RecordNoOffset(), 0);
  ids.erase(ids.begin());
  ExpectNumbering(ids);
}

TEST_F(StoreTest, NavigationAndDeletingMovesTheCursor) {
  Fill(3);
  store.SetToEnd();
  store.GetPriorRecord(nullptr);
  EXPECT_EQ(store.Value("ID").AsInteger(), 3);
  store.DeleteRecord();  // the last: the cursor goes back
  EXPECT_EQ(store.Value("ID").AsInteger(), 2);
  store.SetRecordNo(1);
  store.DeleteRecord();  // the cursor goes on
  EXPECT_EQ(store.Value("ID").AsInteger(), 2);
  store.DeleteRecord();
  EXPECT_TRUE(store.GetBof());
  EXPECT_TRUE(store.GetEof());
  EXPECT_EQ(store.FirstItem(), nullptr);
  EXPECT_EQ(store.GetRecordCount(), 0);
  EXPECT_THROW(store.DeleteRecord(), EAssertionFailed);
  EXPECT_THROW(store.PutRecord(nullptr), EAssertionFailed);
}

// Hidden items have Order 0; after inserts in front the offset makes 0 + offset a valid number.
// Positioning must still land on the visible record of that number.
TEST_F(StoreTest, SetRecordNoNeverStopsOnAHiddenItem) {
  store.Append(IdV(1, 0));  // hidden by the filter below
  for (int i = 2; i <= 10; ++i) store.Append(IdV(i, i));
  store.SetFilterText("V <> 0");
  store.FilterUpdated();
  ASSERT_EQ(store.GetRecordCount(), 9);
  for (int k = 0; k < 3; ++k) {
    store.SetRecordNo(2);
    store.Insert(IdV(100 + k, 100 + k));
  }
  ASSERT_EQ(store.RecordNoOffset(), 3);
  EXPECT_EQ(store.FirstItem()->Order, 0);  // the hidden record: Order 0, "number" 3
  store.SetToBegin();
  store.SetRecordNo(3);
  EXPECT_EQ(store.GetRecordNo(), 3);
  EXPECT_EQ(store.Value("ID").AsInteger(), 101);
  ExpectNumbering({2, 102, 101, 100, 3, 4, 5, 6, 7, 8, 9, 10});
}

TEST_F(StoreTest, FilterTextThroughTheStore) {
  Fill(10);
  store.Insert({{"ID", Variant(11)}, {"NAME", Variant("Jo\xd5\xc5")}, {"Guild Name", Variant("Lions")}},
               true);
  store.SetFilterText("V > 5 and V <= 8 or [Guild Name] = 'L*'");
  store.FilterUpdated();
  EXPECT_EQ(Ints(store.Column("ID")), (std::vector<int>{6, 7, 8, 11}));

  // A bad filter raises its error; the old one stays in force.
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"V >", MessageText(SIllegalFilter)},
      {"(V > 1", MessageText(SIllegalFilter)},
      {"V = 1)", MessageText(SIllegalFilter)},
      {"Nope = 1", "Field Nope not found"},
  };
  for (const auto& [text, message] : bad) {
    SCOPED_TRACE(text);
    try {
      store.SetFilterText(text);
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), message);
    }
    EXPECT_EQ(store.FilterText(), "V > 5 and V <= 8 or [Guild Name] = 'L*'");
    store.FilterUpdated();
    EXPECT_EQ(store.GetRecordCount(), 4);
  }

  store.FilterCaseInsensitive = true;
  store.SetFilterText("name = 'jo*'");
  store.FilterUpdated();
  EXPECT_EQ(Ints(store.Column("ID")), (std::vector<int>{11}));

  store.SetFilterText("   ");
  EXPECT_EQ(store.FilterExpression(), nullptr);
  store.FilterUpdated();
  EXPECT_EQ(store.GetRecordCount(), 11);
}

TEST_F(StoreTest, AFilterThatCannotJudgeTheRecordsShowsThemAndRaisesOnce) {
  Fill(3);
  store.SetFilterText("V > 'abc'");
  EXPECT_THROW(store.FilterUpdated(), EConvertError);
  EXPECT_EQ(store.GetRecordCount(), 3);
  EXPECT_EQ(Ints(store.Column("ID")), (std::vector<int>{1, 2, 3}));
  store.Append(IdV(4, 4));  // judged alone: shown, no error
  ExpectNumbering({1, 2, 3, 4});
}

TEST_F(StoreTest, UpdatingARecordJudgesItAgain) {
  Fill(6);
  store.SetFilterText("V < 100");
  store.FilterUpdated();
  store.SetRecordNo(2);
  store.Update({{"V", Variant(500)}});
  EXPECT_EQ(store.GetRecordNo(), 0);  // hidden now
  ExpectNumbering({1, 3, 4, 5, 6});
  store.SetFilterText("V < 1000");
  store.FilterUpdated();
  ExpectNumbering({1, 2, 3, 4, 5, 6});
  // A record inserted that the filter rejects is kept, hidden, and not counted.
  store.SetFilterText("V < 100");
  store.FilterUpdated();
  store.SetRecordNo(3);
  store.Insert(IdV(77, 777));
  EXPECT_EQ(store.GetRecordCount(), 5);
  ExpectNumbering({1, 3, 4, 5, 6});
}

TEST_F(StoreTest, AFailedInsertCallbackLeavesTheStoreUnchanged) {
  Fill(3);
  store.OnInsertRecord = [] { throw EDatabaseError("server refused"); };
  store.SetRecordNo(2);
  EXPECT_THROW(store.Insert(IdV(9, 9)), EDatabaseError);
  store.OnInsertRecord = nullptr;
  store.OnDeleteRecord = [] { throw EDatabaseError("server refused"); };
  store.SetRecordNo(2);
  EXPECT_THROW(store.DeleteRecord(), EDatabaseError);
  store.OnDeleteRecord = nullptr;
  ExpectNumbering({1, 2, 3});
}

TEST(StoreCalcTest, FiltersSeeCalculatedFields) {
  TTestMemData store({{"ID", dtInt32, 4}, {"V", dtInt32, 4}, {"TWICE", dtInt32, 4, 0, fdkCalculated}});
  store.Open();
  store.OnCalcFields = [&store](void* rec) {
    const Variant v = store.GetFieldAsVariant(store.No("V"), rec);
    if (!v.IsNull()) store.PutFieldAsVariant(store.No("TWICE"), rec, Variant(v.AsInteger() * 2));
  };
  for (int i = 1; i <= 6; ++i) store.Append(IdV(i, i));
  store.SetFilterText("TWICE > 6 and TWICE <> 10");
  store.FilterUpdated();
  EXPECT_EQ(Ints(store.Column("ID")), (std::vector<int>{4, 6}));
}

// ---- Bookmarks ----

TEST_F(StoreTest, ABookmarkToADeletedRecordWhoseSlotWasReusedFallsBackToItsNumber) {
  Fill(6);
  store.SetRecordNo(5);
  TRecBookmark mark;
  store.GetBookmark(mark);
  EXPECT_EQ(mark.Order, 5);
  EXPECT_TRUE(store.BookmarkValid(&mark));
  PItemHeader slot = store.CurrentItem();
  store.DeleteRecord();
  store.SetRecordNo(1);
  store.Insert(IdV(42, 42));  // takes the freed slot
  ASSERT_EQ(store.CurrentItem(), slot);
  store.SetToEnd();
  store.SetToBookmark(&mark);
  // Record number 5 now: 42, 1, 2, 3, 4, 6.
  EXPECT_EQ(store.GetRecordNo(), 5);
  EXPECT_EQ(store.Value("ID").AsInteger(), 4);
  TRecBookmark now;
  store.SetRecordNo(1);
  store.GetBookmark(now);
  EXPECT_EQ(now.Item, mark.Item);
  EXPECT_NE(store.CompareBookmarks(&now, &mark), 0);
}

TEST_F(StoreTest, ABookmarkToADeletedRecordWhoseSlotNowHoldsTheCurrentRecordFallsBackToItsNumber) {
  Fill(6);
  store.SetRecordNo(5);
  TRecBookmark mark;
  store.GetBookmark(mark);
  PItemHeader slot = store.CurrentItem();
  store.DeleteRecord();
  store.SetRecordNo(1);
  store.Insert(IdV(42, 42));  // takes the freed slot and is current
  ASSERT_EQ(store.CurrentItem(), slot);
  store.SetToBookmark(&mark);
  // Record number 5 now: 42, 1, 2, 3, 4, 6 - not the new record in the old slot.
  EXPECT_EQ(store.GetRecordNo(), 5);
  EXPECT_EQ(store.Value("ID").AsInteger(), 4);
}

TEST_F(StoreTest, ABookmarkIntoAReleasedBlockFallsBackWithoutTouchingIt) {
  Fill(25);
  store.SetRecordNo(3);
  TRecBookmark mark;
  store.GetBookmark(mark);
  // Delete the first 20 records: their blocks go back to the system.
  store.SetRecordNo(1);
  for (int i = 0; i < 20; ++i) store.DeleteRecord();
  store.SetToBookmark(&mark);
  EXPECT_EQ(store.GetRecordNo(), 3);
  EXPECT_EQ(store.Value("ID").AsInteger(), 23);
}

TEST_F(StoreTest, ABookmarkSurvivesCloseAndOpenAsARecordNumber) {
  Fill(5);
  store.SetRecordNo(4);
  TRecBookmark mark, same;
  store.GetBookmark(mark);
  store.SetRecordNo(1);
  store.SetToBookmark(&mark);
  store.GetBookmark(same);
  EXPECT_EQ(store.CompareBookmarks(&mark, &same), 0);
  store.Close();
  store.Open();
  for (int i = 10; i < 16; ++i) store.Append(IdV(i, i));
  EXPECT_NE(store.RefreshIteration(), mark.RefreshIteration);
  store.SetToBookmark(&mark);
  EXPECT_EQ(store.GetRecordNo(), 4);
  EXPECT_EQ(store.Value("ID").AsInteger(), 13);
  EXPECT_TRUE(store.BookmarkValid(&mark));
}

// ---- Releasing ----

TEST(StoreFreeTest, FreeingAStoreFullOfHeapStringsAndBlobsLeaksNothing) {
  TTestMemData store(Fields());
  for (int round = 0; round < 2; ++round) {
    store.Open();
    for (int i = 0; i < 300; ++i) {
      // Some notes are too long for the heap's blocks (large buffers), some records have memos.
      const std::string note = i % 7 == 0 ? std::string(2500 + i, 'n') : "note " + std::to_string(i);
      Row row{{"ID", Variant(i)}, {"NOTE", Variant(note)}};
      if (i % 3 == 0) row.emplace_back("MEMO", Variant(std::string(100 + i, 'm')));
      store.Append(row);
    }
    store.SetRecordNo(10);
    store.Update({{"NOTE", Variant("changed")}, {"MEMO", Variant("new memo")}});
    for (int i = 0; i < 50; ++i) store.DeleteRecord();
    EXPECT_EQ(store.GetRecordCount(), 250);
    if (round == 0) {
      store.Close();
    } else {
      store.Reopen();
      EXPECT_EQ(store.GetRecordCount(), 0);
    }
  }
  // Only heap-kept strings, none large: the heap goes at once.
  TTestMemData small({{"ID", dtInt32, 4}, {"NOTE", dtExtString, R, 64}});
  small.Open();
  for (int i = 0; i < 100; ++i)
    small.Append({{"ID", Variant(i)}, {"NOTE", Variant("n" + std::to_string(i))}});
  small.Close();
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

}  // namespace
