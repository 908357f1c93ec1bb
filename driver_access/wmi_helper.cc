// wmi_helper.cc: one WMI namespace connection, object paths with escaped
// keys, and the typed put and get helpers.
#include <algorithm>
#include <cstring>

#include "driver_access/driver_access.h"
#include "platform/platform.h"

using plat::Variant;
using plat::WmiObject;
using plat::WString;
using plat::WStringView;

namespace {

// Escaped key values live in a buffer of this many UTF-16 units, terminator
// included.
constexpr size_t kKeyBufferUnits = 512;
constexpr uint32_t kComputerNameUnits = 16;

WString computer_name() {
  char16_t buffer[kComputerNameUnits] = {};
  uint32_t size = kComputerNameUnits;
  plat::Kernel* kernel = plat::platform_services().kernel;
  if (kernel == nullptr || kernel->get_computer_name_w(buffer, &size) != plat::kErrorSuccess) {
    return WString();
  }
  return WString(buffer, std::min<uint32_t>(size, kComputerNameUnits - 1));
}

constexpr plat::VarType kVtByteArray = plat::kVtArray | plat::kVtUi1;

}  // namespace

WString wmi_escape_key(WStringView value) {
  WString out;
  out.reserve(kKeyBufferUnits - 1);
  for (char16_t c : value) {
    const bool special = c == u'"' || c == u'\\';
    const size_t need = special ? 2 : 1;
    if (out.size() + need > kKeyBufferUnits - 1) break;
    if (special) out.push_back(u'\\');
    out.push_back(c);
  }
  return out;
}

WString wmi_method_path(WStringView class_name, WStringView adapter_name) {
  WString path(class_name);
  path += u".InstanceName=\"";
  path += wmi_escape_key(adapter_name);
  path += u"\"";
  return path;
}

WString wmi_instance_name_path(WStringView computer, WStringView class_name,
                               WStringView adapter_name) {
  WString path = u"\\\\";
  path += computer;
  path += u"\\root\\wmi:";
  path += wmi_method_path(class_name, adapter_name);
  return path;
}

WString wmi_instance_id_path(WStringView computer, WStringView namespace_path,
                             WStringView class_name, WStringView id) {
  WString path = u"\\\\";
  path += computer;
  path += u"\\";
  path += namespace_path;
  path += u":";
  path += class_name;
  path += u".InstanceID=\"";
  path += wmi_escape_key(id);
  path += u"\"";
  return path;
}

WmiHelper::WmiHelper(WStringView namespace_path) {
  plat::Com* com = plat::platform_services().com;
  if (com == nullptr) return;
  if (plat::failed(com->initialize_ex(plat::kCoinitMultithreaded))) return;
  com_entered_ = true;
  const plat::HResult security = com->initialize_security(
      -1, plat::kRpcCAuthnLevelDefault, plat::kRpcCImpLevelImpersonate, plat::kEoacNone);
  if (plat::failed(security) && security != plat::kHrRpcTooLate) return;
  if (plat::failed(com->create_locator(plat::kClsidWbemAdministrativeLocator, &locator_)) ||
      locator_ == nullptr) {
    return;
  }
  if (plat::failed(locator_->connect_server(namespace_path, plat::kWbemFlagConnectUseMaxWait,
                                            &services_)) ||
      services_ == nullptr) {
    return;
  }
  connected_ = true;
}

WmiHelper::~WmiHelper() {
  services_.reset();
  locator_.reset();
  if (com_entered_) {
    if (plat::Com* com = plat::platform_services().com) com->uninitialize();
  }
}

bool WmiHelper::GetMethodInParams(WStringView class_name, WStringView method_name,
                                  std::unique_ptr<WmiObject>* in_params) {
  if (!connected_ || in_params == nullptr) return false;
  std::unique_ptr<WmiObject> class_object;
  if (plat::failed(services_->get_object(class_name, &class_object)) || class_object == nullptr) {
    return false;
  }
  std::unique_ptr<WmiObject> signature;
  if (plat::failed(class_object->get_method(method_name, &signature, nullptr))) return false;
  *in_params = std::move(signature);
  return true;
}

bool WmiHelper::ExecMethod(WStringView class_name, WStringView adapter_name,
                           WStringView method_name, const WmiObject* in_params,
                           std::unique_ptr<WmiObject>* out_params) {
  if (!connected_) return false;
  const WString path = wmi_method_path(class_name, adapter_name);
  return plat::succeeded(services_->exec_method(path, method_name, in_params, out_params));
}

bool WmiHelper::GetInstanceByName(WStringView class_name, WStringView adapter_name,
                                  std::unique_ptr<WmiObject>* instance) {
  if (!connected_ || instance == nullptr) return false;
  const WString path = wmi_instance_name_path(computer_name(), class_name, adapter_name);
  std::unique_ptr<WmiObject> found;
  if (plat::failed(services_->get_object(path, &found))) return false;
  *instance = std::move(found);
  return true;
}

bool WmiHelper::GetInstanceById(WStringView namespace_path, WStringView class_name,
                                WStringView id, std::unique_ptr<WmiObject>* instance) {
  if (!connected_ || instance == nullptr) return false;
  const WString path = wmi_instance_id_path(computer_name(), namespace_path, class_name, id);
  std::unique_ptr<WmiObject> found;
  if (plat::failed(services_->get_object(path, &found))) return false;
  *instance = std::move(found);
  return true;
}

bool WmiHelper::PutUInt8(WmiObject* object, WStringView name, uint8_t value) {
  if (!connected_ || object == nullptr) return false;
  return plat::succeeded(object->put(name, Variant::ui1(value), 0));
}

bool WmiHelper::PutUInt16(WmiObject* object, WStringView name, uint16_t value) {
  if (!connected_ || object == nullptr) return false;
  if (plat::succeeded(object->put(name, Variant::ui2(value), 0))) return true;
  if (plat::succeeded(object->put(name, Variant::i2(static_cast<int16_t>(value)), 0))) return true;
  return plat::succeeded(object->put(name, Variant::i4(static_cast<int32_t>(value)), 0));
}

bool WmiHelper::PutUInt32(WmiObject* object, WStringView name, uint32_t value) {
  if (!connected_ || object == nullptr || value == 0xFFFFFFFFu) return false;
  return plat::succeeded(object->put(name, Variant::i4(static_cast<int32_t>(value)), 0));
}

bool WmiHelper::PutBytes(WmiObject* object, WStringView name, const uint8_t* data,
                         uint32_t length) {
  if (!connected_ || object == nullptr || data == nullptr) return false;
  return plat::succeeded(object->put(name, Variant::byte_array({data, length}), 0));
}

bool WmiHelper::GetUInt8(const WmiObject* object, WStringView name, uint8_t* value) {
  if (!connected_ || object == nullptr || value == nullptr) return false;
  Variant v;
  if (plat::failed(object->get(name, &v, nullptr)) || v.vt != plat::kVtUi1) return false;
  *value = static_cast<uint8_t>(v.bits);
  return true;
}

bool WmiHelper::GetUInt16(const WmiObject* object, WStringView name, uint16_t* value) {
  if (!connected_ || object == nullptr || value == nullptr) return false;
  Variant v;
  if (plat::failed(object->get(name, &v, nullptr)) || v.vt != plat::kVtI4) return false;
  *value = static_cast<uint16_t>(v.bits);
  return true;
}

bool WmiHelper::GetUInt32(const WmiObject* object, WStringView name, uint32_t* value) {
  if (!connected_ || object == nullptr || value == nullptr) return false;
  Variant v;
  if (plat::failed(object->get(name, &v, nullptr))) return false;
  *value = static_cast<uint32_t>(v.bits);
  return true;
}

bool WmiHelper::GetString(const WmiObject* object, WStringView name, WString* value) {
  if (!connected_ || object == nullptr || value == nullptr) return false;
  Variant v;
  if (plat::failed(object->get(name, &v, nullptr)) || v.vt != plat::kVtBstr) return false;
  *value = std::move(v.text);
  return true;
}

bool WmiHelper::GetBool(const WmiObject* object, WStringView name, bool* value) {
  if (!connected_ || object == nullptr || value == nullptr) return false;
  Variant v;
  if (plat::failed(object->get(name, &v, nullptr)) || v.vt != plat::kVtBool) return false;
  *value = static_cast<int16_t>(v.bits) == plat::kVariantTrue;
  return true;
}

bool WmiHelper::GetBytes(const WmiObject* object, WStringView name, uint8_t* buffer,
                         uint32_t* capacity) {
  if (!connected_ || object == nullptr || buffer == nullptr || capacity == nullptr) return false;
  Variant v;
  if (plat::failed(object->get(name, &v, nullptr)) || v.vt != kVtByteArray || !v.has_array) {
    return false;
  }
  const size_t n = std::min<size_t>(*capacity, v.bytes.size());
  if (n != 0) std::memcpy(buffer, v.bytes.data(), n);
  *capacity = static_cast<uint32_t>(n);
  return true;
}
