#include "core/CRTableInfo.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "platform/runtime/Exceptions.h"

namespace {

const TCRTableInfoClass& Base() { return TCRTableInfo::Class(); }

struct TNameCase {
  const char* Name;
  std::string Input;
  std::string Expected;
};

TEST(CRTableInfoNamesTest, QuoteDoublesEmbeddedQuotesAndUnQuoteUndoesIt) {
  const TNameCase quoteCases[] = {
      {"bare name", "my table", "\"my table\""},
      {"quoted name kept", "\"my table\"", "\"my table\""},
      {"embedded quote doubled", "a\"b", "\"a\"\"b\""},
      {"crafted name cannot end the identifier", "x\"; DROP TABLE t; --", "\"x\"\"; DROP TABLE t; --\""},
      {"enclosed but a lone quote inside: taken as bare", "\"a\"b\"", "\"\"\"a\"\"b\"\"\""},
      {"doubled quotes inside kept", "\"a\"\"b\"", "\"a\"\"b\""},
      {"one quote alone", "\"", "\"\"\"\""},
      {"empty", "", "\"\""},
  };
  for (const TNameCase& c : quoteCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Base().Quote(c.Input), c.Expected);
  }
  const TNameCase unquoteCases[] = {
      {"quoted", "\"my table\"", "my table"},
      {"doubled quote made single", "\"a\"\"b\"", "a\"b"},
      {"bare unchanged", "abc", "abc"},
      {"one character unchanged", "\"", "\""},
      {"two quotes: empty name", "\"\"", ""},
      {"open only unchanged", "\"abc", "\"abc"},
  };
  for (const TNameCase& c : unquoteCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Base().UnQuote(c.Input), c.Expected);
  }
  // Round trip for any name that does not itself look quoted (those are kept as they are).
  for (std::string bare : {"a\"b", "\"x", "a\"\"b", "\"", "plain", "x\"; DROP TABLE t; --"}) {
    SCOPED_TRACE(bare);
    EXPECT_EQ(Base().UnQuote(Base().Quote(bare)), bare);
  }
}

TEST(CRTableInfoNamesTest, WhichNamesNeedQuoting) {
  struct Case {
    const char* Name;
    std::string Input;
    bool Quoted;
    bool Needs;
  };
  const Case cases[] = {
      {"letters digits underscore", "abc_12", false, false},
      {"blank", "my table", false, true},
      {"hyphen", "my-table", false, true},
      {"dollar (the base has no extra name characters)", "my$table", false, true},
      {"quoted plain name", "\"abc\"", true, false},
      {"quoted blank", "\"a b\"", true, true},
      {"GBK characters", "\xD5\xCB\xBA\xC5", false, true},
      {"empty", "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Base().IsQuotedName(c.Input), c.Quoted);
    EXPECT_EQ(Base().IsBracketNeeds(c.Input), c.Needs);
  }
}

TEST(CRTableInfoNamesTest, NormalizeNamePartByPart) {
  struct Case {
    const char* Name;
    std::string Input;
    bool QuoteNames;
    std::string Expected;
  };
  const Case cases[] = {
      {"blank inside: quoted", "my table", false, "\"my table\""},
      {"plain name stays bare", "abc1", false, "abc1"},
      {"plain name quoted on request", "abc1", true, "\"abc1\""},
      {"needless quotes dropped", "\"db\".\"t\"", false, "db.t"},
      {"each part on its own", "db.my table", false, "db.\"my table\""},
      {"point inside quotes does not split", "\"a.b\".c", false, "\"a.b\".c"},
      {"embedded quote doubled", "a\"b", false, "\"a\"\"b\""},
      {"doubled quote inside a quoted part", "\"a\"\"b\".c", true, "\"a\"\"b\".\"c\""},
      {"empty parts kept", "db..t", false, "db..t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Base().NormalizeName(c.Input, c.QuoteNames), c.Expected);
  }
}

TEST(CRTableInfoNamesTest, NormalizeNameExWithOtherQuotes) {
  struct Case {
    const char* Name;
    std::string Input;
    bool QuoteNames;
    std::string Expected;
  };
  const Case cases[] = {
      {"backquoted part kept", "`a b`.c", false, "`a b`.c"},
      {"part in the class's quotes requoted", "\"a b\".c", false, "`a b`.c"},
      {"embedded backquote doubled", "a`b", false, "`a``b`"},
      {"forced", "db.t", true, "`db`.`t`"},
      // 0x81 0x60 is one GBK character whose trail byte is a backquote: it is not doubled, and a
      // closing backquote is not mistaken inside it.
      {"GBK trail byte equal to the quote", "\x81\x60", false, "`\x81\x60`"},
      {"lead byte before the closing quote", "`\x81`", false, "```\x81``"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Base().NormalizeNameEx(c.Input, '`', '`', c.QuoteNames), c.Expected);
  }
}

// A server whose names may also hold "$" and whose items keep a qualified name.
class TDollarTableInfo : public TCRTableInfo {
 public:
  using TCRTableInfo::TCRTableInfo;
  std::string Full;
  std::string GetTableNameFull() const override { return Full; }
  void SetTableNameFull(const std::string& value) override { Full = value; }
};

class TDollarTableInfoClass : public TCRTableInfoClass {
 public:
  std::unique_ptr<TCRTableInfo> Create(TCRTablesInfo* owner) const override {
    return std::make_unique<TDollarTableInfo>(owner);
  }
  char LeftQuote() const override { return '['; }
  char RightQuote() const override { return ']'; }
  bool IsBracketNeeds(std::string_view name) const override {
    for (char c : UnQuote(name))
      if (!(isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$')) return true;
    return false;
  }
};

TEST(CRTableInfoNamesTest, SubclassRulesApply) {
  TDollarTableInfoClass cls;
  EXPECT_EQ(cls.NormalizeName("my$table"), "my$table");
  EXPECT_EQ(cls.NormalizeName("[my$table].a b"), "my$table.[a b]");
  EXPECT_EQ(cls.Quote("a]b"), "[a]]b]");
  EXPECT_EQ(cls.UnQuote("[a]]b]"), "a]b");
  EXPECT_EQ(cls.Quote("[a]"), "[a]");
}

// ---- TCRTablesInfo ----------------------------------------------------------------------------

TEST(CRTablesInfoTest, LooksUpByNameAndAliasWithoutCase) {
  TCRTablesInfo tables;
  TCRTableInfo* a = tables.Add();
  a->SetTableName("t_account");
  a->SetTableAlias("a");
  TCRTableInfo* b = tables.Add();
  b->SetTableName("t_char");
  b->SetTableAlias("c");
  TCRTableInfo* c = tables.Add();
  c->SetTableName("T_ACCOUNT");
  c->SetTableAlias("a2");
  EXPECT_EQ(tables.GetCount(), 3);
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(tables.IndexOf(b), 1);
  EXPECT_EQ(tables.IndexByName("T_Char"), 1);
  EXPECT_EQ(tables.IndexByName("t_account"), 0) << "the first of equal names";
  EXPECT_EQ(tables.IndexByAlias("A2"), 2);
  EXPECT_EQ(tables.IndexByAlias("zz"), -1);
  EXPECT_EQ(tables.IndexByName(""), -1);
  a->SetTableName("t_bank");  // the index follows the change
  EXPECT_EQ(tables.IndexByName("t_account"), 2);
  EXPECT_EQ(tables.IndexByName("T_BANK"), 0);
  EXPECT_EQ(tables[2], c);
  EXPECT_THROW(tables.GetItem(3), EListError);
  EXPECT_THROW(tables.GetItem(-1), EListError);
}

TEST(CRTablesInfoTest, ChangesDuringAnUpdateAreFoundAndIndexedAtTheEnd) {
  TCRTablesInfo tables;
  tables.BeginUpdate();
  tables.BeginUpdate();
  TCRTableInfo* a = tables.Add();
  a->SetTableName("t_gift");
  EXPECT_EQ(tables.IndexByName("T_GIFT"), 0);
  tables.EndUpdate();
  a->SetTableAlias("g");
  EXPECT_EQ(tables.IndexByAlias("g"), 0);
  tables.EndUpdate();
  EXPECT_EQ(tables.IndexByName("t_gift"), 0);
  EXPECT_EQ(tables.IndexByAlias("G"), 0);
  EXPECT_THROW(tables.EndUpdate(), EAssertionFailed);
}

TEST(CRTablesInfoTest, NormalizeNamesAndClear) {
  TDollarTableInfoClass cls;
  TCRTablesInfo tables(cls);
  auto* t = dynamic_cast<TDollarTableInfo*>(tables.Add());
  ASSERT_NE(t, nullptr);
  t->SetTableName("my table");
  t->SetTableAlias("[t1]");
  t->Full = "db.my table";
  tables.NormalizeNames();
  EXPECT_TRUE(tables.NamesNormalized());
  EXPECT_EQ(t->GetTableName(), "[my table]");
  EXPECT_EQ(t->GetTableAlias(), "t1");
  EXPECT_EQ(t->Full, "db.[my table]");
  EXPECT_EQ(tables.IndexByName("my table"), 0) << "the key is normalised first";
  EXPECT_EQ(tables.IndexByAlias("[T1]"), 0);
  tables.Clear();
  EXPECT_EQ(tables.GetCount(), 0);
  EXPECT_FALSE(tables.NamesNormalized());
  EXPECT_EQ(tables.IndexByName("[my table]"), -1);
  TCRTableInfo* again = tables.Add();
  EXPECT_EQ(again->Index(), 0);
  EXPECT_EQ(&tables.ItemClass(), &cls);
}

}  // namespace

namespace {

class TBackquoteTableInfoClass : public TCRTableInfoClass {
 public:
  char LeftQuote() const override { return '`'; }
  char RightQuote() const override { return '`'; }
};

TEST(CRFieldDescTest, NormalizedNameIsOneIdentifier) {
  TCRFieldDesc field;
  struct Case {
    const char* Name;
    std::string FieldName;
    bool Quote;
    std::string Expected;
  };
  const Case cases[] = {
      {"plain", "id", false, "id"},
      {"plain, quoted on request", "id", true, "\"id\""},
      {"blank", "my col", false, "\"my col\""},
      {"a point does not split a column name", "a.b", false, "\"a.b\""},
      {"embedded quote doubled", "x\"y", false, "\"x\"\"y\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    field.Name = c.FieldName;  // the cache follows the name
    EXPECT_EQ(field.GetNormalizedName(c.Quote), c.Expected);
    EXPECT_EQ(field.GetNormalizedName(c.Quote), c.Expected);
  }
  TBackquoteTableInfoClass backquotes;
  field.Name = "my col";
  EXPECT_EQ(field.GetNormalizedName(false), "\"my col\"");
  field.SetTableInfoClass(backquotes);
  EXPECT_EQ(field.GetNormalizedName(false), "`my col`");
  EXPECT_EQ(field.GetNormalizedName(true), "`my col`");
  EXPECT_EQ(field.TableInfo, nullptr);
}

}  // namespace
