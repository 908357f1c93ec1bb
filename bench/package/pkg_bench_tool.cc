// pkg_bench_tool: makes the benchmark packages and validates package files,
// for compare.sh.
//   pkg_bench_tool make-large PATH
//   pkg_bench_tool make-entries N PATH
//   pkg_bench_tool validate PATH...     (package_load_record + package_validate)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/package/pkg_bench_packages.h"
#include "package/package.h"

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "make-large" && argc == 3) {
    return pkg_bench::write_file(argv[2], pkg_bench::large_package()) ? 0 : 1;
  }
  if (command == "make-entries" && argc == 4) {
    const auto n = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    return pkg_bench::write_file(argv[3], pkg_bench::many_entries_package(n)) ? 0 : 1;
  }
  if (command == "validate" && argc >= 3) {
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
      PackageRecord record;
      package_load_record(argv[i], &record);
      int32_t index = 0;
      const int32_t rc = package_validate(record.view(), &index);
      std::printf("%s: %d (%s), index=%d\n", argv[i], rc, status_name(rc), index);
      failures += rc != TSYRETVAL_SUCCESS;
    }
    return failures == 0 ? 0 : 1;
  }
  std::fprintf(stderr, "usage: pkg_bench_tool make-large PATH | make-entries N PATH | validate PATH...\n");
  return 2;
}
