// TBlobStream: the stream through which blob and memo fields of a TMemDataSet read and write the
// blob of a record buffer (the one the dataset's state shows).
#pragma once

#include <cstdint>

#include "platform/db/FieldClasses.h"
#include "platform/runtime/Classes.h"

class TMemDataSet;

class TBlobStream : public TStream {
 public:
  // A writable stream (bmWrite, bmReadWrite) needs the dataset in edit or insert state and a
  // writable field, unless the field was already written since the record was last posted,
  // cancelled or left: EDatabaseError "Field '%s' cannot be modified" / "Dataset not in edit or
  // insert mode". bmWrite empties the value at once.
  TBlobStream(TBlobField* field, TBlobStreamMode mode);
  // When something was written: the field is marked modified and the dataset reports the change.
  ~TBlobStream() override;

  // 0 when there is no record. Errors of the record store: "Invalid BLOB", "Invalid BLOB position".
  // Write, SetSize and Truncate of a stream opened with bmRead raise the errors of a writable one
  // where none could have been opened.
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t newSize) override;
  // Cuts the value at the position.
  void Truncate();

  bool Opened() const noexcept { return FOpened; }
  bool Modified() const noexcept { return FModified; }

 private:
  bool OldValues() const;
  void CheckWritable();

  TBlobField* FField;
  TMemDataSet* FDataSet;
  uint8_t* FBuffer = nullptr;
  int FFieldNo = 0;
  bool FOpened = false;
  bool FModified = false;
  bool FReadOnly = false;
  int64_t FPosition = 0;
};
