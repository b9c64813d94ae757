// Unit DBAccess, the login dialog component a connection may use, and the library's data source. The dialog
// itself is shown by a display procedure that a user-interface unit installs; without one, Execute answers
// false and the connection's settings stay as they were. The remembered logins live in a per-user
// settings file: section "Connect\<key path>" holds Username and the server, section "Connect" the
// servers used, "Server 1", "Server 2", ... with the latest first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/db/DataSource.h"
#include "platform/runtime/Components.h"

class TCustomDAConnection;
class TCustomConnectDialog;
class TStringList;

// Shows the dialog and answers whether the user confirmed it.
using TConnectDialogProc = std::function<bool(TCustomConnectDialog& dialog)>;
void SetConnectDialogProc(TConnectDialogProc proc);

class TCustomConnectDialog : public TComponent {
 public:
  explicit TCustomConnectDialog(TComponent* owner = nullptr);
  ~TCustomConnectDialog() override;

  TCustomDAConnection* Connection() const noexcept { return FConnection; }
  void SetConnection(TCustomDAConnection* value);
  // The connection is being destroyed: forget it.
  void ConnectionGone(TCustomDAConnection* connection);

  uint16_t Retries = 3;
  bool SavePassword = false;
  bool StoreLogInfo = true;
  int LabelSet() const noexcept { return FLabelSet; }
  // The language of the captions; a non-zero value loads the six captions of that language.
  virtual void SetLabelSet(int value);
  std::string Caption, UsernameLabel, PasswordLabel, ServerLabel, ConnectButton, CancelButton;

  virtual std::string GetKeyPath() const { return {}; }
  // The servers remembered in the settings file, latest first.
  virtual void GetServerList(TStringList& list);
  virtual std::string GetServerStoreName() const { return "Server"; }
  // EDatabaseError "Connection is not defined" (65113) without a connection. False when the user
  // cancelled or no display procedure is installed; the connection's Username, Password and
  // Server are then restored. With StoreLogInfo, EIniFileException when the confirmed login
  // cannot be written to the settings file (the connection keeps what was typed).
  virtual bool Execute();
  // The settings file of the remembered logins: $XDG_CONFIG_HOME (else ~/.config) +
  // "/dataaccess/connect.ini" by default.
  std::string SettingsFile;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  std::string LogInfoSection() const;
  void LoadLogInfo();
  void SaveLogInfo();

  TCustomDAConnection* FConnection = nullptr;
  int FLabelSet = 0;
};

// The caption texts of the dialogs by resource id (100 to 108 English); empty for other ids.
std::string ConnectDialogText(int id);

// The library's data source (its MySQL form feeds the console's grids).
class TCRDataSource : public TDataSource {
 public:
  explicit TCRDataSource(TComponent* owner = nullptr) : TDataSource(owner), FDesignCreate(IsDesigning()) {}
  // DataSet, AutoEdit and Enabled.
  void Assign(TPersistent* source) override;

 protected:
  void Loaded() override;

 private:
  bool FDesignCreate;
};
