#include "platform/db/Params.h"

#include <gtest/gtest.h>

#include <functional>

#include "FieldHost.h"
#include "platform/db/FieldClasses.h"

namespace {

struct AccessorCase {
  const char* name;
  std::function<void(TParam*)> set;
  TFieldType type;
  std::function<bool(TParam*)> check;
};

TEST(ParamTest, AccessorsSetTypeValueAndBound) {
  const AccessorCase cases[] = {
      {"integer", [](TParam* p) { p->SetAsInteger(-5); }, ftInteger,
       [](TParam* p) { return p->AsString() == "-5"; }},
      {"string", [](TParam* p) { p->SetAsString("42"); }, ftString,
       [](TParam* p) { return p->AsInteger() == 42; }},
      {"memo", [](TParam* p) { p->SetAsMemo("text"); }, ftMemo,
       [](TParam* p) { return p->AsMemo() == "text"; }},
      {"blob", [](TParam* p) { p->SetAsBlob(std::string("\0\1", 2)); }, ftBlob,
       [](TParam* p) {
         return p->AsBytes() == std::vector<uint8_t>{0, 1};
       }},
      {"unsigned", [](TParam* p) { p->SetAsLargeUInt(UINT64_MAX); }, ftLargeUInt,
       [](TParam* p) { return p->AsLargeUInt() == UINT64_MAX; }},
      {"boolean", [](TParam* p) { p->SetAsBoolean(true); }, ftBoolean,
       [](TParam* p) { return p->AsString() == "True"; }},
      {"date-time", [](TParam* p) { p->SetAsDateTime(EncodeDateTime(2006, 3, 4, 5, 6, 7, 0)); }, ftDateTime,
       [](TParam* p) { return p->AsString() == "2006-03-04 05:06:07"; }},
      {"sql time stamp",
       [](TParam* p) {
         p->SetAsSQLTimeStamp({2006, 3, 4, 5, 6, 7, 890});
       },
       ftTimeStamp, [](TParam* p) { return p->AsSQLTimeStamp() == TSQLTimeStamp{2006, 3, 4, 5, 6, 7, 890}; }},
      {"bytes", [](TParam* p) { p->SetAsBytes({7}); }, ftVarBytes,
       [](TParam* p) { return p->AsBytes().size() == 1; }},
      {"currency", [](TParam* p) { p->SetAsCurrency(StrToCurr("1.25")); }, ftCurrency,
       [](TParam* p) { return p->AsFloat() == 1.25; }},
      {"variant of unknown type", [](TParam* p) { p->SetValue(Variant(2.5)); }, ftFloat,
       [](TParam* p) { return p->AsFloat() == 2.5; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TParams params;
    TParam* p = params.CreateParam(ftUnknown, "p", ptInput);
    EXPECT_FALSE(p->Bound());
    EXPECT_TRUE(p->IsNull());
    c.set(p);
    EXPECT_EQ(p->DataType(), c.type);
    EXPECT_TRUE(p->Bound());
    EXPECT_FALSE(p->IsNull());
    EXPECT_TRUE(c.check(p));
    p->Clear();
    EXPECT_TRUE(p->IsNull());
    EXPECT_EQ(p->DataType(), c.type);
  }
}

TEST(ParamTest, ParamByNameAssignAndValues) {
  TParams a, b;
  a.CreateParam(ftInteger, "ID", ptInput)->SetAsInteger(7);
  a.CreateParam(ftString, "Name", ptInputOutput)->SetAsString("gm");
  try {
    a.ParamByName("missing");
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Parameter 'missing' not found");
  }
  EXPECT_EQ(a.ParamByName("id")->AsInteger(), 7);

  TParam* copy = b.CreateParam(ftUnknown, "", ptOutput);
  copy->Assign(a.ParamByName("name"));
  EXPECT_EQ(copy->Name(), "Name");
  EXPECT_EQ(copy->AsString(), "gm");
  EXPECT_EQ(copy->ParamType(), ptOutput);  // a direction of its own stays

  b.CreateParam(ftUnknown, "id", ptInput);
  b.AssignValues(a);
  EXPECT_EQ(b.ParamByName("ID")->AsInteger(), 7);
  EXPECT_EQ(b.GetParamList("id; Name").size(), 2u);

  TStringStream stream("bytes");
  EXPECT_THROW(copy->LoadFromStream(stream, ftInteger), EDatabaseError);
  copy->LoadFromStream(stream, ftBlob);
  EXPECT_EQ(copy->AsBlob(), "bytes");
}

TEST(ParamTest, FieldValuesPassBothWays) {
  FieldHost host;
  auto* field = new TStringField(&host);
  field->SetFieldName("Name");
  field->SetFixedChar(true);
  field->SetDataSet(&host);
  host.Enter(dsEdit);
  field->SetAsString("abc");

  TParams params;
  TParam* p = params.CreateParam(ftUnknown, "", ptInput);
  p->Assign(field);
  EXPECT_EQ(p->Name(), "Name");
  EXPECT_EQ(p->DataType(), ftFixedChar);
  p->SetAsString("xyz");
  field->Assign(p);
  EXPECT_EQ(field->AsString(), "xyz");
}

}  // namespace
