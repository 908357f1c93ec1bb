#!/usr/bin/env bash
# Times package validation next to `openssl dgst -sha256` on the same 64 MiB
# file, the cost of 4,000 and 40,000 entries, and a validation's peak memory.
#   bench/package/compare.sh [build dir, default build/bench] [runs, default 7]
# The build dir needs pkg_bench_tool (target of bench/package). Each figure is
# the best of the runs, as wall time and as CPU time (user + system); on a
# busy machine the CPU time is the steadier one.
set -euo pipefail
build="${1:-build/bench}"
runs="${2:-7}"
tool="$build/bench/package/pkg_bench_tool"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$tool" make-large "$work/large.pkg"
"$tool" make-entries 4000 "$work/e4000.pkg"
"$tool" make-entries 40000 "$work/e40000.pkg"
cat "$work"/*.pkg >/dev/null  # warm the page cache

# Prints "wall_ms cpu_ms", the best of $runs runs of the command.
best() {
  local best_wall="" best_cpu="" wall user sys cpu
  local TIMEFORMAT='%3R %3U %3S'
  for _ in $(seq "$runs"); do
    read -r wall user sys < <({ time "$@" >/dev/null; } 2>&1)
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
    if [ -z "$best_wall" ] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then best_wall=$wall; fi
    if [ -z "$best_cpu" ] || awk -v a="$cpu" -v b="$best_cpu" 'BEGIN { exit !(a < b) }'; then best_cpu=$cpu; fi
  done
  awk -v w="$best_wall" -v c="$best_cpu" 'BEGIN { printf "%.0f %.0f\n", w * 1000, c * 1000 }'
}

read -r v_wall v_cpu < <(best "$tool" validate "$work/large.pkg")
read -r d_wall d_cpu < <(best openssl dgst -sha256 "$work/large.pkg")
read -r e4_wall e4_cpu < <(best "$tool" validate "$work/e4000.pkg")
read -r e40_wall e40_cpu < <(best "$tool" validate "$work/e40000.pkg")
rss=$(/usr/bin/time -f %M "$tool" validate "$work/large.pkg" 2>&1 >/dev/null | tail -1)
size_kib=$(( $(stat -c %s "$work/large.pkg") / 1024 ))

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }'; }
echo "64 MiB package of 16 signed 4 MiB images, best of $runs (wall / CPU):"
echo "  load record + validate:  $v_wall ms / $v_cpu ms"
echo "  openssl dgst -sha256:    $d_wall ms / $d_cpu ms"
echo "  ratio:                   $(ratio "$v_wall" "$d_wall") / $(ratio "$v_cpu" "$d_cpu")"
echo "  peak memory:             $rss KiB for a $size_kib KiB file"
echo "Entries, whole process, best of $runs (wall / CPU):"
echo "  4,000 entries:           $e4_wall ms / $e4_cpu ms"
echo "  40,000 entries:          $e40_wall ms / $e40_cpu ms"
echo "  ratio:                   $(ratio "$e40_wall" "$e4_wall") / $(ratio "$e40_cpu" "$e4_cpu")"
