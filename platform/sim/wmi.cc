// wmi.cc: the simulated COM apartment, WMI locator, namespace connections
// and objects with declared property types.
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

#include "platform/sim/machine_impl.h"

namespace plat::sim {

// ---------------------------------------------------------------------------
// Type acceptance (the table in platform/wmi.h).

bool put_accepts(CimType declared, const Variant& v) {
  if (v.vt == kVtNull || v.vt == kVtEmpty) return true;
  std::int64_t n = v.as_int();
  switch (declared) {
    case kCimSint8: return (v.vt == kVtI2 || v.vt == kVtI1) && n >= -128 && n <= 127;
    case kCimUint8: return v.vt == kVtUi1;
    case kCimSint16: return v.vt == kVtI2;
    case kCimUint16: return v.vt == kVtUi2 || (v.vt == kVtI4 && n >= 0 && n <= 0xFFFF);
    case kCimSint32: return v.vt == kVtI4;
    case kCimUint32: return v.vt == kVtI4 || v.vt == kVtUi4;
    case kCimSint64:
    case kCimUint64: {
      if (v.vt == kVtI4) return declared == kCimSint64 || n >= 0;
      if (v.vt != kVtBstr || v.text.empty()) return false;
      std::string s;
      for (char16_t c : v.text) {
        if (c > 0x7F) return false;
        s.push_back(static_cast<char>(c));
      }
      if (declared == kCimUint64) {
        std::uint64_t x = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), x);
        return r.ec == std::errc() && r.ptr == s.data() + s.size();
      }
      std::int64_t x = 0;
      auto r = std::from_chars(s.data(), s.data() + s.size(), x);
      return r.ec == std::errc() && r.ptr == s.data() + s.size();
    }
    case kCimBoolean: return v.vt == kVtBool;
    case kCimString:
    case kCimDatetime: return v.vt == kVtBstr;
    case kCimUint8 | kCimFlagArray: return v.vt == (kVtArray | kVtUi1);
    default: return false;
  }
}

Variant stored_form(CimType declared, const Variant& v) {
  if (v.vt == kVtNull || v.vt == kVtEmpty) return Variant::null();
  switch (declared) {
    case kCimUint8: return Variant::ui1(static_cast<std::uint8_t>(v.bits));
    case kCimSint8:
    case kCimSint16: return Variant::i2(static_cast<std::int16_t>(v.as_int()));
    case kCimUint16: return Variant::i4(static_cast<std::int32_t>(v.bits & 0xFFFF));
    case kCimSint32:
    case kCimUint32: return Variant::i4(static_cast<std::int32_t>(static_cast<std::uint32_t>(v.bits)));
    case kCimSint64:
    case kCimUint64:
      if (v.vt == kVtI4) {
        std::string s = std::to_string(v.as_int());
        return Variant::bstr(WString(s.begin(), s.end()));
      }
      return v;
    default: return v;
  }
}

// ---------------------------------------------------------------------------
// Objects.

SimObject::SimObject(Kind kind, WString class_name, std::vector<WmiPropertyDef> properties)
    : kind_(kind), class_name_(std::move(class_name)) {
  for (auto& p : properties) properties_.push_back(Property{std::move(p), Variant::null()});
}

SimObject::Property* SimObject::find(WStringView name) {
  std::string n = lower(narrow(name));
  for (auto& p : properties_) {
    if (lower(narrow(p.def.name)) == n) return &p;
  }
  return nullptr;
}

const SimObject::Property* SimObject::find(WStringView name) const {
  return const_cast<SimObject*>(this)->find(name);
}

HResult SimObject::get(WStringView name, Variant* value, CimType* cim_type) const {
  if (value == nullptr) return kHrWbemInvalidParameter;
  const Property* p = find(name);
  if (p == nullptr) return kHrWbemNotFound;
  *value = p->value;
  if (cim_type != nullptr) *cim_type = p->def.type;
  return kHrOk;
}

HResult SimObject::put(WStringView name, const Variant& value, CimType cim_type) {
  Property* p = find(name);
  if (p == nullptr) {
    if (kind_ == Kind::kInstance || cim_type == 0) return kHrWbemNotFound;
    properties_.push_back(Property{WmiPropertyDef{WString(name), cim_type}, Variant::null()});
    p = &properties_.back();
  }
  if (cim_type != 0 && cim_type != p->def.type) return kHrWbemTypeMismatch;
  if (!put_accepts(p->def.type, value)) return kHrWbemTypeMismatch;
  p->value = stored_form(p->def.type, value);
  return kHrOk;
}

HResult SimObject::get_method(WStringView name, std::unique_ptr<WmiObject>* in_signature,
                              std::unique_ptr<WmiObject>* out_signature) const {
  if (kind_ != Kind::kClass) return kHrWbemNotSupported;
  std::string n = lower(narrow(name));
  for (const auto& m : methods_) {
    if (lower(narrow(m.name)) != n) continue;
    if (in_signature != nullptr) {
      if (m.in.empty()) in_signature->reset();
      else *in_signature = std::make_unique<SimObject>(Kind::kParameters, u"__PARAMETERS", m.in);
    }
    if (out_signature != nullptr) {
      if (m.out.empty()) out_signature->reset();
      else *out_signature = std::make_unique<SimObject>(Kind::kParameters, u"__PARAMETERS", m.out);
    }
    return kHrOk;
  }
  return kHrWbemNotFound;
}

HResult SimObject::spawn_instance(std::unique_ptr<WmiObject>* instance) const {
  if (instance == nullptr) return kHrWbemInvalidParameter;
  std::vector<WmiPropertyDef> defs;
  for (const auto& p : properties_) defs.push_back(p.def);
  *instance = std::make_unique<SimObject>(
      kind_ == Kind::kParameters ? Kind::kParameters : Kind::kInstance, class_name_, defs);
  return kHrOk;
}

HResult SimObject::get_names(std::vector<WString>* names) const {
  if (names == nullptr) return kHrWbemInvalidParameter;
  names->clear();
  for (const auto& p : properties_) names->push_back(p.def.name);
  return kHrOk;
}

bool SimObject::set_value(WStringView name, const Variant& value) {
  Property* p = find(name);
  if (p == nullptr) return false;
  p->value = (value.vt == kVtUi2 || value.vt == kVtUi4 || value.vt == kVtI4 || value.vt == kVtI2)
                 ? stored_form(p->def.type, value)
                 : value;
  return true;
}

bool in_param_uint(const WmiObject* in, WStringView name, std::uint64_t* value) {
  if (in == nullptr) return false;
  Variant v;
  if (failed(in->get(name, &v, nullptr))) return false;
  switch (v.vt) {
    case kVtUi1:
    case kVtUi2:
    case kVtUi4:
    case kVtUi8:
    case kVtI1:
    case kVtI2:
    case kVtI4:
    case kVtI8: *value = v.bits; return true;
    case kVtBstr: {
      std::string s = narrow(v.text);
      auto r = std::from_chars(s.data(), s.data() + s.size(), *value);
      return r.ec == std::errc() && r.ptr == s.data() + s.size();
    }
    default: return false;
  }
}

bool in_param_bytes(const WmiObject* in, WStringView name, std::vector<std::uint8_t>* value) {
  if (in == nullptr) return false;
  Variant v;
  if (failed(in->get(name, &v, nullptr)) || v.vt != (kVtArray | kVtUi1) || !v.has_array) return false;
  *value = v.bytes;
  return true;
}

namespace {

constexpr HResult kHrRpcServerUnavailable = hresult(0x800706BAu);

std::uint32_t tid() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

// Per-thread apartment state of one machine.
struct Apartments {
  std::mutex mu;
  std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> threads;  // tid -> (kind, count)

  bool entered() {
    std::lock_guard lock(mu);
    auto it = threads.find(tid());
    return it != threads.end() && it->second.second > 0;
  }
};

class SimServices : public WmiServices {
 public:
  SimServices(MachineImpl* m, Apartments* a, WString ns) : m_(m), apartments_(a), ns_(std::move(ns)) {}

  HResult get_object(WStringView path, std::unique_ptr<WmiObject>* object) override {
    std::string key = narrow(ns_) + "|" + narrow(path);
    HResult hr = kHrOk;
    if (auto f = m_->fault("wmi", "get_object", key)) {
      hr = static_cast<HResult>(*f);
    } else if (!apartments_->entered()) {
      hr = kHrCoNotInitialized;
    } else if (object == nullptr) {
      hr = kHrWbemInvalidParameter;
    } else {
      WmiPath p;
      WmiProvider* prov = nullptr;
      hr = resolve(path, &p, &prov);
      if (succeeded(hr) && p.key_name.empty()) {
        *object = class_object(*prov);
      } else if (succeeded(hr)) {
        auto inst = std::make_unique<SimObject>(SimObject::Kind::kInstance, prov->definition().name,
                                                prov->definition().properties);
        inst->set_value(prov->definition().key, Variant::bstr(p.key_value));
        hr = prov->fill_instance(*m_->owner, p.key_value, *inst);
        if (succeeded(hr)) *object = std::move(inst);
      }
    }
    m_->record("wmi", "get_object", key, static_cast<std::uint32_t>(hr));
    return hr;
  }

  HResult exec_method(WStringView object_path, WStringView method, const WmiObject* in_params,
                      std::unique_ptr<WmiObject>* out_params) override {
    std::string key = narrow(ns_) + "|" + narrow(object_path) + "|" + narrow(method);
    HResult hr = kHrOk;
    if (auto f = m_->fault("wmi", "exec_method", key)) {
      hr = static_cast<HResult>(*f);
    } else if (!apartments_->entered()) {
      hr = kHrCoNotInitialized;
    } else {
      WmiPath p;
      WmiProvider* prov = nullptr;
      hr = resolve(object_path, &p, &prov);
      const WmiMethodDef* def = nullptr;
      if (succeeded(hr)) {
        def = find_method(*prov, method);
        if (p.key_name.empty()) hr = kHrWbemInvalidMethodParameters;  // no static methods here
        else if (def == nullptr) hr = kHrWbemInvalidMethod;
        else if (!def->in.empty() && in_params == nullptr) hr = kHrWbemInvalidMethodParameters;
      }
      if (succeeded(hr)) {
        auto out = std::make_unique<SimObject>(SimObject::Kind::kParameters, u"__PARAMETERS", def->out);
        hr = prov->exec_method(*m_->owner, p.key_value, def->name, def->in.empty() ? nullptr : in_params,
                               *out);
        if (succeeded(hr) && out_params != nullptr) {
          if (def->out.empty()) out_params->reset();
          else *out_params = std::move(out);
        }
      }
    }
    m_->record("wmi", "exec_method", key, static_cast<std::uint32_t>(hr));
    return hr;
  }

 private:
  bool hidden(const std::string& what) const {
    if (!m_->description.contains("wmi") || !m_->description["wmi"].is_object()) return false;
    const auto& w = m_->description["wmi"];
    for (const char* k : {"missing_classes", "missing_methods"}) {
      if (!w.contains(k) || !w[k].is_array()) continue;
      for (const auto& e : w[k]) {
        if (e.is_string() && iequals(e.get<std::string>(), what)) return true;
      }
    }
    return false;
  }

  const WmiMethodDef* find_method(WmiProvider& prov, WStringView method) const {
    const WmiClassDef& def = prov.definition();
    for (const auto& m : def.methods) {
      if (iequals(narrow(m.name), narrow(method))) {
        if (hidden(narrow(def.name) + "." + narrow(m.name))) return nullptr;
        return &m;
      }
    }
    return nullptr;
  }

  std::unique_ptr<SimObject> class_object(WmiProvider& prov) const {
    const WmiClassDef& def = prov.definition();
    auto obj = std::make_unique<SimObject>(SimObject::Kind::kClass, def.name, def.properties);
    std::vector<WmiMethodDef> methods;
    for (const auto& m : def.methods) {
      if (!hidden(narrow(def.name) + "." + narrow(m.name))) methods.push_back(m);
    }
    obj->set_methods(std::move(methods));
    return obj;
  }

  HResult resolve(WStringView path, WmiPath* p, WmiProvider** prov) {
    if (!parse_wmi_path(path, p)) return kHrWbemInvalidObjectPath;
    if (!p->server.empty() && p->server != u"." && !iequals(narrow(p->server), m_->computer_name)) {
      return kHrRpcServerUnavailable;
    }
    if (!p->ns.empty() && !iequals(narrow(p->ns), narrow(ns_))) return kHrWbemInvalidNamespace;
    *prov = m_->provider(ns_, p->class_name);
    if (*prov == nullptr || hidden(narrow((*prov)->definition().name))) return kHrWbemNotFound;
    if (p->key_name.empty()) return kHrOk;
    if (!iequals(narrow(p->key_name), narrow((*prov)->definition().key))) {
      return kHrWbemInvalidObjectPath;
    }
    for (const WString& k : (*prov)->instance_keys(*m_->owner)) {
      if (iequals(narrow(k), narrow(p->key_value))) {
        p->key_value = k;
        return kHrOk;
      }
    }
    return kHrWbemNotFound;
  }

  MachineImpl* m_;
  Apartments* apartments_;
  WString ns_;
};

class SimLocator : public WmiLocator {
 public:
  SimLocator(MachineImpl* m, Apartments* a) : m_(m), apartments_(a) {}

  HResult connect_server(WStringView ns, std::int32_t flags,
                         std::unique_ptr<WmiServices>* services) override {
    (void)flags;
    std::string key = narrow(ns);
    HResult hr = kHrOk;
    std::string n = lower(key);
    if (n.substr(0, 4) == "\\\\.\\") n = n.substr(4);
    if (auto f = m_->fault("wmi", "connect_server", key)) {
      hr = static_cast<HResult>(*f);
    } else if (!apartments_->entered()) {
      hr = kHrCoNotInitialized;
    } else if (!m_->wmi_available) {
      hr = kHrRpcServerUnavailable;
    } else if (n != "root\\wmi" && n != "root\\standardcimv2" && n != "root\\cimv2") {
      hr = kHrWbemInvalidNamespace;
    } else if (services == nullptr) {
      hr = kHrWbemInvalidParameter;
    } else {
      *services = std::make_unique<SimServices>(m_, apartments_, widen(n));
    }
    m_->record("wmi", "connect_server", key, static_cast<std::uint32_t>(hr));
    return hr;
  }

 private:
  MachineImpl* m_;
  Apartments* apartments_;
};

class SimCom : public Com {
 public:
  explicit SimCom(MachineImpl* m) : m_(m) {}

  HResult initialize_ex(std::uint32_t coinit) override {
    HResult hr = kHrOk;
    if (auto f = m_->fault("com", "initialize_ex", "")) {
      hr = static_cast<HResult>(*f);
    } else {
      std::lock_guard lock(apartments_.mu);
      auto& [kind, count] = apartments_.threads[tid()];
      if (count == 0) {
        kind = coinit;
        count = 1;
      } else if (kind == coinit) {
        ++count;
        hr = kHrFalse;
      } else {
        hr = kHrRpcChangedMode;
      }
    }
    m_->record("com", "initialize_ex", std::to_string(coinit), static_cast<std::uint32_t>(hr));
    return hr;
  }

  void uninitialize() override {
    {
      std::lock_guard lock(apartments_.mu);
      auto it = apartments_.threads.find(tid());
      if (it != apartments_.threads.end() && it->second.second > 0) --it->second.second;
    }
    m_->record("com", "uninitialize", "", 0);
  }

  HResult initialize_security(std::int32_t auth_services, std::uint32_t authn_level,
                              std::uint32_t imp_level, std::uint32_t capabilities) override {
    (void)auth_services;
    (void)authn_level;
    (void)imp_level;
    (void)capabilities;
    HResult hr = kHrOk;
    if (auto f = m_->fault("com", "initialize_security", "")) {
      hr = static_cast<HResult>(*f);
    } else if (!apartments_.entered()) {
      hr = kHrCoNotInitialized;
    } else {
      std::lock_guard lock(m_->mu);
      if (m_->com_security_set) hr = kHrRpcTooLate;
      m_->com_security_set = true;
    }
    m_->record("com", "initialize_security", "", static_cast<std::uint32_t>(hr));
    return hr;
  }

  HResult create_locator(const Guid& clsid, std::unique_ptr<WmiLocator>* locator) override {
    std::string key = guid_text(clsid);
    HResult hr = kHrOk;
    if (auto f = m_->fault("com", "create_locator", key)) {
      hr = static_cast<HResult>(*f);
    } else if (!apartments_.entered()) {
      hr = kHrCoNotInitialized;
    } else if (!(clsid == kClsidWbemAdministrativeLocator) && !(clsid == kClsidWbemLocator)) {
      hr = kHrClassNotRegistered;
    } else if (locator == nullptr) {
      hr = kHrPointer;
    } else {
      *locator = std::make_unique<SimLocator>(m_, &apartments_);
    }
    m_->record("com", "create_locator", key, static_cast<std::uint32_t>(hr));
    return hr;
  }

 private:
  MachineImpl* m_;
  Apartments apartments_;
};

}  // namespace

std::unique_ptr<Com> make_com(MachineImpl* m) { return std::make_unique<SimCom>(m); }

}  // namespace plat::sim
