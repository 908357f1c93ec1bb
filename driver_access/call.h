// call.h: the pattern every driver operation follows, shared by the
// operation files of driver_access. Internal.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "driver_access/driver_access.h"
#include "package/package.h"
#include "platform/platform.h"

namespace da {

inline constexpr char16_t kRootWmi[] = u"root\\wmi";
inline constexpr char16_t kNvramAccess[] = u"TSLY_NVRAMAccess";
inline constexpr char16_t kHwDeviceAccess[] = u"TSLY_HwDeviceAccess";
inline constexpr char16_t kNvramPackage[] = u"TSLY_NVRAMPackage";
inline constexpr char16_t kFwTime[] = u"TSLY_FWTime";
inline constexpr char16_t kFwResetState[] = u"TSLY_FwResetState";

inline constexpr int32_t kInterfaceFailure = TSYRETVAL_DEVICE_DRIVER_INTERFACE_FAILURE;

// The adapter name as the driver's instance key (ANSI to UTF-16).
inline plat::WString adapter_key(const char* adapter_name) {
  return plat::ansi_to_wide(adapter_name != nullptr ? adapter_name : "");
}

// How a failed method execution becomes the result.
enum class OnFailure { kLastError, kNegatedLastError };

// The result of a failed method: the driver's last error, negated when asked.
// A last error of 0 (the driver recorded nothing) is still a failure.
inline int32_t method_failure(const char* adapter_name, const char16_t* method, OnFailure how) {
  const int32_t le = vrexnvmGetLastError(adapter_name, method);
  if (le == 0) return kInterfaceFailure;
  return how == OnFailure::kNegatedLastError ? -le : le;
}

// One method on the adapter's instance with the helper given: fetch the
// in-parameters when put is set and fill them, execute, read the
// out-parameters with get. Returns 0, -41 for a failed step, or the failure
// result of the execution.
template <class Put, class Get>
int32_t run_method(WmiHelper& wmi, const char* adapter_name, const plat::WString& key,
                   const char16_t* class_name, const char16_t* method, OnFailure how, Put put,
                   Get get) {
  std::unique_ptr<plat::WmiObject> in;
  if constexpr (!std::is_same_v<Put, std::nullptr_t>) {
    if (!wmi.GetMethodInParams(class_name, method, &in) || in == nullptr) {
      return kInterfaceFailure;
    }
    if (!put(in.get())) return kInterfaceFailure;
  }
  std::unique_ptr<plat::WmiObject> out;
  if (!wmi.ExecMethod(class_name, key, method, in.get(), &out)) {
    return method_failure(adapter_name, method, how);
  }
  if constexpr (!std::is_same_v<Get, std::nullptr_t>) {
    if (!get(out.get())) return kInterfaceFailure;
  }
  return 0;
}

}  // namespace da
