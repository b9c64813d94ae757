// The account browser over the fixture zone on the test server: paging and
// counts, searches whose text is quoted whatever it holds, the sort by title, a
// killed connection between two page turns, the busy state, and the dialogs
// that edit the row of the window that opened them.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRadioButton>
#include <QtTest>
#include <memory>

#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/DialogValues.h"
#include "console/EditDialogs.h"
#include "console/MyLoginConnection.h"
#include "console/Unit1.h"
#include "console/Unit2.h"
#include "console/Unit_usermanager.h"
#include "console/controls/FlatBtns.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiRecorder.h"

class UsermanagerDbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void PagesAndCounts();
  void MenuOpensOneBrowserAndRestoresIt();
  void SearchesQuoteWhatIsTyped_data();
  void SearchesQuoteWhatIsTyped();
  void TitleClicksCycleTheSort();
  void KilledConnectionBetweenPageTurns();
  void BusyWhileAQueryOpens();
  void BalanceBelowZeroIsRefusedUnposted();
  void GridEditSendsOneUpdate();
  void PasswordGoesToThatAccountOnly();

 private:
  std::unique_ptr<Tusermanager> Browser() {
    return std::make_unique<Tusermanager>(*FCon, QStringLiteral("默认"));
  }
  std::string Value(const std::string& sql) { return FAdmin->Value(sql); }
  std::string Acc() const { return FZone->Acc().toStdString(); }

  QMap<QString, QString> FInfo;
  std::unique_ptr<TGameZone> FZone;
  std::unique_ptr<TAdminSession> FAdmin;
  std::unique_ptr<TMyLoginConnection> FLogin;
  TCustomMyConnection* FCon = nullptr;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
};

void UsermanagerDbTest::initTestCase() {
  FInfo = ServerInfo();
  FZone = std::make_unique<TGameZone>(FInfo, QStringLiteral("um_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(FZone->Load());
  FAdmin = std::make_unique<TAdminSession>(FInfo);
  FAdmin->Exec("SET GLOBAL log_output='TABLE'");
  FAdmin->Exec("SET GLOBAL general_log=1");
  // The login's account connection, as the login opens it.
  FLogin = std::make_unique<TMyLoginConnection>("gb2312");
  FLogin->Open({FInfo["HOST"].toStdString(),
                FInfo["PORT"].toInt(),
                FInfo["NATIVE_USER"].toStdString(),
                FInfo["NATIVE_PASSWORD"].toStdString(),
                Acc(),
                {}});
  FCon = &FLogin->MyConnection();
}

void UsermanagerDbTest::init() {
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
}

void UsermanagerDbTest::cleanup() {
  FScope.reset();
  FUi.reset();
}

void UsermanagerDbTest::PagesAndCounts() {
  auto b = Browser();
  QCOMPARE(b->qry1().RecordCount(), 17);
  QCOMPARE(b->lbl2->text(), QStringLiteral("第 1 页/共 3 页"));
  QCOMPARE(b->lbl11->text(), QStringLiteral("共有记录35条"));
  b->NextPage();
  b->NextPage();
  QCOMPARE(b->qry1().RecordCount(), 1);
  QCOMPARE(b->lbl2->text(), QStringLiteral("第 3 页/共 3 页"));
  b->NextPage();  // the last page stays
  QCOMPARE(b->PagingState().PageSQL, std::string("select * FROM user    Limit 34,17"));
  // A page size below 1 is refused and the pages stay as they were.
  b->e1->setText(QStringLiteral("0"));
  QVERIFY_THROWS_EXCEPTION(ERangeError, b->ChangePageSize());
  QCOMPARE(b->lbl2->text(), QStringLiteral("第 3 页/共 3 页"));
  QVERIFY(FUi->Messages().empty());
}

void UsermanagerDbTest::MenuOpensOneBrowserAndRestoresIt() {
  QTemporaryDir dir;
  FZone->WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenAccountBrowser();
  QCOMPARE(frame.MdiArea()->subWindowList().size(), 1);
  QMdiSubWindow* child = frame.MdiArea()->subWindowList()[0];
  // The picture a person would look at, kept when asked for.
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty())
    QVERIFY(frame.grab().save(QDir(shots).filePath("account-browser.png")));
  child->showMinimized();
  frame.OpenAccountBrowser();
  QCOMPARE(frame.MdiArea()->subWindowList().size(), 1);
  QVERIFY(!child->isMinimized());
  QVERIFY(FUi->Messages().empty());
}

void UsermanagerDbTest::SearchesQuoteWhatIsTyped_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("byPrivilege");
  QTest::addColumn<bool>("fuzzy");
  QTest::addColumn<int>("rows");
  QTest::addColumn<QByteArray>("logged");  // the page statement as the server's log has it
  QTest::newRow("exact") << QStringLiteral("abc") << false << false << 1 << QByteArray();
  QTest::newRow("fuzzy") << QStringLiteral("abc") << false << true << 3 << QByteArray();
  QTest::newRow("quote") << QStringLiteral("a'b") << false << false << 1 << QByteArray();
  QTest::newRow("injection") << QStringLiteral("x\\' OR 1=1 -- ") << false << false << 0
                             << QByteArray(
                                    "Select * from user where username like 'x\\\\\\\\\\' OR "
                                    "1=1 -- '");
  QTest::newRow("privilege") << QStringLiteral("65535") << true << false << 1 << QByteArray();
}

void UsermanagerDbTest::SearchesQuoteWhatIsTyped() {
  QFETCH(QString, text);
  QFETCH(bool, byPrivilege);
  QFETCH(bool, fuzzy);
  QFETCH(int, rows);
  // An account whose name holds a quote, for this search only.
  struct TQuotedAccount {
    TAdminSession& Admin;
    std::string Table;
    TQuotedAccount(TAdminSession& admin, std::string table) : Admin(admin), Table(std::move(table)) {
      Admin.Exec("INSERT INTO " + Table + " (idx, username) VALUES (100, 'a''b')");
    }
    ~TQuotedAccount() { Admin.Exec("DELETE FROM " + Table + " WHERE idx=100"); }
  } quoted(*FAdmin, "`" + Acc() + "`.`user`");
  auto b = Browser();
  b->chk1->setChecked(byPrivilege);
  b->CheckBox1->setChecked(fuzzy);
  b->edt1->setText(text);
  b->Search();
  QCOMPARE(b->qry1().RecordCount(), rows);
  QCOMPARE(b->lbl11->text(), QStringLiteral("当前查询共有记录%1条").arg(rows));
  QVERIFY(FUi->Messages().empty());
  QFETCH(QByteArray, logged);
  if (!logged.isEmpty())
    QCOMPARE(QByteArray::fromStdString(Value("SELECT argument FROM mysql.general_log WHERE thread_id=" +
                                             QueryValue(FLogin->Provider(), "SELECT CONNECTION_ID()") +
                                             " AND argument LIKE 'Select * from user where%' ORDER BY "
                                             "event_time DESC LIMIT 1")),
             logged);
}

void UsermanagerDbTest::TitleClicksCycleTheSort() {
  auto b = Browser();
  TDBGridModel& model = b->dbgrd1->GridModel();
  const char* expected[] = {"▲序号", "▼序号", "▲序号"};
  for (const char* title : expected) {
    b->SortByColumn(0);
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8(title));
    QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("用户名"));
  }
  b->SortByColumn(1);
  QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("序号"));
  b->SortByColumn(0);
  b->SortByColumn(0);
  QCOMPARE(b->qry1().RecordCount(), 35);  // sorted rows are not paged
  b->qry1().First();
  QCOMPARE(b->qry1().FieldByName("idx")->AsInteger(), 35);
}

void UsermanagerDbTest::KilledConnectionBetweenPageTurns() {
  auto b = Browser();
  const std::string id = QueryValue(FLogin->Provider(), "SELECT CONNECTION_ID()");
  FAdmin->Exec("KILL CONNECTION " + id);
  QVERIFY(!Guarded([&] { b->NextPage(); }));
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(b->lbl2->text(), QStringLiteral("第 1 页/共 3 页"));
  b->NextPage();
  QCOMPARE(b->lbl2->text(), QStringLiteral("第 2 页/共 3 页"));
  QCOMPARE(b->qry1().RecordCount(), 17);
}

void UsermanagerDbTest::BusyWhileAQueryOpens() {
  auto b = Browser();
  bool checked = false;
  FUi->OnProcessMessages([&] {
    checked = true;
    QVERIFY(b->Busy() && !b->pnl1->isHidden());
    QVERIFY(!b->btn3->isEnabled() && !b->btn1->isEnabled() && !b->e1->isEnabled());
    QVERIFY(!b->close());
  });
  b->NextPage();
  QVERIFY(checked);
  QVERIFY(!b->Busy() && b->btn3->isEnabled() && b->pnl1->isHidden());
}

void UsermanagerDbTest::BalanceBelowZeroIsRefusedUnposted() {
  auto b = Browser();
  b->edt1->setText(QStringLiteral("abc"));
  b->CheckBox1->setChecked(false);
  b->Search();
  FUi->OnDialog([](QDialog& d) {
    auto& money = static_cast<Tusermoney&>(d);
    money.rb2->click();
    money.edt1->setText(QStringLiteral("101"));
    money.Confirm();
    return int(d.result());
  });
  b->EditBalance();
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text,
           QStringLiteral("该用户帐户余额为：100，不足以减少：101，请重新设定！"));
  QCOMPARE(b->qry1().State(), dsBrowse);
  QCOMPARE(Value("SELECT webmoney FROM `" + Acc() + "`.`user` WHERE idx=1"), std::string("100"));
}

void UsermanagerDbTest::GridEditSendsOneUpdate() {
  // A grid over the page statement: 17 rows; an edited cell is written by one UPDATE when the
  // row is left, counted in the server's log by this connection's id.
  TMyQuery query;
  query.SetConnection(FCon);
  query.SetSQLText("Select * from user  LIMIT 0,17");
  query.Open();
  TMyDataSource source;
  source.SetDataSet(&query);
  TDBGrid grid;
  grid.SetDataSource(&source);
  QCOMPARE(grid.model()->rowCount(), 17);
  const std::string id = QueryValue(FLogin->Provider(), "SELECT CONNECTION_ID()");
  const std::string updates = "SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + id +
                              " AND command_type='Query' AND argument LIKE 'UPDATE%'";
  const std::string before = Value(updates);
  const int column = 13;  // webmoney
  QVERIFY(grid.model()->setData(grid.model()->index(2, column), QStringLiteral("4321"), Qt::EditRole));
  grid.setCurrentIndex(grid.model()->index(5, column));
  QCOMPARE(std::stoi(Value(updates)) - std::stoi(before), 1);
  QCOMPARE(Value("SELECT webmoney FROM `" + Acc() + "`.`user` WHERE idx=3"), std::string("4321"));
  FAdmin->Exec("UPDATE `" + Acc() + "`.`user` SET webmoney=300 WHERE idx=3");
}

void UsermanagerDbTest::PasswordGoesToThatAccountOnly() {
  auto first = Browser(), second = Browser();
  first->CheckBox1->setChecked(false);
  first->edt1->setText(QStringLiteral("abc"));
  first->Search();
  second->qry1().SetRecNo(5);
  FUi->OnDialog([](QDialog& d) {
    auto& dialog = static_cast<Tuser_password&>(d);
    dialog.edt1->setText(QStringLiteral("654321"));
    dialog.Confirm();
    return int(d.result());
  });
  first->EditPassword();
  const std::string table = "`" + Acc() + "`.`user`";
  QCOMPARE(Value("SELECT password FROM " + table + " WHERE idx=1"), StoredPasswordForm("654321"));
  QCOMPARE(Value("SELECT COUNT(*) FROM " + table + " WHERE password='49ba59abbe56e057'"), std::string("34"));
  FAdmin->Exec("UPDATE " + table + " SET password='49ba59abbe56e057' WHERE idx=1");
}

QTEST_MAIN(UsermanagerDbTest)
#include "Usermanager_dbtest.moc"
