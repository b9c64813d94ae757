// Settings files in the Windows INI layout. The file's bytes are kept as they are (ANSI text,
// GBK by default): comments, blank lines and the order of sections and keys survive every write.
// A file that starts with a UTF-8 byte-order mark is UTF-8 text: the mark is kept, and is not
// read as part of the first line. A UTF-16 file (with its mark, or without one when its first
// character is ASCII) is read as UTF-8 text and written back as UTF-16 as it was.
// Section and key names are found without regard to ASCII case; the bytes of a multi-byte
// character are compared exactly, so a GBK trail byte that looks like a letter never folds.
// Every write goes to the file at once (through a temporary file and a rename, so a failed
// write leaves the old file whole), with CR LF line ends. A symbolic link is followed both ways:
// its target is read and replaced, and the link stays. Only a regular file of at most
// kIniFileLimit bytes is read; anything else (a FIFO, a device, a folder) is not even opened.
// A value is written so that it reads back as written (in quotes when the reader's rules would
// take its outer blanks or a pair of enclosing quotes away); one that cannot be is refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"

// A settings file that could not be read or written.
class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

// The largest settings file read.
inline constexpr size_t kIniFileLimit = 1024 * 1024;

// How the file's text is stored. Ansi: the process's ANSI code page, no mark. The others are
// handed out and taken as UTF-8 text.
enum class TIniEncoding : uint8_t { Ansi, Utf8, Utf16LE, Utf16BE };

// One key's value, for writing several at once.
struct TIniValue {
  std::string Section;
  std::string Ident;
  std::string Value;
};

class TIniFile {
 public:
  // Reads the file when it exists; a missing file is an empty one until the first write.
  // Raises EIniFileException, naming the file, when it exists but cannot be read: not a regular
  // file once links are followed, larger than kIniFileLimit, UTF-32 text or broken UTF-16.
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const noexcept { return FFileName; }
  TIniEncoding Encoding() const noexcept { return FEncoding; }
  // True when names and values are UTF-8 text, false when they are ANSI text.
  bool Utf8Text() const noexcept { return FEncoding != TIniEncoding::Ansi; }
  // True when value can be written and read back as it is: no line break or zero byte, and
  // valid UTF-8 where the file is UTF-16.
  bool CanHold(std::string_view value) const;

  // The value of section/ident with surrounding blanks removed (and one pair of enclosing
  // quotes), or def when the key is missing.
  std::string ReadString(std::string_view section, std::string_view ident, std::string_view def) const;
  // Decimal (or 0x-prefixed hexadecimal) value; def when missing or not a number in int's range.
  int ReadInteger(std::string_view section, std::string_view ident, int def) const;
  // "True"/"False" in any case, or an integer (non-zero is true); def otherwise.
  bool ReadBool(std::string_view section, std::string_view ident, bool def) const;

  // Replaces the value in place or adds the key at the end of its section (the section at the
  // end of the file when missing). Raises EIniFileException when the file cannot be written,
  // when the value is one CanHold refuses, or when the section or key could not be found
  // again (empty, a line break, "]" in a section name, "=" in a key or one starting with ";",
  // "#" or "["); the file and the contents in memory then stay as they were.
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
  void Decode(std::string text);
  // The character set the names and values are scanned in.
  TCharsetKind Kind() const noexcept { return Utf8Text() ? TCharsetKind::Utf8 : AnsiCharsetKind(); }
  // Why the section, key and value could not be written and read back, or empty.
  std::string WriteProblem(std::string_view section, std::string_view ident, std::string_view value) const;
  std::string Encode(const std::vector<TLine>& lines) const;
  // Index of the header line of section, or npos.
  size_t FindSection(std::string_view section) const;
  // One past the last line of the section whose header is at index header.
  size_t SectionEnd(size_t header) const;
  size_t FindKey(size_t header, std::string_view ident) const;
  // WriteString's change to the lines in memory, unsaved.
  void PutValue(std::string_view section, std::string_view ident, std::string_view value);
  void Save(const std::vector<TLine>& lines);

  std::string FFileName;
  TIniEncoding FEncoding = TIniEncoding::Ansi;
  std::string FBom;  // the byte-order mark the file starts with, if any; not part of FLines
  std::vector<TLine> FLines;
};

// Compares two names without regard to ASCII case, multi-byte characters of the ANSI code page
// (or of cs) compared byte for byte.
bool SameIniName(std::string_view a, std::string_view b) noexcept;
bool SameIniName(std::string_view a, std::string_view b, TCharsetKind cs) noexcept;
