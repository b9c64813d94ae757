// Drawing helpers of the flat-style controls: the banded gradient, the 3-D frame, colours
// lightened or darkened on the 0-240 hue/luminance/saturation scale, the parent's background
// behind a transparent control and the greyed picture of a disabled glyph.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <cstdint>

class QPainter;
class QWidget;

enum class TTransparentMode : uint8_t { tmAlways, tmNotFocused, tmNone };
enum class TGroupBoxBorder : uint8_t { brFull, brOnlyTopLine };
enum class TStyleOrien : uint8_t { bsHorizontal, bsVertical };
enum class TStyleFace : uint8_t { fsDefault, fsCustom };
// How far (0 to 100) a colour is lightened or darkened.
using TAdvColors = uint8_t;

// 32 bands from start to stop: horizontal strips top to bottom when vertical, else vertical
// strips left to right. Band i starts at i * extent / 31, is extent / 31 + 1 thick and is cut
// at the rectangle's end; its colour is start + i * (stop - start) / 31 per channel.
void DrawGradient(QPainter& painter, QColor start, QColor stop, bool vertical, QRect rect);

// Draws width nested frames: left and top edges in top, right and bottom edges in bottom.
// rect shrinks by one on every side per frame (its right and bottom first lose one pixel, as
// a rectangle's edge lines lie inside it).
void Frame3D(QPainter& painter, QRect& rect, QColor top, QColor bottom, int width);

// Hue, luminance and saturation on the 0-240 scale, and back.
struct THls {
  int H;
  int L;
  int S;
};
THls ColorToHls(QColor color) noexcept;
QColor HlsToColor(THls hls) noexcept;

// current unchanged for an amount of 0; otherwise base with its luminance raised by 10 and then
// lowered by amount (not below 0) or raised by it (not above 100).
QColor CalcAdvancedColor(QColor base, QColor current, TAdvColors amount, bool darken) noexcept;

// Paints what the parent shows behind control (its background, not its other children) into
// painter, whose origin is the control's top-left corner. Does nothing without a parent.
void DrawParentImage(const QWidget& control, QPainter& painter);

// The greyed picture of a glyph: on a background-filled image of the glyph's size, every pixel
// that is not the transparent colour is painted at (1,1) in highlight (when useHighlight) and
// then at (0,0) in shadow.
QImage CreateDisabledBitmap(const QImage& glyph, QColor transparent, QColor background, QColor highlight,
                            QColor shadow, bool useHighlight);
