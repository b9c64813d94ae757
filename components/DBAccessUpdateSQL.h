// Unit DBAccess, the update-SQL component: the user's own INSERT, UPDATE, DELETE and refresh
// statements for a dataset's updates, or components (a dataset or a command) that run them. The
// dataset runs them when it applies its updates.
#pragma once

#include <cstdint>
#include <string>

#include "core/MemData.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Components.h"

// The kinds of statement a query dataset runs; the update kinds map onto the first ones.
enum TStatementType : uint8_t {
  stQuery = 0,
  stInsert = 1,
  stUpdate = 2,
  stDelete = 3,
  stLock = 4,
  stRefresh = 5,
  stCheck = 6,
  stCustom = 7,
  stRefreshQuick = 8,
  stRefreshCheckDeleted = 9,
  stBatchUpdate = 10
};
// A set of statement types, one bit per type.
using TStatementTypes = uint16_t;
constexpr TStatementTypes StatementTypeSet(TStatementType type) noexcept {
  return static_cast<TStatementTypes>(1u << type);
}
constexpr bool HasStatementType(TStatementTypes set, TStatementType type) noexcept {
  return (set & StatementTypeSet(type)) != 0;
}
TStatementType UpdateKindToStatementType(TUpdateKind kind);
// The names of a set's types without their "st" prefix, in type order, joined by "," (the trace
// of a write: "Update", "Refresh", "BatchUpdate", ...).
std::string StatementTypeNames(TStatementTypes types);

class TCustomDADataSet;

class TCustomDAUpdateSQL : public TComponent {
 public:
  explicit TCustomDAUpdateSQL(TComponent* owner = nullptr);
  ~TCustomDAUpdateSQL() override;

  TStringList& InsertSQL() noexcept { return FInsertSQL; }
  TStringList& ModifySQL() noexcept { return FModifySQL; }
  TStringList& DeleteSQL() noexcept { return FDeleteSQL; }
  TStringList& RefreshSQL() noexcept { return FRefreshSQL; }
  // The statement list of an update kind.
  virtual TStringList& GetSQL(TUpdateKind kind);
  // The statement list of a statement type (insert, update, delete, refresh); nil for others.
  TStringList* SQLOfType(TStatementType type) noexcept;
  // The object of a statement type (insert, update, delete, refresh); nil for others.
  TComponent* ObjectOfType(TStatementType type) const noexcept;

  // The dataset that uses the component: only a query dataset of DataSetClassName (Exception
  // "Only %s and %s objects are allowed in update properties"). The link goes both ways: the
  // dataset takes this component as its update object and a dataset served before loses it.
  TCustomDADataSet* DataSet() const noexcept { return FDataSet; }
  virtual void SetDataSet(TCustomDADataSet* value);
  // Runs the kind's statement for the dataset's current record (its PerformSQL).
  virtual void Apply(TUpdateKind kind);

  // Each object must be a dataset or a command (Exception "Only %s and %s objects are allowed in
  // update properties") and not the component's own dataset (Exception "Circular references are
  // not allowed between ..."); nil clears it.
  TComponent* InsertObject() const noexcept { return FObjects[0]; }
  TComponent* ModifyObject() const noexcept { return FObjects[1]; }
  TComponent* DeleteObject() const noexcept { return FObjects[2]; }
  TComponent* RefreshObject() const noexcept { return FObjects[3]; }
  void SetInsertObject(TComponent* value) { SetObject(0, value); }
  void SetModifyObject(TComponent* value) { SetObject(1, value); }
  void SetDeleteObject(TComponent* value) { SetObject(2, value); }
  void SetRefreshObject(TComponent* value) { SetObject(3, value); }

  // The classes an update object may have, by name and by test.
  virtual std::string DataSetClassName() const { return "TCustomDADataSet"; }
  virtual std::string SQLClassName() const { return "TCustomDASQL"; }
  virtual bool IsDataSetObject(TComponent* object) const;
  virtual bool IsSQLObject(TComponent* object) const;

  void Assign(TPersistent* source) override;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void SetObject(int index, TComponent* value);

  TStringList FInsertSQL, FModifySQL, FDeleteSQL, FRefreshSQL;
  TCustomDADataSet* FDataSet = nullptr;
  TComponent* FObjects[4] = {nullptr, nullptr, nullptr, nullptr};
};
