#include "platform/db/Fields.h"

#include <algorithm>
#include <cstring>

#include "platform/db/DBConsts.h"
#include "platform/db/DataSet.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Format.h"

// ---- TField ---------------------------------------------------------------------------------

TField::TField(TComponent* owner) : TComponent(owner, true) {}

void TField::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
}

TField::~TField() {
  if (FDataSet) FDataSet->FFields->Remove(this);
  if (LookupDataSet) RemoveFreeNotification(LookupDataSet);
}

void TField::SetDataSet(TDataSet* value) {
  AttachTo(value, false);
}

void TField::AttachTo(TDataSet* value, bool nameFree) {
  if (value == FDataSet) return;
  if (FDataSet) FDataSet->CheckInactive();
  if (value) {
    value->CheckInactive();
    if (!nameFree && !FFieldName.empty() && value->FFields->FindField(FFieldName))
      throw EDatabaseError(Format(SDuplicateFieldName, {FFieldName}));
  }
  if (FDataSet) FDataSet->FFields->Remove(this);
  FDataSet = nullptr;
  if (value) value->FFields->Add(this);
}

void TField::SetFieldName(const std::string& value) {
  if (value == FFieldName) return;
  if (FDataSet) {
    FDataSet->CheckInactive();
    TField* other = FDataSet->FFields->FindField(value);
    if (other && other != this) throw EDatabaseError(Format(SDuplicateFieldName, {value}));
  }
  FFieldName = value;
  FFieldNameAscii = IsAsciiName(value);
}

void TField::SetFieldKind(TFieldKind value) {
  if (value == FFieldKind) return;
  if (FDataSet) FDataSet->CheckInactive();
  FFieldKind = value;
}

void TField::SetSize(int value) {
  if (FDataSet) FDataSet->CheckInactive();
  CheckTypeSize(value);
  FSize = value;
}

void TField::CheckTypeSize(int value) const {
  if (value != 0) throw EDatabaseError(SInvalidFieldSize);
}

int TField::DataSize() const {
  return 0;
}

int TField::Index() const {
  return FDataSet ? FDataSet->FFields->IndexOf(this) : -1;
}

void TField::SetReadOnly(bool value) {
  if (value == FReadOnly) return;
  FReadOnly = value;
  PropertyChanged(true);
}

void TField::SetVisible(bool value) {
  if (value == FVisible) return;
  FVisible = value;
  PropertyChanged(true);
}

void TField::SetDisplayLabel(const std::string& value) {
  FDisplayLabel = value == FFieldName ? std::string() : value;
  PropertyChanged(true);
}

void TField::SetDisplayWidth(int value) {
  FDisplayWidth = value;
  PropertyChanged(true);
}

void TField::SetAlignment(TAlignment value) {
  if (value == FAlignment) return;
  FAlignment = value;
  PropertyChanged(false);
}

void TField::PropertyChanged(bool layoutAffected) {
  if (FDataSet && FDataSet->Active())
    FDataSet->DataEvent(layoutAffected ? deLayoutChange : deDataSetChange, 0);
}

bool TField::CanModify() const {
  if (FReadOnly || !FDataSet) return false;
  if (FFieldKind == fkCalculated || FFieldKind == fkLookup)
    return FDataSet->State() == dsCalcFields || FDataSet->State() == dsSetKey ||
           FDataSet->State() == dsFilter;
  return FDataSet->CanModify();
}

inline const uint8_t* TField::DirectRecord() const noexcept {
  if (!FDataSet || FValidating || *FDirect.Layout != FDirect.Stamp) return nullptr;
  return FDataSet->DirectRecBuf();
}

// The direct reader first, in a frame of its own: the usual path saves what it needs itself.
bool TField::GetData(void* buffer) const {
  if (FDirect.Data)
    if (const uint8_t* rec = DirectRecord()) return FDirect.Data(*this, rec, buffer);
  return GetDataUsual(buffer);
}

bool TField::GetDataUsual(void* buffer) const {
  if (!FDataSet) throw EDatabaseError(Format(SDataSetMissing, {DisplayLabel()}));
  if (FValidating) {
    if (FValueBuffer && buffer) {
      if (FDataType == ftVariant)
        *static_cast<Variant*>(buffer) = *static_cast<const Variant*>(FValueBuffer);
      else
        std::memcpy(buffer, FValueBuffer, static_cast<size_t>(DataSize()));
    }
    return FValueBuffer != nullptr;
  }
  return FDataSet->GetFieldData(const_cast<TField*>(this), buffer);
}

void TField::SetData(const void* buffer) {
  if (!FDataSet) throw EDatabaseError(Format(SDataSetMissing, {DisplayLabel()}));
  FDataSet->CheckFieldWritable(this);
  Validate(buffer);
  FDataSet->SetFieldData(this, buffer);
  FDataSet->FieldValueChanged(this);
}

bool TField::GetDataText(std::string& value) const {
  std::string_view text;
  bool isNull;
  if (!GetDirectText(text, isNull)) return GetDataTextUsual(value);
  if (isNull) return false;
  value.assign(text);
  return true;
}

bool TField::GetDirectText(std::string_view& text, bool& isNull) const {
  const uint8_t* rec = FDirect.Text ? DirectRecord() : nullptr;
  if (!rec) return false;
  switch (FDirect.Text(*this, rec, text)) {
    case TFieldDirectReader::trNull:
      isNull = true;
      return true;
    case TFieldDirectReader::trStored:
      isNull = false;
      return true;
    default:
      return false;
  }
}

bool TField::GetDataTextUsual(std::string& value) const {
  if (!FDataSet) throw EDatabaseError(Format(SDataSetMissing, {DisplayLabel()}));
  if (FValidating && FValueText) {
    value.assign(*FValueText);
    return true;
  }
  if (FValidating) {
    if (!FValueBuffer) return false;
    const auto* text = static_cast<const char*>(FValueBuffer);
    value.assign(text, strnlen(text, static_cast<size_t>(std::max(DataSize() - 1, 0))));
    return true;
  }
  return FDataSet->GetFieldText(const_cast<TField*>(this), value);
}

void TField::SetDataText(std::string_view value) {
  if (!FDataSet) throw EDatabaseError(Format(SDataSetMissing, {DisplayLabel()}));
  FDataSet->CheckFieldWritable(this);
  if (OnValidate) {
    std::string buffer(static_cast<size_t>(DataSize()), '\0');
    std::memcpy(buffer.data(), value.data(), std::min(value.size(), buffer.size() - 1));
    FValueText = &value;
    try {
      Validate(buffer.data());
    } catch (...) {
      FValueText = nullptr;
      throw;
    }
    FValueText = nullptr;
  }
  FDataSet->SetFieldText(this, value);
  FDataSet->FieldValueChanged(this);
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  // The handler reads the new value through this field: GetData answers from buffer meanwhile.
  FValidating = true;
  FValueBuffer = buffer;
  try {
    OnValidate(this);
  } catch (...) {
    FValidating = false;
    FValueBuffer = nullptr;
    throw;
  }
  FValidating = false;
  FValueBuffer = nullptr;
}

void TField::Change() {
  if (OnChange) OnChange(this);
}

void TField::FocusControl() {
  if (FDataSet && FDataSet->Active()) FDataSet->DataEvent(deFocusControl, reinterpret_cast<intptr_t>(this));
}

void TField::Assign(TPersistent* source) {
  if (!source) {
    Clear();
    return;
  }
  if (auto* field = dynamic_cast<TField*>(source)) {
    SetAsVariant(field->GetAsVariant());
    return;
  }
  TComponent::Assign(source);
}

// ---- Typed access: the base converts nothing ----

void TField::AccessError(const char* typeName) const {
  throw EDatabaseError(Format(SFieldAccessError, {DisplayLabel(), typeName}));
}

void TField::RangeError(const std::string& value, const std::string& min, const std::string& max) const {
  throw EDatabaseError(Format(SFieldRangeError, {value, DisplayLabel(), min, max}));
}

std::string TField::GetAsString() const {
  std::string text;
  GetText(text, false);
  return text;
}
void TField::SetAsString(const std::string&) {
  AccessError("String");
}
std::u16string TField::GetAsWideString() const {
  return AnsiToWide(GetAsString());
}
void TField::SetAsWideString(const std::u16string& value) {
  SetAsString(WideToAnsi(value));
}
int32_t TField::GetAsInteger() const {
  AccessError("Integer");
}
void TField::SetAsInteger(int32_t) {
  AccessError("Integer");
}
int64_t TField::GetAsLargeInt() const {
  AccessError("LargeInt");
}
void TField::SetAsLargeInt(int64_t) {
  AccessError("LargeInt");
}
uint64_t TField::GetAsLargeUInt() const {
  AccessError("LargeUInt");
}
void TField::SetAsLargeUInt(uint64_t) {
  AccessError("LargeUInt");
}
double TField::GetAsFloat() const {
  AccessError("Float");
}
void TField::SetAsFloat(double) {
  AccessError("Float");
}
Currency TField::GetAsCurrency() const {
  AccessError("Currency");
}
void TField::SetAsCurrency(Currency) {
  AccessError("Currency");
}
TBcd TField::GetAsBCD() const {
  AccessError("BCD");
}
void TField::SetAsBCD(const TBcd&) {
  AccessError("BCD");
}
bool TField::GetAsBoolean() const {
  AccessError("Boolean");
}
void TField::SetAsBoolean(bool) {
  AccessError("Boolean");
}
TDateTime TField::GetAsDateTime() const {
  AccessError("DateTime");
}
void TField::SetAsDateTime(TDateTime) {
  AccessError("DateTime");
}
std::vector<uint8_t> TField::GetAsBytes() const {
  AccessError("Bytes");
}
void TField::SetAsBytes(const std::vector<uint8_t>&) {
  AccessError("Bytes");
}
Variant TField::GetAsVariant() const {
  AccessError("Variant");
}
void TField::SetAsVariant(const Variant&) {
  AccessError("Variant");
}

void TField::GetText(std::string& text, bool) const {
  text.clear();
}

std::string TField::Text() const {
  std::string text;
  if (OnGetText)
    OnGetText(const_cast<TField*>(this), text, false);
  else
    GetText(text, false);
  return text;
}

std::string TField::DisplayText() const {
  std::string text;
  if (OnGetText)
    OnGetText(const_cast<TField*>(this), text, true);
  else
    GetText(text, true);
  return text;
}

void TField::SetText(const std::string& value) {
  if (OnSetText)
    OnSetText(this, value);
  else
    SetAsString(value);
}

Variant TField::OldValue() const {
  if (!FDataSet) throw EDatabaseError(Format(SDataSetMissing, {DisplayLabel()}));
  return FDataSet->GetStateFieldValue(dsOldValue, const_cast<TField*>(this));
}

Variant TField::NewValue() const {
  if (!FDataSet) throw EDatabaseError(Format(SDataSetMissing, {DisplayLabel()}));
  return FDataSet->GetStateFieldValue(dsNewValue, const_cast<TField*>(this));
}

void TField::SetNewValue(const Variant& value) {
  if (!FDataSet) throw EDatabaseError(Format(SDataSetMissing, {DisplayLabel()}));
  FDataSet->SetStateFieldValue(dsNewValue, this, value);
}

// ---- TFields --------------------------------------------------------------------------------

void TFields::RaiseIndexOutOfRange() {
  throw EDatabaseError("Field index out of range");
}

TField* TFields::FindField(std::string_view name) const {
  const TFieldNameProbe probe(name);
  for (TField* f : FList)
    if (probe.Matches(f->FieldName(), f->FieldNameAscii())) return f;
  return nullptr;
}

TField* TFields::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (!f) throw EDatabaseError(Format(SFieldNotFound, {std::string(name)}));
  return f;
}

TField* TFields::FieldByNumber(int fieldNo) const {
  for (TField* f : FList)
    if (f->FieldNo() == fieldNo) return f;
  return nullptr;
}

int TFields::IndexOf(const TField* field) const {
  // From the end: fields mostly go last first.
  for (size_t i = FList.size(); i-- > 0;)
    if (FList[i] == field) return static_cast<int>(i);
  return -1;
}

void TFields::Add(TField* field) {
  FList.push_back(field);
  field->FDataSet = FDataSet;
  FMayHoldBlobs = true;
}

void TFields::NoteBlobs() noexcept {
  FMayHoldBlobs =
      std::any_of(FList.begin(), FList.end(), [](const TField* f) { return IsBlobFieldType(f->DataType()); });
}

void TFields::Remove(TField* field) {
  int i = IndexOf(field);
  if (i < 0) return;
  FList.erase(FList.begin() + i);
  field->FDataSet = nullptr;
}
