// Item issuing over the fixture zone: the item table's creation and import (whole or not at all),
// gifts written one row per character ID as the server then holds them, the filters of an
// all-characters send, a stop that leaves exactly the rows of the characters reported, clearing,
// and the pickers with their searches and limits.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QtTest>
#include <memory>

#include "ConsoleTestSupport.h"
#include "GameZone.h"
#include "components/MyAccessDataSet.h"
#include "console/common/MyLoginConnection.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "console/items/Unit_itemsell.h"
#include "console/items/Unit_itemsellacc.h"
#include "console/items/Unit_itemsellitem.h"
#include "console/items/Unit_itemsellitemadd.h"
#include "platform/widgets/FieldText.h"
#include "platform/widgets/UiRecorder.h"

namespace {

std::string Hex(const QString& text) {
  return QByteArray::fromStdString(EncodeFieldText(text, TFieldCharset::Gbk)).toHex().toUpper().toStdString();
}

// An items.csv line in the game's code page: number, name, 58 more fields, the description.
QByteArray CsvLine(const QString& number, const QString& name, const QString& memo) {
  QString line = number + "," + name;
  for (int i = 2; i < 60; ++i) line += ",";
  return QByteArray::fromStdString(EncodeFieldText(line + "," + memo, TFieldCharset::Gbk));
}

}  // namespace

class ItemsellDbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void CreationGivesAMyIsamTable();
  void ImportReplacesTheListWholeOrNotAtAll();
  void ImportRefusesValuesTheTableCannotHold_data();
  void ImportRefusesValuesTheTableCannotHold();
  void NamedSendWritesOneRowPerCharacter();
  void NamedSendTakesTheNamesAsListed_data();
  void NamedSendTakesTheNamesAsListed();
  void StopAtTheThirdStepLeavesThreeRows_data();
  void StopAtTheThirdStepLeavesThreeRows();
  void EndedSendNamesWhoGotTheirGift_data();
  void EndedSendNamesWhoGotTheirGift();
  void LostConnectionIsAskedAgain();
  void CharacterWithSomeOfItsItemsIsNamed();
  void FiltersChooseTheCharacters_data();
  void FiltersChooseTheCharacters();
  void OwnConditionWithItsOwnOrderAndLimit();
  void RefusedSendWritesNothing_data();
  void RefusedSendWritesNothing();
  void PastedTextOutsideTheKeyRulesIsRefused_data();
  void PastedTextOutsideTheKeyRulesIsRefused();
  void AmountsStayWithinTheGameColumns_data();
  void AmountsStayWithinTheGameColumns();
  void ValueTheServerCutIsReported();
  void DeleteKeyDeletesInTheAmountEdits();
  void NamesAndItemsReadAsListedInEitherBackslashMode_data();
  void NamesAndItemsReadAsListedInEitherBackslashMode();
  void ImportKeepsTheBytesInEitherBackslashMode_data();
  void ImportKeepsTheBytesInEitherBackslashMode();
  void ClearingTakesOwnOrAllGifts();
  void CharacterPickerSearchesAndStopsAtTen();
  void ItemPickerAddsThroughTheOptionsDialog();
  void MenuOpensOneWindow();
  void MenuRefusesAZoneWithoutTheGiftTable();
  void MenuAfterALoginToAnotherZoneSendsThere();
  void SendBusyAtALoginElsewhereNamesItsZone();

 private:
  std::unique_ptr<Titemsell> Window() {
    auto w = std::make_unique<Titemsell>(FLogin->MyConnection(), QStringLiteral("默认"));
    // The clock stands still; gifts expire the next day.
    w->dtp1->setDateTime(QDateTime(QDate(2026, 3, 11), QTime(0, 0, 0)));
    return w;
  }
  std::string Value(const std::string& sql) { return FAdmin->Value(sql); }
  std::string T(const char* table) const { return "`" + FZone->Chr().toStdString() + "`." + table; }
  int Gifts() { return std::stoi(Value("SELECT COUNT(*) FROM " + T("t_gift"))); }
  // t_itemname with three items, as the game names them.
  void FillItems() {
    FAdmin->Exec("DROP TABLE IF EXISTS " + T("t_itemname"));
    FAdmin->Exec(
        "CREATE TABLE " + T("t_itemname") +
        " (itemNo INT NOT NULL AUTO_INCREMENT, itemName VARCHAR(40) NULL, itemDbidx VARCHAR(40) NULL, "
        "itemMemo VARCHAR(200) NULL, PRIMARY KEY (itemNo)) ENGINE=MyISAM");
    FAdmin->Exec("INSERT INTO " + T("t_itemname") + " (itemName,itemDbidx,itemMemo) VALUES (X'" +
                 Hex(QStringLiteral("青云剑")) + "','1','a'),(X'" + Hex(QStringLiteral("白露甲")) +
                 "','2','b'),(X'" + Hex(QStringLiteral("星河戒")) + "','3','c')");
  }
  // The message of a send that ended early, for the characters the server holds gifts of (their IDs
  // in send order, the last one named).
  QString Report(bool all, const std::string& ids) {
    const std::string last = ids.substr(ids.rfind(',') + 1);
    const QString name = DecodeFieldText(
        QByteArray::fromHex(
            QByteArray::fromStdString(Value("SELECT HEX(Name) FROM " + T("user") + " WHERE ID=" + last)))
            .toStdString(),
        TFieldCharset::Gbk);
    const int count = static_cast<int>(std::count(ids.begin(), ids.end(), ',')) + 1;
    return QStringLiteral("本次发放已为%1个角色写入礼物：").arg(count) +
           (all ? QStringLiteral("符合条件的角色按ID顺序直到ID %1（%2）为止（含）。")
                      .arg(QString::fromStdString(last), name)
                : QStringLiteral("名单中直到“%1”为止（含）的角色。").arg(name)) +
           QStringLiteral("\r\n重新发放前请去掉这些角色，否则他们会收到两份。");
  }
  QStringList Texts() const {
    QStringList texts;
    for (const auto& m : FUi->Messages()) texts << m.Args.Text;
    return texts;
  }

  QMap<QString, QString> FInfo;
  std::unique_ptr<TGameZone> FZone;
  std::unique_ptr<TAdminSession> FAdmin;
  std::unique_ptr<TMyLoginConnection> FLogin;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
};

void ItemsellDbTest::initTestCase() {
  FInfo = ServerInfo();
  FZone = std::make_unique<TGameZone>(FInfo, QStringLiteral("is_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(FZone->Load());
  FAdmin = std::make_unique<TAdminSession>(FInfo);
  FLogin = OpenLogin(FInfo, FZone->Chr().toStdString());
}

void ItemsellDbTest::init() {
  FUi = std::make_unique<TUiRecorder>();
  FUi->SetNow(EncodeDateTime(2026, 3, 10, 12, 30, 45, 0));
  FScope = std::make_unique<TUiServiceScope>(*FUi);
  FAdmin->Exec("DELETE FROM " + T("t_gift"));
}

void ItemsellDbTest::cleanup() {
  FScope.reset();
  FUi.reset();
}

void ItemsellDbTest::CreationGivesAMyIsamTable() {
  FAdmin->Exec("DROP TABLE IF EXISTS " + T("t_itemname"));
  auto w = Window();
  QCOMPARE(w->lbl1->text(), QStringLiteral("没有找到装备数据表t_itemname。"));
  QVERIFY(w->btn1->isVisibleTo(w.get()));
  QVERIFY(!w->btn2->isVisibleTo(w.get()));
  // The item list offers the creation, which asks once more.
  FUi->Answer(TMsgResult::Yes);
  FUi->Answer(TMsgResult::Yes);
  w->AddItems();
  QCOMPARE(Value("SELECT ENGINE FROM information_schema.tables WHERE table_schema='" +
                 FZone->Chr().toStdString() + "' AND table_name='t_itemname'"),
           std::string("MyISAM"));
  QCOMPARE(Texts(), QStringList({QStringLiteral("没有找到装备数据表：t_itemname，是否现在创建？"),
                                 QStringLiteral("将在角色数据库建立新的数据表，是否继续？"),
                                 QStringLiteral("t_itemname创建成功！接下来您可以进行数据导入了")}));
  QCOMPARE(FUi->Messages()[1].Args.Default, TMsgResult::No);
  QCOMPARE(w->lbl1->text(), QStringLiteral("装备数据表t_itemname连接正常。"));
  QVERIFY(w->btn2->isVisibleTo(w.get()));
}

void ItemsellDbTest::ImportReplacesTheListWholeOrNotAtAll() {
  FillItems();
  QTemporaryDir dir;
  const QString good = dir.filePath("items.csv");
  WriteAll(good, CsvLine("ID", "Name", "Memo") + "\r\n" + CsvLine("101", QStringLiteral("青云剑"), "x") +
                     "\r\n" + CsvLine("102", QStringLiteral("竹籠盾"), QStringLiteral("坚固")) + "\r\n" +
                     CsvLine("103", "it's", "o'k") + "\r\n");
  auto w = Window();
  FUi->Answer(TMsgResult::Yes);
  FUi->Choose(good);
  w->ImportItems();
  QCOMPARE(Texts().back(), QStringLiteral("操作全部完成！"));
  QCOMPARE(Value("SELECT COUNT(*) FROM " + T("t_itemname")), std::string("3"));
  // The header line counts among the lines the progress shows.
  QCOMPARE(w->stat1Panel0->text(), QStringLiteral("共有物品数4个，正在操作：it's"));
  QCOMPARE(w->stat1Panel1->text(), QStringLiteral("任务总完成：100%    "));
  QVERIFY(!w->pnl2->isVisibleTo(w.get()));
  // The name's bytes as the file holds them, a 0x5C trail byte included.
  QCOMPARE(Value("SELECT HEX(itemName) FROM " + T("t_itemname") + " WHERE itemDbidx='102'"),
           Hex(QStringLiteral("竹籠盾")));
  QCOMPARE(Value("SELECT itemMemo FROM " + T("t_itemname") + " WHERE itemDbidx='103'"), std::string("o'k"));
  QCOMPARE(Value("SELECT ENGINE FROM information_schema.tables WHERE table_schema='" +
                 FZone->Chr().toStdString() + "' AND table_name='t_itemname'"),
           std::string("MyISAM"));
  const std::string before = FAdmin->Checksum(T("t_itemname"));

  // A short third line: the old list stays whole, the line is named.
  const QString bad = dir.filePath("bad.csv");
  WriteAll(bad,
           CsvLine("1", "a", "b") + "\n" + CsvLine("2", "c", "d") + "\n3,e,f\n" + CsvLine("4", "g", "h"));
  FUi->ClearRecord();
  FUi->Answer(TMsgResult::Yes);
  FUi->Choose(bad);
  w->ImportItems();
  QVERIFY2(Texts().back().contains(QStringLiteral("第3行")), qPrintable(Texts().back()));
  QCOMPARE(FAdmin->Checksum(T("t_itemname")), before);
  QCOMPARE(Value("SELECT COUNT(*) FROM " + T("t_itemname")), std::string("3"));
  // A cancelled chooser and a no change nothing either.
  FUi->ClearRecord();
  FUi->Answer(TMsgResult::Yes);
  w->ImportItems();
  FUi->Answer(TMsgResult::No);
  w->ImportItems();
  QCOMPARE(Texts().at(1), QStringLiteral("打开文件失败！"));
  QCOMPARE(FAdmin->Checksum(T("t_itemname")), before);
  QVERIFY(!w->Busy());

  // A file an editor saved as UTF-8 with its mark: the header is no item, the names go in as GBK.
  const QString utf8 = dir.filePath("utf8.csv");
  auto utf8Line = [](const QString& number, const QString& name) {
    QString line = number + "," + name;
    for (int i = 2; i < 61; ++i) line += ",";
    return line.toUtf8();
  };
  WriteAll(utf8,
           "\xEF\xBB\xBF" + utf8Line("ID", "Name") + "\r\n" + utf8Line("201", QStringLiteral("竹籠盾")));
  FUi->ClearRecord();
  FUi->Answer(TMsgResult::Yes);
  FUi->Choose(utf8);
  w->ImportItems();
  QCOMPARE(Texts().back(), QStringLiteral("操作全部完成！"));
  QCOMPARE(Value("SELECT GROUP_CONCAT(CONCAT(itemDbidx, ':', HEX(itemName))) FROM " + T("t_itemname")),
           "201:" + Hex(QStringLiteral("竹籠盾")));
}

void ItemsellDbTest::ImportRefusesValuesTheTableCannotHold_data() {
  QTest::addColumn<int>("batch");
  QTest::addColumn<int>("line");  // the line holding the long description
  // The server cuts a value after a statement's first row with a warning only.
  QTest::newRow("second row of a statement") << 500 << 3;
  QTest::newRow("first row of a statement") << 1 << 3;
}

void ItemsellDbTest::ImportRefusesValuesTheTableCannotHold() {
  QFETCH(int, batch);
  QFETCH(int, line);
  FillItems();
  const std::string before = FAdmin->Checksum(T("t_itemname"));
  QTemporaryDir dir;
  const QString file = dir.filePath("items.csv");
  QByteArray bytes = CsvLine("ID", "Name", "Memo") + "\r\n";
  for (int i = 2; i <= 4; ++i)
    bytes += CsvLine(QString::number(100 + i), QStringLiteral("剑%1").arg(i),
                     i == line ? QString(101, QChar(0x575A)) : QStringLiteral("坚固")) +
             "\r\n";
  WriteAll(file, bytes);
  auto w = Window();
  w->Work().SetBatchSize(batch);
  FUi->Answer(TMsgResult::Yes);
  FUi->Choose(file);
  w->ImportItems();
  QVERIFY2(!Texts().contains(QStringLiteral("操作全部完成！")), qPrintable(Texts().join('|')));
  QCOMPARE(FUi->Messages().back().Args.Icon, TMsgIcon::Error);
  QCOMPARE(FAdmin->Checksum(T("t_itemname")), before);
  QCOMPARE(Value("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema='" +
                 FZone->Chr().toStdString() + "' AND table_name LIKE 't\\_itemname\\_%'"),
           std::string("0"));
}

void ItemsellDbTest::NamedSendWritesOneRowPerCharacter() {
  FillItems();
  // A deleted twin of 白露 gets nothing; 青云 listed twice gets one gift.
  FAdmin->Exec("INSERT INTO " + T("user") + " (ID,UniqueName,Name,deleted) VALUES (900,'twin',X'" +
               Hex(QStringLiteral("白露")) + "',1)");
  auto w = Window();
  w->Memo1->setPlainText(QStringLiteral("青云\n白露\n青云"));
  w->Memo2->setPlainText(QStringLiteral("青云剑,蓝色,+5,不绑定"));
  w->Send();
  FAdmin->Exec("DELETE FROM " + T("user") + " WHERE ID=900");
  QCOMPARE(Texts(), QStringList({QStringLiteral("所有操作已完成！\r\n操作角色 2个")}));
  QCOMPARE(
      Value("SELECT "
            "GROUP_CONCAT(charID,'|',level,'|',type,'|',attribute,'|',addTime,'|',limitTime,'|',HEX(msg) "
            "ORDER BY charID) FROM " +
            T("t_gift")),
      "1|0|1|ver=1;count=1;|id=1;color=2;lev=5;bind=0;||20260310123045|20260311000000|" +
          Hex(QStringLiteral("程序添加")) +
          ",2|0|1|ver=1;count=1;|id=1;color=2;lev=5;bind=0;||20260310123045|" + "20260311000000|" +
          Hex(QStringLiteral("程序添加")));
  QVERIFY(w->Button1->isEnabled());
}

void ItemsellDbTest::NamedSendTakesTheNamesAsListed_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("item");
  QTest::addColumn<QString>("gift");
  // The latin1 columns compare without case: the gift must still go to the character and item
  // picked, not to the first row spelled alike.
  QTest::newRow("upper-case twin") << "Bob"
                                   << "SWORD"
                                   << "902 ver=1;count=1;|id=8;color=0;lev=0;bind=1;|";
  QTest::newRow("lower-case twin") << "bob"
                                   << "Sword"
                                   << "901 ver=1;count=1;|id=7;color=0;lev=0;bind=1;|";
}

void ItemsellDbTest::NamedSendTakesTheNamesAsListed() {
  QFETCH(QString, name);
  QFETCH(QString, item);
  QFETCH(QString, gift);
  FillItems();
  FAdmin->Exec("INSERT INTO " + T("t_itemname") +
               " (itemName,itemDbidx,itemMemo) VALUES ('Sword','7','a'),"
               "('SWORD','8','b')");
  FAdmin->Exec("INSERT INTO " + T("user") +
               " (ID,UniqueName,Name) VALUES (901,'u901','bob'),(902,'u902','Bob')");
  auto w = Window();
  w->Memo1->setPlainText(name);
  w->Memo2->setPlainText(item + QStringLiteral(",白色,+0,绑定"));
  w->Send();
  FAdmin->Exec("DELETE FROM " + T("user") + " WHERE ID IN (901,902)");
  QCOMPARE(Texts(), QStringList({QStringLiteral("所有操作已完成！\r\n操作角色 1个")}));
  QCOMPARE(Value("SELECT GROUP_CONCAT(charID,' ',attribute) FROM " + T("t_gift")), gift.toStdString());
}

void ItemsellDbTest::StopAtTheThirdStepLeavesThreeRows_data() {
  QTest::addColumn<int>("batch");
  QTest::newRow("row by row") << 1;
  QTest::newRow("batches of 2") << 2;
  QTest::newRow("one batch") << 500;
}

void ItemsellDbTest::StopAtTheThirdStepLeavesThreeRows() {
  QFETCH(int, batch);
  auto w = Window();
  w->Work().SetBatchSize(batch);
  w->rb6->setChecked(true);
  w->rb2->setChecked(true);
  int steps = 0;
  FUi->OnProcessMessages([&] {
    ++steps;
    QVERIFY(w->Busy());
    QVERIFY(!w->Button1->isEnabled());
    QVERIFY(w->Button6->isVisibleTo(w.get()));
    QVERIFY(!w->close());
    if (steps == 3) {
      FUi->Answer(TMsgResult::Yes);
      w->Stop();
    }
  });
  w->Send();
  FUi->OnProcessMessages({});
  QCOMPARE(steps, 3);
  QCOMPARE(Gifts(), 3);
  QCOMPARE(
      Value("SELECT COUNT(DISTINCT charID) FROM " + T("t_gift") + " WHERE type=2 AND attribute='1000000'"),
      std::string("3"));
  QCOMPARE(Texts(), QStringList({QStringLiteral("确定要中止当前的发放吗？"), Report(true, "1,2,4")}));
  QVERIFY(w->Button1->isEnabled());
  QVERIFY(!w->Button6->isVisibleTo(w.get()));
  QVERIFY(!w->Busy());
}

void ItemsellDbTest::EndedSendNamesWhoGotTheirGift_data() {
  QTest::addColumn<bool>("all");
  QTest::addColumn<int>("batch");
  QTest::addColumn<int>("refused");  // the character whose row the server refuses
  QTest::addColumn<QString>("got");  // the characters the server then holds gifts of
  // Characters 1, 2, 4, 5 in ID order (3 is deleted). On the game's MyISAM table the rows of a
  // statement before the refused one stay.
  QTest::newRow("all, refused at a batch's first row") << true << 2 << 4 << "1,2";
  QTest::newRow("all, refused inside a batch") << true << 2 << 5 << "1,2,4";
  QTest::newRow("named, refused inside a batch") << false << 3 << 5 << "1,2";
}

void ItemsellDbTest::EndedSendNamesWhoGotTheirGift() {
  QFETCH(bool, all);
  QFETCH(int, batch);
  QFETCH(int, refused);
  QFETCH(QString, got);
  FAdmin->Exec("CREATE TRIGGER " + T("gift_refused") + " BEFORE INSERT ON " + T("t_gift") +
               " FOR EACH ROW BEGIN IF NEW.charID=" + std::to_string(refused) +
               " THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT='refused'; END IF; END");
  auto w = Window();
  w->Work().SetBatchSize(batch);
  w->rb2->setChecked(true);
  if (all)
    w->rb6->setChecked(true);
  else
    w->Memo1->setPlainText(QStringLiteral("青云\n白露\n竹籠"));
  w->Send();
  FAdmin->Exec("DROP TRIGGER " + T("gift_refused"));
  QCOMPARE(Value("SELECT GROUP_CONCAT(charID ORDER BY ID) FROM " + T("t_gift")), got.toStdString());
  const QStringList texts = Texts();
  QCOMPARE(texts.size(), 2);
  QVERIFY2(texts[0].startsWith(QStringLiteral("插入t_gift数据库失败！")), qPrintable(texts[0]));
  QCOMPARE(texts[1], Report(all, got.toStdString()));
}

// Two items each; the server refuses 白露's second: 青云 has both, 白露 one of two.
void ItemsellDbTest::CharacterWithSomeOfItsItemsIsNamed() {
  FillItems();
  FAdmin->Exec("CREATE TRIGGER " + T("gift_refused") + " BEFORE INSERT ON " + T("t_gift") +
               " FOR EACH ROW BEGIN IF NEW.charID=2 AND NEW.attribute LIKE '%|id=2;%' THEN SIGNAL SQLSTATE "
               "'45000' SET MESSAGE_TEXT='refused'; END IF; END");
  auto w = Window();
  w->Work().SetBatchSize(2);
  w->Memo1->setPlainText(QStringLiteral("青云\n白露"));
  w->Memo2->setPlainText(QStringLiteral("青云剑,白色,+0,绑定\n白露甲,白色,+0,绑定"));
  w->Send();
  FAdmin->Exec("DROP TRIGGER " + T("gift_refused"));
  QCOMPARE(Value("SELECT GROUP_CONCAT(charID ORDER BY ID) FROM " + T("t_gift")), std::string("1,1,2"));
  const QStringList texts = Texts();
  QCOMPARE(texts.size(), 2);
  QCOMPARE(texts[1], Report(false, "1,2") + QStringLiteral("\r\n其中“白露”只写入了2份礼物中的1份。"));
}

// The connection ends before a batch is written: the statement fails, is not sent again, and the
// server, asked on a new connection, tells that none of the batch's characters got their gift.
void ItemsellDbTest::LostConnectionIsAskedAgain() {
  const std::string id = QueryValue(FLogin->Provider(), "SELECT CONNECTION_ID()");
  {
    auto w = Window();
    w->Work().SetBatchSize(2);
    w->rb6->setChecked(true);
    w->rb2->setChecked(true);
    int steps = 0;
    FUi->OnProcessMessages([&] {
      if (++steps == 3) FAdmin->Exec("KILL " + id);
    });
    w->Send();
    FUi->OnProcessMessages({});
  }
  FLogin = OpenLogin(FInfo, FZone->Chr().toStdString());
  QCOMPARE(Value("SELECT GROUP_CONCAT(charID ORDER BY ID) FROM " + T("t_gift")), std::string("1,2"));
  const QStringList texts = Texts();
  QCOMPARE(texts.size(), 2);
  QVERIFY2(texts[0].startsWith(QStringLiteral("插入t_gift数据库失败！")), qPrintable(texts[0]));
  QCOMPARE(texts[1], Report(true, "1,2"));
}

void ItemsellDbTest::FiltersChooseTheCharacters_data() {
  QTest::addColumn<int>("filter");
  QTest::addColumn<QString>("value");
  QTest::addColumn<QString>("condition");
  QTest::newRow("all not deleted") << 0 << ""
                                   << "deleted<>1";
  QTest::newRow("level below, deleted too") << 1 << "30"
                                            << "level<30";
  QTest::newRow("credit above") << 4 << "2500"
                                << "Credit>2500";
  QTest::newRow("faction") << 5 << "1"
                           << "Faction=1";
  QTest::newRow("own condition") << 6 << "  Where ID<8 and Name<>'x'  "
                                 << "ID<8";
}

void ItemsellDbTest::FiltersChooseTheCharacters() {
  QFETCH(int, filter);
  QFETCH(QString, value);
  QFETCH(QString, condition);
  const int expected =
      std::stoi(Value("SELECT COUNT(*) FROM " + T("user") + " WHERE " + condition.toStdString()));
  QVERIFY(expected > 0);
  auto w = Window();
  w->rb6->setChecked(true);
  w->rb4->setChecked(true);
  w->cbb1->setCurrentIndex(filter);
  w->edt3->setText(value);
  // The same filter twice: the second send finds the same characters.
  w->Send();
  w->Send();
  const QString done = QStringLiteral("所有操作已完成！\r\n操作角色 %1个").arg(expected);
  QCOMPARE(Texts(), QStringList({done, done}));
  QCOMPARE(Gifts(), 2 * expected);
  QCOMPARE(
      Value("SELECT COUNT(*) FROM " + T("t_gift") + " g JOIN " + T("user") + " u ON u.ID=g.charID WHERE u." +
            condition.toStdString() + " AND g.type=4 AND g.attribute='200'"),
      std::to_string(2 * expected));
}

// The send goes in the order of the IDs; a typed condition that sorts and limits by itself still
// chooses the characters it chose.
void ItemsellDbTest::OwnConditionWithItsOwnOrderAndLimit() {
  auto w = Window();
  w->rb6->setChecked(true);
  w->rb4->setChecked(true);
  w->cbb1->setCurrentIndex(6);
  w->edt3->setText(QStringLiteral("where deleted<>1 order by ID desc limit 2 -- the newest"));
  w->Send();
  QCOMPARE(Texts(), QStringList({QStringLiteral("所有操作已完成！\r\n操作角色 2个")}));
  QCOMPARE(Value("SELECT GROUP_CONCAT(charID ORDER BY ID) FROM " + T("t_gift")),
           Value("SELECT GROUP_CONCAT(ID ORDER BY ID) FROM (SELECT ID FROM " + T("user") +
                 " WHERE deleted<>1 ORDER BY ID DESC LIMIT 2) AS n"));
}

void ItemsellDbTest::RefusedSendWritesNothing_data() {
  QTest::addColumn<int>("kind");  // 1 item .. 4 credit
  QTest::addColumn<int>("filter");
  QTest::addColumn<QString>("value");
  QTest::addColumn<QString>("expiry");
  QTest::addColumn<QString>("message");
  const QString tomorrow = QStringLiteral("2026-03-11 00:00:00");
  QTest::newRow("expiry later today")
      << 2 << -1 << ""
      << "2026-03-10 23:59:59" << QStringLiteral("过期时间不能等于或小于今天！！！");
  QTest::newRow("no item") << 1 << -1 << "" << tomorrow
                           << QStringLiteral("物品发放模式，物品栏内没有物品，请添加！");
  QTest::newRow("no gold") << 2 << -1 << "" << tomorrow << QStringLiteral("金币发放模式，金币值不能为空！");
  QTest::newRow("no level") << 4 << 1 << "" << tomorrow << QStringLiteral("等级小于...,条件数值不能为空！");
  QTest::newRow("faction 2") << 4 << 5 << "2" << tomorrow
                             << QStringLiteral("角色国家...,条件数值只能为0或者1！");
  QTest::newRow("no one found") << 4 << 6 << "where ID<0" << tomorrow
                                << QStringLiteral("没有查询到符合条件的角色，无法继续！");
  QTest::newRow("unknown name, no") << 4 << -1 << QStringLiteral("无此人") << tomorrow
                                    << QStringLiteral("角色 无此人不存在，是否继续？");
  // The character went as "?": another name or condition than the one typed.
  const QString unheld = QStringLiteral("输入的内容含有当前字符集无法保存的字符 U+1F600，请修改后再试！");
  QTest::newRow("name the set cannot hold")
      << 4 << -1 << QStringLiteral("青云\U0001F600") << tomorrow << unheld;
  QTest::newRow("own condition the set cannot hold")
      << 4 << 6 << QStringLiteral("where Name='\U0001F600'") << tomorrow << unheld;
}

void ItemsellDbTest::RefusedSendWritesNothing() {
  QFETCH(int, kind);
  QFETCH(int, filter);
  QFETCH(QString, value);
  QFETCH(QString, expiry);
  QFETCH(QString, message);
  auto w = Window();
  QRadioButton* kinds[] = {w->rb1, w->rb2, w->rb3, w->rb4};
  kinds[kind - 1]->setChecked(true);
  w->edt1->clear();
  w->edt4->clear();
  if (filter >= 0) {
    w->rb6->setChecked(true);
    w->cbb1->setCurrentIndex(filter);
    w->edt3->setText(value);
  } else {
    w->Memo1->setPlainText(value.isEmpty() ? QStringLiteral("青云") : value);
  }
  w->dtp1->setDateTime(QDateTime::fromString(expiry, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
  FUi->Answer(TMsgResult::No);
  w->Send();
  QCOMPARE(Texts(), QStringList({message}));
  QCOMPARE(Gifts(), 0);
  QVERIFY(w->Button1->isEnabled());
  QVERIFY(!w->Button6->isVisibleTo(w.get()));
}

void ItemsellDbTest::PastedTextOutsideTheKeyRulesIsRefused_data() {
  QTest::addColumn<QString>("amount");
  QTest::addColumn<int>("filter");  // -1: the named character 青云
  QTest::addColumn<QString>("value");
  QTest::newRow("amount with commas") << "1,000" << -1 << "";
  QTest::newRow("amount with a blank") << "200 " << -1 << "";
  QTest::newRow("level bound with a letter") << "200" << 1 << "3O";
  QTest::newRow("credit bound negative") << "200" << 4 << "-1";
}

void ItemsellDbTest::PastedTextOutsideTheKeyRulesIsRefused() {
  QFETCH(QString, amount);
  QFETCH(int, filter);
  QFETCH(QString, value);
  auto w = Window();
  w->rb4->setChecked(true);
  w->edt2->setText(amount);
  if (filter >= 0) {
    w->rb6->setChecked(true);
    w->cbb1->setCurrentIndex(filter);
    w->edt3->setText(value);
  } else {
    w->Memo1->setPlainText(QStringLiteral("青云"));
  }
  w->Send();
  QCOMPARE(Texts(), QStringList({QStringLiteral("只能输入0-9的数字！")}));
  QCOMPARE(Gifts(), 0);
  QVERIFY(w->Button1->isEnabled());
}

void ItemsellDbTest::AmountsStayWithinTheGameColumns_data() {
  QTest::addColumn<int>("kind");  // 2 gold, 3 experience, 4 credit
  QTest::addColumn<QString>("amount");
  QTest::addColumn<QString>("creditType");  // the Credit column's type for the row; empty: INT
  QTest::addColumn<QString>("refusal");     // empty: written
  const QString intRange = QStringLiteral("值超出游戏能保存的范围（0-2147483647）！");
  QTest::newRow("gold of twenty digits") << 2 << "99999999999999999999"
                                         << "" << QStringLiteral("金币") + intRange;
  QTest::newRow("gold one past INT") << 2 << "2147483648"
                                     << "" << QStringLiteral("金币") + intRange;
  QTest::newRow("gold at INT's top") << 2 << "2147483647"
                                     << ""
                                     << "";
  QTest::newRow("experience at BIGINT's top") << 3 << "9223372036854775807"
                                              << ""
                                              << "";
  QTest::newRow("experience one past BIGINT")
      << 3 << "9223372036854775808"
      << "" << QStringLiteral("经验值超出游戏能保存的范围（0-9223372036854775807）！");
  QTest::newRow("credit one past INT") << 4 << "2147483648"
                                       << "" << QStringLiteral("声望") + intRange;
  QTest::newRow("credit past a SMALLINT column")
      << 4 << "32768"
      << "SMALLINT" << QStringLiteral("声望值超出游戏能保存的范围（0-32767）！");
}

// An amount the character's column cannot hold is refused before anything is written; one it
// holds is written as typed.
void ItemsellDbTest::AmountsStayWithinTheGameColumns() {
  QFETCH(int, kind);
  QFETCH(QString, amount);
  QFETCH(QString, creditType);
  QFETCH(QString, refusal);
  if (!creditType.isEmpty())
    FAdmin->Exec("ALTER TABLE " + T("user") + " MODIFY Credit " + creditType.toStdString() +
                 " NOT NULL DEFAULT 0");
  auto w = Window();
  QRadioButton* kinds[] = {w->rb2, w->rb3, w->rb4};
  QLineEdit* amounts[] = {w->edt1, w->edt4, w->edt2};
  kinds[kind - 2]->setChecked(true);
  amounts[kind - 2]->setText(amount);
  w->Memo1->setPlainText(QStringLiteral("青云"));
  w->Send();
  if (!creditType.isEmpty())
    FAdmin->Exec("ALTER TABLE " + T("user") + " MODIFY Credit INT NOT NULL DEFAULT 0");
  if (refusal.isEmpty()) {
    QCOMPARE(Texts(), QStringList({QStringLiteral("所有操作已完成！\r\n操作角色 1个")}));
    QCOMPARE(Value("SELECT GROUP_CONCAT(charID,'|',type,'|',attribute) FROM " + T("t_gift")),
             "1|" + std::to_string(kind) + "|" + amount.toStdString());
  } else {
    QCOMPARE(Texts(), QStringList({refusal}));
    QCOMPARE(Gifts(), 0);
  }
  QVERIFY(w->Button1->isEnabled());
}

// A server whose sql_mode is not strict cuts a value too long for its column with a warning: the
// send says so and names who got the cut gift.
void ItemsellDbTest::ValueTheServerCutIsReported() {
  FAdmin->Exec("ALTER TABLE " + T("t_gift") + " MODIFY attribute VARCHAR(5) NOT NULL");
  const std::string mode = QueryValue(FLogin->Provider(), "SELECT @@SESSION.sql_mode");
  FLogin->Provider().ExecSQL("SET SESSION sql_mode=''");
  auto w = Window();
  w->rb2->setChecked(true);
  w->edt1->setText(QStringLiteral("1000000"));
  w->Memo1->setPlainText(QStringLiteral("青云\n白露"));
  w->Send();
  FLogin->Provider().ExecSQL("SET SESSION sql_mode='" + mode + "'");
  const std::string stored =
      Value("SELECT GROUP_CONCAT(charID,'|',attribute ORDER BY charID) FROM " + T("t_gift"));
  FAdmin->Exec("ALTER TABLE " + T("t_gift") + " MODIFY attribute VARCHAR(255) NOT NULL");
  QCOMPARE(stored, std::string("1|10000,2|10000"));
  const QStringList texts = Texts();
  QCOMPARE(texts.size(), 2);
  QVERIFY2(texts[0].startsWith(QStringLiteral("插入t_gift数据库时服务器截断了写入的值")),
           qPrintable(texts[0]));
  QCOMPARE(texts[1], Report(false, "1,2"));
  QVERIFY(w->Button1->isEnabled());
}

void ItemsellDbTest::DeleteKeyDeletesInTheAmountEdits() {
  auto w = Window();
  w->rb6->setChecked(true);
  w->cbb1->setCurrentIndex(1);
  const std::pair<QRadioButton*, QLineEdit*> edits[] = {
      {w->rb2, w->edt1}, {w->rb3, w->edt4}, {w->rb4, w->edt2}, {w->rb4, w->edt3}};
  for (const auto& [kind, edit] : edits) {
    kind->setChecked(true);
    edit->setText(QStringLiteral("250"));
    edit->setCursorPosition(1);
    // The event the Delete key gives carries the character 0x7F.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
    QCoreApplication::sendEvent(edit, &press);
    QCOMPARE(edit->text(), QStringLiteral("20"));
  }
  QCOMPARE(Texts(), QStringList());
}

void ItemsellDbTest::NamesAndItemsReadAsListedInEitherBackslashMode_data() {
  QTest::addColumn<bool>("noBackslashEscapes");
  QTest::newRow("backslash escapes") << false;
  QTest::newRow("NO_BACKSLASH_ESCAPES") << true;
}

// The characters and the item named get the gift, whichever way the session reads backslashes;
// a name that would end its literal early and choose every character gets nothing.
void ItemsellDbTest::NamesAndItemsReadAsListedInEitherBackslashMode() {
  QFETCH(bool, noBackslashEscapes);
  FillItems();
  // a\'b, a\b, ab, c\ beside the zone's 竹籠 (its last byte 0x5C), and an item it\'s.
  const std::string odd = Hex(QStringLiteral("竹籠"));
  FAdmin->Exec("INSERT INTO " + T("user") +
               " (ID,UniqueName,Name) VALUES (920,'u920',UNHEX('615C2762')),(921,'u921',UNHEX('615C62')),"
               "(922,'u922','ab'),(923,'u923',UNHEX('635C'))");
  FAdmin->Exec("INSERT INTO " + T("t_itemname") +
               " (itemName,itemDbidx,itemMemo) VALUES (UNHEX('69745C2773'),'9','')");
  {
    TBackslashMode mode(FLogin->MyConnection(), noBackslashEscapes);
    auto w = Window();
    w->Memo1->setPlainText(QStringLiteral("a\\'b\nx\\' OR 1=1 -- \na\\b\nc\\\n竹籠"));
    w->Memo2->setPlainText(QStringLiteral("it\\'s,白色,+0,绑定"));
    FUi->Answer(TMsgResult::Yes);  // go on past the name no character has
    w->Send();
  }
  const std::string gifted =
      Value("SELECT GROUP_CONCAT(HEX(u.Name),' ',g.attribute ORDER BY HEX(u.Name)) FROM " + T("t_gift") +
            " g JOIN " + T("user") + " u ON u.ID=g.charID");
  FAdmin->Exec("DELETE FROM " + T("user") + " WHERE ID BETWEEN 920 AND 923");
  const std::string item = " ver=1;count=1;|id=9;color=0;lev=0;bind=1;|";
  QCOMPARE(QString::fromStdString(gifted),
           QString::fromStdString("615C2762" + item + ",615C62" + item + ",635C" + item + "," + odd + item));
  QCOMPARE(Texts(), QStringList({QStringLiteral("角色 x\\' OR 1=1 --不存在，是否继续？"),
                                 QStringLiteral("所有操作已完成！\r\n操作角色 5个")}));
}

void ItemsellDbTest::ImportKeepsTheBytesInEitherBackslashMode_data() {
  QTest::addColumn<bool>("noBackslashEscapes");
  QTest::newRow("backslash escapes") << false;
  QTest::newRow("NO_BACKSLASH_ESCAPES") << true;
}

// The list's names, numbers and descriptions are stored as the file holds them.
void ItemsellDbTest::ImportKeepsTheBytesInEitherBackslashMode() {
  QFETCH(bool, noBackslashEscapes);
  FillItems();
  QTemporaryDir dir;
  const QString file = dir.filePath("items.csv");
  WriteAll(file, CsvLine("ID", "Name", "Memo") + "\r\n" + CsvLine("7\\", QStringLiteral("it\\'s"), "C:\\") +
                     "\r\n" + CsvLine("8", QStringLiteral("竹籠盾"), "'\\'") + "\r\n");
  {
    TBackslashMode mode(FLogin->MyConnection(), noBackslashEscapes);
    auto w = Window();
    FUi->Answer(TMsgResult::Yes);
    FUi->Choose(file);
    w->ImportItems();
  }
  QCOMPARE(Texts().back(), QStringLiteral("操作全部完成！"));
  QCOMPARE(
      Value("SELECT GROUP_CONCAT(HEX(itemDbidx),' ',HEX(itemName),' ',HEX(itemMemo) ORDER BY itemNo) FROM " +
            T("t_itemname")),
      "375C 69745C2773 433A5C,38 " + Hex(QStringLiteral("竹籠盾")) + " 275C27");
}

void ItemsellDbTest::ClearingTakesOwnOrAllGifts() {
  FAdmin->Exec("INSERT INTO " + T("t_gift") +
               " (charID,type,attribute,addTime,limitTime,msg) VALUES (1,2,'5','x','y','quest')");
  auto w = Window();
  w->Memo1->setPlainText(QStringLiteral("青云\n白露"));
  w->rb3->setChecked(true);
  w->Send();
  QCOMPARE(Gifts(), 3);
  FUi->ClearRecord();
  FUi->Answer(TMsgResult::No);
  w->ClearGifts(true);
  QCOMPARE(Gifts(), 3);
  QCOMPARE(FUi->Messages()[0].Args.Default, TMsgResult::No);
  FUi->Answer(TMsgResult::Yes);
  w->ClearGifts(true);
  QCOMPARE(Value("SELECT GROUP_CONCAT(msg) FROM " + T("t_gift")), std::string("quest"));
  FUi->Answer(TMsgResult::Yes);
  w->ClearGifts(false);
  QCOMPARE(Gifts(), 0);
  QCOMPARE(Texts().back(), QStringLiteral("清除程序添加的道具完成！"));
}

void ItemsellDbTest::CharacterPickerSearchesAndStopsAtTen() {
  QPlainTextEdit memo;
  Titemsellacc picker(FLogin->MyConnection(), TFieldCharset::Gbk, memo);
  QCOMPARE(picker.lbl3->text(), QStringLiteral("角色数: 20 / 40"));
  QCOMPARE(picker.qry1().RecordCount(), 20);
  struct {
    const char* text;
    bool fuzzy;
    int rows;
  } const searches[] = {{"竹籠", false, 1}, {"x' OR '1'='1", true, 0}, {"%", false, 0}, {"青", false, 0}};
  for (const auto& s : searches) {
    picker.edt1->setText(QString::fromUtf8(s.text));
    picker.chk1->setChecked(s.fuzzy);
    picker.Search();
    QCOMPARE(picker.qry1().RecordCount(), s.rows);
    QCOMPARE(picker.lbl3->text(), QStringLiteral("角色数: %1 / 40").arg(s.rows));
  }
  // Fuzzy: every name holding the bytes of 云, as the server finds them.
  picker.edt1->setText(QStringLiteral("云"));
  picker.chk1->setChecked(true);
  picker.Search();
  QCOMPARE(std::to_string(picker.qry1().RecordCount()),
           Value("SELECT COUNT(*) FROM " + T("user") + " WHERE INSTR(CAST(Name AS BINARY), X'" +
                 Hex(QStringLiteral("云")) + "')>0"));
  QVERIFY(FUi->Messages().empty());
  picker.edt1->setText(QStringLiteral("请输入角色名"));
  picker.Search();
  QCOMPARE(Texts(), QStringList({QStringLiteral("查询条件不能为空！")}));
  // The character went as "?" and the list showed the names holding a "?" instead.
  picker.edt1->setText(QStringLiteral("青\U0001F600"));
  picker.Search();
  QCOMPARE(Texts().size(), 2);
  QVERIFY2(Texts()[1].contains(QStringLiteral("U+1F600")), qPrintable(Texts()[1]));
  QCOMPARE(picker.edt1->text(), QStringLiteral("青\U0001F600"));
  picker.ShowAll();
  QCOMPARE(picker.lbl3->text(), QStringLiteral("角色数: 40 / 40"));

  QVERIFY(picker.qry1().Locate("ID", Variant(1), {}));
  for (int i = 0; i < 10; ++i) picker.PickRow();
  QCOMPARE(MemoLines(memo).size(), 10);
  QCOMPARE(MemoLines(memo).front(), QStringLiteral("青云"));
  QCOMPARE(picker.stat1->text(), QStringLiteral("添加 青云 成功！"));
  FUi->ClearRecord();
  picker.PickRow();
  QCOMPARE(MemoLines(memo).size(), 10);
  QCOMPARE(Texts(), QStringList({QStringLiteral("最多只能添加10个角色名！")}));
  QCOMPARE(picker.stat1->text(), QStringLiteral("添加 青云 失败！"));
}

void ItemsellDbTest::ItemPickerAddsThroughTheOptionsDialog() {
  FillItems();
  auto w = Window();
  FUi->OnDialog([&](QDialog& dialog) {
    auto* picker = qobject_cast<Titemsellitem*>(&dialog);
    if (picker == nullptr) return int(QDialog::Rejected);
    [&] { QCOMPARE(picker->lbl3->text(), QStringLiteral("装备数: 3 / 3")); }();
    picker->edt1->setText(QStringLiteral("星河戒"));
    picker->chk1->setChecked(false);
    picker->Search();
    picker->PickRow();
    [&] { QCOMPARE(picker->stat1->text(), QStringLiteral("添加 星河戒 成功！")); }();
    return int(QDialog::Accepted);
  });
  FUi->OnDialog([](QDialog& dialog) {
    auto* options = qobject_cast<Titemsellitemadd*>(&dialog);
    if (options == nullptr) return int(QDialog::Rejected);
    options->cbb1->setCurrentIndex(3);
    options->cbb2->setCurrentIndex(10);
    options->Confirm();
    return int(QDialog::Accepted);
  });
  w->AddItems();
  QCOMPARE(FUi->Dialogs(), QStringList({QStringLiteral("物品发放—添加物品"), QStringLiteral("颜色和等级")}));
  QCOMPARE(MemoLines(*w->Memo2), QStringList({QStringLiteral("星河戒,金色,+10,绑定")}));
  w->Memo1->setPlainText(QStringLiteral("竹籠"));
  w->Send();
  QCOMPARE(Value("SELECT CONCAT(charID,' ',attribute) FROM " + T("t_gift")),
           std::string("5 ver=1;count=1;|id=3;color=3;lev=10;bind=1;|"));
}

void ItemsellDbTest::MenuOpensOneWindow() {
  FillItems();
  QTemporaryDir dir;
  FZone->WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenItemSell();
  frame.OpenItemSell();
  QCOMPARE(frame.MdiArea()->subWindowList().size(), 1);
  auto* w = qobject_cast<Titemsell*>(frame.MdiArea()->subWindowList()[0]->widget());
  QVERIFY(w != nullptr);
  QCOMPARE(w->stat1Panel0->text(), QStringLiteral("发放完毕后玩家需要去道具管理员处领取！"));
  QCOMPARE(w->lbl1->text(), QStringLiteral("装备数据表t_itemname连接正常。"));
  w->Memo1->setPlainText(QStringLiteral("青云\n白露\n竹籠"));
  w->Memo2->setPlainText(QStringLiteral("青云剑,蓝色,+5,不绑定\n星河戒,金色,+10,绑定"));
  QVERIFY(QTest::qWaitForWindowExposed(&frame));
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty())
    QVERIFY(frame.grab().save(QDir(shots).filePath("item-issuing.png")));
}

// The window opened and every send failed after the names and items were typed.
void ItemsellDbTest::MenuRefusesAZoneWithoutTheGiftTable() {
  QTemporaryDir dir;
  FZone->WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  FAdmin->Exec("RENAME TABLE " + T("t_gift") + " TO " + T("t_gift_away"));
  frame.OpenItemSell();
  FAdmin->Exec("RENAME TABLE " + T("t_gift_away") + " TO " + T("t_gift"));
  QVERIFY(frame.MdiArea()->subWindowList().isEmpty());
  QCOMPARE(Texts(), QStringList({QStringLiteral("数据表：t_gift,没有找到！")}));
}

void ItemsellDbTest::MenuAfterALoginToAnotherZoneSendsThere() {
  TGameZone other(FInfo, QStringLiteral("is2_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(other.Load());
  QTemporaryDir dir;
  const QString ini = dir.filePath("DB.ini");
  FZone->WriteIni(ini);
  TFormMain frame(&MakeMyLoginConnection, ini);
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenItemSell();
  auto window = [&frame] {
    const auto children = frame.MdiArea()->subWindowList();
    return children.size() == 1 ? qobject_cast<Titemsell*>(children[0]->widget()) : nullptr;
  };
  QPointer<Titemsell> first = window();
  QVERIFY(first);
  // A login again to the same zone keeps the window; one to another zone gives that zone's.
  frame.Relogin();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenItemSell();
  QCOMPARE(window(), first.data());
  other.WriteIni(ini);
  frame.Relogin();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenItemSell();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QVERIFY(!first);
  Titemsell* w = window();
  QVERIFY(w != nullptr);
  w->dtp1->setDateTime(QDateTime(QDate(2026, 3, 11), QTime(0, 0, 0)));
  w->rb3->setChecked(true);
  w->Memo1->setPlainText(QStringLiteral("青云"));
  w->Send();
  QCOMPARE(Texts().back(), QStringLiteral("所有操作已完成！\r\n操作角色 1个"));
  QCOMPARE(Gifts(), 0);
  QCOMPARE(FAdmin->Value("SELECT COUNT(*) FROM `" + other.Chr().toStdString() + "`.t_gift"),
           std::string("1"));
}

// A login to another zone while a send runs: the window, busy, refuses to close and says in its
// caption which zone it sends to until it closes; the menu then gives the new zone's window.
void ItemsellDbTest::SendBusyAtALoginElsewhereNamesItsZone() {
  TGameZone other(FInfo, QStringLiteral("is3_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(other.Load());
  QTemporaryDir dir;
  const QString ini = dir.filePath("DB.ini");
  FZone->WriteIni(ini);
  TFormMain frame(&MakeMyLoginConnection, ini);
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenItemSell();
  QPointer<Titemsell> w = frame.findChild<Titemsell*>();
  QVERIFY(w);
  QMdiSubWindow* child = frame.MdiArea()->subWindowList().at(0);
  w->Work().SetBatchSize(1);
  w->dtp1->setDateTime(QDateTime(QDate(2026, 3, 11), QTime(0, 0, 0)));
  w->rb6->setChecked(true);
  w->rb2->setChecked(true);
  const QString zone =
      FInfo["HOST"] + ":" + FInfo["PORT"] + " " + FZone->Acc() + "," + FZone->Chr() + "," + FZone->Log();
  bool relogged = false;
  QString caption;
  FUi->OnProcessMessages([&] {
    if (relogged) return;
    relogged = true;
    other.WriteIni(ini);
    frame.Relogin();
    QVERIFY(frame.Login()->ConnectAll());
    caption = child->windowTitle();
  });
  w->Send();
  FUi->OnProcessMessages({});
  QVERIFY(relogged);
  QCOMPARE(caption, QStringLiteral("物品发放  [") + zone + "]");
  QVERIFY(w);
  QCOMPARE(child->windowTitle(), caption);
  QVERIFY(frame.StatusText().contains(other.Chr()));
  // The whole send went to the zone it began on.
  QVERIFY(Gifts() > 1);
  QCOMPARE(FAdmin->Value("SELECT COUNT(*) FROM `" + other.Chr().toStdString() + "`.t_gift"),
           std::string("0"));
  // Once the send has ended the window closes: its buttons would send on the earlier zone.
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QVERIFY(!w);
  QVERIFY(frame.MdiArea()->subWindowList().isEmpty());
  frame.OpenItemSell();
  QCOMPARE(frame.MdiArea()->subWindowList().size(), 1);
  QCOMPARE(frame.MdiArea()->subWindowList().at(0)->windowTitle(), QStringLiteral("物品发放"));
}

QTEST_MAIN(ItemsellDbTest)
#include "Itemsell_dbtest.moc"
