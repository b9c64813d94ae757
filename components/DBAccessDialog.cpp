#include "components/DBAccessDialog.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include "components/DBAccess.h"
#include "core/DAConsts.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/IniFile.h"
#include "platform/runtime/LocaleCompare.h"

namespace {

std::mutex& ProcLock() {
  static std::mutex lock;
  return lock;
}

TConnectDialogProc& DisplayProc() {
  static TConnectDialogProc proc;
  return proc;
}

std::string DefaultSettingsFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string dir;
  if (config != nullptr && *config != '\0') {
    dir = config;
  } else {
    const char* home = std::getenv("HOME");
    dir = std::string(home != nullptr ? home : ".") + "/.config";
  }
  return dir + "/dataaccess/connect.ini";
}

std::vector<std::string> ReadServers(const TIniFile& ini, const std::string& storeName) {
  std::vector<std::string> servers;
  for (int i = 1; i < 1000; ++i) {
    const std::string name = storeName + " " + std::to_string(i);
    if (!ini.ValueExists("Connect", name)) break;
    servers.push_back(ini.ReadString("Connect", name, ""));
  }
  return servers;
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

TCustomConnectDialog::TCustomConnectDialog(TComponent* owner)
    : TComponent(owner), SettingsFile(DefaultSettingsFile()) {
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
  // A language without its own texts shows the English ones.
  for (int i = 0; i < 6; ++i) {
    std::string text = ConnectDialogText(base + i);
    if (text.empty()) text = ConnectDialogText(100 + i);
    *captions[i] = text.substr(0, 50);
  }
}

std::string TCustomConnectDialog::LogInfoSection() const {
  const std::string path = GetKeyPath();
  return path.empty() ? "Connect" : "Connect\\" + path;
}

void TCustomConnectDialog::GetServerList(TStringList& list) {
  list.Clear();
  try {
    const TIniFile ini(SettingsFile);
    for (const std::string& server : ReadServers(ini, GetServerStoreName())) list.Add(server);
  } catch (const EIniFileException&) {
    // An unreadable settings file remembers nothing.
  }
}

void TCustomConnectDialog::LoadLogInfo() {
  try {
    const TIniFile ini(SettingsFile);
    const std::string section = LogInfoSection();
    if (ini.ValueExists(section, "Username"))
      FConnection->SetUsername(ini.ReadString(section, "Username", ""));
    if (ini.ValueExists(section, GetServerStoreName()))
      FConnection->SetServer(ini.ReadString(section, GetServerStoreName(), ""));
  } catch (const EIniFileException&) {
    // An unreadable settings file remembers nothing.
  }
}

// A login that worked is remembered; one whose user name or server the file could not give back
// whole (a line break in it) is not. A file that cannot be written raises EIniFileException.
void TCustomConnectDialog::SaveLogInfo() {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(SettingsFile).parent_path(), ignored);
  TIniFile ini(SettingsFile);
  const std::string storeName = GetServerStoreName();
  const std::string server = FConnection->Server(), username = FConnection->Username();
  if (!ini.CanHold(server) || !ini.CanHold(username)) return;
  std::vector<TIniValue> values = {{LogInfoSection(), "Username", username},
                                   {LogInfoSection(), storeName, server}};
  std::vector<std::string> servers{server};
  for (const std::string& old : ReadServers(ini, storeName)) {
    bool known = false;
    for (const std::string& s : servers) known = known || SameAsciiCaseless(s, old);
    if (!known) servers.push_back(old);
  }
  for (size_t i = 0; i < servers.size(); ++i)
    values.push_back({"Connect", storeName + " " + std::to_string(i + 1), servers[i]});
  ini.WriteValues(values);
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
  if (StoreLogInfo) LoadLogInfo();
  const bool ok = proc && proc(*this);
  if (ok && StoreLogInfo && FConnection != nullptr) SaveLogInfo();
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
