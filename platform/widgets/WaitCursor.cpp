#include "platform/widgets/WaitCursor.h"

#include <QApplication>
#include <QThread>

namespace {

int Depth = 0;

bool OnGuiThread() noexcept {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

}  // namespace

void WaitCursorStart() noexcept {
  if (!OnGuiThread()) return;
  ++Depth;
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void WaitCursorStop() noexcept {
  if (!OnGuiThread() || Depth == 0) return;
  --Depth;
  QApplication::restoreOverrideCursor();
}

int WaitCursorDepth() noexcept {
  return Depth;
}
