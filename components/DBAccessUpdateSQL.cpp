#include "components/DBAccessUpdateSQL.h"

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

TCustomDAUpdateSQL::TCustomDAUpdateSQL(TComponent* owner) : TComponent(owner) {
  for (TStringList* list : {&FInsertSQL, &FModifySQL, &FDeleteSQL, &FRefreshSQL})
    list->SetKeepLineBreaks(true);
}

TCustomDAUpdateSQL::~TCustomDAUpdateSQL() {
  for (TComponent*& object : FObjects) object = nullptr;
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

void TCustomDAUpdateSQL::SetDataSet(TComponent* value) {
  if (value == FDataSet) return;
  if (FDataSet != nullptr) RemoveFreeNotification(FDataSet);
  FDataSet = value;
  if (value != nullptr) FreeNotification(value);
}

bool TCustomDAUpdateSQL::IsDataSetObject(TComponent* object) const {
  return dynamic_cast<TDataSet*>(object) != nullptr;
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
