#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/LocaleCompare.h"
#include "tests/core/MemDataStoreTestStore.h"

namespace {

constexpr uint16_t R = RefFieldSize;
using Row = std::vector<std::pair<std::string, Variant>>;

int Sign(int v) {
  return v < 0 ? -1 : v > 0 ? 1 : 0;
}
template <class T>
int ThreeWay(const T& a, const T& b) {
  return a < b ? -1 : b < a ? 1 : 0;
}

// ---- Each type group against a stable reference sort -------------------------------------------

struct GroupCase {
  const char* name;
  StoreField field;
  std::function<Variant(std::mt19937&)> value;
  std::function<int(const Variant&, const Variant&)> reference;  // both values non-null
  const char* words = "";                                        // order and case words after the name
};

template <class T>
const T& Pick(std::mt19937& rng, const std::vector<T>& from) {
  return from[rng() % from.size()];
}

std::string RandomText(std::mt19937& rng) {
  static const std::vector<std::string> parts = {"a", "A", "b", "B", "\xD6\xD0", "\xCE\xC4", "1", "_", " "};
  std::string s;
  for (unsigned n = rng() % 4; n > 0; --n) s += Pick(rng, parts);
  return s;
}

std::tuple<int, int, int, int, int, int, int> DateParts(const Variant& v) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(v.AsDateTime(), y, mo, d, h, mi, s, ms);
  return {y, mo, d, h, mi, s, ms};
}

std::vector<GroupCase> GroupCases() {
  auto small = [](std::mt19937& rng) { return static_cast<int>(rng() % 7) - 3; };
  return {
      {"int32",
       {"F", dtInt32, 4},
       [=](std::mt19937& r) { return Variant(small(r) * 1000003); },
       [](const Variant& a, const Variant& b) { return ThreeWay(a.AsInt64(), b.AsInt64()); }},
      {"int64",
       {"F", dtInt64, 8},
       [=](std::mt19937& r) { return Variant(static_cast<long long>(small(r)) << 40); },
       [](const Variant& a, const Variant& b) { return ThreeWay(a.AsInt64(), b.AsInt64()); }},
      {"uint32",
       {"F", dtUInt32, 4},
       [](std::mt19937& r) { return Variant(static_cast<long long>(r() % 5) * 1000000000); },
       [](const Variant& a, const Variant& b) { return ThreeWay(a.AsInt64(), b.AsInt64()); }},
      {"float",
       {"F", dtFloat, 8},
       [=](std::mt19937& r) { return Variant(small(r) * 0.75); },
       [](const Variant& a, const Variant& b) { return ThreeWay(a.AsDouble(), b.AsDouble()); }},
      {"date-time across 1899",
       {"F", dtDateTime, 8},
       [](std::mt19937& r) {
         return Variant::FromDateTime(EncodeDateTime(1899 - static_cast<int>(r() % 2), 12,
                                                     28 + static_cast<int>(r() % 3),
                                                     static_cast<int>(r() % 3) * 9, 0, 0, 0));
       },
       [](const Variant& a, const Variant& b) { return ThreeWay(DateParts(a), DateParts(b)); }},
      {"boolean",
       {"F", dtBoolean, 2},
       [](std::mt19937& r) { return Variant(r() % 2 == 0); },
       [](const Variant& a, const Variant& b) { return ThreeWay(a.AsBoolean(), b.AsBoolean()); }},
      {"BCD",
       {"F", dtBCD, 8},
       [=](std::mt19937& r) { return Variant(Currency::FromScaled(small(r) * 12345)); },
       [](const Variant& a, const Variant& b) {
         return ThreeWay(a.AsCurrency().Scaled, b.AsCurrency().Scaled);
       }},
      {"FMTBcd",
       {"F", dtFmtBCD, 34, 20},
       [](std::mt19937& r) {
         return Variant(StrToBcd(Pick(r, std::vector<std::string>{"-1.5", "0", "2.25", "10", "-10"})));
       },
       [](const Variant& a, const Variant& b) { return Sign(BcdCompare(a.AsBcd(), b.AsBcd())); }},
      {"string",
       {"F", dtString, 21, 20},
       [](std::mt19937& r) { return Variant(RandomText(r)); },
       [](const Variant& a, const Variant& b) {
         return LocaleCompareAnsi(a.AsString(), b.AsString(), false);
       }},
      {"string case-insensitive",
       {"F", dtExtString, R, 20},
       [](std::mt19937& r) { return Variant(RandomText(r)); },
       [](const Variant& a, const Variant& b) { return LocaleCompareAnsi(a.AsString(), b.AsString(), true); },
       "CIS"},
      {"wide string",
       {"F", dtExtWideString, R, 20},
       [](std::mt19937& r) {
         return Variant(Pick(r, std::vector<std::u16string>{u"a", u"B", u"\u4E2D", u"\u00E9", u""}));
       },
       [](const Variant& a, const Variant& b) {
         return LocaleCompareWide(a.AsWideString(), b.AsWideString(), false);
       }},
      {"bytes",
       {"F", dtExtVarBytes, R, 10},
       [](std::mt19937& r) {
         std::vector<uint8_t> b(r() % 4);
         for (uint8_t& x : b) x = Pick(r, std::vector<uint8_t>{0x00, 0x01, 0x80, 0xFF});
         return Variant::FromBytes(b);
       },
       [](const Variant& a, const Variant& b) { return ThreeWay(a.AsBytes(), b.AsBytes()); }},
      {"memo",
       {"F", dtMemo, R},
       [](std::mt19937& r) { return Variant(RandomText(r)); },
       [](const Variant& a, const Variant& b) {
         return LocaleCompareAnsi(a.AsString(), b.AsString(), false);
       }},
      {"variant",
       {"F", dtVariant, R},
       [=](std::mt19937& r) { return Variant(small(r)); },
       [](const Variant& a, const Variant& b) { return Sign(VarCompare(a, b)); }},
  };
}

TEST(SortStore, EveryTypeGroupSortsLikeAStableReference) {
  for (const GroupCase& c : GroupCases()) {
    for (bool descending : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (descending ? " descending" : ""));
      TTestMemData store({{"ID", dtInt32, 4}, c.field});
      store.Open();
      std::mt19937 rng(99);
      std::vector<std::optional<Variant>> model;
      for (int id = 0; id < 120; ++id) {
        std::optional<Variant> v;
        if (rng() % 6 != 0) v = c.value(rng);
        model.push_back(v);
        Row row{{"ID", Variant(id)}};
        if (v) row.emplace_back("F", *v);
        store.Append(row);
      }
      std::vector<int> want(model.size());
      for (size_t i = 0; i < want.size(); ++i) want[i] = static_cast<int>(i);
      // Nulls first ascending; the descending order reverses everything, so nulls come last.
      std::stable_sort(want.begin(), want.end(), [&](int a, int b) {
        const auto& va = model[static_cast<size_t>(a)];
        const auto& vb = model[static_cast<size_t>(b)];
        int r = !va || !vb ? ThreeWay(va.has_value(), vb.has_value()) : c.reference(*va, *vb);
        return descending ? r > 0 : r < 0;
      });
      store.SetIndexFieldNames(std::string("F ") + c.words + (descending ? " DESC" : ""));
      ASSERT_EQ(store.IntColumn("ID"), want);
      ASSERT_EQ(store.GetRecordCount(), 120);
      store.SetRecordNo(60);
      EXPECT_EQ(store.Value("ID").AsInteger(), want[59]);
    }
  }
}

// ---- A sorted store of (ID, NAME, AGE, CALC) --------------------------------------------------

std::vector<StoreField> PeopleFields() {
  return {{"ID", dtInt32, 4},  {"NAME", dtString, 21, 20},
          {"AGE", dtInt32, 4}, {"First Name", dtString, 11, 10},
          {"V", dtVariant, R}, {"MINUS_AGE", dtInt32, 4, 0, fdkCalculated}};
}

class SortedStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.OnCalcFields = [this](void* buf) {
      const int age =
          store.GetNull(store.No("AGE"), buf) ? 0 : store.GetFieldAsVariant(store.No("AGE"), buf).AsInteger();
      store.PutFieldAsVariant(store.No("MINUS_AGE"), buf, Variant(-age));
    };
    store.Open();
  }
  void Add(int id, const char* name, int age) {
    store.Append({{"ID", Variant(id)}, {"NAME", Variant(name)}, {"AGE", Variant(age)}});
  }
  void ExpectIds(const std::vector<int>& ids) { store.ExpectNumbering(ids); }
  void GoToId(int id) {
    store.SetToBegin();
    for (store.GetNextRecord(nullptr); !store.GetEof(); store.GetNextRecord(nullptr))
      if (store.Value("ID").AsInteger() == id) return;
    FAIL() << "no record " << id;
  }

  TTestMemData store{PeopleFields()};
};

TEST_F(SortedStoreTest, SortColumnsWithOrderAndTies) {
  Add(1, "bob", 30);
  Add(2, "Amy", 20);
  Add(3, "bob", 10);
  Add(4, "amy", 40);
  Add(5, "Cid", 20);
  store.SetIndexFieldNames("NAME DESC; AGE");
  ExpectIds({5, 3, 1, 2, 4});  // "bob" twice, younger first; locale order puts amy before Amy
  store.SetIndexFieldNames("NAME CIS, ID DESC");
  ExpectIds({4, 2, 3, 1, 5});
  store.SetIndexFieldNames("MINUS_AGE");  // a calculated column
  ExpectIds({4, 1, 2, 5, 3});
  store.SetIndexFieldNames("[First Name]; ID DESC");  // all null: the second column decides
  ExpectIds({5, 4, 3, 2, 1});
  store.SetIndexFieldNames("");
  ExpectIds({5, 4, 3, 2, 1});  // unsorted: the order stays
}

TEST_F(SortedStoreTest, ARefusedTextLeavesTheStoreUnsorted) {
  for (int i = 1; i <= 4; ++i) Add(i, "x", 10 * (5 - i));
  store.SetIndexFieldNames("AGE");
  ExpectIds({4, 3, 2, 1});
  for (const char* text : {"AGE DESC ASC", "AGE CS CIS", "NOPE", "AGE;;ID"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(store.SetIndexFieldNames(text), Exception);
    EXPECT_EQ(store.SortColumns().Count(), 0);
  }
  // Unsorted: an insert stays where the cursor put it.
  store.SetToEnd();
  Add(9, "x", 1);
  ExpectIds({4, 3, 2, 1, 9});
}

TEST_F(SortedStoreTest, AComparisonThatFailsKeepsEveryRecordAndLeavesTheStoreUnsorted) {
  store.Append({{"ID", Variant(1)}, {"V", Variant("text")}});
  store.Append({{"ID", Variant(2)}, {"V", Variant::FromBytes({1, 2})}});
  store.Append({{"ID", Variant(3)}, {"V", Variant("more")}});
  EXPECT_THROW(store.SetIndexFieldNames("V"), EConvertError);
  EXPECT_EQ(store.SortColumns().Count(), 0);
  std::vector<int> ids = store.IntColumn("ID");
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3}));
  ExpectIds(store.IntColumn("ID"));
}

TEST_F(SortedStoreTest, InsertedAndUpdatedRecordsMoveToTheirPlace) {
  for (int i = 1; i <= 5; ++i) Add(i, "x", i * 10);  // ages 10..50
  store.SetIndexFieldNames("AGE");
  struct Insert {
    const char* where;
    int id, age;
  } inserts[] = {{"bof", 6, 35}, {"eof", 7, 5}, {"middle", 8, 60}, {"middle", 9, 30}};
  for (const Insert& in : inserts) {
    SCOPED_TRACE(in.id);
    if (std::string(in.where) == "bof")
      store.SetToBegin();
    else if (std::string(in.where) == "eof")
      store.SetToEnd();
    else
      store.SetRecordNo(3);
    store.Insert({{"ID", Variant(in.id)}, {"NAME", Variant("x")}, {"AGE", Variant(in.age)}});
    EXPECT_EQ(store.Value("ID").AsInteger(), in.id);  // the cursor is on the new record
  }
  ExpectIds({7, 1, 2, 9, 3, 6, 4, 5, 8});  // a tie stops the move: 9 stays before the other 30
  GoToId(7);
  store.Update({{"AGE", Variant(45)}});
  EXPECT_EQ(store.Value("ID").AsInteger(), 7);
  EXPECT_EQ(store.GetRecordNo(), 7);
  ExpectIds({1, 2, 9, 3, 6, 4, 7, 5, 8});
  GoToId(8);
  store.Update({{"AGE", Variant(0)}});
  EXPECT_EQ(store.GetRecordNo(), 1);
  ExpectIds({8, 1, 2, 9, 3, 6, 4, 7, 5});
}

// Locate's comparison: a key against a field of the current record.
TEST_F(SortedStoreTest, KeysMeetFieldsTheWaySortingDoes) {
  Add(1, "bob  ", 30);
  store.Append({{"ID", Variant(2)}});  // NAME null
  void* rec = store.AllocRecBuf();
  store.SetRecordNo(1);
  store.GetRecord(rec);
  const TFieldDesc& name = *store.FieldByName("NAME");
  EXPECT_NE(store.CompareFields("bob ", dtString, 0, rec, name), 0);
  store.TrimVarChar = true;  // both sides lose their trailing blanks
  EXPECT_EQ(store.CompareFields("bob ", dtString, 0, rec, name), 0);
  EXPECT_EQ(store.CompareFields("BO", dtString, coPartialKey | coCaseInsensitive, rec, name), 0);
  const int32_t age = 31;
  EXPECT_EQ(store.CompareFields(&age, dtInt32, 0, rec, *store.FieldByName("AGE")), 1);
  store.SetRecordNo(2);
  store.GetRecord(rec);
  EXPECT_EQ(store.CompareFields("", dtString, 0, rec, name), 1);  // a null field comes first
  TData::FreeRecBuf(rec);
}

// A store whose every Open brings the same records in the same order, as a query would.
class TReloadingStore : public TTestMemData {
 public:
  TReloadingStore() : TTestMemData({{"ID", dtInt32, 4}, {"AGE", dtInt32, 4}}) {}

 protected:
  void InternalOpen() override {
    TTestMemData::InternalOpen();
    for (int id : {1, 2, 3, 4}) Append({{"ID", Variant(id)}, {"AGE", Variant(id % 2 ? id : -id)}});
  }
};

TEST(SortStore, ReopenSortsTheNewRecordsAgain) {
  TReloadingStore store;
  store.Open();
  store.SetIndexFieldNames("AGE DESC");
  store.ExpectNumbering({3, 1, 2, 4});
  store.Reopen();
  store.ExpectNumbering({3, 1, 2, 4});
  EXPECT_THROW(store.SetIndexFieldNames("NOPE"), EDatabaseError);  // refused: not kept for the next open
  store.Reopen();
  store.ExpectNumbering({1, 2, 3, 4});
}

}  // namespace
