#include "mysql/MySqlApiDirect.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "mysql/MySqlAuth.h"
#include "mysql/MySqlProtocol.h"

namespace {

class TDirectResult;

// A session as the API hands it out: it knows the statements and results made from it, so that
// closing it leaves none of them pointing at a freed session.
class TDirectSession : public TMySqlSession {
 public:
  std::unordered_set<TMySqlStmt*> Statements;
  std::unordered_set<TDirectResult*> Results;
};

// A result handle: the rows of a reply (mysql_use_result), or a statement's field descriptions
// alone (mysql_stmt_result_metadata).
class TDirectResult {
 public:
  TDirectSession* Owner = nullptr;  // the session the rows come from; nil for metadata or once closed
  std::unique_ptr<TMySqlResultSet> Rows;
  std::vector<TMySqlFieldInfo> MetaFields;
  bool Protocol41 = true;

  const std::vector<TMySqlFieldInfo>& Fields() const { return Rows ? Rows->Fields() : MetaFields; }
  const TMySqlBind& Bind(uint32_t index) const {
    DA_ASSERT(Rows != nullptr && index < Rows->FieldCount());
    return Rows->Row().Binds[index];
  }
  const uint8_t* Data() const { return Rows->RowData().data(); }
};

TDirectSession& Session(PMYSQL_CON handle) {
  DA_ASSERT_MSG(handle != nullptr, "nil session handle");
  return *reinterpret_cast<TDirectSession*>(handle);
}

PMYSQL_CON Handle(TDirectSession* session) {
  return reinterpret_cast<PMYSQL_CON>(session);
}

TDirectResult& Result(PMYSQL_RES handle) {
  DA_ASSERT_MSG(handle != nullptr, "nil result handle");
  return *reinterpret_cast<TDirectResult*>(handle);
}

PMYSQL_RES Handle(TDirectResult* result) {
  return reinterpret_cast<PMYSQL_RES>(result);
}

// A row handle is its result: the binds and bytes of the row fetched last.
TDirectResult& RowOf(PMYSQL_ROW handle) {
  DA_ASSERT_MSG(handle != nullptr, "nil row");
  return *reinterpret_cast<TDirectResult*>(handle);
}

TMySqlStmt& Stmt(PMYSQL_STMT handle) {
  DA_ASSERT_MSG(handle != nullptr, "nil statement handle");
  return *reinterpret_cast<TMySqlStmt*>(handle);
}

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The client API's error convention: clear the handle's error, run the operation, and keep a
// MySQL error in the handle instead of raising it. Returns 0 or the error number.
template <typename THandle, typename F>
int Guard(THandle& handle, F&& operation) {
  handle.ErrorNumber = 0;
  handle.ErrorText.clear();
  try {
    operation();
    return 0;
  } catch (const EMySqlException& e) {
    // 0 would read as success: an error without a number is an unknown one.
    const int code = e.ErrorCode != 0 ? e.ErrorCode : CR_UNKNOWN_ERROR;
    handle.ErrorNumber = static_cast<uint32_t>(code);
    handle.ErrorText = e.Message();
    return code;
  }
}

[[noreturn]] void RaiseOutOfSync(const TMySqlSession& session) {
  RaiseMySqlClientError(CR_COMMANDS_OUT_OF_SYNC, {},
                        Format("mysql.status = %d", {int(session.PendingStatus())}));
}

bool IsTextLengthType(uint8_t type) {
  return type == mftVarChar || type == mftEnum || type == mftSet || type == mftVarString || type == mftString;
}

}  // namespace

TMySQLAPIDirect::TMySQLAPIDirect() {
  Initialize();
}

TMySQLAPIDirect::~TMySQLAPIDirect() = default;

TMySQLAPIDirect& MyAPIDirect() {
  static TMySQLAPIDirect instance;
  return instance;
}

void TMySQLAPIDirect::Initialize() {
  SetClientVersion(ClientInfo, MYSQL_CLIENT_DIRECT);
}

// ---- sessions -----------------------------------------------------------------------------------

uint32_t TMySQLAPIDirect::mysql_field_count(PMYSQL_CON mysql) {
  return Session(mysql).FieldCount();
}
uint64_t TMySQLAPIDirect::mysql_affected_rows(PMYSQL_CON mysql) {
  return Session(mysql).AffectedRows();
}
uint64_t TMySQLAPIDirect::mysql_insert_id(PMYSQL_CON mysql) {
  return Session(mysql).InsertId();
}
uint32_t TMySQLAPIDirect::mysql_errno(PMYSQL_CON mysql) {
  return Session(mysql).ErrorNumber;
}
std::string TMySQLAPIDirect::mysql_error(PMYSQL_CON mysql) {
  return Session(mysql).ErrorText;
}
std::string TMySQLAPIDirect::mysql_info(PMYSQL_CON mysql) {
  return Session(mysql).Info();
}
std::string TMySQLAPIDirect::TrackedCharset(PMYSQL_CON mysql) {
  return Session(mysql).TrackedCharset();
}
std::string TMySQLAPIDirect::TrackedSchema(PMYSQL_CON mysql) {
  return Session(mysql).TrackedSchema();
}
bool TMySQLAPIDirect::NoBackslashEscapes(PMYSQL_CON mysql) {
  return (Session(mysql).ServerStatus() & SERVER_STATUS_NO_BACKSLASH_ESCAPES) != 0;
}
bool TMySQLAPIDirect::SchemaChanges(PMYSQL_CON mysql, uint64_t& count) {
  const TMySqlSession& session = Session(mysql);
  count = session.SchemaChanges();
  return session.SessionTracked();
}
uint32_t TMySQLAPIDirect::mysql_thread_id(PMYSQL_CON mysql) {
  return Session(mysql).ThreadId();
}
std::string TMySQLAPIDirect::mysql_get_server_info(PMYSQL_CON mysql) {
  return Session(mysql).ServerVersion();
}
std::string TMySQLAPIDirect::mysql_get_client_info() {
  return ClientInfo;
}
std::string TMySQLAPIDirect::mysql_get_host_info(PMYSQL_CON mysql) {
  return Session(mysql).HostInfo();
}
bool TMySQLAPIDirect::mysql_more_results(PMYSQL_CON mysql) {
  return Session(mysql).MoreResults();
}

PMYSQL_CON TMySQLAPIDirect::mysql_init(PMYSQL_CON) {
  return Handle(new TDirectSession);
}

void TMySQLAPIDirect::SetIOHandler(PMYSQL_CON mysql, TMyIOHandler* handler) {
  Session(mysql).IOHandler = handler;
}

int TMySQLAPIDirect::mysql_ssl_set(PMYSQL_CON mysql, const std::string& key, const std::string& cert,
                                   const std::string& ca, const std::string& caPath,
                                   const std::string& cipher) {
  TDirectSession& s = Session(mysql);
  s.Protocol = MYSQL_PROTOCOL_SSL;
  s.SslKey = key;
  s.SslCert = cert;
  s.SslCa = ca;
  s.SslCaPath = caPath;
  s.SslCipher = cipher;
  return 0;
}

int TMySQLAPIDirect::mysql_options(PMYSQL_CON mysql, int option, uint32_t value) {
  TDirectSession& s = Session(mysql);
  switch (option) {
    case MYSQL_OPT_CONNECT_TIMEOUT:
      s.ConnectTimeout = value;
      break;
    case MYSQL_OPT_NAMED_PIPE:
      s.Protocol = MYSQL_PROTOCOL_PIPE;
      break;
    case MYSQL_OPT_PROTOCOL:
      s.Protocol = value & 0xFF;
      break;
    case MYSQL_OPT_READ_TIMEOUT:
    case MYSQL_OPT_WRITE_TIMEOUT:
      s.CommandTimeout = value;
      break;
    default:
      break;
  }
  return 0;
}

PMYSQL_CON TMySQLAPIDirect::mysql_real_connect(PMYSQL_CON mysql, const std::string& host,
                                               const std::string& user, const std::string& password,
                                               const std::string& db, uint32_t port,
                                               const std::string& unixSocket, uint32_t clientFlags) {
  TDirectSession& s = Session(mysql);
  const int code = Guard(s, [&] { s.Connect(host, user, clientFlags, unixSocket, port, db, password); });
  return code == 0 ? mysql : nullptr;
}

void TMySQLAPIDirect::mysql_close(PMYSQL_CON mysql) {
  std::unique_ptr<TDirectSession> s(&Session(mysql));
  s->Close();
  for (TMySqlStmt* stmt : s->Statements) stmt->SessionClosed();
  for (TDirectResult* result : s->Results) {
    result->Rows->SessionClosed();
    result->Owner = nullptr;
  }
}

int TMySQLAPIDirect::mysql_select_db(PMYSQL_CON mysql, const std::string& db) {
  TDirectSession& s = Session(mysql);
  return Guard(s, [&] { s.SelectDb(db); });
}

int TMySQLAPIDirect::mysql_real_query(PMYSQL_CON mysql, std::string_view query) {
  TDirectSession& s = Session(mysql);
  return Guard(s, [&] {
    s.SendQuery(Bytes(query));
    s.ReadQueryResult();
  });
}

int TMySQLAPIDirect::QueryWhileWaiting(PMYSQL_CON mysql, std::string_view query,
                                       const std::function<void()>& whileWaiting) {
  TDirectSession& s = Session(mysql);
  return Guard(s, [&] {
    s.SendQuery(Bytes(query));
    if (whileWaiting) whileWaiting();
    s.ReadQueryResult();
  });
}

int TMySQLAPIDirect::mysql_kill(PMYSQL_CON mysql, uint32_t pid) {
  TDirectSession& s = Session(mysql);
  return Guard(s, [&] { s.Kill(pid); });
}

int TMySQLAPIDirect::mysql_ping(PMYSQL_CON mysql) {
  TDirectSession& s = Session(mysql);
  return Guard(s, [&] { s.Ping(); });
}

int TMySQLAPIDirect::mysql_reset_connection(PMYSQL_CON mysql) {
  TDirectSession& s = Session(mysql);
  return Guard(s, [&] { s.ResetConnection(); });
}

int TMySQLAPIDirect::mysql_next_result(PMYSQL_CON mysql) {
  TDirectSession& s = Session(mysql);
  bool more = false;
  const int code = Guard(s, [&] {
    if (s.PendingStatus() != MYSQL_STATUS_READY) RaiseOutOfSync(s);
    more = s.NextResult();
  });
  return code != 0 ? code : more ? 0 : -1;
}

// ---- results ------------------------------------------------------------------------------------

PMYSQL_RES TMySQLAPIDirect::mysql_use_result(PMYSQL_CON mysql) {
  TDirectSession& s = Session(mysql);
  std::unique_ptr<TDirectResult> result;
  Guard(s, [&] {
    if (s.FieldCount() == 0) return;  // the reply had no rows
    if (s.PendingStatus() != MYSQL_STATUS_GET_RESULT) RaiseOutOfSync(s);
    result = std::make_unique<TDirectResult>();
    result->Owner = &s;
    result->Protocol41 = s.IsProtocol41();
    result->Rows = std::make_unique<TMySqlResultSet>(s);
  });
  if (!result) return nullptr;
  s.Results.insert(result.get());
  return Handle(result.release());
}

void TMySQLAPIDirect::mysql_free_result(PMYSQL_RES res) {
  std::unique_ptr<TDirectResult> result(&Result(res));
  if (!result->Owner) return;
  TDirectSession& s = *result->Owner;
  s.Results.erase(result.get());
  Guard(s, [&] { result->Rows->Close(); });
}

PMYSQL_ROW TMySQLAPIDirect::mysql_fetch_row(PMYSQL_RES res) {
  TDirectResult& result = Result(res);
  if (!result.Rows) return nullptr;
  bool fetched = false;
  if (result.Owner) {
    Guard(*result.Owner, [&] { fetched = result.Rows->Fetch(); });
  } else {
    try {
      fetched = result.Rows->Fetch();
    } catch (const EMySqlException&) {
      // The session is gone, and with it the place for the error.
    }
  }
  return fetched ? reinterpret_cast<PMYSQL_ROW>(&result) : nullptr;
}

uint32_t TMySQLAPIDirect::mysql_num_fields(PMYSQL_RES res) {
  return static_cast<uint32_t>(Result(res).Fields().size());
}

void TMySQLAPIDirect::GetFieldInfo(PMYSQL_RES res, uint32_t index, TMySqlFieldRecord& field, bool unicode) {
  const TDirectResult& result = Result(res);
  const auto& fields = result.Fields();
  DA_ASSERT(index < fields.size());
  const TMySqlFieldInfo& f = fields[index];
  field.Name = f.Name;
  field.OrgName = f.OrgName.empty() ? f.Name : f.OrgName;
  field.Table = f.Table;
  field.OrgTable = f.OrgTable;
  field.Database = f.Database;
  field.Flags = f.Flags;
  field.Type = f.Type;
  field.Decimals = f.Decimals;
  field.CharsetNr = static_cast<uint16_t>(f.CharsetNr);
  uint64_t length = f.Length;
  // Before 4.1 the server counted text lengths in characters; UTF-8 takes up to 3 bytes each.
  if (unicode && !f.Table.empty() && !result.Protocol41 && IsTextLengthType(f.Type)) length *= 3;
  field.Length = static_cast<uint32_t>(std::min<uint64_t>(length, 65535));
}

void TMySQLAPIDirect::GetLengths(PMYSQL_RES res, std::vector<uint32_t>& lengths) {
  const TDirectResult& result = Result(res);
  lengths.resize(result.Fields().size());
  if (!result.Rows) return;
  for (uint32_t i = 0; i < lengths.size(); ++i) lengths[i] = result.Bind(i).Length;
}

bool TMySQLAPIDirect::FieldIsNull(PMYSQL_ROW row, uint32_t index) {
  return RowOf(row).Bind(index).IsNull != 0;
}

const uint8_t* TMySQLAPIDirect::GetFieldPtr(PMYSQL_RES, PMYSQL_ROW row, uint32_t index) {
  const TDirectResult& result = RowOf(row);
  const TMySqlBind& bind = result.Bind(index);
  return bind.IsNull ? nullptr : result.Data() + bind.Position;
}

std::span<const TMySqlBind> TMySQLAPIDirect::GetRowColumns(PMYSQL_RES res, PMYSQL_ROW row,
                                                           std::vector<TMySqlBind>&, const uint8_t*& base) {
  const TDirectResult& result = Result(res);
  DA_ASSERT_MSG(&RowOf(row) == &result && result.Rows != nullptr, "row of another result");
  base = result.Data();
  return result.Rows->Row().Binds;
}

void TMySQLAPIDirect::CopyFieldValueAt(PMYSQL_ROW row, uint32_t index, uint32_t offset, uint32_t length,
                                       void* dest) {
  const TDirectResult& result = RowOf(row);
  const TMySqlBind& bind = result.Bind(index);
  if (length == 0 || bind.IsNull) return;
  DA_ASSERT_MSG(offset <= bind.Length && length <= bind.Length - offset, "copy beyond the column's value");
  std::memcpy(dest, result.Data() + bind.Position + offset, length);
}

const uint8_t* TMySQLAPIDirect::GetFieldBuf(PMYSQL_ROW row, uint32_t index, uint32_t& position) {
  const TDirectResult& result = RowOf(row);
  position = static_cast<uint32_t>(result.Bind(index).Position);
  return result.Data();
}

std::string TMySQLAPIDirect::GetFieldStr(PMYSQL_ROW row, uint32_t index) {
  const TDirectResult& result = RowOf(row);
  const TMySqlBind& bind = result.Bind(index);
  if (bind.IsNull) return {};
  return std::string(reinterpret_cast<const char*>(result.Data()) + bind.Position, bind.Length);
}

// ---- statements ---------------------------------------------------------------------------------

PMYSQL_STMT TMySQLAPIDirect::mysql_stmt_init(PMYSQL_CON mysql) {
  TDirectSession& s = Session(mysql);
  auto stmt = std::make_unique<TMySqlStmt>(s);
  s.Statements.insert(stmt.get());
  return reinterpret_cast<PMYSQL_STMT>(stmt.release());
}

int TMySQLAPIDirect::mysql_stmt_prepare(PMYSQL_STMT stmt, std::string_view query) {
  TMySqlStmt& st = Stmt(stmt);
  return Guard(st, [&] { st.Prepare(Bytes(query)); });
}

uint32_t TMySQLAPIDirect::mysql_stmt_param_count(PMYSQL_STMT stmt) {
  return Stmt(stmt).ParamCount();
}
uint32_t TMySQLAPIDirect::mysql_stmt_field_count(PMYSQL_STMT stmt) {
  return Stmt(stmt).FieldCount();
}
uint64_t TMySQLAPIDirect::mysql_stmt_affected_rows(PMYSQL_STMT stmt) {
  return Stmt(stmt).AffectedRows();
}
uint32_t TMySQLAPIDirect::mysql_stmt_errno(PMYSQL_STMT stmt) {
  return Stmt(stmt).ErrorNumber;
}
std::string TMySQLAPIDirect::mysql_stmt_error(PMYSQL_STMT stmt) {
  return Stmt(stmt).ErrorText;
}

bool TMySQLAPIDirect::mysql_stmt_close(PMYSQL_STMT stmt) {
  std::unique_ptr<TMySqlStmt> st(&Stmt(stmt));
  if (st->Session()) static_cast<TDirectSession*>(st->Session())->Statements.erase(st.get());
  return false;  // the destructor closes it as far as the connection allows
}

bool TMySQLAPIDirect::mysql_stmt_free_result(PMYSQL_STMT stmt) {
  TMySqlStmt& st = Stmt(stmt);
  return Guard(st, [&] { st.FreeResult(); }) != 0;
}

PMYSQL_RES TMySQLAPIDirect::mysql_stmt_result_metadata(PMYSQL_STMT stmt) {
  const TMySqlStmt& st = Stmt(stmt);
  if (st.FieldCount() == 0) return nullptr;
  auto result = std::make_unique<TDirectResult>();
  result->MetaFields = st.Fields();
  result->Protocol41 = st.Session() == nullptr || st.Session()->IsProtocol41();
  return Handle(result.release());
}

int TMySQLAPIDirect::StmtExecute(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) {
  TMySqlStmt& st = Stmt(stmt);
  return Guard(st, [&] { st.Execute(params, unicode); });
}

int TMySQLAPIDirect::StmtBindParams(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) {
  TMySqlStmt& st = Stmt(stmt);
  std::vector<TMySqlStmtParam> values = MySqlStmtParams(params);
  if (MySqlSentParams(values).size() != st.ParamCount())
    return Guard(st, [] { RaiseMySqlClientError(CR_PARAMS_NOT_BOUND); });
  TBytes types;
  BuildMySqlExecuteRequest(0, st.ParamCount(), values, unicode, types);  // conversion errors, before binding
  st.BindParams(std::move(values), unicode);
  return Guard(st, [] {});
}

int TMySQLAPIDirect::mysql_stmt_execute(PMYSQL_STMT stmt) {
  TMySqlStmt& st = Stmt(stmt);
  return Guard(st, [&] { st.ExecuteBound(); });
}

int TMySQLAPIDirect::StmtBindResults(PMYSQL_STMT stmt) {
  TMySqlStmt& st = Stmt(stmt);
  return Guard(st, [&] { st.BindResult(std::make_unique<TMySqlBinds>(static_cast<int>(st.FieldCount()))); });
}

int TMySQLAPIDirect::StmtFetchRow(PMYSQL_STMT stmt) {
  TMySqlStmt& st = Stmt(stmt);
  int fetched = MYSQL_NO_DATA;
  const int code = Guard(st, [&] { fetched = st.Fetch(); });
  return code != 0 ? code : fetched;
}

void TMySQLAPIDirect::StmtGetLengths(PMYSQL_STMT stmt, std::vector<uint32_t>& lengths) {
  const TMySqlStmt& st = Stmt(stmt);
  const TMySqlResultSet* result = st.Result();
  lengths.resize(result ? result->FieldCount() : 0);
  for (uint32_t i = 0; i < lengths.size(); ++i) lengths[i] = result->Row().Binds[i].Length;
}

std::span<const TMySqlBind> TMySQLAPIDirect::StmtGetRowColumns(PMYSQL_STMT stmt, std::vector<TMySqlBind>&,
                                                               const uint8_t*& base) {
  const TMySqlResultSet* result = Stmt(stmt).Result();
  if (result == nullptr) {
    base = nullptr;
    return {};
  }
  base = result->RowData().data();
  return result->Row().Binds;
}

const uint8_t* TMySQLAPIDirect::StmtGetColumnPtr(PMYSQL_STMT stmt, uint32_t index) {
  const TMySqlResultSet* result = Stmt(stmt).Result();
  DA_ASSERT(result != nullptr && index < result->FieldCount());
  const TMySqlBind& bind = result->Row().Binds[index];
  return bind.IsNull ? nullptr : result->RowData().data() + bind.Position;
}
