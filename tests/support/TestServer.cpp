#include "TestServer.h"

#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/runtime/Exceptions.h"

const std::string& TestServer::TInfo::Get(const std::string& key) const {
  auto it = Values.find(key);
  if (it == Values.end()) throw Exception("test server info has no " + key);
  return it->second;
}

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::string Unquote(std::string v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

TestServer::TInfo TestServer::Parse(const std::string& text, const std::string& origin) {
  TInfo info;
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0)
      throw Exception(origin + ":" + std::to_string(lineNo) + ": not a KEY=value line: " + line);
    info.Values[Trim(line.substr(0, eq))] = Unquote(Trim(line.substr(eq + 1)));
  }
  auto req = [&](const char* key) -> const std::string& {
    auto it = info.Values.find(key);
    if (it == info.Values.end()) throw Exception(origin + ": the test server info lacks " + key);
    return it->second;
  };
  info.Host = req("HOST");
  const std::string& port = req("PORT");
  try {
    info.Port = std::stoi(port);
  } catch (const std::exception&) {
    throw Exception(origin + ": PORT is not a number: " + port);
  }
  info.Socket = req("SOCKET");
  info.Version = req("VERSION");
  info.RootUser = req("ROOT_USER");
  info.RootPassword = req("ROOT_PASSWORD");
  info.NativeUser = req("NATIVE_USER");
  info.NativePassword = req("NATIVE_PASSWORD");
  info.EmptyUser = req("EMPTY_USER");
  info.OldUser = req("OLD_USER");
  info.OldPassword = req("OLD_PASSWORD");
  info.X509User = req("X509_USER");
  info.X509Password = req("X509_PASSWORD");
  info.CaCert = req("CA_CERT");
  info.ServerCert = req("SERVER_CERT");
  info.ServerKey = req("SERVER_KEY");
  info.ClientCert = req("CLIENT_CERT");
  info.ClientKey = req("CLIENT_KEY");
  info.PidFile = req("PID_FILE");
  return info;
}

const TestServer::TInfo& TestServer::Info() {
  static std::once_flag once;
  static TInfo info;
  std::call_once(once, [] {
    const std::string path = DA_TEST_SERVER_INFO;
    std::ifstream in(path);
    if (!in)
      throw Exception("test server info file " + path +
                      " is missing: the test_server fixture did not start the server "
                      "(run the test through ctest, or scripts/test-server start " +
                      path.substr(0, path.rfind('/')) + ")");
    std::stringstream text;
    text << in.rdbuf();
    info = Parse(text.str(), path);
  });
  return info;
}
