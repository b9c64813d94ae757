// Helpers of the client-API tests against the test server: connections, text queries and prepared
// statements through an API object (the direct one unless named), and scratch databases.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mysql/MySqlApiDirect.h"
#include "support/TestServer.h"

namespace api_test {

using TValue = std::optional<std::string>;  // nullopt for NULL
using TRowsText = std::vector<std::vector<TValue>>;

inline TMySQLAPIDirect& Api() {
  return MyAPIDirect();
}

// A connection handle, closed at the end of its scope.
class TConn {
 public:
  explicit TConn(const std::string& database = {}, const std::string& user = {},
                 const std::string& password = {})
      : TConn(Api(), database, user, password) {}
  TConn(TMySQLAPI& api, const std::string& database, const std::string& user = {},
        const std::string& password = {})
      : FApi(api) {
    const auto& srv = TestServer::Info();
    FHandle = FApi.mysql_init(nullptr);
    FApi.mysql_options(FHandle, MYSQL_OPT_CONNECT_TIMEOUT, 10);
    FApi.SetTimeout(FHandle, 60);
    FConnected = FApi.mysql_real_connect(FHandle, srv.Host, user.empty() ? srv.NativeUser : user,
                                         user.empty() ? srv.NativePassword : password, database,
                                         static_cast<uint32_t>(srv.Port), {}, 0) != nullptr;
  }
  ~TConn() { FApi.mysql_close(FHandle); }
  TConn(const TConn&) = delete;
  TConn& operator=(const TConn&) = delete;

  PMYSQL_CON Handle() const { return FHandle; }
  operator PMYSQL_CON() const { return FHandle; }
  bool Connected() const { return FConnected; }
  std::string Error() const { return FApi.mysql_error(FHandle); }

 private:
  TMySQLAPI& FApi;
  PMYSQL_CON FHandle;
  bool FConnected;
};

// Runs sql and reads every row as text. A failure is a test failure naming the error.
inline TRowsText Query(TMySQLAPI& api, PMYSQL_CON con, const std::string& sql) {
  TRowsText rows;
  if (api.mysql_real_query(con, sql) != 0) {
    ADD_FAILURE() << sql << ": " << api.mysql_errno(con) << " " << api.mysql_error(con);
    return rows;
  }
  PMYSQL_RES res = api.mysql_use_result(con);
  if (!res) return rows;
  const uint32_t count = api.mysql_num_fields(res);
  while (PMYSQL_ROW row = api.mysql_fetch_row(res)) {
    auto& out = rows.emplace_back();
    for (uint32_t i = 0; i < count; ++i)
      out.push_back(api.FieldIsNull(row, i) ? TValue() : TValue(api.GetFieldStr(row, i)));
  }
  EXPECT_EQ(api.mysql_errno(con), 0u) << sql << ": " << api.mysql_error(con);
  api.mysql_free_result(res);
  return rows;
}
inline TRowsText Query(PMYSQL_CON con, const std::string& sql) {
  return Query(Api(), con, sql);
}

inline void Exec(TMySQLAPI& api, PMYSQL_CON con, const std::string& sql) {
  const int rc = api.mysql_real_query(con, sql);
  ASSERT_EQ(rc, 0) << sql << ": " << api.mysql_error(con);
  if (PMYSQL_RES res = api.mysql_use_result(con)) api.mysql_free_result(res);
}
inline void Exec(PMYSQL_CON con, const std::string& sql) {
  Exec(Api(), con, sql);
}

inline std::string Scalar(TMySQLAPI& api, PMYSQL_CON con, const std::string& sql) {
  const TRowsText rows = Query(api, con, sql);
  return rows.empty() || rows[0].empty() || !rows[0][0] ? "<none>" : *rows[0][0];
}
inline std::string Scalar(PMYSQL_CON con, const std::string& sql) {
  return Scalar(Api(), con, sql);
}

// A table with a column of every type, three rows: values at the types' limits, zero dates, NULLs.
// The long text outgrows any first buffer, and shorter values follow it.
inline void CreateEveryColumnType(PMYSQL_CON c) {
  Exec(c,
       "CREATE TABLE t (id INT, ti TINYINT, tu TINYINT UNSIGNED, si SMALLINT, su SMALLINT UNSIGNED, "
       "mi MEDIUMINT, mu MEDIUMINT UNSIGNED, i INT, iu INT UNSIGNED, bi BIGINT, bu BIGINT UNSIGNED, "
       "f FLOAT, d DOUBLE, dc DECIMAL(20,6), dt DATE, tm TIME, tm6 TIME(6), dtm DATETIME, dtm6 DATETIME(6), "
       "ts TIMESTAMP NULL, y YEAR, ch CHAR(5), vc VARCHAR(20), bn BINARY(4), vb VARBINARY(8), tb TINYBLOB, "
       "b BLOB, tt TINYTEXT, tx TEXT, lt LONGTEXT, e ENUM('x','y'), st SET('p','q'), bt BIT(10))");
  Exec(c,
       "INSERT INTO t VALUES (1, -128, 255, -32768, 65535, -8388608, 16777215, -2147483648, 4294967295, "
       "-9223372036854775808, 18446744073709551615, 3.14159, -2.718281828459045, -12345678901234.567891, "
       "'2024-02-29', '-838:59:59', '12:34:56.789012', '1999-12-31 23:59:59', '2000-01-01 00:00:00.000001', "
       "'2038-01-19 03:14:07', 2155, 'ab', 'varchar', 'bin', 'vb\\0x', 'tiny', 'blob', 'tt', 'text', "
       "REPEAT('long-', 20000), 'y', 'p,q', b'1010101010')");
  Exec(c,
       "INSERT INTO t (id, dt, dtm, tm, y, lt) VALUES (2, '0000-00-00', '0000-00-00 00:00:00', '00:00:00', "
       "0000, "
       "'short')");
  Exec(c, "INSERT INTO t (id) VALUES (3)");
}

// A database of its own for a test, dropped at the end.
class TScratchDb {
 public:
  TScratchDb() : FName("h10_" + std::to_string(::getpid()) + "_" + std::to_string(++Counter())) {
    TConn c;
    Exec(c, "CREATE DATABASE " + FName);
  }
  ~TScratchDb() {
    TConn c;
    if (c.Connected()) Api().mysql_real_query(c, "DROP DATABASE IF EXISTS " + FName);
  }
  const std::string& Name() const { return FName; }

 private:
  static std::atomic<int>& Counter() {
    static std::atomic<int> n{0};
    return n;
  }
  std::string FName;
};

inline TMySqlStmtParam P(TDataType type, Variant value, bool isNull = false) {
  TMySqlStmtParam p;
  p.DataType = type;
  p.Value = std::move(value);
  p.IsNull = isNull;
  return p;
}

// Parameter descriptions holding the values, as a command hands them to the API.
class TParams : public TParamDescs {
 public:
  TParams(const std::vector<TMySqlStmtParam>& values = {}) {
    for (const TMySqlStmtParam& v : values) {
      auto d = std::make_unique<TParamDesc>();
      d->SetDataType(v.DataType);
      d->SetParamType(v.ParamType);
      if (v.IsNull)
        d->SetNull(true);
      else
        d->SetValue(v.Value);
      Add(std::move(d));
    }
  }
};

// A statement handle, closed at the end of its scope.
class TStmt {
 public:
  TStmt(PMYSQL_CON con, const std::string& sql) : TStmt(Api(), con, sql) {}
  TStmt(TMySQLAPI& api, PMYSQL_CON con, const std::string& sql)
      : FApi(api), FHandle(api.mysql_stmt_init(con)) {
    EXPECT_EQ(FApi.mysql_stmt_prepare(FHandle, sql), 0) << sql << ": " << FApi.mysql_stmt_error(FHandle);
  }
  ~TStmt() { FApi.mysql_stmt_close(FHandle); }
  TStmt(const TStmt&) = delete;
  TStmt& operator=(const TStmt&) = delete;
  operator PMYSQL_STMT() const { return FHandle; }

  int Execute(const std::vector<TMySqlStmtParam>& params, bool unicode = false) {
    return FApi.StmtExecute(FHandle, TParams(params), unicode);
  }

 private:
  TMySQLAPI& FApi;
  PMYSQL_STMT FHandle;
};

}  // namespace api_test
