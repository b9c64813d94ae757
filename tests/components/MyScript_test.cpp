// Splitting scripts into statements, without a server: every statement is shown to
// BeforeExecute and skipped there. The text is held as lines, so a statement over several lines
// has CR LF between them.
#include "components/MyScript.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/runtime/Classes.h"

namespace {

struct TSeen {
  std::string Sql;
  bool Omit;
  bool operator==(const TSeen& o) const { return Sql == o.Sql && Omit == o.Omit; }
};

void PrintTo(const TSeen& s, std::ostream* os) {
  *os << "{\"" << s.Sql << "\", " << (s.Omit ? "omitted" : "run") << "}";
}

std::vector<TSeen> Split(const std::string& text, std::vector<int64_t>* startLines = nullptr) {
  TMyScript script;
  std::vector<TSeen> seen;
  script.BeforeExecute = [&](TComponent*, std::string& sql, bool& omit) {
    seen.push_back({sql, omit});
    if (startLines != nullptr) startLines->push_back(script.StartLine());
    omit = true;
  };
  script.SetSQLText(text);
  for (int guard = 0; script.ExecuteNext() && guard < 100; ++guard) {
  }
  return seen;
}

TEST(MyScriptSplitTest, StatementsAsTheServerReadsThem) {
  struct Case {
    const char* Name;
    std::string Text;
    std::vector<TSeen> Expected;
  };
  const Case cases[] = {
      {"last statement ends at the end", "select 1;\nselect 2", {{"select 1", false}, {"select 2", false}}},
      {"slash lines", "select 1\n/\nselect 4 /2\n/\n", {{"select 1", false}, {"select 4 /2", false}}},
      {"delimiter inside a string",
       "select ';' ;select \"a;\"",
       {{"select ';'", false}, {"select \"a;\"", false}}},
      {"delimiter inside a quoted name",
       "SELECT 1 AS `;`;SELECT 2",
       {{"SELECT 1 AS `;`", false}, {"SELECT 2", false}}},
      {"delimiter inside a line comment",
       "SELECT 1 -- a;b\n;SELECT 2",
       {{"SELECT 1 -- a;b", false}, {"SELECT 2", false}}},
      {"empty statements", ";;SELECT 1;;;SELECT 2;", {{"SELECT 1", false}, {"SELECT 2", false}}},
      {"comments alone are not sent, executable ones are",
       "-- head\n/*!40101 SET NAMES gbk */;\n/* plain */;\n-- Dump completed\n",
       {{"-- head\n/*!40101 SET NAMES gbk */", false}}},
      {"DELIMITER $$ around a procedure",
       "DELIMITER $$\nCREATE PROCEDURE p() BEGIN SELECT 1; SELECT 2; END $$\nDELIMITER ;\nSELECT 3;",
       {{"DELIMITER $$", true},
        {"CREATE PROCEDURE p() BEGIN SELECT 1; SELECT 2; END", false},
        {"DELIMITER ;", true},
        {"SELECT 3", false}}},
      {"a delimiter of name characters right after a word",
       "DELIMITER $$\nCREATE PROCEDURE p() BEGIN SELECT 1; END$$\nDELIMITER ;\nSELECT 3;",
       {{"DELIMITER $$", true},
        {"CREATE PROCEDURE p() BEGIN SELECT 1; END", false},
        {"DELIMITER ;", true},
        {"SELECT 3", false}}},
      {"a delimiter glued to a name ends the statement",
       "DELIMITER $\nSELECT a$\nSELECT 2",
       {{"DELIMITER $", true}, {"SELECT a", false}, {"SELECT 2", false}}},
      {"a name quoted and left open keeps the delimiter at its end",
       "SELECT 1;SELECT d` /* e; */;\n",
       {{"SELECT 1", false}, {"SELECT d` /* e; */;", false}}},
      {"two-character delimiter read as two lexemes",
       "DELIMITER ;;\nCREATE FUNCTION f() RETURNS INT\nBEGIN\nRETURN 1;\nEND ;;\nDELIMITER ;\nSELECT f();",
       {{"DELIMITER ;;", true},
        {"CREATE FUNCTION f() RETURNS INT\nBEGIN\nRETURN 1;\nEND", false},
        {"DELIMITER ;", true},
        {"SELECT f()", false}}},
      {"a three-character delimiter after a quote keeps the quote",
       "DELIMITER $$$\nSELECT 'a'$$$\nSELECT 2",
       {{"DELIMITER $$$", true}, {"SELECT 'a'", false}, {"SELECT 2", false}}},
      {"a body without DELIMITER runs to the end",
       "CREATE PROCEDURE p() BEGIN SELECT 1; END;\nSELECT 2",
       {{"CREATE PROCEDURE p() BEGIN SELECT 1; END;\nSELECT 2", false}}},
      {"a body without DELIMITER ends at a slash line",
       "CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW BEGIN SET @a = 1; END;\n/\nSELECT 2;",
       {{"CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW BEGIN SET @a = 1; END;", false},
        {"SELECT 2", false}}},
      {"DELIMITER as a name inside a statement",
       "SELECT delimiter FROM t;SELECT 2",
       {{"SELECT delimiter FROM t", false}, {"SELECT 2", false}}},
      {"GBK character whose trail byte is a backslash",
       "INSERT INTO t VALUES ('\x95\x5c');SELECT 2",
       {{"INSERT INTO t VALUES ('\x95\x5c')", false}, {"SELECT 2", false}}},
      {"a dump's rows over lines",
       "INSERT INTO t VALUES\n  (1,'a;b',-2.5,NULL),\n  (2,'c\\';d',+3,0x41);\nSELECT 2",
       {{"INSERT INTO t VALUES\n  (1,'a;b',-2.5,NULL),\n  (2,'c\\';d',+3,0x41)", false},
        {"SELECT 2", false}}},
      {"a line comment after a row",
       "INSERT INTO t VALUES (1)-- x;\n,(2);SELECT 2",
       {{"INSERT INTO t VALUES (1)-- x;\n,(2)", false}, {"SELECT 2", false}}},
      {"dashes without a blank after them are minus signs",
       "SELECT 5--1;SELECT 2",
       {{"SELECT 5--1", false}, {"SELECT 2", false}}},
      {"a hash comment after a comma",
       "INSERT INTO t VALUES (1,# a;\n2);SELECT 2",
       {{"INSERT INTO t VALUES (1,# a;\n2)", false}, {"SELECT 2", false}}},
      {"a block comment after a bracket",
       "INSERT INTO t VALUES (1)/* ; */,(2);SELECT 2",
       {{"INSERT INTO t VALUES (1)/* ; */,(2)", false}, {"SELECT 2", false}}},
      {"a slash line after rows",
       "INSERT INTO t VALUES (1),\n(2)\n/\nSELECT 2",
       {{"INSERT INTO t VALUES (1),\n(2)", false}, {"SELECT 2", false}}},
      {"a delimiter of symbols that rows hold",
       "DELIMITER ),\nSELECT (1),(2),SELECT 2",
       {{"DELIMITER ),", true}, {"SELECT (1", false}, {"(2", false}, {"SELECT 2", false}}},
      {"backslash-escaped quote",
       "SELECT 'a\\';b';SELECT 2",
       {{"SELECT 'a\\';b'", false}, {"SELECT 2", false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Split(c.Text), c.Expected);
  }
}

// A byte the lexer refuses fails the script where the splitting reaches it, after the statements
// before it, whether the text names a macro or not.
TEST(MyScriptSplitTest, AnUnreadableByteFailsInItsTurn) {
  for (const std::string text : {"SELECT 1 & 2;\nSELECT \x01;", "SELECT 1 | 2;\nSELECT \x01;"}) {
    SCOPED_TRACE(text);
    TMyScript script;
    std::vector<std::string> seen;
    script.BeforeExecute = [&](TComponent*, std::string& sql, bool& omit) {
      seen.push_back(sql);
      omit = true;
    };
    ASSERT_NO_THROW(script.SetSQLText(text));
    try {
      while (script.ExecuteNext()) {
      }
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message().rfind("Parser: The unknown symbol", 0), 0u) << e.Message();
    }
    EXPECT_EQ(seen, std::vector<std::string>{text.substr(0, 12)});
  }
}

// Control characters after the last statement (a file ending in Ctrl-Z or zero bytes) end a script
// read from a stream as they end the same text held whole.
TEST(MyScriptSplitTest, TrailingControlCharactersEndAStreamToo) {
  using namespace std::string_literals;
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"SELECT 1;\r\n\x1a", {"SELECT 1"}},
      {"SELECT 1;\n\0\0\x01 \n\x02"s, {"SELECT 1"}},
      {"SELECT 1;\nSELECT 'a\x1a\x1a", {"SELECT 1", "SELECT 'a"}},
  };
  for (const auto& [text, want] : cases)
    for (bool fromStream : {false, true}) {
      SCOPED_TRACE(testing::PrintToString(text) + (fromStream ? " from a stream" : ""));
      TMyScript script;
      std::vector<std::string> seen;
      script.BeforeExecute = [&](TComponent*, std::string& sql, bool& omit) {
        seen.push_back(sql);
        omit = true;
      };
      TStringStream stream(text);
      if (fromStream)
        script.SetSourceStream(&stream);
      else
        script.SetSQLText(text);
      try {
        while (script.ExecuteNext()) {
        }
      } catch (const Exception& e) {
        ADD_FAILURE() << e.Message();
      }
      EXPECT_EQ(seen, want);
    }
}

TEST(MyScriptSplitTest, StartLinesCountTheLinesBefore) {
  std::vector<int64_t> lines;
  EXPECT_EQ(Split("\n\n  SELECT 1;\n\nSELECT 2;", &lines),
            (std::vector<TSeen>{{"SELECT 1", false}, {"SELECT 2", false}}));
  EXPECT_EQ(lines, (std::vector<int64_t>{2, 4}));
  lines.clear();
  EXPECT_EQ(Split("INSERT INTO t VALUES\n(1,'a\nb'),\r\n(2);\nSELECT 2;", &lines),
            (std::vector<TSeen>{{"INSERT INTO t VALUES\n(1,'a\nb'),\r\n(2)", false}, {"SELECT 2", false}}));
  EXPECT_EQ(lines, (std::vector<int64_t>{0, 4}));
}

}  // namespace
