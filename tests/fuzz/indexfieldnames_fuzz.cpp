// Sorts a small record store by arbitrary index field names. Checks: a text is either refused
// with the store's own errors (never an assertion), leaving no sort columns, or accepted, and then
// the records are in order, every one still there and numbered by its position, also after an
// insert and an update.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/MemDataStore.h"
#include "platform/runtime/Exceptions.h"

namespace {

class Store : public TMemData {
 public:
  ~Store() override { Close(); }

  void Add(int id, const Variant& name, const Variant& level, const Variant& bytes) {
    void* buf = AllocRecBuf();
    InitRecord(buf);
    CreateComplexFields(buf, true);
    PutFieldAsVariant(1, buf, Variant(id));
    PutFieldAsVariant(2, buf, name);
    PutFieldAsVariant(3, buf, level);
    PutFieldAsVariant(4, buf, bytes);
    PutFieldAsVariant(5, buf, name);
    InsertRecord(buf);
    FreeRecBuf(buf);
  }

  // The list is sorted and numbered, and holds `count` records.
  void Check(int count) {
    int seen = 0;
    for (PItemHeader p = FirstItem(); p; p = p->Next) {
      ++seen;
      if (p->Order + RecordNoOffset() != seen) std::abort();
      if (p->Next && CompareRecords(TBlockManager::GetRecordPtr(p), TBlockManager::GetRecordPtr(p->Next)) > 0)
        std::abort();
    }
    if (seen != count || GetRecordCount() != count) std::abort();
  }

 protected:
  void InternalOpen() override { InitFields(); }
  void InternalInitFields() override {
    Field("ID", dtInt32, 4, 0);
    Field("Name", dtString, 21, 20);
    Field("Level", dtVariant, RefFieldSize, 0);
    Field("Bytes", dtExtVarBytes, RefFieldSize, 10);
    Field("Guild Name", dtExtString, RefFieldSize, 30);
  }

 private:
  void Field(const char* name, TDataType type, uint16_t size, uint16_t length) {
    AddFieldDesc(name, type, size, length);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Store store;
  store.Open();
  store.Add(1, Variant("b\xd5\xc5"), Variant(3), Variant::FromBytes({1, 2}));
  store.Add(2, Variant("A"), Variant::Null(), Variant::FromBytes({1}));
  store.Add(3, Variant::Null(), Variant(-1), Variant::Null());
  store.Add(4, Variant("a"), Variant(3), Variant::FromBytes({}));
  try {
    store.SetIndexFieldNames(text);
  } catch (const EAssertionFailed&) {
    std::abort();
  } catch (const Exception&) {
    if (store.SortColumns().Count() != 0) std::abort();
    return 0;
  }
  store.Check(4);
  store.SetRecordNo(2);
  store.Add(5, Variant("c"), Variant(0), Variant::FromBytes({0}));
  store.Check(5);
  return 0;
}
