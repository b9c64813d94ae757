// The TLS transport on its own: settings and files the user gives, handshakes with the test
// server after a hand-made SSL request, and peers that do not speak TLS.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "mysql/MySqlAuth.h"
#include "mysql/MySqlNet.h"
#include "mysql/MySqlSslLib.h"
#include "mysql/MySqlVioTcpSSL.h"
#include "support/TestServer.h"

namespace {

struct TSslFiles {
  std::string Key, Cert, CA, CAPath, Cipher;
};

std::unique_ptr<TMySqlVioTcpSSL> MakeVio(const std::string& host, int port, const TSslFiles& f) {
  auto vio = std::make_unique<TMySqlVioTcpSSL>(host, port, f.Key, f.Cert, f.CA, f.CAPath, f.Cipher);
  vio->SetTimeout(10);
  vio->Connect();
  return vio;
}

// Reads the server's greeting and sends the 32-byte SSL request, as the login does.
void SendSslRequest(TMySqlVio& vio) {
  uint8_t header[4];
  ASSERT_EQ(vio.ReadAll(header, 0, 4), 4);
  std::vector<uint8_t> greeting(header[0] | header[1] << 8 | header[2] << 16);
  ASSERT_EQ(vio.ReadAll(greeting.data(), 0, static_cast<int>(greeting.size())), static_cast<int>(greeting.size()));
  const uint32_t flags = CLIENT_PROTOCOL_41 | CLIENT_SSL | CLIENT_SECURE_CONNECTION | CLIENT_LONG_PASSWORD;
  uint8_t request[36] = {32, 0, 0, 1, uint8_t(flags), uint8_t(flags >> 8), uint8_t(flags >> 16), 0, 0, 0, 0, 0x40, 8};
  ASSERT_EQ(vio.WriteAll(request, 0, sizeof request), static_cast<int>(sizeof request));
}

// The EMySqlException StartSSL raises: number and message.
std::pair<int, std::string> StartSslError(TMySqlVioTcpSSL& vio) {
  try {
    vio.StartSSL();
  } catch (const EMySqlException& e) {
    return {e.ErrorCode, e.Message()};
  }
  return {0, ""};
}

// A loopback peer without a thread: the kernel completes the connect, the test accepts and
// plays the server's side by hand.
class TLoopbackPeer {
 public:
  TLoopbackPeer() {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    EXPECT_EQ(::bind(FListen, reinterpret_cast<sockaddr*>(&a), size), 0);
    EXPECT_EQ(::listen(FListen, 64), 0);
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &size);
    Port = ntohs(a.sin_port);
  }
  ~TLoopbackPeer() {
    if (FPeer >= 0) ::close(FPeer);
    ::close(FListen);
  }
  void AcceptAndSend(const std::string& bytes) {
    FPeer = ::accept(FListen, nullptr, nullptr);
    ASSERT_GE(FPeer, 0);
    ASSERT_EQ(::send(FPeer, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }
  int Port = 0;

 private:
  int FListen = -1, FPeer = -1;
};

TEST(MySqlVioTcpSSL, BadSettingsAndFilesGive2026NamingTheFile) {
  const auto& info = TestServer::Info();
  const std::string missing = "/nonexistent/da-missing.pem";
  struct {
    const char* name;
    TSslFiles files;
    std::vector<std::string> says;
  } cases[] = {
      {"missing certificate", {info.ClientKey, missing}, {"certificate file '" + missing + "'", "No such file"}},
      {"missing key", {missing, info.ClientCert}, {"key file '" + missing + "'", "No such file"}},
      {"certificate with no key in it", {"", info.ClientCert}, {"key file '" + info.ClientCert + "'"}},
      {"key of another certificate",
       {info.ServerKey, info.ClientCert},
       {"key file '" + info.ServerKey + "'", "key values mismatch"}},
      {"key file as certificate", {info.ClientKey, info.ClientKey}, {"certificate file '" + info.ClientKey + "'"}},
      {"missing CA file", {"", "", missing}, {"CA file '" + missing + "'"}},
      {"unknown cipher", {"", "", "", "", " NO-SUCH-CIPHER "}, {"cipher list 'NO-SUCH-CIPHER'", "no cipher match"}},
  };
  TLoopbackPeer peer;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vio = MakeVio("127.0.0.1", peer.Port, c.files);
    const auto [code, message] = StartSslError(*vio);
    EXPECT_EQ(code, CR_SSL_CONNECTION_ERROR);
    EXPECT_EQ(message.rfind("SSL connection error\r\n", 0), 0u) << message;
    for (const std::string& s : c.says) EXPECT_NE(message.find(s), std::string::npos) << message;
    EXPECT_FALSE(vio->SslActive());
    EXPECT_GE(vio->Socket(), 0);  // the plain connection is untouched
  }
}

TEST(MySqlVioTcpSSL, PeersThatDoNotSpeakTlsFailTheHandshake) {
  struct {
    const char* name;
    std::string reply;  // what the peer sends; empty: it stays silent
    std::string says;
  } cases[] = {
      {"plain text", "HTTP/1.0 400 Bad Request\r\n\r\n", "SSL_get_error(..., r2) = 1"},
      {"silence", "", "Socket error on read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TLoopbackPeer peer;
    auto vio = MakeVio("127.0.0.1", peer.Port, {});
    vio->SetTimeout(1);
    peer.AcceptAndSend(c.reply);
    const auto [code, message] = StartSslError(*vio);
    EXPECT_EQ(code, CR_SSL_CONNECTION_ERROR);
    EXPECT_NE(message.find("TLS handshake failed"), std::string::npos) << message;
    EXPECT_NE(message.find("\r\nr2 = "), std::string::npos) << message;
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    EXPECT_FALSE(vio->SslActive());
  }
}

TEST(MySqlVioTcpSSL, StartsTlsWithTheTestServerWithAndWithoutClientCertificate) {
  const auto& info = TestServer::Info();
  const TSslFiles settings[] = {{}, {info.ClientKey, info.ClientCert, info.CaCert}};
  for (const TSslFiles& files : settings) {
    SCOPED_TRACE(files.Cert.empty() ? "no certificate" : "client certificate");
    auto vio = MakeVio(info.Host, info.Port, files);
    SendSslRequest(*vio);
    ASSERT_EQ(StartSslError(*vio).second, "");
    EXPECT_TRUE(vio->SslActive());
    vio->Close();
    EXPECT_FALSE(vio->SslActive());
    EXPECT_EQ(vio->Socket(), -1);
  }
}

// In a process of its own: the libraries are loaded once per process.
TEST(MySqlVioTcpSSLDeathTest, NoLoadableLibsslGivesTheLoadMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SetSslLibraryNames("libcrypto.so.3", "libssl-da-missing.so.3");
        try {
          TMySqlVioTcpSSL vio("127.0.0.1", 1, "", "", "", "", "");
        } catch (const EOSError& e) {
          fprintf(stderr, "%s\n", e.Message().c_str());
        }
        // A later load with names that exist succeeds.
        SetSslLibraryNames("libcrypto.so.3", "libssl.so.3");
        TMySqlVioTcpSSL vio("127.0.0.1", 1, "", "", "", "", "");
        exit(0);
      },
      ::testing::ExitedWithCode(0),
      "OpenSSL client library couldn't be loaded. Please place libcrypto.so.3 and libssl-da-missing.so.3 to "
      "system folder.*\r\n.*libssl-da-missing.so.3");
}

}  // namespace
