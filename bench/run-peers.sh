#!/usr/bin/env bash
# Builds the benchmarks in build/bench (Release) and runs each of ours next to
# its peer on the same data.
#   bench/run-peers.sh [repetitions, default 5]
# Figures are throughput in bytes per second; compare the lines side by side
# (the medians; a busy machine shows in the spread between runs).
set -euo pipefail
cd "$(dirname "$0")/.."
repetitions="${1:-5}"
build=build/bench

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVREX_BENCH=ON -DVREX_TESTS=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target vrex_bench_crypto

bench_args=(--benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true)

echo
echo "== CRC-32 and SHA-256: ours, zlib crc32, OpenSSL EVP SHA-256 (one 64 MiB buffer)"
"$build/bench/crypto/vrex_bench_crypto" "${bench_args[@]}"

# The command-line peer: openssl dgst on a 64 MiB file (page cache warm).
echo
echo "== openssl dgst -sha256 on a 64 MiB file (best of $repetitions)"
file="$build/bench-64MiB.bin"
[ -f "$file" ] || head -c $((64 << 20)) /dev/urandom >"$file"
openssl dgst -sha256 "$file" >/dev/null
# Wall time and CPU time (user + system) of each run; the best of each.
best_wall="" best_cpu=""
TIMEFORMAT='%3R %3U %3S'
for _ in $(seq "$repetitions"); do
  read -r wall user sys < <({ time openssl dgst -sha256 "$file" >/dev/null; } 2>&1)
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
  if [ -z "$best_wall" ] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then best_wall=$wall; fi
  if [ -z "$best_cpu" ] || awk -v a="$cpu" -v b="$best_cpu" 'BEGIN { exit !(a < b) }'; then best_cpu=$cpu; fi
done
awk -v w="$best_wall" -v c="$best_cpu" 'BEGIN {
  printf "openssl dgst -sha256: wall %.0f ms (%.2f GiB/s), CPU %.0f ms (%.2f GiB/s); process start and file reading included\n",
         w * 1000, 64 / 1024 / w, c * 1000, 64 / 1024 / c }'
