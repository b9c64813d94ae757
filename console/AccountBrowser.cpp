#include "console/AccountBrowser.h"

namespace {

std::string Limit(int64_t offset, int pageSize) {
  return std::to_string(offset) + "," + std::to_string(pageSize);
}

}  // namespace

std::string TAccountTexts::CreatePage(int pageSize) const {
  return "Select * from user  LIMIT 0," + std::to_string(pageSize);
}
std::string TAccountTexts::CreateCount() const {
  return "Select count(*) count  from user";
}
std::string TAccountTexts::SizePage(const std::string& where, int pageSize) const {
  return "Select  * from user  " + where + "  LIMIT 0," + std::to_string(pageSize);
}
std::string TAccountTexts::SizeCount(const std::string& where) const {
  return "Select count(*) count  from user" + where;
}
std::string TAccountTexts::PreviousPage(const std::string& where, int64_t offset, int pageSize) const {
  return "select * FROM user  " + where + "  Limit " + Limit(offset, pageSize);
}
std::string TAccountTexts::NextPage(const std::string& where, int64_t offset, int pageSize) const {
  return "select * FROM user  " + where + " Limit " + Limit(offset, pageSize);
}
std::string TAccountTexts::Sort(const std::string& where, const std::string& quotedField) const {
  return "select   *   from   user  " + where + "  order   by   " + quotedField;
}
std::string TAccountTexts::SearchPage(const std::string& where, bool byPrivilege) const {
  return (byPrivilege ? "Select * from user " : "Select * from user") + where;
}
std::string TAccountTexts::SearchCount(const std::string& where) const {
  return "Select count(*) count from user  " + where;
}
std::string TAccountTexts::TotalLabel(int64_t total) const {
  return "共有记录" + std::to_string(total) + "条";
}
std::string TAccountTexts::SearchLabel(int64_t total) const {
  return "当前查询共有记录" + std::to_string(total) + "条";
}

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
