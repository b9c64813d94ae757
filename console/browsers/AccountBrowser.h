// The account browser's statement texts and its search condition, free of widgets.
#pragma once

#include <string>
#include <string_view>

#include "console/browsers/BrowserPaging.h"

// The search edit's initial text (UTF-8); searching for it is searching for nothing.
inline constexpr char kAccountSearchHint[] = "请输入帐号或权限数字";

class TAccountTexts : public TBrowserTexts {
 public:
  TAccountTexts();
};

struct TAccountSearch {
  std::string Text;  // as typed, in the connection's bytes
  bool ByPrivilege = false;
  bool Fuzzy = true;
};

// True for the text a privilege search accepts: decimal digits only (at most 10, the width of
// the column's values), so nothing else is ever compared with the number.
bool IsPrivilegeText(std::string_view text);

// The condition of a search: " where user_priv=<literal>" by privilege, otherwise
// " where username like <pattern literal>" (wrapped in "%" when fuzzy; see LikeCondition).
std::string AccountSearchWhere(const TAccountSearch& search, TLiteralStyle style);
// The condition on one account's idx (as read from a row: digits only).
std::string AccountIdxWhere(int64_t idx);
