// Helpers of the client-API tests against the test server: connections through the one direct
// API object, text queries, prepared statements and scratch databases.
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

inline TMySQLAPIDirect& Api() { return MyAPIDirect(); }

// A connection handle, closed at the end of its scope.
class TConn {
public:
  explicit TConn(const std::string& database = {}, const std::string& user = {}, const std::string& password = {}) {
    const auto& srv = TestServer::Info();
    FHandle = Api().mysql_init(nullptr);
    Api().mysql_options(FHandle, MYSQL_OPT_CONNECT_TIMEOUT, 10);
    Api().SetTimeout(FHandle, 60);
    FConnected = Api().mysql_real_connect(FHandle, srv.Host, user.empty() ? srv.NativeUser : user,
                                          user.empty() ? srv.NativePassword : password, database,
                                          static_cast<uint32_t>(srv.Port), {}, 0) != nullptr;
  }
  ~TConn() { Api().mysql_close(FHandle); }
  TConn(const TConn&) = delete;
  TConn& operator=(const TConn&) = delete;

  PMYSQL_CON Handle() const { return FHandle; }
  operator PMYSQL_CON() const { return FHandle; }
  bool Connected() const { return FConnected; }
  std::string Error() const { return Api().mysql_error(FHandle); }

private:
  PMYSQL_CON FHandle;
  bool FConnected;
};

// Runs sql and reads every row as text. A failure is a test failure naming the error.
inline TRowsText Query(PMYSQL_CON con, const std::string& sql) {
  TRowsText rows;
  if (Api().mysql_real_query(con, sql) != 0) {
    ADD_FAILURE() << sql << ": " << Api().mysql_errno(con) << " " << Api().mysql_error(con);
    return rows;
  }
  PMYSQL_RES res = Api().mysql_use_result(con);
  if (!res) return rows;
  const uint32_t count = Api().mysql_num_fields(res);
  while (PMYSQL_ROW row = Api().mysql_fetch_row(res)) {
    auto& out = rows.emplace_back();
    for (uint32_t i = 0; i < count; ++i)
      out.push_back(Api().FieldIsNull(row, i) ? TValue() : TValue(Api().GetFieldStr(row, i)));
  }
  EXPECT_EQ(Api().mysql_errno(con), 0u) << sql << ": " << Api().mysql_error(con);
  Api().mysql_free_result(res);
  return rows;
}

inline void Exec(PMYSQL_CON con, const std::string& sql) {
  const int rc = Api().mysql_real_query(con, sql);
  ASSERT_EQ(rc, 0) << sql << ": " << Api().mysql_error(con);
  if (PMYSQL_RES res = Api().mysql_use_result(con)) Api().mysql_free_result(res);
}

inline std::string Scalar(PMYSQL_CON con, const std::string& sql) {
  const TRowsText rows = Query(con, sql);
  return rows.empty() || rows[0].empty() || !rows[0][0] ? "<none>" : *rows[0][0];
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
      if (v.IsNull) d->SetNull(true);
      else d->SetValue(v.Value);
      Add(std::move(d));
    }
  }
};

// A statement handle, closed at the end of its scope.
class TStmt {
public:
  TStmt(PMYSQL_CON con, const std::string& sql) : FHandle(Api().mysql_stmt_init(con)) {
    EXPECT_EQ(Api().mysql_stmt_prepare(FHandle, sql), 0) << sql << ": " << Api().mysql_stmt_error(FHandle);
  }
  ~TStmt() { Api().mysql_stmt_close(FHandle); }
  TStmt(const TStmt&) = delete;
  TStmt& operator=(const TStmt&) = delete;
  operator PMYSQL_STMT() const { return FHandle; }

  int Execute(const std::vector<TMySqlStmtParam>& params, bool unicode = false) {
    return Api().StmtExecute(FHandle, TParams(params), unicode);
  }

private:
  PMYSQL_STMT FHandle;
};

}  // namespace api_test
