#include "console/ItemFile.h"

namespace {

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
  const std::vector<std::string_view> lines = FileLines(bytes);
  file.LineCount = static_cast<int>(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Trimmed(lines[i]).empty()) continue;
    std::vector<std::string> fields = SplitByComma(lines[i]);
    if (fields[0] == "ID") continue;
    if (fields.size() < kItemFields) {
      file.Rows.clear();
      file.Problem = TItemFileProblem::ShortLine;
      file.ProblemLine = static_cast<int>(i + 1);
      file.ProblemFields = fields.size();
      return file;
    }
    file.Rows.push_back(
        {std::move(fields[1]), std::move(fields[0]), std::move(fields[60]), static_cast<int>(i)});
  }
  if (file.Rows.empty()) file.Problem = TItemFileProblem::NoItems;
  return file;
}
