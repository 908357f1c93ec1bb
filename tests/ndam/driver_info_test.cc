// driver_info_test.cc: what a fill reads from the driver (NDIS queries) and
// from the adapter's settings, and how failures leave the fields.
#include "tests/ndam/ndam_fixture.h"

namespace ndam_test {
namespace {

json Oid(std::uint32_t oid, const json& answer) {
  char key[16];
  std::snprintf(key, sizeof key, "0x%08X", oid);
  return json{{"overrides", {{"oids", {{key, answer}}}}}};
}

// The adapter with patch merged in; nulls in patch stay (they remove
// values in the machine's overrides).
json With(json adapter, const json& patch) {
  adapter.update(patch, true);
  return adapter;
}

TEST_F(NdamTest, DriverFieldsOfAConnectedAdapter) {
  json a = Adapter();
  a["mac"] = "02:1a:2b:3c:4d:5e";
  a["permanent_mac"] = "02-1A-2B-3C-4D-5F";
  a["driver"] = {{"version", "238.1.185.0"}};
  a["link"] = {{"speed_mbps", 25000}, {"duplex", "full"}, {"max_frame_size", 9014},
               {"pcie_width", 8}, {"pcie_speed", 3}};
  a["settings"] = {{"flow_control", "3"}, {"wake_on_magic_packet", "0"}};
  PhyNic r = OneRecord(a);
  EXPECT_STREQ(r.current_mac, "021A2B3C4D5E");
  EXPECT_STREQ(r.permanent_mac, "021A2B3C4D5F");
  EXPECT_STREQ(r.driver_version, "238.1.185.0");
  EXPECT_EQ(r.driver_loaded, 1u);
  EXPECT_EQ(r.driver_reached, 1u);
  EXPECT_EQ(r.media_connected, 1u);
  EXPECT_EQ(r.physical_medium, ngNDAM_MEDIUM_802_3);
  EXPECT_EQ(r.link_speed, 25000u);
  EXPECT_EQ(r.duplex, 2u);
  EXPECT_EQ(r.tx_link_speed, 25000000000ull);
  EXPECT_EQ(r.rx_link_speed, 25000000000ull);
  EXPECT_EQ(r.max_frame_size, 9014u);
  EXPECT_EQ(r.pcie_link_width, 8u);
  EXPECT_EQ(r.pcie_link_speed, 3u);
  EXPECT_EQ(r.flow_control, 3u);
  EXPECT_EQ(r.wake_on_magic_packet, 0u);
  EXPECT_EQ(r.listed_device, 1u);
  EXPECT_EQ(r.locked, 0u);
}

struct SpeedCase {
  std::uint32_t speed_mbps;
  bool connected;
  std::uint32_t link_speed;
};

TEST_F(NdamTest, LinkSpeedTable) {
  const SpeedCase cases[] = {
      {10, true, 10},         {100, true, 100},      {1000, true, 1000},
      {2500, true, 2500},     {10000, true, 10000},  {25000, true, 25000},
      {40000, true, 40000},   {50000, true, 50000},  {5000, true, 0},
      {100000, true, 0},      {25000, false, 0},
  };
  for (const SpeedCase& c : cases) {
    SCOPED_TRACE(c.speed_mbps);
    json a = Adapter();
    a["link"] = {{"speed_mbps", c.speed_mbps}, {"connected", c.connected}};
    PhyNic r = OneRecord(a);
    EXPECT_EQ(r.media_connected, c.connected ? 1u : 0u);
    EXPECT_EQ(r.link_speed, c.link_speed);
    // A disconnected adapter is not asked for its speed.
    EXPECT_EQ(Calls("device_io", "io_control", "00010107") > 0, c.connected);
    ngNdamUninitialize();
  }
}

TEST_F(NdamTest, LinkStateNeedsNdis6) {
  struct Case {
    const char* ndis;
    bool link_state;
  } cases[] = {{"6.82", true}, {"6.0", true}, {"5.1", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ndis);
    json a = Adapter();
    a["ndis_version"] = c.ndis;
    a["link"] = {{"speed_mbps", 10000}, {"duplex", "half"}, {"pcie_width", 4}};
    a["settings"] = {{"flow_control", "2"}};
    PhyNic r = OneRecord(a);
    EXPECT_EQ(Calls("device_io", "io_control", "00010207") > 0, c.link_state);
    EXPECT_EQ(r.tx_link_speed, c.link_state ? 10000000000ull : ~0ull);
    EXPECT_EQ(r.rx_link_speed, c.link_state ? 10000000000ull : ~0ull);
    EXPECT_EQ(r.duplex, c.link_state ? 1u : 0u);
    EXPECT_EQ(r.pcie_link_width, c.link_state ? 4u : 0u);
    EXPECT_EQ(r.flow_control, c.link_state ? 2u : 0u);
    EXPECT_EQ(r.link_speed, 10000u);
    ngNdamUninitialize();
  }
}

TEST_F(NdamTest, PhysicalMedium) {
  struct Case {
    const char* medium;
    std::uint32_t expected;
  } cases[] = {{"802.3", ngNDAM_MEDIUM_802_3},
               {"fibre", ngNDAM_MEDIUM_FIBRE_CHANNEL},
               {"wireless", ngNDAM_MEDIUM_OTHER}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.medium);
    PhyNic r = OneRecord(With(Adapter(), {{"link", {{"medium", c.medium}}}}));
    EXPECT_EQ(r.physical_medium, c.expected);
    ngNdamUninitialize();
  }
}

struct AnswerCase {
  const char* name;
  json adapter;
  const char* log_text;
  const char* current_mac;
  const char* permanent_mac;
  std::uint32_t max_frame_size;
};

// Optional answers that fail or have the wrong length leave their field and
// the fill goes on; a failed required query stops it with 14.
TEST_F(NdamTest, FailedOrShortAnswers) {
  json a = Adapter();
  a["mac"] = "021a2b3c4d5e";
  a["link"] = {{"max_frame_size", 1514}};
  const AnswerCase cases[] = {
      {"MAC of 8 bytes", With(a, Oid(0x01010102, {{"data", "0102030405060708"}})),
       "invalid MAC address length(8)\r\n", "", "021A2B3C4D5E", 1514},
      {"MAC query fails", With(a, Oid(0x01010102, {{"error", 31}})),
       "DeviceIoControl() OID_802_3_CURRENT_ADDRESS failed(31)\r\n", "", "021A2B3C4D5E", 1514},
      {"permanent address of 4 bytes", With(a, Oid(0x01010101, {{"data", "01020304"}})),
       "invalid permanent address length(4)\r\n", "021A2B3C4D5E", "", 1514},
      {"NDIS version query fails", With(a, Oid(0x00010110, {{"error", 31}})),
       "DeviceIoControl() OID_GEN_DRIVER_VERSION failed(31)\r\n", "021A2B3C4D5E",
       "021A2B3C4D5E", 0},
      {"media query fails", With(a, Oid(0x00010114, {{"error", 31}})),
       "DeviceIoControl failed(31)\r\n", "021A2B3C4D5E", "021A2B3C4D5E", 0},
      {"frame size query fails", With(a, Oid(0x00010106, {{"error", 31}})),
       "ReadDriverGenInfo() DoNicIOCTL() failed 31\r\n", "021A2B3C4D5E", "021A2B3C4D5E", 0},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    Load(MachineOf({c.adapter}));
    LogAll();
    ASSERT_EQ(Init(), ngNDAM_OK);
    std::vector<PhyNic> r = Records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_NE(Log().find(c.log_text), std::string::npos) << Log();
    EXPECT_STREQ(r[0].current_mac, c.current_mac);
    EXPECT_STREQ(r[0].permanent_mac, c.permanent_mac);
    EXPECT_EQ(r[0].max_frame_size, c.max_frame_size);
    bool stopped = c.max_frame_size == 0;
    EXPECT_EQ(Log().find("ReadDriverGenInfo() uRet = 14 ") != std::string::npos, stopped);
    ngNdamUninitialize();
  }
}

TEST_F(NdamTest, StoppedDriverLeavesDriverFields) {
  json a = Adapter();
  a["device_object"] = false;
  Load(MachineOf({a}));
  LogAll();
  ASSERT_EQ(Init(), ngNDAM_OK);
  std::vector<PhyNic> r = Records();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].driver_loaded, 0u);
  EXPECT_EQ(r[0].driver_reached, 0u);
  EXPECT_STREQ(r[0].current_mac, "");
  EXPECT_STREQ(r[0].driver_version, "");
  std::string expected = "CreateFile failed(2), driver not loaded(" +
                         machine_->adapters()[0].net_cfg_instance_id + ")\r\n";
  EXPECT_NE(Log().find(expected), std::string::npos) << Log();
}

TEST_F(NdamTest, SettingTexts) {
  struct Case {
    const char* name;
    json adapter;
    const char* driver_version;
    std::uint32_t has_vlan, vlan_id, wake;
  } cases[] = {
      {"no VLAN", With(Adapter(), {{"settings", {{"vlan_id", "0"}}}}), "238.1.185.0", 0, 0, 1},
      {"VLAN 100", With(Adapter(), {{"settings", {{"vlan_id", 100}}}}), "238.1.185.0", 1, 100, 1},
      {"VLAN not a number", With(Adapter(), {{"settings", {{"vlan_id", "none"}}}}), "238.1.185.0",
       0, 0, 1},
      {"no VLAN value",
       With(Adapter(), {{"overrides", {{"class_key", {{"VlanID", nullptr}}}}}}), "238.1.185.0", 0,
       0, 1},
      {"39-character version",
       With(Adapter(), {{"driver", {{"version", std::string(39, '9')}}}}),
       "999999999999999999999999999999999999999", 0, 0, 1},
      {"40-character version",
       With(Adapter(), {{"driver", {{"version", std::string(40, '9')}}}}), "", 0, 0, 1},
      {"wake on magic packet off",
       With(Adapter(), {{"settings", {{"wake_on_magic_packet", "0"}}}}), "238.1.185.0", 0, 0, 0},
      {"numeric setting",
       With(Adapter(), {{"overrides", {{"class_key", {{"*WakeOnMagicPacket", {{"dword", 0}}}}}}}}),
       "238.1.185.0", 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PhyNic r = OneRecord(c.adapter);
    EXPECT_STREQ(r.driver_version, c.driver_version);
    EXPECT_EQ(r.vlan.has_vlan, c.has_vlan);
    EXPECT_EQ(r.vlan.vlan.vlan_id, c.vlan_id);
    EXPECT_EQ(r.vlan.vlan_count, c.has_vlan);
    EXPECT_EQ(r.vlan.vlan.word0, c.has_vlan);
    EXPECT_EQ(r.vlan.vlan.word1, 0u);
    EXPECT_EQ(r.wake_on_magic_packet, c.wake);
    ngNdamUninitialize();
  }
}

TEST_F(NdamTest, ListedDeviceFlag) {
  struct Case {
    std::uint16_t vendor, device;
    std::uint32_t listed;
  } cases[] = {{0xE7A5, 0x7A81, 1}, {0xE7A5, 0x7A45, 1}, {0x1234, 0x7A81, 1}, {0xE7A5, 0x7A00, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    PhyNic r = OneRecord(Adapter(c.device, c.vendor));
    EXPECT_EQ(r.listed_device, c.listed);
    ngNdamUninitialize();
  }
}

struct SriovCase {
  const char* name;
  json adapter;
  std::uint32_t state;
  std::uint16_t vfs, allocated;
  bool queried;
};

TEST_F(NdamTest, SriovState) {
  const json enabled = {{"sriov", {{"enabled", true}, {"num_vfs", 8}, {"allocated_vfs", 4}}}};
  const SriovCase cases[] = {
      {"earlier family of the maker", With(Adapter(0x7A45), enabled), ngNDAM_SRIOV_NOT_QUERIED, 0,
       0, false},
      {"same device id, other vendor", With(Adapter(0x7A45, 0x1234), enabled),
       ngNDAM_SRIOV_ENABLED, 8, 4, true},
      {"enabled", With(Adapter(), enabled), ngNDAM_SRIOV_ENABLED, 8, 4, true},
      {"counts keep their low 16 bits",
       With(Adapter(), {{"sriov", {{"enabled", true}, {"num_vfs", 0x10005}, {"allocated_vfs", 2}}}}),
       ngNDAM_SRIOV_ENABLED, 5, 2, true},
      {"disabled", With(Adapter(), {{"sriov", {{"enabled", false}, {"num_vfs", 8}}}}),
       ngNDAM_SRIOV_DISABLED, 0, 0, true},
      {"no instance", Adapter(), ngNDAM_SRIOV_UNKNOWN, 0, 0, true},
      {"Enabled without value", With(Adapter(), {{"sriov", json::object()}}),
       ngNDAM_SRIOV_UNKNOWN, 0, 0, true},
  };
  for (const SriovCase& c : cases) {
    SCOPED_TRACE(c.name);
    PhyNic r = OneRecord(c.adapter);
    EXPECT_EQ(r.sriov_state, c.state);
    EXPECT_EQ(r.sriov_vf_count, c.vfs);
    EXPECT_EQ(r.sriov_allocated_vf_count, c.allocated);
    EXPECT_EQ(Calls("wmi", "get_object", "MSFT_NetAdapterSriovSettingData") > 0, c.queried);
    // A known state is not asked again; an unknown one is.
    machine_->clear_calls();
    Records();
    EXPECT_EQ(Calls("wmi", "get_object", "MSFT_NetAdapterSriovSettingData") > 0,
              c.state == ngNDAM_SRIOV_UNKNOWN);
    ngNdamUninitialize();
  }
}

struct RegisterCase {
  const char* name;
  json registers;
  std::uint32_t chip_id;
  std::uint32_t bar0, bar1;
  const char* log_text;
};

TEST_F(NdamTest, ChipIdentityAndBars) {
  const RegisterCase cases[] = {
      {"chip registers",
       {{"0x00260048", 0x1234}, {"0x0026004C", 0x05}, {"0x00260050", 0x01}}, 0x12340501u,
       0xF0100000u, 0, nullptr},
      {"wide revision lands in the number",
       {{"0x00260048", 0x1234}, {"0x0026004C", 0x105}, {"0x00260050", 0x01}}, 0x12350501u,
       0xF0100000u, 0, nullptr},
      {"revision unreadable",
       {{"0x00260048", 0x1234}, {"0x0026004C", {{"error", 0x80041004u}}}}, 0, 0xF0100000u, 0,
       "VrexGetChipInfo(). Reading Chip Revision info failed \n"},
      {"number unreadable", {{"0x00260048", {{"error", 0x80041004u}}}}, 0, 0xF0100000u, 0,
       "VrexGetChipInfo(). Reading Chip number info failed \n"},
      {"BARs lose their low four bits", {{"0x00000010", 0xE000000Fu}, {"0x00000014", 0x1234567Cu}},
       0x7A81000Cu, 0xE0000000u, 0x12345670u, nullptr},
      {"BAR unreadable", {{"0x00000010", {{"error", 0x80041004u}}}}, 0x7A81000Cu, 0, 0, nullptr},
  };
  for (const RegisterCase& c : cases) {
    SCOPED_TRACE(c.name);
    json a = Adapter(0x7A81);
    a["pci"]["revision"] = 0x0C;
    a["location"] = {{"bus", 1}, {"device", 0}, {"function", 0}};
    a["registers"] = c.registers;
    Load(MachineOf({a}));
    LogAll();
    ASSERT_EQ(Init(), ngNDAM_OK);
    std::vector<PhyNic> r = Records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].chip_id, c.chip_id);
    EXPECT_EQ(r[0].bar[0], c.bar0);
    EXPECT_EQ(r[0].bar[1], c.bar1);
    if (c.log_text != nullptr) {
      EXPECT_NE(Log().find(c.log_text), std::string::npos) << Log();
    }
    ngNdamUninitialize();
  }
}

}  // namespace
}  // namespace ndam_test
