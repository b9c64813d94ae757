#include "console/controls/FlatUtilitys.h"

#include <QPainter>
#include <QWidget>
#include <algorithm>

namespace {

constexpr int kHlsMax = 240;
constexpr int kRgbMax = 255;
constexpr int kUndefinedHue = kHlsMax * 2 / 3;

int HueToRgb(int n1, int n2, int hue) {
  if (hue < 0) hue += kHlsMax;
  if (hue > kHlsMax) hue -= kHlsMax;
  if (hue < kHlsMax / 6) return n1 + ((n2 - n1) * hue + kHlsMax / 12) / (kHlsMax / 6);
  if (hue < kHlsMax / 2) return n2;
  if (hue < kHlsMax * 2 / 3) return n1 + ((n2 - n1) * (kHlsMax * 2 / 3 - hue) + kHlsMax / 12) / (kHlsMax / 6);
  return n1;
}

int Channel(int value) {
  return std::clamp((value * kRgbMax + kHlsMax / 2) / kHlsMax, 0, kRgbMax);
}

}  // namespace

void DrawGradient(QPainter& painter, QColor start, QColor stop, bool vertical, QRect rect) {
  const int extent = vertical ? rect.height() : rect.width();
  const int step = extent / 31;
  const int r0 = start.red(), g0 = start.green(), b0 = start.blue();
  const int dr = stop.red() - r0, dg = stop.green() - g0, db = stop.blue() - b0;
  painter.save();
  painter.setClipRect(rect, Qt::IntersectClip);
  for (int i = 0; i < 32; ++i) {
    const int from = i * extent / 31;
    const int thick = std::min(step + 1, extent - from);
    if (thick <= 0) continue;
    QColor band(r0 + i * dr / 31, g0 + i * dg / 31, b0 + i * db / 31);
    QRect strip = vertical ? QRect(rect.left(), rect.top() + from, rect.width(), thick)
                           : QRect(rect.left() + from, rect.top(), thick, rect.height());
    painter.fillRect(strip, band);
  }
  painter.restore();
}

void Frame3D(QPainter& painter, QRect& rect, QColor top, QColor bottom, int width) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  // Right and bottom as the last pixel inside, like the rectangle's own edge lines.
  int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
  for (int n = 0; n < width && l <= r && t <= b; ++n) {
    painter.setPen(QPen(top, 1));
    painter.drawLine(l, b, l, t);
    painter.drawLine(l, t, r, t);
    painter.setPen(QPen(bottom, 1));
    painter.drawLine(r, t, r, b);
    painter.drawLine(r, b, l + 1, b);
    ++l, ++t, --r, --b;
  }
  painter.restore();
  rect = QRect(QPoint(l, t), QPoint(r, b));
}

THls ColorToHls(QColor color) noexcept {
  const int r = color.red(), g = color.green(), b = color.blue();
  const int cmax = std::max({r, g, b}), cmin = std::min({r, g, b});
  THls hls{kUndefinedHue, ((cmax + cmin) * kHlsMax + kRgbMax) / (2 * kRgbMax), 0};
  if (cmax == cmin) return hls;
  const int diff = cmax - cmin, sum = cmax + cmin;
  hls.S = hls.L <= kHlsMax / 2 ? (diff * kHlsMax + sum / 2) / sum
                               : (diff * kHlsMax + (2 * kRgbMax - sum) / 2) / (2 * kRgbMax - sum);
  const int rd = ((cmax - r) * (kHlsMax / 6) + diff / 2) / diff;
  const int gd = ((cmax - g) * (kHlsMax / 6) + diff / 2) / diff;
  const int bd = ((cmax - b) * (kHlsMax / 6) + diff / 2) / diff;
  if (r == cmax)
    hls.H = bd - gd;
  else if (g == cmax)
    hls.H = kHlsMax / 3 + rd - bd;
  else
    hls.H = kHlsMax * 2 / 3 + gd - rd;
  if (hls.H < 0) hls.H += kHlsMax;
  if (hls.H > kHlsMax) hls.H -= kHlsMax;
  return hls;
}

QColor HlsToColor(THls hls) noexcept {
  if (hls.S == 0) {
    const int v = Channel(hls.L);
    return QColor(v, v, v);
  }
  const int m2 = hls.L <= kHlsMax / 2 ? (hls.L * (kHlsMax + hls.S) + kHlsMax / 2) / kHlsMax
                                      : hls.L + hls.S - (hls.L * hls.S + kHlsMax / 2) / kHlsMax;
  const int m1 = 2 * hls.L - m2;
  return QColor(Channel(HueToRgb(m1, m2, hls.H + kHlsMax / 3)), Channel(HueToRgb(m1, m2, hls.H)),
                Channel(HueToRgb(m1, m2, hls.H - kHlsMax / 3)));
}

QColor CalcAdvancedColor(QColor base, QColor current, TAdvColors amount, bool darken) noexcept {
  if (amount == 0) return current;
  THls hls = ColorToHls(base);
  hls.L += 10;
  hls.L = darken ? std::max(hls.L - amount, 0) : std::min(hls.L + amount, 100);
  return HlsToColor(hls);
}

void DrawParentImage(const QWidget& control, QPainter& painter) {
  QWidget* parent = control.parentWidget();
  if (!parent) return;
  // Background only: asking for the children too would paint this control inside itself.
  // The part of the control inside the parent's client area, placed at the control's origin.
  const QRect source = control.geometry().intersected(parent->rect());
  if (source.isEmpty()) return;
  parent->render(&painter, source.topLeft() - control.pos(), QRegion(source), QWidget::DrawWindowBackground);
}

QImage CreateDisabledBitmap(const QImage& glyph, QColor transparent, QColor background, QColor highlight,
                            QColor shadow, bool useHighlight) {
  QImage result(glyph.size(), QImage::Format_RGB32);
  result.fill(background);
  const QRgb clear = transparent.rgb() & 0xFFFFFF;
  auto paint = [&](int dx, int dy, QColor colour) {
    for (int y = 0; y < glyph.height(); ++y)
      for (int x = 0; x < glyph.width(); ++x) {
        if ((glyph.pixel(x, y) & 0xFFFFFF) == clear) continue;
        if (x + dx < result.width() && y + dy < result.height()) result.setPixelColor(x + dx, y + dy, colour);
      }
  };
  if (useHighlight) paint(1, 1, highlight);
  paint(0, 0, shadow);
  return result;
}
