// The library variants without a server: a library that is missing or lacks entry points, and the
// choice of variant.
#include <gtest/gtest.h>

#include "mysql/MySqlApiChoice.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlApiEmbedded.h"

namespace {

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find("\r\n"));
}

}  // namespace

TEST(MySqlApiClientTest, AMissingLibraryIsReportedByInitialize) {
  TMySQLAPIClient client;
  TMySQLAPIEmbedded embedded;
  for (TMySQLAPIClient* api : {&client, static_cast<TMySQLAPIClient*>(&embedded)}) {
    api->SetLibraryName("libno-such-client.so.3");
    api->Load();  // a library that cannot be loaded leaves the variant unloaded
    EXPECT_FALSE(api->Loaded());
    try {
      api->Initialize();
      ADD_FAILURE() << "Initialize loaded a missing library";
    } catch (const EOSError& e) {
      EXPECT_EQ(FirstLine(e.Message()),
                "MySQL client library couldn't be loaded. Please place libno-such-client.so.3 file to system "
                "folder "
                "(included to PATH) or to the folder with executable unit of main program.");
      EXPECT_NE(e.Message().find("\r\n"), std::string::npos) << "the loader's reason follows";
    }
  }
}

TEST(MySqlApiClientTest, AMissingEntryPointRaisesOnlyWhenCalled) {
  struct TCase {
    TMySQLAPIClient* Api;
    const char* Kind;
  };
  TMySQLAPIClient client;
  TMySQLAPIEmbedded embedded;
  for (const TCase& c : {TCase{&client, "client"}, TCase{&embedded, "Embedded Server"}}) {
    SCOPED_TRACE(c.Kind);
    c.Api->SetLibraryName("libz.so.1");  // a library without a single MySQL entry point
    c.Api->Load();
    ASSERT_TRUE(c.Api->Loaded()) << "loading does not need the entry points";
    try {
      c.Api->mysql_get_client_info();
      ADD_FAILURE() << "a missing entry point was called";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), std::string("MySQL API function is not linked. You should update MySQL ") +
                                 c.Kind + " library (libz.so.1).\r\nmysql_get_client_info");
    }
    EXPECT_THROW(c.Api->Initialize(), Exception);
    EXPECT_NO_THROW(c.Api->Unload());
    EXPECT_FALSE(c.Api->Loaded());
  }
}

TEST(MySqlApiClientTest, TheConnectionsOptionsChooseTheVariant) {
  EXPECT_EQ(&ChooseMySQLAPI(true, true), &MyAPIEmbedded()) << "Embedded wins over Direct";
  EXPECT_EQ(&ChooseMySQLAPI(true, false), &MyAPIEmbedded());
  EXPECT_EQ(&ChooseMySQLAPI(false, true), &MyAPIDirect());
  EXPECT_EQ(&ChooseMySQLAPI(false, false), &MyAPIClient());
  EXPECT_EQ(MyAPIClient().GetLibraryName(), "libmariadb.so.3");
  EXPECT_EQ(MyAPIEmbedded().GetLibraryName(), "libmariadbd.so.19");
}
