#include "components/DASQLGenerator.h"

#include <charconv>
#include <string_view>

#include "components/DBAccessParams.h"
#include "core/CRTableInfo.h"
#include "core/DAConsts.h"
#include "core/MemData.h"
#include "core/MemDataSort.h"
#include "platform/runtime/Exceptions.h"

namespace {

constexpr size_t BuilderCapacity = 100;

// Text compared byte for byte: a change of case or of a byte the locale order ignores is still a
// change to write.
class TExactComparer : public TStringComparer {
 public:
  int CompareStrings(std::string_view a, std::string_view b, int) override { return Sign(a.compare(b)); }
  int CompareWideStrings(std::u16string_view a, std::u16string_view b, int) override {
    return Sign(a.compare(b));
  }

 private:
  static int Sign(int v) noexcept { return (v > 0) - (v < 0); }
};

const TCRTableInfoClass& TableInfoClassOf(const TFieldDesc& desc) {
  const auto* cr = dynamic_cast<const TCRFieldDesc*>(&desc);
  return cr != nullptr ? cr->GetTableInfoClass() : TCRTableInfo::Class();
}

const TCRTableInfo* TableInfoOfDesc(const TFieldDesc& desc) {
  const auto* cr = dynamic_cast<const TCRFieldDesc*>(&desc);
  return cr != nullptr ? cr->TableInfo : nullptr;
}

// ASCII letters compared without case, as table names are looked up.
bool SameText(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) noexcept {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

}  // namespace

TDASQLGenerator::TDASQLGenerator(IDASQLGeneratorHost* host) : FHost(host) {
  DA_ASSERT_MSG(host != nullptr, "a generator needs its dataset");
  Clear();
}

TDASQLGenerator::~TDASQLGenerator() = default;

TDAParamsInfo& TDASQLGenerator::ParamsInfo() {
  // Made on first use: the item class is a virtual choice of the derived generator.
  if (!FParamsInfo) FParamsInfo = std::make_unique<TDAParamsInfo>(ParamInfoClass());
  return *FParamsInfo;
}

void TDASQLGenerator::Clear() {
  for (std::string* sb : {&FHeaderSB, &FFldSB, &FMiddleSB, &FFldParamSB, &FCondSB, &FFooterSB}) {
    sb->clear();
    sb->reserve(BuilderCapacity);
  }
  FOldRecBuf = nullptr;
  FNewRecBuf = nullptr;
}

void* TDASQLGenerator::OldBuf() {
  if (FOldRecBuf == nullptr) FOldRecBuf = FHost->GeneratorOldRecBuf();
  return FOldRecBuf;
}

void* TDASQLGenerator::NewBuf() {
  if (FNewRecBuf == nullptr) FNewRecBuf = FHost->GeneratorNewRecBuf();
  return FNewRecBuf;
}

void TDASQLGenerator::AssembleSQL(std::string& text) {
  text.clear();
  text.reserve(FHeaderSB.size() + FFldSB.size() + FMiddleSB.size() + FFldParamSB.size() + FCondSB.size() +
               FFooterSB.size());
  text.append(FHeaderSB)
      .append(FFldSB)
      .append(FMiddleSB)
      .append(FFldParamSB)
      .append(FCondSB)
      .append(FFooterSB);
}

bool TDASQLGenerator::IsBlobDataType(TDataType dataType) const {
  return dataType == dtBlob || dataType == dtMemo || dataType == dtWideMemo;
}

bool TDASQLGenerator::IsObjectDataType(TDataType dataType) const {
  return dataType == dtObject || dataType == dtArray;
}

bool TDASQLGenerator::IsNullField(const TFieldDesc& desc, bool old, void* oldBuf, void* newBuf, TData& data) {
  if (!Settings().Active) return true;
  if (IsObjectDataType(desc.DataType)) {
    for (const auto& child : data.Fields())
      if (child->ParentField == &desc && !IsNullField(*child, old, oldBuf, newBuf, data)) return false;
    return true;
  }
  return data.GetNull(desc.FieldNo, old ? oldBuf : newBuf);
}

bool TDASQLGenerator::IsNull(const TFieldDesc& desc, bool old) {
  if (!Settings().Active) return true;
  return IsNullField(desc, old, OldBuf(), NewBuf(), FHost->GeneratorData());
}

bool TDASQLGenerator::IsFieldModified(const TFieldDesc& desc, TData& data, void* oldBuf, void* newBuf) {
  if (IsBlobDataType(desc.DataType)) {
    if (Settings().ApplyingUpdates)
      return data.GetBlob(desc.FieldNo, oldBuf) != data.GetBlob(desc.FieldNo, newBuf);
    return data.GetBlob(desc.FieldNo, newBuf)->Modified();
  }
  if (IsObjectDataType(desc.DataType)) {
    for (const auto& child : data.Fields())
      if (child->ParentField == &desc && IsFieldModified(*child, data, oldBuf, newBuf)) return true;
    return false;
  }
  const bool oldNull = data.GetNull(desc.FieldNo, oldBuf);
  const bool newNull = data.GetNull(desc.FieldNo, newBuf);
  // A cell read as NULL for another reason than NULL (the zero date) and set to NULL changed.
  if (oldNull || newNull)
    return oldNull != newNull || (!desc.HasParent() && data.GetNullMark(desc.FieldNo, oldBuf) !=
                                                           data.GetNullMark(desc.FieldNo, newBuf));
  TExactComparer exact;
  return CompareFieldValues(data, exact, oldBuf, newBuf, 0, desc) != 0;
}

bool TDASQLGenerator::FieldModified(const TFieldDesc& desc) {
  return IsFieldModified(desc, FHost->GeneratorData(), OldBuf(), NewBuf());
}

uint8_t TDASQLGenerator::NullMark(const TFieldDesc& desc, bool old) {
  if (!Settings().Active || desc.HasParent() || IsBlobDataType(desc.DataType) ||
      IsObjectDataType(desc.DataType))
    return 0;
  return FHost->GeneratorData().GetNullMark(desc.FieldNo, old ? OldBuf() : NewBuf());
}

std::string TDASQLGenerator::GetActualFieldName(const TFieldDesc& desc, const TCRTableInfo* tableInfo) {
  std::string name = desc.ActualName.empty() ? desc.Name : desc.ActualName;
  const TCRTableInfo* own = TableInfoOfDesc(desc);
  if (own == nullptr || tableInfo == nullptr) return name;
  if (own != tableInfo && !SameText(own->GetTableName(), tableInfo->GetTableName())) return name;
  const std::string prefix = tableInfo->GetTableName() + ".";
  if (StartsWithNoCase(name, prefix)) name.erase(0, prefix.size());
  return name;
}

std::string TDASQLGenerator::QuotedTableName(const TCRTableInfo& tableInfo, const std::string& name) const {
  return tableInfo.ClassType().NormalizeName(name, Settings().QuoteNames);
}

std::string TDASQLGenerator::WrittenTableName() const {
  const std::string full = FTableInfo->GetTableNameFull();
  const std::string& name = full.empty() ? FTableInfo->GetTableName() : full;
  const TCRTableInfoClass& names = FTableInfo->ClassType();
  const std::string quoted = names.NormalizeName(name, true);
  // A qualified name always quotes each part, so no part is taken for more or less than it is.
  if (quoted != names.NormalizeName(FTableInfo->GetTableName(), true)) return quoted;
  return names.NormalizeName(name, Settings().QuoteNames);
}

std::string TDASQLGenerator::GetConditionFieldName(const TFieldDesc& desc, bool qualify) {
  std::string name = FHost->QuoteName(GetActualFieldName(desc, FTableInfo));
  const TDASQLGeneratorSettings s = Settings();
  const TCRTableInfo* table = TableInfoOfDesc(desc);
  if (table == nullptr || !((qualify && s.FullRefresh) || s.ReadOnly)) return name;
  const std::string& prefix = table->GetTableAlias().empty() ? table->GetTableName() : table->GetTableAlias();
  return QuotedTableName(*table, prefix) + "." + name;
}

std::string TDASQLGenerator::IndexToAlias(int index) const {
  return "_" + std::to_string(index);
}

int TDASQLGenerator::AliasToIndex(const std::string& alias) const {
  if (alias.size() < 2 || alias[0] != '_') return -1;
  int value = -1;
  const char* end = alias.data() + alias.size();
  const auto [ptr, ec] = std::from_chars(alias.data() + 1, end, value);
  return ec == std::errc() && ptr == end ? value : -1;
}

void TDASQLGenerator::AddParam(std::string& builder, const TFieldDesc& desc, bool old, int batchIndex,
                               TStatementType type) {
  std::string name = old ? "Old_" + desc.Name : desc.Name;
  if (batchIndex > -1) name = "P_" + std::to_string(batchIndex) + "_" + name;
  name = FHost->QuoteName(name);
  if (FParams == nullptr) {
    builder += ":" + name;
    return;
  }
  const TDASQLGeneratorSettings s = Settings();
  const bool byName = type == stRefresh && (s.HasOwnParams || s.FullRefresh);
  builder += byName ? ":" + name : std::string("?");
  FParams->CreateParam(ftUnknown, name, ptInput);
  TDAParamInfo* info = ParamsInfo().AddInfo();
  info->Field = FHost->FieldOfDesc(&desc);
  info->Old = old;
  info->BatchIndex = batchIndex;
}

void TDASQLGenerator::AddFieldToInsertSQL(const TFieldDesc& desc, int batchIndex) {
  if (!FFldSB.empty()) {
    FFldSB += ", ";
    FFldParamSB += ", ";
  }
  FFldSB +=
      TableInfoClassOf(desc).NormalizeIdentifier(GetActualFieldName(desc, FTableInfo), Settings().QuoteNames);
  AddParam(FFldParamSB, desc, false, batchIndex, stInsert);
}

void TDASQLGenerator::AddFieldToUpdateSQL(const TFieldDesc& desc, int batchIndex) {
  if (!FFldSB.empty()) FFldSB += ", ";
  FFldSB +=
      TableInfoClassOf(desc).NormalizeIdentifier(GetActualFieldName(desc, FTableInfo), Settings().QuoteNames);
  FFldSB += " = ";
  AddParam(FFldSB, desc, false, batchIndex, stUpdate);
}

void TDASQLGenerator::AddFieldToRefreshSQL(const TFieldDesc& desc) {
  if (!FFldSB.empty()) FFldSB += ", ";
  if (const TCRTableInfo* table = TableInfoOfDesc(desc)) {
    const std::string& prefix =
        table->GetTableAlias().empty() ? table->GetTableName() : table->GetTableAlias();
    FFldSB += QuotedTableName(*table, prefix) + ".";
  }
  FFldSB +=
      TableInfoClassOf(desc).NormalizeIdentifier(GetActualFieldName(desc, FTableInfo), Settings().QuoteNames);
  if (!Settings().Designing) FFldSB += " AS " + IndexToAlias(desc.FieldNo - 1);
}

void TDASQLGenerator::AddFieldToCondition(std::string& builder, const TFieldDesc& desc, int batchIndex,
                                          bool checkNull, TStatementType type) {
  if (!builder.empty()) builder += " AND ";
  builder += GetConditionFieldName(desc, type == stRefresh);
  if (checkNull && IsNull(desc, type != stRefresh)) {
    builder += " IS NULL";
    return;
  }
  builder += " = ";
  AddParam(builder, desc, type != stRefresh || Settings().CachedUpdates, batchIndex, type);
}

void TDASQLGenerator::RefuseWithoutKey(const TCRTableInfo& tableInfo, const TKeyAndDataFields& keyAndData) {
  if (keyAndData.MissingKeyColumns.empty()) return;
  std::string columns;
  for (const std::string& column : keyAndData.MissingKeyColumns)
    columns += (columns.empty() ? "" : ", ") + column;
  throw EDatabaseError(MessageFmt(SKeyNotInResult, {tableInfo.GetTableName(), columns}));
}

void TDASQLGenerator::AddValueToCondition(std::string& builder, const TFieldDesc& desc, int batchIndex,
                                          bool checkNull, TStatementType type) {
  AddFieldToCondition(builder, desc, batchIndex, checkNull, type);
}

void TDASQLGenerator::GenerateConditions(std::string& builder, TStatementType type, bool checkNull,
                                         const TKeyAndDataFields& keyAndData, int batchIndex) {
  const size_t before = builder.size();
  if (!keyAndData.KeyFieldDescs.empty()) {
    for (TFieldDesc* key : keyAndData.KeyFieldDescs)
      AddFieldToCondition(builder, *key, batchIndex, checkNull, type);
  } else if (TFieldDesc* identity = FHost->IdentityFieldDesc()) {
    AddFieldToCondition(builder, *identity, batchIndex, checkNull, type);
  } else {
    if (keyAndData.DataFieldDescs.empty()) throw EDatabaseError(MessageText(SKeyFieldsNotFound));
    // A generated column follows the others; the value held may be the one before the last post.
    for (TFieldDesc* data : keyAndData.DataFieldDescs)
      if (!IsBlobDataType(data->DataType) && !FHost->IsGeneratedField(*data))
        AddValueToCondition(builder, *data, batchIndex, checkNull, type);
  }
  // A statement that writes or locks must never match every row.
  const bool writes = type == stUpdate || type == stDelete || type == stLock;
  if (writes && builder.size() == before) throw EDatabaseError(MessageText(SKeyFieldsNotFound));
}

void TDASQLGenerator::GenerateInsertSQL(const TKeyAndDataFields& keyAndData, bool modifiedFieldsOnly,
                                        int batchIndex) {
  for (TFieldDesc* data : keyAndData.DataFieldDescs)
    if ((!modifiedFieldsOnly || !IsNull(*data, false)) && !FHost->IsGeneratedField(*data))
      AddFieldToInsertSQL(*data, batchIndex);
  FHeaderSB = "INSERT INTO " + WrittenTableName() + "\r\n  (";
  FMiddleSB = ")\r\nVALUES\r\n  (";
  FFooterSB = ")";
}

void TDASQLGenerator::GenerateUpdateSQL(const TKeyAndDataFields& keyAndData, bool modifiedFieldsOnly,
                                        int batchIndex) {
  for (TFieldDesc* data : keyAndData.DataFieldDescs)
    if ((!modifiedFieldsOnly || FieldModified(*data)) && !FHost->IsGeneratedField(*data))
      AddFieldToUpdateSQL(*data, batchIndex);
  if (FFldSB.empty()) return;  // nothing to update
  RefuseWithoutKey(*FTableInfo, keyAndData);
  FHeaderSB = "UPDATE " + WrittenTableName() + "\r\nSET\r\n  ";
  FMiddleSB = "\r\nWHERE\r\n  ";
  // A null key value is matched with IS NULL whatever the update mode: "= NULL" matches nothing.
  GenerateConditions(FCondSB, stUpdate, true, keyAndData, batchIndex);
}

void TDASQLGenerator::GenerateDeleteSQL(const TKeyAndDataFields& keyAndData, bool, int batchIndex) {
  FHeaderSB = "DELETE FROM " + WrittenTableName() + "\r\nWHERE\r\n  ";
  GenerateConditions(FCondSB, stDelete, true, keyAndData, batchIndex);
}

void TDASQLGenerator::GenerateLockSQL(const TKeyAndDataFields&, int) {}

void TDASQLGenerator::GenerateRefreshSelectPart(const TKeyAndDataFields& keyAndData) {
  FHeaderSB = "SELECT ";
  const auto& fields =
      keyAndData.DataFieldDescs.empty() ? keyAndData.KeyFieldDescs : keyAndData.DataFieldDescs;
  for (TFieldDesc* field : fields) AddFieldToRefreshSQL(*field);
}

void TDASQLGenerator::GenerateRefreshFromPart() {
  FMiddleSB = " FROM " + WrittenTableName();
  if (!FTableInfo->GetTableAlias().empty())
    FMiddleSB += " " + QuotedTableName(*FTableInfo, FTableInfo->GetTableAlias());
  FMiddleSB += "\r\nWHERE\r\n  ";
}

void TDASQLGenerator::GenerateRefreshSQL(const TKeyAndDataFields& keyAndData, bool checkNull) {
  GenerateConditions(FCondSB, stRefresh, checkNull, keyAndData, -1);
  const TDASQLGeneratorSettings s = Settings();
  if (s.FullRefresh || s.ReadOnly) {
    FHeaderSB = FHost->GetSQLText();
    if (!FCondSB.empty()) {
      FHeaderSB = FHost->SQLAddWhere(FHeaderSB, "\r\n  " + FCondSB);
      FCondSB.clear();
    }
    return;
  }
  GenerateRefreshSelectPart(keyAndData);
  GenerateRefreshFromPart();
}

void TDASQLGenerator::GenerateRefreshQuickSQL(const TKeyAndDataFields& keyAndData) {
  GenerateConditions(FCondSB, stRefreshQuick, false, keyAndData, -1);
  FHeaderSB = FHost->SQLAddWhere(FHost->FinalSQL(), FCondSB);
  FCondSB.clear();
}

void TDASQLGenerator::GenerateRefreshCheckDeletedSQL(const TKeyAndDataFields& keyAndData) {
  // The key list is compared with the local rows: without a key there is nothing to compare.
  if (keyAndData.KeyFieldDescs.empty()) throw EDatabaseError(MessageText(SKeyFieldsNotFound));
  FHeaderSB = "SELECT ";
  for (TFieldDesc* key : keyAndData.KeyFieldDescs) {
    const std::string name = GetConditionFieldName(*key, false);
    if (!FFldSB.empty()) {
      FFldSB += ", ";
      FFooterSB += ", ";
    }
    FFldSB += name;
    FFooterSB += name;
    if (!SameText(FTableInfo->ClassType().UnQuote(name), key->Name)) FFldSB += " AS " + key->Name;
  }
  FMiddleSB = " FROM " + WrittenTableName() + " ORDER BY ";
}

std::string TDASQLGenerator::GenerateSQL(TCRTableInfo& tableInfo, const TKeyAndDataFields& keyAndData,
                                         TStatementType type, bool modifiedFieldsOnly, TDAParams* params,
                                         int batchIndex) {
  if (tableInfo.GetTableName().empty()) throw EDatabaseError(MessageText(STableInfoNameRequired));
  // A row is found by the table's key: without it whole in the result, another row that shares
  // the shown values could be written or read in its place.
  if (type == stDelete || type == stLock || type == stRefresh) RefuseWithoutKey(tableInfo, keyAndData);
  Clear();
  FTableInfo = &tableInfo;
  FParams = params;
  ParamsInfo().Clear();
  if (params != nullptr) params->Clear();
  switch (type) {
    case stInsert:
      GenerateInsertSQL(keyAndData, modifiedFieldsOnly, batchIndex);
      break;
    case stUpdate:
      GenerateUpdateSQL(keyAndData, modifiedFieldsOnly, batchIndex);
      break;
    case stDelete:
      GenerateDeleteSQL(keyAndData, modifiedFieldsOnly, batchIndex);
      break;
    case stLock:
      GenerateLockSQL(keyAndData, batchIndex);
      break;
    case stRefresh:
      GenerateRefreshSQL(keyAndData, true);
      break;
    case stRefreshQuick:
      GenerateRefreshQuickSQL(keyAndData);
      break;
    case stRefreshCheckDeleted:
      GenerateRefreshCheckDeletedSQL(keyAndData);
      break;
    default:
      throw EDatabaseError(MessageText(SBadStatementType));
  }
  std::string text;
  AssembleSQL(text);
  return text;
}

std::string TDASQLGenerator::GenerateSQLForUpdatingTable(TStatementType type, bool modifiedFieldsOnly,
                                                         TDAParams* params, int batchIndex) {
  TCRTableInfo* table = FHost->UpdatingTableInfo();
  if (table == nullptr) return {};
  const bool forceAll = type == stRefresh && Settings().FullRefresh;
  const TKeyAndDataFields keyAndData = FHost->GetKeyAndDataFields(forceAll);
  return GenerateSQL(*table, keyAndData, type, modifiedFieldsOnly, params, batchIndex);
}
