// The package file search and the directory matching under it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/package.h"
#include "platform/dir_search.h"
#include "tests/package/pkg_test_util.h"

namespace {

std::vector<std::string> listed(const FileList& list) {
  std::vector<std::string> out;
  for (uint64_t i = 0; i < list.count; ++i) out.emplace_back(list.paths[i]);
  return out;
}

TEST(WildcardMatch, Rules) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"*.pkg", "a.pkg", true},       {"*.pkg", "B.PKG", true},      {"*.PKG", "b.pkg", true},
      {"*.pkg", "a.pkgx", false},     {"*.pkg", "a.pk", false},      {"*.pkg", ".pkg", true},
      {"?.pkg", "a.pkg", true},       {"?.pkg", "ab.pkg", false},    {"?", "", false},
      {"*", "", true},                {"", "", true},                {"", "a", false},
      {"a*b*c", "aXbYbZc", true},     {"a*b*c", "aXbYbZ", false},    {"**a", "a", true},
      {"*a*a", "aaa", true},          {"*.*", "noext", true},        {"*.*", "a.b", true},
      {"[ab]", "a", false},           {"\xC9*", "\xE9x", false},     {"\xE9*", "\xE9x", true},
      {"Z_*", "z_1", true},           {"@", "`", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wildcard_match(c.pattern, c.name), c.match) << c.pattern << " / " << c.name;
  }
}

class FindFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"b.PKG", "a.pkg", ".hidden.pkg", "c.txt", "_z.pkg", "ab.pkg"}) touch(name);
    std::filesystem::create_directories(dir_.path() / "dir" / "sub");
    std::filesystem::create_directory(dir_.path() / "folder.pkg");
    touch("dir/sub/y.pkg");
    touch("dir/sub/X.pkg");
    touch("dir/one.pkg");
  }
  void TearDown() override { free_file_list(&list_); }

  void touch(const std::string& name) { dir_.write(name, {}); }
  std::string root() const { return dir_.path().string(); }

  pkg_test::TempDir dir_;
  FileList list_;
};

TEST_F(FindFiles, Specifications) {
  struct Case {
    std::string spec;
    int result;
    std::vector<std::string> paths;
  };
  const std::string r = root();
  const Case cases[] = {
      {r + "/*.pkg", FIND_FILES_OK, {r + "/_z.pkg", r + "/a.pkg", r + "/ab.pkg", r + "/b.PKG", r + "/folder.pkg"}},
      {r + "/?.pkg", FIND_FILES_OK, {r + "/a.pkg", r + "/b.PKG"}},
      {r + "/A.PKG", FIND_FILES_OK, {r + "/a.pkg"}},
      {r + "/dir\\sub/*.pkg", FIND_FILES_OK, {r + "/dir\\sub/X.pkg", r + "/dir\\sub/y.pkg"}},
      {r + "/dir/sub\\*.PKG", FIND_FILES_OK, {r + "/dir/sub\\X.pkg", r + "/dir/sub\\y.pkg"}},
      {r + "/dir/*", FIND_FILES_OK, {r + "/dir/one.pkg", r + "/dir/sub"}},
      {r + "/.hidden.pkg", FIND_FILES_NONE, {}},
      {r + "/*.bin", FIND_FILES_NONE, {}},
      {r + "/missing/*.pkg", FIND_FILES_NONE, {}},
      {r + "/", FIND_FILES_NONE, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    EXPECT_EQ(find_files(c.spec.c_str(), &list_), c.result);
    EXPECT_EQ(listed(list_), c.paths);
    if (c.result != FIND_FILES_OK) {
      EXPECT_EQ(list_.paths, nullptr);
    }
    free_file_list(&list_);
    EXPECT_EQ(list_.count, 0u);
    EXPECT_EQ(list_.paths, nullptr);
  }
}

TEST_F(FindFiles, CurrentDirectoryByDefault) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  const int result = find_files("*.pkg", &list_);
  std::filesystem::current_path(before);
  EXPECT_EQ(result, FIND_FILES_OK);
  EXPECT_EQ(listed(list_), (std::vector<std::string>{"_z.pkg", "a.pkg", "ab.pkg", "b.PKG", "folder.pkg"}));
}

TEST_F(FindFiles, PathsLongerThanTheLimitAreLeftOut) {
  const std::string r = root() + "/";
  const std::string longest(kPackagePathMax - r.size(), 'n');
  ASSERT_LT(longest.size(), 250u);  // within the host's name limit
  touch(longest);
  touch(longest + "n");
  EXPECT_EQ(find_files((r + "nn*").c_str(), &list_), FIND_FILES_OK);
  EXPECT_EQ(listed(list_), (std::vector<std::string>{r + longest}));
  free_file_list(&list_);
  EXPECT_EQ(find_files((r + longest + "?").c_str(), &list_), FIND_FILES_NONE);
}

TEST(FreeFileList, EmptyList) {
  FileList list;
  free_file_list(&list);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.paths, nullptr);
}

}  // namespace
