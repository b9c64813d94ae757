// An in-test dataset over a vector of rows (columns ID integer and Name string(20)): the
// smallest implementation of the dataset hooks, standing in for a record store.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/db/DataSet.h"

class VectorDataSet : public TDataSet {
 public:
  explicit VectorDataSet(TComponent* owner = nullptr) : TDataSet(owner) {}
  ~VectorDataSet() override { Close(); }

  struct Row {
    int32_t Id;                 // the bookmark: stays with the row
    std::vector<uint8_t> Data;  // per field: null byte, native form
  };
  std::vector<Row> Rows;
  int PostCount = 0;
  int DeleteCount = 0;
  std::function<void()> OnInternalPost;  // may raise to make the post fail

  void AddRow(int32_t id, const std::string& name) {
    Row row{FNextId++, std::vector<uint8_t>(DataSize, 0)};
    row.Data[0] = 1;
    std::memcpy(&row.Data[1], &id, 4);
    row.Data[5] = 1;
    std::memcpy(&row.Data[6], name.data(), std::min<size_t>(name.size(), 20));
    Rows.push_back(std::move(row));
  }
  std::string NameAt(size_t i) const { return reinterpret_cast<const char*>(&Rows[i].Data[6]); }

  static constexpr int HeaderSize = 5;  // int32 row id, bookmark flag
  static constexpr int DataSize = 5 + 22;

 protected:
  void InternalInitFieldDefs() override {
    FieldDefs().Add("ID", ftInteger);
    FieldDefs().Add("Name", ftString, 20);
  }
  void InternalOpen() override {
    InitFieldDefs();
    CreateFields();
    BindFields(true);
    FCursor = -1;
    FOpen = true;
    FOld = AllocRecordBuffer();
  }
  void InternalClose() override {
    SetStateBuffer(dsOldValue, nullptr);
    FreeRecordBuffer(FOld);
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    FOpen = false;
  }
  bool IsCursorOpen() const override { return FOpen; }

  TRecordBuffer AllocRecordBuffer() override {
    return new uint8_t[static_cast<size_t>(HeaderSize + DataSize + CalcFieldsSize())]();
  }
  void FreeRecordBuffer(TRecordBuffer& buffer) override {
    delete[] buffer;  // allocated by AllocRecordBuffer above
    buffer = nullptr;
  }
  void InternalInitRecord(TRecordBuffer buffer) override {
    std::memset(buffer, 0, static_cast<size_t>(HeaderSize + DataSize + CalcFieldsSize()));
  }

  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool) override {
    const int n = static_cast<int>(Rows.size());
    for (;;) {
      if (mode == gmNext) {
        if (FCursor + 1 >= n) {
          FCursor = n;
          return grEOF;
        }
        ++FCursor;
      } else if (mode == gmPrior) {
        if (std::min(FCursor, n) - 1 < 0) {
          FCursor = -1;
          return grBOF;
        }
        FCursor = std::min(FCursor, n) - 1;
      } else if (FCursor < 0 || FCursor >= n) {
        return FCursor < 0 ? grBOF : grEOF;
      }
      Fill(buffer, Rows[static_cast<size_t>(FCursor)]);
      GetCalcFields(buffer);
      if (!Filtered() || RecordFilterAccepts(buffer)) return grOK;
      if (mode == gmCurrent) return grError;
    }
  }
  void InternalFirst() override { FCursor = -1; }
  void InternalLast() override { FCursor = static_cast<int>(Rows.size()); }
  int GetRecordCount() override { return static_cast<int>(Rows.size()); }
  int GetRecNo() override {
    TRecordBuffer b = ActiveBuffer();
    if (!HasRecord() || GetBookmarkFlag(b) != bfCurrent) return -1;
    return IndexOf(IdOf(b)) + 1;
  }
  bool InternalSetRecNo(int value) override {
    if (value < 1 || value > static_cast<int>(Rows.size())) return false;
    FCursor = value - 1;
    return true;
  }

  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override {
    return static_cast<TBookmarkFlag>(buffer[4]);
  }
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) override { buffer[4] = value; }
  void GetBookmarkData(TRecordBuffer buffer, TBookmark& data) override { data.assign(buffer, buffer + 4); }
  void SetBookmarkData(TRecordBuffer buffer, const TBookmark& data) override {
    std::memcpy(buffer, data.data(), 4);
  }
  void InternalGotoBookmark(const TBookmark& bookmark) override { FCursor = IndexOf(IdOfBookmark(bookmark)); }

 public:
  bool BookmarkValid(const TBookmark& bookmark) override {
    return bookmark.size() == 4 && IndexOf(IdOfBookmark(bookmark)) >= 0;
  }

  bool GetFieldData(TField* field, void* buffer) override {
    TRecordBuffer rec = GetActiveRecBuf();
    if (!rec) return false;
    if (field->FieldKind() != fkData) return GetCalcFieldData(rec + HeaderSize + DataSize, field, buffer);
    const uint8_t* at = rec + HeaderSize + Offset(field);
    if (!at[0]) return false;
    if (buffer) std::memcpy(buffer, at + 1, static_cast<size_t>(field->DataSize()));
    return true;
  }
  void SetFieldData(TField* field, const void* buffer) override {
    TRecordBuffer rec = GetActiveRecBuf();
    if (field->FieldKind() != fkData) return SetCalcFieldData(rec + HeaderSize + DataSize, field, buffer);
    uint8_t* at = rec + HeaderSize + Offset(field);
    at[0] = buffer ? 1 : 0;
    std::memset(at + 1, 0, static_cast<size_t>(field->DataSize()));
    if (buffer) std::memcpy(at + 1, buffer, static_cast<size_t>(field->DataSize()));
  }

 protected:
  void InternalEdit() override {
    Fill(FOld, Rows[static_cast<size_t>(FCursor)]);
    SetStateBuffer(dsOldValue, FOld);
  }
  void InternalCancel() override { SetStateBuffer(dsOldValue, nullptr); }
  void InternalPost() override {
    ++PostCount;
    if (OnInternalPost) OnInternalPost();
    TRecordBuffer b = ActiveBuffer();
    std::vector<uint8_t> data(b + HeaderSize, b + HeaderSize + DataSize);
    if (State() == dsInsert) {
      int at = GetBookmarkFlag(b) == bfEOF ? static_cast<int>(Rows.size())
                                           : std::clamp(FCursor, 0, static_cast<int>(Rows.size()));
      Rows.insert(Rows.begin() + at, Row{FNextId++, std::move(data)});
      FCursor = at;
    } else {
      Rows[static_cast<size_t>(FCursor)].Data = std::move(data);
    }
    SetStateBuffer(dsOldValue, nullptr);
  }
  void InternalDelete() override {
    ++DeleteCount;
    Rows.erase(Rows.begin() + FCursor);
  }

 private:
  static int Offset(TField* field) { return field->FieldNo() == 1 ? 0 : 5; }
  static int32_t IdOfBookmark(const TBookmark& b) {
    int32_t id = 0;
    if (b.size() == 4) std::memcpy(&id, b.data(), 4);
    return id;
  }
  static int32_t IdOf(TRecordBuffer b) {
    int32_t id;
    std::memcpy(&id, b, 4);
    return id;
  }
  int IndexOf(int32_t id) const {
    for (size_t i = 0; i < Rows.size(); ++i)
      if (Rows[i].Id == id) return static_cast<int>(i);
    return -1;
  }
  void Fill(TRecordBuffer buffer, const Row& row) {
    std::memcpy(buffer, &row.Id, 4);
    buffer[4] = bfCurrent;
    std::memcpy(buffer + HeaderSize, row.Data.data(), DataSize);
  }

  int FCursor = -1;  // -1 before the first row, Rows.size() after the last
  int32_t FNextId = 1;
  bool FOpen = false;
  TRecordBuffer FOld = nullptr;
};
