// execution.h: the upgrade and install run over the supported adapters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "front_end/supported_adapter.h"

// True when the package version is newer than the installed one. Each text
// is read as four dot-separated signed decimals (missing or malformed parts
// read as 0). An installed first number of exactly 21 or above 200 is older
// than any package first number below 20; otherwise the numbers decide in
// order.
bool package_is_newer(const char* installed, const char* package);

// Whether upgrade takes the record's package: newer by version, or with
// by_date when the installed timestamp sorts below the package's.
bool upgrade_wants(const SupportedAdapter& adapter, bool by_date);

// The execution run: writes the execution report, installs, resets, applies
// the option file, restores factory defaults on request, uninitialises the
// discovery library and returns the OR of the result flags (the exit
// status). command is COMMAND_UPGRADE or COMMAND_INSTALL.
uint32_t execution_run(unsigned command, SupportedAdapter* adapters, size_t count, bool by_date,
                       bool restore_factory_defaults);
