// The GM console: one instance per user and display, the frame window, the message loop.
#include <QString>

#include "console/common/AppHooks.h"
#include "console/common/MyLoginConnection.h"
#include "console/frame/SingleInstance.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "console/frame/VersionCheck.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/QtMessageLoop.h"
#include "platform/widgets/WaitCursor.h"

int main(int argc, char** argv) {
  TGuardedApplication app(argc, argv);
  const QString title = QStringLiteral("游戏管理工具");
  TSingleInstance instance(title);
  if (instance.ActivateExisting()) return 0;
  instance.Listen();
  QApplication::setApplicationName(title);
  InstallApplicationHooks();
  TQtMessageLoopInstaller loop;
  TFormMain frame(&MakeMyLoginConnection);
  frame.SetVersionAddress(QString::fromLatin1(kVersionAddress));
  QObject::connect(&instance, &TSingleInstance::activationRequested, &frame, [&frame] {
    frame.setWindowState(frame.windowState() & ~Qt::WindowMinimized);
    frame.show();
    frame.raise();
    frame.activateWindow();
    if (Tlogin* login = frame.Login(); login && login->isVisible()) {
      login->raise();
      login->activateWindow();
    }
  });
  frame.show();
  if (Tlogin* login = frame.Login()) login->raise();
  return QApplication::exec();
}
