// Everything the windows ask of the desktop goes through one service: message boxes, modal
// dialogs, file and directory choosers, the clipboard, shell open, the clock and letting the
// message loop run. The application uses the Qt service; tests install a TUiRecorder that
// answers from a script, so no test ever waits on a modal box or a real dialog.
#pragma once

#include <QString>
#include <optional>

#include "platform/runtime/DateTimeUtils.h"

class QDialog;

enum class TMsgIcon : uint8_t { None, Error, Warning, Information, Question };
enum class TMsgButtons : uint8_t { Ok, OkCancel, YesNo };
enum class TMsgResult : uint8_t { Ok, Cancel, Yes, No };

// The three captions of the application's message boxes.
inline const QString CaptionError = QStringLiteral("错误");
inline const QString CaptionHint = QStringLiteral("提示");
inline const QString CaptionWarning = QStringLiteral("警告");

struct TMessageBoxArgs {
  QString Text;
  QString Caption;
  TMsgIcon Icon = TMsgIcon::None;
  TMsgButtons Buttons = TMsgButtons::Ok;
  // The button that Enter presses; one of Buttons' own (Ok for Ok, Ok or Cancel, Yes or No).
  TMsgResult Default = TMsgResult::Ok;
};

struct TFileDialogArgs {
  QString Caption;
  QString Directory;  // where the chooser starts; empty: the current directory
  QString FileName;   // proposed name (save) or last name (open)
  QString Filter;     // Qt form: "SQL文件 (*.SQL);;所有文件 (*.*)"
};

class TUiService {
 public:
  TUiService() = default;
  virtual ~TUiService() = default;
  TUiService(const TUiService&) = delete;
  TUiService& operator=(const TUiService&) = delete;

  // Application message box, always on top. Returns the button pressed; closing the box
  // answers Cancel for Ok/Cancel, No for Yes/No and Ok for Ok.
  virtual TMsgResult MessageBox(const TMessageBoxArgs& args) = 0;
  // Shows the dialog modally and returns its result code (QDialog::Accepted or Rejected).
  virtual int ExecModal(QDialog& dialog) = 0;
  // The chosen path, or nothing when the user cancels.
  virtual std::optional<QString> OpenFileName(const TFileDialogArgs& args) = 0;
  virtual std::optional<QString> SaveFileName(const TFileDialogArgs& args) = 0;
  virtual std::optional<QString> DirectoryName(const QString& caption, const QString& root) = 0;
  virtual void SetClipboardText(const QString& text) = 0;
  virtual QString ClipboardText() = 0;
  // Opens a file or address with the desktop's default program. False when the opener could not
  // be started or reported a failure; an opener still running after a few seconds counts as
  // having opened it (it goes on by itself).
  virtual bool ShellOpen(const QString& target) = 0;
  // Local date-time.
  virtual TDateTime Now() = 0;
  // Lets pending window messages run (repaints, the stop button of a long run).
  virtual void ProcessMessages() = 0;
};

// The installed service; the Qt service unless a test or the application installed another.
TUiService& Ui();

// Installs a service for its lifetime and restores the one before.
class TUiServiceScope {
 public:
  explicit TUiServiceScope(TUiService& service) noexcept;
  ~TUiServiceScope();
  TUiServiceScope(const TUiServiceScope&) = delete;
  TUiServiceScope& operator=(const TUiServiceScope&) = delete;

 private:
  TUiService* FPrevious;
};

// The message boxes the windows use.
void ShowError(const QString& text);    // "错误", error icon
void ShowHint(const QString& text);     // "提示", information icon
void ShowWarning(const QString& text);  // "警告", warning icon
// Any caption and icon with an Ok button.
void ShowMessageBox(const QString& text, const QString& caption, TMsgIcon icon);
// Yes/No question with the question icon; true for Yes. defaultNo makes No the Enter button.
bool AskYesNo(const QString& text, const QString& caption = CaptionHint, bool defaultNo = false);
// Ok/Cancel confirmation; true for Ok. defaultCancel makes Cancel the Enter button.
bool AskOkCancel(const QString& text, const QString& caption, TMsgIcon icon, bool defaultCancel = false);
// The plain message dialog: the application's name as caption, no icon.
void ShowMessage(const QString& text);

// "SQL文件|*.SQL|所有文件|*.*" (description and pattern pairs) in Qt's filter form. A pattern
// that is no pattern (no '*' or '?') is shown as the description alone with "*" to match.
QString QtFilterFromPairs(const QString& pairs);

// Service of the running application: Qt's message boxes (their buttons read 确定, 取消, 是 and
// 否), dialogs, clipboard and xdg-open.
class TQtUiService : public TUiService {
 public:
  TMsgResult MessageBox(const TMessageBoxArgs& args) override;
  int ExecModal(QDialog& dialog) override;
  std::optional<QString> OpenFileName(const TFileDialogArgs& args) override;
  std::optional<QString> SaveFileName(const TFileDialogArgs& args) override;
  std::optional<QString> DirectoryName(const QString& caption, const QString& root) override;
  void SetClipboardText(const QString& text) override;
  QString ClipboardText() override;
  bool ShellOpen(const QString& target) override;
  TDateTime Now() override;
  void ProcessMessages() override;
};

// Message text as a Qt box shows it: CR LF, LF CR and lone CR become line feeds.
QString DisplayLineBreaks(const QString& text);
