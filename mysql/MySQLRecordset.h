// TMySQLRecordset: the MySQL record set of the provider interface. It executes its TMySQLCommand
// (as text, or prepared on the server), describes the result's fields by column type, lists the
// tables the SQL reads, and fetches rows in blocks into the record store, converting each column
// (text rows, or the binary rows of a prepared statement) into the record layout.
//
// Unbuffered reading keeps the connection busy until the last row is read. So, unless everything
// is fetched at once, the record set reads on an auxiliary connection of its own (a copy of the
// main connection's settings, or one the connection component supplies) and leaves the main one
// free. Closing it before the end of a plain SELECT sends "KILL <thread>" for the auxiliary
// connection over the main one instead of reading millions of rows to the end.
//
// Batches: after the first result the record set finds the next one (skipping results without
// rows); with the open-next flag the next open takes it instead of executing the text again.
//
// The file MySQLRecordsetFetch.cpp holds the fetching side.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/CRRecordSet.h"
#include "mysql/MyFieldValues.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MyStatementText.h"
#include "platform/runtime/Charset.h"

// ---- property ids of the MySQL record set ---------------------------------------------------

inline constexpr int prFieldsAsString = 1005;    // Boolean: every non-blob column as dtString
inline constexpr int prNullForZeroDate = 1006;   // Boolean: the zero date reads as NULL
inline constexpr int prProcedureCall = 1012;     // Boolean: the command calls a procedure
inline constexpr int prEnableBoolean = 1014;     // Boolean: TINYINT(1) as dtBoolean
inline constexpr int prCreateConnection = 1015;  // Boolean: fetch on an auxiliary connection
inline constexpr int prOpenNext = 1017;          // Boolean: the next open takes the next result
inline constexpr int prHasMoreResults = 1025;    // get: Boolean, a further result may follow
inline constexpr int prHandlerMode = 1029;       // Boolean: the SQL is a HANDLER statement

// What the record set knows of the results of the statement after the current one.
enum TMyResultState : uint8_t {
  rsUnknown = 0,
  rsMoreResults = 1,  // a further result may follow
  rsNoMore = 2,
  rsError = 3,
};

class TMySQLRecordset : public TCRRecordSet {
 public:
  TMySQLRecordset();
  // Closes (and so frees an auxiliary connection); never throws.
  ~TMySQLRecordset() override;

  // ---- command and connection ----
  // Installs the command (it must be a TMySQLCommand).
  void SetCommand(std::unique_ptr<TCRCommand> command) override;
  TMySQLCommand* GetMyCommand() { return static_cast<TMySQLCommand*>(GetCommand()); }
  // Text fields keep the bytes the session sent even under Unicode (no conversion to ANSI or
  // UTF-16): a backup writes them as they are, under a SET NAMES that says what they are. Set
  // before opening.
  bool KeepSessionText = false;
  // Drops what is left of the result (unless prepared), refreshes the connection's cached
  // settings, then the base Disconnect.
  void Disconnect() override;

  // ---- execution ----
  // Opens the auxiliary connection when one is needed, executes and takes the first result that
  // has rows (the next result of a batch with the open-next flag). Errors: EMyError and EFailOver
  // of the connection's error path; an auxiliary connection that cannot connect raises its error
  // and leaves the main connection in place.
  void ExecCommand() override;
  bool HasResultSet() override;
  bool IsAllFetched() override;

  // ---- fields ----
  TFieldDescClass GetFieldDescType() const override;
  const TCRTableInfoClass& GetTableInfoClass() const override;
  int GetFieldCount() const override { return GetFieldDescCount(); }
  // The base InitFields; then the fields a fetch fills are noted (MySQLRecordsetFetch.cpp).
  void InitFields() override;
  void ClearFields() override;
  // Blob fields of new records are compressed blobs unless the compress mode is cbNone, wide
  // under Unicode.
  void CreateComplexField(void* recBuf, int index, bool withBlobs) override;

  // ---- fetching (MySQLRecordsetFetch.cpp) ----
  // Reads up to FetchRows rows into new records; false when none came. At the end of the rows the
  // result is freed and the next result of a batch looked for. Errors: EDatabaseError
  // "Query must return exactly result set - use Execute" (65072) without fields; EMyError of the
  // server (the result is dropped); EConvertError and EDatabaseError of the conversions. Rows read
  // before an error stay in the record set.
  bool Fetch() override;
  // Fetches every remaining row, then moves to the end.
  void SetToEnd() override;

  // The connection's error checks (TMySQLConnection) with the record set's component.
  virtual void CheckPtr(const void* value) { GetMyCommand()->CheckPtr(value); }
  virtual void CheckStatus(int status) { GetMyCommand()->CheckStatus(status); }
  virtual void CheckErrno() { GetMyCommand()->CheckErrno(); }

  // ---- properties ----
  // The ids above; prCommandTimeout (EAssertionFailed without a command); the rest to the base.
  bool SetProp(int prop, const Variant& value) override;
  bool GetProp(int prop, Variant& value) override;

  bool GetFieldsAsString() const noexcept { return FFieldsAsString; }
  bool GetNullForZeroDate() const noexcept { return FNullForZeroDate; }
  bool GetEnableBoolean() const noexcept { return FEnableBoolean; }
  bool GetCreateConnection() const noexcept { return FCreateConnection; }
  bool GetHandlerMode() const noexcept { return FHandlerMode; }
  TMyResultState GetResultState() const noexcept { return FResultState; }
  // The open statement is a single SELECT whose auxiliary connection may be killed on close.
  bool GetKillOnClose() const noexcept { return FKillOnClose; }
  // The auxiliary connection in use; nil when the record set reads on the main one.
  TMySQLConnection* GetFetchConnection() const noexcept {
    return FSavedConnection ? CurrentConnection() : nullptr;
  }

 protected:
  void CreateCommand() override;
  void InternalPrepare() override;
  void InternalUnPrepare() override;
  void InternalClose() override;
  void InternalInitFields() override;

 private:
  // ---- opening (MySQLRecordset.cpp) ----
  TMySQLConnection* CurrentConnection() const;
  TMySQLAPI& API() const;
  // Copies the connection's settings that conversions and field types depend on.
  void RefreshConnectionCache();
  bool NeedsFetchConnection();
  void OpenFetchConnection();
  void CloseFetchConnection(bool killed);
  // Drops the rows of the current result (a prepared statement's, or the text result, with the
  // KILL of an abandoned SELECT) and, with `next`, looks for the next result with rows.
  void FreeResult(bool next);
  void FreeTextResult(bool& killed);
  void FindNextResult(bool& killed);
  // FreeResult, taking each next result, while more results follow.
  void DrainResults();
  // Field descriptions of a statement not executed yet: it runs once without rows.
  void DescribeWithoutRows(const TMyStatementShape& shape);
  void CreateFieldDescs(const TMyStatementShape& shape);
  void GetFieldType(const TMySqlFieldRecord& column, const TMyStatementShape& shape, TDataType& dataType,
                    uint32_t& size, bool& fixed) const;
  // Binary-charset strings become bytes, temporal columns with fractional seconds microseconds.
  void RefineFieldType(const TMySqlFieldRecord& column, TDataType& dataType, bool& fixed) const;
  void AdjustShowLength(const std::string& name, const TMyStatementShape& shape, uint32_t& size) const;
  // The table of the previous column described, by the names that found it.
  struct TColumnTableMemo {
    TCRTableInfo* Table = nullptr;
    bool Aliased = false;
    std::string Name, OrgName;
  };
  void FillFieldDesc(TMySQLFieldDesc& desc, const TMySqlFieldRecord& column, TDataType dataType,
                     uint32_t size, bool fixed, TColumnTableMemo& memo);
  TCRTableInfo* TableInfoOfColumn(const TMySqlFieldRecord& column, bool aliased);
  void ParseTables(const TMyStatementShape& shape);
  // The analyses of the statement's text, kept for the next open of the same text: a browser opens
  // the same statements over and over.
  // How the session reads a backslash in a string: the text is read the same way.
  bool TextNoBackslashEscapes();
  const TMyStatementShape& StatementShape(const std::string& sql);
  const std::vector<TMyTableRef>& TableRefs(const std::string& sql);
  // The "Type" column of SHOW COLUMNS and DESC holds long type texts.
  void WidenTypeColumn();

  // ---- fetching (MySQLRecordsetFetch.cpp) ----
  TMyConvertContext ConvertContext();
  // Reads up to FetchRows rows into new items; `first` receives the first of them.
  int FetchBlock(PItemHeader& first);
  // A new item filled from the current row's columns (GetRowColumns). A failing conversion frees
  // the item again and raises.
  void FillItem(PItemHeader& first, const TMyConvertContext& cx, std::span<const TMySqlBind> columns,
                const uint8_t* base, bool binary);
  void AssignOutParams();

  bool FIsClient41 = false;
  bool FUseUnicode = false;
  int FUnicodeCharBytes = 3;  // of the column lengths under UseUnicode
  TDANumericType FNumericType = ntFloat;
  int FServerMajor = 0;
  int FServerMinor = 0;

  TMySQLConnection* FSavedConnection = nullptr;  // the main connection while an auxiliary one is used
  TMySqlFieldRecord FColumnRecord;               // the column CreateFieldDescs describes
  std::unique_ptr<TMySQLConnection> FFetchConnection;
  bool FNullForZeroDate = true;
  bool FFieldsAsString = false;
  bool FEnableBoolean = true;
  bool FCreateConnection = true;
  bool FHandlerMode = false;
  bool FKillOnClose = false;
  uint8_t FStmtFetchState = 0;  // prepared fetch: 0 not started, 1 fetching, 2 done
  TMyResultState FResultState = rsUnknown;
  PMYSQL_RES FNextResult = nullptr;
  int64_t FNextRowsAffected = -2;    // -2: not known yet
  std::vector<TMySqlBind> FColumns;  // the current row's columns, for APIs that describe them here
  std::vector<const TMySQLFieldDesc*> FFetchFields;  // by FieldNo - 1; nil for fields without a column
  std::vector<TMyTextStore> FFetchStores;            // how each stores a text-protocol value
  struct {
    bool Valid = false;
    std::string SQL;
    int ServerMajor = 0;
    TCharsetKind Charset{};  // the code page the text was lexed in
    bool NoBackslashEscapes = false;
    TMyStatementShape Shape;
  } FShapeMemo;
  struct {
    bool Valid = false;
    std::string SQL;
    bool Handler = false;
    TCharsetKind Charset{};
    bool NoBackslashEscapes = false;
    std::vector<TMyTableRef> Refs;
  } FTableRefsMemo;
};
