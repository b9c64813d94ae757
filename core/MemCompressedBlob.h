// A blob that can keep its content zlib-compressed in memory. The compressed form is the blob's
// only piece: a 16-byte magic, the uncompressed size (unsigned 32-bit, little-endian) and one zlib
// stream of the whole content. Whole reads and writes work on the compressed form; any partial
// access first turns the blob back into plain pieces.
#pragma once

#include <cstdint>

#include "core/MemBlob.h"

class TCompressedBlob : public TBlob {
 public:
  static constexpr uint8_t Magic[16] = {0x39, 0x8C, 0x9D, 0xF1, 0x58, 0x55, 0x49, 0x38,
                                        0xA6, 0x52, 0x87, 0xCE, 0xE0, 0xC6, 0xDA, 0x7E};
  static constexpr uint32_t HeaderSize = 20;  // magic and uncompressed size
  // Content of fewer bytes is never compressed.
  static constexpr uint32_t MinCompressSize = 51;

  explicit TCompressedBlob(bool isUnicode = false) : TBlob(isUnicode) {}

  // The uncompressed size when compressed. Exception "Invalid uncompressed blob size" when the
  // stored size is 0 or more than the stream can hold.
  uint32_t GetSize() override;
  // A new size other than 0 or the current one uncompresses first.
  void SetSize(uint32_t value) override;
  // A whole read of a compressed blob inflates straight into dest; a partial one uncompresses the
  // blob first. Raises as UncompressTo, and "Invalid uncompressed blob size" when the stream
  // holds fewer bytes than the stored size.
  uint32_t Read(uint32_t position, uint32_t count, void* dest) override;
  // Replacing the whole content of a compressed blob compresses the new content when worthwhile;
  // any other write to it uncompresses first. A plain blob is written plainly.
  void Write(uint32_t position, uint32_t count, const void* source) override;
  // A new size other than 0 uncompresses first.
  void Truncate(uint32_t newSize) override;
  // Writes the content, uncompressed.
  void SaveToStream(TStream& stream) override;
  void ConvertText() override;

  // There is a first piece of at least HeaderSize + 1 used bytes that starts with the magic.
  bool IsCompressed() const noexcept;
  bool Compressed() const noexcept { return IsCompressed(); }
  // True: compresses content of at least MinCompressSize bytes when the compressed form is
  // smaller. False: restores plain content; raises as Read, and the blob keeps its compressed
  // piece then. Nothing happens without content or when the form already matches.
  void SetCompressed(bool value);
  // The stored uncompressed size when compressed, else the plain size.
  uint32_t GetUncompressedSize() const noexcept;
  // Replaces the content with the compressed form of count bytes of source when that is
  // smaller than count; returns whether it did (false leaves the blob unchanged).
  // Exception 65095 when no compressor is linked.
  bool CompressFrom(const void* source, uint32_t count);
  // Inflates the compressed form into dest (capacity destLen); destLen receives the bytes produced.
  // Exceptions "Invalid compressed blob size" (fewer than HeaderSize + 1 bytes), "Invalid
  // compressed blob header" (no magic), "Invalid compressed blob data" (the stream is corrupt, cut
  // short or holds more than destLen), 65096 when no decompressor is linked.
  void UncompressTo(void* dest, uint32_t& destLen);

 protected:
  ~TCompressedBlob() override = default;
  TBlob* CreateSameClass() const override;

 private:
  // The stored uncompressed size, checked against what the stream can hold.
  uint32_t CheckedUncompressedSize() const;
};
