#include "console/browsers/AccountBrowser.h"

namespace {

const TBrowserTemplates kAccountTemplates = {
    .CreatePage = "Select * from user  LIMIT 0,{size}",
    .CreateCount = "Select count(*) count  from user",
    .SizePage = "Select  * from user  {where}  LIMIT 0,{size}",
    .SizeCount = "Select count(*) count  from user{where}",
    .PreviousPage = "select * FROM user  {where}  Limit {limit}",
    .NextPage = "select * FROM user  {where} Limit {limit}",
    .Sort = "select   *   from   user  {where}  order   by   {field}",
    .SearchPageTicked = "Select * from user {where}",  // by privilege
    .SearchPage = "Select * from user{where}",
    .SearchCount = "Select count(*) count from user  {where}",
    .FilterPage = nullptr,
    .FilterCount = nullptr,
    .TotalLabel = "共有记录{total}条",
    .SearchLabel = "当前查询共有记录{total}条",
};

}  // namespace

TAccountTexts::TAccountTexts() : TBrowserTexts(kAccountTemplates) {}

bool IsPrivilegeText(std::string_view text) {
  if (text.empty() || text.size() > 10) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string AccountIdxWhere(int64_t idx) {
  return " where idx=" + std::to_string(idx);
}

std::string AccountSearchWhere(const TAccountSearch& search, TLiteralStyle style) {
  if (search.ByPrivilege) return " where user_priv=" + SqlLiteral(search.Text, style);
  return " where " + LikeCondition("username", search.Text, style, search.Fuzzy);
}
