#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <memory>
#include <string>
#include <tuple>

#include "core/MemCompressedBlob.h"
#include "mysql/MyClasses.h"
#include "platform/runtime/Currency.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/FMTBcd.h"
#include "support/MyLiteralModel.h"

namespace {

const TCharsetKind Latin1 = TCharsetKind::SingleByte;
const TCharsetKind Gbk = TCharsetKind::Gbk;

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

struct TBlobReleaser {
  void operator()(TBlob* b) const { b->Release(); }
};
using BlobPtr = std::unique_ptr<TBlob, TBlobReleaser>;  // blobs are reference-counted

BlobPtr MakeBlob(const std::string& content, bool compressed = false, bool isUnicode = false) {
  BlobPtr blob(compressed ? new TCompressedBlob(isUnicode) : new TBlob(isUnicode));
  blob->Write(0, static_cast<uint32_t>(content.size()), content.data());
  return blob;
}

struct LiteralCase {
  const char* name;
  TDataType type;
  Variant value;
  std::string want;
  int major = 5;
  bool useUnicode = false;
  TCharsetKind cs = Latin1;
};

void CheckLiterals(const std::vector<LiteralCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ValueToSQLText(c.type, c.value, false, c.major, false, c.useUnicode, c.cs), c.want);
  }
}

std::string Literal(TDataType type, const Variant& value, bool compress, TCharsetKind cs,
                    bool useUnicode = false) {
  return ValueToSQLText(type, value, false, 5, compress, useUnicode, cs);
}

// Numbers are written with a point, also under a locale whose decimal separator is a comma.
TEST(MyLiteralTest, NumbersIgnoreTheLocale) {
  const std::vector<LiteralCase> numbers = {
      {"negative float", dtFloat, -0.25, "-0.25"},
      {"large float", dtFloat, 1e20, "1e+20"},
      {"float from text", dtFloat, "2.5", "2.5"},
      {"currency", dtCurrency, Currency::FromScaled(125000), "12.5"},
      {"bcd", dtBCD, 1234.5678, "1234.5678"},
      {"fmt bcd", dtFmtBCD, StrToBcd("-12345678901234567890.125"), "-12345678901234567890.125"},
      {"int from number text", dtInt32, "42", "42"},
      {"int64", dtInt64, static_cast<long long>(-9000000000000LL), "-9000000000000"},
      {"uint32", dtUInt32, 3000000000u, "3000000000"},
  };
  CheckLiterals(numbers);
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is missing: scripts/install-deps generates it";
  ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");
  CheckLiterals(numbers);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(MyLiteralTest, DatesTextAndBytes) {
  const TDateTime day = EncodeDate(2024, 2, 29);
  const TDateTime stamp = EncodeDateTime(2024, 2, 29, 13, 4, 5, 0);
  const std::string jo = Bytes({0x81, 0x5C});  // 乗 in GBK
  CheckLiterals({
      {"date", dtDate, Variant::FromDateTime(day), "'2024-02-29'"},
      {"date-time", dtDateTime, Variant::FromDateTime(stamp), "'2024-02-29 13:04:05'"},
      {"zero date-time", dtDateTime, Variant::FromDateTime(MySQLZeroDate), "'0000-00-00 00:00:00'"},
      {"zero date", dtDate, Variant::FromDateTime(MySQLZeroDate), "'0000-00-00 00:00:00'"},
      {"year 1", dtDate, Variant::FromDateTime(EncodeDate(1, 1, 2)), "'0001-01-02'"},
      {"time", dtTime, Variant::FromDateTime(EncodeTime(1, 2, 3, 0)), "'1:2:3'"},
      {"negative time", dtTime, Variant::FromDateTime(-1.5 / 24), "'-1:30:0'"},
      {"time over a day", dtTime, Variant::FromDateTime(1.5), "'36:0:0'"},
      {"half second to even", dtTime, Variant::FromDateTime(2.5 / 86400), "'0:0:2'"},
      {"true, 4.1 server", dtBoolean, true, "1", 4},
      {"false, 5.0 server", dtBoolean, false, "b'0'", 5},
      {"text", dtString, "It's\r\n", "'It\\'s\\r\\n'"},
      {"gbk text on gbk", dtString, jo + "n", Bytes({'\'', 0x81, 0x5C, 'n', '\''}), 5, false, Gbk},
      {"gbk text on latin1", dtString, jo + "n", Bytes({'\'', 0x81, 0x5C, 0x5C, 'n', '\''}), 5, false,
       Latin1},
      {"gbk text as utf-8", dtMemo, jo + "'", "'\xE4\xB9\x97\\''", 5, true, TCharsetKind::Utf8},
      {"wide text as utf-8", dtWideString, u"\u4E57\"", "'\xE4\xB9\x97\\\"'", 5, true, TCharsetKind::Utf8},
      {"wide text as gbk", dtWideString, u"\u4E57", Bytes({'\'', 0x81, 0x5C, '\''}), 5, false, Gbk},
      {"empty", dtString, "", "''"},
      {"guid is text", dtGuid, "{1'}", "'{1\\'}'"},
      {"bytes on latin1", dtBytes, Variant::FromBytes(Bytes({0, 0x27, 0xFF}).data(), 3),
       Bytes({'\'', '\\', '0', '\\', '\'', 0xFF, '\''})},
      {"bytes on gbk", dtVarBytes, Variant::FromBytes(Bytes({0, 0x27, 0xFF}).data(), 3), "X'0027FF'", 5,
       false, Gbk},
      {"bytes as a string parameter", dtString, Variant::FromBytes(Bytes({0x81, 0x27}).data(), 2), "X'8127'",
       5, true, TCharsetKind::Utf8},
      {"variant text is quoted", dtVariant, "1 OR 1=1", "'1 OR 1=1'"},
      {"variant number", dtVariant, 7, "7"},
      {"variant Boolean", dtVariant, true, "b'1'"},
  });
}

TEST(MyLiteralTest, NullsAndRefusedValues) {
  EXPECT_EQ(ValueToSQLText(dtString, "x", true, 5, false, false, Latin1), "NULL");
  EXPECT_EQ(Literal(dtInt32, Variant::Null(), false, Latin1), "NULL");
  // A number field never takes text as it is: that would put the text into the statement.
  for (const auto& [type, value] : std::vector<std::pair<TDataType, Variant>>{
           {dtInt32, "1 OR 1=1"}, {dtFloat, std::nan("")}, {dtFloat, HUGE_VAL}, {dtTime, 1e300}})
    EXPECT_THROW(Literal(type, value, false, Latin1), EConvertError);
  EXPECT_THROW(Literal(dtBlob, Variant::FromObject(nullptr), false, Latin1), EAssertionFailed);
}

TEST(MyLiteralTest, Blobs) {
  auto blob = MakeBlob(Bytes({'a', 0x81, 0x5C, '\'', 0}));
  const Variant v = Variant::FromObject(blob.get());
  EXPECT_EQ(Literal(dtBlob, v, false, Gbk), "X'61815C2700'");
  EXPECT_EQ(Literal(dtBlob, v, false, TCharsetKind::Utf8, true), "X'61815C2700'");
  EXPECT_EQ(Literal(dtBlob, v, false, Latin1),
            Bytes({'\'', 'a', 0x81, '\\', '\\', '\\', '\'', '\\', '0', '\''}));
  EXPECT_EQ(Literal(dtMemo, v, false, Gbk), Bytes({'\'', 'a', 0x81, 0x5C, '\\', '\'', '\\', '0', '\''}));
  auto empty = MakeBlob("");
  EXPECT_EQ(Literal(dtBlob, Variant::FromObject(empty.get()), true, Gbk), "''");
  auto wide = MakeBlob("", false, true);
  wide->SetAsWideString(u"\u4E57'");
  EXPECT_EQ(Literal(dtWideMemo, Variant::FromObject(wide.get()), false, TCharsetKind::Utf8, true),
            "'\xE4\xB9\x97\\''");
}

// Compressed content is bytes, whatever the column holds: it goes as a hex literal on a
// multi-byte connection (under UseUnicode too, where it used to be read as text and mangled).
TEST(MyLiteralTest, CompressedBlobsAreSentAsBytes) {
  const std::string content(1000, 'x');
  const std::string magicHex = "X'398C9DF158554938A65287CEE0C6DA7E";
  for (bool useUnicode : {false, true}) {
    SCOPED_TRACE(useUnicode);
    const TCharsetKind cs = useUnicode ? TCharsetKind::Utf8 : Gbk;
    auto plain = MakeBlob(content);
    const std::string lit = Literal(dtMemo, Variant::FromObject(plain.get()), true, cs, useUnicode);
    EXPECT_EQ(lit.rfind(magicHex, 0), 0u) << lit.substr(0, 40);
    EXPECT_EQ(plain->GetAsString(), content);  // the parameter's own blob is untouched
    auto wide = MakeBlob("", true, true);
    wide->SetAsWideString(std::u16string(600, u'\u4E57'));
    const auto back =
        ServerReadHexLiteral(Literal(dtWideMemo, Variant::FromObject(wide.get()), true, cs, useUnicode));
    ASSERT_TRUE(back);
    BlobPtr check(new TCompressedBlob(true));
    check->Write(0, static_cast<uint32_t>(back->Value.size()), back->Value.data());
    EXPECT_EQ(check->GetAsWideString(), std::u16string(600, u'\u4E57'));
  }
  // Small blobs stay plain; without the compress flag compressed content goes uncompressed.
  auto small = MakeBlob("abc");
  EXPECT_EQ(Literal(dtMemo, Variant::FromObject(small.get()), true, Gbk), "'abc'");
  auto stored = MakeBlob("", true);
  stored->SetAsString(content);
  static_cast<TCompressedBlob*>(stored.get())->SetCompressed(true);
  EXPECT_EQ(Literal(dtMemo, Variant::FromObject(stored.get()), false, Gbk), "'" + content + "'");
}

TEST(MyTypeMappingTest, ColumnTypesToDataTypes) {
  // Flags: binary, UseUnicode, EnableBoolean, unsigned.
  const std::tuple<const char*, int, uint32_t, std::array<bool, 4>, TDANumericType, TDataType, bool> cases[] =
      {
          {"decimal as float", mftNewDecimal, 10, {}, ntFloat, dtFloat, false},
          {"decimal as bcd", mftDecimal, 10, {}, ntBCD, dtBCD, false},
          {"decimal as fmt bcd", mftNewDecimal, 10, {}, ntFmtBCD, dtFmtBCD, false},
          {"tinyint(1) as Boolean", mftTiny, 1, {0, 0, 1, 0}, ntFloat, dtBoolean, false},
          {"tinyint(1) without EnableBoolean", mftTiny, 1, {}, ntFloat, dtInt8, false},
          {"tinyint unsigned", mftTiny, 3, {0, 0, 1, 1}, ntFloat, dtUInt16, false},
          {"smallint unsigned", mftShort, 5, {0, 0, 0, 1}, ntFloat, dtUInt16, false},
          {"int unsigned", mftLong, 10, {0, 0, 0, 1}, ntFloat, dtUInt32, false},
          {"mediumint unsigned", mftInt24, 9, {0, 0, 0, 1}, ntFloat, dtInt32, false},
          {"bigint", mftLongLong, 20, {}, ntFloat, dtInt64, false},
          {"bigint unsigned", mftLongLong, 20, {0, 0, 0, 1}, ntFloat, dtUInt64, false},
          {"bit", mftBit, 8, {}, ntFloat, dtUInt64, false},
          {"double", mftDouble, 22, {}, ntFloat, dtFloat, false},
          {"varchar", mftVarString, 20, {}, ntFloat, dtString, false},
          {"varchar unicode", mftVarString, 60, {0, 1, 0, 0}, ntFloat, dtWideString, false},
          {"char", mftString, 10, {}, ntFloat, dtString, true},
          {"enum", mftEnum, 1, {}, ntFloat, dtString, false},
          {"timestamp", mftTimestamp, 19, {}, ntFloat, dtDateTime, false},
          {"year", mftYear, 4, {0, 0, 0, 1}, ntFloat, dtUInt16, false},
          {"blob under unicode", mftBlob, 65535, {1, 1, 0, 0}, ntFloat, dtBlob, false},
          {"text", mftMediumBlob, 16777215, {}, ntFloat, dtMemo, false},
          {"text under unicode", mftBlob, 65535, {0, 1, 0, 0}, ntFloat, dtWideMemo, false},
          {"geometry", mftGeometry, 0, {1, 0, 0, 0}, ntFloat, dtBlob, false},
      };
  for (const auto& [name, column, length, flags, numeric, want, wantFixed] : cases) {
    SCOPED_TRACE(name);
    bool fixed = false;
    TDataType type = dtUnknown;
    EXPECT_TRUE(
        MySQLTypeToDataType(column, length, flags[0], fixed, type, numeric, flags[1], flags[2], flags[3]));
    EXPECT_EQ(type, want);
    EXPECT_EQ(fixed, wantFixed);
  }
}

}  // namespace
