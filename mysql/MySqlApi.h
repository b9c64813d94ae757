// The client API: the one interface through which the MySQL provider reaches a server. One
// virtual operation per client-library call, plus helpers that hide how a variant represents
// field descriptions, rows and statement binds. Variants: TMySQLAPIDirect (our own protocol code)
// and the client-library and embedded-server variants, which load a library at run time.
//
// Error convention of every variant: operations that talk to the server never raise for a MySQL
// error. They return 0 on success, or the error number with number and text kept in the handle
// (mysql_errno / mysql_error, mysql_stmt_errno / mysql_stmt_error); operations returning a handle
// return nil instead. Other exceptions (conversion errors of parameter values, assertion failures,
// a local file that cannot be opened) pass to the caller.
//
// One instance of each variant serves every connection of the process, from any thread; each
// handle is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mysql/MySqlStmt.h"
#include "platform/runtime/SyncObjs.h"

// Handles the API hands out and takes back. Each variant knows what lies behind them; callers
// only pass them on.
struct TMySqlConHandle;
struct TMySqlResHandle;
struct TMySqlStmtHandle;
struct TMySqlRowHandle;
struct TMySqlFieldHandle;
struct TMySqlBindHandle;
using PMYSQL_CON = TMySqlConHandle*;
using PMYSQL_RES = TMySqlResHandle*;
using PMYSQL_STMT = TMySqlStmtHandle*;
using PMYSQL_ROW = TMySqlRowHandle*;
using PMYSQL_FIELD = TMySqlFieldHandle*;
using PMYSQL_BIND = TMySqlBindHandle*;

// Options of mysql_options.
enum : int {
  MYSQL_OPT_CONNECT_TIMEOUT = 0,
  MYSQL_OPT_NAMED_PIPE = 2,
  MYSQL_OPT_PROTOCOL = 9,
  MYSQL_OPT_READ_TIMEOUT = 11,
  MYSQL_OPT_WRITE_TIMEOUT = 12,
};

// Client levels: which client the variant is.
enum : uint8_t {
  MYSQL_CLIENT_DIRECT = 0,
  MYSQL_CLIENT_3 = 1,    // client library 3.x
  MYSQL_CLIENT_40 = 2,   // 4.0
  MYSQL_CLIENT_410 = 3,  // 4.1.0
  MYSQL_CLIENT_411 = 4,  // 4.1.1 and later, 5.x
};

// A column as GetFieldInfo describes it, whatever the variant.
struct TMySqlFieldRecord {
  std::string Name, OrgName, Table, OrgTable, Database;
  uint32_t Flags = 0;
  uint8_t Type = 0;
  uint32_t Length = 0;  // at most 65535
  uint32_t Decimals = 0;
  uint16_t CharsetNr = 0;  // 63: binary (bytes, not text)
};

class TMySQLAPI {
 public:
  TMySQLAPI() = default;
  virtual ~TMySQLAPI();
  TMySQLAPI(const TMySQLAPI&) = delete;
  TMySQLAPI& operator=(const TMySQLAPI&) = delete;

  // ---- client-library calls ----------------------------------------------------------------
  // Arguments and results as the client library documents them; texts are the bytes sent
  // (ANSI, or UTF-8 on a Unicode connection). This base class raises NotSupportedException,
  // naming the call, for each.
  virtual uint32_t mysql_num_fields(PMYSQL_RES res);
  virtual PMYSQL_FIELD mysql_fetch_field_direct(PMYSQL_RES res, uint32_t fieldNr);
  virtual uint32_t mysql_field_count(PMYSQL_CON mysql);
  virtual uint64_t mysql_affected_rows(PMYSQL_CON mysql);  // ~0 (-1) when unknown
  virtual uint64_t mysql_insert_id(PMYSQL_CON mysql);
  virtual uint32_t mysql_errno(PMYSQL_CON mysql);
  virtual std::string mysql_error(PMYSQL_CON mysql);
  virtual std::string mysql_info(PMYSQL_CON mysql);
  virtual uint32_t mysql_thread_id(PMYSQL_CON mysql);
  virtual std::string mysql_character_set_name(PMYSQL_CON mysql);
  // The session's character_set_client as the server last reported it through session-state
  // tracking; empty while none was reported since the login (or the variant cannot tell).
  virtual std::string TrackedCharset(PMYSQL_CON) { return {}; }
  // The session's default database as the server last reported it through session-state
  // tracking; empty while none was reported since the login (or the variant cannot tell).
  virtual std::string TrackedSchema(PMYSQL_CON) { return {}; }
  // The server's last reply said the session's sql_mode has NO_BACKSLASH_ESCAPES: a backslash in
  // a string literal is a plain character. False when the variant cannot tell.
  virtual bool NoBackslashEscapes(PMYSQL_CON) { return false; }
  // How many times the server reported a change of the session's default database through
  // session-state tracking (a count that only grows); false when the session does not track (the
  // variant cannot tell, or the server does not offer it).
  virtual bool SchemaChanges(PMYSQL_CON, uint64_t& /*count*/) { return false; }
  // A new session handle (the argument is nil).
  virtual PMYSQL_CON mysql_init(PMYSQL_CON mysql);
  virtual int mysql_ssl_set(PMYSQL_CON mysql, const std::string& key, const std::string& cert,
                            const std::string& ca, const std::string& caPath, const std::string& cipher);
  // The handle on success; nil with the error kept in it on failure (the handle stays valid and is
  // freed by mysql_close).
  virtual PMYSQL_CON mysql_real_connect(PMYSQL_CON mysql, const std::string& host, const std::string& user,
                                        const std::string& password, const std::string& db, uint32_t port,
                                        const std::string& unixSocket, uint32_t clientFlags);
  // Closes the connection and frees the handle. Statements and results of the connection stay
  // to be freed, and then only report 2006.
  virtual void mysql_close(PMYSQL_CON mysql);
  virtual int mysql_select_db(PMYSQL_CON mysql, const std::string& db);
  virtual int mysql_real_query(PMYSQL_CON mysql, std::string_view query);
  // mysql_real_query that calls whileWaiting (which must not throw) once the text is sent and
  // before the reply is read, so that the caller's own work overlaps the server's. An API that
  // cannot tell the two apart runs the query alone and never calls it.
  virtual int QueryWhileWaiting(PMYSQL_CON mysql, std::string_view query,
                                const std::function<void()>& whileWaiting);
  virtual int mysql_kill(PMYSQL_CON mysql, uint32_t pid);
  virtual int mysql_ping(PMYSQL_CON mysql);
  // Gives the session the state of a new one (servers from MariaDB 10.2 and MySQL 5.7 on); 0 when done.
  virtual int mysql_reset_connection(PMYSQL_CON mysql);
  virtual std::string mysql_get_server_info(PMYSQL_CON mysql);
  virtual std::string mysql_get_client_info();
  virtual std::string mysql_get_host_info(PMYSQL_CON mysql);
  // The rows of the last reply, read one at a time; nil when the reply has none, or on error.
  virtual PMYSQL_RES mysql_use_result(PMYSQL_CON mysql);
  virtual int mysql_options(PMYSQL_CON mysql, int option, uint32_t value);
  virtual void mysql_free_result(PMYSQL_RES res);
  // The next row, valid until the next fetch; nil at the end or on error (the error is kept in the
  // session).
  virtual PMYSQL_ROW mysql_fetch_row(PMYSQL_RES res);
  virtual const unsigned long* mysql_fetch_lengths(PMYSQL_RES res);
  virtual int mysql_server_init(int argc, char** argv, char** groups);
  virtual void mysql_server_end();
  virtual PMYSQL_STMT mysql_stmt_init(PMYSQL_CON mysql);
  virtual int mysql_stmt_prepare(PMYSQL_STMT stmt, std::string_view query);
  virtual int mysql_stmt_execute(PMYSQL_STMT stmt);
  virtual uint32_t mysql_stmt_param_count(PMYSQL_STMT stmt);
  virtual bool mysql_stmt_bind_param(PMYSQL_STMT stmt, PMYSQL_BIND bind);
  virtual bool mysql_stmt_bind_result(PMYSQL_STMT stmt, PMYSQL_BIND bind);
  virtual uint32_t mysql_stmt_field_count(PMYSQL_STMT stmt);
  // Frees the statement (closing it on the server when the connection allows).
  virtual bool mysql_stmt_close(PMYSQL_STMT stmt);
  virtual bool mysql_stmt_free_result(PMYSQL_STMT stmt);
  virtual uint32_t mysql_stmt_errno(PMYSQL_STMT stmt);
  virtual std::string mysql_stmt_error(PMYSQL_STMT stmt);
  virtual int mysql_stmt_fetch(PMYSQL_STMT stmt);
  virtual int mysql_stmt_fetch_column(PMYSQL_STMT stmt, PMYSQL_BIND bind, uint32_t column,
                                      unsigned long offset);
  virtual bool mysql_stmt_send_long_data(PMYSQL_STMT stmt, uint32_t paramNr, const char* data,
                                         unsigned long length);
  // The field descriptions of the statement's result as a result handle of its own, which the
  // caller frees with mysql_free_result; nil for a statement without result columns.
  virtual PMYSQL_RES mysql_stmt_result_metadata(PMYSQL_STMT stmt);
  virtual PMYSQL_RES mysql_stmt_param_metadata(PMYSQL_STMT stmt);
  virtual uint64_t mysql_stmt_affected_rows(PMYSQL_STMT stmt);
  virtual bool mysql_more_results(PMYSQL_CON mysql);
  // 0 when the next result was read, -1 when there is none, else the error number.
  virtual int mysql_next_result(PMYSQL_CON mysql);

  // ---- the library ---------------------------------------------------------------------------
  virtual bool Loaded() { return true; }
  virtual void Load() {}
  virtual void Unload() {}
  // Reads the client version (mysql_get_client_info) and sets the client level from it: major 3
  // gives 1; 4.0 gives 2; 4.1.0 gives 3; 4.1.1 and later and major 5 give 4. Any other major
  // raises Exception "Invalid client version".
  virtual void Initialize();

  // ---- results -----------------------------------------------------------------------------
  // Column index of the result (0-based; an index outside the columns fails an assertion).
  // `unicode`: the connection sends UTF-8, which widens text lengths of servers before 4.1.
  virtual void GetFieldInfo(PMYSQL_RES res, uint32_t index, TMySqlFieldRecord& field, bool unicode) = 0;
  virtual PMYSQL_ROW FetchRow(PMYSQL_RES res) { return mysql_fetch_row(res); }
  // The byte length of every column of the current row.
  virtual void GetLengths(PMYSQL_RES res, std::vector<uint32_t>& lengths);
  // Row accessors. The row is the one the last fetch of its result returned. A column index
  // outside the row fails an assertion in the variants that know the row's width.
  virtual bool FieldIsNull(PMYSQL_ROW row, uint32_t index);
  virtual const uint8_t* GetFieldPtr(PMYSQL_RES res, PMYSQL_ROW row, uint32_t index);
  // Copies length bytes of the column's value, from offset within it, to dest; nothing when
  // length is 0 or the column has no value. A range beyond the value fails an assertion where the
  // variant knows the value's length.
  virtual void CopyFieldValueAt(PMYSQL_ROW row, uint32_t index, uint32_t offset, uint32_t length, void* dest);
  void CopyFieldValue(PMYSQL_ROW row, uint32_t index, uint32_t length, void* dest) {
    CopyFieldValueAt(row, index, 0, length, dest);
  }
  // As CopyFieldValueAt, then a 0 byte after the copied bytes (dest holds length + 1 bytes).
  void CopyFieldStringAt(PMYSQL_ROW row, uint32_t index, uint32_t offset, uint32_t length, char* dest);
  void CopyFieldString(PMYSQL_ROW row, uint32_t index, uint32_t length, char* dest) {
    CopyFieldStringAt(row, index, 0, length, dest);
  }
  // Every column of the row just fetched, in one call rather than one per column: IsNull, Length,
  // and Position, the value's offset from `base`. The base class describes the row into `scratch`
  // from GetLengths and GetFieldPtr (base nil: Position is the value's address); a variant that
  // keeps its rows decoded hands out its own description. Valid until the next fetch.
  virtual std::span<const TMySqlBind> GetRowColumns(PMYSQL_RES res, PMYSQL_ROW row,
                                                    std::vector<TMySqlBind>& scratch, const uint8_t*& base);
  // The buffer holding the column and the column's position within it.
  virtual const uint8_t* GetFieldBuf(PMYSQL_ROW row, uint32_t index, uint32_t& position);
  virtual std::string GetFieldStr(PMYSQL_ROW row, uint32_t index);

  // ---- statements --------------------------------------------------------------------------
  // Binds and sends the parameters and executes; 0 or the error number (kept in the statement).
  // Conversion errors of the values pass to the caller, with nothing sent.
  virtual int StmtExecute(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) = 0;
  // Binds the parameter values for the statement's next mysql_stmt_execute, without executing;
  // 0 or the error number (kept in the statement: 2030 when the values are not one per parameter).
  // Conversion errors of the values pass to the caller, with nothing bound. This base class raises
  // NotSupportedException.
  virtual int StmtBindParams(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode);
  // Binds the statement's result columns for StmtFetchRow; 0 or the error number.
  virtual int StmtBindResults(PMYSQL_STMT stmt) = 0;
  // 0 for a row, MYSQL_NO_DATA at the end, else the error number.
  virtual int StmtFetchRow(PMYSQL_STMT stmt);
  // The byte length of every column of the statement's current row.
  virtual void StmtGetLengths(PMYSQL_STMT stmt, std::vector<uint32_t>& lengths);
  // The column's bytes in the current row (binary form); nil for NULL.
  virtual const uint8_t* StmtGetColumnPtr(PMYSQL_STMT stmt, uint32_t index);
  // Copies at most `length` bytes of column `index` of the current row, from `offset` within its
  // value (the binary form StmtGetColumnPtr gives), to dest; `copied` gets their count (0 for NULL
  // and from the end of the value on). 0 or the error number. A column index outside the row fails
  // an assertion. This base class reads StmtGetLengths and StmtGetColumnPtr.
  virtual int StmtFetchColumn(PMYSQL_STMT stmt, uint32_t index, uint32_t offset, void* dest, uint32_t length,
                              uint32_t& copied);
  // Every column of the statement's current row, as GetRowColumns (the base class from
  // StmtGetLengths and StmtGetColumnPtr).
  virtual std::span<const TMySqlBind> StmtGetRowColumns(PMYSQL_STMT stmt, std::vector<TMySqlBind>& scratch,
                                                        const uint8_t*& base);

  // Read and write time-out of the connection (seconds; 0 means one year), at the client levels
  // that have them (direct, 4.1 and later).
  void SetTimeout(PMYSQL_CON mysql, uint32_t seconds);

  // The client version text and level that Initialize set (safe to read from any thread).
  std::string ClientVersion() const;
  uint8_t ClientLevel() const;

 protected:
  [[noreturn]] static void NotSupported(const char* call);
  void SetClientVersion(std::string version, uint8_t level);

 private:
  mutable TCriticalSection FLock;  // guards the version, which Initialize may set at any time
  std::string FClientVersion;
  uint8_t FClientLevel = MYSQL_CLIENT_DIRECT;
};
