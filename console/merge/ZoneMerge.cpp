#include "console/merge/ZoneMerge.h"

#include <QDateTime>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/DBAccessDataSet.h"
#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MyRowReader.h"
#include "console/browsers/BrowserPaging.h"
#include "console/common/ColumnRange.h"
#include "console/common/ProgressPercent.h"
#include "console/merge/ZoneMergeRun.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/FieldText.h"

namespace {

// The columns an account copy carries (the new name and the server's idx aside).
constexpr std::string_view kAccountCopied[] = {
    "password",    "deleted", "user_priv", "locked",   "lock_begin",        "lock_end",
    "create_date", "from",    "email",     "webmoney", "latest_login_date", "latest_login_ip"};
// The columns an earlier version of the run took to tell a character it had moved from one of
// the target's own: it marked what it moved with UsData '*', kept the source account's name in
// Account, and copied these.
constexpr std::string_view kCharIdentity[] = {"ActorID", "CreateDate", "Account"};

const QString kInsertCharQuestion =
    QStringLiteral("对转入分区进行插入角色数据时发生错误，是否中止程序继续运行！");
const QString kInsertQuestion = QStringLiteral("对转入分区进行插入数据时发生错误，是否中止程序继续运行！");
const QString kInsertBankQuestion =
    QStringLiteral("对转入分区仓库插入数据时发生错误，是否中止程序继续运行！");
const QString kQueryBankQuestion = QStringLiteral("对转出分区仓库进行查询时发生错误，是否中止程序继续运行！");

constexpr TGuard kQ1{"验证:转出帐号数据库查询失败，无法继续.", "转出帐号数据库查询失败，中止..."};
constexpr TGuard kQ5{"验证:转出角色数据库查询失败，无法继续.", "转出角色数据库查询失败，中止..."};
constexpr TGuard kQ2{"查询:转入帐号数据库查询失败，无法继续.", "转入帐号数据库查询失败，中止..."};
constexpr TGuard kQ3{"查询:转出角色数据库查询失败，无法继续.", "转出角色数据库查询失败，中止..."};
constexpr TGuard kQ4First{"查询:转入角色数据库查询失败，无法继续.", "转入角色是否重复查询失败，中止..."};
constexpr TGuard kQ4{"查询:转入角色数据库查询失败，无法继续.", "转入角色数据库查询失败，中止..."};

bool IsInteger(std::string_view s) {
  if (!s.empty() && s.front() == '-') s.remove_prefix(1);
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<int64_t> ParseInt64(std::string_view s) {
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
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

// ---- checks ---------------------------------------------------------------------------------------

bool TZoneMergeRun::CheckConnections() {
  struct TCheck {
    TMyConnection* Con;
    const char* Open;
    const char* Progress;
    const char* Closed;
    const char* Step;
  };
  const TCheck checks[] = {
      {&FSrcAcc, "转出分区帐号数据库连接正常...", "25", "转出分区帐号数据库连接错误，中止...",
       "验证:转出分区帐号数据连不正常，无法继续."},
      {&FSrcChar, "转出分区角色数据库连接正常...", "50", "转出分区角色数据库连接错误，中止...",
       "验证:转出分区角色数据连不正常，无法继续."},
      {&FTgtAcc, "转入分区帐号数据库连接正常...", "75", "转入分区帐号数据库连接错误，中止...",
       "验证:转入分区帐号数据连不正常，无法继续."},
      {&FTgtChar, "转入分区角色数据库连接正常...", "100", "转入分区角色数据库连接错误，中止...",
       "验证:转入分区角色数据连不正常，无法继续."},
  };
  for (const TCheck& c : checks) {
    if (!c.Con->Connected()) {
      FSink.Operation(QString::fromUtf8(c.Closed));
      FSink.Step(QString::fromUtf8(c.Step));
      return false;
    }
    FSink.Operation(QString::fromUtf8(c.Open));
    FSink.Progress(QString::fromUtf8(c.Progress));
  }
  return true;
}

bool TZoneMergeRun::CheckSettings() {
  FSink.Progress(QStringLiteral("0"));
  FSink.Step(QStringLiteral("设置内容验证."));
  FSink.Description(QStringLiteral("验证设置的内容是否合法."));
  FSink.Operation(QStringLiteral("设置验证：验证设置的内容是否合法."));
  FSink.Progress(QStringLiteral("10"));
  auto refuse = [this](const char* step, const char* log) {
    FSink.Step(QString::fromUtf8(step));
    FSink.Operation(QString::fromUtf8(log));
    return false;
  };
  // Every copy runs on the target's server reading the source databases by name: the four
  // connections must reach one server, whatever their server texts say.
  for (const TSession& s : Sessions()) {
    TSide& side = s.Side;
    try {
      const TTable t = Read(
          s.Con,
          "SELECT @@hostname, @@port, @@datadir, DATABASE(), @@character_set_results, @@SESSION.sql_mode");
      if (t.Empty()) throw EDatabaseError("no row");
      const auto& row = t.Rows.front();
      side.Host = row[0].Bytes;
      side.Port = row[1].Bytes;
      side.DataDir = row[2].Bytes;
      side.Database = row[3].Null ? std::string() : row[3].Bytes;
      side.Text = FieldCharsetOf(row[4].Bytes);
      side.Literal = s.Con.LiteralStyle().Charset;
      // Strict: a value longer than its column is refused, not cut (a MyISAM insert included).
      side.SqlMode = row[5].Bytes;
      s.Con.ExecSQL("SET SESSION sql_mode=CONCAT_WS(',',NULLIF(@@SESSION.sql_mode,''),'STRICT_ALL_TABLES')");
      side.ModeSet = true;
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      FSink.Operation(QStringLiteral("无法读取数据库服务器的信息：") + Text(s.Con, e.what()));
      return refuse("验证:无法读取数据库服务器的信息，无法继续.", "无法读取数据库服务器的信息，中止...");
    }
    if (side.Database.empty())
      return refuse("验证:连接没有选定数据库，无法继续.", "连接没有选定数据库，中止...");
  }
  for (const TSide* side : {&FSrcCharSide, &FTgtAccSide, &FTgtCharSide})
    if (side->Host != FSrcAccSide.Host || side->Port != FSrcAccSide.Port ||
        side->DataDir != FSrcAccSide.DataDir)
      return refuse("验证:转出与转入分区不在同一个数据库服务器上，无法继续.",
                    "转出与转入分区不在同一个数据库服务器上，中止...");
  if (FOptions.MergeAccounts && FSrcAccSide.Database == FTgtAccSide.Database)
    return refuse("验证:合并帐号的模式下,发现转入转出分区帐号数据库相同，无法继续.",
                  "合并帐号的模式下,发现转入转出分区帐号数据库相同，中止...");
  FSink.Progress(QStringLiteral("40"));
  if (FSrcCharSide.Database == FTgtCharSide.Database)
    return refuse("验证:任何模式下，角色帐号库都不能为同一个数据库，无法继续.",
                  "任何模式下，角色帐号库都不能为同一个数据库，中止...");
  FSink.Progress(QStringLiteral("70"));
  if (FOptions.AccountTag.isEmpty() || FOptions.CharTag.isEmpty())
    return refuse("验证:帐号或角色重复规则未设定，无法继续.", "帐号或角色重复规则未设定，中止...");
  if (FOptions.Compensate) {
    if (FOptions.Compensation.isEmpty())
      return refuse("验证:角色重复补偿已选择，但未设定补偿数量，无法继续.",
                    "角色重复补偿已选择，但未设定补偿数量，中止...");
    const std::optional<int64_t> amount = ParseInt64(FOptions.Compensation.toStdString());
    if (!amount || *amount < 0)
      return refuse("验证:角色重复补偿数量不是有效的数字，无法继续.",
                    "角色重复补偿数量不是有效的数字，中止...");
    FCompensation = *amount;
  }
  // A tag character the target's set lacks would name the copies with "?" in its place.
  if (FirstUnencodable(FOptions.AccountTag.toStdU16String(), FTgtAccSide.Text) != kNoUnencodable ||
      FirstUnencodable(FOptions.CharTag.toStdU16String(), FTgtCharSide.Text) != kNoUnencodable)
    return refuse("验证:帐号或角色重复规则含有转入分区字符集无法保存的字符，无法继续.",
                  "帐号或角色重复规则含有转入分区字符集无法保存的字符，中止...");
  FAccTag = EncodeFieldText(FOptions.AccountTag, FTgtAccSide.Text);
  FCharTag = EncodeFieldText(FOptions.CharTag, FTgtCharSide.Text);
  FSink.Progress(QStringLiteral("100"));
  return true;
}

void TZoneMergeRun::RestoreSessions() noexcept {
  for (const TSession& s : Sessions()) {
    if (!s.Side.ModeSet) continue;
    s.Side.ModeSet = false;
    try {
      if (s.Con.Connected()) s.Con.ExecSQL("SET SESSION sql_mode=" + Lit(s.Con, s.Side.SqlMode));
    } catch (...) {
      // A session gone has no mode left to give back.
    }
  }
}

bool TZoneMergeRun::Preflight() {
  FSink.Step(QStringLiteral("表结构预检."));
  FSink.Description(QStringLiteral("不写入任何数据，试运行每一条语句."));
  FSink.Operation(QStringLiteral("表结构预检：以不复制任何行的条件试运行每一条语句."));
  const bool bank = FOptions.MergeAccounts && FOptions.MergeBank;
  struct TNeed {
    TMyConnection* Con;
    std::string Sql;
    std::vector<std::string_view> Columns;
  };
  std::vector<TNeed> reads = {
      {&FSrcAcc, "select * from user where 1=0", {"idx", "username"}},
      {&FTgtAcc, "select * from user where 1=0", {"idx", "username"}},
      {&FSrcChar,
       "select * from user where 1=0",
       {"ID", "Name", "Gold", "Faction", "AccountID", "deleted", "ActorID", "CreateDate", "Account"}},
      {&FTgtChar,
       "select * from user where 1=0",
       {"Name", "UsData", "ActorID", "CreateDate", "Account", "AccountID"}},
      {&FTgtChar,
       "select count(*) from user where AccountID='0' and (UsData is null or UsData<>'*') and 1=0",
       {}},
  };
  if (!FOptions.MergeAccounts)
    reads.push_back({&FSrcChar,
                     "select count(*) count,accountid from `user` where 1=0 group by accountid",
                     {"accountid"}});
  if (bank) {
    reads.push_back({&FSrcChar, "select * from t_bank where 1=0", {"AccountID"}});
    reads.push_back({&FTgtChar, "select * from t_bank where 1=0", {}});
  }
  const std::string never = "1=0";
  struct TShape {
    TMyCommand* Command;
    std::string Sql;
  };
  std::vector<TShape> shapes = {
      {FAccCmd.get(), CopyAccountSql("x", never)},
      {FCharCmd.get(), CopyCharacterSql("x", "0", PlainGold(), never)},
      {FCharCmd.get(), CopyCharacterSql("x", "0", CompensatedGold("0"), never)},
  };
  if (bank) shapes.push_back({FCharCmd.get(), CopyWarehouseSql("0", never)});
  QString problem;
  try {
    for (const TNeed& need : reads) {
      const TTable t = Read(*need.Con, need.Sql);
      for (std::string_view column : need.Columns)
        if (t.Col(column) < 0 && problem.isEmpty())
          problem = QStringLiteral("%1 缺少列 %2")
                        .arg(Text(*need.Con, SideOf(*need.Con).Database),
                             QString::fromUtf8(column.data(), qsizetype(column.size())));
    }
    if (problem.isEmpty())
      for (const TShape& shape : shapes) {
        TDBAccessUtils::SetSQLText(shape.Command, shape.Sql);
        shape.Command->Execute();
      }
    if (problem.isEmpty()) {
      const TTable gold =
          Read(FTgtChar,
               "select DATA_TYPE,COLUMN_TYPE,NUMERIC_PRECISION,NUMERIC_SCALE from "
               "information_schema.COLUMNS where TABLE_SCHEMA=" +
                   Lit(FTgtChar, FTgtCharSide.Database) + " and TABLE_NAME='user' and COLUMN_NAME='Gold'");
      if (!gold.Empty())
        FGoldMax = ColumnMaximum(gold.Rows[0][0].Bytes, gold.Rows[0][1].Bytes, gold.Rows[0][2].Bytes,
                                 gold.Rows[0][3].Bytes);
      // Names longer than their target column are clashes, found before anything is written.
      const TTable names =
          Read(FTgtChar,
               "select TABLE_SCHEMA,COLUMN_NAME,CHARACTER_MAXIMUM_LENGTH from information_schema.COLUMNS "
               "where TABLE_NAME='user' and ((TABLE_SCHEMA=" +
                   Lit(FTgtChar, FTgtAccSide.Database) + " and COLUMN_NAME='username') or (TABLE_SCHEMA=" +
                   Lit(FTgtChar, FTgtCharSide.Database) + " and COLUMN_NAME in ('Name','UniqueName')))");
      for (int i = 0; i < names.Count(); ++i) {
        const auto& row = names.Rows[static_cast<size_t>(i)];
        const std::optional<int64_t> max = ParseInt64(row[2].Bytes);
        if (!max || *max <= 0) continue;
        const int limit = static_cast<int>(std::min<int64_t>(*max, std::numeric_limits<int>::max()));
        int& into = row[0].Bytes == FTgtAccSide.Database ? FAccountNameMax : FCharNameMax;
        into = std::min(into, limit);
      }
      // Each account's copy is whole or absent where every target table can roll back.
      const TTable engines =
          Read(FTgtChar,
               "select count(*) from information_schema.TABLES t join information_schema.ENGINES e on "
               "e.ENGINE=t.ENGINE "
               "where e.TRANSACTIONS='YES' and ((t.TABLE_SCHEMA=" +
                   Lit(FTgtChar, FTgtAccSide.Database) +
                   " and t.TABLE_NAME='user') or (t.TABLE_SCHEMA=" + Lit(FTgtChar, FTgtCharSide.Database) +
                   " and t.TABLE_NAME in ('user'" + (bank ? ",'t_bank'" : "") + ")))");
      const int64_t transactional = engines.Empty() ? 0 : ParseInt64(engines.Rows[0][0].Bytes).value_or(0);
      FTransactional = transactional == (bank ? 3 : 2);
    }
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    problem = Text(FTgtChar, e.what());
  }
  if (!problem.isEmpty()) {
    FSink.Step(QStringLiteral("验证:转出与转入分区的表结构不一致，无法继续."));
    FSink.Operation(QStringLiteral("表结构预检失败：") + problem + QStringLiteral("，中止..."));
    return false;
  }
  if (!PrepareRecords()) return false;
  if (FTransactional)
    FSink.Operation(QStringLiteral("转入分区的表支持事务：每个帐号的操作在一个事务中完成."));
  return true;
}

// ---- re-run detection --------------------------------------------------------------------------------

bool TZoneMergeRun::EarlierAccountCopy(const TTable& source, int srcRow, const TTable& target) {
  for (std::string_view column : kAccountCopied) {
    if (source.Col(column) < 0 || target.Col(column) < 0) return false;
    if (!(source.Cell(srcRow, column) == target.Cell(0, column))) return false;
  }
  // The target's own account of the same content owns characters of its own; a copy owns only
  // what the run moved.
  const TTable own =
      Guarded(FTgtChar,
              "select count(*) from user where AccountID=" + Lit(FTgtChar, target.Bytes(0, "idx")) +
                  " and (UsData is null or UsData<>'*')",
              kQ4);
  return !own.Empty() && own.Rows[0][0].Bytes == "0";
}

bool TZoneMergeRun::CreatedByMerge(const TTable& account) {
  const std::string& name = account.Bytes(0, "username");
  const std::string& tag = FAccTag;
  if (name.size() <= tag.size()) return false;
  const bool before = FOptions.AccountTagBefore;
  if (before ? name.compare(0, tag.size(), tag) != 0
             : name.compare(name.size() - tag.size(), tag.size(), tag) != 0)
    return false;
  const std::string base = before ? name.substr(tag.size()) : name.substr(0, name.size() - tag.size());
  // The account it was made for, and the source row it was copied from.
  const TTable owner = Guarded(FTgtAcc, "select * from user where username=" + Lit(FTgtAcc, base), kQ2);
  if (owner.Empty() || owner.Bytes(0, "idx") == account.Bytes(0, "idx")) return false;
  const TTable source =
      Guarded(FSrcAcc, "select * from user where idx=" + Lit(FSrcAcc, owner.Bytes(0, "idx")), kQ1);
  if (source.Empty()) return false;
  for (std::string_view column : kAccountCopied)
    if (source.Col(column) < 0 || !(source.Cell(0, column) == account.Cell(0, column))) return false;
  return true;
}

bool TZoneMergeRun::EarlierCharacterCopy(const TTable& source, int srcRow, const TTable& target, int tgtRow) {
  const TCell& mark = target.Cell(tgtRow, "UsData");
  if (mark.Null || mark.Bytes != "*") return false;
  for (std::string_view column : kCharIdentity)
    if (!(source.Cell(srcRow, column) == target.Cell(tgtRow, column))) return false;
  return true;
}

// ---- the character move ------------------------------------------------------------------------------

bool TZoneMergeRun::LegacyCharacterCopy(const TTable& source, int srcRow, const TTable& target, int tgtRow) {
  return FLegacy && EarlierCharacterCopy(source, srcRow, target, tgtRow) &&
         !Recorded(TCopyKind::Character, target.Bytes(tgtRow, "ID"));
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

void TZoneMergeRun::MoveCharacter(const TTable& chars, int row, const std::string& accountId,
                                  const QString& accountName, QString& mapping, const TRecords& records) {
  const std::string& name = chars.Bytes(row, "Name");
  const std::string& sourceId = chars.Bytes(row, "ID");
  const QString nameText = Text(FSrcChar, name);
  if (const TCopyRecord* earlier = Find(records, TCopyKind::Character, sourceId)) {
    ++FCounts.AlreadyMerged;
    FSink.Operation(QStringLiteral("角色：") + nameText + QStringLiteral(" 此前已合并为：") +
                    Text(FTgtChar, earlier->TargetName) + QStringLiteral("，不再重复复制."));
    return;
  }
  // Chosen by its row: a deleted twin of the same name stays behind.
  const std::string where = "ID=" + Num(sourceId);
  auto copy = [&](const std::string& newName, const std::string& goldPart, const QString& question) {
    const TCopyRecord record{TCopyKind::Character, sourceId, std::nullopt, newName, accountId};
    const std::optional<int64_t> id =
        Insert(*FCharCmd, CopyCharacterSql(newName, accountId, goldPart, where), question, true, &record);
    if (!id) return false;
    ++FCounts.CharactersCopied;
    mapping += QStringLiteral("；角色：%1(ID %2) -> %3(ID %4)")
                   .arg(nameText, Text(FSrcChar, sourceId), Text(FTgtChar, newName))
                   .arg(*id);
    return true;
  };
  const TTable same = Guarded(FTgtChar, "select * from user where Name=" + Lit(FTgtChar, name), kQ4First);
  if (same.Empty()) {
    if (NameFits(name, FCharNameMax, FTgtCharSide.Literal, QStringLiteral("角色：") + nameText,
                 kInsertCharQuestion))
      copy(name, PlainGold(), kInsertCharQuestion);
    return;
  }
  if (LegacyCharacterCopy(chars, row, same, 0)) {
    ++FCounts.AlreadyMerged;
    FSink.Operation(QStringLiteral("角色：") + nameText + QStringLiteral(" 此前已合并，不再重复复制."));
    return;
  }
  const std::string newName = Tagged(name, FCharTag, FOptions.CharTagBefore);
  const QString newText = Text(FTgtChar, newName);
  FSink.Operation(QStringLiteral("角色：") + nameText + QStringLiteral(",该角色已存在，尝试增加标识."));
  const TTable tagged = Guarded(FTgtChar, "select * from user where Name=" + Lit(FTgtChar, newName), kQ4);
  if (!tagged.Empty()) {
    if (LegacyCharacterCopy(chars, row, tagged, 0)) {
      ++FCounts.AlreadyMerged;
      FSink.Operation(QStringLiteral("角色：") + nameText + QStringLiteral(" 此前已合并为：") + newText +
                      QStringLiteral("，不再重复复制."));
      return;
    }
    FSink.Operation(QStringLiteral("对帐号：") + accountName + QStringLiteral("中的角色:") + nameText +
                    QStringLiteral("添加重复标识后仍然重复！跳过..."));
    FSink.Event(QStringLiteral("原角色：") + nameText + QStringLiteral(" 添加重复规则后仍然重复，跳过！"));
    ++FCounts.Skipped;
    return;
  }
  if (!NameFits(newName, FCharNameMax, FTgtCharSide.Literal,
                QStringLiteral("角色：") + nameText + QStringLiteral(" 的新名称") + newText, kInsertQuestion))
    return;
  std::string goldPart = PlainGold();
  std::optional<QString> capped;
  if (FOptions.Compensate) {
    const std::string& goldText = chars.Bytes(row, "Gold");
    const int64_t gold = ParseInt64(goldText).value_or(FGoldMax);
    int64_t sum = 0;
    // 64 bits, and never past what the column holds.
    if (__builtin_add_overflow(gold, FCompensation, &sum) || sum > FGoldMax) {
      capped = QStringLiteral("角色：%1 金币%2加补偿%3超过上限%4，按上限转入.")
                   .arg(newText, QString::fromStdString(goldText))
                   .arg(FCompensation)
                   .arg(FGoldMax);
      sum = FGoldMax;
    }
    goldPart = CompensatedGold(std::to_string(sum));
  }
  if (copy(newName, goldPart, kInsertQuestion)) {
    FSink.Event(QStringLiteral("角色：") + nameText + QStringLiteral(" 发生重复,新角色为：") + newText +
                QStringLiteral(" 成功合并！"));
    if (capped) {
      ++FCounts.GoldCapped;
      FSink.Event(*capped);
    }
  }
}

void TZoneMergeRun::CopyBank(const std::string& sourceIdx, const std::string& newIdx,
                             const QString& accountName, bool legacyResumed, const TRecords& records) {
  if (Find(records, TCopyKind::Bank, sourceIdx) != nullptr) {
    FSink.Operation(QStringLiteral("帐号：") + accountName +
                    QStringLiteral("的仓库此前已合并，不再重复复制."));
    return;
  }
  TTable bank;
  try {
    bank = Read(FSrcChar, "select * from t_bank where AccountID=" + Lit(FSrcChar, sourceIdx));
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    FSink.Operation(QStringLiteral("查询失败：") + Text(FSrcChar, e.what()));
    if (FSink.Ask(kQueryBankQuestion, QStringLiteral("提示"), false, true)) throw TStop{};
    ++FCounts.Errors;
    return;
  }
  if (bank.Empty()) {
    FSink.Operation(QStringLiteral("帐号：") + accountName + QStringLiteral("没有开通仓库！跳过..."));
    return;
  }
  // A row already at the new account is the copy only where an earlier version made both.
  if (!Guarded(FTgtChar, "select AccountID from t_bank where AccountID=" + Lit(FTgtChar, newIdx), kQ4)
           .Empty()) {
    if (legacyResumed && !Recorded(TCopyKind::Bank, newIdx)) {
      FSink.Operation(QStringLiteral("帐号：") + accountName +
                      QStringLiteral("的仓库此前已合并，不再重复复制."));
      return;
    }
    FSink.Operation(QStringLiteral("帐号：") + accountName +
                    QStringLiteral("的仓库在转入分区中已有AccountID为") + Text(FTgtChar, newIdx) +
                    QStringLiteral("的仓库，跳过..."));
    FSink.Event(QStringLiteral("帐号：") + accountName + QStringLiteral("的仓库与转入分区AccountID为") +
                Text(FTgtChar, newIdx) + QStringLiteral("的仓库重复，未合并！"));
    ++FCounts.Skipped;
    return;
  }
  const TCopyRecord record{TCopyKind::Bank, sourceIdx, std::nullopt, {}, newIdx};
  if (Insert(*FCharCmd, CopyWarehouseSql(newIdx, "AccountID=" + Lit(FTgtChar, sourceIdx)),
             kInsertBankQuestion, false, &record))
    ++FCounts.BanksCopied;
}

// ---- account-merge mode ----------------------------------------------------------------------------

void TZoneMergeRun::AccountMode() {
  const TTable accounts = Guarded(FSrcAcc, "select * from user", kQ1);
  const int n = accounts.Count();
  FSink.Progress(QStringLiteral("0"));
  FSink.Step(QStringLiteral("验证完毕，即将开始工作"));
  FSink.Description(QStringLiteral("正在进行转区工作...请等待..."));
  for (int i = 0; i < n; ++i) {
    SetProgress(i, n, true);
    const QString line = QStringLiteral("共有帐号：%1个，当前操作第：%2个，操作帐号：").arg(n).arg(i + 1) +
                         Text(FSrcAcc, accounts.Bytes(i, "username"));
    FSink.Step(line);
    FSink.Operation(line);
    AccountUnit(accounts, i);
  }
  ReportOrphans();
}

void TZoneMergeRun::ReportOrphans() {
  // Rows whose account is not in the source account database: no account takes them along.
  const std::string accounts = " not in (select idx from " + Db(FSrcAccSide, FSrcChar) + ".`user`)";
  const TTable chars = Guarded(FSrcChar,
                               std::string("select ID,Name,AccountID from `user` where ") +
                                   (FOptions.DropDeleted ? "deleted<>'1' and " : "") + "AccountID" + accounts,
                               kQ3);
  for (int i = 0; i < chars.Count(); ++i)
    FSink.Event(QStringLiteral("角色：%1(ID %2) 的AccountID %3 在转出分区中没有对应帐号，未合并！")
                    .arg(Text(FSrcChar, chars.Bytes(i, "Name")), Text(FSrcChar, chars.Bytes(i, "ID")),
                         Text(FSrcChar, chars.Bytes(i, "AccountID"))));
  FCounts.Orphans += chars.Count();
  if (!FOptions.MergeBank) return;
  const TTable banks =
      Guarded(FSrcChar, "select AccountID,Account from t_bank where AccountID" + accounts, kQ3);
  for (int i = 0; i < banks.Count(); ++i)
    FSink.Event(
        QStringLiteral("仓库：AccountID为%1(%2) 在转出分区中没有对应帐号，未合并！")
            .arg(Text(FSrcChar, banks.Bytes(i, "AccountID")), Text(FSrcChar, banks.Bytes(i, "Account"))));
  FCounts.Orphans += banks.Count();
}

void TZoneMergeRun::AccountUnit(const TTable& accounts, int row) {
  const std::string& username = accounts.Bytes(row, "username");
  const std::string& sourceIdx = accounts.Bytes(row, "idx");
  const QString userText = Text(FSrcAcc, username);
  BeginUnit();
  const TTable chars = Guarded(FSrcChar, AccountCharactersSql(sourceIdx), kQ3);
  std::vector<std::string> ids;
  for (int i = 0; i < chars.Count(); ++i) ids.push_back(chars.Bytes(i, "ID"));
  const TRecords records = ReadRecords(sourceIdx, ids);
  std::string newName = username;
  std::string newIdx;
  bool resumed = false, legacy = false, tooLong = false;
  auto copy = [&](const std::string& name, const QString& what) {
    tooLong = !NameFits(name, FAccountNameMax, FTgtAccSide.Literal, what, kInsertQuestion);
    if (tooLong) return false;
    const TCopyRecord record{TCopyKind::Account, sourceIdx, std::nullopt, name, {}};
    const std::optional<int64_t> id =
        Insert(*FAccCmd, CopyAccountSql(name, "idx=" + Num(sourceIdx)), kInsertQuestion, true, &record);
    if (id) newIdx = std::to_string(*id);
    return id.has_value();
  };
  // Whether a target account is an earlier version's copy of this one.
  auto legacyCopy = [&](const TTable& target) {
    return FLegacy && EarlierAccountCopy(accounts, row, target) &&
           !Recorded(TCopyKind::Account, target.Bytes(0, "idx"));
  };
  bool copied = false;
  if (const TCopyRecord* earlier = Find(records, TCopyKind::Account, sourceIdx)) {
    resumed = true;
    newIdx = *earlier->TargetKey;
    newName = earlier->TargetName;
  } else if (const TTable same =
                 Guarded(FTgtAcc, "select * from user where username=" + Lit(FTgtAcc, username), kQ2);
             same.Empty()) {
    copied = copy(username, QStringLiteral("帐号：") + userText);
  } else if (legacyCopy(same)) {
    resumed = legacy = true;
    newIdx = same.Bytes(0, "idx");
  } else {
    FSink.Operation(QStringLiteral("操作帐号：") + userText + QStringLiteral(",该帐号已存在，尝试增加标识."));
    newName = Tagged(username, FAccTag, FOptions.AccountTagBefore);
    const TTable tagged = Guarded(FTgtAcc, "select * from user where username=" + Lit(FTgtAcc, newName), kQ2);
    if (!tagged.Empty() && legacyCopy(tagged)) {
      resumed = legacy = true;
      newIdx = tagged.Bytes(0, "idx");
    } else if (!tagged.Empty()) {
      FSink.Operation(QStringLiteral("对帐号::") + userText +
                      QStringLiteral(" 添加重复标识后仍然重复！跳过..."));
      FSink.Event(QStringLiteral("原帐号：") + userText +
                  QStringLiteral(" 添加重复规则后，仍然重复！跳过！"));
      ++FCounts.Skipped;
      CommitUnit();
      return;
    } else {
      copied = copy(newName, QStringLiteral("帐号：") + userText + QStringLiteral(" 的新名称") +
                                 Text(FTgtAcc, newName));
      if (copied)
        FSink.Event(QStringLiteral("帐号：") + userText + QStringLiteral(" 发生重复,新添加新帐号为：") +
                    Text(FTgtAcc, newName) + QStringLiteral("。"));
    }
  }
  if (tooLong) {
    CommitUnit();
    return;
  }
  if (!copied && !resumed) {
    // Without its own new idx nothing of the account may move: its characters would land under
    // another account.
    FSink.Operation(QStringLiteral("帐号：") + userText +
                    QStringLiteral(" 复制失败，其角色与仓库不合并，跳过..."));
    FSink.Event(QStringLiteral("帐号：") + userText + QStringLiteral(" 复制失败，其角色与仓库未合并！"));
    CommitUnit();
    return;
  }
  if (copied) {
    ++FCounts.AccountsCopied;
  } else {
    ++FCounts.AlreadyMerged;
    FSink.Operation(QStringLiteral("帐号：") + userText + QStringLiteral(" 此前已合并为：") +
                    Text(FTgtAcc, newName) + QStringLiteral("，不再重复复制."));
  }
  QString mapping =
      QStringLiteral("映射 帐号：%1(idx %2) -> %3(idx %4)")
          .arg(userText, Text(FSrcAcc, sourceIdx), Text(FTgtAcc, newName), QString::fromStdString(newIdx));
  if (chars.Empty())
    FSink.Operation(QStringLiteral("转出分区帐号：") + userText +
                    QStringLiteral("的帐号不存在角色，跳过..."));
  for (int i = 0; i < chars.Count(); ++i) MoveCharacter(chars, i, newIdx, userText, mapping, records);
  // Every copied account keeps its warehouse, one without characters too.
  if (FOptions.MergeBank) CopyBank(sourceIdx, newIdx, userText, legacy, records);
  CommitUnit();
  FSink.Event(mapping);
}

// ---- the mode without account merge -------------------------------------------------------------------

void TZoneMergeRun::CharacterMode() {
  const TTable groups =
      Guarded(FSrcChar,
              FOptions.DropDeleted
                  ? "select count(*) count,accountid from `user` where deleted<>'1' group by accountid"
                  : "select count(*) count,accountid from `user` group by accountid",
              kQ5);
  const int n = groups.Count();
  FSink.Progress(QStringLiteral("0"));
  FSink.Step(QStringLiteral("验证完毕，即将开始工作"));
  FSink.Description(QStringLiteral("正在进行转区工作...请等待..."));
  int missing = 0;
  for (int i = 0; i < n; ++i) {
    SetProgress(i, n, true);
    CharacterGroup(groups, i, missing);
  }
}

QString TZoneMergeRun::OtherPlayersAccount(const std::string& id, const TTable& account, bool recorded) {
  const QString idText = Text(FSrcChar, id);
  // An account a merge created for another group took the next free idx, which may be this
  // group's: it is not this group's account.
  if (recorded || (FLegacy && CreatedByMerge(account)))
    return QStringLiteral("AccountID为") + idText +
           QStringLiteral("的帐号是合区时新建的帐号，不是转出分区中该ID的帐号,继续...");
  if (FSrcAccSide.Database == FTgtAccSide.Database) return {};
  // Two account databases number their accounts each on its own: one idx is one player only
  // where both name the same account.
  const TTable source = Guarded(FSrcAcc, "select username from user where idx=" + Lit(FSrcAcc, id), kQ1);
  const std::string& target = account.Bytes(0, "username");
  if (!source.Empty() && source.Bytes(0, "username") == target) return {};
  return QStringLiteral("AccountID为") + idText + QStringLiteral("的帐号在转出分区中为") +
         (source.Empty() ? QStringLiteral("(无)") : Text(FSrcAcc, source.Bytes(0, "username"))) +
         QStringLiteral("，在转入分区中为") + Text(FTgtAcc, target) +
         QStringLiteral("，不是同一帐号,继续...");
}

void TZoneMergeRun::CharacterGroup(const TTable& groups, int row, int& missing) {
  const int n = groups.Count();
  const std::string& id = groups.Bytes(row, "accountid");
  const QString idText = Text(FSrcChar, id);
  const TTable source = Guarded(FSrcChar, AccountCharactersSql(id), kQ3);
  const QString firstName = source.Empty() ? QString() : Text(FSrcChar, source.Bytes(0, "Name"));
  const QString line =
      QStringLiteral("共有帐号：%1个，当前第：%2个，操作角色：").arg(n).arg(row + 1) + firstName;
  FSink.Step(line);
  FSink.Operation(line);
  const TTable account = Guarded(FTgtAcc, "select * from user where idx=" + Lit(FTgtAcc, id), kQ2);
  std::vector<std::string> ids;
  for (int i = 0; i < source.Count(); ++i) ids.push_back(source.Bytes(i, "ID"));
  bool madeByMerge = false;
  const TRecords records = account.Empty() ? TRecords{} : ReadRecords(id, ids, id, &madeByMerge);
  const QString other = account.Empty() ? QString() : OtherPlayersAccount(id, account, madeByMerge);
  if (!other.isEmpty()) FSink.Operation(other);
  if (account.Empty() || !other.isEmpty()) {
    FSink.Step(QStringLiteral("查询:AccountID") + idText + QStringLiteral("的记录，在转入分区中不存在ID"));
    FSink.Operation(QStringLiteral("AccountID为") + idText +
                    QStringLiteral("的空记录,在转入分区中不存在ID,继续..."));
    ++FCounts.Skipped;
    ++missing;
    if (missing * 2 > row + 1) {
      // The run itself doubts the pairing: Enter does not go on.
      if (!FSink.Ask(
              QStringLiteral(
                  "当前至少有一半的帐号在转入分区中没有查询到对应帐号，可能转出的角色库并不是与转入帐号库对"
                  "应的！是否继续？"),
              QStringLiteral("警告"), true, false))
        throw TStop{};
      missing = 0;
    }
    return;
  }
  const std::string& username = account.Bytes(0, "username");
  const QString userText = Text(FTgtAcc, username);
  if (source.Empty()) {
    FSink.Operation(QStringLiteral("转出分区帐号：") + userText +
                    QStringLiteral("的帐号不存在角色，跳过..."));
    return;
  }

  // Characters an earlier run already moved stay out of the move, and out of the target's own
  // count, so that a re-run decides as the first run did.
  TTable legacyMoved;
  if (FLegacy) {
    std::string names;
    for (int i = 0; i < source.Count(); ++i) {
      const std::string& name = source.Bytes(i, "Name");
      for (const std::string& candidate : {name, Tagged(name, FCharTag, FOptions.CharTagBefore)})
        names += (names.empty() ? "" : ",") + Lit(FTgtChar, candidate);
    }
    legacyMoved = Guarded(FTgtChar, "select * from user where UsData='*' and Name in (" + names + ")", kQ4);
  }
  auto legacyCopyOf = [&](int i, const TTable& target, int t) {
    return LegacyCharacterCopy(source, i, target, t);
  };
  std::vector<int> rows;
  for (int i = 0; i < source.Count(); ++i) {
    bool earlier = Find(records, TCopyKind::Character, source.Bytes(i, "ID")) != nullptr;
    for (int m = 0; m < legacyMoved.Count() && !earlier; ++m) earlier = legacyCopyOf(i, legacyMoved, m);
    if (earlier)
      ++FCounts.AlreadyMerged;
    else
      rows.push_back(i);
  }
  if (rows.empty()) {
    FSink.Operation(QStringLiteral("帐号：") + userText +
                    QStringLiteral(" 的角色此前已全部合并，不再重复复制."));
    return;
  }
  const TTable target = Guarded(FTgtChar, AccountCharactersSql(id), kQ3);
  std::vector<int> own;
  for (int t = 0; t < target.Count(); ++t) {
    bool earlier = false;
    for (const auto& [key, record] : records)
      earlier = earlier || (key.first == TCopyKind::Character && record.TargetKey == target.Bytes(t, "ID"));
    for (int i = 0; i < source.Count() && !earlier && FLegacy; ++i) earlier = legacyCopyOf(i, target, t);
    if (!earlier) own.push_back(t);
  }
  BeginUnit();
  QString mapping = QStringLiteral("映射 帐号：%1(idx %2)").arg(userText, idText);
  auto moveAll = [&](const std::string& accountId) {
    for (int i : rows) MoveCharacter(source, i, accountId, userText, mapping, records);
  };
  if (const TCopyRecord* made = Find(records, TCopyKind::Account, id)) {
    // An earlier run made this group its own account: the rest of the group follows.
    FSink.Operation(QStringLiteral("帐号：") + userText + QStringLiteral(" 此前已新建帐号：") +
                    Text(FTgtAcc, made->TargetName) + QStringLiteral("，其余角色继续合并到该帐号."));
    mapping += QStringLiteral(" -> %1(idx %2)")
                   .arg(Text(FTgtAcc, made->TargetName), Text(FTgtAcc, *made->TargetKey));
    moveAll(*made->TargetKey);
  } else if (own.empty()) {
    moveAll(id);
  } else if (static_cast<int>(own.size()) + source.Count() < 4 &&
             target.Cell(own.front(), "Faction") == source.Cell(0, "Faction")) {
    moveAll(id);
  } else {
    FSink.Operation(QStringLiteral("操作帐号：") + userText +
                    QStringLiteral(",该帐号角色数太多或国家不同，尝试建立新帐号."));
    const std::string newName = Tagged(username, FAccTag, FOptions.AccountTagBefore);
    const TTable tagged = Guarded(FTgtAcc, "select * from user where username=" + Lit(FTgtAcc, newName), kQ2);
    if (!tagged.Empty()) {
      FSink.Operation(QStringLiteral("对帐号::") + userText +
                      QStringLiteral(" 添加重复标识后仍然重复！跳过..."));
      FSink.Event(QStringLiteral("帐号：") + userText +
                  QStringLiteral(" 角色太多或国家不同，添加重复标识后仍然重复！跳过！"));
      ++FCounts.Skipped;
      CommitUnit();
      return;
    }
    if (!NameFits(newName, FAccountNameMax, FTgtAccSide.Literal,
                  QStringLiteral("帐号：") + userText + QStringLiteral(" 的新名称") + Text(FTgtAcc, newName),
                  kInsertQuestion)) {
      CommitUnit();
      return;
    }
    const TCopyRecord record{TCopyKind::Account, id, std::nullopt, newName, {}};
    const std::optional<int64_t> newIdx =
        Insert(*FAccCmd, CopyAccountSql(newName, "idx=" + Num(id)), kInsertQuestion, true, &record);
    if (!newIdx) {
      FSink.Operation(QStringLiteral("帐号：") + userText +
                      QStringLiteral(" 的新帐号建立失败，其角色不合并，跳过..."));
      FSink.Event(QStringLiteral("帐号：") + userText + QStringLiteral(" 的新帐号建立失败，其角色未合并！"));
      CommitUnit();
      return;
    }
    ++FCounts.AccountsCopied;
    FSink.Event(QStringLiteral("帐号：") + userText + QStringLiteral(" 角色太多或国家不同,新添加新帐号为：") +
                Text(FTgtAcc, newName) + QStringLiteral("。"));
    mapping += QStringLiteral(" -> %1(idx %2)").arg(Text(FTgtAcc, newName)).arg(*newIdx);
    moveAll(std::to_string(*newIdx));
  }
  CommitUnit();
  FSink.Event(mapping);
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
