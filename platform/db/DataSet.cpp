#include "platform/db/DataSet.h"

#include "platform/db/DBConsts.h"
#include "platform/runtime/Format.h"

TDataSet::TDataSet(TComponent* owner)
    : TComponent(owner),
      FFields(std::make_unique<TFields>(this)),
      FFieldDefs(std::make_unique<TFieldDefs>(this)) {}

TDataSet::~TDataSet() {
  Destroying();
  // Fields this dataset created go with it; others only forget it.
  while (FFields->Count() > 0) {
    TField* field = FFields->Fields(FFields->Count() - 1);
    FFields->Remove(field);
    if (field->Owner() == this) delete field;
  }
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
  FFieldDefs->EndUpdate();
  FFieldDefs->Updated = true;
}

void TDataSet::CheckInactive() const {
  if (Active()) throw EDatabaseError(SDataSetOpen);
}

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError(SDataSetClosed);
}

bool TDataSet::GetFieldData(TField*, void*) {
  AbstractError("GetFieldData");
}

void TDataSet::SetFieldData(TField*, const void*) {
  AbstractError("SetFieldData");
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField* field, TBlobStreamMode) {
  throw EDatabaseError(Format(SNotBlobField, {field ? field->DisplayLabel() : std::string()}));
}

void TDataSet::AbstractError(const char* operation) const {
  throw EDatabaseError(Format(SAbstractOperation, {operation, ClassName()}));
}

void TDataSet::CheckFieldWritable(TField* field) {
  switch (FState) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
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
  Variant value;
  try {
    value = field->GetAsVariant();
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return value;
}

void TDataSet::SetStateFieldValue(TDataSetState state, TField* field, const Variant& value) {
  TDataSetState saved = SetTempState(state);
  try {
    field->SetAsVariant(value);
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deFieldChange) reinterpret_cast<TField*>(info)->Change();
}

void TDataSet::SetState(TDataSetState value) {
  if (value == FState) return;
  FState = value;
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
