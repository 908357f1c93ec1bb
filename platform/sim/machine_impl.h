// machine_impl.h: the simulated machine's insides, shared by the files that
// implement its services. Not included from outside platform/sim/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "platform/sim/machine.h"
#include "platform/sim/wmi_provider.h"

namespace plat::sim {

// A registry value.
struct RegValue {
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;
};

// One registry key. Names compare without regard to case; order is the
// order of creation.
struct RegNode {
  std::string name;
  std::vector<std::pair<std::string, RegValue>> values;
  std::vector<std::unique_ptr<RegNode>> children;

  RegNode* child(std::string_view n) const;
  RegNode* ensure_child(std::string_view n);
  bool remove_child(std::string_view n);
  const RegValue* value(std::string_view n) const;
  void set_value(std::string_view n, RegValue v);
  bool remove_value(std::string_view n);
};

// A registry value from its JSON form ({"sz": ...}, {"dword": ...}, ...).
bool reg_value_from_json(const nlohmann::json& j, RegValue* out, std::string* error);
RegValue reg_sz(std::string_view text);
RegValue reg_dword(std::uint32_t v);
RegValue reg_multi_sz(const std::vector<std::string>& texts);
RegValue reg_binary(std::vector<std::uint8_t> bytes);

// One device of the device set.
struct SimDevice {
  int adapter = -1;  // index into adapters, or -1 for a device of another class
  std::string instance_id;
  Guid class_guid;
  bool present = true;
  std::map<std::uint32_t, RegValue> properties;
  std::uint32_t dev_inst = 0;
  std::uint32_t status = 0;   // base device node status (enable state applied at query)
  std::uint32_t problem = 0;
  bool disableable = true;
  bool need_reboot = false;   // a state change asks for a reboot
};

// An NDIS answer: data, the byte count the driver reports, or a failure.
struct OidAnswer {
  std::vector<std::uint8_t> data;
  std::optional<std::uint32_t> length;  // reported length when it differs
  std::uint32_t error = 0;
};

// A parsed fault of the description.
struct Fault {
  std::string service;
  std::string call;
  std::vector<std::string> keys;  // each must occur in the call's key (any case)
  std::uint64_t nth = 0;          // 0: every matching call
  std::uint64_t count = 1;        // with nth: how many calls from the nth
  std::uint32_t code = 0;
  std::uint64_t seen = 0;
};

// The open objects.
struct HandleEntry {
  enum class Kind { kFile, kDevice, kMutex, kKey, kDevSet, kScm, kModule };
  explicit HandleEntry(Kind k) : kind(k) {}
  Kind kind;
  int fd = -1;               // file
  int adapter = -1;          // device object
  std::string name;          // mutex name, module path, key path
  RegNode* key = nullptr;    // registry key
  std::vector<std::size_t> members;  // device set: indexes into devices
  std::map<std::size_t, PropChangeParams> install_params;  // per member
};

class MachineImpl {
 public:
  explicit MachineImpl(Machine* owner);
  ~MachineImpl();

  bool load(const nlohmann::json& description, const std::string& machine_path,
            std::string* error);

  // Call record and faults.
  void record(std::string service, std::string call, std::string args, std::uint32_t outcome);
  std::optional<std::uint32_t> fault(std::string_view service, std::string_view call,
                                     std::string_view key);

  // Handles.
  Handle add_handle(HandleEntry entry);
  HandleEntry* handle(Handle h, HandleEntry::Kind kind);
  bool remove_handle(Handle h);

  // Registry.
  RegNode* find_key(std::string_view full_path);  // "HKLM\\SYSTEM\\..."
  static std::string root_name(Handle root);

  // Host path of a machine path ("C:\\..." goes into the state folder).
  std::string host_path(std::string_view machine_path) const;

  // Device enable state (persisted).
  bool device_enabled(const SimDevice& d) const;
  bool set_device_enabled(const SimDevice& d, bool enabled);
  bool adapter_enabled(int adapter) const;

  // WMI.
  WmiProvider* provider(WStringView ns, WStringView class_name);

  // Time.
  std::uint64_t now_ms() const;
  void sleep_ms(std::uint32_t ms);

  // State files.
  nlohmann::json read_state(const std::string& section) const;
  bool update_state(const std::string& section,
                    const std::function<bool(nlohmann::json& value)>& fn);
  bool reset_state();

  Machine* owner;
  nlohmann::json description;
  std::string machine_path;
  std::string state_dir;
  bool temporary_state = false;
  bool real_time = false;
  std::uint32_t tick_base = 0;
  std::string computer_name = "VREXHOST";
  std::uint32_t ansi_code_page = 1252;
  std::string system_directory = "C:\\Windows\\system32";
  std::string common_app_data = "C:\\ProgramData";
  bool shutting_down = false;
  std::optional<std::string> scm_lock_owner;
  bool wmi_available = true;
  std::vector<std::string> missing_exports;  // "setupapi.dll!Name"
  std::vector<std::string> missing_libraries;

  std::vector<Adapter> adapters;
  std::vector<SimDevice> devices;
  std::unique_ptr<RegNode> hklm;
  std::vector<std::map<std::uint32_t, OidAnswer>> oids;  // per adapter
  std::vector<bool> has_device_object;                   // per adapter, before enable state
  IpAdapterInfoList ip_info;
  std::vector<int> ip_info_adapter;  // adapter of each ip_info entry (-1 for none)
  IpAdapterAddressesList ip_addresses;
  std::vector<int> ip_addresses_adapter;
  std::vector<std::unique_ptr<WmiProvider>> providers;

  mutable std::recursive_mutex mu;
  std::vector<CallRecord> calls;
  std::FILE* call_log = nullptr;  // VREX_SIM_CALL_LOG: every record as a line
  std::vector<Fault> faults;
  std::map<Handle, HandleEntry> handles;
  Handle next_handle = 0x1000;
  std::uint64_t virtual_ms = 0;
  std::string debug_output;

  // Parsed state sections, kept while their file is unchanged.
  struct CachedSection {
    std::uint64_t inode = 0, size = 0, mtime_ns = 0;
    nlohmann::json value;
  };
  mutable std::map<std::string, CachedSection> state_cache;

  // Process-local bookkeeping of named mutexes (kernel.cc).
  struct MutexState {
    std::string base;  // host path without the ".h"/".o" suffix
    int handles = 0;   // open handles of this machine object
    int fd_h = -1;
    int fd_o = -1;
    std::uint32_t owner_tid = 0;
    std::uint32_t recursion = 0;
  };
  std::map<std::string, std::unique_ptr<MutexState>> mutexes;

  // COM (wmi.cc).
  bool com_security_set = false;

  std::unique_ptr<DeviceInstaller> devices_service;
  std::unique_ptr<Registry> registry_service;
  std::unique_ptr<ServiceManager> scm_service;
  std::unique_ptr<SystemLibraries> libraries_service;
  std::unique_ptr<DeviceIo> device_io_service;
  std::unique_ptr<IpHelper> ip_helper_service;
  std::unique_ptr<Com> com_service;
  std::unique_ptr<ShellFolders> shell_service;
  std::unique_ptr<Kernel> kernel_service;
  Services services;
};

// Factories of the services (one file each).
std::unique_ptr<DeviceInstaller> make_device_installer(MachineImpl* m);
std::unique_ptr<Registry> make_registry(MachineImpl* m);
std::unique_ptr<ServiceManager> make_service_manager(MachineImpl* m);
std::unique_ptr<SystemLibraries> make_system_libraries(MachineImpl* m);
std::unique_ptr<DeviceIo> make_device_io(MachineImpl* m);
std::unique_ptr<IpHelper> make_ip_helper(MachineImpl* m);
std::unique_ptr<Com> make_com(MachineImpl* m);
std::unique_ptr<ShellFolders> make_shell_folders(MachineImpl* m);
std::unique_ptr<Kernel> make_kernel(MachineImpl* m);

// Derivation of the machine from its description (derive.cc).
bool derive_machine(MachineImpl* m, std::string* error);

// Sizes of the host's IP Helper records for the size protocol.
std::uint32_t ip_info_list_size(const IpAdapterInfoList& list);
std::uint32_t ip_addresses_list_size(const IpAdapterAddressesList& list);

// Text helpers.
std::string lower(std::string_view s);
bool iequals(std::string_view a, std::string_view b);
bool icontains(std::string_view haystack, std::string_view needle);
std::string hex32(std::uint32_t v);
std::string narrow(WStringView w);   // UTF-16 to UTF-8
WString widen(std::string_view s);   // UTF-8 to UTF-16
// A number from JSON: an integer, or a text in decimal or "0x" hexadecimal.
bool json_uint(const nlohmann::json& j, std::uint64_t* out);
// Bytes from JSON: a hexadecimal text (blanks, ':' and '-' ignored) or an array of numbers.
bool json_hex_bytes(const nlohmann::json& j, std::vector<std::uint8_t>* out);

}  // namespace plat::sim
