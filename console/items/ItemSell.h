// The work of the item-issuing window without widgets: the item-name table (creation, import of
// the game's items.csv), the statement texts, the gift's attribute text, and the send engine that
// writes pending gifts into t_gift for named characters or for every character a filter finds.
// It reports through a sink (status texts, progress, questions, message boxes) and reads the
// stop request there once per character; the window is the sink, tests and the benchmark bring
// their own.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/browsers/BrowserPaging.h"
#include "console/items/ItemFile.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/widgets/FieldText.h"
#include "platform/widgets/UiService.h"

class TCustomMyConnection;
class TMyQuery;

// ---- texts and rules ----------------------------------------------------------------------------

// The creation text of t_itemname, one statement per entry (the drop, then the creation).
std::vector<std::string> ItemTableCreationSql();
// "白色" 0, "绿色" 1, "蓝色" 2, "金色" 3, else 0; "+0".."+10" give 0..10, else 0; "不绑定" 0, else 1.
int ColourCode(const QString& colour);
int LevelCode(const QString& level);
int BindFlag(const QString& bind);
// "ver=1;count=1;|id=<n>;color=<c>;lev=<l>;bind=<b>;|" (itemNumber: the server's bytes).
std::string ItemAttribute(std::string_view itemNumber, int colour, int level, int bind);
// "任务总完成：p%    ".
QString ProgressPanelText(int percent);
// Local date-time as YYYYMMDDHHmmss.
std::string GiftTime(TDateTime value);

// The all-characters filter of the window's combo box (index 0..6).
inline constexpr int kFilterCount = 7;
QString FilterItemText(int index);
// The hint beside the value edit, and what the edit starts with when the entry is chosen.
QString FilterHint(int index);
QString FilterInitialValue(int index);

// What a key typed into an amount or filter edit is refused with; nothing when it is taken.
// digitsOnly: the amount edits and filters 1-4; factionOnly: filter 5. caretAtStart: the caret
// stands before the first character.
enum class TKeyRule { None, Digits, Faction };
TKeyRule KeyRuleOfFilter(int index);
std::optional<QString> KeyRefusal(TKeyRule rule, QChar key, bool caretAtStart);

// The message of an items.csv that cannot be imported.
QString ItemFileProblemText(const TItemFile& file);

// ---- the engine ---------------------------------------------------------------------------------

class TItemSellSink {
 public:
  virtual ~TItemSellSink() = default;
  // Status panel 0.
  virtual void Status(const QString& text) = 0;
  // Status panel 0 and the percentage of the task (panel 1, the import's bar).
  virtual void Progress(const QString& text, int percent) = 0;
  // Lets the window repaint and its stop button act.
  virtual void ProcessMessages() = 0;
  // True once the game master confirmed the stop; read once per character.
  virtual bool StopRequested() = 0;
  // A yes/no question titled "提示"; true for yes.
  virtual bool Ask(const QString& text) = 0;
  virtual void Message(const QString& text, const QString& caption, TMsgIcon icon) = 0;
};

enum class TGiftKind { Item = 1, Gold = 2, Experience = 3, Credit = 4 };

struct TSendRequest {
  TGiftKind Kind = TGiftKind::Item;
  // The amount typed for gold, experience or credit.
  QString Amount;
  // The item list's lines: name, colour, level, bind joined by ",".
  QStringList ItemLines;
  bool AllCharacters = false;
  // All characters: the filter's index and the value typed.
  int Filter = 0;
  QString FilterValue;
  // Named characters: the list's lines.
  QStringList Names;
  // The moment the send button was pressed, and the expiry chosen.
  TDateTime Now = 0;
  TDateTime Expiry = 0;
};

enum class TSendOutcome {
  Refused,  // a check failed before anything was written (its message shown)
  Failed,   // a statement failed or the game master ended on a question; rows written stay and
            // the characters that have them are named in a message
  Stopped,  // the stop was confirmed; the characters reported have their rows, named as above
  Done,     // every character handled, the final message shown
};

struct TSendResult {
  TSendOutcome Outcome = TSendOutcome::Refused;
  // Characters whose gifts were written.
  int Characters = 0;
  int64_t Rows = 0;
};

class TItemSell {
 public:
  // con2: the login's character connection (not owned); charset: how its texts are encoded.
  TItemSell(TCustomMyConnection& con2, TFieldCharset charset, TItemSellSink& sink);
  ~TItemSell();
  TItemSell(const TItemSell&) = delete;
  TItemSell& operator=(const TItemSell&) = delete;

  // Rows a send writes with one statement (at least 1); progress and stop stay per character.
  int BatchSize() const noexcept { return FBatchSize; }
  void SetBatchSize(int rows) noexcept { FBatchSize = rows < 1 ? 1 : rows; }

  bool HasItemTable();
  // Drops and creates t_itemname; raises what the server raises.
  void CreateItemTable();
  // Replaces the item list with the file's rows, whole or not at all: the rows go into a table
  // of their own which then takes t_itemname's place. True when done (and reported); false
  // with the problem shown.
  bool ImportItems(const std::string& fileBytes);

  TSendResult Send(const TSendRequest& request);
  // Deletes the console's own pending gifts (ownOnly) or every pending gift; the rows deleted.
  int64_t ClearGifts(bool ownOnly);

  // How this connection's session reads the literals written for it.
  TLiteralStyle LiteralStyle() const { return FConnection.LiteralStyle(); }
  std::string Encode(const QString& text) const { return EncodeFieldText(text, FCharset); }
  QString Decode(std::string_view bytes) const { return DecodeFieldText(bytes, FCharset); }

 private:
  struct TItemGifts;
  class TRowWriter;
  bool CheckRequest(const TSendRequest& request, std::string& attribute);
  // The amount of a gold, experience or credit gift within what the character's column for it
  // holds; false with the refusal shown.
  bool AmountFits(const TSendRequest& request);
  std::optional<std::string> FilterWhere(const TSendRequest& request);
  TSendResult SendToAll(const TSendRequest& request, const std::string& amount, TRowWriter& writer);
  TSendResult SendToNamed(const TSendRequest& request, const std::string& amount, TRowWriter& writer);
  // Queues the gift rows of one character; false when the send must end (failure or no).
  bool IssueGift(const TSendRequest& request, const std::string& amount, const std::string& id,
                 const QString& name, TItemGifts& items, TRowWriter& writer);
  bool ResolveItems(const TSendRequest& request, TItemGifts& items);
  void Execute(const std::string& sql);
  // The message of the first warning (not note) the last statement left; nothing when none.
  std::optional<std::string> FirstWarning();
  // The first column of the statement's rows; Scalar raises when there is no row.
  std::vector<std::string> Column(const std::string& sql);
  std::string Scalar(const std::string& sql);
  void Open(TMyQuery& query, const std::string& sql);
  void Failure(const QString& text, const std::exception& e);

  TCustomMyConnection& FConnection;
  TFieldCharset FCharset;
  TItemSellSink& FSink;
  std::unique_ptr<TMyQuery> FQuery;
  std::unique_ptr<TMyQuery> FStatement;
  int FBatchSize = 500;
};
