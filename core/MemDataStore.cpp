#include "core/MemDataStore.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "core/CLRClasses.h"
#include "core/MemFilter.h"
#include "platform/runtime/Exceptions.h"

namespace {

// Every InitData of any record store takes the next value, so bookmarks of earlier contents are
// known to be stale. 0 is never used.
std::atomic<uint32_t> gRefreshIteration{0};

uint32_t NextRefreshIteration() noexcept {
  uint32_t value = ++gRefreshIteration;
  while (value == 0) value = ++gRefreshIteration;
  return value;
}

bool Counted(PItemHeader item) noexcept {
  return item->FilterResult == FilterVisible;
}

// Items a forward scan loads ahead: enough to cover a memory access while records are read.
constexpr size_t ScanPrefetchDistance = 8;

// Items renumbering through the sort order loads ahead.
constexpr size_t kNumberAhead = 16;

}  // namespace

TMemData::TMemData() {
  InitData();
}

TMemData::~TMemData() {
  try {
    Close();
  } catch (...) {
    // A destructor never throws; the blocks go with the block manager.
  }
  for (void* buf : {FFilterBuf, FSortBuf1, FSortBuf2, FOwnNewRecBuf, FOwnOldRecBuf}) FreeRecBuf(buf);
}

// ---- Lifecycle --------------------------------------------------------------------------------

void TMemData::InitData() {
  TData::InitData();
  FFirstItem = FLastItem = FCurrentItem = nullptr;
  FCache.Clear();
  DropRecordIndex();
  DropSortOrder();
  FSortOrder.shrink_to_fit();  // closed: no memory kept for the order
  FRefreshIteration = NextRefreshIteration();
}

void TMemData::FreeData() {
  ++FDataGeneration;
  ReleaseAllRecords();
  FBlockManager.FreeAllBlocks();
  FStringHeap->Clear();
  InitData();
}

void TMemData::Open() {
  if (FActive) return;
  TData::Open();
  if (!FFilterExpression || !FFirstItem) return;
  try {
    FilterUpdated();  // a filter that parses may still fail on the rows: then nothing stays open
  } catch (...) {
    try {
      Close();
    } catch (...) {
      // the filter's error is the one to report
    }
    throw;
  }
}

void TMemData::Reopen() {
  TData::Reopen();  // Open judges the records again
  DropRecordIndex();
  if (FSortColumns.Count() > 0) SortItems();
}

void TMemData::InitFields() {
  TData::InitFields();
  FBlockManager.SetRecordSize(FRecordSize);
  for (void** buf : {&FFilterBuf, &FSortBuf1, &FSortBuf2, &FOwnNewRecBuf, &FOwnOldRecBuf}) {
    FreeRecBuf(*buf);
    *buf = nullptr;
  }
  FBlobFieldNos.clear();
  FObjectOffsets.clear();
  FHeapFieldsOnly = true;
  for (const auto& f : FFields) {
    if (f->FieldDescKind != fdkData || f->HasParent() || !IsComplexFieldType(f->DataType)) continue;
    if (IsBlobFieldType(f->DataType)) FBlobFieldNos.push_back(f->FieldNo);
    const bool heap =
        f->DataType == dtExtString || f->DataType == dtExtWideString || f->DataType == dtExtVarBytes;
    if (!heap) {
      FObjectOffsets.push_back(f->Offset);
      FHeapFieldsOnly = false;
    }
  }
  ParseSortColumns();
}

void TMemData::ClearFields() {
  FSortColumns.Clear();
  FSortColumnsStale = !FIndexFieldNames.empty();
  TData::ClearFields();
}

std::unique_ptr<TFilterExpression> TMemData::ParseFilter(const std::string& text) {
  return std::make_unique<TDataFilter>(*this, text);
}

// ---- Releasing records ------------------------------------------------------------------------

void TMemData::ReleaseItemFields(PItemHeader item) {
  if (!FHasComplexFields) return;
  FreeComplexFields(TBlockManager::GetRecordPtr(item), true);
  if (PItemHeader rollback = FBlockManager.Rollback(item))
    FreeComplexFields(TBlockManager::GetRecordPtr(rollback), true);
}

// Heap blocks of a store that never handed out a large one all go with the heap's Clear; the
// objects (blobs, variants) are released one by one. Otherwise every complex field is.
void TMemData::ReleaseAllRecords() {
  if (!FHasComplexFields) return;
  const bool oneByOne = FStringHeap->SysGetMemUsed();
  if (!oneByOne && FHeapFieldsOnly) return;
  auto release = [this, oneByOne](PItemHeader item) {
    uint8_t* rec = TBlockManager::GetRecordPtr(item);
    if (oneByOne) {
      FreeComplexFields(rec, true);
      return;
    }
    for (uint32_t offset : FObjectOffsets) {
      if (void* ref = Marshal::ReadIntPtr(rec, offset)) TSharedObject::FromHandle(ref)->Release();
      Marshal::WriteIntPtr(rec, offset, nullptr);
    }
  };
  for (PItemHeader item = FFirstItem; item; item = item->Next) {
    release(item);
    if (PItemHeader rollback = FBlockManager.Rollback(item)) release(rollback);
  }
}

// ---- Visibility -------------------------------------------------------------------------------

void* TMemData::FilterBuffer() {
  if (!FFilterBuf) FFilterBuf = AllocRecBuf();
  return FFilterBuf;
}

bool TMemData::PassesFilters(PItemHeader item) {
  void* rec = TBlockManager::GetRecordPtr(item);
  if (FCalcRecordSize > 0) {
    void* buf = FilterBuffer();
    FBlockManager.GetRecord(item, buf);
    std::memset(static_cast<uint8_t*>(buf) + FRecordSize, 0, static_cast<size_t>(FCalcRecordSize));
    if (OnCalcFields) OnCalcFields(buf);
    rec = buf;
  }
  if (FilterFunc && !FilterFunc(rec)) return false;
  if (FilterMDFunc && !FilterMDFunc(rec)) return false;
  return !FFilterExpression || FFilterExpression->Evaluate(rec);
}

bool TMemData::JudgeItem(PItemHeader item) {
  bool hidden;
  if (FCachedUpdates && ((FFilterItemTypes >> item->Status) & 1) == 0)
    hidden = true;
  else
    hidden = HasFilter() && !PassesFilters(item);
  item->FilterResult = hidden ? FilterHidden : FilterVisible;
  return hidden;
}

void TMemData::JudgeSafely(PItemHeader item) {
  if (!FCachedUpdates && !HasFilter()) {  // what judging would find, without the call
    item->FilterResult = FilterVisible;
    return;
  }
  item->FilterResult = FilterNotEvaluated;
  try {
    IsHidden(item);
  } catch (...) {
    // A record the filter cannot judge is not hidden; and every item in the list keeps a verdict.
    item->FilterResult = FilterVisible;
  }
}

void TMemData::RefreshItemVisibility(PItemHeader item) {
  if (item->FilterResult == FilterNotEvaluated && !item->Next && !FCachedUpdates && !HasFilter()) {
    // A record just appended to a store without a filter: visible, numbered after the one before.
    item->FilterResult = FilterVisible;
    DropRecordIndex();
    const PItemHeader prev = PrevCounted(item);
    ++FRecordCount;
    item->Order = prev ? prev->Order + 1 : 1 - FRecordNoOffset;
    return;
  }
  RefreshJudgedItem(item);
}

void TMemData::RefreshJudgedItem(PItemHeader item) {
  const bool wasCounted = Counted(item);
  JudgeSafely(item);
  if (Counted(item) == wasCounted) return;
  DropRecordIndex();
  if (wasCounted) {
    item->FilterResult = FilterVisible;  // still counted while the neighbours are renumbered
    UpdateItemOrders(item, ouDeleted);
    item->FilterResult = FilterHidden;
  } else {
    CountItem(item);  // judged visible just now
  }
}

void TMemData::FilterUpdated() {
  UpdateItemOrders(nullptr, ouAll);
  if (FRecordCount == 0) {
    FCurrentItem = nullptr;
    FEof = true;
  }
}

void TMemData::SetFilterItemTypes(TItemTypes value) {
  if (value == FFilterItemTypes) return;
  TData::SetFilterItemTypes(value);
  FilterUpdated();
}

// ---- Record numbers ---------------------------------------------------------------------------

// Every item in the list has a verdict, so neighbours are found without judging anything.
PItemHeader TMemData::PrevCounted(PItemHeader item) const noexcept {
  PItemHeader p = item->Prev;
  while (p && !Counted(p)) p = p->Prev;
  return p;
}

PItemHeader TMemData::NextCounted(PItemHeader item) const noexcept {
  PItemHeader p = item->Next;
  while (p && !Counted(p)) p = p->Next;
  return p;
}

// Both walk the sort order's array instead of the list when it holds `from` at a known place:
// the items' addresses are then known ahead, so their memory loads overlap.
void TMemData::NumberForward(PItemHeader from, int32_t order, PItemHeader skip) noexcept {
  size_t at;
  if (SortOrderIndex(from, at)) {
    const size_t n = FSortOrder.size();
    for (size_t i = at; i < n; ++i) {
      if (i + kNumberAhead < n) __builtin_prefetch(FSortOrder[i + kNumberAhead]);
      PItemHeader p = FSortOrder[i];
      if (p != skip) p->Order = Counted(p) ? order++ : 0;
    }
    return;
  }
  for (PItemHeader p = from; p; p = p->Next)
    if (p != skip) p->Order = Counted(p) ? order++ : 0;
}

void TMemData::NumberBackward(PItemHeader from, int32_t order, PItemHeader skip) noexcept {
  size_t at;
  if (SortOrderIndex(from, at)) {
    for (size_t i = at + 1; i-- > 0;) {
      if (i >= kNumberAhead) __builtin_prefetch(FSortOrder[i - kNumberAhead]);
      PItemHeader p = FSortOrder[i];
      if (p != skip) p->Order = Counted(p) ? order-- : 0;
    }
    return;
  }
  for (PItemHeader p = from; p; p = p->Prev)
    if (p != skip) p->Order = Counted(p) ? order-- : 0;
}

// Item is linked and visible. Its number is one after the visible item before it.
void TMemData::CountItem(PItemHeader item) {
  PItemHeader prev = PrevCounted(item);
  PItemHeader next = NextCounted(item);
  const int32_t number = prev ? prev->Order + FRecordNoOffset + 1 : 1;
  ++FRecordCount;
  if (!item->Next) {  // last in the list (an append): no other item to number
    item->Order = prev ? prev->Order + 1 : 1 - FRecordNoOffset;
    return;
  }
  if (next && number - 1 < FRecordCount - number) {
    // Fewer records in front: they and the new one move down, the rest keep their Order.
    NumberBackward(item, next->Order - 1, nullptr);
    ++FRecordNoOffset;
  } else {
    NumberForward(item, prev ? prev->Order + 1 : 1 - FRecordNoOffset, nullptr);
  }
}

// Item is linked and still counted; afterwards it is not, and its followers moved up one.
void TMemData::UncountItem(PItemHeader item) {
  PItemHeader prev = PrevCounted(item);
  PItemHeader next = NextCounted(item);
  const int32_t number = prev ? prev->Order + FRecordNoOffset + 1 : 1;
  --FRecordCount;
  item->Order = 0;
  if (!next) return;  // it was the last record: no number changes
  if (number - 1 < FRecordCount - number + 1) {
    NumberBackward(item->Prev, next->Order - 1, item);
    --FRecordNoOffset;
  } else {
    NumberForward(item->Next, prev ? prev->Order + 1 : 1 - FRecordNoOffset, item);
  }
}

// Judges everything first, so numbers are assigned only when every verdict stands.
void TMemData::NumberAll() {
  DropRecordIndex();
  for (PItemHeader p = FFirstItem; p; p = p->Next) p->FilterResult = FilterNotEvaluated;
  try {
    for (PItemHeader p = FFirstItem; p; p = p->Next) IsHidden(p);
  } catch (...) {
    for (PItemHeader p = FFirstItem; p; p = p->Next) p->FilterResult = FilterVisible;
    AssignNumbers();
    throw;
  }
  AssignNumbers();
}

void TMemData::AssignNumbers() noexcept {
  int32_t count = 0;
  for (PItemHeader p = FFirstItem; p; p = p->Next) p->Order = Counted(p) ? ++count : 0;
  FRecordCount = count;
  FRecordNoOffset = 0;
}

void TMemData::UpdateItemOrders(PItemHeader item, TOrderUpdate mode) {
  switch (mode) {
    case ouInserted:
      DropRecordIndex();
      if (!IsHidden(item)) CountItem(item);
      break;
    case ouDeleted:
      DropRecordIndex();
      if (Counted(item)) UncountItem(item);
      break;
    case ouAll:
      NumberAll();
      break;
  }
}

void TMemData::ReorderItems(PItemHeader first) {
  if (!first) return;
  DropRecordIndex();
  PItemHeader prev = PrevCounted(first);
  int32_t order = prev ? prev->Order + 1 : 1 - FRecordNoOffset;
  for (PItemHeader p = first; p; p = p->Next) {
    JudgeSafely(p);
    if (Counted(p)) {
      p->Order = order++;
      ++FRecordCount;
    } else {
      p->Order = 0;
    }
  }
}

void TMemData::DropRecordIndex() noexcept {
  FRecordIndex.clear();
  FRecordIndexBuilt = false;
}

void TMemData::BuildRecordIndex() {
  if (FRecordIndexBuilt) return;
  FRecordIndex.clear();
  FRecordIndex.reserve(static_cast<size_t>(FRecordCount));
  for (PItemHeader p = FFirstItem; p; p = p->Next)
    if (Counted(p)) FRecordIndex.push_back(p);
  FRecordIndexBuilt = true;
}

// ---- Cursor -----------------------------------------------------------------------------------

bool TMemData::GetEof() const {
  return FCurrentItem == nullptr && FEof;
}
bool TMemData::GetBof() const {
  return FCurrentItem == nullptr && FBof;
}

int32_t TMemData::GetRecordNo() const {
  if (!FCurrentItem || !Counted(FCurrentItem)) return 0;
  return FCurrentItem->Order + FRecordNoOffset;
}

void TMemData::MoveTo(PItemHeader item) noexcept {
  FCurrentItem = item;
  FBof = false;
  FEof = false;
}

// The visible item numbered n (1 <= n <= RecordCount), walked to from the nearest of the first,
// the current and the last record.
PItemHeader TMemData::FindRecordNo(int32_t n) {
  int32_t number = 0;
  PItemHeader p = nullptr;
  bool forward = true;
  const int32_t current = GetRecordNo();
  if (current > 0 && std::abs(current - n) < n - 1 && std::abs(current - n) < FRecordCount - n) {
    p = FCurrentItem;
    number = current;
    forward = n > current;
  } else if (FRecordCount - n < n - 1) {
    forward = false;
  }
  if (!p) {
    number = forward ? 0 : FRecordCount + 1;
    p = forward ? FFirstItem : FLastItem;
    if (p && !Counted(p)) p = forward ? NextCounted(p) : PrevCounted(p);
    if (p) number += forward ? 1 : -1;
  }
  while (p && number != n) {
    p = forward ? NextCounted(p) : PrevCounted(p);
    number += forward ? 1 : -1;
  }
  return p;
}

void TMemData::SetRecordNo(int32_t n) {
  if (n < 1 || !FFirstItem) return;
  if (FRecordIndexBuilt) {
    if (n <= static_cast<int32_t>(FRecordIndex.size())) MoveTo(FRecordIndex[static_cast<size_t>(n - 1)]);
    return;
  }
  while (n > FRecordCount && Fetch()) {
  }
  if (n > FRecordCount) return;
  if (PItemHeader item = FindRecordNo(n)) MoveTo(item);
}

// A hidden current record is still the current one: moving on here would make an edit of a record
// the filter has just hidden land in its neighbour.
void TMemData::GetRecord(void* recBuf) {
  if (FBof || FEof || !FCurrentItem) return;
  FBlockManager.GetRecord(FCurrentItem, recBuf);
}

void TMemData::GetNextRecord(void* recBuf) {
  if (FEof) return;
  PItemHeader item;
  if (FBof) {
    FBof = false;
    item = FFirstItem;
  } else {
    item = FCurrentItem ? FCurrentItem->Next : FFirstItem;
  }
  while (item && IsHidden(item)) item = item->Next;
  if (!item) {
    FCurrentItem = nullptr;
    FEof = true;
    return;
  }
  MoveTo(item);
  // The next item alone comes too late to hide the memory's latency: the items a few records
  // on are also loaded, guessed from the order in which fetched and appended records fill blocks.
  Prefetch(item->Next);
  Prefetch(FBlockManager.AllocatedAfter(item, ScanPrefetchDistance));
  if (recBuf) FBlockManager.GetRecord(item, recBuf);
}

// Starts loading an item with its record (the first lines of a long one) while the caller reads
// the current record.
void TMemData::Prefetch(const TItemHeader* item) const noexcept {
  if (!item) return;
  const auto* p = reinterpret_cast<const char*>(item);
  const size_t bytes = std::min<size_t>(sizeof(TItemHeader) + static_cast<size_t>(FRecordSize), 256);
  // Each line the first 256 bytes touch, written out: a scan asks for two items a record.
  __builtin_prefetch(p);
  if (bytes > 64) __builtin_prefetch(p + 64);
  if (bytes > 128) __builtin_prefetch(p + 128);
  if (bytes > 192) __builtin_prefetch(p + 192);
  __builtin_prefetch(p + bytes - 1);
}

void TMemData::GetPriorRecord(void* recBuf) {
  if (FBof) return;
  PItemHeader item;
  if (FEof) {
    FEof = false;
    item = FLastItem;
  } else {
    item = FCurrentItem ? FCurrentItem->Prev : FLastItem;
  }
  while (item && IsHidden(item)) item = item->Prev;
  if (!item) {
    FCurrentItem = nullptr;
    FBof = true;
    return;
  }
  MoveTo(item);
  Prefetch(item->Prev);
  if (recBuf) FBlockManager.GetRecord(item, recBuf);
}

void TMemData::SetToBegin() {
  FCurrentItem = nullptr;
  FBof = true;
  FEof = FFirstItem == nullptr;
}

void TMemData::SetToEnd() {
  FCurrentItem = nullptr;
  FEof = true;
  FBof = FFirstItem == nullptr;
}

bool TMemData::Fetch() {
  return false;
}

// ---- Item list --------------------------------------------------------------------------------

void TMemData::LinkBefore(PItemHeader item, PItemHeader next) noexcept {
  item->Next = next;
  item->Prev = next ? next->Prev : FLastItem;
  if (item->Prev)
    item->Prev->Next = item;
  else
    FFirstItem = item;
  if (next)
    next->Prev = item;
  else
    FLastItem = item;
  NoteLinked(item);
}

PItemHeader TMemData::AddItem() {
  PItemHeader item = FBlockManager.AllocItem();
  LinkBefore(item, nullptr);
  return item;
}

PItemHeader TMemData::InsertItem() {
  if (FEof || (!FBof && !FCurrentItem)) return AddItem();
  PItemHeader item = FBlockManager.AllocItem();
  LinkBefore(item, FBof ? FFirstItem : FCurrentItem);
  return item;
}

void TMemData::DeleteItem(PItemHeader item) {
  DropSortOrder();
  if (item == FCurrentItem) FCurrentItem = item->Next ? item->Next : item->Prev;
  if (item->Prev)
    item->Prev->Next = item->Next;
  else
    FFirstItem = item->Next;
  if (item->Next)
    item->Next->Prev = item->Prev;
  else
    FLastItem = item->Prev;
  if (!FFirstItem) {
    FCurrentItem = nullptr;
    FBof = FEof = true;
  }
  FCache.Remove(item);  // a change list never points at a freed item
  if (PItemHeader rollback = FBlockManager.Rollback(item)) FBlockManager.FreeItem(rollback);
  FBlockManager.FreeItem(item);
}

void TMemData::RemoveRecord() {
  PItemHeader item = FCurrentItem;
  DA_ASSERT_MSG(item != nullptr, "No current record");
  DropRecordIndex();
  ReleaseItemFields(item);
  UpdateItemOrders(item, ouDeleted);
  DeleteItem(item);
}

// ---- Editing ----------------------------------------------------------------------------------

void TMemData::CommitBlobs(PItemHeader item) {
  for (int fieldNo : FBlobFieldNos) {
    TBlob* blob = GetBlob(fieldNo, TBlockManager::GetRecordPtr(item));
    blob->Commit();
    blob->SetModified(false);  // posted: the next edit writes it only when it changes again
  }
}

void TMemData::PutRecord(const void* recBuf) {
  DA_ASSERT_MSG(FCurrentItem != nullptr, "No current record");
  FBlockManager.PutRecord(FCurrentItem, recBuf);
  DropRecordIndex();
  RefreshItemVisibility(FCurrentItem);
}

void TMemData::AppendRecord(const void* recBuf) {
  SetToEnd();
  InsertRecord(recBuf);
}

void TMemData::InsertRecord(const void* recBuf) {
  if (!FCachedUpdates) NotifyInsertRecord();
  PItemHeader item = InsertItem();
  FBlockManager.PutRecord(item, recBuf);
  CommitBlobs(item);
  if (FCachedUpdates) CacheInsert(item);
  MoveTo(item);
  DropRecordIndex();
  if (FSortColumns.Count() > 0) MoveSortedRecord(item);
  RefreshItemVisibility(item);
}

void TMemData::UpdateRecord(const void* recBuf) {
  DA_ASSERT_MSG(FCurrentItem != nullptr, "No current record");
  if (FCachedUpdates)
    CacheUpdate(FCurrentItem, recBuf);
  else
    NotifyUpdateRecord();
  FBlockManager.PutRecord(FCurrentItem, recBuf);
  DropRecordIndex();
  RefreshItemVisibility(FCurrentItem);
  MoveSortedRecord(FCurrentItem);
}

void TMemData::DeleteRecord() {
  DA_ASSERT_MSG(FCurrentItem != nullptr, "No current record");
  if (FCurrentItem == FLastItem) Fetch();  // so the cursor has somewhere to go
  if (FCachedUpdates) {
    CacheDelete(FCurrentItem);
    return;
  }
  NotifyDeleteRecord();
  RemoveRecord();
}

// ---- Bookmarks --------------------------------------------------------------------------------

void TMemData::GetBookmark(TRecBookmark& bookmark) {
  bookmark = TRecBookmark{};
  bookmark.RefreshIteration = FRefreshIteration;
  bookmark.Item = FCurrentItem;
  bookmark.ItemStamp = FCurrentItem ? FCurrentItem->Stamp : 0;
  const int32_t no = GetRecordNo();
  bookmark.Order = no > 0 ? no : -1;
}

namespace {

bool SameRecord(const TRecBookmark* a, const TRecBookmark* b) {
  return a->RefreshIteration == b->RefreshIteration && a->Item == b->Item && a->ItemStamp == b->ItemStamp;
}

}  // namespace

void TMemData::SetToBookmark(const TRecBookmark* bookmark) {
  // The current item is always one in use, so a bookmark of it needs no search of the blocks:
  // a dataset returns to its current record before every move.
  if (bookmark && bookmark->Item && bookmark->RefreshIteration == FRefreshIteration &&
      ((bookmark->Item == FCurrentItem && FCurrentItem->Stamp == bookmark->ItemStamp) ||
       FBlockManager.IsItemInUse(bookmark->Item, bookmark->ItemStamp))) {
    MoveTo(bookmark->Item);
    return;
  }
  TData::SetToBookmark(bookmark);
}

bool TMemData::BookmarkValid(const TRecBookmark* bookmark) {
  if (!TData::BookmarkValid(bookmark)) return false;
  const bool live = bookmark->Item && bookmark->RefreshIteration == FRefreshIteration &&
                    FBlockManager.IsItemInUse(bookmark->Item, bookmark->ItemStamp);
  if (!live) return bookmark->Order != -1;
  return !HasFilter() || !IsHidden(bookmark->Item);
}

int TMemData::CompareBookmarks(const TRecBookmark* a, const TRecBookmark* b) {
  if (a && b && SameRecord(a, b)) return 0;
  return TData::CompareBookmarks(a, b);
}
