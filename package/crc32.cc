// crc32.cc: CRC-32 (reflected polynomial 0xEDB88320), slicing-by-16.
//
// Sixteen 256-entry tables, built at compile time, let the loop fold 16 input
// bytes into the register with 16 independent lookups; the bytes left over are
// done one at a time with the first table. Large ranges are cut into four
// lanes worked on together and joined afterwards (see run_lanes).
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

inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

__attribute__((always_inline)) inline uint32_t lookup(int table, uint64_t index) {
  return kTables[static_cast<size_t>(table)][static_cast<size_t>(index & 0xFFu)];
}

// Folds 16 bytes at p into the register. The first eight bytes are read as a
// word (four of them mix with the register) and split with shifts; the other
// eight index their tables straight from memory. The mix keeps both the load
// units and the arithmetic units busy without either being the bottleneck.
__attribute__((always_inline)) inline uint32_t step16(uint32_t reg, const uint8_t* p) {
  const uint64_t a = load_le64(p) ^ reg;
  return lookup(15, a) ^ lookup(14, a >> 8) ^ lookup(13, a >> 16) ^ lookup(12, a >> 24) ^
         lookup(11, a >> 32) ^ lookup(10, a >> 40) ^ lookup(9, a >> 48) ^ lookup(8, a >> 56) ^
         lookup(7, p[8]) ^ lookup(6, p[9]) ^ lookup(5, p[10]) ^ lookup(4, p[11]) ^
         lookup(3, p[12]) ^ lookup(2, p[13]) ^ lookup(1, p[14]) ^ lookup(0, p[15]);
}

// a * b modulo the CRC polynomial, in the reflected bit order (bit 31 is
// x^0). Branch-free, so its time does not depend on the values.
constexpr uint32_t multiply_mod_p(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (int i = 31; i >= 0; --i) {
    product ^= b & (0u - ((a >> i) & 1u));
    b = (b >> 1) ^ (kPolynomial & (0u - (b & 1u)));
  }
  return product;
}

// x^(2^k) modulo the polynomial for k = 0..63: kPowers[k].
constexpr std::array<uint32_t, 64> make_powers() {
  std::array<uint32_t, 64> powers{};
  uint32_t p = 1u << 30;  // x^1
  for (size_t k = 0; k < powers.size(); ++k) {
    powers[k] = p;
    p = multiply_mod_p(p, p);
  }
  return powers;
}

constexpr std::array<uint32_t, 64> kPowers = make_powers();

// x^(8 * bytes) modulo the polynomial: multiplying a register by it has the
// effect of running that many zero bytes through it.
constexpr uint32_t x_pow_8n(uint64_t bytes) {
  uint32_t result = 1u << 31;  // x^0
  size_t k = 3;                // 8 * bytes = bytes * 2^3
  while (bytes != 0) {
    if (bytes & 1u) result = multiply_mod_p(kPowers[k & 63], result);
    bytes >>= 1;
    ++k;
  }
  return result;
}

// Ranges of 4 KiB and more run as four lanes side by side, so that four
// independent chains of lookups overlap. Each lane but the first starts from
// a zero register, and the lane registers are joined with the CRC's
// linearity: reg(A||B) = reg(A) * x^(8|B|) xor reg_from_zero(B). The three
// multiplications are independent of each other and cost little next to the
// lane work. Lane sizes step down so that mid-sized ranges still use lanes.
constexpr size_t kLanes = 4;

template <size_t LaneBytes>
struct LaneShifts {
  // x^(8 * LaneBytes * k) for k = 3, 2, 1: the shift of lanes 0, 1 and 2.
  static constexpr uint32_t k3 = x_pow_8n(3 * LaneBytes);
  static constexpr uint32_t k2 = x_pow_8n(2 * LaneBytes);
  static constexpr uint32_t k1 = x_pow_8n(LaneBytes);
};

template <size_t LaneBytes>
uint32_t run_lanes(uint32_t reg, const uint8_t*& data, size_t& length) {
  static_assert(LaneBytes % kSlices == 0);
  while (length >= kLanes * LaneBytes) {
    uint32_t r0 = reg, r1 = 0, r2 = 0, r3 = 0;
    for (size_t at = 0; at < LaneBytes; at += kSlices) {
      r0 = step16(r0, data + at);
      r1 = step16(r1, data + LaneBytes + at);
      r2 = step16(r2, data + 2 * LaneBytes + at);
      r3 = step16(r3, data + 3 * LaneBytes + at);
    }
    using S = LaneShifts<LaneBytes>;
    reg = multiply_mod_p(S::k3, r0) ^ multiply_mod_p(S::k2, r1) ^ multiply_mod_p(S::k1, r2) ^ r3;
    data += kLanes * LaneBytes;
    length -= kLanes * LaneBytes;
  }
  return reg;
}

}  // namespace

uint32_t crc32_update_bytewise(uint32_t reg, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i) reg = (reg >> 8) ^ lookup(0, reg ^ data[i]);
  return reg;
}

uint32_t crc32_update(uint32_t reg, const uint8_t* data, size_t length) {
  reg = run_lanes<16384>(reg, data, length);
  reg = run_lanes<4096>(reg, data, length);
  reg = run_lanes<1024>(reg, data, length);
  while (length >= kSlices) {
    reg = step16(reg, data);
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
