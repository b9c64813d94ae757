// The rules the LOCAL INFILE fuzz target checks the file check against (the literal model) agree
// with the real server on that target's seeds: the server asks for exactly the file the model
// reads, and the check lets that file, and only it, be sent. The statements travel through the
// server's own C client library, whose file request handler reports the name the server asked for.
#include <gtest/gtest.h>
#include <mariadb/mysql.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "mysql/MySqlLocalInfile.h"
#include "support/MyLiteralModel.h"
#include "support/TestServer.h"

namespace {

struct TAsked {
  std::string Name;
  bool Called = false;
};

int RefuseFile(void** ptr, const char* fileName, void* userdata) {
  auto* asked = static_cast<TAsked*>(userdata);
  asked->Name = fileName;
  asked->Called = true;
  *ptr = nullptr;
  return 1;
}
int ReadNothing(void*, char*, unsigned int) {
  return -1;
}
void EndNothing(void*) {}
int NoError(void*, char* message, unsigned int length) {
  snprintf(message, length, "refused by the test");
  return 2000;
}

TEST(MySqlLocalInfileDbTest, TheServerAsksForTheFileTheModelReads) {
  const auto& info = TestServer::Info();
  std::unique_ptr<MYSQL, decltype(&mysql_close)> conn(mysql_init(nullptr), &mysql_close);
  unsigned timeout = 30;
  for (auto option : {MYSQL_OPT_CONNECT_TIMEOUT, MYSQL_OPT_READ_TIMEOUT, MYSQL_OPT_WRITE_TIMEOUT})
    mysql_optionsv(conn.get(), option, &timeout);
  unsigned localInfile = 1;
  mysql_optionsv(conn.get(), MYSQL_OPT_LOCAL_INFILE, &localInfile);
  ASSERT_TRUE(mysql_real_connect(conn.get(), info.Host.c_str(), info.NativeUser.c_str(),
                                 info.NativePassword.c_str(), nullptr, info.Port, nullptr, 0))
      << mysql_error(conn.get());
  const std::string db = "da_infile_" + std::to_string(getpid());
  auto exec = [&](const std::string& sql) {
    ASSERT_EQ(mysql_real_query(conn.get(), sql.data(), sql.size()), 0)
        << mysql_error(conn.get()) << " in " << sql;
  };
  exec("DROP DATABASE IF EXISTS " + db);
  exec("CREATE DATABASE " + db);
  exec("USE " + db);
  exec("CREATE TABLE t (a TEXT)");
  TAsked asked;
  mysql_set_local_infile_handler(conn.get(), RefuseFile, ReadNothing, EndNothing, NoError, &asked);

  // As the fuzz target reads its input: a selector byte (character set, quote), then the content.
  const struct {
    TCharsetKind Kind;
    const char* Names;
  } sets[] = {{TCharsetKind::SingleByte, "latin1"},
              {TCharsetKind::Utf8, "utf8mb4"},
              {TCharsetKind::Gbk, "gbk"},
              {TCharsetKind::Big5, "big5"},
              {TCharsetKind::Sjis, "sjis"}};
  const std::filesystem::path seeds =
      std::filesystem::path(DA_TEST_SOURCE_DIR) / "tests/fuzz/corpus/localinfile_fuzz";
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(seeds)) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (input.empty()) continue;
    SCOPED_TRACE(entry.path().filename().string());
    const auto selector = static_cast<unsigned char>(input[0]);
    const auto& set = sets[selector % 5];
    const char quote = (selector / 5) % 2 == 0 ? '\'' : '"';
    const std::string literal = quote + input.substr(1) + quote;
    const auto read = ServerReadLiteral(literal, set.Kind);
    ASSERT_TRUE(read && read->Length == literal.size()) << "a seed the server reads whole";
    exec(std::string("SET NAMES ") + set.Names);
    const std::string sql = "LOAD DATA LOCAL INFILE " + literal + " INTO TABLE t";
    asked = {};
    EXPECT_NE(mysql_real_query(conn.get(), sql.data(), sql.size()), 0);
    ASSERT_TRUE(asked.Called) << mysql_error(conn.get());
    EXPECT_EQ(asked.Name, read->Value);
    EXPECT_TRUE(MySqlStatementNamesLocalFile(sql, asked.Name, set.Kind));
    ++checked;
  }
  EXPECT_GE(checked, 5);
  exec("DROP DATABASE " + db);
}

}  // namespace
