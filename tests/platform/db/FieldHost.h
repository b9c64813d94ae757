// A dataset of one record whose field values live in a map: enough to drive fields through
// their native buffers without a cursor.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/DataSet.h"
#include "platform/runtime/Classes.h"

class FieldHost : public TDataSet {
 public:
  FieldHost() = default;
  void Enter(TDataSetState state) { SetState(state); }

  std::map<const TField*, std::vector<uint8_t>> Values;
  std::map<const TField*, Variant> Variants;
  std::map<const TField*, std::string> Blobs;

  bool GetFieldData(TField* field, void* buffer) override {
    if (IsBlobFieldType(field->DataType())) return Blobs.count(field) > 0;
    if (field->DataType() == ftVariant) {
      auto it = Variants.find(field);
      if (it == Variants.end()) return false;
      if (buffer) *static_cast<Variant*>(buffer) = it->second;
      return true;
    }
    auto it = Values.find(field);
    if (it == Values.end()) return false;
    if (buffer) std::memcpy(buffer, it->second.data(), it->second.size());
    return true;
  }

  void SetFieldData(TField* field, const void* buffer) override {
    if (field->DataType() == ftVariant) {
      if (buffer)
        Variants[field] = *static_cast<const Variant*>(buffer);
      else
        Variants.erase(field);
      return;
    }
    if (!buffer) {
      Values.erase(field);
      Blobs.erase(field);
      return;
    }
    auto* p = static_cast<const uint8_t*>(buffer);
    Values[field].assign(p, p + field->DataSize());
  }

  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override {
    if (mode != bmRead) CheckFieldWritable(field);
    return std::make_unique<BlobStream>(this, field, mode);
  }

 private:
  // Reads the stored bytes; a writing stream stores its bytes when it goes, none as ''.
  class BlobStream : public TStringStream {
   public:
    BlobStream(FieldHost* host, TField* field, TBlobStreamMode mode)
        : TStringStream(mode == bmWrite ? std::string() : host->Blobs[field]),
          FHost(host),
          FField(field),
          FWrite(mode != bmRead) {}
    ~BlobStream() override {
      if (FWrite) FHost->Blobs[FField] = DataString();
    }

   private:
    FieldHost* FHost;
    TField* FField;
    bool FWrite;
  };
};
