#include "core/MemBlob.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <typeinfo>
#include <vector>

#include "core/CLRClasses.h"
#include "core/DAConsts.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

namespace {

std::string ClassNameOf(const TSharedObject& object) {
  const char* mangled = typeid(object).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                              std::free);
  return status == 0 && name ? name.get() : mangled;
}

[[noreturn]] void RaiseMessage(int id) {
  throw Exception(MessageText(id));
}

constexpr uint16_t CR = 13;
constexpr uint16_t LF = 10;

// Releases a freshly made blob unless the operation that made it succeeds.
struct TReleaseGuard {
  TSharedObject* Object;
  ~TReleaseGuard() {
    if (Object) Object->Release();
  }
};

}  // namespace

// ---- TSharedObject --------------------------------------------------------------------------

void TSharedObject::Release() {
  DA_ASSERT_MSG(FRefCount >= 1, ClassNameOf(*this) + ".Free RefCount = " + std::to_string(FRefCount));
  if (FRefCount == 1)
    delete this;
  else
    --FRefCount;
}

// ---- TBlob: pieces --------------------------------------------------------------------------

TBlob::TBlob(bool isUnicode) : FIsUnicode(isUnicode) {}

TBlob::~TBlob() {
  // Destructors never throw: a blob already being destroyed is left alone.
  if (FTest != AliveMark) return;
  FTest = 0;
  FCached = false;
  FreeAllPieces();
  if (FRollback) {
    TBlob* rollback = FRollback;
    FRollback = nullptr;
    rollback->Release();
  }
}

TBlob* TBlob::CreateSameClass() const {
  return new TBlob(FIsUnicode);
}

void TBlob::CheckValid() const {
  if (FTest != AliveMark) RaiseMessage(SInvalidBlob);
}

void TBlob::CheckCached() const {
  if (!FCached) RaiseMessage(SBlobNotCached);
}

void TBlob::SetPieceSize(int32_t value) {
  DA_ASSERT(value > 0);
  FPieceSize = value;
}

PPieceHeader TBlob::AllocPiece(uint32_t size) {
  DA_ASSERT(size > 0);
  auto* piece = static_cast<PPieceHeader>(Marshal::AllocHGlobal(sizeof(TPieceHeader) + size));
  piece->Blob = nullptr;
  piece->Size = size;
  piece->Used = 0;
  piece->Prev = nullptr;
  piece->Next = nullptr;
  return piece;
}

PPieceHeader TBlob::ReallocPiece(PPieceHeader piece, uint32_t size) {
  DA_ASSERT(size > 0);
  auto* moved = static_cast<PPieceHeader>(Marshal::ReAllocHGlobal(piece, sizeof(TPieceHeader) + size));
  moved->Size = size;
  moved->Used = std::min(moved->Used, size);
  if (moved->Blob) {
    if (moved->Prev)
      moved->Prev->Next = moved;
    else
      moved->Blob->FFirstPiece = moved;
    if (moved->Next) moved->Next->Prev = moved;
  }
  return moved;
}

void TBlob::FreePiece(PPieceHeader piece) {
  if (piece->Blob) DeletePiece(piece);
  Marshal::FreeHGlobal(piece);
}

void TBlob::AppendPiece(PPieceHeader piece) {
  DA_ASSERT(piece->Blob == nullptr);
  piece->Blob = this;
  piece->Next = nullptr;
  if (!FFirstPiece) {
    piece->Prev = nullptr;
    FFirstPiece = piece;
    return;
  }
  PPieceHeader last = FFirstPiece;
  while (last->Next) last = last->Next;
  last->Next = piece;
  piece->Prev = last;
}

void TBlob::DeletePiece(PPieceHeader piece) {
  DA_ASSERT(piece->Blob == this);
  if (piece->Prev)
    piece->Prev->Next = piece->Next;
  else
    FFirstPiece = piece->Next;
  if (piece->Next) piece->Next->Prev = piece->Prev;
  piece->Blob = nullptr;
  piece->Prev = nullptr;
  piece->Next = nullptr;
}

void TBlob::CompressPiece(PPieceHeader piece) {
  if (piece->Used > 0 && piece->Used < piece->Size) ReallocPiece(piece, piece->Used);
}

uint32_t TBlob::GetUsedSize() const noexcept {
  uint64_t total = 0;
  for (PPieceHeader p = FFirstPiece; p; p = p->Next) total += p->Used;
  return static_cast<uint32_t>(total);  // writes keep the total below 4 GiB
}

void TBlob::FreeAllPieces() noexcept {
  while (FFirstPiece) {
    PPieceHeader next = FFirstPiece->Next;
    Marshal::FreeHGlobal(FFirstPiece);
    FFirstPiece = next;
  }
}

void TBlob::MoveChainTo(TBlob* target) noexcept {
  for (PPieceHeader p = FFirstPiece; p; p = p->Next) p->Blob = target;
  target->FFirstPiece = FFirstPiece;
  FFirstPiece = nullptr;
}

// ---- TBlob: content -------------------------------------------------------------------------

uint32_t TBlob::GetSize() {
  CheckValid();
  return GetUsedSize();
}

uint32_t TBlob::Read(uint32_t position, uint32_t count, void* dest) {
  CheckValid();
  BeforeRead();
  if (!FFirstPiece) return 0;
  const uint32_t size = GetUsedSize();
  if (position >= size) return 0;
  if (count == 0 || count > size - position) count = size - position;
  auto* out = static_cast<uint8_t*>(dest);
  uint32_t offset = 0, copied = 0;
  for (PPieceHeader p = FFirstPiece; p && copied < count; p = p->Next) {
    const uint32_t end = offset + p->Used;
    if (position < end) {
      const uint32_t n = std::min(count - copied, end - position);
      std::memcpy(out + copied, PieceData(p) + (position - offset), n);
      copied += n;
      position += n;
    }
    offset = end;
  }
  return copied;
}

void TBlob::SaveToRollbackIfNeeded() {
  if (FCached && !FRollback) SaveToRollback();
}

void TBlob::Write(uint32_t position, uint32_t count, const void* source) {
  CheckValid();
  SaveToRollbackIfNeeded();
  uint32_t size = GetUsedSize();
  position = std::min(position, size);
  if (count > UINT32_MAX - position) RaiseMessage(SInvalidBlobPosition);
  auto* src = static_cast<const uint8_t*>(source);
  uint32_t offset = 0;
  for (PPieceHeader p = FFirstPiece; p && count > 0; p = p->Next) {
    uint32_t end = offset + p->Used;
    if (position < end) {  // overwrite content
      const uint32_t n = std::min(count, end - position);
      std::memcpy(PieceData(p) + (position - offset), src, n);
      src += n;
      position += n;
      count -= n;
    }
    // Only the piece that ends the content may grow into its spare room: growing an earlier one
    // (say, after a truncation) would insert bytes instead of overwriting them.
    if (count > 0 && position == end && end == size && p->Used < p->Size) {
      const uint32_t n = std::min(count, p->Size - p->Used);
      std::memcpy(PieceData(p) + p->Used, src, n);
      p->Used += n;
      end += n;
      size += n;
      src += n;
      position += n;
      count -= n;
    }
    offset = end;
  }
  while (count > 0) {
    const uint32_t n = std::min(count, static_cast<uint32_t>(FPieceSize));
    PPieceHeader piece = AllocPiece(n);
    std::memcpy(PieceData(piece), src, n);
    piece->Used = n;
    AppendPiece(piece);
    src += n;
    count -= n;
  }
  FModified = true;
}

void TBlob::Clear() {
  CheckValid();
  SaveToRollbackIfNeeded();
  FreeAllPieces();
  FModified = true;
}

void TBlob::Truncate(uint32_t newSize) {
  CheckValid();
  SaveToRollbackIfNeeded();
  if (newSize == 0) {
    Clear();
    return;
  }
  uint32_t kept = 0;
  for (PPieceHeader p = FFirstPiece; p; p = p->Next) {
    p->Used = std::min(p->Used, newSize - kept);
    kept += p->Used;
  }
  FModified = true;
}

void TBlob::SetSize(uint32_t value) {
  const uint32_t size = GetSize();
  if (value < size) {
    Truncate(value);
  } else if (value > size) {
    // Growing is a change like any other: in cached mode Cancel must be able to undo it.
    SaveToRollbackIfNeeded();
    PPieceHeader piece = AllocPiece(value - size);
    std::memset(PieceData(piece), 0, piece->Size);
    piece->Used = piece->Size;
    AppendPiece(piece);
    FModified = true;
  }
}

void TBlob::SetIsUnicode(bool value) {
  if (value == FIsUnicode) return;
  if (GetSize() > 0) RaiseMessage(SCannotChangeIsUnicode);
  FIsUnicode = value;
}

void TBlob::Defrag() {
  CheckValid();
  if (!FFirstPiece) return;
  const uint32_t total = GetUsedSize();
  if (total == 0) {
    FreeAllPieces();
    return;
  }
  if (!FFirstPiece->Next && FFirstPiece->Used == FFirstPiece->Size) return;
  PPieceHeader first = ReallocPiece(FFirstPiece, total);
  while (PPieceHeader next = first->Next) {
    std::memcpy(PieceData(first) + first->Used, PieceData(next), next->Used);
    first->Used += next->Used;
    FreePiece(next);
  }
}

void TBlob::LoadFromStream(TStream& stream) {
  Clear();
  stream.SetPosition(0);
  int64_t remaining = stream.Size();
  if (remaining > static_cast<int64_t>(UINT32_MAX)) RaiseMessage(SInvalidBlobPosition);
  while (remaining > 0) {
    const auto n = static_cast<uint32_t>(std::min<int64_t>(remaining, FPieceSize));
    PPieceHeader piece = AllocPiece(n);
    int64_t got = 0;
    try {
      got = stream.Read(PieceData(piece), n);
    } catch (...) {
      FreePiece(piece);
      throw;
    }
    if (got <= 0) {
      FreePiece(piece);
      break;
    }
    piece->Used = static_cast<uint32_t>(got);
    AppendPiece(piece);
    remaining -= got;
  }
  FModified = true;
}

void TBlob::SaveToStream(TStream& stream) {
  CheckValid();
  BeforeRead();
  stream.SetSize(0);
  for (PPieceHeader p = FFirstPiece; p; p = p->Next) stream.WriteBuffer(PieceData(p), p->Used);
}

void TBlob::Assign(TBlob* source) {
  if (source == this) return;  // clearing first would lose the very content to copy
  Clear();
  std::vector<uint8_t> buffer(65536);
  uint32_t position = 0;
  while (uint32_t n = source->Read(position, static_cast<uint32_t>(buffer.size()), buffer.data())) {
    Write(position, n, buffer.data());
    position += n;
  }
}

// ---- TBlob: rollback ------------------------------------------------------------------------

void TBlob::SaveToRollback() {
  CheckValid();
  CheckCached();
  if (FRollback) return;  // it already holds the content as it was before the first change
  TBlob* rollback = CreateSameClass();
  TReleaseGuard guard{rollback};
  rollback->FIsUnicode = FIsUnicode;
  rollback->FModified = FModified;
  if (FFirstPiece) {
    // The content (uncompressed, for a subclass that compresses) goes into one new piece; the
    // chain as it is moves to the rollback copy.
    const uint32_t size = GetSize();
    PPieceHeader copy = size > 0 ? AllocPiece(size) : nullptr;
    try {
      if (copy) copy->Used = Read(0, size, PieceData(copy));
    } catch (...) {
      FreePiece(copy);
      throw;
    }
    MoveChainTo(rollback);
    if (copy) AppendPiece(copy);
  }
  guard.Object = nullptr;
  FRollback = rollback;
}

void TBlob::Commit() {
  CheckValid();
  if (TBlob* rollback = TakeRollback()) rollback->Release();
}

void TBlob::Cancel() {
  CheckValid();
  TBlob* rollback = TakeRollback();
  if (!rollback) return;
  // Swap the chains: this blob gets the saved content, the rollback takes the changed one away.
  PPieceHeader changed = FFirstPiece;
  FFirstPiece = nullptr;
  rollback->MoveChainTo(this);
  for (PPieceHeader p = changed; p; p = p->Next) p->Blob = rollback;
  rollback->FFirstPiece = changed;
  FModified = rollback->FModified;
  rollback->Release();
}

TBlob* TBlob::TakeRollback() noexcept {
  TBlob* rollback = FRollback;
  FRollback = nullptr;
  return rollback;
}

// ---- TBlob: text ----------------------------------------------------------------------------

std::string TBlob::ReadAll() {
  std::string bytes(GetSize(), '\0');
  if (!bytes.empty()) bytes.resize(Read(0, 0, bytes.data()));
  return bytes;
}

std::string TBlob::GetAsString() {
  std::string bytes = ReadAll();
  if (!FIsUnicode) return bytes;
  std::u16string wide(bytes.size() / 2, u'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
  return WideToAnsi(wide);
}

void TBlob::SetAsString(std::string_view value) {
  Clear();
  if (FIsUnicode) {
    const std::u16string wide = AnsiToWide(value);
    Write(0, static_cast<uint32_t>(wide.size() * 2), wide.data());
  } else {
    Write(0, static_cast<uint32_t>(value.size()), value.data());
  }
}

std::u16string TBlob::GetAsWideString() {
  std::string bytes = ReadAll();
  if (!FIsUnicode) return AnsiToWide(bytes);
  DA_ASSERT_MSG(bytes.size() % 2 == 0, "Odd size of wide blob content");
  std::u16string wide(bytes.size() / 2, u'\0');
  std::memcpy(wide.data(), bytes.data(), bytes.size());
  return wide;
}

void TBlob::SetAsWideString(std::u16string_view value) {
  Clear();
  if (FIsUnicode) {
    Write(0, static_cast<uint32_t>(value.size() * 2), value.data());
  } else {
    const std::string ansi = WideToAnsi(value);
    Write(0, static_cast<uint32_t>(ansi.size()), ansi.data());
  }
}

uint32_t TBlob::GetSizeAnsi() {
  if (!FIsUnicode) return GetSize();
  if (!IsAnsiMultiByte()) return GetSize() / 2;
  return static_cast<uint32_t>(GetAsString().size());
}

uint32_t TBlob::TranslatePositionToUni(uint32_t position) {
  if (!FIsUnicode) return position;
  if (position == 0 || !IsAnsiMultiByte()) {
    if (position > UINT32_MAX / 2) RaiseMessage(SInvalidBlobPosition);
    return position * 2;
  }
  const std::u16string wide = GetAsWideString();
  const std::string ansi = WideToAnsi(wide);
  // Each character (a surrogate pair counts as one) becomes one ANSI character: walk both.
  const TCharsetKind cs = AnsiCharsetKind();
  size_t w = 0, a = 0;
  while (a < position && w < wide.size() && a < ansi.size()) {
    const bool pair = wide[w] >= 0xD800 && wide[w] <= 0xDBFF && w + 1 < wide.size() &&
                      wide[w + 1] >= 0xDC00 && wide[w + 1] <= 0xDFFF;
    w += pair ? 2 : 1;
    a += MbCharLen(cs, ansi.data() + a, ansi.data() + ansi.size());
  }
  if (a != position) RaiseMessage(SInvalidBlobPosition);
  return static_cast<uint32_t>(w * 2);
}

// ---- TBlob: line breaks ---------------------------------------------------------------------

namespace {

// Builds the converted content as a detached chain of pieces.
class TTextWriter {
 public:
  TTextWriter(TBlob& blob, unsigned unit) : FBlob(blob), FUnit(unit) {}
  ~TTextWriter() {
    while (FFirst) {
      PPieceHeader next = FFirst->Next;
      Marshal::FreeHGlobal(FFirst);
      FFirst = next;
    }
  }

  // remainingInput: input bytes not yet converted, the unit being written included.
  void Put(uint16_t unit, unsigned bytes, uint64_t remainingInput) {
    if (!FLast || FLast->Size - FLast->Used < bytes) NewPiece(remainingInput);
    std::memcpy(TBlob::PieceData(FLast) + FLast->Used, &unit, bytes);  // little-endian units
    FLast->Used += bytes;
  }

  // Hands the chain over; the writer keeps nothing.
  PPieceHeader Release() {
    PPieceHeader first = FFirst;
    FFirst = FLast = nullptr;
    return first;
  }

 private:
  void NewPiece(uint64_t remainingInput) {
    // Room for the worst case of what is left (every unit an LF) once that is a small amount.
    const uint64_t pieceSize = static_cast<uint64_t>(FBlob.PieceSize());
    uint64_t size = remainingInput * 2 < pieceSize / 2 ? remainingInput * 2 : pieceSize;
    size = std::max<uint64_t>(size / FUnit * FUnit, 2 * FUnit);
    PPieceHeader piece = FBlob.AllocPiece(static_cast<uint32_t>(size));
    if (FLast) {
      FLast->Next = piece;
      piece->Prev = FLast;
    } else {
      FFirst = piece;
    }
    FLast = piece;
  }

  TBlob& FBlob;
  unsigned FUnit;
  PPieceHeader FFirst = nullptr;
  PPieceHeader FLast = nullptr;
};

}  // namespace

void TBlob::ConvertText() {
  CheckValid();
  SaveToRollbackIfNeeded();
  const unsigned unit = FIsUnicode ? 2 : 1;
  uint64_t remaining = GetUsedSize();
  TTextWriter out(*this, unit);
  uint16_t prev = 0;
  int pendingLow = -1;  // a wide unit's first byte, when the unit spans two pieces
  auto put = [&](uint16_t u) {
    if (u == LF && prev != CR) out.Put(CR, unit, remaining + unit);
    out.Put(u, unit, remaining + unit);
    prev = u;
  };
  for (PPieceHeader p = FFirstPiece; p; p = p->Next) {
    const uint8_t* data = PieceData(p);
    for (uint32_t i = 0; i < p->Used; ++i) {
      if (unit == 1) {
        remaining -= 1;
        put(data[i]);
      } else if (pendingLow < 0) {
        pendingLow = data[i];
      } else {
        remaining -= 2;
        put(static_cast<uint16_t>(pendingLow | data[i] << 8));
        pendingLow = -1;
      }
    }
  }
  if (pendingLow >= 0) out.Put(static_cast<uint16_t>(pendingLow), 1, 1);  // odd last byte, as it is
  PPieceHeader converted = out.Release();
  FreeAllPieces();
  FFirstPiece = converted;
  for (PPieceHeader p = converted; p; p = p->Next) p->Blob = this;
  FModified = true;
}
