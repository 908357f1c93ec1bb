// pci_device.cc: PCI device lookup and driver unbind and rebind.
#include "front_end/pci_device.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "front_end/writers.h"
#include "platform/platform.h"

namespace {

// Matches text against a pattern word by word: a blank in the pattern takes
// any run of white space (none included), "%d" a signed decimal (stored in
// order into values unless the pattern says "%*d"), other characters
// themselves. Returns the number of values stored before the first mismatch.
int scan_pattern(const char* text, const char* pattern, long* values) {
  int stored = 0;
  const char* t = text;
  for (const char* p = pattern; *p != '\0';) {
    if (*p == ' ') {
      while (std::isspace(static_cast<unsigned char>(*t))) ++t;
      ++p;
    } else if (p[0] == '%') {
      const bool keep = p[1] != '*';
      p += keep ? 2 : 3;
      while (std::isspace(static_cast<unsigned char>(*t))) ++t;
      char* end = nullptr;
      const long value = std::strtol(t, &end, 10);
      if (end == t) return stored;
      t = end;
      if (keep) values[stored++] = value;
    } else {
      if (*t != *p) return stored;
      ++t;
      ++p;
    }
  }
  return stored;
}

plat::DeviceInstaller& devices() { return *plat::platform_services().devices; }
void wait_ms(uint32_t ms) { plat::platform_services().kernel->sleep(ms); }

// Fresh adapter records from the library; false when it fails or has none.
bool fresh_adapters(std::vector<PhyNic>* nics) {
  uint32_t count = 0;
  if (ngNdamGetNumPhyNic(&count) != ngNDAM_OK || count == 0) return false;
  try {
    nics->assign(count, PhyNic{});
  } catch (const std::bad_alloc&) {
    return false;
  }
  return ngNdamGetAllPhyNic(nics->data(), count) == ngNDAM_OK;
}

const char* const kDisableDone = "Disabled device %04x:%02x:%02x.%d successfully\n";
const char* const kDisableWarn = "Warning: Failed to disable device %04x:%02x:%02x.%d\n";
const char* const kEnableDone = "Enabled device %04x:%02x:%02x.%d successfully\n";
const char* const kEnableWarn = "Warning: Failed to enable device %04x:%02x:%02x.%d\n";

// Changes the state of one function; true on success. Prints its line.
bool change_function(const PhyNic& f, uint32_t state) {
  PciDeviceHandle handle;
  if (!find_pci_device(f.segment, static_cast<uint32_t>(f.bus), static_cast<uint32_t>(f.device),
                       static_cast<uint32_t>(f.function), &handle))
    return false;
  const bool done = change_device_state(handle, state) == 1;
  const bool enable = state == plat::kDicsEnable;
  debug_printf(done ? (enable ? kEnableDone : kDisableDone) : (enable ? kEnableWarn : kDisableWarn),
               f.segment, static_cast<unsigned>(f.bus), static_cast<unsigned>(f.device), f.function);
  close_pci_device(handle);
  return done;
}

}  // namespace

int parse_pci_location(const char* text, uint32_t* bus, uint32_t* device, uint32_t* function) {
  static const char* const kPatterns[] = {
      "PCI bus %d, device %d, function %d",
      "PCI Express Bus %d, Device %d, Function %d",
      "PCI Express Root Port %*d, Bus %d, Device %d, Function %d",
  };
  for (const char* pattern : kPatterns) {
    long values[3] = {};
    if (scan_pattern(text, pattern, values) == 3) {
      *bus = static_cast<uint32_t>(values[0]);
      *device = static_cast<uint32_t>(values[1]);
      *function = static_cast<uint32_t>(values[2]);
      return 1;
    }
  }
  return 0;
}

void close_pci_device(const PciDeviceHandle& handle) {
  if (handle.set != plat::kNoHandle) devices().destroy_device_info_list(handle.set);
}

int find_pci_device(uint32_t segment, uint32_t bus, uint32_t device, uint32_t function,
                    PciDeviceHandle* handle) {
  plat::DeviceInstaller& di = devices();
  plat::Handle set = plat::kNoHandle;
  if (di.get_class_devs(nullptr, plat::kDigcfAllClasses | plat::kDigcfPresent, &set) != 0 ||
      set == plat::kNoHandle)
    return 0;

  plat::DevInfoData data;
  for (uint32_t index = 0; di.enum_device_info(set, index, &data) == 0; ++index) {
    char instance_id[257] = {};
    if (di.get_device_instance_id(set, data, instance_id, 256, nullptr) != 0) continue;
    if (strncasecmp(instance_id, "PCI\\", 4) != 0) continue;

    // The location text, in a buffer that grows while the call says it is
    // too small.
    bool matched = false;
    uint32_t required = 0;
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t status = di.get_device_registry_property(set, data, plat::kSpdrpLocationInformation,
                                                      nullptr, nullptr, 0, &required);
    while (status == plat::kErrorInsufficientBuffer && required > 0) {
      buffer.reset(new (std::nothrow) uint8_t[size_t{required} * 2 + 1]());
      if (!buffer) break;
      const uint32_t asked = required;
      status = di.get_device_registry_property(set, data, plat::kSpdrpLocationInformation,
                                               nullptr, buffer.get(), asked, &required);
      if (status == plat::kErrorInsufficientBuffer && required <= asked) break;
    }
    if (status == 0 && buffer && buffer[0] != 0) {
      uint32_t b = 0, d = 0, f = 0;
      const char* text = reinterpret_cast<const char*>(buffer.get());
      if (parse_pci_location(text, &b, &d, &f) && b == bus && d == device && f == function)
        matched = true;
    }
    buffer.reset();

    if (!matched) {
      uint8_t bus_number[4] = {}, address[4] = {};
      if (di.get_device_registry_property(set, data, plat::kSpdrpBusNumber, nullptr, bus_number,
                                          4, nullptr) == 0 &&
          di.get_device_registry_property(set, data, plat::kSpdrpAddress, nullptr, address, 4,
                                          nullptr) == 0) {
        uint32_t bn = 0, ad = 0;
        std::memcpy(&bn, bus_number, 4);
        std::memcpy(&ad, address, 4);
        matched = bn == bus && (ad >> 16) == device && (ad & 0xFFFFu) == function;
      }
    }
    if (matched) {
      handle->set = set;
      handle->data = data;
      return 1;
    }
  }
  debug_printf("Error: PCI device at location %04X:%02X:%02X.%X not found.\n", segment, bus,
               device, function);
  debug_printf("Searched through all PCI devices. Make sure the device exists and is present.\n");
  di.destroy_device_info_list(set);
  return 0;
}

int change_device_state(const PciDeviceHandle& handle, uint32_t state_change) {
  plat::DeviceInstaller& di = devices();
  plat::PropChangeParams params;
  params.state_change = state_change;
  params.hw_profile = 0;
  if (state_change == plat::kDicsEnable) {
    params.scope = plat::kDicsFlagGlobal;
    if (di.set_class_install_params(handle.set, handle.data, params,
                                    plat::kPropChangeParamsSize) == 0)
      di.call_class_installer(plat::kDifPropertyChange, handle.set, handle.data);
  }
  params.scope = plat::kDicsFlagConfigSpecific;
  if (uint32_t error = di.set_class_install_params(handle.set, handle.data, params,
                                                   plat::kPropChangeParamsSize)) {
    debug_printf("Error: Failed to set class install params. Error: %lu\n",
                 static_cast<unsigned long>(error));
    return 0;
  }
  if (uint32_t error = di.change_state(handle.set, handle.data)) {
    debug_printf("Error: Failed to change device state. Error: %lu\n",
                 static_cast<unsigned long>(error));
    return 0;
  }
  plat::DevInstallParams install;
  if (di.get_device_install_params(handle.set, handle.data, &install) == 0 &&
      (install.flags & (plat::kDiNeedReboot | plat::kDiNeedRestart)) != 0)
    debug_printf("Warning: Device state changed but reboot may be required.\n");
  wait_ms(2000);
  return 1;
}

int disable_adapter_functions(const PhyNic& nic, uint32_t expected) {
  std::vector<PhyNic> nics;
  if (!fresh_adapters(&nics)) return -1;
  std::vector<const PhyNic*> disabled;
  for (const PhyNic& f : nics) {
    if (f.segment != nic.segment || f.bus != nic.bus) continue;
    if (change_function(f, plat::kDicsDisable)) disabled.push_back(&f);
  }
  const auto count = static_cast<uint32_t>(disabled.size());
  if (count == 0) {
    debug_printf("No matching devices found to disable\n");
    return -1;
  }
  if (count != expected) {
    debug_printf("Unbinding failed: Expected %u devices, but only %u were disabled\n", expected,
                 count);
    // Bring back what this run took down, so that a failed unbind does not
    // leave functions without their driver until the next restart.
    for (const PhyNic* f : disabled) change_function(*f, plat::kDicsEnable);
    return -1;
  }
  debug_printf("Disabled %u PCI device(s) successfully\n", count);
  wait_ms(5000);
  return 0;
}

int enable_adapter_functions(const PhyNic& nic, uint32_t expected) {
  std::vector<PhyNic> nics;
  if (!fresh_adapters(&nics)) return -1;
  uint32_t count = 0;
  for (const PhyNic& f : nics) {
    if (f.segment != nic.segment || f.bus != nic.bus) continue;
    if (change_function(f, plat::kDicsEnable)) ++count;
  }
  if (count == 0) {
    debug_printf("No matching devices found to enable\n");
    return -1;
  }
  if (count != expected) {
    debug_printf("Binding failed: Expected %u devices, but only %u were enabled\n", expected,
                 count);
    return -1;
  }
  debug_printf("Enabled %u PCI device(s) successfully\n", count);
  return 0;
}
