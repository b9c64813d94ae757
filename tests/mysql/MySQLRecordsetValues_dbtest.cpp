// Values the server holds reach the record set unchanged, over the text and the prepared paths, and
// the literal writer sends them back unchanged.
#include <gtest/gtest.h>

#include <charconv>
#include <memory>
#include <string>
#include <vector>

#include "ApiTestSupport.h"
#include "core/MemBlob.h"
#include "mysql/MyClasses.h"
#include "mysql/MySQLRecordset.h"
#include "mysql/MySqlApiClient.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

using api_test::TScratchDb;

class MySQLRecordsetValuesDbTest : public ::testing::TestWithParam<bool> {
 public:
  static TMySQLAPI& Api() { return GetParam() ? static_cast<TMySQLAPI&>(MyAPIClient()) : MyAPIDirect(); }

  static std::unique_ptr<TMySQLConnection> Open(const std::string& database, bool unicode = false) {
    const auto& srv = TestServer::Info();
    auto c = std::make_unique<TMySQLConnection>();
    c->SetProp(prMySQLAPI, Variant::FromObject(&Api()));
    c->SetServer(srv.Host);
    c->SetUsername(srv.NativeUser);
    c->SetPassword(srv.NativePassword);
    c->SetProp(prPort, srv.Port);
    c->SetProp(prDatabase, database);
    c->SetProp(prCharset, "gbk");
    c->SetProp(prUseUnicode, unicode);
    c->Connect("");
    return c;
  }
};

std::unique_ptr<TMySQLRecordset> Recordset(TMySQLConnection& c, const std::string& sql) {
  auto rs = std::make_unique<TMySQLRecordset>();
  rs->SetConnection(&c);
  rs->SetSQL(sql);
  rs->SetProp(prNullForZeroDate, false);
  rs->SetProp(prFetchAll, true);
  return rs;
}

// How the server shows a column, and how a field value is shown the same way.
// fmUtf8: text only a Unicode connection can show, as the hex of its UTF-8 bytes.
enum TForm { fmHex, fmText, fmFloat, fmUtf8 };

struct TColumnCase {
  const char* Name;
  const char* Type;
  const char* Values[3];  // SQL literals of rows 1 to 3
  TForm Form;
};

// Every kind of value that was lost or refused: bytes with zero bytes, all 64 bits, the ends of
// the date and time ranges with their microseconds, the zero date, a float's shortest decimal.
const TColumnCase Columns[] = {
    {"bin4", "BINARY(4)", {"x'00FF00FF'", "x'00000000'", "x'41'"}, fmHex},
    {"vb", "VARBINARY(10)", {"x'610062'", "x''", "x'00'"}, fmHex},
    {"vbl", "VARBINARY(300)", {"x'00FF00'", "REPEAT(x'00', 300)", "NULL"}, fmHex},
    {"bl", "BLOB", {"x'000102'", "x''", "NULL"}, fmHex},
    {"bit64", "BIT(64)", {"x'FFFFFFFFFFFFFFFF'", "0", "x'8000000000000000'"}, fmText},
    {"bu", "BIGINT UNSIGNED", {"18446744073709551615", "9223372036854775808", "0"}, fmText},
    {"d", "DATE", {"'0001-01-01'", "'9999-12-31'", "'0000-00-00'"}, fmText},
    {"dt", "DATETIME", {"'0001-01-01 00:00:00'", "'2024-02-29 13:14:15'", "'0000-00-00 00:00:00'"}, fmText},
    {"dt6",
     "DATETIME(6)",
     {"'0001-01-01 00:00:00.000001'", "'9999-12-31 23:59:59.999999'", "'0000-00-00 00:00:00'"},
     fmText},
    {"ts3", "TIMESTAMP(3) NULL", {"'2024-01-02 03:04:05.678'", "'1970-01-02 00:00:00.001'", "NULL"}, fmText},
    {"t6", "TIME(6)", {"'-838:59:59.000000'", "'12:34:56.789012'", "'00:00:00.000001'"}, fmText},
    {"f", "FLOAT", {"76.7", "-0.1", "3.4e38"}, fmFloat},
    {"g", "VARCHAR(20) CHARACTER SET gbk", {"x'D6D0CEC4'", "''", "'It''s'"}, fmHex},
    {"e", "VARCHAR(10) CHARACTER SET utf8mb4", {"x'F09F9880'", "x'61F09F9A80'", "NULL"}, fmUtf8},
};

std::string Hex(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += Format("%.2X", {int(p[i])});
  return s;
}

// The field value in the form the server shows the column (ServerForms).
std::string FieldForm(TMySQLRecordset& rs, int no, void* buf, TForm form) {
  if (rs.GetNull(no, buf)) return "<null>";
  const TDataType type = rs.FieldOf(no).DataType;
  if (type == dtBlob) {
    TBlob* blob = rs.GetBlob(no, buf);
    std::vector<uint8_t> bytes(blob->GetSize());
    bytes.resize(blob->Read(0, static_cast<uint32_t>(bytes.size()), bytes.data()));
    return Hex(bytes.data(), bytes.size());
  }
  const Variant v = rs.GetFieldAsVariant(no, buf);
  if (form == fmUtf8) {
    const std::string utf8 = WideToUtf8(v.AsWideString());
    return Hex(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
  }
  if (form == fmHex && v.IsByteArray()) return Hex(v.AsBytes().data(), v.AsBytes().size());
  if (form == fmHex) {
    const std::string text = v.VarType() == varOleStr ? WideToAnsi(v.AsWideString()) : v.AsString();
    return Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  if (type == dtDate || type == dtDateTime) {
    if (v.AsDateTime() == MySQLZeroDate) return type == dtDate ? "0000-00-00" : "0000-00-00 00:00:00";
    return FormatDateTime(type == dtDate ? "yyyy-mm-dd" : "yyyy-mm-dd hh:nn:ss", v.AsDateTime());
  }
  return VarToStr(v);
}

std::string ServerForm(const TColumnCase& c) {
  const std::string n = c.Name;
  if (c.Form == fmHex || c.Form == fmUtf8) return "HEX(" + n + ")";
  if (std::string(c.Type).starts_with("BIT")) return "CAST(" + n + " AS UNSIGNED)";
  return "CAST(" + n + " AS CHAR)";
}

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t bar; (bar = s.find('|', start)) != std::string::npos; start = bar + 1)
    parts.push_back(s.substr(start, bar - start));
  parts.push_back(s.substr(start));
  return parts;
}

double ParseDouble(const std::string& s) {
  double v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

// One text of the first row of a query, read by the client library's plain text rows.
std::string ServerText(TMySQLConnection& c, const std::string& sql) {
  auto rs = Recordset(c, sql);
  rs->Open();
  std::unique_ptr<void, void (*)(void*)> buf(rs->AllocRecBuf(), TData::FreeRecBuf);
  rs->SetToBegin();
  rs->GetNextRecord(buf.get());
  return rs->GetEof() ? "<none>" : VarToStr(rs->GetFieldAsVariant(1, buf.get()));
}

std::string Checksum(TMySQLConnection& c) {
  auto rs = Recordset(c, "CHECKSUM TABLE t");
  rs->Open();
  std::unique_ptr<void, void (*)(void*)> buf(rs->AllocRecBuf(), TData::FreeRecBuf);
  rs->SetToBegin();
  rs->GetNextRecord(buf.get());
  return VarToStr(rs->GetFieldAsVariant(2, buf.get()));
}

void CreateTable(TMySQLConnection& c) {
  c.ExecSQL("SET SESSION sql_mode = ''");  // the zero date is a value here
  std::string create = "CREATE TABLE t (id INT PRIMARY KEY";
  for (const auto& col : Columns) create += std::string(", ") + col.Name + " " + col.Type;
  c.ExecSQL(create + ") CHARSET gbk");
  for (int row = 0; row < 3; ++row) {
    std::string insert = "INSERT INTO t VALUES (" + std::to_string(row + 1);
    for (const auto& col : Columns) insert += std::string(", ") + col.Values[row];
    c.ExecSQL(insert + ")");
  }
}

// UPDATE of every column of the current record from the values read, through the literal writer.
std::string UpdateFromRecord(TMySQLRecordset& rs, void* buf, TCharsetKind charset) {
  std::string sql = "UPDATE t SET ";
  for (int no = 2; no <= rs.GetFieldCount(); ++no) {
    const TFieldDesc& f = rs.FieldOf(no);
    if (Columns[no - 2].Form == fmUtf8) continue;  // what the code page cannot hold is not written
    const bool isNull = rs.GetNull(no, buf);
    const Variant value = isNull                 ? Variant::Null()
                          : f.DataType == dtBlob ? Variant::FromObject(rs.GetBlob(no, buf))
                                                 : rs.GetFieldAsVariant(no, buf);
    sql += (no > 2 ? ", " : "") + f.Name + " = " +
           ValueToSQLText(f.DataType, value, isNull, 10, false, false, charset);
  }
  return sql + " WHERE id = " + VarToStr(rs.GetFieldAsVariant(1, buf));
}

TEST_P(MySQLRecordsetValuesDbTest, EveryValueReadsAsTheServerHoldsItAndWritesBackUnchanged) {
  TScratchDb db;
  auto c = Open(db.Name());
  CreateTable(*c);
  std::string forms;
  for (const auto& col : Columns)
    forms += std::string(forms.empty() ? "" : ", '|', ") + "IFNULL(" + ServerForm(col) + ", '<null>')";
  std::vector<std::vector<std::string>> server;
  for (int id = 1; id <= 3; ++id)
    server.push_back(
        Split(ServerText(*c, "SELECT CONCAT(" + forms + ") FROM t WHERE id = " + std::to_string(id))));
  const std::string before = Checksum(*c);
  for (bool unicode : {false, true})
    for (bool prepared : {false, true}) {
      SCOPED_TRACE(std::string(prepared ? "prepared" : "text") + (unicode ? ", UseUnicode" : ""));
      auto conn = Open(db.Name(), unicode);
      conn->ExecSQL("SET SESSION sql_mode = ''");
      auto rs = Recordset(*conn, "SELECT * FROM t ORDER BY id");
      if (prepared) rs->Prepare();
      rs->Open();
      std::unique_ptr<void, void (*)(void*)> buf(rs->AllocRecBuf(), TData::FreeRecBuf);
      rs->SetToBegin();
      for (int row = 0; row < 3; ++row) {
        rs->GetNextRecord(buf.get());
        ASSERT_FALSE(rs->GetEof());
        for (size_t i = 0; i < std::size(Columns); ++i) {
          const TColumnCase& col = Columns[i];
          SCOPED_TRACE(std::string(col.Name) + " row " + std::to_string(row + 1));
          const std::string mine = FieldForm(*rs, static_cast<int>(i) + 2, buf.get(), col.Form);
          if (col.Form == fmUtf8 && !unicode) continue;  // the code page has no emoji
          if (col.Form == fmFloat && mine != "<null>")
            EXPECT_EQ(ParseDouble(mine), ParseDouble(server[row][i])) << mine << " / " << server[row][i];
          else
            EXPECT_EQ(mine, server[row][i]);
        }
        if (!unicode) {
          const std::string update = UpdateFromRecord(*rs, buf.get(), conn->GetTextCharset());
          conn->ExecSQL(update);
          EXPECT_EQ(Checksum(*conn), before) << update;
        }
      }
    }
}

// A join may return more columns than a table holds: they are read, and the session goes on.
TEST_P(MySQLRecordsetValuesDbTest, ResultsWiderThan4096ColumnsOpen) {
  TScratchDb db;
  auto c = Open(db.Name());
  constexpr int Count = 5000;
  std::string sql = "SELECT 0 AS c1";
  for (int i = 2; i <= Count; ++i) sql += ", " + std::to_string(i - 1) + " AS c" + std::to_string(i);
  for (bool prepared : {false, true}) {
    SCOPED_TRACE(prepared ? "prepared" : "text");
    auto rs = Recordset(*c, sql);
    if (prepared) rs->Prepare();
    rs->Open();
    ASSERT_EQ(rs->GetFieldCount(), Count);
    std::unique_ptr<void, void (*)(void*)> buf(rs->AllocRecBuf(), TData::FreeRecBuf);
    rs->SetToBegin();
    rs->GetNextRecord(buf.get());
    EXPECT_EQ(VarToStr(rs->GetFieldAsVariant(Count, buf.get())), std::to_string(Count - 1));
    rs->Close();
    EXPECT_EQ(ServerText(*c, "SELECT 7"), "7");
  }
}

// A filter that parses but cannot judge the rows fails the Open, which leaves nothing open.
TEST_P(MySQLRecordsetValuesDbTest, AnOpenThatFailsOnItsFilterLeavesTheRecordSetClosed) {
  TScratchDb db;
  auto c = Open(db.Name());
  c->ExecSQL("CREATE TABLE t (id INT)");
  c->ExecSQL("INSERT INTO t VALUES (1), (2)");
  auto rs = Recordset(*c, "SELECT id FROM t");
  rs->SetFilterText("id > 'abc'");
  EXPECT_THROW(rs->Open(), EConvertError);
  EXPECT_FALSE(rs->Active());
  EXPECT_EQ(rs->GetRecordCount(), 0);
  rs->SetFilterText("id > 1");
  rs->Open();
  EXPECT_EQ(rs->GetRecordCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Apis, MySQLRecordsetValuesDbTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ClientLibrary" : "Direct"; });

}  // namespace
