// The record of what the zone merge copied: one row per copied account, character and
// warehouse, by the source database and the source row's key, with the key the copy got. A
// re-run knows its earlier copies by it whatever names and tags they got, and never takes a
// row of the target's own (or another zone's copy) for one.
#include <QStringList>
#include <algorithm>

#include "console/merge/ZoneMergeRun.h"
#include "platform/runtime/Exceptions.h"

namespace {

constexpr TGuard kRecordRead{"查询:转入分区合并记录查询失败，无法继续.", "转入分区合并记录查询失败，中止..."};
constexpr TGuard kRecordWrite{"查询:转入分区合并记录写入失败，无法继续.",
                              "转入分区合并记录写入失败，中止..."};
constexpr TGuard kTargetAccount{"查询:转入帐号数据库查询失败，无法继续.", "转入帐号数据库查询失败，中止..."};
constexpr TGuard kTargetChar{"查询:转入角色数据库查询失败，无法继续.", "转入角色数据库查询失败，中止..."};

std::string KindText(TCopyKind kind) {
  return std::to_string(static_cast<int>(kind));
}

QString KindName(TCopyKind kind) {
  switch (kind) {
    case TCopyKind::Account:
      return QStringLiteral("帐号");
    case TCopyKind::Character:
      return QStringLiteral("角色");
    case TCopyKind::Bank:
      return QStringLiteral("仓库");
  }
  return {};
}

}  // namespace

std::string TZoneMergeRun::RecordTable(const TMyConnection& on) const {
  return Db(FTgtCharSide, on) + ".`t_zqv2to1_copy`";
}

TMyCommand& TZoneMergeRun::RecordCommand(const TCopyRecord& record) const {
  // An account's record goes with the account's own statements (its transaction), the others
  // with the character database's.
  return record.Kind == TCopyKind::Account ? *FAccCmd : *FCharCmd;
}

std::string TZoneMergeRun::RecordKey(const TCopyRecord& record, const TMyConnection& on) const {
  const std::string& db = record.Kind == TCopyKind::Account ? FSrcAccSide.Database : FSrcCharSide.Database;
  return "SourceDB=" + Lit(on, db) + " and Kind=" + KindText(record.Kind) +
         " and SourceKey=" + Num(record.SourceKey);
}

bool TZoneMergeRun::PrepareRecords() {
  try {
    Exec(*FCharCmd, "CREATE TABLE IF NOT EXISTS " + RecordTable(FTgtChar) +
                        " (\r\n"
                        "  `SourceDB` VARBINARY(255) NOT NULL,\r\n"
                        "  `Kind` TINYINT NOT NULL,\r\n"
                        "  `SourceKey` BIGINT NOT NULL,\r\n"
                        "  `TargetKey` BIGINT NULL,\r\n"
                        "  `TargetName` VARBINARY(255) NULL,\r\n"
                        "  `TargetAccount` BIGINT NULL,\r\n"
                        "  PRIMARY KEY (`SourceDB`,`Kind`,`SourceKey`),\r\n"
                        "  KEY `k_target` (`Kind`,`TargetKey`)\r\n"
                        ") ENGINE=" +
                        (FTransactional ? "InnoDB" : "MyISAM"));
    if (FTransactional) {
      // The records go with the copies' transactions only where they can roll back too.
      const TTable t =
          Read(FTgtChar,
               "select count(*) from information_schema.TABLES t join information_schema.ENGINES e "
               "on e.ENGINE=t.ENGINE where e.TRANSACTIONS='YES' and t.TABLE_SCHEMA=" +
                   Lit(FTgtChar, FTgtCharSide.Database) + " and t.TABLE_NAME='t_zqv2to1_copy'");
      if (t.Empty() || t.Rows[0][0].Bytes == "0")
        Exec(*FCharCmd, "ALTER TABLE " + RecordTable(FTgtChar) + " ENGINE=InnoDB");
    }
    Read(FTgtChar, "select SourceDB,Kind,SourceKey,TargetKey,TargetName,TargetAccount from " +
                       RecordTable(FTgtChar) + " where 1=0");
    // Characters an earlier version of the run moved carry its mark but no record.
    const TTable legacy =
        Read(FTgtChar, "select count(*) from `user` u where u.UsData='*' and not exists (select 1 from " +
                           RecordTable(FTgtChar) + " r where r.Kind=" + KindText(TCopyKind::Character) +
                           " and r.TargetKey=u.ID)");
    const std::string count = legacy.Empty() ? std::string("0") : legacy.Rows[0][0].Bytes;
    FLegacy = count != "0";
    if (FLegacy)
      FSink.Operation(
          QStringLiteral("转入分区有%1个角色带有合并标记(*)却没有合并记录(旧版本合并)：对它们仍按旧规则判断"
                         "是否已合并(角色的ActorID、CreateDate与Account相同；帐号各列相同且没有自己的角色).")
              .arg(QString::fromStdString(count)));
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    FSink.Step(QStringLiteral("验证:无法建立转入分区的合并记录表，无法继续."));
    FSink.Operation(QStringLiteral("合并记录表建立失败：") + Text(FTgtChar, e.what()) +
                    QStringLiteral("，中止..."));
    return false;
  }
  return true;
}

TZoneMergeRun::TRecords TZoneMergeRun::ReadRecords(const std::string& accountIdx,
                                                   const std::vector<std::string>& charIds,
                                                   const std::string& accountTarget,
                                                   bool* accountTargetRecorded) {
  const std::string& accDb = FSrcAccSide.Database;
  const std::string& charDb = FSrcCharSide.Database;
  std::string ids;
  for (const std::string& id : charIds) ids += (ids.empty() ? "" : ",") + Num(id);
  std::string where = "(SourceDB=" + Lit(FTgtChar, accDb) + " and Kind=" + KindText(TCopyKind::Account) +
                      " and SourceKey=" + Num(accountIdx) + ") or (SourceDB=" + Lit(FTgtChar, charDb) +
                      " and (Kind=" + KindText(TCopyKind::Bank) + " and SourceKey=" + Num(accountIdx);
  if (!ids.empty()) where += " or Kind=" + KindText(TCopyKind::Character) + " and SourceKey in (" + ids + ")";
  where += "))";
  if (!accountTarget.empty())
    where += " or (Kind=" + KindText(TCopyKind::Account) + " and TargetKey=" + Num(accountTarget) + ")";
  const TTable t = Guarded(FTgtChar,
                           "select SourceDB,Kind,SourceKey,TargetKey,TargetName,TargetAccount from " +
                               RecordTable(FTgtChar) + " where " + where,
                           kRecordRead);
  TRecords records;
  for (int i = 0; i < t.Count(); ++i) {
    const auto& row = t.Rows[static_cast<size_t>(i)];
    const auto kind = static_cast<TCopyKind>(std::stoi(row[1].Bytes));
    const std::string& key = row[2].Bytes;
    if (kind == TCopyKind::Account && !accountTarget.empty() && !row[3].Null &&
        row[3].Bytes == accountTarget && accountTargetRecorded != nullptr)
      *accountTargetRecorded = true;
    const bool ours =
        kind == TCopyKind::Account
            ? row[0].Bytes == accDb && key == accountIdx
            : row[0].Bytes == charDb &&
                  (kind == TCopyKind::Bank ? key == accountIdx
                                           : std::find(charIds.begin(), charIds.end(), key) != charIds.end());
    if (!ours) continue;
    TCopyRecord record{kind, key, std::nullopt, row[4].Bytes, row[5].Bytes};
    if (!row[3].Null)
      record.TargetKey = row[3].Bytes;
    else if (!Settle(record))
      continue;
    records[{kind, key}] = std::move(record);
  }
  return records;
}

bool TZoneMergeRun::Settle(TCopyRecord& record) {
  std::optional<std::string> key;
  switch (record.Kind) {
    case TCopyKind::Account: {
      const TTable t =
          Guarded(FTgtAcc, "select idx,username from user where username=" + Lit(FTgtAcc, record.TargetName),
                  kTargetAccount);
      for (int i = 0; i < t.Count() && !key; ++i)
        if (t.Bytes(i, "username") == record.TargetName) key = t.Bytes(i, "idx");
      break;
    }
    case TCopyKind::Character: {
      const TTable t = Guarded(FTgtChar,
                               "select ID,UniqueName,AccountID,UsData from user where UniqueName=" +
                                   Lit(FTgtChar, record.TargetName),
                               kTargetChar);
      for (int i = 0; i < t.Count() && !key; ++i)
        if (t.Bytes(i, "UniqueName") == record.TargetName &&
            t.Bytes(i, "AccountID") == record.TargetAccount && t.Cell(i, "UsData") == TCell{false, "*"})
          key = t.Bytes(i, "ID");
      break;
    }
    case TCopyKind::Bank:
      if (!Guarded(FTgtChar, "select AccountID from t_bank where AccountID=" + Num(record.TargetAccount),
                   kTargetChar)
               .Empty())
        key = record.TargetAccount;
      break;
  }
  TMyCommand& command = RecordCommand(record);
  const TMyConnection& on = *static_cast<TMyConnection*>(command.Connection());
  try {
    if (key)
      Exec(command,
           "update " + RecordTable(on) + " set TargetKey=" + Num(*key) + " where " + RecordKey(record, on));
    else
      Exec(command, "delete from " + RecordTable(on) + " where " + RecordKey(record, on));
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    FSink.Operation(QString::fromUtf8(kRecordWrite.Log) + QStringLiteral(" (") + Text(on, e.what()) + ")");
    Fail(QString::fromUtf8(kRecordWrite.Step), QString::fromUtf8(kRecordWrite.Log));
  }
  const QString what =
      KindName(record.Kind) + QStringLiteral("(源编号") + QString::fromStdString(record.SourceKey) + ")";
  FSink.Operation(QStringLiteral("未完成的合并记录：") + what +
                  (key ? QStringLiteral("已写入，记录已补全.") : QStringLiteral("没有写入，记录已删除.")));
  record.TargetKey = key;
  return key.has_value();
}

void TZoneMergeRun::BeginCopy(const TCopyRecord& record) {
  // Where the copy cannot roll back, its record comes first: a run killed after either
  // statement finds the record and settles it, instead of copying a second time.
  if (FTransactional) return;
  TMyCommand& command = RecordCommand(record);
  const TMyConnection& on = *static_cast<TMyConnection*>(command.Connection());
  const std::string& db = record.Kind == TCopyKind::Account ? FSrcAccSide.Database : FSrcCharSide.Database;
  try {
    Exec(command, "insert into " + RecordTable(on) +
                      " (SourceDB,Kind,SourceKey,TargetName,TargetAccount) values (" + Lit(on, db) + "," +
                      KindText(record.Kind) + "," + Num(record.SourceKey) + "," + Lit(on, record.TargetName) +
                      "," + (record.TargetAccount.empty() ? std::string("NULL") : Num(record.TargetAccount)) +
                      ")");
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    FSink.Operation(QString::fromUtf8(kRecordWrite.Log) + QStringLiteral(" (") + Text(on, e.what()) + ")");
    Fail(QString::fromUtf8(kRecordWrite.Step), QString::fromUtf8(kRecordWrite.Log));
  }
}

void TZoneMergeRun::CopyDone(TCopyRecord record, const std::string& targetKey) {
  record.TargetKey = targetKey;
  FDone.push_back(std::move(record));
}

void TZoneMergeRun::CopyFailed(TCopyRecord record) {
  // A table that cannot roll back may hold the row although the statement failed (a trigger
  // after it, an answer lost): the record is settled by what the table holds.
  if (!FTransactional) Settle(record);
}

void TZoneMergeRun::WriteDoneRecords() {
  std::vector<TCopyRecord> done;
  done.swap(FDone);
  for (TMyCommand* command : {FAccCmd.get(), FCharCmd.get()}) {
    const TMyConnection& on = *static_cast<TMyConnection*>(command->Connection());
    std::string values;
    for (const TCopyRecord& r : done) {
      if (&RecordCommand(r) != command) continue;
      const std::string& db = r.Kind == TCopyKind::Account ? FSrcAccSide.Database : FSrcCharSide.Database;
      values += std::string(values.empty() ? "" : ",") + "(" + Lit(on, db) + "," + KindText(r.Kind) + "," +
                Num(r.SourceKey) + "," + Num(*r.TargetKey) + "," + Lit(on, r.TargetName) + "," +
                (r.TargetAccount.empty() ? std::string("NULL") : Num(r.TargetAccount)) + ")";
    }
    if (values.empty()) continue;
    // One statement for the unit's copies; rows written first before them are completed.
    Exec(*command, "insert into " + RecordTable(on) +
                       " (SourceDB,Kind,SourceKey,TargetKey,TargetName,TargetAccount) values " + values +
                       " on duplicate key update TargetKey=values(TargetKey)");
  }
}

bool TZoneMergeRun::Recorded(TCopyKind kind, const std::string& key) {
  return !Guarded(FTgtChar,
                  "select 1 from " + RecordTable(FTgtChar) + " where Kind=" + KindText(kind) +
                      " and TargetKey=" + Num(key) + " limit 1",
                  kRecordRead)
              .Empty();
}

const TCopyRecord* TZoneMergeRun::Find(const TRecords& records, TCopyKind kind, const std::string& key) {
  const auto it = records.find({kind, key});
  return it == records.end() || !it->second.TargetKey ? nullptr : &it->second;
}
