// What the zone-merge window decides without widgets: which keys its tag and compensation edits
// take, the settings a side takes from the login state, the proposed name of a saved log, and the
// event log file kept whole on disk while lines are added.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "console/common/DbIniSettings.h"
#include "platform/runtime/DateTimeUtils.h"

// The typing rules of the three filtered edits.
enum class TMergeKeyRule : uint8_t {
  AccountTag,    // edt1: lower-case letters and digits, a letter first
  CharTag,       // edt2: letters and digits, a letter first
  Compensation,  // edt4: digits, no 0 first
};

// The text of the box that drops key typed with the caret at caret; empty when the key is taken.
// Backspace is always taken.
QString MergeKeyProblem(TMergeKeyRule rule, QChar key, int caret);

// One side's seven settings as typed.
struct TMergeSideEdits {
  QString Server, Port, AccDB, CharDB, LogDB, Uid, Pwd;
};

// The settings a side fills from the login state: the source takes all seven, the target the
// server, port, user and password with the fixed database names "2account", "2zqv", "2zqv_log".
TMergeSideEdits SideFromLogin(const TDbSettings& login, bool target);

// The port of a side: a number in 1-65535; EConvertError naming the text otherwise.
int MergePort(const QString& text);

// "ZQV2To1" + yymmddhhnnss + ".txt".
QString ProposedMergeLogName(TDateTime now);

// The event log file: it holds the event memo's lines whole, in GBK, each ended by CR LF. A
// line added while the file still holds what was written last is appended; otherwise (another
// program changed it, or lines were added while saving was off) the file is written anew.
class TMergeEventFile {
 public:
  explicit TMergeEventFile(QString fileName) : FFileName(std::move(fileName)) {}
  const QString& FileName() const noexcept { return FFileName; }

  // The file holds lines afterwards. Raises EFOpenError when it cannot be written.
  void Save(const QStringList& lines);

 private:
  void Rewrite(const QStringList& lines);

  QString FFileName;
  // Lines and bytes the file held after the last write.
  qsizetype FLines = -1;
  std::optional<qint64> FBytes;
};
