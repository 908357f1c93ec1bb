// crc32.cc: CRC-32 (reflected polynomial 0xEDB88320), slicing-by-16.
//
// Sixteen 256-entry tables, built at compile time, let the loop fold 16 input
// bytes into the register with 16 independent lookups; the bytes left over are
// done one at a time with the first table.
#include <array>
#include <bit>
#include <cstring>

#include "package/crypto_crc32.h"
#include "package/package.h"

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr int kSlices = 16;

using CrcTables = std::array<std::array<uint32_t, 256>, kSlices>;

// tables[0][b] is the register change for one byte b; tables[k][b] is the
// change for byte b followed by k zero bytes.
constexpr CrcTables make_tables() {
  CrcTables t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t c = b;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[0][b] = c;
  }
  for (int k = 1; k < kSlices; ++k) {
    for (uint32_t b = 0; b < 256; ++b) {
      const uint32_t prev = t[static_cast<size_t>(k - 1)][b];
      t[static_cast<size_t>(k)][b] = (prev >> 8) ^ t[0][prev & 0xFFu];
    }
  }
  return t;
}

constexpr CrcTables kTables = make_tables();

inline uint32_t load_le32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

inline uint32_t lookup(int table, uint32_t index) {
  return kTables[static_cast<size_t>(table)][index & 0xFFu];
}

// Multiplies a and b modulo the CRC polynomial, in the reflected bit order
// (bit 31 is x^0).
uint32_t multiply_mod_p(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  uint32_t m = 1u << 31;
  for (;;) {
    if (a & m) {
      product ^= b;
      if ((a & (m - 1)) == 0) break;
    }
    m >>= 1;
    b = (b & 1u) ? (b >> 1) ^ kPolynomial : b >> 1;
  }
  return product;
}

// x^(2^k) modulo the polynomial for k = 0..63: kPowers[k].
constexpr std::array<uint32_t, 64> make_powers() {
  std::array<uint32_t, 64> powers{};
  uint32_t p = 1u << 30;  // x^1
  for (size_t k = 0; k < powers.size(); ++k) {
    powers[k] = p;
    // p = p * p mod P, written out so that it can run at compile time.
    uint32_t a = p, b = p, product = 0;
    for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
      if (a & m) product ^= b;
      b = (b & 1u) ? (b >> 1) ^ kPolynomial : b >> 1;
    }
    p = product;
  }
  return powers;
}

constexpr std::array<uint32_t, 64> kPowers = make_powers();

// x^(8 * bytes) modulo the polynomial.
uint32_t x_pow_8n(uint64_t bytes) {
  uint32_t result = 1u << 31;  // x^0
  int k = 3;                   // 8 * bytes = bytes * 2^3
  while (bytes != 0) {
    if (bytes & 1u) result = multiply_mod_p(kPowers[static_cast<size_t>(k & 63)], result);
    bytes >>= 1;
    ++k;
  }
  return result;
}

}  // namespace

uint32_t crc32_update_bytewise(uint32_t reg, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i) reg = (reg >> 8) ^ lookup(0, reg ^ data[i]);
  return reg;
}

uint32_t crc32_update(uint32_t reg, const uint8_t* data, size_t length) {
  if (length == 0) return reg;
  // Byte steps up to an 8-byte boundary, so the wide loads below are aligned.
  while (length != 0 && (reinterpret_cast<uintptr_t>(data) & 7u) != 0) {
    reg = (reg >> 8) ^ lookup(0, reg ^ *data++);
    --length;
  }
  while (length >= kSlices) {
    const uint32_t w0 = load_le32(data) ^ reg;
    const uint32_t w1 = load_le32(data + 4);
    const uint32_t w2 = load_le32(data + 8);
    const uint32_t w3 = load_le32(data + 12);
    reg = lookup(15, w0) ^ lookup(14, w0 >> 8) ^ lookup(13, w0 >> 16) ^ lookup(12, w0 >> 24) ^
          lookup(11, w1) ^ lookup(10, w1 >> 8) ^ lookup(9, w1 >> 16) ^ lookup(8, w1 >> 24) ^
          lookup(7, w2) ^ lookup(6, w2 >> 8) ^ lookup(5, w2 >> 16) ^ lookup(4, w2 >> 24) ^
          lookup(3, w3) ^ lookup(2, w3 >> 8) ^ lookup(1, w3 >> 16) ^ lookup(0, w3 >> 24);
    data += kSlices;
    length -= kSlices;
  }
  return crc32_update_bytewise(reg, data, length);
}

uint32_t crc32(uint32_t seed, const uint8_t* data, size_t length) {
  return ~crc32_update(seed, data, length);
}

uint32_t crc32_combine(uint32_t crc_a, uint32_t crc_b, uint64_t length_b) {
  return multiply_mod_p(x_pow_8n(length_b), crc_a) ^ crc_b;
}
