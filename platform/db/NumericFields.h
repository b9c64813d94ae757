// Numeric fields: integers of each width, 64-bit signed and unsigned, float, currency, BCD and
// FMT-BCD. Text is locale-independent ("." as decimal separator).
//
// A field with a range (MinValue / MaxValue, not both 0) and every integer type's own range
// refuse a value outside them with EDatabaseError "%s is not a valid value for field '%s'. The
// allowed range is %s to %s"; the stored value stays as it was. Text that is not a number raises
// EConvertError; empty text clears the field.
#pragma once

#include "platform/db/Fields.h"

// Number text as fields read it: blanks around, an optional sign, "." as decimal separator; the
// whole text must be the number, and floats must be finite.
bool TryTextToInt64(std::string_view text, int64_t& value);
bool TryTextToUInt64(std::string_view text, uint64_t& value);
bool TryTextToFloat(std::string_view text, double& value);

class TNumericField : public TField {
 public:
  explicit TNumericField(TComponent* owner = nullptr);
};

// ftInteger (int32), ftSmallint (int16), ftWord (uint16), ftAutoInc (int32).
class TIntegerField : public TNumericField {
 public:
  explicit TIntegerField(TComponent* owner = nullptr) : TIntegerField(owner, ftInteger) {}

  int DataSize() const override;
  // The user range; both 0: only the type's range applies. With ZeroInRange a 0 outside it is
  // still accepted (a YEAR's 0000 beside 1901..2155).
  int32_t MinValue = 0;
  int32_t MaxValue = 0;
  bool ZeroInRange = false;

  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t GetAsInteger() const override;
  void SetAsInteger(int32_t value) override { SetAsLargeInt(value); }
  int64_t GetAsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override;
  double GetAsFloat() const override { return static_cast<double>(GetAsLargeInt()); }
  void SetAsFloat(double value) override;
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool displayText) const override;

 protected:
  TIntegerField(TComponent* owner, TFieldType type);
  bool ReadValue(int64_t& value) const;

 private:
  int64_t FMinRange;
  int64_t FMaxRange;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner = nullptr) : TIntegerField(owner, ftSmallint) {}
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner = nullptr) : TIntegerField(owner, ftWord) {}
};

class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner = nullptr) : TIntegerField(owner, ftAutoInc) {}
};

class TLargeintField : public TNumericField {
 public:
  explicit TLargeintField(TComponent* owner = nullptr);

  int DataSize() const override { return 8; }
  int64_t MinValue = 0;
  int64_t MaxValue = 0;

  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t GetAsInteger() const override;
  void SetAsInteger(int32_t value) override { SetAsLargeInt(value); }
  int64_t GetAsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override;
  double GetAsFloat() const override { return static_cast<double>(GetAsLargeInt()); }
  void SetAsFloat(double value) override;
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool displayText) const override;
};

// Unsigned 64-bit integers (ftLargeUInt): every value of 0..2^64-1, exactly.
class TLargeUIntField : public TNumericField {
 public:
  explicit TLargeUIntField(TComponent* owner = nullptr);

  int DataSize() const override { return 8; }
  uint64_t MinValue = 0;
  uint64_t MaxValue = 0;

  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t GetAsInteger() const override;
  void SetAsInteger(int32_t value) override { SetAsLargeInt(value); }
  int64_t GetAsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override;
  uint64_t GetAsLargeUInt() const override;
  void SetAsLargeUInt(uint64_t value) override;
  double GetAsFloat() const override { return static_cast<double>(GetAsLargeUInt()); }
  void SetAsFloat(double value) override;
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool displayText) const override;
};

// ftFloat; ftCurrency through TCurrencyField. Text is the shortest that reads back the same
// double, or Precision significant digits when Precision is below 15.
class TFloatField : public TNumericField {
 public:
  explicit TFloatField(TComponent* owner = nullptr) : TFloatField(owner, ftFloat) {}

  int DataSize() const override { return 8; }
  int Precision = 15;
  double MinValue = 0;
  double MaxValue = 0;

  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t GetAsInteger() const override;
  void SetAsInteger(int32_t value) override { SetAsFloat(value); }
  int64_t GetAsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override { SetAsFloat(static_cast<double>(value)); }
  double GetAsFloat() const override;
  // A value that is not finite raises EConvertError.
  void SetAsFloat(double value) override;
  Currency GetAsCurrency() const override { return DoubleToCurr(GetAsFloat()); }
  void SetAsCurrency(Currency value) override { SetAsFloat(CurrToDouble(value)); }
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool displayText) const override;

 protected:
  TFloatField(TComponent* owner, TFieldType type);
};

class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner = nullptr) : TFloatField(owner, ftCurrency) {}
  Variant GetAsVariant() const override;
};

// ftBCD: a Currency in the buffer; Size is the number of decimal places (0..4), Precision the
// digits in all (0: up to the currency's own).
class TBCDField : public TNumericField {
 public:
  explicit TBCDField(TComponent* owner = nullptr);

  int DataSize() const override { return 8; }
  void CheckTypeSize(int value) const override;
  int Precision = 0;
  Currency MinValue;
  Currency MaxValue;

  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t GetAsInteger() const override;
  void SetAsInteger(int32_t value) override { SetAsCurrency(Int64ToCurr(value)); }
  int64_t GetAsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override { SetAsCurrency(Int64ToCurr(value)); }
  double GetAsFloat() const override { return CurrToDouble(GetAsCurrency()); }
  void SetAsFloat(double value) override;
  Currency GetAsCurrency() const override;
  void SetAsCurrency(Currency value) override;
  TBcd GetAsBCD() const override;
  void SetAsBCD(const TBcd& value) override { SetAsCurrency(BcdToCurr(value)); }
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool displayText) const override;
};

// ftFMTBcd: a TBcd in the buffer; Size is the number of decimal places, Precision the digits in
// all (0: up to 64). A value with more decimal places is rounded half away from zero; one that
// does not fit Precision raises the range error.
class TFMTBCDField : public TNumericField {
 public:
  explicit TFMTBCDField(TComponent* owner = nullptr);

  int DataSize() const override { return sizeof(TBcd); }
  void CheckTypeSize(int value) const override;
  int Precision = 0;

  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t GetAsInteger() const override;
  void SetAsInteger(int32_t value) override { SetAsBCD(Int64ToBcd(value)); }
  int64_t GetAsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override { SetAsBCD(Int64ToBcd(value)); }
  double GetAsFloat() const override;
  void SetAsFloat(double value) override { SetAsBCD(DoubleToBcd(value)); }
  Currency GetAsCurrency() const override;
  void SetAsCurrency(Currency value) override { SetAsBCD(CurrToBcd(value)); }
  TBcd GetAsBCD() const override;
  void SetAsBCD(const TBcd& value) override;
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void GetText(std::string& text, bool displayText) const override;
};
