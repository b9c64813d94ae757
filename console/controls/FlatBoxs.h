// The flat-style group box: a plain, gradient or transparent face, a full frame or only the top
// line, and the caption in the frame's gap. It holds child controls like any container.
#pragma once

#include <QColor>
#include <QWidget>

#include "console/controls/FlatUtilitys.h"

class QShortcut;

class TFlatGroupBox : public QWidget {
  Q_OBJECT

 public:
  explicit TFlatGroupBox(QWidget* parent = nullptr);

  QString Caption() const { return FCaption; }
  void SetCaption(const QString& caption);

  QColor Color() const noexcept { return FColor; }
  void SetColor(QColor value);
  QColor ColorBorder() const noexcept { return FColorBorder; }
  void SetColorBorder(QColor value);
  QColor BackgropStartColor() const noexcept { return FStartColor; }
  void SetBackgropStartColor(QColor value);
  QColor BackgropStopColor() const noexcept { return FStopColor; }
  void SetBackgropStopColor(QColor value);
  TStyleOrien BackgropOrien() const noexcept { return FOrien; }
  void SetBackgropOrien(TStyleOrien value);
  TStyleFace StyleFace() const noexcept { return FStyleFace; }
  void SetStyleFace(TStyleFace value);
  TGroupBoxBorder Border() const noexcept { return FBorder; }
  void SetBorder(TGroupBoxBorder value);
  TAdvColors AdvColorBorder() const noexcept { return FAdvColorBorder; }
  void SetAdvColorBorder(TAdvColors value);
  bool UseAdvColors() const noexcept { return FUseAdvColors; }
  void SetUseAdvColors(bool value);
  bool Transparent() const noexcept { return FTransparent; }
  void SetTransparent(bool value);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void UpdateAdvColors();
  void PaintBorder(QPainter& painter, int captionWidth, int captionHeight);

  QString FCaption;
  QShortcut* FShortcut = nullptr;
  QColor FColor{235, 234, 225};
  QColor FColorBorder{160, 150, 131};
  QColor FStartColor{128, 128, 128};
  QColor FStopColor{255, 255, 255};
  TStyleOrien FOrien = TStyleOrien::bsHorizontal;
  TStyleFace FStyleFace = TStyleFace::fsDefault;
  TGroupBoxBorder FBorder = TGroupBoxBorder::brFull;
  TAdvColors FAdvColorBorder = 50;
  bool FUseAdvColors = false;
  bool FTransparent = false;
};
