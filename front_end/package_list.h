// package_list.h: the listing and verdict of one package file.
//
// Shared by vrexcup's package list and by the package tool's validate
// command, so both print the same lines for the same file.
#pragma once

#include "package/package.h"

// A printf-style line writer (debug_printf in vrexcup).
using LineWriter = void (*)(const char* format, ...);

// Prints, through write, the listing of one record already filled by
// package_load_record: its path, desc, ver, requires and timestamp lines;
// then either the "missing device-ID and/or version" line, or one dev-id line
// per device id followed by the verdict of package_validate ("Package
// supported." or "Package corrupted! Error: ..."). The "---" separator
// between records is the caller's. A rejected package's buffer is released
// (record->data emptied, data_size 0); a supported one keeps it.
// Returns true when the package is supported.
bool list_package(PackageRecord* record, LineWriter write);
