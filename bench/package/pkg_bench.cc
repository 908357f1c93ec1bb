// pkg_bench.cc: package validation speed.
//   LoadAndValidate: package_load_record + package_validate of a 64 MiB
//     package of 16 signed 4 MiB header images, read from a file, as
//     `vrexpkg validate` does it;
//   Sha256File: OpenSSL's SHA-256 over the same file, read the same way, the
//     work of `openssl dgst -sha256`;
//   ValidateEntries/N: package_validate in memory of a package of N small
//     entries; the cost should grow linearly with N.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/package/pkg_bench_packages.h"
#include "package/package.h"

namespace {

const std::string& large_file() {
  static const std::string path = [] {
    const std::string p = (std::filesystem::temp_directory_path() / "vrex-bench-large.pkg").string();
    if (!pkg_bench::write_file(p, pkg_bench::large_package())) std::abort();
    return p;
  }();
  return path;
}

void BM_LoadAndValidate(benchmark::State& state) {
  const std::string& path = large_file();
  for (auto _ : state) {
    PackageRecord record;
    package_load_record(path.c_str(), &record);
    int32_t index = 0;
    const int32_t rc = package_validate(record.view(), &index);
    if (rc != TSYRETVAL_SUCCESS) state.SkipWithError(status_name(rc));
    benchmark::DoNotOptimize(rc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
}

void BM_Sha256File(benchmark::State& state) {
  const std::string& path = large_file();
  std::vector<unsigned char> chunk(64 * 1024);
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) EVP_DigestUpdate(ctx, chunk.data(), n);
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, digest, &length);
    EVP_MD_CTX_free(ctx);
    std::fclose(f);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
}

void BM_ValidateEntries(benchmark::State& state) {
  const std::vector<uint8_t> bytes = pkg_bench::many_entries_package(static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    const int32_t rc = package_validate(bytes, nullptr);
    if (rc != TSYRETVAL_SUCCESS) state.SkipWithError(status_name(rc));
    benchmark::DoNotOptimize(rc);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_LoadAndValidate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Sha256File)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ValidateEntries)->Arg(4000)->Arg(40000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
