#include "platform/widgets/FieldText.h"

#include "platform/runtime/Charset.h"

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
