// The character and warehouse browsers' statement texts, search conditions and the online
// rule, free of widgets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "console/BrowserPaging.h"

// The search edits' initial texts (UTF-8); searching for them is searching for nothing.
inline constexpr char kCharSearchHint[] = "请输入角色或帐号";
inline constexpr char kBankSearchHint[] = "请输入角色名或帐号";

class TCharTexts : public TBrowserTexts {
 public:
  std::string CreatePage(int pageSize) const override;
  std::string CreateCount() const override;
  std::string SizePage(const std::string& where, int pageSize) const override;
  std::string SizeCount(const std::string& where) const override;
  std::string PreviousPage(const std::string& where, int64_t offset, int pageSize) const override;
  std::string NextPage(const std::string& where, int64_t offset, int pageSize) const override;
  std::string Sort(const std::string& where, const std::string& quotedField) const override;
  std::string SearchPage(const std::string& where, bool byAccount) const override;
  std::string SearchCount(const std::string& where) const override;
  std::string TotalLabel(int64_t total) const override;
  std::string SearchLabel(int64_t total) const override;
};

// The warehouse reads the owner's name from the account database; only its search keeps a
// condition, its paging and sort read the whole table.
class TBankTexts : public TBrowserTexts {
 public:
  // accountDb: the account database's name (connection bytes), quoted here.
  TBankTexts(std::string_view accountDb, TCharsetKind charset);
  const std::string& Columns() const noexcept { return FColumns; }

  std::string CreatePage(int pageSize) const override;
  std::string CreateCount() const override;
  std::string SizePage(const std::string& where, int pageSize) const override;
  std::string SizeCount(const std::string& where) const override;
  std::string PreviousPage(const std::string& where, int64_t offset, int pageSize) const override;
  std::string NextPage(const std::string& where, int64_t offset, int pageSize) const override;
  std::string Sort(const std::string& where, const std::string& quotedField) const override;
  std::string SearchPage(const std::string& where, bool byAccount) const override;
  std::string SearchCount(const std::string& where) const override;
  std::string TotalLabel(int64_t total) const override;
  std::string SearchLabel(int64_t total) const override;

 private:
  std::string FColumns;
};

// A name compared as typed (no wildcard of the user's), in the stored bytes: the condition after
// "where " for column (an ASCII name).
std::string NameIs(std::string_view column, std::string_view text, TLiteralStyle style);

// " where Name like <pattern>", fuzzy or exact.
std::string CharNameWhere(std::string_view text, TLiteralStyle style, bool fuzzy);
// The condition on an owning account's idx (as read from its row: digits only).
std::string AccountIdWhere(int64_t accountId);

enum class TOnlineState { Online, Offline, NoLog };

// From the times of the last login and the last logout (empty: none): a login not earlier than
// the last logout, or without any, is online; no login at all is not; NoLog only when neither is
// logged.
TOnlineState OnlineStateOf(std::optional<double> lastLogin, std::optional<double> lastLogout);
