// pkg_test_util.h: packages and files for the container, property, item and
// file search tests. Every package is made by the package builder.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "package/package.h"
#include "tools/pkgbuild/package_builder.h"

namespace pkg_test {

using pkgbuild::Bytes;

// The development signing key, loaded once.
inline const pkgbuild::Signer& signer() {
  static const pkgbuild::Signer s = pkgbuild::Signer::load(VREX_SOURCE_DIR "/keys/development.key.pem");
  return s;
}

inline std::span<const uint8_t> view_of(const Bytes& b) { return {b.data(), b.size()}; }

// A folder of its own under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> serial{0};
    path_ = std::filesystem::temp_directory_path() /
            ("vrex-pkg-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             std::to_string(serial++) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

  std::string write(const std::string& name, const Bytes& bytes) const {
    const std::string p = file(name);
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return p;
  }

 private:
  std::filesystem::path path_;
};

// A small well-formed package: version, device ids and one plain item.
inline pkgbuild::Package plain_package() {
  pkgbuild::Package p;
  p.properties = {pkgbuild::text_property(pkgbuild::TAG_VERSION, "1.0.0.1"),
                  pkgbuild::u16_list_property(pkgbuild::TAG_DEVICE_IDS, {0x7A81})};
  p.entries.push_back({.dir_type = 0x30, .data = Bytes{1, 2, 3, 4, 5, 6, 7, 8}});
  return p;
}

}  // namespace pkg_test
