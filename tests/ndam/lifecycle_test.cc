// lifecycle_test.cc: version check, log levels and entry format, the
// reference count, and uninitialisation in every state.
#include <regex>

#include "tests/ndam/ndam_fixture.h"

namespace ndam_test {
namespace {

TEST_F(NdamTest, WrongVersionSetsNothingUp) {
  Load(MachineOf({Adapter()}));
  LogAll();
  const std::uint32_t versions[][3] = {{216, 0, 40}, {215, 0, 41}, {216, 1, 41}};
  for (const auto& v : versions) {
    EXPECT_EQ(ngNdamInitialize(v[0], v[1], v[2]), ngNDAM_VERSION_MISMATCH);
  }
  EXPECT_FALSE(LogFolderExists());
  std::uint32_t n = 7;
  EXPECT_EQ(ngNdamGetNumPhyNic(&n), ngNDAM_NOT_INITIALIZED);
  EXPECT_EQ(n, 7u);
}

struct LevelCase {
  const char* config;  // nullptr: no configuration file
  bool log_file;
  bool information, warning, error;
};

TEST_F(NdamTest, ConfigurationLevelSelectsEntries) {
  const LevelCase cases[] = {
      {nullptr, false, false, false, false},
      {"ngndam 1\n", true, true, true, true},
      {"ngndam 2\n", true, false, true, true},
      {"ngndam 4\n", true, false, false, true},
      {"ngndam 8\n", true, false, false, false},
      {"ngndam 3\n", false, false, false, false},
      {"ngndam 10\n", false, false, false, false},  // read as 0x10
      {"# ngndam 1\n", false, false, false, false},
      {"other 1\r\nngndam 2\r\nngndam 1\r\n", true, false, true, true},  // first match only
      {"log=ngndam\n", false, false, false, false},
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(c.config ? c.config : "(no file)");
    // A warning (no IPv6 address) and an error (no Characteristics) on every run.
    json bad = Adapter(0x7A45);
    bad["overrides"] = {{"class_key", {{"Characteristics", nullptr}}}};
    json quiet = Adapter();
    quiet["ipv6"] = nullptr;
    Load(MachineOf({quiet, bad}));
    if (c.config != nullptr) WriteConfig(c.config);
    ASSERT_EQ(Init(), ngNDAM_OK);
    ASSERT_EQ(ngNdamUninitialize(), ngNDAM_OK);
    EXPECT_EQ(LogExists(), c.log_file);
    EXPECT_EQ(LogFolderExists(), c.log_file);
    std::string log = Log();
    EXPECT_EQ(log.find(" NDAM INFORMATION ") != std::string::npos, c.information);
    EXPECT_EQ(log.find(" NDAM WARNING     ") != std::string::npos, c.warning);
    EXPECT_EQ(log.find(" NDAM ERROR       ") != std::string::npos, c.error);
  }
}

TEST_F(NdamTest, EntryFormatAndAppending) {
  Load(MachineOf({Adapter()}));
  LogAll();
  std::filesystem::path host = machine_->host_path(kLogPath);
  std::filesystem::create_directories(host.parent_path());
  std::ofstream(host, std::ios::binary) << "earlier run\r\n";

  ASSERT_EQ(Init(), ngNDAM_OK);
  ASSERT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  std::string log = Log();
  ASSERT_EQ(log.rfind("earlier run\r\n", 0), 0u) << "the log was truncated";
  // The first entry of this run: build stamp, level, tick, process.thread.
  std::regex first(
      "^earlier run\r\n[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} "
      "NDAM INFORMATION [0-9]+ [0-9]+\\.[0-9]+: Enter InitInternalData\\(\\)");
  EXPECT_TRUE(std::regex_search(log, first)) << log.substr(0, 200);
  // Messages without a line end run on into the next entry.
  EXPECT_NE(log.find("ngNdamInitialize() return ngNDAM_OK"), std::string::npos);
  EXPECT_NE(log.find("Read configuration\r\n"), std::string::npos);
  EXPECT_NE(log.find("UnInitializeLogFile() close logging system\r\n"), std::string::npos);
}

TEST_F(NdamTest, ReferenceCountKeepsTheList) {
  Load(MachineOf({Adapter(), Adapter(0x7A45)}));
  LogAll();
  ASSERT_EQ(Init(), ngNDAM_OK);
  ASSERT_EQ(Init(), ngNDAM_OK);
  EXPECT_NE(Log().find("ngNdamInitialize(): NDAM had initialized already"), std::string::npos);
  PhyNic second{};
  ASSERT_EQ(ngNdamGetPhyNic(2, &second), ngNDAM_OK);
  EXPECT_EQ(second.device_id, 0x7A45);

  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  EXPECT_NE(Log().find("ngNdamUninitialize(): reference count is not 0"), std::string::npos);
  std::uint32_t n = 0;
  EXPECT_EQ(ngNdamGetNumPhyNic(&n), ngNDAM_OK);
  EXPECT_EQ(n, 2u);
  PhyNic again{};
  ASSERT_EQ(ngNdamGetPhyNic(2, &again), ngNDAM_OK);
  EXPECT_EQ(again.handle, 2u);
  EXPECT_EQ(again.device_id, 0x7A45);

  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  EXPECT_NE(Log().find("ngNdamUninitialize() return ngNDAM_OK"), std::string::npos);
  EXPECT_EQ(ngNdamGetNumPhyNic(&n), ngNDAM_NOT_INITIALIZED);
  EXPECT_EQ(ngNdamGetPhyNic(1, &again), ngNDAM_NOT_INITIALIZED);
  EXPECT_EQ(ngNdamInitDiag(1), ngNDAM_NOT_INITIALIZED);

  // Handles restart at 1 when the list is built again.
  ASSERT_EQ(Init(), ngNDAM_OK);
  ASSERT_EQ(ngNdamGetPhyNic(1, &again), ngNDAM_OK);
  EXPECT_EQ(again.handle, 1u);
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
}

// Uninitialising needs the library lock only when one exists: without any
// initialisation, twice after one, or after a failed one, it returns 0.
TEST_F(NdamTest, UninitializeInEveryState) {
  Load(MachineOf({Adapter()}));
  LogAll();
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  std::uint32_t n = 0;
  EXPECT_EQ(ngNdamGetNumPhyNic(&n), ngNDAM_NOT_INITIALIZED);

  ASSERT_EQ(Init(), ngNDAM_OK);
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);

  // A machine without adapters: the failed initialisation leaves the lock,
  // which the next uninitialisation deletes; later ones find none.
  Load(json::object());
  LogAll();
  EXPECT_EQ(Init(), ngNDAM_NO_ADAPTER);
  EXPECT_EQ(ngNdamGetNumPhyNic(&n), ngNDAM_NOT_INITIALIZED);
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  std::string log = Log();
  EXPECT_NE(log.find("InitInternalData(): read configuration failed(21)"), std::string::npos);
  EXPECT_NE(log.find("ngNdamInitialize(): initialize failed(21)"), std::string::npos);
  EXPECT_NE(log.find("ngNdamUninitialize(): refcnt(0)"), std::string::npos);
  EXPECT_NE(log.find("ngNdamUninitialize(): NDAM had already uninitialized"), std::string::npos);
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);

  // Initialising again in the same process after the failure finds no
  // instance mutex of its own left behind.
  Load(MachineOf({Adapter()}));
  LogAll();
  EXPECT_EQ(Init(), ngNDAM_OK);
  EXPECT_EQ(Log().find("get mutex failed"), std::string::npos);
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
}

TEST_F(NdamTest, FailedInitialisationAfterNoAdapterLeavesNothingHeld) {
  // One process that failed with 21 and uninitialised leaves the instance
  // mutex free, so a later initialisation does not report another instance.
  Load(json::object());
  LogAll();
  EXPECT_EQ(Init(), ngNDAM_NO_ADAPTER);
  EXPECT_EQ(Init(), ngNDAM_NO_ADAPTER);
  EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  std::string log = Log();
  EXPECT_EQ(Count(log, "ngNdamInitializeEx() get mutex failed"), 0u) << log;
}

struct InitFailureCase {
  const char* name;
  json machine;
  std::uint32_t status;
  const char* log_text;
};

TEST_F(NdamTest, InitialisationFailures) {
  json locked = MachineOf({Adapter()});
  locked["scm"] = {{"locked_by", "NT AUTHORITY\\SYSTEM"}};
  json shutdown = MachineOf({Adapter()});
  shutdown["shutting_down"] = true;
  json no_export = MachineOf({Adapter()});
  no_export["libraries"] = {{"missing_exports", {"setupapi.dll!SetupDiEnumDeviceInterfaces"}}};
  json no_setupapi = MachineOf({Adapter()});
  no_setupapi["libraries"] = {{"missing", {"setupapi.dll"}}};
  json no_set = MachineOf({Adapter()});
  no_set["faults"] = {{{"service", "devices"}, {"call", "get_class_devs"}, {"error", 5}}};
  json scm_refused = MachineOf({Adapter()});
  scm_refused["faults"] = {{{"service", "scm"}, {"call", "open_sc_manager"}, {"error", 5}}};
  json log_refused = MachineOf({Adapter()});
  log_refused["faults"] = {
      {{"service", "kernel"}, {"call", "create_file"}, {"key", "ngndam.log"}, {"error", 5}}};

  const InitFailureCase cases[] = {
      {"scm locked", locked, ngNDAM_SCM_LOCKED,
       "Service control manager is locked by NT AUTHORITY\\SYSTEM.\r\n"},
      {"shutdown", shutdown, ngNDAM_SCM_LOCKED,
       "OpenSCManager failed!(1115), system shutdown is in progress\r\n"},
      {"no export", no_export, ngNDAM_ENUMERATION_FAILED,
       "ReadConfig() GetProcAddress() SetupDiEnumDeviceInterfaces failed("},
      {"no setupapi", no_setupapi, ngNDAM_ENUMERATION_FAILED, "ReadConfig() LoadLibraryEx() failed("},
      {"no device set", no_set, ngNDAM_ENUMERATION_FAILED,
       "ReadConfig() SetupDiGetClassDevs() failed(5)\r\n"},
      {"scm refused", scm_refused, ngNDAM_OK, "OpenSCManager failed!(5)\r\n"},
      {"log refused", log_refused, ngNDAM_LOG_OPEN_FAILED, nullptr},
  };
  for (const InitFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    Load(c.machine);
    LogAll();
    EXPECT_EQ(Init(), c.status);
    if (c.log_text != nullptr) {
      EXPECT_NE(Log().find(c.log_text), std::string::npos) << Log();
    }
    std::uint32_t n = 0;
    EXPECT_EQ(ngNdamGetNumPhyNic(&n), c.status == ngNDAM_OK ? ngNDAM_OK : ngNDAM_NOT_INITIALIZED);
    EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
    EXPECT_EQ(ngNdamUninitialize(), ngNDAM_OK);
  }
}

}  // namespace
}  // namespace ndam_test
