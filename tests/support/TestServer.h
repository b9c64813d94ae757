// Where the private test server runs and who may log in: read from the info file that
// scripts/test-server writes when the CTest fixture starts it.
#pragma once

#include <map>
#include <string>

class TestServer {
 public:
  struct TInfo {
    std::string Host;  // 127.0.0.1
    int Port = 0;
    std::string Socket;  // the server's own Unix socket
    std::string Version;
    std::string RootUser, RootPassword;  // root logs in over the socket only
    std::string NativeUser, NativePassword;
    std::string EmptyUser;               // no password
    std::string OldUser, OldPassword;    // old (pre-4.1) password hash
    std::string X509User, X509Password;  // REQUIRE X509: needs the client certificate
    std::string CaCert, ServerCert, ServerKey, ClientCert, ClientKey;
    std::string PidFile;
    std::map<std::string, std::string> Values;  // every KEY=value line of the file

    // The value of key; raises Exception when the file has no such key.
    const std::string& Get(const std::string& key) const;
  };

  // The info of the running test server, read once. A missing or incomplete file raises
  // Exception naming the file: database tests fail loudly, they never skip.
  static const TInfo& Info();

  // Parses the lines of an info file (KEY=value; blank lines and # comments ignored; a value may
  // be quoted). Raises Exception on a line without "=" or a missing required key.
  static TInfo Parse(const std::string& text, const std::string& origin);
};
