// selection.h: packages and adapters for a run.
#pragma once

#include <cstddef>
#include <memory>

#include "front_end/supported_adapter.h"
#include "ndam/ngndam.h"
#include "package/package.h"

// What the selection hands to the consumers of a run. The arrays live until
// the process ends.
struct Selection {
  // The package files that passed their checks, in file-list order.
  std::unique_ptr<PackageRecord[]> packages;
  size_t package_count = 0;
  // Every adapter function that the discovery library reported.
  std::unique_ptr<PhyNic[]> nics;
  size_t nic_count = 0;
  // The supported adapters, in discovery order, with their matches.
  std::unique_ptr<SupportedAdapter[]> adapters;
  size_t supported_count = 0;
};

// Loads and checks the package files named by the package file pattern (for
// upgrade and install only; the other commands have no packages), then
// discovers the adapters, keeps the supported ones, marks twins, reads what
// is installed on each and matches the packages. Returns 0, or 1 after a
// numbered failure has been reported (the caller returns it from main at
// once).
int selection(unsigned command, Selection* out);

// The package list: searches the file pattern, prints each file's listing
// through debug_printf and keeps the supported packages in out. Returns 0, or
// 1 after failure 40 (no package file) or 50 (no memory for the array).
int load_packages(const char* spec, Selection* out);

// Adapter discovery and the supported-adapter records (the packages already
// in out are matched). Returns 0, or 1 after failure 60 to 100.
int discover_adapters(Selection* out);

// The package tests for one adapter, in order; prints one line per package
// and returns the last package that matches, or null.
const PackageRecord* match_package(const SupportedAdapter& adapter, const PackageRecord* packages,
                                   size_t package_count);
