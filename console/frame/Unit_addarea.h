// The zone editor "增加新的分区": the zone list of DB.ini with deletion of the chosen zone, and a
// new zone's fields written as its section (a zone of the same name is updated). Modal over the
// login window, which rebuilds its own zone list when it closes. The decisions are ZoneList's.
#pragma once

#include <QDialog>

#include "console/common/DbIniSettings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class TFlatButton;
class TFlatGroupBox;

class Taddarea : public QDialog {
  Q_OBJECT

 public:
  explicit Taddarea(const TDbIni& ini, QWidget* parent = nullptr);

  QComboBox* cbb1 = nullptr;    // 当前分区
  TFlatButton* btn1 = nullptr;  // 删除所选
  TFlatGroupBox* FlatGroupBox1 = nullptr;
  QLineEdit* e7 = nullptr;      // zone name
  QLineEdit* e1 = nullptr;      // server
  QLineEdit* edt1 = nullptr;    // port
  QComboBox* cbb2 = nullptr;    // character set
  QLineEdit* e2 = nullptr;      // account database
  QLineEdit* e3 = nullptr;      // character database
  QLineEdit* e4 = nullptr;      // log database
  QLineEdit* e5 = nullptr;      // user
  QLineEdit* e6 = nullptr;      // password
  TFlatButton* btn2 = nullptr;  // 增  加
  QLabel* lbl9 = nullptr;       // the scrolling hint
  QTimer* tmr1 = nullptr;

  // 增  加 and 删除所选, as the buttons run them.
  void AddArea();
  void DeleteArea();
  // The zone list of the file into cbb1, the first zone chosen.
  void ListZones();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  QLineEdit* AddField(const QString& label, const QString& text, int top);

  TDbIni FIni;
};
