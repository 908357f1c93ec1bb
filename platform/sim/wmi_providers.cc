// wmi_providers.cc: the WMI classes the simulated machine serves from the
// start: the driver's register access (TSLY_HwDeviceAccess, in "root\\wmi")
// and the system's SR-IOV settings (MSFT_NetAdapterSriovSettingData, in
// "root\\standardcimv2"). Providers kept in files of their own are added
// to the list in builtin_wmi_providers().
#include <cstdio>

#include "platform/sim/machine.h"
#include "platform/sim/machine_impl.h"
#include "platform/sim/sim_driver_wmi.h"
#include "platform/sim/wmi_provider.h"

namespace plat::sim {

TableProvider::TableProvider(WmiClassDef def, KeysFn keys, FillFn fill)
    : def_(std::move(def)), keys_(std::move(keys)), fill_(std::move(fill)) {}

void TableProvider::add_method(WmiMethodDef def, MethodFn fn) {
  for (auto& m : def_.methods) {
    if (m.name == def.name) {
      m = def;
      for (auto& [name, f] : methods_) {
        if (name == def.name) f = std::move(fn);
      }
      return;
    }
  }
  methods_.emplace_back(def.name, std::move(fn));
  def_.methods.push_back(std::move(def));
}

HResult TableProvider::exec_method(Machine& machine, WStringView key, WStringView method,
                                   const WmiObject* in, SimObject& out) {
  for (auto& [name, fn] : methods_) {
    if (name == method) return fn(machine, key, in, out);
  }
  return kHrWbemMethodNotImplemented;
}

std::vector<WString> driver_instance_names(Machine& machine) {
  std::vector<WString> keys;
  for (const auto& a : machine.adapters()) {
    if (a.driver_file != "vrexnd.sys" || !machine.adapter_running(a.index)) continue;
    if (a.facts.contains("wmi") && a.facts["wmi"] == false) continue;
    keys.push_back(widen(a.name));
  }
  return keys;
}

const Adapter* driver_adapter(Machine& machine, WStringView instance_name) {
  std::string n = narrow(instance_name);
  for (const auto& a : machine.adapters()) {
    if (a.driver_file == "vrexnd.sys" && iequals(a.name, n) && machine.adapter_running(a.index)) {
      return &a;
    }
  }
  return nullptr;
}

namespace {

HResult fill_driver_instance(Machine& machine, WStringView key, SimObject& instance) {
  if (driver_adapter(machine, key) == nullptr) return kHrWbemNotFound;
  instance.set_value(u"Active", Variant::boolean(true));
  return kHrOk;
}

// The value a register reads: the description's "registers", else a value
// derived from the adapter (BARs from its location, the chip identity from
// its PCI ids), else 0. A register given as {"error": HRESULT} fails.
HResult read_register(const Adapter& a, std::uint32_t offset, std::uint32_t* value) {
  char key[16];
  std::snprintf(key, sizeof key, "0x%08X", offset);
  if (a.facts.contains("registers") && a.facts["registers"].is_object()) {
    for (const auto& [k, v] : a.facts["registers"].items()) {
      std::uint64_t off = 0;
      if (!json_uint(nlohmann::json(k), &off) || off != offset) continue;
      std::uint64_t n = 0;
      if (v.is_object() && v.contains("error") && json_uint(v["error"], &n)) {
        return static_cast<HResult>(static_cast<std::uint32_t>(n));
      }
      if (json_uint(v, &n)) {
        *value = static_cast<std::uint32_t>(n);
        return kHrOk;
      }
    }
  }
  switch (offset) {
    case 0x10: *value = 0xF0000000u + (a.bus << 20) + (a.function << 16) + 0x0C; break;
    case 0x14: *value = 0; break;
    case 0x18: *value = 0xF8000000u + (a.bus << 20) + (a.function << 16) + 0x0C; break;
    case 0x1C: *value = 0; break;
    case 0x00260048: *value = a.device_id; break;   // chip number
    case 0x0026004C: *value = a.revision >> 4; break;  // chip revision
    case 0x00260050: *value = a.revision & 0x0F; break;  // chip metal
    default: *value = 0;
  }
  return kHrOk;
}

std::unique_ptr<WmiProvider> hw_device_access() {
  WmiClassDef def;
  def.ns = u"root\\wmi";
  def.name = u"TSLY_HwDeviceAccess";
  def.key = u"InstanceName";
  def.properties = {{u"InstanceName", kCimString}, {u"Active", kCimBoolean}};
  auto p = std::make_unique<TableProvider>(std::move(def), driver_instance_names,
                                           fill_driver_instance);
  p->add_method({u"ReadReg32", {{u"offset", kCimUint32}}, {{u"value", kCimUint32}}},
                [](Machine& m, WStringView key, const WmiObject* in, SimObject& out) -> HResult {
                  const Adapter* a = driver_adapter(m, key);
                  std::uint64_t offset = 0;
                  if (a == nullptr) return kHrWbemNotFound;
                  if (!in_param_uint(in, u"offset", &offset)) return kHrWbemInvalidMethodParameters;
                  auto off = static_cast<std::uint32_t>(offset);
                  char k[32];
                  std::snprintf(k, sizeof k, "|0x%08X", off);
                  std::uint32_t code = 0;
                  if (m.fault("wmi", "ReadReg32", a->name + k, &code)) return static_cast<HResult>(code);
                  std::uint32_t value = 0;
                  HResult hr = read_register(*a, off, &value);
                  if (failed(hr)) return hr;
                  out.set_value(u"value", Variant::ui4(value));
                  return kHrOk;
                });
  add_driver_hwrm_methods(*p);
  return p;
}

std::unique_ptr<WmiProvider> sriov_settings() {
  WmiClassDef def;
  def.ns = u"root\\standardcimv2";
  def.name = u"MSFT_NetAdapterSriovSettingData";
  def.key = u"InstanceID";
  def.properties = {{u"InstanceID", kCimString},  {u"Name", kCimString},
                    {u"InterfaceDescription", kCimString}, {u"Enabled", kCimBoolean},
                    {u"NumVFs", kCimUint32},      {u"NumAllocatedVFs", kCimUint32}};
  auto keys = [](Machine& m) {
    std::vector<WString> out;
    for (const auto& a : m.adapters()) {
      if (a.facts.contains("sriov") && a.facts["sriov"].is_object() && m.adapter_running(a.index)) {
        out.push_back(widen(a.net_cfg_instance_id));
      }
    }
    return out;
  };
  auto fill = [](Machine& m, WStringView key, SimObject& inst) -> HResult {
    const Adapter* a = m.adapter_by_net_cfg_id(narrow(key));
    if (a == nullptr || !a->facts.contains("sriov")) return kHrWbemNotFound;
    const auto& s = a->facts["sriov"];
    inst.set_value(u"Name", Variant::bstr(widen(a->name)));
    inst.set_value(u"InterfaceDescription", Variant::bstr(widen(a->description)));
    if (s.contains("enabled") && s["enabled"].is_boolean()) {
      inst.set_value(u"Enabled", Variant::boolean(s["enabled"].get<bool>()));
    }
    std::uint64_t n = 0;
    if (s.contains("num_vfs") && json_uint(s["num_vfs"], &n)) {
      inst.set_value(u"NumVFs", Variant::ui4(static_cast<std::uint32_t>(n)));
    }
    if (s.contains("allocated_vfs") && json_uint(s["allocated_vfs"], &n)) {
      inst.set_value(u"NumAllocatedVFs", Variant::ui4(static_cast<std::uint32_t>(n)));
    }
    return kHrOk;
  };
  return std::make_unique<TableProvider>(std::move(def), keys, fill);
}

}  // namespace

std::vector<std::unique_ptr<WmiProvider>> builtin_wmi_providers() {
  std::vector<std::unique_ptr<WmiProvider>> list;
  list.push_back(hw_device_access());
  list.push_back(sriov_settings());
  for (auto& p : driver_wmi_providers()) list.push_back(std::move(p));
  return list;
}

}  // namespace plat::sim
