// The client API over our own protocol code: a session handle is a TMySqlSession, a statement
// handle a TMySqlStmt, a result handle the rows of one reply (or, from mysql_stmt_result_metadata,
// a statement's field descriptions). No client library is needed.
//
// Calls of the client library that have no direct counterpart (mysql_fetch_field_direct,
// mysql_fetch_lengths, mysql_character_set_name, mysql_server_init/end, mysql_stmt_execute,
// mysql_stmt_bind_param/result, mysql_stmt_fetch, mysql_stmt_fetch_column,
// mysql_stmt_send_long_data, mysql_stmt_param_metadata) raise NotSupportedException; the helpers
// (GetFieldInfo, GetLengths, StmtExecute, StmtBindResults, StmtFetchRow...) stand for them.
//
// Texts arrive as the bytes to send, so no call converts them into a shared buffer: the one
// instance keeps no state per call, and no lock is held while a connection sends or waits (a
// stalled server would otherwise hold up every other connection's commands).
//
// A nil handle fails an assertion. Handles of a closed session stay valid until freed: a
// statement or result of a session that mysql_close freed reports 2006 from then on.
#pragma once

#include "mysql/MySqlApi.h"
#include "mysql/MySqlVio.h"

class TMySQLAPIDirect : public TMySQLAPI {
 public:
  // The version text every direct client reports.
  static constexpr const char* ClientInfo = "4.1.3 Direct";

  TMySQLAPIDirect();
  ~TMySQLAPIDirect() override;

  uint32_t mysql_num_fields(PMYSQL_RES res) override;
  uint32_t mysql_field_count(PMYSQL_CON mysql) override;
  uint64_t mysql_affected_rows(PMYSQL_CON mysql) override;
  uint64_t mysql_insert_id(PMYSQL_CON mysql) override;
  uint32_t mysql_errno(PMYSQL_CON mysql) override;
  std::string mysql_error(PMYSQL_CON mysql) override;
  std::string mysql_info(PMYSQL_CON mysql) override;
  std::string TrackedCharset(PMYSQL_CON mysql) override;
  std::string TrackedSchema(PMYSQL_CON mysql) override;
  bool NoBackslashEscapes(PMYSQL_CON mysql) override;
  bool SchemaChanges(PMYSQL_CON mysql, uint64_t& count) override;
  uint32_t mysql_thread_id(PMYSQL_CON mysql) override;
  PMYSQL_CON mysql_init(PMYSQL_CON mysql) override;
  // Protocol SSL (TLS over TCP) with these files and cipher list for the next connect.
  int mysql_ssl_set(PMYSQL_CON mysql, const std::string& key, const std::string& cert, const std::string& ca,
                    const std::string& caPath, const std::string& cipher) override;
  PMYSQL_CON mysql_real_connect(PMYSQL_CON mysql, const std::string& host, const std::string& user,
                                const std::string& password, const std::string& db, uint32_t port,
                                const std::string& unixSocket, uint32_t clientFlags) override;
  void mysql_close(PMYSQL_CON mysql) override;
  int mysql_select_db(PMYSQL_CON mysql, const std::string& db) override;
  int mysql_real_query(PMYSQL_CON mysql, std::string_view query) override;
  int QueryWhileWaiting(PMYSQL_CON mysql, std::string_view query,
                        const std::function<void()>& whileWaiting) override;
  int mysql_kill(PMYSQL_CON mysql, uint32_t pid) override;
  int mysql_ping(PMYSQL_CON mysql) override;
  int mysql_reset_connection(PMYSQL_CON mysql) override;
  std::string mysql_get_server_info(PMYSQL_CON mysql) override;
  std::string mysql_get_client_info() override;
  std::string mysql_get_host_info(PMYSQL_CON mysql) override;
  // Errors: 2014 with the detail "mysql.status = " and the pending state when the reply's rows
  // were taken already or another command's rows are being read.
  PMYSQL_RES mysql_use_result(PMYSQL_CON mysql) override;
  // MYSQL_OPT_CONNECT_TIMEOUT, MYSQL_OPT_NAMED_PIPE, MYSQL_OPT_PROTOCOL, MYSQL_OPT_READ_TIMEOUT and
  // MYSQL_OPT_WRITE_TIMEOUT (both the command time-out); others are ignored. Returns 0.
  int mysql_options(PMYSQL_CON mysql, int option, uint32_t value) override;
  // Reads what is left of the rows (errors kept in the session) and frees the handle.
  void mysql_free_result(PMYSQL_RES res) override;
  PMYSQL_ROW mysql_fetch_row(PMYSQL_RES res) override;
  PMYSQL_STMT mysql_stmt_init(PMYSQL_CON mysql) override;
  int mysql_stmt_prepare(PMYSQL_STMT stmt, std::string_view query) override;
  uint32_t mysql_stmt_param_count(PMYSQL_STMT stmt) override;
  uint32_t mysql_stmt_field_count(PMYSQL_STMT stmt) override;
  bool mysql_stmt_close(PMYSQL_STMT stmt) override;
  bool mysql_stmt_free_result(PMYSQL_STMT stmt) override;
  uint32_t mysql_stmt_errno(PMYSQL_STMT stmt) override;
  std::string mysql_stmt_error(PMYSQL_STMT stmt) override;
  PMYSQL_RES mysql_stmt_result_metadata(PMYSQL_STMT stmt) override;
  uint64_t mysql_stmt_affected_rows(PMYSQL_STMT stmt) override;
  bool mysql_more_results(PMYSQL_CON mysql) override;
  // Errors: 2014 with the "mysql.status = " detail while rows of the current result are unread.
  int mysql_next_result(PMYSQL_CON mysql) override;

  // Client level 0 and the version ClientInfo.
  void Initialize() override;

  void GetFieldInfo(PMYSQL_RES res, uint32_t index, TMySqlFieldRecord& field, bool unicode) override;
  void GetLengths(PMYSQL_RES res, std::vector<uint32_t>& lengths) override;
  bool FieldIsNull(PMYSQL_ROW row, uint32_t index) override;
  const uint8_t* GetFieldPtr(PMYSQL_RES res, PMYSQL_ROW row, uint32_t index) override;
  // The result's own column binds over the row's bytes (scratch is not used).
  std::span<const TMySqlBind> GetRowColumns(PMYSQL_RES res, PMYSQL_ROW row, std::vector<TMySqlBind>& scratch,
                                            const uint8_t*& base) override;
  void CopyFieldValueAt(PMYSQL_ROW row, uint32_t index, uint32_t offset, uint32_t length,
                        void* dest) override;
  // The row's bytes, with the column's offset in them.
  const uint8_t* GetFieldBuf(PMYSQL_ROW row, uint32_t index, uint32_t& position) override;
  std::string GetFieldStr(PMYSQL_ROW row, uint32_t index) override;

  int StmtExecute(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) override;
  int StmtBindParams(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) override;
  // Executes with the values StmtBindParams bound.
  int mysql_stmt_execute(PMYSQL_STMT stmt) override;
  int StmtBindResults(PMYSQL_STMT stmt) override;
  int StmtFetchRow(PMYSQL_STMT stmt) override;
  void StmtGetLengths(PMYSQL_STMT stmt, std::vector<uint32_t>& lengths) override;
  const uint8_t* StmtGetColumnPtr(PMYSQL_STMT stmt, uint32_t index) override;
  std::span<const TMySqlBind> StmtGetRowColumns(PMYSQL_STMT stmt, std::vector<TMySqlBind>& scratch,
                                                const uint8_t*& base) override;

  // A user transport for the session's next mysql_real_connect (not owned).
  void SetIOHandler(PMYSQL_CON mysql, TMyIOHandler* handler);
};

// The process-wide instance, made on first use and freed at exit.
TMySQLAPIDirect& MyAPIDirect();
