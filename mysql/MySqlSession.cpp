#include "mysql/MySqlSession.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

#include "mysql/MySqlLocalInfile.h"
#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlVioPipe.h"
#include "mysql/MySqlVioTcp.h"
#include "mysql/MySqlVioTcpSSL.h"
#include "platform/runtime/Classes.h"

namespace {

// A file request can only answer a statement with the word LOCAL in it (in any character set a
// session may use, its bytes are those of ASCII); other statements, long INSERTs above all, need
// not be kept for the check.
bool MayAskForLocalFile(std::span<const uint8_t> text) {
  static constexpr char kWord[] = "local";
  return std::search(text.begin(), text.end(), kWord, kWord + 5,
                     [](uint8_t c, char w) { return (c | 0x20) == static_cast<uint8_t>(w); }) != text.end();
}

constexpr uint32_t kDefaultPort = 3306;
constexpr const char* kDefaultHost = "localhost";
constexpr int kMaxLoginRounds = 3;  // greeting reply, one switch, one more proof at most
constexpr size_t kFileChunk = 8192;
// Pieces in which an abandoned result's rows are skipped: a long row is never loaded whole.
constexpr int kDrainChunk = 64 * 1024;
// Largest packet read before the login ends: a greeting and the replies of an authentication
// exchange are a few kilobytes; a peer that announces more is refused at its first header.
constexpr int kMaxLoginPacket = 1 << 20;
constexpr const char* kNativePlugin = "mysql_native_password";
constexpr const char* kOldPlugin = "mysql_old_password";

// The class name of a user's transport, for the host info text.
std::string ClassNameOf(const TMyIOHandler& handler) {
  const char* mangled = typeid(handler).name();
  int status = 0;
  char* name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string result = status == 0 && name ? name : mangled;
  std::free(name);
  return result;
}

// Errors numbered in the client range are ours; others come from the server's error packets.
bool IsClientErrorNumber(int code) {
  return code >= 2000 && code < 3000;
}

std::span<const uint8_t> AsBytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

TMySqlSession::TMySqlSession() : FNet(std::make_unique<TMySqlNet>()) {}

TMySqlSession::~TMySqlSession() {
  Close();
}

template <typename F>
decltype(auto) TMySqlSession::Guarded(F&& f) {
  try {
    return f();
  } catch (const EMySqlException& e) {
    // A use refused while the connection waits leaves the wait and the session as they were.
    if (e.ErrorCode == CR_COMMANDS_OUT_OF_SYNC && FNet->Waiting()) throw;
    if (!FNet->Broken() && !IsClientErrorNumber(e.ErrorCode)) {
      FPending = MYSQL_STATUS_READY;
      FMoreResults = false;
    } else if (FLink == TLink::Ready) {
      FLink = TLink::Broken;
    }
    throw;
  } catch (...) {
    if (FLink == TLink::Ready) FLink = TLink::Broken;
    throw;
  }
}

TMySqlSessionState TMySqlSession::State() const {
  switch (FLink) {
    case TLink::NotConnected:
      return TMySqlSessionState::NotConnected;
    case TLink::Broken:
      return TMySqlSessionState::Broken;
    case TLink::Closed:
      return TMySqlSessionState::Closed;
    case TLink::Ready:
      break;
  }
  return (FPending != MYSQL_STATUS_READY || FMoreResults) ? TMySqlSessionState::ResultPending
                                                          : TMySqlSessionState::Ready;
}

bool TMySqlSession::SessionTracked() const {
  return IsProtocol41() && (ClientFlags & CLIENT_SESSION_TRACK) && (FServerCaps & CLIENT_SESSION_TRACK);
}

bool TMySqlSession::IsProtocol41() const {
  return (FServerCaps & CLIENT_PROTOCOL_41) && (ClientFlags & CLIENT_PROTOCOL_41);
}

void TMySqlSession::CheckUsable() const {
  if (FLink != TLink::Ready) RaiseMySqlClientError(CR_SERVER_GONE_ERROR);
}

std::span<const uint8_t> TMySqlSession::ReadPacket() {
  FNet->ReadPacket();
  return FNet->Packet();
}

// ---- login ----------------------------------------------------------------------------------

std::unique_ptr<TMySqlVio> TMySqlSession::MakeTransport(const std::string& pipeName) {
  const int port = static_cast<int>(Port ? Port : kDefaultPort);
  const std::string host = Host.empty() ? kDefaultHost : Host;
  if (IOHandler) {
    FHostInfo = host + " via " + ClassNameOf(*IOHandler);
    return std::make_unique<TMySqlVioHandler>(host, port, IOHandler);
  }
  switch (Protocol) {
    case MYSQL_PROTOCOL_DEFAULT:
    case MYSQL_PROTOCOL_TCP:
      FHostInfo = host + " via TCP/IP";
      return std::make_unique<TMySqlVioTcp>(host, port);
    case MYSQL_PROTOCOL_SOCKET:
    case MYSQL_PROTOCOL_PIPE:
      FHostInfo = host + " via pipes";
      return std::make_unique<TMySqlVioPipe>(host, pipeName, port);
    case MYSQL_PROTOCOL_SSL:
      FHostInfo = host + " via SSL";
      return std::make_unique<TMySqlVioTcpSSL>(host, port, SslKey, SslCert, SslCa, SslCaPath, SslCipher);
    default:
      RaiseMySqlClientError(CR_CONN_UNKNOW_PROTOCOL);
  }
}

void TMySqlSession::OpenTransport() {
  TMySqlVio* vio = FNet->Vio();
  vio->SetTimeout(static_cast<int>(ConnectTimeout));
  if (IOHandler) {
    vio->Connect();
    return;
  }
  try {
    vio->Connect();
  } catch (const Exception& e) {
    const std::string detail = vio->ErrorText().empty() ? e.Message() : vio->ErrorText();
    // The number is the system's own error; the detail line says it in words.
    RaiseMySqlClientError(CR_CONN_HOST_ERROR,
                          {Host.empty() ? std::string(kDefaultHost) : Host, vio->ErrorNumber()}, detail);
  }
}

void TMySqlSession::Connect(const std::string& host, const std::string& user, uint32_t clientFlags,
                            const std::string& pipeName, uint32_t port, const std::string& database,
                            const std::string& password) {
  DA_ASSERT_MSG(FLink == TLink::NotConnected, "Connect on a session that is connected or closed");
  if (!host.empty()) Host = host;
  if (!user.empty()) User = user;
  if (!password.empty()) Password = password;
  if (!database.empty()) Database = database;
  if (port != 0) Port = port;
  FServerStatus = SERVER_STATUS_AUTOCOMMIT;
  FTrackedCharset.clear();
  FPending = MYSQL_STATUS_READY;
  FMoreResults = false;
  const int maxPacket = MaxPacketSize > 0 ? MaxPacketSize : MYSQL_MAX_PACKET_SIZE;
  FNet->SetMaxPacketSize(std::min(maxPacket, kMaxLoginPacket));
  try {
    FNet->SetVio(MakeTransport(pipeName));
    OpenTransport();
    FNet->Reset();
    const TMySqlGreeting greeting = ParseMySqlGreeting(ReadPacket());
    FServerVersion = greeting.ServerVersion;
    FThreadId = greeting.ThreadId;
    FServerCaps = greeting.ServerCapabilities;
    FServerCharsetNr = greeting.CharsetNr;
    FServerStatus = greeting.ServerStatus;
    FScramble = greeting.Scramble;
    FHasScramble20 = greeting.HasScramble20;
    if (Port == 0) Port = kDefaultPort;
    ClientFlags = MySqlNegotiateClientFlags(FServerCaps, ClientFlags, clientFlags, Protocol);
    Login(greeting);
  } catch (...) {
    try {
      FNet->SetVio(nullptr);
    } catch (...) {
    }
    throw;
  }
  FNet->SetCompress(ClientFlags & CLIENT_COMPRESS);
  FNet->SetMaxPacketSize(maxPacket);
  FLink = TLink::Ready;
}

// The SSL request (the login's head alone), then TLS; the whole login follows through TLS.
// Asked for TLS, the login never goes on in plain text.
void TMySqlSession::StartTls() {
  if (!(ClientFlags & CLIENT_SSL))
    RaiseMySqlClientError(CR_SSL_CONNECTION_ERROR, {}, "The server does not support SSL connections");
  auto* vio = dynamic_cast<TMySqlVioTcpSSL*>(FNet->Vio());
  if (vio == nullptr)
    RaiseMySqlClientError(CR_SSL_CONNECTION_ERROR, {}, "The connection's transport cannot start SSL");
  const std::vector<uint8_t> request = BuildMySqlSslRequest(ClientFlags);
  FNet->WriteBytes(request);
  FNet->Flush();
  vio->StartSSL();
}

void TMySqlSession::Login(const TMySqlGreeting& greeting) {
  if (Protocol == MYSQL_PROTOCOL_SSL) StartTls();
  TMySqlLoginRequest request;
  request.ClientFlags = ClientFlags;
  request.ServerCapabilities = greeting.ServerCapabilities;
  request.User = User;
  request.Password = Password;
  request.Database = Database;
  request.Scramble = FScramble;
  request.HasScramble20 = FHasScramble20;
  const std::vector<uint8_t> packet = BuildMySqlLoginPacket(request);
  FNet->WriteBytes(packet);
  FNet->Flush();
  for (int round = 0;; ++round) {
    const std::span<const uint8_t> reply = ReadPacket();
    const TMySqlLoginReply kind = ParseMySqlLoginReply(reply, ClientFlags, FServerCaps);
    if (kind.Kind == TMySqlLoginReply::TKind::Ok) {
      ApplyOk(ParseMySqlOkPacket(reply, IsProtocol41(), FServerCaps & CLIENT_TRANSACTIONS, SessionTracked()));
      return;
    }
    if (round + 1 >= kMaxLoginRounds)
      RaiseMySqlClientError(CR_SERVER_HANDSHAKE_ERR, {}, "the server asked for too many proofs");
    AnswerLoginReply(kind);
  }
}

void TMySqlSession::SendAuthData(std::span<const uint8_t> data) {
  if (data.empty()) {
    FNet->FlushEmpty();
    return;
  }
  FNet->WriteBytes(data);
  FNet->Flush();
}

void TMySqlSession::AnswerLoginReply(const TMySqlLoginReply& reply) {
  using K = TMySqlLoginReply::TKind;
  const std::span<const uint8_t, 8> message(FScramble.data(), 8);
  switch (reply.Kind) {
    case K::OldPasswordSwitch:
      SendAuthData(AsBytes(MySqlScramble323(Password, message)));
      return;
    case K::Challenge410: {
      const std::span<const uint8_t, 24> challenge(reply.Data.data(), 24);
      if (reply.Data[0] == '*') {
        std::copy(reply.Data.begin() + 4, reply.Data.end(), FScramble.begin());
        SendAuthData(AsBytes(MySqlScramble323(Password, message)));
      } else {
        SendAuthData(MySqlAnswerChallenge410(Password, challenge, FScramble));
      }
      return;
    }
    case K::AuthSwitch:
      if (reply.PluginName == kNativePlugin && reply.Data.size() >= 20) {
        std::copy_n(reply.Data.begin(), 20, FScramble.begin());
        if (Password.empty())
          SendAuthData({});
        else
          SendAuthData(MySqlScramble41(Password, FScramble));
        return;
      }
      if (reply.PluginName == kOldPlugin) {
        if (reply.Data.size() >= 8) std::copy_n(reply.Data.begin(), 8, FScramble.begin());
        SendAuthData(AsBytes(MySqlScramble323(Password, message)));
        return;
      }
      RaiseMySqlClientError(CR_SERVER_HANDSHAKE_ERR, {},
                            Format("The account's authentication method '%s' is not supported by this client",
                                   {reply.PluginName}));
    case K::Ok:
      break;
  }
  DA_ASSERT(false);
}

// ---- commands -------------------------------------------------------------------------------

void TMySqlSession::BeginCommand(uint8_t command) {
  CheckUsable();
  if (FPending != MYSQL_STATUS_READY || FMoreResults || FNet->Waiting())
    RaiseMySqlClientError(CR_COMMANDS_OUT_OF_SYNC);
  FInfo.clear();
  FLastQuery.clear();  // a file request may only answer the query this command sends
  FAffectedRows = 0;
  FNet->Reset();
  FNet->WriteByte(command);
}

std::span<const uint8_t> TMySqlSession::SimpleCommand(uint8_t command, std::span<const uint8_t> args,
                                                      bool skipReply) {
  CheckUsable();
  BeginCommand(command);
  return Guarded([&]() -> std::span<const uint8_t> {
    FNet->Vio()->SetTimeout(static_cast<int>(CommandTimeout));
    FNet->FlushWith(args);
    if (skipReply) return {};
    return ReadPacket();
  });
}

void TMySqlSession::ApplyOk(const TMySqlOkPacket& ok) {
  FAffectedRows = ok.AffectedRows;
  FInsertId = ok.InsertId;
  if (ok.HasStatus) FServerStatus = ok.ServerStatus;
  FWarningCount = ok.WarningCount;
  FInfo = ok.Info;
  for (const auto& [name, value] : ok.SystemVariables) {
    if (name == "character_set_client") {
      FTrackedCharset = value;
      TextCharset = CharsetKindByName(value);
    }
    // What the server reports may have changed: whoever follows the database looks again.
    if (name == "session_track_schema") ++FSchemaChanges;
  }
  if (ok.SchemaChanged) {
    FTrackedSchema = ok.Schema;
    ++FSchemaChanges;
  }
  FFieldCount = 0;
  FFields.clear();
  FMoreResults = ok.HasStatus && (ok.ServerStatus & SERVER_MORE_RESULTS_EXISTS);
}

void TMySqlSession::ApplyEof(const TMySqlEofPacket& eof) {
  if (eof.HasStatus) {
    FWarningCount = eof.WarningCount;
    FServerStatus = eof.ServerStatus;
  }
  FPending = MYSQL_STATUS_READY;
  FMoreResults = eof.HasStatus && (eof.ServerStatus & SERVER_MORE_RESULTS_EXISTS);
}

void TMySqlSession::ReadOk(std::span<const uint8_t> reply) {
  Guarded([&] {
    ApplyOk(ParseMySqlOkPacket(reply, IsProtocol41(), FServerCaps & CLIENT_TRANSACTIONS, SessionTracked()));
  });
}

void TMySqlSession::SelectDb(const std::string& name) {
  const auto reply = SimpleCommand(COM_INIT_DB, AsBytes(name));
  ReadOk(reply);
  Database = name;
}

void TMySqlSession::Ping() {
  const auto reply = SimpleCommand(COM_PING);
  ReadOk(reply);
}

void TMySqlSession::ResetConnection() {
  const auto reply = SimpleCommand(COM_RESET_CONNECTION);
  ReadOk(reply);
}

void TMySqlSession::Kill(uint32_t threadId) {
  std::vector<uint8_t> id;
  TMySqlByteWriter(id).WriteUInt32(threadId);
  const auto reply = SimpleCommand(COM_PROCESS_KILL, id);
  ReadOk(reply);
}

std::string TMySqlSession::Statistics() {
  const auto reply = SimpleCommand(COM_STATISTICS);
  return std::string(reinterpret_cast<const char*>(reply.data()), reply.size());
}

std::vector<TMySqlFieldInfo> TMySqlSession::FieldList(const std::string& table, const std::string& wildcard) {
  std::vector<uint8_t> args;
  TMySqlByteWriter w(args);
  w.WriteStringZ(table);
  w.WriteString(wildcard);
  SimpleCommand(COM_FIELD_LIST, args, true);
  std::vector<TMySqlFieldInfo> fields;
  Guarded([&] {
    FPending = MYSQL_STATUS_GET_RESULT;  // until the EOF packet
    ReadFieldDescriptions(static_cast<uint32_t>(MYSQL_MAX_FIELD_COUNT), fields, true);
    FPending = MYSQL_STATUS_READY;
  });
  return fields;
}

void TMySqlSession::ReadFieldDescriptions(uint32_t count, std::vector<TMySqlFieldInfo>& fields,
                                          bool withDefault) {
  const bool p41 = IsProtocol41();
  const bool longFlag = FServerCaps & CLIENT_LONG_FLAG;
  const bool exact = !withDefault;
  // The descriptions of a freed result are written over: their names keep their room.
  if (fields.empty()) TakeSpareFields(fields, exact ? count : UINT32_MAX);
  // The count is the server's: room for the usual result only, the rest grows as columns come.
  if (exact) fields.reserve(std::min<uint32_t>(count, 256));
  size_t n = 0;  // the descriptions read; those after them are left from before
  try {
    for (;;) {
      const std::span<const uint8_t> packet = ReadPacket();
      if (IsMySqlEofPacket(packet)) {
        const TMySqlEofPacket eof = ParseMySqlEofPacket(packet);
        if (exact && n != count) RaiseMalformedPacket();
        if (eof.HasStatus) FServerStatus = eof.ServerStatus;
        fields.resize(n);
        return;
      }
      if (n >= count) RaiseMalformedPacket();
      if (n == fields.size()) fields.emplace_back();
      ParseMySqlFieldPacket(packet, p41, longFlag, withDefault, fields[n]);
      ++n;
    }
  } catch (...) {
    fields.resize(n);
    throw;
  }
}

void TMySqlSession::TakeSpareFields(std::vector<TMySqlFieldInfo>& fields, uint32_t count) noexcept {
  // The spare nearest the result's column count (an empty one too: the other is not cut down to
  // the count and made anew afterwards), so that a page and its count query each find their own.
  const auto distance = [count](const std::vector<TMySqlFieldInfo>& spare) {
    return spare.size() > count ? spare.size() - count : count - spare.size();
  };
  std::vector<TMySqlFieldInfo>& best =
      distance(FSpareFields[0]) <= distance(FSpareFields[1]) ? FSpareFields[0] : FSpareFields[1];
  fields.swap(best);
}

void TMySqlSession::RecycleFields(std::vector<TMySqlFieldInfo>&& fields) noexcept {
  // The spare with the fewest descriptions gives way.
  std::vector<TMySqlFieldInfo>& slot =
      FSpareFields[0].size() <= FSpareFields[1].size() ? FSpareFields[0] : FSpareFields[1];
  if (fields.size() >= slot.size()) slot.swap(fields);
}

void TMySqlSession::SendQuery(std::span<const uint8_t> text) {
  SimpleCommand(COM_QUERY, text, true);
  if (MayAskForLocalFile(text)) FLastQuery.assign(reinterpret_cast<const char*>(text.data()), text.size());
}

void TMySqlSession::Query(std::string_view text) {
  SendQuery(AsBytes(text));
  ReadQueryResult();
}

void TMySqlSession::ReadQueryResult() {
  CheckUsable();
  std::exception_ptr fileFailure;
  Guarded([&] {
    const bool p41 = IsProtocol41();
    const bool transactions = FServerCaps & CLIENT_TRANSACTIONS;
    const bool tracked = SessionTracked();
    TMySqlQueryReply reply = ParseMySqlQueryReply(ReadPacket(), p41, transactions, tracked);
    if (reply.Kind == TMySqlQueryReply::TKind::LocalInfile) {
      fileFailure = SendLocalFile(reply.FileName);
      reply = ParseMySqlQueryReply(ReadPacket(), p41, transactions, tracked);
      // The answer to a transfer is the statement's result, never another request.
      if (reply.Kind == TMySqlQueryReply::TKind::LocalInfile) RaiseMalformedPacket();
    }
    if (reply.Kind == TMySqlQueryReply::TKind::Ok) {
      ApplyOk(reply.Ok);
      return;
    }
    if (!(FServerStatus & SERVER_STATUS_AUTOCOMMIT)) FServerStatus |= SERVER_STATUS_IN_TRANS;
    FExtra = reply.Extra;
    FFieldCount = reply.FieldCount;
    FMoreResults = false;
    FPending = MYSQL_STATUS_GET_RESULT;  // an error in the descriptions ends the reply
    ReadFieldDescriptions(reply.FieldCount, FFields, false);
    FWarningCount = 0;
  });
  if (fileFailure) std::rethrow_exception(fileFailure);
}

std::exception_ptr TMySqlSession::SendLocalFile(const std::string& fileName) {
  std::exception_ptr failure;
  std::unique_ptr<TFileStream> file;
  if (!MySqlStatementNamesLocalFile(FLastQuery, fileName, TextCharset)) {
    failure = std::make_exception_ptr(EMySqlException(
        CR_UNKNOWN_ERROR, MySqlErrorMessage(CR_UNKNOWN_ERROR, {},
                                            Format("The server asked for the local file \"%s\", "
                                                   "which the statement sent does not name; nothing was sent",
                                                   {fileName}))));
  } else {
    try {
      file = std::make_unique<TFileStream>(fileName, fmOpenRead);
    } catch (const EFOpenError&) {
      failure = std::current_exception();
    }
  }
  if (file) StreamFile(*file);
  FNet->FlushEmpty();
  return failure;
}

void TMySqlSession::StreamFile(TStream& file) {
  std::vector<uint8_t> chunk(kFileChunk);
  for (;;) {
    int64_t n = 0;
    try {
      n = file.Read(chunk.data(), static_cast<int64_t>(chunk.size()));
    } catch (...) {
      // Ending the transfer now would load half the file: drop the connection instead, so that
      // the server abandons the statement.
      FNet->SetVio(nullptr);
      throw;
    }
    if (n <= 0) return;
    FNet->WriteBytes(std::span(chunk).first(static_cast<size_t>(n)));
    FNet->Flush();
  }
}

bool TMySqlSession::NextResult() {
  CheckUsable();
  if (FPending != MYSQL_STATUS_READY) RaiseMySqlClientError(CR_COMMANDS_OUT_OF_SYNC);
  FAffectedRows = ~uint64_t{0};
  if (!FMoreResults) return false;
  FMoreResults = false;
  ReadQueryResult();
  return true;
}

bool TMySqlSession::ReadResultPacket(std::span<const uint8_t>& packet) {
  CheckUsable();
  DA_ASSERT(FPending != MYSQL_STATUS_READY);
  return Guarded([&] {
    packet = ReadPacket();
    if (!IsMySqlEofPacket(packet)) return true;
    ApplyEof(ParseMySqlEofPacket(packet));
    packet = {};
    return false;
  });
}

void TMySqlSession::DrainResult() {
  if (FPending == MYSQL_STATUS_READY || FLink != TLink::Ready) return;
  Guarded([&] {
    TBytes last;
    // A physical packet of 0xFFFFFF bytes is continued by the next one, whose first byte is data.
    for (bool continuation = false;;) {
      const int length = FNet->SkipPacket(last, kDrainChunk, !continuation);
      if (!continuation && length < 9 && IsMySqlEofPacket(last)) {  // a short packet is whole in `last`
        ApplyEof(ParseMySqlEofPacket(last));
        return;
      }
      continuation = length == MYSQL_MAX_CHUNK;
    }
  });
}

std::vector<TMySqlFieldInfo> TMySqlSession::TakeFields() {
  std::vector<TMySqlFieldInfo> fields = std::move(FFields);
  FFields.clear();
  return fields;
}

void TMySqlSession::SetPendingStatus(uint8_t status) {
  FPending = status;
}

void TMySqlSession::MarkBroken() noexcept {
  if (FLink == TLink::Ready) FLink = TLink::Broken;
}

void TMySqlSession::AttachResult(TMySqlResultSet* result) {
  FCurrentResult = result;
}

void TMySqlSession::DetachResult(TMySqlResultSet* result) noexcept {
  if (FCurrentResult == result) FCurrentResult = nullptr;
}

void TMySqlSession::Close() noexcept {
  if (FLink == TLink::Closed) return;
  const bool usable = FLink == TLink::Ready;
  FLink = TLink::Closed;
  FPending = MYSQL_STATUS_READY;
  FMoreResults = false;
  if (FCurrentResult) FCurrentResult->SessionClosed();
  FCurrentResult = nullptr;
  try {
    if (usable) {
      FNet->Reset();
      FNet->WriteByte(COM_QUIT);
      FNet->Flush();
    }
  } catch (...) {
    // The peer is gone already: closing is all that is left.
  }
  try {
    FNet->SetVio(nullptr);
  } catch (...) {
  }
}
