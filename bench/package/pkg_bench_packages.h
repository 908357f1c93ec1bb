// pkg_bench_packages.h: the packages the validation benchmarks run on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pkg_bench {

// 16 signed header images of 4 MiB each (64 MiB of item data), the shape of
// a full firmware package.
std::vector<uint8_t> large_package();

// entries small plain items with distinct identities, plus a copy of every
// 16th entry's record (same identity, byte-identical record) so that the
// duplicate check finds earlier entries throughout.
std::vector<uint8_t> many_entries_package(uint32_t entries);

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace pkg_bench
