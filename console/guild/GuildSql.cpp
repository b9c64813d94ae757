#include "console/guild/GuildSql.h"

#include "console/browsers/BrowserPaging.h"

std::string GuildListSql() {
  return "select * from t_union";
}

std::string GuildSearchSql(std::string_view text, TLiteralStyle style) {
  return "select * from t_union where name like " + LikeLiteral(text, style, true);
}

std::string GuildMembersSql(std::string_view unionId, TLiteralStyle style) {
  return "select * from t_union_citizen where UnionID = " + SqlLiteral(unionId, style);
}

std::string MemberSearchSql(std::string_view text, TLiteralStyle style) {
  return "select * from t_union_citizen where name like " + LikeLiteral(text, style, true);
}

std::vector<std::string> DissolveGuildSql(std::string_view unionId, TLiteralStyle style) {
  const std::string id = SqlLiteral(unionId, style);
  return {"delete from t_union_citizen where UnionID = " + id, "delete from t_union where ID = " + id};
}
