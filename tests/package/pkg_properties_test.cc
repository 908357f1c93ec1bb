// Property lookup and the package record.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "package/package.h"
#include "tests/package/pkg_test_util.h"
#include "tools/pkgbuild/package_builder.h"

namespace {

using pkg_test::Bytes;
using pkgbuild::Package;
using pkgbuild::Property;

// The property stream of a built package, as package_property_stream finds it.
Bytes stream_of(const std::vector<Property>& props, Bytes tail = {}) {
  Package p;
  p.properties = props;
  p.stream_tail = std::move(tail);
  const Bytes b = pkgbuild::build_package(p);
  const int32_t n = package_property_stream(pkg_test::view_of(b));
  EXPECT_GE(n, 0);
  return Bytes(b.begin() + 12, b.begin() + 12 + n);
}

TEST(PackageProperty, Lookup) {
  using pkgbuild::raw_property;
  using pkgbuild::text_property;
  struct Case {
    const char* name;
    Bytes stream;
    uint8_t tag;
    size_t dest_size;
    int32_t result;
    std::string dest;  // expected destination bytes; "-" for untouched
  };
  const Case cases[] = {
      {"found", stream_of({text_property(1, "abc"), text_property(9, "1.2")}), 9, 8, 3, std::string("1.2\0\0\0\0\0", 8)},
      {"cut to the destination", stream_of({text_property(1, "abcdef")}), 1, 4, 6, "abcd"},
      {"first record wins", stream_of({text_property(9, "one"), text_property(9, "two")}), 9, 3, 3, "one"},
      {"missing", stream_of({text_property(1, "abc")}), 9, 4, TSYRETVAL_ITEM_NOT_FOUND, "-"},
      {"empty value", stream_of({text_property(1, "")}), 1, 2, 0, std::string(2, '\0')},
      {"end record hides the rest", stream_of({text_property(1, "a"), raw_property(0, {}), text_property(9, "x")}),
       9, 1, TSYRETVAL_ITEM_NOT_FOUND, "-"},
      {"value past the end", stream_of({text_property(1, "a"), {9, {'x'}, 2}}), 9, 4, TSYRETVAL_INVALID_PROP_LENGTH, "-"},
      {"value past the end hides nothing before it", stream_of({text_property(1, "a"), {9, {'x'}, 2}}), 1, 1, 1, "a"},
      {"earlier record running past the end", stream_of({{1, {'a'}, 200}, text_property(9, "x")}), 9, 1,
       TSYRETVAL_ITEM_NOT_FOUND, "-"},
      {"tag on the last byte", stream_of({text_property(1, "a")}, {9}), 9, 1, TSYRETVAL_ITEM_NOT_FOUND, "-"},
      {"length begins on the last byte", stream_of({text_property(1, "a")}, {9, 0}), 9, 1,
       TSYRETVAL_INVALID_PROP_LENGTH, "-"},
      {"other tag whose length begins on the last byte", stream_of({text_property(1, "a")}, {8, 0}), 9, 1,
       TSYRETVAL_ITEM_NOT_FOUND, "-"},
      {"empty stream", Bytes{}, 1, 1, TSYRETVAL_ITEM_NOT_FOUND, "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dest(c.dest_size, '#');
    EXPECT_EQ(package_get_property(c.stream, c.tag, dest.data(), dest.size()), c.result);
    EXPECT_EQ(dest, c.dest == "-" ? std::string(c.dest_size, '#') : c.dest);
  }
}

TEST(PackageProperty, StreamLength) {
  Package p;
  p.properties = {pkgbuild::text_property(1, "abc")};
  const Bytes b = pkgbuild::build_package(p);
  EXPECT_EQ(package_property_stream(pkg_test::view_of(b)), 6);
  p.overrides.magic = 0;
  EXPECT_EQ(package_property_stream(pkg_test::view_of(pkgbuild::build_package(p))), TSYRETVAL_INVALID_SIGNATURE);
}

// ---------------------------------------------------------------------------
// package_load_record

std::string text_of(size_t n, char c) { return std::string(n, c); }

struct RecordCase {
  const char* name;
  std::vector<Property> props;
  std::function<void(const PackageRecord&)> check;
};

void expect_ids(const PackageRecord& r, std::vector<uint16_t> ids) {
  for (size_t i = 0; i < kPackageDevIdSlots; ++i) {
    EXPECT_EQ(r.dev_ids[i], i < ids.size() ? ids[i] : uint16_t{0}) << "slot " << i;
  }
}

TEST(PackageRecord, FilledFromProperties) {
  using namespace pkgbuild;
  const RecordCase cases[] = {
      {"all properties",
       {text_property(TAG_DESCRIPTION, "Vantera-C/E firmware"), u16_list_property(TAG_DEVICE_IDS, {0x7A81, 0x7A82}),
        u8_property(TAG_MIN_CHIP_REV, 1), u8_property(TAG_MAX_CHIP_REV, 7), text_property(TAG_TIMESTAMP, "2026-12-01"),
        text_property(TAG_VERSION, "238.1.185.0"), u16_property(TAG_SUBSYS_VENDOR, 0xE7A5),
        u16_property(TAG_SUBSYS_ID, 0x1234), text_property(TAG_REQUIRES, "238.1.100.0"), u8_property(TAG_BYTE21, 0x5C),
        text_property(TAG_TEXT22, "extra")},
       [](const PackageRecord& r) {
         EXPECT_STREQ(r.desc, "Vantera-C/E firmware");
         EXPECT_STREQ(r.ver, "238.1.185.0");
         EXPECT_STREQ(r.timestamp, "2026-12-01");
         EXPECT_STREQ(r.requires_ver, "238.1.100.0");
         EXPECT_STREQ(r.tag22_text, "extra");
         EXPECT_EQ(r.dev_id_count, 2);
         expect_ids(r, {0x7A81, 0x7A82});
         EXPECT_EQ(r.subsys_vendor, 0xE7A5);
         EXPECT_EQ(r.subsys_id, 0x1234);
         EXPECT_EQ(r.min_chip_rev, 1);
         EXPECT_EQ(r.max_chip_rev, 7);
         EXPECT_EQ(r.tag21_byte, 0x5C);
       }},
      {"defaults",
       {text_property(TAG_VERSION, "1.0")},
       [](const PackageRecord& r) {
         EXPECT_EQ(r.min_chip_rev, 0);
         EXPECT_EQ(r.max_chip_rev, 0xFF);
         EXPECT_EQ(r.subsys_vendor, 0xFFFF);
         EXPECT_EQ(r.subsys_id, 0xFFFF);
         EXPECT_EQ(r.dev_id_count, 0);
         for (uint16_t id : r.dev_ids) EXPECT_EQ(id, 0xFFFF);
         EXPECT_STREQ(r.desc, "");
         EXPECT_STREQ(r.requires_ver, "");
         EXPECT_EQ(r.tag21_byte, 0);
       }},
      {"three ids", {raw_property(TAG_DEVICE_IDS, {1, 0, 2, 0, 3, 0})},
       [](const PackageRecord& r) {
         EXPECT_EQ(r.dev_id_count, 3);
         expect_ids(r, {1, 2, 3});
       }},
      {"odd id length", {raw_property(TAG_DEVICE_IDS, {1, 0, 2, 0, 0x33})},
       [](const PackageRecord& r) {
         EXPECT_EQ(r.dev_id_count, 2);
         expect_ids(r, {1, 2, 0x33});
       }},
      {"empty id list", {raw_property(TAG_DEVICE_IDS, {})},
       [](const PackageRecord& r) {
         EXPECT_EQ(r.dev_id_count, 0);
         expect_ids(r, {});
       }},
      {"more ids than slots", {u16_list_property(TAG_DEVICE_IDS, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})},
       [](const PackageRecord& r) {
         EXPECT_EQ(r.dev_id_count, kPackageDevIdSlots);
         expect_ids(r, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
       }},
      {"both timestamps", {text_property(TAG_TIMESTAMP, "new"), text_property(TAG_TIMESTAMP_OLD, "older one")},
       [](const PackageRecord& r) { EXPECT_STREQ(r.timestamp, "new"); }},
      {"old timestamp only", {text_property(TAG_TIMESTAMP_OLD, "older one")},
       [](const PackageRecord& r) { EXPECT_STREQ(r.timestamp, "older one"); }},
      {"long texts are cut",
       {text_property(TAG_DESCRIPTION, text_of(300, 'd')), text_property(TAG_VERSION, text_of(256, 'v')),
        text_property(TAG_TEXT22, text_of(300, 'x'))},
       [](const PackageRecord& r) {
         EXPECT_EQ(std::string(r.desc), text_of(255, 'd'));
         EXPECT_EQ(std::string(r.ver), text_of(255, 'v'));
         EXPECT_EQ(std::string(r.tag22_text), text_of(256, 'x'));
       }},
      {"text with a zero byte", {raw_property(TAG_VERSION, {'1', 0, '2'})},
       [](const PackageRecord& r) { EXPECT_STREQ(r.ver, "1"); }},
      {"two version records: the first is kept",
       {text_property(TAG_VERSION, "1.0"), text_property(TAG_REQUIRES, "0.9"), text_property(TAG_VERSION, "2.0")},
       [](const PackageRecord& r) { EXPECT_STREQ(r.ver, "1.0"); }},
      {"end record early", {text_property(TAG_VERSION, "1.0"), raw_property(TAG_END, {}), text_property(TAG_DESCRIPTION, "d")},
       [](const PackageRecord& r) {
         EXPECT_STREQ(r.ver, "1.0");
         EXPECT_STREQ(r.desc, "");
       }},
      {"description running past the stream",
       {text_property(TAG_VERSION, "1.0"), {TAG_DESCRIPTION, {'d'}, 0x4000}},
       [](const PackageRecord& r) {
         EXPECT_STREQ(r.ver, "1.0");
         EXPECT_STREQ(r.desc, "");
       }},
      {"short subsystem value", {raw_property(TAG_SUBSYS_VENDOR, {0x34}), raw_property(TAG_SUBSYS_ID, {})},
       [](const PackageRecord& r) {
         EXPECT_EQ(r.subsys_vendor, 0x0034);
         EXPECT_EQ(r.subsys_id, 0x0000);
       }},
  };
  pkg_test::TempDir dir;
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    Package p;
    p.properties = c.props;
    const Bytes bytes = pkgbuild::build_package(p);
    const std::string path = dir.write("p.pkg", bytes);
    PackageRecord r;
    std::memset(r.desc, 'J', sizeof r.desc);  // leftovers must not survive
    package_load_record(path.c_str(), &r);
    EXPECT_STREQ(r.path, path.c_str());
    EXPECT_EQ(r.data_size, bytes.size());
    EXPECT_EQ(Bytes(r.data.bytes.begin(), r.data.bytes.end()), bytes);
    c.check(r);
  }
}

TEST(PackageRecord, UnreadableFilesKeepDefaults) {
  pkg_test::TempDir dir;
  Package bad;
  bad.overrides.magic = 0;
  const std::string paths[] = {dir.file("missing.pkg"), dir.write("bad.pkg", pkgbuild::build_package(bad))};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    PackageRecord r;
    package_load_record(path.c_str(), &r);
    EXPECT_STREQ(r.path, path.c_str());
    EXPECT_EQ(r.data_size, 0u);
    EXPECT_TRUE(r.data.bytes.empty());
    EXPECT_EQ(r.dev_id_count, 0);
    EXPECT_STREQ(r.ver, "");
    EXPECT_EQ(r.max_chip_rev, 0xFF);
    EXPECT_EQ(r.dev_ids[0], 0xFFFF);
  }
}

TEST(PackageRecord, WrappedPackageAndLongPath) {
  pkg_test::TempDir dir;
  Package p = pkg_test::plain_package();
  p.wrapper = pkgbuild::Wrapper{.body = Bytes(5, 1)};
  p.properties[0] = pkgbuild::text_property(pkgbuild::TAG_VERSION, "3.0");
  const Bytes bytes = pkgbuild::build_package(p);
  const std::string path = dir.write("w.pkg", bytes);
  PackageRecord r;
  package_load_record(path.c_str(), &r);
  EXPECT_STREQ(r.ver, "3.0");
  EXPECT_EQ(r.data_size, bytes.size() - 28);
  EXPECT_EQ(r.view().size(), r.data_size);
  EXPECT_EQ(package_validate(r.view(), nullptr), TSYRETVAL_SUCCESS);

  // The path field keeps 260 characters.
  const std::string long_path(300, 'p');
  package_load_record(long_path.c_str(), &r);
  EXPECT_EQ(std::string(r.path), long_path.substr(0, 260));
  EXPECT_EQ(r.data_size, 0u);
}

}  // namespace
