#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/MemData.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "tests/core/MemDataTestStore.h"

namespace {

constexpr uint16_t R = RefFieldSize;

// One field of every type code, with the sizes a provider would give.
std::vector<TestField> AllTypes() {
  return {
      {"UNKNOWN", dtUnknown, 4},     {"S", dtString, 11, 10},       {"I8", dtInt8, 2},
      {"I8B", dtInt8, 1},            {"I16", dtInt16, 2},           {"I32", dtInt32, 4},
      {"F", dtFloat, 8, 10, 2},      {"F0", dtFloat, 8},            {"D", dtDate, 8},
      {"T", dtTime, 8},              {"DT", dtDateTime, 8},         {"U16", dtUInt16, 2},
      {"B", dtBoolean, 2},           {"I64", dtInt64, 8},           {"C", dtCurrency, 8},
      {"BLOB", dtBlob, R},           {"MEMO", dtMemo, R},           {"OBJ", dtObject, 8},
      {"REF", dtReference, 8},       {"ARR", dtArray, 8},           {"TAB", dtTable, 8},
      {"VAR", dtVariant, R},         {"XS", dtExtString, R},        {"BY", dtBytes, 4, 4},
      {"VB", dtVarBytes, 6, 4},      {"XVB", dtExtVarBytes, R},     {"U32", dtUInt32, 4},
      {"WS", dtWideString, 8, 3},    {"XWS", dtExtWideString, R},   {"BCD", dtBCD, 8},
      {"FMT", dtFmtBCD, 34, 10, 2},  {"GUID", dtGuid, 39, 38},      {"WMEMO", dtWideMemo, R},
      {"FIX", dtString, 5, 4, 0, true},  {"X31", 31, 4},
  };
}

// An open store of AllTypes with one blank record, and a buffer holding that record.
class FieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.Open();
    buf = store.AllocRecBuf();
    store.InitRecord(buf);
    store.CreateComplexFields(buf, true);
  }
  void TearDown() override {
    store.FreeComplexFields(buf, true);
    TData::FreeRecBuf(buf);
  }
  int No(const char* name) { return store.FieldByName(name)->FieldNo; }
  std::vector<uint8_t> RecordBytes() const {
    const auto* p = static_cast<const uint8_t*>(buf);
    return {p, p + store.RecordSize()};
  }

  TTestStore store{AllTypes()};
  void* buf = nullptr;
};

Variant ByteArray(std::vector<uint8_t> b) { return Variant::FromBytes(std::move(b)); }

struct VarCase {
  const char* name;
  const char* field;
  Variant in;
  Variant want;               // read back, when no error
  const char* error = nullptr;  // part of the error's message
};

TEST_F(FieldsTest, VariantWritesAndReadsForEveryTypeCode) {
  const TDateTime day = EncodeDate(2024, 1, 2);
  const TDateTime moment = EncodeDateTime(2024, 1, 2, 3, 4, 5, 0);
  const std::string gbk = "abcdefghi\xD6\xD0";  // 9 letters and one two-byte character
  const VarCase cases[] = {
      {"unknown", "UNKNOWN", Variant(1), {}, "Cannot convert type 0"},
      {"string", "S", Variant("Hello"), Variant("Hello")},
      {"string cut to the field", "S", Variant("Hello World"), Variant("Hello Worl")},
      {"string cut before a GBK character", "S", Variant(gbk), Variant("abcdefghi")},
      {"string from an integer", "S", Variant(12), Variant("12")},
      {"int8", "I8", Variant(-100), Variant(static_cast<signed char>(-100))},
      {"int8 in one byte", "I8B", Variant(127), Variant(static_cast<signed char>(127))},
      {"int8 out of range", "I8", Variant(200), {}, "out of range"},
      {"int16", "I16", Variant(-1234), Variant(static_cast<short>(-1234))},
      {"int16 refuses 70000", "I16", Variant(70000), {}, "Value 70000 is out of range for field I16"},
      {"int16 refuses text", "I16", Variant("12"), {}, "Cannot convert type 3"},
      {"int16 from a byte", "I16", Variant(static_cast<unsigned char>(200)), Variant(static_cast<short>(200))},
      {"int32 from text", "I32", Variant("12"), Variant(12)},
      {"int32 from a double", "I32", Variant(2.5), Variant(2)},
      {"int32 refuses a Boolean", "I32", Variant(true), {}, "Cannot convert type 4"},
      {"int32 refuses decimal text", "I32", Variant("12.5"), {}, "'12.5' is not a valid integer value"},
      {"int32 refuses a large double", "I32", Variant(3e9), {}, "out of range"},
      {"int32 refuses an int64", "I32", Variant(5LL), {}, "Cannot convert type 4"},
      {"float rounded to scale 2", "F", Variant(1.23456), Variant(1.23)},
      {"float rounds half away from zero", "F", Variant(-0.125), Variant(-0.13)},
      {"float keeps integers", "F", Variant(7), Variant(7.0)},
      {"float from text", "F", Variant("2.346"), Variant(2.35)},
      {"float scale 0 unrounded", "F0", Variant(1.23456), Variant(1.23456)},
      {"float refuses a Boolean", "F", Variant(false), {}, "Cannot convert type 5"},
      {"date", "D", Variant::FromDateTime(day), Variant::FromDateTime(day)},
      {"time", "T", Variant::FromDateTime(0.25), Variant::FromDateTime(0.25)},
      {"date-time from text", "DT", Variant("2024-01-02 03:04:05"), Variant::FromDateTime(moment)},
      {"date-time out of range", "DT", Variant(1e9), {}, "Invalid"},
      {"uint16", "U16", Variant(65535), Variant(static_cast<unsigned short>(65535))},
      {"uint16 refuses 70000", "U16", Variant(70000), {}, "out of range"},
      {"uint16 refuses -1", "U16", Variant(-1), {}, "out of range"},
      {"boolean", "B", Variant(true), Variant(true)},
      {"boolean refuses an integer", "B", Variant(1), {}, "Cannot convert type 10"},
      {"int64", "I64", Variant(1LL << 40), Variant(1LL << 40)},
      {"int64 from an integer", "I64", Variant(5), Variant(5LL)},
      {"int64 refuses text", "I64", Variant("5"), {}, "Cannot convert type 11"},
      {"currency field", "C", Variant(1.5), Variant(1.5)},
      {"blob is written but has no variant form", "BLOB", Variant("abc"), {}, nullptr},
      {"memo", "MEMO", Variant("some text"), Variant("some text")},
      {"object", "OBJ", Variant(1), {}, "Cannot convert type 15"},
      {"reference", "REF", Variant(1), {}, "Cannot convert type 16"},
      {"array", "ARR", Variant(1), {}, "Cannot convert type 17"},
      {"table", "TAB", Variant(1), {}, "Cannot convert type 18"},
      {"code above 30", "X31", Variant(1), {}, "Cannot convert type 31"},
      {"variant", "VAR", Variant(u"wide"), Variant(u"wide")},
      {"heap string", "XS", Variant("heap"), Variant("heap")},
      {"heap string empty", "XS", Variant(""), Variant("")},
      {"bytes", "BY", ByteArray({1, 2, 3, 4}), ByteArray({1, 2, 3, 4})},
      {"bytes of the wrong size", "BY", ByteArray({1, 2, 3}), {}, "Invalid data size"},
      {"bytes from text", "BY", Variant("abcd"), {}, "Invalid VType"},
      {"var bytes", "VB", ByteArray({1, 2}), ByteArray({1, 2})},
      {"var bytes longer than the field", "VB", ByteArray({1, 2, 3, 4, 5}), {}, "Invalid data size"},
      {"heap var bytes", "XVB", ByteArray({9, 8, 7}), ByteArray({9, 8, 7})},
      {"uint32", "U32", Variant(4000000000U), Variant(4000000000U)},
      {"uint32 from an int64", "U32", Variant(7LL), Variant(7U)},
      {"uint32 refuses 5e9", "U32", Variant(5000000000LL), {}, "out of range"},
      {"uint32 refuses a double", "U32", Variant(1.0), {}, "Cannot convert type 24"},
      {"wide string cut", "WS", Variant(u"abcdef"), Variant(u"abc")},
      {"wide string keeps surrogate pairs whole", "WS", Variant(u"ab\U0001F600"), Variant(u"ab")},
      {"heap wide string", "XWS", Variant(u"\u5BBD"), Variant(u"\u5BBD")},
      {"bcd", "BCD", Variant(Currency::FromScaled(123456)), Variant(Currency::FromScaled(123456))},
      {"fmtbcd", "FMT", Variant("123.45"), Variant(StrToBcd("123.45"))},
      {"guid", "GUID", Variant("{00000000-0000-0000-0000-000000000001}"),
       Variant("{00000000-0000-0000-0000-000000000001}")},
      {"wide memo", "WMEMO", Variant(u"\u5BBD\u5B57"), Variant(u"\u5BBD\u5B57")},
      {"null", "I32", Variant::Null(), Variant::Null()},
      {"empty sets null", "S", Variant(), Variant::Null()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int no = No(c.field);
    store.SetNull(no, buf, true);
    const std::vector<uint8_t> before = RecordBytes();
    if (c.error) {
      try {
        store.PutFieldAsVariant(no, buf, c.in);
        ADD_FAILURE() << "no exception";
      } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(c.error), std::string::npos) << e.Message();
      }
      EXPECT_EQ(RecordBytes(), before) << "the record changed";
      continue;
    }
    store.PutFieldAsVariant(no, buf, c.in);
    if (std::string(c.field) == "BLOB") {
      EXPECT_FALSE(store.GetNull(no, buf));
      try {
        store.GetFieldAsVariant(no, buf);
        ADD_FAILURE() << "no exception";
      } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot convert type 13");
      }
      continue;
    }
    const Variant got = store.GetFieldAsVariant(no, buf);
    EXPECT_EQ(got.VarType(), c.want.VarType());
    EXPECT_TRUE(VarCompare(got, c.want) == 0) << VarToStr(got);
  }
}

TEST_F(FieldsTest, TypesWithoutAVariantFormRaiseOnRead) {
  for (const char* name : {"UNKNOWN", "OBJ", "REF", "ARR", "TAB", "X31"}) {
    SCOPED_TRACE(name);
    store.SetNull(No(name), buf, false);
    try {
      store.GetFieldAsVariant(No(name), buf);
      ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "Cannot convert type " + std::to_string(store.FieldByName(name)->DataType));
    }
  }
}

TEST_F(FieldsTest, FieldNumbersOutsideTheListAreRefused) {
  const int count = store.GetFieldCount();
  for (int no : {0, -1, count + 1}) {
    SCOPED_TRACE(no);
    bool isNull = false;
    char dest[8];
    EXPECT_THROW(store.GetFieldAsVariant(no, buf), EAssertionFailed);
    EXPECT_THROW(store.PutFieldAsVariant(no, buf, Variant(1)), EAssertionFailed);
    EXPECT_THROW(store.GetNull(no, buf), EAssertionFailed);
    EXPECT_THROW(store.SetNull(no, buf, true), EAssertionFailed);
    EXPECT_THROW(store.GetField(no, buf, dest, sizeof dest, isNull), EAssertionFailed);
  }
}

TEST_F(FieldsTest, TrimmingOfStringsReadAsVariants) {
  struct Case {
    const char* field;
    bool trimFixed, trimVar;
    const char* want;
  };
  const Case cases[] = {
      {"FIX", true, false, "ab"}, {"FIX", false, true, "ab  "}, {"S", false, true, "ab"},
      {"S", true, false, "ab  "}, {"XS", false, true, "ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + (c.trimFixed ? " fixed" : "") + (c.trimVar ? " var" : ""));
    store.TrimFixedChar = c.trimFixed;
    store.TrimVarChar = c.trimVar;
    store.PutFieldAsVariant(No(c.field), buf, Variant("ab  "));
    EXPECT_EQ(store.GetFieldAsVariant(No(c.field), buf).AsString(), c.want);
  }
}

// Reads through GetField into a heap buffer of exactly destSize bytes, so that ASan sees any
// write past it.
std::string ReadText(TData& data, int no, const void* buf, size_t destSize) {
  std::vector<char> dest(destSize);
  bool isNull = true;
  data.GetField(no, buf, dest.data(), dest.size(), isNull);
  EXPECT_FALSE(isNull);
  return std::string(dest.data());
}

TEST_F(FieldsTest, LineBreakExpansionStaysInsideTheDestination) {
  struct Case {
    const char* name;
    bool eol;
    const char* stored;
    size_t destSize;
    const char* want;
  };
  const Case cases[] = {
      {"off", false, "a\nb\nc\nd\ne", 11, "a\nb\nc\nd\ne"},
      {"every LF doubles; cut where the next pair does not fit", true, "a\nb\nc\nd\ne", 11, "a\r\nb\r\nc\r\nd"},
      {"CR LF stays one pair", true, "a\r\nb", 11, "a\r\nb"},
      {"a pair that does not fit is left out whole", true, "abcdefghi\n", 11, "abcdefghi"},
      {"small destination", true, "\n\n\n", 4, "\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store.ConvertEOL = c.eol;
    store.PutFieldAsVariant(No("S"), buf, Variant(c.stored));
    EXPECT_EQ(ReadText(store, No("S"), buf, c.destSize), c.want);
  }
}

TEST_F(FieldsTest, WideLineBreakExpansionStaysInsideTheDestination) {
  store.ConvertEOL = true;
  store.PutFieldAsVariant(No("WS"), buf, Variant(u"\n\n\n"));
  std::vector<char16_t> dest(4);  // 3 characters and the terminator
  bool isNull = true;
  store.GetField(No("WS"), buf, dest.data(), dest.size() * 2, isNull);
  EXPECT_EQ(std::u16string(dest.data()), u"\r\n");
}

TEST_F(FieldsTest, TextReadsCutAtCharacterBoundaries) {
  ASSERT_EQ(AnsiCharsetKind(), TCharsetKind::Gbk);
  store.PutFieldAsVariant(No("S"), buf, Variant("ab\xD6\xD0\xCE\xC4"));  // ab + two GBK characters
  EXPECT_EQ(ReadText(store, No("S"), buf, 5), "ab\xD6\xD0");
  EXPECT_EQ(ReadText(store, No("S"), buf, 4), "ab");  // not ab + a lone lead byte
  store.PutFieldAsVariant(No("XS"), buf, Variant("\xD6\xD0"));
  EXPECT_EQ(ReadText(store, No("XS"), buf, 2), "");
}

TEST_F(FieldsTest, ExchangeFormsRoundTrip) {
  // Dates as the dataset exchanges them.
  const int dt = No("DT"), d = No("D"), t = No("T");
  store.PutFieldAsVariant(dt, buf, Variant::FromDateTime(EncodeDateTime(2024, 1, 2, 3, 4, 5, 678)));
  double msecs = 0;
  bool isNull = true;
  store.GetField(dt, buf, &msecs, sizeof msecs, isNull);
  EXPECT_EQ(msecs, TimeStampToMSecs(DateTimeToTimeStamp(EncodeDateTime(2024, 1, 2, 3, 4, 5, 678))));
  msecs += 0.4;  // stored rounded to whole milliseconds
  store.PutField(dt, buf, &msecs, sizeof msecs);
  EXPECT_NEAR(store.GetFieldAsVariant(dt, buf).AsDateTime(), EncodeDateTime(2024, 1, 2, 3, 4, 5, 678), 1e-9);

  int32_t dayNo = 0;
  store.PutFieldAsVariant(d, buf, Variant::FromDateTime(EncodeDate(1, 1, 1)));
  store.GetField(d, buf, &dayNo, sizeof dayNo, isNull);
  EXPECT_EQ(dayNo, 1);
  dayNo = DateDelta + 1;
  store.PutField(d, buf, &dayNo, sizeof dayNo);
  EXPECT_EQ(store.GetFieldAsVariant(d, buf).AsDateTime(), 1.0);  // 1899-12-31

  int32_t timeMs = 43200000;
  store.PutField(t, buf, &timeMs, sizeof timeMs);
  EXPECT_EQ(store.GetFieldAsVariant(t, buf).AsDateTime(), 0.5);
  timeMs = -1;
  EXPECT_THROW(store.PutField(t, buf, &timeMs, sizeof timeMs), EConvertError);

  // dtUInt32 travels widened to 8 bytes and is range-checked on the way in.
  int64_t wide = 4000000000LL;
  store.PutField(No("U32"), buf, &wide, sizeof wide);
  wide = 0;
  store.GetField(No("U32"), buf, &wide, sizeof wide, isNull);
  EXPECT_EQ(wide, 4000000000LL);
  wide = -1;
  EXPECT_THROW(store.PutField(No("U32"), buf, &wide, sizeof wide), EConvertError);

  // Counted bytes: a count above the field's length is refused, the field keeps its value.
  const uint8_t ok[] = {2, 0, 0xAA, 0xBB};
  store.PutField(No("VB"), buf, ok, sizeof ok);
  const uint8_t tooLong[] = {5, 0, 1, 2, 3, 4, 5};
  EXPECT_THROW(store.PutField(No("VB"), buf, tooLong, sizeof tooLong), EConvertError);
  EXPECT_TRUE(VarCompare(store.GetFieldAsVariant(No("VB"), buf), ByteArray({0xAA, 0xBB})) == 0);
  const uint8_t lying[] = {9, 0, 1};  // count beyond the buffer
  EXPECT_THROW(store.PutField(No("XVB"), buf, lying, sizeof lying), EAssertionFailed);
  store.PutField(No("XVB"), buf, ok, sizeof ok);
  uint8_t back[4] = {};
  store.GetField(No("XVB"), buf, back, sizeof back, isNull);
  EXPECT_EQ(std::memcmp(back, ok, sizeof ok), 0);

  // Heap strings are replaced, the old block released.
  const char text[] = "first";
  store.PutField(No("XS"), buf, text, sizeof text);
  store.PutField(No("XS"), buf, "second", 7);
  EXPECT_EQ(ReadText(store, No("XS"), buf, 16), "second");
  const char16_t wtext[] = u"\u5BBD";
  store.PutField(No("XWS"), buf, wtext, sizeof wtext);
  EXPECT_EQ(store.GetFieldAsVariant(No("XWS"), buf).AsWideString(), u"\u5BBD");

  // A variant field exchanges a Variant.
  Variant v("x");
  store.PutField(No("VAR"), buf, &v, sizeof v);
  Variant out;
  store.GetField(No("VAR"), buf, &out, sizeof out, isNull);
  EXPECT_EQ(out.AsString(), "x");
}

TEST_F(FieldsTest, NullFieldsLeaveTheDestinationAlone) {
  int32_t dest = 42;
  bool isNull = false;
  store.GetField(No("I32"), buf, &dest, sizeof dest, isNull);
  EXPECT_TRUE(isNull);
  EXPECT_EQ(dest, 42);
  EXPECT_TRUE(store.GetFieldAsVariant(No("I32"), buf).IsNull());
}

TEST(MemDataLifecycleTest, CreateOpenCloseAndPrepare) {
  TTestStore store({{"id", dtInt32, 4}, {"ID", dtInt32, 4}, {"Id", dtInt32, 4}, {"ID_1", dtInt32, 4}});
  EXPECT_TRUE(store.GetBof());
  EXPECT_TRUE(store.GetEof());
  EXPECT_FALSE(store.Active());
  store.Open();
  EXPECT_TRUE(store.Active());
  ASSERT_EQ(store.GetFieldCount(), 4);
  EXPECT_EQ(store.FieldOf(2).Name, "ID_1");
  EXPECT_EQ(store.FieldOf(3).Name, "Id_2");
  EXPECT_EQ(store.FieldOf(4).Name, "ID_1_1");
  EXPECT_EQ(store.RecordSize(), 20);

  store.Close();
  EXPECT_FALSE(store.Active());
  EXPECT_EQ(store.GetFieldCount(), 0);  // described again on the next open
  EXPECT_EQ(store.InternalCloseCalls, 1);

  store.Prepare();
  store.Open();
  store.Close();
  EXPECT_EQ(store.GetFieldCount(), 4);  // prepared: kept
  store.UnPrepare();
  EXPECT_EQ(store.GetFieldCount(), 0);
  EXPECT_EQ(store.InternalUnPrepareCalls, 1);
  store.UnPrepare();  // not prepared: nothing
  EXPECT_EQ(store.InternalUnPrepareCalls, 1);
}

TEST(MemDataLifecycleTest, NullIndicatorsFollowTheData) {
  TTestStore store({{"A", dtInt32, 4}, {"B", dtWideString, 6}, {"C", dtInt16, 2}});
  store.Open();
  ASSERT_EQ(store.RecordSize(), 16);
  ASSERT_EQ(store.DataSize(), 12);
  std::vector<uint8_t> rec(16, 0);
  store.SetNull(3, rec.data(), true);
  EXPECT_EQ(rec, std::vector<uint8_t>({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
  store.PutFieldAsVariant(2, rec.data(), Variant(u"xy"));
  EXPECT_EQ(rec[4], 'x');
  EXPECT_EQ(rec[6], 'y');
  EXPECT_FALSE(store.GetNull(2, rec.data()));
  EXPECT_TRUE(store.GetNull(3, rec.data()));
}

TEST(MemDataLifecycleTest, FilterTextIsParsedWhenActiveAndABadOneChangesNothing) {
  TTestStore store({{"A", dtInt32, 4}, {"B", dtInt32, 4}});
  store.SetFilterText("bad");  // inactive: only stored
  EXPECT_EQ(store.FilterText(), "bad");
  EXPECT_THROW(store.Open(), Exception);
  EXPECT_FALSE(store.Active());
  EXPECT_EQ(store.InternalCloseCalls, 1);

  store.SetFilterText("  A IS NULL ");
  store.Open();
  ASSERT_NE(store.FilterExpression(), nullptr);
  EXPECT_TRUE(store.HasFilter());
  TFilterExpression* before = store.FilterExpression();
  EXPECT_THROW(store.SetFilterText("C IS NULL"), Exception);
  EXPECT_EQ(store.FilterText(), "  A IS NULL ");
  EXPECT_EQ(store.FilterExpression(), before);  // the old filter stays in force
  store.SetFilterText(" ");
  EXPECT_EQ(store.FilterExpression(), nullptr);
  EXPECT_FALSE(store.HasFilter());
  store.FilterFunc = [](void*) { return true; };
  EXPECT_TRUE(store.HasFilter());
  store.SetFilterText("B IS NULL");
  store.Close();
  EXPECT_EQ(store.FilterExpression(), nullptr);
  EXPECT_EQ(store.FilterText(), "B IS NULL");
}

TEST(MemDataLifecycleTest, CachedUpdatesSwitchAndCallbacks) {
  TTestStore store({{"A", dtInt32, 4}});
  store.SetCachedUpdates(true);
  EXPECT_EQ(store.FilterItemTypes(), 7);
  store.SetCachedUpdates(true);
  EXPECT_EQ(store.CancelUpdatesCalls, 0);
  store.SetCachedUpdates(false);
  EXPECT_EQ(store.CancelUpdatesCalls, 1);
  EXPECT_FALSE(store.CachedUpdates());

  std::string calls;
  store.OnInsertRecord = [&] { calls += "i"; };
  store.OnUpdateRecord = [&] { calls += "u"; };
  store.OnDeleteRecord = [&] { calls += "d"; };
  store.OnApplyRecord = [&](TUpdateKind kind, TUpdateAction& action, bool last) {
    calls += "a" + std::to_string(kind) + (last ? "L" : "");
    action = uaApplied;
  };
  store.NotifyInsertRecord();
  store.NotifyUpdateRecord();
  store.NotifyDeleteRecord();
  TUpdateAction action = uaFail;
  store.NotifyApplyRecord(ukDelete, action, true);
  EXPECT_EQ(calls, "iuda2L");
  EXPECT_EQ(action, uaApplied);
}

TEST(MemDataLifecycleTest, BaseBookmarksCarryTheRecordNumber) {
  TTestStore store({{"A", dtInt32, 4}});
  store.Open();
  for (int i = 0; i < 3; ++i) store.Append([&](void* b) { store.PutFieldAsVariant(1, b, Variant(i)); });
  store.Go(1);
  TRecBookmark second;
  store.GetBookmark(second);
  EXPECT_EQ(second.Order, 2);
  store.Go(2);
  TRecBookmark third;
  store.GetBookmark(third);
  store.SetToBookmark(&second);
  EXPECT_EQ(store.Current(), 1);
  EXPECT_TRUE(store.BookmarkValid(&second));
  EXPECT_FALSE(store.BookmarkValid(nullptr));
  const TRecBookmark none;
  EXPECT_FALSE(store.BookmarkValid(&none));
  EXPECT_EQ(store.CompareBookmarks(&second, &third), -1);
  EXPECT_EQ(store.CompareBookmarks(&third, &second), 1);
  EXPECT_EQ(store.CompareBookmarks(nullptr, nullptr), 0);
  EXPECT_EQ(store.CompareBookmarks(&second, nullptr), -1);
  EXPECT_EQ(store.CompareBookmarks(nullptr, &second), 1);
}

int gWaits = 0;

TEST(MemDataHooksTest, WaitAndTitleHooks) {
  StartWait();  // unset: nothing
  EXPECT_EQ(ApplicationTitle(), "");
  SetStartWaitProc([] { ++gWaits; });
  SetStopWaitProc([] { gWaits += 10; });
  SetApplicationTitleProc([] { return std::string("GM"); });
  StartWait();
  StopWait();
  EXPECT_EQ(gWaits, 11);
  EXPECT_EQ(ApplicationTitle(), "GM");
  SetStartWaitProc(nullptr);
  SetStopWaitProc(nullptr);
  SetApplicationTitleProc(nullptr);
}

}  // namespace
