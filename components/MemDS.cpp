#include "components/MemDS.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "components/MemDSBlob.h"
#include "core/DAConsts.h"
#include "core/MemFieldValues.h"
#include "platform/db/DataSource.h"
#include "platform/runtime/Format.h"

namespace {

// Record information block: record number, then these bytes.
constexpr int InfoStatus = 0;
constexpr int InfoBookmarkFlag = 1;
constexpr int InfoComplexRefs = 2;
constexpr int32_t InfoSize = 8;  // int32 and three bytes, kept 8-aligned for the bookmark

// Field types by data-type code 0..30.
constexpr TFieldType FieldTypes[] = {
    ftUnknown,   ftString,     ftSmallint,   ftSmallint, ftInteger,  ftFloat, ftDate,     ftTime,
    ftDateTime,  ftWord,       ftBoolean,    ftLargeint, ftCurrency, ftBlob,  ftMemo,     ftADT,
    ftReference, ftArray,      ftDataSet,    ftVariant,  ftString,   ftBytes, ftVarBytes, ftVarBytes,
    ftLargeint,  ftWideString, ftWideString, ftBCD,      ftFMTBcd,   ftGuid,  ftMemo,
};
static_assert(std::size(FieldTypes) == dtWideMemo + 1);

// The record store's unsigned 64-bit integer and microsecond date-time and time codes.
constexpr TDataType CodeUInt64 = 31;
constexpr TDataType CodeDateTimeUs = 32;
constexpr TDataType CodeTimeUs = 33;

}  // namespace

// Lends the apply buffers to the record set while its cached changes are applied.
struct TMemDataSet::TApplyScope {
  explicit TApplyScope(TMemDataSet& ds) : FDataSet(ds) {
    ds.FApplyNewBuffer = ds.AllocRecordBuffer();
    ds.FApplyOldBuffer = ds.AllocRecordBuffer();
    ds.FIRecordSet->SetCacheRecBuf(ds.FApplyNewBuffer, ds.FApplyOldBuffer);
    ds.FApplying = true;
    ds.SyncDirectReads();
  }
  ~TApplyScope() {
    FDataSet.FApplying = false;
    FDataSet.SyncDirectReads();
    FDataSet.FIRecordSet->SetCacheRecBuf(nullptr, nullptr);
    // The record set copied records into them without references: only the memory goes.
    std::erase(FDataSet.FLiveBuffers, FDataSet.FApplyNewBuffer);
    std::erase(FDataSet.FLiveBuffers, FDataSet.FApplyOldBuffer);
    delete[] FDataSet.FApplyNewBuffer;
    delete[] FDataSet.FApplyOldBuffer;
    FDataSet.FApplyNewBuffer = FDataSet.FApplyOldBuffer = nullptr;
  }
  TApplyScope(const TApplyScope&) = delete;
  TApplyScope& operator=(const TApplyScope&) = delete;

 private:
  TMemDataSet& FDataSet;
};

TMemDataSet::TMemDataSet(TComponent* owner) : TDataSet(owner) {
  CreateIRecordSet();
}

TMemDataSet::~TMemDataSet() {
  try {
    Close();
  } catch (...) {
    // A destructor never raises; closing releases what it can.
  }
}

// ---- Record set -------------------------------------------------------------------------------

void TMemDataSet::CreateIRecordSet() {
  SetIRecordSet(std::make_unique<TMemData>());
}

void TMemDataSet::SetIRecordSet(std::unique_ptr<TData> recordSet) {
  DA_ASSERT(recordSet != nullptr);
  FIRecordSet = std::move(recordSet);
  FIRecordSet->SetCachedUpdates(FCachedUpdates);
  FIRecordSet->OnInsertRecord = [this] { PerformAppend(); };
  FIRecordSet->OnUpdateRecord = [this] { PerformUpdate(); };
  FIRecordSet->OnDeleteRecord = [this] { PerformDelete(); };
  FIRecordSet->OnApplyRecord = [this](TUpdateKind kind, TUpdateAction& action, bool last) {
    ApplyRecord(kind, action, last);
  };
  FIRecordSet->OnInitFields = [this] { DescribeCalcFields(); };
  FIRecordSet->OnCalcFields = [this](void* recBuf) { CalcRecordSetFields(recBuf); };
}

void TMemDataSet::DescribeCalcFields() {
  if (!RecordSetCalcFields) return;
  for (TField* field : Fields()) {
    if (field->FieldKind() != fkCalculated && field->FieldKind() != fkLookup) continue;
    int size = field->DataSize();
    if (field->DataType() == ftDate || field->DataType() == ftTime) size *= 2;  // stored as 8 bytes
    TFieldDesc& desc =
        FIRecordSet->AddFieldDesc(field->FieldName(), GetDataType(field->DataType()),
                                  static_cast<uint16_t>(size), static_cast<uint16_t>(field->Size()));
    desc.ActualName = field->FieldName();
    desc.FieldDescKind = fdkCalculated;
  }
}

// The record set's buffers hold the record and its calculated area: the dataset calculates them
// in one of its own buffers.
void TMemDataSet::CalcRecordSetFields(void* recBuf) {
  if (!FCalcBuffer || !IsCursorOpen()) return;
  const size_t size = static_cast<size_t>(FIRecordSet->RecordSize() + FIRecordSet->CalcRecordSize());
  std::memcpy(FCalcBuffer, recBuf, size);
  ClearCalcFields(FCalcBuffer);
  GetCalcFields(FCalcBuffer);
  std::memcpy(recBuf, FCalcBuffer, size);
}

void TMemDataSet::Prepare() {
  if (FIRecordSet->Prepared()) return;
  FIRecordSet->Prepare();
  FieldDefs().Updated = false;
  InitFieldDefs();
}

void TMemDataSet::UnPrepare() {
  if (Active()) Close();
  FIRecordSet->UnPrepare();
  FieldDefs().Updated = false;
}

const std::string& TMemDataSet::IndexFieldNames() const {
  static const std::string none;
  TMemData* data = MemData();
  return data ? data->IndexFieldNames() : none;
}

void TMemDataSet::SetIndexFieldNames(const std::string& value) {
  TMemData* data = MemData();
  if (!data) return;
  if (Active()) CheckBrowseMode();
  data->SetIndexFieldNames(value);
  if (Active()) {
    UpdateCursorPos();
    Resync();
  }
}

void TMemDataSet::SetCachedUpdates(bool value) {
  if (value == FCachedUpdates) return;
  CheckInactive();
  FIRecordSet->SetCachedUpdates(value);
  FCachedUpdates = value;
}

void TMemDataSet::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TMemDataSet*>(source)) {
    SetCachedUpdates(other->CachedUpdates());
    FRequiredFields = other->FRequiredFields;
    return;
  }
  TDataSet::Assign(source);
}

// ---- Types and field definitions ------------------------------------------------------------

TFieldType TMemDataSet::GetFieldType(TDataType dataType) const {
  if (dataType <= dtWideMemo) return FieldTypes[dataType];
  if (dataType == CodeUInt64) return ftLargeUInt;
  if (dataType == CodeDateTimeUs) return ftDateTimeUs;
  if (dataType == CodeTimeUs) return ftTimeUs;
  RaiseAssertion(__FILE__, __LINE__, "dataType <= dtMaxDataType", MessageText(SUnknownDataType));
}

TDataType TMemDataSet::GetDataType(TFieldType fieldType) noexcept {
  switch (fieldType) {
    case ftString:
    case ftFixedChar:
      return dtString;
    case ftSmallint:
      return dtInt16;
    case ftInteger:
    case ftAutoInc:
      return dtInt32;
    case ftWord:
      return dtUInt16;
    case ftBoolean:
      return dtBoolean;
    case ftFloat:
      return dtFloat;
    case ftCurrency:
      return dtCurrency;
    case ftBCD:
      return dtBCD;
    case ftDate:
      return dtDate;
    case ftTime:
      return dtTime;
    case ftDateTime:
      return dtDateTime;
    case ftBytes:
      return dtBytes;
    case ftVarBytes:
      return dtVarBytes;
    case ftBlob:
      return dtBlob;
    case ftMemo:
      return dtMemo;
    case ftWideString:
      return dtWideString;
    case ftLargeint:
      return dtInt64;
    case ftADT:
      return dtObject;
    case ftArray:
      return dtArray;
    case ftReference:
      return dtReference;
    case ftDataSet:
      return dtTable;
    case ftVariant:
      return dtVariant;
    case ftGuid:
      return dtGuid;
    case ftFMTBcd:
      return dtFmtBCD;
    case ftLargeUInt:
      return CodeUInt64;
    case ftDateTimeUs:
      return CodeDateTimeUs;
    case ftTimeUs:
      return CodeTimeUs;
    default:
      return dtUnknown;
  }
}

int TMemDataSet::GetFieldDefSize(TFieldType fieldType, const TFieldDesc& desc) const {
  switch (fieldType) {
    case ftString:
    case ftWideString:
    case ftGuid:
      return std::max<int>(desc.Length, 1);
    case ftBytes:
    case ftVarBytes:
      return desc.Length;
    case ftDateTimeUs:
    case ftTimeUs:
      return std::min<int>(desc.Scale, 6);
    default:
      return 0;
  }
}

bool TMemDataSet::DefValuesOf(const TFieldDesc& desc, TDefValues& values) const {
  if (desc.FieldDescKind != fdkData || desc.HiddenObject || desc.HasParent()) return false;
  values.Type = GetFieldTypeByDesc(desc);
  if (values.Type == ftUnknown) return false;
  values.Size = GetFieldDefSize(values.Type, desc);
  values.Precision = 0;
  values.Required = desc.Required && FRequiredFields;
  values.Attributes = values.Required ? faRequired : 0;
  if (desc.ReadOnly) values.Attributes |= faReadonly;
  if (desc.Hidden) values.Attributes |= faHiddenCol;
  if (desc.Fixed) values.Attributes |= faFixed;
  if (values.Type == ftInteger || values.Type == ftFloat) values.Precision = desc.Length;
  if (values.Type == ftBCD || values.Type == ftFMTBcd) {
    values.Precision = desc.Length;
    values.Size = desc.Scale;
  }
  values.HasChildren = (values.Type == ftADT || values.Type == ftArray) && desc.ObjectType() != nullptr;
  return true;
}

void TMemDataSet::CreateFieldDefs() {
  TFieldDefs& defs = FieldDefs();
  defs.BeginUpdate();
  try {
    defs.Clear();
    const TFieldDescs& descs = FIRecordSet->Fields();
    for (int i = 0; i < descs.Count(); ++i) {
      const TFieldDesc& desc = *descs[i];
      TDefValues values;
      if (!DefValuesOf(desc, values)) continue;
      TFieldDef* def = defs.Add(desc.Name, values.Type, values.Size, values.Required);
      def->SetFieldNo(i + 1);
      def->SetAttributes(values.Attributes);
      def->SetPrecision(values.Precision);
      if (values.HasChildren) AddChildDefs(*def, *desc.ObjectType(), 0);
    }
  } catch (...) {
    defs.EndUpdate();
    throw;
  }
  defs.EndUpdate();
}

bool TMemDataSet::FieldDefsMatchDescs() const {
  const TFieldDefs& defs = FieldDefs();
  const TFieldDescs& descs = FIRecordSet->Fields();
  int next = 0;
  for (int i = 0; i < descs.Count(); ++i) {
    const TFieldDesc& desc = *descs[i];
    TDefValues values;
    if (!DefValuesOf(desc, values)) continue;
    if (values.HasChildren || next >= defs.Count()) return false;
    const TFieldDef& def = *defs.Items(next++);
    if (def.Name() != desc.Name || def.DataType() != values.Type || def.Size() != values.Size ||
        def.Precision() != values.Precision || def.Attributes() != values.Attributes ||
        def.FieldNo() != i + 1 || def.HasChildDefs())
      return false;
  }
  return next == defs.Count();
}

// The parts of an object or array column, as definitions only (no fields are made for them here).
// The depth bounds a type that contains itself.
void TMemDataSet::AddChildDefs(TFieldDef& parent, const TObjectType& type, int depth) {
  if (depth >= 32) return;
  for (int i = 0; i < type.GetAttributeCount(); ++i) {
    const TAttribute& attribute = type.GetAttributes(i);
    TFieldDesc desc;
    desc.Name = attribute.Name;
    desc.DataType = attribute.DataType;
    desc.Length = attribute.Length;
    desc.Scale = attribute.Scale;
    desc.Size = attribute.Size;
    const TFieldType fieldType = GetFieldTypeByDesc(desc);
    if (fieldType == ftUnknown) continue;
    TFieldDef* child = parent.ChildDefs().Add(attribute.Name, fieldType, GetFieldDefSize(fieldType, desc));
    if (fieldType == ftInteger || fieldType == ftFloat) child->SetPrecision(attribute.Length);
    if (fieldType == ftBCD || fieldType == ftFMTBcd) {
      child->SetPrecision(attribute.Length);
      child->SetSize(attribute.Scale);
    }
    if ((fieldType == ftADT || fieldType == ftArray) && attribute.ObjectType != nullptr)
      AddChildDefs(*child, *attribute.ObjectType, depth + 1);
  }
}

void TMemDataSet::InternalInitFieldDefs() {
  CreateFieldDefs();
}

namespace {

// 10^precision - 1 in 64 bits, clamped to limit.
int64_t PrecisionMax(int precision, int64_t limit) {
  int64_t max = 0;
  for (int i = 0; i < precision; ++i) {
    if (max > (limit - 9) / 10) return limit;
    max = max * 10 + 9;
  }
  return max;
}

}  // namespace

void TMemDataSet::SetNumberRange(TFieldDef& fieldDef) {
  const int precision = fieldDef.Precision();
  if (precision <= 0) return;
  TField* field = FindField(fieldDef.Name());
  if (auto* f = dynamic_cast<TIntegerField*>(field)) {
    int64_t limit = std::numeric_limits<int32_t>::max();
    if (fieldDef.DataType() == ftSmallint) limit = std::numeric_limits<int16_t>::max();
    if (fieldDef.DataType() == ftWord) limit = std::numeric_limits<uint16_t>::max();
    const int64_t max = PrecisionMax(precision, limit);
    f->MaxValue = static_cast<int32_t>(max);
    f->MinValue = fieldDef.DataType() == ftWord ? 0 : static_cast<int32_t>(-std::min<int64_t>(max, limit));
  } else if (auto* l = dynamic_cast<TLargeintField*>(field)) {
    l->MaxValue = PrecisionMax(precision, std::numeric_limits<int64_t>::max());
    l->MinValue = -l->MaxValue;
  } else if (auto* d = dynamic_cast<TFloatField*>(field)) {
    if (precision > 15) return;
    d->Precision = precision;
    d->MaxValue = static_cast<double>(PrecisionMax(precision, std::numeric_limits<int64_t>::max()));
    d->MinValue = -d->MaxValue;
  }
}

TFieldDesc* TMemDataSet::FindFieldDesc(const TField* field) const {
  DA_ASSERT_MSG(field != nullptr, "Field cannot be nil");
  DA_ASSERT_MSG(field->DataSet() == this, "Wrong DataSet");
  const TFieldDescs& descs = FIRecordSet->Fields();
  if (field->FieldKind() != fkData) {
    for (const auto& desc : descs)
      if (desc->FieldDescKind == fdkCalculated && (SameFieldName(desc->Name, field->FieldName()) ||
                                                   SameFieldName(desc->ActualName, field->FieldName())))
        return desc.get();
    return nullptr;
  }
  if (field->FieldNo() > 0 && field->FieldNo() <= descs.Count()) return descs[field->FieldNo() - 1];
  if (DefaultFields() && FieldCount() == descs.Count()) return descs[field->Index()];
  for (const auto& desc : descs)
    if (SameFieldName(desc->Name, field->FieldName())) return desc.get();
  return nullptr;
}

// ---- Opening and closing ---------------------------------------------------------------------

void TMemDataSet::InternalOpen() {
  // An error closes the cursor again (InternalClose).
  FIRecordSet->Open();
  // A cursor opened again on the same columns keeps its definitions instead of making them anew.
  if (FieldDefsMatchDescs()) {
    FieldDefs().Updated = true;
  } else {
    FieldDefs().Updated = false;
    InitFieldDefs();
  }
  CreateFields();
  if (!DefaultFields()) AdjustPersistentFields();
  if (NumberRange)
    for (int i = 0; i < FieldDefs().Count(); ++i) SetNumberRange(*FieldDefs().Items(i));
  BindFields(true);
  ComputeLayout();
  ChooseDirectReaders();
  FOldBuffer = AllocRecordBuffer();
  FFilterBuffer = AllocRecordBuffer();
  FCalcBuffer = AllocRecordBuffer();
  if (Filtered()) {
    InstallFilter(true);
    FIRecordSet->FilterUpdated();
  }
}

void TMemDataSet::AdjustPersistentFields() {
  for (TField* field : Fields()) {
    if (field->FieldKind() != fkData || field->DataType() != ftString) continue;
    int i = FieldDefs().IndexOf(field->FieldName());
    if (i >= 0 && FieldDefs().Items(i)->DataType() == ftString) field->SetSize(FieldDefs().Items(i)->Size());
  }
}

void TMemDataSet::ComputeLayout() {
  FCalcOfs = FIRecordSet->RecordSize() + FIRecordSet->CalcRecordSize();
  FInfoOfs = (FCalcOfs + CalcFieldsSize() + 7) / 8 * 8;
  FBookmarkOfs = FInfoOfs + InfoSize;
  FRecBufSize = FBookmarkOfs + static_cast<int32_t>(sizeof(TRecBookmark));
}

void TMemDataSet::InternalClose() {
  DropDirectReaders();
  FreeRecordBuffer(FOldBuffer);
  FreeRecordBuffer(FFilterBuffer);
  FreeRecordBuffer(FCalcBuffer);
  FIRecordSet->FilterFunc = nullptr;
  try {
    FIRecordSet->Close();
  } catch (...) {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    FieldDefs().Updated = false;
    throw;
  }
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FieldDefs().Updated = false;
}

namespace {

// The platform's smallint form of a 1- or 2-byte integer, as GetFieldData gives it.
bool ReadDirectSmallint(const TField& field, const uint8_t* rec, void* buffer) {
  const TFieldDirectReader& r = field.DirectReader();
  if (rec[r.NullOffset] != 0) return false;
  if (!buffer) return true;
  const int16_t value =
      r.Size == 1 ? static_cast<int8_t>(Marshal::ReadByte(rec, r.Offset)) : Marshal::ReadInt16(rec, r.Offset);
  std::memcpy(buffer, &value, sizeof value);
  return true;
}

}  // namespace

void TMemDataSet::ChooseDirectReaders() {
  TData& rs = *FIRecordSet;
  const TFieldDescs& descs = rs.Fields();
  for (TField* field : Fields()) {
    TFieldDirectReader reader;
    const int fieldNo = field->FieldNo();
    const TFieldDesc* desc = field->FieldKind() == fkData && fieldNo > 0 && fieldNo <= descs.Count()
                                 ? descs[fieldNo - 1]
                                 : nullptr;
    bool chosen = false;
    if (desc != nullptr && desc->FieldNo == fieldNo && desc->DataType == dtInt8 &&
        desc->FieldDescKind == fdkData && !desc->HasParent()) {
      reader.Data = &ReadDirectSmallint;
      reader.Store = &rs;
      reader.Layout = &rs.LayoutStamp();
      reader.Stamp = rs.LayoutStamp();
      reader.Offset = static_cast<int32_t>(desc->Offset);
      reader.NullOffset = rs.DataSize() + fieldNo - 1;
      reader.Size = static_cast<int32_t>(desc->Size);
      reader.FieldNo = fieldNo;
      chosen = true;
    } else if (desc != nullptr && desc->FieldNo == fieldNo && rs.DirectReaderOf(fieldNo, reader)) {
      // A value wider than the field's buffer stays with the usual path, which refuses it.
      chosen =
          reader.Text != nullptr ||
          static_cast<int>(desc->DataType == dtDateTime ? sizeof(double) : desc->Size) <= field->DataSize();
    }
    field->SetDirectReader(chosen ? reader : TFieldDirectReader{});
    FDirectReaders = FDirectReaders || chosen;
  }
  SyncDirectReads();
}

void TMemDataSet::DropDirectReaders() {
  FDirectReaders = false;
  SyncDirectReads();
  for (TField* field : Fields()) field->SetDirectReader(TFieldDirectReader{});
}

// ---- Buffers --------------------------------------------------------------------------------

TRecordBuffer TMemDataSet::AllocRecordBuffer() {
  DA_ASSERT(FRecBufSize > 0);
  FLiveBuffers.reserve(FLiveBuffers.size() + 1);
  auto* buffer = new uint8_t[static_cast<size_t>(FRecBufSize)]();  // freed by FreeRecordBuffer
  FLiveBuffers.push_back(buffer);
  return buffer;
}

void TMemDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  if (!buffer) return;
  ReleaseBufferRefs(buffer);
  std::erase(FLiveBuffers, buffer);
  delete[] buffer;
  buffer = nullptr;
}

void TMemDataSet::ReleaseAllBufferRefs() {
  for (TRecordBuffer buffer : FLiveBuffers) ReleaseBufferRefs(buffer);
}

int32_t& TMemDataSet::RecNoOf(TRecordBuffer buffer) const noexcept {
  return *reinterpret_cast<int32_t*>(buffer + FInfoOfs);
}

uint8_t& TMemDataSet::InfoByte(TRecordBuffer buffer, int index) const noexcept {
  return buffer[FInfoOfs + 4 + index];
}

TItemStatus TMemDataSet::RecordStatus(TRecordBuffer buffer) const noexcept {
  return static_cast<TItemStatus>(InfoByte(buffer, InfoStatus));
}

void TMemDataSet::ReleaseBufferRefs(TRecordBuffer buffer) {
  if (!buffer || !InfoByte(buffer, InfoComplexRefs)) return;
  InfoByte(buffer, InfoComplexRefs) = 0;
  FIRecordSet->FreeComplexFields(buffer, true);
}

// The blob references a buffer being edited holds besides those the record set now owns.
void TMemDataSet::ReleaseBlobRefs(TRecordBuffer buffer) {
  InfoByte(buffer, InfoComplexRefs) = 0;
  const TFieldDescs& descs = FIRecordSet->Fields();
  for (const auto& desc : descs) {
    if (desc->FieldDescKind != fdkData || desc->HasParent() || !FIRecordSet->IsBlobFieldType(desc->DataType))
      continue;
    if (void* ref = Marshal::ReadIntPtr(buffer, desc->Offset)) TSharedObject::FromHandle(ref)->Release();
  }
}

void TMemDataSet::InternalInitRecord(TRecordBuffer buffer) {
  ReleaseBufferRefs(buffer);
  std::memset(buffer, 0, static_cast<size_t>(FRecBufSize));
  FIRecordSet->InitRecord(buffer);
  RecNoOf(buffer) = -1;
  InfoByte(buffer, InfoStatus) = isInserted;
  if (FIRecordSet->HasComplexFields()) {
    FIRecordSet->CreateComplexFields(buffer, true);
    InfoByte(buffer, InfoComplexRefs) = 1;
  }
}

void TMemDataSet::ClearCalcFields(TRecordBuffer buffer) {
  if (CalcFieldsSize() > 0) std::memset(buffer + FCalcOfs, 0, static_cast<size_t>(CalcFieldsSize()));
  if (FIRecordSet->CalcRecordSize() == 0) return;
  std::memset(buffer + FIRecordSet->RecordSize(), 0, static_cast<size_t>(FIRecordSet->CalcRecordSize()));
  for (const auto& desc : FIRecordSet->Fields())
    if (desc->FieldDescKind == fdkCalculated) FIRecordSet->SetNull(desc->FieldNo, buffer, true);
}

// ---- Records and positioning ----------------------------------------------------------------

TGetResult TMemDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool) {
  ReleaseBufferRefs(buffer);
  TData& rs = *FIRecordSet;
  switch (mode) {
    case gmCurrent:
      if (rs.GetBof()) return grBOF;
      if (rs.GetEof()) return grEOF;
      rs.GetRecord(buffer);
      break;
    case gmNext:
      rs.GetNextRecord(buffer);
      break;
    case gmPrior:
      rs.GetPriorRecord(buffer);
      break;
  }
  if (rs.GetBof()) return grBOF;
  if (rs.GetEof()) return grEOF;
  FillRecordInfo(buffer);
  ClearCalcFields(buffer);
  GetCalcFields(buffer);
  return grOK;
}

void TMemDataSet::FillRecordInfo(TRecordBuffer buffer) {
  RecNoOf(buffer) = FIRecordSet->GetRecordNo();
  InfoByte(buffer, InfoStatus) = FIRecordSet->GetUpdateStatus();
  InfoByte(buffer, InfoBookmarkFlag) = bfCurrent;
  if (FIRecordSet->HasComplexFields()) {
    FIRecordSet->AddRefComplexFields(buffer);
    InfoByte(buffer, InfoComplexRefs) = 1;
  }
  TRecBookmark bookmark;
  FIRecordSet->GetBookmark(bookmark);
  std::memcpy(buffer + FBookmarkOfs, &bookmark, sizeof bookmark);
}

int TMemDataSet::GetRecNo() {
  TRecordBuffer buffer = ActiveBuffer();
  if (!buffer || !HasRecord() || GetBookmarkFlag(buffer) != bfCurrent) return -1;
  return RecNoOf(buffer);
}

bool TMemDataSet::InternalSetRecNo(int value) {
  if (value < 1) return false;
  FIRecordSet->SetRecordNo(value);
  return FIRecordSet->GetRecordNo() == value;
}

// ---- Bookmarks ------------------------------------------------------------------------------

TBookmarkFlag TMemDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(InfoByte(buffer, InfoBookmarkFlag));
}

void TMemDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) {
  InfoByte(buffer, InfoBookmarkFlag) = value;
}

void TMemDataSet::GetBookmarkData(TRecordBuffer buffer, TBookmark& data) {
  data.assign(buffer + FBookmarkOfs, buffer + FBookmarkOfs + sizeof(TRecBookmark));
}

void TMemDataSet::SetBookmarkData(TRecordBuffer buffer, const TBookmark& data) {
  DA_ASSERT(data.size() == sizeof(TRecBookmark));
  std::memcpy(buffer + FBookmarkOfs, data.data(), sizeof(TRecBookmark));
}

namespace {

bool ToRecBookmark(const TBookmark& data, TRecBookmark& bookmark) {
  if (data.size() != sizeof(TRecBookmark)) return false;
  std::memcpy(&bookmark, data.data(), sizeof bookmark);
  return true;
}

}  // namespace

// Every move starts here: the bookmark is read in place, without a copy on the heap.
void TMemDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  TRecBookmark bookmark;
  std::memcpy(&bookmark, buffer + FBookmarkOfs, sizeof bookmark);
  FIRecordSet->SetToBookmark(&bookmark);
}

void TMemDataSet::InternalGotoBookmark(const TBookmark& data) {
  TRecBookmark bookmark;
  if (ToRecBookmark(data, bookmark)) FIRecordSet->SetToBookmark(&bookmark);
}

bool TMemDataSet::BookmarkValid(const TBookmark& data) {
  TRecBookmark bookmark;
  return Active() && ToRecBookmark(data, bookmark) && FIRecordSet->BookmarkValid(&bookmark);
}

int TMemDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  TRecBookmark ba, bb;
  const bool hasA = ToRecBookmark(a, ba), hasB = ToRecBookmark(b, bb);
  return FIRecordSet->CompareBookmarks(hasA ? &ba : nullptr, hasB ? &bb : nullptr);
}

// ---- Field data -----------------------------------------------------------------------------

TRecordBuffer TMemDataSet::GetActiveRecBuf() {
  if (FReadBuffer) return FReadBuffer;
  switch (State()) {
    case dsOldValue:
      if (FApplying) return FApplyOldBuffer;
      if (!HasRecord() || !FOldBuffer || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return nullptr;
      UpdateCursorPos();
      if (FIRecordSet->GetBof() || FIRecordSet->GetEof()) return nullptr;
      FIRecordSet->GetOldRecord(FOldBuffer);
      return FOldBuffer;
    case dsBrowse:
    case dsNewValue:
      if (FApplying) return FApplyNewBuffer;
      break;
    default:
      break;
  }
  return TDataSet::GetActiveRecBuf();
}

bool TMemDataSet::GetFieldData(TField* field, void* buffer) {
  TRecordBuffer rec = FieldRecBuf();
  if (!rec) return false;
  const TFieldDesc* desc = GetFieldDesc(field);
  if (!desc) return field->FieldKind() != fkData && GetCalcFieldData(rec + FCalcOfs, field, buffer);
  TData& rs = *FIRecordSet;
  const TFieldDesc& stored = rs.FieldOf(desc->FieldNo);
  if (rs.GetNull(stored, desc->FieldNo, rec)) return false;
  if (!buffer) return true;
  switch (desc->DataType) {
    case dtInt8: {
      // The platform's smallint form of a 1- or 2-byte integer.
      const int16_t value = desc->Size == 1 ? static_cast<int8_t>(Marshal::ReadByte(rec, desc->Offset))
                                            : Marshal::ReadInt16(rec, desc->Offset);
      std::memcpy(buffer, &value, sizeof value);
      return true;
    }
    case dtInt16:
    case dtInt32:
    case dtInt64:
    case dtFloat:
    case dtDateTime:
      break;  // the usual values, never blobs: read without asking
    default:
      if (rs.IsBlobFieldType(desc->DataType)) return true;
      break;
  }
  // Not null, as asked above: the value is read without asking again.
  rs.ReadFieldData(stored, rec, buffer, static_cast<size_t>(field->DataSize()));
  return true;
}

void TMemDataSet::SetFieldData(TField* field, const void* buffer) {
  TRecordBuffer rec = GetActiveRecBuf();
  DA_ASSERT(rec != nullptr);
  const TFieldDesc* desc = GetFieldDesc(field);
  if (!desc && field->FieldKind() != fkData) return SetCalcFieldData(rec + FCalcOfs, field, buffer);
  if (!desc) throw EDatabaseError(MessageFmt(SFieldNotFound, {field->FieldName()}));
  // A date the server holds and the client cannot read is never replaced.
  if (FIRecordSet->GetNullMark(desc->FieldNo, rec) == NullMarkPartialDate && !desc->HasParent())
    throw EDatabaseError(MessageFmt(SPartialDateNotWritable, {field->FieldName()}));
  if (!buffer) return FIRecordSet->SetNull(desc->FieldNo, rec, true);
  if (desc->DataType == dtInt8) {
    int16_t value;
    std::memcpy(&value, buffer, sizeof value);
    if (desc->Size == 1 && (value < -128 || value > 127)) RaiseOutOfRange(IntToStr(value), *desc);
    uint8_t bytes[2];
    std::memcpy(bytes, &value, 2);
    if (desc->Size == 1) bytes[0] = static_cast<uint8_t>(static_cast<int8_t>(value));
    FIRecordSet->PutField(desc->FieldNo, rec, bytes, desc->Size);
    return;
  }
  FIRecordSet->PutField(desc->FieldNo, rec, buffer, static_cast<size_t>(field->DataSize()));
}

bool TMemDataSet::GetFieldText(TField* field, std::string& value) {
  TRecordBuffer rec = FieldRecBuf();
  const TFieldDesc* desc = rec ? GetFieldDesc(field) : nullptr;
  if (!desc || !TData::IsAnsiTextType(desc->DataType)) return TDataSet::GetFieldText(field, value);
  return FIRecordSet->GetFieldText(desc->FieldNo, rec, value);
}

void TMemDataSet::SetFieldText(TField* field, std::string_view value) {
  TRecordBuffer rec = GetActiveRecBuf();
  const TFieldDesc* desc = rec ? GetFieldDesc(field) : nullptr;
  if (!desc || !TData::IsAnsiTextType(desc->DataType)) return TDataSet::SetFieldText(field, value);
  FIRecordSet->PutFieldText(desc->FieldNo, rec, value);
}

std::unique_ptr<TStream> TMemDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  auto* blobField = dynamic_cast<TBlobField*>(field);
  const TFieldDesc* desc = field ? GetFieldDesc(field) : nullptr;
  if (!blobField || !desc || !FIRecordSet->IsBlobFieldType(desc->DataType))
    throw EDatabaseError(MessageText(SFieldNotBlob));
  return std::make_unique<TBlobStream>(blobField, mode);
}

// ---- Editing --------------------------------------------------------------------------------

void TMemDataSet::InternalEdit() {
  TRecordBuffer buffer = ActiveBuffer();
  if (!FIRecordSet->HasComplexFields()) return;
  ReleaseBufferRefs(buffer);
  FIRecordSet->EditRecord(buffer);
  // The buffer keeps a reference to the blobs it shares with the record.
  for (const auto& desc : FIRecordSet->Fields()) {
    if (desc->FieldDescKind != fdkData || desc->HasParent() || !FIRecordSet->IsBlobFieldType(desc->DataType))
      continue;
    if (void* ref = Marshal::ReadIntPtr(buffer, desc->Offset)) TSharedObject::FromHandle(ref)->AddRef();
  }
  InfoByte(buffer, InfoComplexRefs) = 1;
}

void TMemDataSet::InternalPost() {
  TRecordBuffer buffer = ActiveBuffer();
  for (TField* field : Fields()) {
    auto* blobField = dynamic_cast<TBlobField*>(field);
    const TFieldDesc* desc = blobField ? GetFieldDesc(field) : nullptr;
    if (!desc || !FIRecordSet->IsBlobFieldType(desc->DataType)) continue;
    if (TBlob* blob = FIRecordSet->GetBlob(desc->FieldNo, buffer); blob && blob->Modified())
      blobField->Modified = true;
  }
  if (State() == dsEdit) {
    FIRecordSet->PostRecord(buffer);
    if (InfoByte(buffer, InfoComplexRefs)) ReleaseBlobRefs(buffer);
    return;
  }
  if (GetBookmarkFlag(buffer) == bfEOF)
    FIRecordSet->AppendRecord(buffer);
  else
    FIRecordSet->InsertRecord(buffer);
  // The record set owns what the buffer created now.
  InfoByte(buffer, InfoComplexRefs) = 0;
}

void TMemDataSet::InternalCancel() {
  TRecordBuffer buffer = ActiveBuffer();
  if (!buffer || !InfoByte(buffer, InfoComplexRefs)) return;
  if (State() == dsEdit) {
    FIRecordSet->CancelComplexFields(buffer);
    ReleaseBlobRefs(buffer);
  } else {
    ReleaseBufferRefs(buffer);
  }
}

void TMemDataSet::InternalDelete() {
  FIRecordSet->DeleteRecord();
}

// ---- Cached updates -------------------------------------------------------------------------

void TMemDataSet::CheckCachedUpdates() const {
  if (!FCachedUpdates) throw EDatabaseError(MessageText(SNotCachedUpdates));
}

void TMemDataSet::ResyncHere() {
  UpdateCursorPos();
  Resync();
}

void TMemDataSet::RunCachedUpdates(void (TData::*step)()) {
  CheckActive();
  CheckBrowseMode();
  CheckCachedUpdates();
  UpdateCursorPos();
  try {
    TApplyScope scope(*this);
    (FIRecordSet.get()->*step)();
  } catch (const EAbort&) {
    // An update-record event answered uaAbort: the work ends without a message.
  }
  ResyncHere();
}

void TMemDataSet::ApplyUpdates() {
  RunCachedUpdates(&TData::ApplyUpdates);
}

void TMemDataSet::CommitUpdates() {
  RunCachedUpdates(&TData::CommitUpdates);
}

void TMemDataSet::CommitAppliedUpdates() {
  RunCachedUpdates(&TData::CommitAppliedUpdates);
}

void TMemDataSet::CancelUpdates() {
  CheckActive();
  Cancel();
  CheckCachedUpdates();
  FIRecordSet->CancelUpdates();
  ResyncHere();
}

void TMemDataSet::RestoreUpdates() {
  CheckActive();
  CheckCachedUpdates();
  FIRecordSet->RestoreUpdates();
  ResyncHere();
}

void TMemDataSet::RevertRecord() {
  CheckActive();
  Cancel();
  CheckCachedUpdates();
  UpdateCursorPos();
  FIRecordSet->RevertRecord();
  Resync();
}

TItemStatus TMemDataSet::UpdateStatus() {
  if (!FCachedUpdates || !Active() || IsEmpty()) return isUnmodified;
  TRecordBuffer buffer = GetActiveRecBuf();
  return buffer ? RecordStatus(buffer) : isUnmodified;
}

void TMemDataSet::ApplyRecord(TUpdateKind kind, TUpdateAction& action, bool lastItem) {
  action = uaFail;
  if (OnUpdateRecord) {
    OnUpdateRecord(this, kind, action);
    if (action == uaAbort) throw EAbort("");
    if (action != UpdateActionDefault) return;
  }
  try {
    DefaultApplyRecord(kind, action, lastItem);
  } catch (EDatabaseError& e) {
    if (!OnUpdateError) throw;
    action = uaFail;
    OnUpdateError(this, e, kind, action);
    if (action == uaFail) throw;
    if (action == uaAbort) throw EAbort(e.Message());
  }
}

void TMemDataSet::DefaultApplyRecord(TUpdateKind kind, TUpdateAction& action, bool lastItem) {
  switch (kind) {
    case ukModify:
      PerformUpdate();
      break;
    case ukInsert:
      PerformAppend();
      break;
    case ukDelete:
      PerformDelete();
      break;
  }
  if (UsesBatchUpdate() && !IsBatchFull() && !lastItem) {
    action = static_cast<TUpdateAction>(UpdateResultDeferred);
    return;
  }
  if (UsesBatchUpdate()) FlushBatch();
  action = uaApplied;
}

void TMemDataSet::FlushBatch() {
  RaiseAssertion(__FILE__, __LINE__, "FlushBatch", "Should be overridden");
}

void TMemDataSet::DoAfterScroll() {
  // A blob written on the record left is no longer being edited.
  if (Fields().MayHoldBlobs())
    for (TField* field : Fields())
      if (IsBlobFieldType(field->DataType()))
        if (auto* blob = dynamic_cast<TBlobField*>(field)) blob->Modified = false;
  TDataSet::DoAfterScroll();
}

// ---- Master and detail ----------------------------------------------------------------------

void TMemDataSet::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deParentScroll && Active() && State() == dsBrowse) {
    TDataSource* source = GetDataSource();
    TDataSet* master = source ? source->DataSet() : nullptr;
    TBookmark bookmark = master ? master->GetBookmark() : TBookmark();
    // Whole bookmarks: two different records never pass for the same one.
    if (bookmark == FParentBookmark) {
      ResyncHere();
    } else {
      FParentBookmark = std::move(bookmark);
      First();
    }
  }
  TDataSet::DataEvent(event, info);
}

// ---- TMemDSUtils ----------------------------------------------------------------------------

TBlob* TMemDSUtils::GetBlob(TMemDataSet& dataSet, TField* field) {
  const TFieldDesc* desc = field ? dataSet.GetFieldDesc(field) : nullptr;
  if (!desc || !dataSet.IRecordSet().IsBlobFieldType(desc->DataType))
    throw EDatabaseError(MessageText(SFieldNotBlob));
  TRecordBuffer buffer = dataSet.CurrentRecBuf();
  if (!buffer) return nullptr;
  return dataSet.IRecordSet().GetBlob(desc->FieldNo, buffer);
}
