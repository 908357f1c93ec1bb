// ip_helper.h: the host's IP Helper lists: adapter information (IPv4) and
// adapter addresses (all families), with the host's size protocol.
//
// Size protocol: *size is the size in bytes of the caller's buffer. When the
// list does not fit (or list is null) the call fails with
// kErrorBufferOverflow and stores the size the list needs; otherwise it
// fills *list and returns 0. An empty list gives kErrorNoData. The sizes are
// the host's own record sizes, so that a caller that grows its buffer by the
// answers behaves as it does there.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace plat {

inline constexpr std::uint32_t kMibIfTypeOther = 1;
inline constexpr std::uint32_t kMibIfTypeEthernet = 6;
inline constexpr std::uint32_t kMibIfTypeLoopback = 24;
inline constexpr std::uint32_t kIfTypeIeee80211 = 71;
inline constexpr std::uint32_t kIfTypeTunnel = 131;

inline constexpr std::uint16_t kAfUnspec = 0;
inline constexpr std::uint16_t kAfInet = 2;
inline constexpr std::uint16_t kAfInet6 = 23;

inline constexpr std::uint32_t kGaaFlagSkipUnicast = 0x0001;
inline constexpr std::uint32_t kGaaFlagIncludePrefix = 0x0010;
inline constexpr std::uint32_t kGaaFlagIncludeWinsInfo = 0x0040;
inline constexpr std::uint32_t kGaaFlagIncludeGateways = 0x0080;
inline constexpr std::uint32_t kGaaFlagIncludeAllInterfaces = 0x0100;
inline constexpr std::uint32_t kGaaFlagIncludeAllCompartments = 0x0200;

// One text address with its mask, as the adapter-information list has it.
struct IpAddrString {
  std::string address;  // dotted decimal
  std::string mask;
};

// One entry of the adapter-information list.
struct IpAdapterInfo {
  std::string adapter_name;  // the NetCfgInstanceId, braces included
  std::string description;
  std::vector<std::uint8_t> hw_address;
  std::uint32_t index = 0;
  std::uint32_t type = kMibIfTypeEthernet;
  bool dhcp_enabled = false;
  bool has_current_ip = false;  // current_ip is meaningful
  IpAddrString current_ip;
  std::vector<IpAddrString> ip_addresses;  // never empty on the host: "0.0.0.0" stands for none
  std::vector<IpAddrString> gateways;      // likewise
  IpAddrString dhcp_server;
};
using IpAdapterInfoList = std::vector<IpAdapterInfo>;

// A socket address as the adapter-addresses list carries it.
struct SocketAddress {
  std::uint16_t family = kAfUnspec;
  std::array<std::uint8_t, 16> address{};  // 4 bytes for IPv4, 16 for IPv6
  std::uint32_t scope_id = 0;
  std::int32_t length = 0;  // the host's sockaddr length (16 or 28)
};

struct UnicastAddress {
  SocketAddress address;
  std::uint32_t flags = 0;
  std::uint32_t prefix_origin = 0;
  std::uint32_t suffix_origin = 0;
  std::uint32_t dad_state = 0;
  std::uint32_t valid_lifetime = 0;
  std::uint32_t preferred_lifetime = 0;
  std::uint32_t lease_lifetime = 0;
  std::uint8_t prefix_length = 0;
};

// One entry of the adapter-addresses list.
struct IpAdapterAddresses {
  std::string adapter_name;  // the NetCfgInstanceId, braces included
  WString friendly_name;
  WString description;
  std::vector<std::uint8_t> physical_address;
  std::uint32_t if_type = kMibIfTypeEthernet;
  std::uint32_t oper_status = 1;  // 1 up, 2 down
  std::uint32_t if_index = 0;
  std::vector<UnicastAddress> unicast;
  std::vector<SocketAddress> gateways;
};
using IpAdapterAddressesList = std::vector<IpAdapterAddresses>;

class IpHelper {
 public:
  virtual ~IpHelper() = default;

  virtual std::uint32_t get_adapters_info(IpAdapterInfoList* list, std::uint32_t* size) = 0;
  // family kAfUnspec, kAfInet or kAfInet6 selects the unicast addresses
  // reported; flags are the kGaaFlag* bits.
  virtual std::uint32_t get_adapters_addresses(std::uint16_t family, std::uint32_t flags,
                                               IpAdapterAddressesList* list,
                                               std::uint32_t* size) = 0;
};

// The presentation form of an address ("10.0.0.1", "fe80::1"), as the
// host's inet_ntop writes it; "" for another family.
std::string address_text(const SocketAddress& address);

}  // namespace plat
