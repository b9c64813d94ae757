// The TLS transport on its own: settings and files the user gives, handshakes with the test
// server after a hand-made SSL request, and peers that do not speak TLS.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlSession.h"
#include "mysql/MySqlSslLib.h"
#include "mysql/MySqlVioTcpSSL.h"
#include "support/LoopbackRelay.h"
#include "support/NetTestUtil.h"
#include "support/TestServer.h"

#if defined(__SANITIZE_ADDRESS__)
#define DA_HAVE_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DA_HAVE_LSAN 1
#endif
#endif
#ifdef DA_HAVE_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace {

struct TSslFiles {
  std::string Key{}, Cert{}, CA{}, CAPath{}, Cipher{};
};

std::unique_ptr<TMySqlVioTcpSSL> MakeVio(const std::string& host, int port, const TSslFiles& f) {
  auto vio = std::make_unique<TMySqlVioTcpSSL>(host, port, f.Key, f.Cert, f.CA, f.CAPath, f.Cipher);
  vio->SetTimeout(10);
  vio->Connect();
  return vio;
}

// A loopback peer without a thread: the kernel completes the connect, the test accepts and
// plays the server's side by hand.
class TLoopbackPeer {
 public:
  TLoopbackPeer() : FListen(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    EXPECT_EQ(::bind(FListen, reinterpret_cast<sockaddr*>(&a), size), 0);
    EXPECT_EQ(::listen(FListen, 64), 0);
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &size);
    Port = ntohs(a.sin_port);
  }
  ~TLoopbackPeer() { ::close(FPeer), ::close(FListen); }
  void AcceptAndSend(const std::string& bytes) {
    FPeer = ::accept(FListen, nullptr, nullptr);
    ASSERT_GE(FPeer, 0);
    ASSERT_EQ(::send(FPeer, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }
  int Port = 0;

 private:
  int FListen, FPeer = -1;
};

TEST(MySqlVioTcpSSL, BadSettingsAndFilesGive2026NamingTheFile) {
  const auto& info = TestServer::Info();
  const std::string missing = "/nonexistent/da-missing.pem";
  const std::tuple<const char*, TSslFiles, std::vector<std::string>> cases[] = {
      {"missing certificate",
       {info.ClientKey, missing},
       {"certificate file '" + missing + "'", "No such file"}},
      {"missing key", {missing, info.ClientCert}, {"key file '" + missing + "'", "No such file"}},
      {"certificate with no key in it", {"", info.ClientCert}, {"key file '" + info.ClientCert + "'"}},
      {"key of another certificate",
       {info.ServerKey, info.ClientCert},
       {"key file '" + info.ServerKey + "'", "key values mismatch"}},
      {"key file as certificate",
       {info.ClientKey, info.ClientKey},
       {"certificate file '" + info.ClientKey + "'"}},
      {"missing CA file", {"", "", missing}, {"CA file '" + missing + "'"}},
      {"unknown cipher",
       {"", "", "", "", " NO-SUCH-CIPHER "},
       {"cipher list 'NO-SUCH-CIPHER'", "no cipher match"}},
  };
  TLoopbackPeer peer;
  for (const auto& [name, files, says] : cases) {
    SCOPED_TRACE(name);
    auto vio = MakeVio("127.0.0.1", peer.Port, files);
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { vio->StartSSL(); }, &message), CR_SSL_CONNECTION_ERROR);
    EXPECT_EQ(message.rfind("SSL connection error\r\n", 0), 0u) << message;
    for (const std::string& s : says) EXPECT_NE(message.find(s), std::string::npos) << message;
    EXPECT_FALSE(vio->SslActive());
    EXPECT_GE(vio->Socket(), 0);  // the plain connection is untouched
  }
}

TEST(MySqlVioTcpSSL, PeersThatDoNotSpeakTlsFailTheSwitch) {
  // What the peer sends (empty: it stays silent), the bytes the client reads before the switch.
  const std::tuple<const char*, std::string, int, std::vector<std::string>> cases[] = {
      {"plain text",
       "HTTP/1.0 400 Bad Request\r\n\r\n",
       0,
       {"TLS handshake failed", "\r\nr2 = -1\r\nSSL_get_error(..., r2) = 1"}},
      {"silence", "", 0, {"TLS handshake failed: Socket error on read", "\r\nr2 = "}},
      {"bytes after the greeting",
       std::string("\x01\0\0\0\x0a\x01\0\0\x02\0", 10),
       5,
       {"The server sent data before TLS started"}},
  };
  for (const auto& [name, sent, readFirst, says] : cases) {
    SCOPED_TRACE(name);
    TLoopbackPeer peer;
    auto vio = MakeVio("127.0.0.1", peer.Port, {});
    vio->SetTimeout(1);
    peer.AcceptAndSend(sent);
    uint8_t greeting[8];
    ASSERT_EQ(vio->ReadAll(greeting, 0, readFirst), readFirst);
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { vio->StartSSL(); }, &message), CR_SSL_CONNECTION_ERROR);
    for (const std::string& s : says) EXPECT_NE(message.find(s), std::string::npos) << message;
    EXPECT_FALSE(vio->SslActive());
  }
}

// ---- the login through TLS ----------------------------------------------------------------------

void Connect(TMySqlSession& s, const TestServer::TInfo& server, const std::string& user,
             const std::string& password) {
  s.Connect(server.Host, user, 0, {}, static_cast<uint32_t>(server.Port), {}, password);
}

std::unique_ptr<TMySqlSession> OpenTls(const std::string& user, const std::string& password,
                                       const TSslFiles& f = {}) {
  auto s = std::make_unique<TMySqlSession>();
  s->Protocol = MYSQL_PROTOCOL_SSL;
  s->SslKey = f.Key, s->SslCert = f.Cert, s->SslCa = f.CA, s->SslCaPath = f.CAPath, s->SslCipher = f.Cipher;
  Connect(*s, TestServer::Info(), user, password);
  return s;
}

std::unique_ptr<TMySqlSession> OpenPlain(const TestServer::TInfo& server) {
  auto s = std::make_unique<TMySqlSession>();
  Connect(*s, server, server.NativeUser, server.NativePassword);
  return s;
}

// Every row of a query, each row's values joined by a 0 byte, NULL as "<null>".
std::vector<std::string> Rows(TMySqlSession& s, const std::string& sql) {
  s.Query(sql);
  TMySqlResultSet rs(s);
  rs.ReadAll();
  std::vector<std::string> rows;
  while (rs.Fetch()) {
    std::string& row = rows.emplace_back();
    for (const TMySqlBind& b : rs.Row().Binds)
      row +=
          (row.empty() ? "" : std::string(1, '\0')) +
          (b.IsNull ? "<null>"
                    : std::string(reinterpret_cast<const char*>(rs.RowData().data()) + b.Position, b.Length));
  }
  return rows;
}

std::string Status(TMySqlSession& s, const std::string& name) {
  const auto rows = Rows(s, "SHOW SESSION STATUS LIKE '" + name + "'");
  return rows.size() == 1 ? rows[0].substr(name.size() + 1) : "<none>";
}

TEST(MySqlVioTcpSSLLogin, TlsLoginCarriesTenMegabytesAsThePlainOneDoes) {
  const auto& info = TestServer::Info();
  auto tls = OpenTls(info.NativeUser, info.NativePassword);
  EXPECT_EQ(tls->HostInfo(), info.Host + " via SSL");
  EXPECT_TRUE(tls->ClientFlags & CLIENT_SSL);
  const std::string version = Status(*tls, "Ssl_version");
  EXPECT_TRUE(version == "TLSv1.3" || version == "TLSv1.2") << version;
  auto plain = OpenPlain(info);
  EXPECT_EQ(Status(*plain, "Ssl_version"), "");
  // 10,240 rows of 1 KB, then one value of 10 MB.
  for (const char* sql : {"SELECT seq, REPEAT(MD5(seq), 32) FROM mysql.seq_1_to_10240",
                          "SELECT REPEAT(CONCAT(MD5(RAND(7)), MD5(RAND(8))), 163840)"}) {
    SCOPED_TRACE(sql);
    const auto overTls = Rows(*tls, sql);
    size_t bytes = 0;
    for (const std::string& row : overTls) bytes += row.size();
    EXPECT_GE(bytes, 10u * 1024 * 1024);
    EXPECT_TRUE(overTls == Rows(*plain, sql));
  }
}

TEST(MySqlVioTcpSSLLogin, X509UserNeedsTheClientCertificateWithItsKeyAnywhere) {
  const auto& info = TestServer::Info();
  auto read = [](const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  };
  const std::string both =
      ::testing::TempDir() + "da-client-cert-and-key-" + std::to_string(::getpid()) + ".pem";
  std::ofstream(both, std::ios::binary) << read(info.ClientCert) << read(info.ClientKey);
  const TSslFiles withKey[] = {{info.ClientKey, info.ClientCert}, {"", both}, {"", both, info.CaCert}};
  for (const TSslFiles& files : withKey) {
    SCOPED_TRACE(files.Key.empty() ? "key in the certificate file" : "key in its own file");
    auto s = OpenTls(info.X509User, info.X509Password, files);
    EXPECT_EQ(Rows(*s, "SELECT CURRENT_USER()").at(0), info.X509User + "@%");
  }
  std::filesystem::remove(both);
  // Without a certificate the server refuses the account.
  EXPECT_EQ(MySqlErrorOf([&] { OpenTls(info.X509User, info.X509Password); }), 1045);
}

TEST(MySqlVioTcpSSLLogin, TheClientApiHandsItsFilesToTheTlsLogin) {
  const auto& info = TestServer::Info();
  TMySQLAPIDirect& api = MyAPIDirect();
  for (const std::string& cert : {info.ClientCert, std::string("/nonexistent/api.pem")}) {
    SCOPED_TRACE(cert);
    PMYSQL_CON h = api.mysql_init(nullptr);
    api.mysql_ssl_set(h, info.ClientKey, cert, info.CaCert, {}, {});
    const bool connected = api.mysql_real_connect(h, info.Host, info.X509User, info.X509Password, {},
                                                  static_cast<uint32_t>(info.Port), {}, 0) != nullptr;
    EXPECT_EQ(connected, cert == info.ClientCert) << api.mysql_error(h);
    if (connected) {
      EXPECT_EQ(api.mysql_get_host_info(h), info.Host + " via SSL");
    } else {
      EXPECT_EQ(api.mysql_errno(h), uint32_t(CR_SSL_CONNECTION_ERROR));
      EXPECT_NE(api.mysql_error(h).find("certificate file '" + cert + "'"), std::string::npos);
    }
    api.mysql_close(h);
  }
}

// What the heap holds for live allocations, outside the sanitizer builds.
size_t HeapInUse() {
  return mallinfo2().uordblks;
}

TEST(MySqlVioTcpSSLLogin, RepeatedTlsLoginsLeaveNothingBehind) {
  const auto& info = TestServer::Info();
  auto loginAndQuit = [&] {
    OpenTls(info.NativeUser, info.NativePassword, {info.ClientKey, info.ClientCert})->Close();
  };
  for (int i = 0; i < 3; ++i) loginAndQuit();  // the libraries' own one-time tables
  const size_t before = HeapInUse();
  for (int i = 0; i < 30; ++i) loginAndQuit();
#ifdef DA_HAVE_LSAN
  (void)before;
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#else
  // One lost TLS context or connection is tens of kilobytes; 30 of them could not hide.
  EXPECT_LT(HeapInUse(), before + 64 * 1024);
#endif
}

TEST(MySqlVioTcpSSLLogin, ANamedCaMustHaveSignedTheCertificateOfTheHostConnectedTo) {
  const auto& info = TestServer::Info();
  TLoopbackRelay relay("127.0.0.2", info.Host, info.Port);
  // Host, port, CA file, the verifier's reason ("" when the login succeeds).
  const std::tuple<const char*, std::string, int, std::string, std::string> cases[] = {
      {"a CA that did not sign it", info.Host, info.Port, info.Get("OTHER_CA_CERT"),
       "self-signed certificate in certificate chain"},
      {"the right CA, an address the certificate does not name", "127.0.0.2", relay.Port, info.CaCert,
       "IP address mismatch"},
      {"the right CA and address", info.Host, info.Port, info.CaCert, ""},
      {"the right CA and host name", "localhost", info.Port, info.CaCert, ""},
  };
  for (const auto& [name, host, port, ca, refusal] : cases) {
    SCOPED_TRACE(name);
    TMySqlSession s;
    s.Protocol = MYSQL_PROTOCOL_SSL;
    s.SslCa = ca;
    std::string message;
    const int error = MySqlErrorOf(
        [&] {
          s.Connect(host, info.NativeUser, 0, {}, static_cast<uint32_t>(port), {}, info.NativePassword);
        },
        &message);
    if (refusal.empty()) {
      EXPECT_EQ(error, 0) << message;
      if (error == 0) {
        EXPECT_NE(Status(s, "Ssl_version"), "");
      }
      continue;
    }
    EXPECT_EQ(error, CR_SSL_CONNECTION_ERROR);
    EXPECT_EQ(message.rfind("SSL connection error\r\nThe server's certificate was refused (host '" + host +
                                "'): " + refusal,
                            0),
              0u)
        << message;
    EXPECT_EQ(s.State(), TMySqlSessionState::NotConnected);
  }
}

// Without a CA the server's certificate is not checked: the address it does not name connects.
TEST(MySqlVioTcpSSLLogin, WithoutACaTheConnectionIsEncryptedButNotVerified) {
  const auto& info = TestServer::Info();
  TLoopbackRelay relay("127.0.0.2", info.Host, info.Port);
  TMySqlSession s;
  s.Protocol = MYSQL_PROTOCOL_SSL;
  s.Connect("127.0.0.2", info.NativeUser, 0, {}, static_cast<uint32_t>(relay.Port), {}, info.NativePassword);
  EXPECT_NE(Status(s, "Ssl_version"), "");
}

// TLS 1.3 suites are restricted by the list as TLS 1.2 ciphers are; a list without names of one
// version leaves that version out.
TEST(MySqlVioTcpSSLLogin, TheCipherListRestrictsTls13SuitesAndTls12Ciphers) {
  const auto& info = TestServer::Info();
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"TLS_AES_128_GCM_SHA256", "TLSv1.3", "TLS_AES_128_GCM_SHA256"},
      {"ECDHE-RSA-AES128-GCM-SHA256", "TLSv1.2", "ECDHE-RSA-AES128-GCM-SHA256"},
      {"TLS_CHACHA20_POLY1305_SHA256, ECDHE-RSA-AES256-GCM-SHA384", "TLSv1.3",
       "TLS_CHACHA20_POLY1305_SHA256"},
  };
  for (const auto& [list, version, cipher] : cases) {
    SCOPED_TRACE(list);
    TSslFiles files;
    files.Cipher = list;
    auto s = OpenTls(info.NativeUser, info.NativePassword, files);
    EXPECT_EQ(Status(*s, "Ssl_version"), version);
    EXPECT_EQ(Status(*s, "Ssl_cipher"), cipher);
  }
}

// A private server started without certificates.
class TServerWithoutTls {
 public:
  TServerWithoutTls() {
    FDir = std::filesystem::path(DA_TEST_SERVER_INFO).parent_path().string() + "-notls-" +
           std::to_string(::getpid());
    if (std::system((Script() + " start '" + FDir + "' --no-tls").c_str()) != 0) return;
    std::ifstream f(FDir + "/server.env");
    std::stringstream text;
    text << f.rdbuf();
    Info = TestServer::Parse(text.str(), FDir + "/server.env");
  }
  ~TServerWithoutTls() {
    if (std::system((Script() + " stop '" + FDir + "'").c_str()) == 0) std::filesystem::remove_all(FDir);
  }
  TestServer::TInfo Info;

 private:
  static std::string Script() { return std::string(DA_TEST_SOURCE_DIR) + "/scripts/test-server"; }
  std::string FDir;
};

TEST(MySqlVioTcpSSLLogin, ServerWithoutTlsGets2026AndNoPlainLogin) {
  TServerWithoutTls server;
  ASSERT_GT(server.Info.Port, 0) << "the server without TLS did not start";
  const TestServer::TInfo& info = server.Info;
  auto plain = OpenPlain(info);
  const std::string preauth = "Aborted_connects_preauth";
  const auto count = [&] {
    return Rows(*plain, "SHOW GLOBAL STATUS LIKE '" + preauth + "'").at(0).substr(preauth.size() + 1);
  };
  const std::string abortedBefore = count();
  TMySqlSession tls;
  tls.Protocol = MYSQL_PROTOCOL_SSL;
  std::string message;
  EXPECT_EQ(MySqlErrorOf([&] { Connect(tls, info, info.NativeUser, info.NativePassword); }, &message),
            CR_SSL_CONNECTION_ERROR);
  EXPECT_EQ(message, "SSL connection error\r\nThe server does not support SSL connections");
  EXPECT_EQ(tls.State(), TMySqlSessionState::NotConnected);
  // The server saw the connection end before any login reached it.
  for (int i = 0; i < 50 && count() == abortedBefore; ++i) ::usleep(20000);
  EXPECT_EQ(std::stoi(count()), std::stoi(abortedBefore) + 1);
}

// In a process of its own: the libraries are loaded once per process.
TEST(MySqlVioTcpSSLDeathTest, NoLoadableLibsslGivesTheLoadMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto& info = TestServer::Info();
  EXPECT_EXIT(
      {
        SetSslLibraryNames("libcrypto.so.3", "libssl-da-missing.so.3");
        TMySqlSession s;
        s.Protocol = MYSQL_PROTOCOL_SSL;
        const auto connect = [&] { Connect(s, info, info.NativeUser, info.NativePassword); };
        try {
          connect();
        } catch (const EOSError& e) {
          fprintf(stderr, "%s\n", e.Message().c_str());
        }
        // A later load with names that exist succeeds.
        SetSslLibraryNames("libcrypto.so.3", "libssl.so.3");
        connect();
        fprintf(stderr, "%s\n", s.HostInfo().c_str());
        exit(0);
      },
      ::testing::ExitedWithCode(0),
      "OpenSSL client library couldn't be loaded. Please place libcrypto.so.3 and libssl-da-missing.so.3 to "
      "system folder.*\r\n.*libssl-da-missing.so.3.*via SSL");
}

}  // namespace
