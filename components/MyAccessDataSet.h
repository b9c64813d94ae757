// Unit MyAccess, the MySQL dataset: TCustomMyDataSet is the query dataset bound to a MySQL
// connection (its record set a TMySQLRecordset, its command a TMyCommand, names in back quotes);
// TMyQuery is the class the console's windows browse and edit tables with. It adds the key of the
// updating table, the auto-increment field, the record-count query, column defaults, TIMESTAMP
// tracking for the quick refresh and the auto-refresh timer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "components/DBAccessDataSet.h"
#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MySQLGenerator.h"
#include "mysql/MyFieldValues.h"
#include "mysql/MySQLRecordset.h"

class TCustomMyDataSet;

class TMyDataSetOptions : public TDADataSetOptions {
 public:
  explicit TMyDataSetOptions(TCustomDADataSet* owner);

  bool CheckRowVersion = false;
  // Column defaults are read (SHOW FULL COLUMNS) after each open into DefaultExpression.
  bool DefaultValues = false;

  // Record-set properties; a change needs a closed dataset.
  bool FieldsAsString() const noexcept { return FFieldsAsString; }
  void SetFieldsAsString(bool value);
  bool NullForZeroDate() const noexcept { return FNullForZeroDate; }
  void SetNullForZeroDate(bool value);
  bool EnableBoolean() const noexcept { return FEnableBoolean; }
  void SetEnableBoolean(bool value);
  bool CreateConnection() const noexcept { return FCreateConnection; }
  void SetCreateConnection(bool value);
  // The auto-refresh timer (never while designing); each acts only on a changed value.
  bool AutoRefresh() const noexcept { return FAutoRefresh; }
  void SetAutoRefresh(bool value);
  // Seconds.
  int AutoRefreshInterval() const noexcept { return FAutoRefreshInterval; }
  void SetAutoRefreshInterval(int value);

  // The generic options, then LongStrings, FullRefresh, FieldsAsString, CompressBlobMode,
  // NullForZeroDate, EnableBoolean, FieldsOrigin and CreateConnection.
  void Assign(TPersistent* source) override;

 private:
  void SetRecordSetOption(bool& field, bool value, int prop, bool fieldDefsChange);
  TCustomMyDataSet& MyOwner() const;

  bool FFieldsAsString = false;
  bool FNullForZeroDate = true;
  bool FEnableBoolean = true;
  bool FCreateConnection = true;
  bool FAutoRefresh = false;
  int FAutoRefreshInterval = 60;
};

class TCustomMyDataSet : public TCustomDADataSet {
 public:
  explicit TCustomMyDataSet(TComponent* owner = nullptr);
  ~TCustomMyDataSet() override;

  TCustomMyConnection* Connection() const noexcept {
    return static_cast<TCustomMyConnection*>(TCustomDADataSet::Connection());
  }
  void SetConnection(TCustomMyConnection* value) { TCustomDADataSet::SetConnection(value); }
  TMyDataSetOptions& Options() const noexcept {
    return static_cast<TMyDataSetOptions&>(TCustomDADataSet::Options());
  }
  TMyCommand& MyCommand() const noexcept { return static_cast<TMyCommand&>(Command()); }
  TMySQLRecordset* MyRecordSet() const noexcept { return dynamic_cast<TMySQLRecordset*>(CRRecordSet()); }

  // Seconds the server may take (0: no limit); passed to the record set at once.
  int CommandTimeout() const noexcept { return FCommandTimeout; }
  void SetCommandTimeout(int value);
  // The AUTO_INCREMENT value the last statement produced.
  int64_t InsertId() const noexcept { return FInsertId; }

  // False when ReadOnly or UniDirectional; otherwise true when the result has a real column or
  // the dataset has its own update statements.
  bool CanModify() const override;
  // Both ask the connection to be ready for prepared statements first (Prepare) and hold the
  // connection while they run; Execute then reads the last insert id.
  void Prepare() override;
  void Execute() override;

  char QuoteChar() const override { return '`'; }
  std::string QuoteName(const std::string& name) override;
  std::string UnQuoteName(const std::string& name) const override;
  std::string SQLAddWhere(const std::string& sql, const std::string& condition) override;
  std::string SQLDeleteWhere(const std::string& sql) const override;
  std::string SQLSetOrderBy(const std::string& sql, const std::string& fields) const override;
  std::string SQLGetOrderBy(const std::string& sql) const override;
  // The session reads a backslash in a string as a plain character (NO_BACKSLASH_ESCAPES).
  bool TextNoBackslashEscapes() const;
  std::vector<size_t> PlaceholderOffsets(const std::string& sql) override;

  // The table's key and data fields as MyKeyAndDataFields chooses them (every table's with
  // forceAll under FullRefresh), kept until the fields are described anew. The key is a whole
  // primary or NOT NULL unique key of the table (its keys read from the server once per open);
  // when the table has such a key and the result holds none whole, MissingKeyColumns names what
  // the result lacks; a table without one has its rows matched on their comparable columns.
  // Errors: those of reading the table's keys.
  TKeyAndDataFields KeyAndDataFieldsOf(int tableIndex, bool forceAll) override;
  // The updating table's AUTO_INCREMENT field follows the updating table.
  void SetUpdatingTable(const std::string& value) override;
  TDASQLGeneratorSettings GeneratorSettings() override;
  // The generated statements write the updating table, and its engine has no transactions.
  // Statements of the user's own (SQLInsert, SQLUpdate, SQLDelete, an update object,
  // OnUpdateRecord) may write any table: false.
  bool WritesSurviveRollback() override;
  // The character set of a text column of the result's tables, as the table declares it (read
  // once per open, SHOW FULL COLUMNS); empty for other columns. Errors: those of the read.
  std::string ColumnCharset(const TFieldDesc& desc) override;
  // The first TIMESTAMP column of the result (the last one met), or nil.
  TMySQLFieldDesc* TimestampField() const noexcept { return FTimestampField; }
  bool IsTimestampField(const TFieldDesc* desc) const;
  // A TIMESTAMP value read while rows are copied: its table remembers the newest one.
  void TrackTimestamp(const TFieldDesc* desc, const Variant& value);
  void TrackRowValue(const TFieldDesc* desc, const Variant& value) override { TrackTimestamp(desc, value); }

  void Assign(TPersistent* source) override;

  // ---- XML ----
  void WriteFieldXMLDataType(TField* field, const TFieldDesc& desc, XmlTextWriter& writer) override;
  void WriteFieldXMLAttributes(TField* field, const TFieldDesc& desc, XmlTextWriter& writer,
                               const std::string& uniqueName) override;

  // The statement that counts a query's rows ("" when it has no SELECT ... FROM): the select
  // list replaced by COUNT(*), or, for DISTINCT, GROUP BY, HAVING, LIMIT and UNION, the query
  // counted as a derived table. ORDER BY is dropped first. `noBackslashEscapes`: the text is read
  // as a session with NO_BACKSLASH_ESCAPES reads it.
  static std::string CountSQL(const std::string& sql, bool noBackslashEscapes = false);

 protected:
  friend class TMyDataSetOptions;

  std::unique_ptr<TCustomDASQL> CreateCommand() override;
  std::unique_ptr<TDADataSetOptions> CreateOptions() override;
  TCRRecordSetClass DefaultIRecordSetClass() const override;
  void AssignRecordSetProps(TCRRecordSet& recordSet) override;
  TFieldType GetFieldType(TDataType dataType) const override;
  // "No SQL statement provided" for an empty SQL.
  void CheckSQL() override;
  // Reads the column defaults when asked.
  void AfterOpenCursor() override;
  // The insert's AUTO_INCREMENT value into InsertId and the identity field of the record being
  // posted (components/MyAccessDataSetUpdate.cpp).
  void PerformAppend() override;
  void AfterInsertExecuted() override;
  // A CALL's arguments that are one parameter each take the direction the routine declares for
  // them (read from information_schema.PARAMETERS).
  void DescribeCallParams(const std::string& text, TDAParams& params) override;
  // A statement with output parameters runs with a session variable in each one's place (an
  // input-output one set to its value first); the variables are read back into the parameters.
  void ExecuteUpdateQuery(TCustomDASQL& query) override;
  size_t StatementByteLimit() override;
  int GetRecCount() override;
  void CreateFields() override;
  void CloseCursor() override;
  void FieldDescsRenewed() override;
  void SetNumberRange(TFieldDef& fieldDef) override;
  bool IsGeneratedField(const TFieldDesc& desc) override;
  TMySQLFieldDesc* MyFieldDesc(const TField* field) const;
  std::unique_ptr<TDASQLGenerator> CreateSQLGenerator() override;
  std::unique_ptr<TCustomDADataSet> CreateHelperDataSet() override;

 private:
  void ReadDefaultValues();
  void ChooseIdentityField();
  // The table as the query named it, for statements about it.
  std::string TableNameOf(const TCRTableInfo& table);
  // The keys of a table that identify a row, read once per open.
  const std::vector<TMyTableKey>& TableKeys(const TCRTableInfo& table);
  std::vector<TFieldDesc*> WholeKeyFields(const std::vector<TFieldDesc*>& dataFields);
  // A column as SHOW FULL COLUMNS describes it.
  struct TShownColumn {
    std::string Name;
    std::string Collation;  // empty for a column without one
    bool HasDefault = false;
    std::string Default;
    std::string Extra;
  };
  // The columns of a table (named as TableNameOf gives it), read once per open and shared by the
  // generated-column check, the character sets of conditions and the column defaults.
  const std::vector<TShownColumn>& TableColumns(const std::string& name);
  // An internal, untraced dataset on this dataset's connection that will run `sql`.
  void PrepareReader(TCustomMyDataSet& reader, const std::string& sql);
  void AutoRefreshTick();
  void UpdateAutoRefreshTimer();

  int FCommandTimeout = 0;
  int64_t FInsertId = 0;
  TMySQLFieldDesc* FTimestampField = nullptr;
  bool FHasRealColumn = false;
  std::map<int, TKeyAndDataFields> FKeyCache;
  std::map<std::string, std::vector<TMyTableKey>> FTableKeys;
  std::map<std::string, std::vector<TShownColumn>> FTableColumns;
  std::unique_ptr<TWin32Timer> FAutoRefreshTimer;
};

// The MySQL query the console uses: TCustomMyDataSet with everything public.
class TMyQuery : public TCustomMyDataSet {
 public:
  explicit TMyQuery(TComponent* owner = nullptr) : TCustomMyDataSet(owner) {}
};
