// Unit DBAccess, the statement generator: writes the INSERT, UPDATE, DELETE, lock and refresh
// statements with which a query dataset stores, locks and re-reads one record of its updating
// table. It never runs what it writes. While writing it can fill a parameter collection and a side
// list (ParamsInfo) that tells the dataset which field and which version of it (old or new) feeds
// each parameter.
//
// The generator reaches its dataset only through IDASQLGeneratorHost, which the query dataset
// implements; the dataset owns one generator and makes it through its CreateSQLGenerator.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/DBAccessUpdateSQL.h"
#include "core/MemFieldDesc.h"
#include "platform/runtime/Components.h"

class TCRTableInfo;
class TCRTablesInfo;
class TDAParams;
class TData;
class TField;

// The key of the updating table and the fields that belong to that table.
struct TKeyAndDataFields {
  std::vector<TFieldDesc*> KeyFieldDescs;
  std::vector<TFieldDesc*> DataFieldDescs;
  // The columns of the updating table's key that the result lacks, when the table has a key that
  // names one row and the result holds none whole: no row of it can then be found for sure.
  std::vector<std::string> MissingKeyColumns;
};

// The dataset settings a generator reads; the host answers them afresh on every call.
struct TDASQLGeneratorSettings {
  // Options of the dataset.
  bool FullRefresh = false;
  bool QuoteNames = false;
  bool CheckRowVersion = false;
  // State of the dataset.
  bool ReadOnly = false;
  bool Designing = false;
  bool Active = false;
  bool CachedUpdates = false;
  bool ApplyingUpdates = false;  // cached updates are being applied right now
  bool HasOwnParams = false;     // the dataset's own SQL has parameters
};

// What the generator needs of its dataset.
class IDASQLGeneratorHost {
 public:
  virtual ~IDASQLGeneratorHost() = default;

  virtual TDASQLGeneratorSettings GeneratorSettings() = 0;
  // A column name as the server wants it written (quoted where needed or when QuoteNames is set).
  virtual std::string QuoteName(const std::string& name) = 0;

  // The record store (the dataset's record set) and the record being written, in record-store
  // layout: its new values and its old values. Both buffers must be valid while the dataset is
  // active.
  virtual TData& GeneratorData() = 0;
  virtual void* GeneratorNewRecBuf() = 0;
  virtual void* GeneratorOldRecBuf() = 0;
  // The dataset field shown for a field description; nil when there is none.
  virtual TField* FieldOfDesc(const TFieldDesc* desc) = 0;
  // The description of the updating table's auto-increment field (IdentityField); nil when none.
  virtual TFieldDesc* IdentityFieldDesc() = 0;
  // Whether the server computes the column itself (a generated column): INSERT and UPDATE leave
  // it out, the server refuses a value for it.
  virtual bool IsGeneratedField(const TFieldDesc&) { return false; }

  // The updating table; nil when the dataset has none.
  virtual TCRTableInfo* UpdatingTableInfo() = 0;
  // The tables the record set reads; nil when the record set keeps none.
  virtual TCRTablesInfo* RecordSetTablesInfo() = 0;
  // The key and data fields of the updating table. forceAll: every key field, even of other
  // tables, where the dataset's rules allow it (a full refresh).
  virtual TKeyAndDataFields GetKeyAndDataFields(bool forceAll) = 0;

  // The dataset's SQL as the user wrote it, and as it is sent (macros, filter and master/detail
  // condition applied).
  virtual std::string GetSQLText() = 0;
  virtual std::string FinalSQL() = 0;
  // sql with condition added to the WHERE clause of its first SELECT.
  virtual std::string SQLAddWhere(const std::string& sql, const std::string& condition) = 0;
  // The character set the column of a text field stores its values in; empty when the column
  // holds no text of a character set (numbers, dates, bytes) or the host cannot tell.
  virtual std::string ColumnCharset(const TFieldDesc& /*desc*/) { return {}; }
};

// Which field and which version of it feeds one generated parameter.
class TDAParamInfo : public TCollectionItem {
 public:
  explicit TDAParamInfo(TCollection* collection) : TCollectionItem(collection) {}

  TField* Field = nullptr;
  bool Old = false;     // the field's old value
  int BatchIndex = -1;  // the statement's index in a batch; -1 outside batches
};

using TDAParamInfoClass = std::unique_ptr<TDAParamInfo> (*)(TCollection* collection);

template <class T>
std::unique_ptr<TDAParamInfo> ParamInfoOf(TCollection* collection) {
  return std::make_unique<T>(collection);
}

// One TDAParamInfo (of the generator's class) per generated parameter, in parameter order.
class TDAParamsInfo : public TCollection {
 public:
  explicit TDAParamsInfo(TDAParamInfoClass itemClass) : FItemClass(itemClass) {}
  TDAParamInfo* Items(int index) const { return static_cast<TDAParamInfo*>(TCollection::Items(index)); }
  TDAParamInfo* AddInfo() { return static_cast<TDAParamInfo*>(Add()); }

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override { return FItemClass(this); }

 private:
  TDAParamInfoClass FItemClass;
};

class TDASQLGenerator {
 public:
  // EAssertionFailed without a host.
  explicit TDASQLGenerator(IDASQLGeneratorHost* host);
  virtual ~TDASQLGenerator();
  TDASQLGenerator(const TDASQLGenerator&) = delete;
  TDASQLGenerator& operator=(const TDASQLGenerator&) = delete;

  // The statement of type `type` for the dataset's current record and updating table; empty when
  // the dataset has no updating table, and for an UPDATE without a field to set. With `params`,
  // the parameters are created there (cleared first) and described in ParamsInfo. batchIndex > -1
  // names the parameters of statement batchIndex of a batch (P_<n>_<name>).
  // Errors: EDatabaseError "Key fields not found" (UPDATE, DELETE or refresh of a table without
  // key and without a non-blob field), the missing-key error (UPDATE, DELETE, lock or refresh
  // while MissingKeyColumns is not empty), "Bad statement type", "TableInfo name must be
  // provided", and what the host raises.
  virtual std::string GenerateSQLForUpdatingTable(TStatementType type, bool modifiedFieldsOnly,
                                                  TDAParams* params = nullptr, int batchIndex = -1);
  // The same for a given table and fields.
  virtual std::string GenerateSQL(TCRTableInfo& tableInfo, const TKeyAndDataFields& keyAndData,
                                  TStatementType type, bool modifiedFieldsOnly, TDAParams* params = nullptr,
                                  int batchIndex = -1);

  // The parameters of the last generated statement (filled only when `params` was given).
  TDAParamsInfo& ParamsInfo();
  // Empties the statement builders and forgets the cached record buffers.
  virtual void Clear();
  // A statement that fails unless the one before it touched exactly one row, put after each
  // write of a batch so that the server stops where a single statement would have failed; empty
  // where the server (of that version text) has none.
  virtual std::string RowCountCheck(const std::string& /*serverVersion*/) const { return {}; }

  // "_" + index: the column alias of a refreshed field; AliasToIndex reads it back (-1 for any
  // other text).
  virtual std::string IndexToAlias(int index) const;
  virtual int AliasToIndex(const std::string& alias) const;
  virtual bool IsBlobDataType(TDataType dataType) const;
  virtual bool IsObjectDataType(TDataType dataType) const;

  // Null and modified tests of a field of the record being written (nothing is null while the
  // dataset is closed).
  virtual bool IsNull(const TFieldDesc& desc, bool old);
  virtual bool FieldModified(const TFieldDesc& desc);
  // The field's null mark (NullMarkNull .., 0 for a value) in the old or new record; 0 while the
  // dataset is closed and for blobs and object attributes.
  uint8_t NullMark(const TFieldDesc& desc, bool old);

 protected:
  IDASQLGeneratorHost& Host() const noexcept { return *FHost; }
  TDASQLGeneratorSettings Settings() const { return FHost->GeneratorSettings(); }
  TCRTableInfo* TableInfo() const noexcept { return FTableInfo; }
  TDAParams* Params() const noexcept { return FParams; }

  virtual void AssembleSQL(std::string& text);
  virtual bool IsNullField(const TFieldDesc& desc, bool old, void* oldBuf, void* newBuf, TData& data);
  virtual bool IsFieldModified(const TFieldDesc& desc, TData& data, void* oldBuf, void* newBuf);
  virtual std::string GetActualFieldName(const TFieldDesc& desc, const TCRTableInfo* tableInfo);
  virtual std::string GetConditionFieldName(const TFieldDesc& desc, bool qualify);
  virtual bool UsePositionalParams() const { return true; }
  // Writes the placeholder of a parameter for the field into `builder`.
  virtual void AddParam(std::string& builder, const TFieldDesc& desc, bool old, int batchIndex,
                        TStatementType type);
  virtual void AddFieldToInsertSQL(const TFieldDesc& desc, int batchIndex);
  virtual void AddFieldToUpdateSQL(const TFieldDesc& desc, int batchIndex);
  virtual void AddFieldToRefreshSQL(const TFieldDesc& desc);
  virtual void AddFieldToCondition(std::string& builder, const TFieldDesc& desc, int batchIndex,
                                   bool checkNull, TStatementType type);
  // A row is found by the table's key: without it whole in the result (MissingKeyColumns), another
  // row sharing the shown values could be written or read in its place. EDatabaseError then.
  static void RefuseWithoutKey(const TCRTableInfo& tableInfo, const TKeyAndDataFields& keyAndData);
  // A term of a condition that finds a row by its values rather than by its key; here the same
  // as AddFieldToCondition.
  virtual void AddValueToCondition(std::string& builder, const TFieldDesc& desc, int batchIndex,
                                   bool checkNull, TStatementType type);
  virtual void GenerateInsertSQL(const TKeyAndDataFields& keyAndData, bool modifiedFieldsOnly,
                                 int batchIndex);
  virtual void GenerateUpdateSQL(const TKeyAndDataFields& keyAndData, bool modifiedFieldsOnly,
                                 int batchIndex);
  virtual void GenerateDeleteSQL(const TKeyAndDataFields& keyAndData, bool modifiedFieldsOnly,
                                 int batchIndex);
  virtual void GenerateLockSQL(const TKeyAndDataFields& keyAndData, int batchIndex);
  virtual void GenerateRefreshSelectPart(const TKeyAndDataFields& keyAndData);
  virtual void GenerateRefreshFromPart();
  virtual void GenerateRefreshSQL(const TKeyAndDataFields& keyAndData, bool checkNull);
  virtual void GenerateRefreshQuickSQL(const TKeyAndDataFields& keyAndData);
  virtual void GenerateRefreshCheckDeletedSQL(const TKeyAndDataFields& keyAndData);
  virtual void GenerateConditions(std::string& builder, TStatementType type, bool checkNull,
                                  const TKeyAndDataFields& keyAndData, int batchIndex);
  virtual TDAParamInfoClass ParamInfoClass() const { return &ParamInfoOf<TDAParamInfo>; }

  // The table being written as the query named it, its database included.
  std::string WrittenTableName() const;
  // The table info's name as the dataset's QuoteNames option writes it.
  std::string QuotedTableName(const TCRTableInfo& tableInfo, const std::string& name) const;

  // The statement's parts, joined in this order.
  std::string FHeaderSB, FFldSB, FMiddleSB, FFldParamSB, FCondSB, FFooterSB;

 private:
  void* OldBuf();
  void* NewBuf();

  IDASQLGeneratorHost* FHost;
  void* FOldRecBuf = nullptr;
  void* FNewRecBuf = nullptr;
  TDAParams* FParams = nullptr;
  std::unique_ptr<TDAParamsInfo> FParamsInfo;
  TCRTableInfo* FTableInfo = nullptr;
};
