// Package installation into the update item and the firmware's verdict,
// against the simulated driver and firmware.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver_access/driver_access.h"
#include "nvm_inventory/nvm_inventory.h"
#include "package/package.h"
#include "tests/driver_access/sim_fixture.h"
#include "tools/pkgbuild/package_builder.h"

namespace {

using drvtest::kAdapter;

// A package with one firmware item of item_bytes bytes and, unless
// update_length is 0, a manifest entry for the update item declaring it.
std::vector<uint8_t> package(const std::string& version, size_t item_bytes, uint32_t update_length) {
  pkgbuild::Package p;
  p.properties = {pkgbuild::text_property(pkgbuild::TAG_DESCRIPTION, "Vantera-E firmware"),
                  pkgbuild::text_property(pkgbuild::TAG_VERSION, version),
                  pkgbuild::text_property(pkgbuild::TAG_TIMESTAMP, "2026-03-01 10:00:00")};
  pkgbuild::Bytes data(item_bytes);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + 1);
  p.entries.push_back({.dir_type = 4, .data = data});
  if (update_length != 0) {
    p.entries.push_back({.directive = 3, .dir_type = 2, .dir_item_length = update_length});
  }
  return pkgbuild::build_package(p);
}

nlohmann::json update_item(uint32_t allocation) {
  return {{"type", 2}, {"allocation", allocation}};
}

class InstallTest : public drvtest::SimTest {
 protected:
  int32_t install(const std::vector<uint8_t>& pkg, const char* name = kAdapter) {
    problem_ = 1234;
    reset_ = 0;
    return vrexnvmInstallPackage(name, pkg.data(), static_cast<uint32_t>(pkg.size()), &problem_,
                                 &reset_, 0, 0);
  }
  std::vector<uint32_t> modify_lengths() const {
    std::vector<uint32_t> out;
    for (const auto& c : calls_of("TSLY_NVRAMAccess.Modify")) {
      const size_t at = c.args.find("length=3:");
      out.push_back(static_cast<uint32_t>(std::stoul(c.args.substr(at + 9))));
    }
    return out;
  }
  std::string create_args() const {
    const auto c = calls_of("TSLY_NVRAMAccess.Create");
    return c.empty() ? std::string() : c[0].args;
  }

  int32_t problem_ = 0;
  uint8_t reset_ = 0;
};

TEST_F(InstallTest, UpdateItemSizes) {
  const struct {
    const char* name;
    nlohmann::json items;
    size_t item_bytes;
    uint32_t declared;
    int32_t expected_allocation;  // -1: no Create
    size_t chunks;
  } cases[] = {
      {"created, rounded to 4 KiB", nlohmann::json::array(), 9000, 8192, 0, 1},
      {"created with the declared size", nlohmann::json::array(), 9000, 65536, 65536, 1},
      {"large enough already: five chunks", {update_item(1048576)}, 299800, 8192, -1, 5},
      {"too small: recreated", {update_item(4096)}, 9000, 8192, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load({{"items", c.items}, {"nvm_size", 4 << 20}});
    const std::vector<uint8_t> pkg = package("1.0.0.1", c.item_bytes, c.declared);
    const int32_t status = install(pkg);
    const std::string create = create_args();
    if (c.expected_allocation < 0) {
      EXPECT_EQ(status, 0);
      EXPECT_TRUE(create.empty()) << create;
    } else {
      uint32_t allocation = c.expected_allocation != 0
                                ? static_cast<uint32_t>(c.expected_allocation)
                                : static_cast<uint32_t>((pkg.size() + 4095) / 4096 * 4096);
      EXPECT_NE(create.find("dir_type=3:2;dir_ordinal=3:0;dir_ext=3:0;dir_attr=3:1;dir_item_length=3:" +
                            std::to_string(allocation)),
                std::string::npos)
          << create;
    }
    EXPECT_EQ(status, 0);
    const std::vector<uint32_t> lengths = modify_lengths();
    ASSERT_EQ(lengths.size(), c.chunks);
    uint64_t total = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
      if (i + 1 < lengths.size()) {
        EXPECT_EQ(lengths[i], 65536u);
      }
      total += lengths[i];
    }
    EXPECT_EQ(total, pkg.size());
  }
}

TEST_F(InstallTest, RefusedBeforeWriting) {
  const struct {
    const char* name;
    nlohmann::json items;
    uint32_t declared;
    const char* adapter;
    int32_t status;
  } cases[] = {
      {"no manifest entry for the update item", {update_item(4096)}, 0, kAdapter, -80},
      {"direct PCI device name", {update_item(1048576)}, 8192, "x vrex_pci_dev 0", -59},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load({{"items", c.items}}, nlohmann::json::object(), c.adapter);
    EXPECT_EQ(install(package("1.0.0.1", 9000, c.declared), c.adapter), c.status);
    EXPECT_EQ(problem_, -1);
    EXPECT_TRUE(modify_lengths().empty());
    EXPECT_TRUE(calls_of("TSLY_NVRAMAccess.InstallUpdate").empty());
  }
}

TEST_F(InstallTest, FirmwareVerdicts) {
  const struct {
    const char* name;
    nlohmann::json firmware;
    int32_t status;
    int32_t problem;
    uint8_t reset;
  } cases[] = {
      {"installed, reset required", {{"reset_required", true}}, 0, -1, 1},
      {"installed, no reset", {{"reset_required", false}}, 0, -1, 0},
      {"write protected", {{"write_protected", true}}, 17, -1, 0},
      {"lockdown", {{"lockdown", true}}, 17, -1, 0},
      {"failing item", {{"failing_item", {{"type", 4}, {"result", 6}}}}, 6, 0, 0},
      {"anti-rollback", {{"anti_rollback", true}, {"package_log", {"t\tPkg\t2.0.0.0\tT"}}}, -151, -1, 0},
      {"driver without the request", {{"unsupported", {"InstallUpdate"}}}, 65535, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    nlohmann::json fw = c.firmware;
    fw["items"] = {update_item(1048576)};
    load(fw);
    EXPECT_EQ(install(package("1.0.0.1", 9000, 8192)), c.status);
    EXPECT_EQ(problem_, c.problem);
    EXPECT_EQ(reset_, c.reset);
  }
}

TEST_F(InstallTest, SequenceAndPersistence) {
  load({{"package_log", {"2025-01-01 00:00:00\tVantera-E firmware\t0.9.0.0\tOLD"}},
        {"items", {update_item(65536)}}});
  const std::vector<uint8_t> pkg = package("1.0.0.1", 9000, 8192);
  ASSERT_EQ(install(pkg), 0);
  std::vector<std::string> methods;
  for (const auto& m : driver_methods()) {
    if (m != "TSLY_NVRAMAccess.GetDirectoryInfo" && m != "TSLY_NVRAMAccess.GetDirectoryEntries") {
      methods.push_back(m);
    }
  }
  const std::vector<std::string> expected = {"TSLY_NVRAMAccess.Modify", "TSLY_FWTime.SetFwTime",
                                             "TSLY_NVRAMAccess.InstallUpdate"};
  EXPECT_EQ(methods, expected);
  const std::string time = calls_of("TSLY_FWTime.SetFwTime")[0].args;
  // time_zone is declared signed 16-bit: it lands as VT_I2 (second attempt).
  EXPECT_NE(time.find("time_zone=2:0;year=3:"), std::string::npos) << time;
  EXPECT_NE(calls_of("TSLY_NVRAMAccess.InstallUpdate")[0].args.find("install_type=3:0"), std::string::npos);

  // The next run finds the new package in the log and the item in NVM.
  restart();
  char text[256];
  EXPECT_EQ(installed_package_field(kAdapter, INSTALLED_PACKAGE_VERSION, text, sizeof text), 0);
  EXPECT_STREQ(text, "1.0.0.1");
  EXPECT_EQ(installed_package_field(kAdapter, INSTALLED_PACKAGE_TIMESTAMP, text, sizeof text), 0);
  EXPECT_STREQ(text, "2026-03-01 10:00:00");
  EXPECT_EQ(vrexnvmGetPackageVersion(kAdapter, text, sizeof text), 0);
  EXPECT_STREQ(text, "1.0.0.1");
  NvmDirEntry e{};
  ASSERT_GE(vrexnvmFindDirEntry(kAdapter, 4, 0, 0, &e), 0);
  EXPECT_EQ(e.data_length, 9000u);
  uint8_t status = 0;
  EXPECT_EQ(vrexnvmFwQueryStatus(kAdapter, true, &status), 0);
  EXPECT_EQ(status, 3);  // a cold boot is pending
}

TEST_F(InstallTest, CorruptPackageInTheUpdateItem) {
  load({{"items", {update_item(1048576)}}});
  std::vector<uint8_t> pkg = package("1.0.0.1", 9000, 8192);
  pkg[pkg.size() / 2] ^= 0xFF;
  EXPECT_GT(install(pkg), 0);
  char text[256];
  EXPECT_EQ(installed_package_field(kAdapter, INSTALLED_PACKAGE_VERSION, text, sizeof text),
            TSYRETVAL_ITEM_NOT_FOUND);
}

}  // namespace
