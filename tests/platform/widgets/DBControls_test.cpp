// The data-aware controls over an in-test dataset: they follow the current record, write their
// text at Post (typed or set by code after Edit), show GBK bytes as Chinese, and the image
// shows a JPEG, nothing for data that does not decode, and never writes its field.
#include "platform/widgets/DBControls.h"

#include <QBuffer>
#include <QtTest>

#include "TableDataSet.h"
#include "platform/widgets/UiRecorder.h"

namespace {

std::string JpegBytes() {
  QImage image(8, 6, QImage::Format_RGB32);
  image.fill(qRgb(0, 160, 0));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPG");
  return bytes.toStdString();
}

}  // namespace

class DBControlsTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void FollowTheCurrentRecord();
  void TextSetAfterEditIsWrittenAtPost();
  void TypingPutsTheDataSetIntoEdit();
  void TypingIsRefusedWithoutAutoEdit();
  void MemoWritesAtPost();
  void GbkAndUtf8Text_data();
  void GbkAndUtf8Text();
  void ImageShowsJpegAndNeverWrites();

 private:
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
  std::unique_ptr<TableDataSet> FData;
  std::unique_ptr<TDataSource> FSource;
};

void DBControlsTest::init() {
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
  FData = MakeAccounts(5);
  FSource = std::make_unique<TDataSource>();
  FSource->SetDataSet(FData.get());
}

void DBControlsTest::cleanup() {
  FSource.reset();
  FData.reset();
  FScope.reset();
  FUi.reset();
}

void DBControlsTest::FollowTheCurrentRecord() {
  TDBEdit edit;
  TDBText label;
  for (TDBControlLink* link : {&edit.Link(), &label.Link()}) {
    link->SetDataSource(FSource.get());
    link->SetDataField("username");
  }
  QCOMPARE(edit.text(), QStringLiteral("user1"));
  FData->MoveBy(3);
  QCOMPARE(edit.text(), QStringLiteral("user4"));
  QCOMPARE(label.text(), QStringLiteral("user4"));
  FData->Close();
  QCOMPARE(edit.text(), QString());
  QCOMPARE(label.text(), QString());
}

void DBControlsTest::TextSetAfterEditIsWrittenAtPost() {
  TDBEdit edit;
  edit.Link().SetDataSource(FSource.get());
  edit.Link().SetDataField("password");
  FData->MoveBy(1);
  FData->Edit();
  edit.setText(QStringLiteral("0123456789abcdef"));
  QCOMPARE(FData->FieldByName("password")->AsString(), std::string("pw2"));  // not before Post
  FData->Post();
  QCOMPARE(FData->FieldByName("password")->AsString(), std::string("0123456789abcdef"));
  QCOMPARE(FData->PostCount, 1);
  // Cancelled: the stored value shows again and stays.
  FData->Edit();
  edit.setText(QStringLiteral("draft"));
  FData->Cancel();
  QCOMPARE(edit.text(), QStringLiteral("0123456789abcdef"));
  // Set while browsing: nothing to write, and the next record shows its own value.
  edit.setText(QStringLiteral("ignored"));
  FData->Next();
  QCOMPARE(edit.text(), QStringLiteral("pw3"));
}

void DBControlsTest::TypingPutsTheDataSetIntoEdit() {
  TDBEdit edit;
  edit.Link().SetDataSource(FSource.get());
  edit.Link().SetDataField("password");
  edit.show();
  edit.setFocus();
  edit.end(false);
  QTest::keyClicks(&edit, QStringLiteral("X"));
  QCOMPARE(FData->State(), dsEdit);
  QCOMPARE(edit.text(), QStringLiteral("pw1X"));
  FData->Post();
  QCOMPARE(FData->FieldByName("password")->AsString(), std::string("pw1X"));
}

void DBControlsTest::TypingIsRefusedWithoutAutoEdit() {
  FSource->AutoEdit = false;
  TDBEdit edit;
  edit.Link().SetDataSource(FSource.get());
  edit.Link().SetDataField("password");
  edit.show();
  edit.setFocus();
  QTest::keyClicks(&edit, QStringLiteral("X"));
  QCOMPARE(FData->State(), dsBrowse);
  QCOMPARE(edit.text(), QStringLiteral("pw1"));
}

void DBControlsTest::MemoWritesAtPost() {
  TDBMemo memo;
  memo.Link().SetDataSource(FSource.get());
  memo.Link().SetDataField("items");
  QCOMPARE(memo.toPlainText(), QStringLiteral("items1"));
  memo.show();
  memo.setFocus();
  memo.moveCursor(QTextCursor::End);
  QTest::keyClicks(&memo, QStringLiteral(","));
  QCOMPARE(FData->State(), dsEdit);
  memo.insertPlainText(QStringLiteral("青云剑"));  // typed through an input method
  FData->Post();
  QCOMPARE(FData->FieldByName("items")->AsString(), std::string("items1,\xC7\xE0\xD4\xC6\xBD\xA3"));
}

void DBControlsTest::GbkAndUtf8Text_data() {
  QTest::addColumn<int>("charset");
  QTest::addColumn<QByteArray>("bytes");
  QTest::newRow("gbk") << int(TFieldCharset::Gbk) << QByteArray("\xBD\xC7\xC9\xAB");
  QTest::newRow("utf8") << int(TFieldCharset::Utf8) << QByteArray("\xE8\xA7\x92\xE8\x89\xB2");
}

void DBControlsTest::GbkAndUtf8Text() {
  QFETCH(int, charset);
  QFETCH(QByteArray, bytes);
  FData->Edit();
  FData->FieldByName("username")->SetAsString(bytes.toStdString());
  FData->Post();
  TDBText label;
  label.Link().SetCharset(TFieldCharset(charset));
  label.Link().SetDataSource(FSource.get());
  label.Link().SetDataField("username");
  QCOMPARE(label.text(), QStringLiteral("角色"));
  // And back: what the edit writes is in the same character set.
  TDBEdit edit;
  edit.Link().SetCharset(TFieldCharset(charset));
  edit.Link().SetDataSource(FSource.get());
  edit.Link().SetDataField("password");
  FData->Edit();
  edit.setText(QStringLiteral("角色"));
  FData->Post();
  QCOMPARE(QByteArray::fromStdString(FData->FieldByName("password")->AsString()), bytes);
}

void DBControlsTest::ImageShowsJpegAndNeverWrites() {
  FData->Edit();
  FData->FieldByName("icon")->SetAsString(JpegBytes());
  FData->Post();
  FData->Next();
  FData->Edit();
  FData->FieldByName("icon")->SetAsString("not a picture");
  FData->Post();
  FData->First();
  TDBImage image;
  image.Link().SetDataSource(FSource.get());
  image.Link().SetDataField("icon");
  QCOMPARE(image.Picture().size(), QSize(8, 6));
  QVERIFY(!image.pixmap().isNull());
  FData->Next();
  QVERIFY(image.Picture().isNull());
  QVERIFY(image.pixmap().isNull());
  FData->Edit();
  FData->Post();
  QCOMPARE(FData->FieldByName("icon")->AsString(), std::string("not a picture"));
}

QTEST_MAIN(DBControlsTest)
#include "DBControls_test.moc"
