// Fuzz target: the package log parse. Byte 0 picks the field; the rest is
// the item's bytes.
#include <cstdint>
#include <span>
#include <string_view>

#include "nvm_inventory/nvm_inventory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string_view field;
  const std::span<const uint8_t> log(data + 1, size - 1);
  if (package_log_field(log, 1u + data[0] % 4u, &field)) {
    // The answer lies inside the log and holds at most 255 bytes.
    const auto* begin = reinterpret_cast<const char*>(log.data());
    if (field.size() > 255 || field.data() < begin || field.data() + field.size() > begin + log.size()) {
      __builtin_trap();
    }
  }
  return 0;
}
