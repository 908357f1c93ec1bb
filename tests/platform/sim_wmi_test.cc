// COM and WMI of the simulated machine: apartment and security rules, put
// type acceptance, object paths, instances and method execution.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/sim/machine.h"
#include "platform/sim/wmi_provider.h"
#include "tests/platform/sim_test_util.h"

namespace plat::sim {
namespace {

using testing::machine;
using testing::one_adapter;

TEST(WmiPut, DeclaredTypeDecidesWhatIsAccepted) {
  struct Case {
    CimType declared;
    Variant value;
    bool accepted;
  } cases[] = {
      {kCimUint8, Variant::ui1(7), true},
      {kCimUint8, Variant::i4(7), false},
      {kCimUint16, Variant::ui2(0xFFFF), true},
      {kCimUint16, Variant::i2(7), false},
      {kCimUint16, Variant::i4(0xFFFF), true},
      {kCimUint16, Variant::i4(0x10000), false},
      {kCimSint16, Variant::ui2(7), false},
      {kCimSint16, Variant::i2(-7), true},
      {kCimSint32, Variant::i2(7), false},
      {kCimSint32, Variant::i4(-1), true},
      {kCimUint32, Variant::i4(-1), true},
      {kCimUint32, Variant::ui4(0xFFFFFFFF), true},
      {kCimBoolean, Variant::boolean(true), true},
      {kCimBoolean, Variant::i4(1), false},
      {kCimString, Variant::bstr(u"x"), true},
      {kCimString, Variant::ui1(1), false},
      {kCimUint8 | kCimFlagArray, Variant::byte_array({}), true},
      {kCimUint8 | kCimFlagArray, Variant::bstr(u"x"), false},
      {kCimUint64, Variant::bstr(u"18446744073709551615"), true},
      {kCimUint64, Variant::bstr(u"-1"), false},
      {kCimUint32, Variant::null(), true},
  };
  for (const auto& c : cases) {
    SimObject obj(SimObject::Kind::kParameters, u"__PARAMETERS", {{u"p", c.declared}});
    HResult hr = obj.put(u"p", c.value, 0);
    EXPECT_EQ(hr, c.accepted ? kHrOk : kHrWbemTypeMismatch)
        << "declared " << c.declared << " vt " << c.value.vt << " bits " << c.value.bits;
  }
}

// A 16-bit put tried as VT_UI2, then VT_I2, then VT_I4 (zero-extended):
// which attempt lands for each declared type.
int put_uint16_attempt(WmiObject& obj, std::uint16_t v) {
  if (succeeded(obj.put(u"p", Variant::ui2(v), 0))) return 1;
  if (succeeded(obj.put(u"p", Variant::i2(static_cast<std::int16_t>(v)), 0))) return 2;
  if (succeeded(obj.put(u"p", Variant::i4(v), 0))) return 3;
  return 0;
}

TEST(WmiPut, SixteenBitPutLandsOnTheAttemptItsTypeAccepts) {
  struct Case {
    CimType declared;
    int attempt;
    VarType got;
  } cases[] = {
      {kCimUint16, 1, kVtI4},
      {kCimSint16, 2, kVtI2},
      {kCimSint32, 3, kVtI4},
      {kCimUint32, 3, kVtI4},
      {kCimString, 0, kVtNull},
  };
  for (const auto& c : cases) {
    SimObject obj(SimObject::Kind::kParameters, u"__PARAMETERS", {{u"p", c.declared}});
    EXPECT_EQ(put_uint16_attempt(obj, 0x8001), c.attempt) << c.declared;
    Variant v;
    ASSERT_EQ(obj.get(u"p", &v, nullptr), kHrOk);
    EXPECT_EQ(v.vt, c.got) << c.declared;
    if (c.attempt == 1 || c.attempt == 3) {
      EXPECT_EQ(v.bits & 0xFFFFFFFFu, 0x8001u);
    }
  }
}

TEST(WmiPath, ParsesRelativeAndFullPathsWithEscapes) {
  struct Case {
    WString path;
    bool ok;
    WString server, ns, cls, key, value;
  } cases[] = {
      {u"TSLY_HwDeviceAccess", true, u"", u"", u"TSLY_HwDeviceAccess", u"", u""},
      {u"TSLY_HwDeviceAccess.InstanceName=\"Adapter #2\"", true, u"", u"", u"TSLY_HwDeviceAccess",
       u"InstanceName", u"Adapter #2"},
      {u"\\\\HOST\\root\\wmi:TSLY_FWTime.InstanceName=\"a\\\"b\\\\c\"", true, u"HOST", u"root\\wmi",
       u"TSLY_FWTime", u"InstanceName", u"a\"b\\c"},
      {u"\\\\HOST\\root\\standardcimv2:MSFT_X.InstanceID=\"{G}\"", true, u"HOST",
       u"root\\standardcimv2", u"MSFT_X", u"InstanceID", u"{G}"},
      {u"C.K=\"unterminated", false, u"", u"", u"", u"", u""},
      {u"C.K=\"x\"tail", false, u"", u"", u"", u"", u""},
      {u"C.K=\"bad \\escape\"", false, u"", u"", u"", u"", u""},
      {u"C.K=unquoted", false, u"", u"", u"", u"", u""},
      {u".K=\"x\"", false, u"", u"", u"", u"", u""},
      {u"\\\\HOST:C", false, u"", u"", u"", u"", u""},
  };
  for (const auto& c : cases) {
    WmiPath p;
    ASSERT_EQ(parse_wmi_path(c.path, &p), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(p.server, c.server);
    EXPECT_EQ(p.ns, c.ns);
    EXPECT_EQ(p.class_name, c.cls);
    EXPECT_EQ(p.key_name, c.key);
    EXPECT_EQ(p.key_value, c.value);
  }
}

TEST(Com, ApartmentAndSecurityRules) {
  auto m = machine("{}");
  Com& com = *m->services().com;
  std::unique_ptr<WmiLocator> loc;
  EXPECT_EQ(com.create_locator(kClsidWbemAdministrativeLocator, &loc), kHrCoNotInitialized);
  EXPECT_EQ(com.initialize_ex(kCoinitMultithreaded), kHrOk);
  EXPECT_EQ(com.initialize_ex(kCoinitMultithreaded), kHrFalse);
  EXPECT_EQ(com.initialize_ex(kCoinitApartmentThreaded), kHrRpcChangedMode);
  EXPECT_EQ(com.initialize_security(-1, kRpcCAuthnLevelDefault, kRpcCImpLevelImpersonate, kEoacNone), kHrOk);
  EXPECT_EQ(com.initialize_security(-1, kRpcCAuthnLevelDefault, kRpcCImpLevelImpersonate, kEoacNone),
            kHrRpcTooLate);
  EXPECT_EQ(com.create_locator(kGuidDevClassNet, &loc), kHrClassNotRegistered);
  EXPECT_EQ(com.create_locator(kClsidWbemAdministrativeLocator, &loc), kHrOk);
  std::unique_ptr<WmiServices> svc;
  EXPECT_EQ(loc->connect_server(u"root\\nothere", kWbemFlagConnectUseMaxWait, &svc), kHrWbemInvalidNamespace);
  EXPECT_EQ(loc->connect_server(u"root\\wmi", kWbemFlagConnectUseMaxWait, &svc), kHrOk);
  com.uninitialize();
  com.uninitialize();
  std::unique_ptr<WmiObject> obj;
  EXPECT_EQ(svc->get_object(u"TSLY_HwDeviceAccess", &obj), kHrCoNotInitialized);
}

// COM entered and a namespace connected, as the driver operations do it.
struct Session {
  Com* com;
  std::unique_ptr<WmiLocator> loc;
  std::unique_ptr<WmiServices> svc;
  HResult hr = kHrOk;
  Session(Machine& m, const char16_t* ns) : com(m.services().com) {
    com->initialize_ex(kCoinitMultithreaded);
    hr = com->create_locator(kClsidWbemAdministrativeLocator, &loc);
    if (succeeded(hr)) hr = loc->connect_server(ns, kWbemFlagConnectUseMaxWait, &svc);
  }
  ~Session() {
    svc.reset();
    loc.reset();
    com->uninitialize();
  }
};

TEST(Wmi, ReadReg32OnAnEscapedInstanceName) {
  auto m = machine(one_adapter(R"("friendly_name": "Vantera \"Q\" \\ 1",
                                  "registers": {"0x10": "0xF1234567", "0x260048": {"error": "0x80041001"}})"));
  Session s(*m, u"root\\wmi");
  ASSERT_EQ(s.hr, kHrOk);
  std::unique_ptr<WmiObject> cls, in, out;
  ASSERT_EQ(s.svc->get_object(u"TSLY_HwDeviceAccess", &cls), kHrOk);
  ASSERT_EQ(cls->get_method(u"ReadReg32", &in, nullptr), kHrOk);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(cls->get_method(u"NoSuchMethod", &in, nullptr), kHrWbemNotFound);
  ASSERT_EQ(cls->get_method(u"ReadReg32", &in, nullptr), kHrOk);
  ASSERT_EQ(in->put(u"offset", Variant::i4(0x10), 0), kHrOk);
  const WString path = u"TSLY_HwDeviceAccess.InstanceName=\"Vantera \\\"Q\\\" \\\\ 1\"";
  ASSERT_EQ(s.svc->exec_method(path, u"ReadReg32", in.get(), &out), kHrOk);
  Variant v;
  ASSERT_EQ(out->get(u"value", &v, nullptr), kHrOk);
  EXPECT_EQ(v.vt, kVtI4);
  EXPECT_EQ(static_cast<std::uint32_t>(v.bits), 0xF1234567u);

  ASSERT_EQ(in->put(u"offset", Variant::i4(0x260048), 0), kHrOk);
  EXPECT_EQ(s.svc->exec_method(path, u"ReadReg32", in.get(), &out), kHrWbemFailed);
  EXPECT_EQ(s.svc->exec_method(u"TSLY_HwDeviceAccess.InstanceName=\"Vantera \\\"Q\\\" 1\"", u"ReadReg32",
                               in.get(), &out),
            kHrWbemNotFound);
  EXPECT_EQ(s.svc->exec_method(path, u"ReadReg32", nullptr, &out), kHrWbemInvalidMethodParameters);

  std::unique_ptr<WmiObject> inst;
  EXPECT_EQ(s.svc->get_object(u"\\\\VREXHOST\\root\\wmi:TSLY_HwDeviceAccess.InstanceName=\"Vantera \\\"Q\\\" \\\\ 1\"",
                              &inst),
            kHrOk);
  ASSERT_NE(inst, nullptr);
  ASSERT_EQ(inst->get(u"InstanceName", &v, nullptr), kHrOk);
  EXPECT_EQ(v.text, u"Vantera \"Q\" \\ 1");
}

TEST(Wmi, DriverInstancesFollowTheDriverState) {
  struct Case {
    const char* name;
    std::string extra;
    std::string top;
    HResult hr;
  } cases[] = {
      {"running", "", "", kHrOk},
      {"disabled", R"("enabled": false)", "", kHrWbemNotFound},
      {"another driver", R"("driver": {"service": "other", "file": "other.sys"})", "", kHrWbemNotFound},
      {"class missing", "", R"("wmi": {"missing_classes": ["TSLY_HwDeviceAccess"]})", kHrWbemNotFound},
      {"method missing", "", R"("wmi": {"missing_methods": ["TSLY_HwDeviceAccess.ReadReg32"]})",
       kHrWbemInvalidMethod},
      {"failing method", "",
       R"("faults": [{"service": "wmi", "call": "exec_method", "key": "ReadReg32", "error": "0x80041004"}])",
       kHrWbemProviderFailure},
  };
  for (const auto& c : cases) {
    auto m = machine(one_adapter(c.extra, c.top));
    Session s(*m, u"root\\wmi");
    ASSERT_EQ(s.hr, kHrOk);
    SimObject in(SimObject::Kind::kParameters, u"__PARAMETERS", {{u"offset", kCimUint32}});
    in.put(u"offset", Variant::i4(0x14), 0);
    std::unique_ptr<WmiObject> out;
    EXPECT_EQ(s.svc->exec_method(u"TSLY_HwDeviceAccess.InstanceName=\"Vantera Test Adapter\"", u"ReadReg32",
                                 &in, &out),
              c.hr)
        << c.name;
  }
}

TEST(Wmi, SriovSettingsByInstanceId) {
  const WString path =
      u"\\\\VREXHOST\\root\\standardcimv2:MSFT_NetAdapterSriovSettingData.InstanceID="
      u"\"{11111111-2222-3333-4444-555555555555}\"";
  {
    auto m = machine(one_adapter(R"("sriov": {"enabled": true, "num_vfs": 70000, "allocated_vfs": 3})"));
    Session s(*m, u"root\\standardcimv2");
    ASSERT_EQ(s.hr, kHrOk);
    std::unique_ptr<WmiObject> inst;
    ASSERT_EQ(s.svc->get_object(path, &inst), kHrOk);
    Variant v;
    ASSERT_EQ(inst->get(u"Enabled", &v, nullptr), kHrOk);
    EXPECT_EQ(v.vt, kVtBool);
    EXPECT_EQ(v.bits, 0xFFFFu);
    ASSERT_EQ(inst->get(u"NumVFs", &v, nullptr), kHrOk);
    EXPECT_EQ(v.bits, 70000u);
    Session wrong(*m, u"root\\wmi");
    EXPECT_EQ(wrong.svc->get_object(path, &inst), kHrWbemInvalidNamespace);
  }
  {
    auto m = machine(one_adapter(R"("sriov": {})"));  // an instance whose values are null
    Session s(*m, u"root\\standardcimv2");
    std::unique_ptr<WmiObject> inst;
    ASSERT_EQ(s.svc->get_object(path, &inst), kHrOk);
    Variant v;
    ASSERT_EQ(inst->get(u"Enabled", &v, nullptr), kHrOk);
    EXPECT_EQ(v.vt, kVtNull);
  }
  {
    auto m = machine(one_adapter());
    Session s(*m, u"root\\standardcimv2");
    std::unique_ptr<WmiObject> inst;
    EXPECT_EQ(s.svc->get_object(path, &inst), kHrWbemNotFound);
  }
  {
    auto m = machine(one_adapter("", R"("wmi": {"available": false})"));
    Session s(*m, u"root\\standardcimv2");
    EXPECT_TRUE(failed(s.hr));
  }
}

}  // namespace
}  // namespace plat::sim
