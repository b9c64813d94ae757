// TCustomConnection: the base of connection components. Datasets and other clients register
// with it; a disconnect tells them (datasets close), a connect tells them too.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/runtime/Components.h"

class TDataSet;
class TCustomConnection;

class TCustomConnection : public TComponent {
 public:
  using TConnectionNotifyEvent = std::function<void(TCustomConnection* sender)>;
  using TConnectChangeEvent = std::function<void(TCustomConnection* sender, bool connecting)>;
  using TLoginEvent = std::function<void(TCustomConnection* sender, const std::string& username,
                                         const std::string& password)>;

  explicit TCustomConnection(TComponent* owner = nullptr);
  // Derived connections disconnect in their own destructor, while DoDisconnect still reaches
  // them; here the clients are only detached.
  ~TCustomConnection() override;

  bool Connected() const { return GetConnected(); }
  // Connecting: BeforeConnect, DoConnect, the clients are told, AfterConnect. Disconnecting:
  // BeforeDisconnect, the clients are told (registered datasets close), DoDisconnect,
  // AfterDisconnect. Nothing happens when the state is already the one asked for. While the
  // component is being loaded, connecting is only noted and happens in Loaded.
  virtual void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  // Whether a login dialog is to ask for the user name and password when connecting.
  bool LoginPrompt = false;
  TLoginEvent OnLogin;
  TConnectionNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

  // Clients: a dataset (closed on disconnect) or any component with an optional callback.
  // A client that is destroyed unregisters itself.
  virtual void RegisterClient(TComponent* client, TConnectChangeEvent event = nullptr);
  virtual void UnRegisterClient(TComponent* client);
  int DataSetCount() const;
  // EListError outside 0..DataSetCount-1.
  TDataSet* DataSets(int index) const;
  int ClientCount() const noexcept { return static_cast<int>(FClients.size()); }

 protected:
  virtual bool GetConnected() const { return false; }
  virtual void DoConnect() {}
  virtual void DoDisconnect() {}
  // Tells every client that the connection opened or closed.
  void SendConnectEvent(bool connecting);
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;
  // Whether Connected was set while loading.
  bool StreamedConnected() const noexcept { return FStreamedConnected; }

 private:
  struct Client {
    TComponent* Component;
    TConnectChangeEvent Event;
  };
  std::vector<Client> FClients;
  bool FStreamedConnected = false;
};
