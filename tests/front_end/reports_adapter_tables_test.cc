// The supported-adapter and chip-family tables as data, and their lookups.
#include "front_end/adapter_tables.h"

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr uint16_t kMaker = 0xE7A5;

TEST(AdapterTables, SupportedRowsAreTheMakersLaterAndEarlierFamilies) {
  auto table = supported_adapter_table();
  ASSERT_EQ(table.size(), 28u) << "27 rows and the end row";
  const SupportedAdapterRow& end = table.back();
  EXPECT_EQ(end.device_id | end.vendor_id | end.subsys_id | end.subsys_vendor_id, 0);
  std::set<std::pair<uint16_t, uint16_t>> seen;
  for (const SupportedAdapterRow& row : table.first(table.size() - 1)) {
    EXPECT_EQ(row.vendor_id, kMaker) << std::hex << row.device_id;
    EXPECT_EQ(row.subsys_vendor_id, kMaker) << std::hex << row.device_id;
    EXPECT_GE(row.device_id, 0x7A00);
    EXPECT_LE(row.device_id, 0x7AFF);
    const int family = chip_family(row.device_id);
    EXPECT_TRUE(family == 4 || family == 5 || family == 8 || family == 9)
        << std::hex << row.device_id << " family " << std::dec << family;
    EXPECT_TRUE(seen.insert({row.device_id, row.subsys_id}).second) << "row listed twice";
  }
}

TEST(AdapterTables, Lookups) {
  struct Case {
    uint16_t device_id, vendor_id, subsys_id, subsys_vendor_id;
    bool supported;
    int family;
  };
  const Case cases[] = {
      {0x7A81, kMaker, 0x0211, kMaker, true, 8},    // the demo machine's two-function adapter
      {0x7A45, kMaker, 0x0105, kMaker, true, 5},    // and its earlier-family adapter
      {0x7A81, 0x5C0B, 0x0211, kMaker, false, 8},   // another maker's vendor id
      {0x7A81, kMaker, 0x0211, 0x5C0B, false, 8},   // another subsystem vendor
      {0x7A81, kMaker, 0x0105, kMaker, false, 8},   // another model's subsystem
      {0x1209, 0x5C0B, 0x0001, 0x5C0B, false, 1},   // the demo's other network device
      {0, 0, 0, 0, false, 1},                       // the end row matches nothing
      {0x7AA0, kMaker, 0x0000, kMaker, false, 10},
      {0x7AFF, kMaker, 0x0000, kMaker, false, 1},   // no family row
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_supported_adapter(c.device_id, c.vendor_id, c.subsys_id, c.subsys_vendor_id),
              c.supported)
        << std::hex << c.device_id << ":" << c.subsys_id;
    EXPECT_EQ(chip_family(c.device_id), c.family) << std::hex << c.device_id;
  }
  PhyNic nic{};
  nic.vendor_id = kMaker;
  nic.device_id = 0x7A81;
  nic.subsys_vendor_id = kMaker;
  nic.subsys_id = 0x0211;
  EXPECT_TRUE(is_supported_adapter(nic));
}

TEST(AdapterTables, FamilyRowsAreUniqueAndInRange) {
  std::set<uint16_t> ids;
  std::set<int> families;
  for (const ChipFamilyRow& row : chip_family_table()) {
    EXPECT_TRUE(ids.insert(row.device_id).second) << std::hex << row.device_id;
    EXPECT_GE(row.device_id, 0x7A00);
    EXPECT_LE(row.device_id, 0x7AFF);
    families.insert(row.family);
  }
  EXPECT_EQ(*families.begin(), 1);
  EXPECT_EQ(*families.rbegin(), 10);
}

}  // namespace
