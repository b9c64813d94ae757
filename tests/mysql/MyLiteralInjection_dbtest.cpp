// No parameter value can leave its string literal, whatever the connection's character set:
// every lead byte before a quote, a backslash or a letter, alone and before a payload, goes
// through each parameter path into a binary column and comes back byte for byte, and a probe
// that would match every row if the payload got out changes none.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ApiTestSupport.h"
#include "core/MemBlob.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySqlApiClient.h"

namespace {

using api_test::TScratchDb;

const std::string Payload = "' OR 1=1 -- ";

std::string Hex(const std::string& bytes) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) hex += std::string{Digits[c >> 4], Digits[c & 15]};
  return hex;
}

// Lead byte, then a quote, a backslash or a letter, alone and before the payload.
std::vector<std::string> HostileValues() {
  std::vector<std::string> values;
  for (int lead = 0x80; lead <= 0xFF; ++lead)
    for (char next : {'\'', '\\', 'a'}) {
      const std::string pair{static_cast<char>(lead), next};
      values.push_back(pair);
      values.push_back(pair + Payload);
    }
  return values;
}

struct TConnCase {
  const char* Name;
  std::string Charset;
  bool Unicode;
};

// How a value travels: its parameter type, whether a blob object carries it, prepared or not.
struct TPathCase {
  const char* Name;
  TDataType Type;
  bool AsBlob;
  bool Prepared;
};

std::unique_ptr<TMySQLConnection> Open(const std::string& database, const TConnCase& c,
                                       const std::string& user = TestServer::Info().NativeUser,
                                       const std::string& password = TestServer::Info().NativePassword) {
  const auto& srv = TestServer::Info();
  auto conn = std::make_unique<TMySQLConnection>();
  conn->SetServer(srv.Host);
  conn->SetUsername(user);
  conn->SetPassword(password);
  conn->SetProp(prPort, srv.Port);
  conn->SetProp(prDatabase, database);
  conn->SetProp(prCharset, c.Charset);
  conn->SetProp(prUseUnicode, c.Unicode);
  conn->Connect("");
  return conn;
}

// Runs sql with one parameter per value (and an id before each where the text has "?, ?").
// Returns the rows each execution changed.
std::vector<int64_t> RunEach(TMySQLConnection& conn, const TPathCase& path, const std::string& sql,
                             const std::vector<std::string>& values) {
  TMySQLCommand cmd;
  cmd.SetConnection(&conn);
  cmd.SetSQL(sql);
  TParamDesc* id = cmd.AddParam();
  id->SetDataType(dtInt32);
  TParamDesc* value = cmd.AddParam();
  value->SetDataType(path.Type);
  if (path.Prepared) cmd.Prepare();
  std::vector<int64_t> changed;
  for (size_t i = 0; i < values.size(); ++i) {
    id->SetValue(static_cast<int32_t>(i));
    std::unique_ptr<TBlob, void (*)(TBlob*)> blob(nullptr, [](TBlob* b) { b->Release(); });
    if (path.AsBlob) {
      blob.reset(new TBlob());
      blob->SetAsString(values[i]);
      value->SetObject(blob.get());
    } else {
      value->SetValue(values[i]);
    }
    cmd.Execute();
    changed.push_back(cmd.GetRowsAffected());
  }
  if (path.Prepared) cmd.Unprepare();
  return changed;
}

std::vector<std::string> StoredHex(TMySQLConnection& conn) {
  TMySQLCommand cmd;
  cmd.SetConnection(&conn);
  cmd.SetSQL("SELECT HEX(v) FROM t ORDER BY id");
  cmd.ResultWanted = true;
  cmd.Execute();
  TMySQLAPI& api = *conn.GetAPI();
  std::vector<std::string> hex;
  PMYSQL_RES res = cmd.GetResult();
  while (PMYSQL_ROW row = api.mysql_fetch_row(res)) hex.push_back(api.GetFieldStr(row, 0));
  cmd.SetResult(nullptr);
  api.mysql_free_result(res);
  return hex;
}

TEST(MyLiteralInjection, HostileBytesStayInsideTheirLiteralOnEveryPathAndCharacterSet) {
  TScratchDb db;
  const std::vector<std::string> values = HostileValues();
  const TConnCase conns[] = {
      {"gbk", "gbk", false},         {"big5", "big5", false},     {"sjis", "sjis", false},
      {"utf8mb4", "utf8mb4", false}, {"latin1", "latin1", false}, {"no Charset", "", false},
      {"UseUnicode", "", true},
  };
  const TPathCase paths[] = {
      {"string as text", dtString, false, false}, {"string prepared", dtString, false, true},
      {"memo as text", dtMemo, true, false},      {"memo prepared", dtMemo, true, true},
      {"blob as text", dtBlob, true, false},      {"blob prepared", dtBlob, true, true},
  };
  for (const TConnCase& c : conns) {
    auto conn = Open(db.Name(), c);
    for (const TPathCase& path : paths) {
      SCOPED_TRACE(std::string(c.Name) + ", " + path.Name);
      conn->ExecSQL("DROP TABLE IF EXISTS t");
      conn->ExecSQL("CREATE TABLE t (id INT PRIMARY KEY, v VARBINARY(64), probe INT NOT NULL DEFAULT 0)");
      RunEach(*conn, path, "INSERT INTO t (id, v) VALUES (?, ?)", values);
      // Text is sent in the connection's set: under UseUnicode the ANSI text becomes UTF-8;
      // blob content is bytes and goes unchanged.
      const std::vector<std::string> stored = StoredHex(*conn);
      ASSERT_EQ(stored.size(), values.size());
      int wrong = 0;
      for (size_t i = 0; i < values.size() && wrong < 5; ++i) {
        const std::string expected = c.Unicode && path.Type != dtBlob ? AnsiToUtf8(values[i]) : values[i];
        if (stored[i] != Hex(expected))
          ++wrong, ADD_FAILURE() << Hex(values[i]) << " stored as " << stored[i];
      }
      const std::vector<int64_t> changed =
          RunEach(*conn, path, "UPDATE t SET probe = probe + 1 WHERE id = -1 - ? AND v = ?", values);
      for (size_t i = 0; i < values.size(); ++i)
        if (changed[i] != 0) ADD_FAILURE() << "the probe with " << Hex(values[i]) << " changed rows";
      EXPECT_EQ(StoredHex(*conn).size(), values.size());
    }
  }
}

// A statement that changes the session's character set: the server reports the change and the
// literals that follow are escaped for the new set, however it was changed.
TEST(MyLiteralInjection, LiteralsFollowTheSetAStatementGaveTheSession) {
  TScratchDb db;
  struct TChangeCase {
    const char* Name;
    TConnCase Conn;
    std::vector<std::string> Statements;
    bool SameBytes;  // the connection's set is the client's, so a binary column keeps every byte
  };
  const std::string proc = "CREATE PROCEDURE to_gbk() SET NAMES gbk";
  const TChangeCase cases[] = {
      {"latin1, SET NAMES gbk", {"latin1", "latin1", false}, {"SET NAMES gbk"}, true},
      {"latin1, SET NAMES big5", {"latin1", "latin1", false}, {"SET NAMES big5"}, true},
      {"UseUnicode, SET NAMES gbk", {"UseUnicode", "", true}, {"SET NAMES gbk"}, true},
      {"gbk, SET NAMES latin1", {"gbk", "gbk", false}, {"SET NAMES latin1"}, true},
      {"latin1, SET character_set_client",
       {"latin1", "latin1", false},
       {"SET character_set_client = gbk, character_set_connection = gbk"},
       true},
      {"latin1, SET CHARACTER SET", {"latin1", "latin1", false}, {"SET CHARACTER SET gbk"}, false},
      {"latin1, SET NAMES in a routine", {"latin1", "latin1", false}, {proc, "CALL to_gbk()"}, true},
  };
  const TPathCase paths[] = {{"string as text", dtString, false, false},
                             {"memo as text", dtMemo, true, false}};
  const std::vector<std::string> values = HostileValues();
  for (const TChangeCase& c : cases) {
    auto conn = Open(db.Name(), c.Conn);
    conn->ExecSQL("DROP PROCEDURE IF EXISTS to_gbk");
    for (const std::string& statement : c.Statements) conn->ExecSQL(statement);
    for (const TPathCase& path : paths) {
      SCOPED_TRACE(std::string(c.Name) + ", " + path.Name);
      conn->ExecSQL("DROP TABLE IF EXISTS t");
      conn->ExecSQL("CREATE TABLE t (id INT PRIMARY KEY, v VARBINARY(64), probe INT NOT NULL DEFAULT 0)");
      try {
        RunEach(*conn, path, "INSERT INTO t (id, v) VALUES (?, ?)", values);
        const std::vector<int64_t> changed =
            RunEach(*conn, path, "UPDATE t SET probe = probe + 1 WHERE id = -1 - ? AND v = ?", values);
        EXPECT_EQ(std::count(changed.begin(), changed.end(), 0), static_cast<ptrdiff_t>(values.size()));
      } catch (const std::exception& e) {
        ADD_FAILURE() << "a payload left its literal: " << e.what();
        continue;
      }
      const std::vector<std::string> stored = StoredHex(*conn);
      ASSERT_EQ(stored.size(), values.size());
      int wrong = 0;
      for (size_t i = 0; c.SameBytes && i < values.size() && wrong < 5; ++i) {
        const std::string expected = c.Conn.Unicode ? AnsiToUtf8(values[i]) : values[i];
        if (stored[i] != Hex(expected))
          ++wrong, ADD_FAILURE() << Hex(values[i]) << " stored as " << stored[i];
      }
    }
  }
}

// The client library follows the server's report of the session's set as the direct protocol does.
TEST(MyLiteralInjection, EveryClientVariantFollowsTheSessionsSet) {
  TScratchDb db;
  MyAPIClient().Initialize();
  for (TMySQLAPI* api : {static_cast<TMySQLAPI*>(&MyAPIDirect()), static_cast<TMySQLAPI*>(&MyAPIClient())}) {
    SCOPED_TRACE(api == &MyAPIClient() ? "client library" : "direct");
    const auto& srv = TestServer::Info();
    TMySQLConnection conn;
    conn.SetProp(prMySQLAPI, Variant::FromObject(api));
    conn.SetServer(srv.Host);
    conn.SetUsername(srv.NativeUser);
    conn.SetPassword(srv.NativePassword);
    conn.SetProp(prPort, srv.Port);
    conn.SetProp(prDatabase, db.Name());
    conn.SetProp(prCharset, std::string("latin1"));
    conn.Connect("");
    EXPECT_EQ(conn.GetTextCharset(), TCharsetKind::SingleByte);
    conn.ExecSQL("SET NAMES gbk");
    EXPECT_EQ(conn.GetTextCharset(), TCharsetKind::Gbk);
    conn.ExecSQL("SET CHARACTER SET big5");
    EXPECT_EQ(conn.GetTextCharset(), TCharsetKind::Big5);
    conn.ExecSQL("SET NAMES latin1");
    EXPECT_EQ(conn.GetTextCharset(), TCharsetKind::SingleByte);
    conn.Disconnect();
  }
}

// A session whose character set the server chose, not the login (as on a server that skips the
// client's handshake set): the init_connect statement, which runs for accounts without admin
// rights only, gives it gbk while the login asked for latin1. The connection asks the server.
TEST(MyLiteralInjection, TheSessionsOwnCharacterSetIsAskedForAndEscapedFor) {
  TScratchDb db;
  auto admin = Open(db.Name(), {"admin", "", false});
  const std::string user = "da_gbk_" + std::to_string(::getpid());
  admin->ExecSQL("CREATE USER '" + user + "'@'%' IDENTIFIED BY 'Gbk_pw1'");
  admin->ExecSQL("GRANT ALL ON " + db.Name() + ".* TO '" + user + "'@'%'");
  struct TRestore {
    TMySQLConnection& Admin;
    std::string User;
    ~TRestore() {
      try {
        Admin.ExecSQL("SET GLOBAL init_connect = ''");
        Admin.ExecSQL("DROP USER '" + User + "'@'%'");
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
      }
    }
  } restore{*admin, user};
  admin->ExecSQL("SET GLOBAL init_connect = 'SET NAMES gbk'");
  auto conn = Open(db.Name(), {"server's gbk", "", false}, user, "Gbk_pw1");
  EXPECT_EQ(conn->GetTextCharset(), TCharsetKind::Gbk);
  conn->ExecSQL("CREATE TABLE t (id INT PRIMARY KEY, v VARBINARY(64), probe INT NOT NULL DEFAULT 0)");
  const std::vector<std::string> values = HostileValues();
  const TPathCase path{"string as text", dtString, false, false};
  RunEach(*conn, path, "INSERT INTO t (id, v) VALUES (?, ?)", values);
  const std::vector<int64_t> changed =
      RunEach(*conn, path, "UPDATE t SET probe = probe + 1 WHERE id = -1 - ? AND v = ?", values);
  EXPECT_EQ(std::count(changed.begin(), changed.end(), 0), static_cast<ptrdiff_t>(values.size()));
  const std::vector<std::string> stored = StoredHex(*conn);
  ASSERT_EQ(stored.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(stored[i], Hex(values[i]));
}

}  // namespace
