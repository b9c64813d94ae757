#include "console/MyLoginConnection.h"

#include "mysql/MySQLConnection.h"

TMyLoginConnection::TMyLoginConnection(std::string initialCharset)
    : FConnection(std::make_unique<TMySQLConnection>()) {
  FConnection->SetProp(prConnectionTimeout, Variant(kConnectTimeoutSeconds));
  if (!initialCharset.empty()) FConnection->SetProp(prCharset, Variant(initialCharset));
}

TMyLoginConnection::~TMyLoginConnection() = default;

void TMyLoginConnection::Close() {
  FConnection->Disconnect();
}

void TMyLoginConnection::Open(const TConnectTarget& target) {
  FConnection->SetServer(target.Server);
  FConnection->SetProp(prPort, Variant(target.Port));
  FConnection->SetUsername(target.Uid);
  FConnection->SetPassword(target.Pwd);
  FConnection->SetProp(prDatabase, Variant(target.Database));
  // Setting the same set again changes nothing, so no comparison is needed.
  if (!target.Charset.empty()) FConnection->SetProp(prCharset, Variant(target.Charset));
  FConnection->Connect("");
}

bool TMyLoginConnection::Connected() const {
  return FConnection->GetConnected();
}

std::unique_ptr<TLoginConnection> MakeMyLoginConnection(int index) {
  return std::make_unique<TMyLoginConnection>(index == 0 ? "gb2312" : "");
}
