// The password dialog over two browsers' rows side by side: it writes the stored form into the
// row of the window that opened it, and nothing anywhere for an empty password.
#include "console/browsers/EditDialogs.h"

#include <QLineEdit>
#include <QtTest>

#include "platform/widgets/DBControls.h"
#include "platform/widgets/TableDataSet.h"
#include "platform/widgets/UiRecorder.h"

class EditDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void PasswordGoesToTheOpeningWindowsRow();
  void PasswordTheAccountsSetCannotHoldIsRefused_data();
  void PasswordTheAccountsSetCannotHoldIsRefused();
};

void EditDialogsTest::PasswordGoesToTheOpeningWindowsRow() {
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  auto first = MakeAccounts(3), second = MakeAccounts(3);
  TDataSource firstSource, secondSource;
  firstSource.SetDataSet(first.get());
  secondSource.SetDataSet(second.get());
  TDBEdit firstEdit, secondEdit;
  for (auto [edit, source] : {std::pair{&firstEdit, &firstSource}, std::pair{&secondEdit, &secondSource}}) {
    edit->Link().SetDataSource(source);
    edit->Link().SetDataField("password");
  }
  first->SetRecNo(1);
  second->SetRecNo(2);

  Tuser_password dialog(*first, firstEdit, QStringLiteral("帐号：user1"));
  dialog.edt1->setText(QStringLiteral("123456"));
  dialog.Confirm();
  QCOMPARE(first->FieldByName("password")->AsString(), std::string("49ba59abbe56e057"));
  QCOMPARE(first->PostCount, 1);
  QCOMPARE(second->FieldByName("password")->AsString(), std::string("pw2"));
  QCOMPARE(second->PostCount, 0);

  Tuser_password empty(*second, secondEdit, QStringLiteral("帐号：user2"));
  empty.Confirm();
  QCOMPARE(second->PostCount, 0);
  QCOMPARE(empty.result(), int(QDialog::Accepted));
}

void EditDialogsTest::PasswordTheAccountsSetCannotHoldIsRefused_data() {
  QTest::addColumn<bool>("utf8");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<bool>("refused");
  QTest::newRow("emoji on gbk") << false << QStringLiteral("a\U0001F600b") << true;
  QTest::newRow("hangul on gbk") << false << QStringLiteral("pw\uD55C") << true;
  QTest::newRow("question mark typed") << false << QStringLiteral("a?b") << false;
  QTest::newRow("chinese on gbk") << false << QStringLiteral("密码") << false;
  QTest::newRow("emoji on utf8") << true << QStringLiteral("a\U0001F600b") << false;
}

// A character the set lacks would be hashed as "?", so "a😀b" and "a?b" would log in alike; the
// dialog stays open with what was typed.
void EditDialogsTest::PasswordTheAccountsSetCannotHoldIsRefused() {
  QFETCH(bool, utf8);
  QFETCH(QString, typed);
  QFETCH(bool, refused);
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  auto accounts = MakeAccounts(2);
  TDataSource source;
  source.SetDataSet(accounts.get());
  TDBEdit edit;
  edit.Link().SetDataSource(&source);
  edit.Link().SetDataField("password");
  edit.Link().SetCharset(utf8 ? TFieldCharset::Utf8 : TFieldCharset::Gbk);
  accounts->SetRecNo(1);
  Tuser_password dialog(*accounts, edit, QStringLiteral("帐号：user1"));
  dialog.edt1->setText(typed);
  dialog.Confirm();
  QCOMPARE(accounts->PostCount, refused ? 0 : 1);
  QCOMPARE(accounts->FieldByName("password")->AsString() == "pw1", refused);
  QCOMPARE(dialog.result(), refused ? 0 : int(QDialog::Accepted));
  QCOMPARE(dialog.edt1->text(), typed);
  QCOMPARE(ui.Messages().size(), size_t(refused ? 1 : 0));
  if (refused) QVERIFY(ui.Messages()[0].Args.Text.contains(QStringLiteral("U+")));
}

QTEST_MAIN(EditDialogsTest)
#include "EditDialogs_test.moc"
