#include "console/browsers/LogBrowser.h"

#include <iterator>
#include <utility>

#include "platform/runtime/DateTimeUtils.h"

namespace {

const TBrowserTemplates kLogTemplates = {
    .CreatePage = "Select {columns} from t_log_user_history as a  LIMIT 0,{size}",
    .CreateCount = "Select count(*) count from t_log_user_history",
    .SizePage = "Select   {columns}  from t_log_user_history as a  {where}  LIMIT 0,{size}",
    .SizeCount = "Select count(*) count  from t_log_user_history   {where}",
    .PreviousPage = "select  {columns}  from t_log_user_history as a {where} Limit {limit}",
    .NextPage = "select  {columns}  from t_log_user_history as a  {where} Limit {limit}",
    .Sort = "select    {columns}    from  t_log_user_history as a {where}   order   by   {field}",
    .SearchPageTicked = "Select {columns} from  t_log_user_history as a  {where}",
    .SearchPage = "Select {columns} from  t_log_user_history as a  {where}",
    .SearchCount = "Select count(*) count from t_log_user_history  {where}",
    .FilterPage = "Select {columns} from t_log_user_history as a  {where}  LIMIT 0,{size}",
    .FilterCount = "Select count(*) count from t_log_user_history  {where}",
    .TotalLabel = "共有记录{total}条",
    .SearchLabel = "当前查询共有记录{total}条",
};

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

std::string LogTypeExpression() {
  return "Case when type='1' then '玩家交易' when type='7' then '系统检测' when type='8' then 'GM动作' when "
         "type='10' "
         "then '道具解密' when type='11' then '丢弃道具' when type='12' then '拾取道具' when type='13' then "
         "'玩家买入' when "
         "type='14' then '玩家卖出' when type='15' and longParam1='1' then '玩家登录' when type='15' and "
         "longParam1='2' "
         "then '玩家退出' when type='18' then '商店出售' when type='19' then '锻造道具' when type='25' then "
         "'道具领取' when "
         " type='26' then '创建角色' when type='36' and longParam1='1' then '发布拍卖' when type='36' and "
         "longParam1='3' "
         " then '拍卖卖出'  when type='36' and longParam1='4' then '竞拍成功' Else '未知动作' end as "
         "Type,strParam1,strParam2,strParam3,LogTime,userIP";
}

std::string LogFieldList(const std::string& quotedCharDb, const std::string& typeExpression) {
  return "OperateID,(select Name  from " + quotedCharDb + ".`user` where  ID=a.userID) as UserID," +
         typeExpression;
}

TLogTexts::TLogTexts(std::string fieldList) : TBrowserTexts(kLogTemplates, std::move(fieldList)) {}

bool IsLogTime(std::string_view text) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':')
    return false;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (!Digits(text, 0, 4, y) || !Digits(text, 5, 2, mo) || !Digits(text, 8, 2, d) ||
      !Digits(text, 11, 2, h) || !Digits(text, 14, 2, mi) || !Digits(text, 17, 2, s))
    return false;
  TDateTime value;
  return y >= 1 && TryEncodeDateTime(y, mo, d, h, mi, s, 0, value);
}

std::optional<TLogRefusal> CheckLogSearch(std::string_view name, std::string_view start, std::string_view end,
                                          std::string_view now) {
  if (name.empty()) return TLogRefusal{"搜索内容不能为空！", TLogBox::Hint};
  if (start.empty() || end.empty()) return TLogRefusal{"开始时间或结束时间不能为空！", TLogBox::Hint};
  if (!IsLogTime(start) || !IsLogTime(end))
    return TLogRefusal{"开始时间或结束时间格式不正确，请按yyyy-mm-dd hh:nn:ss输入！", TLogBox::Error};
  if (end < start) return TLogRefusal{"结束时间不能小于开始时间！", TLogBox::Warning};
  if (end >= now) return TLogRefusal{"结束时间不能大于或等于今天的时间！", TLogBox::Error};
  return std::nullopt;
}

std::optional<TLogRefusal> CheckLogCleanup(std::string_view date, std::string_view now) {
  if (date.empty()) return TLogRefusal{"清除时间不能设置为空！", TLogBox::Warning};
  if (!IsLogTime(date))
    return TLogRefusal{"清除时间格式不正确，请按yyyy-mm-dd hh:nn:ss输入！", TLogBox::Error};
  if (date >= now) return TLogRefusal{"时间不能大于或等于今天的时间！", TLogBox::Error};
  return std::nullopt;
}

std::string LogSearchWhere(int64_t characterId, std::string_view start, std::string_view end, int filter,
                           TLiteralStyle style) {
  constexpr int kFilters = static_cast<int>(std::size(kLogActionFilters));
  const char* condition = kLogActionFilters[filter >= 0 && filter < kFilters ? filter : 0].Condition;
  return "where userID=" + SqlLiteral(std::to_string(characterId), style) +
         " and LogTime >= " + SqlLiteral(start, style) + " and LogTime <= " + SqlLiteral(end, style) +
         condition;
}

std::string LogCleanupStatement(std::string_view date, TLiteralStyle style) {
  return "delete from t_log_user_history   where LogTime < " + SqlLiteral(date, style) + " ";
}
