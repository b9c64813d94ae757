// The field classes besides the numeric ones: text, GUID, Boolean, dates and times, binary, blob
// and memo, variant; and the class for each field type.
//
// Dates and times read and write "yyyy-mm-dd hh:nn:ss" (DateTimeUtils.h). The zero date of a
// MySQL column (day 0, the day before 0001-01-01; TDateTime -693594) is shown as
// "0000-00-00 00:00:00" ("0000-00-00" for a date field) and accepted back in that form.
#pragma once

#include <memory>

#include "platform/db/NumericFields.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Format.h"

class TStream;

// ftString and ftFixedChar (FixedChar): ANSI text of up to Size bytes. A longer value is cut at
// the last whole character that fits.
class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner = nullptr);

  int DataSize() const override { return Size() + 1; }
  void CheckTypeSize(int value) const override;
  bool FixedChar() const noexcept { return DataType() == ftFixedChar; }
  void SetFixedChar(bool value);

  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t GetAsInteger() const override;
  void SetAsInteger(int32_t value) override { SetAsString(IntToStr(value)); }
  int64_t GetAsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override { SetAsString(IntToStr(value)); }
  double GetAsFloat() const override;
  void SetAsFloat(double value) override { SetAsString(FloatToStr(value)); }
  bool GetAsBoolean() const override;
  void SetAsBoolean(bool value) override { SetAsString(value ? "T" : "F"); }
  TDateTime GetAsDateTime() const override { return StrToDateTime(GetAsString()); }
  void SetAsDateTime(TDateTime value) override { SetAsString(DateTimeToStr(value)); }
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool displayText) const override;

 protected:
  int DefaultWidth() const override { return Size(); }
};

// ftGuid: "{hhhhhhhh-hhhh-hhhh-hhhh-hhhhhhhhhhhh}" (38 characters); other text raises
// EConvertError "'%s' is not a valid GUID value".
class TGuidField : public TStringField {
 public:
  explicit TGuidField(TComponent* owner = nullptr);
  void CheckTypeSize(int value) const override;
  void SetAsString(const std::string& value) override;
};

// ftWideString: UTF-16 text of up to Size characters.
class TWideStringField : public TField {
 public:
  explicit TWideStringField(TComponent* owner = nullptr);

  int DataSize() const override { return (Size() + 1) * 2; }
  void CheckTypeSize(int value) const override;

  std::string GetAsString() const override { return WideToAnsi(GetAsWideString()); }
  void SetAsString(const std::string& value) override { SetAsWideString(AnsiToWide(value)); }
  std::u16string GetAsWideString() const override;
  void SetAsWideString(const std::u16string& value) override;
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool /*displayText*/) const override { text = GetAsString(); }

 protected:
  int DefaultWidth() const override { return Size(); }
};

// ftBoolean. Text is the true or false part of DisplayValues ("True;False"); text is read back by
// the start of either part, case ignored.
class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner = nullptr);

  int DataSize() const override { return 2; }
  const std::string& DisplayValues() const noexcept { return FDisplayValues; }
  void SetDisplayValues(const std::string& value);

  bool GetAsBoolean() const override;
  void SetAsBoolean(bool value) override;
  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t GetAsInteger() const override { return GetAsBoolean() ? 1 : 0; }
  void SetAsInteger(int32_t value) override { SetAsBoolean(value != 0); }
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool /*displayText*/) const override { text = GetAsString(); }

 protected:
  int DefaultWidth() const override { return 5; }

 private:
  std::string FDisplayValues = "True;False";
  std::string FTrueText = "True";
  std::string FFalseText = "False";
};

// ftDateTime (double milliseconds), and through TDateField (int32 day number) and TTimeField
// (int32 milliseconds) ftDate and ftTime.
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner = nullptr) : TDateTimeField(owner, ftDateTime) {}

  int DataSize() const override { return DataType() == ftDateTime ? 8 : 4; }
  TDateTime GetAsDateTime() const override;
  // A value outside 0001-01-01..9999-12-31 (other than the zero date) raises EConvertError.
  void SetAsDateTime(TDateTime value) override;
  double GetAsFloat() const override { return GetAsDateTime(); }
  void SetAsFloat(double value) override { SetAsDateTime(value); }
  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool /*displayText*/) const override { text = GetAsString(); }

 protected:
  TDateTimeField(TComponent* owner, TFieldType type);
  int DefaultWidth() const override { return DataType() == ftDateTime ? 19 : DataType() == ftDate ? 10 : 8; }
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner = nullptr) : TDateTimeField(owner, ftDate) {}
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner = nullptr) : TDateTimeField(owner, ftTime) {}
};

// ftDateTimeUs: int64 microseconds, day * 86,400,000,000 + microseconds of the day with
// 0001-01-01 as day 1; 0 is the zero date. Size is the number of fraction digits shown (0..6).
// Text keeps every microsecond; AsDateTime rounds to the millisecond.
class TDateTimeUsField : public TField {
 public:
  explicit TDateTimeUsField(TComponent* owner = nullptr);

  int DataSize() const override { return 8; }
  void CheckTypeSize(int value) const override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override { SetNative(value); }
  TDateTime GetAsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;
  std::string GetAsString() const override;
  // "yyyy-mm-dd[ hh:nn[:ss[.ffffff]]]"; more than 6 fraction digits raise EConvertError.
  void SetAsString(const std::string& value) override;
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool /*displayText*/) const override { text = GetAsString(); }

 protected:
  int DefaultWidth() const override { return 20 + Size(); }
};

// ftTimeUs: a signed duration in microseconds, text "[-]hh:nn:ss[.ffffff]" with at least two
// hour digits; Size is the number of fraction digits shown (0..6). AsDateTime is the fraction of
// a day, for durations under 24 hours.
class TTimeUsField : public TField {
 public:
  explicit TTimeUsField(TComponent* owner = nullptr);

  int DataSize() const override { return 8; }
  void CheckTypeSize(int value) const override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override { SetNative(value); }
  TDateTime GetAsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;
  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool /*displayText*/) const override { text = GetAsString(); }

 protected:
  int DefaultWidth() const override { return 10 + Size(); }
};

// ftBytes (Size bytes, a shorter value padded with zeros) and ftVarBytes (up to Size bytes).
// A longer value raises EDatabaseError and stores nothing. AsString is the bytes themselves.
class TBinaryField : public TField {
 public:
  int DataSize() const override { return DataType() == ftVarBytes ? Size() + 2 : Size(); }
  void CheckTypeSize(int value) const override;
  std::vector<uint8_t> GetAsBytes() const override;
  void SetAsBytes(const std::vector<uint8_t>& value) override;
  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool /*displayText*/) const override { text = GetAsString(); }

 protected:
  TBinaryField(TComponent* owner, TFieldType type);
};

class TBytesField : public TBinaryField {
 public:
  explicit TBytesField(TComponent* owner = nullptr) : TBinaryField(owner, ftBytes) {}
};

class TVarBytesField : public TBinaryField {
 public:
  explicit TVarBytesField(TComponent* owner = nullptr) : TBinaryField(owner, ftVarBytes) {}
};

// ftBlob and, through TMemoField, ftMemo: the value is read and written through the dataset's
// blob stream (TDataSet::CreateBlobStream). DisplayText is "(BLOB)" / "(MEMO)", in lower case
// for a null value; a memo's Text is its text.
class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner = nullptr) : TBlobField(owner, ftBlob) {}
  // The blob types besides ftBlob (graphic, typed binary ...).
  TBlobField(TComponent* owner, TFieldType type);

  // Set by the dataset's blob stream when it wrote the value; cleared by the dataset.
  bool Modified = false;
  int64_t BlobSize() const;
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;

  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  std::vector<uint8_t> GetAsBytes() const override;
  void SetAsBytes(const std::vector<uint8_t>& value) override;
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool displayText) const override;
  void Clear() override;

 protected:
  std::unique_ptr<TStream> OpenStream(TBlobStreamMode mode) const;
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner = nullptr) : TBlobField(owner, ftMemo) {}
  TMemoField(TComponent* owner, TFieldType type) : TBlobField(owner, type) {}
  Variant GetAsVariant() const override;
};

// ftVariant: a Variant in the buffer; the conversions are the variant's.
class TVariantField : public TField {
 public:
  explicit TVariantField(TComponent* owner = nullptr);

  int DataSize() const override { return sizeof(Variant); }
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  std::string GetAsString() const override { return VarToStr(GetAsVariant()); }
  void SetAsString(const std::string& value) override { SetAsVariant(Variant(value)); }
  int32_t GetAsInteger() const override { return GetAsVariant().AsInteger(); }
  void SetAsInteger(int32_t value) override { SetAsVariant(Variant(value)); }
  int64_t GetAsLargeInt() const override { return GetAsVariant().AsInt64(); }
  void SetAsLargeInt(int64_t value) override { SetAsVariant(Variant(static_cast<long long>(value))); }
  double GetAsFloat() const override { return GetAsVariant().AsDouble(); }
  void SetAsFloat(double value) override { SetAsVariant(Variant(value)); }
  bool GetAsBoolean() const override { return GetAsVariant().AsBoolean(); }
  void SetAsBoolean(bool value) override { SetAsVariant(Variant(value)); }
  TDateTime GetAsDateTime() const override { return GetAsVariant().AsDateTime(); }
  void SetAsDateTime(TDateTime value) override { SetAsVariant(Variant::FromDateTime(value)); }
  void GetText(std::string& text, bool /*displayText*/) const override { text = GetAsString(); }
};

// A new field of the type's class, or nil for a type without one (ADT, array, reference,
// dataset, cursor, interface, time stamp).
TField* CreateFieldOfType(TFieldType type, TComponent* owner);
