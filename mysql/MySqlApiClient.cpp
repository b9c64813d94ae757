#include "mysql/MySqlApiClient.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "mysql/MySqlPackets.h"
#include "mysql/MySqlProtocol.h"
#include "mysql/MySqlVioPipe.h"
#include "platform/runtime/Format.h"

// ---- entry points -------------------------------------------------------------------------------

// Every entry point the variant calls: name, result and arguments, in the library's C types (the
// handles as untyped pointers). mysql_stmt_next_result is used when the library has it.
#define DA_MYSQL_ENTRIES(X)                                                                                \
  X(mysql_num_fields, unsigned int, (void*))                                                               \
  X(mysql_fetch_field_direct, TMyLibField*, (void*, unsigned int))                                         \
  X(mysql_field_count, unsigned int, (void*))                                                              \
  X(mysql_affected_rows, unsigned long long, (void*))                                                      \
  X(mysql_insert_id, unsigned long long, (void*))                                                          \
  X(mysql_errno, unsigned int, (void*))                                                                    \
  X(mysql_error, const char*, (void*))                                                                     \
  X(mysql_info, const char*, (void*))                                                                      \
  X(mysql_thread_id, unsigned long, (void*))                                                               \
  X(mysql_character_set_name, const char*, (void*))                                                        \
  X(mysql_init, void*, (void*))                                                                            \
  X(mysql_ssl_set, my_bool_t, (void*, const char*, const char*, const char*, const char*, const char*))    \
  X(mysql_real_connect, void*,                                                                             \
    (void*, const char*, const char*, const char*, const char*, unsigned int, const char*, unsigned long)) \
  X(mysql_close, void, (void*))                                                                            \
  X(mysql_select_db, int, (void*, const char*))                                                            \
  X(mysql_real_query, int, (void*, const char*, unsigned long))                                            \
  X(mysql_kill, int, (void*, unsigned long))                                                               \
  X(mysql_ping, int, (void*))                                                                              \
  X(mysql_reset_connection, int, (void*))                                                                  \
  X(mysql_get_server_info, const char*, (void*))                                                           \
  X(mysql_get_client_info, const char*, ())                                                                \
  X(mysql_get_host_info, const char*, (void*))                                                             \
  X(mysql_use_result, void*, (void*))                                                                      \
  X(mysql_options, int, (void*, int, const void*))                                                         \
  X(mysql_free_result, void, (void*))                                                                      \
  X(mysql_fetch_row, char**, (void*))                                                                      \
  X(mysql_fetch_lengths, unsigned long*, (void*))                                                          \
  X(mysql_server_init, int, (int, char**, char**))                                                         \
  X(mysql_server_end, void, ())                                                                            \
  X(mysql_stmt_init, void*, (void*))                                                                       \
  X(mysql_stmt_prepare, int, (void*, const char*, unsigned long))                                          \
  X(mysql_stmt_execute, int, (void*))                                                                      \
  X(mysql_stmt_param_count, unsigned long, (void*))                                                        \
  X(mysql_stmt_bind_param, my_bool_t, (void*, TMyLibBind*))                                                \
  X(mysql_stmt_bind_result, my_bool_t, (void*, TMyLibBind*))                                               \
  X(mysql_stmt_field_count, unsigned int, (void*))                                                         \
  X(mysql_stmt_close, my_bool_t, (void*))                                                                  \
  X(mysql_stmt_free_result, my_bool_t, (void*))                                                            \
  X(mysql_stmt_errno, unsigned int, (void*))                                                               \
  X(mysql_stmt_error, const char*, (void*))                                                                \
  X(mysql_stmt_fetch, int, (void*))                                                                        \
  X(mysql_stmt_fetch_column, int, (void*, TMyLibBind*, unsigned int, unsigned long))                       \
  X(mysql_stmt_send_long_data, my_bool_t, (void*, unsigned int, const char*, unsigned long))               \
  X(mysql_stmt_result_metadata, void*, (void*))                                                            \
  X(mysql_stmt_param_metadata, void*, (void*))                                                             \
  X(mysql_stmt_affected_rows, unsigned long long, (void*))                                                 \
  X(mysql_more_results, my_bool_t, (void*))                                                                \
  X(mysql_next_result, int, (void*))                                                                       \
  X(mysql_stmt_next_result, int, (void*))                                                                  \
  X(mariadb_get_infov, my_bool_t, (void*, int, void*, ...))

struct TMyLibCalls {
#define DA_DECLARE_ENTRY(name, result, args) result(*name) args = nullptr;
  DA_MYSQL_ENTRIES(DA_DECLARE_ENTRY)
#undef DA_DECLARE_ENTRY
};

#define DA_LIB(name) Linked(FCalls->name, #name)

namespace {

constexpr char SNotLoaded[] =
    "MySQL client library couldn't be loaded. Please place %s file to system folder (included to PATH) "
    "or to the folder with executable unit of main program.";
constexpr char SNotLinked[] = "MySQL API function is not linked. You should update MySQL %s library (%s).";

constexpr unsigned long MinColumnBuffer = 16;
constexpr unsigned long MaxInitialColumnBuffer = 4096;

const char* OrNull(const std::string& s) {
  return s.empty() ? nullptr : s.c_str();
}
std::string Text(const char* s) {
  return s ? std::string(s) : std::string();
}

// ---- handles --------------------------------------------------------------------------------

struct TLibResult;

// A connection: the library's handle and the results read from it, which must forget it when it
// closes first.
struct TLibSession {
  void* Mysql = nullptr;
  uint32_t Protocol = MYSQL_PROTOCOL_DEFAULT;  // applied at the connect
  std::unordered_set<TLibResult*> Results;
  // The library follows the server's session tracking of character_set_client into its own
  // character set: any change from the set it had at the login was reported by the server.
  std::string LoginCharset;
  bool CharsetTracked = false;
};

// A result, which is also the handle of its current row: the row's values come with their lengths,
// so that values holding zero bytes read whole.
struct TLibResult {
  void* Res = nullptr;
  TLibSession* Owner = nullptr;  // nil for field descriptions alone, or once the connection closed
  char** Row = nullptr;
  const unsigned long* Lengths = nullptr;
  uint32_t FieldCount = 0;

  const char* Value(uint32_t index) const {
    DA_ASSERT(Row != nullptr && index < FieldCount);
    return Row[index];
  }
};

// The values of one execute in the library's records. They stay until the next execute: the
// library reads them when it sends.
struct TLibParams {
  std::vector<TMyLibBind> Binds;
  std::vector<TBytes> Values;
  std::vector<TMyLibTime> Times;
  std::vector<unsigned long> Lengths;
  std::vector<my_bool_t> Nulls;
};

// One result column: the buffer the library fetches into and, for dates and times, the value
// re-encoded in the binary protocol's form.
struct TLibColumn {
  int BufferType = 0;
  bool Unsigned = false;
  bool Temporal = false;
  std::vector<uint8_t> Buffer;
  TMyLibTime Time{};
  unsigned long Length = 0;
  my_bool_t IsNull = 0;
  my_bool_t Truncated = 0;
  uint32_t EncodedLength = 0;
};

struct TLibStmt {
  void* Stmt = nullptr;
  // A refusal of this variant's own (0 = none): the library's error is reported otherwise.
  uint32_t ErrorNumber = 0;
  std::string ErrorText;
  TLibParams Params;
  std::vector<TLibColumn> Columns;
  std::vector<TMyLibBind> ResultBinds;
};

TLibSession& Session(PMYSQL_CON handle) {
  DA_ASSERT_MSG(handle != nullptr, "nil session handle");
  return *reinterpret_cast<TLibSession*>(handle);
}

TLibResult& Result(PMYSQL_RES handle) {
  DA_ASSERT_MSG(handle != nullptr, "nil result handle");
  return *reinterpret_cast<TLibResult*>(handle);
}

TLibResult& RowOf(PMYSQL_ROW handle) {
  DA_ASSERT_MSG(handle != nullptr, "nil row");
  return *reinterpret_cast<TLibResult*>(handle);
}

TLibStmt& Stmt(PMYSQL_STMT handle) {
  DA_ASSERT_MSG(handle != nullptr, "nil statement handle");
  return *reinterpret_cast<TLibStmt*>(handle);
}

// A statement about to talk to the server: its own refusal from before is forgotten.
// The client API's convention: 0, or the error number (the library returns a failure flag).
int ErrorOr0(bool failed, unsigned int error) {
  if (!failed) return 0;
  return error != 0 ? static_cast<int>(error) : CR_UNKNOWN_ERROR;
}

TLibStmt& Talking(PMYSQL_STMT handle) {
  TLibStmt& st = Stmt(handle);
  st.ErrorNumber = 0;
  st.ErrorText.clear();
  return st;
}

// ---- parameters -------------------------------------------------------------------------------

bool IsTemporal(int type) {
  return type == mftDate || type == mftNewDate || type == mftTime || type == mftDateTime ||
         type == mftTimestamp;
}

// A date or time into the library's record. Hours beyond a day go into the days, which the
// library sends in a field of their own.
TMyLibTime LibTime(const TMySqlTime& t, int type) {
  TMyLibTime r{};
  r.year = t.Year;
  r.month = t.Month;
  r.day = t.Day;
  r.hour = t.Hour;
  r.minute = t.Minute;
  r.second = t.Second;
  r.second_part = t.SecondPart;
  r.neg = static_cast<my_bool_t>(t.Neg);
  r.time_type = type == mftTime   ? MYSQL_TIMESTAMP_TIME
                : type == mftDate ? MYSQL_TIMESTAMP_DATE
                                  : MYSQL_TIMESTAMP_DATETIME;
  if (type == mftTime) {
    r.day = t.Hour / 24;
    r.hour = t.Hour % 24;
  }
  return r;
}

// Each value is encoded as the direct variant sends it, so both variants convert alike, and the
// library's record points into that encoding.
void BindParam(const TMySqlStmtParam& p, bool unicode, TLibParams& out, size_t i) {
  TMyLibBind& b = out.Binds[i];
  b.length = &out.Lengths[i];
  b.is_null = &out.Nulls[i];
  if (p.IsNull || p.Value.IsNull()) {
    b.buffer_type = mftNull;
    out.Nulls[i] = 1;
    return;
  }
  const uint16_t wireType = MySqlParamWireType(p.DataType);
  b.buffer_type = wireType & 0xFF;
  b.is_unsigned = (wireType >> 8) & MYSQL_PARAM_UNSIGNED ? 1 : 0;
  TBytes& bytes = out.Values[i];
  AppendMySqlParamValue(bytes, p.DataType, p.Value, unicode);
  if (IsTemporal(b.buffer_type)) {
    const TMySqlTime t = DecodeMySqlBinaryTemporal(std::span<const uint8_t>(bytes).subspan(1), b.buffer_type);
    out.Times[i] = LibTime(t, b.buffer_type);
    b.buffer = &out.Times[i];
    return;
  }
  size_t offset = 0;
  size_t length = bytes.size();
  if (b.buffer_type == mftVarString) {  // length-coded
    TMySqlByteReader reader(bytes);
    length = static_cast<size_t>(reader.ReadLengthCodedValue());
    offset = reader.Position();
  }
  b.buffer = bytes.data() + offset;
  b.buffer_length = length;
  out.Lengths[i] = length;
}

void BindParams(std::span<const TMySqlStmtParam> sent, bool unicode, TLibParams& out) {
  const size_t n = sent.size();
  out.Binds.assign(n, TMyLibBind{});
  out.Values.assign(n, TBytes());
  out.Times.assign(n, TMyLibTime{});
  out.Lengths.assign(n, 0);
  out.Nulls.assign(n, 0);
  for (size_t i = 0; i < n; ++i) BindParam(sent[i], unicode, out, i);
}

// ---- result columns ---------------------------------------------------------------------------

// The buffer type a column is fetched as: numbers at their binary size, dates and times into the
// library's record, anything else as bytes.
void PlanColumn(const TMyLibField& f, TLibColumn& c) {
  c.Unsigned = (f.flags & mffUnsigned) != 0;
  c.Temporal = IsTemporal(f.type);
  size_t size = 0;
  switch (f.type) {
    case mftTiny:
      c.BufferType = mftTiny, size = 1;
      break;
    case mftShort:
    case mftYear:
      c.BufferType = mftShort, size = 2;
      break;
    case mftLong:
    case mftInt24:
      c.BufferType = mftLong, size = 4;
      break;
    case mftLongLong:
      c.BufferType = mftLongLong, size = 8;
      break;
    case mftFloat:
      c.BufferType = mftFloat, size = 4;
      break;
    case mftDouble:
      c.BufferType = mftDouble, size = 8;
      break;
    case mftNewDate:
      c.BufferType = mftDate, size = 12;
      break;
    default:
      if (c.Temporal) {
        c.BufferType = f.type;
        size = 12;  // the longest binary encoding
      } else {
        c.BufferType = mftBlob;
        size = std::clamp(f.length, MinColumnBuffer, MaxInitialColumnBuffer);
      }
  }
  c.Buffer.assign(size, 0);
}

void BindColumn(TLibColumn& c, TMyLibBind& b) {
  b = TMyLibBind{};
  b.length = &c.Length;
  b.is_null = &c.IsNull;
  b.error = &c.Truncated;
  b.buffer_type = c.BufferType;
  b.is_unsigned = c.Unsigned ? 1 : 0;
  if (c.Temporal) {
    b.buffer = &c.Time;
    b.buffer_length = sizeof(TMyLibTime);
  } else {
    b.buffer = c.Buffer.data();
    b.buffer_length = c.Buffer.size();
  }
}

void PutLE(uint8_t* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The binary protocol's encoding of a date or time, in the shortest form the server uses.
uint32_t EncodeTemporal(const TMyLibTime& t, int bufferType, uint8_t* out) {
  if (bufferType == mftTime) {
    const uint64_t hours = uint64_t(t.day) * 24 + t.hour;
    const uint32_t length = t.second_part ? 12 : (hours || t.minute || t.second) ? 8 : 0;
    if (length == 0) return 0;
    out[0] = t.neg ? 1 : 0;
    PutLE(out + 1, hours / 24, 4);
    out[5] = static_cast<uint8_t>(hours % 24);
    out[6] = static_cast<uint8_t>(t.minute);
    out[7] = static_cast<uint8_t>(t.second);
    if (length == 12) PutLE(out + 8, t.second_part, 4);
    return length;
  }
  const bool date = bufferType == mftDate;
  const uint32_t length = !date && t.second_part                      ? 11
                          : !date && (t.hour || t.minute || t.second) ? 7
                          : (t.year || t.month || t.day)              ? 4
                                                                      : 0;
  PutLE(out, t.year, 2);
  out[2] = static_cast<uint8_t>(t.month);
  out[3] = static_cast<uint8_t>(t.day);
  out[4] = static_cast<uint8_t>(t.hour);
  out[5] = static_cast<uint8_t>(t.minute);
  out[6] = static_cast<uint8_t>(t.second);
  PutLE(out + 7, t.second_part, 4);
  return length;
}

}  // namespace

// ---- the variant --------------------------------------------------------------------------------

TMySQLAPIClient::TMySQLAPIClient() : TMySQLAPIClient(DefaultLibraryName, "client", MyClientLibLayout, true) {}

TMySQLAPIClient::TMySQLAPIClient(std::string defaultLibrary, std::string libraryKind,
                                 const TMyLibLayout& layout, bool network)
    : FDefaultLibrary(std::move(defaultLibrary)),
      FLibraryKind(std::move(libraryKind)),
      FLayout(layout),
      FNetwork(network),
      FCalls(std::make_unique<TMyLibCalls>()) {
  SetClientVersion({}, MYSQL_CLIENT_411);
}

TMySQLAPIClient::~TMySQLAPIClient() {
  if (FConnections.load() != 0) return;  // their code stays mapped
  try {
    TMySQLAPIClient::Unload();
  } catch (...) {
  }
}

TMySQLAPIClient& MyAPIClient() {
  static TMySQLAPIClient instance;
  return instance;
}

template <typename F>
F TMySQLAPIClient::Linked(F entry, const char* name) const {
  if (entry == nullptr) throw Exception(Format(SNotLinked, {FLibraryKind, GetLibraryName()}) + "\r\n" + name);
  return entry;
}

std::string TMySQLAPIClient::GetLibraryName() const {
  std::lock_guard lock(FLoadLock);
  if (FLoaded) return FLib.Name();
  return FLibraryOverride.empty() ? FDefaultLibrary : FLibraryOverride;
}

void TMySQLAPIClient::SetLibraryName(std::string name) {
  std::lock_guard lock(FLoadLock);
  FLibraryOverride = std::move(name);
}

bool TMySQLAPIClient::Loaded() {
  return FLoaded.load();
}

bool TMySQLAPIClient::LoadEntries() {
  if (FLoaded) return true;
  if (!FLib.Load(FLibraryOverride.empty() ? FDefaultLibrary : FLibraryOverride)) return false;
  TMyLibCalls& calls = *FCalls;
#define DA_RESOLVE_ENTRY(name, result, args) calls.name = FLib.Function<result(*) args>(#name);
  DA_MYSQL_ENTRIES(DA_RESOLVE_ENTRY)
#undef DA_RESOLVE_ENTRY
  FLoaded = true;
  return true;
}

void TMySQLAPIClient::CheckNoConnections() const {
  if (FConnections.load() != 0)
    throw EInvalidOperation(
        Format("%s is in use by %d connections and cannot be unloaded", {FLib.Name(), FConnections.load()}));
}

void TMySQLAPIClient::UnloadEntries() {
  if (!FLoaded) return;
  CheckNoConnections();
  FLoaded = false;
  *FCalls = TMyLibCalls();
  FLib.Unload();
}

void TMySQLAPIClient::RaiseNotLoaded() const {
  std::string message = Format(SNotLoaded, {GetLibraryName()});
  if (!FLib.LastError().empty()) message += "\r\n" + FLib.LastError();
  throw EOSError(0, message);
}

void TMySQLAPIClient::Load() {
  std::lock_guard lock(FLoadLock);
  if (FLoaded || !LoadEntries()) return;
  // The library sets itself up here, once, rather than in the first mysql_init of some thread.
  if (FCalls->mysql_server_init && FCalls->mysql_server_init(0, nullptr, nullptr) != 0) {
    UnloadEntries();
    throw Exception(Format("%s could not initialize itself", {GetLibraryName()}));
  }
}

void TMySQLAPIClient::Unload() {
  std::lock_guard lock(FLoadLock);
  if (!FLoaded) return;
  CheckNoConnections();
  if (FCalls->mysql_server_end) FCalls->mysql_server_end();
  UnloadEntries();
}

void TMySQLAPIClient::Initialize() {
  Load();
  if (!Loaded()) RaiseNotLoaded();
  // The loaded library tells the layout, whatever version it reports.
  SetClientVersion(mysql_get_client_info(), MYSQL_CLIENT_411);
}

// ---- sessions -----------------------------------------------------------------------------------

int TMySQLAPIClient::SessionStatus(PMYSQL_CON mysql, bool failed) {
  return ErrorOr0(failed, failed ? DA_LIB(mysql_errno)(Session(mysql).Mysql) : 0);
}

int TMySQLAPIClient::StmtStatus(PMYSQL_STMT stmt, bool failed) {
  return ErrorOr0(failed, failed ? mysql_stmt_errno(stmt) : 0);
}

uint32_t TMySQLAPIClient::mysql_field_count(PMYSQL_CON mysql) {
  return DA_LIB(mysql_field_count)(Session(mysql).Mysql);
}
uint64_t TMySQLAPIClient::mysql_affected_rows(PMYSQL_CON mysql) {
  return DA_LIB(mysql_affected_rows)(Session(mysql).Mysql);
}
uint64_t TMySQLAPIClient::mysql_insert_id(PMYSQL_CON mysql) {
  return DA_LIB(mysql_insert_id)(Session(mysql).Mysql);
}
uint32_t TMySQLAPIClient::mysql_errno(PMYSQL_CON mysql) {
  return DA_LIB(mysql_errno)(Session(mysql).Mysql);
}
std::string TMySQLAPIClient::mysql_error(PMYSQL_CON mysql) {
  return Text(DA_LIB(mysql_error)(Session(mysql).Mysql));
}
std::string TMySQLAPIClient::mysql_info(PMYSQL_CON mysql) {
  return Text(DA_LIB(mysql_info)(Session(mysql).Mysql));
}
uint32_t TMySQLAPIClient::mysql_thread_id(PMYSQL_CON mysql) {
  return static_cast<uint32_t>(DA_LIB(mysql_thread_id)(Session(mysql).Mysql));
}
std::string TMySQLAPIClient::mysql_character_set_name(PMYSQL_CON mysql) {
  return Text(DA_LIB(mysql_character_set_name)(Session(mysql).Mysql));
}
std::string TMySQLAPIClient::TrackedCharset(PMYSQL_CON mysql) {
  TLibSession& s = Session(mysql);
  std::string current = Text(DA_LIB(mysql_character_set_name)(s.Mysql));
  if (current != s.LoginCharset) s.CharsetTracked = true;
  return s.CharsetTracked ? current : std::string();
}
bool TMySQLAPIClient::NoBackslashEscapes(PMYSQL_CON mysql) {
  constexpr int MariadbConnectionServerStatus = 30;  // the library's MARIADB_CONNECTION_SERVER_STATUS
  if (FCalls == nullptr || FCalls->mariadb_get_infov == nullptr) return false;
  unsigned int status = 0;
  if (FCalls->mariadb_get_infov(Session(mysql).Mysql, MariadbConnectionServerStatus, &status) != 0)
    return false;
  return (status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) != 0;
}
std::string TMySQLAPIClient::mysql_get_server_info(PMYSQL_CON mysql) {
  return Text(DA_LIB(mysql_get_server_info)(Session(mysql).Mysql));
}
std::string TMySQLAPIClient::mysql_get_client_info() {
  return Text(DA_LIB(mysql_get_client_info)());
}
std::string TMySQLAPIClient::mysql_get_host_info(PMYSQL_CON mysql) {
  return Text(DA_LIB(mysql_get_host_info)(Session(mysql).Mysql));
}
bool TMySQLAPIClient::mysql_more_results(PMYSQL_CON mysql) {
  return DA_LIB(mysql_more_results)(Session(mysql).Mysql);
}
int TMySQLAPIClient::mysql_next_result(PMYSQL_CON mysql) {
  const int rc = DA_LIB(mysql_next_result)(Session(mysql).Mysql);
  return rc <= 0 ? rc : SessionStatus(mysql, true);
}
int TMySQLAPIClient::mysql_select_db(PMYSQL_CON mysql, const std::string& db) {
  return SessionStatus(mysql, DA_LIB(mysql_select_db)(Session(mysql).Mysql, db.c_str()) != 0);
}
int TMySQLAPIClient::mysql_real_query(PMYSQL_CON mysql, std::string_view query) {
  return SessionStatus(mysql,
                       DA_LIB(mysql_real_query)(Session(mysql).Mysql, query.data(), query.size()) != 0);
}
int TMySQLAPIClient::mysql_kill(PMYSQL_CON mysql, uint32_t pid) {
  return SessionStatus(mysql, DA_LIB(mysql_kill)(Session(mysql).Mysql, pid) != 0);
}
int TMySQLAPIClient::mysql_ping(PMYSQL_CON mysql) {
  return SessionStatus(mysql, DA_LIB(mysql_ping)(Session(mysql).Mysql) != 0);
}
int TMySQLAPIClient::mysql_reset_connection(PMYSQL_CON mysql) {
  return SessionStatus(mysql, DA_LIB(mysql_reset_connection)(Session(mysql).Mysql) != 0);
}

PMYSQL_CON TMySQLAPIClient::mysql_init(PMYSQL_CON) {
  auto init = DA_LIB(mysql_init);
  auto session = std::make_unique<TLibSession>();
  session->Mysql = init(nullptr);
  if (session->Mysql == nullptr) return nullptr;  // out of memory
  // Sessions start in the character set the direct variant logs in with, so that both read the
  // same bytes and lengths until the connection sets its own.
  DA_LIB(mysql_options)(session->Mysql, MYSQL_LIB_SET_CHARSET_NAME, "latin1");
  ++FConnections;
  return reinterpret_cast<PMYSQL_CON>(session.release());
}

int TMySQLAPIClient::mysql_ssl_set(PMYSQL_CON mysql, const std::string& key, const std::string& cert,
                                   const std::string& ca, const std::string& caPath,
                                   const std::string& cipher) {
  void* m = Session(mysql).Mysql;
  DA_LIB(mysql_ssl_set)(m, OrNull(key), OrNull(cert), OrNull(ca), OrNull(caPath), OrNull(cipher));
  if (!FNetwork) return 0;
  const my_bool_t on = 1;
  // As in the direct variant, a named CA also asks that the certificate names the host.
  if ((!ca.empty() || !caPath.empty()) &&
      DA_LIB(mysql_options)(m, MYSQL_LIB_OPT_SSL_VERIFY_SERVER_CERT, &on) != 0)
    return 1;
  return DA_LIB(mysql_options)(m, MYSQL_LIB_OPT_SSL_ENFORCE, &on);
}

int TMySQLAPIClient::mysql_options(PMYSQL_CON mysql, int option, uint32_t value) {
  TLibSession& s = Session(mysql);
  unsigned int number = value;
  switch (option) {
    case MYSQL_OPT_NAMED_PIPE:
      s.Protocol = MYSQL_PROTOCOL_PIPE;
      return 0;
    case MYSQL_OPT_PROTOCOL:
      s.Protocol = value;
      return 0;
    case MYSQL_OPT_CONNECT_TIMEOUT:
    case MYSQL_LIB_OPT_COMPRESS:
    case MYSQL_LIB_OPT_LOCAL_INFILE:
    case MYSQL_OPT_READ_TIMEOUT:
    case MYSQL_OPT_WRITE_TIMEOUT:
      break;
    default:
      return 1;
  }
  return DA_LIB(mysql_options)(s.Mysql, option, &number);
}

PMYSQL_CON TMySQLAPIClient::mysql_real_connect(PMYSQL_CON mysql, const std::string& host,
                                               const std::string& user, const std::string& password,
                                               const std::string& db, uint32_t port,
                                               const std::string& unixSocket, uint32_t clientFlags) {
  TLibSession& s = Session(mysql);
  std::string toHost = host, socket;
  if (FNetwork) {
    // Named pipes are Unix sockets on this system; the library would use a socket only for
    // "localhost", and by default for it.
    const bool local = s.Protocol == MYSQL_PROTOCOL_SOCKET || s.Protocol == MYSQL_PROTOCOL_PIPE;
    unsigned int protocol = local                                  ? MYSQL_PROTOCOL_SOCKET
                            : s.Protocol == MYSQL_PROTOCOL_DEFAULT ? MYSQL_PROTOCOL_TCP
                                                                   : s.Protocol;
    DA_LIB(mysql_options)(s.Mysql, MYSQL_OPT_PROTOCOL, &protocol);
    if (local) {
      toHost = "localhost";
      socket = TMySqlVioPipe::SocketPath(unixSocket);
    }
  }
  void* connected = DA_LIB(mysql_real_connect)(s.Mysql, OrNull(toHost), user.c_str(), password.c_str(),
                                               OrNull(db), port, OrNull(socket), clientFlags);
  if (connected == nullptr) return nullptr;
  s.LoginCharset = Text(DA_LIB(mysql_character_set_name)(s.Mysql));
  s.CharsetTracked = false;
  return mysql;
}

void TMySQLAPIClient::mysql_close(PMYSQL_CON mysql) {
  std::unique_ptr<TLibSession> s(&Session(mysql));
  for (TLibResult* result : s->Results) {
    ForgetConnection(result->Res);
    result->Owner = nullptr;
  }
  s->Results.clear();
  --FConnections;
  DA_LIB(mysql_close)(s->Mysql);
}

// ---- results ------------------------------------------------------------------------------------

// The library's result would otherwise reach into its connection when freed, and the connection
// may be freed first.
void TMySQLAPIClient::ForgetConnection(void* res) const {
  *reinterpret_cast<void**>(static_cast<char*>(res) + FLayout.ResultHandleOffset) = nullptr;
}

PMYSQL_RES TMySQLAPIClient::mysql_use_result(PMYSQL_CON mysql) {
  TLibSession& s = Session(mysql);
  auto result = std::make_unique<TLibResult>();
  result->Res = DA_LIB(mysql_use_result)(s.Mysql);
  if (result->Res == nullptr) return nullptr;
  result->Owner = &s;
  s.Results.insert(result.get());
  return reinterpret_cast<PMYSQL_RES>(result.release());
}

void TMySQLAPIClient::mysql_free_result(PMYSQL_RES res) {
  std::unique_ptr<TLibResult> result(&Result(res));
  if (result->Owner) result->Owner->Results.erase(result.get());
  DA_LIB(mysql_free_result)(result->Res);
}

PMYSQL_ROW TMySQLAPIClient::mysql_fetch_row(PMYSQL_RES res) {
  TLibResult& result = Result(res);
  result.Row = nullptr;
  result.Lengths = nullptr;
  if (result.Owner == nullptr) return nullptr;  // field descriptions alone, or the connection closed
  result.Row = DA_LIB(mysql_fetch_row)(result.Res);
  if (result.Row == nullptr) return nullptr;
  result.FieldCount = DA_LIB(mysql_num_fields)(result.Res);
  result.Lengths = DA_LIB(mysql_fetch_lengths)(result.Res);
  DA_ASSERT(result.Lengths != nullptr);
  return reinterpret_cast<PMYSQL_ROW>(&result);
}

void TMySQLAPIClient::GetLengths(PMYSQL_RES res, std::vector<uint32_t>& lengths) {
  const TLibResult& result = Result(res);
  lengths.resize(DA_LIB(mysql_num_fields)(result.Res));
  for (size_t i = 0; i < lengths.size(); ++i)
    lengths[i] = result.Row ? static_cast<uint32_t>(result.Lengths[i]) : 0;
}

bool TMySQLAPIClient::FieldIsNull(PMYSQL_ROW row, uint32_t index) {
  return RowOf(row).Value(index) == nullptr;
}

const uint8_t* TMySQLAPIClient::GetFieldPtr(PMYSQL_RES, PMYSQL_ROW row, uint32_t index) {
  return reinterpret_cast<const uint8_t*>(RowOf(row).Value(index));
}

void TMySQLAPIClient::CopyFieldValueAt(PMYSQL_ROW row, uint32_t index, uint32_t offset, uint32_t length,
                                       void* dest) {
  const TLibResult& result = RowOf(row);
  const char* value = result.Value(index);
  if (length == 0 || value == nullptr) return;
  const unsigned long size = result.Lengths[index];
  DA_ASSERT_MSG(offset <= size && length <= size - offset, "copy beyond the column's value");
  std::memcpy(dest, value + offset, length);
}

const uint8_t* TMySQLAPIClient::GetFieldBuf(PMYSQL_ROW row, uint32_t index, uint32_t& position) {
  position = 0;
  return reinterpret_cast<const uint8_t*>(RowOf(row).Value(index));
}

std::string TMySQLAPIClient::GetFieldStr(PMYSQL_ROW row, uint32_t index) {
  const TLibResult& result = RowOf(row);
  const char* value = result.Value(index);
  return value ? std::string(value, result.Lengths[index]) : std::string();
}

uint32_t TMySQLAPIClient::mysql_num_fields(PMYSQL_RES res) {
  return DA_LIB(mysql_num_fields)(Result(res).Res);
}

PMYSQL_FIELD TMySQLAPIClient::mysql_fetch_field_direct(PMYSQL_RES res, uint32_t fieldNr) {
  return reinterpret_cast<PMYSQL_FIELD>(DA_LIB(mysql_fetch_field_direct)(Result(res).Res, fieldNr));
}

const unsigned long* TMySQLAPIClient::mysql_fetch_lengths(PMYSQL_RES res) {
  return DA_LIB(mysql_fetch_lengths)(Result(res).Res);
}

void TMySQLAPIClient::GetFieldInfo(PMYSQL_RES res, uint32_t index, TMySqlFieldRecord& field, bool) {
  DA_ASSERT(index < mysql_num_fields(res));
  const auto* f = reinterpret_cast<const TMyLibField*>(mysql_fetch_field_direct(res, index));
  DA_ASSERT(f != nullptr);
  auto text = [](const char* s, unsigned int length) { return s ? std::string(s, length) : std::string(); };
  // The numeric flag is the library's own addition: it is set by the rule the direct variant
  // applies to the server's flags, so that both describe a column alike.
  TMySqlFieldInfo info;
  info.Init(text(f->name, f->name_length), text(f->org_name, f->org_name_length),
            text(f->table, f->table_length), text(f->org_table, f->org_table_length),
            text(f->db, f->db_length), {},
            static_cast<uint32_t>(std::min<unsigned long>(f->length, UINT32_MAX)), 0, f->flags & ~mffNum,
            f->decimals, f->charsetnr, static_cast<uint8_t>(f->type));
  field.Name = std::move(info.Name);
  field.OrgName = info.OrgName.empty() ? field.Name : std::move(info.OrgName);
  field.Table = std::move(info.Table);
  field.OrgTable = std::move(info.OrgTable);
  field.Database = std::move(info.Database);
  field.Flags = info.Flags;
  field.Type = info.Type;
  field.Decimals = info.Decimals;
  field.CharsetNr = static_cast<uint16_t>(info.CharsetNr);
  field.Length = std::min<uint32_t>(info.Length, 65535);
}

int TMySQLAPIClient::mysql_server_init(int argc, char** argv, char** groups) {
  return DA_LIB(mysql_server_init)(argc, argv, groups);
}

void TMySQLAPIClient::mysql_server_end() {
  DA_LIB(mysql_server_end)();
}

// ---- statements ---------------------------------------------------------------------------------

PMYSQL_STMT TMySQLAPIClient::mysql_stmt_init(PMYSQL_CON mysql) {
  auto stmt = std::make_unique<TLibStmt>();
  stmt->Stmt = DA_LIB(mysql_stmt_init)(Session(mysql).Mysql);
  if (stmt->Stmt == nullptr) return nullptr;
  return reinterpret_cast<PMYSQL_STMT>(stmt.release());
}

int TMySQLAPIClient::mysql_stmt_prepare(PMYSQL_STMT stmt, std::string_view query) {
  return StmtStatus(stmt, DA_LIB(mysql_stmt_prepare)(Talking(stmt).Stmt, query.data(), query.size()) != 0);
}

int TMySQLAPIClient::mysql_stmt_execute(PMYSQL_STMT stmt) {
  return StmtStatus(stmt, DA_LIB(mysql_stmt_execute)(Talking(stmt).Stmt) != 0);
}

uint32_t TMySQLAPIClient::mysql_stmt_param_count(PMYSQL_STMT stmt) {
  return static_cast<uint32_t>(DA_LIB(mysql_stmt_param_count)(Stmt(stmt).Stmt));
}

bool TMySQLAPIClient::mysql_stmt_bind_param(PMYSQL_STMT stmt, PMYSQL_BIND bind) {
  return DA_LIB(mysql_stmt_bind_param)(Talking(stmt).Stmt, reinterpret_cast<TMyLibBind*>(bind));
}

bool TMySQLAPIClient::mysql_stmt_bind_result(PMYSQL_STMT stmt, PMYSQL_BIND bind) {
  return DA_LIB(mysql_stmt_bind_result)(Talking(stmt).Stmt, reinterpret_cast<TMyLibBind*>(bind));
}

uint32_t TMySQLAPIClient::mysql_stmt_field_count(PMYSQL_STMT stmt) {
  return DA_LIB(mysql_stmt_field_count)(Stmt(stmt).Stmt);
}

bool TMySQLAPIClient::mysql_stmt_close(PMYSQL_STMT stmt) {
  std::unique_ptr<TLibStmt> st(&Stmt(stmt));
  return DA_LIB(mysql_stmt_close)(st->Stmt);
}

// A procedure's call leaves further results behind the statement's own: they are read and dropped
// too, so that the connection is free for the next command.
bool TMySQLAPIClient::mysql_stmt_free_result(PMYSQL_STMT stmt) {
  void* st = Talking(stmt).Stmt;
  bool failed = DA_LIB(mysql_stmt_free_result)(st);
  if (FCalls->mysql_stmt_next_result)
    while (!failed && FCalls->mysql_stmt_next_result(st) == 0) failed = DA_LIB(mysql_stmt_free_result)(st);
  return failed;
}

uint32_t TMySQLAPIClient::mysql_stmt_errno(PMYSQL_STMT stmt) {
  const TLibStmt& st = Stmt(stmt);
  return st.ErrorNumber != 0 ? st.ErrorNumber : DA_LIB(mysql_stmt_errno)(st.Stmt);
}

std::string TMySQLAPIClient::mysql_stmt_error(PMYSQL_STMT stmt) {
  const TLibStmt& st = Stmt(stmt);
  return st.ErrorNumber != 0 ? st.ErrorText : Text(DA_LIB(mysql_stmt_error)(st.Stmt));
}

int TMySQLAPIClient::mysql_stmt_fetch(PMYSQL_STMT stmt) {
  const int rc = DA_LIB(mysql_stmt_fetch)(Talking(stmt).Stmt);
  return rc == 0 || rc == MYSQL_NO_DATA || rc == MYSQL_DATA_TRUNCATED ? rc : StmtStatus(stmt, true);
}

int TMySQLAPIClient::mysql_stmt_fetch_column(PMYSQL_STMT stmt, PMYSQL_BIND bind, uint32_t column,
                                             unsigned long offset) {
  void* st = Talking(stmt).Stmt;
  return StmtStatus(
      stmt, DA_LIB(mysql_stmt_fetch_column)(st, reinterpret_cast<TMyLibBind*>(bind), column, offset) != 0);
}

bool TMySQLAPIClient::mysql_stmt_send_long_data(PMYSQL_STMT stmt, uint32_t paramNr, const char* data,
                                                unsigned long length) {
  return DA_LIB(mysql_stmt_send_long_data)(Talking(stmt).Stmt, paramNr, data, length);
}

// Field descriptions alone: they never fetch, so they forget the connection at once.
PMYSQL_RES TMySQLAPIClient::mysql_stmt_result_metadata(PMYSQL_STMT stmt) {
  void* res = DA_LIB(mysql_stmt_result_metadata)(Stmt(stmt).Stmt);
  if (res == nullptr) return nullptr;
  ForgetConnection(res);
  return reinterpret_cast<PMYSQL_RES>(new TLibResult{res, nullptr});
}

PMYSQL_RES TMySQLAPIClient::mysql_stmt_param_metadata(PMYSQL_STMT stmt) {
  void* res = DA_LIB(mysql_stmt_param_metadata)(Stmt(stmt).Stmt);
  if (res == nullptr) return nullptr;
  ForgetConnection(res);
  return reinterpret_cast<PMYSQL_RES>(new TLibResult{res, nullptr});
}

uint64_t TMySQLAPIClient::mysql_stmt_affected_rows(PMYSQL_STMT stmt) {
  return DA_LIB(mysql_stmt_affected_rows)(Stmt(stmt).Stmt);
}

int TMySQLAPIClient::StmtExecute(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) {
  TLibStmt& st = Talking(stmt);
  const std::vector<TMySqlStmtParam> values = MySqlStmtParams(params);
  const auto sent = MySqlSentParams(values);
  if (sent.size() != mysql_stmt_param_count(stmt)) {
    // The library would read as many records as the statement has parameters.
    st.ErrorNumber = CR_PARAMS_NOT_BOUND;
    st.ErrorText = MySqlErrorMessage(CR_PARAMS_NOT_BOUND);
    return CR_PARAMS_NOT_BOUND;
  }
  TLibParams bound;
  BindParams(sent, unicode, bound);  // conversion errors pass before anything is sent
  if (mysql_stmt_free_result(stmt)) return StmtStatus(stmt, true);
  st.Params = std::move(bound);
  if (!sent.empty() && DA_LIB(mysql_stmt_bind_param)(st.Stmt, st.Params.Binds.data()))
    return StmtStatus(stmt, true);
  return StmtStatus(stmt, DA_LIB(mysql_stmt_execute)(st.Stmt) != 0);
}

int TMySQLAPIClient::StmtBindParams(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) {
  TLibStmt& st = Talking(stmt);
  const std::vector<TMySqlStmtParam> values = MySqlStmtParams(params);
  const auto sent = MySqlSentParams(values);
  if (sent.size() != mysql_stmt_param_count(stmt)) {
    st.ErrorNumber = CR_PARAMS_NOT_BOUND;
    st.ErrorText = MySqlErrorMessage(CR_PARAMS_NOT_BOUND);
    return CR_PARAMS_NOT_BOUND;
  }
  TLibParams bound;
  BindParams(sent, unicode, bound);  // conversion errors pass before anything is bound
  st.Params = std::move(bound);
  return StmtStatus(stmt, !sent.empty() && DA_LIB(mysql_stmt_bind_param)(st.Stmt, st.Params.Binds.data()));
}

// Byte values are read by the library from the offset on; numbers, dates and times are whole
// values the library would write at their full size, so they come from the fetched row.
int TMySQLAPIClient::StmtFetchColumn(PMYSQL_STMT stmt, uint32_t index, uint32_t offset, void* dest,
                                     uint32_t length, uint32_t& copied) {
  TLibStmt& st = Talking(stmt);
  DA_ASSERT(index < st.Columns.size());
  const TLibColumn& c = st.Columns[index];
  if (c.Temporal || c.BufferType != mftBlob || c.IsNull)
    return TMySQLAPI::StmtFetchColumn(stmt, index, offset, dest, length, copied);
  copied = 0;
  if (offset >= c.Length || length == 0) return 0;
  TMyLibBind part = st.ResultBinds[index];
  unsigned long total = 0;
  my_bool_t isNull = 0, error = 0;
  part.buffer = dest;
  part.buffer_length = length;
  part.length = &total;
  part.is_null = &isNull;
  part.error = &error;
  if (DA_LIB(mysql_stmt_fetch_column)(st.Stmt, &part, index, offset) != 0) return StmtStatus(stmt, true);
  copied = static_cast<uint32_t>(std::min<unsigned long>(length, c.Length - offset));
  return 0;
}

int TMySQLAPIClient::StmtBindResults(PMYSQL_STMT stmt) {
  TLibStmt& st = Talking(stmt);
  void* meta = DA_LIB(mysql_stmt_result_metadata)(st.Stmt);
  const uint32_t count = meta ? DA_LIB(mysql_num_fields)(meta) : 0;
  st.Columns.assign(count, TLibColumn());
  st.ResultBinds.assign(count, TMyLibBind{});
  for (uint32_t i = 0; i < count; ++i) {
    PlanColumn(*DA_LIB(mysql_fetch_field_direct)(meta, i), st.Columns[i]);
    BindColumn(st.Columns[i], st.ResultBinds[i]);
  }
  if (meta) {
    ForgetConnection(meta);
    DA_LIB(mysql_free_result)(meta);
  }
  return StmtStatus(stmt, DA_LIB(mysql_stmt_bind_result)(st.Stmt, st.ResultBinds.data()));
}

int TMySQLAPIClient::StmtFetchRow(PMYSQL_STMT stmt) {
  TLibStmt& st = Talking(stmt);
  const int rc = DA_LIB(mysql_stmt_fetch)(st.Stmt);
  if (rc == MYSQL_NO_DATA) return rc;
  if (rc != 0 && rc != MYSQL_DATA_TRUNCATED) return StmtStatus(stmt, true);
  bool rebind = false;
  for (uint32_t i = 0; i < st.Columns.size(); ++i) {
    TLibColumn& c = st.Columns[i];
    if (c.IsNull) continue;
    if (c.Temporal) {
      c.EncodedLength = EncodeTemporal(c.Time, c.BufferType, c.Buffer.data());
    } else if (c.Truncated) {
      // The value is longer than the buffer: the buffer grows to it, and the rest is read.
      c.Buffer.resize(c.Length);
      TMyLibBind whole = st.ResultBinds[i];
      whole.buffer = c.Buffer.data();
      whole.buffer_length = c.Buffer.size();
      if (DA_LIB(mysql_stmt_fetch_column)(st.Stmt, &whole, i, 0) != 0) return StmtStatus(stmt, true);
      c.Truncated = 0;
      BindColumn(c, st.ResultBinds[i]);
      rebind = true;
    }
  }
  return StmtStatus(stmt, rebind && DA_LIB(mysql_stmt_bind_result)(st.Stmt, st.ResultBinds.data()));
}

void TMySQLAPIClient::StmtGetLengths(PMYSQL_STMT stmt, std::vector<uint32_t>& lengths) {
  const TLibStmt& st = Stmt(stmt);
  lengths.resize(st.Columns.size());
  for (size_t i = 0; i < lengths.size(); ++i) {
    const TLibColumn& c = st.Columns[i];
    lengths[i] = c.IsNull                  ? 0
                 : c.Temporal              ? c.EncodedLength
                 : c.BufferType == mftBlob ? static_cast<uint32_t>(c.Length)
                                           : static_cast<uint32_t>(c.Buffer.size());
  }
}

const uint8_t* TMySQLAPIClient::StmtGetColumnPtr(PMYSQL_STMT stmt, uint32_t index) {
  const TLibStmt& st = Stmt(stmt);
  DA_ASSERT(index < st.Columns.size());
  const TLibColumn& c = st.Columns[index];
  return c.IsNull ? nullptr : c.Buffer.data();
}
