// nvm_inventory.h: the identity of the package installed in an adapter's NVM,
// read from the package log that the firmware keeps in NVM item type 1.
//
// The package log is text: lines ended by a line feed (the last one possibly
// not), fields separated by tabs and counted from 0. Field 1 is the package
// description, field 2 its version, field 3 its timestamp. Lines whose field
// 1 contains "Patch" or "DAZA Program" record something other than a package
// installation and are passed over. Bytes 0x00 and 0xFF at the end of the
// item are padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

enum InstalledPackageSelector : int {
  INSTALLED_PACKAGE_DESCRIPTION = 1,
  INSTALLED_PACKAGE_VERSION = 2,
  INSTALLED_PACKAGE_TIMESTAMP = 3,
};

// Finds field `field` (1 or more) of the last package line in `log`. On
// success *out views at most 255 bytes of `log` and the result is true; false
// when no line has the field.
bool package_log_field(std::span<const uint8_t> log, unsigned field, std::string_view* out);

// Reads one field of the installed package's log line from the adapter named
// `device_name` (its WMI instance name) into dest[0..dest_size): at most 128
// bytes of the field and a terminating zero; dest is zero-filled whatever the
// outcome. Returns TSYRETVAL_SUCCESS or a negative status:
// TSYRETVAL_ITEM_NOT_FOUND when the adapter has no package log,
// TSYRETVAL_TRAILER_NOT_FOUND / TSYRETVAL_INVALID_DATA_LENGTH for an item too
// short to hold one, TSYRETVAL_UNSUPPORTED_PLATFORM for a direct PCI device
// name, TSYRETVAL_VERSION_INFO_NOT_FOUND when no line has the field, or the
// driver access's status.
int32_t installed_package_field(const char* device_name, InstalledPackageSelector selector,
                                char* dest, size_t dest_size);
