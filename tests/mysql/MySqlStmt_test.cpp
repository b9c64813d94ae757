// The prepared-statement codecs on bytes: parameter types and values, the execute request, the
// prepare reply and binary date and time values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/MemCompressedBlob.h"
#include "mysql/MyClasses.h"
#include "mysql/MySqlStmt.h"
#include "tests/mysql/MySqlPacketFactory.h"

using mysql_test::Bytes;
using mysql_test::Put;

namespace {

int ErrorOf(auto f) {
  try {
    f();
  } catch (const EMySqlException& e) {
    return e.ErrorCode;
  }
  return 0;
}

Bytes Encode(TDataType type, const Variant& value, bool unicode = false) {
  TBytes out;
  AppendMySqlParamValue(out, type, value, unicode);
  return out;
}

Bytes Counted(const std::string& s) {
  Bytes b;
  mysql_test::PutLencText(b, s);
  return b;
}

// Blobs are reference-counted: the holder releases its reference at the end of the test.
template <typename T>
struct TBlobRef {
  T* Blob;
  explicit TBlobRef(bool unicode = false) : Blob(new T(unicode)) {}
  ~TBlobRef() { Blob->Release(); }
  Variant AsVariant() const { return Variant::FromObject(static_cast<TSharedObject*>(Blob)); }
};

TMySqlStmtParam Param(TDataType type, Variant value, bool isNull = false) {
  TMySqlStmtParam p;
  p.DataType = type;
  p.Value = std::move(value);
  p.IsNull = isNull;
  return p;
}

}  // namespace

TEST(MySqlStmtCodecTest, WireTypesCarryTheUnsignedFlag) {
  struct {
    TDataType Type;
    uint16_t Wire;
  } cases[] = {
      {dtString, 253}, {dtMemo, 253}, {dtWideMemo, 253}, {dtBCD, 253}, {dtFmtBCD, 253}, {dtBlob, 253},
      {dtBytes, 253}, {dtVarBytes, 253}, {dtInt8, 1}, {dtBoolean, 1}, {dtInt16, 2}, {dtInt32, 3},
      {dtUInt16, 3 | 0x8000}, {dtUInt32, 3 | 0x8000}, {dtFloat, 5}, {dtDate, 10}, {dtTime, 11},
      {dtDateTime, 12}, {dtInt64, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Type);
    EXPECT_EQ(MySqlParamWireType(c.Type), c.Wire);
  }
  try {
    MySqlParamWireType(dtCurrency);
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(e.Message().find("Invalid internal field type $C (12)"), std::string::npos) << e.Message();
  }
}

TEST(MySqlStmtCodecTest, ValueEncodings) {
  const TDateTime dt = EncodeDateTime(2004, 5, 6, 7, 8, 9, 10);
  struct {
    const char* Name;
    TDataType Type;
    Variant Value;
    Bytes Expected;
  } cases[] = {
      {"int8", dtInt8, Variant(-2), {0xFE}},
      {"boolean", dtBoolean, Variant(true), {1}},
      {"int16", dtInt16, Variant(-2), {0xFE, 0xFF}},
      {"int32", dtInt32, Variant(0x01020304), {4, 3, 2, 1}},
      {"uint16 as four bytes", dtUInt16, Variant(65535), {0xFF, 0xFF, 0, 0}},
      {"uint32 above the signed range", dtUInt32, Variant(3000000000LL), {0x00, 0x5E, 0xD0, 0xB2}},
      {"int64", dtInt64, Variant(-1LL), Bytes(8, 0xFF)},
      {"float", dtFloat, Variant(1.5), {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},
      {"date", dtDate, Variant::FromDateTime(dt), {4, 0xD4, 0x07, 5, 6}},
      {"datetime with milliseconds", dtDateTime, Variant::FromDateTime(dt),
       {11, 0xD4, 0x07, 5, 6, 7, 8, 9, 0x10, 0x27, 0, 0}},
      {"time of day has no days", dtTime, Variant::FromDateTime(EncodeTime(7, 8, 9, 0)),
       {12, 0, 0, 0, 0, 0, 7, 8, 9, 0, 0, 0, 0}},
      {"a date-time counts its whole days", dtTime, Variant::FromDateTime(dt),
       {12, 0, 0xE1, 0x94, 0, 0, 7, 8, 9, 0x10, 0x27, 0, 0}},
      {"time over a day", dtTime, Variant::FromDateTime(1.5), {12, 0, 1, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0}},
      {"negative time", dtTime, Variant::FromDateTime(-0.25), {12, 1, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0}},
      {"zero date", dtDate, Variant::FromDateTime(MySQLZeroDate), {0}},
      {"zero date-time", dtDateTime, Variant::FromDateTime(MySQLZeroDate), {0}},
      {"decimal text", dtFmtBCD, Variant(std::string("-12.50")), Counted("-12.50")},
      {"ansi text", dtString, Variant(std::string("ab\xB0\xA1")), Counted("ab\xB0\xA1")},
      {"byte array", dtBlob, Variant::FromBytes(Bytes{0, 1, 0}), Bytes{3, 0, 1, 0}},
      {"bytes type", dtVarBytes, Variant::FromBytes(Bytes{9}), Bytes{1, 9}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Encode(c.Type, c.Value), c.Expected);
  }
}

TEST(MySqlStmtCodecTest, TextIsSentAsUtf8OnUnicodeConnectionsAndAsAnsiOtherwise) {
  const std::string gbk = "\xC4\xE3\xBA\xC3";  // 你好 in GBK
  const std::string utf8 = "\xE4\xBD\xA0\xE5\xA5\xBD";
  struct {
    const char* Name;
    TDataType Type;
    Variant Value;
    bool Unicode;
    std::string Expected;
  } cases[] = {
      {"ansi value, unicode", dtString, Variant(gbk), true, utf8},
      {"wide value, unicode", dtWideString, Variant(u"你好"), true, utf8},
      {"wide value, ansi", dtWideString, Variant(u"你好"), false, gbk},
      {"ansi memo, unicode", dtMemo, Variant(gbk), true, utf8},
      {"ext string, unicode", dtExtString, Variant(gbk), true, utf8},
      {"blob type keeps its bytes", dtBlob, Variant(gbk), true, gbk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Encode(c.Type, c.Value, c.Unicode), Counted(c.Expected));
  }
}

TEST(MySqlStmtCodecTest, BlobsGoWholeInPieceOrder) {
  TBlobRef<TBlob> blob;
  blob.Blob->SetPieceSize(1000);
  std::string content;
  for (int i = 0; i < 70000; ++i) content.push_back(static_cast<char>('a' + i % 26));
  blob.Blob->Write(0, static_cast<uint32_t>(content.size()), content.data());
  ASSERT_NE(blob.Blob->GetFirstPiece()->Next, nullptr);
  EXPECT_EQ(Encode(dtBlob, blob.AsVariant()), Counted(content));

  TBlobRef<TCompressedBlob> packed;
  packed.Blob->Write(0, static_cast<uint32_t>(content.size()), content.data());
  packed.Blob->SetCompressed(true);
  ASSERT_TRUE(packed.Blob->IsCompressed());
  EXPECT_EQ(Encode(dtBlob, packed.AsVariant()), Counted(content));
  EXPECT_TRUE(packed.Blob->IsCompressed()) << "sending leaves the blob as it was";

  TBlobRef<TBlob> wide(true);
  wide.Blob->SetAsWideString(u"你好");
  EXPECT_EQ(Encode(dtWideMemo, wide.AsVariant(), true), Counted("\xE4\xBD\xA0\xE5\xA5\xBD"));
  EXPECT_EQ(Encode(dtWideMemo, wide.AsVariant(), false), Counted("\xC4\xE3\xBA\xC3"));

  TBlobRef<TBlob> memo;
  memo.Blob->SetAsString("\xC4\xE3");
  EXPECT_EQ(Encode(dtMemo, memo.AsVariant(), true), Counted("\xE4\xBD\xA0"));
  EXPECT_EQ(Encode(dtBlob, memo.AsVariant(), true), Counted("\xC4\xE3"));

  TBlobRef<TBlob> empty;
  EXPECT_EQ(Encode(dtBlob, empty.AsVariant()), Bytes{0});
}

TEST(MySqlStmtCodecTest, ValuesThatDoNotFitRaise) {
  struct {
    const char* Name;
    TDataType Type;
    Variant Value;
  } cases[] = {
      {"int8 overflow", dtInt8, Variant(200)},
      {"int16 overflow", dtInt16, Variant(40000)},
      {"int32 overflow", dtInt32, Variant(3000000000LL)},
      {"uint16 negative", dtUInt16, Variant(-1)},
      {"uint32 overflow", dtUInt32, Variant(4294967296LL)},
      {"integer from text", dtInt32, Variant(std::string("abc"))},
      {"time not finite", dtTime, Variant::FromDateTime(1e300)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_THROW(Encode(c.Type, c.Value), EConvertError);
  }
}

TEST(MySqlStmtCodecTest, ExecuteRequestSendsTypesOnlyWhenTheyChange) {
  std::vector<TMySqlStmtParam> params = {Param(dtInt32, 7), Param(dtString, Variant::Null()),
                                         Param(dtUInt32, 3000000000LL)};
  TBytes types;
  const Bytes head = {0x2A, 0, 0, 0, 0, 1, 0, 0, 0};
  Bytes first = head;
  first.push_back(0x02);  // parameter 1 is NULL
  first.push_back(1);
  first.insert(first.end(), {3, 0, 253, 0, 3, 0x80});
  first.insert(first.end(), {7, 0, 0, 0, 0x00, 0x5E, 0xD0, 0xB2});
  EXPECT_EQ(BuildMySqlExecuteRequest(42, 3, params, false, types), first);
  EXPECT_EQ(types, (Bytes{3, 0, 253, 0, 3, 0x80}));

  Bytes again = head;
  again.insert(again.end(), {0x02, 0, 7, 0, 0, 0, 0x00, 0x5E, 0xD0, 0xB2});
  EXPECT_EQ(BuildMySqlExecuteRequest(42, 3, params, false, types), again);

  params[0] = Param(dtInt64, 7);
  const Bytes changed = BuildMySqlExecuteRequest(42, 3, params, false, types);
  EXPECT_EQ(changed[10], 1);
  EXPECT_EQ(types[0], 8);
}

TEST(MySqlStmtCodecTest, ExecuteRequestEdgeCases) {
  const Bytes head = {1, 0, 0, 0, 0, 1, 0, 0, 0};
  TBytes types;
  SCOPED_TRACE("a count that does not match sends no parameter block");
  EXPECT_EQ(BuildMySqlExecuteRequest(1, 2, std::vector{Param(dtInt32, 1)}, false, types), head);
  EXPECT_TRUE(types.empty());

  SCOPED_TRACE("a leading result parameter is not sent");
  auto result = Param(dtInt32, 0);
  result.ParamType = MYSQL_PARAM_RESULT;
  Bytes one = head;
  one.insert(one.end(), {0, 1, 1, 0, 5});
  EXPECT_EQ(BuildMySqlExecuteRequest(1, 1, std::vector{result, Param(dtInt8, 5)}, false, types), one);

  SCOPED_TRACE("nine parameters take two bitmap bytes; NULLs add no value bytes");
  std::vector<TMySqlStmtParam> nine(9, Param(dtInt8, 1));
  nine[0].IsNull = true;
  nine[8].Value = Variant::Null();
  TBytes nineTypes;
  const Bytes request = BuildMySqlExecuteRequest(1, 9, nine, false, nineTypes);
  EXPECT_EQ(request[9], 0x01);
  EXPECT_EQ(request[10], 0x01);
  EXPECT_EQ(request.size(), head.size() + 2 + 1 + 18 + 7);

  SCOPED_TRACE("a value that cannot be sent leaves the remembered types alone");
  TBytes kept = {1, 0};
  EXPECT_THROW(BuildMySqlExecuteRequest(1, 1, std::vector{Param(dtInt8, 1000)}, false, kept), EConvertError);
  EXPECT_EQ(kept, (Bytes{1, 0}));
}

TEST(MySqlStmtCodecTest, PrepareReply) {
  const Bytes full = {0, 7, 0, 0, 0, 2, 0, 3, 0, 0, 1, 0};
  const TMySqlPrepareOk ok = ParseMySqlPrepareOk(full);
  EXPECT_EQ(ok.StatementId, 7u);
  EXPECT_EQ(ok.FieldCount, 2);
  EXPECT_EQ(ok.ParamCount, 3);
  EXPECT_EQ(ok.WarningCount, 1);
  EXPECT_EQ(ParseMySqlPrepareOk(Bytes(full.begin(), full.begin() + 9)).ParamCount, 3) << "older servers";
  for (size_t n = 0; n < full.size(); ++n) {
    if (n == 9) continue;
    SCOPED_TRACE("cut to " + std::to_string(n));
    EXPECT_EQ(ErrorOf([&] { ParseMySqlPrepareOk(Bytes(full.begin(), full.begin() + n)); }), 2027);
  }
  Bytes longer = full;
  longer.push_back(0);
  EXPECT_EQ(ErrorOf([&] { ParseMySqlPrepareOk(longer); }), 2027);
  EXPECT_EQ(ErrorOf([] { ParseMySqlPrepareOk(Bytes{1, 7, 0, 0, 0, 2, 0, 3, 0}); }), 2027);
  EXPECT_EQ(ErrorOf([] { ParseMySqlPrepareOk(Bytes{0, 7, 0, 0, 0, 0xFF, 0xFF, 0, 0}); }), 2027) << "field count";
}

TEST(MySqlStmtCodecTest, BinaryTemporalValues) {
  struct {
    const char* Name;
    uint8_t Type;
    Bytes Value;
    TMySqlTime Expected;
  } cases[] = {
      {"zero date", mftDate, {}, {0, 0, 0, 0, 0, 0, 0, 0, MYSQL_TIMESTAMP_DATE}},
      {"date", mftDate, {0xD4, 0x07, 5, 6}, {2004, 5, 6, 0, 0, 0, 0, 0, MYSQL_TIMESTAMP_DATE}},
      {"datetime", mftDateTime, {0xD4, 0x07, 5, 6, 7, 8, 9}, {2004, 5, 6, 7, 8, 9, 0, 0, MYSQL_TIMESTAMP_DATETIME}},
      {"timestamp with micros", mftTimestamp, {0xD4, 0x07, 5, 6, 7, 8, 9, 0x10, 0x27, 0, 0},
       {2004, 5, 6, 7, 8, 9, 10000, 0, MYSQL_TIMESTAMP_DATETIME}},
      {"time", mftTime, {0, 0, 0, 0, 0, 7, 8, 9}, {0, 0, 0, 7, 8, 9, 0, 0, MYSQL_TIMESTAMP_TIME}},
      {"negative time with days", mftTime, {1, 34, 0, 0, 0, 22, 59, 59, 1, 0, 0, 0},
       {0, 0, 0, 838, 59, 59, 1, 1, MYSQL_TIMESTAMP_TIME}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TMySqlTime t = DecodeMySqlBinaryTemporal(c.Value, c.Type);
    EXPECT_EQ(std::vector<uint32_t>({t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second, t.SecondPart}),
              std::vector<uint32_t>({c.Expected.Year, c.Expected.Month, c.Expected.Day, c.Expected.Hour,
                                     c.Expected.Minute, c.Expected.Second, c.Expected.SecondPart}));
    EXPECT_EQ(t.Neg, c.Expected.Neg);
    EXPECT_EQ(t.TimeType, c.Expected.TimeType);
    for (size_t n = 1; n < c.Value.size(); ++n) {
      if (n == 4 || n == 7 || n == 8) continue;  // shorter valid forms
      SCOPED_TRACE("cut to " + std::to_string(n));
      EXPECT_EQ(ErrorOf([&] { DecodeMySqlBinaryTemporal(Bytes(c.Value.begin(), c.Value.begin() + n), c.Type); }),
                2027);
    }
  }
  EXPECT_EQ(ErrorOf([] { DecodeMySqlBinaryTemporal(Bytes{0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0}, mftTime); }), 2027)
      << "days beyond the hours";
  EXPECT_EQ(ErrorOf([] { DecodeMySqlBinaryTemporal(Bytes{0, 0, 0, 0}, mftLong); }), 2027) << "not a temporal type";
}

TEST(MySqlStmtCodecTest, ParameterDescriptionsGiveTheirValues) {
  TBlobRef<TBlob> blob;
  blob.Blob->SetAsString("xyz");
  TParamDescs descs;
  auto add = [&](TDataType type) {
    TParamDesc* d = descs.Add(std::make_unique<TParamDesc>());
    d->SetDataType(type);
    return d;
  };
  add(dtInt32)->SetParamType(MYSQL_PARAM_RESULT);
  add(dtString)->SetNull(true);
  add(dtBlob)->SetObject(blob.Blob);
  add(dtInt16)->SetValue(Variant(7));
  const std::vector<TMySqlStmtParam> values = MySqlStmtParams(descs);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(MySqlSentParams(values).size(), 3u) << "the result parameter is not sent";
  EXPECT_TRUE(values[1].IsNull);
  TBytes types;
  const Bytes request = BuildMySqlExecuteRequest(1, 3, values, false, types);
  const Bytes tail(request.end() - 6, request.end());
  EXPECT_EQ(tail, (Bytes{3, 'x', 'y', 'z', 7, 0}));

  TVariantObject* other = new TVariantObject;
  EXPECT_THROW(Encode(dtBlob, Variant::FromObject(static_cast<TSharedObject*>(other))), EAssertionFailed)
      << "an object that is not a blob";
  other->Release();
}
