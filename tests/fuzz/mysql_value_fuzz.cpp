// One column value of a row into its record slot, over the text or the binary path. The first
// byte picks the field (low bits), the binary path (0x80), UTF-8 text (0x40) and compressed
// blobs (0x20); the rest is the value as the server would send it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/CRAccess.h"
#include "core/MemBlocks.h"
#include "core/MemFieldValues.h"
#include "mysql/MyClasses.h"
#include "mysql/MyFieldValues.h"
#include "platform/runtime/Exceptions.h"

namespace {

struct TShape {
  TDataType Type;
  uint8_t MySQLType;
  uint16_t Length;
  bool Unsigned;
  uint16_t Scale;
};

const TShape Shapes[] = {
    {dtInt32, mftLong, 11, false, 0},
    {dtUInt32, mftLong, 10, true, 0},
    {dtInt64, mftLongLong, 20, true, 0},
    {dtInt64, mftBit, 64, true, 0},
    {dtInt8, mftTiny, 4, false, 0},
    {dtBoolean, mftTiny, 1, false, 0},
    {dtUInt16, mftYear, 4, true, 0},
    {dtFloat, mftDouble, 22, false, 31},
    {dtFloat, mftNewDecimal, 12, false, 2},
    {dtBCD, mftNewDecimal, 12, false, 2},
    {dtFmtBCD, mftNewDecimal, 67, false, 30},
    {dtDate, mftDate, 10, false, 0},
    {dtDateTime, mftTimestamp, 14, false, 0},
    {dtDateTime, mftTimestamp, 26, false, 0},
    {dtDateTime, mftDateTime, 19, false, 0},
    {dtTime, mftTime, 10, false, 0},
    {dtString, mftVarString, 8, false, 0},
    {dtExtString, mftVarString, 64, false, 0},
    {dtWideString, mftVarString, 8, false, 0},
    {dtExtWideString, mftVarString, 64, false, 0},
    {dtMemo, mftBlob, 0, false, 0},
    {dtBlob, mftBlob, 0, false, 0},
    {dtWideMemo, mftBlob, 0, false, 0},
    {dtString, mftLongLong, 20, false, 0},
    {dtString, mftDateTime, 26, false, 6},
    {dtString, mftTime, 17, false, 6},
    {dtString, mftFloat, 12, false, 31},
    {dtVarBytes, mftVarString, 16, false, 0},
};

void Release(const TMySQLFieldDesc& f, uint8_t* rec, TStringHeap& heap) {
  const bool object = f.DataType == dtBlob || f.DataType == dtMemo || f.DataType == dtWideMemo;
  const bool block =
      f.DataType == dtExtString || f.DataType == dtExtWideString || f.DataType == dtExtVarBytes;
  if (!object && !block) return;
  void* ref = Marshal::ReadIntPtr(rec, f.Offset);
  if (ref == nullptr) return;
  if (object)
    TSharedObject::FromHandle(ref)->Release();
  else
    heap.DisposeBuf(ref);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const TShape& shape = Shapes[(data[0] & 0x1F) % (sizeof Shapes / sizeof Shapes[0])];
  TMySQLFieldDesc f;
  f.Name = "f";
  f.DataType = shape.Type;
  f.MySQLType = shape.MySQLType;
  f.IsUnsigned = shape.Unsigned;
  f.Decimals = static_cast<uint8_t>(shape.Scale);
  SetMyFieldSize(f, shape.Length, shape.Scale);
  TStringHeap heap;
  TMyConvertContext cx;
  cx.Heap = &heap;
  cx.UseUnicode = data[0] & 0x40;
  cx.CompressBlobMode = data[0] & 0x20 ? cbClient : cbNone;
  std::vector<uint8_t> rec(FieldSlotSize(f), 0);  // exactly the slot: the sanitizer sees any write past it
  // A value is never at a nil address, not even an empty one.
  std::vector<uint8_t> value(data + 1, data + size);
  value.reserve(1);
  try {
    if (data[0] & 0x80)
      StoreMyBinaryValue(f, value.data(), value.size(), rec.data(), cx);
    else if (data[0] & 0x20)  // the store a fetched row chooses for its column
      StoreMyTextValueBy(MyTextStoreOf(f), f, reinterpret_cast<const char*>(value.data()), value.size(),
                         rec.data(), cx);
    else
      StoreMyTextValue(f, reinterpret_cast<const char*>(value.data()), value.size(), rec.data(), cx);
  } catch (const EAssertionFailed&) {
    __builtin_trap();  // a field the record set describes must never fail an assertion
  } catch (const Exception&) {
    // malformed values are refused with an error
  }
  Release(f, rec.data(), heap);
  return 0;
}
