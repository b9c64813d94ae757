#include "components/MyRowReader.h"

#include "components/MyAccessDataSet.h"
#include "core/MemBlob.h"
#include "core/MemFieldValues.h"
#include "mysql/MySQLRecordset.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/LocaleCompare.h"

namespace {

// Rows per block: enough to keep round trips rare, few enough to keep the block small.
constexpr int kFetchRows = 1000;

}  // namespace

TMyRowReader::TMyRowReader(TCustomMyConnection& connection, int timeoutSeconds)
    : FQuery(std::make_unique<TMyQuery>()) {
  FQuery->SetConnection(&connection);
  FQuery->SetCommandTimeout(timeoutSeconds);
  FQuery->SetReadOnly(true);
  FQuery->SetUniDirectional(true);
  FQuery->SetFetchAll(false);
  FQuery->SetFetchRows(kFetchRows);
  TMyDataSetOptions& options = FQuery->Options();
  options.SetFieldsAsString(true);
  options.SetNullForZeroDate(false);
  options.SetCreateConnection(false);
}

TMyRowReader::~TMyRowReader() {
  try {
    Close();
  } catch (...) {
    // Going away: the query drops what is left with itself.
  }
}

void TMyRowReader::Open(const std::string& sql) {
  Close();
  FQuery->SQL().SetText(sql);
  if (TMySQLRecordset* rs = FQuery->MyRecordSet()) rs->KeepSessionText = FSessionBytes;
  FQuery->Open();
  FRecordSet = FQuery->MyRecordSet();
  FFirst = true;
}

bool TMyRowReader::Next() {
  if (!FQuery->Active()) return false;
  if (FFirst)
    FFirst = false;
  else
    FQuery->Next();
  FBuffer = FQuery->CurrentRecBuf();
  return !FQuery->Eof();
}

void TMyRowReader::Close() {
  FRecordSet = nullptr;
  FBuffer = nullptr;
  FQuery->Close();
}

TMySQLRecordset& TMyRowReader::RecordSet() const {
  DA_ASSERT(FRecordSet != nullptr);
  return *FRecordSet;
}

int TMyRowReader::FieldCount() const {
  return RecordSet().GetFieldDescCount();
}

const TMySQLFieldDesc& TMyRowReader::Field(int index) const {
  return static_cast<const TMySQLFieldDesc&>(RecordSet().FieldOf(index + 1));
}

int TMyRowReader::FieldIndex(const std::string& name) const {
  for (int i = 0; i < FieldCount(); ++i)
    if (LocaleCompareAnsi(Field(i).Name, name, true) == 0) return i;
  return -1;
}

bool TMyRowReader::IsNull(int index) const {
  return RecordSet().GetNull(index + 1, FBuffer);
}

std::string TMyRowReader::Value(int index) const {
  const int fieldNo = index + 1;
  if (RecordSet().GetNull(fieldNo, FBuffer)) return {};
  const TDataType type = Field(index).DataType;
  if (type == dtBlob || type == dtMemo || type == dtWideMemo) {
    TBlob* blob = RecordSet().GetBlob(fieldNo, FBuffer);
    std::string bytes(blob->GetSize(), '\0');
    if (!bytes.empty()) blob->Read(0, static_cast<uint32_t>(bytes.size()), bytes.data());
    if (!blob->IsUnicode()) return bytes;
    return WideToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2));
  }
  const Variant v = RecordSet().GetFieldAsVariant(fieldNo, FBuffer);
  if (type == dtBytes || type == dtVarBytes || type == dtExtVarBytes) {
    const std::vector<uint8_t>& bytes = v.AsBytes();
    return std::string(bytes.begin(), bytes.end());
  }
  return v.AsString();
}

bool TMyRowReader::IsTextField(int index) const {
  const TDataType type = Field(index).DataType;
  return type == dtString || type == dtExtString;
}

std::string_view TMyRowReader::TextView(int index) const {
  const TFieldDesc& f = Field(index);
  if (RecordSet().GetNull(index + 1, FBuffer)) return {};
  const auto* slot = static_cast<const uint8_t*>(FBuffer) + f.Offset;
  if (f.DataType == dtString) return InlineTextOf(slot, f.Size);
  DA_ASSERT(f.DataType == dtExtString);
  return HeapTextOf(Marshal::ReadIntPtr(slot));
}

uint64_t TMyRowReader::BitValue(int index) const {
  return RecordSet().GetFieldAsVariant(index + 1, FBuffer).AsUInt64();
}

std::vector<std::string> TMyRowReader::FirstColumn(TCustomMyConnection& connection, const std::string& sql,
                                                   int timeoutSeconds) {
  TMyRowReader reader(connection, timeoutSeconds);
  reader.Open(sql);
  std::vector<std::string> out;
  while (reader.Next()) out.push_back(reader.Value(0));
  return out;
}
