#include "console/common/MyLoginConnection.h"

#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

TMyLoginConnection::TMyLoginConnection(std::string initialCharset)
    : FConnection(std::make_unique<TMyConnection>()) {
  FConnection->SetConnectionTimeout(kConnectTimeoutSeconds);
  // The connection's own statements (table lists, ExecSQL) wait no longer than browsing does.
  FConnection->InternalCommand().SetCommandTimeout(kReadTimeoutSeconds);
  if (!initialCharset.empty()) FConnection->Options().SetCharset(initialCharset);
  // DECIMAL values are held digit for digit: held as doubles they would show rounded, and a
  // value typed into a grid would be written rounded, or refused as out of range.
  FConnection->Options().SetNumericType(ntFmtBCD);
}

TMyLoginConnection::~TMyLoginConnection() = default;

void TMyLoginConnection::Close() {
  FConnection->Close();
}

void TMyLoginConnection::Open(const TConnectTarget& target) {
  FConnection->SetServer(target.Server);
  FConnection->SetPort(target.Port);
  FConnection->SetUsername(target.Uid);
  FConnection->SetPassword(target.Pwd);
  FConnection->SetDatabase(target.Database);
  // The connection is closed here, so the set may change; the same set again changes nothing.
  if (!target.Charset.empty()) FConnection->Options().SetCharset(target.Charset);
  FConnection->Open();
}

bool TMyLoginConnection::Connected() const {
  return FConnection->Connected();
}

TCustomDAConnection* TMyLoginConnection::Connection() {
  return FConnection.get();
}

TMySQLConnection& TMyLoginConnection::Provider() {
  TMySQLConnection* provider = FConnection->MyIConnection();
  DA_ASSERT(provider != nullptr);
  return *provider;
}

std::unique_ptr<TMyLoginConnection> OpenSessionLike(TMyConnection& source) {
  auto own = std::make_unique<TMyLoginConnection>(std::string());
  own->MyConnection().Assign(&source);
  own->MyConnection().Open();
  return own;
}

std::unique_ptr<TLoginConnection> MakeMyLoginConnection(int index) {
  return std::make_unique<TMyLoginConnection>(index == 0 ? "gb2312" : "");
}

bool HasTableNamed(TCustomDAConnection& connection, const QString& table) {
  TStringList names;
  connection.GetTableNames(names);
  for (int i = 0; i < names.Count(); ++i)
    if (QString::fromStdString(names[i]).compare(table, Qt::CaseInsensitive) == 0) return true;
  return false;
}
