#!/usr/bin/env bash
# The program's main job on this machine: build everything, then run vrexcup
# and vrexpkg on the demo packages built from examples/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
bin=build/default

echo "== vrexcup version"
"$bin/vrexcup" version
echo
echo "== vrexpkg validate on the demo packages"
"$bin/vrexpkg" validate "$bin"/examples/*.pkg

# The built-in demo machine keeps what runs change in a state folder; start
# from the machine as described.
echo
echo "== vrexsim reset: the demo machine as described"
"$bin/vrexsim" reset
pkgs="$bin/examples/*.pkg"
echo
echo "== vrexcup inventory"
"$bin/vrexcup" inventory
echo
echo "== vrexcup -pkgs=$pkgs upgrade (exit status: the result flags)"
status=0
"$bin/vrexcup" "-pkgs=$pkgs" upgrade || status=$?
echo "exit status $status"
echo
echo "== vrexcup inventory: the new versions"
"$bin/vrexcup" inventory
echo
echo "== vrexsim show: the machine after the runs"
"$bin/vrexsim" show
