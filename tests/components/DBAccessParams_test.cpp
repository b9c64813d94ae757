#include "components/DBAccessParams.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/DAConsts.h"
#include "core/MemBlob.h"
#include "core/MemFieldDesc.h"
#include "platform/db/VectorDataSet.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/DateTimeUtils.h"

namespace {

TDAParam* Add(TDAParams& params, TFieldType type, const char* name) {
  return static_cast<TDAParam*>(params.CreateParam(type, name, ptInput));
}

TEST(DAParamTest, BlobObjectFollowsTheType) {
  TDAParams params;
  TDAParam* p = Add(params, ftBlob, "b");
  ASSERT_NE(p->GetAsBlobRef(), nullptr);
  p->SetAsString("abc");
  EXPECT_EQ(p->AsString(), "abc");
  EXPECT_EQ(p->Value().AsString(), "abc");
  p->SetDataType(ftInteger);
  EXPECT_EQ(p->GetAsBlobRef(), nullptr);
  p->SetAsInteger(5);
  EXPECT_EQ(p->AsInteger(), 5);
  p->SetDataType(ftBlob);
  ASSERT_NE(p->GetAsBlobRef(), nullptr);
  EXPECT_TRUE(p->IsNull());

  TDAParam* memo = Add(params, ftMemo, "m");
  EXPECT_TRUE(memo->IsNull());
  memo->SetAsMemo("text");
  EXPECT_FALSE(memo->IsNull());
  TDAParam* unknown = Add(params, ftUnknown, "u");
  ASSERT_NE(unknown->GetAsMemoRef(), nullptr);
  EXPECT_EQ(unknown->DataType(), ftMemo);
}

TEST(DAParamTest, AssignSharesTheBlob) {
  TDAParams params;
  TDAParam* a = Add(params, ftBlob, "a");
  TDAParam* b = Add(params, ftUnknown, "b");
  a->SetAsString("shared");
  b->Assign(a);
  EXPECT_EQ(b->GetAsBlobRef(), a->GetAsBlobRef());
  EXPECT_EQ(b->GetAsBlobRef()->RefCount(), 2);
  a->SetAsString("changed");
  EXPECT_EQ(b->AsString(), "changed");
  b->SetDataType(ftInteger);
  EXPECT_EQ(a->GetAsBlobRef()->RefCount(), 1);
}

// The parameter's own blob, shared again, must not be freed before the new reference is taken.
TEST(DAParamTest, SelfBlobReferenceAndSelfAssignKeepTheBlob) {
  TDAParams params;
  TDAParam* p = Add(params, ftBlob, "p");
  p->SetAsString("keep me");
  TBlob* own = p->GetAsBlobRef();
  p->SetAsBlobRef(own);
  EXPECT_EQ(p->GetAsBlobRef(), own);
  EXPECT_EQ(own->RefCount(), 1);
  EXPECT_EQ(p->AsString(), "keep me");
  p->Assign(p);
  EXPECT_EQ(p->AsString(), "keep me");
  p->SetAsMemoRef(own);
  EXPECT_EQ(p->DataType(), ftMemo);
  EXPECT_EQ(p->AsString(), "keep me");
}

TEST(DAParamTest, ForeignBlobReference) {
  TDAParams params;
  TDAParam* p = Add(params, ftUnknown, "p");
  TBlob* blob = new TBlob(false);
  blob->SetAsString("outside");
  p->SetAsBlobRef(blob);
  EXPECT_EQ(blob->RefCount(), 2);
  EXPECT_TRUE(p->Bound());
  EXPECT_EQ(p->AsString(), "outside");
  blob->Release();
}

TEST(DAParamTest, StringsDatesAndStreams) {
  TDAParams params;
  TDAParam* w = Add(params, ftWideString, "w");
  w->SetAsString("abc");
  EXPECT_EQ(w->Value().VarType(), Variant(std::u16string(u"x")).VarType());
  TDAParam* d = Add(params, ftDateTime, "d");
  d->SetAsDateTime(EncodeDateTime(2024, 2, 29, 13, 5, 9, 0));
  EXPECT_EQ(d->AsString(), "2024-02-29 13:05:09");

  TStringList lines;
  lines.Add("one");
  lines.Add("two");
  TDAParam* m = Add(params, ftInteger, "m");
  m->Assign(lines);
  EXPECT_EQ(m->DataType(), ftMemo);
  EXPECT_EQ(m->AsString(), "one\r\ntwo\r\n");
  EXPECT_EQ(m->Name(), "m");

  TStringStream data("stream bytes");
  TDAParam* b = Add(params, ftUnknown, "b");
  b->LoadFromStream(data, ftMemo);
  EXPECT_EQ(b->DataType(), ftMemo);
  EXPECT_EQ(b->AsString(), "stream bytes");
  TDAParam* i = Add(params, ftInteger, "i");
  try {
    i->LoadFromStream(data, ftInteger);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), MessageText(SDataTypeNotSupported));
  }
}

TEST(DAParamTest, TypeMapsRoundTrip) {
  for (TFieldType t : {ftString,     ftSmallint, ftInteger,  ftWord,   ftBoolean,  ftFloat,  ftCurrency,
                       ftDate,       ftTime,     ftDateTime, ftBytes,  ftVarBytes, ftBlob,   ftMemo,
                       ftWideString, ftLargeint, ftBCD,      ftFMTBcd, ftGuid,     ftVariant}) {
    SCOPED_TRACE(FieldTypeName(t));
    EXPECT_EQ(DataTypeToFieldType(FieldTypeToDataType(t)), t);
  }
  EXPECT_EQ(FieldTypeToDataType(ftFixedChar), dtString);
  EXPECT_EQ(FieldTypeToDataType(ftGraphic), dtUnknown);
  EXPECT_THROW(DataTypeToFieldType(200), EAssertionFailed);
}

struct DetailHandler : IDADetailDataSet {
  void RefreshDetailParams() override { ++Refreshes; }
  bool IsMasterField(TField* field) override { return field->FieldName() == "ID"; }
  int Refreshes = 0;
};

TEST(DADetailDataLinkTest, FollowsTheMasterFields) {
  VectorDataSet master, detail;
  master.AddRow(1, "a");
  master.AddRow(2, "b");
  detail.AddRow(1, "x");
  TDataSource source;
  source.SetDataSet(&master);
  DetailHandler handler;
  TDADetailDataLink link(&detail, &handler);
  link.SetDataSource(&source);
  detail.Open();
  // Each step: whether the detail refreshed.
  auto refreshed = [&](const std::function<void()>& step) {
    const int before = handler.Refreshes;
    step();
    return handler.Refreshes > before;
  };
  EXPECT_TRUE(refreshed([&] { master.Open(); }));
  EXPECT_TRUE(refreshed([&] { master.Next(); }));
  master.Edit();
  EXPECT_FALSE(refreshed([&] { master.FieldByName("Name")->SetAsString("c"); }));
  EXPECT_TRUE(refreshed([&] { master.FieldByName("ID")->SetAsInteger(5); }));
  detail.Edit();
  EXPECT_FALSE(refreshed([&] { master.FieldByName("ID")->SetAsInteger(6); }));
  master.Cancel();
  detail.Cancel();
  detail.Close();
  EXPECT_FALSE(refreshed([&] {
    master.Close();
    master.Open();
  }));
}

}  // namespace
