// CRC-32: the published check values, chaining and combining.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "package/crypto_crc32.h"
#include "package/package.h"

namespace {

std::vector<uint8_t> bytes_of(const char* text) {
  return std::vector<uint8_t>(text, text + std::strlen(text));
}

std::vector<uint8_t> counting_bytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return v;
}

struct CheckValue {
  const char* label;
  std::vector<uint8_t> input;
  uint32_t crc;
};

// The check values of the CRC-32 test data (crc32/README.txt).
std::vector<CheckValue> check_values() {
  std::vector<uint8_t> all_bytes(256);
  std::iota(all_bytes.begin(), all_bytes.end(), uint8_t{0});
  return {
      {"empty", {}, 0x00000000u},
      {"a", bytes_of("a"), 0xE8B7BE43u},
      {"abc", bytes_of("abc"), 0x352441C2u},
      {"123456789", bytes_of("123456789"), 0xCBF43926u},
      {"quick brown fox", bytes_of("The quick brown fox jumps over the lazy dog"), 0x414FA339u},
      {"1 MiB of zeros", std::vector<uint8_t>(1u << 20, 0), 0xA738EA1Cu},
      {"bytes 0..255", all_bytes, 0x29058C73u},
  };
}

TEST(Crc32, PublishedCheckValues) {
  for (const auto& c : check_values()) {
    EXPECT_EQ(crc32(0xFFFFFFFFu, c.input.data(), c.input.size()), c.crc) << c.label;
    EXPECT_EQ(~crc32_update_bytewise(0xFFFFFFFFu, c.input.data(), c.input.size()), c.crc)
        << c.label;
  }
}

// The residue: a message followed by its own CRC (least significant byte
// first) leaves the register at a fixed value.
TEST(Crc32, MessageWithItsCrcGivesTheResidue) {
  std::vector<uint8_t> msg = bytes_of("123456789");
  const uint32_t crc = crc32(0xFFFFFFFFu, msg.data(), msg.size());
  for (int i = 0; i < 4; ++i) msg.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  EXPECT_EQ(crc32(0xFFFFFFFFu, msg.data(), msg.size()), 0x2144DF1Cu);
}

// The sliced loop against the byte-at-a-time reference at every alignment
// and every length around the 16-byte step, so no tail or head is mishandled.
TEST(Crc32, SlicedLoopMatchesBytewiseAtEveryOffsetAndLength) {
  const std::vector<uint8_t> data = counting_bytes(200);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t length = 0; offset + length <= data.size(); ++length) {
      ASSERT_EQ(crc32_update(0x12345678u, data.data() + offset, length),
                crc32_update_bytewise(0x12345678u, data.data() + offset, length))
          << "offset " << offset << " length " << length;
    }
  }
}

// Large ranges run in parallel lanes that are joined afterwards: lengths on
// and around the lane block sizes, at odd offsets, against the reference.
TEST(Crc32, LongRangesMatchBytewise) {
  const std::vector<uint8_t> data = counting_bytes(3 * 65536 + 64);
  const size_t lengths[] = {1023,  1024,  4095,  4096,  5000,  16384 + 1040, 65535,
                           65536, 65537, 2 * 65536 + 15, 3 * 65536 + 17};
  for (size_t offset : {size_t{0}, size_t{1}, size_t{7}}) {
    for (size_t length : lengths) {
      EXPECT_EQ(crc32_update(0xFFFFFFFFu, data.data() + offset, length),
                crc32_update_bytewise(0xFFFFFFFFu, data.data() + offset, length))
          << "offset " << offset << " length " << length;
    }
  }
}

TEST(Crc32, ChainingPiecesGivesTheWholeCrc) {
  const std::vector<uint8_t> data = counting_bytes(100000);
  const uint32_t whole = crc32(0xFFFFFFFFu, data.data(), data.size());
  const size_t cuts[][2] = {{0, 0}, {1, 2}, {17, 4096}, {50000, 50001}, {99999, 100000}};
  for (const auto& cut : cuts) {
    const uint8_t* p = data.data();
    uint32_t reg = crc32_update(0xFFFFFFFFu, p, cut[0]);
    reg = crc32_update(reg, p + cut[0], cut[1] - cut[0]);
    reg = crc32_update(reg, p + cut[1], data.size() - cut[1]);
    EXPECT_EQ(~reg, whole) << cut[0] << "," << cut[1];

    const uint32_t first = crc32(0xFFFFFFFFu, p, cut[1]);
    EXPECT_EQ(crc32(~first, p + cut[1], data.size() - cut[1]), whole) << cut[1];
  }
}

TEST(Crc32, CombineMatchesTheCrcOfTheConcatenation) {
  const std::vector<uint8_t> data = counting_bytes(70000);
  const size_t splits[] = {0, 1, 3, 16, 255, 4096, 65536, 69999, 70000};
  const uint32_t whole = crc32(0xFFFFFFFFu, data.data(), data.size());
  for (size_t split : splits) {
    const uint32_t a = crc32(0xFFFFFFFFu, data.data(), split);
    const uint32_t b = crc32(0xFFFFFFFFu, data.data() + split, data.size() - split);
    EXPECT_EQ(crc32_combine(a, b, data.size() - split), whole) << split;
  }
}

// Lengths far beyond what a test can hash: combine zero runs built from the
// 1 MiB value by doubling and check against a direct combination.
TEST(Crc32, CombineHandlesLengthsAboveFourGigabytes) {
  const std::vector<uint8_t> zeros(1u << 20, 0);
  uint32_t crc = crc32(0xFFFFFFFFu, zeros.data(), zeros.size());
  uint64_t length = zeros.size();
  while (length < (uint64_t{1} << 33)) {  // 8 GiB
    crc = crc32_combine(crc, crc, length);
    length *= 2;
  }
  // "a" followed by 8 GiB of zeros, two ways: combine once with the 8 GiB
  // CRC, or extend "a" by 1 MiB zero runs combined 8192 times.
  const uint32_t a = crc32(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>("a"), 1);
  const uint32_t once = crc32_combine(a, crc, length);
  const uint32_t mib = crc32(0xFFFFFFFFu, zeros.data(), zeros.size());
  uint32_t stepwise = a;
  for (int i = 0; i < 8192; ++i) stepwise = crc32_combine(stepwise, mib, zeros.size());
  EXPECT_EQ(once, stepwise);
}

}  // namespace
