#include "platform/widgets/DBGridModel.h"

#include "platform/db/DataSource.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/ErrorReport.h"

namespace {

// The text cache is dropped whole once it holds this many rows: a grid shows a few dozen.
constexpr size_t CacheLimit = 2048;

Qt::Alignment QtAlignment(TAlignment alignment) {
  switch (alignment) {
    case taRightJustify:
      return Qt::AlignRight | Qt::AlignVCenter;
    case taCenter:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
      return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

}  // namespace

// Forwards the dataset's notifications to the model.
class TDBGridModel::TLink : public TDataLink {
 public:
  explicit TLink(TDBGridModel& model) : FModel(model) {}

 protected:
  void ActiveChanged() override { FModel.Rebuild(); }
  void LayoutChanged() override { FModel.Rebuild(); }
  void DataSetChanged() override { FModel.RowsChanged(); }
  void DataSetScrolled(int) override { FModel.Scrolled(); }
  void RecordChanged(TField*) override { FModel.CurrentRecordChanged(); }

 private:
  TDBGridModel& FModel;
};

TDBGridModel::TDBGridModel(QObject* parent)
    : QAbstractTableModel(parent), FLink(std::make_unique<TLink>(*this)) {}

// The link leaves its data source quietly: no notice reaches a model (or a view) being destroyed.
TDBGridModel::~TDBGridModel() = default;

TDataSet::TPeekBuffer& TDBGridModel::PeekBuffer() const {
  TDataSet* ds = DataSet();
  DA_ASSERT(ds);
  if (!FPeek || FPeek->DataSet() != ds) FPeek = ds->CreatePeekBuffer();
  return *FPeek;
}

void TDBGridModel::SetDataSource(TDataSource* source) {
  FLink->SetDataSource(source);
  Rebuild();
}

TDataSource* TDBGridModel::DataSource() const {
  return FLink->DataSource();
}

TDataSet* TDBGridModel::DataSet() const {
  return FLink->Active() ? FLink->DataSet() : nullptr;
}

void TDBGridModel::SetColumns(std::vector<TDBGridColumn> columns) {
  FColumns = std::move(columns);
  Rebuild();
}

void TDBGridModel::SetColumnTitle(int column, const QString& title) {
  if (column < 0 || column >= columnCount()) return;
  int config = Shown(column).Config;
  if (config < 0) return;
  Configured(config).Title = title;
  emit headerDataChanged(Qt::Horizontal, column, column);
}

void TDBGridModel::SetCharset(TFieldCharset charset) {
  if (charset == FCharset) return;
  FCharset = charset;
  Rebuild();
}

void TDBGridModel::SetReadOnly(bool value) {
  FReadOnly = value;
}

TField* TDBGridModel::ColumnField(int column) const {
  return column >= 0 && column < columnCount() ? Shown(column).Field : nullptr;
}

int TDBGridModel::ConfiguredWidth(int column) const {
  if (column < 0 || column >= columnCount() || Shown(column).Config < 0) return -1;
  return Configured(Shown(column).Config).Width;
}

int TDBGridModel::FieldDisplayWidth(int column) const {
  TField* field = ColumnField(column);
  return field ? field->DisplayWidth() : 0;
}

int TDBGridModel::CurrentRow() const {
  TDataSet* ds = DataSet();
  if (!ds || FRows == 0) return -1;
  int recNo = ds->RecNo();
  return recNo >= 1 && recNo <= FRows ? recNo - 1 : -1;
}

void TDBGridModel::Rebuild() {
  beginResetModel();
  FShown.clear();
  FCache.clear();
  FPeek.reset();
  FRows = 0;
  if (TDataSet* ds = DataSet()) {
    if (FColumns.empty()) {
      for (TField* field : ds->Fields())
        if (field->Visible()) FShown.push_back({field, -1});
    } else {
      for (size_t i = 0; i < FColumns.size(); ++i)
        FShown.push_back({ds->FindField(FColumns[i].FieldName), static_cast<int>(i)});
    }
    FRows = std::max(ds->RecordCount(), 0);
  }
  endResetModel();
  emit ColumnsRebuilt();
  emit CurrentRowChanged(CurrentRow());
}

void TDBGridModel::RowsChanged() {
  TDataSet* ds = DataSet();
  int rows = ds ? std::max(ds->RecordCount(), 0) : 0;
  FCache.clear();
  if (rows != FRows) {
    beginResetModel();
    FRows = rows;
    endResetModel();
  } else if (FRows > 0 && !FShown.empty()) {
    emit dataChanged(index(0, 0), index(FRows - 1, columnCount() - 1));
  }
  emit CurrentRowChanged(CurrentRow());
}

void TDBGridModel::CurrentRecordChanged() {
  int row = CurrentRow();
  if (row < 0) return;
  FCache.erase(row);
  if (!FShown.empty()) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TDBGridModel::Scrolled() {
  emit CurrentRowChanged(CurrentRow());
}

QString TDBGridModel::CellText(TField* field, bool display) const {
  if (!field) return QString();
  return DecodeFieldText(display ? field->DisplayText() : field->Text(), FCharset);
}

std::vector<QString> TDBGridModel::ReadRowTexts(int row) const {
  std::vector<QString> texts;
  texts.reserve(FShown.size());
  TDataSet* ds = DataSet();
  if (!ds) return texts;
  // The peek scope shows the row without moving the current record; the current record itself
  // is shown as it stands, unposted changes included.
  TDataSet::TPeekScope peek(PeekBuffer(), row + 1);
  if (!peek.Valid()) return std::vector<QString>(FShown.size());
  for (const TShownColumn& column : FShown) texts.push_back(CellText(column.Field, true));
  return texts;
}

const std::vector<QString>& TDBGridModel::RowTexts(int row) const {
  auto it = FCache.find(row);
  if (it != FCache.end()) return it->second;
  if (FCache.size() >= CacheLimit) FCache.clear();
  std::vector<QString> texts;
  try {
    texts = ReadRowTexts(row);
  } catch (...) {
    // Painting never raises: a row that cannot be read shows empty, once, not a box per paint.
    texts.assign(FShown.size(), QString());
  }
  return FCache.emplace(row, std::move(texts)).first->second;
}

int TDBGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : FRows;
}

int TDBGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FShown.size());
}

bool TDBGridModel::IsCell(const QModelIndex& index) const {
  return index.isValid() && index.model() == this && index.row() < FRows && index.column() < columnCount();
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const {
  if (!IsCell(index)) return QVariant();
  const TShownColumn& column = Shown(index.column());
  switch (role) {
    case Qt::DisplayRole: {
      const std::vector<QString>& texts = RowTexts(index.row());
      return index.column() < static_cast<int>(texts.size()) ? texts[static_cast<size_t>(index.column())]
                                                             : QString();
    }
    case Qt::EditRole: {
      QString text;
      Guarded([&] {
        if (!DataSet()) return;
        TDataSet::TPeekScope peek(PeekBuffer(), index.row() + 1);
        if (peek.Valid()) text = CellText(column.Field, false);
      });
      return text;
    }
    case Qt::TextAlignmentRole:
      if (column.Config >= 0 && Configured(column.Config).Alignment) {
        return QVariant::fromValue(*Configured(column.Config).Alignment);
      }
      return column.Field ? QVariant::fromValue(QtAlignment(column.Field->Alignment())) : QVariant();
    case RecNoRole:
      return index.row() + 1;
    default:
      return QVariant();
  }
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  const TShownColumn& column = Shown(section);
  if (role == Qt::DisplayRole) {
    if (column.Config >= 0 && !Configured(column.Config).Title.isEmpty())
      return Configured(column.Config).Title;
    if (column.Field) return DecodeFieldText(column.Field->DisplayLabel(), FCharset);
    return QString::fromStdString(Configured(column.Config).FieldName);
  }
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
  return QVariant();
}

bool TDBGridModel::IsReadOnlyColumn(int column) const {
  const TShownColumn& shown = Shown(column);
  if (FReadOnly || !shown.Field) return true;
  if (shown.Config >= 0 && Configured(shown.Config).ReadOnly) return true;
  return !shown.Field->CanModify();
}

Qt::ItemFlags TDBGridModel::flags(const QModelIndex& index) const {
  if (!IsCell(index)) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (!IsReadOnlyColumn(index.column())) flags |= Qt::ItemIsEditable;
  return flags;
}

bool TDBGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !IsCell(index)) return false;
  if (IsReadOnlyColumn(index.column())) return false;
  TField* field = Shown(index.column()).Field;
  return Guarded([&] {
    TDataSet* ds = DataSet();
    if (!ds) throw EDatabaseError("Dataset not in edit or insert mode");
    if (index.row() != CurrentRow()) ds->SetRecNo(index.row() + 1);
    std::string text = FieldTextToStore(*field, value.toString(), FCharset);
    if (text.empty() ? field->IsNull() || field->Text().empty() : field->Text() == text) return;
    if (!FLink->Edit()) throw EDatabaseError("Dataset not in edit or insert mode");
    field->SetText(text);
  });
}
