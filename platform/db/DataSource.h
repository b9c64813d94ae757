// Data sources and data links: how controls and detail datasets follow a dataset.
//
// A dataset tells its data sources of every change (TDataEvent); a data source passes the
// notice on to its links while it is enabled. A link turns the notices into calls of its
// virtual handlers: ActiveChanged, EditingChanged, DataSetChanged, DataSetScrolled,
// LayoutChanged, RecordChanged, UpdateData (write pending text into the fields before a Post),
// CheckBrowseMode and FocusControl.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/db/DataSet.h"

class TDataLink;

class TDataSource : public TComponent {
 public:
  using TDataChangeEvent = std::function<void(TDataSource* sender, TField* field)>;
  using TSourceNotifyEvent = std::function<void(TDataSource* sender)>;

  explicit TDataSource(TComponent* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const noexcept { return FDataSet; }
  // EDatabaseError "Circular datalinks are not allowed" when the dataset follows this source.
  void SetDataSet(TDataSet* value);
  bool Enabled() const noexcept { return FEnabled; }
  void SetEnabled(bool value);
  // Edit asks the dataset to edit only with AutoEdit.
  bool AutoEdit = true;
  // The dataset's state; inactive without a dataset or while disabled.
  TDataSetState State() const noexcept { return FState; }
  // Puts a browsing dataset into edit state (with AutoEdit).
  void Edit();
  // Whether the dataset follows a master through this source's chain.
  bool IsLinkedTo(TDataSet* dataSet) const;
  int LinkCount() const noexcept { return static_cast<int>(FLinks.size()); }

  TSourceNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;  // field nil: the record or the whole dataset
  TSourceNotifyEvent OnUpdateData;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, intptr_t info);
  void NotifyLinks(TDataEvent event, intptr_t info);
  void UpdateState();
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);

  TDataSet* FDataSet = nullptr;
  std::vector<TDataLink*> FLinks;
  TDataSetState FState = dsInactive;
  bool FEnabled = true;
};

// The base of every link: a control, a grid model or a detail dataset follows a data source
// through it. The link removes itself from its source when destroyed.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const noexcept { return FDataSource; }
  void SetDataSource(TDataSource* value);
  TDataSet* DataSet() const noexcept { return FDataSource ? FDataSource->DataSet() : nullptr; }
  bool Active() const noexcept { return FActive; }
  // The dataset is in edit or insert state and the link is not read-only.
  bool Editing() const noexcept { return FEditing; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool value);
  // Asks the source to edit (AutoEdit); true when the link is then editing.
  bool Edit();
  // Writes the link's pending changes (UpdateData), once.
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField* /*field*/) {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}
  // Dispatches a notice of the source to the handlers above.
  virtual void DataEvent(TDataEvent event, intptr_t info);

 private:
  friend class TDataSource;
  void UpdateState();

  TDataSource* FDataSource = nullptr;
  bool FActive = false;
  bool FEditing = false;
  bool FReadOnly = false;
  bool FUpdating = false;
};

// A link to one field of the current record, for data-aware controls. A control marks the link
// Modified when its text changes while editing; at Post (UpdateData) OnUpdateData writes the
// text into the field.
class TFieldDataLink : public TDataLink {
 public:
  using TLinkEvent = std::function<void(TFieldDataLink* sender)>;

  const std::string& FieldName() const noexcept { return FFieldName; }
  void SetFieldName(const std::string& value);
  // The dataset's field of that name while active; nil otherwise.
  TField* Field() const noexcept { return FField; }
  bool CanModify() const;
  // Puts the dataset into edit state when the field may be changed.
  bool Edit();
  void Modified() { FModified = true; }
  bool IsModified() const noexcept { return FModified; }
  // Shows the field's value again, dropping pending changes.
  void Reset();

  TLinkEvent OnDataChange;     // the field's value is to be shown
  TLinkEvent OnEditingChange;  // the link started or stopped editing
  TLinkEvent OnUpdateData;     // write pending text into the field
  TLinkEvent OnActiveChange;
  TLinkEvent OnFocusControl;  // the control is to take the focus

 protected:
  void ActiveChanged() override;
  void EditingChanged() override;
  void FocusControl(TField* field) override;
  void LayoutChanged() override { UpdateField(); }
  void RecordChanged(TField* field) override;
  void UpdateData() override;

 private:
  void UpdateField();

  std::string FFieldName;
  TField* FField = nullptr;
  bool FModified = false;
};

// A link through which a detail dataset follows its master.
class TDetailDataLink : public TDataLink {
 public:
  virtual TDataSet* DetailDataSet() const { return nullptr; }
};

// The master link of a detail dataset: the master's fields named in FieldNames (separated by
// ";"); OnMasterChange when the master moves or one of those fields changes, OnMasterDisable
// when the master closes. The detail also receives deParentScroll.
class TMasterDataLink : public TDetailDataLink {
 public:
  using TLinkEvent = std::function<void(TMasterDataLink* sender)>;

  explicit TMasterDataLink(TDataSet* detail) : FDetail(detail) {}

  TDataSet* DetailDataSet() const override { return FDetail; }
  const std::string& FieldNames() const noexcept { return FFieldNames; }
  void SetFieldNames(const std::string& value);
  const std::vector<TField*>& Fields() const noexcept { return FFields; }

  TLinkEvent OnMasterChange;
  TLinkEvent OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(TField* field) override;

 private:
  TDataSet* FDetail;
  std::string FFieldNames;
  std::vector<TField*> FFields;
};
