// service_manager.h: the host's service control manager, as far as the
// program asks it: open it, and ask whether its database is locked.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace plat {

inline constexpr std::uint32_t kScManagerAllAccess = 0xF003F;
inline constexpr std::uint32_t kScManagerQueryLockStatus = 0x0010;

// The lock status of the service database.
struct ServiceLockStatus {
  bool locked = false;
  std::string owner;              // account holding the lock, when locked
  std::uint32_t duration_s = 0;   // seconds the lock has been held
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  // Opens the service control manager of this machine into *scm.
  // kErrorShutdownInProgress while the system shuts down.
  virtual std::uint32_t open_sc_manager(std::uint32_t access, Handle* scm) = 0;
  // The database lock status. buffer_size is the size in bytes of the
  // caller's buffer for the host's record (a fixed part and the owner's
  // name); when it is too small the call fails with
  // kErrorInsufficientBuffer and *bytes_needed is set.
  virtual std::uint32_t query_lock_status(Handle scm, std::uint32_t buffer_size,
                                          ServiceLockStatus* status,
                                          std::uint32_t* bytes_needed) = 0;
  virtual std::uint32_t close_service_handle(Handle scm) = 0;
};

}  // namespace plat
