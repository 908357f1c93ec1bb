// The NVM directory, item, option and firmware methods against the
// simulated firmware.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver_access/driver_access.h"
#include "tests/driver_access/sim_fixture.h"

namespace {

using drvtest::kAdapter;

nlohmann::json item(int type, int ordinal, int ext, size_t length, int allocation = 0) {
  nlohmann::json j = {{"type", type}, {"ordinal", ordinal}, {"ext", ext},
                      {"fill", {{"byte", type}, {"length", length}}}};
  if (allocation != 0) j["allocation"] = allocation;
  return j;
}

class NvmTest : public drvtest::SimTest {};

TEST_F(NvmTest, DirectoryShapes) {
  nlohmann::json many = nlohmann::json::array();
  for (int i = 0; i < 101; ++i) many.push_back(item(0x40, i, 0, 8));
  const struct {
    const char* name;
    nlohmann::json firmware;
    int32_t lookup;          // vrexnvmFindDirEntry(type 0x40, ordinal 1)
    uint32_t count;          // from vrexnvmGetDirectory
    uint32_t entry_length;
    int32_t directory;
  } cases[] = {
      {"entries of 20 bytes", {{"dir_entry_length", 20}, {"items", {item(0x40, 1, 0, 8)}}}, -10, 0, 20, -10},
      {"entries of 32 bytes", {{"dir_entry_length", 32}, {"items", {item(3, 0, 0, 8), item(0x40, 1, 0, 8)}}},
       1, 2, 32, 0},
      {"empty directory", {{"items", nlohmann::json::array()}}, -80, 0, 24, 0},
      {"101 entries", {{"items", many}}, -4, 101, 24, 0},
      {"duplicate identity: the first", {{"items", {item(3, 0, 0, 8), item(0x40, 1, 0, 8), item(0x40, 1, 0, 16)}}},
       1, 3, 24, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load(c.firmware);
    NvmDirEntry e{};
    EXPECT_EQ(vrexnvmFindDirEntry(kAdapter, 0x40, 1, 0, &e), c.lookup);
    if (c.lookup >= 0) {
      EXPECT_EQ(e.dir_type, 0x40);
      EXPECT_EQ(e.data_length, 8u);
    }
    uint32_t count = 0;
    uint32_t entry_length = 0;
    std::vector<uint8_t> raw(4096);
    EXPECT_EQ(vrexnvmGetDirectory(kAdapter, &count, &entry_length, raw.data(), 4096), c.directory);
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(entry_length, c.entry_length);
    if (c.count == 0) {
      for (const auto& call : driver_methods()) EXPECT_NE(call, "TSLY_NVRAMAccess.GetDirectoryEntries");
    }
    machine_->clear_calls();
  }
}

TEST_F(NvmTest, ReadDirectoryNeedsRoomForEveryEntry) {
  load({{"items", {item(3, 0, 0, 8), item(4, 0, 0, 8), item(5, 0, 0, 8)}}});
  NvmDirEntry entries[3] = {};
  uint32_t count = 0;
  EXPECT_EQ(vrexnvmReadDirectory(kAdapter, &count, entries, 2), -4);
  EXPECT_EQ(vrexnvmReadDirectory(kAdapter, &count, entries, 3), 0);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(entries[2].dir_type, 5);
  EXPECT_EQ(entries[2].dir_item_length, 4096u);
}

TEST_F(NvmTest, ChunkedWriteAndShortRead) {
  load({{"items", {item(0x40, 0, 0, 0, 262144)}}});
  std::vector<uint8_t> data(150000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(vrexnvmModifyItem(kAdapter, 0, 0, data.data(), 150000), 0);
  const auto modifies = calls_of("TSLY_NVRAMAccess.Modify");
  ASSERT_EQ(modifies.size(), 3u);
  const char* expected[] = {"offset=3:0;length=3:65536;buffer=8209:[65536]",
                            "offset=3:65536;length=3:65536;buffer=8209:[65536]",
                            "offset=3:131072;length=3:18928;buffer=8209:[18928]"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NE(modifies[i].args.find(expected[i]), std::string::npos) << modifies[i].args;
  }
  // Every chunk fetches the class and signature anew.
  size_t class_fetches = 0;
  for (const auto& c : machine_->calls()) {
    if (c.service == "wmi" && c.call == "get_object" && c.args == "root\\wmi|TSLY_NVRAMAccess") ++class_fetches;
  }
  EXPECT_EQ(class_fetches, 3u);

  // Nothing to write: no call at all.
  machine_->clear_calls();
  EXPECT_EQ(vrexnvmModifyItem(kAdapter, 0, 150000, data.data(), 150000), 0);
  EXPECT_TRUE(driver_calls().empty());

  // A read past the valid data returns what there is; the rest stays.
  std::vector<uint8_t> back(150010, 0xEE);
  EXPECT_EQ(vrexnvmReadItem(kAdapter, 0, 0, back.data(), 150010), 0);
  EXPECT_EQ(std::memcmp(back.data(), data.data(), data.size()), 0);
  EXPECT_EQ(back[150000], 0xEE);
  EXPECT_EQ(back[150009], 0xEE);
}

TEST_F(NvmTest, FailedChunkStopsTheWriteAndNegatesTheLastError) {
  load({{"items", {item(0x40, 0, 0, 0, 100000)}}});
  std::vector<uint8_t> data(150000, 1);
  // The item holds 100,000 bytes: the second chunk runs past it.
  const int32_t status = vrexnvmModifyItem(kAdapter, 0, 0, data.data(), 150000);
  EXPECT_LT(status, 0);
  EXPECT_EQ(-status, vrexnvmGetLastError(kAdapter, u"Modify"));
  EXPECT_EQ(calls_of("TSLY_NVRAMAccess.Modify").size(), 2u);
  NvmDirEntry e{};
  ASSERT_EQ(vrexnvmFindDirEntry(kAdapter, 0x40, 0, 0, &e), 0);
  EXPECT_EQ(e.data_length, 65536u);  // the first chunk stays written
}

TEST_F(NvmTest, CreateRefusalsAndDefragmentation) {
  const struct {
    const char* name;
    nlohmann::json firmware;
    uint32_t allocation;
    int32_t first;
    bool defrag_helps;
  } cases[] = {
      {"fits", {{"nvm_size", 65536}}, 8192, 0, false},
      {"no space", {{"nvm_size", 65536}, {"items", {item(3, 0, 0, 8, 61440)}}}, 8192, -158, false},
      {"fragmented", {{"nvm_size", 65536}, {"fragmented", true}}, 8192, -157, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load(c.firmware);
    const int32_t first = vrexnvmCreateItem(kAdapter, 0x40, 0, 0, 1, c.allocation);
    EXPECT_EQ(first, c.first);
    if (c.defrag_helps) {
      EXPECT_EQ(vrexnvmDefrag(kAdapter), 0);
      EXPECT_EQ(vrexnvmCreateItem(kAdapter, 0x40, 0, 0, 1, c.allocation), 0);
    }
    NvmDirEntry e{};
    if (first >= 0 || c.defrag_helps) {
      EXPECT_GE(vrexnvmFindDirEntry(kAdapter, 0x40, 0, 0, &e), 0);
      EXPECT_EQ(e.dir_item_length, c.allocation);
      EXPECT_EQ(e.dir_attr, 1);
    }
  }
}

TEST_F(NvmTest, OptionsStageUntilFlushAndFactoryDefaultsRestore) {
  load({{"options", {{{"num", 203}, {"index", 0}, {"bits", 4}, {"value", 2}}}}, {"secure_soc", true}});
  NvmOptionRequest r{};
  r.option_num = 203;
  r.length = 4;
  r.dimensions = 1;
  auto read = [&] {
    NvmOptionRequest g = r;
    std::memset(g.value, 0xEE, sizeof g.value);
    EXPECT_EQ(vrexnvmGetNvmOption(kAdapter, &g), 0);
    EXPECT_EQ(g.value[4], 0xEE);  // at most length (4) bytes come back
    return g.value[0];
  };
  EXPECT_EQ(read(), 2);
  NvmOptionRequest s = r;
  s.value[0] = 5;
  EXPECT_EQ(vrexnvmSetNvmOption(kAdapter, &s), 0);
  EXPECT_NE(calls_of("TSLY_NVRAMAccess.SetNvmOpt")[0].args.find("in_buff=8209:[4]"), std::string::npos);
  EXPECT_EQ(read(), 2);
  EXPECT_EQ(vrexnvmFlushNvm(kAdapter, &r), 0);
  EXPECT_EQ(read(), 5);
  restart();
  EXPECT_EQ(read(), 5);
  uint8_t done = 0;
  EXPECT_EQ(vrexnvmFactoryDefaults(kAdapter, 0, &done), 0);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(read(), 2);

  NvmOptionRequest soc{};
  soc.option_num = 27;
  soc.length = 1;
  soc.dimensions = 1;
  EXPECT_EQ(vrexnvmGetNvmOption(kAdapter, &soc), 0);
  EXPECT_EQ(soc.value[0], 1);
  NvmOptionRequest mac{};
  mac.option_num = 1;
  mac.length = 64;
  mac.dimensions = 1;
  mac.index[0] = 1;
  EXPECT_EQ(vrexnvmGetNvmOption(kAdapter, &mac), 0);
  const uint8_t expected_mac[6] = {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
  EXPECT_EQ(std::memcmp(mac.value, expected_mac, 6), 0);
  NvmOptionRequest unknown = r;
  unknown.option_num = 999;
  EXPECT_GT(vrexnvmGetNvmOption(kAdapter, &unknown), 0);
}

TEST_F(NvmTest, FirmwareResetHealthAndSync) {
  const struct {
    const char* name;
    bool counter_moves;
    uint32_t after;
  } cases[] = {{"counter moves", true, 4}, {"counter stuck", false, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load({{"reset_count", 3}, {"reset_counter_moves", c.counter_moves}, {"health", 0x20}});
    uint32_t count = 0;
    EXPECT_EQ(vrexnvmResetFw(kAdapter, 0), 0);
    EXPECT_EQ(vrexnvmGetFwResetCount(kAdapter, &count), 0);
    EXPECT_EQ(count, c.after);
    const std::string args = calls_of("TSLY_NVRAMAccess.ResetFw")[0].args;
    EXPECT_NE(args.find("processor_type=17:6;reset_type=17:1;reset_flag=17:0"), std::string::npos) << args;
  }
  uint32_t health = 0;
  EXPECT_EQ(vrexnvmGetFwHealthStatus(kAdapter, &health), 0);
  EXPECT_EQ(health & 0x55E2A, 0x20u);
  uint32_t sync = 0;
  EXPECT_EQ(vrexnvmSyncFwImages(kAdapter, &sync), 0);
  EXPECT_EQ(sync, 0x80000000u);
  EXPECT_NE(calls_of("TSLY_NVRAMAccess.SyncFwImages")[0].args.find("sync_actions=3:-2147483585"),
            std::string::npos);
  EXPECT_EQ(vrexnvmGetFwHealthStatus(kAdapter, &health), 0);
  EXPECT_EQ(health, 0u);
}

TEST_F(NvmTest, RegisterReadClearsTheLowBits) {
  load(nlohmann::json::object());
  uint32_t value = 0;
  EXPECT_EQ(vrexnvmReadBar(kAdapter, 0x10, &value), 0);
  EXPECT_EQ(value, 0xF0000000u + (59u << 20));
}

TEST_F(NvmTest, PackageVersionProperty) {
  const struct {
    const char* name;
    nlohmann::json firmware;
    size_t size;
    int32_t status;
    std::string text;
  } cases[] = {
      {"from the package log", {{"package_log", {"t\tPkg\t226.1.107.0\tTS"}}}, 256, 0, "226.1.107.0"},
      {"override", {{"package_version", "230.0.0.1"}}, 256, 0, "230.0.0.1"},
      {"300 characters do not fit 256", {{"package_version", std::string(300, '9')}}, 256, -1, ""},
      {"255 characters fit 256", {{"package_version", std::string(255, '9')}}, 256, 0, std::string(255, '9')},
      {"non-ASCII in UTF-8", {{"package_version", "1.0 \xC3\xA9"}}, 256, 0, "1.0 \xC3\xA9"},
      {"no value", {{"package_version", nullptr}}, 256, -41, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    load(c.firmware);
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(vrexnvmGetPackageVersion(kAdapter, buffer, c.size), c.status);
    if (c.status == 0) {
      EXPECT_EQ(std::string(buffer), c.text);
    }
  }
}

}  // namespace
