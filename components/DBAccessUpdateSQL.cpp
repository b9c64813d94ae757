#include "components/DBAccessUpdateSQL.h"

#include "components/DBAccessDataSet.h"
#include "components/DBAccessSQL.h"
#include "core/DAConsts.h"
#include "platform/db/DataSet.h"

TStatementType UpdateKindToStatementType(TUpdateKind kind) {
  switch (kind) {
    case ukModify:
      return stUpdate;
    case ukInsert:
      return stInsert;
    case ukDelete:
      return stDelete;
  }
  RaiseAssertion(__FILE__, __LINE__, "kind", "unknown update kind");
}

std::string StatementTypeNames(TStatementTypes types) {
  static const char* const names[] = {"Query",      "Insert", "Update", "Delete",       "Lock",
                                      "Refresh",    "Check",  "Custom", "RefreshQuick", "RefreshCheckDeleted",
                                      "BatchUpdate"};
  std::string text;
  for (int t = stQuery; t <= stBatchUpdate; ++t) {
    if (!HasStatementType(types, static_cast<TStatementType>(t))) continue;
    if (!text.empty()) text += ",";
    text += names[t];
  }
  return text;
}

TCustomDAUpdateSQL::TCustomDAUpdateSQL(TComponent* owner) : TComponent(owner) {
  for (TStringList* list : {&FInsertSQL, &FModifySQL, &FDeleteSQL, &FRefreshSQL})
    list->SetKeepLineBreaks(true);
}

TCustomDAUpdateSQL::~TCustomDAUpdateSQL() {
  for (TComponent*& object : FObjects) object = nullptr;
  // The dataset goes back to its generated statements.
  if (FDataSet != nullptr && FDataSet->UpdateObject() == this) FDataSet->SetUpdateObject(nullptr);
  FDataSet = nullptr;
}

TStringList& TCustomDAUpdateSQL::GetSQL(TUpdateKind kind) {
  switch (kind) {
    case ukModify:
      return FModifySQL;
    case ukInsert:
      return FInsertSQL;
    case ukDelete:
      return FDeleteSQL;
  }
  RaiseAssertion(__FILE__, __LINE__, "kind", "unknown update kind");
}

TStringList* TCustomDAUpdateSQL::SQLOfType(TStatementType type) noexcept {
  switch (type) {
    case stInsert:
      return &FInsertSQL;
    case stUpdate:
      return &FModifySQL;
    case stDelete:
      return &FDeleteSQL;
    case stRefresh:
      return &FRefreshSQL;
    default:
      return nullptr;
  }
}

TComponent* TCustomDAUpdateSQL::ObjectOfType(TStatementType type) const noexcept {
  switch (type) {
    case stInsert:
      return FObjects[0];
    case stUpdate:
      return FObjects[1];
    case stDelete:
      return FObjects[2];
    case stRefresh:
      return FObjects[3];
    default:
      return nullptr;
  }
}

void TCustomDAUpdateSQL::SetDataSet(TCustomDADataSet* value) {
  if (value == FDataSet) return;
  if (value != nullptr && !IsDataSetObject(value))
    throw Exception(MessageFmt(SUpdateObjectClasses, {DataSetClassName(), SQLClassName()}));
  TCustomDADataSet* old = FDataSet;
  FDataSet = value;
  if (old != nullptr) {
    RemoveFreeNotification(old);
    if (old->UpdateObject() == this) old->SetUpdateObject(nullptr);
  }
  if (value != nullptr) {
    FreeNotification(value);
    if (value->UpdateObject() != this) value->SetUpdateObject(this);
  }
}

void TCustomDAUpdateSQL::Apply(TUpdateKind kind) {
  if (FDataSet == nullptr) throw EDatabaseError(MessageText(SUpdateSQLNoDataSet));
  const TStatementType type = UpdateKindToStatementType(kind);
  FDataSet->PerformSQL(GetSQL(kind).Text(), StatementTypeSet(type));
}

bool TCustomDAUpdateSQL::IsDataSetObject(TComponent* object) const {
  return dynamic_cast<TCustomDADataSet*>(object) != nullptr;
}

bool TCustomDAUpdateSQL::IsSQLObject(TComponent* object) const {
  return dynamic_cast<TCustomDASQL*>(object) != nullptr;
}

void TCustomDAUpdateSQL::SetObject(int index, TComponent* value) {
  if (value == FObjects[index]) return;
  if (value != nullptr) {
    if (!IsDataSetObject(value) && !IsSQLObject(value))
      throw Exception(MessageFmt(SUpdateObjectClasses, {DataSetClassName(), SQLClassName()}));
    if (value == FDataSet) throw Exception(MessageText(SCircularUpdateObjects));
  }
  TComponent* old = FObjects[index];
  FObjects[index] = value;
  bool stillUsed = false;
  for (TComponent* object : FObjects) stillUsed = stillUsed || (old != nullptr && object == old);
  if (old != nullptr && !stillUsed && old != FDataSet) RemoveFreeNotification(old);
  if (value != nullptr) FreeNotification(value);
}

void TCustomDAUpdateSQL::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TCustomDAUpdateSQL*>(source);
  if (other == nullptr) return TComponent::Assign(source);
  FRefreshSQL.Assign(other->FRefreshSQL);
  FModifySQL.Assign(other->FModifySQL);
  FInsertSQL.Assign(other->FInsertSQL);
  FDeleteSQL.Assign(other->FDeleteSQL);
  SetDataSet(other->FDataSet);
  for (int i = 0; i < 4; ++i) SetObject(i, other->FObjects[i]);
}

void TCustomDAUpdateSQL::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove) {
    for (TComponent*& object : FObjects)
      if (object == component) object = nullptr;
    if (component == FDataSet) FDataSet = nullptr;
  }
  TComponent::Notification(component, operation);
}
