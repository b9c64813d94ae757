#include "components/MyAccessDataSet.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "components/DBAccessText.h"
#include "components/MemDSXml.h"
#include "components/MyAccess.h"
#include "core/DAConsts.h"
#include "mysql/MyParser.h"
#include "mysql/MySQLCommand.h"
#include "platform/db/NumericFields.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/LocaleCompare.h"

// ---- TMyDataSetOptions ----------------------------------------------------------------------------

TMyDataSetOptions::TMyDataSetOptions(TCustomDADataSet* owner) : TDADataSetOptions(owner) {
  FRequiredFields = false;
  FieldsOrigin = true;
}

TCustomMyDataSet& TMyDataSetOptions::MyOwner() const {
  return static_cast<TCustomMyDataSet&>(Owner());
}

void TMyDataSetOptions::SetRecordSetOption(bool& field, bool value, int prop, bool fieldDefsChange) {
  if (value == field) return;
  CheckInactive();
  field = value;
  if (TCRRecordSet* rs = Owner().CRRecordSet()) rs->SetProp(prop, value);
  if (fieldDefsChange) Owner().FieldDefs().Updated = false;
}

void TMyDataSetOptions::SetFieldsAsString(bool value) {
  SetRecordSetOption(FFieldsAsString, value, prFieldsAsString, true);
}

void TMyDataSetOptions::SetNullForZeroDate(bool value) {
  SetRecordSetOption(FNullForZeroDate, value, prNullForZeroDate, false);
}

void TMyDataSetOptions::SetEnableBoolean(bool value) {
  SetRecordSetOption(FEnableBoolean, value, prEnableBoolean, true);
}

void TMyDataSetOptions::SetCreateConnection(bool value) {
  SetRecordSetOption(FCreateConnection, value, prCreateConnection, false);
}

void TMyDataSetOptions::SetAutoRefresh(bool value) {
  if (value == FAutoRefresh) return;
  FAutoRefresh = value;
  MyOwner().UpdateAutoRefreshTimer();
}

void TMyDataSetOptions::SetAutoRefreshInterval(int value) {
  if (value == FAutoRefreshInterval) return;
  FAutoRefreshInterval = value;
  MyOwner().UpdateAutoRefreshTimer();
}

void TMyDataSetOptions::Assign(TPersistent* source) {
  TDADataSetOptions::Assign(source);
  auto* other = dynamic_cast<TMyDataSetOptions*>(source);
  if (other == nullptr) return;
  if (other->LongStrings() != LongStrings()) SetLongStrings(other->LongStrings());
  FullRefresh = other->FullRefresh;
  SetFieldsAsString(other->FFieldsAsString);
  SetCompressBlobMode(other->CompressBlobMode());
  SetNullForZeroDate(other->FNullForZeroDate);
  SetEnableBoolean(other->FEnableBoolean);
  FieldsOrigin = other->FieldsOrigin;
  SetCreateConnection(other->FCreateConnection);
}

// ---- Construction ------------------------------------------------------------------------------------

TCustomMyDataSet::TCustomMyDataSet(TComponent* owner) : TCustomDADataSet(owner) {
  CreateParts();
  SetFetchAll(true);
}

TCustomMyDataSet::~TCustomMyDataSet() {
  FAutoRefreshTimer.reset();
  try {
    Close();
  } catch (...) {
    // Going away: the record set frees what is left.
  }
}

std::unique_ptr<TCustomDASQL> TCustomMyDataSet::CreateCommand() {
  return std::make_unique<TMyCommand>(nullptr);
}

std::unique_ptr<TDADataSetOptions> TCustomMyDataSet::CreateOptions() {
  return std::make_unique<TMyDataSetOptions>(this);
}

TCRRecordSetClass TCustomMyDataSet::DefaultIRecordSetClass() const {
  return ProviderClassOf<TMySQLRecordset, TCRRecordSet>();
}

void TCustomMyDataSet::AssignRecordSetProps(TCRRecordSet& rs) {
  TCustomDADataSet::AssignRecordSetProps(rs);
  rs.SetProp(prCommandTimeout, FCommandTimeout);
  // Options are made after the record set on construction; they pass their values later.
  if (auto* options = dynamic_cast<TMyDataSetOptions*>(&TCustomDADataSet::Options())) {
    rs.SetProp(prFieldsAsString, options->FieldsAsString());
    rs.SetProp(prNullForZeroDate, options->NullForZeroDate());
    rs.SetProp(prEnableBoolean, options->EnableBoolean());
    rs.SetProp(prCreateConnection, options->CreateConnection());
  }
}

void TCustomMyDataSet::SetCommandTimeout(int value) {
  FCommandTimeout = value;
  if (TCRRecordSet* rs = CRRecordSet()) rs->SetProp(prCommandTimeout, value);
  // The command shares the record set's provider command and writes its own time-out into it
  // whenever the connection or the text changes: both keep the same value.
  if (auto* command = dynamic_cast<TMyCommand*>(&Command())) command->SetCommandTimeout(value);
}

TFieldType TCustomMyDataSet::GetFieldType(TDataType dataType) const {
  return MyDataTypeToFieldType(dataType);
}

// ---- Names and SQL text --------------------------------------------------------------------------------

std::string TCustomMyDataSet::QuoteName(const std::string& name) {
  return TMyTableInfo::Class().NormalizeName(name, TCustomDADataSet::Options().QuoteNames);
}

std::string TCustomMyDataSet::UnQuoteName(const std::string& name) const {
  return UnquoteName(name);
}

// The clause edits find their places as the session will read the text: under NO_BACKSLASH_ESCAPES
// 'C:\' is a whole string, and read the other way the edit would land inside it.
bool TCustomMyDataSet::TextNoBackslashEscapes() const {
  const TCustomMyConnection* connection = Connection();
  const TMySQLConnection* session = connection != nullptr ? connection->MyIConnection() : nullptr;
  return session != nullptr && session->NoBackslashEscapes();
}

std::vector<size_t> TCustomMyDataSet::PlaceholderOffsets(const std::string& sql) {
  return FindPlaceholders(sql, AnsiCharsetKind(), TextNoBackslashEscapes());
}

std::string TCustomMyDataSet::SQLAddWhere(const std::string& sql, const std::string& condition) {
  return MyAddWhere(sql, condition, AnsiCharsetKind(), TextNoBackslashEscapes());
}

std::string TCustomMyDataSet::SQLDeleteWhere(const std::string& sql) const {
  return MyDeleteWhere(sql, AnsiCharsetKind(), TextNoBackslashEscapes());
}

std::string TCustomMyDataSet::SQLSetOrderBy(const std::string& sql, const std::string& fields) const {
  return MySetOrderBy(sql, fields, AnsiCharsetKind(), TextNoBackslashEscapes());
}

std::string TCustomMyDataSet::SQLGetOrderBy(const std::string& sql) const {
  return MyGetOrderBy(sql, AnsiCharsetKind(), TextNoBackslashEscapes());
}

void TCustomMyDataSet::CheckSQL() {
  if (TrimSQLBlanks(SQL().Text()).empty()) throw EDatabaseError(MessageText(SNoSQLStatement));
}

// ---- Preparing and executing ----------------------------------------------------------------------------

void TCustomMyDataSet::Prepare() {
  if (Prepared() || Active()) return;
  BeginConnection();
  try {
    if (Connection() != nullptr) Connection()->CheckPrepareSupport();
    TCustomDADataSet::Prepare();
  } catch (...) {
    EndConnection();
    throw;
  }
  EndConnection();
}

void TCustomMyDataSet::Execute() {
  CheckSQL();
  BeginConnection();
  try {
    TCustomDADataSet::Execute();
    Variant id;
    TCustomDAConnection* conn = UsedConnection();
    if (!Active() && conn->IConnection() != nullptr && conn->GetConnected() &&
        conn->IConnection()->GetProp(prLastInsertId, id))
      FInsertId = id.AsInt64();
  } catch (...) {
    EndConnection();
    throw;
  }
  EndConnection();
}

bool TCustomMyDataSet::CanModify() const {
  if (ReadOnly() || UniDirectional()) return false;
  // The user's own statements write what the result cannot.
  auto hasText = [](const TStringList& list) { return !TrimSQLBlanks(list.Text()).empty(); };
  auto& self = const_cast<TCustomMyDataSet&>(*this);
  return FHasRealColumn || hasText(self.SQLInsert()) || hasText(self.SQLUpdate()) ||
         hasText(self.SQLDelete());
}

// ---- Fields
// ------------------------------------------------------------------------------------------------

TMySQLFieldDesc* TCustomMyDataSet::MyFieldDesc(const TField* field) const {
  return AsMyFieldDesc(GetFieldDesc(field));
}

void TCustomMyDataSet::CreateFields() {
  FKeyCache.clear();
  FTableKeys.clear();
  FTableColumns.clear();
  FTimestampField = nullptr;
  FHasRealColumn = false;
  TCustomDADataSet::CreateFields();
  for (const auto& desc : IRecordSet().Fields()) {
    auto* my = AsMyFieldDesc(desc.get());
    if (my != nullptr && my->FieldDescKind == fdkData && my->MySQLType != mftNull) FHasRealColumn = true;
  }
  for (TField* field : Fields()) {
    if (field->FieldKind() != fkData) continue;
    TMySQLFieldDesc* desc = MyFieldDesc(field);
    if (desc == nullptr) continue;
    if (TCustomDADataSet::Options().FieldsOrigin) {
      static const std::string noTable;
      const std::string& table = desc->TableInfo != nullptr ? desc->TableInfo->GetTableName() : noTable;
      if (table.empty()) {
        field->Origin = desc->ActualName;
      } else {
        std::string& origin = field->Origin;
        origin.reserve(table.size() + 1 + desc->ActualName.size());
        origin.assign(table);
        origin.push_back('.');
        origin.append(desc->ActualName);
      }
    }
    if (desc->IsAutoIncrement) field->AutoGenerateValue = TField::arAutoInc;
    if (desc->IsAutoIncrement && TCustomDADataSet::Options().SetFieldsReadOnly) field->SetReadOnly(true);
    if (desc->MySQLType == mftTimestamp) FTimestampField = desc;
  }
  ChooseIdentityField();
}

void TCustomMyDataSet::ChooseIdentityField() {
  FIdentityField = nullptr;
  TCRTableInfo* updating = UpdatingTableInfo();
  if (updating == nullptr) return;
  for (TField* field : Fields()) {
    if (field->FieldKind() != fkData) continue;
    TMySQLFieldDesc* desc = MyFieldDesc(field);
    if (desc != nullptr && desc->IsAutoIncrement && desc->TableInfo == updating) FIdentityField = field;
  }
}

void TCustomMyDataSet::SetUpdatingTable(const std::string& value) {
  TCustomDADataSet::SetUpdatingTable(value);
  if (Active()) ChooseIdentityField();
}

void TCustomMyDataSet::FieldDescsRenewed() {
  FKeyCache.clear();
  FTimestampField = nullptr;
  for (const auto& desc : IRecordSet().Fields())
    if (IsTimestampField(desc.get())) FTimestampField = static_cast<TMySQLFieldDesc*>(desc.get());
}

void TCustomMyDataSet::CloseCursor() {
  FTimestampField = nullptr;
  FKeyCache.clear();
  FTableKeys.clear();
  FTableColumns.clear();
  TCustomDADataSet::CloseCursor();
}

TKeyAndDataFields TCustomMyDataSet::KeyAndDataFieldsOf(int tableIndex, bool forceAll) {
  TCRRecordSet* rs = CRRecordSet();
  if (rs == nullptr || tableIndex < 0 || tableIndex >= rs->GetTablesInfo().GetCount() || FieldCount() == 0)
    return {};
  const bool allTables = forceAll && TCustomDADataSet::Options().FullRefresh;
  const int cacheKey = tableIndex * 2 + (allTables ? 1 : 0);
  if (auto cached = FKeyCache.find(cacheKey); cached != FKeyCache.end()) return cached->second;
  std::vector<TFieldDesc*> fields;
  for (TField* field : Fields())
    if (field->FieldKind() == fkData)
      if (TMySQLFieldDesc* desc = MyFieldDesc(field)) fields.push_back(desc);
  TCRTableInfo* updating = rs->GetTablesInfo()[tableIndex];
  TKeyAndDataFields result = MyKeyAndDataFields(fields, allTables ? nullptr : updating);
  result.KeyFieldDescs = WholeKeyFields(result.DataFieldDescs);
  // The keys are read even when no shown column belongs to one: a result that leaves them out
  // must not find its rows by the columns it shows.
  std::vector<TFieldDesc*> ofUpdating;
  for (TFieldDesc* field : result.DataFieldDescs)
    if (static_cast<TCRFieldDesc*>(field)->TableInfo == updating) ofUpdating.push_back(field);
  result.MissingKeyColumns = MyMissingKeyColumns(ofUpdating, TableKeys(*updating));
  FKeyCache[cacheKey] = result;
  return result;
}

// Per table of the fields: its whole key, when the result holds one.
std::vector<TFieldDesc*> TCustomMyDataSet::WholeKeyFields(const std::vector<TFieldDesc*>& dataFields) {
  std::vector<TFieldDesc*> key;
  std::vector<const TCRTableInfo*> done;
  for (TFieldDesc* field : dataFields) {
    const TCRTableInfo* table = static_cast<TCRFieldDesc*>(field)->TableInfo;
    if (table == nullptr || std::find(done.begin(), done.end(), table) != done.end()) continue;
    done.push_back(table);
    std::vector<TFieldDesc*> ofTable;
    for (TFieldDesc* other : dataFields)
      if (static_cast<TCRFieldDesc*>(other)->TableInfo == table) ofTable.push_back(other);
    const std::vector<TFieldDesc*> whole = MyWholeKeyFields(ofTable, TableKeys(*table));
    key.insert(key.end(), whole.begin(), whole.end());
  }
  return key;
}

std::string TCustomMyDataSet::TableNameOf(const TCRTableInfo& table) {
  const std::string full = table.GetTableNameFull();
  const TCRTableInfoClass& names = table.ClassType();
  // A bare name is one identifier even when it holds a point.
  return full.empty() ? names.NormalizeIdentifier(table.GetTableName(), true)
                      : names.NormalizeName(full, true);
}

const std::vector<TMyTableKey>& TCustomMyDataSet::TableKeys(const TCRTableInfo& table) {
  const std::string name = TableNameOf(table);
  if (auto cached = FTableKeys.find(name); cached != FTableKeys.end()) return cached->second;
  std::vector<TMyTableKey> keys;
  TCustomMyDataSet reader(nullptr);
  PrepareReader(reader, "SHOW INDEX FROM " + name);
  try {
    reader.Open();
  } catch (const EMyError& e) {
    // A derived table has no keys; a write to it fails on its own.
    constexpr int noSuchTable = 1146;
    if (e.ErrorCode != noSuchTable) throw;
    return FTableKeys[name] = std::move(keys);
  }
  TField* nonUnique = reader.FindField("Non_unique");
  TField* keyName = reader.FindField("Key_name");
  TField* column = reader.FindField("Column_name");
  TField* nullable = reader.FindField("Null");
  std::vector<std::string> refused;
  for (; nonUnique != nullptr && keyName && column && nullable && !reader.Eof(); reader.Next()) {
    const std::string key = keyName->AsString();
    const bool primary = key == "PRIMARY";
    // A unique key over a nullable column lets several rows hold NULL there.
    const bool identifies = primary || (nonUnique->AsInteger() == 0 && nullable->AsString() != "YES");
    if (std::find(refused.begin(), refused.end(), key) != refused.end()) continue;
    if (!identifies) {
      refused.push_back(key);
      keys.erase(
          std::remove_if(keys.begin(), keys.end(), [&](const TMyTableKey& k) { return k.Name == key; }),
          keys.end());
      continue;
    }
    if (keys.empty() || keys.back().Name != key) keys.push_back({key, {}});
    keys.back().Columns.push_back(column->AsString());
  }
  reader.Close();
  // The primary key first: it is the row key whenever it is whole.
  std::stable_partition(keys.begin(), keys.end(), [](const TMyTableKey& k) { return k.Name == "PRIMARY"; });
  return FTableKeys[name] = std::move(keys);
}

const std::vector<TCustomMyDataSet::TShownColumn>& TCustomMyDataSet::TableColumns(const std::string& name) {
  if (auto cached = FTableColumns.find(name); cached != FTableColumns.end()) return cached->second;
  std::vector<TShownColumn> columns;
  TCustomMyDataSet reader(nullptr);
  PrepareReader(reader, "SHOW FULL COLUMNS FROM " + name);
  reader.Open();
  TField* field = reader.FindField("Field");
  TField* collation = reader.FindField("Collation");
  TField* fallback = reader.FindField("Default");
  TField* extra = reader.FindField("Extra");
  for (; field != nullptr && !reader.Eof(); reader.Next()) {
    TShownColumn column;
    column.Name = field->AsString();
    if (collation != nullptr && !collation->IsNull()) column.Collation = collation->AsString();
    column.HasDefault = fallback != nullptr && !fallback->IsNull();
    if (column.HasDefault) column.Default = fallback->AsString();
    if (extra != nullptr) column.Extra = extra->AsString();
    columns.push_back(std::move(column));
  }
  reader.Close();
  return FTableColumns[name] = std::move(columns);
}

bool TCustomMyDataSet::IsGeneratedField(const TFieldDesc& desc) {
  const TCRTableInfo* table = static_cast<const TCRFieldDesc&>(desc).TableInfo;
  if (table == nullptr || desc.FieldDescKind != fdkData) return false;
  // "VIRTUAL GENERATED", "STORED GENERATED" (or "PERSISTENT GENERATED" on older servers).
  for (const TShownColumn& column : TableColumns(TableNameOf(*table)))
    if (SameFieldName(column.Name, desc.ActualName))
      return AnsiUpperCase(column.Extra).find("GENERATED") != std::string::npos;
  return false;
}

void TCustomMyDataSet::PrepareReader(TCustomMyDataSet& reader, const std::string& sql) {
  reader.Internal = true;
  reader.Command().Quiet = true;
  reader.SetParamCheck(false);
  reader.TCustomDADataSet::SetConnection(UsedConnection());
  reader.SetSQLText(sql);
}

std::string TCustomMyDataSet::ColumnCharset(const TFieldDesc& desc) {
  const TMySQLFieldDesc* my = AsMyFieldDesc(&desc);
  if (my == nullptr || my->TableInfo == nullptr) return {};
  const auto lower = [](std::string text) {
    for (char& c : text)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
  };
  const std::string wanted = lower(desc.ActualName.empty() ? desc.Name : desc.ActualName);
  for (const TShownColumn& column : TableColumns(TableNameOf(*my->TableInfo))) {
    if (lower(column.Name) != wanted) continue;
    // A collation's name begins with its character set's; bytes have none.
    if (column.Collation.empty() || column.Collation == "binary") return {};
    return column.Collation.substr(0, column.Collation.find('_'));
  }
  return {};
}

bool TCustomMyDataSet::WritesSurviveRollback() {
  if (UpdateObject() != nullptr || OnUpdateRecord || !UserUpdateSQL(stInsert).empty() ||
      !UserUpdateSQL(stUpdate).empty() || !UserUpdateSQL(stDelete).empty())
    return false;
  auto* connection = dynamic_cast<TCustomMyConnection*>(UsedConnection());
  TCRTableInfo* table = UpdatingTableInfo();
  if (connection == nullptr || table == nullptr) return false;
  std::string database, name;
  SplitObjectName(TableNameOf(*table), database, name);
  const std::optional<bool> transactional = connection->TableHasTransactions(database, name);
  return transactional.has_value() && !*transactional;
}

TDASQLGeneratorSettings TCustomMyDataSet::GeneratorSettings() {
  TDASQLGeneratorSettings settings = TCustomDADataSet::GeneratorSettings();
  settings.CheckRowVersion = Options().CheckRowVersion;
  return settings;
}

std::unique_ptr<TDASQLGenerator> TCustomMyDataSet::CreateSQLGenerator() {
  return std::make_unique<TMySQLGenerator>(this);
}

std::unique_ptr<TCustomDADataSet> TCustomMyDataSet::CreateHelperDataSet() {
  return std::make_unique<TCustomMyDataSet>(nullptr);
}

bool TCustomMyDataSet::IsTimestampField(const TFieldDesc* desc) const {
  auto* my = dynamic_cast<const TMySQLFieldDesc*>(desc);
  return my != nullptr && my->MySQLType == mftTimestamp;
}

void TCustomMyDataSet::TrackTimestamp(const TFieldDesc* desc, const Variant& value) {
  auto* my = dynamic_cast<const TMySQLFieldDesc*>(desc);
  if (my == nullptr || my->MySQLType != mftTimestamp || value.IsNull() || value.IsEmpty()) return;
  auto* table = dynamic_cast<TMyTableInfo*>(my->TableInfo);
  if (table == nullptr) return;
  const double stamp = value.AsDateTime();
  if (stamp > table->MaxTimestamp) table->MaxTimestamp = stamp;
}

// The column type's own range: a YEAR column holds real years, an INT -2147483648 too.
void TCustomMyDataSet::SetNumberRange(TFieldDef& fieldDef) {
  TField* field = FindField(fieldDef.Name());
  TMySQLFieldDesc* desc = field != nullptr ? MyFieldDesc(field) : nullptr;
  if (desc == nullptr) return;
  auto setInt = [field](int64_t min, int64_t max) {
    if (auto* f = dynamic_cast<TIntegerField*>(field)) {
      f->MinValue = static_cast<int32_t>(min);
      f->MaxValue = static_cast<int32_t>(max);
    } else if (auto* l = dynamic_cast<TLargeintField*>(field)) {
      l->MinValue = min;
      l->MaxValue = max;
    }
  };
  const bool u = desc->IsUnsigned;
  switch (desc->MySQLType) {
    case mftTiny:
      return u ? setInt(0, 255) : setInt(-128, 127);
    case mftShort:
      return u ? setInt(0, 65535) : setInt(-32768, 32767);
    case mftInt24:
      return u ? setInt(0, 16777215) : setInt(-8388608, 8388607);
    case mftLong:
      if (!u) return setInt(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
      return setInt(0, std::numeric_limits<uint32_t>::max());
    case mftLongLong:
      // Unsigned: a field of 64-bit unsigned values refuses a negative one of itself.
      if (u) setInt(0, std::numeric_limits<int64_t>::max());
      return;
    case mftYear:
      if (desc->Length == 2) return setInt(0, 99);
      if (desc->Length == 4) {
        setInt(1901, 2155);  // and 0000
        if (auto* f = dynamic_cast<TIntegerField*>(field)) f->ZeroInRange = true;
      }
      return;
    case mftFloat:
    case mftDouble:
      if (auto* f = dynamic_cast<TFloatField*>(field)) {
        f->Precision = static_cast<int>(desc->Length);
        f->MaxValue = desc->MySQLType == mftFloat ? 3.402823466E38 : std::numeric_limits<double>::max();
        f->MinValue = -f->MaxValue;
      }
      return;
    case mftDecimal:
    case mftNewDecimal: {
      // DECIMAL(p,s) holds +-(10^(p-s) - 10^-s); the column's length counts its sign and point
      // besides the p digits.
      const int scale = desc->Scale;
      const int digits = static_cast<int>(desc->Length) - (scale > 0 ? 1 : 0) - (u ? 0 : 1);
      const int whole = digits - scale;
      if (whole < 0) return;
      const double max = std::pow(10.0, whole) - std::pow(10.0, -scale);
      if (auto* b = dynamic_cast<TBCDField*>(field)) {
        if (whole > 14) return;
        b->MaxValue = Currency::FromScaled(static_cast<int64_t>(std::llround(max * CurrencyScale)));
        b->MinValue = u ? Currency::FromScaled(0) : Currency::FromScaled(-b->MaxValue.Scaled);
      } else if (auto* f = dynamic_cast<TFloatField*>(field)) {
        // A float holds about 15 digits: beyond them the bound itself is not exact.
        if (digits > 15) return;
        f->MaxValue = max;
        f->MinValue = u ? 0 : -max;
      }
      return;
    }
    default:
      return;
  }
}

// ---- XML
// ---------------------------------------------------------------------------------------------------

void TCustomMyDataSet::WriteFieldXMLDataType(TField* field, const TFieldDesc& desc, XmlTextWriter& writer) {
  TCustomDADataSet::WriteFieldXMLDataType(field, desc, writer);
  if (field->Required()) writer.WriteAttribute("rs:maybenull", "false");
}

void TCustomMyDataSet::WriteFieldXMLAttributes(TField* field, const TFieldDesc& desc, XmlTextWriter& writer,
                                               const std::string& uniqueName) {
  TCustomDADataSet::WriteFieldXMLAttributes(field, desc, writer, uniqueName);
  if (auto* cr = dynamic_cast<const TCRFieldDesc*>(&desc); cr != nullptr && cr->TableInfo != nullptr)
    writer.WriteAttribute("rs:basetable", XmlEscape(AnsiToUtf8(cr->TableInfo->GetTableName())));
  if (&desc == FTimestampField) writer.WriteAttribute("rs:rowver", "true");
}

void TCustomMyDataSet::Assign(TPersistent* source) {
  TCustomDADataSet::Assign(source);
  if (auto* other = dynamic_cast<TCustomMyDataSet*>(source)) {
    SetCommandTimeout(other->FCommandTimeout);
    Params().Assign(&other->Params());
  }
}

// ---- Record count ----------------------------------------------------------------------------------------

// A query with DISTINCT, GROUP BY, HAVING, LIMIT or UNION is counted as a derived table: replacing
// its select list would count rows before they are grouped, merged or cut.
std::string TCustomMyDataSet::CountSQL(const std::string& query, bool noBackslashEscapes) {
  const std::string sql = TrimSQLBlanks(MySetOrderBy(query, "", AnsiCharsetKind(), noBackslashEscapes));
  TMyParser parser(sql);
  parser.NoBackslashEscapes = noBackslashEscapes;
  parser.OmitBlank = true;
  parser.OmitComment = true;
  int depth = 0;
  int64_t selectEnd = -1, fromStart = -1;
  bool derived = false, afterSelect = false;
  std::string lexem;
  for (int code = parser.GetNext(lexem); code != lcEnd; code = parser.GetNext(lexem)) {
    if (lexem == "(") ++depth;
    if (lexem == ")" && depth > 0) --depth;
    if (depth > 0) continue;
    const int64_t start = parser.GetCurrPos() - static_cast<int64_t>(lexem.size());
    std::string upper = lexem;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (afterSelect && (upper == "DISTINCT" || upper == "DISTINCTROW")) derived = true;
    afterSelect = false;
    if (code == lxSELECT && selectEnd < 0) {
      selectEnd = parser.GetCurrPos();
      afterSelect = true;
    } else if (code == lxFROM && selectEnd >= 0 && fromStart < 0) {
      fromStart = start;
    } else if (code == lxGROUP || code == lxHAVING || code == lxLIMIT || upper == "UNION") {
      derived = true;
    }
  }
  if (selectEnd < 0 || fromStart < 0) return {};
  if (derived) return "SELECT COUNT(*) FROM (" + sql + ") AS counted_rows";
  return sql.substr(0, static_cast<size_t>(selectEnd)) + " COUNT(*) " +
         sql.substr(static_cast<size_t>(fromStart));
}

int TCustomMyDataSet::GetRecCount() {
  if (FetchAll() || !TCustomDADataSet::Options().QueryRecCount) return 0;
  if (Params().Count() > 0 && Params()[0]->ParamType() == ptResult) return 0;
  const std::string sql = CountSQL(FinalSQL(), TextNoBackslashEscapes());
  if (sql.empty()) return 0;
  TCustomDADataSet& query = Helper();
  query.Close();
  query.SetSQLText(sql);
  for (int i = 0; i < query.Params().Count(); ++i)
    if (TDAParam* own = Params().FindParam(query.Params()[i]->Name())) query.Params()[i]->Assign(own);
  TraceSQL("Get RecCount", false);
  query.Open();
  const int count = query.IsEmpty() || query.Fields().Count() == 0 ? 0 : query.Fields()[0]->AsInteger();
  query.Close();
  TraceSQL("Get RecCount", true);
  return count;
}

// ---- Column defaults
// ---------------------------------------------------------------------------------------

namespace {

// A TIMESTAMP default by its display width: digits only, two-digit years 70..99 in the 1900s.
std::string TimestampDefaultText(const std::string& value, uint32_t width) {
  std::string digits;
  for (char c : value)
    if (c >= '0' && c <= '9') digits += c;
  if (width == 19) width = 14;
  if (digits.size() < width || width < 2 || width % 2 != 0 || width > 14) return {};
  std::string full;
  size_t pos = 0;
  if (width == 8 || width == 14) {
    full = digits.substr(0, 4);
    pos = 4;
  } else {
    const int yy = std::stoi(digits.substr(0, 2));
    full = (yy >= 70 ? "19" : "20") + digits.substr(0, 2);
    pos = 2;
  }
  std::string rest = digits.substr(pos, width - pos);
  while (rest.size() < 10) rest += rest.size() < 4 ? "01" : "00";
  return full + "-" + rest.substr(0, 2) + "-" + rest.substr(2, 2) + " " + rest.substr(4, 2) + ":" +
         rest.substr(6, 2) + ":" + rest.substr(8, 2);
}

}  // namespace

void TCustomMyDataSet::AfterOpenCursor() {
  if (static_cast<TMyDataSetOptions&>(TCustomDADataSet::Options()).DefaultValues &&
      UpdatingTableInfo() != nullptr)
    ReadDefaultValues();
}

void TCustomMyDataSet::ReadDefaultValues() {
  TraceSQL("Get FieldsInfo", false);
  for (const TShownColumn& column : TableColumns(TableNameOf(*UpdatingTableInfo()))) {
    TField* field = FindField(column.Name);
    if (field == nullptr || !column.HasDefault) continue;
    std::string value = column.Default;
    TMySQLFieldDesc* desc = MyFieldDesc(field);
    if (desc != nullptr && desc->MySQLType == mftTimestamp) value = TimestampDefaultText(value, desc->Length);
    const TFieldType type = field->DataType();
    if (!value.empty() && (type == ftDate || type == ftTime || type == ftDateTime || type == ftDateTimeUs)) {
      // A default that is no real date (the zero date) is left unset.
      TDateTime parsed = 0;
      if (!TryStrToDateTime(value, parsed)) continue;
      value = DateTimeToStr(parsed);
    }
    field->DefaultExpression = value;
  }
  TraceSQL("Get FieldsInfo", true);
}

// ---- Auto refresh
// ------------------------------------------------------------------------------------------

void TCustomMyDataSet::UpdateAutoRefreshTimer() {
  const TMyDataSetOptions& options = static_cast<TMyDataSetOptions&>(TCustomDADataSet::Options());
  if (DesignCreate() || !options.AutoRefresh()) {
    if (FAutoRefreshTimer != nullptr) FAutoRefreshTimer->SetEnabled(false);
    return;
  }
  if (FAutoRefreshTimer == nullptr) {
    FAutoRefreshTimer = std::make_unique<TWin32Timer>();
    FAutoRefreshTimer->SetEnabled(false);
    FAutoRefreshTimer->SetOnTimer([this](TWin32Timer*) { AutoRefreshTick(); });
  }
  FAutoRefreshTimer->SetInterval(static_cast<uint32_t>(options.AutoRefreshInterval()) * 1000u);
  FAutoRefreshTimer->SetEnabled(true);
}

void TCustomMyDataSet::AutoRefreshTick() {
  if (!Active() || State() != dsBrowse) return;
  if (FTimestampField != nullptr)
    RefreshQuick(true);
  else if (!CachedUpdates() || !UpdatesPending())
    Refresh();  // a full refresh would drop the cached changes not yet applied: it waits for them
}
