// The zone-merge run's statements, reads and writes, its course from start to end and the
// interface. Beside it: the checks before the run (ZoneMergeChecks.cpp), the account,
// character and warehouse passes (ZoneMergeAccounts.cpp, ZoneMergeCharacters.cpp,
// ZoneMergeWarehouses.cpp) and the record of earlier copies (ZoneMergeRecords.cpp).
#include "console/merge/ZoneMerge.h"

#include <QDateTime>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/DBAccessDataSet.h"
#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MyRowReader.h"
#include "console/browsers/BrowserPaging.h"
#include "console/common/ProgressPercent.h"
#include "console/merge/ZoneMergeRun.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/FieldText.h"

namespace {

bool IsInteger(std::string_view s) {
  if (!s.empty() && s.front() == '-') s.remove_prefix(1);
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

// ---- the run --------------------------------------------------------------------------------------

int TTable::Col(std::string_view name) const {
  for (size_t i = 0; i < Names.size(); ++i)
    if (QString::fromStdString(Names[i]).compare(QLatin1String(name.data(), qsizetype(name.size())),
                                                 Qt::CaseInsensitive) == 0)
      return static_cast<int>(i);
  return -1;
}

const TCell& TTable::Cell(int row, std::string_view name) const {
  static const TCell kNull;
  const int c = Col(name);
  return c < 0 ? kNull : Rows[static_cast<size_t>(row)][static_cast<size_t>(c)];
}

TZoneMergeRun::TZoneMergeRun(TMyConnection& srcAcc, TMyConnection& srcChar, TMyConnection& tgtAcc,
                             TMyConnection& tgtChar, const TZoneMergeOptions& options, TZoneMergeSink& sink)
    : FSrcAcc(srcAcc), FSrcChar(srcChar), FTgtAcc(tgtAcc), FTgtChar(tgtChar), FOptions(options), FSink(sink) {
  for (auto* c : {&FAccCmd, &FCharCmd}) {
    *c = std::make_unique<TMyCommand>();
    (*c)->SetCommandTimeout(kMergeTimeoutSeconds);
    (*c)->SetParamCheck(false);
  }
  FAccCmd->SetConnection(&FTgtAcc);
  FCharCmd->SetConnection(&FTgtChar);
}

TZoneMergeRun::~TZoneMergeRun() = default;

const TZoneMergeRun::TSide& TZoneMergeRun::SideOf(const TMyConnection& con) const {
  if (&con == &FSrcAcc) return FSrcAccSide;
  if (&con == &FSrcChar) return FSrcCharSide;
  if (&con == &FTgtAcc) return FTgtAccSide;
  return FTgtCharSide;
}

std::array<TZoneMergeRun::TSession, 4> TZoneMergeRun::Sessions() {
  return {
      {{FSrcAcc, FSrcAccSide}, {FSrcChar, FSrcCharSide}, {FTgtAcc, FTgtAccSide}, {FTgtChar, FTgtCharSide}}};
}

QString TZoneMergeRun::Text(const TMyConnection& con, std::string_view bytes) const {
  return DecodeFieldText(bytes, SideOf(con).Text);
}

std::string TZoneMergeRun::Lit(const TMyConnection& con, std::string_view bytes) const {
  // Names come from the players: the literal must read back as these bytes in the session's mode.
  return SqlLiteral(bytes, TLiteralStyle(SideOf(con).Literal, con.LiteralStyle().NoBackslashEscapes));
}

std::string TZoneMergeRun::Db(const TSide& side, const TMyConnection& on) const {
  return QuotedColumn(side.Database, SideOf(on).Literal);
}

std::string TZoneMergeRun::Num(const std::string& bytes) {
  // Row numbers come from integer columns; anything else is still sent as a literal only.
  return IsInteger(bytes) ? bytes : SqlLiteral(bytes, TLiteralStyle(TCharsetKind::SingleByte));
}

std::string TZoneMergeRun::Tagged(const std::string& name, const std::string& tag, bool before) const {
  return before ? tag + name : name + tag;
}

std::string TZoneMergeRun::CopyAccountSql(const std::string& newName, const std::string& where) const {
  return "INSERT INTO " + Db(FTgtAccSide, FTgtAcc) +
         ".`user` (username,`password`,deleted,user_priv,locked,lock_begin,lock_end,create_date,`from`,"
         "latest_login_date,latest_login_ip,email,webmoney) select " +
         Lit(FTgtAcc, newName) +
         ",`password`,deleted,user_priv,locked,lock_begin,lock_end,create_date,`from`,latest_login_date,"
         "latest_login_ip,email,webmoney from " +
         Db(FSrcAccSide, FTgtAcc) + ".`user`  where " + where;
}

std::string TZoneMergeRun::PlainGold() {
  return "Metier,MetierLevel,X,Y,Gold,SP,Str,Con,Dex,`Int`,Hit,Skills,Items,Shortcut,Config,PK,Task,Score,"
         "HeadModelID,Credit,OnlineTime,";
}

std::string TZoneMergeRun::CompensatedGold(const std::string& amount) {
  return "Metier,MetierLevel,X,Y,'" + amount +
         "',SP,Str,Con,Dex,`Int`,Hit,Skills,Items,Shortcut,Config,PK,Task,Score,HeadModelID,Credit,"
         "OnlineTime,";
}

std::string TZoneMergeRun::CopyCharacterSql(const std::string& newName, const std::string& accountId,
                                            const std::string& goldPart, const std::string& where) const {
  const std::string name = Lit(FTgtChar, newName);
  return "INSERT INTO " + Db(FTgtCharSide, FTgtChar) +
         ".`user` "
         "(UniqueName,Name,ActorID,AccountID,Account,Scene,HP,MP,`EXP`,AP,Level,DeleteDate,CreateDate,"
         "LastUpdateDate,Metier,MetierLevel,X,Y,Gold,SP,Str,Con,Dex,`Int`,Hit,Skills,Items,Shortcut,Config,"
         "PK,"
         "Task,Score,HeadModelID,Credit,OnlineTime,usertype,LastDelUnionTime,LastRemoveMPTime, `Password`,"
         "deleted,Faction,ClearCnt,DungeonTID,DungeonUID,DungeonQuit,DungeonTask,InWarfield,WarfieldQuit,"
         "UsData,WithdrawMPGift,MyData,golduser1) select " +
         name + "," + name + ",ActorID," + Lit(FTgtChar, accountId) +
         ",Account,Scene,HP,MP,`EXP`,AP,Level,DeleteDate,CreateDate,LastUpdateDate," + goldPart +
         "usertype,LastDelUnionTime,LastRemoveMPTime, "
         "`Password`,deleted,Faction,ClearCnt,DungeonTID,DungeonUID,"
         "DungeonQuit,DungeonTask,InWarfield,WarfieldQuit,'*',WithdrawMPGift,MyData,golduser1 from " +
         Db(FSrcCharSide, FTgtChar) + ".`user`  where " + where;
}

std::string TZoneMergeRun::CopyWarehouseSql(const std::string& newIdx, const std::string& where) const {
  return "INSERT INTO " + Db(FTgtCharSide, FTgtChar) +
         ".`t_bank` (AccountID,Account,Items,BankMoney,Password) select " + Lit(FTgtChar, newIdx) +
         ",Account,Items,BankMoney,Password from " + Db(FSrcCharSide, FTgtChar) + ".`t_bank`  where " + where;
}

std::string TZoneMergeRun::AccountCharactersSql(const std::string& accountId) const {
  // The id is a number from an integer column.
  const std::string id = SqlLiteral(accountId, TLiteralStyle(TCharsetKind::SingleByte));
  return FOptions.DropDeleted ? "select * from user where deleted<>'1' and AccountID=" + id
                              : "select * from user where AccountID=" + id;
}

QString TZoneMergeRun::CountsText() const {
  QString text = QStringLiteral("复制帐号%1个，角色%2个，仓库%3个；跳过%4个，错误%5个，此前已合并%6个")
                     .arg(FCounts.AccountsCopied)
                     .arg(FCounts.CharactersCopied)
                     .arg(FCounts.BanksCopied)
                     .arg(FCounts.Skipped)
                     .arg(FCounts.Errors)
                     .arg(FCounts.AlreadyMerged);
  if (FCounts.GoldCapped > 0) text += QStringLiteral("，金币按上限转入%1个").arg(FCounts.GoldCapped);
  if (FCounts.Orphans > 0) text += QStringLiteral("，无对应帐号未合并%1个").arg(FCounts.Orphans);
  return text;
}

// ---- plumbing -------------------------------------------------------------------------------------

TTable TZoneMergeRun::Read(TMyConnection& con, const std::string& sql) {
  std::unique_ptr<TMyRowReader>& slot = FReaders[{&con, sql.substr(0, sql.find(" where "))}];
  if (!slot) {
    slot = std::make_unique<TMyRowReader>(con, kMergeTimeoutSeconds);
    // Names travel as the session's bytes from one statement into the next.
    slot->SetSessionBytes(true);
  }
  TMyRowReader& reader = *slot;
  // Closed however the read ends, as a reader of its own was: no rows stay unread on the session.
  struct TCloser {
    TMyRowReader& Reader;
    ~TCloser() {
      try {
        Reader.Close();
      } catch (...) {
        // The next Open closes again; the read's own error, if any, is the one that counts.
      }
    }
  } closer{reader};
  reader.Open(sql);
  TTable table;
  const int n = reader.FieldCount();
  for (int i = 0; i < n; ++i) table.Names.push_back(reader.Field(i).Name);
  while (reader.Next()) {
    std::vector<TCell> row(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      TCell& cell = row[static_cast<size_t>(i)];
      cell.Null = reader.IsNull(i);
      if (!cell.Null) cell.Bytes = reader.Value(i);
    }
    table.Rows.push_back(std::move(row));
  }
  return table;
}

void TZoneMergeRun::Fail(const QString& step, const QString& log) {
  FSink.Step(step);
  FSink.Operation(log);
  throw TStop{};
}

TTable TZoneMergeRun::Guarded(TMyConnection& con, const std::string& sql, const TGuard& guard) {
  try {
    return Read(con, sql);
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    FSink.Operation(QString::fromUtf8(guard.Log) + QStringLiteral(" (") + Text(con, e.what()) + ")");
    Fail(QString::fromUtf8(guard.Step), QString::fromUtf8(guard.Log));
  }
  return {};
}

void TZoneMergeRun::Exec(TMyCommand& command, const std::string& sql) {
  TDBAccessUtils::SetSQLText(&command, sql);
  command.Execute();
}

std::optional<int64_t> TZoneMergeRun::Insert(TMyCommand& command, const std::string& sql,
                                             const QString& question, bool wantsId,
                                             const TCopyRecord* record) {
  QString failure;
  if (record != nullptr) BeginCopy(*record);
  try {
    Exec(command, sql);
    const int rows = command.RowsAffected();
    // The id of this statement's own answer: an insert that added nothing leaves none, and the
    // session's earlier one belongs to another row.
    const int64_t id = wantsId ? command.InsertId() : 0;
    if (rows == 1 && (!wantsId || id > 0)) {
      if (record != nullptr) CopyDone(*record, wantsId ? std::to_string(id) : record->TargetAccount);
      return id;
    }
    failure =
        rows == 1 ? QStringLiteral("插入后没有得到新编号") : QStringLiteral("插入了%1行，应为1行").arg(rows);
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    failure = Text(*static_cast<TMyConnection*>(command.Connection()), e.what());
  }
  if (record != nullptr) CopyFailed(*record);
  FSink.Operation(QStringLiteral("插入失败：") + failure);
  if (FSink.Ask(question, QStringLiteral("提示"), false, true)) {
    FSink.Operation(QStringLiteral("按要求中止..."));
    throw TStop{};
  }
  ++FCounts.Errors;
  return std::nullopt;
}

void TZoneMergeRun::SetProgress(int i, int n, bool stopPoint) {
  FSink.Progress(QString::number(ProgressPercent(i, n)));
  if (FSink.ProcessMessagesAndCheckStop() && stopPoint) {
    FSink.Step(QStringLiteral("已按要求中止."));
    throw TStop{};
  }
}

void TZoneMergeRun::BeginUnit() {
  if (!FTransactional) return;
  FTgtAcc.StartTransaction();
  FTgtChar.StartTransaction();
  FInUnit = true;
}

void TZoneMergeRun::CommitUnit() {
  try {
    // The unit's records go with it: inside its transactions, or after its rows.
    WriteDoneRecords();
    if (!FInUnit) return;
    FInUnit = false;
    // The account first: characters never stay behind under an account that is not there.
    FTgtAcc.Commit();
    FTgtChar.Commit();
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    RollbackUnit();
    FSink.Operation(QStringLiteral("提交事务失败：") + Text(FTgtChar, e.what()));
    Fail(QStringLiteral("查询:转入分区提交事务失败，无法继续."),
         QStringLiteral("转入分区提交事务失败，中止..."));
  }
}

void TZoneMergeRun::RollbackUnit() noexcept {
  if (!FTransactional) {
    // What was copied stays: its records are written now, or settled by the next run.
    try {
      WriteDoneRecords();
    } catch (...) {
      FDone.clear();
    }
    return;
  }
  FDone.clear();
  for (TMyConnection* c : {&FTgtAcc, &FTgtChar}) {
    try {
      if (c->Connected() && c->InTransaction()) c->Rollback();
    } catch (...) {
      // A connection gone takes its transaction with it.
    }
  }
  if (FInUnit) FSink.Operation(QStringLiteral("当前帐号的操作已回滚."));
  FInUnit = false;
}

bool TZoneMergeRun::NameFits(const std::string& name, int limit, TCharsetKind kind, const QString& what,
                             const QString& question) {
  // The column counts characters; a latin1 session sends each byte as one.
  int length = 0;
  for (const char *p = name.data(), *end = p + name.size(); p < end; ++length)
    p += kind == TCharsetKind::SingleByte ? 1 : MbCharLen(kind, p, end);
  if (length <= limit) return true;
  FSink.Operation(
      what + QStringLiteral(" 的长度%1超过转入分区字段的长度%2，无法写入，跳过...").arg(length).arg(limit));
  FSink.Event(what + QStringLiteral(" 超过转入分区字段的长度，跳过！"));
  if (FSink.Ask(question, QStringLiteral("提示"), false, true)) {
    FSink.Operation(QStringLiteral("按要求中止..."));
    throw TStop{};
  }
  ++FCounts.Skipped;
  return false;
}

// ---- the whole run ------------------------------------------------------------------------------------

TZoneMergeCounts TZoneMergeRun::Run() {
  FCounts = {};
  FSink.BeginEventLog(QStringLiteral("合区重复帐号角色处理记录  ") +
                      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
  FSink.Progress(QStringLiteral("0"));
  FSink.Step(QStringLiteral("数据连接验证."));
  FSink.Description(QStringLiteral("验证数据设置和内容设置是否合法."));
  FSink.Operation(QStringLiteral("合区开始..."));
  FSink.Operation(QStringLiteral("验证数据连接与配置"));
  // The sessions leave the run in the mode they came in, and its readers go with it: the
  // connections may be logged in elsewhere before the next run.
  struct TRestore {
    TZoneMergeRun& Run;
    ~TRestore() {
      Run.RestoreSessions();
      Run.FReaders.clear();
    }
  } restore{*this};
  try {
    if (!CheckConnections() || !CheckSettings() || !Preflight()) {
      FCounts.Stopped = true;
      return FCounts;
    }
    if (FOptions.MergeAccounts)
      AccountMode();
    else
      CharacterMode();
  } catch (const TStop&) {
    RollbackUnit();
    FCounts.Stopped = true;
    FSink.Operation(QStringLiteral("合区中止：") + CountsText());
    return FCounts;
  } catch (const EAbort&) {
    RollbackUnit();
    throw;
  } catch (const std::exception& e) {
    // A statement outside the guarded steps (a transaction's start on a lost connection).
    RollbackUnit();
    FSink.Operation(QStringLiteral("合区中止：") + Text(FTgtChar, e.what()) + QStringLiteral("；") +
                    CountsText());
    FCounts.Stopped = true;
    return FCounts;
  }
  FCounts.Completed = true;
  FSink.Operation(QStringLiteral("合区结束：") + CountsText());
  if (FCounts.AccountsCopied + FCounts.CharactersCopied + FCounts.BanksCopied == 0 &&
      FCounts.AlreadyMerged > 0)
    FSink.Operation(QStringLiteral("转出分区此前已合并，本次没有重复复制任何数据."));
  FSink.Inform(QStringLiteral("合区所有操作已完成！\r\n") + CountsText(), QStringLiteral("提示"), false);
  return FCounts;
}

// ---- the interface ------------------------------------------------------------------------------------

TZoneMerge::TZoneMerge(TMyConnection& srcAcc, TMyConnection& srcChar, TMyConnection& tgtAcc,
                       TMyConnection& tgtChar, const TZoneMergeSide& /*source*/,
                       const TZoneMergeSide& /*target*/, const TZoneMergeOptions& options,
                       TZoneMergeSink& sink)
    : FRun(std::make_unique<TZoneMergeRun>(srcAcc, srcChar, tgtAcc, tgtChar, options, sink)) {}

TZoneMerge::~TZoneMerge() = default;

TZoneMergeCounts TZoneMerge::Run() {
  return FRun->Run();
}
