// driver_info.cc: the driver-related fields of an adapter: NDIS queries on
// its device object, values of its network-class registry subkey, the VLAN
// block, the listed-device flag, the chip identity read through the
// driver's register-read method, and the SR-IOV state.
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "driver_access/driver_access.h"
#include "ndam/ndam_internal.h"
#include "ndam/product_data.h"

namespace ndam {

namespace {

// Answer buffer of an NDIS query unless the OID needs another size.
constexpr std::uint32_t kNdisAnswerSize = 260;
constexpr std::uint32_t kLinkStateSize = 40;
constexpr std::uint32_t kPciCustomPropertiesSize = 52;

constexpr std::uint32_t kChipNumberRegister = 0x00260048;
constexpr std::uint32_t kChipRevisionRegister = 0x0026004C;
constexpr std::uint32_t kChipMetalRegister = 0x00260050;

constexpr plat::WStringView kNetClassKey =
    u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";

std::uint32_t Le32(const std::uint8_t* b) {
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::uint64_t Le64(const std::uint8_t* b) {
  return static_cast<std::uint64_t>(Le32(b)) | static_cast<std::uint64_t>(Le32(b + 4)) << 32;
}

std::array<std::uint8_t, 4> OidBytes(std::uint32_t oid) {
  return {static_cast<std::uint8_t>(oid), static_cast<std::uint8_t>(oid >> 8),
          static_cast<std::uint8_t>(oid >> 16), static_cast<std::uint8_t>(oid >> 24)};
}

// The device object of an adapter: "\\.\" with the device-path prefix and
// the NetCfgInstanceId.
std::string DevicePath(const char* net_cfg_instance_id) {
  return std::string("\\\\.\\") + library().device_prefix + net_cfg_instance_id;
}

plat::Handle OpenDevice(std::string_view path, std::uint32_t* err) {
  plat::Handle h = plat::kNoHandle;
  *err = os().device_io->open_device(path, plat::kGenericRead | plat::kGenericWrite,
                                     plat::kFileShareRead | plat::kFileShareWrite,
                                     plat::kOpenExisting, &h);
  if (*err != 0) h = plat::kNoHandle;
  return h;
}

// One NDIS query on an open device object. 0 or the system error code;
// *returned is the number of answer bytes.
std::uint32_t QueryOid(plat::Handle device, std::uint32_t oid, std::uint8_t* answer,
                       std::uint32_t size, std::uint32_t* returned) {
  std::array<std::uint8_t, 4> in = OidBytes(oid);
  std::memset(answer, 0, size);
  *returned = 0;
  return os().device_io->io_control(device, plat::kIoctlNdisQueryGlobalStats, in,
                                    {answer, size}, returned);
}

void MacText(const std::uint8_t* b, char (&field)[20]) {
  char text[20];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2], b[3], b[4],
                b[5]);
  CopyText(field, text);
}

// Reads one text value of the adapter's network-class subkey into a
// cleared buffer of capacity bytes. 0, 3 or 56.
template <std::size_t N>
std::uint32_t NetClassText(const char* net_cfg_instance_id, plat::WStringView value,
                           char (&buffer)[N]) {
  std::memset(buffer, 0, N);
  std::uint32_t type = plat::kRegSz;
  std::uint32_t capacity = N;
  return ReadNetClassValue(net_cfg_instance_id, kNetClassKey, value, &type, buffer, &capacity);
}

// The text of a registry value read with the wide call, as 8-bit text.
// Numbers are given in decimal; a multi-text gives its first text.
std::string ValueAsText(std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
  if (type == plat::kRegDword && size >= 4) return std::to_string(Le32(data));
  if (type == plat::kRegQword && size >= 8) return std::to_string(Le64(data));
  std::u16string wide;
  for (std::uint32_t i = 0; i + 1 < size; i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (c == u'\0') break;
    wide.push_back(c);
  }
  return plat::wide_to_ansi(wide);
}

// The subkey of the network class key whose NetCfgInstanceId begins with
// the given one, opened into *found. False when there is none.
bool FindNetClassSubkey(plat::Handle class_key, std::string_view net_cfg_instance_id,
                        plat::WString* found) {
  plat::Registry& reg = *os().registry;
  // An empty id would match the first subkey; it names no adapter.
  if (net_cfg_instance_id.empty()) return false;
  std::uint32_t subkeys = 0;
  if (reg.query_info_key(class_key, &subkeys, nullptr, nullptr) != 0) return false;
  for (std::uint32_t index = 0; index < subkeys; ++index) {
    char16_t name[256] = {};
    std::uint32_t name_len = 256;
    if (reg.enum_key_w(class_key, index, name, &name_len) != 0) continue;
    plat::WString subkey(name, name_len < 256 ? name_len : 255);
    plat::Handle key = plat::kNoHandle;
    if (reg.open_key_w(class_key, subkey, plat::kKeyAllAccess, &key) != 0) return false;
    std::uint8_t data[510] = {};
    std::uint32_t size = sizeof data;
    std::uint32_t type = 0;
    std::uint32_t err = reg.query_value_w(key, u"NetCfgInstanceId", &type, data, &size);
    reg.close_key(key);
    if (err != 0) continue;
    std::string id = ValueAsText(type, data, size);
    if (id.compare(0, net_cfg_instance_id.size(), net_cfg_instance_id) == 0 &&
        id.size() >= net_cfg_instance_id.size()) {
      *found = subkey;
      return true;
    }
  }
  return false;
}

}  // namespace

std::uint32_t LinkSpeedMbps(std::uint32_t answer) {
  switch (answer) {
    case 100000: return 10;
    case 1000000: return 100;
    case 10000000: return 1000;
    case 25000000: return 2500;
    case 100000000: return 10000;
    case 250000000: return 25000;
    case 400000000: return 40000;
    case 500000000: return 50000;
    default: return 0;
  }
}

std::uint32_t ReadNetClassValue(const char* net_cfg_instance_id, plat::WStringView class_key,
                                plat::WStringView value_name, std::uint32_t* reg_type,
                                char* output, std::uint32_t* capacity) {
  plat::Registry& reg = *os().registry;
  plat::Handle key = plat::kNoHandle;
  if (reg.open_key_w(plat::kHkeyLocalMachine, class_key, plat::kKeyAllAccess, &key) != 0) {
    return ngNDAM_REGISTRY_FAILED;
  }
  plat::WString subkey;
  if (!FindNetClassSubkey(key, net_cfg_instance_id, &subkey)) {
    reg.close_key(key);
    return ngNDAM_REGISTRY_FAILED;
  }
  plat::Handle adapter_key = plat::kNoHandle;
  std::uint32_t err = reg.open_key_w(key, subkey, plat::kKeyAllAccess, &adapter_key);
  reg.close_key(key);
  if (err != 0) return ngNDAM_REGISTRY_FAILED;
  std::uint8_t data[510] = {};
  std::uint32_t size = sizeof data;
  std::uint32_t type = 0;
  err = reg.query_value_w(adapter_key, value_name, &type, data, &size);
  reg.close_key(adapter_key);
  if (err != 0) return ngNDAM_REGISTRY_FAILED;
  std::string text = ValueAsText(type, data, size);
  if (text.size() + 1 > *capacity) return ngNDAM_BUFFER_TOO_SMALL;
  std::memcpy(output, text.c_str(), text.size() + 1);
  *capacity = static_cast<std::uint32_t>(text.size() + 1);
  if (reg_type != nullptr) *reg_type = type;
  return ngNDAM_OK;
}

std::uint32_t DoNicIOCTL(NicNode* node, std::uint32_t code, const std::uint8_t* input,
                         std::uint32_t input_length, std::uint8_t* output,
                         std::uint32_t* output_length, std::uint32_t* system_error) {
  plat::DeviceIo& io = *os().device_io;
  PhyNic& r = node->record;
  *system_error = 0;
  plat::Handle device = node->device_handle;
  bool opened_here = false;
  if (device == plat::kNoHandle) {
    std::string_view id = FieldText(r.net_cfg_instance_id);
    std::string path = StartsWithNoCase(id, "\\\\?\\")
                           ? std::string("\\\\?\\") + library().device_prefix +
                                 std::string(id.substr(4))
                           : DevicePath(r.net_cfg_instance_id);
    std::uint32_t err = 0;
    device = OpenDevice(path, &err);
    if (device == plat::kNoHandle) {
      r.driver_loaded = 0;
      LogPrint(kLogError, "DoNicIOCTL(): CreateFile() failed(%lu)(%s)\r\n",
               static_cast<unsigned long>(err), r.net_cfg_instance_id);
      return ngNDAM_DRIVER_NOT_LOADED;
    }
    r.driver_loaded = 1;
    opened_here = true;
  }
  std::uint32_t returned = 0;
  std::uint32_t err = io.io_control(device, code, {input, input_length},
                                    {output, *output_length}, &returned);
  *output_length = returned;
  std::uint32_t status = ngNDAM_OK;
  if (err != 0) {
    *system_error = err;
    LogPrint(kLogError, "DoNicIOCTL(): DeviceIoControl() failed(%lu)\r\n",
             static_cast<unsigned long>(err));
    status = ngNDAM_IOCTL_FAILED;
  }
  if (opened_here) os().kernel->close_handle(device);
  return status;
}

std::uint32_t ReadDriverGenInfo(NicNode* node) {
  PhyNic& r = node->record;
  r.driver_loaded = 0;
  if (r.net_cfg_instance_id[0] == '\0') {
    LogPrint(kLogWarning, "ReadDriverGenInfo() no service name\r\n");
    return ngNDAM_OK;
  }
  static constexpr std::uint32_t kBarOffsets[4] = {0x10, 0x14, 0x18, 0x1C};
  for (std::size_t i = 0; i < 4; ++i) {
    std::uint32_t value = 0;
    if (vrexnvmReadBar(r.name, kBarOffsets[i], &value) != 0) value = 0;
    r.bar[i] = value;
  }

  std::uint32_t err = 0;
  plat::Handle device = OpenDevice(DevicePath(r.net_cfg_instance_id), &err);
  if (device == plat::kNoHandle) {
    LogPrint(kLogWarning, "CreateFile failed(%lu), driver not loaded(%s)\r\n",
             static_cast<unsigned long>(err), r.net_cfg_instance_id);
    return ngNDAM_OK;
  }
  r.driver_reached = 1;
  r.driver_loaded = 1;
  LogPrint(kLogInformation, "ReadDriverGenInfo(), driver is loaded(%s)\r\n", r.name);

  std::uint8_t answer[kNdisAnswerSize];
  std::uint32_t got = 0;
  auto close = [&] { os().kernel->close_handle(device); };

  if (err = QueryOid(device, plat::kOid8023CurrentAddress, answer, kNdisAnswerSize, &got);
      err != 0) {
    LogPrint(kLogWarning, "DeviceIoControl() OID_802_3_CURRENT_ADDRESS failed(%lu)\r\n",
             static_cast<unsigned long>(err));
  } else if (got == 6) {
    MacText(answer, r.current_mac);
  } else {
    LogPrint(kLogWarning, "invalid MAC address length(%lu)\r\n", static_cast<unsigned long>(got));
  }

  if (err = QueryOid(device, plat::kOid8023PermanentAddress, answer, kNdisAnswerSize, &got);
      err != 0) {
    LogPrint(kLogWarning, "DeviceIoControl() OID_802_3_PERMANENT_ADDRESS failed(%lu)\r\n",
             static_cast<unsigned long>(err));
  } else if (got == 6) {
    MacText(answer, r.permanent_mac);
  } else {
    LogPrint(kLogWarning, "invalid permanent address length(%lu)\r\n",
             static_cast<unsigned long>(got));
  }

  char version[40];
  if (std::uint32_t status = NetClassText(r.net_cfg_instance_id, u"DriverVersion", version);
      status == ngNDAM_OK) {
    CopyText(r.driver_version, version);
  } else {
    LogPrint(kLogWarning, "ReadDriverGenInfo() DriverVersion not read(%lu)\r\n",
             static_cast<unsigned long>(status));
  }

  if (err = QueryOid(device, plat::kOidGenDriverVersion, answer, kNdisAnswerSize, &got);
      err != 0) {
    close();
    LogPrint(kLogError, "DeviceIoControl() OID_GEN_DRIVER_VERSION failed(%lu)\r\n",
             static_cast<unsigned long>(err));
    return ngNDAM_IOCTL_FAILED;
  }
  if (got == 2) {
    node->ndis_major = answer[1];
    node->ndis_minor = answer[0];
  } else {
    LogPrint(kLogWarning, "invalid NDIS version length(%lu)\r\n", static_cast<unsigned long>(got));
  }

  if (err = QueryOid(device, plat::kOidGenMediaConnectStatus, answer, kNdisAnswerSize, &got);
      err != 0) {
    close();
    LogPrint(kLogError, "DeviceIoControl failed(%lu)\r\n", static_cast<unsigned long>(err));
    return ngNDAM_IOCTL_FAILED;
  }
  if (got == 4) {
    r.media_connected = Le32(answer) == 0 ? 1 : 0;
  } else {
    LogPrint(kLogWarning, "invalid media connect status length(%lu)\r\n",
             static_cast<unsigned long>(got));
  }

  if (err = QueryOid(device, plat::kOidGenPhysicalMediumEx, answer, kNdisAnswerSize, &got);
      err != 0) {
    close();
    LogPrint(kLogError, "DeviceIoControl failed(%lu)\r\n", static_cast<unsigned long>(err));
    return ngNDAM_IOCTL_FAILED;
  }
  if (got == 4) {
    std::uint32_t medium = Le32(answer);
    r.physical_medium = medium == 14  ? ngNDAM_MEDIUM_802_3
                        : medium == 6 ? ngNDAM_MEDIUM_FIBRE_CHANNEL
                                      : ngNDAM_MEDIUM_OTHER;
  } else {
    LogPrint(kLogWarning, "invalid physical medium length(%lu)\r\n",
             static_cast<unsigned long>(got));
  }

  if (r.media_connected == 1) {
    if (err = QueryOid(device, plat::kOidGenLinkSpeed, answer, kNdisAnswerSize, &got); err != 0) {
      close();
      LogPrint(kLogError, "DeviceIoControl failed(%lu)\r\n", static_cast<unsigned long>(err));
      return ngNDAM_IOCTL_FAILED;
    }
    if (got == 4) {
      r.link_speed = LinkSpeedMbps(Le32(answer));
    } else {
      LogPrint(kLogWarning, "invalid link speed length(%lu)\r\n", static_cast<unsigned long>(got));
      r.link_speed = 0;
    }
  } else {
    r.link_speed = 0;
  }

  bool have_link_state = false;
  if (node->ndis_major >= 6) {
    std::uint8_t state[kLinkStateSize];
    if (err = QueryOid(device, plat::kOidGenLinkState, state, kLinkStateSize, &got); err != 0) {
      LogPrint(kLogError, "DeviceIoControl failed(%lu)\r\n", static_cast<unsigned long>(err));
    } else {
      have_link_state = true;
      char flow[255];
      if (NetClassText(r.net_cfg_instance_id, u"*FlowControl", flow) == ngNDAM_OK) {
        r.flow_control = DecimalValue(flow);
      }
      std::uint8_t pci[kPciCustomPropertiesSize];
      if (err = QueryOid(device, plat::kOidGenPciDeviceCustomProperties, pci,
                         kPciCustomPropertiesSize, &got);
          err != 0) {
        LogPrint(kLogError, "DeviceIoControl failed(%lu)\r\n", static_cast<unsigned long>(err));
      } else {
        r.pcie_link_speed = Le32(pci + 24);
        r.pcie_link_width = Le32(pci + 28);
      }
      // The link state: header (4), connect state (4), duplex (4), padding,
      // transmit speed (8) at 16, receive speed (8) at 24.
      r.tx_link_speed = Le64(state + 16);
      r.rx_link_speed = Le64(state + 24);
      std::uint32_t duplex = Le32(state + 8);
      r.duplex = duplex == 1 ? 1 : duplex == 2 ? 2 : 0;
    }
  }
  if (!have_link_state) {
    r.tx_link_speed = ~0ull;
    r.rx_link_speed = ~0ull;
    r.duplex = 0;
  }
  close();

  std::array<std::uint8_t, 4> oid = OidBytes(plat::kOidGenMaximumFrameSize);
  std::uint8_t frame[4] = {};
  std::uint32_t frame_len = sizeof frame;
  std::uint32_t system_error = 0;
  std::uint32_t status = DoNicIOCTL(node, plat::kIoctlNdisQueryGlobalStats, oid.data(),
                                    static_cast<std::uint32_t>(oid.size()), frame, &frame_len,
                                    &system_error);
  if (status != ngNDAM_OK) {
    LogPrint(kLogError, "ReadDriverGenInfo() DoNicIOCTL() failed %lu\r\n",
             static_cast<unsigned long>(system_error));
    return status;
  }
  r.max_frame_size = Le32(frame);
  return ngNDAM_OK;
}

std::uint32_t ReadVlanId(const char* net_cfg_instance_id, NdamVlanBlock* vlan) {
  char text[260];
  std::uint32_t status = NetClassText(net_cfg_instance_id, u"VlanID", text);
  std::uint32_t id = status == ngNDAM_OK ? DecimalValue(text) : 0;
  if (id != 0) {
    vlan->has_vlan = 1;
    vlan->vlan_count = 1;
    vlan->vlan.vlan_id = id;
    vlan->vlan.word0 = 1;
    vlan->vlan.word1 = 0;
    vlan->vlan.word2 = 0;
  } else {
    vlan->has_vlan = 0;
  }
  return status;
}

void ReadWakeOnMagicPacket(NicNode* node) {
  char text[20];
  if (NetClassText(node->record.net_cfg_instance_id, u"*WakeOnMagicPacket", text) ==
      ngNDAM_OK) {
    node->record.wake_on_magic_packet = DecimalValue(text);
  }
}

void SetListedDeviceFlag(NicNode* node) {
  node->record.listed_device = is_listed_device(node->record.device_id) ? 1 : 0;
}

void GetNicPciInfoNT(NicNode* node) {
  if (node->record.net_cfg_instance_id[0] == '\0') return;
  if (node->record.nic_type == ngNDAM_NIC_TYPE_VREX) (void)VrexGetChipInfo(node);
}

std::uint32_t ReadRegister32(const char* adapter_name, std::uint32_t offset,
                             std::uint32_t* value) {
  WmiHelper wmi(u"root\\wmi");
  if (!wmi.IsConnected()) return ngNDAM_WMI_FAILED;
  std::unique_ptr<plat::WmiObject> in;
  std::unique_ptr<plat::WmiObject> out;
  if (!wmi.GetMethodInParams(u"TSLY_HwDeviceAccess", u"ReadReg32", &in)) return ngNDAM_WMI_FAILED;
  if (!wmi.PutUInt32(in.get(), u"offset", offset)) return ngNDAM_WMI_FAILED;
  plat::WString name = plat::ansi_to_wide(adapter_name);
  if (!wmi.ExecMethod(u"TSLY_HwDeviceAccess", name, u"ReadReg32", in.get(), &out)) {
    return ngNDAM_WMI_FAILED;
  }
  if (!wmi.GetUInt32(out.get(), u"value", value)) return ngNDAM_WMI_FAILED;
  return ngNDAM_OK;
}

std::uint32_t VrexGetChipInfo(NicNode* node) {
  if (node == nullptr) return ngNDAM_INVALID_PARAMETER;
  PhyNic& r = node->record;
  if (r.nic_type != ngNDAM_NIC_TYPE_VREX) {
    LogPrint(kLogWarning, "VrexGetChipInfo().Invalid nic type %d \n", static_cast<int>(r.nic_type));
    return ngNDAM_INVALID_PARAMETER;
  }
  std::uint32_t number = 0, revision = 0, metal = 0;
  if (std::uint32_t s = ReadRegister32(r.name, kChipNumberRegister, &number); s != ngNDAM_OK) {
    LogPrint(kLogWarning, "VrexGetChipInfo(). Reading Chip number info failed \n");
    return s;
  }
  if (std::uint32_t s = ReadRegister32(r.name, kChipRevisionRegister, &revision);
      s != ngNDAM_OK) {
    LogPrint(kLogWarning, "VrexGetChipInfo(). Reading Chip Revision info failed \n");
    return s;
  }
  if (std::uint32_t s = ReadRegister32(r.name, kChipMetalRegister, &metal); s != ngNDAM_OK) {
    LogPrint(kLogWarning, "VrexGetChipInfo(). Reading Chip Metal info failed \n");
    return s;
  }
  r.chip_id = number << 16 | revision << 8 | metal;
  return ngNDAM_OK;
}

std::uint32_t GetSriovInfo(NicNode* node) {
  constexpr plat::WStringView kNamespace = u"root\\standardcimv2";
  constexpr plat::WStringView kClass = u"MSFT_NetAdapterSriovSettingData";
  WmiHelper wmi(kNamespace);
  if (node == nullptr) {
    LogPrint(kLogWarning, "GetSriovInfo(): Invalid parameters - pAdapter.\n");
    return ngNDAM_INVALID_PARAMETER;
  }
  PhyNic& r = node->record;
  if (r.sriov_state != ngNDAM_SRIOV_UNKNOWN) return ngNDAM_OK;
  if (is_sriov_not_queried(r.vendor_id, r.device_id)) {
    r.sriov_state = ngNDAM_SRIOV_NOT_QUERIED;
    r.sriov_vf_count = 0;
    r.sriov_allocated_vf_count = 0;
    return ngNDAM_OK;
  }
  if (!wmi.IsConnected()) return ngNDAM_WMI_FAILED;
  plat::WString id = plat::ansi_to_wide(r.net_cfg_instance_id);
  std::unique_ptr<plat::WmiObject> instance;
  bool enabled = false;
  if (!wmi.GetInstanceById(kNamespace, kClass, id, &instance)) return ngNDAM_WMI_FAILED;
  if (!wmi.GetBool(instance.get(), u"Enabled", &enabled)) return ngNDAM_WMI_FAILED;
  if (!enabled) {
    r.sriov_state = ngNDAM_SRIOV_DISABLED;
    r.sriov_vf_count = 0;
    r.sriov_allocated_vf_count = 0;
    return ngNDAM_OK;
  }
  std::uint32_t count = 0;
  if (!wmi.GetInstanceById(kNamespace, kClass, id, &instance)) return ngNDAM_WMI_FAILED;
  if (!wmi.GetUInt32(instance.get(), u"NumVFs", &count)) return ngNDAM_WMI_FAILED;
  r.sriov_vf_count = static_cast<std::uint16_t>(count);
  if (!wmi.GetInstanceById(kNamespace, kClass, id, &instance)) return ngNDAM_WMI_FAILED;
  if (!wmi.GetUInt32(instance.get(), u"NumAllocatedVFs", &count)) return ngNDAM_WMI_FAILED;
  r.sriov_allocated_vf_count = static_cast<std::uint16_t>(count);
  r.sriov_state = ngNDAM_SRIOV_ENABLED;
  return ngNDAM_OK;
}

}  // namespace ndam
