#include "platform/runtime/Classes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

// Target position of a seek, refusing a negative or overflowing result.
int64_t SeekTarget(int64_t offset, TSeekOrigin origin, int64_t current, int64_t size) {
  int64_t base = 0;
  switch (origin) {
    case soFromBeginning:
      base = 0;
      break;
    case soFromCurrent:
      base = current;
      break;
    case soFromEnd:
      base = size;
      break;
    default:
      throw EStreamError("Invalid stream seek origin");
  }
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target) || target < 0)
    throw EStreamError("Invalid stream position");
  return target;
}

std::string SystemReason(int err) {
  return std::strerror(err);
}

}  // namespace

// ---- TStream --------------------------------------------------------------------------------

int64_t TStream::Size() {
  int64_t pos = Seek(0, soFromCurrent);
  int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count < 0) throw EStreamError("Stream read error");
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr int64_t kChunk = 64 * 1024;
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min(count, kChunk)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min(left, kChunk);
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return count;
}

// ---- TMemoryStream --------------------------------------------------------------------------

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t size = Size();
  if (count <= 0 || FPosition >= size) return 0;
  int64_t n = std::min(count, size - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t end;
  if (__builtin_add_overflow(FPosition, count, &end)) throw EStreamError("Stream write error");
  if (end > Size()) SetSize(end);
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekTarget(offset, origin, FPosition, Size());
  return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError("Invalid stream size");
  if (static_cast<uint64_t>(newSize) > FData.max_size())
    throw EOutOfMemory("Out of memory while expanding memory stream");
  try {
    FData.resize(static_cast<size_t>(newSize));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory("Out of memory while expanding memory stream");
  } catch (const std::length_error&) {
    throw EOutOfMemory("Out of memory while expanding memory stream");
  }
  if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::Clear() {
  std::vector<uint8_t>().swap(FData);
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  int64_t size = stream.Size();
  SetSize(size);
  FPosition = 0;
  if (size > 0) stream.ReadBuffer(FData.data(), size);
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& stream) {
  if (!FData.empty()) stream.WriteBuffer(FData.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

TStringStream::TStringStream(std::string_view data) {
  if (!data.empty()) WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  SetPosition(0);
}

std::string TStringStream::DataString() const {
  return std::string(FData.begin(), FData.end());
}

// ---- TFileStream ----------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : FFileName(fileName) {
  int flags = O_CLOEXEC;
  if (mode == fmCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 0x0003) {
      case fmOpenRead:
        flags |= O_RDONLY;
        break;
      case fmOpenWrite:
        flags |= O_WRONLY;
        break;
      case fmOpenReadWrite:
        flags |= O_RDWR;
        break;
      default:
        throw EFOpenError(Format("Cannot open file \"%s\". Invalid open mode", {fileName}));
    }
  }
  do {
    FHandle = ::open(fileName.c_str(), flags, 0666);
  } while (FHandle < 0 && errno == EINTR);
  if (FHandle < 0) {
    const char* verb = mode == fmCreate ? "create" : "open";
    throw EFOpenError(Format("Cannot %s file \"%s\". %s", {verb, fileName, SystemReason(errno)}));
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < count) {
    size_t want = static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30));
    ssize_t n = ::read(FHandle, p + done, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EStreamError(Format("Cannot read file \"%s\". %s", {FFileName, SystemReason(errno)}));
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (done < count) {
    size_t want = static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30));
    ssize_t n = ::write(FHandle, p + done, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EStreamError(Format("Cannot write file \"%s\". %s", {FFileName, SystemReason(errno)}));
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (origin != soFromBeginning && origin != soFromCurrent && origin != soFromEnd)
    throw EStreamError("Invalid stream seek origin");
  int whence = origin == soFromBeginning ? SEEK_SET : origin == soFromCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  if (r < 0) throw EStreamError("Invalid stream position");
  return r;
}

void TFileStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError("Invalid stream size");
  int64_t pos = Seek(0, soFromCurrent);
  int r;
  do {
    r = ::ftruncate(FHandle, static_cast<off_t>(newSize));
  } while (r < 0 && errno == EINTR);
  if (r < 0) throw EStreamError(Format("Cannot resize file \"%s\". %s", {FFileName, SystemReason(errno)}));
  if (pos > newSize) Seek(newSize, soFromBeginning);
}

// ---- TStringList ----------------------------------------------------------------------------

namespace {

// Ordinal comparison; without case, ASCII letters that are single-byte characters of the ANSI
// code page are folded (a trail byte of a multi-byte character may look like a letter).
int CompareOrdinal(std::string_view a, std::string_view b, bool caseSensitive) {
  if (caseSensitive) {
    int r = a.compare(b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
  }
  TCharsetKind cs = AnsiCharsetKind();
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    size_t la = MbCharLen(cs, a.data() + i, a.data() + a.size());
    size_t lb = MbCharLen(cs, b.data() + j, b.data() + b.size());
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[j]);
    if (la == 1 && ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 32);
    if (lb == 1 && cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 32);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (la != lb) return la < lb ? -1 : 1;  // same lead byte, different lengths
    int r = a.substr(i + 1, la - 1).compare(b.substr(j + 1, lb - 1));
    if (r != 0) return r < 0 ? -1 : 1;
    i += la;
    j += lb;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", {index}));
}

void TStringList::Changing() {
  if (FUpdateCount == 0 && OnChanging) OnChanging(this);
}

void TStringList::Changed() {
  if (FUpdateCount == 0 && OnChange) OnChange(this);
}

const std::string& TStringList::Strings(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].Text;
}

void TStringList::SetStrings(int index, std::string value) {
  if (FSorted) throw EListError("Operation not allowed on sorted list");
  CheckIndex(index);
  Changing();
  FItems[static_cast<size_t>(index)].Text = std::move(value);
  Changed();
}

void* TStringList::Objects(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].Object;
}

void TStringList::SetObjects(int index, void* object) {
  CheckIndex(index);
  Changing();
  FItems[static_cast<size_t>(index)].Object = object;
  Changed();
}

void TStringList::InsertItem(int index, std::string value, void* object, TBreak lineBreak) {
  Changing();
  FItems.insert(FItems.begin() + index, Item{std::move(value), object, lineBreak});
  Changed();
}

int TStringList::AddObject(std::string value, void* object) {
  int index = Count();
  if (FSorted && Find(value, index)) {
    if (FDuplicates == dupIgnore) return index;
    if (FDuplicates == dupError) throw EListError("String list does not allow duplicates");
  }
  InsertItem(index, std::move(value), object);
  return index;
}

void TStringList::AddStrings(const TStringList& source) {
  if (&source == this) {
    std::vector<Item> copy = FItems;
    BeginUpdate();
    for (auto& item : copy) AddObject(item.Text, item.Object);
    EndUpdate();
    return;
  }
  BeginUpdate();
  for (const auto& item : source.FItems) AddObject(item.Text, item.Object);
  EndUpdate();
}

void TStringList::InsertObject(int index, std::string value, void* object) {
  if (FSorted) throw EListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count()) throw EListError(Format("List index out of bounds (%d)", {index}));
  InsertItem(index, std::move(value), object);
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  Changing();
  FItems.erase(FItems.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (FItems.empty()) return;
  Changing();
  FItems.clear();
  Changed();
}

void TStringList::Exchange(int index1, int index2) {
  if (FSorted) throw EListError("Operation not allowed on sorted list");
  CheckIndex(index1);
  CheckIndex(index2);
  Changing();
  std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]);
  Changed();
}

void TStringList::Assign(const TStringList& source) {
  if (&source == this) return;
  BeginUpdate();
  FItems.clear();
  for (const auto& item : source.FItems) {
    if (FSorted)
      AddObject(item.Text, item.Object);
    else
      InsertItem(Count(), item.Text, item.Object, item.Break);
  }
  EndUpdate();
}

int TStringList::CompareStrings(std::string_view a, std::string_view b) const {
  return CompareOrdinal(a, b, FCaseSensitive);
}

int TStringList::IndexOf(std::string_view value) const {
  if (FSorted) {
    int index;
    return Find(value, index) ? index : -1;
  }
  for (size_t i = 0; i < FItems.size(); ++i)
    if (CompareStrings(FItems[i].Text, value) == 0) return static_cast<int>(i);
  return -1;
}

int TStringList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    std::string_view entry = FItems[static_cast<size_t>(i)].Text;
    size_t eq = entry.find('=');
    if (eq != std::string_view::npos && CompareStrings(entry.substr(0, eq), name) == 0) return i;
  }
  return -1;
}

std::string TStringList::Names(int index) const {
  const std::string& entry = Strings(index);
  size_t eq = entry.find('=');
  return eq == std::string::npos ? std::string() : entry.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& entry = Strings(index);
  size_t eq = entry.find('=');
  return eq == std::string::npos ? std::string() : entry.substr(eq + 1);
}

std::string TStringList::Values(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValues(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  std::string entry = std::string(name) + "=" + std::string(value);
  if (value.empty()) {
    if (i >= 0) Delete(i);
  } else if (i < 0) {
    Add(std::move(entry));
  } else {
    SetStrings(i, std::move(entry));
  }
}

int TStringList::IndexOfObject(const void* object) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].Object == object) return static_cast<int>(i);
  return -1;
}

bool TStringList::Find(std::string_view value, int& index) const {
  DA_ASSERT_MSG(FSorted, "Find needs a sorted list");
  // First entry not less than value, so the first of equal duplicates is found.
  int lo = 0, hi = Count();
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    if (CompareStrings(FItems[static_cast<size_t>(mid)].Text, value) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  index = lo;
  return lo < Count() && CompareStrings(FItems[static_cast<size_t>(lo)].Text, value) == 0;
}

void TStringList::Sort() {
  if (FItems.size() < 2) return;
  Changing();
  std::stable_sort(FItems.begin(), FItems.end(),
                   [this](const Item& a, const Item& b) { return CompareStrings(a.Text, b.Text) < 0; });
  Changed();
}

void TStringList::SetSorted(bool value) {
  if (value == FSorted) return;
  if (value) Sort();
  FSorted = value;
}

void TStringList::SetCaseSensitive(bool value) {
  if (value == FCaseSensitive) return;
  FCaseSensitive = value;
  if (FSorted) Sort();
}

std::string TStringList::JoinLines(bool keepBreaks) const {
  size_t total = 0;
  for (const auto& item : FItems) total += item.Text.size() + 2;
  std::string out;
  out.reserve(total);
  for (const auto& item : FItems) {
    out += item.Text;
    switch (keepBreaks ? item.Break : TBreak::Default) {
      case TBreak::LF:
        out += '\n';
        break;
      case TBreak::CR:
        out += '\r';
        break;
      case TBreak::Default:
        out += "\r\n";
        break;
    }
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  BeginUpdate();
  FItems.clear();
  size_t start = 0;
  while (start < text.size()) {
    // A plain scan: find_first_of searches the two-character set once per byte.
    size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    std::string line(text.substr(start, end - start));
    TBreak lineBreak = TBreak::Default;  // also for a last line without an end
    start = end;
    const bool cr = start < text.size() && text[start] == '\r';
    if (cr) ++start;
    const bool lf = start < text.size() && text[start] == '\n';
    if (lf) ++start;
    if (cr != lf) lineBreak = cr ? TBreak::CR : TBreak::LF;
    if (FSorted)
      AddObject(std::move(line), nullptr);
    else
      InsertItem(Count(), std::move(line), nullptr, lineBreak);
  }
  EndUpdate();
}

void TStringList::LoadFromStream(TStream& stream) {
  int64_t left = stream.Size() - stream.Position();
  std::string data(static_cast<size_t>(std::max<int64_t>(left, 0)), '\0');
  if (!data.empty()) stream.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
  SetText(data);
}

void TStringList::SaveToStream(TStream& stream) const {
  std::string data = Text();
  if (!data.empty()) stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
}

void TStringList::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TStringList::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

void TStringList::BeginUpdate() {
  if (FUpdateCount == 0 && OnChanging) OnChanging(this);
  ++FUpdateCount;
}

void TStringList::EndUpdate() {
  DA_ASSERT(FUpdateCount > 0);
  --FUpdateCount;
  if (FUpdateCount == 0 && OnChange) OnChange(this);
}
