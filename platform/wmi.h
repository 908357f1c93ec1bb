// wmi.h: COM and WMI as the program uses them: apartment and security set-up,
// the locator, a namespace connection, objects with typed properties and
// method signatures, method execution; and the variant that carries values.
//
// Objects are owned through std::unique_ptr: storing into an out pointer
// releases what it held, and every path releases what it took.
//
// Put with CIM type 0 takes the property's declared type. Which variant
// types a declared type accepts (the rest fail with kHrWbemTypeMismatch):
//
//   declared        accepted variant types
//   CIM_SINT8       VT_I2, VT_I1 (value in -128..127)
//   CIM_UINT8       VT_UI1
//   CIM_SINT16      VT_I2
//   CIM_UINT16      VT_UI2, VT_I4 (value in 0..65535)
//   CIM_SINT32      VT_I4
//   CIM_UINT32      VT_I4, VT_UI4
//   CIM_SINT64/64   VT_BSTR (decimal text), VT_I4
//   CIM_BOOLEAN     VT_BOOL
//   CIM_STRING      VT_BSTR
//   CIM_DATETIME    VT_BSTR
//   CIM_UINT8|ARRAY VT_ARRAY|VT_UI1
//   any             VT_NULL, VT_EMPTY (the property becomes null)
//
// so a 16-bit value sent first as VT_UI2, then VT_I2, then VT_I4 lands on
// the first attempt for CIM_UINT16, the second for CIM_SINT16 and the third
// for CIM_SINT32 or CIM_UINT32. Get returns the variant type WMI itself uses
// for the declared type: VT_UI1 for CIM_UINT8, VT_I2 for CIM_SINT8 and
// CIM_SINT16, VT_I4 for CIM_UINT16, CIM_SINT32 and CIM_UINT32, VT_BSTR for
// CIM_STRING, CIM_DATETIME and the 64-bit types, VT_BOOL for CIM_BOOLEAN,
// VT_ARRAY|VT_UI1 for CIM_UINT8|ARRAY; VT_NULL for a property without value.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/types.h"

namespace plat {

// Variant types.
using VarType = std::uint16_t;
inline constexpr VarType kVtEmpty = 0;
inline constexpr VarType kVtNull = 1;
inline constexpr VarType kVtI2 = 2;
inline constexpr VarType kVtI4 = 3;
inline constexpr VarType kVtR4 = 4;
inline constexpr VarType kVtR8 = 5;
inline constexpr VarType kVtBstr = 8;
inline constexpr VarType kVtBool = 11;
inline constexpr VarType kVtI1 = 16;
inline constexpr VarType kVtUi1 = 17;
inline constexpr VarType kVtUi2 = 18;
inline constexpr VarType kVtUi4 = 19;
inline constexpr VarType kVtI8 = 20;
inline constexpr VarType kVtUi8 = 21;
inline constexpr VarType kVtArray = 0x2000;
inline constexpr std::int16_t kVariantTrue = -1;
inline constexpr std::int16_t kVariantFalse = 0;

// CIM types (a property's declared type).
using CimType = std::int32_t;
inline constexpr CimType kCimIllegal = 0xFFF;
inline constexpr CimType kCimEmpty = 0;
inline constexpr CimType kCimSint8 = 16;
inline constexpr CimType kCimUint8 = 17;
inline constexpr CimType kCimSint16 = 2;
inline constexpr CimType kCimUint16 = 18;
inline constexpr CimType kCimSint32 = 3;
inline constexpr CimType kCimUint32 = 19;
inline constexpr CimType kCimSint64 = 20;
inline constexpr CimType kCimUint64 = 21;
inline constexpr CimType kCimReal32 = 4;
inline constexpr CimType kCimReal64 = 5;
inline constexpr CimType kCimBoolean = 11;
inline constexpr CimType kCimString = 8;
inline constexpr CimType kCimDatetime = 101;
inline constexpr CimType kCimReference = 102;
inline constexpr CimType kCimChar16 = 103;
inline constexpr CimType kCimObject = 13;
inline constexpr CimType kCimFlagArray = 0x2000;

// A value as COM carries it. For the scalar types, bits is the value field
// zero-extended from the type's width (VT_I2 -1 is 0xFFFF, VARIANT_TRUE is
// 0xFFFF), so that reading the low 32 bits of any variant is defined. A
// VT_ARRAY|VT_UI1 variant holds its elements in bytes when has_array is set
// (a one-dimensional array with lower bound lower_bound).
struct Variant {
  VarType vt = kVtEmpty;
  std::uint64_t bits = 0;
  WString text;
  bool has_array = false;
  std::int32_t lower_bound = 0;
  std::vector<std::uint8_t> bytes;

  static Variant null();
  static Variant ui1(std::uint8_t v);
  static Variant i2(std::int16_t v);
  static Variant ui2(std::uint16_t v);
  static Variant i4(std::int32_t v);
  static Variant ui4(std::uint32_t v);
  static Variant boolean(bool v);
  static Variant bstr(WStringView v);
  static Variant byte_array(std::span<const std::uint8_t> v);

  // The value read as the type's own signed or unsigned number (for VT_I1,
  // VT_I2, VT_I4, VT_I8 sign-extended).
  std::int64_t as_int() const;
  friend bool operator==(const Variant&, const Variant&) = default;
};

// One WMI object: a class, an instance, or a method's parameter object.
class WmiObject {
 public:
  virtual ~WmiObject() = default;

  // Reads property name into *value; *cim_type (may be null) receives its
  // declared type. kHrWbemNotFound for a property the object lacks.
  virtual HResult get(WStringView name, Variant* value, CimType* cim_type) const = 0;
  // Writes property name. cim_type 0 takes the declared type (see above);
  // on a class or parameter object a non-zero cim_type for a new name adds
  // the property.
  virtual HResult put(WStringView name, const Variant& value, CimType cim_type) = 0;
  // On a class object: method name's in- and out-parameter objects (either
  // pointer may be null; a method without in-parameters gives a null in
  // object). kHrWbemNotFound when the class has no such method.
  virtual HResult get_method(WStringView name, std::unique_ptr<WmiObject>* in_signature,
                             std::unique_ptr<WmiObject>* out_signature) const = 0;
  // A new instance of this class or parameter object, properties null.
  virtual HResult spawn_instance(std::unique_ptr<WmiObject>* instance) const = 0;
  // The names of the object's properties, in declaration order.
  virtual HResult get_names(std::vector<WString>* names) const = 0;
};

// One namespace connection.
class WmiServices {
 public:
  virtual ~WmiServices() = default;

  // The class or instance at path: a class name, or a relative
  // ("Class.Key=\"value\"") or full ("\\\\SERVER\\namespace:Class.Key=\"value\"")
  // object path. kHrWbemNotFound, kHrWbemInvalidClass, kHrWbemInvalidObjectPath.
  virtual HResult get_object(WStringView path, std::unique_ptr<WmiObject>* object) = 0;
  // Executes method on the instance at object_path with in_params (null for
  // a method without in-parameters); *out_params (may be null) receives the
  // out-parameter object.
  virtual HResult exec_method(WStringView object_path, WStringView method,
                              const WmiObject* in_params,
                              std::unique_ptr<WmiObject>* out_params) = 0;
};

inline constexpr std::int32_t kWbemFlagConnectUseMaxWait = 0x80;

class WmiLocator {
 public:
  virtual ~WmiLocator() = default;
  // Connects to namespace ns ("root\\wmi") of this machine, no user,
  // password, locale, authority or context.
  virtual HResult connect_server(WStringView ns, std::int32_t flags,
                                 std::unique_ptr<WmiServices>* services) = 0;
};

// COM set-up values.
inline constexpr std::uint32_t kCoinitMultithreaded = 0x0;
inline constexpr std::uint32_t kCoinitApartmentThreaded = 0x2;
inline constexpr std::uint32_t kRpcCAuthnLevelDefault = 0;
inline constexpr std::uint32_t kRpcCImpLevelImpersonate = 3;
inline constexpr std::uint32_t kEoacNone = 0;
inline constexpr Guid kClsidWbemAdministrativeLocator{
    0xCB8555CC, 0x9128, 0x11D1, {0xAD, 0x9B, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};
inline constexpr Guid kClsidWbemLocator{
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

class Com {
 public:
  virtual ~Com() = default;

  // Enters COM on the calling thread: kHrOk the first time, kHrFalse when
  // already in the same apartment kind, kHrRpcChangedMode for another kind.
  virtual HResult initialize_ex(std::uint32_t coinit) = 0;
  // Leaves COM once (pairs with a successful initialize_ex).
  virtual void uninitialize() = 0;
  // Process-wide security, with no descriptor, service list or
  // authentication list. The first call in a process succeeds; every later
  // one gives kHrRpcTooLate.
  virtual HResult initialize_security(std::int32_t auth_services, std::uint32_t authn_level,
                                      std::uint32_t imp_level, std::uint32_t capabilities) = 0;
  // Creates the in-process locator of class clsid.
  virtual HResult create_locator(const Guid& clsid, std::unique_ptr<WmiLocator>* locator) = 0;
};

// An object path taken apart. server and ns are empty for a relative path;
// key_name is empty for a bare class name. key_value is unescaped.
struct WmiPath {
  WString server;
  WString ns;
  WString class_name;
  WString key_name;
  WString key_value;
};
// Parses path: "Class", "Class.Key=\"value\"" or "\\\\SERVER\\ns\\...:" in
// front of either, where inside the quotes \" stands for a quotation mark and
// \\ for a backslash. Returns false for anything else (an unterminated or
// badly escaped value, text after the closing quote, an empty class name).
bool parse_wmi_path(WStringView path, WmiPath* out);

}  // namespace plat
