#include "components/MemDSLocate.h"

#include <cstring>

#include "components/MemDS.h"
#include "core/MemFieldValues.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/LocaleCompare.h"

namespace {

template <typename T>
void PutKey(TLocateKey& key, TDataType type, const T& value) {
  key.ValueType = type;
  key.Bytes.resize(sizeof(T));
  std::memcpy(key.Bytes.data(), &value, sizeof(T));
}

void PutBytesKey(TLocateKey& key, const std::vector<uint8_t>& bytes) {
  if (bytes.size() > 0xFFFF) RaiseCannotConvert(key.Field->DataType);
  key.ValueType = dtVarBytes;
  const auto count = static_cast<uint16_t>(bytes.size());
  key.Bytes.resize(2 + bytes.size());
  std::memcpy(key.Bytes.data(), &count, 2);
  if (count) std::memcpy(key.Bytes.data() + 2, bytes.data(), count);
}

}  // namespace

TLocateKey MakeLocateKey(const Variant& value, const TFieldDesc& field) {
  TLocateKey key;
  key.Field = &field;
  if (value.IsNull() || value.IsEmpty()) {
    key.IsNull = true;
    return key;
  }
  switch (field.DataType) {
    case dtString:
    case dtExtString:
    case dtGuid:
    case dtMemo: {
      // Counted, so that a zero byte inside the text is part of the key.
      const std::string text = value.AsString();
      const auto count = static_cast<int32_t>(text.size());
      key.ValueType = dtExtString;
      key.Bytes.resize(4 + text.size());
      std::memcpy(key.Bytes.data(), &count, 4);
      if (!text.empty()) std::memcpy(key.Bytes.data() + 4, text.data(), text.size());
      break;
    }
    case dtWideString:
    case dtExtWideString:
    case dtWideMemo: {
      std::u16string text = value.AsWideString();
      text.push_back(u'\0');
      key.ValueType = dtWideString;
      key.Bytes.resize(text.size() * 2);
      std::memcpy(key.Bytes.data(), text.data(), key.Bytes.size());
      break;
    }
    case dtInt8:
    case dtInt16:
    case dtUInt16:
    case dtInt32:
      PutKey(key, dtInt32, value.AsInteger());
      break;
    case dtUInt32:
    case dtInt64:
      PutKey(key, dtInt64, value.AsInt64());
      break;
    case dtUInt64:
      PutKey(key, dtUInt64, value.AsUInt64());
      break;
    case dtDateTimeUs:
    case dtTimeUs:
      PutKey(key, field.DataType, MicrosOfVariant(value, field));
      break;
    case dtBoolean:
      PutKey(key, dtBoolean, static_cast<uint8_t>(value.AsBoolean() ? 1 : 0));
      break;
    case dtFloat:
    case dtCurrency:
      PutKey(key, dtFloat, value.AsDouble());
      break;
    case dtDate:
    case dtTime:
    case dtDateTime:
      PutKey(key, field.DataType, static_cast<double>(value.AsDateTime()));
      break;
    case dtBCD:
      PutKey(key, dtBCD, value.AsCurrency().Scaled);
      break;
    case dtFmtBCD:
      PutKey(key, dtFmtBCD, value.AsBcd());
      break;
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes:
      if (value.IsByteArray()) {
        PutBytesKey(key, value.AsBytes());
      } else {
        const std::string text = value.AsString();
        PutBytesKey(key, std::vector<uint8_t>(text.begin(), text.end()));
      }
      break;
    case dtVariant:
      key.ValueType = dtVariant;
      key.Value = value;
      break;
    default:
      RaiseCannotConvert(field.DataType);
  }
  return key;
}

// ---- TMemDataSet: filters ---------------------------------------------------------------------

namespace {

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

void TMemDataSet::InstallFilter(bool filtered) {
  TData& rs = *FIRecordSet;
  rs.FilterCaseInsensitive = (FilterOptions() & foCaseInsensitive) != 0;
  rs.FilterNoPartialCompare = (FilterOptions() & foNoPartialCompare) != 0;
  rs.SetFilterText(filtered && !IsBlank(Filter()) ? Filter() : std::string());
  if (filtered && OnFilterRecord())
    rs.FilterFunc = [this](void* recBuf) { return FilterRecordFunc(recBuf); };
  else
    rs.FilterFunc = nullptr;
}

bool TMemDataSet::FilterRecordFunc(void* recBuf) {
  // The event reads the record through the fields, calculated ones included.
  std::memcpy(FFilterBuffer, recBuf, static_cast<size_t>(FIRecordSet->RecordSize()));
  ClearCalcFields(FFilterBuffer);
  GetCalcFields(FFilterBuffer);
  return RecordFilterAccepts(FFilterBuffer);
}

void TMemDataSet::FilterChanged() {
  if (!Active()) return;
  InstallFilter(Filtered());
  FIRecordSet->FilterUpdated();
  First();
}

void TMemDataSet::SetFiltered(bool value) {
  TDataSet::SetFiltered(value);
  FilterChanged();
}

void TMemDataSet::SetFilterText(const std::string& value) {
  TDataSet::SetFilterText(value);
  if (Filtered()) FilterChanged();
}

void TMemDataSet::SetFilterOptions(TFilterOptions value) {
  TDataSet::SetFilterOptions(value);
  if (Filtered()) FilterChanged();
}

void TMemDataSet::SetOnFilterRecord(TFilterRecordEvent value) {
  TDataSet::SetOnFilterRecord(std::move(value));
  if (Filtered()) FilterChanged();
}

bool TMemDataSet::FindRecord(bool restart, bool goForward) {
  CheckBrowseMode();
  UpdateCursorPos();
  TData& rs = *FIRecordSet;
  const bool temporary = !Filtered();
  if (temporary) {
    InstallFilter(true);
    rs.FilterUpdated();
  }
  bool found;
  try {
    if (restart) goForward ? rs.SetToBegin() : rs.SetToEnd();
    goForward ? rs.GetNextRecord(nullptr) : rs.GetPriorRecord(nullptr);
    found = !rs.GetBof() && !rs.GetEof();
  } catch (...) {
    if (temporary) {
      InstallFilter(false);
      rs.FilterUpdated();
    }
    UpdateCursorPos();
    throw;
  }
  if (temporary) {
    InstallFilter(false);
    rs.FilterUpdated();
  }
  if (!found) {
    UpdateCursorPos();
    return false;
  }
  DoBeforeScroll();
  Resync();
  DoAfterScroll();
  return true;
}

// ---- TMemDataSet: Locate and Lookup -----------------------------------------------------------

namespace {

int StoreOptions(TLocateOptions options) {
  int result = 0;
  if (options & loCaseInsensitive) result |= coCaseInsensitive;
  if (options & loPartialKey) result |= coPartialKey;
  return result;
}

// A key against the field of a record: a null key equals a null field only, and sorts first.
int CompareKey(TMemData& data, const TLocateKey& key, int options, const void* recBuf) {
  const bool fieldNull = data.GetNull(key.Field->FieldNo, recBuf);
  if (key.IsNull || fieldNull) return key.IsNull == fieldNull ? 0 : (key.IsNull ? -1 : 1);
  return data.CompareFields(key.Data(), key.ValueType, options, recBuf, *key.Field);
}

// How many leading keys the leading sort columns match (case sensitivity as asked).
size_t SortedKeyCount(TMemData& data, const std::vector<TLocateKey>& keys, int options) {
  const TSortColumns& columns = data.SortColumns();
  size_t n = 0;
  const bool insensitive = (options & coCaseInsensitive) != 0;
  while (n < keys.size() && static_cast<int>(n) < columns.Count()) {
    const TSortColumn& column = *columns.Items(static_cast<int>(n));
    if (column.FieldDesc != keys[n].Field || column.CaseSensitive == insensitive) break;
    ++n;
  }
  return n;
}

}  // namespace

bool TMemDataSet::UseDatasetLocate(const std::vector<TField*>& fields) const {
  if (!MemData()) return true;
  for (TField* field : fields)
    // Calculated values are not in the records the search reads.
    if (field->FieldKind() != fkData || !GetFieldDesc(field)) return true;
  return false;
}

bool TMemDataSet::Locate(const std::string& keyFields, const std::vector<Variant>& keyValues,
                         TLocateOptions options) {
  CheckBrowseMode();
  std::vector<TField*> fields = GetFieldList(keyFields);
  if (fields.empty()) return false;
  if (UseDatasetLocate(fields)) {
    if ((options & (loLocateForward | loLocateBackward)) == 0)
      return TDataSet::Locate(keyFields, keyValues, options);
    // Calculated and lookup keys are read through the fields, still from the current record in
    // the direction asked.
    const TGetMode step = (options & loLocateForward) != 0 ? gmNext : gmPrior;
    DoBeforeScroll();
    UpdateCursorPos();
    TTempBuffer buffer(*this);
    bool found = false;
    FReadBuffer = buffer.get();
    SyncDirectReads();
    try {
      while (!found && GetRecord(buffer.get(), step, false) == grOK)
        found = RecordMatches(fields, keyValues, options);
    } catch (...) {
      FReadBuffer = nullptr;
      SyncDirectReads();
      UpdateCursorPos();
      throw;
    }
    FReadBuffer = nullptr;
    SyncDirectReads();
    if (!found) {
      UpdateCursorPos();
      return false;
    }
    // The record set's cursor stands on the record found.
    Resync();
    DoAfterScroll();
    return true;
  }
  DoBeforeScroll();
  UpdateCursorPos();
  if (!LocateRecord(fields, keyValues, options)) {
    UpdateCursorPos();
    return false;
  }
  Resync();
  DoAfterScroll();
  return true;
}

std::vector<Variant> TMemDataSet::Lookup(const std::string& keyFields, const std::vector<Variant>& keyValues,
                                         const std::string& resultFields) {
  CheckBrowseMode();
  std::vector<TField*> keys = GetFieldList(keyFields);
  std::vector<TField*> results = GetFieldList(resultFields);
  if (keys.empty() || UseDatasetLocate(keys)) return TDataSet::Lookup(keyFields, keyValues, resultFields);
  std::vector<Variant> values(results.size(), Variant::Null());
  UpdateCursorPos();
  if (LocateRecord(keys, keyValues, 0)) {
    TTempBuffer buffer(*this);
    if (GetRecord(buffer.get(), gmCurrent, false) == grOK) {
      FReadBuffer = buffer.get();
      SyncDirectReads();
      try {
        for (size_t i = 0; i < results.size(); ++i) values[i] = results[i]->GetAsVariant();
      } catch (...) {
        FReadBuffer = nullptr;
        SyncDirectReads();
        UpdateCursorPos();
        throw;
      }
      FReadBuffer = nullptr;
      SyncDirectReads();
    }
  }
  UpdateCursorPos();
  return values;
}

// Leaves the record set's cursor on the first matching record (true) or anywhere (false).
bool TMemDataSet::LocateRecord(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                               TLocateOptions options) {
  TMemData& data = *MemData();
  std::vector<TLocateKey> keys;
  for (size_t i = 0; i < fields.size(); ++i)
    keys.push_back(MakeLocateKey(i < values.size() ? values[i] : Variant::Null(), *GetFieldDesc(fields[i])));
  const int opts = StoreOptions(options);
  const bool forward = (options & loLocateForward) != 0;
  const bool backward = !forward && (options & loLocateBackward) != 0;
  const size_t sorted = ((opts & coPartialKey) || forward || backward) ? 0 : SortedKeyCount(data, keys, opts);
  TTempBuffer temp(*this);
  void* rec = temp.get();
  auto matches = [&](size_t from) {
    for (size_t k = from; k < keys.size(); ++k)
      if (CompareKey(data, keys[k], opts, rec) != 0) return false;
    return true;
  };
  if (backward) {
    // The record set's cursor stands on the current record (UpdateCursorPos).
    for (data.GetPriorRecord(rec); !data.GetBof(); data.GetPriorRecord(rec))
      if (matches(0)) return true;
    return false;
  }
  if (sorted == 0) {
    if (!forward) data.SetToBegin();
    for (data.GetNextRecord(rec); !data.GetEof(); data.GetNextRecord(rec))
      if (matches(0)) return true;
    return false;
  }
  // Binary search for the first record whose sorted keys are not below the key.
  auto compareSorted = [&](int32_t recNo) {
    data.SetRecordNo(recNo);
    data.GetRecord(rec);
    for (size_t k = 0; k < sorted; ++k) {
      int c = CompareKey(data, keys[k], opts, rec);
      if (data.SortColumns().Items(static_cast<int>(k))->DescendingOrder) c = -c;
      if (c != 0) return c;
    }
    return 0;
  };
  data.BuildRecordIndex();
  int32_t lo = 1, hi = data.GetRecordCount() + 1;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (compareSorted(mid) > 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  for (int32_t no = lo; no <= data.GetRecordCount(); ++no) {
    if (compareSorted(no) != 0) return false;
    if (matches(sorted)) return true;
  }
  return false;
}
