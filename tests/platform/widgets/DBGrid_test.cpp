// The data-aware grid over an in-test dataset: the model passes Qt's model tester, shows the
// configured columns, follows the dataset both ways, posts a row once when it is left, puts
// the selection back when the post fails, cancels on Esc, and reads rows without moving the
// dataset or querying anything while it scrolls.
#include "platform/widgets/DBGrid.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QtTest>
#include <set>

#include "TableDataSet.h"
#include "platform/widgets/UiRecorder.h"

namespace {

// The browsers' account columns, all centred.
std::vector<TDBGridColumn> AccountColumns() {
  const Qt::Alignment centre = Qt::AlignCenter;
  return {{"idx", QStringLiteral("序号"), 60, centre, true},
          {"username", QStringLiteral("用户名"), 100, centre, true},
          {"password", QStringLiteral("密码*"), 115, centre, false}};
}

QRect CellRect(TDBGrid& grid, int row, int column) {
  return grid.visualRect(grid.GridModel().index(row, column));
}

void ClickRow(TDBGrid& grid, int row) {
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, CellRect(grid, row, 0).center());
}

}  // namespace

class DBGridTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void ModelTesterIsClean();
  void ConfiguredTitlesWidthsAndAlignment();
  void AllVisibleFieldsWithoutColumns();
  void ClickMovesTheDataSetAndBack();
  void EditedRowPostsOnceWhenLeft();
  void FailedPostPutsTheSelectionBack();
  void EscCancelsTheRow();
  void ReadOnlyRefusesEdits();
  void SignalsForTitleDoubleClickAndF5();
  void MultiRowSelection();
  void PaintHookKnowsTheRecNo();
  void ScrollingReadsNoRecordAndRunsNothing();
  void GbkTextShowsAsChinese();
  void TextTheFieldCannotHoldIsRefused();

 private:
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
  std::unique_ptr<TableDataSet> FData;
  std::unique_ptr<TDataSource> FSource;
};

void DBGridTest::init() {
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
  FData = MakeAccounts(20);
  FSource = std::make_unique<TDataSource>();
  FSource->SetDataSet(FData.get());
}

void DBGridTest::cleanup() {
  FSource.reset();
  FData.reset();
  FScope.reset();
  FUi.reset();
}

void DBGridTest::ModelTesterIsClean() {
  TDBGridModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  model.SetColumns(AccountColumns());
  model.SetDataSource(FSource.get());
  QCOMPARE(model.rowCount(), 20);
  QCOMPARE(model.columnCount(), 3);
  FData->Last();
  FData->Edit();
  FData->FieldByName("password")->SetText("x");
  FData->Post();
  FData->Append();
  FData->FieldByName("idx")->SetAsInteger(21);
  FData->Post();
  QCOMPARE(model.rowCount(), 21);
  FData->Close();
  QCOMPARE(model.rowCount(), 0);
  FData->Open();
  QCOMPARE(model.rowCount(), 21);
}

void DBGridTest::ConfiguredTitlesWidthsAndAlignment() {
  TDBGrid grid;
  grid.SetColumns(AccountColumns());
  grid.SetDataSource(FSource.get());
  grid.resize(400, 300);
  grid.show();
  TDBGridModel& model = grid.GridModel();
  QCOMPARE(model.rowCount(), 20);
  const char* titles[] = {"序号", "用户名", "密码*"};
  const int widths[] = {60, 100, 115};
  for (int c = 0; c < 3; ++c) {
    QCOMPARE(model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8(titles[c]));
    QCOMPARE(grid.horizontalHeader()->sectionSize(c), widths[c]);
    QCOMPARE(model.index(4, c).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::Alignment(Qt::AlignCenter));
  }
  QCOMPARE(model.index(4, 1).data().toString(), QStringLiteral("user5"));
  QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));
  QVERIFY(model.flags(model.index(0, 2)) & Qt::ItemIsEditable);
  // What a person sees: the titles and the first rows, kept for a look.
  QImage shot = grid.grab().toImage();
  QVERIFY(!shot.isNull());
  shot.save(QStringLiteral("DBGrid_columns.png"));
}

void DBGridTest::AllVisibleFieldsWithoutColumns() {
  FData->FieldByName("password")->SetVisible(false);
  TDBGridModel model;
  model.SetDataSource(FSource.get());
  QCOMPARE(model.columnCount(), FData->FieldCount() - 1);
  QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("idx"));
  // An integer field lines up on the right, as its field says.
  QCOMPARE(model.index(0, 0).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask,
           Qt::Alignment(Qt::AlignRight));
}

void DBGridTest::ClickMovesTheDataSetAndBack() {
  TDBGrid grid;
  grid.SetColumns(AccountColumns());
  grid.SetDataSource(FSource.get());
  grid.resize(400, 400);
  grid.show();
  QVERIFY(QTest::qWaitForWindowExposed(&grid));
  ClickRow(grid, 2);
  QCOMPARE(FData->RecNo(), 3);
  FData->MoveBy(5);
  QCOMPARE(grid.currentIndex().row(), 7);
  FData->First();
  QCOMPARE(grid.currentIndex().row(), 0);
  QCOMPARE(FData->RecNo(), 1);
}

void DBGridTest::EditedRowPostsOnceWhenLeft() {
  TDBGrid grid;
  grid.SetColumns(AccountColumns());
  grid.SetDataSource(FSource.get());
  grid.show();
  grid.setFocus();
  ClickRow(grid, 1);
  // Through the cell editor, as a person edits: F2, type, then click another row.
  grid.setCurrentIndex(grid.GridModel().index(1, 2));
  QTest::keyClick(&grid, Qt::Key_F2);
  auto* editor = grid.viewport()->findChild<QLineEdit*>();
  QVERIFY(editor);
  editor->selectAll();
  QTest::keyClicks(editor, QStringLiteral("secret"));
  QCOMPARE(FData->PostCount, 0);
  ClickRow(grid, 4);
  QCOMPARE(FData->PostCount, 1);
  QCOMPARE(FData->State(), dsBrowse);
  QCOMPARE(FData->RecNo(), 5);
  QCOMPARE(grid.GridModel().index(1, 2).data().toString(), QStringLiteral("secret"));
  ClickRow(grid, 6);
  QCOMPARE(FData->PostCount, 1);  // nothing edited: nothing posted
}

void DBGridTest::FailedPostPutsTheSelectionBack() {
  TDBGrid grid;
  grid.SetColumns(AccountColumns());
  grid.SetDataSource(FSource.get());
  grid.show();
  ClickRow(grid, 1);
  grid.GridModel().setData(grid.GridModel().index(1, 2), QStringLiteral("x"), Qt::EditRole);
  FData->FailNextPost = "\r\nDuplicate entry 'x' for key 'password'";
  ClickRow(grid, 4);
  QCOMPARE(grid.currentIndex().row(), 1);
  QCOMPARE(FData->RecNo(), 2);
  QCOMPARE(FData->State(), dsEdit);
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("Duplicate entry 'x' for key 'password'"));
  ClickRow(grid, 4);  // the second try posts
  QCOMPARE(FData->RecNo(), 5);
  QCOMPARE(FData->State(), dsBrowse);
}

void DBGridTest::EscCancelsTheRow() {
  TDBGrid grid;
  grid.SetColumns(AccountColumns());
  grid.SetDataSource(FSource.get());
  grid.show();
  ClickRow(grid, 3);
  grid.GridModel().setData(grid.GridModel().index(3, 2), QStringLiteral("changed"), Qt::EditRole);
  QCOMPARE(grid.GridModel().index(3, 2).data().toString(), QStringLiteral("changed"));
  QTest::keyClick(&grid, Qt::Key_Escape);
  QCOMPARE(FData->State(), dsBrowse);
  QCOMPARE(FData->PostCount, 0);
  QCOMPARE(grid.GridModel().index(3, 2).data().toString(), QStringLiteral("pw4"));
}

void DBGridTest::ReadOnlyRefusesEdits() {
  TDBGrid grid;
  grid.SetColumns(AccountColumns());
  grid.SetDataSource(FSource.get());
  // A text equal to the field's changes nothing: no edit state, nothing to post later.
  QVERIFY(grid.GridModel().setData(grid.GridModel().index(0, 2), QStringLiteral("pw1"), Qt::EditRole));
  QCOMPARE(FData->State(), dsBrowse);
  grid.SetReadOnly(true);
  QVERIFY(!(grid.GridModel().flags(grid.GridModel().index(0, 2)) & Qt::ItemIsEditable));
  QVERIFY(!grid.GridModel().setData(grid.GridModel().index(0, 2), QStringLiteral("x"), Qt::EditRole));
  QCOMPARE(FData->State(), dsBrowse);
  // A read-only column of a writable grid refuses too.
  grid.SetReadOnly(false);
  QVERIFY(!grid.GridModel().setData(grid.GridModel().index(0, 1), QStringLiteral("x"), Qt::EditRole));
}

void DBGridTest::SignalsForTitleDoubleClickAndF5() {
  TDBGrid grid;
  grid.SetColumns(AccountColumns());
  grid.SetDataSource(FSource.get());
  grid.show();
  QSignalSpy titles(&grid, &TDBGrid::TitleClicked);
  QSignalSpy doubles(&grid, &TDBGrid::RecordDoubleClicked);
  QSignalSpy refreshes(&grid, &TDBGrid::RefreshRequested);
  QHeaderView* header = grid.horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(1) + 10, header->height() / 2));
  QCOMPARE(titles.size(), 1);
  QCOMPARE(titles[0][0].toInt(), 1);
  ClickRow(grid, 2);
  QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, CellRect(grid, 2, 0).center());
  QCOMPARE(doubles.size(), 1);
  QCOMPARE(FData->State(), dsBrowse);  // a double click opens no editor
  QTest::keyClick(&grid, Qt::Key_F5);
  QCOMPARE(refreshes.size(), 1);
}

void DBGridTest::MultiRowSelection() {
  TDBGrid grid;
  grid.SetColumns(AccountColumns());
  grid.SetDataSource(FSource.get());
  grid.SetMultiSelect(true);
  grid.show();
  ClickRow(grid, 1);
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::ControlModifier, CellRect(grid, 4, 0).center());
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::ControlModifier, CellRect(grid, 3, 0).center());
  QCOMPARE(grid.SelectedRecNos(), (std::vector<int>{2, 4, 5}));
  QCOMPARE(FData->RecNo(), 4);
}

void DBGridTest::PaintHookKnowsTheRecNo() {
  TDBGrid grid;
  grid.SetColumns(AccountColumns());
  grid.SetDataSource(FSource.get());
  grid.resize(400, 300);
  const QColor odd(153, 0, 102), even(204, 153, 0);
  std::set<int> drawn;
  grid.SetOnDrawCell([&](TDBGridCellPaint& cell) {
    drawn.insert(cell.RecNo);
    if (!cell.Selected) cell.Option.backgroundBrush = cell.RecNo % 2 ? odd : even;
    cell.DrawDefault();
    cell.Painter->setPen(QColor(150, 194, 241));
    cell.Painter->drawLine(cell.Option.rect.bottomLeft(), cell.Option.rect.bottomRight());
  });
  grid.show();
  QImage shot = grid.grab().toImage();
  shot.save(QStringLiteral("DBGrid_rows.png"));
  QVERIFY(drawn.count(2) && drawn.count(3));
  QPoint inRow3 = grid.viewport()->mapTo(&grid, CellRect(grid, 2, 1).topLeft() + QPoint(3, 3));
  QPoint inRow4 = grid.viewport()->mapTo(&grid, CellRect(grid, 3, 1).topLeft() + QPoint(3, 3));
  QCOMPARE(shot.pixelColor(inRow3), odd);
  QCOMPARE(shot.pixelColor(inRow4), even);
}

void DBGridTest::ScrollingReadsNoRecordAndRunsNothing() {
  FData = MakeAccounts(10000);
  FSource->SetDataSet(FData.get());
  TDBGrid grid;
  grid.SetColumns(AccountColumns());
  grid.SetDataSource(FSource.get());
  grid.resize(400, 300);
  grid.show();
  QVERIFY(QTest::qWaitForWindowExposed(&grid));
  const int recNo = FData->RecNo();
  int notices = 0;
  FSource->OnDataChange = [&](TDataSource*, TField*) { ++notices; };
  FData->FetchCount = 0;
  for (int row : {500, 2500, 9999, 7000, 0}) {
    grid.scrollTo(grid.GridModel().index(row, 0));
    grid.grab();
  }
  QCOMPARE(grid.GridModel().index(9999, 1).data().toString(), QStringLiteral("user10000"));
  QCOMPARE(FData->RecNo(), recNo);
  QCOMPARE(notices, 0);  // reading rows sends the controls no notice
  // Only the rows shown are read, each once, straight from its position: no walk over the table.
  QVERIFY2(FData->FetchCount < 200, QByteArray::number(FData->FetchCount));
  QVERIFY(grid.GridModel().CachedRows() < 200);
}

void DBGridTest::GbkTextShowsAsChinese() {
  FData->First();
  FData->Edit();
  FData->FieldByName("username")->SetAsString("\xBD\xC7\xC9\xAB");  // 角色 in GBK
  FData->Post();
  TDBGridModel model;
  model.SetColumns(AccountColumns());
  model.SetDataSource(FSource.get());
  QCOMPARE(model.index(0, 1).data().toString(), QStringLiteral("角色"));
  model.SetCharset(TFieldCharset::Utf8);
  QVERIFY(model.index(0, 1).data().toString() != QStringLiteral("角色"));
}

void DBGridTest::TextTheFieldCannotHoldIsRefused() {
  TDBGridModel model;
  model.SetColumns(AccountColumns());
  model.SetDataSource(FSource.get());
  const struct {
    const char* name;
    TFieldCharset charset;
    QString text;
    QString message;  // empty: stored
  } cases[] = {
      {"emoji on GBK", TFieldCharset::Gbk, QStringLiteral("ab😀"),
       QStringLiteral("Field 'password' cannot hold the character U+1F600")},
      {"a question mark is no replacement", TFieldCharset::Gbk, QStringLiteral("a?b"), {}},
      {"Chinese on GBK", TFieldCharset::Gbk, QStringLiteral("角色"), {}},
      {"emoji on UTF-8", TFieldCharset::Utf8, QStringLiteral("ab😀"), {}},
      {"32 bytes fit", TFieldCharset::Gbk, QString(16, QChar(0x89D2)), {}},
      {"33 bytes do not", TFieldCharset::Gbk, QString(16, QChar(0x89D2)) + QStringLiteral("x"),
       QStringLiteral("Field 'password' holds at most 32 bytes: the text has 33")},
  };
  for (const auto& c : cases) {
    FUi->ClearRecord();
    model.SetCharset(c.charset);
    const std::string before = FData->FieldByName("password")->AsString();
    const bool stored = model.setData(model.index(0, 2), c.text, Qt::EditRole);
    QVERIFY2(stored == c.message.isEmpty(), c.name);
    if (c.message.isEmpty()) {
      QCOMPARE(model.index(0, 2).data().toString(), c.text);
      FData->Cancel();
      continue;
    }
    QCOMPARE(FUi->Messages().size(), size_t(1));
    QCOMPARE(FUi->Messages()[0].Args.Text, c.message);
    QCOMPARE(FData->FieldByName("password")->AsString(), before);
  }
}

QTEST_MAIN(DBGridTest)
#include "DBGrid_test.moc"
