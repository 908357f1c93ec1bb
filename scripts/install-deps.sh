#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
# Run as root (or with sudo available). Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  libtomcrypt-dev libtommath-dev nlohmann-json3-dev
  googletest libgtest-dev libbenchmark-dev zlib1g-dev
  libxml2-utils clang libclang-rt-14-dev openssl libssl-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
