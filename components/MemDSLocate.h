// Locate keys of TMemDataSet: a key value converted into the form of its field's data type that
// the record store compares with field values (core/MemDataSort.h, KeyCompareValue).
#pragma once

#include <cstdint>
#include <vector>

#include "core/MemFieldDesc.h"
#include "platform/runtime/Variant.h"

struct TLocateKey {
  const TFieldDesc* Field = nullptr;
  bool IsNull = false;
  TDataType ValueType = dtUnknown;
  std::vector<uint8_t> Bytes;  // the key in the form ValueType names
  Variant Value;               // dtVariant keys
  const void* Data() const noexcept {
    return ValueType == dtVariant ? static_cast<const void*>(&Value) : Bytes.data();
  }
};

// Converts value for comparison with field. Null and Empty give a null key. EConvertError
// "Cannot convert type" for a field type without a key form (objects, references, arrays,
// tables, blobs), and the variant's own conversion errors.
TLocateKey MakeLocateKey(const Variant& value, const TFieldDesc& field);
