// The box a window shows while its statement waits for a slow or silent server: after about a
// second it tells the game master how long the wait has lasted and offers 取消, which ends the
// wait as a lost connection. Statements still run on the GUI thread; the box keeps the
// application painted meanwhile and, being application-modal, keeps every other window from
// starting anything.
#pragma once

class QDialog;
class QLabel;
class QPushButton;

// Milliseconds a wait lasts before the box shows.
inline constexpr int kServerWaitBoxDelayMs = 1000;

// Installs the box as the MySQL client's wait hook (main() does, through InstallApplicationHooks).
// Waits on other threads are left as they are.
void InstallServerWaitBox() noexcept;

// One action of a window (a page load and its count) on the GUI thread, for as long as it lives:
// once 取消 has ended one of its waits, its later waits end at once as cancelled too, so that the
// connection's own attempt to reconnect to the same silent server does not show the box again.
// Nested actions count as the outermost one.
class TServerWaitAction {
 public:
  TServerWaitAction() noexcept;
  ~TServerWaitAction();
  TServerWaitAction(const TServerWaitAction&) = delete;
  TServerWaitAction& operator=(const TServerWaitAction&) = delete;

 private:
  bool FOnGuiThread;
};

// The box while it shows (nullptr otherwise), its seconds text and its 取消 button; for tests.
QDialog* ServerWaitBox() noexcept;
QLabel* ServerWaitBoxSeconds() noexcept;
QPushButton* ServerWaitBoxCancel() noexcept;
