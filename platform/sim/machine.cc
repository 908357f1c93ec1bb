// machine.cc: the simulated machine object: loading, the call record,
// faults, handles, paths, persistent state and time.
#include "platform/sim/machine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/sim/machine_impl.h"

namespace fs = std::filesystem;

namespace plat::sim {

// ---------------------------------------------------------------------------
// Registry nodes.

RegNode* RegNode::child(std::string_view n) const {
  for (const auto& c : children) {
    if (iequals(c->name, n)) return c.get();
  }
  return nullptr;
}

RegNode* RegNode::ensure_child(std::string_view n) {
  if (RegNode* c = child(n)) return c;
  children.push_back(std::make_unique<RegNode>());
  children.back()->name = std::string(n);
  return children.back().get();
}

bool RegNode::remove_child(std::string_view n) {
  for (auto it = children.begin(); it != children.end(); ++it) {
    if (iequals((*it)->name, n)) {
      children.erase(it);
      return true;
    }
  }
  return false;
}

const RegValue* RegNode::value(std::string_view n) const {
  for (const auto& [value_name, v] : values) {
    if (iequals(value_name, n)) return &v;
  }
  return nullptr;
}

void RegNode::set_value(std::string_view n, RegValue v) {
  for (auto& [value_name, old] : values) {
    if (iequals(value_name, n)) {
      old = std::move(v);
      return;
    }
  }
  values.emplace_back(std::string(n), std::move(v));
}

bool RegNode::remove_value(std::string_view n) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (iequals(it->first, n)) {
      values.erase(it);
      return true;
    }
  }
  return false;
}

RegValue reg_sz(std::string_view text) {
  RegValue v;
  v.type = kRegSz;
  v.data.assign(text.begin(), text.end());
  v.data.push_back(0);
  return v;
}

RegValue reg_dword(std::uint32_t x) {
  RegValue v;
  v.type = kRegDword;
  for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
  return v;
}

RegValue reg_multi_sz(const std::vector<std::string>& texts) {
  RegValue v;
  v.type = kRegMultiSz;
  for (const auto& t : texts) {
    v.data.insert(v.data.end(), t.begin(), t.end());
    v.data.push_back(0);
  }
  v.data.push_back(0);
  return v;
}

RegValue reg_binary(std::vector<std::uint8_t> bytes) {
  RegValue v;
  v.type = kRegBinary;
  v.data = std::move(bytes);
  return v;
}

namespace {

bool parse_hex_bytes(const std::string& s, std::vector<std::uint8_t>* out) {
  std::vector<std::uint8_t> b;
  int hi = -1;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (c == ' ' || c == ':' || c == '-') continue;
    else return false;
    if (hi < 0) {
      hi = d;
    } else {
      b.push_back(static_cast<std::uint8_t>(hi * 16 + d));
      hi = -1;
    }
  }
  if (hi >= 0) return false;
  *out = std::move(b);
  return true;
}

}  // namespace

bool json_hex_bytes(const nlohmann::json& j, std::vector<std::uint8_t>* out) {
  if (j.is_string()) return parse_hex_bytes(j.get<std::string>(), out);
  if (j.is_array()) {
    std::vector<std::uint8_t> b;
    for (const auto& e : j) {
      std::uint64_t v = 0;
      if (!json_uint(e, &v) || v > 0xFF) return false;
      b.push_back(static_cast<std::uint8_t>(v));
    }
    *out = std::move(b);
    return true;
  }
  return false;
}

bool reg_value_from_json(const nlohmann::json& j, RegValue* out, std::string* error) {
  if (!j.is_object() || j.size() != 1) {
    *error = "a registry value is an object with one member (sz, expand_sz, multi_sz, dword, "
             "qword, binary)";
    return false;
  }
  const std::string type = j.begin().key();
  const nlohmann::json& v = j.begin().value();
  std::uint64_t n = 0;
  if (type == "sz" || type == "expand_sz") {
    if (!v.is_string()) {
      *error = "registry " + type + " needs a text";
      return false;
    }
    *out = reg_sz(v.get<std::string>());
    if (type == "expand_sz") out->type = kRegExpandSz;
    return true;
  }
  if (type == "multi_sz") {
    std::vector<std::string> texts;
    if (!v.is_array()) {
      *error = "registry multi_sz needs an array of texts";
      return false;
    }
    for (const auto& t : v) {
      if (!t.is_string()) {
        *error = "registry multi_sz needs an array of texts";
        return false;
      }
      texts.push_back(t.get<std::string>());
    }
    *out = reg_multi_sz(texts);
    return true;
  }
  if (type == "dword") {
    if (!json_uint(v, &n) || n > 0xFFFFFFFFu) {
      *error = "registry dword needs a 32-bit number";
      return false;
    }
    *out = reg_dword(static_cast<std::uint32_t>(n));
    return true;
  }
  if (type == "qword") {
    if (!json_uint(v, &n)) {
      *error = "registry qword needs a number";
      return false;
    }
    RegValue r;
    r.type = kRegQword;
    for (int i = 0; i < 8; ++i) r.data.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    *out = r;
    return true;
  }
  if (type == "binary") {
    std::vector<std::uint8_t> b;
    if (!json_hex_bytes(v, &b)) {
      *error = "registry binary needs hexadecimal bytes";
      return false;
    }
    *out = reg_binary(std::move(b));
    return true;
  }
  *error = "unknown registry value type " + type;
  return false;
}

// ---------------------------------------------------------------------------
// MachineImpl.

MachineImpl::MachineImpl(Machine* o) : owner(o) {}

MachineImpl::~MachineImpl() {
  std::vector<Handle> open;
  for (const auto& [h, e] : handles) open.push_back(h);
  if (kernel_service) {
    for (Handle h : open) kernel_service->close_handle(h);
  }
  for (auto& [h, e] : handles) {
    if (e.fd >= 0) ::close(e.fd);
  }
  handles.clear();
  if (call_log != nullptr) std::fclose(call_log);
  if (temporary_state && !state_dir.empty()) {
    std::error_code ec;
    fs::remove_all(state_dir, ec);
  }
}

bool MachineImpl::load(const nlohmann::json& d, const std::string& path, std::string* error) {
  description = d;
  machine_path = path;
  if (!d.is_object()) {
    *error = "the machine description is not a JSON object";
    return false;
  }
  if (d.contains("state_dir")) {
    if (!d["state_dir"].is_string()) {
      *error = "state_dir is not a text";
      return false;
    }
    fs::path sd = d["state_dir"].get<std::string>();
    if (sd.is_relative() && !path.empty()) sd = fs::path(path).parent_path() / sd;
    state_dir = sd.string();
  } else if (!path.empty()) {
    state_dir = path + ".state";
  } else {
    std::string tmpl = (fs::temp_directory_path() / "vrexsim-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
      *error = "cannot create a temporary state folder";
      return false;
    }
    state_dir = tmpl;
    temporary_state = true;
  }
  std::error_code ec;
  fs::create_directories(state_dir, ec);
  if (ec) {
    *error = "cannot create the state folder " + state_dir + ": " + ec.message();
    return false;
  }
  fs::create_directories(fs::path(state_dir) / "mutex", ec);

  devices_service = make_device_installer(this);
  registry_service = make_registry(this);
  scm_service = make_service_manager(this);
  libraries_service = make_system_libraries(this);
  device_io_service = make_device_io(this);
  ip_helper_service = make_ip_helper(this);
  com_service = make_com(this);
  shell_service = make_shell_folders(this);
  kernel_service = make_kernel(this);
  services.devices = devices_service.get();
  services.registry = registry_service.get();
  services.scm = scm_service.get();
  services.libraries = libraries_service.get();
  services.device_io = device_io_service.get();
  services.ip_helper = ip_helper_service.get();
  services.com = com_service.get();
  services.shell = shell_service.get();
  services.kernel = kernel_service.get();

  for (auto& p : builtin_wmi_providers()) providers.push_back(std::move(p));
  if (const char* log = std::getenv("VREX_SIM_CALL_LOG"); log != nullptr && *log != '\0') {
    call_log = std::fopen(log, "a");
  }
  return derive_machine(this, error);
}

void MachineImpl::record(std::string service, std::string call, std::string args,
                         std::uint32_t outcome) {
  std::lock_guard lock(mu);
  if (call_log != nullptr) {
    std::fprintf(call_log, "%s %s %s -> 0x%08X\n", service.c_str(), call.c_str(), args.c_str(), outcome);
    std::fflush(call_log);
  }
  calls.push_back(CallRecord{std::move(service), std::move(call), std::move(args), outcome});
}

std::optional<std::uint32_t> MachineImpl::fault(std::string_view service, std::string_view call,
                                                std::string_view key) {
  std::lock_guard lock(mu);
  for (Fault& f : faults) {
    if (f.service != service || f.call != call) continue;
    bool match = true;
    for (const auto& k : f.keys) {
      if (!icontains(key, k)) {
        match = false;
        break;
      }
    }
    if (!match) continue;
    ++f.seen;
    if (f.nth == 0) return f.code;
    if (f.seen >= f.nth && f.seen < f.nth + f.count) return f.code;
  }
  return std::nullopt;
}

Handle MachineImpl::add_handle(HandleEntry entry) {
  std::lock_guard lock(mu);
  Handle h = next_handle;
  next_handle += 4;
  handles.emplace(h, std::move(entry));
  return h;
}

HandleEntry* MachineImpl::handle(Handle h, HandleEntry::Kind kind) {
  std::lock_guard lock(mu);
  auto it = handles.find(h);
  if (it == handles.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

bool MachineImpl::remove_handle(Handle h) {
  std::lock_guard lock(mu);
  return handles.erase(h) != 0;
}

std::string MachineImpl::root_name(Handle root) {
  switch (root) {
    case kHkeyClassesRoot: return "HKCR";
    case kHkeyCurrentUser: return "HKCU";
    case kHkeyLocalMachine: return "HKLM";
    case kHkeyUsers: return "HKU";
    default: return "";
  }
}

RegNode* MachineImpl::find_key(std::string_view full) {
  std::string_view rest;
  if (full.substr(0, 4) == "HKLM") {
    rest = full.substr(4);
  } else {
    return nullptr;
  }
  RegNode* node = hklm.get();
  while (!rest.empty()) {
    if (rest.front() == '\\') {
      rest.remove_prefix(1);
      continue;
    }
    std::size_t slash = rest.find('\\');
    std::string_view part = rest.substr(0, slash);
    node = node->child(part);
    if (node == nullptr) return nullptr;
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  return node;
}

std::string MachineImpl::host_path(std::string_view p) const {
  std::string s(p);
  if (s.size() >= 2 && s[1] == ':' &&
      ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'))) {
    char drive = static_cast<char>(s[0] & ~0x20);
    std::string rest = s.substr(2);
    for (char& c : rest) {
      if (c == '\\') c = '/';
    }
    while (!rest.empty() && rest.front() == '/') rest.erase(rest.begin());
    std::string out = state_dir + "/drive/" + std::string(1, drive);
    if (!rest.empty()) out += "/" + rest;
    return out;
  }
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

bool MachineImpl::device_enabled(const SimDevice& d) const {
  nlohmann::json st = read_state("devices");
  if (st.is_object() && st.contains(d.instance_id) && st[d.instance_id].is_object() &&
      st[d.instance_id].contains("enabled") && st[d.instance_id]["enabled"].is_boolean()) {
    return st[d.instance_id]["enabled"].get<bool>();
  }
  if (d.adapter >= 0) {
    const auto& facts = adapters[static_cast<std::size_t>(d.adapter)].facts;
    if (facts.contains("enabled") && facts["enabled"].is_boolean()) {
      return facts["enabled"].get<bool>();
    }
  }
  return true;
}

bool MachineImpl::set_device_enabled(const SimDevice& d, bool enabled) {
  return update_state("devices", [&](nlohmann::json& v) {
    if (!v.is_object()) v = nlohmann::json::object();
    v[d.instance_id]["enabled"] = enabled;
    return true;
  });
}

bool MachineImpl::adapter_enabled(int adapter) const {
  for (const auto& d : devices) {
    if (d.adapter == adapter) return d.present && device_enabled(d);
  }
  return false;
}

WmiProvider* MachineImpl::provider(WStringView ns, WStringView class_name) {
  for (auto& p : providers) {
    const WmiClassDef& def = p->definition();
    if (iequals(narrow(def.ns), narrow(ns)) && iequals(narrow(def.name), narrow(class_name))) {
      return p.get();
    }
  }
  return nullptr;
}

std::uint64_t MachineImpl::now_ms() const {
  if (real_time) {
    static const auto start = std::chrono::steady_clock::now();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
  }
  std::lock_guard lock(mu);
  return virtual_ms;
}

void MachineImpl::sleep_ms(std::uint32_t ms) {
  if (real_time) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  std::lock_guard lock(mu);
  virtual_ms += ms;
}

// ---------------------------------------------------------------------------
// Persistent state: one file per section, written to a temporary file and
// renamed into place, under an exclusive lock on the state folder's lock file.

namespace {

class StateLock {
 public:
  explicit StateLock(const std::string& dir) {
    fd_ = ::open((dir + "/.state.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~StateLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool valid_section(const std::string& s) {
  if (s.empty() || s.size() > 64) return false;
  for (char c : s) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

nlohmann::json read_json_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  std::stringstream ss;
  ss << in.rdbuf();
  nlohmann::json j = nlohmann::json::parse(ss.str(), nullptr, false);
  if (j.is_discarded()) return nullptr;
  return j;
}

bool write_file_atomic(const std::string& path, const std::string& content) {
  std::string tmp = path + ".tmp." + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace

nlohmann::json MachineImpl::read_state(const std::string& section) const {
  if (!valid_section(section)) return nullptr;
  std::string path = state_dir + "/" + section + ".json";
  struct stat st {};
  std::lock_guard lock(mu);
  if (::stat(path.c_str(), &st) != 0) {
    state_cache.erase(section);
    return nullptr;
  }
  // Every write renames a new file into place, so an unchanged inode, size
  // and time mean unchanged contents.
  auto mtime = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
               static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
  auto it = state_cache.find(section);
  if (it != state_cache.end() && it->second.inode == st.st_ino &&
      it->second.size == static_cast<std::uint64_t>(st.st_size) && it->second.mtime_ns == mtime) {
    return it->second.value;
  }
  CachedSection c{st.st_ino, static_cast<std::uint64_t>(st.st_size), mtime,
                  read_json_file(path)};
  state_cache[section] = c;
  return c.value;
}

bool MachineImpl::update_state(const std::string& section,
                               const std::function<bool(nlohmann::json& value)>& fn) {
  if (!valid_section(section)) return false;
  StateLock lock(state_dir);
  if (!lock.ok()) return false;
  std::string path = state_dir + "/" + section + ".json";
  nlohmann::json value = read_json_file(path);
  if (!fn(value)) return true;
  return write_file_atomic(path, value.dump(1) + "\n");
}

bool MachineImpl::reset_state() {
  StateLock lock(state_dir);
  if (!lock.ok()) return false;
  std::error_code ec;
  bool ok = true;
  for (const auto& entry : fs::directory_iterator(state_dir, ec)) {
    std::string name = entry.path().filename().string();
    if (name == "mutex" || name == ".state.lock") continue;
    fs::remove_all(entry.path(), ec);
    if (ec) ok = false;
  }
  return ok && !ec;
}

// ---------------------------------------------------------------------------
// Machine.

Machine::Machine() : impl_(std::make_unique<MachineImpl>(this)) {}
Machine::~Machine() = default;

std::unique_ptr<Machine> Machine::from_json(std::string_view json_text,
                                            const std::string& machine_path,
                                            std::string* error) {
  nlohmann::json d = nlohmann::json::parse(json_text, nullptr, false);
  if (d.is_discarded()) {
    *error = "the machine description is not valid JSON";
    return nullptr;
  }
  std::unique_ptr<Machine> m(new Machine());
  if (!m->impl_->load(d, machine_path, error)) return nullptr;
  return m;
}

std::unique_ptr<Machine> Machine::from_file(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return nullptr;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string abs = fs::absolute(path).lexically_normal().string();
  return from_json(ss.str(), abs, error);
}

std::string Machine::demo_state_dir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  return base + "/vrexsim-demo-" + std::to_string(::getuid());
}

std::unique_ptr<Machine> Machine::demo(std::string* error) {
  nlohmann::json d = nlohmann::json::parse(demo_json(), nullptr, false);
  if (d.is_discarded()) {
    *error = "the demo machine's description is not valid JSON";
    return nullptr;
  }
  d["state_dir"] = demo_state_dir();
  return from_json(d.dump(), "", error);
}

Services& Machine::services() { return impl_->services; }

std::unique_ptr<Machine::Installed> Machine::install() {
  return std::make_unique<Installed>(set_platform_services(&impl_->services));
}

const std::vector<Adapter>& Machine::adapters() const { return impl_->adapters; }

const Adapter* Machine::adapter_by_name(std::string_view name) const {
  for (const auto& a : impl_->adapters) {
    if (a.name == name) return &a;
  }
  return nullptr;
}

const Adapter* Machine::adapter_by_net_cfg_id(std::string_view id) const {
  for (const auto& a : impl_->adapters) {
    if (iequals(a.net_cfg_instance_id, id)) return &a;
  }
  return nullptr;
}

bool Machine::adapter_running(std::size_t index) const {
  if (index >= impl_->adapters.size() || !impl_->has_device_object[index]) return false;
  int a = static_cast<int>(index);
  if (!impl_->adapter_enabled(a)) return false;
  for (const auto& d : impl_->devices) {
    if (d.adapter == a) return (d.status & kDnStarted) != 0 && d.problem == 0;
  }
  return false;
}

const nlohmann::json& Machine::description() const { return impl_->description; }

std::vector<CallRecord> Machine::calls() const {
  std::lock_guard lock(impl_->mu);
  return impl_->calls;
}

void Machine::clear_calls() {
  std::lock_guard lock(impl_->mu);
  impl_->calls.clear();
}

std::string Machine::debug_output() const {
  std::lock_guard lock(impl_->mu);
  return impl_->debug_output;
}

std::uint64_t Machine::now_ms() const { return impl_->now_ms(); }

nlohmann::json Machine::read_state(const std::string& section) const {
  return impl_->read_state(section);
}

bool Machine::update_state(const std::string& section,
                           const std::function<bool(nlohmann::json& value)>& fn) {
  return impl_->update_state(section, fn);
}

bool Machine::reset_state() { return impl_->reset_state(); }

const std::string& Machine::state_dir() const { return impl_->state_dir; }

std::vector<std::string> Machine::state_sections() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(impl_->state_dir, ec)) {
    std::string n = e.path().filename().string();
    if (n.size() > 5 && n.substr(n.size() - 5) == ".json" && e.is_regular_file(ec)) {
      out.push_back(n.substr(0, n.size() - 5));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> Machine::named_mutexes() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(impl_->state_dir) / "mutex", ec)) {
    std::string p = e.path().string();
    if (p.size() < 2 || p.substr(p.size() - 2) != ".h") continue;
    int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    // Held by a handle when an exclusive lock cannot be had.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      char buf[512];
      ssize_t n = ::pread(fd, buf, sizeof buf, 0);
      if (n > 0) out.emplace_back(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string Machine::host_path(std::string_view machine_path) const {
  return impl_->host_path(machine_path);
}

bool Machine::fault(std::string_view service, std::string_view call, std::string_view key,
                    std::uint32_t* code) {
  std::optional<std::uint32_t> f = impl_->fault(service, call, key);
  if (!f) return false;
  *code = *f;
  return true;
}

void Machine::record(std::string service, std::string call, std::string args,
                     std::uint32_t outcome) {
  impl_->record(std::move(service), std::move(call), std::move(args), outcome);
}

void Machine::add_wmi_provider(std::unique_ptr<WmiProvider> provider) {
  const WmiClassDef& def = provider->definition();
  for (auto& p : impl_->providers) {
    const WmiClassDef& old = p->definition();
    if (iequals(narrow(old.ns), narrow(def.ns)) && iequals(narrow(old.name), narrow(def.name))) {
      p = std::move(provider);
      return;
    }
  }
  impl_->providers.push_back(std::move(provider));
}

}  // namespace plat::sim
