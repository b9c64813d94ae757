#include "components/DBAccessText.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "components/MyAccess.h"
#include "mysql/MyParser.h"
#include "platform/runtime/Classes.h"

namespace {

const TCharsetKind L = TCharsetKind::SingleByte;

struct TextCase {
  const char* Name;
  std::string Sql;
  std::string Arg;
  std::string Want;
};

TEST(MyAddWhereTest, Table) {
  const TextCase cases[] = {
      {"no where", "SELECT * FROM t", "a = 1", "SELECT * FROM t\rWHERE a = 1 "},
      {"existing where before order by", "SELECT * FROM t WHERE a = 1  ORDER BY b", "c = 2",
       "SELECT * FROM t WHERE (a = 1) AND c = 2   ORDER BY b"},
      {"no where before group by", "SELECT a FROM t GROUP BY a", "a > 0",
       "SELECT a FROM t\rWHERE a > 0  GROUP BY a"},
      {"existing where at the end, trailing blanks dropped", "SELECT * FROM t WHERE a = 1 \r\n", "b = 2",
       "SELECT * FROM t WHERE (a = 1) AND b = 2 "},
      {"separator without where", "SELECT * FROM t;", "a = 1", "SELECT * FROM t\rWHERE a = 1 ;"},
      {"condition is trimmed", "SELECT * FROM t", "\r\n  a = 1\t", "SELECT * FROM t\rWHERE a = 1 "},
      {"empty condition", "SELECT * FROM t WHERE a = 1", " \r\n", "SELECT * FROM t WHERE a = 1"},
      {"no select", "UPDATE t SET a = 1", "b = 2", "UPDATE t SET a = 1"},
      {"where in a subquery", "SELECT * FROM (SELECT * FROM u WHERE x = 1) d", "a = 1",
       "SELECT * FROM (SELECT * FROM u WHERE x = 1) d\rWHERE a = 1 "},
      {"where in a string", "SELECT 'WHERE x' FROM t ORDER BY a", "a = 1",
       "SELECT 'WHERE x' FROM t\rWHERE a = 1  ORDER BY a"},
      {"clause keyword after the macro character", "SELECT * FROM t &where", "a = 1",
       "SELECT * FROM t &where\rWHERE a = 1 "},
      {"block comment before the clause", "SELECT * FROM t WHERE a = 1 /* c */ ORDER BY b", "b = 2",
       "SELECT * FROM t WHERE (a = 1 /* c */\r) AND b = 2  ORDER BY b"},
      {"AND condition is not parenthesised", "SELECT * FROM t WHERE c = 3", "a = 1 AND b = 2",
       "SELECT * FROM t WHERE (c = 3) AND a = 1 AND b = 2 "},
      {"OR inside parentheses is not parenthesised again", "SELECT * FROM t WHERE c = 3", "(a = 1 OR b = 2)",
       "SELECT * FROM t WHERE (c = 3) AND (a = 1 OR b = 2) "},
      {"OR in a string is no OR", "SELECT * FROM t WHERE c = 3", "a = 'x OR y'",
       "SELECT * FROM t WHERE (c = 3) AND a = 'x OR y' "},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(MyAddWhere(c.Sql, c.Arg, L), c.Want);
  }
}

// A condition added after a trailing line comment must not land inside it: the server ends "--"
// and "#" comments only at a line feed.
TEST(MyAddWhereTest, LineCommentBeforeTheInsertionEndsWithCrLf) {
  const TextCase cases[] = {
      {"dash comment at the end, no where", "SELECT * FROM t -- all rows", "a = 1",
       "SELECT * FROM t -- all rows\r\nWHERE a = 1 "},
      {"hash comment before order by", "SELECT * FROM t # note\nORDER BY b", "a = 1",
       "SELECT * FROM t # note\r\nWHERE a = 1 \nORDER BY b"},
      {"closing parenthesis after a line comment", "SELECT * FROM t WHERE a = 1 -- x\nORDER BY b", "c = 2",
       "SELECT * FROM t WHERE (a = 1 -- x\r\n) AND c = 2 \nORDER BY b"},
      {"existing where ending in a comment", "SELECT * FROM t WHERE a = 1 # x", "c = 2",
       "SELECT * FROM t WHERE (a = 1 # x\r\n) AND c = 2 "},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string got = MyAddWhere(c.Sql, c.Arg, L);
    EXPECT_EQ(got, c.Want);
    // The server ends the comment at the line feed: the condition comes after it.
    const size_t comment = got.find_first_of("-#");
    EXPECT_LT(got.find('\n', comment), got.find(c.Arg));
  }
}

// A condition that itself ends in a line comment is closed with CR LF: the clause that follows it
// stays outside the comment.
TEST(MyAddWhereTest, ConditionEndingInLineCommentEndsWithCrLf) {
  const TextCase cases[] = {
      {"before order by", "SELECT * FROM t ORDER BY b", "a = 1 -- only ones",
       "SELECT * FROM t\rWHERE a = 1 -- only ones\r\n  ORDER BY b"},
      {"joined to a where", "SELECT * FROM t WHERE c = 3 LIMIT 5", "a = 1 # x",
       "SELECT * FROM t WHERE (c = 3) AND a = 1 # x\r\n  LIMIT 5"},
      {"inside the parentheses of an OR", "SELECT * FROM t WHERE c = 3", "a = 1 OR b = 2 -- x",
       "SELECT * FROM t WHERE (c = 3) AND (a = 1 OR b = 2 -- x\r\n) "},
      {"block comment needs nothing", "SELECT * FROM t ORDER BY b", "a = 1 /* x */",
       "SELECT * FROM t\rWHERE a = 1 /* x */  ORDER BY b"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(MyAddWhere(c.Sql, c.Arg, L), c.Want);
  }
}

// An added condition with a top-level OR joins the old one as one term: otherwise rows outside the
// old condition come back.
TEST(MyAddWhereTest, TopLevelOrIsParenthesised) {
  const TextCase cases[] = {
      {"OR", "SELECT * FROM t WHERE c = 3", "a = 1 OR b = 2",
       "SELECT * FROM t WHERE (c = 3) AND (a = 1 OR b = 2) "},
      {"lower-case or", "SELECT * FROM t WHERE c = 3", "a = 1 or b = 2",
       "SELECT * FROM t WHERE (c = 3) AND (a = 1 or b = 2) "},
      {"XOR", "SELECT * FROM t WHERE c = 3", "a XOR b", "SELECT * FROM t WHERE (c = 3) AND (a XOR b) "},
      {"double bar", "SELECT * FROM t WHERE c = 3", "a || b", "SELECT * FROM t WHERE (c = 3) AND (a || b) "},
      {"no old condition: nothing to protect", "SELECT * FROM t", "a = 1 OR b = 2",
       "SELECT * FROM t\rWHERE a = 1 OR b = 2 "},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(MyAddWhere(c.Sql, c.Arg, L), c.Want);
  }
}

// A statement separator ends the clause scan: text is never put after it or taken out with it.
TEST(SqlClauseTest, StatementSeparatorEndsTheClause) {
  EXPECT_EQ(MyAddWhere("SELECT * FROM t WHERE a = 1;", "b = 2", L),
            "SELECT * FROM t WHERE (a = 1) AND b = 2 ;");
  EXPECT_EQ(MySetWhere("SELECT * FROM t WHERE a = 1;", "b = 2", L), "SELECT * FROM t WHERE b = 2;");
  EXPECT_EQ(MyDeleteWhere("SELECT * FROM t WHERE a = 1;", L), "SELECT * FROM t;");
  EXPECT_EQ(MySetOrderBy("SELECT * FROM t ORDER BY a;", "b", L), "SELECT * FROM t ORDER BY b;");
  EXPECT_EQ(MySetOrderBy("SELECT * FROM t;", "b", L), "SELECT * FROM t ORDER BY b;");
  EXPECT_EQ(MyGetOrderBy("SELECT * FROM t ORDER BY a, b;", L), " a, b");
}

TEST(MySetWhereTest, Table) {
  const TextCase cases[] = {
      {"replace", "SELECT * FROM t WHERE a = 1 ORDER BY b", "c = 2",
       "SELECT * FROM t WHERE c = 2 ORDER BY b"},
      {"delete before order by", "SELECT * FROM t WHERE a = 1 ORDER BY b", "", "SELECT * FROM t ORDER BY b"},
      {"delete at the end", "SELECT * FROM t WHERE a = 1", "", "SELECT * FROM t"},
      {"add before group by", "SELECT a FROM t GROUP BY a", "a > 0",
       "SELECT a FROM t WHERE a > 0 GROUP BY a"},
      {"add at the end", "SELECT * FROM t", "a = 1", "SELECT * FROM t WHERE a = 1"},
      {"add on a new line", "SELECT *\r\nFROM t\r\nLIMIT 5", "a = 1",
       "SELECT *\r\nFROM t\r  WHERE a = 1\r\nLIMIT 5"},
      {"subquery where untouched", "SELECT * FROM (SELECT 1 FROM u WHERE x) d WHERE a = 1", "b",
       "SELECT * FROM (SELECT 1 FROM u WHERE x) d WHERE b"},
      {"before a trailing line comment", "SELECT * FROM t -- c", "a = 1", "SELECT * FROM t WHERE a = 1 -- c"},
      {"hash comment without a blank", "SELECT * FROM t#c", "a = 1", "SELECT * FROM t WHERE a = 1#c"},
      {"delete without where", "SELECT * FROM t ORDER BY a", "", "SELECT * FROM t ORDER BY a"},
      {"condition ending in a line comment", "SELECT * FROM t WHERE c = 3 ORDER BY x LIMIT 10",
       "a = 1 -- note", "SELECT * FROM t WHERE a = 1 -- note\r\n ORDER BY x LIMIT 10"},
      {"new condition ending in a hash comment", "SELECT * FROM t LIMIT 2", "a = 1 # note",
       "SELECT * FROM t WHERE a = 1 # note\r\n LIMIT 2"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(MySetWhere(c.Sql, c.Arg, L), c.Want);
  }
}

TEST(MySetOrderByTest, Table) {
  const TextCase cases[] = {
      {"replace", "SELECT * FROM t ORDER BY a LIMIT 5", "b", "SELECT * FROM t ORDER BY b LIMIT 5"},
      {"semicolons become commas", "SELECT * FROM t", "a;b", "SELECT * FROM t ORDER BY a,b"},
      {"remove", "SELECT * FROM t WHERE x ORDER BY a LIMIT 5", "", "SELECT * FROM t WHERE x LIMIT 5"},
      {"add before limit", "SELECT * FROM t WHERE x LIMIT 5", "a",
       "SELECT * FROM t WHERE x ORDER BY a LIMIT 5"},
      {"add on a new line", "SELECT *\rFROM t", "a", "SELECT *\rFROM t\r  ORDER BY a"},
      {"order by inside a subquery", "SELECT * FROM (SELECT a FROM u ORDER BY a LIMIT 1) d", "b",
       "SELECT * FROM (SELECT a FROM u ORDER BY a LIMIT 1) d ORDER BY b"},
      {"remove nothing", "SELECT * FROM t", "", "SELECT * FROM t"},
      {"fields ending in a line comment", "SELECT * FROM t ORDER BY a LIMIT 5", "b -- why",
       "SELECT * FROM t ORDER BY b -- why\r\n LIMIT 5"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(MySetOrderBy(c.Sql, c.Arg, L), c.Want);
  }
}

TEST(MyGetOrderByTest, Table) {
  const TextCase cases[] = {
      {"list to the end", "SELECT * FROM t ORDER BY a, b DESC", "", " a, b DESC"},
      {"cut before limit", "SELECT * FROM t ORDER BY a  LIMIT 5", "", " a"},
      {"no order by", "SELECT * FROM t", "", ""},
      {"order without by", "SELECT * FROM t ORDER a", "", ""},
      {"blanks between order and by", "SELECT * FROM t ORDER\r\n BY a", "", " a"},
      {"only inside a subquery", "SELECT * FROM (SELECT a FROM u ORDER BY a) d", "", ""},
      {"not a select", "DELETE FROM t ORDER BY a", "", ""},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(MyGetOrderBy(c.Sql, L), c.Want);
  }
}

TEST(MyNameListTest, TextToNamesAndBack) {
  TStringList list;
  TextToNames(" `a`, b;; c ", list, L);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[0], "a");
  EXPECT_EQ(list[1], "b");
  EXPECT_EQ(list[2], "c");
  list.Add("my table");
  EXPECT_EQ(NamesToText(list, L), "a, b, c, `my table`");
  TextToNames("", list, L);
  EXPECT_EQ(list.Count(), 0);
}

// ---- Parameters ---------------------------------------------------------------------------------

const TParserClass MyClass = ParserClassOf<TMyParser>();

struct ParamCase {
  const char* Name;
  std::string Sql;
  std::string Want;
  std::vector<std::string> Names;
};

TEST(ParseSQLParamsTest, Table) {
  const ParamCase cases[] = {
      {"two parameters",
       "UPDATE t SET a = :id WHERE b = :name",
       "UPDATE t SET a = ? WHERE b = ?",
       {"id", "name"}},
      {"in a string",
       "SELECT ':a', \":b\" FROM t WHERE c = :c",
       "SELECT ':a', \":b\" FROM t WHERE c = ?",
       {"c"}},
      {"in comments", "SELECT 1 /* :a */ -- :b\nFROM t # :c\n", "SELECT 1 /* :a */ -- :b\nFROM t # :c\n", {}},
      {"assignment is no parameter", "SET @a := 1", "SET @a := 1", {}},
      {"colon then blank", "SELECT a ? b : c", "SELECT a ? b : c", {}},
      {"colon then keyword", "SELECT :FROM", "SELECT :FROM", {}},
      {"colon then symbol", "SELECT :*, :(", "SELECT :*, :(", {}},
      {"duplicates kept", "SELECT :a, :a", "SELECT ?, ?", {"a", "a"}},
      {"at-name parameter", "SELECT :@v, @w", "SELECT ?, @w", {"@v"}},
      {"bare at-name untouched", "SELECT @v := 1", "SELECT @v := 1", {}},
      {"number", "SELECT :1", "SELECT ?", {"1"}},
      {"quoted name loses its quotes", "SELECT :\"my name\"", "SELECT ?", {"my name"}},
      {"doubled quote in a quoted name",
       "SELECT :\"a\"\"b\", :\"c\" \"d\"",
       "SELECT ?, ? \"d\"",
       {"a\"b", "c"}},
      {"single-quoted string is a value", "SELECT :'x'", "SELECT :'x'", {}},
      {"back-quoted name keeps its quotes", "SELECT :`n`", "SELECT ?", {"`n`"}},
      {"at then symbol", "SELECT :@@x", "SELECT :@@x", {}},
      {"end of text after colon", "SELECT a:", "SELECT a:", {}},
  };
  for (const ParamCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> names;
    EXPECT_EQ(ParseSQLParams(c.Sql, MyClass, &names, {}, {}, L), c.Want);
    EXPECT_EQ(names, c.Names);
  }
  // A doubled quote inside a quoted name is one quote of the name.
  std::vector<std::string> names;
  TParseSQLOptions backQuotes;
  backQuotes.NameQuoteBegin = backQuotes.NameQuoteEnd = '`';
  EXPECT_EQ(ParseSQLParams("SELECT :`x``y`, :`z`", MyClass, &names, backQuotes, {}, L), "SELECT ?, ?");
  EXPECT_EQ(names, (std::vector<std::string>{"x`y", "z"}));
}

TEST(ParseSQLParamsTest, RenamePrefixAndPositions) {
  TParseSQLOptions options;
  options.RenamePrefix = ":OLD_";
  EXPECT_EQ(ParseSQLParams("WHERE a = :a AND b = :b", MyClass, nullptr, options, {}, L),
            "WHERE a = :OLD_a AND b = :OLD_b");
  std::vector<size_t> at;
  ParseSQLParams(
      "SELECT :a, 'x', :b", MyClass, nullptr, {}, [&](const std::string&, size_t n) { at.push_back(n); }, L);
  EXPECT_EQ(at, (std::vector<size_t>{8, 16}));
}

// ---- Macros -------------------------------------------------------------------------------------

TEST(MacroTextTest, Scan) {
  const struct {
    const char* Name;
    std::string Sql;
    std::vector<std::string> Want;
  } cases[] = {
      {"one reference", "SELECT * FROM t &cond", {"cond"}},
      {"keyword name keeps its case", "SELECT * FROM t &where", {"where"}},
      {"two references, one name", "SELECT &f FROM t &F", {"f"}},
      {"number and word", "SELECT &1st", {"1st"}},
      {"number alone", "SELECT &1", {}},
      {"blank after the character", "SELECT a & b", {}},
      {"quoted name", "SELECT &`x`", {}},
      {"in a string or comment", "SELECT '&a' /* &b */", {}},
      {"no macro character", "SELECT 1", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ScanMacroNames(c.Sql, MyClass, L), c.Want);
  }
}

TEST(MacroTextTest, Expand) {
  const std::map<std::string, std::string> active = {{"cond", "WHERE a = 1"}, {"tbl", "users"}};
  auto valueOf = [&](const std::string& name) -> const std::string* {
    auto it = active.find(name);
    return it == active.end() ? nullptr : &it->second;
  };
  const struct {
    const char* Name;
    std::string Sql;
    std::string Want;
  } cases[] = {
      {"replaced", "SELECT * FROM &tbl &cond", "SELECT * FROM users WHERE a = 1"},
      {"unknown or inactive disappears", "SELECT * FROM t &other", "SELECT * FROM t "},
      {"character then blank copied", "SELECT a & b FROM t", "SELECT a & b FROM t"},
      {"strings and comments copied", "SELECT '&tbl' -- &cond\n", "SELECT '&tbl' -- &cond\n"},
      {"doubled character", "SELECT a && b", "SELECT a && b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ExpandMacroRefs(c.Sql, MyClass, valueOf, L), c.Want);
  }
}

}  // namespace
