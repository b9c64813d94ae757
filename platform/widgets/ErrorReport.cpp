#include "platform/widgets/ErrorReport.h"

#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/UiService.h"

namespace {

QString FromAnsi(const std::string& text) {
  return QString::fromStdU16String(AnsiToWide(text));
}

// A report raised while a report box is up (its own message loop delivering a failing timer)
// is dropped: one box at a time, never a stack of them.
bool Reporting = false;

TReportLead& Lead() {
  static TReportLead lead;
  return lead;
}

void ShowReport(const QString& text) noexcept {
  if (Reporting) return;
  Reporting = true;
  try {
    ShowError(text);
  } catch (...) {
    // The box itself failed: nothing is left to show it with.
  }
  Reporting = false;
}

}  // namespace

QString ExceptionText(const std::exception& e) {
  const auto* own = dynamic_cast<const Exception*>(&e);
  QString text = FromAnsi(own ? own->Message() : std::string(e.what()));
  qsizetype start = 0;
  while (start < text.size() && (text[start] == QLatin1Char('\r') || text[start] == QLatin1Char('\n'))) {
    ++start;
  }
  return text.mid(start);
}

void SetReportLead(TReportLead lead) {
  Lead() = std::move(lead);
}

void ReportException(std::exception_ptr error) noexcept {
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (...) {
    ReportCurrentException();
  }
}

void ReportCurrentException() noexcept {
  try {
    throw;
  } catch (const EAbort&) {
    // Silent by design: it only ends the operation.
  } catch (const std::exception& e) {
    QString text;
    try {
      text = ExceptionText(e);
      const QString lead = Lead() ? Lead()(e) : QString();
      if (!lead.isEmpty()) text = lead + QStringLiteral("\n\r") + text;
    } catch (...) {
      text = QStringLiteral("Unknown error");
    }
    ShowReport(text);
  } catch (...) {
    ShowReport(QStringLiteral("Unknown error"));
  }
}

TGuardedApplication::TGuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TGuardedApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ReportCurrentException();
    return false;
  }
}
