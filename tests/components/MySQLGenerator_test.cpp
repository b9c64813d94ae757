// The statement generators driven through a small host over a real record store: the texts of
// every statement kind, the parameters they make and where their placeholders stand, and the MySQL
// key choice from the server's column flags.
#include "components/MySQLGenerator.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/DBAccessParams.h"
#include "core/MemDataStore.h"
#include "mysql/MyClasses.h"
#include "mysql/MyFieldValues.h"
#include "mysql/MyTableInfo.h"
#include "platform/db/Fields.h"
#include "platform/runtime/Exceptions.h"

namespace {

struct Col {
  std::string Name;
  TDataType Type;
  uint8_t MySQLType;
  bool Primary = false;
};

class TGenData : public TMemData {
 public:
  TGenData(std::vector<Col> cols, TCRTableInfo* table) : FCols(std::move(cols)), FTable(table) {}
  ~TGenData() override { Close(); }
  TFieldDescClass GetFieldDescType() const override { return &CreateFieldDescOf<TMySQLFieldDesc>; }

 protected:
  void InternalOpen() override { InitFields(); }
  void InternalInitFields() override {
    for (const Col& c : FCols) {
      const bool blob = c.Type == dtMemo || c.Type == dtBlob;
      const uint16_t size = c.Type == dtString ? 21 : blob ? RefFieldSize : 8;
      auto& f =
          static_cast<TMySQLFieldDesc&>(AddFieldDesc(c.Name, c.Type, size, c.Type == dtString ? 20 : 0));
      f.ActualName = c.Name;
      f.MySQLType = c.MySQLType;
      f.IsPrimaryKey = c.Primary;
      f.TableInfo = FTable;
    }
  }

 private:
  std::vector<Col> FCols;
  TCRTableInfo* FTable;
};

// The dataset side: settings, the record store with an old and a new record, and one field per
// column.
class TTestHost : public IDASQLGeneratorHost {
 public:
  explicit TTestHost(std::vector<Col> cols) : FTables(TMyTableInfo::Class()) {
    Table = FTables.Add();
    Table->SetTableName("t");
    Data = std::make_unique<TGenData>(std::move(cols), Table);
    Data->Open();
    OldBuf = NewRecord();
    NewBuf = NewRecord();
    for (int i = 0; i < Data->Fields().Count(); ++i) FFields.push_back(std::make_unique<TField>());
    S.Active = true;
  }
  ~TTestHost() override {
    for (void* buf : {OldBuf, NewBuf}) {
      Data->FreeComplexFields(buf, true);
      TData::FreeRecBuf(buf);
    }
  }

  // Sets a column in both records (the row as read), or in the new one only (an edit).
  void Set(const std::string& name, const Variant& value, bool editOnly = false) {
    const int no = Data->FieldByName(name)->FieldNo;
    if (!editOnly) Data->PutFieldAsVariant(no, OldBuf, value);
    Data->PutFieldAsVariant(no, NewBuf, value);
  }
  TFieldDesc* Desc(const std::string& name) { return Data->FieldByName(name); }

  TDASQLGeneratorSettings GeneratorSettings() override { return S; }
  std::string QuoteName(const std::string& name) override {
    return TMyTableInfo::Class().NormalizeIdentifier(name, S.QuoteNames);
  }
  TData& GeneratorData() override { return *Data; }
  void* GeneratorNewRecBuf() override { return NewBuf; }
  void* GeneratorOldRecBuf() override { return OldBuf; }
  TField* FieldOfDesc(const TFieldDesc* desc) override { return FFields[desc->FieldNo - 1].get(); }
  TFieldDesc* IdentityFieldDesc() override { return Identity; }
  TCRTableInfo* UpdatingTableInfo() override { return Table; }
  TCRTablesInfo* RecordSetTablesInfo() override { return &FTables; }
  TKeyAndDataFields GetKeyAndDataFields(bool) override {
    std::vector<TFieldDesc*> all;
    for (const auto& d : Data->Fields()) all.push_back(d.get());
    return MyKeyAndDataFields(all, Table);
  }
  std::string GetSQLText() override { return "SELECT * FROM t"; }
  std::string FinalSQL() override { return "SELECT * FROM t WHERE x = 1"; }
  std::string SQLAddWhere(const std::string& sql, const std::string& condition) override {
    return sql + " /*AND*/ " + condition;
  }

  TDASQLGeneratorSettings S;
  TCRTableInfo* Table;
  std::unique_ptr<TGenData> Data;
  void* OldBuf;
  void* NewBuf;
  TFieldDesc* Identity = nullptr;

 private:
  void* NewRecord() {
    void* buf = Data->AllocRecBuf();
    Data->InitRecord(buf);
    Data->CreateComplexFields(buf, true);
    return buf;
  }

  TCRTablesInfo FTables;
  std::vector<std::unique_ptr<TField>> FFields;
};

std::vector<Col> KeyedColumns() {
  return {{"id", dtInt32, mftLong, true},
          {"a", dtString, mftVarString},
          {"b", dtInt32, mftLong},
          {"f", dtFloat, mftFloat},
          {"m", dtMemo, mftBlob}};
}

std::vector<Col> Unkeyed(std::vector<Col> cols) {
  for (Col& c : cols) c.Primary = false;
  return cols;
}

struct GoldenCase {
  const char* Name;
  std::vector<Col> Columns;
  std::function<void(TTestHost&)> Arrange;
  TStatementType Type;
  bool ModifiedOnly;
  int BatchIndex;
  const char* Text;
  std::vector<std::string> Params;  // names, "Old" ones flagged by their name
};

// A row read as id=7, a='x', b=NULL, f=1.5, m='memo'; the edits below change a and b.
void ReadRow(TTestHost& h) {
  h.Set("id", 7);
  h.Set("a", "x");
  h.Set("f", 1.5);
}

void EditAB(TTestHost& h) {
  ReadRow(h);
  h.Set("a", "y", true);
  h.Set("b", 3, true);
}

TEST(SQLGenerator, GoldenStatementsAndPlaceholders) {
  const std::vector<GoldenCase> cases = {
      {"insert writes every non-null field when only modified ones count",
       KeyedColumns(),
       EditAB,
       stInsert,
       true,
       -1,
       "INSERT INTO t\r\n  (id, a, b, f)\r\nVALUES\r\n  (?, ?, ?, ?)",
       {"id", "a", "b", "f"}},
      {"update sets the changed fields and names the key's old value",
       KeyedColumns(),
       EditAB,
       stUpdate,
       true,
       -1,
       "UPDATE t\r\nSET\r\n  a = ?, b = ?\r\nWHERE\r\n  id = ?",
       {"a", "b", "Old_id"}},
      {"update of a record without change is empty", KeyedColumns(), ReadRow, stUpdate, true, -1, "", {}},
      {"a case change is a change",
       KeyedColumns(),
       [](TTestHost& h) {
         ReadRow(h);
         h.Set("a", "X", true);
       },
       stUpdate,
       true,
       -1,
       "UPDATE t\r\nSET\r\n  a = ?\r\nWHERE\r\n  id = ?",
       {"a", "Old_id"}},
      {"batch statement names carry the batch index",
       KeyedColumns(),
       EditAB,
       stUpdate,
       true,
       3,
       "UPDATE t\r\nSET\r\n  a = ?, b = ?\r\nWHERE\r\n  id = ?",
       {"P_3_a", "P_3_b", "P_3_Old_id"}},
      {"delete by key",
       KeyedColumns(),
       ReadRow,
       stDelete,
       true,
       -1,
       "DELETE FROM t\r\nWHERE\r\n  id = ?",
       {"Old_id"}},
      {"a null key is IS NULL even when all fields are written",
       KeyedColumns(),
       [](TTestHost& h) { h.Set("a", "x"); },
       stDelete,
       false,
       -1,
       "DELETE FROM t\r\nWHERE\r\n  id IS NULL",
       {}},
      {"without a key every non-blob, non-FLOAT column is compared, one row only; an unchanged FLOAT is "
       "not written",
       Unkeyed(KeyedColumns()),
       EditAB,
       stUpdate,
       false,
       -1,
       "UPDATE t\r\nSET\r\n  id = ?, a = ?, b = ?, m = ?\r\nWHERE\r\n  id = ? AND a = ? AND b IS NULL"
       "\r\nLIMIT 1",
       {"id", "a", "b", "m", "Old_id", "Old_a"}},
      {"delete without a key is limited to one row",
       Unkeyed(KeyedColumns()),
       ReadRow,
       stDelete,
       true,
       -1,
       "DELETE FROM t\r\nWHERE\r\n  id = ? AND a = ? AND b IS NULL\r\nLIMIT 1",
       {"Old_id", "Old_a"}},
      {"refresh selects the fields under their aliases",
       KeyedColumns(),
       ReadRow,
       stRefresh,
       true,
       -1,
       "SELECT t.id AS _0, t.a AS _1, t.b AS _2, t.f AS _3, t.m AS _4 FROM t\r\nWHERE\r\n  t.id = ?",
       {"id"}},
      {"lock",
       KeyedColumns(),
       ReadRow,
       stLock,
       true,
       -1,
       "SELECT NULL FROM t\r\nWHERE\r\n  t.id = ?\r\nFOR UPDATE",
       {"id"}},
      {"key list of the deleted-row check",
       KeyedColumns(),
       ReadRow,
       stRefreshCheckDeleted,
       true,
       -1,
       "SELECT id FROM t ORDER BY id",
       {}},
  };
  for (const GoldenCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTestHost host(c.Columns);
    c.Arrange(host);
    TMySQLGenerator gen(&host);
    TDAParams params;
    const std::string text = gen.GenerateSQLForUpdatingTable(c.Type, c.ModifiedOnly, &params, c.BatchIndex);
    EXPECT_EQ(text, c.Text);
    std::vector<std::string> names;
    for (int i = 0; i < params.Count(); ++i) names.push_back(params[i]->Name());
    EXPECT_EQ(names, c.Params);
    ASSERT_EQ(gen.ParamsInfo().Count(), params.Count());
    const std::vector<int> positions = gen.ParamPositions();
    for (size_t i = 0; i < positions.size(); ++i) {
      ASSERT_GE(positions[i], 1);
      ASSERT_LE(static_cast<size_t>(positions[i]), text.size());
      EXPECT_EQ(text[static_cast<size_t>(positions[i]) - 1], '?') << "parameter " << names[i];
      const TDAParamInfo* info = gen.ParamsInfo().Items(static_cast<int>(i));
      EXPECT_EQ(info->Old, names[i].find("Old_") != std::string::npos) << names[i];
      EXPECT_EQ(info->BatchIndex, c.BatchIndex);
      EXPECT_NE(info->Field, nullptr);
    }
    // Without a parameter collection the placeholders are the parameter names.
    const std::string named = gen.GenerateSQLForUpdatingTable(c.Type, c.ModifiedOnly, nullptr, c.BatchIndex);
    for (const std::string& name : names) EXPECT_NE(named.find(":" + name), std::string::npos) << name;
  }
}

TEST(SQLGenerator, MySQLConditionsAndOptions) {
  struct Case {
    const char* Name;
    std::function<void(TTestHost&, TMySQLGenerator&)> Arrange;
    TStatementType Type;
    const char* Text;
  };
  const std::vector<Case> cases = {
      {"row version with a TIMESTAMP value: key and stamp only",
       [](TTestHost& h, TMySQLGenerator&) {
         h.S.CheckRowVersion = true;
         h.Set("ts", 45000.5);
       },
       stDelete, "DELETE FROM t\r\nWHERE\r\n  id = ? AND ts = ?"},
      {"row version with a null TIMESTAMP: every other non-blob, non-FLOAT column",
       [](TTestHost& h, TMySQLGenerator&) { h.S.CheckRowVersion = true; }, stDelete,
       "DELETE FROM t\r\nWHERE\r\n  id = ? AND a = ? AND b IS NULL AND (ts IS NULL OR ts = '0000-00-00 "
       "00:00:00')"},
      {"refresh of a null TIMESTAMP finds NULL and the zero stamp",
       [](TTestHost& h, TMySQLGenerator&) {
         static_cast<TMySQLFieldDesc*>(h.Desc("id"))->IsPrimaryKey = false;
       },
       stRefresh,
       "SELECT t.id AS _0, t.a AS _1, t.b AS _2, t.f AS _3, t.m AS _4, t.ts AS _5 FROM t\r\nWHERE\r\n"
       "  t.id = ? AND t.a = ? AND t.b IS NULL AND (t.ts IS NULL OR t.ts = '0000-00-00 00:00:00')"},
      {"quick refresh: the final SQL with the TIMESTAMP condition", [](TTestHost&, TMySQLGenerator&) {},
       stRefreshQuick, "SELECT * FROM t WHERE x = 1 /*AND*/ ts >= '1899-12-30 00:00:00'"},
      {"full refresh: the dataset's own SQL with the key condition",
       [](TTestHost& h, TMySQLGenerator&) { h.S.FullRefresh = true; }, stRefresh,
       "SELECT * FROM t /*AND*/ \r\n  t.id = :id"},
      {"lock mode 1 shares", [](TTestHost&, TMySQLGenerator& g) { g.SetLockMode(1); }, stLock,
       "SELECT NULL FROM t\r\nWHERE\r\n  t.id = ?\r\nLOCK IN SHARE MODE"},
      {"lock mode 2 writes no lock clause", [](TTestHost&, TMySQLGenerator& g) { g.SetLockMode(2); }, stLock,
       "SELECT NULL FROM t\r\nWHERE\r\n  t.id = ?\r\n"},
      {"quoted names", [](TTestHost& h, TMySQLGenerator&) { h.S.QuoteNames = true; }, stDelete,
       "DELETE FROM `t`\r\nWHERE\r\n  `id` = ?"},
      {"a qualified table: each part quoted, inner back quotes doubled",
       [](TTestHost& h, TMySQLGenerator&) { h.Table->SetTableNameFull("zoneA.`a``b`"); }, stDelete,
       "DELETE FROM `zoneA`.`a``b`\r\nWHERE\r\n  id = ?"},
      {"the lock statement of an aliased table declares the alias its conditions use",
       [](TTestHost& h, TMySQLGenerator&) { h.Table->SetTableAlias("x"); }, stLock,
       "SELECT NULL FROM t x\r\nWHERE\r\n  x.id = ?\r\nFOR UPDATE"},
      {"a DECIMAL with more digits than a double holds is left out",
       [](TTestHost& h, TMySQLGenerator&) {
         static_cast<TMySQLFieldDesc*>(h.Desc("id"))->IsPrimaryKey = false;
         auto* f = static_cast<TMySQLFieldDesc*>(h.Desc("f"));
         f->MySQLType = mftNewDecimal;
         f->Length = 22;  // DECIMAL(20,6)
         f->Decimals = 6;
       },
       stDelete,
       "DELETE FROM t\r\nWHERE\r\n  id = ? AND a = ? AND b IS NULL AND (ts IS NULL OR ts = '0000-00-00 "
       "00:00:00')\r\nLIMIT 1"},
      {"a DECIMAL a double holds exactly stays",
       [](TTestHost& h, TMySQLGenerator&) {
         static_cast<TMySQLFieldDesc*>(h.Desc("id"))->IsPrimaryKey = false;
         auto* f = static_cast<TMySQLFieldDesc*>(h.Desc("f"));
         f->MySQLType = mftNewDecimal;
         f->Length = 12;  // DECIMAL(10,2)
         f->Decimals = 2;
       },
       stDelete,
       "DELETE FROM t\r\nWHERE\r\n  id = ? AND a = ? AND b IS NULL AND f = ? AND (ts IS NULL OR ts = "
       "'0000-00-00 00:00:00')\r\nLIMIT 1"},
      {"the identity field is the condition of a keyless table",
       [](TTestHost& h, TMySQLGenerator&) {
         static_cast<TMySQLFieldDesc*>(h.Desc("id"))->IsPrimaryKey = false;
         h.Identity = h.Desc("b");
       },
       stDelete, "DELETE FROM t\r\nWHERE\r\n  b IS NULL\r\nLIMIT 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<Col> cols = KeyedColumns();
    cols.push_back({"ts", dtDateTime, mftTimestamp});
    TTestHost host(cols);
    ReadRow(host);
    TMySQLGenerator gen(&host);
    c.Arrange(host, gen);
    TDAParams params;
    EXPECT_EQ(gen.GenerateSQLForUpdatingTable(c.Type, true, &params), c.Text);
  }
}

TEST(SQLGenerator, RaisesForWhatCannotBeWritten) {
  struct Case {
    const char* Name;
    std::vector<Col> Columns;
    TStatementType Type;
    const char* Message;
  };
  const std::vector<Case> cases = {
      {"a keyless table of blobs and FLOATs has nothing to match rows on",
       {{"f", dtFloat, mftFloat}, {"m", dtMemo, mftBlob}},
       stDelete,
       "Key fields not found"},
      {"a table without fields", {}, stDelete, "Key fields not found"},
      {"quick refresh needs a TIMESTAMP column", KeyedColumns(), stRefreshQuick, "Timestamp field required"},
      {"a query is no statement the generator writes", KeyedColumns(), stQuery, "Bad statement type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TTestHost host(c.Columns);
    if (!c.Columns.empty()) host.Set(c.Columns[0].Name, 1);
    TMySQLGenerator gen(&host);
    try {
      gen.GenerateSQLForUpdatingTable(c.Type, false);
      ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
  }
}

TEST(MyKeyAndDataFields, KeyIsThePrimaryKeyOnly) {
  TCRTablesInfo tables(TMyTableInfo::Class());
  TCRTableInfo* t = tables.Add();
  TCRTableInfo* other = tables.Add();
  struct Case {
    const char* Name;
    std::vector<std::function<void(TMySQLFieldDesc&)>> Columns;
    std::vector<int> Key;
    std::vector<int> Data;
  };
  const auto pk = [&](TMySQLFieldDesc& d) { d.IsPrimaryKey = d.IsKey = true; };
  const auto plainIndex = [&](TMySQLFieldDesc& d) { d.IsKey = true; };
  const auto plain = [&](TMySQLFieldDesc&) {};
  const auto floatPk = [&](TMySQLFieldDesc& d) {
    pk(d);
    d.MySQLType = mftFloat;
  };
  const auto nullColumn = [&](TMySQLFieldDesc& d) { d.MySQLType = mftNull; };
  const auto ofOther = [&](TMySQLFieldDesc& d) {
    pk(d);
    d.TableInfo = other;
  };
  const std::vector<Case> cases = {
      {"primary key", {pk, plainIndex, plain}, {0}, {0, 1, 2}},
      {"composite primary key", {pk, pk, plain}, {0, 1}, {0, 1, 2}},
      {"a plain index is no key", {plainIndex, plain}, {}, {0, 1}},
      {"a key with a FLOAT column cannot match exactly", {pk, floatPk, plain}, {}, {0, 1, 2}},
      {"a NULL-typed column is no data", {pk, nullColumn}, {0}, {0}},
      {"columns of another table are left out", {ofOther, pk, plain}, {1}, {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::unique_ptr<TMySQLFieldDesc>> descs;
    std::vector<TFieldDesc*> fields;
    for (const auto& adjust : c.Columns) {
      descs.push_back(std::make_unique<TMySQLFieldDesc>());
      descs.back()->MySQLType = mftLong;
      descs.back()->TableInfo = t;
      adjust(*descs.back());
      fields.push_back(descs.back().get());
    }
    const TKeyAndDataFields kd = MyKeyAndDataFields(fields, t);
    std::vector<TFieldDesc*> key, data;
    for (int i : c.Key) key.push_back(fields[static_cast<size_t>(i)]);
    for (int i : c.Data) data.push_back(fields[static_cast<size_t>(i)]);
    EXPECT_EQ(kd.KeyFieldDescs, key);
    EXPECT_EQ(kd.DataFieldDescs, data);
  }
}

TEST(MyKeyAndDataFields, AKeyIsChosenOnlyWhenTheResultHoldsAllOfIt) {
  struct Case {
    const char* Name;
    std::vector<const char*> Columns;  // of the result; "f" is a FLOAT
    std::vector<TMyTableKey> Keys;
    std::vector<const char*> Key;
  };
  const std::vector<TMyTableKey> tableKeys = {{"PRIMARY", {"a", "b"}}, {"u", {"u"}}};
  const std::vector<Case> cases = {
      {"the whole primary key, in key order", {"c", "b", "a"}, tableKeys, {"a", "b"}},
      {"part of the primary key and no other key", {"a", "c"}, tableKeys, {}},
      {"a whole unique key when the primary key is partial", {"a", "U", "c"}, tableKeys, {"U"}},
      {"the primary key first when both are whole", {"u", "b", "a"}, tableKeys, {"a", "b"}},
      {"a key with an inexact column is no key", {"f", "c"}, {{"PRIMARY", {"f"}}}, {}},
      {"a table without such keys", {"a", "b"}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::unique_ptr<TMySQLFieldDesc>> descs;
    std::vector<TFieldDesc*> fields;
    for (const char* name : c.Columns) {
      descs.push_back(std::make_unique<TMySQLFieldDesc>());
      descs.back()->Name = descs.back()->ActualName = name;
      descs.back()->MySQLType = std::string(name) == "f" ? mftFloat : mftLong;
      fields.push_back(descs.back().get());
    }
    std::vector<std::string> key;
    for (const TFieldDesc* desc : MyWholeKeyFields(fields, c.Keys)) key.push_back(desc->Name);
    EXPECT_EQ(key, std::vector<std::string>(c.Key.begin(), c.Key.end()));
  }
}

// A batch stops at a failing row count only where the server runs compound statements outside
// stored programs; elsewhere the changes go one at a time.
TEST(SQLGenerator, RowCountCheckOnlyWhereTheServerRunsIt) {
  const std::pair<const char*, bool> cases[] = {{"10.11.19-MariaDB-0+deb12u1", true},
                                                {"5.5.5-10.6.1-MariaDB-log", true},
                                                {"5.5.68-MariaDB", false},
                                                {"8.0.36", false}};
  TTestHost host({});
  TMySQLGenerator gen(&host);
  for (const auto& [version, checked] : cases)
    EXPECT_EQ(gen.RowCountCheck(version).empty(), !checked) << version;
}

}  // namespace
