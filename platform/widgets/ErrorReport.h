// The application's error report. Exceptions never cross Qt's event loop: every handler runs
// guarded, and what escapes it is shown in one "错误" message box (EAbort silently); the
// application goes on.
#pragma once

#include <QApplication>
#include <QObject>
#include <exception>
#include <functional>
#include <utility>

// The text the report shows for an exception: its message decoded from the ANSI code page,
// without the leading line break a server's message starts with.
QString ExceptionText(const std::exception& e);

// What the report shows before an exception's text, on a line of its own (empty: nothing). The
// application names what failed in its own words there; the default is none.
using TReportLead = std::function<QString(const std::exception& e)>;
void SetReportLead(TReportLead lead);

// Shows the exception in flight (call it inside a catch block). Never throws.
void ReportCurrentException() noexcept;
// The same for a captured exception; a null pointer shows nothing.
void ReportException(std::exception_ptr error) noexcept;

// Runs handler; an exception it raises goes to the report. True when it returned normally.
template <typename F>
bool Guarded(F&& handler) noexcept {
  try {
    std::forward<F>(handler)();
    return true;
  } catch (...) {
    ReportCurrentException();
    return false;
  }
}

// QObject::connect with the slot run guarded.
template <typename Sender, typename Signal, typename F>
QMetaObject::Connection ConnectGuarded(Sender* sender, Signal signal, QObject* context, F handler) {
  return QObject::connect(sender, signal, context, [handler = std::move(handler)](auto&&... args) {
    Guarded([&] { handler(std::forward<decltype(args)>(args)...); });
  });
}

// The application object: an exception that escapes an event handler is caught where Qt
// delivers the event and reported, so it never unwinds the event loop. A last resort only:
// Qt's own frames between the handler and this catch are skipped without their cleanup, so
// handlers run their work through Guarded or ConnectGuarded.
class TGuardedApplication : public QApplication {
 public:
  TGuardedApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
