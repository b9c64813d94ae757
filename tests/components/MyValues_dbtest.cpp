// Values on their way to the server and back through the MySQL query and command, compared with
// what the server holds (HEX of the stored bytes): zero bytes in short text on every path, and line
// ends inside literals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/MyAccessCommand.h"
#include "components/MyAccessDataSet.h"
#include "mysql/ApiTestSupport.h"

namespace {

using api_test::TScratchDb;
using namespace std::string_literals;

std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class MyValuesDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const TestServer::TInfo& srv = TestServer::Info();
    Conn.LoginPrompt = false;
    Conn.SetServer(srv.Host);
    Conn.SetPort(srv.Port);
    Conn.SetUsername(srv.NativeUser);
    Conn.SetPassword(srv.NativePassword);
    Conn.SetDatabase(Db.Name());
  }

  std::string Value(const std::string& sql) {
    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetSQLText(sql);
    q.Open();
    return q.Fields()[0]->IsNull() ? "NULL" : q.Fields()[0]->AsString();
  }

  void Open(TMyQuery& q, const std::string& sql) {
    q.SetConnection(&Conn);
    q.SetSQLText(sql);
    q.Open();
  }

  TScratchDb Db;
  TMyConnection Conn;
};

// ---- zero bytes in short text -----------------------------------------------------------------

// VARCHAR(10) and CHAR(5) are held in the record, VARCHAR(40) in the string heap.
const char* const TextColumns[] = {"v", "c", "w"};

TEST_F(MyValuesDbTest, ZeroBytesInShortTextReadAndWriteWhole) {
  Conn.ExecSQL("CREATE TABLE z (id INT PRIMARY KEY, v VARCHAR(10), c CHAR(5), w VARCHAR(40), n INT)");
  Conn.ExecSQL("INSERT INTO z VALUES (1, 'p\\0q', 'a\\0b', 'x\\0\\0y\\0', 0)");
  TMyQuery q;
  Open(q, "SELECT * FROM z");
  EXPECT_EQ(q.FieldByName("v")->AsString(), "p\0q"s);
  EXPECT_EQ(q.FieldByName("c")->AsString(), "a\0b"s);
  EXPECT_EQ(q.FieldByName("w")->AsString(), "x\0\0y\0"s);
  EXPECT_EQ(q.FieldByName("v")->AsVariant().AsString(), "p\0q"s);

  // Editing another column, with every column sent, leaves the text as it was.
  q.Options().UpdateAllFields = true;
  q.Edit();
  q.FieldByName("n")->SetAsInteger(1);
  q.Post();
  EXPECT_EQ(Value("SELECT CONCAT_WS(',', HEX(v), HEX(c), HEX(w), n) FROM z"), "700071,610062,7800007900,1");

  const struct {
    const char* column;
    std::string value;
  } writes[] = {{"v", "\0p\0"s}, {"c", "\0\0"s}, {"w", "r\0s"s}};
  for (const auto& w : writes) {
    SCOPED_TRACE(w.column);
    q.Edit();
    q.FieldByName(w.column)->SetAsString(w.value);
    EXPECT_EQ(q.FieldByName(w.column)->AsString(), w.value);
    q.Post();
    EXPECT_EQ(Value("SELECT HEX("s + w.column + ") FROM z"), Hex(w.value));
  }
}

TEST_F(MyValuesDbTest, ZeroBytesTellRowsApartInConditionsLocateAndSort) {
  for (const char* column : TextColumns) {
    SCOPED_TRACE(column);
    Conn.ExecSQL("DROP TABLE IF EXISTS k");
    Conn.ExecSQL("CREATE TABLE k (v VARCHAR(10), c CHAR(5), w VARCHAR(40))");
    for (const char* value : {"'ab'", "'a'", "'a\\0b'"})
      Conn.ExecSQL("INSERT INTO k VALUES ("s + value + ", " + value + ", " + value + ")");
    TMyQuery q;
    Open(q, "SELECT "s + column + " FROM k");
    q.SetIndexFieldNames(column);
    std::vector<std::string> order;
    for (q.First(); !q.Eof(); q.Next()) order.push_back(q.Fields()[0]->AsString());
    EXPECT_EQ(order, (std::vector<std::string>{"a", "a\0b"s, "ab"}));

    ASSERT_TRUE(q.Locate(column, Variant("a\0b"s)));
    EXPECT_EQ(q.Fields()[0]->AsString(), "a\0b"s);
    // The keyless delete names the row by its value: 'a' and 'ab' stay.
    q.Delete();
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(HEX("s + column + ") ORDER BY 1) FROM k"), "61,6162");

    ASSERT_TRUE(q.Locate(column, Variant("a"s)));
    q.Edit();
    q.Fields()[0]->SetAsString("a\0"s);
    q.Post();
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(HEX("s + column + ") ORDER BY 1) FROM k"), "6100,6162");
  }
}

// ---- empty TEXT and BLOB -------------------------------------------------------------------------

// '' is a value as in a VARCHAR, NULL another: on reading, editing, inserting, applying the cache
// and refreshing.
TEST_F(MyValuesDbTest, EmptyTextAndBlobStayEmptyAndNullStaysNull) {
  for (bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "cached" : "posted");
    Conn.ExecSQL("DROP TABLE IF EXISTS e");
    Conn.ExecSQL("CREATE TABLE e (id INT PRIMARY KEY, tx TEXT NOT NULL, bl BLOB, m TEXT)");
    Conn.ExecSQL("INSERT INTO e VALUES (1, 'a', 'b', NULL), (2, '', '', 'c')");
    TMyQuery q;
    q.SetCachedUpdates(cached);
    q.RefreshOptions = roAfterInsert | roAfterUpdate;
    Open(q, "SELECT * FROM e ORDER BY id");
    ASSERT_TRUE(q.Locate("id", Variant(2)));
    for (const char* column : {"tx", "bl"}) EXPECT_FALSE(q.FieldByName(column)->IsNull()) << column;
    q.Edit();
    q.FieldByName("bl")->Clear();
    q.FieldByName("m")->SetAsVariant(Variant::Null());
    q.Post();
    ASSERT_TRUE(q.Locate("id", Variant(1)));
    q.Edit();
    for (const char* column : {"tx", "bl", "m"}) q.FieldByName(column)->SetAsString("");
    q.Post();
    q.Append();
    q.FieldByName("id")->SetAsInteger(3);
    q.FieldByName("tx")->SetAsString("");
    q.FieldByName("bl")->SetAsString("");
    q.Post();
    if (cached) q.ApplyUpdates();
    EXPECT_EQ(
        Value("SELECT GROUP_CONCAT(CONCAT_WS(',', id, HEX(tx), IFNULL(HEX(bl), 'N'), IFNULL(HEX(m), 'N')) "
              "ORDER BY id SEPARATOR ';') FROM e"),
        "1,,,;2,,N,N;3,,,N");
    ASSERT_TRUE(q.Locate("id", Variant(1)));
    q.RefreshRecord();
    for (const char* column : {"tx", "bl", "m"}) EXPECT_FALSE(q.FieldByName(column)->IsNull()) << column;
    ASSERT_TRUE(q.Locate("id", Variant(2)));
    EXPECT_TRUE(q.FieldByName("bl")->IsNull());
  }
}

// ---- TIME beyond a day --------------------------------------------------------------------------

TEST_F(MyValuesDbTest, TimeSpansReadShowAndWriteBackExactly) {
  Conn.ExecSQL("CREATE TABLE w (id INT PRIMARY KEY, t TIME, f TIME(3), n INT)");
  const struct {
    const char* name;
    const char* time;
    const char* fraction;
  } cases[] = {{"top of the range", "838:59:59", "838:59:58.999"},
               {"bottom of the range", "-838:59:59", "-838:59:58.999"},
               {"past a day", "25:00:00", "24:00:00.001"},
               {"just below zero", "-00:00:01", "-00:00:00.500"},
               {"a time of day", "07:30:00", "07:30:00.250"}};
  int id = 0;
  for (const auto& c : cases)
    Conn.ExecSQL(Format("INSERT INTO w VALUES (%d, '%s', '%s', 0)", {++id, c.time, c.fraction}));
  TMyQuery q;
  Open(q, "SELECT * FROM w ORDER BY id");
  q.Options().UpdateAllFields = true;
  id = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ++id;
    ASSERT_TRUE(q.Locate("id", Variant(id)));
    EXPECT_EQ(q.FieldByName("t")->AsString(), c.time);
    EXPECT_EQ(q.FieldByName("f")->AsString(), c.fraction);
    q.Edit();
    q.FieldByName("n")->SetAsInteger(id);  // every column goes back with it
    q.Post();
    EXPECT_EQ(Value(Format("SELECT CONCAT_WS(',', t, f) FROM w WHERE id = %d", {id})),
              std::string(c.time) + "," + c.fraction);
    q.Edit();
    q.FieldByName("t")->SetAsString(c.fraction);
    q.Post();
    EXPECT_EQ(Value(Format("SELECT t FROM w WHERE id = %d", {id})),
              Value(Format("SELECT CAST('%s' AS TIME)", {c.fraction})));
  }
}

// ---- DECIMAL ----------------------------------------------------------------------------------

TEST_F(MyValuesDbTest, FmtBcdDecimalsKeepEveryDigit) {
  Conn.Options().SetNumericType(ntFmtBCD);
  Conn.ExecSQL(
      "CREATE TABLE d (id INT PRIMARY KEY, a DECIMAL(64,0), b DECIMAL(63,30), c DECIMAL(65,30), e "
      "DECIMAL(20,6))");
  Conn.ExecSQL("INSERT INTO d VALUES (1, 0, 0, 0, 0)");
  const std::string nines65 = std::string(35, '9') + "." + std::string(30, '9');
  const struct {
    const char* column;
    std::string value;
  } cases[] = {
      {"a", "1.5"},  // rounds on the server as on us
      {"a", "-" + std::string(64, '9')},
      {"b", "1.5"},
      {"b", std::string(33, '9') + "." + std::string(29, '9') + "1"},
      {"c", "1.5"},
      {"c", nines65},
      {"c", "-" + nines65},
      {"c", "0." + std::string(29, '0') + "1"},
      {"e", "12345678901234.123456"},
  };
  TMyQuery q;
  Open(q, "SELECT * FROM d");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " = " + c.value);
    q.Edit();
    q.FieldByName(c.column)->SetAsString(c.value);
    q.Post();
    const std::string type = Value(
        "SELECT COLUMN_TYPE FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = "
        "'d' "
        "AND COLUMN_NAME = '"s +
        c.column + "'");
    const std::string held = Value("SELECT "s + c.column + " FROM d");
    EXPECT_EQ(held, Value("SELECT CAST('" + c.value + "' AS " + type + ")"));
    q.Close();
    q.Open();
    const std::string shown = q.FieldByName(c.column)->AsString();
    EXPECT_EQ(Value("SELECT CAST('" + shown + "' AS " + type + ")"), held) << "read back as " << shown;
  }
}

TEST_F(MyValuesDbTest, NumberRangeFollowsTheColumnType) {
  Conn.ExecSQL(
      "CREATE TABLE r (id INT PRIMARY KEY, u INT UNSIGNED, b BIGINT UNSIGNED, y YEAR(4), d DECIMAL(5,2), "
      "e DECIMAL(4,0) UNSIGNED)");
  Conn.ExecSQL("INSERT INTO r VALUES (1, 0, 0, 2000, 0, 0)");
  const struct {
    const char* column;
    const char* value;
    const char* held;  // nullptr: refused, the server keeps what it had
  } cases[] = {
      {"u", "-1", nullptr},
      {"u", "4294967295", "4294967295"},
      {"b", "-1", nullptr},
      {"b", "18446744073709551615", "18446744073709551615"},
      {"y", "1900", nullptr},
      {"y", "1", nullptr},
      {"y", "0", "0"},
      {"y", "1901", "1901"},
      {"y", "2155", "2155"},
      {"y", "2156", nullptr},
      {"d", "999.99", "999.99"},
      {"d", "1000", nullptr},
      {"d", "-999.99", "-999.99"},
      {"d", "-1000", nullptr},
      {"e", "9999", "9999"},
      {"e", "10000", nullptr},
  };
  // DECIMAL is held as packed decimals, as currency or as a float: each keeps to the column.
  for (TDANumericType numeric : {ntFmtBCD, ntBCD, ntFloat}) {
    SCOPED_TRACE("DECIMAL held as " + std::to_string(int(numeric)));
    Conn.Close();
    Conn.Options().SetNumericType(numeric);
    Conn.ExecSQL("SET SESSION sql_mode = ''");  // a value out of range would be cut, not refused
    TMyQuery q;
    q.Options().SetNumberRange(true);
    Open(q, "SELECT * FROM r");
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.column) + " = " + c.value);
      const std::string before = Value("SELECT "s + c.column + " FROM r");
      q.Edit();
      bool refused = false;
      try {
        q.FieldByName(c.column)->SetAsString(c.value);
        q.Post();
      } catch (const EDatabaseError&) {
        refused = true;
        q.Cancel();
      }
      EXPECT_EQ(refused, c.held == nullptr);
      EXPECT_EQ(Value("SELECT "s + c.column + " FROM r"), c.held ? c.held : before);
    }
  }
}

// ---- generated columns ----------------------------------------------------------------------------

TEST_F(MyValuesDbTest, GeneratedColumnsAreNeverWrittenAndReadBack) {
  Conn.ExecSQL(
      "CREATE TABLE g (id INT PRIMARY KEY, a INT, v INT AS (a * 2) VIRTUAL, s INT AS (a + 1) STORED)");
  Conn.ExecSQL("INSERT INTO g (id, a) VALUES (1, 1)");
  for (bool all : {false, true}) {
    SCOPED_TRACE(all ? "every field" : "modified fields");
    TMyQuery q;
    q.Options().UpdateAllFields = all;
    q.RefreshOptions = roAfterInsert | roAfterUpdate;
    Open(q, "SELECT * FROM g ORDER BY id");
    q.Edit();
    q.FieldByName("a")->SetAsInteger(all ? 5 : 4);
    q.Post();
    EXPECT_EQ(q.FieldByName("v")->AsInteger(), all ? 10 : 8) << "read back after the post";
    q.Append();
    q.FieldByName("id")->SetAsInteger(all ? 3 : 2);
    q.FieldByName("a")->SetAsInteger(7);
    q.Post();
    EXPECT_EQ(q.FieldByName("s")->AsInteger(), 8);
  }
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(CONCAT_WS(',', id, a, v, s) ORDER BY id SEPARATOR ';') FROM g"),
            "1,5,10,6;2,7,14,8;3,7,14,8");
  // A row found by its values is found again after an edit, whether or not the generated values
  // were read back.
  Conn.ExecSQL("CREATE TABLE gk (a INT, v INT AS (a * 2) VIRTUAL, s INT AS (a + 1) STORED)");
  Conn.ExecSQL("INSERT INTO gk (a) VALUES (1), (100)");
  for (bool refresh : {false, true}) {
    for (bool rowVersion : {false, true}) {
      SCOPED_TRACE(std::string(refresh ? "read back" : "not read back") +
                   (rowVersion ? ", row version" : ""));
      TMyQuery q;
      q.RefreshOptions = refresh ? roAfterUpdate : TRefreshOptions{};
      q.Options().CheckRowVersion = rowVersion;
      Open(q, "SELECT * FROM gk ORDER BY a");
      for (int a : {2, 3}) {
        q.Edit();
        q.FieldByName("a")->SetAsInteger(a);
        try {
          q.Post();
        } catch (const Exception& e) {
          ADD_FAILURE() << "set to " << a << ": " << e.Message();
          q.Cancel();
        }
      }
      EXPECT_EQ(Value("SELECT GROUP_CONCAT(CONCAT_WS(',', a, v, s) ORDER BY a SEPARATOR ';') FROM gk"),
                "3,6,4;100,200,101");
      Conn.ExecSQL("UPDATE gk SET a = 1 WHERE a = 3");
    }
  }
}

// ---- partial zero dates --------------------------------------------------------------------------

// A date with a zero month or day (or the zero date with a time) reads as NULL, or as its text
// where every field is text; the rest of its row reads and writes as usual, and the date itself
// cannot be set and is never written.
TEST_F(MyValuesDbTest, PartialZeroDatesReadAsNullAndAreNeverWritten) {
  Conn.ExecSQL("SET SESSION sql_mode = ''");
  Conn.ExecSQL("CREATE TABLE pz (id INT PRIMARY KEY, d DATE, dt DATETIME, f DATETIME(3), n INT)");
  const struct {
    const char* column;
    const char* value;
  } cases[] = {{"d", "2024-00-10"},
               {"d", "2024-05-00"},
               {"dt", "2024-05-00 00:00:00"},
               {"dt", "0000-00-00 12:34:56"},
               {"f", "2024-00-10 01:02:03.500"},
               {"f", "0000-00-00 00:00:00.001"}};
  const std::string stored =
      "SELECT CONCAT_WS(',', IFNULL(HEX(d), 'N'), IFNULL(HEX(dt), 'N'), IFNULL(HEX(f), 'N'), n) FROM pz";
  for (bool prepared : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(prepared ? "prepared, " : "text, ") + c.column + " = " + c.value);
      Conn.ExecSQL("DELETE FROM pz");
      Conn.ExecSQL(
          "INSERT INTO pz VALUES (1, '2024-01-02', '2024-01-02 03:04:05', '2024-01-02 03:04:05.250', 1), "
          "(2, NULL, NULL, NULL, 2)");
      Conn.ExecSQL("UPDATE pz SET "s + c.column + " = '" + c.value + "', n = 0 WHERE id = 1");
      ASSERT_EQ(Value("SELECT CAST("s + c.column + " AS CHAR) FROM pz WHERE id = 1").substr(0, 10),
                std::string(c.value).substr(0, 10));
      const std::string before = Value(stored + " WHERE id = 1");
      for (bool all : {false, true}) {
        TMyQuery q;
        q.Options().UpdateAllFields = all;
        q.SetConnection(&Conn);
        q.SetSQLText("SELECT * FROM pz ORDER BY id");
        if (prepared) q.Prepare();
        ASSERT_NO_THROW(q.Open());
        TField* cell = q.FieldByName(c.column);
        EXPECT_TRUE(cell->IsNull());
        EXPECT_EQ(q.FieldByName("d")->IsNull(), std::string(c.column) == "d");
        q.Edit();
        try {
          cell->SetAsString("2024-01-01");
          ADD_FAILURE() << "set";
        } catch (const EDatabaseError& e) {
          EXPECT_NE(e.Message().find("'"s + c.column + "'"), std::string::npos) << e.Message();
        }
        EXPECT_THROW(cell->Clear(), EDatabaseError);
        q.FieldByName("n")->SetAsInteger(all ? 7 : 6);
        EXPECT_NO_THROW(q.Post());
        EXPECT_EQ(Value(stored + " WHERE id = 1"), before.substr(0, before.rfind(',')) + (all ? ",7" : ",6"));
        q.Next();
        EXPECT_EQ(q.FieldByName("n")->AsInteger(), 2) << "the rows after it read";
      }
    }
  }
  TMyQuery text;
  text.Options().SetFieldsAsString(true);
  Open(text, "SELECT d, f FROM pz WHERE id = 1");
  EXPECT_EQ(text.FieldByName("f")->AsString(), "0000-00-00 00:00:00.001");
}

// ---- line ends inside literals ----------------------------------------------------------------

TEST_F(MyValuesDbTest, LineEndsInsideLiteralsReachTheServerAsWritten) {
  Conn.ExecSQL("CREATE TABLE t (id INT PRIMARY KEY, s VARCHAR(20))");
  const struct {
    const char* name;
    std::string text;
  } cases[] = {{"LF", "a\nb"}, {"CR LF", "a\r\nb"}, {"CR", "a\rb"}, {"LF LF then CR LF", "a\n\nb\r\n"}};
  int id = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto sql = [&] { return "INSERT INTO t VALUES (" + std::to_string(++id) + ",\n'" + c.text + "')"; };

    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetSQLText(sql());
    q.Execute();
    EXPECT_EQ(Value("SELECT HEX(s) FROM t WHERE id = " + std::to_string(id)), Hex(c.text)) << "query";

    TMyCommand cmd;
    cmd.SetConnection(&Conn);
    cmd.SetSQLText(sql());
    cmd.Execute();
    EXPECT_EQ(Value("SELECT HEX(s) FROM t WHERE id = " + std::to_string(id)), Hex(c.text)) << "command";

    Conn.ExecSQL("INSERT INTO t VALUES (:id, '" + c.text + "')", {Variant(++id)});
    EXPECT_EQ(Value("SELECT HEX(s) FROM t WHERE id = " + std::to_string(id)), Hex(c.text))
        << "ExecSQL with values";
  }
}

// ---- a session that reads backslashes as plain characters ----------------------------------------

// Under NO_BACKSLASH_ESCAPES a backslash escape would end the literal early: a quote in a value
// could close it and the rest run as SQL, and a backslash would be stored twice.
TEST_F(MyValuesDbTest, LiteralsFollowTheSessionsBackslashMode) {
  const struct {
    const char* name;
    std::string text;
  } values[] = {{"quote", "O'Brien"},
                {"backslash before a quote", "C:\\' OR '1'='1"},
                {"trailing backslash", "dir\\"},
                {"zero byte and line end", "a\0b\nc\r\x1A"s},
                {"double quote", "say \"hi\""}};
  const std::vector<uint8_t> bytes = {0x00, 0x5C, 0x27, 0x22, 0x41};
  for (bool direct : {true, false}) {
    SCOPED_TRACE(direct ? "direct" : "client library");
    Conn.Close();
    Conn.Options().SetDirect(direct);
    Conn.ExecSQL("DROP TABLE IF EXISTS m");
    Conn.ExecSQL("CREATE TABLE m (id INT PRIMARY KEY, s VARCHAR(40), b VARBINARY(10), n INT)");
    Conn.ExecSQL("SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')");
    int id = 0;
    for (const auto& v : values) {
      SCOPED_TRACE(v.name);
      TMyCommand insert;
      insert.SetConnection(&Conn);
      insert.SetSQLText("INSERT INTO m (id, s, b) VALUES (:id, :s, :b)");
      insert.Params().ParamByName("id")->SetAsInteger(++id);
      insert.Params().ParamByName("s")->SetAsString(v.text);
      insert.Params().ParamByName("b")->SetAsBytes(bytes);
      EXPECT_NO_THROW(insert.Execute());
      EXPECT_EQ(Value("SELECT CONCAT(HEX(s), ',', HEX(b)) FROM m WHERE id = " + std::to_string(id)),
                Hex(v.text) + ",005C272241");
      // As a condition the value matches its own row only.
      TMyQuery q;
      q.SetConnection(&Conn);
      q.SetSQLText("SELECT id FROM m WHERE s = :s");
      q.ParamByName("s")->SetAsString(v.text);
      q.Open();
      EXPECT_EQ(q.RecordCount(), 1);
    }
    // The statements a dataset generates write the same way.
    TMyQuery q;
    Open(q, "SELECT * FROM m WHERE id = 1");
    q.Edit();
    q.FieldByName("s")->SetAsString("it's \\ here");
    q.Post();
    EXPECT_EQ(Value("SELECT HEX(s) FROM m WHERE id = 1"), Hex("it's \\ here"));
    EXPECT_EQ(Value("SELECT COUNT(*) FROM m"), std::to_string(id));
  }
}

}  // namespace
