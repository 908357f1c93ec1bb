// selection.cc: the package list, adapter discovery, the supported-adapter
// filter, twins, the installed identity and the package matching.
#include "front_end/selection.h"

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "driver_access/driver_access.h"
#include "front_end/adapter_tables.h"
#include "front_end/nvm_options.h"
#include "front_end/package_list.h"
#include "front_end/run_settings.h"
#include "front_end/writers.h"
#include "nvm_inventory/nvm_inventory.h"

namespace {

// Copies text into a fixed field, zero-filled first and cut to fit.
void copy_text(char* dest, size_t size, const char* text) {
  std::memset(dest, 0, size);
  std::memcpy(dest, text, strnlen(text, size - 1));
}

// The first earlier record that belongs to the same adapter as the new one:
// another function at the same segment, bus and device, or, for a function 0
// at another device number on the same segment and bus, an adapter whose
// option 1 value (key) is the same. keys[k] is record k's key, empty when it
// has none; only function-0 adapters read one.
const SupportedAdapter* find_twin(const SupportedAdapter* records, size_t count,
                                  const std::vector<std::string>& keys, const PhyNic& nic,
                                  const std::string& key) {
  for (size_t k = 0; k < count; ++k) {
    const PhyNic& other = *records[k].nic;
    if (other.segment != nic.segment || other.bus != nic.bus) continue;
    if (other.device == nic.device) return &records[k];
    if (!key.empty() && keys[k] == key) return &records[k];
  }
  return nullptr;
}

// Reads what is installed on the adapter into the record.
void read_installed_identity(SupportedAdapter* record) {
  const PhyNic& nic = *record->nic;
  char* version = record->installed_version;
  if (vrexnvmGetPackageVersion(nic.name, version, kInstalledTextSize) != 0 || version[0] == '\0') {
    std::memset(version, 0, kInstalledTextSize);
    if (installed_package_field(nic.name, INSTALLED_PACKAGE_VERSION, version,
                                kInstalledTextSize) != 0) {
      std::memset(version, 0, kInstalledTextSize);
      debug_printf("WARNING: %s: no installed-package version\n", nic.name);
    }
  }
  version[kInstalledTextSize - 1] = '\0';
  if (std::strncmp(version, "Error:", 6) == 0) {
    debug_printf("WARNING: %s: erasing erroneous package version string: %s\n", nic.name,
                 version);
    std::memset(version, 0, kInstalledTextSize);
  }

  char* timestamp = record->installed_timestamp;
  if (installed_package_field(nic.name, INSTALLED_PACKAGE_TIMESTAMP, timestamp,
                              kInstalledTextSize) != 0) {
    std::memset(timestamp, 0, kInstalledTextSize);
    debug_printf("WARNING: %s: no installed-package timestamp\n", nic.name);
  }
  timestamp[kInstalledTextSize - 1] = '\0';

  char* description = record->installed_description;
  if (installed_package_field(nic.name, INSTALLED_PACKAGE_DESCRIPTION, description,
                              kInstalledTextSize) != 0) {
    debug_printf("WARNING: %s: no installed-package description\n", nic.name);
    copy_text(description, kInstalledTextSize, nic.description);
  }
  description[kInstalledTextSize - 1] = '\0';
}

}  // namespace

int load_packages(const char* spec, Selection* out) {
  FileList files;
  if (find_files(spec, &files) != FIND_FILES_OK || files.count == 0) {
    free_file_list(&files);
    return report_failure(40, "No package files found: '%s'", spec);
  }

  // One record per file found; the supported ones are kept in list order.
  auto* packages = new (std::nothrow) PackageRecord[files.count]();
  if (packages == nullptr)
    return report_failure(50, "Memory allocation failure for %llu packages",
                          static_cast<unsigned long long>(files.count));
  out->packages.reset(packages);
  out->package_count = 0;

  for (uint64_t k = 0; k < files.count; ++k) {
    if (k > 0) debug_printf("---\n");
    PackageRecord record{};
    package_load_record(files.paths[k], &record);
    if (list_package(&record, debug_printf)) packages[out->package_count++] = std::move(record);
  }
  free_file_list(&files);
  return 0;
}

const PackageRecord* match_package(const SupportedAdapter& adapter, const PackageRecord* packages,
                                   size_t package_count) {
  const PhyNic& nic = *adapter.nic;
  const PackageRecord* matched = nullptr;
  for (size_t k = 0; k < package_count; ++k) {
    const PackageRecord& p = packages[k];
    bool listed = false;
    for (int32_t i = 0; i < p.dev_id_count && i < static_cast<int32_t>(kPackageDevIdSlots); ++i)
      if (p.dev_ids[i] == nic.device_id) listed = true;
    if (!listed) {
      debug_printf("%s SKIPPED: This Package doesn't cater to device ID %04x\n", p.path,
                   nic.device_id);
    } else if (p.subsys_vendor != 0xFFFF && p.subsys_vendor != nic.subsys_vendor_id) {
      debug_printf("%s SKIPPED: dev-id(%04x) != %04x\n", p.path, p.subsys_vendor,
                   nic.subsys_vendor_id);
    } else if (p.subsys_id != 0xFFFF && p.subsys_id != nic.subsys_id) {
      debug_printf("%s SKIPPED: dev-id(%04x) != %04x\n", p.path, p.subsys_id, nic.subsys_id);
    } else if (nic.revision < p.min_chip_rev) {
      debug_printf("%s SKIPPED: min-chip-rev(%02X) > %02X\n", p.path, p.min_chip_rev,
                   nic.revision);
    } else if (nic.revision > p.max_chip_rev) {
      debug_printf("%s SKIPPED: max-chip-rev(%02X) < %02X\n", p.path, p.max_chip_rev,
                   nic.revision);
    } else if (p.requires_ver[0] != '\0' &&
               std::strcmp(p.requires_ver, adapter.installed_version) > 0) {
      // Plain text order, byte by byte: "3.0.0.0" sorts after "22.1.0.0".
      debug_printf("%s SKIPPED: required-pkgver(%s) > '%s'\n", p.path, p.requires_ver,
                   adapter.installed_version);
    } else {
      debug_printf("%s matches device: %04x:%04x:%04x\n", p.path, nic.device_id,
                   nic.subsys_vendor_id, nic.subsys_id);
      matched = &p;
    }
  }
  return matched;
}

int discover_adapters(Selection* out) {
  const uint32_t init = ngNdamInitialize(ngNDAM_VERSION_MAJOR, ngNDAM_VERSION_MINOR,
                                         ngNDAM_VERSION_BUILD);
  if (init == ngNDAM_NO_ADAPTER) return 0;
  if (init != ngNDAM_OK)
    return report_failure(60, "ngNdamInitialize error: %d", static_cast<int>(init));

  uint32_t count = 0;
  if (uint32_t status = ngNdamGetNumPhyNic(&count); status != ngNDAM_OK)
    return report_failure(70, "ngNdamGetNumPhyNic error: %d", static_cast<int>(status));
  if (count == 0) return 0;

  auto* nics = new (std::nothrow) PhyNic[count]();
  if (nics == nullptr) return report_failure(80, "Memory allocation error for %u adapters", count);
  out->nics.reset(nics);
  auto* records = new (std::nothrow) SupportedAdapter[count]();
  if (records == nullptr)
    return report_failure(90, "Memory allocation error for %u supported adapters", count);
  out->adapters.reset(records);

  if (uint32_t status = ngNdamGetAllPhyNic(nics, count); status != ngNDAM_OK)
    return report_failure(100, "ngNdamGetAllPhyNic error: %d (count=%u)",
                          static_cast<int>(status), count);
  out->nic_count = count;

  // The twin keys of the records made so far, one per record.
  std::vector<std::string> keys;
  for (uint32_t k = 0; k < count; ++k) {
    const PhyNic& nic = nics[k];
    debug_printf("adapter: %s, %s, %s\n", nic.name, nic.net_cfg_instance_id, nic.permanent_mac);
    debug_printf("   desc: %s\n", nic.description);
    debug_printf(" dev-id: %04hX:%04hX:%04hX\n", nic.device_id, nic.subsys_vendor_id,
                 nic.subsys_id);
    if (nic.nic_type != ngNDAM_NIC_TYPE_VREX) {
      debug_printf("Unsupported nic_type: %u\n", nic.nic_type);
      continue;
    }
    if (nic.driver_loaded == 0) {
      debug_printf("Driver not loaded\n");
      continue;
    }
    if (!is_supported_adapter(nic)) continue;

    std::string key;
    if (nic.function == 0) {
      char text[kInstalledTextSize] = {};
      if (read_twin_key(nic, text, sizeof text) == 0) key = text;
    }
    SupportedAdapter* record = &records[out->supported_count];
    record->nic = &nic;
    record->result.item = -1;
    record->twin_of = find_twin(records, out->supported_count, keys, nic, key);
    if (const SupportedAdapter* twin = record->twin_of) {
      debug_printf("Adapter already discovered (%x:%x:%x:%x): %s\n", twin->nic->segment,
                   static_cast<unsigned>(twin->nic->bus), static_cast<unsigned>(twin->nic->device),
                   static_cast<unsigned>(twin->nic->function), twin->nic->name);
    }
    debug_printf("Supported adapter: %s\n", nic.name);
    read_installed_identity(record);
    record->package = match_package(*record, out->packages.get(), out->package_count);
    keys.push_back(std::move(key));
    ++out->supported_count;
  }
  return 0;
}

int selection(unsigned command, Selection* out) {
  if (command == COMMAND_UPGRADE || command == COMMAND_INSTALL) {
    if (int status = load_packages(run_settings.package_spec.c_str(), out)) return status;
  }
  return discover_adapters(out);
}
