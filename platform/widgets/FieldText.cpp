#include "platform/widgets/FieldText.h"

#include "platform/db/FieldClasses.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

constexpr int GbkCodePage = 936;

}  // namespace

TFieldCharset FieldCharsetOf(std::string_view serverCharset) {
  return CharsetKindByName(serverCharset) == TCharsetKind::Utf8 ? TFieldCharset::Utf8 : TFieldCharset::Gbk;
}

QString DecodeFieldText(std::string_view bytes, TFieldCharset charset) {
  std::u16string wide =
      charset == TFieldCharset::Utf8 ? Utf8ToWide(bytes) : CodePageToWide(bytes, GbkCodePage);
  return QString::fromStdU16String(wide);
}

std::string EncodeFieldText(const QString& text, TFieldCharset charset) {
  std::u16string wide = text.toStdU16String();
  return charset == TFieldCharset::Utf8 ? WideToUtf8(wide) : WideToCodePage(wide, GbkCodePage);
}

char32_t FirstUnencodable(std::u16string_view wide, TFieldCharset charset) {
  for (size_t i = 0; i < wide.size();) {
    const bool pair =
        i + 1 < wide.size() && QChar::isHighSurrogate(wide[i]) && QChar::isLowSurrogate(wide[i + 1]);
    const std::u16string_view one(wide.data() + i, pair ? 2 : 1);
    const char32_t code = pair ? QChar::surrogateToUcs4(wide[i], wide[i + 1]) : wide[i];
    const bool lone = !pair && QChar::isSurrogate(wide[i]);
    if (code != u'?' && (lone || (charset == TFieldCharset::Utf8 ? WideToUtf8(one)
                                                                 : WideToCodePage(one, GbkCodePage)) == "?"))
      return code;
    i += one.size();
  }
  return kNoUnencodable;
}

std::string FieldTextToStore(const TField& field, const QString& text, TFieldCharset charset) {
  const std::u16string wide = text.toStdU16String();
  const char32_t bad = FirstUnencodable(wide, charset);
  if (bad != kNoUnencodable)
    throw EDatabaseError(
        Format("Field '%s' cannot hold the character U+%.4x", {field.FieldName(), uint32_t(bad)}));
  std::string bytes = EncodeFieldText(text, charset);
  if (dynamic_cast<const TStringField*>(&field) && bytes.size() > static_cast<size_t>(field.Size()))
    throw EDatabaseError(Format("Field '%s' holds at most %d bytes: the text has %d",
                                {field.FieldName(), field.Size(), int64_t(bytes.size())}));
  if (dynamic_cast<const TWideStringField*>(&field) && wide.size() > static_cast<size_t>(field.Size()))
    throw EDatabaseError(Format("Field '%s' holds at most %d characters: the text has %d",
                                {field.FieldName(), field.Size(), int64_t(wide.size())}));
  return bytes;
}
