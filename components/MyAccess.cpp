#include "components/MyAccess.h"

#include "components/DBAccessParams.h"
#include "components/DBAccessText.h"
#include "core/MemFieldDesc.h"
#include "mysql/MyClasses.h"
#include "mysql/MyParser.h"
#include "platform/runtime/Classes.h"

namespace {

const TParserClass& MyParserClass() {
  static const TParserClass parserClass = ParserClassOf<TMyParser>();
  return parserClass;
}

}  // namespace

std::string MyAddWhere(std::string_view sql, std::string_view condition, TCharsetKind charset,
                       bool noBackslashEscapes) {
  return AddWhere(sql, condition, MyParserClass(), lxWHERE, lxSELECT, false, charset, noBackslashEscapes);
}

std::string MySetWhere(std::string_view sql, std::string_view condition, TCharsetKind charset,
                       bool noBackslashEscapes) {
  return SetWhere(sql, condition, MyParserClass(), lxWHERE, lxSELECT, charset, noBackslashEscapes);
}

std::string MyDeleteWhere(std::string_view sql, TCharsetKind charset, bool noBackslashEscapes) {
  return MySetWhere(sql, {}, charset, noBackslashEscapes);
}

std::string MySetOrderBy(std::string_view sql, std::string_view fields, TCharsetKind charset,
                         bool noBackslashEscapes) {
  return SetOrderBy(sql, fields, MyParserClass(), lxBY, lxORDER, lxSELECT, charset, noBackslashEscapes);
}

std::string MyGetOrderBy(std::string_view sql, TCharsetKind charset, bool noBackslashEscapes) {
  return GetOrderBy(sql, MyParserClass(), lxSELECT, lxBY, lxORDER, charset, noBackslashEscapes);
}

std::string NamesToText(const TStringList& list, TCharsetKind charset) {
  std::string out;
  for (int i = 0; i < list.Count(); ++i) {
    if (i > 0) out += ", ";
    out += BackquoteName(list[i], false, charset);
  }
  return out;
}

void TextToNames(std::string_view text, TStringList& list, TCharsetKind charset) {
  list.Clear();
  const std::string all = TrimSQLBlanks(text);
  size_t start = 0;
  for (;;) {
    const size_t stop = all.find_first_of(",;", start);
    const std::string piece = TrimSQLBlanks(std::string_view(all).substr(start, stop - start));
    if (!piece.empty()) list.Add(UnquoteName(piece, charset));
    if (stop == std::string::npos) break;
    start = stop + 1;
  }
}

TFieldType MyDataTypeToFieldType(uint16_t dataType) {
  switch (dataType) {
    case dtInt8:
    case dtInt16:
      return ftSmallint;
    case dtUInt16:
      return ftWord;
    case dtBoolean:
      return ftBoolean;
    case dtInt64:
      return ftLargeint;
    case dtCurrency:
      return ftCurrency;
    default:
      return DataTypeToFieldType(dataType);
  }
}
