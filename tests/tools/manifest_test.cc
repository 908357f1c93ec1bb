// Tests of the manifest: that a described file builds again byte for byte,
// and that a wrong manifest is refused with the field at fault named.
#include "tools/vrexpkg/manifest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "package/package.h"

namespace {

using pkgbuild::Bytes;
using vrexpkg::Json;

const std::string kKey = VREX_SOURCE_DIR "/keys/development.key.pem";

Bytes build(const Json& manifest, const std::string& base_dir = VREX_SOURCE_DIR "/examples") {
  vrexpkg::KeySource keys(kKey);
  pkgbuild::Package package;
  std::string error;
  EXPECT_TRUE(vrexpkg::manifest_to_package(manifest, base_dir, &keys, &package, &error)) << error;
  return pkgbuild::build_package(package);
}

Json read_json(const std::string& path) {
  std::ifstream in(path);
  return Json::parse(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

// Builds the manifest, describes the result, builds the description (after a
// trip through JSON text) and expects the same bytes.
void expect_round_trip(const Json& manifest, const std::string& name) {
  const Bytes first = build(manifest);
  const Json described = Json::parse(vrexpkg::manifest_from_file(first).dump());
  const Bytes second = build(described);
  EXPECT_EQ(first, second) << name << "\n" << described.dump(1).substr(0, 4000);
}

TEST(Manifest, DemoManifestsRoundTrip) {
  for (const char* demo : {"demo-later-family", "demo-earlier-family", "demo-corrupt"}) {
    expect_round_trip(read_json(std::string(VREX_SOURCE_DIR "/examples/") + demo + ".json"), demo);
  }
}

TEST(Manifest, UnusualLayoutsRoundTrip) {
  const struct {
    const char* name;
    const char* manifest;
  } cases[] = {
      {"empty", R"({})"},
      {"wrapper, gaps, sizes and overrides", R"({
         "wrapper": {"body": "00112233"},
         "properties": [{"tag": "version", "value": "1.0.0.1"}, {"tag": 200, "hex": "0102"}],
         "stream_tail": "ff",
         "manifest": {"gap": "abcd", "directive_size": 8, "record_size": 28},
         "entries": [{"type": 30, "directive": 3, "directive_block": "05", "gap": "01", "data": "0203",
                      "record_tail": "06"},
                     {"type": 31, "data": {"text": "second"}}],
         "data_tail": "99",
         "trailer": {"length": 8, "bytes": "77"},
         "overrides": {"entry_count": 1, "package_crc": "0x12345678", "magic": "PKG1"}})"},
      {"shared and out-of-range data", R"({
         "entries": [{"type": 30, "data": "0102030405"},
                     {"type": 31, "data_offset": 0, "data_length": 3},
                     {"type": 32, "data_offset": "0xFFFFFF00", "data_length": 16, "data_crc32": 1}]})"},
      {"no trailer CRC", R"({"trailer": {"length": 0}, "entries": [{"type": 30, "data": "00"}]})"},
      {"three-byte trailer", R"({"trailer": {"length": 3, "bytes": "010203"}})"},
      {"hidden properties and a record running past the stream", R"({
         "properties": [{"tag": "description", "value": "x"}, {"tag": "end"}, {"tag": "version", "value": "2"}]})"},
      {"property length past the stream", R"({"properties": [{"tag": "description", "value": "d", "length": 400}]})"},
      {"values that are not what their tags say", R"({
         "properties": [{"tag": "description", "hex": "41074200"}, {"tag": "device_ids", "hex": "817a45"},
                        {"tag": "min_chip_rev", "hex": "0102"}, {"tag": "subsys_id", "hex": ""}]})"},
      {"header beyond the file", R"({"overrides": {"header_length": 5000}})"},
      {"table beyond the file", R"({"overrides": {"entry_count": 1000}})"},
      {"huge directive size with no entries", R"({"overrides": {"directive_size": "0xFFFFFFFF"}})"},
      {"wrapper with a wrong CRC", R"({"wrapper": {"crc": 0}, "entries": [{"type": 30, "data": "00"}]})"},
      {"wrapper longer than the file", R"({"wrapper": {"length": 60000}})"},
      {"raw bytes", R"({"raw": "504b4730"})"},
      {"generated images", R"({"entries": [
         {"type": 4, "data": {"generate": "header_image", "image_code": 5, "signature": "corrupt"}},
         {"type": 6, "attributes": 16, "data": {"generate": "trailer_image", "trailer_type": 6}},
         {"type": 61, "data": {"generate": "marker_container", "b": "0x1100"}},
         {"type": 5, "data": {"generate": "vpd", "identifier": null, "read_write": true}}]})"},
  };
  for (const auto& c : cases) expect_round_trip(Json::parse(c.manifest), c.name);
}

TEST(Manifest, DescriptionIsExplicitAndReadable) {
  const Bytes b = build(read_json(VREX_SOURCE_DIR "/examples/demo-later-family.json"));
  const Json m = vrexpkg::manifest_from_file(b);
  EXPECT_EQ(m["properties"][0], Json::parse(R"({"tag": "description", "value": "Vantera-C/E NVM package"})"));
  EXPECT_EQ(m["properties"][1], Json::parse(R"({"tag": "device_ids", "value": ["0x7A81"]})"));
  const Json& first = m["entries"][0];
  for (const char* key : {"directive", "type", "ordinal", "extension", "attributes", "item_length", "data",
                          "data_offset", "data_length", "data_crc32"}) {
    EXPECT_TRUE(first.contains(key)) << key;
  }
  for (const char* key : {"magic", "trailer_length", "header_length", "manifest_magic", "table_offset",
                          "entry_count", "directive_size", "record_size", "package_crc"}) {
    EXPECT_TRUE(m["overrides"].contains(key)) << key;
  }
}

TEST(Manifest, FileDataIsReadRelativeToTheManifest) {
  const Bytes b = build(Json::parse(R"({"entries": [{"type": 31, "data": {"file": "items/release-notes.txt"}}]})"));
  std::ifstream in(VREX_SOURCE_DIR "/examples/items/release-notes.txt", std::ios::binary);
  const Bytes notes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(std::search(b.begin(), b.end(), notes.begin(), notes.end()), b.end());
}

TEST(Manifest, ValueFormsGiveTheSameBytes) {
  const char* forms[] = {
      R"({"tag": "version", "value": "AB"})",
      R"({"tag": 9, "text": "AB"})",
      R"({"tag": "9", "hex": "41 42"})",
      R"({"tag": "0x09", "base64": "QUI="})",
      R"({"tag": "version", "base64": "QUI"})",
  };
  Bytes first;
  for (const char* form : forms) {
    Json m = Json::object();
    m["properties"] = Json::array({Json::parse(form)});
    const Bytes b = build(m);
    if (first.empty()) first = b;
    EXPECT_EQ(b, first) << form;
  }
}

TEST(Manifest, WrongManifestsNameTheFieldAtFault) {
  const struct {
    const char* manifest;
    const char* message;
  } cases[] = {
      {R"([])", "manifest: must be a JSON object"},
      {R"({"format": "other"})", "format: must be"},
      {R"({"entires": []})", "manifest: unknown field \"entires\""},
      {R"({"entries": [{"ordinal": 1}]})", "entries[0]: needs a \"type\""},
      {R"({"entries": [{"type": 70000}]})", "entries[0].type: must be at most 65535"},
      {R"({"entries": [{"type": -1}]})", "entries[0].type: must not be negative"},
      {R"({"entries": [{"type": "0x1G"}]})", "entries[0].type: \"0x1G\" is not a number"},
      {R"({"entries": [{"type": true}]})", "entries[0].type: must be a number"},
      {R"({"entries": [{"type": 4, "dat": "00"}]})", "entries[0]: unknown field \"dat\""},
      {R"({"entries": [{"type": 4, "data": "abc"}]})", "entries[0].data: is not a hex byte string"},
      {R"({"entries": [{"type": 4, "data": {"hex": "00", "text": "a"}}]})", "entries[0].data: needs exactly one of"},
      {R"({"entries": [{"type": 4, "data": {"file": "missing.bin"}}]})", "entries[0].data.file: cannot open"},
      {R"({"entries": [{"type": 4, "data": {"base64": "Q$"}}]})", "entries[0].data.base64: is not base64"},
      {R"({"entries": [{"type": 4, "data": {"generate": "header"}}]})", "entries[0].data.generate: unknown generator"},
      {R"({"entries": [{"type": 4, "data": {"generate": "header_image", "image_code": 300}}]})",
       "entries[0].data.image_code: must be at most 255"},
      {R"({"entries": [{"type": 4, "data": {"generate": "header_image", "signature": "bad"}}]})",
       "entries[0].data.signature: must be \"signed\", \"corrupt\" or \"unsigned\""},
      {R"({"entries": [{"type": 4, "data": {"generate": "header_image", "magic": "0102"}}]})",
       "entries[0].data.magic: must be exactly 4 bytes"},
      {R"({"entries": [{"type": 5, "data": {"generate": "vpd", "read_only_keywords": [{"name": "P"}]}}]})",
       "entries[0].data.read_only_keywords[0].name: must be two characters"},
      {R"({"properties": [{"tag": "versoin", "value": "1"}]})", "properties[0].tag: unknown tag name \"versoin\""},
      {R"({"properties": [{"tag": 77, "value": 1}]})", "properties[0].value: tag 77 has no value form"},
      {R"({"properties": [{"tag": "device_ids", "value": "0x7A81"}]})", "properties[0].value: must be an array"},
      {R"({"properties": [{"tag": "subsys_id", "value": "0x10000"}]})", "properties[0].value: must be at most 65535"},
      {R"({"properties": [{"value": "1"}]})", "properties[0]: needs a \"tag\""},
      {R"({"wrapper": {"guid": "8C8718F0-7DCB-4349-9800"}})", "wrapper.guid: is not a GUID"},
      {R"({"raw": "00", "entries": []})", "manifest: unknown field \"entries\""},
      {R"({"overrides": {"magic": "PKG"}})", "overrides.magic: \"PKG\" is not a number"},
  };
  for (const auto& c : cases) {
    vrexpkg::KeySource keys(kKey);
    pkgbuild::Package package;
    std::string error;
    EXPECT_FALSE(vrexpkg::manifest_to_package(Json::parse(c.manifest), VREX_SOURCE_DIR "/examples", &keys, &package,
                                              &error))
        << c.manifest;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.manifest << "\n  gave: " << error;
  }
}

TEST(Manifest, KeyIsNeededOnlyForSignedImages) {
  const Json signed_image = Json::parse(R"({"entries": [{"type": 4, "data": {"generate": "header_image"}}]})");
  const Json unsigned_image =
      Json::parse(R"({"entries": [{"type": 4, "data": {"generate": "header_image", "signature": "unsigned"}}]})");
  pkgbuild::Package package;
  std::string error;
  vrexpkg::KeySource missing("/nonexistent/key.pem");
  EXPECT_FALSE(vrexpkg::manifest_to_package(signed_image, ".", &missing, &package, &error));
  EXPECT_NE(error.find("entries[0].data: signing key /nonexistent/key.pem"), std::string::npos) << error;
  EXPECT_TRUE(vrexpkg::manifest_to_package(unsigned_image, ".", &missing, &package, &error)) << error;
}

}  // namespace
