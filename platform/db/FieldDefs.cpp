#include "platform/db/FieldDefs.h"

#include "platform/db/DBConsts.h"
#include "platform/db/DataSet.h"
#include "platform/db/FieldClasses.h"
#include "platform/runtime/Format.h"

// ---- TFieldDef ------------------------------------------------------------------------------

TFieldDef::TFieldDef(TCollection* collection) : TCollectionItem(collection) {}

TFieldDef::~TFieldDef() = default;

void TFieldDef::SetName(const std::string& value) {
  FName = value;
  FNameAscii = IsAsciiName(value);
  Changed(false);
}

void TFieldDef::SetDataType(TFieldType value) {
  FDataType = value;
  Changed(false);
}

void TFieldDef::SetSize(int value) {
  FSize = value;
  Changed(false);
}

void TFieldDef::SetPrecision(int value) {
  FPrecision = value;
  Changed(false);
}

void TFieldDef::SetAttributes(TFieldAttributes value) {
  FAttributes = value;
  Changed(false);
}

void TFieldDef::SetRequired(bool value) {
  SetAttributes(
      static_cast<TFieldAttributes>(value ? (FAttributes | faRequired) : (FAttributes & ~faRequired)));
}

int TFieldDef::FieldNo() const {
  return FFieldNo > 0 ? FFieldNo : Index() + 1;
}

TFieldDefs& TFieldDef::ChildDefs() {
  if (!FChildDefs) FChildDefs = std::make_unique<TFieldDefs>(this);
  return *FChildDefs;
}

bool TFieldDef::HasChildDefs() const {
  return FChildDefs && FChildDefs->Count() > 0;
}

TFieldDefs* TFieldDef::FieldDefs() const {
  return static_cast<TFieldDefs*>(Collection());
}

TField* TFieldDef::MakeField(TComponent* owner, bool nameFree) {
  TField* field = CreateFieldOfType(FDataType, owner);
  if (!field)
    throw EDatabaseError(Format(SFieldTypeMismatch, {FName, "a field class", FieldTypeName(FDataType)}));
  try {
    field->SetFieldName(FName);
    switch (FDataType) {
      case ftString:
      case ftFixedChar:
      case ftWideString:
      case ftGuid:
      case ftBytes:
      case ftVarBytes:
      case ftBCD:
      case ftFMTBcd:
      case ftDateTimeUs:
      case ftTimeUs:
        field->SetSize(FSize);
        break;
      default:
        break;
    }
    // The field's class follows from the type (CreateFieldOfType): no cast needs to ask it.
    switch (FDataType) {
      case ftFloat:
      case ftCurrency:
        if (FPrecision > 0) static_cast<TFloatField*>(field)->Precision = FPrecision;
        break;
      case ftBCD:
        static_cast<TBCDField*>(field)->Precision = FPrecision;
        break;
      case ftFMTBcd:
        static_cast<TFMTBCDField*>(field)->Precision = FPrecision;
        break;
      default:
        break;
    }
    field->SetRequired(Required());
    field->SetReadOnly((FAttributes & faReadonly) != 0);
    if (FAttributes & faHiddenCol) field->SetVisible(false);
    field->SetFieldNo(FieldNo());
    if (TFieldDefs* defs = FieldDefs(); defs && defs->DataSet()) field->AttachTo(defs->DataSet(), nameFree);
  } catch (...) {
    delete field;  // not yet handed to anyone but its owner, which forgets it as it goes
    throw;
  }
  return field;
}

void TFieldDef::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TFieldDef*>(source);
  if (!other) return TCollectionItem::Assign(source);
  FName = other->FName;
  FNameAscii = other->FNameAscii;
  FDataType = other->FDataType;
  FSize = other->FSize;
  FPrecision = other->FPrecision;
  FAttributes = other->FAttributes;
  FFieldNo = other->FFieldNo;
  if (other->HasChildDefs()) ChildDefs().Assign(other->FChildDefs.get());
  Changed(false);
}

// ---- TFieldDefs -----------------------------------------------------------------------------

TFieldDefs::TFieldDefs(TPersistent* owner) : TCollection(owner), FDataSet(dynamic_cast<TDataSet*>(owner)) {
  if (!FDataSet)
    if (auto* def = dynamic_cast<TFieldDef*>(owner); def && def->FieldDefs())
      FDataSet = def->FieldDefs()->DataSet();
}

std::unique_ptr<TCollectionItem> TFieldDefs::CreateItem() {
  return std::make_unique<TFieldDef>(this);
}

TFieldDef* TFieldDefs::Add(const std::string& name, TFieldType dataType, int size, bool required) {
  BeginUpdate();
  TFieldDef* def;
  try {
    def = AddFieldDef();
    def->SetName(name);
    def->SetDataType(dataType);
    def->SetSize(size);
    def->SetRequired(required);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  return def;
}

int TFieldDefs::IndexOf(std::string_view name) const {
  const TFieldNameProbe probe(name);
  for (int i = 0; i < Count(); ++i)
    if (const TFieldDef* def = Items(i); probe.Matches(def->Name(), def->NameAscii())) return i;
  return -1;
}

TFieldDef* TFieldDefs::Find(std::string_view name) const {
  int i = IndexOf(name);
  if (i < 0) throw EDatabaseError(Format(SFieldNotFound, {std::string(name)}));
  return Items(i);
}

void TFieldDefs::Update() {
  if (!Updated && FDataSet) FDataSet->InitFieldDefs();
}

void TFieldDefs::Update(TCollectionItem*) {
  Updated = false;
}
