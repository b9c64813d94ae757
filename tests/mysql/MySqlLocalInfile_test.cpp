#include "mysql/MySqlLocalInfile.h"

#include <gtest/gtest.h>

TEST(MySqlLocalInfileTest, OnlyTheNamedFileOfALoadLocalStatement) {
  struct Case {
    const char* name;
    std::string_view sql;
    std::string_view file;
    bool allowed;
  };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"plain", "LOAD DATA LOCAL INFILE '/tmp/a.txt' INTO TABLE t", "/tmp/a.txt", true},
      {"lower case, options", "load data low_priority local infile \"/tmp/a.txt\" into table t", "/tmp/a.txt",
       true},
      {"xml", "LOAD XML CONCURRENT LOCAL INFILE '/x.xml' INTO TABLE t", "/x.xml", true},
      {"comments between words", "/* c */ LOAD -- c\nDATA # c\n LOCAL INFILE 'f' INTO TABLE t", "f", true},
      {"second statement of a batch", "SELECT ';'; LOAD DATA LOCAL INFILE 'f' INTO TABLE t", "f", true},
      {"escapes resolved", R"(LOAD DATA LOCAL INFILE 'it\'s\\x''y' INTO TABLE t)", R"(it's\x'y)", true},
      {"another file", "LOAD DATA LOCAL INFILE '/tmp/a.txt' INTO TABLE t", "/etc/passwd", false},
      {"a prefix of the name", "LOAD DATA LOCAL INFILE '/tmp/a.txt' INTO TABLE t", "/tmp/a", false},
      {"not local", "LOAD DATA INFILE '/tmp/a.txt' INTO TABLE t", "/tmp/a.txt", false},
      {"a select", "SELECT '/etc/passwd'", "/etc/passwd", false},
      {"name inside a comment", "SELECT 1 /* LOAD DATA LOCAL INFILE 'f' */", "f", false},
      {"name elsewhere in the statement", "LOAD DATA LOCAL INFILE 'a' INTO TABLE t LINES TERMINATED BY 'f'",
       "f", false},
      {"unterminated literal", "LOAD DATA LOCAL INFILE 'f", "f", false},
      {"empty text", "", "f", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MySqlStatementNamesLocalFile(c.sql, c.file, TCharsetKind::SingleByte), c.allowed);
  }
}

TEST(MySqlLocalInfileTest, MultiByteTrailBackslashIsPartOfTheName) {
  // 0xD5 0x5C is one GBK character: its trail byte is no escape.
  const std::string name = "/tmp/\xD5\x5C.txt";
  const std::string sql = "LOAD DATA LOCAL INFILE '" + name + "' INTO TABLE t";
  EXPECT_TRUE(MySqlStatementNamesLocalFile(sql, name, TCharsetKind::Gbk));
  EXPECT_FALSE(MySqlStatementNamesLocalFile(sql, name, TCharsetKind::SingleByte));
}
