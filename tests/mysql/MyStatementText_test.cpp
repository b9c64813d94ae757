#include "mysql/MyStatementText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(MyStatementTextTest, LimitZeroRewrite) {
  struct Case {
    const char* Sql;
    const char* Want;
  };
  const Case cases[] = {
      {"SELECT a FROM t LIMIT 10", "SELECT a FROM t LIMIT 0"},
      {"Select * from user  LIMIT 0,17", "Select * from user  LIMIT 0,0"},
      {"SELECT a FROM t LIMIT 5 OFFSET 7", "SELECT a FROM t LIMIT 0 OFFSET 7"},
      {"SELECT a FROM t FOR UPDATE", "SELECT a FROM t LIMIT 0 FOR UPDATE"},
      {"SELECT a FROM t LOCK IN SHARE MODE", "SELECT a FROM t LIMIT 0 LOCK IN SHARE MODE"},
      {"SELECT 1;", "SELECT 1 LIMIT 0 ;"},
      {"SELECT a FROM t", "SELECT a FROM t LIMIT 0"},
      {"SELECT a FROM (SELECT a FROM u LIMIT 3) x", "SELECT a FROM (SELECT a FROM u LIMIT 3) x LIMIT 0"},
      {"SELECT a FROM t WHERE b = 'LIMIT 5'", "SELECT a FROM t WHERE b = 'LIMIT 5' LIMIT 0"},
      {"SELECT a FROM t LIMIT ?", "SELECT a FROM t LIMIT ?"},
      {"UPDATE t SET a = 1", "UPDATE t SET a = 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    std::vector<int> none;
    EXPECT_EQ(RewriteMyLimitZero(c.Sql, none), c.Want);
  }
  // Parameter positions after the edit move with the text.
  std::vector<int> positions = {27, 40};
  EXPECT_EQ(RewriteMyLimitZero("SELECT a FROM t WHERE b = ? LIMIT 100 ; SELECT ?", positions),
            "SELECT a FROM t WHERE b = ? LIMIT 0 ; SELECT ?");
  EXPECT_EQ(positions, (std::vector<int>{27, 38}));
}

TEST(MyStatementTextTest, StatementShape) {
  const TMyStatementShape select = AnalyseMyStatement("/* c */ SELECT a FROM t", 10);
  EXPECT_TRUE(select.HasSelect && select.SingleSelect && !select.IsShow);
  EXPECT_FALSE(AnalyseMyStatement("SELECT 1; SELECT 2", 10).SingleSelect);
  EXPECT_FALSE(AnalyseMyStatement("UPDATE t SET a = 1; SELECT 2", 10).SingleSelect);
  const TMyStatementShape slave = AnalyseMyStatement("SHOW SLAVE STATUS", 10);
  EXPECT_TRUE(slave.IsShow && slave.ShowSlaveStatus && !slave.HasSelect);
  EXPECT_TRUE(AnalyseMyStatement("show full columns from t", 10).ShowColumns);
  EXPECT_TRUE(AnalyseMyStatement("DESC t", 10).IsDescribe);
  EXPECT_FALSE(AnalyseMyStatement("EXPLAIN SELECT 1", 10).IsExplain) << "only servers before 5";
  EXPECT_TRUE(AnalyseMyStatement("EXPLAIN SELECT 1", 4).IsExplain);
}

TEST(MyStatementTextTest, TablesOfASelect) {
  struct Case {
    const char* Sql;
    std::vector<std::pair<std::string, std::string>> Want;  // name as written, alias
  };
  const Case cases[] = {
      {"SELECT * FROM user", {{"user", ""}}},
      {"SELECT * FROM db.t1 a, `t 2` AS b WHERE a.x = b.x", {{"db.t1", "a"}, {"`t 2`", "b"}}},
      {"SELECT * FROM t1 LEFT OUTER JOIN t2 ON t1.id = t2.id JOIN t3 USING (id) ORDER BY 1",
       {{"t1", ""}, {"t2", ""}, {"t3", ""}}},
      {"SELECT * FROM t1 USE INDEX (i1) , t2", {{"t1", ""}, {"t2", ""}}},
      {"SELECT * FROM (SELECT * FROM inner_t) d, t2 x", {{"t2", "x"}}},
      {"SELECT (SELECT 1 FROM u) FROM t", {{"t", ""}}},
      {"SELECT 1", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    std::vector<std::pair<std::string, std::string>> got;
    for (const TMyTableRef& r : ParseMyTableRefs(c.Sql, false)) got.emplace_back(r.Name, r.Alias);
    EXPECT_EQ(got, c.Want);
  }
  const auto handler = ParseMyTableRefs("HANDLER `db`.`t` READ FIRST", true);
  ASSERT_EQ(handler.size(), 1u);
  EXPECT_EQ(handler[0].Name, "`db`.`t`");
  EXPECT_EQ(handler[0].Alias, "");
  EXPECT_EQ(MyTableRefName("`db`.`t`"), "t");
  EXPECT_EQ(MyTableRefName("`a.b`"), "`a.b`") << "a point inside quotes is part of the name";
}

}  // namespace

// Under NO_BACKSLASH_ESCAPES 'C:\' ends at its second quote: the clauses and tables after it are
// found; read with the backslash as an escape they vanish into the string. The default reading of
// an escaped quote stays.
TEST(MyStatementTextTest, ABackslashInAStringIsReadAsTheSessionReadsIt) {
  struct Case {
    const char* Sql;
    bool NoBackslashEscapes;
    const char* Limited;
    const char* Tables;  // names joined by ","
    bool SingleSelect;
  };
  const Case cases[] = {
      {"SELECT 'C:\\' AS p, id FROM t LIMIT 3", true, "SELECT 'C:\\' AS p, id FROM t LIMIT 0", "t", true},
      {"SELECT 'C:\\' FROM t; SELECT 2", true, "SELECT 'C:\\' FROM t LIMIT 0 ; SELECT 2", "t", false},
      {"SELECT 'a\\'' AS p, id FROM t LIMIT 3", false, "SELECT 'a\\'' AS p, id FROM t LIMIT 0", "t", true},
      {"SELECT 'C:\\\\' AS p FROM t, u; SELECT 2", false, "SELECT 'C:\\\\' AS p FROM t, u LIMIT 0 ; SELECT 2",
       "t,u", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    std::vector<int> none;
    EXPECT_EQ(RewriteMyLimitZero(c.Sql, none, c.NoBackslashEscapes), c.Limited);
    std::string tables;
    for (const TMyTableRef& r : ParseMyTableRefs(c.Sql, false, c.NoBackslashEscapes))
      tables += (tables.empty() ? "" : ",") + r.Name;
    EXPECT_EQ(tables, c.Tables);
    EXPECT_EQ(AnalyseMyStatement(c.Sql, 10, c.NoBackslashEscapes).SingleSelect, c.SingleSelect);
  }
}
