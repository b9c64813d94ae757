#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/DAConsts.h"
#include "core/MemFilter.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"

namespace {

// Fields by name; a record is a vector of values indexed by field number - 1.
class FakeHost : public TFilterHost {
 public:
  struct Field {
    std::string Name;
    bool IsDate = false;
  };
  explicit FakeHost(std::vector<Field> fields) : FFields(std::move(fields)) {}

  int FilterFieldNo(std::string_view name) override {
    for (size_t i = 0; i < FFields.size(); ++i)
      if (FFields[i].Name == name) return static_cast<int>(i) + 1;
    return 0;
  }
  bool FilterFieldIsDateTime(int fieldNo) override { return FFields.at(fieldNo - 1).IsDate; }
  Variant FilterFieldValue(int fieldNo, const void* recBuf) override {
    return static_cast<const std::vector<Variant>*>(recBuf)->at(fieldNo - 1);
  }
  bool FilterCaseInsensitive() override { return CaseInsensitive; }
  bool FilterNoPartialCompare() override { return NoPartialCompare; }

  bool CaseInsensitive = false;
  bool NoPartialCompare = false;

 private:
  std::vector<Field> FFields;
};

FakeHost::Field F(std::string name) { return {std::move(name), false}; }

// Name, Level, Price, When (a date field), Guild Name, obj.attr, Id.
FakeHost MakeHost() {
  return FakeHost({F("Name"), F("Level"), F("Price"), {"When", true}, F("Guild Name"), F("obj.attr"), F("Id")});
}

std::vector<Variant> Rec(Variant name, Variant level = Variant::Null(), Variant price = Variant::Null(),
                         Variant when = Variant::Null()) {
  return {name, level, price, when, Variant("Lions"), Variant(7), Variant(9007199254740992LL)};
}

bool Passes(FakeHost& host, const std::string& filter, const std::vector<Variant>& rec) {
  TExpressionTree tree(filter, host);
  return tree.Evaluate(&rec);
}

std::string ErrorOf(FakeHost& host, const std::string& filter) {
  try {
    TExpressionTree tree(filter, host);
  } catch (const EDatabaseError& e) {
    return "db: " + e.Message();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

}  // namespace

TEST(BoolParserTest, FilterSymbolsKeywordsAndQuotes) {
  TBoolParser parser("a<=b and [x y] <> 'it''s' IS not null -1.5");
  std::string lexem;
  std::vector<std::pair<int, std::string>> got;
  for (int code = parser.GetNext(lexem); code != lcEnd; code = parser.GetNext(lexem)) got.emplace_back(code, lexem);
  const std::vector<std::pair<int, std::string>> want = {
      {lcIdent, "a"},    {fcLessEqual, "<="},  {lcIdent, "b"},      {fcAnd, "AND"},     {fcLeftBracket, "["},
      {lcIdent, "x"},    {lcIdent, "y"},       {fcRightBracket, "]"}, {fcNotEqual, "<>"}, {lcString, "it''s"},
      {fcIs, "IS"},      {fcNot, "NOT"},       {fcNull, "NULL"},    {fcMinus, "-"},     {lcNumber, "1.5"}};
  EXPECT_EQ(got, want);
}

TEST(BoolParserTest, UnterminatedStringRunsToTheEnd) {
  TBoolParser parser("'abc''");
  std::string lexem;
  EXPECT_EQ(parser.GetNext(lexem), lcString);
  EXPECT_EQ(lexem, "abc''");
  EXPECT_EQ(parser.GetNext(lexem), lcEnd);
}

TEST(FilterTest, AndBindsTighterThanOr) {
  FakeHost host({F("A"), F("B"), F("C")});
  TExpressionTree tree("A = 1 OR B = 2 AND C = 3", host);
  ASSERT_EQ(tree.Root()->NodeType, ntOr);
  EXPECT_EQ(tree.Root()->LeftOperand->NodeType, ntEqual);
  EXPECT_EQ(tree.Root()->RightOperand->NodeType, ntAnd);
  for (int mask = 0; mask < 8; ++mask) {
    const bool a = mask & 1, b = mask & 2, c = mask & 4;
    const std::vector<Variant> rec{Variant(a ? 1 : 0), Variant(b ? 2 : 0), Variant(c ? 3 : 0)};
    SCOPED_TRACE(mask);
    EXPECT_EQ(tree.Evaluate(&rec), a || (b && c));
  }
  TExpressionTree grouped("(A = 1 OR B = 2) AND NOT C = 3", host);
  for (int mask = 0; mask < 8; ++mask) {
    const bool a = mask & 1, b = mask & 2, c = mask & 4;
    const std::vector<Variant> rec{Variant(a ? 1 : 0), Variant(b ? 2 : 0), Variant(c ? 3 : 0)};
    SCOPED_TRACE(mask);
    EXPECT_EQ(grouped.Evaluate(&rec), (a || b) && !c);
  }
}

TEST(FilterTest, Conditions) {
  struct Case {
    const char* filter;
    std::vector<Variant> rec;
    bool passes;
  };
  const TDateTime day = EncodeDate(2024, 1, 2);
  const std::vector<Case> cases = {
      {"Name = 'Jo*'", Rec("John"), true},
      {"Name = 'Jo*'", Rec("Jim"), false},
      {"Name LIKE 'J_hn'", Rec("John"), true},
      {"Name LIKE 'J_hn'", Rec("Joohn"), false},
      {"Name <> 'A%'", Rec("Bob"), true},
      {"Name <> 'A%'", Rec("Ann"), false},
      {"Name = 'O''Brien'", Rec("O'Brien"), true},
      {"Level > 5", Rec("x", Variant::Null()), false},
      {"Level <= 5", Rec("x", Variant::Null()), false},
      {"Level IS NULL", Rec("x", Variant::Null()), true},
      {"Level IS NOT NULL", Rec("x", Variant::Null()), false},
      {"Level is not null", Rec("x", Variant(3)), true},
      {"Name IS NULL", Rec(""), false},  // empty text is not null, even as a mask
      {"Name = NULL", Rec(Variant::Null()), true},
      {"Name = 'x'", Rec(Variant::Null()), false},
      {"Name <> 'x'", Rec(Variant::Null()), true},
      {"Level > 5", Rec("x", Variant(6)), true},
      {"Level >= 6 and Level < 7", Rec("x", Variant(6)), true},
      {"Price = -1.5", Rec("x", Variant(1), Variant(-1.5)), true},
      {"Price > -2", Rec("x", Variant(1), Variant(-1.5)), true},
      {"Price < +1", Rec("x", Variant(1), Variant(-1.5)), true},
      {"Level = '5'", Rec("x", Variant(5)), true},
      {"[Guild Name] = 'Lions'", Rec("x"), true},
      {"obj.attr = 7", Rec("x"), true},
      {"Id = 9007199254740993", Rec("x"), false},  // whole numbers stay exact
      {"Id = 9007199254740992", Rec("x"), true},
      {"TRUE", Rec("x"), true},
      {"FALSE or not false", Rec("x"), true},
      {"When = '2024-01-02'", Rec("x", 1, 1, Variant::FromDateTime(day)), true},
      {"When > '2024-01-01 12:00:00'", Rec("x", 1, 1, Variant::FromDateTime(day)), true},
      {"When < '2024-01-01'", Rec("x", 1, 1, Variant::FromDateTime(day)), false},
      {"'2024-01-02' = When", Rec("x", 1, 1, Variant::FromDateTime(day)), true},
  };
  FakeHost host = MakeHost();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    EXPECT_EQ(Passes(host, c.filter, c.rec), c.passes);
  }
}

TEST(FilterTest, PartialCompareAndCase) {
  FakeHost host = MakeHost();
  host.NoPartialCompare = true;
  EXPECT_FALSE(Passes(host, "Name = 'Jo*'", Rec("John")));
  EXPECT_TRUE(Passes(host, "Name = 'Jo*'", Rec("Jo*")));
  host.NoPartialCompare = false;
  EXPECT_FALSE(Passes(host, "Name = 'jo*'", Rec("John")));
  host.CaseInsensitive = true;
  EXPECT_TRUE(Passes(host, "Name = 'jo*'", Rec("John")));
  EXPECT_TRUE(Passes(host, "Name > 'ja'", Rec("JB")));
  EXPECT_TRUE(Passes(host, "Name = 'x\xa3\xe1'", Rec("X\xa3\xc1")));  // full-width letters too
  // The GBK characters B0 61 and B0 41 differ only in a trail byte that looks like a letter.
  EXPECT_FALSE(Passes(host, "Name = '\xb0\x41'", Rec("\xb0\x61")));
  EXPECT_TRUE(Passes(host, "Name = '\xb0\x61*'", Rec("\xb0\x61z")));
  EXPECT_TRUE(Passes(host, "Name = 'abc'", Rec(u"ABC")));
}

TEST(FilterTest, BadFiltersRaise) {
  const std::string illegal = MessageText(SIllegalFilter);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Level = 1)", illegal},
      {"(Level = 1", illegal},
      {"Level = 1 Level", illegal},
      {"Level =", illegal},
      {"Level", illegal},
      {"Level IS 5", illegal},
      {"Level IS NOT 5", illegal},
      {"Price = -'a'", illegal},
      {"Price = - Level", illegal},
      {"NOT", illegal},
      {"()", illegal},
      {"NULL = Level", illegal},
      {"[Guild Name = 'x'", illegal},
      {"obj. = 1", illegal},
      {"Level = 1 AND", illegal},
      {"Nope = 1", "db: Field Nope not found"},
      {"[Guild  Name] = 1", "db: Field Guild  Name not found"},
      {"Name = 'x' or obj.nope = 1", "db: Field obj.nope not found"},
  };
  FakeHost host = MakeHost();
  for (const auto& [filter, error] : cases) {
    SCOPED_TRACE(filter);
    EXPECT_EQ(ErrorOf(host, filter), error);
  }
}

TEST(FilterTest, NestingIsBoundedAndLongChainsEvaluate) {
  FakeHost host({F("A")});
  const std::vector<Variant> rec{Variant(3)};
  const int depth = TExpressionTree::MaxNesting - 1;
  std::string nested = std::string(depth, '(') + "A = 3" + std::string(depth, ')');
  EXPECT_TRUE(Passes(host, nested, rec));
  std::string tooDeep = std::string(100000, '(') + "A = 3" + std::string(100000, ')');
  EXPECT_EQ(ErrorOf(host, tooDeep), MessageText(SIllegalFilter));
  EXPECT_EQ(ErrorOf(host, std::string(100000, 'N') + "A = 3"), "db: Field " + std::string(100000, 'N') + "A not found");
  std::string nots;
  for (int i = 0; i < 100000; ++i) nots += "NOT ";
  EXPECT_EQ(ErrorOf(host, nots + "A = 3"), MessageText(SIllegalFilter));

  std::string chain = "A = 0";
  for (int i = 1; i < 100000; ++i) chain += " OR A = " + std::to_string(i % 1000 + 10);
  EXPECT_FALSE(Passes(host, chain, rec));
  EXPECT_TRUE(Passes(host, chain + " OR A = 3", rec));
  std::string ands = "A = 3";
  for (int i = 1; i < 100000; ++i) ands += " AND A > 0";
  EXPECT_TRUE(Passes(host, ands, rec));
}

TEST(FilterTest, ValuesThatCannotBeComparedRaiseOnEvaluation) {
  FakeHost host = MakeHost();
  EXPECT_THROW(Passes(host, "Level > 'abc'", Rec("x", Variant(1))), EConvertError);
  EXPECT_THROW(Passes(host, "When = 'not a date'", Rec("x", 1, 1, Variant::FromDateTime(1.0))), EConvertError);
}

TEST(MaskTest, Matches) {
  struct Case {
    std::string text, mask;
    bool match;
  };
  const std::vector<Case> cases = {
      {"", "", true},         {"", "*", true},          {"", "_", false},       {"a", "", false},
      {"abc", "a*", true},    {"abc", "*c", true},      {"abc", "*b*", true},   {"abc", "a%c", true},
      {"abc", "a_c", true},   {"abc", "a__c", false},   {"abc", "ab", false},   {"ab", "abc", false},
      {"aXbXc", "a*b*c", true}, {"abcbd", "a*b?", false}, {"abcbd", "a*bd", true}, {"abc", "**", true},
      {"a*c", "a*c", true},   {"ABC", "abc", false},
      // GBK: "_" takes a whole character; 81 5F is one character, not a byte and a "_".
      {"\xd5\xc5\xcd\xf5", "__", true},        {"\xd5\xc5\xcd\xf5", "_", false},
      {"\xd5\xc5\xcd\xf5", "\xd5\xc5*", true}, {"\x81\x41", "\x81\x5f", false},
      {"\x81\x5f", "\x81\x5f", true},          {"x\xd5\xc5", "x_", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.mask);
    EXPECT_EQ(MatchesMask(c.text, c.mask), c.match);
  }
  EXPECT_TRUE(MatchesMask(u"\U0001F600x", u"_x"));
  EXPECT_FALSE(MatchesMask(u"\U0001F600x", u"__x"));
  // Many stars on a long text that never matches finish in O(text x mask).
  EXPECT_FALSE(MatchesMask(std::string(20000, 'a'), "*a*a*a*a*a*a*a*a*a*a*b"));
}
