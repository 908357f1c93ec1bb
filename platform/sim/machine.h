// machine.h: the simulated machine behind the platform seam.
//
// A machine is described by JSON (docs/simulated-machine.md): a few facts per
// network adapter, from which it derives the device set, registry keys,
// device nodes, device objects and their NDIS answers, IP Helper lists and
// WMI instances; raw overrides and faults on top. State that runs change
// (device enable state, and what WMI providers keep) lives in the machine's
// state folder: beside a machine file ("NAME.state/"), named by "state_dir",
// or a private temporary folder for a machine given as text only. Every state
// write is atomic and serialised between processes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/platform.h"

namespace plat::sim {

class WmiProvider;
class MachineImpl;

// One call through the seam as the machine saw it.
struct CallRecord {
  std::string service;  // "devices", "registry", "scm", "libraries", "device_io",
                        // "ip_helper", "com", "wmi", "shell", "kernel"
  std::string call;     // the call's name, as in the service's header
  std::string args;     // the call's key arguments as text
  std::uint32_t outcome = 0;  // system error code, CONFIGRET or HRESULT bits
};

// The facts of one adapter after loading (derived values filled in).
struct Adapter {
  std::size_t index = 0;            // position in the description
  std::string kind;                 // "physical", "virtual" or "hidden"
  std::string description;          // device description
  std::string friendly_name;        // may be empty
  std::string name;                 // friendly name, else description: the WMI instance name
  std::string instance_id;          // device instance id
  std::string net_cfg_instance_id;  // "{GUID}"
  std::string class_subkey;         // "0001" under the network class key
  std::string service;              // driver service name
  std::string driver_file;          // driver image file name
  std::string manufacturer;
  std::uint16_t vendor_id = 0, device_id = 0, subsystem_vendor_id = 0, subsystem_id = 0;
  std::uint8_t revision = 0;
  std::uint32_t segment = 0, bus = 0, device = 0, function = 0;
  bool enabled = true;  // current state (persisted state applied)
  nlohmann::json facts; // the adapter's description as given, for providers
};

class Machine {
 public:
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Builds a machine from JSON text. machine_path names the file it came
  // from ("" for none): its state folder is machine_path + ".state" unless
  // the description names one. Returns null and sets *error on a bad
  // description.
  static std::unique_ptr<Machine> from_json(std::string_view json_text,
                                            const std::string& machine_path,
                                            std::string* error);
  // Reads and builds the machine file at path.
  static std::unique_ptr<Machine> from_file(const std::string& path, std::string* error);
  // The built-in demo machine, its state in a fixed folder of the host's
  // temporary directory (shared by every process of this user).
  static std::unique_ptr<Machine> demo(std::string* error);
  // The built-in demo machine's description.
  static std::string demo_json();
  // The default demo state folder.
  static std::string demo_state_dir();

  // The seam's services of this machine.
  Services& services();
  // Makes this machine the backend in use until the returned guard ends.
  class Installed {
   public:
    explicit Installed(Services* previous) : previous_(previous) {}
    ~Installed() { set_platform_services(previous_); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;

   private:
    Services* previous_;
  };
  [[nodiscard]] std::unique_ptr<Installed> install();

  // The adapters as loaded.
  const std::vector<Adapter>& adapters() const;
  const Adapter* adapter_by_name(std::string_view wmi_instance_name) const;
  const Adapter* adapter_by_net_cfg_id(std::string_view net_cfg_instance_id) const;
  // Whether the adapter's driver runs: present, enabled, device node
  // started without a problem, device object there.
  bool adapter_running(std::size_t index) const;
  // The whole description.
  const nlohmann::json& description() const;

  // The record of calls since construction or the last clear. With
  // VREX_SIM_CALL_LOG naming a file, every record is also appended to it as
  // a line "service call args -> 0xOUTCOME" (for runs of whole programs).
  std::vector<CallRecord> calls() const;
  void clear_calls();
  // Everything written to the debugger output since construction.
  std::string debug_output() const;
  // The host path of a path of the machine ("C:\\ProgramData\\..." lies in
  // the state folder's "drive/C/ProgramData/...").
  std::string host_path(std::string_view machine_path) const;

  // Virtual time (milliseconds since the machine started); advances on
  // sleep unless the machine asks for real time.
  std::uint64_t now_ms() const;

  // Persistent state, one JSON document per section name ("devices",
  // providers' own sections). read returns null when the section is absent.
  // update runs fn on the current value under the machine's state lock and
  // writes the result atomically; fn returning false writes nothing.
  nlohmann::json read_state(const std::string& section) const;
  bool update_state(const std::string& section,
                    const std::function<bool(nlohmann::json& value)>& fn);
  // Discards all state that runs have written. Returns false on an I/O error.
  bool reset_state();
  const std::string& state_dir() const;
  // The names of the state sections written so far.
  std::vector<std::string> state_sections() const;
  // The named mutexes that exist now (some process holds a handle), by name.
  std::vector<std::string> named_mutexes() const;

  // Fault check for a provider's own calls: true and *code when a fault of
  // the description matches (service, call, key); counts the call either way.
  bool fault(std::string_view service, std::string_view call, std::string_view key,
             std::uint32_t* code);
  // Appends one record to the call record.
  void record(std::string service, std::string call, std::string args, std::uint32_t outcome);

  // Adds the WMI class that provider serves (replacing one of the same
  // namespace and class name).
  void add_wmi_provider(std::unique_ptr<WmiProvider> provider);

 private:
  Machine();
  std::unique_ptr<MachineImpl> impl_;
  friend class MachineImpl;
};

}  // namespace plat::sim
