// sim_driver_wmi.h: the simulated adapter driver's WMI classes
// TSLY_NVRAMAccess, TSLY_NVRAMPackage, TSLY_FWTime and TSLY_FwResetState,
// and the HWRM pass-through of TSLY_HwDeviceAccess, all answered by one
// FirmwareUnit per adapter (sim_firmware_nvm.h).
//
// Every call to these methods is also recorded (service "driver", call
// "Class.Method", args "instance|name=VT:value;..." with each in-parameter's
// variant type, outcome the HRESULT), so that tests can check exact
// sequences and parameter types.
//
// Firmware state is loaded from the machine's facts and its state section
// "firmware_<adapter index>" on first use, and written back after every
// method that changes it. Item writes (Modify) are written back together
// with the next other method, or at once when the write is shorter than a
// full 64 KiB chunk (the end of an image), so that writing a large image
// costs one state write instead of one per chunk.
#pragma once

#include <memory>
#include <vector>

#include "platform/sim/wmi_provider.h"

namespace plat::sim {

class FirmwareUnit;
class SimDriver;

// The four driver classes of this file, sharing one driver.
std::vector<std::unique_ptr<WmiProvider>> driver_wmi_providers();

// Adds the HWRM pass-through methods HwrmPt and HwrmPtVb to the driver's
// TSLY_HwDeviceAccess class. (A driver without HwrmPtVb is described with
// "wmi": {"missing_methods": ["TSLY_HwDeviceAccess.HwrmPtVb"]}.)
void add_driver_hwrm_methods(TableProvider& hw_device_access);

}  // namespace plat::sim
