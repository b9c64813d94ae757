#include "mysql/MyFieldValues.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/CLRClasses.h"
#include "core/CRAccess.h"
#include "core/MemBlocks.h"
#include "core/MemCompressedBlob.h"
#include "core/MemFieldValues.h"
#include "mysql/MyClasses.h"
#include "platform/runtime/Exceptions.h"

namespace {

using PField = std::shared_ptr<TMySQLFieldDesc>;

PField Field(TDataType type, uint8_t myType, uint16_t length = 0, bool isUnsigned = false) {
  auto f = std::make_shared<TMySQLFieldDesc>();
  f->Name = "col";
  f->DataType = type;
  f->MySQLType = myType;
  f->IsUnsigned = isUnsigned;
  SetMyFieldSize(*f, length, 0);
  return f;
}

// One value converted into a record that holds exactly the field's slot.
struct TSlot {
  std::vector<uint8_t> Rec;
  bool IsNull = false;
  TStringHeap Heap;
  TMyConvertContext Cx;

  TSlot() { Cx.Heap = &Heap; }
  // A value as a fetched row stores it, through the store chosen for its column; where that is
  // not the general store, the general store must come to the same value or the same error.
  void Text(const TMySQLFieldDesc& f, const std::string& text) {
    const TMyTextStore how = MyTextStoreOf(f);
    std::vector<uint8_t> general(FieldSlotSize(f), 0xEE);
    std::string generalError = "no error";
    if (how.Kind != TMyTextStore::General) {
      try {
        StoreMyTextValue(f, text.data(), text.size(), general.data(), Cx);
      } catch (const Exception& e) {
        generalError = e.Message();
      }
    }
    Rec.assign(FieldSlotSize(f), 0xEE);
    try {
      IsNull = StoreMyTextValueBy(how, f, text.data(), text.size(), Rec.data(), Cx);
    } catch (const Exception& e) {
      if (how.Kind != TMyTextStore::General) {
        EXPECT_EQ(e.Message(), generalError);
      }
      throw;
    }
    if (how.Kind == TMyTextStore::General) return;
    EXPECT_EQ(generalError, "no error");
    if (how.Kind != TMyTextStore::HeapText) {
      EXPECT_EQ(Rec, general);
    } else if (generalError == "no error") {
      EXPECT_EQ(HeapText(Ref()), HeapText(Marshal::ReadIntPtr(general.data())));
      Heap.DisposeBuf(Marshal::ReadIntPtr(general.data()));
    }
  }
  void Binary(const TMySQLFieldDesc& f, const std::vector<uint8_t>& bytes) {
    Rec.assign(FieldSlotSize(f), 0xEE);
    IsNull = StoreMyBinaryValue(f, bytes.data(), bytes.size(), Rec.data(), Cx);
  }
  int64_t Int() const {
    switch (Rec.size()) {
      case 1:
        return static_cast<int8_t>(Rec[0]);
      case 2:
        return Marshal::ReadInt16(Rec.data());
      case 4:
        return Marshal::ReadInt32(Rec.data());
      default:
        return Marshal::ReadInt64(Rec.data());
    }
  }
  double Double() const { return BitConverter::Int64BitsToDouble(Marshal::ReadInt64(Rec.data())); }
  void* Ref() const { return Marshal::ReadIntPtr(Rec.data()); }
};

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no error";
}

TEST(MyFieldValuesTest, IntegersNeverWrap) {
  struct Case {
    const char* Name;
    PField F;
    std::string Text;
    int64_t Want;
    const char* Error;  // nullptr: no error
  };
  const Case cases[] = {
      {"int min", Field(dtInt32, mftLong), "-2147483648", INT32_MIN, nullptr},
      {"int overflow", Field(dtInt32, mftLong), "2147483648", 0,
       "Value 2147483648 is out of range for field col"},
      {"int unsigned max", Field(dtUInt32, mftLong, 10, true), "4294967295", -1, nullptr},
      {"bigint max", Field(dtInt64, mftLongLong), "9223372036854775807", INT64_MAX, nullptr},
      {"bigint min", Field(dtInt64, mftLongLong), "-9223372036854775808", INT64_MIN, nullptr},
      {"bigint unsigned max", Field(dtUInt64, mftLongLong, 20, true), "18446744073709551615", -1, nullptr},
      {"bigint unsigned in a signed field", Field(dtInt64, mftLongLong, 20, true), "18446744073709551615", 0,
       "Value 18446744073709551615 is out of range for field col"},
      {"beyond 64 bits", Field(dtInt64, mftLongLong), "99999999999999999999", 0,
       "'99999999999999999999' is not a valid integer value (field col)"},
      {"tinyint in two bytes", Field(dtInt8, mftTiny), "-128", -128, nullptr},
      {"smallint unsigned", Field(dtUInt16, mftShort, 5, true), "65535", -1, nullptr},
      {"boolean", Field(dtBoolean, mftTiny, 1), "1", -1, nullptr},
      {"boolean false", Field(dtBoolean, mftTiny, 1), "0", 0, nullptr},
      {"BIT(16) bytes 01 02", Field(dtInt64, mftBit, 16, true), "\x01\x02", 258, nullptr},
      {"not a number", Field(dtInt32, mftLong), "12a", 0, "'12a' is not a valid integer value (field col)"},
      {"empty", Field(dtInt32, mftLong), "", 0, "'' is not a valid integer value (field col)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TSlot s;
    if (c.Error) {
      EXPECT_EQ(ErrorOf([&] { s.Text(*c.F, c.Text); }), c.Error);
      continue;
    }
    s.Text(*c.F, c.Text);
    EXPECT_EQ(s.Int(), c.Want);
  }
}

// Integer texts of every length, and each with a byte that is no digit at every place: the parse
// reads four to eight digits as one word, which must agree with reading them one by one.
TEST(MyFieldValuesTest, IntegerTextsOfEveryLengthAndEveryBadPlace) {
  auto oneByOne = [](std::string_view t, bool& negative, bool& ok) {
    negative = !t.empty() && t[0] == '-';
    const size_t start = negative ? 1 : 0;
    ok = t.size() > start;
    uint64_t v = 0;
    for (size_t i = start; ok && i < t.size(); ++i) {
      const unsigned d = static_cast<unsigned char>(t[i]) - '0';
      ok = d <= 9 && v <= (UINT64_MAX - d) / 10;
      v = v * 10 + d;
    }
    return v;
  };
  auto check = [&](const std::string& t) {
    SCOPED_TRACE(t);
    bool wantNegative = false, ok = false, negative = false;
    const uint64_t want = oneByOne(t, wantNegative, ok);
    // The text alone in its buffer, so that ASan sees any read beyond it.
    const auto held = std::make_unique<char[]>(t.size());
    std::memcpy(held.get(), t.data(), t.size());
    const std::string_view view(held.get(), t.size());
    if (!ok) {
      EXPECT_EQ(ErrorOf([&] { ParseMyInteger(view, negative); }), "'" + t + "' is not a valid integer value");
      return;
    }
    EXPECT_EQ(ParseMyInteger(view, negative), want);
    EXPECT_EQ(negative, wantNegative);
  };
  const std::string digits = "98765432109876543210123";
  const char bad[] = {'/', ':', ' ', '-', '+', '\0', '\x06', '\xB0', '\xF9', '\xFF'};
  for (size_t n = 0; n <= digits.size(); ++n)
    for (const std::string sign : {"", "-"}) {
      const std::string t = sign + digits.substr(digits.size() - n);
      check(t);
      check(sign + std::string(n, '9'));
      check(sign + std::string(n, '0'));
      for (size_t at = sign.size(); at < t.size(); ++at)
        for (char b : bad) {
          std::string u = t;
          u[at] = b;
          check(u);
        }
    }
  check("18446744073709551615");
  check("18446744073709551616");
  check("00000000000000000000018446744073709551615");
}

TEST(MyFieldValuesTest, BinaryIntegersByColumnType) {
  struct Case {
    const char* Name;
    PField F;
    std::vector<uint8_t> Bytes;
    int64_t Want;
    bool Fails;
  };
  const Case cases[] = {
      {"tiny -1", Field(dtInt8, mftTiny), {0xFF}, -1, false},
      {"tiny unsigned 255", Field(dtUInt16, mftTiny, 3, true), {0xFF}, 255, false},
      {"short unsigned 65535", Field(dtUInt16, mftShort, 5, true), {0xFF, 0xFF}, -1, false},
      {"int24 -2", Field(dtInt32, mftInt24), {0xFE, 0xFF, 0xFF, 0xFF}, -2, false},
      {"long unsigned max", Field(dtUInt32, mftLong, 10, true), {0xFF, 0xFF, 0xFF, 0xFF}, -1, false},
      {"longlong -1", Field(dtInt64, mftLongLong), std::vector<uint8_t>(8, 0xFF), -1, false},
      {"longlong unsigned max", Field(dtInt64, mftLongLong, 20, true), std::vector<uint8_t>(8, 0xFF), 0,
       true},
      {"wrong size", Field(dtInt32, mftLong), {1, 2}, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TSlot s;
    if (c.Fails) {
      EXPECT_THROW(s.Binary(*c.F, c.Bytes), Exception);
      continue;
    }
    s.Binary(*c.F, c.Bytes);
    EXPECT_EQ(s.Int(), c.Want);
  }
}

TEST(MyFieldValuesTest, FloatsParseWhateverTheLength) {
  EXPECT_DOUBLE_EQ(ParseMyFloat("1.5e3"), 1500);
  EXPECT_DOUBLE_EQ(ParseMyFloat("-0.25"), -0.25);
  EXPECT_DOUBLE_EQ(ParseMyFloat("+3"), 3);
  EXPECT_DOUBLE_EQ(ParseMyFloat(".5"), 0.5);
  // DECIMAL(65,30) text is longer than any fixed digit budget.
  EXPECT_DOUBLE_EQ(ParseMyFloat("12345678901234567890123456789012345.123456789012345678901234567890"),
                   12345678901234567890123456789012345.0);
  EXPECT_EQ(ErrorOf([] { ParseMyFloat("1.2.3"); }), "'1.2.3' is not a valid floating point value");
  EXPECT_EQ(ErrorOf([] { ParseMyFloat("1e"); }), "'' is not a valid integer value");
  EXPECT_EQ(ErrorOf([] { ParseMyFloat("1e5x"); }), "'5x' is not a valid integer value");
  EXPECT_EQ(ErrorOf([] { ParseMyFloat(std::string(40, 'x')); }),
            "'" + std::string(36, 'x') + "' is not a valid floating point value");
}

TEST(MyFieldValuesTest, TemporalTexts) {
  struct Case {
    const char* Name;
    PField F;
    std::string Text;
    bool Valid;
    TDateTime Want;
  };
  const Case cases[] = {
      {"TIMESTAMP(14) compact", Field(dtDateTime, mftTimestamp, 14), "20040102030405", true,
       EncodeDateTime(2004, 1, 2, 3, 4, 5, 0)},
      {"TIMESTAMP(6) compact, 19YY", Field(dtDateTime, mftTimestamp, 6), "991231", true,
       EncodeDate(1999, 12, 31)},
      {"TIMESTAMP(2) 20YY", Field(dtDateTime, mftTimestamp, 2), "05", true, EncodeDate(2005, 1, 1)},
      {"TIMESTAMP 19", Field(dtDateTime, mftTimestamp, 19), "2024-01-02 03:04:05", true,
       EncodeDateTime(2024, 1, 2, 3, 4, 5, 0)},
      {"TIMESTAMP(6) of length 26", Field(dtDateTime, mftTimestamp, 26), "2024-01-02 03:04:05.123456", true,
       EncodeDateTime(2024, 1, 2, 3, 4, 5, 0)},
      {"DATE", Field(dtDate, mftDate, 10), "2024-02-29", true, EncodeDate(2024, 2, 29)},
      {"zero DATE", Field(dtDate, mftDate, 10), "0000-00-00", false, 0},
      {"zero day", Field(dtDate, mftDate, 10), "2024-05-00", false, 0},
      {"DATETIME before 1899", Field(dtDateTime, mftDateTime, 19), "1800-06-01 12:00:00", true,
       EncodeDateTime(1800, 6, 1, 12, 0, 0, 0)},
      {"TIME minus 12:30", Field(dtTime, mftTime, 10), "-12:30:00", true, -(0.5 + 1.0 / 48)},
      {"TIME 838 hours", Field(dtTime, mftTime, 10), "838:59:59", true, 838.0 / 24 + 3599.0 / 86400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TDateTime v = 0;
    EXPECT_EQ(MyTextToDateTime(*c.F, c.Text, v), c.Valid);
    if (c.Valid) {
      EXPECT_DOUBLE_EQ(v, c.Want);
    }
  }
  TDateTime v;
  EXPECT_EQ(ErrorOf([&] { MyTextToDateTime(*Field(dtTime, mftTime), "12345:00:00", v); }),
            "Wrong time format. Field col, value 12345:00:00");
  // A display length the compact forms do not have: a bad date like any other, not an assertion.
  EXPECT_EQ(ErrorOf([&] { MyTextToDateTime(*Field(dtDateTime, mftTimestamp, 11), "12345678901", v); }),
            "'12345678901' is not a valid date and time");
  EXPECT_THROW(MyTextToDateTime(*Field(dtDate, mftDate), "2024-0", v), EConvertError);
}

TEST(MyFieldValuesTest, ZeroDatesReadAsNullOrTheZeroDate) {
  for (bool nullForZero : {true, false}) {
    SCOPED_TRACE(nullForZero);
    TSlot s;
    s.Cx.NullForZeroDate = nullForZero;
    s.Text(*Field(dtDateTime, mftDateTime, 19), "0000-00-00 00:00:00");
    EXPECT_EQ(s.IsNull, nullForZero);
    if (!nullForZero) {
      EXPECT_EQ(s.Double(), MySQLZeroDate);
    }
    s.Binary(*Field(dtDate, mftDate, 10), {});  // the binary zero date has no bytes
    EXPECT_EQ(s.IsNull, nullForZero);
  }
}

TEST(MyFieldValuesTest, BinaryTemporalsMatchTheirTexts) {
  TSlot s;
  s.Binary(*Field(dtDateTime, mftTimestamp, 26), {0xE8, 0x07, 1, 2, 3, 4, 5, 0x40, 0xE2, 0x01, 0x00});
  EXPECT_DOUBLE_EQ(s.Double(), EncodeDateTime(2024, 1, 2, 3, 4, 5, 0));
  s.Binary(*Field(dtTime, mftTime, 10), {1, 0, 0, 0, 0, 12, 30, 0});
  EXPECT_DOUBLE_EQ(s.Double(), -(0.5 + 1.0 / 48));
  PField asText = Field(dtString, mftDateTime, 26);
  asText->Decimals = 3;
  s.Binary(*asText, {0xE8, 0x07, 1, 2, 3, 4, 5, 0x40, 0xE2, 0x01, 0x00});
  EXPECT_STREQ(reinterpret_cast<const char*>(s.Rec.data()), "2024-01-02 03:04:05.123");
}

TEST(MyFieldValuesTest, Utf8Decoding) {
  EXPECT_EQ(DecodeMyUtf8("a\xC3\xA9\xE4\xB8\xAD"), u"a\u00E9\u4E2D");
  EXPECT_EQ(DecodeMyUtf8("\xF0\x9F\x98\x80"), u"\U0001F600") << "four bytes: one character, two units";
  EXPECT_EQ(ErrorOf([] { DecodeMyUtf8("ab\xE4\xB8"); }), "incomplete multibyte char");
  EXPECT_EQ(ErrorOf([] { DecodeMyUtf8("\xE4\x41\x80"); }), "malformed trail byte or out of range char");
  EXPECT_EQ(ErrorOf([] { DecodeMyUtf8("\xE4\xB8\x41"); }), "malformed trail byte");
  EXPECT_EQ(ErrorOf([] { DecodeMyUtf8("\xC0\x80"); }), "malformed trail byte or out of range char");
  char16_t buf[3];
  EXPECT_EQ(DecodeMyUtf8("ab\xF0\x9F\x98\x80", 6, buf, 3), 2u) << "a pair that does not fit whole ends it";
}

TEST(MyFieldValuesTest, TextIsCappedAtItsSlot) {
  TSlot s;
  s.Cx.UseUnicode = true;
  PField f = Field(dtString, mftVarString, 4);  // the column says 4 bytes; the value is longer
  s.Text(*f, "abcdefgh");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Rec.data())), "abcd");
  s.Text(*f, "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97");  // 中文字: GBK D6 D0 CE C4 D7 D6
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Rec.data())), "\xD6\xD0\xCE\xC4");
  s.Cx.UseUnicode = false;
  s.Text(*Field(dtString, mftVarString, 3), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Rec.data())), "\xD6\xD0") << "never half a character";
  s.Text(*Field(dtExtString, mftVarString, 64), "heap text");
  EXPECT_EQ(HeapText(s.Ref()), "heap text");
  s.Heap.DisposeBuf(s.Ref());
  s.Cx.UseUnicode = true;
  s.Text(*Field(dtWideString, mftVarString, 2), "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97");
  EXPECT_EQ(ReadWideText(s.Rec.data(), s.Rec.size()), u"\u4E2D\u6587");
}

TEST(MyFieldValuesTest, DecimalsAndBlobs) {
  TSlot s;
  PField fmt = Field(dtFmtBCD, mftNewDecimal, 12);
  fmt->Scale = 2;
  s.Text(*fmt, "-1234567.891");
  TBcd bcd;
  std::memcpy(&bcd, s.Rec.data(), sizeof bcd);
  EXPECT_EQ(BcdToStr(bcd), "-1234567.89");
  s.Text(*Field(dtBCD, mftNewDecimal, 12), "12.34567");
  EXPECT_EQ(s.Int(), 123457);
  EXPECT_EQ(ErrorOf([&] { s.Text(*Field(dtBCD, mftNewDecimal, 30), "1000000000000000000000"); }),
            "Value 1000000000000000000000 is out of range for field col")
      << "beyond the currency range";
  struct Case {
    uint8_t Mode;
    bool Compressed;
  };
  const std::string text(200, 'z');
  for (const Case& c : {Case{cbNone, false}, Case{cbClient, true}, Case{cbServer, false}}) {
    SCOPED_TRACE(int(c.Mode));
    s.Cx.CompressBlobMode = c.Mode;
    s.Text(*Field(dtBlob, mftBlob), text);
    auto* blob = static_cast<TBlob*>(TSharedObject::FromHandle(s.Ref()));
    auto* compressed = dynamic_cast<TCompressedBlob*>(blob);
    EXPECT_EQ(compressed != nullptr, c.Mode != cbNone);
    EXPECT_EQ(compressed != nullptr && compressed->IsCompressed(), c.Compressed);
    EXPECT_EQ(blob->GetAsString(), text);
    blob->Release();
  }
}

}  // namespace
