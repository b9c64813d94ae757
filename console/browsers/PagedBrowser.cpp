#include "console/browsers/PagedBrowser.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/browsers/BrowserLinks.h"
#include "console/common/MyLoginConnection.h"
#include "console/common/ServerWaitBox.h"
#include "console/common/TypedText.h"
#include "console/controls/FlatBtns.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

const QString kAscending = QStringLiteral("▲");
const QString kDescending = QStringLiteral("▼");

// Odd rows dark, even rows light, each cell lined at its bottom and right edge.
void DrawBrowserCell(TDBGridCellPaint& cell) {
  if (cell.Selected) return cell.DrawDefault();
  cell.Option.backgroundBrush = (cell.RecNo % 2 != 0) ? QColor(153, 0, 102) : QColor(204, 153, 0);
  cell.DrawDefault();
  const QRect r = cell.Option.rect;
  cell.Painter->save();
  cell.Painter->setPen(QColor(150, 194, 241));
  cell.Painter->drawLine(r.bottomLeft(), r.bottomRight());
  cell.Painter->drawLine(r.topRight(), r.bottomRight());
  cell.Painter->restore();
}

}  // namespace

TFlatButton* AddStripButton(QWidget* parent, QLayout* layout, const QString& caption, int width) {
  auto* button = new TFlatButton(parent);
  button->SetCaption(caption);
  button->setFixedSize(width, 24);
  layout->addWidget(button);
  return button;
}

QLabel* AddStripLink(QWidget* parent, QLayout* layout, const QString& caption) {
  auto* label = new QLabel(QStringLiteral("<a href=\"#\">") + caption + QStringLiteral("</a>"), parent);
  layout->addWidget(label);
  return label;
}

// Shows the busy panel and disables what could start another query; undone on
// every path.
class TPagedBrowser::TBusyScope {
 public:
  explicit TBusyScope(TPagedBrowser& owner) : FOwner(owner) {
    FOwner.SetBusy(true);
    Ui().ProcessMessages();
  }
  ~TBusyScope() {
    FOwner.SetBusy(false);
    CloseIfLeftBehind(&FOwner);
  }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

 private:
  TPagedBrowser& FOwner;
  // One 取消 in the wait box ends the whole page load.
  TServerWaitAction FWaits;
};

TPagedBrowser::TPagedBrowser(TCustomMyConnection& connection, const QString& charsetText,
                             const TBrowserTexts& texts, QWidget* parent)
    : QWidget(parent),
      FConnection(connection),
      FTexts(texts),
      FPaging(texts),
      FFieldCharset(FieldCharsetOfChoice(charsetText)),
      FQuery(std::make_unique<TMyQuery>()),
      FCount(std::make_unique<TMyQuery>()),
      FSource(std::make_unique<TMyDataSource>()) {
  setAttribute(Qt::WA_DeleteOnClose);
  for (TMyQuery* q : {FQuery.get(), FCount.get()}) q->SetCommandTimeout(kReadTimeoutSeconds);
  // The game's tables have columns named by reserved words (`from`, `Int`): the statements the
  // dataset writes name every column back-quoted.
  FQuery->Options().QuoteNames = true;
  FSource->SetDataSet(FQuery.get());
  BuildControls();
}

TPagedBrowser::~TPagedBrowser() {
  // The grid lets go of the data source before the queries close.
  dbgrd1->SetDataSource(nullptr);
}

void TPagedBrowser::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  dbgrd1 = new TDBGrid(this);
  dbgrd1->SetCharset(FFieldCharset);
  dbgrd1->SetDataSource(FSource.get());
  dbgrd1->SetOnDrawCell(&DrawBrowserCell);
  dbgrd1->horizontalHeader()->setStyleSheet(
      QStringLiteral("QHeaderView::section { background-color: rgb(255,153,0); "
                     "color: black; font-family: \"宋体\"; "
                     "font-size: 9pt; }"));
  FitWholePage();
  layout->addWidget(dbgrd1, 1);

  FPagingStrip = new QWidget(this);
  auto* strip = new QHBoxLayout(FPagingStrip);
  strip->setContentsMargins(0, 0, 0, 0);
  lbl2 = new QLabel(FPagingStrip);
  auto* sizeBefore = new QLabel(QStringLiteral("每页显示"), FPagingStrip);
  e1 = new QLineEdit(FPagingStrip);
  e1->setFixedWidth(40);
  auto* sizeAfter = new QLabel(QStringLiteral("条记录"), FPagingStrip);
  lbl11 = new QLabel(FPagingStrip);
  btn2 = new TFlatButton(FPagingStrip);
  btn2->SetCaption(QStringLiteral("刷 新(F5)"));
  btn4 = new TFlatButton(FPagingStrip);
  btn4->SetCaption(QStringLiteral("上一页"));
  btn3 = new TFlatButton(FPagingStrip);
  btn3->SetCaption(QStringLiteral("下一页"));
  for (QWidget* w : std::initializer_list<QWidget*>{lbl2, sizeBefore, e1, sizeAfter, lbl11})
    strip->addWidget(w);
  strip->addStretch(1);
  for (TFlatButton* b : {btn2, btn4, btn3}) {
    b->setFixedSize(80, 24);
    strip->addWidget(b);
  }
  layout->addWidget(FPagingStrip);

  pnl1 = new QLabel(QStringLiteral("数据加载中..."), this);
  pnl1->setAlignment(Qt::AlignCenter);
  pnl1->setStyleSheet(QStringLiteral("background: rgb(255,255,225); border: 1px solid gray;"));
  pnl1->setFixedSize(160, 40);
  pnl1->hide();

  ConnectGuarded(btn2, &TFlatButton::clicked, this, [this] { RefreshPages(); });
  ConnectGuarded(dbgrd1, &TDBGrid::RefreshRequested, this, [this] { RefreshPages(); });
  ConnectGuarded(btn4, &TFlatButton::clicked, this, [this] { PreviousPage(); });
  ConnectGuarded(btn3, &TFlatButton::clicked, this, [this] { NextPage(); });
  ConnectGuarded(e1, &QLineEdit::returnPressed, this, [this] { ChangePageSize(); });
  ConnectGuarded(dbgrd1, &TDBGrid::TitleClicked, this, [this](int column) { SortByColumn(column); });
}

void TPagedBrowser::SetGridColumns(std::vector<TDBGridColumn> columns) {
  dbgrd1->SetColumns(std::move(columns));
}

void TPagedBrowser::AddHelpLink(QWidget* parent, QLayout* layout, const QString& caption, const char* help) {
  ConnectGuarded(AddStripLink(parent, layout, caption), &QLabel::linkActivated, this,
                 [help](const QString&) { ShowMessage(QString::fromUtf8(help)); });
}

void TPagedBrowser::FitWholePage() {
  // A whole page of the default size shows without scrolling, also above a horizontal scroll bar
  // when the columns are wider than the grid.
  const QScrollBar* across = dbgrd1->horizontalScrollBar();
  const int acrossHeight = across->maximum() > 0 || across->isVisible() ? across->sizeHint().height() : 0;
  dbgrd1->setMinimumHeight(dbgrd1->horizontalHeader()->sizeHint().height() +
                           kDefaultPageSize * dbgrd1->verticalHeader()->defaultSectionSize() +
                           2 * dbgrd1->frameWidth() + 2 + acrossHeight);
}

std::string TPagedBrowser::Encode(const QString& text) const {
  // A "?" in place of a character the set lacks would find other rows than the ones named.
  return TypedBytes(text, FFieldCharset, QStringLiteral("搜索条件"));
}

void TPagedBrowser::SetBusy(bool on) {
  FBusy = on;
  for (QWidget* w : {static_cast<QWidget*>(btn2), static_cast<QWidget*>(btn3), static_cast<QWidget*>(btn4),
                     static_cast<QWidget*>(e1)})
    w->setEnabled(!on);
  for (QWidget* w : FBusyControls) w->setEnabled(!on);
  dbgrd1->horizontalHeader()->setSectionsClickable(!on);
  if (on) {
    pnl1->move((width() - pnl1->width()) / 2, (height() - pnl1->height()) / 2);
    pnl1->raise();
  }
  pnl1->setVisible(on);
}

void TPagedBrowser::closeEvent(QCloseEvent* event) {
  // A handler below on the stack still uses this window.
  if (FBusy) return event->ignore();
  QWidget::closeEvent(event);
}

void TPagedBrowser::OpenPage(const std::string& sql) {
  FQuery->Close();
  FQuery->SetConnection(&FConnection);
  FQuery->SetSQLText(sql);
  FQuery->Open();
}

int64_t TPagedBrowser::CountRows(const std::string& sql) {
  FCount->Close();
  FCount->SetConnection(&FConnection);
  FCount->SetSQLText(sql);
  FCount->Open();
  const int64_t total = FCount->Fields()[0]->AsLargeInt();
  FCount->Close();
  return total;
}

void TPagedBrowser::Run(const TPageStep& step) {
  std::optional<int64_t> total;
  try {
    TBusyScope busy(*this);
    OpenPage(step.PageSQL);
    if (!step.CountSQL.empty()) total = CountRows(step.CountSQL);
  } catch (...) {
    // The grid lost the page it showed: the labels would name a page and a count no longer shown.
    lbl2->clear();
    lbl11->clear();
    throw;
  }
  FPaging.Commit(step, total);
  ShowLabels(step.Label);
}

void TPagedBrowser::ShowLabels(TCountLabel label) {
  const TPagingState& s = FPaging.State();
  lbl2->setText(QString::fromStdString(PageLabel(s)));
  if (label == TCountLabel::Total) FCountText = QString::fromStdString(FTexts.TotalLabel(s.RecordTotal));
  if (label == TCountLabel::Search) FCountText = QString::fromStdString(FTexts.SearchLabel(s.RecordTotal));
  // Shown again after a failed page cleared it.
  lbl11->setText(FCountText);
}

void TPagedBrowser::RefreshPages() {
  Run(FPaging.Refresh());
  // The titles' row has its height only once a page has shown its columns.
  FitWholePage();
  e1->setText(QString::number(PagingState().PageSize));
  const auto& columns = dbgrd1->GridModel().Columns();
  for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
    QString title = columns[static_cast<size_t>(c)].Title;
    if (title.startsWith(kAscending) || title.startsWith(kDescending)) title.remove(0, 1);
    dbgrd1->GridModel().SetColumnTitle(c, title);
  }
}

void TPagedBrowser::ChangePageSize() {
  const int size = ParsePageSize(e1->text().toStdString());
  Run(FPaging.PageSize(size));
}

void TPagedBrowser::PreviousPage() {
  if (auto step = FPaging.Previous()) Run(*step);
}

void TPagedBrowser::NextPage() {
  if (auto step = FPaging.Next()) Run(*step);
}

void TPagedBrowser::RunSearch(const std::string& where, bool ticked) {
  Run(FPaging.Search(where, ticked));
}

void TPagedBrowser::RunFilter(const std::string& where) {
  Run(FPaging.Filter(where));
}

void TPagedBrowser::SortByColumn(int column) {
  TDBGridModel& model = dbgrd1->GridModel();
  TField* field = model.ColumnField(column);
  if (field == nullptr) return;
  std::vector<QString> titles;
  for (int c = 0; c < model.columnCount(); ++c) {
    QString title = model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    if (title.startsWith(kAscending) || title.startsWith(kDescending)) title.remove(0, 1);
    titles.push_back(title);
  }
  const QString clicked = model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  const bool descending = clicked.startsWith(kAscending);
  const TPageStep step = FPaging.Sort(QuotedColumn(field->FieldName(), LiteralStyle().Charset), descending);
  try {
    Run(step);
  } catch (const EAbort&) {
    throw;
  } catch (...) {
    ShowMessageBox(QStringLiteral("数据库连接失败，请检查网络！"), CaptionWarning, TMsgIcon::Error);
    return;
  }
  for (int c = 0; c < static_cast<int>(titles.size()); ++c)
    model.SetColumnTitle(c, c == column
                                ? (descending ? kDescending : kAscending) + titles[static_cast<size_t>(c)]
                                : titles[static_cast<size_t>(c)]);
}
