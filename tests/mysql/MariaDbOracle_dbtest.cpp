// Helper unit of the database tests (no tests of its own): see MariaDbOracle.h.
#include <mariadb/mysql.h>

#include "tests/mysql/MariaDbOracle.h"

TOracleValues MariaDbOracleValues(const std::string& host, int port, const std::string& user,
                                  const std::string& password, const std::string& database,
                                  const std::string& sql, bool compress, std::string& error) {
  MYSQL* m = mysql_init(nullptr);
  if (compress) mysql_options(m, MYSQL_OPT_COMPRESS, nullptr);
  TOracleValues values;
  if (!mysql_real_connect(m, host.c_str(), user.c_str(), password.c_str(), database.c_str(),
                          static_cast<unsigned>(port), nullptr, 0)) {
    error = mysql_error(m);
  } else if (mysql_real_query(m, sql.data(), sql.size()) != 0) {
    error = mysql_error(m);
  } else {
    MYSQL_RES* res = mysql_use_result(m);
    const unsigned n = mysql_num_fields(res);
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
      const unsigned long* len = mysql_fetch_lengths(res);
      for (unsigned i = 0; i < n; ++i)
        values.emplace_back(row[i] == nullptr, row[i] ? std::string(row[i], len[i]) : std::string());
    }
    if (mysql_errno(m)) error = mysql_error(m);
    mysql_free_result(res);
  }
  mysql_close(m);
  return values;
}
