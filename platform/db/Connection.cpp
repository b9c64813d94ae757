#include "platform/db/Connection.h"

#include <algorithm>

#include "platform/db/DataSet.h"
#include "platform/runtime/Format.h"

TCustomConnection::TCustomConnection(TComponent* owner) : TComponent(owner) {}

TCustomConnection::~TCustomConnection() {
  Destroying();
  while (!FClients.empty()) UnRegisterClient(FClients.back().Component);
}

void TCustomConnection::SetConnected(bool value) {
  if (IsLoading() && value) {
    FStreamedConnected = true;
    return;
  }
  if (value == GetConnected()) return;
  if (value) {
    if (BeforeConnect) BeforeConnect(this);
    DoConnect();
    SendConnectEvent(true);
    if (AfterConnect) AfterConnect(this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(this);
    SendConnectEvent(false);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(this);
  }
}

void TCustomConnection::Loaded() {
  TComponent::Loaded();
  if (!FStreamedConnected) return;
  FStreamedConnected = false;
  SetConnected(true);
}

void TCustomConnection::RegisterClient(TComponent* client, TConnectChangeEvent event) {
  if (!client) return;
  for (Client& c : FClients)
    if (c.Component == client) {
      c.Event = std::move(event);
      return;
    }
  FClients.push_back({client, std::move(event)});
  FreeNotification(client);
}

void TCustomConnection::UnRegisterClient(TComponent* client) {
  auto it = std::find_if(FClients.begin(), FClients.end(),
                         [client](const Client& c) { return c.Component == client; });
  if (it == FClients.end()) return;
  FClients.erase(it);
  RemoveFreeNotification(client);
}

int TCustomConnection::DataSetCount() const {
  int n = 0;
  for (const Client& c : FClients)
    if (dynamic_cast<TDataSet*>(c.Component)) ++n;
  return n;
}

TDataSet* TCustomConnection::DataSets(int index) const {
  int n = 0;
  for (const Client& c : FClients)
    if (auto* ds = dynamic_cast<TDataSet*>(c.Component)) {
      if (n == index) return ds;
      ++n;
    }
  throw EListError(Format("List index out of bounds (%d)", {index}));
}

void TCustomConnection::SendConnectEvent(bool connecting) {
  // A client may unregister while it is told: walk a copy and skip those gone meanwhile.
  std::vector<TComponent*> clients;
  for (const Client& c : FClients) clients.push_back(c.Component);
  for (TComponent* component : clients) {
    auto it = std::find_if(FClients.begin(), FClients.end(),
                           [component](const Client& c) { return c.Component == component; });
    if (it == FClients.end()) continue;
    TConnectChangeEvent event = it->Event;
    if (event) event(this, connecting);
    if (auto* ds = dynamic_cast<TDataSet*>(component)) ds->DataEvent(deConnectChange, connecting ? 1 : 0);
  }
}

void TCustomConnection::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  auto it = std::find_if(FClients.begin(), FClients.end(),
                         [component](const Client& c) { return c.Component == component; });
  if (it != FClients.end()) FClients.erase(it);
}
