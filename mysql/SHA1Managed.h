// SHA-1 digests through libcrypto. The protocol's password proofs are built from SHA-1; this
// class is the one place that calls the library for it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

using TSHA1Digest = std::array<uint8_t, 20>;

class TSHA1Managed {
 public:
  // Raises EOutOfMemory when libcrypto cannot give a digest context.
  TSHA1Managed();
  ~TSHA1Managed();
  TSHA1Managed(const TSHA1Managed&) = delete;
  TSHA1Managed& operator=(const TSHA1Managed&) = delete;

  // Feeds more bytes into the running digest.
  void Update(std::span<const uint8_t> data);
  void Update(std::string_view data);
  // Ends the running digest and starts a new one.
  TSHA1Digest Final();

  // One-shot digests.
  static TSHA1Digest ComputeHash(std::span<const uint8_t> data);
  static TSHA1Digest ComputeHash(std::string_view data);

 private:
  struct TContextFree {
    void operator()(void* ctx) const noexcept;
  };
  std::unique_ptr<void, TContextFree> FContext;
  void Restart();
};
