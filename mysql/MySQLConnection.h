// TMySQLConnection: the MySQL connection of the provider interface. It owns one session handle of
// a client API (the direct-protocol API unless told otherwise), opens and closes it, runs the
// transaction statements, keeps every connection setting as a numbered property, and turns the
// API's error numbers into EMyError raised through the failover-capable error path (DoError).
//
// A connection is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/CRAccess.h"
#include "mysql/MyClasses.h"
#include "mysql/MySqlApi.h"
#include "platform/runtime/Classes.h"

class TMyIOHandler;

// ---- property ids of the MySQL connection ---------------------------------------------------

inline constexpr int prDatabase = 1000;           // string: SetDatabase
inline constexpr int prConnectionTimeout = 1001;  // integer, seconds
inline constexpr int prPort = 1002;               // integer
inline constexpr int prLastInsertId = 1004;       // get: 64-bit integer of the open session
inline constexpr int prCompress = 1007;           // Boolean
inline constexpr int prIsolationLevel = 1008;     // integer: TMyIsolationLevel
inline constexpr int prCharset = 1009;            // string
inline constexpr int prMySQLAPI = 1010;           // set: a TMySQLAPI object reference
inline constexpr int prProtocol = 1011;           // integer: TMyProtocol
inline constexpr int prNumericType = 1013;        // integer: TDANumericType
inline constexpr int prUseUnicode = 1018;         // Boolean
inline constexpr int prEmbParams = 1019;          // string: parameters of the embedded server
inline constexpr int prSSLChipherList = 1020;     // strings: the SSL settings
inline constexpr int prSSLCACert = 1021;
inline constexpr int prSSLKey = 1022;
inline constexpr int prSSLCert = 1023;

enum TMyIsolationLevel : uint8_t {
  ilReadCommitted = 0,
  ilReadUnCommitted = 1,
  ilRepeatableRead = 2,
  ilSerializable = 3
};
enum TMyProtocol : uint8_t { mpDefault = 0, mpTCP = 1, mpSocket = 2, mpPipe = 3, mpMemory = 4, mpSSL = 5 };

class TMySQLConnection : public TCRConnection {
 public:
  // Supplies the connection a record set fetches on, and takes it back (installed by the
  // connection component; unset, the record set makes and frees its own).
  using TConnectionSupplyProc = std::function<TMySQLConnection*()>;
  using TConnectionReturnProc = std::function<void(TMySQLConnection*)>;

  TMySQLConnection();
  // Disconnects; never throws.
  ~TMySQLConnection() override;

  // An auxiliary connection reports to OnError once (no reconnect, attempt 0); any other uses
  // the failover path of TCRConnection.
  void DoError(EDAError& e, bool& fail) override;

  // Opens a session with the current settings; nothing when connected. Sends "SET NAMES" for the
  // character set, or asks the server for the session's (see SetCharset). Errors: EMyError of the API (2003
  // no server, 1045 refused login...), raised through DoError; EDatabaseError "Wrong protocol" for a protocol
  // the API cannot ask for, for a character set name that is not a plain name, and for the socket or pipe
  // protocol with a Server that is not local (TMySqlVioPipe::IsLocalHost). Any failure except
  // EFailOver (a reconnect already made inside) leaves the connection closed.
  void Connect(const std::string& connectString) override;
  // Closes the session (never throws); not connected and not in a transaction afterwards.
  void Disconnect() override;
  // Sends "SET TRANSACTION ISOLATION LEVEL ..." for every level but ilReadCommitted, then "BEGIN".
  // The isolation statement applies to the next transaction only, so it goes before every BEGIN.
  void StartTransaction() override;
  void Commit() override;
  void Rollback() override;
  // Pings the server (twice); IsValid := both answered. False when closed.
  bool CheckIsValid() override;
  // Resets the session (a rollback; temporary tables, user variables and session variables such
  // as autocommit and sql_mode as a new session has them), selects Database again and sets the
  // character set the session had after the login. False when the server cannot reset a session,
  // or when a database was selected on a connection without one (no statement deselects it).
  bool ResetSession() noexcept override;

  // Own ids first (see the list above), the rest to TCRConnection.
  bool SetProp(int prop, const Variant& value) override;
  bool GetProp(int prop, Variant& value) override;

  // ---- error raising (the component is the one the error names) ----
  // EMyError with the session's error number and text, through DoError: raised when DoError
  // leaves fail set, else EAbort. DoError may raise EFailOver instead.
  [[noreturn]] void RaiseError(TComponent* component);
  // The same with the statement's error number and text.
  [[noreturn]] void RaiseStmtError(PMYSQL_STMT stmt, TComponent* component);
  // Raises a client error (code 0: CR_UNKNOWN_ERROR) through OnError as RaiseError does.
  [[noreturn]] void RaiseClientError(int code, std::string text, TComponent* component);
  // RaiseError when value is nil / status is not 0 / the session reports an error.
  virtual void CheckPtr(const void* value, TComponent* component);
  virtual void CheckStatus(int status, TComponent* component);
  virtual void CheckErrno(TComponent* component);
  // RaiseStmtError when status is not 0.
  virtual void CheckStmt(int status, PMYSQL_STMT stmt, TComponent* component);

  // ---- operations ----
  // Stores a different name; when connected and the name is not empty, selects it on the
  // session first (errors as RaiseError, the stored name unchanged).
  void SetDatabase(const std::string& name);
  // Runs one statement on the session through a command of this connection's component.
  void ExecSQL(const std::string& text);
  // Copies the settings a second session needs: time-out, server, user, password, database,
  // port, compression, Unicode, character set, isolation level, OnError, protocol, API, numeric
  // type, the SSL files and the user transport (not EmbParams).
  void AssignConnectionSettings(const TMySQLConnection& source);
  // The client version text of the API, loading it for the call when it is not loaded.
  std::string GetClientVersion();
  // The API is the direct protocol or a client of 4.1 or later.
  bool IsClient41() const;
  // The connected server is 4.1 or later.
  bool IsServer41() const;
  // How the server reads the statement text and literals: UTF-8 under UseUnicode; else, while
  // connected, the session's character set (the one "SET NAMES" gave it, or the server's
  // character_set_client asked for after a login without a Charset); else the set Charset names.
  TCharsetKind GetTextCharset() const;
  // While connected, the server reported NO_BACKSLASH_ESCAPES in the session's sql_mode: string
  // literals escape a quote by doubling it and keep backslashes as they are.
  bool NoBackslashEscapes() const;
  // Notes a statement text about to run on this session: one naming sql_mode may leave the
  // session reading statements otherwise than a new session of the same account does.
  void NoteStatementText(std::string_view text) noexcept;
  bool SqlModeMayHaveChanged() const noexcept { return FSqlModeNamed; }
  // Makes this (auxiliary) session read statements as `main` does: when main's session named
  // sql_mode or the two differ in NO_BACKSLASH_ESCAPES, main's sql_mode is asked for and set here if
  // it differs. Otherwise nothing is sent. Errors: EMyError of either session.
  void FollowSqlModeOf(TMySQLConnection& main);
  // Makes this (auxiliary) session take text in the set `main`'s session was given by a statement
  // since it connected ("SET NAMES gbk"): the dataset's text holds bytes of that set. Nothing is
  // sent while the server reports the same set for both.
  void FollowCharsetOf(const TMySQLConnection& main);
  // Makes this (auxiliary) session use the default database `main`'s session was moved to by a
  // statement since it connected ("USE zqv1"): the dataset's unqualified names mean that
  // database's tables, and its writes go there. Nothing is sent while the server reported no other
  // database for main than this session's. Errors: EMyError of this session.
  void FollowDatabaseOf(const TMySQLConnection& main);
  // The session's max_allowed_packet, asked once per session: the server refuses a statement
  // whose text (with the command byte) is longer, and ends the session.
  int64_t MaxAllowedPacket();
  // The count of the server's reports that the session's default database changed; false when
  // the session cannot report them (see TMySQLAPI::SchemaChanges).
  bool SchemaChanges(uint64_t& count) const;
  // Bytes of one character in the column lengths the server reports under UseUnicode: 4 for
  // utf8mb4 (servers from 5.5 on), 3 for utf8.
  int GetUnicodeCharBytes() const noexcept { return HasUtf8mb4() ? 4 : 3; }

  // ---- settings and state ----
  TMySQLAPI* GetAPI() const noexcept { return FAPI; }
  // Nil while closed.
  PMYSQL_CON GetMySQL() const noexcept { return FMySQL; }
  const std::string& GetDatabase() const noexcept { return FDatabase; }
  int32_t GetPort() const noexcept { return FPort; }
  bool GetCompress() const noexcept { return FCompress; }
  bool GetUseUnicode() const noexcept { return FUseUnicode; }
  const std::string& GetCharset() const noexcept { return FCharset; }
  int32_t GetConnectionTimeout() const noexcept { return FConnectionTimeout; }
  TMyIsolationLevel GetIsolationLevel() const noexcept { return FIsolationLevel; }
  TMyProtocol GetProtocol() const noexcept { return FProtocol; }
  TDANumericType GetNumericType() const noexcept { return FNumericType; }
  const TStringList& GetEmbParams() const noexcept { return FEmbParams; }
  const std::string& GetSSLKey() const noexcept { return FSSLKey; }
  const std::string& GetSSLCert() const noexcept { return FSSLCert; }
  const std::string& GetSSLCACert() const noexcept { return FSSLCACert; }
  const std::string& GetSSLChipherList() const noexcept { return FSSLChipherList; }
  const std::string& GetServerVersion() const noexcept { return FServerVersion; }
  int GetServerMajor() const noexcept { return FServerMajor; }
  int GetServerMinor() const noexcept { return FServerMinor; }
  bool GetInTransaction() const noexcept { return FInTransaction; }
  // Set on the connections a record set opens for itself.
  bool GetAuxiliary() const noexcept { return FAuxiliary; }
  void SetAuxiliary(bool value) noexcept { FAuxiliary = value; }

  // A user transport for the next Connect (direct API only); not owned.
  TMyIOHandler* IOHandler = nullptr;
  TConnectionSupplyProc ConnectionSupplyHook;
  TConnectionReturnProc ConnectionReturnHook;

 private:
  // Options before mysql_real_connect: time-out, transport, protocol and SSL.
  void SetOptions();
  void OpenSession();
  // On a 4.1 server: "SET NAMES utf8mb4" for UseUnicode ("utf8" before 5.5), "SET NAMES" +
  // Charset, or, with neither, "SET NAMES latin1" when Unicode was on and is now off, else the
  // session's character_set_client is asked for. Older servers get no Unicode.
  void SetCharset();
  void SetNames(const std::string& charset);
  bool HasUtf8mb4() const noexcept { return FServerMajor > 5 || (FServerMajor == 5 && FServerMinor >= 5); }
  // The first column of the first row of a query's result; "" for none or NULL.
  std::string QueryValue(const std::string& sql);

  TMySQLAPI* FAPI;
  PMYSQL_CON FMySQL = nullptr;
  std::string FDatabase;
  int32_t FPort = 0;
  bool FCompress = false;
  bool FUseUnicode = false;
  std::string FCharset;
  int32_t FConnectionTimeout = 15;
  TMyIsolationLevel FIsolationLevel = ilReadCommitted;
  TMyProtocol FProtocol = mpDefault;
  TDANumericType FNumericType = ntFloat;
  bool FAuxiliary = false;
  TStringList FEmbParams;
  std::string FSSLChipherList, FSSLCACert, FSSLKey, FSSLCert;
  std::string FServerVersion;
  int FServerMajor = 0;
  int FServerMinor = 0;
  bool FInTransaction = false;
  bool FSqlModeNamed = false;      // a statement of the open session named sql_mode
  std::string FSessionCharset;     // the open session's character_set_client, when known
  bool FUnicodeNamesSent = false;  // the session's names were set for UseUnicode
  int64_t FMaxAllowedPacket = 0;   // of the session FMaxAllowedPacketOf, when asked
  PMYSQL_CON FMaxAllowedPacketOf = nullptr;
};
