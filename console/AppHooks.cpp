#include "console/AppHooks.h"

#include <exception>

#include "components/DAScript.h"
#include "console/ServerWaitBox.h"
#include "core/MemData.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"
#include "platform/widgets/WaitCursor.h"

void InstallApplicationHooks() {
  SetStartWaitProc(&WaitCursorStart);
  SetStopWaitProc(&WaitCursorStop);
  InstallServerWaitBox();
  SetApplicationExceptionProc([](const std::exception& e) {
    // Inside the library's catch the exception in flight keeps its own class (EAbort stays silent).
    if (std::current_exception()) {
      ReportCurrentException();
      return;
    }
    try {
      ShowError(ExceptionText(e));
    } catch (...) {
      // Nothing is left to show it with.
    }
  });
}
