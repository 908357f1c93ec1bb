// wmi_provider.h: how the simulated machine serves a WMI class.
//
// Each class is one WmiProvider: its definition (namespace, key property,
// instance properties with declared CIM types, methods with typed in- and
// out-parameters), its instances, and its methods. The machine parses object
// paths, checks types on put, builds parameter objects from the definition,
// records calls and applies faults; a provider only answers. Providers are
// listed in builtin_wmi_providers() (wmi_providers.cc); a provider in a file
// of its own adds one line there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/wmi.h"

namespace plat::sim {

class Machine;
struct Adapter;

struct WmiPropertyDef {
  WString name;
  CimType type = kCimEmpty;
};

struct WmiMethodDef {
  WString name;
  std::vector<WmiPropertyDef> in;   // empty: the method takes no in-parameters
  std::vector<WmiPropertyDef> out;  // "ReturnValue" is not implied
};

struct WmiClassDef {
  WString ns;         // "root\\wmi"
  WString name;       // "TSLY_HwDeviceAccess"
  WString key;        // "InstanceName" or "InstanceID"
  std::vector<WmiPropertyDef> properties;  // the key included
  std::vector<WmiMethodDef> methods;
};

// A WMI object of the simulated machine: declared properties with values.
class SimObject : public WmiObject {
 public:
  enum class Kind { kClass, kInstance, kParameters };

  SimObject(Kind kind, WString class_name, std::vector<WmiPropertyDef> properties);
  // A class object carries its methods' definitions.
  void set_methods(std::vector<WmiMethodDef> methods) { methods_ = std::move(methods); }

  HResult get(WStringView name, Variant* value, CimType* cim_type) const override;
  HResult put(WStringView name, const Variant& value, CimType cim_type) override;
  HResult get_method(WStringView name, std::unique_ptr<WmiObject>* in_signature,
                     std::unique_ptr<WmiObject>* out_signature) const override;
  HResult spawn_instance(std::unique_ptr<WmiObject>* instance) const override;
  HResult get_names(std::vector<WString>* names) const override;

  // Direct access for providers: sets a declared property without the
  // type check (the value should be of the type get would return, see
  // wmi.h; set_value converts a VT_UI2/VT_UI4 to what WMI returns).
  bool set_value(WStringView name, const Variant& value);
  Kind kind() const { return kind_; }
  const WString& class_name() const { return class_name_; }

 private:
  struct Property {
    WmiPropertyDef def;
    Variant value;  // kVtNull when without value
  };
  Property* find(WStringView name);
  const Property* find(WStringView name) const;

  Kind kind_;
  WString class_name_;
  std::vector<Property> properties_;
  std::vector<WmiMethodDef> methods_;
};

// Whether a declared type accepts a put of value (the table in wmi.h).
bool put_accepts(CimType declared, const Variant& value);
// The variant a get returns for value stored under declared (VT_UI2 becomes
// VT_I4 for CIM_UINT16, and so on).
Variant stored_form(CimType declared, const Variant& value);

class WmiProvider {
 public:
  virtual ~WmiProvider() = default;

  virtual const WmiClassDef& definition() const = 0;
  // The key values of the class's instances on machine, in listing order.
  virtual std::vector<WString> instance_keys(Machine& machine) = 0;
  // Fills instance (every declared property present and null, the key set
  // by the caller) for key. kHrWbemNotFound when there is no such instance.
  virtual HResult fill_instance(Machine& machine, WStringView key, SimObject& instance) = 0;
  // Executes method on the instance key (the caller has checked that it
  // exists and that the method is defined). in holds the caller's
  // in-parameters (null for a method without them); out is a fresh object
  // of the method's out-parameters. Returns the HRESULT of the execution.
  virtual HResult exec_method(Machine& machine, WStringView key, WStringView method,
                              const WmiObject* in, SimObject& out) = 0;
};

// A provider made of a definition and functions: the usual way to write one.
class TableProvider : public WmiProvider {
 public:
  using KeysFn = std::function<std::vector<WString>(Machine& machine)>;
  using FillFn = std::function<HResult(Machine& machine, WStringView key, SimObject& instance)>;
  using MethodFn = std::function<HResult(Machine& machine, WStringView key, const WmiObject* in,
                                         SimObject& out)>;

  TableProvider(WmiClassDef def, KeysFn keys, FillFn fill);
  // Adds method def with its handler (replacing a method of the same name).
  void add_method(WmiMethodDef def, MethodFn fn);

  const WmiClassDef& definition() const override { return def_; }
  std::vector<WString> instance_keys(Machine& machine) override { return keys_(machine); }
  HResult fill_instance(Machine& machine, WStringView key, SimObject& instance) override {
    return fill_(machine, key, instance);
  }
  HResult exec_method(Machine& machine, WStringView key, WStringView method, const WmiObject* in,
                      SimObject& out) override;

 private:
  WmiClassDef def_;
  KeysFn keys_;
  FillFn fill_;
  std::vector<std::pair<WString, MethodFn>> methods_;
};

// The WMI instance names of the adapters whose vrexnd.sys driver is running
// (present, enabled, started, with a device object), in machine order; and
// the adapter of one such name (null when none).
std::vector<WString> driver_instance_names(Machine& machine);
const Adapter* driver_adapter(Machine& machine, WStringView instance_name);

// Every provider the machine starts with.
std::vector<std::unique_ptr<WmiProvider>> builtin_wmi_providers();

// Reads an unsigned parameter of the caller's in-parameter object whatever
// integer variant it was put as. False when absent or null or not integer.
bool in_param_uint(const WmiObject* in, WStringView name, std::uint64_t* value);
// Reads a byte-array parameter.
bool in_param_bytes(const WmiObject* in, WStringView name, std::vector<std::uint8_t>* value);

}  // namespace plat::sim
