#include "core/MemFieldDesc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/Exceptions.h"

namespace {

struct FieldSpec {
  const char* name;
  TDataType type;
  uint16_t size;
  TFieldDescKind kind = fdkData;
  uint16_t length = 0;
};

void Fill(TFieldDescs& fields, const std::vector<FieldSpec>& columns) {
  for (const auto& s : columns) {
    auto f = std::make_unique<TFieldDesc>();
    f->Name = s.name;
    f->DataType = s.type;
    f->Size = s.size;
    f->Length = s.length;
    f->FieldDescKind = s.kind;
    f->FieldNo = static_cast<uint16_t>(fields.Count() + 1);
    fields.Add(std::move(f));
  }
}

TEST(LayoutTest, OffsetsNullIndicatorsAndSizes) {
  const struct {
    const char* name;
    std::vector<FieldSpec> fields;
    std::vector<uint32_t> offsets;
    TRecordLayout layout;
  } cases[] = {
      {"int32, widestring, int16",
       {{"A", dtInt32, 4}, {"B", dtWideString, 6}, {"C", dtInt16, 2}},
       {0, 4, 10},
       {12, 16, 0, 0}},  // null indicators at 12..14, 15 rounded up to 16
      {"int8 first moves the wide string to an even offset",
       {{"A", dtInt8, 1}, {"B", dtWideString, 6}, {"C", dtInt16, 2}},
       {0, 2, 8},
       {10, 14, 0, 0}},
      {"only calculated fields",
       {{"X", dtInt32, 4, fdkCalculated}, {"Y", dtString, 3, fdkCalculated}},
       {2, 6},
       {0, 2, 9, 10}},  // a dtString slot is followed by its 2-byte count
      {"references take pointer size",
       {{"M", dtMemo, RefFieldSize},
        {"S", dtExtString, RefFieldSize},
        {"V", dtVariant, RefFieldSize},
        {"B", dtBoolean, 2}},
       {0, 8, 16, 24},
       {26, 30, 0, 0}},
      {"calculated between data fields keeps data contiguous",
       {{"A", dtString, 5}, {"K", dtWideString, 4, fdkCalculated}, {"W", dtWideString, 4}, {"Z", dtInt64, 8}},
       {0, 24, 8, 12},
       {20, 24, 4, 4}},
      {"calculated wide string after an odd calculated size",
       {{"A", dtInt32, 4}, {"K", dtString, 3, fdkCalculated}, {"W", dtWideString, 4, fdkCalculated}},
       {0, 8, 14},
       {4, 8, 10, 10}},
      {"no fields", {}, {}, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TFieldDescs fields;
    Fill(fields, c.fields);
    TRecordLayout got = LayoutFields(fields);
    EXPECT_EQ(got.DataSize, c.layout.DataSize);
    EXPECT_EQ(got.RecordSize, c.layout.RecordSize);
    EXPECT_EQ(got.CalcDataSize, c.layout.CalcDataSize);
    EXPECT_EQ(got.CalcRecordSize, c.layout.CalcRecordSize);
    for (size_t i = 0; i < c.offsets.size(); ++i) {
      SCOPED_TRACE(c.fields[i].name);
      EXPECT_EQ(fields[static_cast<int>(i)]->Offset, c.offsets[i]);
    }
  }
}

TEST(LayoutTest, RefusesSizesThatCannotHoldTheTypeAndFieldNumbersOutOfPlace) {
  const struct {
    const char* name;
    FieldSpec field;
  } cases[] = {
      {"32-bit reference to a blob", {"M", dtBlob, 4}},
      {"int32 in two bytes", {"I", dtInt32, 2}},
      {"string without room for the terminator", {"S", dtString, 0}},
      {"fmtbcd below its record", {"F", dtFmtBCD, 20}},
      {"var bytes without the count", {"V", dtVarBytes, 10, fdkData, 10}},
      {"bytes shorter than their length", {"Y", dtBytes, 3, fdkData, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TFieldDescs fields;
    Fill(fields, {c.field});
    EXPECT_THROW(LayoutFields(fields), EAssertionFailed);
  }
  TFieldDescs fields;
  Fill(fields, {{"A", dtInt32, 4}, {"B", dtInt32, 4}});
  for (uint16_t no : {3, 0}) {  // a null indicator past the record, or before it
    fields[1]->FieldNo = no;
    EXPECT_THROW(LayoutFields(fields), EAssertionFailed);
  }
}

TEST(UniqueNamesTest, SuffixesInFieldOrderAndPushesClashes) {
  const struct {
    const char* name;
    std::vector<const char*> in, out;
  } cases[] = {
      {"a column already named like a new name is pushed",
       {"id", "ID", "Id", "ID_1"},
       {"id", "ID_1", "Id_2", "ID_1_1"}},
      {"the earlier field number keeps the name", {"name", "level", "NAME"}, {"name", "level", "NAME_1"}},
      {"unnamed columns", {"", "", "x"}, {"", "_1", "x"}},
      {"new name clashing twice", {"a", "a", "a_1", "A_1"}, {"a", "a_1", "a_1_1", "A_1_2"}},
      {"GBK names", {"\xC3\xFB\xB3\xC6", "\xC3\xFB\xB3\xC6"}, {"\xC3\xFB\xB3\xC6", "\xC3\xFB\xB3\xC6_1"}},
      {"distinct names stay, punctuation counting",
       {"a_b", "ab", "A-B", "count"},
       {"a_b", "ab", "A-B", "count"}},
      {"a clash beside a GBK name", {"id", "\xC3\xFB", "ID"}, {"id", "\xC3\xFB", "ID_1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TFieldDescs fields;
    for (const char* n : c.in) Fill(fields, {{n, dtInt32, 4}});
    MakeUniqueFieldNames(fields);
    for (size_t i = 0; i < c.out.size(); ++i) EXPECT_EQ(fields[static_cast<int>(i)]->Name, c.out[i]);
  }
  TFieldDescs fields;  // child fields keep their names
  Fill(fields, {{"a", dtObject, 8}, {"b", dtInt32, 4}, {"b", dtInt32, 4}});
  fields[1]->ParentField = fields[0];
  MakeUniqueFieldNames(fields);
  EXPECT_EQ(fields[1]->Name, "b");
  EXPECT_EQ(fields[2]->Name, "b");
}

TEST(UniqueNamesTest, WideResultsClashAsNarrowOnes) {
  // Up to 64 names and past them, with and without a clash that differs only in case.
  for (int count : {64, 65, 200}) {
    for (bool clash : {false, true}) {
      SCOPED_TRACE(std::to_string(count) + (clash ? " with a clash" : ""));
      TFieldDescs fields;
      for (int i = 0; i < count; ++i) {
        const std::string name = clash && i == count - 1 ? "COL3" : "col" + std::to_string(i);
        Fill(fields, {{name.c_str(), dtInt32, 4}});
      }
      MakeUniqueFieldNames(fields);
      EXPECT_EQ(fields[3]->Name, "col3");
      EXPECT_EQ(fields[count - 1]->Name, clash ? "COL3_1" : "col" + std::to_string(count - 1));
    }
  }
}

TEST(FindFieldTest, TopLevelFirstThenPathsAndChildren) {
  TFieldDescs fields;
  Fill(fields, {{"A", dtObject, 8}, {"B", dtInt32, 4}, {"B", dtInt32, 4}, {"x", dtInt32, 4}});
  fields[1]->ParentField = fields[0];  // A.B
  fields[3]->ParentField = fields[0];  // A.x
  EXPECT_EQ(fields.FindField("a.b"), fields[1]);
  EXPECT_EQ(fields.FindField("b"), fields[2]);  // the top-level B before the child
  EXPECT_EQ(fields.FindField("X"), fields[3]);  // a plain name also finds a child
  EXPECT_THAT([&] { fields.FieldByName("Level"); },
              testing::ThrowsMessage<EDatabaseError>(testing::StrEq("Field Level not found")));
}

}  // namespace
