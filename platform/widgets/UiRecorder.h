// A UI service for tests: it records every message box, dialog, chooser, clipboard write and
// shell open, and answers from a script instead of showing anything. What is not scripted gets
// the answer that changes nothing: a box's default button, a rejected dialog, a cancelled
// chooser. Install it with TUiServiceScope.
#pragma once

#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "platform/widgets/UiService.h"

class TUiRecorder : public TUiService {
 public:
  struct TMessageRecord {
    TMessageBoxArgs Args;
    TMsgResult Answer;
  };
  using TDialogScript = std::function<int(QDialog&)>;

  // ---- Script ----
  // Answers for the next message boxes, in order.
  void Answer(TMsgResult result) { FAnswers.push_back(result); }
  // Handles the next modal dialog: may fill its controls and returns its result code.
  void OnDialog(TDialogScript script) { FDialogs.push_back(std::move(script)); }
  // The next chooser (open, save or directory) returns path; nothing means cancelled.
  void Choose(std::optional<QString> path) { FChoices.push_back(std::move(path)); }
  void SetShellResult(bool started) { FShellResult = started; }
  // The clock stands at value from now on.
  void SetNow(TDateTime value) {
    FNow = value;
    FClockSet = true;
  }
  // Runs at every ProcessMessages call (a test presses a stop button there, for instance).
  void OnProcessMessages(std::function<void()> hook) { FProcessHook = std::move(hook); }

  // ---- Record ----
  const std::vector<TMessageRecord>& Messages() const noexcept { return FMessages; }
  // Captions of the dialogs shown, in order.
  const QStringList& Dialogs() const noexcept { return FDialogTitles; }
  const QStringList& ShellOpened() const noexcept { return FShellOpened; }
  // Caption of each chooser shown, in order.
  const QStringList& Choosers() const noexcept { return FChooserCaptions; }
  int ProcessMessagesCalls() const noexcept { return FProcessCalls; }
  // Scripted answers not used yet (a test checks that its script was consumed).
  size_t PendingScript() const noexcept { return FAnswers.size() + FDialogs.size() + FChoices.size(); }
  void ClearRecord();

  TMsgResult MessageBox(const TMessageBoxArgs& args) override;
  int ExecModal(QDialog& dialog) override;
  std::optional<QString> OpenFileName(const TFileDialogArgs& args) override;
  std::optional<QString> SaveFileName(const TFileDialogArgs& args) override;
  std::optional<QString> DirectoryName(const QString& caption, const QString& root) override;
  void SetClipboardText(const QString& text) override { FClipboard = text; }
  QString ClipboardText() override { return FClipboard; }
  bool ShellOpen(const QString& target) override;
  TDateTime Now() override;
  void ProcessMessages() override;

 private:
  std::optional<QString> NextChoice(const QString& caption);

  std::deque<TMsgResult> FAnswers;
  std::deque<TDialogScript> FDialogs;
  std::deque<std::optional<QString>> FChoices;
  bool FShellResult = true;
  TDateTime FNow = 0;
  bool FClockSet = false;
  std::function<void()> FProcessHook;

  std::vector<TMessageRecord> FMessages;
  QStringList FDialogTitles;
  QStringList FShellOpened;
  QStringList FChooserCaptions;
  QString FClipboard;
  int FProcessCalls = 0;
};
