#include "core/CRTableInfo.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/runtime/Exceptions.h"

namespace {

const TCRTableInfoClass& Base() {
  return TCRTableInfo::Class();
}

struct TNameCase {
  const char* Name;
  std::string Input, Expected;
  bool Flag = false;
};

// A crafted name must never end the identifier it is quoted into.
TEST(CRTableInfoNamesTest, QuoteDoublesEmbeddedQuotesAndUnQuoteUndoesIt) {
  const TNameCase quoteCases[] = {
      {"bare name", "my table", "\"my table\""},
      {"quoted name kept", "\"my table\"", "\"my table\""},
      {"crafted name", "x\"; DROP TABLE t; --", "\"x\"\"; DROP TABLE t; --\""},
      {"enclosed but a lone quote inside: taken as bare", "\"a\"b\"", "\"\"\"a\"\"b\"\"\""},
      {"doubled quotes inside kept", "\"a\"\"b\"", "\"a\"\"b\""},
      {"one quote alone", "\"", "\"\"\"\""},
  };
  for (const auto& c : quoteCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Base().Quote(c.Input), c.Expected);
  }
  const TNameCase unquoteCases[] = {
      {"doubled quote made single", "\"a\"\"b\"", "a\"b"},
      {"one character unchanged", "\"", "\""},
      {"two quotes: empty name", "\"\"", ""},
      {"open only unchanged", "\"abc", "\"abc"},
  };
  for (const auto& c : unquoteCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Base().UnQuote(c.Input), c.Expected);
  }
  // Round trip for any name that does not itself look quoted (those are kept as they are).
  for (std::string bare : {"a\"b", "\"x", "a\"\"b", "\"", "plain", "x\"; DROP TABLE t; --"}) {
    SCOPED_TRACE(bare);
    EXPECT_EQ(Base().UnQuote(Base().Quote(bare)), bare);
  }
}

TEST(CRTableInfoNamesTest, NormalizeNamePartByPart) {
  const TNameCase cases[] = {
      {"blank inside: quoted", "my table", "\"my table\""},
      {"dollar: the base has no extra name characters", "my$table", "\"my$table\""},
      {"GBK characters are quoted", "\xD5\xCB\xBA\xC5", "\"\xD5\xCB\xBA\xC5\""},
      {"plain name quoted on request", "abc1", "\"abc1\"", true},
      {"needless quotes dropped", "\"db\".\"t\"", "db.t"},
      {"each part on its own", "db.my table", "db.\"my table\""},
      {"point inside quotes does not split", "\"a.b\".c", "\"a.b\".c"},
      {"embedded quote doubled", "a\"b", "\"a\"\"b\""},
      {"doubled quote inside a quoted part", "\"a\"\"b\".c", "\"a\"\"b\".\"c\"", true},
      {"empty parts kept", "db..t", "db..t"},
      {"plain name kept", "user_2", "user_2"},
      {"empty name kept", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Base().NormalizeName(c.Input, c.Flag), c.Expected);
  }
  const TNameCase backquoted[] = {
      {"part in the class's quotes requoted", "\"a b\".c", "`a b`.c"},
      {"embedded backquote doubled", "a`b", "`a``b`"},
      {"forced", "db.t", "`db`.`t`", true},
      {"plain name kept", "user", "user"},
      {"the class's own quote inside still needs quotes", "a\"b", "`a\"b`"},
      // 0x81 0x60 is one GBK character whose trail byte is a backquote: it is not doubled, and a
      // closing backquote is not mistaken inside it.
      {"GBK trail byte equal to the quote", "\x81\x60", "`\x81\x60`"},
      {"lead byte before the closing quote", "`\x81`", "```\x81``"},
  };
  for (const auto& c : backquoted) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Base().NormalizeNameEx(c.Input, '`', '`', c.Flag), c.Expected);
  }
}

class TBackquoteTableInfoClass : public TCRTableInfoClass {
 public:
  char LeftQuote() const override { return '`'; }
  char RightQuote() const override { return '`'; }
};

// The first item whose name (alias) equals the key, ignoring ASCII case: what a lookup must answer.
int FirstEqual(const TCRTablesInfo& tables, const std::string& key, bool alias) {
  for (int i = 0; i < tables.GetCount(); ++i) {
    const std::string& name = alias ? tables[i]->GetTableAlias() : tables[i]->GetTableName();
    if (name.size() != key.size()) continue;
    bool same = true;
    for (size_t c = 0; c < key.size() && same; ++c)
      same = std::tolower(static_cast<unsigned char>(name[c])) ==
             std::tolower(static_cast<unsigned char>(key[c]));
    if (same) return i;
  }
  return -1;
}

TEST(CRTablesInfoTest, LookupsAnswerTheFirstEqualItemAfterEveryChange) {
  // Fewer tables than the index is built for, and more.
  for (int count : {3, 40}) {
    SCOPED_TRACE(count);
    TCRTablesInfo tables;
    for (int i = 0; i < count; ++i) {
      TCRTableInfo* t = tables.Add();
      t->SetTableName("t" + std::to_string(i % (count - 1)));  // the last repeats the first name
      t->SetTableAlias("a" + std::to_string(i));
    }
    const std::vector<std::string> keys = {"t0", "T1", "t2", "a0", "A2", "t" + std::to_string(count), "a1"};
    auto check = [&](const char* when) {
      SCOPED_TRACE(when);
      for (const std::string& key : keys) {
        SCOPED_TRACE(key);
        EXPECT_EQ(tables.IndexByName(key), FirstEqual(tables, key, false));
        EXPECT_EQ(tables.IndexByAlias(key), FirstEqual(tables, key, true));
      }
    };
    check("as added");
    tables[0]->SetTableName("t" + std::to_string(count));
    tables[1]->SetTableAlias("a0");
    check("renamed one by one");
    tables.BeginUpdate();
    tables[2]->SetTableName("T1");
    tables[0]->SetTableAlias("x");
    check("renamed in an update");
    tables.EndUpdate();
    check("after the update");
    tables.Clear();
    check("cleared");
  }
}

TEST(CRFieldDescTest, NormalizedNameIsOneIdentifier) {
  TCRFieldDesc field;
  const TNameCase cases[] = {
      {"plain", "id", "id"},
      {"plain, quoted on request", "id", "\"id\"", true},
      {"a point does not split a column name", "a.b", "\"a.b\""},
      {"embedded quote doubled", "x\"y", "\"x\"\"y\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    field.Name = c.Input;  // the cache follows the name
    EXPECT_EQ(field.GetNormalizedName(c.Flag), c.Expected);
  }
  TBackquoteTableInfoClass backquotes;
  field.Name = "my col";
  EXPECT_EQ(field.GetNormalizedName(false), "\"my col\"");
  field.SetTableInfoClass(backquotes);
  EXPECT_EQ(field.GetNormalizedName(false), "`my col`");
}

}  // namespace
