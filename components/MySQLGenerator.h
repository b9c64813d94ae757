// Unit MyAccess, the MySQL statement generator: back-quoted names, the lock statement, FLOAT
// columns left out of conditions, the row-version (TIMESTAMP) and quick-refresh conditions,
// LIMIT 1 on UPDATE and DELETE that match a row by something other than its key, and the
// positions of the "?" placeholders in the finished statement.
//
// Also the choice of a MySQL table's key and data fields from the flags the server sends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "components/DASQLGenerator.h"

// A generated parameter with the builder that received its "?" and the 0-based position of the
// "?" in that builder.
class TMyParamInfo : public TDAParamInfo {
 public:
  explicit TMyParamInfo(TCollection* collection) : TDAParamInfo(collection) {}

  const std::string* SB = nullptr;
  int ParamPosition = -1;
};

class TMySQLGenerator : public TDASQLGenerator {
 public:
  explicit TMySQLGenerator(IDASQLGeneratorHost* host) : TDASQLGenerator(host) {}

  // 0 writes "FOR UPDATE", 1 "LOCK IN SHARE MODE", anything else no lock clause.
  uint8_t LockMode() const noexcept { return FLockMode; }
  void SetLockMode(uint8_t value) noexcept { FLockMode = value; }

  // The 1-based position of each parameter's "?" in the last generated statement, in parameter
  // order (only when it was generated with parameters). EAssertionFailed for a placeholder in a
  // part of the statement that holds none.
  std::vector<int> ParamPositions() const;

  // A compound IF that signals when ROW_COUNT() is not 1: a text of several statements stops there.
  // Only MariaDB 10 and later run compound statements outside stored programs.
  std::string RowCountCheck(const std::string& serverVersion) const override;

 protected:
  std::string GetConditionFieldName(const TFieldDesc& desc, bool qualify) override;
  void AddParam(std::string& builder, const TFieldDesc& desc, bool old, int batchIndex,
                TStatementType type) override;
  void AddFieldToCondition(std::string& builder, const TFieldDesc& desc, int batchIndex, bool checkNull,
                           TStatementType type) override;
  // A text column compares as bytes, trailing blanks included, against the value converted to
  // the column's character set: its collation would take 'A' for 'a' and 'b ' for 'b'.
  void AddValueToCondition(std::string& builder, const TFieldDesc& desc, int batchIndex, bool checkNull,
                           TStatementType type) override;
  void AddFieldToUpdateSQL(const TFieldDesc& desc, int batchIndex) override;
  void GenerateUpdateSQL(const TKeyAndDataFields& keyAndData, bool modifiedFieldsOnly,
                         int batchIndex) override;
  void GenerateDeleteSQL(const TKeyAndDataFields& keyAndData, bool modifiedFieldsOnly,
                         int batchIndex) override;
  void GenerateLockSQL(const TKeyAndDataFields& keyAndData, int batchIndex) override;
  void GenerateConditions(std::string& builder, TStatementType type, bool checkNull,
                          const TKeyAndDataFields& keyAndData, int batchIndex) override;
  TDAParamInfoClass ParamInfoClass() const override { return &ParamInfoOf<TMyParamInfo>; }

 private:
  void GenerateRowVersionConditions(std::string& builder, TStatementType type, bool checkNull,
                                    const TKeyAndDataFields& keyAndData, int batchIndex);
  void GenerateQuickRefreshCondition(std::string& builder);
  // UPDATE and DELETE by a condition that is not a key touch one row only.
  void LimitToOneRow(const TKeyAndDataFields& keyAndData);

  uint8_t FLockMode = 0;
};

// True for a column whose value as the dataset holds it may differ from the stored one: FLOAT, and a
// DECIMAL held as a double or a currency with more digits than those keep. Conditions that find a
// row leave such columns out, and a key holding one is no key.
bool IsInexactMyField(const TFieldDesc& desc);

// The key and data fields of a MySQL table among `fields` (the record set's descriptions of the
// dataset's data fields, in order). Only fields of `table` count; a nil table takes every field.
// Data fields: every field whose column type is not NULL. Key: the columns the server flags as
// the primary key (which it also does for a unique key whose columns are all NOT NULL when the
// table has no primary key). A plain or nullable unique index is no key, and a key with a FLOAT
// column cannot be matched exactly: both leave the key empty, so rows are matched on all their
// non-blob columns (one row at a time).
TKeyAndDataFields MyKeyAndDataFields(const std::vector<TFieldDesc*>& fields, const TCRTableInfo* table);

// A key of a table that identifies one row: the primary key, or a unique key whose columns are
// all NOT NULL; its columns in key order.
struct TMyTableKey {
  std::string Name;
  std::vector<std::string> Columns;
};

// The fields of the first of `keys` whose every column is among `fields` (matched by column name,
// without case) and none inexact, in key order; empty when no key is whole in the result: the
// flags mark each column of a key, and part of a composite key matches several rows.
std::vector<TFieldDesc*> MyWholeKeyFields(const std::vector<TFieldDesc*>& fields,
                                          const std::vector<TMyTableKey>& keys);

// When no key of `keys` is whole among `fields`: the columns the first key that could be matched
// exactly lacks (a key holding a shown inexact column cannot); empty when one key is whole, or
// when none could be matched (the rows are then found by their comparable columns).
std::vector<std::string> MyMissingKeyColumns(const std::vector<TFieldDesc*>& fields,
                                             const std::vector<TMyTableKey>& keys);
