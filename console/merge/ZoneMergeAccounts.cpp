// The zone merge's account pass (the account-merge mode): each source account copied under its
// name or its tagged name, then its characters and, on request, its warehouse; earlier copies
// and source rows without an account reported.
#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/merge/ZoneMergeRun.h"

namespace {

// The columns an account copy carries (the new name and the server's idx aside).
constexpr std::string_view kAccountCopied[] = {
    "password",    "deleted", "user_priv", "locked",   "lock_begin",        "lock_end",
    "create_date", "from",    "email",     "webmoney", "latest_login_date", "latest_login_ip"};

}  // namespace

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
