// The flat-style controls as a person sees them: colours at the border and face pixels of a
// grab, radio groups, the banded gradient, the lightened colour and the glyph layout.
#include <QPainter>
#include <QtTest>

#include "console/controls/FlatBoxs.h"
#include "console/controls/FlatBtns.h"

namespace {
const QColor kBorder(160, 150, 131);
const QColor kFace(235, 234, 225);
const QColor kDown(217, 214, 197);

QColor At(const QImage& img, int x, int y) {
  return img.pixelColor(x, y);
}
}  // namespace

class FlatControlsTest : public QObject {
  Q_OBJECT

 private slots:
  void ButtonGrabShowsBorderAndFace_data();
  void ButtonGrabShowsBorderAndFace();
  void PressingSecondOfGroupReleasesFirst();
  void DownNeedsGroupAndAllowAllUpToRelease();
  void GradientOf31PixelsHas31Strips_data();
  void GradientOf31PixelsHas31Strips();
  void AdvancedColourCapsLuminance();
  void GlyphAndCaptionPlacement_data();
  void GlyphAndCaptionPlacement();
  void GroupBoxFullBorderLeavesCaptionGap();
};

void FlatControlsTest::ButtonGrabShowsBorderAndFace_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QColor>("topLeft");
  QTest::addColumn<QColor>("bottomRight");
  QTest::addColumn<QColor>("secondRing");
  QTest::addColumn<QColor>("face");
  QTest::newRow("default look") << "plain" << kBorder << kBorder << kFace << kFace;
  QTest::newRow("default button: double border") << "default" << kBorder << kBorder << kBorder << kFace;
  QTest::newRow("grouped and down: sunken")
      << "down" << QColor(Qt::black) << QColor(Qt::white) << kDown << kDown;
  QTest::newRow("disabled: plain border") << "disabled" << kBorder << kBorder << kFace << kFace;
}

void FlatControlsTest::ButtonGrabShowsBorderAndFace() {
  QFETCH(QString, kind);
  QFETCH(QColor, topLeft);
  QFETCH(QColor, bottomRight);
  QFETCH(QColor, secondRing);
  QFETCH(QColor, face);
  QWidget parent;
  auto* button = new TFlatButton(&parent);
  QCOMPARE(button->size(), QSize(80, 25));
  if (kind == "default") button->SetDefault(true);
  if (kind == "down") {
    button->SetGroupIndex(1);
    button->SetDown(true);
  }
  if (kind == "disabled") button->setEnabled(false);
  const QImage img = button->grab().toImage();
  QCOMPARE(At(img, 0, 0), topLeft);
  QCOMPARE(At(img, 40, 0), topLeft);
  QCOMPARE(At(img, 0, 12), topLeft);
  QCOMPARE(At(img, 79, 12), bottomRight);
  QCOMPARE(At(img, 40, 24), bottomRight);
  QCOMPARE(At(img, 1, 1), secondRing);
  QCOMPARE(At(img, 40, 12), face);
}

void FlatControlsTest::PressingSecondOfGroupReleasesFirst() {
  QWidget parent;
  parent.resize(200, 40);
  auto* first = new TFlatButton(&parent);
  auto* second = new TFlatButton(&parent);
  auto* other = new TFlatButton(&parent);
  second->move(90, 0);
  other->move(0, 30);
  for (TFlatButton* b : {first, second}) b->SetGroupIndex(1);
  other->SetGroupIndex(2);
  other->SetDown(true);
  parent.show();
  QVERIFY(QTest::qWaitForWindowExposed(&parent));
  int clicks = 0;
  connect(second, &TFlatButton::clicked, [&] { ++clicks; });
  QTest::mouseClick(first, Qt::LeftButton);
  QVERIFY(first->Down());
  QTest::mouseClick(second, Qt::LeftButton);
  QVERIFY(second->Down());
  QVERIFY(!first->Down());
  QCOMPARE(first->State(), TButtonState::bsUp);
  QVERIFY(other->Down());  // another group is not touched
  QCOMPARE(clicks, 1);
}

void FlatControlsTest::DownNeedsGroupAndAllowAllUpToRelease() {
  QWidget parent;
  auto* b = new TFlatButton(&parent);
  b->SetDown(true);
  QVERIFY(!b->Down());  // no group: never down
  b->SetGroupIndex(3);
  b->SetDown(true);
  b->SetDown(false);
  QVERIFY(b->Down());  // AllowAllUp false keeps it down
  b->SetAllowAllUp(true);
  b->SetDown(false);
  QVERIFY(!b->Down());
}

void FlatControlsTest::GradientOf31PixelsHas31Strips_data() {
  QTest::addColumn<bool>("vertical");
  QTest::newRow("horizontal: vertical strips") << false;
  QTest::newRow("vertical: horizontal strips") << true;
}

void FlatControlsTest::GradientOf31PixelsHas31Strips() {
  QFETCH(bool, vertical);
  const QColor start(10, 200, 30), stop(250, 20, 100);
  QImage img(vertical ? QSize(7, 31) : QSize(31, 7), QImage::Format_RGB32);
  img.fill(Qt::magenta);
  QPainter p(&img);
  DrawGradient(p, start, stop, vertical, img.rect());
  p.end();
  for (int i = 0; i < 31; ++i) {
    const QColor expected(10 + i * 240 / 31, 200 - i * 180 / 31, 30 + i * 70 / 31);
    for (int across = 0; across < 7; ++across)
      QCOMPARE(vertical ? At(img, across, i) : At(img, i, across), expected);
  }
  QCOMPARE(At(img, 0, 0), start);
}

void FlatControlsTest::AdvancedColourCapsLuminance() {
  // Luminance above 90 of 240: lightening gives 100, a darker colour.
  const QColor light(200, 200, 200);
  QVERIFY(ColorToHls(light).L > 90);
  const QColor lightened = CalcAdvancedColor(light, Qt::red, 10, false);
  QCOMPARE(ColorToHls(lightened).L, 100);
  QVERIFY(lightened.red() < light.red());
  QCOMPARE(CalcAdvancedColor(light, Qt::red, 0, false), QColor(Qt::red));
  QCOMPARE(ColorToHls(CalcAdvancedColor(QColor(20, 20, 20), Qt::red, 50, true)).L, 0);
}

void FlatControlsTest::GlyphAndCaptionPlacement_data() {
  QTest::addColumn<int>("layout");
  QTest::addColumn<int>("margin");
  QTest::addColumn<int>("spacing");
  QTest::addColumn<QSize>("client");
  QTest::addColumn<QPoint>("glyph");
  QTest::addColumn<QPoint>("caption");
  // Glyph 16 x 16, caption 30 x 14.
  QTest::newRow("top, centred") << int(TButtonLayout::blGlyphTop) << -1 << 4 << QSize(80, 60)
                                << QPoint(32, 13) << QPoint(25, 33);
  QTest::newRow("right, margin set") << int(TButtonLayout::blGlyphRight) << 5 << -1 << QSize(80, 25)
                                     << QPoint(59, 5) << QPoint(15, 6);
  QTest::newRow("left, both free") << int(TButtonLayout::blGlyphLeft) << -1 << -1 << QSize(80, 25)
                                   << QPoint(11, 5) << QPoint(38, 6);
  QTest::newRow("bottom, margin set")
      << int(TButtonLayout::blGlyphBottom) << 2 << 4 << QSize(80, 60) << QPoint(32, 42) << QPoint(25, 24);
}

void FlatControlsTest::GlyphAndCaptionPlacement() {
  QFETCH(int, layout);
  QFETCH(int, margin);
  QFETCH(int, spacing);
  QFETCH(QSize, client);
  QFETCH(QPoint, glyph);
  QFETCH(QPoint, caption);
  TFlatButton b;
  b.SetLayout(static_cast<TButtonLayout>(layout));
  b.SetMargin(margin);
  b.SetSpacing(spacing);
  const auto at = b.Place(client, QSize(16, 16), QSize(30, 14));
  QCOMPARE(at.Glyph, glyph);
  QCOMPARE(at.Caption, caption);
}

void FlatControlsTest::GroupBoxFullBorderLeavesCaptionGap() {
  TFlatGroupBox box;
  box.SetCaption(QStringLiteral("分区"));
  const QImage img = box.grab().toImage();
  const int y = box.fontMetrics().height() / 2;
  QCOMPARE(At(img, 0, y), kBorder);
  QCOMPARE(At(img, 184, y), kBorder);
  QCOMPARE(At(img, 92, 104), kBorder);
  QCOMPARE(At(img, 90, 50), kFace);
}

QTEST_MAIN(FlatControlsTest)
#include "FlatControls_test.moc"
