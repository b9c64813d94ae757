// The character and warehouse browsers' statement texts, search conditions and the online
// rule, free of widgets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "console/browsers/BrowserPaging.h"

// The search edits' initial texts (UTF-8); searching for them is searching for nothing.
inline constexpr char kCharSearchHint[] = "请输入角色或帐号";
inline constexpr char kBankSearchHint[] = "请输入角色名或帐号";

class TCharTexts : public TBrowserTexts {
 public:
  TCharTexts();
};

// The warehouse reads the owner's name from the account database; only its search keeps a
// condition, its paging and sort read the whole table.
class TBankTexts : public TBrowserTexts {
 public:
  // accountDb: the account database's name (connection bytes), quoted here.
  TBankTexts(std::string_view accountDb, TCharsetKind charset);
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
