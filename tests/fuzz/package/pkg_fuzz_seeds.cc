// pkg_fuzz_seeds: writes the seed corpora of the package fuzz targets into
// the folder given as the only argument, one subfolder per target.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/pkgbuild/package_builder.h"

namespace {

using pkgbuild::Bytes;
namespace fs = std::filesystem;

bool write(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

struct Item {
  std::string name;
  uint16_t type;
  uint16_t attr;
  Bytes data;
};

// Item seeds: 2 bytes type, 2 bytes attribute, a flag byte asking for the
// true CRC, 4 unused CRC bytes, then the data.
Bytes item_seed(const Item& item) {
  Bytes out;
  pkgbuild::put_u16(out, 0, item.type);
  pkgbuild::put_u16(out, 2, item.attr);
  out.push_back(1);
  out.insert(out.end(), 4, 0);
  out.insert(out.end(), item.data.begin(), item.data.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pkg_fuzz_seeds OUTPUT_DIR\n");
    return 2;
  }
  const fs::path root(argv[1]);
  const pkgbuild::Signer signer = pkgbuild::Signer::load(VREX_SOURCE_DIR "/keys/development.key.pem");
  using namespace pkgbuild;

  const std::vector<Item> items = {
      {"header4", 4, 0, header_image({.image_code = 5, .body_length = 40}, signer)},
      {"header3", 3, 0, header_image({.image_code = 21, .body_length = 21}, signer)},
      {"trailer6", 6, 0x10, trailer_image({.body_length = 16, .trailer_type = 6}, signer)},
      {"trailer32", 9, 0x10, trailer_image({.body_length = 16, .trailer_length = 32}, signer)},
      {"marker62", 62, 0, marker_image({})},
      {"container61", 61, 0, marker_container({})},
      {"vpd5", 5, 0, vpd_area({.read_write = true})},
      {"plain", 0x30, 0, Bytes{1, 2, 3, 4}},
  };
  bool ok = true;
  for (const Item& item : items) ok &= write(root / "item", item.name, item_seed(item));

  const std::vector<std::pair<std::string, VpdArea>> areas = {
      {"full", {.read_write = true}},
      {"no_rw", {}},
      {"bad_checksum", {.checksum_delta = 1}},
      {"no_end", {.end_tag = false}},
  };
  for (const auto& [name, area] : areas) {
    const Bytes item = vpd_area(area);
    ok &= write(root / "vpd", name, Bytes(item.begin() + 4, item.end()));
  }

  // Packages: a listing-style package with every property, one with images
  // of each kind, and a few small ones with odd layouts.
  Package full;
  full.properties = {text_property(TAG_DESCRIPTION, "Vantera-C/E"), u16_list_property(TAG_DEVICE_IDS, {0x7A81, 0x7A82}),
                     u8_property(TAG_MIN_CHIP_REV, 0), u8_property(TAG_MAX_CHIP_REV, 3),
                     text_property(TAG_TIMESTAMP_OLD, "2026-01-01"), text_property(TAG_TIMESTAMP, "2026-12-01"),
                     text_property(TAG_VERSION, "238.1.185.0"), u16_property(TAG_SUBSYS_VENDOR, kMakerVendorId),
                     u16_property(TAG_SUBSYS_ID, 0x1000), text_property(TAG_REQUIRES, "238.1.100.0"),
                     u8_property(TAG_BYTE21, 1), text_property(TAG_TEXT22, "x")};
  full.entries.push_back({.directive = 3, .dir_type = 2, .dir_item_length = 0x1000});
  for (const Item& item : items) {
    if (item.name == "trailer32") continue;  // fails its check; the rest pass
    full.entries.push_back({.dir_type = item.type, .dir_attr = item.attr, .data = item.data});
  }
  full.entries.push_back({.directive = 4, .dir_type = 0x40, .data = {9, 9}});

  Package small;
  small.properties = {text_property(TAG_VERSION, "1.0"), u16_list_property(TAG_DEVICE_IDS, {1})};
  small.directive_size = 4;
  small.record_size = 24;
  small.entries.push_back({.dir_type = 0x30, .data = {1, 2, 3}});
  small.entries.push_back({.dir_type = 0x31, .dir_ordinal = 1, .data = {4}});

  Package odd = small;
  odd.directive_size = 1;
  odd.record_size = 30;
  odd.trailer_length = 12;
  odd.manifest_gap = {0, 0, 0, 0};
  odd.entries[0].record_tail = {7, 7};

  Package dup = small;
  dup.entries.push_back({.dir_type = 0x30, .data = {5}});

  const std::vector<std::pair<std::string, Package>> packages = {
      {"full", full}, {"small", small}, {"odd", odd}, {"dup", dup}};
  for (const auto& [name, package] : packages) {
    ok &= write(root / "validate", name, build_package(package));
    ok &= write(root / "record", name, build_package(package));
    ok &= write(root / "read", name, build_package(package));
    Package wrapped = package;
    wrapped.wrapper = Wrapper{.body = {1, 2, 3}};
    ok &= write(root / "read", name + "_wrapped", build_package(wrapped));
    ok &= write(root / "record", name + "_wrapped", build_package(wrapped));

    // Property seeds: tag, destination size, then the stream.
    const Bytes bytes = build_package(package);
    const uint32_t header_length = get_u32(bytes, 8);
    Bytes stream{TAG_VERSION, 255};
    stream.insert(stream.end(), bytes.begin() + 12, bytes.begin() + header_length);
    ok &= write(root / "property", name, stream);
  }
  if (!ok) {
    std::fprintf(stderr, "pkg_fuzz_seeds: cannot write under %s\n", root.string().c_str());
    return 1;
  }
  return 0;
}
