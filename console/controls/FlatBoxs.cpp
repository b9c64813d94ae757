#include "console/controls/FlatBoxs.h"

#include <QEvent>
#include <QPainter>
#include <QShortcut>

TFlatGroupBox::TFlatGroupBox(QWidget* parent) : QWidget(parent) {
  resize(185, 105);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TFlatGroupBox::SetCaption(const QString& caption) {
  FCaption = caption;
  delete FShortcut;
  FShortcut = nullptr;
  QKeySequence key = QKeySequence::mnemonic(caption);
  if (!key.isEmpty()) {
    FShortcut = new QShortcut(key, this);
    FShortcut->setContext(Qt::WindowShortcut);
    connect(FShortcut, &QShortcut::activated, this, [this] {
      // Into the first child that takes the focus.
      for (QWidget* child : findChildren<QWidget*>())
        if (child->isEnabled() && child->isVisible() && child->focusPolicy() & Qt::TabFocus) {
          child->setFocus(Qt::ShortcutFocusReason);
          return;
        }
    });
  }
  update();
}

void TFlatGroupBox::SetColor(QColor value) {
  FColor = value;
  UpdateAdvColors();
  update();
}
void TFlatGroupBox::SetColorBorder(QColor value) {
  FColorBorder = value;
  update();
}
void TFlatGroupBox::SetBackgropStartColor(QColor value) {
  FStartColor = value;
  update();
}
void TFlatGroupBox::SetBackgropStopColor(QColor value) {
  FStopColor = value;
  update();
}
void TFlatGroupBox::SetBackgropOrien(TStyleOrien value) {
  FOrien = value;
  update();
}
void TFlatGroupBox::SetStyleFace(TStyleFace value) {
  FStyleFace = value;
  update();
}
void TFlatGroupBox::SetBorder(TGroupBoxBorder value) {
  FBorder = value;
  update();
}
void TFlatGroupBox::SetAdvColorBorder(TAdvColors value) {
  FAdvColorBorder = std::min<TAdvColors>(value, 100);
  UpdateAdvColors();
}
void TFlatGroupBox::SetUseAdvColors(bool value) {
  FUseAdvColors = value;
  UpdateAdvColors();
}
void TFlatGroupBox::SetTransparent(bool value) {
  FTransparent = value;
  setAttribute(Qt::WA_OpaquePaintEvent, !value);
  update();
}

void TFlatGroupBox::UpdateAdvColors() {
  if (!FUseAdvColors) return;
  FColorBorder = CalcAdvancedColor(FColor, FColorBorder, FAdvColorBorder, true);
  update();
}

void TFlatGroupBox::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) UpdateAdvColors();
  QWidget::changeEvent(event);
}

void TFlatGroupBox::PaintBorder(QPainter& painter, int tw, int th) {
  const QRect r = rect();
  const int l = r.left(), t = r.top(), right = r.left() + r.width(), b = r.top() + r.height();
  const int y = t + th / 2;
  painter.setPen(QPen(FColorBorder, 1));
  if (FBorder == TGroupBoxBorder::brFull) {
    const QPoint line[] = {{l + 5, y},         {l, y},         {l, b - 1},
                           {right - 1, b - 1}, {right - 1, y}, {l + 12 + tw, y}};
    painter.drawPolyline(line, 6);
  } else {
    painter.drawLine(l + 5, y, l, y);
    painter.drawLine(right - 1, y, l + 12 + tw, y);
  }
}

void TFlatGroupBox::paintEvent(QPaintEvent*) {
  QImage buffer(size(), QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&buffer);
  if (FTransparent) {
    buffer.fill(palette().color(QPalette::Window));
    DrawParentImage(*this, painter);
  } else if (FStyleFace == TStyleFace::fsCustom) {
    DrawGradient(painter, FStartColor, FStopColor, FOrien == TStyleOrien::bsVertical, buffer.rect());
  } else {
    buffer.fill(FColor);
  }
  const int flags = Qt::TextShowMnemonic | Qt::TextSingleLine;
  const QSize text =
      FCaption.isEmpty() ? QSize(0, fontMetrics().height()) : fontMetrics().size(flags, FCaption);
  PaintBorder(painter, text.width(), text.height());
  if (!FCaption.isEmpty()) {
    // Centred in the gap between L+5 and L+12+tw.
    QRect box(QPoint(rect().left() + 8, rect().top()), text);
    painter.setFont(font());
    if (isEnabled()) {
      painter.setPen(palette().color(QPalette::WindowText));
    } else {
      painter.setPen(palette().color(QPalette::Light));
      painter.drawText(box.translated(1, 1), flags, FCaption);
      painter.setPen(palette().color(QPalette::Dark));
    }
    painter.drawText(box, flags, FCaption);
  }
  painter.end();
  QPainter(this).drawImage(0, 0, buffer);
}
