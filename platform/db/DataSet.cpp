#include "platform/db/DataSet.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/db/DBConsts.h"
#include "platform/db/DataSource.h"
#include "platform/db/FieldClasses.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/LocaleCompare.h"

namespace {

// Runs cleanup when the scope ends, also through an exception.
template <typename F>
class Finally {
 public:
  explicit Finally(F f) : FFunc(std::move(f)) {}
  ~Finally() { FFunc(); }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

 private:
  F FFunc;
};

bool IsEditState(TDataSetState s) {
  return s == dsEdit || s == dsInsert;
}

}  // namespace

TDataSet::TDataSet(TComponent* owner)
    : TComponent(owner),
      FFields(std::make_unique<TFields>(this)),
      FFieldDefs(std::make_unique<TFieldDefs>(this)) {}

TDataSet::~TDataSet() {
  Destroying();
  // Derived datasets close themselves in their own destructor, while their hooks still exist
  // (a buffer still held here cannot reach its hook any more).
  FActiveBuffer = FSpareBuffer = nullptr;
  FState = dsInactive;
  while (!FDataSources.empty()) {
    TDataSource* source = FDataSources.back();
    FDataSources.pop_back();
    RemoveFreeNotification(source);
    source->FDataSet = nullptr;
    source->UpdateState();
  }
  for (TPeekBuffer* peek : FPeekBuffers) peek->FDataSet = nullptr;
  // Fields this dataset created go with it; others only forget it.
  while (FFields->Count() > 0) {
    TField* field = FFields->Fields(FFields->Count() - 1);
    FFields->Remove(field);
    if (field->Owner() == this) delete field;
  }
}

// ---- Fields ---------------------------------------------------------------------------------

std::vector<TField*> TDataSet::GetFieldList(std::string_view fieldNames) const {
  std::vector<TField*> list;
  size_t pos = 0;
  while (pos <= fieldNames.size()) {
    size_t end = fieldNames.find(';', pos);
    std::string_view name =
        fieldNames.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (!name.empty()) list.push_back(FieldByName(name));
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return list;
}

void TDataSet::GetFieldNames(TStringList& list) const {
  list.BeginUpdate();
  list.Clear();
  for (TField* f : *FFields) list.Add(f->FieldName());
  list.EndUpdate();
}

void TDataSet::InitFieldDefs() {
  if (FFieldDefs->Updated) return;
  FFieldDefs->BeginUpdate();
  try {
    FFieldDefs->Clear();
    InternalInitFieldDefs();
  } catch (...) {
    FFieldDefs->EndUpdate();
    throw;
  }
  FFieldDefs->EndUpdate();  // reports the change, which marks the definitions out of date
  FFieldDefs->Updated = true;
}

void TDataSet::CreateFields() {
  FFieldsFromDefs = false;
  if (!FDefaultFields) return;
  bool every = FFields->Count() == 0;
  for (int i = 0; i < FFieldDefs->Count(); ++i) {
    TFieldDef* def = FFieldDefs->Items(i);
    if (def->DataType() != ftUnknown && !FindField(def->Name()))
      def->MakeField(this, true);
    else
      every = false;
  }
  // Each definition's name was searched among the fields of those before it and not found: the
  // names are distinct, and BindFields may take each field's definition by position.
  FFieldsFromDefs = every && FFields->Count() == FFieldDefs->Count();
}

void TDataSet::BindFields(bool binding) {
  FCalcFieldsSize = 0;
  FHasLookupFields = false;
  // Only right after CreateFields: the definitions may change later.
  const bool byPosition = binding && FFieldsFromDefs && FFields->Count() == FFieldDefs->Count();
  FFieldsFromDefs = false;
  int position = -1;
  for (TField* field : *FFields) {
    ++position;
    if (!binding) {
      if (field->FieldKind() != fkData) field->SetOffset(0);
      continue;
    }
    if (field->FieldKind() == fkData) {
      int i = -1;
      if (byPosition) {
        const TFieldDef* def = FFieldDefs->Items(position);
        if (field->FieldName() == def->Name() ||
            TFieldNameProbe(field->FieldName()).Matches(def->Name(), def->NameAscii()))
          i = position;
      }
      if (i < 0) i = FFieldDefs->IndexOf(field->FieldName());
      if (i < 0) throw EDatabaseError(Format(SFieldNotFound, {field->DisplayLabel()}));
      TFieldDef* def = FFieldDefs->Items(i);
      if (def->DataType() != field->DataType() && field->DataType() < FirstExtendedFieldType &&
          !(def->DataType() == ftFixedChar && field->DataType() == ftString))
        throw EDatabaseError(Format(
            SFieldTypeMismatch,
            {field->DisplayLabel(), FieldTypeName(field->DataType()), FieldTypeName(def->DataType())}));
      field->SetFieldNo(def->FieldNo());
    } else {
      field->SetFieldNo(0);
      field->SetOffset(FCalcFieldsSize);
      FCalcFieldsSize += field->DataSize() + 1;
      if (field->FieldKind() == fkLookup) FHasLookupFields = true;
    }
  }
  if (binding) FFields->NoteBlobs();
}

void TDataSet::DestroyFields() {
  while (FFields->Count() > 0) {
    TField* field = FFields->Fields(FFields->Count() - 1);
    FFields->Remove(field);
    if (field->Owner() == this) delete field;  // created by CreateFields, owned here
  }
}

// ---- State ----------------------------------------------------------------------------------

void TDataSet::CheckInactive() const {
  if (Active()) throw EDatabaseError(SDataSetOpen);
}

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError(SDataSetClosed);
}

void TDataSet::CheckCanModify() const {
  if (!CanModify()) throw EDatabaseError(SDataSetReadOnly);
}

void TDataSet::SetState(TDataSetState value) {
  if (value == FState) return;
  FState = value;
  FModified = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  TDataSetState old = FState;
  FState = value;
  return old;
}

void TDataSet::RestoreState(TDataSetState value) {
  FState = value;
}

void TDataSet::AbstractError(const char* operation) const {
  throw EDatabaseError(Format(SAbstractOperation, {operation, ClassName()}));
}

void TDataSet::SetStateBuffer(TDataSetState state, TRecordBuffer buffer) {
  FStateBuffers[state] = buffer;
}

TRecordBuffer TDataSet::GetActiveRecBuf() {
  if (FStateBuffers[FState]) return FStateBuffers[FState];
  switch (FState) {
    case dsInactive:
    case dsOpening:
      return nullptr;
    case dsCalcFields:
      return FCalcBuffer;
    case dsFilter:
    case dsOldValue:
      return nullptr;
    case dsBrowse:
    case dsBlockRead:
      return FHasRecord ? FActiveBuffer : nullptr;
    default:
      return FActiveBuffer;
  }
}

// ---- Opening and closing --------------------------------------------------------------------

void TDataSet::CheckNotPeeking() const {
  if (FPeekDepth > 0) throw EDatabaseError(SPeekBusy);
}

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  CheckNotPeeking();
  if (value)
    OpenDataSet();
  else
    CloseDataSet();
}

void TDataSet::OpenDataSet() {
  DoBeforeOpen();
  FDefaultFields = FFields->Count() == 0;
  FState = dsOpening;
  try {
    OpenCursor();
    AllocateBuffers();
    FState = dsBrowse;
    InternalFirst();
    FHasRecord = Fetch(gmNext);
    FBof = true;
    FEof = !FHasRecord;
  } catch (...) {
    FState = dsInactive;
    FreeBuffers();
    FHasRecord = false;
    try {
      CloseCursor();
    } catch (...) {
      // The open's own error is the one to report.
    }
    throw;
  }
  FState = dsInactive;
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
  DoAfterOpen();
  if (!FHasRecord) return;
  DoAfterScroll();
}

void TDataSet::CloseDataSet() {
  DoBeforeClose();
  if (IsEditState(FState)) Cancel();
  SetState(dsInactive);
  // The hooks free the buffers while the cursor still describes them.
  FreeBuffers();
  FHasRecord = false;
  FBof = FEof = true;
  CloseCursor();
  DoAfterClose();
}

void TDataSet::AllocateBuffers() {
  FActiveBuffer = AllocRecordBuffer();
  FSpareBuffer = AllocRecordBuffer();
}

void TDataSet::FreeBuffers() noexcept {
  // Buffers are freed through the dataset's hook; a hook must not raise here.
  try {
    for (TPeekBuffer* peek : FPeekBuffers)
      if (peek->FBuffer) FreeRecordBuffer(peek->FBuffer);
    if (FActiveBuffer) FreeRecordBuffer(FActiveBuffer);
    if (FSpareBuffer) FreeRecordBuffer(FSpareBuffer);
  } catch (...) {
  }
  FActiveBuffer = FSpareBuffer = nullptr;
  for (TPeekBuffer* peek : FPeekBuffers) peek->FBuffer = nullptr;
}

TRecordBuffer TDataSet::AllocRecordBuffer() {
  AbstractError("AllocRecordBuffer");
}

void TDataSet::FreeRecordBuffer(TRecordBuffer&) {
  AbstractError("FreeRecordBuffer");
}

void TDataSet::InternalOpen() {
  AbstractError("InternalOpen");
}

void TDataSet::InternalClose() {
  AbstractError("InternalClose");
}

TGetResult TDataSet::GetRecord(TRecordBuffer, TGetMode, bool) {
  AbstractError("GetRecord");
}

void TDataSet::InternalPost() {
  AbstractError("InternalPost");
}

void TDataSet::InternalDelete() {
  AbstractError("InternalDelete");
}

void TDataSet::InternalGotoBookmark(const TBookmark&) {
  AbstractError("InternalGotoBookmark");
}

void TDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  TBookmark bookmark;
  GetBookmarkData(buffer, bookmark);
  InternalGotoBookmark(bookmark);
}

bool TDataSet::InternalSetRecNo(int value) {
  InternalFirst();
  for (int i = 0; i < value; ++i)
    if (GetRecord(FSpareBuffer, gmNext, false) != grOK) return false;
  return value > 0;
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  DoBeforeRefresh();
  UpdateCursorPos();
  InternalRefresh();
  Resync();
  DoAfterRefresh();
}

// ---- Navigation -----------------------------------------------------------------------------

bool TDataSet::Fetch(TGetMode mode) {
  if (GetRecord(FSpareBuffer, mode, true) != grOK) return false;
  std::swap(FActiveBuffer, FSpareBuffer);
  return true;
}

void TDataSet::UpdateCursorPos() {
  if (FState == dsInsert) {
    if (!FInsertBookmark.empty() && BookmarkValid(FInsertBookmark))
      InternalGotoBookmark(FInsertBookmark);
    else
      InternalLast();
  } else if (FHasRecord) {
    InternalSetToRecord(FActiveBuffer);
  }
}

void TDataSet::Resync() {
  FHasRecord = Fetch(gmCurrent) || Fetch(gmNext) || Fetch(gmPrior);
  FBof = FEof = !FHasRecord;
  DataEvent(deDataSetChange, 0);
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalFirst();
  FHasRecord = Fetch(gmNext);
  FBof = true;
  FEof = !FHasRecord;
  FreeFieldBuffers();
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalLast();
  FHasRecord = Fetch(gmPrior);
  FEof = true;
  FBof = !FHasRecord;
  FreeFieldBuffers();
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if (distance == 0 || !FHasRecord || (distance > 0 && FEof) || (distance < 0 && FBof)) return 0;
  DoBeforeScroll();
  UpdateCursorPos();
  FBof = FEof = false;
  int moved = 0;
  for (; distance > 0; --distance, ++moved)
    if (!Fetch(gmNext)) {
      FEof = true;
      break;
    }
  for (; distance < 0; ++distance, --moved)
    if (!Fetch(gmPrior)) {
      FBof = true;
      break;
    }
  FreeFieldBuffers();
  if (moved != 0) DataEvent(deDataSetScroll, moved);
  DoAfterScroll();
  return moved;
}

void TDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == GetRecNo()) return;
  DoBeforeScroll();
  if (InternalSetRecNo(value)) {
    Resync();
  } else {
    UpdateCursorPos();
  }
  DoAfterScroll();
}

// ---- Bookmarks ------------------------------------------------------------------------------

TBookmark TDataSet::GetBookmark() {
  TBookmark bookmark;
  if (Active() && FHasRecord && GetBookmarkFlag(FActiveBuffer) == bfCurrent)
    GetBookmarkData(FActiveBuffer, bookmark);
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  if (!BookmarkValid(bookmark)) throw EDatabaseError(SBookmarkNotFound);
  DoBeforeScroll();
  InternalGotoBookmark(bookmark);
  Resync();
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark&) {
  return false;
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? 1 : -1);
  return a == b ? 0 : (a < b ? -1 : 1);
}

// ---- Searching ------------------------------------------------------------------------------

bool TDataSet::RecordMatches(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                             TLocateOptions options) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    Variant have = fields[i]->GetAsVariant();
    const Variant& want = i < values.size() ? values[i] : Variant::Null();
    bool wantNull = want.IsNull() || want.IsEmpty();
    if (have.IsNull() || wantNull) {
      if (have.IsNull() != wantNull) return false;
      continue;
    }
    if (have.IsString() || want.IsString()) {
      std::string h = have.AsString(), w = want.AsString();
      if (options & loPartialKey) h = h.substr(0, w.size());
      if ((options & loCaseInsensitive) ? LocaleCompareAnsi(h, w, true) != 0 : h != w) return false;
      continue;
    }
    try {
      if (VarCompare(have, want) != 0) return false;
    } catch (const EConvertError&) {
      return false;
    }
  }
  return true;
}

bool TDataSet::ScanFor(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                       TLocateOptions options, const std::function<void()>& onMatch) {
  UpdateCursorPos();
  InternalFirst();
  // Each candidate is read through the fields as if it were current, as a peek is.
  ++FPeekDepth;
  Finally unpeek([this] { --FPeekDepth; });
  while (GetRecord(FSpareBuffer, gmNext, true) == grOK) {
    std::swap(FActiveBuffer, FSpareBuffer);
    bool match = false;
    try {
      match = RecordMatches(fields, values, options);
      if (match && onMatch) onMatch();
    } catch (...) {
      std::swap(FActiveBuffer, FSpareBuffer);
      throw;
    }
    std::swap(FActiveBuffer, FSpareBuffer);
    if (match) return true;
  }
  return false;
}

bool TDataSet::Locate(const std::string& keyFields, const std::vector<Variant>& keyValues,
                      TLocateOptions options) {
  CheckBrowseMode();
  std::vector<TField*> fields = GetFieldList(keyFields);
  if (fields.empty()) return false;
  DoBeforeScroll();
  bool found = ScanFor(fields, keyValues, options, nullptr);
  if (found) {
    Resync();
    DoAfterScroll();
  } else {
    UpdateCursorPos();
  }
  return found;
}

std::vector<Variant> TDataSet::Lookup(const std::string& keyFields, const std::vector<Variant>& keyValues,
                                      const std::string& resultFields) {
  CheckBrowseMode();
  std::vector<TField*> keys = GetFieldList(keyFields);
  std::vector<TField*> results = GetFieldList(resultFields);
  std::vector<Variant> values(results.size(), Variant::Null());
  if (keys.empty()) return values;
  ScanFor(keys, keyValues, 0, [&] {
    for (size_t i = 0; i < results.size(); ++i) values[i] = results[i]->GetAsVariant();
  });
  UpdateCursorPos();
  return values;
}

// ---- Editing --------------------------------------------------------------------------------

void TDataSet::CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& errorEvent) {
  for (;;) {
    try {
      UpdateCursorPos();
      operation();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (errorEvent) errorEvent(this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort(e.Message());
    }
  }
}

void TDataSet::Edit() {
  if (IsEditState(FState)) return;
  CheckActive();
  if (!FHasRecord) return Insert();
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  CheckOperation([this] { InternalEdit(); }, OnEditError);
  GetCalcFields(FActiveBuffer);
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  DoAfterEdit();
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend(bool append) {
  FInsertBookmark = append ? TBookmark() : GetBookmark();
  UpdateCursorPos();
  if (append) InternalLast();
  InternalInsert();
  InternalInitRecord(FActiveBuffer);
  SetBookmarkFlag(FActiveBuffer, append ? bfEOF : bfInserted);
  FHasRecord = true;
  FBof = FEof = false;
  if (append) FEof = true;
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    Cancel();
    throw;
  }
  FModified = false;
  DataEvent(deDataSetChange, 0);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  EndInsertAppend(false);
}

void TDataSet::Append() {
  BeginInsertAppend();
  EndInsertAppend(true);
}

void TDataSet::UpdateRecord() {
  if (!IsEditState(FState) && FState != dsSetKey) throw EDatabaseError(SNotEditing);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::CheckRequiredFields() {
  for (TField* f : *FFields)
    if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData && f->IsNull()) {
      f->FocusControl();
      throw EDatabaseError(Format(SFieldRequired, {f->DisplayLabel()}));
    }
}

void TDataSet::Post() {
  CheckNotPeeking();
  UpdateRecord();
  if (!IsEditState(FState)) return;
  DataEvent(deCheckBrowseMode, 0);
  DoBeforePost();
  CheckRequiredFields();
  CheckOperation([this] { InternalPost(); }, OnPostError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync();
  DoAfterPost();
}

void TDataSet::Cancel() {
  if (!IsEditState(FState)) return;
  CheckNotPeeking();
  DataEvent(deCheckBrowseMode, 0);
  DoBeforeCancel();
  UpdateCursorPos();
  InternalCancel();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync();
  DoAfterCancel();
}

void TDataSet::Delete() {
  CheckActive();
  CheckNotPeeking();
  if (FState == dsInsert) return Cancel();
  if (!FHasRecord) throw EDatabaseError(SDataSetEmpty);
  CheckCanModify();
  DataEvent(deCheckBrowseMode, 0);
  DoBeforeDelete();
  DoBeforeScroll();
  CheckOperation([this] { InternalDelete(); }, OnDeleteError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync();
  DoAfterDelete();
  DoAfterScroll();
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  CheckNotPeeking();
  DataEvent(deCheckBrowseMode, 0);
  if (IsEditState(FState)) {
    UpdateRecord();
    if (FModified)
      Post();
    else
      Cancel();
  } else if (FState == dsSetKey) {
    SetState(dsBrowse);
  }
}

void TDataSet::ClearFields() {
  if (!IsEditState(FState)) throw EDatabaseError(SNotEditing);
  for (TField* f : *FFields)
    if (f->FieldKind() == fkData && !f->ReadOnly()) f->Clear();
}

void TDataSet::FreeFieldBuffers() {
  // Runs at every move: the type test spares the cast for the usual non-blob field.
  if (!FFields->MayHoldBlobs()) return;
  for (TField* f : *FFields)
    if (IsBlobFieldType(f->DataType()))
      if (auto* blob = dynamic_cast<TBlobField*>(f)) blob->Modified = false;
}

// ---- Field data -----------------------------------------------------------------------------

bool TDataSet::GetFieldData(TField*, void*) {
  AbstractError("GetFieldData");
}

void TDataSet::SetFieldData(TField*, const void*) {
  AbstractError("SetFieldData");
}

bool TDataSet::GetFieldText(TField* field, std::string& value) {
  std::string buffer(static_cast<size_t>(field->DataSize()), '\0');
  if (!GetFieldData(field, buffer.data())) return false;
  value.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  return true;
}

void TDataSet::SetFieldText(TField* field, std::string_view value) {
  std::string buffer(static_cast<size_t>(field->DataSize()), '\0');
  std::memcpy(buffer.data(), value.data(), std::min(value.size(), buffer.size() - 1));
  SetFieldData(field, buffer.data());
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField* field, TBlobStreamMode) {
  throw EDatabaseError(Format(SNotBlobField, {field ? field->DisplayLabel() : std::string()}));
}

void TDataSet::CheckFieldWritable(TField* field) {
  switch (FState) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
      if (FPeekDepth > 0) throw EDatabaseError(SPeekReadOnly);
      if (field->ReadOnly() || (field->FieldKind() != fkData && field->FieldKind() != fkInternalCalc))
        throw EDatabaseError(Format(SFieldReadOnly, {field->DisplayLabel()}));
      break;
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
      break;
    default:
      throw EDatabaseError(SNotEditing);
  }
}

void TDataSet::FieldValueChanged(TField* field) {
  if (FState == dsCalcFields || FState == dsFilter || FState == dsNewValue) return;
  DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
}

Variant TDataSet::GetStateFieldValue(TDataSetState state, TField* field) {
  TDataSetState saved = SetTempState(state);
  Finally restore([this, saved] { RestoreState(saved); });
  return field->GetAsVariant();
}

void TDataSet::SetStateFieldValue(TDataSetState state, TField* field, const Variant& value) {
  TDataSetState saved = SetTempState(state);
  Finally restore([this, saved] { RestoreState(saved); });
  field->SetAsVariant(value);
}

// ---- Calculated fields ----------------------------------------------------------------------

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (FCalcFieldsSize > 0) CalculateFields(buffer);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  TRecordBuffer savedBuffer = FCalcBuffer;
  FCalcBuffer = buffer;
  TDataSetState saved = SetTempState(dsCalcFields);
  Finally restore([this, saved, savedBuffer] {
    RestoreState(saved);
    FCalcBuffer = savedBuffer;
  });
  ClearCalcFields(buffer);
  if (FHasLookupFields)
    for (TField* f : *FFields)
      if (f->FieldKind() == fkLookup) CalcLookupValue(f);
  DoOnCalcFields();
}

void TDataSet::CalcLookupValue(TField* field) {
  TDataSet* lookup = field->LookupDataSet;
  if (!lookup || field->KeyFields.empty() || field->LookupKeyFields.empty() ||
      field->LookupResultField.empty())
    throw EDatabaseError(Format(SLookupInfoError, {field->DisplayLabel()}));
  if (!lookup->Active()) return;
  std::vector<Variant> keys;
  for (TField* key : GetFieldList(field->KeyFields)) keys.push_back(key->GetAsVariant());
  std::vector<Variant> result = lookup->Lookup(field->LookupKeyFields, keys, field->LookupResultField);
  if (!result.empty()) field->SetAsVariant(result[0]);
}

bool TDataSet::GetCalcFieldData(const uint8_t* calcArea, TField* field, void* buffer) const {
  const uint8_t* at = calcArea + field->Offset();
  if (at[0] == 0) return false;
  if (buffer) std::memcpy(buffer, at + 1, static_cast<size_t>(field->DataSize()));
  return true;
}

void TDataSet::SetCalcFieldData(uint8_t* calcArea, TField* field, const void* buffer) const {
  uint8_t* at = calcArea + field->Offset();
  at[0] = buffer ? 1 : 0;
  if (buffer) std::memcpy(at + 1, buffer, static_cast<size_t>(field->DataSize()));
}

// ---- Filters --------------------------------------------------------------------------------

void TDataSet::SetFiltered(bool value) {
  if (Active()) CheckBrowseMode();
  FFiltered = value;
}

void TDataSet::SetFilterText(const std::string& value) {
  if (Active()) CheckBrowseMode();
  FFilterText = value;
}

void TDataSet::SetFilterOptions(TFilterOptions value) {
  if (Active()) CheckBrowseMode();
  FFilterOptions = value;
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent value) {
  if (Active()) CheckBrowseMode();
  FOnFilterRecord = std::move(value);
}

bool TDataSet::RecordFilterAccepts(TRecordBuffer buffer) {
  if (!FOnFilterRecord) return true;
  TRecordBuffer savedBuffer = FStateBuffers[dsFilter];
  FStateBuffers[dsFilter] = buffer;
  TDataSetState saved = SetTempState(dsFilter);
  Finally restore([this, saved, savedBuffer] {
    RestoreState(saved);
    FStateBuffers[dsFilter] = savedBuffer;
  });
  bool accept = true;
  FOnFilterRecord(this, accept);
  return accept;
}

// ---- Controls and notifications -------------------------------------------------------------

void TDataSet::DisableControls() {
  if (FDisableCount++ == 0) {
    FDisableState = FState;
    FEnableEvent = deDataSetChange;
  }
}

void TDataSet::EnableControls() {
  if (FDisableCount == 0 || --FDisableCount > 0) return;
  if (FDisableState != FState) NotifyDataSources(deUpdateState, 0);
  if (FDisableState != dsInactive && FState != dsInactive) NotifyDataSources(FEnableEvent, 0);
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  switch (event) {
    case deFieldChange: {
      auto* field = reinterpret_cast<TField*>(info);
      if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) FModified = true;
      if (AutoCalcFields && FCalcFieldsSize > 0 && FActiveBuffer && FPeekDepth == 0)
        CalculateFields(FActiveBuffer);
      field->Change();
      break;
    }
    case deConnectChange:
      if (info == 0 && Active()) Close();
      return;
    default:
      break;
  }
  NotifyDataSources(event, info);
}

void TDataSet::NotifyDataSourcesNow(TDataEvent event, intptr_t info) {
  // Requests that carry data (pending control text, browse-mode checks, focus) go through even
  // while controls are disabled: holding them back would lose what a user typed.
  bool request = event == deUpdateRecord || event == deCheckBrowseMode || event == deFocusControl;
  if (FDisableCount > 0 && !request) {
    if (event == deLayoutChange || (event == deUpdateState && FState == dsInactive))
      FEnableEvent = deLayoutChange;
    return;
  }
  if (FDataSources.empty()) return;
  std::vector<TDataSource*> sources = FDataSources;
  for (TDataSource* source : sources)
    if (std::find(FDataSources.begin(), FDataSources.end(), source) != FDataSources.end())
      source->DataEvent(event, info);
}

bool TDataSet::IsLinkedTo(TDataSource* dataSource) const {
  const TDataSet* ds = this;
  for (int depth = 0; ds && depth < 1000; ++depth) {
    TDataSource* master = ds->GetDataSource();
    if (!master) return false;
    if (master == dataSource) return true;
    ds = master->DataSet();
  }
  return false;
}

void TDataSet::AddDataSource(TDataSource* source) {
  FDataSources.push_back(source);
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  auto it = std::find(FDataSources.begin(), FDataSources.end(), source);
  if (it != FDataSources.end()) FDataSources.erase(it);
}

// ---- Peeking --------------------------------------------------------------------------------

TDataSet::TPeekBuffer::~TPeekBuffer() {
  if (!FDataSet) return;
  auto& list = FDataSet->FPeekBuffers;
  auto it = std::find(list.begin(), list.end(), this);
  if (it != list.end()) list.erase(it);
  if (FBuffer) {
    try {
      FDataSet->FreeRecordBuffer(FBuffer);
    } catch (...) {
      // Destructors never raise; the buffer is the dataset's to account for.
    }
  }
}

TDataSet::TPeekScope::TPeekScope(TPeekBuffer& buffer, int recNo) : FDataSet(buffer.FDataSet) {
  TDataSet* ds = FDataSet;
  if (!ds || !ds->Active() || recNo < 1 || ds->FPeekDepth > 0) return;
  if (ds->FHasRecord && ds->GetRecNo() == recNo && ds->FState != dsInsert) {
    FValid = true;
    return;
  }
  if (!buffer.FBuffer) {
    buffer.FBuffer = ds->AllocRecordBuffer();
    ds->FPeekBuffers.push_back(&buffer);
  }
  // The cursor moves away from the active record; the next cursor operation puts it back.
  if (!ds->InternalSetRecNo(recNo) || ds->GetRecord(buffer.FBuffer, gmCurrent, false) != grOK) return;
  FSaved = ds->FActiveBuffer;
  FPeeked = buffer.FBuffer;
  ds->FActiveBuffer = buffer.FBuffer;
  ++ds->FPeekDepth;
  FSwapped = true;
  FValid = true;
}

TDataSet::TPeekScope::~TPeekScope() {
  if (!FSwapped) return;
  // A dataset closed meanwhile has let both buffers go.
  if (FDataSet->FActiveBuffer == FPeeked) FDataSet->FActiveBuffer = FSaved;
  --FDataSet->FPeekDepth;
}
