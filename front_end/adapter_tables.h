// adapter_tables.h: the adapters this program supports and their chip
// families, as data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ndam/ngndam.h"

// One supported adapter model. The table ends with an all-zero row.
struct SupportedAdapterRow {
  uint16_t device_id;
  uint16_t vendor_id;
  uint16_t subsys_id;
  uint16_t subsys_vendor_id;
};

// The supported-adapter table, its all-zero end row included.
std::span<const SupportedAdapterRow> supported_adapter_table();

// True when a row carries all four ids.
bool is_supported_adapter(uint16_t device_id, uint16_t vendor_id, uint16_t subsys_id,
                          uint16_t subsys_vendor_id);
// The same for an adapter's NIC record.
bool is_supported_adapter(const PhyNic& nic);

// One device id and its chip family (1 to 10; 8, 9 and 10 are the later
// generations, which get the immediate reset after an install).
struct ChipFamilyRow {
  uint16_t device_id;
  uint8_t family;
};

std::span<const ChipFamilyRow> chip_family_table();

// The family of the first row with this device id; 1 when there is none.
int chip_family(uint16_t device_id);
