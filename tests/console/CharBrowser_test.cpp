// The warehouse's owner column names the account database whatever its name holds, and the
// online rule reads a session from its last login and logout.
#include "console/browsers/CharBrowser.h"

#include <QtTest>

class CharBrowserTest : public QObject {
  Q_OBJECT

 private slots:
  void AccountDatabaseIsQuotedWhole_data();
  void AccountDatabaseIsQuotedWhole();
  void OnlineFollowsTheLastSession_data();
  void OnlineFollowsTheLastSession();
};

void CharBrowserTest::AccountDatabaseIsQuotedWhole_data() {
  QTest::addColumn<QByteArray>("name");
  QTest::addColumn<QByteArray>("quoted");
  QTest::newRow("plain") << QByteArray("account") << QByteArray("`account`");
  QTest::newRow("minus") << QByteArray("zqv-2") << QByteArray("`zqv-2`");
  QTest::newRow("back quote") << QByteArray("a`b") << QByteArray("`a``b`");
  QTest::newRow("closing attempt") << QByteArray("x`.`user` union select 1 -- ")
                                   << QByteArray("`x``.``user`` union select 1 -- `");
}

void CharBrowserTest::AccountDatabaseIsQuotedWhole() {
  QFETCH(QByteArray, name);
  QFETCH(QByteArray, quoted);
  const TBankTexts texts(name.toStdString(), TCharsetKind::Gbk);
  QCOMPARE(QByteArray::fromStdString(texts.Columns()),
           "(select username  from " + quoted +
               ".`user` where  idx=t_bank.AccountID) as AccountID1,AccountID,Items,BankMoney,Password");
}

void CharBrowserTest::OnlineFollowsTheLastSession_data() {
  QTest::addColumn<double>("login");  // below 0: none logged
  QTest::addColumn<double>("logout");
  QTest::addColumn<int>("state");
  QTest::newRow("first session, no logout yet") << 45000.5 << -1.0 << int(TOnlineState::Online);
  QTest::newRow("logged out only") << -1.0 << 45000.5 << int(TOnlineState::Offline);
  QTest::newRow("no log at all") << -1.0 << -1.0 << int(TOnlineState::NoLog);
  QTest::newRow("login after logout") << 45001.0 << 45000.0 << int(TOnlineState::Online);
  QTest::newRow("same moment") << 45000.0 << 45000.0 << int(TOnlineState::Online);
  QTest::newRow("logout after login") << 45000.0 << 45001.0 << int(TOnlineState::Offline);
}

void CharBrowserTest::OnlineFollowsTheLastSession() {
  QFETCH(double, login);
  QFETCH(double, logout);
  QFETCH(int, state);
  auto time = [](double t) { return t < 0 ? std::nullopt : std::optional<double>(t); };
  QCOMPARE(int(OnlineStateOf(time(login), time(logout))), state);
}

QTEST_MAIN(CharBrowserTest)
#include "CharBrowser_test.moc"
