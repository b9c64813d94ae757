// An in-test dataset over a vector of rows with any columns of fixed-size native forms
// (integers, strings, var-bytes): the dataset hooks in their simplest form, with counters of
// what the widgets made it do. MakeAccounts builds the account table the browsers show.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/DataSource.h"
#include "platform/runtime/Exceptions.h"

class TableDataSet : public TDataSet {
 public:
  struct Column {
    std::string Name;
    TFieldType Type;
    int Size;
  };
  struct Row {
    int32_t Id;                 // the bookmark: stays with the row
    std::vector<uint8_t> Data;  // per field: null byte, native form
  };

  explicit TableDataSet(std::vector<Column> columns) : FColumns(std::move(columns)) {}
  ~TableDataSet() override { Close(); }

  std::vector<Row> Rows;
  int PostCount = 0;
  int FetchCount = 0;        // records read from the rows (GetRecord)
  std::string FailNextPost;  // non-empty: the next post raises it, as a server error would

  // Appends a row before the dataset opens; values in column order (nullptr: null).
  void AddRow(const std::vector<const char*>& values);

 protected:
  void InternalInitFieldDefs() override {
    for (const Column& c : FColumns) FieldDefs().Add(c.Name, c.Type, c.Size);
  }
  void InternalOpen() override {
    InitFieldDefs();
    CreateFields();
    BindFields(true);
    LayOut();
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

  TRecordBuffer AllocRecordBuffer() override { return new uint8_t[BufferSize()](); }
  void FreeRecordBuffer(TRecordBuffer& buffer) override {
    delete[] buffer;  // allocated by AllocRecordBuffer above
    buffer = nullptr;
  }
  void InternalInitRecord(TRecordBuffer buffer) override { std::memset(buffer, 0, BufferSize()); }

  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool) override;
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
    const uint8_t* at = rec + HeaderSize + FOffsets[static_cast<size_t>(field->FieldNo() - 1)];
    if (!at[0]) return false;
    if (buffer) std::memcpy(buffer, at + 1, static_cast<size_t>(field->DataSize()));
    return true;
  }
  void SetFieldData(TField* field, const void* buffer) override {
    uint8_t* at = GetActiveRecBuf() + HeaderSize + FOffsets[static_cast<size_t>(field->FieldNo() - 1)];
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
  void InternalPost() override;
  void InternalDelete() override {
    Rows.erase(Rows.begin() + FCursor);
    FIndexValid = false;
  }

 private:
  static constexpr size_t HeaderSize = 5;  // int32 row id, bookmark flag

  size_t BufferSize() const { return HeaderSize + FDataSize + static_cast<size_t>(CalcFieldsSize()); }
  void LayOut();
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
  int IndexOf(int32_t id);
  void Fill(TRecordBuffer buffer, const Row& row) {
    std::memcpy(buffer, &row.Id, 4);
    buffer[4] = bfCurrent;
    std::memcpy(buffer + HeaderSize, row.Data.data(), FDataSize);
  }

  std::vector<Column> FColumns;
  std::vector<size_t> FOffsets;  // per field in the row data
  size_t FDataSize = 0;
  std::vector<int> FIndex;  // row id -> index, rebuilt after inserts and deletes
  bool FIndexValid = false;
  int FCursor = -1;  // -1 before the first row, Rows.size() after the last
  int32_t FNextId = 1;
  bool FOpen = false;
  TRecordBuffer FOld = nullptr;
};

inline void TableDataSet::LayOut() {
  FOffsets.clear();
  FDataSize = 0;
  for (TField* field : Fields()) {
    FOffsets.push_back(FDataSize);
    FDataSize += 1 + static_cast<size_t>(field->DataSize());
  }
}

inline TGetResult TableDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool) {
  const int n = static_cast<int>(Rows.size());
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
  ++FetchCount;
  Fill(buffer, Rows[static_cast<size_t>(FCursor)]);
  GetCalcFields(buffer);
  return grOK;
}

inline void TableDataSet::InternalPost() {
  ++PostCount;
  if (!FailNextPost.empty()) {
    std::string message = std::move(FailNextPost);
    FailNextPost.clear();
    throw EDatabaseError(message);
  }
  TRecordBuffer b = ActiveBuffer();
  std::vector<uint8_t> data(b + HeaderSize, b + HeaderSize + FDataSize);
  if (State() == dsInsert) {
    int at = GetBookmarkFlag(b) == bfEOF ? static_cast<int>(Rows.size())
                                         : std::clamp(FCursor, 0, static_cast<int>(Rows.size()));
    Rows.insert(Rows.begin() + at, Row{FNextId++, std::move(data)});
    FIndexValid = false;
    FCursor = at;
  } else {
    Rows[static_cast<size_t>(FCursor)].Data = std::move(data);
  }
  SetStateBuffer(dsOldValue, nullptr);
}

inline int TableDataSet::IndexOf(int32_t id) {
  if (!FIndexValid) {
    FIndex.assign(static_cast<size_t>(FNextId), -1);
    for (size_t i = 0; i < Rows.size(); ++i) FIndex[static_cast<size_t>(Rows[i].Id)] = static_cast<int>(i);
    FIndexValid = true;
  }
  return id > 0 && id < FNextId ? FIndex[static_cast<size_t>(id)] : -1;
}

// Values are encoded straight into the native forms of the three column types used here.
inline void TableDataSet::AddRow(const std::vector<const char*>& values) {
  Row row{FNextId++, {}};
  for (size_t i = 0; i < FColumns.size(); ++i) {
    const Column& c = FColumns[i];
    const char* v = i < values.size() ? values[i] : nullptr;
    const size_t size = c.Type == ftInteger ? 4 : c.Type == ftVarBytes ? c.Size + 2 : c.Size + 1;
    const size_t at = row.Data.size();
    row.Data.resize(at + 1 + size, 0);
    if (!v) continue;
    row.Data[at] = 1;
    if (c.Type == ftInteger) {
      int32_t n = std::stoi(v);
      std::memcpy(&row.Data[at + 1], &n, 4);
    } else if (c.Type == ftVarBytes) {
      uint16_t n = static_cast<uint16_t>(std::strlen(v));
      std::memcpy(&row.Data[at + 1], &n, 2);
      std::memcpy(&row.Data[at + 3], v, n);
    } else {
      std::memcpy(&row.Data[at + 1], v, std::min(std::strlen(v), static_cast<size_t>(c.Size)));
    }
  }
  Rows.push_back(std::move(row));
  FIndexValid = false;
}

// idx, username, password, items (text), icon (bytes): row i holds i, "user<i>", "pw<i>",
// "items<i>" and no icon.
inline std::unique_ptr<TableDataSet> MakeAccounts(int count) {
  auto data = std::make_unique<TableDataSet>(std::vector<TableDataSet::Column>{{"idx", ftInteger, 0},
                                                                               {"username", ftString, 32},
                                                                               {"password", ftString, 32},
                                                                               {"items", ftString, 200},
                                                                               {"icon", ftVarBytes, 4000}});
  for (int i = 1; i <= count; ++i) {
    std::string n = std::to_string(i), user = "user" + n, pw = "pw" + n, items = "items" + n;
    data->AddRow({n.c_str(), user.c_str(), pw.c_str(), items.c_str(), nullptr});
  }
  data->Open();
  return data;
}
