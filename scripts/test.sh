#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   scripts/test.sh            the default build (build/default)
#   scripts/test.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer (build/asan)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
[ "${CI:-}" = "true" ] && [ "$preset" = "default" ] && preset=ci

scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
