// The MySQL dataset's part of the write path: the AUTO_INCREMENT value of an insert, and the
// output parameters of a stored routine the user's statement calls.
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "components/MyAccessDataSet.h"
#include "mysql/MyParser.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySQLConnection.h"

void TCustomMyDataSet::PerformAppend() {
  TCustomDADataSet::PerformAppend();
  if (auto* command = dynamic_cast<TMyCommand*>(UpdateQuery(stInsert))) FInsertId = command->InsertId();
}

// The new row's AUTO_INCREMENT value goes into the identity field of the record being posted, so
// that the grid shows it and later edits find the row.
void TCustomMyDataSet::AfterInsertExecuted() {
  TField* identity = IdentityField();
  TCustomDAConnection* connection = UsedConnection();
  // The record being posted, or the one being applied from the cache (its buffer goes back into
  // the record store, so that a later edit finds the row by its key).
  const bool applying = ApplyingRecords();
  if ((State() != dsInsert && !applying) || identity == nullptr || connection == nullptr ||
      connection->IConnection() == nullptr)
    return;
  Variant id;
  if (!connection->IConnection()->GetProp(prLastInsertId, id) || id.AsInt64() == 0) return;
  if (applying) {
    TFieldDesc* desc = GetFieldDesc(identity);
    void* buffer = GetActiveRecBuf();
    // The record store takes a 32-bit column's value only as a 32-bit variant.
    const int64_t value = id.AsInt64();
    const bool small = value >= INT32_MIN && value <= INT32_MAX;
    if (desc != nullptr && buffer != nullptr)
      IRecordSet().PutFieldAsVariant(
          desc->FieldNo, buffer,
          small ? Variant(static_cast<int>(value)) : Variant(static_cast<long long>(value)));
    return;
  }
  const bool readOnly = identity->ReadOnly();
  identity->SetReadOnly(false);
  try {
    identity->SetAsLargeInt(id.AsInt64());
  } catch (...) {
    identity->SetReadOnly(readOnly);
    throw;
  }
  identity->SetReadOnly(readOnly);
}

namespace {

bool SameTextNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != 0; ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return i == a.size() && b[i] == 0;
}

bool IsOutput(const TDAParam& param) {
  return param.ParamType() == ptOutput || param.ParamType() == ptInputOutput;
}

}  // namespace

void TCustomMyDataSet::DescribeCallParams(const std::string& text, TDAParams& params) {
  TCustomMyConnection* connection = Connection();
  if (connection == nullptr) return;
  TMyParser parser(text, connection->StatementCharset());
  // An argument such as 'C:\' must not hide the placeholders after it.
  parser.NoBackslashEscapes = TextNoBackslashEscapes();
  parser.OmitBlank = true;
  parser.OmitComment = true;
  parser.OmitKeywords = true;
  std::string lexem;
  if (parser.GetNext(lexem) != lcIdent || !SameTextNoCase(lexem, "CALL")) return;
  // The routine's name, with its database when given.
  std::vector<std::string> name;
  int code = parser.GetNext(lexem);
  while (code == lcIdent) {
    name.push_back(UnQuoteName(lexem));
    code = parser.GetNext(lexem);
    if (code == lcEnd || lexem != ".") break;
    code = parser.GetNext(lexem);
  }
  if (name.empty() || name.size() > 2 || code == lcEnd || lexem != "(") return;
  // Which placeholder stands alone as which argument (1-based).
  std::map<int, int> placeholderOfArgument;
  int depth = 1, argument = 1, placeholder = 0, lexemsInArgument = 0, alone = -1;
  while (depth > 0) {
    code = parser.GetNext(lexem);
    if (code == lcEnd) return;
    const bool symbol = code != lcIdent && code != lcString && code != lcNumber;
    if (symbol && lexem == "(") ++depth;
    if (symbol && lexem == ")") --depth;
    if ((symbol && lexem == "," && depth == 1) || depth == 0) {
      if (lexemsInArgument == 1 && alone >= 0) placeholderOfArgument[argument] = alone;
      ++argument;
      lexemsInArgument = 0;
      alone = -1;
      continue;
    }
    ++lexemsInArgument;
    if (code == lcSymbol && lexem == "?") alone = placeholder++;
  }
  if (placeholderOfArgument.empty()) return;

  TCustomDADataSet& helper = Helper();
  helper.Close();
  helper.SetSQLText(
      "SELECT ORDINAL_POSITION, PARAMETER_MODE FROM information_schema.PARAMETERS "
      "WHERE SPECIFIC_SCHEMA = COALESCE(:db, DATABASE()) AND SPECIFIC_NAME = :name "
      "AND ROUTINE_TYPE = 'PROCEDURE' AND ORDINAL_POSITION > 0");
  TDAParam* db = helper.Params().ParamByName("db");
  db->SetDataType(ftString);
  if (name.size() == 2)
    db->SetAsString(name[0]);
  else
    db->Clear();
  helper.Params().ParamByName("name")->SetAsString(name.back());
  helper.Open();
  for (helper.First(); !helper.Eof(); helper.Next()) {
    const auto found = placeholderOfArgument.find(helper.Fields()[0]->AsInteger());
    if (found == placeholderOfArgument.end() || found->second >= params.Count()) continue;
    const std::string mode = helper.Fields()[1]->AsString();
    params[found->second]->SetParamType(mode == "OUT" ? ptOutput : mode == "INOUT" ? ptInputOutput : ptInput);
  }
  helper.Close();
}

size_t TCustomMyDataSet::StatementByteLimit() {
  TCustomMyConnection* connection = Connection();
  TMySQLConnection* session = connection != nullptr ? connection->MyIConnection() : nullptr;
  if (session == nullptr || session->GetMySQL() == nullptr) return 0;
  // The command byte goes in the packet with the text.
  const int64_t limit = session->MaxAllowedPacket();
  return limit > 1 ? static_cast<size_t>(limit - 1) : 0;
}

void TCustomMyDataSet::ExecuteUpdateQuery(TCustomDASQL& query) {
  TDAParams& params = query.Params();
  bool outputs = false;
  for (int i = 0; i < params.Count(); ++i) outputs = outputs || IsOutput(*params[i]);
  TCustomMyConnection* connection = Connection();
  const std::string text = query.FinalSQL();
  const std::vector<size_t> at = outputs && connection != nullptr
                                     ? FindPlaceholders(text, connection->StatementCharset(),
                                                        connection->MyIConnection() != nullptr &&
                                                            connection->MyIConnection()->NoBackslashEscapes())
                                     : std::vector<size_t>{};
  if (!outputs || static_cast<int>(at.size()) != params.Count())
    return TCustomDADataSet::ExecuteUpdateQuery(query);

  // Each output argument becomes a session variable of its own; an input-output one is set to
  // its value first.
  TDAParams kept, setParams, callParams;
  kept.Assign(&params);
  std::string set, call, select;
  std::vector<int> outputIndex;
  size_t start = 0;
  for (size_t i = 0; i < at.size(); ++i) {
    call += text.substr(start, at[i] - start);
    start = at[i] + 1;
    TDAParam& param = *params[static_cast<int>(i)];
    TDAParams& target = IsOutput(param) ? setParams : callParams;
    if (IsOutput(param)) {
      const std::string variable = "@__out_" + std::to_string(i);
      call += variable;
      select += (select.empty() ? "SELECT " : ", ") + variable;
      outputIndex.push_back(static_cast<int>(i));
      if (param.ParamType() != ptInputOutput) continue;
      set += (set.empty() ? "SET " : ", ") + variable + " = ?";
    } else {
      call += "?";
    }
    auto* copy = static_cast<TDAParam*>(target.Add());
    copy->Assign(&param);
    copy->SetParamType(ptInput);
  }
  call += text.substr(start);
  auto run = [&query](const std::string& sql, TDAParams& values) {
    query.SetSQLText(sql);
    query.Params().Assign(&values);
    query.Execute();
  };
  auto restore = [&query, &text, &kept] {
    query.SetSQLText(text);
    query.Params().Assign(&kept);
  };
  try {
    if (!set.empty()) run(set, setParams);
    run(call, callParams);
    TCustomDADataSet& helper = Helper();
    helper.Close();
    helper.SetSQLText(select);
    helper.Open();
    for (size_t k = 0; k < outputIndex.size(); ++k) {
      TDAParam& param = *kept[outputIndex[k]];
      TField* field = helper.Fields()[static_cast<int>(k)];
      if (field->IsNull()) {
        param.Clear();
        continue;
      }
      // A session variable holds an integer as BIGINT; the record store takes a 32-bit column's
      // value only as a 32-bit variant.
      Variant value = field->Value();
      if (value.VarType() == varInt64 && value.AsInt64() >= INT32_MIN && value.AsInt64() <= INT32_MAX)
        value = Variant(static_cast<int>(value.AsInt64()));
      param.SetValue(value);
    }
    helper.Close();
  } catch (...) {
    restore();
    throw;
  }
  // RowsAffected stays the call's.
  restore();
}
