// The library's message loop over Qt's event loop: each armed timer is a QTimer of the GUI
// thread, and each call of its proc runs guarded (an exception goes to the error report and
// the timer goes on).
#pragma once

#include <QObject>
#include <map>
#include <memory>

#include "platform/runtime/MessageLoop.h"

class QTimer;

class TQtMessageLoop : public TMessageLoop {
 public:
  TQtMessageLoop();
  ~TQtMessageLoop() override;

  // Gives 0 for an interval of 0.
  TTimerId ArmTimer(uint32_t intervalMs, TTimerProc proc) override;
  void DisarmTimer(TTimerId id) noexcept override;
  size_t ArmedCount() const noexcept { return FTimers.size(); }

 private:
  void Fire(TTimerId id);

  struct TTimer {
    QTimer* Timer;                     // owned by FOwner
    std::shared_ptr<TTimerProc> Proc;  // shared: a proc may disarm its own timer while it runs
  };
  std::unique_ptr<QObject> FOwner;
  std::map<TTimerId, TTimer> FTimers;
  TTimerId FNextId = 1;
};

// Installs a Qt loop as the library's message loop for its lifetime.
class TQtMessageLoopInstaller {
 public:
  TQtMessageLoopInstaller() noexcept { SetMessageLoop(&FLoop); }
  ~TQtMessageLoopInstaller() { SetMessageLoop(nullptr); }
  TQtMessageLoop& Loop() noexcept { return FLoop; }

 private:
  TQtMessageLoop FLoop;
};
