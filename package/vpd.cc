// vpd.cc: the check of a PCI Vital Product Data area (NVM item type 5): its
// resources, the read-only checksum and the keyword lists.
//
// Every read stays inside the area. A resource whose data runs past the end
// of the area, or a keyword whose head or data runs past the end of its
// resource, means the walk ran out of data: END_TAG_NOT_FOUND.
#include <algorithm>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

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

uint16_t name_of(const Keyword& k) { return static_cast<uint16_t>(k.name[0] << 8 | k.name[1]); }

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
  // A later keyword can make an earlier one a duplicate, so the whole list is
  // taken first; the names are then looked up in a sorted copy.
  std::vector<Keyword> taken;
  std::vector<uint16_t> names;
  try {
    size_t pos = 0;
    while (pos < data.size()) {
      Keyword k{};
      if (data[pos] == 0) break;  // padding
      if (data.size() - pos >= 2 && data[pos] == static_cast<uint8_t>(stop[0]) &&
          data[pos + 1] == static_cast<uint8_t>(stop[1])) {
        break;
      }
      if (!read_keyword(data, pos, &k)) return TSYRETVAL_END_TAG_NOT_FOUND;
      taken.push_back(k);
      names.push_back(name_of(k));
      pos = k.data_at + k.length;
    }
  } catch (const std::bad_alloc&) {
    return TSYRETVAL_MALLOC_FAILURE;
  }
  std::sort(names.begin(), names.end());
  for (const Keyword& k : taken) {
    if (k.length == 0) return TSYRETVAL_ZERO_LENGTH_ITEM;
    const auto [first, last] = std::equal_range(names.begin(), names.end(), name_of(k));
    if (last - first > 1) return TSYRETVAL_DUPLICATE_ITEM;
  }
  return TSYRETVAL_SUCCESS;
}

// The 8-bit sum of an area's bytes from its start, extended as the walk goes:
// each VPD-R checksum lies further into the area than the one before.
struct RunningSum {
  size_t next = 0;  // bytes [0, next) are in sum
  uint8_t sum = 0;
  uint8_t through(std::span<const uint8_t> area, size_t last) {
    for (; next <= last; ++next) sum = static_cast<uint8_t>(sum + area[next]);
    return sum;
  }
};

// VPD-R: the RV keyword's checksum byte makes the area's bytes up to it sum
// to zero, its other bytes are zero, and the keywords before it are sound.
int32_t check_read_only(std::span<const uint8_t> area, size_t data_at, std::span<const uint8_t> data,
                        RunningSum* running) {
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
  if (running->through(area, checksum_at) != 0) return TSYRETVAL_INVALID_CHECKSUM;
  for (size_t i = 1; i < rv.length; ++i) {
    if (data[rv.data_at + i] != 0) return TSYRETVAL_UNEXPECTED_DATA;
  }
  return keyword_check(data, "RV");
}

}  // namespace

int32_t vpd_validate(std::span<const uint8_t> area) {
  if (area.empty()) return TSYRETVAL_END_TAG_NOT_FOUND;
  RunningSum running;
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
      rc = check_read_only(area, data_at, data, &running);
    } else if (name == kNameReadWrite) {
      rc = keyword_check(data, "RW");
    }
    if (rc != TSYRETVAL_SUCCESS) return rc;
    pos = data_at + length;
  }
  return TSYRETVAL_END_TAG_NOT_FOUND;
}
