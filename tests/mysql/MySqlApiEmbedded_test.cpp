// The embedded-server variant on temporary data folders. The server starts once per process, so
// each scenario runs in a child process of its own (a death-test child that exits 0 when every check
// held and prints each failed one).
#include "mysql/MySqlApiEmbedded.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "mysql/MySQLConnection.h"
#include "platform/runtime/SyncObjs.h"

namespace {

namespace fs = std::filesystem;

class TTempDir {
 public:
  TTempDir() {
    char name[] = "/tmp/da-embedded-XXXXXX";
    FPath = ::mkdtemp(name) ? name : "";
  }
  ~TTempDir() {
    std::error_code ignored;
    if (!FPath.empty()) fs::remove_all(FPath, ignored);
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// Checks inside a child process.
class TChild {
 public:
  void Check(bool ok, const std::string& what) {
    if (ok) return;
    ++FFailures;
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
  }
  [[noreturn]] void Exit() {
    std::fflush(stderr);
    ::_exit(FFailures == 0 ? 0 : 1);
  }

 private:
  int FFailures = 0;
};

std::string ParamsText(const std::string& dataDir, const std::string& extra = {}) {
  return "--no-defaults\r\n# a comment and an empty line are dropped\r\n\r\n--datadir=" + dataDir +
         "\r\n--innodb-buffer-pool-size=8M\r\n--innodb-log-file-size=4M" +
         (extra.empty() ? "" : "\r\n" + extra);
}

void UseParams(TMySQLAPIEmbedded& api, const std::string& dataDir, const std::string& extra = {}) {
  TStringList params;
  params.SetText(ParamsText(dataDir, extra));
  api.SetParams(params);
}

// The first value of the first row, or "error <number>".
std::string Scalar(TMySQLAPI& api, PMYSQL_CON c, const std::string& sql) {
  if (api.mysql_real_query(c, sql) != 0) return "error " + std::to_string(api.mysql_errno(c));
  PMYSQL_RES res = api.mysql_use_result(c);
  if (res == nullptr) return "no rows";
  PMYSQL_ROW row = api.mysql_fetch_row(res);
  std::string value = row ? api.GetFieldStr(row, 0) : "no row";
  while (api.mysql_fetch_row(res)) {
  }
  api.mysql_free_result(res);
  return value;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Exception text of f, or "" when it raised nothing.
template <typename F>
std::string Raised(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return {};
}

// Provider connections: one with the parameters starts the server, one without (as a record set's
// auxiliary one) uses it as it runs, one with other parameters is refused.
void Serve(TChild& child, TMySQLAPIEmbedded& api, const std::string& dataDir) {
  TMySQLConnection main;
  TMySQLConnection auxiliary;
  TMySQLConnection other;
  for (TMySQLConnection* c : {&main, &auxiliary, &other}) c->SetProp(prMySQLAPI, Variant::FromObject(&api));
  main.SetProp(prEmbParams, ParamsText(dataDir));
  other.SetProp(prEmbParams, ParamsText(dataDir, "--skip-name-resolve"));
  const std::string error = Raised([&] {
    main.Connect("");
    main.ExecSQL("CREATE DATABASE d");
    main.ExecSQL("CREATE TABLE d.t (id INT, s VARCHAR(20), w DATETIME)");
    main.ExecSQL("INSERT INTO d.t VALUES (1, 'one', '2024-01-02 03:04:05'), (2, NULL, NULL)");
    auxiliary.Connect("");
  });
  child.Check(error.empty(), error);
  child.Check(api.Started(), "the first connection starts the server");
  child.Check(
      Scalar(api, auxiliary.GetMySQL(),
             "SELECT GROUP_CONCAT(id, ':', IFNULL(s, '-'), ':', IFNULL(w, '-') ORDER BY id) FROM d.t") ==
          "1:one:2024-01-02 03:04:05,2:-:-",
      "the rows read back on the other connection");
  child.Check(fs::exists(fs::path(dataDir) / "d"), "the database lies in the data folder");
  child.Check(Contains(Raised([&] { other.Connect(""); }), "runs with other parameters"), "other parameters");
  child.Check(Contains(Raised([&] { api.Unload(); }), "in use by 2 connections"), "no unload while in use");
  main.Disconnect();
  auxiliary.Disconnect();
}

}  // namespace

TEST(MySqlApiEmbeddedTest, DataFolderFromTheParameters) {
  const std::string cwd = fs::current_path().string();
  struct TCase {
    std::vector<std::string> Params;
    std::string Folder;
  };
  const TCase cases[] = {
      {{"--datadir=/srv/db"}, "/srv/db"},
      {{"--basedir=/srv"}, "/srv/data"},
      {{"--basedir=/srv/"}, "/srv/data"},
      {{"--datadir=/a/../b", "--basedir=/srv"}, "/b"},
      {{"--datadir=/one", "--datadir=/two"}, "/two"},
      {{"--datadir=rel"}, cwd + "/rel"},
      {{"--port=1"}, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Params.front());
    EXPECT_EQ(TMySQLAPIEmbedded::DataFolder(c.Params), c.Folder);
  }
}

TEST(MySqlApiEmbeddedTest, ServesADataFolderOnceAndRefusesARestart) {
  TTempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  EXPECT_EXIT(
      {
        TChild child;
        TMySQLAPIEmbedded& api = MyAPIEmbedded();
        UseParams(api, dir.Path());
        api.Initialize();
        child.Check(api.ClientLevel() == MYSQL_CLIENT_411, "the newest client level: " + api.ClientVersion());
        child.Check(!api.Started(), "reading the version starts no server");
        Serve(child, api, dir.Path());
        api.Unload();
        child.Check(!api.Started() && !api.Loaded(), "ended and unloaded");
        child.Check(Contains(Raised([&] { api.mysql_init(nullptr); }), "restart the program"),
                    "restart refused");
        child.Exit();
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(MySqlApiEmbeddedTest, AFailedStartReportsTheServersErrorAndFreesTheFolder) {
  TTempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  EXPECT_EXIT(
      {
        TChild child;
        TMySQLAPIEmbedded& api = MyAPIEmbedded();
        UseParams(api, dir.Path(), "--bogus-option=1");
        const std::string error = Raised([&] { api.mysql_init(nullptr); });
        child.Check(error.starts_with("A call to an mysql_server_init failed\r\n"), error);
        child.Check(Contains(error, "unknown variable 'bogus-option=1'"), error);
        child.Check(Contains(error, api.LastServerError()), api.LastServerError());
        TMutex folder((fs::path(dir.Path()) / TMySQLAPIEmbedded::LockFileName).string(), 0);
        child.Check(Raised([&] { folder.Acquire(); }).empty(), "the folder's lock is free again");
        UseParams(api, dir.Path());
        child.Check(Contains(Raised([&] { api.mysql_init(nullptr); }), "restart the program"),
                    "no second start");
        child.Exit();
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(MySqlApiEmbeddedTest, ASecondProcessOnTheSameFolderFailsAtTheLockWithinTwoSeconds) {
  TTempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  EXPECT_EXIT(
      {
        TChild child;
        int go[2];
        child.Check(::pipe(go) == 0, "pipe");
        const pid_t other = ::fork();
        if (other == 0) {  // the second process, forked before the first starts anything
          char byte;
          TChild second;
          second.Check(::read(go[0], &byte, 1) == 1, "the first process started");
          TMySQLAPIEmbedded& api = MyAPIEmbedded();
          UseParams(api, dir.Path());
          api.Initialize();
          const uint32_t start = GetTickCount();
          const std::string error = Raised([&] { api.mysql_init(nullptr); });
          const uint32_t waited = TicksSince(start);
          second.Check(Contains(error, "is held by another process"), "second start: " + error);
          second.Check(waited >= 1900 && waited < 3000, "waited " + std::to_string(waited) + " ms");
          second.Exit();
        }
        TMySQLAPIEmbedded& api = MyAPIEmbedded();
        UseParams(api, dir.Path());
        PMYSQL_CON c = api.mysql_init(nullptr);
        child.Check(::write(go[1], "x", 1) == 1, "signal");
        int status = 0;
        child.Check(::waitpid(other, &status, 0) == other && WIFEXITED(status) && WEXITSTATUS(status) == 0,
                    "the second process failed at the lock");
        api.mysql_close(c);
        child.Exit();
      },
      ::testing::ExitedWithCode(0), "");
}
