// Device set, registry, NDIS and IP Helper answers derived from small
// machine descriptions, with the host's buffer protocols and the faults.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/machine.h"
#include "tests/platform/sim_test_util.h"

namespace plat::sim {
namespace {

using testing::machine;
using testing::one_adapter;

// The first network-class device of a machine.
struct NetDevice {
  Services* s = nullptr;
  Handle set = kNoHandle;
  DevInfoData data;

  explicit NetDevice(Machine& m) : s(&m.services()) {
    EXPECT_EQ(s->devices->get_class_devs(&kGuidDevClassNet, kDigcfPresent, &set), kErrorSuccess);
    EXPECT_EQ(s->devices->enum_device_info(set, 0, &data), kErrorSuccess);
  }
  ~NetDevice() { s->devices->destroy_device_info_list(set); }

  std::uint32_t property(std::uint32_t id, std::vector<std::uint8_t>* out) {
    std::uint32_t need = 0, type = 0;
    std::uint32_t rc = s->devices->get_device_registry_property(set, data, id, &type, nullptr, 0, &need);
    if (rc != kErrorInsufficientBuffer) return rc;
    out->assign(need, 0);
    return s->devices->get_device_registry_property(set, data, id, &type, out->data(), need, &need);
  }
  std::string text(std::uint32_t id) {
    std::vector<std::uint8_t> b;
    if (property(id, &b) != kErrorSuccess || b.empty()) return "<none>";
    return std::string(reinterpret_cast<const char*>(b.data()));
  }
  std::uint32_t dword(std::uint32_t id) {
    std::vector<std::uint8_t> b;
    if (property(id, &b) != kErrorSuccess || b.size() != 4) return 0xDEADBEEF;
    std::uint32_t v;
    std::memcpy(&v, b.data(), 4);
    return v;
  }
};

TEST(SimDevices, EmptyMachineHasNoNetworkDevices) {
  auto m = machine("{}");
  Services& s = m->services();
  Handle set = kNoHandle;
  ASSERT_EQ(s.devices->get_class_devs(&kGuidDevClassNet, kDigcfPresent, &set), kErrorSuccess);
  DevInfoData d;
  EXPECT_EQ(s.devices->enum_device_info(set, 0, &d), kErrorNoMoreItems);
  std::uint32_t size = 0;
  EXPECT_EQ(s.ip_helper->get_adapters_info(nullptr, &size), kErrorNoData);
  EXPECT_EQ(s.devices->destroy_device_info_list(set), kErrorSuccess);
  EXPECT_EQ(s.devices->destroy_device_info_list(set), kErrorInvalidHandle);
}

TEST(SimDevices, PropertiesOfAnAdapter) {
  auto m = machine(one_adapter(R"("manufacturer": "x")"));
  NetDevice dev(*m);
  struct Case {
    std::uint32_t id;
    const char* text;
  } cases[] = {
      {kSpdrpDeviceDesc, "Vantera Test Adapter"},
      {kSpdrpFriendlyName, "<none>"},
      {kSpdrpService, "vrexnd"},
      {kSpdrpDriver, "{4d36e972-e325-11ce-bfc1-08002be10318}\\0000"},
      {kSpdrpMfg, "Tessaly"},
      {kSpdrpLocationInformation, "PCI bus 59, device 0, function 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(dev.text(c.id), c.text) << c.id;
  EXPECT_EQ(dev.dword(kSpdrpBusNumber), 59u);
  EXPECT_EQ(dev.dword(kSpdrpAddress), 0x00000001u);
  EXPECT_EQ(dev.dword(kSpdrpLegacyBusType), kLegacyBusPci);
  std::vector<std::uint8_t> g;
  ASSERT_EQ(dev.property(kSpdrpBusTypeGuid, &g), kErrorSuccess);
  ASSERT_EQ(g.size(), 16u);
  EXPECT_EQ(g[0], 0xB0);  // {C8EBDFB0-...} little-endian

  // The instance id carries the ids at the positions the host uses.
  char id[200];
  std::uint32_t need = 0;
  ASSERT_EQ(m->services().devices->get_device_instance_id(dev.set, dev.data, id, sizeof id, &need),
            kErrorSuccess);
  std::string ids(id);
  std::string rest = ids.substr(3);  // after "PCI"
  EXPECT_EQ(ids.substr(0, 3), "PCI");
  EXPECT_EQ(rest.substr(5, 4), "E7A5");
  EXPECT_EQ(rest.substr(14, 4), "7A81");
  EXPECT_EQ(rest.substr(26, 4), "0211");
  EXPECT_EQ(rest.substr(30, 4), "E7A5");
  EXPECT_EQ(rest.substr(39, 2), "11");
  EXPECT_EQ(need, ids.size() + 1);
}

TEST(SimDevices, BufferProtocolOfPropertiesAndInstanceIds) {
  auto m = machine(one_adapter());
  NetDevice dev(*m);
  DeviceInstaller& di = *m->services().devices;
  std::uint32_t need = 0;
  std::uint8_t buf[64];
  const std::size_t len = std::strlen("Vantera Test Adapter") + 1;
  EXPECT_EQ(di.get_device_registry_property(dev.set, dev.data, kSpdrpDeviceDesc, nullptr, nullptr, 0, &need),
            kErrorInsufficientBuffer);
  EXPECT_EQ(need, len);
  EXPECT_EQ(di.get_device_registry_property(dev.set, dev.data, kSpdrpDeviceDesc, nullptr, buf,
                                            static_cast<std::uint32_t>(len - 1), &need),
            kErrorInsufficientBuffer);
  EXPECT_EQ(di.get_device_registry_property(dev.set, dev.data, kSpdrpDeviceDesc, nullptr, buf,
                                            static_cast<std::uint32_t>(len), &need),
            kErrorSuccess);
  char small[8];
  EXPECT_EQ(di.get_device_instance_id(dev.set, dev.data, small, sizeof small, &need),
            kErrorInsufficientBuffer);
  EXPECT_GT(need, sizeof small);
}

// Reads a registry value through the size protocol: size, then data.
std::uint32_t read_value(Registry& r, const std::string& key, const std::string& name,
                         std::uint32_t* type, std::vector<std::uint8_t>* out) {
  Handle k = kNoHandle;
  std::uint32_t rc = r.open_key(kHkeyLocalMachine, key, kKeyRead, &k);
  if (rc != kErrorSuccess) return rc;
  std::uint32_t size = 0;
  rc = r.query_value(k, name, type, nullptr, &size);
  if (rc == kErrorSuccess) {
    out->assign(size, 0);
    rc = r.query_value(k, name, type, out->data(), &size);
  }
  r.close_key(k);
  return rc;
}

TEST(SimRegistry, DerivedKeysAndValues) {
  auto m = machine(R"({"adapters": [)" + testing::our_adapter() +
                   R"(, {"kind": "virtual", "description": "V", "driver": {"service": "vnet", "file": "vnet.sys"}},
                        {"kind": "hidden", "description": "H", "pci": {"vendor": 1, "device": 2}}]})");
  Registry& r = *m->services().registry;
  const std::string cls = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
  struct Case {
    std::string key, name;
    std::uint32_t type;
    std::string text;      // for texts
    std::uint32_t number;  // for dwords
  } cases[] = {
      {cls + "0000", "Characteristics", kRegDword, "", 0x84},
      {cls + "0001", "Characteristics", kRegDword, "", 0x1},
      {cls + "0002", "Characteristics", kRegDword, "", 0xC},
      {cls + "0000", "NetCfgInstanceId", kRegSz, "{11111111-2222-3333-4444-555555555555}", 0},
      {cls + "0000", "ComponentId", kRegSz, "pci\\ven_e7a5&dev_7a81&subsys_0211e7a5", 0},
      {cls + "0000", "VlanID", kRegSz, "0", 0},
      {cls + "0000", "*FlowControl", kRegSz, "3", 0},
      {"SYSTEM\\CurrentControlSet\\Services\\vrexnd", "ImagePath", kRegExpandSz,
       "\\SystemRoot\\System32\\drivers\\vrexnd.sys", 0},
      {"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\{11111111-2222-3333-4444-555555555555}",
       "EnableDHCP", kRegDword, "", 1},
  };
  for (const auto& c : cases) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> v;
    ASSERT_EQ(read_value(r, c.key, c.name, &type, &v), kErrorSuccess) << c.key << " " << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    if (c.type == kRegDword) {
      ASSERT_EQ(v.size(), 4u);
      std::uint32_t n;
      std::memcpy(&n, v.data(), 4);
      EXPECT_EQ(n, c.number) << c.key << " " << c.name;
    } else {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.data())), c.text) << c.name;
    }
  }
  std::uint32_t type = 0;
  std::vector<std::uint8_t> v;
  EXPECT_EQ(read_value(r, cls + "0000", "NoSuchValue", &type, &v), kErrorFileNotFound);
  EXPECT_EQ(read_value(r, cls + "0009", "Characteristics", &type, &v), kErrorFileNotFound);
}

TEST(SimRegistry, SizeProtocolWideValuesAndEnumeration) {
  auto m = machine(one_adapter());
  Registry& r = *m->services().registry;
  Handle k = kNoHandle;
  ASSERT_EQ(r.open_key_w(kHkeyLocalMachine,
                         u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}",
                         kKeyAllAccess, &k),
            kErrorSuccess);
  std::uint32_t subkeys = 0;
  ASSERT_EQ(r.query_info_key(k, &subkeys, nullptr, nullptr), kErrorSuccess);
  EXPECT_EQ(subkeys, 1u);
  char16_t name[256];
  std::uint32_t len = 256;
  ASSERT_EQ(r.enum_key_w(k, 0, name, &len), kErrorSuccess);
  EXPECT_EQ(WString(name, len), u"0000");
  len = 256;
  EXPECT_EQ(r.enum_key_w(k, 1, name, &len), kErrorNoMoreItems);
  len = 4;  // no room for the terminator
  EXPECT_EQ(r.enum_key_w(k, 0, name, &len), kErrorMoreData);

  Handle sub = kNoHandle;
  ASSERT_EQ(r.open_key_w(k, u"0000", kKeyAllAccess, &sub), kErrorSuccess);
  std::uint8_t data[200];
  std::uint32_t size = 10;
  std::uint32_t type = 0;
  EXPECT_EQ(r.query_value_w(sub, u"NetCfgInstanceId", &type, data, &size), kErrorMoreData);
  EXPECT_EQ(size, 2u * (38 + 1));  // UTF-16 with the terminator
  ASSERT_EQ(r.query_value_w(sub, u"NetCfgInstanceId", &type, data, &size), kErrorSuccess);
  EXPECT_EQ(data[0], '{');
  EXPECT_EQ(data[1], 0);
  r.close_key(sub);
  r.close_key(k);
}

TEST(SimRegistry, OverridesRemoveAndReplaceValues) {
  auto m = machine(one_adapter(R"("overrides": {"class_key": {"Characteristics": {"dword": 5}, "VlanID": null},
                                                  "properties": {"SPDRP_DEVICEDESC": null,
                                                                 "SPDRP_FRIENDLYNAME": {"sz": "Renamed"}}})",
                               R"("registry": {"HKLM\\SOFTWARE\\Extra": {"On": {"dword": 1}}})"));
  Registry& r = *m->services().registry;
  const std::string cls = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0000";
  std::uint32_t type = 0;
  std::vector<std::uint8_t> v;
  ASSERT_EQ(read_value(r, cls, "Characteristics", &type, &v), kErrorSuccess);
  EXPECT_EQ(v[0], 5);
  EXPECT_EQ(read_value(r, cls, "VlanID", &type, &v), kErrorFileNotFound);
  EXPECT_EQ(read_value(r, "SOFTWARE\\Extra", "On", &type, &v), kErrorSuccess);
  NetDevice dev(*m);
  std::vector<std::uint8_t> b;
  EXPECT_EQ(dev.property(kSpdrpDeviceDesc, &b), kErrorInvalidData);
  EXPECT_EQ(dev.text(kSpdrpFriendlyName), "Renamed");
}

// Opens the adapter's device object and asks one OID.
std::uint32_t query_oid(Machine& m, std::uint32_t oid, std::uint32_t out_size, std::uint32_t* returned,
                        std::vector<std::uint8_t>* out = nullptr) {
  Services& s = m.services();
  Handle h = kNoHandle;
  std::uint32_t rc = s.device_io->open_device("\\\\.\\Global\\{11111111-2222-3333-4444-555555555555}",
                                              kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite,
                                              kOpenExisting, &h);
  if (rc != kErrorSuccess) return rc;
  std::uint8_t in[4] = {static_cast<std::uint8_t>(oid), static_cast<std::uint8_t>(oid >> 8),
                        static_cast<std::uint8_t>(oid >> 16), static_cast<std::uint8_t>(oid >> 24)};
  std::vector<std::uint8_t> buf(out_size);
  rc = s.device_io->io_control(h, kIoctlNdisQueryGlobalStats, in, buf, returned);
  if (out != nullptr) *out = buf;
  s.kernel->close_handle(h);
  return rc;
}

TEST(SimDeviceIo, OidAnswerLengths) {
  auto m = machine(one_adapter(R"("mac": "02:1a:2b:3c:4d:5e", "link": {"speed_mbps": 25000})"));
  struct Case {
    std::uint32_t oid, out_size, length;
  } cases[] = {
      {kOid8023CurrentAddress, 260, 6},     {kOid8023PermanentAddress, 260, 6},
      {kOidGenDriverVersion, 260, 2},       {kOidGenMediaConnectStatus, 260, 4},
      {kOidGenPhysicalMediumEx, 260, 4},    {kOidGenLinkSpeed, 260, 4},
      {kOidGenLinkState, 40, 40},           {kOidGenPciDeviceCustomProperties, 52, 52},
      {kOidGenMaximumFrameSize, 4, 4},
  };
  for (const auto& c : cases) {
    std::uint32_t n = 0;
    EXPECT_EQ(query_oid(*m, c.oid, c.out_size, &n), kErrorSuccess) << std::hex << c.oid;
    EXPECT_EQ(n, c.length) << std::hex << c.oid;
  }
  std::uint32_t n = 0;
  std::vector<std::uint8_t> out;
  ASSERT_EQ(query_oid(*m, kOidGenLinkSpeed, 260, &n, &out), kErrorSuccess);
  EXPECT_EQ(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24, 250000000);
  ASSERT_EQ(query_oid(*m, kOid8023CurrentAddress, 260, &n, &out), kErrorSuccess);
  EXPECT_EQ(out[0], 0x02);
  EXPECT_EQ(out[5], 0x5E);
  ASSERT_EQ(query_oid(*m, kOidGenDriverVersion, 260, &n, &out), kErrorSuccess);
  EXPECT_EQ(out[1], 6);  // NDIS 6.82: major in the high byte
  EXPECT_EQ(query_oid(*m, kOidGenLinkState, 39, &n), kErrorInsufficientBuffer);
  EXPECT_EQ(n, 0u);
}

TEST(SimDeviceIo, DriverStatesAndAnswerOverrides) {
  struct Case {
    const char* name;
    std::string extra;
    std::uint32_t oid;
    std::uint32_t rc, length;
  } cases[] = {
      {"mac of 8 bytes", R"("overrides": {"oids": {"0x01010102": {"data": "021a2b3c4d5e0000"}}})",
       kOid8023CurrentAddress, kErrorSuccess, 8},
      {"reported length differs", R"("overrides": {"oids": {"0x00010110": {"length": 4}}})",
       kOidGenDriverVersion, kErrorSuccess, 4},
      {"failing OID", R"("overrides": {"oids": {"0x00010114": {"error": 31}}})",
       kOidGenMediaConnectStatus, kErrorGenFailure, 0},
      {"NDIS 5 has no link state", R"("ndis_version": "5.1")", kOidGenLinkState, kErrorNotSupported, 0},
      {"disabled adapter", R"("enabled": false)", kOidGenLinkSpeed, kErrorFileNotFound, 0},
      {"no device object", R"("device_object": false)", kOidGenLinkSpeed, kErrorFileNotFound, 0},
      {"driver not started", R"("devnode": {"status": "0x01802400", "problem": 10})", kOidGenLinkSpeed,
       kErrorFileNotFound, 0},
  };
  for (const auto& c : cases) {
    auto m = machine(one_adapter(c.extra));
    std::uint32_t n = 0;
    EXPECT_EQ(query_oid(*m, c.oid, 260, &n), c.rc) << c.name;
    EXPECT_EQ(n, c.length) << c.name;
  }
}

TEST(SimIpHelper, BufferOverflowProtocol) {
  auto m = machine(one_adapter(R"("ipv4": {"dhcp": false, "current_ip": true,
                                  "addresses": [{"address": "10.0.0.5", "mask": "255.255.255.0"}],
                                  "gateways": ["10.0.0.1"]})"));
  IpHelper& ip = *m->services().ip_helper;
  std::uint32_t size = 0;
  IpAdapterInfoList list;
  ASSERT_EQ(ip.get_adapters_info(nullptr, &size), kErrorBufferOverflow);
  ASSERT_GT(size, 0u);
  std::uint32_t need = size;
  size = need - 1;
  EXPECT_EQ(ip.get_adapters_info(&list, &size), kErrorBufferOverflow);
  EXPECT_EQ(size, need);
  ASSERT_EQ(ip.get_adapters_info(&list, &size), kErrorSuccess);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].adapter_name, "{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(list[0].type, kMibIfTypeEthernet);
  EXPECT_TRUE(list[0].has_current_ip);
  EXPECT_EQ(list[0].current_ip.address, "10.0.0.5");
  EXPECT_EQ(list[0].gateways[0].address, "10.0.0.1");

  IpAdapterAddressesList addrs;
  size = 0;
  const std::uint32_t flags = 0x3D0;
  ASSERT_EQ(ip.get_adapters_addresses(kAfInet6, flags, nullptr, &size), kErrorBufferOverflow);
  ASSERT_EQ(ip.get_adapters_addresses(kAfInet6, flags, &addrs, &size), kErrorSuccess);
  const IpAdapterAddresses* ours = nullptr;
  for (const auto& a : addrs) {
    if (a.adapter_name == "{11111111-2222-3333-4444-555555555555}") ours = &a;
  }
  ASSERT_NE(ours, nullptr);
  ASSERT_EQ(ours->unicast.size(), 1u);  // the IPv4 address is not of the family asked
  EXPECT_EQ(ours->unicast[0].address.length, 28);
  EXPECT_EQ(address_text(ours->unicast[0].address).substr(0, 6), "fe80::");
}

TEST(SimFaults, FailChosenCalls) {
  struct Case {
    const char* name;
    std::string faults;
    int registry_reads_ok;  // of three reads of Characteristics
  } cases[] = {
      {"every call", R"([{"service": "registry", "call": "query_value", "key": "Characteristics", "error": 2}])", 0},
      {"only the 2nd", R"([{"service": "registry", "call": "query_value", "key": "Characteristics", "nth": 2, "error": 2}])", 2},
      {"2nd and 3rd", R"([{"service": "registry", "call": "query_value", "key": "Characteristics", "nth": 2, "count": 2, "error": 2}])", 1},
      {"all keys must match", R"([{"service": "registry", "call": "query_value", "key": ["Characteristics", "0007"], "error": 2}])", 3},
  };
  for (const auto& c : cases) {
    auto m = machine(one_adapter("", R"("faults": )" + c.faults));
    int ok = 0;
    for (int i = 0; i < 3; ++i) {
      std::uint32_t type = 0;
      std::vector<std::uint8_t> v;
      if (read_value(*m->services().registry,
                     "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0000",
                     "Characteristics", &type, &v) == kErrorSuccess) {
        ++ok;
      }
    }
    EXPECT_EQ(ok, c.registry_reads_ok) << c.name;
  }
}

TEST(SimFaults, CallRecordShowsCallsAndOutcomes) {
  auto m = machine(one_adapter("", R"("faults": [{"service": "devices", "call": "get_device_registry_property",
                                                  "key": ["7A81", "SPDRP_MFG"], "error": "0xE0000209"}])"));
  NetDevice dev(*m);
  std::vector<std::uint8_t> b;
  EXPECT_EQ(dev.property(kSpdrpMfg, &b), kErrorInvalidRegProperty);
  auto calls = m->calls();
  ASSERT_GE(calls.size(), 3u);
  const CallRecord& last = calls.back();
  EXPECT_EQ(last.service, "devices");
  EXPECT_EQ(last.call, "get_device_registry_property");
  EXPECT_NE(last.args.find("SPDRP_MFG"), std::string::npos);
  EXPECT_EQ(last.outcome, kErrorInvalidRegProperty);
}

TEST(SimMachine, BadDescriptionsAreRefusedWithAReason) {
  const char* cases[] = {
      "[]",
      "{\"adapters\": {}}",
      "{\"adapters\": [{\"pci\": {\"vendor\": \"0xE7A5\"}}]}",
      "{\"adapters\": [{\"mac\": \"02:00\"}]}",
      "{\"adapters\": [{\"kind\": \"wired\"}]}",
      "{\"faults\": [{\"service\": \"registry\"}]}",
      "{\"adapters\": [{\"ipv4\": {\"addresses\": [{\"address\": \"10.0.0.300\", \"mask\": \"255.0.0.0\"}]}}]}",
      "{\"computer_name\": \"SIXTEEN-CHARS-XX\"}",
      "not json",
  };
  for (const char* c : cases) {
    std::string error;
    EXPECT_EQ(Machine::from_json(c, "", &error), nullptr) << c;
    EXPECT_FALSE(error.empty()) << c;
  }
}

TEST(SimMachine, DemoMachineHasTheExpectedAdapters) {
  std::string error;
  auto m = Machine::from_json(Machine::demo_json(), "", &error);
  ASSERT_NE(m, nullptr) << error;
  int later = 0, earlier = 0, other = 0, virt = 0;
  for (const auto& a : m->adapters()) {
    if (a.kind == "virtual") ++virt;
    else if (a.vendor_id == 0xE7A5 && a.device_id == 0x7A81) ++later;
    else if (a.vendor_id == 0xE7A5 && a.device_id == 0x7A45) ++earlier;
    else ++other;
  }
  EXPECT_EQ(later, 2);
  EXPECT_EQ(earlier, 1);
  EXPECT_EQ(other, 1);
  EXPECT_EQ(virt, 1);
  EXPECT_EQ(m->adapters()[0].bus, m->adapters()[1].bus);
  EXPECT_EQ(m->adapters()[1].function, 1u);
}

}  // namespace
}  // namespace plat::sim
