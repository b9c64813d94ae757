#include "console/ZoneMerge.h"

#include <QDateTime>
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
#include "console/BrowserPaging.h"
#include "mysql/MyClasses.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySQLRecordset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/FieldText.h"

namespace {

// ---- rows read whole ----------------------------------------------------------------------------

struct TCell {
  bool Null = true;
  std::string Bytes;
  bool operator==(const TCell& other) const { return Null == other.Null && (Null || Bytes == other.Bytes); }
};

// A query's rows read into memory at once: the run goes on using the same connection for other
// statements while it walks them.
struct TTable {
  std::vector<std::string> Names;
  std::vector<std::vector<TCell>> Rows;

  int Count() const { return static_cast<int>(Rows.size()); }
  bool Empty() const { return Rows.empty(); }
  int Col(std::string_view name) const {
    for (size_t i = 0; i < Names.size(); ++i)
      if (QString::fromStdString(Names[i]).compare(QLatin1String(name.data(), qsizetype(name.size())),
                                                   Qt::CaseInsensitive) == 0)
        return static_cast<int>(i);
    return -1;
  }
  const TCell& Cell(int row, std::string_view name) const {
    static const TCell kNull;
    const int c = Col(name);
    return c < 0 ? kNull : Rows[static_cast<size_t>(row)][static_cast<size_t>(c)];
  }
  const std::string& Bytes(int row, std::string_view name) const { return Cell(row, name).Bytes; }
};

// Thrown inside the run to end it: a stop (the GM's or a failed query's), after its texts were
// shown.
struct TStop {};

// The columns an account copy carries (the new name and the server's idx aside).
constexpr std::string_view kAccountCopied[] = {
    "password",    "deleted", "user_priv", "locked",   "lock_begin",        "lock_end",
    "create_date", "from",    "email",     "webmoney", "latest_login_date", "latest_login_ip"};
// The columns that tell a character moved by an earlier run from one of the target's own: the
// run marks what it moves with UsData '*', keeps the source account's name in Account, and
// copies these.
constexpr std::string_view kCharIdentity[] = {"ActorID", "CreateDate", "Account"};

const QString kInsertCharQuestion =
    QStringLiteral("对转入分区进行插入角色数据时发生错误，是否中止程序继续运行！");
const QString kInsertQuestion = QStringLiteral("对转入分区进行插入数据时发生错误，是否中止程序继续运行！");
const QString kInsertBankQuestion =
    QStringLiteral("对转入分区仓库插入数据时发生错误，是否中止程序继续运行！");
const QString kQueryBankQuestion = QStringLiteral("对转出分区仓库进行查询时发生错误，是否中止程序继续运行！");

// Step label and operation log line of a failed query.
struct TGuard {
  const char* Step;
  const char* Log;
};
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

// The largest value an integer-valued column of this type holds (capped at 64 bits).
int64_t ColumnMaximum(const std::string& dataType, const std::string& columnType,
                      const std::string& precision, const std::string& scale) {
  const QString type = QString::fromStdString(dataType).toLower();
  const bool isUnsigned =
      QString::fromStdString(columnType).contains(QLatin1String("unsigned"), Qt::CaseInsensitive);
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  if (type == QLatin1String("tinyint")) return isUnsigned ? 255 : 127;
  if (type == QLatin1String("smallint")) return isUnsigned ? 65535 : 32767;
  if (type == QLatin1String("mediumint")) return isUnsigned ? 16777215 : 8388607;
  if (type == QLatin1String("int") || type == QLatin1String("integer"))
    return isUnsigned ? 4294967295LL : 2147483647;
  if (type == QLatin1String("decimal") || type == QLatin1String("numeric")) {
    const int digits = static_cast<int>(ParseInt64(precision).value_or(65) - ParseInt64(scale).value_or(0));
    if (digits >= 19) return kMax;
    int64_t m = 1;
    for (int i = 0; i < digits; ++i) m *= 10;
    return m - 1;
  }
  return kMax;
}

}  // namespace

// ---- the run --------------------------------------------------------------------------------------

class TZoneMergeRun {
 public:
  TZoneMergeRun(TMyConnection& srcAcc, TMyConnection& srcChar, TMyConnection& tgtAcc, TMyConnection& tgtChar,
                const TZoneMergeOptions& options, TZoneMergeSink& sink)
      : FSrcAcc(srcAcc),
        FSrcChar(srcChar),
        FTgtAcc(tgtAcc),
        FTgtChar(tgtChar),
        FOptions(options),
        FSink(sink) {
    for (auto* c : {&FAccCmd, &FCharCmd}) {
      *c = std::make_unique<TMyCommand>();
      (*c)->SetCommandTimeout(kMergeTimeoutSeconds);
      (*c)->SetParamCheck(false);
    }
    FAccCmd->SetConnection(&FTgtAcc);
    FCharCmd->SetConnection(&FTgtChar);
  }

  TZoneMergeCounts Run();

 private:
  // One connection as the run knows it after the settings check.
  struct TSide {
    std::string Host, Port, DataDir, Database;
    TCharsetKind Literal = TCharsetKind::SingleByte;
    TFieldCharset Text = TFieldCharset::Gbk;
  };

  bool CheckConnections();
  bool CheckSettings();
  bool Preflight();
  void AccountMode();
  void AccountUnit(const TTable& accounts, int row);
  void CharacterMode();
  void CharacterGroup(const TTable& groups, int row, int& missing);
  // Moves source character `row` of `chars` under the account `accountId`; adds to `mapping`.
  void MoveCharacter(const TTable& chars, int row, const std::string& accountId, const QString& accountName,
                     QString& mapping);
  void CopyBank(const std::string& sourceIdx, const std::string& newIdx, const QString& accountName,
                bool resumed);

  // Whether the target account row is the copy an earlier run made of the source account row.
  bool EarlierAccountCopy(const TTable& source, int srcRow, const TTable& target);
  // Whether the target account is one the mode without account merge made for another group.
  bool CreatedByMerge(const TTable& account);
  static bool EarlierCharacterCopy(const TTable& source, int srcRow, const TTable& target, int tgtRow);

  TTable Read(TMyConnection& con, const std::string& sql);
  TTable Guarded(TMyConnection& con, const std::string& sql, const TGuard& guard);
  // Runs an insert that must add exactly `one` row; nullopt when it failed and the GM goes on.
  // insertId: the row's new AUTO_INCREMENT value from the statement's own answer.
  std::optional<int64_t> Insert(TMyCommand& command, const std::string& sql, const QString& question,
                                bool wantsId);
  void Fail(const QString& step, const QString& log);
  void SetProgress(int i, int n, bool stopPoint);
  void BeginUnit();
  void CommitUnit();
  void RollbackUnit() noexcept;

  // Statement texts.
  std::string Lit(const TMyConnection& con, std::string_view bytes) const;
  std::string Db(const TSide& side, const TMyConnection& on) const;
  std::string S1(const std::string& newName, const std::string& where) const;
  std::string S2(const std::string& newName, const std::string& accountId, const std::string& goldPart,
                 const std::string& where) const;
  std::string S3(const std::string& newIdx, const std::string& where) const;
  std::string Q3(const std::string& accountId) const;
  static std::string Num(const std::string& bytes);
  static std::string PlainGold();
  static std::string CompensatedGold(const std::string& amount);
  std::string Tagged(const std::string& name, const std::string& tag, bool before) const;

  QString Text(const TMyConnection& con, std::string_view bytes) const;
  const TSide& SideOf(const TMyConnection& con) const;
  QString CountsText() const;

  TMyConnection& FSrcAcc;
  TMyConnection& FSrcChar;
  TMyConnection& FTgtAcc;
  TMyConnection& FTgtChar;
  TZoneMergeOptions FOptions;
  TZoneMergeSink& FSink;
  std::unique_ptr<TMyCommand> FAccCmd, FCharCmd;
  TSide FSides[4];  // srcAcc, srcChar, tgtAcc, tgtChar
  std::string FAccTag, FCharTag;
  int64_t FCompensation = 0;
  int64_t FGoldMax = std::numeric_limits<int64_t>::max();
  bool FTransactional = false;
  bool FInUnit = false;
  TZoneMergeCounts FCounts;
};

const TZoneMergeRun::TSide& TZoneMergeRun::SideOf(const TMyConnection& con) const {
  if (&con == &FSrcAcc) return FSides[0];
  if (&con == &FSrcChar) return FSides[1];
  if (&con == &FTgtAcc) return FSides[2];
  return FSides[3];
}

QString TZoneMergeRun::Text(const TMyConnection& con, std::string_view bytes) const {
  return DecodeFieldText(bytes, SideOf(con).Text);
}

std::string TZoneMergeRun::Lit(const TMyConnection& con, std::string_view bytes) const {
  // Names come from the players: the literal must read back as these bytes in the session's mode.
  const TMySQLConnection* session = con.MyIConnection();
  return QuoteString(bytes, SideOf(con).Literal, session != nullptr && session->NoBackslashEscapes());
}

std::string TZoneMergeRun::Db(const TSide& side, const TMyConnection& on) const {
  return QuotedColumn(side.Database, SideOf(on).Literal);
}

std::string TZoneMergeRun::Num(const std::string& bytes) {
  // Row numbers come from integer columns; anything else is still sent as a literal only.
  return IsInteger(bytes) ? bytes : QuoteString(bytes, TCharsetKind::SingleByte);
}

std::string TZoneMergeRun::Tagged(const std::string& name, const std::string& tag, bool before) const {
  return before ? tag + name : name + tag;
}

std::string TZoneMergeRun::S1(const std::string& newName, const std::string& where) const {
  return "INSERT INTO " + Db(FSides[2], FTgtAcc) +
         ".`user` (username,`password`,deleted,user_priv,locked,lock_begin,lock_end,create_date,`from`,"
         "latest_login_date,latest_login_ip,email,webmoney) select " +
         Lit(FTgtAcc, newName) +
         ",`password`,deleted,user_priv,locked,lock_begin,lock_end,create_date,`from`,latest_login_date,"
         "latest_login_ip,email,webmoney from " +
         Db(FSides[0], FTgtAcc) + ".`user`  where " + where;
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

std::string TZoneMergeRun::S2(const std::string& newName, const std::string& accountId,
                              const std::string& goldPart, const std::string& where) const {
  const std::string name = Lit(FTgtChar, newName);
  return "INSERT INTO " + Db(FSides[3], FTgtChar) +
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
         Db(FSides[1], FTgtChar) + ".`user`  where " + where;
}

std::string TZoneMergeRun::S3(const std::string& newIdx, const std::string& where) const {
  return "INSERT INTO " + Db(FSides[3], FTgtChar) +
         ".`t_bank` (AccountID,Account,Items,BankMoney,Password) select " + Lit(FTgtChar, newIdx) +
         ",Account,Items,BankMoney,Password from " + Db(FSides[1], FTgtChar) + ".`t_bank`  where " + where;
}

std::string TZoneMergeRun::Q3(const std::string& accountId) const {
  // The same text over either character connection; the id is a number from an integer column.
  const std::string id = QuoteString(accountId, TCharsetKind::SingleByte);
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
  return text;
}

// ---- plumbing -------------------------------------------------------------------------------------

TTable TZoneMergeRun::Read(TMyConnection& con, const std::string& sql) {
  TMyRowReader reader(con, kMergeTimeoutSeconds);
  // Names travel as the session's bytes from one statement into the next.
  reader.SetSessionBytes(true);
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

std::optional<int64_t> TZoneMergeRun::Insert(TMyCommand& command, const std::string& sql,
                                             const QString& question, bool wantsId) {
  QString failure;
  try {
    TDBAccessUtils::SetSQLText(&command, sql);
    command.Execute();
    const int rows = command.RowsAffected();
    // The id of this statement's own answer: an insert that added nothing leaves none, and the
    // session's earlier one belongs to another row.
    const int64_t id = wantsId ? command.InsertId() : 0;
    if (rows == 1 && (!wantsId || id > 0)) return id;
    failure =
        rows == 1 ? QStringLiteral("插入后没有得到新编号") : QStringLiteral("插入了%1行，应为1行").arg(rows);
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    failure = Text(*static_cast<TMyConnection*>(command.Connection()), e.what());
  }
  FSink.Operation(QStringLiteral("插入失败：") + failure);
  if (FSink.Ask(question, QStringLiteral("提示"), false)) {
    FSink.Operation(QStringLiteral("按要求中止..."));
    throw TStop{};
  }
  ++FCounts.Errors;
  return std::nullopt;
}

void TZoneMergeRun::SetProgress(int i, int n, bool stopPoint) {
  FSink.Progress(QString::number(TZoneMerge::Percent(i, n)));
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
  if (!FInUnit) return;
  FInUnit = false;
  try {
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
  TMyConnection* cons[] = {&FSrcAcc, &FSrcChar, &FTgtAcc, &FTgtChar};
  for (int i = 0; i < 4; ++i) {
    TSide& side = FSides[i];
    try {
      const TTable t =
          Read(*cons[i], "SELECT @@hostname, @@port, @@datadir, DATABASE(), @@character_set_results");
      if (t.Empty()) throw EDatabaseError("no row");
      const auto& row = t.Rows.front();
      side.Host = row[0].Bytes;
      side.Port = row[1].Bytes;
      side.DataDir = row[2].Bytes;
      side.Database = row[3].Null ? std::string() : row[3].Bytes;
      side.Text = FieldCharsetOf(row[4].Bytes);
      const TMySQLConnection* provider = cons[i]->MyIConnection();
      side.Literal = provider != nullptr ? provider->GetTextCharset() : TCharsetKind::SingleByte;
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception&) {
      return refuse("验证:无法读取数据库服务器的信息，无法继续.", "无法读取数据库服务器的信息，中止...");
    }
    if (side.Database.empty())
      return refuse("验证:连接没有选定数据库，无法继续.", "连接没有选定数据库，中止...");
  }
  for (int i = 1; i < 4; ++i)
    if (FSides[i].Host != FSides[0].Host || FSides[i].Port != FSides[0].Port ||
        FSides[i].DataDir != FSides[0].DataDir)
      return refuse("验证:转出与转入分区不在同一个数据库服务器上，无法继续.",
                    "转出与转入分区不在同一个数据库服务器上，中止...");
  if (FOptions.MergeAccounts && FSides[0].Database == FSides[2].Database)
    return refuse("验证:合并帐号的模式下,发现转入转出分区帐号数据库相同，无法继续.",
                  "合并帐号的模式下,发现转入转出分区帐号数据库相同，中止...");
  FSink.Progress(QStringLiteral("40"));
  if (FSides[1].Database == FSides[3].Database)
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
  if (FirstUnencodable(FOptions.AccountTag.toStdU16String(), FSides[2].Text) != kNoUnencodable ||
      FirstUnencodable(FOptions.CharTag.toStdU16String(), FSides[3].Text) != kNoUnencodable)
    return refuse("验证:帐号或角色重复规则含有转入分区字符集无法保存的字符，无法继续.",
                  "帐号或角色重复规则含有转入分区字符集无法保存的字符，中止...");
  FAccTag = EncodeFieldText(FOptions.AccountTag, FSides[2].Text);
  FCharTag = EncodeFieldText(FOptions.CharTag, FSides[3].Text);
  FSink.Progress(QStringLiteral("100"));
  return true;
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
      {FAccCmd.get(), S1("x", never)},
      {FCharCmd.get(), S2("x", "0", PlainGold(), never)},
      {FCharCmd.get(), S2("x", "0", CompensatedGold("0"), never)},
  };
  if (bank) shapes.push_back({FCharCmd.get(), S3("0", never)});
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
                   Lit(FTgtChar, FSides[3].Database) + " and TABLE_NAME='user' and COLUMN_NAME='Gold'");
      if (!gold.Empty())
        FGoldMax = ColumnMaximum(gold.Rows[0][0].Bytes, gold.Rows[0][1].Bytes, gold.Rows[0][2].Bytes,
                                 gold.Rows[0][3].Bytes);
      // Each account's copy is whole or absent where every target table can roll back.
      const TTable engines =
          Read(FTgtChar,
               "select count(*) from information_schema.TABLES t join information_schema.ENGINES e on "
               "e.ENGINE=t.ENGINE "
               "where e.TRANSACTIONS='YES' and ((t.TABLE_SCHEMA=" +
                   Lit(FTgtChar, FSides[2].Database) +
                   " and t.TABLE_NAME='user') or (t.TABLE_SCHEMA=" + Lit(FTgtChar, FSides[3].Database) +
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

void TZoneMergeRun::MoveCharacter(const TTable& chars, int row, const std::string& accountId,
                                  const QString& accountName, QString& mapping) {
  const std::string& name = chars.Bytes(row, "Name");
  const QString nameText = Text(FSrcChar, name);
  // Chosen by its row: a deleted twin of the same name stays behind.
  const std::string where = "ID=" + Num(chars.Bytes(row, "ID"));
  auto mapped = [&](const std::string& newName, int64_t id) {
    mapping += QStringLiteral("；角色：%1(ID %2) -> %3(ID %4)")
                   .arg(nameText, Text(FSrcChar, chars.Bytes(row, "ID")), Text(FTgtChar, newName))
                   .arg(id);
  };
  const TTable same = Guarded(FTgtChar, "select * from user where Name=" + Lit(FTgtChar, name), kQ4First);
  if (same.Empty()) {
    if (const std::optional<int64_t> id =
            Insert(*FCharCmd, S2(name, accountId, PlainGold(), where), kInsertCharQuestion, true)) {
      ++FCounts.CharactersCopied;
      mapped(name, *id);
    }
    return;
  }
  if (EarlierCharacterCopy(chars, row, same, 0)) {
    ++FCounts.AlreadyMerged;
    FSink.Operation(QStringLiteral("角色：") + nameText + QStringLiteral(" 此前已合并，不再重复复制."));
    return;
  }
  const std::string newName = Tagged(name, FCharTag, FOptions.CharTagBefore);
  const QString newText = Text(FTgtChar, newName);
  FSink.Operation(QStringLiteral("角色：") + nameText + QStringLiteral(",该角色已存在，尝试增加标识."));
  const TTable tagged = Guarded(FTgtChar, "select * from user where Name=" + Lit(FTgtChar, newName), kQ4);
  if (!tagged.Empty()) {
    if (EarlierCharacterCopy(chars, row, tagged, 0)) {
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
  if (const std::optional<int64_t> id =
          Insert(*FCharCmd, S2(newName, accountId, goldPart, where), kInsertQuestion, true)) {
    ++FCounts.CharactersCopied;
    FSink.Event(QStringLiteral("角色：") + nameText + QStringLiteral(" 发生重复,新角色为：") + newText +
                QStringLiteral(" 成功合并！"));
    if (capped) {
      ++FCounts.GoldCapped;
      FSink.Event(*capped);
    }
    mapped(newName, *id);
  }
}

void TZoneMergeRun::CopyBank(const std::string& sourceIdx, const std::string& newIdx,
                             const QString& accountName, bool resumed) {
  TTable bank;
  try {
    bank = Read(FSrcChar, "select * from t_bank where AccountID=" + Lit(FSrcChar, sourceIdx));
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    FSink.Operation(QStringLiteral("查询失败：") + Text(FSrcChar, e.what()));
    if (FSink.Ask(kQueryBankQuestion, QStringLiteral("提示"), false)) throw TStop{};
    ++FCounts.Errors;
    return;
  }
  if (bank.Empty()) {
    FSink.Operation(QStringLiteral("帐号：") + accountName + QStringLiteral("没有开通仓库！跳过..."));
    return;
  }
  if (resumed &&
      !Guarded(FTgtChar, "select * from t_bank where AccountID=" + Lit(FTgtChar, newIdx), kQ4).Empty()) {
    FSink.Operation(QStringLiteral("帐号：") + accountName +
                    QStringLiteral("的仓库此前已合并，不再重复复制."));
    return;
  }
  if (Insert(*FCharCmd, S3(newIdx, "AccountID=" + Lit(FTgtChar, sourceIdx)), kInsertBankQuestion, false))
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
}

void TZoneMergeRun::AccountUnit(const TTable& accounts, int row) {
  const std::string& username = accounts.Bytes(row, "username");
  const std::string& sourceIdx = accounts.Bytes(row, "idx");
  const QString userText = Text(FSrcAcc, username);
  BeginUnit();
  std::string newName = username;
  std::string newIdx;
  bool resumed = false;
  auto copy = [&](const std::string& name) {
    const std::optional<int64_t> id =
        Insert(*FAccCmd, S1(name, "idx=" + Num(sourceIdx)), kInsertQuestion, true);
    if (id) newIdx = std::to_string(*id);
    return id.has_value();
  };
  const TTable same = Guarded(FTgtAcc, "select * from user where username=" + Lit(FTgtAcc, username), kQ2);
  bool copied = false;
  if (same.Empty()) {
    copied = copy(username);
  } else if (EarlierAccountCopy(accounts, row, same)) {
    resumed = true;
    newIdx = same.Bytes(0, "idx");
  } else {
    FSink.Operation(QStringLiteral("操作帐号：") + userText + QStringLiteral(",该帐号已存在，尝试增加标识."));
    newName = Tagged(username, FAccTag, FOptions.AccountTagBefore);
    const TTable tagged = Guarded(FTgtAcc, "select * from user where username=" + Lit(FTgtAcc, newName), kQ2);
    if (!tagged.Empty() && EarlierAccountCopy(accounts, row, tagged)) {
      resumed = true;
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
      copied = copy(newName);
      if (copied)
        FSink.Event(QStringLiteral("帐号：") + userText + QStringLiteral(" 发生重复,新添加新帐号为：") +
                    Text(FTgtAcc, newName) + QStringLiteral("。"));
    }
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
  const TTable chars = Guarded(FSrcChar, Q3(sourceIdx), kQ3);
  if (chars.Empty())
    FSink.Operation(QStringLiteral("转出分区帐号：") + userText +
                    QStringLiteral("的帐号不存在角色，跳过..."));
  for (int i = 0; i < chars.Count(); ++i) MoveCharacter(chars, i, newIdx, userText, mapping);
  // Every copied account keeps its warehouse, one without characters too.
  if (FOptions.MergeBank) CopyBank(sourceIdx, newIdx, userText, resumed);
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

void TZoneMergeRun::CharacterGroup(const TTable& groups, int row, int& missing) {
  const int n = groups.Count();
  const std::string& id = groups.Bytes(row, "accountid");
  const QString idText = Text(FSrcChar, id);
  const TTable source = Guarded(FSrcChar, Q3(id), kQ3);
  const QString firstName = source.Empty() ? QString() : Text(FSrcChar, source.Bytes(0, "Name"));
  const QString line =
      QStringLiteral("共有帐号：%1个，当前第：%2个，操作角色：").arg(n).arg(row + 1) + firstName;
  FSink.Step(line);
  FSink.Operation(line);
  const TTable account = Guarded(FTgtAcc, "select * from user where idx=" + Lit(FTgtAcc, id), kQ2);
  // An account a merge created for another group took the next free idx, which may be this
  // group's: it is not this group's account.
  const bool created = !account.Empty() && CreatedByMerge(account);
  if (created)
    FSink.Operation(QStringLiteral("AccountID为") + idText +
                    QStringLiteral("的帐号是合区时新建的帐号，不是转出分区中该ID的帐号,继续..."));
  if (account.Empty() || created) {
    FSink.Step(QStringLiteral("查询:AccountID") + idText + QStringLiteral("的记录，在转入分区中不存在ID"));
    FSink.Operation(QStringLiteral("AccountID为") + idText +
                    QStringLiteral("的空记录,在转入分区中不存在ID,继续..."));
    ++FCounts.Skipped;
    ++missing;
    if (missing * 2 > row + 1) {
      if (!FSink.Ask(
              QStringLiteral(
                  "当前至少有一半的帐号在转入分区中没有查询到对应帐号，可能转出的角色库并不是与转入帐号库对"
                  "应的！是否继续？"),
              QStringLiteral("警告"), true))
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
  std::string names;
  for (int i = 0; i < source.Count(); ++i) {
    const std::string& name = source.Bytes(i, "Name");
    for (const std::string& candidate : {name, Tagged(name, FCharTag, FOptions.CharTagBefore)})
      names += (names.empty() ? "" : ",") + Lit(FTgtChar, candidate);
  }
  const TTable moved =
      Guarded(FTgtChar, "select * from user where UsData='*' and Name in (" + names + ")", kQ4);
  std::vector<int> rows;
  for (int i = 0; i < source.Count(); ++i) {
    bool earlier = false;
    for (int m = 0; m < moved.Count() && !earlier; ++m) earlier = EarlierCharacterCopy(source, i, moved, m);
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
  const TTable target = Guarded(FTgtChar, Q3(id), kQ3);
  std::vector<int> own;
  for (int t = 0; t < target.Count(); ++t) {
    bool earlier = false;
    for (int i = 0; i < source.Count() && !earlier; ++i) earlier = EarlierCharacterCopy(source, i, target, t);
    if (!earlier) own.push_back(t);
  }
  BeginUnit();
  QString mapping = QStringLiteral("映射 帐号：%1(idx %2)").arg(userText, idText);
  auto moveAll = [&](const std::string& accountId) {
    for (int i : rows) MoveCharacter(source, i, accountId, userText, mapping);
  };
  if (own.empty()) {
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
    const std::optional<int64_t> newIdx =
        Insert(*FAccCmd, S1(newName, "idx=" + Num(id)), kInsertQuestion, true);
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

int TZoneMerge::Percent(int i, int n) {
  if (n <= 0) return 100;
  const int64_t num = 100LL * (i + 1);
  int64_t q = num / n;
  const int64_t twice = 2 * (num % n);
  if (twice > n || (twice == n && q % 2 != 0)) ++q;
  return static_cast<int>(q);
}
