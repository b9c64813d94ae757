#include "core/DAConsts.h"

#include <gtest/gtest.h>

#include "core/DAError.h"

namespace {

TEST(MessageTableTest, TextsComeFromTheTableWithTheirArguments) {
  const struct {
    const char* name;
    std::string got, want;
  } cases[] = {
      {"field", MessageFmt(SFieldNotFound, {"X"}), "Field X not found"},
      {"count", MessageFmt(SUpdateFailed, {2}), "Update failed. Found 2 records"},
      {"two names", MessageFmt(SUpdateObjectClasses, {"TA", "TB"}),
       "Only TA and TB objects are allowed in update properties"},
      {"mysql", MessageText(SNoResultSet), "Query must return exactly result set - use Execute"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
  EXPECT_THROW(MessageFmt(SFieldNotFound), EConvertError);  // arguments missing: no garbage text
  EXPECT_THROW(MessageFmt(SUpdateFailed, {"two"}), EConvertError);
  EXPECT_THROW(MessageText(65079), EAssertionFailed);  // an id without a text
}

}  // namespace
