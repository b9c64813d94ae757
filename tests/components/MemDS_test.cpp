#include "components/MemDS.h"

#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "MemDSTestSupport.h"
#include "components/MemDSBlob.h"
#include "core/MemFieldValues.h"
#include "platform/db/DataSource.h"
#include "platform/runtime/Charset.h"

namespace {

std::vector<TestColumn> PeopleColumns() {
  return {{"ID", dtInt32, 4}, {"NAME", dtExtString, RefFieldSize, 20}, {"NOTE", dtMemo, RefFieldSize}};
}

// Three people: 1 Ann, 2 Bob, 3 Cid, each with a note.
struct PeopleFixture : ::testing::Test {
  explicit PeopleFixture(bool cached = false) : ds(PeopleColumns()) {
    for (int i = 1; i <= 3; ++i)
      ds.AddRecord({Variant(i),
                    Variant(std::string(i == 1   ? "Ann"
                                        : i == 2 ? "Bob"
                                                 : "Cid")),
                    Variant("note " + std::to_string(i))});
    ds.SetCachedUpdates(cached);
    ds.Open();
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (ds.First(); !ds.Eof(); ds.Next()) names.push_back(ds.FieldByName("NAME")->AsString());
    return names;
  }
  TTestMemDataSet ds;
};

// ---- Type map -------------------------------------------------------------------------------

TEST(MemDataSetTypes, FieldDefinitionsFromDescriptions) {
  const struct {
    TDataType Code;
    uint16_t Size, Length, Scale;
    TFieldType Type;
    int DefSize, Precision;
  } cases[] = {
      {dtUnknown, 4, 0, 0, ftUnknown, 0, 0},
      {dtString, 11, 10, 0, ftString, 10, 0},
      {dtInt8, 1, 3, 0, ftSmallint, 0, 0},
      {dtInt16, 2, 0, 0, ftSmallint, 0, 0},
      {dtInt32, 4, 9, 0, ftInteger, 0, 9},
      {dtFloat, 8, 12, 0, ftFloat, 0, 12},
      {dtDate, 8, 0, 0, ftDate, 0, 0},
      {dtTime, 8, 0, 0, ftTime, 0, 0},
      {dtDateTime, 8, 0, 0, ftDateTime, 0, 0},
      {dtUInt16, 2, 0, 0, ftWord, 0, 0},
      {dtBoolean, 2, 0, 0, ftBoolean, 0, 0},
      {dtInt64, 8, 0, 0, ftLargeint, 0, 0},
      {dtCurrency, 8, 0, 0, ftCurrency, 0, 0},
      {dtBlob, RefFieldSize, 0, 0, ftBlob, 0, 0},
      {dtMemo, RefFieldSize, 0, 0, ftMemo, 0, 0},
      {dtObject, 8, 0, 0, ftADT, 0, 0},
      {dtReference, 8, 0, 0, ftReference, 0, 0},
      {dtArray, 8, 0, 0, ftArray, 0, 0},
      {dtTable, 8, 0, 0, ftDataSet, 0, 0},
      {dtVariant, RefFieldSize, 0, 0, ftVariant, 0, 0},
      {dtExtString, RefFieldSize, 0, 0, ftString, 1, 0},
      {dtBytes, 6, 6, 0, ftBytes, 6, 0},
      {dtVarBytes, 8, 6, 0, ftVarBytes, 6, 0},
      {dtExtVarBytes, RefFieldSize, 6, 0, ftVarBytes, 6, 0},
      {dtUInt32, 4, 0, 0, ftLargeint, 0, 0},
      {dtWideString, 22, 10, 0, ftWideString, 10, 0},
      {dtExtWideString, RefFieldSize, 5, 0, ftWideString, 5, 0},
      {dtBCD, 8, 10, 2, ftBCD, 2, 10},
      {dtFmtBCD, 34, 20, 4, ftFMTBcd, 4, 20},
      {dtGuid, 39, 38, 0, ftGuid, 38, 0},
      {dtWideMemo, RefFieldSize, 0, 0, ftMemo, 0, 0},
  };
  std::vector<TestColumn> columns;
  for (const auto& c : cases) {
    columns.push_back({"F" + std::to_string(c.Code), c.Code, c.Size, c.Length, c.Scale, nullptr});
  }
  columns.push_back(
      {"RO", dtInt32, 4, 0, 0, [](TFieldDesc& f) { f.ReadOnly = f.Hidden = f.Required = true; }});
  columns.push_back({"FX", dtString, 5, 4, 0, [](TFieldDesc& f) { f.Fixed = f.Required = true; }});
  columns.push_back({"CALC", dtInt32, 4, 0, 0, [](TFieldDesc& f) { f.FieldDescKind = fdkCalculated; }});
  columns.push_back({"ATTR", dtInt32, 4, 0, 0, [](TFieldDesc& f) { f.HiddenObject = true; }});
  TTestMemDataSet ds(columns);
  ds.IRecordSet().Open();
  ds.FieldDefs().Update();
  TFieldDefs& defs = ds.FieldDefs();
  ASSERT_EQ(defs.Count(), static_cast<int>(std::size(cases)) - 1 + 2);  // unknown, calculated, hidden out
  for (const auto& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.Code));
    EXPECT_EQ(ds.GetFieldType(c.Code), c.Type);
    const int i = defs.IndexOf("F" + std::to_string(c.Code));
    if (c.Type == ftUnknown) {
      EXPECT_EQ(i, -1);
      continue;
    }
    ASSERT_GE(i, 0);
    EXPECT_EQ(defs[i]->DataType(), c.Type);
    EXPECT_EQ(defs[i]->Size(), c.DefSize);
    EXPECT_EQ(defs[i]->Precision(), c.Precision);
    EXPECT_EQ(defs[i]->FieldNo(), c.Code + 1);
    EXPECT_EQ(defs[i]->Attributes(), 0);
  }
  TFieldDef* ro = defs.Find("RO");
  EXPECT_EQ(ro->Attributes(), faReadonly | faHiddenCol | faRequired);
  TFieldDef* fx = defs.Find("FX");
  EXPECT_EQ(fx->Attributes(), faFixed | faRequired);
  EXPECT_EQ(fx->FieldNo(), static_cast<int>(std::size(cases)) + 2);
  // The unsigned 64-bit and microsecond codes, and a code without a field type.
  EXPECT_EQ(ds.GetFieldType(31), ftLargeUInt);
  EXPECT_EQ(ds.GetFieldType(32), ftDateTimeUs);
  EXPECT_EQ(ds.GetFieldType(33), ftTimeUs);
  EXPECT_EQ(TMemDataSet::GetDataType(ftLargeUInt), 31);
  EXPECT_EQ(TMemDataSet::GetDataType(ftGraphic), dtUnknown);
  TFieldDesc us;
  us.Scale = 3;
  EXPECT_EQ(ds.GetFieldDefSize(ftDateTimeUs, us), 3);
  EXPECT_THROW(ds.GetFieldType(40), EAssertionFailed);
  // Without the required-fields switch nothing is required.
  ds.SetRequiredFields(false);
  ds.FieldDefs().Updated = false;
  ds.FieldDefs().Update();
  EXPECT_EQ(ds.FieldDefs().Find("FX")->Attributes(), faFixed);
}

// A cursor opened again keeps its definitions only while they are those its columns give now.
TEST(MemDataSetTypes, DefinitionsOfAReopenedCursorAreThoseOfItsColumnsNow) {
  using TDefs = std::vector<std::tuple<std::string, TFieldType, int, int, TFieldAttributes, int>>;
  auto defsOf = [](TMemDataSet& ds) {
    TDefs defs;
    for (int i = 0; i < ds.FieldDefs().Count(); ++i) {
      const TFieldDef* d = ds.FieldDefs()[i];
      defs.emplace_back(d->Name(), d->DataType(), d->Size(), d->Precision(), d->Attributes(), d->FieldNo());
    }
    return defs;
  };
  const std::vector<TestColumn> columns = {
      {"id", dtInt32, 4, 9},
      {"name", dtString, 11, 10},
      {"price", dtBCD, 8, 10, 2},
      {"calc", dtInt32, 4, 0, 0, [](TFieldDesc& f) { f.FieldDescKind = fdkCalculated; }},
      {"note", dtString, 5, 4, 0, [](TFieldDesc& f) { f.Required = true; }}};
  const struct {
    const char* Name;
    std::function<void(std::vector<TestColumn>&)> Change;
    std::function<void(TTestMemDataSet&)> Between;
  } cases[] = {
      {"the same columns", nullptr, nullptr},
      {"a name in another case", [](auto& c) { c[1].Name = "NAME"; }, nullptr},
      {"another type",
       [](auto& c) {
         c[0].Type = dtInt64;
         c[0].Size = 8;
       },
       nullptr},
      {"another length",
       [](auto& c) {
         c[1].Length = 12;
         c[1].Size = 13;
       },
       nullptr},
      {"another scale", [](auto& c) { c[2].Scale = 3; }, nullptr},
      {"a read-only column", [](auto& c) { c[0].Adjust = [](TFieldDesc& f) { f.ReadOnly = true; }; },
       nullptr},
      {"a column more",
       [](auto& c) {
         c.push_back({"extra", dtInt16, 2});
       },
       nullptr},
      {"a column less", [](auto& c) { c.erase(c.begin() + 1); }, nullptr},
      {"required fields off", nullptr, [](TTestMemDataSet& ds) { ds.SetRequiredFields(false); }},
      {"a definition changed while closed", nullptr,
       [](TTestMemDataSet& ds) { ds.FieldDefs()[1]->SetSize(40); }},
      {"a definition added while closed", nullptr,
       [](TTestMemDataSet& ds) { ds.FieldDefs().Add("x", ftInteger); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTestMemDataSet ds(columns);
    ds.Open();
    ds.Close();
    auto& rs = static_cast<TTestMemData&>(ds.IRecordSet());
    if (c.Change) c.Change(rs.Columns());
    if (c.Between) c.Between(ds);
    ds.Open();
    TTestMemDataSet fresh(rs.Columns());
    fresh.SetRequiredFields(ds.RequiredFields());
    fresh.Open();
    EXPECT_EQ(defsOf(ds), defsOf(fresh));
    EXPECT_TRUE(ds.FieldDefs().Updated);
    ASSERT_EQ(ds.FieldCount(), fresh.FieldCount());
    for (int i = 0; i < ds.FieldCount(); ++i)
      EXPECT_EQ(ds.Fields()[i]->FieldName(), fresh.Fields()[i]->FieldName());
  }
}

// Every scalar type put into the record store reads back through the field's typed getters.
TEST(MemDataSetTypes, ScalarValuesReadBackThroughFields) {
  const TDateTime date = EncodeDate(2024, 2, 29);
  const TDateTime time = EncodeTime(13, 14, 15, 500);
  const TDateTime stamp = EncodeDateTime(1, 1, 1, 0, 0, 1, 0);
  const struct {
    TestColumn Column;
    Variant Value;
    std::string Text;
  } cases[] = {
      {{"S", dtString, 11, 10}, Variant(std::string("abc")), "abc"},
      {{"I8", dtInt8, 1}, Variant(static_cast<int8_t>(-100)), "-100"},
      {{"I16", dtInt16, 2}, Variant(static_cast<int16_t>(-30000)), "-30000"},
      {{"I32", dtInt32, 4}, Variant(-2000000000), "-2000000000"},
      {{"F", dtFloat, 8}, Variant(2.5), "2.5"},
      {{"D", dtDate, 8}, Variant::FromDateTime(date), "2024-02-29"},
      {{"T", dtTime, 8}, Variant::FromDateTime(time), "13:14:15"},
      {{"DT", dtDateTime, 8}, Variant::FromDateTime(stamp), "0001-01-01 00:00:01"},
      {{"W", dtUInt16, 2}, Variant(static_cast<uint16_t>(65535)), "65535"},
      {{"B", dtBoolean, 2}, Variant(true), "True"},
      {{"L", dtInt64, 8}, Variant(static_cast<long long>(-9000000000000000000LL)), "-9000000000000000000"},
      {{"C", dtCurrency, 8}, Variant(12.25), "12.25"},
      {{"X", dtExtString, RefFieldSize, 10}, Variant(std::string("heap")), "heap"},
      {{"U32", dtUInt32, 4}, Variant(static_cast<uint32_t>(4000000000u)), "4000000000"},
      {{"WS", dtWideString, 22, 10}, Variant(std::u16string(u"wide")), "wide"},
      {{"BCD", dtBCD, 8, 10, 2}, Variant(Currency::FromScaled(123456)), "12.3456"},
  };
  std::vector<TestColumn> columns;
  std::vector<Variant> values;
  for (const auto& c : cases) {
    columns.push_back(c.Column);
    values.push_back(c.Value);
  }
  TTestMemDataSet ds(columns);
  ds.AddRecord(values);
  ds.Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Column.Name);
    EXPECT_EQ(ds.FieldByName(c.Column.Name)->AsString(), c.Text);
  }
  EXPECT_EQ(ds.FieldByName("I8")->AsInteger(), -100);
  EXPECT_DOUBLE_EQ(ds.FieldByName("D")->AsDateTime(), date);
  EXPECT_NEAR(ds.FieldByName("T")->AsDateTime(), time, 1e-9);
  EXPECT_NEAR(ds.FieldByName("DT")->AsDateTime(), stamp, 1e-9);
  EXPECT_EQ(ds.FieldByName("U32")->AsLargeInt(), 4000000000LL);
  EXPECT_EQ(ds.FieldByName("BCD")->AsCurrency().Scaled, 123456);
  // And written back through the fields into the record store.
  ds.Edit();
  ds.FieldByName("D")->SetAsDateTime(EncodeDate(1999, 12, 31));
  ds.FieldByName("I8")->SetAsInteger(7);
  ds.Post();
  Variant stored = ds.IRecordSet().GetFieldAsVariant(6, ds.CurrentRecBuf());
  EXPECT_DOUBLE_EQ(stored.AsDateTime(), EncodeDate(1999, 12, 31));
  EXPECT_EQ(ds.FieldByName("I8")->AsInteger(), 7);
  ds.Edit();
  EXPECT_THROW(ds.FieldByName("I8")->SetAsInteger(300), Exception);
  ds.Cancel();
}

// Object and array columns describe their parts as child definitions, nested types included.
TEST(MemDataSetTypes, ObjectColumnsGetChildDefinitions) {
  auto* point = new TObjectType("POINT", {{"X", dtInt32, 9, 0, 4}, {"Y", dtFloat, 15, 0, 8}});
  auto* shape = new TObjectType(
      "SHAPE", {{"NAME", dtString, 20, 0, 21}, {"AT", dtObject, 0, 0, 0, point}, {"RAW", dtBytes, 4, 0, 4}});
  point->Release();  // the shape holds it now
  TTestMemDataSet ds({{"ID", dtInt32, 4},
                      {"S", dtObject, RefFieldSize, 0, 0, [&](TFieldDesc& d) { d.SetObjectType(shape); }},
                      {"L", dtArray, RefFieldSize, 0, 0, [&](TFieldDesc& d) { d.SetObjectType(point); }}});
  ds.IRecordSet().Open();
  ds.InitFieldDefs();
  shape->Release();
  auto describe = [](TFieldDefs& defs) {
    std::string text;
    for (int i = 0; i < defs.Count(); ++i)
      text += defs[i]->Name() + ":" + FieldTypeName(defs[i]->DataType()) + "/" +
              std::to_string(defs[i]->Size()) + "/" + std::to_string(defs[i]->Precision()) + " ";
    return text;
  };
  TFieldDefs& defs = ds.FieldDefs();
  ASSERT_EQ(defs.Count(), 3);
  EXPECT_FALSE(defs[0]->HasChildDefs());
  ASSERT_TRUE(defs[1]->HasChildDefs());
  EXPECT_EQ(describe(defs[1]->ChildDefs()), "NAME:String/20/0 AT:ADT/0/0 RAW:Bytes/4/0 ");
  EXPECT_EQ(describe(defs[1]->ChildDefs()[1]->ChildDefs()), "X:Integer/0/9 Y:Float/0/15 ");
  EXPECT_EQ(describe(defs[2]->ChildDefs()), "X:Integer/0/9 Y:Float/0/15 ");
}

// ---- Reading, bookmarks, peeks and references ------------------------------------------------

TEST_F(PeopleFixture, BookmarksPeeksDeletesAndReopen) {
  EXPECT_EQ(Names(), (std::vector<std::string>{"Ann", "Bob", "Cid"}));
  ds.First();
  ds.Next();
  TBookmark bob = ds.GetBookmark();
  ds.Last();
  EXPECT_EQ(ds.RecNo(), 3);
  ds.GotoBookmark(bob);
  EXPECT_EQ(ds.FieldByName("NOTE")->AsString(), "note 2");
  EXPECT_EQ(ds.RecNo(), 2);
  {
    auto peek = ds.CreatePeekBuffer();
    TDataSet::TPeekScope scope(*peek, 3);
    ASSERT_TRUE(scope.Valid());
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Cid");
    EXPECT_EQ(ds.FieldByName("NOTE")->AsString(), "note 3");
  }
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Bob");
  // A peek buffer still showing a record that is then deleted keeps its values alive.
  auto peek = ds.CreatePeekBuffer();
  { TDataSet::TPeekScope scope(*peek, 1); }
  ds.First();
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Bob");
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_FALSE(ds.BookmarkValid(TBookmark(5, 0)));
  ds.GotoBookmark(bob);
  ds.Delete();
  // The record is gone: the bookmark falls back to its record number, beyond the last now.
  ds.GotoBookmark(bob);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Cid"}));
  ds.Close();
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  peek.reset();
}

TEST_F(PeopleFixture, RecordNumbersAndSorting) {
  ds.SetIndexFieldNames("NAME DESC");
  EXPECT_EQ(Names(), (std::vector<std::string>{"Cid", "Bob", "Ann"}));
  ds.SetRecNo(2);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
  EXPECT_EQ(ds.RecordCount(), 3);
}

// ---- Editing and server operations ------------------------------------------------------------

TEST_F(PeopleFixture, PostAndDeleteCallTheServerOperations) {
  ds.First();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Anna");
  ds.FieldByName("NOTE")->SetAsString("changed");
  ds.Post();
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(4);
  ds.FieldByName("NAME")->SetAsString("Dan");
  ds.Post();
  ds.Delete();
  EXPECT_EQ(ds.Log, (std::vector<std::string>{"update 1", "append 4", "delete 4"}));
  EXPECT_EQ(Names(), (std::vector<std::string>{"Anna", "Bob", "Cid"}));
  ds.First();
  EXPECT_EQ(ds.FieldByName("NOTE")->AsString(), "changed");
}

TEST_F(PeopleFixture, FailingServerOperationLeavesStoreAndEditState) {
  ds.OnPerform = [](const std::string&) { throw EDatabaseError("server refused"); };
  const struct {
    const char* Name;
    std::function<void()> Start;
    TDataSetState State;
  } cases[] = {
      {"update", [&] { ds.Edit(); }, dsEdit},
      {"insert", [&] { ds.Insert(); }, dsInsert},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ds.First();
    c.Start();
    ds.FieldByName("ID")->SetAsInteger(9);
    ds.FieldByName("NAME")->SetAsString("Zed");
    ds.FieldByName("NOTE")->SetAsString("user note");
    EXPECT_THROW(ds.Post(), EDatabaseError);
    EXPECT_EQ(ds.State(), c.State);
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Zed");
    EXPECT_EQ(ds.FieldByName("NOTE")->AsString(), "user note");
    ds.Cancel();
    EXPECT_EQ(Names(), (std::vector<std::string>{"Ann", "Bob", "Cid"}));
    ds.First();
    EXPECT_EQ(ds.FieldByName("NOTE")->AsString(), "note 1");
  }
  ds.First();
  EXPECT_THROW(ds.Delete(), EDatabaseError);
  EXPECT_EQ(ds.RecordCount(), 3);
}

TEST_F(PeopleFixture, OldValueShowsTheStoredRecordWhileEditing) {
  ds.First();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Anna");
  EXPECT_EQ(ds.FieldByName("NAME")->OldValue().AsString(), "Ann");
  ds.Cancel();
}

// A written blob stream does not leave the field writable once the record was posted, cancelled
// or left.
TEST_F(PeopleFixture, BlobStreamWritableOnlyWhileEditing) {
  auto* note = static_cast<TBlobField*>(ds.FieldByName("NOTE"));
  const struct {
    const char* Name;
    std::function<void()> End;
  } cases[] = {
      {"post", [&] { ds.Post(); }},
      {"cancel", [&] { ds.Cancel(); }},
      {"bookmark",
       [&] {
         TBookmark b = ds.GetBookmark();
         ds.Post();
         ds.GotoBookmark(b);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ds.First();
    ds.Edit();
    { TBlobStream s(note, bmWrite); }  // even without writing, the value is emptied to ''
    EXPECT_FALSE(note->IsNull());
    EXPECT_EQ(note->AsString(), "");
    EXPECT_TRUE(note->Modified);
    c.End();
    EXPECT_FALSE(note->Modified);
    EXPECT_THROW(TBlobStream(note, bmWrite), EDatabaseError);
  }
  ds.Next();
  TBlobStream read(note, bmRead);
  EXPECT_EQ(read.Size(), std::string("note 2").size());
}

// ---- Cached updates ---------------------------------------------------------------------------

struct CachedFixture : PeopleFixture {
  CachedFixture() : PeopleFixture(true) {}
  // Modifies Bob, inserts Dan, deletes Ann: first changes in that order.
  void MakeChanges() {
    ds.Locate("ID", Variant(2));
    ds.Edit();
    ds.FieldByName("NAME")->SetAsString("Bobby");
    ds.Post();
    ds.Append();
    ds.FieldByName("ID")->SetAsInteger(4);
    ds.FieldByName("NAME")->SetAsString("Dan");
    ds.Post();
    ds.Locate("ID", Variant(1));
    ds.Delete();
    ds.Locate("ID", Variant(2));
    ds.Edit();
    ds.FieldByName("NAME")->SetAsString("Robert");
    ds.Post();
  }
};

TEST_F(CachedFixture, ApplyInOrderOfFirstChange) {
  MakeChanges();
  EXPECT_TRUE(ds.Log.empty());
  EXPECT_TRUE(ds.UpdatesPending());
  ds.ApplyUpdates();
  EXPECT_EQ(ds.Log, (std::vector<std::string>{"update 2", "append 4", "delete 1"}));
  EXPECT_FALSE(ds.UpdatesPending());
  ds.CommitUpdates();
  EXPECT_EQ(Names(), (std::vector<std::string>{"Robert", "Cid", "Dan"}));
  ds.First();
  EXPECT_EQ(ds.UpdateStatus(), isUnmodified);
}

TEST_F(CachedFixture, EventAnswersSkipAbortAndDefault) {
  MakeChanges();
  std::vector<std::string> asked;
  ds.OnUpdateRecord = [&](TDataSet*, TUpdateKind kind, TUpdateAction& action) {
    asked.push_back(std::to_string(kind));
    action = kind == ukModify   ? uaSkip
             : kind == ukInsert ? static_cast<TUpdateAction>(UpdateActionDefault)
                                : uaAbort;
  };
  ds.ApplyUpdates();  // the abort ends it silently
  EXPECT_EQ(asked, (std::vector<std::string>{"0", "1", "2"}));
  EXPECT_EQ(ds.Log, (std::vector<std::string>{"append 4"}));
  EXPECT_TRUE(ds.UpdatesPending());
  ds.CancelUpdates();
  EXPECT_EQ(Names(), (std::vector<std::string>{"Ann", "Bob", "Cid"}));
  EXPECT_THROW(ds.SetCachedUpdates(false), EDatabaseError);  // open
}

// A field reads the record an operation lends it (a Lookup's match, the change an apply writes,
// the old record of an edit), not the record the cursor shows.
TEST_F(CachedFixture, FieldsReadTheRecordLentToThemNotTheCurrentOne) {
  auto idAndName = [&] {
    return ds.FieldByName("ID")->AsString() + " " + ds.FieldByName("NAME")->AsString();
  };
  const struct {
    const char* Name;
    std::function<std::string()> Read;
    const char* Expected;
  } cases[] = {
      {"lookup",
       [&] {
         const std::vector<Variant> v = ds.Lookup("ID", {Variant(1)}, "ID;NAME");
         return v.at(0).AsString() + " " + v.at(1).AsString();
       },
       "1 Ann"},
      {"apply",
       [&] {
         ds.Locate("ID", Variant(1));
         ds.Edit();
         ds.FieldByName("NAME")->SetAsString("Anna");
         ds.Post();
         ds.Locate("ID", Variant(3));
         std::string read;
         ds.OnUpdateRecord = [&](TDataSet*, TUpdateKind, TUpdateAction& action) {
           read = idAndName();
           action = uaApplied;
         };
         ds.ApplyUpdates();
         ds.CommitUpdates();
         ds.OnUpdateRecord = nullptr;
         return read;
       },
       "1 Anna"},
      {"old value",
       [&] {
         ds.Locate("ID", Variant(2));
         ds.Edit();
         ds.FieldByName("NAME")->SetAsString("Bobby");
         const std::string old = ds.FieldByName("NAME")->OldValue().AsString();
         ds.Cancel();
         ds.Locate("ID", Variant(3));
         return old;
       },
       "Bob"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ds.Locate("ID", Variant(3));
    EXPECT_EQ(c.Read(), c.Expected);
    EXPECT_EQ(idAndName(), "3 Cid");  // and the current record reads as itself again
  }
}

namespace {

// A record store whose line-end switch a test turns, as a connection's option does.
class TEolMemData : public TTestMemData {
 public:
  using TTestMemData::TTestMemData;
  bool ConvertEOL = false;
  bool GetConvertEOL() const override { return ConvertEOL; }
};

}  // namespace

// Text fields expand LF to CR LF whenever the record store asks for it at the time of the read.
TEST(MemDataSetReads, TextLineEndsAsTheRecordStoreAsksAtEachRead) {
  TTestMemDataSet ds({});
  auto store = std::make_unique<TEolMemData>(std::vector<TestColumn>{{"PAD", dtString, 3, 2},
                                                                     {"ID", dtInt32, 4},
                                                                     {"S", dtString, 11, 10},
                                                                     {"X", dtExtString, RefFieldSize, 10}});
  TEolMemData& rs = *store;
  ds.ReplaceRecordSet(std::move(store));
  ds.AddRecord(
      {Variant(std::string("p")), Variant(7), Variant(std::string("a\nb")), Variant(std::string("c\nd"))});
  ds.Open();
  const struct {
    bool Convert;
    const char *S, *X;
  } eol[] = {{false, "a\nb", "c\nd"}, {true, "a\r\nb", "c\r\nd"}, {false, "a\nb", "c\nd"}};
  for (const auto& c : eol) {
    SCOPED_TRACE(c.Convert);
    rs.ConvertEOL = c.Convert;
    EXPECT_EQ(ds.FieldByName("S")->AsString(), c.S);
    EXPECT_EQ(ds.FieldByName("X")->AsString(), c.X);
  }
}

TEST_F(CachedFixture, InsertThenDeleteLeavesNothingToApply) {
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(7);
  ds.Post();
  EXPECT_EQ(ds.UpdateStatus(), isInserted);
  ds.Delete();
  EXPECT_FALSE(ds.UpdatesPending());
  ds.ApplyUpdates();
  EXPECT_TRUE(ds.Log.empty());
  EXPECT_EQ(ds.RecordCount(), 3);
}

// A blob changed under cached updates keeps its old value for the old-value state and Cancel.
TEST_F(CachedFixture, BlobChangesAreKeptUntilCancelled) {
  ds.First();
  ds.Edit();
  ds.FieldByName("NOTE")->SetAsString("new note");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("NOTE")->AsString(), "new note");
  EXPECT_EQ(ds.UpdateStatus(), isModified);
  ds.Edit();
  ds.FieldByName("NOTE")->SetAsString("again");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("NOTE")->AsString(), "new note");
  ds.CancelUpdates();
  ds.First();
  EXPECT_EQ(ds.FieldByName("NOTE")->AsString(), "note 1");
}

TEST_F(PeopleFixture, CachedOperationsOutsideCachedMode) {
  EXPECT_THROW(ds.ApplyUpdates(), EDatabaseError);
  EXPECT_THROW(ds.CancelUpdates(), EDatabaseError);
  EXPECT_EQ(ds.UpdateStatus(), isUnmodified);
}

// ---- Filters and Locate -----------------------------------------------------------------------

TEST_F(PeopleFixture, FilterEventAndFind) {
  ds.SetOnFilterRecord([](TDataSet* d, bool& accept) { accept = d->FieldByName("ID")->AsInteger() != 2; });
  EXPECT_EQ(Names().size(), 3u);  // not filtered yet
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1);
  EXPECT_TRUE(ds.FindNext());
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);
  EXPECT_FALSE(ds.FindNext());
  ds.SetFiltered(true);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Ann", "Cid"}));
  ds.SetOnFilterRecord(nullptr);
  ds.SetFilterText("   ");
  EXPECT_EQ(Names().size(), 3u);
}

// With the key leading the sort, Locate searches binarily; nulls sort first there as well.
TEST(MemDataSetLocate, BinarySearchFindsFirstOfEqualAndOrdersNulls) {
  TTestMemDataSet ds({{"ID", dtInt32, 4}, {"K", dtInt32, 4}});
  const Variant keys[] = {Variant(5), Variant::Null(), Variant(3), Variant(5), Variant::Null(), Variant(1)};
  for (int i = 0; i < 6; ++i) ds.AddRecord({Variant(i + 1), keys[i]});
  ds.Open();
  const struct {
    const char* Index;
    Variant Key;
    int Id;  // 0: not found
  } cases[] = {
      {"K", Variant(5), 1},      {"K", Variant(1), 6},      {"K", Variant(3), 3},
      {"K", Variant(4), 0},      {"K", Variant::Null(), 2}, {"K DESC", Variant(5), 1},
      {"K DESC", Variant(1), 6}, {"", Variant(1), 6},       {"K;ID", Variant(5), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Index) + " " + VarToStr(c.Key));
    ds.SetIndexFieldNames(c.Index);
    ds.Last();
    const bool found = ds.Locate("K", c.Key);
    EXPECT_EQ(found, c.Id != 0);
    if (found)
      EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), c.Id);
    else
      EXPECT_EQ(ds.RecNo(), 6);
  }
  ds.SetIndexFieldNames("K");
  EXPECT_TRUE(ds.Locate("K;ID", {Variant(5), Variant(4)}, 0));
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 4);
  EXPECT_EQ(ds.Lookup("K", {Variant(3)}, "ID")[0].AsInteger(), 3);
}

TEST_F(PeopleFixture, LocateOptions) {
  EXPECT_TRUE(ds.Locate("NAME", Variant(std::string("bo")), loCaseInsensitive | loPartialKey));
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
  EXPECT_FALSE(ds.Locate("NAME", Variant(std::string("bob")), 0));
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
  EXPECT_TRUE(ds.Lookup("ID", {Variant(9)}, "NAME")[0].IsNull());
}

// A calculated key is searched from the current record in the direction asked, as a data key is.
TEST(MemDataSetLocate, DirectionalOnCalculatedKey) {
  TTestMemDataSet ds({{"ID", dtInt32, 4}, {"K", dtInt32, 4}});
  ds.RecordSetCalcFields = false;
  for (const char* name : {"ID", "K"}) {
    auto* f = new TIntegerField(&ds);
    f->SetFieldName(name);
    f->SetDataSet(&ds);
  }
  auto* calc = new TIntegerField(&ds);
  calc->SetFieldName("C");
  calc->SetFieldKind(fkCalculated);
  calc->SetDataSet(&ds);
  ds.OnCalcFields = [](TDataSet* d) { d->FieldByName("C")->SetAsInteger(d->FieldByName("K")->AsInteger()); };
  for (int i = 1; i <= 5; ++i) ds.AddRecord({Variant(i), Variant(i % 2 == 1 ? 7 : 0)});
  ds.Open();
  const struct {
    int From;
    TLocateOptions Options;
    int Id;  // 0: not found (the cursor stays)
  } cases[] = {
      {5, TMemDataSet::loLocateForward, 0},  {3, TMemDataSet::loLocateForward, 5},
      {3, TMemDataSet::loLocateBackward, 1}, {1, TMemDataSet::loLocateBackward, 0},
      {2, TMemDataSet::loLocateBackward, 1}, {5, 0, 1},
  };
  for (const auto& c : cases) {
    for (const char* key : {"K", "C"}) {
      SCOPED_TRACE(std::string(key) + " from " + std::to_string(c.From) + " options " +
                   std::to_string(c.Options));
      ds.SetRecNo(c.From);
      const bool found = ds.Locate(key, {Variant(7)}, c.Options);
      EXPECT_EQ(found, c.Id != 0);
      EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), found ? c.Id : c.From);
    }
  }
}

// Calculated fields described to the record set: it sorts and filters by them.
TEST(MemDataSetCalc, RecordSetSortsAndFiltersByCalculatedFields) {
  for (bool inRecordSet : {true, false}) {
    SCOPED_TRACE(inRecordSet);
    TTestMemDataSet ds({{"ID", dtInt32, 4}});
    ds.RecordSetCalcFields = inRecordSet;
    auto* id = new TIntegerField(&ds);
    id->SetFieldName("ID");
    id->SetDataSet(&ds);
    auto* doubled = new TIntegerField(&ds);
    doubled->SetFieldName("DOUBLED");
    doubled->SetFieldKind(fkCalculated);
    doubled->SetDataSet(&ds);
    ds.OnCalcFields = [](TDataSet* d) {
      d->FieldByName("DOUBLED")->SetAsInteger(d->FieldByName("ID")->AsInteger() * 2);
    };
    for (int i = 1; i <= 3; ++i) ds.AddRecord({Variant(i)});
    ds.Open();
    ds.Last();
    EXPECT_EQ(doubled->AsInteger(), 6);
    EXPECT_EQ(ds.GetFieldDesc(doubled) != nullptr, inRecordSet);
    if (!inRecordSet) continue;
    ds.SetIndexFieldNames("DOUBLED DESC");
    ds.First();
    EXPECT_EQ(id->AsInteger(), 3);
    ds.SetFilterText("DOUBLED > 2");
    ds.SetFiltered(true);
    EXPECT_EQ(ds.RecordCount(), 2);
    ds.Last();
    EXPECT_EQ(id->AsInteger(), 2);
  }
}

// ---- Number ranges and the master's scroll ------------------------------------------------------

TEST(MemDataSetRanges, PrecisionRangesComputedIn64BitsAndClamped) {
  const struct {
    TDataType Type;
    uint16_t Length;
    int64_t Max;
  } cases[] = {{dtInt32, 5, 99999}, {dtInt32, 10, 2147483647}, {dtInt32, 12, 2147483647}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Length);
    TTestMemDataSet ds({{"N", c.Type, 4, c.Length}});
    ds.NumberRange = true;
    ds.Open();
    auto* f = static_cast<TIntegerField*>(ds.FieldByName("N"));
    EXPECT_EQ(f->MaxValue, c.Max);
    EXPECT_EQ(f->MinValue, -c.Max);
  }
  TTestMemDataSet ds({{"F", dtFloat, 8, 3}});
  ds.NumberRange = true;
  ds.Open();
  EXPECT_EQ(static_cast<TFloatField*>(ds.FieldByName("F"))->MaxValue, 999.0);
}

TEST(MemDataSetDetail, ParentScrollComparesWholeBookmarks) {
  TTestMemDataSet master({{"ID", dtInt32, 4}});
  TTestMemDataSet detail({{"ID", dtInt32, 4}});
  for (int i = 1; i <= 3; ++i) {
    master.AddRecord({Variant(i)});
    detail.AddRecord({Variant(i)});
  }
  master.Open();
  detail.Open();
  TDataSource source;
  source.SetDataSet(&master);
  detail.MasterSource = &source;
  detail.DataEvent(deParentScroll, 0);  // the master's first record
  detail.Last();
  detail.DataEvent(deParentScroll, 0);  // the same record: stays
  EXPECT_EQ(detail.RecNo(), 3);
  master.Next();
  detail.DataEvent(deParentScroll, 0);
  EXPECT_EQ(detail.RecNo(), 1);
}

// ---- XML --------------------------------------------------------------------------------------

TEST(MemDataSetXml, TypeAttributesOfAMemo) {
  TTestMemDataSet ds({{"M", dtMemo, RefFieldSize}});
  ds.Open();
  XmlTextWriter w;
  w.WriteStartElement("s:AttributeType");
  ds.WriteFieldXMLDataType(ds.FieldByName("M"), *ds.GetFieldDesc(ds.FieldByName("M")), w);
  w.WriteEndElement();
  EXPECT_EQ(w.Text(),
            "<s:AttributeType dt:type=\"string\" dt:maxLength=\"2147483647\" rs:dbtype=\"str\" "
            "rs:long=\"true\"></s:AttributeType>");
}

TEST(MemDataSetXml, ValueTextsUnderCommaLocaleAndGbkEscaping) {
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is missing: scripts/install-deps generates it";
  TTestMemDataSet ds({{"F", dtFloat, 8},
                      {"C", dtCurrency, 8},
                      {"DT", dtDateTime, 8},
                      {"S", dtString, 21, 20},
                      {"B", dtBytes, 2, 2},
                      {"Y", dtBoolean, 2}});
  const std::string gbk = "\xD6\xD0<&>";  // a GBK character and markup
  ds.AddRecord({Variant(1.5), Variant(2.25), Variant::FromDateTime(EncodeDateTime(2006, 3, 4, 5, 6, 7, 890)),
                Variant(gbk), Variant::FromBytes(std::vector<uint8_t>{0xAB, 0x01}), Variant(false)});
  ds.Open();
  const struct {
    const char* Field;
    std::string Text;
  } cases[] = {{"F", "1.5"},
               {"C", "2.25"},
               {"DT", "2006-03-04T05:06:07"},
               {"S", WideToUtf8(u"\u4E2D") + "&#x3c;&#x26;&#x3e;"},
               {"B", "AB01"},
               {"Y", "False"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Field);
    std::string text;
    TField* f = ds.FieldByName(c.Field);
    ds.WriteXMLData(f, *ds.GetFieldDesc(f), text);
    EXPECT_EQ(text, c.Text);
  }
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
