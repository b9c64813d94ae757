// The zone-merge run's own parts, shared by its source files: rows read whole, the run class,
// and the record of what earlier runs copied (kept in the target character database).
#pragma once

#include <QString>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "console/merge/ZoneMerge.h"
#include "platform/widgets/FieldText.h"

class TMyRowReader;

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
  int Col(std::string_view name) const;
  const TCell& Cell(int row, std::string_view name) const;
  const std::string& Bytes(int row, std::string_view name) const { return Cell(row, name).Bytes; }
};

// Thrown inside the run to end it: a stop (the GM's or a failed query's), after its texts were
// shown.
struct TStop {};

// Step label and operation log line of a failed query.
struct TGuard {
  const char* Step;
  const char* Log;
};

// What a copy is recorded under: the source database and the source row's key.
enum class TCopyKind : uint8_t { Account = 1, Character = 2, Bank = 3 };

// One row of the copy record. TargetKey is empty while the copy is being written (a table that
// cannot roll back): the name and account it gets were free when the record was written, so a
// row that holds them now is that copy.
struct TCopyRecord {
  TCopyKind Kind = TCopyKind::Account;
  std::string SourceKey;
  std::optional<std::string> TargetKey;  // new idx / ID / the warehouse's AccountID
  std::string TargetName;                // the name the copy got (accounts, characters)
  std::string TargetAccount;             // the account the copy belongs to (characters, warehouses)
};

// Questions and guards of more than one pass, and the whole-number reading of a typed or
// stored amount.
inline const QString kInsertQuestion =
    QStringLiteral("对转入分区进行插入数据时发生错误，是否中止程序继续运行！");
inline constexpr TGuard kQ1{"验证:转出帐号数据库查询失败，无法继续.", "转出帐号数据库查询失败，中止..."};
inline constexpr TGuard kQ2{"查询:转入帐号数据库查询失败，无法继续.", "转入帐号数据库查询失败，中止..."};
inline constexpr TGuard kQ3{"查询:转出角色数据库查询失败，无法继续.", "转出角色数据库查询失败，中止..."};
inline constexpr TGuard kQ4{"查询:转入角色数据库查询失败，无法继续.", "转入角色数据库查询失败，中止..."};

inline std::optional<int64_t> ParseInt64(std::string_view s) {
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

class TZoneMergeRun {
 public:
  TZoneMergeRun(TMyConnection& srcAcc, TMyConnection& srcChar, TMyConnection& tgtAcc, TMyConnection& tgtChar,
                const TZoneMergeOptions& options, TZoneMergeSink& sink);
  ~TZoneMergeRun();

  TZoneMergeCounts Run();

 private:
  // One connection as the run knows it after the settings check.
  struct TSide {
    std::string Host, Port, DataDir, Database;
    TCharsetKind Literal = TCharsetKind::SingleByte;
    TFieldCharset Text = TFieldCharset::Gbk;
    std::string SqlMode;  // the session's mode before the run made it strict
    bool ModeSet = false;
  };
  // A connection with what the run knows of it.
  struct TSession {
    TMyConnection& Con;
    TSide& Side;
  };
  // The records of one account or group, by kind and source key.
  using TRecords = std::map<std::pair<TCopyKind, std::string>, TCopyRecord>;

  bool CheckConnections();
  bool CheckSettings();
  void RestoreSessions() noexcept;
  bool Preflight();
  void AccountMode();
  void AccountUnit(const TTable& accounts, int row);
  void ReportOrphans();
  void CharacterMode();
  void CharacterGroup(const TTable& groups, int row, int& missing);
  // Why the target account of the group's number is another player's (a line for the operation
  // log); empty when it is the group's own. recorded: a merge made it.
  QString OtherPlayersAccount(const std::string& id, const TTable& account, bool recorded);
  // Moves source character `row` of `chars` under the account `accountId`; adds to `mapping`.
  void MoveCharacter(const TTable& chars, int row, const std::string& accountId, const QString& accountName,
                     QString& mapping, const TRecords& records);
  void CopyBank(const std::string& sourceIdx, const std::string& newIdx, const QString& accountName,
                bool legacyResumed, const TRecords& records);

  // ---- the copy record (ZoneMergeRecords.cpp) ----
  bool PrepareRecords();
  // The records of a source account (and its warehouse, and the new account the mode without
  // account merge made for its group) and of the characters with these IDs; earlier writes of
  // a killed run are settled first. accountTargetRecorded: set when the target account numbered
  // accountTarget is a copy some merge made.
  TRecords ReadRecords(const std::string& accountIdx, const std::vector<std::string>& charIds,
                       const std::string& accountTarget = {}, bool* accountTargetRecorded = nullptr);
  // A record a killed run left while its copy was being written: completed when the copy is
  // there, dropped when not. True for a copy.
  bool Settle(TCopyRecord& record);
  // Written before the copy on tables that cannot roll back; with the unit otherwise.
  void BeginCopy(const TCopyRecord& record);
  void CopyDone(TCopyRecord record, const std::string& targetKey);
  void CopyFailed(TCopyRecord record);
  void WriteDoneRecords();
  std::string RecordKey(const TCopyRecord& record, const TMyConnection& on) const;
  std::string RecordTable(const TMyConnection& on) const;
  TMyCommand& RecordCommand(const TCopyRecord& record) const;
  // Whether target row `key` of this kind is a recorded copy of any source.
  bool Recorded(TCopyKind kind, const std::string& key);
  static const TCopyRecord* Find(const TRecords& records, TCopyKind kind, const std::string& key);

  // Rules for rows an earlier version marked without a record.
  bool EarlierAccountCopy(const TTable& source, int srcRow, const TTable& target);
  bool CreatedByMerge(const TTable& account);
  static bool EarlierCharacterCopy(const TTable& source, int srcRow, const TTable& target, int tgtRow);
  bool LegacyCharacterCopy(const TTable& source, int srcRow, const TTable& target, int tgtRow);

  // A name longer than its target column is a clash: logged, and the insert's question asked.
  bool NameFits(const std::string& name, int limit, TCharsetKind kind, const QString& what,
                const QString& question);

  TTable Read(TMyConnection& con, const std::string& sql);
  TTable Guarded(TMyConnection& con, const std::string& sql, const TGuard& guard);
  void Exec(TMyCommand& command, const std::string& sql);
  // Runs an insert that must add exactly `one` row; nullopt when it failed and the GM goes on.
  // insertId: the row's new AUTO_INCREMENT value from the statement's own answer.
  std::optional<int64_t> Insert(TMyCommand& command, const std::string& sql, const QString& question,
                                bool wantsId, const TCopyRecord* record = nullptr);
  void Fail(const QString& step, const QString& log);
  void SetProgress(int i, int n, bool stopPoint);
  void BeginUnit();
  void CommitUnit();
  void RollbackUnit() noexcept;

  // Statement texts.
  std::string Lit(const TMyConnection& con, std::string_view bytes) const;
  std::string Db(const TSide& side, const TMyConnection& on) const;
  // S1, copy account: the source account row matching where, inserted into the target
  // account database under newName.
  std::string CopyAccountSql(const std::string& newName, const std::string& where) const;
  // S2, copy character: the source character row matching where, inserted into the
  // target character database under newName and the account accountId; goldPart:
  // PlainGold or CompensatedGold.
  std::string CopyCharacterSql(const std::string& newName, const std::string& accountId,
                               const std::string& goldPart, const std::string& where) const;
  // S3, copy warehouse: the source warehouse row matching where, inserted into the target
  // character database under the account newIdx.
  std::string CopyWarehouseSql(const std::string& newIdx, const std::string& where) const;
  // Q3, characters of an account: the rows of accountId, without the deleted ones when
  // the run drops them; the same text over either character connection.
  std::string AccountCharactersSql(const std::string& accountId) const;
  static std::string Num(const std::string& bytes);
  static std::string PlainGold();
  static std::string CompensatedGold(const std::string& amount);
  std::string Tagged(const std::string& name, const std::string& tag, bool before) const;

  QString Text(const TMyConnection& con, std::string_view bytes) const;
  const TSide& SideOf(const TMyConnection& con) const;
  // The four connections, the source account's first.
  std::array<TSession, 4> Sessions();
  QString CountsText() const;

  TMyConnection& FSrcAcc;
  TMyConnection& FSrcChar;
  TMyConnection& FTgtAcc;
  TMyConnection& FTgtChar;
  TZoneMergeOptions FOptions;
  TZoneMergeSink& FSink;
  std::unique_ptr<TMyCommand> FAccCmd, FCharCmd;
  // The run's readers, kept for the whole run by connection and by the statement's text before
  // its condition: a query that reads the columns of its last read keeps its field definitions,
  // where a query made for every read described every column anew.
  std::map<std::pair<const TMyConnection*, std::string>, std::unique_ptr<TMyRowReader>> FReaders;
  // What the run knows of each connection (FSrcAcc, FSrcChar, FTgtAcc, FTgtChar).
  TSide FSrcAccSide, FSrcCharSide, FTgtAccSide, FTgtCharSide;
  std::string FAccTag, FCharTag;
  int64_t FCompensation = 0;
  int64_t FGoldMax = std::numeric_limits<int64_t>::max();
  // Characters the longest name the target's account and character name columns hold.
  int FAccountNameMax = std::numeric_limits<int>::max();
  int FCharNameMax = std::numeric_limits<int>::max();
  bool FTransactional = false;
  bool FInUnit = false;
  // The target holds characters an earlier version marked '*' without a record.
  bool FLegacy = false;
  // Copies of the current unit whose records are written when it ends.
  std::vector<TCopyRecord> FDone;
  TZoneMergeCounts FCounts;
};
