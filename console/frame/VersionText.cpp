#include "console/frame/VersionText.h"

#include <algorithm>
#include <vector>

#include "platform/runtime/Charset.h"

namespace {

// The largest part a version may have: what a 32-bit number holds.
constexpr std::string_view kLargestPart = "2147483647";

// The dotted parts of a version, each without its leading zeros; nothing for any other text,
// or when a part is larger than kLargestPart.
std::optional<std::vector<std::string_view>> VersionParts(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t dot = text.find('.', start);
    std::string_view part =
        text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (part.empty()) return std::nullopt;
    for (char c : part)
      if (c < '0' || c > '9') return std::nullopt;
    while (part.size() > 1 && part.front() == '0') part.remove_prefix(1);
    if (part.size() > kLargestPart.size() || (part.size() == kLargestPart.size() && part > kLargestPart))
      return std::nullopt;
    parts.push_back(part);
    if (dot == std::string_view::npos) return parts;
    start = dot + 1;
  }
}

// Two digit strings without leading zeros, compared as numbers of any length.
int CompareNumbers(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace

std::optional<int> CompareVersions(std::string_view a, std::string_view b) {
  auto pa = VersionParts(a);
  auto pb = VersionParts(b);
  if (!pa || !pb) return std::nullopt;
  for (size_t i = 0; i < std::max(pa->size(), pb->size()); ++i) {
    std::string_view x = i < pa->size() ? (*pa)[i] : "0";
    std::string_view y = i < pb->size() ? (*pb)[i] : "0";
    if (int c = CompareNumbers(x, y); c != 0) return c;
  }
  return 0;
}

std::optional<std::string> VersionOfReply(std::string_view body) {
  constexpr std::string_view kBlanks = " \t\r\n";
  // A text saved by a Windows editor may start with a byte-order mark.
  if (body.substr(0, kUtf8Bom.size()) == kUtf8Bom) body.remove_prefix(kUtf8Bom.size());
  size_t first = body.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return std::nullopt;
  body = body.substr(first, body.find_last_not_of(kBlanks) - first + 1);
  if (!VersionParts(body)) return std::nullopt;
  return std::string(body);
}
