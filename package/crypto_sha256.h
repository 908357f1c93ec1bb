// crypto_sha256.h: the SHA-256 block functions and the choice between them.
// Internal to the package subsystem (tests and benchmarks use it to run both
// implementations).
#pragma once

#include <cstddef>
#include <cstdint>

// Processes blocks 64-byte blocks of data into state (the eight working words
// of FIPS 180-4, host order).
using Sha256BlockFunction = void (*)(uint32_t state[8], const uint8_t* data, size_t blocks);

void sha256_blocks_portable(uint32_t state[8], const uint8_t* data, size_t blocks);

// True when this build has the x86 SHA-extension path and the CPU supports it
// (SHA, SSSE3 and SSE4.1).
bool sha256_cpu_has_sha_extensions();

// The SHA-extension block function; callers check sha256_cpu_has_sha_extensions()
// first. Null on hosts without the x86 path.
extern const Sha256BlockFunction sha256_blocks_sha_extensions;

enum class Sha256Engine {
  kAuto,      // the SHA extensions when the CPU has them, else portable
  kPortable,  // always the portable code
};

// Selects the block function that sha256_update and sha256_final use from now
// on, for every thread. Returns the previous setting. The default is kAuto.
Sha256Engine sha256_select_engine(Sha256Engine engine);

// True when sha256_update currently runs the SHA-extension code.
bool sha256_using_sha_extensions();

// The 64 round constants of SHA-256 (FIPS 180-4, 4.2.2), shared by both
// block functions; 16-byte aligned for the vector loads.
alignas(16) inline constexpr uint32_t kSha256Round[64] = {
    0x428A2F98u, 0x71374491u, 0xB5C0FBCFu, 0xE9B5DBA5u, 0x3956C25Bu, 0x59F111F1u, 0x923F82A4u,
    0xAB1C5ED5u, 0xD807AA98u, 0x12835B01u, 0x243185BEu, 0x550C7DC3u, 0x72BE5D74u, 0x80DEB1FEu,
    0x9BDC06A7u, 0xC19BF174u, 0xE49B69C1u, 0xEFBE4786u, 0x0FC19DC6u, 0x240CA1CCu, 0x2DE92C6Fu,
    0x4A7484AAu, 0x5CB0A9DCu, 0x76F988DAu, 0x983E5152u, 0xA831C66Du, 0xB00327C8u, 0xBF597FC7u,
    0xC6E00BF3u, 0xD5A79147u, 0x06CA6351u, 0x14292967u, 0x27B70A85u, 0x2E1B2138u, 0x4D2C6DFCu,
    0x53380D13u, 0x650A7354u, 0x766A0ABBu, 0x81C2C92Eu, 0x92722C85u, 0xA2BFE8A1u, 0xA81A664Bu,
    0xC24B8B70u, 0xC76C51A3u, 0xD192E819u, 0xD6990624u, 0xF40E3585u, 0x106AA070u, 0x19A4C116u,
    0x1E376C08u, 0x2748774Cu, 0x34B0BCB5u, 0x391C0CB3u, 0x4ED8AA4Au, 0x5B9CCA4Fu, 0x682E6FF3u,
    0x748F82EEu, 0x78A5636Fu, 0x84C87814u, 0x8CC70208u, 0x90BEFFFAu, 0xA4506CEBu, 0xBEF9A3F7u,
    0xC67178F2u};
