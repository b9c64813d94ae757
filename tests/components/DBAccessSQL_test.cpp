#include "components/DBAccessSQL.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeProvider.h"
#include "components/DBAccessDataSet.h"
#include "components/DBAccessUpdateSQL.h"
#include "components/MyAccess.h"
#include "core/DAConsts.h"
#include "core/MemData.h"
#include "core/MemFieldDesc.h"
#include "mysql/MyParser.h"
#include "platform/db/DataSet.h"

namespace {

int gWaits = 0;

struct CommandFixture : ::testing::Test {
  CommandFixture() {
    Fake() = FakeLog{};
    gWaits = 0;
    SetStartWaitProc([] { ++gWaits; });
    SetStopWaitProc([] { --gWaits; });
    command.SetConnection(&connection);
    command.AfterExecute = [this](TComponent*, bool result) { results.push_back(result); };
  }
  ~CommandFixture() override {
    SetStartWaitProc(nullptr);
    SetStopWaitProc(nullptr);
  }

  FakeDAConnection connection;
  TCustomDASQL command;
  std::vector<bool> results;
};

TEST_F(CommandFixture, ParameterValuesSurviveTextChanges) {
  command.SetSQLText("UPDATE t SET a = :a, b = :b WHERE id = :id");
  ASSERT_EQ(command.Params().Count(), 3);
  command.Params().ParamByName("a")->SetAsInteger(1);
  command.Params().ParamByName("id")->SetAsString("k");
  command.SetSQLText("UPDATE t SET a = :a WHERE id = :id AND c = :c");
  ASSERT_EQ(command.Params().Count(), 3);
  EXPECT_EQ(command.Params().ParamByName("a")->AsInteger(), 1);
  EXPECT_EQ(command.Params().ParamByName("id")->AsString(), "k");
  EXPECT_TRUE(command.Params().ParamByName("c")->IsNull());
  EXPECT_EQ(command.Params().FindParam("b"), nullptr);
}

TEST_F(CommandFixture, ParamCheckOffSendsTheTextUnchanged) {
  command.SetSQLText("SELECT :a");
  command.SetParamCheck(false);
  command.SetSQLText("SET @x := :y");
  EXPECT_EQ(command.Params().Count(), 1);  // the list stays as it was
  command.Execute();
  EXPECT_EQ(Fake().Events.back().rfind("execute SET @x := :y", 0), 0u) << Fake().Events.back();
}

TEST_F(CommandFixture, ExecuteWritesTheParametersAndMacros) {
  command.Macros().ParserClass = ParserClassOf<TMyParser>();
  command.SetSQLText("DELETE FROM t WHERE id = :id &more");
  command.Macros().MacroByName("more")->SetValue("AND k = :k");
  ASSERT_EQ(command.Params().Count(), 2);
  command.Params()[0]->SetAsInteger(3);
  command.Execute();
  EXPECT_EQ(Fake().Events.back(), "execute DELETE FROM t WHERE id = ? AND k = ? id=3 k=null");
  EXPECT_EQ(command.RowsAffected(), 1);
}

TEST_F(CommandFixture, UseCountAndWaitRestoredAfterSuccessAndServerError) {
  const struct {
    const char* Name;
    std::vector<int> Errors;
    bool ProviderReportsEnd;
    bool Want;
  } cases[] = {
      {"success", {}, true, true},
      {"server error", {1064}, true, false},
      {"server error the provider does not report", {1064}, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Fake().ExecuteErrors = c.Errors;
    Fake().CallAfterExecuteOnError = c.ProviderReportsEnd;
    results.clear();
    command.SetSQLText("DELETE FROM t");
    if (c.Want)
      command.Execute();
    else
      EXPECT_THROW(command.Execute(), EDAError);
    EXPECT_EQ(results, std::vector<bool>{c.Want});
    EXPECT_TRUE(connection.Connected());  // opened by the first execution, which took no lasting use
    EXPECT_EQ(connection.ConnectCount(), 0);
    EXPECT_EQ(gWaits, 0);
  }
}

TEST_F(CommandFixture, DisconnectedModeClosesAfterEachExecution) {
  connection.Options().SetDisconnectedMode(true);
  command.SetSQLText("DELETE FROM t");
  command.Execute();
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(connection.ConnectCount(), 0);
  Fake().ExecuteErrors = {1064};
  EXPECT_THROW(command.Execute(), EDAError);
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(connection.ConnectCount(), 0);
  Fake().ConnectFailures = 1;
  EXPECT_THROW(command.Execute(), EDAError);
  EXPECT_EQ(connection.ConnectCount(), 0);
  EXPECT_EQ(gWaits, 0);
  // Inside a user transaction the connection stays open until the commit.
  connection.StartTransaction();
  command.Execute();
  EXPECT_TRUE(connection.Connected());
  connection.Commit();
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(connection.ConnectCount(), 0);
}

TEST_F(CommandFixture, NoConnection) {
  TCustomDASQL alone;
  alone.SetSQLText("SELECT 1");
  try {
    alone.Execute();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), MessageText(SConnectionNotDefined));
  }
}

TEST_F(CommandFixture, PrepareTakesTheConnectionUntilUnprepare) {
  command.SetSQLText("SELECT 1");
  command.Prepare();
  EXPECT_TRUE(command.Prepared());
  EXPECT_EQ(connection.ConnectCount(), 1);
  command.SetSQLText("SELECT 2");  // a new text unprepares
  EXPECT_FALSE(command.Prepared());
  EXPECT_EQ(connection.ConnectCount(), 0);
}

TEST_F(CommandFixture, OnlyADifferentTextUnprepares) {
  const struct {
    const char* First;
    const char* Second;
    bool Kept;
  } cases[] = {
      {"SELECT 1", "SELECT 1", true},
      {"SELECT 1\r\n", "SELECT 1", true},  // a last line without a break reads back with one
      {"SELECT 1", "SELECT 1\r\n", true},
      {"SELECT 1", "SELECT 1\n", false},
      {"SELECT 1\n", "SELECT 1\n", true},
      {"SELECT 1\r", "SELECT 1\r", true},
      {"SELECT 1\r", "SELECT 1\n", false},
      {"SELECT\n1", "SELECT\r\n1", false},
      {"SELECT\n\r1", "SELECT\n\r1", true},
      {"SELECT 1", "SELECT 12", false},
      {"SELECT 12", "SELECT 1", false},
      {"SELECT 1", "SELECT 1\r\nX", false},
      {"SELECT 1", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.First)) + " then " +
                 testing::PrintToString(std::string(c.Second)));
    TCustomDASQL sql;
    sql.SetConnection(&connection);
    sql.SetSQLText(c.First);
    sql.Prepare();
    sql.SetSQLText(c.Second);
    EXPECT_EQ(sql.Prepared(), c.Kept);
    if (sql.Prepared()) sql.UnPrepare();
  }
}

// A text set whole is split into its lines only when they are asked for; the lines then read and
// change the text as the command's own.
TEST_F(CommandFixture, ATextSetWholeReadsAndChangesAsItsLines) {
  command.SetSQLText("DELETE FROM t\nWHERE id = :id\r\nAND k = 1");
  EXPECT_EQ(command.SQLText(), "DELETE FROM t\nWHERE id = :id\r\nAND k = 1\r\n");
  ASSERT_EQ(command.Params().Count(), 1);
  TStringList& lines = command.SQL();
  ASSERT_EQ(lines.Count(), 3);
  EXPECT_EQ(lines[1], "WHERE id = :id");
  EXPECT_EQ(lines.Text(), command.SQLText());
  command.Prepare();
  command.SetSQLText("DELETE FROM t\nWHERE id = :id\r\nAND k = 1\r\n");  // the same lines
  EXPECT_TRUE(command.Prepared());
  command.UnPrepare();
  command.SQL().Add("AND :j = 2");
  EXPECT_EQ(command.Params().Count(), 2);
  command.Execute();
  EXPECT_EQ(Fake().Events.back(),
            "execute DELETE FROM t\nWHERE id = ?\r\nAND k = 1\r\nAND ? = 2 id=null j=null");
}

TEST_F(CommandFixture, ConnectionGoneFirst) {
  auto conn = std::make_unique<FakeDAConnection>();
  TCustomDASQL other;
  other.SetConnection(conn.get());
  other.SetSQLText("SELECT 1");
  other.Execute();
  conn.reset();
  EXPECT_EQ(other.Connection(), nullptr);
  EXPECT_THROW(other.Execute(), EDatabaseError);
}

}  // namespace

namespace {

TEST(UpdateSQLTest, UpdateObjectsMustBeDataSetsOrCommands) {
  FakeDAConnection connection;
  TCustomDAUpdateSQL update;
  try {
    update.SetInsertObject(&connection);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Only TCustomDADataSet and TCustomDASQL objects are allowed in update properties");
  }
  TCustomDADataSet own;
  update.SetDataSet(&own);
  EXPECT_EQ(own.UpdateObject(), &update);
  EXPECT_THROW(update.SetModifyObject(&own), Exception);
  TDataSet plain;
  EXPECT_THROW(update.SetModifyObject(&plain), Exception);  // only a query dataset runs statements
  {
    TCustomDASQL command;
    update.SetDeleteObject(&command);
    EXPECT_EQ(update.DeleteObject(), &command);
  }
  EXPECT_EQ(update.DeleteObject(), nullptr);  // cleared when the command went
  EXPECT_EQ(&update.GetSQL(ukModify), &update.ModifySQL());
  EXPECT_EQ(UpdateKindToStatementType(ukDelete), stDelete);
}

TEST(MyTypeMapTest, MySQLColumnsAndTheGeneralMap) {
  EXPECT_EQ(MyDataTypeToFieldType(dtInt8), ftSmallint);
  EXPECT_EQ(MyDataTypeToFieldType(dtUInt16), ftWord);
  EXPECT_EQ(MyDataTypeToFieldType(dtBoolean), ftBoolean);
  EXPECT_EQ(MyDataTypeToFieldType(dtInt64), ftLargeint);
  EXPECT_EQ(MyDataTypeToFieldType(dtCurrency), ftCurrency);
  EXPECT_EQ(MyDataTypeToFieldType(dtUInt32), ftLargeint);
  EXPECT_EQ(MyDataTypeToFieldType(dtMemo), ftMemo);
}

}  // namespace
