// crypto_bench.cc: CRC-32 and SHA-256 throughput next to zlib and OpenSSL on
// the same 64 MiB buffer, and the time of one signature check.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "package/crypto_crc32.h"
#include "package/crypto_sha256.h"
#include "package/crypto_signature.h"
#include "package/package.h"
#include "tools/signing/signing.h"

namespace {

constexpr size_t kBufferBytes = size_t{64} << 20;

// One buffer for every benchmark, filled once with pseudo-random bytes.
const std::vector<uint8_t>& buffer() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> v(kBufferBytes);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (auto& b : v) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      b = static_cast<uint8_t>(x);
    }
    return v;
  }();
  return data;
}

void report(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_Sha256_Ours(benchmark::State& state) {
  const auto& data = buffer();
  uint8_t digest[32];
  state.SetLabel(sha256_using_sha_extensions() ? "SHA extensions" : "portable");
  for (auto _ : state) {
    sha256(data.data(), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  report(state, data.size());
}

void BM_Sha256_OursPortable(benchmark::State& state) {
  const auto& data = buffer();
  uint8_t digest[32];
  const Sha256Engine previous = sha256_select_engine(Sha256Engine::kPortable);
  for (auto _ : state) {
    sha256(data.data(), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  sha256_select_engine(previous);
  report(state, data.size());
}

void BM_Sha256_OpenSslEvp(benchmark::State& state) {
  const auto& data = buffer();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    EVP_DigestUpdate(ctx, data.data(), data.size());
    EVP_DigestFinal_ex(ctx, digest, &length);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_CTX_free(ctx);
  report(state, data.size());
}

void BM_Crc32_Ours(benchmark::State& state) {
  const auto& data = buffer();
  for (auto _ : state) {
    uint32_t crc = crc32(0xFFFFFFFFu, data.data(), data.size());
    benchmark::DoNotOptimize(crc);
  }
  report(state, data.size());
}

void BM_Crc32_Zlib(benchmark::State& state) {
  const auto& data = buffer();
  for (auto _ : state) {
    // zlib takes at most 4 GiB per call as uInt; 64 MiB fits.
    uLong crc = ::crc32(0L, data.data(), static_cast<uInt>(data.size()));
    benchmark::DoNotOptimize(crc);
  }
  report(state, data.size());
}

void BM_Crc32_OursBytewise(benchmark::State& state) {
  const auto& data = buffer();
  for (auto _ : state) {
    uint32_t crc = ~crc32_update_bytewise(0xFFFFFFFFu, data.data(), data.size());
    benchmark::DoNotOptimize(crc);
  }
  report(state, data.size());
}

// One signature check of a signed range of state.range(0) bytes with the
// development key: hashing plus the two public-key exponentiations.
void BM_SignatureVerify(benchmark::State& state) {
  SigningKey key;
  std::string error;
  if (!signing_load_private_key(std::string(VREX_SOURCE_DIR) + "/keys/development.key.pem", &key,
                                &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  uint8_t modulus[256];
  signing_public_numbers(key, modulus, nullptr);
  static const uint8_t kExponent[3] = {0x01, 0x00, 0x01};
  const size_t length = static_cast<size_t>(state.range(0));
  const std::span<const uint8_t> image(buffer().data(), length);
  uint8_t sig[256];
  signing_sign_sha256(key, image, sig);
  for (auto _ : state) {
    int32_t status = signature_verify_with_key(image, sig, {modulus, kExponent});
    benchmark::DoNotOptimize(status);
  }
  report(state, length);
}

BENCHMARK(BM_Sha256_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha256_OpenSslEvp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha256_OursPortable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_Zlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_OursBytewise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SignatureVerify)->Arg(0)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
