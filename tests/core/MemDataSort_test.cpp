#include "core/MemDataSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/CLRClasses.h"
#include "platform/runtime/Exceptions.h"
#include "tests/core/MemDataTestStore.h"

namespace {

// ---- The merge sort over a linked chain -------------------------------------------------------

struct Node {
  Node* Prev = nullptr;
  Node* Next = nullptr;
  int Key = 0;
  int Seq = 0;
};

struct Chain {
  explicit Chain(const std::vector<int>& keys) : nodes(keys.size()) {
    for (size_t i = 0; i < keys.size(); ++i) {
      nodes[i].Key = keys[i];
      nodes[i].Seq = static_cast<int>(i);
      if (i > 0) {
        nodes[i].Prev = &nodes[i - 1];
        nodes[i - 1].Next = &nodes[i];
      }
    }
    first = keys.empty() ? nullptr : &nodes.front();
    last = keys.empty() ? nullptr : &nodes.back();
  }

  // The chain's (key, seq) pairs after checking that its links agree both ways.
  std::vector<std::pair<int, int>> Walk() const {
    std::vector<std::pair<int, int>> out;
    const Node* prev = nullptr;
    for (const Node* n = first; n; n = n->Next) {
      EXPECT_EQ(n->Prev, prev);
      out.emplace_back(n->Key, n->Seq);
      prev = n;
      if (out.size() > nodes.size()) break;
    }
    EXPECT_EQ(prev, last);
    return out;
  }

  std::vector<Node> nodes;
  Node* first;
  Node* last;
};

std::vector<std::pair<int, int>> StableReference(const std::vector<int>& keys) {
  std::vector<std::pair<int, int>> ref;
  for (size_t i = 0; i < keys.size(); ++i) ref.emplace_back(keys[i], static_cast<int>(i));
  std::stable_sort(ref.begin(), ref.end(), [](auto& a, auto& b) { return a.first < b.first; });
  return ref;
}

struct ChainCase {
  const char* name;
  std::vector<int> keys;
  bool inOrder;  // already sorted: n - 1 comparisons and no link changes
};

std::vector<ChainCase> ChainCases() {
  std::mt19937 rng(7);
  auto randomKeys = [&](size_t n, int range) {
    std::vector<int> k(n);
    for (int& v : k) v = static_cast<int>(rng() % static_cast<unsigned>(range));
    return k;
  };
  std::vector<int> ascending(3000), descending(3000), organ(3001), saw(4000);
  for (int i = 0; i < 3000; ++i) ascending[i] = i, descending[i] = 3000 - i;
  for (int i = 0; i <= 3000; ++i) organ[i] = std::min(i, 3000 - i);
  for (int i = 0; i < 4000; ++i) saw[i] = i % 37;
  return {
      {"empty", {}, true},
      {"one", {5}, true},
      {"two swapped", {2, 1}, false},
      {"all equal", std::vector<int>(2000, 4), true},
      {"ascending", ascending, true},
      {"descending", descending, false},
      {"organ pipe", organ, false},
      {"sawtooth", saw, false},
      {"many duplicates", randomKeys(5000, 8), false},
      {"random", randomKeys(20000, 1 << 30), false},
      {"large random", randomKeys(200000, 1000), false},
  };
}

TEST(MergeSortChain, SortsStablyWithinTheWorstCaseBound) {
  for (const ChainCase& c : ChainCases()) {
    SCOPED_TRACE(c.name);
    Chain chain(c.keys);
    std::vector<std::pair<Node*, Node*>> linksBefore;
    for (const Node& n : chain.nodes) linksBefore.emplace_back(n.Prev, n.Next);
    size_t comparisons = 0;
    MergeSortChain(chain.first, chain.last, [&](const Node* a, const Node* b) {
      ++comparisons;
      return a->Key < b->Key ? -1 : a->Key > b->Key ? 1 : 0;
    });
    EXPECT_EQ(chain.Walk(), StableReference(c.keys));
    const double n = static_cast<double>(c.keys.size());
    EXPECT_LE(static_cast<double>(comparisons), n * std::ceil(std::log2(n + 1)) + n);
    if (c.inOrder) {
      EXPECT_EQ(comparisons, c.keys.empty() ? 0 : c.keys.size() - 1);
      for (size_t i = 0; i < chain.nodes.size(); ++i) {
        EXPECT_EQ(chain.nodes[i].Prev, linksBefore[i].first);
        EXPECT_EQ(chain.nodes[i].Next, linksBefore[i].second);
      }
    }
  }
}

TEST(MergeSortChain, ComparisonErrorLeavesEveryItemLinkedOnce) {
  std::mt19937 rng(11);
  std::vector<int> keys(60);
  for (int& k : keys) k = static_cast<int>(rng() % 20);
  size_t total = 0;
  {
    Chain chain(keys);
    MergeSortChain(chain.first, chain.last,
                   [&](const Node* a, const Node* b) { return ++total, a->Key - b->Key; });
  }
  for (size_t failAt = 1; failAt <= total; ++failAt) {
    SCOPED_TRACE(failAt);
    Chain chain(keys);
    size_t calls = 0;
    EXPECT_THROW(MergeSortChain(chain.first, chain.last,
                                [&](const Node* a, const Node* b) {
                                  if (++calls == failAt) throw EConvertError("Cannot convert type");
                                  return a->Key - b->Key;
                                }),
                 EConvertError);
    std::set<int> seen;
    for (const auto& [key, seq] : chain.Walk()) EXPECT_TRUE(seen.insert(seq).second);
    EXPECT_EQ(seen.size(), keys.size());
  }
}

// ---- Bytes ------------------------------------------------------------------------------------

TEST(CompareBinaryValues, OrdersBytesLexicographicallyAndMatchesKeys) {
  using B = std::vector<uint8_t>;
  struct Case {
    const char* name;
    B a;
    int options;
    B b;
    int want;
  } cases[] = {
      {"equal", {1, 2, 3}, 0, {1, 2, 3}, 0},
      {"empty values", {}, 0, {}, 0},
      {"prefix goes first", {1, 2}, 0, {1, 2, 0}, -1},
      {"longer after its prefix", {1, 2, 0}, 0, {1, 2}, 1},
      {"empty before anything", {}, 0, {0}, -1},
      {"first byte decides, not a 4-byte word", {0, 0, 0, 1}, 0, {1, 0, 0, 0}, -1},
      {"bytes are unsigned", {0x80}, 0, {0x7F}, 1},
      {"shorter but greater", {2}, 0, {1, 9, 9}, 1},
      {"partial key matches a longer value", {1, 2}, coPartialKey, {1, 2, 3}, 0},
      {"partial key below", {1, 1}, coPartialKey, {1, 2, 3}, -1},
      {"partial key longer than the value", {1, 2, 3}, coPartialKey, {1, 2}, 1},
      {"partial compare finds inside", {2, 3}, coPartialCompare, {1, 2, 3, 4}, 0},
      {"partial compare misses", {3, 2}, coPartialCompare, {1, 2, 3, 4}, 1},
      {"partial compare with an empty key", {}, coPartialCompare, {1}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CompareBinaryValues(c.a.data(), c.a.size(), c.options, c.b.data(), c.b.size()), c.want);
  }
}

// ---- Field values -----------------------------------------------------------------------------

constexpr uint16_t R = RefFieldSize;

std::vector<TestField> SortFields() {
  return {
      {"S", dtString, 21, 20},     {"XS", dtExtString, R},   {"WS", dtWideString, 42, 20},
      {"XWS", dtExtWideString, R}, {"I8", dtInt8, 2},        {"I8B", dtInt8, 1},
      {"I16", dtInt16, 2},         {"U16", dtUInt16, 2},     {"I32", dtInt32, 4},
      {"U32", dtUInt32, 4},        {"I64", dtInt64, 8},      {"F", dtFloat, 8},
      {"C", dtCurrency, 8},        {"D", dtDate, 8},         {"DT", dtDateTime, 8},
      {"B", dtBoolean, 2},         {"BCD", dtBCD, 8},        {"FMT", dtFmtBCD, 34, 20, 4},
      {"BY", dtBytes, 3, 3},       {"VB", dtVarBytes, 8, 6}, {"XVB", dtExtVarBytes, R},
      {"VAR", dtVariant, R},       {"GUID", dtGuid, 39, 38}, {"MEMO", dtMemo, R},
      {"BLOB", dtBlob, R},         {"OBJ", dtObject, 8},
  };
}

// Random values of every field, each record filled field by field.
class RandomRecords {
 public:
  explicit RandomRecords(TTestStore& store, int count) : FStore(store) {
    for (int i = 0; i < count; ++i) {
      void* buf = store.AllocRecBuf();
      store.InitRecord(buf);
      store.CreateComplexFields(buf, true);
      for (int no = 1; no <= store.GetFieldCount(); ++no)
        if (FRng() % 8 != 0) Fill(no, buf);  // about one in eight stays null
      records.push_back(buf);
    }
  }
  ~RandomRecords() {
    for (void* buf : records) {
      FStore.FreeComplexFields(buf, true);
      TData::FreeRecBuf(buf);
    }
  }

  std::vector<void*> records;

 private:
  template <class T>
  const T& Pick(const std::vector<T>& from) {
    return from[FRng() % from.size()];
  }
  std::string Text() {
    static const std::vector<std::string> parts = {"a",        "A",        "b", "B", " ",
                                                   "\xD6\xD0", "\xCE\xC4", "1", "_", "\xC3\xA9"};
    std::string s;
    for (unsigned n = FRng() % 5; n > 0; --n) s += Pick(parts);
    return s;
  }
  std::u16string Wide() {
    static const std::vector<std::u16string> parts = {u"a",      u"A", u"\u00E9",     u"\u00C9",
                                                      u"\u4E2D", u" ", u"\U0001F600", u"z"};
    std::u16string s;
    for (unsigned n = FRng() % 5; n > 0; --n) s += Pick(parts);
    return s;
  }
  std::vector<uint8_t> Bytes(size_t maxLen, bool fixed) {
    static const std::vector<uint8_t> alphabet = {0x00, 0x01, 0x7F, 0x80, 0xFF};
    std::vector<uint8_t> b(fixed ? maxLen : FRng() % (maxLen + 1));
    for (uint8_t& x : b) x = Pick(alphabet);
    return b;
  }
  void PutDouble(int no, void* buf, double v) {
    Marshal::WriteInt64(static_cast<uint8_t*>(buf) + FStore.FieldOf(no).Offset,
                        BitConverter::DoubleToInt64Bits(v));
    FStore.SetNull(no, buf, false);
  }
  // A value in lo..hi; a span of 2^32 or more draws from 64 random bits.
  int64_t Int(int64_t lo, int64_t hi) {
    const uint64_t span = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo) + 1;
    const uint64_t r = (static_cast<uint64_t>(FRng()) << 32) | FRng();
    return static_cast<int64_t>(static_cast<uint64_t>(lo) + (span == 0 ? r : r % span));
  }

  void Fill(int no, void* buf) {
    const TFieldDesc& f = FStore.FieldOf(no);
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    auto put = [&](const Variant& v) { FStore.PutFieldAsVariant(no, buf, v); };
    switch (f.DataType) {
      case dtString:
      case dtExtString:
      case dtMemo:
        put(Variant(Text()));
        break;
      case dtWideString:
      case dtExtWideString:
        put(Variant(Wide()));
        break;
      case dtGuid:
        put(Variant(Pick(std::vector<std::string>{"{A}", "{a}", "{B}", ""})));
        break;
      case dtInt8:
        put(Variant(static_cast<int>(Int(-128, 127))));
        break;
      case dtInt16:
        put(Variant(static_cast<int>(Int(-32768, 32767))));
        break;
      case dtUInt16:
        put(Variant(static_cast<int>(Int(0, 65535))));
        break;
      case dtInt32:
        put(Variant(static_cast<int>(Int(INT32_MIN, INT32_MAX))));
        break;
      case dtUInt32:
        put(Variant(static_cast<long long>(Int(0, UINT32_MAX))));
        break;
      case dtInt64:
        put(Variant(static_cast<long long>(Int(INT64_MIN / 2, INT64_MAX / 2))));
        break;
      case dtFloat:
        PutDouble(no, buf, Pick(std::vector<double>{-1e300, -2.5, -0.0, 0.0, 1e-300, 3.25, inf, -inf, nan}));
        break;
      case dtCurrency:
        PutDouble(no, buf, static_cast<double>(Int(-1000, 1000)) / 100);
        break;
      case dtDate:
        PutDouble(no, buf, static_cast<double>(Int(-700000, 80000)));
        break;
      case dtDateTime:
        PutDouble(no, buf, Pick(std::vector<double>{-1.25, -1.5, -1.0, -2.75, 0.5, 0.0, 45000.75, -0.25}));
        break;
      case dtBoolean:
        put(Variant(FRng() % 2 == 0));
        break;
      case dtBCD:
        put(Variant(Currency::FromScaled(Int(-5000000, 5000000))));
        break;
      case dtFmtBCD:
        put(Variant(
            StrToBcd(Pick(std::vector<std::string>{"-12.5", "3", "0.001", "-0.001", "99999.9999", "0"}))));
        break;
      case dtBytes:
        put(Variant::FromBytes(Bytes(3, true)));
        break;
      case dtVarBytes:
      case dtExtVarBytes:
        put(Variant::FromBytes(Bytes(6, false)));
        break;
      case dtBlob: {
        const std::vector<uint8_t> b = Bytes(6, false);
        if (!b.empty()) FStore.WriteBlob(no, buf, 0, static_cast<uint32_t>(b.size()), b.data());
        FStore.GetBlob(no, buf)->Commit();
        break;
      }
      case dtVariant:
        put(FRng() % 2 ? Variant(static_cast<int>(Int(-5, 5)))
                       : Variant(static_cast<double>(Int(-10, 10)) / 2));
        break;
      default:
        break;
    }
  }

  TTestStore& FStore;
  std::mt19937 FRng{12345};
};

TEST(CompareFieldValues, EveryTypeGroupIsATotalPreorder) {
  TTestStore store(SortFields());
  store.Open();
  RandomRecords values(store, 36);
  TStringComparer strings;
  const size_t n = values.records.size();
  for (int no = 1; no <= store.GetFieldCount(); ++no) {
    const TFieldDesc& f = store.FieldOf(no);
    if (!IsSortableType(f.DataType)) continue;
    for (int options : {0, coCaseInsensitive}) {
      for (bool trim : {false, true}) {
        SCOPED_TRACE(f.Name + " options " + std::to_string(options) + (trim ? " trimmed" : ""));
        store.TrimVarChar = trim;
        std::vector<std::vector<int>> m(n, std::vector<int>(n));
        for (size_t i = 0; i < n; ++i)
          for (size_t j = 0; j < n; ++j)
            m[i][j] = CompareFieldValues(store, strings, values.records[i], values.records[j], options, f);
        for (size_t i = 0; i < n; ++i) {
          ASSERT_EQ(m[i][i], 0);
          for (size_t j = 0; j < n; ++j) {
            ASSERT_EQ(m[i][j], -m[j][i]) << i << " " << j;
            for (size_t k = 0; k < n; ++k) {
              if (m[i][j] <= 0 && m[j][k] <= 0) {
                ASSERT_LE(m[i][k], 0) << i << " " << j << " " << k;
              }
            }
          }
        }
      }
    }
  }
}

// Keys as CompareFields receives them, against fields of one record.
class KeyCompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.Open();
    rec = store.AllocRecBuf();
    store.InitRecord(rec);
    store.CreateComplexFields(rec, true);
  }
  void TearDown() override {
    store.FreeComplexFields(rec, true);
    TData::FreeRecBuf(rec);
  }
  int Compare(const void* key, TDataType type, int options, const char* field) {
    TCompareValue value, fieldValue;
    KeyCompareValue(key, type, value);
    FieldCompareValue(store, rec, *store.FieldByName(field), fieldValue);
    return CompareValues(strings, value, fieldValue, options);
  }
  void Put(const char* field, const Variant& v) {
    store.PutFieldAsVariant(store.FieldByName(field)->FieldNo, rec, v);
  }

  TTestStore store{SortFields()};
  TStringComparer strings;
  void* rec = nullptr;
};

TEST_F(KeyCompareTest, LocateOptionsOnText) {
  Put("S", Variant("Apple pie"));
  Put("XS", Variant("x\x81\x41y"));  // a GBK character whose trail byte is "A"
  Put("WS", Variant(u"Apple \U0001F600"));
  struct Case {
    const char* name;
    const char* key;
    int options;
    const char* field;
    int want;
  } cases[] = {
      {"whole text equal", "Apple pie", 0, "S", 0},
      {"case counts", "apple pie", 0, "S", -1},
      {"case ignored", "APPLE PIE", coCaseInsensitive, "S", 0},
      {"partial key", "App", coPartialKey, "S", 0},
      {"partial key, other case", "app", coPartialKey | coCaseInsensitive, "S", 0},
      {"partial key longer than the text", "Apple pie and more", coPartialKey, "S", 1},
      {"partial compare inside", "le p", coPartialCompare, "S", 0},
      {"partial compare, other case", "LE P", coPartialCompare | coCaseInsensitive, "S", 0},
      {"partial compare missing", "pear", coPartialCompare, "S", 1},
      {"a trail byte is not a letter", "A", coPartialCompare, "XS", 1},
      {"the whole character is found", "\x81\x41", coPartialCompare, "XS", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Compare(c.key, dtString, c.options, c.field), c.want);
  }
  const char16_t wideKey[] = u"apple";
  EXPECT_EQ(Compare(wideKey, dtWideString, coPartialKey | coCaseInsensitive, "WS"), 0);
  EXPECT_EQ(Compare("\xF0", dtString, coPartialCompare, "WS"), 1);
}

TEST_F(KeyCompareTest, TextKeysAgainstOtherTypesCompareAsText) {
  Put("I32", Variant(345));
  Put("F", Variant(2.5));
  Put("D", Variant::FromDateTime(EncodeDate(2024, 3, 9)));
  Put("DT", Variant::FromDateTime(EncodeDateTime(2024, 3, 9, 10, 11, 12, 0)));
  Put("B", Variant(true));
  Put("BCD", Variant(Currency::FromScaled(123400)));
  EXPECT_EQ(Compare("35", dtString, coPartialKey, "I32"), 1);
  EXPECT_EQ(Compare("34", dtString, coPartialKey, "I32"), 0);
  EXPECT_EQ(Compare("3", dtString, coPartialKey, "I32"), 0);
  EXPECT_EQ(Compare("345", dtString, 0, "I32"), 0);
  EXPECT_EQ(Compare("2.5", dtString, 0, "F"), 0);
  EXPECT_EQ(Compare("2024-03-09", dtString, 0, "D"), 0);
  EXPECT_EQ(Compare("2024-03-09 10:11:12", dtString, 0, "DT"), 0);
  EXPECT_EQ(Compare("True", dtString, 0, "B"), 0);
  EXPECT_EQ(Compare("12.34", dtString, 0, "BCD"), 0);
}

TEST_F(KeyCompareTest, NumbersCompareAcrossTypesAndOtherPairsRefuse) {
  Put("F", Variant(2.5));
  Put("I64", Variant(static_cast<long long>(3)));
  Put("BY", Variant::FromBytes({1, 2, 3}));
  const int32_t two = 2, three = 3;
  EXPECT_EQ(Compare(&two, dtInt32, 0, "F"), -1);
  EXPECT_EQ(Compare(&three, dtInt32, 0, "F"), 1);
  EXPECT_EQ(Compare(&three, dtInt32, 0, "I64"), 0);
  EXPECT_THROW(Compare(&three, dtInt32, 0, "BY"), EConvertError);
  EXPECT_THROW(Compare(&three, dtObject, 0, "F"), EConvertError);
  try {
    Compare(&three, 99, 0, "F");
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("Unknown ValueType = 99"), std::string::npos);
  }
  const uint8_t bytesKey[] = {2, 0, 1, 2};
  EXPECT_EQ(Compare(bytesKey, dtVarBytes, coPartialKey, "BY"), 0);
  EXPECT_EQ(Compare(bytesKey, dtVarBytes, 0, "BY"), -1);
}

// Dates before 1899-12-30 count their time of day backwards in the stored value.
TEST_F(KeyCompareTest, DateTimesCompareChronologically) {
  const double sixAm = EncodeDateTime(1899, 12, 29, 6, 0, 0, 0);
  const double noon = EncodeDateTime(1899, 12, 29, 12, 0, 0, 0);
  Put("DT", Variant::FromDateTime(noon));
  EXPECT_EQ(Compare(&sixAm, dtDateTime, 0, "DT"), -1);
}

// ---- Index field names ------------------------------------------------------------------------

std::vector<TestField> NamedFields() {
  return {{"Name", dtString, 21, 20}, {"Age", dtInt32, 4},  {"First Name", dtString, 11, 10},
          {"Not", dtInt32, 4},        {"Obj", dtObject, 8}, {"It's", dtInt32, 4}};
}

TEST(ParseIndexFieldNames, AcceptedTexts) {
  TTestStore store(NamedFields());
  store.Open();
  struct Want {
    const char* field;
    bool descending;
    bool caseSensitive;
  };
  struct Case {
    const char* text;
    std::vector<Want> columns;
  } cases[] = {
      {"Name DESC; Age", {{"Name", true, true}, {"Age", false, true}}},
      {"Name CIS DESC", {{"Name", true, false}}},
      {"name desc , age asc cs", {{"Name", true, true}, {"Age", false, true}}},
      {"[First Name] CIS", {{"First Name", false, false}}},
      {"'First Name' DESC", {{"First Name", true, true}}},
      {"'It''s'", {{"It's", false, true}}},
      {"Not", {{"Not", false, true}}},
      {"Age;", {{"Age", false, true}}},
      {"   ", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TSortColumns columns;
    ParseIndexFieldNames(c.text, store, columns);
    ASSERT_EQ(columns.Count(), static_cast<int>(c.columns.size()));
    for (int i = 0; i < columns.Count(); ++i) {
      EXPECT_EQ(columns.Items(i)->FieldDesc, store.FieldByName(c.columns[i].field));
      EXPECT_EQ(columns.Items(i)->DescendingOrder, c.columns[i].descending);
      EXPECT_EQ(columns.Items(i)->CaseSensitive, c.columns[i].caseSensitive);
    }
  }
}

TEST(ParseIndexFieldNames, RefusedTextsLeaveNoColumns) {
  TTestStore store(NamedFields());
  store.Open();
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"Name DESC ASC", "Invalid IndexFieldNames format!"},
      {"Name CIS CS", "Invalid IndexFieldNames format!"},
      {"Name UP", "Invalid IndexFieldNames format!"},
      {"Name Age", "Invalid IndexFieldNames format!"},
      {"Name 1", "Invalid IndexFieldNames format!"},
      {";Name", "Invalid IndexFieldNames format!"},
      {"Name;;Age", "Invalid IndexFieldNames format!"},
      {"Name + Age", "Invalid IndexFieldNames format!"},
      {"[First Name", "Invalid IndexFieldNames format!"},
      {"'First Name", "Invalid IndexFieldNames format!"},
      {"Name\x01 Age", "Invalid IndexFieldNames format!"},
      {"Age; Missing", "Field Missing not found"},
      {"Obj", "Cannot convert type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TSortColumns columns;
    columns.Add()->FieldDesc = store.FieldByName("Age");
    try {
      ParseIndexFieldNames(c.text, store, columns);
      ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.error);
    }
    EXPECT_EQ(columns.Count(), 0);
  }
}

}  // namespace
