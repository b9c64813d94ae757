#include "console/browsers/DialogValues.h"

#include <QCryptographicHash>
#include <charconv>
#include <optional>

std::string StoredPasswordForm(std::string_view password) {
  const QByteArray digest =
      QCryptographicHash::hash(QByteArrayView(password.data(), static_cast<qsizetype>(password.size())),
                               QCryptographicHash::Md5)
          .toHex();
  return digest.mid(8, 16).toStdString();
}

namespace {

std::string NotAnInteger(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}

// Decimal digits with an optional leading "-" (when allowed); nothing for anything else or a
// value outside 64 bits.
std::optional<int64_t> ParseDecimal(std::string_view text, bool signAllowed) {
  if (text.empty()) return std::nullopt;
  const size_t first = signAllowed && text.front() == '-' ? 1 : 0;
  if (first == text.size()) return std::nullopt;
  for (size_t i = first; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

TBalanceResult ChangeBalance(TBalanceChange change, std::string_view current, std::string_view amount,
                             int64_t min, int64_t max) {
  TBalanceResult result;
  if (change == TBalanceChange::Zero) return result;
  const std::optional<int64_t> now =
      current.empty() ? std::optional<int64_t>(0) : ParseDecimal(current, true);
  if (!now) {
    result.Refusal = NotAnInteger(current);
    return result;
  }
  const std::optional<int64_t> by = ParseDecimal(amount, false);
  if (!by) {
    result.Refusal = NotAnInteger(amount);
    return result;
  }
  const std::string currentText = current.empty() ? "0" : std::string(current);
  int64_t value = 0;
  const bool overflow = change == TBalanceChange::Add ? __builtin_add_overflow(*now, *by, &value)
                                                      : __builtin_sub_overflow(*now, *by, &value);
  if (change == TBalanceChange::Subtract && !overflow && value < 0) {
    result.Refusal =
        "该用户帐户余额为：" + currentText + "，不足以减少：" + std::string(amount) + "，请重新设定！";
    return result;
  }
  if (overflow || value < min || value > max) {
    result.Refusal =
        "变更后的数值超出范围（" + std::to_string(min) + "～" + std::to_string(max) + "），请重新设定！";
    return result;
  }
  result.Value = value;
  return result;
}
