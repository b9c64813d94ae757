// Settings files in the Windows INI layout. The file's bytes are kept as they are (ANSI text,
// GBK by default): comments, blank lines and the order of sections and keys survive every write.
// A UTF-8 byte-order mark at the start of the file is kept, and is not read as part of the first line.
// Section and key names are found without regard to ASCII case; the bytes of a multi-byte
// character are compared exactly, so a GBK trail byte that looks like a letter never folds.
// Every write goes to the file at once (through a temporary file and a rename, so a failed
// write leaves the old file whole), with CR LF line ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Exceptions.h"

// A settings file that could not be read or written.
class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

// One key's value, for writing several at once.
struct TIniValue {
  std::string Section;
  std::string Ident;
  std::string Value;
};

class TIniFile {
 public:
  // Reads the file when it exists; a missing file is an empty one until the first write.
  // Raises EIniFileException when the file exists but cannot be read.
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const noexcept { return FFileName; }

  // The value of section/ident with surrounding blanks removed (and one pair of enclosing
  // quotes), or def when the key is missing.
  std::string ReadString(std::string_view section, std::string_view ident, std::string_view def) const;
  // Decimal (or 0x-prefixed hexadecimal) value; def when missing or not a number in int's range.
  int ReadInteger(std::string_view section, std::string_view ident, int def) const;
  // "True"/"False" in any case, or an integer (non-zero is true); def otherwise.
  bool ReadBool(std::string_view section, std::string_view ident, bool def) const;

  // Replaces the value in place or adds the key at the end of its section (the section at the
  // end of the file when missing). Raises EIniFileException when the file cannot be written;
  // the contents in memory then stay as they were.
  void WriteString(std::string_view section, std::string_view ident, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view ident, int value);
  // The writes of WriteString in order, saved once: the file takes them all or, when it cannot
  // be written, none (raising EIniFileException as WriteString does).
  void WriteValues(const std::vector<TIniValue>& values);

  // Section names in file order, as written in the file.
  std::vector<std::string> ReadSections() const;
  // Key names of one section in file order.
  std::vector<std::string> ReadSection(std::string_view section) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view ident) const;
  // Removes the section header and all its lines up to the next section.
  void EraseSection(std::string_view section);

  // The file's contents as they would be written.
  std::string Text() const;

 private:
  struct TLine {
    std::string Raw;  // the line's bytes without its line end
  };
  // Index of the header line of section, or npos.
  size_t FindSection(std::string_view section) const;
  // One past the last line of the section whose header is at index header.
  size_t SectionEnd(size_t header) const;
  size_t FindKey(size_t header, std::string_view ident) const;
  // WriteString's change to the lines in memory, unsaved.
  void PutValue(std::string_view section, std::string_view ident, std::string_view value);
  void Save(const std::vector<TLine>& lines);

  std::string FFileName;
  std::string FBom;  // the byte-order mark the file starts with, if any; not part of FLines
  std::vector<TLine> FLines;
};

// Compares two ANSI names without regard to ASCII case, multi-byte characters of the ANSI
// code page compared byte for byte.
bool SameIniName(std::string_view a, std::string_view b) noexcept;
