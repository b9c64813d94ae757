#include "core/MemCompressedBlob.h"

#include <climits>
#include <cstring>
#include <vector>

#include "core/CLRClasses.h"
#include "core/DAConsts.h"
#include "core/MemUtils.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

namespace {

[[noreturn]] void RaiseMessage(int id) {
  throw Exception(MessageText(id));
}

// Deflate never packs more than 1,032 bytes into one byte of stream: a stored size beyond that
// cannot be true, and must not make us allocate.
constexpr uint64_t MaxInflateRatio = 1032;

}  // namespace

TBlob* TCompressedBlob::CreateSameClass() const {
  return new TCompressedBlob(FIsUnicode);
}

bool TCompressedBlob::IsCompressed() const noexcept {
  return FFirstPiece && FFirstPiece->Used >= HeaderSize + 1 &&
         std::memcmp(PieceData(FFirstPiece), Magic, sizeof Magic) == 0;
}

uint32_t TCompressedBlob::GetUncompressedSize() const noexcept {
  if (!IsCompressed()) return GetUsedSize();
  return static_cast<uint32_t>(Marshal::ReadInt32(PieceData(FFirstPiece), sizeof Magic));
}

uint32_t TCompressedBlob::CheckedUncompressedSize() const {
  const uint32_t size = GetUncompressedSize();
  const uint64_t streamLen = GetUsedSize() - HeaderSize;
  if (size == 0 || size > static_cast<uint32_t>(INT_MAX) || size > streamLen * MaxInflateRatio)
    RaiseMessage(SInvalidUncompressedBlobSize);
  return size;
}

uint32_t TCompressedBlob::GetSize() {
  CheckValid();
  return IsCompressed() ? CheckedUncompressedSize() : GetUsedSize();
}

bool TCompressedBlob::CompressFrom(const void* source, uint32_t count) {
  if (!CompressProc) RaiseMessage(SCompressorNotLinked);
  const uint64_t capacity = uint64_t{count} + count / 5 + 32;
  if (capacity + HeaderSize > static_cast<uint64_t>(INT_MAX)) return false;  // beyond the codec's reach
  PPieceHeader piece = AllocPiece(static_cast<uint32_t>(capacity));
  try {
    int produced = static_cast<int>(capacity - HeaderSize);
    DoCompress(PieceData(piece) + HeaderSize, produced, source, static_cast<int>(count));
    piece->Used = static_cast<uint32_t>(produced) + HeaderSize;
  } catch (...) {
    FreePiece(piece);
    throw;
  }
  if (piece->Used >= count) {
    FreePiece(piece);
    return false;
  }
  std::memcpy(PieceData(piece), Magic, sizeof Magic);
  Marshal::WriteInt32(PieceData(piece), sizeof Magic, static_cast<int32_t>(count));
  piece = ReallocPiece(piece, piece->Used);
  FreeAllPieces();
  AppendPiece(piece);
  FModified = true;
  return true;
}

void TCompressedBlob::UncompressTo(void* dest, uint32_t& destLen) {
  DA_ASSERT(FFirstPiece != nullptr);
  Defrag();
  DA_ASSERT(FFirstPiece->Next == nullptr);
  if (FFirstPiece->Used < HeaderSize + 1) RaiseMessage(SInvalidCompressedBlobSize);
  if (std::memcmp(PieceData(FFirstPiece), Magic, sizeof Magic) != 0)
    RaiseMessage(SInvalidCompressedBlobHeader);
  if (!UncompressProc) RaiseMessage(SUncompressorNotLinked);
  int produced = static_cast<int>(std::min<uint32_t>(destLen, INT_MAX));
  try {
    DoUncompress(dest, produced, PieceData(FFirstPiece) + HeaderSize,
                 static_cast<int>(FFirstPiece->Used - HeaderSize));
  } catch (const Exception&) {
    RaiseMessage(SInvalidCompressedBlobData);
  }
  destLen = static_cast<uint32_t>(produced);
}

void TCompressedBlob::SetCompressed(bool value) {
  if (!FFirstPiece || value == IsCompressed()) return;
  if (value) {
    if (GetUsedSize() < MinCompressSize) return;
    Defrag();
    CompressFrom(PieceData(FFirstPiece), FFirstPiece->Used);
    return;
  }
  CheckValid();
  BeforeRead();
  const uint32_t size = CheckedUncompressedSize();
  PPieceHeader piece = AllocPiece(size);
  try {
    uint32_t produced = size;
    UncompressTo(PieceData(piece), produced);
    // A stream that ends early would leave the rest of the piece uninitialised.
    if (produced != size) RaiseMessage(SInvalidUncompressedBlobSize);
  } catch (...) {
    FreePiece(piece);
    throw;
  }
  piece->Used = size;
  FreePiece(FFirstPiece);
  AppendPiece(piece);
  FModified = true;
}

uint32_t TCompressedBlob::Read(uint32_t position, uint32_t count, void* dest) {
  if (!IsCompressed()) return TBlob::Read(position, count, dest);
  CheckValid();
  BeforeRead();
  const uint32_t size = CheckedUncompressedSize();
  if (position == 0 && (count == 0 || count >= size)) {
    uint32_t produced = size;
    UncompressTo(dest, produced);
    if (produced != size) RaiseMessage(SInvalidUncompressedBlobSize);
    return produced;
  }
  SetCompressed(false);
  return TBlob::Read(position, count, dest);
}

void TCompressedBlob::Write(uint32_t position, uint32_t count, const void* source) {
  if (!IsCompressed()) {
    TBlob::Write(position, count, source);
    return;
  }
  const uint32_t size = GetSize();
  if (position == 0 && count == size) {
    // The whole content is replaced: keep it compressed when that pays.
    Clear();
    if (count >= MinCompressSize && CompressFrom(source, count)) return;
    TBlob::Write(0, count, source);
    return;
  }
  SetCompressed(false);
  TBlob::Write(position, count, source);
}

void TCompressedBlob::SetSize(uint32_t value) {
  // Resizing a compressed blob works on its plain content.
  if (IsCompressed() && value != 0 && value != GetSize()) SetCompressed(false);
  TBlob::SetSize(value);
}

void TCompressedBlob::Truncate(uint32_t newSize) {
  if (newSize != 0 && IsCompressed()) SetCompressed(false);
  TBlob::Truncate(newSize);
}

void TCompressedBlob::SaveToStream(TStream& stream) {
  if (!IsCompressed()) {
    TBlob::SaveToStream(stream);
    return;
  }
  std::vector<uint8_t> content(GetSize());
  const uint32_t n = Read(0, 0, content.data());
  stream.SetSize(0);
  stream.WriteBuffer(content.data(), n);
}

void TCompressedBlob::ConvertText() {
  SetCompressed(false);
  TBlob::ConvertText();
}
