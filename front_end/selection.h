// selection.h: packages and adapters for a run.
#pragma once

#include <cstddef>
#include <memory>

#include "package/package.h"

// What the selection hands to the consumers of a run. The arrays live until
// the process ends.
struct Selection {
  // The package files that passed their checks, in file-list order.
  std::unique_ptr<PackageRecord[]> packages;
  size_t package_count = 0;
  // The adapters, the supported-adapter records and their matches are added
  // here with adapter discovery; until then a run sees no adapters.
  size_t supported_count = 0;
};

// Loads and checks the package files named by the package specification (for
// upgrade and install only; the other commands have no packages), then
// discovers the adapters. Returns 0, or 1 after a numbered failure has been
// reported (the caller returns it from main at once).
int selection(unsigned command, Selection* out);

// The package list: searches the specification, prints each file's listing
// through debug_printf and keeps the supported packages in out. Returns 0, or
// 1 after failure 40 (no package file) or 50 (no memory for the array).
int load_packages(const char* spec, Selection* out);
