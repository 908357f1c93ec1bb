// crypto_crc32.h: CRC-32 helpers for code that checks large ranges without
// extra passes. Internal to the package subsystem.
//
// Terms used below:
//   the standard CRC of bytes B is crc32(0xFFFFFFFF, B)   ("123456789" gives 0xCBF43926);
//   the register is the value inside the computation before the final
//   complement; a standard CRC starts with the register 0xFFFFFFFF.
//
// Chaining, when the bytes arrive in pieces A, B, C (all three agree):
//   crc32(0xFFFFFFFF, A||B||C)
//   ~crc32_update(crc32_update(crc32_update(0xFFFFFFFF, A), B), C)
//   crc32(~crc32(0xFFFFFFFF, A||B), C)          (crc32 of the next piece, seeded
//                                               with the complement of the CRC so far)
//
// Combining, when the CRCs of two adjacent ranges are known separately:
//   crc32_combine(crc32(0xFFFFFFFF, A), crc32(0xFFFFFFFF, B), length of B)
//   == crc32(0xFFFFFFFF, A||B)
// It costs O(log length) and never touches the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Advances the CRC register over data[0..length) without any complement.
// Start a standard CRC with register 0xFFFFFFFF and complement the result.
uint32_t crc32_update(uint32_t reg, const uint8_t* data, size_t length);

// The standard CRC of A||B from the standard CRCs of A and of B and B's length.
uint32_t crc32_combine(uint32_t crc_a, uint32_t crc_b, uint64_t length_b);

// The byte-at-a-time reference (one table lookup per byte). Same results as
// crc32_update; kept for tests and for the benchmark's comparison.
uint32_t crc32_update_bytewise(uint32_t reg, const uint8_t* data, size_t length);
