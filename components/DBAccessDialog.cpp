#include "components/DBAccessDialog.h"

#include <mutex>
#include <utility>

#include "components/DBAccess.h"
#include "core/DAConsts.h"

namespace {

std::mutex& ProcLock() {
  static std::mutex lock;
  return lock;
}

TConnectDialogProc& DisplayProc() {
  static TConnectDialogProc proc;
  return proc;
}

}  // namespace

void SetConnectDialogProc(TConnectDialogProc proc) {
  std::lock_guard<std::mutex> guard(ProcLock());
  DisplayProc() = std::move(proc);
}

std::string ConnectDialogText(int id) {
  static const char* const english[] = {"Connect", "User Name", "Password", "Server",  "Connect",
                                        "Cancel",  "Database",  "Port",     "Protocol"};
  if (id >= 100 && id <= 108) return english[id - 100];
  return {};
}

TCustomConnectDialog::TCustomConnectDialog(TComponent* owner) : TComponent(owner) {
  SetLabelSet(1);
}

TCustomConnectDialog::~TCustomConnectDialog() {
  SetConnection(nullptr);
}

void TCustomConnectDialog::SetConnection(TCustomDAConnection* value) {
  if (value == FConnection) return;
  if (FConnection != nullptr) RemoveFreeNotification(FConnection);
  FConnection = value;
  if (value != nullptr) FreeNotification(value);
}

void TCustomConnectDialog::ConnectionGone(TCustomDAConnection* connection) {
  if (FConnection == connection) FConnection = nullptr;
}

void TCustomConnectDialog::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component == FConnection) FConnection = nullptr;
  TComponent::Notification(component, operation);
}

void TCustomConnectDialog::SetLabelSet(int value) {
  FLabelSet = value;
  if (value == 0) return;
  static const int bases[] = {100, 100, 200, 300, 400, 500, 600, 0, 700};
  const int base = value >= 1 && value <= 8 ? bases[value] : 100;
  std::string* captions[] = {&Caption,     &UsernameLabel, &PasswordLabel,
                             &ServerLabel, &ConnectButton, &CancelButton};
  for (int i = 0; i < 6; ++i) *captions[i] = ConnectDialogText(base + i).substr(0, 50);
}

bool TCustomConnectDialog::Execute() {
  if (FConnection == nullptr) throw EDatabaseError(MessageText(SConnectionNotDefined));
  const std::string username = FConnection->Username(), password = FConnection->Password(),
                    server = FConnection->Server();
  TConnectDialogProc proc;
  {
    std::lock_guard<std::mutex> guard(ProcLock());
    proc = DisplayProc();
  }
  const bool ok = proc && proc(*this);
  if (!ok && FConnection != nullptr) {
    FConnection->SetUsername(username);
    FConnection->SetPassword(password);
    FConnection->SetServer(server);
  }
  return ok;
}

void TCRDataSource::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TDataSource*>(source);
  if (other == nullptr) return TDataSource::Assign(source);
  SetDataSet(other->DataSet());
  AutoEdit = other->AutoEdit;
  SetEnabled(other->Enabled());
}

void TCRDataSource::Loaded() {
  TDataSource::Loaded();
  FDesignCreate = false;
}
