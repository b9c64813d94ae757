#include "console/items/ItemPicker.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <vector>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/browsers/BrowserPaging.h"
#include "console/browsers/PagedBrowser.h"
#include "console/common/MyLoginConnection.h"
#include "console/common/TypedText.h"
#include "console/controls/FlatBtns.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/DBGridModel.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

QString Utf8(const char* text) {
  return QString::fromUtf8(text);
}

}  // namespace

struct TPickerTexts {
  const char* Caption;
  const char* Table;
  const char* Columns;         // the select list
  const char* NameColumn;      // what a search compares
  const char* NameField;       // the field a pick hands over
  const char* CountPrefix;     // "角色数: "
  const char* Status;          // the status text on opening
  const char* Hint;            // the search edit's hint text
  const char* ReadFailure;     // opening and "显示全部"
  const char* FirstPageSpace;  // between the table and LIMIT
  const char* ListFull;        // a pick into a full list
  struct {
    const char* Field;
    const char* Title;
    int Width;
    bool Centred;
  } Grid[4];
};

namespace {

// By TPickerKind.
const TPickerTexts kPickerTexts[] = {
    {"物品发放—添加角色",
     "user",
     "ID,Name,Level,Deleted",
     "name",
     "Name",
     "角色数: ",
     "双击角色名即可添加到发放列表中...",
     "请输入角色名",
     "查询角色数据表失败！请检查网络连接！\r\n错误信息：",
     " ",
     "最多只能添加10个角色名！",
     {{"ID", "序号", 60, true},
      {"Name", "角色名", 140, true},
      {"Level", "等级", 60, true},
      {"deleted", "是否删除", 70, true}}},
    {"物品发放—添加物品",
     "t_itemname",
     "*",
     "itemname",
     "itemName",
     "装备数: ",
     "双击装备名即可添加到发放列表中...",
     "请输入物品名",
     "查询装备数据表失败！请检查网络连接！\r\n错误信息：",
     "  ",
     "最多只能添加10件物品！",
     {{"itemNo", "序号", 60, true},
      {"itemName", "物品名", 140, true},
      {"itemDbidx", "物品DNA", 80, true},
      {"itemMemo", "简介", 200, false}}},
};

std::vector<TDBGridColumn> GridColumns(const TPickerTexts& texts) {
  std::vector<TDBGridColumn> columns;
  for (const auto& c : texts.Grid)
    columns.push_back({c.Field, Utf8(c.Title), c.Width,
                       c.Centred ? std::optional<Qt::Alignment>(Qt::AlignCenter) : std::nullopt, true});
  return columns;
}

}  // namespace

QStringList MemoLines(const QPlainTextEdit& memo) {
  const QString text = memo.toPlainText();
  if (text.isEmpty()) return {};
  QStringList lines = text.split(QLatin1Char('\n'));
  // A closing line end starts no line of its own.
  if (lines.back().isEmpty()) lines.removeLast();
  return lines;
}

void AppendMemoLine(QPlainTextEdit& memo, const QString& line) {
  memo.appendPlainText(line);
}

TItemPicker::TItemPicker(TCustomMyConnection& con2, TFieldCharset charset, TPickerKind kind,
                         QPlainTextEdit& target, QWidget* parent)
    : QDialog(parent),
      FConnection(con2),
      FCharset(charset),
      FTexts(kPickerTexts[static_cast<int>(kind)]),
      FTarget(target),
      FQuery(std::make_unique<TMyQuery>()),
      FCount(std::make_unique<TMyQuery>()),
      FSource(std::make_unique<TMyDataSource>()) {
  setWindowTitle(Utf8(FTexts.Caption));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  for (TMyQuery* q : {FQuery.get(), FCount.get()}) q->SetCommandTimeout(kReadTimeoutSeconds);
  FQuery->SetFetchAll(true);
  FSource->SetDataSet(FQuery.get());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* top = new QHBoxLayout();
  edt1 = new QLineEdit(Utf8(FTexts.Hint), this);
  edt1->setFixedWidth(150);
  edt1->setStyleSheet(QStringLiteral("color: gray;"));
  edt1->installEventFilter(this);
  top->addWidget(edt1);
  chk1 = new QCheckBox(QStringLiteral("模糊查找"), this);
  chk1->setChecked(true);
  top->addWidget(chk1);
  Button1 = AddStripButton(this, top, QStringLiteral("查 找"), 60);
  Button2 = AddStripButton(this, top, QStringLiteral("显示全部"), 70);
  top->addStretch(1);
  lbl3 = new QLabel(this);
  top->addWidget(lbl3);
  layout->addLayout(top);
  dbgrd1 = new TDBGrid(this);
  dbgrd1->SetCharset(charset);
  dbgrd1->SetReadOnly(true);
  dbgrd1->SetDataSource(FSource.get());
  dbgrd1->SetColumns(GridColumns(FTexts));
  dbgrd1->setMinimumSize(420, 300);
  layout->addWidget(dbgrd1, 1);
  stat1 = new QLabel(Utf8(FTexts.Status), this);
  stat1->setFrameShape(QFrame::StyledPanel);
  layout->addWidget(stat1);
  pnl1 = new QLabel(QStringLiteral("数据载入中..."), this);
  pnl1->setAlignment(Qt::AlignCenter);
  pnl1->setStyleSheet(QStringLiteral("background: rgb(255,255,225); border: 1px solid gray;"));
  pnl1->setFixedSize(160, 40);
  pnl1->hide();

  ConnectGuarded(Button1, &TFlatButton::clicked, this, [this] { Search(); });
  ConnectGuarded(edt1, &QLineEdit::returnPressed, this, [this] { Search(); });
  ConnectGuarded(Button2, &TFlatButton::clicked, this, [this] { ShowAll(); });
  ConnectGuarded(dbgrd1, &TDBGrid::RecordDoubleClicked, this, [this] {
    if (!FBusy) PickRow();
  });

  try {
    OpenRows(FirstPageSql());
    FCount->Close();
    FCount->SetConnection(&FConnection);
    FCount->SetSQLText(CountSql());
    FCount->Open();
    FTotal = FCount->Fields()[0]->AsLargeInt();
    FCount->Close();
    ShowCount(std::min<int64_t>(FTotal, kPickerFirstRows));
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    ShowMessageBox(Utf8(FTexts.ReadFailure) + ExceptionText(e), CaptionError, TMsgIcon::Error);
  }
}

TItemPicker::~TItemPicker() {
  // The grid lets go of the data source before the queries close.
  dbgrd1->SetDataSource(nullptr);
}

std::string TItemPicker::CountSql() const {
  return std::string("select count(*) count from ") + FTexts.Table;
}

std::string TItemPicker::FirstPageSql() const {
  return std::string("select ") + FTexts.Columns + " from " + FTexts.Table + FTexts.FirstPageSpace +
         "LIMIT 0," + std::to_string(kPickerFirstRows);
}

std::string TItemPicker::SearchSql(const QString& text, bool fuzzy) const {
  return std::string("select ") + FTexts.Columns + " from " + FTexts.Table + " where " +
         LikeCondition(FTexts.NameColumn, Encode(text), FConnection.LiteralStyle(), fuzzy);
}

std::string TItemPicker::ShowAllSql() const {
  return std::string("select ") + FTexts.Columns + " from " + FTexts.Table;
}

bool TItemPicker::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edt1 && event->type() == QEvent::MouseButtonPress && !FBusy) {
    edt1->clear();
    edt1->setStyleSheet(QString());
  }
  return QDialog::eventFilter(watched, event);
}

void TItemPicker::closeEvent(QCloseEvent* event) {
  // A query below on the stack still fills this window.
  if (FBusy) return event->ignore();
  QDialog::closeEvent(event);
}

void TItemPicker::OpenRows(const std::string& sql) {
  FQuery->Close();
  FQuery->SetConnection(&FConnection);
  // Typed text arrives as literals: nothing in it is a parameter.
  TDBAccessUtils::SetSQLText(FQuery.get(), sql);
  FQuery->Open();
}

void TItemPicker::ShowCount(int64_t shown) {
  lbl3->setText(Utf8(FTexts.CountPrefix) + QString::number(shown) + QStringLiteral(" / ") +
                QString::number(FTotal));
}

void TItemPicker::Search() {
  if (FBusy) return;
  const QString text = edt1->text();
  if (text.isEmpty() || text == Utf8(FTexts.Hint)) {
    ShowMessageBox(QStringLiteral("查询条件不能为空！"), CaptionHint, TMsgIcon::Information);
    return;
  }
  // A "?" in place of a character the set lacks would list other rows than the ones named.
  if (const QString problem = UnencodableText(text, FCharset, QStringLiteral("查询条件")); !problem.isEmpty())
    return ShowMessageBox(problem, CaptionHint, TMsgIcon::Information);
  try {
    OpenRows(SearchSql(text, chk1->isChecked()));
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    ShowMessageBox(QStringLiteral("查询失败，请检查网络连接！\n\r") + ExceptionText(e), CaptionError,
                   TMsgIcon::Error);
    return;
  }
  ShowCount(FQuery->RecordCount());
}

void TItemPicker::ShowAll() {
  if (FBusy) return;
  FBusy = true;
  for (QWidget* w : std::initializer_list<QWidget*>{Button1, Button2, edt1, chk1}) w->setEnabled(false);
  pnl1->move((width() - pnl1->width()) / 2, (height() - pnl1->height()) / 2);
  pnl1->raise();
  pnl1->show();
  Ui().ProcessMessages();
  auto done = [this] {
    pnl1->hide();
    for (QWidget* w : std::initializer_list<QWidget*>{Button1, Button2, edt1, chk1}) w->setEnabled(true);
    FBusy = false;
  };
  try {
    OpenRows(ShowAllSql());
  } catch (const EAbort&) {
    done();
    throw;
  } catch (const std::exception& e) {
    done();
    ShowMessageBox(Utf8(FTexts.ReadFailure) + ExceptionText(e), CaptionError, TMsgIcon::Error);
    return;
  }
  done();
  ShowCount(FTotal);
}

void TItemPicker::PickRow() {
  if (!HasRow()) {
    ShowMessageBox(QStringLiteral("不能添加空记录！"), CaptionError, TMsgIcon::Error);
    return;
  }
  const QString name = CurrentText(FTexts.NameField);
  if (MemoLines(FTarget).size() >= kMaxListLines) {
    ShowMessageBox(Utf8(FTexts.ListFull), CaptionError, TMsgIcon::Error);
    stat1->setText(QStringLiteral("添加 ") + name + QStringLiteral(" 失败！"));
    return;
  }
  Add(name);
}

bool TItemPicker::HasRow() const {
  return FQuery->Active() && !FQuery->IsEmpty();
}

QString TItemPicker::CurrentText(const char* field) const {
  if (!HasRow()) return {};
  TField* f = FQuery->FindField(field);
  return f != nullptr && !f->IsNull() ? DecodeFieldText(f->AsString(), FCharset) : QString();
}
