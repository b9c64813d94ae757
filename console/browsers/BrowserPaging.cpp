#include "console/browsers/BrowserPaging.h"

#include <algorithm>
#include <charconv>

#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"

std::string TBrowserTexts::Fill(const char* text, const TFill& values) const {
  const std::string_view t(text);
  std::string out;
  size_t at = 0;
  while (at < t.size()) {
    const size_t open = t.find('{', at);
    const size_t close = open == std::string_view::npos ? open : t.find('}', open);
    if (close == std::string_view::npos) break;
    out.append(t.substr(at, open - at));
    const std::string_view name = t.substr(open + 1, close - open - 1);
    if (name == "where")
      out.append(values.Where);
    else if (name == "size")
      out.append(std::to_string(values.Size));
    else if (name == "limit")
      out.append(std::to_string(values.Offset) + "," + std::to_string(values.Size));
    else if (name == "field")
      out.append(values.Field);
    else if (name == "columns")
      out.append(FColumns);
    else if (name == "total")
      out.append(std::to_string(values.Total));
    else
      out.append(t.substr(open, close - open + 1));
    at = close + 1;
  }
  out.append(t.substr(std::min(at, t.size())));
  return out;
}

std::string TBrowserTexts::CreatePage(int pageSize) const {
  return Fill(FTemplates.CreatePage, {.Size = pageSize});
}
std::string TBrowserTexts::CreateCount() const {
  return Fill(FTemplates.CreateCount, {});
}
std::string TBrowserTexts::SizePage(const std::string& where, int pageSize) const {
  return Fill(FTemplates.SizePage, {.Where = where, .Size = pageSize});
}
std::string TBrowserTexts::SizeCount(const std::string& where) const {
  return Fill(FTemplates.SizeCount, {.Where = where});
}
std::string TBrowserTexts::PreviousPage(const std::string& where, int64_t offset, int pageSize) const {
  return Fill(FTemplates.PreviousPage, {.Where = where, .Offset = offset, .Size = pageSize});
}
std::string TBrowserTexts::NextPage(const std::string& where, int64_t offset, int pageSize) const {
  return Fill(FTemplates.NextPage, {.Where = where, .Offset = offset, .Size = pageSize});
}
std::string TBrowserTexts::Sort(const std::string& where, const std::string& quotedField) const {
  return Fill(FTemplates.Sort, {.Where = where, .Field = quotedField});
}
std::string TBrowserTexts::SearchPage(const std::string& where, bool ticked) const {
  return Fill(ticked ? FTemplates.SearchPageTicked : FTemplates.SearchPage, {.Where = where});
}
std::string TBrowserTexts::SearchCount(const std::string& where) const {
  return Fill(FTemplates.SearchCount, {.Where = where});
}
std::string TBrowserTexts::FilterPage(const std::string& where, int pageSize) const {
  return FTemplates.FilterPage ? Fill(FTemplates.FilterPage, {.Where = where, .Size = pageSize})
                               : SizePage(where, pageSize);
}
std::string TBrowserTexts::FilterCount(const std::string& where) const {
  return FTemplates.FilterCount ? Fill(FTemplates.FilterCount, {.Where = where}) : SizeCount(where);
}
std::string TBrowserTexts::TotalLabel(int64_t total) const {
  return Fill(FTemplates.TotalLabel, {.Total = total});
}
std::string TBrowserTexts::SearchLabel(int64_t total) const {
  return Fill(FTemplates.SearchLabel, {.Total = total});
}

std::string PageLabel(const TPagingState& state) {
  return "第 " + std::to_string(state.PageNo) + " 页/共 " + std::to_string(state.PageCount) + " 页";
}

int64_t PageCountOf(int64_t total, int pageSize) noexcept {
  if (total <= 0 || pageSize <= 0) return 0;
  return (total + pageSize - 1) / pageSize;
}

int ParsePageSize(std::string_view text) {
  // Surrounding blanks are forgiven, as the platform's integer conversion does.
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end)
    throw EConvertError(Utf8ToAnsi("'" + std::string(text) + "' is not a valid integer value"));
  if (value < 1) throw ERangeError(Utf8ToAnsi("每页显示的记录数至少为1条，请重新设定！"));
  if (value > kMaxPageSize)
    throw ERangeError(
        Utf8ToAnsi("每页显示的记录数最多为" + std::to_string(kMaxPageSize) + "条，请重新设定！"));
  return value;
}

TPageStep TBrowserPaging::Refresh() const {
  TPageStep step;
  step.Next = TPagingState{};
  step.PageSQL = FTexts.CreatePage(step.Next.PageSize);
  step.CountSQL = FTexts.CreateCount();
  step.Label = TCountLabel::Total;
  return step;
}

TPageStep TBrowserPaging::PageSize(int pageSize) const {
  TPageStep step;
  step.Next = FState;
  step.Next.PageSize = pageSize;
  step.Next.PageNo = 1;
  step.PageSQL = FTexts.SizePage(FState.WhereText, pageSize);
  step.CountSQL = FTexts.SizeCount(FState.WhereText);
  return step;
}

std::optional<TPageStep> TBrowserPaging::Previous() const {
  if (FState.PageNo < 2) return std::nullopt;
  TPageStep step;
  step.Next = FState;
  step.Next.PageNo = FState.PageNo - 1;
  step.PageSQL =
      FTexts.PreviousPage(FState.WhereText, (step.Next.PageNo - 1) * FState.PageSize, FState.PageSize);
  return step;
}

std::optional<TPageStep> TBrowserPaging::Next() const {
  if (FState.PageNo > FState.PageCount - 1) return std::nullopt;
  TPageStep step;
  step.Next = FState;
  step.Next.PageNo = FState.PageNo + 1;
  step.PageSQL = FTexts.NextPage(FState.WhereText, (step.Next.PageNo - 1) * FState.PageSize, FState.PageSize);
  return step;
}

TPageStep TBrowserPaging::Search(const std::string& where, bool ticked) const {
  TPageStep step;
  step.Next = FState;
  step.Next.WhereText = where;
  step.Next.PageNo = 1;
  step.PageSQL = FTexts.SearchPage(where, ticked);
  step.CountSQL = FTexts.SearchCount(where);
  step.Label = TCountLabel::Search;
  return step;
}

TPageStep TBrowserPaging::Filter(const std::string& where) const {
  TPageStep step;
  step.Next = FState;
  step.Next.WhereText = where;
  step.Next.PageNo = 1;
  step.PageSQL = FTexts.FilterPage(where, FState.PageSize);
  step.CountSQL = FTexts.FilterCount(where);
  step.Label = TCountLabel::Search;
  return step;
}

TPageStep TBrowserPaging::Sort(const std::string& quotedField, bool descending) const {
  TPageStep step;
  step.Next = FState;
  step.PageSQL = FTexts.Sort(FState.WhereText, quotedField);
  if (descending) step.PageSQL += " DESC ";
  return step;
}

void TBrowserPaging::Commit(const TPageStep& step, std::optional<int64_t> total) {
  FState = step.Next;
  FState.PageSQL = step.PageSQL;
  if (total) FState.RecordTotal = *total;
  FState.PageCount = PageCountOf(FState.RecordTotal, FState.PageSize);
}

// ---- typed text into SQL ----------------------------------------------------------------------

std::string LikePattern(std::string_view text, TCharsetKind charset, bool fuzzy) {
  std::string pattern;
  pattern.reserve(text.size() + 4);
  if (fuzzy) pattern += '%';
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    // A whole character of the set passes as it is: its trail byte is no escape to the server.
    const size_t len = MbCharLen(charset, p, end);
    if (len == 1 && (*p == '\\' || (!fuzzy && (*p == '%' || *p == '_')))) pattern += '\\';
    pattern.append(p, len);
    p += len;
  }
  if (fuzzy) pattern += '%';
  return pattern;
}

namespace {

bool IsAscii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The pattern for a byte-wise match: no byte of a character may act as an escape or wildcard.
std::string BinaryLikePattern(std::string_view text, TCharsetKind charset, bool fuzzy) {
  // Text typed for a gb2312 session is encoded as GBK, whose characters are a superset.
  if (charset == TCharsetKind::Gb2312) charset = TCharsetKind::Gbk;
  std::string pattern;
  if (fuzzy) pattern += '%';
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const size_t len = MbCharLen(charset, p, end);
    for (size_t i = 0; i < len; ++i) {
      const char c = p[i];
      const bool wildcard = c == '%' || c == '_';
      if (c == '\\' || (wildcard && (len > 1 || !fuzzy))) pattern += '\\';
      pattern += c;
    }
    p += len;
  }
  if (fuzzy) pattern += '%';
  return pattern;
}

}  // namespace

std::string LikeLiteral(std::string_view text, TLiteralStyle style, bool fuzzy) {
  // Where backslashes are plain in literals, LIKE's escape is named rather than left to the
  // server's default; as a hexadecimal literal, so that the statement's own lexers, which read
  // it in the default mode, see no open quote.
  const std::string escape = style.NoBackslashEscapes ? " ESCAPE 0x5C" : "";
  const TCharsetKind charset = style.Charset;
  if (charset == TCharsetKind::SingleByte || IsAscii(text))
    return SqlLiteral(LikePattern(text, charset, fuzzy), style) + escape;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string literal = "_binary X'";
  for (const char c : BinaryLikePattern(text, charset, fuzzy)) {
    literal += kHex[static_cast<unsigned char>(c) >> 4];
    literal += kHex[static_cast<unsigned char>(c) & 0x0F];
  }
  return literal + "'" + escape;
}

std::string LikeCondition(std::string_view column, std::string_view text, TLiteralStyle style, bool fuzzy) {
  if (IsAscii(text)) return std::string(column) + " like " + LikeLiteral(text, style, fuzzy);
  if (style.Charset == TCharsetKind::SingleByte) style.Charset = TCharsetKind::Gbk;
  return "CAST(" + std::string(column) + " AS BINARY) like " + LikeLiteral(text, style, fuzzy);
}

std::string SameBytesCondition(std::string_view column, std::string_view bytes, TLiteralStyle style) {
  // Typed text reaches a single-byte session as GBK bytes: it is matched as GBK.
  if (style.Charset == TCharsetKind::SingleByte) style.Charset = TCharsetKind::Gbk;
  return "CAST(" + std::string(column) + " AS BINARY) like " + LikeLiteral(bytes, style, false);
}

std::string CharacterByNameSql(std::string_view columns, std::string_view nameBytes, TLiteralStyle style) {
  return "select " + std::string(columns) + " from user where " +
         SameBytesCondition("Name", nameBytes, style) + " order by deleted<>0, ID limit 1";
}

std::string QuotedColumn(std::string_view name, TCharsetKind charset) {
  std::string quoted = "`";
  const char* p = name.data();
  const char* end = p + name.size();
  while (p < end) {
    const size_t len = MbCharLen(charset, p, end);
    if (len == 1 && *p == '`') quoted += '`';
    quoted.append(p, len);
    p += len;
  }
  return quoted + "`";
}
