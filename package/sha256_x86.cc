// sha256_x86.cc: the SHA-256 compression function on the x86 SHA extensions
// (SHA256RNDS2, SHA256MSG1, SHA256MSG2), compiled for those instructions
// only in the functions that use them and chosen at run time after a CPUID
// check. On other hosts this file provides no function.
#include "package/crypto_sha256.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace {


#define VREX_SHA_TARGET __attribute__((target("sha,sse4.1")))

// Four rounds G*4 .. G*4+3 on the message words in m[G % 4], with the
// schedule for later rounds computed alongside:
//   from G = 3 to 14, m[(G+1) % 4] is completed with SHA256MSG2;
//   from G = 1 to 12, m[(G-1) % 4] is started with SHA256MSG1.
template <int G>
VREX_SHA_TARGET inline __attribute__((always_inline)) void four_rounds(__m128i& abef, __m128i& cdgh,
                                                                       __m128i m[4]) {
  constexpr int cur = G % 4, next = (G + 1) % 4, prev = (G + 3) % 4;
  __m128i msg = _mm_add_epi32(m[cur], _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256Round + 4 * G)));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);
  if constexpr (G >= 3 && G <= 14) {
    const __m128i carry = _mm_alignr_epi8(m[cur], m[prev], 4);
    m[next] = _mm_add_epi32(m[next], carry);
    m[next] = _mm_sha256msg2_epu32(m[next], m[cur]);
  }
  msg = _mm_shuffle_epi32(msg, 0x0E);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, msg);
  if constexpr (G >= 1 && G <= 12) {
    m[prev] = _mm_sha256msg1_epu32(m[prev], m[cur]);
  }
}

VREX_SHA_TARGET void blocks_sha_extensions(uint32_t state[8], const uint8_t* data, size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0C0D0E0F08090A0BLL, 0x0405060700010203LL);

  // The instructions keep the state as ABEF and CDGH.
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));        // DCBA
  __m128i cdgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));   // HGFE
  tmp = _mm_shuffle_epi32(tmp, 0xB1);                                             // CDAB
  cdgh = _mm_shuffle_epi32(cdgh, 0x1B);                                           // EFGH
  __m128i abef = _mm_alignr_epi8(tmp, cdgh, 8);                                   // ABEF
  cdgh = _mm_blend_epi16(cdgh, tmp, 0xF0);                                        // CDGH

  for (; blocks != 0; --blocks, data += 64) {
    const __m128i abef_saved = abef;
    const __m128i cdgh_saved = cdgh;
    const __m128i* words = reinterpret_cast<const __m128i*>(data);
    __m128i m[4] = {_mm_shuffle_epi8(_mm_loadu_si128(words), byte_swap),
                    _mm_shuffle_epi8(_mm_loadu_si128(words + 1), byte_swap),
                    _mm_shuffle_epi8(_mm_loadu_si128(words + 2), byte_swap),
                    _mm_shuffle_epi8(_mm_loadu_si128(words + 3), byte_swap)};
    four_rounds<0>(abef, cdgh, m);
    four_rounds<1>(abef, cdgh, m);
    four_rounds<2>(abef, cdgh, m);
    four_rounds<3>(abef, cdgh, m);
    four_rounds<4>(abef, cdgh, m);
    four_rounds<5>(abef, cdgh, m);
    four_rounds<6>(abef, cdgh, m);
    four_rounds<7>(abef, cdgh, m);
    four_rounds<8>(abef, cdgh, m);
    four_rounds<9>(abef, cdgh, m);
    four_rounds<10>(abef, cdgh, m);
    four_rounds<11>(abef, cdgh, m);
    four_rounds<12>(abef, cdgh, m);
    four_rounds<13>(abef, cdgh, m);
    four_rounds<14>(abef, cdgh, m);
    four_rounds<15>(abef, cdgh, m);
    abef = _mm_add_epi32(abef, abef_saved);
    cdgh = _mm_add_epi32(cdgh, cdgh_saved);
  }

  tmp = _mm_shuffle_epi32(abef, 0x1B);         // FEBA
  cdgh = _mm_shuffle_epi32(cdgh, 0xB1);        // DCHG
  abef = _mm_blend_epi16(tmp, cdgh, 0xF0);     // DCBA
  cdgh = _mm_alignr_epi8(cdgh, tmp, 8);        // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abef);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), cdgh);
}

}  // namespace

bool sha256_cpu_has_sha_extensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3 = (ecx & bit_SSSE3) != 0;
  const bool sse41 = (ecx & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  const bool sha = (ebx & bit_SHA) != 0;
  return ssse3 && sse41 && sha;
}

const Sha256BlockFunction sha256_blocks_sha_extensions = blocks_sha_extensions;

#else

bool sha256_cpu_has_sha_extensions() { return false; }

const Sha256BlockFunction sha256_blocks_sha_extensions = nullptr;

#endif
