#include "mysql/MyTableInfo.h"

#include "platform/runtime/Exceptions.h"

namespace {

// The class object: the base's quoting and normalisation with the MySQL rules.
class TMyTableInfoClass : public TCRTableInfoClass {
 public:
  std::unique_ptr<TCRTableInfo> Create(TCRTablesInfo* owner) const override {
    return std::make_unique<TMyTableInfo>(owner);
  }
  char LeftQuote() const override { return TMyTableInfo::LeftQuote(); }
  char RightQuote() const override { return TMyTableInfo::RightQuote(); }
  bool IsQuotedName(std::string_view name) const override { return TMyTableInfo::IsQuotedName(name); }
  bool IsBracketNeeds(std::string_view name) const override { return TMyTableInfo::IsBracketNeeds(name); }
};

// The class operations take no character set: their check for dotted names accepts a point
// inside an enclosing pair of quotes.
void AssertNotDotted(std::string_view value, const char* func) {
  DA_ASSERT_MSG(TMyTableInfo::IsEnclosed(value) || value.find('.') == std::string_view::npos,
                std::string("In func ") + func + " delimited values not allowed");
}

bool IsPlainNameChar(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '#' || c == '@';
}

std::string_view Unquoted(std::string_view value) noexcept {
  return TMyTableInfo::IsEnclosed(value) ? value.substr(1, value.size() - 2) : value;
}

}  // namespace

const TCRTableInfoClass& TMyTableInfo::Class() {
  static const TMyTableInfoClass instance;
  return instance;
}

bool TMyTableInfo::NeedsQuotes(std::string_view value) noexcept {
  for (char c : Unquoted(value))
    if (!IsPlainNameChar(c)) return true;
  return false;
}

bool TMyTableInfo::IsQuotedName(std::string_view value) {
  AssertNotDotted(value, "IsQuotedName");
  return IsEnclosed(value);
}

std::string TMyTableInfo::UnQuote(std::string_view value) {
  return std::string(IsQuotedName(value) ? Unquoted(value) : value);
}

bool TMyTableInfo::IsBracketNeeds(std::string_view value) {
  AssertNotDotted(value, "IsBracketNeeds");
  return NeedsQuotes(value);
}
