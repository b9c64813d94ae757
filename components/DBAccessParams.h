// Unit DBAccess, parameters: TDAParam carries a large value as a record-store blob (blob and memo
// types) instead of a variant, and may hold the extended field types; TDAParams is their
// collection. (Forms are not streamed in this system, so the "ExtDataType" and value properties of
// a stored form have no counterpart.)
#pragma once

#include <cstdint>
#include <string>

#include "platform/db/DataSource.h"
#include "platform/db/Params.h"

class TBlob;
class TStream;

class TDAParam : public TParam {
 public:
  explicit TDAParam(TCollection* collection);
  ~TDAParam() override;

  // ftBlob and ftMemo keep their value in a blob object.
  static bool IsBlobDataType(TFieldType type) { return type == ftBlob || type == ftMemo; }
  bool IsBlob() const { return IsBlobDataType(GetDataType()); }

  // A blob object of the old type is freed; a blob type gets a new, empty one.
  void SetDataType(TFieldType value) override;

  // Blob types read and write the blob's text; dates read as date-time text; a string set on an
  // ftWideString parameter is stored wide.
  std::string GetAsString() const override;
  void SetAsString(const std::string& value) override;
  std::u16string GetAsWideString() const override;
  void SetAsWideString(const std::u16string& value) override;
  void SetAsBlob(const std::string& value) override;
  void SetAsMemo(const std::string& value) override;
  Variant GetValue() const override;
  void SetValue(const Variant& value) override;
  // A blob parameter is null while its blob is empty.
  bool GetIsNull() const override;
  void Clear() override;

  // The blob object (an unknown type becomes ftBlob / ftMemo first); nil for other types.
  TBlob* GetAsBlobRef();
  TBlob* GetAsMemoRef();
  // Shares `blob` (one more reference); the parameter counts as assigned. The parameter's own
  // blob may be passed.
  void SetAsBlobRef(TBlob* blob);
  void SetAsMemoRef(TBlob* blob);

  // From a TDAParam (sharing its blob), a TParam, or a field; assigning a parameter to itself
  // changes nothing.
  void Assign(TPersistent* source) override;
  // From a string list: a memo holding the list's text (each line followed by its line end).
  void Assign(const TStringList& lines) { SetAsMemo(lines.Text()); }
  // The field's type (fixed-length strings ftFixedChar, memo fields ftMemo) and value.
  void AssignFieldValue(TField* field, const Variant& value) override;
  // BlobType must be ftBlob, ftMemo, ftOraBlob or ftOraClob, else Exception "Data type is not
  // supported"; the whole stream (from its start) becomes the value.
  void LoadFromStream(TStream& stream, TFieldType blobType) override;

 private:
  void CreateObject();
  void FreeObject() noexcept;
  void ShareBlob(TBlob* blob, TFieldType type);

  TBlob* FBlob = nullptr;  // one reference held while set
  // NULL apart from an empty value: a blob holds no null state of its own.
  bool FBlobNull = true;
};

class TDAParams : public TParams {
 public:
  explicit TDAParams(TPersistent* owner = nullptr) : TParams(owner) {}

  TDAParam* Items(int index) const { return static_cast<TDAParam*>(TParams::Items(index)); }
  TDAParam* operator[](int index) const { return Items(index); }
  TDAParam* FindParam(std::string_view name) const {
    return static_cast<TDAParam*>(TParams::FindParam(name));
  }
  // EDatabaseError "Parameter '%s' not found".
  TDAParam* ParamByName(std::string_view name) const {
    return static_cast<TDAParam*>(TParams::ParamByName(name));
  }
  // Created with an unknown type first, so that a blob type gets its object.
  TParam* CreateParam(TFieldType fieldType, const std::string& name, TParamType paramType) override;

  // While false, changes of the parameters are not reported (OnChange).
  bool NeedsUpdateItem = true;

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override { return std::make_unique<TDAParam>(this); }
  void Update(TCollectionItem* item) override;
};

// The record-store data type of a field type (0 for types the store has none for: graphic,
// formatted memo, cursor, timestamp, unknown, ...).
uint16_t FieldTypeToDataType(TFieldType type);
// The field type of a record-store data type; EAssertionFailed "Unknown data type" for a code
// outside the store's range.
TFieldType DataTypeToFieldType(uint16_t dataType);

// What a detail dataset does when its master changes; the query dataset implements it.
class IDADetailDataSet {
 public:
  virtual ~IDADetailDataSet() = default;
  // Takes the master's current values into the parameters and shows the matching rows.
  virtual void RefreshDetailParams() = 0;
  // Whether the detail follows this field of the master.
  virtual bool IsMasterField(TField* field) = 0;
};

// The link through which a detail dataset follows its master's current record.
class TDADetailDataLink : public TDetailDataLink {
 public:
  TDADetailDataLink(TDataSet* detail, IDADetailDataSet* handler) : FDetail(detail), FHandler(handler) {}
  TDataSet* DetailDataSet() const override { return FDetail; }

 protected:
  // An open detail refreshes when the master opens.
  void ActiveChanged() override;
  // Changes of other master fields, field changes while the detail is being edited, and anything
  // while the detail is closed are ignored; anything else refreshes the detail.
  void RecordChanged(TField* field) override;
  // While the master inserts, a detail being edited is left as it is.
  void CheckBrowseMode() override;

 private:
  TDataSet* FDetail;
  IDADetailDataSet* FHandler;
};
