// crypto_test_util.h: small helpers shared by the crypto tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace crypto_test {

// The standard test-vector folder: $VREX_TESTDATA_DIR, else the configured one.
inline std::string testdata_dir() {
  const char* env = std::getenv("VREX_TESTDATA_DIR");
  return (env != nullptr && *env != '\0') ? std::string(env) : std::string(VREX_TESTDATA_DIR);
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Hex digits to bytes; an odd digit count or a non-hex character fails the test.
inline std::vector<uint8_t> from_hex(std::string_view hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> out;
  EXPECT_EQ(hex.size() % 2, 0u) << hex;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
    EXPECT_TRUE(hi >= 0 && lo >= 0) << hex;
    out.push_back(static_cast<uint8_t>((hi << 4) | lo));
  }
  return out;
}

inline std::string to_hex(const uint8_t* data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 15]);
  }
  return out;
}

}  // namespace crypto_test
