// system.cc: the simulated service control manager, system libraries and
// shell folders.
#include <sys/stat.h>

#include <filesystem>

#include "platform/sim/machine_impl.h"

namespace fs = std::filesystem;

namespace plat::sim {

namespace {

class SimServiceManager : public ServiceManager {
 public:
  explicit SimServiceManager(MachineImpl* m) : m_(m) {}

  std::uint32_t open_sc_manager(std::uint32_t access, Handle* scm) override {
    std::uint32_t rc = kErrorSuccess;
    *scm = kNoHandle;
    if (auto f = m_->fault("scm", "open_sc_manager", "")) {
      rc = *f;
    } else if (m_->shutting_down) {
      rc = kErrorShutdownInProgress;
    } else {
      (void)access;
      *scm = m_->add_handle(HandleEntry{HandleEntry::Kind::kScm});
    }
    m_->record("scm", "open_sc_manager", "", rc);
    return rc;
  }

  std::uint32_t query_lock_status(Handle scm, std::uint32_t buffer_size,
                                  ServiceLockStatus* status,
                                  std::uint32_t* bytes_needed) override {
    std::uint32_t rc = kErrorSuccess;
    // The host's record: locked flag, owner pointer, duration (16 bytes on
    // 64-bit hosts) followed by the owner's name with its terminator.
    std::string owner = m_->scm_lock_owner.value_or("");
    auto needed = static_cast<std::uint32_t>(16 + owner.size() + 1);
    if (m_->handle(scm, HandleEntry::Kind::kScm) == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("scm", "query_lock_status", "")) {
      rc = *f;
    } else {
      if (bytes_needed != nullptr) *bytes_needed = needed;
      if (buffer_size < needed) {
        rc = kErrorInsufficientBuffer;
      } else {
        status->locked = m_->scm_lock_owner.has_value();
        status->owner = owner;
        status->duration_s = status->locked ? 12 : 0;
      }
    }
    m_->record("scm", "query_lock_status", "", rc);
    return rc;
  }

  std::uint32_t close_service_handle(Handle scm) override {
    std::uint32_t rc = kErrorSuccess;
    if (m_->handle(scm, HandleEntry::Kind::kScm) == nullptr) {
      rc = kErrorInvalidHandle;
    } else {
      m_->remove_handle(scm);
    }
    m_->record("scm", "close_service_handle", "", rc);
    return rc;
  }

 private:
  MachineImpl* m_;
};

// The libraries of the system directory and what each exports.
struct KnownLibrary {
  const char* file;
  std::vector<const char*> exports;
};

const std::vector<KnownLibrary>& known_libraries() {
  static const std::vector<KnownLibrary> libs = {
      {"setupapi.dll",
       {"SetupDiGetClassDevsA", "SetupDiGetClassDevsW", "SetupDiEnumDeviceInfo",
        "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceRegistryPropertyA",
        "SetupDiGetDeviceInstanceIdA", "SetupDiSetClassInstallParamsA", "SetupDiCallClassInstaller",
        "SetupDiChangeState", "SetupDiGetDeviceInstallParamsA", "SetupDiDestroyDeviceInfoList"}},
      {"iphlpapi.dll", {"GetAdaptersInfo", "GetAdaptersAddresses", "GetIfTable"}},
      {"cfgmgr32.dll", {"CM_Locate_DevNodeA", "CM_Get_DevNode_Status"}},
      {"advapi32.dll", {"OpenSCManagerA", "QueryServiceLockStatusA", "RegOpenKeyExA"}},
      {"kernel32.dll", {"CreateMutexA", "GetTickCount", "Sleep", "OutputDebugStringA"}},
  };
  return libs;
}

class SimSystemLibraries : public SystemLibraries {
 public:
  explicit SimSystemLibraries(MachineImpl* m) : m_(m) {}

  std::uint32_t get_system_directory(std::string* dir) override {
    std::uint32_t rc = kErrorSuccess;
    if (auto f = m_->fault("libraries", "get_system_directory", "")) {
      rc = *f;
    } else {
      *dir = m_->system_directory;
    }
    m_->record("libraries", "get_system_directory", "", rc);
    return rc;
  }

  std::uint32_t load_library(std::string_view path, std::uint32_t flags, Handle* module) override {
    (void)flags;
    std::string key(path);
    std::uint32_t rc = kErrorSuccess;
    *module = kNoHandle;
    std::string dir = lower(m_->system_directory) + "\\";
    std::string p = lower(path);
    std::string file = p.substr(p.rfind('\\') == std::string::npos ? 0 : p.rfind('\\') + 1);
    const KnownLibrary* lib = nullptr;
    for (const auto& l : known_libraries()) {
      if (file == l.file) lib = &l;
    }
    bool in_system_dir = p == dir + file || p == file;
    bool missing = std::find(m_->missing_libraries.begin(), m_->missing_libraries.end(), file) !=
                   m_->missing_libraries.end();
    if (auto f = m_->fault("libraries", "load_library", key)) {
      rc = *f;
    } else if (lib == nullptr || !in_system_dir || missing) {
      rc = kErrorModNotFound;
    } else {
      HandleEntry e{HandleEntry::Kind::kModule};
      e.name = file;
      *module = m_->add_handle(std::move(e));
    }
    m_->record("libraries", "load_library", key, rc);
    return rc;
  }

  std::uint32_t get_proc_address(Handle module, std::string_view name) override {
    HandleEntry* e = m_->handle(module, HandleEntry::Kind::kModule);
    std::string key = (e != nullptr ? e->name : std::string("?")) + "!" + std::string(name);
    std::uint32_t rc = kErrorProcNotFound;
    if (e == nullptr) {
      rc = kErrorInvalidHandle;
    } else if (auto f = m_->fault("libraries", "get_proc_address", key)) {
      rc = *f;
    } else if (std::find(m_->missing_exports.begin(), m_->missing_exports.end(), lower(key)) ==
               m_->missing_exports.end()) {
      for (const auto& l : known_libraries()) {
        if (e->name != l.file) continue;
        for (const char* x : l.exports) {
          if (name == x) rc = kErrorSuccess;
        }
      }
    }
    m_->record("libraries", "get_proc_address", key, rc);
    return rc;
  }

  std::uint32_t free_library(Handle module) override {
    std::uint32_t rc = kErrorSuccess;
    if (m_->handle(module, HandleEntry::Kind::kModule) == nullptr) {
      rc = kErrorInvalidHandle;
    } else {
      m_->remove_handle(module);
    }
    m_->record("libraries", "free_library", "", rc);
    return rc;
  }

 private:
  MachineImpl* m_;
};

class SimShellFolders : public ShellFolders {
 public:
  explicit SimShellFolders(MachineImpl* m) : m_(m) {}

  HResult get_folder_path(std::int32_t csidl, std::string* path) override {
    std::string key = std::to_string(csidl & ~kCsidlFlagCreate);
    HResult hr = kHrOk;
    if (auto f = m_->fault("shell", "get_folder_path", key)) {
      hr = static_cast<HResult>(*f);
    } else if ((csidl & ~kCsidlFlagCreate) != kCsidlCommonAppData) {
      hr = kHrInvalidArg;
    } else {
      *path = m_->common_app_data;
      std::error_code ec;
      fs::create_directories(m_->host_path(m_->common_app_data), ec);
    }
    m_->record("shell", "get_folder_path", key, static_cast<std::uint32_t>(hr));
    return hr;
  }

  std::uint32_t create_directory_tree(std::string_view path) override {
    std::string key(path);
    std::uint32_t rc = kErrorSuccess;
    if (auto f = m_->fault("shell", "create_directory_tree", key)) {
      rc = *f;
    } else if (path.size() < 3 || path[1] != ':' || path[2] != '\\') {
      rc = kErrorPathNotFound;  // the host wants a full path
    } else {
      fs::path host = m_->host_path(path);
      std::error_code ec;
      if (fs::is_directory(host, ec)) {
        rc = kErrorAlreadyExists;
      } else if (fs::exists(host, ec)) {
        rc = kErrorFileExists;
      } else {
        // A file anywhere on the way blocks the tree.
        for (fs::path p = host.parent_path(); !p.empty() && p != p.parent_path(); p = p.parent_path()) {
          if (fs::exists(p, ec) && !fs::is_directory(p, ec)) {
            rc = kErrorPathNotFound;
            break;
          }
        }
        if (rc == kErrorSuccess) {
          fs::create_directories(host, ec);
          if (ec) rc = kErrorAccessDenied;
        }
      }
    }
    m_->record("shell", "create_directory_tree", key, rc);
    return rc;
  }

 private:
  MachineImpl* m_;
};

}  // namespace

std::unique_ptr<ServiceManager> make_service_manager(MachineImpl* m) {
  return std::make_unique<SimServiceManager>(m);
}
std::unique_ptr<SystemLibraries> make_system_libraries(MachineImpl* m) {
  return std::make_unique<SimSystemLibraries>(m);
}
std::unique_ptr<ShellFolders> make_shell_folders(MachineImpl* m) {
  return std::make_unique<SimShellFolders>(m);
}

}  // namespace plat::sim
