#include "console/common/ColumnRange.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <optional>
#include <string>

namespace {

std::string Lower(std::string_view s) {
  std::string lower(s);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::optional<int64_t> ParseInt64(std::string_view s) {
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

}  // namespace

int64_t ColumnMaximum(std::string_view dataType, std::string_view columnType, std::string_view precision,
                      std::string_view scale) {
  const std::string type = Lower(dataType);
  const bool isUnsigned = Lower(columnType).find("unsigned") != std::string::npos;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  if (type == "tinyint") return isUnsigned ? 255 : 127;
  if (type == "smallint") return isUnsigned ? 65535 : 32767;
  if (type == "mediumint") return isUnsigned ? 16777215 : 8388607;
  if (type == "int" || type == "integer") return isUnsigned ? 4294967295LL : 2147483647;
  if (type == "decimal" || type == "numeric") {
    const int64_t digits = ParseInt64(precision).value_or(65) - ParseInt64(scale).value_or(0);
    if (digits >= 19) return kMax;
    int64_t m = 1;
    for (int64_t i = 0; i < digits; ++i) m *= 10;
    return m - 1;
  }
  return kMax;
}

bool DigitsAtMost(std::string_view digits, int64_t maximum) {
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  const std::optional<int64_t> value = ParseInt64(digits);
  return value && *value <= maximum;
}
