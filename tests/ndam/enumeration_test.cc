// enumeration_test.cc: which devices are listed, the identity and location
// of a listed adapter, and the record read operations.
#include "tests/ndam/ndam_fixture.h"

namespace ndam_test {
namespace {

struct FilterCase {
  const char* name;
  json adapter;
  bool listed;
  const char* log_text;  // nullptr: nothing to look for
};

// The adapter with patch merged in; nulls in patch stay (they remove
// values in the machine's overrides).
json With(json adapter, const json& patch) {
  adapter.update(patch, true);
  return adapter;
}

TEST_F(NdamTest, OnlyPhysicalVisibleVrexAdaptersAreListed) {
  const FilterCase cases[] = {
      {"physical", Adapter(), true, nullptr},
      {"virtual", With(Adapter(), {{"kind", "virtual"}}), false,
       "GetNicInfoW2k() virtual ComponentId ("},
      {"hidden", With(Adapter(), {{"kind", "hidden"}}), false, "GetNicInfoW2k() hidden ComponentId ("},
      {"virtual and physical", With(Adapter(), {{"characteristics", 0x5}}), false,
       "GetNicInfoW2k() virtual ComponentId ("},
      {"neither", With(Adapter(), {{"characteristics", 0x80}}), false,
       "adapter characteristics(0x00000080),"},
      {"upper-case driver file", With(Adapter(), {{"driver", {{"file", "VREXND.SYS"}}}}), false,
       nullptr},
      {"legacy driver", With(Adapter(), {{"driver", {{"file", "vlgnd60a.sys"}}}}), false, nullptr},
      {"no image path",
       With(Adapter(), {{"overrides", {{"service_key", {{"ImagePath", nullptr}}}}}}), false,
       nullptr},
      {"no NetCfgInstanceId",
       With(Adapter(), {{"overrides", {{"class_key", {{"NetCfgInstanceId", nullptr}}}}}}), false,
       "GetNicInfoW2k() RegQueryValueEx() 'NetCfgInstanceId' failed(2),"},
      {"no description",
       With(Adapter(), {{"overrides", {{"properties", {{"SPDRP_DEVICEDESC", nullptr}}}}}}), false,
       "GetNicInfoW2k() SetupDiGetDeviceRegistryProperty() SPDRP_DEVICEDESC failed(0x"},
      {"no manufacturer",
       With(Adapter(), {{"overrides", {{"properties", {{"SPDRP_MFG", nullptr}}}}}}), true,
       "GetNicInfoW2k() SetupDiGetDeviceRegistryProperty() SPDRP_MFG failed(0x"},
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.name);
    Load(MachineOf({c.adapter}));
    LogAll();
    EXPECT_EQ(Init(), c.listed ? ngNDAM_OK : ngNDAM_NO_ADAPTER);
    if (c.log_text != nullptr) {
      EXPECT_NE(Log().find(c.log_text), std::string::npos) << Log();
    }
    ngNdamUninitialize();
  }
}

TEST_F(NdamTest, RecordIdentityAndNames) {
  json named = Adapter(0x7A81);
  named["friendly_name"] = "Vantera 25G Port 1";
  named["description"] = "Vantera-E 2x25G";
  named["driver"] = {{"manufacturer", "Tessaly Networks"}};
  json unnamed = Adapter(0x7A45);
  unnamed["description"] = "Vantera-C 10G";
  json other = Adapter(0x7A82);
  other["driver"] = {{"service", "e1000"}, {"file", "e1000.sys"}};
  Load(MachineOf({named, other, unnamed}));
  ASSERT_EQ(Init(), ngNDAM_OK);
  std::vector<PhyNic> r = Records();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].handle, 1u);
  EXPECT_STREQ(r[0].name, "Vantera 25G Port 1");
  EXPECT_STREQ(r[0].description, "Vantera-E 2x25G");
  EXPECT_STREQ(r[0].manufacturer, "Tessaly Networks");
  EXPECT_STREQ(r[0].driver_file_name, "vrexnd.sys");
  EXPECT_STREQ(r[0].service_name, "vrexnd");
  EXPECT_EQ(r[0].nic_type, ngNDAM_NIC_TYPE_VREX);
  EXPECT_EQ(std::string(r[0].net_cfg_instance_id),
            machine_->adapters()[0].net_cfg_instance_id);
  EXPECT_EQ(r[1].handle, 2u);
  EXPECT_STREQ(r[1].name, "Vantera-C 10G");
  EXPECT_EQ(r[1].device_id, 0x7A45);
  for (const PhyNic& n : r) EXPECT_EQ(n.segment, 0u);
}

struct PciIdCase {
  const char* instance_id;
  std::uint16_t vendor, device, subsys, subsys_vendor;
  std::uint8_t revision;
};

TEST_F(NdamTest, PciIdsAreReadByPosition) {
  const PciIdCase cases[] = {
      {"PCI\\VEN_1A2B&DEV_3C4D&SUBSYS_5E6F7081&REV_10\\4&0&0008", 0x1A2B, 0x3C4D, 0x5E6F, 0x7081,
       0x10},
      {"pci\\ven_e7a5&dev_7a81&subsys_0101e7a5&rev_0c\\4&1&00", 0xE7A5, 0x7A81, 0x0101, 0xE7A5,
       0x0C},
      // Characters that are no hexadecimal digits count as 0.
      {"PCI\\VEN_E7G5&DEV_7A81&SUBSYS_0101E7A5&REV_ZZ\\4", 0xE705, 0x7A81, 0x0101, 0xE7A5, 0x00},
      // A short id is read as far as it goes.
      {"PCI\\VEN_E7A5&DEV_7A", 0xE7A5, 0x7A00, 0, 0, 0},
      {"PCI", 0, 0, 0, 0, 0},
      // Another enumerator gives no PCI identity.
      {"USB\\VID_1234&PID_5678\\0001", 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFF},
  };
  for (const PciIdCase& c : cases) {
    SCOPED_TRACE(c.instance_id);
    json a = Adapter();
    a["instance_id"] = c.instance_id;
    PhyNic r = OneRecord(a);
    EXPECT_EQ(r.vendor_id, c.vendor);
    EXPECT_EQ(r.device_id, c.device);
    EXPECT_EQ(r.subsys_id, c.subsys);
    EXPECT_EQ(r.subsys_vendor_id, c.subsys_vendor);
    EXPECT_EQ(r.revision, c.revision);
    ngNdamUninitialize();
  }
}

struct LocationCase {
  const char* name;
  json properties;
  std::uint32_t bus_type;
  std::int32_t bus, device, function;
};

TEST_F(NdamTest, LocationFollowsTheLegacyBusType) {
  const std::string usb_guid = "bceb7d9d5dc8d1119eb4006008c3a19a";  // GUID_BUS_TYPE_USB bytes
  const LocationCase cases[] = {
      {"PCI", json::object(), ngNDAM_BUS_PCI, 3, 2, 1},
      {"legacy PCI, other GUID",
       {{"SPDRP_BUSTYPEGUID", {{"binary", usb_guid}}}}, ngNDAM_BUS_PCI, 3, 2, 1},
      {"no legacy type, PCI GUID", {{"SPDRP_LEGACYBUSTYPE", nullptr}}, ngNDAM_BUS_PCI, 3, 2, 1},
      {"no legacy type, USB GUID",
       {{"SPDRP_LEGACYBUSTYPE", nullptr}, {"SPDRP_BUSTYPEGUID", {{"binary", usb_guid}}}},
       ngNDAM_BUS_USB, -1, -1, -1},
      {"PCMCIA", {{"SPDRP_LEGACYBUSTYPE", {{"dword", 8}}}}, ngNDAM_BUS_PCMCIA, -1, -1, -1},
      {"nothing known", {{"SPDRP_LEGACYBUSTYPE", nullptr}, {"SPDRP_BUSTYPEGUID", nullptr}},
       ngNDAM_BUS_UNKNOWN, -1, -1, -1},
      {"no address", {{"SPDRP_ADDRESS", nullptr}}, ngNDAM_BUS_PCI, 3, -1, -1},
  };
  for (const LocationCase& c : cases) {
    SCOPED_TRACE(c.name);
    json a = Adapter();
    a["location"] = {{"bus", 3}, {"device", 2}, {"function", 1}};
    a["overrides"] = {{"properties", c.properties}};
    PhyNic r = OneRecord(a);
    EXPECT_EQ(r.bus_type, c.bus_type);
    EXPECT_EQ(r.bus, c.bus);
    EXPECT_EQ(r.device, c.device);
    EXPECT_EQ(r.function, c.function);
    ngNdamUninitialize();
  }
}

TEST_F(NdamTest, ReadOperationsCheckTheirArguments) {
  Load(MachineOf({Adapter(), Adapter(0x7A45)}));
  LogAll();
  ASSERT_EQ(Init(), ngNDAM_OK);
  PhyNic records[3];
  std::memset(records, 0xAB, sizeof records);
  EXPECT_EQ(ngNdamGetAllPhyNic(records, 0), ngNDAM_INVALID_PARAMETER);
  EXPECT_EQ(records[0].handle, 0xABABABABu);
  EXPECT_EQ(ngNdamGetAllPhyNic(nullptr, 2), ngNDAM_INVALID_PARAMETER);
  EXPECT_NE(Log().find("ngNdamGetAllPhyNic() is called with zero NICs\n"), std::string::npos);
  EXPECT_NE(Log().find("ngNdamGetAllPhyNic() pPhyList == NULL\r\n"), std::string::npos);

  // More room than adapters: the surplus entry is left alone.
  EXPECT_EQ(ngNdamGetAllPhyNic(records, 3), ngNDAM_OK);
  EXPECT_EQ(records[0].handle, 1u);
  EXPECT_EQ(records[1].handle, 2u);
  EXPECT_EQ(records[2].handle, 0xABABABABu);
  // Less room: only the first adapters.
  std::memset(records, 0xAB, sizeof records);
  EXPECT_EQ(ngNdamGetAllPhyNic(records, 1), ngNDAM_OK);
  EXPECT_EQ(records[0].handle, 1u);
  EXPECT_EQ(records[1].handle, 0xABABABABu);

  PhyNic one{};
  EXPECT_EQ(ngNdamGetPhyNic(0, &one), ngNDAM_INVALID_HANDLE);
  EXPECT_EQ(ngNdamGetPhyNic(3, &one), ngNDAM_INVALID_HANDLE);
  EXPECT_NE(Log().find("ngNdamGetPhyNic(): invald adapter handle"), std::string::npos);
  EXPECT_EQ(ngNdamGetNumPhyNic(nullptr), ngNDAM_INVALID_PARAMETER);
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  EXPECT_EQ(ngNdamGetAllPhyNic(records, 1), ngNDAM_NOT_INITIALIZED);
}

}  // namespace
}  // namespace ndam_test
