// The data-aware grid's model: a table over a dataset, reached through a data link. One row per
// record (row r is RecNo r + 1), one column per configured field, or per visible field when
// none are configured. Cell text is the field's display text decoded from the connection's
// character set; it is read through the dataset's peek scope (the current record stays where
// it is, no statement runs) and cached per row until the data changes.
#pragma once

#include <QAbstractTableModel>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/db/DataSet.h"
#include "platform/widgets/FieldText.h"

class TDataSource;

struct TDBGridColumn {
  std::string FieldName;
  QString Title;                           // empty: the field's display label
  int Width = -1;                          // pixels; -1: from the field's display width
  std::optional<Qt::Alignment> Alignment;  // nothing: the field's alignment
  bool ReadOnly = false;
};

class TDBGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The row's RecNo (row + 1), for the paint hook and the window's own code.
  static constexpr int RecNoRole = Qt::UserRole + 1;

  explicit TDBGridModel(QObject* parent = nullptr);
  ~TDBGridModel() override;

  void SetDataSource(TDataSource* source);
  TDataSource* DataSource() const;
  // The dataset of the data source while the link is active, else nil.
  TDataSet* DataSet() const;
  // Configured columns; an empty list shows every visible field.
  void SetColumns(std::vector<TDBGridColumn> columns);
  const std::vector<TDBGridColumn>& Columns() const noexcept { return FColumns; }
  // Changes one column's title (the browsers mark the sorted column).
  void SetColumnTitle(int column, const QString& title);
  void SetCharset(TFieldCharset charset);
  TFieldCharset Charset() const noexcept { return FCharset; }
  void SetReadOnly(bool value);
  bool ReadOnly() const noexcept { return FReadOnly; }

  // The field shown in a column; nil when the dataset has no such field or is closed.
  TField* ColumnField(int column) const;
  // Configured width, or -1 for "from the field".
  int ConfiguredWidth(int column) const;
  // Characters the field asks for (its display width), 0 without a field.
  int FieldDisplayWidth(int column) const;
  // The dataset's current row (RecNo - 1), -1 when it is closed or empty.
  int CurrentRow() const;
  // Rows held in the text cache (the grid reads only what it shows).
  size_t CachedRows() const noexcept { return FCache.size(); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Puts the dataset into edit state and sets the field's text; a text equal to the field's
  // puts nothing into edit state. An error goes to the error report and refuses the edit.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 signals:
  // The dataset's current record moved (row = RecNo - 1, -1 when none).
  void CurrentRowChanged(int row);
  // Columns were rebuilt: the view applies widths again.
  void ColumnsRebuilt();

 private:
  class TLink;
  friend class TLink;

  struct TShownColumn {
    TField* Field;  // nil when the configured name is not in the dataset
    int Config;     // index into FColumns, -1 for a field shown by default
  };

  void Rebuild();
  void RowsChanged();
  void CurrentRecordChanged();
  void Scrolled();
  const std::vector<QString>& RowTexts(int row) const;
  std::vector<QString> ReadRowTexts(int row) const;
  QString CellText(TField* field, bool display) const;
  bool IsReadOnlyColumn(int column) const;
  bool IsCell(const QModelIndex& index) const;
  // Columns are Qt's int indexes, checked by the callers.
  const TShownColumn& Shown(int column) const { return FShown[static_cast<size_t>(column)]; }
  TDBGridColumn& Configured(int config) { return FColumns[static_cast<size_t>(config)]; }
  const TDBGridColumn& Configured(int config) const { return FColumns[static_cast<size_t>(config)]; }
  // The grid's own peek buffer on the current dataset.
  TDataSet::TPeekBuffer& PeekBuffer() const;

  std::unique_ptr<TLink> FLink;
  std::vector<TDBGridColumn> FColumns;
  std::vector<TShownColumn> FShown;
  TFieldCharset FCharset = TFieldCharset::Gbk;
  bool FReadOnly = false;
  int FRows = 0;
  mutable std::unordered_map<int, std::vector<QString>> FCache;
  mutable std::unique_ptr<TDataSet::TPeekBuffer> FPeek;
};
