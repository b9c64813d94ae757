// A TMemData with a fixed set of fields for tests, and helpers that write records the way the
// dataset layer does: a fresh buffer whose complex fields the store takes over.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/MemDataStore.h"
#include "platform/runtime/Variant.h"

struct StoreField {
  std::string name;
  TDataType type;
  uint16_t size;
  uint16_t length = 0;
  TFieldDescKind kind = fdkData;
};

class TTestMemData : public TMemData {
 public:
  explicit TTestMemData(std::vector<StoreField> fields) : FSpec(std::move(fields)) {}
  ~TTestMemData() override { Close(); }

  using TMemData::RefreshItemVisibility;

  int No(const std::string& name) const { return FieldByName(name)->FieldNo; }

  // A record with the given values (by field name; the others null) inserted at the cursor.
  void Insert(const std::vector<std::pair<std::string, Variant>>& values, bool append = false) {
    void* buf = AllocRecBuf();
    InitRecord(buf);
    CreateComplexFields(buf, true);
    try {
      for (const auto& [name, value] : values) PutFieldAsVariant(No(name), buf, value);
      if (append)
        AppendRecord(buf);
      else
        InsertRecord(buf);
    } catch (...) {
      FreeComplexFields(buf, true);
      FreeRecBuf(buf);
      throw;
    }
    FreeRecBuf(buf);
  }
  void Append(const std::vector<std::pair<std::string, Variant>>& values) { Insert(values, true); }

  // Changes fields of the current record through EditRecord / PostRecord.
  void Update(const std::vector<std::pair<std::string, Variant>>& values) {
    void* buf = AllocRecBuf();
    EditRecord(buf);
    for (const auto& [name, value] : values) PutFieldAsVariant(No(name), buf, value);
    PostRecord(buf);
    FreeRecBuf(buf);
  }

  // A field of the current record.
  Variant Value(const std::string& name) {
    void* buf = AllocRecBuf();
    GetRecord(buf);
    Variant v = GetFieldAsVariant(No(name), buf);
    FreeRecBuf(buf);
    return v;
  }

  // The values of a field over the visible records, walked forward from the beginning.
  std::vector<Variant> Column(const std::string& name) {
    std::vector<Variant> out;
    void* buf = AllocRecBuf();
    SetToBegin();
    for (GetNextRecord(buf); !GetEof(); GetNextRecord(buf)) out.push_back(GetFieldAsVariant(No(name), buf));
    FreeRecBuf(buf);
    return out;
  }

  // An integer field over the visible records (-1 for null).
  std::vector<int> IntColumn(const std::string& name) {
    std::vector<int> out;
    for (const Variant& v : Column(name)) out.push_back(v.IsNull() ? -1 : v.AsInteger());
    return out;
  }

  // The visible records are `ids` (values of the field `idField`) in that order, and every one's
  // number, reached by walking and by SetRecordNo, is its position.
  void ExpectNumbering(const std::vector<int>& ids, const std::string& idField = "ID") {
    ASSERT_EQ(GetRecordCount(), static_cast<int>(ids.size()));
    EXPECT_EQ(IntColumn(idField), ids);
    SetToBegin();
    for (int n = 1; n <= static_cast<int>(ids.size()); ++n) {
      GetNextRecord(nullptr);
      ASSERT_EQ(GetRecordNo(), n);
    }
    for (int n = static_cast<int>(ids.size()); n >= 1; --n) {
      SetRecordNo(n);
      ASSERT_EQ(GetRecordNo(), n);
      ASSERT_EQ(Value(idField).AsInteger(), ids[static_cast<size_t>(n - 1)]) << n;
    }
  }

 protected:
  void InternalOpen() override { InitFields(); }
  void InternalInitFields() override {
    for (const auto& s : FSpec) {
      AddFieldDesc(s.name, s.type, s.size, s.length).FieldDescKind = s.kind;
    }
  }

 private:
  std::vector<StoreField> FSpec;
};
