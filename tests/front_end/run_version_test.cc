// Whether a package is newer than what is installed, and the package tests
// of the selection.
#include <gtest/gtest.h>

#include <cstring>

#include "front_end/execution.h"
#include "front_end/selection.h"

namespace {

struct NewerCase {
  const char* installed;
  const char* package;
  bool newer;
};

TEST(RunVersion, ComparesFourNumbersWithTheOldNumberingRule) {
  const NewerCase cases[] = {
      {"22.31.6.0", "22.31.6.0", false},
      {"22.31.6.0", "22.31.6.1", true},
      {"22.31.6.1", "22.31.6.0", false},
      {"22.9.0.0", "22.10.0.0", true},  // numbers, not text
      {"21.80.1.0", "1.2.3.4", true},   // 21 and above 200 read as an older numbering
      {"218.0.1.0", "1.2.3.4", true},
      {"200.0.0.0", "1.2.3.4", false},
      {"22.0.0.0", "1.2.3.4", false},
      {"21.80.1.0", "20.0.0.0", false},
      {"", "0.0.0.1", true},            // empty and malformed parts read as 0
      {"", "", false},
      {"22", "22.0.0.1", true},
      {"22.x.5.0", "22.0.0.1", true},   // parsing stops at x: 22.0.0.0
      {"99999999999.0.0.0", "2147483647.0.0.1", true},  // clamped, no overflow
      {"-1.0.0.0", "0.0.0.0", true},
  };
  for (const NewerCase& c : cases)
    EXPECT_EQ(package_is_newer(c.installed, c.package), c.newer)
        << c.installed << " vs " << c.package;
}

struct MatchCase {
  const char* requires_ver;
  const char* installed;
  uint16_t subsys_vendor, subsys_id;
  uint8_t min_rev, max_rev;
  bool matches;
};

TEST(RunMatch, AppliesTheTestsInOrderAndComparesRequiresAsText) {
  PhyNic nic{};
  nic.device_id = 0x7A81;
  nic.subsys_vendor_id = 0xE7A5;
  nic.subsys_id = 0x0211;
  nic.revision = 0x11;
  const MatchCase cases[] = {
      {"", "22.1.0.0", 0xFFFF, 0xFFFF, 0, 0xFF, true},
      {"3.0.0.0", "22.1.0.0", 0xFFFF, 0xFFFF, 0, 0xFF, false},  // "3" sorts after "2"
      {"22.1.0.0", "3.0.0.0", 0xFFFF, 0xFFFF, 0, 0xFF, true},
      {"22.1.0.0", "22.1.0.0", 0xFFFF, 0xFFFF, 0, 0xFF, true},
      {"", "", 0xE7A5, 0x0211, 0x11, 0x11, true},
      {"", "", 0xE7A6, 0xFFFF, 0, 0xFF, false},
      {"", "", 0xFFFF, 0x0212, 0, 0xFF, false},
      {"", "", 0xFFFF, 0xFFFF, 0x12, 0xFF, false},
      {"", "", 0xFFFF, 0xFFFF, 0, 0x10, false},
  };
  for (const MatchCase& c : cases) {
    SupportedAdapter adapter{};
    adapter.nic = &nic;
    std::strcpy(adapter.installed_version, c.installed);
    PackageRecord package{};
    std::strcpy(package.path, "a.pkg");
    std::strcpy(package.requires_ver, c.requires_ver);
    package.dev_ids[0] = 0x7A80;
    package.dev_ids[1] = 0x7A81;
    package.dev_id_count = 2;
    package.subsys_vendor = c.subsys_vendor;
    package.subsys_id = c.subsys_id;
    package.min_chip_rev = c.min_rev;
    package.max_chip_rev = c.max_rev;
    EXPECT_EQ(match_package(adapter, &package, 1) == &package, c.matches)
        << c.requires_ver << " on " << c.installed;
  }
}

TEST(RunMatch, TheLastMatchingPackageWinsAndUnlistedDevicesAreSkipped) {
  PhyNic nic{};
  nic.device_id = 0x7A81;
  SupportedAdapter adapter{};
  adapter.nic = &nic;
  PackageRecord packages[3]{};
  for (PackageRecord& p : packages) {
    p.dev_ids[0] = 0x7A81;
    p.dev_id_count = 1;
    p.subsys_vendor = p.subsys_id = 0xFFFF;
    p.max_chip_rev = 0xFF;
  }
  packages[2].dev_ids[0] = 0x7A82;
  // A device id beyond dev_id_count does not count.
  packages[2].dev_ids[1] = 0x7A81;
  EXPECT_EQ(match_package(adapter, packages, 3), &packages[1]);
}

}  // namespace
