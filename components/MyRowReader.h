// Reading rows of a statement as the server's text: a read-only, unidirectional MySQL query with
// every non-blob column as text (binary strings and BIT as their bytes), one block of rows at a
// time, on the connection itself. The dump and the connection's name lists use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mysql/MyFieldValues.h"

class TCustomMyConnection;
class TMyQuery;
class TMySQLRecordset;

class TMyRowReader {
 public:
  // The connection must stay open while the reader reads. timeoutSeconds bounds each wait for
  // the server's answer (0: no bound, for long work such as a dump).
  explicit TMyRowReader(TCustomMyConnection& connection, int timeoutSeconds = 0);
  ~TMyRowReader();
  TMyRowReader(const TMyRowReader&) = delete;
  TMyRowReader& operator=(const TMyRowReader&) = delete;

  // Runs the statement (its errors pass through) and stands before the first row. A statement
  // without rows gives none.
  void Open(const std::string& sql);
  // From the next Open: text keeps the session's bytes even under Unicode (see Value).
  void SetSessionBytes(bool value) noexcept { FSessionBytes = value; }
  // The next row; false after the last (the result is then closed).
  bool Next();
  void Close();

  int FieldCount() const;
  // 0-based.
  const TMySQLFieldDesc& Field(int index) const;
  int FieldIndex(const std::string& name) const;  // -1 when absent (case ignored)
  bool IsNull(int index) const;
  // The value's bytes: text as the server sent it (ANSI under Unicode unless SetSessionBytes),
  // bytes and blob content as they are; a wide blob as ANSI. Empty for NULL.
  std::string Value(int index) const;
  // The text of a text field without a copy (valid until the next row); empty for NULL. Other
  // fields: use Value.
  std::string_view TextView(int index) const;
  bool IsTextField(int index) const;
  // A BIT value.
  uint64_t BitValue(int index) const;

  // The first column of every row of the statement.
  static std::vector<std::string> FirstColumn(TCustomMyConnection& connection, const std::string& sql,
                                              int timeoutSeconds = 0);

 private:
  TMySQLRecordset& RecordSet() const;

  std::unique_ptr<TMyQuery> FQuery;
  TMySQLRecordset* FRecordSet = nullptr;  // the query's, while it is open
  const void* FBuffer = nullptr;          // the current row's record
  bool FFirst = false;
  bool FSessionBytes = false;
};
