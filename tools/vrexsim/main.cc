// vrexsim: the simulated machine's own tool.
//
//   vrexsim init DIR        write the built-in demo machine to DIR/machine.json
//   vrexsim show [MACHINE]  the machine's adapters, device state and the state
//                           that runs have written
//   vrexsim reset [MACHINE] discard the state that runs have written
//
// MACHINE is a machine file, or a folder holding machine.json; without it the
// machine named by VREX_SIM_MACHINE, else the built-in demo machine.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/sim/machine.h"

namespace fs = std::filesystem;
using plat::sim::Machine;

namespace {

int usage() {
  std::fputs(
      "usage: vrexsim init DIR\n"
      "       vrexsim show [MACHINE]\n"
      "       vrexsim reset [MACHINE]\n"
      "MACHINE is a machine file or a folder holding machine.json; the default is\n"
      "$VREX_SIM_MACHINE, else the built-in demo machine.\n",
      stderr);
  return 2;
}

std::unique_ptr<Machine> open_machine(const char* arg, std::string* label) {
  std::string path;
  if (arg != nullptr) {
    path = arg;
  } else if (const char* env = std::getenv("VREX_SIM_MACHINE"); env != nullptr && *env != '\0') {
    path = env;
  }
  std::string error;
  std::unique_ptr<Machine> m;
  if (path.empty()) {
    *label = "built-in demo machine";
    m = Machine::demo(&error);
  } else {
    std::error_code ec;
    if (fs::is_directory(path, ec)) path = (fs::path(path) / "machine.json").string();
    *label = path;
    m = Machine::from_file(path, &error);
  }
  if (!m) std::fprintf(stderr, "vrexsim: %s: %s\n", label->c_str(), error.c_str());
  return m;
}

int cmd_init(const char* dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "vrexsim: cannot create %s: %s\n", dir, ec.message().c_str());
    return 1;
  }
  fs::path file = fs::path(dir) / "machine.json";
  if (fs::exists(file, ec)) {
    std::fprintf(stderr, "vrexsim: %s exists already; not overwritten\n", file.c_str());
    return 1;
  }
  std::string tmp = file.string() + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary);
    out << Machine::demo_json();
    if (!out.flush()) {
      std::fprintf(stderr, "vrexsim: cannot write %s\n", tmp.c_str());
      return 1;
    }
  }
  fs::rename(tmp, file, ec);
  if (ec) {
    std::fprintf(stderr, "vrexsim: cannot write %s: %s\n", file.c_str(), ec.message().c_str());
    return 1;
  }
  std::printf("%s\n", file.c_str());
  return 0;
}

const char* device_state(Machine& m, const plat::sim::Adapter& a) {
  plat::Services& s = m.services();
  std::uint32_t dn = 0, status = 0, problem = 0;
  if (s.devices->locate_devnode(a.instance_id, plat::kCmLocateDevnodeNormal, &dn) != plat::kCrSuccess) {
    return "not present";
  }
  if (s.devices->get_devnode_status(dn, &status, &problem) != plat::kCrSuccess) return "unknown";
  if (problem == plat::kCmProbDisabled) return "disabled";
  if (problem != 0) return "problem";
  return (status & plat::kDnStarted) ? "started" : "not started";
}

int cmd_show(const char* arg) {
  std::string label;
  auto m = open_machine(arg, &label);
  if (!m) return 1;
  const auto& d = m->description();
  std::printf("machine: %s\n", label.c_str());
  std::printf("computer name: %s\n",
              d.contains("computer_name") && d["computer_name"].is_string()
                  ? d["computer_name"].get<std::string>().c_str()
                  : "VREXHOST");
  std::printf("state folder: %s\n", m->state_dir().c_str());
  std::printf("adapters: %zu\n", m->adapters().size());
  for (const auto& a : m->adapters()) {
    std::printf("  [%zu] %s\n", a.index, a.name.c_str());
    std::printf("      kind %s, driver %s (%s), device %s\n", a.kind.c_str(), a.driver_file.c_str(),
                a.service.c_str(), device_state(*m, a));
    if (a.instance_id.rfind("PCI\\", 0) == 0) {
      std::printf("      PCI %04X:%04X subsystem %04X:%04X rev %02X at %04x:%02x:%02x.%x\n",
                  a.vendor_id, a.device_id, a.subsystem_vendor_id, a.subsystem_id, a.revision,
                  a.segment, a.bus, a.device, a.function);
    }
    std::printf("      instance %s\n      NetCfgInstanceId %s\n", a.instance_id.c_str(),
                a.net_cfg_instance_id.c_str());
  }
  auto sections = m->state_sections();
  std::printf("state written by runs: %s\n", sections.empty() ? "none" : "");
  for (const auto& s : sections) {
    std::printf("  %s:\n", s.c_str());
    std::string text = m->read_state(s).dump(2);
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t nl = text.find('\n', pos);
      if (nl == std::string::npos) nl = text.size();
      std::printf("    %.*s\n", static_cast<int>(nl - pos), text.c_str() + pos);
      pos = nl + 1;
    }
  }
  auto mutexes = m->named_mutexes();
  std::printf("named mutexes in use: %s\n", mutexes.empty() ? "none" : "");
  for (const auto& n : mutexes) std::printf("  %s\n", n.c_str());
  return 0;
}

int cmd_reset(const char* arg) {
  std::string label;
  auto m = open_machine(arg, &label);
  if (!m) return 1;
  if (!m->reset_state()) {
    std::fprintf(stderr, "vrexsim: cannot reset the state of %s in %s\n", label.c_str(),
                 m->state_dir().c_str());
    return 1;
  }
  std::printf("reset %s (%s)\n", label.c_str(), m->state_dir().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  if (cmd == "init" && argc == 3) return cmd_init(argv[2]);
  if (cmd == "show" && argc <= 3) return cmd_show(argc == 3 ? argv[2] : nullptr);
  if (cmd == "reset" && argc <= 3) return cmd_reset(argc == 3 ? argv[2] : nullptr);
  return usage();
}
