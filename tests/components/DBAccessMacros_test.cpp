#include "components/DBAccessMacros.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mysql/MyParser.h"
#include "platform/runtime/Classes.h"

namespace {

struct MacrosFixture : ::testing::Test {
  MacrosFixture() {
    macros.ParserClass = ParserClassOf<TMyParser>();
    macros.OnChanged = [this](TMacro* m, TMacroChange c) { changes.emplace_back(m, c); };
  }
  TMacros macros;
  std::vector<std::pair<TMacro*, TMacroChange>> changes;
};

TEST_F(MacrosFixture, ScanKeepsSettingsAndExpandUsesThem) {
  macros.Scan("SELECT * FROM t &cond ORDER BY &ord, &COND");
  ASSERT_EQ(macros.Count(), 2);
  macros.MacroByName("cond")->SetValue("WHERE a = 1");
  macros.MacroByName("ORD")->SetValue("b");
  EXPECT_EQ(changes.size(), 2u);
  std::string sql = "SELECT * FROM t &cond ORDER BY &ord";
  macros.Scan(sql);  // unchanged text: the values stay
  macros.Expand(sql);
  EXPECT_EQ(sql, "SELECT * FROM t WHERE a = 1 ORDER BY b");
  macros.MacroByName("cond")->SetActive(false);
  sql = "SELECT * FROM t &cond";
  macros.Expand(sql);
  EXPECT_EQ(sql, "SELECT * FROM t ");
  macros.Scan("SELECT &ord, &extra");
  ASSERT_EQ(macros.Count(), 2);
  EXPECT_EQ(macros[0]->Value(), "b");
  EXPECT_EQ(macros[1]->Name(), "extra");
  const size_t told = changes.size();
  macros.Scan("SELECT 1");
  EXPECT_EQ(macros.Count(), 0);
  EXPECT_EQ(changes.size(), told);  // a scan is asked for: nobody is told
}

TEST_F(MacrosFixture, MacroByNameNamesTheMissingMacro) {
  try {
    macros.MacroByName("nope");
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Macro nope not found");
  }
}

TEST_F(MacrosFixture, LegacyDataStream) {
  macros.Scan("SELECT &a, &b");
  std::string bytes = {100, 1, 'a', 2, 0, 'x', '1', 0, 1, 'b', 1, 0, 'y', 1};
  TStringStream stream(bytes);
  macros.ReadData(stream);
  EXPECT_EQ(macros[0]->Value(), "x1");
  EXPECT_FALSE(macros[0]->Active());
  EXPECT_EQ(macros[1]->Value(), "y");
  // A stream that ends inside a value is an error, not a read past its end.
  for (size_t cut = 1; cut < bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    TStringStream shortStream(bytes.substr(0, cut));
    EXPECT_THROW(macros.ReadData(shortStream), EStreamError);
  }
}

}  // namespace
