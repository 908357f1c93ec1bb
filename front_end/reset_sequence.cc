// reset_sequence.cc: firmware reset, driver rebind, counter check and image
// sync after an install.
#include "front_end/reset_sequence.h"

#include <new>
#include <vector>

#include "driver_access/driver_access.h"
#include "front_end/pci_device.h"
#include "front_end/writers.h"

namespace {

constexpr uint32_t kImageMismatchBits = 0x55E2A;
constexpr uint32_t kSyncDone = 0x80000000u;

// The number of adapter functions on the adapter's segment and bus, itself
// included; 0 when the library cannot say.
uint32_t count_adapter_functions(const PhyNic& nic) {
  uint32_t count = 0;
  if (ngNdamGetNumPhyNic(&count) != ngNDAM_OK || count == 0) return 0;
  std::vector<PhyNic> nics;
  try {
    nics.assign(count, PhyNic{});
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (ngNdamGetAllPhyNic(nics.data(), count) != ngNDAM_OK) return 0;
  uint32_t same = 0;
  for (const PhyNic& f : nics)
    if (f.segment == nic.segment && f.bus == nic.bus) ++same;
  return same;
}

}  // namespace

int32_t image_sync(const char* adapter_name, uint32_t* sync_status) {
  uint32_t health = 0;
  if (int32_t status = vrexnvmGetFwHealthStatus(adapter_name, &health); status != 0) return status;
  if ((health & kImageMismatchBits) == 0) {
    *sync_status = kSyncDone;
    return 0;
  }
  return vrexnvmSyncFwImages(adapter_name, sync_status);
}

int32_t reset_sequence(const PhyNic& nic) {
  const char* name = nic.name;
  debug_printf("Starting FlagImmediate reset logic after successful package installation\n");

  uint8_t multi_host = 0, multi_root = 0;
  const int32_t config = vrexnvmQueryFuncConfig(name, &multi_host, &multi_root);
  if (config != 0) multi_host = multi_root = 0;
  debug_printf("MultiHostType = %d MultiRootType = %d\n", multi_host, multi_root);
  if (config != 0 || multi_host == 1 || multi_root == 1) {
    debug_printf("The 'reset immediate' is not supported on this hardware.\n");
    return kResetNotSupported;
  }

  uint8_t action = 0;
  if (int32_t status = vrexnvmFwQueryStatus(name, true, &action); status != 0) {
    debug_printf("vrexnvmFwQueryStatus failed with status %d\n", status);
    return kResetFailed;
  }
  debug_printf("rebootType = %d", action);
  if (action == 3) return kResetColdBootPending;
  if (action == 2) return kResetRebootPending;

  uint32_t before = 0;
  if (int32_t status = vrexnvmGetFwResetCount(name, &before); status != 0) {
    debug_printf("Firmware reset counter get failed before reset. status %d\n", status);
    return kResetFailed;
  }
  debug_printf("Firmware reset counter before reset %d\n", static_cast<int>(before));

  debug_printf("Sending device reset command to the firmware\n");
  if (int32_t status = vrexnvmResetFw(name, 0); status != 0) {
    debug_printf("Reset failed. status = %d\n", status);
    return kResetFailed;
  }
  debug_printf("Device reset is success.\n");

  const uint32_t functions = count_adapter_functions(nic);
  if (functions == 0) return kResetFailed;
  if (disable_adapter_functions(nic, functions) != 0) {
    debug_printf("Driver unbind failed\n");
    return kResetFailed;
  }
  debug_printf("Driver unbind completed successfully\n");
  if (enable_adapter_functions(nic, functions) != 0) {
    debug_printf("Driver bind failed\n");
    return kResetFailed;
  }
  debug_printf("Driver bind completed successfully\n");

  uint32_t after = 0;
  if (int32_t status = vrexnvmGetFwResetCount(name, &after); status != 0) {
    debug_printf("Firmware reset counter get failed after reset. status %d\n", status);
    return kResetFailed;
  }
  debug_printf("Firmware reset counter after reset %d\n", static_cast<int>(after));
  if (after <= before) {
    debug_printf("Firmware reset counter not updated.\n");
    return kResetFailed;
  }
  debug_printf("Firmware reset counter updated.\n");

  debug_printf("Syncing the primary and secondary images\n");
  uint32_t sync_status = 0;
  int32_t status = image_sync(name, &sync_status);
  if (status == 0 && sync_status == kSyncDone) {
    debug_printf("Syncing the primary and secondary images completed successfully.\n");
    return kResetDone;
  }
  debug_printf(
      "Syncing the primary and secondary images failed. status %d, sync_status 0x%x. Retrying "
      "after NVM defrag.\n",
      status, sync_status);
  const int32_t defrag = vrexnvmDefrag(name);
  debug_printf("nvm defrag command returned status %d\n", defrag);
  if (defrag != 0) {
    debug_printf("NVM defrag failed. status %d\n", defrag);
    return kResetFailed;
  }
  status = image_sync(name, &sync_status);
  if (status == 0 && sync_status == kSyncDone) {
    debug_printf("Syncing the primary and secondary images completed successfully.\n");
    return kResetDone;
  }
  debug_printf("Syncing the primary and secondary images failed\n");
  return kResetFailed;
}
