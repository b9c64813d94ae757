// The zone-merge run over two fixture zones on the test server: what lands in the target is read
// back from the server (counts, HEX of names, CHECKSUM TABLE), the sink records what the window
// would show and answers the questions.
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>
#include <functional>
#include <memory>
#include <tuple>

#include "GameZone.h"
#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "console/common/ProgressPercent.h"
#include "console/merge/ZoneMerge.h"
#include "platform/widgets/FieldText.h"

namespace {

class TFakeSink : public TZoneMergeSink {
 public:
  void BeginEventLog(const QString& header) override { Header = header; }
  void Operation(const QString& text) override { Operations << text; }
  void Event(const QString& text) override { Events << text; }
  void Progress(const QString& percent) override { Progresses << percent; }
  void Step(const QString& text) override { Steps << text; }
  void Description(const QString&) override {}
  bool Ask(const QString& text, const QString& title, bool warningIcon, bool defaultYes) override {
    Questions << text;
    Titles << title;
    WarningIcons << warningIcon;
    DefaultYes << defaultYes;
    // Which account the run was at when it asked.
    AskedAfterMissing << static_cast<int>(Operations.filter(QStringLiteral("在转入分区中不存在ID")).size());
    return Answer ? Answer(text) : false;
  }
  void Inform(const QString& text, const QString& title, bool) override { Informs << title + "|" + text; }
  bool ProcessMessagesAndCheckStop() override { return ++Calls == StopAtCall; }

  QString Header;
  QStringList Operations, Events, Progresses, Steps, Questions, Titles, Informs;
  QList<bool> WarningIcons, DefaultYes;
  QList<int> AskedAfterMissing;
  std::function<bool(const QString&)> Answer;
  int Calls = 0;
  int StopAtCall = -1;
};

std::string Gbk(const QString& text) {
  return EncodeFieldText(text, TFieldCharset::Gbk);
}

std::string Hex(const std::string& bytes) {
  return QByteArray::fromStdString(bytes).toHex().toUpper().toStdString();
}

}  // namespace

class ZoneMergeDbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void PercentRoundsTiesToEven_data();
  void PercentRoundsTiesToEven();
  void AccountMergeCopiesAndTags();
  void MovedRowsKeepTheirBytesAndTheSourceStays_data();
  void MovedRowsKeepTheirBytesAndTheSourceStays();
  void WithoutAccountMergeGroupsCharacters_data();
  void WithoutAccountMergeGroupsCharacters();
  void SettingsAreRefused_data();
  void SettingsAreRefused();
  void PreflightRefusesBeforeWriting_data();
  void PreflightRefusesBeforeWriting();
  void FailedAccountCopyAttachesNothing();
  void RerunCopiesNothingTwice_data();
  void RerunCopiesNothingTwice();
  void ACharacterNamedLikeACopyIsNoCopy();
  void AnotherZonesCopyIsNoEarlierCopy();
  void ARowAtTheNewAccountIsNoCopyOfItsWarehouse();
  void ARerunWithOtherTagsCopiesNothingTwice();
  void ACopyWrittenWithoutItsAnswerIsNotCopiedAgain();
  void NamesLongerThanTheirColumnAreClashes();
  void GoldIsCappedAtTheColumnMaximum();
  void StopRequestEndsBetweenAccounts();
  void TransactionalTargetRollsBackTheStoppedAccount();
  void DatabaseNamesWithBackQuotesReachTheServerWhole();
  void RunWaitsPastTheBrowsingTimeOut();
  void NamesKeepTheirBytesInTheSessionsBackslashMode_data();
  void NamesKeepTheirBytesInTheSessionsBackslashMode();

 private:
  std::unique_ptr<TMyConnection> Connect(const QString& db) {
    auto c = std::make_unique<TMyConnection>();
    c->SetServer(FInfo["HOST"].toStdString());
    c->SetPort(FInfo["PORT"].toInt());
    c->SetUsername(FInfo["NATIVE_USER"].toStdString());
    c->SetPassword(FInfo["NATIVE_PASSWORD"].toStdString());
    c->SetDatabase(db.toStdString());
    c->Open();
    if (!FSessionSql.empty()) c->ExecSQL(FSessionSql);
    return c;
  }
  // One run over the two zones (or the databases given) with the options.
  TZoneMergeCounts Merge(const TZoneMergeOptions& options, TFakeSink& sink, QString srcAcc = {},
                         QString srcChr = {}, QString tgtAcc = {}, QString tgtChr = {},
                         int browsingTimeout = 0) {
    auto a = Connect(srcAcc.isEmpty() ? FSrc->Acc() : srcAcc);
    auto b = Connect(srcChr.isEmpty() ? FSrc->Chr() : srcChr);
    auto c = Connect(tgtAcc.isEmpty() ? FTgt->Acc() : tgtAcc);
    auto d = Connect(tgtChr.isEmpty() ? FTgt->Chr() : tgtChr);
    if (browsingTimeout > 0)
      for (TMyConnection* con : {a.get(), b.get(), c.get(), d.get()})
        con->InternalCommand().SetCommandTimeout(browsingTimeout);
    TZoneMerge merge(*a, *b, *c, *d, {}, {}, options, sink);
    return merge.Run();
  }
  std::string Value(const std::string& sql) { return FAdmin->Value(sql); }
  int Count(const std::string& sql) { return std::stoi(Value(sql)); }
  std::string SC() const { return "`" + FSrc->Chr().toStdString() + "`"; }
  std::string TA() const { return "`" + FTgt->Acc().toStdString() + "`"; }
  std::string TC() const { return "`" + FTgt->Chr().toStdString() + "`"; }
  // Row count and CHECKSUM TABLE of each target table the run writes.
  std::string Checksums() {
    std::string all;
    for (const std::string& t : {TA() + ".`user`", TC() + ".`user`", TC() + ".t_bank"})
      all += Value("SELECT COUNT(*) FROM " + t) + ":" + Checksum(t) + ";";
    return all;
  }
  std::string Checksum(const std::string& table);
  // Moved characters whose account in the target is not their own (by name or tagged name).
  int CharactersUnderAnotherAccount() {
    return Count(
        "SELECT COUNT(*) FROM " + TC() + ".`user` c LEFT JOIN " + TA() +
        ".`user` a ON a.idx=c.AccountID WHERE c.UsData='*' AND (a.idx IS NULL OR (a.username<>c.Account AND "
        "a.username<>CONCAT('us2',c.Account)))");
  }

  QMap<QString, QString> FInfo;
  std::unique_ptr<TAdminSession> FAdmin;
  std::unique_ptr<TGameZone> FSrc, FTgt;
  int FRound = 0;
  std::string FSessionSql;  // run on each of the merge's connections after it opens
};

std::string ZoneMergeDbTest::Checksum(const std::string& table) {
  TMySQLConnection con;
  con.SetServer(FInfo["HOST"].toStdString());
  con.SetProp(prPort, Variant(FInfo["PORT"].toInt()));
  con.SetUsername(FInfo["NATIVE_USER"].toStdString());
  con.SetPassword(FInfo["NATIVE_PASSWORD"].toStdString());
  con.Connect("");
  TMySQLCommand command;
  command.SetConnection(&con);
  command.SetSQL("CHECKSUM TABLE " + table);
  command.ResultWanted = true;
  command.Execute();
  PMYSQL_RES result = command.GetResult();
  command.SetResult(nullptr);
  std::string value;
  TMySQLAPI* api = con.GetAPI();
  if (PMYSQL_ROW row = api->mysql_fetch_row(result); row && !api->FieldIsNull(row, 1))
    value = api->GetFieldStr(row, 1);
  api->mysql_free_result(result);
  return value;
}

void ZoneMergeDbTest::initTestCase() {
  FInfo = ServerInfo();
  FAdmin = std::make_unique<TAdminSession>(FInfo);
}

void ZoneMergeDbTest::init() {
  ++FRound;
  const QString prefix = QStringLiteral("zm%1_%2").arg(QCoreApplication::applicationPid()).arg(FRound);
  FSrc = std::make_unique<TGameZone>(FInfo, prefix + "s");
  FTgt = std::make_unique<TGameZone>(FInfo, prefix + "t");
  QVERIFY(FSrc->Load());
  QVERIFY(FTgt->Load(true));
}

void ZoneMergeDbTest::cleanup() {
  FSrc.reset();
  FTgt.reset();
}

void ZoneMergeDbTest::PercentRoundsTiesToEven_data() {
  QTest::addColumn<int>("i");
  QTest::addColumn<int>("n");
  QTest::addColumn<int>("percent");
  QTest::newRow("12.5 down to even") << 0 << 8 << 12;
  QTest::newRow("37.5 up to even") << 2 << 8 << 38;
  QTest::newRow("0.5 down to 0") << 0 << 200 << 0;
  QTest::newRow("1.5 up to 2") << 2 << 200 << 2;
  QTest::newRow("a third") << 0 << 3 << 33;
  QTest::newRow("two thirds") << 1 << 3 << 67;
  QTest::newRow("last row") << 34 << 35 << 100;
}

void ZoneMergeDbTest::PercentRoundsTiesToEven() {
  QFETCH(int, i);
  QFETCH(int, n);
  QFETCH(int, percent);
  QCOMPARE(ProgressPercent(i, n), percent);
}

void ZoneMergeDbTest::AccountMergeCopiesAndTags() {
  // A deleted twin of 青云 under abc, and a name whose GBK bytes hold a 0x5C trail, a quote and
  // the characters a statement's parser could take for parameters or macros.
  const std::string odd = Gbk(QStringLiteral("竹籠'&:x"));
  FAdmin->Exec("INSERT INTO " + SC() +
               ".`user` (ID,UniqueName,Name,AccountID,Account,Gold,deleted) VALUES (100,'twin',X'" +
               Hex(Gbk(QStringLiteral("青云"))) + "',1,'abc',777,1),(101,X'" + Hex(odd) + "',X'" + Hex(odd) +
               "',3,'xabc',5,0),(102,'lost','lost',999,'ghost',6,0)");
  const int accountsBefore = Count("SELECT COUNT(*) FROM " + TA() + ".`user`");
  const int charsBefore = Count("SELECT COUNT(*) FROM " + TC() + ".`user`");
  const int banksBefore = Count("SELECT COUNT(*) FROM " + TC() + ".t_bank");
  TZoneMergeOptions options;
  options.MergeBank = true;
  TFakeSink sink;
  const TZoneMergeCounts counts = Merge(options, sink);

  QVERIFY(counts.Completed);
  QCOMPARE(counts.AccountsCopied, 34);    // 35 less abcd (skipped); abc as us2abc
  QCOMPARE(counts.CharactersCopied, 36);  // 41 live less abcd's 3 and 白露, plus the odd name
  QCOMPARE(counts.BanksCopied, 18);       // 1..19 less abcd's; nochar's too
  QCOMPARE(counts.Skipped, 2);
  QCOMPARE(counts.Errors, 0);
  // Rows no source account takes along: a line each.
  QCOMPARE(counts.Orphans, 2);
  QVERIFY(sink.Events.contains(
      QStringLiteral("角色：lost(ID 102) 的AccountID 999 在转出分区中没有对应帐号，未合并！")));
  QVERIFY(
      sink.Events.contains(QStringLiteral("仓库：AccountID为999(ghost) 在转出分区中没有对应帐号，未合并！")));
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TA() + ".`user`"), accountsBefore + counts.AccountsCopied);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user`"), charsBefore + counts.CharactersCopied);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".t_bank"), banksBefore + counts.BanksCopied);

  // abc as us2abc, its characters under the new idx.
  const std::string us2abc = Value("SELECT idx FROM " + TA() + ".`user` WHERE username='us2abc'");
  QVERIFY(!us2abc.empty());
  QCOMPARE(Value("SELECT email FROM " + TA() + ".`user` WHERE idx=" + us2abc),
           std::string("abc@example.com"));
  const std::string ch2 = Gbk(QStringLiteral("CH2青云"));
  QCOMPARE(Value("SELECT CONCAT(AccountID,'/',Gold,'/',UsData) FROM " + TC() + ".`user` WHERE Name=X'" +
                 Hex(ch2) + "'"),
           us2abc + "/5012345/*");
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE AccountID=" + us2abc), 1);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".t_bank WHERE AccountID=" + us2abc), 1);
  // abcd: skipped with its characters and warehouse.
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE Account='abcd' AND UsData='*'"), 0);
  QVERIFY(sink.Events.contains(QStringLiteral("原帐号：abcd 添加重复规则后，仍然重复！跳过！")));
  // 白露 clashes twice; 星河 and the deleted twin stay behind.
  QVERIFY(sink.Events.contains(QStringLiteral("原角色：白露 添加重复规则后仍然重复，跳过！")));
  QVERIFY(sink.Events.contains(QStringLiteral("角色：青云 发生重复,新角色为：CH2青云 成功合并！")));
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE UsData='*' AND (Name LIKE X'" +
                 Hex(Gbk(QStringLiteral("%星河"))) + "' OR Gold=777)"),
           0);
  // The odd name arrives byte for byte.
  QCOMPARE(Value("SELECT HEX(Name) FROM " + TC() + ".`user` WHERE UniqueName=X'" + Hex(odd) + "'"), Hex(odd));
  // nochar (no characters) keeps its warehouse.
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".t_bank b JOIN " + TA() +
                 ".`user` a ON a.idx=b.AccountID WHERE a.username='nochar'"),
           1);
  QCOMPARE(CharactersUnderAnotherAccount(), 0);
  // Every mapping is in the event log; the final box keeps its text and adds the counts.
  QVERIFY(sink.Events
              .filter(QStringLiteral("映射 帐号：abc(idx 1) -> us2abc(idx ") +
                      QString::fromStdString(us2abc) + QStringLiteral(")；角色：青云(ID 1) -> CH2青云(ID "))
              .size() == 1);
  QCOMPARE(sink.Events.filter(QStringLiteral("映射 帐号：")).size(), 34);
  QCOMPARE(sink.Informs.size(), 1);
  QVERIFY2(sink.Informs[0].startsWith(QStringLiteral("提示|合区所有操作已完成！\r\n")),
           qPrintable(sink.Informs[0]));
  QVERIFY(sink.Informs[0].contains(QStringLiteral("跳过2个，错误0个")));
  QVERIFY(sink.Header.startsWith(QStringLiteral("合区重复帐号角色处理记录  ")));
  QCOMPARE(sink.Progresses.last(), QStringLiteral("100"));
}

void ZoneMergeDbTest::MovedRowsKeepTheirBytesAndTheSourceStays_data() {
  QTest::addColumn<bool>("mergeAccounts");
  QTest::newRow("account merge") << true;
  QTest::newRow("without account merge") << false;
}

void ZoneMergeDbTest::MovedRowsKeepTheirBytesAndTheSourceStays() {
  QFETCH(bool, mergeAccounts);
  // A clashing name (renamed) whose row holds 0x00, 0x5C and quote bytes, GBK text and a NULL
  // after values.
  FAdmin->Exec("UPDATE " + SC() +
               ".`user` SET Items=X'00275C5C22D6F1BB5C00', Skills=NULL, MyData=X'BB5C', DeleteDate=NULL, "
               "Config='', Password=X'5C' WHERE ID=1");
  const std::string sa = "`" + FSrc->Acc().toStdString() + "`";
  auto sourceSums = [&] {
    std::string all;
    for (const std::string& t : {sa + ".`user`", SC() + ".`user`", SC() + ".t_bank"})
      all += Checksum(t) + ";";
    return all;
  };
  const std::string before = sourceSums();
  // Every column the run copies unchanged, as hexadecimal, NULL apart from empty.
  const std::string columns = Value(
      "SELECT GROUP_CONCAT(CONCAT('IFNULL(HEX(`',COLUMN_NAME,'`),''-'')') ORDER BY ORDINAL_POSITION) FROM "
      "information_schema.COLUMNS WHERE TABLE_SCHEMA='" +
      FSrc->Chr().toStdString() +
      "' AND TABLE_NAME='user' AND COLUMN_NAME NOT IN ('ID','UniqueName','Name','AccountID','UsData')");
  auto row = [&](const std::string& table, const std::string& id) {
    return Value("SELECT CONCAT_WS('|'," + columns + ") FROM " + table + ".`user` WHERE ID=" + id);
  };
  TZoneMergeOptions options;
  options.MergeAccounts = mergeAccounts;
  options.MergeBank = mergeAccounts;
  options.Compensate = false;
  TFakeSink sink;
  sink.Answer = [](const QString&) { return true; };
  const TZoneMergeCounts counts = Merge(options, sink);
  QVERIFY(counts.Completed);
  QCOMPARE(sourceSums(), before);
  // Each character moved, by the event log's mapping from source to target row.
  const QRegularExpression pair(QStringLiteral("\\(ID (\\d+)\\) -> [^；]*\\(ID (\\d+)\\)"));
  int moved = 0;
  for (const QString& event : sink.Events)
    for (const QRegularExpressionMatch& m : pair.globalMatch(event)) {
      const std::string from = m.captured(1).toStdString(), to = m.captured(2).toStdString();
      QVERIFY2(row(TC(), to) == row(SC(), from), (from + " -> " + to).c_str());
      ++moved;
    }
  QCOMPARE(moved, counts.CharactersCopied);
  QVERIFY(moved > 0);
  // 青云 clashes and moves renamed with its bytes (the mode with account merge moves it for sure).
  if (mergeAccounts)
    QCOMPARE(
        Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE Items=X'00275C5C22D6F1BB5C00' AND UsData='*'"),
        1);
}

void ZoneMergeDbTest::WithoutAccountMergeGroupsCharacters_data() {
  QTest::addColumn<bool>("goOn");
  QTest::addColumn<bool>("oneAccountDb");  // the source zone's characters over the target's accounts
  QTest::newRow("one account database, yes goes on") << true << true;
  QTest::newRow("one account database, no stops") << false << true;
  QTest::newRow("two account databases, yes goes on") << true << false;
  QTest::newRow("two account databases, no stops") << false << false;
}

void ZoneMergeDbTest::WithoutAccountMergeGroupsCharacters() {
  QFETCH(bool, goOn);
  QFETCH(bool, oneAccountDb);
  TZoneMergeOptions options;
  options.MergeAccounts = false;
  TFakeSink sink;
  sink.Answer = [&](const QString&) { return goOn; };
  const int accountsBefore = Count("SELECT COUNT(*) FROM " + TA() + ".`user`");
  const TZoneMergeCounts counts = Merge(options, sink, oneAccountDb ? FTgt->Acc() : QString());

  // One database: accounts 1-5 and 7-10 are there, 11 on are missing: the tenth missing one
  // (row 19) makes more than half. Two: only abc (1) and abcd (2) have one name on both sides,
  // and the third other player's (5) makes more than half.
  QVERIFY(sink.Questions.size() >= 1);
  QCOMPARE(sink.Questions[0],
           QStringLiteral("当前至少有一半的帐号在转入分区中没有查询到对应帐号，可能转出的角色库并不是与转入"
                          "帐号库对应的！是否继续？"));
  QCOMPARE(sink.Titles[0], QStringLiteral("警告"));
  QVERIFY(sink.WarningIcons[0]);
  QVERIFY(!sink.DefaultYes[0]);
  QCOMPARE(sink.AskedAfterMissing[0], oneAccountDb ? 10 : 3);
  QCOMPARE(counts.Completed, goOn);
  QCOMPARE(counts.Stopped, !goOn);
  QCOMPARE(sink.Informs.size(), goOn ? 1 : 0);

  // abc (1): 1 + 2 characters of one faction stay together: 青云 as CH2青云, 白露 skipped.
  QCOMPARE(Value("SELECT CONCAT(AccountID,'/',Gold) FROM " + TC() + ".`user` WHERE Name=X'" +
                 Hex(Gbk(QStringLiteral("CH2青云"))) + "'"),
           std::string("1/5012345"));
  // abcd (2): 1 + 3 characters are too many, and us2abcd is taken.
  QVERIFY(
      sink.Events.contains(QStringLiteral("帐号：abcd 角色太多或国家不同，添加重复标识后仍然重复！跳过！")));
  if (!oneAccountDb) {
    // Another player's account of the same number takes nothing, and no account is made from
    // the source row of that number under its name.
    QVERIFY(sink.Operations.contains(QStringLiteral(
        "AccountID为4的帐号在转出分区中为gm01，在转入分区中为t2user04，不是同一帐号,继续...")));
    QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE UsData='*' AND AccountID NOT IN (1,2)"),
             0);
    QCOMPARE(counts.AccountsCopied, 0);
    QCOMPARE(Count("SELECT COUNT(*) FROM " + TA() + ".`user`"), accountsBefore);
    return;
  }
  QCOMPARE(sink.Questions.size(), 1);
  // test07's character (faction 0) meets t2user07's (faction 1): a new account from row 7.
  const std::string fresh = Value("SELECT idx FROM " + TA() + ".`user` WHERE username='us2t2user07'");
  QVERIFY(!fresh.empty());
  QCOMPARE(Value("SELECT email FROM " + TA() + ".`user` WHERE idx=" + fresh),
           std::string("t2user07@example.com"));
  QCOMPARE(Value("SELECT HEX(Name) FROM " + TC() + ".`user` WHERE AccountID=" + fresh),
           Value("SELECT HEX(Name) FROM " + SC() + ".`user` WHERE ID=8"));
  QVERIFY(sink.Events.contains(
      QStringLiteral("帐号：t2user07 角色太多或国家不同,新添加新帐号为：us2t2user07。")));
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TA() + ".`user`"), accountsBefore + counts.AccountsCopied);
  QCOMPARE(counts.AccountsCopied, 1);
  // Nothing of an account missing in the target moves, also not into us2t2user07, which took
  // the next free idx (11), a source account's number.
  QCOMPARE(fresh, std::string("11"));
  QVERIFY(sink.Operations.contains(
      QStringLiteral("AccountID为11的帐号是合区时新建的帐号，不是转出分区中该ID的帐号,继续...")));
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE AccountID>10 AND AccountID<>" + fresh), 0);
}

void ZoneMergeDbTest::SettingsAreRefused_data() {
  QTest::addColumn<bool>("mergeAccounts");
  QTest::addColumn<QString>("sameDb");  // "acc", "chr" or ""
  QTest::addColumn<QString>("accountTag");
  QTest::addColumn<QString>("compensation");
  QTest::addColumn<QString>("step");
  QTest::newRow("equal account databases, merging accounts")
      << true << "acc"
      << "us2"
      << "5000000"
      << "验证:合并帐号的模式下,发现转入转出分区帐号数据库相同，无法继续.";
  QTest::newRow("equal character databases") << false << "chr"
                                             << "us2"
                                             << "5000000"
                                             << "验证:任何模式下，角色帐号库都不能为同一个数据库，无法继续.";
  QTest::newRow("no account tag") << true << ""
                                  << ""
                                  << "5000000"
                                  << "验证:帐号或角色重复规则未设定，无法继续.";
  QTest::newRow("no compensation amount") << true << ""
                                          << "us2"
                                          << ""
                                          << "验证:角色重复补偿已选择，但未设定补偿数量，无法继续.";
  QTest::newRow("compensation beyond 64 bits") << true << ""
                                               << "us2"
                                               << "99999999999999999999"
                                               << "验证:角色重复补偿数量不是有效的数字，无法继续.";
  // The character became "?" in every tagged name.
  QTest::newRow("account tag the target cannot hold")
      << true << ""
      << "us\U0001F600"
      << "5000000"
      << "验证:帐号或角色重复规则含有转入分区字符集无法保存的字符，无法继续.";
}

void ZoneMergeDbTest::SettingsAreRefused() {
  QFETCH(bool, mergeAccounts);
  QFETCH(QString, sameDb);
  QFETCH(QString, accountTag);
  QFETCH(QString, compensation);
  QFETCH(QString, step);
  TZoneMergeOptions options;
  options.MergeAccounts = mergeAccounts;
  options.AccountTag = accountTag;
  options.Compensation = compensation;
  const std::string before = Checksums();
  TFakeSink sink;
  const TZoneMergeCounts counts = Merge(options, sink, {}, {}, sameDb == "acc" ? FSrc->Acc() : QString(),
                                        sameDb == "chr" ? FSrc->Chr() : QString());
  QVERIFY(counts.Stopped);
  QCOMPARE(sink.Steps.last(), step);
  QVERIFY(sink.Informs.isEmpty());
  QCOMPARE(Checksums(), before);
}

void ZoneMergeDbTest::PreflightRefusesBeforeWriting_data() {
  QTest::addColumn<QString>("alter");
  QTest::addColumn<bool>("bank");
  QTest::newRow("character column") << "ALTER TABLE {TC}.`user` DROP COLUMN golduser1" << false;
  QTest::newRow("account column") << "ALTER TABLE {TA}.`user` DROP COLUMN email" << false;
  QTest::newRow("warehouse column") << "ALTER TABLE {TC}.t_bank DROP COLUMN `Password`" << true;
  QTest::newRow("source character column") << "ALTER TABLE {SC}.`user` DROP COLUMN MyData" << false;
}

void ZoneMergeDbTest::PreflightRefusesBeforeWriting() {
  QFETCH(QString, alter);
  QFETCH(bool, bank);
  FAdmin->Exec(alter.replace("{TA}", QString::fromStdString(TA()))
                   .replace("{TC}", QString::fromStdString(TC()))
                   .replace("{SC}", QString::fromStdString(SC()))
                   .toStdString());
  const std::string before = Checksums();
  TZoneMergeOptions options;
  options.MergeBank = bank;
  TFakeSink sink;
  const TZoneMergeCounts counts = Merge(options, sink);
  QVERIFY(counts.Stopped);
  QCOMPARE(sink.Steps.last(), QStringLiteral("验证:转出与转入分区的表结构不一致，无法继续."));
  QVERIFY(sink.Operations.last().startsWith(QStringLiteral("表结构预检失败：")));
  QCOMPARE(Checksums(), before);
}

void ZoneMergeDbTest::FailedAccountCopyAttachesNothing() {
  // xabc's copy fails after us2abc's succeeded: the stale identity of that copy must not take
  // xabc's character.
  FAdmin->Exec(
      "CREATE TRIGGER " + TA() + ".refuse_xabc BEFORE INSERT ON " + TA() +
      ".`user` FOR EACH ROW IF NEW.username='xabc' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT='refused'; "
      "END IF");
  TZoneMergeOptions options;
  options.MergeBank = true;
  TFakeSink sink;
  const TZoneMergeCounts counts = Merge(options, sink);
  QVERIFY(counts.Completed);
  QCOMPARE(counts.Errors, 1);
  QCOMPARE(sink.Questions,
           QStringList{QStringLiteral("对转入分区进行插入数据时发生错误，是否中止程序继续运行！")});
  QCOMPARE(sink.Titles, QStringList{QStringLiteral("提示")});
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE Account='xabc'"), 0);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".t_bank WHERE Account='xabc'"), 0);
  QCOMPARE(CharactersUnderAnotherAccount(), 0);
  const std::string us2abc = Value("SELECT idx FROM " + TA() + ".`user` WHERE username='us2abc'");
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE AccountID=" + us2abc), 1);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".t_bank WHERE AccountID=" + us2abc), 1);
  // The accounts after it go on as usual.
  QVERIFY(!Value("SELECT idx FROM " + TA() + ".`user` WHERE username='gm01'").empty());
  QVERIFY(sink.Informs[0].contains(QStringLiteral("错误1个")));
}

void ZoneMergeDbTest::RerunCopiesNothingTwice_data() {
  QTest::addColumn<bool>("mergeAccounts");
  QTest::newRow("account merge") << true;
  QTest::newRow("without account merge") << false;
}

void ZoneMergeDbTest::RerunCopiesNothingTwice() {
  QFETCH(bool, mergeAccounts);
  TZoneMergeOptions options;
  options.MergeAccounts = mergeAccounts;
  options.MergeBank = mergeAccounts;
  TFakeSink first;
  first.Answer = [](const QString&) { return true; };
  const TZoneMergeCounts one = Merge(options, first);
  QVERIFY(one.Completed);
  QVERIFY(one.CharactersCopied > 0);
  const std::string after = Checksums();

  TFakeSink second;
  second.Answer = [](const QString&) { return true; };
  const TZoneMergeCounts two = Merge(options, second);
  QVERIFY(two.Completed);
  QCOMPARE(two.AccountsCopied, 0);
  QCOMPARE(two.CharactersCopied, 0);
  QCOMPARE(two.BanksCopied, 0);
  QCOMPARE(two.AlreadyMerged,
           mergeAccounts ? one.AccountsCopied + one.CharactersCopied : one.CharactersCopied);
  QCOMPARE(Checksums(), after);
  QVERIFY(second.Operations.contains(QStringLiteral("转出分区此前已合并，本次没有重复复制任何数据.")));
  QVERIFY(second.Informs[0].contains(QStringLiteral("此前已合并%1个").arg(two.AlreadyMerged)));
}

// A source character named as the tagged copy of another of its account, of one ActorID and
// CreateDate, is a character of its own: it moves under a second tag.
void ZoneMergeDbTest::ACharacterNamedLikeACopyIsNoCopy() {
  const std::string ch2 = Hex(Gbk(QStringLiteral("CH2青云")));
  FAdmin->Exec("INSERT INTO " + SC() +
               ".`user` (ID,UniqueName,Name,ActorID,AccountID,Account,CreateDate,Gold) SELECT 300,X'" + ch2 +
               "',X'" + ch2 + "',ActorID,1,'abc',CreateDate,9 FROM " + SC() + ".`user` WHERE ID=1");
  TZoneMergeOptions options;
  TFakeSink sink;
  const TZoneMergeCounts counts = Merge(options, sink);
  QVERIFY(counts.Completed);
  QCOMPARE(counts.CharactersCopied, 36);
  QCOMPARE(counts.AlreadyMerged, 0);
  const std::string us2abc = Value("SELECT idx FROM " + TA() + ".`user` WHERE username='us2abc'");
  QCOMPARE(Value("SELECT GROUP_CONCAT(HEX(Name),'/',Gold ORDER BY ID) FROM " + TC() +
                 ".`user` WHERE AccountID=" + us2abc),
           ch2 + "/5012345," + Hex(Gbk(QStringLiteral("CH2CH2青云"))) + "/5000009");
}

// A character a merge of another zone moved (marked '*', CreateDate NULL) is not taken for the
// copy of this zone's character of one account name and class.
void ZoneMergeDbTest::AnotherZonesCopyIsNoEarlierCopy() {
  TGameZone other(FInfo, FSrc->Acc() + "o");
  QVERIFY(other.Load());
  const std::string shadow = Hex(Gbk(QStringLiteral("影子")));
  for (const QString& chr : {FSrc->Chr(), other.Chr()})
    FAdmin->Exec("UPDATE `" + chr.toStdString() + "`.`user` SET Name=X'" + shadow + "',UniqueName=X'" +
                 shadow + "',CreateDate=NULL WHERE ID=10");
  // test09 (idx 9, no characters) is one player in the three zones.
  FAdmin->Exec("UPDATE " + TA() + ".`user` SET username='test09' WHERE idx=9");
  TZoneMergeOptions options;
  options.MergeAccounts = false;
  TFakeSink first, second;
  first.Answer = second.Answer = [](const QString&) { return true; };
  QVERIFY(Merge(options, first).Completed);
  const TZoneMergeCounts counts = Merge(options, second, other.Acc(), other.Chr());
  QVERIFY(counts.Completed);
  QCOMPARE(counts.AlreadyMerged, 0);
  QCOMPARE(Value("SELECT GROUP_CONCAT(HEX(Name) ORDER BY ID) FROM " + TC() + ".`user` WHERE AccountID=9"),
           shadow + "," + Hex(Gbk(QStringLiteral("CH2影子"))));
}

// An orphan warehouse at the idx abc's copy gets is a clash, on the first run and on the next,
// never abc's warehouse.
void ZoneMergeDbTest::ARowAtTheNewAccountIsNoCopyOfItsWarehouse() {
  FAdmin->Exec("INSERT INTO " + TC() + ".t_bank VALUES (11,'orphan','x',7,NULL)");
  TZoneMergeOptions options;
  options.MergeBank = true;
  const QString clash = QStringLiteral("帐号：abc的仓库与转入分区AccountID为11的仓库重复，未合并！");
  TFakeSink first;
  QVERIFY(Merge(options, first).Completed);
  QVERIFY(first.Events.contains(clash));
  QCOMPARE(Value("SELECT CONCAT(Account,'/',BankMoney) FROM " + TC() + ".t_bank WHERE AccountID=11"),
           std::string("orphan/7"));
  const std::string after = Checksums();
  TFakeSink second;
  const TZoneMergeCounts counts = Merge(options, second);
  QVERIFY(counts.Completed);
  QVERIFY(second.Events.contains(clash));
  QVERIFY(!second.Operations.contains(QStringLiteral("帐号：abc的仓库此前已合并，不再重复复制.")));
  QCOMPARE(Checksums(), after);
}

// A run stopped after some accounts and taken up with other tags copies each source row once.
void ZoneMergeDbTest::ARerunWithOtherTagsCopiesNothingTwice() {
  const int charsBefore = Count("SELECT COUNT(*) FROM " + TC() + ".`user`");
  TZoneMergeOptions options;
  options.MergeBank = true;
  TFakeSink first;
  first.StopAtCall = 10;
  const TZoneMergeCounts one = Merge(options, first);
  QVERIFY(one.Stopped);
  options.AccountTag = "us3";
  options.CharTag = "CH3";
  TFakeSink second;
  const TZoneMergeCounts two = Merge(options, second);
  QVERIFY(two.Completed);
  QCOMPARE(two.AlreadyMerged, one.AccountsCopied + one.CharactersCopied);
  // What the first run left as still taken, the new tags copy: abcd (us2abcd is the target's)
  // and 白露 (so is CH2白露); nothing else gets them.
  QCOMPARE(Value("SELECT GROUP_CONCAT(username) FROM " + TA() + ".`user` WHERE username LIKE 'us3%'"),
           std::string("us3abcd"));
  QCOMPARE(Value("SELECT GROUP_CONCAT(HEX(Name)) FROM " + TC() + ".`user` WHERE Name LIKE 'CH3%'"),
           Hex(Gbk(QStringLiteral("CH3白露"))));
  QCOMPARE(one.AccountsCopied + two.AccountsCopied, 35);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user`"),
           charsBefore + one.CharactersCopied + two.CharactersCopied);
  QCOMPARE(one.CharactersCopied + two.CharactersCopied, 39);  // abcd's 3 and 白露 beside the 35
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE Gold=5012345"), 1);
}

// A copy the table keeps although its statement failed (MyISAM keeps the row a failing trigger
// after it leaves) is recorded as a copy: the next run does not write it a second time.
void ZoneMergeDbTest::ACopyWrittenWithoutItsAnswerIsNotCopiedAgain() {
  FAdmin->Exec("CREATE TRIGGER " + TC() + ".fail_after AFTER INSERT ON " + TC() +
               ".`user` FOR EACH ROW IF NEW.Name=X'" + Hex(Gbk(QStringLiteral("CH2青云"))) +
               "' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT='lost'; END IF");
  TZoneMergeOptions options;
  TFakeSink first;
  const TZoneMergeCounts one = Merge(options, first);
  QVERIFY(one.Completed);
  QCOMPARE(one.Errors, 1);
  FAdmin->Exec("DROP TRIGGER " + TC() + ".fail_after");
  TFakeSink second;
  const TZoneMergeCounts two = Merge(options, second);
  QVERIFY(two.Completed);
  QCOMPARE(two.CharactersCopied, 0);
  // Known by its record, not by the rule for rows an earlier version marked.
  QVERIFY(second.Operations.filter(QStringLiteral("旧版本合并")).isEmpty());
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE Name LIKE X'" +
                 Hex(Gbk(QStringLiteral("%青云"))) + "'"),
           2);  // the target's own and one copy
}

// On a session that cuts what does not fit, a name longer than its column once tagged (in bytes,
// of a GBK name too) is a clash found before writing, and a longer value elsewhere is refused.
void ZoneMergeDbTest::NamesLongerThanTheirColumnAreClashes() {
  const std::string longName = "longname_abcdefghijklmnopqrstuv";  // 31 characters
  FAdmin->Exec("UPDATE `" + FSrc->Acc().toStdString() + "`.`user` SET username='" + longName +
               "' WHERE idx=7");
  FAdmin->Exec("UPDATE " + TA() + ".`user` SET username='" + longName + "' WHERE idx=7");
  const std::string gbk30 = Hex(Gbk(QStringLiteral("一二三四五六七八九十甲乙丙丁戊")));
  FAdmin->Exec("UPDATE " + SC() + ".`user` SET Name=X'" + gbk30 + "',UniqueName=X'" + gbk30 + "' WHERE ID=9");
  FAdmin->Exec("INSERT INTO " + TC() + ".`user` (UniqueName,Name) VALUES ('holder',X'" + gbk30 + "')");
  const std::string sa = "`" + FSrc->Acc().toStdString() + "`.`user`";
  FAdmin->Exec("ALTER TABLE " + sa + " MODIFY email VARCHAR(80)");
  FAdmin->Exec("UPDATE " + sa + " SET email=REPEAT('e',70) WHERE username='gm01'");
  FSessionSql = "SET SESSION sql_mode=''";
  TZoneMergeOptions options;
  TFakeSink sink;  // goes on after each question
  const TZoneMergeCounts counts = Merge(options, sink);
  FSessionSql.clear();
  QVERIFY(counts.Completed);
  const QString question = QStringLiteral("对转入分区进行插入数据时发生错误，是否中止程序继续运行！");
  QCOMPARE(sink.Questions, QStringList({question, question, question}));
  QCOMPARE(sink.Operations.filter(QStringLiteral("超过转入分区字段的长度")).size(), 2);
  QCOMPARE(
      Count("SELECT COUNT(*) FROM " + TA() + ".`user` WHERE username LIKE 'us2long%' OR username='gm01'"), 0);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE Name LIKE 'CH2%' AND Name LIKE X'" +
                 Hex(Gbk(QStringLiteral("%一二三%"))) + "'"),
           0);
}

void ZoneMergeDbTest::GoldIsCappedAtTheColumnMaximum() {
  FAdmin->Exec("UPDATE " + SC() + ".`user` SET Gold=2147480000 WHERE ID=1");
  TZoneMergeOptions options;
  TFakeSink sink;
  const TZoneMergeCounts counts = Merge(options, sink);
  QCOMPARE(counts.GoldCapped, 1);
  QCOMPARE(
      Value("SELECT Gold FROM " + TC() + ".`user` WHERE Name=X'" + Hex(Gbk(QStringLiteral("CH2青云"))) + "'"),
      std::string("2147483647"));
  QVERIFY(sink.Events.contains(
      QStringLiteral("角色：CH2青云 金币2147480000加补偿5000000超过上限2147483647，按上限转入.")));
}

void ZoneMergeDbTest::StopRequestEndsBetweenAccounts() {
  const int accountsBefore = Count("SELECT COUNT(*) FROM " + TA() + ".`user`");
  TZoneMergeOptions options;
  TFakeSink sink;
  sink.StopAtCall = 4;  // before the fourth account (abc, abcd and xabc are done)
  const TZoneMergeCounts counts = Merge(options, sink);
  QVERIFY(counts.Stopped);
  QVERIFY(!counts.Completed);
  QCOMPARE(counts.AccountsCopied, 2);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TA() + ".`user`"), accountsBefore + 2);
  QVERIFY(sink.Informs.isEmpty());
  QVERIFY(sink.Operations.last().startsWith(QStringLiteral("合区中止：复制帐号2个")));
}

void ZoneMergeDbTest::TransactionalTargetRollsBackTheStoppedAccount() {
  for (const std::string& t : {TA() + ".`user`", TC() + ".`user`", TC() + ".t_bank"})
    FAdmin->Exec("ALTER TABLE " + t + " ENGINE=InnoDB");
  // xabc's character meets a row holding its unique name under another name: its insert fails.
  const std::string name = Value("SELECT HEX(UniqueName) FROM " + SC() + ".`user` WHERE AccountID=3");
  FAdmin->Exec("INSERT INTO " + TC() + ".`user` (UniqueName,Name) VALUES (X'" + name + "','holder')");
  TZoneMergeOptions options;
  TFakeSink sink;
  sink.Answer = [](const QString&) { return true; };  // stop
  const TZoneMergeCounts counts = Merge(options, sink);
  QVERIFY(counts.Stopped);
  QCOMPARE(sink.Questions,
           QStringList{QStringLiteral("对转入分区进行插入角色数据时发生错误，是否中止程序继续运行！")});
  // The stopped account's copy is undone; the one before it stays.
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TA() + ".`user` WHERE username='xabc'"), 0);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TA() + ".`user` WHERE username='us2abc'"), 1);
  QVERIFY(sink.Operations.contains(QStringLiteral("当前帐号的操作已回滚.")));
}

void ZoneMergeDbTest::DatabaseNamesWithBackQuotesReachTheServerWhole() {
  // The target zone copied into databases whose names hold a back quote.
  const std::string acc = FTgt->Acc().toStdString() + "`q", chr = FTgt->Chr().toStdString() + "`q";
  auto quoted = [](const std::string& name) {
    return "`" + QString::fromStdString(name).replace("`", "``").toStdString() + "`";
  };
  struct TDrop {
    TAdminSession& Admin;
    std::string A, C;
    ~TDrop() {
      Admin.Exec("DROP DATABASE IF EXISTS " + A);
      Admin.Exec("DROP DATABASE IF EXISTS " + C);
    }
  } drop{*FAdmin, quoted(acc), quoted(chr)};
  FAdmin->Exec("CREATE DATABASE " + quoted(acc));
  FAdmin->Exec("CREATE DATABASE " + quoted(chr));
  for (const auto& [db, table, from] :
       {std::tuple{quoted(acc), "`user`", TA()}, std::tuple{quoted(chr), "`user`", TC()},
        std::tuple{quoted(chr), "t_bank", TC()}}) {
    FAdmin->Exec("CREATE TABLE " + db + "." + table + " LIKE " + from + "." + table);
    FAdmin->Exec("INSERT INTO " + db + "." + table + " SELECT * FROM " + from + "." + table);
  }
  TZoneMergeOptions options;
  options.MergeBank = true;
  TFakeSink sink;
  const TZoneMergeCounts counts =
      Merge(options, sink, {}, {}, QString::fromStdString(acc), QString::fromStdString(chr));
  QVERIFY(counts.Completed);
  QCOMPARE(counts.AccountsCopied, 34);
  QCOMPARE(counts.Errors, 0);
  const std::string idx = Value("SELECT idx FROM " + quoted(acc) + ".`user` WHERE username='us2abc'");
  QVERIFY(!idx.empty());
  QCOMPARE(Count("SELECT COUNT(*) FROM " + quoted(chr) + ".t_bank WHERE AccountID=" + idx), 1);
  // The zone the names were taken from is untouched.
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TA() + ".`user`"), 10);
}

void ZoneMergeDbTest::RunWaitsPastTheBrowsingTimeOut() {
  // Another session holds the target's account table for 3 s; the connections browse with a
  // 1 s time-out, which must not cut the run's own statements.
  QProcess locker;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("MYSQL_PWD"), FInfo["NATIVE_PASSWORD"]);
  locker.setProcessEnvironment(env);
  locker.start(QStringLiteral("mariadb"),
               {QStringLiteral("-h"), FInfo["HOST"], QStringLiteral("-P"), FInfo["PORT"],
                QStringLiteral("-u"), FInfo["NATIVE_USER"], QStringLiteral("-e"),
                QStringLiteral("LOCK TABLES %1.`user` WRITE; DO SLEEP(3); UNLOCK TABLES;")
                    .arg(QString::fromStdString(TA()))});
  QTRY_COMPARE_WITH_TIMEOUT(
      Count("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO LIKE 'DO SLEEP(3)%'"), 1, 10000);
  TZoneMergeOptions options;
  TFakeSink sink;
  QElapsedTimer timer;
  timer.start();
  const TZoneMergeCounts counts = Merge(options, sink, {}, {}, {}, {}, 1);
  QVERIFY(timer.elapsed() >= 1500);
  QVERIFY(locker.waitForFinished(10000));
  QVERIFY(counts.Completed);
  QCOMPARE(counts.AccountsCopied, 34);
}

void ZoneMergeDbTest::NamesKeepTheirBytesInTheSessionsBackslashMode_data() {
  QTest::addColumn<QString>("sqlMode");
  QTest::newRow("backslash escapes") << QString();
  QTest::newRow("NO_BACKSLASH_ESCAPES") << QStringLiteral("NO_BACKSLASH_ESCAPES");
}

// A clashing character name holding a backslash and a quote is written renamed with its bytes,
// whichever way the session reads backslashes in literals.
void ZoneMergeDbTest::NamesKeepTheirBytesInTheSessionsBackslashMode() {
  QFETCH(QString, sqlMode);
  const std::string plain = Hex(Gbk(QStringLiteral("青云")));
  const std::string odd = plain + "5C27";  // 青云\'
  for (const std::string& db : {SC(), TC()})
    FAdmin->Exec("UPDATE " + db + ".`user` SET Name=X'" + odd + "' WHERE Name=X'" + plain + "'");
  if (!sqlMode.isEmpty())
    FSessionSql = "SET SESSION sql_mode=CONCAT_WS(',',NULLIF(@@sql_mode,''),'" + sqlMode.toStdString() + "')";
  TZoneMergeOptions options;
  options.MergeAccounts = true;
  options.MergeBank = true;
  TFakeSink sink;
  const TZoneMergeCounts counts = Merge(options, sink);
  FSessionSql.clear();
  QVERIFY(counts.Completed);
  QCOMPARE(counts.Errors, 0);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE UsData='*' AND Name=X'434832" + odd + "'"),
           1);
  QCOMPARE(Count("SELECT COUNT(*) FROM " + TC() + ".`user` WHERE UsData='*' AND HEX(Name) LIKE '%5C5C%'"), 0);
}

QTEST_GUILESS_MAIN(ZoneMergeDbTest)
#include "ZoneMerge_dbtest.moc"
