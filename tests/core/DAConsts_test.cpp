#include "core/DAConsts.h"

#include <gtest/gtest.h>

#include "core/DAError.h"

namespace {

TEST(MessageTableTest, TextsComeFromTheTableWithTheirArguments) {
  struct Case {
    const char* name;
    std::string got;
    std::string want;
  };
  const Case cases[] = {
      {"field", MessageFmt(SFieldNotFound, {"X"}), "Field X not found"},
      {"count", MessageFmt(SUpdateFailed, {2}), "Update failed. Found 2 records"},
      {"two names", MessageFmt(SUpdateObjectClasses, {"TA", "TB"}),
       "Only TA and TB objects are allowed in update properties"},
      {"no arguments", MessageFmt(SConnectionNotDefined), "Connection is not defined"},
      {"dump rows", MessageFmt(SDumpDataHeader, {"`t`"}),
       "-- \r\n-- Dumping data for table `t`\r\n-- \r\n\r\n"},
      {"dump table", MessageFmt(SDumpTableHeader, {"`t`"}),
       "-- \r\n-- Table structure for table  `t`\r\n-- \r\n\r\n"},
      {"mysql", MessageText(SNoResultSet), "Query must return exactly result set - use Execute"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(MessageTableTest, DumpHeaderSeparatorIsSeventyHyphensAndABlank) {
  std::string header = MessageFmt(SDumpHeader, {"v", "s", "c", "d", "h", "db"});
  std::string rule = "-- " + std::string(70, '-') + " \r\n";
  EXPECT_EQ(header,
            "-- Ovrix version: v\r\n-- MySQL server version: s\r\n-- MySQL client version: c\r\n"
            "-- Script date d\r\n" +
                rule + "-- Server: h\r\n-- Database: db\r\n\r\n");
}

TEST(MessageTableTest, EveryIdHasAText) {
  for (int id = 65072; id <= 65135; ++id) {
    bool inTable =
        (id <= 65078) || (id >= 65080 && id <= 65084) || (id >= 65088 && id <= 65119) || id >= 65126;
    SCOPED_TRACE(id);
    if (inTable)
      EXPECT_GT(std::string(MessageText(id)).size(), 0u);
    else
      EXPECT_THROW(MessageText(id), EAssertionFailed);
  }
}

TEST(MessageTableTest, MismatchedArgumentsRaiseInsteadOfFormattingGarbage) {
  EXPECT_THROW(MessageFmt(SFieldNotFound), EConvertError);
  EXPECT_THROW(MessageFmt(SUpdateFailed, {"two"}), EConvertError);
}

TEST(DAErrorTest, KeepsNumberMessageAndComponent) {
  try {
    throw EDAError(1045, "Access denied");
  } catch (const EDatabaseError& e) {
    auto* da = dynamic_cast<const EDAError*>(&e);
    ASSERT_NE(da, nullptr);
    EXPECT_EQ(da->ErrorCode, 1045);
    EXPECT_EQ(da->Message(), "Access denied");
    EXPECT_EQ(da->Component, nullptr);
  }
  EDAError e(2013, MessageFmt(SFieldNotFound, {"X"}));
  auto* owner = reinterpret_cast<TComponent*>(&e);  // any address: the error only carries it
  e.Component = owner;
  EDAError copy = e;
  EXPECT_EQ(copy.Component, owner);
  EXPECT_EQ(copy.ErrorCode, 2013);
  EXPECT_STREQ(copy.what(), "Field X not found");
}

}  // namespace
