// diag.cc: diagnostic access: taking an adapter under its machine-wide
// adapter lock with its device object held open, and giving it back.
#include <string>

#include "ndam/ndam_internal.h"

namespace ndam {

namespace {

constexpr const char* kAdapterLockGuid = "{FBCBECF0-D87B-11d5-A4CF-00104BCD3937}";
constexpr std::uint32_t kOpenAttempts = 20;
constexpr std::uint32_t kOpenPauseMs = 10;

}  // namespace

std::uint32_t IsNICEnabled(NicNode* node) {
  plat::DeviceInstaller& devices = *os().devices;
  LogPrint(kLogInformation, "IsNICEnabled() title(%s) pnp_id(%s)\r\n", node->record.name,
           node->instance_id);
  std::uint32_t dev_inst = 0;
  if (plat::ConfigRet cr =
          devices.locate_devnode(node->instance_id, plat::kCmLocateDevnodeNormal, &dev_inst);
      cr != plat::kCrSuccess) {
    LogPrint(kLogWarning, "Failed to locate device node %s, 0x%08lX\r\n", node->instance_id,
             static_cast<unsigned long>(cr));
    return 0;
  }
  std::uint32_t status = 0;
  std::uint32_t problem = 0;
  if (plat::ConfigRet cr = devices.get_devnode_status(dev_inst, &status, &problem);
      cr != plat::kCrSuccess) {
    LogPrint(kLogWarning, "Failed to get device node status %s, 0x%08lX\r\n", node->instance_id,
             static_cast<unsigned long>(cr));
    return 0;
  }
  LogPrint(kLogInformation, "Device node %s, status 0x%08lX, problem 0x%08lX\r\n",
           node->instance_id, static_cast<unsigned long>(status),
           static_cast<unsigned long>(problem));
  if ((status & plat::kDnStarted) == 0) {
    LogPrint(kLogWarning, "Device node %s is not started\r\n", node->instance_id);
    return 0;
  }
  if (problem == plat::kCmProbDisabled) {
    LogPrint(kLogWarning, "Device node %s is disabled\r\n", node->instance_id);
    return 0;
  }
  return 1;
}

std::uint32_t InitDiag(NicNode* node) {
  plat::Kernel& k = *os().kernel;
  PhyNic& r = node->record;
  if (IsNICEnabled(node) == 0) {
    LogPrint(kLogError, "InitDiag() IsNICEnabled() driver not loaded (%s)\r\n",
             r.net_cfg_instance_id);
    return ngNDAM_DRIVER_NOT_LOADED;
  }
  plat::SecurityAttributes sa_storage;
  const plat::SecurityAttributes* sa = NullDaclAttributes(&sa_storage, true);

  std::string adapter(AdapterText(FieldText(r.net_cfg_instance_id)));
  std::string lock_name = std::string(library().device_prefix) + kAdapterLockGuid + adapter;
  plat::Handle mutex = plat::kNoHandle;
  std::uint32_t err = k.create_mutex(sa, true, lock_name, &mutex);
  if (mutex == plat::kNoHandle) {
    LogPrint(kLogError, "InitDiag() CreateMutex() failed (%lu)\r\n",
             static_cast<unsigned long>(err));
    return ngNDAM_LOCK_NIC_FAILED;
  }
  if (err == plat::kErrorAlreadyExists) {
    k.close_handle(mutex);
    LogPrint(kLogError, "InitDiag() mutex exist, return ngNDAM_LOCK_NIC_FAILED\r\n");
    return ngNDAM_LOCK_NIC_FAILED;
  }

  std::string path = std::string("\\\\.\\") + library().device_prefix + adapter;
  plat::Handle device = plat::kNoHandle;
  for (std::uint32_t attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (attempt > 0) k.sleep(kOpenPauseMs);
    err = os().device_io->open_device(path, plat::kGenericRead | plat::kGenericWrite,
                                      plat::kFileShareRead | plat::kFileShareWrite,
                                      plat::kOpenExisting, &device);
    if (err == 0 && device != plat::kNoHandle) break;
    device = plat::kNoHandle;
    LogPrint(kLogError, "InitDiag() CreateFile() failed 0x%08lX(%s)\r\n",
             static_cast<unsigned long>(err), r.net_cfg_instance_id);
  }
  if (device == plat::kNoHandle) {
    LogPrint(kLogError, "InitDiag() CreateFile() failed after %u tries(%s)\r\n", kOpenAttempts,
             r.net_cfg_instance_id);
    LockTake();
    r.driver_loaded = 0;
    LockRelease();
    k.close_handle(mutex);
    return ngNDAM_DRIVER_NOT_LOADED;
  }
  LockTake();
  r.driver_loaded = 1;
  node->device_handle = device;
  node->lock_handle = mutex;
  node->owner_pid = k.current_process_id();
  node->owner_tid = k.current_thread_id();
  LockRelease();
  LogPrint(kLogInformation, "InitDiag() return ngNDAM_OK (%s)\r\n", r.name);
  return ngNDAM_OK;
}

std::uint32_t UnInitDiag(NicNode* node) {
  plat::Kernel& k = *os().kernel;
  LockTake();
  if (node->device_handle != plat::kNoHandle) {
    k.close_handle(node->device_handle);
    node->device_handle = plat::kNoHandle;
  }
  if (node->lock_handle != plat::kNoHandle) {
    k.close_handle(node->lock_handle);
    node->lock_handle = plat::kNoHandle;
    node->owner_pid = 0;
    node->owner_tid = 0;
  }
  LockRelease();
  LogPrint(kLogInformation, "UnInitDiag() return ngNDAM_OK (%s)\r\n", node->record.name);
  return ngNDAM_OK;
}

}  // namespace ndam

using namespace ndam;

namespace {

// Takes the library lock and finds the node of handle. Returns the status
// to give back (with the lock released and the line logged) when the
// library is not initialised or no node has the handle; 0 with the lock held
// otherwise.
std::uint32_t EnterWithNode(std::uint32_t handle, bool init, NicNode** node) {
  Library& lib = library();
  bool initialised = false;
  if (lib.lock) {
    LockTake();
    initialised = lib.refcount > 0;
    if (!initialised) LockRelease();
  }
  if (!initialised) {
    if (init) {
      LogPrint(kLogInformation, "ngNdamInitDiag() return ngNDAM_ngNDAM_NOT_INITIALIZED");
    } else {
      LogPrint(kLogInformation, "ngNdamUnInitDiag() return ngNDAM_ngNDAM_NOT_INITIALIZED");
    }
    return ngNDAM_NOT_INITIALIZED;
  }
  *node = FindNic(handle);
  if (*node == nullptr) {
    LockRelease();
    if (init) {
      LogPrint(kLogError, "ngNdamInitDiag(): invalid adapter handle");
    } else {
      LogPrint(kLogError, "ngNdamUnInitDiag(): invalid adapter handle");
    }
    return ngNDAM_INVALID_HANDLE;
  }
  return ngNDAM_OK;
}

}  // namespace

std::uint32_t ngNdamInitDiag(std::uint32_t handle) {
  LogPrint(kLogInformation, "Enter ngNdamInitDiag()");
  NicNode* node = nullptr;
  if (std::uint32_t status = EnterWithNode(handle, true, &node); status != ngNDAM_OK) {
    return status;
  }
  std::uint32_t status = InitDiag(node);
  LockRelease();
  if (status != ngNDAM_OK) {
    LogPrint(kLogInformation, "ngNdamInitDiag() InitDiag() return %u\r\n", status);
    return status;
  }
  LogPrint(kLogInformation, "ngNdamInitDiag() return ngNDAM_OK");
  return ngNDAM_OK;
}

std::uint32_t ngNdamUnInitDiag(std::uint32_t handle) {
  LogPrint(kLogInformation, "Enter ngNdamUnInitDiag()");
  NicNode* node = nullptr;
  if (std::uint32_t status = EnterWithNode(handle, false, &node); status != ngNDAM_OK) {
    return status;
  }
  UnInitDiag(node);
  LockRelease();
  LogPrint(kLogInformation, "ngNdamUnInitDiag() return ngNDAM_OK");
  return ngNDAM_OK;
}
