#include "platform/db/DataSource.h"

#include <algorithm>

#include "platform/db/DBConsts.h"

// ---- TDataSource ----------------------------------------------------------------------------

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  Destroying();
  SetDataSet(nullptr);
  while (!FLinks.empty()) FLinks.back()->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* value) {
  if (value == FDataSet) return;
  if (value && value->IsLinkedTo(this)) throw EDatabaseError(SCircularDataLink);
  if (FDataSet) {
    FDataSet->RemoveDataSource(this);
    RemoveFreeNotification(FDataSet);
  }
  FDataSet = value;
  if (FDataSet) {
    FDataSet->AddDataSource(this);
    FreeNotification(FDataSet);
  }
  UpdateState();
}

void TDataSource::SetEnabled(bool value) {
  FEnabled = value;
  UpdateState();
}

void TDataSource::Edit() {
  if (AutoEdit && FState == dsBrowse) FDataSet->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* dataSet) const {
  return FDataSet && dataSet && dataSet->IsLinkedTo(const_cast<TDataSource*>(this));
}

void TDataSource::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == FDataSet) {
    FDataSet->RemoveDataSource(this);
    FDataSet = nullptr;
    UpdateState();
  }
}

void TDataSource::UpdateState() {
  TDataSetState state = FDataSet && FEnabled ? FDataSet->State() : dsInactive;
  if (state == FState) return;
  FState = state;
  NotifyLinks(deUpdateState, 0);
  if (OnStateChange && !IsDestroying()) OnStateChange(this);
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) return UpdateState();
  if (!FEnabled) return;
  NotifyLinks(event, info);
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default:
      break;
  }
}

void TDataSource::NotifyLinks(TDataEvent event, intptr_t info) {
  // A handler may attach or detach links: walk a copy, skipping those gone meanwhile.
  std::vector<TDataLink*> links = FLinks;
  for (TDataLink* link : links)
    if (std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end()) link->DataEvent(event, info);
}

void TDataSource::AddLink(TDataLink* link) {
  FLinks.push_back(link);
}

void TDataSource::RemoveLink(TDataLink* link) {
  auto it = std::find(FLinks.begin(), FLinks.end(), link);
  if (it != FLinks.end()) FLinks.erase(it);
}

// ---- TDataLink ------------------------------------------------------------------------------

TDataLink::~TDataLink() {
  if (FDataSource) FDataSource->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* value) {
  if (value == FDataSource) return;
  if (FDataSource) FDataSource->RemoveLink(this);
  FDataSource = value;
  if (FDataSource) FDataSource->AddLink(this);
  UpdateState();
}

void TDataLink::SetReadOnly(bool value) {
  if (value == FReadOnly) return;
  FReadOnly = value;
  UpdateState();
}

void TDataLink::UpdateState() {
  TDataSetState state = FDataSource ? FDataSource->State() : dsInactive;
  bool active = state != dsInactive;
  if (active != FActive) {
    FActive = active;
    ActiveChanged();
  }
  bool editing = (state == dsEdit || state == dsInsert) && !FReadOnly;
  if (editing != FEditing) {
    FEditing = editing;
    EditingChanged();
  }
}

bool TDataLink::Edit() {
  if (!FReadOnly && FDataSource) FDataSource->Edit();
  return FEditing;
}

void TDataLink::UpdateRecord() {
  FUpdating = true;
  try {
    UpdateData();
  } catch (...) {
    FUpdating = false;
    throw;
  }
  FUpdating = false;
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) return UpdateState();
  if (!FActive) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (!FUpdating) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case deDataSetChange:
      DataSetChanged();
      break;
    case deDataSetScroll:
      DataSetScrolled(static_cast<int>(info));
      break;
    case deLayoutChange:
      LayoutChanged();
      break;
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deFocusControl:
      FocusControl(reinterpret_cast<TField*>(info));
      break;
    default:
      break;
  }
}

// ---- TFieldDataLink -------------------------------------------------------------------------

void TFieldDataLink::SetFieldName(const std::string& value) {
  if (value == FFieldName) return;
  FFieldName = value;
  UpdateField();
}

bool TFieldDataLink::CanModify() const {
  return !ReadOnly() && FField && FField->CanModify();
}

bool TFieldDataLink::Edit() {
  if (CanModify()) TDataLink::Edit();
  return Editing();
}

void TFieldDataLink::Reset() {
  RecordChanged(nullptr);
}

void TFieldDataLink::UpdateField() {
  FField = Active() && !FFieldName.empty() ? DataSet()->FindField(FFieldName) : nullptr;
  RecordChanged(nullptr);
}

void TFieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange(this);
}

void TFieldDataLink::EditingChanged() {
  if (OnEditingChange) OnEditingChange(this);
}

void TFieldDataLink::FocusControl(TField* field) {
  if (field && field == FField && OnFocusControl) OnFocusControl(this);
}

void TFieldDataLink::RecordChanged(TField* field) {
  if (field && field != FField) return;
  FModified = false;
  if (OnDataChange) OnDataChange(this);
}

void TFieldDataLink::UpdateData() {
  if (!FModified) return;
  if (FField && OnUpdateData) OnUpdateData(this);
  FModified = false;
}

// ---- TMasterDataLink ------------------------------------------------------------------------

void TMasterDataLink::SetFieldNames(const std::string& value) {
  if (value == FFieldNames) return;
  FFieldNames = value;
  ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  FFields.clear();
  if (Active()) FFields = DataSet()->GetFieldList(FFieldNames);
  if (!FDetail || FDetail->IsDestroying() || !FDetail->Active()) return;
  if (Active() && !FFields.empty()) {
    if (OnMasterChange) OnMasterChange(this);
  } else if (OnMasterDisable) {
    OnMasterDisable(this);
  }
}

void TMasterDataLink::RecordChanged(TField* field) {
  if (!FDetail || !FDetail->Active() || DataSource()->State() == dsSetKey) return;
  if (field && std::find(FFields.begin(), FFields.end(), field) == FFields.end()) return;
  FDetail->DataEvent(deParentScroll, 0);
  if (!FFields.empty() && OnMasterChange) OnMasterChange(this);
}
