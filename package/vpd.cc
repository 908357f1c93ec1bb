// vpd.cc: the check of a PCI Vital Product Data area (NVM item type 5): its
// resources, the read-only checksum and the keyword lists.
//
// Every read stays inside the area. A resource whose data runs past the end
// of the area, or a keyword whose head or data runs past the end of its
// resource, means the walk ran out of data: END_TAG_NOT_FOUND.
#include <cstdint>
#include <span>

#include "package/package.h"
#include "package/pkg_internal.h"

namespace {

constexpr uint8_t kNameIdString = 2;
constexpr uint8_t kNameEnd = 15;
constexpr uint8_t kNameReadOnly = 16;
constexpr uint8_t kNameReadWrite = 17;
constexpr size_t kKeywordHead = 3;

struct Keyword {
  uint8_t name[2];
  uint8_t length;
  size_t data_at;  // offset of the keyword's data within the resource
};

bool name_is(const Keyword& k, const char* two) {
  return k.name[0] == static_cast<uint8_t>(two[0]) && k.name[1] == static_cast<uint8_t>(two[1]);
}

// Reads the keyword at pos of data. False when its head or its data does not
// fit in the resource.
bool read_keyword(std::span<const uint8_t> data, size_t pos, Keyword* k) {
  if (data.size() - pos < kKeywordHead) return false;
  k->name[0] = data[pos];
  k->name[1] = data[pos + 1];
  k->length = data[pos + 2];
  k->data_at = pos + kKeywordHead;
  return data.size() - k->data_at >= k->length;
}

// Letters, digits, white space and ASCII punctuation, as the C locale's
// classification has them; anything else (controls, DEL, 0x80 and above) is
// not text.
bool is_text_byte(uint8_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x20 && c <= 0x7E);
}

int32_t check_id_string(std::span<const uint8_t> data) {
  for (uint8_t c : data) {
    if (!is_text_byte(c)) return TSYRETVAL_INVALID_STRING;
  }
  return TSYRETVAL_SUCCESS;
}

// The keywords before the stop keyword (or padding, or the end) must each
// have data and a name no other of them has; the first one that fails decides.
int32_t keyword_check(std::span<const uint8_t> data, const char* stop) {
  // Names seen so far and the first failing keyword's verdict. A later
  // keyword can make an earlier one a duplicate, so the whole list is taken
  // first; counting names in a table keeps this linear.
  uint16_t seen[65536 / 8] = {};  // two bits per name: 0, 1 or "2 or more"
  auto count_of = [&](uint16_t n) { return (seen[n >> 3] >> ((n & 7) * 2)) & 3; };
  auto bump = [&](uint16_t n) {
    if (count_of(n) < 2) seen[n >> 3] = static_cast<uint16_t>(seen[n >> 3] + (1 << ((n & 7) * 2)));
  };
  size_t pos = 0;
  size_t taken_end = 0;
  while (pos < data.size()) {
    Keyword k{};
    if (data[pos] == 0) break;  // padding
    if (data.size() - pos >= 2 && data[pos] == static_cast<uint8_t>(stop[0]) &&
        data[pos + 1] == static_cast<uint8_t>(stop[1])) {
      break;
    }
    if (!read_keyword(data, pos, &k)) return TSYRETVAL_END_TAG_NOT_FOUND;
    bump(static_cast<uint16_t>(k.name[0] | (k.name[1] << 8)));
    pos = k.data_at + k.length;
    taken_end = pos;
  }
  for (pos = 0; pos < taken_end;) {
    Keyword k{};
    read_keyword(data, pos, &k);
    if (k.length == 0) return TSYRETVAL_ZERO_LENGTH_ITEM;
    if (count_of(static_cast<uint16_t>(k.name[0] | (k.name[1] << 8))) > 1) {
      return TSYRETVAL_DUPLICATE_ITEM;
    }
    pos = k.data_at + k.length;
  }
  return TSYRETVAL_SUCCESS;
}

// VPD-R: the RV keyword's checksum byte makes the area's bytes up to it sum
// to zero, its other bytes are zero, and the keywords before it are sound.
int32_t check_read_only(std::span<const uint8_t> area, size_t data_at, std::span<const uint8_t> data) {
  Keyword rv{};
  bool found = false;
  for (size_t pos = 0; pos < data.size();) {
    if (data.size() - pos < kKeywordHead) return TSYRETVAL_END_TAG_NOT_FOUND;
    Keyword k{};
    const bool fits = read_keyword(data, pos, &k);
    if (name_is(k, "RV")) {
      rv = k;
      found = true;
      break;
    }
    if (!fits) return TSYRETVAL_END_TAG_NOT_FOUND;
    pos = k.data_at + k.length;
  }
  if (!found) return TSYRETVAL_CHECKSUM_NOT_FOUND;
  if (rv.length == 0) return TSYRETVAL_INVALID_LENGTH;
  if (data.size() - rv.data_at < rv.length) return TSYRETVAL_END_TAG_NOT_FOUND;

  const size_t checksum_at = data_at + rv.data_at;  // within the area
  uint8_t sum = 0;
  for (size_t i = 0; i <= checksum_at; ++i) sum = static_cast<uint8_t>(sum + area[i]);
  if (sum != 0) return TSYRETVAL_INVALID_CHECKSUM;
  for (size_t i = 1; i < rv.length; ++i) {
    if (data[rv.data_at + i] != 0) return TSYRETVAL_UNEXPECTED_DATA;
  }
  return keyword_check(data, "RV");
}

}  // namespace

int32_t vpd_validate(std::span<const uint8_t> area) {
  if (area.empty()) return TSYRETVAL_END_TAG_NOT_FOUND;
  size_t pos = 0;
  while (pos < area.size()) {
    const uint8_t tag = area[pos];
    uint8_t name;
    size_t length;
    size_t data_at;
    if (tag & 0x80) {
      if (area.size() - pos < 3) return TSYRETVAL_END_TAG_NOT_FOUND;
      name = tag & 0x7F;
      length = pkg::load_u16(area, pos + 1);
      data_at = pos + 3;
    } else {
      name = (tag >> 3) & 0x0F;
      length = tag & 0x07;
      data_at = pos + 1;
    }
    const bool fits = area.size() - data_at >= length;
    if (name == kNameEnd) {
      return fits && data_at + length == area.size() ? TSYRETVAL_SUCCESS : TSYRETVAL_INVALID_END_TAG;
    }
    if (!fits) return TSYRETVAL_END_TAG_NOT_FOUND;
    const std::span<const uint8_t> data = area.subspan(data_at, length);
    int32_t rc = TSYRETVAL_SUCCESS;
    if (name == kNameIdString) {
      rc = check_id_string(data);
    } else if (name == kNameReadOnly) {
      rc = check_read_only(area, data_at, data);
    } else if (name == kNameReadWrite) {
      rc = keyword_check(data, "RW");
    }
    if (rc != TSYRETVAL_SUCCESS) return rc;
    pos = data_at + length;
  }
  return TSYRETVAL_END_TAG_NOT_FOUND;
}
