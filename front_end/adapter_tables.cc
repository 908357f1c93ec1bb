// adapter_tables.cc: the maker's adapter models this program updates, and the
// chip family of each of the maker's device ids.
#include "front_end/adapter_tables.h"

#include "ndam/product_data.h"

namespace {

constexpr uint16_t V = ndam::kMakerVendorId;

// device id, vendor id, subsystem id, subsystem vendor id. The models are of
// chip families 4 and 5 (0x7A4x, 0x7A5x) and 8 and 9 (0x7A8x, 0x7A9x).
constexpr SupportedAdapterRow kSupportedAdapters[] = {
    {0x7A40, V, 0x0101, V},  // family 4
    {0x7A40, V, 0x0102, V},
    {0x7A41, V, 0x0103, V},
    {0x7A41, V, 0x0104, V},
    {0x7A42, V, 0x0111, V},
    {0x7A45, V, 0x0105, V},  // family 5
    {0x7A45, V, 0x0106, V},
    {0x7A46, V, 0x0107, V},
    {0x7A50, V, 0x0121, V},
    {0x7A50, V, 0x0122, V},
    {0x7A52, V, 0x0123, V},
    {0x7A54, V, 0x0124, V},
    {0x7A80, V, 0x0201, V},  // family 8
    {0x7A80, V, 0x0202, V},
    {0x7A81, V, 0x0211, V},
    {0x7A81, V, 0x0212, V},
    {0x7A81, V, 0x0213, V},
    {0x7A82, V, 0x0221, V},
    {0x7A82, V, 0x0222, V},
    {0x7A88, V, 0x0231, V},
    {0x7A88, V, 0x0232, V},
    {0x7A90, V, 0x0301, V},  // family 9
    {0x7A90, V, 0x0302, V},
    {0x7A91, V, 0x0311, V},
    {0x7A91, V, 0x0312, V},
    {0x7A92, V, 0x0321, V},
    {0x7A94, V, 0x0331, V},
    {0, 0, 0, 0},
};

// Families 1 to 6 are the earlier generations, 7 a transitional one, 8, 9
// and 10 the later ones.
constexpr ChipFamilyRow kChipFamilies[] = {
    {0x7A01, 1}, {0x7A02, 1}, {0x7A03, 1},
    {0x7A10, 2}, {0x7A11, 2}, {0x7A12, 2},
    {0x7A20, 3}, {0x7A21, 3}, {0x7A22, 3}, {0x7A28, 3},
    {0x7A30, 4}, {0x7A31, 4}, {0x7A40, 4}, {0x7A41, 4}, {0x7A42, 4},
    {0x7A44, 5}, {0x7A45, 5}, {0x7A46, 5}, {0x7A50, 5}, {0x7A52, 5}, {0x7A54, 5},
    {0x7A60, 6}, {0x7A61, 6}, {0x7A62, 6},
    {0x7A70, 7}, {0x7A71, 7},
    {0x7A80, 8}, {0x7A81, 8}, {0x7A82, 8}, {0x7A88, 8},
    {0x7A90, 9}, {0x7A91, 9}, {0x7A92, 9}, {0x7A94, 9},
    {0x7AA0, 10}, {0x7AA1, 10}, {0x7AA2, 10},
};

}  // namespace

std::span<const SupportedAdapterRow> supported_adapter_table() { return kSupportedAdapters; }

bool is_supported_adapter(uint16_t device_id, uint16_t vendor_id, uint16_t subsys_id,
                          uint16_t subsys_vendor_id) {
  for (const SupportedAdapterRow& row : kSupportedAdapters) {
    if (row.device_id == 0 && row.vendor_id == 0 && row.subsys_id == 0 &&
        row.subsys_vendor_id == 0)
      break;
    if (row.device_id == device_id && row.vendor_id == vendor_id &&
        row.subsys_id == subsys_id && row.subsys_vendor_id == subsys_vendor_id)
      return true;
  }
  return false;
}

bool is_supported_adapter(const PhyNic& nic) {
  return is_supported_adapter(nic.device_id, nic.vendor_id, nic.subsys_id,
                              nic.subsys_vendor_id);
}

std::span<const ChipFamilyRow> chip_family_table() { return kChipFamilies; }

int chip_family(uint16_t device_id) {
  for (const ChipFamilyRow& row : kChipFamilies) {
    if (row.device_id == device_id) return row.family;
  }
  return 1;
}
