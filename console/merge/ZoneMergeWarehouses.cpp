// The zone merge's warehouse pass: an account's warehouse copied under its new account.
#include <QString>
#include <exception>
#include <optional>
#include <string>

#include "console/merge/ZoneMergeRun.h"
#include "platform/runtime/Exceptions.h"

namespace {

const QString kInsertBankQuestion =
    QStringLiteral("对转入分区仓库插入数据时发生错误，是否中止程序继续运行！");

const QString kQueryBankQuestion = QStringLiteral("对转出分区仓库进行查询时发生错误，是否中止程序继续运行！");

}  // namespace

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
