// pkg_internal.h: helpers shared by the container, property and item code.
// Not part of the package subsystem's interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "package/package.h"

namespace pkg {

// Little-endian loads. The caller has checked that the bytes are inside the
// span; the offsets are 64-bit so that sums of 32-bit fields cannot wrap.
inline uint16_t load_u16(std::span<const uint8_t> s, uint64_t at) {
  return static_cast<uint16_t>(s[at] | (s[at + 1] << 8));
}
inline uint32_t load_u32(std::span<const uint8_t> s, uint64_t at) {
  return static_cast<uint32_t>(s[at]) | (static_cast<uint32_t>(s[at + 1]) << 8) |
         (static_cast<uint32_t>(s[at + 2]) << 16) | (static_cast<uint32_t>(s[at + 3]) << 24);
}

constexpr uint32_t kPackageMagic = 0x30474B50;   // "PKG0"
constexpr uint32_t kManifestMagic = 0x306E614D;  // "Man0"
constexpr size_t kPackageHeaderSize = 12;
constexpr size_t kManifestHeaderSize = 20;
constexpr size_t kDirectiveKept = 64;
constexpr size_t kRecordKept = 24;

// Item type classes by dir_type.
bool is_image_type(uint16_t type);
bool is_header_image_type(uint16_t type);
bool is_trailer_image_type(uint16_t type);
bool is_marker_type(uint16_t type);
constexpr uint16_t kVpdType = 5;

// What item validation learnt about the data besides its verdict: the CRC-32
// of the whole data when it had to compute it, so that the package CRC can
// reuse it instead of reading the bytes again.
struct ItemCrc {
  bool known = false;
  uint32_t crc = 0;
};

// item_validate with the CRC it computed reported in *crc_out (may be null).
int32_t item_validate_crc(std::span<const uint8_t> data, uint16_t dir_type, uint16_t dir_attr,
                          uint32_t data_crc32, ItemCrc* crc_out);

// Continues a CRC-32: the CRC of a || b from crc32(0xFFFFFFFF, a) and b.
inline uint32_t crc32_continue(uint32_t crc_of_prefix, const uint8_t* data, size_t length) {
  return crc32(~crc_of_prefix, data, length);
}

}  // namespace pkg
