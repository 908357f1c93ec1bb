// diag_test.cc: taking and giving back an adapter under its adapter lock,
// and the lock probe of every fill.
#include "tests/ndam/ndam_fixture.h"

namespace ndam_test {
namespace {

constexpr const char* kLockGuid = "{FBCBECF0-D87B-11d5-A4CF-00104BCD3937}";

TEST_F(NdamTest, HoldingAnAdapter) {
  Load(MachineOf({Adapter()}));
  LogAll();
  ASSERT_EQ(Init(), ngNDAM_OK);
  const std::string id = machine_->adapters()[0].net_cfg_instance_id;

  EXPECT_EQ(ngNdamInitDiag(1), ngNDAM_OK);
  EXPECT_EQ(Calls("kernel", "create_mutex", std::string("Global\\") + kLockGuid + id), 1u);
  // Held: a second take fails, from this process as from any other, and a
  // fill shows the adapter as locked.
  EXPECT_EQ(ngNdamInitDiag(1), ngNDAM_LOCK_NIC_FAILED);
  EXPECT_NE(Log().find("InitDiag() mutex exist, return ngNDAM_LOCK_NIC_FAILED\r\n"),
            std::string::npos);
  PhyNic r{};
  ASSERT_EQ(ngNdamGetPhyNic(1, &r), ngNDAM_OK);
  EXPECT_EQ(r.locked, 1u);
  EXPECT_EQ(r.driver_loaded, 1u);

  EXPECT_EQ(ngNdamUnInitDiag(1), ngNDAM_OK);
  EXPECT_EQ(ngNdamUnInitDiag(1), ngNDAM_OK);  // not held: nothing but the log
  ASSERT_EQ(ngNdamGetPhyNic(1, &r), ngNDAM_OK);
  EXPECT_EQ(r.locked, 0u);
  EXPECT_EQ(ngNdamInitDiag(1), ngNDAM_OK);
  EXPECT_EQ(ngNdamUnInitDiag(1), ngNDAM_OK);

  EXPECT_EQ(ngNdamInitDiag(2), ngNDAM_INVALID_HANDLE);
  EXPECT_EQ(ngNdamUnInitDiag(0), ngNDAM_INVALID_HANDLE);
  std::string log = Log();
  EXPECT_NE(log.find("ngNdamInitDiag(): invalid adapter handle"), std::string::npos);
  EXPECT_NE(log.find("ngNdamUnInitDiag(): invalid adapter handle"), std::string::npos);
  EXPECT_NE(log.find("InitDiag() return ngNDAM_OK ("), std::string::npos);
  EXPECT_NE(log.find("UnInitDiag() return ngNDAM_OK ("), std::string::npos);
}

TEST_F(NdamTest, AdapterStillHeldAtUninitialisationIsGivenBack) {
  Load(MachineOf({Adapter()}));
  ASSERT_EQ(Init(), ngNDAM_OK);
  ASSERT_EQ(ngNdamInitDiag(1), ngNDAM_OK);
  ASSERT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  ASSERT_EQ(Init(), ngNDAM_OK);
  EXPECT_EQ(ngNdamInitDiag(1), ngNDAM_OK);
  EXPECT_EQ(ngNdamUnInitDiag(1), ngNDAM_OK);
}

struct NodeCase {
  const char* name;
  json devnode;
  const char* log_text;
};

TEST_F(NdamTest, DeviceNodeMustBeStartedAndEnabled) {
  const NodeCase cases[] = {
      {"disabled", {{"problem", 22}}, " is disabled\r\n"},
      {"not started", {{"status", 0x01802002}}, " is not started\r\n"},
  };
  for (const NodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    json a = Adapter();
    a["devnode"] = c.devnode;
    Load(MachineOf({a}));
    LogAll();
    ASSERT_EQ(Init(), ngNDAM_OK);
    std::vector<PhyNic> r = Records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].locked, 0u);
    EXPECT_EQ(ngNdamInitDiag(1), ngNDAM_DRIVER_NOT_LOADED);
    // No adapter lock is created for a device node that is not running.
    EXPECT_EQ(Calls("kernel", "create_mutex", kLockGuid + machine_->adapters()[0].net_cfg_instance_id),
              0u);
    std::string log = Log();
    EXPECT_NE(log.find(c.log_text), std::string::npos) << log;
    EXPECT_NE(log.find("InitDiag() IsNICEnabled() driver not loaded ("), std::string::npos);
    EXPECT_NE(log.find("ngNdamInitDiag() InitDiag() return 13\r\n"), std::string::npos);
    ngNdamUninitialize();
  }
}

TEST_F(NdamTest, DeviceObjectIsTriedTwentyTimes) {
  json a = Adapter();
  a["device_object"] = false;
  Load(MachineOf({a}));
  LogAll();
  ASSERT_EQ(Init(), ngNDAM_OK);
  machine_->clear_calls();
  EXPECT_EQ(ngNdamInitDiag(1), ngNDAM_DRIVER_NOT_LOADED);
  const std::string id = machine_->adapters()[0].net_cfg_instance_id;
  EXPECT_EQ(Calls("device_io", "open_device", "\\\\.\\Global\\" + id), 20u);
  EXPECT_EQ(Calls("kernel", "sleep", "10"), 19u);
  std::string log = Log();
  EXPECT_EQ(Count(log, "InitDiag() CreateFile() failed 0x00000002(" + id + ")\r\n"), 20u);
  EXPECT_NE(log.find("InitDiag() CreateFile() failed after 20 tries(" + id + ")\r\n"),
            std::string::npos);
  // The lock was given back: the next attempt fails the same way, not as held.
  EXPECT_EQ(ngNdamInitDiag(1), ngNDAM_DRIVER_NOT_LOADED);
}

TEST_F(NdamTest, LockNameAndDevicePathDropTheLongPathPrefix) {
  const char* ids[] = {"\\\\?\\{5E7A0001-0C1D-4E2F-8A3B-E7A500000001}",
                       "\\\\?\\{5e7a0001-0c1d-4e2f-8a3b-e7a500000001}"};
  for (const char* id : ids) {
    SCOPED_TRACE(id);
    json a = Adapter();
    a["net_cfg_instance_id"] = id;
    Load(MachineOf({a}));
    ASSERT_EQ(Init(), ngNDAM_OK);
    machine_->clear_calls();
    ngNdamInitDiag(1);
    std::string bare = std::string(id).substr(4);
    EXPECT_EQ(Calls("kernel", "create_mutex", std::string("Global\\") + kLockGuid + bare), 1u);
    EXPECT_GT(Calls("device_io", "open_device", "\\\\.\\Global\\" + bare), 0u);
    EXPECT_EQ(Calls("kernel", "create_mutex", "\\\\?\\"), 0u);
    ngNdamUnInitDiag(1);
    ngNdamUninitialize();
  }
}

}  // namespace
}  // namespace ndam_test
