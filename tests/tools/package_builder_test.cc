// Tests of the package builder: the layout it writes, its defaults and
// overrides, and that each item generator's knobs break exactly one check.
#include "tools/pkgbuild/package_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "package/package.h"

// Images signed with the development key verify only when it is the key
// compiled into the program.
#if VREX_DEVELOPMENT_KEY_COMPILED_IN
#define REQUIRE_DEVELOPMENT_KEY() (void)0
#else
#define REQUIRE_DEVELOPMENT_KEY() GTEST_SKIP() << "the compiled-in key is not the development key"
#endif

namespace {

using pkgbuild::Bytes;
using pkgbuild::get_u16;
using pkgbuild::get_u32;

const pkgbuild::Signer& signer() {
  static const pkgbuild::Signer s = pkgbuild::Signer::load(VREX_SOURCE_DIR "/keys/development.key.pem");
  return s;
}

TEST(PackageBuilder, SignerLoadsTheDevelopmentKeyAndReportsAMissingOne) {
  EXPECT_TRUE(signer().valid());
  std::string error;
  pkgbuild::Signer missing = pkgbuild::Signer::load("/nonexistent/key.pem", &error);
  EXPECT_FALSE(missing.valid());
  EXPECT_NE(error.find("/nonexistent/key.pem"), std::string::npos) << error;
  uint8_t signature[256];
  EXPECT_FALSE(missing.sign(Bytes{1, 2, 3}, signature));
}

TEST(PackageBuilder, Crc32AgreesWithTheCheckValueAndTheProgram) {
  const std::string check = "123456789";
  const Bytes bytes(check.begin(), check.end());
  EXPECT_EQ(pkgbuild::crc32(bytes), 0xCBF43926u);
  const Bytes image = pkgbuild::header_image({}, signer());
  EXPECT_EQ(pkgbuild::crc32(image), ::crc32(0xFFFFFFFFu, image.data(), image.size()));
}

// The layout of a package with gaps everywhere, read back field by field.
TEST(PackageBuilder, LayoutPutsEveryPartWhereTheHeaderFieldsSay) {
  pkgbuild::Package p;
  p.properties = {pkgbuild::text_property(pkgbuild::TAG_VERSION, "1.2"),
                  pkgbuild::u16_list_property(pkgbuild::TAG_DEVICE_IDS, {0x7A81, 0x7A82})};
  p.stream_tail = {0, 0, 0};  // a tag 0 record
  p.manifest_gap = {0xAA, 0xBB};
  p.directive_size = 8;
  p.record_size = 28;
  p.entries.push_back({.directive = 3, .directive_rest = {9, 9}, .dir_type = 30, .dir_ordinal = 1, .dir_ext = 2,
                       .dir_attr = 0x10, .data = {1, 2, 3}, .gap = {0xCC}, .record_tail = {7}});
  p.entries.push_back({.dir_type = 2, .dir_item_length = 0x1000});
  p.data_tail = {0xDD};
  p.trailer_length = 6;
  p.trailer_bytes = {0x55};
  pkgbuild::Layout layout;
  const Bytes b = pkgbuild::build_package(p, &layout);

  const size_t stream = 3 + 3 + 3 + 4 + 3;
  EXPECT_EQ(get_u32(b, 0), pkgbuild::kPackageMagic);
  EXPECT_EQ(get_u32(b, 4), 6u);
  ASSERT_EQ(get_u32(b, 8), 12 + stream);
  EXPECT_EQ(b[12], pkgbuild::TAG_VERSION);
  EXPECT_EQ(get_u16(b, 13), 3);
  EXPECT_EQ(b[12 + stream - 3], 0);

  const size_t m = 12 + stream;
  EXPECT_EQ(get_u32(b, m), pkgbuild::kManifestMagic);
  EXPECT_EQ(get_u32(b, m + 4), 22u);
  EXPECT_EQ(get_u32(b, m + 8), 2u);
  EXPECT_EQ(get_u32(b, m + 12), 8u);
  EXPECT_EQ(get_u32(b, m + 16), 28u);

  const size_t table = m + 22;
  EXPECT_EQ(Bytes(b.begin() + static_cast<long>(table), b.begin() + static_cast<long>(table + 8)),
            (Bytes{3, 9, 9, 0, 0, 0, 0, 0}));
  const size_t rec = table + 8;
  EXPECT_EQ(get_u16(b, rec), 30);
  EXPECT_EQ(get_u16(b, rec + 2), 1);
  EXPECT_EQ(get_u16(b, rec + 4), 2);
  EXPECT_EQ(get_u16(b, rec + 6), 0x10);
  const size_t data = table + 2 * 36 + 1;  // after the gap byte
  EXPECT_EQ(get_u32(b, rec + 8), data);
  EXPECT_EQ(get_u32(b, rec + 12), 3u);  // item length defaults to the data length
  EXPECT_EQ(get_u32(b, rec + 16), 3u);
  EXPECT_EQ(get_u32(b, rec + 20), pkgbuild::crc32(Bytes{1, 2, 3}));
  EXPECT_EQ(b[rec + 24], 7);
  EXPECT_EQ(b[data - 1], 0xCC);
  EXPECT_EQ(b[data], 1);

  const size_t rec2 = table + 36 + 8;  // the data-less entry
  EXPECT_EQ(get_u32(b, rec2 + 8), 0u);
  EXPECT_EQ(get_u32(b, rec2 + 12), 0x1000u);
  EXPECT_EQ(get_u32(b, rec2 + 16), 0u);

  EXPECT_EQ(b[data + 3], 0xDD);
  ASSERT_EQ(b.size(), data + 4 + 6);
  EXPECT_EQ(b[data + 4], 0x55);
  EXPECT_EQ(b[data + 5], 0x00);
  EXPECT_EQ(get_u32(b, b.size() - 4), pkgbuild::crc32(std::span<const uint8_t>(b).first(data + 4)));

  EXPECT_EQ(layout.header_length, m);
  EXPECT_EQ(layout.table_offset, 22u);
  EXPECT_EQ(layout.data_offsets, (std::vector<size_t>{data, 0}));
  EXPECT_EQ(layout.trailer_offset, data + 4);
  EXPECT_EQ(layout.package_length, b.size());
  EXPECT_EQ(package_validate(b, nullptr), TSYRETVAL_SUCCESS);
}

// Each override changes the one written value it names and nothing else.
TEST(PackageBuilder, OverridesChangeOnlyTheirField) {
  pkgbuild::Package base;
  base.entries.push_back({.dir_type = 30, .data = {1, 2, 3, 4}});
  const Bytes good = pkgbuild::build_package(base);
  const size_t m = get_u32(good, 8);
  const size_t rec = m + 20 + 64;
  struct Case {
    const char* name;
    std::function<void(pkgbuild::Package&)> change;
    size_t offset;
    uint32_t value;
  };
  const Case cases[] = {
      {"magic", [](auto& p) { p.overrides.magic = 1; }, 0, 1},
      {"trailer_length", [](auto& p) { p.overrides.trailer_length = 2; }, 4, 2},
      {"header_length", [](auto& p) { p.overrides.header_length = 3; }, 8, 3},
      {"manifest_magic", [](auto& p) { p.overrides.manifest_magic = 4; }, m, 4},
      {"table_offset", [](auto& p) { p.overrides.table_offset = 5; }, m + 4, 5},
      {"entry_count", [](auto& p) { p.overrides.entry_count = 6; }, m + 8, 6},
      {"directive_size", [](auto& p) { p.overrides.directive_size = 7; }, m + 12, 7},
      {"record_size", [](auto& p) { p.overrides.record_size = 8; }, m + 16, 8},
      {"package_crc", [](auto& p) { p.overrides.package_crc = 9; }, good.size() - 4, 9},
      {"data_offset", [](auto& p) { p.entries[0].data_offset = 10; }, rec + 8, 10},
      {"dir_item_length", [](auto& p) { p.entries[0].dir_item_length = 11; }, rec + 12, 11},
      {"data_length", [](auto& p) { p.entries[0].data_length = 2, p.entries[0].dir_item_length = 4; }, rec + 16, 2},
      {"data_crc32", [](auto& p) { p.entries[0].data_crc32 = 13; }, rec + 20, 13},
  };
  for (const Case& c : cases) {
    pkgbuild::Package p = base;
    c.change(p);
    Bytes b = pkgbuild::build_package(p);
    ASSERT_EQ(b.size(), good.size()) << c.name;
    EXPECT_EQ(get_u32(b, c.offset), c.value) << c.name;
    // Apart from the field, only derived CRCs may differ.
    pkgbuild::put_u32(b, c.offset, get_u32(good, c.offset));
    if (c.offset != rec + 20) pkgbuild::put_u32(b, rec + 20, get_u32(good, rec + 20));
    pkgbuild::put_u32(b, b.size() - 4, get_u32(good, good.size() - 4));
    EXPECT_EQ(b, good) << c.name;
  }
}

// The default entry CRC covers the bytes the record points at.
TEST(PackageBuilder, DefaultEntryCrcFollowsTheRecordsRange) {
  pkgbuild::Package p;
  p.entries.push_back({.dir_type = 30, .data = {1, 2, 3, 4}, .data_length = 3});
  p.entries.push_back({.dir_type = 31, .data_offset = 0, .data_length = 2});
  pkgbuild::Layout layout;
  pkgbuild::build_package(p, &layout);
  p.entries[1].data_offset = static_cast<uint32_t>(layout.data_offsets[0] + 1);
  const Bytes b = pkgbuild::build_package(p);
  const size_t rec = get_u32(b, 8) + 20 + 64;
  EXPECT_EQ(get_u32(b, rec + 20), pkgbuild::crc32(Bytes{1, 2, 3}));
  EXPECT_EQ(get_u32(b, rec + 88 + 20), pkgbuild::crc32(Bytes{2, 3}));
  EXPECT_EQ(package_validate(b, nullptr), TSYRETVAL_SUCCESS);
}

TEST(PackageBuilder, ShortTrailerHasNoCrcAndRawPackagesStandAsGiven) {
  pkgbuild::Package p;
  p.trailer_length = 3;
  p.trailer_bytes = {1, 2, 3, 4, 5};
  const Bytes b = pkgbuild::build_package(p);
  EXPECT_EQ(Bytes(b.end() - 3, b.end()), (Bytes{1, 2, 3}));
  EXPECT_EQ(get_u32(b, 4), 3u);

  pkgbuild::Package raw;
  raw.raw = Bytes{'P', 'K', 'G'};
  raw.tail = {9};
  EXPECT_EQ(pkgbuild::build_package(raw), (Bytes{'P', 'K', 'G', 9}));
}

TEST(PackageBuilder, WrapperComesFirstWithItsLengthAndCrc) {
  pkgbuild::Package p;
  p.wrapper = pkgbuild::Wrapper{.body = Bytes(20, 0x11)};
  p.entries.push_back({.dir_type = 30, .data = Bytes(100, 0x22)});
  pkgbuild::Layout layout;
  const Bytes b = pkgbuild::build_package(p, &layout);
  ASSERT_EQ(layout.wrapper_length, 43u);
  EXPECT_TRUE(std::equal(pkgbuild::kWrapperGuid.begin(), pkgbuild::kWrapperGuid.end(), b.begin()));
  EXPECT_EQ(b[16], 1);
  EXPECT_EQ(get_u16(b, 17), 43);
  EXPECT_EQ(get_u32(b, 39), pkgbuild::crc32(std::span<const uint8_t>(b).first(39)));
  EXPECT_EQ(get_u32(b, 43), pkgbuild::kPackageMagic);

  PackageBuffer buffer;
  const std::string path = ::testing::TempDir() + "/wrapped.pkg";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
  ASSERT_EQ(package_read(path.c_str(), &buffer), TSYRETVAL_SUCCESS);
  EXPECT_EQ(buffer.view_offset, 43u);
  EXPECT_EQ(package_validate(buffer.view(), nullptr), TSYRETVAL_SUCCESS);
}

// Each generator's default passes its check; each knob breaks just one thing.
TEST(PackageBuilder, GeneratorKnobsEachBreakOneCheck) {
  REQUIRE_DEVELOPMENT_KEY();
  struct Case {
    const char* name;
    uint16_t type;
    uint16_t attr;
    std::function<Bytes()> make;
    int32_t expected;
  };
  using pkgbuild::Signature;
  const auto header = [](pkgbuild::HeaderImage h) { return [h] { return pkgbuild::header_image(h, signer()); }; };
  const auto trailer = [](pkgbuild::TrailerImage t) { return [t] { return pkgbuild::trailer_image(t, signer()); }; };
  const auto vpd = [](pkgbuild::VpdArea v) { return [v] { return pkgbuild::vpd_area(v); }; };
  const Case cases[] = {
      {"header image", 4, 0, header({.image_code = 5}), TSYRETVAL_SUCCESS},
      {"header image, 288 bytes", 4, 0, header({.body_length = 21}), TSYRETVAL_SUCCESS},
      {"header image, 287 bytes", 4, 0, header({.body_length = 20}), TSYRETVAL_INVALID_DATA_LENGTH},
      {"header image, given body", 10, 0, header({.image_code = 7, .body = Bytes(100, 0xAB)}), TSYRETVAL_SUCCESS},
      {"header image, wrong type", 3, 0, header({.image_code = 5}), TSYRETVAL_INVALID_TYPE_PARAMETER},
      {"header image, format", 4, 0, header({.format = 0x12}), TSYRETVAL_INVALID_FILE_HEADER},
      {"header image, magic", 4, 0, header({.magic = {'T', 'S', 'Y', 0}}), TSYRETVAL_INVALID_SIGNATURE},
      {"header image, corrupt signature", 4, 0, header({.signature = Signature::CORRUPT}),
       TSYRETVAL_INVALID_RSA_SIGNATURE},
      {"header image, unsigned", 4, 0, header({.signature = Signature::UNSIGNED}), TSYRETVAL_INVALID_RSA_SIGNATURE},
      {"header image, image CRC", 4, 0, header({.crc = 1}), TSYRETVAL_INVALID_CHECKSUM},
      {"trailer image", 6, 0x10, trailer({.trailer_type = 6}), TSYRETVAL_SUCCESS},
      {"trailer image, wrong type", 7, 0x10, trailer({.trailer_type = 6}), TSYRETVAL_INVALID_TYPE_PARAMETER},
      {"trailer image, unsigned length", 6, 0x10, trailer({.trailer_length = 32}), TSYRETVAL_INVALID_TRAILER},
      {"trailer image, magic", 6, 0x10, trailer({.magic = {'T', 'r', 'l', 'R'}}), TSYRETVAL_INVALID_SIGNATURE},
      {"trailer image, image CRC", 6, 0x10, trailer({.crc = 1}), TSYRETVAL_INVALID_ITEM_CHECKSUM},
      {"trailer image, corrupt signature", 6, 0x10, trailer({.signature = Signature::CORRUPT}),
       TSYRETVAL_INVALID_RSA_SIGNATURE},
      {"marker image", 62, 0, [] { return pkgbuild::marker_image({}); }, TSYRETVAL_SUCCESS},
      {"marker image, last word", 62, 0, [] { return pkgbuild::marker_image({.last_word = 0}); },
       TSYRETVAL_INVALID_SIGNATURE},
      {"marker container", 61, 0, [] { return pkgbuild::marker_container({}); }, TSYRETVAL_SUCCESS},
      {"marker container, B equals A", 61, 0, [] { return pkgbuild::marker_container({.b = 0x1000}); },
       TSYRETVAL_INVALID_SIGNATURE},
      {"marker container, count", 61, 0, [] { return pkgbuild::marker_container({.count = 1}); },
       TSYRETVAL_INVALID_SIGNATURE},
      {"marker container, second image", 61, 0,
       [] { return pkgbuild::marker_container({.second = {.first_word = 0}}); }, TSYRETVAL_INVALID_SIGNATURE},
      {"VPD", 5, 0, vpd({}), TSYRETVAL_SUCCESS},
      {"VPD with VPD-W", 5, 0, vpd({.read_write = true}), TSYRETVAL_SUCCESS},
      {"VPD, checksum", 5, 0, vpd({.checksum_delta = 1}), TSYRETVAL_INVALID_CHECKSUM},
      {"VPD, reserved byte", 5, 0, vpd({.rv_reserved_fill = 1}), TSYRETVAL_UNEXPECTED_DATA},
      {"VPD, no RV", 5, 0, vpd({.rv = false}), TSYRETVAL_CHECKSUM_NOT_FOUND},
      {"VPD, byte after the end tag", 5, 0, vpd({.trailing = {0}}), TSYRETVAL_INVALID_END_TAG},
      {"VPD, no end tag", 5, 0, vpd({.end_tag = false}), TSYRETVAL_END_TAG_NOT_FOUND},
      {"VPD, two PN", 5, 0,
       vpd({.read_only_keywords = {pkgbuild::vpd_text_keyword("PN", "A"), pkgbuild::vpd_text_keyword("PN", "B")}}),
       TSYRETVAL_DUPLICATE_ITEM},
      {"VPD, control byte in the identifier", 5, 0, vpd({.identifier = std::string("Vantera\x07")}),
       TSYRETVAL_INVALID_STRING},
  };
  for (const Case& c : cases) {
    const Bytes data = c.make();
    EXPECT_EQ(item_validate(data, c.type, c.attr, pkgbuild::crc32(data)), c.expected) << c.name;
  }
}

TEST(PackageBuilder, SignedRangesAndCrcsSitWhereTheImagesSayAndRepeat) {
  REQUIRE_DEVELOPMENT_KEY();
  const Bytes h = pkgbuild::header_image({.image_code = 5}, signer());
  ASSERT_EQ(h.size(), 7u + 64 + 260);
  EXPECT_EQ(get_u32(h, h.size() - 4), pkgbuild::crc32(std::span<const uint8_t>(h).first(h.size() - 4)));
  EXPECT_EQ(signature_verify(h.data(), h.size() - 260, h.data() + h.size() - 260), TSYRETVAL_SUCCESS);
  // PKCS#1 v1.5 signatures are deterministic, so equal settings give equal images.
  EXPECT_EQ(h, pkgbuild::header_image({.image_code = 5}, signer()));

  pkgbuild::TrailerImage t{.trailer_type = 9};
  t.version_info[0] = 'v';
  const Bytes tr = pkgbuild::trailer_image(t, signer());
  ASSERT_EQ(tr.size(), 64u + 288);
  EXPECT_EQ(tr[tr.size() - 32], 'v');
  EXPECT_EQ(get_u16(tr, tr.size() - 12), 9);
  EXPECT_EQ(get_u16(tr, tr.size() - 10), 288);
  EXPECT_EQ(signature_verify(tr.data(), tr.size() - 288, tr.data() + tr.size() - 288), TSYRETVAL_SUCCESS);

  const Bytes c = pkgbuild::marker_container({.a = 0x100, .b = 0x180});
  EXPECT_EQ(get_u32(c, 256 + 0x80), 0xA5A5A5A5u);
  EXPECT_EQ(c.size(), 256u + 0x80 + 64);
}

}  // namespace
