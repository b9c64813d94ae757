#include "mysql/MySqlResultSet.h"

#include "mysql/MySqlSession.h"

// ---- TRows ----------------------------------------------------------------------------------

void TRows::Append(std::span<const uint8_t> row) {
  FData.insert(FData.end(), row.begin(), row.end());
  FEnds.push_back(FData.size());
}

std::span<const uint8_t> TRows::Row(size_t index) const {
  DA_ASSERT(index < FEnds.size());
  const size_t begin = index == 0 ? 0 : FEnds[index - 1];
  return std::span<const uint8_t>(FData).subspan(begin, FEnds[index] - begin);
}

void TRows::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FEnds.clear();
  FEnds.shrink_to_fit();
}

// ---- TMySqlResultSet ------------------------------------------------------------------------

TMySqlResultSet::TMySqlResultSet(TMySqlSession& session) : TMySqlResultSet(session, session.TakeFields()) {}

TMySqlResultSet::TMySqlResultSet(TMySqlSession& session, std::vector<TMySqlFieldInfo> fields)
    : FSession(&session), FFields(std::move(fields)), FColumnBinds(static_cast<int>(FFields.size())) {
  if (session.PendingStatus() != MYSQL_STATUS_GET_RESULT)
    RaiseMySqlClientError(CR_COMMANDS_OUT_OF_SYNC, {},
                          Format("mysql.status = %d", {int(session.PendingStatus())}));
  session.SetPendingStatus(MYSQL_STATUS_USE_RESULT);
  session.AttachResult(this);
}

TMySqlResultSet::~TMySqlResultSet() {
  try {
    Close();
  } catch (...) {
    // A failed drain has already broken or ended the session's result.
  }
  if (FSession) {
    FSession->DetachResult(this);
    FSession->RecycleFields(std::move(FFields));
  }
}

TMySqlSession& TMySqlResultSet::Session() const {
  if (!FSession) RaiseMySqlClientError(CR_SERVER_GONE_ERROR);
  return *FSession;
}

bool TMySqlResultSet::ReadRowPacket(std::span<const uint8_t>& packet) {
  try {
    if (Session().ReadResultPacket(packet)) return true;
  } catch (...) {
    FEndRead = true;
    FEof = true;
    FHasRow = false;
    throw;
  }
  FEndRead = true;
  return false;
}

void TMySqlResultSet::ReadAll() {
  FBuffered = true;
  FRows.Clear();
  FIndex = 0;
  FHasRow = false;
  std::span<const uint8_t> packet;
  try {
    while (!FEndRead && ReadRowPacket(packet)) FRows.Append(packet);
  } catch (...) {
    FRows.Clear();
    throw;
  }
  FEof = FRows.Count() == 0;
}

bool TMySqlResultSet::Fetch() {
  FHasRow = false;
  FRowData = {};
  if (FEof) return false;
  if (FBuffered) {
    FRowData = FRows.Row(FIndex++);
    FEof = FRows.Count() <= FIndex;
  } else {
    std::span<const uint8_t> packet;
    if (FEndRead || !ReadRowPacket(packet)) {
      FEof = true;
      return false;
    }
    FRowData = packet;
  }
  FHasRow = true;
  ++FRowsRead;
  Decode();
  return true;
}

void TMySqlResultSet::Decode() {
  if (!FHasRow) RaiseMySqlClientError(CR_NULL_POINTER);
  try {
    if (FResultBinds)
      DecodeMySqlBinaryRow(FRowData, FResultBinds->Binds, FFields);
    else
      DecodeMySqlTextRow(FRowData, FColumnBinds.Binds);
  } catch (const EMySqlException&) {
    FHasRow = false;
    FEof = true;
    if (FSession) FSession->MarkBroken();
    throw;
  }
}

void TMySqlResultSet::SetResultBinds(std::unique_ptr<TMySqlBinds> binds) {
  DA_ASSERT(!binds || binds->Count() == static_cast<int>(FFields.size()));
  FResultBinds = std::move(binds);
}

void TMySqlResultSet::Close() {
  FRows.Clear();
  FResultBinds.reset();
  FHasRow = false;
  FRowData = {};
  FEof = true;
  if (!FEndRead && FSession && FSession->CurrentResult() == this) {
    FEndRead = true;
    FSession->DrainResult();
  }
}
