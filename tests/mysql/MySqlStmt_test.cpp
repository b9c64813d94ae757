// The prepared-statement codecs on bytes: parameter types and values, the execute request, the
// prepare reply and binary date and time values.
#include "mysql/MySqlStmt.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/MemCompressedBlob.h"
#include "mysql/MyClasses.h"
#include "support/NetTestUtil.h"
#include "tests/mysql/MySqlPacketFactory.h"

using mysql_test::Bytes;
using mysql_test::Put;

namespace {

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

// Values the round trip through the server (MySqlApiDirect_dbtest) does not cover, and text sent
// as UTF-8 on Unicode connections.
TEST(MySqlStmtCodecTest, ValueEncodings) {
  const TDateTime dt = EncodeDateTime(2004, 5, 6, 7, 8, 9, 10);
  const std::string gbk = "\xC4\xE3\xBA\xC3", utf8 = "\xE4\xBD\xA0\xE5\xA5\xBD";  // 你好
  const std::tuple<const char*, TDataType, Variant, bool, Bytes> cases[] = {
      {"int32 little-endian", dtInt32, Variant(0x01020304), false, {4, 3, 2, 1}},
      {"uint16 as four bytes", dtUInt16, Variant(65535), false, {0xFF, 0xFF, 0, 0}},
      {"datetime with milliseconds",
       dtDateTime,
       Variant::FromDateTime(dt),
       false,
       {11, 0xD4, 0x07, 5, 6, 7, 8, 9, 0x10, 0x27, 0, 0}},
      {"a date-time as time counts its whole days",
       dtTime,
       Variant::FromDateTime(dt),
       false,
       {12, 0, 0xE1, 0x94, 0, 0, 7, 8, 9, 0x10, 0x27, 0, 0}},
      {"time over a day",
       dtTime,
       Variant::FromDateTime(1.5),
       false,
       {12, 0, 1, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0}},
      {"zero date", dtDate, Variant::FromDateTime(MySQLZeroDate), false, {0}},
      {"zero date-time", dtDateTime, Variant::FromDateTime(MySQLZeroDate), false, {0}},
      {"byte array", dtBlob, Variant::FromBytes(Bytes{0, 1, 0}), false, Bytes{3, 0, 1, 0}},
      {"bytes type", dtVarBytes, Variant::FromBytes(Bytes{9}), false, Bytes{1, 9}},
      {"ansi value, unicode", dtString, Variant(gbk), true, Counted(utf8)},
      {"wide value, unicode", dtWideString, Variant(u"你好"), true, Counted(utf8)},
      {"wide value, ansi", dtWideString, Variant(u"你好"), false, Counted(gbk)},
      {"ansi memo, unicode", dtMemo, Variant(gbk), true, Counted(utf8)},
      {"ext string, unicode", dtExtString, Variant(gbk), true, Counted(utf8)},
      {"blob type keeps its bytes", dtBlob, Variant(gbk), true, Counted(gbk)},
  };
  for (const auto& [name, type, value, unicode, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Encode(type, value, unicode), expected);
  }
}

// Blobs held in pieces: MySqlApiDirect_dbtest.
TEST(MySqlStmtCodecTest, BlobsGoAsTheirContent) {
  const std::string content(2000, 'c');
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
  const std::pair<TDataType, Variant> cases[] = {{dtInt8, Variant(200)},
                                                 {dtInt16, Variant(40000)},
                                                 {dtInt32, Variant(3000000000LL)},
                                                 {dtUInt16, Variant(-1)},
                                                 {dtUInt32, Variant(4294967296LL)},
                                                 {dtInt32, Variant(std::string("abc"))},
                                                 {dtTime, Variant::FromDateTime(1e300)}};
  for (const auto& [type, value] : cases) {
    SCOPED_TRACE(type);
    EXPECT_THROW(Encode(type, value), EConvertError);
  }
}

// Types go when they change; a value that cannot be sent leaves the remembered ones alone.
TEST(MySqlStmtCodecTest, ExecuteRequest) {
  std::vector<TMySqlStmtParam> params = {Param(dtInt32, 7), Param(dtString, Variant::Null()),
                                         Param(dtUInt32, 3000000000LL)};
  TBytes types;
  const Bytes head = {0x2A, 0, 0, 0, 0, 1, 0, 0, 0};
  const Bytes values = {7, 0, 0, 0, 0x00, 0x5E, 0xD0, 0xB2};  // no bytes for the NULL
  Bytes first = head;
  first.insert(first.end(), {0x02, 1, 3, 0, 253, 0, 3, 0x80});  // parameter 1 is NULL; types follow
  first.insert(first.end(), values.begin(), values.end());
  EXPECT_EQ(BuildMySqlExecuteRequest(42, 3, params, false, types), first);
  EXPECT_EQ(types, (Bytes{3, 0, 253, 0, 3, 0x80}));
  Bytes again = head;
  again.insert(again.end(), {0x02, 0});
  again.insert(again.end(), values.begin(), values.end());
  EXPECT_EQ(BuildMySqlExecuteRequest(42, 3, params, false, types), again);
  params[0] = Param(dtInt64, 7);
  EXPECT_EQ(BuildMySqlExecuteRequest(42, 3, params, false, types)[10], 1);
  EXPECT_EQ(types[0], 8);
  TBytes kept = types;
  EXPECT_THROW(BuildMySqlExecuteRequest(42, 1, std::vector{Param(dtInt8, 1000)}, false, kept), EConvertError);
  EXPECT_EQ(kept, types);

  const Bytes head1 = {1, 0, 0, 0, 0, 1, 0, 0, 0};
  TBytes none;
  EXPECT_EQ(BuildMySqlExecuteRequest(1, 2, std::vector{Param(dtInt32, 1)}, false, none), head1)
      << "a count that does not match sends no parameter block";
  auto result = Param(dtInt32, 0);
  result.ParamType = MYSQL_PARAM_RESULT;
  Bytes one = head1;
  one.insert(one.end(), {0, 1, 1, 0, 5});
  EXPECT_EQ(BuildMySqlExecuteRequest(1, 1, std::vector{result, Param(dtInt8, 5)}, false, none), one)
      << "a leading result parameter is not sent";
  std::vector<TMySqlStmtParam> nine(9, Param(dtInt8, 1));
  nine[0].IsNull = true;
  nine[8].Value = Variant::Null();
  const Bytes request = BuildMySqlExecuteRequest(1, 9, nine, false, none);
  EXPECT_EQ(Bytes(request.begin() + 9, request.begin() + 11), (Bytes{0x01, 0x01})) << "two bitmap bytes";
  EXPECT_EQ(request.size(), head1.size() + 2 + 1 + 18 + 7);
}

TEST(MySqlStmtCodecTest, PrepareReply) {
  const Bytes full = {0, 7, 0, 0, 0, 2, 0, 3, 0, 0, 1, 0};
  const TMySqlPrepareOk ok = ParseMySqlPrepareOk(full);
  EXPECT_EQ(std::vector<uint32_t>({ok.StatementId, ok.FieldCount, ok.ParamCount, ok.WarningCount}),
            std::vector<uint32_t>({7, 2, 3, 1}));
  EXPECT_EQ(ParseMySqlPrepareOk(Bytes(full.begin(), full.begin() + 9)).ParamCount, 3) << "older servers";
  for (size_t n = 0; n < full.size(); ++n) {
    if (n == 9) continue;
    SCOPED_TRACE("cut to " + std::to_string(n));
    EXPECT_EQ(MySqlErrorOf([&] { ParseMySqlPrepareOk(Bytes(full.begin(), full.begin() + n)); }), 2027);
  }
  Bytes longer = full;
  longer.push_back(0);
  EXPECT_EQ(MySqlErrorOf([&] { ParseMySqlPrepareOk(longer); }), 2027);
  EXPECT_EQ(MySqlErrorOf([] { ParseMySqlPrepareOk(Bytes{1, 7, 0, 0, 0, 2, 0, 3, 0}); }), 2027);
  const Bytes fieldCount = {0, 7, 0, 0, 0, 0xFF, 0xFF, 0, 0};
  EXPECT_EQ(ParseMySqlPrepareOk(fieldCount).FieldCount, 65535u) << "the most a 16-bit count holds";
}

// The decoded values: MySqlApiDirect_dbtest, against the text protocol.
TEST(MySqlStmtCodecTest, BinaryTemporalValuesOfEveryLength) {
  const std::tuple<const char*, uint8_t, Bytes, uint32_t> cases[] = {
      // name, type, bytes, hour
      {"zero date", mftDate, {}, 0},
      {"date", mftDate, {0xD4, 0x07, 5, 6}, 0},
      {"datetime", mftDateTime, {0xD4, 0x07, 5, 6, 7, 8, 9}, 7},
      {"timestamp with micros", mftTimestamp, {0xD4, 0x07, 5, 6, 7, 8, 9, 0x10, 0x27, 0, 0}, 7},
      {"time", mftTime, {0, 0, 0, 0, 0, 7, 8, 9}, 7},
      {"negative time with days", mftTime, {1, 34, 0, 0, 0, 22, 59, 59, 1, 0, 0, 0}, 838}};
  const auto errorOf = [](const Bytes& b, uint8_t type) {
    return MySqlErrorOf([&] { DecodeMySqlBinaryTemporal(b, type); });
  };
  for (const auto& [name, type, value, hour] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(DecodeMySqlBinaryTemporal(value, type).Hour, hour);
    for (size_t n = 1; n < value.size(); ++n) {
      if (n == 4 || n == 7 || n == 8) continue;  // shorter valid forms
      SCOPED_TRACE("cut to " + std::to_string(n));
      EXPECT_EQ(errorOf(Bytes(value.begin(), value.begin() + n), type), 2027);
    }
  }
  EXPECT_EQ(errorOf({0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0}, mftTime), 2027) << "days beyond the hours";
  EXPECT_EQ(errorOf({0, 0, 0, 0}, mftLong), 2027) << "not a temporal type";
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
