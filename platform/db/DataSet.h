// TDataSet: the base of every dataset. This part holds its fields and field definitions, its
// state, and the field-data hooks a dataset implements.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/db/FieldDefs.h"
#include "platform/db/Fields.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Components.h"

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsBlockRead,
  dsOpening,
};

enum TDataEvent : uint8_t {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  deFocusControl,
  deParentScroll,
  deConnectChange,
};

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner = nullptr);
  ~TDataSet() override;

  // ---- Fields ----
  TFields& Fields() const noexcept { return *FFields; }
  TFieldDefs& FieldDefs() const noexcept { return *FFieldDefs; }
  int FieldCount() const noexcept { return FFields->Count(); }
  TField* FindField(std::string_view name) const { return FFields->FindField(name); }
  // EDatabaseError "Field '%s' not found".
  TField* FieldByName(std::string_view name) const { return FFields->FieldByName(name); }
  // Describes the cursor in FieldDefs (InternalInitFieldDefs) unless they are up to date.
  void InitFieldDefs();

  // ---- State ----
  TDataSetState State() const noexcept { return FState; }
  bool Active() const noexcept { return FState != dsInactive && FState != dsOpening; }
  // EDatabaseError "Cannot perform this operation on an open dataset" / "... on a closed dataset".
  void CheckInactive() const;
  void CheckActive() const;
  // Whether records may be changed at all; true here.
  virtual bool CanModify() const { return true; }

  // ---- Field data (the dataset implements these) ----
  // Copies the field's value from the record buffer of the current state into buffer, in the
  // field's native form (DataSize bytes at most); buffer nil only asks whether there is a value.
  // False when the field is null or there is no record.
  virtual bool GetFieldData(TField* field, void* buffer);
  // Stores the native form from buffer (nil: null) in the record buffer of the current state.
  // The checks, validation and change notice are the caller's (TField::SetData).
  virtual void SetFieldData(TField* field, const void* buffer);
  // A stream over a blob field's value in the current record buffer.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);

  // ---- Field writes ----
  // Raises EDatabaseError "Dataset not in edit or insert mode" unless the state is edit, insert,
  // set-key, calc-fields, filter or new-value; "Field '%s' cannot be modified" for a read-only
  // field outside calc-fields, filter and new-value.
  void CheckFieldWritable(TField* field);
  // After a field's value was stored: the field-change notice, except in the states that compute
  // values (calc-fields, filter, new-value).
  void FieldValueChanged(TField* field);
  // Reads / writes a field as the given state shows it (old and new values).
  Variant GetStateFieldValue(TDataSetState state, TField* field);
  void SetStateFieldValue(TDataSetState state, TField* field, const Variant& value);

  // ---- Notifications ----
  virtual void DataEvent(TDataEvent event, intptr_t info);

 protected:
  // Describes the cursor's columns in FieldDefs.
  virtual void InternalInitFieldDefs() {}
  void SetState(TDataSetState value);
  // Switches to a state for a computation; RestoreState returns to the state given back.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState value);
  [[noreturn]] void AbstractError(const char* operation) const;

 private:
  friend class TField;

  std::unique_ptr<TFields> FFields;
  std::unique_ptr<TFieldDefs> FFieldDefs;
  TDataSetState FState = dsInactive;
};
