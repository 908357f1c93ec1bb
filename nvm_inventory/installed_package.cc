// installed_package.cc: the package log parse and the readout of one field
// of the installed package's identity.
#include <cstring>
#include <new>
#include <vector>

#include "driver_access/driver_access.h"
#include "nvm_inventory/nvm_inventory.h"
#include "package/package.h"

namespace {

constexpr uint16_t kPackageLogType = 1;
constexpr uint16_t kAttrTrailer = 0x10;
constexpr uint32_t kTrailerSpan = 288;   // the version lies in the item's last 288 bytes
constexpr uint32_t kMinimumLog = 8;
constexpr size_t kFieldCut = 255;
constexpr size_t kResultMax = 128;

bool is_other_record(std::string_view description) {
  return description.find("Patch") != std::string_view::npos ||
         description.find("DAZA Program") != std::string_view::npos;
}

}  // namespace

bool package_log_field(std::span<const uint8_t> log, unsigned field, std::string_view* out) {
  size_t end = log.size();
  while (end > 0 && (log[end - 1] == 0x00 || log[end - 1] == 0xFF)) --end;
  const std::string_view text(reinterpret_cast<const char*>(log.data()), end);
  bool found = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    const std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;

    std::string_view description;
    std::string_view wanted;
    bool has_description = false;
    bool has_wanted = false;
    size_t start = 0;
    for (unsigned index = 0;; ++index) {
      size_t tab = line.find('\t', start);
      const std::string_view f =
          line.substr(start, (tab == std::string_view::npos ? line.size() : tab) - start);
      if (index == 1) {
        description = f;
        has_description = true;
      }
      if (index == field) {
        wanted = f;
        has_wanted = true;
      }
      if (tab == std::string_view::npos || (has_wanted && index >= 1)) break;
      start = tab + 1;
    }
    if (has_description && is_other_record(description)) continue;
    if (has_wanted) {
      *out = wanted.substr(0, kFieldCut);
      found = true;
    }
  }
  return found;
}

int32_t installed_package_field(const char* device_name, InstalledPackageSelector selector,
                                char* dest, size_t dest_size) {
  if (dest != nullptr && dest_size != 0) std::memset(dest, 0, dest_size);

  NvmDirEntry entry{};
  const int32_t index = vrexnvmFindDirEntry(device_name, kPackageLogType, 0, 0, &entry);
  if (index < 0) return index;

  const uint32_t length = entry.data_length;
  uint32_t offset = 0;
  uint32_t count = length;
  if ((entry.dir_attr & kAttrTrailer) != 0) {
    if (length < kTrailerSpan) return TSYRETVAL_TRAILER_NOT_FOUND;
    if (selector == INSTALLED_PACKAGE_VERSION) {
      offset = length - kTrailerSpan;
      count = kTrailerSpan;
    }
  } else if (length < kMinimumLog) {
    return TSYRETVAL_INVALID_DATA_LENGTH;
  }

  std::vector<uint8_t> bytes;
  try {
    bytes.assign(count, 0);
  } catch (const std::bad_alloc&) {
    return TSYRETVAL_MALLOC_FAILURE;
  }

  if (device_name != nullptr && std::strstr(device_name, "vrex_pci_dev") != nullptr) {
    return TSYRETVAL_UNSUPPORTED_PLATFORM;
  }
  const int32_t status =
      vrexnvmReadItem(device_name, static_cast<uint32_t>(index), offset, bytes.data(), count);
  if (status != 0) return status;

  std::string_view field;
  if (!package_log_field(bytes, static_cast<unsigned>(selector), &field)) {
    return TSYRETVAL_VERSION_INFO_NOT_FOUND;
  }
  if (dest != nullptr && dest_size != 0) {
    size_t n = field.size() < kResultMax ? field.size() : kResultMax;
    if (n > dest_size - 1) n = dest_size - 1;
    std::memcpy(dest, field.data(), n);
  }
  return TSYRETVAL_SUCCESS;
}
