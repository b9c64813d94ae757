// The password dialog over two browsers' rows side by side: it writes the stored form into the
// row of the window that opened it, and nothing anywhere for an empty password.
#include "console/EditDialogs.h"

#include <QLineEdit>
#include <QtTest>

#include "platform/widgets/DBControls.h"
#include "platform/widgets/TableDataSet.h"
#include "platform/widgets/UiRecorder.h"

class EditDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void PasswordGoesToTheOpeningWindowsRow();
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

QTEST_MAIN(EditDialogsTest)
#include "EditDialogs_test.moc"
