#include "platform/widgets/UiService.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStringList>

namespace {

TUiService* InstalledService = nullptr;
constexpr int kShellOpenWaitMs = 10000;

TUiService& DefaultService() {
  static TQtUiService service;
  return service;
}

QMessageBox::Icon QtIcon(TMsgIcon icon) {
  switch (icon) {
    case TMsgIcon::Error:
      return QMessageBox::Critical;
    case TMsgIcon::Warning:
      return QMessageBox::Warning;
    case TMsgIcon::Information:
      return QMessageBox::Information;
    case TMsgIcon::Question:
      return QMessageBox::Question;
    case TMsgIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButton QtButton(TMsgResult result) {
  switch (result) {
    case TMsgResult::Ok:
      return QMessageBox::Ok;
    case TMsgResult::Cancel:
      return QMessageBox::Cancel;
    case TMsgResult::Yes:
      return QMessageBox::Yes;
    case TMsgResult::No:
      return QMessageBox::No;
  }
  return QMessageBox::Ok;
}

// The answer of a box closed without a button: its "no" button.
TMsgResult EscapeAnswer(TMsgButtons buttons) {
  switch (buttons) {
    case TMsgButtons::OkCancel:
      return TMsgResult::Cancel;
    case TMsgButtons::YesNo:
      return TMsgResult::No;
    case TMsgButtons::Ok:
      break;
  }
  return TMsgResult::Ok;
}

}  // namespace

TUiService& Ui() {
  return InstalledService ? *InstalledService : DefaultService();
}

TUiServiceScope::TUiServiceScope(TUiService& service) noexcept : FPrevious(InstalledService) {
  InstalledService = &service;
}

TUiServiceScope::~TUiServiceScope() {
  InstalledService = FPrevious;
}

void ShowMessageBox(const QString& text, const QString& caption, TMsgIcon icon) {
  Ui().MessageBox({text, caption, icon, TMsgButtons::Ok, TMsgResult::Ok});
}

void ShowError(const QString& text) {
  ShowMessageBox(text, CaptionError, TMsgIcon::Error);
}

void ShowHint(const QString& text) {
  ShowMessageBox(text, CaptionHint, TMsgIcon::Information);
}

void ShowWarning(const QString& text) {
  ShowMessageBox(text, CaptionWarning, TMsgIcon::Warning);
}

bool AskYesNo(const QString& text, const QString& caption, bool defaultNo) {
  TMsgResult def = defaultNo ? TMsgResult::No : TMsgResult::Yes;
  return Ui().MessageBox({text, caption, TMsgIcon::Question, TMsgButtons::YesNo, def}) == TMsgResult::Yes;
}

bool AskOkCancel(const QString& text, const QString& caption, TMsgIcon icon, bool defaultCancel) {
  const TMsgResult def = defaultCancel ? TMsgResult::Cancel : TMsgResult::Ok;
  return Ui().MessageBox({text, caption, icon, TMsgButtons::OkCancel, def}) == TMsgResult::Ok;
}

void ShowMessage(const QString& text) {
  ShowMessageBox(text, QApplication::applicationDisplayName(), TMsgIcon::None);
}

QString QtFilterFromPairs(const QString& pairs) {
  QStringList parts = pairs.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString pattern = parts[i + 1].trimmed();
    bool isPattern = pattern.contains(QLatin1Char('*')) || pattern.contains(QLatin1Char('?'));
    // A pattern list is separated by ';' in the pairs and by blanks in Qt's form.
    pattern = isPattern ? pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '))
                        : QStringLiteral("*");
    filters << parts[i] + QStringLiteral(" (") + pattern + QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

QString DisplayLineBreaks(const QString& text) {
  QString result = text;
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

TMsgResult TQtUiService::MessageBox(const TMessageBoxArgs& args) {
  QMessageBox box(QtIcon(args.Icon), args.Caption, DisplayLineBreaks(args.Text), QMessageBox::NoButton,
                  QApplication::activeWindow());
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  switch (args.Buttons) {
    case TMsgButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case TMsgButtons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case TMsgButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
  }
  // The console speaks Chinese whatever the desktop's language.
  const std::pair<QMessageBox::StandardButton, const char*> captions[] = {{QMessageBox::Ok, "确定"},
                                                                          {QMessageBox::Cancel, "取消"},
                                                                          {QMessageBox::Yes, "是"},
                                                                          {QMessageBox::No, "否"}};
  for (const auto& [button, caption] : captions)
    if (QAbstractButton* b = box.button(button)) b->setText(QString::fromUtf8(caption));
  box.setDefaultButton(QtButton(args.Default));
  box.setEscapeButton(QtButton(EscapeAnswer(args.Buttons)));
  switch (box.exec()) {
    case QMessageBox::Ok:
      return TMsgResult::Ok;
    case QMessageBox::Cancel:
      return TMsgResult::Cancel;
    case QMessageBox::Yes:
      return TMsgResult::Yes;
    case QMessageBox::No:
      return TMsgResult::No;
    default:
      return EscapeAnswer(args.Buttons);
  }
}

int TQtUiService::ExecModal(QDialog& dialog) {
  return dialog.exec();
}

namespace {

QString StartPath(const TFileDialogArgs& args) {
  if (args.FileName.isEmpty()) return args.Directory;
  if (args.Directory.isEmpty()) return args.FileName;
  return args.Directory + QLatin1Char('/') + args.FileName;
}

std::optional<QString> Chosen(const QString& path) {
  if (path.isEmpty()) return std::nullopt;
  return path;
}

}  // namespace

std::optional<QString> TQtUiService::OpenFileName(const TFileDialogArgs& args) {
  return Chosen(
      QFileDialog::getOpenFileName(QApplication::activeWindow(), args.Caption, StartPath(args), args.Filter));
}

std::optional<QString> TQtUiService::SaveFileName(const TFileDialogArgs& args) {
  return Chosen(
      QFileDialog::getSaveFileName(QApplication::activeWindow(), args.Caption, StartPath(args), args.Filter));
}

std::optional<QString> TQtUiService::DirectoryName(const QString& caption, const QString& root) {
  return Chosen(QFileDialog::getExistingDirectory(QApplication::activeWindow(), caption, root));
}

void TQtUiService::SetClipboardText(const QString& text) {
  QApplication::clipboard()->setText(text);
}

QString TQtUiService::ClipboardText() {
  return QApplication::clipboard()->text();
}

bool TQtUiService::ShellOpen(const QString& target) {
  // The opener's exit code tells whether the file or address could be opened. One that is still
  // running after the wait is left to finish on its own and deletes itself then.
  auto* opener = new QProcess(qApp);
  QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
  QObject::connect(opener, &QProcess::errorOccurred, opener, [opener](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) opener->deleteLater();
  });
  opener->setStandardInputFile(QProcess::nullDevice());
  opener->start(QStringLiteral("xdg-open"), {target});
  if (!opener->waitForStarted(5000)) return false;
  if (!opener->waitForFinished(kShellOpenWaitMs)) return true;
  return opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
}

TDateTime TQtUiService::Now() {
  return ::Now();
}

void TQtUiService::ProcessMessages() {
  QApplication::processEvents(QEventLoop::AllEvents, 100);
}
