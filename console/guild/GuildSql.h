// The statements of the guild windows, built from typed text and the current row's key with
// the literal writer, never by pasting text into SQL.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "console/browsers/BrowserPaging.h"

// The guild list: every guild; guilds whose name holds text (fuzzy, as the account search).
std::string GuildListSql();
std::string GuildSearchSql(std::string_view text, TLiteralStyle style);
// The member editor: one guild's members; members of every guild whose name holds text.
std::string GuildMembersSql(std::string_view unionId, TLiteralStyle style);
std::string MemberSearchSql(std::string_view text, TLiteralStyle style);
// Dissolving a guild: its members first, then the guild.
std::vector<std::string> DissolveGuildSql(std::string_view unionId, TLiteralStyle style);
