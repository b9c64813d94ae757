#include "console/GuildSql.h"

#include "console/BrowserPaging.h"

std::string GuildListSql() {
  return "select * from t_union";
}

std::string GuildSearchSql(std::string_view text, TCharsetKind charset) {
  return "select * from t_union where name like " + LikeLiteral(text, charset, true);
}

std::string GuildMembersSql(std::string_view unionId, TCharsetKind charset) {
  return "select * from t_union_citizen where UnionID = " + SqlLiteral(unionId, charset);
}

std::string MemberSearchSql(std::string_view text, TCharsetKind charset) {
  return "select * from t_union_citizen where name like " + LikeLiteral(text, charset, true);
}

std::vector<std::string> DissolveGuildSql(std::string_view unionId, TCharsetKind charset) {
  const std::string id = SqlLiteral(unionId, charset);
  return {"delete from t_union_citizen where UnionID = " + id, "delete from t_union where ID = " + id};
}
