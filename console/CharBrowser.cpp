#include "console/CharBrowser.h"

namespace {

std::string Limit(int64_t offset, int pageSize) {
  return std::to_string(offset) + "," + std::to_string(pageSize);
}

}  // namespace

std::string TCharTexts::CreatePage(int pageSize) const {
  return "Select  * from  user  LIMIT 0," + std::to_string(pageSize);
}
std::string TCharTexts::CreateCount() const {
  return "Select count(*) count  from user";
}
std::string TCharTexts::SizePage(const std::string& where, int pageSize) const {
  return "Select * from user  " + where + "  LIMIT 0," + std::to_string(pageSize);
}
std::string TCharTexts::SizeCount(const std::string& where) const {
  return "Select count(*) count  from user   " + where;
}
std::string TCharTexts::PreviousPage(const std::string& where, int64_t offset, int pageSize) const {
  return "select  *  from user " + where + " Limit " + Limit(offset, pageSize);
}
std::string TCharTexts::NextPage(const std::string& where, int64_t offset, int pageSize) const {
  return "select * from user  " + where + " Limit " + Limit(offset, pageSize);
}
std::string TCharTexts::Sort(const std::string& where, const std::string& quotedField) const {
  return "select   *   from   user   " + where + "   order   by   " + quotedField;
}
std::string TCharTexts::SearchPage(const std::string& where, bool) const {
  return "Select * from user " + where;
}
std::string TCharTexts::SearchCount(const std::string& where) const {
  return "Select count(*) count from user  " + where;
}
std::string TCharTexts::TotalLabel(int64_t total) const {
  return "共有记录" + std::to_string(total) + "条";
}
std::string TCharTexts::SearchLabel(int64_t total) const {
  return "当前查询共有记录" + std::to_string(total) + "条";
}

TBankTexts::TBankTexts(std::string_view accountDb, TCharsetKind charset)
    : FColumns("(select username  from " + QuotedColumn(accountDb, charset) +
               ".`user` where  idx=t_bank.AccountID) as AccountID1,AccountID,Items,BankMoney,Password") {}

std::string TBankTexts::CreatePage(int pageSize) const {
  return "Select " + FColumns + " from t_bank as t_bank LIMIT 0," + std::to_string(pageSize);
}
std::string TBankTexts::CreateCount() const {
  return "Select count(*) count  from t_bank";
}
std::string TBankTexts::SizePage(const std::string&, int pageSize) const {
  return "Select  " + FColumns + "  from t_bank  LIMIT 0," + std::to_string(pageSize);
}
std::string TBankTexts::SizeCount(const std::string&) const {
  return "Select count(*) count  from t_bank";
}
std::string TBankTexts::PreviousPage(const std::string&, int64_t offset, int pageSize) const {
  return "select  " + FColumns + "  FROM t_bank Limit " + Limit(offset, pageSize);
}
std::string TBankTexts::NextPage(const std::string&, int64_t offset, int pageSize) const {
  return "select  " + FColumns + "  FROM t_bank Limit " + Limit(offset, pageSize);
}
std::string TBankTexts::Sort(const std::string&, const std::string& quotedField) const {
  return "select    " + FColumns + "   from   t_bank as t_bank order   by   " + quotedField;
}
std::string TBankTexts::SearchPage(const std::string& where, bool byAccount) const {
  return (byAccount ? "Select " : "Select  ") + FColumns + "  from  t_bank as t_bank " + where;
}
std::string TBankTexts::SearchCount(const std::string& where) const {
  return "Select count(*) count  from t_bank " + where;
}
std::string TBankTexts::TotalLabel(int64_t total) const {
  return "共 " + std::to_string(total) + "条记录 ";
}
std::string TBankTexts::SearchLabel(int64_t total) const {
  return "共 " + std::to_string(total) + "条记录 ";
}

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
