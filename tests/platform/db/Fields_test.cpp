#include "platform/db/Fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "FieldHost.h"
#include "platform/db/FieldClasses.h"
#include "platform/db/FieldDefs.h"
#include "platform/db/NumericFields.h"
#include "platform/runtime/Charset.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes Raw(const T& v) {
  Bytes b(sizeof(T));
  std::memcpy(b.data(), &v, sizeof(T));
  return b;
}

Bytes Text(const std::string& s, size_t total) {
  Bytes b(total, 0);
  std::memcpy(b.data(), s.data(), s.size());
  return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A field of the type on a host in edit state.
struct Bound {
  FieldHost host;
  TField* field;
  Bound(TFieldType type, int size = -1) {
    field = CreateFieldOfType(type, &host);
    field->SetFieldName("F");
    if (size >= 0) field->SetSize(size);
    field->SetDataSet(&host);
    host.Enter(dsEdit);
  }
  Bytes Native() const { return host.Values.at(field); }
};

struct NativeCase {
  const char* name;
  TFieldType type;
  int size;
  std::function<void(TField*)> set;
  Bytes native;
};

// The native forms the record store exchanges: epochs, units and layouts must match exactly.
TEST(FieldNativeTest, TypedSettersWriteTheNativeFormAndBuffersRoundTrip) {
  TDateTime leapDay = EncodeDate(2024, 2, 29);
  const NativeCase cases[] = {
      {"string", ftString, 5, [](TField* f) { f->SetAsString("abc"); }, Text("abc", 6)},
      {"fixed char", ftFixedChar, 3, [](TField* f) { f->SetAsString("ab"); }, Text("ab", 4)},
      {"guid", ftGuid, 38, [](TField* f) { f->SetAsString("{01234567-89AB-CDEF-0123-456789ABCDEF}"); },
       Text("{01234567-89AB-CDEF-0123-456789ABCDEF}", 39)},
      {"wide string", ftWideString, 3, [](TField* f) { f->SetAsWideString(u"\u4E2Da"); },
       Cat(Cat(Raw(char16_t{0x4E2D}), Raw(char16_t{'a'})), Bytes(4, 0))},
      {"smallint", ftSmallint, -1, [](TField* f) { f->SetAsInteger(-2); }, Raw(int16_t{-2})},
      {"integer", ftInteger, -1, [](TField* f) { f->SetAsInteger(123456); }, Raw(int32_t{123456})},
      {"word", ftWord, -1, [](TField* f) { f->SetAsInteger(65535); }, Raw(uint16_t{65535})},
      {"autoinc", ftAutoInc, -1, [](TField* f) { f->SetAsInteger(7); }, Raw(int32_t{7})},
      {"largeint", ftLargeint, -1, [](TField* f) { f->SetAsLargeInt(INT64_MIN); }, Raw(int64_t{INT64_MIN})},
      {"unsigned largeint", ftLargeUInt, -1, [](TField* f) { f->SetAsLargeUInt(UINT64_MAX); },
       Raw(UINT64_MAX)},
      {"float", ftFloat, -1, [](TField* f) { f->SetAsFloat(1.5); }, Raw(1.5)},
      {"currency", ftCurrency, -1, [](TField* f) { f->SetAsFloat(2.25); }, Raw(2.25)},
      {"bcd", ftBCD, 4, [](TField* f) { f->SetAsString("12.3456"); }, Raw(int64_t{123456})},
      {"fmtbcd", ftFMTBcd, 2, [](TField* f) { f->SetAsString("-12.5"); }, Raw(StrToBcd("-12.50"))},
      {"boolean", ftBoolean, -1, [](TField* f) { f->SetAsBoolean(true); }, Raw(uint16_t{1})},
      {"date day 1", ftDate, -1, [](TField* f) { f->SetAsString("0001-01-01"); }, Raw(int32_t{1})},
      {"date", ftDate, -1, [&](TField* f) { f->SetAsDateTime(leapDay); }, Raw(int32_t{738945})},
      {"time", ftTime, -1, [](TField* f) { f->SetAsDateTime(EncodeTime(12, 0, 0, 500)); },
       Raw(int32_t{43200500})},
      {"date-time epoch", ftDateTime, -1, [](TField* f) { f->SetAsString("0001-01-01 00:00:00"); },
       Raw(86400000.0)},
      {"date-time", ftDateTime, -1, [&](TField* f) { f->SetAsDateTime(leapDay + 0.5); },
       Raw(738945.0 * 86400000 + 43200000)},
      {"date-time us", ftDateTimeUs, 6, [](TField* f) { f->SetAsString("0001-01-01 00:00:00.000001"); },
       Raw(int64_t{86400000001})},
      {"time us", ftTimeUs, 6, [](TField* f) { f->SetAsString("-01:00:00.5"); }, Raw(int64_t{-3600500000})},
      {"bytes", ftBytes, 3, [](TField* f) { f->SetAsBytes({1}); }, Bytes{1, 0, 0}},
      {"varbytes", ftVarBytes, 4,
       [](TField* f) {
         f->SetAsBytes({0, 255});
       },
       Bytes{2, 0, 0, 255, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bound b(c.type, c.size);
    ASSERT_EQ(b.field->DataSize(), static_cast<int>(c.native.size()));
    c.set(b.field);
    EXPECT_EQ(b.Native(), c.native);
    std::string text = b.field->AsString();

    b.field->SetData(nullptr);
    EXPECT_TRUE(b.field->IsNull());
    EXPECT_EQ(b.field->AsString(), "");
    EXPECT_TRUE(b.field->AsVariant().IsNull());

    b.field->SetData(c.native.data());
    Bytes back(c.native.size(), 0xCC);
    EXPECT_TRUE(b.field->GetData(back.data()));
    EXPECT_EQ(back, c.native);
    EXPECT_EQ(b.field->AsString(), text);
  }
}

TEST(FieldNativeTest, VariantFieldHoldsAVariant) {
  Bound b(ftVariant);
  Variant validated;
  b.field->OnValidate = [&](TField* f) { validated = f->AsVariant(); };
  b.field->SetAsVariant(Variant(u"\u4E2D"));
  EXPECT_EQ(validated.AsWideString(), u"\u4E2D");
  EXPECT_EQ(b.field->AsVariant().VarType(), varOleStr);
  b.field->SetAsVariant(Variant::Null());
  EXPECT_TRUE(b.field->IsNull());
}

TEST(FieldNativeTest, BlobAndMemoGoThroughTheBlobStream) {
  Bound memo(ftMemo);
  EXPECT_EQ(memo.field->DisplayText(), "(memo)");
  memo.field->SetAsString("line\r\n");
  EXPECT_EQ(memo.field->AsString(), "line\r\n");
  EXPECT_EQ(memo.field->Text(), "line\r\n");
  EXPECT_EQ(memo.field->DisplayText(), "(MEMO)");
  memo.field->SetAsString("");
  EXPECT_FALSE(memo.field->IsNull());
  memo.field->Clear();
  EXPECT_TRUE(memo.field->IsNull());

  Bound blob(ftBlob);
  blob.field->SetAsBytes({0, 1, 0});
  EXPECT_EQ(blob.field->AsVariant().AsBytes(), (Bytes{0, 1, 0}));
  blob.host.Enter(dsBrowse);
  EXPECT_THROW(blob.field->SetAsString("x"), EDatabaseError);
}

struct TextCase {
  const char* name;
  TFieldType type;
  int size;
  const char* in;
  const char* text;  // nullptr: EConvertError
};

TEST(FieldTextTest, TextIsParsedAndFormattedLocaleIndependently) {
  const TextCase cases[] = {
      {"integer blanks", ftInteger, -1, " 42 ", "42"},
      {"integer junk", ftInteger, -1, "4x", nullptr},
      {"float exponent", ftFloat, -1, "1e3", "1000"},
      {"float shortest", ftFloat, -1, "0.1", "0.1"},
      {"float comma", ftFloat, -1, "0,5", nullptr},
      {"boolean prefix", ftBoolean, -1, "t", "True"},
      {"boolean word", ftBoolean, -1, "FALSE", "False"},
      {"boolean junk", ftBoolean, -1, "maybe", nullptr},
      {"date", ftDate, -1, "2024-02-29", "2024-02-29"},
      {"date invalid", ftDate, -1, "2023-02-29", nullptr},
      {"zero date", ftDate, -1, "0000-00-00", "0000-00-00"},
      {"date-time", ftDateTime, -1, "2024-02-29 13:14:15", "2024-02-29 13:14:15"},
      {"zero date-time", ftDateTime, -1, "0000-00-00 00:00:00", "0000-00-00 00:00:00"},
      {"first day", ftDateTime, -1, "0001-01-01 00:00:01", "0001-01-01 00:00:01"},
      {"time", ftTime, -1, "13:14:15", "13:14:15"},
      {"unsigned max", ftLargeUInt, -1, "18446744073709551615", "18446744073709551615"},
      {"unsigned overflow", ftLargeUInt, -1, "18446744073709551616", nullptr},
      {"date-time us", ftDateTimeUs, 6, "2024-02-29 13:14:15.123456", "2024-02-29 13:14:15.123456"},
      {"date-time us scale 2", ftDateTimeUs, 2, "2024-02-29 13:14:15.5", "2024-02-29 13:14:15.50"},
      {"date-time us 7 digits", ftDateTimeUs, 6, "2024-02-29 13:14:15.1234567", nullptr},
      {"zero date-time us", ftDateTimeUs, 6, "0000-00-00 00:00:00", "0000-00-00 00:00:00.000000"},
      {"time us", ftTimeUs, 6, "-838:59:59.999999", "-838:59:59.999999"},
      {"bcd", ftBCD, 4, "1.50", "1.5"},
      {"fmtbcd", ftFMTBcd, 2, "1.5", "1.50"},
      {"guid", ftGuid, 38, "{0123}", nullptr},
      {"gbk cut at a character", ftString, 3, "\xD6\xD0\xCE\xC4", "\xD6\xD0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bound b(c.type, c.size);
    if (!c.text) {
      EXPECT_THROW(b.field->SetText(c.in), EConvertError);
      EXPECT_TRUE(b.field->IsNull());
      continue;
    }
    b.field->SetText(c.in);
    EXPECT_EQ(b.field->Text(), c.text);
    b.field->SetText("");
    if (c.type != ftString) {  // an empty string is a value
      EXPECT_TRUE(b.field->IsNull());
    }
  }
}

TEST(FieldTextTest, ZeroDateAndMicrosecondsSurviveDateTimeAccess) {
  Bound dt(ftDateTime);
  dt.field->SetAsString("0000-00-00 00:00:00");
  TDateTime zero = dt.field->AsDateTime();
  EXPECT_EQ(zero, -693594.0);
  dt.field->SetAsDateTime(zero);
  EXPECT_EQ(dt.field->AsString(), "0000-00-00 00:00:00");

  Bound us(ftDateTimeUs, 6);
  us.field->SetAsString("2024-02-29 23:59:59.999600");
  EXPECT_EQ(DateTimeToStr(us.field->AsDateTime()), "2024-03-01");  // nearest millisecond
  us.field->SetAsDateTime(EncodeDateTime(2024, 2, 29, 1, 2, 3, 4));
  EXPECT_EQ(us.field->AsString(), "2024-02-29 01:02:03.004000");
}

struct RangeCase {
  const char* name;
  TFieldType type;
  std::function<void(TField*)> configure;
  const char* good;
  const char* bad;
  const char* message;
};

TEST(FieldRangeTest, OutOfRangeValuesAreRefusedAndTheOldValueStays) {
  const RangeCase cases[] = {
      {"integer user range", ftInteger,
       [](TField* f) {
         static_cast<TIntegerField*>(f)->MinValue = 1;
         static_cast<TIntegerField*>(f)->MaxValue = 10;
       },
       "5", "11", "11 is not a valid value for field 'F'. The allowed range is 1 to 10"},
      {"smallint type range", ftSmallint, [](TField*) {}, "5", "40000",
       "40000 is not a valid value for field 'F'. The allowed range is -32768 to 32767"},
      {"user range beyond the type", ftSmallint,
       [](TField* f) {
         static_cast<TIntegerField*>(f)->MinValue = -99999;
         static_cast<TIntegerField*>(f)->MaxValue = 99999;
       },
       "5", "40000", "40000 is not a valid value for field 'F'. The allowed range is -32768 to 32767"},
      {"word negative", ftWord, [](TField*) {}, "5", "-1",
       "-1 is not a valid value for field 'F'. The allowed range is 0 to 65535"},
      {"unsigned negative", ftLargeUInt, [](TField*) {}, "5", "-1",
       "-1 is not a valid value for field 'F'. The allowed range is 0 to 18446744073709551615"},
      {"float user range", ftFloat,
       [](TField* f) {
         static_cast<TFloatField*>(f)->MinValue = 0;
         static_cast<TFloatField*>(f)->MaxValue = 1;
       },
       "0.5", "1.5", "1.5 is not a valid value for field 'F'. The allowed range is 0 to 1"},
      {"bcd precision", ftBCD,
       [](TField* f) {
         f->SetSize(2);
         static_cast<TBCDField*>(f)->Precision = 5;
       },
       "1.25", "1000", "1000 is not a valid value for field 'F'. The allowed range is -999.99 to 999.99"},
      {"fmtbcd precision", ftFMTBcd,
       [](TField* f) {
         f->SetSize(2);
         static_cast<TFMTBCDField*>(f)->Precision = 4;
       },
       "1.25", "123.4", "123.4 is not a valid value for field 'F'. The allowed range is -99.99 to 99.99"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FieldHost host;
    TField* f = CreateFieldOfType(c.type, &host);
    f->SetFieldName("F");
    c.configure(f);
    f->SetDataSet(&host);
    host.Enter(dsEdit);
    f->SetAsString(c.good);
    std::string before = f->AsString();
    try {
      f->SetAsString(c.bad);
      ADD_FAILURE() << "accepted " << c.bad;
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(f->AsString(), before);
  }
}

TEST(FieldTypeTest, PlatformTypesEndBelow38AndNamesDropTheFtPrefix) {
  EXPECT_EQ(ftFMTBcd, 37);
  EXPECT_EQ(ftOraBlob, ftDataSet + 1);
  EXPECT_EQ(ftOraClob, ftDataSet + 2);
  EXPECT_EQ(FirstExtendedFieldType, 38);
  EXPECT_EQ(ftLargeUInt, 38);
  const std::pair<int, const char*> names[] = {{ftUnknown, "Unknown"},     {ftString, "String"},
                                               {ftLargeint, "Largeint"},   {ftOraBlob, "OraBlob"},
                                               {ftGuid, "Guid"},           {ftFMTBcd, "FMTBcd"},
                                               {ftLargeUInt, "LargeUInt"}, {ftDateTimeUs, "DateTimeUs"},
                                               {ftTimeUs, "TimeUs"},       {FieldTypeCount, "Unknown"}};
  for (auto [type, name] : names) EXPECT_EQ(FieldTypeName(type), name) << type;
}

TEST(FieldWriteTest, StateReadOnlyValidationAndChangeEvents) {
  Bound b(ftInteger);
  int changes = 0;
  int32_t seen = 0;
  b.field->OnChange = [&](TField*) { ++changes; };
  b.field->OnValidate = [&](TField* f) {
    seen = f->AsInteger();
    if (seen < 0) throw EDatabaseError("negative");
  };
  b.field->SetAsInteger(3);
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(changes, 1);
  EXPECT_THROW(b.field->SetAsInteger(-1), EDatabaseError);
  EXPECT_EQ(b.field->AsInteger(), 3);
  EXPECT_EQ(changes, 1);

  b.host.Enter(dsBrowse);
  try {
    b.field->SetAsInteger(4);
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Dataset not in edit or insert mode");
  }
  b.host.Enter(dsEdit);
  b.field->SetReadOnly(true);
  try {
    b.field->SetAsInteger(4);
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Field 'F' cannot be modified");
  }
  b.host.Enter(dsCalcFields);  // computing values: writable, and no change event
  b.field->SetAsInteger(4);
  EXPECT_EQ(changes, 1);
}

TEST(FieldWriteTest, TextEventsReplaceTheTypesText) {
  Bound b(ftInteger);
  b.field->OnGetText = [](TField* f, std::string& text, bool display) {
    text = (display ? "#" : "") + f->AsString();
  };
  b.field->OnSetText = [](TField* f, const std::string& text) {
    f->SetAsInteger(static_cast<int>(text.size()));
  };
  b.field->SetText("abcd");
  EXPECT_EQ(b.field->Text(), "4");
  EXPECT_EQ(b.field->DisplayText(), "#4");
}

TEST(FieldDefTest, PrecisionReachesTheFieldsThatHoldOne) {
  const struct {
    TFieldType Type;
    int Precision, Want;
  } cases[] = {{ftFloat, 7, 7}, {ftFloat, 0, 15}, {ftCurrency, 9, 9}, {ftBCD, 12, 12}, {ftFMTBcd, 30, 30}};
  for (const auto& c : cases) {
    SCOPED_TRACE(FieldTypeName(c.Type) + " " + std::to_string(c.Precision));
    FieldHost host;
    TFieldDef* def = host.FieldDefs().Add("n", c.Type, c.Type == ftFMTBcd || c.Type == ftBCD ? 4 : 0);
    def->SetPrecision(c.Precision);
    TField* f = def->CreateField(&host);
    int precision = -1;
    if (auto* d = dynamic_cast<TFloatField*>(f)) precision = d->Precision;
    if (auto* b = dynamic_cast<TBCDField*>(f)) precision = b->Precision;
    if (auto* m = dynamic_cast<TFMTBCDField*>(f)) precision = m->Precision;
    EXPECT_EQ(precision, c.Want);
  }
}

TEST(FieldNameTest, LookupsMatchAsSameFieldNameDoes) {
  const int codePage = GetAnsiCodePage();
  SetAnsiCodePage(1252);
  const struct {
    const char *Name, *Other;
  } cases[] = {{"username", "USERNAME"},
               {"idx", "index"},
               {"lock_end", "lock_beg"},
               {"", ""},
               {"a", ""},
               {"latest_login_date", "latest_login_ip"},
               {"\xC4rger", "\xE4RGER"},
               {"stra\xDF"
                "e",
                "STRASSE"},
               {"\xE9t\xE9", "ete"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " / " + c.Other);
    EXPECT_EQ(TFieldNameProbe(c.Name).Matches(c.Other), SameFieldName(c.Other, c.Name));
  }
  EXPECT_TRUE(TFieldNameProbe("username").Matches("UserName"));
  EXPECT_FALSE(TFieldNameProbe("idx").Matches("index"));
  EXPECT_TRUE(TFieldNameProbe("\xC4rger").Matches("\xE4RGER")) << "code page letters keep their case rules";
  SetAnsiCodePage(codePage);
}

TEST(FieldDefTest, CreateFieldTakesTypeSizeAndAttributes) {
  FieldHost host;
  TFieldDef* def = host.FieldDefs().Add("name", ftString, 30, true);
  def->SetAttributes(def->Attributes() | faReadonly | faHiddenCol);
  TField* f = def->CreateField(&host);
  EXPECT_NE(dynamic_cast<TStringField*>(f), nullptr);
  EXPECT_EQ(f->Size(), 30);
  EXPECT_TRUE(f->Required());
  EXPECT_TRUE(f->ReadOnly());
  EXPECT_FALSE(f->Visible());
  EXPECT_EQ(f->FieldNo(), 1);
  EXPECT_EQ(host.FieldByName("NAME"), f);
  EXPECT_THROW(host.FieldByName("other"), EDatabaseError);

  TFieldDef* adt = host.FieldDefs().Add("obj", ftADT);
  EXPECT_THROW(adt->CreateField(&host), EDatabaseError);
  TFieldDef* us = host.FieldDefs().Add("stamp", ftDateTimeUs, 7);
  EXPECT_THROW(us->CreateField(&host), EDatabaseError);
  EXPECT_EQ(host.FieldCount(), 1);
  EXPECT_THROW(host.FieldDefs().Add("name", ftInteger)->CreateField(&host), EDatabaseError);  // duplicate
}

}  // namespace
