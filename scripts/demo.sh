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
