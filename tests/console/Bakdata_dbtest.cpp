// The backup window on the test server: a backup restored elsewhere checks out equal, a failed
// backup keeps the file it would replace, repair and optimize read the server's result rows, names
// with back quotes reach the server whole, the window stays while it works, and the log is saved.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <memory>

#include "ConsoleTestSupport.h"
#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "console/backup/Unit_bakdata.h"
#include "console/common/ServerWaitBox.h"
#include "console/controls/FlatBtns.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySqlVioTcp.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/FieldText.h"
#include "platform/widgets/UiRecorder.h"

class BakdataDbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void BackupRestoredElsewhereChecksEqual();
  void GameShapesRestoreToTheSameBytes_data();
  void GameShapesRestoreToTheSameBytes();
  void ChineseTableNameIsCopiedOrRefused_data();
  void ChineseTableNameIsCopiedOrRefused();
  void TableNamedWithAPointIsBackedUpItself();
  void FailedBackupKeepsTheOldFile();
  void BackupOfNothingLeavesTheFile();
  void MixedCharacterSetsBackUpUnderUtf8();
  void CancelInTheWaitBoxShowsTheSessionEnded();
  void QualifiedTriggerIsMadeInTheDatabaseRestoredInto();
  void RestoreGoesToTheChosenDatabaseOnly();
  void NoConnectionStopsTheOperation();
  void MaintenanceReadsTheResultRows_data();
  void MaintenanceReadsTheResultRows();
  void BusyWindowStaysAndTakesNoSecondPress_data();
  void BusyWindowStaysAndTakesNoSecondPress();
  void QuotedDatabaseNameIsCreatedAndDroppedWhole();
  void NameTheSessionCannotHoldCreatesNothing();
  void LogIsSavedOnRequest();
  void FailuresShowChineseTextReadably();

 private:
  std::unique_ptr<Tbakdata> LoggedIn(int charsetIndex = 0, const QString& charset = {}) {
    TLoginInput input{FInfo["HOST"], FInfo["PORT"], FInfo["NATIVE_USER"], FInfo["NATIVE_PASSWORD"],
                      charsetIndex,  charset};
    auto w = std::make_unique<Tbakdata>(input);
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->resize(560, 420);
    w->show();
    w->LoginOrLogout();
    if (!w->Work().Connected()) qFatal("the backup window did not log in");
    return w;
  }
  static void Choose(QComboBox* box, const QString& name) {
    box->setCurrentIndex(box->findData(name.toUtf8()));
    QVERIFY2(box->currentIndex() >= 0, qPrintable(name));
  }
  std::string Value(const std::string& sql) { return FAdmin->Value(sql); }
  std::string ConnectionId(Tbakdata& w) {
    return QueryValue(*w.Work().con1().MyIConnection(), "SELECT CONNECTION_ID()");
  }
  // The file run through the mariadb client into database db.
  bool ClientRestore(const QString& file, const std::string& db) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), FInfo["NATIVE_PASSWORD"]);
    p.setProcessEnvironment(env);
    p.setStandardInputFile(file);
    p.start(QStringLiteral("mariadb"), {"-h", FInfo["HOST"], "-P", FInfo["PORT"], "-u", FInfo["NATIVE_USER"],
                                        QString::fromStdString(db)});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
      qWarning("mariadb: %s", p.readAllStandardError().constData());
      return false;
    }
    return true;
  }
  QStringList Texts() const {
    QStringList texts;
    for (const auto& m : FUi->Messages()) texts << m.Args.Text;
    return texts;
  }

  QMap<QString, QString> FInfo;
  std::unique_ptr<TGameZone> FZone;
  std::unique_ptr<TAdminSession> FAdmin;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
  QString FPrefix;
};

void BakdataDbTest::initTestCase() {
  FInfo = ServerInfo();
  FPrefix = QStringLiteral("bk_%1").arg(QCoreApplication::applicationPid());
  FZone = std::make_unique<TGameZone>(FInfo, FPrefix);
  QVERIFY(FZone->Load());
  FAdmin = std::make_unique<TAdminSession>(FInfo);
  FAdmin->Exec("SET GLOBAL log_output='TABLE'");
  FAdmin->Exec("SET GLOBAL general_log=1");
}

void BakdataDbTest::init() {
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
}

void BakdataDbTest::cleanup() {
  FScope.reset();
  FUi.reset();
}

void BakdataDbTest::BackupRestoredElsewhereChecksEqual() {
  QTemporaryDir dir;
  const QString file = dir.filePath("chr.SQL");
  const std::string copy = FPrefix.toStdString() + "_copy";
  FAdmin->Exec("CREATE DATABASE `" + copy + "`");
  auto w = LoggedIn();
  w->pgc1->setCurrentIndex(1);
  Choose(w->cbb1, FZone->Chr());
  w->e2->setText(file);
  // The picture a person would look at, taken while the backup runs.
  const QString shot = QCoreApplication::applicationDirPath() + "/bakdata-backup.png";
  QFile::remove(shot);
  FUi->OnProcessMessages([&] {
    if (!QFile::exists(shot) && w->ProgressBar->value() > 0) QVERIFY(w->grab().save(shot));
  });
  w->RunBackup();
  FUi->OnProcessMessages({});
  QVERIFY(QFile::exists(shot));
  QCOMPARE(w->lbl7->text(), QStringLiteral("* 空闲..."));
  QCOMPARE(w->ProgressBar->value(), 100);
  Choose(w->cbb3, QString::fromStdString(copy));
  w->e4->setText(file);
  w->RunRestore();
  QCOMPARE(Texts(), QStringList({QStringLiteral("操作编号:1100\r\n备份路径：") + file +
                                     QStringLiteral("\r\n备份成功,可进行其它操作"),
                                 QStringLiteral("操作编号:1101\r\n\r\n还原成功,可进行其它操作")}));
  const std::string chr = FZone->Chr().toStdString();
  const std::string tables = Value(
      "SELECT GROUP_CONCAT(table_name ORDER BY table_name) FROM information_schema.tables WHERE "
      "table_schema='" +
      chr + "'");
  QVERIFY(!tables.empty());
  QCOMPARE(Value("SELECT GROUP_CONCAT(table_name ORDER BY table_name) FROM information_schema.tables WHERE "
                 "table_schema='" +
                 copy + "'"),
           tables);
  for (const QString& t : QString::fromStdString(tables).split(',')) {
    const std::string name = "`" + t.toStdString() + "`";
    // The server's own checksum of each copy, read on the window's session.
    TMySQLConnection& admin = *w->Work().con1().MyIConnection();
    auto checksum = [&](const std::string& db) {
      TMySQLCommand command;
      command.SetConnection(&admin);
      command.SetSQL("CHECKSUM TABLE `" + db + "`." + name);
      command.ResultWanted = true;
      command.Execute();
      PMYSQL_RES result = command.GetResult();
      command.SetResult(nullptr);
      TMySQLAPI* api = admin.GetAPI();
      PMYSQL_ROW row = api->mysql_fetch_row(result);
      const std::string value = row && !api->FieldIsNull(row, 1) ? api->GetFieldStr(row, 1) : "";
      api->mysql_free_result(result);
      return value;
    };
    QVERIFY2(checksum(copy) == checksum(chr), qPrintable(t));
  }
  FAdmin->Exec("DROP DATABASE `" + copy + "`");
}

void BakdataDbTest::GameShapesRestoreToTheSameBytes_data() {
  QTest::addColumn<int>("charsetIndex");
  QTest::addColumn<QString>("charset");
  QTest::addColumn<bool>("latin1Table");  // the game's latin1 columns holding GBK bytes
  QTest::addColumn<bool>("gbkTable");     // a table of gbk columns
  QTest::addColumn<bool>("refused");
  QTest::newRow("default") << 0 << QString() << true << false << false;
  QTest::newRow("utf8, both") << 1 << "utf8" << true << true << false;
  QTest::newRow("gbk") << 2 << "gbk" << false << true << false;
  QTest::newRow("latin1") << 4 << "latin1" << true << false << false;
  // A session that could read a column's text only with '?' for it: refused, no file written.
  QTest::newRow("latin1, gbk table") << 4 << "latin1" << false << true << true;
  QTest::newRow("gbk, latin1 table") << 2 << "gbk" << true << false << true;
}

void BakdataDbTest::GameShapesRestoreToTheSameBytes() {
  QFETCH(int, charsetIndex);
  QFETCH(QString, charset);
  QFETCH(bool, latin1Table);
  QFETCH(bool, gbkTable);
  QFETCH(bool, refused);
  const std::string db = FPrefix.toStdString() + "_shape";
  const std::string copy = db + "_copy";
  for (const std::string& d : {db, copy}) {
    FAdmin->Exec("DROP DATABASE IF EXISTS `" + d + "`");
    FAdmin->Exec("CREATE DATABASE `" + d + "` DEFAULT CHARACTER SET latin1");
  }
  const std::string t = "`" + db + "`.";
  // Composite keys, 0x00 and 0x5C bytes, GBK text in latin1 and in gbk columns, TIME past a day,
  // DECIMAL(65,30) at its ends, NULL after a value, a zero date, bits and doubles; more rows than
  // one statement of the dump carries.
  if (latin1Table) {
    FAdmin->Exec("CREATE TABLE " + t +
                 "t_shape (a INT NOT NULL, b VARCHAR(20) NOT NULL, bin VARBINARY(16) NULL, txt TEXT NULL, "
                 "tm TIME NULL, tm6 TIME(6) NULL, d DECIMAL(65,30) NULL, n1 INT NULL, n2 VARCHAR(10) NULL, "
                 "nm VARCHAR(32) NOT NULL DEFAULT '', dt DATETIME NULL, f DOUBLE NULL, bits BIT(10) NULL, "
                 "blb BLOB NULL, PRIMARY KEY (a,b)) ENGINE=MyISAM DEFAULT CHARSET=latin1");
    FAdmin->Exec(
        "INSERT INTO " + t +
        "t_shape VALUES "
        "(1,'k1',X'005C27220D0A1A00',X'D6F1BB5C5C000A','838:59:59','-838:59:59.000001',"
        "'99999999999999999999999999999999999.999999999999999999999999999999',5,'x',X'D6F1BB5C',"
        "'2024-02-29 23:59:59',1.5e300,b'1010101010',X'00FF5C00'),"
        "(1,'k2','','','25:00:00','100:00:00.5','-0.000000000000000000000000000001',NULL,NULL,'',NULL,"
        "-2.5e-300,b'0',''),"
        "(2,'k1',NULL,NULL,'-00:00:01','00:00:00','0',7,NULL,X'C7E0D4C6','0000-00-00 00:00:00',0,NULL,"
        "NULL)");
    FAdmin->Exec("INSERT INTO " + t +
                 "t_shape (a,b,txt,tm,d,nm) SELECT seq, CONCAT('k',seq % 3), REPEAT(X'BB5C',seq % 40), "
                 "SEC_TO_TIME(seq * 997), seq / 7, X'D6F1BB5C' FROM " +
                 t + "seq_3_to_3000");
  }
  if (gbkTable) {
    FAdmin->Exec("CREATE TABLE " + t +
                 "t_gbk (id INT NOT NULL, k2 INT NOT NULL, name VARCHAR(32) NOT NULL, memo TEXT NULL, "
                 "PRIMARY KEY (id,k2)) ENGINE=InnoDB DEFAULT CHARSET=gbk");
    FAdmin->Exec("INSERT INTO " + t +
                 "t_gbk VALUES (1,1,_gbk X'D6F1BB5C',NULL),(1,2,_gbk X'C7E0D4C6',_gbk X'BB5C5C27'),"
                 "(2,1,'abc','')");
  }
  QTemporaryDir dir;
  const QString file = dir.filePath("shape.SQL");
  auto w = LoggedIn(charsetIndex, charset);
  Choose(w->cbb1, QString::fromStdString(db));
  w->e2->setText(file);
  if (refused) {
    QVERIFY_THROWS_EXCEPTION(std::exception, w->RunBackup());
    QVERIFY(!QFile::exists(file));
    QVERIFY(Texts().isEmpty());
    for (const std::string& d : {db, copy}) FAdmin->Exec("DROP DATABASE `" + d + "`");
    return;
  }
  w->RunBackup();
  // Restored over the other kind of login: the file names its own character set.
  auto r = charsetIndex == 0 ? LoggedIn(1, "utf8") : LoggedIn();
  Choose(r->cbb3, QString::fromStdString(copy));
  r->e4->setText(file);
  r->RunRestore();
  QCOMPARE(Texts().size(), 2);
  for (const char* table : {"t_shape", "t_gbk"}) {
    if (!(table == std::string("t_gbk") ? gbkTable : latin1Table)) continue;
    const std::string sum = FAdmin->Checksum("`" + db + "`." + table);
    QVERIFY(!sum.empty());
    QVERIFY2(FAdmin->Checksum("`" + copy + "`." + table) == sum, table);
    QCOMPARE(Value("SELECT COUNT(*) FROM `" + copy + "`." + table),
             Value("SELECT COUNT(*) FROM `" + db + "`." + table));
  }
  for (const std::string& d : {db, copy}) FAdmin->Exec("DROP DATABASE `" + d + "`");
}

void BakdataDbTest::ChineseTableNameIsCopiedOrRefused_data() {
  QTest::addColumn<int>("charsetIndex");
  QTest::addColumn<QString>("charset");
  QTest::addColumn<bool>("copied");
  // Only utf8 holds both the name and the latin1 column; the others cannot and refuse.
  QTest::newRow("default") << 0 << QString() << false;
  QTest::newRow("utf8") << 1 << "utf8" << true;
  QTest::newRow("gbk") << 2 << "gbk" << false;
  QTest::newRow("latin1") << 4 << "latin1" << false;
}

void BakdataDbTest::ChineseTableNameIsCopiedOrRefused() {
  QFETCH(int, charsetIndex);
  QFETCH(QString, charset);
  QFETCH(bool, copied);
  const std::string db = FPrefix.toStdString() + "_cn";
  const std::string copy = db + "_copy";
  for (const std::string& d : {db, copy}) {
    FAdmin->Exec("DROP DATABASE IF EXISTS `" + d + "`");
    FAdmin->Exec("CREATE DATABASE `" + d + "` DEFAULT CHARACTER SET latin1");
  }
  // A table a utf8 client named in Chinese, beside one of the game's.
  FAdmin->Exec("SET NAMES utf8mb4");
  FAdmin->Exec("CREATE TABLE `" + db + "`.`装备` (id INT PRIMARY KEY, v VARCHAR(8)) ENGINE=MyISAM");
  FAdmin->Exec("INSERT INTO `" + db + "`.`装备` VALUES (1,'a'),(2,'b')");
  FAdmin->Exec("SET NAMES latin1");
  FAdmin->Exec("CREATE TABLE `" + db + "`.t_x (id INT PRIMARY KEY) ENGINE=MyISAM");
  FAdmin->Exec("INSERT INTO `" + db + "`.t_x VALUES (1)");
  QTemporaryDir dir;
  const QString file = dir.filePath("cn.SQL");
  auto w = LoggedIn(charsetIndex, charset);
  Choose(w->cbb1, QString::fromStdString(db));
  w->e2->setText(file);
  bool refused = false;
  try {
    w->RunBackup();
  } catch (const std::exception&) {
    refused = true;
  }
  QCOMPARE(refused, !copied);
  if (refused) {
    // Refused: no file, no success.
    QVERIFY(!QFile::exists(file));
    QVERIFY(Texts().isEmpty());
  } else {
    Choose(w->cbb3, QString::fromStdString(copy));
    w->e4->setText(file);
    w->RunRestore();
    QCOMPARE(Texts().size(), 2);
    FAdmin->Exec("SET NAMES utf8mb4");
    const std::string rows = Value("SELECT GROUP_CONCAT(id,v ORDER BY id) FROM `" + copy + "`.`装备`");
    FAdmin->Exec("SET NAMES latin1");
    QCOMPARE(rows, std::string("1a,2b"));
    QCOMPARE(Value("SELECT COUNT(*) FROM `" + copy + "`.t_x"), std::string("1"));
  }
  for (const std::string& d : {db, copy}) FAdmin->Exec("DROP DATABASE `" + d + "`");
}

// A table whose name holds a point is that table, not one of the database named before the point:
// the backup holds its rows, and the table of the same name there is left alone.
void BakdataDbTest::TableNamedWithAPointIsBackedUpItself() {
  const std::string db = FPrefix.toStdString() + "_pt", other = db + "_o", copy = db + "_c";
  for (const std::string& d : {db, other, copy}) {
    FAdmin->Exec("DROP DATABASE IF EXISTS `" + d + "`");
    FAdmin->Exec("CREATE DATABASE `" + d + "` DEFAULT CHARACTER SET latin1");
  }
  FAdmin->Exec("CREATE TABLE `" + other + "`.t (id INT PRIMARY KEY, v VARBINARY(8))");
  FAdmin->Exec("INSERT INTO `" + other + "`.t VALUES (9, X'6F776E')");
  const std::string dotted = "`" + db + "`.`" + other + ".t`";
  FAdmin->Exec("CREATE TABLE " + dotted + " (id INT PRIMARY KEY, v VARBINARY(8))");
  FAdmin->Exec("INSERT INTO " + dotted + " VALUES (1, X'005C27'), (2, NULL)");
  QTemporaryDir dir;
  const QString file = dir.filePath("pt.SQL");
  auto w = LoggedIn();
  Choose(w->cbb1, QString::fromStdString(db));
  w->e2->setText(file);
  w->RunBackup();
  Choose(w->cbb3, QString::fromStdString(copy));
  w->e4->setText(file);
  w->RunRestore();
  QCOMPARE(Texts().size(), 2);
  const std::string rows = "SELECT GROUP_CONCAT(id, ':', IFNULL(HEX(v), 'NULL') ORDER BY id) FROM ";
  QCOMPARE(Value(rows + "`" + copy + "`.`" + other + ".t`"), std::string("1:005C27,2:NULL"));
  QCOMPARE(Value(rows + "`" + other + "`.t"), std::string("9:6F776E"));
  for (const std::string& d : {db, other, copy}) FAdmin->Exec("DROP DATABASE `" + d + "`");
}

void BakdataDbTest::FailedBackupKeepsTheOldFile() {
  QTemporaryDir dir;
  const QString file = dir.filePath("old.SQL");
  const QByteArray old = "-- the backup of yesterday\r\nSELECT 1;\r\n";
  WriteAll(file, old);
  auto w = LoggedIn();
  Choose(w->cbb1, FZone->Chr());
  w->e2->setText(file);
  // The session goes away while rows are being written.
  const std::string id = ConnectionId(*w);
  bool killed = false;
  FUi->OnProcessMessages([&] {
    if (!killed && w->ProgressBar->value() > 0) {
      killed = true;
      FAdmin->Exec("KILL " + id);
    }
  });
  bool raised = false;
  try {
    w->RunBackup();
  } catch (const std::exception&) {
    raised = true;
  }
  FUi->OnProcessMessages({});
  QVERIFY(killed);
  QVERIFY(raised);
  QCOMPARE(ReadAll(file), old);
  QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"old.SQL"}));
  QVERIFY(!w->Busy());
}

// With both boxes unticked the backup held header comments alone, replaced the file and said
// 备份成功.
void BakdataDbTest::BackupOfNothingLeavesTheFile() {
  QTemporaryDir dir;
  const QString file = dir.filePath("old.SQL");
  const QByteArray old = "-- the backup of yesterday\r\nSELECT 1;\r\n";
  WriteAll(file, old);
  auto w = LoggedIn();
  Choose(w->cbb1, FZone->Chr());
  w->e2->setText(file);
  w->cbTbBackup->setChecked(false);
  w->cbDataBackUp->setChecked(false);
  w->RunBackup();
  QCOMPARE(Texts(), QStringList({QStringLiteral("请选择备份表结构或备份数据！")}));
  QCOMPARE(ReadAll(file), old);
  QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"old.SQL"}));
}

// latin1, gbk and four-byte utf8mb4 text in one database: "utf8" reads them all (its session is
// utf8mb4) and the copy through our restore and through the mariadb client checks out equal. A set
// that cannot hold them refuses, advising only what the login offers, and the log keeps why.
void BakdataDbTest::MixedCharacterSetsBackUpUnderUtf8() {
  const std::string db = FPrefix.toStdString() + "_mix", ours = db + "_o", theirs = db + "_t";
  for (const std::string& d : {db, ours, theirs}) {
    FAdmin->Exec("DROP DATABASE IF EXISTS `" + d + "`");
    FAdmin->Exec("CREATE DATABASE `" + d + "` DEFAULT CHARACTER SET latin1");
  }
  FAdmin->Exec(
      "CREATE TABLE `" + db +
      "`.mix (id INT PRIMARY KEY, l VARCHAR(9) CHARACTER SET latin1, g VARCHAR(9) CHARACTER SET gbk, "
      "u VARCHAR(9) CHARACTER SET utf8mb4) ENGINE=MyISAM");
  FAdmin->Exec("INSERT INTO `" + db +
               "`.mix VALUES (1, X'D6F1BB5C27', _gbk X'C4E3BAC3955C', _utf8mb4 X'F09F9880C3A95C'), "
               "(2, NULL, '', _utf8mb4 X'E4B8AD')");
  QTemporaryDir dir;
  const QString file = dir.filePath("mix.SQL");
  {
    auto w = LoggedIn(4, "latin1");
    Choose(w->cbb1, QString::fromStdString(db));
    w->e2->setText(file);
    QString refusal;
    try {
      w->RunBackup();
    } catch (const std::exception& e) {
      refusal = ExceptionText(e);
    }
    QVERIFY2(refusal.contains(QStringLiteral("`mix`.`g`")) &&
                 refusal.contains(QStringLiteral("gbk 或 utf8")) &&
                 !refusal.contains(QStringLiteral("utf8mb4")),
             qPrintable(refusal));
    QVERIFY(!QFile::exists(file));
    QVERIFY2(w->tb_memo->toPlainText().contains(QStringLiteral("备份数据库\n") + QString::fromStdString(db) +
                                                QStringLiteral("操作失败\n") + refusal),
             qPrintable(w->tb_memo->toPlainText()));
  }
  FUi->ClearRecord();
  auto w = LoggedIn(1, "utf8");
  Choose(w->cbb1, QString::fromStdString(db));
  w->e2->setText(file);
  w->RunBackup();
  Choose(w->cbb3, QString::fromStdString(ours));
  w->e4->setText(file);
  w->RunRestore();
  QCOMPARE(Texts().size(), 2);
  QVERIFY(ClientRestore(file, theirs));
  const std::string sum = FAdmin->Checksum("`" + db + "`.mix");
  QVERIFY(!sum.empty());
  QCOMPARE(FAdmin->Checksum("`" + ours + "`.mix"), sum);
  QCOMPARE(FAdmin->Checksum("`" + theirs + "`.mix"), sum);
  for (const std::string& d : {db, ours, theirs}) FAdmin->Exec("DROP DATABASE `" + d + "`");
}

// 取消 in the wait box ends the session: the login tab said "断  开" and "登录成功..." on, and the
// failed backup left nothing in the log.
void BakdataDbTest::CancelInTheWaitBoxShowsTheSessionEnded() {
  InstallServerWaitBox();
  struct TUninstall {
    ~TUninstall() { SetMySqlWaitProc(nullptr); }
  } uninstall;
  const std::string db = FPrefix.toStdString() + "_wait";
  FAdmin->Exec("DROP DATABASE IF EXISTS `" + db + "`");
  FAdmin->Exec("CREATE DATABASE `" + db + "`");
  FAdmin->Exec("CREATE TABLE `" + db + "`.t (id INT) ENGINE=MyISAM");
  FAdmin->Exec("INSERT INTO `" + db + "`.t VALUES (1)");
  // The rows cannot be read while another session holds the table.
  TAdminSession locker(FInfo);
  locker.Exec("LOCK TABLES `" + db + "`.t WRITE");
  QTemporaryDir dir;
  const QString file = dir.filePath("wait.SQL");
  auto w = LoggedIn();
  Choose(w->cbb1, QString::fromStdString(db));
  w->e2->setText(file);
  bool cancelled = false;
  std::function<void()> poll = [&] {
    if (ServerWaitBox() == nullptr) return void(QMetaObject::invokeMethod(qApp, poll, Qt::QueuedConnection));
    cancelled = true;
    ServerWaitBoxCancel()->click();
  };
  QMetaObject::invokeMethod(qApp, poll, Qt::QueuedConnection);
  QString error;
  try {
    w->RunBackup();
  } catch (const std::exception& e) {
    error = ExceptionText(e);
  }
  locker.Exec("UNLOCK TABLES");
  QVERIFY(cancelled);
  QVERIFY2(error.contains(QString::fromLatin1(kMySqlWaitCancelledText)), qPrintable(error));
  QVERIFY(!w->Work().Connected());
  QCOMPARE(w->btn1->Caption(), QStringLiteral("登  录[&1]"));
  QCOMPARE(w->lbl6->text(), QStringLiteral("数据库服务器被断开..."));
  QVERIFY(w->e1->isEnabled() && w->cbb5->isEnabled());
  QVERIFY2(
      w->tb_memo->toPlainText().contains(QStringLiteral("备份数据库\n") + QString::fromStdString(db) +
                                         QStringLiteral("操作失败\n") + QString(error).replace("\r\n", "\n")),
      qPrintable(w->tb_memo->toPlainText()));
  QVERIFY(!QFile::exists(file));
  FAdmin->Exec("DROP DATABASE `" + db + "`");
}

// A trigger made as `db`.trg ON `db`.a is backed up without its database, and comes back in the
// database restored into; a file naming another database for one is refused at its line. The
// restore made it in the first database (or failed there) and said 还原成功.
void BakdataDbTest::QualifiedTriggerIsMadeInTheDatabaseRestoredInto() {
  const std::string db = FPrefix.toStdString() + "_tq", copy = db + "_c";
  for (const std::string& d : {db, copy}) {
    FAdmin->Exec("DROP DATABASE IF EXISTS `" + d + "`");
    FAdmin->Exec("CREATE DATABASE `" + d + "`");
  }
  FAdmin->Exec("CREATE TABLE `" + db + "`.a (id INT)");
  FAdmin->Exec("CREATE TRIGGER `" + db + "`.trg BEFORE INSERT ON `" + db +
               "`.a FOR EACH ROW SET NEW.id = NEW.id + 1");
  QTemporaryDir dir;
  const QString file = dir.filePath("tq.SQL");
  auto w = LoggedIn();
  Choose(w->cbb1, QString::fromStdString(db));
  w->e2->setText(file);
  w->RunBackup();
  // The first database keeps no trigger: one made there by the restore would show.
  FAdmin->Exec("DROP TRIGGER `" + db + "`.trg");
  Choose(w->cbb3, QString::fromStdString(copy));
  w->e4->setText(file);
  w->RunRestore();
  const std::string triggers =
      "SELECT IFNULL(GROUP_CONCAT(TRIGGER_SCHEMA, '.', TRIGGER_NAME, ':', EVENT_OBJECT_TABLE), '') FROM "
      "information_schema.TRIGGERS WHERE TRIGGER_SCHEMA IN ('" +
      db + "', '" + copy + "')";
  QCOMPARE(Value(triggers), copy + ".trg:a");
  QCOMPARE(Texts().size(), 2);
  // A file of another tool naming the first database.
  FAdmin->Exec("DROP TRIGGER `" + copy + "`.trg");
  FUi->ClearRecord();
  const QString named = dir.filePath("named.SQL");
  WriteAll(named,
           QByteArray::fromStdString("SELECT 1;\r\nCREATE TRIGGER `" + db + "`.trg BEFORE INSERT ON `" + db +
                                     "`.a FOR EACH ROW SET NEW.id = 0;\r\n"));
  w->e4->setText(named);
  QVERIFY_THROWS_EXCEPTION(std::exception, w->RunRestore());
  QVERIFY(Texts().isEmpty());
  QCOMPARE(Value(triggers), std::string());
  QVERIFY2(w->tb_memo->toPlainText().contains(QStringLiteral("\n2: CREATE TRIGGER `") +
                                              QString::fromStdString(db)),
           qPrintable(w->tb_memo->toPlainText()));
  for (const std::string& d : {db, copy}) FAdmin->Exec("DROP DATABASE `" + d + "`");
}

void BakdataDbTest::RestoreGoesToTheChosenDatabaseOnly() {
  QTemporaryDir dir;
  const std::string chr = FZone->Chr().toStdString();
  const std::string copy = FPrefix.toStdString() + "_use";
  FAdmin->Exec("DROP DATABASE IF EXISTS `" + copy + "`");
  FAdmin->Exec("CREATE DATABASE `" + copy + "`");
  // A file made by another tool names a database of its own part way.
  const QString named = dir.filePath("named.SQL");
  WriteAll(named, QByteArray::fromStdString("CREATE TABLE r_a (id INT PRIMARY KEY);\r\nUSE `" + chr +
                                            "`;\r\nCREATE TABLE r_b (id INT PRIMARY KEY);\r\n"));
  const QString plain = dir.filePath("plain.SQL");
  WriteAll(plain, "CREATE TABLE r_c (id INT PRIMARY KEY);\r\n");
  auto tables = [&](const std::string& db) {
    return Value(
        "SELECT GROUP_CONCAT(table_name ORDER BY table_name) FROM information_schema.tables WHERE "
        "table_schema='" +
        db + "' AND table_name LIKE 'r\\_%'");
  };
  const QString done = QStringLiteral("操作编号:1101\r\n\r\n还原成功,可进行其它操作");
  auto w = LoggedIn();
  Choose(w->cbb3, QString::fromStdString(copy));
  w->e4->setText(named);
  bool raised = false;
  try {
    w->RunRestore();
  } catch (const std::exception& e) {
    raised = true;
    QVERIFY2(QString::fromUtf8(e.what()).contains(QString::fromStdString(chr)), e.what());
  }
  QVERIFY(raised);
  QVERIFY(!Texts().contains(done));
  QVERIFY(w->tb_memo->toPlainText().contains(QStringLiteral("操作失败")));
  QVERIFY(w->tb_memo->toPlainText().contains(QStringLiteral("备份文件切换到了数据库：") +
                                             QString::fromStdString(chr)));
  // The statement after the switch never ran: the other database holds nothing of the file.
  QCOMPARE(tables(chr), std::string());
  QCOMPARE(tables(copy), std::string("r_a"));
  // The next restore, and a backup after it, work on the database chosen, not the one the file
  // left the session in.
  FUi->ClearRecord();
  w->e4->setText(plain);
  w->RunRestore();
  QCOMPARE(Texts(), QStringList({done}));
  QCOMPARE(tables(copy), std::string("r_a,r_c"));
  QCOMPARE(tables(chr), std::string());
  Choose(w->cbb1, QString::fromStdString(copy));
  const QString file = dir.filePath("copy.SQL");
  w->e2->setText(file);
  w->RunBackup();
  QVERIFY(ReadAll(file).contains("`r_c`"));
  QVERIFY(!ReadAll(file).contains("`t_gift`"));
  FAdmin->Exec("DROP DATABASE `" + copy + "`");
}

void BakdataDbTest::NoConnectionStopsTheOperation() {
  QTemporaryDir dir;
  const QString file = dir.filePath("none.SQL");
  auto w = LoggedIn();
  Choose(w->cbb1, FZone->Chr());
  Choose(w->cbb2, FZone->Chr());
  w->e2->setText(file);
  w->LoginOrLogout();
  QVERIFY(!w->Work().Connected());
  w->RunBackup();
  w->RunMaintenance();
  QCOMPARE(Texts(), QStringList({QStringLiteral("数据库没有连接..."), QStringLiteral("数据库没有连接...")}));
  QVERIFY(!QFile::exists(file));
  QVERIFY(!w->Work().Connected());
}

void BakdataDbTest::MaintenanceReadsTheResultRows_data() {
  QTest::addColumn<QStringList>("setup");
  QTest::addColumn<bool>("repair");
  QTest::addColumn<QStringList>("steps");  // Label5 and pb1 before each table
  QTest::addColumn<QString>("message");    // the closing message
  QTest::addColumn<QString>("hint");       // lbl11 at the end
  QTest::addColumn<QString>("logged");     // a text the log holds
  const QString db = FPrefix + "_m";
  const QString myisam = QStringLiteral("(id INT PRIMARY KEY) ENGINE=MyISAM");
  QTest::newRow("four tables, one named with a back quote")
      << QStringList({"CREATE TABLE t1 " + myisam, "CREATE TABLE t2 " + myisam, "CREATE TABLE t3 " + myisam,
                      "CREATE TABLE `t``4` " + myisam})
      << true << QStringList({"20% t1|25", "40% t2|50", "60% t3|75", "80% t`4|100", "100% |100"})
      << QStringLiteral("操作编号:1110\r\n") + db + QStringLiteral("数据库\r\n修复成功,可进行其它操作")
      << QStringLiteral("* 修复数据库：") + db + QStringLiteral(",全部完成！")
      << QStringLiteral("修复表\n") + db + QStringLiteral(".t`4操作成功");
  // A view has nothing to repair: it is passed over, even when it sorts first.
  QTest::newRow("a view is passed over")
      << QStringList({"CREATE TABLE t1 " + myisam, "CREATE VIEW a_v AS SELECT id FROM t1"}) << true
      << QStringList({"50% t1|100", "100% |100"})
      << QStringLiteral("操作编号:1110\r\n") + db + QStringLiteral("数据库\r\n修复成功,可进行其它操作")
      << QStringLiteral("* 修复数据库：") + db + QStringLiteral(",全部完成！")
      << QStringLiteral("修复表\n") + db + QStringLiteral(".a_v是视图,已跳过");
  // A merge table whose part is missing answers with error rows.
  QTest::newRow("an error row takes the failure path")
      << QStringList({"CREATE TABLE t1 " + myisam, "CREATE VIEW a_v AS SELECT id FROM t1",
                      "CREATE TABLE t2 (id INT) ENGINE=MRG_MyISAM UNION=(t_missing)"})
      << true << QStringList({"33% t1|50", "67% t2|100", "67% t2|100"})
      << QStringLiteral("错误编号:1001\r\n\r\n修复失败,请检查网络情况或权限")
      << QStringLiteral("* 修复数据库：") + db + QStringLiteral(",表：t2失败！")
      << QStringLiteral("修复数据库\nt2操作失败");
  QTest::newRow("a note goes into the log")
      << QStringList({"CREATE TABLE t1 (id INT PRIMARY KEY) ENGINE=InnoDB"}) << false
      << QStringList({"50% t1|100", "100% |100"})
      << QStringLiteral("操作编号:1110\r\n") + db + QStringLiteral("数据库\r\n优化成功,可进行其它操作")
      << QStringLiteral("* 优化数据库：") + db + QStringLiteral(",全部完成！")
      << QStringLiteral("note: Table does not support optimize");
}

void BakdataDbTest::MaintenanceReadsTheResultRows() {
  QFETCH(QStringList, setup);
  QFETCH(bool, repair);
  QFETCH(QStringList, steps);
  const std::string db = FPrefix.toStdString() + "_m";
  FAdmin->Exec("DROP DATABASE IF EXISTS `" + db + "`");
  FAdmin->Exec("CREATE DATABASE `" + db + "`");
  for (const QString& sql : setup) FAdmin->Exec("USE `" + db + "`"), FAdmin->Exec(sql.toStdString());
  auto w = LoggedIn();
  Choose(w->cbb2, QString::fromStdString(db));
  (repair ? w->rb2 : w->rb3)->setChecked(true);
  QStringList seen;
  FUi->OnProcessMessages([&] { seen << w->Label5->text() + "|" + QString::number(w->pb1->value()); });
  w->RunMaintenance();
  FUi->OnProcessMessages({});
  seen << w->Label5->text() + "|" + QString::number(w->pb1->value());
  QCOMPARE(seen, steps);
  QTEST(Texts().value(0), "message");
  QTEST(w->lbl11->text(), "hint");
  QFETCH(QString, logged);
  QVERIFY2(w->tb_memo->toPlainText().contains(logged), qPrintable(w->tb_memo->toPlainText()));
  FAdmin->Exec("DROP DATABASE `" + db + "`");
}

void BakdataDbTest::BusyWindowStaysAndTakesNoSecondPress_data() {
  QTest::addColumn<int>("operation");  // 0 backup, 1 restore, 2 optimize
  QTest::newRow("backup") << 0;
  QTest::newRow("restore") << 1;
  QTest::newRow("optimize") << 2;
}

void BakdataDbTest::BusyWindowStaysAndTakesNoSecondPress() {
  QFETCH(int, operation);
  QTemporaryDir dir;
  const QString file = dir.filePath("busy.SQL");
  const std::string chr = FZone->Chr().toStdString();
  const std::string target = FPrefix.toStdString() + "_busy";
  FAdmin->Exec("DROP DATABASE IF EXISTS `" + target + "`");
  FAdmin->Exec("CREATE DATABASE `" + target + "`");
  auto w = LoggedIn();
  Choose(w->cbb1, FZone->Chr());
  Choose(w->cbb2, FZone->Chr());
  Choose(w->cbb3, QString::fromStdString(target));
  w->e2->setText(file);
  w->e4->setText(file);
  if (operation == 1) w->RunBackup();
  FUi->ClearRecord();
  TFlatButton* button = operation == 0 ? w->btn2 : operation == 1 ? w->btn4 : w->btn3;
  int tries = 0;
  FUi->OnProcessMessages([&] {
    if (tries++ > 0) return;
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    QVERIFY(!button->isEnabled());
    button->Click();
  });
  const std::string id = ConnectionId(*w);
  const std::string before =
      Value("SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + id + " AND command_type='Query'");
  (operation == 0 ? w->RunBackup() : operation == 1 ? w->RunRestore() : w->RunMaintenance());
  FUi->OnProcessMessages({});
  QVERIFY(tries > 0);
  QCOMPARE(FUi->Messages().size(), size_t(1));  // one run, one closing message
  QVERIFY(!w->Busy());
  QVERIFY(button->isEnabled());
  QVERIFY(std::stoi(Value("SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + id +
                          " AND command_type='Query'")) > std::stoi(before));
  QVERIFY(w->close());
  FAdmin->Exec("DROP DATABASE `" + target + "`");
}

void BakdataDbTest::QuotedDatabaseNameIsCreatedAndDroppedWhole() {
  const std::string name = FPrefix.toStdString() + "a`b";
  auto w = LoggedIn();
  w->edt1->setText(QString::fromStdString(name));
  w->CreateDatabase();
  auto count = [&](const std::string& like) {
    return Value("SELECT COUNT(*) FROM information_schema.schemata WHERE schema_name LIKE '" + like + "%'");
  };
  QCOMPARE(Value("SELECT HEX(schema_name) FROM information_schema.schemata WHERE schema_name='" + name + "'"),
           QByteArray::fromStdString(name).toHex().toUpper().toStdString());
  QCOMPARE(count(FPrefix.toStdString() + "a"), std::string("1"));
  Choose(w->cbb4, QString::fromStdString(name));
  FUi->Answer(TMsgResult::Yes);
  w->DropDatabase();
  QCOMPARE(count(FPrefix.toStdString() + "a"), std::string("0"));
  QCOMPARE(Texts(), QStringList({QStringLiteral("操作编号:1104\r\n\r\n") + QString::fromStdString(name) +
                                     QStringLiteral("创建成功,可进行其它操作"),
                                 QStringLiteral("删除是不可逆操作，确定要删除") +
                                     QString::fromStdString(name) + QStringLiteral("吗？"),
                                 QStringLiteral("操作编号:1104\r\n\r\n删除成功,可进行其它操作")}));
  QVERIFY(w->cbb4->findData(QByteArray::fromStdString(name)) < 0);
}

// The character went as "?" and a database named "<prefix>x?" was made.
void BakdataDbTest::NameTheSessionCannotHoldCreatesNothing() {
  auto w = LoggedIn();
  const QString typed = FPrefix + QStringLiteral("x\U0001F600");
  w->edt1->setText(typed);
  w->CreateDatabase();
  QCOMPARE(Value("SELECT COUNT(*) FROM information_schema.schemata WHERE schema_name LIKE '" +
                 FPrefix.toStdString() + "x%'"),
           std::string("0"));
  QCOMPARE(Texts().size(), 1);
  QVERIFY2(Texts()[0].contains(QStringLiteral("U+1F600")), qPrintable(Texts()[0]));
  QCOMPARE(w->edt1->text(), typed);
}

void BakdataDbTest::LogIsSavedOnRequest() {
  QTemporaryDir dir;
  const QString file = dir.filePath("Log.txt");
  auto w = LoggedIn();
  FUi->SetNow(EncodeDateTime(2026, 3, 4, 5, 6, 7, 0));
  w->WriteBakLog(QStringLiteral("还原数据库\r\nzqv操作成功"));
  FUi->Choose(file);
  w->SaveLog();
  const QByteArray saved = ReadAll(file);
  const QByteArray entry = QByteArray::fromStdString(EncodeFieldText(
      QStringLiteral("2026-03-04 05:06:07\r\n还原数据库\r\nzqv操作成功\r\n") + QString(38, '-'),
      TFieldCharset::Gbk));
  QVERIFY2(saved.endsWith(entry), saved.constData());
  QVERIFY(saved.contains(QByteArray::fromStdString(
      EncodeFieldText(QStringLiteral("成功登录数据库服务器:["), TFieldCharset::Gbk))));
  // F10 saves again under the last name.
  WriteAll(file, "stale");
  FUi->Choose(file);
  QKeyEvent f10(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier);
  QCoreApplication::sendEvent(w->tb_memo, &f10);
  QCOMPARE(ReadAll(file), saved);
  QCOMPARE(FUi->Choosers().size(), 2);
}

// The texts went into the error box as UTF-8 bytes, which it reads in the desktop's code page.
void BakdataDbTest::FailuresShowChineseTextReadably() {
  TLoginInput input{
      FInfo["HOST"], QStringLiteral("三三零六"), FInfo["NATIVE_USER"], FInfo["NATIVE_PASSWORD"], 0, {}};
  Tbakdata w(input);
  w.setAttribute(Qt::WA_DeleteOnClose, false);
  Guarded([&] { w.LoginOrLogout(); });
  QTemporaryDir dir;
  const QString missing = dir.filePath(QStringLiteral("无此目录/日志.txt"));
  FUi->Choose(missing);
  Guarded([&] { w.SaveLog(); });
  QCOMPARE(Texts().size(), 2);
  QCOMPARE(Texts()[0], QStringLiteral("'三三零六' is not a valid integer value"));
  QVERIFY2(Texts()[1].contains(missing), qPrintable(Texts()[1]));
}

QTEST_MAIN(BakdataDbTest)
#include "Bakdata_dbtest.moc"
