// One connection of the client/server protocol: login, commands and their replies.
//
// States, checked at the start of every command:
//   NotConnected  before Connect, and after a failed Connect;
//   Ready         logged in, nothing unread on the wire;
//   ResultPending a result's field descriptions or rows are unread, or a batch has further
//                 results: every command except NextResult (and reading that result) raises
//                 2014, and what is pending stays readable;
//   Broken        the exchange failed part-way (lost connection, malformed or out-of-order
//                 packet): every command raises 2006; only Close is left;
//   Closed        after Close.
// A server error packet ends the reply it answers: the session stays usable.
//
// A session is used by one thread at a time.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mysql/MySqlAuth.h"
#include "mysql/MySqlNet.h"
#include "mysql/MySqlPackets.h"
#include "mysql/MySqlVio.h"
#include "platform/runtime/Charset.h"

class TMySqlResultSet;
class TStream;

enum class TMySqlSessionState : uint8_t { NotConnected, Ready, ResultPending, Broken, Closed };

// The pending-result state the client API reports ("mysql.status = ").
enum : uint8_t {
  MYSQL_STATUS_READY = 0,       // nothing pending
  MYSQL_STATUS_GET_RESULT = 1,  // a result header and its field descriptions read, rows unread
  MYSQL_STATUS_USE_RESULT = 2,  // the rows are being read through a result object
};

enum : uint8_t {
  COM_QUIT = 1,
  COM_INIT_DB = 2,
  COM_QUERY = 3,
  COM_FIELD_LIST = 4,
  COM_STATISTICS = 9,
  COM_PROCESS_KILL = 12,
  COM_PING = 14,
  COM_STMT_PREPARE = 22,
  COM_STMT_EXECUTE = 23,
  COM_STMT_CLOSE = 25,
  COM_RESET_CONNECTION = 31,
};

class TMySqlSession {
 public:
  TMySqlSession();
  // Closes the session (Close); never throws.
  ~TMySqlSession();
  TMySqlSession(const TMySqlSession&) = delete;
  TMySqlSession& operator=(const TMySqlSession&) = delete;

  // ---- settings, before Connect ----
  // Defaults for Connect's empty arguments; Connect stores what it used.
  std::string Host, User, Password, Database;
  uint32_t Port = 0;  // 0: 3306
  uint32_t Protocol = MYSQL_PROTOCOL_DEFAULT;
  uint32_t ConnectTimeout = 15;  // seconds, for the transport's connect and the login
  uint32_t CommandTimeout = 0;   // seconds, applied to the transport before each command
  // Largest packet accepted from the server once logged in (0: 1 GiB); more raises 2020. Before
  // the login ends the limit is 1 MiB at most.
  int MaxPacketSize = 0;
  // The character set of the statement texts sent, for the LOAD DATA LOCAL check.
  TCharsetKind TextCharset = AnsiCharsetKind();
  // A user transport; not owned; must outlive the session's connection.
  TMyIOHandler* IOHandler = nullptr;
  // For protocol 5 (TLS): the client's key file (empty: the key is in the certificate file),
  // certificate file, CA file, CA path and cipher list, all optional.
  std::string SslKey, SslCert, SslCa, SslCaPath, SslCipher;
  // Client flags asked for before connecting; after login the negotiated flags.
  uint32_t ClientFlags = 0;
  // Error number and text of the last client-API call (kept by the client API).
  uint32_t ErrorNumber = 0;
  std::string ErrorText;

  // ---- login ----
  // Opens the transport, reads the greeting and logs in. Empty arguments take the stored
  // values; port 0 takes the stored port.
  // Errors (EMySqlException): 2046 no transport for the protocol; 2003 the transport could not
  // connect (its reason as detail); 2007 greeting protocol not 10; 2012 a login reply the client
  // does not know, or an authentication method it does not have (named in the detail); 2013 lost
  // connection; 2020 a packet over 1 MiB before the login ends; 2027 malformed packet; the server's errors
  // (1045 wrong password, 1275 old password refused...); for protocol 5, 2026 "SSL connection error" when the
  // server does not offer TLS, a user IO handler is set, or TLS cannot start (the reason as detail), and the
  // TLS library's load error (EOSError). A user IO handler's exceptions pass unchanged. After a failure the
  // session is NotConnected and its transport closed.
  void Connect(const std::string& host, const std::string& user, uint32_t clientFlags,
               const std::string& pipeName, uint32_t port, const std::string& database,
               const std::string& password);

  TMySqlSessionState State() const;
  uint8_t PendingStatus() const { return FPending; }
  bool IsProtocol41() const;
  bool SessionTracked() const;
  bool MoreResults() const { return FMoreResults; }

  const std::string& ServerVersion() const { return FServerVersion; }
  const std::string& HostInfo() const { return FHostInfo; }
  uint32_t ThreadId() const { return FThreadId; }
  uint32_t ServerCapabilities() const { return FServerCaps; }
  uint16_t ServerStatus() const { return FServerStatus; }
  uint8_t ServerCharsetNr() const { return FServerCharsetNr; }
  // The session's character_set_client as the server last reported it through session tracking
  // (SET NAMES, SET CHARACTER SET, SET character_set_client, a SET in a routine); empty when it
  // has reported none since the login.
  const std::string& TrackedCharset() const { return FTrackedCharset; }
  // How many times the server reported, through session tracking, that the session's default
  // database changed (USE, COM_INIT_DB), and the last name it reported (utf8). Counted since the
  // session object was made; a USE of the database the session is in counts too, and so does a
  // reported change of session_track_schema (after which changes of the database may go
  // unreported).
  uint64_t SchemaChanges() const { return FSchemaChanges; }
  const std::string& TrackedSchema() const { return FTrackedSchema; }

  // ---- the last reply ----
  const std::string& Info() const { return FInfo; }
  uint16_t WarningCount() const { return FWarningCount; }
  uint64_t AffectedRows() const { return FAffectedRows; }
  uint64_t InsertId() const { return FInsertId; }
  uint64_t Extra() const { return FExtra; }
  uint32_t FieldCount() const { return FFieldCount; }
  // Field descriptions of the pending result.
  const std::vector<TMySqlFieldInfo>& Fields() const { return FFields; }
  // Hands the pending result's field descriptions to a statement (the session's are cleared).
  std::vector<TMySqlFieldInfo> TakeFields();
  // Takes back the descriptions of a freed result, so that the next result's are read into them.
  void RecycleFields(std::vector<TMySqlFieldInfo>&& fields) noexcept;

  // ---- commands ----
  // Every command first checks the state: 2006 when not connected, broken or closed; 2014 while
  // a result is pending. Transport failures raise 2013 and break the session; a server error
  // packet raises the server's error and leaves the session Ready.

  // Starts a command packet: resets the sequence and writes the command byte.
  void BeginCommand(uint8_t command);
  // Sends a command with its argument bytes; unless skipReply, reads the reply packet and
  // returns it (valid until the next read).
  std::span<const uint8_t> SimpleCommand(uint8_t command, std::span<const uint8_t> args = {},
                                         bool skipReply = false);

  void SelectDb(const std::string& name);  // COM_INIT_DB; stores the name on success
  void Ping();
  // COM_RESET_CONNECTION: the server rolls back, drops temporary tables and user variables and
  // gives the session variables their global values.
  void ResetConnection();
  void Kill(uint32_t threadId);
  std::string Statistics();  // the server's status line
  // Field descriptions of a table's columns matching the wildcard (COM_FIELD_LIST).
  std::vector<TMySqlFieldInfo> FieldList(const std::string& table, const std::string& wildcard = {});

  // A query in two halves, so that the client API can hold its lock only while sending.
  void SendQuery(std::span<const uint8_t> text);
  // Reads the reply to the query just sent: an OK packet, a result header with its field
  // descriptions (then ResultPending), or a LOAD DATA LOCAL file request. The file is sent only
  // when the query is a LOAD ... LOCAL INFILE naming exactly that file; otherwise, or when the
  // file cannot be read, an empty transfer is sent, the reply read, and the error raised:
  // EFOpenError for the file, EMySqlException 2000 for a file the statement did not name.
  void ReadQueryResult();
  void Query(std::string_view text);
  // Reads the next result of a batch; false (affected rows -1) when there is none.
  // Errors: 2014 while a result's rows are unread; as ReadQueryResult.
  bool NextResult();
  // Discards the rest of a pending result (not the batch's further results), skipping each row in
  // pieces. Errors: a server error packet among the rows; as ReadPacket.
  void DrainResult();
  // Sends COM_QUIT (when the connection is usable) and closes the transport. Only the first
  // call acts; never throws.
  void Close() noexcept;

  // ---- for result sets ----
  // Reads the next packet of the pending result. Returns false at its EOF packet, whose status
  // then ends the result (pending state 0, further results of a batch noted).
  bool ReadResultPacket(std::span<const uint8_t>& packet);
  TMySqlResultSet* CurrentResult() const { return FCurrentResult; }
  void AttachResult(TMySqlResultSet* result);
  void DetachResult(TMySqlResultSet* result) noexcept;
  void SetPendingStatus(uint8_t status);
  // A reply that did not decode: nothing more can be trusted on this connection.
  void MarkBroken() noexcept;

 private:
  std::unique_ptr<TMySqlNet> FNet;
  enum class TLink : uint8_t { NotConnected, Ready, Broken, Closed } FLink = TLink::NotConnected;
  uint8_t FPending = MYSQL_STATUS_READY;
  bool FMoreResults = false;
  TMySqlResultSet* FCurrentResult = nullptr;

  std::string FServerVersion, FHostInfo, FInfo, FTrackedCharset, FTrackedSchema;
  uint64_t FSchemaChanges = 0;
  uint32_t FThreadId = 0, FServerCaps = 0, FFieldCount = 0;
  uint16_t FServerStatus = SERVER_STATUS_AUTOCOMMIT, FWarningCount = 0;
  uint8_t FServerCharsetNr = 0;
  uint64_t FAffectedRows = 0, FInsertId = 0, FExtra = 0;
  TMySqlScramble FScramble{};
  bool FHasScramble20 = false;
  std::vector<TMySqlFieldInfo> FFields;
  // Two freed results' descriptions, for the next results to read theirs into.
  std::vector<TMySqlFieldInfo> FSpareFields[2];
  std::string FLastQuery;  // the statement text the LOAD DATA LOCAL check compares against

  // Runs f; a failure other than a server error breaks the session, a server error ends the
  // pending reply.
  template <typename F>
  decltype(auto) Guarded(F&& f);
  void CheckUsable() const;
  std::span<const uint8_t> ReadPacket();

  std::unique_ptr<TMySqlVio> MakeTransport(const std::string& pipeName);
  void OpenTransport();
  void StartTls();
  void Login(const TMySqlGreeting& greeting);
  void AnswerLoginReply(const TMySqlLoginReply& reply);
  void SendAuthData(std::span<const uint8_t> data);

  void ApplyOk(const TMySqlOkPacket& ok);
  // Reads a command's OK reply and keeps its counters and status.
  void ReadOk(std::span<const uint8_t> reply);
  void ApplyEof(const TMySqlEofPacket& eof);
  void ReadFieldDescriptions(uint32_t count, std::vector<TMySqlFieldInfo>& fields, bool withDefault);
  // Swaps the spare descriptions best fitted to a result of `count` columns into `fields`.
  void TakeSpareFields(std::vector<TMySqlFieldInfo>& fields, uint32_t count) noexcept;
  std::exception_ptr SendLocalFile(const std::string& fileName);
  void StreamFile(TStream& file);
};
