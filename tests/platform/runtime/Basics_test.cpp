#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/runtime/DynLib.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/SyncObjs.h"

namespace {

TEST(FormatTest, Directives) {
  struct Case {
    const char* name;
    std::string got;
    std::string want;
  };
  const Case cases[] = {
      {"text", Format("Field %s not found", {"X"}), "Field X not found"},
      {"int", Format("Found %d records", {3}), "Found 3 records"},
      {"negative", Format("%d", {-42}), "-42"},
      {"unsigned 64", Format("%u", {uint64_t{18446744073709551615ull}}), "18446744073709551615"},
      {"hex", Format("%x", {255}), "FF"},
      {"fixed", Format("%.2f", {1.005}), "1.00"},
      {"width", Format("[%5d|%-4s]", {42, "ab"}), "[   42|ab  ]"},
      {"index", Format("%1:s %0:s", {"a", "b"}), "b a"},
      {"percent", Format("100%%"), "100%"},
      {"thousands", Format("%n", {1234567.0}), "1,234,567.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(FormatTest, MismatchesRaiseInsteadOfReadingBeyondArguments) {
  EXPECT_THROW(Format("%s %s", {"only one"}), EConvertError);
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
  EXPECT_THROW(Format("%s", {5}), EConvertError);
  EXPECT_THROW(Format("trailing %"), EConvertError);
  EXPECT_THROW(Format("%q", {1}), EConvertError);
}

TEST(FormatTest, NumbersIgnoreTheLocale) {
  EXPECT_EQ(FloatToStr(1.5), "1.5");
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
}

TEST(AssertTest, FailureIsCatchableAndNamesFileAndLine) {
  int line = 0;
  try {
    line = __LINE__ + 1;
    DA_ASSERT(1 + 1 == 3);
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.File(), "Basics_test.cpp");
    EXPECT_EQ(e.Line(), line);
    EXPECT_NE(e.Message().find("Basics_test.cpp, line " + std::to_string(line)), std::string::npos);
  }
  EXPECT_NO_THROW(DA_ASSERT(true));
}

TEST(TickTest, AdvancesAndHandlesWrap) {
  uint32_t start = GetTickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(TicksSince(start), 15u);
}

TEST(DynLibTest, LoadsAndResolves) {
  TDynLib lib;
  ASSERT_TRUE(lib.Load("libz.so.1")) << lib.LastError();
  EXPECT_NE(lib.Symbol("zlibVersion"), nullptr);
  EXPECT_EQ(lib.Symbol("no_such_symbol_here"), nullptr);
  TDynLib missing;
  EXPECT_FALSE(missing.Load("libdoes-not-exist.so.7"));
  EXPECT_FALSE(missing.LastError().empty());
}

}  // namespace
