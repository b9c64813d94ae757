#include "console/browsers/RowStillAsRead.h"

#include <algorithm>
#include <cctype>

#include "components/MyAccessDataSet.h"
#include "console/browsers/BrowserPaging.h"
#include "platform/db/Fields.h"
#include "platform/runtime/Exceptions.h"

std::string UpdateIfStillAsRead(TCustomMyDataSet& dataset, const std::vector<std::string>& texts,
                                const std::vector<std::string>& values) {
  // The game writes these texts while its player plays, and a text takes no part in the row's
  // changed-value check: the write itself compares every text with the one read, byte for byte
  // (the columns' collations take "A" for "a", and in the game's latin1 columns many GBK characters
  // for others), in the session's character set as they were read.
  TCRTableInfo* table = dataset.UpdatingTableInfo();
  if (table == nullptr || dataset.Connection() == nullptr || dataset.State() != dsEdit) return {};
  std::vector<TField*> keys;
  std::vector<Variant> keyValues;
  dataset.GetCurrentKeys(keys, keyValues);
  if (keys.empty()) return {};
  const TCharsetKind charset = dataset.Connection()->LiteralStyle().Charset;
  // The game's columns have plain names, which a parameter takes as they are.
  bool plain = true;
  auto param = [&plain](const std::string& name) {
    plain = plain && !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0])) &&
            std::all_of(name.begin(), name.end(),
                        [](char c) { return c == '_' || std::isalnum(static_cast<unsigned char>(c)); });
    return ":" + name;
  };
  std::string set, where;
  for (TField* key : keys)
    where += (where.empty() ? "" : " AND ") + QuotedColumn(key->FieldName(), charset) + " <=> " +
             param("Old_" + key->FieldName());
  for (const TFieldDesc* desc : dataset.GetKeyAndDataFields(false).DataFieldDescs) {
    TField* field = dataset.FieldOfDesc(desc);
    if (field == nullptr) continue;
    // A parameter takes the field's value by the field's name: the column must bear that name.
    plain = plain && (desc->ActualName.empty() || desc->ActualName == field->FieldName());
    // Exactly as held: nulls, bytes and texts compare whole, numbers and times as values.
    if (!(field->Value() == field->OldValue()))
      set += (set.empty() ? "" : ", ") + QuotedColumn(field->FieldName(), charset) + " = " +
             param(field->FieldName());
  }
  for (const std::string& name : texts) {
    if (dataset.FindField(name) == nullptr) return {};
    where += " AND CAST(CAST(" + QuotedColumn(name, charset) + " AS CHAR) AS BINARY) <=> CAST(" +
             param("Old_" + name) + " AS BINARY)";
  }
  for (const std::string& name : values) {
    if (dataset.FindField(name) == nullptr) return {};
    where += " AND " + QuotedColumn(name, charset) + " <=> " + param("Old_" + name);
  }
  if (set.empty() || !plain) return {};
  const std::string full = table->GetTableNameFull();
  return "UPDATE " + table->ClassType().NormalizeName(full.empty() ? table->GetTableName() : full, true) +
         " SET " + set + " WHERE " + where;
}

QString ChangedSinceReadText() {
  return QStringLiteral("数据在打开此窗口后已被修改，您的修改没有写入！请放弃修改后重新打开此窗口。");
}

bool FoundNoRowAsRead(const EDatabaseError& e) {
  return e.Message() == MessageFmt(SUpdateFailed, {0});
}

std::vector<std::string> TableTextFields(TCustomMyDataSet& dataset) {
  std::vector<std::string> names;
  if (dataset.UpdatingTableInfo() == nullptr) return names;
  for (const TFieldDesc* desc : dataset.GetKeyAndDataFields(false).DataFieldDescs) {
    const TField* field = dataset.FieldOfDesc(desc);
    if (field == nullptr) continue;
    switch (field->DataType()) {
      case ftString:
      case ftWideString:
      case ftFixedChar:
      case ftMemo:
      case ftFmtMemo:
        names.push_back(field->FieldName());
        break;
      default:
        break;
    }
  }
  return names;
}

bool PostIfStillAsRead(TDataSet& dataset, const std::vector<std::string>& texts,
                       const std::vector<std::string>& values) {
  auto* my = dynamic_cast<TCustomMyDataSet*>(&dataset);
  const std::string update = my != nullptr ? UpdateIfStillAsRead(*my, texts, values) : std::string();
  if (update.empty()) {
    dataset.Post();
    return true;
  }
  TStringList& own = my->SQLUpdate();
  const std::string saved = own.Text();
  const bool strict = my->Options().StrictUpdate;
  auto restore = [&] {
    own.SetText(saved);
    my->Options().StrictUpdate = strict;
  };
  own.SetText(update);
  my->Options().StrictUpdate = true;
  try {
    dataset.Post();
  } catch (const EDatabaseError& e) {
    restore();
    if (FoundNoRowAsRead(e)) return false;
    throw;
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return true;
}

void PostOnlyIfStillAsRead(TCustomMyDataSet& dataset, std::vector<std::string> texts) {
  dataset.Options().StrictUpdate = true;
  dataset.BeforePost = [&dataset, texts = std::move(texts),
                        own = std::move(dataset.BeforePost)](TDataSet* d) {
    if (own) own(d);
    // Made afresh for each post: an empty one leaves the dataset its own way of writing.
    dataset.SQLUpdate().SetText(UpdateIfStillAsRead(dataset, texts));
  };
}
