#include "core/MemData.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>

#include "core/CLRClasses.h"
#include "core/DAConsts.h"
#include "core/MemFieldValues.h"
#include "platform/db/DataSet.h"
#include "platform/db/Fields.h"
#include "platform/runtime/Exceptions.h"

namespace {

std::string TrimBlanks(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

// A scratch record buffer, released (memory only) when it goes out of scope.
class TTempRecBuf {
 public:
  explicit TTempRecBuf(const TData& data) : FBuf(data.AllocRecBuf()) {}
  ~TTempRecBuf() { TData::FreeRecBuf(FBuf); }
  TTempRecBuf(const TTempRecBuf&) = delete;
  TTempRecBuf& operator=(const TTempRecBuf&) = delete;
  void* get() const noexcept { return FBuf; }

 private:
  void* FBuf;
};

bool IsHeapType(TDataType t) {
  return t == dtExtString || t == dtExtWideString || t == dtExtVarBytes;
}

// Text longer than its inline field, cut at a character boundary. Out of line, so that the text
// that fits is written without saving registers.
[[gnu::noinline]] void StoreCutText(uint8_t* p, size_t fieldSize, std::string_view text) {
  StoreInlineText(p, fieldSize, text);
}

// Values stored as they are: most are 1, 2, 4 or 8 bytes, copied without a call.
void CopyStoredValue(void* dest, const void* source, size_t size) {
  switch (size) {
    case 1:
      std::memcpy(dest, source, 1);
      break;
    case 2:
      std::memcpy(dest, source, 2);
      break;
    case 4:
      std::memcpy(dest, source, 4);
      break;
    case 8:
      std::memcpy(dest, source, 8);
      break;
    default:
      std::memcpy(dest, source, size);
      break;
  }
}

}  // namespace

// GetDateFromBuf and PutDateToBuf for milliseconds, the form every date-time field is read and
// written in: straight from the field, without their dispatch.
// The zero date is millisecond 0 (any count within day 0) and day 0.
void TData::ReadMSecs(const void* buf, void* date) {
  const TDateTime value = BitConverter::Int64BitsToDouble(Marshal::ReadInt64(buf));
  const double msecs = value == ZeroDateTime ? 0 : MSecsOfDateTime(value);
  Marshal::WriteInt64(date, BitConverter::DoubleToInt64Bits(msecs));
}

void TData::WriteMSecs(void* buf, const void* date) {
  const double msecs = BitConverter::Int64BitsToDouble(Marshal::ReadInt64(date));
  const TDateTime value = msecs >= 0 && msecs < MSecsPerDay ? ZeroDateTime : DateTimeOfMSecs(msecs);
  Marshal::WriteInt64(buf, BitConverter::DoubleToInt64Bits(value));
}

// ---- TSortColumns -----------------------------------------------------------------------------

TSortColumn* TSortColumns::Items(int index) const {
  DA_ASSERT_MSG(index >= 0 && index < Count(),
                "Sort column index " + std::to_string(index) + " out of range");
  return FItems[static_cast<size_t>(index)].get();
}

TSortColumn* TSortColumns::Add() {
  FItems.push_back(std::make_unique<TSortColumn>());
  return FItems.back().get();
}

// ---- Lifecycle --------------------------------------------------------------------------------

TData::TData() : FStringHeap(std::make_unique<TStringHeap>()) {}

TData::~TData() {
  try {
    Close();
    ClearFields();
  } catch (...) {
    // A destructor never throws; what is left goes with the members.
  }
}

void TData::Prepare() {
  InternalPrepare();
  FPrepared = true;
}

void TData::UnPrepare() {
  if (!FPrepared) return;
  FPrepared = false;
  if (FDescribeFields) ClearFields();
  InternalUnPrepare();
}

void TData::Open() {
  if (FActive) return;
  InitData();
  InternalOpen();
  try {
    BuildFilter();
  } catch (...) {
    try {
      InternalClose();
      FreeData();
    } catch (...) {
      // the filter's error is the one to report
    }
    throw;
  }
  FActive = true;
}

void TData::Close() {
  std::exception_ptr error;
  if (FActive) {
    try {
      InternalClose();
    } catch (...) {
      error = std::current_exception();
    }
  }
  FActive = false;
  FreeData();
  if (FDescribeFields && !FPrepared) ClearFields();
  FFilterExpression.reset();
  if (error) std::rethrow_exception(error);
}

void TData::Reopen() {
  Close();
  Open();
}

void TData::InitData() {
  FBof = true;
  FEof = true;
  FRecordCount = 0;
  FRecordNoOffset = 0;
}

void TData::FreeData() {
  InitData();
}

// ---- Fields and layout ------------------------------------------------------------------------

TFieldDescClass TData::GetFieldDescType() const {
  return &CreateFieldDescOf<TFieldDesc>;
}

void TData::InitFields() {
  if (FDescribeFields) {
    ClearFields();
    InternalInitFields();
    if (OnInitFields) OnInitFields();
    MakeUniqueFieldNames(FFields);
  }
  ++FLayoutStamp;
  const TRecordLayout layout = LayoutFields(FFields);
  FDataSize = layout.DataSize;
  FRecordSize = layout.RecordSize;
  FCalcDataSize = layout.CalcDataSize;
  FCalcRecordSize = layout.CalcRecordSize;
  UpdateComplexFieldsFlag();
}

void TData::ClearFields() {
  ++FLayoutStamp;
  FFields.Clear();
  FFieldAccess.clear();
  FComplexFieldIndexes.clear();
  FHeapRefOffsets.clear();
  FObjectRefIndexes.clear();
}

int TData::GetFieldCount() const {
  return FFields.Count();
}

void TData::RaiseFieldNoOutOfRange(int fieldNo) const {
  RaiseAssertion(
      __FILE__, __LINE__, "fieldNo >= 1 && fieldNo <= FFields.Count()",
      "Field number " + std::to_string(fieldNo) + " is outside 1.." + std::to_string(FFields.Count()));
}

std::string TData::GetArrayElementName(int index) const {
  return "[" + std::to_string(index) + "]";
}

bool TData::HasBlobFields() const {
  return std::any_of(FFields.begin(), FFields.end(),
                     [this](const auto& f) { return IsBlobFieldType(f->DataType); });
}

void TData::UpdateComplexFieldsFlag() {
  FHasComplexFields = std::any_of(FFields.begin(), FFields.end(),
                                  [this](const auto& f) { return IsComplexFieldType(f->DataType); });
  FComplexFieldIndexes.clear();
  FHeapRefOffsets.clear();
  FObjectRefIndexes.clear();
  FFieldAccess.clear();
  for (int i = 0; i < FFields.Count(); ++i) {
    const TFieldDesc& f = *FFields[i];
    FFieldAccess.push_back(TFieldAccess{f.Offset, f.Size, FieldAccessKind(f)});
    if (f.FieldDescKind == fdkData && !f.HasParent() && IsComplexFieldType(f.DataType)) {
      FComplexFieldIndexes.push_back(i);
      if (IsHeapType(f.DataType))
        FHeapRefOffsets.push_back(f.Offset);
      else
        FObjectRefIndexes.push_back(i);
    }
  }
}

bool TData::IsBlobFieldType(TDataType dataType) const {
  return dataType == dtBlob || dataType == dtMemo || dataType == dtWideMemo;
}

bool TData::IsComplexFieldType(TDataType dataType) const {
  return IsBlobFieldType(dataType) || dataType == dtVariant || IsHeapType(dataType);
}

bool TData::GetConvertEOL() const {
  return false;
}

// ---- Record buffers ---------------------------------------------------------------------------

void* TData::AllocRecBuf() const {
  const size_t size = static_cast<size_t>(FRecordSize) + static_cast<size_t>(FCalcRecordSize);
  void* buf = Marshal::AllocHGlobal(size > 0 ? size : 1);
  std::memset(buf, 0, size > 0 ? size : 1);
  return buf;
}

void TData::FreeRecBuf(void* recBuf) noexcept {
  Marshal::FreeHGlobal(recBuf);
}

void TData::InitRecord(void* recBuf) {
  if (FHasComplexFields) std::memset(recBuf, 0, static_cast<size_t>(FRecordSize));
  for (int no = 1; no <= FFields.Count(); ++no) SetNull(no, recBuf, true);
}

// ---- Nulls and raw field access ---------------------------------------------------------------

bool TData::BlobOfNullEmpty(const TFieldDesc& f, const void* recBuf) const {
  TBlob* blob = FieldBlob(f, recBuf);
  return blob == nullptr || blob->GetSize() == 0;
}

void TData::EmptyBlobOfNull(const TFieldDesc& f, void* recBuf, bool wasNull) {
  TBlob* blob = FieldBlob(f, recBuf);
  if (blob && (blob->GetSize() > 0 || !wasNull)) {
    blob->EnableRollback();
    blob->Clear();
  }
}

// The forms every row of a typical result has are handled here, inline in GetField and PutField
// and without a stack frame; the others, and text (which asks GetConvertEOL), in functions of
// their own.
inline void TData::ReadFieldValue(const TFieldDesc& field, const void* recBuf, void* dest, size_t destSize) {
  const auto* p = static_cast<const uint8_t*>(recBuf) + field.Offset;
  switch (field.DataType) {
    case dtInt8:
    case dtInt16:
    case dtInt32:
    case dtFloat:
    case dtUInt16:
    case dtBoolean:
    case dtInt64:
    case dtCurrency:
      DA_ASSERT(destSize >= field.Size);
      CopyStoredValue(dest, p, field.Size);
      return;
    case dtDateTime:
      DA_ASSERT(destSize >= sizeof(double));
      ReadMSecs(p, dest);
      return;
    case dtString:
      ReadInlineText(field.Size, p, dest, destSize);
      return;
    default:
      ReadOtherFieldData(field, recBuf, dest, destSize);
      return;
  }
}

inline void TData::WriteFieldValue(const TFieldDesc& field, void* recBuf, const void* source,
                                   size_t sourceSize) {
  auto* p = static_cast<uint8_t*>(recBuf) + field.Offset;
  switch (field.DataType) {
    case dtInt8:
    case dtInt16:
    case dtInt32:
    case dtFloat:
    case dtUInt16:
    case dtBoolean:
    case dtInt64:
    case dtCurrency:
      DA_ASSERT(sourceSize >= field.Size);
      CopyStoredValue(p, source, field.Size);
      return;
    case dtDateTime:
      DA_ASSERT(sourceSize >= sizeof(double));
      WriteMSecs(p, source);
      return;
    case dtString:
      WriteInlineText(field.Size, p, source, sourceSize);
      return;
    default:
      WriteOtherFieldData(field, recBuf, source, sourceSize);
      return;
  }
}

void TData::ReadFieldData(const TFieldDesc& field, const void* recBuf, void* dest, size_t destSize) {
  ReadFieldValue(field, recBuf, dest, destSize);
}

void TData::WriteFieldData(const TFieldDesc& field, void* recBuf, const void* source, size_t sourceSize) {
  WriteFieldValue(field, recBuf, source, sourceSize);
}

TData::TFieldAccessKind TData::FieldAccessKind(const TFieldDesc& field) const {
  if (field.HasParent() || IsBlobFieldType(field.DataType) || IsComplexFieldType(field.DataType))
    return faDescriptor;
  switch (field.DataType) {
    case dtInt8:
    case dtInt16:
    case dtInt32:
    case dtFloat:
    case dtUInt16:
    case dtBoolean:
    case dtInt64:
    case dtCurrency:
      switch (field.Size) {
        case 1:
          return faCopy1;
        case 2:
          return faCopy2;
        case 4:
          return faCopy4;
        case 8:
          return faCopy8;
        default:
          return faDescriptor;
      }
    case dtDateTime:
      return faDateTime;
    case dtString:
      return faInlineText;
    default:
      return faDescriptor;
  }
}

void TData::GetFieldByDescriptor(int fieldNo, const void* recBuf, void* dest, size_t destSize, bool& isNull) {
  const TFieldDesc& f = FieldOf(fieldNo);
  isNull = NullOf(f, fieldNo, recBuf);
  if (!isNull) ReadFieldValue(f, recBuf, dest, destSize);
}

void TData::PutFieldByDescriptor(int fieldNo, void* recBuf, const void* source, size_t sourceSize) {
  const TFieldDesc& f = FieldOf(fieldNo);
  CheckWritable(f);
  WriteFieldValue(f, recBuf, source, sourceSize);
}

bool TData::GetFieldText(int fieldNo, const void* recBuf, std::string& value) {
  const TFieldDesc& f = FieldOf(fieldNo);
  DA_ASSERT(IsAnsiTextType(f.DataType));
  if (NullOf(f, fieldNo, recBuf)) return false;
  const auto* p = static_cast<const uint8_t*>(recBuf) + f.Offset;
  const std::string_view text =
      f.DataType == dtString ? InlineTextOf(p, f.Size) : HeapTextOf(Marshal::ReadIntPtr(p));
  value.clear();
  if (!GetConvertEOL()) {
    value.assign(text);
    return true;
  }
  // An LF is never part of a multi-byte character, so a byte scan finds the line ends.
  value.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) value += '\r';
    value += text[i];
  }
  return true;
}

// ---- Direct readers ---------------------------------------------------------------------------
// A dataset's field reads these straight from its browse record: null when the null mark is set
// (the forms read here are no blobs and no attributes), the value in the exchange form.

namespace {

bool IsDirectNull(const TFieldDirectReader& r, const uint8_t* rec) {
  return rec[r.NullOffset] != 0;
}

bool ReadDirectStored(const TField& field, const uint8_t* rec, void* buffer) {
  const TFieldDirectReader& r = field.DirectReader();
  if (IsDirectNull(r, rec)) return false;
  if (buffer) CopyStoredValue(buffer, rec + r.Offset, static_cast<size_t>(r.Size));
  return true;
}

bool ReadDirectMSecs(const TField& field, const uint8_t* rec, void* buffer) {
  const TFieldDirectReader& r = field.DirectReader();
  if (IsDirectNull(r, rec)) return false;
  if (buffer) TData::ReadMSecs(rec + r.Offset, buffer);
  return true;
}

// The exchange form of text is cut to the field's buffer: the usual path makes it.
bool ReadDirectTextData(const TField& field, const uint8_t* rec, void* buffer) {
  if (IsDirectNull(field.DirectReader(), rec)) return false;
  return !buffer || field.DataSet()->GetFieldData(const_cast<TField*>(&field), buffer);
}

// Line ends expanded (GetConvertEOL) are GetFieldText's.
template <bool Inline>
TFieldDirectReader::TTextRead ReadDirectText(const TField& field, const uint8_t* rec,
                                             std::string_view& text) {
  const TFieldDirectReader& r = field.DirectReader();
  if (IsDirectNull(r, rec)) return TFieldDirectReader::trNull;
  if (static_cast<const TData*>(r.Store)->GetConvertEOL()) return TFieldDirectReader::trUsual;
  const uint8_t* p = rec + r.Offset;
  text = Inline ? InlineTextOf(p, static_cast<size_t>(r.Size)) : HeapTextOf(Marshal::ReadIntPtr(p));
  return TFieldDirectReader::trStored;
}

}  // namespace

bool TData::DirectReaderOf(int fieldNo, TFieldDirectReader& reader) {
  const TFieldDesc& f = FieldOf(fieldNo);
  if (f.FieldDescKind != fdkData || f.HasParent()) return false;
  reader = TFieldDirectReader{};
  switch (f.DataType) {
    case dtInt16:
    case dtInt32:
    case dtFloat:
    case dtUInt16:
    case dtBoolean:
    case dtInt64:
    case dtCurrency:
      reader.Data = &ReadDirectStored;
      break;
    case dtDateTime:
      reader.Data = &ReadDirectMSecs;
      break;
    case dtString:
      reader.Data = &ReadDirectTextData;
      reader.Text = &ReadDirectText<true>;
      break;
    case dtExtString:
      reader.Data = &ReadDirectTextData;
      reader.Text = &ReadDirectText<false>;
      break;
    default:
      return false;
  }
  reader.Store = this;
  reader.Layout = &FLayoutStamp;
  reader.Stamp = FLayoutStamp;
  reader.Offset = static_cast<int32_t>(f.Offset);
  reader.NullOffset = FDataSize + fieldNo - 1;
  reader.Size = static_cast<int32_t>(f.Size);
  reader.FieldNo = fieldNo;
  return true;
}

void TData::PutFieldText(int fieldNo, void* recBuf, std::string_view value) {
  const TFieldDesc& f = FieldOf(fieldNo);
  DA_ASSERT(IsAnsiTextType(f.DataType));
  CheckWritable(f);
  auto* p = static_cast<uint8_t*>(recBuf) + f.Offset;
  if (f.DataType == dtString)
    StoreInlineText(p, f.Size, value);
  else
    ReplaceHeapBlock(f, recBuf, NewHeapText(*FStringHeap, value));
  SetNull(fieldNo, recBuf, false);
}

void TData::CheckWritable(const TFieldDesc& field) const {
  if (field.HasParent()) RaiseHeldByParent(field);
}

void TData::RaiseHeldByParent(const TFieldDesc& field) const {
  RaiseAssertion(__FILE__, __LINE__, "!field.HasParent()",
                 "Field " + field.FullName() + " is held by its parent object");
}

void TData::ReadInlineText(size_t fieldSize, const uint8_t* p, void* dest, size_t destSize) {
  // Text stored with its count (InlineTextOf's first case) that fits as it is (CopyAnsiText's):
  // the terminator first, so that the copy ends the call.
  const size_t count = static_cast<uint16_t>(Marshal::ReadInt16(p, static_cast<ptrdiff_t>(fieldSize)));
  if (count > 0 && count <= fieldSize && p[count - 1] == '\0' && count <= destSize && !GetConvertEOL()) {
    static_cast<char*>(dest)[count - 1] = '\0';
    std::memcpy(dest, p, count - 1);
    return;
  }
  ReadOtherInlineText(fieldSize, p, dest, destSize);
}

void TData::ReadOtherInlineText(size_t fieldSize, const uint8_t* p, void* dest, size_t destSize) {
  const std::string_view text = InlineTextOf(p, fieldSize);
  if (text.size() < destSize && !GetConvertEOL()) {  // fits as it is: CopyAnsiText's first case
    std::memcpy(dest, text.data(), text.size());
    static_cast<char*>(dest)[text.size()] = '\0';
    return;
  }
  CopyAnsiText(text, dest, destSize, GetConvertEOL());
}

void TData::ReadOtherFieldData(const TFieldDesc& field, const void* recBuf, void* dest, size_t destSize) {
  const auto* p = static_cast<const uint8_t*>(recBuf) + field.Offset;
  switch (field.DataType) {
    case dtWideString:
      CopyWideText(p, field.Size / 2, dest, destSize, GetConvertEOL());
      break;
    case dtDate:
      DA_ASSERT(destSize >= sizeof(int32_t));
      GetDateFromBuf(p, dest, dfDate);
      break;
    case dtTime:
      DA_ASSERT(destSize >= sizeof(int32_t));
      GetDateFromBuf(p, dest, dfTime);
      break;
    case dtVariant:
      DA_ASSERT(destSize >= sizeof(Variant));
      *static_cast<Variant*>(dest) = FieldVariantObject(field, recBuf)->Value();
      break;
    case dtExtString:
    case dtExtWideString: {
      const void* text = Marshal::ReadIntPtr(p);
      DA_ASSERT_MSG(text != nullptr, "Heap text of field " + field.Name + " = nil");
      const size_t bytes = static_cast<size_t>(TStringHeap::BufSize(text));
      if (field.DataType == dtExtString)
        CopyAnsiText(HeapTextOf(text), dest, destSize, GetConvertEOL());
      else
        CopyWideText(text, bytes / 2, dest, destSize, GetConvertEOL());
      break;
    }
    case dtExtVarBytes: {
      const void* block = Marshal::ReadIntPtr(p);
      DA_ASSERT_MSG(block != nullptr, "Heap bytes of field " + field.Name + " = nil");
      CopyVarBytes(block, static_cast<size_t>(TStringHeap::BufSize(block)), dest, destSize);
      break;
    }
    case dtVarBytes:
      CopyVarBytes(p, field.Size, dest, destSize);
      break;
    case dtUInt32: {
      DA_ASSERT(destSize >= sizeof(int64_t));
      const int64_t wide = static_cast<uint32_t>(Marshal::ReadInt32(p));
      Marshal::WriteInt64(dest, wide);
      break;
    }
    case dtFmtBCD:
      DA_ASSERT(destSize >= sizeof(TBcd));
      std::memcpy(dest, p, sizeof(TBcd));
      break;
    default:
      DA_ASSERT(destSize >= field.Size);
      CopyStoredValue(dest, p, field.Size);
      break;
  }
}

void TData::WriteInlineText(size_t fieldSize, uint8_t* p, const void* source, size_t sourceSize) {
  const std::string_view text = AnsiTextOf(source, sourceSize);
  const size_t size = fieldSize;
  if (text.size() < size) {  // fits: StoreInlineText's first case, the copy last so that it ends the call
    p[text.size()] = 0;
    Marshal::WriteInt16(p, static_cast<ptrdiff_t>(size), static_cast<int16_t>(text.size() + 1));
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    return;
  }
  StoreCutText(p, size, text);
}

void TData::WriteOtherFieldData(const TFieldDesc& field, void* recBuf, const void* source,
                                size_t sourceSize) {
  auto* p = static_cast<uint8_t*>(recBuf) + field.Offset;
  switch (field.DataType) {
    case dtGuid:
      StoreAnsiText(p, field.Size, AnsiTextOf(source, sourceSize));
      break;
    case dtWideString:
      StoreWideText(p, field.Size, WideTextOf(source, sourceSize));
      break;
    case dtDate:
      DA_ASSERT(sourceSize >= sizeof(int32_t));
      PutDateToBuf(p, source, dfDate);
      break;
    case dtTime:
      DA_ASSERT(sourceSize >= sizeof(int32_t));
      PutDateToBuf(p, source, dfTime);
      break;
    case dtVariant:
      DA_ASSERT(sourceSize >= sizeof(Variant));
      FieldVariantObject(field, recBuf)->SetValue(*static_cast<const Variant*>(source));
      break;
    case dtExtString:
      ReplaceHeapBlock(field, recBuf, NewHeapText(*FStringHeap, AnsiTextOf(source, sourceSize)));
      break;
    case dtExtWideString:
      ReplaceHeapBlock(field, recBuf, NewHeapWideText(*FStringHeap, WideTextOf(source, sourceSize)));
      break;
    case dtExtVarBytes:
      ReplaceHeapBlock(field, recBuf,
                       NewHeapVarBytes(*FStringHeap, VarBytesOf(source, sourceSize, UINT16_MAX)));
      break;
    case dtVarBytes:
      StoreVarBytes(p, VarBytesOf(source, sourceSize, field.Length));
      break;
    case dtUInt32: {
      DA_ASSERT(sourceSize >= sizeof(int64_t));
      const int64_t wide = Marshal::ReadInt64(source);
      if (wide < 0 || wide > UINT32_MAX) RaiseOutOfRange(std::to_string(wide), field);
      Marshal::WriteInt32(p, static_cast<int32_t>(static_cast<uint32_t>(wide)));
      break;
    }
    case dtFmtBCD:
      DA_ASSERT(sourceSize >= sizeof(TBcd));
      std::memcpy(p, source, sizeof(TBcd));
      break;
    default:
      DA_ASSERT(sourceSize >= field.Size);
      CopyStoredValue(p, source, field.Size);
      break;
  }
}

// ---- Dates ------------------------------------------------------------------------------------

void TData::GetDateFromBuf(const void* buf, void* date, TDateFormat format) {
  const TDateTime value = BitConverter::Int64BitsToDouble(Marshal::ReadInt64(buf));
  switch (format) {
    case dfDateTime:
      Marshal::WriteInt64(date, Marshal::ReadInt64(buf));
      break;
    case dfMSecs:
      ReadMSecs(buf, date);
      break;
    case dfTime:
      Marshal::WriteInt32(date, DateTimeToTimeStamp(value).Time);
      break;
    case dfDate:
      Marshal::WriteInt32(date, value == ZeroDateTime ? 0 : DateTimeToTimeStamp(value).Date);
      break;
  }
}

void TData::PutDateToBuf(void* buf, const void* date, TDateFormat format) {
  TDateTime value = 0;
  switch (format) {
    case dfDateTime:
      value = BitConverter::Int64BitsToDouble(Marshal::ReadInt64(date));
      break;
    case dfMSecs:
      WriteMSecs(buf, date);
      return;
    case dfTime: {
      const int32_t msecs = Marshal::ReadInt32(date);
      ValidateTimeStamp(TTimeStamp{msecs, DateDelta});
      value = static_cast<double>(msecs) / MSecsPerDay;
      break;
    }
    case dfDate: {
      const int32_t day = Marshal::ReadInt32(date);
      if (day != 0) ValidateTimeStamp(TTimeStamp{0, day});
      value = static_cast<double>(day - DateDelta);
      break;
    }
  }
  Marshal::WriteInt64(buf, BitConverter::DoubleToInt64Bits(value));
}

// ---- Variants ---------------------------------------------------------------------------------

Variant TData::GetFieldAsVariant(int fieldNo, const void* recBuf) {
  const TFieldDesc& f = FieldOf(fieldNo);
  if (GetNull(fieldNo, recBuf)) return Variant::Null();
  const auto* p = static_cast<const uint8_t*>(recBuf) + f.Offset;
  const bool trim = f.Fixed ? TrimFixedChar : TrimVarChar;
  switch (f.DataType) {
    case dtString:
      return Variant(TrimRightBlanksIf(std::string(InlineTextOf(p, f.Size)), trim));
    case dtGuid:
      return Variant(ReadAnsiText(p, f.Size));
    case dtExtString:
      return Variant(TrimRightBlanksIf(HeapText(Marshal::ReadIntPtr(p)), trim));
    case dtWideString:
      return Variant(TrimRightBlanksIf(ReadWideText(p, f.Size), trim));
    case dtExtWideString:
      return Variant(TrimRightBlanksIf(HeapWideText(Marshal::ReadIntPtr(p)), trim));
    case dtInt8:
      return Int8FieldVariant(p, f);
    case dtInt16:
      return Variant(static_cast<short>(Marshal::ReadInt16(p)));
    case dtUInt16:
      return Variant(static_cast<unsigned short>(Marshal::ReadInt16(p)));
    case dtInt32:
      return Variant(static_cast<int>(Marshal::ReadInt32(p)));
    case dtUInt32:
      return Variant(static_cast<unsigned>(Marshal::ReadInt32(p)));
    case dtInt64:
      return Variant(static_cast<long long>(Marshal::ReadInt64(p)));
    case dtUInt64:
      return Variant(static_cast<unsigned long long>(Marshal::ReadInt64(p)));
    case dtDateTimeUs:
      return Variant(DateTimeUsToStr(Marshal::ReadInt64(p), f.Scale));
    case dtTimeUs:
      return Variant(TimeUsToStr(Marshal::ReadInt64(p), f.Scale));
    case dtBoolean:
      return Variant(Marshal::ReadInt16(p) != 0);
    case dtFloat:
    case dtCurrency:
      return Variant(BitConverter::Int64BitsToDouble(Marshal::ReadInt64(p)));
    case dtDate:
    case dtTime:
    case dtDateTime:
      return Variant::FromDateTime(BitConverter::Int64BitsToDouble(Marshal::ReadInt64(p)));
    case dtBCD:
      return Variant(Currency::FromScaled(Marshal::ReadInt64(p)));
    case dtFmtBCD: {
      TBcd bcd;
      std::memcpy(&bcd, p, sizeof bcd);
      return Variant(bcd);
    }
    case dtMemo:
      return Variant(GetBlob(fieldNo, recBuf)->GetAsString());
    case dtWideMemo:
      return Variant(GetBlob(fieldNo, recBuf)->GetAsWideString());
    case dtVariant:
      return FieldVariantObject(f, recBuf)->Value();
    case dtBytes:
      return Variant::FromBytes(p, f.Length);
    case dtVarBytes: {
      const auto bytes = VarBytesOf(p, f.Size, f.Length);
      return Variant::FromBytes(bytes.data(), bytes.size());
    }
    case dtExtVarBytes: {
      const auto bytes = HeapVarBytes(Marshal::ReadIntPtr(p));
      return Variant::FromBytes(bytes.data(), bytes.size());
    }
    default:
      RaiseCannotConvert(f.DataType);
  }
}

void TData::PutFieldAsVariant(int fieldNo, void* recBuf, const Variant& value) {
  const TFieldDesc& f = FieldOf(fieldNo);
  CheckWritable(f);
  if (value.IsNull() || value.IsEmpty()) {
    SetNull(fieldNo, recBuf, true);
    return;
  }
  StoreVariant(f, recBuf, value);
  SetNull(fieldNo, recBuf, false);
}

void TData::StoreVariant(const TFieldDesc& f, void* recBuf, const Variant& value) {
  auto* p = static_cast<uint8_t*>(recBuf) + f.Offset;
  switch (f.DataType) {
    case dtString:
      StoreInlineText(p, f.Size, value.AsString());
      break;
    case dtGuid:
      StoreAnsiText(p, f.Size, value.AsString());
      break;
    case dtWideString:
      StoreWideText(p, f.Size, value.AsWideString());
      break;
    case dtExtString:
      ReplaceHeapBlock(f, recBuf, NewHeapText(*FStringHeap, value.AsString()));
      break;
    case dtExtWideString:
      ReplaceHeapBlock(f, recBuf, NewHeapWideText(*FStringHeap, value.AsWideString()));
      break;
    case dtInt8:
    case dtInt16:
    case dtUInt16:
    case dtInt32:
    case dtUInt32:
    case dtInt64:
    case dtUInt64:
    case dtBoolean:
      StoreIntegerVariant(f, p, value);
      break;
    case dtDateTimeUs:
    case dtTimeUs:
      Marshal::WriteInt64(p, MicrosOfVariant(value, f));
      break;
    case dtFloat:
    case dtCurrency:
      Marshal::WriteInt64(p, BitConverter::DoubleToInt64Bits(FloatOfVariant(value, f)));
      break;
    case dtDate:
    case dtTime:
    case dtDateTime:
      Marshal::WriteInt64(p, BitConverter::DoubleToInt64Bits(DateTimeOfVariant(value)));
      break;
    case dtBCD:
      Marshal::WriteInt64(p, value.AsCurrency().Scaled);
      break;
    case dtFmtBCD: {
      const TBcd bcd = StrToBcd(value.AsString());
      std::memcpy(p, &bcd, sizeof bcd);
      break;
    }
    case dtBlob:
    case dtMemo:
    case dtWideMemo:
      StoreBlobVariant(*GetBlob(f.FieldNo, recBuf), f.DataType == dtWideMemo, value);
      break;
    case dtVariant:
      FieldVariantObject(f, recBuf)->SetValue(value);
      break;
    case dtBytes: {
      const auto& bytes = BytesOfVariant(value);
      DA_ASSERT_MSG(bytes.size() == f.Length, "Invalid data size");
      if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
      break;
    }
    case dtVarBytes: {
      const auto& bytes = BytesOfVariant(value);
      if (bytes.size() > f.Length) throw EConvertError("Invalid data size");
      StoreVarBytes(p, bytes);
      break;
    }
    case dtExtVarBytes: {
      const auto& bytes = BytesOfVariant(value);
      if (bytes.size() > UINT16_MAX) throw EConvertError("Invalid data size");
      ReplaceHeapBlock(f, recBuf, NewHeapVarBytes(*FStringHeap, bytes));
      break;
    }
    default:
      RaiseCannotConvert(f.DataType);
  }
}

void TData::ReplaceHeapBlock(const TFieldDesc& field, void* recBuf, void* block) {
  void* old = Marshal::ReadIntPtr(recBuf, field.Offset);
  Marshal::WriteIntPtr(recBuf, field.Offset, block);
  if (old) FStringHeap->DisposeBuf(old);
}

// ---- Blobs ------------------------------------------------------------------------------------

TBlob* TData::FieldBlob(const TFieldDesc& field, const void* recBuf) const {
  return static_cast<TBlob*>(TSharedObject::FromHandle(Marshal::ReadIntPtr(recBuf, field.Offset)));
}

TVariantObject* TData::FieldVariantObject(const TFieldDesc& field, const void* recBuf) const {
  auto* obj =
      static_cast<TVariantObject*>(TSharedObject::FromHandle(Marshal::ReadIntPtr(recBuf, field.Offset)));
  DA_ASSERT_MSG(obj != nullptr, "Object for field (" + std::to_string(field.FieldNo) + ") = nil");
  return obj;
}

TBlob* TData::GetBlob(int fieldNo, const void* recBuf) {
  const TFieldDesc& f = FieldOf(fieldNo);
  if (!IsBlobFieldType(f.DataType)) throw EDatabaseError(MessageText(SFieldNotBlob));
  TBlob* blob = FieldBlob(f, recBuf);
  DA_ASSERT_MSG(blob != nullptr, "Object for field (" + std::to_string(fieldNo) + ") = nil");
  return blob;
}

void TData::SetBlob(int fieldNo, void* recBuf, TBlob* blob) {
  const TFieldDesc& f = FieldOf(fieldNo);
  if (!IsBlobFieldType(f.DataType)) throw EDatabaseError(MessageText(SFieldNotBlob));
  Marshal::WriteIntPtr(recBuf, f.Offset, blob ? blob->GetHandle() : nullptr);
}

uint32_t TData::ReadBlob(int fieldNo, const void* recBuf, uint32_t position, uint32_t count, void* dest,
                         bool fromRollback, bool raw) {
  TBlob* blob = GetBlob(fieldNo, recBuf);
  if (fromRollback && blob->Rollback()) blob = blob->Rollback();
  if (!blob->IsUnicode() || raw) return blob->Read(position, count, dest);
  const std::string text = blob->GetAsString();
  if (position >= text.size()) return 0;
  size_t n = text.size() - position;
  if (count != 0 && count < n) n = count;
  std::memcpy(dest, text.data() + position, n);
  return static_cast<uint32_t>(n);
}

void TData::WriteBlob(int fieldNo, void* recBuf, uint32_t position, uint32_t count, const void* source,
                      bool raw) {
  TBlob* blob = GetBlob(fieldNo, recBuf);
  blob->EnableRollback();
  SetNull(fieldNo, recBuf, false);
  if (!blob->IsUnicode() || raw) {
    blob->Write(position, count, source);
    return;
  }
  std::string text = blob->GetAsString();
  const size_t at = std::min<size_t>(position, text.size());
  text.replace(at, std::min<size_t>(count, text.size() - at), static_cast<const char*>(source), count);
  blob->SetAsString(text);
}

void TData::TruncateBlob(int fieldNo, void* recBuf, uint32_t size, bool raw) {
  TBlob* blob = GetBlob(fieldNo, recBuf);
  blob->EnableRollback();
  // A value cut to nothing is '', not NULL: SetNull gives NULL.
  SetNull(fieldNo, recBuf, false);
  if (size == 0) {
    blob->Truncate(0);
  } else if (!blob->IsUnicode() || raw) {
    blob->Truncate(size);
  } else if (size < blob->GetSizeAnsi()) {
    blob->Truncate(blob->TranslatePositionToUni(size));
  }
}

void TData::SetBlobSize(int fieldNo, void* recBuf, uint32_t newSize, bool raw) {
  TBlob* blob = GetBlob(fieldNo, recBuf);
  if (newSize == 0) {
    TruncateBlob(fieldNo, recBuf, 0, raw);
    return;
  }
  blob->EnableRollback();
  SetNull(fieldNo, recBuf, false);
  if (!blob->IsUnicode() || raw) {
    blob->SetSize(newSize);
    return;
  }
  const uint32_t ansiSize = blob->GetSizeAnsi();
  if (newSize < ansiSize)
    blob->Truncate(blob->TranslatePositionToUni(newSize));
  else if (newSize > ansiSize)
    blob->SetSize(blob->GetSize() + 2 * (newSize - ansiSize));  // zero characters
}

uint32_t TData::GetBlobSize(int fieldNo, const void* recBuf, bool fromRollback, bool raw) {
  TBlob* blob = nullptr;
  if (fromRollback) {
    blob = GetBlob(fieldNo, recBuf)->Rollback();
  }
  if (!blob) {
    if (GetNull(fieldNo, recBuf)) return 0;
    blob = GetBlob(fieldNo, recBuf);
  }
  return blob->IsUnicode() && !raw ? blob->GetSizeAnsi() : blob->GetSize();
}

// ---- Complex fields ---------------------------------------------------------------------------

void TData::CreateComplexFields(void* recBuf, bool withBlobs) {
  for (int i : FComplexFieldIndexes) CreateComplexField(recBuf, i, withBlobs);
}

void TData::CreateComplexField(void* recBuf, int index, bool withBlobs) {
  const TFieldDesc& f = *FFields[index];
  if (f.FieldDescKind != fdkData || f.HasParent()) return;
  if (IsBlobFieldType(f.DataType)) {
    if (withBlobs) Marshal::WriteIntPtr(recBuf, f.Offset, (new TBlob(f.DataType == dtWideMemo))->GetHandle());
  } else if (f.DataType == dtVariant) {
    Marshal::WriteIntPtr(recBuf, f.Offset, (new TVariantObject())->GetHandle());
  } else if (IsHeapType(f.DataType)) {
    Marshal::WriteIntPtr(recBuf, f.Offset, nullptr);
  }
}

void TData::FreeComplexFields(void* recBuf, bool withBlobs) {
  // Only the fields listed as complex hold references (UpdateComplexFieldsFlag). Heap texts all
  // at once: a dataset moving through records of text fields drops every one.
  if (!FHeapRefOffsets.empty()) FStringHeap->DisposeAt(recBuf, FHeapRefOffsets);
  for (int i : FObjectRefIndexes) {
    const TFieldDesc* f = FFields[i];
    if (f->FieldDescKind != fdkData || f->HasParent()) continue;
    if (!(IsBlobFieldType(f->DataType) && withBlobs) && f->DataType != dtVariant) continue;
    void* ref = Marshal::ReadIntPtr(recBuf, f->Offset);
    if (!ref) continue;
    TSharedObject* obj = TSharedObject::FromHandle(ref);
    const bool last = obj->RefCount() == 1;
    obj->Release();
    if (last) Marshal::WriteIntPtr(recBuf, f->Offset, nullptr);
  }
}

void TData::CopyComplexFields(const void* source, void* dest) {
  for (const auto& f : FFields) {
    if (f->FieldDescKind != fdkData || f->HasParent()) continue;
    if (f->DataType == dtVariant) {
      FieldVariantObject(*f, dest)->SetValue(FieldVariantObject(*f, source)->Value());
    } else if (IsHeapType(f->DataType)) {
      const void* block = Marshal::ReadIntPtr(source, f->Offset);
      Marshal::WriteIntPtr(dest, f->Offset, block ? DuplicateHeapBlock(*FStringHeap, block) : nullptr);
    }
  }
}

void TData::AddRefComplexFields(void* recBuf) {
  // Heap texts all at once: a dataset moving through records asks for every one.
  if (!FHeapRefOffsets.empty()) FStringHeap->AddRefAt(recBuf, FHeapRefOffsets);
  for (int i : FObjectRefIndexes) {
    const TFieldDesc* f = FFields[i];
    if (f->FieldDescKind != fdkData || f->HasParent()) continue;
    if (IsBlobFieldType(f->DataType) || f->DataType == dtVariant) {
      void* ref = Marshal::ReadIntPtr(recBuf, f->Offset);
      DA_ASSERT_MSG(ref != nullptr, "Shared object for " + f->Name + "=nil");
      TSharedObject::FromHandle(ref)->AddRef();
    }
  }
}

void TData::CancelComplexFields(void* recBuf) {
  for (const auto& f : FFields) {
    if (f->FieldDescKind != fdkData || f->HasParent() || !IsBlobFieldType(f->DataType)) continue;
    if (TBlob* blob = FieldBlob(*f, recBuf)) blob->Cancel();
  }
  FreeComplexFields(recBuf, false);
}

void TData::EditRecord(void* recBuf) {
  TTempRecBuf current(*this);
  GetRecord(current.get());
  std::memcpy(recBuf, current.get(), static_cast<size_t>(FRecordSize));
  if (!FHasComplexFields) return;
  CreateComplexFields(recBuf, false);
  CopyComplexFields(current.get(), recBuf);
}

void TData::PostRecord(void* recBuf) {
  TTempRecBuf replaced(*this);
  GetRecord(replaced.get());
  UpdateRecord(recBuf);
  for (const auto& f : FFields) {
    if (f->FieldDescKind != fdkData || f->HasParent() || !IsBlobFieldType(f->DataType)) continue;
    if (TBlob* blob = FieldBlob(*f, recBuf)) {
      blob->Commit();
      blob->SetModified(false);  // posted: the next edit writes it only when it changes again
    }
  }
  if (!FHasComplexFields) return;
  // A reference the edited record still holds stays alive.
  for (const auto& f : FFields) {
    if (f->FieldDescKind != fdkData || f->HasParent()) continue;
    if (f->DataType != dtVariant && !IsHeapType(f->DataType)) continue;
    if (Marshal::ReadIntPtr(replaced.get(), f->Offset) == Marshal::ReadIntPtr(recBuf, f->Offset))
      Marshal::WriteIntPtr(replaced.get(), f->Offset, nullptr);
  }
  FreeComplexFields(replaced.get(), false);
}

// ---- Navigation defaults ----------------------------------------------------------------------

bool TData::GetEof() const {
  return FEof;
}
bool TData::GetBof() const {
  return FBof;
}
int32_t TData::GetRecordCount() const {
  return FRecordCount;
}
int32_t TData::GetRecordNo() const {
  return 0;
}
void TData::SetRecordNo(int32_t) {}

void TData::SetToBegin() {
  FBof = true;
  FEof = false;
}

void TData::SetToEnd() {
  FEof = true;
  FBof = false;
}

void TData::GetBookmark(TRecBookmark& bookmark) {
  bookmark = TRecBookmark{};
  const int32_t no = GetRecordNo();
  bookmark.Order = no > 0 ? no : -1;
}

void TData::SetToBookmark(const TRecBookmark* bookmark) {
  if (bookmark && bookmark->Order != -1) SetRecordNo(bookmark->Order);
}

bool TData::BookmarkValid(const TRecBookmark* bookmark) {
  return bookmark != nullptr && (bookmark->Item != nullptr || bookmark->Order != -1);
}

int TData::CompareBookmarks(const TRecBookmark* a, const TRecBookmark* b) {
  if (!a && !b) return 0;
  if (a && !b) return -1;
  if (!a) return 1;
  return (a->Order > b->Order) - (a->Order < b->Order);
}

// ---- Callbacks --------------------------------------------------------------------------------

void TData::NotifyInsertRecord() {
  if (OnInsertRecord) OnInsertRecord();
}

void TData::NotifyDeleteRecord() {
  if (OnDeleteRecord) OnDeleteRecord();
}

void TData::NotifyUpdateRecord() {
  if (OnUpdateRecord) OnUpdateRecord();
}

void TData::NotifyApplyRecord(TUpdateKind kind, TUpdateAction& action, bool lastItem) {
  if (OnApplyRecord) OnApplyRecord(kind, action, lastItem);
}

// ---- Cached updates ---------------------------------------------------------------------------

void TData::SetCachedUpdates(bool value) {
  if (value == FCachedUpdates) return;
  if (!value) CancelUpdates();
  FCachedUpdates = value;
  if (value) SetFilterItemTypes(ItemTypesUnmodifiedModifiedInserted);
}

TItemStatus TData::GetUpdateStatus() {
  return isUnmodified;
}
uint8_t TData::GetUpdateResult() {
  return 0;
}
bool TData::GetUpdatesPending() {
  return false;
}
void TData::SetCacheRecBuf(void*, void*) {}
void TData::ApplyUpdates() {}
void TData::CommitUpdates() {}
void TData::CommitAppliedUpdates() {}
void TData::CancelUpdates() {}
void TData::RestoreUpdates() {}
void TData::RevertRecord() {}
void TData::GetOldRecord(void*) {}

// ---- Filter -----------------------------------------------------------------------------------

void TData::SetFilterText(const std::string& text) {
  if (text == FFilterText) return;
  if (FActive) {
    const std::string trimmed = TrimBlanks(text);
    FFilterExpression = trimmed.empty() ? nullptr : ParseFilter(trimmed);
  }
  FFilterText = text;
}

void TData::BuildFilter() {
  FFilterExpression.reset();
  const std::string trimmed = TrimBlanks(FFilterText);
  if (!trimmed.empty()) FFilterExpression = ParseFilter(trimmed);
}

void TData::SetFilterItemTypes(TItemTypes value) {
  FFilterItemTypes = value;
}

void TData::FilterUpdated() {}

// ---- Process-wide hooks -----------------------------------------------------------------------

namespace {
std::atomic<TWaitProc> gStartWaitProc{nullptr};
std::atomic<TWaitProc> gStopWaitProc{nullptr};
std::atomic<TApplicationTitleProc> gApplicationTitleProc{nullptr};
}  // namespace

void SetStartWaitProc(TWaitProc proc) noexcept {
  gStartWaitProc = proc;
}
void SetStopWaitProc(TWaitProc proc) noexcept {
  gStopWaitProc = proc;
}
void SetApplicationTitleProc(TApplicationTitleProc proc) noexcept {
  gApplicationTitleProc = proc;
}

void StartWait() {
  if (TWaitProc proc = gStartWaitProc.load()) proc();
}

void StopWait() {
  if (TWaitProc proc = gStopWaitProc.load()) proc();
}

std::string ApplicationTitle() {
  TApplicationTitleProc proc = gApplicationTitleProc.load();
  return proc ? proc() : std::string();
}

TFieldDesc& TData::AddFieldDesc(const std::string& name, TDataType type, uint16_t size, uint16_t length) {
  std::unique_ptr<TFieldDesc> f = GetFieldDescType()();
  f->Name = name;
  f->DataType = type;
  f->Size = size;
  f->Length = length;
  f->FieldNo = static_cast<uint16_t>(FFields.Count() + 1);
  TFieldDesc& added = *f;
  FFields.Add(std::move(f));
  return added;
}
