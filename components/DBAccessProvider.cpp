// The query dataset's side of the platform's provider support: transactions, statements with "?"
// placeholders, keys and the default order.
#include <cctype>
#include <charconv>
#include <string>
#include <vector>

#include "components/DBAccess.h"
#include "components/DBAccessDataSet.h"
#include "core/DAConsts.h"
#include "core/MemFilter.h"

namespace {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

void AppendName(std::string& list, const std::string& name) {
  if (!list.empty()) list += ';';
  list += name;
}

// The ORDER BY items as written: names (dots included), numbers, and whether DESC follows.
struct TOrderItem {
  std::string Name;
  bool Number = false;
  bool Desc = false;
};

std::vector<TOrderItem> ReadOrderItems(const std::string& orderBy) {
  TBoolParser parser(orderBy);
  std::vector<TOrderItem> items;
  std::string lexem;
  bool dotPending = false;
  for (int code = parser.GetNext(lexem); code != lcEnd; code = parser.GetNext(lexem)) {
    if (code == lcSymbol && lexem == "." && !items.empty()) {
      items.back().Name += '.';
      dotPending = true;
      continue;
    }
    if (dotPending) {
      items.back().Name += lexem;
      dotPending = false;
      continue;
    }
    if (code == lcIdent || code == lcNumber || code == lcString) {
      if (code == lcIdent && SameText(lexem, "DESC") && !items.empty()) {
        items.back().Desc = true;
        continue;
      }
      if (code == lcIdent && SameText(lexem, "ASC")) continue;
      items.push_back({lexem, code == lcNumber, false});
    }
  }
  return items;
}

}  // namespace

void TCustomDADataSet::PSStartTransaction() {
  TCustomDAConnection* conn = UsedConnection();
  if (AutoCommit() && conn != nullptr && conn->GetConnected()) conn->StartTransaction();
}

void TCustomDADataSet::PSEndTransaction(bool commit) {
  TCustomDAConnection* conn = UsedConnection();
  if (!AutoCommit() || conn == nullptr || !conn->GetConnected()) return;
  if (commit)
    conn->Commit();
  else
    conn->Rollback();
}

std::vector<size_t> TCustomDADataSet::PlaceholderOffsets(const std::string& sql) {
  std::vector<size_t> offsets;
  for (size_t at = sql.find('?'); at != std::string::npos; at = sql.find('?', at + 1)) offsets.push_back(at);
  return offsets;
}

int TCustomDADataSet::PSExecuteStatement(const std::string& sql, TParams* params,
                                         std::unique_ptr<TCustomDADataSet>* resultSet) {
  TCustomDAConnection* conn = UsedConnection();
  if (conn == nullptr) throw EDatabaseError(MessageText(SConnectionNotDefined));
  // A "?" inside a string, a quoted name or a comment is text: made ":n" it would change the
  // value written and leave a placeholder without its parameter.
  std::string text;
  text.reserve(sql.size() + 8);
  int number = 0;
  size_t from = 0;
  for (size_t at : PlaceholderOffsets(sql)) {
    text.append(sql, from, at - from);
    text += ':' + std::to_string(++number);
    from = at + 1;
  }
  text.append(sql, from, std::string::npos);
  if (params != nullptr)
    for (int i = 0; i < params->Count(); ++i) {
      TParam* param = params->Items(i);
      param->SetName(std::to_string(i + 1));
      if (param->ParamType() == ptUnknown) param->SetParamType(ptInput);
    }
  if (resultSet != nullptr) {
    std::unique_ptr<TCustomDADataSet> dataSet = conn->CreateDataSet();
    dataSet->SetSQLText(text);
    if (params != nullptr) dataSet->Params().AssignValues(*params);
    dataSet->Execute();
    const int rows = dataSet->RowsAffected();
    *resultSet = std::move(dataSet);
    return rows;
  }
  std::unique_ptr<TCustomDASQL> command = conn->CreateSQL();
  command->SetSQLText(text);
  if (params != nullptr) command->Params().AssignValues(*params);
  command->Execute();
  return command->RowsAffected();
}

std::string TCustomDADataSet::PSGetKeyFields() {
  const bool borrowOpen = !Active() && FieldCount() == 0;
  const bool fetchAll = FetchAll();
  const int fetchRows = FetchRows();
  const bool debug = Debug;
  auto restore = [&] {
    if (Active()) Close();
    SetFetchAll(fetchAll);
    SetFetchRows(fetchRows);
    Debug = debug;
  };
  std::string keys;
  try {
    if (borrowOpen) {
      SetFetchAll(false);
      SetFetchRows(1);
      Debug = false;
      Open();
    }
    for (TFieldDesc* desc : GetKeyAndDataFields(false).KeyFieldDescs)
      if (TField* field = FieldOfDesc(desc)) AppendName(keys, field->FieldName());
  } catch (...) {
    if (borrowOpen) restore();
    throw;
  }
  if (borrowOpen) restore();
  return keys;
}

void TCustomDADataSet::PSSetCommandText(const std::string& text) {
  if (!text.empty()) SetSQLText(text);
}

void TCustomDADataSet::PSReset() {
  if (!Active()) return;
  Close();
  Open();
}

bool TCustomDADataSet::PSGetDefaultOrder(TPSIndexDef& order) {
  order = {};
  const std::string orderBy = GetOrderBy();
  if (orderBy.empty()) return false;
  for (const TOrderItem& item : ReadOrderItems(orderBy)) {
    std::string name;
    if (item.Number) {
      int n = 0;
      const char* end = item.Name.data() + item.Name.size();
      const auto [at, error] = std::from_chars(item.Name.data(), end, n);
      if (error == std::errc() && at == end && n >= 1 && n <= FieldDefs().Count())
        name = FieldDefs().Items(n - 1)->Name();
    } else if (TField* field = FindField(item.Name)) {
      name = field->FieldName();
    }
    if (name.empty()) continue;
    AppendName(order.Fields, name);
    if (item.Desc) AppendName(order.DescFields, name);
  }
  return true;
}
