// Kernel services, persistence and machine-wide named mutexes of the
// simulated machine (across real processes).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/sim/machine.h"
#include "tests/platform/sim_test_util.h"

namespace fs = std::filesystem;

namespace plat::sim {
namespace {

using testing::machine;
using testing::one_adapter;

// A machine file in a fresh folder, removed at the end.
class MachineFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "vrexsim-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/machine.json";
    std::ofstream(path_) << one_adapter();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::unique_ptr<Machine> open() {
    std::string error;
    auto m = Machine::from_file(path_, &error);
    EXPECT_NE(m, nullptr) << error;
    return m;
  }
  std::string dir_, path_;
};

// The device node state of the machine's first adapter.
std::uint32_t problem_of_first(Machine& m) {
  std::uint32_t dn = 0, status = 0, problem = 0;
  EXPECT_EQ(m.services().devices->locate_devnode(m.adapters()[0].instance_id, 0, &dn), kCrSuccess);
  EXPECT_EQ(m.services().devices->get_devnode_status(dn, &status, &problem), kCrSuccess);
  return problem;
}

// Disables or enables the first network device as the device installer does.
std::uint32_t change_first(Machine& m, std::uint32_t state) {
  DeviceInstaller& di = *m.services().devices;
  Handle set = kNoHandle;
  EXPECT_EQ(di.get_class_devs(nullptr, kDigcfAllClasses | kDigcfPresent, &set), kErrorSuccess);
  DevInfoData d;
  EXPECT_EQ(di.enum_device_info(set, 0, &d), kErrorSuccess);
  PropChangeParams p;
  p.state_change = state;
  p.scope = kDicsFlagConfigSpecific;
  std::uint32_t rc = di.set_class_install_params(set, d, p, kPropChangeParamsSize);
  if (rc == kErrorSuccess) rc = di.change_state(set, d);
  di.destroy_device_info_list(set);
  return rc;
}

TEST_F(MachineFile, DeviceStatePersistsAcrossRunsUntilReset) {
  {
    auto run1 = open();
    EXPECT_EQ(problem_of_first(*run1), 0u);
    ASSERT_EQ(change_first(*run1, kDicsDisable), kErrorSuccess);
    EXPECT_EQ(problem_of_first(*run1), kCmProbDisabled);
  }
  auto run2 = open();
  EXPECT_EQ(problem_of_first(*run2), kCmProbDisabled);
  Handle h = kNoHandle;
  EXPECT_EQ(run2->services().device_io->open_device("\\\\.\\Global\\{11111111-2222-3333-4444-555555555555}",
                                                    kGenericRead, 0, kOpenExisting, &h),
            kErrorFileNotFound);
  ASSERT_EQ(change_first(*run2, kDicsEnable), kErrorSuccess);
  ASSERT_EQ(change_first(*run2, kDicsDisable), kErrorSuccess);
  EXPECT_TRUE(run2->reset_state());
  EXPECT_EQ(problem_of_first(*open()), 0u);
  EXPECT_TRUE(fs::exists(dir_ + "/machine.json.state"));
}

TEST_F(MachineFile, ConcurrentStateUpdatesAreNotLost) {
  constexpr int kChildren = 4, kEach = 25;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string error;
      auto m = Machine::from_file(path_, &error);
      for (int i = 0; m && i < kEach; ++i) {
        m->update_state("counter", [](nlohmann::json& v) {
          v = v.is_number() ? v.get<int>() + 1 : 1;
          return true;
        });
      }
      std::_Exit(m ? 0 : 1);
    }
  }
  for (int c = 0; c < kChildren; ++c) {
    int status = 0;
    ::wait(&status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(open()->read_state("counter"), kChildren * kEach);
}

// Runs fn in a child process that reports one byte through a pipe, then
// waits for the parent's byte before it ends (without releasing anything).
struct Child {
  pid_t pid = -1;
  int to_parent[2] = {-1, -1}, to_child[2] = {-1, -1};

  template <typename Fn>
  explicit Child(Fn fn) {
    if (::pipe(to_parent) != 0 || ::pipe(to_child) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      char c = fn();
      ssize_t w = ::write(to_parent[1], &c, 1);
      ssize_t r = ::read(to_child[0], &c, 1);
      std::_Exit(w == 1 && r >= 0 ? 0 : 1);
    }
  }
  char report() {
    char c = 0;
    return ::read(to_parent[0], &c, 1) == 1 ? c : '?';
  }
  void finish() {
    char c = 'x';
    EXPECT_EQ(::write(to_child[1], &c, 1), 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) ::close(fd);
  }
};

const char kLock[] = "Global\\{FBCBECF0-D87B-11d5-A4CF-00104BCD3937}{11111111-2222-3333-4444-555555555555}";

TEST_F(MachineFile, NamedMutexIsSeenByAnotherProcess) {
  Child child([&] {
    std::string error;
    auto m = Machine::from_file(path_, &error);
    Handle h = kNoHandle;
    if (!m) return 'e';
    std::uint32_t rc = m->services().kernel->create_mutex(nullptr, true, kLock, &h);
    char c = rc == kErrorSuccess ? 'c' : 'f';
    // Stay alive, owning it, until the parent is done (the lambda's machine
    // must outlive the report, so hand it to a static).
    static std::unique_ptr<Machine> keep;
    keep = std::move(m);
    return c;
  });
  ASSERT_GT(child.pid, 0);
  ASSERT_EQ(child.report(), 'c');

  auto m = open();
  Kernel& k = *m->services().kernel;
  Handle h = kNoHandle;
  EXPECT_EQ(k.create_mutex(nullptr, true, kLock, &h), kErrorAlreadyExists);
  ASSERT_NE(h, kNoHandle);
  EXPECT_EQ(k.wait_for_object(h, 20), kWaitTimeout);
  EXPECT_EQ(k.release_mutex(h), kErrorNotOwner);
  EXPECT_EQ(m->named_mutexes(), std::vector<std::string>{kLock});

  // The owner ends without releasing: the next waiter gets it, abandoned.
  child.finish();
  EXPECT_EQ(k.wait_for_object(h, 1000), kWaitAbandoned);
  EXPECT_EQ(k.release_mutex(h), kErrorSuccess);
  EXPECT_EQ(k.close_handle(h), kErrorSuccess);

  // With every handle closed the name is free: a new mutex.
  EXPECT_EQ(k.create_mutex(nullptr, true, kLock, &h), kErrorSuccess);
  EXPECT_EQ(k.close_handle(h), kErrorSuccess);
}

TEST(SimKernel, MutexOwnershipWithinOneProcess) {
  auto m = machine("{}");
  Kernel& k = *m->services().kernel;
  Handle a = kNoHandle, b = kNoHandle;
  ASSERT_EQ(k.create_mutex(nullptr, true, "Global\\m", &a), kErrorSuccess);
  ASSERT_EQ(k.create_mutex(nullptr, true, "Global\\m", &b), kErrorAlreadyExists);
  EXPECT_EQ(k.wait_for_object(b, 0), kWaitObject0);  // recursive for the owning thread
  std::uint32_t other_wait = 0, other_release = 0;
  std::thread t([&] {
    other_wait = k.wait_for_object(a, 10);
    other_release = k.release_mutex(a);
  });
  t.join();
  EXPECT_EQ(other_wait, kWaitTimeout);
  EXPECT_EQ(other_release, kErrorNotOwner);
  EXPECT_EQ(k.release_mutex(a), kErrorSuccess);
  EXPECT_EQ(k.release_mutex(a), kErrorSuccess);
  EXPECT_EQ(k.release_mutex(a), kErrorNotOwner);
  t = std::thread([&] { other_wait = k.wait_for_object(a, 10); });
  t.join();
  EXPECT_EQ(other_wait, kWaitObject0);
  k.close_handle(a);
  k.close_handle(b);
}

TEST(SimKernel, VirtualTimeAndRealTime) {
  auto m = machine(R"({"tick_start": 4294967000})");
  Kernel& k = *m->services().kernel;
  std::uint32_t t0 = k.tick_count();
  k.sleep(5000);
  EXPECT_EQ(static_cast<std::uint32_t>(k.tick_count() - t0), 5000u);  // wraps past 2^32
  EXPECT_LT(k.tick_count(), t0);
  auto r = machine(R"({"time": "real"})");
  std::uint32_t r0 = r->services().kernel->tick_count();
  r->services().kernel->sleep(20);
  EXPECT_GE(static_cast<std::uint32_t>(r->services().kernel->tick_count() - r0), 20u);
}

TEST(SimKernel, CodePagesAndComputerName) {
  auto m = machine(R"({"computer_name": "SRV-0123456789A"})");
  Kernel& k = *m->services().kernel;
  struct Case {
    std::string ansi;
    WString wide;
  } cases[] = {
      {"plain", u"plain"},
      {"\xE9t\xE9", u"\u00E9t\u00E9"},
      {"\x80 \x9F", u"\u20AC \u0178"},
  };
  for (const auto& c : cases) {
    std::uint32_t n = 0;
    ASSERT_EQ(k.multibyte_to_wide(kCpAcp, 0, c.ansi, nullptr, 0, &n), kErrorSuccess);
    WString w(n, u'\0');
    ASSERT_EQ(k.multibyte_to_wide(kCpAcp, 0, c.ansi, w.data(), n, &n), kErrorSuccess);
    EXPECT_EQ(w, c.wide);
    std::string back(c.ansi.size(), '\0');
    ASSERT_EQ(k.wide_to_multibyte(kCpAcp, 0, w, back.data(), static_cast<std::uint32_t>(back.size()), &n),
              kErrorSuccess);
    EXPECT_EQ(back, c.ansi);
  }
  char16_t small[2];
  std::uint32_t n = 0;
  EXPECT_EQ(k.multibyte_to_wide(kCpAcp, 0, "abc", small, 2, &n), kErrorInsufficientBuffer);
  std::string out(4, '\0');
  EXPECT_EQ(k.wide_to_multibyte(kCpUtf8, kWcErrInvalidChars, WString(1, static_cast<char16_t>(0xD800)),
                                out.data(), 4, &n),
            kErrorNoUnicodeTranslation);

  char16_t name[16];
  std::uint32_t size = 16;
  ASSERT_EQ(k.get_computer_name_w(name, &size), kErrorSuccess);
  EXPECT_EQ(WString(name, size), u"SRV-0123456789A");
  size = 5;
  EXPECT_EQ(k.get_computer_name_w(name, &size), kErrorBufferOverflow);
  EXPECT_EQ(size, 16u);
}

TEST(SimKernel, AppDataFolderAndFilesStayInsideTheMachine) {
  auto m = machine("{}");
  Services& s = m->services();
  std::string appdata;
  ASSERT_EQ(s.shell->get_folder_path(kCsidlCommonAppData, &appdata), kHrOk);
  EXPECT_EQ(appdata, "C:\\ProgramData");
  const std::string log_dir = appdata + "\\Tessaly\\Rovi Vozi\\log";
  EXPECT_EQ(s.kernel->folder_exists(log_dir), kErrorPathNotFound);
  EXPECT_EQ(s.shell->create_directory_tree(log_dir), kErrorSuccess);
  EXPECT_EQ(s.shell->create_directory_tree(log_dir), kErrorAlreadyExists);
  EXPECT_EQ(s.kernel->folder_exists(log_dir), kErrorSuccess);
  EXPECT_EQ(m->host_path(log_dir).rfind(m->state_dir(), 0), 0u);

  const std::string log = log_dir + "\\ngndam.log";
  Handle f = kNoHandle;
  ASSERT_EQ(s.kernel->create_file(log, kGenericRead | kGenericWrite, kFileShareRead, kCreateNew, &f),
            kErrorSuccess);
  const std::string line = "entry\r\n";
  std::uint32_t n = 0;
  ASSERT_EQ(s.kernel->write_file(f, {reinterpret_cast<const std::uint8_t*>(line.data()), line.size()}, &n),
            kErrorSuccess);
  s.kernel->close_handle(f);
  EXPECT_EQ(s.kernel->create_file(log, kGenericRead | kGenericWrite, kFileShareRead, kCreateNew, &f),
            kErrorFileExists);
  ASSERT_EQ(s.kernel->create_file(log, kGenericRead | kGenericWrite, kFileShareRead, kOpenAlways, &f),
            kErrorSuccess);
  std::uint64_t pos = 0;
  ASSERT_EQ(s.kernel->set_file_pointer(f, 0, kFileEnd, &pos), kErrorSuccess);
  EXPECT_EQ(pos, line.size());  // appended to, never truncated
  s.kernel->close_handle(f);
  std::string content;
  ASSERT_EQ(s.kernel->read_file_content(log, &content), kErrorSuccess);
  EXPECT_EQ(content, line);
  EXPECT_EQ(s.kernel->read_file_content(appdata + "\\nothing\\x.conf", &content), kErrorPathNotFound);
  s.kernel->output_debug_string("one ");
  s.kernel->output_debug_string("two");
  EXPECT_EQ(m->debug_output(), "one two");
}

TEST(SimSystem, ServiceManagerAndLibraries) {
  struct Case {
    const char* name;
    std::string top;
    std::uint32_t open_rc;
    bool locked;
  } cases[] = {
      {"normal", "{}", kErrorSuccess, false},
      {"locked", R"({"scm": {"locked_by": "NT AUTHORITY\\SYSTEM"}})", kErrorSuccess, true},
      {"shutting down", R"({"shutting_down": true})", kErrorShutdownInProgress, false},
  };
  for (const auto& c : cases) {
    auto m = machine(c.top);
    ServiceManager& scm = *m->services().scm;
    Handle h = kNoHandle;
    ASSERT_EQ(scm.open_sc_manager(kScManagerAllAccess, &h), c.open_rc) << c.name;
    if (c.open_rc != kErrorSuccess) continue;
    ServiceLockStatus st;
    std::uint32_t need = 0;
    ASSERT_EQ(scm.query_lock_status(h, 520, &st, &need), kErrorSuccess);
    EXPECT_EQ(st.locked, c.locked) << c.name;
    if (c.locked) {
      EXPECT_EQ(st.owner, "NT AUTHORITY\\SYSTEM");
      EXPECT_EQ(scm.query_lock_status(h, 16, &st, &need), kErrorInsufficientBuffer);
    }
    scm.close_service_handle(h);
  }
  auto m = machine(R"({"libraries": {"missing_exports": ["iphlpapi.dll!GetAdaptersAddresses"]}})");
  SystemLibraries& lib = *m->services().libraries;
  std::string dir;
  ASSERT_EQ(lib.get_system_directory(&dir), kErrorSuccess);
  Handle h = kNoHandle;
  ASSERT_EQ(lib.load_library(dir + "\\Setupapi.dll", kLoadWithAlteredSearchPath, &h), kErrorSuccess);
  EXPECT_EQ(lib.get_proc_address(h, "SetupDiEnumDeviceInterfaces"), kErrorSuccess);
  lib.free_library(h);
  ASSERT_EQ(lib.load_library(dir + "\\Iphlpapi.dll", kLoadWithAlteredSearchPath, &h), kErrorSuccess);
  EXPECT_EQ(lib.get_proc_address(h, "GetAdaptersAddresses"), kErrorProcNotFound);
  lib.free_library(h);
  EXPECT_EQ(lib.load_library("C:\\elsewhere\\setupapi.dll", 0, &h), kErrorModNotFound);
}

}  // namespace
}  // namespace plat::sim
