// Parameters of a statement: TParam holds a name, a field type, a direction and a value;
// TParams is the collection of them.
//
// Setting a value through an As* accessor also sets the type (AsInteger: ftInteger, AsString:
// ftString, AsMemo: ftMemo, ...) and marks the parameter Bound. Reading converts the value as
// Variant does; a null value reads as 0, "", False or 1899-12-30.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/FieldTypes.h"
#include "platform/runtime/Components.h"
#include "platform/runtime/Variant.h"

class TField;
class TParams;
class TStream;

enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam : public TCollectionItem {
 public:
  explicit TParam(TCollection* collection);

  const std::string& Name() const noexcept { return FName; }
  void SetName(const std::string& value) { FName = value; }
  TParamType ParamType() const noexcept { return FParamType; }
  void SetParamType(TParamType value) { FParamType = value; }
  bool Bound() const noexcept { return FBound; }
  void SetBound(bool value) { FBound = value; }
  int Precision = 0;
  int NumericScale = 0;

  virtual TFieldType GetDataType() const { return FDataType; }
  virtual void SetDataType(TFieldType value);
  TFieldType DataType() const { return GetDataType(); }
  virtual int GetSize() const { return FSize; }
  virtual void SetSize(int value) { FSize = value; }
  int Size() const { return GetSize(); }

  // ---- Values ----
  virtual Variant GetValue() const { return FValue; }
  // Sets the value and marks the parameter bound; an unknown type follows the value's type.
  virtual void SetValue(const Variant& value);
  Variant Value() const { return GetValue(); }
  virtual bool GetIsNull() const { return FValue.IsNull() || FValue.IsEmpty(); }
  bool IsNull() const { return GetIsNull(); }
  // The value becomes Null (the type stays).
  virtual void Clear();

  virtual std::string GetAsString() const;
  virtual void SetAsString(const std::string& value);
  virtual std::u16string GetAsWideString() const;
  virtual void SetAsWideString(const std::u16string& value);
  virtual int32_t GetAsInteger() const;
  virtual void SetAsInteger(int32_t value);
  virtual double GetAsFloat() const;
  virtual void SetAsFloat(double value);
  virtual void SetAsBlob(const std::string& value);
  virtual void SetAsMemo(const std::string& value);
  virtual TSQLTimeStamp GetAsSQLTimeStamp() const;
  virtual void SetAsSQLTimeStamp(const TSQLTimeStamp& value);
  // The value as text, keeping the type (ftUnknown becomes ftString).
  virtual void SetText(const std::string& value);

  std::string AsString() const { return GetAsString(); }
  std::u16string AsWideString() const { return GetAsWideString(); }
  int32_t AsInteger() const { return GetAsInteger(); }
  double AsFloat() const { return GetAsFloat(); }
  TSQLTimeStamp AsSQLTimeStamp() const { return GetAsSQLTimeStamp(); }
  std::string Text() const { return GetAsString(); }
  int16_t AsSmallInt() const { return static_cast<int16_t>(GetAsInteger()); }
  void SetAsSmallInt(int16_t value) { SetTyped(ftSmallint, Variant(static_cast<short>(value))); }
  uint16_t AsWord() const { return static_cast<uint16_t>(GetAsInteger()); }
  void SetAsWord(uint16_t value) { SetTyped(ftWord, Variant(static_cast<unsigned short>(value))); }
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t value) { SetTyped(ftLargeint, Variant(static_cast<long long>(value))); }
  uint64_t AsLargeUInt() const;
  void SetAsLargeUInt(uint64_t value) {
    SetTyped(ftLargeUInt, Variant(static_cast<unsigned long long>(value)));
  }
  Currency AsCurrency() const;
  void SetAsCurrency(Currency value) { SetTyped(ftCurrency, Variant(value)); }
  Currency AsBCD() const { return AsCurrency(); }
  void SetAsBCD(Currency value) { SetTyped(ftBCD, Variant(value)); }
  TBcd AsFMTBCD() const;
  void SetAsFMTBCD(const TBcd& value) { SetTyped(ftFMTBcd, Variant(value)); }
  bool AsBoolean() const;
  void SetAsBoolean(bool value) { SetTyped(ftBoolean, Variant(value)); }
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime value) { SetTyped(ftDateTime, Variant::FromDateTime(value)); }
  TDateTime AsDate() const { return AsDateTime(); }
  void SetAsDate(TDateTime value) { SetTyped(ftDate, Variant::FromDateTime(value)); }
  TDateTime AsTime() const { return AsDateTime(); }
  void SetAsTime(TDateTime value) { SetTyped(ftTime, Variant::FromDateTime(value)); }
  // The value's bytes (a byte array, or a string's bytes).
  std::vector<uint8_t> AsBytes() const;
  void SetAsBytes(const std::vector<uint8_t>& value) { SetTyped(ftVarBytes, Variant::FromBytes(value)); }
  std::string AsBlob() const { return GetAsString(); }
  std::string AsMemo() const { return GetAsString(); }
  Variant AsVariant() const { return GetValue(); }
  void SetAsVariant(const Variant& value) { SetValue(value); }

  // ---- Fields and streams ----
  // The field's type (a fixed-length string field gives ftFixedChar) and value; Null clears.
  virtual void AssignFieldValue(TField* field, const Variant& value);
  // Name, type and value of the field.
  void AssignField(TField* field);
  // BlobType must be a blob type (ftBlob, ftMemo, ftGraphic, ...); raises EDatabaseError
  // "Data type is not supported" otherwise. The stream is read from its start.
  virtual void LoadFromStream(TStream& stream, TFieldType blobType);
  bool IsBlob() const { return IsBlobFieldType(GetDataType()); }

  // From a TParam: type, value, name, and the direction when this one has none; from a field:
  // AssignField. Otherwise EConvertError.
  void Assign(TPersistent* source) override;
  std::string DisplayName() const override { return FName; }

 protected:
  // To a field: the field takes the value.
  void AssignTo(TPersistent* dest) override;
  // The value with its type, and Bound.
  void SetTyped(TFieldType type, const Variant& value);
  Variant FValue;

 private:
  std::string FName;
  TFieldType FDataType = ftUnknown;
  TParamType FParamType = ptUnknown;
  int FSize = 0;
  bool FBound = false;
};

class TParams : public TCollection {
 public:
  explicit TParams(TPersistent* owner = nullptr) : TCollection(owner) {}

  TParam* Items(int index) const { return static_cast<TParam*>(TCollection::Items(index)); }
  TParam* operator[](int index) const { return Items(index); }
  // A new parameter of the collection's class with the name, type and direction.
  virtual TParam* CreateParam(TFieldType fieldType, const std::string& name, TParamType paramType);
  TParam* FindParam(std::string_view name) const;  // case ignored; nil when absent
  // EDatabaseError "Parameter '%s' not found".
  TParam* ParamByName(std::string_view name) const;
  void RemoveParam(TParam* param);
  // Values of the parameters of source that this collection has by name.
  void AssignValues(const TParams& source);
  // The parameters whose names, separated by ";", are listed (each must exist).
  std::vector<TParam*> GetParamList(std::string_view names) const;

  // Runs after any change, outside BeginUpdate / EndUpdate.
  std::function<void(TParams*)> OnChange;

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override { return std::make_unique<TParam>(this); }
  void Update(TCollectionItem* item) override;
};
