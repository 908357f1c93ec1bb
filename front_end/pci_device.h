// pci_device.h: finding an adapter function's device node by its PCI
// location, and disabling and enabling it through the device installer.
#pragma once

#include <cstdint>

#include "ndam/ngndam.h"
#include "platform/device_installer.h"
#include "platform/types.h"

// A device set and one member of it. Whoever receives one destroys the set
// (close_pci_device).
struct PciDeviceHandle {
  plat::Handle set = plat::kNoHandle;
  plat::DevInfoData data;
};

// Disables (state 2) or enables (state 1) every function of the adapter on
// its segment and bus. 0 when exactly expected functions changed state, -1
// otherwise. A disable that stops part way enables again the functions it
// had disabled, so the adapter is never left half unbound.
int disable_adapter_functions(const PhyNic& nic, uint32_t expected);
int enable_adapter_functions(const PhyNic& nic, uint32_t expected);

// 1 and the device handle of the present PCI device at bus, device and
// function (segment only names it in the not-found message), or 0.
int find_pci_device(uint32_t segment, uint32_t bus, uint32_t device, uint32_t function,
                    PciDeviceHandle* handle);
void close_pci_device(const PciDeviceHandle& handle);

// Applies the state change (1 enable, 2 disable) to the device; 1 on
// success, 0 on failure. Waits 2 seconds after a change.
int change_device_state(const PciDeviceHandle& handle, uint32_t state_change);

// Reads bus, device and function from a location text such as
// "PCI bus 59, device 0, function 1". 1 when one of the three known forms
// gives all three numbers, else 0.
int parse_pci_location(const char* text, uint32_t* bus, uint32_t* device, uint32_t* function);
