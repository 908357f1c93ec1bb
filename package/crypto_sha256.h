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
