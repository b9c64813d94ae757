// An items.csv into item rows: any bytes give rows or one problem, never a crash or an over-read;
// rows come from item lines in file order, and a short or undecodable line leaves no rows behind.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "console/items/ItemFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const TItemFile file = ReadItemFile(bytes);
  if (static_cast<int>(file.Rows.size()) > file.LineCount) std::abort();
  if ((file.Problem == TItemFileProblem::None) == file.Rows.empty()) std::abort();
  const bool lined = file.Problem == TItemFileProblem::ShortLine ||
                     file.Problem == TItemFileProblem::BadText ||
                     file.Problem == TItemFileProblem::Unencodable;
  if (lined && (file.ProblemLine < 1 || file.ProblemLine > file.LineCount)) std::abort();
  if (file.Problem == TItemFileProblem::ShortLine && file.ProblemFields >= kItemFields) std::abort();
  int previous = -1;
  for (const TItemRow& row : file.Rows) {
    if (row.Line <= previous || row.Line >= file.LineCount || row.Number == "ID") std::abort();
    previous = row.Line;
  }
  size_t commas = 0;
  for (const char c : bytes) commas += c == ',';
  if (SplitByComma(bytes).size() != commas + 1) std::abort();
  return 0;
}
