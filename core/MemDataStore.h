// The in-memory record store TMemData: every record of a record set lives in an item
// (core/MemBlocks.h), the items in one doubly linked list in display order. It adds to TData the
// cursor, record numbers that stay cheap while records are inserted and deleted, bookmarks, and
// the filtering of items. Provider record sets derive from it and fetch into new items.
//
// Visibility: an item is visible unless cached updates hide its status or a filter (the two
// record-filter callbacks, then the filter expression) rejects it. The verdict is kept in the item
// (FilterResult) until the filter or the item changes, and every item in the list has one.
//
// Record numbers: a visible item's number (1-based position among the visible items) is its
// Order plus RecordNoOffset. An insert or delete renumbers only the shorter side of the list; the
// offset absorbs the shift of the front side. Hidden items have Order 0 and no number.
//
// Sorting (core/MemDataSort.cpp): with index field names the list is kept in the order of their
// sort columns; inserted and updated records move to their place.
//
// Cached updates (core/MemDataCache.cpp): inserts, updates and deletes change only the items and
// are remembered in the change list until they are applied, committed or cancelled.
//
// Records in items own their complex fields: a record written by InsertRecord, UpdateRecord or
// PutRecord takes over the buffer's heap blocks and objects, and the store releases them when the
// record is deleted or the store is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/MemBlocks.h"
#include "core/MemData.h"
#include "core/MemDataCache.h"
#include "core/MemDataSort.h"

class TMemData : public TData, public TStringComparer {
 public:
  TMemData();
  ~TMemData() override;

  // ---- Lifecycle ----
  // The base Open; records that arrived while opening are then judged by the filter.
  void Open() override;
  // The base Reopen (Open judges the records again), then the records are sorted again.
  void Reopen() override;
  // The base InitFields; then the item size follows the record size and the sort columns are
  // parsed again from IndexFieldNames (raising what ParseIndexFieldNames raises).
  void InitFields() override;
  // Clears the sort columns, then the base ClearFields.
  void ClearFields() override;

  // ---- Cursor ----
  // Eof / Bof: only while no item is current.
  bool GetEof() const override;
  bool GetBof() const override;
  // The current record's number; 0 without a current record or on a hidden one.
  int32_t GetRecordNo() const override;
  // Moves to record n (fetching as far as needed). Nothing happens for n < 1 or beyond the last
  // record.
  void SetRecordNo(int32_t n) override;
  // Copies the current record (RecordSize bytes) into recBuf, also when the filter hides it.
  // Nothing at Bof or Eof.
  void GetRecord(void* recBuf) override;
  // Move to the next / previous visible record and copy it into recBuf (may be nil). Past the end
  // the cursor is at Eof / Bof.
  void GetNextRecord(void* recBuf) override;
  void GetPriorRecord(void* recBuf) override;
  void SetToBegin() override;
  void SetToEnd() override;

  // ---- Editing ----
  // Writes recBuf into the current item, which is judged by the filter again. EAssertionFailed
  // without a current item.
  void PutRecord(const void* recBuf) override;
  // SetToEnd, then InsertRecord.
  void AppendRecord(const void* recBuf) override;
  // Without cached updates the insert callback runs first (its error leaves the store
  // unchanged). Then a new item before the current one (at the end at Eof, first at Bof) receives
  // recBuf, its blobs are committed, and it becomes current. A record the filter rejects is kept
  // but hidden. EOutOfMemory when no item can be had.
  void InsertRecord(const void* recBuf) override;
  // Without cached updates the update callback runs first. Then recBuf replaces the current
  // record, which is judged by the filter again. EAssertionFailed without a current item.
  void UpdateRecord(const void* recBuf) override;
  // Without cached updates the delete callback runs first. Then the current record's complex
  // fields are released and its item deleted; the cursor moves to the next item (the previous
  // one when it was last). EAssertionFailed without a current item.
  void DeleteRecord() override;

  // ---- Bookmarks ----
  // { RefreshIteration, current item and its stamp, record number or -1 }.
  void GetBookmark(TRecBookmark& bookmark) override;
  // To the bookmark's item when it is from this iteration and still holds the same record;
  // otherwise to the bookmark's record number.
  void SetToBookmark(const TRecBookmark* bookmark) override;
  // False for nil, for a bookmark without item and number, and, with a filter set, for one whose
  // item is hidden.
  bool BookmarkValid(const TRecBookmark* bookmark) override;
  // 0 for the same record; otherwise by record number (nil first).
  int CompareBookmarks(const TRecBookmark* a, const TRecBookmark* b) override;

  // ---- Filter ----
  // Judges every item again and renumbers. A filter that raises while judging leaves every record
  // visible and the error is raised.
  void FilterUpdated() override;
  // Judges again when the set changes.
  void SetFilterItemTypes(TItemTypes value) override;

  // ---- Sorting (core/MemDataSort.cpp) ----
  const std::string& IndexFieldNames() const noexcept { return FIndexFieldNames; }
  // Stores the text (see ParseIndexFieldNames). While active, parses it and sorts; a text that
  // does not parse, or a sort that a comparison fails, raises and leaves the store unsorted (no
  // sort columns, an empty text) with its records in place. Inactive, the text is parsed by
  // InitFields or the next SortItems.
  virtual void SetIndexFieldNames(const std::string& text);
  const TSortColumns& SortColumns() const noexcept { return FSortColumns; }
  // Sorts every item of the list (hidden ones too) by the sort columns, stably, and renumbers;
  // the cursor stays on its record. Nothing without sort columns. A comparison that fails
  // raises; the list then keeps every record, numbered, in a partly sorted order. A single
  // integer column of stored data is ordered by its stored values (nulls by GetNull) without
  // calling CompareBySortColumn.
  virtual void SortItems();
  // A key (in the form KeyCompareValue describes) against a field of a record: -1, 0, 1; a null
  // field comes before every key. Raises what CompareValues raises.
  virtual int CompareFields(const void* valuePtr, TDataType valueType, int options, const void* recBuf,
                            const TFieldDesc& field);
  // CompareFieldValue under the column's case sensitivity.
  virtual int CompareBySortColumn(const void* recBuf1, const void* recBuf2, const TSortColumn& column);
  // The field in two records (CompareFieldValues).
  virtual int CompareFieldValue(const void* recBuf1, const void* recBuf2, int options,
                                const TFieldDesc& field);
  // Two records (RecordSize bytes each) by all sort columns, a descending column counting
  // backwards; calculated columns are computed for both. 0 without sort columns.
  int CompareRecords(const void* recBuf1, const void* recBuf2);

  // ---- Cached updates (core/MemDataCache.cpp) ----
  // The current record's status (isUnmodified without one) and update result (UpdateResultNone
  // without one).
  TItemStatus GetUpdateStatus() override;
  uint8_t GetUpdateResult() override;
  // Whether a change was not applied yet.
  bool GetUpdatesPending() override;
  // Whether changes are kept, applied or not, until committed or cancelled.
  bool HasCachedChanges() const noexcept { return !FCache.Empty(); }
  // The buffers the apply callback gets: the record with its changes and as it was. Unset, the
  // store uses its own.
  void SetCacheRecBuf(void* newBuf, void* oldBuf) override;
  // Calls NotifyApplyRecord for every change not applied yet, in the order of each record's first
  // change, and keeps the answer as the change's update result (uaRetry repeats the change, or
  // the batch opened by UpdateResultDeferred). A modified or inserted record takes back the
  // values the callback leaves in the new buffer. The cursor is restored afterwards; an error of
  // the callback propagates. Nothing without cached updates.
  void ApplyUpdates() override;
  // Told by the apply callback before it raises: how many changes of the open batch (in order,
  // the current one last) reached the server for good. They count as applied, the rest stays
  // pending, as when each change is applied alone.
  void SetBatchRan(int count) noexcept { FBatchRan = count; }
  // A value the server gave a record of the apply after the record was taken back (an insert id
  // told when its batch ran) goes into the item's record, which keeps its place in the sort
  // order; nothing when the item no longer holds the record of that stamp.
  void PutAppliedField(PItemHeader item, uint32_t stamp, int fieldNo, const Variant& value);
  // Applies pending changes first, then forgets every applied change: deleted records leave the
  // list, the others become unmodified. Changes not applied stay.
  void CommitUpdates() override;
  // Forgets the applied changes as CommitUpdates does, applying nothing: the changes not applied
  // stay pending.
  void CommitAppliedUpdates() override;
  // Undoes every change (values, inserts and deletes) and empties the change list.
  void CancelUpdates() override;
  // Marks every change as not applied, so the next ApplyUpdates sends it again.
  void RestoreUpdates() override;
  // Undoes the current record's change and forgets it.
  void RevertRecord() override;
  // As GetRecord, but the record as it was before its first change when it has changed.
  void GetOldRecord(void* recBuf) override;

  // ---- Fetching ----
  // Fetches further records into new items at the end of the list; false when none came. The
  // record store itself holds all its records: false.
  virtual bool Fetch();

  // ---- Items ----
  PItemHeader FirstItem() const noexcept { return FFirstItem; }
  PItemHeader LastItem() const noexcept { return FLastItem; }
  PItemHeader CurrentItem() const noexcept { return FCurrentItem; }
  int32_t RecordNoOffset() const noexcept { return FRecordNoOffset; }
  // Stamp of the current contents, new for every InitData of any record store.
  uint32_t RefreshIteration() const noexcept { return FRefreshIteration; }
  // Changes each time the records are freed: a caller whose work raised can tell whether the
  // items it held went with a close made while the error was handled.
  uint64_t DataGeneration() const noexcept { return FDataGeneration; }
  TBlockManager& BlockManager() noexcept { return FBlockManager; }
  // Whether the item is hidden (nil counts as hidden). Judges it when it has no verdict yet, which
  // runs the filter callbacks and the filter expression and raises what they raise.
  bool IsHidden(PItemHeader item) {
    if (!item) return true;
    if (item->FilterResult == FilterVisible) return false;
    if (item->FilterResult == FilterHidden) return true;
    return JudgeItem(item);
  }
  // Builds the array of the visible items in list order, which SetRecordNo then uses, unless it
  // exists. Any change of the list or of a verdict drops it.
  void BuildRecordIndex();

  enum TOrderUpdate : uint8_t {
    ouInserted = 0,  // the item was linked and is to be counted when visible
    ouDeleted = 1,   // the item, still linked, stops being counted (it is about to go or hide)
    ouAll = 2,       // judge every item and number all of them from 1
  };
  // Keeps RecordCount and the record numbers right after one item came or went (renumbering the
  // shorter side), or for the whole list. ouAll raises what judging raises; then every item is
  // left visible and numbered.
  void UpdateItemOrders(PItemHeader item, TOrderUpdate mode);

 protected:
  void InitData() override;
  void FreeData() override;
  std::unique_ptr<TFilterExpression> ParseFilter(const std::string& text) override;

  // A new item linked at the end of the list, neither judged nor counted: the caller writes its
  // record, then counts the new items with ReorderItems. EOutOfMemory when none can be had.
  PItemHeader AddItem();
  // Judges the items from `first` to the last one (just added and filled) and numbers and counts
  // the visible ones after the visible items before them. A record the filter cannot judge (its
  // callback or expression raises) stays visible.
  void ReorderItems(PItemHeader first);
  // A new item linked at the cursor: at Eof at the end, at Bof first, otherwise before the
  // current item. Neither judged nor counted.
  PItemHeader InsertItem();
  // Unlinks and frees an item that is not counted, with its rollback record and change entry; the
  // cursor moves off it as DeleteRecord says.
  void DeleteItem(PItemHeader item);
  // Releases the current record's complex fields and deletes its item, keeping numbers right.
  void RemoveRecord();
  // Judges an item whose record or status changed and counts or uncounts it accordingly. A record
  // the filter cannot judge stays visible.
  void RefreshItemVisibility(PItemHeader item);
  void DropRecordIndex() noexcept;
  // Numbers the items by their present verdicts, without judging them again.
  void AssignNumbers() noexcept;
  // Moves an item whose record changed to its place in the sort order (compared with its
  // neighbours, then placed by halving the order), keeping numbers right. A comparison that fails
  // leaves it where it is.
  void MoveSortedRecord(PItemHeader item);

  PItemHeader FFirstItem = nullptr;
  PItemHeader FLastItem = nullptr;
  PItemHeader FCurrentItem = nullptr;

 private:
  bool PassesFilters(PItemHeader item);
  // IsHidden for an item without a verdict: judges it and keeps the verdict. Out of line, so that
  // a scan over judged items saves no registers for it.
  [[gnu::noinline]] bool JudgeItem(PItemHeader item);
  void JudgeSafely(PItemHeader item);
  // RefreshItemVisibility for every item but one just appended without a filter; out of line, so
  // that an append saves no registers for it.
  [[gnu::noinline]] void RefreshJudgedItem(PItemHeader item);
  void CountItem(PItemHeader item);
  void UncountItem(PItemHeader item);
  void NumberAll();
  void NumberForward(PItemHeader from, int32_t order, PItemHeader skip) noexcept;
  void NumberBackward(PItemHeader from, int32_t order, PItemHeader skip) noexcept;
  PItemHeader PrevCounted(PItemHeader item) const noexcept;
  PItemHeader NextCounted(PItemHeader item) const noexcept;
  PItemHeader FindRecordNo(int32_t n);
  void MoveTo(PItemHeader item) noexcept;
  void Prefetch(const TItemHeader* item) const noexcept;
  void LinkBefore(PItemHeader item, PItemHeader next) noexcept;
  void CommitBlobs(PItemHeader item);
  // Complex fields of an item's record (and of its rollback record).
  void ReleaseItemFields(PItemHeader item);
  void ReleaseAllRecords();
  void* FilterBuffer();

  TBlockManager FBlockManager;
  uint32_t FRefreshIteration = 0;
  uint64_t FDataGeneration = 0;
  std::vector<PItemHeader> FRecordIndex;
  bool FRecordIndexBuilt = false;
  std::vector<int> FBlobFieldNos;        // data blob fields, committed on insert
  std::vector<uint32_t> FObjectOffsets;  // data blob and variant fields: objects in the record
  bool FHeapFieldsOnly = false;          // every complex field is a heap reference
  void* FFilterBuf = nullptr;            // record plus calculated fields, for filters

  // Sorting.
  int CompareItems(PItemHeader a, PItemHeader b);
  void ParseSortColumns();
  void RelinkAfter(PItemHeader item, PItemHeader prev) noexcept;
  void RelinkInOrder(const std::vector<PItemHeader>& items) noexcept;
  bool SortByStoredInteger();
  // The items in list order, for sorted inserts to find their place by halving. Built when a
  // record first has to move; any other change of the list drops it, except that one item just
  // linked (FSortOrderPending) may be missing from it.
  void DropSortOrder() noexcept;
  void NoteLinked(PItemHeader item) noexcept;
  void NoteStaying(PItemHeader item) noexcept;
  void SortOrderWithout(PItemHeader item);
  size_t SortedPlace(PItemHeader item, bool forward);
  PItemHeader WalkedPlace(PItemHeader item, bool forward);
  void MoveItemAfter(PItemHeader item, PItemHeader prev);
  // Where the item last placed lies in the array, so renumbering can start there.
  bool SortOrderIndex(PItemHeader item, size_t& index) const noexcept;
  void HintSortOrder(PItemHeader item, size_t index) noexcept;
  std::vector<PItemHeader> FSortOrder;
  bool FSortOrderValid = false;
  PItemHeader FSortOrderPending = nullptr;
  PItemHeader FSortOrderHint = nullptr;
  size_t FSortOrderHintIndex = 0;
  TSortColumns FSortColumns;
  std::string FIndexFieldNames;
  bool FSortColumnsStale = false;  // the text changed since it was last parsed
  bool FSortHasCalcFields = false;
  void* FSortBuf1 = nullptr;  // records plus calculated fields, for calculated sort columns
  void* FSortBuf2 = nullptr;

  // Cached updates.
  void CacheInsert(PItemHeader item);
  void CacheUpdate(PItemHeader item, const void* recBuf);
  void CacheDelete(PItemHeader item);
  void CommitAppliedChange(PItemHeader item);
  void SplitChangedBlobs(PItemHeader rollback, const void* recBuf);
  void RestoreFromRollback(PItemHeader item);
  bool RevertItem(PItemHeader item, bool incremental);
  void MoveOffHidden();
  void ApplyEntry(TCacheList::iterator entry, TUpdateAction& action);
  void TakeAppliedRecord(PItemHeader item, uint32_t stamp, const void* recBuf);
  void StoreApplyResult(uint64_t batchSeq, TCacheList::iterator entry, TUpdateAction action);
  void KeepBatchRan(uint64_t batchSeq, TCacheList::iterator entry) noexcept;
  TCacheList FCache;
  bool FApplying = false;           // an ApplyUpdates runs: a nested one does nothing
  int FBatchRan = 0;                // SetBatchRan's count for the change being applied
  void* FNewCacheRecBuf = nullptr;  // lent by the dataset
  void* FOldCacheRecBuf = nullptr;
  void* FOwnNewRecBuf = nullptr;  // used when none is lent
  void* FOwnOldRecBuf = nullptr;
};
