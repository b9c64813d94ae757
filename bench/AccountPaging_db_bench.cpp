// The account browser's statements over a generated table of 1,000,000 accounts (the game's
// layout: MyISAM, latin1): page 1, a page in the middle and the last page, each with its count
// query, and the title sort (every row, ordered), run through the MySQL query the browser uses
// and through the C client library (query, store_result, every row fetched, free). The two take
// turns kRuns times; medians count. Starts the test server when none runs.
//
// Goal: each page (page plus count query) within 1.3x of the library's time.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "support/BenchServer.h"
#include "support/BenchTiming.h"

extern "C" {
struct st_mysql;
struct st_mysql_res;
st_mysql* mysql_init(st_mysql*);
st_mysql* mysql_real_connect(st_mysql*, const char* host, const char* user, const char* password,
                             const char* db, unsigned port, const char* socket, unsigned long flags);
const char* mysql_error(st_mysql*);
void mysql_close(st_mysql*);
int mysql_real_query(st_mysql*, const char*, unsigned long);
st_mysql_res* mysql_store_result(st_mysql*);
char** mysql_fetch_row(st_mysql_res*);
void mysql_free_result(st_mysql_res*);
}

namespace {

constexpr int kRows = 1000000;
constexpr int kRuns = 7;
std::string gDatabase;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "AccountPaging_db_bench: %s\n", what.c_str());
  std::_Exit(1);
}

struct TStep {
  const char* Name;
  std::string Page;
  std::string Count;  // empty: none
};

class TLibrary {
 public:
  TLibrary() : FMysql(mysql_init(nullptr)) {
    const auto& srv = TestServer::Info();
    if (!mysql_real_connect(FMysql, srv.Host.c_str(), srv.NativeUser.c_str(), srv.NativePassword.c_str(),
                            gDatabase.c_str(), unsigned(srv.Port), nullptr, 0))
      Fail(std::string("library connect: ") + mysql_error(FMysql));
  }
  ~TLibrary() { mysql_close(FMysql); }
  void Exec(const std::string& sql) {
    if (mysql_real_query(FMysql, sql.data(), sql.size()) != 0) Fail(mysql_error(FMysql));
  }
  long Run(const std::string& sql) {
    Exec(sql);
    st_mysql_res* result = mysql_store_result(FMysql);
    long rows = 0;
    while (mysql_fetch_row(result)) ++rows;
    mysql_free_result(result);
    return rows;
  }

 private:
  st_mysql* FMysql;
};

void Setup() {
  const auto& srv = TestServer::Info();
  TMyConnection con;
  con.SetServer(srv.Host);
  con.SetPort(srv.Port);
  con.SetUsername(srv.NativeUser);
  con.SetPassword(srv.NativePassword);
  con.Open();
  con.ExecSQL("CREATE DATABASE " + gDatabase + " DEFAULT CHARACTER SET latin1");
  con.SetDatabase(gDatabase);
  con.ExecSQL(
      "CREATE TABLE `user` (`idx` INT NOT NULL AUTO_INCREMENT, `username` VARCHAR(32) NOT NULL, "
      "`password` VARCHAR(32) NOT NULL DEFAULT '', `deleted` TINYINT NOT NULL DEFAULT 0, "
      "`user_priv` INT NOT NULL DEFAULT 1, `locked` TINYINT NOT NULL DEFAULT 0, `lock_begin` DATETIME NULL, "
      "`lock_end` DATETIME NULL, `create_date` DATETIME NULL, `from` VARCHAR(32) NULL, "
      "`latest_login_date` DATETIME NULL, `latest_login_ip` VARCHAR(16) NULL, `email` VARCHAR(64) NULL, "
      "`webmoney` INT NOT NULL DEFAULT 0, PRIMARY KEY (`idx`), UNIQUE KEY `uk_username` (`username`)) "
      "ENGINE=MyISAM DEFAULT CHARSET=latin1");
  con.ExecSQL(
      "INSERT INTO `user` (idx, username, password, create_date, `from`, latest_login_date, latest_login_ip, "
      "email, webmoney) SELECT seq, CONCAT('u', LPAD(seq * 7919 % 1000003, 7, '0')), "
      "SUBSTRING(MD5('123456'), 9, 16), '2023-10-01 09:30:00' + INTERVAL seq MINUTE, 'web', "
      "'2024-03-01 21:15:00' + INTERVAL seq SECOND, CONCAT('10.0.', seq % 250, '.', seq % 200), "
      "CONCAT('u', seq, '@example.com'), seq % 100000 FROM seq_1_to_" +
      std::to_string(kRows));
}

// The browser's way: the page through one query, the count through another, as the window does.
double Ours(TMyConnection& con, const TStep& step) {
  TMyQuery page, count;
  for (TMyQuery* q : {&page, &count}) {
    q->SetConnection(&con);
    q->SetCommandTimeout(30);
  }
  return Measure([&] {
           page.SetSQLText(step.Page);
           page.Open();
           if (!step.Count.empty()) {
             count.SetSQLText(step.Count);
             count.Open();
             if (count.Fields()[0]->AsLargeInt() != kRows) Fail("wrong count");
             count.Close();
           }
           if (page.RecordCount() == 0) Fail("empty page");
         })
      .Wall;
}

double Library(TLibrary& lib, const TStep& step) {
  return Measure([&] {
           if (lib.Run(step.Page) == 0) Fail("empty page");
           if (!step.Count.empty()) lib.Run(step.Count);
         })
      .Wall;
}

}  // namespace

int main() {
  const TBenchServer server;
  gDatabase = "bench_paging_" + std::to_string(::getpid());
  Setup();
  const std::string count = "Select count(*) count  from user";
  const std::vector<TStep> steps = {
      {"page 1", "Select * from user  LIMIT 0,17", count},
      {"middle page", "select * FROM user    Limit " + std::to_string(kRows / 2 / 17 * 17) + ",17", count},
      {"last page", "select * FROM user    Limit " + std::to_string((kRows - 1) / 17 * 17) + ",17", count},
      {"title sort (all rows)", "select   *   from   user    order   by   `username`", {}},
  };
  const auto& srv = TestServer::Info();
  TMyConnection con;
  con.SetServer(srv.Host);
  con.SetPort(srv.Port);
  con.SetUsername(srv.NativeUser);
  con.SetPassword(srv.NativePassword);
  con.SetDatabase(gDatabase);
  con.Options().SetCharset("gb2312");
  con.Open();
  TLibrary lib;
  lib.Exec("SET NAMES gb2312");
  std::printf("account browser statements over %d accounts: medians of %d runs taken in turn\n", kRows,
              kRuns);
  bool met = true;
  for (const TStep& step : steps) {
    std::vector<double> ours, theirs;
    for (int run = 0; run < kRuns; ++run) {
      ours.push_back(Ours(con, step));
      theirs.push_back(Library(lib, step));
    }
    const double ratio = Median(ours) / Median(theirs);
    std::printf("  %-22s ours %9.3f ms  library %9.3f ms  ratio %.2f\n", step.Name, Median(ours) * 1e3,
                Median(theirs) * 1e3, ratio);
    if (!step.Count.empty()) met = met && ratio <= 1.3;
  }
  std::printf("goal: each page with its count within 1.3x of the library: %s\n", met ? "met" : "not met");
  con.ExecSQL("DROP DATABASE " + gDatabase);
  return 0;
}
