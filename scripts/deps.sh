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
  # The GPU tests: PoCL runs the OpenCL back end on the CPU.
  pocl-opencl-icd ocl-icd-opencl-dev clinfo
  # The update check: its HTTPS client, loaded at run time, and the tests' certificates.
  libcurl4 ca-certificates openssl
)
# The Windows stage of the tests: the MinGW-w64 cross compiler, Wine to run what it builds,
# and GoogleTest's sources (/usr/src/googletest) to build the test framework with it.
packages+=(g++-mingw-w64-x86-64-posix wine64 googletest)
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
