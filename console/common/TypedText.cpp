#include "console/common/TypedText.h"

#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"

TFieldCharset FieldCharsetOfChoice(const QString& charsetText) {
  return charsetText.startsWith(QStringLiteral("utf8"), Qt::CaseInsensitive) ? TFieldCharset::Utf8
                                                                             : TFieldCharset::Gbk;
}

QString UnencodableText(const QString& text, TFieldCharset charset, const QString& what) {
  const char32_t bad = FirstUnencodable(text.toStdU16String(), charset);
  if (bad == kNoUnencodable) return {};
  return what + QStringLiteral("含有当前字符集无法保存的字符 U+") +
         QStringLiteral("%1").arg(static_cast<uint>(bad), 4, 16, QLatin1Char('0')).toUpper() +
         QStringLiteral("，请修改后再试！");
}

std::string MessageBytes(const QString& text) {
  return WideToAnsi(text.toStdU16String());
}

std::string TypedBytes(const QString& text, TFieldCharset charset, const QString& what) {
  if (const QString problem = UnencodableText(text, charset, what); !problem.isEmpty())
    throw EConvertError(WideToAnsi(problem.toStdU16String()));
  return EncodeFieldText(text, charset);
}
