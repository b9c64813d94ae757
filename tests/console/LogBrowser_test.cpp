// The log browser's widget-free logic: the character database's name in the column list, the
// strict form of the times typed, the checks in the order the user meets them, and the
// statements the search and the cleanup send.
#include "console/browsers/LogBrowser.h"

#include <QtTest>

class LogBrowserTest : public QObject {
  Q_OBJECT

 private slots:
  void CharacterDatabaseIsQuotedWhole_data();
  void CharacterDatabaseIsQuotedWhole();
  void TimesTakeOneFormOnly_data();
  void TimesTakeOneFormOnly();
  void ChecksInOrder_data();
  void ChecksInOrder();
  void StatementsQuoteWhatWasTyped();
  void FilterAndRefreshStartOver();
};

void LogBrowserTest::CharacterDatabaseIsQuotedWhole_data() {
  QTest::addColumn<QByteArray>("name");
  QTest::addColumn<QByteArray>("from");
  QTest::newRow("plain") << QByteArray("zqv") << QByteArray("from `zqv`.`user` ");
  QTest::newRow("hyphen") << QByteArray("zqv-2") << QByteArray("from `zqv-2`.`user` ");
  QTest::newRow("back quote") << QByteArray("z`q") << QByteArray("from `z``q`.`user` ");
  QTest::newRow("dot") << QByteArray("a.b") << QByteArray("from `a.b`.`user` ");
}

void LogBrowserTest::CharacterDatabaseIsQuotedWhole() {
  QFETCH(QByteArray, name);
  QFETCH(QByteArray, from);
  const std::string list = LogFieldList(QuotedColumn(name.toStdString(), TCharsetKind::SingleByte), "T");
  QVERIFY2(list.find(from.toStdString()) != std::string::npos, list.c_str());
  QVERIFY(list.ends_with(" where  ID=a.userID) as UserID,T"));
}

void LogBrowserTest::TimesTakeOneFormOnly_data() {
  QTest::addColumn<QByteArray>("text");
  QTest::addColumn<bool>("accepted");
  QTest::newRow("boundary") << QByteArray("2024-02-01 00:00:00") << true;
  QTest::newRow("leap day") << QByteArray("2024-02-29 23:59:59") << true;
  QTest::newRow("no leap day") << QByteArray("2023-02-29 00:00:00") << false;
  QTest::newRow("month 13") << QByteArray("2024-13-01 00:00:00") << false;
  QTest::newRow("hour 24") << QByteArray("2024-02-01 24:00:00") << false;
  QTest::newRow("year 0") << QByteArray("0000-01-01 00:00:00") << false;
  QTest::newRow("date only") << QByteArray("2024-02-01") << false;
  QTest::newRow("short month") << QByteArray("2024-2-01 00:00:00") << false;
  QTest::newRow("T separator") << QByteArray("2024-02-01T00:00:00") << false;
  QTest::newRow("trailing blank") << QByteArray("2024-02-01 00:00:00 ") << false;
  QTest::newRow("sign in a field") << QByteArray("2024-+2-01 00:00:00") << false;
  QTest::newRow("quote") << QByteArray("1' or '1'='1") << false;
  QTest::newRow("quote after a date") << QByteArray("2024-02-01 00:00:0'") << false;
}

void LogBrowserTest::TimesTakeOneFormOnly() {
  QFETCH(QByteArray, text);
  QFETCH(bool, accepted);
  QCOMPARE(IsLogTime(text.toStdString()), accepted);
  QCOMPARE(!CheckLogCleanup(text.toStdString(), "2030-01-01 00:00:00"), accepted);
}

void LogBrowserTest::ChecksInOrder_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QByteArray>("start");
  QTest::addColumn<QByteArray>("end");
  QTest::addColumn<QString>("message");  // empty: searched
  const QByteArray jan = "2024-01-01 00:00:00", mar = "2024-03-01 00:00:00";
  QTest::newRow("no name") << QString() << jan << mar << QStringLiteral("搜索内容不能为空！");
  QTest::newRow("no end") << QStringLiteral("青云") << jan << QByteArray()
                          << QStringLiteral("开始时间或结束时间不能为空！");
  QTest::newRow("quote in start") << QStringLiteral("青云") << QByteArray("2024-01-01' or '1'='1") << mar
                                  << QStringLiteral(
                                         "开始时间或结束时间格式不正确，请按yyyy-mm-dd hh:nn:ss输入！");
  QTest::newRow("end before start") << QStringLiteral("青云") << mar << jan
                                    << QStringLiteral("结束时间不能小于开始时间！");
  QTest::newRow("end is now") << QStringLiteral("青云") << jan << QByteArray("2024-06-01 12:00:00")
                              << QStringLiteral("结束时间不能大于或等于今天的时间！");
  QTest::newRow("searched") << QStringLiteral("青云") << jan << mar << QString();
}

void LogBrowserTest::ChecksInOrder() {
  QFETCH(QString, name);
  QFETCH(QByteArray, start);
  QFETCH(QByteArray, end);
  QFETCH(QString, message);
  const auto refusal =
      CheckLogSearch(name.toStdString(), start.toStdString(), end.toStdString(), "2024-06-01 12:00:00");
  QCOMPARE(refusal ? QString::fromStdString(refusal->Text) : QString(), message);
}

void LogBrowserTest::StatementsQuoteWhatWasTyped() {
  QCOMPARE(LogCleanupStatement("2024-02-01 00:00:00", TLiteralStyle(TCharsetKind::SingleByte)),
           std::string("delete from t_log_user_history   where LogTime < '2024-02-01 00:00:00' "));
  QCOMPARE(LogSearchWhere(1, "2024-01-01 00:00:00", "2024-03-01 00:00:00", 7,
                          TLiteralStyle(TCharsetKind::SingleByte)),
           std::string("where userID='1' and LogTime >= '2024-01-01 00:00:00' and LogTime <= '2024-03-01 "
                       "00:00:00' and type='15'  and longParam1='2' "));
  // An index the filter does not have searches every action.
  QVERIFY(LogSearchWhere(1, "a", "b", 42, TLiteralStyle(TCharsetKind::SingleByte)).ends_with("'b' "));
}

void LogBrowserTest::FilterAndRefreshStartOver() {
  const TLogTexts texts("L");
  TBrowserPaging paging(texts);
  paging.Commit(paging.Refresh(), 60);
  paging.Commit(*paging.Next(), std::nullopt);
  const TPageStep filter = paging.Filter("where type='8' ");
  QCOMPARE(filter.PageSQL, std::string("Select L from t_log_user_history as a  where type='8'   LIMIT 0,17"));
  QCOMPARE(filter.CountSQL, std::string("Select count(*) count from t_log_user_history  where type='8' "));
  paging.Commit(filter, 20);
  QCOMPARE(PageLabel(paging.State()), std::string("第 1 页/共 2 页"));
  QCOMPARE(paging.Next()->PageSQL,
           std::string("select  L  from t_log_user_history as a  where type='8'  Limit 17,17"));
  // A refresh (after a cleanup too) pages the whole log again.
  paging.Commit(paging.Refresh(), 40);
  QCOMPARE(paging.State().WhereText, std::string(" "));
  QCOMPARE(paging.Next()->PageSQL, std::string("select  L  from t_log_user_history as a    Limit 17,17"));
}

QTEST_MAIN(LogBrowserTest)
#include "LogBrowser_test.moc"
