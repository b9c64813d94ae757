#include "console/items/ItemSell.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <set>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "components/MyRowReader.h"
#include "console/browsers/BrowserPaging.h"
#include "console/common/ColumnRange.h"
#include "console/common/MyLoginConnection.h"
#include "console/common/ProgressPercent.h"
#include "console/common/TypedText.h"
#include "platform/db/Fields.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/ErrorReport.h"

namespace {

const char* const kOwnGiftMsg = "程序添加";
// What the rows go into before they take the item list's place.
const char* const kImportTable = "`t_itemname_import`";
const char* const kOldTable = "`t_itemname_old`";

QString Utf8(const char* text) {
  return QString::fromUtf8(text);
}

bool AllDigits(const QString& text) {
  for (QChar c : text)
    if (c < QChar('0') || c > QChar('9')) return false;
  return true;
}

}  // namespace

// ---- texts and rules ----------------------------------------------------------------------------

std::vector<std::string> ItemTableCreationSql() {
  return {"DROP TABLE IF EXISTS `t_itemname` ;",
          "CREATE table `t_itemname` (\r\n"
          "`itemNo` int NOT NULL   auto_increment,\r\n"
          "`itemName` varchar (40)  NULL,\r\n"
          " `itemDbidx` varchar (40) NULL,\r\n"
          " `itemMemo` varchar (200)  NULL,\r\n"
          " PRIMARY KEY  (itemNo) ) \r\n"
          "ENGINE=MyISAM;"};
}

int ColourCode(const QString& colour) {
  static const char* const kColours[] = {"白色", "绿色", "蓝色", "金色"};
  for (int i = 0; i < 4; ++i)
    if (colour == Utf8(kColours[i])) return i;
  return 0;
}

int LevelCode(const QString& level) {
  for (int i = 0; i <= 10; ++i)
    if (level == QStringLiteral("+") + QString::number(i)) return i;
  return 0;
}

int BindFlag(const QString& bind) {
  return bind == QStringLiteral("不绑定") ? 0 : 1;
}

std::string ItemAttribute(std::string_view itemNumber, int colour, int level, int bind) {
  return "ver=1;count=1;|id=" + std::string(itemNumber) + ";color=" + std::to_string(colour) +
         ";lev=" + std::to_string(level) + ";bind=" + std::to_string(bind) + ";|";
}

QString ProgressPanelText(int percent) {
  return QStringLiteral("任务总完成：") + QString::number(percent) + QStringLiteral("%    ");
}

std::string GiftTime(TDateTime value) {
  return FormatDateTime("yyyymmddhhnnss", value);
}

QString FilterItemText(int index) {
  static const char* const kItems[kFilterCount] = {"全部(未删除)",    "角色等级小于", "角色等级大于",
                                                   "角色声望小于",    "角色声望大于", "角色所属国家",
                                                   "自定义条件(高级)"};
  return index >= 0 && index < kFilterCount ? Utf8(kItems[index]) : QString();
}

QString FilterHint(int index) {
  static const char* const kHints[kFilterCount] = {"",         "* 0-255",         "* 0-255",      "* 0-5000",
                                                   "* 0-5000", "* 0,周朝 1,商朝", "* SQL条件语句"};
  return index >= 0 && index < kFilterCount ? Utf8(kHints[index]) : QString();
}

QString FilterInitialValue(int index) {
  if (index == 5) return QStringLiteral("1");
  if (index == 6) return QStringLiteral("Where ");
  return {};
}

TKeyRule KeyRuleOfFilter(int index) {
  if (index >= 1 && index <= 4) return TKeyRule::Digits;
  if (index == 5) return TKeyRule::Faction;
  return TKeyRule::None;
}

std::optional<QString> KeyRefusal(TKeyRule rule, QChar key, bool caretAtStart) {
  if (rule == TKeyRule::None || key == QChar('\b')) return std::nullopt;
  if (rule == TKeyRule::Faction) {
    if (key == QChar('0') || key == QChar('1')) return std::nullopt;
    return QStringLiteral("只能输入0或1！");
  }
  if (key < QChar('0') || key > QChar('9')) return QStringLiteral("只能输入0-9的数字！");
  if (key == QChar('0') && caretAtStart) return QStringLiteral("第一个数字不能为0！");
  return std::nullopt;
}

// ---- items.csv ----------------------------------------------------------------------------------

QString ItemFileProblemText(const TItemFile& file) {
  const QString kept = QStringLiteral("\r\n原有装备数据没有改动。");
  if (file.Problem == TItemFileProblem::BadText)
    return (file.Utf8 ? QStringLiteral("导入失败：第%1行不是有效的UTF-8文本！")
                      : QStringLiteral("导入失败：第%1行不是GBK编码的文本（UTF-8编码的文件须以BOM开头）！"))
               .arg(file.ProblemLine) +
           kept;
  if (file.Problem == TItemFileProblem::Unencodable)
    return QStringLiteral("导入失败：第%1行含有GBK无法保存的字符 U+%2！")
               .arg(file.ProblemLine)
               .arg(QStringLiteral("%1")
                        .arg(static_cast<uint>(file.ProblemChar), 4, 16, QLatin1Char('0'))
                        .toUpper()) +
           kept;
  if (file.Problem == TItemFileProblem::ShortLine)
    return QStringLiteral("导入失败：第%1行只有%2个字段，至少需要%3个！\r\n原有装备数据没有改动。")
        .arg(file.ProblemLine)
        .arg(file.ProblemFields)
        .arg(kItemFields);
  return QStringLiteral("导入失败：文件中没有物品数据！\r\n原有装备数据没有改动。");
}

// ---- the engine ---------------------------------------------------------------------------------

// The attribute text of each item of a send, looked up once.
struct TItemSell::TItemGifts {
  bool Resolved = false;
  std::vector<std::string> Attributes;
};

// Collects the rows of the characters handled and writes them with one statement per batch;
// every way out of a send flushes first, so the characters reported have their rows. t_gift is
// the game's MyISAM table: nothing written can be taken back, so a send that ends early tells
// which characters already have their gift (they come in a fixed order), and a resend can leave
// them out instead of doubling their gifts.
class TItemSell::TRowWriter {
 public:
  TRowWriter(TItemSell& owner, std::string addTime, std::string limitTime)
      : FOwner(owner),
        FTail(Literal(addTime) + "," + Literal(limitTime) + "," + Literal(owner.Encode(Utf8(kOwnGiftMsg))) +
              ")") {}

  std::string Literal(std::string_view text) const { return SqlLiteral(text, FOwner.LiteralStyle()); }

  void Add(const std::string& id, int type, const std::string& attribute) {
    if (!FValues.empty()) FValues += ',';
    FValues +=
        "(" + Literal(id) + ",'0'," + Literal(std::to_string(type)) + "," + Literal(attribute) + "," + FTail;
    ++FPending;
    ++FCharacterRows;
  }
  // A character's rows are queued; the batch goes when it is full.
  bool CharacterDone(const std::string& id, const QString& name) {
    FPendingCharacters.push_back({id, name, FCharacterRows});
    FCharacterRows = 0;
    return static_cast<int>(FPendingCharacters.size()) < FOwner.FBatchSize || Flush();
  }
  // False with the failure shown; the rows of earlier statements stay.
  bool Flush() {
    std::optional<std::string> cut;
    if (FPending > 0) {
      bool sent = false;
      try {
        // The rows this send writes are told from earlier ones by their ID.
        if (!FBaseline) FBaseline = FOwner.Scalar("select ifnull(max(ID),0) from `t_gift`");
        sent = true;
        FOwner.Execute("INSERT INTO `t_gift` (charID,level,type,attribute,addTime,limitTime,msg) VALUES " +
                       FValues);
        // A server whose sql_mode is not strict cuts a value too long for its column and only
        // warns: the rows are written, but not as sent.
        cut = FOwner.FirstWarning();
      } catch (const EAbort&) {
        throw;
      } catch (const std::exception& e) {
        FOwner.Failure(QStringLiteral("插入t_gift数据库失败！\n\r"), e);
        if (sent) TakeLanded();
        Drop();
        return false;
      }
    }
    FRows += FPending;
    FCharacters += static_cast<int>(FPendingCharacters.size());
    if (!FPendingCharacters.empty()) FLastDone = FPendingCharacters.back();
    FValues.clear();
    FPending = 0;
    FPendingCharacters.clear();
    if (cut) {
      FOwner.FSink.Message(
          QStringLiteral("插入t_gift数据库时服务器截断了写入的值，已写入的礼物与发放的不符！\n\r") +
              FOwner.Decode(*cut),
          CaptionError, TMsgIcon::Error);
      return false;
    }
    return true;
  }
  TSendResult Result(TSendOutcome outcome) const { return {outcome, FCharacters, FRows}; }

  // What a send that ended early wrote, for the game master to leave out of a resend; nothing
  // when it wrote nothing.
  std::optional<QString> Report(bool allCharacters) const {
    if (FCharacters == 0 && FUnsure.empty()) return std::nullopt;
    QString text;
    if (FCharacters == 0) {
      text = QStringLiteral("本次发放没有角色确定收到礼物。");
    } else {
      text = QStringLiteral("本次发放已为%1个角色写入礼物：").arg(FCharacters) +
             (allCharacters ? QStringLiteral("符合条件的角色按ID顺序直到ID %1（%2）为止（含）。")
                                  .arg(QString::fromStdString(FLastDone.Id), FLastDone.Name)
                            : QStringLiteral("名单中直到“%1”为止（含）的角色。").arg(FLastDone.Name));
      text += QStringLiteral("\r\n重新发放前请去掉这些角色，否则他们会收到两份。");
    }
    if (FPartRows > 0)
      text += QStringLiteral("\r\n其中“%1”只写入了%2份礼物中的%3份。")
                  .arg(FLastDone.Name)
                  .arg(FLastDone.Rows)
                  .arg(FPartRows);
    if (!FUnsure.empty())
      text += QStringLiteral("\r\n其后%1个角色（“%2”至“%3”）的礼物无法确定是否已写入，请先查看t_gift。")
                  .arg(FUnsure.size())
                  .arg(FUnsure.front().Name, FUnsure.back().Name);
    return text;
  }

 private:
  struct TCharacter {
    std::string Id;
    QString Name;
    int Rows = 0;  // of the send
  };

  // After a failed statement: a MyISAM table keeps the rows written before the failing one, so
  // the characters of the batch that have rows are asked of the server; when it cannot answer,
  // the batch is unsure.
  void TakeLanded() {
    try {
      if (!FBaseline || !FOwner.FConnection.Connected()) throw EDatabaseError("no answer");
      std::string ids;
      for (const TCharacter& c : FPendingCharacters) ids += (ids.empty() ? "" : ",") + Literal(c.Id);
      const std::string where = " from `t_gift` where ID>" + *FBaseline +
                                " and msg=" + Literal(FOwner.Encode(Utf8(kOwnGiftMsg))) + " and charID in (" +
                                ids + ")";
      // Each character's rows as "ID:count".
      const std::vector<std::string> landed =
          FOwner.Column("select concat(charID,':',count(*))" + where + " group by charID");
      // Rows go in in order: the characters with rows are the first ones of the batch, the last of
      // them perhaps with only some of its items.
      for (const TCharacter& c : FPendingCharacters)
        for (const std::string& entry : landed) {
          if (entry.compare(0, c.Id.size() + 1, c.Id + ":") != 0) continue;
          const int rows = std::stoi(entry.substr(c.Id.size() + 1));
          FRows += rows;
          ++FCharacters;
          FLastDone = c;
          FPartRows = rows < c.Rows ? rows : 0;
        }
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception&) {
      FUnsure = FPendingCharacters;
    }
  }

  void Drop() {
    FCharacterRows = 0;
    FPendingCharacters.clear();
    FPending = 0;
    FValues.clear();
  }

  TItemSell& FOwner;
  std::string FTail;
  std::string FValues;
  int64_t FPending = 0;
  std::vector<TCharacter> FPendingCharacters;
  int FCharacterRows = 0;  // of the character being queued
  int FPartRows = 0;       // the rows of the last character done, when it got only some
  int64_t FRows = 0;
  int FCharacters = 0;
  TCharacter FLastDone;
  std::vector<TCharacter> FUnsure;
  std::optional<std::string> FBaseline;
};

TItemSell::TItemSell(TCustomMyConnection& con2, TFieldCharset charset, TItemSellSink& sink)
    : FConnection(con2),
      FCharset(charset),
      FSink(sink),
      FQuery(std::make_unique<TMyQuery>()),
      FStatement(std::make_unique<TMyQuery>()) {
  for (TMyQuery* q : {FQuery.get(), FStatement.get()}) q->SetCommandTimeout(kReadTimeoutSeconds);
  // Every character a filter finds is counted before the first gift.
  FQuery->SetFetchAll(true);
}

TItemSell::~TItemSell() = default;

void TItemSell::Execute(const std::string& sql) {
  FStatement->Close();
  FStatement->SetConnection(&FConnection);
  // Literals and typed conditions go as written: no parameters, no macros.
  TDBAccessUtils::SetSQLText(FStatement.get(), sql);
  FStatement->Execute();
}

void TItemSell::Open(TMyQuery& query, const std::string& sql) {
  query.Close();
  query.SetConnection(&FConnection);
  TDBAccessUtils::SetSQLText(&query, sql);
  query.Open();
}

void TItemSell::Failure(const QString& text, const std::exception& e) {
  FSink.Message(text + ExceptionText(e), CaptionError, TMsgIcon::Error);
}

bool TItemSell::HasItemTable() {
  return HasTableNamed(FConnection, QStringLiteral("t_itemname"));
}

void TItemSell::CreateItemTable() {
  for (const std::string& sql : ItemTableCreationSql()) Execute(sql);
}

bool TItemSell::ImportItems(const std::string& fileBytes) {
  const TItemFile file = ReadItemFile(fileBytes);
  if (file.Problem != TItemFileProblem::None) {
    FSink.Message(ItemFileProblemText(file), CaptionWarning, TMsgIcon::Error);
    return false;
  }
  // The file is the game's, in its code page; a utf8 session takes its texts converted.
  auto text = [this](const std::string& bytes) {
    return FCharset == TFieldCharset::Gbk ? bytes : Encode(DecodeFieldText(bytes, TFieldCharset::Gbk));
  };
  const TLiteralStyle cs = LiteralStyle();
  const int n = static_cast<int>(file.Rows.size());
  // Progress counts the file's lines, the header among them, as the game master sees the file.
  const QString total =
      QStringLiteral("共有物品数") + QString::number(file.LineCount) + QStringLiteral("个，正在操作：");
  std::optional<QString> cut;
  try {
    Execute(std::string("DROP TABLE IF EXISTS ") + kImportTable);
    Execute(std::string("CREATE TABLE ") + kImportTable + " LIKE `t_itemname`");
    std::string values;
    int first = 0;
    for (int i = 0; i < n && !cut; ++i) {
      const TItemRow& row = file.Rows[static_cast<size_t>(i)];
      FSink.Progress(total + DecodeFieldText(row.Name, TFieldCharset::Gbk),
                     ProgressPercent(row.Line, file.LineCount));
      FSink.ProcessMessages();
      if (!values.empty()) values += ',';
      values += "(" + SqlLiteral(text(row.Name), cs) + "," + SqlLiteral(text(row.Number), cs) + "," +
                SqlLiteral(text(row.Memo), cs) + ")";
      if ((i + 1) % FBatchSize == 0 || i + 1 == n) {
        Execute(std::string("INSERT INTO ") + kImportTable + " (itemName,itemDbidx,itemMemo) VALUES " +
                values);
        values.clear();
        // A value longer than its column is cut, after a statement's first row with a warning
        // only: the list would be imported with cut names and descriptions.
        if (const std::optional<std::string> warning = FirstWarning())
          cut = QStringLiteral("导入失败：第%1行至第%2行中有数据表放不下的值（")
                    .arg(file.Rows[static_cast<size_t>(first)].Line + 1)
                    .arg(row.Line + 1) +
                Decode(*warning) + QStringLiteral("）！\r\n原有装备数据没有改动。");
        first = i + 1;
      }
    }
    if (!cut) {
      // The new list takes the old one's place in one step; until then the old one is whole.
      Execute(std::string("DROP TABLE IF EXISTS ") + kOldTable);
      Execute(std::string("RENAME TABLE `t_itemname` TO ") + kOldTable + ", " + kImportTable +
              " TO `t_itemname`");
      Execute(std::string("DROP TABLE ") + kOldTable);
    }
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    try {
      Execute(std::string("DROP TABLE IF EXISTS ") + kImportTable);
    } catch (...) {
      // The connection is gone; the leftover table is dropped by the next import.
    }
    FSink.Message(QStringLiteral("清除原有装备数据库时失败，请检查网络连接！\n\r") + ExceptionText(e),
                  CaptionWarning, TMsgIcon::Error);
    return false;
  }
  if (cut) {
    try {
      Execute(std::string("DROP TABLE IF EXISTS ") + kImportTable);
    } catch (const EAbort&) {
      throw;
    } catch (...) {
      // The leftover table is dropped by the next import.
    }
    FSink.Message(*cut, CaptionWarning, TMsgIcon::Error);
    return false;
  }
  FSink.Message(QStringLiteral("操作全部完成！"), CaptionHint, TMsgIcon::Information);
  return true;
}

std::vector<std::string> TItemSell::Column(const std::string& sql) {
  return TMyRowReader::FirstColumn(FConnection, sql, kReadTimeoutSeconds);
}

std::string TItemSell::Scalar(const std::string& sql) {
  const std::vector<std::string> values = Column(sql);
  if (values.empty()) throw EDatabaseError("no value");
  return values.front();
}

std::optional<std::string> TItemSell::FirstWarning() {
  TMyRowReader reader(FConnection, kReadTimeoutSeconds);
  reader.Open("SHOW WARNINGS");
  const int level = reader.FieldIndex("Level");
  const int message = reader.FieldIndex("Message");
  std::optional<std::string> warning;
  while (level >= 0 && message >= 0 && reader.Next())
    if (!warning &&
        QString::fromStdString(reader.Value(level)).compare(QLatin1String("Note"), Qt::CaseInsensitive))
      warning = reader.Value(message);
  return warning;
}

int64_t TItemSell::ClearGifts(bool ownOnly) {
  std::string sql = "delete from `t_gift`";
  if (ownOnly) sql += " where msg=" + SqlLiteral(Encode(Utf8(kOwnGiftMsg)), LiteralStyle());
  Execute(sql);
  return FStatement->RowsAffected();
}

bool TItemSell::CheckRequest(const TSendRequest& request, std::string& amount) {
  if (FormatDateTime("yyyymmdd", request.Now) >= FormatDateTime("yyyymmdd", request.Expiry)) {
    FSink.Message(QStringLiteral("过期时间不能等于或小于今天！！！"), CaptionHint, TMsgIcon::Information);
    return false;
  }
  const char* empty = nullptr;
  switch (request.Kind) {
    case TGiftKind::Item:
      if (request.ItemLines.join(QString()).trimmed().isEmpty())
        empty = "物品发放模式，物品栏内没有物品，请添加！";
      break;
    case TGiftKind::Gold:
      if (request.Amount.isEmpty()) empty = "金币发放模式，金币值不能为空！";
      break;
    case TGiftKind::Experience:
      if (request.Amount.isEmpty()) empty = "经验发放模式，经验值不能为空！";
      break;
    case TGiftKind::Credit:
      if (request.Amount.isEmpty()) empty = "声望发放模式，声望值不能为空！";
      break;
  }
  if (empty != nullptr) {
    FSink.Message(Utf8(empty), CaptionWarning, TMsgIcon::Information);
    return false;
  }
  // Text pasted past the key filter: "1,000" would go to the game as the amount, and a level or
  // credit bound such as "3O" would choose other characters than the number typed.
  const bool digitFilter = request.AllCharacters && KeyRuleOfFilter(request.Filter) == TKeyRule::Digits;
  if ((request.Kind != TGiftKind::Item && !AllDigits(request.Amount)) ||
      (digitFilter && !request.FilterValue.isEmpty() && !AllDigits(request.FilterValue))) {
    FSink.Message(QStringLiteral("只能输入0-9的数字！"), CaptionHint, TMsgIcon::Information);
    return false;
  }
  if (request.Kind != TGiftKind::Item && !AmountFits(request)) return false;
  // A character the session's set lacks would be looked up or written as "?": another character,
  // item or condition than the one typed.
  QStringList typed = request.AllCharacters ? QStringList{request.FilterValue} : request.Names;
  if (request.Kind == TGiftKind::Item) typed += request.ItemLines;
  const QString problem =
      UnencodableText(typed.join(QLatin1Char('\n')), FCharset, QStringLiteral("输入的内容"));
  if (!problem.isEmpty()) {
    FSink.Message(problem, CaptionWarning, TMsgIcon::Information);
    return false;
  }
  amount = Encode(request.Amount);
  return true;
}

bool TItemSell::AmountFits(const TSendRequest& request) {
  // The game reads the amount into the character's own column: what that column cannot hold would
  // reach the player cut or wrapped.
  static const struct {
    TGiftKind Kind;
    const char* Column;
    const char* Field;
  } kColumns[] = {{TGiftKind::Gold, "Gold", "金币"},
                  {TGiftKind::Experience, "EXP", "经验"},
                  {TGiftKind::Credit, "Credit", "声望"}};
  const auto* kind = std::find_if(std::begin(kColumns), std::end(kColumns),
                                  [&request](const auto& c) { return c.Kind == request.Kind; });
  if (kind == std::end(kColumns)) return true;
  int64_t maximum = std::numeric_limits<int64_t>::max();
  try {
    TMyRowReader reader(FConnection, kReadTimeoutSeconds);
    reader.Open(
        "select DATA_TYPE,COLUMN_TYPE,NUMERIC_PRECISION,NUMERIC_SCALE from information_schema.COLUMNS "
        "where TABLE_SCHEMA=DATABASE() and TABLE_NAME='user' and COLUMN_NAME='" +
        std::string(kind->Column) + "'");
    if (reader.Next())
      maximum = ColumnMaximum(reader.Value(0), reader.Value(1), reader.Value(2), reader.Value(3));
    reader.Close();
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    Failure(QStringLiteral("查询角色数据库失败！\n\r"), e);
    return false;
  }
  if (DigitsAtMost(request.Amount.toStdString(), maximum)) return true;
  FSink.Message(Utf8(kind->Field) + QStringLiteral("值超出游戏能保存的范围（0-%1）！").arg(maximum),
                CaptionWarning, TMsgIcon::Information);
  return false;
}

std::optional<std::string> TItemSell::FilterWhere(const TSendRequest& request) {
  static const char* const kEmpty[] = {"等级小于...,条件数值不能为空！", "等级大于...,条件数值不能为空！",
                                       "声望小于...,条件数值不能为空！", "声望大于...,条件数值不能为空！",
                                       "角色国家...,条件数值不能为空！"};
  static const char* const kConditions[] = {"WHERE level<", "WHERE level>", "WHERE Credit<", "WHERE Credit>",
                                            "WHERE Faction="};
  const int index = request.Filter;
  if (index == 6) return Encode(request.FilterValue.trimmed());
  if (index < 1 || index > 5) return std::string("where deleted<>1");
  const QString value = request.FilterValue;
  const char* refusal = nullptr;
  if (value.isEmpty()) refusal = kEmpty[index - 1];
  if (refusal == nullptr && index == 5 && value != QStringLiteral("0") && value != QStringLiteral("1"))
    refusal = "角色国家...,条件数值只能为0或者1！";
  if (refusal != nullptr) {
    FSink.Message(Utf8(refusal), CaptionHint, TMsgIcon::Question);
    return std::nullopt;
  }
  return kConditions[index - 1] + SqlLiteral(Encode(value), LiteralStyle());
}

TSendResult TItemSell::Send(const TSendRequest& request) {
  std::string amount;
  if (!CheckRequest(request, amount)) return {};
  TRowWriter writer(*this, GiftTime(request.Now), GiftTime(request.Expiry));
  const TSendResult result =
      request.AllCharacters ? SendToAll(request, amount, writer) : SendToNamed(request, amount, writer);
  if (result.Outcome == TSendOutcome::Failed || result.Outcome == TSendOutcome::Stopped)
    if (const std::optional<QString> report = writer.Report(request.AllCharacters))
      FSink.Message(*report, CaptionWarning, TMsgIcon::Warning);
  return result;
}

TSendResult TItemSell::SendToAll(const TSendRequest& request, const std::string& amount, TRowWriter& writer) {
  FSink.Status(QStringLiteral("为所有符合条件的角色发放！"));
  const std::optional<std::string> where = FilterWhere(request);
  if (!where) return {};
  try {
    FSink.Status(QStringLiteral("正在查询..."));
    // In the order of their IDs: a send that ends early can say up to which character it came.
    // The condition stays a query of its own, so that a typed one ending in its own ORDER BY or
    // LIMIT chooses the same characters as before.
    Open(*FQuery, "select ID,Name from (select ID,Name from `user` " + *where + "\n) as chosen order by ID");
    FSink.Status(QStringLiteral("准备就绪..."));
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    Failure(QStringLiteral("查询角色数据库失败！\n\r"), e);
    return {TSendOutcome::Failed};
  }
  // The characters' rows go with the send, whichever way it ends.
  struct TCloser {
    TMyQuery& Query;
    ~TCloser() {
      try {
        Query.Close();
      } catch (...) {
        // Closing a fetched dataset frees memory only.
      }
    }
  } closer{*FQuery};
  const int count = FQuery->RecordCount();
  if (count == 0) {
    FSink.Message(QStringLiteral("没有查询到符合条件的角色，无法继续！"), CaptionError,
                  TMsgIcon::Information);
    return {};
  }
  const QString total =
      QStringLiteral("共有角色") + QString::number(count) + QStringLiteral("个，正在操作：");
  TItemGifts items;
  TField* idField = FQuery->FieldByName("ID");
  TField* nameField = FQuery->FieldByName("Name");
  int i = 0;
  for (FQuery->First(); !FQuery->Eof(); FQuery->Next(), ++i) {
    if (FSink.StopRequested())
      return writer.Flush() ? writer.Result(TSendOutcome::Stopped) : writer.Result(TSendOutcome::Failed);
    const std::string id = idField->AsString();
    FSink.Progress(total + Decode(nameField->AsString()), ProgressPercent(i, count));
    FSink.ProcessMessages();
    if (!IssueGift(request, amount, id, Decode(nameField->AsString()), items, writer))
      return writer.Result(TSendOutcome::Failed);
  }
  if (!writer.Flush()) return writer.Result(TSendOutcome::Failed);
  FSink.Message(
      QStringLiteral("所有操作已完成！\r\n操作角色 ") + QString::number(count) + QStringLiteral("个"),
      CaptionHint, TMsgIcon::Information);
  return writer.Result(TSendOutcome::Done);
}

TSendResult TItemSell::SendToNamed(const TSendRequest& request, const std::string& amount,
                                   TRowWriter& writer) {
  FSink.Status(QStringLiteral("为指定角色发放！"));
  // A name listed twice is one character: one gift.
  QStringList names;
  for (const QString& line : request.Names)
    if (const QString name = line.trimmed(); !name.isEmpty() && !names.contains(name)) names << name;
  const int count = static_cast<int>(names.size());
  const QString total =
      QStringLiteral("共有角色") + QString::number(count) + QStringLiteral("个，正在操作：");
  TItemGifts items;
  TMyQuery lookup;
  lookup.SetCommandTimeout(kReadTimeoutSeconds);
  for (int i = 0; i < count; ++i) {
    if (FSink.StopRequested())
      return writer.Flush() ? writer.Result(TSendOutcome::Stopped) : writer.Result(TSendOutcome::Failed);
    const QString& name = names[i];
    FSink.Progress(total + name, ProgressPercent(i, count));
    FSink.ProcessMessages();
    std::string id;
    try {
      FSink.Status(QStringLiteral("正在查询..."));
      // The name's own bytes: a latin1 column's collation would take other names for it. Of
      // twins of one name the one not deleted gets the gift.
      Open(lookup, CharacterByNameSql("ID", Encode(name), LiteralStyle()));
      FSink.Status(QStringLiteral("准备就绪..."));
      if (!lookup.IsEmpty()) id = lookup.FieldByName("ID")->AsString();
      lookup.Close();
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      if (writer.Flush()) Failure(QStringLiteral("查询角色数据库失败！\n\r"), e);
      return writer.Result(TSendOutcome::Failed);
    }
    if (id.empty()) {
      if (!writer.Flush()) return writer.Result(TSendOutcome::Failed);
      if (FSink.Ask(QStringLiteral("角色 ") + name + QStringLiteral("不存在，是否继续？"))) continue;
      return writer.Result(TSendOutcome::Failed);
    }
    if (!IssueGift(request, amount, id, name, items, writer)) return writer.Result(TSendOutcome::Failed);
  }
  if (!writer.Flush()) return writer.Result(TSendOutcome::Failed);
  FSink.Message(
      QStringLiteral("所有操作已完成！\r\n操作角色 ") + QString::number(count) + QStringLiteral("个"),
      CaptionHint, TMsgIcon::Information);
  return writer.Result(TSendOutcome::Done);
}

bool TItemSell::ResolveItems(const TSendRequest& request, TItemGifts& items) {
  TMyQuery lookup;
  lookup.SetCommandTimeout(kReadTimeoutSeconds);
  for (const QString& line : request.ItemLines) {
    if (line.trimmed().isEmpty()) continue;
    const std::vector<std::string> parts = SplitByComma(line.toStdString());
    auto part = [&parts](size_t i) {
      return i < parts.size() ? QString::fromStdString(parts[i]) : QString();
    };
    const QString name = part(0);
    std::optional<std::string> number;
    try {
      Open(lookup, "select itemdbidx from `t_itemname` where " +
                       SameBytesCondition("itemname", Encode(name), LiteralStyle()));
      if (!lookup.IsEmpty()) number = lookup.Fields()[0]->AsString();
      lookup.Close();
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      Failure(QStringLiteral("查询装备数据库t_itemname失败！\n\r"), e);
      return false;
    }
    if (!number) {
      if (FSink.Ask(QStringLiteral("装备 ") + name + QStringLiteral("不存在，是否继续？"))) continue;
      return false;
    }
    items.Attributes.push_back(
        ItemAttribute(*number, ColourCode(part(1)), LevelCode(part(2)), BindFlag(part(3))));
  }
  items.Resolved = true;
  return true;
}

bool TItemSell::IssueGift(const TSendRequest& request, const std::string& amount, const std::string& id,
                          const QString& name, TItemGifts& items, TRowWriter& writer) {
  if (request.Kind != TGiftKind::Item) {
    writer.Add(id, static_cast<int>(request.Kind), amount);
    return writer.CharacterDone(id, name);
  }
  // The item numbers are looked up once a send, at its first character; an item the game master
  // chose to skip stays skipped for every character.
  if (!items.Resolved && (!writer.Flush() || !ResolveItems(request, items))) return false;
  for (const std::string& attribute : items.Attributes)
    writer.Add(id, static_cast<int>(TGiftKind::Item), attribute);
  return writer.CharacterDone(id, name);
}
