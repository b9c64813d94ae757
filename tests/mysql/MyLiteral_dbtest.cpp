// Our literals read back byte-exactly by the real server. The statements travel through the
// server's own C client library, so only our literal text is under test here.
#include <gtest/gtest.h>
#include <mariadb/mysql.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/TestServer.h"
#include "mysql/MyClasses.h"

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
    FConn.reset(mysql_init(nullptr));
    ASSERT_TRUE(FConn);
    unsigned timeout = 30;
    mysql_optionsv(FConn.get(), MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_optionsv(FConn.get(), MYSQL_OPT_READ_TIMEOUT, &timeout);
    mysql_optionsv(FConn.get(), MYSQL_OPT_WRITE_TIMEOUT, &timeout);
    ASSERT_TRUE(mysql_real_connect(FConn.get(), info.Host.c_str(), info.NativeUser.c_str(),
                                   info.NativePassword.c_str(), nullptr, info.Port, nullptr, 0))
        << mysql_error(FConn.get());
    FDb = "da_literal_" + std::to_string(getpid()) + "_" +
          std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    Exec("CREATE DATABASE " + FDb);
    Exec("USE " + FDb);
  }

  void TearDown() override {
    if (FConn && !FDb.empty()) mysql_query(FConn.get(), ("DROP DATABASE " + FDb).c_str());
  }

  void Exec(const std::string& sql) {
    ASSERT_EQ(mysql_real_query(FConn.get(), sql.data(), sql.size()), 0)
        << mysql_error(FConn.get()) << "\nin: " << sql.substr(0, 200);
  }

  // The first column of each row, in row order.
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> values;
    EXPECT_EQ(mysql_real_query(FConn.get(), sql.data(), sql.size()), 0) << mysql_error(FConn.get());
    std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> res(mysql_store_result(FConn.get()),
                                                                  mysql_free_result);
    if (!res) return values;
    while (MYSQL_ROW row = mysql_fetch_row(res.get())) {
      unsigned long* len = mysql_fetch_lengths(res.get());
      values.emplace_back(row[0] ? std::string(row[0], len[0]) : std::string());
    }
    return values;
  }

  // Stores each value with `literal` under SET NAMES `names` into `column` of a fresh table and
  // expects every one back unchanged.
  void ExpectRoundTrip(const char* names, const std::string& columnType, const std::vector<std::string>& values,
                       const std::function<std::string(const std::string&)>& literal) {
    SCOPED_TRACE(std::string(names) + " " + columnType);
    Exec(std::string("SET NAMES ") + names);
    Exec("DROP TABLE IF EXISTS t");
    Exec("CREATE TABLE t (id INT PRIMARY KEY, v " + columnType + ")");
    const size_t batch = 2000;
    for (size_t first = 0; first < values.size(); first += batch) {
      std::string sql = "INSERT INTO t VALUES ";
      for (size_t i = first; i < values.size() && i < first + batch; ++i) {
        if (i > first) sql += ",";
        sql += "(" + std::to_string(i) + "," + literal(values[i]) + ")";
      }
      Exec(sql);
    }
    std::vector<std::string> got = Column("SELECT v FROM t ORDER BY id");
    ASSERT_EQ(got.size(), values.size());
    int failures = 0;
    for (size_t i = 0; i < values.size() && failures < 10; ++i)
      if (got[i] != values[i]) {
        ++failures;
        ADD_FAILURE() << "value " << i << " came back different";
      }
  }

  struct Closer {
    void operator()(MYSQL* m) const { mysql_close(m); }
  };
  std::unique_ptr<MYSQL, Closer> FConn;
  std::string FDb;
};

struct TNames {
  const char* name;
  TCharsetKind kind;
};
const TNames Names[] = {{"latin1", TCharsetKind::SingleByte},
                        {"gbk", TCharsetKind::Gbk},
                        {"gb2312", TCharsetKind::Gb2312}};

std::vector<std::string> EveryByteValue() {
  std::vector<std::string> values;
  std::string all;
  for (int b = 0; b < 256; ++b) {
    values.push_back(Bytes({b}));
    all += static_cast<char>(b);
  }
  values.push_back(all);
  std::string reversed(all.rbegin(), all.rend());
  values.push_back(reversed);
  return values;
}

TEST_F(LiteralDb, EveryByteValueOfABinaryValueRoundTrips) {
  for (const auto& n : Names)
    ExpectRoundTrip(n.name, "BLOB", EveryByteValue(),
                    [&](const std::string& v) { return QuoteBinary(v, n.kind); });
}

// The escaped form itself, not only the hex form: every pair of bytes, as text of the
// connection's set, into a binary column keeps its bytes (a wrongly placed backslash would
// change them or end the literal early).
TEST_F(LiteralDb, EveryBytePairEscapedForTheConnectionSetRoundTrips) {
  std::vector<std::string> pairs;
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) pairs.push_back(Bytes({a, b}));
  for (const auto& n : Names)
    ExpectRoundTrip(n.name, "VARBINARY(8)", pairs,
                    [&](const std::string& v) { return QuoteString(v, n.kind); });
}

TEST_F(LiteralDb, GbkTextWith5CTrailBytesRoundTrips) {
  // 乗n, 乗, 籠, 乗 before a quote and a backslash, and 中文 around them.
  const std::vector<std::string> texts = {
      Bytes({0x81, 0x5C, 'n'}),
      Bytes({0x81, 0x5C}),
      Bytes({0xBB, 0x5C}),
      Bytes({0x81, 0x5C, '\'', 0xBB, 0x5C, '\\', 0xD6, 0xD0, 0xCE, 0xC4}),
      Bytes({0xBB, 0x5C, 0x81, 0x5C, 0x81, 0x5C, 'Z'}),
  };
  ExpectRoundTrip("gbk", "VARCHAR(64) CHARACTER SET gbk", texts,
                  [](const std::string& v) { return QuoteString(v, TCharsetKind::Gbk); });
  // The game's layout: GBK bytes kept in latin1 columns, sent and read as latin1.
  ExpectRoundTrip("latin1", "VARCHAR(64) CHARACTER SET latin1", texts,
                  [](const std::string& v) { return QuoteString(v, TCharsetKind::SingleByte); });
}

TEST_F(LiteralDb, Gb2312TextRoundTrips) {
  const std::vector<std::string> texts = {
      Bytes({0xD6, 0xD0, 0xCE, 0xC4}),  // 中文
      Bytes({0xB0, 0xA1, '\'', 0xB0, 0xA1, '\\', 'n'}),
      Bytes({0xF7, 0xFE, 0xA1, 0xA1}),
  };
  ExpectRoundTrip("gb2312", "VARCHAR(64) CHARACTER SET gb2312", texts,
                  [](const std::string& v) { return QuoteString(v, TCharsetKind::Gb2312); });
  // BB 5C is GBK only: under gb2312 its 5C is a backslash and must survive as one.
  ExpectRoundTrip("gb2312", "VARBINARY(16)", {Bytes({0xBB, 0x5C}), Bytes({0xBB, 0x5C, '\''})},
                  [](const std::string& v) { return QuoteString(v, TCharsetKind::Gb2312); });
}

}  // namespace
