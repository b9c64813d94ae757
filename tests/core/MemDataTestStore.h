// A small record store over TData for tests: records are plain record buffers in a vector, the
// cursor an index. It owns each record's complex fields, so tests can check that editing,
// posting, cancelling and closing release everything.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/MemData.h"

struct TestField {
  std::string name;
  TDataType type;
  uint16_t size;
  uint16_t length = 0;
  uint16_t scale = 0;
  bool fixed = false;
  TFieldDescKind kind = fdkData;
  int parent = 0;  // the number of the object field holding this one, 0 for none
};

// "NAME IS NULL" is the one filter this store understands.
class TNullFilter : public TFilterExpression {
 public:
  TNullFilter(TData& data, int fieldNo) : FData(data), FFieldNo(fieldNo) {}
  bool Evaluate(void* recBuf) override { return FData.GetNull(FFieldNo, recBuf); }

 private:
  TData& FData;
  int FFieldNo;
};

class TTestStore : public TData {
 public:
  explicit TTestStore(std::vector<TestField> fields) : FSpec(std::move(fields)) {}
  ~TTestStore() override { Close(); }

  bool ConvertEOL = false;
  int CancelUpdatesCalls = 0;
  int InternalCloseCalls = 0;

  bool GetConvertEOL() const override { return ConvertEOL; }
  void CancelUpdates() override { ++CancelUpdatesCalls; }

  // The fields the next open describes.
  void SetSpec(std::vector<TestField> fields) { FSpec = std::move(fields); }
  int Current() const { return FCurrent; }
  int Count() const { return static_cast<int>(FRecords.size()); }
  void* RecordAt(int i) const { return FRecords[static_cast<size_t>(i)]; }

  // Moves the cursor to record i (0-based).
  void Go(int i) {
    FCurrent = i;
    FBof = FEof = false;
  }

  void GetRecord(void* recBuf) override {
    DA_ASSERT(HasCurrent());
    std::memcpy(recBuf, RecordAt(FCurrent), static_cast<size_t>(FRecordSize));
  }
  void GetNextRecord(void* recBuf) override { Move(FCurrent + 1, FEof, recBuf); }
  void GetPriorRecord(void* recBuf) override { Move(FCurrent - 1, FBof, recBuf); }
  void PutRecord(const void* recBuf) override {
    DA_ASSERT(HasCurrent());
    std::memcpy(RecordAt(FCurrent), recBuf, static_cast<size_t>(FRecordSize));
  }
  void AppendRecord(const void* recBuf) override {
    FCurrent = Count();
    InsertRecord(recBuf);
  }
  // The record takes over the buffer's complex fields; its blobs are committed.
  void InsertRecord(const void* recBuf) override {
    NotifyInsertRecord();
    void* rec = AllocRecBuf();
    std::memcpy(rec, recBuf, static_cast<size_t>(FRecordSize));
    const int at = FCurrent < 0 ? 0 : std::min(FCurrent, Count());
    FRecords.insert(FRecords.begin() + at, rec);
    Go(at);
    ++FRecordCount;
    for (int no = 1; no <= GetFieldCount(); ++no)
      if (IsBlobFieldType(FieldOf(no).DataType)) GetBlob(no, rec)->Commit();
  }
  void UpdateRecord(const void* recBuf) override {
    DA_ASSERT(HasCurrent());
    NotifyUpdateRecord();
    PutRecord(recBuf);
  }
  void DeleteRecord() override {
    DA_ASSERT(HasCurrent());
    NotifyDeleteRecord();
    ReleaseRecord(RecordAt(FCurrent));
    FRecords.erase(FRecords.begin() + FCurrent);
    --FRecordCount;
    if (FCurrent >= Count()) FCurrent = Count() - 1;
  }
  int32_t GetRecordNo() const override { return HasCurrent() ? FCurrent + 1 : 0; }
  void SetRecordNo(int32_t no) override {
    if (no >= 1 && no <= Count()) Go(no - 1);
  }

  // A new record at the end: null fields with fresh complex fields, filled by `fill`.
  template <class Fill>
  void Append(Fill fill) {
    void* buf = AllocRecBuf();
    InitRecord(buf);
    CreateComplexFields(buf, true);
    fill(buf);
    AppendRecord(buf);
    FreeRecBuf(buf);
  }

 protected:
  void InternalOpen() override { InitFields(); }
  void InternalClose() override { ++InternalCloseCalls; }
  void InternalInitFields() override {
    for (const auto& s : FSpec) {
      TFieldDesc& f = AddFieldDesc(s.name, s.type, s.size, s.length);
      f.Scale = s.scale;
      f.Fixed = s.fixed;
      f.FieldDescKind = s.kind;
      if (s.parent) f.ParentField = &FieldOf(s.parent);
    }
  }
  void FreeData() override {
    for (void* rec : FRecords) ReleaseRecord(rec);
    FRecords.clear();
    FCurrent = -1;
    TData::FreeData();
  }
  std::unique_ptr<TFilterExpression> ParseFilter(const std::string& text) override {
    const auto at = text.find(" IS NULL");
    TFieldDesc* f = at == std::string::npos ? nullptr : FindField(text.substr(0, at));
    if (!f || at + 8 != text.size()) throw Exception("Illegal filter expression");
    return std::make_unique<TNullFilter>(*this, f->FieldNo);
  }

 private:
  bool HasCurrent() const { return FCurrent >= 0 && FCurrent < Count(); }
  // Goes to record i, or sets `end` (Bof or Eof) when there is none.
  void Move(int i, bool& end, void* recBuf) {
    if (i < 0 || i >= Count()) {
      end = true;
      return;
    }
    Go(i);
    if (recBuf) GetRecord(recBuf);
  }
  void ReleaseRecord(void* rec) {
    FreeComplexFields(rec, true);
    FreeRecBuf(rec);
  }

  std::vector<TestField> FSpec;
  std::vector<void*> FRecords;
  int FCurrent = -1;
};
