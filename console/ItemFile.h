// The game's items.csv as the item-name table takes it, free of widgets and of the server: the
// whole file is read and checked before anything is written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Fields up to the description (field 60) that an item line must hold.
inline constexpr size_t kItemFields = 61;

// Splits a line at every comma, each field trimmed of control characters and blanks at both
// ends; n commas give n + 1 fields, quotes mean nothing.
std::vector<std::string> SplitByComma(std::string_view line);

// One row of t_itemname read from items.csv (bytes as the file holds them).
struct TItemRow {
  std::string Name;    // field 1
  std::string Number;  // field 0
  std::string Memo;    // field 60
  int Line = 0;        // 0-based, among every line of the file
};

enum class TItemFileProblem { None, ShortLine, NoItems };

// Blank lines are skipped, a first field "ID" marks the header line, every other line needs the
// 61 fields up to the description. A file with a problem gives no rows.
struct TItemFile {
  std::vector<TItemRow> Rows;
  int LineCount = 0;  // every line, the header and blank lines included
  TItemFileProblem Problem = TItemFileProblem::None;
  int ProblemLine = 0;  // 1-based: the first short line
  size_t ProblemFields = 0;
};
TItemFile ReadItemFile(std::string_view bytes);
