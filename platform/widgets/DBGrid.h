// The data-aware grid: a table view over TDBGridModel. The current row follows the dataset and
// the dataset follows the current row; leaving an edited row posts it (a failed post puts the
// selection back on that row), Esc cancels the row's changes, F5 asks for a refresh.
#pragma once

#include <QStyleOptionViewItem>
#include <QTableView>
#include <functional>
#include <vector>

#include "platform/widgets/DBGridModel.h"

class QStyledItemDelegate;

// One cell being drawn. The hook may change Option (background, font, colours) and then calls
// DrawDefault, and may draw over the cell afterwards.
struct TDBGridCellPaint {
  QPainter* Painter;
  QStyleOptionViewItem Option;
  QModelIndex Index;
  int RecNo;      // the drawn row's record number
  bool Selected;  // selected cells are usually left to the default drawing
  std::function<void()> DrawDefault;
};

class TDBGrid : public QTableView {
  Q_OBJECT

 public:
  using TDrawCellHook = std::function<void(TDBGridCellPaint& cell)>;

  explicit TDBGrid(QWidget* parent = nullptr);
  ~TDBGrid() override;

  TDBGridModel& GridModel() noexcept { return *FModel; }
  void SetDataSource(TDataSource* source) { FModel->SetDataSource(source); }
  void SetColumns(std::vector<TDBGridColumn> columns) { FModel->SetColumns(std::move(columns)); }
  void SetCharset(TFieldCharset charset) { FModel->SetCharset(charset); }
  void SetReadOnly(bool value);
  bool ReadOnly() const noexcept { return FModel->ReadOnly(); }
  // Several rows may be selected (Ctrl and Shift clicks).
  void SetMultiSelect(bool value);
  // RecNo of each selected row, ascending.
  std::vector<int> SelectedRecNos() const;
  void SetOnDrawCell(TDrawCellHook hook);
  // Width a column gets from its field when none is configured.
  int DefaultColumnWidth(int column) const;

 signals:
  void TitleClicked(int column);
  void RecordDoubleClicked();
  void RefreshRequested();

 protected:
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ApplyColumnWidths();
  void FollowDataSet(int row);
  void MoveDataSet(const QModelIndex& current, const QModelIndex& previous);
  void PutBack(const QModelIndex& previous);

  TDBGridModel* FModel;
  QStyledItemDelegate* FDelegate;
  bool FSyncing = false;  // the view follows the dataset: no move back
  bool FMoving = false;   // the dataset follows the view: its notices are not followed
};
