#include "support/MariaDbStmtRef.h"

#include <mariadb/mysql.h>

#include <cstring>

#include "platform/runtime/Exceptions.h"

TLibraryStmt::TLibraryStmt(const std::string& host, int port, const std::string& user,
                           const std::string& password, const std::string& database, const std::string& query)
    : FMysql(mysql_init(nullptr)) {
  MYSQL* m = static_cast<MYSQL*>(FMysql);
  if (!mysql_real_connect(m, host.c_str(), user.c_str(), password.c_str(), database.c_str(),
                          static_cast<unsigned>(port), nullptr, 0)) {
    const std::string error = mysql_error(m);
    mysql_close(m);
    throw Exception(error);
  }
  MYSQL_STMT* stmt = mysql_stmt_init(m);
  FStmt = stmt;
  if (mysql_stmt_prepare(stmt, query.data(), query.size()) != 0) {
    const std::string error = mysql_stmt_error(stmt);
    mysql_stmt_close(stmt);
    mysql_close(m);
    throw Exception(error);
  }
}

TLibraryStmt::~TLibraryStmt() {
  mysql_stmt_close(static_cast<MYSQL_STMT*>(FStmt));
  mysql_close(static_cast<MYSQL*>(FMysql));
}

uint64_t TLibraryStmt::ReadAll() {
  MYSQL_STMT* stmt = static_cast<MYSQL_STMT*>(FStmt);
  if (mysql_stmt_execute(stmt) != 0) throw Exception(mysql_stmt_error(stmt));
  int32_t id;
  int64_t big;
  double d;
  char s[64];
  MYSQL_TIME dt;
  unsigned long lengths[5] = {};
  MYSQL_BIND bind[5] = {};
  const enum_field_types types[5] = {MYSQL_TYPE_LONG, MYSQL_TYPE_LONGLONG, MYSQL_TYPE_DOUBLE,
                                     MYSQL_TYPE_STRING, MYSQL_TYPE_DATETIME};
  void* buffers[5] = {&id, &big, &d, s, &dt};
  const unsigned long sizes[5] = {4, 8, 8, sizeof s, sizeof dt};
  for (int i = 0; i < 5; ++i) {
    bind[i].buffer_type = types[i];
    bind[i].buffer = buffers[i];
    bind[i].buffer_length = sizes[i];
    bind[i].length = &lengths[i];
  }
  mysql_stmt_bind_result(stmt, bind);
  uint64_t check = 0;
  while (mysql_stmt_fetch(stmt) == 0)
    check += static_cast<uint8_t>(id) + static_cast<uint64_t>(big) + static_cast<uint64_t>(d) + lengths[3] +
             static_cast<uint8_t>(s[0]) + dt.year + dt.month + dt.day + dt.hour + dt.minute + dt.second;
  mysql_stmt_free_result(stmt);
  return check;
}
