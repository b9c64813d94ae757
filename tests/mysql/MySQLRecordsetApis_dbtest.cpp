// The record set over the client library: the same table reads with the same field descriptions
// and values as over the direct protocol, by text and by prepared statement.
#include <gtest/gtest.h>

#include <memory>

#include "ApiTestSupport.h"
#include "core/MemBlob.h"
#include "mysql/MySQLRecordset.h"
#include "mysql/MySqlApiClient.h"

namespace {

using api_test::TScratchDb;

std::unique_ptr<TMySQLConnection> Open(TMySQLAPI& api, const std::string& database) {
  const auto& srv = TestServer::Info();
  auto c = std::make_unique<TMySQLConnection>();
  c->SetProp(prMySQLAPI, Variant::FromObject(&api));
  c->SetServer(srv.Host);
  c->SetUsername(srv.NativeUser);
  c->SetPassword(srv.NativePassword);
  c->SetProp(prPort, srv.Port);
  c->SetProp(prDatabase, database);
  c->SetProp(prCharset, "gbk");
  c->Connect("");
  return c;
}

std::string Describe(const TFieldDesc& f) {
  const auto& my = dynamic_cast<const TMySQLFieldDesc&>(f);
  return Format(
      "%s (%s) type %d length %d scale %d size %d%s%s%s%s mysql %d%s decimals %d",
      {f.Name, f.ActualName, int(f.DataType), int(f.Length), int(f.Scale), int(f.Size),
       f.Required ? " required" : "", f.ReadOnly ? " read-only" : "", f.IsKey ? " key" : "",
       f.Fixed ? " fixed" : "", int(my.MySQLType), my.IsUnsigned ? " unsigned" : "", int(my.Decimals)});
}

std::string Value(TMySQLRecordset& rs, int fieldNo, void* buf) {
  if (rs.GetNull(fieldNo, buf)) return "<null>";
  if (TBlob* blob = rs.FieldOf(fieldNo).DataType == dtBlob || rs.FieldOf(fieldNo).DataType == dtMemo
                        ? rs.GetBlob(fieldNo, buf)
                        : nullptr)
    return blob->GetAsString();
  const Variant v = rs.GetFieldAsVariant(fieldNo, buf);
  if (v.IsByteArray()) {
    std::string hex;
    for (uint8_t b : v.AsBytes()) hex += Format("%.2X", {int(b)});
    return "0x" + hex;
  }
  return v.VarType() == varDate ? FloatToStr(v.AsDateTime()) : VarToStr(v);
}

// Field descriptions, then every value of every record.
std::vector<std::string> Read(TMySQLConnection& c, bool prepared) {
  TMySQLRecordset rs;
  rs.SetConnection(&c);
  rs.SetSQL("SELECT * FROM t ORDER BY id");
  if (prepared) rs.Prepare();
  rs.Open();
  std::vector<std::string> out;
  for (int i = 1; i <= rs.GetFieldCount(); ++i) out.push_back(Describe(rs.FieldOf(i)));
  std::unique_ptr<void, void (*)(void*)> owned(rs.AllocRecBuf(), TData::FreeRecBuf);
  rs.SetToBegin();
  for (rs.GetNextRecord(owned.get()); !rs.GetEof(); rs.GetNextRecord(owned.get()))
    for (int i = 1; i <= rs.GetFieldCount(); ++i) out.push_back(Value(rs, i, owned.get()));
  rs.Close();
  if (prepared) rs.UnPrepare();
  return out;
}

}  // namespace

TEST(MySQLRecordsetApisDbTest, TheClientLibraryReadsATableAsTheDirectProtocolDoes) {
  TScratchDb db;
  {
    api_test::TConn setup(db.Name());
    api_test::CreateEveryColumnType(setup);
    // The record set refuses a BIGINT UNSIGNED beyond the signed range.
    api_test::Exec(setup, "UPDATE t SET bu = 9223372036854775807");
  }
  MyAPIClient().Initialize();
  auto direct = Open(MyAPIDirect(), db.Name());
  auto library = Open(MyAPIClient(), db.Name());
  for (bool prepared : {false, true}) {
    SCOPED_TRACE(prepared ? "prepared" : "text");
    const std::vector<std::string> expected = Read(*direct, prepared);
    const std::vector<std::string> got = Read(*library, prepared);
    ASSERT_EQ(got.size(), expected.size());
    ASSERT_GT(expected.size(), 33u * 3);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "item " << i;
  }
}
