#include "components/DADump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "components/DAScript.h"
#include "components/DBAccess.h"
#include "components/MyAccess.h"
#include "core/CRTableInfo.h"
#include "core/DAConsts.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

constexpr size_t kFlushSize = 1 << 16;

[[noreturn]] void RaiseOS(const std::string& what, int error) {
  throw EOSError(error, what + ": " + std::strerror(error));
}

// A stream over an open file descriptor, so that the file can be made durable before it is
// renamed into place. The descriptor is closed (and the file removed) by the owner.
class TFdStream : public TStream {
 public:
  TFdStream(int fd, std::string name) : FFd(fd), FName(std::move(name)) {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    const char* p = static_cast<const char*>(buffer);
    int64_t left = count;
    while (left > 0) {
      const ssize_t n = ::write(FFd, p, static_cast<size_t>(left));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) RaiseOS("Cannot write " + FName, errno);
      p += n;
      left -= n;
    }
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    const off_t at = ::lseek(FFd, offset,
                             origin == soFromBeginning ? SEEK_SET
                             : origin == soFromCurrent ? SEEK_CUR
                                                       : SEEK_END);
    if (at < 0) throw EStreamError("Stream seek error");
    return at;
  }
  void SetSize(int64_t newSize) override {
    if (::ftruncate(FFd, newSize) != 0) RaiseOS("Cannot resize " + FName, errno);
  }

 private:
  int FFd;
  std::string FName;
};

void SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void TDADumpOptions::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TDADumpOptions*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  GenerateHeader = other->GenerateHeader;
  AddDrop = other->AddDrop;
  QuoteNames = other->QuoteNames;
}

// ---- TDumpWriter --------------------------------------------------------------------------------

TDumpWriter::~TDumpWriter() = default;

void TDumpWriter::Line(std::string_view text) {
  FBuffer.append(text);
  EndLine();
}

void TDumpWriter::Lines(std::string_view text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    Line(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
}

void TDumpWriter::EndLine() {
  FBuffer.append("\r\n");
  if (FBuffer.size() >= kFlushSize) Flush();
}

void TDumpWriter::Flush() {
  if (FBuffer.empty()) return;
  FStream.WriteBuffer(FBuffer.data(), static_cast<int64_t>(FBuffer.size()));
  FBuffer.clear();
}

// ---- TDADump ------------------------------------------------------------------------------------

TDADump::TDADump(TComponent* owner) : TComponent(owner), FOptions(std::make_unique<TDADumpOptions>()) {
  FSQL.SetKeepLineBreaks(true);
}

TDADump::~TDADump() = default;

void TDADump::SetConnection(TCustomDAConnection* value) {
  if (value == FConnection) return;
  if (FConnection != nullptr) RemoveFreeNotification(FConnection);
  FConnection = value;
  if (value != nullptr) FreeNotification(value);
}

void TDADump::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == FConnection) FConnection = nullptr;
}

void TDADump::SetSQL(const TStringList& value) {
  if (value.ExactText() == FSQL.ExactText()) return;
  FSQL.BeginUpdate();
  FSQL.Assign(value);
  FSQL.EndUpdate();
}

std::string TDADump::GetTableNames() const {
  return NamesToText(FTableNames);
}

void TDADump::SetTableNamesText(const std::string& value) {
  TextToNames(value, FTableNames);
}

std::unique_ptr<TDADumpOptions> TDADump::CreateOptions() {
  return std::make_unique<TDADumpOptions>();
}

std::unique_ptr<TDAScript> TDADump::CreateScript() {
  DA_ASSERT_MSG(false, "abstract: a dump of a server kind makes its own script");
  return nullptr;
}

std::string TDADump::QuoteName(const std::string& name) const {
  return TCRTableInfo::Class().NormalizeNameEx(name, FLeftQuote, FRightQuote, FOptions->QuoteNames);
}

void TDADump::CheckStopped() {
  if (FStopped.load()) throw EAbort("Operation aborted");
}

void TDADump::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TDADump*>(source);
  if (other == nullptr) return TComponent::Assign(source);
  FTableNames.Assign(other->FTableNames);
  SetConnection(other->FConnection);
  SetSQL(other->FSQL);
  Debug = other->Debug;
  FOptions->Assign(other->FOptions.get());
}

// ---- backup -------------------------------------------------------------------------------------

void TDADump::Backup() {
  TStringStream stream;
  FSQL.BeginUpdate();
  try {
    BackupToStream(stream);
  } catch (...) {
    FSQL.SetText(stream.DataString());
    FSQL.EndUpdate();
    throw;
  }
  FSQL.SetText(stream.DataString());
  FSQL.EndUpdate();
}

void TDADump::BackupToFile(const std::string& fileName) {
  namespace fs = std::filesystem;
  const fs::path target(fileName);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) RaiseOS("Cannot create a file in " + folder.string(), errno);
  struct stat old {};
  const mode_t mode = ::stat(fileName.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  try {
    if (::fchmod(fd, mode) != 0) RaiseOS("Cannot set the mode of " + temp, errno);
    TFdStream stream(fd, temp);
    BackupToStream(stream);
    if (::fsync(fd) != 0) RaiseOS("Cannot write " + temp, errno);
    if (::close(fd) != 0) {
      const int error = errno;
      ::unlink(temp.c_str());
      RaiseOS("Cannot write " + temp, error);
    }
  } catch (...) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  if (::rename(temp.c_str(), fileName.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    RaiseOS("Cannot replace " + fileName, error);
  }
  SyncFolder(folder);
}

// ---- restore ------------------------------------------------------------------------------------

namespace {

// Failures named in the error itself; the rest are in RestoreFailures.
constexpr size_t kFailuresListed = 3;
constexpr size_t kHeadLength = 80;

// The text on one line: line ends and tabs become single blanks, blanks at either end go.
std::string OneLine(const std::string& text, size_t limit) {
  std::string head;
  for (char c : text) {
    if (head.size() >= limit) {
      // Not inside a multi-byte character: cut at a byte of its own.
      while (!head.empty() && static_cast<unsigned char>(head.back()) >= 0x80) head.pop_back();
      return head + "...";
    }
    const bool blank = c == '\r' || c == '\n' || c == '\t';
    if (blank && (head.empty() || head.back() == ' ')) continue;
    head.push_back(blank ? ' ' : c);
  }
  while (!head.empty() && head.back() == ' ') head.pop_back();
  return head;
}

std::string FailureReport(const std::vector<TDARestoreFailure>& failures) {
  std::string text = Format("%d statements failed", {static_cast<int>(failures.size())});
  for (size_t i = 0; i < failures.size() && i < kFailuresListed; ++i)
    text += Format("\nline %d: %s: %s",
                   {static_cast<int>(failures[i].Line), failures[i].Head, failures[i].Message});
  if (failures.size() > kFailuresListed)
    text += Format("\n... and %d more", {static_cast<int>(failures.size() - kFailuresListed)});
  return text;
}

}  // namespace

void TDADump::RunRestore(TDAScript& script, int64_t textLength) {
  if (FConnection == nullptr) throw EDatabaseError(MessageText(SConnectionNotDefined));
  ResetStop();
  FRestoreFailures.clear();
  script.SetConnection(FConnection);
  script.SetDebug(Debug);
  // A dump is plain SQL in the character set its SET NAMES names: `&b` is an operator and the
  // bytes go as they are.
  script.ExpandMacros = false;
  script.SendTextAsIs = true;
  script.OnError = [this](TComponent* sender, const std::exception& e, const std::string& sql,
                          TErrorAction& action) {
    const auto& s = static_cast<const TDAScript&>(*sender);
    FRestoreFailures.push_back(
        {OneLine(e.what(), std::string::npos), s.StartLine() + 1, OneLine(sql, kHeadLength)});
    // A statement's own error leaves the session for the next one; a lost connection does not,
    // and going on would reconnect and restore the rest around a gap.
    action = FConnection->Connected() ? eaContinue : eaFail;
  };
  script.BeforeExecute = [this](TComponent* sender, std::string& sql, bool& omit) {
    if (omit) return;
    const auto& s = static_cast<const TDAScript&>(*sender);
    std::string reason = RestoreRefusal(s, sql);
    if (reason.empty()) return;
    omit = true;
    FRestoreFailures.push_back({std::move(reason), s.StartLine() + 1, OneLine(sql, kHeadLength)});
  };
  FConnection->InternalConnect();
  try {
    RestoreStarting();
    while (script.ExecuteNext()) {
      RestoreStatementRan(script);
      CheckStopped();
      if (OnRestoreProgress && textLength > 0)
        OnRestoreProgress(
            this, static_cast<int>(std::lround(double(script.StartPos()) * 100.0 / double(textLength))));
    }
  } catch (...) {
    FConnection->InternalDisconnect();
    throw;
  }
  FConnection->InternalDisconnect();
  if (!FRestoreFailures.empty()) throw EDatabaseError(FailureReport(FRestoreFailures));
}

void TDADump::Restore() {
  std::unique_ptr<TDAScript> script = CreateScript();
  // A byte-order mark is no part of the first statement: the server refuses that statement with it.
  if (FSQL.Count() > 0 && FSQL[0].rfind(kUtf8Bom, 0) == 0) {
    TStringList text;
    text.SetKeepLineBreaks(true);
    text.SetText(std::string_view(FSQL.ExactText()).substr(kUtf8Bom.size()));
    script->SetSQL(text);
  } else {
    script->SetSQL(FSQL);
  }
  int64_t length = 0;
  for (int i = 0; i < FSQL.Count(); ++i) length += static_cast<int64_t>(FSQL[i].size()) + 2;
  RunRestore(*script, length);
}

void TDADump::RestoreFromStream(TStream& stream) {
  std::unique_ptr<TDAScript> script = CreateScript();
  const int64_t start = stream.Position();
  char head[3] = {};
  if (stream.Read(head, 3) != 3 || std::string_view(head, 3) != kUtf8Bom) stream.Seek(start, soFromBeginning);
  const int64_t length = stream.Size() - stream.Position();
  script->SetSourceStream(&stream);
  RunRestore(*script, length);
}

void TDADump::RestoreFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead);
  RestoreFromStream(stream);
}
