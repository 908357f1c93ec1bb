#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
dir=build/fuzz
status=0
while IFS=$'\t' read -r name corpus; do
  [ -n "$name" ] || continue
  work="$dir/fuzz-work/$name"
  mkdir -p "$work/corpus" "$work/artifacts"
  dirs=("$work/corpus")
  IFS=';' read -r -a seeds <<<"$corpus"
  for s in "${seeds[@]}"; do [ -d "$s" ] && dirs+=("$s"); done
  echo "== fuzzing $name for ${seconds}s"
  if ! "$dir/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" "${dirs[@]}" >"$work/log" 2>&1; then
    echo "FAILED: $name (log and crashing input in $work)"
    tail -40 "$work/log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$work/log" | tail -1 || true
  fi
done <"$dir/fuzzers.txt"
exit $status
