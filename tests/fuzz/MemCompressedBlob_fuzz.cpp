// Stored blob values that claim the compressed form (they may come back from a server as they
// were written): every length inside them is checked before use, and whatever they hold, the
// blob raises its own errors and never reads or hands up bytes it does not have.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/MemCompressedBlob.h"
#include "platform/runtime/Exceptions.h"

namespace {

struct Releaser {
  TCompressedBlob* blob;
  ~Releaser() { blob->Release(); }
};

// Only the blob's own errors may come out; a failed internal check is a finding.
template <typename F>
void Guarded(F&& action) {
  try {
    action();
  } catch (const EAssertionFailed&) {
    __builtin_trap();
  } catch (const Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // First byte: bit 0 prepends the magic, so most inputs reach the compressed paths; the rest
  // chooses the operation.
  std::string raw;
  if (data[0] & 1)
    raw.assign(reinterpret_cast<const char*>(TCompressedBlob::Magic), sizeof TCompressedBlob::Magic);
  raw.append(reinterpret_cast<const char*>(data + 1), size - 1);
  auto* blob = new TCompressedBlob((data[0] & 2) != 0);
  Releaser releaser{blob};
  blob->SetPieceSize(1 + (data[0] >> 4) * 7);
  Guarded([&] { blob->Write(0, static_cast<uint32_t>(raw.size()), raw.data()); });
  switch ((data[0] >> 2) & 3) {
    case 0:
      Guarded([&] { blob->GetAsString(); });
      break;
    case 1:
      Guarded([&] {
        char buf[16];
        blob->Read(3, sizeof buf, buf);
      });
      break;
    case 2:
      Guarded([&] {
        blob->SetCompressed(false);
        blob->SetCompressed(true);
        std::vector<uint8_t> all(blob->GetSize());
        if (blob->Read(0, 0, all.data()) != all.size()) __builtin_trap();
      });
      break;
    default:
      Guarded([&] {
        blob->EnableRollback();
        blob->SetSize(blob->GetSize() + 3);
        blob->ConvertText();
        blob->Cancel();
      });
      break;
  }
  return 0;
}
