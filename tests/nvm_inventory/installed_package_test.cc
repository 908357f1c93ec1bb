// installed_package_field against the simulated firmware's package log.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "nvm_inventory/nvm_inventory.h"
#include "package/package.h"
#include "tests/driver_access/sim_fixture.h"

namespace {

using drvtest::kAdapter;

nlohmann::json log_item(const std::string& text, int attr = 0, int fill = 0) {
  nlohmann::json j = {{"type", 1}, {"attr", attr}, {"text", text}};
  if (fill != 0) j["fill"] = {{"byte", 255}, {"length", fill}};
  return j;
}

class InstalledPackageTest : public drvtest::SimTest {};

TEST_F(InstalledPackageTest, Table) {
  const std::string two = "t0\tFirst\t1.0.0.1\tTS1\nt1\tFW Patch\t9.9\tTS9\n";
  // With the trailer bit the version comes from the last 288 bytes only.
  const std::string trailer = "t0\tOld\t0.1\tTSX\n" + std::string(300, ' ') + "\nt1\tNew\t2.0\tTS2\n";
  const struct {
    const char* name;
    nlohmann::json items;
    const char* device;
    InstalledPackageSelector selector;
    int32_t status;
    std::string text;
  } cases[] = {
      {"version passes over a patch line", {log_item(two)}, kAdapter, INSTALLED_PACKAGE_VERSION, 0, "1.0.0.1"},
      {"timestamp", {log_item(two)}, kAdapter, INSTALLED_PACKAGE_TIMESTAMP, 0, "TS1"},
      {"description", {log_item(two)}, kAdapter, INSTALLED_PACKAGE_DESCRIPTION, 0, "First"},
      {"0xFF after the last line", {log_item("t\tA\t1.0\tT1\nt\tB\t2.0\tT2", 0, 64)}, kAdapter,
       INSTALLED_PACKAGE_VERSION, 0, "2.0"},
      {"field of 300 bytes: first 128", {log_item("t\tA\t" + std::string(300, 'v') + "\n")}, kAdapter,
       INSTALLED_PACKAGE_VERSION, 0, std::string(128, 'v')},
      {"only 0xFF", {log_item("", 0, 64)}, kAdapter, INSTALLED_PACKAGE_VERSION, TSYRETVAL_VERSION_INFO_NOT_FOUND, ""},
      {"shorter than 8 bytes", {log_item("t\tA\t1")}, kAdapter, INSTALLED_PACKAGE_VERSION,
       TSYRETVAL_INVALID_DATA_LENGTH, ""},
      {"no package log", nlohmann::json::array(), kAdapter, INSTALLED_PACKAGE_VERSION, TSYRETVAL_ITEM_NOT_FOUND, ""},
      {"trailer bit: version from the last 288 bytes", {log_item(trailer, 0x10)}, kAdapter,
       INSTALLED_PACKAGE_VERSION, 0, "2.0"},
      {"trailer bit: description from the whole item", {log_item(trailer, 0x10)}, kAdapter,
       INSTALLED_PACKAGE_DESCRIPTION, 0, "New"},
      {"trailer bit on a short item", {log_item("t\tA\t1.0\tT\n", 0x10)}, kAdapter, INSTALLED_PACKAGE_VERSION,
       TSYRETVAL_TRAILER_NOT_FOUND, ""},
      {"direct PCI device name", {log_item(two)}, "pci vrex_pci_dev 3", INSTALLED_PACKAGE_VERSION,
       TSYRETVAL_UNSUPPORTED_PLATFORM, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load({{"items", c.items}}, nlohmann::json::object(), c.device);
    char dest[256];
    std::memset(dest, 'x', sizeof dest);
    EXPECT_EQ(installed_package_field(c.device, c.selector, dest, sizeof dest), c.status);
    EXPECT_EQ(std::string(dest), c.text);
    EXPECT_EQ(dest[255], '\0');
    if (c.status == TSYRETVAL_UNSUPPORTED_PLATFORM) {
      EXPECT_TRUE(calls_of("TSLY_NVRAMAccess.Read").empty());
    }
  }
}

TEST_F(InstalledPackageTest, SmallDestinationKeepsItsTerminator) {
  load({{"items", {log_item("t\tA\t1.2.3.4\tT\n")}}});
  char dest[4];
  EXPECT_EQ(installed_package_field(kAdapter, INSTALLED_PACKAGE_VERSION, dest, sizeof dest), 0);
  EXPECT_STREQ(dest, "1.2");
}

}  // namespace
