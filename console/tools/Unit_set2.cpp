#include "console/tools/Unit_set2.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "components/DBAccessDataSet.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/common/MyLoginConnection.h"
#include "console/common/TypedText.h"
#include "console/controls/FlatBtns.h"
#include "console/tools/SqlConsole.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

// Free SQL may be long work (an UPDATE over a whole table), yet a server that stops answering
// must not hold the window for good.
constexpr int kFreeSqlTimeoutSeconds = 600;

}  // namespace

Tbigset::Tbigset(TMyConnection& con1, TMyConnection& con2, TMyConnection& con3, const QString& charsetText,
                 QWidget* parent)
    : QWidget(parent),
      FCharset(FieldCharsetOfChoice(charsetText)),
      FSessions{OpenSessionLike(con1), OpenSessionLike(con2), OpenSessionLike(con3)},
      FQuery(std::make_unique<TMyQuery>()),
      FSource(std::make_unique<TMyDataSource>()) {
  setObjectName(QStringLiteral("bigset"));
  setWindowTitle(QStringLiteral("高级操作"));
  setAttribute(Qt::WA_DeleteOnClose);
  FQuery->SetCommandTimeout(kFreeSqlTimeoutSeconds);
  // Game tables have columns named by reserved words; edits in the grid write them quoted.
  FQuery->Options().QuoteNames = true;
  FSource->SetDataSet(FQuery.get());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  pgc1 = new QTabWidget(this);
  pgc1->addTab(BuildTab(FTabs[0], FSessions[0]->MyConnection()), QStringLiteral("帐号数据库"));
  pgc1->addTab(BuildTab(FTabs[1], FSessions[1]->MyConnection()), QStringLiteral("角色数据库"));
  pgc1->addTab(BuildTab(FTabs[2], FSessions[2]->MyConnection()), QStringLiteral("日志数据库"));
  layout->addWidget(pgc1, 1);
  auto* stat1 = new QStatusBar(this);
  FPanel0 = new QLabel(stat1);
  FPanel0->setMinimumWidth(200);
  FPanel1 = new QLabel(stat1);
  stat1->addWidget(FPanel0);
  stat1->addWidget(FPanel1, 1);
  layout->addWidget(stat1);
  connect(pgc1, &QTabWidget::currentChanged, this, [this](int) { Guarded([this] { TabChanged(); }); });
}

Tbigset::~Tbigset() {
  ReleaseGrids();
}

void Tbigset::ReleaseGrids() noexcept {
  // The grids let go of the data source before the query goes.
  for (TSqlTab& t : FTabs)
    if (t.Grid != nullptr) t.Grid->SetDataSource(nullptr);
}

QWidget* Tbigset::BuildTab(TSqlTab& tab, TCustomMyConnection& connection) {
  tab.Connection = &connection;
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(new QLabel(QStringLiteral("SQL查询"), page));
  tab.Memo = new QPlainTextEdit(page);
  tab.Memo->setMaximumHeight(120);
  layout->addWidget(tab.Memo);

  auto* strip = new QHBoxLayout();
  strip->addWidget(new QLabel(QStringLiteral("DIY生成查询"), page));
  tab.Kind = new QComboBox(page);
  tab.Kind->addItems({QStringLiteral("查询"), QStringLiteral("插入"), QStringLiteral("删除")});
  strip->addWidget(tab.Kind);
  tab.Table = new QComboBox(page);
  tab.Table->setMinimumWidth(180);
  TStringList names;
  try {
    connection.GetTableNames(names);
  } catch (...) {
    // The grids made so far go with the window's base after the data source they show.
    ReleaseGrids();
    throw;
  }
  for (int i = 0; i < names.Count(); ++i) tab.Table->addItem(DecodeFieldText(names[i], FCharset));
  tab.Table->setCurrentIndex(names.Count() > 0 ? 0 : -1);
  strip->addWidget(tab.Table);
  tab.GenerateButton = new TFlatButton(page);
  tab.GenerateButton->SetCaption(QStringLiteral("生成"));
  tab.GenerateButton->setFixedSize(60, 24);
  strip->addWidget(tab.GenerateButton);
  strip->addStretch(1);
  tab.Execute = new QCheckBox(QStringLiteral("执行"), page);
  strip->addWidget(tab.Execute);
  tab.RunButton = new TFlatButton(page);
  tab.RunButton->SetCaption(QStringLiteral("运行"));
  tab.RunButton->setFixedSize(60, 24);
  strip->addWidget(tab.RunButton);
  layout->addLayout(strip);

  layout->addWidget(new QLabel(QStringLiteral("查询结果"), page));
  tab.Grid = new TDBGrid(page);
  tab.Grid->SetCharset(FCharset);
  tab.Grid->SetDataSource(FSource.get());
  layout->addWidget(tab.Grid, 1);

  const int index = static_cast<int>(&tab - FTabs.data());
  ConnectGuarded(tab.RunButton, &TFlatButton::clicked, this, [this, index] { Run(index); });
  ConnectGuarded(tab.GenerateButton, &TFlatButton::clicked, this, [this, index] { Generate(index); });
  return page;
}

void Tbigset::Run(int index) {
  TSqlTab& tab = Tab(index);
  // Nothing of the run before stays on screen: a run that fails would seem to have given it.
  FQuery->Close();
  FPanel0->clear();
  FPanel1->clear();
  FQuery->SetConnection(tab.Connection);
  TDBAccessUtils::SetSQLText(FQuery.get(), {});
  const QString memo = tab.Memo->toPlainText();
  if (memo.trimmed().isEmpty()) {
    ShowMessageBox(QStringLiteral("查询语句不能为空！"), CaptionError, TMsgIcon::Warning);
    return;
  }
  try {
    // Typed SQL goes as typed: no macros, no parameters (flags&mask, @a := 1).
    // A character the session's set lacks would reach the server as "?", inside a value written.
    if (const QString problem = UnencodableText(memo, FCharset, QStringLiteral("查询语句"));
        !problem.isEmpty()) {
      ShowMessageBox(problem, CaptionError, TMsgIcon::Error);
      return;
    }
    // One statement a run: the window has one result to show (a query's rows, or that it ran).
    // Several sent as one text would all run, and a failure past the first would be all the game
    // master is told, so that running the text again repeats what had run.
    const std::vector<TTypedStatement> statements =
        SplitTypedSql(*tab.Connection, EncodeFieldText(memo, FCharset));
    if (statements.empty()) {
      ShowMessageBox(QStringLiteral("查询语句不能为空！"), CaptionError, TMsgIcon::Warning);
      return;
    }
    if (statements.size() > 1) {
      ShowMessageBox(SeveralStatementsText(statements), CaptionError, TMsgIcon::Error);
      return;
    }
    TDBAccessUtils::SetSQLText(FQuery.get(), statements[0].Text);
    // One execution whatever the box says: a statement without rows run as a query has still
    // run, and reporting it as an error would have it run a second time.
    FQuery->Execute();
    if (tab.Execute->isChecked() || !FQuery->Active()) {
      FQuery->Close();
      FPanel0->setText(ExecuteDoneText());
    } else {
      FPanel0->setText(QueryDoneText(FQuery->RecordCount()));
    }
    FPanel1->setText(StatementPanelText(memo));
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    ShowMessageBox(QStringLiteral("错误信息：\r\n") + ExceptionText(e), CaptionError, TMsgIcon::Error);
  }
}

void Tbigset::Generate(int index) {
  TSqlTab& tab = Tab(index);
  const TSqlTemplate t = SqlTemplate(tab.Kind->currentIndex(), tab.Table->currentText());
  tab.Memo->clear();
  tab.Memo->appendPlainText(t.Text);
  tab.Execute->setChecked(t.Execute);
}

void Tbigset::TabChanged() {
  FPanel0->clear();
  FPanel1->clear();
  FQuery->Close();
}

QString Tbigset::ResultPanel() const {
  return FPanel0->text();
}

QString Tbigset::StatementPanel() const {
  return FPanel1->text();
}
