// A TMemDataSet over a record store with the columns a test names, with records put in through
// the record store itself, and server operations that log and can be made to fail.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "components/MemDS.h"

struct TestColumn {
  std::string Name;
  TDataType Type;
  uint16_t Size;
  uint16_t Length = 0;
  uint16_t Scale = 0;
  std::function<void(TFieldDesc&)> Adjust = nullptr;
};

class TTestMemData : public TMemData {
 public:
  explicit TTestMemData(std::vector<TestColumn> columns) : FColumns(std::move(columns)) {}
  ~TTestMemData() override { Close(); }
  // The columns the next open describes.
  std::vector<TestColumn>& Columns() { return FColumns; }

 protected:
  void InternalOpen() override { InitFields(); }
  void InternalInitFields() override {
    for (const TestColumn& c : FColumns) {
      TFieldDesc& f = AddFieldDesc(c.Name, c.Type, c.Size, c.Length);
      f.Scale = c.Scale;
      if (c.Adjust) c.Adjust(f);
    }
  }

 private:
  std::vector<TestColumn> FColumns;
};

class TTestMemDataSet : public TMemDataSet {
 public:
  explicit TTestMemDataSet(std::vector<TestColumn> columns) {
    SetIRecordSet(std::make_unique<TTestMemData>(std::move(columns)));
  }
  ~TTestMemDataSet() override { Close(); }

  std::vector<std::string> Log;  // "append", "update", "delete", with the ID when there is one
  std::function<void(const std::string&)> OnPerform;  // may raise to make the server fail
  TDataSource* MasterSource = nullptr;

  TDataSource* GetDataSource() const override { return MasterSource; }
  void ReplaceRecordSet(std::unique_ptr<TTestMemData> recordSet) { SetIRecordSet(std::move(recordSet)); }
  // Appends a record through the record store (opened first when it is not).
  void AddRecord(const std::vector<Variant>& values) {
    TData& rs = IRecordSet();
    if (!rs.Active()) rs.Open();
    void* buf = rs.AllocRecBuf();
    rs.InitRecord(buf);
    rs.CreateComplexFields(buf, true);
    for (size_t i = 0; i < values.size(); ++i) {
      const TFieldDesc& f = rs.FieldOf(static_cast<int>(i) + 1);
      if (rs.IsBlobFieldType(f.DataType) && !values[i].IsNull())
        rs.GetBlob(f.FieldNo, buf)->SetAsString(values[i].AsString());
      else
        rs.PutFieldAsVariant(static_cast<int>(i) + 1, buf, values[i]);
    }
    FSilent = true;
    rs.AppendRecord(buf);
    FSilent = false;
    TData::FreeRecBuf(buf);
  }
  using TMemDataSet::RecBufSize;

 protected:
  void PerformAppend() override { Perform("append"); }
  void PerformUpdate() override { Perform("update"); }
  void PerformDelete() override { Perform("delete"); }

 private:
  void Perform(const std::string& what) {
    if (FSilent) return;
    std::string entry = what;
    if (TField* id = FindField("ID"); id && !id->IsNull()) entry += " " + id->AsString();
    if (OnPerform) OnPerform(entry);
    Log.push_back(entry);
  }
  bool FSilent = false;
};
