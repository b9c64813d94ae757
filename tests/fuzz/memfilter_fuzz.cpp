// Parses arbitrary filter texts and evaluates what parses against a few records. Checks: no
// over-read or stack exhaustion (sanitizers), building fails only with the filter's own errors
// or the lexer's, and evaluation fails only with a conversion error.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/MemFilter.h"
#include "platform/runtime/Exceptions.h"

namespace {

class Host : public TFilterHost {
 public:
  int FilterFieldNo(std::string_view name) override {
    static const char* const names[] = {"Name", "Level", "When", "Wide", "a.b", "Guild Name"};
    for (int i = 0; i < 6; ++i)
      if (name == names[i]) return i + 1;
    return 0;
  }
  bool FilterFieldIsDateTime(int fieldNo) override { return fieldNo == 3; }
  Variant FilterFieldValue(int fieldNo, const void* recBuf) override {
    return static_cast<const std::vector<Variant>*>(recBuf)->at(static_cast<size_t>(fieldNo - 1));
  }
  bool FilterCaseInsensitive() override { return CaseInsensitive; }
  bool FilterNoPartialCompare() override { return NoPartialCompare; }
  bool CaseInsensitive = false;
  bool NoPartialCompare = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Host host;
  host.CaseInsensitive = data[0] & 1;
  host.NoPartialCompare = data[0] & 2;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<std::vector<Variant>> records = {
      {Variant("Jo\xd5\xc5hn"), Variant(5), Variant::FromDateTime(45000.5), Variant(u"w\u00e9"), Variant(1.5),
       Variant("")},
      {Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()},
  };
  try {
    TExpressionTree tree(text, host);
    for (const auto& rec : records) {
      try {
        tree.Evaluate(&rec);
      } catch (const EConvertError&) {
      }
    }
  } catch (const EAssertionFailed&) {
    std::abort();
  } catch (const Exception&) {
  }
  return 0;
}
