// demo.cc: the built-in demo machine: a two-function adapter of the later
// chip family, a single-function adapter of the earlier family, a network
// device of another maker and a virtual adapter.
#include "platform/sim/machine.h"

namespace plat::sim {

std::string Machine::demo_json() {
  return R"json({
  "computer_name": "VREXDEMO",
  "adapters": [
    {
      "description": "Tessaly Vantera-E 2x25G SFP28 Ethernet Adapter",
      "friendly_name": "Tessaly Vantera-E 2x25G SFP28 Ethernet Adapter",
      "pci": {"vendor": "0xE7A5", "device": "0x7A81", "subsystem_vendor": "0xE7A5",
              "subsystem": "0x0211", "revision": "0x11"},
      "location": {"segment": 0, "bus": 59, "device": 0, "function": 0},
      "net_cfg_instance_id": "{6A1F3C20-7B1D-4E55-9C0A-3B7E51A0C001}",
      "driver": {"service": "vrexnd", "file": "vrexnd.sys", "version": "238.1.185.0",
                 "manufacturer": "Tessaly"},
      "mac": "02:1A:2B:3C:4D:5E",
      "link": {"connected": true, "speed_mbps": 25000, "duplex": "full", "pcie_width": 8,
               "pcie_speed": 3, "max_frame_size": 1500},
      "ndis_version": "6.82",
      "settings": {"flow_control": 3, "wake_on_magic_packet": 1, "vlan_id": 0},
      "ipv4": {"dhcp": false, "current_ip": true,
               "addresses": [{"address": "10.20.30.41", "mask": "255.255.255.0"}],
               "gateways": ["10.20.30.1"]},
      "ipv6": {"addresses": [{"address": "fe80::1a:2bff:fe3c:4d5e", "prefix_origin": 4,
                              "suffix_origin": 4}],
               "gateways": ["fe80::1"]},
      "sriov": {"enabled": true, "num_vfs": 8, "allocated_vfs": 2},
      "firmware": {"reset_required": false,
                   "package_log": ["2026-03-02 09:14:00\tVantera-C/E NVM package\t22.0.4.0\t2026-02-20 16:40:00"]}
    },
    {
      "description": "Tessaly Vantera-E 2x25G SFP28 Ethernet Adapter",
      "friendly_name": "Tessaly Vantera-E 2x25G SFP28 Ethernet Adapter #2",
      "pci": {"vendor": "0xE7A5", "device": "0x7A81", "subsystem_vendor": "0xE7A5",
              "subsystem": "0x0211", "revision": "0x11"},
      "location": {"segment": 0, "bus": 59, "device": 0, "function": 1},
      "net_cfg_instance_id": "{6A1F3C20-7B1D-4E55-9C0A-3B7E51A0C002}",
      "mac": "02:1A:2B:3C:4D:5F",
      "link": {"connected": false},
      "ipv4": {"dhcp": true},
      "sriov": {"enabled": false},
      "firmware": {"reset_required": false,
                   "package_log": ["2026-03-02 09:14:00\tVantera-C/E NVM package\t22.0.4.0\t2026-02-20 16:40:00"]}
    },
    {
      "description": "Tessaly Vantera-C 10G Ethernet Adapter",
      "pci": {"vendor": "0xE7A5", "device": "0x7A45", "subsystem_vendor": "0xE7A5",
              "subsystem": "0x0105", "revision": "0x02"},
      "location": {"segment": 0, "bus": 24, "device": 0, "function": 0},
      "net_cfg_instance_id": "{6A1F3C20-7B1D-4E55-9C0A-3B7E51A0C003}",
      "mac": "02:1A:2B:00:45:01",
      "link": {"connected": true, "speed_mbps": 10000, "pcie_width": 4, "pcie_speed": 2},
      "settings": {"vlan_id": 12},
      "ipv4": {"dhcp": true, "current_ip": true,
               "addresses": [{"address": "192.168.7.23", "mask": "255.255.255.0"}],
               "gateways": ["192.168.7.1"]},
      "firmware": {"package_log": ["2025-11-12 11:02:00\tVantera-C/E NVM package\t21.2.0.0\t2025-10-30 08:15:00"]}
    },
    {
      "description": "Corvalis GigaLink 1G Network Connection",
      "pci": {"vendor": "0x5C0B", "device": "0x1209", "subsystem_vendor": "0x5C0B",
              "subsystem": "0x0001", "revision": "0x03"},
      "location": {"segment": 0, "bus": 2, "device": 0, "function": 0},
      "net_cfg_instance_id": "{6A1F3C20-7B1D-4E55-9C0A-3B7E51A0C004}",
      "driver": {"service": "cvgl64", "file": "cvgl64.sys", "version": "12.4.1.0",
                 "manufacturer": "Corvalis"},
      "mac": "02:5C:0B:12:09:01",
      "link": {"connected": true, "speed_mbps": 1000},
      "ipv4": {"dhcp": true, "current_ip": true,
               "addresses": [{"address": "192.168.1.50", "mask": "255.255.255.0"}],
               "gateways": ["192.168.1.1"]}
    },
    {
      "kind": "virtual",
      "description": "Hyperlane Virtual Ethernet Adapter",
      "net_cfg_instance_id": "{6A1F3C20-7B1D-4E55-9C0A-3B7E51A0C005}",
      "driver": {"service": "hlvnet", "file": "hlvnet.sys", "version": "1.0.0.0",
                 "manufacturer": "Hyperlane"},
      "mac": "02:00:4C:4F:4F:50",
      "ipv4": {"dhcp": false,
               "addresses": [{"address": "172.16.0.1", "mask": "255.255.0.0"}]}
    }
  ],
  "devices": [
    {
      "instance_id": "PCI\\VEN_5C0B&DEV_0D10&SUBSYS_00015C0B&REV_01\\3&2411E6FE&0&00",
      "class_guid": "{4D36E97D-E325-11CE-BFC1-08002BE10318}",
      "properties": {
        "SPDRP_DEVICEDESC": {"sz": "PCI Express Root Port"},
        "SPDRP_LOCATION_INFORMATION": {"sz": "PCI bus 0, device 3, function 0"},
        "SPDRP_BUSNUMBER": {"dword": 0},
        "SPDRP_ADDRESS": {"dword": "0x00030000"}
      }
    }
  ]
}
)json";
}

}  // namespace plat::sim
