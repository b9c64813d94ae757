// Applying changes, parameters, commands and connections against the test server; what reached
// the server is read back from it (HEX(), the general log of the test's own connection).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "components/MyAccessCommand.h"
#include "components/MyAccessDataSet.h"
#include "mysql/ApiTestSupport.h"
#include "platform/runtime/DateTimeUtils.h"

namespace {

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

class MyApplyDbTest : public ::testing::Test {
 protected:
  void SetUp() override { Connect(Conn); }
  void Connect(TMyConnection& conn, const std::string& charset = {}, bool unicode = false) {
    const TestServer::TInfo& srv = TestServer::Info();
    conn.LoginPrompt = false;
    conn.SetServer(srv.Host);
    conn.SetPort(srv.Port);
    conn.SetUsername(srv.NativeUser);
    conn.SetPassword(srv.NativePassword);
    conn.SetDatabase(Db.Name());
    if (!charset.empty()) conn.Options().SetCharset(charset);
    conn.Options().SetUseUnicode(unicode);
  }
  void Open(TMyQuery& q, const std::string& sql, TMyConnection* conn = nullptr) {
    q.SetConnection(conn != nullptr ? conn : &Conn);
    q.SetSQLText(sql);
    q.Open();
  }
  std::string Value(const std::string& sql, TMyConnection* conn = nullptr) {
    TMyQuery q;
    Open(q, sql, conn);
    return q.Fields()[0]->IsNull() ? "NULL" : q.Fields()[0]->AsString();
  }
  void EditEach(TMyQuery& q, const char* field, int factor) {
    for (q.First(); !q.Eof(); q.Next()) {
      q.Edit();
      q.FieldByName(field)->SetAsInteger(q.FieldByName("id")->AsInteger() * factor);
      q.Post();
    }
  }

  api_test::TScratchDb Db;
  TMyConnection Conn;
};

TEST_F(MyApplyDbTest, BatchStopsWhereASingleStatementStops) {
  for (int batch : {1, 3}) {
    for (bool insert : {false, true}) {  // edits of a row gone from the server, or a duplicate insert
      SCOPED_TRACE(std::to_string(batch) + (insert ? " inserts" : " edits"));
      Conn.ExecSQL("DROP TABLE IF EXISTS h");
      Conn.ExecSQL("CREATE TABLE h (id INT PRIMARY KEY, v INT) ENGINE=MyISAM");
      if (!insert) Conn.ExecSQL("INSERT INTO h VALUES (1,0),(2,0),(3,0),(4,0)");
      TMyQuery q;
      q.SetCachedUpdates(true);
      q.Options().UpdateBatchSize = batch;
      Open(q, "SELECT * FROM h ORDER BY id");
      for (int id = 1; insert && id <= 4; ++id) {
        q.Append();
        q.FieldByName("id")->SetAsInteger(id);
        q.Post();
      }
      EditEach(q, "v", 10);
      Conn.ExecSQL(insert ? "INSERT INTO h VALUES (3, 0)" : "DELETE FROM h WHERE id = 3");
      EXPECT_TRUE(
          ErrorOf([&] {
            q.ApplyUpdates();
          }).ends_with(insert ? "Duplicate entry '3' for key 'PRIMARY'" : "Update failed. Found 0 records"));
      EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', v ORDER BY id) FROM h"),
                insert ? "1:10,2:20,3:0" : "1:10,2:20,4:0");
      Conn.ExecSQL(insert ? "DELETE FROM h WHERE id = 3" : "INSERT INTO h VALUES (3, 0)");
      q.ApplyUpdates();
      EXPECT_FALSE(q.UpdatesPending());
      EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', v ORDER BY id) FROM h"), "1:10,2:20,3:30,4:40");
    }
  }
  // The connection's ApplyUpdates rolls back: every change stays pending.
  Conn.ExecSQL("CREATE TABLE g (id INT PRIMARY KEY, v INT) ENGINE=InnoDB");
  Conn.ExecSQL("INSERT INTO g VALUES (1,0),(2,0),(3,0),(4,0)");
  TMyQuery q;
  q.SetCachedUpdates(true);
  q.Options().UpdateBatchSize = 3;
  Open(q, "SELECT * FROM g ORDER BY id");
  EditEach(q, "v", 10);
  Conn.ExecSQL("DELETE FROM g WHERE id = 3");
  EXPECT_EQ(ErrorOf([&] { Conn.ApplyUpdates({&q}); }), "Update failed. Found 0 records");
  Conn.ExecSQL("INSERT INTO g VALUES (3, 0)");
  Conn.ApplyUpdates({&q});
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(v ORDER BY id) FROM g"), "10,20,30,40");
}

// The connection's apply that fails part way: what it wrote to a table without transactions stays
// there and counts as written (with the AUTO_INCREMENT values it got), the rest is pending, and
// the apply after the conflict is gone writes each change once.
TEST_F(MyApplyDbTest, AFailedConnectionApplyKeepsWhatNoRollbackUndid) {
  struct Case {
    const char* Ca;  // the engine of the table taking two AUTO_INCREMENT inserts
    const char* Cb;  // the engine of the one whose second insert takes a key already held
  };
  const Case cases[] = {
      {"MyISAM", "MyISAM"}, {"InnoDB", "InnoDB"}, {"MyISAM", "InnoDB"}, {"InnoDB", "MyISAM"}};
  auto checksum = [this](const std::string& table) {
    TMyQuery q;
    Open(q, "CHECKSUM TABLE " + table);
    return q.Fields()[1]->AsString();
  };
  for (const Case& c : cases) {
    for (int batch : {1, 3}) {
      SCOPED_TRACE(std::string(c.Ca) + "/" + c.Cb + ", batch " + std::to_string(batch));
      for (const char* name : {"ca", "cb", "ca_ref", "cb_ref"})
        Conn.ExecSQL(std::string("DROP TABLE IF EXISTS ") + name);
      Conn.ExecSQL(std::string("CREATE TABLE ca (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(5)) ENGINE=") +
                   c.Ca);
      Conn.ExecSQL(std::string("CREATE TABLE cb (id INT PRIMARY KEY, v VARCHAR(5)) ENGINE=") + c.Cb);
      Conn.ExecSQL("CREATE TABLE ca_ref LIKE ca");
      Conn.ExecSQL("CREATE TABLE cb_ref LIKE cb");
      Conn.ExecSQL("INSERT INTO ca_ref VALUES (1, 'a'), (2, 'b')");
      Conn.ExecSQL("INSERT INTO cb_ref VALUES (4, 'c'), (5, 'd')");
      Conn.ExecSQL("INSERT INTO cb VALUES (5, 'taken')");
      TMyQuery qa, qb, plain;
      Open(plain, "SELECT 1");  // not in cached mode: nothing to apply or to settle
      for (TMyQuery* q : {&qa, &qb}) {
        q->SetCachedUpdates(true);
        q->Options().UpdateBatchSize = batch;
      }
      Open(qa, "SELECT * FROM ca ORDER BY id");
      Open(qb, "SELECT * FROM cb ORDER BY id");
      for (const char* v : {"a", "b"}) {
        qa.Append();
        qa.FieldByName("v")->SetAsString(v);
        qa.Post();
      }
      for (int id : {4, 5}) {
        qb.Append();
        qb.FieldByName("id")->SetAsInteger(id);
        qb.FieldByName("v")->SetAsString(id == 4 ? "c" : "d");
        qb.Post();
      }
      EXPECT_TRUE(ErrorOf([&] { Conn.ApplyUpdates(); }).ends_with("Duplicate entry '5' for key 'PRIMARY'"));
      const bool caKept = std::string(c.Ca) == "MyISAM", cbKept = std::string(c.Cb) == "MyISAM";
      EXPECT_EQ(Value("SELECT CAST(COUNT(*) AS CHAR) FROM ca"), caKept ? "2" : "0");
      EXPECT_EQ(Value("SELECT CAST(COUNT(*) AS CHAR) FROM cb"), cbKept ? "2" : "1");
      EXPECT_EQ(qa.UpdatesPending(), !caKept);
      EXPECT_TRUE(qb.UpdatesPending());
      Conn.ExecSQL("DELETE FROM cb WHERE id = 5");
      EXPECT_EQ(ErrorOf([&] { Conn.ApplyUpdates({&qa, &qb}); }), "");
      EXPECT_FALSE(qa.UpdatesPending());
      EXPECT_FALSE(qb.UpdatesPending());
      std::vector<int> ids;
      for (qa.First(); !qa.Eof(); qa.Next()) ids.push_back(qa.FieldByName("id")->AsInteger());
      EXPECT_EQ(ids, (std::vector<int>{1, 2}));
      EXPECT_EQ(Value("SELECT CAST(COUNT(*) AS CHAR) FROM ca"), "2");
      EXPECT_EQ(Value("SELECT CAST(COUNT(*) AS CHAR) FROM cb"), "2");
      EXPECT_EQ(checksum("ca"), checksum("ca_ref"));
      EXPECT_EQ(checksum("cb"), checksum("cb_ref"));
    }
  }
  // The session is lost before cb's insert: the MyISAM rows written before it stay written.
  Conn.ExecSQL("TRUNCATE TABLE ca");
  Conn.ExecSQL("ALTER TABLE ca ENGINE=MyISAM");
  Conn.ExecSQL("DROP TABLE cb");
  Conn.ExecSQL("CREATE TABLE cb (id INT PRIMARY KEY, v VARCHAR(5)) ENGINE=InnoDB");
  TMyConnection victim;
  Connect(victim);
  TMyQuery qa, qb;
  for (TMyQuery* q : {&qa, &qb}) q->SetCachedUpdates(true);
  Open(qa, "SELECT * FROM ca ORDER BY id", &victim);
  Open(qb, "SELECT * FROM cb ORDER BY id", &victim);
  for (const char* v : {"a", "b"}) {
    qa.Append();
    qa.FieldByName("v")->SetAsString(v);
    qa.Post();
  }
  qb.Append();
  qb.FieldByName("id")->SetAsInteger(4);
  qb.FieldByName("v")->SetAsString("c");
  qb.Post();
  const std::string victimId = Value("SELECT CAST(CONNECTION_ID() AS CHAR)", &victim);
  qb.BeforeUpdateExecute = [&](TCustomDADataSet*, TStatementTypes, TDAParams&) {
    Conn.ExecSQL("KILL CONNECTION " + victimId);
  };
  EXPECT_NE(ErrorOf([&] { victim.ApplyUpdates({&qa, &qb}); }), "");
  EXPECT_EQ(Value("SELECT CAST(COUNT(*) AS CHAR) FROM ca"), "2");
  ASSERT_TRUE(qa.Active() && qb.Active());
  EXPECT_FALSE(qa.UpdatesPending());
  EXPECT_TRUE(qb.UpdatesPending());
  qb.BeforeUpdateExecute = nullptr;
  victim.Open();
  EXPECT_EQ(ErrorOf([&] { victim.ApplyUpdates({&qa, &qb}); }), "");
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', v ORDER BY id) FROM ca"), "1:a,2:b");
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', v ORDER BY id) FROM cb"), "4:c");
}

// With every field written, a FLOAT and a DECIMAL of more digits than a double holds keep their
// stored values when left unchanged; changed, they take the value set.
TEST_F(MyApplyDbTest, EveryFieldWrittenLeavesInexactValuesAsStored) {
  Conn.ExecSQL("CREATE TABLE x (id INT PRIMARY KEY, f FLOAT, d DECIMAL(25,2), n INT)");
  const std::string row = "SELECT CONCAT_WS(':', CAST(f AS DOUBLE), d, n) FROM x";
  for (bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "cached updates" : "direct");
    Conn.ExecSQL("DELETE FROM x");
    Conn.ExecSQL("INSERT INTO x VALUES (1, 1234567, 12345678901234567890123.45, 0)");
    TMyQuery q;
    q.SetCachedUpdates(cached);
    q.Options().UpdateAllFields = true;
    Open(q, "SELECT * FROM x");
    q.Edit();
    q.FieldByName("n")->SetAsInteger(1);
    q.Post();
    if (cached) q.ApplyUpdates();
    EXPECT_EQ(Value(row), "1234567:12345678901234567890123.45:1");
    q.Edit();
    q.FieldByName("f")->SetAsFloat(2.5);
    q.Post();
    if (cached) q.ApplyUpdates();
    EXPECT_EQ(Value(row), "2.5:12345678901234567890123.45:1");
  }
}

TEST_F(MyApplyDbTest, UserStatementsRunOnEveryPostAndUnparsedTextAsWritten) {
  Conn.ExecSQL("CREATE TABLE c (id INT PRIMARY KEY, n INT, m INT DEFAULT 3)");
  for (bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "cached updates" : "direct");
    Conn.ExecSQL("DELETE FROM c");
    Conn.ExecSQL("INSERT INTO c (id, n) VALUES (1,0),(2,0),(3,0),(4,0),(5,0)");
    TMyQuery q;
    q.SetCachedUpdates(cached);
    q.Options().UpdateBatchSize = cached ? 2 : 1;
    q.SQLUpdate().SetText("UPDATE c SET n = :n WHERE id = :OLD_id");
    q.SQLDelete().SetText("DELETE FROM c WHERE id = :OLD_id");
    Open(q, "SELECT * FROM c ORDER BY id");
    EditEach(q, "n", 7);
    for (q.First(); q.RecordCount() > 1;) q.Delete();
    if (cached) q.ApplyUpdates();
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', n) FROM c"), "5:35");
  }
  Conn.ExecSQL("SET GLOBAL log_output = 'TABLE'");
  Conn.ExecSQL("SET GLOBAL general_log = 1");
  TMyCommand cmd;
  cmd.SetConnection(&Conn);
  cmd.SetSQLText("UPDATE c SET n = n&m WHERE id = 5");
  cmd.Macros().MacroByName("m")->SetValue("+1");
  cmd.Execute();
  TDBAccessUtils::SetSQLText(&cmd, "UPDATE c SET n = n&m WHERE id = 5");
  cmd.Execute();
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(argument ORDER BY event_time SEPARATOR ' | ') FROM mysql.general_log "
                  "WHERE thread_id = CONNECTION_ID() AND argument LIKE 'UPDATE c SET n = n%'"),
            "UPDATE c SET n = n+1 WHERE id = 5 | UPDATE c SET n = n&m WHERE id = 5");
}

// A NULL of one post does not stick to the next; BLOB bytes are written exactly however set.
TEST_F(MyApplyDbTest, TextAndBlobValuesReachTheServerExactly) {
  const std::string bytes("\x00\x5C\x27\xFF\x01", 5);
  Conn.ExecSQL("CREATE TABLE t (id INT PRIMARY KEY, memo TEXT, b BLOB, f INT)");
  Conn.ExecSQL("INSERT INTO t VALUES (1, 'x', 0x0102, 1)");
  TMyQuery q;
  Open(q, "SELECT * FROM t");
  auto post = [&](const std::function<void()>& set) {
    q.Edit();
    set();
    q.Post();
    return Value("SELECT CONCAT_WS(',', IFNULL(HEX(memo), 'NULL'), HEX(b), IFNULL(f, 'NULL')) FROM t");
  };
  EXPECT_EQ(post([&] { q.FieldByName("f")->SetAsInteger(2); }), "78,0102,2") << "a row holding a BLOB";
  EXPECT_EQ(post([&] { q.FieldByName("f")->Clear(); }), "78,0102,NULL");
  EXPECT_EQ(post([&] { q.FieldByName("memo")->SetAsString("hello"); }), "68656C6C6F,0102,NULL");
  EXPECT_EQ(post([&] { q.FieldByName("memo")->Clear(); }), "NULL,0102,NULL");
  EXPECT_EQ(post([&] { q.FieldByName("b")->SetAsString(bytes); }), "NULL,005C27FF01,NULL");
  EXPECT_EQ(post([&] { q.FieldByName("b")->SetAsBytes({0x27, 0x00}); }), "NULL,2700,NULL");
  EXPECT_EQ(post([&] { q.FieldByName("b")->SetValue(Variant::FromBytes(bytes.data(), 2)); }),
            "NULL,005C,NULL");
  q.Close();
  q.SetCachedUpdates(true);
  q.Open();
  post([&] { q.FieldByName("b")->SetAsString(bytes); });
  q.ApplyUpdates();
  EXPECT_EQ(Value("SELECT HEX(b) FROM t"), "005C27FF01");
}

// The test server takes statements of up to 64 MiB. A batch of large blobs that would pass that
// goes in parts, each row written once; a single statement over it fails before it is sent, the
// session and its transaction stay, nothing is written and every change stays pending.
TEST_F(MyApplyDbTest, LargeBlobBatchesStayWithinTheServersPacketLimit) {
  ASSERT_EQ(Value("SELECT @@max_allowed_packet"), std::to_string(64 << 20));
  // Every byte value, 0x00, 0x27 and 0x5C among them, 14 MiB of them; the server builds the same.
  std::string pattern, patternHex;
  for (int i = 0; i < 256; ++i) {
    pattern += static_cast<char>(i);
    patternHex += "0123456789ABCDEF"[i >> 4];
    patternHex += "0123456789ABCDEF"[i & 15];
  }
  const int repeats = 14 << 12;
  std::string big;
  big.reserve(pattern.size() * repeats + 1);
  for (int i = 0; i < repeats; ++i) big += pattern;
  const std::string serverBig = "REPEAT(0x" + patternHex + ", " + std::to_string(repeats) + ")";
  Conn.ExecSQL("CREATE TABLE t (id INT PRIMARY KEY, b LONGBLOB) ENGINE=InnoDB");
  Conn.ExecSQL("INSERT INTO t VALUES (1, ''), (2, ''), (3, ''), (4, ''), (5, '')");
  TMyQuery q;
  q.SetCachedUpdates(true);
  q.Options().UpdateBatchSize = 10;
  Open(q, "SELECT * FROM t ORDER BY id");
  for (q.First(); !q.Eof(); q.Next()) {
    q.Edit();
    q.FieldByName("b")->SetAsString(big + static_cast<char>(q.FieldByName("id")->AsInteger()));
    q.Post();
  }
  EXPECT_EQ(ErrorOf([&] { Conn.ApplyUpdates({&q}); }), "");
  EXPECT_FALSE(q.UpdatesPending());
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id ORDER BY id) FROM t WHERE b = CONCAT(" + serverBig + ", CHAR(id))"),
            "1,2,3,4,5");

  // One row over the limit on its own, after a row that fits.
  Conn.ExecSQL("UPDATE t SET b = ''");
  q.Close();
  q.Open();
  q.Edit();
  q.FieldByName("b")->SetAsString("\x5C\x27");
  q.Post();
  q.Next();
  q.Edit();
  q.FieldByName("b")->SetAsString(big + big + big + big + big);
  q.Post();
  EXPECT_EQ(ErrorOf([&] { Conn.ApplyUpdates({&q}); }), "Got packet bigger than 'max_allowed_packet'");
  EXPECT_TRUE(Conn.Connected());
  EXPECT_TRUE(q.UpdatesPending());
  EXPECT_EQ(Value("SELECT SUM(LENGTH(b)) FROM t"), "0") << "the row that fitted was rolled back";
  q.Edit();
  q.FieldByName("b")->SetAsString("x");
  q.Post();
  EXPECT_EQ(ErrorOf([&] { Conn.ApplyUpdates({&q}); }), "");
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(HEX(b) ORDER BY id) FROM t"), "5C27,78,,,");
}

// A session lost inside a transaction takes with it what the transaction wrote; the cached changes
// stay pending in the dataset, whether they were never sent or applied in that transaction, and
// an apply on the connection opened again writes them.
TEST_F(MyApplyDbTest, CachedChangesOutliveASessionLostInATransaction) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lv INT) ENGINE=InnoDB");
  for (const bool appliedBefore : {false, true}) {
    SCOPED_TRACE(appliedBefore ? "applied in the transaction" : "never sent");
    Conn.ExecSQL("DELETE FROM hero");
    Conn.ExecSQL("INSERT INTO hero VALUES (1, 0), (2, 0), (3, 0)");
    TMyConnection victim;
    Connect(victim);
    TMyQuery q;
    q.SetCachedUpdates(true);
    Open(q, "SELECT * FROM hero ORDER BY id", &victim);
    EditEach(q, "lv", 10);
    q.Append();
    q.FieldByName("id")->SetAsInteger(4);
    q.FieldByName("lv")->SetAsInteger(40);
    q.Post();
    victim.StartTransaction();
    if (appliedBefore) q.ApplyUpdates();
    Conn.ExecSQL("KILL CONNECTION " + Value("SELECT CAST(CONNECTION_ID() AS CHAR)", &victim));
    EXPECT_NE(ErrorOf([&] {
                if (appliedBefore)
                  victim.Commit();
                else
                  q.ApplyUpdates();
              }),
              "");
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM hero"), "1:0,2:0,3:0");
    ASSERT_TRUE(q.Active());
    EXPECT_TRUE(q.UpdatesPending());
    victim.Open();
    EXPECT_EQ(ErrorOf([&] { victim.ApplyUpdates({&q}); }), "");
    EXPECT_FALSE(q.UpdatesPending());
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM hero"), "1:10,2:20,3:30,4:40");
  }
}

// A dataset still reading its rows keeps those read and its cached changes when its session is
// lost; reading on refuses instead of ending early, and an apply once reconnected writes them.
TEST_F(MyApplyDbTest, CachedChangesOutliveASessionLostWhileRowsAreStillUnread) {
  // More rows than the socket holds: the server is still sending when the session ends.
  Conn.ExecSQL(
      "CREATE TABLE hero (id INT PRIMARY KEY, lv INT, pad CHAR(200) NOT NULL DEFAULT '') ENGINE=InnoDB");
  for (const bool fetchSession : {false, true}) {
    SCOPED_TRACE(fetchSession ? "rows read on a session of their own, lost in a transaction"
                              : "rows read on the session, lost as more are read");
    Conn.ExecSQL("DELETE FROM hero");
    Conn.ExecSQL("INSERT INTO hero (id, lv) SELECT seq, 0 FROM seq_1_to_100000");
    TMyConnection victim;
    Connect(victim);
    const std::string thread = Value("SELECT CAST(CONNECTION_ID() AS CHAR)", &victim);
    TMyQuery q;
    q.SetCachedUpdates(true);
    q.SetFetchAll(false);
    q.SetFetchRows(3);
    q.Options().SetCreateConnection(fetchSession);
    Open(q, "SELECT * FROM hero ORDER BY id", &victim);
    q.Edit();
    q.FieldByName("lv")->SetAsInteger(7);
    q.Post();
    q.Insert();  // where the dataset stands: appending would read every row first
    q.FieldByName("id")->SetAsInteger(0);
    q.FieldByName("lv")->SetAsInteger(110);
    q.Post();
    if (fetchSession) victim.StartTransaction();
    Conn.ExecSQL("KILL CONNECTION " + thread);
    EXPECT_NE(ErrorOf([&] {
                if (fetchSession)
                  q.ApplyUpdates();
                else
                  while (!q.Eof()) q.Next();
              }),
              "");
    ASSERT_TRUE(q.Active());
    EXPECT_TRUE(q.UpdatesPending());
    const int held = q.RecordCount();
    EXPECT_GE(held, 4);
    EXPECT_LT(held, 100001);
    EXPECT_EQ(Value("SELECT COUNT(*) FROM hero WHERE lv <> 0 OR id = 0"), "0");
    // Reading on says the rows are gone, instead of a last row that is not the result's last.
    EXPECT_NE(ErrorOf([&] { q.Last(); }), "");
    EXPECT_NE(ErrorOf([&] {
                while (!q.Eof()) q.Next();
              }),
              "");
    EXPECT_FALSE(q.Eof());
    victim.Open();
    EXPECT_EQ(ErrorOf([&] { victim.ApplyUpdates({&q}); }), "");
    EXPECT_FALSE(q.UpdatesPending());
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM hero WHERE lv <> 0 OR id = 0"),
              "0:110,1:7");
    q.Close();
    q.Open();
    q.Last();
    EXPECT_EQ(q.RecordCount(), 100001);
  }
}

// A row the reader refuses in the middle of a result: the rows before it and the cached changes
// stay, and reading on raises that refusal again instead of ending as though the result were whole.
// The refused row holds a latin1 byte that a Unicode session, its results left unconverted, cannot
// read as UTF-8.
TEST_F(MyApplyDbTest, ReadingOnPastARefusedRowRaisesInsteadOfEnding) {
  Conn.ExecSQL("CREATE TABLE pz (id INT PRIMARY KEY, lv INT, d VARCHAR(5) CHARACTER SET latin1)");
  Conn.ExecSQL("INSERT INTO pz SELECT seq, 0, 'a' FROM seq_1_to_20");
  Conn.ExecSQL("UPDATE pz SET d = _latin1 X'E4' WHERE id = 8");
  TMyConnection unicode;
  Connect(unicode, {}, true);
  unicode.ExecSQL("SET character_set_results = NULL");
  for (const bool prepared : {false, true}) {
    SCOPED_TRACE(prepared ? "prepared" : "text");
    TMyQuery q;
    q.SetCachedUpdates(true);
    q.SetFetchAll(false);
    q.SetFetchRows(3);
    q.Options().SetCreateConnection(false);  // the rows come on the session set above
    q.SetConnection(&unicode);
    q.SetSQLText("SELECT * FROM pz ORDER BY id");
    if (prepared) q.Prepare();
    q.Open();
    q.Edit();
    q.FieldByName("lv")->SetAsInteger(7);
    q.Post();
    const auto readOn = [&] {
      while (!q.Eof()) q.Next();
    };
    EXPECT_NE(ErrorOf(readOn).find("field d)"), std::string::npos);
    for (const auto& [how, read] : {std::pair<const char*, std::function<void()>>{"to the end", readOn},
                                    {"to the last row", [&] { q.Last(); }}}) {
      SCOPED_TRACE(how);
      EXPECT_NE(ErrorOf(read).find("field d)"), std::string::npos);
      EXPECT_FALSE(q.Eof());
      EXPECT_LT(q.FieldByName("id")->AsInteger(), 8);
    }
    ASSERT_TRUE(q.Active());
    EXPECT_EQ(ErrorOf([&] { q.ApplyUpdates(); }), "");
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv) FROM pz WHERE lv <> 0"), "1:7");
    Conn.ExecSQL("UPDATE pz SET lv = 0");
  }
}

// In disconnected mode the connection closes once a dataset opened, and the dataset reads its rows
// on a session of its own: when that session is lost, reading on refuses instead of ending early.
TEST_F(MyApplyDbTest, DisconnectedModeRowsLostWithTheirSessionAreNotTakenForTheEnd) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, pad CHAR(200) NOT NULL DEFAULT '') ENGINE=InnoDB");
  Conn.ExecSQL("INSERT INTO hero (id) SELECT seq FROM seq_1_to_100000");
  TMyConnection victim;
  victim.Options().SetDisconnectedMode(true);
  Connect(victim);
  TMyQuery q;
  q.SetFetchAll(false);
  q.SetFetchRows(3);
  Open(q, "SELECT * FROM hero ORDER BY id", &victim);
  // The rows come on a session of the dataset's own, still sending them.
  const std::string thread = Value(
      "SELECT CAST(ID AS CHAR) FROM information_schema.PROCESSLIST WHERE DB = DATABASE() AND "
      "INFO = 'SELECT * FROM hero ORDER BY id'");
  ASSERT_NE(thread, "");
  Conn.ExecSQL("KILL CONNECTION " + thread);
  const std::string error = ErrorOf([&] {
    while (!q.Eof()) q.Next();
  });
  ASSERT_TRUE(q.Active());
  EXPECT_LT(q.RecordCount(), 100000);
  EXPECT_NE(error, "");
  EXPECT_NE(ErrorOf([&] { q.Last(); }), "");
  EXPECT_FALSE(q.Eof());
  q.Close();
  q.Open();
  q.Last();
  EXPECT_EQ(q.RecordCount(), 100000);
}

TEST_F(MyApplyDbTest, DateTimeParameterKeepsItsMillisecondsOnBothPaths) {
  Conn.ExecSQL("CREATE TABLE d (id INT, at DATETIME(3))");
  TMyCommand cmd;
  cmd.SetConnection(&Conn);
  cmd.SetSQLText("INSERT INTO d VALUES (:id, :at)");
  for (int id : {1, 2}) {
    if (id == 2) cmd.Prepare();
    cmd.Params().ParamByName("id")->SetAsInteger(id);
    cmd.Params().ParamByName("at")->SetAsDateTime(EncodeDateTime(2024, 5, 6, 7, 8, 9, 123));
    cmd.Execute();
  }
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(at ORDER BY id) FROM d"),
            "2024-05-06 07:08:09.123,2024-05-06 07:08:09.123");
}

TEST_F(MyApplyDbTest, ExecSQLLeavesTheSessionUsableAndConvertsAlike) {
  Conn.ExecSQL("SELECT 1; SELECT 2");
  EXPECT_EQ(Value("SELECT 3"), "3");
  Conn.ExecSQL("CREATE TABLE u (id INT, s VARCHAR(10) CHARACTER SET utf8mb4)");
  TMyConnection unicode;
  Connect(unicode, "", true);
  const std::string gbk = "\xD6\xD0";  // one CJK character in the ANSI code page
  unicode.ExecSQL("INSERT INTO u VALUES (1, '" + gbk + "')");
  unicode.ExecSQL("INSERT INTO u VALUES (2, '" + gbk + "'), (:n, '')", {Variant(3)});
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(HEX(s) ORDER BY id) FROM u"), "E4B8AD,E4B8AD,");
}

// ASan reports a prepared statement left behind, and a dataset that uses a freed connection.
TEST_F(MyApplyDbTest, PreparedObjectsAndDataSetsFollowTheConnection) {
  Conn.ExecSQL("CREATE TABLE p (id INT)");
  TMyCommand cmd;
  cmd.SetConnection(&Conn);
  cmd.SetSQLText("INSERT INTO p VALUES (1)");
  cmd.Prepare();
  cmd.Execute();
  TMyQuery q;
  q.SetConnection(&Conn);
  q.SetSQLText("SELECT COUNT(*) FROM p");
  q.Prepare();
  Conn.Close();
  Conn.Open();
  cmd.Execute();
  q.Open();
  EXPECT_EQ(q.Fields()[0]->AsString(), "2");
  q.Close();
  q.Prepare();
  Conn.SetPooling(true);
  q.UnPrepare();
  q.Open();
  EXPECT_EQ(q.Fields()[0]->AsString(), "2");

  auto gone = std::make_unique<TMyConnection>();
  Connect(*gone);
  TMyQuery left;
  Open(left, "SELECT 1", gone.get());
  gone.reset();
  EXPECT_FALSE(left.Active());
  EXPECT_EQ(left.Connection(), nullptr);
}

// The strings of a refreshed record live in the record set's heap (ASan: read of freed memory).
TEST_F(MyApplyDbTest, RefreshOverMultiByteCharsets) {
  for (const char* column : {"VARCHAR(20) CHARACTER SET gbk", "VARCHAR(20) CHARACTER SET utf8mb4",
                             "VARCHAR(300) CHARACTER SET latin1"}) {
    SCOPED_TRACE(column);
    Conn.ExecSQL("DROP TABLE IF EXISTS r");
    Conn.ExecSQL(std::string("CREATE TABLE r (id INT PRIMARY KEY, s ") + column + ")");
    Conn.ExecSQL("INSERT INTO r VALUES (1, 'ab'), (2, 'cd')");
    TMyConnection conn;
    Connect(conn, std::string(column).substr(std::string(column).rfind(' ') + 1));
    TMyQuery q;
    Open(q, "SELECT * FROM r ORDER BY id", &conn);
    q.Next();
    Conn.ExecSQL("UPDATE r SET s = 'ef' WHERE id = 2");
    q.Refresh();
    q.Refresh();
    EXPECT_EQ(q.FieldByName("s")->AsString(), "ef");
  }
}

TEST_F(MyApplyDbTest, CountedRecordCountFollowsLocalChanges) {
  Conn.ExecSQL("CREATE TABLE n (id INT PRIMARY KEY)");
  Conn.ExecSQL("INSERT INTO n VALUES (1),(2),(3),(4),(5)");
  TMyQuery q;
  q.Options().QueryRecCount = true;
  q.SetFetchAll(false);
  q.SetFetchRows(2);
  q.SetCachedUpdates(true);
  Open(q, "SELECT * FROM n ORDER BY id");
  q.Append();
  q.FieldByName("id")->SetAsInteger(6);
  q.Post();
  EXPECT_EQ(q.RecordCount(), 6);
  q.First();
  q.Delete();
  q.Delete();
  EXPECT_EQ(q.RecordCount(), 4);
}

// A full refresh, or a new FilterSQL, re-reads the rows the cached changes stand on: while any is
// pending it refuses, and the changes are applied whole afterwards; with none pending it reads the
// server's rows.
TEST_F(MyApplyDbTest, ReReadingRefusesWhileCachedChangesArePending) {
  struct Case {
    const char* Change;
    std::function<void(TMyQuery&)> Make;
    const char* Applied;  // the rows after the apply, "key:name:n;..."
  };
  const std::vector<Case> cases = {
      {"an edited key",
       [](TMyQuery& q) {
         q.Edit();
         q.FieldByName("name")->SetAsString("k\\'");
         q.Post();
       },
       "1:k\\':1;1:y:2;2:x:3"},
      {"an insert",
       [](TMyQuery& q) {
         q.Append();
         q.FieldByName("id")->SetAsInteger(9);
         q.FieldByName("name")->SetAsString("z");
         q.Post();
       },
       "1:x:1;1:y:2;2:x:3;9:z:N"},
      {"a delete", [](TMyQuery& q) { q.Delete(); }, "1:y:2;2:x:3"},
      {"an edit left unposted",
       [](TMyQuery& q) {
         q.Edit();
         q.FieldByName("n")->SetAsInteger(7);
       },
       "1:x:7;1:y:2;2:x:3"},
  };
  const std::vector<std::pair<const char*, std::function<void(TMyQuery&)>>> rereads = {
      {"Refresh", [](TMyQuery& q) { q.Refresh(); }},
      {"FilterSQL", [](TMyQuery& q) { q.SetFilterSQL(q.FilterSQL().empty() ? "n IS NULL OR n > 0" : ""); }},
  };
  for (const auto& [how, reread] : rereads)
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(how) + ": " + c.Change);
      Conn.ExecSQL("DROP TABLE IF EXISTS ck");
      Conn.ExecSQL("CREATE TABLE ck (id INT, name VARCHAR(9), n INT, PRIMARY KEY (id, name))");
      Conn.ExecSQL("INSERT INTO ck VALUES (1, 'x', 1), (1, 'y', 2)");
      TMyQuery q;
      q.SetName("grid");
      q.SetCachedUpdates(true);
      Open(q, "SELECT * FROM ck ORDER BY id, name");
      c.Make(q);
      // A new FilterSQL closes the dataset: an edit not posted goes with it, as with Close.
      if (q.State() != dsBrowse && std::string(how) != "Refresh") continue;
      Conn.ExecSQL("INSERT INTO ck VALUES (2, 'x', 3)");
      EXPECT_EQ(ErrorOf([&] { reread(q); }),
                "grid holds cached changes not applied: apply or cancel them before its rows are read again");
      EXPECT_TRUE(q.UpdatesPending());
      EXPECT_EQ(ErrorOf([&] { q.ApplyUpdates(); }), "");
      q.CommitUpdates();
      const std::string rows =
          "SELECT GROUP_CONCAT(CONCAT_WS(':', id, name, IFNULL(n, 'N')) ORDER BY id, name "
          "SEPARATOR ';') FROM ck";
      EXPECT_EQ(Value(rows), c.Applied);
      EXPECT_EQ(ErrorOf([&] { reread(q); }), "");
      EXPECT_EQ(q.RecordCount(), std::count(c.Applied, c.Applied + std::strlen(c.Applied), ';') + 1);
    }
}

}  // namespace
