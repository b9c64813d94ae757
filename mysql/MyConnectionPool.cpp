#include "mysql/MyConnectionPool.h"

#include <mutex>
#include <utility>

#include "core/MemData.h"
#include "mysql/MySqlApiChoice.h"
#include "mysql/MySqlApiClient.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlApiEmbedded.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Variant.h"

namespace {

// The process's manager and the lock its creation takes.
struct TGlobalManager {
  std::mutex Lock;
  std::unique_ptr<TMyConnectionPoolManager> Manager;
};

TGlobalManager& Global() {
  // The APIs are made first so that they are freed after the manager, whose idle sessions they close.
  MyAPIDirect();
  MyAPIClient();
  MyAPIEmbedded();
  static TGlobalManager global;
  return global;
}

// Brackets the connect with the user interface's wait hooks.
class TWaitGuard {
 public:
  TWaitGuard() { StartWait(); }
  ~TWaitGuard() { StopWait(); }
  TWaitGuard(const TWaitGuard&) = delete;
  TWaitGuard& operator=(const TWaitGuard&) = delete;
};

}  // namespace

// ---- TMyConnectionParameters ------------------------------------------------------------------

void TMyConnectionParameters::AssignTo(TCRConnectionParameters& dest) const {
  if (auto* my = dynamic_cast<TMyConnectionParameters*>(&dest)) {
    my->Database = Database;
    my->Port = Port;
    my->IOHandler = IOHandler;
    my->ConnectionTimeout = ConnectionTimeout;
    my->IsolationLevel = IsolationLevel;
    my->Compress = Compress;
    my->UseUnicode = UseUnicode;
    my->Charset = Charset;
    my->Protocol = Protocol;
    my->Embedded = Embedded;
    my->NumericType = NumericType;
    my->Direct = Direct;
    my->ChipherList = ChipherList;
    my->CACert = CACert;
    my->Key = Key;
    my->Cert = Cert;
  }
  TCRConnectionParameters::AssignTo(dest);
}

std::unique_ptr<TCRConnectionParameters> TMyConnectionParameters::Clone() const {
  auto copy = std::make_unique<TMyConnectionParameters>();
  AssignTo(*copy);
  return copy;
}

bool TMyConnectionParameters::Equals(const TCRConnectionParameters* other) const {
  if (!TCRConnectionParameters::Equals(other)) return false;
  const auto* my = dynamic_cast<const TMyConnectionParameters*>(other);
  if (my == nullptr) return true;
  if (Database != my->Database || Port != my->Port || IOHandler != my->IOHandler ||
      ConnectionTimeout != my->ConnectionTimeout || IsolationLevel != my->IsolationLevel ||
      Compress != my->Compress || UseUnicode != my->UseUnicode || Charset != my->Charset ||
      Protocol != my->Protocol || Embedded != my->Embedded || NumericType != my->NumericType ||
      Direct != my->Direct)
    return false;
  return Protocol != mpSSL ||
         (ChipherList == my->ChipherList && CACert == my->CACert && Key == my->Key && Cert == my->Cert);
}

// ---- TMyLocalConnectionPool -------------------------------------------------------------------

TMyLocalConnectionPool::TMyLocalConnectionPool(const TMyConnectionParameters& parameters)
    : TCRLocalConnectionPool(parameters) {}

std::unique_ptr<TCRConnection> TMyLocalConnectionPool::CreateNewConnection() {
  const auto& p = static_cast<const TMyConnectionParameters&>(GetParameters());
  auto connection = std::make_unique<TMySQLConnection>();
  connection->SetProp(prDatabase, p.Database);
  connection->SetProp(prConnectionTimeout, p.ConnectionTimeout);
  connection->SetProp(prPort, p.Port);
  connection->SetProp(prIsolationLevel, static_cast<int>(p.IsolationLevel));
  connection->IOHandler = p.IOHandler;
  connection->SetProp(prMySQLAPI, Variant::FromObject(&ChooseMySQLAPI(p.Embedded, p.Direct)));
  connection->SetProp(prCompress, p.Compress);
  connection->SetProp(prUseUnicode, p.UseUnicode);
  connection->SetProp(prCharset, p.Charset);
  connection->SetProp(prProtocol, static_cast<int>(p.Protocol));
  connection->SetProp(prNumericType, static_cast<int>(p.NumericType));
  connection->SetProp(prSSLChipherList, p.ChipherList);
  connection->SetProp(prSSLCACert, p.CACert);
  connection->SetProp(prSSLKey, p.Key);
  connection->SetProp(prSSLCert, p.Cert);
  TWaitGuard wait;
  connection->SetUsername(p.Username);
  connection->SetPassword(p.Password);
  connection->SetServer(p.Server);
  connection->Connect(std::string());
  return connection;
}

// ---- TMyConnectionPoolManager -----------------------------------------------------------------

std::shared_ptr<TCRConnectionPool> TMyConnectionPoolManager::CreateConnectionPool(
    const TCRConnectionParameters& parameters) {
  const auto* my = dynamic_cast<const TMyConnectionParameters*>(&parameters);
  DA_ASSERT_MSG(my != nullptr, "MySQL pools need TMyConnectionParameters");
  return std::make_shared<TMyLocalConnectionPool>(*my);
}

std::unique_ptr<TMySQLConnection> TMyConnectionPoolManager::GetPooledConnection(
    const TMyConnectionParameters& parameters) {
  TGlobalManager& global = Global();
  TMyConnectionPoolManager* manager;
  {
    std::lock_guard<std::mutex> lock(global.Lock);
    if (!global.Manager) global.Manager = std::make_unique<TMyConnectionPoolManager>();
    manager = global.Manager.get();
  }
  std::unique_ptr<TCRConnection> connection = manager->GetConnection(parameters);
  return std::unique_ptr<TMySQLConnection>(static_cast<TMySQLConnection*>(connection.release()));
}

void TMyConnectionPoolManager::Clear() {
  TGlobalManager& global = Global();
  std::lock_guard<std::mutex> lock(global.Lock);
  if (global.Manager) global.Manager->ClearPools();
}
