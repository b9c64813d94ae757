// Field definitions: what a dataset's cursor offers (name, type, size, attributes), from which
// the dataset creates its default fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/db/FieldTypes.h"
#include "platform/runtime/Components.h"

class TDataSet;
class TField;
class TFieldDefs;

// Field definition attributes (a set).
using TFieldAttributes = uint8_t;
inline constexpr TFieldAttributes faHiddenCol = 0x01;
inline constexpr TFieldAttributes faReadonly = 0x02;
inline constexpr TFieldAttributes faRequired = 0x04;
inline constexpr TFieldAttributes faLink = 0x08;
inline constexpr TFieldAttributes faUnNamed = 0x10;
inline constexpr TFieldAttributes faFixed = 0x20;

class TFieldDef : public TCollectionItem {
 public:
  explicit TFieldDef(TCollection* collection);
  ~TFieldDef() override;

  const std::string& Name() const noexcept { return FName; }
  bool NameAscii() const noexcept { return FNameAscii; }  // IsAsciiName(Name())
  void SetName(const std::string& value);
  TFieldType DataType() const noexcept { return FDataType; }
  void SetDataType(TFieldType value);
  // Characters of a string, bytes of a binary value, decimal places of a BCD value.
  int Size() const noexcept { return FSize; }
  void SetSize(int value);
  int Precision() const noexcept { return FPrecision; }
  void SetPrecision(int value);
  TFieldAttributes Attributes() const noexcept { return FAttributes; }
  void SetAttributes(TFieldAttributes value);
  bool Required() const noexcept { return (FAttributes & faRequired) != 0; }
  void SetRequired(bool value);
  // 1-based column of the cursor; the position in the list + 1 until set.
  int FieldNo() const;
  void SetFieldNo(int value) { FFieldNo = value; }
  // Definitions of the parts of an object or array column.
  TFieldDefs& ChildDefs();
  bool HasChildDefs() const;
  TFieldDefs* FieldDefs() const;

  // A field of the definition's class, named, sized and bound to the definition's dataset.
  // Raises EDatabaseError "Invalid field size" when the class refuses the size, and
  // "Type mismatch for field '%s', expecting: %s actual: %s" for a type without a field class.
  TField* CreateField(TComponent* owner) { return MakeField(owner, false); }
  void Assign(TPersistent* source) override;
  std::string DisplayName() const override { return FName; }

 private:
  std::string FName;
  bool FNameAscii = true;
  TFieldType FDataType = ftUnknown;
  int FSize = 0;
  int FPrecision = 0;
  int FFieldNo = 0;
  TFieldAttributes FAttributes = 0;
  std::unique_ptr<TFieldDefs> FChildDefs;

  friend class TDataSet;
  // nameFree: the caller has just found no field of the name in the dataset, which then is not
  // searched again.
  TField* MakeField(TComponent* owner, bool nameFree);
};

class TFieldDefs : public TCollection {
 public:
  explicit TFieldDefs(TPersistent* owner);

  // The dataset the definitions describe (nil for child definitions of a detached owner).
  TDataSet* DataSet() const noexcept { return FDataSet; }
  TFieldDef* Items(int index) const { return static_cast<TFieldDef*>(TCollection::Items(index)); }
  TFieldDef* operator[](int index) const { return Items(index); }
  TFieldDef* AddFieldDef() { return static_cast<TFieldDef*>(TCollection::Add()); }
  // Appends a definition; the field number is the new count.
  TFieldDef* Add(const std::string& name, TFieldType dataType, int size = 0, bool required = false);
  int IndexOf(std::string_view name) const;      // case ignored; -1 when absent
  TFieldDef* Find(std::string_view name) const;  // EDatabaseError "Field '%s' not found"
  // Whether the definitions describe the current cursor (cleared by any change).
  bool Updated = false;
  // Makes the dataset describe its cursor again when the definitions are out of date.
  void Update();

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override;
  void Update(TCollectionItem* item) override;

 private:
  TDataSet* FDataSet;
};
