#include "platform/db/Params.h"

#include "platform/db/DBConsts.h"
#include "platform/db/FieldClasses.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Format.h"

namespace {

// The field type a variant's own type suggests for a parameter of unknown type.
TFieldType FieldTypeOfVariant(const Variant& v) {
  switch (v.VarType()) {
    case varSmallint:
    case varShortInt:
    case varByte:
      return ftSmallint;
    case varWord:
      return ftWord;
    case varInteger:
      return ftInteger;
    case varLongWord:
    case varInt64:
      return ftLargeint;
    case varUInt64:
      return ftLargeUInt;
    case varSingle:
    case varDouble:
      return ftFloat;
    case varCurrency:
      return ftCurrency;
    case varDate:
      return ftDateTime;
    case varBoolean:
      return ftBoolean;
    case varString:
      return ftString;
    case varOleStr:
      return ftWideString;
    case varFMTBcd:
      return ftFMTBcd;
    case varArray | varByte:
      return ftVarBytes;
    default:
      return ftUnknown;
  }
}

}  // namespace

// ---- TParam ---------------------------------------------------------------------------------

TParam::TParam(TCollection* collection) : TCollectionItem(collection) {}

void TParam::SetDataType(TFieldType value) {
  FDataType = value;
}

void TParam::SetValue(const Variant& value) {
  if (GetDataType() == ftUnknown) SetDataType(FieldTypeOfVariant(value));
  FValue = value;
  FBound = true;
  Changed(false);
}

void TParam::SetTyped(TFieldType type, const Variant& value) {
  SetDataType(type);
  FValue = value;
  FBound = true;
  Changed(false);
}

void TParam::Clear() {
  FValue = Variant::Null();
}

std::string TParam::GetAsString() const {
  Variant v = GetValue();
  if (v.IsNull() || v.IsEmpty()) return {};
  if (v.VarType() == varBoolean) return v.AsBoolean() ? "True" : "False";
  return v.AsString();
}

void TParam::SetAsString(const std::string& value) {
  TFieldType t = GetDataType();
  SetTyped(t == ftFixedChar || t == ftMemo ? t : ftString, Variant(value));
}

std::u16string TParam::GetAsWideString() const {
  Variant v = GetValue();
  return v.IsNull() || v.IsEmpty() ? std::u16string() : v.AsWideString();
}

void TParam::SetAsWideString(const std::u16string& value) {
  SetTyped(ftWideString, Variant(value));
}

int32_t TParam::GetAsInteger() const {
  Variant v = GetValue();
  return v.IsNull() || v.IsEmpty() ? 0 : v.AsInteger();
}

void TParam::SetAsInteger(int32_t value) {
  SetTyped(ftInteger, Variant(static_cast<int>(value)));
}

double TParam::GetAsFloat() const {
  Variant v = GetValue();
  return v.IsNull() || v.IsEmpty() ? 0 : v.AsDouble();
}

void TParam::SetAsFloat(double value) {
  SetTyped(ftFloat, Variant(value));
}

void TParam::SetAsBlob(const std::string& value) {
  SetTyped(ftBlob, Variant(value));
}

void TParam::SetAsMemo(const std::string& value) {
  SetTyped(ftMemo, Variant(value));
}

TSQLTimeStamp TParam::GetAsSQLTimeStamp() const {
  Variant v = GetValue();
  if (v.IsNull() || v.IsEmpty()) return {};
  return DateTimeToSQLTimeStamp(v.AsDateTime());
}

void TParam::SetAsSQLTimeStamp(const TSQLTimeStamp& value) {
  SetTyped(ftTimeStamp, Variant::FromDateTime(SQLTimeStampToDateTime(value)));
}

void TParam::SetText(const std::string& value) {
  if (GetDataType() == ftUnknown) SetDataType(ftString);
  FValue = Variant(value);
  FBound = true;
  Changed(false);
}

int64_t TParam::AsLargeInt() const {
  Variant v = GetValue();
  return v.IsNull() || v.IsEmpty() ? 0 : v.AsInt64();
}

uint64_t TParam::AsLargeUInt() const {
  Variant v = GetValue();
  return v.IsNull() || v.IsEmpty() ? 0 : v.AsUInt64();
}

Currency TParam::AsCurrency() const {
  Variant v = GetValue();
  return v.IsNull() || v.IsEmpty() ? Currency{} : v.AsCurrency();
}

TBcd TParam::AsFMTBCD() const {
  Variant v = GetValue();
  return v.IsNull() || v.IsEmpty() ? Int64ToBcd(0) : v.AsBcd();
}

bool TParam::AsBoolean() const {
  Variant v = GetValue();
  return !(v.IsNull() || v.IsEmpty()) && v.AsBoolean();
}

TDateTime TParam::AsDateTime() const {
  Variant v = GetValue();
  return v.IsNull() || v.IsEmpty() ? 0 : v.AsDateTime();
}

std::vector<uint8_t> TParam::AsBytes() const {
  Variant v = GetValue();
  if (v.IsNull() || v.IsEmpty()) return {};
  if (v.IsByteArray()) return v.AsBytes();
  std::string s = v.AsString();
  return std::vector<uint8_t>(s.begin(), s.end());
}

void TParam::AssignFieldValue(TField* field, const Variant& value) {
  TFieldType type = field->DataType();
  if (auto* s = dynamic_cast<TStringField*>(field); s && s->FixedChar()) type = ftFixedChar;
  SetDataType(type);
  if (value.IsNull() || value.IsEmpty())
    Clear();
  else
    FValue = value;
  FBound = true;
  Changed(false);
}

void TParam::AssignField(TField* field) {
  FName = field->FieldName();
  AssignFieldValue(field, field->GetAsVariant());
}

void TParam::LoadFromStream(TStream& stream, TFieldType blobType) {
  if (!IsBlobFieldType(blobType)) throw EDatabaseError("Data type is not supported");
  stream.SetPosition(0);
  std::string data(static_cast<size_t>(stream.Size()), '\0');
  stream.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
  SetTyped(blobType, Variant(std::move(data)));
}

void TParam::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TParam*>(source)) {
    SetDataType(other->GetDataType());
    Variant v = other->GetValue();
    if (v.IsNull() || v.IsEmpty())
      Clear();
    else
      FValue = v;
    FBound = other->FBound;
    FName = other->FName;
    if (FParamType == ptUnknown) FParamType = other->FParamType;
    FSize = other->FSize;
    Precision = other->Precision;
    NumericScale = other->NumericScale;
    Changed(false);
    return;
  }
  if (auto* field = dynamic_cast<TField*>(source)) return AssignField(field);
  TCollectionItem::Assign(source);
}

void TParam::AssignTo(TPersistent* dest) {
  if (auto* field = dynamic_cast<TField*>(dest)) {
    field->SetAsVariant(GetValue());
    return;
  }
  TCollectionItem::AssignTo(dest);
}

// ---- TParams --------------------------------------------------------------------------------

TParam* TParams::CreateParam(TFieldType fieldType, const std::string& name, TParamType paramType) {
  auto* param = static_cast<TParam*>(Add());
  param->SetName(name);
  param->SetDataType(fieldType);
  param->SetParamType(paramType);
  return param;
}

TParam* TParams::FindParam(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameFieldName(Items(i)->Name(), name)) return Items(i);
  return nullptr;
}

TParam* TParams::ParamByName(std::string_view name) const {
  TParam* p = FindParam(name);
  if (!p) throw EDatabaseError(Format(SParameterNotFound, {std::string(name)}));
  return p;
}

void TParams::RemoveParam(TParam* param) {
  int i = param ? param->Index() : -1;
  if (i >= 0 && param->Collection() == this) Delete(i);
}

void TParams::AssignValues(const TParams& source) {
  BeginUpdate();
  try {
    for (int i = 0; i < source.Count(); ++i)
      if (TParam* p = FindParam(source.Items(i)->Name())) p->Assign(source.Items(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::vector<TParam*> TParams::GetParamList(std::string_view names) const {
  std::vector<TParam*> list;
  size_t pos = 0;
  while (pos <= names.size()) {
    size_t end = names.find(';', pos);
    std::string_view name =
        names.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (!name.empty()) list.push_back(ParamByName(name));
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return list;
}

void TParams::Update(TCollectionItem*) {
  if (OnChange) OnChange(this);
}
