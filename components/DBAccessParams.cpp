#include "components/DBAccessParams.h"

#include "components/MemDS.h"
#include "core/DAConsts.h"
#include "core/MemBlob.h"
#include "core/MemFieldDesc.h"
#include "platform/db/FieldClasses.h"
#include "platform/db/Fields.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/DateTimeUtils.h"

TDAParam::TDAParam(TCollection* collection) : TParam(collection) {}

TDAParam::~TDAParam() {
  FreeObject();
}

void TDAParam::CreateObject() {
  DA_ASSERT(FBlob == nullptr);
  FBlob = new TBlob(false);
  FBlobNull = true;
}

void TDAParam::FreeObject() noexcept {
  if (FBlob == nullptr) return;
  TBlob* blob = FBlob;
  FBlob = nullptr;
  try {
    blob->Release();
  } catch (...) {
    // A reference count already broken elsewhere: nothing sound is left to free here.
  }
}

void TDAParam::SetDataType(TFieldType value) {
  if (value == GetDataType()) return;
  FreeObject();
  TParam::SetDataType(value);
  if (IsBlobDataType(value)) CreateObject();
}

// Takes the reference before dropping the old one: the blob may be the parameter's own.
void TDAParam::ShareBlob(TBlob* blob, TFieldType type) {
  if (blob != nullptr) blob->AddRef();
  FreeObject();
  TParam::SetDataType(type);
  FBlob = blob;
  FBlobNull = blob == nullptr || blob->GetSize() == 0;
  FValue = Variant(std::string("Object"));
  SetBound(true);
  Changed(false);
}

std::string TDAParam::GetAsString() const {
  if (FBlob != nullptr) return FBlob->GetAsString();
  const TFieldType t = GetDataType();
  if ((t == ftDate || t == ftDateTime) && !GetIsNull()) return DateTimeToStr(AsDateTime());
  return TParam::GetAsString();
}

void TDAParam::SetAsString(const std::string& value) {
  if (FBlob != nullptr) {
    FBlob->SetAsString(value);
    FBlobNull = false;
    SetBound(true);
    Changed(false);
  } else if (GetDataType() == ftWideString) {
    SetTyped(ftWideString, Variant(AnsiToWide(value)));
  } else {
    TParam::SetAsString(value);
  }
}

std::u16string TDAParam::GetAsWideString() const {
  if (FBlob != nullptr) return FBlob->GetAsWideString();
  return TParam::GetAsWideString();
}

void TDAParam::SetAsWideString(const std::u16string& value) {
  if (FBlob == nullptr) return TParam::SetAsWideString(value);
  FBlob->SetAsWideString(value);
  FBlobNull = false;
  SetBound(true);
  Changed(false);
}

void TDAParam::SetAsBlob(const std::string& value) {
  SetDataType(ftBlob);
  SetAsString(value);
}

void TDAParam::SetAsMemo(const std::string& value) {
  SetDataType(ftMemo);
  SetAsString(value);
}

Variant TDAParam::GetValue() const {
  if (FBlob != nullptr) return GetIsNull() ? Variant::Null() : Variant(FBlob->GetAsString());
  return TParam::GetValue();
}

void TDAParam::SetValue(const Variant& value) {
  if (FBlob == nullptr) return TParam::SetValue(value);
  FBlobNull = value.IsNull() || value.IsEmpty();
  if (FBlobNull) {
    FBlob->Clear();
  } else if (value.IsByteArray()) {
    // A BLOB field's value: its bytes as they are, never through a text conversion.
    const std::vector<uint8_t>& bytes = value.AsBytes();
    FBlob->SetAsString(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  } else {
    FBlob->SetAsString(value.AsString());
  }
  SetBound(true);
  Changed(false);
}

bool TDAParam::GetIsNull() const {
  // Bytes written straight into the blob (GetAsBlobRef) make it a value too.
  if (FBlob != nullptr) return FBlobNull && FBlob->GetSize() == 0;
  return TParam::GetIsNull();
}

void TDAParam::Clear() {
  if (FBlob != nullptr) FBlob->Clear();
  FBlobNull = true;
  TParam::Clear();
}

TBlob* TDAParam::GetAsBlobRef() {
  if (GetDataType() == ftUnknown) SetDataType(ftBlob);
  return FBlob;
}

TBlob* TDAParam::GetAsMemoRef() {
  if (GetDataType() == ftUnknown) SetDataType(ftMemo);
  return FBlob;
}

void TDAParam::SetAsBlobRef(TBlob* blob) {
  ShareBlob(blob, ftBlob);
}

void TDAParam::SetAsMemoRef(TBlob* blob) {
  ShareBlob(blob, ftMemo);
}

void TDAParam::Assign(TPersistent* source) {
  if (source == this) return;
  auto* other = dynamic_cast<TDAParam*>(source);
  if (other == nullptr) {
    TParam::Assign(source);
    // A blob-typed target keeps the value in its blob.
    auto* param = dynamic_cast<TParam*>(source);
    if (param != nullptr && FBlob != nullptr) SetValue(param->GetValue());
    return;
  }
  if (other->FBlob != nullptr) {
    ShareBlob(other->FBlob, other->GetDataType());
    FBlobNull = other->FBlobNull;
  } else {
    SetDataType(other->GetDataType());
    FValue = other->GetIsNull() ? Variant::Null() : other->TParam::GetValue();
  }
  SetName(other->Name());
  if (ParamType() == ptUnknown) SetParamType(other->ParamType());
  SetSize(other->GetSize());
  Precision = other->Precision;
  NumericScale = other->NumericScale;
  SetBound(other->Bound());
  Changed(false);
}

void TDAParam::AssignFieldValue(TField* field, const Variant& value) {
  TFieldType type = field->DataType();
  if (auto* s = dynamic_cast<TStringField*>(field); s != nullptr && s->FixedChar()) type = ftFixedChar;
  SetDataType(type);
  if (value.IsNull() || value.IsEmpty())
    Clear();
  else
    SetValue(value);
  SetBound(true);
}

void TDAParam::LoadFromStream(TStream& stream, TFieldType blobType) {
  if (!IsBlobDataType(blobType) && blobType != ftOraBlob && blobType != ftOraClob)
    throw Exception(MessageText(SDataTypeNotSupported));
  SetDataType(blobType);
  stream.SetPosition(0);
  if (FBlob == nullptr) return TParam::LoadFromStream(stream, blobType);
  FBlob->LoadFromStream(stream);
  FBlobNull = false;
  SetBound(true);
  Changed(false);
}

// ---- TDAParams ----------------------------------------------------------------------------------

TParam* TDAParams::CreateParam(TFieldType fieldType, const std::string& name, TParamType paramType) {
  TParam* param = TParams::CreateParam(ftUnknown, name, paramType);
  param->SetDataType(fieldType);
  return param;
}

void TDAParams::Update(TCollectionItem* item) {
  if (NeedsUpdateItem) TParams::Update(item);
}

// ---- Type maps ----------------------------------------------------------------------------------

// One map for parameters and datasets: the memory dataset's.
uint16_t FieldTypeToDataType(TFieldType type) {
  return TMemDataSet::GetDataType(type);
}

TFieldType DataTypeToFieldType(uint16_t dataType) {
  static const TFieldType map[] = {
      ftUnknown,   ftString,     ftSmallint,   ftSmallint, ftInteger,  ftFloat, ftDate,     ftTime,
      ftDateTime,  ftWord,       ftBoolean,    ftLargeint, ftCurrency, ftBlob,  ftMemo,     ftADT,
      ftReference, ftArray,      ftDataSet,    ftVariant,  ftString,   ftBytes, ftVarBytes, ftVarBytes,
      ftLargeint,  ftWideString, ftWideString, ftBCD,      ftFMTBcd,   ftGuid,  ftMemo};
  // The exact types beyond the classic ones (BIGINT UNSIGNED and BIT, fractional seconds).
  if (dataType == dtUInt64) return ftLargeUInt;
  if (dataType == dtDateTimeUs) return ftDateTimeUs;
  if (dataType == dtTimeUs) return ftTimeUs;
  DA_ASSERT_MSG(dataType < sizeof map / sizeof map[0], "Unknown data type");
  return map[dataType];
}

// ---- TDADetailDataLink ----------------------------------------------------------------------------

namespace {

bool IsEditing(const TDataSet* dataSet) {
  return dataSet->State() == dsEdit || dataSet->State() == dsInsert;
}

}  // namespace

void TDADetailDataLink::ActiveChanged() {
  if (FDetail->Active() && !FDetail->IsDestroying() && Active()) FHandler->RefreshDetailParams();
}

void TDADetailDataLink::RecordChanged(TField* field) {
  // A closed detail takes the master's values when it opens.
  if (!FDetail->Active() || FDetail->IsDestroying()) return;
  if (field != nullptr && !FHandler->IsMasterField(field)) return;
  if (field != nullptr && IsEditing(FDetail)) return;
  FHandler->RefreshDetailParams();
}

void TDADetailDataLink::CheckBrowseMode() {
  TDataSet* master = DataSet();
  if (master != nullptr && master->State() == dsInsert && IsEditing(FDetail)) return;
  FDetail->CheckBrowseMode();
}
