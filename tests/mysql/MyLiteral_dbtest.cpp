// Our literals read back byte-exactly by the real server. The statements travel through the
// server's own C client library, so only our literal text is under test here.
#include <gtest/gtest.h>
#include <mariadb/mysql.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "mysql/MyClasses.h"
#include "support/TestServer.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

// One connection to the test server with a database of its own, dropped at the end.
class LiteralDb : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& info = TestServer::Info();
    unsigned timeout = 30;
    for (auto option : {MYSQL_OPT_CONNECT_TIMEOUT, MYSQL_OPT_READ_TIMEOUT, MYSQL_OPT_WRITE_TIMEOUT})
      mysql_optionsv(FConn.get(), option, &timeout);
    ASSERT_TRUE(mysql_real_connect(FConn.get(), info.Host.c_str(), info.NativeUser.c_str(),
                                   info.NativePassword.c_str(), nullptr, info.Port, nullptr, 0))
        << mysql_error(FConn.get());
    FDb = "da_literal_" + std::to_string(getpid()) + "_" +
          std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    Exec("CREATE DATABASE " + FDb);
    Exec("USE " + FDb);
  }
  void TearDown() override { mysql_query(FConn.get(), ("DROP DATABASE IF EXISTS " + FDb).c_str()); }

  void Exec(const std::string& sql) {
    ASSERT_EQ(mysql_real_query(FConn.get(), sql.data(), sql.size()), 0)
        << mysql_error(FConn.get()) << "\nin: " << sql.substr(0, 200);
  }

  // Stores each value with `literal` under SET NAMES `names` into a column of a fresh table and
  // expects every one back unchanged.
  void ExpectRoundTrip(const char* names, const std::string& columnType,
                       const std::vector<std::string>& values,
                       const std::function<std::string(const std::string&)>& literal) {
    SCOPED_TRACE(std::string(names) + " " + columnType);
    Exec(std::string("SET NAMES ") + names);
    Exec("DROP TABLE IF EXISTS t");
    Exec("CREATE TABLE t (id INT PRIMARY KEY, v " + columnType + ")");
    for (size_t first = 0; first < values.size(); first += 2000) {
      std::string sql = "INSERT INTO t VALUES ";
      for (size_t i = first; i < values.size() && i < first + 2000; ++i)
        sql += (i > first ? ",(" : "(") + std::to_string(i) + "," + literal(values[i]) + ")";
      Exec(sql);
    }
    Exec("SELECT v FROM t ORDER BY id");
    std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> res(mysql_store_result(FConn.get()),
                                                                 mysql_free_result);
    ASSERT_TRUE(res);
    ASSERT_EQ(mysql_num_rows(res.get()), values.size());
    int failures = 0;
    for (size_t i = 0; i < values.size() && failures < 10; ++i) {
      MYSQL_ROW row = mysql_fetch_row(res.get());
      if (std::string(row[0], mysql_fetch_lengths(res.get())[0]) != values[i]) {
        ++failures;
        ADD_FAILURE() << "value " << i << " came back different";
      }
    }
  }

  std::unique_ptr<MYSQL, decltype(&mysql_close)> FConn{mysql_init(nullptr), mysql_close};
  std::string FDb;
};

const std::pair<const char*, TCharsetKind> Names[] = {
    {"latin1", TCharsetKind::SingleByte}, {"gbk", TCharsetKind::Gbk}, {"gb2312", TCharsetKind::Gb2312}};

// Every byte value as a binary value; the escaped form too, not only the hex form: every pair of
// bytes, as text of the connection's set, into a binary column keeps its bytes (a wrongly placed
// backslash would change them or end the literal early).
TEST_F(LiteralDb, EveryByteValueAndPairRoundTrips) {
  std::vector<std::string> bytes, pairs;
  std::string all;
  for (int b = 0; b < 256; ++b) bytes.push_back(Bytes({b})), all += static_cast<char>(b);
  bytes.push_back(all);
  bytes.push_back(std::string(all.rbegin(), all.rend()));
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) pairs.push_back(Bytes({a, b}));
  for (const auto& [names, kind] : Names) {
    ExpectRoundTrip(names, "BLOB", bytes, [&](const std::string& v) { return QuoteBinary(v, kind); });
    ExpectRoundTrip(names, "VARBINARY(8)", pairs, [&](const std::string& v) { return QuoteString(v, kind); });
  }
}

// GBK text with 5C trail bytes (乗n, 乗, 籠, before a quote and a backslash, 中文 around them),
// under gbk and, the game's layout, as GBK bytes kept in latin1 columns; GB2312 text, where the
// 5C of BB 5C (GBK only) is a backslash and must survive as one.
TEST_F(LiteralDb, MultiByteTextRoundTrips) {
  const std::vector<std::string> gbk = {Bytes({0x81, 0x5C, 'n'}), Bytes({0x81, 0x5C}), Bytes({0xBB, 0x5C}),
                                        Bytes({0x81, 0x5C, '\'', 0xBB, 0x5C, '\\', 0xD6, 0xD0, 0xCE, 0xC4}),
                                        Bytes({0xBB, 0x5C, 0x81, 0x5C, 0x81, 0x5C, 'Z'})};
  const std::vector<std::string> gb2312 = {Bytes({0xD6, 0xD0, 0xCE, 0xC4}),
                                           Bytes({0xB0, 0xA1, '\'', 0xB0, 0xA1, '\\', 'n'}),
                                           Bytes({0xF7, 0xFE, 0xA1, 0xA1})};
  const std::tuple<const char*, const char*, std::vector<std::string>, TCharsetKind> cases[] = {
      {"gbk", "VARCHAR(64) CHARACTER SET gbk", gbk, TCharsetKind::Gbk},
      {"latin1", "VARCHAR(64) CHARACTER SET latin1", gbk, TCharsetKind::SingleByte},
      {"gb2312", "VARCHAR(64) CHARACTER SET gb2312", gb2312, TCharsetKind::Gb2312},
      {"gb2312", "VARBINARY(16)", {Bytes({0xBB, 0x5C}), Bytes({0xBB, 0x5C, '\''})}, TCharsetKind::Gb2312}};
  for (const auto& [names, column, texts, kind] : cases)
    ExpectRoundTrip(names, column, texts,
                    [kind = kind](const std::string& v) { return QuoteString(v, kind); });
}

}  // namespace
