// The version window "更新版本": the console's version, the newest one a web server names, and a
// download button when that one is newer. The login creates it hidden over the frame's client
// area and shows it once the check found an update; the help menu shows it again. Borderless, it
// is a panel of the MDI area rather than one of its sub-windows: it is no tool window, and the
// frame's list of tool windows does not hold it.
#pragma once

#include <QWidget>

class QLabel;
class QMdiArea;
class TFlatButton;
class TVersionFetch;

class Tupdatever : public QWidget {
  Q_OBJECT

 public:
  // A panel of area, hidden until shown.
  Tupdatever(QMdiArea& area, const QString& versionAddress);

  QLabel* lbl1 = nullptr;       // current version
  QLabel* lbl2 = nullptr;       // newest version
  QLabel* lbl3 = nullptr;       // verdict
  TFlatButton* btn1 = nullptr;  // 下载最新版本
  TFlatButton* btn2 = nullptr;  // 关 闭

  QString CurrentVersion;
  QString LatestVersion;
  // "1" when the server names a newer version.
  QString UpdateFlag;

  // Asks the server; Checked comes when the verdict is in.
  void Start();
  bool CheckDone() const noexcept { return FDone; }
  // Shows the window centred on the frame's client area, in front.
  void ShowRestored();
  // Opens the download page through the desktop.
  void Download();

 signals:
  void Checked();

 private:
  void ShowVerdict(const std::optional<QByteArray>& body);

  QString FAddress;
  TVersionFetch* FFetch = nullptr;
  QMdiArea& FArea;
  bool FDone = false;
};
