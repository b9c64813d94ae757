#include "console/backup/BakData.h"

#include <QFile>
#include <optional>

#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MyDump.h"
#include "components/MyRowReader.h"
#include "console/common/DbIniSettings.h"
#include "console/common/ProgressPercent.h"
#include "console/common/TypedText.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

const QString kNoDatabase = QStringLiteral("请选择数据库！");

// Result rows of REPAIR and OPTIMIZE: Table, Op, Msg_type, Msg_text.
struct TTableMessage {
  std::string Type;
  std::string Text;
};

bool SameText(const std::string& a, const char* b) {
  return QString::fromStdString(a).compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

TBakData::TBakData(TBakDataSink& sink)
    : FSink(sink), FCon(std::make_unique<TMyConnection>()), FDump(std::make_unique<TMyDump>()) {
  FCon->SetConnectionTimeout(10);
  FCon->InternalCommand().SetCommandTimeout(kBakListTimeoutSeconds);
  FDump->SetConnection(FCon.get());
  FDump->CommandTimeout = kBakStallSeconds;
  // A restore writes into the database the GM chose and nowhere else.
  FDump->StayInDatabase = true;
}

TBakData::~TBakData() {
  // The dump lets go of the connection before it closes.
  FDump->SetConnection(nullptr);
}

bool TBakData::Connected() const {
  return FCon->Connected();
}

void TBakData::CloseIfLost(const std::exception& e) noexcept {
  const auto* error = dynamic_cast<const EDAError*>(&e);
  if (error == nullptr || !FCon->IsFatalError(*error)) return;
  try {
    FCon->Close();
  } catch (...) {
    // Closed as far as it goes: the next login opens a new session.
  }
}

QString TBakData::Text(const std::string& bytes) const {
  return DecodeFieldText(bytes, FFieldCharset);
}

QString TBakData::CheckLogin(const TLoginInput& input) {
  if (input.Server.isEmpty()) return QStringLiteral("服务器名不能为空！");
  if (input.Uid.isEmpty() || input.Pwd.isEmpty()) return QStringLiteral("登录名或密码不能为空！");
  return {};
}

void TBakData::Login(const TLoginInput& input) {
  const std::optional<int> port = ParsePort(input.Port.toStdString());
  if (!port) throw EConvertError(MessageBytes("'" + input.Port + "' is not a valid integer value"));
  FCon->SetServer(input.Server.toStdString());
  FCon->SetPort(*port);
  FCon->SetUsername(input.Uid.toStdString());
  FCon->SetPassword(input.Pwd.toStdString());
  // Whole databases are its work: the window's own connection starts in none.
  FCon->SetDatabase({});
  // The "utf8" choice opens the session as utf8mb4: the same bytes for every character utf8 holds,
  // and the one set a backup can read latin1, gbk and four-byte text through together.
  const std::string charset =
      input.CharsetText == QLatin1String("utf8") ? std::string("utf8mb4") : input.CharsetText.toStdString();
  if (input.CharsetIndex != 0 && FCon->Options().Charset() != charset) FCon->Options().SetCharset(charset);
  FCharsetChoice = input.CharsetText;
  FCon->Open();
  const std::vector<std::string> results =
      TMyRowReader::FirstColumn(*FCon, "SELECT @@character_set_results", kBakListTimeoutSeconds);
  FFieldCharset = FieldCharsetOf(results.empty() ? std::string() : results.front());
}

void TBakData::Logout() {
  FCon->Close();
}

std::vector<std::string> TBakData::DatabaseNames() {
  TStringList list;
  FCon->GetDatabaseNames(list);
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(list[i]);
  return names;
}

std::string TBakData::QuotedName(const std::string& name) {
  std::string quoted = "`";
  for (char c : name) {
    if (c == '`') quoted.push_back('`');
    quoted.push_back(c);
  }
  quoted.push_back('`');
  return quoted;
}

bool TBakData::UseDatabase(const std::string& database) {
  if (!FCon->Connected()) {
    // Without the connection nothing below could run on the chosen database.
    ShowMessageBox(QStringLiteral("数据库没有连接..."), CaptionHint, TMsgIcon::Information);
    return false;
  }
  // Always chosen anew on the server: a restored file may have moved the session to another
  // database (USE) while the connection still names the one chosen before.
  FCon->SetDatabase({});
  FCon->SetDatabase(database);
  return true;
}

void TBakData::TableNames(std::vector<std::string>& tables, std::vector<std::string>& views) {
  TMyRowReader reader(*FCon, kBakListTimeoutSeconds);
  reader.SetSessionBytes(true);
  reader.Open("SHOW FULL TABLES");
  while (reader.Next()) (reader.Value(1) == "VIEW" ? views : tables).push_back(reader.Value(0));
}

bool TBakData::Backup(const std::string& database, const QString& fileName, bool structure, bool data) {
  if (database.empty()) return ShowMessage(kNoDatabase), false;
  if (fileName.isEmpty()) return ShowMessage(QStringLiteral("备份文件保存位置不能为空！")), false;
  // A backup of nothing would replace the file with header comments alone and pass for one.
  if (!structure && !data) return ShowMessage(QStringLiteral("请选择备份表结构或备份数据！")), false;
  if (!UseDatabase(database)) return false;
  const QString db = Text(database);
  // An existing file stays as it is until the new backup is whole.
  if (QFile::exists(fileName)) FSink.Hint(QStringLiteral("* 初始化..."));
  FSink.Hint(QStringLiteral("* 正在对数据库：") + db + QStringLiteral("执行查询..."));
  FDump->SetConnection(FCon.get());
  FDump->Objects = 0;
  if (structure) FDump->Objects |= doTables;
  if (data) FDump->Objects |= doData;
  // No list: every table and view of the chosen database. A name in the list is read as the user
  // writes it, where "a.b" is table b of database a, not the table named "a.b" here.
  FDump->TableNameList().Clear();
  FSink.Hint(QStringLiteral("* 正在进行数据库：") + db + QStringLiteral("备份..."));
  FSink.Progress(0);
  QString shown;
  FDump->OnBackupProgress = [&](TComponent*, const std::string& objectName, int, int, int percent) {
    const QString name = Text(objectName);
    if (name != shown) {
      shown = name;
      FSink.Step(name);
    }
    FSink.Progress(percent);
    FSink.ProcessMessages();
  };
  struct TClearEvent {
    TMyDump& Dump;
    ~TClearEvent() { Dump.OnBackupProgress = nullptr; }
  } clear{*FDump};
  try {
    FDump->BackupToFile(QFile::encodeName(fileName).toStdString());
  } catch (const EMyDumpCharsetError& e) {
    const QString reason = CharsetRefusal(e);
    FSink.Log(QStringLiteral("备份数据库\r\n") + db + QStringLiteral("操作失败\r\n") + reason);
    throw EDatabaseError(MessageBytes(reason));
  } catch (const std::exception& e) {
    // Failed or cancelled: the reason stays in the log beside the error shown.
    FSink.Log(QStringLiteral("备份数据库\r\n") + db + QStringLiteral("操作失败\r\n") + ExceptionText(e));
    CloseIfLost(e);
    throw;
  }
  FSink.Log(QStringLiteral("备份数据库\r\n") + db + QStringLiteral("操作成功"));
  FSink.Hint(QStringLiteral("* 备份数据库:") + db + QStringLiteral("成功！"));
  FSink.Progress(100);
  ShowMessage(QStringLiteral("操作编号:1100\r\n备份路径：") + fileName +
              QStringLiteral("\r\n备份成功,可进行其它操作"));
  FSink.Hint(QStringLiteral("* 空闲..."));
  return true;
}

QString TBakData::CharsetRefusal(const EMyDumpCharsetError& e) const {
  // Only the window's own choices: "utf8" (a utf8mb4 session) holds every set, and the column's
  // own set is offered as well when the window lists it.
  QString advice = QStringLiteral("utf8");
  const QString column = QString::fromStdString(e.ColumnCharset).toLower();
  for (int i = 1; i < kCharsetCount; ++i) {
    const QString offered = QString::fromUtf8(CharsetItemText(i));
    if (offered == column && offered != advice) advice = offered + QStringLiteral(" 或 ") + advice;
  }
  return QStringLiteral("数据列 ") + Text(e.Column) + QStringLiteral(" 保存的是 ") + column +
         QStringLiteral(" 文本，以字符集“") + FCharsetChoice +
         QStringLiteral("”登录时读出会把其中部分字符换成'?'：请以字符集 ") + advice +
         QStringLiteral(" 登录后再备份");
}

bool TBakData::Restore(const std::string& database, const QString& fileName) {
  if (database.empty()) return ShowMessage(kNoDatabase), false;
  if (!UseDatabase(database)) return false;
  const QString db = Text(database);
  FDump->SetConnection(FCon.get());
  if (fileName.isEmpty() || !QFile::exists(fileName)) {
    ShowMessageBox(QStringLiteral("打开备份文件失败，错误的路径或文件名！"), CaptionError, TMsgIcon::Error);
    return false;
  }
  FSink.Hint(QStringLiteral("* 初始化..."));
  FSink.Hint(QStringLiteral("* 还原数据库:") + db + QStringLiteral("正在进行..."));
  FSink.Progress(0);
  FDump->OnRestoreProgress = [&](TComponent*, int percent) {
    FSink.Progress(percent);
    FSink.ProcessMessages();
  };
  struct TClearEvent {
    TMyDump& Dump;
    ~TClearEvent() { Dump.OnRestoreProgress = nullptr; }
  } clear{*FDump};
  try {
    // Read a block at a time: a large file never sits whole in memory.
    FDump->RestoreFromFile(QFile::encodeName(fileName).toStdString());
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    // Every statement that failed is kept in the log before the error is shown.
    QString failures;
    for (const TDARestoreFailure& f : FDump->RestoreFailures())
      failures +=
          QStringLiteral("\r\n%1: ").arg(f.Line) + Text(f.Head) + QStringLiteral("\r\n") + Text(f.Message);
    // The file moved the session to another database: the restore stopped before anything ran
    // there, and the session goes back to the chosen one.
    if (!FDump->SwitchedDatabase().empty()) {
      failures +=
          QStringLiteral("\r\n备份文件切换到了数据库：") + QString::fromStdString(FDump->SwitchedDatabase());
      try {
        if (FCon->Connected()) UseDatabase(database);
      } catch (const std::exception&) {
        // The next operation selects it again; the switch is what gets reported.
      }
    }
    FSink.Log(QStringLiteral("还原数据库\r\n") + db + QStringLiteral("操作失败") + failures);
    CloseIfLost(e);
    throw;
  }
  FSink.Progress(100);
  ShowMessage(QStringLiteral("操作编号:1101\r\n\r\n还原成功,可进行其它操作"));
  FSink.Log(QStringLiteral("还原数据库\r\n") + db + QStringLiteral("操作成功"));
  FSink.Hint(QStringLiteral("* 还原数据库:") + db + QStringLiteral("成功！"));
  return true;
}

bool TBakData::Maintain(const std::string& database, TMaintenance mode) {
  if (database.empty()) return ShowMessage(kNoDatabase), false;
  if (!UseDatabase(database)) return false;
  const QString db = Text(database);
  if (mode == TMaintenance::RepairIndex) {
    ShowMessageBox(QStringLiteral("无法对该数据库进行索引重建！数据库名：") + db, CaptionError,
                   TMsgIcon::Error);
    return false;
  }
  // Base tables only: a view holds nothing to repair or optimize, and the server answers it with
  // an error row that would stop the run.
  std::vector<std::string> tables, views;
  TableNames(tables, views);
  const int n = static_cast<int>(tables.size());
  FSink.Hint(QStringLiteral("* 正在对数据库：") + db + QStringLiteral("进行初始化..."));
  FSink.Progress(0);
  const bool repair = mode == TMaintenance::RepairTable;
  const QString verb = repair ? QStringLiteral("修复") : QStringLiteral("优化");
  for (const std::string& view : views)
    FSink.Log(verb + QStringLiteral("表\r\n") + db + "." + Text(view) + QStringLiteral("是视图,已跳过"));
  const std::string statement = repair ? "REPAIR TABLE " : "OPTIMIZE  TABLE ";
  for (int i = 0; i < n; ++i) {
    const QString t = Text(tables[static_cast<size_t>(i)]);
    // The label divides by one more than there are tables, the bar by the tables; a half goes up.
    FSink.Step(QStringLiteral("%1% ").arg(ProgressPercent(i, n + 1, TPercentTies::AwayFromZero)) + t);
    FSink.Progress(ProgressPercent(i, n, TPercentTies::AwayFromZero));
    FSink.ProcessMessages();
    // The server reports a table it could not work on as a result row, not as an error.
    std::vector<TTableMessage> messages;
    bool failed = false;
    try {
      TMyRowReader reader(*FCon, kBakLongTimeoutSeconds);
      reader.Open(statement + QuotedName(tables[static_cast<size_t>(i)]));
      const int type = reader.FieldIndex("Msg_type");
      const int text = reader.FieldIndex("Msg_text");
      while (type >= 0 && text >= 0 && reader.Next())
        messages.push_back({reader.Value(type), reader.Value(text)});
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      messages.push_back({"error", e.what()});
      CloseIfLost(e);
    }
    for (const TTableMessage& m : messages) {
      const bool error = SameText(m.Type, "error");
      failed = failed || error;
      if (error || SameText(m.Type, "note") || SameText(m.Type, "warning"))
        FSink.Log(verb + QStringLiteral("表\r\n") + db + "." + t + " " + Text(m.Type) + ": " + Text(m.Text));
    }
    if (failed) {
      ShowMessageBox(
          QStringLiteral("错误编号:1001\r\n\r\n") + verb + QStringLiteral("失败,请检查网络情况或权限"),
          CaptionError, TMsgIcon::Error);
      FSink.Log(verb + QStringLiteral("数据库\r\n") + t + QStringLiteral("操作失败"));
      FSink.Hint(QStringLiteral("* ") + verb + QStringLiteral("数据库：") + db + QStringLiteral(",表：") + t +
                 QStringLiteral("失败！"));
      return false;
    }
    FSink.Log(verb + QStringLiteral("表\r\n") + db + "." + t + QStringLiteral("操作成功"));
    FSink.Hint(QStringLiteral("* ") + verb + QStringLiteral("数据库：") + db + QStringLiteral(",表：") + t +
               QStringLiteral("成功！"));
  }
  FSink.Hint(QStringLiteral("* ") + verb + QStringLiteral("数据库：") + db + QStringLiteral(",全部完成！"));
  FSink.Step(QStringLiteral("100% "));
  FSink.Progress(100);
  FSink.Log(verb + QStringLiteral("数据库\r\n") + db + QStringLiteral("全部操作成功"));
  ShowMessage(QStringLiteral("操作编号:1110\r\n") + db + QStringLiteral("数据库") + QStringLiteral("\r\n") +
              verb + QStringLiteral("成功,可进行其它操作"));
  return true;
}

namespace {

// Runs a statement without rows on the connection, waiting as long as long work may; the lists
// keep their shorter wait.
void RunLong(TMyConnection& con, const std::string& sql) {
  TMyCommand& command = con.InternalCommand();
  const int previous = command.CommandTimeout();
  command.SetCommandTimeout(kBakLongTimeoutSeconds);
  struct TRestore {
    TMyCommand& Command;
    int Value;
    ~TRestore() { Command.SetCommandTimeout(Value); }
  } restore{command, previous};
  con.ExecSQL(sql);
}

}  // namespace

bool TBakData::CreateDatabase(const std::string& name) {
  if (name.empty()) return ShowMessage(QStringLiteral("请填写要创建的数据库的名字！")), false;
  const QString db = Text(name);
  if (!FCon->Connected()) {
    ShowMessageBox(QStringLiteral("数据库没有连接..."), CaptionHint, TMsgIcon::Information);
    return false;
  }
  FSink.Hint(QStringLiteral("* 正在对数据库：") + db + QStringLiteral("进行创建..."));
  try {
    RunLong(*FCon, "CREATE DATABASE " + QuotedName(name));
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    CloseIfLost(e);
    ShowMessage(QStringLiteral("错误编号:1001\r\n\r\n创建失败,请检查网络情况"));
    FSink.Log(QStringLiteral("创建数据库\r\n") + db + QStringLiteral("操作失败"));
    FSink.Hint(QStringLiteral("* 创建数据库：") + db + QStringLiteral("失败！"));
    return false;
  }
  ShowMessage(QStringLiteral("操作编号:1104\r\n\r\n") + db + QStringLiteral("创建成功,可进行其它操作"));
  FSink.Log(QStringLiteral("创建数据库\r\n") + db + QStringLiteral("操作成功"));
  FSink.Hint(QStringLiteral("* 创建数据库：") + db + QStringLiteral("成功！"));
  return true;
}

bool TBakData::DropDatabase(const std::string& name) {
  const QString db = Text(name);
  if (!FCon->Connected()) {
    ShowMessageBox(QStringLiteral("数据库没有连接..."), CaptionHint, TMsgIcon::Information);
    return false;
  }
  FSink.Hint(QStringLiteral("* 正在对数据库：") + db + QStringLiteral("进行删除..."));
  try {
    RunLong(*FCon, "DROP DATABASE " + QuotedName(name));
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    CloseIfLost(e);
    ShowMessage(QStringLiteral("错误编号:1001\r\n\r\n删除失败,请检查网络情况"));
    FSink.Log(QStringLiteral("删除数据库\r\n") + db + QStringLiteral("操作失败"));
    FSink.Hint(QStringLiteral("* 删除数据库：") + db + QStringLiteral("失败！"));
    return false;
  }
  ShowMessage(QStringLiteral("操作编号:1104\r\n\r\n删除成功,可进行其它操作"));
  FSink.Log(QStringLiteral("删除数据库\r\n") + db + QStringLiteral("操作成功"));
  FSink.Hint(QStringLiteral("* 删除数据库：") + db + QStringLiteral("成功！"));
  return true;
}
