// Unit OvrixMonitor: TCustomMySQLMonitor, the SQL trace monitor of the MySQL components. The first
// one created is the current monitor of its class for the whole process until it is destroyed;
// later ones do not replace it.
#pragma once

#include <string>

#include "components/DASQLMonitor.h"

class TCustomMySQLMonitor : public TCustomDASQLMonitor {
 public:
  explicit TCustomMySQLMonitor(TComponent* owner = nullptr);
  ~TCustomMySQLMonitor() override;

  // The process's current MySQL monitor, or none.
  static TCustomDASQLMonitor* GetCurrent();
  std::string GetMonitorName() const override { return "Ovrix"; }

  // A message the MySQL provider reported while a statement of `sender` ran: passed to OnSQL with
  // flag tfMisc when the current monitor traces it. Nothing happens without a current monitor.
  static void ProviderMessage(TComponent* sender, const std::string& text);

 protected:
  // While a MySQL command or dataset executes, the provider's messages go to ProviderMessage.
  void SQLEvent(TComponent* obj, const std::string& sql, TParams* params, TDASQLEventKind kind,
                const std::string& name, bool after, bool debug) override;
};
