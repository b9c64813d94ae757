// The client-API base class: calls a variant lacks, client levels, time-outs and the row helpers
// over the client library's row form.
#include "mysql/MySqlApi.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace {

// A variant standing in for a client library: a version text, recorded options and one C row.
class TFakeLibraryApi : public TMySQLAPI {
 public:
  std::string Version = "4.1.7";
  std::vector<std::pair<int, uint32_t>> Options;
  std::vector<char*> Row;
  std::vector<unsigned long> Lengths;

  std::string mysql_get_client_info() override { return Version; }
  int mysql_options(PMYSQL_CON, int option, uint32_t value) override {
    Options.emplace_back(option, value);
    return 0;
  }
  uint32_t mysql_num_fields(PMYSQL_RES) override { return static_cast<uint32_t>(Lengths.size()); }
  const unsigned long* mysql_fetch_lengths(PMYSQL_RES) override { return Lengths.data(); }
  PMYSQL_ROW mysql_fetch_row(PMYSQL_RES) override { return reinterpret_cast<PMYSQL_ROW>(Row.data()); }
  void GetFieldInfo(PMYSQL_RES, uint32_t, TMySqlFieldRecord&, bool) override {}
  int StmtExecute(PMYSQL_STMT, const TParamDescs&, bool) override { return 0; }
  int StmtBindResults(PMYSQL_STMT) override { return 0; }
};

PMYSQL_CON AnyCon() {
  return reinterpret_cast<PMYSQL_CON>(uintptr_t{8});
}

}  // namespace

TEST(MySqlApiTest, CallsAVariantLacksRaiseNamingThem) {
  TFakeLibraryApi api;
  const std::pair<const char*, std::function<void()>> calls[] = {
      {"mysql_real_query", [&] { api.mysql_real_query(AnyCon(), "SELECT 1"); }},
      {"StmtGetColumnPtr", [&] { api.StmtGetColumnPtr(nullptr, 0); }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    try {
      call();
      ADD_FAILURE() << "nothing raised";
    } catch (const NotSupportedException& e) {
      EXPECT_EQ(e.Message(), std::string(name) + " is not supported by this client API");
    }
  }
}

// The level decides, among others, whether time-outs can be set.
TEST(MySqlApiTest, ClientLevelAndTimeoutsFromTheLibraryVersion) {
  using Options = std::vector<std::pair<int, uint32_t>>;
  const Options timeouts = {{11, 31536000}, {12, 31536000}, {11, 20}, {12, 20}};
  const std::tuple<const char*, uint8_t, bool> cases[] = {
      {"3.23.58", MYSQL_CLIENT_3, false},     {"4.0.20", MYSQL_CLIENT_40, false},
      {"4.1.0", MYSQL_CLIENT_410, true},      {"4.1.7", MYSQL_CLIENT_411, true},
      {"5.0.3-beta", MYSQL_CLIENT_411, true}, {"4.1.3-beta-nt", MYSQL_CLIENT_411, true}};
  for (const auto& [version, level, hasTimeouts] : cases) {
    SCOPED_TRACE(version);
    TFakeLibraryApi api;
    api.Version = version;
    api.Initialize();
    EXPECT_EQ(api.ClientLevel(), level);
    EXPECT_EQ(api.ClientVersion(), version);
    api.SetTimeout(AnyCon(), 0);  // none: a year
    api.SetTimeout(AnyCon(), 20);
    EXPECT_EQ(api.Options, hasTimeouts ? timeouts : Options{});
  }
  TFakeLibraryApi api;
  api.Version = "6.0.1";
  try {
    api.Initialize();
    FAIL() << "accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid client version");
  }
}

// A NULL is told from an empty value; a row's columns point at the values themselves.
TEST(MySqlApiTest, RowHelpersOverLibraryRows) {
  TFakeLibraryApi api;
  char a[] = "hello";
  api.Row = {a, nullptr};
  api.Lengths = {5, 0};
  PMYSQL_ROW row = api.FetchRow(nullptr);
  EXPECT_EQ(std::vector<bool>({api.FieldIsNull(row, 0), api.FieldIsNull(row, 1)}),
            std::vector<bool>({false, true}));
  EXPECT_EQ(api.GetFieldStr(row, 0), "hello");
  char buf[8];
  api.CopyFieldStringAt(row, 0, 1, 3, buf);
  EXPECT_STREQ(buf, "ell");
  std::vector<TMySqlBind> scratch;
  const uint8_t* base = reinterpret_cast<const uint8_t*>(buf);
  const auto columns = api.GetRowColumns(nullptr, row, scratch, base);
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(base, nullptr) << "positions are the values' addresses";
  EXPECT_EQ(reinterpret_cast<const char*>(columns[0].Position), a);
  EXPECT_EQ(columns[0].Length, 5u);
  EXPECT_TRUE(columns[1].IsNull);
}
