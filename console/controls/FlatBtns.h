// The flat-style push button: owner-drawn face, border and focus frame in its own colours,
// radio behaviour among buttons of one GroupIndex, a glyph strip with up to four images.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include "console/controls/FlatUtilitys.h"

class QShortcut;

enum class TButtonState : uint8_t { bsUp, bsDisabled, bsDown, bsExclusive };
enum class TButtonLayout : uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

class TFlatButton : public QWidget {
  Q_OBJECT

 public:
  explicit TFlatButton(QWidget* parent = nullptr);
  ~TFlatButton() override;

  QString Caption() const { return FCaption; }
  void SetCaption(const QString& caption);

  TTransparentMode TransparentMode() const noexcept { return FTransparentMode; }
  void SetTransparentMode(TTransparentMode value);
  bool HasFocusFrame() const noexcept { return FHasFocusFrame; }
  void SetHasFocusFrame(bool value);
  bool Default() const noexcept { return FDefault; }
  void SetDefault(bool value);
  bool AllowAllUp() const noexcept { return FAllowAllUp; }
  void SetAllowAllUp(bool value) { FAllowAllUp = value; }

  QColor Color() const noexcept { return FColor; }
  void SetColor(QColor value);
  QColor ColorFocused() const noexcept { return FColorFocused; }
  void SetColorFocused(QColor value);
  QColor ColorDown() const noexcept { return FColorDown; }
  void SetColorDown(QColor value);
  QColor ColorBorder() const noexcept { return FColorBorder; }
  void SetColorBorder(QColor value);
  QColor ColorHighLight() const noexcept { return FColorHighLight; }
  void SetColorHighLight(QColor value);
  QColor ColorShadow() const noexcept { return FColorShadow; }
  void SetColorShadow(QColor value);
  TAdvColors AdvColorFocused() const noexcept { return FAdvColorFocused; }
  void SetAdvColorFocused(TAdvColors value);
  TAdvColors AdvColorDown() const noexcept { return FAdvColorDown; }
  void SetAdvColorDown(TAdvColors value);
  TAdvColors AdvColorBorder() const noexcept { return FAdvColorBorder; }
  void SetAdvColorBorder(TAdvColors value);
  bool UseAdvColors() const noexcept { return FUseAdvColors; }
  void SetUseAdvColors(bool value);

  int GroupIndex() const noexcept { return FGroupIndex; }
  void SetGroupIndex(int value);
  bool Down() const noexcept { return FDown; }
  void SetDown(bool value);

  const QImage& Glyph() const noexcept { return FGlyph; }
  void SetGlyph(const QImage& glyph);
  int NumGlyphs() const noexcept { return FNumGlyphs; }
  void SetNumGlyphs(int value);
  TButtonLayout Layout() const noexcept { return FLayout; }
  void SetLayout(TButtonLayout value);
  int Margin() const noexcept { return FMargin; }
  void SetMargin(int value);
  int Spacing() const noexcept { return FSpacing; }
  void SetSpacing(int value);
  int ModalResult() const noexcept { return FModalResult; }
  void SetModalResult(int value) { FModalResult = value; }

  TButtonState State() const noexcept { return FState; }
  // The mouse is over the button or it has the focus.
  bool Active() const noexcept { return FActive; }

  // Presses the button as a completed mouse click would.
  void Click();

  // Where the glyph and the caption go in a client area of the given size (origins of their
  // boxes); exposed for the layout tests.
  struct TPlacement {
    QPoint Glyph;
    QPoint Caption;
  };
  TPlacement Place(QSize client, QSize glyph, QSize caption) const;

 signals:
  void clicked();
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  friend class TFlatButtonTracker;
  void SetActive(bool value);
  void UpdateState();
  void UpdateAdvColors();
  void UpdateExclusive();
  void PaintFace(QPainter& painter, QRect& rect);
  void PaintGlyphAndCaption(QPainter& painter, const QRect& client);
  QImage GlyphForState() const;
  void CheckCursor();

  QString FCaption;
  QShortcut* FShortcut = nullptr;
  TTransparentMode FTransparentMode = TTransparentMode::tmNone;
  bool FHasFocusFrame = true;
  bool FDefault = false;
  bool FAllowAllUp = false;
  QColor FColor{235, 234, 225};
  QColor FColorFocused{235, 234, 225};
  QColor FColorDown{217, 214, 197};
  QColor FColorBorder{160, 150, 131};
  QColor FColorHighLight{255, 255, 255};
  QColor FColorShadow{0, 0, 0};
  TAdvColors FAdvColorFocused = 10;
  TAdvColors FAdvColorDown = 10;
  TAdvColors FAdvColorBorder = 50;
  bool FUseAdvColors = false;
  int FGroupIndex = 0;
  bool FDown = false;
  QImage FGlyph;
  int FNumGlyphs = 1;
  TButtonLayout FLayout = TButtonLayout::blGlyphTop;
  int FMargin = -1;
  int FSpacing = 4;
  int FModalResult = 0;
  TButtonState FState = TButtonState::bsUp;
  bool FActive = false;
  bool FDragging = false;
};
