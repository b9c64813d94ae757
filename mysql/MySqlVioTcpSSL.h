// The TCP transport with TLS: plain until the session has sent its SSL request, then TLS 1.2 or
// 1.3 through the OpenSSL libraries loaded at run time (MySqlSslLib).
#pragma once

#include <string>

#include "mysql/MySqlVioTcp.h"

struct TSslLib;
struct ssl_st;
struct ssl_ctx_st;

class TMySqlVioTcpSSL : public TMySqlVioTcp {
 public:
  // Loads the TLS libraries; their load errors (LoadSslLib) pass unchanged. An empty key file
  // means the key is in the certificate file.
  TMySqlVioTcpSSL(std::string host, int port, std::string keyFile, std::string certFile, std::string caFile,
                  std::string caPath, std::string cipherList);
  // Closes; never throws.
  ~TMySqlVioTcpSSL() override;

  // Starts TLS on the connected socket, within the time-out for each exchange: the client
  // certificate and key when a certificate file is given, the cipher list when not blank (its
  // TLS 1.3 suite names, TLS_..., restrict TLS 1.3, its other names TLS 1.2; a version left
  // without names is not used). With a CA file or path the server's certificate must chain to
  // it and name the host (a DNS name, or an IP address when the host is one); without, the
  // server's certificate is not verified. Fails an assertion when not connected or already
  // started.
  // Errors: EMySqlException 2026 "SSL connection error": plain bytes received and not yet read
  // (they would pass as protected); OpenSSL's reason, naming the file for a certificate, key or
  // CA file that cannot be used; "The server's certificate was refused (host '...'): " and the
  // verifier's reason; for a failed handshake the reason (or the socket's error) and the
  // "r2 = " and "SSL_get_error(..., r2) = " lines. After a failure nothing of TLS is left,
  // and the socket stays as it was.
  void StartSSL();
  bool SslActive() const noexcept { return FActive; }

  // Through TLS once started, else plain TCP. 0 on end of stream, time-out or failure, with
  // ErrorText saying which (empty at the peer's orderly end).
  int Read(uint8_t* buffer, int offset, int count) override;
  int Write(const uint8_t* buffer, int offset, int count) override;
  // Says goodbye to the peer's TLS (best effort), frees the TLS connection and context, closes
  // the socket.
  void Close() override;

 private:
  [[noreturn]] void RaiseSslError(const std::string& what);
  void MakeContext();
  void UseCiphers();
  void ExpectHostName();
  void UseCertificate();
  void UseTrust();
  void Handshake();
  void FreeSsl() noexcept;

  std::string FKeyFile, FCertFile, FCAFile, FCAPath, FCipherList;
  const TSslLib* FLib;
  ssl_ctx_st* FContext = nullptr;
  ssl_st* FSsl = nullptr;
  bool FActive = false;
  bool FVerify = false;  // a CA was named: the server's certificate is checked
};
