// install.cc: writing a package into the update item and having the
// firmware install it.
#include <cstring>
#include <ctime>
#include <span>

#include "driver_access/call.h"

using da::OnFailure;
using da::run_method;
using plat::WmiObject;

namespace {

constexpr uint16_t kUpdateItemType = 2;
constexpr uint32_t kAllocationUnit = 4096;

bool is_direct_pci_name(const char* adapter_name) {
  return adapter_name != nullptr && std::strstr(adapter_name, "vrex_pci_dev") != nullptr;
}

}  // namespace

int32_t vrexnvmWriteItem(const char* adapter_name, uint16_t dir_type, uint16_t dir_ordinal,
                         uint16_t dir_ext, uint16_t dir_attr, const uint8_t* data,
                         uint32_t length) {
  int32_t index = vrexnvmFindDirEntry(adapter_name, dir_type, dir_ordinal, dir_ext, nullptr);
  if (index < 0 && index != TSYRETVAL_ITEM_NOT_FOUND) return index;
  if (index == TSYRETVAL_ITEM_NOT_FOUND) {
    index = vrexnvmCreateItem(adapter_name, dir_type, dir_ordinal, dir_ext, dir_attr, length);
    if (index < 0) return index;
  }
  return vrexnvmModifyItem(adapter_name, static_cast<uint16_t>(index), 0, data, length);
}

int32_t vrexnvmInstallUpdate(const char* adapter_name, const uint8_t* data, uint32_t length,
                             int32_t* problem_item, uint8_t* reset_required,
                             uint32_t install_type) {
  const int32_t written = vrexnvmWriteItem(adapter_name, kUpdateItemType, 0, 0, 0, data, length);
  if (written != 0) return written;

  WmiHelper wmi(da::kRootWmi);
  if (!wmi.IsConnected()) return da::kInterfaceFailure;
  const plat::WString key = da::adapter_key(adapter_name);

  const std::time_t now = std::time(nullptr);
  const std::tm* utc = now == static_cast<std::time_t>(-1) ? nullptr : std::gmtime(&now);
  if (utc == nullptr) return TSYRETVAL_INVALID_PARAMETER_VALUE;
  const std::tm t = *utc;

  int32_t status = run_method(
      wmi, adapter_name, key, da::kFwTime, u"SetFwTime", OnFailure::kLastError,
      [&](WmiObject* in) {
        return wmi.PutUInt16(in, u"time_zone", 0) &&
               wmi.PutUInt16(in, u"year", static_cast<uint16_t>(t.tm_year + 1900)) &&
               wmi.PutUInt8(in, u"month", static_cast<uint8_t>(t.tm_mon + 1)) &&
               wmi.PutUInt8(in, u"day", static_cast<uint8_t>(t.tm_mday)) &&
               wmi.PutUInt8(in, u"hour", static_cast<uint8_t>(t.tm_hour)) &&
               wmi.PutUInt8(in, u"minute", static_cast<uint8_t>(t.tm_min)) &&
               wmi.PutUInt8(in, u"second", static_cast<uint8_t>(t.tm_sec)) &&
               wmi.PutUInt8(in, u"millisecond", 0);
      },
      nullptr);
  if (status != 0) return status;

  uint8_t result = 0;
  uint8_t problem = 0;
  uint8_t reset = 0;
  uint32_t installed_0 = 0;
  uint32_t installed_1 = 0;
  status = run_method(
      wmi, adapter_name, key, da::kNvramAccess, u"InstallUpdate", OnFailure::kLastError,
      [&](WmiObject* in) { return wmi.PutUInt32(in, u"install_type", install_type); },
      [&](const WmiObject* out) {
        return wmi.GetUInt8(out, u"result", &result) &&
               wmi.GetUInt8(out, u"problem_item", &problem) &&
               wmi.GetUInt8(out, u"reset_required", &reset) &&
               wmi.GetUInt32(out, u"installed_items_0", &installed_0) &&
               wmi.GetUInt32(out, u"installed_items_1", &installed_1);
      });
  if (status != 0) return status;
  if (problem_item != nullptr) *problem_item = static_cast<int8_t>(problem);
  if (reset != 0 && reset_required != nullptr) *reset_required = 1;
  return result;
}

int32_t vrexnvmInstallPackage(const char* adapter_name, const uint8_t* image, uint32_t length,
                              int32_t* problem_item, uint8_t* reset_required,
                              uint32_t install_type, uint16_t /*reserved*/) {
  if (problem_item != nullptr) *problem_item = -1;
  NvmDirEntry entry{};
  const int32_t found = vrexnvmFindDirEntry(adapter_name, kUpdateItemType, 0, 0, &entry);
  if (found == da::kInterfaceFailure) return found;
  if (found < 0 && found != TSYRETVAL_ITEM_NOT_FOUND) return found;
  if (found == TSYRETVAL_ITEM_NOT_FOUND || entry.dir_item_length < length) {
    PackageEntry manifest{};
    const std::span<const uint8_t> view(image, image != nullptr ? length : 0);
    const int32_t status = package_find_item(view, kUpdateItemType, 0, 0, &manifest);
    if (status != 0) return status;
    uint64_t allocation = (uint64_t{length} + kAllocationUnit - 1) / kAllocationUnit * kAllocationUnit;
    if (manifest.record.dir_item_length > allocation) allocation = manifest.record.dir_item_length;
    if (allocation > UINT32_MAX) return TSYRETVAL_INVALID_LENGTH;
    const int32_t created = vrexnvmCreateItem(adapter_name, kUpdateItemType, 0, 0, 1,
                                              static_cast<uint32_t>(allocation));
    if (created < 0) return created;
  }
  if (is_direct_pci_name(adapter_name)) return TSYRETVAL_UNSUPPORTED_PLATFORM;
  return vrexnvmInstallUpdate(adapter_name, image, length, problem_item, reset_required,
                              install_type);
}
