#include "core/CRRecordSet.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/CLRClasses.h"
#include "core/MemBlob.h"
#include "platform/runtime/Exceptions.h"

namespace {

// A blob that counts the live instances, to see records really released.
class TCountingBlob : public TBlob {
 public:
  static inline int Live = 0;
  TCountingBlob() { ++Live; }

 protected:
  ~TCountingBlob() override { --Live; }
};

class TFakeCommand : public TCRCommand {
 public:
  TCursorState State = csInactive;
  bool Prepared = false;
  TCursorState GetCursorState() override { return State; }
  void SetCursorState(TCursorState value) override { State = value; }
  bool GetPrepared() override { return Prepared; }
  void Prepare() override { Prepared = true, TCRCommand::Prepare(); }
  void Unprepare() override { Prepared = false, TCRCommand::Unprepare(); }
  void Execute() override { State = csExecuted; }
};

// A provider over TotalRows generated rows: id (1-based), and with ComplexFields a long heap
// string and a blob per row.
class TFakeRecordSet : public TCRRecordSet {
 public:
  int TotalRows = 60;
  bool ComplexFields = false;
  int FailAtBlock = 0;            // a Fetch that raises (1-based block number)
  int Blocks = 0;                 // Fetch calls not cancelled
  int Describes = 0, Closes = 0;  // InternalInitFields and InternalClose calls

  ~TFakeRecordSet() override {
    try {
      Close();
    } catch (...) {
    }
  }
  TFakeCommand* Cmd() { return static_cast<TFakeCommand*>(GetCommand()); }

  bool Fetch() override {
    TFakeCommand* cmd = Cmd();
    if (cmd->State == csInactive || cmd->State == csFetched) return false;
    if (cmd->State == csExecuted) cmd->State = GetFetchAll() ? csFetchingAll : csFetching;
    bool cancel = false;
    DoBeforeFetch(cancel);
    if (!cancel && ++Blocks == FailAtBlock)
      throw EDAError(2013, "Lost connection to MySQL server during query");
    PItemHeader first = nullptr;
    for (int rows = 0; !cancel && rows < GetFetchRows() && FNextRow < TotalRows; ++rows) {
      PItemHeader item = AddItem();
      if (!first) first = item;
      FillRecord(TBlockManager::GetRecordPtr(item), ++FNextRow);
    }
    if (FNextRow >= TotalRows) cmd->State = csFetched;
    if (first) ReorderItems(first);
    DoAfterFetch();
    return first != nullptr;
  }

  void CreateComplexField(void* recBuf, int index, bool withBlobs) override {
    const TFieldDesc& f = *Fields()[index];
    if (f.DataType == dtBlob && withBlobs)
      Marshal::WriteIntPtr(recBuf, f.Offset, (new TCountingBlob())->GetHandle());
    else
      TCRRecordSet::CreateComplexField(recBuf, index, withBlobs);
  }

 protected:
  void CreateCommand() override { SetCommand(std::make_unique<TFakeCommand>()); }
  void InternalPrepare() override {
    TCRRecordSet::InternalPrepare();
    SetCommandType(ctResultSet);
  }
  void InternalOpen() override {
    FNextRow = 0;
    TCRRecordSet::InternalOpen();
  }
  void InternalClose() override {
    ++Closes;
    Cmd()->State = Cmd()->Prepared ? csPrepared : csInactive;
  }
  void InternalInitFields() override {
    ++Describes;
    AddField("id", dtInt32, 4, 0);
    if (ComplexFields) {
      AddField("name", dtExtString, RefFieldSize, 3000);
      AddField("memo", dtBlob, RefFieldSize, 0);
    }
  }

 private:
  void AddField(const char* name, TDataType type, uint16_t size, uint16_t length) {
    AddFieldDesc(name, type, size, length);
  }

  void FillRecord(void* rec, int id) {
    InitRecord(rec);
    CreateComplexFields(rec, true);
    PutFieldAsVariant(1, rec, id);
    if (ComplexFields) {
      // Longer than the heap's small buffers: each is its own allocation, which LeakSanitizer
      // reports when a dropped record keeps it.
      PutFieldAsVariant(2, rec, std::string(2500, static_cast<char>('a' + id % 26)));
      PutFieldAsVariant(3, rec, "memo " + std::to_string(id));
    }
  }

  int FNextRow = 0;
};

int CurrentId(TFakeRecordSet& rs) {
  void* buf = rs.AllocRecBuf();
  rs.GetRecord(buf);
  int id = rs.GetFieldAsVariant(1, buf).AsInteger();
  TData::FreeRecBuf(buf);
  return id;
}

// With 60 rows and blocks of 25: one fetch after open, a second after reading row 26, end of data
// after 60; positioning by number fetches as far as it needs.
TEST(CRRecordSetTest, FetchesOnDemandInBlocks) {
  TFakeRecordSet rs;
  rs.Open();
  EXPECT_EQ(rs.Blocks, 1);
  EXPECT_EQ(rs.GetRecordCount(), 25);
  for (int id = 1; id <= 25; ++id) rs.GetNextRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 25);
  EXPECT_EQ(rs.Blocks, 1);
  rs.GetNextRecord(nullptr);
  EXPECT_EQ(rs.Blocks, 2);
  EXPECT_EQ(CurrentId(rs), 26);
  EXPECT_EQ(rs.GetRecordNo(), 26);
  rs.SetRecordNo(61);
  EXPECT_EQ(CurrentId(rs), 26) << "beyond the last record the cursor stays";
  EXPECT_EQ(rs.Blocks, 3);
  EXPECT_TRUE(rs.IsAllFetched());
  rs.SetRecordNo(60);
  rs.GetNextRecord(nullptr);
  EXPECT_TRUE(rs.GetEof());
  EXPECT_EQ(rs.GetRecordCount(), 60);
  rs.GetPriorRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 60);
  EXPECT_EQ(rs.Blocks, 3);
}

TEST(CRRecordSetTest, FetchAllFetchesEverythingAtOpen) {
  TFakeRecordSet rs;
  EXPECT_TRUE(rs.SetProp(prFetchAll, true));
  EXPECT_THROW(rs.SetProp(prFetchRows, 0), EDatabaseError);
  EXPECT_THROW(rs.SetProp(prFetchRows, 10001), EDatabaseError);
  EXPECT_THROW(rs.SetProp(prAutoCommit, true), EAssertionFailed);
  rs.Open();
  EXPECT_EQ(rs.Blocks, 3);
  EXPECT_EQ(rs.GetRecordCount(), 60);
  EXPECT_TRUE(rs.IsAllFetched());
}

// BreakFetch ends a running fetch-all; the break holds until the command runs again. A cancel by
// the before-fetch callback ends one block's fetch only.
TEST(CRRecordSetTest, BreakFetchAndCancelledBlocks) {
  TFakeRecordSet rs;
  rs.SetProp(prFetchAll, true);
  TCursorState stateAtBreak = csInactive;
  rs.OnAfterFetch = [&] {
    if (rs.Blocks == 1 && stateAtBreak == csInactive) {
      rs.BreakFetch();
      stateAtBreak = rs.Cmd()->State;
    }
  };
  rs.Open();
  EXPECT_EQ(stateAtBreak, csFetchingAll);
  EXPECT_EQ(rs.GetRecordCount(), 25);
  EXPECT_EQ(rs.Cmd()->State, csFetching) << "a cancelled fetch-all cursor is fetching again";
  EXPECT_FALSE(rs.IsAllFetched());
  for (int i = 0; i < 26; ++i) rs.GetNextRecord(nullptr);
  EXPECT_TRUE(rs.GetEof());
  EXPECT_EQ(rs.Blocks, 1);
  rs.OnAfterFetch = nullptr;
  rs.Close();
  rs.Open();
  EXPECT_EQ(rs.GetRecordCount(), 60);

  TFakeRecordSet cancelled;
  int calls = 0;
  cancelled.OnBeforeFetch = [&](bool& cancel) { cancel = ++calls == 2; };
  cancelled.Open();
  for (int i = 0; i < 26; ++i) cancelled.GetNextRecord(nullptr);
  EXPECT_TRUE(cancelled.GetEof());
  EXPECT_EQ(cancelled.Cmd()->State, csFetching) << "only a fetch-all cursor changes state";
  EXPECT_EQ(cancelled.GetRecordCount(), 25);
}

TEST(CRRecordSetTest, UniDirectionalReleasesEachBlockItLeaves) {
  TCountingBlob::Live = 0;
  {
    TFakeRecordSet rs;
    rs.ComplexFields = true;
    rs.SetProp(prUniDirectional, true);
    rs.Open();
    EXPECT_EQ(TCountingBlob::Live, 25);
    for (int id = 1; id <= 60; ++id) {
      rs.GetNextRecord(nullptr);
      ASSERT_EQ(CurrentId(rs), id);
      ASSERT_EQ(rs.GetRecordNo(), id) << "record numbers go on across blocks";
      ASSERT_LE(TCountingBlob::Live, 25) << "row " << id;
      ASSERT_EQ(rs.BlockManager().FirstBlock()->Next, nullptr) << "row " << id;
    }
    EXPECT_EQ(TCountingBlob::Live, 10);
    EXPECT_EQ(rs.GetRecordCount(), 60);
    rs.GetNextRecord(nullptr);
    EXPECT_TRUE(rs.GetEof());
    EXPECT_EQ(TCountingBlob::Live, 10) << "the last block stays when nothing follows";
    rs.GetPriorRecord(nullptr);
    EXPECT_TRUE(rs.GetBof()) << "no way back in unidirectional mode";
    rs.Close();
    EXPECT_EQ(TCountingBlob::Live, 0);
  }
  TFakeRecordSet rs;
  rs.SetProp(prUniDirectional, true);
  rs.Open();
  for (int i = 0; i < 30; ++i) rs.GetNextRecord(nullptr);
  rs.GetPriorRecord(nullptr);
  EXPECT_TRUE(rs.GetBof()) << "also in the middle of a block";
  EXPECT_FALSE(rs.GetEof());
  rs.SetRecordNo(10);
  EXPECT_TRUE(rs.GetBof()) << "a released record cannot be reached";
}

TEST(CRRecordSetTest, ReFilteringAnEmptyBlockKeepsFetching) {
  TFakeRecordSet rs;
  rs.Open();
  rs.FilterFunc = [&rs](void* rec) { return rs.GetFieldAsVariant(1, rec).AsInteger() > 30; };
  rs.FilterUpdated();
  EXPECT_EQ(rs.GetRecordCount(), 0);
  EXPECT_FALSE(rs.GetEof()) << "more rows may pass the filter";
  rs.GetNextRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 31);
  EXPECT_EQ(rs.GetRecordNo(), 1);
  while (!rs.GetEof()) rs.GetNextRecord(nullptr);
  EXPECT_EQ(rs.GetRecordCount(), 30);
}

TEST(CRRecordSetTest, SortingFetchesEveryRowFirst) {
  TFakeRecordSet rs;
  rs.Open();
  EXPECT_TRUE(rs.SetProp(prIndexFieldNames, "id DESC"));
  EXPECT_EQ(rs.GetRecordCount(), 60);
  rs.SetToBegin();
  rs.GetNextRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 60);
  EXPECT_THROW(rs.SetProp(prIndexFieldNames, "nosuchfield"), EDatabaseError);
  EXPECT_EQ(rs.IndexFieldNames(), "");
}

TEST(CRRecordSetTest, AFailedOpenReleasesWhatItFetched) {
  TCountingBlob::Live = 0;
  TFakeRecordSet rs;
  rs.ComplexFields = true;
  rs.SetProp(prFetchAll, true);
  rs.FailAtBlock = 2;
  EXPECT_THROW(rs.Open(), EDAError);
  EXPECT_FALSE(rs.Active());
  EXPECT_EQ(rs.Closes, 1);
  EXPECT_EQ(TCountingBlob::Live, 0);
  EXPECT_EQ(rs.FirstItem(), nullptr);
  rs.FailAtBlock = 0;
  rs.Blocks = 0;
  rs.Open();
  EXPECT_EQ(rs.GetRecordCount(), 60);
}

TEST(CRRecordSetTest, PreparedStatementDescribesItsFieldsOnceAndDisconnectKeepsTheRows) {
  TFakeRecordSet rs;
  rs.Prepare();
  rs.Open();
  rs.Close();
  EXPECT_EQ(rs.Describes, 1) << "described when prepared";
  EXPECT_EQ(rs.GetFieldCount(), 1) << "a prepared record set keeps its fields";
  rs.GetTablesInfo().Add()->SetTableName("t_account");
  rs.UnPrepare();
  EXPECT_EQ(rs.GetTablesInfo().GetCount(), 0);
  rs.Prepare();
  rs.SetProp(prFetchAll, true);
  rs.Open();
  rs.Disconnect();
  EXPECT_FALSE(rs.Cmd()->Prepared);
  EXPECT_TRUE(rs.Active());
  EXPECT_EQ(rs.GetRecordCount(), 60);
}

TEST(CRRecordSetTest, UniDirectionalKeepsABlockWithPendingCachedChanges) {
  TFakeRecordSet rs;
  rs.SetProp(prUniDirectional, true);
  rs.SetCachedUpdates(true);
  rs.Open();
  rs.GetNextRecord(nullptr);
  rs.DeleteRecord();                                     // a change the server has not seen
  while (CurrentId(rs) < 25) rs.GetNextRecord(nullptr);  // the last row of the first block
  EXPECT_THROW(rs.GetNextRecord(nullptr), EDatabaseError);
  EXPECT_TRUE(rs.GetUpdatesPending()) << "the change survives the refused move";
  rs.CancelUpdates();
  rs.GetNextRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 26) << "with nothing pending the walk goes on";
}

}  // namespace
