// enumeration.cc: building the adapter list from the machine's network-class
// devices, and the three read operations on it (count, all records, one
// record with its refresh and lock probe).
#include <cstring>
#include <new>
#include <string>

#include "ndam/ndam_internal.h"

namespace ndam {

namespace {

constexpr const char* kClassKey = "SYSTEM\\CurrentControlSet\\Control\\Class";
constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services";
constexpr const char* kVrexDriverFile = "vrexnd.sys";
constexpr const char* kLegacyDriverFile = "vlgnd60a.sys";

// A device registry property into buffer (size bytes, cleared first); a
// text is always terminated inside the buffer. 0 or the system error code.
std::uint32_t DeviceProperty(plat::Handle set, const plat::DevInfoData& data,
                             std::uint32_t property, void* buffer, std::uint32_t size) {
  std::memset(buffer, 0, size);
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  std::uint32_t err = os().devices->get_device_registry_property(
      set, data, property, &type, static_cast<std::uint8_t*>(buffer), size, &required);
  return err;
}

std::uint32_t DeviceText(plat::Handle set, const plat::DevInfoData& data,
                         std::uint32_t property, char* buffer, std::uint32_t size) {
  std::uint32_t err = DeviceProperty(set, data, property, buffer, size);
  buffer[size - 1] = '\0';
  return err;
}

std::uint32_t DeviceDword(plat::Handle set, const plat::DevInfoData& data,
                          std::uint32_t property, std::uint32_t* value) {
  std::uint8_t bytes[4];
  std::uint32_t err = DeviceProperty(set, data, property, bytes, sizeof bytes);
  if (err == 0) {
    *value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
             static_cast<std::uint32_t>(bytes[2]) << 16 |
             static_cast<std::uint32_t>(bytes[3]) << 24;
  }
  return err;
}

// A registry text value of key into buffer (size bytes, cleared first),
// always terminated inside the buffer.
std::uint32_t RegistryText(plat::Handle key, const char* name, char* buffer, std::uint32_t size) {
  std::memset(buffer, 0, size);
  std::uint32_t type = 0;
  std::uint32_t got = size;
  std::uint32_t err = os().registry->query_value(
      key, name, &type, reinterpret_cast<std::uint8_t*>(buffer), &got);
  buffer[size - 1] = '\0';
  return err;
}

unsigned HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return 0;
}

// count hexadecimal digits of text from position first; positions past the
// end of the text read as 0.
unsigned HexAt(std::string_view text, std::size_t first, std::size_t count) {
  unsigned value = 0;
  for (std::size_t i = first; i < first + count; ++i) {
    value = value << 4 | (i < text.size() ? HexDigit(text[i]) : 0u);
  }
  return value;
}

plat::Guid GuidFromBytes(const std::uint8_t* b) {
  plat::Guid g;
  g.data1 = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
            static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  g.data2 = static_cast<std::uint16_t>(b[4] | b[5] << 8);
  g.data3 = static_cast<std::uint16_t>(b[6] | b[7] << 8);
  for (std::size_t i = 0; i < 8; ++i) g.data4[i] = b[8 + i];
  return g;
}

// Enters the library lock of an interface operation. Returns false (with
// the lock released and not_initialized_text logged) when the library is
// not initialised; a library that never was has no lock to take.
bool EnterInitialised(const char* not_initialized_text) {
  Library& lib = library();
  if (!lib.lock) {
    LogPrint(kLogInformation, "%s", not_initialized_text);
    return false;
  }
  LockTake();
  if (lib.refcount == 0) {
    LockRelease();
    LogPrint(kLogInformation, "%s", not_initialized_text);
    return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// The adapter list.

NicNode* AllocNic() {
  NicNode* node = new (std::nothrow) NicNode();
  if (node != nullptr) node->record.nic_type = ngNDAM_NIC_TYPE_OTHER;
  return node;
}

void AppendNic(NicNode* node) {
  Library& lib = library();
  node->next = nullptr;
  node->prev = lib.tail;
  if (lib.tail != nullptr) {
    lib.tail->next = node;
  } else {
    lib.head = node;
  }
  lib.tail = node;
}

NicNode* FindNic(std::uint32_t handle) {
  for (NicNode* node = library().head; node != nullptr; node = node->next) {
    if (node->lookup_id == handle) return node;
  }
  return nullptr;
}

void FreeNic(NicNode* node) {
  if (node == nullptr) return;
  plat::Kernel& k = *os().kernel;
  if (node->device_handle != plat::kNoHandle) k.close_handle(node->device_handle);
  // An adapter lock still held by a caller is given back with the node, so
  // that the name is free again once the list is gone.
  if (node->lock_handle != plat::kNoHandle) k.close_handle(node->lock_handle);
  delete node;
}

void FreeNicList() {
  Library& lib = library();
  NicNode* node = lib.head;
  while (node != nullptr) {
    NicNode* next = node->next;
    FreeNic(node);
    node = next;
  }
  lib.head = lib.tail = nullptr;
}

// ---------------------------------------------------------------------------
// Enumeration.

void ParsePciInstanceId(std::string_view rest, PhyNic* record) {
  // rest: "\VEN_vvvv&DEV_dddd&SUBSYS_ssssnnnn&REV_rr\..."; the backslash is
  // position 0.
  record->vendor_id = static_cast<std::uint16_t>(HexAt(rest, 5, 4));
  record->device_id = static_cast<std::uint16_t>(HexAt(rest, 14, 4));
  record->subsys_id = static_cast<std::uint16_t>(HexAt(rest, 26, 4));
  record->subsys_vendor_id = static_cast<std::uint16_t>(HexAt(rest, 30, 4));
  record->revision = static_cast<std::uint8_t>(HexAt(rest, 39, 2));
}

void ReadDriverFileName(NicNode* node) {
  plat::Registry& reg = *os().registry;
  node->record.driver_file_name[0] = '\0';
  std::string path = std::string(kServicesKey) + "\\" +
                     std::string(FieldText(node->record.service_name));
  plat::Handle key = plat::kNoHandle;
  if (reg.open_key(plat::kHkeyLocalMachine, path, plat::kKeyRead, &key) != 0) return;
  char image[260];
  std::uint32_t err = RegistryText(key, "ImagePath", image, sizeof image);
  reg.close_key(key);
  if (err != 0) return;
  const char* slash = std::strrchr(image, '\\');
  if (slash == nullptr) return;
  CopyText(node->record.driver_file_name, slash + 1);
}

void SetNicType(NicNode* node) {
  std::string_view file = FieldText(node->record.driver_file_name);
  if (file == kLegacyDriverFile) {
    node->record.nic_type = ngNDAM_NIC_TYPE_LEGACY;
  } else if (file == kVrexDriverFile) {
    node->record.nic_type = ngNDAM_NIC_TYPE_VREX;
  } else {
    node->record.nic_type = ngNDAM_NIC_TYPE_OTHER;
  }
}

void GetLocationInfoW2k(NicNode* node, plat::Handle set, const plat::DevInfoData& data) {
  PhyNic& r = node->record;
  r.bus = r.device = r.function = -1;
  std::uint32_t legacy = 0;
  bool pci = false;
  bool pcmcia = false;
  if (DeviceDword(set, data, plat::kSpdrpLegacyBusType, &legacy) == 0) {
    pci = legacy == plat::kLegacyBusPci;
    pcmcia = legacy == plat::kLegacyBusPcmcia;
  }
  if (pci) {
    r.bus_type = ngNDAM_BUS_PCI;
  } else if (pcmcia) {
    r.bus_type = ngNDAM_BUS_PCMCIA;
  } else {
    r.bus_type = ngNDAM_BUS_UNKNOWN;
    std::uint8_t bytes[16];
    if (DeviceProperty(set, data, plat::kSpdrpBusTypeGuid, bytes, sizeof bytes) == 0) {
      plat::Guid g = GuidFromBytes(bytes);
      if (g == plat::kGuidBusTypePci) {
        r.bus_type = ngNDAM_BUS_PCI;
      } else if (g == plat::kGuidBusTypePcmcia) {
        r.bus_type = ngNDAM_BUS_PCMCIA;
      } else if (g == plat::kGuidBusType1394) {
        r.bus_type = ngNDAM_BUS_1394;
      } else if (g == plat::kGuidBusTypeUsb) {
        r.bus_type = ngNDAM_BUS_USB;
      } else {
        r.bus_type = ngNDAM_BUS_OTHER;
      }
    }
  }
  if (!pcmcia && r.bus_type == ngNDAM_BUS_PCI) {
    std::uint32_t address = 0;
    if (std::uint32_t err = DeviceDword(set, data, plat::kSpdrpAddress, &address); err == 0) {
      r.device = static_cast<std::int32_t>(address >> 16);
      r.function = static_cast<std::int32_t>(address & 0xFFFF);
    } else {
      LogPrint(kLogError, "GetLocationInfoW2k() SPDRP_ADDRESS failed 0x%08lX\r\n",
               static_cast<unsigned long>(err));
    }
    std::uint32_t bus = 0;
    if (std::uint32_t err = DeviceDword(set, data, plat::kSpdrpBusNumber, &bus); err == 0) {
      r.bus = static_cast<std::int32_t>(bus);
    } else {
      LogPrint(kLogError, "GetLocationInfoW2k() SPDRP_BUSNUMBER failed 0x%08lX\r\n",
               static_cast<unsigned long>(err));
    }
  }
  LogPrint(kLogInformation, "bus %i, device %i, function %i\r\n", r.bus, r.device, r.function);
}

NicNode* GetNicInfoW2k(plat::Handle set, const plat::DevInfoData& data) {
  plat::Registry& reg = *os().registry;
  char desc[256];
  if (std::uint32_t err = DeviceText(set, data, plat::kSpdrpDeviceDesc, desc, sizeof desc);
      err != 0) {
    LogPrint(kLogError,
             "GetNicInfoW2k() SetupDiGetDeviceRegistryProperty() SPDRP_DEVICEDESC "
             "failed(0x%08lX)\r\n",
             static_cast<unsigned long>(err));
    return nullptr;
  }
  char friendly[256];
  if (DeviceText(set, data, plat::kSpdrpFriendlyName, friendly, sizeof friendly) != 0) {
    friendly[0] = '\0';
  }
  char driver_key[260];
  if (std::uint32_t err = DeviceText(set, data, plat::kSpdrpDriver, driver_key, sizeof driver_key);
      err != 0) {
    LogPrint(kLogError,
             "GetNicInfoW2k() SetupDiGetDeviceRegistryProperty() SPDRP_DRIVER "
             "failed(0x%08lX),%s\r\n",
             static_cast<unsigned long>(err), desc);
    return nullptr;
  }
  plat::Handle key = plat::kNoHandle;
  std::string key_path = std::string(kClassKey) + "\\" + driver_key;
  if (std::uint32_t err = reg.open_key(plat::kHkeyLocalMachine, key_path, plat::kKeyRead, &key);
      err != 0) {
    LogPrint(kLogError, "GetNicInfoW2k() RegOpenKeyEx() failed(%lu),%s\r\n",
             static_cast<unsigned long>(err), desc);
    return nullptr;
  }
  NicNode* node = nullptr;
  // Every way out from here on closes the class key and frees the node.
  auto skip = [&]() -> NicNode* {
    reg.close_key(key);
    FreeNic(node);
    return nullptr;
  };

  std::uint8_t ch_bytes[4] = {};
  std::uint32_t ch_size = sizeof ch_bytes;
  std::uint32_t ch_type = 0;
  if (std::uint32_t err = reg.query_value(key, "Characteristics", &ch_type, ch_bytes, &ch_size);
      err != 0) {
    LogPrint(kLogError, "GetNicInfoW2k() RegQueryValueEx() 'Characteristics' failed(%lu),%s\r\n",
             static_cast<unsigned long>(err), desc);
    return skip();
  }
  std::uint32_t characteristics =
      static_cast<std::uint32_t>(ch_bytes[0]) | static_cast<std::uint32_t>(ch_bytes[1]) << 8 |
      static_cast<std::uint32_t>(ch_bytes[2]) << 16 | static_cast<std::uint32_t>(ch_bytes[3]) << 24;
  if ((characteristics & 0x1) == 0 && (characteristics & 0x4) == 0) {
    LogPrint(kLogInformation, "adapter characteristics(0x%08lX),%s\r\n",
             static_cast<unsigned long>(characteristics), desc);
    return skip();
  }
  char component[260];
  if (std::uint32_t err = RegistryText(key, "ComponentId", component, sizeof component);
      err != 0) {
    LogPrint(kLogError, "GetNicInfoW2k() RegQueryValueEx() 'ComponentId' failed(%lu),%s\r\n",
             static_cast<unsigned long>(err), desc);
    return skip();
  }
  if (characteristics & 0x1) {
    LogPrint(kLogInformation, "GetNicInfoW2k() virtual ComponentId (%s),%s\r\n", component, desc);
    return skip();
  }
  if (characteristics & 0x8) {
    LogPrint(kLogInformation, "GetNicInfoW2k() hidden ComponentId (%s),%s\r\n", component, desc);
    return skip();
  }
  char instance_id[200] = {};
  std::uint32_t required = 0;
  if (std::uint32_t err = os().devices->get_device_instance_id(set, data, instance_id,
                                                               sizeof instance_id, &required);
      err != 0) {
    LogPrint(kLogError, "GetNicInfoW2k() SetupDiGetDeviceInstanceId() failed(0x%08lX),%s\r\n",
             static_cast<unsigned long>(err), desc);
    return skip();
  }
  instance_id[sizeof instance_id - 1] = '\0';

  node = AllocNic();
  if (node == nullptr) {
    LogPrint(kLogError, "memory allocation failed (%s)\r\n", desc);
    return skip();
  }
  PhyNic& r = node->record;
  CopyText(node->instance_id, instance_id);
  CopyText(r.description, desc);

  char service[256];
  if (std::uint32_t err = DeviceText(set, data, plat::kSpdrpService, service, sizeof service);
      err != 0) {
    LogPrint(kLogError,
             "GetNicInfoW2k() SetupDiGetDeviceRegistryProperty() SPDRP_SERVICE "
             "failed(0x%08lX),%s\r\n",
             static_cast<unsigned long>(err), desc);
  } else {
    CopyText(r.service_name, service);
    ReadDriverFileName(node);
  }
  if (FieldText(r.driver_file_name) != kVrexDriverFile) return skip();

  char mfg[260];
  if (std::uint32_t err = DeviceText(set, data, plat::kSpdrpMfg, mfg, sizeof mfg); err != 0) {
    LogPrint(kLogError,
             "GetNicInfoW2k() SetupDiGetDeviceRegistryProperty() SPDRP_MFG "
             "failed(0x%08lX),%s\r\n",
             static_cast<unsigned long>(err), desc);
  } else {
    CopyText(r.manufacturer, mfg);
  }
  CopyText(r.name, friendly[0] != '\0' ? friendly : desc);

  char net_cfg[520];
  if (std::uint32_t err = RegistryText(key, "NetCfgInstanceId", net_cfg, sizeof net_cfg);
      err != 0) {
    LogPrint(kLogError, "GetNicInfoW2k() RegQueryValueEx() 'NetCfgInstanceId' failed(%lu),%s\r\n",
             static_cast<unsigned long>(err), desc);
    return skip();
  }
  CopyText(r.net_cfg_instance_id, net_cfg);

  std::string_view id(node->instance_id);
  std::size_t slash = id.find('\\');
  std::string_view enumerator = id.substr(0, slash);
  std::string_view rest = slash == std::string_view::npos ? std::string_view() : id.substr(slash);
  if (EqualsNoCase(enumerator, "PCI")) {
    r.bus_type = ngNDAM_BUS_PCI;
    ParsePciInstanceId(rest, &r);
  } else {
    if (EqualsNoCase(enumerator, "PCMCIA")) {
      r.bus_type = ngNDAM_BUS_PCMCIA;
    } else if (EqualsNoCase(enumerator, "V1394")) {
      r.bus_type = ngNDAM_BUS_1394;
    } else if (EqualsNoCase(enumerator, "USB")) {
      r.bus_type = ngNDAM_BUS_USB;
    } else {
      r.bus_type = ngNDAM_BUS_OTHER;
    }
    r.vendor_id = r.device_id = r.subsys_vendor_id = r.subsys_id = 0xFFFF;
    r.revision = 0xFF;
    r.bus = r.device = r.function = -1;
  }

  GetLocationInfoW2k(node, set, data);
  (void)ReadDriverGenInfo(node);
  SetNicType(node);
  GetNicPciInfoNT(node);
  reg.close_key(key);
  return node;
}

std::uint32_t ReadConfig() {
  Library& lib = library();
  plat::Services& s = os();
  LogPrint(kLogInformation, "Read configuration\r\n");
  CopyText(lib.device_prefix, "Global\\");

  plat::Handle scm = plat::kNoHandle;
  std::uint32_t err = s.scm->open_sc_manager(plat::kScManagerAllAccess, &scm);
  if (err == plat::kErrorShutdownInProgress) {
    LogPrint(kLogWarning, "OpenSCManager failed!(%lu), system shutdown is in progress\r\n",
             static_cast<unsigned long>(err));
    return ngNDAM_SCM_LOCKED;
  }
  if (err != 0) {
    LogPrint(kLogWarning, "OpenSCManager failed!(%lu)\r\n", static_cast<unsigned long>(err));
  } else {
    plat::ServiceLockStatus status;
    std::uint32_t needed = 0;
    std::uint32_t qerr = s.scm->query_lock_status(scm, 520, &status, &needed);
    if (qerr != 0) {
      LogPrint(kLogWarning, "QueryServiceLockStatus failed!(%lu)\r\n",
               static_cast<unsigned long>(qerr));
    } else if (status.locked) {
      LogPrint(kLogError, "Service control manager is locked by %s.\r\n", status.owner.c_str());
      s.scm->close_service_handle(scm);
      return ngNDAM_SCM_LOCKED;
    }
    s.scm->close_service_handle(scm);
  }

  std::string system_dir;
  if (err = s.libraries->get_system_directory(&system_dir); err != 0) {
    LogPrint(kLogError, "ReadConfig() GetSystemDirectory() failed(%lu)\r\n",
             static_cast<unsigned long>(err));
    return ngNDAM_ENUMERATION_FAILED;
  }
  plat::Handle setupapi = plat::kNoHandle;
  if (err = s.libraries->load_library(system_dir + "\\Setupapi.dll",
                                      plat::kLoadWithAlteredSearchPath, &setupapi);
      err != 0) {
    LogPrint(kLogError, "ReadConfig() LoadLibraryEx() failed(%lu)\r\n",
             static_cast<unsigned long>(err));
    return ngNDAM_ENUMERATION_FAILED;
  }
  if (err = s.libraries->get_proc_address(setupapi, "SetupDiEnumDeviceInterfaces"); err != 0) {
    LogPrint(kLogError,
             "ReadConfig() GetProcAddress() SetupDiEnumDeviceInterfaces failed(%lu)\r\n",
             static_cast<unsigned long>(err));
    s.libraries->free_library(setupapi);
    return ngNDAM_ENUMERATION_FAILED;
  }
  plat::Handle set = plat::kNoHandle;
  if (err = s.devices->get_class_devs(&plat::kGuidDevClassNet, plat::kDigcfPresent, &set);
      err != 0) {
    LogPrint(kLogError, "ReadConfig() SetupDiGetClassDevs() failed(%lu)\r\n",
             static_cast<unsigned long>(err));
    s.libraries->free_library(setupapi);
    return ngNDAM_ENUMERATION_FAILED;
  }

  for (std::uint32_t index = 0;; ++index) {
    plat::DevInfoData data;
    err = s.devices->enum_device_info(set, index, &data);
    if (err != 0) {
      if (err != plat::kErrorNoMoreItems) {
        LogPrint(kLogError, "ReadConfig() SetupDiEnumDeviceInfo() failed(%lu)\r\n",
                 static_cast<unsigned long>(err));
      }
      break;
    }
    NicNode* node = GetNicInfoW2k(set, data);
    if (node == nullptr) continue;
    if (node->record.nic_type == ngNDAM_NIC_TYPE_VREX) {
      node->lookup_id = node->record.handle = lib.next_handle++;
      AppendNic(node);
    } else {
      FreeNic(node);
    }
  }
  // The device set is destroyed on both outcomes, so that a machine without
  // adapters leaves nothing open.
  s.devices->destroy_device_info_list(set);
  if (lib.head == nullptr) return ngNDAM_NO_ADAPTER;

  ReadTcpipInfo();
  for (NicNode* node = lib.head; node != nullptr; node = node->next) {
    ReadVlanId(node->record.net_cfg_instance_id, &node->record.vlan);
  }
  return ngNDAM_OK;
}

}  // namespace ndam

using namespace ndam;

std::uint32_t ngNdamGetNumPhyNic(std::uint32_t* count) {
  LogPrint(kLogInformation, "Enter ngNdamGetNumPhyNic()");
  if (!EnterInitialised("ngNdamGetNumPhyNic() return ngNDAM_ngNDAM_NOT_INITIALIZED")) {
    return ngNDAM_NOT_INITIALIZED;
  }
  std::uint32_t n = 0;
  for (NicNode* node = library().head; node != nullptr; node = node->next) ++n;
  LockRelease();
  if (count == nullptr) return ngNDAM_INVALID_PARAMETER;
  *count = n;
  LogPrint(kLogInformation, "ngNdamGetNumPhyNic() return ngNDAM_OK");
  return ngNDAM_OK;
}

std::uint32_t ngNdamGetAllPhyNic(PhyNic* records, std::uint32_t count) {
  LogPrint(kLogInformation, "Enter ngNdamGetAllPhyNic()\r\n");
  if (count == 0) {
    LogPrint(kLogError, "ngNdamGetAllPhyNic() is called with zero NICs\n");
    return ngNDAM_INVALID_PARAMETER;
  }
  if (records == nullptr) {
    LogPrint(kLogError, "ngNdamGetAllPhyNic() pPhyList == NULL\r\n");
    return ngNDAM_INVALID_PARAMETER;
  }
  if (!EnterInitialised("ngNdamGetAllPhyNic() return ngNDAM_ngNDAM_NOT_INITIALIZED\r\n")) {
    return ngNDAM_NOT_INITIALIZED;
  }
  NicNode* node = library().head;
  if (node == nullptr) {
    LockRelease();
    LogPrint(kLogInformation, "Adapter list is empty \n");
    return ngNDAM_NO_ADAPTER;
  }
  LockRelease();
  for (std::uint32_t i = 0; i < count && node != nullptr; ++i) {
    (void)ngNdamGetPhyNic(node->lookup_id, &records[i]);
    LockTake();
    node = node->next;
    LockRelease();
  }
  LogPrint(kLogInformation, "ngNdamGetAllPhyNic() return ngNDAM_OK\r\n");
  return ngNDAM_OK;
}

std::uint32_t ngNdamGetPhyNic(std::uint32_t handle, PhyNic* record) {
  LogPrint(kLogInformation, "Enter ngNdamGetPhyNic()");
  if (!EnterInitialised("ngNdamGetPhyNic() return ngNDAM_ngNDAM_NOT_INITIALIZED")) {
    return ngNDAM_NOT_INITIALIZED;
  }
  NicNode* node = FindNic(handle);
  LockRelease();
  if (node == nullptr) {
    LogPrint(kLogInformation, "ngNdamGetPhyNic(): invald adapter handle");
    return ngNDAM_INVALID_HANDLE;
  }
  if (record == nullptr) return ngNDAM_INVALID_PARAMETER;

  PhyNic& r = node->record;
  if (std::uint32_t status = ReadDriverGenInfo(node); status != ngNDAM_OK) {
    LogPrint(kLogError, "ngNdamGetPhyNic() %s ReadDriverGenInfo() uRet = %d ",
             r.net_cfg_instance_id, static_cast<int>(status));
  }
  ReadTcpipInfoNET(node);
  ReadVlanId(r.net_cfg_instance_id, &r.vlan);
  SetListedDeviceFlag(node);
  GetSriovInfo(node);
  ReadWakeOnMagicPacket(node);

  std::memcpy(record, &r, sizeof *record);
  std::uint32_t probe = ngNdamInitDiag(handle);
  record->locked = probe == ngNDAM_LOCK_NIC_FAILED ? 1 : 0;
  if (probe == ngNDAM_OK) ngNdamUnInitDiag(handle);
  return ngNDAM_OK;
}
