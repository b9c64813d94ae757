#include "core/MemData.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "tests/core/MemDataTestStore.h"

namespace {

using testing::HasSubstr;
using testing::StrEq;
using testing::ThrowsMessage;

constexpr uint16_t R = RefFieldSize;

// One field of every type code, with the sizes a provider would give.
std::vector<TestField> AllTypes() {
  return {
      {"UNKNOWN", dtUnknown, 4},
      {"S", dtString, 11, 10},
      {"I8", dtInt8, 2},
      {"I16", dtInt16, 2},
      {"I32", dtInt32, 4},
      {"F", dtFloat, 8, 10, 2},
      {"F0", dtFloat, 8},
      {"D", dtDate, 8},
      {"T", dtTime, 8},
      {"DT", dtDateTime, 8},
      {"U16", dtUInt16, 2},
      {"B", dtBoolean, 2},
      {"I64", dtInt64, 8},
      {"C", dtCurrency, 8},
      {"BLOB", dtBlob, R},
      {"MEMO", dtMemo, R},
      {"OBJ", dtObject, 8},
      {"REF", dtReference, 8},
      {"ARR", dtArray, 8},
      {"TAB", dtTable, 8},
      {"VAR", dtVariant, R},
      {"XS", dtExtString, R},
      {"BY", dtBytes, 4, 4},
      {"VB", dtVarBytes, 6, 4},
      {"XVB", dtExtVarBytes, R},
      {"U32", dtUInt32, 4},
      {"WS", dtWideString, 8, 3},
      {"XWS", dtExtWideString, R},
      {"BCD", dtBCD, 8},
      {"FMT", dtFmtBCD, 34, 10, 2},
      {"GUID", dtGuid, 39, 38},
      {"WMEMO", dtWideMemo, R},
      {"FIX", dtString, 5, 4, 0, true},
      {"X99", 99, 4},
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

Variant ByteArray(std::vector<uint8_t> b) {
  return Variant::FromBytes(std::move(b));
}

TEST_F(FieldsTest, VariantWritesAndReadsForEveryTypeCode) {
  const TDateTime day = EncodeDate(2024, 1, 2);
  const TDateTime moment = EncodeDateTime(2024, 1, 2, 3, 4, 5, 0);
  const std::string gbk = "abcdefghi\xD6\xD0";  // 9 letters and one two-byte character
  const struct {
    const char *name, *field;
    Variant in, want;             // want: read back, when no error
    const char* error = nullptr;  // part of the error's message
  } cases[] = {
      {"string", "S", Variant("Hello"), Variant("Hello")},
      {"string cut to the field", "S", Variant("Hello World"), Variant("Hello Worl")},
      {"string cut before a GBK character", "S", Variant(gbk), Variant("abcdefghi")},
      {"int8", "I8", Variant(-100), Variant(static_cast<signed char>(-100))},
      {"int8 out of range", "I8", Variant(200), {}, "out of range"},
      {"int16", "I16", Variant(-1234), Variant(static_cast<short>(-1234))},
      {"int16 refuses 70000", "I16", Variant(70000), {}, "Value 70000 is out of range for field I16"},
      {"int32 from text", "I32", Variant("12"), Variant(12)},
      {"int32 refuses decimal text", "I32", Variant("12.5"), {}, "'12.5' is not a valid integer value"},
      {"int32 refuses a large double", "I32", Variant(3e9), {}, "out of range"},
      {"float rounded to scale 2", "F", Variant(1.23456), Variant(1.23)},
      {"float rounds half away from zero", "F", Variant(-0.125), Variant(-0.13)},
      {"float scale 0 unrounded", "F0", Variant(1.23456), Variant(1.23456)},
      {"date", "D", Variant::FromDateTime(day), Variant::FromDateTime(day)},
      {"time", "T", Variant::FromDateTime(0.25), Variant::FromDateTime(0.25)},
      {"date-time from text", "DT", Variant("2024-01-02 03:04:05"), Variant::FromDateTime(moment)},
      {"date-time out of range", "DT", Variant(1e9), {}, "Invalid"},
      {"uint16", "U16", Variant(65535), Variant(static_cast<unsigned short>(65535))},
      {"uint16 refuses 70000", "U16", Variant(70000), {}, "out of range"},
      {"boolean", "B", Variant(true), Variant(true)},
      {"boolean refuses an integer", "B", Variant(1), {}, "Cannot convert type 10"},
      {"int64", "I64", Variant(1LL << 40), Variant(1LL << 40)},
      {"int64 refuses text", "I64", Variant("5"), {}, "Cannot convert type 11"},
      {"currency field", "C", Variant(1.5), Variant(1.5)},
      {"memo", "MEMO", Variant("some text"), Variant("some text")},
      {"variant", "VAR", Variant(u"wide"), Variant(u"wide")},
      {"heap string", "XS", Variant("heap"), Variant("heap")},
      {"bytes", "BY", ByteArray({1, 2, 3, 4}), ByteArray({1, 2, 3, 4})},
      {"bytes of the wrong size", "BY", ByteArray({1, 2, 3}), {}, "Invalid data size"},
      {"var bytes", "VB", ByteArray({1, 2}), ByteArray({1, 2})},
      {"var bytes longer than the field", "VB", ByteArray({1, 2, 3, 4, 5}), {}, "Invalid data size"},
      {"heap var bytes", "XVB", ByteArray({9, 8, 7}), ByteArray({9, 8, 7})},
      {"uint32", "U32", Variant(4000000000U), Variant(4000000000U)},
      {"uint32 refuses 5e9", "U32", Variant(5000000000LL), {}, "out of range"},
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
      EXPECT_THAT([&] { store.PutFieldAsVariant(no, buf, c.in); },
                  ThrowsMessage<Exception>(HasSubstr(c.error)));
      EXPECT_EQ(RecordBytes(), before) << "the record changed";
    } else {
      store.PutFieldAsVariant(no, buf, c.in);
      const Variant got = store.GetFieldAsVariant(no, buf);
      EXPECT_EQ(got.VarType(), c.want.VarType());
      EXPECT_TRUE(VarCompare(got, c.want) == 0) << VarToStr(got);
    }
  }
}

TEST_F(FieldsTest, TypesWithoutAVariantFormRaiseOnWriteAndRead) {
  for (const char* name : {"UNKNOWN", "OBJ", "REF", "ARR", "TAB", "X99"}) {
    SCOPED_TRACE(name);
    const auto message = ThrowsMessage<EConvertError>(
        StrEq("Cannot convert type " + std::to_string(store.FieldByName(name)->DataType)));
    EXPECT_THAT([&] { store.PutFieldAsVariant(No(name), buf, Variant(1)); }, message);
    store.SetNull(No(name), buf, false);
    EXPECT_THAT([&] { store.GetFieldAsVariant(No(name), buf); }, message);
  }
  store.PutFieldAsVariant(No("BLOB"), buf, Variant("abc"));  // written, but read only as a blob
  EXPECT_FALSE(store.GetNull(No("BLOB"), buf));
  EXPECT_THAT([&] { store.GetFieldAsVariant(No("BLOB"), buf); },
              ThrowsMessage<EConvertError>(StrEq("Cannot convert type 13")));
}

TEST_F(FieldsTest, FieldNumbersOutsideTheListAreRefused) {
  for (int no : {0, -1, store.GetFieldCount() + 1}) {
    SCOPED_TRACE(no);
    bool isNull = false;
    char dest[8];
    EXPECT_THROW(store.GetFieldAsVariant(no, buf), EAssertionFailed);
    EXPECT_THROW(store.PutFieldAsVariant(no, buf, Variant(1)), EAssertionFailed);
    EXPECT_THROW(store.SetNull(no, buf, true), EAssertionFailed);
    EXPECT_THROW(store.GetField(no, buf, dest, sizeof dest, isNull), EAssertionFailed);
  }
}

TEST_F(FieldsTest, TrimmingOfStringsReadAsVariants) {
  const struct {
    const char* field;
    bool trimFixed, trimVar;
    const char* want;
  } cases[] = {{"FIX", true, false, "ab"},
               {"FIX", false, true, "ab  "},
               {"S", false, true, "ab"},
               {"S", true, false, "ab  "},
               {"XS", false, true, "ab"}};
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

TEST_F(FieldsTest, TextReadsStayInsideTheDestinationAndCutAtCharacterBoundaries) {
  const struct {
    const char* name;
    bool eol;
    const char* stored;
    size_t destSize;
    const char* want;
  } cases[] = {
      {"off", false, "a\nb\nc\nd\ne", 11, "a\nb\nc\nd\ne"},
      {"every LF doubles; cut where the next pair does not fit", true, "a\nb\nc\nd\ne", 11,
       "a\r\nb\r\nc\r\nd"},
      {"CR LF stays one pair", true, "a\r\nb", 11, "a\r\nb"},
      {"a pair that does not fit is left out whole", true, "abcdefghi\n", 11, "abcdefghi"},
      {"small destination", true, "\n\n\n", 4, "\r\n"},
      {"GBK characters fit", false, "ab\xD6\xD0\xCE\xC4", 5, "ab\xD6\xD0"},
      {"no lone lead byte", false, "ab\xD6\xD0\xCE\xC4", 4, "ab"},
  };
  ASSERT_EQ(AnsiCharsetKind(), TCharsetKind::Gbk);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store.ConvertEOL = c.eol;
    store.PutFieldAsVariant(No("S"), buf, Variant(c.stored));
    EXPECT_EQ(ReadText(store, No("S"), buf, c.destSize), c.want);
  }
  store.PutFieldAsVariant(No("XS"), buf, Variant("\xD6\xD0"));
  EXPECT_EQ(ReadText(store, No("XS"), buf, 2), "");
  store.ConvertEOL = true;
  store.PutFieldAsVariant(No("WS"), buf, Variant(u"\n\n\n"));
  std::vector<char16_t> dest(4);  // 3 characters and the terminator
  bool isNull = true;
  store.GetField(No("WS"), buf, dest.data(), dest.size() * 2, isNull);
  EXPECT_EQ(std::u16string(dest.data()), u"\r\n");
}

// Text in its exchange form ends at its first zero byte or at the end of the source, and is cut to
// the field at a character boundary; it reads back the same, also from a slot written without its
// count.
TEST_F(FieldsTest, TextWritesEndAtTheTerminatorOrTheSourceAndCutAtCharacterBoundaries) {
  const struct {
    const char* name;
    std::string source;
    size_t sourceSize;
    const char* want;
  } cases[] = {
      {"empty", "", 1, ""},
      {"short", "abc", 4, "abc"},
      {"one byte short of the field", "abcdefghij", 11, "abcdefghij"},
      {"as long as the field", "abcdefghijk", 12, "abcdefghij"},
      {"longer", "abcdefghijklmnop", 17, "abcdefghij"},
      {"no lone lead byte", "abcdefghi\xD6\xD0", 12, "abcdefghi"},
      {"a zero byte ends it", std::string("ab\0cd", 5), 6, "ab"},
      {"no terminator within the source", "abcdef", 3, "abc"},
  };
  const int no = No("S");
  const size_t countAt = store.FieldOf(no).Offset + store.FieldOf(no).Size;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store.SetNull(no, buf, true);
    store.PutField(no, buf, c.source.c_str(), c.sourceSize);
    std::string text;
    EXPECT_TRUE(store.GetFieldText(no, buf, text));
    EXPECT_EQ(text, c.want);
    EXPECT_EQ(ReadText(store, no, buf, 11), c.want);
    static_cast<uint8_t*>(buf)[countAt] = 0;  // as a slot without the count holds it
    static_cast<uint8_t*>(buf)[countAt + 1] = 0;
    EXPECT_EQ(ReadText(store, no, buf, 11), c.want);
  }
}

TEST_F(FieldsTest, ExchangeFormsRoundTripAndCountsAreChecked) {
  bool isNull = false;
  int32_t dest = 42;
  store.GetField(No("I32"), buf, &dest, sizeof dest, isNull);
  EXPECT_TRUE(isNull);  // a null field leaves the destination alone
  EXPECT_EQ(dest, 42);
  // Dates travel as milliseconds, days and milliseconds of the day.
  const TDateTime moment = EncodeDateTime(2024, 1, 2, 3, 4, 5, 678);
  store.PutFieldAsVariant(No("DT"), buf, Variant::FromDateTime(moment));
  double msecs = 0;
  store.GetField(No("DT"), buf, &msecs, sizeof msecs, isNull);
  EXPECT_EQ(msecs, TimeStampToMSecs(DateTimeToTimeStamp(moment)));
  msecs += 0.4;  // stored rounded to whole milliseconds
  store.PutField(No("DT"), buf, &msecs, sizeof msecs);
  EXPECT_NEAR(store.GetFieldAsVariant(No("DT"), buf).AsDateTime(), moment, 1e-9);
  int32_t dayNo = DateDelta + 1;
  store.PutField(No("D"), buf, &dayNo, sizeof dayNo);
  EXPECT_EQ(store.GetFieldAsVariant(No("D"), buf).AsDateTime(), 1.0);  // 1899-12-31
  int32_t timeMs = -1;
  EXPECT_THROW(store.PutField(No("T"), buf, &timeMs, sizeof timeMs), EConvertError);
  // dtUInt32 travels widened to 8 bytes and is range-checked on the way in.
  int64_t wide = 4000000000LL;
  store.PutField(No("U32"), buf, &wide, sizeof wide);
  wide = 0;
  store.GetField(No("U32"), buf, &wide, sizeof wide, isNull);
  EXPECT_EQ(wide, 4000000000LL);
  wide = -1;
  EXPECT_THROW(store.PutField(No("U32"), buf, &wide, sizeof wide), EConvertError);
  // Counted bytes: a count above the field's length is refused, the field keeps its value.
  const uint8_t ok[] = {2, 0, 0xAA, 0xBB}, tooLong[] = {5, 0, 1, 2, 3, 4, 5}, lying[] = {9, 0, 1};
  store.PutField(No("VB"), buf, ok, sizeof ok);
  EXPECT_THROW(store.PutField(No("VB"), buf, tooLong, sizeof tooLong), EConvertError);
  EXPECT_TRUE(VarCompare(store.GetFieldAsVariant(No("VB"), buf), ByteArray({0xAA, 0xBB})) == 0);
  EXPECT_THROW(store.PutField(No("XVB"), buf, lying, sizeof lying), EAssertionFailed);  // beyond the buffer
}

// GetField and PutField reach most fields without their descriptors: what they write and read is
// what ReadFieldData and WriteFieldData make of the descriptors, byte for byte, in every layout an
// open describes, also when a field number changes its type or place between opens.
TEST(FieldAccessTest, GetAndPutFieldAgreeWithTheDescriptorsOfEachOpen) {
  const int32_t i32 = -123456789;
  const int16_t i16 = -1234;
  const int64_t i64 = 0x0123456789ABCDEFLL;
  const double msecs = 63840000000000.0 + 0.25, real = -2.5;
  const char text[] = "abc\xD6\xD0xyz";
  const auto valueOf = [&](TDataType type) -> std::pair<const void*, size_t> {
    switch (type) {
      case dtInt16:
      case dtInt8:
        return {&i16, sizeof i16};
      case dtInt32:
        return {&i32, sizeof i32};
      case dtInt64:
      case dtCurrency:
        return {&i64, sizeof i64};
      case dtFloat:
        return {&real, sizeof real};
      case dtDateTime:
        return {&msecs, sizeof msecs};
      default:
        return {text, sizeof text};
    }
  };
  const struct {
    const char* name;
    std::vector<TestField> fields;
  } layouts[] = {
      {"values", {{"A", dtInt32, 4}, {"B", dtString, 11, 10}, {"C", dtDateTime, 8}, {"D", dtInt16, 2}}},
      {"the same numbers, other types and places",
       {{"A", dtString, 21, 20},
        {"B", dtInt64, 8},
        {"C", dtInt8, 1},
        {"D", dtDateTime, 8},
        {"E", dtFloat, 8}}},
      {"heap text first, a calculated field",
       {{"X", dtExtString, R},
        {"A", dtCurrency, 8},
        {"K", dtString, 5, 4, 0, false, fdkCalculated},
        {"B", dtInt8, 2}}},
  };
  TTestStore store({});
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.name);
    store.Close();
    store.SetSpec(layout.fields);
    store.Open();
    const size_t size = static_cast<size_t>(store.RecordSize() + store.CalcRecordSize());
    void* fast = store.AllocRecBuf();
    void* slow = store.AllocRecBuf();
    for (void* buf : {fast, slow}) {
      store.InitRecord(buf);
      store.CreateComplexFields(buf, true);
    }
    for (int no = 1; no <= store.GetFieldCount(); ++no) {
      const TFieldDesc& f = store.FieldOf(no);
      SCOPED_TRACE(f.Name);
      const auto [value, valueSize] = valueOf(f.DataType);
      store.PutField(no, fast, value, valueSize);
      store.WriteFieldData(f, slow, value, valueSize);
      store.SetNull(no, slow, false);
      uint8_t got[32], want[32];
      std::memset(got, 0x5A, sizeof got);
      std::memset(want, 0x5A, sizeof want);
      bool isNull = true;
      store.GetField(no, fast, got, sizeof got, isNull);
      EXPECT_FALSE(isNull);
      store.ReadFieldData(f, slow, want, sizeof want);
      EXPECT_EQ(std::vector<uint8_t>(got, got + sizeof got), std::vector<uint8_t>(want, want + sizeof want));
    }
    if (!store.FindField("X")) {  // a heap text's slot holds an address of its own in each record
      EXPECT_EQ(std::memcmp(fast, slow, size), 0);
    }
    for (void* buf : {fast, slow}) {
      store.FreeComplexFields(buf, true);
      TData::FreeRecBuf(buf);
    }
  }
}

// Fields GetField and PutField still take through their descriptors: those an object holds (always
// null here, never written), and blobs, whose null flag alone does not make them null.
TEST(FieldAccessTest, HeldFieldsBlobsAndShortBuffersKeepTheirRules) {
  TTestStore store({{"O", dtObject, 8},
                    {"X", dtInt32, 4, 0, 0, false, fdkData, 1},
                    {"I", dtInt32, 4},
                    {"DT", dtDateTime, 8},
                    {"S", dtString, 11, 10},
                    {"M", dtMemo, R}});
  store.Open();
  void* buf = store.AllocRecBuf();
  store.InitRecord(buf);
  store.CreateComplexFields(buf, true);
  const int32_t v = 7;
  bool isNull = false;
  int32_t dest = 0;
  store.SetNull(2, buf, false);
  store.GetField(2, buf, &dest, sizeof dest, isNull);
  EXPECT_TRUE(isNull);
  EXPECT_THAT([&] { store.PutField(2, buf, &v, sizeof v); },
              ThrowsMessage<EAssertionFailed>(HasSubstr("Field O.X is held by its parent object")));
  store.GetBlob(6, buf)->Write(0, 3, "abc");
  void* blob = nullptr;
  store.GetField(6, buf, &blob, sizeof blob, isNull);  // flagged null, but its blob holds bytes
  EXPECT_FALSE(isNull);
  const struct {
    const char* name;
    int no;
    size_t size;
  } shortBuffers[] = {{"integer", 3, 2}, {"date-time", 4, 4}};
  for (const auto& c : shortBuffers) {
    SCOPED_TRACE(c.name);
    const double value = 63840000000000.0;
    store.PutField(c.no, buf, &value, sizeof value);
    EXPECT_THROW(store.PutField(c.no, buf, &value, c.size), EAssertionFailed);
    EXPECT_THROW(store.GetField(c.no, buf, &dest, c.size, isNull), EAssertionFailed);
  }
  store.FreeComplexFields(buf, true);
  TData::FreeRecBuf(buf);
}

TEST(MemDataLifecycleTest, OpenAndClose) {
  TTestStore store({{"id", dtInt32, 4}, {"ID", dtInt32, 4}});
  store.Open();
  EXPECT_EQ(store.FieldOf(2).Name, "ID_1");  // names made unique on open
  store.Close();
  EXPECT_EQ(store.GetFieldCount(), 0);  // described again on the next open
  EXPECT_EQ(store.InternalCloseCalls, 1);
  store.SetCachedUpdates(true);
  store.SetCachedUpdates(false);  // switching off drops the cached changes
  EXPECT_EQ(store.CancelUpdatesCalls, 1);
}

TEST(MemDataLifecycleTest, FilterTextIsParsedWhenActiveAndABadOneChangesNothing) {
  TTestStore store({{"A", dtInt32, 4}, {"B", dtInt32, 4}});
  store.SetFilterText("bad");  // inactive: only stored
  EXPECT_THROW(store.Open(), Exception);
  EXPECT_FALSE(store.Active());
  EXPECT_EQ(store.InternalCloseCalls, 1);
  store.SetFilterText("  A IS NULL ");
  store.Open();
  TFilterExpression* before = store.FilterExpression();
  ASSERT_NE(before, nullptr);
  EXPECT_THROW(store.SetFilterText("C IS NULL"), Exception);
  EXPECT_EQ(store.FilterText(), "  A IS NULL ");
  EXPECT_EQ(store.FilterExpression(), before);  // the old filter stays in force
  store.SetFilterText(" ");
  EXPECT_FALSE(store.HasFilter());
  store.SetFilterText("B IS NULL");
  store.Close();
  EXPECT_EQ(store.FilterExpression(), nullptr);
  EXPECT_EQ(store.FilterText(), "B IS NULL");
}

}  // namespace
