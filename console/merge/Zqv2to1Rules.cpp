#include "console/merge/Zqv2to1Rules.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "console/common/TypedText.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/FieldText.h"

namespace {

bool IsDigit(QChar c) {
  return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
bool IsLower(QChar c) {
  return c >= QLatin1Char('a') && c <= QLatin1Char('z');
}
bool IsUpper(QChar c) {
  return c >= QLatin1Char('A') && c <= QLatin1Char('Z');
}

QString FromAnsi(const std::string& bytes) {
  return QString::fromStdU16String(AnsiToWide(bytes));
}

std::string GbkLines(const QStringList& lines, qsizetype from) {
  std::string bytes;
  for (qsizetype i = from; i < lines.size(); ++i)
    bytes += EncodeFieldText(lines[i], TFieldCharset::Gbk) + "\r\n";
  return bytes;
}

[[noreturn]] void CannotWrite(const QString& fileName, const QString& reason) {
  throw EFOpenError(MessageBytes("Cannot create file \"" + fileName + "\". " + reason));
}

}  // namespace

QString MergeKeyProblem(TMergeKeyRule rule, QChar key, int caret) {
  if (key == QChar(8)) return {};
  const bool letter = rule == TMergeKeyRule::AccountTag ? IsLower(key) : IsLower(key) || IsUpper(key);
  switch (rule) {
    case TMergeKeyRule::AccountTag:
    case TMergeKeyRule::CharTag:
      if (!letter && !IsDigit(key))
        return rule == TMergeKeyRule::AccountTag ? QStringLiteral("只能输入小写字母或数字！")
                                                 : QStringLiteral("只能输入字母或数字！");
      if (caret == 0 && !letter) return QStringLiteral("必须以字母开头！");
      return {};
    case TMergeKeyRule::Compensation:
      if (!IsDigit(key)) return QStringLiteral("只能输入0-9的数字！");
      if (caret == 0 && key == QLatin1Char('0')) return QStringLiteral("第一个数字不能为0！");
      return {};
  }
  return {};
}

TMergeSideEdits SideFromLogin(const TDbSettings& login, bool target) {
  TMergeSideEdits side{FromAnsi(login.Server), FromAnsi(login.Port),  FromAnsi(login.AccDB),
                       FromAnsi(login.CharDB), FromAnsi(login.LogDB), FromAnsi(login.Uid),
                       FromAnsi(login.Pwd)};
  if (target) {
    side.AccDB = QStringLiteral("2account");
    side.CharDB = QStringLiteral("2zqv");
    side.LogDB = QStringLiteral("2zqv_log");
  }
  return side;
}

int MergePort(const QString& text) {
  const std::optional<int> port = ParsePort(text.toStdString());
  if (!port) throw EConvertError(MessageBytes("'" + text + "' is not a valid integer value"));
  return *port;
}

QString ProposedMergeLogName(TDateTime now) {
  return QStringLiteral("ZQV2To1") + QString::fromStdString(FormatDateTime("yymmddhhnnss", now)) +
         QStringLiteral(".txt");
}

void TMergeEventFile::Save(const QStringList& lines) {
  const QFileInfo info(FFileName);
  if (FBytes && lines.size() == FLines + 1 && info.exists() && info.size() == *FBytes) {
    const std::string tail = GbkLines(lines, FLines);
    QFile file(FFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) ||
        file.write(tail.data(), static_cast<qint64>(tail.size())) != static_cast<qint64>(tail.size()) ||
        !file.flush()) {
      // What reached the file is unknown now: the next line writes it whole.
      FBytes.reset();
      CannotWrite(FFileName, file.errorString());
    }
    FLines = lines.size();
    *FBytes += static_cast<qint64>(tail.size());
    return;
  }
  Rewrite(lines);
}

void TMergeEventFile::Rewrite(const QStringList& lines) {
  FBytes.reset();
  const std::string bytes = GbkLines(lines, 0);
  QSaveFile file(FFileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), static_cast<qint64>(bytes.size())) < 0 ||
      !file.commit())
    CannotWrite(FFileName, file.errorString());
  FLines = lines.size();
  FBytes = static_cast<qint64>(bytes.size());
}
