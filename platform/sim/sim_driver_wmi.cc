// sim_driver_wmi.cc: the simulated driver's WMI classes over the simulated
// firmware.
#include "platform/sim/sim_driver_wmi.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <random>
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/sim_firmware_nvm.h"
#include "platform/sim/text.h"

namespace plat::sim {
namespace {

constexpr std::uint32_t kFullChunk = 65536;
const char kSerialSection[] = "firmware_serial";

WmiPropertyDef prop(const char16_t* name, CimType type) { return {WString(name), type}; }
const CimType kBytes = kCimUint8 | kCimFlagArray;

std::string utf8_of(WStringView w) {
  std::string s;
  utf16_to_utf8(w, &s);
  return s;
}

std::uint64_t in_u(const WmiObject* in, const char16_t* name, bool* ok) {
  std::uint64_t v = 0;
  if (!in_param_uint(in, name, &v)) *ok = false;
  return v;
}

// Parses "xx:xx:xx:xx:xx:xx" (or "-" separated) into 6 bytes.
std::vector<std::uint8_t> mac_bytes(const nlohmann::json& facts) {
  std::vector<std::uint8_t> mac;
  if (!facts.is_object() || !facts.contains("mac") || !facts["mac"].is_string()) return mac;
  const std::string text = facts["mac"].get<std::string>();
  unsigned v = 0;
  int digits = 0;
  for (char c : text + ":") {
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (d >= 0) {
      v = v * 16 + static_cast<unsigned>(d);
      ++digits;
    } else if (digits != 0) {
      mac.push_back(static_cast<std::uint8_t>(v));
      v = 0;
      digits = 0;
    }
  }
  if (mac.size() != 6) mac.clear();
  return mac;
}

}  // namespace

// The firmware units of one machine, kept in step with the machine's state.
class SimDriver {
 public:
  // The unit of the adapter named key; null when there is none. Reloads
  // everything when another writer changed the state.
  FirmwareUnit* unit(Machine& machine, WStringView key, std::size_t* index) {
    revalidate(machine);
    const Adapter* a = driver_adapter(machine, key);
    if (a == nullptr) return nullptr;
    auto it = units_.find(a->index);
    if (it == units_.end()) {
      const nlohmann::json fw = a->facts.is_object() && a->facts.contains("firmware")
                                    ? a->facts["firmware"]
                                    : nlohmann::json::object();
      auto unit = std::make_unique<FirmwareUnit>(fw, mac_bytes(a->facts));
      unit->load_state(machine.read_state(section(a->index)));
      it = units_.emplace(a->index, std::move(unit)).first;
    }
    *index = a->index;
    return it->second.get();
  }

  // Writes the unit back (now, or with the next call when deferred).
  void changed(Machine& machine, std::size_t index, bool defer) {
    dirty_.insert(index);
    if (!defer) flush(machine);
  }

  void flush(Machine& machine) {
    if (dirty_.empty()) return;
    for (std::size_t index : dirty_) {
      auto it = units_.find(index);
      if (it == units_.end()) continue;
      const nlohmann::json state = it->second->to_state();
      machine.update_state(section(index), [&](nlohmann::json& v) {
        v = state;
        return true;
      });
    }
    dirty_.clear();
    serial_ = next_serial();
    machine.update_state(kSerialSection, [&](nlohmann::json& v) {
      v = serial_;
      return true;
    });
  }

 private:
  static std::string section(std::size_t index) { return "firmware_" + std::to_string(index); }

  static std::string next_serial() {
    static std::mt19937_64 rng{std::random_device{}()};
    return std::to_string(rng());
  }

  void revalidate(Machine& machine) {
    if (!dirty_.empty()) return;  // our own writes are pending: we are current
    const nlohmann::json s = machine.read_state(kSerialSection);
    const std::string serial = s.is_string() ? s.get<std::string>() : std::string();
    if (serial != serial_ || !loaded_) {
      units_.clear();
      serial_ = serial;
      loaded_ = true;
    }
  }

  std::map<std::size_t, std::unique_ptr<FirmwareUnit>> units_;
  std::set<std::size_t> dirty_;
  std::string serial_;
  bool loaded_ = false;
};

namespace {

// One driver per machine, shared by the classes of this file and the HWRM
// methods of TSLY_HwDeviceAccess.
std::mutex registry_lock;
// Never destroyed: a machine that is itself destroyed at process exit (the
// default backend) still finds the registry when it forgets its driver.
std::map<const Machine*, std::shared_ptr<SimDriver>>& registry() {
  static auto* r = new std::map<const Machine*, std::shared_ptr<SimDriver>>;
  return *r;
}
std::shared_ptr<SimDriver> driver_of(Machine& machine) {
  std::lock_guard<std::mutex> g(registry_lock);
  auto& slot = registry()[&machine];
  if (!slot) slot = std::make_shared<SimDriver>();
  return slot;
}
void forget(const Machine* machine) {
  std::lock_guard<std::mutex> g(registry_lock);
  registry().erase(machine);
}

HResult driver_failure() { return kHrWbemFailed; }

// Records one method call with its in-parameters and their variant types.
void record_call(Machine& machine, WStringView class_name, WStringView method, WStringView key,
                 const WmiObject* in, HResult hr) {
  std::string args = utf8_of(key) + "|";
  std::vector<WString> names;
  if (in != nullptr && succeeded(in->get_names(&names))) {
    bool first = true;
    for (const WString& n : names) {
      Variant v;
      if (failed(in->get(n, &v, nullptr))) continue;
      if (!first) args += ";";
      first = false;
      args += utf8_of(n) + "=" + std::to_string(v.vt) + ":";
      if (v.vt == (kVtArray | kVtUi1)) {
        args += "[" + std::to_string(v.bytes.size()) + "]";
      } else if (v.vt == kVtBstr) {
        args += utf8_of(v.text);
      } else {
        args += std::to_string(v.as_int());
      }
    }
  }
  machine.record("driver", utf8_of(class_name) + "." + utf8_of(method), std::move(args),
                 static_cast<std::uint32_t>(hr));
}

// Base of the four classes: instances are the physical adapters.
class DriverClass : public WmiProvider {
 public:
  explicit DriverClass(WmiClassDef def) : def_(std::move(def)) {}
  ~DriverClass() override {
    if (machine_ != nullptr) forget(machine_);
  }
  const WmiClassDef& definition() const override { return def_; }

  std::vector<WString> instance_keys(Machine& machine) override {
    machine_ = &machine;
    return driver_instance_names(machine);
  }

  HResult fill_instance(Machine& machine, WStringView key, SimObject& instance) override {
    machine_ = &machine;
    auto driver = driver_of(machine);
    driver->flush(machine);
    std::size_t index = 0;
    FirmwareUnit* unit = driver->unit(machine, key, &index);
    if (unit == nullptr) return kHrWbemNotFound;
    fill(*unit, instance);
    return kHrOk;
  }

  HResult exec_method(Machine& machine, WStringView key, WStringView method, const WmiObject* in,
                      SimObject& out) override {
    const HResult hr = exec(machine, key, method, in, out);
    record_call(machine, def_.name, method, key, in, hr);
    return hr;
  }

 private:
  HResult exec(Machine& machine, WStringView key, WStringView method, const WmiObject* in,
               SimObject& out) {
    machine_ = &machine;
    auto driver = driver_of(machine);
    const bool is_modify = method == u"Modify";
    if (!is_modify) driver->flush(machine);
    std::size_t index = 0;
    FirmwareUnit* unit = driver->unit(machine, key, &index);
    if (unit == nullptr) return kHrWbemNotFound;
    if (unit->forced_failure(utf8_of(method))) {
      driver->changed(machine, index, false);
      return driver_failure();
    }
    bool defer = false;
    const bool ok = run(*unit, method, in, out, &defer);
    // A failure changes the last error; a read changes nothing.
    static const WStringView kReads[] = {u"GetNvmLastError", u"GetFwHealthStatus",
                                         u"GetDirectoryInfo", u"GetDirectoryEntries", u"Read",
                                         u"GetNvmOpt"};
    const bool read_only = ok && std::find(std::begin(kReads), std::end(kReads), method) != std::end(kReads);
    if (!read_only) driver->changed(machine, index, defer);
    return ok ? kHrOk : driver_failure();
  }

 protected:
  virtual void fill(FirmwareUnit&, SimObject&) {}
  virtual bool run(FirmwareUnit& unit, WStringView method, const WmiObject* in, SimObject& out,
                   bool* defer) = 0;

 private:
  WmiClassDef def_;
  const Machine* machine_ = nullptr;
};

Variant bytes_variant(const std::vector<std::uint8_t>& b) { return Variant::byte_array(b); }

class NvramAccess : public DriverClass {
 public:
  NvramAccess() : DriverClass(make_def()) {}

 private:
  static WmiClassDef make_def() {
    WmiClassDef d;
    d.ns = u"root\\wmi";
    d.name = u"TSLY_NVRAMAccess";
    d.key = u"InstanceName";
    d.properties = {prop(u"InstanceName", kCimString), prop(u"Active", kCimBoolean)};
    const std::vector<WmiPropertyDef> option_in = {
        prop(u"length", kCimUint16),  prop(u"option_num", kCimUint16), prop(u"dimensions", kCimUint16),
        prop(u"index_0", kCimUint16), prop(u"index_1", kCimUint16),    prop(u"index_2", kCimUint16),
        prop(u"index_3", kCimUint16)};
    std::vector<WmiPropertyDef> set_in = option_in;
    set_in.push_back(prop(u"in_buff", kBytes));
    d.methods = {
        {u"GetNvmLastError", {},
         {prop(u"ReqType", kCimUint16), prop(u"ErrorCode", kCimUint16),
          prop(u"CommandSpecificErrorCode", kCimUint16)}},
        {u"ResetFw",
         {prop(u"processor_type", kCimUint8), prop(u"reset_type", kCimUint8),
          prop(u"reset_flag", kCimUint8)},
         {}},
        {u"GetFwHealthStatus", {}, {prop(u"FwHealthStatus", kCimUint32)}},
        {u"SyncFwImages", {prop(u"sync_actions", kCimUint32)}, {prop(u"sync_status", kCimUint32)}},
        {u"FactoryDefaults", {prop(u"mode", kCimUint8)}, {prop(u"result", kCimUint8)}},
        {u"Create",
         {prop(u"dir_type", kCimUint16), prop(u"dir_ordinal", kCimUint16), prop(u"dir_ext", kCimUint16),
          prop(u"dir_attr", kCimUint16), prop(u"dir_item_length", kCimUint32)},
         {prop(u"dir_index", kCimUint32)}},
        // The driver declares FlushNvm's placeholder as a 32-bit number.
        {u"FlushNvm", {prop(u"dummy", kCimUint32)}, {}},
        {u"GetDirectoryInfo", {},
         {prop(u"num_dir_entries", kCimUint32), prop(u"dir_entry_length", kCimUint32)}},
        {u"GetDirectoryEntries", {prop(u"length", kCimUint32)}, {prop(u"buffer", kBytes)}},
        {u"Read",
         {prop(u"dir_index", kCimUint32), prop(u"length", kCimUint32), prop(u"offset", kCimUint32)},
         {prop(u"buffer", kBytes)}},
        {u"Modify",
         {prop(u"dir_index", kCimUint32), prop(u"offset", kCimUint32), prop(u"length", kCimUint32),
          prop(u"buffer", kBytes)},
         {}},
        {u"GetNvmOpt", option_in, {prop(u"out_buff", kBytes)}},
        {u"SetNvmOpt", set_in, {}},
        {u"InstallUpdate", {prop(u"install_type", kCimUint32)},
         {prop(u"result", kCimUint8), prop(u"problem_item", kCimUint8),
          prop(u"reset_required", kCimUint8), prop(u"installed_items_0", kCimUint32),
          prop(u"installed_items_1", kCimUint32)}},
    };
    return d;
  }

  void fill(FirmwareUnit&, SimObject& instance) override {
    instance.set_value(u"Active", Variant::boolean(true));
  }

  static OptionKey option_key_of(const WmiObject* in, bool* ok) {
    OptionKey k{};
    k[0] = static_cast<std::uint16_t>(in_u(in, u"option_num", ok));
    k[1] = static_cast<std::uint16_t>(in_u(in, u"index_0", ok));
    k[2] = static_cast<std::uint16_t>(in_u(in, u"index_1", ok));
    k[3] = static_cast<std::uint16_t>(in_u(in, u"index_2", ok));
    k[4] = static_cast<std::uint16_t>(in_u(in, u"index_3", ok));
    return k;
  }

  bool run(FirmwareUnit& fw, WStringView method, const WmiObject* in, SimObject& out,
           bool* defer) override {
    bool ok = true;
    auto bad_parameters = [&] {
      fw.fail(kReqUnsupported, kFwErrOutOfRange, 0);
      return false;
    };
    if (method == u"GetNvmLastError") {
      const DriverError& e = fw.last_error();
      out.set_value(u"ReqType", Variant::i4(e.req_type));
      out.set_value(u"ErrorCode", Variant::i4(e.error_code));
      out.set_value(u"CommandSpecificErrorCode", Variant::i4(e.cmd_error));
      return true;
    }
    if (method == u"ResetFw") {
      const auto p = in_u(in, u"processor_type", &ok);
      const auto t = in_u(in, u"reset_type", &ok);
      in_u(in, u"reset_flag", &ok);
      if (!ok) return bad_parameters();
      return fw.reset(static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(t));
    }
    if (method == u"GetFwHealthStatus") {
      out.set_value(u"FwHealthStatus", Variant::i4(static_cast<std::int32_t>(fw.health())));
      return true;
    }
    if (method == u"SyncFwImages") {
      const auto actions = in_u(in, u"sync_actions", &ok);
      if (!ok) return bad_parameters();
      const std::uint32_t status = fw.sync_images(static_cast<std::uint32_t>(actions));
      out.set_value(u"sync_status", Variant::i4(static_cast<std::int32_t>(status)));
      return true;
    }
    if (method == u"FactoryDefaults") {
      const auto mode = in_u(in, u"mode", &ok);
      if (!ok) return bad_parameters();
      const bool done = fw.factory_defaults(static_cast<std::uint8_t>(mode));
      out.set_value(u"result", Variant::ui1(done ? 1 : 0));
      return true;
    }
    if (method == u"Create") {
      const auto t = in_u(in, u"dir_type", &ok);
      const auto o = in_u(in, u"dir_ordinal", &ok);
      const auto e = in_u(in, u"dir_ext", &ok);
      const auto a = in_u(in, u"dir_attr", &ok);
      const auto l = in_u(in, u"dir_item_length", &ok);
      if (!ok) return bad_parameters();
      const auto index = fw.create(static_cast<std::uint16_t>(t), static_cast<std::uint16_t>(o),
                                   static_cast<std::uint16_t>(e), static_cast<std::uint16_t>(a),
                                   static_cast<std::uint32_t>(l));
      if (!index) return false;
      out.set_value(u"dir_index", Variant::i4(static_cast<std::int32_t>(*index)));
      return true;
    }
    if (method == u"FlushNvm") {
      fw.flush_options();
      return true;
    }
    if (method == u"GetDirectoryInfo") {
      out.set_value(u"num_dir_entries", Variant::i4(static_cast<std::int32_t>(fw.items().size())));
      out.set_value(u"dir_entry_length", Variant::i4(static_cast<std::int32_t>(fw.dir_entry_length())));
      return true;
    }
    if (method == u"GetDirectoryEntries") {
      const auto length = in_u(in, u"length", &ok);
      if (!ok) return bad_parameters();
      std::vector<std::uint8_t> dir = fw.directory_bytes();
      if (dir.size() > length) dir.resize(static_cast<size_t>(length));
      out.set_value(u"buffer", bytes_variant(dir));
      return true;
    }
    if (method == u"Read") {
      const auto index = in_u(in, u"dir_index", &ok);
      const auto length = in_u(in, u"length", &ok);
      const auto offset = in_u(in, u"offset", &ok);
      if (!ok) return bad_parameters();
      std::vector<std::uint8_t> data;
      if (!fw.read(static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(offset),
                   static_cast<std::uint32_t>(length), &data)) {
        return false;
      }
      out.set_value(u"buffer", bytes_variant(data));
      return true;
    }
    if (method == u"Modify") {
      const auto index = in_u(in, u"dir_index", &ok);
      const auto offset = in_u(in, u"offset", &ok);
      const auto length = in_u(in, u"length", &ok);
      std::vector<std::uint8_t> data;
      if (!ok || !in_param_bytes(in, u"buffer", &data)) return bad_parameters();
      if (data.size() > length) data.resize(static_cast<size_t>(length));
      *defer = length >= kFullChunk;
      return fw.modify(static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(offset), data);
    }
    if (method == u"GetNvmOpt") {
      const OptionKey key = option_key_of(in, &ok);
      const auto bits = in_u(in, u"length", &ok);
      in_u(in, u"dimensions", &ok);
      if (!ok) return bad_parameters();
      std::vector<std::uint8_t> value;
      if (!fw.get_option(key, static_cast<std::uint16_t>(bits), &value)) return false;
      out.set_value(u"out_buff", bytes_variant(value));
      return true;
    }
    if (method == u"SetNvmOpt") {
      const OptionKey key = option_key_of(in, &ok);
      const auto bits = in_u(in, u"length", &ok);
      std::vector<std::uint8_t> value;
      if (!ok || !in_param_bytes(in, u"in_buff", &value)) return bad_parameters();
      return fw.set_option(key, static_cast<std::uint16_t>(bits), value);
    }
    if (method == u"InstallUpdate") {
      const auto type = in_u(in, u"install_type", &ok);
      if (!ok) return bad_parameters();
      InstallOutcome r;
      if (!fw.install_update(static_cast<std::uint32_t>(type), &r)) return false;
      out.set_value(u"result", Variant::ui1(r.result));
      out.set_value(u"problem_item", Variant::ui1(r.problem_item));
      out.set_value(u"reset_required", Variant::ui1(r.reset_required));
      out.set_value(u"installed_items_0", Variant::i4(static_cast<std::int32_t>(r.installed_items_0)));
      out.set_value(u"installed_items_1", Variant::i4(static_cast<std::int32_t>(r.installed_items_1)));
      return true;
    }
    return bad_parameters();
  }
};

class NvramPackage : public DriverClass {
 public:
  NvramPackage() : DriverClass(make_def()) {}

 private:
  static WmiClassDef make_def() {
    WmiClassDef d;
    d.ns = u"root\\wmi";
    d.name = u"TSLY_NVRAMPackage";
    d.key = u"InstanceName";
    d.properties = {prop(u"InstanceName", kCimString), prop(u"Version", kCimString)};
    return d;
  }
  void fill(FirmwareUnit& fw, SimObject& instance) override {
    const std::optional<std::string> v = fw.package_version();
    if (!v) return;
    WString w;
    utf8_to_utf16(*v, &w);
    instance.set_value(u"Version", Variant::bstr(w));
  }
  bool run(FirmwareUnit&, WStringView, const WmiObject*, SimObject&, bool*) override {
    return false;
  }
};

class FwTime : public DriverClass {
 public:
  FwTime() : DriverClass(make_def()) {}

 private:
  static WmiClassDef make_def() {
    WmiClassDef d;
    d.ns = u"root\\wmi";
    d.name = u"TSLY_FWTime";
    d.key = u"InstanceName";
    d.properties = {prop(u"InstanceName", kCimString)};
    // The time zone is a signed offset.
    d.methods = {{u"SetFwTime",
                  {prop(u"time_zone", kCimSint16), prop(u"year", kCimUint16), prop(u"month", kCimUint8),
                   prop(u"day", kCimUint8), prop(u"hour", kCimUint8), prop(u"minute", kCimUint8),
                   prop(u"second", kCimUint8), prop(u"millisecond", kCimUint8)},
                  {}}};
    return d;
  }
  bool run(FirmwareUnit& fw, WStringView, const WmiObject* in, SimObject&, bool*) override {
    bool ok = true;
    nlohmann::json t;
    Variant tz;
    if (in == nullptr || failed(in->get(u"time_zone", &tz, nullptr)) || tz.vt == kVtNull) ok = false;
    t["time_zone"] = tz.as_int();
    for (const char16_t* f : {u"year", u"month", u"day", u"hour", u"minute", u"second", u"millisecond"}) {
      t[utf8_of(f)] = in_u(in, f, &ok);
    }
    if (!ok) {
      fw.fail(kReqUnsupported, kFwErrOutOfRange, 0);
      return false;
    }
    fw.set_time(t);
    return true;
  }
};

class FwResetState : public DriverClass {
 public:
  FwResetState() : DriverClass(make_def()) {}

 private:
  static WmiClassDef make_def() {
    WmiClassDef d;
    d.ns = u"root\\wmi";
    d.name = u"TSLY_FwResetState";
    d.key = u"InstanceName";
    d.properties = {prop(u"InstanceName", kCimString), prop(u"fw_reset_cnt", kCimUint32)};
    return d;
  }
  void fill(FirmwareUnit& fw, SimObject& instance) override {
    instance.set_value(u"fw_reset_cnt", Variant::i4(static_cast<std::int32_t>(fw.reset_count())));
  }
  bool run(FirmwareUnit&, WStringView, const WmiObject*, SimObject&, bool*) override {
    return false;
  }
};

}  // namespace

std::vector<std::unique_ptr<WmiProvider>> driver_wmi_providers() {
  std::vector<std::unique_ptr<WmiProvider>> v;
  v.push_back(std::make_unique<NvramAccess>());
  v.push_back(std::make_unique<NvramPackage>());
  v.push_back(std::make_unique<FwTime>());
  v.push_back(std::make_unique<FwResetState>());
  return v;
}

namespace {

HResult hwrm_exec(Machine& machine, WStringView key, WStringView method, const WmiObject* in,
                  SimObject& out) {
  auto driver = driver_of(machine);
  driver->flush(machine);
  std::size_t index = 0;
  FirmwareUnit* fw = driver->unit(machine, key, &index);
  if (fw == nullptr) return kHrWbemNotFound;
  bool ok = true;
  if (method == u"HwrmPt") {
    const auto length = in_u(in, u"msg_length", &ok);
    std::vector<std::uint8_t> msg;
    if (!ok || !in_param_bytes(in, u"hw_msg", &msg)) return kHrWbemInvalidParameter;
    if (msg.size() > length) msg.resize(static_cast<size_t>(length));
    std::vector<std::uint8_t> resp = fw->hwrm(msg);
    const std::uint16_t req_type = msg.size() >= 2 ? static_cast<std::uint16_t>(msg[0] | msg[1] << 8) : 0;
    if (req_type == 0xFFEC) driver->changed(machine, index, false);  // defragmentation
    const std::uint32_t reported = fw->reported_length(req_type).value_or(static_cast<std::uint32_t>(resp.size()));
    out.set_value(u"msg_length", Variant::i4(static_cast<std::int32_t>(reported)));
    out.set_value(u"hw_msg", Variant::byte_array(resp));
    return kHrOk;
  }
  if (method == u"HwrmPtVb") {
    std::vector<std::uint8_t> env;
    const auto in_length = in_u(in, u"hwrmptvb_in_length", &ok);
    const auto out_length = in_u(in, u"hwrmptvb_out_length", &ok);
    if (!ok || !in_param_bytes(in, u"hwrmptvb_in", &env) || env.size() < 28 || env.size() < in_length) {
      return kHrWbemInvalidParameter;
    }
    auto u32 = [&](size_t at) {
      return static_cast<std::uint32_t>(env[at]) | static_cast<std::uint32_t>(env[at + 1]) << 8 |
             static_cast<std::uint32_t>(env[at + 2]) << 16 | static_cast<std::uint32_t>(env[at + 3]) << 24;
    };
    const std::uint32_t count = u32(12);
    const std::uint32_t msg_offset = u32(16);
    const std::uint32_t msg_length = u32(20);
    if (uint64_t{28} + uint64_t{12} * count > env.size() || uint64_t{msg_offset} + msg_length > env.size()) {
      return kHrWbemInvalidParameter;
    }
    const std::vector<std::uint8_t> msg(env.begin() + msg_offset, env.begin() + msg_offset + msg_length);
    std::vector<std::uint8_t> resp = fw->hwrm(msg);
    if (msg.size() >= 2 && msg[0] == 0xEC && msg[1] == 0xFF) driver->changed(machine, index, false);
    // Output: the header, the descriptors as sent (from-firmware data zero),
    // then the response.
    std::uint32_t from_fw = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      const size_t d = 28 + 12 * size_t{i};
      if ((env[d + 10] | env[d + 11] << 8) == 1) from_fw += u32(d + 4);
    }
    const std::uint32_t head = 28 + 12 * count;
    std::uint32_t resp_offset = head + from_fw;
    if (auto o = fw->out_message_offset()) resp_offset = *o;
    std::vector<std::uint8_t> o(std::max<size_t>(size_t{head} + from_fw, size_t{resp_offset}) + resp.size(), 0);
    std::copy(env.begin(), env.begin() + 28, o.begin());
    std::copy(env.begin() + 28, env.begin() + head, o.begin() + 28);
    o[16] = static_cast<std::uint8_t>(resp_offset);
    o[17] = static_cast<std::uint8_t>(resp_offset >> 8);
    o[18] = static_cast<std::uint8_t>(resp_offset >> 16);
    o[19] = static_cast<std::uint8_t>(resp_offset >> 24);
    std::copy(resp.begin(), resp.end(), o.begin() + resp_offset);
    if (o.size() > out_length) o.resize(static_cast<size_t>(out_length));
    out.set_value(u"hwrmptvb_out_length", Variant::i4(static_cast<std::int32_t>(o.size())));
    out.set_value(u"hwrmptvb_out", Variant::byte_array(o));
    return kHrOk;
  }
  return kHrWbemInvalidMethod;
}

}  // namespace

void add_driver_hwrm_methods(TableProvider& p) {
  p.add_method({u"HwrmPt", {prop(u"msg_length", kCimUint32), prop(u"hw_msg", kBytes)},
                {prop(u"msg_length", kCimUint32), prop(u"hw_msg", kBytes)}},
               [](Machine& m, WStringView key, const WmiObject* in, SimObject& out) {
                 const HResult hr = hwrm_exec(m, key, u"HwrmPt", in, out);
                 record_call(m, u"TSLY_HwDeviceAccess", u"HwrmPt", key, in, hr);
                 return hr;
               });
  p.add_method({u"HwrmPtVb",
                {prop(u"hwrmptvb_in_length", kCimUint32), prop(u"hwrmptvb_out_length", kCimUint32),
                 prop(u"hwrmptvb_in", kBytes)},
                {prop(u"hwrmptvb_out_length", kCimUint32), prop(u"hwrmptvb_out", kBytes)}},
               [](Machine& m, WStringView key, const WmiObject* in, SimObject& out) {
                 const HResult hr = hwrm_exec(m, key, u"HwrmPtVb", in, out);
                 record_call(m, u"TSLY_HwDeviceAccess", u"HwrmPtVb", key, in, hr);
                 return hr;
               });
}

}  // namespace plat::sim
