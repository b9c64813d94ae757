#include "mysql/MySQLConnection.h"

#include <cctype>
#include <cstdlib>
#include <utility>

#include "mysql/MySQLCommand.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlApiEmbedded.h"
#include "mysql/MySqlAuth.h"
#include "mysql/MySqlNet.h"
#include "mysql/MySqlTypes.h"
#include "mysql/MySqlVioPipe.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

const char* IsolationStatement(TMyIsolationLevel level) {
  switch (level) {
    case ilReadUnCommitted:
      return "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED";
    case ilRepeatableRead:
      return "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ";
    case ilSerializable:
      return "SET TRANSACTION ISOLATION LEVEL SERIALIZABLE";
    case ilReadCommitted:
      break;
  }
  return nullptr;
}

// The character set a login asks for (the login packet's set 8).
constexpr const char* kLoginCharsetName = "latin1";

// Character set names are plain words; anything else would become part of the statement.
bool IsCharsetName(const std::string& name) {
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return !name.empty();
}

// Without the blanks and control characters at both ends.
std::string Trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

uint8_t EnumValue(const Variant& value, int last, const char* what) {
  const int32_t v = value.AsInteger();
  DA_ASSERT_MSG(v >= 0 && v <= last, Format("%s out of range: %d", {what, v}));
  return static_cast<uint8_t>(v);
}

}  // namespace

TMySQLConnection::TMySQLConnection() : FAPI(&MyAPIDirect()) {}

TMySQLConnection::~TMySQLConnection() {
  try {
    Disconnect();
  } catch (...) {
    // A destructor never throws; the session is gone either way.
  }
}

// ---- errors -----------------------------------------------------------------------------------

void TMySQLConnection::DoError(EDAError& e, bool& fail) {
  if (!FAuxiliary) {
    TCRConnection::DoError(e, fail);
    return;
  }
  if (!OnError) return;
  bool reconnect = false;
  bool reexecute = false;
  TConnLostCause cause = clUnknown;
  OnError(e, fail, reconnect, reexecute, 0, cause);
}

void TMySQLConnection::RaiseClientError(int code, std::string text, TComponent* component) {
  if (code == 0) {
    // A failure without a number is an unknown one, never a success.
    code = CR_UNKNOWN_ERROR;
    text = MySqlClientErrorText(code);
  }
  EMyError e(code, std::move(text));
  e.Component = component;
  bool fail = true;
  if (OnError) DoError(e, fail);
  if (fail) throw e;
  throw EAbort("Operation aborted");
}

void TMySQLConnection::RaiseError(TComponent* component) {
  if (FMySQL == nullptr)
    RaiseClientError(CR_INVALID_CONN_HANDLE, MySqlClientErrorText(CR_INVALID_CONN_HANDLE), component);
  RaiseClientError(static_cast<int>(FAPI->mysql_errno(FMySQL)), FAPI->mysql_error(FMySQL), component);
}

void TMySQLConnection::RaiseStmtError(PMYSQL_STMT stmt, TComponent* component) {
  DA_ASSERT(stmt != nullptr);
  RaiseClientError(static_cast<int>(FAPI->mysql_stmt_errno(stmt)), FAPI->mysql_stmt_error(stmt), component);
}

void TMySQLConnection::CheckPtr(const void* value, TComponent* component) {
  if (value == nullptr) RaiseError(component);
}

void TMySQLConnection::CheckStatus(int status, TComponent* component) {
  if (status != 0) RaiseError(component);
}

void TMySQLConnection::CheckErrno(TComponent* component) {
  if (FMySQL == nullptr || FAPI->mysql_errno(FMySQL) != 0) RaiseError(component);
}

void TMySQLConnection::CheckStmt(int status, PMYSQL_STMT stmt, TComponent* component) {
  if (status != 0) RaiseStmtError(stmt, component);
}

// ---- connect and disconnect -------------------------------------------------------------------

void TMySQLConnection::Connect(const std::string&) {
  if (FConnected) return;
  FServerVersion.clear();
  // An embedded server starts with this connection's parameters when it is not running yet. A
  // connection without parameters (the auxiliary one of a record set) uses the server as it runs.
  auto* embedded = dynamic_cast<TMySQLAPIEmbedded*>(FAPI);
  if (embedded != nullptr && FEmbParams.Count() > 0) embedded->SetParams(FEmbParams);
  FAPI->Initialize();
  try {
    if (FMySQL != nullptr) Disconnect();
    DA_ASSERT(FMySQL == nullptr);
    FMySQL = FAPI->mysql_init(nullptr);
    CheckPtr(FMySQL, FComponent);
    SetOptions();
    OpenSession();
    SetCharset();
  } catch (const EFailOver&) {
    // A reconnect inside (SET NAMES failing, say) has already opened the session again.
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TMySQLConnection::SetOptions() {
  CheckStatus(
      FAPI->mysql_options(FMySQL, MYSQL_OPT_CONNECT_TIMEOUT, static_cast<uint32_t>(FConnectionTimeout)),
      FComponent);
  if (auto* direct = dynamic_cast<TMySQLAPIDirect*>(FAPI)) direct->SetIOHandler(FMySQL, IOHandler);
  if (FProtocol == mpSSL) {
    // Paths are passed as given: they name files of this system.
    CheckStatus(FAPI->mysql_ssl_set(FMySQL, FSSLKey, FSSLCert, FSSLCACert, std::string(), FSSLChipherList),
                FComponent);
  } else if (FProtocol != mpDefault && IsClient41()) {
    if (FProtocol < mpTCP || FProtocol > mpMemory) throw EDatabaseError("Wrong protocol");
    CheckStatus(FAPI->mysql_options(FMySQL, MYSQL_OPT_PROTOCOL, FProtocol), FComponent);
  } else if (FProtocol == mpPipe) {
    CheckStatus(FAPI->mysql_options(FMySQL, MYSQL_OPT_NAMED_PIPE, 0), FComponent);
  }
}

void TMySQLConnection::OpenSession() {
  FSqlModeNamed = false;  // a new session starts with the server's mode
  uint32_t flags = CLIENT_FOUND_ROWS;
  if (IsClient41()) flags |= CLIENT_MULTI_STATEMENTS;
  if (FCompress) flags |= CLIENT_COMPRESS;
  std::string host = FServer.empty() ? std::string("localhost") : FServer;
  std::string socket;
  if (FProtocol == mpSocket || FProtocol == mpPipe) {
    // A local socket never reaches another computer: a remote name must not quietly give the
    // local server. A server that is a socket path names the socket.
    if (!TMySqlVioPipe::IsLocalHost(FServer))
      throw EDatabaseError("Can't connect through the local socket: " +
                           TMySqlVioPipe::NotLocalReason(FServer));
    if (host.find('/') != std::string::npos) socket = std::exchange(host, "localhost");
  }
  CheckPtr(FAPI->mysql_real_connect(FMySQL, host, FUsername, FPassword, FDatabase,
                                    static_cast<uint32_t>(FPort), socket, flags),
           FComponent);
  FConnected = true;
  FInTransaction = false;
  FServerVersion = FAPI->mysql_get_server_info(FMySQL);
  int release = 0;
  ParseMySQLVersion(FServerVersion, FServerMajor, FServerMinor, release);
}

void TMySQLConnection::SetCharset() {
  FSessionCharset.clear();
  if (!IsServer41()) {
    FUseUnicode = false;
    return;
  }
  if (FUseUnicode) {
    // utf8 is the 3-byte set: 4-byte characters (emoji) would be lost on the way.
    SetNames(HasUtf8mb4() ? "utf8mb4" : "utf8");
  } else if (!FCharset.empty()) {
    if (!IsCharsetName(FCharset)) throw EDatabaseError("Invalid character set name: " + FCharset);
    SetNames(FCharset);
  } else if (FUnicodeNamesSent) {
    // Unicode switched off: the session goes back to the set a login without a Charset has.
    SetNames(kLoginCharsetName);
  } else {
    // The server may not have taken the login's character set (a server that skips the
    // client's handshake set): literals are escaped for the set the session really has.
    FSessionCharset = QueryValue("SELECT @@character_set_client");
  }
}

void TMySQLConnection::SetNames(const std::string& charset) {
  ExecSQL("SET NAMES " + charset);
  FSessionCharset = charset;
  FUnicodeNamesSent = FUseUnicode;
}

std::string TMySQLConnection::QueryValue(const std::string& sql) {
  TMySQLCommand command;
  command.SetConnection(this);
  command.SetComponent(FComponent);
  command.SetSQL(sql);
  command.CommandTimeout = FConnectionTimeout;
  command.ResultWanted = true;
  command.Execute();
  PMYSQL_RES result = command.GetResult();
  if (result == nullptr) return {};
  command.SetResult(nullptr);
  std::string value;
  if (PMYSQL_ROW row = FAPI->mysql_fetch_row(result); row != nullptr && !FAPI->FieldIsNull(row, 0))
    value = FAPI->GetFieldStr(row, 0);
  FAPI->mysql_free_result(result);
  return value;
}

void TMySQLConnection::Disconnect() {
  if (FMySQL != nullptr) {
    PMYSQL_CON handle = FMySQL;
    FMySQL = nullptr;
    FAPI->mysql_close(handle);
  }
  FConnected = false;
  FInTransaction = false;
  FSessionCharset.clear();
  FUnicodeNamesSent = false;
  FMaxAllowedPacketOf = nullptr;
  FSqlModeNamed = false;
}

int64_t TMySQLConnection::MaxAllowedPacket() {
  if (FMySQL == nullptr) return 0;
  if (FMaxAllowedPacketOf != FMySQL) {
    // The session's value is read-only: it holds for the session's life.
    FMaxAllowedPacket = std::strtoll(QueryValue("SELECT @@max_allowed_packet").c_str(), nullptr, 10);
    FMaxAllowedPacketOf = FMySQL;
  }
  return FMaxAllowedPacket;
}

// ---- transactions -------------------------------------------------------------------------------

void TMySQLConnection::StartTransaction() {
  if (const char* isolation = IsolationStatement(FIsolationLevel)) ExecSQL(isolation);
  ExecSQL("BEGIN");
  FInTransaction = true;
}

void TMySQLConnection::Commit() {
  FInTransaction = false;
  ExecSQL("COMMIT");
}

void TMySQLConnection::Rollback() {
  FInTransaction = false;
  ExecSQL("ROLLBACK");
}

bool TMySQLConnection::CheckIsValid() {
  if (FAPI == nullptr || FMySQL == nullptr) {
    FIsValid = false;
    return false;
  }
  // The second ping tells a session that just recovered from one that keeps failing.
  const bool first = FAPI->mysql_ping(FMySQL) == 0;
  const bool second = FAPI->mysql_ping(FMySQL) == 0;
  FIsValid = first && second;
  return FIsValid;
}

bool TMySQLConnection::ResetSession() noexcept {
  if (!FConnected || FAPI == nullptr || FMySQL == nullptr) return false;
  try {
    if (FAPI->mysql_reset_connection(FMySQL) != 0) return false;
    FInTransaction = false;
    if (FDatabase.empty()) {
      if (!QueryValue("SELECT DATABASE()").empty()) return false;
    } else if (FAPI->mysql_select_db(FMySQL, FDatabase) != 0) {
      return false;
    }
    // The reset gives the session the server's default set, not the one the login asked for.
    if (!FSessionCharset.empty()) SetNames(std::string(FSessionCharset));
    return true;
  } catch (...) {
    return false;
  }
}

void TMySQLConnection::ExecSQL(const std::string& text) {
  TMySQLCommand command;
  command.SetConnection(this);
  command.SetComponent(FComponent);
  command.SetSQL(text);
  command.CommandTimeout = FConnectionTimeout;
  command.Execute();
}

// ---- properties -------------------------------------------------------------------------------

bool TMySQLConnection::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case prDatabase:
      SetDatabase(value.AsString());
      return true;
    case prConnectionTimeout:
      FConnectionTimeout = value.AsInteger();
      return true;
    case prPort:
      FPort = value.AsInteger();
      return true;
    case prCompress:
      FCompress = value.AsBoolean();
      return true;
    case prIsolationLevel:
      FIsolationLevel = static_cast<TMyIsolationLevel>(EnumValue(value, ilSerializable, "IsolationLevel"));
      return true;
    case prCharset:
      FCharset = value.AsString();
      return true;
    case prMySQLAPI: {
      auto* api = static_cast<TMySQLAPI*>(value.AsObject());
      DA_ASSERT_MSG(api != nullptr, "MySQLAPI must be an API object");
      // A session belongs to the API that opened it.
      DA_ASSERT_MSG(api == FAPI || FMySQL == nullptr, "MySQLAPI changed on an open connection");
      FAPI = api;
      return true;
    }
    case prProtocol:
      // Values the API cannot ask for are refused by Connect ("Wrong protocol").
      FProtocol = static_cast<TMyProtocol>(EnumValue(value, 255, "Protocol"));
      return true;
    case prNumericType:
      FNumericType = static_cast<TDANumericType>(EnumValue(value, ntFmtBCD, "NumericType"));
      return true;
    case prUseUnicode:
      FUseUnicode = value.AsBoolean();
      if (FConnected) SetCharset();
      return true;
    case prEmbParams:
      FEmbParams.SetText(Trimmed(value.AsString()));
      return true;
    case prSSLChipherList:
      FSSLChipherList = value.AsString();
      return true;
    case prSSLCACert:
      FSSLCACert = value.AsString();
      return true;
    case prSSLKey:
      FSSLKey = value.AsString();
      return true;
    case prSSLCert:
      FSSLCert = value.AsString();
      return true;
    default:
      return TCRConnection::SetProp(prop, value);
  }
}

bool TMySQLConnection::GetProp(int prop, Variant& value) {
  switch (prop) {
    case prDatabase:
      value = FDatabase;
      return true;
    case prConnectionTimeout:
      value = FConnectionTimeout;
      return true;
    case prPort:
      value = FPort;
      return true;
    case prLastInsertId:
      DA_ASSERT_MSG(FMySQL != nullptr, "LastInsertId of a closed connection");
      value = static_cast<int64_t>(FAPI->mysql_insert_id(FMySQL));
      return true;
    case prCompress:
      value = FCompress;
      return true;
    case prIsolationLevel:
      value = static_cast<int>(FIsolationLevel);
      return true;
    case prUseUnicode:
      value = FUseUnicode;
      return true;
    default:
      return TCRConnection::GetProp(prop, value);
  }
}

// ---- other operations ---------------------------------------------------------------------------

void TMySQLConnection::SetDatabase(const std::string& name) {
  if (name == FDatabase) return;
  if (FConnected && !name.empty()) CheckStatus(FAPI->mysql_select_db(FMySQL, name), FComponent);
  FDatabase = name;
}

void TMySQLConnection::AssignConnectionSettings(const TMySQLConnection& source) {
  FConnectionTimeout = source.FConnectionTimeout;
  FServer = source.FServer;
  FUsername = source.FUsername;
  FPassword = source.FPassword;
  FDatabase = source.FDatabase;
  FPort = source.FPort;
  FCompress = source.FCompress;
  FUseUnicode = source.FUseUnicode;
  FCharset = source.FCharset;
  FIsolationLevel = source.FIsolationLevel;
  OnError = source.OnError;
  FProtocol = source.FProtocol;
  FAPI = source.FAPI;
  FNumericType = source.FNumericType;
  // Without these a second session of an account that requires a certificate, or of a user
  // transport, could not log in.
  FSSLKey = source.FSSLKey;
  FSSLCert = source.FSSLCert;
  FSSLCACert = source.FSSLCACert;
  FSSLChipherList = source.FSSLChipherList;
  IOHandler = source.IOHandler;
}

std::string TMySQLConnection::GetClientVersion() {
  if (FAPI->Loaded()) return FAPI->mysql_get_client_info();
  FAPI->Load();
  std::string version;
  try {
    FAPI->Initialize();
    version = FAPI->mysql_get_client_info();
  } catch (...) {
    FAPI->Unload();
    throw;
  }
  FAPI->Unload();
  return version;
}

bool TMySQLConnection::IsClient41() const {
  DA_ASSERT(FAPI != nullptr);
  const uint8_t level = FAPI->ClientLevel();
  return level == MYSQL_CLIENT_DIRECT || level == MYSQL_CLIENT_410 || level == MYSQL_CLIENT_411;
}

bool TMySQLConnection::IsServer41() const {
  DA_ASSERT(FAPI != nullptr);
  return FServerMajor > 4 || (FServerMajor == 4 && FServerMinor >= 1);
}

bool TMySQLConnection::NoBackslashEscapes() const {
  return FConnected && FMySQL != nullptr && FAPI->NoBackslashEscapes(FMySQL);
}

void TMySQLConnection::NoteStatementText(std::string_view text) noexcept {
  if (FSqlModeNamed) return;
  static constexpr std::string_view name = "sql_mode";
  // Any spelling of the name (quoted, @@-prefixed, in a SET STATEMENT) counts: a needless look at
  // the mode costs two queries, a missed one gives rows read under another mode.
  for (size_t pos = text.find('_', 3); pos != std::string_view::npos; pos = text.find('_', pos + 1)) {
    if (pos + 5 > text.size()) break;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(text[pos - 3 + i])) == name[i];
    if (same) {
      FSqlModeNamed = true;
      return;
    }
  }
}

void TMySQLConnection::FollowSqlModeOf(TMySQLConnection& main) {
  if (!main.FSqlModeNamed && main.NoBackslashEscapes() == NoBackslashEscapes()) return;
  const std::string mode = main.QueryValue("SELECT @@SESSION.sql_mode");
  if (QueryValue("SELECT @@SESSION.sql_mode") == mode) return;
  // The server's mode names hold letters, digits, '_' and ',' only: nothing to quote.
  for (char c : mode)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != ',')
      throw EDatabaseError("Unexpected sql_mode: " + mode);
  ExecSQL("SET SESSION sql_mode = '" + mode + "'");
}

void TMySQLConnection::FollowCharsetOf(const TMySQLConnection& main) {
  if (!main.FConnected || main.FMySQL == nullptr || !FConnected || FMySQL == nullptr) return;
  const std::string wanted = main.FAPI->TrackedCharset(main.FMySQL);
  const std::string own = FAPI->TrackedCharset(FMySQL);
  if (wanted.empty() || own.empty() || wanted == own) return;
  if (!IsCharsetName(wanted)) throw EDatabaseError("Invalid character set name: " + wanted);
  SetNames(wanted);
}

void TMySQLConnection::FollowDatabaseOf(const TMySQLConnection& main) {
  if (!main.FConnected || main.FMySQL == nullptr || !FConnected || FMySQL == nullptr) return;
  const std::string wanted = main.FAPI->TrackedSchema(main.FMySQL);
  const std::string own = FAPI->TrackedSchema(FMySQL);
  if (wanted.empty() || wanted == (own.empty() ? FDatabase : own)) return;
  CheckStatus(FAPI->mysql_select_db(FMySQL, wanted), FComponent);
}

bool TMySQLConnection::SchemaChanges(uint64_t& count) const {
  return FConnected && FMySQL != nullptr && FAPI->SchemaChanges(FMySQL, count);
}

TCharsetKind TMySQLConnection::GetTextCharset() const {
  // A statement may have changed the session's set (SET NAMES, SET CHARACTER SET, a routine):
  // the server's own report of it wins over what the connection asked for.
  if (FConnected && FMySQL != nullptr)
    if (const std::string tracked = FAPI->TrackedCharset(FMySQL); !tracked.empty())
      return CharsetKindByName(tracked);
  if (FUseUnicode) return TCharsetKind::Utf8;
  return CharsetKindByName(FConnected && !FSessionCharset.empty() ? FSessionCharset : FCharset);
}
