// derive.cc: from a machine description to what the services answer:
// devices and their properties, registry keys, device nodes, NDIS answers,
// IP Helper lists; then the raw overrides and the faults.
#include <arpa/inet.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>

#include "platform/sim/machine_impl.h"

namespace plat::sim {

namespace {

const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
const char kNetClassGuidLower[] = "{4d36e972-e325-11ce-bfc1-08002be10318}";
const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";

struct PropName {
  const char* name;
  std::uint32_t id;
};
constexpr PropName kPropNames[] = {
    {"SPDRP_DEVICEDESC", kSpdrpDeviceDesc},
    {"SPDRP_HARDWAREID", kSpdrpHardwareId},
    {"SPDRP_COMPATIBLEIDS", kSpdrpCompatibleIds},
    {"SPDRP_SERVICE", kSpdrpService},
    {"SPDRP_CLASS", kSpdrpClass},
    {"SPDRP_CLASSGUID", kSpdrpClassGuid},
    {"SPDRP_DRIVER", kSpdrpDriver},
    {"SPDRP_CONFIGFLAGS", kSpdrpConfigFlags},
    {"SPDRP_MFG", kSpdrpMfg},
    {"SPDRP_FRIENDLYNAME", kSpdrpFriendlyName},
    {"SPDRP_LOCATION_INFORMATION", kSpdrpLocationInformation},
    {"SPDRP_PHYSICAL_DEVICE_OBJECT_NAME", kSpdrpPhysicalDeviceObjectName},
    {"SPDRP_CAPABILITIES", kSpdrpCapabilities},
    {"SPDRP_UI_NUMBER", kSpdrpUiNumber},
    {"SPDRP_BUSTYPEGUID", kSpdrpBusTypeGuid},
    {"SPDRP_LEGACYBUSTYPE", kSpdrpLegacyBusType},
    {"SPDRP_BUSNUMBER", kSpdrpBusNumber},
    {"SPDRP_ENUMERATOR_NAME", kSpdrpEnumeratorName},
    {"SPDRP_ADDRESS", kSpdrpAddress},
};

bool prop_id(const std::string& name, std::uint32_t* id) {
  for (const auto& p : kPropNames) {
    if (iequals(name, p.name)) {
      *id = p.id;
      return true;
    }
  }
  std::uint64_t v = 0;
  if (json_uint(nlohmann::json(name), &v) && v < 0x100) {
    *id = static_cast<std::uint32_t>(v);
    return true;
  }
  return false;
}

__attribute__((format(printf, 1, 2))) std::string fmt(const char* f, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, f);
  std::vsnprintf(buf, sizeof buf, f, ap);
  va_end(ap);
  return buf;
}

// Field readers that report which field was wrong.
struct Reader {
  std::string* error;
  std::string where;

  bool fail(const std::string& what) {
    *error = where + ": " + what;
    return false;
  }
  bool uint(const nlohmann::json& obj, const char* key, std::uint64_t max, std::uint64_t* out) {
    if (!obj.is_object() || !obj.contains(key)) return true;
    std::uint64_t v = 0;
    if (!json_uint(obj[key], &v) || v > max) return fail(std::string(key) + " is not a number in range");
    *out = v;
    return true;
  }
  bool text(const nlohmann::json& obj, const char* key, std::string* out) {
    if (!obj.is_object() || !obj.contains(key)) return true;
    if (!obj[key].is_string()) return fail(std::string(key) + " is not a text");
    *out = obj[key].get<std::string>();
    return true;
  }
  bool flag(const nlohmann::json& obj, const char* key, bool* out) {
    if (!obj.is_object() || !obj.contains(key)) return true;
    if (!obj[key].is_boolean()) return fail(std::string(key) + " is not true or false");
    *out = obj[key].get<bool>();
    return true;
  }
};

bool parse_mac(const std::string& s, std::vector<std::uint8_t>* out) {
  std::vector<std::uint8_t> b;
  if (!json_hex_bytes(nlohmann::json(s), &b) || b.size() != 6) return false;
  *out = b;
  return true;
}

bool parse_ipv4(const std::string& s, std::array<std::uint8_t, 16>* out) {
  in_addr a{};
  if (::inet_pton(AF_INET, s.c_str(), &a) != 1) return false;
  out->fill(0);
  std::memcpy(out->data(), &a, 4);
  return true;
}

bool parse_ipv6(const std::string& s, std::array<std::uint8_t, 16>* out) {
  in6_addr a{};
  if (::inet_pton(AF_INET6, s.c_str(), &a) != 1) return false;
  std::memcpy(out->data(), &a, 16);
  return true;
}

std::vector<std::uint8_t> le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

void put32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put64(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[off + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> guid_bytes(const Guid& g) {
  std::vector<std::uint8_t> b = le32(g.data1);
  b.push_back(static_cast<std::uint8_t>(g.data2));
  b.push_back(static_cast<std::uint8_t>(g.data2 >> 8));
  b.push_back(static_cast<std::uint8_t>(g.data3));
  b.push_back(static_cast<std::uint8_t>(g.data3 >> 8));
  b.insert(b.end(), g.data4.begin(), g.data4.end());
  return b;
}

// Applies {"Name": value-or-null} to a registry key.
bool apply_values(RegNode* key, const nlohmann::json& values, Reader& r) {
  if (!values.is_object()) return r.fail("registry values are not an object");
  for (const auto& [name, v] : values.items()) {
    if (v.is_null()) {
      key->remove_value(name);
      continue;
    }
    RegValue rv;
    std::string err;
    if (!reg_value_from_json(v, &rv, &err)) return r.fail(name + ": " + err);
    key->set_value(name, std::move(rv));
  }
  return true;
}

RegNode* ensure_path(RegNode* root, std::string_view path) {
  RegNode* node = root;
  while (!path.empty()) {
    std::size_t slash = path.find('\\');
    std::string_view part = path.substr(0, slash);
    if (!part.empty()) node = node->ensure_child(part);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return node;
}

// Removes the key at path under root; false when absent.
bool remove_path(RegNode* root, std::string_view path) {
  std::size_t slash = path.rfind('\\');
  RegNode* parent = root;
  if (slash != std::string_view::npos) {
    std::string_view head = path.substr(0, slash);
    RegNode* n = root;
    while (!head.empty()) {
      std::size_t s = head.find('\\');
      std::string_view part = head.substr(0, s);
      if (!part.empty()) {
        n = n->child(part);
        if (n == nullptr) return false;
      }
      if (s == std::string_view::npos) break;
      head.remove_prefix(s + 1);
    }
    parent = n;
    path = path.substr(slash + 1);
  }
  return parent->remove_child(path);
}

std::uint32_t ip_info_entry_size(const IpAdapterInfo& e) {
  std::size_t extra = (e.ip_addresses.size() > 1 ? e.ip_addresses.size() - 1 : 0) +
                      (e.gateways.size() > 1 ? e.gateways.size() - 1 : 0);
  return static_cast<std::uint32_t>(704 + 48 * extra);
}

}  // namespace

// Sizes of the host's records, used by the IP Helper's size protocol.
std::uint32_t ip_info_list_size(const IpAdapterInfoList& list) {
  std::uint32_t n = 0;
  for (const auto& e : list) n += ip_info_entry_size(e);
  return n;
}

std::uint32_t ip_addresses_list_size(const IpAdapterAddressesList& list) {
  std::uint32_t n = 0;
  for (const auto& e : list) {
    std::size_t s = 448 + e.adapter_name.size() + 1 + 2 * (e.friendly_name.size() + 1) +
                    2 * (e.description.size() + 1) + 2 + e.unicast.size() * (64 + 32) +
                    e.gateways.size() * (32 + 32);
    n += static_cast<std::uint32_t>((s + 7) & ~static_cast<std::size_t>(7));
  }
  return n;
}

bool derive_machine(MachineImpl* m, std::string* error) {
  const nlohmann::json& d = m->description;
  Reader top{error, "machine"};
  m->hklm = std::make_unique<RegNode>();
  m->hklm->name = "HKLM";

  // Machine-wide facts.
  if (!top.text(d, "computer_name", &m->computer_name)) return false;
  if (m->computer_name.empty() || m->computer_name.size() > 15) {
    return top.fail("computer_name must have 1 to 15 characters (a NetBIOS name)");
  }
  std::uint64_t v = 0;
  if (d.contains("ansi_code_page")) {
    if (!json_uint(d["ansi_code_page"], &v) || (v != 1252 && v != kCpUtf8)) {
      return top.fail("ansi_code_page must be 1252 or 65001");
    }
    m->ansi_code_page = static_cast<std::uint32_t>(v);
  }
  if (d.contains("time")) {
    if (d["time"] == "real") m->real_time = true;
    else if (d["time"] != "virtual") return top.fail("time must be \"virtual\" or \"real\"");
  }
  v = 0;
  if (!top.uint(d, "tick_start", 0xFFFFFFFFu, &v)) return false;
  m->tick_base = static_cast<std::uint32_t>(v);
  if (!top.flag(d, "shutting_down", &m->shutting_down)) return false;
  if (d.contains("scm")) {
    std::string owner;
    if (!top.text(d["scm"], "locked_by", &owner)) return false;
    if (d["scm"].contains("locked_by")) m->scm_lock_owner = owner;
  }
  if (d.contains("wmi") && !top.flag(d["wmi"], "available", &m->wmi_available)) return false;
  if (d.contains("libraries")) {
    const auto& l = d["libraries"];
    for (const char* k : {"missing", "missing_exports"}) {
      if (!l.contains(k)) continue;
      if (!l[k].is_array()) return top.fail(std::string("libraries.") + k + " is not a list");
      for (const auto& e : l[k]) {
        if (!e.is_string()) return top.fail(std::string("libraries.") + k + " holds a non-text");
        (std::string(k) == "missing" ? m->missing_libraries : m->missing_exports)
            .push_back(lower(e.get<std::string>()));
      }
    }
  }
  if (!top.text(d, "system_directory", &m->system_directory)) return false;

  // The class key itself.
  RegNode* class_root = ensure_path(m->hklm.get(), kClassKey);
  RegNode* net_class = class_root->ensure_child(kNetClassGuidLower);
  net_class->set_value("Class", reg_sz("Net"));
  net_class->set_value("", reg_sz("Network adapters"));
  ensure_path(m->hklm.get(), std::string(kServicesKey) + "\\Tcpip\\Parameters\\Interfaces");

  // Adapters.
  const nlohmann::json adapters =
      d.contains("adapters") ? d["adapters"] : nlohmann::json::array();
  if (!adapters.is_array()) return top.fail("adapters is not a list");
  std::set<std::string> names_seen;
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    const nlohmann::json& f = adapters[i];
    Reader r{error, fmt("adapters[%zu]", i)};
    if (!f.is_object()) return r.fail("not an object");
    Adapter a;
    a.index = i;
    a.facts = f;
    a.kind = "physical";
    if (!r.text(f, "kind", &a.kind)) return false;
    if (a.kind != "physical" && a.kind != "virtual" && a.kind != "hidden") {
      return r.fail("kind must be physical, virtual or hidden");
    }
    a.description = fmt("Network Adapter %zu", i + 1);
    if (!r.text(f, "description", &a.description)) return false;
    if (!r.text(f, "friendly_name", &a.friendly_name)) return false;
    a.name = a.friendly_name.empty() ? a.description : a.friendly_name;

    bool is_pci = f.contains("pci");
    const nlohmann::json pci = is_pci ? f["pci"] : nlohmann::json::object();
    std::uint64_t vendor = 0xFFFF, device = 0xFFFF, ssv = 0, ss = 0, rev = 0;
    if (is_pci) {
      Reader rp{error, r.where + ".pci"};
      if (!pci.is_object()) return rp.fail("not an object");
      if (!pci.contains("vendor") || !pci.contains("device")) return rp.fail("needs vendor and device");
      if (!rp.uint(pci, "vendor", 0xFFFF, &vendor) || !rp.uint(pci, "device", 0xFFFF, &device)) return false;
      ssv = vendor;
      if (!rp.uint(pci, "subsystem_vendor", 0xFFFF, &ssv) ||
          !rp.uint(pci, "subsystem", 0xFFFF, &ss) || !rp.uint(pci, "revision", 0xFF, &rev)) {
        return false;
      }
    }
    a.vendor_id = static_cast<std::uint16_t>(vendor);
    a.device_id = static_cast<std::uint16_t>(device);
    a.subsystem_vendor_id = static_cast<std::uint16_t>(ssv);
    a.subsystem_id = static_cast<std::uint16_t>(ss);
    a.revision = static_cast<std::uint8_t>(rev);
    std::uint64_t seg = 0, bus = i + 1, dev = 0, fn = 0;
    if (f.contains("location")) {
      Reader rl{error, r.where + ".location"};
      if (!rl.uint(f["location"], "segment", 0xFFFF, &seg) ||
          !rl.uint(f["location"], "bus", 0xFF, &bus) ||
          !rl.uint(f["location"], "device", 0x1F, &dev) ||
          !rl.uint(f["location"], "function", 0x7, &fn)) {
        return false;
      }
    }
    a.segment = static_cast<std::uint32_t>(seg);
    a.bus = static_cast<std::uint32_t>(bus);
    a.device = static_cast<std::uint32_t>(dev);
    a.function = static_cast<std::uint32_t>(fn);

    const nlohmann::json drv = f.contains("driver") ? f["driver"] : nlohmann::json::object();
    Reader rd{error, r.where + ".driver"};
    a.service = "vrexnd";
    a.driver_file = "vrexnd.sys";
    a.manufacturer = "Tessaly";
    std::string driver_version = "238.1.185.0";
    if (!rd.text(drv, "service", &a.service) || !rd.text(drv, "file", &a.driver_file) ||
        !rd.text(drv, "manufacturer", &a.manufacturer) ||
        !rd.text(drv, "version", &driver_version)) {
      return false;
    }

    if (is_pci) {
      a.instance_id = fmt("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%04X%04X&REV_%02X\\%u&%08X&0&%02X%02X",
                          a.vendor_id, a.device_id, a.subsystem_id, a.subsystem_vendor_id,
                          a.revision, 4u, 0x1A2B0000u + (a.segment << 8) + a.bus,
                          (a.device << 3) | a.function, a.bus & 0xFF);
    } else {
      a.instance_id = fmt("ROOT\\NET\\%04zu", i);
    }
    if (!r.text(f, "instance_id", &a.instance_id)) return false;
    a.net_cfg_instance_id = fmt("{5E7A%04zX-0C1D-4E2F-8A3B-%012zX}", i, 0xE7A500000000u + i);
    if (!r.text(f, "net_cfg_instance_id", &a.net_cfg_instance_id)) return false;
    a.class_subkey = fmt("%04zu", i);
    if (!names_seen.insert(lower(a.instance_id)).second) return r.fail("duplicate instance id");

    // Device entry and its properties.
    SimDevice sd;
    sd.adapter = static_cast<int>(i);
    sd.instance_id = a.instance_id;
    sd.class_guid = kGuidDevClassNet;
    auto& p = sd.properties;
    p[kSpdrpDeviceDesc] = reg_sz(a.description);
    if (!a.friendly_name.empty()) p[kSpdrpFriendlyName] = reg_sz(a.friendly_name);
    p[kSpdrpService] = reg_sz(a.service);
    p[kSpdrpDriver] = reg_sz(std::string(kNetClassGuidLower) + "\\" + a.class_subkey);
    p[kSpdrpMfg] = reg_sz(a.manufacturer);
    p[kSpdrpClass] = reg_sz("Net");
    p[kSpdrpClassGuid] = reg_sz(kNetClassGuidLower);
    p[kSpdrpConfigFlags] = reg_dword(0);
    p[kSpdrpCapabilities] = reg_dword(is_pci ? 0x000000A4u : 0x00000060u);
    p[kSpdrpPhysicalDeviceObjectName] = reg_sz(fmt("\\Device\\%08zx", 0x2Au + i));
    std::string component_id;
    if (is_pci) {
      std::string hw1 = fmt("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%04X%04X&REV_%02X", a.vendor_id,
                            a.device_id, a.subsystem_id, a.subsystem_vendor_id, a.revision);
      std::string hw2 = fmt("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%04X%04X", a.vendor_id, a.device_id,
                            a.subsystem_id, a.subsystem_vendor_id);
      p[kSpdrpHardwareId] = reg_multi_sz({hw1, hw2});
      p[kSpdrpCompatibleIds] =
          reg_multi_sz({fmt("PCI\\VEN_%04X&DEV_%04X&REV_%02X", a.vendor_id, a.device_id, a.revision),
                        fmt("PCI\\VEN_%04X&DEV_%04X", a.vendor_id, a.device_id), "PCI\\CC_020000"});
      p[kSpdrpLocationInformation] =
          reg_sz(fmt("PCI bus %u, device %u, function %u", a.bus, a.device, a.function));
      p[kSpdrpBusNumber] = reg_dword(a.bus);
      p[kSpdrpAddress] = reg_dword((a.device << 16) | a.function);
      p[kSpdrpLegacyBusType] = reg_dword(kLegacyBusPci);
      p[kSpdrpBusTypeGuid] = reg_binary(guid_bytes(kGuidBusTypePci));
      p[kSpdrpEnumeratorName] = reg_sz("PCI");
      p[kSpdrpUiNumber] = reg_dword(a.bus);
      component_id = lower(hw2);
    } else {
      component_id = lower(a.service);
      p[kSpdrpHardwareId] = reg_multi_sz({component_id});
      p[kSpdrpEnumeratorName] = reg_sz("ROOT");
    }
    if (f.contains("component_id") && !r.text(f, "component_id", &component_id)) return false;

    // Device node.
    sd.status = kDnDriverLoaded | kDnStarted | kDnDisableable | kDnNtEnumerator | kDnNtDriver;
    if (f.contains("devnode")) {
      Reader rn{error, r.where + ".devnode"};
      std::uint64_t st = sd.status, pr = 0;
      if (!rn.uint(f["devnode"], "status", 0xFFFFFFFFu, &st) ||
          !rn.uint(f["devnode"], "problem", 0xFFFFFFFFu, &pr)) {
        return false;
      }
      sd.status = static_cast<std::uint32_t>(st);
      sd.problem = static_cast<std::uint32_t>(pr);
    }
    if (!r.flag(f, "need_reboot", &sd.need_reboot)) return false;
    bool present = true;
    if (!r.flag(f, "present", &present)) return false;
    sd.present = present;
    if (f.contains("enabled") && !f["enabled"].is_boolean()) return r.fail("enabled is not true or false");

    // Class key.
    RegNode* ck = net_class->ensure_child(a.class_subkey);
    std::uint32_t characteristics = a.kind == "virtual" ? 0x1u : a.kind == "hidden" ? 0x8u | 0x4u : 0x84u;
    std::uint64_t ch = characteristics;
    if (!r.uint(f, "characteristics", 0xFFFFFFFFu, &ch)) return false;
    ck->set_value("Characteristics", reg_dword(static_cast<std::uint32_t>(ch)));
    ck->set_value("ComponentId", reg_sz(component_id));
    ck->set_value("NetCfgInstanceId", reg_sz(a.net_cfg_instance_id));
    ck->set_value("DriverDesc", reg_sz(a.description));
    ck->set_value("DriverVersion", reg_sz(driver_version));
    ck->set_value("ProviderName", reg_sz(a.manufacturer));
    ck->set_value("MatchingDeviceId", reg_sz(component_id));
    bool ours = a.driver_file == "vrexnd.sys";
    const nlohmann::json settings = f.contains("settings") ? f["settings"] : nlohmann::json::object();
    if (!settings.is_object()) return r.fail("settings is not an object");
    struct Setting {
      const char* key;
      const char* value_name;
      const char* dflt;
    };
    const Setting kSettings[] = {{"flow_control", "*FlowControl", "3"},
                                 {"wake_on_magic_packet", "*WakeOnMagicPacket", "1"},
                                 {"vlan_id", "VlanID", "0"},
                                 {"jumbo_packet", "*JumboPacket", "1514"}};
    for (const auto& s : kSettings) {
      if (settings.contains(s.key)) {
        const auto& sv = settings[s.key];
        if (sv.is_null()) continue;
        std::uint64_t n = 0;
        if (sv.is_string()) ck->set_value(s.value_name, reg_sz(sv.get<std::string>()));
        else if (json_uint(sv, &n)) ck->set_value(s.value_name, reg_sz(std::to_string(n)));
        else return r.fail(std::string("settings.") + s.key + " is not a number or text");
      } else if (ours) {
        ck->set_value(s.value_name, reg_sz(s.dflt));
      }
    }

    // Service key.
    RegNode* svc = ensure_path(m->hklm.get(), std::string(kServicesKey) + "\\" + a.service);
    if (svc->value("ImagePath") == nullptr) {
      RegValue ip = reg_sz("\\SystemRoot\\System32\\drivers\\" + a.driver_file);
      ip.type = kRegExpandSz;
      svc->set_value("ImagePath", ip);
      svc->set_value("Type", reg_dword(1));
      svc->set_value("Start", reg_dword(3));
      svc->set_value("DisplayName", reg_sz(a.description));
    }

    // IP configuration.
    const nlohmann::json ipv4 = f.contains("ipv4") ? f["ipv4"] : nlohmann::json::object();
    bool ip_bound = true;
    if (!r.flag(f, "ip_bound", &ip_bound)) return false;
    bool dhcp = true;
    Reader r4{error, r.where + ".ipv4"};
    if (!ipv4.is_object()) return r4.fail("not an object");
    if (!r4.flag(ipv4, "dhcp", &dhcp)) return false;
    std::vector<IpAddrString> addrs, gws;
    if (ipv4.contains("addresses")) {
      if (!ipv4["addresses"].is_array()) return r4.fail("addresses is not a list");
      for (const auto& e : ipv4["addresses"]) {
        IpAddrString s;
        if (!r4.text(e, "address", &s.address) || !r4.text(e, "mask", &s.mask)) return false;
        std::array<std::uint8_t, 16> tmp{};
        if (!parse_ipv4(s.address, &tmp) || !parse_ipv4(s.mask, &tmp)) {
          return r4.fail("bad address or mask " + s.address + "/" + s.mask);
        }
        addrs.push_back(s);
      }
    }
    if (ipv4.contains("gateways")) {
      if (!ipv4["gateways"].is_array()) return r4.fail("gateways is not a list");
      for (const auto& e : ipv4["gateways"]) {
        if (!e.is_string()) return r4.fail("gateways holds a non-text");
        gws.push_back({e.get<std::string>(), "255.255.255.255"});
      }
    }
    // The list may show a static adapter without its address (the host does
    // this while the address is being applied): "list_address": "0.0.0.0".
    std::string list_address;
    if (!r4.text(ipv4, "list_address", &list_address)) return false;
    RegNode* tk = ensure_path(m->hklm.get(), std::string(kServicesKey) +
                                                 "\\Tcpip\\Parameters\\Interfaces\\" +
                                                 a.net_cfg_instance_id);
    tk->set_value("EnableDHCP", reg_dword(dhcp ? 1 : 0));
    std::vector<std::string> a_texts, m_texts, g_texts;
    for (const auto& s : addrs) {
      a_texts.push_back(s.address);
      m_texts.push_back(s.mask);
    }
    for (const auto& g : gws) g_texts.push_back(g.address);
    if (dhcp) {
      tk->set_value("DhcpIPAddress", reg_sz(addrs.empty() ? "0.0.0.0" : addrs[0].address));
      tk->set_value("DhcpSubnetMask", reg_sz(addrs.empty() ? "255.0.0.0" : addrs[0].mask));
      tk->set_value("DhcpDefaultGateway", reg_multi_sz(g_texts));
      tk->set_value("IPAddress", reg_multi_sz({"0.0.0.0"}));
      tk->set_value("SubnetMask", reg_multi_sz({"0.0.0.0"}));
    } else {
      tk->set_value("IPAddress", reg_multi_sz(a_texts));
      tk->set_value("SubnetMask", reg_multi_sz(m_texts));
      tk->set_value("DefaultGateway", reg_multi_sz(g_texts));
    }

    std::vector<std::uint8_t> mac = {0x02, 0xE7, 0xA5, 0x00, static_cast<std::uint8_t>(i >> 8),
                                     static_cast<std::uint8_t>(i)};
    if (f.contains("mac")) {
      if (!f["mac"].is_string() || !parse_mac(f["mac"].get<std::string>(), &mac)) {
        return r.fail("mac is not six hexadecimal bytes");
      }
    }
    std::vector<std::uint8_t> perm_mac = mac;
    if (f.contains("permanent_mac")) {
      if (!f["permanent_mac"].is_string() || !parse_mac(f["permanent_mac"].get<std::string>(), &perm_mac)) {
        return r.fail("permanent_mac is not six hexadecimal bytes");
      }
    }

    if (ip_bound) {
      IpAdapterInfo info;
      info.adapter_name = a.net_cfg_instance_id;
      for (char& c : info.adapter_name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
      info.description = a.description;
      info.hw_address = mac;
      info.index = static_cast<std::uint32_t>(10 + i);
      info.type = kMibIfTypeEthernet;
      std::uint64_t if_type = kMibIfTypeEthernet;
      if (!r4.uint(ipv4, "if_type", 0xFFFF, &if_type)) return false;
      info.type = static_cast<std::uint32_t>(if_type);
      info.dhcp_enabled = dhcp;
      info.ip_addresses = addrs;
      if (info.ip_addresses.empty()) info.ip_addresses.push_back({"0.0.0.0", "0.0.0.0"});
      if (!list_address.empty()) info.ip_addresses = {{list_address, "0.0.0.0"}};
      info.gateways = gws;
      if (info.gateways.empty()) info.gateways.push_back({"0.0.0.0", "0.0.0.0"});
      bool current = false;
      if (!r4.flag(ipv4, "current_ip", &current)) return false;
      if (current) {
        info.has_current_ip = true;
        info.current_ip = info.ip_addresses[0];
      }
      if (dhcp) info.dhcp_server = {"255.255.255.255", ""};
      m->ip_info.push_back(info);
      m->ip_info_adapter.push_back(static_cast<int>(i));

      IpAdapterAddresses aa;
      aa.adapter_name = info.adapter_name;
      aa.friendly_name = widen(fmt("Ethernet %zu", i + 1));
      aa.description = widen(a.description);
      aa.physical_address = mac;
      aa.if_type = info.type;
      aa.if_index = info.index;
      for (const auto& s : addrs) {
        UnicastAddress u;
        u.address.family = kAfInet;
        u.address.length = 16;
        parse_ipv4(s.address, &u.address.address);
        u.prefix_origin = dhcp ? 3 : 1;
        u.suffix_origin = dhcp ? 3 : 1;
        u.dad_state = 4;
        u.valid_lifetime = u.preferred_lifetime = u.lease_lifetime = dhcp ? 86400u : 0xFFFFFFFFu;
        aa.unicast.push_back(u);
      }
      Reader r6{error, r.where + ".ipv6"};
      const nlohmann::json ipv6 = f.contains("ipv6") ? f["ipv6"] : nlohmann::json();
      if (ipv6.is_null() && !f.contains("ipv6")) {
        // A link-local address from the MAC address (modified EUI-64).
        UnicastAddress u;
        u.address.family = kAfInet6;
        u.address.length = 28;
        u.address.address = {0xFE, 0x80, 0, 0, 0, 0, 0, 0,
                             static_cast<std::uint8_t>(mac[0] ^ 0x02), mac[1], mac[2], 0xFF,
                             0xFE, mac[3], mac[4], mac[5]};
        u.prefix_origin = 4;  // well-known (link-local)
        u.suffix_origin = 4;  // link-layer address
        u.dad_state = 4;      // preferred
        u.valid_lifetime = u.preferred_lifetime = u.lease_lifetime = 0xFFFFFFFFu;
        u.prefix_length = 64;
        aa.unicast.push_back(u);
      } else if (ipv6.is_object()) {
        if (ipv6.contains("addresses")) {
          if (!ipv6["addresses"].is_array()) return r6.fail("addresses is not a list");
          for (const auto& e : ipv6["addresses"]) {
            UnicastAddress u;
            std::string text;
            if (!r6.text(e, "address", &text)) return false;
            u.address.family = kAfInet6;
            u.address.length = 28;
            if (!parse_ipv6(text, &u.address.address)) return r6.fail("bad address " + text);
            std::uint64_t n = 0;
            struct F {
              const char* key;
              std::uint32_t* field;
              std::uint32_t dflt;
            };
            F fields[] = {{"flags", &u.flags, 0},
                          {"prefix_origin", &u.prefix_origin, 1},
                          {"suffix_origin", &u.suffix_origin, 1},
                          {"dad_state", &u.dad_state, 4},
                          {"valid_lifetime", &u.valid_lifetime, 0xFFFFFFFFu},
                          {"preferred_lifetime", &u.preferred_lifetime, 0xFFFFFFFFu},
                          {"lease_lifetime", &u.lease_lifetime, 0xFFFFFFFFu}};
            for (auto& fl : fields) {
              n = fl.dflt;
              if (!r6.uint(e, fl.key, 0xFFFFFFFFu, &n)) return false;
              *fl.field = static_cast<std::uint32_t>(n);
            }
            n = 28;
            if (!r6.uint(e, "sockaddr_length", 0x7FFFFFFF, &n)) return false;
            u.address.length = static_cast<std::int32_t>(n);
            n = 64;
            if (!r6.uint(e, "prefix_length", 128, &n)) return false;
            u.prefix_length = static_cast<std::uint8_t>(n);
            aa.unicast.push_back(u);
          }
        }
        if (ipv6.contains("gateways")) {
          if (!ipv6["gateways"].is_array()) return r6.fail("gateways is not a list");
          for (const auto& e : ipv6["gateways"]) {
            SocketAddress s;
            s.family = kAfInet6;
            s.length = 28;
            if (!e.is_string() || !parse_ipv6(e.get<std::string>(), &s.address)) {
              return r6.fail("bad gateway");
            }
            aa.gateways.push_back(s);
          }
        }
      } else if (!ipv6.is_null()) {
        return r6.fail("not an object or null");
      }
      for (const auto& g : gws) {
        SocketAddress s;
        s.family = kAfInet;
        s.length = 16;
        parse_ipv4(g.address, &s.address);
        aa.gateways.push_back(s);
      }
      m->ip_addresses.push_back(aa);
      m->ip_addresses_adapter.push_back(static_cast<int>(i));
    }

    // NDIS answers.
    std::map<std::uint32_t, OidAnswer> o;
    std::string ndis = "6.82";
    if (!r.text(f, "ndis_version", &ndis)) return false;
    unsigned ndis_major = 0, ndis_minor = 0;
    if (std::sscanf(ndis.c_str(), "%u.%u", &ndis_major, &ndis_minor) != 2 || ndis_major > 255 ||
        ndis_minor > 255) {
      return r.fail("ndis_version is not MAJOR.MINOR");
    }
    const nlohmann::json link = f.contains("link") ? f["link"] : nlohmann::json::object();
    Reader rk{error, r.where + ".link"};
    bool connected = true;
    std::uint64_t speed = 25000, frame = 1500, width = 8, pcie_speed = 3;
    std::string duplex = "full", medium = "802.3";
    if (!rk.flag(link, "connected", &connected) || !rk.uint(link, "speed_mbps", 1000000, &speed) ||
        !rk.text(link, "duplex", &duplex) || !rk.text(link, "medium", &medium) ||
        !rk.uint(link, "max_frame_size", 0xFFFFFFFFu, &frame) ||
        !rk.uint(link, "pcie_width", 0xFFFFFFFFu, &width) ||
        !rk.uint(link, "pcie_speed", 0xFFFFFFFFu, &pcie_speed)) {
      return false;
    }
    std::uint32_t duplex_n = duplex == "full" ? 2 : duplex == "half" ? 1 : 0;
    std::uint32_t medium_n = medium == "802.3" ? 14 : medium == "fibre" ? 6 : medium == "wireless" ? 9 : 0;
    o[kOid8023CurrentAddress].data = mac;
    o[kOid8023PermanentAddress].data = perm_mac;
    o[kOidGenDriverVersion].data = {static_cast<std::uint8_t>(ndis_minor),
                                    static_cast<std::uint8_t>(ndis_major)};
    o[kOidGenMediaConnectStatus].data = le32(connected ? 0 : 1);
    o[kOidGenPhysicalMediumEx].data = le32(medium_n);
    o[kOidGenLinkSpeed].data = le32(connected ? static_cast<std::uint32_t>(speed * 10000) : 0);
    o[kOidGenMaximumFrameSize].data = le32(static_cast<std::uint32_t>(frame));
    if (ndis_major >= 6) {
      std::vector<std::uint8_t> ls(40, 0);
      ls[0] = 0x80;  // default object type
      ls[1] = 1;     // revision
      ls[2] = 40;    // size
      put32(ls, 4, connected ? 1 : 2);
      put32(ls, 8, connected ? duplex_n : 0);
      std::uint64_t bps = connected ? speed * 1000000 : ~std::uint64_t{0};
      put64(ls, 16, bps);
      put64(ls, 24, bps);
      put32(ls, 32, 3);  // send and receive pause
      put32(ls, 36, 0x1); // auto-negotiated link
      o[kOidGenLinkState].data = ls;
      std::vector<std::uint8_t> pc(52, 0);
      pc[0] = 0x80;
      pc[1] = 1;
      pc[2] = 52;
      put32(pc, 4, 2);  // PCI Express endpoint
      put32(pc, 24, static_cast<std::uint32_t>(pcie_speed));
      put32(pc, 28, static_cast<std::uint32_t>(width));
      put32(pc, 32, static_cast<std::uint32_t>(pcie_speed));
      put32(pc, 36, static_cast<std::uint32_t>(width));
      put32(pc, 40, 3);
      o[kOidGenPciDeviceCustomProperties].data = pc;
    }
    bool device_object = true;
    if (!r.flag(f, "device_object", &device_object)) return false;

    // Raw overrides of this adapter.
    if (f.contains("overrides")) {
      const nlohmann::json& ov = f["overrides"];
      Reader ro{error, r.where + ".overrides"};
      if (!ov.is_object()) return ro.fail("not an object");
      if (ov.contains("properties")) {
        if (!ov["properties"].is_object()) return ro.fail("properties is not an object");
        for (const auto& [name, pv] : ov["properties"].items()) {
          std::uint32_t id = 0;
          if (!prop_id(name, &id)) return ro.fail("unknown property " + name);
          if (pv.is_null()) {
            sd.properties.erase(id);
            continue;
          }
          RegValue rv;
          std::string err;
          if (!reg_value_from_json(pv, &rv, &err)) return ro.fail(name + ": " + err);
          sd.properties[id] = rv;
        }
      }
      if (ov.contains("class_key") && !apply_values(ck, ov["class_key"], ro)) return false;
      if (ov.contains("service_key") && !apply_values(svc, ov["service_key"], ro)) return false;
      if (ov.contains("tcpip_key") && !apply_values(tk, ov["tcpip_key"], ro)) return false;
      if (ov.contains("oids")) {
        if (!ov["oids"].is_object()) return ro.fail("oids is not an object");
        for (const auto& [code_text, ans] : ov["oids"].items()) {
          std::uint64_t code = 0;
          if (!json_uint(nlohmann::json(code_text), &code) || code > 0xFFFFFFFFu) {
            return ro.fail("bad OID " + code_text);
          }
          auto oid = static_cast<std::uint32_t>(code);
          if (ans.is_null()) {
            o.erase(oid);
            continue;
          }
          if (!ans.is_object()) return ro.fail("OID answer is not an object");
          OidAnswer& oa = o[oid];
          if (ans.contains("data") && !json_hex_bytes(ans["data"], &oa.data)) {
            return ro.fail("OID data is not hexadecimal bytes");
          }
          std::uint64_t n = 0;
          if (ans.contains("length")) {
            if (!json_uint(ans["length"], &n) || n > 0xFFFFFFFFu) return ro.fail("bad OID length");
            oa.length = static_cast<std::uint32_t>(n);
          }
          if (ans.contains("error")) {
            if (!json_uint(ans["error"], &n) || n > 0xFFFFFFFFu) return ro.fail("bad OID error");
            oa.error = static_cast<std::uint32_t>(n);
          }
        }
      }
    }

    sd.dev_inst = static_cast<std::uint32_t>(m->devices.size() + 1);
    m->devices.push_back(std::move(sd));
    m->oids.push_back(std::move(o));
    m->has_device_object.push_back(device_object);
    m->adapters.push_back(std::move(a));
  }

  // Further devices, given raw.
  if (d.contains("devices")) {
    if (!d["devices"].is_array()) return top.fail("devices is not a list");
    for (std::size_t i = 0; i < d["devices"].size(); ++i) {
      const auto& e = d["devices"][i];
      Reader r{error, fmt("devices[%zu]", i)};
      SimDevice sd;
      if (!r.text(e, "instance_id", &sd.instance_id)) return false;
      if (sd.instance_id.empty()) return r.fail("needs instance_id");
      std::string cg = "{4d36e97d-e325-11ce-bfc1-08002be10318}";  // system devices
      if (!r.text(e, "class_guid", &cg)) return false;
      if (!parse_guid(cg, &sd.class_guid)) return r.fail("bad class_guid");
      bool present = true;
      if (!r.flag(e, "present", &present)) return false;
      sd.present = present;
      std::uint64_t st = kDnDriverLoaded | kDnStarted | kDnNtEnumerator | kDnNtDriver, pr = 0;
      if (!r.uint(e, "status", 0xFFFFFFFFu, &st) || !r.uint(e, "problem", 0xFFFFFFFFu, &pr)) return false;
      sd.status = static_cast<std::uint32_t>(st);
      sd.problem = static_cast<std::uint32_t>(pr);
      if (e.contains("properties")) {
        if (!e["properties"].is_object()) return r.fail("properties is not an object");
        for (const auto& [name, pv] : e["properties"].items()) {
          std::uint32_t id = 0;
          if (!prop_id(name, &id)) return r.fail("unknown property " + name);
          RegValue rv;
          std::string err;
          if (!reg_value_from_json(pv, &rv, &err)) return r.fail(name + ": " + err);
          sd.properties[id] = rv;
        }
      }
      if (!names_seen.insert(lower(sd.instance_id)).second) return r.fail("duplicate instance id");
      sd.dev_inst = static_cast<std::uint32_t>(m->devices.size() + 1);
      m->devices.push_back(std::move(sd));
    }
  }

  // Raw registry overrides: {"HKLM\\path": {values} or null}.
  if (d.contains("registry")) {
    if (!d["registry"].is_object()) return top.fail("registry is not an object");
    for (const auto& [path, vals] : d["registry"].items()) {
      Reader r{error, "registry." + path};
      if (path.substr(0, 5) != "HKLM\\") return r.fail("paths begin with HKLM\\");
      std::string rel = path.substr(5);
      if (vals.is_null()) {
        remove_path(m->hklm.get(), rel);
        continue;
      }
      if (!apply_values(ensure_path(m->hklm.get(), rel), vals, r)) return false;
    }
  }

  // Faults.
  if (d.contains("faults")) {
    if (!d["faults"].is_array()) return top.fail("faults is not a list");
    for (std::size_t i = 0; i < d["faults"].size(); ++i) {
      const auto& e = d["faults"][i];
      Reader r{error, fmt("faults[%zu]", i)};
      Fault fl;
      if (!r.text(e, "service", &fl.service) || !r.text(e, "call", &fl.call)) return false;
      if (fl.service.empty() || fl.call.empty()) return r.fail("needs service and call");
      if (e.contains("key")) {
        if (e["key"].is_string()) {
          fl.keys.push_back(e["key"].get<std::string>());
        } else if (e["key"].is_array()) {
          for (const auto& k : e["key"]) {
            if (!k.is_string()) return r.fail("key holds a non-text");
            fl.keys.push_back(k.get<std::string>());
          }
        } else {
          return r.fail("key is not a text or a list of texts");
        }
      }
      if (!e.contains("error")) return r.fail("needs error");
      std::uint64_t n = 0;
      if (e["error"].is_number_integer() && e["error"].get<std::int64_t>() < 0) {
        fl.code = static_cast<std::uint32_t>(e["error"].get<std::int64_t>());
      } else if (!json_uint(e["error"], &n) || n > 0xFFFFFFFFu) {
        return r.fail("error is not a 32-bit number");
      } else {
        fl.code = static_cast<std::uint32_t>(n);
      }
      if (!r.uint(e, "nth", ~std::uint64_t{0}, &fl.nth)) return false;
      if (!r.uint(e, "count", ~std::uint64_t{0}, &fl.count)) return false;
      m->faults.push_back(std::move(fl));
    }
  }
  return true;
}

}  // namespace plat::sim
