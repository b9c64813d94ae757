#include "mysql/SHA1Managed.h"

#include <openssl/evp.h>

#include "platform/runtime/Exceptions.h"

namespace {

EVP_MD_CTX* Ctx(void* p) {
  return static_cast<EVP_MD_CTX*>(p);
}

}  // namespace

void TSHA1Managed::TContextFree::operator()(void* ctx) const noexcept {
  EVP_MD_CTX_free(Ctx(ctx));
}

TSHA1Managed::TSHA1Managed() : FContext(EVP_MD_CTX_new()) {
  if (!FContext) throw EOutOfMemory("SHA-1: no digest context");
  Restart();
}

TSHA1Managed::~TSHA1Managed() = default;

void TSHA1Managed::Restart() {
  // SHA-1 is built into every libcrypto; failing here means the library is unusable.
  DA_ASSERT(EVP_DigestInit_ex(Ctx(FContext.get()), EVP_sha1(), nullptr) == 1);
}

void TSHA1Managed::Update(std::span<const uint8_t> data) {
  if (data.empty()) return;
  DA_ASSERT(EVP_DigestUpdate(Ctx(FContext.get()), data.data(), data.size()) == 1);
}

void TSHA1Managed::Update(std::string_view data) {
  Update(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
}

TSHA1Digest TSHA1Managed::Final() {
  TSHA1Digest digest{};
  unsigned int len = 0;
  DA_ASSERT(EVP_DigestFinal_ex(Ctx(FContext.get()), digest.data(), &len) == 1 && len == digest.size());
  Restart();
  return digest;
}

TSHA1Digest TSHA1Managed::ComputeHash(std::span<const uint8_t> data) {
  TSHA1Managed sha;
  sha.Update(data);
  return sha.Final();
}

TSHA1Digest TSHA1Managed::ComputeHash(std::string_view data) {
  TSHA1Managed sha;
  sha.Update(data);
  return sha.Final();
}
