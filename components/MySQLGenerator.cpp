#include "components/MySQLGenerator.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

#include "components/DBAccessParams.h"
#include "core/DAConsts.h"
#include "core/MemData.h"
#include "mysql/MyClasses.h"
#include "mysql/MyFieldValues.h"
#include "mysql/MyTableInfo.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Variant.h"

namespace {

bool IsMyType(const TFieldDesc& desc, TMyFieldType type) {
  const auto* my = dynamic_cast<const TMySQLFieldDesc*>(&desc);
  return my != nullptr && my->MySQLType == type;
}

bool IsDecimalType(uint8_t type) {
  return type == mftDecimal || type == mftNewDecimal;
}

// The first TIMESTAMP column of the record set; with `table`, the first of that table.
TFieldDesc* FirstTimestampField(TData& data, const TCRTableInfo* table) {
  for (const auto& desc : data.Fields()) {
    if (!IsMyType(*desc, mftTimestamp)) continue;
    if (table == nullptr || static_cast<const TCRFieldDesc&>(*desc).TableInfo == table) return desc.get();
  }
  return nullptr;
}

// The text of a zero value of a date column, or nil for any other column.
const char* ZeroDateText(const TFieldDesc& desc) {
  if (IsMyType(desc, mftTimestamp) || IsMyType(desc, mftDateTime)) return "0000-00-00 00:00:00";
  if (IsMyType(desc, mftDate) || IsMyType(desc, mftNewDate)) return "0000-00-00";
  return nullptr;
}

}  // namespace

std::vector<int> TMySQLGenerator::ParamPositions() const {
  std::vector<int> positions;
  auto* self = const_cast<TMySQLGenerator*>(this);
  TDAParamsInfo& infos = self->ParamsInfo();
  positions.reserve(static_cast<size_t>(infos.Count()));
  for (int i = 0; i < infos.Count(); ++i) {
    const auto* info = static_cast<const TMyParamInfo*>(infos.Items(i));
    size_t base = 0;
    if (info->SB == &FFldSB) {
      base = FHeaderSB.size();
    } else if (info->SB == &FFldParamSB) {
      base = FHeaderSB.size() + FFldSB.size() + FMiddleSB.size();
    } else if (info->SB == &FCondSB) {
      base = FHeaderSB.size() + FFldSB.size() + FMiddleSB.size() + FFldParamSB.size();
    } else {
      DA_ASSERT_MSG(false, "a placeholder outside the field, value and condition lists");
    }
    positions.push_back(static_cast<int>(base) + info->ParamPosition + 1);
  }
  return positions;
}

std::string TMySQLGenerator::GetConditionFieldName(const TFieldDesc& desc, bool qualify) {
  const std::string name = Host().QuoteName(desc.ActualName.empty() ? desc.Name : desc.ActualName);
  const auto* cr = dynamic_cast<const TCRFieldDesc*>(&desc);
  if (!qualify || cr == nullptr || cr->TableInfo == nullptr) return name;
  const std::string& tableName = cr->TableInfo->GetTableName();
  if (tableName.empty()) return name;
  const TCRTablesInfo* tables = Host().RecordSetTablesInfo();
  // The field's own table first: two tables of one name (in two databases) differ by alias.
  const bool listed = tables != nullptr && tables->IndexOf(cr->TableInfo) >= 0;
  const int index = !listed && tables != nullptr ? tables->IndexByName(tableName) : -1;
  const TCRTableInfo* table = index >= 0 ? tables->GetItem(index) : cr->TableInfo;
  const std::string& prefix = table->GetTableAlias().empty() ? tableName : table->GetTableAlias();
  // Names the server sent are kept bare where they can be; one that needs quotes gets them.
  return QuotedTableName(*table, prefix) + "." + name;
}

void TMySQLGenerator::AddParam(std::string& builder, const TFieldDesc& desc, bool old, int batchIndex,
                               TStatementType type) {
  TDASQLGenerator::AddParam(builder, desc, old, batchIndex, type);
  if (Params() == nullptr) return;
  TDAParamsInfo& infos = ParamsInfo();
  auto* info = static_cast<TMyParamInfo*>(infos.Items(infos.Count() - 1));
  info->SB = &builder;
  info->ParamPosition = static_cast<int>(builder.size()) - 1;
}

void TMySQLGenerator::AddFieldToCondition(std::string& builder, const TFieldDesc& desc, int batchIndex,
                                          bool checkNull, TStatementType type) {
  if (IsInexactMyField(desc)) return;
  const char* zero = ZeroDateText(desc);
  if (checkNull && zero != nullptr && IsNull(desc, type != stRefresh)) {
    const uint8_t mark = NullMark(desc, type != stRefresh);
    // A date read as NULL that the client cannot read has no value to find the row by.
    if (mark == NullMarkPartialDate) throw EDatabaseError(MessageFmt(SPartialDateInCondition, {desc.Name}));
    if (!builder.empty()) builder += " AND ";
    const std::string name = GetConditionFieldName(desc, type == stRefresh);
    // The zero date read as NULL is the zero date; a NULL set here may have been stored as the
    // zero date (a NOT NULL column of a lenient session): the row may hold either.
    if (mark == NullMarkZeroDate)
      builder += name + " = '" + zero + "'";
    else
      builder += "(" + name + " IS NULL OR " + name + " = '" + zero + "')";
    return;
  }
  TDASQLGenerator::AddFieldToCondition(builder, desc, batchIndex, checkNull, type);
}

void TMySQLGenerator::AddValueToCondition(std::string& builder, const TFieldDesc& desc, int batchIndex,
                                          bool checkNull, TStatementType type) {
  const TDataType t = desc.DataType;
  const bool text = t == dtString || t == dtExtString || t == dtWideString || t == dtExtWideString;
  const std::string charset = text ? Host().ColumnCharset(desc) : std::string();
  const bool named = !charset.empty() && std::all_of(charset.begin(), charset.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
  });
  const bool old = type != stRefresh || Settings().CachedUpdates;
  if (!named || (checkNull && IsNull(desc, type != stRefresh))) {
    AddFieldToCondition(builder, desc, batchIndex, checkNull, type);
    return;
  }
  if (!builder.empty()) builder += " AND ";
  builder += "BINARY " + GetConditionFieldName(desc, type == stRefresh) + " = CONVERT(";
  AddParam(builder, desc, old, batchIndex, type);
  builder += " USING " + charset + ")";
}

void TMySQLGenerator::LimitToOneRow(const TKeyAndDataFields& keyAndData) {
  if (!FHeaderSB.empty() && keyAndData.KeyFieldDescs.empty()) FFooterSB = "\r\nLIMIT 1";
}

void TMySQLGenerator::GenerateUpdateSQL(const TKeyAndDataFields& keyAndData, bool modifiedFieldsOnly,
                                        int batchIndex) {
  TDASQLGenerator::GenerateUpdateSQL(keyAndData, modifiedFieldsOnly, batchIndex);
  LimitToOneRow(keyAndData);
}

void TMySQLGenerator::AddFieldToUpdateSQL(const TFieldDesc& desc, int batchIndex) {
  // A value held only approximately is written only when changed: written back unchanged (every
  // field written) it would replace the stored value with its rounding.
  if (IsInexactMyField(desc) && !FieldModified(desc)) return;
  // So is a date read as NULL but held otherwise by the server (the zero date, a date the client
  // cannot read): written back it would become NULL.
  if (NullMark(desc, true) > NullMarkNull && !FieldModified(desc)) return;
  TDASQLGenerator::AddFieldToUpdateSQL(desc, batchIndex);
}

void TMySQLGenerator::GenerateDeleteSQL(const TKeyAndDataFields& keyAndData, bool modifiedFieldsOnly,
                                        int batchIndex) {
  TDASQLGenerator::GenerateDeleteSQL(keyAndData, modifiedFieldsOnly, batchIndex);
  LimitToOneRow(keyAndData);
}

void TMySQLGenerator::GenerateLockSQL(const TKeyAndDataFields& keyAndData, int batchIndex) {
  FHeaderSB = "SELECT NULL FROM " + WrittenTableName();
  // The conditions name the columns by the alias when the query gave one.
  if (!TableInfo()->GetTableAlias().empty())
    FHeaderSB += " " + QuotedTableName(*TableInfo(), TableInfo()->GetTableAlias());
  FMiddleSB = "\r\nWHERE\r\n  ";
  GenerateConditions(FCondSB, stRefresh, true, keyAndData, batchIndex);
  FFooterSB = "\r\n";
  if (FLockMode == 0) FFooterSB += "FOR UPDATE";
  if (FLockMode == 1) FFooterSB += "LOCK IN SHARE MODE";
}

void TMySQLGenerator::GenerateConditions(std::string& builder, TStatementType type, bool checkNull,
                                         const TKeyAndDataFields& keyAndData, int batchIndex) {
  if (type == stRefreshQuick) {
    GenerateQuickRefreshCondition(builder);
  } else if ((type == stUpdate || type == stDelete) && Settings().CheckRowVersion) {
    GenerateRowVersionConditions(builder, type, checkNull, keyAndData, batchIndex);
  } else {
    TDASQLGenerator::GenerateConditions(builder, type, checkNull, keyAndData, batchIndex);
  }
}

void TMySQLGenerator::GenerateRowVersionConditions(std::string& builder, TStatementType type, bool checkNull,
                                                   const TKeyAndDataFields& keyAndData, int batchIndex) {
  for (TFieldDesc* key : keyAndData.KeyFieldDescs)
    AddFieldToCondition(builder, *key, batchIndex, checkNull, type);
  // The row's TIMESTAMP changes with every write: with a value it tells alone whether the row
  // changed since it was read.
  TFieldDesc* stamp = FirstTimestampField(Host().GeneratorData(), TableInfo());
  if (stamp != nullptr && Host().FieldOfDesc(stamp) != nullptr && !IsNull(*stamp, true)) {
    AddFieldToCondition(builder, *stamp, batchIndex, checkNull, type);
    return;
  }
  if (keyAndData.DataFieldDescs.empty()) throw EDatabaseError(MessageText(SKeyFieldsNotFound));
  const auto& keys = keyAndData.KeyFieldDescs;
  for (TFieldDesc* data : keyAndData.DataFieldDescs) {
    if (IsBlobDataType(data->DataType) || std::find(keys.begin(), keys.end(), data) != keys.end() ||
        Host().IsGeneratedField(*data))
      continue;
    AddValueToCondition(builder, *data, batchIndex, checkNull, type);
  }
}

void TMySQLGenerator::GenerateQuickRefreshCondition(std::string& builder) {
  TFieldDesc* stamp = FirstTimestampField(Host().GeneratorData(), nullptr);
  if (stamp == nullptr || Host().FieldOfDesc(stamp) == nullptr)
    throw EDatabaseError(MessageText(STimestampFieldRequired));
  const auto* table = dynamic_cast<const TMyTableInfo*>(static_cast<const TCRFieldDesc*>(stamp)->TableInfo);
  const TDateTime since = table != nullptr ? table->MaxTimestamp : 0;
  builder += GetConditionFieldName(*stamp, false) + " >= " +
             ValueToSQLText(dtDateTime, Variant::FromDateTime(since), false, 5, false, false,
                            TCharsetKind::SingleByte);
}

bool IsInexactMyField(const TFieldDesc& desc) {
  const auto* my = dynamic_cast<const TMySQLFieldDesc*>(&desc);
  if (my == nullptr) return false;
  // A FLOAT value read back never equals the stored one exactly.
  if (my->MySQLType == mftFloat) return true;
  if (!IsDecimalType(my->MySQLType)) return false;
  // The display length counts the sign and the point besides the digits.
  const int digits = static_cast<int>(my->Length) - (my->Decimals > 0 ? 1 : 0) - (my->IsUnsigned ? 0 : 1);
  switch (my->DataType) {
    case dtFloat:
    case dtCurrency:
      return digits > 15;  // a double holds 15 significant digits exactly
    case dtBCD:
      return my->Decimals > 4 || digits - my->Decimals > 14;  // scaled by 10,000 in 64 bits
    default:
      return false;  // the exact digits (FmtBCD, text)
  }
}

TKeyAndDataFields MyKeyAndDataFields(const std::vector<TFieldDesc*>& fields, const TCRTableInfo* table) {
  TKeyAndDataFields result;
  bool inexactKey = false;
  for (TFieldDesc* field : fields) {
    const auto* my = dynamic_cast<const TMySQLFieldDesc*>(field);
    if (table != nullptr && (my == nullptr || my->TableInfo != table)) continue;
    if (my != nullptr && my->IsPrimaryKey) {
      if (IsInexactMyField(*my))
        inexactKey = true;
      else
        result.KeyFieldDescs.push_back(field);
    }
    if (my == nullptr || my->MySQLType != mftNull) result.DataFieldDescs.push_back(field);
  }
  if (inexactKey) result.KeyFieldDescs.clear();
  return result;
}

namespace {

// The field of `fields` showing the column, or nil.
TFieldDesc* FieldOfColumn(const std::vector<TFieldDesc*>& fields, const std::string& column) {
  const auto sameName = [](const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) ==
                    std::tolower(static_cast<unsigned char>(y));
           });
  };
  const auto found = std::find_if(fields.begin(), fields.end(), [&](const TFieldDesc* f) {
    return sameName(f->ActualName.empty() ? f->Name : f->ActualName, column);
  });
  return found != fields.end() ? *found : nullptr;
}

}  // namespace

std::vector<TFieldDesc*> MyWholeKeyFields(const std::vector<TFieldDesc*>& fields,
                                          const std::vector<TMyTableKey>& keys) {
  for (const TMyTableKey& key : keys) {
    std::vector<TFieldDesc*> chosen;
    for (const std::string& column : key.Columns) {
      TFieldDesc* field = FieldOfColumn(fields, column);
      if (field == nullptr || IsInexactMyField(*field)) break;
      chosen.push_back(field);
    }
    if (!chosen.empty() && chosen.size() == key.Columns.size()) return chosen;
  }
  return {};
}

std::vector<std::string> MyMissingKeyColumns(const std::vector<TFieldDesc*>& fields,
                                             const std::vector<TMyTableKey>& keys) {
  if (!MyWholeKeyFields(fields, keys).empty()) return {};
  for (const TMyTableKey& key : keys) {
    std::vector<std::string> missing;
    bool inexact = false;
    for (const std::string& column : key.Columns) {
      const TFieldDesc* field = FieldOfColumn(fields, column);
      if (field == nullptr) missing.push_back(column);
      inexact = inexact || (field != nullptr && IsInexactMyField(*field));
    }
    if (!inexact && !missing.empty()) return missing;
  }
  return {};
}

std::string TMySQLGenerator::RowCountCheck(const std::string& serverVersion) const {
  if (serverVersion.find("MariaDB") == std::string::npos) return {};
  // "5.5.5-" stands before the real version in some handshakes.
  std::string_view version = serverVersion;
  if (version.starts_with("5.5.5-")) version.remove_prefix(6);
  int major = 0;
  std::from_chars(version.data(), version.data() + version.size(), major);
  if (major < 10) return {};
  return "IF ROW_COUNT() <> 1 THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'Row count check'; END IF";
}
