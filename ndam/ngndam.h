// ngndam.h: the adapter-discovery library's one public header.
//
// The library finds the machine's physical, visible network adapters driven
// by the Vantera driver and describes each one in a PhyNic record. A client
// calls ngNdamInitialize once (with the interface version below), asks for
// the adapter count and the records, and calls ngNdamUninitialize once for
// every successful ngNdamInitialize. Every operation returns a library
// status (ngNDAM_...); nothing throws. The library keeps its own log file,
// switched on by its configuration file "mgmtapps.conf".
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Interface version a client passes to ngNdamInitialize.
inline constexpr std::uint32_t ngNDAM_VERSION_MAJOR = 216;
inline constexpr std::uint32_t ngNDAM_VERSION_MINOR = 0;
inline constexpr std::uint32_t ngNDAM_VERSION_BUILD = 41;

// ---------------------------------------------------------------------------
// Library status codes. Internal ones (3, 14, 43, 56) only reach the log.
#define VREX_NGNDAM_CODES(X)      \
  X(ngNDAM_OK, 0)                 \
  X(ngNDAM_ENUMERATION_FAILED, 2) \
  X(ngNDAM_BUFFER_TOO_SMALL, 3)   \
  X(ngNDAM_INVALID_HANDLE, 4)     \
  X(ngNDAM_INVALID_PARAMETER, 5)  \
  X(ngNDAM_DRIVER_NOT_LOADED, 13) \
  X(ngNDAM_IOCTL_FAILED, 14)      \
  X(ngNDAM_GET_MUTEX_FAILED, 19)  \
  X(ngNDAM_NOT_INITIALIZED, 20)   \
  X(ngNDAM_NO_ADAPTER, 21)        \
  X(ngNDAM_SCM_LOCKED, 22)        \
  X(ngNDAM_VERSION_MISMATCH, 23)  \
  X(ngNDAM_LOCK_NIC_FAILED, 24)   \
  X(ngNDAM_LOG_OPEN_FAILED, 29)   \
  X(ngNDAM_WMI_FAILED, 43)        \
  X(ngNDAM_REGISTRY_FAILED, 56)

#define VREX_NGNDAM_CONSTANT(name, value) inline constexpr std::uint32_t name = value;
VREX_NGNDAM_CODES(VREX_NGNDAM_CONSTANT)
#undef VREX_NGNDAM_CONSTANT

// The name of a library status ("ngNDAM_OK", ...), or "ngNDAM_UNKNOWN".
const char* ngNdamStatusName(std::uint32_t status);

// ---------------------------------------------------------------------------
// Values of PhyNic fields.
inline constexpr std::uint32_t ngNDAM_NIC_TYPE_LEGACY = 2;  // vlgnd60a.sys
inline constexpr std::uint32_t ngNDAM_NIC_TYPE_VREX = 3;    // vrexnd.sys, the only type listed
inline constexpr std::uint32_t ngNDAM_NIC_TYPE_OTHER = 4;

inline constexpr std::uint32_t ngNDAM_BUS_UNKNOWN = 0;
inline constexpr std::uint32_t ngNDAM_BUS_OTHER = 1;
inline constexpr std::uint32_t ngNDAM_BUS_PCI = 2;
inline constexpr std::uint32_t ngNDAM_BUS_PCMCIA = 3;
inline constexpr std::uint32_t ngNDAM_BUS_1394 = 4;
inline constexpr std::uint32_t ngNDAM_BUS_USB = 5;

inline constexpr std::uint32_t ngNDAM_MEDIUM_802_3 = 1;
inline constexpr std::uint32_t ngNDAM_MEDIUM_FIBRE_CHANNEL = 4;
inline constexpr std::uint32_t ngNDAM_MEDIUM_OTHER = 0xFFFFFFFFu;

inline constexpr std::uint32_t ngNDAM_SRIOV_UNKNOWN = 0;
inline constexpr std::uint32_t ngNDAM_SRIOV_DISABLED = 1;
inline constexpr std::uint32_t ngNDAM_SRIOV_ENABLED = 2;
inline constexpr std::uint32_t ngNDAM_SRIOV_NOT_QUERIED = 3;

// One VLAN of an adapter. The library sets vlan_id and the three words
// (1, 0, 0) and leaves the reserved bytes zero.
struct NdamVlanEntry {
  std::uint8_t reserved[24];
  std::uint32_t vlan_id;
  std::uint32_t word0;
  std::uint32_t word1;
  std::uint32_t word2;
};

struct NdamVlanBlock {
  std::uint32_t has_vlan;
  std::uint32_t vlan_count;
  NdamVlanEntry vlan;
};

// ---------------------------------------------------------------------------
// The NIC record: one per adapter, filled by the library into storage the
// caller provides. Texts are 8-bit, zero-terminated inside their field.
struct PhyNic {
  std::uint32_t handle;                  // 1, 2, 3 ... in enumeration order
  char description[256];                 // device description
  char name[256];                        // friendly name, else the description; the WMI instance name
  char service_name[256];                // the device's service (driver) name
  char net_cfg_instance_id[520];         // "{GUID}": device object, TCP/IP interface, adapter lock
  std::uint32_t nic_type;                // ngNDAM_NIC_TYPE_...
  std::uint32_t locked;                  // 1 when another holder had the adapter lock at this fill
  std::uint32_t listed_device;           // 1 when the PCI device id is a listed one
  char current_mac[20];                  // 12 upper-case hexadecimal digits
  char permanent_mac[20];
  std::uint32_t chip_id;                 // number << 16 | revision << 8 | metal
  std::uint16_t vendor_id;
  std::uint16_t device_id;
  std::uint16_t subsys_vendor_id;
  std::uint16_t subsys_id;
  char manufacturer[80];
  std::uint8_t revision;                 // PCI revision id
  std::int32_t bus;                      // -1 when unknown
  std::int32_t device;
  std::int32_t function;
  std::uint32_t segment;                 // always 0
  std::uint32_t pcie_link_width;
  std::uint32_t pcie_link_speed;
  std::uint32_t bar[4];                  // BAR 0..3, lowest four bits cleared
  std::uint32_t bus_type;                // ngNDAM_BUS_...
  std::uint32_t driver_reached;          // 1 once the device object was opened
  std::uint32_t driver_loaded;           // 1 when the last open of the device object succeeded
  char driver_file_name[32];
  char driver_version[40];
  std::uint32_t media_connected;
  std::uint32_t duplex;                  // 0 unknown, 1 half, 2 full
  std::uint32_t physical_medium;         // ngNDAM_MEDIUM_...
  std::uint32_t link_speed;              // Mb/s, 0 when unknown or disconnected
  std::uint32_t max_frame_size;
  std::uint32_t flow_control;
  std::uint32_t wake_on_magic_packet;
  std::uint64_t tx_link_speed;           // bits per second, all ones when unknown
  std::uint64_t rx_link_speed;
  std::uint32_t dhcp_enabled;
  char ipv4_address[20];
  char ipv4_subnet_mask[20];
  char ipv4_default_gateway[20];
  std::uint32_t ipv6_found;
  std::uint32_t ipv6_address_flags;
  std::uint16_t ipv6_address_family;
  char ipv6_address[48];
  std::uint32_t ipv6_prefix_origin;
  std::uint32_t ipv6_suffix_origin;
  std::uint32_t ipv6_dad_state;
  std::uint32_t ipv6_valid_lifetime;
  std::uint32_t ipv6_preferred_lifetime;
  std::uint32_t ipv6_lease_lifetime;
  std::uint16_t ipv6_gateway_family;
  char ipv6_gateway[48];                 // "0000::0" when there is none
  std::uint32_t sriov_state;             // ngNDAM_SRIOV_...
  std::uint16_t sriov_vf_count;
  std::uint16_t sriov_allocated_vf_count;
  NdamVlanBlock vlan;
};

// ---------------------------------------------------------------------------
// Interface. Every function returns a library status.

// Initialises the library (version must be 216.0.41, else 23 and nothing is
// done), or counts one more user when it is initialised already. 0, or 2,
// 21 (no adapter), 22, 23, 29.
std::uint32_t ngNdamInitialize(std::uint32_t major, std::uint32_t minor, std::uint32_t build);
// Creates the machine-wide instance mutex: 0 or ngNDAM_GET_MUTEX_FAILED.
// Called by ngNdamInitialize.
std::uint32_t ngNdamInitializeEx();
// Drops one user; the last one frees the adapter list and closes the log.
// Always 0, also without a matching initialisation.
std::uint32_t ngNdamUninitialize();

// *count (output) receives the number of listed adapters. 0 or 20.
std::uint32_t ngNdamGetNumPhyNic(std::uint32_t* count);
// Fills records[0 .. count-1] with the first count adapters (surplus
// entries are left alone). 0, 5 (count 0 or no array), 20, 21.
std::uint32_t ngNdamGetAllPhyNic(PhyNic* records, std::uint32_t count);
// Refreshes the adapter with this handle and copies it into *record
// (output). 0, 4, 20.
std::uint32_t ngNdamGetPhyNic(std::uint32_t handle, PhyNic* record);

// Takes the adapter under its machine-wide adapter lock and keeps its device
// object open: 0, 4, 13 (not started or no device object), 20, 24 (held).
std::uint32_t ngNdamInitDiag(std::uint32_t handle);
// Gives the adapter back: 0, 4, 20.
std::uint32_t ngNdamUnInitDiag(std::uint32_t handle);
