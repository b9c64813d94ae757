// What the MySQL connection component decides by the server's version, against the scripted fake
// server: whether statements may be prepared, which query lists the stored routines, and what a
// result whose column type this client does not know gives.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "mysql/MySQLRecordset.h"
#include "mysql/MySqlProtocol.h"
#include "mysql/MySqlSession.h"
#include "platform/runtime/Classes.h"
#include "support/FakeMySqlServer.h"
#include "tests/mysql/MySqlPacketFactory.h"

using namespace mysql_test;

namespace {

// A 4.1-style greeting that names the given version.
Bytes Greeting(const std::string& version) {
  Bytes b = Greeting40(version, Caps41);
  PutScramble(b, 8, 20);
  b.push_back(0);
  return b;
}

// A text result of one column with the given rows, from sequence 1 on.
TFakeMySqlServer& Rows(TFakeMySqlServer& server, const std::vector<const char*>& rows) {
  server.SendPacket(1, Bytes{1})
      .SendPacket(2, FieldPacket41("", "", "", "c", "c", 8, 64, mftVarString, 0, 0))
      .SendPacket(3, EofPacket(0, 2));
  uint8_t seq = 4;
  for (const char* row : rows) server.SendPacket(seq++, TextRow({row}));
  return server.SendPacket(seq, EofPacket(0, 2));
}

// A query whose text is recorded for the test to look at.
TFakeMySqlServer::TPacketCheck Query(std::vector<std::string>& sent) {
  return [&sent](const Bytes& p) -> std::string {
    if (p.empty() || p[0] != COM_QUERY) return "not a query";
    sent.emplace_back(p.begin() + 1, p.end());
    return "";
  };
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

void PointAt(TMyConnection& conn, const TFakeMySqlServer& server) {
  conn.LoginPrompt = false;
  conn.SetServer("127.0.0.1");
  conn.SetPort(server.Port());
  conn.SetUsername("u");
  conn.SetPassword("pw");
  conn.SetDatabase("Db");
  conn.SetConnectionTimeout(3);
}

TEST(MyConnectionVersions, StoredRoutineQueryByServerVersion) {
  struct Case {
    const char* Version;
    std::string WantQuery;  // empty: nothing is asked
  };
  const std::vector<Case> cases = {
      {"4.1.22", ""},
      {"5.0.0", "SELECT name FROM mysql.proc ORDER BY name"},
      {"5.0.3", "SELECT name FROM mysql.proc WHERE LOWER(db) = 'db' ORDER BY name"},
      {"5.0.15-log",
       "SELECT ROUTINE_NAME FROM information_schema.routines WHERE LOWER(routine_schema) = 'db' ORDER BY "
       "ROUTINE_NAME"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Version);
    std::vector<std::string> sent;
    TFakeMySqlServer server;
    server.SetStepTimeoutMs(3000);
    server.SendPacket(0, Greeting(c.Version)).ReadPacket(1).SendPacket(2, OkPacket41(0, 0, 2));
    Rows(server.ReadPacket(0, Query(sent)), {"latin1"});
    if (!c.WantQuery.empty()) Rows(server.ReadPacket(0, Query(sent)), {"p1", "p2"});
    server.ExpectClose();
    server.Start();
    TMyConnection conn;
    PointAt(conn, server);
    conn.Open();
    TStringList list;
    conn.GetStoredProcNames(list);
    conn.Close();
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(list.Count(), c.WantQuery.empty() ? 0 : 2);
    ASSERT_EQ(sent.size(), c.WantQuery.empty() ? 1u : 2u);
    if (!c.WantQuery.empty()) {
      EXPECT_EQ(sent[1], c.WantQuery);
    }
  }
}

TEST(MyConnectionVersions, PrepareRefusedBeforeServerVersion41) {
  TFakeMySqlServer server;
  server.SetStepTimeoutMs(3000);
  server.SendPacket(0, Greeting40()).ReadPacket(1).SendPacket(2, Bytes{0, 0, 0, 2, 0}).ExpectClose();
  server.Start();
  TMyConnection conn;
  PointAt(conn, server);
  conn.Open();
  TMyCommand command;
  command.SetConnection(&conn);
  command.SetSQLText("SELECT 1");
  try {
    command.Prepare();
    ADD_FAILURE() << "prepared on a 4.0 server";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Prepare/UnPrepare is not supported by this MySQL server version");
  }
  EXPECT_FALSE(command.Prepared());
  conn.Close();
  EXPECT_EQ(server.Finish(), "");
}

// JSON (245) from a MySQL server, NEWDATE (14) and the unassigned codes: an error naming the column
// and the type, and the session stays usable, whether the result was opened or only described
// (the record set's fields read before an open, which sends the statement with LIMIT 0).
TEST(MyConnectionVersions, UnknownColumnTypeIsAnErrorNamingTheColumn) {
  constexpr uint16_t moreResults = 2 | 8;
  for (const bool describeOnly : {false, true}) {
    for (uint8_t type : {uint8_t{245}, uint8_t{14}, uint8_t{17}, uint8_t{244}}) {
      SCOPED_TRACE(std::to_string(type) + (describeOnly ? " described" : " opened"));
      std::vector<std::string> sent;
      TFakeMySqlServer server;
      server.SetStepTimeoutMs(3000);
      server.SendPacket(0, Greeting("8.0.36")).ReadPacket(1).SendPacket(2, OkPacket41(0, 0, 2));
      Rows(server.ReadPacket(0, Query(sent)), {"latin1"});
      server.ReadPacket(0, Query(sent))
          .SendPacket(1, Bytes{2})
          .SendPacket(2, FieldPacket41("", "t", "t", "id", "id", 8, 11, mftLong, 0, 0))
          .SendPacket(3, FieldPacket41("", "t", "t", "doc", "doc", 63, 100, type, 0, 0))
          .SendPacket(4, EofPacket(0, 2));
      if (describeOnly) {
        // The statements after the first one still send their results.
        server.SendPacket(5, EofPacket(0, moreResults))
            .SendPacket(6, Bytes{1})
            .SendPacket(7, FieldPacket41("", "", "", "2", "2", 8, 1, mftLongLong, 0, 0))
            .SendPacket(8, EofPacket(0, 2))
            .SendPacket(9, TextRow({"2"}))
            .SendPacket(10, EofPacket(0, 2));
      } else {
        server.SendPacket(5, TextRow({"1", "{}"})).SendPacket(6, EofPacket(0, 2));
      }
      Rows(server.ReadPacket(0, Query(sent)), {"still here"});
      server.ExpectClose();
      server.Start();
      TMyConnection conn;
      PointAt(conn, server);
      conn.Open();
      TMyQuery q;
      q.SetConnection(&conn);
      q.SetSQLText("SELECT * FROM t");
      TMySQLRecordset described;
      described.SetConnection(conn.MyIConnection());
      described.SetSQL("SELECT * FROM t; SELECT 2");
      try {
        if (describeOnly)
          described.InitFields();
        else
          q.Open();
        ADD_FAILURE() << "described";
      } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Unknown MySQL datatype (" + std::to_string(type) + ") of column doc");
      }
      EXPECT_FALSE(q.Active());
      q.SetSQLText("SELECT c FROM t");
      EXPECT_EQ(ErrorOf([&] { q.Open(); }), "");
      EXPECT_EQ(q.Active() ? q.Fields()[0]->AsString() : "", "still here");
      q.Close();
      conn.Close();
      EXPECT_EQ(server.Finish(), "");
      if (describeOnly) {
        EXPECT_EQ(sent.size() > 1 ? sent[1] : "", "SELECT * FROM t LIMIT 0 ; SELECT 2");
      }
    }
  }
}

// A VARBINARY value longer than its column says (the column's length may be anything a server
// sends) is an error naming the column, held inline or out of line, and the session stays usable.
TEST(MyConnectionVersions, ABinaryValueLongerThanItsColumnIsAnErrorNamingTheColumn) {
  for (uint32_t length : {0u, 4u, 40u}) {
    SCOPED_TRACE(length);
    std::vector<std::string> sent;
    TFakeMySqlServer server;
    server.SetStepTimeoutMs(3000);
    server.SendPacket(0, Greeting("10.11.6")).ReadPacket(1).SendPacket(2, OkPacket41(0, 0, 2));
    Rows(server.ReadPacket(0, Query(sent)), {"latin1"});
    server.ReadPacket(0, Query(sent))
        .SendPacket(1, Bytes{1})
        .SendPacket(2, FieldPacket41("", "t", "t", "vb", "vb", 63, length, mftVarString, 0x80, 0))
        .SendPacket(3, EofPacket(0, 2))
        .SendPacket(4, TextRow({std::string(length + 3, 'x').c_str()}))
        .SendPacket(5, EofPacket(0, 2));
    Rows(server.ReadPacket(0, Query(sent)), {"still here"});
    server.ExpectClose();
    server.Start();
    TMyConnection conn;
    PointAt(conn, server);
    conn.Open();
    TMyQuery q;
    q.SetConnection(&conn);
    q.SetSQLText("SELECT vb FROM t");
    try {
      q.Open();
      ADD_FAILURE() << "opened: " << q.Fields()[0]->AsBytes().size() << " bytes";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(),
                "Value of " + std::to_string(length + 3) + " bytes is out of range for field vb");
    }
    q.Close();
    q.SetSQLText("SELECT c FROM t");
    q.Open();
    EXPECT_EQ(q.Fields()[0]->AsString(), "still here");
    q.Close();
    conn.Close();
    EXPECT_EQ(server.Finish(), "");
  }
}

}  // namespace
