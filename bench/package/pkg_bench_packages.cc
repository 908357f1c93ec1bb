// pkg_bench_packages.cc: builds the benchmark packages with the package builder.
#include "bench/package/pkg_bench_packages.h"

#include <cstdio>
#include <cstdlib>

#include "tools/pkgbuild/package_builder.h"

namespace pkg_bench {

std::vector<uint8_t> large_package() {
  const pkgbuild::Signer signer = pkgbuild::Signer::load(VREX_SOURCE_DIR "/keys/development.key.pem");
  if (!signer.valid()) {
    std::fprintf(stderr, "cannot load the development signing key\n");
    std::abort();
  }
  constexpr size_t kImage = size_t{4} << 20;
  pkgbuild::Package p;
  p.properties = {pkgbuild::text_property(pkgbuild::TAG_VERSION, "238.1.185.0"),
                  pkgbuild::u16_list_property(pkgbuild::TAG_DEVICE_IDS, {0x7A81}),
                  pkgbuild::text_property(pkgbuild::TAG_DESCRIPTION, "benchmark package")};
  for (uint16_t i = 0; i < 16; ++i) {
    pkgbuild::Bytes body(kImage - 267);
    uint32_t x = 0x12345678u + i;
    for (auto& b : body) {
      x = x * 1664525u + 1013904223u;
      b = static_cast<uint8_t>(x >> 24);
    }
    p.entries.push_back({.dir_type = 4, .dir_ordinal = i,
                         .data = pkgbuild::header_image({.image_code = 5, .body = std::move(body)}, signer)});
  }
  return pkgbuild::build_package(p);
}

std::vector<uint8_t> many_entries_package(uint32_t entries) {
  pkgbuild::Package p;
  p.properties = {pkgbuild::text_property(pkgbuild::TAG_VERSION, "1.0")};
  p.directive_size = 4;
  p.entries.reserve(entries + entries / 16);
  for (uint32_t i = 0; i < entries; ++i) {
    p.entries.push_back({.dir_type = static_cast<uint16_t>(0x100 + (i >> 16)), .dir_ordinal = static_cast<uint16_t>(i),
                         .data = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 1, 2}});
  }
  pkgbuild::Layout layout;
  pkgbuild::build_package(p, &layout);
  // Copies point at the original's data, so their records are identical.
  for (uint32_t i = 0; i < entries; i += 16) {
    pkgbuild::Entry copy = p.entries[i];
    copy.data.clear();
    copy.data_offset = static_cast<uint32_t>(layout.data_offsets[i]);
    copy.data_length = 4;
    p.entries.push_back(copy);
  }
  // The table grew, so the data moved: point the copies at the new places.
  pkgbuild::build_package(p, &layout);
  for (uint32_t i = 0, k = entries; i < entries; i += 16, ++k) {
    p.entries[k].data_offset = static_cast<uint32_t>(layout.data_offsets[i]);
  }
  return pkgbuild::build_package(p);
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace pkg_bench
