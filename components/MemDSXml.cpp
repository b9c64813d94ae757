#include "components/MemDSXml.h"

#include <clocale>
#include <cstdio>
#include <cstring>

#include "components/MemDS.h"
#include "core/DAConsts.h"
#include "core/MemBlob.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Currency.h"
#include "platform/runtime/FMTBcd.h"

std::string XmlEscape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '&':
        out += "&#x26;";
        break;
      case '\'':
        out += "&#x27;";
        break;
      case '"':
        out += "&#x22;";
        break;
      case '<':
        out += "&#x3c;";
        break;
      case '>':
        out += "&#x3e;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string XmlDateTimeText(TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, s);
  return text;
}

std::string XmlTimeText(TDateTime value) {
  int h, mi, s, ms;
  DecodeTime(value, h, mi, s, ms);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, mi, s);
  return text;
}

std::string XmlNumberText(std::string text) {
  const char* point = std::localeconv()->decimal_point;
  if (!point || std::strcmp(point, ".") == 0 || !*point) return text;
  for (size_t at = text.find(point); at != std::string::npos; at = text.find(point, at + 1))
    text.replace(at, std::strlen(point), ".");
  return text;
}

std::string XmlHexText(const void* data, size_t size) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(size * 2);
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) {
    out += Digits[p[i] >> 4];
    out += Digits[p[i] & 15];
  }
  return out;
}

// ---- TMemDataSet's writers --------------------------------------------------------------------

namespace {

void WriteLong(TField* field, const TFieldDesc& desc, XmlTextWriter& writer) {
  if (dynamic_cast<TBlobField*>(field) && !desc.Fixed) writer.WriteAttribute("rs:long", "true");
}

}  // namespace

void TMemDataSet::WriteFieldXMLDataType(TField* field, const TFieldDesc& desc, XmlTextWriter& writer) {
  const std::string length = std::to_string(desc.Length);
  const std::string size = std::to_string(desc.Size);
  const std::string scale = std::to_string(desc.Scale);
  auto attr = [&](std::string_view name, const std::string& value) { writer.WriteAttribute(name, value); };
  switch (desc.DataType) {
    case dtUnknown:
    case dtVariant:
      attr("dt:type", "string");
      break;
    case dtString:
    case dtMemo:
    case dtExtString:
    case dtWideString:
    case dtExtWideString:
    case dtWideMemo: {
      const bool memo = desc.DataType == dtMemo || desc.DataType == dtWideMemo;
      attr("dt:type", "string");
      attr("dt:maxLength", memo ? "2147483647" : length);
      if (desc.DataType == dtString || desc.DataType == dtMemo || desc.DataType == dtExtString)
        attr("rs:dbtype", "str");
      WriteLong(field, desc, writer);
      break;
    }
    case dtInt8:
      attr("dt:type", "i1");
      attr("dt:maxLength", size);
      attr("rs:precision", length);
      break;
    case dtInt16:
      attr("dt:type", "i2");
      attr("dt:maxLength", size);
      attr("rs:precision", "5");
      break;
    case dtInt32:
      attr("dt:type", "int");
      attr("dt:maxLength", size);
      attr("rs:precision", "10");
      break;
    case dtFloat: {
      const bool wide = desc.Length > 7;
      attr("dt:type", wide ? "float" : "r4");
      attr("dt:maxLength", wide ? size : "4");
      attr("rs:precision", length);
      break;
    }
    case dtDate:
    case dtTime:
      attr("dt:type", desc.DataType == dtDate ? "date" : "time");
      attr("dt:maxLength", size);
      attr("rs:scale", scale);
      attr("rs:precision", length);
      break;
    case dtDateTime:
      attr("dt:type", "datetime");
      attr("rs:dbtype", "variantdate");
      attr("dt:maxLength", size);
      attr("rs:scale", scale);
      attr("rs:precision", length);
      break;
    case dtUInt16:
      attr("dt:type", "ui2");
      attr("dt:maxLength", size);
      attr("rs:precision", length);
      break;
    case dtBoolean:
      attr("dt:type", "boolean");
      attr("dt:maxLength", size);
      break;
    case dtInt64:
      attr("dt:type", "i8");
      attr("dt:maxLength", size);
      attr("rs:precision", "19");
      break;
    case dtCurrency:
    case dtBCD:
      attr("dt:type", "number");
      attr("rs:dbtype", "currency");
      attr("dt:maxLength", size);
      attr("rs:precision", length);
      break;
    case dtBlob:
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes:
      attr("dt:type", "bin.hex");
      attr("dt:maxLength", desc.DataType == dtBlob ? "2147483647" : length);
      WriteLong(field, desc, writer);
      break;
    case dtUInt32:
      attr("dt:type", "ui4");
      attr("dt:maxLength", size);
      attr("rs:precision", length);
      break;
    case dtFmtBCD:
      attr("dt:type", "number");
      attr("rs:dbtype", "numeric");
      attr("dt:maxLength", size);
      attr("rs:scale", scale);
      attr("rs:precision", length);
      break;
    case dtGuid:
      attr("dt:type", "uuid");
      attr("dt:maxLength", "16");
      break;
    case 31:  // unsigned 64-bit integer
      attr("dt:type", "ui8");
      attr("dt:maxLength", size);
      break;
    case 32:  // date-time with microseconds
      attr("dt:type", "datetime");
      attr("dt:maxLength", size);
      attr("rs:scale", scale);
      break;
    case 33:  // time with microseconds
      attr("dt:type", "time");
      attr("dt:maxLength", size);
      attr("rs:scale", scale);
      break;
    default:
      throw EDatabaseError(MessageText(SDataTypeNotSupported));
  }
  if (desc.Fixed && desc.DataType != dtUnknown && desc.DataType != dtVariant) attr("rs:fixedlength", "true");
  if (field->Required() && !field->ReadOnly()) attr("rs:maybenull", "false");
}

void TMemDataSet::WriteFieldXMLAttributes(TField* field, const TFieldDesc& desc, XmlTextWriter& writer,
                                          const std::string& uniqueName) {
  const std::string name = XmlEscape(AnsiToUtf8(field->FieldName()));
  if (!uniqueName.empty()) {
    writer.WriteAttribute("name", uniqueName);
    writer.WriteAttribute("rs:name", name);
  } else {
    writer.WriteAttribute("name", name);
  }
  writer.WriteAttribute("rs:number", std::to_string(desc.FieldNo));
  if (!field->Required() && !field->ReadOnly()) writer.WriteAttribute("rs:nullable", "true");
  if (!field->ReadOnly()) writer.WriteAttribute("rs:writeunknown", "true");
  if (!desc.ActualName.empty())
    writer.WriteAttribute("rs:basecolumn", XmlEscape(AnsiToUtf8(desc.ActualName)));
  if (desc.IsKey) writer.WriteAttribute("rs:keycolumn", "true");
  if (field->DataType() == ftAutoInc || field->AutoGenerateValue == TField::arAutoInc)
    writer.WriteAttribute("rs:autoincrement", "true");
}

void TMemDataSet::WriteXMLData(TField* field, const TFieldDesc& desc, std::string& text) {
  if (field->IsNull()) {
    text.clear();
    return;
  }
  std::string value;
  switch (desc.DataType) {
    case dtFloat:
      value = XmlNumberText(FloatToStr(field->AsFloat()));
      break;
    case dtDate:
    case dtDateTime:
      value = XmlDateTimeText(field->AsDateTime());
      break;
    case dtTime:
      value = XmlTimeText(field->AsDateTime());
      break;
    case dtBoolean:
      value = field->AsBoolean() ? "True" : "False";
      break;
    case dtCurrency:
    case dtBCD:
      value = XmlNumberText(CurrToStr(field->AsCurrency()));
      break;
    case dtBlob:
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes: {
      const std::vector<uint8_t> bytes = field->AsBytes();
      value = XmlHexText(bytes.data(), bytes.size());
      break;
    }
    case dtFmtBCD:
      value = XmlNumberText(BcdToStr(field->AsBCD()));
      break;
    case dtWideMemo:
      // The memo field's own text is ANSI: the blob's UTF-16 keeps every character.
      if (TBlob* blob = TMemDSUtils::GetBlob(*this, field)) {
        text = XmlEscape(WideToUtf8(blob->GetAsWideString()));
        return;
      }
      [[fallthrough]];
    case dtWideString:
    case dtExtWideString:
      text = XmlEscape(WideToUtf8(field->AsWideString()));
      return;
    default:
      value = field->AsString();
  }
  text = XmlEscape(AnsiToUtf8(value));
}
