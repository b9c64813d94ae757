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
  int Executions = 0;
  bool Prepared = false;

  TCursorState GetCursorState() override { return State; }
  void SetCursorState(TCursorState value) override { State = value; }
  bool GetPrepared() override { return Prepared; }
  void Prepare() override {
    Prepared = true;
    TCRCommand::Prepare();
  }
  void Unprepare() override {
    Prepared = false;
    TCRCommand::Unprepare();
  }
  void Execute() override {
    ++Executions;
    State = csExecuted;
  }
};

// A provider over TotalRows generated rows: id (1-based), and with ComplexFields a long heap
// string and a blob per row.
class TFakeRecordSet : public TCRRecordSet {
 public:
  int TotalRows = 60;
  bool ComplexFields = false;
  int FailAtBlock = 0;      // a Fetch that raises (1-based block number)
  int Blocks = 0;           // Fetch calls that read rows
  int Describes = 0;        // InternalInitFields calls
  int Closes = 0;           // InternalClose calls
  bool ReinitFields = false;

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
    if (cancel) {
      DoAfterFetch();
      return false;
    }
    if (++Blocks == FailAtBlock) throw EDAError(2013, "Lost connection to MySQL server during query");
    PItemHeader first = nullptr;
    int rows = 0;
    for (; rows < GetFetchRows() && FNextRow < TotalRows; ++rows) {
      PItemHeader item = AddItem();
      if (!first) first = item;
      FillRecord(TBlockManager::GetRecordPtr(item), ++FNextRow);
    }
    if (FNextRow >= TotalRows) cmd->State = csFetched;
    if (first)
      ReorderItems(first);
    else
      --Blocks;
    DoAfterFetch();
    return rows > 0;
  }

  void CreateComplexField(void* recBuf, int index, bool withBlobs) override {
    const TFieldDesc& f = *Fields()[index];
    if (f.DataType == dtBlob && withBlobs) {
      Marshal::WriteIntPtr(recBuf, f.Offset, (new TCountingBlob())->GetHandle());
      return;
    }
    TCRRecordSet::CreateComplexField(recBuf, index, withBlobs);
  }

 protected:
  void CreateCommand() override { SetCommand(std::make_unique<TFakeCommand>()); }
  bool NeedReinitFields() override { return ReinitFields; }

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
    auto field = GetFieldDescType()();
    field->Name = name;
    field->DataType = type;
    field->Size = size;
    field->Length = length;
    field->FieldNo = static_cast<uint16_t>(FFields.Count() + 1);
    FFields.Add(std::move(field));
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

int BlockCount(TFakeRecordSet& rs) {
  int n = 0;
  for (PBlockHeader b = rs.BlockManager().FirstBlock(); b; b = b->Next) ++n;
  return n;
}

TEST(CRRecordSetTest, FetchesOnDemandInBlocks) {
  TFakeRecordSet rs;
  rs.Open();
  EXPECT_EQ(rs.Blocks, 1) << "one fetch after open";
  EXPECT_EQ(rs.GetRecordCount(), 25);
  EXPECT_EQ(rs.Cmd()->State, csFetching);
  EXPECT_FALSE(rs.IsAllFetched());
  for (int id = 1; id <= 25; ++id) {
    rs.GetNextRecord(nullptr);
    ASSERT_EQ(CurrentId(rs), id);
  }
  EXPECT_EQ(rs.Blocks, 1) << "rows 1 to 25 are in the first block";
  rs.GetNextRecord(nullptr);
  EXPECT_EQ(rs.Blocks, 2) << "a second fetch after reading row 26";
  EXPECT_EQ(CurrentId(rs), 26);
  EXPECT_EQ(rs.GetRecordNo(), 26);
  for (int id = 27; id <= 60; ++id) {
    rs.GetNextRecord(nullptr);
    ASSERT_FALSE(rs.GetEof());
    ASSERT_EQ(rs.GetRecordNo(), id);
  }
  EXPECT_EQ(rs.Blocks, 3);
  EXPECT_TRUE(rs.IsAllFetched());
  rs.GetNextRecord(nullptr);
  EXPECT_TRUE(rs.GetEof()) << "end of data after 60";
  EXPECT_EQ(rs.GetRecordCount(), 60);
  rs.GetPriorRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 60);
  rs.SetToBegin();
  rs.GetNextRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 1);
  EXPECT_EQ(rs.Blocks, 3);
}

TEST(CRRecordSetTest, PositioningByNumberFetchesAsFarAsNeeded) {
  TFakeRecordSet rs;
  rs.Open();
  rs.SetRecordNo(40);
  EXPECT_EQ(rs.Blocks, 2);
  EXPECT_EQ(CurrentId(rs), 40);
  rs.SetRecordNo(61);
  EXPECT_EQ(CurrentId(rs), 40) << "beyond the last record the cursor stays";
  EXPECT_TRUE(rs.IsAllFetched());
}

TEST(CRRecordSetTest, FetchAllFetchesEverythingAtOpen) {
  TFakeRecordSet rs;
  EXPECT_TRUE(rs.SetProp(prFetchAll, true));
  Variant v;
  EXPECT_TRUE(rs.GetProp(prFetchAll, v));
  EXPECT_TRUE(v.AsBoolean());
  rs.Open();
  EXPECT_EQ(rs.Blocks, 3);
  EXPECT_EQ(rs.GetRecordCount(), 60);
  EXPECT_TRUE(rs.IsAllFetched());
  rs.SetToEnd();
  rs.GetPriorRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 60);
}

TEST(CRRecordSetTest, BreakFetchEndsARunningFetchAll) {
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
  EXPECT_EQ(rs.Blocks, 1);
  EXPECT_EQ(rs.GetRecordCount(), 25);
  EXPECT_EQ(rs.Cmd()->State, csFetching) << "a cancelled fetch-all cursor is fetching again";
  EXPECT_FALSE(rs.IsAllFetched());
  rs.SetToEnd();
  rs.GetPriorRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 25);
  // The break holds until the command runs again.
  rs.SetToBegin();
  for (int i = 0; i < 26; ++i) rs.GetNextRecord(nullptr);
  EXPECT_TRUE(rs.GetEof());
  EXPECT_EQ(rs.Blocks, 1);
  rs.OnAfterFetch = nullptr;
  rs.Close();
  rs.Open();
  EXPECT_EQ(rs.GetRecordCount(), 60);
}

TEST(CRRecordSetTest, BeforeFetchCallbackCancelsABlock) {
  TFakeRecordSet rs;
  int calls = 0;
  rs.OnBeforeFetch = [&](bool& cancel) {
    EXPECT_FALSE(cancel);
    cancel = ++calls == 2;
  };
  rs.Open();
  for (int i = 0; i < 25; ++i) rs.GetNextRecord(nullptr);
  rs.GetNextRecord(nullptr);
  EXPECT_TRUE(rs.GetEof());
  EXPECT_EQ(rs.Cmd()->State, csFetching) << "only a fetch-all cursor changes state";
  EXPECT_EQ(rs.GetRecordCount(), 25);
  rs.GetNextRecord(nullptr);  // at Eof nothing happens
  EXPECT_EQ(calls, 2);
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
      ASSERT_FALSE(rs.GetEof());
      ASSERT_EQ(CurrentId(rs), id);
      ASSERT_EQ(rs.GetRecordNo(), id) << "record numbers go on across blocks";
      ASSERT_LE(TCountingBlob::Live, 25) << "row " << id;
      ASSERT_EQ(BlockCount(rs), 1) << "row " << id;
    }
    EXPECT_EQ(TCountingBlob::Live, 10);
    EXPECT_EQ(rs.Blocks, 3);
    EXPECT_EQ(rs.GetRecordCount(), 60);
    // The first item held is row 51: the earlier blocks are gone.
    void* buf = rs.AllocRecBuf();
    rs.BlockManager().GetRecord(rs.FirstItem(), buf);
    EXPECT_EQ(rs.GetFieldAsVariant(1, buf).AsInteger(), 51);
    EXPECT_EQ(rs.GetFieldAsVariant(2, buf).AsString(), std::string(2500, static_cast<char>('a' + 51 % 26)));
    TData::FreeRecBuf(buf);
    rs.GetNextRecord(nullptr);
    EXPECT_TRUE(rs.GetEof());
    EXPECT_EQ(TCountingBlob::Live, 10) << "the last block stays when nothing follows";
    rs.GetPriorRecord(nullptr);
    EXPECT_TRUE(rs.GetBof()) << "no way back in unidirectional mode";
    rs.Close();
    EXPECT_EQ(TCountingBlob::Live, 0);
  }
  EXPECT_EQ(TCountingBlob::Live, 0);
}

TEST(CRRecordSetTest, UniDirectionalBackwardMoveReportsBofMidBlock) {
  TFakeRecordSet rs;
  rs.SetProp(prUniDirectional, true);
  rs.Open();
  for (int i = 0; i < 30; ++i) rs.GetNextRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 30);
  rs.GetPriorRecord(nullptr);
  EXPECT_TRUE(rs.GetBof());
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
  rs.FilterFunc = [](void*) { return false; };
  rs.FilterUpdated();
  EXPECT_TRUE(rs.GetEof()) << "everything is fetched: nothing more can pass";
}

TEST(CRRecordSetTest, SortingFetchesEveryRowFirst) {
  TFakeRecordSet rs;
  rs.Open();
  EXPECT_TRUE(rs.SetProp(prIndexFieldNames, "id DESC"));
  EXPECT_EQ(rs.Blocks, 3);
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

TEST(CRRecordSetTest, PreparedStatementDescribesItsFieldsOnce) {
  TFakeRecordSet rs;
  rs.Prepare();
  EXPECT_TRUE(rs.Prepared());
  EXPECT_EQ(rs.Cmd()->State, csPrepared);
  EXPECT_EQ(rs.Describes, 1);
  EXPECT_TRUE(rs.HasResultSet());
  rs.Prepare();
  EXPECT_EQ(rs.Describes, 1);
  rs.Open();
  EXPECT_EQ(rs.Describes, 1) << "described when prepared";
  rs.Close();
  EXPECT_EQ(rs.GetFieldCount(), 1) << "a prepared record set keeps its fields";
  rs.ReinitFields = true;
  rs.Open();
  EXPECT_EQ(rs.Describes, 2);
  rs.Close();
  rs.GetTablesInfo().Add()->SetTableName("t_account");
  rs.UnPrepare();
  EXPECT_EQ(rs.Cmd()->State, csInactive);
  EXPECT_EQ(rs.GetTablesInfo().GetCount(), 0);
  EXPECT_EQ(rs.GetFieldCount(), 0);
}

TEST(CRRecordSetTest, DisconnectKeepsTheRows) {
  TFakeRecordSet rs;
  rs.Prepare();
  rs.SetProp(prFetchAll, true);
  rs.Open();
  rs.Disconnect();
  EXPECT_FALSE(rs.Prepared());
  EXPECT_FALSE(rs.Cmd()->Prepared);
  EXPECT_TRUE(rs.Active());
  EXPECT_EQ(rs.GetRecordCount(), 60);
}

TEST(CRRecordSetTest, FieldsAreProviderFieldsWithTheRecordSetsNameRules) {
  class TBracketClass : public TCRTableInfoClass {
   public:
    char LeftQuote() const override { return '['; }
    char RightQuote() const override { return ']'; }
  };
  static const TBracketClass brackets;
  class TBracketRecordSet : public TFakeRecordSet {
   public:
    const TCRTableInfoClass& GetTableInfoClass() const override { return brackets; }
  };
  TBracketRecordSet rs;
  rs.Open();
  auto* id = dynamic_cast<TCRFieldDesc*>(&rs.FieldOf(1));
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->GetNormalizedName(true), "[id]");
  EXPECT_EQ(&rs.GetTablesInfo().ItemClass(), &brackets);
}

TEST(CRRecordSetTest, Properties) {
  TFakeRecordSet rs;
  EXPECT_TRUE(rs.GetLongStrings());
  EXPECT_TRUE(rs.GetFlatBuffers());
  EXPECT_TRUE(rs.SetProp(prLongStrings, false));
  EXPECT_TRUE(rs.SetProp(prFlatBuffers, false));
  EXPECT_TRUE(rs.SetProp(prEnableEmptyStrings, true));
  EXPECT_TRUE(rs.SetProp(prCompressBlobMode, 2));
  EXPECT_TRUE(rs.SetProp(prFetchRows, 10000));
  EXPECT_FALSE(rs.GetLongStrings() || rs.GetFlatBuffers());
  EXPECT_TRUE(rs.EnableEmptyStrings);
  EXPECT_EQ(rs.Cmd()->GetCompressBlobMode(), 2);
  EXPECT_EQ(rs.GetFetchRows(), 10000);
  EXPECT_THROW(rs.SetProp(prFetchRows, 0), EDatabaseError);
  EXPECT_THROW(rs.SetProp(prFetchRows, 10001), EDatabaseError);
  EXPECT_EQ(rs.GetFetchRows(), 10000);
  EXPECT_THROW(rs.SetProp(prAutoCommit, true), EAssertionFailed);
  Variant v;
  EXPECT_THROW(rs.GetProp(prFetchRows, v), EAssertionFailed);

  EXPECT_FALSE(rs.GetConvertEOL()) << "no connection";
  class TPlainConnection : public TCRConnection {};
  TPlainConnection conn;
  rs.SetConnection(&conn);
  rs.SetSQL("SELECT id FROM t_account");
  EXPECT_EQ(rs.Cmd()->GetSQL(), "SELECT id FROM t_account");
  conn.SetProp(prConvertEOL, true);
  EXPECT_TRUE(rs.GetConvertEOL());
}

TEST(CRRecordSetTest, ARecordSetWithoutCommandClassRaises) {
  class TNoCommand : public TCRRecordSet {};
  TNoCommand rs;
  EXPECT_THROW(rs.GetCommand(), EAssertionFailed);
}

TEST(CRRecordSetTest, UniDirectionalKeepsABlockWithPendingCachedChanges) {
  TFakeRecordSet rs;
  rs.SetProp(prUniDirectional, true);
  rs.SetCachedUpdates(true);
  rs.Open();
  rs.GetNextRecord(nullptr);
  rs.DeleteRecord();  // a change the server has not seen
  while (CurrentId(rs) < 25) rs.GetNextRecord(nullptr);  // the last row of the first block
  EXPECT_THROW(rs.GetNextRecord(nullptr), EDatabaseError);
  EXPECT_TRUE(rs.GetUpdatesPending()) << "the change survives the refused move";
  rs.CancelUpdates();
  rs.GetNextRecord(nullptr);
  EXPECT_EQ(CurrentId(rs), 26) << "with nothing pending the walk goes on";
}

}  // namespace
