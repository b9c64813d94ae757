// The log browser over the fixture zone on the test server: each action named in words, the
// search by character and time, the cleanup that asks, deletes exactly the earlier rows in one
// statement and pages the rest, refused dates that send nothing, and a zone whose character
// database name needs quoting.
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QtTest>
#include <map>
#include <memory>
#include <set>

#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/browsers/Unit_logmanager.h"
#include "console/common/MyLoginConnection.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/FieldText.h"
#include "platform/widgets/UiRecorder.h"

class LogmanagerDbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void EachTypeShowsItsActionName();
  void SearchesByCharacterAndTime_data();
  void SearchesByCharacterAndTime();
  void RefusedCleanupSendsNothing_data();
  void RefusedCleanupSendsNothing();
  void CleanupKeepsTheBoundaryRowAndPagesTheRest();
  void OpensOverADatabaseNameThatNeedsQuoting();
  void CharacterIsNamedInEitherBackslashMode_data();
  void CharacterIsNamedInEitherBackslashMode();

 private:
  std::unique_ptr<Tlogmanager> Browser() {
    return std::make_unique<Tlogmanager>(FLogs->MyConnection(), FChars->MyConnection(), FZone->Chr(),
                                         QStringLiteral("默认"));
  }
  std::string Value(const std::string& sql) { return FAdmin->Value(sql); }
  std::string Log() const { return "`" + FZone->Log().toStdString() + "`.`t_log_user_history`"; }
  // Statements of the log connection whose text is like pattern, from the server's log.
  int Logged(const std::string& pattern) {
    return std::stoi(Value("SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + FLogId +
                           " AND command_type='Query' AND argument LIKE '" + pattern + "'"));
  }
  static QString Cell(Tlogmanager& b, int row, int column) {
    TDBGridModel& model = b.dbgrd1->GridModel();
    return model.data(model.index(row, column), Qt::DisplayRole).toString();
  }

  QMap<QString, QString> FInfo;
  std::unique_ptr<TGameZone> FZone;
  std::unique_ptr<TAdminSession> FAdmin;
  std::unique_ptr<TMyLoginConnection> FLogs;
  std::unique_ptr<TMyLoginConnection> FChars;
  std::string FLogId;  // the log connection's id in the server's log
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
};

void LogmanagerDbTest::initTestCase() {
  FInfo = ServerInfo();
  FZone = std::make_unique<TGameZone>(FInfo, QStringLiteral("lm_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(FZone->Load());
  FAdmin = std::make_unique<TAdminSession>(FInfo);
  FAdmin->Exec("SET GLOBAL log_output='TABLE'");
  FAdmin->Exec("SET GLOBAL general_log=1");
  // The login's character and log connections, as the login opens them.
  auto open = [&](const QString& db) {
    auto con = std::make_unique<TMyLoginConnection>("");
    con->Open({FInfo["HOST"].toStdString(),
               FInfo["PORT"].toInt(),
               FInfo["NATIVE_USER"].toStdString(),
               FInfo["NATIVE_PASSWORD"].toStdString(),
               db.toStdString(),
               {}});
    return con;
  };
  FAdmin->Exec("INSERT IGNORE INTO `" + FZone->Chr().toStdString() +
               "`.`user` (UniqueName, Name) VALUES ('lm_twin', X'F6F1BB5C')");
  FChars = open(FZone->Chr());
  FLogs = open(FZone->Log());
  FLogId = QueryValue(FLogs->Provider(), "SELECT CONNECTION_ID()");
}

void LogmanagerDbTest::init() {
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
}

void LogmanagerDbTest::cleanup() {
  FScope.reset();
  FUi.reset();
}

void LogmanagerDbTest::EachTypeShowsItsActionName() {
  const std::map<std::string, QString> names = {
      {"1/0", "玩家交易"},  {"7/0", "系统检测"},  {"8/0", "GM动作"},    {"10/0", "道具解密"},
      {"11/0", "丢弃道具"}, {"12/0", "拾取道具"}, {"13/0", "玩家买入"}, {"14/0", "玩家卖出"},
      {"15/1", "玩家登录"}, {"15/2", "玩家退出"}, {"15/3", "未知动作"}, {"18/0", "商店出售"},
      {"19/0", "锻造道具"}, {"25/0", "道具领取"}, {"26/0", "创建角色"}, {"36/1", "发布拍卖"},
      {"36/2", "未知动作"}, {"36/3", "拍卖卖出"}, {"36/4", "竞拍成功"}};
  auto b = Browser();
  b->e1->setText(QStringLiteral("100"));
  b->ChangePageSize();
  const int rows = b->dbgrd1->GridModel().rowCount();
  QCOMPARE(rows, std::stoi(Value("SELECT COUNT(*) FROM " + Log())));
  std::set<std::string> seen;
  for (int r = 0; r < rows; ++r) {
    const std::string id = Cell(*b, r, 0).toStdString();
    const std::string kind =
        Value("SELECT CONCAT(type, '/', longParam1) FROM " + Log() + " WHERE OperateID=" + id);
    QVERIFY2(names.count(kind), kind.c_str());
    QCOMPARE(Cell(*b, r, 2), names.at(kind));
    // The character's name, from the character database's own bytes.
    const std::string name = Value("SELECT u.Name FROM " + Log() + " a JOIN `" + FZone->Chr().toStdString() +
                                   "`.`user` u ON u.ID=a.userID WHERE a.OperateID=" + id);
    QCOMPARE(Cell(*b, r, 1), DecodeFieldText(name, TFieldCharset::Gbk));
    QVERIFY(!name.empty());
    seen.insert(kind);
  }
  QCOMPARE(seen.size(), names.size());
  QVERIFY(FUi->Messages().empty());
}

void LogmanagerDbTest::SearchesByCharacterAndTime_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<int>("filter");
  QTest::addColumn<int>("rows");  // -1: no such character
  QTest::newRow("青云, every action") << QStringLiteral("青云") << 0 << 3;
  QTest::newRow("青云, logins") << QStringLiteral("青云") << 6 << 2;
  QTest::newRow("青云, logouts") << QStringLiteral("青云") << 7 << 1;
  QTest::newRow("竹籠 (trail byte 0x5C)") << QStringLiteral("竹籠") << 0 << 1;
  // 鲴 is F6F1, 竹 D6F1: the same bytes to a latin1 column's case-blind collation.
  QTest::newRow("鲴籠, 竹籠's twin without a log") << QStringLiteral("鲴籠") << 0 << 0;
  QTest::newRow("quote") << QStringLiteral("x' OR '1'='1") << 0 << -1;
  // The latin1 collation takes each of these names for the other.
  QTest::newRow("Bob, not bob") << QStringLiteral("Bob") << 0 << 2;
  QTest::newRow("bob, not Bob") << QStringLiteral("bob") << 0 << 1;
  QTest::newRow("BOB, neither") << QStringLiteral("BOB") << 0 << -1;
  QTest::newRow("Ann, the living one beside a deleted twin") << QStringLiteral("Ann") << 0 << 1;
}

void LogmanagerDbTest::SearchesByCharacterAndTime() {
  QFETCH(QString, name);
  QFETCH(int, filter);
  QFETCH(int, rows);
  // Bob (950), bob (951), a deleted Ann (952) and the Ann who took the name up since (953), with
  // logs of their own.
  const std::string chars = "`" + FZone->Chr().toStdString() + "`.`user`";
  FAdmin->Exec(
      "INSERT INTO " + chars +
      " (ID, UniqueName, Name, deleted) VALUES (950, 'lm_950', 'Bob', 0), (951, 'lm_951', 'bob', 0), "
      "(952, 'lm_952', 'Ann', 1), (953, 'lm_953', 'Ann', 0)");
  FAdmin->Exec(
      "INSERT INTO " + Log() +
      " (userID, type, LogTime) VALUES (950, 8, '2024-02-10 10:00:00'), (950, 8, '2024-02-11 10:00:00'), "
      "(951, 8, '2024-02-12 10:00:00'), (952, 8, '2024-02-10 10:00:00'), (952, 8, '2024-02-11 10:00:00'), "
      "(953, 8, '2024-02-12 10:00:00')");
  struct TCleanup {
    LogmanagerDbTest& Test;
    std::string Chars;
    ~TCleanup() {
      try {
        Test.FAdmin->Exec("DELETE FROM " + Test.Log() + " WHERE userID BETWEEN 950 AND 953");
        Test.FAdmin->Exec("DELETE FROM " + Chars + " WHERE ID BETWEEN 950 AND 953");
      } catch (...) {
        // The server went first; the zone is dropped with it.
      }
    }
  } cleanup{*this, chars};
  auto b = Browser();
  b->NextPage();
  b->edt1->setText(name);
  b->edt2->setText(QStringLiteral("2024-01-01 00:00:00"));
  b->edt3->setText(QStringLiteral("2024-03-31 00:00:00"));
  b->cbb1->setCurrentIndex(filter);
  const int before = Logged("%t_log_user_history%");
  b->Search();
  if (rows < 0) {
    QCOMPARE(FUi->Messages().size(), size_t(1));
    QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("所查询的角色不存在！"));
    QCOMPARE(Logged("%t_log_user_history%"), before);
    return;
  }
  QVERIFY(FUi->Messages().empty());
  QCOMPARE(b->qry1().RecordCount(), rows);
  QCOMPARE(b->lbl11->text(), QStringLiteral("当前查询共有记录%1条").arg(rows));
  QCOMPARE(b->lbl2->text(), QStringLiteral("第 1 页/共 %1 页").arg(rows > 0 ? 1 : 0));
  for (int r = 0; r < rows; ++r) QCOMPARE(Cell(*b, r, 1), name);
}

void LogmanagerDbTest::RefusedCleanupSendsNothing_data() {
  QTest::addColumn<QString>("date");
  QTest::addColumn<bool>("asked");  // the date passed its checks and the question was cancelled
  QTest::addColumn<QString>("message");
  const QString form = QStringLiteral("清除时间格式不正确，请按yyyy-mm-dd hh:nn:ss输入！");
  QTest::newRow("empty") << QString() << false << QStringLiteral("清除时间不能设置为空！");
  QTest::newRow("quote") << QStringLiteral("1' or '1'='1") << false << form;
  QTest::newRow("quote after a date") << QStringLiteral("2024-02-01 00:00:00' or '1'='1") << false << form;
  QTest::newRow("no such day") << QStringLiteral("2024-02-30 00:00:00") << false << form;
  QTest::newRow("later than now") << QStringLiteral("9999-12-31 23:59:59") << false
                                  << QStringLiteral("时间不能大于或等于今天的时间！");
  QTest::newRow("cancelled")
      << QStringLiteral("2024-02-01 00:00:00") << true
      << QStringLiteral("删除操作是不可逆的！为了您方便对游戏的管理，建议保留至少3天的日志，是否继续？");
}

void LogmanagerDbTest::RefusedCleanupSendsNothing() {
  QFETCH(QString, date);
  QFETCH(bool, asked);
  QFETCH(QString, message);
  auto b = Browser();
  const std::string total = Value("SELECT COUNT(*) FROM " + Log());
  const int before = Logged("%");
  b->edt4->setText(date);
  FUi->Answer(TMsgResult::Cancel);
  b->CleanUp();
  QCOMPARE(Logged("%"), before);
  QCOMPARE(Value("SELECT COUNT(*) FROM " + Log()), total);
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, message);
  QCOMPARE(FUi->Messages()[0].Args.Buttons == TMsgButtons::OkCancel, asked);
  if (asked) QCOMPARE(FUi->Messages()[0].Args.Default, TMsgResult::Cancel);
}

void LogmanagerDbTest::CleanupKeepsTheBoundaryRowAndPagesTheRest() {
  const std::string boundary = "'2024-02-01 00:00:00'";
  const int earlier = std::stoi(Value("SELECT COUNT(*) FROM " + Log() + " WHERE LogTime < " + boundary));
  const int total = std::stoi(Value("SELECT COUNT(*) FROM " + Log()));
  QVERIFY(earlier > 0);
  auto b = Browser();
  b->QuickFilter(0);  // GM日志: a condition of its own that the cleanup's refresh drops
  QCOMPARE(FUi->Messages().size(), size_t(0));
  const int deletes = Logged("delete%");
  b->edt4->setText(QStringLiteral("2024-02-01 00:00:00"));
  FUi->Answer(TMsgResult::Ok);
  b->CleanUp();
  QCOMPARE(Logged("delete%"), deletes + 1);
  QCOMPARE(Value("SELECT COUNT(*) FROM " + Log() + " WHERE LogTime < " + boundary), std::string("0"));
  QCOMPARE(Value("SELECT COUNT(*) FROM " + Log() + " WHERE LogTime = " + boundary), std::string("1"));
  QCOMPARE(std::stoi(Value("SELECT COUNT(*) FROM " + Log())), total - earlier);
  QCOMPARE(FUi->Messages().size(), size_t(2));
  QCOMPARE(FUi->Messages()[1].Args.Text,
           QStringLiteral("删除指定日期之前记录成功！共删除%1条记录。").arg(earlier));
  // The whole remaining log, page by page.
  const int left = total - earlier;
  QCOMPARE(b->lbl11->text(), QStringLiteral("共有记录%1条").arg(left));
  b->NextPage();
  QCOMPARE(b->lbl2->text(), QStringLiteral("第 2 页/共 %1 页").arg((left + 16) / 17));
  QCOMPARE(b->qry1().RecordCount(), std::min(17, left - 17));
}

void LogmanagerDbTest::OpensOverADatabaseNameThatNeedsQuoting() {
  TGameZone zone(FInfo, QStringLiteral("zqv-2_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(zone.Load());
  QTemporaryDir dir;
  zone.WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenLogBrowser();
  QCOMPARE(frame.MdiArea()->subWindowList().size(), 1);
  auto* b = frame.findChild<Tlogmanager*>();
  QVERIFY(b);
  QCOMPARE(b->qry1().RecordCount(), 17);
  QCOMPARE(b->lbl11->text(), QStringLiteral("共有记录60条"));
  QVERIFY(!Cell(*b, 0, 1).isEmpty());
  QVERIFY(FUi->Messages().empty());
  QVERIFY(QTest::qWaitForWindowExposed(&frame));
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty())
    QVERIFY(frame.grab().save(QDir(shots).filePath("log-browser.png")));
  // A whole page shows without scrolling, inside the frame.
  TDBGrid* grid = b->dbgrd1;
  QVERIFY(grid->rowViewportPosition(16) + grid->rowHeight(16) <= grid->viewport()->height());
  QVERIFY(b->parentWidget()->geometry().bottom() <= frame.MdiArea()->height());
  frame.OpenLogBrowser();
  QCOMPARE(frame.MdiArea()->subWindowList().size(), 1);
}

void LogmanagerDbTest::CharacterIsNamedInEitherBackslashMode_data() {
  QTest::addColumn<bool>("noBackslashEscapes");
  QTest::addColumn<QString>("name");
  QTest::addColumn<bool>("found");
  for (const bool off : {false, true}) {
    const char* mode = off ? "NO_BACKSLASH_ESCAPES" : "backslash escapes";
    QTest::addRow("%s, injection", mode) << off << QStringLiteral("x\\' OR 1=1 -- ") << false;
    QTest::addRow("%s, backslash and quote", mode) << off << QStringLiteral("a\\'b") << true;
    QTest::addRow("%s, trailing backslash", mode) << off << QStringLiteral("c\\") << true;
  }
}

// The character is looked up by the name as typed, whichever way the sessions read backslashes:
// a name that would end its literal early finds no character and shows no one's log.
void LogmanagerDbTest::CharacterIsNamedInEitherBackslashMode() {
  QFETCH(bool, noBackslashEscapes);
  QFETCH(QString, name);
  QFETCH(bool, found);
  // a\'b and c\, without a log.
  FAdmin->Exec("INSERT INTO `" + FZone->Chr().toStdString() +
               "`.`user` (ID, UniqueName, Name) VALUES (930, 'lm_930', UNHEX('615C2762')), "
               "(931, 'lm_931', UNHEX('635C'))");
  int rows = -1;
  {
    TBackslashMode chars(FChars->MyConnection(), noBackslashEscapes);
    TBackslashMode logs(FLogs->MyConnection(), noBackslashEscapes);
    auto b = Browser();
    b->edt1->setText(name);
    b->edt2->setText(QStringLiteral("2024-01-01 00:00:00"));
    b->edt3->setText(QStringLiteral("2024-03-31 00:00:00"));
    b->Search();
    rows = b->qry1().RecordCount();
  }
  FAdmin->Exec("DELETE FROM `" + FZone->Chr().toStdString() + "`.`user` WHERE ID IN (930, 931)");
  if (found) {
    QVERIFY(FUi->Messages().empty());
    QCOMPARE(rows, 0);
  } else {
    QCOMPARE(FUi->Messages().size(), size_t(1));
    QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("所查询的角色不存在！"));
  }
}

QTEST_MAIN(LogmanagerDbTest)
#include "Logmanager_dbtest.moc"
