#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need.
# Safe to run again: apt-get only installs what is missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ make pkg-config binutils
  libgtest-dev libgmock-dev libbenchmark-dev
  liblzma-dev
  clang libclang-rt-14-dev clang-format
  python3
  locales
  libopencolorio-dev
  libpng-dev zlib1g-dev nettle-dev
  # The update check: its HTTPS client, loaded at run time, and the tests' certificates.
  libcurl4 ca-certificates openssl
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
