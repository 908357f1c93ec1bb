#!/usr/bin/env bash
# Whole runs of vrexcup on the simulated machine (virtual time, so the
# mandated waits of the reset sequence cost nothing): process start
# (vrexcup version), an inventory of 8 adapters, and an upgrade of 8
# adapters with the full reset sequence each. Prints the median of N runs.
# Usage: whole_runs.sh BUILD_DIR [N]
set -eu
build=$(cd "$1" && pwd) runs=${2:-11}
src=$(cd "$(dirname "$0")/../.." && pwd)
root=$(mktemp -d "${TMPDIR:-/tmp}/vrex-bench-XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/work"
{
  echo '{"time": "virtual", "adapters": ['
  for i in 0 1 2 3 4 5 6 7; do
    [ "$i" = 0 ] || echo ','
    cat <<JSON
 {"description": "Tessaly Vantera-E 2x25G SFP28 Ethernet Adapter",
  "friendly_name": "Tessaly Vantera-E 2x25G SFP28 Ethernet Adapter #$((i + 1))",
  "pci": {"vendor": "0xE7A5", "device": "0x7A81", "subsystem": "0x0211", "revision": "0x11"},
  "location": {"segment": 0, "bus": $((60 + i)), "device": 0, "function": 0},
  "mac": "02:1A:2B:3C:4D:$((10 + i))",
  "firmware": {"reset_required": false,
               "package_log": ["2025-06-01 08:00:00\tVantera-E firmware\t22.1.6.0\t2025-05-30 12:00"]}}
JSON
  done
  echo ']}'
} > "$root/machine.json"
"$build/vrexpkg" build "$src/examples/demo-later-family.json" -o "$root/work/a.pkg" >/dev/null
export VREX_SIM_MACHINE="$root/machine.json"
cd "$root/work"

median_ms() {  # command...
  local times=() t0 t1
  for (( k = 0; k < runs; k++ )); do
    "$build/vrexsim" reset "$VREX_SIM_MACHINE" >/dev/null
    t0=$(date +%s%N); "$@" >/dev/null || true; t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f ms\n", a[int((NR+1)/2)]/1000}'
}
echo "vrexcup version:               $(median_ms "$build/vrexcup" version)"
echo "vrexcup inventory (8 adapters): $(median_ms "$build/vrexcup" inventory)"
echo "vrexcup upgrade (8 adapters):   $(median_ms "$build/vrexcup" upgrade)"
"$build/vrexsim" reset "$VREX_SIM_MACHINE" >/dev/null
echo "installs that succeeded in one upgrade: $("$build/vrexcup" upgrade | grep -c "Update success<")"
