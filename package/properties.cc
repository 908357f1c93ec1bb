// properties.cc: property lookup in a package's property stream and the
// package record that the front end keeps per package file.
#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "package/package.h"
#include "package/pkg_internal.h"

int32_t package_get_property(std::span<const uint8_t> stream, uint8_t tag, void* dest,
                             size_t dest_size) {
  size_t pos = 0;
  while (pos < stream.size()) {
    const uint8_t here = stream[pos];
    if (here == 0 || pos == stream.size() - 1) return TSYRETVAL_ITEM_NOT_FOUND;
    // A 16-bit length that begins on the stream's last byte runs past its end.
    if (stream.size() - pos < 3) {
      return here == tag ? TSYRETVAL_INVALID_PROP_LENGTH : TSYRETVAL_ITEM_NOT_FOUND;
    }
    const size_t length = pkg::load_u16(stream, pos + 1);
    const size_t value_at = pos + 3;
    if (here == tag) {
      if (stream.size() - value_at < length) return TSYRETVAL_INVALID_PROP_LENGTH;
      if (dest_size != 0) {
        std::memset(dest, 0, dest_size);
        std::memcpy(dest, stream.data() + value_at, std::min(length, dest_size));
      }
      return static_cast<int32_t>(length);
    }
    pos = value_at + length;
  }
  return TSYRETVAL_ITEM_NOT_FOUND;
}

int32_t package_property_stream(std::span<const uint8_t> view) {
  PackageHeader h;
  const int32_t rc = package_check_header(view, &h);
  if (rc != TSYRETVAL_SUCCESS) return rc;
  const uint64_t length = uint64_t{h.header_length} - pkg::kPackageHeaderSize;
  // A length that does not fit a non-negative status cannot be returned as one.
  if (length > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    return TSYRETVAL_INVALID_FILE_HEADER;
  }
  return static_cast<int32_t>(length);
}

namespace {

// Copies text into a fixed field: zero-filled, cut to leave the terminator.
template <size_t N>
void copy_text(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  std::strncpy(field, text, N - 1);
}

// Looks tag up into a text field, keeping all but the terminator's byte.
template <size_t N>
int32_t get_text(std::span<const uint8_t> stream, uint8_t tag, char (&field)[N]) {
  return package_get_property(stream, tag, field, N - 1);
}

// Looks a 16-bit little-endian value up; the field is untouched when the
// tag is missing or malformed.
void get_u16(std::span<const uint8_t> stream, uint8_t tag, uint16_t* field) {
  uint8_t raw[2];
  if (package_get_property(stream, tag, raw, sizeof raw) >= 0) {
    *field = pkg::load_u16(raw, 0);
  }
}

}  // namespace

void package_load_record(const char* path, PackageRecord* record) {
  copy_text(record->path, path != nullptr ? path : "");
  std::memset(record->desc, 0, sizeof record->desc);
  std::memset(record->ver, 0, sizeof record->ver);
  std::memset(record->timestamp, 0, sizeof record->timestamp);
  std::memset(record->requires_ver, 0, sizeof record->requires_ver);
  std::memset(record->tag22_text, 0, sizeof record->tag22_text);
  std::fill(std::begin(record->dev_ids), std::end(record->dev_ids), uint16_t{0xFFFF});
  record->dev_id_count = 0;
  record->subsys_vendor = 0xFFFF;
  record->subsys_id = 0xFFFF;
  record->data = PackageBuffer{};
  record->data_size = 0;
  record->min_chip_rev = 0;
  record->max_chip_rev = 0xFF;
  record->tag21_byte = 0;

  PackageBuffer buf;
  if (path == nullptr || package_read(path, &buf) != TSYRETVAL_SUCCESS) return;

  const std::span<const uint8_t> view = buf.view();
  const int32_t stream_length = package_property_stream(view);
  const std::span<const uint8_t> stream =
      stream_length > 0 ? view.subspan(pkg::kPackageHeaderSize, static_cast<size_t>(stream_length))
                        : std::span<const uint8_t>{};

  get_text(stream, 9, record->ver);
  get_text(stream, 1, record->desc);
  get_text(stream, 6, record->timestamp);
  get_text(stream, 8, record->timestamp);

  uint8_t ids[2 * kPackageDevIdSlots];
  const int32_t ids_length = package_get_property(stream, 2, ids, sizeof ids);
  if (ids_length >= 0) {
    for (int i = 0; i < kPackageDevIdSlots; ++i) {
      record->dev_ids[i] = pkg::load_u16(ids, 2 * static_cast<uint64_t>(i));
    }
  }
  // Ids past the ten slots are not kept, so they are not counted either.
  if (ids_length > 0) record->dev_id_count = std::min(ids_length / 2, kPackageDevIdSlots);

  get_u16(stream, 10, &record->subsys_vendor);
  get_u16(stream, 11, &record->subsys_id);
  package_get_property(stream, 3, &record->min_chip_rev, 1);
  package_get_property(stream, 4, &record->max_chip_rev, 1);
  get_text(stream, 20, record->requires_ver);
  package_get_property(stream, 21, &record->tag21_byte, 1);
  get_text(stream, 22, record->tag22_text);

  record->data_size = static_cast<uint32_t>(view.size());
  record->data = std::move(buf);
}
