// item.cc: checks of one entry's item data: the entry CRC, header images,
// trailer images, marker images and the declared item type.
#include <cstring>

#include "package/package.h"
#include "package/pkg_internal.h"

namespace pkg {

bool is_image_type(uint16_t type) {
  switch (type) {
    case 3: case 4: case 6: case 7: case 8: case 9: case 10: case 11: case 12: case 13:
    case 14: case 15: case 16: case 17: case 18: case 19: case 21: case 22: case 27:
    case 58: case 61: case 62: case 63: case 66: case 88: case 105: case 108:
      return true;
    default:
      return false;
  }
}

bool is_header_image_type(uint16_t type) {
  switch (type) {
    case 3: case 4: case 10: case 11: case 12: case 13: case 14: case 15: case 16: case 17:
    case 18: case 58: case 66:
      return true;
    default:
      return false;
  }
}

bool is_trailer_image_type(uint16_t type) {
  switch (type) {
    case 6: case 7: case 8: case 9: case 19: case 21: case 22: case 27:
      return true;
    default:
      return false;
  }
}

bool is_marker_type(uint16_t type) {
  switch (type) {
    case 61: case 62: case 63: case 78: case 79: case 88: case 105: case 108:
      return true;
    default:
      return false;
  }
}

}  // namespace pkg

namespace {

using pkg::load_u16;
using pkg::load_u32;

constexpr uint32_t kHeaderMagic = 0x1A595354;   // "TSY" 0x1A
constexpr uint8_t kHeaderFormat = 0x13;
constexpr size_t kHeaderImageMin = 288;
constexpr size_t kSignatureSize = 256;
constexpr size_t kImageTrailerSize = 32;
constexpr uint32_t kTrailerMagic = 0x726C7254;  // "Trlr"
constexpr uint32_t kMarkerFirst = 0xA5A5A5A5;
constexpr uint32_t kMarkerLast = 0x45F2D99A;
constexpr uint32_t kContainerMagic = 0x5A5A5A5A;
constexpr size_t kMarkerHeaderSize = 64;
constexpr uint64_t kContainerFirstImage = 256;
constexpr uint16_t kDirAttrNoCrc = 0x0001;
constexpr uint16_t kDirAttrTrailer = 0x0010;

// The CRC-32 of data[0, length - 4), the part an image's own CRC covers; the
// entry CRC over the whole data continues from it so one pass serves both.
struct ImageCrc {
  bool known = false;
  uint32_t value = 0;
};

uint32_t image_crc(std::span<const uint8_t> data, ImageCrc* cache) {
  if (!cache->known) {
    cache->value = crc32(0xFFFFFFFF, data.data(), data.size() - 4);
    cache->known = true;
  }
  return cache->value;
}

uint16_t code_to_type(uint8_t code) {
  switch (code) {
    case 5: return 4;
    case 7: return 10;
    case 15: return 11;
    case 17: return 12;
    case 18: return 13;
    case 19: return 14;
    case 20: return 15;
    case 21: return 3;
    case 22: return 66;
    default: return 0;
  }
}

// Steps of the trailer image check that need no CRC: length, magic and the
// trailer's length field.
int32_t trailer_frame(std::span<const uint8_t> data) {
  const size_t n = data.size();
  if (n < kImageTrailerSize) return TSYRETVAL_INVALID_LENGTH_PARAMETER;
  const size_t t = n - kImageTrailerSize;
  if (load_u32(data, t + 24) != kTrailerMagic) return TSYRETVAL_INVALID_SIGNATURE;
  const uint16_t trailer_length = load_u16(data, t + 22);
  if (trailer_length < kImageTrailerSize || trailer_length > n || n < kSignatureSize + kImageTrailerSize) {
    return TSYRETVAL_INVALID_LENGTH_PARAMETER;
  }
  return TSYRETVAL_SUCCESS;
}

int32_t header_image_check(std::span<const uint8_t> data, ImageCrc* crc) {
  const size_t n = data.size();
  if (n < 32) return TSYRETVAL_INVALID_DATA_LENGTH;
  if (load_u32(data, 0) != kHeaderMagic) return TSYRETVAL_INVALID_SIGNATURE;
  if (data[6] != kHeaderFormat) return TSYRETVAL_INVALID_FILE_HEADER;
  if (image_crc(data, crc) != load_u32(data, n - 4)) return TSYRETVAL_INVALID_CHECKSUM;
  if (n < kHeaderImageMin) return TSYRETVAL_INVALID_DATA_LENGTH;
  return signature_verify(data.data(), n - kSignatureSize - 4, data.data() + n - kSignatureSize - 4);
}

int32_t trailer_image_check(std::span<const uint8_t> data, ImageCrc* crc) {
  const size_t n = data.size();
  int32_t rc = trailer_frame(data);
  if (rc != TSYRETVAL_SUCCESS) return rc;
  if (image_crc(data, crc) != load_u32(data, n - 4)) return TSYRETVAL_INVALID_ITEM_CHECKSUM;
  if (load_u16(data, n - kImageTrailerSize + 22) < kSignatureSize + kImageTrailerSize) {
    return TSYRETVAL_INVALID_TRAILER;
  }
  const size_t signed_length = n - kSignatureSize - kImageTrailerSize;
  return signature_verify(data.data(), signed_length, data.data() + signed_length);
}

int32_t declared_type_check(std::span<const uint8_t> data, uint16_t dir_type) {
  const uint16_t declared = image_declared_type(data);
  if (declared == 0 || declared == dir_type || (declared == 4 && dir_type == 18)) {
    return TSYRETVAL_SUCCESS;
  }
  return TSYRETVAL_INVALID_TYPE_PARAMETER;
}

// One marker header at start: both marker words, entirely inside the data.
bool marker_header_at(std::span<const uint8_t> data, uint64_t start) {
  if (start >= data.size() || data.size() - start < kMarkerHeaderSize) return false;
  return load_u32(data, start) == kMarkerFirst && load_u32(data, start + 60) == kMarkerLast;
}

int32_t marker_check(std::span<const uint8_t> data, uint16_t dir_type) {
  if (dir_type != 61) {
    return marker_header_at(data, 0) ? TSYRETVAL_SUCCESS : TSYRETVAL_INVALID_SIGNATURE;
  }
  // Container head: magic, image count 2, and the two offsets A < B.
  if (data.size() < 24 || load_u32(data, 0) != kContainerMagic || load_u16(data, 4) != 2) {
    return TSYRETVAL_INVALID_SIGNATURE;
  }
  const uint32_t a = load_u32(data, 12);
  const uint32_t b = load_u32(data, 20);
  if (b <= a) return TSYRETVAL_INVALID_SIGNATURE;
  const uint64_t starts[2] = {kContainerFirstImage, kContainerFirstImage + (b - a)};
  for (uint64_t start : starts) {
    if (!marker_header_at(data, start)) return TSYRETVAL_INVALID_SIGNATURE;
  }
  return TSYRETVAL_SUCCESS;
}

}  // namespace

uint16_t image_declared_type(std::span<const uint8_t> data) {
  if (data.size() > 28 && load_u32(data, 0) == kHeaderMagic && data[6] == kHeaderFormat) {
    return code_to_type(data[5]);
  }
  if (trailer_frame(data) == TSYRETVAL_SUCCESS) {
    return load_u16(data, data.size() - kImageTrailerSize + 20);
  }
  return 0;
}

int32_t pkg::item_validate_crc(std::span<const uint8_t> data, uint16_t dir_type, uint16_t dir_attr,
                               uint32_t data_crc32, ItemCrc* crc_out) {
  ImageCrc image;
  const bool header_or_trailer = is_header_image_type(dir_type) || is_trailer_image_type(dir_type);
  if (!is_marker_type(dir_type) && (dir_attr & kDirAttrNoCrc) == 0) {
    uint32_t whole;
    if (header_or_trailer && data.size() >= 4) {
      // The image's own CRC stops 4 bytes short; continue it to the end.
      whole = pkg::crc32_continue(image_crc(data, &image), data.data() + data.size() - 4, 4);
    } else {
      whole = crc32(0xFFFFFFFF, data.data(), data.size());
    }
    if (crc_out != nullptr) *crc_out = {true, whole};
    if (whole != data_crc32) return TSYRETVAL_INVALID_CHECKSUM;
  }

  if (is_image_type(dir_type)) {
    if (is_marker_type(dir_type)) return marker_check(data, dir_type);
    if (is_header_image_type(dir_type)) {
      const int32_t rc = header_image_check(data, &image);
      if (rc != TSYRETVAL_SUCCESS) return rc;
      return declared_type_check(data, dir_type);
    }
    if (is_trailer_image_type(dir_type)) {
      if ((dir_attr & kDirAttrTrailer) == 0) return TSYRETVAL_TRAILER_NOT_FOUND;
      const int32_t rc = trailer_image_check(data, &image);
      if (rc != TSYRETVAL_SUCCESS) return rc;
      return declared_type_check(data, dir_type);
    }
  }
  if (dir_type == kVpdType) {
    if (data.size() <= 4) return TSYRETVAL_INVALID_DATA_LENGTH;
    return vpd_validate(data.subspan(4));
  }
  return TSYRETVAL_SUCCESS;
}

int32_t item_validate(std::span<const uint8_t> data, uint16_t dir_type, uint16_t dir_attr,
                      uint32_t data_crc32) {
  return pkg::item_validate_crc(data, dir_type, dir_attr, data_crc32, nullptr);
}
