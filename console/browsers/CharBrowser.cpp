#include "console/browsers/CharBrowser.h"

namespace {

const TBrowserTemplates kCharTemplates = {
    .CreatePage = "Select  * from  user  LIMIT 0,{size}",
    .CreateCount = "Select count(*) count  from user",
    .SizePage = "Select * from user  {where}  LIMIT 0,{size}",
    .SizeCount = "Select count(*) count  from user   {where}",
    .PreviousPage = "select  *  from user {where} Limit {limit}",
    .NextPage = "select * from user  {where} Limit {limit}",
    .Sort = "select   *   from   user   {where}   order   by   {field}",
    .SearchPageTicked = "Select * from user {where}",
    .SearchPage = "Select * from user {where}",
    .SearchCount = "Select count(*) count from user  {where}",
    .FilterPage = nullptr,
    .FilterCount = nullptr,
    .TotalLabel = "共有记录{total}条",
    .SearchLabel = "当前查询共有记录{total}条",
};

// Paging and sorting leave the search's condition out.
const TBrowserTemplates kBankTemplates = {
    .CreatePage = "Select {columns} from t_bank as t_bank LIMIT 0,{size}",
    .CreateCount = "Select count(*) count  from t_bank",
    .SizePage = "Select  {columns}  from t_bank  LIMIT 0,{size}",
    .SizeCount = "Select count(*) count  from t_bank",
    .PreviousPage = "select  {columns}  FROM t_bank Limit {limit}",
    .NextPage = "select  {columns}  FROM t_bank Limit {limit}",
    .Sort = "select    {columns}   from   t_bank as t_bank order   by   {field}",
    .SearchPageTicked = "Select {columns}  from  t_bank as t_bank {where}",  // by account
    .SearchPage = "Select  {columns}  from  t_bank as t_bank {where}",
    .SearchCount = "Select count(*) count  from t_bank {where}",
    .FilterPage = nullptr,
    .FilterCount = nullptr,
    .TotalLabel = "共 {total}条记录 ",
    .SearchLabel = "共 {total}条记录 ",
};

}  // namespace

TCharTexts::TCharTexts() : TBrowserTexts(kCharTemplates) {}

TBankTexts::TBankTexts(std::string_view accountDb, TCharsetKind charset)
    : TBrowserTexts(
          kBankTemplates,
          "(select username  from " + QuotedColumn(accountDb, charset) +
              ".`user` where  idx=t_bank.AccountID) as AccountID1,AccountID,Items,BankMoney,Password") {}

std::string NameIs(std::string_view column, std::string_view text, TLiteralStyle style) {
  return LikeCondition(column, text, style, false);
}

std::string CharNameWhere(std::string_view text, TLiteralStyle style, bool fuzzy) {
  return " where " + LikeCondition("Name", text, style, fuzzy);
}

std::string AccountIdWhere(int64_t accountId) {
  return " where AccountID=" + std::to_string(accountId);
}

TOnlineState OnlineStateOf(std::optional<double> lastLogin, std::optional<double> lastLogout) {
  if (!lastLogin && !lastLogout) return TOnlineState::NoLog;
  if (!lastLogin) return TOnlineState::Offline;
  if (!lastLogout) return TOnlineState::Online;
  return *lastLogin >= *lastLogout ? TOnlineState::Online : TOnlineState::Offline;
}
