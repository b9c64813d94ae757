// TField, the value of one column of a dataset's current record, and TFields, a dataset's list
// of them.
//
// A field reads and writes its value in its native buffer form through the dataset
// (TDataSet::GetFieldData / SetFieldData), which picks the record buffer of its state. The
// typed accessors convert; an accessor a field type has no conversion for raises EDatabaseError
// "Cannot access field '%s' as type %s".
//
// Native buffer forms (DataSize bytes): strings, fixed char and GUID zero-terminated ANSI
// (Size + 1); wide strings zero-terminated UTF-16 ((Size + 1) x 2); smallint int16; word uint16;
// integer and autoinc int32; largeint int64; unsigned largeint uint64; boolean uint16 (not 0 is
// true); float and currency double; BCD a Currency (int64 scaled by 10,000); FMTBcd a TBcd;
// date int32 day number (0001-01-01 is day 1); time int32 milliseconds since midnight;
// date-time double milliseconds (TimeStampToMSecs); date-time and time with microseconds int64;
// bytes Size bytes; var-bytes uint16 length then Size bytes; variant a constructed Variant.
// Blob and memo fields have no buffer form: they read and write through a blob stream.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/FieldTypes.h"
#include "platform/runtime/Components.h"
#include "platform/runtime/Variant.h"

class TDataSet;
class TField;

using TFieldNotifyEvent = std::function<void(TField* sender)>;
using TFieldGetTextEvent = std::function<void(TField* sender, std::string& text, bool displayText)>;
using TFieldSetTextEvent = std::function<void(TField* sender, const std::string& text)>;

// A reader of a field's value straight from its dataset's browse record, chosen by the dataset
// once per open for the common value forms: it answers as the dataset's GetFieldData and
// GetFieldText would, without their dispatch at every value. The field uses it only while
// TDataSet::DirectRecBuf gives a record and the record layout is the one it was chosen for.
struct TFieldDirectReader {
  // The value in the native form (nil buffer: only whether there is one); false for null.
  bool (*Data)(const TField& field, const uint8_t* rec, void* buffer) = nullptr;
  // A text field's stored text with every byte (trStored), as GetDataText gives it, or only
  // whether it is null or must be read through GetDataText (line ends expanded); nil for other
  // fields.
  enum TTextRead : uint8_t { trNull, trStored, trUsual };
  TTextRead (*Text)(const TField& field, const uint8_t* rec, std::string_view& text) = nullptr;
  void* Store = nullptr;             // the dataset's record store
  const uint64_t* Layout = nullptr;  // the store's layout stamp now ...
  uint64_t Stamp = 0;                // ... and when the reader was chosen
  int32_t Offset = 0;                // of the value in the record
  int32_t NullOffset = 0;            // of its null mark
  int32_t Size = 0;                  // of the stored value
  int32_t FieldNo = 0;               // in the store
};

class TField : public TComponent {
 public:
  explicit TField(TComponent* owner = nullptr);
  ~TField() override;

  // ---- Binding ----
  TDataSet* DataSet() const noexcept { return FDataSet; }
  // Adds the field to the dataset's Fields (removing it from its former dataset). Raises
  // EDatabaseError "Cannot perform this operation on an open dataset" when either is open,
  // "Duplicate field name '%s'" when the dataset has a field of that name.
  void SetDataSet(TDataSet* value);
  const std::string& FieldName() const noexcept { return FFieldName; }
  bool FieldNameAscii() const noexcept { return FFieldNameAscii; }  // IsAsciiName(FieldName())
  void SetFieldName(const std::string& value);
  // 1-based column of the dataset's record for data fields, 0 for calculated and lookup fields,
  // and for fields not bound to a definition.
  int FieldNo() const noexcept { return FFieldNo; }
  TFieldKind FieldKind() const noexcept { return FFieldKind; }
  void SetFieldKind(TFieldKind value);
  bool Calculated() const noexcept { return FFieldKind == fkCalculated; }
  bool Lookup() const noexcept { return FFieldKind == fkLookup; }
  TFieldType DataType() const noexcept { return FDataType; }
  int Size() const noexcept { return FSize; }
  // Raises EDatabaseError "Invalid field size" for a size the type does not take.
  void SetSize(int value);
  // Bytes of the native buffer form.
  virtual int DataSize() const;
  // Where the dataset keeps a calculated or lookup field's value in its calculated area.
  int Offset() const noexcept { return FOffset; }
  void SetOffset(int value) noexcept { FOffset = value; }
  void SetFieldNo(int value) noexcept { FFieldNo = value; }
  int Index() const;  // position in the dataset's Fields, -1 without dataset

  // ---- Attributes ----
  // How the server fills the field when a record is written without it.
  enum TAutoRefreshFlag : uint8_t { arNone, arAutoInc, arDefault };
  TAutoRefreshFlag AutoGenerateValue = arNone;
  bool Required() const noexcept { return FRequired; }
  void SetRequired(bool value) noexcept { FRequired = value; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool value);
  bool Visible() const noexcept { return FVisible; }
  void SetVisible(bool value);
  // The field name while none is set.
  std::string DisplayLabel() const { return FDisplayLabel.empty() ? FFieldName : FDisplayLabel; }
  void SetDisplayLabel(const std::string& value);
  // Characters a control shows; the type's default while none is set.
  int DisplayWidth() const { return FDisplayWidth > 0 ? FDisplayWidth : DefaultWidth(); }
  void SetDisplayWidth(int value);
  TAlignment Alignment() const noexcept { return FAlignment; }
  void SetAlignment(TAlignment value);
  std::string DefaultExpression;
  std::string Origin;
  TProviderFlags ProviderFlags = pfInUpdate | pfInWhere;
  // Lookup fields: the lookup dataset, the own key fields, its key fields, its result field.
  TDataSet* LookupDataSet = nullptr;
  std::string KeyFields;
  std::string LookupKeyFields;
  std::string LookupResultField;
  // Whether the value may be written now: not read-only and the dataset allows changes.
  virtual bool CanModify() const;

  // ---- Native data ----
  // Copies the value into buffer (DataSize bytes; nil only tests for a value); false for null.
  // Raises EDatabaseError "Field '%s' has no dataset" without a dataset.
  bool GetData(void* buffer) const;
  // Writes the value from buffer (nil sets null) through the dataset: the state must allow it,
  // the field must be writable, OnValidate runs on the new value (and may raise to refuse it),
  // then the dataset stores it and reports the change.
  void SetData(const void* buffer);
  // The same for a text value with every byte, zero bytes included (the native form of a text
  // field ends at its first zero), through the dataset's GetFieldText and SetFieldText.
  bool GetDataText(std::string& value) const;
  // The same without a copy when the direct reader holds the text as it is: true with text set
  // (isNull for null); false when GetDataText must read it.
  bool GetDirectText(std::string_view& text, bool& isNull) const;
  void SetDataText(std::string_view value);
  bool IsNull() const { return !GetData(nullptr); }
  // Set by the dataset while it is open; a default reader removes it.
  const TFieldDirectReader& DirectReader() const noexcept { return FDirect; }
  void SetDirectReader(const TFieldDirectReader& reader) noexcept { FDirect = reader; }
  virtual void Clear() { SetData(nullptr); }

  // ---- Typed access ----
  virtual std::string GetAsString() const;
  virtual void SetAsString(const std::string& value);
  virtual std::u16string GetAsWideString() const;
  virtual void SetAsWideString(const std::u16string& value);
  virtual int32_t GetAsInteger() const;
  virtual void SetAsInteger(int32_t value);
  virtual int64_t GetAsLargeInt() const;
  virtual void SetAsLargeInt(int64_t value);
  virtual uint64_t GetAsLargeUInt() const;
  virtual void SetAsLargeUInt(uint64_t value);
  virtual double GetAsFloat() const;
  virtual void SetAsFloat(double value);
  virtual Currency GetAsCurrency() const;
  virtual void SetAsCurrency(Currency value);
  virtual TBcd GetAsBCD() const;
  virtual void SetAsBCD(const TBcd& value);
  virtual bool GetAsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual TDateTime GetAsDateTime() const;
  virtual void SetAsDateTime(TDateTime value);
  virtual std::vector<uint8_t> GetAsBytes() const;
  virtual void SetAsBytes(const std::vector<uint8_t>& value);
  // Null for a null field; Null or Empty clears the field.
  virtual Variant GetAsVariant() const;
  virtual void SetAsVariant(const Variant& value);

  std::string AsString() const { return GetAsString(); }
  std::u16string AsWideString() const { return GetAsWideString(); }
  int32_t AsInteger() const { return GetAsInteger(); }
  int64_t AsLargeInt() const { return GetAsLargeInt(); }
  uint64_t AsLargeUInt() const { return GetAsLargeUInt(); }
  double AsFloat() const { return GetAsFloat(); }
  Currency AsCurrency() const { return GetAsCurrency(); }
  TBcd AsBCD() const { return GetAsBCD(); }
  bool AsBoolean() const { return GetAsBoolean(); }
  TDateTime AsDateTime() const { return GetAsDateTime(); }
  std::vector<uint8_t> AsBytes() const { return GetAsBytes(); }
  Variant AsVariant() const { return GetAsVariant(); }
  Variant Value() const { return GetAsVariant(); }
  void SetValue(const Variant& value) { SetAsVariant(value); }

  // ---- Text ----
  // Text: the value as edited (OnGetText may supply it); DisplayText: as shown.
  std::string Text() const;
  std::string DisplayText() const;
  // OnSetText when assigned, else the type's text parsing (SetAsString).
  void SetText(const std::string& value);

  // ---- Old and new values (through the dataset's old- and new-value states) ----
  Variant OldValue() const;
  Variant NewValue() const;
  void SetNewValue(const Variant& value);
  Variant CurValue() const { return GetAsVariant(); }

  // ---- Events ----
  // Calls OnValidate with the value about to be written readable through the field.
  virtual void Validate(const void* buffer);
  // OnChange.
  virtual void Change();
  // Asks the controls linked to this field to take the focus.
  void FocusControl();
  // From another field: its value.
  void Assign(TPersistent* source) override;

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

  // ---- For the dataset ----
  // The buffer form's width of a size; raises "Invalid field size" for a size the type refuses.
  virtual void CheckTypeSize(int value) const;
  // The type's own text of the value (no OnGetText).
  virtual void GetText(std::string& text, bool displayText) const;

 protected:
  // Only the base's: an owner need not tell a field that has no links of its own.
  void Notification(TComponent* component, TOperation operation) final;
  void SetDataType(TFieldType value) noexcept { FDataType = value; }
  void SetSizeUnchecked(int value) noexcept { FSize = value; }
  virtual int DefaultWidth() const { return 10; }
  // Tells the dataset that a displayed property changed.
  void PropertyChanged(bool layoutAffected);
  [[noreturn]] void AccessError(const char* typeName) const;
  [[noreturn]] void RangeError(const std::string& value, const std::string& min,
                               const std::string& max) const;
  template <typename T>
  bool GetNative(T& value) const {
    return GetData(&value);
  }
  template <typename T>
  void SetNative(const T& value) {
    SetData(&value);
  }

 private:
  friend class TFields;
  friend class TDataSet;
  friend class TFieldDef;

  // SetDataSet; nameFree: the caller has just seen that value holds no field of this name.
  void AttachTo(TDataSet* value, bool nameFree);

  TDataSet* FDataSet = nullptr;
  std::string FFieldName;
  bool FFieldNameAscii = true;
  std::string FDisplayLabel;
  int FFieldNo = 0;
  int FSize = 0;
  int FOffset = 0;
  int FDisplayWidth = 0;
  TFieldKind FFieldKind = fkData;
  TFieldType FDataType = ftUnknown;
  TAlignment FAlignment = taLeftJustify;
  bool FRequired = false;
  bool FReadOnly = false;
  bool FVisible = true;
  bool FValidating = false;
  const void* FValueBuffer = nullptr;            // the value being validated
  const std::string_view* FValueText = nullptr;  // the same, whole, when written as text
  TFieldDirectReader FDirect;
  // The record the direct reader may read now, or nil.
  const uint8_t* DirectRecord() const noexcept;
  [[gnu::noinline]] bool GetDataUsual(void* buffer) const;
  [[gnu::noinline]] bool GetDataTextUsual(std::string& value) const;
};

// A dataset's fields in order. The list refers to fields; the dataset destroys those it created.
class TFields {
 public:
  explicit TFields(TDataSet* dataSet) : FDataSet(dataSet) {}
  TFields(const TFields&) = delete;
  TFields& operator=(const TFields&) = delete;

  int Count() const noexcept { return static_cast<int>(FList.size()); }
  // EDatabaseError "Field index out of range" outside 0..Count-1. Inline: a grid or a reader
  // asks for every value of every row.
  TField* Fields(int index) const {
    if (index < 0 || index >= Count()) RaiseIndexOutOfRange();
    return FList[static_cast<size_t>(index)];
  }
  TField* operator[](int index) const { return Fields(index); }
  // Case ignored; nil / EDatabaseError "Field '%s' not found".
  TField* FindField(std::string_view name) const;
  TField* FieldByName(std::string_view name) const;
  TField* FieldByNumber(int fieldNo) const;
  int IndexOf(const TField* field) const;
  void Add(TField* field);
  void Remove(TField* field);
  // Forgets every field (they stay alive).
  void Clear() noexcept { FList.clear(); }
  // False once NoteBlobs found no field of a blob type, until a field is added: a dataset asks at
  // every move whether any blob field needs its edit mark cleared.
  bool MayHoldBlobs() const noexcept { return FMayHoldBlobs; }
  void NoteBlobs() noexcept;
  TDataSet* DataSet() const noexcept { return FDataSet; }

  auto begin() const noexcept { return FList.begin(); }
  auto end() const noexcept { return FList.end(); }

 private:
  [[noreturn]] static void RaiseIndexOutOfRange();

  TDataSet* FDataSet;
  std::vector<TField*> FList;
  bool FMayHoldBlobs = true;
};
