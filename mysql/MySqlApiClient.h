// The client API through the MySQL client library, loaded by name at run time (dlopen) rather
// than linked: libmariadb.so.3 by default. Handles are small objects of this variant around the
// library's own (MYSQL, MYSQL_RES, MYSQL_STMT); rows are the library's (one pointer per column).
//
// The variant is identified by the library it loads, not by the version text the library reports:
// the records are read in the layout of the installed library (MySqlLibRecords.h), which is the
// newest client level (4.1 and later).
//
// An entry point the library lacks is resolved as not linked: loading succeeds, and calling it
// raises Exception "MySQL API function is not linked. You should update MySQL client library
// (<library>)." with the entry point's name on a further line.
//
// Statements: StmtExecute, StmtBindResults, StmtFetchRow, StmtGetLengths and StmtGetColumnPtr work
// as in the direct variant, and a column reads in the binary protocol's form (integers and floats
// little-endian at their size, dates and times in their binary encoding, everything else its bytes),
// so the provider reads every variant alike.
//
// One instance serves every connection of the process; each handle is used by one thread at a
// time. Load, Unload and Initialize are serialised.
#pragma once

#include <atomic>
#include <memory>

#include "mysql/MySqlApi.h"
#include "mysql/MySqlLibRecords.h"
#include "platform/runtime/DynLib.h"

struct TMyLibCalls;

class TMySQLAPIClient : public TMySQLAPI {
 public:
  static constexpr const char* DefaultLibraryName = "libmariadb.so.3";

  TMySQLAPIClient();
  // Unloads the library unless connections are still open (then it stays loaded); never throws.
  ~TMySQLAPIClient() override;

  uint32_t mysql_num_fields(PMYSQL_RES res) override;
  PMYSQL_FIELD mysql_fetch_field_direct(PMYSQL_RES res, uint32_t fieldNr) override;
  uint32_t mysql_field_count(PMYSQL_CON mysql) override;
  uint64_t mysql_affected_rows(PMYSQL_CON mysql) override;
  uint64_t mysql_insert_id(PMYSQL_CON mysql) override;
  uint32_t mysql_errno(PMYSQL_CON mysql) override;
  std::string mysql_error(PMYSQL_CON mysql) override;
  std::string mysql_info(PMYSQL_CON mysql) override;
  uint32_t mysql_thread_id(PMYSQL_CON mysql) override;
  std::string mysql_character_set_name(PMYSQL_CON mysql) override;
  std::string TrackedCharset(PMYSQL_CON mysql) override;
  // Asks the library for the server status when it can tell it (mariadb_get_infov).
  bool NoBackslashEscapes(PMYSQL_CON mysql) override;
  PMYSQL_CON mysql_init(PMYSQL_CON mysql) override;
  // The files as given (empty ones not set); TLS is then required of the server, as the direct
  // variant requires it.
  int mysql_ssl_set(PMYSQL_CON mysql, const std::string& key, const std::string& cert, const std::string& ca,
                    const std::string& caPath, const std::string& cipher) override;
  // Empty host and database are passed as none. The protocol set with mysql_options decides the
  // transport as in the direct variant: the default protocol and TCP connect over TCP (also to
  // "localhost"); the socket and pipe protocols use the local socket of the pipe name when it holds
  // a "/", else $MYSQL_UNIX_PORT, else the default socket.
  PMYSQL_CON mysql_real_connect(PMYSQL_CON mysql, const std::string& host, const std::string& user,
                                const std::string& password, const std::string& db, uint32_t port,
                                const std::string& unixSocket, uint32_t clientFlags) override;
  // Results of the connection that are still open forget it: they fetch no more rows and are
  // freed without touching the connection.
  void mysql_close(PMYSQL_CON mysql) override;
  int mysql_select_db(PMYSQL_CON mysql, const std::string& db) override;
  int mysql_real_query(PMYSQL_CON mysql, std::string_view query) override;
  int mysql_kill(PMYSQL_CON mysql, uint32_t pid) override;
  int mysql_ping(PMYSQL_CON mysql) override;
  int mysql_reset_connection(PMYSQL_CON mysql) override;
  std::string mysql_get_server_info(PMYSQL_CON mysql) override;
  std::string mysql_get_client_info() override;
  std::string mysql_get_host_info(PMYSQL_CON mysql) override;
  PMYSQL_RES mysql_use_result(PMYSQL_CON mysql) override;
  // The options whose value is a number (connect, read and write time-outs, compression, local
  // files) go to the library; the named-pipe and protocol options are kept for the connect (the
  // embedded server ignores them); any other returns 1 (its value is not a number).
  int mysql_options(PMYSQL_CON mysql, int option, uint32_t value) override;
  void mysql_free_result(PMYSQL_RES res) override;
  // The row handle is valid until the next fetch of its result.
  PMYSQL_ROW mysql_fetch_row(PMYSQL_RES res) override;
  const unsigned long* mysql_fetch_lengths(PMYSQL_RES res) override;
  int mysql_server_init(int argc, char** argv, char** groups) override;
  void mysql_server_end() override;
  PMYSQL_STMT mysql_stmt_init(PMYSQL_CON mysql) override;
  int mysql_stmt_prepare(PMYSQL_STMT stmt, std::string_view query) override;
  int mysql_stmt_execute(PMYSQL_STMT stmt) override;
  uint32_t mysql_stmt_param_count(PMYSQL_STMT stmt) override;
  // The binds are the library's MYSQL_BIND records (TMyLibBind).
  bool mysql_stmt_bind_param(PMYSQL_STMT stmt, PMYSQL_BIND bind) override;
  bool mysql_stmt_bind_result(PMYSQL_STMT stmt, PMYSQL_BIND bind) override;
  uint32_t mysql_stmt_field_count(PMYSQL_STMT stmt) override;
  bool mysql_stmt_close(PMYSQL_STMT stmt) override;
  bool mysql_stmt_free_result(PMYSQL_STMT stmt) override;
  uint32_t mysql_stmt_errno(PMYSQL_STMT stmt) override;
  std::string mysql_stmt_error(PMYSQL_STMT stmt) override;
  int mysql_stmt_fetch(PMYSQL_STMT stmt) override;
  int mysql_stmt_fetch_column(PMYSQL_STMT stmt, PMYSQL_BIND bind, uint32_t column,
                              unsigned long offset) override;
  bool mysql_stmt_send_long_data(PMYSQL_STMT stmt, uint32_t paramNr, const char* data,
                                 unsigned long length) override;
  PMYSQL_RES mysql_stmt_result_metadata(PMYSQL_STMT stmt) override;
  PMYSQL_RES mysql_stmt_param_metadata(PMYSQL_STMT stmt) override;
  uint64_t mysql_stmt_affected_rows(PMYSQL_STMT stmt) override;
  bool mysql_more_results(PMYSQL_CON mysql) override;
  int mysql_next_result(PMYSQL_CON mysql) override;

  bool Loaded() override;
  // Loads the library (GetLibraryName) when not loaded and resolves its entry points; a library
  // that cannot be loaded leaves the variant unloaded (Initialize reports it).
  void Load() override;
  // Frees the library. Errors: EInvalidOperation while connections of this variant are open
  // (their code would go with it).
  void Unload() override;
  // Load, then the client version from the library and the newest client level. Errors: EOSError
  // "MySQL client library couldn't be loaded. Please place <library> file to system folder
  // (included to PATH) or to the folder with executable unit of main program." with the loader's
  // reason on a further line.
  void Initialize() override;

  void GetFieldInfo(PMYSQL_RES res, uint32_t index, TMySqlFieldRecord& field, bool unicode) override;
  void GetLengths(PMYSQL_RES res, std::vector<uint32_t>& lengths) override;
  bool FieldIsNull(PMYSQL_ROW row, uint32_t index) override;
  const uint8_t* GetFieldPtr(PMYSQL_RES res, PMYSQL_ROW row, uint32_t index) override;
  void CopyFieldValueAt(PMYSQL_ROW row, uint32_t index, uint32_t offset, uint32_t length,
                        void* dest) override;
  const uint8_t* GetFieldBuf(PMYSQL_ROW row, uint32_t index, uint32_t& position) override;
  std::string GetFieldStr(PMYSQL_ROW row, uint32_t index) override;

  // Errors beyond the direct variant's: 2030 "Not all parameters data supplied" kept in the
  // statement when the parameters sent do not match the statement's count (nothing is executed).
  int StmtExecute(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) override;
  int StmtBindParams(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) override;
  int StmtBindResults(PMYSQL_STMT stmt) override;
  int StmtFetchColumn(PMYSQL_STMT stmt, uint32_t index, uint32_t offset, void* dest, uint32_t length,
                      uint32_t& copied) override;
  int StmtFetchRow(PMYSQL_STMT stmt) override;
  void StmtGetLengths(PMYSQL_STMT stmt, std::vector<uint32_t>& lengths) override;
  const uint8_t* StmtGetColumnPtr(PMYSQL_STMT stmt, uint32_t index) override;

  // The library Load opens: the override when set, else the variant's default.
  std::string GetLibraryName() const;
  // Another library of the same kind and layout (a file name or a path); empty for the default.
  // Takes effect at the next Load.
  void SetLibraryName(std::string name);
  // Connections of this variant now open.
  int OpenConnections() const noexcept { return FConnections.load(); }

 protected:
  // `network`: the library reaches servers over the network (protocol and TLS options apply);
  // false for a server in this process.
  TMySQLAPIClient(std::string defaultLibrary, std::string libraryKind, const TMyLibLayout& layout,
                  bool network);

  // dlopen and resolve when not loaded; true when loaded. Called under the variant's lock.
  bool LoadEntries();
  // dlclose and forget the entry points. Errors: as Unload. Called under the variant's lock.
  void UnloadEntries();
  // Errors: as Unload.
  void CheckNoConnections() const;
  [[noreturn]] void RaiseNotLoaded() const;
  TCriticalSection& LoadLock() const { return FLoadLock; }

 private:
  std::string FDefaultLibrary;
  std::string FLibraryKind;  // "client", "Embedded Server": how the not-linked message names it
  TMyLibLayout FLayout;
  bool FNetwork;
  std::string FLibraryOverride;
  mutable TCriticalSection FLoadLock;
  TDynLib FLib;
  std::unique_ptr<TMyLibCalls> FCalls;
  std::atomic<bool> FLoaded{false};
  std::atomic<int> FConnections{0};

  template <typename F>
  F Linked(F entry, const char* name) const;
  void ForgetConnection(void* res) const;
  int SessionStatus(PMYSQL_CON mysql, bool failed);
  int StmtStatus(PMYSQL_STMT stmt, bool failed);
};

// The process-wide instance, made on first use and freed at exit.
TMySQLAPIClient& MyAPIClient();
