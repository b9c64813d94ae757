// The MySQL dataset's options: their values on a new dataset and what Assign copies.
#include <gtest/gtest.h>

#include <string>

#include "components/MyAccessDataSet.h"

namespace {

TEST(MyDataSetOptionsTest, InitialValuesAndTheAssignRule) {
  TMyQuery q;
  auto& o = static_cast<TMyDataSetOptions&>(q.Options());
  struct Case {
    const char* Name;
    bool Value;
    bool Expected;
  };
  const Case initial[] = {{"SetFieldsReadOnly", o.SetFieldsReadOnly, false},
                          {"RequiredFields", o.RequiredFields(), false},
                          {"StrictUpdate", o.StrictUpdate, true},
                          {"NumberRange", o.NumberRange(), false},
                          {"QueryRecCount", o.QueryRecCount, false},
                          {"AutoPrepare", o.AutoPrepare(), false},
                          {"ReturnParams", o.ReturnParams, false},
                          {"TrimFixedChar", o.TrimFixedChar(), true},
                          {"TrimVarChar", o.TrimVarChar(), false},
                          {"LongStrings", o.LongStrings(), true},
                          {"RemoveOnRefresh", o.RemoveOnRefresh, true},
                          {"FlatBuffers", o.FlatBuffers(), false},
                          {"QuoteNames", o.QuoteNames, false},
                          {"FullRefresh", o.FullRefresh, false},
                          {"LocalMasterDetail", o.LocalMasterDetail(), false},
                          {"FieldsOrigin", o.FieldsOrigin, true},
                          {"UpdateAllFields", o.UpdateAllFields, false},
                          {"CacheCalcFields", o.CacheCalcFields(), false},
                          {"FieldsAsString", o.FieldsAsString(), false},
                          {"NullForZeroDate", o.NullForZeroDate(), true},
                          {"CheckRowVersion", o.CheckRowVersion, false},
                          {"EnableBoolean", o.EnableBoolean(), true},
                          {"DefaultValues", o.DefaultValues, false},
                          {"AutoRefresh", o.AutoRefresh(), false},
                          {"CreateConnection", o.CreateConnection(), true}};
  for (const Case& k : initial) {
    SCOPED_TRACE(k.Name);
    EXPECT_EQ(k.Value, k.Expected);
  }
  EXPECT_EQ(o.DetailDelay(), 0);
  EXPECT_EQ(o.CompressBlobMode(), cbNone);
  EXPECT_EQ(o.UpdateBatchSize, 1);
  EXPECT_EQ(o.AutoRefreshInterval(), 60);

  // Assign copies the options that shape statements and values, not the dataset's own batch
  // size, refresh behaviour, row-version check, defaults or timer.
  TMyQuery source;
  auto& s = static_cast<TMyDataSetOptions&>(source.Options());
  s.StrictUpdate = false;
  s.UpdateAllFields = true;
  s.SetFieldsAsString(true);
  s.FieldsOrigin = false;
  s.UpdateBatchSize = 7;
  s.RemoveOnRefresh = false;
  s.CheckRowVersion = true;
  s.DefaultValues = true;
  s.SetAutoRefreshInterval(5);
  o.Assign(&s);
  EXPECT_FALSE(o.StrictUpdate);
  EXPECT_TRUE(o.UpdateAllFields);
  EXPECT_TRUE(o.FieldsAsString());
  EXPECT_FALSE(o.FieldsOrigin);
  EXPECT_EQ(o.UpdateBatchSize, 1);
  EXPECT_TRUE(o.RemoveOnRefresh);
  EXPECT_FALSE(o.CheckRowVersion);
  EXPECT_FALSE(o.DefaultValues);
  EXPECT_EQ(o.AutoRefreshInterval(), 60);

  // The dataset's Assign carries its own statements.
  source.SQLInsert().SetText("INSERT INTO t VALUES (:a)");
  source.SQLUpdate().SetText("UPDATE t SET a = :a");
  source.SQLDelete().SetText("DELETE FROM t");
  source.SQLRefresh().SetText("WHERE id = :id");
  q.Assign(&source);
  EXPECT_EQ(q.SQLInsert().Text(), source.SQLInsert().Text());
  EXPECT_EQ(q.SQLUpdate().Text(), source.SQLUpdate().Text());
  EXPECT_EQ(q.SQLDelete().Text(), source.SQLDelete().Text());
  EXPECT_EQ(q.SQLRefresh().Text(), source.SQLRefresh().Text());
}

}  // namespace
