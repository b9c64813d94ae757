// The item-issuing window's widget-free rules: splitting an items.csv line, reading the whole
// file before anything is written, the gift's attribute text, the progress percentage and the
// keys the amount and filter edits take.
#include "console/items/ItemSell.h"

#include <QtTest>

#include "console/common/ProgressPercent.h"

Q_DECLARE_METATYPE(TKeyRule)

class ItemSellTest : public QObject {
  Q_OBJECT

 private slots:
  void SplitByCommaKeepsEveryField_data();
  void SplitByCommaKeepsEveryField();
  void ItemFileIsCheckedWhole_data();
  void ItemFileIsCheckedWhole();
  void AttributeOfAnItemLine_data();
  void AttributeOfAnItemLine();
  void ProgressRoundsTiesToEven();
  void KeysOfAmountAndFilterEdits_data();
  void KeysOfAmountAndFilterEdits();
};

namespace {

// An items.csv line: number, name, 58 more fields, the description.
std::string ItemLine(const std::string& number, const std::string& name, const std::string& memo) {
  std::string line = number + "," + name;
  for (int i = 2; i < 60; ++i) line += ",";
  return line + "," + memo;
}

}  // namespace

void ItemSellTest::SplitByCommaKeepsEveryField_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QStringList>("fields");
  QTest::newRow("blanks trimmed") << "a, b ,c" << QStringList{"a", "b", "c"};
  QTest::newRow("empty fields kept") << "a,," << QStringList{"a", "", ""};
  QTest::newRow("no comma") << "" << QStringList{""};
  QTest::newRow("quotes mean nothing") << "\"x,y\",z" << QStringList{"\"x", "y\"", "z"};
  QTest::newRow("tabs trimmed too") << "\tq\t,r" << QStringList{"q", "r"};
}

void ItemSellTest::SplitByCommaKeepsEveryField() {
  QFETCH(QString, line);
  QFETCH(QStringList, fields);
  QStringList got;
  for (const std::string& f : SplitByComma(line.toStdString())) got << QString::fromStdString(f);
  QCOMPARE(got, fields);
}

void ItemSellTest::ItemFileIsCheckedWhole_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<int>("rows");
  QTest::addColumn<int>("lines");
  QTest::addColumn<QString>("problem");  // a part of it
  QTest::addColumn<QByteArray>("name");  // the last row's, as stored (GBK)
  const std::string header = ItemLine("ID", "Name", "Memo");
  const std::string a = ItemLine("1", "sword", "sharp"), b = ItemLine("2", "shield", "round");
  const std::string bom = "\xEF\xBB\xBF";
  const std::string gbkName = "\xC7\xE0\xD4\xC6\xBD\xA3";  // 青云剑
  QTest::newRow("GBK names as they are")
      << QByteArray::fromStdString(a + "\n" + ItemLine("2", gbkName, "round")) << 2 << 2 << QString()
      << QByteArray::fromStdString(gbkName);
  QTest::newRow("UTF-8 marked: the header known, names stored as GBK")
      << QByteArray::fromStdString(bom + header + "\r\n" + a + "\r\n" + ItemLine("2", "青云剑", "round")) << 2
      << 3 << QString() << QByteArray::fromStdString(gbkName);
  QTest::newRow("UTF-8 marked, a name GBK has not")
      << QByteArray::fromStdString(bom + header + "\n" + a + "\n" + ItemLine("2", "剑\xF0\x9F\x98\x80", "x"))
      << 0 << 3 << QStringLiteral("第3行含有GBK无法保存的字符 U+1F600") << QByteArray();
  QTest::newRow("UTF-8 marked, a line that is no UTF-8")
      << QByteArray::fromStdString(bom + a + "\n" + ItemLine("2", gbkName, "round")) << 0 << 2
      << QStringLiteral("第2行不是有效的UTF-8文本") << QByteArray();
  QTest::newRow("unmarked, a line that is no GBK")
      << QByteArray::fromStdString(a + "\n" + b + "\n" + ItemLine("3", "\xFF\xFE", "x")) << 0 << 3
      << QStringLiteral("第3行不是GBK编码的文本") << QByteArray();
  QTest::newRow("header and two items, CR LF")
      << QByteArray::fromStdString(header + "\r\n" + a + "\r\n" + b + "\r\n") << 2 << 3 << QString()
      << QByteArray("shield");
  QTest::newRow("blank lines skipped, last line unended")
      << QByteArray::fromStdString(a + "\n\n  \n" + b) << 2 << 4 << QString() << QByteArray("shield");
  QTest::newRow("short line named by its number")
      << QByteArray::fromStdString(header + "\n" + a + "\n3,axe,,\n" + b) << 0 << 4
      << QStringLiteral("第3行只有4个字段") << QByteArray();
  QTest::newRow("header only") << QByteArray::fromStdString(header + "\n") << 0 << 1
                               << QStringLiteral("文件中没有物品数据") << QByteArray();
  QTest::newRow("empty file") << QByteArray() << 0 << 0 << QStringLiteral("文件中没有物品数据")
                              << QByteArray();
}

void ItemSellTest::ItemFileIsCheckedWhole() {
  QFETCH(QByteArray, bytes);
  QFETCH(int, rows);
  QFETCH(QString, problem);
  QFETCH(QByteArray, name);
  const TItemFile file = ReadItemFile(bytes.toStdString());
  QCOMPARE(static_cast<int>(file.Rows.size()), rows);
  QTEST(file.LineCount, "lines");
  const QString text = file.Problem == TItemFileProblem::None ? QString() : ItemFileProblemText(file);
  if (problem.isEmpty()) {
    QVERIFY(text.isEmpty());
    QCOMPARE(file.Rows.back().Number, std::string("2"));
    QCOMPARE(file.Rows.back().Name, name.toStdString());
    QCOMPARE(file.Rows.back().Memo, std::string("round"));
  } else {
    QVERIFY2(text.contains(problem), qPrintable(text));
  }
}

void ItemSellTest::AttributeOfAnItemLine_data() {
  QTest::addColumn<QString>("colour");
  QTest::addColumn<QString>("level");
  QTest::addColumn<QString>("bind");
  QTest::addColumn<QString>("attribute");
  QTest::newRow("gold +10 bound") << "金色"
                                  << "+10"
                                  << "绑定"
                                  << "ver=1;count=1;|id=7;color=3;lev=10;bind=1;|";
  QTest::newRow("blue +5 unbound") << "蓝色"
                                   << "+5"
                                   << "不绑定"
                                   << "ver=1;count=1;|id=7;color=2;lev=5;bind=0;|";
  QTest::newRow("unknown texts") << "紫色"
                                 << "+11"
                                 << ""
                                 << "ver=1;count=1;|id=7;color=0;lev=0;bind=1;|";
  QTest::newRow("green +0") << "绿色"
                            << "+0"
                            << "绑定"
                            << "ver=1;count=1;|id=7;color=1;lev=0;bind=1;|";
}

void ItemSellTest::AttributeOfAnItemLine() {
  QFETCH(QString, colour);
  QFETCH(QString, level);
  QFETCH(QString, bind);
  QFETCH(QString, attribute);
  QCOMPARE(QString::fromStdString(ItemAttribute("7", ColourCode(colour), LevelCode(level), BindFlag(bind))),
           attribute);
}

void ItemSellTest::ProgressRoundsTiesToEven() {
  // 1/8 = 12.5 -> 12, 3/8 = 37.5 -> 38, 5/8 = 62.5 -> 62.
  QCOMPARE(ProgressPercent(0, 8), 12);
  QCOMPARE(ProgressPercent(2, 8), 38);
  QCOMPARE(ProgressPercent(4, 8), 62);
  QCOMPARE(ProgressPercent(0, 3), 33);
  QCOMPARE(ProgressPercent(2, 3), 100);
  // 23 of 40 is 57.5 exactly, 58 to even; a quotient in doubles (57.49999...) gave 57.
  QCOMPARE(ProgressPercent(22, 40), 58);
  QCOMPARE(ProgressPanelText(38), QStringLiteral("任务总完成：38%    "));
  QCOMPARE(GiftTime(EncodeDateTime(2026, 1, 2, 3, 4, 5, 0)), std::string("20260102030405"));
}

void ItemSellTest::KeysOfAmountAndFilterEdits_data() {
  QTest::addColumn<TKeyRule>("rule");
  QTest::addColumn<QString>("key");
  QTest::addColumn<bool>("atStart");
  QTest::addColumn<QString>("refusal");
  QTest::newRow("digit") << TKeyRule::Digits << "5" << true << QString();
  QTest::newRow("zero inside") << TKeyRule::Digits << "0" << false << QString();
  QTest::newRow("zero first") << TKeyRule::Digits << "0" << true << QStringLiteral("第一个数字不能为0！");
  QTest::newRow("letter") << TKeyRule::Digits << "a" << false << QStringLiteral("只能输入0-9的数字！");
  QTest::newRow("backspace") << TKeyRule::Digits << "\b" << true << QString();
  QTest::newRow("faction 1") << TKeyRule::Faction << "1" << true << QString();
  QTest::newRow("faction 2") << TKeyRule::Faction << "2" << false << QStringLiteral("只能输入0或1！");
  QTest::newRow("custom condition") << TKeyRule::None << "'" << true << QString();
  QTest::newRow("filter 3 is digits")
      << KeyRuleOfFilter(3) << "x" << false << QStringLiteral("只能输入0-9的数字！");
  QTest::newRow("filter 0 takes all") << KeyRuleOfFilter(0) << "x" << false << QString();
}

void ItemSellTest::KeysOfAmountAndFilterEdits() {
  QFETCH(TKeyRule, rule);
  QFETCH(QString, key);
  QFETCH(bool, atStart);
  QFETCH(QString, refusal);
  QCOMPARE(KeyRefusal(rule, key.front(), atStart).value_or(QString()), refusal);
}

QTEST_MAIN(ItemSellTest)
#include "ItemSell_test.moc"
