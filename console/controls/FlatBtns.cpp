#include "console/controls/FlatBtns.h"

#include <QCursor>
#include <QDialog>
#include <QKeyEvent>
#include <QPainter>
#include <QShortcut>
#include <QTimer>
#include <memory>
#include <set>

// One 100 ms timer for all flat buttons: it clears the active flag of a button the mouse left
// without a leave event (a window covering it, the pointer jumping away). It exists while any
// flat button does.
class TFlatButtonTracker {
 public:
  static void Add(TFlatButton* button) {
    Buttons().insert(button);
    if (!Timer()) {
      Timer() = std::make_unique<QTimer>();
      Timer()->setInterval(100);
      QObject::connect(Timer().get(), &QTimer::timeout, [] {
        for (TFlatButton* b : std::set<TFlatButton*>(Buttons()))
          if (Buttons().count(b)) b->CheckCursor();
      });
      Timer()->start();
    }
  }
  static void Remove(TFlatButton* button) {
    Buttons().erase(button);
    if (Buttons().empty()) Timer().reset();
  }

 private:
  static std::set<TFlatButton*>& Buttons() {
    static std::set<TFlatButton*> buttons;
    return buttons;
  }
  static std::unique_ptr<QTimer>& Timer() {
    static std::unique_ptr<QTimer> timer;
    return timer;
  }
};

TFlatButton::TFlatButton(QWidget* parent) : QWidget(parent) {
  resize(80, 25);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  TFlatButtonTracker::Add(this);
}

TFlatButton::~TFlatButton() {
  TFlatButtonTracker::Remove(this);
}

void TFlatButton::SetCaption(const QString& caption) {
  FCaption = caption;
  delete FShortcut;
  FShortcut = nullptr;
  QKeySequence key = QKeySequence::mnemonic(caption);
  if (!key.isEmpty()) {
    FShortcut = new QShortcut(key, this);
    FShortcut->setContext(Qt::WindowShortcut);
    connect(FShortcut, &QShortcut::activated, this, [this] {
      if (!isEnabled()) return;
      if (FGroupIndex != 0) SetDown(true);
      Click();
    });
  }
  update();
}

void TFlatButton::SetTransparentMode(TTransparentMode value) {
  FTransparentMode = value;
  update();
}
void TFlatButton::SetHasFocusFrame(bool value) {
  FHasFocusFrame = value;
  update();
}
void TFlatButton::SetDefault(bool value) {
  FDefault = value;
  update();
}
void TFlatButton::SetColor(QColor value) {
  FColor = value;
  UpdateAdvColors();
  update();
}
void TFlatButton::SetColorFocused(QColor value) {
  FColorFocused = value;
  update();
}
void TFlatButton::SetColorDown(QColor value) {
  FColorDown = value;
  update();
}
void TFlatButton::SetColorBorder(QColor value) {
  FColorBorder = value;
  update();
}
void TFlatButton::SetColorHighLight(QColor value) {
  FColorHighLight = value;
  update();
}
void TFlatButton::SetColorShadow(QColor value) {
  FColorShadow = value;
  update();
}
void TFlatButton::SetAdvColorFocused(TAdvColors value) {
  FAdvColorFocused = std::min<TAdvColors>(value, 100);
  UpdateAdvColors();
}
void TFlatButton::SetAdvColorDown(TAdvColors value) {
  FAdvColorDown = std::min<TAdvColors>(value, 100);
  UpdateAdvColors();
}
void TFlatButton::SetAdvColorBorder(TAdvColors value) {
  FAdvColorBorder = std::min<TAdvColors>(value, 100);
  UpdateAdvColors();
}
void TFlatButton::SetUseAdvColors(bool value) {
  FUseAdvColors = value;
  UpdateAdvColors();
}

void TFlatButton::UpdateAdvColors() {
  if (!FUseAdvColors) return;
  FColorFocused = CalcAdvancedColor(FColor, FColorFocused, FAdvColorFocused, false);
  FColorDown = CalcAdvancedColor(FColor, FColorDown, FAdvColorDown, true);
  FColorBorder = CalcAdvancedColor(FColor, FColorBorder, FAdvColorBorder, true);
  update();
}

void TFlatButton::SetGroupIndex(int value) {
  FGroupIndex = value;
  if (FGroupIndex == 0 && FDown) {
    FDown = false;
    FState = isEnabled() ? TButtonState::bsUp : TButtonState::bsDisabled;
  }
  UpdateExclusive();
  update();
}

void TFlatButton::SetDown(bool value) {
  if (FGroupIndex == 0) value = false;
  if (value == FDown) return;
  if (FDown && !FAllowAllUp) return;
  FDown = value;
  if (isEnabled()) FState = value ? TButtonState::bsExclusive : TButtonState::bsUp;
  if (value) UpdateExclusive();
  update();
}

void TFlatButton::UpdateExclusive() {
  if (FGroupIndex == 0 || !FDown || !parentWidget()) return;
  for (TFlatButton* sibling : parentWidget()->findChildren<TFlatButton*>(Qt::FindDirectChildrenOnly)) {
    if (sibling == this || sibling->FGroupIndex != FGroupIndex || !sibling->FDown) continue;
    sibling->FDown = false;
    if (sibling->isEnabled()) sibling->FState = TButtonState::bsUp;
    sibling->FAllowAllUp = FAllowAllUp;
    sibling->update();
  }
}

void TFlatButton::SetGlyph(const QImage& glyph) {
  FGlyph = glyph;
  update();
}
void TFlatButton::SetNumGlyphs(int value) {
  FNumGlyphs = std::clamp(value, 1, 4);
  update();
}
void TFlatButton::SetLayout(TButtonLayout value) {
  FLayout = value;
  update();
}
void TFlatButton::SetMargin(int value) {
  FMargin = value;
  update();
}
void TFlatButton::SetSpacing(int value) {
  FSpacing = value;
  update();
}

void TFlatButton::Click() {
  emit clicked();
  if (FModalResult == 0) return;
  if (auto* dialog = qobject_cast<QDialog*>(window())) dialog->done(FModalResult);
}

void TFlatButton::SetActive(bool value) {
  if (FActive == value) return;
  FActive = value;
  update();
}

void TFlatButton::CheckCursor() {
  if (!FActive || FDragging || hasFocus()) return;
  if (!isVisible() || !rect().contains(mapFromGlobal(QCursor::pos()))) SetActive(false);
}

void TFlatButton::UpdateState() {
  if (!isEnabled()) {
    FState = TButtonState::bsDisabled;
    FDragging = false;
  } else if (FState == TButtonState::bsDisabled) {
    FState = FDown && FGroupIndex != 0 ? TButtonState::bsExclusive : TButtonState::bsUp;
  }
}

void TFlatButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) UpdateState();
  if (event->type() == QEvent::PaletteChange) UpdateAdvColors();
  QWidget::changeEvent(event);
  update();
}

void TFlatButton::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (FTransparentMode != TTransparentMode::tmNone) update();
}

void TFlatButton::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (FTransparentMode != TTransparentMode::tmNone) update();
}

void TFlatButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isEnabled()) return QWidget::mousePressEvent(event);
  if (!FDown) FState = TButtonState::bsDown;
  FDragging = true;
  setFocus(Qt::MouseFocusReason);
  update();
}

void TFlatButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !FDragging) return QWidget::mouseReleaseEvent(event);
  FDragging = false;
  const bool inside = rect().contains(event->position().toPoint());
  if (FGroupIndex == 0) {
    FState = TButtonState::bsUp;
  } else if (inside) {
    SetDown(!FDown);
  } else {
    FState = FDown ? TButtonState::bsExclusive : TButtonState::bsUp;
  }
  if (!inside) SetActive(false);
  update();
  if (inside) Click();
}

void TFlatButton::mouseDoubleClickEvent(QMouseEvent* event) {
  if (FDown) emit doubleClicked();
  mousePressEvent(event);
}

void TFlatButton::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (isEnabled()) SetActive(true);
}

void TFlatButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (!FDragging && !hasFocus()) SetActive(false);
}

void TFlatButton::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  SetActive(true);
}

void TFlatButton::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  if (!FDragging) SetActive(false);
}

void TFlatButton::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
    if (FGroupIndex != 0)
      SetDown(true);
    else
      FState = TButtonState::bsDown;
    update();
  } else if (enter && FActive && !(event->modifiers() & Qt::ShiftModifier)) {
    Click();
  } else {
    QWidget::keyPressEvent(event);
  }
}

void TFlatButton::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space || event->isAutoRepeat()) return QWidget::keyReleaseEvent(event);
  if (FGroupIndex != 0)
    SetDown(false);
  else
    FState = TButtonState::bsUp;
  update();
  Click();
}

TFlatButton::TPlacement TFlatButton::Place(QSize client, QSize glyph, QSize caption) const {
  const bool across = FLayout == TButtonLayout::blGlyphLeft || FLayout == TButtonLayout::blGlyphRight;
  const int extent = across ? client.width() : client.height();
  const int g = across ? glyph.width() : glyph.height();
  const int t = across ? caption.width() : caption.height();
  int margin = FMargin;
  int spacing = glyph.isEmpty() || caption.isEmpty() ? 0 : FSpacing;
  if (margin == -1 && spacing == -1) {
    margin = (extent - (g + t)) / 3;
    spacing = margin;
  } else if (margin == -1) {
    margin = (extent - (g + spacing + t) + 1) / 2;
  } else if (spacing == -1) {
    spacing = (extent - margin - g - t) / 2;
  }
  int glyphAt = margin;
  int captionAt = margin + g + spacing;
  if (FLayout == TButtonLayout::blGlyphRight || FLayout == TButtonLayout::blGlyphBottom) {
    glyphAt = extent - margin - g;
    captionAt = glyphAt - spacing - t;
  }
  if (across)
    return {QPoint(glyphAt, (client.height() - glyph.height() + 1) / 2),
            QPoint(captionAt, (client.height() - caption.height() + 1) / 2)};
  return {QPoint((client.width() - glyph.width() + 1) / 2, glyphAt),
          QPoint((client.width() - caption.width() + 1) / 2, captionAt)};
}

QImage TFlatButton::GlyphForState() const {
  if (FGlyph.isNull()) return {};
  const int count = std::max(1, std::min(FNumGlyphs, FGlyph.width()));
  const int w = FGlyph.width() / count;
  int index = 0;
  if (FState == TButtonState::bsDisabled)
    index = count >= 2 ? 1 : -1;
  else if (FState == TButtonState::bsDown)
    index = count >= 3 ? 2 : 0;
  else if (FState == TButtonState::bsExclusive)
    index = count == 4 ? 3 : (count == 3 ? 2 : 0);
  if (index < 0) {
    // No disabled image in the strip: grey the whole picture, its bottom-left pixel transparent.
    QColor clear = FGlyph.pixelColor(0, FGlyph.height() - 1);
    return CreateDisabledBitmap(FGlyph, clear, FColor, FColorHighLight, palette().color(QPalette::Dark),
                                true);
  }
  if (count == 1) return FGlyph;
  const int right = index == count - 1 ? FGlyph.width() : (index + 1) * w;
  return FGlyph.copy(index * w, 0, right - index * w, FGlyph.height());
}

void TFlatButton::PaintFace(QPainter& painter, QRect& rect) {
  const bool showParent = FTransparentMode == TTransparentMode::tmAlways ||
                          (FTransparentMode == TTransparentMode::tmNotFocused && !FActive);
  if (showParent) {
    painter.fillRect(rect, palette().color(QPalette::Window));
    DrawParentImage(*this, painter);
  } else {
    QColor face = FColor;
    if (FState == TButtonState::bsUp)
      face = FActive ? FColorFocused : FColor;
    else if (FState == TButtonState::bsDown)
      face = FColorDown;
    else if (FState == TButtonState::bsExclusive)
      face = FActive ? FColorFocused : FColorDown;
    painter.fillRect(rect, face);
  }
  if (FState == TButtonState::bsUp && FActive)
    Frame3D(painter, rect, FColorHighLight, FColorShadow, 1);
  else if (FState == TButtonState::bsUp && FDefault)
    Frame3D(painter, rect, FColorBorder, FColorBorder, 2);
  else if (FState == TButtonState::bsUp || FState == TButtonState::bsDisabled)
    Frame3D(painter, rect, FColorBorder, FColorBorder, 1);
  else
    Frame3D(painter, rect, FColorShadow, FColorHighLight, 1);
}

void TFlatButton::PaintGlyphAndCaption(QPainter& painter, const QRect& client) {
  const QImage glyph = GlyphForState();
  const int flags = Qt::TextShowMnemonic | Qt::TextSingleLine;
  const QSize text = FCaption.isEmpty() ? QSize() : fontMetrics().size(flags, FCaption);
  const TPlacement at = Place(client.size(), glyph.size(), text);
  const QPoint origin = client.topLeft();
  if (!glyph.isNull()) painter.drawImage(at.Glyph + origin, glyph);
  if (FCaption.isEmpty()) return;
  QRect box(at.Caption + origin, text);
  painter.setFont(font());
  if (FState == TButtonState::bsDisabled) {
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(box.translated(1, 1), flags, FCaption);
    painter.setPen(palette().color(QPalette::Dark));
  } else {
    painter.setPen(palette().color(QPalette::ButtonText));
  }
  painter.drawText(box, flags, FCaption);
}

void TFlatButton::paintEvent(QPaintEvent*) {
  QImage buffer(size(), QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&buffer);
  QRect rect = buffer.rect();
  PaintFace(painter, rect);
  if (FActive && FHasFocusFrame) {
    QRect focus = rect.adjusted(1, 1, -2, -2);
    painter.setPen(QPen(FColorShadow, 1, Qt::DotLine));
    painter.drawRect(focus);
  }
  PaintGlyphAndCaption(painter, this->rect());
  painter.end();
  QPainter(this).drawImage(0, 0, buffer);
}
