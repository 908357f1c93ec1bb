// Reading package files and checking the container.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "package/package.h"
#include "tests/package/pkg_test_util.h"
#include "tools/pkgbuild/package_builder.h"

namespace {

using pkg_test::Bytes;
using pkg_test::plain_package;
using pkg_test::view_of;
using pkgbuild::Entry;
using pkgbuild::Package;

// ---------------------------------------------------------------------------
// package_read

struct ReadCase {
  const char* name;
  std::function<Bytes()> file;  // null: the path does not exist
  int32_t status;
  size_t view_offset;           // checked on success
};

Bytes wrapped(pkgbuild::Wrapper w) {
  Package p = plain_package();
  p.wrapper = w;
  return pkgbuild::build_package(p);
}

const ReadCase kReadCases[] = {
    {"missing file", nullptr, TSYRETVAL_FILE_OPEN_FAILURE, 0},
    {"empty file", [] { return Bytes{}; }, TSYRETVAL_INVALID_LENGTH, 0},
    {"11 bytes", [] { Bytes b = pkgbuild::build_package(plain_package()); b.resize(11); return b; },
     TSYRETVAL_INVALID_LENGTH, 0},
    {"plain package", [] { return pkgbuild::build_package(plain_package()); }, TSYRETVAL_SUCCESS, 0},
    {"magic not PKG0",
     [] { Package p = plain_package(); p.overrides.magic = 0x31474B50; return pkgbuild::build_package(p); },
     TSYRETVAL_INVALID_SIGNATURE, 0},
    {"header_length 11",
     [] { Package p = plain_package(); p.overrides.header_length = 11; return pkgbuild::build_package(p); },
     TSYRETVAL_INVALID_FILE_HEADER, 0},
    {"wrapped", [] { return wrapped({.body = Bytes(9, 0xAB)}); }, TSYRETVAL_SUCCESS, 32},
    {"wrapper CRC wrong", [] { return wrapped({.crc = 0x12345678}); }, TSYRETVAL_INVALID_CHECKSUM, 0},
    {"wrapper_length beyond the file", [] { return wrapped({.wrapper_length = 0xFFFF}); },
     TSYRETVAL_INVALID_FILE_HEADER, 0},
    {"wrapper_length 22 cannot hold its own CRC", [] { return wrapped({.wrapper_length = 22}); },
     TSYRETVAL_INVALID_FILE_HEADER, 0},
    {"wrapper_length 0", [] { return wrapped({.wrapper_length = 0}); }, TSYRETVAL_INVALID_FILE_HEADER, 0},
    {"wrapper version 2 is no wrapper", [] { return wrapped({.version = 2}); }, TSYRETVAL_INVALID_SIGNATURE, 0},
    {"35 bytes with the GUID are no wrapper",
     [] { Bytes b = wrapped({}); b.resize(35); return b; }, TSYRETVAL_INVALID_SIGNATURE, 0},
    {"wrapped package with a bad header",
     [] {
       Package p = plain_package();
       p.wrapper = pkgbuild::Wrapper{};
       p.overrides.trailer_length = 0x7FFFFFFF;
       return pkgbuild::build_package(p);
     },
     TSYRETVAL_INVALID_FILE_HEADER, 0},
};

TEST(PackageRead, Cases) {
  pkg_test::TempDir dir;
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.file("missing.pkg");
    Bytes bytes;
    if (c.file) {
      bytes = c.file();
      path = dir.write(std::string(c.name) + ".pkg", bytes);
    }
    PackageBuffer buf;
    EXPECT_EQ(package_read(path.c_str(), &buf), c.status);
    if (c.status == TSYRETVAL_SUCCESS) {
      EXPECT_EQ(Bytes(buf.bytes.begin(), buf.bytes.end()), bytes);
      EXPECT_EQ(buf.view_offset, c.view_offset);
      EXPECT_EQ(buf.view_length, bytes.size() - c.view_offset);
    } else {
      EXPECT_TRUE(buf.bytes.empty());
    }
  }
}

TEST(PackageRead, DirectoryIsNotAPackage) {
  pkg_test::TempDir dir;
  std::filesystem::create_directory(dir.path() / "folder.pkg");
  PackageBuffer buf;
  EXPECT_EQ(package_read(dir.file("folder.pkg").c_str(), &buf), TSYRETVAL_INVALID_LENGTH);
}

// ---------------------------------------------------------------------------
// Header, manifest and entry readers

TEST(PackageHeaders, CheckHeaderAndManifest) {
  struct Case {
    const char* name;
    std::function<void(Package&)> change;
    int32_t header;    // package_check_header
    int32_t manifest;  // package_read_manifest
  };
  const Case cases[] = {
      {"well formed", [](Package&) {}, TSYRETVAL_SUCCESS, TSYRETVAL_SUCCESS},
      {"trailer longer than the rest", [](Package& p) { p.overrides.trailer_length = 0x10000; },
       TSYRETVAL_INVALID_FILE_HEADER, TSYRETVAL_INVALID_FILE_HEADER},
      {"header_length beyond the view", [](Package& p) { p.overrides.header_length = 0x10000; },
       TSYRETVAL_INVALID_FILE_HEADER, TSYRETVAL_INVALID_FILE_HEADER},
      {"manifest magic", [](Package& p) { p.overrides.manifest_magic = 0x316E614D; },
       TSYRETVAL_SUCCESS, TSYRETVAL_INVALID_SIGNATURE},
      {"table_offset beyond the trailer", [](Package& p) { p.overrides.table_offset = 0x10000; },
       TSYRETVAL_SUCCESS, TSYRETVAL_INVALID_MANIFEST},
      {"no room for the manifest header",
       [](Package& p) {
         p.entries.clear();
         p.trailer_length = 12;  // 20 bytes of manifest, then the trailer takes 8 of them
         p.overrides.trailer_length = 20;
       },
       TSYRETVAL_SUCCESS, TSYRETVAL_INVALID_MANIFEST},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Package p = plain_package();
    c.change(p);
    const Bytes b = pkgbuild::build_package(p);
    PackageHeader h;
    ManifestHeader m;
    EXPECT_EQ(package_check_header(view_of(b), &h), c.header);
    EXPECT_EQ(package_read_manifest(view_of(b), &m), c.manifest);
  }
  const Bytes b = pkgbuild::build_package(plain_package());
  EXPECT_EQ(package_check_header(view_of(b).first(11), nullptr), TSYRETVAL_INVALID_LENGTH);
  EXPECT_EQ(package_read_manifest(view_of(b).first(11), nullptr), TSYRETVAL_INVALID_LENGTH);
}

TEST(PackageEntries, ReadsKeptBytesZeroFilled) {
  Package p;
  p.directive_size = 2;
  p.record_size = 30;
  p.entries.push_back({.directive = 7, .directive_rest = {0xEE}, .dir_type = 0x30, .dir_ordinal = 1,
                       .dir_ext = 2, .dir_attr = 1, .data = Bytes{9, 9}, .data_crc32 = 0xCAFEF00D,
                       .record_tail = {0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD}});
  p.entries.push_back({.dir_type = 0x31, .data = Bytes{1}});
  pkgbuild::Layout layout;
  const Bytes b = pkgbuild::build_package(p, &layout);

  uint32_t count = 0;
  ASSERT_EQ(package_item_count(view_of(b), &count), TSYRETVAL_SUCCESS);
  EXPECT_EQ(count, 2u);

  PackageEntry e[3];
  std::memset(e, 0x55, sizeof e);
  ASSERT_EQ(package_read_entries(view_of(b), 0, 3, e), 2);
  EXPECT_EQ(e[0].directive(), 7);
  EXPECT_EQ(e[0].directive_block[1], 0xEE);
  for (size_t i = 2; i < 64; ++i) EXPECT_EQ(e[0].directive_block[i], 0) << i;
  EXPECT_EQ(e[0].record.dir_type, 0x30);
  EXPECT_EQ(e[0].record.dir_ordinal, 1);
  EXPECT_EQ(e[0].record.dir_ext, 2);
  EXPECT_EQ(e[0].record.dir_attr, 1);
  EXPECT_EQ(e[0].record.data_offset, layout.data_offsets[0]);
  EXPECT_EQ(e[0].record.data_length, 2u);
  EXPECT_EQ(e[0].record.data_crc32, 0xCAFEF00Du);
  EXPECT_EQ(e[1].record.dir_type, 0x31);

  EXPECT_EQ(package_read_entries(view_of(b), 1, 5, e), 1);
  EXPECT_EQ(e[0].record.dir_type, 0x31);
  EXPECT_EQ(package_read_entries(view_of(b), 2, 1, e), 0);
  EXPECT_EQ(package_read_entries(view_of(b), 0, 0, e), 0);

  // Short records: the missing fields read as zero.
  Package shorter = p;
  shorter.record_size = 8;
  const Bytes s = pkgbuild::build_package(shorter);
  ASSERT_EQ(package_read_entries(view_of(s), 0, 1, e), 1);
  EXPECT_EQ(e[0].record.dir_type, 0x30);
  EXPECT_EQ(e[0].record.dir_attr, 1);
  EXPECT_EQ(e[0].record.data_offset, 0u);
  EXPECT_EQ(e[0].record.data_crc32, 0u);
}

TEST(PackageEntries, Failures) {
  Package p = plain_package();
  p.overrides.entry_count = 3;  // the second entry would run into the trailer
  Bytes b = pkgbuild::build_package(p);
  PackageEntry e[3];
  EXPECT_EQ(package_read_entries(view_of(b), 0, 1, e), 1);
  EXPECT_EQ(package_read_entries(view_of(b), 0, 3, e), TSYRETVAL_INVALID_MANIFEST);

  p = plain_package();
  p.overrides.record_size = 0x100000;
  b = pkgbuild::build_package(p);
  EXPECT_EQ(package_read_entries(view_of(b), 0, 1, e), TSYRETVAL_INVALID_MANIFEST);

  p = plain_package();
  p.overrides.manifest_magic = 0;
  b = pkgbuild::build_package(p);
  EXPECT_EQ(package_read_entries(view_of(b), 0, 1, e), TSYRETVAL_INVALID_SIGNATURE);
}

TEST(PackageFindItem, FirstInTableOrder) {
  Package p;
  p.entries.push_back({.directive = 3, .dir_type = 2, .dir_item_length = 100});
  p.entries.push_back({.directive = 1, .dir_type = 0x30, .data = Bytes{1}});
  p.entries.push_back({.directive = 2, .dir_type = 0x30, .data = Bytes{2}});
  p.entries.push_back({.dir_type = 0x30, .dir_ordinal = 1, .data = Bytes{3}});
  const Bytes b = pkgbuild::build_package(p);

  PackageEntry e;
  ASSERT_EQ(package_find_item(view_of(b), 0x30, 0, 0, &e), TSYRETVAL_SUCCESS);
  EXPECT_EQ(e.directive(), 1);
  ASSERT_EQ(package_find_item(view_of(b), 0x30, 1, 0, &e), TSYRETVAL_SUCCESS);
  EXPECT_EQ(e.record.data_length, 1u);
  ASSERT_EQ(package_find_item(view_of(b), 2, 0, 0, &e), TSYRETVAL_SUCCESS);
  EXPECT_EQ(e.record.dir_item_length, 100u);
  EXPECT_EQ(package_find_item(view_of(b), 0x30, 0, 1, &e), TSYRETVAL_ITEM_NOT_FOUND);

  // A table that cannot be read to the end fails the search that needs it.
  Package broken = p;
  broken.overrides.entry_count = 40;
  const Bytes c = pkgbuild::build_package(broken);
  EXPECT_EQ(package_find_item(view_of(c), 0x30, 0, 0, &e), TSYRETVAL_SUCCESS);
  EXPECT_EQ(package_find_item(view_of(c), 0x99, 0, 0, &e), TSYRETVAL_INVALID_MANIFEST);
  EXPECT_EQ(package_find_item(view_of(c).first(11), 0x30, 0, 0, &e), TSYRETVAL_INVALID_LENGTH);
}

// ---------------------------------------------------------------------------
// package_validate

struct ValidateCase {
  const char* name;
  std::function<Package()> make;
  int32_t status;
  int32_t index;
  std::function<void(Bytes&, const pkgbuild::Layout&)> patch = {};  // after building
};

Package with(std::function<void(Package&)> change) {
  Package p = plain_package();
  change(p);
  return p;
}

Package versions(std::vector<std::pair<uint8_t, std::string>> props) {
  Package p = plain_package();
  p.properties.clear();
  for (auto& [tag, text] : props) p.properties.push_back(pkgbuild::text_property(tag, text));
  return p;
}

Entry plain_entry(uint16_t type, Bytes data) { return {.dir_type = type, .data = std::move(data)}; }

Bytes big(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 9));
  return b;
}

const ValidateCase kValidateCases[] = {
    {"well formed", [] { return plain_package(); }, TSYRETVAL_SUCCESS, -1},
    {"no entries", [] { return with([](Package& p) { p.entries.clear(); p.data_tail = Bytes(64, 0); }); },
     TSYRETVAL_SUCCESS, -1},

    // Package header: every failure is reported as a bad file header.
    {"magic not PKG0", [] { return with([](Package& p) { p.overrides.magic = 0; }); },
     TSYRETVAL_INVALID_FILE_HEADER, -1},
    {"header_length 11", [] { return with([](Package& p) { p.overrides.header_length = 11; }); },
     TSYRETVAL_INVALID_FILE_HEADER, -1},
    {"trailer longer than the package",
     [] { return with([](Package& p) { p.overrides.trailer_length = 0xFFFFFFFF; }); },
     TSYRETVAL_INVALID_FILE_HEADER, -1},

    // Property stream framing.
    {"property runs past the trailer",
     [] { return with([](Package& p) { p.properties[0].length = 0xFFFF; }); },
     TSYRETVAL_INVALID_PROP_STREAM, -1},
    {"property runs into the manifest",
     [] { return with([](Package& p) { p.properties[1].length = 4; }); },
     TSYRETVAL_INVALID_PROP_STREAM, -1},
    {"record head cut off by the manifest",
     [] { return with([](Package& p) { p.stream_tail = {1, 0}; }); }, TSYRETVAL_INVALID_PROP_STREAM, -1},
    {"end record cut off by the manifest",
     [] { return with([](Package& p) { p.stream_tail = {0}; }); }, TSYRETVAL_INVALID_PROP_STREAM, -1},
    {"end record, then anything",
     [] { return with([](Package& p) { p.stream_tail = {0, 0, 0, 0xFF, 0xFF}; }); }, TSYRETVAL_SUCCESS, -1},
    {"empty property stream", [] { return with([](Package& p) { p.properties.clear(); }); },
     TSYRETVAL_SUCCESS, -1},

    // Prerequisite rule between tags 9 and 20.
    {"required version lower", [] { return versions({{9, "1.0.0.1"}, {20, "1.0.0.0"}}); }, TSYRETVAL_SUCCESS, -1},
    {"required version of another length", [] { return versions({{9, "1.0.0.1"}, {20, "1.0.0.10"}}); },
     TSYRETVAL_INVALID_PREREQUISITE, -1},
    {"required version equal", [] { return versions({{9, "1.0.0.1"}, {20, "1.0.0.1"}}); },
     TSYRETVAL_INVALID_PREREQUISITE, -1},
    {"required version higher", [] { return versions({{20, "2.0.0.0"}, {9, "1.0.0.1"}}); },
     TSYRETVAL_INVALID_PREREQUISITE, -1},
    {"bytes compare unsigned", [] { return versions({{9, "1.0.\xC1"}, {20, "1.0.1"}}); }, TSYRETVAL_SUCCESS, -1},
    {"both empty", [] { return versions({{9, ""}, {20, ""}}); }, TSYRETVAL_INVALID_PREREQUISITE, -1},
    {"only the required version", [] { return versions({{20, "9.9"}}); }, TSYRETVAL_SUCCESS, -1},
    {"last version record counts", [] { return versions({{9, "1.0"}, {20, "1.1"}, {9, "1.2"}}); },
     TSYRETVAL_SUCCESS, -1},
    {"last required record counts", [] { return versions({{9, "1.1"}, {20, "1.0"}, {20, "1.2"}}); },
     TSYRETVAL_INVALID_PREREQUISITE, -1},
    {"end record hides the required version", [] { return versions({{9, "1.0"}, {0, ""}, {20, "2.0"}}); },
     TSYRETVAL_SUCCESS, -1},

    // Manifest header and table.
    {"manifest magic", [] { return with([](Package& p) { p.overrides.manifest_magic = 0; }); },
     TSYRETVAL_INVALID_MANIFEST, -1},
    {"table beyond the trailer", [] { return with([](Package& p) { p.overrides.table_offset = 0x100000; }); },
     TSYRETVAL_INVALID_MANIFEST, -1},
    {"record_size beyond the package",
     [] { return with([](Package& p) { p.overrides.record_size = 0x100000; }); }, TSYRETVAL_INVALID_MANIFEST, -1},
    {"directive_size beyond the package",
     [] { return with([](Package& p) { p.overrides.directive_size = 0x100000; }); },
     TSYRETVAL_INVALID_MANIFEST, -1},
    {"more entries than the table holds",
     [] { return with([](Package& p) { p.overrides.entry_count = 1000; }); }, TSYRETVAL_INVALID_MANIFEST, 1},
    {"a huge count with empty entries",
     [] {
       return with([](Package& p) {
         p.entries.clear();
         p.overrides.entry_count = 0xFFFFFFFF;
         p.overrides.directive_size = 0;
         p.overrides.record_size = 0;
       });
     },
     TSYRETVAL_ZERO_LENGTH_ITEM, 0},

    // Per-entry rules, in their order.
    {"image type with directive 4",
     [] { return with([](Package& p) { p.entries.push_back({.directive = 4, .dir_type = 61, .data = {1}}); }); },
     TSYRETVAL_INVALID_DIRECTIVE, 1},
    {"directive 4 on another type skips the data check",
     [] {
       return with([](Package& p) {
         p.entries.push_back({.directive = 4, .dir_type = 0x40, .data = {1, 2}, .data_crc32 = 7});
       });
     },
     TSYRETVAL_SUCCESS, -1},
    {"directive 4 does not excuse data outside the package",
     [] {
       return with([](Package& p) {
         p.entries.push_back({.directive = 4, .dir_type = 0x40, .data = {1, 2}, .data_offset = 0x7FFFFFFF});
       });
     },
     TSYRETVAL_INVALID_MANIFEST, 1},
    {"zero item length with directive 3",
     [] { return with([](Package& p) { p.entries.push_back({.directive = 3, .dir_type = 0x41}); }); },
     TSYRETVAL_SUCCESS, -1},
    {"zero item length",
     [] { return with([](Package& p) { p.entries.push_back({.dir_type = 0x41}); }); },
     TSYRETVAL_ZERO_LENGTH_ITEM, 1},
    {"third entry longer than its item",
     [] {
       return with([](Package& p) {
         p.entries.push_back(plain_entry(0x31, {1, 2}));
         p.entries.push_back({.dir_type = 0x32, .dir_item_length = 3, .data = {1, 2, 3, 4}});
       });
     },
     TSYRETVAL_INVALID_DATA_LENGTH, 2},
    {"data offset beyond the covered area",
     [] { return with([](Package& p) { p.entries[0].data_offset = 0x10000; }); }, TSYRETVAL_INVALID_MANIFEST, 0},
    {"data running into the trailer",
     [] {
       return with([](Package& p) {
         p.entries[0].data_length = 12;
         p.entries[0].dir_item_length = 12;
       });
     },
     TSYRETVAL_INVALID_MANIFEST, 0},
    {"data may overlap the header",
     [] { return with([](Package& p) { p.entries.push_back({.dir_type = 0x44, .data_offset = 0, .data_length = 12}); }); },
     TSYRETVAL_SUCCESS, -1},
    {"entry CRC wrong", [] { return with([](Package& p) { p.entries[0].data_crc32 = 0; }); },
     TSYRETVAL_INVALID_CHECKSUM, 0},
    {"signed header image", [] {
       return with([](Package& p) {
         p.entries.push_back({.dir_type = 4, .data = pkgbuild::header_image({.image_code = 5}, pkg_test::signer())});
       });
     },
     TSYRETVAL_SUCCESS, -1},
    {"item failure reported with its index", [] {
       return with([](Package& p) {
         p.entries.push_back({.dir_type = 4, .data = pkgbuild::header_image({.image_code = 21}, pkg_test::signer())});
       });
     },
     TSYRETVAL_INVALID_TYPE_PARAMETER, 1},

    // Duplicates.
    {"same identity and directive, records differ",
     [] { return with([](Package& p) { p.entries.push_back(plain_entry(0x30, {1, 2})); }); },
     TSYRETVAL_DUPLICATE_ITEM, 1},
    {"same identity, other directive",
     [] {
       return with([](Package& p) {
         Entry e = plain_entry(0x30, {5});
         e.directive = 9;
         p.entries.push_back(e);
       });
     },
     TSYRETVAL_SUCCESS, -1},
    {"identity is the whole triple",
     [] {
       return with([](Package& p) {
         p.entries.push_back({.dir_type = 0x30, .dir_ordinal = 1, .data = {2}});
         p.entries.push_back({.dir_type = 0x30, .dir_ext = 1, .data = {3}});
         p.entries.push_back({.dir_type = 0x30, .dir_ordinal = 1, .dir_ext = 1, .data = {4}});
       });
     },
     TSYRETVAL_SUCCESS, -1},

    // Package CRC.
    {"package CRC wrong", [] { return with([](Package& p) { p.overrides.package_crc = 1; }); },
     TSYRETVAL_INVALID_CHECKSUM, -1},
    {"trailer 0 bytes: no package CRC",
     [] { return with([](Package& p) { p.trailer_length = 0; }); }, TSYRETVAL_SUCCESS, -1,
     [](Bytes& b, const pkgbuild::Layout&) { b[15] ^= 0x01; }},
    {"trailer 3 bytes: no package CRC",
     [] { return with([](Package& p) { p.trailer_length = 3; p.trailer_bytes = {9, 9, 9}; }); },
     TSYRETVAL_SUCCESS, -1},
    {"long trailer",
     [] { return with([](Package& p) { p.trailer_length = 40; p.trailer_bytes = Bytes(36, 0x77); }); },
     TSYRETVAL_SUCCESS, -1},
    {"byte after the covered area changes nothing",
     [] { return with([](Package& p) { p.trailer_length = 8; }); }, TSYRETVAL_SUCCESS, -1,
     [](Bytes& b, const pkgbuild::Layout& l) { b[l.package_length - 8] ^= 0xFF; }},
    {"byte in the property stream changed",
     [] { return plain_package(); }, TSYRETVAL_INVALID_CHECKSUM, -1,
     [](Bytes& b, const pkgbuild::Layout&) { b[15] ^= 0x01; }},

    // Large items: their CRCs are reused for the package CRC.
    {"large items",
     [] {
       return with([](Package& p) {
         p.entries.push_back(plain_entry(0x31, big(70000, 1)));
         p.entries.push_back(plain_entry(0x32, big(100, 2)));
         p.entries.push_back(plain_entry(0x33, big(200000, 3)));
         p.data_tail = big(5000, 4);
       });
     },
     TSYRETVAL_SUCCESS, -1},
    {"large item, byte between items changed",
     [] {
       return with([](Package& p) {
         p.entries.push_back(plain_entry(0x31, big(70000, 1)));
         p.entries.push_back({.dir_type = 0x32, .data = big(70000, 2), .gap = Bytes(10, 0)});
       });
     },
     TSYRETVAL_INVALID_CHECKSUM, -1,
     [](Bytes& b, const pkgbuild::Layout& l) { b[l.data_offsets[2] - 5] ^= 0x10; }},
    {"large item without entry CRC, byte changed",
     [] {
       return with([](Package& p) {
         p.entries.push_back({.dir_type = 0x31, .dir_attr = 1, .data = big(70000, 1)});
       });
     },
     TSYRETVAL_INVALID_CHECKSUM, -1,
     [](Bytes& b, const pkgbuild::Layout& l) { b[l.data_offsets[1] + 40000] ^= 0x10; }},
};

TEST(PackageValidate, Cases) {
  for (const ValidateCase& c : kValidateCases) {
    SCOPED_TRACE(c.name);
    pkgbuild::Layout layout;
    Bytes b = pkgbuild::build_package(c.make(), &layout);
    if (c.patch) c.patch(b, layout);
    int32_t index = 12345;
    EXPECT_EQ(package_validate(view_of(b), &index), c.status) << status_name(package_validate(view_of(b), nullptr));
    EXPECT_EQ(index, c.index);
  }
}

TEST(PackageValidate, OverlappingLargeRanges) {
  // Entries whose data ranges overlap each other: the package CRC must still
  // come out right whichever ranges it reuses.
  Package p = plain_package();
  p.entries.push_back(plain_entry(0x31, big(300000, 1)));
  pkgbuild::Layout layout;
  Bytes first = pkgbuild::build_package(p, &layout);
  const uint32_t start = static_cast<uint32_t>(layout.data_offsets[1]);
  p.entries.push_back({.dir_type = 0x32, .data_offset = start + 1000, .data_length = 200000});
  p.entries.push_back({.dir_type = 0x33, .data_offset = start + 250000, .data_length = 50000});
  p.entries.push_back({.dir_type = 0x34, .data_offset = start, .data_length = 300000});
  // The table grows by three entries, so the data moves; lay out again with
  // the offsets that the grown table gives.
  const uint32_t shift = 3 * 88;
  for (size_t i = 2; i < p.entries.size(); ++i) *p.entries[i].data_offset += shift;
  const Bytes b = pkgbuild::build_package(p, &layout);
  ASSERT_EQ(layout.data_offsets[1], start + shift);
  int32_t index = 0;
  EXPECT_EQ(package_validate(view_of(b), &index), TSYRETVAL_SUCCESS) << index;

}

TEST(PackageValidate, EntryIndexIsOptional) {
  const Bytes b = pkgbuild::build_package(with([](Package& p) { p.entries[0].data_crc32 = 0; }));
  EXPECT_EQ(package_validate(view_of(b), nullptr), TSYRETVAL_INVALID_CHECKSUM);
}

// ---------------------------------------------------------------------------
// The duplicate check against a plain scan of the table.

// The rule written out as a scan: for each entry, the first entry with the
// same identity in table order, found with package_find_item.
int32_t duplicate_by_scan(std::span<const uint8_t> view, int32_t* index) {
  uint32_t count = 0;
  if (package_item_count(view, &count) != TSYRETVAL_SUCCESS) return TSYRETVAL_FAILURE;
  for (uint32_t i = 0; i < count; ++i) {
    PackageEntry e, first;
    if (package_read_entries(view, i, 1, &e) != 1) return TSYRETVAL_FAILURE;
    const int32_t rc = package_find_item(view, e.record.dir_type, e.record.dir_ordinal, e.record.dir_ext, &first);
    if (rc != TSYRETVAL_SUCCESS) return rc;
    if (std::memcmp(&first.record, &e.record, sizeof e.record) != 0 && first.directive() == e.directive()) {
      *index = static_cast<int32_t>(i);
      return TSYRETVAL_DUPLICATE_ITEM;
    }
  }
  *index = -1;
  return TSYRETVAL_SUCCESS;
}

struct TableRow {
  uint16_t type, ordinal, ext;
  uint8_t directive;
  uint32_t item_length;  // the record's dir_item_length: records differ by it
};

Package table_package(const std::vector<TableRow>& rows) {
  Package p;
  for (const TableRow& r : rows) {
    p.entries.push_back({.directive = r.directive, .dir_type = r.type, .dir_ordinal = r.ordinal,
                         .dir_ext = r.ext, .dir_item_length = r.item_length});
    if (r.directive != 3) p.entries.back().data = {static_cast<uint8_t>(r.type)};
  }
  // Equal rows must give byte-identical records, so entries with the same
  // settings share one copy of their data.
  return p;
}

void expect_same_as_scan(const std::vector<TableRow>& rows, int32_t expected_status, int32_t expected_index) {
  pkgbuild::Package p = table_package(rows);
  // Point every entry with data at the first copy of the same byte.
  pkgbuild::Layout layout;
  pkgbuild::build_package(p, &layout);
  for (size_t i = 0; i < rows.size(); ++i) {
    if (p.entries[i].data.empty()) continue;
    for (size_t j = 0; j < i; ++j) {
      if (!p.entries[j].data.empty() && p.entries[j].data == p.entries[i].data) {
        p.entries[i].data_offset = static_cast<uint32_t>(layout.data_offsets[j]);
        break;
      }
    }
  }
  const Bytes b = pkgbuild::build_package(p);
  int32_t scan_index = 99, index = 99;
  const int32_t scan = duplicate_by_scan(view_of(b), &scan_index);
  EXPECT_EQ(package_validate(view_of(b), &index), scan);
  EXPECT_EQ(index, scan_index);
  if (expected_status != TSYRETVAL_FAILURE) {
    EXPECT_EQ(scan, expected_status);
    EXPECT_EQ(scan_index, expected_index);
  }
}

TEST(PackageDuplicates, SameAsTableScan) {
  struct Case {
    const char* name;
    std::vector<TableRow> rows;
    int32_t status;
    int32_t index;
  };
  const Case cases[] = {
      {"later pair differs but the first entry has another directive",
       {{0x30, 0, 0, 0, 1}, {0x30, 0, 0, 5, 2}, {0x30, 0, 0, 5, 3}}, TSYRETVAL_SUCCESS, -1},
      {"equal copies, then a different one",
       {{0x30, 0, 0, 0, 1}, {0x30, 0, 0, 0, 1}, {0x31, 0, 0, 0, 1}, {0x30, 0, 0, 0, 2}}, TSYRETVAL_DUPLICATE_ITEM, 3},
      {"first of the identity is not the first row",
       {{0x31, 0, 0, 0, 1}, {0x30, 0, 0, 5, 1}, {0x30, 0, 0, 0, 2}, {0x30, 0, 0, 5, 3}}, TSYRETVAL_DUPLICATE_ITEM, 3},
      {"triples that share two of three fields",
       {{0x51, 2, 3, 0, 1}, {0x51, 3, 2, 0, 2}, {0x52, 1, 3, 0, 3}, {0x53, 2, 1, 0, 4}, {0x51, 2, 4, 0, 5}}, TSYRETVAL_SUCCESS, -1},
      {"byte-identical records", {{0x30, 0, 0, 0, 1}, {0x31, 0, 0, 0, 1}, {0x30, 0, 0, 0, 1}}, TSYRETVAL_SUCCESS, -1},
      {"zero-length entries",
       {{0x30, 0, 0, 3, 0}, {0x30, 0, 0, 3, 0}, {0x30, 0, 0, 3, 7}}, TSYRETVAL_DUPLICATE_ITEM, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_same_as_scan(c.rows, c.status, c.index);
  }

  // Random small tables over few identities, directives and records.
  std::mt19937 rng(20261211);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    std::vector<TableRow> rows(1 + rng() % 10);
    for (TableRow& r : rows) {
      r = {static_cast<uint16_t>(0x30 + rng() % 2), static_cast<uint16_t>(rng() % 2),
           static_cast<uint16_t>(rng() % 2), static_cast<uint8_t>(rng() % 2 ? 0 : 5),
           static_cast<uint32_t>(1 + rng() % 2)};
    }
    expect_same_as_scan(rows, TSYRETVAL_FAILURE, 0);
  }
}

}  // namespace
