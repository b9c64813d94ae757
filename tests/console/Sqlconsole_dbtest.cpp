// The SQL console over the fixture zone: typed SQL reaches the server as typed and runs once,
// an empty memo runs nothing, the templates, the shared grid and the menu.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QtTest>
#include <memory>

#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/browsers/Unit_charmanager.h"
#include "console/browsers/Unit_usermanager.h"
#include "console/common/MyLoginConnection.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "console/guild/Unit_gonghui.h"
#include "console/tools/SqlConsole.h"
#include "console/tools/Unit_set2.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/DBGridModel.h"
#include "platform/widgets/UiRecorder.h"

class SqlconsoleDbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void QueryCountsRowsOfTheTabsDatabase();
  void EmptyMemoRunsNothing_data();
  void EmptyMemoRunsNothing();
  void TypedSqlIsNotParsed();
  void TextTheSessionCannotHoldSendsNothing();
  void StatementsRunOnceWhateverTheBox_data();
  void StatementsRunOnceWhateverTheBox();
  void ServerErrorIsShown();
  void FailedRunLeavesNoEarlierResult_data();
  void FailedRunLeavesNoEarlierResult();
  void TabChangeClosesTheSharedQuery();
  void TemplatesPerKind_data();
  void TemplatesPerKind();
  void MenuOpensOneConsole();
  void GridEditWritesOnlyItsRow_data();
  void GridEditWritesOnlyItsRow();
  void OneStatementARun_data();
  void OneStatementARun();
  void SessionsAreLikeTheLoginsButOwn();
  void SessionChangesLeaveTheToolWindowsOnTheLogin();
  void OpeningThatFailsSaysWhatFailedFirst();

 private:
  std::unique_ptr<Tbigset> Console() {
    return std::make_unique<Tbigset>(FLogins[0]->MyConnection(), FLogins[1]->MyConnection(),
                                     FLogins[2]->MyConnection(), QStringLiteral("默认"));
  }
  std::string Value(const std::string& sql) { return FAdmin->Value(sql); }
  std::string Chr() const { return FZone->Chr().toStdString(); }
  // The id of the session the console's tab runs on.
  static std::string SessionId(Tbigset& c, int tab) {
    return QueryValue(*c.Tab(tab).Connection->MyIConnection(), "SELECT CONNECTION_ID()");
  }
  // Statements the session id sent whose text is like pattern, from the server's log.
  int Logged(const std::string& id, const std::string& pattern = "%") {
    return std::stoi(Value("SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + id +
                           " AND command_type='Query' AND argument LIKE '" + pattern + "'"));
  }
  // Types text into the cell of field in row of the tab's grid and posts the row, as leaving it
  // does; false when the grid or the write refused it.
  bool EditCell(Tbigset& c, int tab, int row, const std::string& field, const QString& text) {
    TDBGridModel& model = c.Tab(tab).Grid->GridModel();
    int column = 0;
    while (column < model.columnCount() && model.ColumnField(column)->FieldName() != field) ++column;
    if (column == model.columnCount()) return false;
    const size_t messages = FUi->Messages().size();
    if (!model.setData(model.index(row, column), text, Qt::EditRole)) return false;
    if (FUi->Messages().size() != messages) return false;
    TDataSet* ds = model.DataSet();
    try {
      if (ds->State() == dsEdit) ds->Post();
    } catch (const std::exception&) {
      ds->Cancel();
      return false;
    }
    return true;
  }
  void Run(Tbigset& c, int tab, const QString& sql, bool execute) {
    c.pgc1->setCurrentIndex(tab);
    c.Tab(tab).Memo->setPlainText(sql);
    c.Tab(tab).Execute->setChecked(execute);
    c.Run(tab);
  }

  QMap<QString, QString> FInfo;
  std::unique_ptr<TGameZone> FZone;
  std::unique_ptr<TAdminSession> FAdmin;
  std::unique_ptr<TMyLoginConnection> FLogins[3];
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
};

void SqlconsoleDbTest::initTestCase() {
  FInfo = ServerInfo();
  FZone = std::make_unique<TGameZone>(FInfo, QStringLiteral("sq_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(FZone->Load());
  FAdmin = std::make_unique<TAdminSession>(FInfo);
  FAdmin->Exec("SET GLOBAL log_output='TABLE'");
  FAdmin->Exec("SET GLOBAL general_log=1");
  const QString dbs[] = {FZone->Acc(), FZone->Chr(), FZone->Log()};
  for (int i = 0; i < 3; ++i) {
    FLogins[i] = std::make_unique<TMyLoginConnection>(i == 0 ? "gb2312" : "");
    FLogins[i]->Open({FInfo["HOST"].toStdString(),
                      FInfo["PORT"].toInt(),
                      FInfo["NATIVE_USER"].toStdString(),
                      FInfo["NATIVE_PASSWORD"].toStdString(),
                      dbs[i].toStdString(),
                      {}});
  }
}

void SqlconsoleDbTest::init() {
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
}

void SqlconsoleDbTest::cleanup() {
  FScope.reset();
  FUi.reset();
}

void SqlconsoleDbTest::QueryCountsRowsOfTheTabsDatabase() {
  auto c = Console();
  QVERIFY(c->Tab(0).Table->findText(QStringLiteral("user")) >= 0);
  QVERIFY(c->Tab(1).Table->findText(QStringLiteral("t_union")) >= 0);
  Run(*c, 0, QStringLiteral("SELECT * FROM user"), false);
  QCOMPARE(c->ResultPanel(), QStringLiteral("查询完成,得到：35条记录"));
  QCOMPARE(c->StatementPanel(), QStringLiteral("SELECT * FROM user   "));
  QCOMPARE(c->qry1().RecordCount(), 35);
  QVERIFY(FUi->Messages().empty());
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty()) {
    c->resize(800, 600);
    QVERIFY(c->grab().save(QDir(shots).filePath("sql-console.png")));
  }
}

void SqlconsoleDbTest::EmptyMemoRunsNothing_data() {
  QTest::addColumn<QString>("memo");
  QTest::newRow("empty") << QString();
  QTest::newRow("blanks and line ends") << QStringLiteral("  \n\t ");
  QTest::newRow("comments and delimiters") << QStringLiteral("-- nothing\n/* to run */ ;;");
}

void SqlconsoleDbTest::EmptyMemoRunsNothing() {
  QFETCH(QString, memo);
  auto c = Console();
  const std::string id = SessionId(*c, 0);
  const std::string before = Value("SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + id);
  Run(*c, 0, memo, false);
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("查询语句不能为空！"));
  QCOMPARE(FUi->Messages()[0].Args.Caption, QStringLiteral("错误"));
  // Nothing went to the server: no second box with its error either.
  QCOMPARE(Value("SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + id), before);
  QVERIFY(c->ResultPanel().isEmpty());
}

void SqlconsoleDbTest::TypedSqlIsNotParsed() {
  auto c = Console();
  Run(*c, 1, QStringLiteral("SELECT 5&4, @a := 1"), false);
  QVERIFY(FUi->Messages().empty());
  QCOMPARE(c->ResultPanel(), QStringLiteral("查询完成,得到：1条记录"));
  QCOMPARE(c->qry1().Fields()[0]->AsInteger(), 4);
  QCOMPARE(c->qry1().Fields()[1]->AsInteger(), 1);
  QCOMPARE(Logged(SessionId(*c, 1), "SELECT 5&4, @a := 1"), 1);
}

// A character the session's set lacks went as "?": the guild got a name nobody typed.
void SqlconsoleDbTest::TextTheSessionCannotHoldSendsNothing() {
  const std::string name = Value("SELECT HEX(Name) FROM `" + Chr() + "`.t_union WHERE ID=1");
  auto c = Console();
  const std::string id = SessionId(*c, 1);
  const std::string before = Value("SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + id);
  const QString sql = QStringLiteral("UPDATE t_union SET Name='公会\U0001F600' WHERE ID=1");
  Run(*c, 1, sql, true);
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QVERIFY2(FUi->Messages()[0].Args.Text.contains(QStringLiteral("U+1F600")),
           qPrintable(FUi->Messages()[0].Args.Text));
  QCOMPARE(Value("SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + id), before);
  QCOMPARE(Value("SELECT HEX(Name) FROM `" + Chr() + "`.t_union WHERE ID=1"), name);
  QCOMPARE(c->Tab(1).Memo->toPlainText(), sql);
}

void SqlconsoleDbTest::StatementsRunOnceWhateverTheBox_data() {
  QTest::addColumn<bool>("execute");
  QTest::addColumn<QString>("sql");
  QTest::addColumn<QString>("panel");
  QTest::addColumn<int>("level");  // guild 1's level afterwards, as the server holds it
  QTest::newRow("update, box on") << true << QStringLiteral("UPDATE t_union SET Level=Level+1 WHERE ID=1")
                                  << QStringLiteral("执行完成。") << 1;
  QTest::newRow("update, box off") << false << QStringLiteral("UPDATE t_union SET Level=Level+1 WHERE ID=1")
                                   << QStringLiteral("执行完成。") << 1;
  QTest::newRow("select, box on") << true << QStringLiteral("SELECT * FROM t_union")
                                  << QStringLiteral("执行完成。") << 0;
}

void SqlconsoleDbTest::StatementsRunOnceWhateverTheBox() {
  QFETCH(bool, execute);
  QFETCH(QString, sql);
  const int before = std::stoi(Value("SELECT Level FROM `" + Chr() + "`.t_union WHERE ID=1"));
  auto c = Console();
  const std::string id = SessionId(*c, 1);
  const int sent = Logged(id, sql.toStdString());
  Run(*c, 1, sql, execute);
  QVERIFY(FUi->Messages().empty());
  QTEST(c->ResultPanel(), "panel");
  QCOMPARE(c->StatementPanel(), sql + QStringLiteral("   "));
  // A statement run with the box ticked leaves the grid empty.
  QVERIFY(!c->qry1().Active());
  QFETCH(int, level);
  QCOMPARE(std::stoi(Value("SELECT Level FROM `" + Chr() + "`.t_union WHERE ID=1")), before + level);
  QCOMPARE(Logged(id, sql.toStdString()), sent + 1);
}

void SqlconsoleDbTest::ServerErrorIsShown() {
  auto c = Console();
  Run(*c, 2, QStringLiteral("SELECT * FROM no_such_table"), false);
  QCOMPARE(FUi->Messages().size(), size_t(1));
  const TMessageBoxArgs& box = FUi->Messages()[0].Args;
  QVERIFY2(box.Text.startsWith(QStringLiteral("错误信息：\r\n")) && box.Text.contains("no_such_table"),
           qPrintable(box.Text));
  QCOMPARE(box.Caption, QStringLiteral("错误"));
  QCOMPARE(box.Icon, TMsgIcon::Error);
  QVERIFY(c->ResultPanel().isEmpty());
}

// A run that fails shows its error and nothing of the run before: no rows in the grid, no row
// count and no statement, which the game master could take for those of the statement that failed.
void SqlconsoleDbTest::FailedRunLeavesNoEarlierResult_data() {
  QTest::addColumn<QString>("sql");
  QTest::newRow("refused by the server") << QStringLiteral("SELECT * FROM no_such_table");
  QTest::newRow("empty") << QString();
  QTest::newRow("a character the session cannot hold") << QStringLiteral("SELECT '\U0001F600'");
}

void SqlconsoleDbTest::FailedRunLeavesNoEarlierResult() {
  QFETCH(QString, sql);
  auto c = Console();
  Run(*c, 0, QStringLiteral("SELECT * FROM user"), false);
  QCOMPARE(c->Tab(0).Grid->GridModel().rowCount(), 35);
  Run(*c, 0, sql, false);
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(c->Tab(0).Grid->GridModel().rowCount(), 0);
  QVERIFY(c->ResultPanel().isEmpty());
  QVERIFY(c->StatementPanel().isEmpty());
}

void SqlconsoleDbTest::TabChangeClosesTheSharedQuery() {
  auto c = Console();
  Run(*c, 2, QStringLiteral("SELECT 1"), false);
  QVERIFY(c->qry1().Active());
  c->pgc1->setCurrentIndex(0);
  QVERIFY(!c->qry1().Active());
  QVERIFY(c->ResultPanel().isEmpty());
  QVERIFY(c->StatementPanel().isEmpty());
}

void SqlconsoleDbTest::TemplatesPerKind_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("execute");
  QTest::newRow("select") << 0 << QStringLiteral("SELECT * FROM t_union") << false;
  QTest::newRow("insert") << 1 << QStringLiteral("INSERT INTO FROM t_union") << true;
  QTest::newRow("delete") << 2 << QStringLiteral("DELETE FROM t_union") << true;
  QTest::newRow("none") << -1 << QStringLiteral("SELECT * FROM t_union") << false;
}

void SqlconsoleDbTest::TemplatesPerKind() {
  QFETCH(int, kind);
  auto c = Console();
  Tbigset::TSqlTab& tab = c->Tab(1);
  tab.Memo->setPlainText(QStringLiteral("old text"));
  tab.Execute->setChecked(kind == 0);
  tab.Kind->setCurrentIndex(kind);
  tab.Table->setCurrentIndex(tab.Table->findText(QStringLiteral("t_union")));
  c->Generate(1);
  QTEST(tab.Memo->toPlainText(), "text");
  QTEST(tab.Execute->isChecked(), "execute");
}

void SqlconsoleDbTest::GridEditWritesOnlyItsRow_data() {
  QTest::addColumn<int>("tab");
  QTest::addColumn<QString>("sql");
  QTest::addColumn<QString>("field");
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("written");
  QTest::addColumn<QString>("plain");  // the same change by hand; %1 the character database
  const QString join = QStringLiteral(
      "SELECT u.ID, u.Level, b.AccountID, b.BankMoney FROM user u JOIN t_bank b ON "
      "b.AccountID=u.AccountID ORDER BY u.ID");
  QTest::newRow("join, own table") << 1 << join << "Level"
                                   << "77" << true << "UPDATE `%1`.`user` SET Level=77 WHERE ID=2";
  QTest::newRow("join, other table") << 1 << join << "BankMoney"
                                     << "1" << false << "";
  const QString both =
      QStringLiteral("SELECT * FROM user u JOIN t_bank b ON b.AccountID=u.AccountID ORDER BY u.ID");
  QTest::newRow("join, a name both tables have")
      << 1 << both << "Password"
      << "pw" << true << "UPDATE `%1`.`user` SET Password='pw' WHERE ID=2";
  QTest::newRow("join, the other table's column of that name") << 1 << both << "Password_1"
                                                               << "pw" << false << "";
  // Two members share title and rank; the name that tells them apart is not shown.
  QTest::newRow("key not shown")
      << 1
      << QStringLiteral("SELECT nickname, official FROM t_union_citizen WHERE official=0 ORDER BY UnionID")
      << "nickname"
      << "zz" << false << "";
  QTest::newRow("computed column") << 1 << QStringLiteral("SELECT ID, Level+1 AS Next FROM user ORDER BY ID")
                                   << "Next"
                                   << "5" << false << "";
  QTest::newRow("table of another database")
      << 0 << QStringLiteral("SELECT * FROM `%1`.t_union ORDER BY ID") << "Level"
      << "9" << true << "UPDATE `%1`.t_union SET Level=9 WHERE ID=2";
  QTest::newRow("TIME and DECIMAL, keyed")
      << 1 << QStringLiteral("SELECT * FROM t_span ORDER BY Note") << "Note"
      << "z" << true << "UPDATE `%1`.t_span SET Note='z' WHERE Note='b'";
  QTest::newRow("TIME beyond a day, edited")
      << 1 << QStringLiteral("SELECT * FROM t_span ORDER BY Note") << "Span"
      << "-101:30:05" << true << "UPDATE `%1`.t_span SET Span='-101:30:05' WHERE Note='b'";
  QTest::newRow("DECIMAL(65,30), edited")
      << 1 << QStringLiteral("SELECT * FROM t_span_nokey ORDER BY Note") << "Amount"
      << "99999999999999999999999999999999999.000000000000000000000000000007" << true
      << "UPDATE `%1`.t_span_nokey SET "
         "Amount='99999999999999999999999999999999999.000000000000000000000000000007' "
         "WHERE Note='b'";
  QTest::newRow("TIME and DECIMAL, no key")
      << 1 << QStringLiteral("SELECT * FROM t_span_nokey ORDER BY Note") << "Note"
      << "z" << true << "UPDATE `%1`.t_span_nokey SET Note='z' WHERE Note='b'";
}

// One cell of the second row is edited; the server then holds what the same change made by
// hand gives, in every table the statement read.
void SqlconsoleDbTest::GridEditWritesOnlyItsRow() {
  QFETCH(int, tab);
  QFETCH(QString, sql);
  QFETCH(QString, field);
  QFETCH(QString, text);
  QFETCH(bool, written);
  QFETCH(QString, plain);
  const std::string chr = Chr(), saved = Chr() + "_saved", twin = Chr() + "_twin";
  const std::string copied[] = {"`user`", "t_bank", "t_union", "t_union_citizen"};
  const std::string spans[] = {"t_span", "t_span_nokey"};
  // The twin database holds the same rows and gets the change by hand; saved keeps the rows of
  // the fixture for the next case.
  for (const std::string& db : {saved, twin}) {
    FAdmin->Exec("CREATE DATABASE `" + db + "`");
    for (const std::string& t : copied)
      FAdmin->Exec("CREATE TABLE `" + db + "`." + t + " ENGINE=MyISAM AS SELECT * FROM `" + chr + "`." + t);
  }
  for (const std::string& db : {chr, twin})
    for (const std::string& t : spans) {
      FAdmin->Exec("CREATE TABLE `" + db + "`." + t +
                   " (ID INT AUTO_INCREMENT, Span TIME, Amount DECIMAL(65,30), Note VARCHAR(8), " +
                   (t == "t_span" ? "PRIMARY KEY (ID)" : "KEY (ID)") + ") ENGINE=MyISAM");
      FAdmin->Exec("INSERT INTO `" + db + "`." + t +
                   " (Span, Amount, Note) VALUES ('100:00:00', "
                   "'-12345678901234567890123456789012345.123456789012345678901234567891', 'a'), "
                   "('-838:59:59', '0.000000000000000000000000000001', 'b'), ('25:30:00', NULL, 'c')");
    }
  if (!plain.isEmpty()) FAdmin->Exec(plain.arg(QString::fromStdString(twin)).toStdString());
  {
    auto c = Console();
    Run(*c, tab, sql.arg(QString::fromStdString(chr)), false);
    QVERIFY(FUi->Messages().empty());
    QCOMPARE(EditCell(*c, tab, 1, field.toStdString(), text), written);
  }
  for (const std::string& t : {copied[0], copied[1], copied[2], copied[3], spans[0], spans[1]})
    QVERIFY2(FAdmin->Checksum("`" + chr + "`." + t) == FAdmin->Checksum("`" + twin + "`." + t), t.c_str());
  for (const std::string& t : copied) {
    FAdmin->Exec("DELETE FROM `" + chr + "`." + t);
    FAdmin->Exec("INSERT INTO `" + chr + "`." + t + " SELECT * FROM `" + saved + "`." + t);
  }
  FAdmin->Exec("DROP TABLE `" + chr + "`.t_span, `" + chr + "`.t_span_nokey");
  FAdmin->Exec("DROP DATABASE `" + twin + "`");
  FAdmin->Exec("DROP DATABASE `" + saved + "`");
}

void SqlconsoleDbTest::MenuOpensOneConsole() {
  QTemporaryDir dir;
  FZone->WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenSqlConsole();
  frame.OpenSqlConsole();
  QCOMPARE(frame.MdiArea()->subWindowList().size(), 1);
  QCOMPARE(frame.MdiArea()->subWindowList()[0]->widget()->objectName(), QStringLiteral("bigset"));
}

void SqlconsoleDbTest::OneStatementARun_data() {
  QTest::addColumn<QString>("sql");
  QTest::addColumn<QString>("refusal");  // empty: the text runs as one statement
  QTest::addColumn<int>("level");        // guild 1's level afterwards, as the server holds it
  // The UPDATE ran and only the error of the SELECT was shown: running the mended text again
  // raised the level twice.
  QTest::newRow("update, then a failing select")
      << QStringLiteral("UPDATE t_union SET Level=Level+1 WHERE ID=1; SELECT * FROM nosuch")
      << QStringLiteral(
             "查询语句中有2条语句，一次只能运行一条：第2条语句从第1行第46列开始。没有执行任何语句。")
      << 0;
  // The rows of the SELECT were shown, and nothing was said of the DELETE.
  QTest::newRow("select, then a delete")
      << QStringLiteral("SELECT ID FROM t_union;\nDELETE FROM t_union WHERE ID=2")
      << QStringLiteral(
             "查询语句中有2条语句，一次只能运行一条：第2条语句从第2行第1列开始。没有执行任何语句。")
      << 0;
  QTest::newRow("three, a comment before the second")
      << QStringLiteral("UPDATE t_union SET Level=Level+1 WHERE ID=1; -- raise\nSELECT 1;SELECT 2")
      << QStringLiteral(
             "查询语句中有3条语句，一次只能运行一条：第2条语句从第1行第46列开始。没有执行任何语句。")
      << 0;
  QTest::newRow("one, with its delimiter and a comment")
      << QStringLiteral("UPDATE t_union SET Level=Level+1 WHERE ID=1; -- raise") << QString() << 1;
  QTest::newRow("a semicolon in a string")
      << QStringLiteral("UPDATE t_union SET Level=Level+1 WHERE ID=1 AND ';'=';'") << QString() << 1;
  QTest::newRow("a routine body")
      << QStringLiteral(
             "CREATE PROCEDURE p_one() BEGIN UPDATE t_union SET Level=Level+1 WHERE ID=1; "
             "SELECT 1; END")
      << QString() << 0;
  QTest::newRow("a routine body under DELIMITER")
      << QStringLiteral(
             "DELIMITER //\nCREATE PROCEDURE p_one() BEGIN\n  UPDATE t_union SET Level=Level+1 "
             "WHERE ID=1;\n  SELECT 1;\nEND//\nDELIMITER ;")
      << QString() << 0;
  // What followed the routine's END was sent with it and ran, unannounced.
  QTest::newRow("a routine, then a delete after its END")
      << QStringLiteral("CREATE PROCEDURE p_one() BEGIN SELECT 1; END; DELETE FROM t_union WHERE ID=2")
      << QStringLiteral(
             "查询语句中有2条语句，一次只能运行一条：第2条语句从第1行第47列开始。没有执行任何语句。")
      << 0;
  QTest::newRow("a routine without BEGIN, then an update")
      << QStringLiteral("CREATE PROCEDURE p_one() SELECT 1;\nUPDATE t_union SET Level=Level+1 WHERE ID=1")
      << QStringLiteral(
             "查询语句中有2条语句，一次只能运行一条：第2条语句从第2行第1列开始。没有执行任何语句。")
      << 0;
  QTest::newRow("a routine with nested blocks and a CASE expression")
      << QStringLiteral(
             "CREATE PROCEDURE p_one() BEGIN IF 1 THEN BEGIN SELECT CASE WHEN 1 THEN 2 END; END; "
             "END IF; CASE WHEN 1 THEN SELECT 1; END CASE; l: LOOP LEAVE l; END LOOP l; END;")
      << QString() << 0;
}

// A text of several statements is refused before anything is sent: nothing runs that the game
// master is not told of. One statement runs once, a routine's body and text under DELIMITER being one.
void SqlconsoleDbTest::OneStatementARun() {
  QFETCH(QString, sql);
  QFETCH(QString, refusal);
  QFETCH(int, level);
  const std::string guild = "SELECT Level FROM `" + Chr() + "`.t_union WHERE ID=1";
  const int before = std::stoi(Value(guild));
  const std::string guilds = FAdmin->Checksum("`" + Chr() + "`.t_union");
  auto c = Console();
  const std::string id = SessionId(*c, 1);
  const int sent = Logged(id);
  Run(*c, 1, sql, true);
  if (refusal.isEmpty()) {
    QVERIFY(FUi->Messages().empty());
    QCOMPARE(c->ResultPanel(), ExecuteDoneText());
    QCOMPARE(Logged(id), sent + 1);
  } else {
    QCOMPARE(FUi->Messages().size(), size_t(1));
    QCOMPARE(FUi->Messages()[0].Args.Text, refusal);
    QCOMPARE(FUi->Messages()[0].Args.Caption, QStringLiteral("错误"));
    QVERIFY(c->ResultPanel().isEmpty());
    QCOMPARE(Logged(id), sent);
    QCOMPARE(FAdmin->Checksum("`" + Chr() + "`.t_union"), guilds);
  }
  QCOMPARE(std::stoi(Value(guild)), before + level);
  if (sql.contains(QStringLiteral("PROCEDURE"))) {
    // The body is the routine's: it runs when called.
    QCOMPARE(Value("SELECT COUNT(*) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA='" + Chr() +
                   "' AND ROUTINE_NAME='p_one'"),
             std::string(refusal.isEmpty() ? "1" : "0"));
    if (refusal.isEmpty()) FAdmin->Exec("DROP PROCEDURE `" + Chr() + "`.p_one");
  }
}

// Each tab's session is the login's for what the game master sees (database, user, character set,
// con1's gb2312 under 默认 included), but a session of its own; it goes with the window.
void SqlconsoleDbTest::SessionsAreLikeTheLoginsButOwn() {
  const std::string settings =
      "SELECT CONCAT_WS('|', DATABASE(), CURRENT_USER(), @@character_set_client, @@character_set_results, "
      "@@collation_connection, @@sql_mode, @@autocommit)";
  std::string console[3];
  {
    auto c = Console();
    for (int tab = 0; tab < 3; ++tab) {
      TMySQLConnection& own = *c->Tab(tab).Connection->MyIConnection();
      console[tab] = QueryValue(own, "SELECT CONNECTION_ID()");
      QCOMPARE(QueryValue(own, settings), QueryValue(FLogins[tab]->Provider(), settings));
      QVERIFY(console[tab] != QueryValue(FLogins[tab]->Provider(), "SELECT CONNECTION_ID()"));
    }
    QCOMPARE(QueryValue(*c->Tab(0).Connection->MyIConnection(), "SELECT @@character_set_client"),
             std::string("gb2312"));
  }
  for (const std::string& id : console)
    QCOMPARE(Value("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID=" + id), std::string("0"));
}

// USE on the console's account tab moved the account window to the character database, and its
// delete took a character. Whatever the console leaves in its sessions (another database, SET
// NAMES, a sql_mode, autocommit off, a temporary table named like the game's, an open
// transaction), the account, character and guild windows read and write the login's databases.
void SqlconsoleDbTest::SessionChangesLeaveTheToolWindowsOnTheLogin() {
  TGameZone zone(FInfo, QStringLiteral("sq2_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(zone.Load());
  const std::string acc = zone.Acc().toStdString(), chr = zone.Chr().toStdString();
  QTemporaryDir dir;
  zone.WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenSqlConsole();
  auto* c = frame.findChild<Tbigset*>();
  QVERIFY(c != nullptr);
  const QString other[3] = {zone.Chr(), zone.Acc(), zone.Chr()};
  for (int tab = 0; tab < 3; ++tab)
    for (const QString& sql :
         {QStringLiteral("USE `%1`").arg(other[tab]), QStringLiteral("SET NAMES latin1"),
          QStringLiteral("SET sql_mode='ANSI_QUOTES,NO_BACKSLASH_ESCAPES'"),
          QStringLiteral("SET autocommit=0"), QStringLiteral("CREATE TEMPORARY TABLE user (id INT)"),
          QStringLiteral("CREATE TEMPORARY TABLE t_union (id INT)"), QStringLiteral("START TRANSACTION")}) {
      Run(*c, tab, sql, true);
      QCOMPARE(c->ResultPanel(), ExecuteDoneText());
    }
  QVERIFY(FUi->Messages().empty());
  const std::string characters = FAdmin->Checksum("`" + chr + "`.`user`");
  const std::string accounts = Value("SELECT COUNT(*) FROM `" + acc + "`.`user`");

  frame.OpenAccountBrowser();
  auto* account = frame.findChild<Tusermanager*>();
  QVERIFY(account != nullptr);
  QCOMPARE(account->PagingState().RecordTotal, int64_t(std::stoll(accounts)));
  const std::string first = account->qry1().FieldByName("username")->AsString();
  FUi->Answer(TMsgResult::Yes);
  account->DeleteCurrent();
  QCOMPARE(FUi->Messages().back().Args.Text, QStringLiteral("删除记录成功！"));
  QCOMPARE(Value("SELECT COUNT(*) FROM `" + acc + "`.`user` WHERE username='" + first + "'"),
           std::string("0"));
  QCOMPARE(FAdmin->Checksum("`" + chr + "`.`user`"), characters);

  frame.OpenCharBrowser();
  auto* character = frame.findChild<Tcharmanager*>();
  QVERIFY(character != nullptr);
  QCOMPARE(character->PagingState().RecordTotal,
           int64_t(std::stoll(Value("SELECT COUNT(*) FROM `" + chr + "`.`user`"))));

  frame.OpenGuilds();
  auto* guilds = frame.findChild<Tgonghui*>();
  QVERIFY(guilds != nullptr);
  QCOMPARE(guilds->qry1().RecordCount(), std::stoi(Value("SELECT COUNT(*) FROM `" + chr + "`.t_union")));
  const std::string guild = guilds->CurrentId();
  FUi->Answer(TMsgResult::Yes);
  guilds->Dissolve();
  QCOMPARE(FUi->Messages().back().Args.Text, QStringLiteral("解散工会成功！"));
  // Written for good: seen from another session.
  QCOMPARE(Value("SELECT COUNT(*) FROM `" + chr + "`.t_union WHERE ID=" + guild), std::string("0"));
}

// The console's own sessions cannot be opened (the log database went since the login): the box
// says what failed in the console's words, then the server's, and no window stays half made.
void SqlconsoleDbTest::OpeningThatFailsSaysWhatFailedFirst() {
  TGameZone zone(FInfo, QStringLiteral("sq3_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(zone.Load());
  QTemporaryDir dir;
  zone.WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  FAdmin->Exec("DROP DATABASE `" + zone.Log().toStdString() + "`");
  frame.OpenSqlConsole();
  QVERIFY(frame.MdiArea()->subWindowList().isEmpty());
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text,
           QStringLiteral("打开高级操作失败，请检查网络连接！\n\rUnknown database '%1'").arg(zone.Log()));
}

QTEST_MAIN(SqlconsoleDbTest)
#include "Sqlconsole_dbtest.moc"
