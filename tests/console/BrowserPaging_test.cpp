// The browsers' widget-free logic: paging over a total, the page-size check, typed text into SQL
// (the literal writer and the LIKE rule on latin1, gb2312 and gbk connections), the balance
// arithmetic and the stored password form.
#include "console/browsers/BrowserPaging.h"

#include <QtTest>

#include "console/browsers/AccountBrowser.h"
#include "console/browsers/DialogValues.h"
#include "platform/runtime/Exceptions.h"

Q_DECLARE_METATYPE(TCharsetKind)
Q_DECLARE_METATYPE(TBalanceChange)

class BrowserPagingTest : public QObject {
  Q_OBJECT

 private slots:
  void PagingWalksThePages();
  void PageSizeBelowOneOrNoNumberIsRefused_data();
  void PageSizeBelowOneOrNoNumberIsRefused();
  void TypedTextBecomesOneLiteral_data();
  void TypedTextBecomesOneLiteral();
  void BalanceIn64BitsWithinTheColumnRange_data();
  void BalanceIn64BitsWithinTheColumnRange();
  void StoredPasswordForm_data();
  void StoredPasswordForm();
};

void BrowserPagingTest::PagingWalksThePages() {
  // (Paging through the fixture's 35 accounts is shown against the server.)
  TAccountTexts texts;
  TBrowserPaging paging(texts);
  paging.Commit(paging.Refresh(), 35);
  paging.Commit(*paging.Next(), std::nullopt);
  paging.Commit(*paging.Next(), std::nullopt);
  // A search starts at page 1 and pages within its condition; so does a new size.
  // The condition goes in as it is: braces typed in a search stand for nothing.
  QCOMPARE(paging.Search(" where username like '{where}{size}'", true).PageSQL,
           std::string("Select * from user  where username like '{where}{size}'"));
  paging.Commit(paging.Search(" where username like 'test%'", false), 29);
  QCOMPARE(PageLabel(paging.State()), std::string("第 1 页/共 2 页"));
  const TPageStep resized = paging.PageSize(10);
  QCOMPARE(resized.CountSQL, std::string("Select count(*) count  from user where username like 'test%'"));
  paging.Commit(resized, 29);
  QCOMPARE(PageLabel(paging.State()), std::string("第 1 页/共 3 页"));
  // Refresh drops the condition; an empty table has no pages.
  paging.Commit(paging.Refresh(), 0);
  QCOMPARE(paging.State().WhereText, std::string(" "));
  QCOMPARE(PageLabel(paging.State()), std::string("第 1 页/共 0 页"));
  QVERIFY(!paging.Next());
}

void BrowserPagingTest::PageSizeBelowOneOrNoNumberIsRefused_data() {
  QTest::addColumn<QByteArray>("text");
  QTest::addColumn<int>("expected");  // 0: EConvertError, -1: ERangeError
  QTest::newRow("seventeen") << QByteArray("17") << 17;
  QTest::newRow("zero") << QByteArray("0") << -1;
  QTest::newRow("negative") << QByteArray("-3") << -1;
  QTest::newRow("word") << QByteArray("ten") << 0;
  QTest::newRow("past 32 bits") << QByteArray("99999999999") << 0;
  QTest::newRow("the fetch bound") << QByteArray("10000") << 10000;
  QTest::newRow("past the fetch bound") << QByteArray("10001") << -1;
}

void BrowserPagingTest::PageSizeBelowOneOrNoNumberIsRefused() {
  QFETCH(QByteArray, text);
  QFETCH(int, expected);
  int kind = 1;
  int size = 0;
  try {
    size = ParsePageSize(text.toStdString());
  } catch (const ERangeError&) {
    kind = -1;
  } catch (const EConvertError&) {
    kind = 0;
  }
  QCOMPARE(kind == 1 ? size : kind, expected);
}

void BrowserPagingTest::TypedTextBecomesOneLiteral_data() {
  // (Quotes, injections and plain searches are shown against the server.)
  QTest::addColumn<QByteArray>("text");
  QTest::addColumn<TCharsetKind>("charset");
  QTest::addColumn<bool>("fuzzy");
  QTest::addColumn<QByteArray>("literal");
  const auto latin1 = TCharsetKind::SingleByte;
  QTest::newRow("own wildcards kept") << QByteArray("a%b_") << latin1 << true << QByteArray("'%a%b_%'");
  QTest::newRow("exact wildcards literal")
      << QByteArray("a%b_") << latin1 << false << QByteArray("'a\\\\%b\\\\_'");
  // 籠 is BB 5C: on latin1 its trail byte is LIKE's escape and is escaped.
  QTest::newRow("0x5C trail on latin1")
      << QByteArray("\xBB\x5C") << latin1 << true << QByteArray("'%\xBB\\\\\\\\%'");
  // On a multi-byte session the bytes go as they are stored, matched byte by byte: every 0x5C is
  // escaped, and a "%" or "_" byte inside a character (GBK's 81 5F) never acts as a wildcard.
  QTest::newRow("0x5C trail on gb2312")
      << QByteArray("\xBB\x5C") << TCharsetKind::Gb2312 << true << QByteArray("_binary X'25BB5C5C25'");
  QTest::newRow("0x5C trail on gbk, exact")
      << QByteArray("\xBB\x5C") << TCharsetKind::Gbk << false << QByteArray("_binary X'BB5C5C'");
  QTest::newRow("0x5F trail on gbk") << QByteArray("\x81\x5F_") << TCharsetKind::Gbk << true
                                     << QByteArray("_binary X'25815C5F5F25'");
  QTest::newRow("lone backslash on gbk")
      << QByteArray("a\\") << TCharsetKind::Gbk << true << QByteArray("'%a\\\\\\\\%'");
}

void BrowserPagingTest::TypedTextBecomesOneLiteral() {
  QFETCH(QByteArray, text);
  QFETCH(TCharsetKind, charset);
  QFETCH(bool, fuzzy);
  QFETCH(QByteArray, literal);
  QCOMPARE(QByteArray::fromStdString(LikeLiteral(text.toStdString(), TLiteralStyle(charset), fuzzy)),
           literal);
}

void BrowserPagingTest::BalanceIn64BitsWithinTheColumnRange_data() {
  QTest::addColumn<TBalanceChange>("change");
  QTest::addColumn<QByteArray>("current");
  QTest::addColumn<QByteArray>("amount");
  QTest::addColumn<qint64>("value");
  QTest::addColumn<QString>("refusal");
  const auto add = TBalanceChange::Add;
  const auto sub = TBalanceChange::Subtract;
  QTest::newRow("add") << add << QByteArray("100") << QByteArray("50") << qint64(150) << QString();
  QTest::newRow("subtract all") << sub << QByteArray("100") << QByteArray("100") << qint64(0) << QString();
  QTest::newRow("subtract one more") << sub << QByteArray("100") << QByteArray("101") << qint64(0)
                                     << QStringLiteral(
                                            "该用户帐户余额为：100，不足以减少：101，请重新设定！");
  QTest::newRow("signed amount") << add << QByteArray("100") << QByteArray("-100") << qint64(0)
                                 << QStringLiteral("'-100' is not a valid integer value");
  QTest::newRow("null is zero") << add << QByteArray() << QByteArray("5") << qint64(5) << QString();
  QTest::newRow("current no number") << add << QByteArray("1e3") << QByteArray("5") << qint64(0)
                                     << QStringLiteral("'1e3' is not a valid integer value");
  QTest::newRow("past the column") << add << QByteArray("2147483600") << QByteArray("100") << qint64(0)
                                   << QStringLiteral(
                                          "变更后的数值超出范围（-2147483648～2147483647），请重新设定！");
  QTest::newRow("past 64 bits") << add << QByteArray("9223372036854775807") << QByteArray("1") << qint64(0)
                                << QStringLiteral(
                                       "变更后的数值超出范围（-2147483648～2147483647），请重新设定！");
}

void BrowserPagingTest::BalanceIn64BitsWithinTheColumnRange() {
  QFETCH(TBalanceChange, change);
  QFETCH(QByteArray, current);
  QFETCH(QByteArray, amount);
  QFETCH(qint64, value);
  QFETCH(QString, refusal);
  const TBalanceResult r =
      ChangeBalance(change, current.toStdString(), amount.toStdString(), INT32_MIN, INT32_MAX);
  QCOMPARE(QString::fromStdString(r.Refusal), refusal);
  QCOMPARE(qint64(r.Value), value);
}

void BrowserPagingTest::StoredPasswordForm_data() {
  QTest::addColumn<QByteArray>("password");
  QTest::addColumn<QByteArray>("stored");
  // MD5("123456") = e10adc39 49ba59abbe56e057 f20f883e
  QTest::newRow("digits") << QByteArray("123456") << QByteArray("49ba59abbe56e057");
  QTest::newRow("GBK bytes") << QByteArray("\xC3\xDC\xC2\xEB") << QByteArray("f0c964c5f6242486");
}

void BrowserPagingTest::StoredPasswordForm() {
  QFETCH(QByteArray, password);
  QFETCH(QByteArray, stored);
  QCOMPARE(QByteArray::fromStdString(::StoredPasswordForm(password.toStdString())), stored);
}

QTEST_MAIN(BrowserPagingTest)
#include "BrowserPaging_test.moc"
