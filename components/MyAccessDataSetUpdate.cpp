// The MySQL dataset's part of the write path: the AUTO_INCREMENT value of an insert.
#include "components/MyAccessDataSet.h"
#include "mysql/MySQLConnection.h"

void TCustomMyDataSet::PerformAppend() {
  TCustomDADataSet::PerformAppend();
  if (auto* command = dynamic_cast<TMyCommand*>(UpdateQuery(stInsert))) FInsertId = command->InsertId();
}

// The new row's AUTO_INCREMENT value goes into the identity field of the record being posted, so
// that the grid shows it and later edits find the row.
void TCustomMyDataSet::AfterInsertExecuted() {
  TField* identity = IdentityField();
  TCustomDAConnection* connection = UsedConnection();
  // Only a record being posted takes it: while cached updates are applied nothing is edited.
  if (State() != dsInsert || identity == nullptr || connection == nullptr ||
      connection->IConnection() == nullptr)
    return;
  Variant id;
  if (!connection->IConnection()->GetProp(prLastInsertId, id) || id.AsInt64() == 0) return;
  const bool readOnly = identity->ReadOnly();
  identity->SetReadOnly(false);
  try {
    identity->SetAsLargeInt(id.AsInt64());
  } catch (...) {
    identity->SetReadOnly(readOnly);
    throw;
  }
  identity->SetReadOnly(readOnly);
}
