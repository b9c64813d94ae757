#include "components/MemDSBlob.h"

#include <algorithm>
#include <limits>

#include "components/MemDS.h"
#include "core/DAConsts.h"

namespace {

uint32_t BlobOffset(int64_t value) {
  if (value < 0 || value > std::numeric_limits<uint32_t>::max())
    throw EDatabaseError(MessageText(SInvalidBlobPosition));
  return static_cast<uint32_t>(value);
}

}  // namespace

TBlobStream::TBlobStream(TBlobField* field, TBlobStreamMode mode)
    : FField(field), FDataSet(dynamic_cast<TMemDataSet*>(field->DataSet())) {
  DA_ASSERT(FDataSet != nullptr);
  const TFieldDesc* desc = FDataSet->GetFieldDesc(field);
  if (!desc || !FDataSet->IRecordSet().IsBlobFieldType(desc->DataType))
    throw EDatabaseError(MessageText(SFieldNotBlob));
  FFieldNo = desc->FieldNo;
  FBuffer = FDataSet->CurrentRecBuf();
  FReadOnly = mode == bmRead;
  if (!FReadOnly && !field->Modified) FDataSet->CheckFieldWritable(field);
  if (!FBuffer) return;
  FOpened = true;
  if (mode == bmWrite) {
    FDataSet->IRecordSet().TruncateBlob(FFieldNo, FBuffer, 0);
    FModified = true;
  }
}

TBlobStream::~TBlobStream() {
  if (!FOpened || !FModified) return;
  try {
    FField->Modified = true;
    FDataSet->FieldValueChanged(FField);
  } catch (...) {
    // A destructor never raises; the value itself is written already.
  }
}

bool TBlobStream::OldValues() const {
  return FDataSet->State() == dsOldValue;
}

int64_t TBlobStream::Read(void* buffer, int64_t count) {
  if (!FOpened || count <= 0) return 0;
  const int64_t size = Size();
  if (FPosition >= size) return 0;
  const int64_t n = std::min(count, size - FPosition);
  const uint32_t got = FDataSet->IRecordSet().ReadBlob(FFieldNo, FBuffer, BlobOffset(FPosition),
                                                       static_cast<uint32_t>(n), buffer, OldValues());
  FPosition += got;
  return got;
}

// A stream opened for reading changes the value only where a writable one could have been opened:
// otherwise the stored record would change behind the dataset's back.
void TBlobStream::CheckWritable() {
  if (FReadOnly && !FField->Modified) FDataSet->CheckFieldWritable(FField);
}

int64_t TBlobStream::Write(const void* buffer, int64_t count) {
  if (!FOpened || count <= 0) return 0;
  CheckWritable();
  BlobOffset(FPosition + count);
  FDataSet->IRecordSet().WriteBlob(FFieldNo, FBuffer, BlobOffset(FPosition), static_cast<uint32_t>(count),
                                   buffer);
  FPosition += count;
  FModified = true;
  return count;
}

int64_t TBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t target = offset;
  if (origin == soFromCurrent) target = FPosition + offset;
  if (origin == soFromEnd) target = Size() + offset;
  if (target < 0) throw EStreamError("Invalid stream position");
  FPosition = target;
  return FPosition;
}

int64_t TBlobStream::Size() {
  if (!FOpened) return 0;
  return FDataSet->IRecordSet().GetBlobSize(FFieldNo, FBuffer, OldValues());
}

void TBlobStream::SetSize(int64_t newSize) {
  if (!FOpened) return;
  CheckWritable();
  FDataSet->IRecordSet().SetBlobSize(FFieldNo, FBuffer, BlobOffset(newSize));
  FPosition = std::min(FPosition, newSize);
  FModified = true;
}

void TBlobStream::Truncate() {
  if (!FOpened) return;
  CheckWritable();
  FDataSet->IRecordSet().TruncateBlob(FFieldNo, FBuffer, BlobOffset(FPosition));
  FModified = true;
}
