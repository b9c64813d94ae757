// Streams and string lists: the byte-oriented containers every layer passes around.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum TSeekOrigin { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

// ---- TStream --------------------------------------------------------------------------------

// Abstract byte stream. Positions are 0-based; a position past the end is allowed (reads there
// return 0 bytes, writes there extend the stream); a negative position is refused.
class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes; returns how many were read (0 at or past the end, or count <= 0).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes; returns how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position. A target before 0 raises EStreamError.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t position) { Seek(position, soFromBeginning); }
  virtual int64_t Size();
  // Truncates or extends; the position is clamped to the new size.
  virtual void SetSize(int64_t newSize) = 0;

  // Read / Write all of count bytes or raise EStreamError ("Stream read error" / "Stream write error").
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position; count 0 copies the whole source from its start.
  // Raises EStreamError when source holds fewer bytes. Returns the bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);

 protected:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
};

// ---- TMemoryStream --------------------------------------------------------------------------

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t newSize) override;

  // The stream's bytes (Size() of them); valid until the next size change.
  uint8_t* Memory() { return FData.data(); }
  const uint8_t* Memory() const { return FData.data(); }
  void Clear();
  // Replace the content with the whole of stream (from its start) / a file; position 0.
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  // Write the whole content to stream (at its position) / a file (created or truncated).
  void SaveToStream(TStream& stream);
  void SaveToFile(const std::string& fileName);

 protected:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

// A memory stream seeded from and read back as a byte string.
class TStringStream : public TMemoryStream {
 public:
  explicit TStringStream(std::string_view data = {});
  std::string DataString() const;
};

// ---- TFileStream ----------------------------------------------------------------------------

enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmCreate = 0xFF00,  // create, or truncate an existing file; read and write
};

class TFileStream : public TStream {
 public:
  // Opens (fmOpenRead / fmOpenWrite / fmOpenReadWrite) or creates (fmCreate) the file.
  // Raises EFOpenError naming the file and the system's reason.
  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;

  // Read / Write / Seek / SetSize raise EStreamError on a system failure.
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;

  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
  int FHandle = -1;
};

// ---- TStringList ----------------------------------------------------------------------------

enum TDuplicates { dupIgnore, dupAccept, dupError };

// A list of byte strings, each with an optional object pointer.
// Comparisons (IndexOf, Find, Sort) are ordinal over the bytes; unless CaseSensitive, ASCII
// letters compare without case (multi-byte characters of the ANSI code page are left alone).
// Index errors raise EListError "List index out of bounds (%d)".
class TStringList {
 public:
  using TNotifyEvent = std::function<void(TStringList*)>;

  TStringList() = default;
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  const std::string& operator[](int index) const { return Strings(index); }
  const std::string& Strings(int index) const;
  void SetStrings(int index, std::string value);  // not allowed on a sorted list (EListError)
  void* Objects(int index) const;
  void SetObjects(int index, void* object);

  // Add returns the index of the new entry (its sorted place on a sorted list). On a sorted list
  // a duplicate is ignored (returning the existing index) or raises EListError per Duplicates.
  int Add(std::string value) { return AddObject(std::move(value), nullptr); }
  int AddObject(std::string value, void* object);
  void AddStrings(const TStringList& source);
  // Insert on a sorted list raises EListError ("Operation not allowed on sorted list").
  void Insert(int index, std::string value) { InsertObject(index, std::move(value), nullptr); }
  void InsertObject(int index, std::string value, void* object);
  void Delete(int index);
  void Clear();
  void Exchange(int index1, int index2);
  // Copies strings and objects (not the sort settings or events).
  void Assign(const TStringList& source);

  int IndexOf(std::string_view value) const;  // -1 when absent
  // Entries of the form name=value: the index of the first with that name (case by the list's
  // rule; -1 when absent), the name and value parts, the value of a name ("" when absent).
  // SetValues replaces the entry's value, appends a new entry, or deletes it for an empty value.
  int IndexOfName(std::string_view name) const;
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(std::string_view name) const;
  void SetValues(std::string_view name, std::string_view value);
  int IndexOfObject(const void* object) const;
  // Sorted lists only: true when found; index = the match or the place it would go.
  bool Find(std::string_view value, int& index) const;

  bool Sorted() const { return FSorted; }
  void SetSorted(bool value);  // sorting on set
  void Sort();
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates value) { FDuplicates = value; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool value);
  // -1 / 0 / 1 by the list's rule.
  int CompareStrings(std::string_view a, std::string_view b) const;

  // Each entry followed by CR LF; with KeepLineBreaks each entry read by SetText is followed by
  // the line end it was read with, so SetText(t) then Text() gives t back byte for byte (with CR LF
  // after a last line that had no end); an entry added on its own is followed by CR LF.
  std::string Text() const { return JoinLines(FKeepLineBreaks); }
  // The text as KeepLineBreaks gives it, whatever this list's setting: for telling two texts apart.
  std::string ExactText() const { return JoinLines(true); }
  // Replaces the content with the lines of text; CR, LF and CR LF each end a line; a final
  // line break does not add an empty line.
  void SetText(std::string_view text);
  // For lists holding statement text: a line end inside a string literal is part of the value.
  bool KeepLineBreaks() const { return FKeepLineBreaks; }
  void SetKeepLineBreaks(bool value) { FKeepLineBreaks = value; }

  void LoadFromStream(TStream& stream);  // whole stream from its position, as Text
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

  // Nested; the outermost BeginUpdate fires OnChanging and the outermost EndUpdate OnChange,
  // and changes in between fire nothing themselves.
  void BeginUpdate();
  void EndUpdate();

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 private:
  // The line end an entry was read with; Default is CR LF.
  enum class TBreak : uint8_t { Default, LF, CR };
  struct Item {
    std::string Text;
    void* Object;
    TBreak Break = TBreak::Default;
  };

  void CheckIndex(int index) const;
  std::string JoinLines(bool keepBreaks) const;
  void Changing();
  void Changed();
  void InsertItem(int index, std::string value, void* object, TBreak lineBreak = TBreak::Default);

  std::vector<Item> FItems;
  bool FSorted = false;
  bool FCaseSensitive = false;
  TDuplicates FDuplicates = dupIgnore;
  int FUpdateCount = 0;
  bool FKeepLineBreaks = false;
};
