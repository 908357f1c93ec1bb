// Fuzz target: vpd_validate over a VPD area.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "package/package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int32_t rc = vpd_validate(std::span<const uint8_t>(data, size));
  if (rc > 0) std::abort();
  return 0;
}
