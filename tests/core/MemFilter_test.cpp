#include "core/MemFilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/DAConsts.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"

namespace {

// Fields by name; a record is a vector of values indexed by field number - 1. The field "When"
// holds dates.
class FakeHost : public TFilterHost {
 public:
  explicit FakeHost(std::vector<std::string> names) : FNames(std::move(names)) {}
  int FilterFieldNo(std::string_view name) override {
    for (size_t i = 0; i < FNames.size(); ++i)
      if (FNames[i] == name) return static_cast<int>(i) + 1;
    return 0;
  }
  bool FilterFieldIsDateTime(int fieldNo) override { return FNames.at(fieldNo - 1) == "When"; }
  Variant FilterFieldValue(int fieldNo, const void* recBuf) override {
    return static_cast<const std::vector<Variant>*>(recBuf)->at(fieldNo - 1);
  }
  bool FilterCaseInsensitive() override { return CaseInsensitive; }
  bool FilterNoPartialCompare() override { return NoPartialCompare; }
  bool CaseInsensitive = false, NoPartialCompare = false;

 private:
  std::vector<std::string> FNames;
};

FakeHost MakeHost() {
  return FakeHost({"Name", "Level", "Price", "When", "Guild Name", "obj.attr", "Id"});
}

std::vector<Variant> Rec(Variant name, Variant level = Variant::Null(), Variant price = Variant::Null(),
                         Variant when = Variant::Null()) {
  return {name, level, price, when, Variant("Lions"), Variant(7), Variant(9007199254740992LL)};
}

bool Passes(FakeHost& host, const std::string& filter, const std::vector<Variant>& rec) {
  return TExpressionTree(filter, host).Evaluate(&rec);
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

TEST(FilterTest, Conditions) {
  const Variant day = Variant::FromDateTime(EncodeDate(2024, 1, 2));
  const struct {
    const char* filter;
    std::vector<Variant> rec;
    bool passes;
  } cases[] = {
      {"Level = 1 OR Price = 2 AND Id = 3", Rec("x", 1, 0), true},  // AND binds tighter than OR
      {"(Level = 1 OR Price = 2) AND Id = 3", Rec("x", 1, 0), false},
      {"NOT Level = 1 OR Price = 0", Rec("x", 1, 0), true},  // NOT binds tighter than OR
      {"Name = 'Jo*'", Rec("John"), true},
      {"Name LIKE 'J_hn'", Rec("Joohn"), false},
      {"Name <> 'A%'", Rec("Ann"), false},
      {"Name = 'O''Brien'", Rec("O'Brien"), true},
      {"Level > 5", Rec("x", Variant::Null()), false},
      {"Level IS NULL", Rec("x", Variant::Null()), true},
      {"Name IS NULL", Rec(""), false},  // empty text is not null, even as a mask
      {"Name = NULL", Rec(Variant::Null()), true},
      {"Name <> 'x'", Rec(Variant::Null()), true},
      {"Level >= 6 and Level < 7", Rec("x", Variant(6)), true},
      {"Price = -1.5", Rec("x", Variant(1), Variant(-1.5)), true},
      {"Price < +1", Rec("x", Variant(1), Variant(-1.5)), true},
      {"Level = '5'", Rec("x", Variant(5)), true},
      {"[Guild Name] = 'Lions'", Rec("x"), true},
      {"obj.attr = 7", Rec("x"), true},
      {"Id = 9007199254740993", Rec("x"), false},  // whole numbers stay exact
      {"FALSE or not false", Rec("x"), true},
      {"When = '2024-01-02'", Rec("x", 1, 1, day), true},
      {"'2024-01-02' = When", Rec("x", 1, 1, day), true},
  };
  FakeHost host = MakeHost();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    EXPECT_EQ(Passes(host, c.filter, c.rec), c.passes);
  }
  EXPECT_THROW(Passes(host, "Level > 'abc'", Rec("x", Variant(1))), EConvertError);
  EXPECT_THROW(Passes(host, "When = 'not a date'", Rec("x", 1, 1, day)), EConvertError);
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
  const std::pair<std::string, std::string> cases[] = {
      {"Level = 1)", illegal},
      {"(Level = 1", illegal},
      {"Level", illegal},
      {"Level IS NOT 5", illegal},
      {"Price = -'a'", illegal},
      {"NULL = Level", illegal},
      {"[Guild Name = 'x'", illegal},
      {"Level = 1 AND", illegal},
      {"Nope = 1", "db: Field Nope not found"},
      {"Name = 'x' or obj.nope = 1", "db: Field obj.nope not found"},
  };
  FakeHost host = MakeHost();
  for (const auto& [filter, error] : cases) {
    SCOPED_TRACE(filter);
    EXPECT_EQ(ErrorOf(host, filter), error);
  }
}

TEST(FilterTest, NestingIsBoundedAndLongChainsEvaluate) {
  FakeHost host({"A"});
  const std::vector<Variant> rec{Variant(3)};
  const int depth = TExpressionTree::MaxNesting - 1;
  EXPECT_TRUE(Passes(host, std::string(depth, '(') + "A = 3" + std::string(depth, ')'), rec));
  EXPECT_EQ(ErrorOf(host, std::string(100000, '(') + "A = 3" + std::string(100000, ')')),
            MessageText(SIllegalFilter));
  std::string nots, chain = "A = 0", ands = "A = 3";
  for (int i = 1; i < 100000; ++i) {
    nots += "NOT ";
    chain += " OR A = " + std::to_string(i % 1000 + 10);
    ands += " AND A > 0";
  }
  EXPECT_EQ(ErrorOf(host, nots + "A = 3"), MessageText(SIllegalFilter));
  EXPECT_FALSE(Passes(host, chain, rec));
  EXPECT_TRUE(Passes(host, chain + " OR A = 3", rec));
  EXPECT_TRUE(Passes(host, ands, rec));
}

TEST(MaskTest, Matches) {
  const struct {
    std::string text, mask;
    bool match;
  } cases[] = {
      {"", "", true},
      {"", "*", true},
      {"", "_", false},
      {"a", "", false},
      {"abc", "*b*", true},
      {"abc", "a%c", true},
      {"abc", "a_c", true},
      {"abc", "a__c", false},
      {"abc", "ab", false},
      {"ab", "abc", false},
      {"abcbd", "a*bd", true},
      {"ABC", "abc", false},
      // GBK: "_" takes a whole character; 81 5F is one character, not a byte and a "_".
      {"\xd5\xc5\xcd\xf5", "__", true},
      {"\xd5\xc5\xcd\xf5", "_", false},
      {"\xd5\xc5\xcd\xf5", "\xd5\xc5*", true},
      {"\x81\x41", "\x81\x5f", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.mask);
    EXPECT_EQ(MatchesMask(c.text, c.mask), c.match);
  }
  EXPECT_TRUE(MatchesMask(u"\U0001F600x", u"_x"));
  EXPECT_FALSE(MatchesMask(u"\U0001F600x", u"__x"));
  // Many stars on a long text that never matches finish in O(text x mask).
  EXPECT_FALSE(MatchesMask(std::string(20000, 'a'), "*a*a*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
