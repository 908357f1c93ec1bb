// Tests of the vrexpkg program, run as a process: exit statuses, the
// validate listing, inspect's JSON, the round trip through the tool, sign
// and keygen.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

#include "package/package.h"
#include "tools/pkgbuild/package_builder.h"

// Images signed with the development key verify only when it is the key
// compiled into the program.
#if VREX_DEVELOPMENT_KEY_COMPILED_IN
#define REQUIRE_DEVELOPMENT_KEY() (void)0
#else
#define REQUIRE_DEVELOPMENT_KEY() GTEST_SKIP() << "the compiled-in key is not the development key"
#endif

namespace {

namespace fs = std::filesystem;
using pkgbuild::Bytes;
using Json = nlohmann::ordered_json;

const std::string kTool = VREX_BINARY_DIR "/vrexpkg";
const std::string kDemos = VREX_BINARY_DIR "/examples";

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs vrexpkg with args (already quoted as needed) and collects its output.
Result vrexpkg(const std::string& args) {
  // One file per test, as CTest may run the tests of this file side by side.
  const std::string err_path = ::testing::TempDir() + "/vrexpkg_stderr_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
  Result run;
  FILE* p = popen((kTool + " " + args + " 2>" + err_path).c_str(), "r");
  if (!p) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) run.out.append(buffer, n);
  const int status = pclose(p);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(err_path);
  run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  return run;
}

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

class VrexpkgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           (std::string("vrexpkg_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(VrexpkgTest, UsageErrorsExitWithTwo) {
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"", "usage: vrexpkg"},
      {"frobnicate", "unknown command frobnicate"},
      {"build", "build: no manifest given"},
      {"build m.json", "build: no output given"},
      {"build m.json -o", "-o needs a value"},
      {"build m.json -o x.pkg --verbose", "build: unknown option --verbose"},
      {"sign", "sign: no file given"},
      {"sign f --length 3", "sign: --length needs --at"},
      {"sign f --at twelve", "--at: not a number: twelve"},
      {"inspect", "inspect: no file given"},
      {"inspect a b", "inspect: more than one file"},
      {"validate", "validate: no file given"},
      {"keygen", "keygen: no output prefix given"},
  };
  for (const auto& c : cases) {
    const Result r = vrexpkg(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.args;
  }
  const Result help = vrexpkg("-h");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: vrexpkg COMMAND", 0), 0u) << help.out;
}

TEST_F(VrexpkgTest, ValidatePrintsTheListingAndFailsOnAnyUnsupportedFile) {
  REQUIRE_DEVELOPMENT_KEY();
  const std::string later = kDemos + "/demo-later-family.pkg";
  const std::string corrupt = kDemos + "/demo-corrupt.pkg";
  const std::string missing = path("missing.pkg");
  const std::string later_lines = later +
                                  ":\n"
                                  "desc:      Vantera-C/E NVM package\n"
                                  "ver:       22.1.7.0\n"
                                  "requires:  \n"
                                  "timestamp: 2026-11-30 14:05:00\n"
                                  "dev-id:    7a81:e7a5:ffff\n"
                                  "Package supported.\n";
  const std::string corrupt_lines = corrupt +
                                    ":\n"
                                    "desc:      Vantera-C/E NVM package\n"
                                    "ver:       22.1.8.0\n"
                                    "requires:  \n"
                                    "timestamp: 2026-12-01 08:00:00\n"
                                    "dev-id:    7a81:e7a5:ffff\n"
                                    "Package corrupted! Error: -29 (INVALID_RSA_SIGNATURE), index=1\n";
  const std::string missing_lines = missing +
                                    ":\n"
                                    "desc:      \n"
                                    "ver:       \n"
                                    "requires:  \n"
                                    "timestamp: \n"
                                    "Package missing device-ID and/or version: Not supported!\n";
  const struct {
    std::string args;
    int status;
    std::string out;
  } cases[] = {
      {later, 0, later_lines},
      {later + " " + later, 0, later_lines + "---\n" + later_lines},
      {corrupt, 1, corrupt_lines},
      {later + " " + corrupt, 1, later_lines + "---\n" + corrupt_lines},
      {corrupt + " " + later, 1, corrupt_lines + "---\n" + later_lines},
      {missing, 1, missing_lines},
  };
  for (const auto& c : cases) {
    const Result r = vrexpkg("validate " + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
  }
}

TEST_F(VrexpkgTest, InspectJsonCarriesVerdictKindsAndChecks) {
  REQUIRE_DEVELOPMENT_KEY();
  const Result r = vrexpkg("inspect --json " + kDemos + "/demo-corrupt.pkg");
  ASSERT_EQ(r.status, 0) << r.err;
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["info"]["verdict"], Json::parse(R"({"status": -29, "name": "INVALID_RSA_SIGNATURE", "index": 1})"));
  EXPECT_EQ(j["info"]["wrapped"], false);
  ASSERT_EQ(j["entries"].size(), 3u);
  EXPECT_EQ(j["entries"][0]["info"], Json::parse(R"({"kind": "header image", "check": "SUCCESS", "declared_type": 4})"));
  EXPECT_EQ(j["entries"][1]["info"]["check"], "INVALID_RSA_SIGNATURE");
  EXPECT_EQ(j["entries"][2]["info"], Json::parse(R"({"kind": "plain", "check": "no data"})"));
  EXPECT_EQ(j["entries"][2]["item_length"], 0x200000);

  const Result later = vrexpkg("inspect --json " + kDemos + "/demo-later-family.pkg");
  const Json k = Json::parse(later.out);
  std::vector<std::string> kinds;
  for (const Json& e : k["entries"]) {
    kinds.push_back(e["info"]["kind"]);
    EXPECT_TRUE(e["info"]["check"] == "SUCCESS" || e["info"]["check"] == "no data") << e["info"].dump();
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"header image", "header image", "header image", "trailer image",
                                              "marker", "VPD", "plain", "plain"}));
}

TEST_F(VrexpkgTest, InspectTextShowsEntriesAndVerdict) {
  REQUIRE_DEVELOPMENT_KEY();
  const Result r = vrexpkg("inspect " + kDemos + "/demo-corrupt.pkg");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"header:     magic \"PKG0\", trailer_length 4,",
                           "    9 version        \"22.1.8.0\"\n",
                           "    2 device_ids     0x7A81\n",
                           "entry 1:    type 10, ordinal 0, ext 0, attr 0x0000, directive 0: header image\n",
                           "            image code 7, format 0x13, declares type 10\n",
                           "            check: INVALID_RSA_SIGNATURE\n",
                           "trailer:    length 4, CRC 0x",
                           "verdict:    INVALID_RSA_SIGNATURE (-29), index 1\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
  EXPECT_EQ(vrexpkg("inspect " + path("none.pkg")).status, 1);
}

// inspect --json, then build: the same bytes, for demo packages and for a
// wrapped package with overrides.
TEST_F(VrexpkgTest, InspectJsonBuildsTheSameFileAgain) {
  write_text(path("odd.json"), R"({
    "wrapper": {"body": "0102"},
    "properties": [{"tag": "version", "value": "1.0"}, {"tag": "device_ids", "value": ["0x7A45"]}],
    "manifest": {"gap": "00ff", "record_size": 30},
    "entries": [{"type": 62, "data": {"generate": "marker_image"}, "data_crc32": 7},
                {"type": 30, "data_offset": 3, "data_length": 9}],
    "overrides": {"table_offset": 21}})");
  ASSERT_EQ(vrexpkg("build " + path("odd.json") + " -o " + path("odd.pkg")).status, 0);
  for (const std::string& pkg : {kDemos + "/demo-later-family.pkg", kDemos + "/demo-earlier-family.pkg",
                                 kDemos + "/demo-corrupt.pkg", path("odd.pkg")}) {
    const Result j = vrexpkg("inspect --json " + pkg);
    ASSERT_EQ(j.status, 0) << pkg;
    write_text(path("again.json"), j.out);
    const Result b = vrexpkg("build " + path("again.json") + " -o " + path("again.pkg"));
    ASSERT_EQ(b.status, 0) << pkg << ": " << b.err;
    EXPECT_EQ(read_bytes(path("again.pkg")), read_bytes(pkg)) << pkg;
  }
}

TEST_F(VrexpkgTest, BuildReportsTheFieldAtFaultAndWritesNothing) {
  write_text(path("bad.json"), R"({"entries": [{"type": 4, "data": {"generate": "header_image", "flags": 256}}]})");
  Result r = vrexpkg("build " + path("bad.json") + " -o " + path("bad.pkg"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("bad.json: entries[0].data.flags: must be at most 255"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path("bad.pkg")));

  write_text(path("syntax.json"), R"({"entries": [}")");
  r = vrexpkg("build " + path("syntax.json") + " -o " + path("bad.pkg"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not valid JSON"), std::string::npos) << r.err;

  r = vrexpkg("build " + path("absent.json") + " -o " + path("bad.pkg"));
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(path("bad.pkg")));
}

TEST_F(VrexpkgTest, SignRestoresACorruptedSignatureInsideAPackage) {
  REQUIRE_DEVELOPMENT_KEY();
  const std::string pkg = path("corrupt.pkg");
  fs::copy_file(kDemos + "/demo-corrupt.pkg", pkg);
  const Json before = Json::parse(vrexpkg("inspect --json " + pkg).out);
  const Json& entry = before["entries"][1];
  const uint32_t offset = entry["data_offset"], length = entry["data_length"];

  const Result r = vrexpkg("sign " + pkg + " --at " + std::to_string(offset) + " --length " + std::to_string(length));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, pkg + ": signed the header image at offset " + std::to_string(offset) + ", length " +
                       std::to_string(length) + "\n" + pkg + ": entry 1: data_crc32 updated\n" + pkg +
                       ": package CRC updated\n");
  EXPECT_EQ(vrexpkg("validate " + pkg).status, 0);
  // The repaired file is the package built without the corruption.
  write_text(path("fixed.json"), R"({
    "properties": [
      {"tag": "description", "value": "Vantera-C/E NVM package"}, {"tag": "device_ids", "value": ["0x7A81"]},
      {"tag": "timestamp", "value": "2026-12-01 08:00:00"}, {"tag": "version", "value": "22.1.8.0"},
      {"tag": "subsys_vendor", "value": "0xE7A5"}],
    "entries": [{"type": 4, "data": {"generate": "header_image", "image_code": 5}},
                {"type": 10, "data": {"generate": "header_image", "image_code": 7}},
                {"type": 2, "item_length": "0x00200000"}]})");
  ASSERT_EQ(vrexpkg("build " + path("fixed.json") + " -o " + path("fixed.pkg")).status, 0);
  EXPECT_EQ(read_bytes(pkg), read_bytes(path("fixed.pkg")));
}

TEST_F(VrexpkgTest, SignWholeImageFilesAndRefuseOtherData) {
  REQUIRE_DEVELOPMENT_KEY();
  static const pkgbuild::Signer signer = pkgbuild::Signer::load(VREX_SOURCE_DIR "/keys/development.key.pem");
  const struct {
    const char* name;
    Bytes image;
    uint16_t type;
    uint16_t attr;
  } cases[] = {
      {"header", pkgbuild::header_image({.image_code = 5, .signature = pkgbuild::Signature::CORRUPT}, signer), 4, 0},
      {"trailer", pkgbuild::trailer_image({.trailer_type = 6, .signature = pkgbuild::Signature::UNSIGNED}, signer), 6,
       0x10},
  };
  for (const auto& c : cases) {
    const std::string file = path(std::string(c.name) + ".bin");
    write_bytes(file, c.image);
    ASSERT_EQ(vrexpkg("sign " + file).status, 0) << c.name;
    const Bytes signed_image = read_bytes(file);
    ASSERT_EQ(signed_image.size(), c.image.size());
    EXPECT_EQ(item_validate(signed_image, c.type, c.attr, pkgbuild::crc32(signed_image)), TSYRETVAL_SUCCESS)
        << c.name;
  }

  const Bytes plain(400, 0x33);
  write_bytes(path("plain.bin"), plain);
  const Result r = vrexpkg("sign " + path("plain.bin"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("neither a header image"), std::string::npos) << r.err;
  EXPECT_EQ(read_bytes(path("plain.bin")), plain);
  EXPECT_EQ(vrexpkg("sign " + path("plain.bin") + " --at 500").status, 1);
}

TEST_F(VrexpkgTest, KeygenWritesAKeyPairThatBuildSignsWith) {
  REQUIRE_DEVELOPMENT_KEY();
  const Result k = vrexpkg("keygen -o " + path("maker"));
  ASSERT_EQ(k.status, 0) << k.err;
  EXPECT_EQ(k.out, path("maker") + ".key.pem\n" + path("maker") + ".pub.pem\n");
  EXPECT_NE(read_bytes(path("maker.pub.pem")).size(), 0u);

  write_text(path("m.json"), R"({"properties": [{"tag": "version", "value": "1"},
                                                {"tag": "device_ids", "value": ["0x7A81"]}],
                                 "entries": [{"type": 4, "data": {"generate": "header_image"}}]})");
  ASSERT_EQ(vrexpkg("build " + path("m.json") + " -o " + path("m.pkg") + " --key " + path("maker.key.pem")).status, 0);
  // The program's compiled-in key is the development key, so the new key's
  // signature is refused while the default key's is accepted.
  const Result bad = vrexpkg("inspect --json " + path("m.pkg"));
  EXPECT_EQ(Json::parse(bad.out)["info"]["verdict"]["name"], "INVALID_RSA_SIGNATURE");
  ASSERT_EQ(vrexpkg("build " + path("m.json") + " -o " + path("d.pkg")).status, 0);
  EXPECT_EQ(vrexpkg("validate " + path("d.pkg")).status, 0);
}

}  // namespace
