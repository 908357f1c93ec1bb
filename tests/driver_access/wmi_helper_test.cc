// WmiHelper: key escaping and object paths, the connection, the typed put
// and get helpers against declared property types, and the last-error rule.
#include <gtest/gtest.h>

#include <string>

#include "driver_access/driver_access.h"
#include "platform/sim/wmi_provider.h"
#include "tests/driver_access/sim_fixture.h"

namespace {

using drvtest::kAdapter;
using plat::Variant;
using plat::WString;

TEST(WmiPaths, EscapingAndFormats) {
  const struct {
    const char* name;
    WString value;
    WString escaped;
  } cases[] = {
      {"plain", u"Adapter #2", u"Adapter #2"},
      {"quote", u"A\"B", u"A\\\"B"},
      {"backslash", u"A\\B", u"A\\\\B"},
      {"255 quotes fit in 510 units", WString(255, u'"'), [] {
         WString w;
         for (int i = 0; i < 255; ++i) w += u"\\\"";
         return w;
       }()},
      {"cut before a pair that does not fit", WString(510, u'a') + u"\"x",
       WString(510, u'a')},
      {"cut at 511 units", WString(600, u'a'), WString(511, u'a')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(wmi_escape_key(c.value), c.escaped);
  }
  EXPECT_EQ(wmi_method_path(u"TSLY_NVRAMAccess", u"A\"1"), u"TSLY_NVRAMAccess.InstanceName=\"A\\\"1\"");
  EXPECT_EQ(wmi_instance_name_path(u"HOST", u"TSLY_FWTime", u"A"),
            u"\\\\HOST\\root\\wmi:TSLY_FWTime.InstanceName=\"A\"");
  EXPECT_EQ(wmi_instance_id_path(u"HOST", u"root\\standardcimv2", u"MSFT_X", u"{1}"),
            u"\\\\HOST\\root\\standardcimv2:MSFT_X.InstanceID=\"{1}\"");
}

class WmiHelperTest : public drvtest::SimTest {};

TEST_F(WmiHelperTest, NameWithQuoteAndBackslashReachesTheInstance) {
  const std::string name = "Vantera \"lab\" \\ port";
  load({{"reset_count", 7}}, nlohmann::json::object(), name);
  uint32_t count = 0;
  EXPECT_EQ(vrexnvmGetFwResetCount(name.c_str(), &count), 0);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(vrexnvmResetFw(name.c_str(), 0), 0);
  ASSERT_EQ(calls_of("TSLY_NVRAMAccess.ResetFw").size(), 1u);
}

TEST_F(WmiHelperTest, WmiUnavailableGivesInterfaceFailureWithoutCalls) {
  load(nlohmann::json::object(),
       {{"faults", {{{"service", "wmi"}, {"call", "connect_server"}, {"error", "0x80041015"}}}}});
  uint32_t u32 = 5;
  uint8_t u8 = 5;
  char text[64] = "x";
  NvmDirEntry entry{};
  NvmOptionRequest option{};
  const struct {
    const char* name;
    int32_t result;
  } cases[] = {
      {"ReadBar", vrexnvmReadBar(kAdapter, 0x10, &u32)},
      {"ResetFw", vrexnvmResetFw(kAdapter, 0)},
      {"GetFwHealthStatus", vrexnvmGetFwHealthStatus(kAdapter, &u32)},
      {"FactoryDefaults", vrexnvmFactoryDefaults(kAdapter, 0, &u8)},
      {"FindDirEntry", vrexnvmFindDirEntry(kAdapter, 1, 0, 0, &entry)},
      {"GetNvmOption", vrexnvmGetNvmOption(kAdapter, &option)},
      {"GetFwResetCount", vrexnvmGetFwResetCount(kAdapter, &u32)},
      {"GetPackageVersion", vrexnvmGetPackageVersion(kAdapter, text, sizeof text)},
      {"GetLastError", vrexnvmGetLastError(kAdapter, u"ResetFw")},
      {"HwrmPt", vrexnvmHwrmPt(kAdapter, reinterpret_cast<const uint8_t*>("12345678"), 8,
                               reinterpret_cast<uint8_t*>(text), 16, 0x16)},
      {"Defrag", vrexnvmDefrag(kAdapter)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.result, -41) << c.name;
  EXPECT_EQ(vrexnvmHwrmPtVb(kAdapter, reinterpret_cast<const uint8_t*>("12345678"), 8,
                            reinterpret_cast<uint8_t*>(text), 16, nullptr, 0),
            HWRMPTVB_NOT_CONNECTED);
  EXPECT_TRUE(driver_calls().empty());
}

TEST_F(WmiHelperTest, PutsAgainstDeclaredTypes) {
  load(nlohmann::json::object());
  WmiHelper wmi(u"root\\wmi");
  ASSERT_TRUE(wmi.IsConnected());
  plat::sim::SimObject o(plat::sim::SimObject::Kind::kParameters, u"__PARAMETERS",
                         {{u"u8", plat::kCimUint8},
                          {u"u16", plat::kCimUint16},
                          {u"s16", plat::kCimSint16},
                          {u"u32", plat::kCimUint32},
                          {u"s32", plat::kCimSint32},
                          {u"bytes", plat::kCimUint8 | plat::kCimFlagArray}});
  const struct {
    const char* name;
    const char16_t* property;
    bool ok;
    plat::VarType stored;  // the variant type WMI then holds
    int64_t value;
  } sixteen[] = {
      {"unsigned 16-bit: first attempt", u"u16", true, plat::kVtI4, 0xFFFF},
      {"signed 16-bit: second attempt", u"s16", true, plat::kVtI2, -1},
      {"unsigned 32-bit: third attempt", u"u32", true, plat::kVtI4, 0xFFFF},
      {"signed 32-bit: third attempt", u"s32", true, plat::kVtI4, 0xFFFF},
      {"8-bit: none fits", u"u8", false, plat::kVtNull, 0},
  };
  for (const auto& c : sixteen) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(wmi.PutUInt16(&o, c.property, 0xFFFF), c.ok);
    Variant v;
    ASSERT_EQ(o.get(c.property, &v, nullptr), plat::kHrOk);
    EXPECT_EQ(v.vt, c.stored);
    if (c.ok) {
      EXPECT_EQ(v.as_int(), c.value);
    }
  }
  EXPECT_TRUE(wmi.PutUInt32(&o, u"u32", 0xFFFFFFFEu));
  EXPECT_FALSE(wmi.PutUInt32(&o, u"u32", 0xFFFFFFFFu));
  EXPECT_FALSE(wmi.PutUInt8(&o, u"u16", 1));  // VT_UI1 does not fit a 16-bit property
  EXPECT_TRUE(wmi.PutUInt8(&o, u"u8", 1));
  const uint8_t data[3] = {1, 2, 3};
  EXPECT_TRUE(wmi.PutBytes(&o, u"bytes", data, 0));  // an empty array
  EXPECT_FALSE(wmi.PutBytes(&o, u"bytes", nullptr, 3));
  EXPECT_TRUE(wmi.PutBytes(&o, u"bytes", data, 3));
  Variant v;
  ASSERT_EQ(o.get(u"bytes", &v, nullptr), plat::kHrOk);
  EXPECT_EQ(v.bytes, std::vector<uint8_t>(data, data + 3));

  // The driver declares FlushNvm's placeholder 32-bit: the put lands on the
  // third attempt and the method runs.
  NvmOptionRequest flush{};
  EXPECT_EQ(vrexnvmFlushNvm(kAdapter, &flush), 0);
  EXPECT_EQ(calls_of("TSLY_NVRAMAccess.FlushNvm").size(), 1u);
}

TEST_F(WmiHelperTest, AllOnesThirtyTwoBitValueIsRefusedBeforeAnyCall) {
  load(nlohmann::json::object());
  uint32_t value = 99;
  EXPECT_EQ(vrexnvmReadBar(kAdapter, 0xFFFFFFFFu, &value), -41);
  EXPECT_EQ(value, 0u);
  EXPECT_TRUE(driver_calls().empty());
}

TEST_F(WmiHelperTest, TypedGets) {
  load(nlohmann::json::object());
  WmiHelper wmi(u"root\\wmi");
  ASSERT_TRUE(wmi.IsConnected());
  plat::sim::SimObject o(plat::sim::SimObject::Kind::kParameters, u"__PARAMETERS",
                         {{u"null32", plat::kCimUint32},
                          {u"u8", plat::kCimUint8},
                          {u"u16", plat::kCimUint16},
                          {u"text", plat::kCimString},
                          {u"flag", plat::kCimBoolean},
                          {u"ten", plat::kCimUint8 | plat::kCimFlagArray},
                          {u"two", plat::kCimUint8 | plat::kCimFlagArray}});
  o.set_value(u"u8", Variant::ui1(0xAB));
  o.set_value(u"u16", Variant::i4(0x1234));
  o.set_value(u"text", Variant::bstr(u"1.2.3"));
  o.set_value(u"flag", Variant::boolean(true));
  const uint8_t ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  o.set_value(u"ten", Variant::byte_array(ten));
  o.set_value(u"two", Variant::byte_array({ten, 2}));

  uint32_t u32 = 77;
  EXPECT_TRUE(wmi.GetUInt32(&o, u"null32", &u32));
  EXPECT_EQ(u32, 0u);
  uint8_t u8 = 0;
  EXPECT_TRUE(wmi.GetUInt8(&o, u"u8", &u8));
  EXPECT_EQ(u8, 0xAB);
  EXPECT_FALSE(wmi.GetUInt8(&o, u"u16", &u8));  // VT_I4 is not VT_UI1
  uint16_t u16 = 0;
  EXPECT_TRUE(wmi.GetUInt16(&o, u"u16", &u16));
  EXPECT_EQ(u16, 0x1234);
  EXPECT_FALSE(wmi.GetUInt16(&o, u"u8", &u16));
  WString text;
  EXPECT_TRUE(wmi.GetString(&o, u"text", &text));
  EXPECT_EQ(text, u"1.2.3");
  EXPECT_FALSE(wmi.GetString(&o, u"null32", &text));
  bool flag = false;
  EXPECT_TRUE(wmi.GetBool(&o, u"flag", &flag));
  EXPECT_TRUE(flag);
  EXPECT_FALSE(wmi.GetUInt32(&o, u"absent", &u32));

  uint8_t buffer[10] = {};
  uint32_t capacity = 4;
  EXPECT_TRUE(wmi.GetBytes(&o, u"ten", buffer, &capacity));
  EXPECT_EQ(capacity, 4u);
  EXPECT_EQ(buffer[3], 3);
  EXPECT_EQ(buffer[4], 0);
  capacity = 4;
  EXPECT_TRUE(wmi.GetBytes(&o, u"two", buffer, &capacity));
  EXPECT_EQ(capacity, 2u);
  capacity = 4;
  EXPECT_FALSE(wmi.GetBytes(&o, u"ten", nullptr, &capacity));
  EXPECT_FALSE(wmi.GetBytes(&o, u"u8", buffer, &capacity));
}

TEST_F(WmiHelperTest, NullSriovCountReadsAsZero) {
  load(nlohmann::json::object());
  WmiHelper wmi(u"root\\standardcimv2");
  ASSERT_TRUE(wmi.IsConnected());
  std::unique_ptr<plat::WmiObject> inst;
  // The adapter has no SR-IOV facts: no instance.
  EXPECT_FALSE(wmi.GetInstanceById(u"root\\standardcimv2", u"MSFT_NetAdapterSriovSettingData",
                                   u"{6A1F3C20-7B1D-4E55-9C0A-3B7E51A0C001}", &inst));
}

// The last error after a failed method, and what the wrappers make of it.
TEST_F(WmiHelperTest, LastErrorMappingAndWrapperResults) {
  const struct {
    const char* name;
    int req_type, error_code, cmd_error;
    int32_t last_error;     // vrexnvmGetLastError
    int32_t reset_fw;       // negating wrapper
    int32_t health;         // passing wrapper
  } cases[] = {
      {"write without space", 0xFFFE, 9, 2, -158, 158, -158},
      {"write into fragmented NVM", 0xFFFE, 9, 1, -157, 157, -157},
      {"install refused as downgrade", 0xFFF3, 9, 3, -151, 151, -151},
      {"other request: its error code", 0x0010, 4, 0, 4, -4, 4},
      {"fragmentation code on another request", 0x0010, 4, 1, 4, -4, 4},
      // The driver recorded nothing: a failed method still fails.
      {"no error code", 0, 0, 0, 0, -41, -41},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const nlohmann::json e = {{"req_type", c.req_type}, {"error_code", c.error_code},
                              {"cmd_error", c.cmd_error}};
    load({{"fail", {{"ResetFw", e}, {"GetFwHealthStatus", e}}}});
    EXPECT_EQ(vrexnvmResetFw(kAdapter, 0), c.reset_fw);
    EXPECT_EQ(vrexnvmGetLastError(kAdapter, u"ResetFw"), c.last_error);
    uint32_t health = 0x1234;
    EXPECT_EQ(vrexnvmGetFwHealthStatus(kAdapter, &health), c.health);
    EXPECT_EQ(health, 0x1234u);
    EXPECT_EQ(calls_of("TSLY_NVRAMAccess.GetNvmLastError").size(), 3u);
    machine_->clear_calls();
  }
}

}  // namespace
