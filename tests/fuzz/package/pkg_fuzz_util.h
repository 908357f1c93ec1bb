// pkg_fuzz_util.h: a scratch file for fuzz targets whose entry point takes a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

namespace pkg_fuzz {

// One file per process under the temporary folder, rewritten for each input.
inline const std::string& scratch_path() {
  static const std::string path = [] {
    std::random_device rd;
    return (std::filesystem::temp_directory_path() /
            ("vrex-pkg-fuzz-" + std::to_string(rd()) + std::to_string(rd()) + ".pkg"))
        .string();
  }();
  return path;
}

inline bool write_scratch(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(scratch_path().c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace pkg_fuzz
