// JPEG decoding: pictures come out with their size and colours, and broken data of every kind
// gives an error or a picture, never a crash (each prefix of a real file is tried).
#include "platform/widgets/JpegDecoder.h"

#include <QBuffer>
#include <QImage>
#include <QtTest>

#include "platform/widgets/JpegImage.h"

namespace {

QByteArray Encode(const QImage& image, int quality = 95) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "JPG", quality)) qFatal("no JPEG writer");
  return bytes;
}

// Left half red, right half blue: big flat areas survive compression almost exactly.
QImage TwoColours(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, x < w / 2 ? qRgb(220, 20, 20) : qRgb(20, 20, 220));
  return image;
}

bool Near(QRgb a, QRgb b) {
  return qAbs(qRed(a) - qRed(b)) < 12 && qAbs(qGreen(a) - qGreen(b)) < 12 && qAbs(qBlue(a) - qBlue(b)) < 12;
}

std::string_view View(const QByteArray& bytes) {
  return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

// Offset of the frame header's height field (SOF0 marker FF C0, length, precision).
qsizetype SofSizeOffset(const QByteArray& jpeg) {
  qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
  return sof < 0 ? -1 : sof + 5;
}

}  // namespace

class JpegDecoderTest : public QObject {
  Q_OBJECT

 private slots:
  void ColourPicture();
  void BrokenData_data();
  void BrokenData();
  void EveryPrefixDecodesOrFails();
  void OversizedFrameIsRefused();
};

void JpegDecoderTest::ColourPicture() {
  QImage image = JpegToImage(View(Encode(TwoColours(64, 40))));
  QCOMPARE(image.size(), QSize(64, 40));
  QVERIFY(Near(image.pixel(5, 20), qRgb(220, 20, 20)));
  QVERIFY(Near(image.pixel(58, 20), qRgb(20, 20, 220)));
  QCOMPARE(qAlpha(image.pixel(0, 0)), 255);
  QImage grey(33, 17, QImage::Format_Grayscale8);
  grey.fill(128);
  image = JpegToImage(View(Encode(grey)));
  QCOMPARE(image.size(), QSize(33, 17));
  QVERIFY(Near(image.pixel(20, 10), qRgb(128, 128, 128)));
}

void JpegDecoderTest::BrokenData_data() {
  QTest::addColumn<QByteArray>("data");
  QByteArray good = Encode(TwoColours(16, 16));
  QTest::newRow("empty") << QByteArray();
  QTest::newRow("not a jpeg") << QByteArray("GIF89a\x01\x00\x01\x00", 10);
  QTest::newRow("start marker only") << QByteArray("\xFF\xD8", 2);
  QTest::newRow("header cut") << good.left(good.indexOf(QByteArray("\xFF\xC0", 2)) + 4);
  QByteArray zeroWidth = good;
  zeroWidth[SofSizeOffset(good) + 2] = 0;
  zeroWidth[SofSizeOffset(good) + 3] = 0;
  QTest::newRow("zero width") << zeroWidth;
}

void JpegDecoderTest::BrokenData() {
  QFETCH(QByteArray, data);
  TJpegPicture picture;
  std::string error;
  QVERIFY(!DecodeJpeg(View(data), picture, error));
  QVERIFY(!error.empty());
  QVERIFY(picture.Pixels.empty());
  QVERIFY(JpegToImage(View(data)).isNull());
}

void JpegDecoderTest::EveryPrefixDecodesOrFails() {
  QByteArray good = Encode(TwoColours(24, 24), 80);
  int decoded = 0;
  for (qsizetype n = 0; n <= good.size(); ++n) {
    // Exactly n bytes on the heap, so an over-read past them is caught by the sanitizer.
    std::vector<char> cut(good.constData(), good.constData() + n);
    TJpegPicture picture;
    std::string error;
    if (DecodeJpeg({cut.data(), cut.size()}, picture, error)) {
      QCOMPARE(picture.Pixels.size(), size_t(24 * 24));
      ++decoded;
    } else {
      QVERIFY(!error.empty());
    }
  }
  QVERIFY(decoded > 0);  // cut after the first scan data, libjpeg still gives the picture
}

void JpegDecoderTest::OversizedFrameIsRefused() {
  QByteArray data = Encode(TwoColours(16, 16));
  qsizetype at = SofSizeOffset(data);
  QVERIFY(at > 0);
  // 60000 x 60000: the header alone asks for gigabytes; refused before anything is allocated.
  data[at] = char(0xEA), data[at + 1] = char(0x60), data[at + 2] = char(0xEA), data[at + 3] = char(0x60);
  TJpegPicture picture;
  std::string error;
  QVERIFY(!DecodeJpeg(View(data), picture, error));
  QVERIFY2(error.find("exceeds the limit") != std::string::npos, error.c_str());
}

QTEST_MAIN(JpegDecoderTest)
#include "JpegDecoder_test.moc"
