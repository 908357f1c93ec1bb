// tcpip_info.cc: the address fields of an adapter: DHCP state and IPv4
// address, mask and gateway from the IP Helper's adapter-information list
// (with the adapter's TCP/IP interface key for static adapters the list
// shows without an address), and the first IPv6 unicast address and gateway
// from the adapter-addresses list.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "ndam/ndam_internal.h"

namespace ndam {

namespace {

constexpr const char* kInterfacesKey =
    "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\";
constexpr std::uint32_t kAddressFlags = plat::kGaaFlagIncludePrefix |
                                        plat::kGaaFlagIncludeWinsInfo |
                                        plat::kGaaFlagIncludeGateways |
                                        plat::kGaaFlagIncludeAllInterfaces |
                                        plat::kGaaFlagIncludeAllCompartments;
constexpr int kMaxListCalls = 5;

// Where the IP Helper's GetAdaptersAddresses lives.
enum class IpHelperCaller { kReadTcpipInfo, kReadIpV6Info };

// Looks up GetAdaptersAddresses in the system's IP Helper library, logging
// failures with the caller's texts. The loaded library, or kNoHandle.
plat::Handle LoadIpHelper(IpHelperCaller caller) {
  plat::SystemLibraries& libs = *os().libraries;
  bool tcpip = caller == IpHelperCaller::kReadTcpipInfo;
  std::string dir;
  if (std::uint32_t err = libs.get_system_directory(&dir); err != 0) {
    if (tcpip) {
      LogPrint(kLogError, "ReadTcpipInfo() GetSystemDirectory() failed(%lu)\r\n",
               static_cast<unsigned long>(err));
    } else {
      LogPrint(kLogError, "ReadIpV6Info() GetSystemDirectory() failed(%lu)\r\n",
               static_cast<unsigned long>(err));
    }
    return plat::kNoHandle;
  }
  plat::Handle module = plat::kNoHandle;
  if (std::uint32_t err =
          libs.load_library(dir + "\\Iphlpapi.dll", plat::kLoadWithAlteredSearchPath, &module);
      err != 0) {
    if (tcpip) {
      LogPrint(kLogError, "ReadTcpipInfo() LoadLibraryEx() failed(%lu)\r\n",
               static_cast<unsigned long>(err));
    } else {
      LogPrint(kLogError, "ReadIpV6Info() LoadLibraryEx() failed(%lu)\r\n",
               static_cast<unsigned long>(err));
    }
    return plat::kNoHandle;
  }
  if (std::uint32_t err = libs.get_proc_address(module, "GetAdaptersAddresses"); err != 0) {
    if (tcpip) {
      LogPrint(kLogError, "ReadTcpipInfo() GetProcAddress() GetAdaptersAddresses failed(%lu)\r\n",
               static_cast<unsigned long>(err));
    } else {
      LogPrint(kLogError, "ReadIpV6Info() GetProcAddress() GetAdaptersAddresses failed(%lu)\r\n",
               static_cast<unsigned long>(err));
    }
    libs.free_library(module);
    return plat::kNoHandle;
  }
  return module;
}

// The first text of a registry value of key (for a multi-text, its first
// text), cut to fit field; "" when the value does not exist.
template <std::size_t N>
void RegistryFirstText(plat::Handle key, const char* name, char (&field)[N]) {
  plat::Registry& reg = *os().registry;
  std::uint32_t size = 0;
  std::uint32_t type = 0;
  std::string text;
  if (reg.query_value(key, name, &type, nullptr, &size) == 0) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size) + 2, 0);
    if (reg.query_value(key, name, &type, buffer.data(), &size) == 0) {
      text.assign(reinterpret_cast<const char*>(buffer.data()));
    }
  }
  CopyText(field, text);
}

}  // namespace

std::uint32_t MatchAdapterInfo(NicNode* node, const plat::IpAdapterInfoList* list) {
  PhyNic& r = node->record;
  std::string_view id = FieldText(r.net_cfg_instance_id);
  const plat::IpAdapterInfo* found = nullptr;
  if (list != nullptr) {
    for (const plat::IpAdapterInfo& entry : *list) {
      if (entry.type == plat::kMibIfTypeEthernet && EqualsNoCase(entry.adapter_name, id)) {
        found = &entry;
        break;
      }
    }
  }
  if (found == nullptr) {
    r.dhcp_enabled = 0;
    CopyText(r.ipv4_address, "");
    CopyText(r.ipv4_subnet_mask, "");
    CopyText(r.ipv4_default_gateway, "");
    return 0;
  }
  r.dhcp_enabled = found->dhcp_enabled ? 1 : 0;
  CopyText(r.ipv4_default_gateway, found->gateways.empty() ? "" : found->gateways[0].address);
  if (found->has_current_ip) {
    CopyText(r.ipv4_address, found->current_ip.address);
    CopyText(r.ipv4_subnet_mask, found->current_ip.mask);
  } else if (!found->ip_addresses.empty()) {
    CopyText(r.ipv4_address, found->ip_addresses[0].address);
    CopyText(r.ipv4_subnet_mask, found->ip_addresses[0].mask);
  } else {
    CopyText(r.ipv4_address, "");
    CopyText(r.ipv4_subnet_mask, "");
  }
  std::string_view address = FieldText(r.ipv4_address);
  if (r.dhcp_enabled == 0 && (address.size() < 7 || EqualsNoCase(address, "0.0.0.0"))) {
    return ReadTcpipRegistry(node);
  }
  return 1;
}

std::uint32_t ReadTcpipRegistry(NicNode* node) {
  plat::Registry& reg = *os().registry;
  PhyNic& r = node->record;
  std::string path = std::string(kInterfacesKey) + std::string(FieldText(r.net_cfg_instance_id));
  plat::Handle key = plat::kNoHandle;
  if (std::uint32_t err = reg.open_key(plat::kHkeyLocalMachine, path, plat::kKeyRead, &key);
      err != 0) {
    LogPrint(kLogError, "ReadTcpipInfoNET() open registry failed(%lu)\r\n",
             static_cast<unsigned long>(err));
    return 0;
  }
  std::uint8_t dhcp_bytes[4] = {};
  std::uint32_t dhcp_size = sizeof dhcp_bytes;
  std::uint32_t type = 0;
  bool dhcp = reg.query_value(key, "EnableDHCP", &type, dhcp_bytes, &dhcp_size) == 0 &&
              (dhcp_bytes[0] | dhcp_bytes[1] | dhcp_bytes[2] | dhcp_bytes[3]) != 0;
  r.dhcp_enabled = dhcp ? 1 : 0;
  RegistryFirstText(key, dhcp ? "DhcpIPAddress" : "IPAddress", r.ipv4_address);
  RegistryFirstText(key, dhcp ? "DhcpSubnetMask" : "SubnetMask", r.ipv4_subnet_mask);

  // The gateway is stored only when it fits the field with its terminator.
  char gateway[sizeof r.ipv4_default_gateway] = {};
  std::uint32_t size = sizeof gateway;
  if (reg.query_value(key, dhcp ? "DhcpDefaultGateway" : "DefaultGateway", &type,
                      reinterpret_cast<std::uint8_t*>(gateway), &size) == 0 &&
      std::memchr(gateway, '\0', sizeof gateway) != nullptr) {
    CopyText(r.ipv4_default_gateway, gateway);
  }
  reg.close_key(key);
  return 1;
}

std::uint32_t ReadIPv6InfoNET(NicNode* node, const plat::IpAdapterAddressesList* list) {
  PhyNic& r = node->record;
  std::string_view id = FieldText(r.net_cfg_instance_id);
  r.ipv6_found = 0;
  if (list != nullptr) {
    for (const plat::IpAdapterAddresses& entry : *list) {
      if (!EqualsNoCase(entry.adapter_name, id)) continue;
      LogPrint(kLogInformation, "Friendly name: %s\r\n",
               plat::wide_to_ansi(entry.friendly_name).c_str());
      LogPrint(kLogInformation, "Description: %s\r\n",
               plat::wide_to_ansi(entry.description).c_str());
      LogPrint(kLogInformation, "AdapterName: %s\r\n", entry.adapter_name.c_str());
      if (entry.unicast.empty()) {
        LogPrint(kLogWarning, "ReadIpV6Info() no Unicast for %s\r\n", r.name);
        continue;
      }
      const plat::UnicastAddress& unicast = entry.unicast.front();
      r.ipv6_address_flags = unicast.flags;
      if (unicast.address.length > 50) {
        LogPrint(kLogError, "ReadIPv6InfoNET() iSockaddrLength %i too long\r\n",
                 unicast.address.length);
        return 0;
      }
      CopyText(r.ipv6_address, plat::address_text(unicast.address));
      r.ipv6_address_family = unicast.address.family;
      r.ipv6_prefix_origin = unicast.prefix_origin;
      r.ipv6_suffix_origin = unicast.suffix_origin;
      r.ipv6_dad_state = unicast.dad_state;
      r.ipv6_valid_lifetime = unicast.valid_lifetime;
      r.ipv6_preferred_lifetime = unicast.preferred_lifetime;
      r.ipv6_lease_lifetime = unicast.lease_lifetime;
      r.ipv6_found = 1;
      if (!entry.gateways.empty()) {
        r.ipv6_gateway_family = entry.gateways.front().family;
        CopyText(r.ipv6_gateway, plat::address_text(entry.gateways.front()));
      } else {
        CopyText(r.ipv6_gateway, "0000::0");
        LogPrint(kLogWarning, "ReadIpV6Info() no Gateway_v6 for %s\r\n", r.name);
      }
      return 1;
    }
  }
  LogPrint(kLogWarning, "ReadIPv6InfoNET() ipv6 not found for %s\r\n", r.name);
  return 0;
}

std::uint32_t ReadIpV6Info(NicNode* node) {
  plat::Handle module = LoadIpHelper(IpHelperCaller::kReadIpV6Info);
  if (module == plat::kNoHandle) return 0;
  plat::IpHelper& ip = *os().ip_helper;
  // The list grows to five times the size each overflow answer asks for.
  std::optional<plat::IpAdapterAddressesList> list;
  std::uint32_t size = 0;
  std::uint32_t err = 0;
  for (int call = 0; call < kMaxListCalls; ++call) {
    err = ip.get_adapters_addresses(plat::kAfInet6, kAddressFlags, list ? &*list : nullptr,
                                    &size);
    if (err != plat::kErrorBufferOverflow) break;
    size *= 5;
    list.emplace();
  }
  os().libraries->free_library(module);
  if (err != 0) {
    LogPrint(kLogError, "ReadIpV6Info() GetAdaptersAddresses() failed(%lu)\r\n",
             static_cast<unsigned long>(err));
    return 0;
  }
  std::uint32_t found = ReadIPv6InfoNET(node, list ? &*list : nullptr);
  if (!found) {
    LogPrint(kLogWarning, "ReadIpV6Info() ipv6 not found for %s\r\n", node->record.name);
  }
  return found;
}

std::uint32_t ReadTcpipInfoNET(NicNode* node) {
  if (node->record.net_cfg_instance_id[0] == '\0') return 0;
  ReadIpV6Info(node);
  plat::IpHelper& ip = *os().ip_helper;
  std::optional<plat::IpAdapterInfoList> list;
  std::uint32_t size = 0;
  std::uint32_t err = ip.get_adapters_info(nullptr, &size);
  if (err == plat::kErrorBufferOverflow) {
    list.emplace();
    err = ip.get_adapters_info(&*list, &size);
  }
  if (err != 0) {
    LogPrint(kLogWarning, "ReadTcpipInfoNET() GetAdaptersInfo() failed %lu\r\n",
             static_cast<unsigned long>(err));
    return MatchAdapterInfo(node, nullptr);
  }
  return MatchAdapterInfo(node, list ? &*list : nullptr);
}

std::uint32_t ReadTcpipInfo() {
  Library& lib = library();
  plat::IpHelper& ip = *os().ip_helper;

  std::optional<plat::IpAdapterInfoList> info;
  std::uint32_t size = 0;
  std::uint32_t err = 0;
  for (int call = 0; call < kMaxListCalls; ++call) {
    err = ip.get_adapters_info(info ? &*info : nullptr, &size);
    if (err != plat::kErrorBufferOverflow) break;
    info.emplace();
  }
  if (err != 0) {
    LogPrint(kLogWarning, "ReadTcpipInfo() GetAdaptersInfo() failed %lu\r\n",
             static_cast<unsigned long>(err));
  }
  const plat::IpAdapterInfoList* info_list = err == 0 && info ? &*info : nullptr;
  for (NicNode* node = lib.head; node != nullptr; node = node->next) {
    MatchAdapterInfo(node, info_list);
  }

  plat::Handle module = LoadIpHelper(IpHelperCaller::kReadTcpipInfo);
  if (module == plat::kNoHandle) return 0;
  std::optional<plat::IpAdapterAddressesList> addresses;
  size = 0;
  for (int call = 0; call < kMaxListCalls; ++call) {
    err = ip.get_adapters_addresses(plat::kAfInet6, kAddressFlags,
                                    addresses ? &*addresses : nullptr, &size);
    if (err != plat::kErrorBufferOverflow) break;
    if (call + 1 < kMaxListCalls) {
      LogPrint(kLogInformation, "ReadTcpipInfo() GetAdaptersAddresses() len(%lu), idx(%lu)\r\n",
               static_cast<unsigned long>(size), static_cast<unsigned long>(call));
    }
    addresses.emplace();
  }
  os().libraries->free_library(module);
  if (err != 0) {
    LogPrint(kLogError, "ReadTcpipInfo() GetAdaptersAddresses() failed(%lu)\r\n",
             static_cast<unsigned long>(err));
    return 0;
  }
  for (NicNode* node = lib.head; node != nullptr; node = node->next) {
    ReadIPv6InfoNET(node, addresses ? &*addresses : nullptr);
  }
  return 1;
}

}  // namespace ndam
