// Reference-counted objects that record buffers hold by handle: variant holders and blobs (large
// values kept as a chain of pieces, with an optional rollback copy and the ANSI/wide text
// conversions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/Variant.h"

class TStream;

// ---- TSharedObject --------------------------------------------------------------------------

// Starts with one reference; the release of the last one destroys it. Never deleted directly.
class TSharedObject {
 public:
  TSharedObject() = default;
  TSharedObject(const TSharedObject&) = delete;
  TSharedObject& operator=(const TSharedObject&) = delete;

  int32_t RefCount() const noexcept { return FRefCount; }
  void AddRef() noexcept { ++FRefCount; }
  // Drops one reference; destroys the object at the last. EAssertionFailed ("<class>.Free RefCount
  // = n") for a count below 1.
  void Release();
  void Free() { Release(); }

  // The value a record buffer stores to refer to the object, and back.
  void* GetHandle() noexcept { return this; }
  static TSharedObject* FromHandle(void* handle) noexcept { return static_cast<TSharedObject*>(handle); }

 protected:
  virtual ~TSharedObject() = default;

 private:
  int32_t FRefCount = 1;
};

// ---- TVariantObject -------------------------------------------------------------------------

// The value of a variant field (dtVariant).
class TVariantObject : public TSharedObject {
 public:
  TVariantObject() = default;

  const Variant& Value() const noexcept { return FValue; }
  void SetValue(Variant value) { FValue = std::move(value); }

 protected:
  ~TVariantObject() override = default;

 private:
  Variant FValue;
};

// ---- TBlob ----------------------------------------------------------------------------------

class TBlob;

// One piece of a blob's content: this header, then Size data bytes of which Used are content.
struct TPieceHeader {
  TBlob* Blob;  // owner while linked, nil when detached
  uint32_t Size;
  uint32_t Used;
  TPieceHeader* Prev;
  TPieceHeader* Next;
};
using PPieceHeader = TPieceHeader*;

// A large value: the concatenation of its pieces' used bytes. Positions and sizes are bytes.
// In cached mode the first change keeps a rollback copy that Cancel restores and Commit drops.
// Content operations raise Exception "Invalid BLOB" on an object being destroyed.
class TBlob : public TSharedObject {
 public:
  // A piece and its header fill exactly 64 KiB.
  static constexpr int32_t DefaultPieceSize = 65536 - static_cast<int32_t>(sizeof(TPieceHeader));

  explicit TBlob(bool isUnicode = false);

  // Text: a wide blob holds UTF-16, converted to and from ANSI here; an ANSI blob holds ANSI.
  virtual std::string GetAsString();
  virtual void SetAsString(std::string_view value);
  // EAssertionFailed when a wide blob holds an odd number of bytes.
  virtual std::u16string GetAsWideString();
  virtual void SetAsWideString(std::u16string_view value);
  // Called at the start of every read, so that a subclass can fetch its content first.
  virtual void BeforeRead() {}
  // Keeps a copy of the content in the rollback blob. Exception "Blob must be in cached mode"
  // outside cached mode; nothing happens when a rollback copy exists already.
  virtual void SaveToRollback();
  virtual uint32_t GetSize();
  // A smaller size truncates, a larger one appends zero bytes.
  virtual void SetSize(uint32_t value);
  // Exception "Cannot change IsUnicode if Size > 0" for a change of a non-empty blob.
  virtual void SetIsUnicode(bool value);
  // Copies up to count bytes (0: all) from position into dest; returns the number copied, 0 when
  // position is at or past the end.
  virtual uint32_t Read(uint32_t position, uint32_t count, void* dest);
  // Overwrites from position (cut to the size: writing never leaves a gap), growing the blob as
  // needed. Exception "Invalid BLOB position" when the blob would exceed 4 GiB - 1.
  virtual void Write(uint32_t position, uint32_t count, const void* source);
  virtual void Clear();
  // Cuts the content to newSize (0 clears); a larger newSize changes nothing.
  virtual void Truncate(uint32_t newSize);
  // One piece holding the whole content (none when empty).
  virtual void Defrag();
  // Replaces the content with the whole stream (from its start).
  virtual void LoadFromStream(TStream& stream);
  // Replaces the stream's content with the blob's content.
  virtual void SaveToStream(TStream& stream);
  virtual void Commit();
  virtual void Cancel();

  void CheckValid() const;
  bool IsUnicode() const noexcept { return FIsUnicode; }
  bool Modified() const noexcept { return FModified; }
  void SetModified(bool value) noexcept { FModified = value; }
  bool Cached() const noexcept { return FCached; }
  void EnableRollback() noexcept { FCached = true; }
  // Throws Exception "Blob must be in cached mode" unless cached.
  void CheckCached() const;
  TBlob* Rollback() const noexcept { return FRollback; }
  // Hands the rollback copy, with its reference, to the caller; the blob keeps none.
  TBlob* TakeRollback() noexcept;
  int32_t PieceSize() const noexcept { return FPieceSize; }
  void SetPieceSize(int32_t value);

  // Pieces. AllocPiece gives a detached piece (size 0 is an assertion failure); FreePiece unlinks
  // a linked piece first; DeletePiece unlinks one (asserting this blob owns it); CompressPiece
  // shrinks a piece to its used bytes. ReallocPiece returns the piece's new address.
  static uint8_t* PieceData(PPieceHeader piece) noexcept {
    return reinterpret_cast<uint8_t*>(piece) + sizeof(TPieceHeader);
  }
  PPieceHeader AllocPiece(uint32_t size);
  PPieceHeader ReallocPiece(PPieceHeader piece, uint32_t size);
  void FreePiece(PPieceHeader piece);
  void AppendPiece(PPieceHeader piece);
  void DeletePiece(PPieceHeader piece);
  void CompressPiece(PPieceHeader piece);
  PPieceHeader GetFirstPiece() const noexcept { return FFirstPiece; }
  // Bytes held by the pieces (for a compressed blob: the compressed form).
  uint32_t GetUsedSize() const noexcept;

  // Replaces the content with a copy of source's.
  void Assign(TBlob* source);
  // Wide blobs: the byte position in the content of ANSI character position `position`.
  // Exception "Invalid BLOB position" for a position inside a character or past the end.
  uint32_t TranslatePositionToUni(uint32_t position);
  // The length the content has as ANSI text (wide blobs on a multi-byte code page are converted;
  // ANSI blobs give their size).
  uint32_t GetSizeAnsi();
  // Expands every LF not preceded by CR into CR LF (8- or 16-bit units), across piece borders.
  virtual void ConvertText();

 protected:
  ~TBlob() override;
  // A new, empty blob of this object's class for the rollback copy.
  virtual TBlob* CreateSameClass() const;
  // Frees every piece without any rollback or modification bookkeeping.
  void FreeAllPieces() noexcept;
  // Moves the whole chain into `target` (which must have none).
  void MoveChainTo(TBlob* target) noexcept;
  void SaveToRollbackIfNeeded();
  // The content as one byte string (through the virtual Read).
  std::string ReadAll();

  bool FIsUnicode;
  PPieceHeader FFirstPiece = nullptr;
  bool FCached = false;
  TBlob* FRollback = nullptr;
  bool FModified = false;
  int32_t FPieceSize = DefaultPieceSize;

 private:
  static constexpr uint8_t AliveMark = 221;
  uint8_t FTest = AliveMark;
};
