// lifecycle.cc: the library's start and stop: the reference count, the
// library lock, the instance mutex, and building and freeing the adapter
// list.
#include <cstdio>

#include "ndam/ndam_internal.h"

namespace ndam {

namespace {

// Machine-wide name of the instance mutex (after "Global\\"), and the
// interface version.
constexpr const char* kInstanceMutexGuid = "{FBCBECF0-D87B-11d5-A4CF-00104BCD3937}";

}  // namespace

Library& library() {
  static Library lib;
  return lib;
}

void LockTake() { library().lock->enter(); }
void LockRelease() { library().lock->leave(); }

const plat::SecurityAttributes* NullDaclAttributes(plat::SecurityAttributes* sa,
                                                   bool for_adapter_lock) {
  plat::Kernel& k = *os().kernel;
  *sa = plat::SecurityAttributes{};
  if (std::uint32_t err = k.initialize_security_descriptor(sa); err != 0) {
    if (for_adapter_lock) {
      LogPrint(kLogError, "InitDiag() InitializeSecurityDescriptor() failed %lu\r\n",
               static_cast<unsigned long>(err));
    } else {
      LogPrint(kLogError, "InitializeSecurityDescriptor() failed %lu\r\n",
               static_cast<unsigned long>(err));
    }
    return nullptr;
  }
  if (std::uint32_t err = k.set_security_descriptor_null_dacl(sa); err != 0) {
    if (for_adapter_lock) {
      LogPrint(kLogError, "InitDiag() SetSecurityDescriptorDacl() failed %lu\r\n",
               static_cast<unsigned long>(err));
    } else {
      LogPrint(kLogError, "SetSecurityDescriptorDacl() failed %lu\r\n",
               static_cast<unsigned long>(err));
    }
    return nullptr;
  }
  sa->inherit_handle = false;
  return sa;
}

// Builds the adapter list. 0, or the status of ReadConfig with the list
// left empty.
std::uint32_t InitInternalData() {
  Library& lib = library();
  LogPrint(kLogInformation, "Enter InitInternalData()");
  lib.next_handle = 1;
  lib.head = lib.tail = nullptr;
  std::uint32_t status = ReadConfig();
  if (status != ngNDAM_OK) {
    FreeNicList();
    LogPrint(kLogError, "InitInternalData(): read configuration failed(%lu)",
             static_cast<unsigned long>(status));
    return status;
  }
  LogPrint(kLogInformation, "InitInternalData() return ngNDAM_OK");
  return ngNDAM_OK;
}

void FreeInternalData() {
  FreeNicList();
  library().next_handle = 0;
}

}  // namespace ndam

using namespace ndam;

const char* ngNdamStatusName(std::uint32_t status) {
  switch (status) {
#define VREX_NGNDAM_NAME(name, value) \
  case value:                         \
    return #name;
    VREX_NGNDAM_CODES(VREX_NGNDAM_NAME)
#undef VREX_NGNDAM_NAME
    default:
      return "ngNDAM_UNKNOWN";
  }
}

std::uint32_t ngNdamInitializeEx() {
  Library& lib = library();
  plat::Kernel& k = *os().kernel;
  char name[96];
  std::snprintf(name, sizeof name, "Global\\%s", kInstanceMutexGuid);
  plat::SecurityAttributes sa_storage;
  const plat::SecurityAttributes* sa = NullDaclAttributes(&sa_storage, false);
  plat::Handle mutex = plat::kNoHandle;
  std::uint32_t err = k.create_mutex(sa, true, name, &mutex);
  if (mutex == plat::kNoHandle || err == plat::kErrorAlreadyExists) {
    if (mutex != plat::kNoHandle) k.close_handle(mutex);
    LogPrint(kLogError, "ngNdamInitializeEx() get mutex failed(%lu)\r\n",
             static_cast<unsigned long>(err));
    return ngNDAM_GET_MUTEX_FAILED;
  }
  lib.instance_mutex = mutex;
  return ngNDAM_OK;
}

std::uint32_t ngNdamInitialize(std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
  if (major != ngNDAM_VERSION_MAJOR || minor != ngNDAM_VERSION_MINOR ||
      build != ngNDAM_VERSION_BUILD) {
    return ngNDAM_VERSION_MISMATCH;
  }
  Library& lib = library();
  if (lib.refcount == 0) {
    lib.head = lib.tail = nullptr;
    lib.next_handle = 0;
    lib.device_prefix[0] = '\0';
    CreateLogMutex();
    if (std::uint32_t status = InitializeLogFile(); status != ngNDAM_OK) return status;
    // An instance mutex left by a failed initialisation of this process is
    // ours, not another instance's.
    if (lib.instance_mutex != plat::kNoHandle) os().kernel->close_handle(lib.instance_mutex);
    lib.instance_mutex = plat::kNoHandle;
    (void)ngNdamInitializeEx();  // a failure is logged there; initialisation goes on
    if (!lib.lock) lib.lock.emplace();
  }

  LockTake();
  if (lib.refcount > 0) {
    ++lib.refcount;
    LockRelease();
    LogPrint(kLogInformation, "ngNdamInitialize(): NDAM had initialized already");
    return ngNDAM_OK;
  }
  std::uint32_t status = InitInternalData();
  if (status != ngNDAM_OK) {
    LockRelease();
    LogPrint(kLogInformation, "ngNdamInitialize(): initialize failed(%lu)",
             static_cast<unsigned long>(status));
    return status;
  }
  lib.refcount = 1;
  LockRelease();
  LogPrint(kLogInformation, "ngNdamInitialize() return ngNDAM_OK");
  return ngNDAM_OK;
}

std::uint32_t ngNdamUninitialize() {
  Library& lib = library();
  plat::Kernel& k = *os().kernel;
  LogPrint(kLogInformation, "Enter ngNdamUninitialize()");
  // Without the library lock nothing is set up (never initialised, the log
  // could not be opened, or the last uninitialisation deleted the lock):
  // there is nothing to take, delete or free.
  if (!lib.lock) {
    LogPrint(kLogInformation, "ngNdamUninitialize(): refcnt(%lu)", 0ul);
    LogPrint(kLogInformation, "ngNdamUninitialize(): NDAM had already uninitialized");
    return ngNDAM_OK;
  }
  LockTake();
  LogPrint(kLogInformation, "ngNdamUninitialize(): refcnt(%lu)",
           static_cast<unsigned long>(lib.refcount));
  if (lib.refcount == 0) {
    // A failed initialisation left the lock, the mutexes and the log set up.
    LockRelease();
    lib.lock.reset();
    LogPrint(kLogInformation, "ngNdamUninitialize(): NDAM had already uninitialized");
    if (lib.instance_mutex != plat::kNoHandle) k.close_handle(lib.instance_mutex);
    lib.instance_mutex = plat::kNoHandle;
    CloseLogMutex();
    if (lib.log_file != plat::kNoHandle) k.close_handle(lib.log_file);
    lib.log_file = plat::kNoHandle;
    lib.level_mask = 0;
    return ngNDAM_OK;
  }
  --lib.refcount;
  if (lib.refcount > 0) {
    LockRelease();
    LogPrint(kLogInformation, "ngNdamUninitialize(): reference count is not 0");
    return ngNDAM_OK;
  }
  FreeInternalData();
  lib.refcount = 0;
  LockRelease();
  LogPrint(kLogInformation, "ngNdamUninitialize() return ngNDAM_OK");
  if (lib.instance_mutex != plat::kNoHandle) k.close_handle(lib.instance_mutex);
  lib.instance_mutex = plat::kNoHandle;
  CloseLogMutex();
  lib.lock.reset();
  UnInitializeLogFile();
  return ngNDAM_OK;
}
