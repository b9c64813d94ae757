// The provider connection and command over a client API that records what it is asked to do.
#include "mysql/MySQLConnection.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "mysql/MySQLCommand.h"
#include "platform/runtime/Format.h"

namespace {

// Answers every call a connection makes; records the ones that reach the server.
class TRecordingAPI : public TMySQLAPI {
 public:
  std::vector<std::string> Calls;
  std::string ServerVersion = "10.11.6-MariaDB", FailingQuery;
  uint32_t Errno = 0;

  void Initialize() override { SetClientVersion("4.1.3 Direct", MYSQL_CLIENT_DIRECT); }
  PMYSQL_CON mysql_init(PMYSQL_CON) override { return reinterpret_cast<PMYSQL_CON>(this); }
  int mysql_options(PMYSQL_CON, int option, uint32_t value) override {
    if (option != MYSQL_OPT_READ_TIMEOUT && option != MYSQL_OPT_WRITE_TIMEOUT)
      Calls.push_back(Format("option %d=%u", {option, value}));
    return 0;
  }
  int mysql_ssl_set(PMYSQL_CON, const std::string& key, const std::string& cert, const std::string& ca,
                    const std::string& caPath, const std::string& cipher) override {
    Calls.push_back("ssl " + key + "|" + cert + "|" + ca + "|" + caPath + "|" + cipher);
    return 0;
  }
  PMYSQL_CON mysql_real_connect(PMYSQL_CON mysql, const std::string& host, const std::string& user,
                                const std::string&, const std::string& db, uint32_t port, const std::string&,
                                uint32_t flags) override {
    Calls.push_back(Format("connect %s %s %s %u %x", {host, user, db, port, flags}));
    return mysql;
  }
  void mysql_close(PMYSQL_CON) override { Calls.push_back("close"); }
  std::string mysql_get_server_info(PMYSQL_CON) override { return ServerVersion; }
  int mysql_real_query(PMYSQL_CON, std::string_view query) override {
    Calls.push_back(std::string(query));
    return static_cast<int>(Errno = query == FailingQuery ? 1146 : 0);
  }
  uint64_t mysql_affected_rows(PMYSQL_CON) override { return ~uint64_t{0}; }
  uint32_t mysql_field_count(PMYSQL_CON) override { return 0; }
  PMYSQL_RES mysql_use_result(PMYSQL_CON) override { return nullptr; }
  int mysql_next_result(PMYSQL_CON) override { return -1; }
  uint32_t mysql_errno(PMYSQL_CON) override { return Errno; }
  std::string mysql_error(PMYSQL_CON) override { return Errno ? "failed" : ""; }
  void GetFieldInfo(PMYSQL_RES, uint32_t, TMySqlFieldRecord&, bool) override { ADD_FAILURE(); }
  int StmtExecute(PMYSQL_STMT, const TParamDescs&, bool) override { return 0; }
  int StmtBindResults(PMYSQL_STMT) override { return 0; }
};

struct TFixture {
  TRecordingAPI Api;
  TMySQLConnection Conn;
  TFixture() {
    Conn.SetProp(prMySQLAPI, Variant::FromObject(&Api));
    Conn.SetUsername("gm");
  }
};

using TCalls = std::vector<std::string>;

TEST(MySQLConnectionTest, ConnectAsksForTheSettings) {
  const std::tuple<const char*, std::function<void(TFixture&)>, TCalls> cases[] = {
      {"database, port, compression and a character set",
       [](TFixture& f) {
         f.Conn.SetProp(prDatabase, "account"), f.Conn.SetProp(prPort, 3307);
         f.Conn.SetProp(prCompress, true), f.Conn.SetProp(prCharset, "gbk");
       },
       {"option 0=15", "connect localhost gm account 3307 10022", "SET NAMES gbk"}},
      {"Unicode against a 4.0 server is switched off",
       [](TFixture& f) { f.Api.ServerVersion = "4.0.18-log", f.Conn.SetProp(prUseUnicode, true); },
       {"option 0=15", "connect localhost gm  0 10002"}},
      {"SSL paths reach the client as given",
       [](TFixture& f) {
         f.Conn.SetProp(prProtocol, int(mpSSL)), f.Conn.SetProp(prSSLKey, "/etc/gm/client-key.pem");
         f.Conn.SetProp(prSSLCert, "/etc/gm/client-cert.pem"), f.Conn.SetProp(prSSLCACert, "/etc/gm/ca.pem");
         f.Conn.SetProp(prSSLChipherList, "AES256-SHA");
       },
       {"option 0=15", "ssl /etc/gm/client-key.pem|/etc/gm/client-cert.pem|/etc/gm/ca.pem||AES256-SHA",
        "connect localhost gm  0 10002", "SELECT @@character_set_client"}},
  };
  for (const auto& [name, setup, expected] : cases) {
    SCOPED_TRACE(name);
    TFixture f;
    setup(f);
    f.Conn.Connect("");
    EXPECT_EQ(f.Api.Calls, expected);
    EXPECT_EQ(f.Conn.GetUseUnicode(), false);
  }
}

TEST(MySQLConnectionTest, ASecondSessionGetsTheSslFilesToo) {
  TFixture f;
  f.Conn.SetProp(prProtocol, int(mpSSL)), f.Conn.SetProp(prSSLKey, "/k.pem"),
      f.Conn.SetProp(prSSLCert, "/c.pem");
  TMySQLConnection aux;
  aux.AssignConnectionSettings(f.Conn);
  aux.Connect("");
  EXPECT_EQ(f.Api.Calls, (TCalls{"option 0=15", "ssl /k.pem|/c.pem|||", "connect localhost gm  0 10002",
                                 "SELECT @@character_set_client"}));
}

// Unicode takes the 4-byte utf8 where the server has it; switched off on an open connection, the
// session goes back to the set the literals are then written in.
TEST(MySQLConnectionTest, UnicodeNamesFollowTheServerAndTheSwitch) {
  const std::tuple<const char*, std::string, TCalls, TCharsetKind> cases[] = {
      {"10.11.6-MariaDB", "", {"SET NAMES utf8mb4", "SET NAMES latin1"}, TCharsetKind::SingleByte},
      {"5.5.5-10.11.6-MariaDB", "gbk", {"SET NAMES utf8mb4", "SET NAMES gbk"}, TCharsetKind::Gbk},
      {"5.1.73-log", "", {"SET NAMES utf8", "SET NAMES latin1"}, TCharsetKind::SingleByte},
  };
  for (const auto& [version, charset, names, textCharset] : cases) {
    SCOPED_TRACE(version);
    TFixture f;
    f.Api.ServerVersion = version;
    f.Conn.SetProp(prCharset, charset);
    f.Conn.SetProp(prUseUnicode, true);
    f.Conn.Connect("");
    EXPECT_EQ(f.Conn.GetTextCharset(), TCharsetKind::Utf8);
    f.Conn.SetProp(prUseUnicode, false);
    EXPECT_EQ(TCalls(f.Api.Calls.begin() + 2, f.Api.Calls.end()), names);
    EXPECT_EQ(f.Conn.GetTextCharset(), textCharset);
  }
}

TEST(MySQLConnectionTest, SettingsThatCannotBeSentLeaveTheConnectionClosed) {
  const std::pair<std::function<void(TFixture&)>, std::string> cases[] = {
      {[](TFixture& f) { f.Conn.SetProp(prProtocol, 9); }, "Wrong protocol"},
      {[](TFixture& f) { f.Conn.SetProp(prCharset, "gbk; DROP DATABASE account"); },
       "Invalid character set name: gbk; DROP DATABASE account"},
  };
  for (const auto& [setup, message] : cases) {
    SCOPED_TRACE(message);
    TFixture f;
    setup(f);
    try {
      f.Conn.Connect("");
      ADD_FAILURE() << "connected";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), message);
    }
    EXPECT_FALSE(f.Conn.GetConnected());
    EXPECT_EQ(f.Api.Calls.back(), "close");
  }
}

// The handler may clear the failure (the statement is then aborted silently); an auxiliary
// connection refuses reconnecting.
TEST(MySQLConnectionTest, ServerErrorsGoThroughTheErrorHandler) {
  for (bool auxiliary : {false, true}) {
    SCOPED_TRACE(auxiliary ? "auxiliary" : "handler clears fail");
    TFixture f;
    f.Conn.Connect("");
    f.Conn.SetAuxiliary(auxiliary);
    std::vector<int> attempts;
    f.Conn.OnError = [&](EDAError& e, bool& fail, bool& reconnect, bool& reexecute, int attempt,
                         TConnLostCause&) {
      attempts.push_back(attempt);
      EXPECT_EQ(e.ErrorCode, 1146);
      fail = reconnect = reexecute = auxiliary;
    };
    f.Api.FailingQuery = "DELETE FROM t_none";
    f.Api.Calls.clear();
    if (auxiliary) {
      EXPECT_THROW(f.Conn.ExecSQL("DELETE FROM t_none"), EMyError);
    } else {
      EXPECT_THROW(f.Conn.ExecSQL("DELETE FROM t_none"), EAbort);
    }
    EXPECT_EQ(attempts, std::vector<int>{0});
    EXPECT_EQ(f.Api.Calls, TCalls{"DELETE FROM t_none"});
  }
}

// ---- the command: parameters written into the text ---------------------------------------------

TEST(MySQLCommandTest, PlaceholdersAreFoundAsTheServerReadsTheText) {
  const TCharsetKind L = TCharsetKind::SingleByte, G = TCharsetKind::Gbk;
  const std::tuple<const char*, std::string, TCharsetKind, bool, std::vector<size_t>> cases[] = {
      {"quotes and comments", "SELECT '?', `?`, ? -- ?\n, ? # ?\n/* ? */ , ?", L, false, {17, 26, 42}},
      {"no comment without a blank after --", "SELECT 1 --?", L, false, {11}},
      {"GBK character ending in a backslash before the quote", "SELECT '\x95\\', ?", G, false, {13}},
      {"the same bytes in latin1 escape the quote", "SELECT '\x95\\', ?', ?", L, false, {17}},
      {"a backslash before the quote under NO_BACKSLASH_ESCAPES", "SELECT 'C:\\', ?", L, true, {14}},
      {"an escaped quote there is a doubled one", "SELECT 'a\\''?', ?", L, true, {16}},
  };
  for (const auto& [name, sql, charset, noBackslashEscapes, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(FindPlaceholders(sql, charset, noBackslashEscapes), expected);
  }
}

// A command on a connected recording connection.
struct TCommandFixture : TFixture {
  TMySQLCommand Cmd;
  std::vector<std::string> Traced;
  explicit TCommandFixture(bool unicode = false) {
    Conn.SetProp(prCharset, "gbk");
    Conn.SetProp(prUseUnicode, unicode);
    Conn.Connect("");
    Cmd.SetConnection(&Conn);
    Cmd.TraceHook = [this](const std::string& sql) { Traced.push_back(sql); };
  }
  void Add(TDataType type, Variant value) {
    TParamDesc* p = Cmd.AddParam();
    p->SetDataType(type), p->SetParamType(pdInput), p->SetValue(value);
  }
};

TEST(MySQLCommandTest, ParametersAtRecordedPositions) {
  TCommandFixture f;
  f.Cmd.SetProp(prCollectingPositions, true);
  f.Cmd.SetSQL("CALL p(?, ?)");
  f.Cmd.SetProp(prParamPosition, 8);
  f.Cmd.SetProp(prParamPosition, 11);
  f.Add(dtBoolean, true);
  f.Add(dtString, "x");
  EXPECT_EQ(f.Cmd.BuildSQLText(), "CALL p(b'1', 'x')");
  f.Cmd.ProcedureCall = true;  // INOUT arguments first
  f.Cmd.GetParam(1)->SetParamType(pdInputOutput);
  EXPECT_EQ(f.Cmd.BuildSQLText(), "CALL p('x', b'1')");
  f.Cmd.ProcedureCall = false;
  f.Cmd.SetProp(prParamPosition, 12);
  EXPECT_THROW(f.Cmd.BuildSQLText(), EAssertionFailed) << "three positions for two parameters";
  f.Cmd.SetProp(prCollectingPositions, false);
  f.Cmd.SetSQL("SELECT ?, ?, ?");
  EXPECT_THROW(f.Cmd.BuildSQLText(), EAssertionFailed) << "a placeholder without a parameter";
}

TEST(MySQLCommandTest, UnicodeConnectionsSendUtf8AndTraceAnsi) {
  TCommandFixture f(true);
  const std::string biao = "\xB1\xED";  // GBK 表
  f.Cmd.SetSQL("SELECT '" + biao + "', ?");
  f.Add(dtString, biao + "'");
  f.Cmd.Execute();
  EXPECT_EQ(f.Api.Calls.back(), "SELECT '\xE8\xA1\xA8', '\xE8\xA1\xA8\\''");
  EXPECT_EQ(f.Traced, std::vector<std::string>{"SELECT '" + biao + "', '" + biao + "\\''"});
}

TEST(MySQLCommandTest, AFailedExecutionKeepsTheStateAndTellsTheCallback) {
  TCommandFixture f;
  std::vector<bool> outcomes;
  f.Cmd.AfterExecute = [&](bool ok) { outcomes.push_back(ok); };
  f.Cmd.SetSQL("DELETE FROM t_none");
  f.Api.FailingQuery = "DELETE FROM t_none";
  EXPECT_THROW(f.Cmd.Execute(), EMyError);
  EXPECT_EQ(f.Cmd.GetCursorState(), csInactive);
  EXPECT_FALSE(f.Cmd.GetExecuting());
  f.Api.FailingQuery.clear();
  f.Cmd.Execute();
  EXPECT_EQ(outcomes, (std::vector<bool>{false, true}));
  Variant rows;
  f.Cmd.GetProp(prRowsAffected, rows);
  EXPECT_EQ(rows.AsInt64(), 0) << "unknown (-1) reads as 0";
}

}  // namespace
