// product_data.h: the maker's PCI ids that the library compares against.
//
// Vendor 0xE7A5 is the maker's PCI vendor id throughout the project. The
// listed device ids set a record's listed-device flag (any vendor); the
// SR-IOV not-queried ids, together with the maker's vendor id, mark the
// earlier family whose SR-IOV state is never asked of the system.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace ndam {

inline constexpr std::uint16_t kMakerVendorId = 0xE7A5;

// Later family (0x7A8x, 0x7A9x) and earlier family (0x7A4x, 0x7A5x).
inline constexpr std::array<std::uint16_t, 11> kListedDeviceIds = {
    0x7A40, 0x7A41, 0x7A45, 0x7A50, 0x7A52, 0x7A80,
    0x7A81, 0x7A82, 0x7A88, 0x7A90, 0x7A91,
};

// The earlier family: no SR-IOV, so its state is reported as not queried.
inline constexpr std::array<std::uint16_t, 8> kSriovNotQueriedDeviceIds = {
    0x7A40, 0x7A41, 0x7A44, 0x7A45, 0x7A46, 0x7A50, 0x7A52, 0x7A54,
};

constexpr bool is_listed_device(std::uint16_t device_id) {
  return std::find(kListedDeviceIds.begin(), kListedDeviceIds.end(), device_id) !=
         kListedDeviceIds.end();
}

constexpr bool is_sriov_not_queried(std::uint16_t vendor_id, std::uint16_t device_id) {
  return vendor_id == kMakerVendorId &&
         std::find(kSriovNotQueriedDeviceIds.begin(), kSriovNotQueriedDeviceIds.end(),
                   device_id) != kSriovNotQueriedDeviceIds.end();
}

}  // namespace ndam
