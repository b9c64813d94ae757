// The values the editing dialogs write, free of widgets: the stored password form and the
// balance arithmetic.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The form in which the game keeps passwords: of the MD5 digest of the password's bytes in
// hexadecimal, the 16 digits from the 9th to the 24th, in lower case.
std::string StoredPasswordForm(std::string_view password);

enum class TBalanceChange { Add, Subtract, Zero };

struct TBalanceResult {
  int64_t Value = 0;
  // Why the change is refused (UTF-8); empty when Value may be written.
  std::string Refusal;
};

// The new balance, computed in 64 bits before anything is edited. current: the field's text
// (empty for NULL, which counts as 0), an optional "-" and decimal digits; amount: decimal digits
// only, so a sign cannot turn an addition into a subtraction. A result below 0 when
// subtracting, or outside min..max (the column's range), is refused; so is text that is no
// number.
TBalanceResult ChangeBalance(TBalanceChange change, std::string_view current, std::string_view amount,
                             int64_t min, int64_t max);
