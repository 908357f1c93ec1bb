// Fuzz target: package_get_property. Byte 0 is the tag, byte 1 the
// destination size; the rest is the property stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "package/package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t tag = data[0];
  const size_t dest_size = data[1];
  const std::span<const uint8_t> stream(data + 2, size - 2);
  // The destination sits inside a larger buffer so that a write past its
  // size shows as changed guard bytes as well as to the sanitizer.
  std::vector<uint8_t> buffer(dest_size + 16, 0xA5);
  const int32_t rc = package_get_property(stream, tag, buffer.data() + 8, dest_size);
  if (rc < 0 && rc != TSYRETVAL_ITEM_NOT_FOUND && rc != TSYRETVAL_INVALID_PROP_LENGTH) std::abort();
  if (rc >= 0 && static_cast<size_t>(rc) > stream.size()) std::abort();
  for (size_t i = 0; i < 8; ++i) {
    if (buffer[i] != 0xA5 || buffer[8 + dest_size + i] != 0xA5) std::abort();
  }
  return 0;
}
