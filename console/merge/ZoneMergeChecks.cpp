// The zone merge's checks before the run: the four connections open, the settings (one server,
// distinct databases, tags and compensation), and the pre-flight of every statement shape and
// column range before anything is written.
#include <QString>
#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/DBAccessDataSet.h"
#include "console/common/ColumnRange.h"
#include "console/merge/ZoneMergeRun.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/FieldText.h"

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
