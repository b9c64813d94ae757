#include "platform/widgets/UiRecorder.h"

#include <QDialog>

void TUiRecorder::ClearRecord() {
  FMessages.clear();
  FDialogTitles.clear();
  FShellOpened.clear();
  FChooserCaptions.clear();
  FProcessCalls = 0;
}

TMsgResult TUiRecorder::MessageBox(const TMessageBoxArgs& args) {
  TMsgResult answer = args.Default;
  if (!FAnswers.empty()) {
    answer = FAnswers.front();
    FAnswers.pop_front();
  }
  FMessages.push_back({args, answer});
  return answer;
}

int TUiRecorder::ExecModal(QDialog& dialog) {
  FDialogTitles << dialog.windowTitle();
  if (FDialogs.empty()) return QDialog::Rejected;
  TDialogScript script = std::move(FDialogs.front());
  FDialogs.pop_front();
  int result = script(dialog);
  dialog.setResult(result);
  return result;
}

std::optional<QString> TUiRecorder::NextChoice(const QString& caption) {
  FChooserCaptions << caption;
  if (FChoices.empty()) return std::nullopt;
  std::optional<QString> choice = std::move(FChoices.front());
  FChoices.pop_front();
  return choice;
}

std::optional<QString> TUiRecorder::OpenFileName(const TFileDialogArgs& args) {
  return NextChoice(args.Caption);
}

std::optional<QString> TUiRecorder::SaveFileName(const TFileDialogArgs& args) {
  return NextChoice(args.Caption);
}

std::optional<QString> TUiRecorder::DirectoryName(const QString& caption, const QString&) {
  return NextChoice(caption);
}

bool TUiRecorder::ShellOpen(const QString& target) {
  FShellOpened << target;
  return FShellResult;
}

TDateTime TUiRecorder::Now() {
  return FClockSet ? FNow : ::Now();
}

void TUiRecorder::ProcessMessages() {
  ++FProcessCalls;
  if (FProcessHook) FProcessHook();
}
