#include "core/MemDataCache.h"

#include <cstring>
#include <iterator>

#include "core/CLRClasses.h"
#include "core/MemDataStore.h"
#include "platform/runtime/Exceptions.h"

// ---- TCacheList -------------------------------------------------------------------------------

TCacheList::iterator TCacheList::Add(PItemHeader item) {
  DA_ASSERT_MSG(FIndex.find(item) == FIndex.end(), "The item has a change entry already");
  FEntries.push_back(TCacheItem{item, FNextSeq++});
  const iterator entry = std::prev(FEntries.end());
  try {
    FIndex.emplace(item, entry);
  } catch (...) {
    FEntries.pop_back();
    throw;
  }
  return entry;
}

TCacheList::iterator TCacheList::Find(PItemHeader item) {
  const auto found = FIndex.find(item);
  return found == FIndex.end() ? FEntries.end() : found->second;
}

void TCacheList::Remove(PItemHeader item) noexcept {
  const auto found = FIndex.find(item);
  if (found == FIndex.end()) return;
  FEntries.erase(found->second);
  FIndex.erase(found);
}

TCacheList::iterator TCacheList::Erase(iterator entry) noexcept {
  FIndex.erase(entry->Item);
  return FEntries.erase(entry);
}

bool TCacheList::Holds(PItemHeader item, uint64_t seq) {
  const iterator entry = Find(item);
  return entry != FEntries.end() && entry->Seq == seq;
}

TCacheList::iterator TCacheList::FirstAfter(uint64_t seq) {
  iterator entry = FEntries.begin();
  while (entry != FEntries.end() && entry->Seq <= seq) ++entry;
  return entry;
}

void TCacheList::Clear() noexcept {
  FEntries.clear();
  FIndex.clear();
}

// ---- State of the current record --------------------------------------------------------------

TItemStatus TMemData::GetUpdateStatus() {
  return FCurrentItem ? FCurrentItem->Status : isUnmodified;
}

uint8_t TMemData::GetUpdateResult() {
  return FCurrentItem ? FCurrentItem->UpdateResult : UpdateResultNone;
}

bool TMemData::GetUpdatesPending() {
  for (const TCacheItem& entry : FCache)
    if (entry.Item->UpdateResult != uaApplied) return true;
  return false;
}

void TMemData::SetCacheRecBuf(void* newBuf, void* oldBuf) {
  FNewCacheRecBuf = newBuf;
  FOldCacheRecBuf = oldBuf;
}

void TMemData::GetOldRecord(void* recBuf) {
  if (FBof || FEof || !FCurrentItem) return;
  PItemHeader rollback = FBlockManager.Rollback(FCurrentItem);
  FBlockManager.GetRecord(rollback ? rollback : FCurrentItem, recBuf);
}

// ---- Changes ----------------------------------------------------------------------------------

void TMemData::CacheInsert(PItemHeader item) {
  item->Status = isInserted;
  item->UpdateResult = UpdateResultNone;
  FCache.Add(item);
}

// A change that was applied but not committed is on the server: a further change of the record
// starts from what the server holds, so the next apply finds the row by its present values.
void TMemData::CommitAppliedChange(PItemHeader item) {
  if (item->UpdateResult != uaApplied || (item->Status != isModified && item->Status != isInserted)) return;
  if (PItemHeader rollback = FBlockManager.Rollback(item)) {
    if (FHasComplexFields) FreeComplexFields(TBlockManager::GetRecordPtr(rollback), true);
    FBlockManager.SetRollback(item, nullptr);
    FBlockManager.FreeItem(rollback);
  }
  item->Status = isUnmodified;
  item->UpdateResult = UpdateResultNone;
  FCache.Remove(item);
}

// A blob the edited record shares with the rollback record and changed in cached mode keeps its
// content as it was in its own rollback copy: that copy goes to the rollback record.
void TMemData::SplitChangedBlobs(PItemHeader rollback, const void* recBuf) {
  uint8_t* old = TBlockManager::GetRecordPtr(rollback);
  for (const auto& f : FFields) {
    if (f->FieldDescKind != fdkData || f->HasParent() || !IsBlobFieldType(f->DataType)) continue;
    void* ref = Marshal::ReadIntPtr(old, f->Offset);
    if (!ref || ref != Marshal::ReadIntPtr(recBuf, f->Offset)) continue;
    auto* blob = static_cast<TBlob*>(TSharedObject::FromHandle(ref));
    TBlob* saved = blob->TakeRollback();
    if (!saved) continue;
    Marshal::WriteIntPtr(old, f->Offset, saved->GetHandle());
    blob->Release();  // the rollback record's reference moved to the saved copy
  }
}

void TMemData::CacheUpdate(PItemHeader item, const void* recBuf) {
  // Shown only when FilterItemTypes asks for them; changing one would turn its delete into an update.
  DA_ASSERT_MSG(item->Status != isDeleted, "A deleted record cannot be changed");
  CommitAppliedChange(item);
  if (item->Status != isInserted) {
    PItemHeader rollback = FBlockManager.Rollback(item);
    if (!rollback) {
      rollback = FBlockManager.AllocItem();
      FBlockManager.CopyRecord(item, rollback);
      try {
        FBlockManager.SetRollback(item, rollback);
      } catch (...) {
        FBlockManager.FreeItem(rollback);
        throw;
      }
      if (FHasComplexFields) AddRefComplexFields(TBlockManager::GetRecordPtr(rollback));
    }
    SplitChangedBlobs(rollback, recBuf);
    if (item->Status == isUnmodified) FCache.Add(item);
    item->Status = isModified;
  }
  item->UpdateResult = UpdateResultNone;
}

// The record gets its values from before the first change back.
void TMemData::RestoreFromRollback(PItemHeader item) {
  PItemHeader rollback = FBlockManager.Rollback(item);
  if (FHasComplexFields) FreeComplexFields(TBlockManager::GetRecordPtr(item), true);
  FBlockManager.CopyRecord(rollback, item);
  FBlockManager.SetRollback(item, nullptr);
  FBlockManager.FreeItem(rollback);
}

// A deleted record stays in the list, hidden by FilterItemTypes, until it is committed.
void TMemData::CacheDelete(PItemHeader item) {
  DA_ASSERT_MSG(item == FCurrentItem, "Not the current record");
  if (item->Status == isDeleted) return;
  CommitAppliedChange(item);
  if (item->Status == isInserted) {
    FCache.Remove(item);  // never sent: nothing to delete on the server
    RemoveRecord();
    return;
  }
  if (item->Status == isUnmodified) FCache.Add(item);
  if (item->Status == isModified) RestoreFromRollback(item);
  item->Status = isDeleted;
  item->UpdateResult = UpdateResultNone;
  DropRecordIndex();
  RefreshItemVisibility(item);
  MoveSortedRecord(item);
  MoveOffHidden();
}

// Off a current record that is hidden now, as a delete moves off: to the next visible record,
// else the previous one, else to the end.
void TMemData::MoveOffHidden() {
  PItemHeader item = FCurrentItem;
  if (!item || !IsHidden(item)) return;
  PItemHeader p = item->Next;
  while (p && IsHidden(p)) p = p->Next;
  if (!p)
    for (p = item->Prev; p && IsHidden(p);) p = p->Prev;
  if (p) {
    MoveTo(p);
  } else {
    FCurrentItem = nullptr;
    FEof = true;
  }
}

// ---- Reverting --------------------------------------------------------------------------------

// Undoes the item's change. Incremental: numbers are kept right as it goes; otherwise the caller
// renumbers everything. False when the item was an insert and is gone.
bool TMemData::RevertItem(PItemHeader item, bool incremental) {
  switch (item->Status) {
    case isModified:
      RestoreFromRollback(item);
      break;
    case isInserted:
      ReleaseItemFields(item);
      if (incremental) UpdateItemOrders(item, ouDeleted);
      DeleteItem(item);
      return false;
    default:
      break;
  }
  item->Status = isUnmodified;
  item->UpdateResult = UpdateResultNone;
  if (incremental) {
    RefreshItemVisibility(item);
    MoveSortedRecord(item);
  } else {
    item->FilterResult = FilterNotEvaluated;
  }
  return true;
}

void TMemData::RevertRecord() {
  PItemHeader item = FCurrentItem;
  if (!item) return;
  const TCacheList::iterator entry = FCache.Find(item);
  if (entry == FCache.end()) return;
  FCache.Erase(entry);
  DropRecordIndex();
  RevertItem(item, true);
  MoveOffHidden();
}

void TMemData::CancelUpdates() {
  if (FCache.Empty()) return;
  for (TCacheList::iterator entry = FCache.begin(); entry != FCache.end();) {
    PItemHeader item = entry->Item;
    entry = FCache.Erase(entry);
    RevertItem(item, false);
  }
  UpdateItemOrders(nullptr, ouAll);
  if (FSortColumns.Count() > 0) {
    try {
      SortItems();  // restored values belong elsewhere in the order
    } catch (const EAssertionFailed&) {
      throw;
    } catch (const Exception&) {
      // Every record is back and numbered; only the order is left as it was.
    }
  }
  MoveOffHidden();
}

void TMemData::RestoreUpdates() {
  if (!FCachedUpdates) return;
  for (const TCacheItem& entry : FCache) entry.Item->UpdateResult = UpdateResultNone;
}

// ---- Applying and committing ------------------------------------------------------------------

// The record the callback left in the new buffer replaces the item's, when it still exists.
void TMemData::TakeAppliedRecord(PItemHeader item, uint32_t stamp, const void* recBuf) {
  if (!FActive || !FBlockManager.IsItemInUse(item, stamp)) return;
  if (std::memcmp(TBlockManager::GetRecordPtr(item), recBuf, static_cast<size_t>(FRecordSize)) == 0) return;
  FBlockManager.PutRecord(item, recBuf);
  DropRecordIndex();
  RefreshItemVisibility(item);
  MoveSortedRecord(item);
}

void TMemData::PutAppliedField(PItemHeader item, uint32_t stamp, int fieldNo, const Variant& value) {
  if (!FActive || item == nullptr || !FBlockManager.IsItemInUse(item, stamp)) return;
  PutFieldAsVariant(fieldNo, TBlockManager::GetRecordPtr(item), value);
  DropRecordIndex();
  RefreshItemVisibility(item);
  MoveSortedRecord(item);
}

void TMemData::ApplyEntry(TCacheList::iterator entry, TUpdateAction& action) {
  PItemHeader item = entry->Item;
  TUpdateKind kind = ukModify;
  switch (item->Status) {
    case isModified:
      kind = ukModify;
      break;
    case isInserted:
      kind = ukInsert;
      break;
    case isDeleted:
      kind = ukDelete;
      break;
    default:
      DA_ASSERT_MSG(false, "Invalid status " + std::to_string(item->Status) + " of a changed record");
  }
  void* newBuf = FNewCacheRecBuf;
  void* oldBuf = FOldCacheRecBuf;
  if (!newBuf) newBuf = FOwnNewRecBuf ? FOwnNewRecBuf : (FOwnNewRecBuf = AllocRecBuf());
  if (!oldBuf) oldBuf = FOwnOldRecBuf ? FOwnOldRecBuf : (FOwnOldRecBuf = AllocRecBuf());
  MoveTo(item);
  FBlockManager.GetRecord(item, newBuf);
  PItemHeader rollback = FBlockManager.Rollback(item);
  FBlockManager.GetRecord(rollback ? rollback : item, oldBuf);
  const bool last = std::next(entry) == FCache.end();
  if (kind == ukDelete) {
    NotifyApplyRecord(kind, action, last);
    return;
  }
  const uint32_t stamp = item->Stamp;
  try {
    NotifyApplyRecord(kind, action, last);
  } catch (...) {
    TakeAppliedRecord(item, stamp, newBuf);  // its references may have changed in the buffer
    throw;
  }
  TakeAppliedRecord(item, stamp, newBuf);
}

void TMemData::StoreApplyResult(uint64_t batchSeq, TCacheList::iterator entry, TUpdateAction action) {
  if (action != UpdateResultDeferred && batchSeq != 0)
    for (TCacheList::iterator e = FCache.FirstAfter(batchSeq - 1); e != entry; ++e)
      e->Item->UpdateResult = action;
  entry->Item->UpdateResult = action;
}

void TMemData::KeepBatchRan(uint64_t batchSeq, TCacheList::iterator entry) noexcept {
  int ran = FBatchRan;
  FBatchRan = 0;
  if (ran <= 0 || !FActive) return;
  TCacheList::iterator e = batchSeq != 0 ? FCache.FirstAfter(batchSeq - 1) : entry;
  for (; ran > 0 && e != FCache.end(); ++e) {
    if (e->Item->UpdateResult == uaApplied) continue;  // applied before: not in this batch
    e->Item->UpdateResult = uaApplied;
    --ran;
    if (e == entry) break;
  }
}

void TMemData::ApplyUpdates() {
  if (!FCachedUpdates || FApplying) return;
  FApplying = true;
  struct TApplyingGuard {
    bool& flag;
    ~TApplyingGuard() { flag = false; }
  } guard{FApplying};
  PItemHeader savedItem = FCurrentItem;
  const uint32_t savedStamp = savedItem ? savedItem->Stamp : 0;
  const bool savedBof = FBof, savedEof = FEof;
  auto restoreCursor = [&] {
    if (!FActive) return;
    if (!savedItem || FBlockManager.IsItemInUse(savedItem, savedStamp)) {
      FCurrentItem = savedItem;
      FBof = savedBof;
      FEof = savedEof;
    }
    MoveOffHidden();
  };
  try {
    uint64_t batchSeq = 0;  // first entry of the open batch, 0 when none is open
    for (TCacheList::iterator entry = FCache.begin(); FActive && entry != FCache.end();) {
      PItemHeader item = entry->Item;
      const uint64_t seq = entry->Seq;
      if (item->UpdateResult == uaApplied) {
        ++entry;
        continue;
      }
      TUpdateAction action = uaFail;
      FBatchRan = 0;
      try {
        ApplyEntry(entry, action);
      } catch (...) {
        KeepBatchRan(batchSeq, entry);
        throw;
      }
      if (!FActive) break;
      if (!FCache.Holds(item, seq)) {  // the callback committed or cancelled it
        entry = FCache.FirstAfter(seq);
        continue;
      }
      StoreApplyResult(batchSeq, entry, action);
      if (action == uaRetry) {
        if (batchSeq != 0) entry = FCache.FirstAfter(batchSeq - 1);
        batchSeq = 0;
        continue;
      }
      if (action == UpdateResultDeferred) {
        if (batchSeq == 0) batchSeq = seq;
      } else {
        batchSeq = 0;
      }
      ++entry;
    }
  } catch (...) {
    restoreCursor();
    throw;
  }
  restoreCursor();
}

void TMemData::CommitUpdates() {
  if (GetUpdatesPending()) ApplyUpdates();
  CommitAppliedUpdates();
}

void TMemData::CommitAppliedUpdates() {
  for (TCacheList::iterator entry = FCache.begin(); entry != FCache.end();) {
    PItemHeader item = entry->Item;
    if (item->UpdateResult != uaApplied) {
      ++entry;
      continue;
    }
    entry = FCache.Erase(entry);
    if (PItemHeader rollback = FBlockManager.Rollback(item)) {
      if (FHasComplexFields) FreeComplexFields(TBlockManager::GetRecordPtr(rollback), true);
      FBlockManager.SetRollback(item, nullptr);
      FBlockManager.FreeItem(rollback);
    }
    DropRecordIndex();
    if (item->Status == isDeleted) {
      ReleaseItemFields(item);
      UpdateItemOrders(item, ouDeleted);  // counted only while deleted records are shown
      DeleteItem(item);
    } else {
      item->Status = isUnmodified;
      item->UpdateResult = UpdateResultNone;
      RefreshItemVisibility(item);
    }
  }
  MoveOffHidden();
}
