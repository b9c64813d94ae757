// Randomised differential test of the record store against a plain model: a vector of records in
// list order (hidden ones included) and a cursor. Inserts, appends, updates, deletes, moves,
// filter changes and bookmarks; after every step the record count, the cursor, the record
// numbers and positioning by number are compared, and every few steps the whole navigation.
// Sorted, the store also switches its order off and on; the model walks each inserted or
// updated record to its place neighbour by neighbour and sorts with std::stable_sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/core/MemDataStoreTestStore.h"

namespace {

struct ModelRecord {
  int id;
  int v;
};

struct Bookmark {
  TRecBookmark mark;
  int id;
  int number;
};

class StoreModel {
 public:
  StoreModel(uint32_t seed, bool sorted) : FRng(seed), FSortable(sorted) {
    FStore.Open();
    FStore.BlockManager().SetDefaultItemCount(4);  // small blocks: many are released and reused
    if (sorted) ToggleSort();
  }

  void Run(int steps) {
    for (int step = 0; step < steps; ++step) {
      SCOPED_TRACE("step " + std::to_string(step) + ": " + FLastOp);
      Step();
      CheckCursor();
      if (::testing::Test::HasFatalFailure()) return;
      CheckRandomPosition();
      if (step % 25 == 0) CheckEverything();
      if (::testing::Test::HasFatalFailure()) return;
    }
  }

 private:
  int Rand(int n) { return static_cast<int>(FRng() % static_cast<uint32_t>(n)); }

  bool Visible(const ModelRecord& r) const { return !FThreshold || r.v >= *FThreshold; }
  std::vector<int> VisibleIndexes() const {
    std::vector<int> out;
    for (size_t i = 0; i < FAll.size(); ++i)
      if (Visible(FAll[i])) out.push_back(static_cast<int>(i));
    return out;
  }
  int NumberOf(int index) const {
    if (index < 0 || !Visible(FAll[static_cast<size_t>(index)])) return 0;
    int n = 0;
    for (int i = 0; i <= index; ++i) n += Visible(FAll[static_cast<size_t>(i)]);
    return n;
  }
  int IndexOfId(int id) const {
    for (size_t i = 0; i < FAll.size(); ++i)
      if (FAll[i].id == id) return static_cast<int>(i);
    return -1;
  }
  void MoveTo(int index) {
    FCur = index;
    FBof = FEof = false;
  }

  void Step() {
    const int op = Rand(100);
    if (FSortable && op >= 98) return ToggleSort();
    if (op < 20) return Insert();
    if (op < 35) return Append();
    if (op < 47) return Update();
    if (op < 62) return Delete();
    if (op < 72) return Navigate();
    if (op < 77) return ChangeFilter();
    if (op < 85) return TakeBookmark();
    if (op < 92) return GoToBookmark();
    if (op < 96) return Ends();
    FLastOp = "build record index";
    FStore.BuildRecordIndex();
  }

  void Insert() {
    // Put the cursor somewhere first: on a record, at the beginning or at the end.
    const int where = Rand(10);
    if (where == 0) {
      FStore.SetToBegin();
      FCur = -1;
      FBof = true;
      FEof = FAll.empty();
    } else if (where == 1) {
      FStore.SetToEnd();
      FCur = -1;
      FEof = true;
      FBof = FAll.empty();
    }
    const ModelRecord r{FNextId++, Rand(100)};
    FLastOp = "insert " + std::to_string(r.id) + " v " + std::to_string(r.v);
    FStore.Insert({{"ID", Variant(r.id)}, {"V", Variant(r.v)}});
    int at;
    if (FEof || (!FBof && FCur < 0))
      at = static_cast<int>(FAll.size());
    else if (FBof)
      at = 0;
    else
      at = FCur;
    FAll.insert(FAll.begin() + at, r);
    MoveTo(Place(at));
  }

  void Append() {
    const ModelRecord r{FNextId++, Rand(100)};
    FLastOp = "append " + std::to_string(r.id);
    FStore.Append({{"ID", Variant(r.id)}, {"V", Variant(r.v)}});
    FAll.push_back(r);
    MoveTo(Place(static_cast<int>(FAll.size()) - 1));
  }

  // Where a sorted store moves the record at `at`: forward past smaller values, or back past
  // larger ones; an equal neighbour stops it.
  int Place(int at) {
    if (!FSorted) return at;
    const ModelRecord r = FAll[static_cast<size_t>(at)];
    int to = at;
    while (to + 1 < static_cast<int>(FAll.size()) && FAll[static_cast<size_t>(to + 1)].v < r.v) ++to;
    if (to == at)
      while (to > 0 && FAll[static_cast<size_t>(to - 1)].v > r.v) --to;
    FAll.erase(FAll.begin() + at);
    FAll.insert(FAll.begin() + to, r);
    return to;
  }

  void ToggleSort() {
    FSorted = !FSorted;
    FLastOp = FSorted ? "sort" : "unsort";
    FStore.SetIndexFieldNames(FSorted ? "V" : "");
    if (!FSorted) return;
    const int id = FCur >= 0 ? FAll[static_cast<size_t>(FCur)].id : -1;
    std::stable_sort(FAll.begin(), FAll.end(),
                     [](const ModelRecord& a, const ModelRecord& b) { return a.v < b.v; });
    if (id >= 0) MoveTo(IndexOfId(id));
  }

  void Update() {
    if (FCur < 0) return;
    const int v = Rand(100);
    FLastOp = "update " + std::to_string(FAll[static_cast<size_t>(FCur)].id) + " v " + std::to_string(v);
    FStore.Update({{"V", Variant(v)}});
    FAll[static_cast<size_t>(FCur)].v = v;
    MoveTo(Place(FCur));
  }

  void Delete() {
    if (FCur < 0) return;
    FLastOp = "delete " + std::to_string(FAll[static_cast<size_t>(FCur)].id);
    FStore.DeleteRecord();
    FAll.erase(FAll.begin() + FCur);
    if (FAll.empty()) {
      FCur = -1;
      FBof = FEof = true;
    } else if (FCur >= static_cast<int>(FAll.size())) {
      FCur = static_cast<int>(FAll.size()) - 1;
    }
  }

  void Navigate() {
    const bool forward = Rand(2) == 0;
    FLastOp = forward ? "next" : "prior";
    if (forward) {
      FStore.GetNextRecord(nullptr);
      if (FEof) return;
      int i = FBof ? 0 : (FCur >= 0 ? FCur + 1 : 0);
      FBof = false;
      while (i < static_cast<int>(FAll.size()) && !Visible(FAll[static_cast<size_t>(i)])) ++i;
      if (i >= static_cast<int>(FAll.size())) {
        FCur = -1;
        FEof = true;
      } else {
        MoveTo(i);
      }
    } else {
      FStore.GetPriorRecord(nullptr);
      if (FBof) return;
      int i = FEof ? static_cast<int>(FAll.size()) - 1
                   : (FCur >= 0 ? FCur - 1 : static_cast<int>(FAll.size()) - 1);
      FEof = false;
      while (i >= 0 && !Visible(FAll[static_cast<size_t>(i)])) --i;
      if (i < 0) {
        FCur = -1;
        FBof = true;
      } else {
        MoveTo(i);
      }
    }
  }

  void Ends() {
    if (Rand(2) == 0) {
      FLastOp = "to begin";
      FStore.SetToBegin();
      FCur = -1;
      FBof = true;
      FEof = FAll.empty();
    } else {
      FLastOp = "to end";
      FStore.SetToEnd();
      FCur = -1;
      FEof = true;
      FBof = FAll.empty();
    }
  }

  void ChangeFilter() {
    if (Rand(3) == 0) {
      FThreshold.reset();
      FStore.SetFilterText("");
    } else {
      FThreshold = Rand(100);
      FStore.SetFilterText("V >= " + std::to_string(*FThreshold));
    }
    FLastOp = "filter " + FStore.FilterText();
    FStore.FilterUpdated();
    if (VisibleIndexes().empty()) {
      FCur = -1;
      FEof = true;
    }
  }

  void TakeBookmark() {
    if (FCur < 0 || NumberOf(FCur) == 0) return;
    Bookmark b{};
    FStore.GetBookmark(b.mark);
    b.id = FAll[static_cast<size_t>(FCur)].id;
    b.number = NumberOf(FCur);
    FLastOp = "bookmark " + std::to_string(b.id);
    ASSERT_EQ(b.mark.Order, b.number);
    FBookmarks.push_back(b);
    if (FBookmarks.size() > 8) FBookmarks.erase(FBookmarks.begin());
  }

  // A bookmark whose record still exists finds it, wherever it now is; one whose record is gone
  // falls back to the number it had.
  void GoToBookmark() {
    if (FBookmarks.empty()) return;
    const Bookmark& b = FBookmarks[static_cast<size_t>(Rand(static_cast<int>(FBookmarks.size())))];
    FLastOp = "go to bookmark " + std::to_string(b.id);
    FStore.SetToBookmark(&b.mark);
    const int index = IndexOfId(b.id);
    if (index >= 0) {
      MoveTo(index);
      return;
    }
    const std::vector<int> visible = VisibleIndexes();
    if (b.number <= static_cast<int>(visible.size())) MoveTo(visible[static_cast<size_t>(b.number - 1)]);
  }

  int CurrentId() {
    PItemHeader item = FStore.CurrentItem();
    return FStore.GetFieldAsVariant(FStore.No("ID"), TBlockManager::GetRecordPtr(item)).AsInteger();
  }

  void CheckCursor() {
    const std::vector<int> visible = VisibleIndexes();
    ASSERT_EQ(FStore.GetRecordCount(), static_cast<int>(visible.size()));
    ASSERT_EQ(FStore.CurrentItem() == nullptr, FCur < 0);
    ASSERT_EQ(FStore.GetBof(), FCur < 0 && FBof);
    ASSERT_EQ(FStore.GetEof(), FCur < 0 && FEof);
    if (FCur >= 0) {
      ASSERT_EQ(CurrentId(), FAll[static_cast<size_t>(FCur)].id);
    }
    ASSERT_EQ(FStore.GetRecordNo(), NumberOf(FCur));
  }

  void CheckRandomPosition() {
    const int count = FStore.GetRecordCount();
    const int n = Rand(count + 3) - 1;  // -1 .. count + 1
    FStore.SetRecordNo(n);
    if (n >= 1 && n <= count) MoveTo(VisibleIndexes()[static_cast<size_t>(n - 1)]);
    CheckCursor();
  }

  void CheckEverything() {
    std::vector<int> ids;
    for (int i : VisibleIndexes()) ids.push_back(FAll[static_cast<size_t>(i)].id);
    // Internal numbers: a visible item's Order plus the offset is its position.
    int position = 0;
    for (PItemHeader p = FStore.FirstItem(); p; p = p->Next)
      if (p->FilterResult == FilterVisible) {
        ASSERT_EQ(p->Order + FStore.RecordNoOffset(), ++position);
      }
    std::vector<int> forward;
    for (const Variant& v : FStore.Column("ID")) forward.push_back(v.AsInteger());
    ASSERT_EQ(forward, ids);
    std::vector<int> backward;
    FStore.SetToEnd();
    for (FStore.GetPriorRecord(nullptr); !FStore.GetBof(); FStore.GetPriorRecord(nullptr))
      backward.insert(backward.begin(), CurrentId());
    ASSERT_EQ(backward, ids);
    for (int n = 1; n <= static_cast<int>(ids.size()); ++n) {
      FStore.SetRecordNo(n);
      ASSERT_EQ(CurrentId(), ids[static_cast<size_t>(n - 1)]);
      ASSERT_EQ(FStore.GetRecordNo(), n);
    }
    FStore.SetToBegin();
    FCur = -1;
    FBof = true;
    FEof = FAll.empty();
  }

  std::mt19937 FRng;
  bool FSortable;
  bool FSorted = false;
  TTestMemData FStore{{{"ID", dtInt32, 4}, {"V", dtInt32, 4}, {"NOTE", dtExtString, RefFieldSize, 20}}};
  std::vector<ModelRecord> FAll;
  int FCur = -1;
  bool FBof = true;
  bool FEof = true;
  std::optional<int> FThreshold;
  std::vector<Bookmark> FBookmarks;
  int FNextId = 1;
  std::string FLastOp;
};

TEST(StoreModelTest, RandomisedAgainstAPlainModel) {
  for (bool sorted : {false, true}) {
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
      SCOPED_TRACE(std::string(sorted ? "sorted, " : "") + "seed " + std::to_string(seed));
      StoreModel model(seed, sorted);
      model.Run(2500);
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace
