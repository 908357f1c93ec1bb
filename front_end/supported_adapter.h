// supported_adapter.h: the front end's working record per supported adapter.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ndam/ngndam.h"
#include "package/package.h"

inline constexpr size_t kInstalledTextSize = 256;

// The outcome of an install, as the execution run records it.
struct InstallResult {
  int32_t value;   // the install's result: 0 or a positive driver code, or a negative status
  int32_t item;    // index of the packaged item the firmware named, -1 when none
  int32_t errnum;  // errno read after the install
};

// One per adapter that passed the supported-adapter filter, in discovery
// order; the array is zero-filled when it is made.
struct SupportedAdapter {
  const PhyNic* nic;              // the adapter's NIC record
  const PackageRecord* package;   // the matched package (the last match), or null
  char installed_version[kInstalledTextSize];      // empty when unknown
  char installed_timestamp[kInstalledTextSize];
  char installed_description[kInstalledTextSize];  // else the adapter's description
  InstallResult result;
  const SupportedAdapter* twin_of;  // an earlier record of the same adapter, or null
};
