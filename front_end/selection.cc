// selection.cc: the package list (adapter discovery follows it).
#include "front_end/selection.h"

#include <new>
#include <utility>

#include "front_end/package_list.h"
#include "front_end/run_settings.h"
#include "front_end/writers.h"

int load_packages(const char* spec, Selection* out) {
  FileList files;
  if (find_files(spec, &files) != FIND_FILES_OK || files.count == 0) {
    free_file_list(&files);
    return report_failure(40, "No package files found: '%s'", spec);
  }

  // One record per file found; the supported ones are kept in list order.
  auto* packages = new (std::nothrow) PackageRecord[files.count]();
  if (packages == nullptr)
    return report_failure(50, "Memory allocation failure for %llu packages",
                          static_cast<unsigned long long>(files.count));
  out->packages.reset(packages);
  out->package_count = 0;

  for (uint64_t k = 0; k < files.count; ++k) {
    if (k > 0) debug_printf("---\n");
    PackageRecord record{};
    package_load_record(files.paths[k], &record);
    if (list_package(&record, debug_printf)) packages[out->package_count++] = std::move(record);
  }
  free_file_list(&files);
  return 0;
}

int selection(unsigned command, Selection* out) {
  if (command == COMMAND_UPGRADE || command == COMMAND_INSTALL) {
    if (int status = load_packages(run_settings.package_spec.c_str(), out)) return status;
  }
  return 0;
}
