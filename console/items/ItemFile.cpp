#include "console/items/ItemFile.h"

#include <optional>

#include "platform/runtime/Charset.h"

namespace {

constexpr int kGbkCodePage = 936;
constexpr char16_t kReplacement = u'\uFFFD';

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The file's lines as a text list splits them: CR LF, LF or CR ends a line; a last line
// without an end still counts, an end at the end of the file starts none.
std::vector<std::string_view> FileLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    lines.push_back(bytes.substr(start, i - start));
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

// The line as UTF-16, or nothing when it is not text of the file's code page: the decoder puts
// U+FFFD where it meets bytes of no character.
std::optional<std::u16string> DecodedLine(std::string_view line, bool utf8) {
  std::u16string wide = utf8 ? Utf8ToWide(line) : CodePageToWide(line, kGbkCodePage);
  if (wide.find(kReplacement) != std::u16string::npos) return std::nullopt;
  return wide;
}

// The first character of a UTF-8 text that GBK has not; 0 when it has them all.
char32_t FirstNotInGbk(std::string_view utf8) {
  const std::u16string wide = Utf8ToWide(utf8);
  for (size_t i = 0; i < wide.size();) {
    const bool pair = i + 1 < wide.size() && wide[i] >= 0xD800 && wide[i] < 0xDC00 && wide[i + 1] >= 0xDC00 &&
                      wide[i + 1] < 0xE000;
    const std::u16string_view one(wide.data() + i, pair ? 2 : 1);
    const char32_t code =
        pair ? 0x10000 + ((char32_t(wide[i]) - 0xD800) << 10) + (char32_t(wide[i + 1]) - 0xDC00) : wide[i];
    if (code != U'?' && WideToCodePage(one, kGbkCodePage) == "?") return code;
    i += one.size();
  }
  return 0;
}

}  // namespace

std::vector<std::string> SplitByComma(std::string_view line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t i = 0; i <= line.size(); ++i) {
    if (i < line.size() && line[i] != ',') continue;
    fields.emplace_back(Trimmed(line.substr(start, i - start)));
    start = i + 1;
  }
  return fields;
}

TItemFile ReadItemFile(std::string_view bytes) {
  TItemFile file;
  file.Utf8 = bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom;
  if (file.Utf8) bytes.remove_prefix(kUtf8Bom.size());
  const std::vector<std::string_view> lines = FileLines(bytes);
  file.LineCount = static_cast<int>(lines.size());
  auto refuse = [&file](TItemFileProblem problem, size_t line) {
    file.Rows.clear();
    file.Problem = problem;
    file.ProblemLine = static_cast<int>(line + 1);
    return file;
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    // Text of another code page would be stored as other names than the game shows.
    if (!DecodedLine(lines[i], file.Utf8)) return refuse(TItemFileProblem::BadText, i);
    if (Trimmed(lines[i]).empty()) continue;
    std::vector<std::string> fields = SplitByComma(lines[i]);
    if (fields[0] == "ID") continue;
    if (fields.size() < kItemFields) {
      file.ProblemFields = fields.size();
      return refuse(TItemFileProblem::ShortLine, i);
    }
    TItemRow row{std::move(fields[1]), std::move(fields[0]), std::move(fields[60]), static_cast<int>(i)};
    if (file.Utf8)
      for (std::string* text : {&row.Name, &row.Number, &row.Memo}) {
        if (const char32_t missing = FirstNotInGbk(*text); missing != 0) {
          file.ProblemChar = missing;
          return refuse(TItemFileProblem::Unencodable, i);
        }
        *text = WideToCodePage(Utf8ToWide(*text), kGbkCodePage);
      }
    file.Rows.push_back(std::move(row));
  }
  if (file.Rows.empty()) file.Problem = TItemFileProblem::NoItems;
  return file;
}
