#include "mysql/MyTableInfo.h"

#include <gtest/gtest.h>

#include <string>

#include "mysql/MyClasses.h"

namespace {

TEST(MyTableInfoTest, TablesOfTheMySqlClassNormaliseWithBackquotes) {
  TCRTablesInfo tables(TMyTableInfo::Class());
  auto* t = dynamic_cast<TMyTableInfo*>(tables.Add());
  ASSERT_NE(t, nullptr) << "the class object creates MySQL table infos";
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

TEST(MyTableInfoTest, AReservedWordIsQuotedWhereverANameIsWritten) {
  const TCRTableInfoClass& names = TMyTableInfo::Class();
  EXPECT_EQ(names.NormalizeIdentifier("from", false), "`from`");
  EXPECT_EQ(names.NormalizeName("zoneA.Order"), "zoneA.`Order`");
  EXPECT_EQ(names.NormalizeName("`desc`"), "`desc`");
  EXPECT_EQ(names.NormalizeName("user"), "user") << "a keyword the server allows as a name";
  EXPECT_EQ(TCRTableInfo::Class().NormalizeName("from"), "from")
      << "the generic rules know no server's words";
  // The character rule keeps its answers.
  EXPECT_FALSE(TMyTableInfo::IsBracketNeeds("from"));
  EXPECT_FALSE(TMyTableInfo::IsBracketNeeds("my$table"));
  EXPECT_TRUE(TMyTableInfo::IsBracketNeeds("my-table"));
}

TEST(MyTableInfoTest, ReservedWordsAreKnownInAnyCaseAndOnlyWhole) {
  const struct {
    const char* Name;
    bool Reserved;
  } cases[] = {{"from", true},
               {"Select", true},
               {"ACCESSIBLE", true},
               {"zerofill", true},
               {"master_ssl_verify_server_cert", true},
               {"user", false},
               {"selects", false},
               {"fro", false},
               {"", false},
               {"master_ssl_verify_server_cert_", false},
               {"\xC3\xFB", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(TMyTableInfo::IsReservedWord(c.Name), c.Reserved);
  }
}

}  // namespace
