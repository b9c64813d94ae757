// The account browser over the fixture zone on the test server: paging and
// counts, searches whose text is quoted whatever it holds, the sort by title, a
// killed connection between two page turns, the busy state, and the dialogs
// that edit the row of the window that opened them.
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRadioButton>
#include <QScrollBar>
#include <QtTest>
#include <chrono>
#include <memory>

#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/browsers/DialogValues.h"
#include "console/browsers/EditDialogs.h"
#include "console/browsers/Unit_usermanager.h"
#include "console/common/MyLoginConnection.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "platform/widgets/DBControls.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/DBGridModel.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiRecorder.h"
#include "support/StallRelay.h"

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
  void RefusedWriteIsNotSentLater_data();
  void RefusedWriteIsNotSentLater();
  void GbkNamedAccountTakesPasswordAndBalance_data();
  void GbkNamedAccountTakesPasswordAndBalance();
  void BalanceKeepsAnEditOfTheRow();
  void StallWhilePagingGivesOneBoxAndTheNextPageWorks();
  void EmptyResultCommitsAndDeletesNothing_data();
  void EmptyResultCommitsAndDeletesNothing();
  void BalanceChangeAppliesToTheStoredValue();
  void GridRefusesThePasswordAndBalanceColumns();
  void NameSearchesMatchTheStoredBytes_data();
  void NameSearchesMatchTheStoredBytes();
  void SearchesReadTheTextInEitherBackslashMode_data();
  void SearchesReadTheTextInEitherBackslashMode();
  void SearchStartsAtPageOne();
  void PrivilegeSearchTakesDigitsOnly();
  void SearchTheSetCannotHoldSendsNothing();
  void PageSizeRefusalsReadInChinese_data();
  void PageSizeRefusalsReadInChinese();
  void EachActionIsOneStatement();
  void BrowserShowsAWholePage();

 private:
  std::unique_ptr<Tusermanager> Browser() {
    return std::make_unique<Tusermanager>(*FCon, QStringLiteral("默认"));
  }
  std::string Value(const std::string& sql) { return FAdmin->Value(sql); }
  std::string Acc() const { return FZone->Acc().toStdString(); }
  std::string Table() const { return "`" + Acc() + "`.`user`"; }
  std::string ConnectionId() { return QueryValue(FLogin->Provider(), "SELECT CONNECTION_ID()"); }
  // Statements the browsing connection sent whose text is like pattern, from the server's log.
  int Logged(const std::string& id, const std::string& pattern) {
    return std::stoi(Value("SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + id +
                           " AND argument LIKE '" + pattern + "'"));
  }

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
  FLogin = OpenLogin(FInfo, Acc(), "gb2312");
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
  // The grid lost its page: no label names one.
  QCOMPARE(b->lbl2->text(), QString());
  QCOMPARE(b->lbl11->text(), QString());
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
  // A fullwidth digit is no number; the refusal quotes it as typed.
  FUi->OnDialog([](QDialog& d) {
    auto& money = static_cast<Tusermoney&>(d);
    money.edt1->setText(QStringLiteral("５"));
    money.Confirm();
    return int(d.result());
  });
  b->EditBalance();
  QCOMPARE(FUi->Messages().size(), size_t(2));
  QCOMPARE(FUi->Messages()[1].Args.Text, QStringLiteral("'５' is not a valid integer value"));
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

void UsermanagerDbTest::RefusedWriteIsNotSentLater_data() {
  QTest::addColumn<int>("change");
  QTest::addColumn<QString>("column");
  QTest::newRow("password") << 0 << QStringLiteral("password");
  QTest::newRow("lock") << 1 << QStringLiteral("locked");
  QTest::newRow("GM") << 2 << QStringLiteral("user_priv");
}

// The server refuses the change (a trigger here; a lost connection or a full disk alike): the
// row shows what is stored again, and leaving it sends nothing.
void UsermanagerDbTest::RefusedWriteIsNotSentLater() {
  QFETCH(int, change);
  QFETCH(QString, column);
  auto b = Browser();
  b->edt1->setText(QStringLiteral("abc"));
  b->Search();
  QCOMPARE(b->qry1().FieldByName("idx")->AsInteger(), 1);
  const std::string stored = "SELECT " + column.toStdString() + " FROM " + Table() + " WHERE idx=1";
  const std::string before = Value(stored);
  const std::string checksum = FAdmin->Checksum(Table());
  FAdmin->Exec("CREATE TRIGGER `" + Acc() + "`.refuse BEFORE UPDATE ON " + Table() +
               " FOR EACH ROW SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT='refused'");
  bool refused = false;
  FUi->OnDialog([&refused](QDialog& d) {
    static_cast<Tuser_password&>(d).edt1->setText(QStringLiteral("654321"));
    try {
      static_cast<Tuser_password&>(d).Confirm();
    } catch (const std::exception&) {
      refused = true;
    }
    d.reject();
    return int(d.result());
  });
  FUi->Answer(TMsgResult::Yes);
  FUi->Answer(TMsgResult::Ok);
  try {
    if (change == 0) b->EditPassword();
    if (change == 1) b->ToggleLock();
    if (change == 2) b->ToggleGm();
  } catch (const std::exception&) {
    refused = true;
  }
  FAdmin->Exec("DROP TRIGGER `" + Acc() + "`.refuse");
  QVERIFY(refused);
  QCOMPARE(b->qry1().State(), dsBrowse);
  QCOMPARE(b->qry1().FieldByName(column.toStdString())->AsString(), before);
  b->qry1().Next();
  b->qry1().Prior();
  QCOMPARE(FAdmin->Checksum(Table()), checksum);
}

void UsermanagerDbTest::GbkNamedAccountTakesPasswordAndBalance_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<int>("idx");
  QTest::addColumn<bool>("balance");  // else the password
  QTest::newRow("balance, trail byte 0x5C") << QStringLiteral("籠") << 103 << true;
  QTest::newRow("balance, 青云") << QStringLiteral("青云") << 104 << true;
  QTest::newRow("password, trail byte 0x5C") << QStringLiteral("籠") << 103 << false;
  QTest::newRow("password, 青云") << QStringLiteral("青云") << 104 << false;
}

// Account names stored as GBK bytes reach the gb2312 session as "?": the dialogs still change
// that account's value, and no other.
void UsermanagerDbTest::GbkNamedAccountTakesPasswordAndBalance() {
  QFETCH(QString, name);
  QFETCH(int, idx);
  QFETCH(bool, balance);
  FAdmin->Exec("INSERT INTO " + Table() +
               " (idx, username, webmoney) VALUES (103, UNHEX('BB5C'), 100), (104, UNHEX('C7E0D4C6'), 100)");
  auto b = Browser();
  b->CheckBox1->setChecked(false);
  b->edt1->setText(name);
  b->Search();
  QCOMPARE(b->qry1().FieldByName("idx")->AsInteger(), idx);
  FUi->OnDialog([balance](QDialog& d) {
    if (balance) {
      static_cast<Tusermoney&>(d).edt1->setText(QStringLiteral("5"));
      static_cast<Tusermoney&>(d).Confirm();
    } else {
      static_cast<Tuser_password&>(d).edt1->setText(QStringLiteral("654321"));
      static_cast<Tuser_password&>(d).Confirm();
    }
    return int(d.result());
  });
  const std::string id = ConnectionId();
  const int updates = Logged(id, "UPDATE%");
  const bool changed = Guarded([&] { balance ? b->EditBalance() : b->EditPassword(); });
  // One write, checked as it goes: a check that failed on the name shown as "?" was followed by a
  // second write by the key alone.
  const int sent = Logged(id, "UPDATE%") - updates;
  const std::string stored = Value("SELECT CONCAT_WS('/', HEX(username), webmoney, password) FROM " +
                                   Table() + " WHERE idx=" + std::to_string(idx));
  const std::string others = Value("SELECT COUNT(*) FROM " + Table() + " WHERE idx>100 AND webmoney<>100");
  FAdmin->Exec("DELETE FROM " + Table() + " WHERE idx > 100");
  QVERIFY(changed);
  QVERIFY(FUi->Messages().empty());
  const std::string hex = idx == 103 ? "BB5C" : "C7E0D4C6";
  QCOMPARE(stored, hex + (balance ? "/105/" : "/100/" + StoredPasswordForm("654321")));
  QCOMPARE(others, std::string(balance ? "1" : "0"));
  QCOMPARE(sent, 1);
}

void UsermanagerDbTest::BalanceKeepsAnEditOfTheRow() {
  // 删除 typed into the grid's row, not yet posted; then 100 added to the balance.
  auto b = Browser();
  b->qry1().SetRecNo(2);
  TDBGridModel& model = b->dbgrd1->GridModel();
  int column = 0;
  while (model.ColumnField(column)->FieldName() != "deleted") ++column;
  QVERIFY(model.setData(model.index(1, column), QStringLiteral("1"), Qt::EditRole));
  FUi->OnDialog([](QDialog& d) {
    static_cast<Tusermoney&>(d).edt1->setText(QStringLiteral("100"));
    static_cast<Tusermoney&>(d).Confirm();
    return int(d.result());
  });
  b->EditBalance();
  const std::string stored =
      Value("SELECT CONCAT_WS('/', deleted, webmoney) FROM " + Table() + " WHERE idx=2");
  FAdmin->Exec("UPDATE " + Table() + " SET deleted=0, webmoney=200 WHERE idx=2");
  QVERIFY(FUi->Messages().empty());
  QCOMPARE(stored, std::string("1/300"));
  QCOMPARE(b->qry1().State(), dsBrowse);
  QCOMPARE(b->qry1().FieldByName("deleted")->AsString(), std::string("1"));
}

void UsermanagerDbTest::StallWhilePagingGivesOneBoxAndTheNextPageWorks() {
  TStallRelay relay(FInfo["HOST"].toStdString(), FInfo["PORT"].toInt());
  TMyLoginConnection login("gb2312");
  login.Open({"127.0.0.1",
              relay.Port,
              FInfo["NATIVE_USER"].toStdString(),
              FInfo["NATIVE_PASSWORD"].toStdString(),
              Acc(),
              {}});
  Tusermanager b(login.MyConnection(), QStringLiteral("默认"));
  relay.Stall();
  const auto start = std::chrono::steady_clock::now();
  QVERIFY(!Guarded([&] { b.NextPage(); }));
  // The read time-out, then one attempt to reconnect, bounded by the connect time-out.
  const auto waited = std::chrono::steady_clock::now() - start;
  QVERIFY2(waited < std::chrono::seconds(kReadTimeoutSeconds + kConnectTimeoutSeconds + 3),
           qPrintable(QString::number(std::chrono::duration<double>(waited).count())));
  QCOMPARE(FUi->Messages().size(), size_t(1));
  // The grid lost its page: no label names one.
  QCOMPARE(b.qry1().Active(), false);
  QCOMPARE(b.lbl2->text(), QString());
  QCOMPARE(b.lbl11->text(), QString());
  relay.Resume();
  b.NextPage();
  QCOMPARE(b.lbl2->text(), QStringLiteral("第 2 页/共 3 页"));
  QCOMPARE(b.lbl11->text(), QStringLiteral("共有记录35条"));
  QCOMPARE(b.qry1().RecordCount(), 17);
  QCOMPARE(FUi->Messages().size(), size_t(1));
}

void UsermanagerDbTest::EmptyResultCommitsAndDeletesNothing_data() {
  QTest::addColumn<QByteArray>("sqlMode");
  QTest::newRow("server's mode") << QByteArray();
  QTest::newRow("no strict mode") << QByteArray("''");
}

void UsermanagerDbTest::EmptyResultCommitsAndDeletesNothing() {
  QFETCH(QByteArray, sqlMode);
  const std::string mode = QueryValue(FLogin->Provider(), "SELECT @@SESSION.sql_mode");
  if (!sqlMode.isEmpty()) FLogin->Provider().ExecSQL("SET SESSION sql_mode=" + sqlMode.toStdString());
  auto b = Browser();
  b->edt1->setText(QStringLiteral("nomatch"));
  b->Search();
  QVERIFY(b->qry1().IsEmpty());
  const std::string id = ConnectionId();
  const int before = Logged(id, "%");
  FUi->Answer(TMsgResult::Yes);  // were the delete to ask, it would be answered
  b->CommitRow();
  b->DeleteCurrent();
  QCOMPARE(Logged(id, "%"), before);
  QCOMPARE(Value("SELECT COUNT(*) FROM " + Table()), std::string("35"));
  QCOMPARE(FUi->Messages().size(), size_t(2));
  for (const auto& m : FUi->Messages()) QCOMPARE(m.Args.Text, QStringLiteral("当前没有选中的帐号！"));
  // An unchanged row: nothing is written and no success is claimed.
  b->RefreshPages();
  FUi->ClearRecord();
  const int unchanged = Logged(id, "%");
  b->CommitRow();
  QCOMPARE(Logged(id, "%"), unchanged);
  QVERIFY(FUi->Messages().empty());
  FLogin->Provider().ExecSQL("SET SESSION sql_mode='" + mode + "'");
}

void UsermanagerDbTest::BalanceChangeAppliesToTheStoredValue() {
  // Shown 200; the game sets 5000 meanwhile; the game master adds 100.
  auto b = Browser();
  b->qry1().SetRecNo(2);
  QCOMPARE(b->edtMoney->text(), QStringLiteral("200"));
  FAdmin->Exec("UPDATE " + Table() + " SET webmoney=5000 WHERE idx=2");
  FUi->OnDialog([](QDialog& d) {
    auto& money = static_cast<Tusermoney&>(d);
    money.edt1->setText(QStringLiteral("100"));
    money.Confirm();
    return int(d.result());
  });
  b->EditBalance();
  QCOMPARE(Value("SELECT webmoney FROM " + Table() + " WHERE idx=2"), std::string("5100"));
  QCOMPARE(b->edtMoney->text(), QStringLiteral("5100"));
  QVERIFY(FUi->Messages().empty());
  FAdmin->Exec("UPDATE " + Table() + " SET webmoney=200 WHERE idx=2");
}

void UsermanagerDbTest::GridRefusesThePasswordAndBalanceColumns() {
  auto b = Browser();
  TDBGridModel& model = b->dbgrd1->GridModel();
  const std::string id = ConnectionId();
  const int before = Logged(id, "UPDATE%");
  for (const char* field : {"password", "webmoney"}) {
    int column = -1;
    for (int c = 0; c < model.columnCount(); ++c)
      if (model.ColumnField(c) && model.ColumnField(c)->FieldName() == field) column = c;
    QVERIFY2(column >= 0, field);
    QVERIFY2(!(model.flags(model.index(2, column)) & Qt::ItemIsEditable), field);
    QVERIFY2(!model.setData(model.index(2, column), QStringLiteral("-5"), Qt::EditRole), field);
  }
  b->qry1().SetRecNo(5);
  QCOMPARE(Logged(id, "UPDATE%"), before);
  QCOMPARE(Value("SELECT CONCAT(password, '/', webmoney) FROM " + Table() + " WHERE idx=3"),
           std::string("49ba59abbe56e057/300"));
}

void UsermanagerDbTest::NameSearchesMatchTheStoredBytes_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("fuzzy");
  QTest::addColumn<int>("rows");
  QTest::addColumn<int>("idx");  // of the one row found
  QTest::newRow("exact a_c") << QStringLiteral("a_c") << false << 1 << 101;
  QTest::newRow("exact a%") << QStringLiteral("a%") << false << 0 << 0;
  QTest::newRow("fuzzy a_c") << QStringLiteral("a_c") << true << 5 << 0;  // abc, abcd, xabc, axc, a_c
  QTest::newRow("exact 籠 (trail byte 0x5C)") << QStringLiteral("籠") << false << 1 << 103;
  QTest::newRow("fuzzy 青") << QStringLiteral("青") << true << 1 << 104;
  QTest::newRow("exact 青 is no prefix") << QStringLiteral("青") << false << 0 << 0;
  // A name without 0x5C that the column's collation would match with the escaped trail byte.
  QTest::newRow("fuzzy 籠 (trail byte 0x5C)") << QStringLiteral("籠") << true << 1 << 103;
}

void UsermanagerDbTest::NameSearchesMatchTheStoredBytes() {
  QFETCH(QString, text);
  QFETCH(bool, fuzzy);
  QFETCH(int, rows);
  QFETCH(int, idx);
  // Names of this test only, stored as the game stores them: GBK bytes in the latin1 column.
  FAdmin->Exec(
      "INSERT INTO " + Table() +
      " (idx, username) VALUES (101, 'a_c'), (102, 'axc'), (103, UNHEX('BB5C')), (104, UNHEX('C7E0D4C6')), "
      "(106, UNHEX('BBC6C1FA'))");
  auto b = Browser();
  b->CheckBox1->setChecked(fuzzy);
  b->edt1->setText(text);
  const bool searched = Guarded([&] { b->Search(); });
  FAdmin->Exec("DELETE FROM " + Table() + " WHERE idx > 100");
  QVERIFY(searched);
  QCOMPARE(b->qry1().RecordCount(), rows);
  QCOMPARE(b->lbl11->text(), QStringLiteral("当前查询共有记录%1条").arg(rows));
  if (idx != 0) QCOMPARE(b->qry1().FieldByName("idx")->AsInteger(), idx);
  QVERIFY(FUi->Messages().empty());
}

void UsermanagerDbTest::SearchesReadTheTextInEitherBackslashMode_data() {
  QTest::addColumn<bool>("noBackslashEscapes");
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("fuzzy");
  QTest::addColumn<QString>("found");  // the idx of the rows shown, in order
  struct TCase {
    const char* Name;
    QString Text;
    bool Fuzzy;
    const char* Found;
  };
  const TCase cases[] = {
      {"injection", QStringLiteral("x\\' OR 1=1 -- "), false, ""},
      {"injection, fuzzy", QStringLiteral("x\\' OR 1=1 -- "), true, ""},
      {"backslash and quote", QStringLiteral("a\\'b"), false, "111"},
      {"backslash and quote, fuzzy", QStringLiteral("\\'"), true, "111"},
      {"backslash", QStringLiteral("a\\b"), false, "112"},
      {"trailing backslash", QStringLiteral("c\\"), false, "114"},
      {"percent as typed", QStringLiteral("5%"), false, "115"},
      {"underscore as typed", QStringLiteral("5_"), false, ""},
      {"GBK trail byte 0x5C", QStringLiteral("籠"), false, "103"},
  };
  for (const bool off : {false, true})
    for (const TCase& c : cases)
      QTest::addRow("%s, %s", off ? "NO_BACKSLASH_ESCAPES" : "backslash escapes", c.Name)
          << off << c.Text << c.Fuzzy << QString::fromLatin1(c.Found);
}

// Whichever way the session reads backslashes, a search shows the rows whose names hold the
// text as typed, and no typed text becomes part of the statement.
void UsermanagerDbTest::SearchesReadTheTextInEitherBackslashMode() {
  QFETCH(bool, noBackslashEscapes);
  QFETCH(QString, text);
  QFETCH(bool, fuzzy);
  QFETCH(QString, found);
  // a\'b, a\b, ab, c\, 5%, 5x, 籠 (GBK BB 5C): names of this test only.
  FAdmin->Exec("INSERT INTO " + Table() +
               " (idx, username) VALUES (111, UNHEX('615C2762')), (112, UNHEX('615C62')), (113, 'ab'), "
               "(114, UNHEX('635C')), (115, '5%'), (116, '5x'), (103, UNHEX('BB5C'))");
  bool searched = false;
  {
    TBackslashMode mode(*FCon, noBackslashEscapes);
    auto b = Browser();
    b->CheckBox1->setChecked(fuzzy);
    b->edt1->setText(text);
    searched = Guarded([&] { b->Search(); });
    QStringList shown;
    for (b->qry1().First(); !b->qry1().Eof(); b->qry1().Next())
      shown << QString::number(b->qry1().FieldByName("idx")->AsInteger());
    FAdmin->Exec("DELETE FROM " + Table() + " WHERE idx > 100");
    QVERIFY(searched);
    QCOMPARE(shown.join(' '), found);
  }
  QVERIFY(FUi->Messages().empty());
}

void UsermanagerDbTest::SearchStartsAtPageOne() {
  auto b = Browser();
  b->NextPage();
  b->NextPage();
  QCOMPARE(b->lbl2->text(), QStringLiteral("第 3 页/共 3 页"));
  b->edt1->setText(QStringLiteral("abc"));
  b->Search();
  QCOMPARE(b->lbl2->text(), QStringLiteral("第 1 页/共 1 页"));
  b->PreviousPage();  // nothing before the first page
  QCOMPARE(b->qry1().RecordCount(), 3);
}

void UsermanagerDbTest::PrivilegeSearchTakesDigitsOnly() {
  auto b = Browser();
  const std::string id = ConnectionId();
  const int before = Logged(id, "%");
  b->chk1->setChecked(true);
  for (const QString& text :
       {QStringLiteral("1' OR '1'='1"), QStringLiteral("６５５３５"), QStringLiteral("-1")}) {
    b->edt1->setText(text);
    b->Search();
  }
  QCOMPARE(Logged(id, "%"), before);
  QCOMPARE(FUi->Messages().size(), size_t(3));
  QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("按权限查找只能输入数字！"));
  QCOMPARE(b->qry1().RecordCount(), 17);
  QCOMPARE(b->lbl11->text(), QStringLiteral("共有记录35条"));
}

// The character went as "?": the search found other accounts than the one named, or none, and
// said nothing.
void UsermanagerDbTest::SearchTheSetCannotHoldSendsNothing() {
  auto b = Browser();
  const std::string id = ConnectionId();
  const int before = Logged(id, "%");
  b->CheckBox1->setChecked(true);
  b->edt1->setText(QStringLiteral("abc\U0001F600"));
  Guarded([&] { b->Search(); });
  QCOMPARE(Logged(id, "%"), before);
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QVERIFY2(FUi->Messages()[0].Args.Text.contains(QStringLiteral("U+1F600")),
           qPrintable(FUi->Messages()[0].Args.Text));
  QCOMPARE(b->edt1->text(), QStringLiteral("abc\U0001F600"));
  QCOMPARE(b->qry1().RecordCount(), 17);
}

void UsermanagerDbTest::PageSizeRefusalsReadInChinese_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("message");
  QTest::newRow("zero") << QStringLiteral("0") << QStringLiteral("每页显示的记录数至少为1条，请重新设定！");
  QTest::newRow("past the fetch bound")
      << QStringLiteral("10001") << QStringLiteral("每页显示的记录数最多为10000条，请重新设定！");
  QTest::newRow("fullwidth digit") << QStringLiteral("５")
                                   << QStringLiteral("'５' is not a valid integer value");
}

void UsermanagerDbTest::PageSizeRefusalsReadInChinese() {
  QFETCH(QString, typed);
  QFETCH(QString, message);
  auto b = Browser();
  b->e1->setText(typed);
  QVERIFY(!Guarded([&] { b->ChangePageSize(); }));
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, message);
  QCOMPARE(b->lbl2->text(), QStringLiteral("第 1 页/共 3 页"));
}

void UsermanagerDbTest::EachActionIsOneStatement() {
  FAdmin->Exec("INSERT INTO " + Table() + " (idx, username, user_priv, locked) VALUES (105, 'zz', 1, 0)");
  auto b = Browser();
  b->edt1->setText(QStringLiteral("zz"));
  b->CheckBox1->setChecked(false);
  b->Search();
  QCOMPARE(b->qry1().RecordCount(), 1);
  const std::string id = ConnectionId();
  struct {
    const char* name;
    std::function<void()> action;
    const char* pattern;
    const char* stored;  // locked/user_priv/deleted after it, or nothing for a deleted row
  } const steps[] = {
      {"lock",
       [&] {
         FUi->Answer(TMsgResult::Yes);
         b->ToggleLock();
       },
       "UPDATE%", "1/1/0"},
      {"to GM",
       [&] {
         FUi->Answer(TMsgResult::Yes);
         FUi->Answer(TMsgResult::Ok);
         b->ToggleGm();
       },
       "UPDATE%", "1/65535/0"},
      {"commit",
       [&] {
         TDBGridModel& model = b->dbgrd1->GridModel();
         for (int c = 0; c < model.columnCount(); ++c)
           if (model.ColumnField(c) && model.ColumnField(c)->FieldName() == "deleted")
             QVERIFY(model.setData(model.index(0, c), QStringLiteral("1"), Qt::EditRole));
         b->CommitRow();
       },
       "UPDATE%", "1/65535/1"},
      {"delete",
       [&] {
         FUi->Answer(TMsgResult::Yes);
         b->DeleteCurrent();
       },
       "DELETE%", ""},
  };
  for (const auto& step : steps) {
    const int before = Logged(id, step.pattern);
    step.action();
    QVERIFY2(Logged(id, step.pattern) - before == 1, step.name);
    QVERIFY2(Value("SELECT CONCAT_WS('/', locked, user_priv, deleted) FROM " + Table() + " WHERE idx=105") ==
                 step.stored,
             step.name);
  }
  // The GM warning's Enter button is Cancel.
  const auto warning = std::find_if(FUi->Messages().begin(), FUi->Messages().end(),
                                    [](const auto& m) { return m.Args.Caption == CaptionWarning; });
  QVERIFY(warning != FUi->Messages().end());
  QCOMPARE(warning->Args.Default, TMsgResult::Cancel);
  QCOMPARE(FUi->Messages().back().Args.Text, QStringLiteral("删除记录成功！"));
  FAdmin->Exec("DELETE FROM " + Table() + " WHERE idx=105");
}

void UsermanagerDbTest::BrowserShowsAWholePage() {
  QTemporaryDir dir;
  FZone->WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenAccountBrowser();
  auto* b = frame.findChild<Tusermanager*>();
  QVERIFY(b);
  QVERIFY(QTest::qWaitForWindowExposed(&frame));
  QCOMPARE(b->qry1().RecordCount(), 17);
  // The 17th row ends inside the grid's view, with nothing to scroll to.
  TDBGrid* grid = b->dbgrd1;
  QVERIFY(grid->rowViewportPosition(16) + grid->rowHeight(16) <= grid->viewport()->height());
  QCOMPARE(grid->verticalScrollBar()->maximum(), 0);
  QVERIFY(b->window() == &frame && b->parentWidget()->geometry().bottom() <= frame.MdiArea()->height());
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty())
    QVERIFY(frame.grab().save(QDir(shots).filePath("account-browser-page.png")));
}

QTEST_MAIN(UsermanagerDbTest)
#include "Usermanager_dbtest.moc"
