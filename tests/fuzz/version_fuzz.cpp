// A version server's reply into the version texts: any body gives a version or nothing, never a
// crash or an over-read; a version read from a reply equals itself and compares the same way
// from both sides, however long its parts.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "console/frame/VersionText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> version = VersionOfReply(body);
  if (version && CompareVersions(*version, *version) != 0) std::abort();
  // The two halves as two versions.
  const std::string_view a = body.substr(0, size / 2), b = body.substr(size / 2);
  const std::optional<int> ab = CompareVersions(a, b), ba = CompareVersions(b, a);
  if (ab.has_value() != ba.has_value() || (ab && *ab != -*ba)) std::abort();
  if (ab && (*ab < -1 || *ab > 1)) std::abort();
  return 0;
}
