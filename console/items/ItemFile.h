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

// One row of t_itemname read from items.csv.
struct TItemRow {
  std::string Name;    // field 1
  std::string Number;  // field 0
  std::string Memo;    // field 60
  int Line = 0;        // 0-based, among every line of the file
};

enum class TItemFileProblem {
  None,
  ShortLine,    // a line with fewer fields than an item needs
  NoItems,      // no item line at all
  BadText,      // a line that is not text of the file's code page
  Unencodable,  // a field of a UTF-8 file with a character GBK has not
};

// The game's file is GBK; a file starting with the UTF-8 byte-order mark is read as UTF-8 and
// its rows are given in GBK, as the item table holds them. Blank lines are skipped, a first field
// "ID" marks the header line, every other line needs the 61 fields up to the description. A file
// with a problem gives no rows.
struct TItemFile {
  std::vector<TItemRow> Rows;  // bytes in GBK
  int LineCount = 0;           // every line, the header and blank lines included
  bool Utf8 = false;           // the file was marked as UTF-8
  TItemFileProblem Problem = TItemFileProblem::None;
  int ProblemLine = 0;  // 1-based: the first line with a problem
  size_t ProblemFields = 0;
  char32_t ProblemChar = 0;  // the character GBK has not
};
TItemFile ReadItemFile(std::string_view bytes);
