#include "mysql/MySqlApi.h"

#include <cstring>
#include <functional>
#include <mutex>

#include "core/CLRClasses.h"

// The C API's row: one pointer per column, nil for NULL.
namespace {
char** CRow(PMYSQL_ROW row) {
  DA_ASSERT(row != nullptr);
  return reinterpret_cast<char**>(row);
}
}  // namespace

TMySQLAPI::~TMySQLAPI() = default;

void TMySQLAPI::NotSupported(const char* call) {
  NotSupportedException e;
  e.SetMessage(std::string(call) + " is not supported by this client API");
  throw e;
}

// ---- client-library calls: none in the base class ------------------------------------------------

uint32_t TMySQLAPI::mysql_num_fields(PMYSQL_RES) {
  NotSupported("mysql_num_fields");
}
PMYSQL_FIELD TMySQLAPI::mysql_fetch_field_direct(PMYSQL_RES, uint32_t) {
  NotSupported("mysql_fetch_field_direct");
}
uint32_t TMySQLAPI::mysql_field_count(PMYSQL_CON) {
  NotSupported("mysql_field_count");
}
uint64_t TMySQLAPI::mysql_affected_rows(PMYSQL_CON) {
  NotSupported("mysql_affected_rows");
}
uint64_t TMySQLAPI::mysql_insert_id(PMYSQL_CON) {
  NotSupported("mysql_insert_id");
}
uint32_t TMySQLAPI::mysql_errno(PMYSQL_CON) {
  NotSupported("mysql_errno");
}
std::string TMySQLAPI::mysql_error(PMYSQL_CON) {
  NotSupported("mysql_error");
}
std::string TMySQLAPI::mysql_info(PMYSQL_CON) {
  NotSupported("mysql_info");
}
uint32_t TMySQLAPI::mysql_thread_id(PMYSQL_CON) {
  NotSupported("mysql_thread_id");
}
std::string TMySQLAPI::mysql_character_set_name(PMYSQL_CON) {
  NotSupported("mysql_character_set_name");
}
PMYSQL_CON TMySQLAPI::mysql_init(PMYSQL_CON) {
  NotSupported("mysql_init");
}
int TMySQLAPI::mysql_ssl_set(PMYSQL_CON, const std::string&, const std::string&, const std::string&,
                             const std::string&, const std::string&) {
  NotSupported("mysql_ssl_set");
}
PMYSQL_CON TMySQLAPI::mysql_real_connect(PMYSQL_CON, const std::string&, const std::string&,
                                         const std::string&, const std::string&, uint32_t, const std::string&,
                                         uint32_t) {
  NotSupported("mysql_real_connect");
}
void TMySQLAPI::mysql_close(PMYSQL_CON) {
  NotSupported("mysql_close");
}
int TMySQLAPI::mysql_select_db(PMYSQL_CON, const std::string&) {
  NotSupported("mysql_select_db");
}
int TMySQLAPI::mysql_real_query(PMYSQL_CON, std::string_view) {
  NotSupported("mysql_real_query");
}
int TMySQLAPI::QueryWhileWaiting(PMYSQL_CON mysql, std::string_view query, const std::function<void()>&) {
  return mysql_real_query(mysql, query);
}
int TMySQLAPI::mysql_kill(PMYSQL_CON, uint32_t) {
  NotSupported("mysql_kill");
}
int TMySQLAPI::mysql_ping(PMYSQL_CON) {
  NotSupported("mysql_ping");
}
int TMySQLAPI::mysql_reset_connection(PMYSQL_CON) {
  NotSupported("mysql_reset_connection");
}
std::string TMySQLAPI::mysql_get_server_info(PMYSQL_CON) {
  NotSupported("mysql_get_server_info");
}
std::string TMySQLAPI::mysql_get_client_info() {
  NotSupported("mysql_get_client_info");
}
std::string TMySQLAPI::mysql_get_host_info(PMYSQL_CON) {
  NotSupported("mysql_get_host_info");
}
PMYSQL_RES TMySQLAPI::mysql_use_result(PMYSQL_CON) {
  NotSupported("mysql_use_result");
}
int TMySQLAPI::mysql_options(PMYSQL_CON, int, uint32_t) {
  NotSupported("mysql_options");
}
void TMySQLAPI::mysql_free_result(PMYSQL_RES) {
  NotSupported("mysql_free_result");
}
PMYSQL_ROW TMySQLAPI::mysql_fetch_row(PMYSQL_RES) {
  NotSupported("mysql_fetch_row");
}
const unsigned long* TMySQLAPI::mysql_fetch_lengths(PMYSQL_RES) {
  NotSupported("mysql_fetch_lengths");
}
int TMySQLAPI::mysql_server_init(int, char**, char**) {
  NotSupported("mysql_server_init");
}
void TMySQLAPI::mysql_server_end() {
  NotSupported("mysql_server_end");
}
PMYSQL_STMT TMySQLAPI::mysql_stmt_init(PMYSQL_CON) {
  NotSupported("mysql_stmt_init");
}
int TMySQLAPI::mysql_stmt_prepare(PMYSQL_STMT, std::string_view) {
  NotSupported("mysql_stmt_prepare");
}
int TMySQLAPI::mysql_stmt_execute(PMYSQL_STMT) {
  NotSupported("mysql_stmt_execute");
}
uint32_t TMySQLAPI::mysql_stmt_param_count(PMYSQL_STMT) {
  NotSupported("mysql_stmt_param_count");
}
bool TMySQLAPI::mysql_stmt_bind_param(PMYSQL_STMT, PMYSQL_BIND) {
  NotSupported("mysql_stmt_bind_param");
}
bool TMySQLAPI::mysql_stmt_bind_result(PMYSQL_STMT, PMYSQL_BIND) {
  NotSupported("mysql_stmt_bind_result");
}
uint32_t TMySQLAPI::mysql_stmt_field_count(PMYSQL_STMT) {
  NotSupported("mysql_stmt_field_count");
}
bool TMySQLAPI::mysql_stmt_close(PMYSQL_STMT) {
  NotSupported("mysql_stmt_close");
}
bool TMySQLAPI::mysql_stmt_free_result(PMYSQL_STMT) {
  NotSupported("mysql_stmt_free_result");
}
uint32_t TMySQLAPI::mysql_stmt_errno(PMYSQL_STMT) {
  NotSupported("mysql_stmt_errno");
}
std::string TMySQLAPI::mysql_stmt_error(PMYSQL_STMT) {
  NotSupported("mysql_stmt_error");
}
int TMySQLAPI::mysql_stmt_fetch(PMYSQL_STMT) {
  NotSupported("mysql_stmt_fetch");
}
int TMySQLAPI::StmtBindParams(PMYSQL_STMT, const TParamDescs&, bool) {
  NotSupported("StmtBindParams");
}

int TMySQLAPI::StmtFetchColumn(PMYSQL_STMT stmt, uint32_t index, uint32_t offset, void* dest, uint32_t length,
                               uint32_t& copied) {
  std::vector<uint32_t> lengths;
  StmtGetLengths(stmt, lengths);
  DA_ASSERT(index < lengths.size());
  copied = 0;
  const uint8_t* value = StmtGetColumnPtr(stmt, index);
  if (value == nullptr || offset >= lengths[index]) return 0;
  copied = std::min(length, lengths[index] - offset);
  if (copied > 0) std::memcpy(dest, value + offset, copied);
  return 0;
}

int TMySQLAPI::mysql_stmt_fetch_column(PMYSQL_STMT, PMYSQL_BIND, uint32_t, unsigned long) {
  NotSupported("mysql_stmt_fetch_column");
}
bool TMySQLAPI::mysql_stmt_send_long_data(PMYSQL_STMT, uint32_t, const char*, unsigned long) {
  NotSupported("mysql_stmt_send_long_data");
}
PMYSQL_RES TMySQLAPI::mysql_stmt_result_metadata(PMYSQL_STMT) {
  NotSupported("mysql_stmt_result_metadata");
}
PMYSQL_RES TMySQLAPI::mysql_stmt_param_metadata(PMYSQL_STMT) {
  NotSupported("mysql_stmt_param_metadata");
}
uint64_t TMySQLAPI::mysql_stmt_affected_rows(PMYSQL_STMT) {
  NotSupported("mysql_stmt_affected_rows");
}
bool TMySQLAPI::mysql_more_results(PMYSQL_CON) {
  NotSupported("mysql_more_results");
}
int TMySQLAPI::mysql_next_result(PMYSQL_CON) {
  NotSupported("mysql_next_result");
}

// ---- version ------------------------------------------------------------------------------------

void TMySQLAPI::Initialize() {
  std::string version = mysql_get_client_info();
  int major = 0, minor = 0, release = 0;
  ParseMySQLVersion(version, major, minor, release);
  uint8_t level;
  if (major == 3)
    level = MYSQL_CLIENT_3;
  else if (major == 4 && minor == 0)
    level = MYSQL_CLIENT_40;
  else if (major == 4)
    level = release == 0 ? MYSQL_CLIENT_410 : MYSQL_CLIENT_411;
  else if (major == 5)
    level = MYSQL_CLIENT_411;
  else
    throw Exception("Invalid client version");
  SetClientVersion(std::move(version), level);
}

void TMySQLAPI::SetClientVersion(std::string version, uint8_t level) {
  std::lock_guard guard(FLock);
  FClientVersion = std::move(version);
  FClientLevel = level;
}

std::string TMySQLAPI::ClientVersion() const {
  std::lock_guard guard(FLock);
  return FClientVersion;
}

uint8_t TMySQLAPI::ClientLevel() const {
  std::lock_guard guard(FLock);
  return FClientLevel;
}

void TMySQLAPI::SetTimeout(PMYSQL_CON mysql, uint32_t seconds) {
  const uint8_t level = ClientLevel();
  if (level != MYSQL_CLIENT_DIRECT && level != MYSQL_CLIENT_410 && level != MYSQL_CLIENT_411) return;
  const uint32_t value = seconds == 0 ? 31536000 : seconds;
  mysql_options(mysql, MYSQL_OPT_READ_TIMEOUT, value);
  mysql_options(mysql, MYSQL_OPT_WRITE_TIMEOUT, value);
}

// ---- rows of the C API ------------------------------------------------------------------------

void TMySQLAPI::GetLengths(PMYSQL_RES res, std::vector<uint32_t>& lengths) {
  const uint32_t count = mysql_num_fields(res);
  const unsigned long* source = mysql_fetch_lengths(res);
  DA_ASSERT(source != nullptr || count == 0);
  lengths.resize(count);
  for (uint32_t i = 0; i < count; ++i) lengths[i] = static_cast<uint32_t>(source[i]);
}

bool TMySQLAPI::FieldIsNull(PMYSQL_ROW row, uint32_t index) {
  return CRow(row)[index] == nullptr;
}

const uint8_t* TMySQLAPI::GetFieldPtr(PMYSQL_RES, PMYSQL_ROW row, uint32_t index) {
  return reinterpret_cast<const uint8_t*>(CRow(row)[index]);
}

void TMySQLAPI::CopyFieldValueAt(PMYSQL_ROW row, uint32_t index, uint32_t offset, uint32_t length,
                                 void* dest) {
  const char* value = CRow(row)[index];
  if (length != 0 && value != nullptr) std::memcpy(dest, value + offset, length);
}

void TMySQLAPI::CopyFieldStringAt(PMYSQL_ROW row, uint32_t index, uint32_t offset, uint32_t length,
                                  char* dest) {
  CopyFieldValueAt(row, index, offset, length, dest);
  dest[length] = '\0';
}

namespace {

// A row description from per-column lengths and value addresses.
std::span<const TMySqlBind> DescribeColumns(const std::vector<uint32_t>& lengths,
                                            std::vector<TMySqlBind>& scratch,
                                            const std::function<const uint8_t*(uint32_t)>& valueOf) {
  scratch.resize(lengths.size());
  for (uint32_t i = 0; i < lengths.size(); ++i) {
    const uint8_t* value = valueOf(i);
    TMySqlBind& column = scratch[i];
    column.IsNull = value == nullptr ? 1 : 0;
    column.Position = reinterpret_cast<uintptr_t>(value);
    column.Length = value == nullptr ? 0 : lengths[i];
  }
  return scratch;
}

}  // namespace

std::span<const TMySqlBind> TMySQLAPI::GetRowColumns(PMYSQL_RES res, PMYSQL_ROW row,
                                                     std::vector<TMySqlBind>& scratch, const uint8_t*& base) {
  std::vector<uint32_t> lengths;
  GetLengths(res, lengths);
  base = nullptr;
  return DescribeColumns(lengths, scratch, [&](uint32_t i) { return GetFieldPtr(res, row, i); });
}

std::span<const TMySqlBind> TMySQLAPI::StmtGetRowColumns(PMYSQL_STMT stmt, std::vector<TMySqlBind>& scratch,
                                                         const uint8_t*& base) {
  std::vector<uint32_t> lengths;
  StmtGetLengths(stmt, lengths);
  base = nullptr;
  return DescribeColumns(lengths, scratch, [&](uint32_t i) { return StmtGetColumnPtr(stmt, i); });
}

const uint8_t* TMySQLAPI::GetFieldBuf(PMYSQL_ROW row, uint32_t index, uint32_t& position) {
  position = 0;
  return reinterpret_cast<const uint8_t*>(CRow(row)[index]);
}

std::string TMySQLAPI::GetFieldStr(PMYSQL_ROW row, uint32_t index) {
  const char* value = CRow(row)[index];
  return value ? std::string(value) : std::string();
}

// ---- statements: the direct variant's own ----------------------------------------------------------

int TMySQLAPI::StmtFetchRow(PMYSQL_STMT) {
  NotSupported("StmtFetchRow");
}
void TMySQLAPI::StmtGetLengths(PMYSQL_STMT, std::vector<uint32_t>&) {
  NotSupported("StmtGetLengths");
}
const uint8_t* TMySQLAPI::StmtGetColumnPtr(PMYSQL_STMT, uint32_t) {
  NotSupported("StmtGetColumnPtr");
}
