#include "mysql/MyTableInfo.h"

#include <gtest/gtest.h>

#include <string>

#include "mysql/MyClasses.h"

namespace {

TEST(MyTableInfoTest, TablesOfTheMySqlClassNormaliseWithBackquotes) {
  TCRTablesInfo tables(TMyTableInfo::Class());
  auto* t = dynamic_cast<TMyTableInfo*>(tables.Add());
  ASSERT_NE(t, nullptr) << "the class object creates MySQL table infos";
  EXPECT_EQ(t->MaxTimestamp, 0.0);
  EXPECT_EQ(t->GetTableNameFull(), "") << "the full name is the one the statement wrote, not the table name";
  t->SetTableName("`my table`");
  t->SetTableAlias("`t1`");
  t->SetTableNameFull("db.my-table");
  tables.NormalizeNames();
  EXPECT_EQ(t->GetTableName(), "`my table`");
  EXPECT_EQ(t->GetTableAlias(), "t1");
  EXPECT_EQ(t->GetTableNameFull(), "db.`my-table`");
  EXPECT_EQ(tables.IndexByName("`my table`"), 0);

  EXPECT_EQ(t->ClassType().NormalizeName("a`b"), "`a``b`");
}

TEST(MyTableInfoTest, FieldDescTableName) {
  TCRTablesInfo tables(TMyTableInfo::Class());
  TCRTableInfo* t = tables.Add();
  t->SetTableName("t_user");
  TCRFieldDesc withTable;
  withTable.TableInfo = t;
  TCRFieldDesc computed;
  TFieldDesc plain;
  EXPECT_EQ(GetFieldDescTableName(&withTable), "t_user");
  EXPECT_EQ(GetFieldDescTableName(&computed) + GetFieldDescTableName(&plain) + GetFieldDescTableName(nullptr),
            "");
}

TEST(MyTableInfoTest, BlobParamTypes) {
  TParamDesc p;
  for (TDataType t : {dtString, dtBlob, dtMemo, dtWideMemo, dtWideString, dtBytes, dtVarBytes, dtInt32}) {
    SCOPED_TRACE(t);
    p.SetDataType(t);
    EXPECT_EQ(IsBlobParamType(p), t == dtBlob || t == dtMemo || t == dtWideMemo);
  }
}

}  // namespace
