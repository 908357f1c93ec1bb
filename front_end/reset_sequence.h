// reset_sequence.h: making newly installed firmware active at once.
#pragma once

#include <cstdint>

#include "ndam/ngndam.h"

// Outcomes of the reset sequence.
inline constexpr int32_t kResetDone = 0;
inline constexpr int32_t kResetNotSupported = -58;
inline constexpr int32_t kResetColdBootPending = 2;
inline constexpr int32_t kResetRebootPending = 1;
inline constexpr int32_t kResetFailed = -1;

// After a successful install on an adapter of family 8 or above: checks that
// an immediate reset is allowed, resets the firmware, unbinds and rebinds
// the drivers of all the adapter's functions, checks that the firmware's
// reset counter advanced and brings the two NVM images into step.
int32_t reset_sequence(const PhyNic& nic);

// The image sync: no sync when the health shows no image mismatch, else
// SyncFwImages. Returns the status; *sync_status is 0x80000000 when done.
int32_t image_sync(const char* adapter_name, uint32_t* sync_status);
