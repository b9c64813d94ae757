// The rows of one result: read one at a time from the connection (unbuffered) or all at once
// (buffered), and decoded into binds that point into the row's bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "mysql/MySqlPackets.h"

class TMySqlSession;

// Row payloads as received, kept back to back in one buffer.
class TRows {
 public:
  void Append(std::span<const uint8_t> row);
  size_t Count() const { return FEnds.size(); }
  std::span<const uint8_t> Row(size_t index) const;
  void Clear();

 private:
  std::vector<uint8_t> FData;
  std::vector<size_t> FEnds;  // end offset of each row in FData
};

class TMySqlResultSet {
 public:
  // Over the session's pending result and its field descriptions (a statement hands its own).
  // The result becomes the session's current result and the session's pending state 2.
  // Errors: 2014 when the session has no result header pending (state not 1).
  explicit TMySqlResultSet(TMySqlSession& session);
  TMySqlResultSet(TMySqlSession& session, std::vector<TMySqlFieldInfo> fields);
  // Close; never throws.
  ~TMySqlResultSet();
  TMySqlResultSet(const TMySqlResultSet&) = delete;
  TMySqlResultSet& operator=(const TMySqlResultSet&) = delete;

  // Reads every remaining row up to the EOF packet into memory.
  // Errors: the server's error (the result ends, the session stays usable); 2013, 2027 (the
  // session breaks); 2006 when the session was closed.
  void ReadAll();
  // Moves to the next row and decodes it into Row(); false at the end.
  // Errors: as ReadAll; 2027 for a row that does not decode.
  bool Fetch();
  // Frees the rows; an unbuffered result drains what the session still holds of it.
  // Errors: as ReadAll (the rows are freed all the same).
  void Close();

  uint32_t FieldCount() const { return static_cast<uint32_t>(FFields.size()); }
  const std::vector<TMySqlFieldInfo>& Fields() const { return FFields; }
  bool Buffered() const { return FBuffered; }
  bool Eof() const { return FEof; }
  size_t RowCount() const { return FRows.Count(); }
  uint32_t RowsRead() const { return FRowsRead; }

  // The current row: its binds (text rows: the column binds; binary rows: the result binds)
  // and its bytes, which the binds' positions index. Valid until the next Fetch.
  const TMySqlBinds& Row() const { return FResultBinds ? *FResultBinds : FColumnBinds; }
  std::span<const uint8_t> RowData() const { return FRowData; }

  // Binds that make rows decode as binary rows of a prepared statement.
  void SetResultBinds(std::unique_ptr<TMySqlBinds> binds);
  TMySqlBinds* ResultBinds() const { return FResultBinds.get(); }

  // Called by the session when it closes: the result can no longer read from it.
  void SessionClosed() noexcept { FSession = nullptr; }

 private:
  TMySqlSession* FSession;
  std::vector<TMySqlFieldInfo> FFields;
  TRows FRows;
  bool FBuffered = false;
  bool FEof = false;
  bool FEndRead = false;  // the result's EOF packet (or error) has been read
  size_t FIndex = 0;
  uint32_t FRowsRead = 0;
  std::span<const uint8_t> FRowData;
  bool FHasRow = false;
  TMySqlBinds FColumnBinds;
  std::unique_ptr<TMySqlBinds> FResultBinds;

  TMySqlSession& Session() const;
  bool ReadRowPacket(std::span<const uint8_t>& packet);
  void Decode();
};
