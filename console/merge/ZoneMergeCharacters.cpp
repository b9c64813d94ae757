// The zone merge's character pass: the move of one character under its name or its tagged
// name, and the mode without account merge, which moves each account's characters to the
// target account of the same number or to a new one.
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/merge/ZoneMergeRun.h"

namespace {

// The columns an earlier version of the run took to tell a character it had moved from one of
// the target's own: it marked what it moved with UsData '*', kept the source account's name in
// Account, and copied these.
constexpr std::string_view kCharIdentity[] = {"ActorID", "CreateDate", "Account"};

const QString kInsertCharQuestion =
    QStringLiteral("对转入分区进行插入角色数据时发生错误，是否中止程序继续运行！");

constexpr TGuard kQ5{"验证:转出角色数据库查询失败，无法继续.", "转出角色数据库查询失败，中止..."};
constexpr TGuard kQ4First{"查询:转入角色数据库查询失败，无法继续.", "转入角色是否重复查询失败，中止..."};

}  // namespace

bool TZoneMergeRun::EarlierCharacterCopy(const TTable& source, int srcRow, const TTable& target, int tgtRow) {
  const TCell& mark = target.Cell(tgtRow, "UsData");
  if (mark.Null || mark.Bytes != "*") return false;
  for (std::string_view column : kCharIdentity)
    if (!(source.Cell(srcRow, column) == target.Cell(tgtRow, column))) return false;
  return true;
}

bool TZoneMergeRun::LegacyCharacterCopy(const TTable& source, int srcRow, const TTable& target, int tgtRow) {
  return FLegacy && EarlierCharacterCopy(source, srcRow, target, tgtRow) &&
         !Recorded(TCopyKind::Character, target.Bytes(tgtRow, "ID"));
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
