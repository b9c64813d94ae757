#include "platform/widgets/QtMessageLoop.h"

#include <QTimer>

#include "platform/widgets/ErrorReport.h"

TQtMessageLoop::TQtMessageLoop() : FOwner(std::make_unique<QObject>()) {}

TQtMessageLoop::~TQtMessageLoop() {
  for (auto& [id, timer] : FTimers) timer.Timer->stop();
  FTimers.clear();
  // FOwner deletes the timers, including those whose deferred deletion is still pending.
}

TMessageLoop::TTimerId TQtMessageLoop::ArmTimer(uint32_t intervalMs, TTimerProc proc) {
  if (intervalMs == 0) return 0;
  TTimerId id = FNextId++;
  auto* timer = new QTimer(FOwner.get());
  timer->setInterval(static_cast<int>(std::min<uint32_t>(intervalMs, INT32_MAX)));
  QObject::connect(timer, &QTimer::timeout, FOwner.get(), [this, id] { Fire(id); });
  FTimers.emplace(id, TTimer{timer, std::make_shared<TTimerProc>(std::move(proc))});
  timer->start();
  return id;
}

void TQtMessageLoop::DisarmTimer(TTimerId id) noexcept {
  auto it = FTimers.find(id);
  if (it == FTimers.end()) return;
  QTimer* timer = it->second.Timer;
  FTimers.erase(it);
  timer->stop();
  timer->disconnect();
  // Later: the timer may be the one whose timeout is being delivered right now.
  timer->deleteLater();
}

void TQtMessageLoop::Fire(TTimerId id) {
  auto it = FTimers.find(id);
  if (it == FTimers.end()) return;
  std::shared_ptr<TTimerProc> proc = it->second.Proc;
  Guarded([&] { (*proc)(); });
}
