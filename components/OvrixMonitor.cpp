#include "components/OvrixMonitor.h"

#include <atomic>

#include "components/MyAccessCommand.h"
#include "components/MyAccessDataSet.h"
#include "mysql/MySQLCommand.h"

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

void TCustomMySQLMonitor::SQLEvent(TComponent* obj, const std::string& sql, TParams* params,
                                   TDASQLEventKind kind, const std::string& name, bool after, bool debug) {
  const bool mySql =
      dynamic_cast<TMyCommand*>(obj) != nullptr || dynamic_cast<TCustomMyDataSet*>(obj) != nullptr;
  if (kind == TDASQLEventKind::Execute && mySql) {
    TMyCommand* runner = TMyAccessUtils::GetCommand(obj);
    if (TMySQLCommand* command = runner->MyICommand()) {
      // The hook holds the command that owns the provider command, never the traced component
      // (a dataset may go first): the sender is asked of the command when a message comes.
      if (after || !IsTraced(tfMisc))
        command->MessageHook = nullptr;
      else
        command->MessageHook = [runner](const std::string& text) {
          ProviderMessage(runner->TraceSender(), text);
        };
    }
  }
  TCustomDASQLMonitor::SQLEvent(obj, sql, params, kind, name, after, debug);
}
