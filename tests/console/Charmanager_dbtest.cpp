// The character and warehouse browsers over the fixture zone on the test server: searches that
// meet the stored bytes, the online rule read from the log, the ways between the browsers, the
// dialogs that change their one row and field, and an account database whose name needs quoting.
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QtTest>
#include <memory>

#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/browsers/DialogValues.h"
#include "console/browsers/EditDialogs.h"
#include "console/browsers/Unit_bankmanager.h"
#include "console/browsers/Unit_charmanager.h"
#include "console/browsers/Unit_usermanager.h"
#include "console/common/MyLoginConnection.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "platform/widgets/DBControls.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiRecorder.h"

class CharmanagerDbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void SearchesFindTheStoredNames_data();
  void SearchesFindTheStoredNames();
  void OnlineCheckReadsTheLastSession_data();
  void OnlineCheckReadsTheLastSession();
  void BrowsersOpenOneAnother();
  void OrphanWarehouseWarnsAndOpensNothing();
  void WarehouseDialogsChangeOnlyTheirRow();
  void SkillMemoEditsSkillsOnly();
  void TextsWrittenByTheGameMeanwhileAreNotOverwritten_data();
  void TextsWrittenByTheGameMeanwhileAreNotOverwritten();
  void MenuOpensBothBrowsers();
  void QuotedAccountDatabaseName();
  void WarehouseOfTheLivingNamesake();
  void WarehouseOfTheNameSpelledAsTyped_data();
  void WarehouseOfTheNameSpelledAsTyped();
  void StripEditsAreWritten_data();
  void StripEditsAreWritten();
  void LinksFindAGbkNamedAccountByItsKey();

 private:
  std::string Value(const std::string& sql) { return FAdmin->Value(sql); }
  std::string Chr() const { return "`" + FZone->Chr().toStdString() + "`"; }
  // Every warehouse row but one, as the server holds it.
  std::string BankRowsBut(int accountId) {
    return Value(
        "SELECT GROUP_CONCAT(CONCAT_WS('/', AccountID, HEX(Items), BankMoney, IFNULL(Password, '-')) "
        "ORDER BY AccountID) FROM " +
        Chr() + ".t_bank WHERE AccountID<>" + std::to_string(accountId));
  }
  // The warehouse browser on the row of accountId (all rows on one page).
  std::unique_ptr<Tbankmanager> BankOn(int accountId) {
    auto b = std::make_unique<Tbankmanager>(FLinks);
    b->e1->setText(QStringLiteral("50"));
    b->ChangePageSize();
    for (b->qry1().First(); !b->qry1().Eof(); b->qry1().Next())
      if (b->qry1().FieldByName("AccountID")->AsInteger() == accountId) break;
    return b;
  }

  QMap<QString, QString> FInfo;
  std::unique_ptr<TGameZone> FZone;
  std::unique_ptr<TAdminSession> FAdmin;
  std::unique_ptr<TLoginConnection> FCons[3];
  TGameLinks FLinks;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
};

void CharmanagerDbTest::initTestCase() {
  FInfo = ServerInfo();
  FZone = std::make_unique<TGameZone>(FInfo, QStringLiteral("cm_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(FZone->Load());
  FAdmin = std::make_unique<TAdminSession>(FInfo);
  // The login's three connections, as the login opens them.
  const QString dbs[] = {FZone->Acc(), FZone->Chr(), FZone->Log()};
  for (int i = 0; i < 3; ++i) {
    FCons[i] = MakeMyLoginConnection(i);
    FCons[i]->Open({FInfo["HOST"].toStdString(),
                    FInfo["PORT"].toInt(),
                    FInfo["NATIVE_USER"].toStdString(),
                    FInfo["NATIVE_PASSWORD"].toStdString(),
                    dbs[i].toStdString(),
                    {}});
  }
  FLinks.Acc = dynamic_cast<TCustomMyConnection*>(FCons[0]->Connection());
  FLinks.Chr = dynamic_cast<TCustomMyConnection*>(FCons[1]->Connection());
  FLinks.Log = dynamic_cast<TCustomMyConnection*>(FCons[2]->Connection());
  FLinks.AccDB = FZone->Acc().toStdString();
  FLinks.Charset = QStringLiteral("默认");
  // A browser opens another through the frame's opener, as under the frame.
  FLinks.Open = &OpenLinkedBrowser;
  FAdmin->Exec("SET GLOBAL log_output='TABLE'");
  FAdmin->Exec("SET GLOBAL general_log=1");
}

void CharmanagerDbTest::init() {
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
}

void CharmanagerDbTest::cleanup() {
  FScope.reset();
  FUi.reset();
}

void CharmanagerDbTest::SearchesFindTheStoredNames_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("byAccount");
  QTest::addColumn<bool>("fuzzy");
  QTest::addColumn<int>("rows");
  QTest::addColumn<int>("id");  // of the first row found
  QTest::newRow("account abc") << QStringLiteral("abc") << true << false << 3 << 1;
  QTest::newRow("fuzzy 籠 (trail byte 0x5C)") << QStringLiteral("籠") << false << true << 1 << 5;
  QTest::newRow("exact 竹籠") << QStringLiteral("竹籠") << false << false << 1 << 5;
  QTest::newRow("exact 籠 is no suffix") << QStringLiteral("籠") << false << false << 0 << 0;
  QTest::newRow("quote") << QStringLiteral("x' OR '1'='1") << false << false << 0 << 0;
  QTest::newRow("account with a quote") << QStringLiteral("abc' OR '1'='1") << true << false << -1 << 0;
}

void CharmanagerDbTest::SearchesFindTheStoredNames() {
  QFETCH(QString, text);
  QFETCH(bool, byAccount);
  QFETCH(bool, fuzzy);
  QFETCH(int, rows);
  QFETCH(int, id);
  Tcharmanager b(FLinks);
  b.chk1->setChecked(byAccount);
  b.chk3->setChecked(fuzzy);
  b.edt1->setText(text);
  b.Search();
  if (rows < 0) {
    // No such account: the message, and the page as it was.
    QCOMPARE(FUi->Messages().size(), size_t(1));
    QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("所查询的帐号不存在！"));
    QCOMPARE(b.qry1().RecordCount(), 17);
    return;
  }
  QCOMPARE(b.qry1().RecordCount(), rows);
  QCOMPARE(b.lbl11->text(), QStringLiteral("当前查询共有记录%1条").arg(rows));
  if (id != 0) QCOMPARE(b.qry1().FieldByName("ID")->AsInteger(), id);
  QVERIFY(FUi->Messages().empty());
}

void CharmanagerDbTest::OnlineCheckReadsTheLastSession_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<QString>("message");
  QTest::newRow("login after logout") << 1 << QStringLiteral("该用户当前在线，不能修改！！");
  QTest::newRow("logged out") << 2 << QStringLiteral("该用户当前不在线，可以修改！");
  QTest::newRow("login only") << 4 << QStringLiteral("该用户当前在线，不能修改！！");
  QTest::newRow("logout only") << 6 << QStringLiteral("该用户当前不在线，可以修改！");
  QTest::newRow("no log") << 3 << QStringLiteral("查询为空，可能您完全清空了日志记录！");
}

void CharmanagerDbTest::OnlineCheckReadsTheLastSession() {
  QFETCH(int, id);
  QFETCH(QString, message);
  const std::string log = "`" + FZone->Log().toStdString() + "`.t_log_user_history";
  FAdmin->Exec("INSERT INTO " + log +
               " (userID,type,longParam1,LogTime) VALUES (6,15,2,'2024-03-01 10:00:00')");
  Tcharmanager b(FLinks);
  for (b.qry1().First(); !b.qry1().Eof(); b.qry1().Next())
    if (b.qry1().FieldByName("ID")->AsInteger() == id) break;
  b.CheckOnline();
  FAdmin->Exec("DELETE FROM " + log + " WHERE userID=6 AND type=15");
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, message);
}

void CharmanagerDbTest::BrowsersOpenOneAnother() {
  // Account abc's characters from the account browser.
  Tusermanager accounts(*FLinks.Acc, FLinks.Charset);
  accounts.SetLinks(FLinks);
  accounts.edt1->setText(QStringLiteral("abc"));
  accounts.CheckBox1->setChecked(false);
  accounts.Search();
  accounts.OpenCharacters();
  auto* chars = accounts.findChild<Tcharmanager*>();
  QVERIFY(chars);
  QVERIFY(chars->chk1->isChecked());
  QCOMPARE(chars->qry1().RecordCount(), 3);
  // Back to the account, and on to its warehouse.
  chars->OpenAccount();
  auto* account = chars->findChild<Tusermanager*>();
  QVERIFY(account);
  QCOMPARE(account->qry1().RecordCount(), 1);
  QCOMPARE(account->edtName->text(), QStringLiteral("abc"));
  chars->OpenWarehouse();
  auto* bank = chars->findChild<Tbankmanager*>();
  QVERIFY(bank);
  QCOMPARE(bank->qry1().RecordCount(), 1);
  QCOMPARE(bank->edtAccount->text(), QStringLiteral("abc"));
  QVERIFY(FUi->Messages().empty());
}

void CharmanagerDbTest::OrphanWarehouseWarnsAndOpensNothing() {
  auto b = BankOn(999);
  QCOMPARE(b->qry1().FieldByName("AccountID")->AsInteger(), 999);
  QVERIFY(b->edtAccount->text().isEmpty());
  b->OpenAccount();
  QVERIFY(!b->findChild<Tusermanager*>());
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("当前仓库没有关联帐号，建议删除！！！"));
}

void CharmanagerDbTest::WarehouseDialogsChangeOnlyTheirRow() {
  const std::string bank = Chr() + ".t_bank";
  // Money: shown 2000, set to 5000 meanwhile, 100 added to what is stored.
  {
    auto b = BankOn(2);
    QCOMPARE(b->edtMoney->text(), QStringLiteral("2000"));
    const std::string others = BankRowsBut(2);
    FAdmin->Exec("UPDATE " + bank + " SET BankMoney=5000 WHERE AccountID=2");
    FUi->OnDialog([](QDialog& d) {
      auto& money = static_cast<Tbank_money&>(d);
      money.edt1->setText(QStringLiteral("100"));
      money.Confirm();
      return int(d.result());
    });
    b->EditMoney();
    QCOMPARE(Value("SELECT BankMoney FROM " + bank + " WHERE AccountID=2"), std::string("5100"));
    QCOMPARE(BankRowsBut(2), others);
  }
  // Password: the stored form, on that row only.
  {
    auto b = BankOn(3);
    const std::string others = BankRowsBut(3);
    FUi->OnDialog([](QDialog& d) {
      auto& dialog = static_cast<Tbankpassword&>(d);
      dialog.edt1->setText(QStringLiteral("654321"));
      dialog.Confirm();
      return int(d.result());
    });
    b->EditPassword();
    QCOMPARE(Value("SELECT Password FROM " + bank + " WHERE AccountID=3"), StoredPasswordForm("654321"));
    QCOMPARE(BankRowsBut(3), others);
  }
  QVERIFY(FUi->Messages().empty());
}

void CharmanagerDbTest::SkillMemoEditsSkillsOnly() {
  const std::string chars = Chr() + ".`user`";
  const std::string items = Value("SELECT HEX(Items) FROM " + chars + " WHERE ID=1");
  const std::string others = FAdmin->Checksum(chars);
  Tcharmanager b(FLinks);
  QCOMPARE(b.qry1().FieldByName("ID")->AsInteger(), 1);
  FUi->OnDialog([](QDialog& d) {
    auto& dialog = static_cast<Tskillitems&>(d);
    dialog.mmoSkills->selectAll();
    QTest::keyClicks(dialog.mmoSkills, QStringLiteral("1:99;7:3;"));
    dialog.Confirm();
    return int(d.result());
  });
  b.EditSkillsAndItems();
  QCOMPARE(Value("SELECT Skills FROM " + chars + " WHERE ID=1"), std::string("1:99;7:3;"));
  QCOMPARE(Value("SELECT HEX(Items) FROM " + chars + " WHERE ID=1"), items);
  QCOMPARE(FUi->Messages().size(), size_t(1));
  // Abandoned: nothing is written, now or when the row is left.
  FUi->OnDialog([](QDialog& d) {
    auto& dialog = static_cast<Tskillitems&>(d);
    dialog.mmoItems->selectAll();
    QTest::keyClicks(dialog.mmoItems, QStringLiteral("gone"));
    dialog.btn2->Click();
    return int(d.result());
  });
  b.EditSkillsAndItems();
  b.qry1().Next();
  QCOMPARE(Value("SELECT HEX(Items) FROM " + chars + " WHERE ID=1"), items);
  FAdmin->Exec("UPDATE " + chars + " SET Skills='1:1;2:60;' WHERE ID=1");
  QCOMPARE(FAdmin->Checksum(chars), others);
}

// The game writes a row's texts while the dialog is open, before the confirmation or as the write
// goes: the write finds no row and says so, keeping the game master's text in the dialog, and
// a confirmation again writes nothing either. The texts compare byte for byte: in the game's latin1
// columns the collation takes the GBK C0 C0 for C1 C0.
void CharmanagerDbTest::TextsWrittenByTheGameMeanwhileAreNotOverwritten_data() {
  QTest::addColumn<bool>("warehouse");
  QTest::addColumn<bool>("asTheWriteGoes");
  QTest::addColumn<QString>("readHex");  // stored when the dialog opens; empty: as the fixture has it
  QTest::addColumn<QString>("gameHex");
  QTest::newRow("skills, before the confirmation") << false << false << ""
                                                   << "313A323B333A343B";
  QTest::newRow("skills, as the write goes") << false << true << ""
                                             << "313A323B333A343B";
  QTest::newRow("warehouse, as the write goes") << true << true << ""
                                                << "69643D373B";
  QTest::newRow("warehouse, a character its collation confuses") << true << true << "C0C0"
                                                                 << "C1C0";
}

void CharmanagerDbTest::TextsWrittenByTheGameMeanwhileAreNotOverwritten() {
  QFETCH(bool, warehouse);
  QFETCH(bool, asTheWriteGoes);
  QFETCH(QString, readHex);
  QFETCH(QString, gameHex);
  const std::string table = Chr() + (warehouse ? ".t_bank" : ".`user`");
  const std::string row = warehouse ? " WHERE AccountID=2" : " WHERE ID=1";
  const std::string column = warehouse ? "Items" : "Skills";
  const std::string stored = "SELECT IFNULL(HEX(" + column + "), 'NULL') FROM " + table + row;
  const std::string before = Value(stored);
  const std::string others = FAdmin->Checksum(table);
  if (!readHex.isEmpty())
    FAdmin->Exec("UPDATE " + table + " SET " + column + "=X'" + readHex.toStdString() + "'" + row);
  const std::string game = "UPDATE " + table + " SET " + column + "=X'" + gameHex.toStdString() + "'" + row;
  std::unique_ptr<Tbankmanager> bank = warehouse ? BankOn(2) : nullptr;
  std::unique_ptr<Tcharmanager> chars = warehouse ? nullptr : std::make_unique<Tcharmanager>(FLinks);
  TMyQuery& q = warehouse ? bank->qry1() : chars->qry1();
  QCOMPARE(q.FieldByName(warehouse ? "AccountID" : "ID")->AsInteger(), warehouse ? 2 : 1);
  if (asTheWriteGoes)
    q.BeforeUpdateExecute = [&](TCustomDADataSet*, TStatementTypes, TDAParams&) { FAdmin->Exec(game); };
  FUi->OnDialog([&](QDialog& d) {
    auto& dialog = static_cast<TRowTextDialog&>(d);
    TDBMemo* memo = warehouse ? static_cast<Tbankitems&>(d).mmo1 : static_cast<Tskillitems&>(d).mmoSkills;
    memo->selectAll();
    QTest::keyClicks(memo, QStringLiteral("1:99;"));
    if (!asTheWriteGoes) FAdmin->Exec(game);
    for (int confirmation = 1; confirmation <= 2; ++confirmation) {
      dialog.Confirm();
      [&] {
        QCOMPARE(d.result(), 0);
        QCOMPARE(Value(stored), gameHex.toStdString());
        QCOMPARE(memo->toPlainText(), QStringLiteral("1:99;"));
      }();
    }
    dialog.btn2->Click();
    return int(d.result());
  });
  if (warehouse)
    bank->EditItems();
  else
    chars->EditSkillsAndItems();
  q.BeforeUpdateExecute = nullptr;
  QCOMPARE(Value(stored), gameHex.toStdString());
  QCOMPARE(FUi->Messages().size(), size_t(2));
  for (const auto& message : FUi->Messages()) QVERIFY(message.Args.Text.contains(QStringLiteral("已被修改")));
  FAdmin->Exec("UPDATE " + table + " SET " + column + "=" +
               (before == "NULL" ? before : "X'" + before + "'") + row);
  QCOMPARE(FAdmin->Checksum(table), others);
}

void CharmanagerDbTest::MenuOpensBothBrowsers() {
  QTemporaryDir dir;
  FZone->WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR");
  frame.OpenCharBrowser();
  QVERIFY(QTest::qWaitForWindowExposed(&frame));
  if (!shots.isEmpty()) QVERIFY(frame.grab().save(QDir(shots).filePath("character-browser.png")));
  auto* chars = frame.findChild<Tcharmanager*>();
  QVERIFY(chars);
  // The grid's columns need a horizontal scroll bar, which took the room of the 17th row.
  TDBGrid* grid = chars->dbgrd1;
  QCOMPARE(chars->qry1().RecordCount(), 17);
  QVERIFY(grid->horizontalScrollBar()->maximum() > 0);
  QVERIFY(grid->rowViewportPosition(16) + grid->rowHeight(16) <= grid->viewport()->height());
  QCOMPARE(grid->verticalScrollBar()->maximum(), 0);
  QVERIFY(chars->parentWidget()->geometry().bottom() <= frame.MdiArea()->height());
  chars->chk2->setChecked(true);
  if (!shots.isEmpty()) QVERIFY(frame.grab().save(QDir(shots).filePath("character-browser-detail.png")));
  frame.OpenBankBrowser();
  if (!shots.isEmpty()) QVERIFY(frame.grab().save(QDir(shots).filePath("warehouse-browser.png")));
  frame.OpenCharBrowser();  // restores the one open
  QCOMPARE(frame.MdiArea()->subWindowList().size(), 2);
  auto* bank = frame.findChild<Tbankmanager*>();
  QVERIFY(bank);
  QCOMPARE(bank->lbl11->text(), QStringLiteral("共 20条记录 "));
  QCOMPARE(bank->edtAccount->text(), QStringLiteral("abc"));
  QVERIFY(FUi->Messages().empty());
}

void CharmanagerDbTest::QuotedAccountDatabaseName() {
  TGameZone zone(FInfo, QStringLiteral("zqv-2_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(zone.Load());
  QTemporaryDir dir;
  zone.WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenBankBrowser();
  frame.OpenCharBrowser();
  auto* bank = frame.findChild<Tbankmanager*>();
  QVERIFY(bank);
  QCOMPARE(bank->qry1().RecordCount(), 17);
  QCOMPARE(bank->edtAccount->text(), QStringLiteral("abc"));
  QVERIFY(frame.findChild<Tcharmanager*>());
  QVERIFY(FUi->Messages().empty());
}

void CharmanagerDbTest::WarehouseOfTheLivingNamesake() {
  // 白露 (ID 2, account 1) was deleted; a character of account 2 has taken the name up since.
  const std::string chars = Chr() + ".`user`";
  FAdmin->Exec("UPDATE " + chars + " SET deleted=1 WHERE ID=2");
  FAdmin->Exec("INSERT INTO " + chars +
               " (UniqueName, Name, AccountID) SELECT CONCAT(Name, '2'), Name, 2 FROM " + chars +
               " WHERE ID=2");
  Tbankmanager b(FLinks);
  b.edt1->setText(QStringLiteral("白露"));
  b.chk1->setChecked(false);
  b.Search();
  FAdmin->Exec("DELETE FROM " + chars +
               " WHERE AccountID=2 AND ID<>2 AND Name=(SELECT Name FROM (SELECT Name FROM " + chars +
               " WHERE ID=2) AS n)");
  FAdmin->Exec("UPDATE " + chars + " SET deleted=0 WHERE ID=2");
  QVERIFY(FUi->Messages().empty());
  QCOMPARE(b.qry1().RecordCount(), 1);
  QCOMPARE(b.qry1().FieldByName("AccountID")->AsInteger(), 2);
}

void CharmanagerDbTest::WarehouseOfTheNameSpelledAsTyped_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<int>("account");
  // Two living characters whose names the latin1 collation takes for one; the one listed first
  // is "Bob".
  QTest::newRow("first found") << "Bob" << 3;
  QTest::newRow("found second") << "bob" << 4;
}

void CharmanagerDbTest::WarehouseOfTheNameSpelledAsTyped() {
  QFETCH(QString, typed);
  QFETCH(int, account);
  const std::string chars = Chr() + ".`user`";
  FAdmin->Exec("INSERT INTO " + chars +
               " (ID, UniqueName, Name, AccountID) VALUES (801, 'u801', 'Bob', 3), "
               "(802, 'u802', 'bob', 4)");
  Tbankmanager b(FLinks);
  b.edt1->setText(typed);
  b.chk1->setChecked(false);
  b.Search();
  FAdmin->Exec("DELETE FROM " + chars + " WHERE ID IN (801, 802)");
  QVERIFY(FUi->Messages().empty());
  QCOMPARE(b.qry1().RecordCount(), 1);
  QCOMPARE(b.qry1().FieldByName("AccountID")->AsInteger(), account);
}

void CharmanagerDbTest::StripEditsAreWritten_data() {
  QTest::addColumn<QString>("field");
  QTest::addColumn<bool>("byCommit");  // 提交修改, else a move to the next row
  QTest::addColumn<QString>("typed");
  QTest::newRow("等级 through 提交修改") << "Level" << true << "50";
  QTest::newRow("金钱 through 提交修改") << "Gold" << true << "777";
  QTest::newRow("PK值 of the panel through 提交修改") << "PK" << true << "9";
  QTest::newRow("声望 through a row change") << "Credit" << false << "1234";
}

// What is typed into the detail strip is written by 提交修改 as by leaving the row: one UPDATE of
// that row, the value the server then holds.
void CharmanagerDbTest::StripEditsAreWritten() {
  QFETCH(QString, field);
  QFETCH(bool, byCommit);
  QFETCH(QString, typed);
  const std::string chars = Chr() + ".`user`";
  const std::string column = field.toStdString();
  const std::string before = Value("SELECT `" + column + "` FROM " + chars + " WHERE ID=1");
  const std::string whole = FAdmin->Checksum(chars);
  auto& provider = static_cast<TMyLoginConnection&>(*FCons[1]).Provider();
  const std::string thread = QueryValue(provider, "SELECT CONNECTION_ID()");
  const std::string updates = "SELECT COUNT(*) FROM mysql.general_log WHERE thread_id=" + thread +
                              " AND command_type='Query' AND argument LIKE 'UPDATE%'";
  const std::string sent = Value(updates);
  Tcharmanager b(FLinks);
  b.chk2->setChecked(true);
  QCOMPARE(b.qry1().FieldByName("ID")->AsInteger(), 1);
  TDBEdit* edit = nullptr;
  for (TDBEdit* e : b.findChildren<TDBEdit*>())
    if (e->Link().DataField() == column) edit = e;
  QVERIFY(edit);
  edit->selectAll();
  QTest::keyClicks(edit, typed);
  if (byCommit)
    b.CommitRow();
  else
    b.qry1().Next();
  const std::string stored = Value("SELECT `" + column + "` FROM " + chars + " WHERE ID=1");
  FAdmin->Exec("UPDATE " + chars + " SET `" + column + "`=" + before + " WHERE ID=1");
  QCOMPARE(stored, typed.toStdString());
  QCOMPARE(std::stoi(Value(updates)), std::stoi(sent) + 1);
  // Nothing else was written: put back, the table is as before.
  QCOMPARE(FAdmin->Checksum(chars), whole);
  QCOMPARE(FUi->Messages().size(), size_t(byCommit ? 1 : 0));
  if (byCommit) QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("修改记录成功！"));
}

// 你好 stored as GBK bytes in the latin1 column reaches the gb2312 account connection as "?": each
// way between the browsers still finds that account, its characters and its warehouse.
void CharmanagerDbTest::LinksFindAGbkNamedAccountByItsKey() {
  const std::string accounts = "`" + FZone->Acc().toStdString() + "`.`user`";
  FAdmin->Exec("INSERT INTO " + accounts + " (idx, username) VALUES (901, X'C4E3BAC3')");
  FAdmin->Exec("INSERT INTO " + Chr() +
               ".`user` (ID, UniqueName, Name, AccountID) VALUES (901, 'lk901', 'lk_a', 901), "
               "(902, 'lk902', 'lk_b', 901)");
  FAdmin->Exec("INSERT INTO " + Chr() + ".t_bank (AccountID, Items) VALUES (901, 'x')");
  struct TCleanup {
    CharmanagerDbTest& Test;
    std::string Accounts;
    ~TCleanup() {
      try {
        Test.FAdmin->Exec("DELETE FROM " + Accounts + " WHERE idx=901");
        Test.FAdmin->Exec("DELETE FROM " + Test.Chr() + ".`user` WHERE ID IN (901, 902)");
        Test.FAdmin->Exec("DELETE FROM " + Test.Chr() + ".t_bank WHERE AccountID=901");
      } catch (...) {
        // The server went first; the zone is dropped with it.
      }
    }
  } cleanup{*this, accounts};
  Tusermanager start(*FLinks.Acc, FLinks.Charset);
  start.SetLinks(FLinks);
  start.CheckBox1->setChecked(false);
  start.edt1->setText(QStringLiteral("你好"));
  start.Search();
  QCOMPARE(start.qry1().FieldByName("idx")->AsInteger(), 901);
  QVERIFY(start.edtName->text() != QStringLiteral("你好"));
  // 管理该帐号下角色.
  start.OpenCharacters();
  auto* chars = start.findChild<Tcharmanager*>();
  QVERIFY(chars);
  QCOMPARE(chars->qry1().RecordCount(), 2);
  QVERIFY(chars->chk1->isChecked());
  // 该角色的帐号管理, 同帐号其它角色 and 查看本角色仓库.
  chars->OpenAccount();
  auto* account = chars->findChild<Tusermanager*>();
  QVERIFY(account);
  QCOMPARE(account->qry1().RecordCount(), 1);
  QCOMPARE(account->qry1().FieldByName("idx")->AsInteger(), 901);
  chars->qry1().Last();
  chars->ShowAccountCharacters();
  QCOMPARE(chars->qry1().RecordCount(), 2);
  chars->OpenWarehouse();
  auto* bank = chars->findChild<Tbankmanager*>();
  QVERIFY(bank);
  QCOMPARE(bank->qry1().RecordCount(), 1);
  QCOMPARE(bank->qry1().FieldByName("AccountID")->AsInteger(), 901);
  // 管理此仓库帐号.
  bank->OpenAccount();
  auto* owner = bank->findChild<Tusermanager*>();
  QVERIFY(owner);
  QCOMPARE(owner->qry1().RecordCount(), 1);
  QCOMPARE(owner->qry1().FieldByName("idx")->AsInteger(), 901);
  QVERIFY(FUi->Messages().empty());
}

QTEST_MAIN(CharmanagerDbTest)
#include "Charmanager_dbtest.moc"
