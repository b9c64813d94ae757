#include "mysql/MySqlVioTcpSSL.h"

#include <arpa/inet.h>

#include <vector>

#include "mysql/MySqlProtocol.h"
#include "mysql/MySqlSslLib.h"
#include "platform/runtime/Format.h"

namespace {

// The platform's Trim: blanks and control characters off both ends.
std::string Trimmed(const std::string& s) {
  size_t first = 0, last = s.size();
  while (first < last && static_cast<unsigned char>(s[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ') --last;
  return s.substr(first, last - first);
}

const char* OrNull(const std::string& s) {
  return s.empty() ? nullptr : s.c_str();
}

bool IsIpAddress(const std::string& host) {
  unsigned char address[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// The names of a cipher list: OpenSSL separates them by ":", "," or blanks.
std::vector<std::string> CipherNames(const std::string& list) {
  std::vector<std::string> names;
  std::string name;
  for (char c : list + ":") {
    if (c == ':' || c == ',' || c == ' ') {
      if (!name.empty()) names.push_back(std::move(name));
      name.clear();
    } else {
      name += c;
    }
  }
  return names;
}

// ---- the socket under TLS -----------------------------------------------------------------------
// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the peer has gone, and
// knows no time-out. This one moves the bytes through the plain transport's reads and writes.

struct TSocketBio {
  const TSslLib* Lib;
  bio_method_st* Method;
};

const TSocketBio& SocketBio();

TMySqlVioTcpSSL* BioOwner(bio_st* bio) {
  return static_cast<TMySqlVioTcpSSL*>(SocketBio().Lib->BIO_get_data(bio));
}

// A failed transfer returns -1 with the transport's ErrorText set; 0 is the peer's end.
int BioRead(bio_st* bio, char* buffer, int count) {
  try {
    TMySqlVioTcpSSL* vio = BioOwner(bio);
    int n = vio->TMySqlVioTcp::Read(reinterpret_cast<uint8_t*>(buffer), 0, count);
    return n > 0 ? n : vio->ErrorText().empty() ? 0 : -1;
  } catch (...) {
    return -1;
  }
}

int BioWrite(bio_st* bio, const char* buffer, int count) {
  try {
    int n = BioOwner(bio)->TMySqlVioTcp::Write(reinterpret_cast<const uint8_t*>(buffer), 0, count);
    return n > 0 ? n : -1;
  } catch (...) {
    return -1;
  }
}

long BioCtrl(bio_st*, int command, long, void*) {
  return command == SslBioCtrlFlush ? 1 : 0;
}

TSocketBio MakeSocketBio(const TSslLib& lib) {
  const int type = lib.BIO_get_new_index();
  bio_method_st* method = type < 0 ? nullptr : lib.BIO_meth_new(type | SslBioTypeSourceSink, "mysql socket");
  if (method == nullptr || lib.BIO_meth_set_read(method, BioRead) != 1 ||
      lib.BIO_meth_set_write(method, BioWrite) != 1 || lib.BIO_meth_set_ctrl(method, BioCtrl) != 1)
    RaiseMySqlClientError(CR_SSL_CONNECTION_ERROR, {}, "BIO_meth_new failure: " + lib.TakeErrors());
  return {&lib, method};
}

// Made once per process and kept for the process's life, like the libraries.
const TSocketBio& SocketBio() {
  static const TSocketBio bio = MakeSocketBio(LoadSslLib());
  return bio;
}

}  // namespace

// ---- TMySqlVioTcpSSL ------------------------------------------------------------------------------

TMySqlVioTcpSSL::TMySqlVioTcpSSL(std::string host, int port, std::string keyFile, std::string certFile,
                                 std::string caFile, std::string caPath, std::string cipherList)
    : TMySqlVioTcp(std::move(host), port),
      FKeyFile(std::move(keyFile)),
      FCertFile(std::move(certFile)),
      FCAFile(std::move(caFile)),
      FCAPath(std::move(caPath)),
      FCipherList(std::move(cipherList)),
      FLib(&LoadSslLib()) {}

TMySqlVioTcpSSL::~TMySqlVioTcpSSL() {
  TMySqlVioTcpSSL::Close();
}

void TMySqlVioTcpSSL::RaiseSslError(const std::string& what) {
  const std::string reasons = FLib->TakeErrors();
  FreeSsl();
  RaiseMySqlClientError(CR_SSL_CONNECTION_ERROR, {}, reasons.empty() ? what : what + ": " + reasons);
}

void TMySqlVioTcpSSL::StartSSL() {
  DA_ASSERT_MSG(Socket() >= 0 && FContext == nullptr, "StartSSL needs a connected socket without TLS");
  // Plain bytes already received would be read as if they had come through TLS.
  if (ReadAheadPending())
    RaiseMySqlClientError(CR_SSL_CONNECTION_ERROR, {}, "The server sent data before TLS started");
  FLib->ERR_clear_error();
  MakeContext();
  UseCertificate();
  UseTrust();
  Handshake();
  FActive = true;
}

void TMySqlVioTcpSSL::MakeContext() {
  // The version-flexible method, from TLS 1.2 on: older versions are refused by today's servers.
  FContext = FLib->SSL_CTX_new(FLib->TLS_client_method());
  if (FContext == nullptr) RaiseSslError("SSL_CTX_new failure");
  if (FLib->SSL_CTX_ctrl(FContext, SslCtrlSetMinProtoVersion, SslTls12Version, nullptr) != 1)
    RaiseSslError("TLS 1.2 cannot be set as the lowest version");
  UseCiphers();
  FLib->SSL_CTX_set_verify(FContext, SslVerifyNone, nullptr);
}

// TLS 1.3 suites (TLS_...) are chosen apart from the TLS 1.2 ciphers; a list naming only one kind
// leaves the other version without any, so that nothing outside the list can be agreed on.
void TMySqlVioTcpSSL::UseCiphers() {
  const std::string ciphers = Trimmed(FCipherList);
  if (ciphers.empty()) return;
  std::string tls12, tls13;
  for (const std::string& name : CipherNames(ciphers)) {
    std::string& list = name.rfind("TLS_", 0) == 0 ? tls13 : tls12;
    list += (list.empty() ? "" : ":") + name;
  }
  if (FLib->SSL_CTX_set_ciphersuites(FContext, tls13.c_str()) != 1)
    RaiseSslError("cipher list '" + ciphers + "'");
  if (tls12.empty()) {
    if (FLib->SSL_CTX_ctrl(FContext, SslCtrlSetMinProtoVersion, SslTls13Version, nullptr) != 1)
      RaiseSslError("TLS 1.3 cannot be set as the lowest version");
  } else if (FLib->SSL_CTX_set_cipher_list(FContext, tls12.c_str()) != 1) {
    RaiseSslError("cipher list '" + ciphers + "'");
  }
  if (tls13.empty() && FLib->SSL_CTX_ctrl(FContext, SslCtrlSetMaxProtoVersion, SslTls12Version, nullptr) != 1)
    RaiseSslError("TLS 1.2 cannot be set as the highest version");
}

void TMySqlVioTcpSSL::UseCertificate() {
  if (FCertFile.empty()) return;
  if (FLib->SSL_CTX_use_certificate_file(FContext, FCertFile.c_str(), SslFiletypePem) != 1)
    RaiseSslError("certificate file '" + FCertFile + "'");
  const std::string& key = FKeyFile.empty() ? FCertFile : FKeyFile;
  if (FLib->SSL_CTX_use_PrivateKey_file(FContext, key.c_str(), SslFiletypePem) != 1)
    RaiseSslError("key file '" + key + "'");
  if (FLib->SSL_CTX_check_private_key(FContext) != 1)
    RaiseSslError("key file '" + key + "' does not match certificate file '" + FCertFile + "'");
}

void TMySqlVioTcpSSL::UseTrust() {
  // A CA the user names must load. Without one the system's trust store is not read: the server's
  // certificate is not verified, and parsing the store would cost every connection about 20 ms.
  if (FCAFile.empty() && FCAPath.empty()) return;
  if (FLib->SSL_CTX_load_verify_locations(FContext, OrNull(FCAFile), OrNull(FCAPath)) != 1)
    RaiseSslError("CA file '" + FCAFile + "', CA path '" + FCAPath + "'");
  // A named CA is a demand: the server's chain must lead to it and its certificate must name the
  // host connected to, or the handshake fails.
  FLib->SSL_CTX_set_verify(FContext, SslVerifyPeer, nullptr);
  FVerify = true;
}

// The name the server's certificate must hold: the host as given, an IP address as an address.
void TMySqlVioTcpSSL::ExpectHostName() {
  X509_VERIFY_PARAM_st* param = FLib->SSL_get0_param(FSsl);
  const std::string& host = Host();
  const bool set = IsIpAddress(host)
                       ? FLib->X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                       : FLib->X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
  if (!set) RaiseSslError("the host name '" + host + "' cannot be checked against the server's certificate");
}

void TMySqlVioTcpSSL::Handshake() {
  FSsl = FLib->SSL_new(FContext);
  if (FSsl == nullptr) RaiseSslError("SSL_new failure");
  bio_st* bio = FLib->BIO_new(SocketBio().Method);
  if (bio == nullptr) RaiseSslError("BIO_new failure");
  FLib->BIO_set_data(bio, this);
  FLib->BIO_set_init(bio, 1);
  FLib->SSL_set_bio(FSsl, bio, bio);
  if (FVerify) ExpectHostName();
  FLib->SSL_set_connect_state(FSsl);
  const int r = FLib->SSL_do_handshake(FSsl);
  if (r == 1) return;
  const int error = FLib->SSL_get_error(FSsl, r);
  // A socket failure under TLS leaves its text in ErrorText; OpenSSL's reasons follow.
  std::string what = FErrorText.empty() ? "TLS handshake failed" : "TLS handshake failed: " + FErrorText;
  const long verified = FVerify ? FLib->SSL_get_verify_result(FSsl) : long{SslX509VOk};
  if (verified != SslX509VOk)
    what = "The server's certificate was refused (host '" + Host() +
           "'): " + FLib->X509_verify_cert_error_string(verified) + "\r\n" + what;
  const std::string reasons = FLib->TakeErrors();
  if (!reasons.empty()) what += ": " + reasons;
  FreeSsl();
  RaiseMySqlClientError(CR_SSL_CONNECTION_ERROR, {},
                        what + Format("\r\nr2 = %d\r\nSSL_get_error(..., r2) = %d", {r, error}));
}

int TMySqlVioTcpSSL::Read(uint8_t* buffer, int offset, int count) {
  if (!FActive) return TMySqlVioTcp::Read(buffer, offset, count);
  FErrorText.clear();
  if (count < 1) return 0;
  const int n = FLib->SSL_read(FSsl, buffer + offset, count);
  if (n > 0) return n;
  const int error = FLib->SSL_get_error(FSsl, n);
  const std::string reasons = FLib->TakeErrors();
  // The peer's close_notify is an orderly end; a socket failure already set ErrorText.
  if (error != SslErrorZeroReturn && FErrorText.empty())
    FErrorText = Format("SSL error on read (%d): %s", {error, reasons});
  return 0;
}

int TMySqlVioTcpSSL::Write(const uint8_t* buffer, int offset, int count) {
  if (!FActive) return TMySqlVioTcp::Write(buffer, offset, count);
  FErrorText.clear();
  if (count < 1) return 0;
  const int n = FLib->SSL_write(FSsl, buffer + offset, count);
  if (n > 0) return n;
  const int error = FLib->SSL_get_error(FSsl, n);
  const std::string reasons = FLib->TakeErrors();
  if (FErrorText.empty()) FErrorText = Format("SSL error on write (%d): %s", {error, reasons});
  return 0;
}

void TMySqlVioTcpSSL::Close() {
  if (FActive && Socket() >= 0) FLib->SSL_shutdown(FSsl);
  FreeSsl();
  TMySqlVioTcp::Close();
}

void TMySqlVioTcpSSL::FreeSsl() noexcept {
  FActive = false;
  if (FSsl != nullptr) FLib->SSL_free(FSsl);  // frees the BIO too
  if (FContext != nullptr) FLib->SSL_CTX_free(FContext);
  FSsl = nullptr;
  FContext = nullptr;
  FLib->ERR_clear_error();
}
