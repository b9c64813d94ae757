// The log browser's statement texts, its action filters and the checks of what the game master
// types (character, time span, cleanup date), free of widgets.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "console/browsers/BrowserPaging.h"

// The character edit's initial text (UTF-8).
inline constexpr char kLogNameHint[] = "角色名";

// The CASE that names each action type, with the columns after it (UTF-8).
std::string LogTypeExpression();
// The column list of every page statement: the character's name from the character database's
// `user`, the action's name, the log's own columns. quotedCharDb: the database name as
// QuotedColumn writes it; typeExpression: LogTypeExpression in the connection's bytes.
std::string LogFieldList(const std::string& quotedCharDb, const std::string& typeExpression);

class TLogTexts : public TBrowserTexts {
 public:
  // fieldList: LogFieldList's answer.
  explicit TLogTexts(std::string fieldList);
};

// The action filter's items (UTF-8) and the condition each adds to a search.
struct TLogActionFilter {
  const char* Item;
  const char* Condition;
};
inline constexpr TLogActionFilter kLogActionFilters[] = {
    {"全部内容", " "},
    {"创建角色", " and type='26' "},
    {"丢弃道具", " and type='11' "},
    {"拾取道具", " and type='12' "},
    {"玩家买入", " and type='13' "},
    {"玩家卖出", " and type='14' "},
    {"玩家登陆", " and type='15' and longParam1='1' "},
    {"玩家退出", " and type='15'  and longParam1='2' "},
    {"道具领取", " and type='25' "},
    {"拍卖记录", " and type='36' "},
};

// The quick filters' conditions: GM日志, 交易发起, 交易接收, 拍卖日志, 全部日志.
inline constexpr const char* kLogQuickFilters[] = {"where type='8' ", "where type='13' ", "where type='14' ",
                                                   "where type='36' ", " "};

// True for a date-time typed exactly as yyyy-mm-dd hh:nn:ss that names a real moment (year 1 to
// 9999); the only form a time is compared or quoted in.
bool IsLogTime(std::string_view text);

enum class TLogBox { Hint, Warning, Error };

// Why typed input is refused: the message box to show (UTF-8).
struct TLogRefusal {
  std::string Text;
  TLogBox Box = TLogBox::Hint;
};

// The search's checks in order (name, both times given, their form, end not before start, end
// before now). now: "yyyy-mm-dd hh:nn:ss".
std::optional<TLogRefusal> CheckLogSearch(std::string_view name, std::string_view start, std::string_view end,
                                          std::string_view now);
// The cleanup date's checks: given, in the one form, before now.
std::optional<TLogRefusal> CheckLogCleanup(std::string_view date, std::string_view now);

// The condition of a search for one character's log between two checked times; filter: the
// index of kLogActionFilters (out of range: all actions).
std::string LogSearchWhere(int64_t characterId, std::string_view start, std::string_view end, int filter,
                           TLiteralStyle style);
// The statement that deletes the rows logged before a checked date.
std::string LogCleanupStatement(std::string_view date, TLiteralStyle style);
