#include "mysql/MySqlApiEmbedded.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "core/DAConsts.h"
#include "mysql/MySqlEmbRecords.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/SyncObjs.h"

namespace {

constexpr char SStartedOnce[] =
    "The embedded server has already been started once in this process and cannot be started again; restart "
    "the program.";
constexpr char SOtherParams[] =
    "The embedded server runs with other parameters and cannot be restarted in this process; restart the "
    "program "
    "to use the new parameters.";

// Whether this process ever called the server's start: the library keeps its state (it is not
// unloaded by dlclose), and a second start crashes it.
std::atomic<bool>& ServerInitCalled() {
  static std::atomic<bool> called{false};
  return called;
}

std::vector<std::string> EffectiveParams(const std::vector<std::string>& lines) {
  std::vector<std::string> params;
  for (const std::string& line : lines)
    if (!line.empty() && line[0] != '#') params.push_back(line);
  return params;
}

std::string ProgramName() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string("program") : exe.filename().string();
}

// The server reports to the standard error while it starts ("Got ERROR: "<text>" errno: <n>").
// What it writes there is collected to name the reason of a failed start, then written on to the
// standard error, so nothing is lost.
class TStderrCapture {
 public:
  TStderrCapture() {
    std::fflush(stderr);
    FFile = ::memfd_create("embedded-start", MFD_CLOEXEC);
    FSaved = FFile >= 0 ? ::dup(STDERR_FILENO) : -1;
    if (FSaved < 0 || ::dup2(FFile, STDERR_FILENO) < 0) Close();
  }
  ~TStderrCapture() { Finish(); }
  TStderrCapture(const TStderrCapture&) = delete;
  TStderrCapture& operator=(const TStderrCapture&) = delete;

  // Restores the standard error and returns what was written meanwhile.
  std::string Finish() {
    if (FSaved < 0) return {};
    std::fflush(stderr);
    ::dup2(FSaved, STDERR_FILENO);
    std::string text;
    char buffer[4096];
    ::lseek(FFile, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(FFile, buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<size_t>(n));
    for (size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    Close();
    return text;
  }

 private:
  int FFile = -1;
  int FSaved = -1;

  void Close() {
    if (FSaved >= 0) ::close(FSaved);
    if (FFile >= 0) ::close(FFile);
    FSaved = FFile = -1;
  }
};

// The last error among the server's reports: the quoted text of its last "Got ERROR" line, else
// its last line that names an error.
std::string LastReportedError(const std::string& text) {
  static constexpr std::string_view Prefix = "Got ERROR: \"";
  std::string last;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    if (line.substr(0, Prefix.size()) == Prefix) {
      const size_t close = line.rfind("\" errno:");
      last = std::string(line.substr(Prefix.size(), close == std::string_view::npos || close < Prefix.size()
                                                        ? std::string_view::npos
                                                        : close - Prefix.size()));
    } else if (line.find("ERROR") != std::string_view::npos) {
      last = std::string(line);
    }
    start = end + 1;
  }
  return last;
}

}  // namespace

TMySQLAPIEmbedded::TMySQLAPIEmbedded()
    : TMySQLAPIClient(DefaultLibraryName, "Embedded Server", MyEmbeddedLibLayout, false) {}

TMySQLAPIEmbedded::~TMySQLAPIEmbedded() {
  if (OpenConnections() != 0) return;  // the server stays up for them until the process ends
  try {
    TMySQLAPIEmbedded::Unload();
  } catch (...) {
  }
}

TMySQLAPIEmbedded& MyAPIEmbedded() {
  static TMySQLAPIEmbedded instance;
  return instance;
}

void TMySQLAPIEmbedded::SetParams(const TStringList& params) {
  std::lock_guard lock(LoadLock());
  FParams.clear();
  for (int i = 0; i < params.Count(); ++i) FParams.push_back(params[i]);
}

bool TMySQLAPIEmbedded::Started() const {
  std::lock_guard lock(LoadLock());
  return FStarted;
}

std::string TMySQLAPIEmbedded::LastServerError() const {
  std::lock_guard lock(LoadLock());
  return FLastServerError;
}

std::string TMySQLAPIEmbedded::DataFolder(const std::vector<std::string>& params) {
  static constexpr std::string_view DataDir = "--datadir=", BaseDir = "--basedir=";
  std::string dataDir, baseDir;
  for (const std::string& p : params) {
    if (p.starts_with(DataDir)) dataDir = p.substr(DataDir.size());
    if (p.starts_with(BaseDir)) baseDir = p.substr(BaseDir.size());
  }
  if (dataDir.empty() && !baseDir.empty()) dataDir = (std::filesystem::path(baseDir) / "data").string();
  if (dataDir.empty()) return {};
  return std::filesystem::absolute(dataDir).lexically_normal().string();
}

void TMySQLAPIEmbedded::Load() {
  std::lock_guard lock(LoadLock());
  LoadEntries();
}

void TMySQLAPIEmbedded::Unload() {
  std::lock_guard lock(LoadLock());
  if (FStarted) {
    CheckNoConnections();
    mysql_server_end();
    FStarted = false;
    FDataLock.reset();
  }
  UnloadEntries();
}

PMYSQL_CON TMySQLAPIEmbedded::mysql_init(PMYSQL_CON mysql) {
  Start();
  return TMySQLAPIClient::mysql_init(mysql);
}

void TMySQLAPIEmbedded::Start() {
  std::lock_guard lock(LoadLock());
  const std::vector<std::string> params = EffectiveParams(FParams);
  std::string text;
  for (const std::string& p : params) text += p + "\n";
  if (FStarted) {
    if (text == FStartedParams) return;
    throw Exception(SOtherParams);
  }
  if (ServerInitCalled()) throw Exception(SStartedOnce);
  if (!LoadEntries()) RaiseNotLoaded();

  std::unique_ptr<TMutex> dataLock;
  const std::string folder = DataFolder(params);
  if (!folder.empty()) {
    dataLock =
        std::make_unique<TMutex>((std::filesystem::path(folder) / LockFileName).string(), DataFolderWaitMs);
    dataLock->Acquire();
  }
  if (RunServerInit(params) != 0) {
    std::string message = MessageText(SServerInitFailed);
    if (!FLastServerError.empty()) message += "\r\n" + FLastServerError;
    throw Exception(message);
  }
  FStarted = true;
  FStartedParams = text;
  FDataLock = std::move(dataLock);
}

int TMySQLAPIEmbedded::RunServerInit(const std::vector<std::string>& params) {
  FArgs.assign(1, "ignored");
  FArgs.insert(FArgs.end(), params.begin(), params.end());
  FArgv.clear();
  for (std::string& arg : FArgs) FArgv.push_back(arg.data());
  FArgv.push_back(nullptr);
  FGroupNames = {"embedded", "server", ProgramName()};
  FGroups.clear();
  for (std::string& group : FGroupNames) FGroups.push_back(group.data());
  FGroups.push_back(nullptr);

  ServerInitCalled() = true;
  TStderrCapture capture;
  const int rc = mysql_server_init(static_cast<int>(FArgs.size()), FArgv.data(), FGroups.data());
  FLastServerError = LastReportedError(capture.Finish());
  return rc;
}
