// SHA-256: the NIST CAVP short, long and Monte Carlo vectors on every block
// function this build has, plus incremental feeding.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "package/crypto_sha256.h"
#include "package/package.h"
#include "tests/package/crypto_test_util.h"

namespace {

using crypto_test::from_hex;
using crypto_test::to_hex;

struct HashVector {
  size_t line;
  std::vector<uint8_t> msg;
  std::string md;  // lower-case hex
};

// Reads the Len/Msg/MD records of a CAVP .rsp file (CRLF line ends).
std::vector<HashVector> read_vectors(const std::string& name) {
  std::istringstream in(crypto_test::read_file(crypto_test::testdata_dir() + "/nist-sha256/" + name));
  std::vector<HashVector> out;
  std::string line;
  size_t number = 0, bits = 0;
  HashVector current{};
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Len = ", 0) == 0) {
      bits = std::stoul(line.substr(6));
      current = HashVector{number, {}, {}};
    } else if (line.rfind("Msg = ", 0) == 0) {
      current.msg = from_hex(line.substr(6));
      EXPECT_EQ(bits % 8, 0u);
      EXPECT_GE(current.msg.size(), bits / 8);
      current.msg.resize(bits / 8);  // "Msg = 00" stands for the empty message
    } else if (line.rfind("MD = ", 0) == 0) {
      current.md = line.substr(5);
      std::transform(current.md.begin(), current.md.end(), current.md.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      out.push_back(current);
    }
  }
  return out;
}

std::string digest_hex(const std::vector<uint8_t>& msg) {
  uint8_t digest[32];
  sha256(msg.data(), msg.size(), digest);
  return to_hex(digest, sizeof digest);
}

// Each test runs once per block function: the SHA extensions (skipped when
// the CPU lacks them) and the portable code.
class Sha256Engines : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    const bool want_extensions = GetParam();
    if (want_extensions && !sha256_cpu_has_sha_extensions()) {
      GTEST_SKIP() << "this CPU has no SHA extensions";
    }
    previous_ = sha256_select_engine(want_extensions ? Sha256Engine::kAuto : Sha256Engine::kPortable);
    ASSERT_EQ(sha256_using_sha_extensions(), want_extensions);
  }
  void TearDown() override { sha256_select_engine(previous_); }

 private:
  Sha256Engine previous_ = Sha256Engine::kAuto;
};

TEST_P(Sha256Engines, ShortMessages) {
  const auto vectors = read_vectors("SHA256ShortMsg.rsp");
  ASSERT_EQ(vectors.size(), 65u);
  for (const auto& v : vectors) EXPECT_EQ(digest_hex(v.msg), v.md) << "line " << v.line;
}

TEST_P(Sha256Engines, LongMessages) {
  const auto vectors = read_vectors("SHA256LongMsg.rsp");
  ASSERT_EQ(vectors.size(), 64u);
  for (const auto& v : vectors) EXPECT_EQ(digest_hex(v.msg), v.md) << "line " << v.line;
}

// The CAVP Monte Carlo test: 100 checkpoints of 1000 chained hashes each.
TEST_P(Sha256Engines, MonteCarlo) {
  std::istringstream in(
      crypto_test::read_file(crypto_test::testdata_dir() + "/nist-sha256/SHA256Monte.rsp"));
  std::string line;
  std::vector<uint8_t> seed;
  std::vector<std::string> checkpoints;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Seed = ", 0) == 0) seed = from_hex(line.substr(7));
    if (line.rfind("MD = ", 0) == 0) checkpoints.push_back(line.substr(5));
  }
  ASSERT_EQ(seed.size(), 32u);
  ASSERT_EQ(checkpoints.size(), 100u);

  std::array<uint8_t, 32> md[3];
  for (size_t j = 0; j < checkpoints.size(); ++j) {
    std::copy(seed.begin(), seed.end(), md[0].begin());
    md[1] = md[0];
    md[2] = md[0];
    std::array<uint8_t, 32> next{};
    for (int i = 3; i < 1003; ++i) {
      uint8_t message[96];
      std::memcpy(message, md[0].data(), 32);
      std::memcpy(message + 32, md[1].data(), 32);
      std::memcpy(message + 64, md[2].data(), 32);
      sha256(message, sizeof message, next.data());
      md[0] = md[1];
      md[1] = md[2];
      md[2] = next;
    }
    ASSERT_EQ(to_hex(next.data(), next.size()), checkpoints[j]) << "COUNT = " << j;
    seed.assign(next.begin(), next.end());
  }
}

// Feeding a message in pieces of every awkward size gives the one-shot digest:
// covers the partial-block buffer, whole blocks taken from the caller's
// memory, and padding that spills into a second block.
TEST_P(Sha256Engines, IncrementalFeedingMatchesOneShot) {
  const auto vectors = read_vectors("SHA256LongMsg.rsp");
  const size_t chunk_sizes[] = {1, 3, 55, 56, 63, 64, 65, 127, 129, 1000};
  for (const auto& v : vectors) {
    for (size_t chunk : chunk_sizes) {
      Sha256 ctx;
      sha256_init(&ctx);
      for (size_t at = 0; at < v.msg.size(); at += chunk) {
        sha256_update(&ctx, v.msg.data() + at, std::min(chunk, v.msg.size() - at));
      }
      sha256_update(&ctx, v.msg.data(), 0);
      uint8_t digest[32];
      sha256_final(&ctx, digest);
      ASSERT_EQ(to_hex(digest, 32), v.md) << "line " << v.line << " chunk " << chunk;
    }
  }
}

// One million "a": 15625 blocks through one call, so the multi-block loop of
// each block function runs long.
TEST_P(Sha256Engines, MillionAs) {
  const std::vector<uint8_t> msg(1000000, 'a');
  EXPECT_EQ(digest_hex(msg), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

INSTANTIATE_TEST_SUITE_P(BlockFunctions, Sha256Engines, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? std::string("ShaExtensions") : std::string("Portable");
                         });

// The two block functions agree on many blocks of varied content at once,
// including unaligned input.
TEST(Sha256Blocks, ExtensionsAndPortableAgree) {
  if (!sha256_cpu_has_sha_extensions()) GTEST_SKIP() << "this CPU has no SHA extensions";
  std::vector<uint8_t> data(64 * 37 + 1);
  uint32_t x = 1;
  for (auto& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 24);
  }
  uint32_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint32_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  sha256_blocks_portable(a, data.data() + 1, 37);
  sha256_blocks_sha_extensions(b, data.data() + 1, 37);
  EXPECT_EQ(0, std::memcmp(a, b, sizeof a));
}

}  // namespace
