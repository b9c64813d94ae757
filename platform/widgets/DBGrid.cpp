#include "platform/widgets/DBGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <algorithm>

#include "platform/db/DataSource.h"
#include "platform/widgets/ErrorReport.h"

namespace {

// Widest column a field's display width gives, in characters: long text columns stay usable.
constexpr int MaxDefaultChars = 64;

class TDBGridDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  TDBGrid::TDrawCellHook Hook;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (!Hook) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    TDBGridCellPaint cell{painter,
                          option,
                          index,
                          index.data(TDBGridModel::RecNoRole).toInt(),
                          option.state.testFlag(QStyle::State_Selected),
                          {}};
    // The option is complete before the hook sees it, so what the hook changes is drawn as is.
    initStyleOption(&cell.Option, index);
    cell.DrawDefault = [&cell] {
      const QWidget* widget = cell.Option.widget;
      QStyle* style = widget ? widget->style() : QApplication::style();
      style->drawControl(QStyle::CE_ItemViewItem, &cell.Option, cell.Painter, widget);
    };
    // Painting is an event handler too: a failing hook is reported once and the cell drawn plainly.
    if (!Guarded([&] { Hook(cell); })) QStyledItemDelegate::paint(painter, option, index);
  }
};

}  // namespace

TDBGrid::TDBGrid(QWidget* parent)
    : QTableView(parent), FModel(new TDBGridModel(this)), FDelegate(new TDBGridDelegate(this)) {
  setModel(FModel);
  setItemDelegate(FDelegate);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // Double click belongs to the window (it opens neighbouring browsers); typing or F2 edits.
  setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  horizontalHeader()->setSectionsClickable(true);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &TDBGrid::TitleClicked);
  connect(this, &QAbstractItemView::doubleClicked, this, [this] { emit RecordDoubleClicked(); });
  connect(FModel, &TDBGridModel::ColumnsRebuilt, this, &TDBGrid::ApplyColumnWidths);
  connect(FModel, &TDBGridModel::CurrentRowChanged, this, &TDBGrid::FollowDataSet);
}

TDBGrid::~TDBGrid() = default;

void TDBGrid::SetReadOnly(bool value) {
  FModel->SetReadOnly(value);
  setEditTriggers(value ? QAbstractItemView::NoEditTriggers
                        : QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
}

void TDBGrid::SetMultiSelect(bool value) {
  setSelectionMode(value ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

std::vector<int> TDBGrid::SelectedRecNos() const {
  std::vector<int> recNos;
  for (const QModelIndex& index : selectionModel()->selectedRows()) recNos.push_back(index.row() + 1);
  std::sort(recNos.begin(), recNos.end());
  return recNos;
}

void TDBGrid::SetOnDrawCell(TDrawCellHook hook) {
  static_cast<TDBGridDelegate*>(FDelegate)->Hook = std::move(hook);
  viewport()->update();
}

int TDBGrid::DefaultColumnWidth(int column) const {
  int chars = std::clamp(FModel->FieldDisplayWidth(column), 1, MaxDefaultChars);
  return chars * fontMetrics().averageCharWidth() + 8;
}

void TDBGrid::ApplyColumnWidths() {
  for (int c = 0; c < FModel->columnCount(); ++c) {
    int width = FModel->ConfiguredWidth(c);
    horizontalHeader()->resizeSection(c, width >= 0 ? width : DefaultColumnWidth(c));
  }
}

void TDBGrid::FollowDataSet(int row) {
  if (FMoving) return;
  QModelIndex current = currentIndex();
  if (row < 0 || (current.isValid() && current.row() == row)) return;
  int column = current.isValid() ? current.column() : 0;
  FSyncing = true;
  setCurrentIndex(FModel->index(row, column));
  FSyncing = false;
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  // The base commits an open editor into the dataset before the row is left.
  QTableView::currentChanged(current, previous);
  if (FSyncing || !current.isValid()) return;
  if (previous.isValid() && previous.row() == current.row()) return;
  MoveDataSet(current, previous);
}

void TDBGrid::MoveDataSet(const QModelIndex& current, const QModelIndex& previous) {
  TDataSet* ds = FModel->DataSet();
  if (!ds) return;
  const int target = current.row() + 1;
  // The dataset's own notices while it posts and moves would pull the view back and forth.
  FMoving = true;
  bool moved = Guarded([&] {
    // Leaving an edited row posts it, as the platform's grid did.
    if (ds->State() == dsEdit || ds->State() == dsInsert) ds->Post();
    if (ds->RecNo() != target) ds->SetRecNo(target);
  });
  FMoving = false;
  if (moved) {
    FollowDataSet(FModel->CurrentRow());
  } else {
    PutBack(previous);
  }
}

void TDBGrid::PutBack(const QModelIndex& previous) {
  if (!previous.isValid()) return;
  FSyncing = true;
  selectionModel()->setCurrentIndex(previous,
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  FSyncing = false;
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
    emit RefreshRequested();
    return;
  }
  if (event->key() == Qt::Key_Escape && state() != QAbstractItemView::EditingState) {
    Guarded([&] {
      TDataSet* ds = FModel->DataSet();
      if (ds && (ds->State() == dsEdit || ds->State() == dsInsert)) ds->Cancel();
    });
    return;
  }
  QTableView::keyPressEvent(event);
}
