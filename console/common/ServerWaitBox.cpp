#include "console/common/ServerWaitBox.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>
#include <memory>

#include "components/MyAccessConnection.h"
#include "platform/widgets/UiService.h"

namespace {

class TServerWaitBox : public QDialog {
 public:
  TServerWaitBox() : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(CaptionHint);
    setWindowModality(Qt::ApplicationModal);
    Seconds = new QLabel(this);
    // Said before the choice is made: the server does not learn of it until the connection ends.
    auto* warning = new QLabel(QStringLiteral("取消将断开与服务器的连接：已发出的语句服务器仍可能执行完毕，"
                                              "事务中尚未提交的修改将被回滚。"),
                               this);
    warning->setWordWrap(true);
    Cancel = new QPushButton(QStringLiteral("取消"), this);
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancelled = true; });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Seconds);
    layout->addWidget(warning);
    layout->addLayout(buttons);
    setFixedWidth(360);
  }

  // Esc asks what 取消 asks.
  void reject() override { Cancelled = true; }

  void ShowWaited(int waitedMs) {
    Seconds->setText(QStringLiteral("正在等待服务器响应… 已等待 %1 秒").arg(waitedMs / 1000));
  }

  QLabel* Seconds;
  QPushButton* Cancel;
  bool Cancelled = false;
};

std::unique_ptr<TServerWaitBox> Box;
// True while the box lets events run: a wait started by one of them just waits.
bool Pumping = false;
// The actions running on the GUI thread, and whether 取消 ended a wait of theirs.
int Actions = 0;
bool ActionCancelled = false;

bool OnGuiThread() noexcept {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void ShowBox() {
  Box = std::make_unique<TServerWaitBox>();
  Box->adjustSize();
  if (QWidget* window = QApplication::activeWindow()) {
    Box->move(window->frameGeometry().center() - Box->rect().center());
    // The window manager keeps the box above the window that waits.
    Box->winId();
    if (Box->windowHandle() && window->windowHandle())
      Box->windowHandle()->setTransientParent(window->windowHandle());
  }
  // The statement's wait cursor would say the box cannot be used.
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  Box->show();
  Box->raise();
  Box->activateWindow();
}

void HideBox() noexcept {
  if (!Box) return;
  Box.reset();
  QApplication::restoreOverrideCursor();
}

bool WaitForServer(int waitedMs, bool ended) noexcept {
  if (Pumping || !OnGuiThread()) return true;
  if (ended) {
    HideBox();
    return true;
  }
  if (Actions > 0 && ActionCancelled) return false;
  if (!Box && waitedMs < kServerWaitBoxDelayMs) return true;
  try {
    if (!Box) ShowBox();
    Box->ShowWaited(waitedMs);
    // Timers and sockets stay still: a timer's statement would run on the session that waits.
    Pumping = true;
    QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers | QEventLoop::ExcludeSocketNotifiers);
    Pumping = false;
    if (Box->Cancelled && Actions > 0) ActionCancelled = true;
    return !Box->Cancelled;
  } catch (...) {
    // The box failed; the wait goes on to its time-out as it would without one.
    Pumping = false;
    return true;
  }
}

}  // namespace

TServerWaitAction::TServerWaitAction() noexcept : FOnGuiThread(OnGuiThread()) {
  if (FOnGuiThread && Actions++ == 0) ActionCancelled = false;
}

TServerWaitAction::~TServerWaitAction() {
  if (FOnGuiThread && --Actions == 0) ActionCancelled = false;
}

void InstallServerWaitBox() noexcept {
  TCustomMyConnection::SetServerWaitProc(&WaitForServer);
}

QDialog* ServerWaitBox() noexcept {
  return Box.get();
}

QLabel* ServerWaitBoxSeconds() noexcept {
  return Box ? Box->Seconds : nullptr;
}

QPushButton* ServerWaitBoxCancel() noexcept {
  return Box ? Box->Cancel : nullptr;
}
