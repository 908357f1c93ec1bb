// Fuzz target: item_validate and image_declared_type. Bytes 0-1 give
// dir_type, 2-3 dir_attr; byte 4 bit 0 set means the entry CRC is the data's
// true CRC, else bytes 5-8 are taken as data_crc32. The data follows.
#include <cstddef>
#include <cstdint>
#include <span>

#include "package/package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const uint16_t dir_type = static_cast<uint16_t>(data[0] | (data[1] << 8));
  const uint16_t dir_attr = static_cast<uint16_t>(data[2] | (data[3] << 8));
  const std::span<const uint8_t> item(data + 9, size - 9);
  const uint32_t crc = (data[4] & 1) != 0
                           ? crc32(0xFFFFFFFF, item.data(), item.size())
                           : static_cast<uint32_t>(data[5] | (data[6] << 8) | (data[7] << 16)) |
                                 (static_cast<uint32_t>(data[8]) << 24);
  item_validate(item, dir_type, dir_attr, crc);
  image_declared_type(item);
  return 0;
}
