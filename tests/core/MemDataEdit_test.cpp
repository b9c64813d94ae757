#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "core/CLRClasses.h"
#include "core/MemData.h"
#include "platform/runtime/Exceptions.h"
#include "tests/core/MemDataTestStore.h"

namespace {

constexpr uint16_t R = RefFieldSize;

// Heap strings longer than the heap's small buffers are allocated one by one, so LeakSanitizer
// sees any that is never released.
std::string Long(char c) {
  return std::string(3000, c);
}

enum { ID = 1, NAME, NOTE, WNAME, BYTES, MEMO, DATA, WMEMO, ANY };

// Three records holding heap strings, heap bytes, blobs and variants.
class EditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.Open();
    for (int i = 0; i < 3; ++i) {
      store.Append([&](void* b) {
        store.PutFieldAsVariant(ID, b, Variant(i));
        store.PutFieldAsVariant(NAME, b, Variant("name" + std::to_string(i)));
        store.PutFieldAsVariant(NOTE, b, Variant(Long(static_cast<char>('a' + i))));
        store.PutFieldAsVariant(WNAME, b, Variant(u"\u5BBD"));
        store.PutFieldAsVariant(BYTES, b, Variant::FromBytes({1, 2, 3}));
        store.PutFieldAsVariant(MEMO, b, Variant("memo" + std::to_string(i)));
        store.WriteBlob(DATA, b, 0, 3, "\x01\x02\x03");
        store.PutFieldAsVariant(WMEMO, b, Variant(u"\u6587\u672C"));
        store.PutFieldAsVariant(ANY, b, Variant(i * 10));
      });
    }
  }

  std::string Text(int no, int record) {
    return store.GetFieldAsVariant(no, store.RecordAt(record)).AsString();
  }
  TBlob* Blob(int no, int record) { return store.GetBlob(no, store.RecordAt(record)); }
  void* Slot(int no, const void* rec) { return Marshal::ReadIntPtr(rec, store.FieldOf(no).Offset); }

  TTestStore store{{{"ID", dtInt32, 4},
                    {"NAME", dtExtString, R, 20},
                    {"NOTE", dtExtString, R, 0},
                    {"WNAME", dtExtWideString, R, 10},
                    {"BYTES", dtExtVarBytes, R, 10},
                    {"MEMO", dtMemo, R},
                    {"DATA", dtBlob, R},
                    {"WMEMO", dtWideMemo, R},
                    {"ANY", dtVariant, R}}};
};

TEST_F(EditTest, EditAndPostReplacesHeapStringsAndCommitsBlobs) {
  store.Go(1);
  void* buf = store.AllocRecBuf();
  store.EditRecord(buf);
  void* stored = store.RecordAt(1);
  // The edit buffer has its own heap blocks and variant object; blobs are shared.
  EXPECT_NE(Slot(NAME, buf), Slot(NAME, stored));
  EXPECT_NE(Slot(ANY, buf), Slot(ANY, stored));
  EXPECT_EQ(store.GetBlob(MEMO, buf), Blob(MEMO, 1));
  store.PutFieldAsVariant(NAME, buf, Variant("renamed"));
  store.PutFieldAsVariant(NOTE, buf, Variant(Long('z')));
  store.PutFieldAsVariant(ANY, buf, Variant("any"));
  store.PutFieldAsVariant(MEMO, buf, Variant("new memo"));
  store.WriteBlob(DATA, buf, 3, 2, "\x04\x05");
  EXPECT_EQ(Text(NAME, 1), "name1");  // not posted yet
  store.PostRecord(buf);
  TData::FreeRecBuf(buf);  // the store owns what the buffer referred to
  EXPECT_EQ(Text(NAME, 1), "renamed");
  EXPECT_EQ(Text(NOTE, 1), Long('z'));
  EXPECT_EQ(Text(ANY, 1), "any");
  EXPECT_EQ(Text(MEMO, 1), "new memo");
  EXPECT_EQ(store.GetBlobSize(DATA, stored), 5u);
  EXPECT_EQ(Blob(MEMO, 1)->Rollback(), nullptr);
  EXPECT_EQ(Blob(MEMO, 1)->RefCount(), 1);
  EXPECT_EQ(TStringHeap::RefCount(Slot(NAME, stored)), TStringHeap::RefOne);
  EXPECT_EQ(Text(NAME, 2), "name2");  // neighbours untouched
}

TEST_F(EditTest, CancelRestoresBlobsAndDeleteAndCloseReleaseEverything) {
  store.Go(2);
  void* buf = store.AllocRecBuf();
  store.EditRecord(buf);
  store.PutFieldAsVariant(NOTE, buf, Variant(Long('q')));
  store.PutFieldAsVariant(MEMO, buf, Variant("changed"));
  store.SetNull(DATA, buf, true);
  store.PutFieldAsVariant(WMEMO, buf, Variant::Null());
  store.CancelComplexFields(buf);
  TData::FreeRecBuf(buf);
  EXPECT_EQ(Text(NOTE, 2), Long('c'));
  EXPECT_EQ(Text(MEMO, 2), "memo2");
  EXPECT_EQ(store.GetBlobSize(DATA, store.RecordAt(2)), 3u);
  EXPECT_EQ(store.GetFieldAsVariant(WMEMO, store.RecordAt(2)).AsWideString(), u"\u6587\u672C");
  store.Go(1);
  store.DeleteRecord();
  EXPECT_EQ(Text(NAME, 1), "name2");
  store.Close();  // LeakSanitizer reports whatever the records kept
}

TEST_F(EditTest, DatasetBuffersTakeAndDropReferences) {
  void* buf = store.AllocRecBuf();
  store.Go(0);
  store.GetRecord(buf);
  store.AddRefComplexFields(buf);
  EXPECT_EQ(Blob(MEMO, 0)->RefCount(), 2);
  void* name = Slot(NAME, buf);
  EXPECT_EQ(TStringHeap::RefCount(name), TStringHeap::RefOne + 1);
  store.FreeComplexFields(buf, true);
  EXPECT_EQ(Blob(MEMO, 0)->RefCount(), 1);
  EXPECT_EQ(TStringHeap::RefCount(name), TStringHeap::RefOne);
  EXPECT_EQ(Slot(NAME, buf), name);  // not the last: kept
  store.InitRecord(buf);
  store.CreateComplexFields(buf, true);
  store.PutFieldAsVariant(NAME, buf, Variant("own"));
  store.FreeComplexFields(buf, true);
  for (int no : {NAME, MEMO, DATA, WMEMO, ANY}) EXPECT_EQ(Slot(no, buf), nullptr) << no;  // the last clears
  EXPECT_THROW(store.AddRefComplexFields(buf), EAssertionFailed);  // objects are missing now
  TData::FreeRecBuf(buf);
}

TEST_F(EditTest, BlobAccessByField) {
  void* rec = store.RecordAt(0);
  EXPECT_THAT([&] { store.GetBlob(NAME, rec); },
              testing::ThrowsMessage<EDatabaseError>(testing::StrEq("Field is not BLOB")));
  void* blank = store.AllocRecBuf();
  EXPECT_THAT([&] { store.GetBlob(MEMO, blank); },
              testing::ThrowsMessage<EAssertionFailed>(testing::HasSubstr("Object for field (6) = nil")));
  TData::FreeRecBuf(blank);
  store.WriteBlob(MEMO, rec, 4, 3, "ABC");
  char old[16] = {};
  EXPECT_EQ(store.ReadBlob(MEMO, rec, 0, 0, old, true), 5u);  // the rollback copy
  EXPECT_STREQ(old, "memo0");
  store.TruncateBlob(MEMO, rec, 0);
  EXPECT_FALSE(store.GetNull(MEMO, rec)) << "cut to nothing is '', not NULL";
  store.SetNull(MEMO, rec, true);
  EXPECT_TRUE(store.GetNull(MEMO, rec));
  EXPECT_EQ(store.GetBlob(MEMO, rec)->GetSize(), 0u);
  // A wide memo counts in ANSI positions unless asked for raw bytes.
  store.PutFieldAsVariant(WMEMO, rec, Variant(u"a\u6587b"));
  EXPECT_EQ(store.GetBlobSize(WMEMO, rec), 4u);
  EXPECT_EQ(store.GetBlobSize(WMEMO, rec, false, true), 6u);
  char ansi[8] = {};
  EXPECT_EQ(store.ReadBlob(WMEMO, rec, 1, 2, ansi), 2u);
  EXPECT_STREQ(ansi, "\xCE\xC4");  // the GBK bytes of the middle character
  store.WriteBlob(WMEMO, rec, 3, 3, "xyz");
  EXPECT_EQ(store.GetFieldAsVariant(WMEMO, rec).AsWideString(), u"a\u6587xyz");
  EXPECT_THROW(store.TruncateBlob(WMEMO, rec, 2), Exception);  // inside a character
}

}  // namespace
