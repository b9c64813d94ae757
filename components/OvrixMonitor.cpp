#include "components/OvrixMonitor.h"

#include <atomic>

namespace {

std::atomic<TCustomMySQLMonitor*> CurrentMySQLMonitor{nullptr};

}  // namespace

TCustomMySQLMonitor::TCustomMySQLMonitor(TComponent* owner) : TCustomDASQLMonitor(owner) {
  TCustomMySQLMonitor* none = nullptr;
  CurrentMySQLMonitor.compare_exchange_strong(none, this);
}

TCustomMySQLMonitor::~TCustomMySQLMonitor() {
  TCustomMySQLMonitor* self = this;
  CurrentMySQLMonitor.compare_exchange_strong(self, nullptr);
}

TCustomDASQLMonitor* TCustomMySQLMonitor::GetCurrent() {
  return CurrentMySQLMonitor.load();
}

void TCustomMySQLMonitor::ProviderMessage(TComponent* sender, const std::string& text) {
  TCustomMySQLMonitor* m = CurrentMySQLMonitor.load();
  if (m != nullptr && m->IsTraced(tfMisc)) m->SendEvent(sender, text, text, tfMisc, false);
}
