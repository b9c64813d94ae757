#include "console/common/AppHooks.h"

#include <exception>

#include "components/DAScript.h"
#include "components/DBAccess.h"
#include "components/MemDS.h"
#include "console/common/ServerWaitBox.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"
#include "platform/widgets/WaitCursor.h"

QString DatabaseFailureLead(const std::exception& e) {
  // The server's or the library's text follows, in English: the game master reads first what
  // went wrong in the console's words.
  if (dynamic_cast<const EDAError*>(&e) != nullptr)
    return QStringLiteral("数据库操作失败，请检查网络连接和输入的数据！");
  if (dynamic_cast<const EDatabaseError*>(&e) != nullptr)
    return QStringLiteral("数据操作失败，请检查输入的数据！");
  return {};
}

void InstallApplicationHooks() {
  SetReportLead(&DatabaseFailureLead);
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
      const QString lead = DatabaseFailureLead(e);
      ShowError(lead.isEmpty() ? ExceptionText(e) : lead + QStringLiteral("\n\r") + ExceptionText(e));
    } catch (...) {
      // Nothing is left to show it with.
    }
  });
}
