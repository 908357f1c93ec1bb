#!/usr/bin/env bash
# Whole runs of vrexcup on one simulated machine:
#  - an inventory while an upgrade runs: both finish with valid reports and
#    the machine state stays whole;
#  - an upgrade killed at points spread over its driver calls: the next
#    upgrade finishes, the adapter runs the new version, and nothing else
#    changed.
# Usage: run_reliability.sh VREXCUP VREXPKG VREXSIM SCHEMA MANIFEST
set -u
vrexcup=$1 vrexpkg=$2 vrexsim=$3 schema=$4 manifest=$5
root=$(mktemp -d "${TMPDIR:-/tmp}/vrex-reliability-XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

write_machine() {  # $1: folder
  mkdir -p "$1/work"
  cat > "$1/machine.json" <<'JSON'
{"time": "real",
 "adapters": [
  {"description": "Tessaly Vantera-E 2x25G SFP28 Ethernet Adapter",
   "pci": {"vendor": "0xE7A5", "device": "0x7A81", "subsystem": "0x0211", "revision": "0x11"},
   "location": {"segment": 0, "bus": 59, "device": 0, "function": 0},
   "firmware": {"reset_required": false,
                "package_log": ["2025-06-01 08:00:00\tVantera-E firmware\t22.1.6.0\t2025-05-30 12:00"]}},
  {"description": "Tessaly Vantera-E 2x25G SFP28 Ethernet Adapter",
   "friendly_name": "Tessaly Vantera-E 2x25G SFP28 Ethernet Adapter #2",
   "pci": {"vendor": "0xE7A5", "device": "0x7A81", "subsystem": "0x0211", "revision": "0x11"},
   "location": {"segment": 0, "bus": 59, "device": 0, "function": 1},
   "firmware": {"reset_required": false,
                "package_log": ["2025-06-01 08:00:00\tVantera-E firmware\t22.1.6.0\t2025-05-30 12:00"]}}]}
JSON
  "$vrexpkg" build "$manifest" -o "$1/work/a.pkg" >/dev/null || fail "vrexpkg build"
}

# The adapter (function 0, the one that installs) reports the new version,
# and both functions run, or (with $2) every stopped function was already
# stopped by the kill (a run killed between unbind and rebind leaves that
# function stopped until a restart; the next run changes nothing else).
check_upgraded() {  # $1: folder [$2: the state shown right after the kill]
  (cd "$1/work" && VREX_SIM_MACHINE="$1/machine.json" "$vrexcup" inventory > inv.xml) ||
    fail "inventory after the runs"
  xmllint --noout --schema "$schema" "$1/work/inv.xml" 2>/dev/null || fail "inventory not valid"
  grep -A1 'function="0"' "$1/work/inv.xml" | grep -q 'version="22.1.7.0"' ||
    fail "function 0 not at 22.1.7.0: $(cat "$1/work/inv.xml")"
  "$vrexsim" show "$1/machine.json" > "$1/show.txt" || fail "vrexsim show"
  if [ $# -lt 2 ]; then
    [ "$(grep -c 'device started' "$1/show.txt")" = 2 ] || fail "a function left stopped: $(head -16 "$1/show.txt")"
  else
    [ "$(grep -c 'device started' "$1/show.txt")" -ge "$(grep -c 'device started' "$2")" ] ||
      fail "a function stopped by the run after a kill: $(head -16 "$1/show.txt")"
  fi
}

# 1. An inventory during an upgrade. With real time the upgrade spends
# seconds in the unbind and rebind, so the inventory meets it midway.
m="$root/concurrent"
write_machine "$m"
(cd "$m/work" && VREX_SIM_MACHINE="$m/machine.json" "$vrexcup" upgrade > up.xml; echo $? > up.rc) &
sleep 1
(cd "$m/work" && VREX_SIM_MACHINE="$m/machine.json" "$vrexcup" inventory > during.xml; echo $? > during.rc)
wait
[ "$(cat "$m/work/up.rc")" = 0 ] || fail "upgrade beside an inventory: exit $(cat "$m/work/up.rc")"
[ "$(cat "$m/work/during.rc")" = 0 ] || fail "inventory beside an upgrade: exit $(cat "$m/work/during.rc")"
for f in up during; do
  xmllint --noout --schema "$schema" "$m/work/$f.xml" 2>/dev/null || fail "$f.xml not valid"
done
grep -q 'Update success' "$m/work/up.xml" || fail "upgrade beside an inventory: $(cat "$m/work/up.xml")"
check_upgraded "$m"

# 2. Kills spread over an upgrade: count its recorded calls once, then kill
# fresh runs when the call log reaches each chosen point.
m="$root/count"
write_machine "$m"
(cd "$m/work" && VREX_SIM_MACHINE="$m/machine.json" VREX_SIM_CALL_LOG="$m/calls.log" "$vrexcup" upgrade > /dev/null)
total=$(grep -c '^wmi exec_method' "$m/calls.log")
[ "$total" -gt 0 ] || fail "no WMI calls recorded"
step=$(( total / 8 )); [ "$step" -ge 1 ] || step=1
for (( point = 1; point <= total; point += step )); do
  m="$root/kill-$point"
  write_machine "$m"
  (cd "$m/work" && VREX_SIM_MACHINE="$m/machine.json" VREX_SIM_CALL_LOG="$m/calls.log" \
     exec "$vrexcup" upgrade > /dev/null 2>&1) &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    n=$(grep -c '^wmi exec_method' "$m/calls.log" 2>/dev/null || true)
    if [ "${n:-0}" -ge "$point" ]; then kill -9 "$pid" 2>/dev/null; break; fi
    sleep 0.05
  done
  wait "$pid" 2>/dev/null
  "$vrexsim" show "$m/machine.json" > "$m/after-kill.txt"
  (cd "$m/work" && VREX_SIM_MACHINE="$m/machine.json" "$vrexcup" upgrade > next.xml; echo $? > next.rc)
  [ "$(cat "$m/work/next.rc")" = 0 ] || fail "upgrade after a kill at call $point: exit $(cat "$m/work/next.rc")"
  xmllint --noout --schema "$schema" "$m/work/next.xml" 2>/dev/null || fail "report after a kill at call $point not valid"
  check_upgraded "$m" "$m/after-kill.txt"
done
echo "ok: concurrent runs and kills at $(( (total + step - 1) / step )) points of $total WMI calls"
