// The MySQL dataset's part of the write path: the AUTO_INCREMENT value of an insert.
#include <cstdint>

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
  // The record being posted, or the one being applied from the cache (its buffer goes back into
  // the record store, so that a later edit finds the row by its key).
  const bool applying = ApplyingRecords();
  if ((State() != dsInsert && !applying) || identity == nullptr || connection == nullptr ||
      connection->IConnection() == nullptr)
    return;
  Variant id;
  if (!connection->IConnection()->GetProp(prLastInsertId, id) || id.AsInt64() == 0) return;
  if (applying) {
    TFieldDesc* desc = GetFieldDesc(identity);
    void* buffer = GetActiveRecBuf();
    // The record store takes a 32-bit column's value only as a 32-bit variant.
    const int64_t value = id.AsInt64();
    const bool small = value >= INT32_MIN && value <= INT32_MAX;
    if (desc != nullptr && buffer != nullptr)
      IRecordSet().PutFieldAsVariant(
          desc->FieldNo, buffer,
          small ? Variant(static_cast<int>(value)) : Variant(static_cast<long long>(value)));
    return;
  }
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
