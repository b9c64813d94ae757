#include "platform/db/DataSet.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VectorDataSet.h"
#include "platform/db/FieldClasses.h"

namespace {

// Five rows, ID 1..5 named r1..r5, open.
struct FiveRows {
  VectorDataSet ds;
  FiveRows() {
    for (int i = 1; i <= 5; ++i) ds.AddRow(i, "r" + std::to_string(i));
    ds.Open();
  }
  int Id() { return ds.FieldByName("ID")->AsInteger(); }
};

struct NavStep {
  const char* name;
  std::function<int(TDataSet&)> op;  // returns records moved where it applies
  int moved;
  int recNo;
  bool bof;
  bool eof;
};

TEST(DataSetNavigationTest, FiveRowsRecNoBofEof) {
  FiveRows f;
  int afterScroll = 0;
  f.ds.AfterScroll = [&](TDataSet*) { ++afterScroll; };
  auto run = [](std::function<void(TDataSet&)> op) {
    return [op](TDataSet& d) {
      op(d);
      return 0;
    };
  };
  const NavStep steps[] = {
      {"open is on the first", run([](TDataSet&) {}), 0, 1, true, false},
      {"next", [](TDataSet& d) { return d.MoveBy(1); }, 1, 2, false, false},
      {"move by 10 stops at the last", [](TDataSet& d) { return d.MoveBy(10); }, 3, 5, false, true},
      {"next at the end", [](TDataSet& d) { return d.MoveBy(1); }, 0, 5, false, true},
      {"prior leaves the end", [](TDataSet& d) { return d.MoveBy(-1); }, -1, 4, false, false},
      {"move back past the start", [](TDataSet& d) { return d.MoveBy(-10); }, -3, 1, true, false},
      {"last", run([](TDataSet& d) { d.Last(); }), 0, 5, false, true},
      {"rec no 3", run([](TDataSet& d) { d.SetRecNo(3); }), 0, 3, false, false},
      {"first", run([](TDataSet& d) { d.First(); }), 0, 1, true, false},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(s.op(f.ds), s.moved);
    EXPECT_EQ(f.ds.RecNo(), s.recNo);
    EXPECT_EQ(f.Id(), s.recNo);
    EXPECT_EQ(f.ds.Bof(), s.bof);
    EXPECT_EQ(f.ds.Eof(), s.eof);
  }
  EXPECT_EQ(f.ds.RecordCount(), 5);
  EXPECT_EQ(afterScroll, 7);  // every move but the one at the end
}

TEST(DataSetNavigationTest, EmptyDataSetIsBofAndEof) {
  VectorDataSet ds;
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof() && ds.Eof());
  EXPECT_EQ(ds.MoveBy(1), 0);
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
  EXPECT_THROW(ds.Delete(), EDatabaseError);
}

TEST(DataSetNavigationTest, BookmarksReturnToTheirRecord) {
  FiveRows f;
  f.ds.SetRecNo(4);
  TBookmark four = f.ds.GetBookmark();
  f.ds.First();
  TBookmark one = f.ds.GetBookmark();
  EXPECT_EQ(f.ds.CompareBookmarks(one, four), -1);
  EXPECT_EQ(f.ds.CompareBookmarks(four, four), 0);
  f.ds.GotoBookmark(four);
  EXPECT_EQ(f.Id(), 4);

  f.ds.Delete();  // row 4 goes; its bookmark with it
  EXPECT_EQ(f.Id(), 5);
  EXPECT_FALSE(f.ds.BookmarkValid(four));
  try {
    f.ds.GotoBookmark(four);
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Record not found");
  }
  EXPECT_EQ(f.Id(), 5);
  f.ds.Delete();  // the last row: the prior one becomes current
  EXPECT_EQ(f.Id(), 3);
}

TEST(DataSetPeekTest, PeekShowsOtherRowsAndLeavesTheCurrentOne) {
  FiveRows f;
  f.ds.SetRecNo(2);
  int scrolls = 0;
  f.ds.AfterScroll = [&](TDataSet*) { ++scrolls; };
  auto peek = f.ds.CreatePeekBuffer();
  for (int row : {5, 1, 3, 2}) {
    TDataSet::TPeekScope scope(*peek, row);
    ASSERT_TRUE(scope.Valid());
    EXPECT_EQ(f.ds.RecNo(), row);
    EXPECT_EQ(f.Id(), row);
  }
  EXPECT_FALSE(TDataSet::TPeekScope(*peek, 6).Valid());
  EXPECT_EQ(f.ds.RecNo(), 2);
  EXPECT_EQ(f.Id(), 2);
  EXPECT_EQ(scrolls, 0);
  f.ds.Next();  // the cursor was left on a peeked row: the move starts from the current one
  EXPECT_EQ(f.Id(), 3);

  f.ds.Edit();
  f.ds.FieldByName("Name")->SetAsString("edited");
  {
    TDataSet::TPeekScope other(*peek, 1);
    EXPECT_EQ(f.ds.FieldByName("Name")->AsString(), "r1");
    EXPECT_THROW(f.ds.FieldByName("Name")->SetAsString("x"), EDatabaseError);
    EXPECT_THROW(f.ds.Next(), EDatabaseError);  // the buffers are lent out
    EXPECT_THROW(f.ds.Post(), EDatabaseError);
  }
  {
    TDataSet::TPeekScope current(*peek, 3);
    EXPECT_EQ(f.ds.FieldByName("Name")->AsString(), "edited");
  }
  f.ds.Post();
  EXPECT_EQ(f.ds.NameAt(2), "edited");
  EXPECT_EQ(f.ds.NameAt(0), "r1");
}

TEST(DataSetEditTest, EditPostCancelAndBrowseWrites) {
  FiveRows f;
  TField* name = f.ds.FieldByName("Name");
  try {
    name->SetAsString("x");
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Dataset not in edit or insert mode");
  }
  f.ds.Edit();
  EXPECT_EQ(f.ds.State(), dsEdit);
  name->SetAsString("changed");
  EXPECT_EQ(name->OldValue().AsString(), "r1");
  EXPECT_TRUE(f.ds.Modified());
  f.ds.Post();
  EXPECT_EQ(f.ds.PostCount, 1);
  EXPECT_EQ(f.ds.State(), dsBrowse);
  EXPECT_EQ(f.ds.NameAt(0), "changed");

  f.ds.Edit();
  name->SetAsString("dropped");
  f.ds.Cancel();
  EXPECT_EQ(name->AsString(), "changed");
  EXPECT_EQ(f.ds.PostCount, 1);
  f.ds.Edit();
  f.ds.Next();  // nothing changed: leaving the record cancels
  EXPECT_EQ(f.ds.PostCount, 1);
}

TEST(DataSetEditTest, InsertAppendAndCancelPlaceRecords) {
  FiveRows f;
  f.ds.SetRecNo(3);
  f.ds.Insert();
  EXPECT_TRUE(f.ds.FieldByName("ID")->IsNull());
  f.ds.FieldByName("ID")->SetAsInteger(30);
  {
    auto peek = f.ds.CreatePeekBuffer();  // a grid drawing moves the cursor meanwhile
    TDataSet::TPeekScope scope(*peek, 5);
  }
  f.ds.Post();
  EXPECT_EQ(f.Id(), 30);
  EXPECT_EQ(f.ds.RecNo(), 3);  // before the record that was current

  f.ds.Append();
  f.ds.FieldByName("ID")->SetAsInteger(60);
  f.ds.Post();
  EXPECT_EQ(f.ds.RecNo(), 7);

  f.ds.SetRecNo(2);
  f.ds.Insert();
  f.ds.Cancel();
  EXPECT_EQ(f.Id(), 2);
  EXPECT_EQ(f.ds.RecordCount(), 7);
}

TEST(DataSetEditTest, FailedPostKeepsTheEditAndErrorActionsApply) {
  struct Case {
    const char* name;
    TDataAction action;
    int failures;  // how often the post hook raises
    bool posted;
  };
  const Case cases[] = {
      {"fail", daFail, 1, false}, {"abort", daAbort, 1, false}, {"retry", daRetry, 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FiveRows f;
    int failures = c.failures;
    f.ds.OnInternalPost = [&] {
      if (failures-- > 0) throw EDatabaseError("server refused");
    };
    f.ds.OnPostError = [&](TDataSet*, EDatabaseError&, TDataAction& action) { action = c.action; };
    f.ds.Edit();
    f.ds.FieldByName("Name")->SetAsString("mine");
    if (c.posted) {
      f.ds.Post();
      EXPECT_EQ(f.ds.NameAt(0), "mine");
      continue;
    }
    if (c.action == daAbort)
      EXPECT_THROW(f.ds.Post(), EAbort);
    else
      EXPECT_THROW(f.ds.Post(), EDatabaseError);
    EXPECT_EQ(f.ds.State(), dsEdit);
    EXPECT_EQ(f.ds.FieldByName("Name")->AsString(), "mine");
    EXPECT_EQ(f.ds.NameAt(0), "r1");
  }
}

TEST(DataSetFieldsTest, CalculatedFieldsAndRequiredFields) {
  VectorDataSet ds;
  for (int i = 1; i <= 3; ++i) ds.AddRow(i, "r" + std::to_string(i));
  auto* id = new TIntegerField(&ds);
  id->SetFieldName("ID");
  id->SetRequired(true);
  id->SetDataSet(&ds);
  auto* name = new TStringField(&ds);
  name->SetFieldName("Name");
  name->SetDataSet(&ds);
  auto* twice = new TIntegerField(&ds);
  twice->SetFieldName("Twice");
  twice->SetFieldKind(fkCalculated);
  twice->SetDataSet(&ds);
  ds.OnCalcFields = [&](TDataSet*) {
    if (!id->IsNull()) twice->SetAsInteger(id->AsInteger() * 2);
  };
  ds.Open();
  EXPECT_FALSE(ds.DefaultFields());
  EXPECT_EQ(twice->AsInteger(), 2);
  auto peek = ds.CreatePeekBuffer();
  {
    TDataSet::TPeekScope scope(*peek, 3);
    EXPECT_EQ(twice->AsInteger(), 6);
  }
  ds.Edit();
  id->SetAsInteger(10);
  EXPECT_EQ(twice->AsInteger(), 20);  // recalculated on the change
  EXPECT_THROW(twice->SetAsInteger(1), EDatabaseError);
  ds.Cancel();
  ds.Append();
  try {
    ds.Post();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Field 'ID' must have a value");
  }
  ds.Cancel();
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 3);  // fields made in code outlive the cursor
}

TEST(DataSetFieldsTest, LocateAndLookup) {
  FiveRows f;
  EXPECT_TRUE(f.ds.Locate("Name", Variant("R4"), loCaseInsensitive));
  EXPECT_EQ(f.Id(), 4);
  EXPECT_FALSE(f.ds.Locate("Name", Variant("r"), 0));
  EXPECT_EQ(f.Id(), 4);
  EXPECT_TRUE(f.ds.Locate("ID;Name", {Variant(2), Variant("r")}, loPartialKey));
  EXPECT_EQ(f.Id(), 2);
  std::vector<Variant> found = f.ds.Lookup("ID", {Variant(5)}, "Name");
  EXPECT_EQ(found[0].AsString(), "r5");
  EXPECT_EQ(f.Id(), 2);
  EXPECT_TRUE(f.ds.Lookup("ID", {Variant(9)}, "Name")[0].IsNull());
}

TEST(DataSetFieldsTest, FilterEventHidesRecords) {
  FiveRows f;
  f.ds.SetOnFilterRecord(
      [](TDataSet* d, bool& accept) { accept = d->FieldByName("ID")->AsInteger() % 2 == 1; });
  f.ds.SetFiltered(true);
  std::vector<int> seen;
  for (f.ds.First(); !f.ds.Eof(); f.ds.Next()) seen.push_back(f.Id());
  EXPECT_EQ(seen, (std::vector<int>{1, 3, 5}));
}

// Columns as a cursor may describe them: each with its type and column number.
class DefsDataSet : public VectorDataSet {
 public:
  struct Def {
    std::string Name;
    TFieldType Type;
  };
  std::vector<Def> Defs;

 protected:
  void InternalInitFieldDefs() override {
    int no = 10;
    for (const Def& d : Defs) FieldDefs().Add(d.Name, d.Type)->SetFieldNo(no++);
  }
};

TEST(DataSetFieldsTest, DefaultFieldsBindToTheFirstDefinitionOfTheirName) {
  struct Case {
    const char* Name;
    std::vector<DefsDataSet::Def> Defs;
    std::vector<std::pair<std::string, int>> Fields;  // name, column number; empty: the open fails
  };
  const std::vector<Case> cases = {
      {"distinct",
       {{"ID", ftInteger}, {"Level", ftInteger}, {"Gold", ftInteger}},
       {{"ID", 10}, {"Level", 11}, {"Gold", 12}}},
      {"a name twice in other case",
       {{"ID", ftInteger}, {"id", ftInteger}, {"Gold", ftInteger}},
       {{"ID", 10}, {"Gold", 12}}},
      {"a column without a type first", {{"ID", ftUnknown}, {"id", ftInteger}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    DefsDataSet ds;
    ds.Defs = c.Defs;
    if (c.Fields.empty()) {
      EXPECT_THROW(ds.Open(), EDatabaseError);
      continue;
    }
    ds.Open();
    ASSERT_EQ(ds.Fields().Count(), static_cast<int>(c.Fields.size()));
    for (size_t i = 0; i < c.Fields.size(); ++i) {
      EXPECT_EQ(ds.Fields()[static_cast<int>(i)]->FieldName(), c.Fields[i].first);
      EXPECT_EQ(ds.Fields()[static_cast<int>(i)]->FieldNo(), c.Fields[i].second);
    }
    ds.Close();
    EXPECT_EQ(ds.Fields().Count(), 0);
  }
}

}  // namespace
