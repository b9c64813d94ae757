#include "components/MyAccessConnection.h"

#include <utility>

#include "components/MyAccessCommand.h"
#include "components/MyAccessDataSet.h"
#include "components/MyRowReader.h"
#include "components/OvrixMonitor.h"
#include "core/DAConsts.h"
#include "mysql/MyClasses.h"
#include "mysql/MyConnectionPool.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySQLRecordset.h"
#include "mysql/MySqlApiClient.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlApiEmbedded.h"
#include "mysql/MySqlTypes.h"
#include "mysql/MySqlVioTcp.h"

// ---- Options ------------------------------------------------------------------------------------

TCustomMyConnection& TCustomMyConnectionOptions::Connection() const {
  return *static_cast<TCustomMyConnection*>(FOwner);
}

void TCustomMyConnectionOptions::CheckInactive() const {
  if (FOwner == nullptr || !FOwner->GetConnected()) return;
  if (FOwner->IsDesigning() || (FOwner->ComponentState() & csUpdating) != 0)
    FOwner->Close();
  else
    throw EDatabaseError(MessageText(SConnectionOpen));
}

void TCustomMyConnectionOptions::SetUseUnicode(bool value) {
  if (value == FUseUnicode) return;
  CheckInactive();
  FUseUnicode = value;
  if (FOwner != nullptr) Connection().SetIProp(prUseUnicode, value);
}

void TCustomMyConnectionOptions::SetCharset(const std::string& value) {
  if (value == FCharset) return;
  CheckInactive();
  FCharset = value;
  if (FOwner != nullptr) Connection().SetIProp(prCharset, value);
}

void TCustomMyConnectionOptions::SetNumericType(TDANumericType value) {
  if (value == FNumericType) return;
  CheckInactive();
  FNumericType = value;
  if (FOwner != nullptr) Connection().SetIProp(prNumericType, int(value));
}

void TCustomMyConnectionOptions::Assign(TPersistent* source) {
  TDAConnectionOptions::Assign(source);
  if (auto* other = dynamic_cast<TCustomMyConnectionOptions*>(source)) {
    SetUseUnicode(other->FUseUnicode);
    SetCharset(other->FCharset);
    SetNumericType(other->FNumericType);
  }
}

void TMyConnectionOptions::SetCompress(bool value) {
  if (value == FCompress) return;
  CheckInactive();
  FCompress = value;
  if (FOwner != nullptr) Connection().SetIProp(prCompress, value);
}

void TMyConnectionOptions::SetProtocol(TMyProtocol value) {
  if (value == FProtocol) return;
  if (value == mpMemory)
    throw EDatabaseError("The shared-memory protocol is not supported on this system: use TCP or a socket");
  CheckInactive();
  FProtocol = value;
  if (FOwner != nullptr) Connection().SetIProp(prProtocol, int(value));
}

void TMyConnectionOptions::SetEmbedded(bool value) {
  if (value == FEmbedded) return;
  CheckInactive();
  FEmbedded = value;
  if (FOwner != nullptr && Connection().MyIConnection() != nullptr)
    TMyAccessUtils::SetAPI(*Connection().MyIConnection(), ChooseAPI());
}

void TMyConnectionOptions::SetDirect(bool value) {
  if (value == FDirect) return;
  CheckInactive();
  FDirect = value;
  if (FOwner != nullptr && Connection().MyIConnection() != nullptr)
    TMyAccessUtils::SetAPI(*Connection().MyIConnection(), ChooseAPI());
}

TMySQLAPI& TMyConnectionOptions::ChooseAPI() const {
  if (FEmbedded) return MyAPIEmbedded();
  if (FDirect) return MyAPIDirect();
  return MyAPIClient();
}

void TMyConnectionOptions::Assign(TPersistent* source) {
  TCustomMyConnectionOptions::Assign(source);
  if (auto* other = dynamic_cast<TMyConnectionOptions*>(source)) {
    SetCompress(other->FCompress);
    SetProtocol(other->FProtocol);
  }
}

void TMyConnectionSSLOptions::Set(std::string& field, const std::string& value, int prop) {
  if (value == field) return;
  if (FOwner != nullptr && FOwner->GetConnected()) {
    if (FOwner->IsDesigning() || (FOwner->ComponentState() & csUpdating) != 0)
      FOwner->Close();
    else
      throw EDatabaseError(MessageText(SConnectionOpen));
  }
  field = value;
  if (FOwner != nullptr) FOwner->SetIProp(prop, value);
}

void TMyConnectionSSLOptions::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TMyConnectionSSLOptions*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  SetChipherList(other->FChipherList);
  SetCACert(other->FCACert);
  SetKey(other->FKey);
  SetCert(other->FCert);
}

// ---- TCustomMyConnection ----------------------------------------------------------------------

TCustomMyConnection::TCustomMyConnection(TComponent* owner) : TCustomDAConnection(owner) {
  ReplaceOptions(CreateOptions());
  FCommand = std::make_unique<TMyCommand>();
  FCommand->SetConnection(this);
}

TCustomMyConnection::~TCustomMyConnection() {
  try {
    Close();
  } catch (...) {
    // Going away: a failing close leaves nothing to report to.
  }
  FCommand.reset();
}

TCustomMyConnectionOptions& TCustomMyConnection::Options() const {
  return static_cast<TCustomMyConnectionOptions&>(TCustomDAConnection::Options());
}

std::unique_ptr<TDAConnectionOptions> TCustomMyConnection::CreateOptions() {
  return std::make_unique<TCustomMyConnectionOptions>(this);
}

TCRConnectionClass TCustomMyConnection::GetIConnectionClass() const {
  return ProviderClassOf<TMySQLConnection, TCRConnection>();
}

TCRCommandClass TCustomMyConnection::GetICommandClass() const {
  return ProviderClassOf<TMySQLCommand, TCRCommand>();
}

TCRRecordSetClass TCustomMyConnection::GetIRecordSetClass() const {
  return ProviderClassOf<TMySQLRecordset, TCRRecordSet>();
}

TDASQLMonitorClass TCustomMyConnection::SQLMonitorClass() const {
  return &TCustomMySQLMonitor::GetCurrent;
}

void TCustomMyConnection::SetIProp(int prop, const Variant& value) {
  if (IConnection() != nullptr) IConnection()->SetProp(prop, value);
}

void TCustomMyConnection::CreateIConnection() {
  if (IConnection() != nullptr) return;
  if (!Pooling()) {
    auto c = std::make_unique<TMySQLConnection>();
    SetConnectionProps(*c);
    return SetIConnection(std::move(c));
  }
  TMyConnectionParameters params;
  FillConnectionParameters(params);
  SetIConnection(TMyConnectionPoolManager::GetPooledConnection(params));
}

void TCustomMyConnection::FillConnectionParameters(TMyConnectionParameters& params) {
  params.MinPoolSize = PoolingOptions().MinPoolSize;
  params.MaxPoolSize = PoolingOptions().MaxPoolSize;
  params.ConnectionLifetime = PoolingOptions().ConnectionLifetime;
  params.Validate = PoolingOptions().Validate;
  params.Username = Username();
  params.Server = Server();
  params.Password = Password();
  params.Database = FDatabase;
  params.ConnectionTimeout = FConnectionTimeout;
  params.IsolationLevel = FIsolationLevel;
  params.UseUnicode = Options().UseUnicode();
  params.Charset = Options().Charset();
  params.Port = 0;
  params.Compress = false;
  params.Embedded = false;
  params.Direct = true;
}

void TCustomMyConnection::SetConnectionProps(TMySQLConnection& c) {
  c.SetProp(prDatabase, FDatabase);
  c.SetProp(prConnectionTimeout, FConnectionTimeout);
  c.SetProp(prIsolationLevel, int(FIsolationLevel));
  c.SetProp(prUseUnicode, Options().UseUnicode());
  c.SetProp(prCharset, Options().Charset());
  c.SetProp(prNumericType, int(Options().NumericType()));
}

void TCustomMyConnection::SetDatabase(const std::string& value) {
  if (value == FDatabase) return;
  if (TMySQLConnection* c = MyIConnection()) c->SetDatabase(value);
  FDatabase = value;
  FTableTransactions.clear();
}

void TCustomMyConnection::DoDisconnect() {
  FTableTransactions.clear();
  TCustomDAConnection::DoDisconnect();
}

bool TCustomMyConnection::RollbackLeftWrites() {
  constexpr int notRolledBack = 1196;
  TCustomMyDataSet reader(nullptr);
  reader.Internal = true;
  reader.Command().Quiet = true;
  reader.SetConnection(this);
  reader.SetSQLText("SHOW WARNINGS");
  reader.Open();
  bool left = false;
  TField* code = reader.FindField("Code");
  for (; code != nullptr && !left && !reader.Eof(); reader.Next()) left = code->AsInteger() == notRolledBack;
  reader.Close();
  if (left) FTableTransactions.clear();
  return left;
}

std::optional<bool> TCustomMyConnection::TableHasTransactions(const std::string& database,
                                                              const std::string& table) {
  const auto key = std::make_pair(database, table);
  if (auto cached = FTableTransactions.find(key); cached != FTableTransactions.end()) return cached->second;
  TCustomMyDataSet reader(nullptr);
  reader.Internal = true;
  reader.Command().Quiet = true;
  reader.SetConnection(this);
  // The name compares without case in information_schema: a table of that exact name first.
  reader.SetSQLText(
      "SELECT e.TRANSACTIONS FROM information_schema.TABLES t "
      "JOIN information_schema.ENGINES e ON e.ENGINE = t.ENGINE "
      "WHERE t.TABLE_SCHEMA = COALESCE(:db, DATABASE()) AND t.TABLE_NAME = :name "
      "ORDER BY BINARY t.TABLE_NAME = :exact DESC LIMIT 1");
  TDAParam* db = reader.Params().ParamByName("db");
  db->SetDataType(ftString);
  if (database.empty())
    db->Clear();
  else
    db->SetAsString(database);
  reader.Params().ParamByName("name")->SetAsString(table);
  reader.Params().ParamByName("exact")->SetAsString(table);
  reader.Open();
  std::optional<bool> answer;
  if (!reader.Eof() && !reader.Fields()[0]->IsNull()) answer = reader.Fields()[0]->AsString() == "YES";
  reader.Close();
  return FTableTransactions[key] = answer;
}

void TCustomMyConnection::SetConnectionTimeout(int value) {
  if (value == FConnectionTimeout) return;
  FConnectionTimeout = value;
  SetIProp(prConnectionTimeout, value);
}

void TCustomMyConnection::SetIsolationLevel(TMyIsolationLevel value) {
  if (value == FIsolationLevel) return;
  FIsolationLevel = value;
  SetIProp(prIsolationLevel, int(value));
}

std::string TCustomMyConnection::GetServerVersion() {
  InternalConnect();
  std::string version;
  try {
    version = MyIConnection()->GetServerVersion();
  } catch (...) {
    InternalDisconnect();
    throw;
  }
  InternalDisconnect();
  return version;
}

// ---- Lists --------------------------------------------------------------------------------------

namespace {

// ASCII letters lowered, multi-byte characters (whose trail bytes may look like letters) kept.
std::string LowerName(const std::string& name, TCharsetKind charset) {
  std::string out = name;
  const char* end = out.data() + out.size();
  for (char* p = out.data(); p < end;) {
    const size_t n = MbCharLen(charset, p, end);
    if (n == 1 && *p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
    p += n;
  }
  return out;
}

void AddAll(TStringList& list, const std::vector<std::string>& names) {
  for (const std::string& name : names) list.Add(name);
}

}  // namespace

TCharsetKind TCustomMyConnection::StatementCharset() const {
  if (Options().UseUnicode()) return AnsiCharsetKind();
  const TMySQLConnection* session = MyIConnection();
  if (session != nullptr && session->GetMySQL() != nullptr) return session->GetTextCharset();
  return SQLTextCharset(Options().Charset(), false);
}

TLiteralStyle TCustomMyConnection::LiteralStyle() const {
  if (const TMySQLConnection* c = MyIConnection(); c && Connected())
    return TLiteralStyle(c->GetTextCharset(), c->NoBackslashEscapes());
  return TLiteralStyle(SQLTextCharset(Options().Charset(), Options().UseUnicode()));
}

void TCustomMyConnection::SetServerWaitProc(TMyServerWaitProc proc) noexcept {
  SetMySqlWaitProc(proc);
}

std::string SqlLiteral(std::string_view bytes, TLiteralStyle style) {
  return QuoteString(bytes, style.Charset, style.NoBackslashEscapes);
}

void TCustomMyConnection::GetTableNames(TStringList& list) {
  list.Clear();
  InternalConnect();
  try {
    // A stalled server ends the listing within the time-out of the connection's own statements.
    AddAll(list, TMyRowReader::FirstColumn(*this, "SHOW tables", FCommand->CommandTimeout()));
  } catch (...) {
    InternalDisconnect();
    throw;
  }
  InternalDisconnect();
}

void TCustomMyConnection::ListWithoutDatabase(TStringList& list,
                                              const std::function<void(const std::string& database)>& fill) {
  list.Clear();
  const bool wasOpen = GetConnected();
  const std::string database = FDatabase;
  // Closed, the server must accept the login even when Database names no database.
  if (!wasOpen) SetDatabase({});
  auto restore = [&] {
    if (wasOpen) return;
    SetConnected(false);
    SetDatabase(database);
  };
  try {
    InternalConnect();
  } catch (...) {
    restore();
    throw;
  }
  try {
    fill(database);
  } catch (...) {
    InternalDisconnect();
    restore();
    throw;
  }
  InternalDisconnect();
  restore();
}

void TCustomMyConnection::GetDatabaseNames(TStringList& list) {
  ListWithoutDatabase(
      list, [&](const std::string&) { AddAll(list, TMyRowReader::FirstColumn(*this, "SHOW databases")); });
}

void TCustomMyConnection::GetStoredProcNames(TStringList& list) {
  ListWithoutDatabase(list, [&](const std::string& database) {
    const TMySQLConnection& c = *MyIConnection();
    int major = 0, minor = 0, release = 0;
    ParseMySQLVersion(c.GetServerVersion(), major, minor, release);
    if (major < 5) return;
    if (major == 5 && minor == 0 && release == 0)
      return AddAll(list, TMyRowReader::FirstColumn(*this, "SELECT name FROM mysql.proc ORDER BY name"));
    // The name as a proper literal: back quotes or a quote in it must neither break nor widen
    // the query.
    const TCharsetKind charset = StatementCharset();
    const std::string literal =
        QuoteString(database.empty() ? std::string("mysql") : LowerName(database, charset), charset);
    if (major == 5 && minor == 0 && release <= 3)
      return AddAll(list, TMyRowReader::FirstColumn(*this, "SELECT name FROM mysql.proc WHERE LOWER(db) = " +
                                                               literal + " ORDER BY name"));
    AddAll(list, TMyRowReader::FirstColumn(*this,
                                           "SELECT ROUTINE_NAME FROM information_schema.routines WHERE "
                                           "LOWER(routine_schema) = " +
                                               literal + " ORDER BY ROUTINE_NAME"));
  });
}

std::string TCustomMyConnection::GetClientVersion() {
  if (GetConnected()) return MyIConnection()->GetClientVersion();
  TMySQLConnection probe;
  TMyAccessUtils::SetAPI(probe, MyAPIClient());
  return probe.GetClientVersion();
}

void TCustomMyConnection::CheckPrepareSupport() {
  TMySQLConnection* c = MyIConnection();
  if (c == nullptr || !c->IsClient41()) throw EDatabaseError(MessageText(SPrepareNotSupportedByClient));
  if (!c->IsServer41()) throw EDatabaseError(MessageText(SPrepareNotSupportedByServer));
}

bool TCustomMyConnection::IsFatalError(const EDAError& e) const {
  if (dynamic_cast<const EMyError*>(&e) == nullptr) return false;
  return e.ErrorCode == 2003 || e.ErrorCode == 2013 || e.ErrorCode == 2006 || e.ErrorCode == 1053;
}

bool TCustomMyConnection::RowsPendingOnSession(TCustomDADataSet& dataSet) {
  auto* recordSet = dynamic_cast<TMySQLRecordset*>(dataSet.CRRecordSet());
  if (recordSet != nullptr && recordSet->GetFetchConnection() != nullptr) return false;
  return TCustomDAConnection::RowsPendingOnSession(dataSet);
}

bool TCustomMyConnection::IsKeyViolation(const EDAError& e) const {
  return dynamic_cast<const EMyError*>(&e) != nullptr && e.ErrorCode == 1062;
}

std::unique_ptr<TCustomDADataSet> TCustomMyConnection::CreateDataSet() {
  auto dataSet = std::make_unique<TCustomMyDataSet>();
  dataSet->SetConnection(this);
  return dataSet;
}

std::unique_ptr<TCustomDASQL> TCustomMyConnection::CreateSQL() {
  auto command = std::make_unique<TMyCommand>();
  command->SetConnection(this);
  return command;
}

// Rows nobody asked for are read and dropped, and every further result of the text too, so the
// session is ready for the next command; an error of a later statement is raised.
void TCustomMyConnection::DropResults(TMySQLConnection& c) {
  TMySQLAPI& api = *c.GetAPI();
  for (;;) {
    if (PMYSQL_RES result = api.mysql_use_result(c.GetMySQL())) api.mysql_free_result(result);
    c.CheckErrno(this);
    if (!c.IsClient41()) return;
    const int next = api.mysql_next_result(c.GetMySQL());
    if (next < 0) return;
    if (next > 0) c.RaiseError(this);
  }
}

void TCustomMyConnection::ExecSQL(const std::string& text, const std::vector<Variant>& values) {
  if (!values.empty()) {
    FCommand->SetSQLText(text);
    TDAParams& params = FCommand->Params();
    for (int i = 0; i < params.Count(); ++i) {
      if (size_t(i) < values.size())
        params[i]->SetValue(values[size_t(i)]);
      else
        params[i]->Clear();
    }
    return FCommand->Execute();
  }
  InternalConnect();
  try {
    for (;;) {
      try {
        RunOperation(clExecute, [&] {
          TMySQLConnection& c = *MyIConnection();
          TMySQLAPI& api = *c.GetAPI();
          api.SetTimeout(c.GetMySQL(), uint32_t(FCommand->CommandTimeout()));
          // Converted as the command converts a text with values, so both ways store the same.
          const std::string sent = c.GetUseUnicode() ? AnsiToUtf8(text) : text;
          // The API reports a failure by its result only: raise it through the error path.
          c.NoteStatementText(sent);
          c.CheckStatus(api.mysql_real_query(c.GetMySQL(), sent), this);
          DropResults(c);
        });
        break;
      } catch (const EFailOver&) {
        // Reconnected: the text is sent again (the connection allows this once).
      }
    }
  } catch (...) {
    InternalDisconnect();
    throw;
  }
  InternalDisconnect();
}

void TCustomMyConnection::Assign(TPersistent* source) {
  TCustomDAConnection::Assign(source);
  if (auto* other = dynamic_cast<TCustomMyConnection*>(source)) {
    SetDatabase(other->FDatabase);
    SetConnectionTimeout(other->FConnectionTimeout);
    SetIsolationLevel(other->FIsolationLevel);
  }
}

// ---- TMyConnection ------------------------------------------------------------------------------

TMyConnection::TMyConnection(TComponent* owner) : TCustomMyConnection(owner) {
  ReplaceOptions(CreateOptions());
  FSSLOptions = std::make_unique<TMyConnectionSSLOptions>(this);
}

TMyConnection::~TMyConnection() {
  try {
    Close();
  } catch (...) {
    // Going away: a failing close leaves nothing to report to.
  }
  SetIOHandler(nullptr);
}

TMyConnectionOptions& TMyConnection::Options() const {
  return static_cast<TMyConnectionOptions&>(TCustomDAConnection::Options());
}

std::unique_ptr<TDAConnectionOptions> TMyConnection::CreateOptions() {
  return std::make_unique<TMyConnectionOptions>(this);
}

void TMyConnection::SetPort(int value) {
  if (value == FPort) return;
  Close();
  FPort = value;
  SetIProp(prPort, value);
}

void TMyConnection::SetIOHandler(TMyIOHandler* value) {
  if (value == FIOHandler) return;
  if (FIOHandler != nullptr) FIOHandler->UnRegisterClient(this);
  FIOHandler = value;
  if (value != nullptr) value->RegisterClient(this);
  if (MyIConnection() != nullptr) MyIConnection()->IOHandler = value;
}

void TMyConnection::DoConnect() {
  if (MyIConnection() != nullptr && MyIConnection()->GetPool() == nullptr)
    TMyAccessUtils::SetAPI(*MyIConnection(), Options().ChooseAPI());
  TCustomMyConnection::DoConnect();
}

void TMyConnection::FillConnectionParameters(TMyConnectionParameters& params) {
  TCustomMyConnection::FillConnectionParameters(params);
  params.Port = FPort;
  params.Compress = Options().Compress();
  params.Protocol = Options().Protocol();
  params.Embedded = Options().Embedded();
  params.Direct = Options().Direct();
  params.IOHandler = FIOHandler;
  params.ChipherList = FSSLOptions->ChipherList();
  params.CACert = FSSLOptions->CACert();
  params.Key = FSSLOptions->Key();
  params.Cert = FSSLOptions->Cert();
}

void TMyConnection::SetConnectionProps(TMySQLConnection& c) {
  TCustomMyConnection::SetConnectionProps(c);
  c.IOHandler = FIOHandler;
  c.SetProp(prPort, FPort);
  TMyAccessUtils::SetAPI(c, Options().ChooseAPI());
  c.SetProp(prCompress, Options().Compress());
  c.SetProp(prProtocol, int(Options().Protocol()));
  c.SetProp(prSSLChipherList, FSSLOptions->ChipherList());
  c.SetProp(prSSLCACert, FSSLOptions->CACert());
  c.SetProp(prSSLKey, FSSLOptions->Key());
  c.SetProp(prSSLCert, FSSLOptions->Cert());
}

std::string TMyConnection::GetClientVersion() {
  if (Options().Direct() && !Options().Embedded()) return "4.1.3 Direct";
  if (GetConnected()) return MyIConnection()->GetClientVersion();
  TMySQLConnection probe;
  TMyAccessUtils::SetAPI(probe,
                         Options().Embedded() ? static_cast<TMySQLAPI&>(MyAPIEmbedded()) : MyAPIClient());
  return probe.GetClientVersion();
}

void TMyConnection::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TMyConnection*>(source)) {
    SetPort(other->FPort);
    FSSLOptions->Assign(other->FSSLOptions.get());
  }
  TCustomMyConnection::Assign(source);
}
